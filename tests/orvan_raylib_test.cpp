// SPDX-License-Identifier: MIT
// The engine camera: construction by Gram-Schmidt projection in R4 and turning
// by two angles. Values that involve no sine or cosine are compared by bits;
// those that do are compared within a stated number of ulp, with the expected
// side computed at run time (glibc's sin and cos are not correctly rounded, and
// the compiler's constant folding of them may differ from the run-time result).
#include "orvan_raylib.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "test_bits.hpp"

namespace orvan {
namespace {

using testing::bits;
using testing::expectSameBits;
using testing::expectWithinUlp;
using testing::ofBits;
using testing::parts;
using testing::ulpDistance;

constexpr HomVec4 kFallback = {0.0, 0.0, 0.0, 1.0};

// Opaque to the optimiser: keeps sin and cos of these angles at run time.
volatile double g_yaw = 0.005;
volatile double g_pitch = 0.002;
const volatile double g_zero = 0.0;

OrvanCamera startCamera() { return OrvanCamera::fromCartesian({0.0, 2.0, 6.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0}); }

// Position, fovy and card are those of the camera before the turn, to the bit.
void expectSameSeat(const OrvanCamera& turned, const OrvanCamera& start) {
    expectSameBits(turned.position, start.position);
    EXPECT_EQ(bits(turned.fovy), bits(start.fovy));
    EXPECT_EQ(turned.card, start.card);
}

TEST(FromCartesian, StartCameraBitPatterns) {
    const OrvanCamera cam = startCamera();
    expectSameBits(cam.position, ofBits(0x0, 0x3fd3fd8077e70577, 0x3fedfc40b3da8832, 0x3fc3fd8077e70577));
    expectSameBits(cam.direction, ofBits(0x0, 0xbfa9492f477d78e2, 0xbfc2f6e3759e1aab, 0x3fef9b7b195cd71c));
    expectSameBits(cam.up, ofBits(0x0, 0x3fee5b9d136c6d97, 0xbfd43d136248490f, 0xbc70dd90273c3ce2));
    EXPECT_EQ(bits(cam.fovy), 0x3ff0c152382d7366U);
    EXPECT_EQ(cam.card, AffineCard::UZ);
}

TEST(FromCartesian, StartCameraIsCloseToTheExactFrame) {
    // The exact frame: (0, 2, 6, 1)/sqrt 41, (0, -1, -3, 20)/sqrt 410 and
    // (0, 3, -1, 0)/sqrt 10, evaluated in long double and rounded once. The
    // square roots are taken at run time: clang 19 crashes folding a square
    // root of wasm's 128-bit long double.
    const auto exact = [](long double num, long double square) {
        const volatile long double s = square;
        return static_cast<double>(num / std::sqrt(s));
    };
    const OrvanCamera cam = startCamera();
    expectWithinUlp(cam.position, {0.0, exact(2, 41), exact(6, 41), exact(1, 41)}, 2);
    expectWithinUlp(cam.direction, {0.0, exact(-1, 410), exact(-3, 410), exact(20, 410)}, 4);
    expectWithinUlp(cam.up, {0.0, exact(3, 10), exact(-1, 10)}, 4, 3);
    // up.w is a rounding residue, not an exact zero.
    EXPECT_NE(cam.up.w, 0.0);
    EXPECT_LT(std::fabs(cam.up.w), 1e-16);
}

TEST(FromCartesian, FieldOfViewIsTheDoubleNearestPiOverThree) {
    const OrvanCamera cam = startCamera();
    EXPECT_EQ(bits(cam.fovy), bits(1.0471975511965979));
    const long double third = 3.141592653589793238462643383279502884L / 3.0L;
    EXPECT_EQ(bits(cam.fovy), bits(static_cast<double>(third)));
    EXPECT_EQ(ulpDistance(cam.fovy, 3.141592653589793 / 3.0), 1) << "not pi/3 computed in double";
}

TEST(FromCartesian, FrameIsOrthonormalAndTangent) {
    const std::array<double, 3> eyes[] = {{0, 2, 6}, {1, -2, 3}, {-4, 0.5, 0.25}, {100, 200, -300}};
    const std::array<double, 3> targets[] = {{0, 0, 0}, {1, 1, 1}, {-3, 2, 9}, {0, 0, 1}};
    for (const auto& eye : eyes) {
        for (const auto& target : targets) {
            const OrvanCamera cam = OrvanCamera::fromCartesian(eye, target, {0.0, 1.0, 0.0});
            SCOPED_TRACE(cam.position);
            EXPECT_NEAR(cam.position.norm(), 1.0, 1e-15);
            EXPECT_NEAR(cam.direction.norm(), 1.0, 1e-15);
            EXPECT_NEAR(cam.up.norm(), 1.0, 1e-15);
            // One classical Gram-Schmidt pass: orthogonal to a few ulp.
            EXPECT_NEAR(cam.direction.dot(cam.position), 0.0, 1e-14);
            EXPECT_NEAR(cam.up.dot(cam.position), 0.0, 1e-14);
            EXPECT_NEAR(cam.up.dot(cam.direction), 0.0, 1e-14);
            EXPECT_EQ(cam.card, cam.position.pickBestCard());
        }
    }
}

TEST(FromCartesian, TargetAtTheEyeGivesFallbackDirection) {
    const OrvanCamera cam = OrvanCamera::fromCartesian({1.0, 2.0, 3.0}, {1.0, 2.0, 3.0}, {0.0, 1.0, 0.0});
    expectSameBits(cam.direction, kFallback);
    // up is still the hint made orthogonal to the position.
    EXPECT_NEAR(cam.up.norm(), 1.0, 1e-15);
    EXPECT_NEAR(cam.up.dot(cam.position), 0.0, 1e-15);
}

TEST(FromCartesian, HintInTheSpanGivesFallbackUp) {
    const OrvanCamera cam = OrvanCamera::fromCartesian({0.0, 5.0, 0.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0});
    expectSameBits(cam.up, kFallback);
    EXPECT_EQ(cam.card, AffineCard::UY);
    // A zero hint falls back in the same way.
    expectSameBits(OrvanCamera::fromCartesian({0.0, 2.0, 6.0}, {0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}).up, kFallback);
}

TEST(FromCartesian, NonFiniteInputPropagatesWithoutTrapping) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const OrvanCamera cam = OrvanCamera::fromCartesian({nan, 0.0, 0.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0});
    EXPECT_TRUE(std::isnan(cam.position.x));
    EXPECT_TRUE(std::isnan(cam.direction.w));
    EXPECT_EQ(bits(cam.fovy), bits(kDefaultFovy));
}

TEST(Rotate, ZeroAnglesReturnTheStartCameraUnchanged) {
    const OrvanCamera start = startCamera();
    const OrvanCamera turned = start.rotate(g_zero, g_zero);
    expectSameBits(turned.direction, start.direction);
    expectSameBits(turned.up, start.up);
    expectSameSeat(turned, start);
}

TEST(Rotate, OneTurnMatchesTheClosedForm) {
    // For the start camera right is a positive multiple of (1, 0, 0, 0), so the
    // turned direction is normalize(cp*(cy*d + sy*u) + sp*(1, 0, 0, 0)) and the
    // turned up is normalize(-sy*d + cy*u). Evaluated here in long double from
    // the same run-time cosines and sines, rounded once.
    const OrvanCamera start = startCamera();
    const auto wide = [](double v) { return static_cast<long double>(v); };
    const long double cy = wide(std::cos(g_yaw));
    const long double sy = wide(std::sin(g_yaw));
    const long double cp = wide(std::cos(g_pitch));
    const long double sp = wide(std::sin(g_pitch));
    const auto d = parts(start.direction);
    const auto u = parts(start.up);
    std::array<long double, 4> dir{};
    std::array<long double, 4> up{};
    for (std::size_t c = 0; c < 4; ++c) {
        dir[c] = cp * (cy * wide(d[c]) + sy * wide(u[c])) + (c == 0 ? sp : 0.0L);
        up[c] = -sy * wide(d[c]) + cy * wide(u[c]);
    }
    const auto rounded_unit = [](const std::array<long double, 4>& v) {
        const long double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[3] * v[3]);
        return std::array<double, 4>{double(v[0] / len), double(v[1] / len), double(v[2] / len), double(v[3] / len)};
    };
    const std::array<double, 4> want_up = rounded_unit(up);

