// SPDX-License-Identifier: MIT
// Helpers shared by the engine tests: compare doubles and vectors by their
// bits, measure distances in units in the last place, print vectors.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>

#include "orvan_kernel.hpp"

namespace orvan {

// How failure messages and traces show a vector.
inline std::ostream& operator<<(std::ostream& out, const HomVec4& v) {
    return out << "(" << v.x << ", " << v.y << ", " << v.z << ", " << v.w << ")";
}

namespace testing {

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

[[nodiscard]] inline HomVec4 ofBits(std::uint64_t x, std::uint64_t y, std::uint64_t z, std::uint64_t w) {
    return {bitCast<double>(x), bitCast<double>(y), bitCast<double>(z), bitCast<double>(w)};
}

[[nodiscard]] inline std::array<double, 4> parts(const HomVec4& v) { return {v.x, v.y, v.z, v.w}; }

// Distance in ulp between two finite doubles of any sign, counted along the
// ordered integer line of their bit patterns (+0 and -0 are 0 apart).
[[nodiscard]] inline std::int64_t ulpDistance(double a, double b) {
    auto ordered = [](double v) {
        const auto i = bitCast<std::int64_t>(v);
        return i < 0 ? std::numeric_limits<std::int64_t>::min() - i : i;
    };
    return std::llabs(ordered(a) - ordered(b));
}

// Each component of got has the bits of want's (the sign of a zero counts).
inline void expectSameBits(const HomVec4& got, const HomVec4& want) {
    const auto g = parts(got);
    const auto w = parts(want);
    for (std::size_t c = 0; c < 4; ++c) {
        EXPECT_EQ(bits(g[c]), bits(w[c])) << "xyzw"[c] << " of " << got << " is " << g[c] << ", want " << w[c];
    }
}

// The first n components of got each within max_ulp of want's.
inline void expectWithinUlp(const HomVec4& got, const std::array<double, 4>& want, std::int64_t max_ulp,
                            std::size_t n = 4) {
    for (std::size_t c = 0; c < n; ++c) {
        EXPECT_LE(ulpDistance(parts(got)[c], want[c]), max_ulp) << "xyzw"[c] << " of " << got << ", want " << want[c];
    }
}

}  // namespace testing
}  // namespace orvan
