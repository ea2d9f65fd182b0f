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
    icon_->setToolTip(label_);
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

void XEmbedTrayItem::setLabel(const QString& label)
{
    if (label == label_)
        return;
    label_ = label;
    if (!icon_)
        return;
    icon_->setIcon(QIcon(new LabelIconEngine(label_, scheme_)));
    icon_->setToolTip(label_);
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
