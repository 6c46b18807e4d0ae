// SPDX-License-Identifier: MIT
// Micro-benchmarks of the engine's operations, and the floor of rotate(): the
// two cosines and two sines of its angles, computed alone.
//
// Inputs pass through benchmark::DoNotOptimize on every iteration, so the
// compiler can neither fold a call with constant arguments nor hoist it out of
// the loop; results pass through it too, so no call is dropped. After the
// loop, each benchmark checks the last result: a subnormal value (or a NaN)
// would time the processor's slow paths instead of the engine, and a wrong
// value would mean the loop measured something else. A failed check marks the
// benchmark with an error and makes the program exit with status 1.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>

#include "orvan_raylib.hpp"

namespace {

using orvan::AffineCard;
using orvan::HomVec4;
using orvan::OrvanCamera;

bool g_check_failed = false;

// Marks the benchmark with an error unless `ok` holds (written as what must
// hold, so that a NaN anywhere fails it).
void expect(benchmark::State& state, bool ok, const char* what) {
    if (ok) return;
    g_check_failed = true;
    state.SkipWithError(what);
}

// Zero or a normal number: nothing subnormal, infinite or NaN.
bool ordinary(double v) { return v == 0.0 || std::isnormal(v); }

bool ordinary(HomVec4 v) { return ordinary(v.x) && ordinary(v.y) && ordinary(v.z) && ordinary(v.w); }

// Unit length to well within rounding: the camera stays on S3.
bool unit(HomVec4 v) { return std::fabs(v.norm() - 1.0) < 1e-12; }

// The program's camera and the angles it turns by every frame.
OrvanCamera programCamera() { return OrvanCamera::fromCartesian({0.0, 2.0, 6.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0}); }
constexpr double kYaw = 0.005;
constexpr double kPitch = 0.002;

void BM_dot(benchmark::State& state) {
    HomVec4 a = {0.3, -1.2, 2.5, 1.0};
    HomVec4 b = {-0.7, 0.4, 1.1, 0.5};
    double r = 0.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        r = a.dot(b);
        benchmark::DoNotOptimize(r);
    }
    // ((-0.21 + -0.48) + 2.75) + 0.5, rounded step by step.
    expect(state, ordinary(r) && std::fabs(r - 2.56) < 1e-12, "dot: unexpected result");
}
BENCHMARK(BM_dot);

void BM_norm(benchmark::State& state) {
    HomVec4 a = {0.3, -1.2, 2.5, 1.0};
    double r = 0.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        r = a.norm();
        benchmark::DoNotOptimize(r);
    }
    expect(state, ordinary(r) && std::fabs(r - std::sqrt(8.78)) < 1e-12, "norm: unexpected result");
}
BENCHMARK(BM_norm);

// An ordinary input: each component divided by the length.
void BM_normalize(benchmark::State& state) {
    HomVec4 a = {0.3, -1.2, 2.5, 1.0};
    HomVec4 r = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        r = a.normalize();
        benchmark::DoNotOptimize(r);
    }
    expect(state, ordinary(r) && unit(r) && r.x > 0.0, "normalize: unexpected result");
}
BENCHMARK(BM_normalize);

// A length below the threshold: the fallback (0, 0, 0, 1). The squares
// (1e-34 and less) are still normal numbers.
void BM_normalize_fallback(benchmark::State& state) {
    HomVec4 a = {1e-17, -2e-17, 3e-17, 0.0};
    HomVec4 r = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        r = a.normalize();
        benchmark::DoNotOptimize(r);
    }
    expect(state, ordinary(a.dot(a)) && r.x == 0.0 && r.y == 0.0 && r.z == 0.0 && r.w == 1.0,
           "normalize fallback: unexpected result");
}
BENCHMARK(BM_normalize_fallback);

// The program's eye (0, 2, 6, 1): z is largest, the longest path through the comparisons.
void BM_pickBestCard(benchmark::State& state) {
    HomVec4 a = {0.0, 2.0, 6.0, 1.0};
    AffineCard r = AffineCard::UW;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        r = a.pickBestCard();
        benchmark::DoNotOptimize(r);
    }
    expect(state, r == AffineCard::UZ, "pickBestCard: unexpected result");
}
BENCHMARK(BM_pickBestCard);

