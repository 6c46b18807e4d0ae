// SPDX-License-Identifier: MIT
// libFuzzer harness for the engine: every operation on arbitrary doubles (NaN,
// infinities, subnormals and huge values included), checking the properties
// the engine promises. A failed property prints what failed and aborts, which
// libFuzzer records as a crash; AddressSanitizer and UndefinedBehaviorSanitizer
// (fatal) watch every call as well.
//
// Input: up to 11 doubles, 8 bytes each in native order; missing bytes are
// zero. d0..d3 and d4..d7 are two homogeneous vectors a and b; d0..d2,
// d3..d5 and d6..d8 are the eye, target and up hint of a camera; d9 and d10
// are yaw and pitch.
//
// Lengths in the checks are computed in long double (64-bit significand, and
// a range that holds the square of every double), so they add no error worth
// counting to what they measure.
#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "orvan_kernel.hpp"
#include "orvan_raylib.hpp"

namespace {

using orvan::AffineCard;
using orvan::HomVec4;
using orvan::OrvanCamera;

using Real = long double;

// One unit in the last place of 1.0, 2^-52.
constexpr Real kUlp = static_cast<Real>(DBL_EPSILON);
// "Unit length" means |length - 1| within this: a few ulp. A division by a
// computed length is off by at most about 4 * 2^-53 (a sum of four squares,
// a square root, a division).
constexpr Real kUnitTolerance = 4 * kUlp;

HomVec4 g_a, g_b;  // the input vectors, printed when a check fails

[[noreturn]] void fail(int line, const char* what, const HomVec4& v) {
    std::fprintf(stderr, "engine_fuzz: line %d: property failed: %s\n", line, what);
    for (const auto& [name, p] : {std::pair{"value", v}, {"a", g_a}, {"b", g_b}}) {
        std::fprintf(stderr, "  %s = (%a, %a, %a, %a)\n", name, p.x, p.y, p.z, p.w);
    }
    std::abort();
}

#define CHECK(condition, value) ((condition) ? void() : fail(__LINE__, #condition, (value)))

Real ext(double v) { return static_cast<Real>(v); }

Real dotL(const HomVec4& a, const HomVec4& b) {
    return ext(a.x) * ext(b.x) + ext(a.y) * ext(b.y) + ext(a.z) * ext(b.z) + ext(a.w) * ext(b.w);
}

Real lengthL(const HomVec4& v) { return std::sqrt(dotL(v, v)); }

bool isUnit(const HomVec4& v) { return std::fabs(lengthL(v) - 1) <= kUnitTolerance; }

// Bit for bit (a HomVec4 is four doubles without padding).
template <class T>
bool sameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The fallback exactly: (+0, +0, +0, 1).
bool isFallback(const HomVec4& v) { return sameBits(v, HomVec4{0.0, 0.0, 0.0, 1.0}); }

bool allFinite(const HomVec4& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

std::array<double, 4> parts(const HomVec4& v) { return {v.x, v.y, v.z, v.w}; }

void checkMakersAndDot(const HomVec4& a, const HomVec4& b) {
    CHECK(sameBits(HomVec4::init(a.x, a.y, a.z, a.w), a), a);
    const HomVec4 p = HomVec4::fromCartesian({a.x, a.y, a.z});
    CHECK(sameBits(p, HomVec4{a.x, a.y, a.z, 1.0}), p);

    // Each product commutes exactly and the sums run in the same order.
    const double ab = a.dot(b);
    const double ba = b.dot(a);
    CHECK(sameBits(ab, ba) || (std::isnan(ab) && std::isnan(ba)), a);
    CHECK(!(a.dot(a) < 0.0), a);
}

// The result by case, with n = v.norm(), the length the engine computes. The
// last case includes vectors some of whose squares underflow (components below
// about 1.5e-154): n >= 1e-15 means the sum of squares is at least 1e-30, and
// all squares lost to underflow together are below 4 * 2^-1022, a relative
// error of about 1e-278, so they cannot move the length by an ulp.
void checkNormalize(const HomVec4& v) {
    const double n = v.norm();
    const HomVec4 r = v.normalize();
    const std::array<double, 4> in = parts(v), out = parts(r);

    if (std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z) || std::isnan(v.w)) {  // a NaN component: all NaN
        for (double c : out) CHECK(std::isnan(c), r);
        return;
    }
    if (!allFinite(v) || std::isinf(n)) {  // NaN where infinite, signed zeros elsewhere and where squares overflow
        for (std::size_t i = 0; i < 4; ++i) {
            CHECK(std::isinf(in[i]) ? std::isnan(out[i]) : out[i] == 0.0 && std::signbit(out[i]) == std::signbit(in[i]),
                  r);
        }
        return;
    }
    if (n < orvan::kNormalizeThreshold) {
        CHECK(isFallback(r), r);  // exactly (+0, +0, +0, 1)
        return;
    }
    // Unit length, each component within 4 ulp of 1.0 of the exact x / |v| and with the sign of x.
    CHECK(isUnit(r), r);
    const Real exact = lengthL(v);
    for (std::size_t i = 0; i < 4; ++i) {
        CHECK(std::fabs(ext(out[i]) - ext(in[i]) / exact) <= 4 * kUlp, r);
        CHECK(std::signbit(out[i]) == std::signbit(in[i]), r);
    }
}

// Without NaN: the first of W, X, Y, Z whose magnitude is the largest. With
// NaN: a NaN w never gives UW, and all NaN gives UZ.
void checkPickBestCard(const HomVec4& v) {
    const AffineCard card = v.pickBestCard();
    const auto value = static_cast<unsigned>(card);
    CHECK(value <= 3U, v);
    const std::array<double, 4> wxyz = {std::fabs(v.w), std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)};
    const auto nans = std::count_if(wxyz.begin(), wxyz.end(), [](double m) { return std::isnan(m); });
    if (nans == 0) {
        CHECK(value == static_cast<unsigned>(std::max_element(wxyz.begin(), wxyz.end()) - wxyz.begin()), v);
        return;
    }
    if (std::isnan(v.w)) CHECK(card != AffineCard::UW, v);
    if (nans == 4) CHECK(card == AffineCard::UZ, v);
}

