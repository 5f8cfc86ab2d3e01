// portable_math's functions: within two units in the last place of the C
// library's on hard and random arguments, and exact where the smooth rebuild
// relies on it (odd and even symmetry, zero angles, the quadrants of atan2).
// That they give the page's bits bit for bit is tests/libm's check.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "portable_math/portable_math.h"

namespace cvqrn::portable {
namespace {

constexpr double kPiDouble = 3.14159265358979323846;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Units in the last place between two finite doubles of the same sign (or
// zero): the distance of their bit patterns on the ordered integer line.
int64_t UlpsApart(double a, double b) {
    const auto ordered = [](double v) {
        int64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return bits < 0 ? std::numeric_limits<int64_t>::min() - bits : bits;
    };
    const int64_t d = ordered(a) - ordered(b);
    return d < 0 ? -d : d;
}

// The C library's functions through volatile pointers, so that the compiler
// does not fold them itself.
double LibSin(double x) {
    double (*volatile f)(double) = std::sin;
    return f(x);
}
double LibCos(double x) {
    double (*volatile f)(double) = std::cos;
    return f(x);
}
double LibAtan(double x) {
    double (*volatile f)(double) = std::atan;
    return f(x);
}
double LibAtan2(double y, double x) {
    double (*volatile f)(double, double) = std::atan2;
    return f(y, x);
}
double LibHypot(double x, double y) {
    double (*volatile f)(double, double) = std::hypot;
    return f(x, y);
}

struct OneArgument {
    const char* name;
    double (*portable)(double);
    double (*library)(double);
};
const OneArgument kOneArgument[] = {
    {"sin", sin, LibSin}, {"cos", cos, LibCos}, {"atan", atan, LibAtan}};

// Arguments that catch the reduction's branches: near multiples of pi/2 (where
// a one-step reduction cancels), on both sides of pi/4, 3pi/4, 5pi/4, 7pi/4
// and 9pi/4 (the thresholds of its cases), tiny, and medium-sized (two and
// three rounds of reduction); for atan the limits of its five intervals.
const double kHardArguments[] = {
    0.0, 1e-300, 1e-20, 1.4e-8, 3e-8, 0.25, 0.4375, 0.43749999999999994, 0.6875, 0.7853981633974483,
    0.7853981633974484, 1.1875, 1.5707963267948966, 1.5707963267948968, 2.356194490192345,
    2.356194490192346, 2.4375, 3.141592653589793, 3.9269908169872414, 4.71238898038469,
    5.497787143782138, 6.283185307179586, 7.0685834705770345, 10.995574287564276, 100.0,
    1e5 * 1.5707963267948966, 355.0, 103993.0, 1.0e6, 1.6e6, 3.0e7, 1.0e20};

TEST(PortableMath, OneArgumentFunctionsWithinTwoUlpOfTheLibraryOnHardArguments) {
    for (const OneArgument& f : kOneArgument) {
        for (const double x : kHardArguments) {
            // Beyond 2^20 pi/2 sine and cosine reduce by fmod: only their
            // range is promised there (see LargeAnglesStayFiniteAndOnTheCircle).
            if (std::string(f.name) != "atan" && x > 1.6e6) continue;
            for (const double v : {x, -x}) {
                EXPECT_LE(UlpsApart(f.portable(v), f.library(v)), 2) << f.name << "(" << v << ")";
            }
        }
    }
}

TEST(PortableMath, OneArgumentFunctionsWithinTwoUlpOfTheLibraryOnRandomArguments) {
    std::mt19937_64 random(19);
    const auto uniform = [&random](double lo, double hi) {
        return lo + (hi - lo) * (static_cast<double>(random() >> 11) * 0x1p-53);
    };
    struct Range {
        double lo, hi;
    };
    for (const OneArgument& f : kOneArgument) {
        for (const Range range : {Range{-kPiDouble, kPiDouble}, Range{-50.0, 50.0}, Range{-1e5, 1e5}}) {
            for (int k = 0; k < 20000; ++k) {
                const double x = uniform(range.lo, range.hi);
                ASSERT_LE(UlpsApart(f.portable(x), f.library(x)), 2) << f.name << "(" << x << ")";
            }
        }
    }
    for (int k = 0; k < 20000; ++k) {
        const double y = uniform(-30.0, 30.0), x = uniform(-30.0, 30.0);
        ASSERT_LE(UlpsApart(atan2(y, x), LibAtan2(y, x)), 2) << "atan2(" << y << ", " << x << ")";
        ASSERT_LE(UlpsApart(hypot(x, y), LibHypot(x, y)), 1) << "hypot(" << x << ", " << y << ")";
    }
}

// The rider's frame takes cos and sin of -roll as the mirror of roll, and a
// roll of zero must give the level frame exactly.
TEST(PortableMath, SineIsOddCosineEvenAndZeroExact) {
    EXPECT_EQ(sin(0.0), 0.0);
    EXPECT_TRUE(std::signbit(sin(-0.0)));
    EXPECT_EQ(cos(0.0), 1.0);
    EXPECT_EQ(cos(-0.0), 1.0);
    std::mt19937_64 random(7);
    for (int k = 0; k < 2000; ++k) {
        const double x = static_cast<double>(random() >> 11) * 0x1p-53 * 20.0;
        ASSERT_EQ(sin(-x), -sin(x)) << x;
        ASSERT_EQ(cos(-x), cos(x)) << x;
        ASSERT_EQ(atan(-x), -atan(x)) << x;
    }
}

// The roll is read back with atan2: every quadrant, the axes and signed
// zeros must land where the C library puts them (a roll of pi, not -pi,
// upside down on the level frame).
TEST(PortableMath, Atan2QuadrantsAxesAndSpecialValues) {
    struct Case {
        double y, x, expected;
    };
    const Case cases[] = {
        {0.0, 1.0, 0.0},
        {0.0, -1.0, kPiDouble},
        {-0.0, -1.0, -kPiDouble},
        {1.0, 0.0, kPiDouble / 2},
        {-1.0, 0.0, -kPiDouble / 2},
        {1.0, 1.0, kPiDouble / 4},
        {-1.0, -1.0, -3 * kPiDouble / 4},
        {1.0, -1.0, 3 * kPiDouble / 4},
        {kInf, kInf, kPiDouble / 4},
        {2.0, -kInf, kPiDouble},
        {1e300, 1e-300, kPiDouble / 2},
        {1e-300, -1e300, kPiDouble},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(atan2(c.y, c.x), c.expected) << "atan2(" << c.y << ", " << c.x << ")";
        EXPECT_EQ(atan2(c.y, c.x), LibAtan2(c.y, c.x)) << "atan2(" << c.y << ", " << c.x << ")";
    }
    EXPECT_TRUE(std::signbit(atan2(-0.0, 1.0)));
    EXPECT_TRUE(std::isnan(atan2(kNaN, 1.0)));
    EXPECT_TRUE(std::isnan(atan2(1.0, kNaN)));
}

// The level frame is refused where hypot of the tangent's level part is
// zero: it must be zero exactly there, exact on Pythagorean triples, free of
// overflow and underflow, and the same for either order and sign.
TEST(PortableMath, HypotExactWhereItCanBeAndWithoutOverflow) {
    EXPECT_EQ(hypot(0.0, 0.0), 0.0);
    EXPECT_EQ(hypot(3.0, 4.0), 5.0);
    EXPECT_EQ(hypot(-5.0, 12.0), 13.0);
    EXPECT_EQ(hypot(0.0, -2.5), 2.5);
    EXPECT_LE(UlpsApart(hypot(3e300, 4e300), 5e300), 1);
    EXPECT_LE(UlpsApart(hypot(3e-300, 4e-300), 5e-300), 1);
    EXPECT_EQ(hypot(1.0, 1e-30), 1.0);
    EXPECT_EQ(hypot(kInf, kNaN), kInf);
    EXPECT_TRUE(std::isnan(hypot(kNaN, 1.0)));
    EXPECT_EQ(hypot(1.5, -0.25), hypot(-0.25, 1.5));
}

// A damaged file can hold any float as a roll: the sine and cosine must stay
// finite and on the unit circle however large the angle, and NaN or an
// infinity must give NaN (which the run then refuses), not hang or crash.
TEST(PortableMath, LargeAnglesStayFiniteAndOnTheCircle) {
    for (const double x : {1.7e6, 1e10, 3.4e38, 1e300, -1e300}) {
        const double s = sin(x), c = cos(x);
        ASSERT_TRUE(std::isfinite(s) && std::isfinite(c)) << x;
        EXPECT_NEAR(s * s + c * c, 1.0, 1e-15) << x;
    }
    for (const double x : {kInf, -kInf, kNaN}) {
        EXPECT_TRUE(std::isnan(sin(x))) << x;
        EXPECT_TRUE(std::isnan(cos(x))) << x;
    }
    EXPECT_EQ(atan(kInf), kPiDouble / 2);
    EXPECT_EQ(atan(-1e300), -kPiDouble / 2);
}

}  // namespace
}  // namespace cvqrn::portable
