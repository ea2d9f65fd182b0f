#pragma once

// The compositor's keymap, turning its key codes into Qt keys, modifiers and text.

#include <cstdint>

#include <QString>
#include <Qt>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace corvel {

struct TypedKey
{
    int key = 0; // a Qt::Key; 0 for keys the panel has no use for
    Qt::KeyboardModifiers modifiers;
    QString text;
};

class XkbKeyboard
{
public:
    XkbKeyboard();
    ~XkbKeyboard();
    XkbKeyboard(const XkbKeyboard&) = delete;
    XkbKeyboard& operator=(const XkbKeyboard&) = delete;

    // Takes a keymap in the text format from `fd`; false (and no keymap) when it does not load.
    bool load(int fd, uint32_t size);
    void setModifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group);
    // `code` as the compositor sends it (evdev numbering).
    TypedKey translate(uint32_t code) const;

private:
    void drop();

    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
};

} // namespace corvel
