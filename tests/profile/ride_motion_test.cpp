// The ride profile's time axis, roll rate and comfort-limit exceedances
// against hand numbers, and the CSV's columns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "profile/comfort_limits.h"
#include "profile/profile_csv.h"
#include "profile/ride_motion.h"
#include "profile/ride_profile.h"
#include "samples/layout_builder.h"

namespace cvqrn {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kRadian = 3.14159265358979323846 / 180.0;

// Samples 1 m apart at 10 m/s with the given rolls (degrees) and lateral g.
RideProfile Synthetic(const std::vector<double>& rollDegrees, const std::vector<double>& lateral) {
    RideProfile p;
    p.spacing = 1.0;
    for (size_t k = 0; k < std::max(rollDegrees.size(), lateral.size()); ++k) {
        ProfileSample s;
        s.distance = static_cast<double>(k);
        s.speed = 10.0;
        s.roll = k < rollDegrees.size() ? rollDegrees[k] * kRadian : 0.0;
        s.vertical = s.feltVertical = 1.0;
        s.lateral = s.feltLateral = k < lateral.size() ? lateral[k] : 0.0;
        p.samples.push_back(s);
    }
    return p;
}

// Times from mean speeds; a train that stops has no time after it.
TEST(RideMotion, TimesTakeEachStepAtTheMeanSpeedAndEndWhereTheTrainStops) {
    RideProfile p = Synthetic({0, 0, 0, 0, 0}, {});
    p.samples[1].speed = 30.0;  // steps 0-1 and 1-2 at 20 m/s
    p.samples[3].speed = kNaN;  // unreached from here on
    const std::vector<double> t = RideTimes(p);
    ASSERT_EQ(t.size(), 5u);
    EXPECT_DOUBLE_EQ(t[0], 0.0);
    EXPECT_DOUBLE_EQ(t[1], 0.05);
    EXPECT_DOUBLE_EQ(t[2], 0.1);
    EXPECT_TRUE(std::isnan(t[3]) && std::isnan(t[4]));
}

// Through +-180 degrees the roll goes on by 5 degrees a metre: 50 degrees a
// second at 10 m/s. Taking the difference without wrapping it reads -3500.
TEST(RideMotion, RollRateTakesTheShortWayRoundThroughHalfATurn) {
    const RideProfile p = Synthetic({170, 175, 180, -175, -170}, {});
    const std::vector<double> rates = RollRates(p, RideTimes(p));
    for (size_t k = 0; k < rates.size(); ++k) EXPECT_NEAR(rates[k], 50.0, 1e-9) << k;
}

TEST(RideMotion, RollRateIsOneSidedBesideASampleWithoutRoll) {
    RideProfile p = Synthetic({0, 10, 20, 0, 40, 60}, {});
    p.samples[3].roll = kNaN;  // vertical track: no roll
    const std::vector<double> rates = RollRates(p, RideTimes(p));
    EXPECT_NEAR(rates[1], 100.0, 1e-9);  // centred: (20 - 0) / 0.2 s
    EXPECT_NEAR(rates[2], 100.0, 1e-9);  // one-sided towards sample 1
    EXPECT_TRUE(std::isnan(rates[3]));
    EXPECT_NEAR(rates[4], 200.0, 1e-9);  // one-sided towards sample 5
}

// Lateral 0, 1, 2, 3, 2, 1, 0 g a metre apart at 10 m/s crosses 1.8 g at
// 1.8 m and 4.2 m: 2.4 m, 0.24 s. Counting whole samples gives 0.2 s.
TEST(ComfortLimits, AnExceedanceRunsBetweenTheInterpolatedCrossings) {
    const RideProfile p = Synthetic({}, {0, 1, 2, 3, 2, 1, 0, -1, -2.5, -2.5});
    const std::vector<Exceedance> found = FindExceedances(p, RideTimes(p), true);
    ASSERT_EQ(found.size(), 2u);
    const Exceedance& left = found[0];
    EXPECT_EQ(left.axis, ForceAxis::Lateral);
    EXPECT_EQ(left.limit, kLateralLimit);
    EXPECT_NEAR(left.startDistance, 1.8, 1e-12);
    EXPECT_NEAR(left.endDistance, 4.2, 1e-12);
    EXPECT_NEAR(left.duration, 0.24, 1e-12);
    EXPECT_EQ(left.peak, 3.0);
    EXPECT_EQ(left.peakDistance, 3.0);
    // The other side, still beyond at the track's end: it ends at the last sample.
    const Exceedance& right = found[1];
    EXPECT_EQ(right.limit, -kLateralLimit);
    EXPECT_NEAR(right.startDistance, 7.0 + 0.8 / 1.5, 1e-12);
    EXPECT_EQ(right.endDistance, 9.0);
    EXPECT_EQ(right.peak, -2.5);
}

// A level 90-degree left turn of radius 10 m at a steady 15 m/s between two
// straights: 2.29 g lateral for 15.7 m of track, 1.047 s. Felt, averaged
// over 0.2 s (3 m), the force passes 1.8 g 0.854 m inside either end of the
// turn, so the felt exceedance lasts (15.708 - 1.708) / 15 = 0.933 s.
TEST(ComfortLimits, ExceedanceDurationsOfABuiltTurn) {
    const double v = 15.0, r = 10.0, arc = 0.5 * 3.14159265358979323846 * r;
    const TrackData track =
        LayoutBuilder({0.0, 2.0, 0.0}).Straight(20.0).Turn(90.0, r).Straight(20.0).Build("turn");
    ProfileSettings settings{0.0, v, v, 0.05};
    const RideProfile p = ComputeRideProfile(track, settings);
    ASSERT_TRUE(p) << p.message;
    const std::vector<double> times = RideTimes(p);
    const double lateral = v * v / (9.81 * r);
    const double inside = (kLateralLimit / lateral) * 3.0 - 1.5;

    const std::vector<Exceedance> raw = FindExceedances(p, times, false);
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0].limit, kLateralLimit);  // a left turn presses towards the left
    EXPECT_NEAR(raw[0].startDistance, 20.0, 0.06);
    EXPECT_NEAR(raw[0].endDistance, 20.0 + arc, 0.06);
    EXPECT_NEAR(raw[0].duration, arc / v, 0.01);
    EXPECT_NEAR(raw[0].peak, lateral, 0.02);  // the Bezier arcs ripple by half a per cent

    const std::vector<Exceedance> felt = FindExceedances(p, times, true);
    ASSERT_EQ(felt.size(), 1u);
    EXPECT_NEAR(felt[0].startDistance, 20.0 + inside, 0.06);
    EXPECT_NEAR(felt[0].duration, (arc - 2.0 * inside) / v, 0.01);
    EXPECT_GT(raw[0].duration - felt[0].duration, 0.1);
}

TEST(ProfileCsv, HeaderNamesEveryColumnAndEachRowFillsThemWithPoints) {
    RideProfile p = Synthetic({0, 1}, {0.5, -0.25});
    p.samples[1].speed = kNaN;
    std::ostringstream out;
    WriteProfileCsv(p, out);
    std::istringstream in(out.str());
    std::string header, first, second;
    std::getline(in, header);
    std::getline(in, first);
    std::getline(in, second);
    const auto fields = [](const std::string& line) {
        return static_cast<size_t>(std::count(line.begin(), line.end(), ',')) + 1;
    };
    EXPECT_EQ(header.rfind("distance (m),segment,", 0), 0u) << header;
    EXPECT_NE(header.find(",felt lateral (g),"), std::string::npos) << header;
    EXPECT_EQ(fields(first), fields(header));
    EXPECT_EQ(fields(second), fields(header));
    EXPECT_EQ(first.rfind("0.000000,0,", 0), 0u) << first;
    EXPECT_NE(first.find(",0.500000,"), std::string::npos) << first;
    EXPECT_EQ(second.substr(second.size() - 1), ",") << "no time where the train does not get";
}

}  // namespace
}  // namespace cvqrn
