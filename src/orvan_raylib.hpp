// SPDX-License-Identifier: MIT
// Engine camera: a viewing frame on the unit 3-sphere S3, in homogeneous
// coordinates of real projective 3-space, built from the kernel's operations.
//
// Pure double-precision arithmetic on values; nothing here calls raylib.
// Results that involve no sine or cosine are fixed to the bit (see
// orvan_kernel.hpp for the rounding rules); those of rotate() also depend on
// the C library's cos and sin.
#pragma once

#include <array>

#include "orvan_kernel.hpp"

namespace orvan {

struct OrvanCamera {
    HomVec4 position;   // the eye as a unit 4-vector (a point of S3)
    HomVec4 direction;  // unit viewing direction
    HomVec4 up;         // unit up vector
    double fovy;        // vertical field of view, radians
    AffineCard card;    // the chart chosen for position

    // The eye (pos, 1) and target (target, 1) put on S3; direction is the
    // normalised part of target - eye orthogonal to the eye, up the normalised
    // part of (up_hint, 0) orthogonal to both; fovy is 60 degrees.
    // Target equal to the eye gives direction (0, 0, 0, 1); a hint in the span
    // of position and direction gives up (0, 0, 0, 1).
    [[nodiscard]] static OrvanCamera fromCartesian(std::array<double, 3> pos, std::array<double, 3> target,
                                                   std::array<double, 3> up_hint) noexcept;

    // Turns direction towards up by yaw (up turning with it), then swings
    // direction towards the right vector (cross product of the incoming
    // direction and up) by pitch. Position, fovy and card are unchanged.
    // Direction and up with parallel or zero x, y, z parts mix the fallback
    // (0, 0, 0, 1) into the direction; NaN angles give NaN direction and up.
    [[nodiscard]] OrvanCamera rotate(double yaw, double pitch) const noexcept;
};

// The double nearest pi/3, written as a literal: pi/3 computed in double
// arithmetic is one ulp lower.
inline constexpr double kDefaultFovy = 1.0471975511965979;

}  // namespace orvan