void BM_HomVec4_fromCartesian(benchmark::State& state) {
    std::array<double, 3> p = {0.0, 2.0, 6.0};
    HomVec4 r = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(p);
        r = HomVec4::fromCartesian(p);
        benchmark::DoNotOptimize(r);
    }
    expect(state, r.x == 0.0 && r.y == 2.0 && r.z == 6.0 && r.w == 1.0, "HomVec4.fromCartesian: unexpected result");
}
BENCHMARK(BM_HomVec4_fromCartesian);

void BM_OrvanCamera_fromCartesian(benchmark::State& state) {
    std::array<double, 3> pos = {0.0, 2.0, 6.0};
    std::array<double, 3> target = {0.0, 0.0, 0.0};
    std::array<double, 3> up = {0.0, 1.0, 0.0};
    OrvanCamera r = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(pos);
        benchmark::DoNotOptimize(target);
        benchmark::DoNotOptimize(up);
        r = OrvanCamera::fromCartesian(pos, target, up);
        benchmark::DoNotOptimize(r);
    }
    expect(state,
           ordinary(r.position) && ordinary(r.direction) && ordinary(r.up) && unit(r.position) && unit(r.direction) &&
               unit(r.up) && r.card == AffineCard::UZ,
           "OrvanCamera.fromCartesian: unexpected result");
}
BENCHMARK(BM_OrvanCamera_fromCartesian);

// rotate() of the same camera by the program's angles on every iteration:
// independent calls, as the floor below.
void BM_rotate(benchmark::State& state) {
    OrvanCamera cam = programCamera();
    double yaw = kYaw;
    double pitch = kPitch;
    OrvanCamera r = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(cam);
        benchmark::DoNotOptimize(yaw);
        benchmark::DoNotOptimize(pitch);
        r = cam.rotate(yaw, pitch);
        benchmark::DoNotOptimize(r);
    }
    expect(state, ordinary(r.direction) && ordinary(r.up) && unit(r.direction) && unit(r.up),
           "rotate: unexpected result");
}
BENCHMARK(BM_rotate);

// rotate() as the program uses it: each call turns the camera the previous
// one returned, so every call waits for the one before.
void BM_rotate_chained(benchmark::State& state) {
    OrvanCamera cam = programCamera();
    double yaw = kYaw;
    double pitch = kPitch;
    for (auto _ : state) {
        benchmark::DoNotOptimize(yaw);
        benchmark::DoNotOptimize(pitch);
        cam = cam.rotate(yaw, pitch);
        benchmark::DoNotOptimize(cam);
    }
    expect(state, ordinary(cam.direction) && ordinary(cam.up) && unit(cam.direction) && unit(cam.up),
           "rotate chained: the camera left S3 or decayed");
}
BENCHMARK(BM_rotate_chained);

// The floor rotate() cannot beat: the cosines and sines of its two angles,
// written as rotate() writes them (the compiler pairs each cos with its sin
// into one sincos call there and here alike).
void BM_rotate_floor_sincos(benchmark::State& state) {
    double yaw = kYaw;
    double pitch = kPitch;
    std::array<double, 4> last = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(yaw);
        benchmark::DoNotOptimize(pitch);
        double cos_yaw = std::cos(yaw);
        double sin_yaw = std::sin(yaw);
        double cos_pitch = std::cos(pitch);
        double sin_pitch = std::sin(pitch);
        benchmark::DoNotOptimize(cos_yaw);
        benchmark::DoNotOptimize(sin_yaw);
        benchmark::DoNotOptimize(cos_pitch);
        benchmark::DoNotOptimize(sin_pitch);
        last = {cos_yaw, sin_yaw, cos_pitch, sin_pitch};
    }
    expect(state,
           ordinary(last[0]) && ordinary(last[1]) && ordinary(last[2]) && ordinary(last[3]) &&
               last[0] == std::cos(kYaw) && last[1] == std::sin(kYaw) && last[2] == std::cos(kPitch) &&
               last[3] == std::sin(kPitch),
           "floor: unexpected result");
}
BENCHMARK(BM_rotate_floor_sincos);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_check_failed) {
        std::fputs("engine_bench: a benchmark's result check failed; its figures are not valid\n", stderr);
        return 1;
    }
    return 0;
}
