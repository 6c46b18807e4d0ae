// SPDX-License-Identifier: MIT
// Micro-benchmarks of the engine's operations, and the floor of rotate(): the two cosines and two sines of its
// angles, computed alone.
//
// Inputs and results pass through benchmark::DoNotOptimize on every iteration, so that no call is folded, hoisted out
// of the loop or dropped. After the loop each benchmark checks the last result: a subnormal value (or a NaN) would
// time the processor's slow paths instead of the engine, and a wrong value would mean the loop measured something
// else. A failed check makes the program exit with 1.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>

#include "orvan_raylib.hpp"

namespace {

using orvan::AffineCard, orvan::HomVec4, orvan::OrvanCamera;

bool g_check_failed = false;

// Marks the benchmark with an error unless `ok` (what must hold: a NaN fails it).
void expect(benchmark::State& state, bool ok, const char* what) {
    if (ok) return;
    g_check_failed = true;
    state.SkipWithError(what);
}

// Times op(in...), each call independent of the others; returns the last result.
template <class Op, class... In>
auto measure(benchmark::State& state, Op op, In... in) {
    decltype(op(in...)) r{};
    for (auto _ : state) {
        (benchmark::DoNotOptimize(in), ...);
        r = op(in...);
        benchmark::DoNotOptimize(r);
    }
    return r;
}

// Zero or a normal number: nothing subnormal, infinite or NaN.
bool ordinary(double v) { return v == 0.0 || std::isnormal(v); }

bool ordinary(HomVec4 v) { return ordinary(v.x) && ordinary(v.y) && ordinary(v.z) && ordinary(v.w); }

// Unit length to well within rounding: the camera stays on S3.
bool unit(HomVec4 v) { return std::fabs(v.norm() - 1.0) < 1e-12; }

bool onSphere(const OrvanCamera& c) {
    return ordinary(c.direction) && ordinary(c.up) && unit(c.direction) && unit(c.up);
}

// The program's camera and the angles it turns by every frame.
OrvanCamera programCamera() { return OrvanCamera::fromCartesian({0.0, 2.0, 6.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0}); }
constexpr double kYaw = 0.005;
constexpr double kPitch = 0.002;
constexpr HomVec4 kA = {0.3, -1.2, 2.5, 1.0};

void BM_dot(benchmark::State& state) {
    const auto dot = [](HomVec4 a, HomVec4 b) { return a.dot(b); };
    const double r = measure(state, dot, kA, HomVec4{-0.7, 0.4, 1.1, 0.5});
    // ((-0.21 + -0.48) + 2.75) + 0.5, rounded step by step.
    expect(state, ordinary(r) && std::fabs(r - 2.56) < 1e-12, "dot: unexpected result");
}
BENCHMARK(BM_dot);

void BM_norm(benchmark::State& state) {
    const auto norm = [](HomVec4 a) { return a.norm(); };
    const double r = measure(state, norm, kA);
    expect(state, ordinary(r) && std::fabs(r - std::sqrt(8.78)) < 1e-12, "norm: unexpected result");
}
BENCHMARK(BM_norm);

// An ordinary input: each component divided by the length.
void BM_normalize(benchmark::State& state) {
    const auto normalize = [](HomVec4 a) { return a.normalize(); };
    const HomVec4 r = measure(state, normalize, kA);
    expect(state, ordinary(r) && unit(r) && r.x > 0.0, "normalize: unexpected result");
}
BENCHMARK(BM_normalize);

// A length below the threshold: the fallback (0, 0, 0, 1). The squares (1e-34 and less) are still normal numbers.
void BM_normalize_fallback(benchmark::State& state) {
    const HomVec4 a = {1e-17, -2e-17, 3e-17, 0.0};
    const auto normalize = [](HomVec4 v) { return v.normalize(); };
    const HomVec4 r = measure(state, normalize, a);
    expect(state, ordinary(a.dot(a)) && r.x == 0.0 && r.y == 0.0 && r.z == 0.0 && r.w == 1.0,
           "normalize fallback: unexpected result");
}
BENCHMARK(BM_normalize_fallback);

// The program's eye (0, 2, 6, 1): z is largest, the longest path through the comparisons.
void BM_pickBestCard(benchmark::State& state) {
    const auto pick = [](HomVec4 a) { return a.pickBestCard(); };
    const AffineCard r = measure(state, pick, HomVec4{0.0, 2.0, 6.0, 1.0});
    expect(state, r == AffineCard::UZ, "pickBestCard: unexpected result");
}
BENCHMARK(BM_pickBestCard);

void BM_HomVec4_fromCartesian(benchmark::State& state) {
    const auto make = [](std::array<double, 3> p) { return HomVec4::fromCartesian(p); };
    const HomVec4 r = measure(state, make, std::array<double, 3>{0.0, 2.0, 6.0});
    expect(state, r.x == 0.0 && r.y == 2.0 && r.z == 6.0 && r.w == 1.0, "HomVec4.fromCartesian: unexpected result");
}
BENCHMARK(BM_HomVec4_fromCartesian);

void BM_OrvanCamera_fromCartesian(benchmark::State& state) {
    using P = std::array<double, 3>;
    const auto make = [](P pos, P target, P up) { return OrvanCamera::fromCartesian(pos, target, up); };
    const OrvanCamera r = measure(state, make, P{0.0, 2.0, 6.0}, P{0.0, 0.0, 0.0}, P{0.0, 1.0, 0.0});
    expect(state, onSphere(r) && ordinary(r.position) && unit(r.position) && r.card == AffineCard::UZ,
           "OrvanCamera.fromCartesian: unexpected result");
}
BENCHMARK(BM_OrvanCamera_fromCartesian);

// rotate() of the same camera by the program's angles on every iteration: independent calls, as the floor below.
void BM_rotate(benchmark::State& state) {
    const auto turn = [](const OrvanCamera& c, double yaw, double pitch) { return c.rotate(yaw, pitch); };
    expect(state, onSphere(measure(state, turn, programCamera(), kYaw, kPitch)), "rotate: unexpected result");
}
BENCHMARK(BM_rotate);

// rotate() as the program uses it: each call turns the camera the previous one returned, so waits for the one before.
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
    expect(state, onSphere(cam), "rotate chained: the camera left S3 or decayed");
}
BENCHMARK(BM_rotate_chained);

// The floor rotate() cannot beat: the cosines and sines of its two angles, written as rotate() writes them (the
// compiler pairs each cos with its sin into one sincos call there and here alike).
void BM_rotate_floor_sincos(benchmark::State& state) {
    const auto sincos = [](double yaw, double pitch) {
        return HomVec4{std::cos(yaw), std::sin(yaw), std::cos(pitch), std::sin(pitch)};
    };
    const HomVec4 r = measure(state, sincos, kYaw, kPitch);
    expect(state,
           ordinary(r) && r.x == std::cos(kYaw) && r.y == std::sin(kYaw) && r.z == std::cos(kPitch) &&
               r.w == std::sin(kPitch),
           "floor: unexpected result");
}
BENCHMARK(BM_rotate_floor_sincos);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_check_failed)
        std::fputs("engine_bench: a benchmark's result check failed; its figures are not valid\n", stderr);
    return g_check_failed ? 1 : 0;
}
