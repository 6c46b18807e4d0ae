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
using testing::fromBits;
using testing::ulpDistance;

// Opaque to the optimiser: keeps sin and cos of these angles at run time.
volatile double g_yaw = 0.005;
volatile double g_pitch = 0.002;

OrvanCamera startCamera() { return OrvanCamera::fromCartesian({0.0, 2.0, 6.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0}); }

void expectBits(const HomVec4& v, std::uint64_t x, std::uint64_t y, std::uint64_t z, std::uint64_t w) {
    EXPECT_EQ(bits(v.x), x) << v.x;
    EXPECT_EQ(bits(v.y), y) << v.y;
    EXPECT_EQ(bits(v.z), z) << v.z;
    EXPECT_EQ(bits(v.w), w) << v.w;
}

void expectSameBits(const HomVec4& a, const HomVec4& b) { expectBits(a, bits(b.x), bits(b.y), bits(b.z), bits(b.w)); }

void expectSameCamera(const OrvanCamera& a, const OrvanCamera& b) {
    expectSameBits(a.position, b.position);
    expectSameBits(a.direction, b.direction);
    expectSameBits(a.up, b.up);
    EXPECT_EQ(bits(a.fovy), bits(b.fovy));
    EXPECT_EQ(a.card, b.card);
}

// ---- fromCartesian ----------------------------------------------------------

TEST(FromCartesian, StartCameraBitPatterns) {
    const OrvanCamera cam = startCamera();
    expectBits(cam.position, 0x0, 0x3fd3fd8077e70577, 0x3fedfc40b3da8832, 0x3fc3fd8077e70577);
    expectBits(cam.direction, 0x0, 0xbfa9492f477d78e2, 0xbfc2f6e3759e1aab, 0x3fef9b7b195cd71c);
    expectBits(cam.up, 0x0, 0x3fee5b9d136c6d97, 0xbfd43d136248490f, 0xbc70dd90273c3ce2);
    EXPECT_EQ(bits(cam.fovy), 0x3ff0c152382d7366U);
    EXPECT_EQ(cam.card, AffineCard::UZ);
}

TEST(FromCartesian, StartCameraIsCloseToTheExactFrame) {
    // The exact frame: (0, 2, 6, 1)/sqrt 41, (0, -1, -3, 20)/sqrt 410 and
    // (0, 3, -1, 0)/sqrt 10, evaluated in long double and rounded once. The
    // square roots are taken at run time: clang 19 crashes folding a square
    // root of wasm's 128-bit long double.
    volatile long double n41 = 41.0L;
    volatile long double n410 = 410.0L;
    volatile long double n10 = 10.0L;
    const long double r41 = std::sqrt(n41);
    const long double r410 = std::sqrt(n410);
    const long double r10 = std::sqrt(n10);
    const double want_pos[] = {0.0, double(2 / r41), double(6 / r41), double(1 / r41)};
    const double want_dir[] = {0.0, double(-1 / r410), double(-3 / r410), double(20 / r410)};
    const double want_up[] = {0.0, double(3 / r10), double(-1 / r10), 0.0};
    const OrvanCamera cam = startCamera();
    const double got_pos[] = {cam.position.x, cam.position.y, cam.position.z, cam.position.w};
    const double got_dir[] = {cam.direction.x, cam.direction.y, cam.direction.z, cam.direction.w};
    const double got_up[] = {cam.up.x, cam.up.y, cam.up.z, cam.up.w};
    for (int c = 0; c < 4; ++c) {
        EXPECT_LE(ulpDistance(got_pos[c], want_pos[c]), 2) << "position " << c;
        EXPECT_LE(ulpDistance(got_dir[c], want_dir[c]), 4) << "direction " << c;
        if (c != 3) {
            EXPECT_LE(ulpDistance(got_up[c], want_up[c]), 4) << "up " << c;
        }
    }
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
    expectBits(cam.direction, 0x0, 0x0, 0x0, bits(1.0));
    // up is still the hint made orthogonal to the position.
    EXPECT_NEAR(cam.up.norm(), 1.0, 1e-15);
    EXPECT_NEAR(cam.up.dot(cam.position), 0.0, 1e-15);
}

TEST(FromCartesian, HintInTheSpanGivesFallbackUp) {
    const OrvanCamera cam = OrvanCamera::fromCartesian({0.0, 5.0, 0.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0});
    expectBits(cam.up, 0x0, 0x0, 0x0, bits(1.0));
    EXPECT_EQ(cam.card, AffineCard::UY);
    // A zero hint falls back in the same way.
    const OrvanCamera zero_hint = OrvanCamera::fromCartesian({0.0, 2.0, 6.0}, {0.0, 0.0, 0.0}, {0.0, 0.0, 0.0});
    expectBits(zero_hint.up, 0x0, 0x0, 0x0, bits(1.0));
}

TEST(FromCartesian, NonFiniteInputPropagatesWithoutTrapping) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const OrvanCamera cam = OrvanCamera::fromCartesian({nan, 0.0, 0.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0});
    EXPECT_TRUE(std::isnan(cam.position.x));
    EXPECT_TRUE(std::isnan(cam.direction.w));
    EXPECT_EQ(bits(cam.fovy), bits(kDefaultFovy));
}

