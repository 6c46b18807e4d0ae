// SPDX-License-Identifier: MIT
// Helpers shared by the engine tests: compare doubles by their bits and
// measure distances in units in the last place.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "orvan_kernel.hpp"

namespace orvan::testing {

[[nodiscard]] inline std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

[[nodiscard]] inline double fromBits(std::uint64_t b) { return std::bit_cast<double>(b); }

// Distance in ulp between two finite doubles of any sign, counted along the
// ordered integer line of their bit patterns (+0 and -0 are 0 apart).
[[nodiscard]] inline std::int64_t ulpDistance(double a, double b) {
    auto ordered = [](double v) {
        const auto i = std::bit_cast<std::int64_t>(v);
        return i < 0 ? std::numeric_limits<std::int64_t>::min() - i : i;
    };
    return std::llabs(ordered(a) - ordered(b));
}

}  // namespace orvan::testing