    const OrvanCamera turned = start.rotate(g_yaw, g_pitch);
    expectWithinUlp(turned.direction, rounded_unit(dir), 1);
    expectWithinUlp(turned.up, want_up, 1, 3);
    EXPECT_NEAR(turned.up.w, want_up[3], 1e-17);  // a rounding residue of order 1e-17: compared absolutely
    expectSameSeat(turned, start);
}

TEST(Rotate, ParallelDirectionAndUpMixInTheFallback) {
    // Zero x, y, z part of the direction (the target-at-eye camera): right is
    // zero, right_norm is (0, 0, 0, 1), and the pitched direction stays (0, 0, 0, 1).
    const OrvanCamera at_eye = OrvanCamera::fromCartesian({1.0, 2.0, 3.0}, {1.0, 2.0, 3.0}, {0.0, 1.0, 0.0});
    expectSameBits(at_eye.rotate(g_zero, g_pitch).direction, kFallback);

    // Parallel x, y, z parts: pitch swings the direction towards (0, 0, 0, 1).
    const OrvanCamera parallel = {{0, 0, 0, 1}, {1, 0, 0, 0}, {-1, 0, 0, 0}, kDefaultFovy, AffineCard::UW};
    const OrvanCamera turned = parallel.rotate(g_zero, g_pitch);
    EXPECT_LE(ulpDistance(turned.direction.x, std::cos(g_pitch)), 1);
    EXPECT_LE(ulpDistance(turned.direction.w, std::sin(g_pitch)), 1);
    EXPECT_EQ(turned.direction.y, 0.0);
    EXPECT_EQ(turned.direction.z, 0.0);
}

