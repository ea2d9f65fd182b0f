#include "xkb_keyboard.h"

#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

namespace corvel {
namespace {

// The keys that mean something in the panel: closing, quitting, moving through the list,
// unfolding and folding a row, opening its actions and pressing a button.
int qtKeyFor(xkb_keysym_t sym, char32_t character)
{
    switch (sym) {
    case XKB_KEY_Escape:
        return Qt::Key_Escape;
    case XKB_KEY_Tab:
        return Qt::Key_Tab;
    case XKB_KEY_ISO_Left_Tab:
        return Qt::Key_Backtab;
    case XKB_KEY_Return:
        return Qt::Key_Return;
    case XKB_KEY_KP_Enter:
        return Qt::Key_Enter;
    case XKB_KEY_space:
        return Qt::Key_Space;
    case XKB_KEY_Up:
        return Qt::Key_Up;
    case XKB_KEY_Down:
        return Qt::Key_Down;
    case XKB_KEY_Page_Up:
        return Qt::Key_PageUp;
    case XKB_KEY_Page_Down:
        return Qt::Key_PageDown;
    case XKB_KEY_Home:
        return Qt::Key_Home;
    case XKB_KEY_End:
        return Qt::Key_End;
    case XKB_KEY_Left:
        return Qt::Key_Left;
    case XKB_KEY_Right:
        return Qt::Key_Right;
    case XKB_KEY_Menu:
        return Qt::Key_Menu;
    case XKB_KEY_F10:
        return Qt::Key_F10;
    default:
        break;
    }
    // Qt names letter and digit keys by their upper-case character.
    if (character >= U'a' && character <= U'z')
        return static_cast<int>(character - U'a' + U'A');
    if ((character >= U'A' && character <= U'Z') || (character >= U'0' && character <= U'9'))
        return static_cast<int>(character);
    return 0;
}

} // namespace

XkbKeyboard::XkbKeyboard() : context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}

XkbKeyboard::~XkbKeyboard()
{
    drop();
    if (context_)
        xkb_context_unref(context_);
}

void XkbKeyboard::drop()
{
    if (state_)
        xkb_state_unref(state_);
    if (keymap_)
        xkb_keymap_unref(keymap_);
    state_ = nullptr;
    keymap_ = nullptr;
}

bool XkbKeyboard::load(int fd, uint32_t size)
{
    drop();
    if (!context_ || size == 0)
        return false;
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (text == MAP_FAILED)
        return false;
    // The map ends in a NUL that the size counts.
    keymap_ = xkb_keymap_new_from_buffer(context_, static_cast<const char*>(text), size - 1,
                                         XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    munmap(text, size);
    if (keymap_)
        state_ = xkb_state_new(keymap_);
    return state_ != nullptr;
}

void XkbKeyboard::setModifiers(uint32_t depressed, uint32_t latched, uint32_t locked,
                               uint32_t group)
{
    if (state_)
        xkb_state_update_mask(state_, depressed, latched, locked, 0, 0, group);
}

TypedKey XkbKeyboard::translate(uint32_t code) const
{
    if (!state_)
        return {};
    const xkb_keycode_t keycode = code + 8; // evdev to XKB numbering
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(state_, keycode);
    const auto active = [this](const char* name) {
        return xkb_state_mod_name_is_active(state_, name, XKB_STATE_MODS_EFFECTIVE) > 0;
    };
    TypedKey typed;
    if (active(XKB_MOD_NAME_CTRL))
        typed.modifiers |= Qt::ControlModifier;
    if (active(XKB_MOD_NAME_SHIFT))
        typed.modifiers |= Qt::ShiftModifier;
    if (active(XKB_MOD_NAME_ALT))
        typed.modifiers |= Qt::AltModifier;
    if (active(XKB_MOD_NAME_LOGO))
        typed.modifiers |= Qt::MetaModifier;
    // Ctrl+Q means Q whatever the control transformation makes of it.
    const char32_t character = xkb_keysym_to_utf32(xkb_keysym_to_lower(sym));
    typed.key = qtKeyFor(sym, character);
    const char32_t shown = xkb_keysym_to_utf32(sym);
    if (shown >= 0x20 && !(typed.modifiers & Qt::ControlModifier))
        typed.text = QString::fromUcs4(&shown, 1);
    return typed;
}

} // namespace corvel
