// The ride profile against forces derived by hand, the start-speed advice
// against real runs, and the profile command's outputs.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "profile/ride_profile.h"
#include "profile/valley_advice.h"
#include "samples/layout_builder.h"
#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

namespace cvqrn {
namespace {

constexpr double g = 9.81;
constexpr double kTolerance = 1e-4;  // g

struct V {
    double x, y, z;
};
V operator+(V a, V b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
V operator*(double s, V a) {
    return {s * a.x, s * a.y, s * a.z};
}
Vec3 Single(V a) {
    return {static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(a.z)};
}

// One cubic segment from the origin along +x, bending by `theta` towards
// `inward` (a unit vector across +x) on radius r, with `roll` at both
// vertices. At an end of a cubic whose handle there is a long, the curvature
// is 2 d / (3 a^2), d the distance of the other handle from the end's tangent
// line; the handles are chosen so that both ends curve exactly on radius r:
// 3 a^2 + 2 r sin(theta) a - 2 r^2 (1 - cos(theta)) = 0.
TrackData Arc(double r, double theta, V inward, float roll) {
    const double s = std::sin(theta), c = std::cos(theta);
    const double a = (-2.0 * r * s + std::sqrt(4.0 * r * r * s * s + 24.0 * r * r * (1.0 - c))) / 6.0;
    const V x{1.0, 0.0, 0.0};
    const V end = (r * s) * x + (r * (1.0 - c)) * inward;
    const V endTangent = c * x + s * inward;
    std::array<TrackVertex, 2> v{};
    v[0].Pos = Single({0.0, 0.0, 0.0});
    v[0].CtrlOut = Single(a * x);
    v[0].CtrlIn = Single(-a * x);
    v[1].Pos = Single(end);
    v[1].CtrlIn = Single(end + (-a) * endTangent);
    v[1].CtrlOut = Single(end + a * endTangent);
    v[0].Roll = v[1].Roll = roll;
    return testsupport::MakeTrackFromVertices(v);
}

// A level straight of `length` metres (one segment, t proportional to
// distance) whose roll eases from 0 to `roll` radians, with no roll rate at
// either vertex.
TrackData RollingStraight(double length, float roll) {
    TrackData track = LayoutBuilder({0.0, 0.0, 0.0}).Straight(length).Build("roll");
    EXPECT_EQ(track.Bezr.VertexCount, 2);
    track.Bezr.Vertices[1].Roll = roll;
    track.Bezr.Vertices[0].FlagA = track.Bezr.Vertices[1].FlagA = false;
    return track;
}

RideProfile Profile(const TrackData& track, double h, double v0, double v1) {
    ProfileSettings settings;
    settings.heartline = h;
    settings.startspeed = v0;
    settings.endspeed = v1;
    const RideProfile profile = ComputeRideProfile(track, settings);
    EXPECT_TRUE(profile) << profile.error;
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
    const V left{0.0, 0.0, -1.0}, right{0.0, 0.0, 1.0}, up{0.0, 1.0, 0.0}, down{0.0, -1.0, 0.0};
    struct Row {
        const char* name;
        TrackData track;
        double h;
        bool atEnd;  // the last sample (speed v1) instead of the first (speed v0)
        double vertical, lateral;
    };
    const std::vector<Row> rows = {
        {"unbanked left turn", Arc(r, theta, left, 0.0f), 0.0, false, 1.0, k0},
        {"unbanked left turn, end", Arc(r, theta, left, 0.0f), 0.0, true, 1.0, k1},
        {"unbanked right turn", Arc(r, theta, right, 0.0f), 0.0, false, 1.0, -k0},
        {"banked turn", Arc(r, theta, left, static_cast<float>(phi)), 0.0, false,
         std::sqrt(1.0 + k0 * k0), 0.0},
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

TEST(RideProfile, StraightsGiveGravityAndTheEnergyLine) {
    const double v0 = 10.0, v1 = 25.0, length = 60.0;
    const double root = std::sqrt(0.5);
    struct Row {
        const char* name;
        TrackData track;
        double h;
        double vertical;
        double slope;  // sine of the climb
    };
    const std::vector<Row> rows = {
        {"level", LayoutBuilder({0.0, 5.0, 0.0}).Straight(length).Build("level"), 0.0, 1.0, 0.0},
        {"level, heart 1.04 m up", LayoutBuilder({0.0, 5.0, 0.0}).Straight(length).Build("level"),
         1.04, 1.0, 0.0},
        {"45 degree drop", LayoutBuilder({0.0, 80.0, 0.0}, 30.0, -45.0).Straight(length).Build("drop"),
         0.0, root, -root},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const RideProfile p = Profile(row.track, row.h, v0, v1);
        EXPECT_NEAR(p.summary.length, length, 1e-3);
        EXPECT_EQ(p.samples.front().distance, 0.0);
        EXPECT_EQ(p.samples.back().distance, p.summary.length);
        // v^2 runs linearly from v0^2 to v1^2: the energy line and the height
        // both change linearly with distance.
        const double dv2 = (v1 * v1 - v0 * v0) / length;
        for (const ProfileSample& s : p.samples) {
            EXPECT_NEAR(s.speed * s.speed, v0 * v0 + dv2 * s.distance, 1e-2) << s.distance;
            EXPECT_NEAR(s.vertical, row.vertical, kTolerance) << s.distance;
            EXPECT_NEAR(s.lateral, 0.0, kTolerance) << s.distance;
            EXPECT_NEAR(s.longitudinal, (dv2 / 2.0 + g * row.slope) / g, kTolerance) << s.distance;
        }
    }
}

TEST(RideProfile, SamplesEqualSpacingWithBothEndsAndLocatesExtremes) {
    const TrackData track = FamilyCoaster();
    const RideProfile p = Profile(track, 0.0, HeartlineSettings{}.startspeed, HeartlineSettings{}.endspeed);
    ASSERT_GT(p.samples.size(), 3u);
    for (size_t n = 0; n + 1 < p.samples.size(); ++n) {
        EXPECT_DOUBLE_EQ(p.samples[n].distance, static_cast<double>(n) * 0.5);
    }
    EXPECT_DOUBLE_EQ(p.samples.back().distance, p.summary.length);
    const double lastGap = p.samples.back().distance - p.samples[p.samples.size() - 2].distance;
    EXPECT_GT(lastGap, 0.0);
    EXPECT_LE(lastGap, 0.5);
    // Each extreme is the value of the sample it names.
    const ProfileSummary& s = p.summary;
    for (const ProfileExtreme* e :
         {&s.maxVertical, &s.minVertical, &s.maxLateral, &s.minSpeed, &s.maxSpeed}) {
        const auto at = static_cast<size_t>(std::lround(e->distance / 0.5));
        ASSERT_LT(at, p.samples.size());
        const ProfileSample& sample = p.samples[at];
        EXPECT_EQ(sample.segment, e->segment);
        EXPECT_TRUE(e->value == sample.vertical || e->value == sample.lateral ||
                    e->value == sample.speed);
    }
    double squares = 0.0;
    for (const ProfileSample& sample : p.samples) {
        EXPECT_LE(sample.vertical, s.maxVertical.value);
        EXPECT_GE(sample.vertical, s.minVertical.value);
        EXPECT_LE(std::abs(sample.lateral), std::abs(s.maxLateral.value));
        squares += sample.lateral * sample.lateral;
    }
    EXPECT_NEAR(s.lateralRms, std::sqrt(squares / static_cast<double>(p.samples.size())), 1e-12);
    // Averaging over 5 m can only lower the RMS.
    EXPECT_LT(s.lateralRms5m, s.lateralRms);
}

TEST(RideProfile, VerticalTrackIsFlaggedAndLeftOutOfTheExtremes) {
    const TrackData track = LayoutBuilder({0.0, 5.0, 0.0})
                                .Straight(10.0)
                                .Pitch(90.0, 10.0)
                                .Straight(8.0)
                                .Pitch(-90.0, 10.0)
                                .Build("tower");
    const RideProfile p = Profile(track, 1.04, 25.0, 12.0);
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
    EXPECT_TRUE(std::isfinite(p.summary.maxVertical.value));
    EXPECT_TRUE(std::isfinite(p.summary.lateralRms));
}

TEST(RideProfile, RefusesWhatItCannotTake) {
    TrackData nan = FamilyCoaster();
    nan.Bezr.Vertices[3].Roll = std::nanf("");
    TrackData single = FamilyCoaster();
    single.Bezr.VertexCount = 1;
    ProfileSettings zero;
    zero.spacing = 0.0;
    for (const auto& [track, settings] :
         {std::pair{nan, ProfileSettings{}}, std::pair{single, ProfileSettings{}},
          std::pair{FamilyCoaster(), zero}}) {
        const RideProfile p = ComputeRideProfile(track, settings);
        EXPECT_FALSE(p);
        EXPECT_TRUE(p.samples.empty());
    }
}

// The advice is the boundary: a run at the advised speed clears every hill,
// one at 0.1 m/s less valleys.
TEST(ValleyAdvice, AdvisedSpeedRunsAndATenthLessValleys) {
    struct Row {
        const char* name;
        TrackData track;
        double heartline;
        double endspeed;
    };
    const std::vector<Row> rows = {
        {"high hill", HighHill(), HeartlineSettings{}.heartline, HeartlineSettings{}.endspeed},
        {"high hill, hanging train", HighHill(), -1.1, HeartlineSettings{}.endspeed},
        {"builder camelback", LayoutBuilder({0.0, 30.0, 0.0}, 0.0, -30.0)
                                  .Pitch(30.0, 30.0)
                                  .Pitch(40.0, 25.0)
                                  .Pitch(-80.0, 20.0)
                                  .Pitch(40.0, 30.0)
                                  .Straight(20.0)
                                  .Build("camelback"),
         HeartlineSettings{}.heartline, 8.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HeartlineSettings settings;
        settings.segments = 60;
        settings.heartline = row.heartline;
        settings.startspeed = 3.0;
        settings.endspeed = row.endspeed;
        const std::optional<double> advice = AdviseStartSpeed(row.track, settings);
        ASSERT_TRUE(advice.has_value());
        for (const auto& [speed, expected] :
             {std::pair{*advice, HeartlineStatus::Ok},
              std::pair{*advice - 0.1, HeartlineStatus::Valleyed}}) {
            TrackData work = row.track;
            HeartlineSettings run = settings;
            run.startspeed = speed;
            const HeartlineResult result = GenerateHeartline(work, run, nullptr);
            EXPECT_EQ(result.status, expected) << speed << " " << result.detail;
        }
    }
    EXPECT_EQ(ValleyAdviceText(15.3), "With V in at least 15.3 m/s the train clears every hill");
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
    ASSERT_TRUE(saved) << saved.reason;
    const std::string csv = dir.File("hill.csv");
    const CliRun run = Cli(cli::RunProfile, {saved.path, "--json", "--spacing", "2", "--csv", csv,
                                             "--start-speed=20", "--heartline", "1.04"});
    ASSERT_EQ(run.status, cli::kExitOk) << run.err;
    EXPECT_NE(run.out.find("\"spacing\": 2,"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"stop\": null"), std::string::npos) << run.out;
    std::ifstream file(csv);
    std::string header, line;
    std::getline(file, header);
    EXPECT_EQ(header,
              "distance (m),segment,heart x (m),heart y (m),heart z (m),speed (m/s),roll (deg),"
              "vertical (g),lateral (g),longitudinal (g),vertical track");
    size_t rows = 0;
    while (std::getline(file, line)) ++rows;
    const RideProfile p = ComputeRideProfile(HighHill(), {1.04, 20.0, HeartlineSettings{}.endspeed, 2.0});
    EXPECT_EQ(rows, p.samples.size());

    // At the window's speeds the hill stops the train, and the summary says where.
    const CliRun stops = Cli(cli::RunProfile, {saved.path});
    EXPECT_EQ(stops.status, cli::kExitOk);
    EXPECT_NE(stops.out.find("the train stops"), std::string::npos) << stops.out;

    EXPECT_EQ(Cli(cli::RunProfile, {saved.path, "--spacing", "0"}).status, cli::kExitUsage);
    EXPECT_EQ(Cli(cli::RunProfile, {saved.path, "--frobnicate", "1"}).status, cli::kExitUsage);
    EXPECT_EQ(Cli(cli::RunProfile, {dir.File("missing.cvtrack")}).status, cli::kExitFailure);

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
    const size_t in = run2.out.find("\"profile_in\": {\n    \"heartline\": 0,");
    const size_t out = run2.out.find("\"profile_out\": {\n    \"heartline\": 1.04,");
    EXPECT_NE(in, std::string::npos) << run2.out;
    EXPECT_NE(out, std::string::npos) << run2.out;
}

}  // namespace
}  // namespace cvqrn
