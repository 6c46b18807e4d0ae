// SPDX-License-Identifier: MIT
// Keys and clicks for desktops/kde.py, through kwin's fake-input Wayland
// protocol (org_kde_kwin_fake_input): events enter kwin's input path as a
// real device's would. kwin accepts them from any client when it runs with
// KWIN_WAYLAND_NO_PERMISSION_CHECKS=1.
//
// usage: kde_fake_input click X Y   the pointer to X Y from elsewhere, then a left click
//        kde_fake_input key CODE    press and release an evdev key code (Esc is 1)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

#include "fake-input-client-protocol.h"

static struct org_kde_kwin_fake_input* fake;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    (void)data;
    // version 4: absolute motion (3) and keys (4)
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        fake = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

// Sends what was asked so far and lets kwin handle it before the next event:
// a press and its release in one batch could reach the window as nothing.
static void flush(struct wl_display* display) {
    wl_display_roundtrip(display);
    nanosleep(&(struct timespec){.tv_nsec = 50000000L}, NULL);  // 50 ms
}

static void move_to(struct wl_display* display, double x, double y) {
    org_kde_kwin_fake_input_pointer_motion_absolute(fake, wl_fixed_from_double(x), wl_fixed_from_double(y));
    flush(display);
}

int main(int argc, char** argv) {
    enum { BTN_LEFT = 0x110, RELEASED = 0, PRESSED = 1 };
    int click = argc == 4 && strcmp(argv[1], "click") == 0;
    int key = argc == 3 && strcmp(argv[1], "key") == 0;
    if (!click && !key) {
        fprintf(stderr, "usage: %s click X Y | key CODE\n", argv[0]);
        return 2;
    }
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "kde_fake_input: no Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!fake) {
        fprintf(stderr, "kde_fake_input: the compositor offers no org_kde_kwin_fake_input version 4\n");
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fake, "orvan desktop test", "keys and clicks for a test");
    flush(display);
    if (click) {
        double x = atof(argv[2]);
        double y = atof(argv[3]);
        move_to(display, x - 40, y + 40);  // from elsewhere, so the title bar sees the pointer enter
        move_to(display, x, y);
    }
    const uint32_t code = key ? (uint32_t)strtoul(argv[2], NULL, 10) : 0;
    const uint32_t states[] = {PRESSED, RELEASED};
    for (int i = 0; i < 2; ++i) {
        if (click) org_kde_kwin_fake_input_button(fake, BTN_LEFT, states[i]);
        if (key) org_kde_kwin_fake_input_keyboard_key(fake, code, states[i]);
        flush(display);
    }
    wl_display_disconnect(display);
    return 0;
}
