// SPDX-License-Identifier: MIT
// The shipped orvan-demo-window, unmodified, run against the recording raylib:
// every call it makes, with the bits of every argument, is compared with a
// call sequence built here independently.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ProgramRun {
    int exit_status = -1;  // -1 unless the process exited normally
    int signal = 0;
    std::string out;
    std::string err;
    std::vector<std::string> calls;
};

// The contents of a file, which is then removed.
std::string takeFile(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    std::remove(path.c_str());
    return s.str();
}

// Runs the program with the recording raylib first on the library path. With
// close_at > 0 a close request arrives during call number close_at.
ProgramRun runProgram(long frames, bool ready = true, long close_at = 0) {
    const std::string dir = ::testing::TempDir() + "demo_window_" + std::to_string(::getpid());
    const std::string log = dir + ".log";
    const std::string out = dir + ".out";
    const std::string err = dir + ".err";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const char* old_path = std::getenv("LD_LIBRARY_PATH");
        std::string path = RECORDING_RAYLIB_DIR;
        if (old_path != nullptr && *old_path != '\0') path += std::string(":") + old_path;
        ::setenv("LD_LIBRARY_PATH", path.c_str(), 1);
        ::setenv("RECORDING_RAYLIB_LOG", log.c_str(), 1);
        ::setenv("RECORDING_RAYLIB_FRAMES", std::to_string(frames).c_str(), 1);
        if (!ready) ::setenv("RECORDING_RAYLIB_NOT_READY", "1", 1);
        if (close_at > 0) ::setenv("RECORDING_RAYLIB_CLOSE_AT", std::to_string(close_at).c_str(), 1);
        if (std::freopen(out.c_str(), "w", stdout) == nullptr || std::freopen(err.c_str(), "w", stderr) == nullptr) {
            ::_exit(126);
        }
        ::execl(ORVAN_DEMO_EXE, ORVAN_DEMO_EXE, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ProgramRun run;
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    run.out = takeFile(out);
    run.err = takeFile(err);
    std::istringstream lines(takeFile(log));
    for (std::string line; std::getline(lines, line);) run.calls.push_back(line);
    return run;
}

// The expected calls, built independently.

std::string hex(float v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(std::bit_cast<std::uint32_t>(v)));
    return buf;
}

std::string hex(const std::string& text) {
    std::ostringstream s;
    for (const char c : text) s << std::hex << std::setw(2) << std::setfill('0') << int{static_cast<unsigned char>(c)};
    return s.str();
}

// Every single-precision operation below goes through a volatile float, so it
// is rounded on its own whatever the compiler would otherwise contract.
float rounded(float v) {
    volatile float r = v;
    return r;
}

const std::string kTitle = "QUENDRA / Orvan Engine \xE2\x80\x94 Live GPU Window (Raylib/OpenGL)";
const std::string kTitleOverlay = "ORVAN ENGINE: S3 / RP3 Projective Geometry Live Viewport";
const std::string kDeviceOverlay = "Rendering on NVIDIA GeForce GTX 1060 via Raylib/OpenGL";

std::vector<std::string> expectedFrame(float t) {
    std::vector<std::string> calls = {"WindowShouldClose", "BeginDrawing", "ClearBackground 10 10 18 255"};
    const float half_t = rounded(0.5f * t);
    const float cam_x = rounded(6.0f * std::cos(half_t));
    const float cam_z = rounded(6.0f * std::sin(half_t));
    calls.push_back("BeginMode3D " + hex(cam_x) + " " + hex(3.0f) + " " + hex(cam_z) + " 00000000 00000000 00000000 " +
                    "00000000 3f800000 00000000 " + hex(60.0f) + " 0");  // CAMERA_PERSPECTIVE is 0
    calls.push_back("DrawGrid 20 3f800000");
    for (int i = 0; i < 36; ++i) {
        const float angle = rounded(rounded(static_cast<float>(i) * 0.17453292f) + t);
        const float px = rounded(std::cos(angle) * 3.0f);
        const float pz = rounded(std::sin(angle) * 3.0f);
        const float py = std::sin(rounded(rounded(2.0f * angle) + t));
        const std::string centre = hex(px) + " " + hex(py) + " " + hex(pz);
        calls.push_back("DrawSphere " + centre + " " + hex(0.15f) + " 100 200 255 255");
        calls.push_back("DrawSphereWires " + centre + " " + hex(0.16f) + " 8 8 0 255 200 150");
    }
    calls.insert(calls.end(),
                 {"DrawCubeWires 00000000 00000000 00000000 40000000 40000000 40000000 255 180 50 255", "EndMode3D",
                  "DrawText " + hex(kTitleOverlay) + " 20 20 20 120 200 255 255",
                  "DrawText " + hex(kDeviceOverlay) + " 20 50 14 180 180 180 255", "DrawFPS 1200 20", "EndDrawing"});
    return calls;
}

