// SPDX-License-Identifier: MIT
// orvan-demo-window: a live 3-D viewport over raylib, with the engine camera
// turning beside it every frame.
//
// The scene and the clock are single-precision arithmetic, every operation
// rounded on its own (the build turns contraction off for this file), with the
// single-precision sine and cosine.
//
// One program for the desktop and the browser (WebAssembly): the work of a
// frame is one function, and only the loop that calls it differs, below.
#include <raylib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "orvan_raylib.hpp"

namespace {

struct Scene {
    orvan::OrvanCamera cam = orvan::OrvanCamera::fromCartesian({0.0, 2.0, 6.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0});
    float t = 0.0f;
};

// One frame: update, then draw.
void frame(Scene& scene) {
    const Color background = {10, 10, 18, 255};
    const Color sphere_colour = {100, 200, 255, 255};
    const Color wire_colour = {0, 255, 200, 150};
    const Color cube_colour = {255, 180, 50, 255};
    const Color title_colour = {120, 200, 255, 255};
    const Color device_colour = {180, 180, 180, 255};

    // Update
    scene.t = scene.t + 0.016f;
    const float t = scene.t;
    scene.cam = scene.cam.rotate(0.005, 0.002);  // the engine camera turns; drawing does not read it

    Camera3D ray_cam = {};
    ray_cam.position = {6.0f * std::cos(0.5f * t), 3.0f, 6.0f * std::sin(0.5f * t)};
    ray_cam.target = {0.0f, 0.0f, 0.0f};
    ray_cam.up = {0.0f, 1.0f, 0.0f};
    ray_cam.fovy = 60.0f;
    ray_cam.projection = CAMERA_PERSPECTIVE;

    // Draw
    BeginDrawing();
    ClearBackground(background);

    BeginMode3D(ray_cam);
    DrawGrid(20, 1.0f);
    for (std::uint64_t i = 0; i < 36; ++i) {
        const float angle = static_cast<float>(i) * 0.17453292f + t;
        const float px = std::cos(angle) * 3.0f;
        const float pz = std::sin(angle) * 3.0f;
        const float py = std::sin(2.0f * angle + t);
        DrawSphere({px, py, pz}, 0.15f, sphere_colour);
        DrawSphereWires({px, py, pz}, 0.16f, 8, 8, wire_colour);
    }
    DrawCubeWires({0.0f, 0.0f, 0.0f}, 2.0f, 2.0f, 2.0f, cube_colour);
    EndMode3D();

    DrawText("ORVAN ENGINE: S3 / RP3 Projective Geometry Live Viewport", 20, 20, 20, title_colour);
    DrawText("Rendering on NVIDIA GeForce GTX 1060 via Raylib/OpenGL", 20, 50, 14, device_colour);
    DrawFPS(1200, 20);
    EndDrawing();
}

}  // namespace

// What differs by platform: what the process sets up before the window, and the
// loop that runs the frames.
#if defined(__EMSCRIPTEN__)
#include <emscripten/emscripten.h>
namespace {
void preparePlatform() {}
// The browser calls the frame on its own frame clock (requestAnimationFrame);
// the page never closes the window. Does not return.
void runFrames(Scene& scene) {
    emscripten_set_main_loop_arg([](void* arg) { frame(*static_cast<Scene*>(arg)); }, &scene, 0, 1);
}
}  // namespace
#else
#include <malloc.h>
namespace {
void preparePlatform() {
    // Mesa's software renderer frees and reallocates megabytes of buffers every
    // frame. By default the C library hands that memory back to the kernel each
    // time and faults it in again on the next frame, which costs about half the
    // frame rate; keep up to 64 MiB of it instead.
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
}
// Until Esc or the window's close button; raylib paces the frames.
void runFrames(Scene& scene) {
    SetTargetFPS(60);
    while (!WindowShouldClose()) frame(scene);
}
}  // namespace
#endif

int main() {
    preparePlatform();
    InitWindow(1280, 720, "QUENDRA / Orvan Engine \u2014 Live GPU Window (Raylib/OpenGL)");
    if (!IsWindowReady()) {
        // raylib would crash closing a window it never opened.
        std::fputs(
            "orvan-demo-window: the window could not be opened; a graphical display with OpenGL 2.1 or later is "
            "needed (raylib's lines above say what failed)\n",
            stderr);
        return 1;
    }
    // Static: in the browser the frames run after main has been left.
    static Scene scene;
    runFrames(scene);
    CloseWindow();
    return 0;
}
