#include "layer_panel.h"

#include "placement.h"
#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

#include <algorithm>
#include <cmath>
#include <wayland-client.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

namespace corvel {
namespace {

constexpr qint64 sameClickMs = 300;
constexpr int probeWaitMs = 500;
constexpr uint32_t allEdges =
    ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
    ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;

} // namespace

std::unique_ptr<LayerPanel> LayerPanel::create(QWidget& panel)
{
    std::unique_ptr<WaylandConnection> connection = WaylandConnection::open();
    if (!connection)
        return nullptr;
    return std::unique_ptr<LayerPanel>(new LayerPanel(std::move(connection), panel));
}

LayerPanel::LayerPanel(std::unique_ptr<WaylandConnection> connection, QWidget& panel)
    : connection_(std::move(connection)), widget_(&panel), originalFlags_(panel.windowFlags()),
      seat_(connection_->seat(), *this), input_(panel)
{
    // Qt lays the widget out and paints it on request, but never maps a window for it; as a
    // plain window it takes no pointer or keyboard grab as a popup would.
    panel.hide();
    panel.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    panel.setAttribute(Qt::WA_DontShowOnScreen);
    panel.installEventFilter(this);
    connect(connection_.get(), &WaylandConnection::lost, this, [this] {
        if (widget_)
            widget_->hide();
    });
    connection_->flush();
}

LayerPanel::~LayerPanel()
{
    if (widget_) {
        widget_->removeEventFilter(this);
        widget_->hide();
        widget_->setAttribute(Qt::WA_DontShowOnScreen, false);
        widget_->setWindowFlags(originalFlags_);
    }
    dropSurface(panel_);
    dropSurface(catcher_);
    connection_->flush();
}

void LayerPanel::toggle(std::optional<QPoint> click)
{
    // Some hosts send two activations for one click, and a click on the item may both reach
    // the catcher and the host: one opening or closing per click.
    if (lastChange_.isValid() && lastChange_.elapsed() < sameClickMs)
        return;
    if (catcher_.surface)
        widget_->hide(); // closes through the event filter
    else
        open(click);
}

void LayerPanel::open(std::optional<QPoint> click)
{
    click_ = click;
    pointer_.reset();
    lastChange_.start();
    ++generation_;
    widget_->show(); // brings the rows up to date
    // The compositor gives the keyboard to our surface, not to a window of Qt's: without being
    // Qt's active window the widgets never have the focus, and focus rings are not drawn.
    QApplication::setActiveWindow(widget_);

    // Over everything, the bar included, reserving nothing; once the panel is placed, its
    // input region leaves out the panel's rectangle.
    makeSurface(catcher_, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "corvel-dismiss");
    zwlr_layer_surface_v1_set_anchor(catcher_.layer, allEdges);
    zwlr_layer_surface_v1_set_exclusive_zone(catcher_.layer, -1);
    wl_surface_commit(catcher_.surface);
    connection_->flush();
}

void LayerPanel::close()
{
    if (catcher_.surface)
        lastChange_.start();
    probe_.reset();
    dropSurface(panel_);
    dropSurface(catcher_);
    input_.left();
    pointerOn_ = nullptr;
    if (QApplication::activeWindow() == widget_)
        QApplication::setActiveWindow(nullptr);
    connection_->flush();
}

void LayerPanel::makeSurface(Surface& s, uint32_t layer, const char* role)
{
    s.surface = wl_compositor_create_surface(connection_->compositor());
    s.layer = zwlr_layer_shell_v1_get_layer_surface(connection_->layerShell(), s.surface, nullptr,
                                                    layer, role);
    zwlr_layer_surface_v1_add_listener(s.layer, &layerListener, this);
}

void LayerPanel::dropSurface(Surface& s)
{
    if (s.viewport)
        wp_viewport_destroy(s.viewport);
    if (s.layer)
        zwlr_layer_surface_v1_destroy(s.layer);
    if (s.surface)
        wl_surface_destroy(s.surface);
    s = Surface{};
}

void LayerPanel::configured(void* data, zwlr_layer_surface_v1* layer, uint32_t serial,
                            uint32_t width, uint32_t height)
{
    auto* self = static_cast<LayerPanel*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    const QSize size(static_cast<int>(width), static_cast<int>(height));
    if (layer == self->catcher_.layer)
        self->catcherConfigured(size);
    else if (layer == self->panel_.layer)
        self->panelConfigured(size);
    self->connection_->flush();
}

void LayerPanel::closedByCompositor(void* data, zwlr_layer_surface_v1*)
{
    auto* self = static_cast<LayerPanel*>(data);
    if (self->widget_)
        self->widget_->hide();
}

void LayerPanel::catcherConfigured(QSize size)
{
    const bool first = !catcher_.configured;
    catcher_.configured = true;
    output_ = size;
    // Transparent: one pixel stretched over the output where the compositor can scale, else
    // an output-sized buffer that this process never touches.
    const bool scaled = connection_->viewporter() != nullptr;
    if (scaled && !catcher_.viewport)
        catcher_.viewport = wp_viewporter_get_viewport(connection_->viewporter(), catcher_.surface);
    if (scaled)
        wp_viewport_set_destination(catcher_.viewport, size.width(), size.height());
    if (!catcher_.buffers[0] || (!scaled && catcher_.buffers[0]->size() != size))
        catcher_.buffers[0] =
            ShmBuffer::create(connection_->shm(), scaled ? QSize(1, 1) : size, false);
    if (!catcher_.buffers[0]) {
        widget_->hide();
        return;
    }
    wl_surface_attach(catcher_.surface, catcher_.buffers[0]->buffer(), 0, 0);
    wl_surface_commit(catcher_.surface);
    if (!first)
        return;
    // Once the compositor has shown the catcher, it has told it where the pointer is (when it
    // does so at all); only then is the panel placed.
    const unsigned opening = generation_;
    connection_->afterRoundTrip([this, opening] {
        if (opening == generation_ && catcher_.surface)
            placePanel();
    });
}

void LayerPanel::placePanel()
{
    // First stretched over the area the bars leave free: its size tells how much they take.
    makeSurface(panel_, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "corvel-panel");
    zwlr_layer_surface_v1_set_anchor(panel_.layer, allEdges);
    zwlr_layer_surface_v1_set_exclusive_zone(panel_.layer, 0); // kept clear of the bars
    zwlr_layer_surface_v1_set_keyboard_interactivity(panel_.layer, 1);
    wl_surface_commit(panel_.surface);
    connection_->flush();
}

void LayerPanel::panelConfigured(QSize size)
{
    if (panel_.configured)
        return render();
    if (probe_)
        return; // placed once the probe has its answer; it goes with the panel
    free_ = freeRows(output_.height(), size.height(), 0);
    if (free_.height < output_.height() || !connection_->windowManager())
        return placeByClick();
    // The layer shell keeps the panel clear of no bar here; one of another kind (Plasma's
    // panel on KWin) shows in the height a maximized window would get.
    probe_ = std::make_unique<MaximizedProbe>(*connection_, [this](QSize maximized) {
        free_ = freeRows(output_.height(), output_.height(), maximized.height());
        placeByClick();
    });
    // A compositor that never answers still gets the panel, at the output's edge.
    const unsigned opening = generation_;
    QTimer::singleShot(probeWaitMs, this, [this, opening] {
        if (opening == generation_ && probe_ && !panel_.configured)
            placeByClick();
    });
}

void LayerPanel::placeByClick()
{
    panel_.configured = true;
    // The outputs have told their scale by now; Qt's own is its display's, 1 under Xwayland.
    scale_ = std::max(connection_->outputScale(),
                      static_cast<int>(std::ceil(widget_->devicePixelRatioF())));
    // The pointer on the catcher is the surest; compositors tell it when they see fit, which
    // may be only after this (it then moves the panel). Then the host's click point, when it
    // can be on the output; else where the item was found before: bars do not move.
    std::optional<ScreenPoint> at;
    if (pointer_)
        at = ScreenPoint{pointer_->x(), pointer_->y()};
    else if (click_)
        at = outputPoint({click_->x(), click_->y()}, output_.width(), output_.height(), scale_);
    if (!at && lastAt_)
        at = ScreenPoint{lastAt_->x(), lastAt_->y()};
    anchorPanel(at);
    render();
}

void LayerPanel::anchorPanel(std::optional<ScreenPoint> at)
{
    if (at)
        lastAt_ = QPoint(at->x, at->y);
    anchoredToPointer_ = pointer_.has_value();
    const int width = widget_->width();
    const int height = widget_->height();
    EdgePlacement edge = placeOnEdge(at, width, output_.width(), output_.height());
    edge.margin = free_.margin;
    const uint32_t vertical =
        edge.bottom ? ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM : ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP;
    const uint32_t side =
        edge.fromRight ? ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT : ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT;
    zwlr_layer_surface_v1_set_anchor(panel_.layer, vertical | side);
    zwlr_layer_surface_v1_set_margin(panel_.layer, edge.bottom ? 0 : edge.margin, 0,
                                     edge.bottom ? edge.margin : 0, edge.fromRight ? 0 : edge.left);
    zwlr_layer_surface_v1_set_size(panel_.layer, static_cast<uint32_t>(width),
                                   static_cast<uint32_t>(height));

    // Where the panel stacks against the catcher in the same layer is the compositor's choice:
    // a hole in the catcher where the panel lies lets its input through either way.
    const ScreenRect hole =
        edgePanelRect(edge, width, height, output_.width(), output_.height(), free_.height);
    wl_region* region = wl_compositor_create_region(connection_->compositor());
    wl_region_add(region, 0, 0, output_.width(), output_.height());
    wl_region_subtract(region, hole.x, hole.y, hole.width, hole.height);
    wl_surface_set_input_region(catcher_.surface, region);
    wl_region_destroy(region);
    wl_surface_commit(catcher_.surface);
}

void LayerPanel::scheduleRender()
{
    if (renderQueued_ || !panel_.configured)
        return;
    renderQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            renderQueued_ = false;
            render();
        },
        Qt::QueuedConnection);
}

