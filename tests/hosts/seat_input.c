// Gives a headless wlroots seat a pointer (for the compositor's cursor commands) and a keyboard that
// types keys read from standard input, one per line: "Escape", "Menu" or "ctrl+q". One keyboard for the
// whole run: with one per key the compositor sends the client a leave and an enter around each press.
// On KWin, whose fake input has both, it also clicks: "X Y COUNT BUTTON" (1 left, 3 right).
#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>
#include <stdio.h>
#include <string.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

static struct wl_seat* seat;
static struct zwlr_virtual_pointer_manager_v1* pointers;
static struct zwp_virtual_keyboard_manager_v1* keyboards;
static struct org_kde_kwin_fake_input* fake;

// A key's code by its name (after any "ctrl+"), 0 for none of ours.
static uint32_t key_code(const char* name)
{
    static const struct { const char* name; uint32_t code; } keys[] = {
        {"Escape", KEY_ESC}, {"q", KEY_Q}, {"Down", KEY_DOWN}, {"Return", KEY_ENTER},
        {"End", KEY_END}, {"Menu", KEY_COMPOSE}};
    for (size_t i = 0; i < sizeof keys / sizeof *keys; i++)
        if (!strcmp(name, keys[i].name))
            return keys[i].code;
    return fprintf(stderr, "seat_input: unknown key %s\n", name), 0;
}

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version)
{
    (void)data;
    if (!strcmp(interface, wl_seat_interface.name))
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (!strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name))
        pointers = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    else if (!strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name))
        keyboards = wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
    else if (!strcmp(interface, org_kde_kwin_fake_input_interface.name) && version >= 4)
        fake = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}
static void global_remove(void* data, struct wl_registry* registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

// KWin's fake input: keys go to the focused surface as they are, modifiers included.
static int fake_input(struct wl_display* display)
{
    org_kde_kwin_fake_input_authenticate(fake, "host tests", "clicks and keys");
    fputs("ready\n", stdout), fflush(stdout);
    char line[64];
    int x, y, count, button;
    while (fgets(line, sizeof line, stdin)) {
        if (sscanf(line, "%d %d %d %d", &x, &y, &count, &button) == 4) {
            org_kde_kwin_fake_input_pointer_motion_absolute(fake, wl_fixed_from_int(x), wl_fixed_from_int(y));
            for (uint32_t code = button == 3 ? BTN_RIGHT : BTN_LEFT; count > 0; count--) {
                org_kde_kwin_fake_input_button(fake, code, WL_POINTER_BUTTON_STATE_PRESSED);
                org_kde_kwin_fake_input_button(fake, code, WL_POINTER_BUTTON_STATE_RELEASED);
            }
        } else {
            line[strcspn(line, "\n")] = 0;
            int with_ctrl = !strncmp(line, "ctrl+", 5);
            uint32_t key = key_code(line + (with_ctrl ? 5 : 0));
            if (!key)
                continue;
            if (with_ctrl)
                org_kde_kwin_fake_input_keyboard_key(fake, KEY_LEFTCTRL, 1);
            org_kde_kwin_fake_input_keyboard_key(fake, key, 1);
            org_kde_kwin_fake_input_keyboard_key(fake, key, 0);
            if (with_ctrl)
                org_kde_kwin_fake_input_keyboard_key(fake, KEY_LEFTCTRL, 0);
        }
        if (wl_display_roundtrip(display) < 0)
            return 1;
    }
    return 0;
}

int main(void)
{
    struct wl_display* display = wl_display_connect(NULL);
    static const struct wl_registry_listener listener = {global, global_remove};
    if (display)
        wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
    if (!display || wl_display_roundtrip(display) < 0 || !(fake || (seat && pointers && keyboards)))
        return fprintf(stderr, "seat_input: no Wayland display with virtual input\n"), 1;
    if (fake)
        return fake_input(display);
    zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointers, seat);
    struct zwp_virtual_keyboard_v1* keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);

    struct xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    struct xkb_keymap* keymap =
        xkb_keymap_new_from_names(context, NULL, XKB_KEYMAP_COMPILE_NO_FLAGS);
    char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : NULL;
    size_t size = text ? strlen(text) + 1 : 0;
    FILE* file = tmpfile();
    if (!text || !file || fwrite(text, 1, size, file) != size || fflush(file))
        return fprintf(stderr, "seat_input: no keymap to pass\n"), 1;
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fileno(file),
                                   (uint32_t)size);
    uint32_t ctrl = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CTRL);
    wl_display_roundtrip(display);
    fputs("ready\n", stdout), fflush(stdout);

    // Key events carry no time: nothing here depends on it.
    char line[64];
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\n")] = 0;
        int with_ctrl = !strncmp(line, "ctrl+", 5);
        uint32_t key = key_code(line + (with_ctrl ? 5 : 0));
        if (!key)
            continue;
        if (with_ctrl)
            zwp_virtual_keyboard_v1_key(keyboard, 0, KEY_LEFTCTRL, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_modifiers(keyboard, with_ctrl ? ctrl : 0, 0, 0, 0);
        zwp_virtual_keyboard_v1_key(keyboard, 0, key, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(keyboard, 0, key, WL_KEYBOARD_KEY_STATE_RELEASED);
        if (with_ctrl)
            zwp_virtual_keyboard_v1_key(keyboard, 0, KEY_LEFTCTRL, WL_KEYBOARD_KEY_STATE_RELEASED);
        zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
        if (wl_display_roundtrip(display) < 0)
            return 1;
    }
    return 0;
}
