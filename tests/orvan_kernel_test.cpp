// SPDX-License-Identifier: MIT
// Kernel operations, grouped by operation. Where a result is fixed to the bit
// it is compared by its bits.
#include "orvan_kernel.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "test_bits.hpp"

namespace orvan {
namespace {

using testing::bits;
using testing::expectSameBits;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr HomVec4 kFallback = {0.0, 0.0, 0.0, 1.0};

void expectNormalized(std::initializer_list<std::pair<HomVec4, HomVec4>> cases) {
    for (const auto& [in, want] : cases) {
        SCOPED_TRACE(in);
        expectSameBits(in.normalize(), want);
    }
}

TEST(Makers, InitKeepsEveryComponentInOrder) {
    expectSameBits(HomVec4::init(1.5, -2.0, -0.0, 4.25), {1.5, -2.0, -0.0, 4.25});
    const double tiniest = testing::ofBits(0, 0, 0, 1).w;  // the smallest subnormal survives, as NaN and infinities do
    expectSameBits(HomVec4::init(kNaN, kInf, -kInf, tiniest), {kNaN, kInf, -kInf, tiniest});
}

TEST(Makers, FromCartesianAppendsWOneWithoutNormalising) {
    expectSameBits(HomVec4::fromCartesian({0.0, 2.0, 6.0}), {0.0, 2.0, 6.0, 1.0});
    expectSameBits(HomVec4::fromCartesian({-1e300, 3e-310, -0.0}), {-1e300, 3e-310, -0.0, 1.0});
}

TEST(Dot, SumsLeftToRightAsWritten) {
    // ((1e16 + 1) - 1e16) + 1 = 1 only when summed left to right: 1e16 + 1
    // rounds back to 1e16. Any other order gives 0 or 2.
    EXPECT_EQ(bits(HomVec4::init(1e16, 1.0, -1e16, 1.0).dot({1.0, 1.0, 1.0, 1.0})), bits(1.0));
}

TEST(Dot, ProductsAreRoundedBeforeTheyAreAdded) {
    // (1 + 2^-30)(1 - 2^-30) = 1 - 2^-60 rounds to 1, so x*x' + y*y' is exactly
    // 0; a fused multiply-add would keep the product exact and give -2^-60.
    const double e = std::ldexp(1.0, -30);
    const HomVec4 a = HomVec4::init(1.0 + e, 1.0, 0.0, 0.0);
    const HomVec4 b = HomVec4::init(1.0 - e, -1.0, 0.0, 0.0);
    EXPECT_EQ(bits(a.dot(b)), bits(0.0));
    EXPECT_EQ(bits(b.dot(a)), bits(0.0));
}

TEST(Dot, SelfDotIsTheSquaredNormBeforeTheRoot) {
    for (const HomVec4& v : {HomVec4{0.0, 2.0, 6.0, 1.0}, HomVec4{3.0, 0.0, 4.0, 0.0}, HomVec4{0.1, 0.2, 0.3, 0.4},
                             HomVec4{-1e-160, 7e-161, 1e-170, 0.0}, HomVec4{1e154, 1e154, 1e154, 1},
                             HomVec4{1.0 / 3.0, -2.0 / 7.0, 5.0 / 11.0, 13.0}}) {
        EXPECT_EQ(bits(v.norm()), bits(std::sqrt(v.dot(v)))) << v;
    }
}

TEST(Norm, ExactCasesAndOverflow) {
    const std::pair<HomVec4, double> cases[] = {{{3.0, 0.0, 4.0, 0.0}, 5.0},
                                                {{1.0, 1.0, 1.0, 1.0}, 2.0},
                                                {{1e200, 0.0, 0.0, 0.0}, kInf},
                                                {{-kInf, 0, 0, 0}, kInf}};
    for (const auto& [v, want] : cases) EXPECT_EQ(bits(v.norm()), bits(want)) << v;
    EXPECT_TRUE(std::isnan(HomVec4::init(0.0, kNaN, 0.0, 0.0).norm()));
}

TEST(Normalize, ShortVectorsFallBackToWAxis) {
    // The largest length below the threshold.
    const double below = std::nextafter(1e-15, 0.0);
    ASSERT_LT(HomVec4::init(below, 0.0, 0.0, 0.0).norm(), 1e-15);
    expectNormalized({{{0.0, 0.0, 0.0, 0.0}, kFallback},
                      {{-0.0, -0.0, -0.0, -0.0}, kFallback},
                      {{1e-16, 0.0, 0.0, 0.0}, kFallback},
                      {{0.0, -5e-16, 5e-16, 5e-16}, kFallback},
                      {{1e-200, 0.0, 0.0, 0.0}, kFallback},  // squares underflow to zero: the length is 0, not tiny
                      {{below, 0.0, 0.0, 0.0}, kFallback}});
}

TEST(Normalize, LengthExactlyAtThresholdIsDivided) {
    ASSERT_EQ(bits(HomVec4::init(1e-15, 0.0, 0.0, 0.0).norm()), bits(1e-15));  // the comparison is strict
    expectNormalized(
        {{{1e-15, 0.0, 0.0, 0.0}, {1.0, 0.0, 0.0, 0.0}}, {{0.0, 0.0, -1e-15, 0.0}, {0.0, 0.0, -1.0, 0.0}}});
}

TEST(Normalize, DividesEachComponentByTheLength) {
    // 3 * (1/5) is one ulp away from 3/5: a reciprocal multiplication shows.
    ASSERT_NE(bits(3.0 / 5.0), bits(3.0 * (1.0 / 5.0)));
    expectNormalized({{{3.0, 0.0, 4.0, 0.0}, {0.6, 0.0, 0.8, 0.0}},
                      {{0.0, 0.0, 3.0, 4.0}, {0.0, 0.0, 0.6, 0.8}},
                      {{-7.0, 24.0, 0.0, 0.0}, {-7.0 / 25.0, 24.0 / 25.0, 0.0, 0.0}}});
}

TEST(Normalize, EyePointOnTheSphere) {
    // (0, 2, 6, 1) has length sqrt(41); sqrt is correctly rounded.
    const double n = std::sqrt(41.0);
    expectNormalized({{HomVec4::fromCartesian({0.0, 2.0, 6.0}), {0.0, 2.0 / n, 6.0 / n, 1.0 / n}}});
}

TEST(Normalize, OverflowGivesZerosAndInfinityGivesNaN) {
    // Finite components whose sum of squares overflows: n = inf, x/inf = 0.
    expectNormalized({{{1e200, -1e200, 1.0, 1e155}, {0.0, -0.0, 0.0, 0.0}}});
    const HomVec4 inf_x = HomVec4::init(kInf, 1.0, -2.0, 0.0).normalize();
    EXPECT_TRUE(std::isnan(inf_x.x));
    expectSameBits({0.0, inf_x.y, inf_x.z, inf_x.w}, {0.0, 0.0, -0.0, 0.0});
    const HomVec4 nan_y = HomVec4::init(1.0, kNaN, 0.0, 0.0).normalize();
    EXPECT_TRUE(std::isnan(nan_y.x) && std::isnan(nan_y.y) && std::isnan(nan_y.z) && std::isnan(nan_y.w))
        << "a NaN length does not take the fallback";
}

TEST(Normalize, ResultHasUnitLength) {
    for (const HomVec4& v : {HomVec4{0.1, 0.2, 0.3, 0.4}, HomVec4{-3e100, 1e100, 2e99, 0.0},
                             HomVec4{1e-15, 1e-15, 0.0, 0.0}, HomVec4{1.0 / 3.0, 1e-30, -7.0, 2.5},
                             // Squares below the normal range (one lost to zero, one subnormal) with a
                             // length above the threshold: what they lose is far below an ulp.
                             HomVec4{1e-15, 1e-160, -1e-155, 5e-324}}) {
        EXPECT_NEAR(v.normalize().norm(), 1.0, 4 * std::numeric_limits<double>::epsilon()) << v;
    }
}

void expectCards(std::initializer_list<std::pair<HomVec4, AffineCard>> cases) {
    for (const auto& [v, want] : cases) EXPECT_EQ(v.pickBestCard(), want) << v;
}

TEST(PickBestCard, LargestMagnitudeWinsTiesInOrderWXYZ) {
    expectCards({
        {{1, 1, 1, 1}, AffineCard::UW},   // all tied: W first, not X
        {{2, 2, 1, 1}, AffineCard::UX},   // X ties Y: X first
        {{0, 3, 3, 1}, AffineCard::UY},   // Y ties Z: Y first
        {{0, 0, 0, 0}, AffineCard::UW},   // the zero vector
        {{0, 0, -5, 1}, AffineCard::UZ},  // absolute values are compared
        {{-7, 0, 0, 6}, AffineCard::UX},
        {{1, 1, 1, -1}, AffineCard::UW},
        {{0, -0.5, 0.25, 0.125}, AffineCard::UY},
        {{kInf, 0, 0, -kInf}, AffineCard::UW},
        {{0, 2, 6, 1}, AffineCard::UZ},
    });
}

TEST(PickBestCard, NaNNeverWins) {
    expectCards({
        {{0, 0, 0, kNaN}, AffineCard::UX},  // NaN w never gives UW
        {{1, 5, 2, kNaN}, AffineCard::UY},
        {{kNaN, kNaN, kNaN, kNaN}, AffineCard::UZ},  // every comparison false
        {{kNaN, 0, 0, 0}, AffineCard::UY},           // w >= NaN is false; y >= z
        {{kNaN, 0, 0, 1}, AffineCard::UY},
    });
}

TEST(PickBestCard, DiscriminantsAreTheFourChartValues) {
    const AffineCard in_order[] = {AffineCard::UW, AffineCard::UX, AffineCard::UY, AffineCard::UZ};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(static_cast<int>(in_order[i]), i);
}

}  // namespace
}  // namespace orvan
