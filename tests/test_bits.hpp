// SPDX-License-Identifier: MIT
// Helpers shared by the engine tests: compare doubles by their bits and
// measure distances in units in the last place.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "orvan_kernel.hpp"

namespace orvan::testing {

// std::bit_cast where the C++ library has it (emscripten 3.1.6's has not).
template <class To, class From>
[[nodiscard]] inline To bitCast(const From& v) {
    static_assert(sizeof(To) == sizeof(From));
#if defined(__cpp_lib_bit_cast)
    return std::bit_cast<To>(v);
#else
    To to;
    std::memcpy(&to, &v, sizeof to);
    return to;
#endif
}

[[nodiscard]] inline std::uint64_t bits(double v) { return bitCast<std::uint64_t>(v); }

[[nodiscard]] inline double fromBits(std::uint64_t b) { return bitCast<double>(b); }

// Distance in ulp between two finite doubles of any sign, counted along the
// ordered integer line of their bit patterns (+0 and -0 are 0 apart).
[[nodiscard]] inline std::int64_t ulpDistance(double a, double b) {
    auto ordered = [](double v) {
        const auto i = bitCast<std::int64_t>(v);
        return i < 0 ? std::numeric_limits<std::int64_t>::min() - i : i;
    };
    return std::llabs(ordered(a) - ordered(b));
}

}  // namespace orvan::testing
