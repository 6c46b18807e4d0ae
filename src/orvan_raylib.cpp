// SPDX-License-Identifier: MIT

#include "orvan_raylib.hpp"

#include <cmath>

namespace orvan {

OrvanCamera OrvanCamera::fromCartesian(std::array<double, 3> pos, std::array<double, 3> target,
                                       std::array<double, 3> up_hint) noexcept {
    const HomVec4 p = HomVec4::fromCartesian(pos).normalize();
    const HomVec4 t = HomVec4::fromCartesian(target).normalize();

    const HomVec4 d = {t.x - p.x, t.y - p.y, t.z - p.z, t.w - p.w};
    const double dp = d.dot(p);
    const HomVec4 d_orth = {d.x - dp * p.x, d.y - dp * p.y, d.z - dp * p.z, d.w - dp * p.w};
    const HomVec4 direction = d_orth.normalize();

    const HomVec4 u = {up_hint[0], up_hint[1], up_hint[2], 0.0};
    const double up_p = u.dot(p);
    const double up_d = u.dot(direction);
    const HomVec4 v = {(u.x - up_p * p.x) - up_d * direction.x, (u.y - up_p * p.y) - up_d * direction.y,
                       (u.z - up_p * p.z) - up_d * direction.z, (u.w - up_p * p.w) - up_d * direction.w};

    return {p, direction, v.normalize(), kDefaultFovy, p.pickBestCard()};
}

// Flattened: the kernel's operations (in the same translation unit, see the
// build) are inlined, so that the three normalisations overlap with each
// other and with the sines and cosines. Every operation stays as written.
[[gnu::flatten]] OrvanCamera OrvanCamera::rotate(double yaw, double pitch) const noexcept {
    const double cos_yaw = std::cos(yaw);
    const double sin_yaw = std::sin(yaw);
    const HomVec4& dir = direction;

    const HomVec4 new_dir = {cos_yaw * dir.x + sin_yaw * up.x, cos_yaw * dir.y + sin_yaw * up.y,
                             cos_yaw * dir.z + sin_yaw * up.z, cos_yaw * dir.w + sin_yaw * up.w};
    const HomVec4 new_up = {-sin_yaw * dir.x + cos_yaw * up.x, -sin_yaw * dir.y + cos_yaw * up.y,
                            -sin_yaw * dir.z + cos_yaw * up.z, -sin_yaw * dir.w + cos_yaw * up.w};

    const double cos_pitch = std::cos(pitch);
    const double sin_pitch = std::sin(pitch);

    // Cross product of the incoming (not yaw-turned) x, y, z parts; w takes no part.
    const HomVec4 right = {dir.y * up.z - dir.z * up.y, dir.z * up.x - dir.x * up.z, dir.x * up.y - dir.y * up.x, 0.0};
    const HomVec4 right_norm = right.normalize();

    const HomVec4 dir2 = {
        cos_pitch * new_dir.x + sin_pitch * right_norm.x, cos_pitch * new_dir.y + sin_pitch * right_norm.y,
        cos_pitch * new_dir.z + sin_pitch * right_norm.z, cos_pitch * new_dir.w + sin_pitch * right_norm.w};

    return {position, dir2.normalize(), new_up.normalize(), fovy, card};
}

}  // namespace orvan
