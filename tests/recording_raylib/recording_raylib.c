/* SPDX-License-Identifier: MIT */
/*
 * A stand-in for the shared raylib (soname libraylib.so.600) that draws
 * nothing: it exports the functions orvan-demo-window calls, writes one line
 * per call with the exact bits of every argument, and reports a close request
 * after a given number of frames.
 *
 * Controlled by the environment of the process it is loaded into:
 *   RECORDING_RAYLIB_LOG        file to write the calls to; unset: record nothing
 *   RECORDING_RAYLIB_FRAMES     frames before WindowShouldClose reports true (default 3)
 *   RECORDING_RAYLIB_NOT_READY  if set to 1, IsWindowReady reports false
 *   RECORDING_RAYLIB_CLOSE_AT   N: a close request (the window's close button)
 *                               arrives during the N-th call, counting every
 *                               call from InitWindow = 1; from then on
 *                               WindowShouldClose reports true
 *
 * Line format: the function name, then its arguments separated by spaces;
 * ints in decimal, floats as the 8 hex digits of their bits, colours as four
 * decimal bytes R G B A, texts as the hex digits of their bytes.
 */
#include <raylib.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static FILE* g_log;
static long g_frames = 3, g_close_queries, g_calls, g_close_at;
static int g_not_ready, g_close_requested;

static void recording_open(void) {
    const char* path = getenv("RECORDING_RAYLIB_LOG");
    const char* frames = getenv("RECORDING_RAYLIB_FRAMES");
    const char* not_ready = getenv("RECORDING_RAYLIB_NOT_READY");
    const char* close_at = getenv("RECORDING_RAYLIB_CLOSE_AT");
    if (frames != NULL) g_frames = strtol(frames, NULL, 10);
    if (close_at != NULL) g_close_at = strtol(close_at, NULL, 10);
    g_not_ready = not_ready != NULL && strcmp(not_ready, "1") == 0;
    if (path != NULL && path[0] != '\0') {
        g_log = fopen(path, "w");
        if (g_log == NULL) {
            perror("recording raylib: cannot open RECORDING_RAYLIB_LOG");
            abort();
        }
    }
}

__attribute__((destructor)) static void recording_close(void) {
    if (g_log != NULL) fclose(g_log);
    g_log = NULL;
}

static void put_float(float v) {
    uint32_t b;
    memcpy(&b, &v, sizeof b);
    fprintf(g_log, " %08x", (unsigned)b);
}

static void put_vector(Vector3 v) {
    put_float(v.x);
    put_float(v.y);
    put_float(v.z);
}

static void put_color(Color c) { fprintf(g_log, " %u %u %u %u", c.r, c.g, c.b, c.a); }

static void put_text(const char* text) {
    fputc(' ', g_log);
    for (const unsigned char* p = (const unsigned char*)text; *p != '\0'; ++p) fprintf(g_log, "%02x", *p);
}

/* Counts the call (the close request arrives during call number g_close_at), then logs it. */
#define RECORD(...)                                         \
    do {                                                    \
        if (++g_calls == g_close_at) g_close_requested = 1; \
        if (g_log == NULL) break;                           \
        __VA_ARGS__;                                        \
        fputc('\n', g_log);                                 \
    } while (0)

void InitWindow(int width, int height, const char* title) {
    recording_open();
    RECORD(fprintf(g_log, "InitWindow %d %d", width, height); put_text(title));
}

bool IsWindowReady(void) {
    RECORD(fputs("IsWindowReady", g_log));
    return !g_not_ready;
}

void SetTargetFPS(int fps) { RECORD(fprintf(g_log, "SetTargetFPS %d", fps)); }

bool WindowShouldClose(void) {
    RECORD(fputs("WindowShouldClose", g_log));
    return ++g_close_queries > g_frames || g_close_requested;
}

void BeginDrawing(void) { RECORD(fputs("BeginDrawing", g_log)); }

void ClearBackground(Color color) { RECORD(fputs("ClearBackground", g_log); put_color(color)); }

void BeginMode3D(Camera3D camera) {
    RECORD(fputs("BeginMode3D", g_log); put_vector(camera.position); put_vector(camera.target); put_vector(camera.up);
           put_float(camera.fovy); fprintf(g_log, " %d", camera.projection));
}

void DrawGrid(int slices, float spacing) { RECORD(fprintf(g_log, "DrawGrid %d", slices); put_float(spacing)); }

void DrawSphere(Vector3 center, float radius, Color color) {
    RECORD(fputs("DrawSphere", g_log); put_vector(center); put_float(radius); put_color(color));
}

void DrawSphereWires(Vector3 center, float radius, int rings, int slices, Color color) {
    RECORD(fputs("DrawSphereWires", g_log); put_vector(center); put_float(radius);
           fprintf(g_log, " %d %d", rings, slices); put_color(color));
}

void DrawCubeWires(Vector3 position, float width, float height, float length, Color color) {
    RECORD(fputs("DrawCubeWires", g_log); put_vector(position); put_float(width); put_float(height); put_float(length);
           put_color(color));
}

void EndMode3D(void) { RECORD(fputs("EndMode3D", g_log)); }

void DrawText(const char* text, int x, int y, int size, Color color) {
    RECORD(fputs("DrawText", g_log); put_text(text); fprintf(g_log, " %d %d %d", x, y, size); put_color(color));
}

void DrawFPS(int x, int y) { RECORD(fprintf(g_log, "DrawFPS %d %d", x, y)); }

void EndDrawing(void) { RECORD(fputs("EndDrawing", g_log)); }

void CloseWindow(void) { RECORD(fputs("CloseWindow", g_log)); }
