// The ride profile against forces derived by hand, the start-speed advice
// against real runs, and the profile command's outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "cli/commands.h"
#include "profile/ride_profile.h"
#include "samples/layout_builder.h"
#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

namespace cvqrn {
namespace {

constexpr double g = 9.81;
constexpr double kTolerance = 1e-4;  // g

// A unit direction across +x, by its y and z.
struct Across {
    double y, z;
};

// One cubic segment from the origin along +x, bending by `theta` towards
// `inward` on radius r, with `roll` at both vertices. At an end of a cubic
// whose handle there is a long, the curvature is 2 d / (3 a^2), d the distance
// of the other handle from the end's tangent line; the handles are chosen so
// that both ends curve exactly on radius r:
// 3 a^2 + 2 r sin(theta) a - 2 r^2 (1 - cos(theta)) = 0.
TrackData Arc(double r, double theta, Across inward, float roll) {
    const double s = std::sin(theta), c = std::cos(theta);
    const double a =
        (-2.0 * r * s + std::sqrt(4.0 * r * r * s * s + 24.0 * r * r * (1.0 - c))) / 6.0;
    // The point `along` metres along +x and `across` metres towards `inward`.
    const auto at = [&](double along, double across) {
        return Vec3{static_cast<float>(along), static_cast<float>(across * inward.y),
                    static_cast<float>(across * inward.z)};
    };
    const double endAlong = r * s, endAcross = r * (1.0 - c);  // the end's tangent is (c, s)
    std::array<TrackVertex, 2> v{};
    v[0].CtrlIn = at(-a, 0.0);
    v[0].CtrlOut = at(a, 0.0);
    v[1].Pos = at(endAlong, endAcross);
    v[1].CtrlIn = at(endAlong - a * c, endAcross - a * s);
    v[1].CtrlOut = at(endAlong + a * c, endAcross + a * s);
    v[0].Roll = v[1].Roll = roll;
    return testsupport::MakeTrackFromVertices(v);
}

// A level straight of `length` metres (one segment, t proportional to
// distance) whose roll eases from 0 to `roll` radians, with no roll rate at
// either vertex.
TrackData RollingStraight(double length, float roll) {
    TrackData track = LayoutBuilder({0.0, 0.0, 0.0}).Straight(length).Build("roll");
    track.Bezr.Vertices[1].Roll = roll;
    track.Bezr.Vertices[0].FlagA = track.Bezr.Vertices[1].FlagA = false;
    return track;
}

RideProfile Profile(const TrackData& track, double h, double v0, double v1) {
    const RideProfile profile = ComputeRideProfile(track, {h, v0, v1});
    EXPECT_TRUE(profile) << profile.message;
    EXPECT_GT(profile.samples.size(), 10u);
    return profile;
}

// Forces on a circle at its ends, where the speed is the start or end speed.
TEST(RideProfile, CirclesGiveTheForcesDerivedByHand) {
    const double r = 20.0, v0 = 12.0, v1 = 9.0, h = 1.04;
    const double theta = 60.0 * kPi / 180.0;
    const double k0 = v0 * v0 / (g * r), k1 = v1 * v1 / (g * r);
    const double phi = std::atan(k0);  // the banking that cancels lateral g at v0
    const double aHeart = v0 * v0 / (r - h * std::sin(phi)) / g;  // heart on radius r - h sin(phi)
    const Across left{0, -1}, right{0, 1}, up{1, 0}, down{-1, 0};
    struct Row {
        const char* name;
        TrackData track;
        double h;
        bool atEnd;  // the last sample (speed v1) instead of the first (speed v0)
        double vertical, lateral;
    };
    const std::vector<Row> rows = {
        {"unbanked left turn", Arc(r, theta, left, 0.0f), 0.0, false, 1.0, k0},
        {"unbanked right turn", Arc(r, theta, right, 0.0f), 0.0, false, 1.0, -k0},
        {"banked turn, heart 1.04 m up", Arc(r, theta, left, static_cast<float>(phi)), h, false,
         aHeart * std::sin(phi) + std::cos(phi), aHeart * std::cos(phi) - std::sin(phi)},
        {"valley bottom", Arc(r, theta, up, 0.0f), 0.0, false, 1.0 + k0, 0.0},
        {"valley's end, climbing at theta", Arc(r, theta, up, 0.0f), 0.0, true,
         std::cos(theta) + k1, 0.0},
        // R = roll (1 - cos(pi s / L)) / 2 starts with R'' = roll pi^2 / (2 L^2), which
        // swings the heart h R'' v^2 sideways.
        {"rolling straight, heart 1.04 m up", RollingStraight(10.0, 0.5f), h, false, 1.0,
         v0 * v0 * h * 0.5 * kPi * kPi / (2.0 * 100.0 * g)},
        {"inverted crest, heart 1.04 m", Arc(r, theta, down, static_cast<float>(kPi)), h, false,
         v0 * v0 / (g * (r - h)) - 1.0, 0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const RideProfile p = Profile(row.track, row.h, v0, v1);
        const ProfileSample& s = row.atEnd ? p.samples.back() : p.samples.front();
        EXPECT_NEAR(s.speed, row.atEnd ? v1 : v0, 1e-9);
        EXPECT_NEAR(s.vertical, row.vertical, kTolerance);
        EXPECT_NEAR(s.lateral, row.lateral, kTolerance);
        EXPECT_FALSE(s.verticalTrack);
    }
}

TEST(RideProfile, ADropGivesGravityAndTheEnergyLine) {
    // 60 m down at 45 degrees: v^2 runs linearly from v0^2 to v1^2, as the
    // energy line and the height both change linearly with distance.
    const double v0 = 10.0, v1 = 25.0, length = 60.0, root = std::sqrt(0.5);
    const RideProfile p = Profile(
        LayoutBuilder({0.0, 80.0, 0.0}, 30.0, -45.0).Straight(length).Build("drop"), 0.0, v0, v1);
    EXPECT_NEAR(p.summary.length, length, 1e-3);
    const double dv2 = (v1 * v1 - v0 * v0) / length;
    for (const ProfileSample& s : p.samples) {
        EXPECT_NEAR(s.speed * s.speed, v0 * v0 + dv2 * s.distance, 1e-2) << s.distance;
        EXPECT_NEAR(s.vertical, root, kTolerance) << s.distance;
        EXPECT_NEAR(s.lateral, 0.0, kTolerance) << s.distance;
        EXPECT_NEAR(s.longitudinal, (dv2 / 2.0 - g * root) / g, kTolerance) << s.distance;
    }
}

TEST(RideProfile, SamplesEqualSpacingWithBothEndsAndLocatesExtremes) {
    const RideProfile p = Profile(FamilyCoaster(), 0.0, 14.3, 12.9);
    for (size_t n = 0; n + 1 < p.samples.size(); ++n) {
        EXPECT_DOUBLE_EQ(p.samples[n].distance, static_cast<double>(n) * 0.5);
    }
    const double lastGap = p.samples.back().distance - p.samples[p.samples.size() - 2].distance;
    EXPECT_TRUE(p.samples.back().distance == p.summary.length && lastGap > 0.0 && lastGap <= 0.5);
    // Each extreme is the value of the sample it names, and bounds every sample.
    const ProfileSummary& s = p.summary;
    for (const ProfileExtreme* e :
         {&s.maxVertical, &s.minVertical, &s.maxLateral, &s.minSpeed, &s.maxSpeed}) {
        const ProfileSample& at = p.samples.at(static_cast<size_t>(std::lround(e->distance / 0.5)));
        EXPECT_EQ(at.segment, e->segment);
        EXPECT_TRUE(e->value == at.vertical || e->value == at.lateral || e->value == at.speed);
    }
    double squares = 0.0;
    for (const ProfileSample& sample : p.samples) {
        EXPECT_TRUE(sample.vertical <= s.maxVertical.value &&
                    sample.vertical >= s.minVertical.value);
        EXPECT_LE(std::abs(sample.lateral), std::abs(s.maxLateral.value));
        squares += sample.lateral * sample.lateral;
    }
    EXPECT_NEAR(s.lateralRms, std::sqrt(squares / static_cast<double>(p.samples.size())), 1e-12);
    // Averaging over 5 m or 0.2 s can only lower the RMS and draw the extremes in.
    EXPECT_LT(s.lateralRms5m, s.lateralRms);
    EXPECT_LT(s.feltLateralRms, s.lateralRms);
    EXPECT_LE(std::abs(s.feltMaxLateral.value), std::abs(s.maxLateral.value));
    EXPECT_TRUE(s.feltMaxVertical.value <= s.maxVertical.value &&
                s.feltMinVertical.value >= s.minVertical.value);
}

// Two level straights of 10 m meeting at vertex 1, the second turned by
// `degrees` about the vertical (its handles along its own direction).
TrackData BentStraights(double degrees) {
    const double a = degrees * std::acos(-1.0) / 180.0;
    // The point `along` metres down the second straight.
    const auto second = [&](double along) {
        return Vec3{static_cast<float>(10.0 + along * std::cos(a)), 0.0f,
                    static_cast<float>(along * std::sin(a))};
    };
    std::array<TrackVertex, 3> v{};
    v[0].CtrlIn = {-3.0f, 0.0f, 0.0f};
    v[0].CtrlOut = {3.0f, 0.0f, 0.0f};
    v[1].Pos = {10.0f, 0.0f, 0.0f};
    v[1].CtrlIn = {7.0f, 0.0f, 0.0f};
    v[1].CtrlOut = second(3.0);
    v[2].Pos = second(10.0);
    v[2].CtrlIn = second(7.0);
    v[2].CtrlOut = second(13.0);
    return testsupport::MakeTrackFromVertices(v);
}

// A straight climbing at 30 degrees along +x for 10 m, running on smoothly
// (one tangent at the join) into a turn to the left that keeps climbing at
// 30 degrees, 40 degrees round on a radius of 12 m. The level frame spins
// about the tangent as a climbing track turns, so the riders' up starts to
// turn at the join: the heart path a heartline above kinks there.
TrackData ClimbIntoATurn() {
    const double pitch = std::acos(-1.0) / 6.0, rise = std::tan(pitch), r = 12.0;
    const double sweep = 40.0 * std::acos(-1.0) / 180.0;
    const double x0 = 10.0 * std::cos(pitch), y0 = 10.0 * std::sin(pitch);
    // The turn's point at yaw angle `yaw` (turning to -z, to the left of
    // +x), and the point `length` metres from it along the turn's tangent.
    const auto point = [&](double yaw) {
        return Vec3{static_cast<float>(x0 + r * std::sin(yaw)),
                    static_cast<float>(y0 + r * yaw * rise),
                    static_cast<float>(-r * (1.0 - std::cos(yaw)))};
    };
    const auto handle = [&](double yaw, double length) {
        const double n = std::sqrt(1.0 + rise * rise);
        const Vec3 p = point(yaw);
        return Vec3{static_cast<float>(static_cast<double>(p.x) + length * std::cos(yaw) / n),
                    static_cast<float>(static_cast<double>(p.y) + length * rise / n),
                    static_cast<float>(static_cast<double>(p.z) - length * std::sin(yaw) / n)};
    };
    const double a = 4.0 / 3.0 * std::tan(sweep / 4.0) * r * std::sqrt(1.0 + rise * rise);
    std::array<TrackVertex, 3> v{};
    v[0].CtrlIn = handle(0.0, -13.0);
    v[0].CtrlOut = handle(0.0, -7.0);
    v[1].Pos = point(0.0);
    v[1].CtrlIn = handle(0.0, -3.0);
    v[1].CtrlOut = handle(0.0, a);
    v[2].Pos = point(sweep);
    v[2].CtrlIn = handle(sweep, -a);
    v[2].CtrlOut = handle(sweep, a);
    v[0].Pos = handle(0.0, -10.0);
    return testsupport::MakeTrackFromVertices(v);
}

// Fault: a knock no sample shows. Where the heart path's direction jumps at a
// join, each sample still takes its force from its own segment's smooth
// curve; only the joins themselves can tell. A rail bent by 10 degrees at a
// vertex kinks by 10 degrees there; a rail that runs on smoothly from a
// climbing straight into a climbing turn still kinks the heart path a
// heartline above it (see ClimbIntoATurn).
TEST(RideProfile, KinksAtJoinsAreMeasuredWhereNoSampleSeesThem) {
    const RideProfile bent = Profile(BentStraights(10.0), 0.0, 10.0, 10.0);
    EXPECT_NEAR(bent.summary.largestKink.value, 10.0, 1e-3);
    EXPECT_NEAR(bent.summary.largestKink.distance, 10.0, 1e-3);
    EXPECT_EQ(bent.summary.largestKink.segment, 1);
    EXPECT_LT(Profile(BentStraights(0.0), 0.0, 10.0, 10.0).summary.largestKink.value, 1e-3);

    const TrackData climb = ClimbIntoATurn();
    EXPECT_LT(Profile(climb, 0.0, 20.0, 18.0).summary.largestKink.value, 0.01);
    const ProfileExtreme kink = Profile(climb, 1.2, 20.0, 18.0).summary.largestKink;
    EXPECT_GT(kink.value, 0.5);
    EXPECT_EQ(kink.segment, 1);

    // A single segment has no join.
    const RideProfile arc = Profile(Arc(20.0, 0.5, Across{0.0, -1.0}, 0.3f), 1.0, 10.0, 10.0);
    EXPECT_EQ(arc.summary.largestKink.segment, -1);
}

// Up a vertical wall and down again.
TrackData Tower() {
    return LayoutBuilder({0.0, 5.0, 0.0})
        .Straight(10.0)
        .Pitch(90.0, 10.0)
        .Straight(8.0)
        .Pitch(-90.0, 10.0)
        .Build("tower");
}

TEST(RideProfile, VerticalTrackIsFlaggedAndLeftOutOfTheExtremes) {
    const RideProfile p = Profile(Tower(), 1.04, 25.0, 12.0);
    int flagged = 0;
    for (const ProfileSample& s : p.samples) {
        if (!s.verticalTrack) continue;
        ++flagged;
        EXPECT_TRUE(std::isnan(s.vertical) && std::isnan(s.lateral) && std::isnan(s.roll));
        EXPECT_NE(p.summary.maxVertical.distance, s.distance);
        EXPECT_NE(p.summary.minVertical.distance, s.distance);
        EXPECT_NE(p.summary.maxLateral.distance, s.distance);
    }
    EXPECT_GT(flagged, 5);
    EXPECT_EQ(p.summary.verticalSamples, flagged);
    EXPECT_TRUE(std::isfinite(p.summary.maxVertical.value) && std::isfinite(p.summary.lateralRms));
}

// Level samples every 0.25 m at 11 m/s: the felt window (2.2 m of path)
// holds the sample and four on either side.
std::vector<ProfileSample> Samples(int count, double (*lateral)(int), double (*vertical)(int)) {
    std::vector<ProfileSample> samples(static_cast<size_t>(count));
    for (int n = 0; n < count; ++n) {
        ProfileSample& s = samples[static_cast<size_t>(n)];
        s.distance = 0.25 * n;
        s.speed = 11.0;
        s.lateral = lateral(n);
        s.vertical = vertical(n);
    }
    return samples;
}

// Each felt value is the mean over the counted samples within v x 0.2 s / 2
// on either side, also where the window grows or shrinks by many samples at
// once (a sudden change of speed) and across samples left out: a search that
// only looks near the last window's ends, or that lets a left-out sample
// move them, takes the wrong samples.
TEST(FeltForces, EveryWindowHoldsTheCountedSamplesWithinItsReach) {
    constexpr int kCount = 5000;
    std::vector<ProfileSample> samples(static_cast<size_t>(kCount));
    for (int n = 0; n < kCount; ++n) {
        ProfileSample& s = samples[static_cast<size_t>(n)];
        s.distance = 0.25 * n;
        // 11 m/s, then 60 (24 samples each side), then 0.5 (the sample
        // alone), then 30, then 3 near the end.
        s.speed = n < 1000 ? 11.0 : n < 1500 ? 60.0 : n < 2500 ? 0.5 : n < 4500 ? 30.0 : 3.0;
        s.lateral = n % 37 == 5 ? std::nan("") : std::sin(0.37 * n) + 0.01 * n;
        s.vertical = 1.0 + 0.5 * std::cos(0.11 * n);
    }
    const auto expected = [&](size_t k) {
        const ProfileSample& s = samples[k];
        const double half = 0.5 * 0.2 * s.speed;
        double sum = 0.0;
        int count = 0;
        for (const ProfileSample& t : samples) {
            if (std::isnan(t.lateral) || t.distance < s.distance - half ||
                t.distance > s.distance + half) {
                continue;
            }
            sum += t.lateral;
            ++count;
        }
        return sum / count;
    };
    std::vector<ProfileSample> alone = samples;
    ComputeFeltForces(alone);
    int split = 0;
    std::vector<ProfileSample> halves = samples;
    ComputeFeltForces(
        halves, [&split](const std::function<void()>& first, const std::function<void()>& second) {
            ++split;
            second();
            first();
        });
    EXPECT_EQ(split, 1);
    for (size_t k = 0; k < samples.size(); ++k) {
        if (std::isnan(samples[k].lateral)) {
            EXPECT_TRUE(std::isnan(alone[k].feltLateral)) << k;
            continue;
        }
        EXPECT_NEAR(alone[k].feltLateral, expected(k), 1e-9) << k;
        EXPECT_EQ(alone[k].feltLateral, halves[k].feltLateral) << k;
    }
}

// A window measured in samples instead of travel time, or one-sided, bends
// the ramp out of its nine equal steps.
TEST(FeltForces, AStepInLateralBecomesARampOverPointTwoSeconds) {
    std::vector<ProfileSample> samples = Samples(
        80, [](int n) { return n >= 40 ? 1.0 : 0.0; }, [](int) { return 1.0; });
    ComputeFeltForces(samples);
    for (int n = 0; n < 80; ++n) {
        const double expected = std::clamp(n - 35, 0, 9) / 9.0;
        EXPECT_DOUBLE_EQ(samples[static_cast<size_t>(n)].feltLateral, expected) << n;
        EXPECT_DOUBLE_EQ(samples[static_cast<size_t>(n)].feltVertical, 1.0) << n;
    }
    const ProfileSummary s = SummariseProfile(samples, 19.75, 0.25);
    EXPECT_DOUBLE_EQ(s.feltMaxLateral.value, 1.0);
    EXPECT_DOUBLE_EQ(s.feltMaxLateral.distance, 0.25 * 44);
    // Each step of 1/9 g takes 0.25 m at 11 m/s.
    EXPECT_NEAR(s.onsetLateral, (1.0 / 9.0) * 11.0 / 0.25, 1e-12);
    EXPECT_EQ(s.onsetVertical, 0.0);
}

// An onset taken over distance instead of time, or across a sample that is
// left out, gives another figure.
TEST(FeltForces, OnsetOfARampIsItsSlopeTimesTheSpeed) {
    std::vector<ProfileSample> samples = Samples(
        80, [](int n) { return 0.1 * 0.25 * std::min(n, 40); },
        [](int n) { return n < 60 ? 1.0 : 5.0; });
    // The train stands still at the step: no felt force there, and the
    // windows around it average eight samples instead of nine.
    samples[59].speed = std::nan("");
    ComputeFeltForces(samples);
    EXPECT_TRUE(std::isnan(samples[59].feltVertical));
    EXPECT_DOUBLE_EQ(samples[20].feltLateral, samples[20].lateral);  // a ramp averages to itself
    const ProfileSummary s = SummariseProfile(samples, 19.75, 0.25);
    EXPECT_NEAR(s.onsetLateral, 0.1 * 11.0, 1e-9);
    EXPECT_NEAR(s.onsetVertical, (4.0 / 8.0) * 11.0 / 0.25, 1e-9);

    // At 12.5 m/s a window reaches five samples either side. A path that
    // ends ten micrometres past its last regular sample drops the farthest of
    // them from the end's window: the felt force changes by 0.01 g over
    // those micrometres, which is no onset of the ride's (12,000 g/s).
    std::vector<ProfileSample> ramp = Samples(
        80, [](int n) { return 0.1 * 0.25 * n; }, [](int) { return 1.0; });
    ProfileSample end = ramp.back();
    end.distance += 1e-5;
    end.lateral = 0.1 * end.distance;
    ramp.push_back(end);
    for (ProfileSample& r : ramp) r.speed = 12.5;
    ComputeFeltForces(ramp);
    EXPECT_NEAR(SummariseProfile(ramp, end.distance, 0.25).onsetLateral, 0.1 * 12.5, 1e-9);
}

TEST(RideProfile, RefusesWhatItCannotTake) {
    TrackData nan = FamilyCoaster();
    nan.Bezr.Vertices[3].Roll = std::nanf("");
    TrackData single = FamilyCoaster();
    single.Bezr.VertexCount = 1;
    for (const auto& [track, settings] :
         {std::pair{nan, ProfileSettings{}}, std::pair{single, ProfileSettings{}},
          std::pair{FamilyCoaster(), ProfileSettings{0.0, 14.3, 12.9, 0.0}}}) {
        const RideProfile p = ComputeRideProfile(track, settings);
        EXPECT_FALSE(p);
        EXPECT_TRUE(p.samples.empty());
    }
}

// The same double, bit for bit (NaN included).
bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Every figure of two profiles the same bits; the first that differs.
std::string FirstDifference(const RideProfile& a, const RideProfile& b) {
    if (a.samples.size() != b.samples.size()) return "sample count";
    for (size_t k = 0; k < a.samples.size(); ++k) {
        const ProfileSample& x = a.samples[k];
        const ProfileSample& y = b.samples[k];
        const std::array<std::pair<double, double>, 16> fields{{
            {x.distance, y.distance}, {x.heart.x, y.heart.x}, {x.heart.y, y.heart.y},
            {x.heart.z, y.heart.z}, {x.rail.x, y.rail.x}, {x.rail.y, y.rail.y},
            {x.rail.z, y.rail.z}, {x.speed, y.speed}, {x.roll, y.roll},
            {x.vertical, y.vertical}, {x.lateral, y.lateral}, {x.longitudinal, y.longitudinal},
            {x.feltVertical, y.feltVertical}, {x.feltLateral, y.feltLateral},
            {x.feltLongitudinal, y.feltLongitudinal}, {a.spacing, b.spacing}}};
        for (size_t f = 0; f < fields.size(); ++f) {
            if (!SameBits(fields[f].first, fields[f].second)) {
                return "sample " + std::to_string(k) + " field " + std::to_string(f);
            }
        }
        if (x.segment != y.segment || x.verticalTrack != y.verticalTrack) {
            return "sample " + std::to_string(k) + " segment";
        }
    }
    const ProfileSummary& p = a.summary;
    const ProfileSummary& q = b.summary;
    for (const auto& [u, v] : {std::pair{p.maxVertical.value, q.maxVertical.value},
                               std::pair{p.feltMaxLateral.value, q.feltMaxLateral.value},
                               std::pair{p.lateralRms5m, q.lateralRms5m},
                               std::pair{p.onsetVertical, q.onsetVertical},
                               std::pair{p.length, q.length}}) {
        if (!SameBits(u, v)) return "summary";
    }
    return "";
}

// Runs the second part before the first: a split whose second half leans on
// the first (a running sum carried across, a shared cursor) comes out wrong.
struct Reversed {
    void operator()(const std::function<void()>& first, const std::function<void()>& second) {
        ++calls;
        second();
        first();
    }
    int calls = 0;
};

// Split between two threads or run backwards, the profile keeps every bit:
// heart path (a long track, a vertical tower, a track the train stops on,
// a negative heartline) and felt forces alike.
TEST(RideProfile, SplitBetweenTwoThreadsGivesTheSameBits) {
    const std::vector<std::tuple<TrackData, ProfileSettings, bool>> cases{
        {WindingTrack(2000), {1.04, 14.3, 12.9}, false},
        {FamilyCoaster(), {-1.2, 14.3, 12.9, 0.05}, false},
        {Tower(), {1.04, 25.0, 12.0, 0.01}, false},
        {HighHill(), {1.04, 14.3, 12.9, 0.02}, true},  // the train stops on the hill
    };
    for (size_t c = 0; c < cases.size(); ++c) {
        const auto& [track, settings, stops] = cases[c];
        const RideProfile alone = ComputeRideProfile(track, settings);
        ASSERT_TRUE(alone) << alone.message;
        EXPECT_EQ(alone.summary.stops, stops) << "case " << c;
        Reversed reversed;
        const RideProfile backwards =
            ComputeRideProfile(track, settings, std::ref(reversed));
        EXPECT_EQ(reversed.calls, 3) << "the walk, the samples and the felt forces split, case " << c;
        EXPECT_EQ(FirstDifference(alone, backwards), "") << "case " << c;
        const RideProfile threads = ComputeRideProfile(
            track, settings, [](const std::function<void()>& first, const std::function<void()>& second) {
                std::thread beside(first);
                second();
                beside.join();
            });
        EXPECT_EQ(FirstDifference(alone, threads), "") << "case " << c;
    }
}

struct CliRun {
    int status;
    std::string out, err;
};

CliRun Cli(int (*command)(cli::Args, std::ostream&, std::ostream&),
           const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = command(args, out, err);
    return {status, out.str(), err.str()};
}

TEST(ProfileCli, WritesSummaryJsonAndOneCsvRowPerSample) {
    testsupport::TempDir dir;
    TrackData hill = HighHill();
    const SaveResult saved = SaveTrack(dir.File("hill.cvtrack"), hill);
    ASSERT_TRUE(saved) << saved.message;
    const std::string csv = dir.File("hill.csv");
    const CliRun run = Cli(cli::RunProfile, {saved.path, "--json", "--spacing", "2", "--csv", csv,
                                             "--start-speed=20", "--heartline", "1.04"});
    ASSERT_EQ(run.status, cli::kExitOk) << run.err;
    EXPECT_NE(run.out.find("\"stop\": null"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"onset_lateral\": "), std::string::npos) << run.out;
    std::ifstream file(csv);
    size_t lines = 0;
    for (std::string line; std::getline(file, line);) ++lines;
    // A header, then one row per sample.
    EXPECT_EQ(lines, 1 + ComputeRideProfile(HighHill(), {1.04, 20.0, 12.9, 2.0}).samples.size());

    // At the window's speeds the hill stops the train, and the summary says where.
    const CliRun stops = Cli(cli::RunProfile, {saved.path});
    EXPECT_EQ(stops.status, cli::kExitOk);
    EXPECT_NE(stops.out.find("the train stops"), std::string::npos) << stops.out;

    EXPECT_EQ(Cli(cli::RunProfile, {saved.path, "--spacing", "0"}).status, cli::kExitUsage);

    // A heartline run that valleys names the advised speed in its message and JSON.
    const CliRun valley = Cli(cli::RunHeartline, {saved.path, dir.File("out"), "--json"});
    EXPECT_EQ(valley.status, cli::kExitFailure);
    EXPECT_NE(valley.err.find("With V in at least "), std::string::npos) << valley.err;
    EXPECT_NE(valley.out.find("\"advised_start_speed\": "), std::string::npos) << valley.out;

    // A run that succeeds summarises the loaded track with the heart on the
    // rail and the new one with the heart at the heartline distance.
    const CliRun run2 =
        Cli(cli::RunHeartline, {saved.path, dir.File("out"), "--json", "--start-speed", "20"});
    ASSERT_EQ(run2.status, cli::kExitOk) << run2.err;
    for (const char* part : {"\"profile_in\": {\n    \"heartline\": 0,",
                             "\"profile_out\": {\n    \"heartline\": 1.04,"}) {
        EXPECT_NE(run2.out.find(part), std::string::npos) << run2.out;
    }
}

}  // namespace
}  // namespace cvqrn
