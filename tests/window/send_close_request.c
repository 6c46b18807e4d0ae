/* SPDX-License-Identifier: MIT */
/*
 * Sends a window what its close button or the Esc key would, as an event sent
 * to that window alone:
 *   close   an ICCCM WM_PROTOCOLS client message carrying WM_DELETE_WINDOW;
 *           no window manager is needed
 *   esc     a press of the Esc key. It does not pass through the server's
 *           keyboard (as XTEST input would), so no key is left held down when
 *           the window is gone before a release; and no release is sent, since
 *           the press is what closes the program.
 * Usage: send_close_request WINDOW_ID [close|esc]   (id decimal or 0x hex;
 * default close). Exit status 0 once the server has taken the event.
 */
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    const char* what = argc == 3 ? argv[2] : "close";
    if (argc < 2 || argc > 3 || (strcmp(what, "close") != 0 && strcmp(what, "esc") != 0)) {
        fprintf(stderr, "usage: %s WINDOW_ID [close|esc]\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "send_close_request: cannot open display\n");
        return 1;
    }
    const Window window = (Window)strtoul(argv[1], NULL, 0);
    XEvent event = {0};
    long mask = NoEventMask;
    if (strcmp(what, "close") == 0) {
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
        event.xclient.data.l[1] = CurrentTime;
    } else {
        event.xkey.type = KeyPress;
        event.xkey.window = window;
        event.xkey.root = DefaultRootWindow(display);
        event.xkey.subwindow = None;
        event.xkey.time = CurrentTime;
        event.xkey.same_screen = True;
        event.xkey.keycode = XKeysymToKeycode(display, XK_Escape);
        mask = KeyPressMask;
    }
    const Status sent = XSendEvent(display, window, False, mask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent != 0 ? 0 : 1;
}
