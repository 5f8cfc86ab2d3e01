// The stages of a heartline run, looked at through the run's own arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/bezier.h"
#include "geometry/vector3.h"
#include "heartline/banking.h"
#include "heartline/heartline_run.h"
#include "heartline_test_tracks.h"
#include "samples/layout_builder.h"
#include "samples/sample_tracks.h"

namespace cvqrn {
namespace {

using testing::LevelStraight;
using testing::ProgressLog;

// A run set up and walked (stage 2 only: nothing smoothed yet).
HeartlineRun Sampled(const TrackData& track, int16_t segments, int16_t precision,
                     double startspeed = 14.3, double endspeed = 12.9,
                     HeartlineResult* out = nullptr, ProgressFeedback* log = nullptr) {
    HeartlineRun run;
    SetUpRun(run, segments, precision, 1.04, startspeed, endspeed, 15, TrackLength(track), log);
    const HeartlineResult result = SampleTrack(run, track);
    if (out != nullptr) *out = result;
    EXPECT_TRUE(result) << result.detail;
    return run;
}

bool Same(const Vec3& a, const Vec3& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// Roll of a down direction on a track that runs along +x: R = 0 is straight
// down, positive R leans towards +z (the right-hand side).
double RollOnXTrack(const Vec3& down) {
    return std::atan2(static_cast<double>(down.z), -static_cast<double>(down.y));
}

TEST(Stages, EveryNewVertexSitsExactlyOnItsOffsetSample) {
    const TrackData track = LoopAndHelix();
    for (double heartline : {1.04, 0.0, -1.1}) {
        SCOPED_TRACE(heartline);
        HeartlineRun run;
        int16_t filter = 15;
        ASSERT_TRUE(RunHeartlineStages(track, 50, 6, heartline, 14.3, 12.9, filter, nullptr, run));
        for (int s = 0; s <= 50; ++s) {
            const size_t m = static_cast<size_t>(run.precision * s);
            const Vec3 q = lsf_Vadd(run.SamplePos[m], lsf_Vscale(run.SampleDown[m], heartline));
            EXPECT_TRUE(Same(run.NewVertices[static_cast<size_t>(s)].Pos, q)) << s;
            if (heartline == 0.0) {
                // On the input track itself.
                EXPECT_TRUE(Same(run.NewVertices[static_cast<size_t>(s)].Pos, run.SamplePos[m]));
            }
        }
        EXPECT_EQ(run.fitsRun, 50);
    }
}

TEST(Stages, WalkTakesNPlusOneSamplesFromFirstToLastVertex) {
    const TrackData track = FamilyCoaster();
    ProgressLog log;
    HeartlineRun run = Sampled(track, 100, 6, 14.3, 12.9, nullptr, &log);
    EXPECT_EQ(run.samplesTaken, 601);
    EXPECT_EQ(log.steps.size(), 601u);
    const auto& v = track.Bezr.Vertices;
    EXPECT_TRUE(Same(run.SamplePos[0], v[0].Pos));
    EXPECT_TRUE(Same(run.SamplePos[600], v[track.Bezr.VertexCount - 1].Pos));
    for (int j = 0; j <= 600; ++j) {
        const size_t s = static_cast<size_t>(j);
        EXPECT_NEAR(lsf_Vlength(run.SampleTangent[s]), 1.0, 1e-6) << j;
        EXPECT_NEAR(lsf_Vlength(run.LevelDown[s]), 1.0, 1e-6) << j;
        EXPECT_NEAR(lsf_Vdot(run.LevelDown[s], run.SampleTangent[s]), 0.0, 1e-6) << j;
        EXPECT_LE(run.LevelDown[s].y, 0.0f) << j;
    }
}

TEST(Stages, SpeedFollowsTheEnergyLineOnALevelStraight) {
    const float height = 7.0f;
    const double y = static_cast<double>(height);
    const TrackData track = LevelStraight(5, 150.0f, height);
    const HeartlineRun run = Sampled(track, 50, 6);
    const double energyStart = 14.3 * 14.3 / 19.62 + y;
    const double energyEnd = 12.9 * 12.9 / 19.62 + y;
    EXPECT_NEAR(run.EnergyStart, energyStart, 1e-12);
    EXPECT_NEAR(run.EnergySlope, (energyEnd - energyStart) / 150.0, 1e-9);
    for (int j = 0; j <= 300; ++j) {
        const double arc = static_cast<double>(run.SamplePos[static_cast<size_t>(j)].x);
        const double expected = std::sqrt(19.62 * (run.EnergySlope * arc + energyStart - y));
        EXPECT_NEAR(run.SampleSpeed[static_cast<size_t>(j)], expected, 1e-5) << j;
        // Nothing bends the felt direction: straight down.
        const Vec3& down = run.SampleDown[static_cast<size_t>(j)];
        EXPECT_EQ(down.y, -1.0f) << j;
        EXPECT_NEAR(down.x, 0.0, 1e-12) << j;
        EXPECT_NEAR(down.z, 0.0, 1e-12) << j;
    }
    EXPECT_NEAR(run.MaxSpeed, 14.3, 1e-9);
    EXPECT_NEAR(run.MinSpeed, 12.9, 1e-5);
}

TEST(Stages, CrestTakenFasterThanItsRadiusAllowsPressesRidersUpwards) {
    LayoutBuilder b({0.0, 0.0, 0.0});
    b.Straight(5.0).Pitch(20.0, 10.0).Pitch(-40.0, 10.0).Pitch(20.0, 10.0).Straight(5.0);
    const TrackData track = b.Build("crest");
    // About 13 m/s over a crest of radius 10: above sqrt(9.81 x 10).
    const HeartlineRun run = Sampled(track, 40, 6, 14.0, 14.0);
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
    end.CtrlOut.x = 1001.0f + 1000.0f / 3.0f;
    track.Bezr.Vertices[1].CtrlOut.x = 1.0f + 1000.0f / 3.0f;
    ProgressLog log;
    const HeartlineRun run = Sampled(track, 1000, 10, 30.0, 29.0, nullptr, &log);
    EXPECT_EQ(run.samplesTaken, 10001);
    EXPECT_EQ(log.steps.size(), 10001u);
    EXPECT_TRUE(Same(run.SamplePos[10000], end.Pos));
    const double spacing = run.TrackLen / 10000.0;
    for (size_t j = 1; j <= 10000; ++j) {
        // Never ahead of its place, at most one step (1 m) behind it.
        EXPECT_GE(run.SamplePos[j].x, run.SamplePos[j - 1].x);
        EXPECT_GE(static_cast<double>(run.SamplePos[j].x) + 1e-3, spacing * static_cast<double>(j));
        EXPECT_LE(static_cast<double>(run.SamplePos[j].x),
                  spacing * static_cast<double>(j) + 1.0 + 1e-3);
        EXPECT_NEAR(lsf_Vlength(run.SampleDown[j]), 1.0, 1e-6);
    }
}

TEST(Stages, LastSampleTakenEarlyLeavesTheForcedOneToTheSpareEntry) {
    // Both handles of the last segment sit on its end point: its last walk
    // points round to that point, so sample N is due before the last step.
    TrackData track = LevelStraight(1, 100.0f, 50.0f);
    TrackVertex& end = track.Bezr.Vertices[1];
    track.Bezr.Vertices[0].CtrlOut = end.Pos;
    end.CtrlIn = end.Pos;
    ProgressLog log;
    const HeartlineRun run = Sampled(track, 10, 6, 14.3, 12.9, nullptr, &log);
    EXPECT_EQ(run.samplesTaken, 62);
    EXPECT_EQ(log.steps.size(), 62u);
    EXPECT_TRUE(Same(run.SamplePos[60], end.Pos));
    EXPECT_TRUE(Same(run.SamplePos[61], end.Pos));

    TrackData work = track;
    int16_t filter = 15;
    EXPECT_TRUE(GenerateHeartline(work, 10, 6, 1.04, 14.3, 12.9, filter, nullptr));
}

struct BlendCase {
    int32_t mode;
    double rollAtStart;  // share of the input roll at t = 0
    double rollAtEnd;    // at t = 1
};

TEST(Stages, BankingModesBlendInputRollAndFeltDirection) {
    const double alpha = 1.0;  // input roll, radians; the felt direction is straight down
    const BlendCase cases[] = {
        {kBankingKeepInput, 1.0, 1.0},
        {kBankingFeltToInput, 0.0, 1.0},
        {kBankingInputToFelt, 1.0, 0.0},
        {kModeFelt, 0.0, 0.0},
        {1, 0.0, 0.0},
    };
    for (const BlendCase& c : cases) {
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
        if (c.mode == kBankingFeltToInput || c.mode == kBankingInputToFelt) {
            // Equal parts half way: the bisector.
            EXPECT_NEAR(RollOnXTrack(run.SampleDown[50]), alpha / 2.0, 2e-3);
        }
    }
}

TEST(Stages, ContinuousRollFlagsKeepARollRateThroughTheirVertex) {
    const double rolls[3] = {0.0, 0.5, 1.0};
    for (int flags = 0; flags < 8; ++flags) {
        SCOPED_TRACE(flags);
        TrackData track = LevelStraight(2, 200.0f, 3.0f, 0.0f, kBankingKeepInput);
        for (int i = 0; i < 3; ++i) {
            track.Bezr.Vertices[static_cast<size_t>(i)].Roll = static_cast<float>(rolls[i]);
            track.Bezr.Vertices[static_cast<size_t>(i)].FlagA = (flags >> i & 1) != 0;
        }
        const HeartlineRun run = Sampled(track, 40, 5);
        const double flag0 = flags & 1 ? 1.0 : 0.0;
        const double flag1 = flags & 2 ? 1.0 : 0.0;
        const double flag2 = flags & 4 ? 1.0 : 0.0;
        const double rollAt0 = static_cast<double>(static_cast<float>(rolls[0]));
        const double rollAt1 = static_cast<double>(static_cast<float>(rolls[1]));
        const double rollAt2 = static_cast<double>(static_cast<float>(rolls[2]));
        const double delta0 = rollAt1 - rollAt0;
        const double delta1 = rollAt2 - rollAt1;
        const double deltaWrap = rollAt0 - rollAt2;  // the last segment looks on to vertex 0
        for (size_t j = 0; j <= 200; ++j) {
            const double x = static_cast<double>(run.SamplePos[j].x);
            const bool second = x > 100.0 || (x == 100.0 && j > 100);
            const double t = std::nearbyint((second ? x - 100.0 : x) * 10.0) / 1000.0;
            double expected = 0.0;
            if (!second) {
                expected = rollAt0 + delta0 * (1 - std::cos(kPi * t)) / 2 +
                           2 * flag0 * std::sin(kPi * (1 - t) * (1 - t)) * delta0 / 27 -
                           2 * flag1 * std::sin(kPi * t * t) * (delta0 + delta1) / 27;
            } else {
                expected = rollAt1 + delta1 * (1 - std::cos(kPi * t)) / 2 +
                           2 * flag1 * std::sin(kPi * (1 - t) * (1 - t)) * (delta1 + delta0) / 27 -
                           2 * flag2 * std::sin(kPi * t * t) * (delta1 + deltaWrap) / 27;
            }
            EXPECT_NEAR(RollOnXTrack(run.SampleDown[j]), expected, 2e-6) << j;
        }
    }
}

TEST(Stages, WrapBringsAnglesBackByOneTurnAtMost) {
    EXPECT_EQ(WrapAngle(1.0), 1.0);
    EXPECT_EQ(WrapAngle(kPi), kPi);
    EXPECT_EQ(WrapAngle(-kPi), -kPi);
    EXPECT_EQ(WrapAngle(4.0), 4.0 - kTwoPi);
    EXPECT_EQ(WrapAngle(-4.0), -4.0 + kTwoPi);
    EXPECT_EQ(WrapAngle(10.0), 10.0 - kTwoPi);  // one correction only
}

// A run with `speeds.size()` samples and the given recorded pass counts.
HeartlineRun PassRun(const std::vector<double>& speeds, const std::vector<int16_t>& counts) {
    HeartlineRun run;
    run.N = static_cast<int>(speeds.size()) - 1;
    run.SampleSpeed = speeds;
    run.PassCount = counts;
    for (double v : speeds) {
        run.MinSpeed = std::min(run.MinSpeed, v);
        run.MaxSpeed = std::max(run.MaxSpeed, v);
    }
    return run;
}

TEST(Stages, PassCountsComeFromTheSegmentOrFromTheSpeed) {
    struct Case {
        const char* name;
        std::vector<double> speeds;
        std::vector<int16_t> recorded;
        int16_t filter;
        std::vector<int16_t> counts;
        int16_t raised;
    };
    const int16_t S = kSpeedDerivedPasses;
    const Case cases[] = {
        {"quarter to whole of filter",
         {10, 12, 14, 16, 18},
         {S, S, S, S, S},
         15,
         {4, 7, 9, 12, 15},
         15},
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
        HeartlineRun run = PassRun(c.speeds, c.recorded);
        int16_t filter = c.filter;
        ASSERT_TRUE(DecidePassCounts(run, filter));
        EXPECT_EQ(run.PassCount, c.counts);
        EXPECT_EQ(filter, c.raised);
    }
}

TEST(Stages, PassCountsFromEqualSpeedsFail) {
    HeartlineRun run = PassRun({12, 12, 12}, {3, kSpeedDerivedPasses, 3});
    int16_t filter = 15;
    const HeartlineResult result = DecidePassCounts(run, filter);
    EXPECT_EQ(result.status, HeartlineStatus::EqualSpeeds);
    EXPECT_NE(result.detail.find("sample 1"), std::string::npos) << result.detail;
}

// A run of straight-ahead samples along +x with the given down directions.
HeartlineRun SmoothRun(const std::vector<Vec3>& downs, int16_t passCount) {
    HeartlineRun run;
    run.N = static_cast<int>(downs.size()) - 1;
    run.SampleDown = downs;
    run.SmoothScratch.assign(downs.size(), Vec3{});
    run.SampleTangent.assign(downs.size(), Vec3{1.0f, 0.0f, 0.0f});
    run.PassCount.assign(downs.size(), passCount);
    return run;
}

TEST(Stages, SmoothingKernelIsClampedAtBothEnds) {
    const Vec3 a{0.0f, -1.0f, 0.0f};
    const Vec3 b{0.0f, 0.0f, 1.0f};
    HeartlineRun run = SmoothRun({a, b, a}, 0);
    SmoothBanking(run, 1);
    // First sample: 7 a + 2 b; middle: 6 a + 3 b (each neighbour stands in twice).
    const double n0 = std::sqrt(49.0 + 4.0);
    EXPECT_NEAR(run.SampleDown[0].y, -7.0 / n0, 1e-6);
    EXPECT_NEAR(run.SampleDown[0].z, 2.0 / n0, 1e-6);
    EXPECT_NEAR(run.SampleDown[1].y, -2.0 / std::sqrt(5.0), 1e-6);
    EXPECT_NEAR(run.SampleDown[1].z, 1.0 / std::sqrt(5.0), 1e-6);
    EXPECT_EQ(run.SampleDown[2].y, run.SampleDown[0].y);
    EXPECT_EQ(run.SampleDown[2].z, run.SampleDown[0].z);
    EXPECT_EQ(run.passesRun, 1);
}

TEST(Stages, SampleTakesPartInTheLastPassCountPlusOnePasses) {
    // Sample 5 leans sideways among samples that point straight down and are
    // smoothed in the last pass only, so until then it moves alone, one
    // kernel step per pass it takes part in.
    const Vec3 a{0.0f, -1.0f, 0.0f};
    const Vec3 b{0.0f, 0.0f, 1.0f};
    const auto kernelStep = [&](const Vec3& x) {
        Vec3 sum = lsf_Vadd(a, a);
        sum = lsf_Vadd(sum, lsf_Vscale(a, 2.0));
        sum = lsf_Vadd(sum, lsf_Vscale(a, 2.0));
        sum = lsf_Vadd(sum, lsf_Vscale(x, 3.0));
        return lsf_Vnormalize(sum);
    };
    const int16_t passTotal = 8;
    for (int count : {0, 2, 5, 7, 10}) {
        SCOPED_TRACE(count);
        std::vector<Vec3> downs(11, a);
        downs[5] = b;
        HeartlineRun run = SmoothRun(downs, 0);
        run.PassCount[5] = static_cast<int16_t>(count);
        SmoothBanking(run, passTotal);
        Vec3 expected = b;
        for (int pass = 0; pass < std::min(count + 1, static_cast<int>(passTotal)); ++pass) {
            expected = kernelStep(expected);
        }
        EXPECT_NEAR(run.SampleDown[5].y, expected.y, 1e-7);
        EXPECT_NEAR(run.SampleDown[5].z, expected.z, 1e-7);
        EXPECT_EQ(run.passesRun, passTotal);
    }
}

}  // namespace
}  // namespace cvqrn