// For finite inputs whose intermediate values cannot overflow: the squared
// lengths of (eye, 1) and (target, 1) are finite (so the normalised eye and
// target are unit vectors and everything derived from them stays below 5 in
// magnitude), and that of (up hint, 0) is at most DBL_MAX / 2 (the part of the
// hint orthogonal to the eye and direction is no longer than the hint, up to
// rounding, so its squared length stays finite). Then position is unit, and
// direction and up are unit or exactly the fallback.
OrvanCamera checkFromCartesian(std::array<double, 3> eye, std::array<double, 3> target, std::array<double, 3> up) {
    const OrvanCamera cam = OrvanCamera::fromCartesian(eye, target, up);
    CHECK(sameBits(cam.fovy, orvan::kDefaultFovy), cam.position);
    // A NaN or infinite input makes its length or squared length NaN or infinite too.
    const HomVec4 hint = {up[0], up[1], up[2], 0.0};
    if (!std::isfinite(HomVec4::fromCartesian(eye).norm()) || !std::isfinite(HomVec4::fromCartesian(target).norm()) ||
        !(hint.dot(hint) <= DBL_MAX / 2)) {
        return cam;
    }
    CHECK(isUnit(cam.position), cam.position);
    CHECK(isFallback(cam.direction) || isUnit(cam.direction), cam.direction);
    CHECK(isFallback(cam.up) || isUnit(cam.up), cam.up);
    return cam;
}

// Position, fovy and card are kept to the bit, whatever the angles.
// Precondition for the rest: finite angles, direction and up orthonormal to
// rounding (unit within a few ulp, |direction . up| <= 4 ulp), and the cross
// product r of their x, y, z parts at least 1e-14 long (shorter ones reach the
// fallback, which the engine documents as mixed into the direction). Then
// the turned direction and up are unit and orthogonal to rounding: the right
// vector is rounded to about 2 ulp absolute, which tilts its normalised form by
// 2 ulp / |r|, so the bound is 8 ulp * (2 + 1 / |r|).
void checkRotate(const OrvanCamera& cam, double yaw, double pitch) {
    const OrvanCamera turned = cam.rotate(yaw, pitch);
    CHECK(sameBits(turned.position, cam.position), turned.position);
    CHECK(sameBits(turned.fovy, cam.fovy) && turned.card == cam.card, turned.position);

    if (!std::isfinite(yaw) || !std::isfinite(pitch)) return;
    const HomVec4& d = cam.direction;
    const HomVec4& u = cam.up;
    if (!allFinite(d) || !allFinite(u) || !isUnit(d) || !isUnit(u) || std::fabs(dotL(d, u)) > 4 * kUlp) return;
    const Real rx = ext(d.y) * ext(u.z) - ext(d.z) * ext(u.y);
    const Real ry = ext(d.z) * ext(u.x) - ext(d.x) * ext(u.z);
    const Real rz = ext(d.x) * ext(u.y) - ext(d.y) * ext(u.x);
    const Real r = std::sqrt(rx * rx + ry * ry + rz * rz);
    if (r < 1e-14L) return;

    CHECK(isUnit(turned.direction), turned.direction);
    CHECK(isUnit(turned.up), turned.up);
    CHECK(std::fabs(dotL(turned.direction, turned.up)) <= 8 * kUlp * (2 + 1 / r), turned.direction);
}

// A camera whose direction and up are a and the part of b orthogonal to it,
// both normalised by the engine.
OrvanCamera orthonormalCamera(const HomVec4& a, const HomVec4& b) {
    const HomVec4 d = a.normalize();
    const double k = b.dot(d);
    const HomVec4 u = HomVec4{b.x - k * d.x, b.y - k * d.y, b.z - k * d.z, b.w - k * d.w}.normalize();
    return {d, d, u, orvan::kDefaultFovy, d.pickBestCard()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::array<double, 11> d{};
    std::memcpy(d.data(), data, size < sizeof d ? size : sizeof d);

    const HomVec4 a = {d[0], d[1], d[2], d[3]};
    const HomVec4 b = {d[4], d[5], d[6], d[7]};
    g_a = a;
    g_b = b;

    checkMakersAndDot(a, b);
    for (const HomVec4& v : {a, b}) {
        checkNormalize(v);
        checkPickBestCard(v);
    }
    // The last camera is anything at all, for the sanitizers.
    for (const OrvanCamera& cam : {checkFromCartesian({d[0], d[1], d[2]}, {d[3], d[4], d[5]}, {d[6], d[7], d[8]}),
                                   orthonormalCamera(a, b), OrvanCamera{a, a, b, d[8], a.pickBestCard()}}) {
        checkRotate(cam, d[9], d[10]);
    }
    return 0;
}
