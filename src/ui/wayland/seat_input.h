#pragma once

// The seat's pointer and keyboard, turned into plain calls on whoever owns the surface they
// are on.

#include "xkb_keyboard.h"

#include <cstdint>

#include <QPoint>
#include <QPointF>
#include <Qt>

struct wl_keyboard;
struct wl_pointer;
struct wl_seat;
struct wl_surface;

namespace corvel {

class InputSink
{
public:
    virtual ~InputSink() = default;
    // `at` in the surface's coordinates. Enter and motion come with the surface they are on.
    virtual void pointerMoved(wl_surface* surface, QPointF at) = 0;
    virtual void pointerLeft(wl_surface* surface) = 0;
    virtual void pointerButton(Qt::MouseButton button, bool pressed) = 0;
    // In eighths of a degree, 120 to a wheel step, as QWheelEvent counts.
    virtual void pointerWheel(QPoint angle) = 0;
    virtual void keyPressed(const TypedKey& key, bool pressed) = 0;
};

class SeatInput
{
public:
    SeatInput(wl_seat* seat, InputSink& sink);
    ~SeatInput();
    SeatInput(const SeatInput&) = delete;
    SeatInput& operator=(const SeatInput&) = delete;

private:
    struct Listeners;

    InputSink& sink_;
    wl_seat* seat_;
    wl_pointer* pointer_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    wl_surface* pointerSurface_ = nullptr;
    XkbKeyboard keymap_;
    QPoint wheelSteps_;  // discrete steps seen in this pointer frame
    QPointF wheelDelta_; // continuous motion seen in this pointer frame
};

} // namespace corvel
