#include "action_overlay.h"

#include "panel_style.h"

#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace corvel {
namespace {

constexpr int cardInset = 14;
constexpr int cardRadius = 8;
constexpr int cardMargin = 20;

QString refusalText(ActionRunner::Refusal refusal)
{
    switch (refusal) {
    case ActionRunner::Refusal::system:
        return ActionOverlay::tr("Not an application");
    case ActionRunner::Refusal::own:
        return ActionOverlay::tr("This is Corvel: use Quit below");
    case ActionRunner::Refusal::otherUser:
        return ActionOverlay::tr("Runs as another user");
    case ActionRunner::Refusal::ended:
        return ActionOverlay::tr("No longer running");
    case ActionRunner::Refusal::unheld:
        return ActionOverlay::tr("Too many processes to act on");
    case ActionRunner::Refusal::none:
        break;
    }
    return {};
}

} // namespace

ActionOverlay::ActionOverlay(WindowCloser* closer, UnitControl* units, QWidget* parent)
    : QWidget(parent), runner_(new ActionRunner(closer, units, this)), card_(new QWidget(this)),
      text_(new QLabel(card_)), note_(new QLabel(card_)), items_(new QVBoxLayout),
      linger_(new QTimer(this))
{
    setObjectName(QStringLiteral("actions"));
    hide();
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(cardMargin, cardMargin, cardMargin, cardMargin);
    outer->addStretch(1);
    outer->addWidget(card_);
    outer->addStretch(1);
    auto* column = new QVBoxLayout(card_);
    column->setContentsMargins(cardInset, cardInset, cardInset, cardInset);
    note_->setObjectName(QStringLiteral("note"));
    text_->setWordWrap(true);
    note_->setWordWrap(true);
    column->addWidget(text_);
    column->addLayout(items_);
    column->addWidget(note_);

    linger_->setSingleShot(true);
    connect(linger_, &QTimer::timeout, this, &ActionOverlay::dismiss);
    connect(runner_, &ActionRunner::finished, this, &ActionOverlay::report);
    parent->installEventFilter(this);
}

QString ActionOverlay::message() const
{
    return text_->text();
}

void ActionOverlay::open(const ActionSubject& subject)
{
    linger_->stop();
    setGeometry(parentWidget()->rect());
    show();
    raise();
    showMenu(runner_->open(subject));
    emit openChanged(true);
}

void ActionOverlay::dismiss()
{
    linger_->stop();
    runner_->release();
    const bool wasOpen = isVisible();
    hide();
    if (parentWidget()->isVisible())
        parentWidget()->setFocus(Qt::PopupFocusReason);
    if (wasOpen)
        emit openChanged(false);
}

