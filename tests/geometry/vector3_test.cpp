#include "vec3/vec3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::ExpectVecEq;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(Vector, ResultsAreRoundedToSingleOnceAndScalarsStayDouble) {
    // 1 + 2^-24 is not a single; the sum is rounded once, ties to even, to 1.
    ExpectVecEq(lsf_Vadd({1, 0, 0}, {std::ldexp(1.0f, -24), 0, 0}), {1, 0, 0});
    // The scale stays a double: rounding it to single first gives another result.
    const double s = 0.100003;
    EXPECT_EQ(lsf_Vscale({3, 0, 0}, s).x, static_cast<float>(3.0 * s));
    EXPECT_NE(lsf_Vscale({3, 0, 0}, s).x, 3.0f * static_cast<float>(s));
    // 2^24 squared plus 1 needs 49 bits: the partial products stay double.
    EXPECT_EQ(lsf_Vdot({16777216.0f, 1, 0}, {16777216.0f, 1, 0}), 281474976710657.0);
}

TEST(Vector, CrossProductIsRightHandedWithTheFirstArgumentOnTheLeft) {
    ExpectVecEq(lsf_Vcross({1, 0, 0}, {0, 1, 0}), {0, 0, 1});
    ExpectVecEq(lsf_Vcross({0, 1, 0}, {1, 0, 0}), {0, 0, -1});
    ExpectVecEq(lsf_Vcross({2, 3, 4}, {5, 6, 7}), {-3, 6, -3});
}

TEST(Vector, NormalizeGivesUnitLengthAndZeroForZeroOrNaN) {
    ExpectVecEq(lsf_Vnormalize({0, 0, 0}), {0, 0, 0});
    ExpectVecEq(lsf_Vnormalize({kNaN, 1, 0}), {0, 0, 0});
    ExpectVecEq(lsf_Vnormalize({3, 0, 4}), {static_cast<float>(0.6), 0, static_cast<float>(0.8)});
    std::mt19937 rng(20240611u);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-60, 60);
    auto coord = [&] { return std::ldexp(mantissa(rng), exponent(rng)); };
    for (int i = 0; i < 20000; ++i) {
        const Vec3 v{coord(), coord(), coord()};
        // Each component carries at most half a single ulp of relative error.
        ASSERT_NEAR(lsf_Vlength(lsf_Vnormalize(v)), 1.0,
                    2.0 * static_cast<double>(std::numeric_limits<float>::epsilon()));
    }
}

TEST(Angles, RadToDegUsesTheFifteenDigitPiAndArcCosIsTheArcCosine) {
    EXPECT_EQ(RadToDeg(3.141592653589793), 180.00000000000017);
    EXPECT_EQ(ArcCos(0.0), 2.0 * std::atan(1.0));
    for (double x = -0.999; x < 1.0; x += 0.037) EXPECT_NEAR(ArcCos(x), std::acos(x), 1e-12) << x;
}

TEST(Angles, AngleBetweenCoversTheGuardedCases) {
    const double pi = 4.0 * std::atan(1.0);
    // 0.1 has no exact single: the cosine of v and -v rounds to just below -1,
    // which is still a half turn.
    const Vec3 odd{0.1f, 0.7f, 0.3f}, neg{-odd.x, -odd.y, -odd.z};
    ASSERT_LT(lsf_Vdot(odd, neg) / (lsf_Vlength(odd) * lsf_Vlength(neg)), -1.0);
    const struct {
        Vec3 a, b;
        double angle;
    } cases[] = {
        {{0, 0, 0}, {1, 2, 3}, 0.0},         {{1, 2, 3}, {0, 0, 0}, 0.0},
        {{kNaN, 0, 0}, {1, 0, 0}, 0.0},      {{1, 2, 3}, {1, 2, 3}, 0.0},
        {{0, 1, 0}, {0, -3, 0}, pi},         {odd, neg, pi},
        {{1, 0, 0}, {0, 1, 0}, ArcCos(0.0)}, {{1, 0, 0}, {1, 1, 0}, ArcCos(1.0 / std::sqrt(2.0))}};
    int i = 0;
    for (const auto& c : cases) EXPECT_EQ(AngleBetween(c.a, c.b), c.angle) << "case " << i++;
}

}  // namespace
}  // namespace cvqrn