void LayerPanel::render()
{
    if (!panel_.configured || !widget_)
        return;
    const QSize pixels = widget_->size() * scale_;
    // The compositor may still read the buffer it was last given: draw into the other one.
    auto free = std::find_if(panel_.buffers.begin(), panel_.buffers.end(), [&](const auto& b) {
        return !b || !b->busy() || b->size() != pixels;
    });
    if (free == panel_.buffers.end()) {
        scheduleRender(); // both held; a release is on its way
        return;
    }
    if (!*free || (*free)->size() != pixels)
        *free = ShmBuffer::create(connection_->shm(), pixels);
    if (!*free)
        return;
    QImage& image = (*free)->image();
    image.setDevicePixelRatio(scale_);
    image.fill(widget_->palette().window().color());
    widget_->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    wl_surface_set_buffer_scale(panel_.surface, scale_);
    wl_surface_attach(panel_.surface, (*free)->buffer(), 0, 0);
    wl_surface_damage_buffer(panel_.surface, 0, 0, pixels.width(), pixels.height());
    (*free)->setBusy();
    wl_surface_commit(panel_.surface);
    connection_->flush();
}

bool LayerPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == widget_) {
        // Anything in the widget that needs painting asks its window for an update.
        if (event->type() == QEvent::UpdateRequest || event->type() == QEvent::LayoutRequest)
            scheduleRender();
        else if (event->type() == QEvent::Hide)
            close();
    }
    return QObject::eventFilter(watched, event);
}

