#pragma once

// The panel on compositors with the layer shell (sway, Hyprland, wayfire, labwc, river, KWin):
// Qt would make it an ordinary window that the compositor centres and lists in taskbars, so the
// widget stays off screen and is shown through two layer surfaces of our own. The panel's
// surface is pinned to the output edge nearest the bar, kept off the bar's reserved zone by
// the compositor, and takes the keyboard. Below it, a transparent surface over the whole output
// (the bar included) catches the click that closes it and tells where the pointer is.

#include "maximized_probe.h"
#include "placement.h"
#include "seat_input.h"
#include "shm_buffer.h"
#include "wayland_connection.h"
#include "widget_input.h"

#include <array>
#include <memory>
#include <optional>

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QPointer>

class QWidget;
struct wl_surface;
struct wp_viewport;
struct zwlr_layer_surface_v1;
struct zwlr_layer_surface_v1_listener;

namespace corvel {

class LayerPanel final : public QObject, private InputSink
{
    Q_OBJECT

public:
    // Null unless the session's compositor offers the layer shell. `panel` is kept off screen
    // from here on and must outlive this object.
    static std::unique_ptr<LayerPanel> create(QWidget& panel);
    ~LayerPanel() override;

    // Shows the panel, or closes it when shown. `click` is where the host said the item was
    // clicked, in whatever coordinates it uses; only a point that can be on the output counts.
    void toggle(std::optional<QPoint> click);
    // False once the compositor went away; the caller then shows the panel some other way.
    bool usable() const { return !connection_->broken(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Surface
    {
        wl_surface* surface = nullptr;
        zwlr_layer_surface_v1* layer = nullptr;
        wp_viewport* viewport = nullptr;
        std::array<std::unique_ptr<ShmBuffer>, 2> buffers;
        QSize size;
        bool configured = false;
    };

    LayerPanel(std::unique_ptr<WaylandConnection> connection, QWidget& panel);
    void open(std::optional<QPoint> click);
    void close();
    void makeSurface(Surface& s, uint32_t layer, const char* role);
    void dropSurface(Surface& s);
    void catcherConfigured(QSize size);
    void placePanel();
    void panelConfigured(QSize size);
    void placeByClick();
    void anchorPanel(std::optional<ScreenPoint> at);
    void render();
    void scheduleRender();
    static void configured(void* data, zwlr_layer_surface_v1* layer, uint32_t serial,
                           uint32_t width, uint32_t height);
    static void closedByCompositor(void* data, zwlr_layer_surface_v1* layer);
    static const zwlr_layer_surface_v1_listener layerListener;

    void pointerMoved(wl_surface* surface, QPointF at) override;
    void pointerLeft(wl_surface* surface) override;
    void pointerButton(Qt::MouseButton button, bool pressed) override;
    void pointerWheel(QPoint angle) override;
    void keyPressed(const TypedKey& key, bool pressed) override;

    std::unique_ptr<WaylandConnection> connection_;
    QPointer<QWidget> widget_;
    Qt::WindowFlags originalFlags_; // given back when the compositor goes away
    SeatInput seat_;
    WidgetInput input_;
    Surface catcher_;
    Surface panel_;
    QSize output_;
    std::optional<QPoint> click_;   // from the host, as it sent it
    std::optional<QPoint> pointer_; // on the catcher, in output coordinates
    std::optional<QPoint> lastAt_;  // where the item was found at an earlier opening
    wl_surface* pointerOn_ = nullptr;
    FreeRows free_; // of the output, once the bars have taken theirs
    std::unique_ptr<MaximizedProbe> probe_;
    bool anchoredToPointer_ = false;
    int scale_ = 1;
    QElapsedTimer lastChange_; // since the panel last opened or closed
    bool renderQueued_ = false;
    unsigned generation_ = 0; // tells a stale round trip from the current opening
};

} // namespace corvel