void ActionOverlay::present(const QString& text, std::vector<Item> items, Shape shape,
                            const QString& note)
{
    while (QLayoutItem* old = items_->takeAt(0)) {
        if (old->widget()) {
            old->widget()->hide();
            old->widget()->deleteLater();
        }
        delete old;
    }
    items_->setDirection(shape == Shape::menu ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
    if (shape == Shape::message)
        items_->addStretch(1);
    QFont title = font();
    title.setBold(shape == Shape::menu);
    text_->setFont(title);
    text_->setText(text);
    text_->setVisible(!text.isEmpty());
    QPalette dimmed = palette();
    dimmed.setColor(QPalette::WindowText, secondaryColor(palette()));
    note_->setPalette(dimmed);
    note_->setFont(captionFont(font()));
    note_->setText(note);
    note_->setVisible(!note.isEmpty());
    // The first item has the focus; in a question that is the harmless one.
    QPushButton* first = nullptr;
    for (Item& item : items) {
        // A name's "&" is no mnemonic.
        auto* button = new QPushButton(QString(item.text).replace(QLatin1Char('&'), "&&"), card_);
        button->setEnabled(item.enabled);
        connect(button, &QPushButton::clicked, this, std::move(item.act));
        items_->addWidget(button);
        button->show(); // now, not from the event loop: focus and keys reach it at once
        if (!first && item.enabled)
            first = button;
    }
    if (first && isVisible())
        first->setFocus(Qt::PopupFocusReason);
    else if (isVisible())
        setFocus(Qt::PopupFocusReason);
}

void ActionOverlay::showMenu(ActionRunner::Refusal refusal)
{
    const QString name = QString::fromStdString(runner_->subject().name);
    const bool allowed = refusal == ActionRunner::Refusal::none;
    present(name,
            {{tr("Quit %1").arg(name), [this] { quit(); }, allowed},
             {tr("Force Quit %1").arg(name), [this] { confirmForce(); }, allowed},
             {tr("Copy process IDs"), [this] { copyPids(); }, !runner_->subject().pids.empty()}},
            Shape::menu, refusalText(refusal));
}

void ActionOverlay::quit()
{
    const QString name = QString::fromStdString(runner_->subject().name);
    if (runner_->requestClose())
        present(tr("Asked %1 to close its windows.").arg(name), {});
    else
        confirmStop();
}

void ActionOverlay::confirmStop()
{
    const QString name = QString::fromStdString(runner_->subject().name);
    present(tr("%1 has no window that can be asked to close. Quit it anyway? Unsaved work may be "
               "lost.")
                .arg(name),
            {{tr("Cancel"), [this] { dismiss(); }}, {tr("Quit"), [this, name] {
                                                         present(tr("Quitting %1…").arg(name), {});
                                                         runner_->stop();
                                                     }}});
}

void ActionOverlay::confirmForce()
{
    const QString name = QString::fromStdString(runner_->subject().name);
    const auto count = runner_->target().processes().size();
    const QString question =
        count == 1 ? tr("Force quit %1? Unsaved work will be lost.").arg(name)
                   : tr("Force quit %1 and its %2 processes? Unsaved work will be lost.")
                         .arg(name)
                         .arg(count);
    linger_->stop();
    present(question,
            {{tr("Cancel"), [this] { dismiss(); }}, {tr("Force Quit"), [this, name] {
                                                         present(tr("Quitting %1…").arg(name), {});
                                                         runner_->forceStop();
                                                     }}});
}

void ActionOverlay::report(ActionRunner::Outcome outcome, int remaining)
{
    const QString name = QString::fromStdString(runner_->subject().name);
    switch (outcome) {
    case ActionRunner::Outcome::quit:
        present(tr("%1 has quit.").arg(name), {});
        break;
    case ActionRunner::Outcome::notPermitted:
        present(tr("Not permitted to quit %1.").arg(name), {});
        break;
    case ActionRunner::Outcome::stillRunning:
        present(
            remaining == 1
                ? tr("%1 is still running: 1 process has not ended.").arg(name)
                : tr("%1 is still running: %2 processes have not ended.").arg(name).arg(remaining),
            {{tr("Force Quit %1").arg(name), [this] { confirmForce(); }}});
        linger_->start(offerMs);
        return;
    }
    linger_->start(outcomeMs);
}

void ActionOverlay::copyPids()
{
    QStringList pids;
    for (std::int32_t pid : runner_->subject().pids)
        pids << QString::number(pid);
    QGuiApplication::clipboard()->setText(pids.join(QLatin1Char(' ')));
    dismiss();
}

void ActionOverlay::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        dismiss();
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
        focusNextPrevChild(event->key() == Qt::Key_Down);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        return;
    default:
        // Nothing under the overlay reacts to keys while it is open.
        event->accept();
    }
}

bool ActionOverlay::focusNextPrevChild(bool next)
{
    QList<QPushButton*> items;
    for (auto* button : card_->findChildren<QPushButton*>())
        if (button->isVisible() && button->isEnabled())
            items << button;
    if (items.isEmpty())
        return false;
    const auto count = items.size();
    const auto at = items.indexOf(qobject_cast<QPushButton*>(focusWidget()));
    items[((at < 0 ? 0 : at + (next ? 1 : -1)) % count + count) % count]->setFocus(
        next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void ActionOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor veil = palette().color(QPalette::Window);
    veil.setAlpha(200);
    painter.fillRect(rect(), veil);
    QColor edge = palette().color(QPalette::WindowText);
    edge.setAlpha(60);
    painter.setPen(edge);
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(QRectF(card_->geometry()).adjusted(0.5, 0.5, -0.5, -0.5), cardRadius,
                            cardRadius);
}

bool ActionOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    if (watched == parentWidget() && event->type() == QEvent::Hide)
        dismiss();
    return QWidget::eventFilter(watched, event);
}

} // namespace corvel