void LayerPanel::pointerMoved(wl_surface* surface, QPointF at)
{
    pointerOn_ = surface;
    if (surface == catcher_.surface && catcher_.surface) {
        pointer_ = at.toPoint();
        // Only the position the compositor reports as the catcher appears is the click's.
        if (panel_.configured && !anchoredToPointer_ && lastChange_.elapsed() < sameClickMs) {
            anchorPanel(ScreenPoint{pointer_->x(), pointer_->y()});
            wl_surface_commit(panel_.surface);
        }
    } else if (surface == panel_.surface && panel_.surface) {
        input_.moved(at);
        scheduleRender();
    }
}

void LayerPanel::pointerLeft(wl_surface* surface)
{
    if (surface == pointerOn_)
        pointerOn_ = nullptr;
    if (surface == panel_.surface)
        input_.left();
}

void LayerPanel::pointerButton(Qt::MouseButton button, bool pressed)
{
    if (!pointerOn_ || !catcher_.surface)
        return;
    if (pointerOn_ == catcher_.surface) {
        if (pressed)
            widget_->hide(); // a click outside the panel, the bar and its item included
        return;
    }
    if (pointerOn_ == panel_.surface) {
        input_.button(button, pressed);
        scheduleRender();
    }
}

void LayerPanel::pointerWheel(QPoint angle)
{
    if (pointerOn_ && pointerOn_ == panel_.surface) {
        input_.wheel(angle);
        scheduleRender();
    }
}

void LayerPanel::keyPressed(const TypedKey& key, bool pressed)
{
    if (!panel_.surface)
        return;
    input_.key(key.key, key.modifiers, key.text, pressed);
    scheduleRender();
}

const zwlr_layer_surface_v1_listener LayerPanel::layerListener{
    .configure = &LayerPanel::configured, .closed = &LayerPanel::closedByCompositor};

} // namespace corvel
