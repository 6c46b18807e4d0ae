// SPDX-License-Identifier: MIT

#include "orvan_kernel.hpp"

#include <cmath>

namespace orvan {

HomVec4 HomVec4::init(double X, double Y, double Z, double W) noexcept { return {X, Y, Z, W}; }

HomVec4 HomVec4::fromCartesian(std::array<double, 3> p) noexcept { return {p[0], p[1], p[2], 1.0}; }

double HomVec4::dot(HomVec4 b) const noexcept { return ((x * b.x + y * b.y) + z * b.z) + w * b.w; }

double HomVec4::norm() const noexcept { return std::sqrt(dot(*this)); }

HomVec4 HomVec4::normalize() const noexcept {
    const double n = norm();
    if (n < kNormalizeThreshold) {  // a NaN length does not take this branch
        return {0.0, 0.0, 0.0, 1.0};
    }
    return {x / n, y / n, z / n, w / n};
}

AffineCard HomVec4::pickBestCard() const noexcept {
    const double aw = std::fabs(w);
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    const double az = std::fabs(z);
    if (aw >= ax && aw >= ay && aw >= az) {
        return AffineCard::UW;
    }
    if (ax >= ay && ax >= az) {
        return AffineCard::UX;
    }
    if (ay >= az) {
        return AffineCard::UY;
    }
    return AffineCard::UZ;
}

}  // namespace orvan
