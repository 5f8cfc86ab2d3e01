// The stages of a heartline run, looked at through the run's own arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/bezier.h"
#include "heartline/banking.h"
#include "heartline/heartline_run.h"
#include "heartline_test_tracks.h"
#include "samples/layout_builder.h"
#include "samples/sample_tracks.h"

namespace cvqrn {
namespace {

using testing::LevelStraight;
using testing::ProgressLog;
using testing::Same;

// A run set up and walked (nothing smoothed yet).
HeartlineRun Sampled(const TrackData& track, int16_t segments, int16_t precision,
                     double startspeed = 14.3, double endspeed = 12.9,
                     ProgressFeedback* log = nullptr) {
    HeartlineRun run;
    SetUpRun(run, segments, precision, 1.04, startspeed, endspeed, 15, TrackLength(track), log);
    const HeartlineResult result = SampleTrack(run, track);
    EXPECT_TRUE(result) << result.detail;
    return run;
}

// Roll of a down direction on a track that runs along +x: R = 0 is straight
// down, positive R leans towards +z (the right-hand side).
double RollOnXTrack(const Vec3& down) {
    return std::atan2(static_cast<double>(down.z), -static_cast<double>(down.y));
}

TEST(Stages, NewVerticesSitOnTheirOffsetSamplesAndJoinSmoothly) {
    const TrackData track = LoopAndHelix();
    for (double heartline : {1.04, -1.1}) {
        SCOPED_TRACE(heartline);
        HeartlineRun run;
        int16_t filter = 15;
        ASSERT_TRUE(RunHeartlineStages(track, 50, 6, heartline, 14.3, 12.9, filter, nullptr, run));
        const auto& v = run.NewVertices;
        for (size_t s = 0; s <= 50; ++s) {
            const size_t m = 6 * s;
            const Vec3 q = lsf_Vadd(run.SamplePos[m], lsf_Vscale(run.SampleDown[m], heartline));
            EXPECT_TRUE(Same(v[s].Pos, q)) << s;
            EXPECT_TRUE(v[s].FlagA && !v[s].RelativeRoll && !v[s].FlagC) << s;
            if (s == 0 || s == 50) continue;
            // Both handles on one line through the vertex, on opposite sides.
            const Vec3 in = lsf_Vsub(v[s].CtrlIn, v[s].Pos);
            const Vec3 out = lsf_Vsub(v[s].CtrlOut, v[s].Pos);
            EXPECT_LT(lsf_Vdot(in, out) / (lsf_Vlength(in) * lsf_Vlength(out)), -0.99999) << s;
        }
        // The outer handles of the ends mirror the inner ones; the spare stays zero.
        EXPECT_TRUE(Same(v[0].CtrlIn, lsf_Vadd(v[0].Pos, lsf_Vsub(v[0].Pos, v[0].CtrlOut))));
        EXPECT_TRUE(Same(v[50].CtrlOut, lsf_Vadd(v[50].Pos, lsf_Vsub(v[50].Pos, v[50].CtrlIn))));
        EXPECT_TRUE(Same(v[51].Pos, Vec3{}) && Same(v[51].CtrlIn, Vec3{}) && !v[51].FlagA);
        // Smoothed directions are unit and across the track (the frames at
        // new vertices follow the fitted curve instead).
        for (size_t j = 1; j <= 300; ++j) {
            if (j % 6 == 0) continue;
            EXPECT_NEAR(lsf_Vlength(run.SampleDown[j]), 1.0, 1e-6) << j;
            EXPECT_NEAR(lsf_Vdot(run.SampleDown[j], run.SampleTangent[j]), 0.0, 1e-6) << j;
        }
    }
}

TEST(Stages, LevelStraightIsSampledEndToEndAtTheEnergyLineSpeed) {
    const double y = 7.0;
    const TrackData track = LevelStraight(5, 150.0f, 7.0f);
    ProgressLog log;
    const HeartlineRun run = Sampled(track, 50, 6, 14.3, 12.9, &log);
    EXPECT_EQ(run.samplesTaken, 301);
    EXPECT_EQ(log.steps.size(), 301u);
    EXPECT_TRUE(Same(run.SamplePos[0], track.Bezr.Vertices[0].Pos));
    EXPECT_TRUE(Same(run.SamplePos[300], track.Bezr.Vertices[5].Pos));
    const double energyStart = 14.3 * 14.3 / 19.62 + y;
    const double slope = (12.9 * 12.9 / 19.62 + y - energyStart) / 150.0;
    for (size_t j = 0; j <= 300; ++j) {
        const double arc = static_cast<double>(run.SamplePos[j].x);
        EXPECT_NEAR(run.SampleSpeed[j], std::sqrt(19.62 * (slope * arc + energyStart - y)), 1e-5);
        // Nothing bends the felt direction: straight down.
        EXPECT_EQ(run.SampleDown[j].y, -1.0f) << j;
        EXPECT_NEAR(std::hypot(run.SampleDown[j].x, run.SampleDown[j].z), 0.0, 1e-12) << j;
    }
    EXPECT_NEAR(run.MaxSpeed, 14.3, 1e-9);
    EXPECT_NEAR(run.MinSpeed, 12.9, 1e-5);
}

TEST(Stages, CrestTakenFasterThanItsRadiusAllowsPressesRidersUpwards) {
    LayoutBuilder b({0.0, 0.0, 0.0});
    b.Straight(5.0).Pitch(20.0, 10.0).Pitch(-40.0, 10.0).Pitch(20.0, 10.0).Straight(5.0);
    // About 13 m/s over a crest of radius 10: above sqrt(9.81 x 10).
    const HeartlineRun run = Sampled(b.Build("crest"), 40, 6, 14.0, 14.0);
    size_t top = 0;
    for (size_t j = 0; j <= 240; ++j) {
        if (run.SamplePos[j].y > run.SamplePos[top].y) top = j;
    }
    EXPECT_GT(run.SampleDown[top].y, 0.5f);
    EXPECT_LT(run.SampleDown[0].y, -0.99f);  // on the level straight: down
}

TEST(Stages, ShortSampleSpacingTakesEveryDueSampleAtOneStep) {
    // The second segment's steps (1 m) are ten times the sample spacing.
    TrackData track = LevelStraight(2, 2.0f, 0.0f);
    TrackVertex& end = track.Bezr.Vertices[2];
    end.Pos.x = 1001.0f;
    end.CtrlIn.x = 1001.0f - 1000.0f / 3.0f;
    track.Bezr.Vertices[1].CtrlOut.x = 1.0f + 1000.0f / 3.0f;
    ProgressLog log;
    const HeartlineRun run = Sampled(track, 1000, 10, 30.0, 29.0, &log);
    EXPECT_EQ(run.samplesTaken, 10001);
    EXPECT_EQ(log.steps.size(), 10001u);
    EXPECT_TRUE(Same(run.SamplePos[10000], end.Pos));
    const double spacing = run.TrackLen / 10000.0;
    for (size_t j = 1; j <= 10000; ++j) {
        // Never ahead of its place, at most one step (1 m) behind it.
        const double x = static_cast<double>(run.SamplePos[j].x);
        EXPECT_GE(x + 1e-3, spacing * static_cast<double>(j));
        EXPECT_LE(x, spacing * static_cast<double>(j) + 1.0 + 1e-3);
        EXPECT_NEAR(lsf_Vlength(run.SampleDown[j]), 1.0, 1e-6);
    }
}

TEST(Stages, LastSampleTakenEarlyLeavesTheForcedOneToTheSpareEntry) {
    // Far from the origin a single cannot tell the last walk points of a
    // short segment apart, so sample N is due a few steps before the end.
    TrackData track = LevelStraight(1, 10.0f, 50.0f);
    for (TrackVertex& v : track.Bezr.Vertices) {
        for (float* x : {&v.Pos.x, &v.CtrlIn.x, &v.CtrlOut.x}) *x += 1.0e6f;
    }
    ProgressLog log;
    HeartlineRun run;
    int16_t filter = 15;
    ASSERT_TRUE(RunHeartlineStages(track, 10, 6, 1.04, 14.3, 12.9, filter, &log, run));
    EXPECT_EQ(run.samplesTaken, 62);
    EXPECT_EQ(log.steps.size(), 62u + 15u + 70u);
    EXPECT_TRUE(Same(run.SamplePos[60], track.Bezr.Vertices[1].Pos));
    EXPECT_TRUE(Same(run.SamplePos[61], track.Bezr.Vertices[1].Pos));
    // The passes copy back samples 0 to N only: the spare keeps its direction.
    EXPECT_NEAR(run.SampleDown[61].y, -1.0, 1e-6);
}

TEST(Stages, BankingModesBlendInputRollAndFeltDirection) {
    const double alpha = 1.0;  // input roll, radians; the felt direction is straight down
    struct Case {
        int32_t mode;
        double rollAtStart;  // share of the input roll at t = 0
        double rollAtEnd;    // at t = 1
    };
    for (const Case& c :
         {Case{kBankingKeepInput, 1.0, 1.0}, Case{kBankingFeltToInput, 0.0, 1.0},
          Case{kBankingInputToFelt, 1.0, 0.0}, Case{kModeFelt, 0.0, 0.0}, Case{1, 0.0, 0.0}}) {
        SCOPED_TRACE(c.mode);
        const TrackData track = LevelStraight(1, 100.0f, 3.0f, static_cast<float>(alpha), c.mode);
        const HeartlineRun run = Sampled(track, 20, 5);
        for (size_t j = 0; j <= 100; ++j) {
            const double t =
                std::nearbyint(static_cast<double>(run.SamplePos[j].x) * 10.0) / 1000.0;
            const double wRoll = c.rollAtStart + (c.rollAtEnd - c.rollAtStart) * t;
            // Unit felt (R = 0) and unit input (R = alpha) directions weighted and added.
            const double expected =
                std::atan2(wRoll * std::sin(alpha), (1.0 - wRoll) + wRoll * std::cos(alpha));
            EXPECT_NEAR(RollOnXTrack(run.SampleDown[j]), expected, 2e-6) << j;
            EXPECT_NEAR(RollOnXTrack(run.RollDown[j]), alpha, 2e-6) << j;
        }
    }
}

TEST(Stages, ContinuousRollFlagsKeepARollRateThroughTheirVertex) {
    const double roll[3] = {0.0, 0.5, 1.0};  // exact as singles
    // Roll change of segment i; the last segment looks on to vertex 0.
    const double delta[3] = {roll[1] - roll[0], roll[2] - roll[1], roll[0] - roll[2]};
    for (int flags = 0; flags < 8; ++flags) {
        SCOPED_TRACE(flags);
        TrackData track = LevelStraight(2, 200.0f, 3.0f, 0.0f, kBankingKeepInput);
        double flag[3];
        for (size_t i = 0; i < 3; ++i) {
            flag[i] = (flags >> i & 1) != 0 ? 1.0 : 0.0;
            track.Bezr.Vertices[i].Roll = static_cast<float>(roll[i]);
            track.Bezr.Vertices[i].FlagA = flag[i] != 0.0;
        }
        const HeartlineRun run = Sampled(track, 40, 5);
        for (size_t j = 0; j <= 200; ++j) {
            const double x = static_cast<double>(run.SamplePos[j].x);
            const size_t i = x > 100.0 || (x == 100.0 && j > 100) ? 1 : 0;
            const double t = std::nearbyint((x - 100.0 * static_cast<double>(i)) * 10.0) / 1000.0;
            const double sumPrev = delta[i] + (i == 0 ? 0.0 : delta[0]);
            const double expected =
                roll[i] + delta[i] * (1 - std::cos(kPi * t)) / 2 +
                2 * flag[i] * std::sin(kPi * (1 - t) * (1 - t)) * sumPrev / 27 -
                2 * flag[i + 1] * std::sin(kPi * t * t) * (delta[i] + delta[i + 1]) / 27;
            EXPECT_NEAR(RollOnXTrack(run.SampleDown[j]), expected, 2e-6) << j;
        }
    }
}

TEST(Stages, WrapBringsAnglesBackByOneTurnAtMost) {
    EXPECT_EQ(WrapAngle(kPi), kPi);
    EXPECT_EQ(WrapAngle(-kPi), -kPi);
    EXPECT_EQ(WrapAngle(4.0), 4.0 - kTwoPi);
    EXPECT_EQ(WrapAngle(-4.0), -4.0 + kTwoPi);
    EXPECT_EQ(WrapAngle(10.0), 10.0 - kTwoPi);  // one correction only
}

TEST(Stages, PassCountsComeFromTheSegmentOrFromTheSpeed) {
    const int16_t S = kSpeedDerivedPasses;
    struct Case {
        const char* name;
        std::vector<double> speeds;
        std::vector<int16_t> recorded;
        int16_t filter;
        std::vector<int16_t> counts;
        int16_t raised;
    };
    const Case cases[] = {
        {"quarter to whole", {10, 12, 14, 16, 18}, {S, S, S, S, S}, 15, {4, 7, 9, 12, 15}, 15},
        {"ties to even, 0.5", {10, 20}, {S, S}, 2, {0, 2}, 2},
        {"ties to even, 1.5", {10, 20}, {S, S}, 6, {2, 6}, 6},
        {"ties to even, 2.5", {10, 20}, {S, S}, 10, {2, 10}, 10},
        {"segment values kept", {10, 20, 15}, {0, 255, 7}, 15, {0, 255, 7}, 255},
        {"raised to 40 for what follows",
         {10, 14, 10, 14, 18},
         {S, 40, S, S, S},
         15,
         {4, 40, 10, 25, 40},
         40},
        {"nothing asks: filter 0 stays", {10, 20}, {0, 0}, 0, {0, 0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeartlineRun run;
        run.N = static_cast<int>(c.speeds.size()) - 1;
        run.SampleSpeed = c.speeds;
        run.PassCount = c.recorded;
        run.MinSpeed = *std::min_element(c.speeds.begin(), c.speeds.end());
        run.MaxSpeed = *std::max_element(c.speeds.begin(), c.speeds.end());
        int16_t filter = c.filter;
        ASSERT_TRUE(DecidePassCounts(run, filter));
        EXPECT_EQ(run.PassCount, c.counts);
        EXPECT_EQ(filter, c.raised);
    }
}

// A run of straight-ahead samples along +x with the given down directions.
HeartlineRun SmoothRun(const std::vector<Vec3>& downs) {
    HeartlineRun run;
    run.N = static_cast<int>(downs.size()) - 1;
    run.SampleDown = downs;
    run.SmoothScratch.assign(downs.size(), Vec3{});
    run.SampleTangent.assign(downs.size(), Vec3{1.0f, 0.0f, 0.0f});
    run.PassCount.assign(downs.size(), 0);
    return run;
}

const Vec3 kDown{0.0f, -1.0f, 0.0f};
const Vec3 kSide{0.0f, 0.0f, 1.0f};

TEST(Stages, SmoothingKernelIsClampedAtBothEnds) {
    HeartlineRun run = SmoothRun({kDown, kSide, kDown});
    SmoothBanking(run, 1);
    // First sample: 7 down + 2 side; middle: 6 down + 3 side (each neighbour stands in twice).
    const double n0 = std::sqrt(49.0 + 4.0);
    EXPECT_NEAR(run.SampleDown[0].y, -7.0 / n0, 1e-6);
    EXPECT_NEAR(run.SampleDown[0].z, 2.0 / n0, 1e-6);
    EXPECT_NEAR(run.SampleDown[1].y, -2.0 / std::sqrt(5.0), 1e-6);
    EXPECT_NEAR(run.SampleDown[1].z, 1.0 / std::sqrt(5.0), 1e-6);
    EXPECT_TRUE(Same(run.SampleDown[2], run.SampleDown[0]));
}

TEST(Stages, SampleTakesPartInTheLastPassCountPlusOnePasses) {
    // Sample 5 leans sideways among samples that point straight down and are
    // smoothed in the last pass only, so until then it moves alone, one
    // kernel step per pass it takes part in.
    const auto kernelStep = [](const Vec3& x) {
        Vec3 sum = lsf_Vadd(kDown, kDown);
        sum = lsf_Vadd(sum, lsf_Vscale(kDown, 2.0));
        sum = lsf_Vadd(sum, lsf_Vscale(kDown, 2.0));
        return lsf_Vnormalize(lsf_Vadd(sum, lsf_Vscale(x, 3.0)));
    };
    const int16_t passTotal = 8;
    for (int count : {0, 2, 5, 7, 10}) {
        SCOPED_TRACE(count);
        std::vector<Vec3> downs(11, kDown);
        downs[5] = kSide;
        HeartlineRun run = SmoothRun(downs);
        run.PassCount[5] = static_cast<int16_t>(count);
        SmoothBanking(run, passTotal);
        Vec3 expected = kSide;
        for (int pass = 0; pass < std::min(count + 1, int{passTotal}); ++pass) {
            expected = kernelStep(expected);
        }
        EXPECT_NEAR(run.SampleDown[5].y, expected.y, 1e-7);
        EXPECT_NEAR(run.SampleDown[5].z, expected.z, 1e-7);
        EXPECT_EQ(run.passesRun, passTotal);
    }
}

}  // namespace
}  // namespace cvqrn
