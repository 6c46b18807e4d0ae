// SPDX-License-Identifier: MIT
// Prints the bits of the engine's start camera and the chart of a point, one
// line per value, for test_install.py to compare.
#include <orvan/orvan_raylib.hpp>

#include <bit>
#include <cstdint>
#include <cstdio>

namespace {

void print(const char* name, const orvan::HomVec4& v) {
    std::printf("%s %016llx %016llx %016llx %016llx\n", name,
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v.x)),
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v.y)),
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v.z)),
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v.w)));
}

}  // namespace

int main() {
    const orvan::OrvanCamera cam = orvan::OrvanCamera::fromCartesian({0.0, 2.0, 6.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0});
    print("position", cam.position);
    print("direction", cam.direction);
    print("up", cam.up);
    std::printf("fovy %016llx\n", static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(cam.fovy)));
    std::printf("card %d\n", static_cast<int>(cam.card));
    const orvan::HomVec4 p = orvan::HomVec4::init(1.0, -5.0, 2.0, 0.5);
    std::printf("pickBestCard %d\n", static_cast<int>(p.pickBestCard()));
    return 0;
}
