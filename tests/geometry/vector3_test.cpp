#include "geometry/vector3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::ExpectVecEq;

TEST(Vector, ResultsAreRoundedToSingleOnce) {
    // 1 + 2^-24 is not a single; the sum is rounded once, ties to even, to 1.
    const float tiny = std::ldexp(1.0f, -24);
    ExpectVecEq(lsf_Vadd({1.0f, 0.0f, 0.0f}, {tiny, 0.0f, 0.0f}), {1.0f, 0.0f, 0.0f});
    // The scale stays a double: rounding it to single first gives another result.
    const double s = 0.100003;
    const Vec3 scaled = lsf_Vscale({3.0f, 0.0f, 0.0f}, s);
    EXPECT_EQ(scaled.x, static_cast<float>(3.0 * s));
    EXPECT_NE(scaled.x, 3.0f * static_cast<float>(s));
    ExpectVecEq(lsf_Vscale({1e30f, -2.5f, 7.0f}, 0.0), {0.0f, -0.0f, 0.0f});
    // The dot product stays in double: no rounding of the partial products to single.
    const float a = 16777216.0f;  // 2^24: a*a + 1 needs 49 bits
    EXPECT_EQ(lsf_Vdot({a, 1.0f, 0.0f}, {a, 1.0f, 0.0f}), 281474976710657.0);
}

TEST(Vector, CrossProductIsRightHandedAndOrdered) {
    ExpectVecEq(lsf_Vcross({1, 0, 0}, {0, 1, 0}), {0, 0, 1});
    ExpectVecEq(lsf_Vcross({0, 1, 0}, {1, 0, 0}), {0, 0, -1});
    ExpectVecEq(lsf_Vcross({0, 1, 0}, {0, 0, 1}), {1, 0, 0});
    ExpectVecEq(lsf_Vcross({2, 3, 4}, {5, 6, 7}), {-3, 6, -3});
}

TEST(Vector, NormalizeGuardsZeroAndNaN) {
    ExpectVecEq(lsf_Vnormalize({0, 0, 0}), {0, 0, 0});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ExpectVecEq(lsf_Vnormalize({nan, 1, 0}), {0, 0, 0});
    ExpectVecEq(lsf_Vnormalize({3, 0, 4}), {static_cast<float>(0.6), 0, static_cast<float>(0.8)});
}

TEST(Vector, NormalizeGivesUnitLengthForRandomVectors) {
    std::mt19937 rng(20240611u);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-60, 60);
    for (int i = 0; i < 20000; ++i) {
        const Vec3 v{std::ldexp(mantissa(rng), exponent(rng)),
                     std::ldexp(mantissa(rng), exponent(rng)),
                     std::ldexp(mantissa(rng), exponent(rng))};
        if (!(lsf_Vlength(v) > 0.0)) continue;
        const double len = lsf_Vlength(lsf_Vnormalize(v));
        // Each component carries at most half a single ulp of relative error.
        ASSERT_NEAR(len, 1.0, 2.0 * static_cast<double>(std::numeric_limits<float>::epsilon()))
            << static_cast<double>(v.x) << ", " << static_cast<double>(v.y) << ", "
            << static_cast<double>(v.z);
    }
}

TEST(Angles, RadToDegUsesTheFifteenDigitPi) {
    EXPECT_EQ(RadToDeg(3.141592653589793), 180.00000000000017);
    EXPECT_EQ(RadToDeg(0.0), 0.0);
    EXPECT_EQ(RadToDeg(kPi), 180.0);
}

TEST(Angles, ArcCosMatchesTheArcCosine) {
    EXPECT_EQ(ArcCos(0.0), 2.0 * std::atan(1.0));
    for (double x = -0.999; x < 1.0; x += 0.037) {
        EXPECT_NEAR(ArcCos(x), std::acos(x), 1e-12) << x;
    }
}

struct AngleCase {
    const char* name;
    Vec3 a;
    Vec3 b;
    double expected;
};

class AngleBetweenCases : public ::testing::TestWithParam<AngleCase> {};

TEST_P(AngleBetweenCases, GivesTheExpectedAngle) {
    const AngleCase& c = GetParam();
    EXPECT_EQ(AngleBetween(c.a, c.b), c.expected);
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
// 0.1 has no exact single: the cosine of v and -v rounds to just below -1.
const Vec3 kOdd{0.1f, 0.7f, 0.3f};

INSTANTIATE_TEST_SUITE_P(
    Vector, AngleBetweenCases,
    ::testing::Values(AngleCase{"ZeroFirst", {0, 0, 0}, {1, 2, 3}, 0.0},
                      AngleCase{"ZeroSecond", {1, 2, 3}, {0, 0, 0}, 0.0},
                      AngleCase{"NaNLength", {kNaN, 0, 0}, {1, 0, 0}, 0.0},
                      AngleCase{"Same", {1, 2, 3}, {1, 2, 3}, 0.0},
                      AngleCase{"SameAxis", {0, 5, 0}, {0, 2, 0}, 0.0},
                      AngleCase{"OppositeExact", {0, 1, 0}, {0, -3, 0}, 4.0 * std::atan(1.0)},
                      AngleCase{"Perpendicular", {1, 0, 0}, {0, 1, 0}, ArcCos(0.0)},
                      AngleCase{"Diagonal", {1, 0, 0}, {1, 1, 0}, ArcCos(1.0 / std::sqrt(2.0))}),
    [](const ::testing::TestParamInfo<AngleCase>& param) { return std::string(param.param.name); });

TEST(Angles, OppositeDirectionsAreAHalfTurnWhateverTheRounding) {
    // The computed cosine of a vector and its negation can land just below -1;
    // the angle is still pi, never 0.
    const Vec3 neg{-kOdd.x, -kOdd.y, -kOdd.z};
    EXPECT_EQ(AngleBetween(kOdd, neg), 4.0 * std::atan(1.0));
    std::mt19937 rng(99u);
    std::uniform_real_distribution<float> coord(-100.0f, 100.0f);
    int belowMinusOne = 0;
    for (int i = 0; i < 5000; ++i) {
        const Vec3 v{coord(rng), coord(rng), coord(rng)};
        const Vec3 w{-v.x, -v.y, -v.z};
        const double lv = lsf_Vlength(v);
        if (lsf_Vdot(v, w) / (lv * lv) < -1.0) ++belowMinusOne;
        ASSERT_NEAR(AngleBetween(v, w), 4.0 * std::atan(1.0), 1e-7);
        ASSERT_LT(AngleBetween(v, v), 1e-7);
    }
    EXPECT_GT(belowMinusOne, 0) << "the sample should exercise cosines below -1";
}

}  // namespace
}  // namespace cvqrn
