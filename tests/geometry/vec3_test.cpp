#include "vec3/vec3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::ExpectVecEq;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(Vec3, NormalizeGivesUnitLengthAndZeroForZeroOrNaN) {
    ExpectVecEq(lsf_Vnormalize({0, 0, 0}), {0, 0, 0});
    ExpectVecEq(lsf_Vnormalize({kNaN, 1, 0}), {0, 0, 0});
    ExpectVecEq(lsf_Vnormalize({3, 0, 4}), {0.6f, 0, 0.8f});
}

TEST(Vec3, AngleBetweenCoversTheGuardedCases) {
    const double pi = 4.0 * std::atan(1.0);
    // 0.1 has no exact single: the cosine of v and -v rounds to just below -1,
    // which is still a half turn.
    const Vec3 odd{0.1f, 0.7f, 0.3f}, neg{-odd.x, -odd.y, -odd.z};
    ASSERT_LT(lsf_Vdot(odd, neg) / (lsf_Vlength(odd) * lsf_Vlength(neg)), -1.0);
    const struct {
        Vec3 a, b;
        double angle;
    } cases[] = {{{0, 0, 0}, {1, 2, 3}, 0.0},    {{1, 2, 3}, {0, 0, 0}, 0.0},
                 {{kNaN, 0, 0}, {1, 0, 0}, 0.0}, {{1, 2, 3}, {1, 2, 3}, 0.0},
                 {{0, 1, 0}, {0, -3, 0}, pi},    {odd, neg, pi}};
    int i = 0;
    for (const auto& c : cases) EXPECT_EQ(AngleBetween(c.a, c.b), c.angle) << "case " << i++;
}

}  // namespace
}  // namespace cvqrn