std::vector<std::string> expectedRun(long frames) {
    std::vector<std::string> calls = {"InitWindow 1280 720 " + hex(kTitle), "IsWindowReady", "SetTargetFPS 60"};
    float t = 0.0f;
    for (long f = 0; f < frames; ++f) {
        t = rounded(t + 0.016f);
        std::ranges::copy(expectedFrame(t), std::back_inserter(calls));
    }
    calls.insert(calls.end(), {"WindowShouldClose", "CloseWindow"});
    return calls;
}

// A run that ended by itself with exit_status, wrote err and nothing else, and
// made exactly the calls want.
void expectRun(const ProgramRun& run, const std::vector<std::string>& want, int exit_status = 0,
               const std::string& err = "") {
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exit_status, exit_status);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, err);
    ASSERT_FALSE(run.calls.empty()) << "nothing recorded: was the recording raylib loaded?";
    for (std::size_t k = 0; k < std::min(run.calls.size(), want.size()); ++k) {
        ASSERT_EQ(run.calls[k], want[k]) << "call " << k;
    }
    ASSERT_EQ(run.calls.size(), want.size());
}

TEST(CallSequence, ShortRunFromStartUpToShutDown) { expectRun(runProgram(3), expectedRun(3)); }

// 600 frames: ten seconds of animation; t is summed in single precision, so the
// last frames differ from 0.016 * n.
TEST(CallSequence, ClockIsARunningSingleSum) { expectRun(runProgram(600), expectedRun(600)); }

TEST(CallSequence, CloseRequestedBeforeTheFirstFrame) { expectRun(runProgram(0), expectedRun(0)); }

TEST(CloseRequest, ArrivingMidFrameTakesEffectAfterThatFrame) {
    // A request that arrives during any call of the third frame lets that frame
    // finish to EndDrawing; the next WindowShouldClose reports it, and the
    // window is closed: exactly the calls of a three-frame run.
    const std::size_t frame_calls = expectedFrame(0.016f).size();
    const std::size_t third_frame = 3 + 2 * frame_calls;  // index of its first call
    const std::vector<std::string> want = expectedRun(3);
    for (const std::size_t offset :
         {std::size_t{1}, std::size_t{2}, frame_calls / 2, frame_calls - 2, frame_calls - 1}) {
        const std::size_t index = third_frame + offset;
        SCOPED_TRACE("request during call " + std::to_string(index + 1) + ": " + want[index]);
        expectRun(runProgram(1000, /*ready=*/true, static_cast<long>(index + 1)), want);
    }
}

TEST(CloseRequest, ArrivingWhileTheLoopAsksEndsBeforeTheNextFrame) {
    // During the WindowShouldClose that opens the third frame: no third frame.
    const std::size_t third_frame = 3 + 2 * expectedFrame(0.016f).size();
    expectRun(runProgram(1000, /*ready=*/true, static_cast<long>(third_frame + 1)), expectedRun(2));
}

TEST(NoDisplay, WindowNotReadyExitsOneWithAMessage) {
    expectRun(runProgram(3, /*ready=*/false), {"InitWindow 1280 720 " + hex(kTitle), "IsWindowReady"}, 1,
              "orvan-demo-window: the window could not be opened; a graphical display with OpenGL 2.1 or later is "
              "needed (raylib's lines above say what failed)\n");
}

TEST(Scene, SpheresStandOnTheCylinderInOppositePairs) {
    const ProgramRun run = runProgram(50);
    ASSERT_EQ(run.exit_status, 0);
    std::vector<std::array<float, 3>> centres;
    for (const std::string& call : run.calls) {
        if (call.rfind("DrawSphere ", 0) != 0) continue;
        std::istringstream in(call.substr(11));
        std::array<std::uint32_t, 3> b{};
        in >> std::hex >> b[0] >> b[1] >> b[2];
        ASSERT_FALSE(in.fail()) << call;
        centres.push_back({std::bit_cast<float>(b[0]), std::bit_cast<float>(b[1]), std::bit_cast<float>(b[2])});
    }
    ASSERT_EQ(centres.size(), 50U * 36U);
    for (std::size_t k = 0; k < centres.size(); ++k) {
        const auto& [x, y, z] = centres[k];
        EXPECT_NEAR(std::hypot(x, z), 3.0f, 1e-5f);
        EXPECT_LE(std::fabs(y), 1.0f);
        if (k % 36 < 18) {  // sphere i + 18 is opposite sphere i, at the same height
            const auto& o = centres[k + 18];
            EXPECT_NEAR(x, -o[0], 1e-4f);
            EXPECT_NEAR(z, -o[2], 1e-4f);
            EXPECT_NEAR(y, o[1], 1e-4f);
        }
    }
}

}  // namespace