TEST(Rotate, NaNAnglesGiveNaNFrameAndKeepThePosition) {
    const OrvanCamera start = startCamera();
    const OrvanCamera turned = start.rotate(std::numeric_limits<double>::quiet_NaN(), 0.0);
    EXPECT_TRUE(std::isnan(turned.direction.y) && std::isnan(turned.up.y));
    expectSameBits(turned.position, start.position);
}

TEST(Rotate, RepeatedTurnsStayOrthonormalButLeaveTheTangentSpace) {
    const OrvanCamera start = startCamera();
    OrvanCamera cam = start;
    double worst_dir_up = 0.0;
    for (int n = 1; n <= 1000; ++n) {
        cam = cam.rotate(g_yaw, g_pitch);
        worst_dir_up = std::fmax(worst_dir_up, std::fabs(cam.direction.dot(cam.up)));
        ASSERT_NEAR(cam.direction.norm(), 1.0, 1e-15) << "after " << n << " turns";
        ASSERT_NEAR(cam.up.norm(), 1.0, 1e-15) << "after " << n << " turns";
        const double drift = cam.direction.dot(cam.position);
        switch (n) {
            case 1: EXPECT_NEAR(drift, 0.0, 1e-15); break;
            case 2: EXPECT_NEAR(drift, 2.5e-5, 0.05e-5); break;
            case 100: EXPECT_NEAR(drift, 0.1, 0.01); break;
            case 1000: EXPECT_NEAR(drift, -0.73, 0.01); break;
            default: break;
        }
    }
    EXPECT_LT(worst_dir_up, 1e-14);
    expectSameSeat(cam, start);
}

}  // namespace
}  // namespace orvan