// ---- rotate -----------------------------------------------------------------

TEST(Rotate, ZeroAnglesReturnTheStartCameraUnchanged) {
    const volatile double zero = 0.0;
    const OrvanCamera start = startCamera();
    expectSameCamera(start.rotate(zero, zero), start);
}

TEST(Rotate, OneTurnMatchesTheClosedForm) {
    // For the start camera right is a positive multiple of (1, 0, 0, 0), so the
    // turned direction is normalize(cp*(cy*d + sy*u) + sp*(1, 0, 0, 0)) and the
    // turned up is normalize(-sy*d + cy*u). Evaluated here in long double from
    // the same run-time cosines and sines, rounded once.
    const OrvanCamera start = startCamera();
    const double yaw = g_yaw;
    const double pitch = g_pitch;
    const auto wide = [](double v) { return static_cast<long double>(v); };
    const long double cy = wide(std::cos(yaw));
    const long double sy = wide(std::sin(yaw));
    const long double cp = wide(std::cos(pitch));
    const long double sp = wide(std::sin(pitch));
    const long double d[4] = {wide(start.direction.x), wide(start.direction.y), wide(start.direction.z),
                              wide(start.direction.w)};
    const long double u[4] = {wide(start.up.x), wide(start.up.y), wide(start.up.z), wide(start.up.w)};
    const long double dir[4] = {cp * (cy * d[0] + sy * u[0]) + sp, cp * (cy * d[1] + sy * u[1]),
                                cp * (cy * d[2] + sy * u[2]), cp * (cy * d[3] + sy * u[3])};
    const long double up[4] = {-sy * d[0] + cy * u[0], -sy * d[1] + cy * u[1], -sy * d[2] + cy * u[2],
                               -sy * d[3] + cy * u[3]};
    long double dir_len = 0.0L;
    long double up_len = 0.0L;
    for (int c = 0; c < 4; ++c) {
        dir_len += dir[c] * dir[c];
        up_len += up[c] * up[c];
    }
    dir_len = std::sqrt(dir_len);
    up_len = std::sqrt(up_len);

    const OrvanCamera turned = start.rotate(yaw, pitch);
    const double got_dir[] = {turned.direction.x, turned.direction.y, turned.direction.z, turned.direction.w};
    const double got_up[] = {turned.up.x, turned.up.y, turned.up.z};
    for (int c = 0; c < 4; ++c) {
        EXPECT_LE(ulpDistance(got_dir[c], static_cast<double>(dir[c] / dir_len)), 1) << "direction " << c;
    }
    for (int c = 0; c < 3; ++c) {
        EXPECT_LE(ulpDistance(got_up[c], static_cast<double>(up[c] / up_len)), 1) << "up " << c;
    }
    // up.w is a rounding residue of order 1e-17: compare it absolutely.
    EXPECT_NEAR(turned.up.w, static_cast<double>(up[3] / up_len), 1e-17);

    expectSameBits(turned.position, start.position);
    EXPECT_EQ(bits(turned.fovy), bits(start.fovy));
    EXPECT_EQ(turned.card, start.card);
}

TEST(Rotate, ParallelDirectionAndUpMixInTheFallback) {
    // Zero x, y, z part of the direction (the target-at-eye camera): right is
    // zero, right_norm is (0, 0, 0, 1), and the pitched direction stays (0, 0, 0, 1).
    const OrvanCamera at_eye = OrvanCamera::fromCartesian({1.0, 2.0, 3.0}, {1.0, 2.0, 3.0}, {0.0, 1.0, 0.0});
    const volatile double zero = 0.0;
    expectBits(at_eye.rotate(zero, g_pitch).direction, 0x0, 0x0, 0x0, bits(1.0));

    // Parallel x, y, z parts: pitch swings the direction towards (0, 0, 0, 1).
    const OrvanCamera parallel = {HomVec4::init(0, 0, 0, 1), HomVec4::init(1, 0, 0, 0), HomVec4::init(-1, 0, 0, 0),
                                  kDefaultFovy, AffineCard::UW};
    const double pitch = g_pitch;
    const OrvanCamera turned = parallel.rotate(zero, pitch);
    EXPECT_LE(ulpDistance(turned.direction.x, std::cos(pitch)), 1);
    EXPECT_LE(ulpDistance(turned.direction.w, std::sin(pitch)), 1);
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
    const double yaw = g_yaw;
    const double pitch = g_pitch;
    const OrvanCamera start = startCamera();
    OrvanCamera cam = start;
    double worst_dir_up = 0.0;
    for (int n = 1; n <= 1000; ++n) {
        cam = cam.rotate(yaw, pitch);
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
    expectSameBits(cam.position, start.position);
    EXPECT_EQ(bits(cam.fovy), bits(start.fovy));
    EXPECT_EQ(cam.card, start.card);
}

}  // namespace
}  // namespace orvan
