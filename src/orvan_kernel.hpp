// SPDX-License-Identifier: MIT
// Projective kernel: homogeneous 4-vectors of real projective 3-space and the
// four standard affine charts ("cards").
//
// Every operation is pure arithmetic on values: no allocation, no state, no
// exceptions. Each product, quotient, sum and difference is one IEEE double
// operation rounded on its own (sums left to right, no fused multiply-add), so
// every result below is fixed to the bit. The definitions live in
// orvan_kernel.cpp, which the build compiles with floating-point contraction
// and value-changing optimisations turned off.
#pragma once

#include <array>
#include <cstdint>

namespace orvan {

// The affine chart in which a named coordinate is non-zero. The numbering
// starts with the w chart although w is the last field of HomVec4.
enum class AffineCard : std::uint8_t {
    UW = 0,  // w != 0, the ordinary affine space
    UX = 1,  // x != 0
    UY = 2,  // y != 0
    UZ = 3,  // z != 0
};

// A homogeneous point (w = 1 before normalisation) or direction (w = 0).
struct HomVec4 {
    double x;
    double y;
    double z;
    double w;

    // (X, Y, Z, W) as given; NaN and infinity are kept.
    [[nodiscard]] static HomVec4 init(double X, double Y, double Z, double W) noexcept;

    // (p[0], p[1], p[2], 1), not normalised; NaN and infinity are kept.
    [[nodiscard]] static HomVec4 fromCartesian(std::array<double, 3> p) noexcept;

    // ((x*b.x + y*b.y) + z*b.z) + w*b.w; NaN if any product is NaN, +-inf on overflow.
    [[nodiscard]] double dot(HomVec4 b) const noexcept;

    // sqrt of dot(*this): +inf when the sum of squares overflows, NaN when a component is NaN.
    [[nodiscard]] double norm() const noexcept;

    // Each component divided by norm(); (0, 0, 0, 1) when norm() < 1e-15;
    // zeros when the sum of squares overflows; NaN where a component is infinite
    // or any component is NaN.
    [[nodiscard]] HomVec4 normalize() const noexcept;

    // The chart of a component of largest magnitude, ties to the earlier of
    // W, X, Y, Z; comparisons with NaN are false, so a NaN w never gives UW and
    // all-NaN gives UZ; the zero vector gives UW.
    [[nodiscard]] AffineCard pickBestCard() const noexcept;
};

// Lengths below this normalise to the fallback (0, 0, 0, 1). Absolute, not
// relative to the magnitude of the input.
inline constexpr double kNormalizeThreshold = 1e-15;

}  // namespace orvan
