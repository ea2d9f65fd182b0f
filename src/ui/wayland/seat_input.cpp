#include "seat_input.h"

#include <linux/input-event-codes.h>
#include <unistd.h>
#include <wayland-client.h>

namespace corvel {
namespace {

// A wheel step scrolls about 10 units of continuous axis motion.
constexpr double unitsPerStep = 10.0;
constexpr int anglePerStep = 120;

// Release came with seat version 3; older seats only know destroy.
template <typename Device>
void letGo(Device* device, void (*release)(Device*), void (*destroy)(Device*))
{
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(device)) >= 3)
        release(device);
    else
        destroy(device);
}

void letGo(wl_pointer* pointer)
{
    letGo(pointer, &wl_pointer_release, &wl_pointer_destroy);
}

void letGo(wl_keyboard* keyboard)
{
    letGo(keyboard, &wl_keyboard_release, &wl_keyboard_destroy);
}

Qt::MouseButton qtButton(uint32_t button)
{
    switch (button) {
    case BTN_LEFT:
        return Qt::LeftButton;
    case BTN_RIGHT:
        return Qt::RightButton;
    case BTN_MIDDLE:
        return Qt::MiddleButton;
    default:
        return Qt::NoButton;
    }
}

} // namespace

struct SeatInput::Listeners
{
    static SeatInput& self(void* data) { return *static_cast<SeatInput*>(data); }
    static QPointF point(wl_fixed_t x, wl_fixed_t y)
    {
        return {wl_fixed_to_double(x), wl_fixed_to_double(y)};
    }

    static void capabilities(void* data, wl_seat* seat, uint32_t caps)
    {
        SeatInput& in = self(data);
        const bool hasPointer = (caps & WL_SEAT_CAPABILITY_POINTER) != 0;
        const bool hasKeyboard = (caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
        if (hasPointer && !in.pointer_) {
            in.pointer_ = wl_seat_get_pointer(seat);
            wl_pointer_add_listener(in.pointer_, &pointerListener, &in);
        } else if (!hasPointer && in.pointer_) {
            letGo(in.pointer_);
            in.pointer_ = nullptr;
        }
        if (hasKeyboard && !in.keyboard_) {
            in.keyboard_ = wl_seat_get_keyboard(seat);
            wl_keyboard_add_listener(in.keyboard_, &keyboardListener, &in);
        } else if (!hasKeyboard && in.keyboard_) {
            letGo(in.keyboard_);
            in.keyboard_ = nullptr;
        }
    }
    static void name(void*, wl_seat*, const char*) {}

    static void enter(void* data, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x,
                      wl_fixed_t y)
    {
        self(data).pointerSurface_ = surface;
        self(data).sink_.pointerMoved(surface, point(x, y));
    }
    static void leave(void* data, wl_pointer*, uint32_t, wl_surface* surface)
    {
        self(data).pointerSurface_ = nullptr;
        self(data).sink_.pointerLeft(surface);
    }
    static void motion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y)
    {
        if (self(data).pointerSurface_)
            self(data).sink_.pointerMoved(self(data).pointerSurface_, point(x, y));
    }
    static void button(void* data, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state)
    {
        if (const Qt::MouseButton b = qtButton(button); b != Qt::NoButton)
            self(data).sink_.pointerButton(b, state == WL_POINTER_BUTTON_STATE_PRESSED);
    }
    static void axis(void* data, wl_pointer*, uint32_t, uint32_t axis, wl_fixed_t value)
    {
        const double units = wl_fixed_to_double(value);
        QPointF& delta = self(data).wheelDelta_;
        (axis == WL_POINTER_AXIS_VERTICAL_SCROLL ? delta.ry() : delta.rx()) += units;
    }
    static void discrete(void* data, wl_pointer*, uint32_t axis, int32_t steps)
    {
        QPoint& sum = self(data).wheelSteps_;
        (axis == WL_POINTER_AXIS_VERTICAL_SCROLL ? sum.ry() : sum.rx()) += steps;
    }
    static void frame(void* data, wl_pointer*)
    {
        SeatInput& in = self(data);
        // Wayland counts down the screen, Qt's wheel angle up: negated.
        QPoint angle = -in.wheelSteps_ * anglePerStep;
        if (angle.isNull())
            angle = -(in.wheelDelta_ * (anglePerStep / unitsPerStep)).toPoint();
        in.wheelSteps_ = {};
        in.wheelDelta_ = {};
        if (!angle.isNull())
            in.sink_.pointerWheel(angle);
    }
    static void axisSource(void*, wl_pointer*, uint32_t) {}
    static void axisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
    static void axisValue120(void*, wl_pointer*, uint32_t, int32_t) {}

    static void keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size)
    {
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1)
            self(data).keymap_.load(fd, size);
        close(fd);
    }
    static void keyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
    static void keyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
    static void key(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t code, uint32_t state)
    {
        const TypedKey typed = self(data).keymap_.translate(code);
        if (typed.key != 0)
            self(data).sink_.keyPressed(typed, state == WL_KEYBOARD_KEY_STATE_PRESSED);
    }
    static void modifiers(void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched,
                          uint32_t locked, uint32_t group)
    {
        self(data).keymap_.setModifiers(depressed, latched, locked, group);
    }
    static void repeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}

    static constexpr wl_seat_listener seatListener{.capabilities = &capabilities, .name = &name};
    static constexpr wl_pointer_listener pointerListener{.enter = &enter,
                                                         .leave = &leave,
                                                         .motion = &motion,
                                                         .button = &button,
                                                         .axis = &axis,
                                                         .frame = &frame,
                                                         .axis_source = &axisSource,
                                                         .axis_stop = &axisStop,
                                                         .axis_discrete = &discrete,
                                                         .axis_value120 = &axisValue120};
    static constexpr wl_keyboard_listener keyboardListener{.keymap = &keymap,
                                                           .enter = &keyboardEnter,
                                                           .leave = &keyboardLeave,
                                                           .key = &key,
                                                           .modifiers = &modifiers,
                                                           .repeat_info = &repeatInfo};
};

SeatInput::SeatInput(wl_seat* seat, InputSink& sink) : sink_(sink), seat_(seat)
{
    wl_seat_add_listener(seat_, &Listeners::seatListener, this);
}

SeatInput::~SeatInput()
{
    if (pointer_)
        letGo(pointer_);
    if (keyboard_)
        letGo(keyboard_);
}

} // namespace corvel
