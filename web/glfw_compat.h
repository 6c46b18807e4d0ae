/* SPDX-License-Identifier: MIT */
/*
 * Two GLFW 3.3 calls that raylib 6.0's web platform makes and the GLFW
 * emulation of older emscripten releases (Debian 12's 3.1.6) lacks. In a
 * browser neither has anything to do: the page sizes the canvas, and the
 * canvas has no window attributes nor a content scale of its own to report.
 *
 * scripts/setup-deps.sh force-includes this file into raylib's web build
 * (-include) only when a probe finds the calls missing.
 */
#ifndef ORVAN_GLFW_COMPAT_H
#define ORVAN_GLFW_COMPAT_H

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

typedef void (*GLFWwindowcontentscalefun)(GLFWwindow* window, float xscale, float yscale);

static inline void glfwSetWindowAttrib(GLFWwindow* window, int attrib, int value) {
    (void)window;
    (void)attrib;
    (void)value;
}

static inline GLFWwindowcontentscalefun glfwSetWindowContentScaleCallback(GLFWwindow* window,
                                                                          GLFWwindowcontentscalefun callback) {
    (void)window;
    (void)callback;
    return 0;
}

#endif
