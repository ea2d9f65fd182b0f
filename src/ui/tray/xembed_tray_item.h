#pragma once

#include "color_scheme.h"

#include <memory>

#include <QObject>
#include <QRect>
#include <QString>

class QSystemTrayIcon;

namespace corvel {

// Our item in an XEmbed system tray (tint2, trayer, older panels), for sessions without a
// StatusNotifierWatcher: the label drawn in the tray's square slot, the exact label and the
// busiest applications as the tooltip, and a click reported with the slot's place on the screen.
class XEmbedTrayItem final : public QObject
{
    Q_OBJECT

public:
    explicit XEmbedTrayItem(QString label, QObject* parent = nullptr);
    ~XEmbedTrayItem() override;

    void show();
    void hide();
    bool isVisible() const;

    const QString& label() const { return label_; }
    // Redraws the icon when the label changes and the tooltip (the label over `details`) when
    // either does.
    void setLabel(const QString& label, const QString& details);
    // No tooltip while the panel is open.
    void setToolTipShown(bool shown);
    // Redraws the icon to stand out on a bar of the desktop's colours.
    void setColorScheme(ColorScheme scheme);

signals:
    // A plain click on the icon; `slot` is its area in global coordinates.
    void clicked(QRect slot);

private:
    void ensureIcon();
    QString toolTip() const;

    QString label_;
    QString details_;
    bool toolTipShown_ = true;
    ColorScheme scheme_ = ColorScheme::light;
    std::unique_ptr<QSystemTrayIcon> icon_;
};

} // namespace corvel
