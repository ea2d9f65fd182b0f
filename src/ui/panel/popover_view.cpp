#include "popover_view.h"

#include "action_overlay.h"
#include "click_catcher.h"
#include "formatting.h"
#include "monitor.h"
#include "panel_style.h"
#include "placement.h"
#include "row_delegate.h"
#include "row_layout.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

namespace corvel {
namespace {

constexpr int headerInset = rowmetrics::inset;
constexpr int headerVertical = 6;
constexpr int footerInset = 10;
constexpr int listPadding = 4;
// Qt's default gap between layout items differs by style; the rows' columns are 8 apart and
// the column labels above them must line up.
constexpr int headerSpacing = rowmetrics::gap;
// A second click on the item first closes the popup (a press outside it), then reaches the
// item; a toggle this soon after such a close is that same click.
constexpr qint64 sameClickMs = 300;

// Under Xwayland an X grab sees no clicks on the compositor's own surfaces, and GNOME Shell gives
// an override-redirect window no keyboard. There the panel is a managed, undecorated tool window
// (no window-list entry) that takes the keyboard and closes when it loses it.
bool underXwayland()
{
    return QGuiApplication::platformName() == QLatin1String("xcb") &&
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

Qt::WindowFlags panelFlags()
{
    if (underXwayland())
        return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    return Qt::Popup | Qt::FramelessWindowHint;
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QString qtext(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

PopoverView::PopoverView(Monitor& monitor, QWidget* parent)
    : QWidget(parent, panelFlags()), monitor_(monitor), model_(new UsageModel(this)),
      delegate_(new RowDelegate(this)), closer_(makeWindowCloser())
{
    setObjectName(QStringLiteral("popover"));
    setFocusPolicy(Qt::StrongFocus);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    header_ = new QHBoxLayout;
    header_->setContentsMargins(headerInset, headerVertical, headerInset, headerVertical);
    header_->setSpacing(headerSpacing);
    buildHeader(header_);
    column->addLayout(header_);
    column->addWidget(divider(this));

    // The list scrolls inside a scroll area so that its 4-point padding scrolls with the rows;
    // the list view itself is as tall as its rows and paints only the part in sight.
    listArea_ = new QScrollArea(this);
    listArea_->setObjectName(QStringLiteral("listArea"));
    listArea_->setFrameShape(QFrame::NoFrame);
    listArea_->setFixedHeight(listHeight);
    listArea_->setWidgetResizable(true);
    // A bar only while there is more to see: no empty trough beside a short list.
    listArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    listArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listArea_->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget;
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, listPadding, 0, listPadding);
    stack->setSpacing(0);
    rows_ = new QListView(content);
    rows_->setObjectName(QStringLiteral("rows"));
    rows_->setFrameShape(QFrame::NoFrame);
    rows_->setUniformItemSizes(true);
    rows_->setSelectionMode(QAbstractItemView::NoSelection);
    rows_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rows_->setFocusPolicy(Qt::NoFocus);
    rows_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rows_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rows_->setItemDelegate(delegate_);
    rows_->setModel(model_);
    // The keyboard reaches the rows once the user moves over them with the arrow keys; a click
    // unfolds a row without taking the keyboard.
    connect(rows_, &QListView::clicked, this, [this](const QModelIndex& index) {
        model_->setUnfolded(index.row(), !model_->isUnfolded(index.row()));
    });
    connect(rows_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &PopoverView::showCurrent);
    rows_->installEventFilter(this);
    // Moves with no button down tell that the pointer rests over the list.
    listArea_->viewport()->setMouseTracking(true);
    rows_->viewport()->setMouseTracking(true);
    stack->addWidget(rows_);
    stack->addStretch(1);
    listArea_->setWidget(content);
    // The list shows on the panel's own background, like the header and footer.
    content->setAutoFillBackground(false);
    listArea_->viewport()->setAutoFillBackground(false);
    rows_->viewport()->setAutoFillBackground(false);
    listArea_->viewport()->installEventFilter(this);
    rows_->viewport()->installEventFilter(this);
    column->addWidget(listArea_);
    column->addWidget(divider(this));

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(footerInset, footerInset, footerInset, footerInset);
    total_ = new QLabel(this);
    total_->setObjectName(QStringLiteral("total"));
    footer->addWidget(total_);
    footer->addStretch(1);
    quit_ = new QPushButton(tr("Quit"), this);
    quit_->setObjectName(QStringLiteral("quit"));
    quit_->setFocusPolicy(Qt::TabFocus);
    footer->addWidget(quit_);
    column->addLayout(footer);

    connect(quit_, &QPushButton::clicked, this, [] { QCoreApplication::quit(); });
    // Bound explicitly: QKeySequence::Quit is empty on some platforms.
    auto* quitKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    quitKey->setContext(Qt::WindowShortcut);
    connect(quitKey, &QShortcut::activated, this, [] { QCoreApplication::quit(); });

    connect(model_, &QAbstractItemModel::rowsInserted, this, &PopoverView::fitRows);
    connect(model_, &QAbstractItemModel::rowsRemoved, this, &PopoverView::fitRows);
    connect(model_, &QAbstractItemModel::modelReset, this, &PopoverView::fitRows);
    // A hidden panel does no work; it catches up when shown.
    connect(&monitor_, &Monitor::appsChanged, this, [this] {
        if (isVisible())
            model_->apply(monitor_.apps());
    });
    connect(&monitor_, &Monitor::totalCPUChanged, this, [this] {
        if (isVisible())
            showTotal();
    });

    // A row's actions open over the panel itself, and hold the rows' order while open.
    actions_ = new ActionOverlay(closer_.get(), &units_, this);
    connect(actions_, &ActionOverlay::openChanged, this,
            [this](bool open) { setHeld(UsageModel::Hold::actions, open); });

    applyStyle();
    showTotal();

    if (underXwayland()) {
        catcher_ = new ClickCatcher;
        connect(catcher_, &ClickCatcher::pressed, this, [this] {
            sinceHidden_.start();
            hide();
        });
    }
}

PopoverView::~PopoverView()
{
    delete catcher_;
}

void PopoverView::buildHeader(QHBoxLayout* header)
{
    appLabel_ = new QLabel(tr("App"), this);
    cpuLabel_ = new QLabel(tr("CPU"), this);
    memoryLabel_ = new QLabel(tr("Memory"), this);
    appLabel_->setObjectName(QStringLiteral("appHeader"));
    cpuLabel_->setObjectName(QStringLiteral("cpuHeader"));
    memoryLabel_->setObjectName(QStringLiteral("memoryHeader"));
    cpuLabel_->setFixedWidth(rowmetrics::cpuWidth);
    memoryLabel_->setFixedWidth(rowmetrics::memoryWidth);
    cpuLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    memoryLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    header->addWidget(appLabel_);
    header->addStretch(1);
    header->addWidget(cpuLabel_);
    header->addWidget(memoryLabel_);
}

void PopoverView::applyStyle()
{
    const QFont caption = captionFont(font());
    QPalette dimmed = palette();
    dimmed.setColor(QPalette::WindowText, secondaryColor(palette()));
    for (QLabel* label : {appLabel_, cpuLabel_, memoryLabel_, total_}) {
        label->setFont(caption);
        label->setPalette(dimmed);
    }
    fitRows();
    setFixedWidth(panelWidth);
    setFixedHeight(layout()->sizeHint().height());
}

void PopoverView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::StyleChange)
        applyStyle();
    // A managed window closes when the user turns to anything else, as a popup would.
    if (event->type() == QEvent::ActivationChange && !(windowFlags() & Qt::Popup) &&
        !testAttribute(Qt::WA_DontShowOnScreen) && isVisible() && !isActiveWindow()) {
        sinceHidden_.start();
        hide();
    }
}

void PopoverView::keyPressEvent(QKeyEvent* event)
{
    // The first arrow key puts the keyboard on the rows: the first or last row gets the ring.
    static constexpr int toRows[] = {Qt::Key_Down, Qt::Key_Up, Qt::Key_Home, Qt::Key_End};
    if (event->modifiers() == Qt::NoModifier && std::ranges::count(toRows, event->key()) &&
        !rows_->hasFocus() && model_->rowCount() > 0) {
        // Seen before the focus moves (a view that takes it makes its first row current). Home
        // and End go to their end from any row; a click may have left one current.
        const bool toEnd = event->key() == Qt::Key_Home || event->key() == Qt::Key_End;
        const bool placed = rows_->currentIndex().isValid() && !toEnd;
        rows_->setFocus(Qt::OtherFocusReason);
        if (!placed) {
            const bool first = event->key() == Qt::Key_Down || event->key() == Qt::Key_Home;
            rows_->setCurrentIndex(model_->index(first ? 0 : model_->rowCount() - 1, 0));
        }
        showCurrent();
        return;
    }
    // Where the panel is not a popup window of Qt's own (it is shown through surfaces of ours
    // on some compositors), Qt neither closes it on Escape nor sees the window's shortcuts.
    const bool menuKey = (event->key() == Qt::Key_Menu && event->modifiers() == Qt::NoModifier) ||
                         (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
    if (menuKey && rows_->currentIndex().isValid()) {
        openActions(rows_->currentIndex().row());
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        hide();
        return;
    }
    if (event->key() == Qt::Key_Q && event->modifiers() == Qt::ControlModifier) {
        QCoreApplication::quit();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool PopoverView::rowKey(QKeyEvent* event)
{
    const int row = rows_->currentIndex().row();
    if (row < 0 || event->modifiers() != Qt::NoModifier)
        return false;
    const int appRow = model_->appRowOf(row);
    switch (event->key()) {
    case Qt::Key_Right:
        return row == appRow && model_->setUnfolded(row, true);
    case Qt::Key_Left: // on a line: back to its application's row, folded
        rows_->setCurrentIndex(model_->index(appRow, 0));
        return model_->setUnfolded(appRow, false);
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        return row == appRow && model_->setUnfolded(row, !model_->isUnfolded(row));
    default:
        return false;
    }
}

void PopoverView::openActions(int row)
{
    if (const auto subject = model_->subjectAt(row))
        actions_->open(*subject);
}

void PopoverView::showCurrent()
{
    const QModelIndex current = rows_->currentIndex();
    if (!current.isValid())
        return;
    // The list view is as tall as its rows; the area around it is what scrolls.
    const QRect at = rows_->visualRect(current).translated(rows_->pos());
    listArea_->ensureVisible(at.center().x(), at.center().y(), 0, at.height() / 2 + listPadding);
}

bool PopoverView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == listArea_->viewport() && event->type() == QEvent::Resize)
        alignHeader();
    if (watched == rows_ && event->type() == QEvent::KeyPress &&
        rowKey(static_cast<QKeyEvent*>(event)))
        return true;
    // The pointer over the list holds the rows' order, so that a row does not move away from
    // under it; a pointer that moves from the area into the list leaves neither.
    const bool list = watched == listArea_->viewport() || watched == rows_->viewport();
    if (list && (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove))
        model_->setHeld(UsageModel::Hold::pointer, true);
    if (watched == listArea_->viewport() && event->type() == QEvent::Leave)
        model_->setHeld(UsageModel::Hold::pointer, false);
    // The list view never scrolls itself: the wheel over it scrolls the list area.
    // A press, not the context-menu event: where the panel is shown through surfaces of ours,
    // presses reach it but no context-menu event is made from them.
    if (watched == rows_->viewport() && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        openActions(rows_->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).row());
        return true;
    }
    if (watched == rows_->viewport() && event->type() == QEvent::Wheel) {
        QCoreApplication::sendEvent(listArea_->viewport(), event);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void PopoverView::alignHeader()
{
    // The scroll bar takes room from the rows, not from the header: the header's row area is
    // narrowed to match, so that its column labels end where the rows' columns end.
    const QRect area = listArea_->viewport()->geometry();
    const int leading = area.left();
    const int trailing = listArea_->width() - area.right() - 1;
    header_->setContentsMargins(headerInset + leading, headerVertical, headerInset + trailing,
                                headerVertical);
}

void PopoverView::fitRows()
{
    const int count = model_->rowCount();
    rows_->setFixedHeight(count * delegate_->rowHeightFor(rows_->font()));
}

void PopoverView::showTotal()
{
    QString text = qtext(formatTotalCpu(monitor_.totalCPU()));
    if (const auto since = monitor_.staleSince()) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(since->time_since_epoch());
        text += QLatin1Char('\n') + tr("Not updated since %1")
                                        .arg(QDateTime::fromMSecsSinceEpoch(ms.count())
                                                 .toString(QStringLiteral("HH:mm:ss")));
    }
    if (total_->text() == text)
        return;
    const bool lines = total_->text().count(QLatin1Char('\n')) != text.count(QLatin1Char('\n'));
    total_->setText(text);
    if (lines) { // the footer grew or shrank by the line
        layout()->activate();
        applyStyle();
    }
}

void PopoverView::catchUp()
{
    model_->apply(monitor_.apps());
    showTotal();
}

void PopoverView::showEvent(QShowEvent* event)
{
    monitor_.setDetailed(true); // the processes, for rows the user unfolds
    catchUp();
    QWidget::showEvent(event);
    emit shownChanged(true);
}

void PopoverView::hideEvent(QHideEvent* event)
{
    if (catcher_)
        catcher_->hide();
    // It opens again as it first did: folded, nothing held, the keyboard off the rows.
    monitor_.setDetailed(false);
    rows_->setCurrentIndex({});
    rows_->clearFocus();
    model_->settle();
    // Closed by a press outside the popup, which may be on the item itself.
    if (QGuiApplication::mouseButtons() != Qt::NoButton)
        sinceHidden_.start();
    else
        sinceHidden_.invalidate();
    QWidget::hideEvent(event);
    emit shownChanged(false);
}

void PopoverView::showAnchored(const QRect& anchor)
{
    // Wayland lets no client place its windows; the compositor decides there.
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        QScreen* screen = QGuiApplication::screenAt(anchor.center());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen) {
            setScreen(screen);
            const QRect area = screen->availableGeometry();
            if (catcher_ && !testAttribute(Qt::WA_DontShowOnScreen))
                catcher_->cover(area);
            const ScreenPoint at =
                placePanel({anchor.x(), anchor.y(), anchor.width(), anchor.height()}, width(),
                           height(), {area.x(), area.y(), area.width(), area.height()});
            move(at.x, at.y);
        }
    }
    show();
    raise();
    activateWindow();
    setFocus(Qt::PopupFocusReason);
}

void PopoverView::toggleAnchored(const QRect& anchor)
{
    if (isVisible())
        hide();
    else if (!sinceHidden_.isValid() || sinceHidden_.elapsed() >= sameClickMs)
        showAnchored(anchor);
}

} // namespace corvel
