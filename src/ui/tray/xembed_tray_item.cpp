#include "xembed_tray_item.h"

#include "label_icon.h"

#include <QCursor>
#include <QIcon>
#include <QSystemTrayIcon>

namespace corvel {

XEmbedTrayItem::XEmbedTrayItem(QString label, QObject* parent)
    : QObject(parent), label_(std::move(label))
{}

XEmbedTrayItem::~XEmbedTrayItem() = default;

void XEmbedTrayItem::ensureIcon()
{
    if (icon_)
        return;
    // Made on first use: the platform decides once, when the icon is made, whether it goes
    // over D-Bus or XEmbed, and we only come here when there is no watcher.
    icon_ = std::make_unique<QSystemTrayIcon>();
    icon_->setIcon(QIcon(new LabelIconEngine(label_, scheme_)));
    icon_->setToolTip(toolTip());
    connect(icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger)
                    return;
                QRect slot = icon_->geometry();
                if (!slot.isValid())
                    slot = QRect(QCursor::pos(), QSize(1, 1));
                emit clicked(slot);
            });
}

void XEmbedTrayItem::show()
{
    ensureIcon();
    icon_->show();
}

void XEmbedTrayItem::hide()
{
    if (icon_)
        icon_->hide();
}

bool XEmbedTrayItem::isVisible() const
{
    return icon_ && icon_->isVisible();
}

QString XEmbedTrayItem::toolTip() const
{
    if (!toolTipShown_)
        return {};
    return details_.isEmpty() ? label_ : label_ + QLatin1Char('\n') + details_;
}

void XEmbedTrayItem::setLabel(const QString& label, const QString& details)
{
    if (label == label_ && details == details_)
        return;
    const bool newLabel = label != label_;
    label_ = label;
    details_ = details;
    if (!icon_)
        return;
    if (newLabel)
        icon_->setIcon(QIcon(new LabelIconEngine(label_, scheme_)));
    icon_->setToolTip(toolTip());
}

void XEmbedTrayItem::setToolTipShown(bool shown)
{
    toolTipShown_ = shown;
    if (icon_)
        icon_->setToolTip(toolTip());
}

void XEmbedTrayItem::setColorScheme(ColorScheme scheme)
{
    if (scheme == scheme_)
        return;
    scheme_ = scheme;
    if (icon_)
        icon_->setIcon(QIcon(new LabelIconEngine(label_, scheme_)));
}

} // namespace corvel
