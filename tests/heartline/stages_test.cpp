// The stages of a heartline run, looked at through the run's own arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "geometry/bezier.h"
#include "geometry/frame.h"
#include "heartline/banking.h"
#include "heartline/heartline_run.h"
#include "heartline/sampling.h"
#include "heartline_test_tracks.h"


namespace cvqrn {
namespace {

using heartline_test::LevelStraight;
using heartline_test::ProgressLog;
using heartline_test::Settings;

// A run set up and walked (nothing smoothed yet).
HeartlineRun Sampled(const TrackData& track, int16_t segments, int16_t precision,
                     double startspeed = 14.3, double endspeed = 12.9,
                     ProgressFeedback* log = nullptr) {
    HeartlineRun run;
    SetUpRun(run, Settings(segments, precision, 1.04, startspeed, endspeed), TrackLength(track),
             log);
    const HeartlineResult result = SampleTrack(run, track);
    EXPECT_TRUE(result) << result.detail;
    return run;
}

// Roll of a down direction on a track that runs along +x: R = 0 is straight
// down, positive R leans towards +z (the right-hand side).
double RollOnXTrack(const Vec3& down) {
    return std::atan2(static_cast<double>(down.z), -static_cast<double>(down.y));
}

// A level straight at 7 m whose first and last vertices have the given outer handles.
TrackData LevelWithOuterHandles(Vec3 firstIn, Vec3 lastOut) {
    TrackData track = LevelStraight(5, 150.0f, 7.0f);
    track.Bezr.Vertices[0].CtrlIn = firstIn;
    track.Bezr.Vertices[5].CtrlOut = lastOut;
    return track;
}

TEST(Stages, EndHandlesFollowTheOuterHandlesAndMirrorTheInnerOnes) {
    // Level straights at 7 m: the rail lies heartline straight below, unrolled.
    const float r = static_cast<float>(1.0 / std::sqrt(10.0));
    struct Case {
        TrackData track;
        double heartline;
        Vec3 startDir, endDir;  // the new end handles' directions
    };
    const Case cases[] = {
        {LevelStraight(5, 150.0f, 7.0f), 1.04, {1, 0, 0}, {-1, 0, 0}},
        // An outer handle on its vertex: the mirror of the inner one stands in.
        {LevelWithOuterHandles({0, 7, 0}, {150, 7, 0}), 0.0, {1, 0, 0}, {-1, 0, 0}},
        // Outer handles that are no mirrors still give the end directions.
        {LevelWithOuterHandles({-3, 7, -1}, {153, 7, 1}), -1.1, {3 * r, 0, r}, {-3 * r, 0, -r}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.heartline);
        HeartlineRun run;
        ASSERT_TRUE(RunHeartlineStages(c.track, Settings(50, 6, c.heartline), nullptr, run));
        const auto& v = run.NewVertices;
        const float rail = static_cast<float>(7.0 - c.heartline);
        for (const TrackVertex& vertex : std::span(v).first(51)) {
            EXPECT_TRUE(vertex.Roll == 0.0f && vertex.Pos.z == 0.0f && vertex.FlagA);
            EXPECT_TRUE(vertex.Pos.y == rail && vertex.CtrlIn.y == rail && vertex.CtrlOut.y == rail);
        }
        EXPECT_TRUE(v[0].Pos.x == 0.0f && v[50].Pos.x == 150.0f);
        EXPECT_LT(Distance3D(lsf_Vnormalize(lsf_Vsub(v[0].CtrlOut, v[0].Pos)), c.startDir), 1e-6);
        EXPECT_LT(Distance3D(lsf_Vnormalize(lsf_Vsub(v[50].CtrlIn, v[50].Pos)), c.endDir), 1e-6);
        // The outer handles of the ends mirror the inner ones; the spare stays zero.
        EXPECT_TRUE(SamePoint(v[0].CtrlIn, lsf_Vadd(v[0].Pos, lsf_Vsub(v[0].Pos, v[0].CtrlOut))));
        EXPECT_TRUE(SamePoint(v[50].CtrlOut, lsf_Vadd(v[50].Pos, lsf_Vsub(v[50].Pos, v[50].CtrlIn))));
        EXPECT_TRUE(SamePoint(v[51].Pos, Vec3{}) && SamePoint(v[51].CtrlIn, Vec3{}) && !v[51].FlagA);
    }
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
    EXPECT_EQ(log.steps.size(), 10001u);
    EXPECT_TRUE(SamePoint(run.SamplePos[10000], end.Pos));
    const double spacing = run.TrackLen / 10000.0;
    for (size_t j = 1; j <= 10000; ++j) {
        // Taken at the first walk point at or after its place: at most one step (1 m) past it.
        const double past =
            static_cast<double>(run.SamplePos[j].x) - spacing * static_cast<double>(j);
        EXPECT_TRUE(past > -1e-3 && past < 1.0 + 1e-3) << j;
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
    ASSERT_TRUE(RunHeartlineStages(track, Settings(10), &log, run));
    EXPECT_EQ(log.steps.size(), 62u + 15u + 70u);
    const Vec3& end = track.Bezr.Vertices[1].Pos;
    EXPECT_TRUE(SamePoint(run.SamplePos[60], end) && SamePoint(run.SamplePos[61], end));
    // The passes copy back samples 0 to N only: the spare keeps its direction.
    EXPECT_NEAR(run.SampleDown[61].y, -1.0, 1e-6);
}

TEST(Stages, BankingModeBlendsTheInputRollWithTheFeltDirection) {
    // A level straight with a constant roll of 1: the felt direction is straight
    // down (R = 0), the input roll R = 1; the share of the input roll by mode.
    struct Case {
        int32_t mode;
        double atStart, atEnd;  // share of the input roll at t = 0 and t = 1
    };
    const Case cases[] = {{kBankingKeepInput, 1, 1},
                          {kBankingFeltToInput, 0, 1},
                          {kBankingInputToFelt, 1, 0},
                          {kModeFelt, 0, 0},
                          {1, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        const HeartlineRun run = Sampled(LevelStraight(2, 200.0f, 3.0f, 1.0f, c.mode), 40, 5);
        for (size_t j = 0; j <= 200; ++j) {
            EXPECT_NEAR(RollOnXTrack(run.RollDown[j]), 1.0, 2e-6) << j;
        }
        // The first sample sits at t = 0, the last at t = 1 of a segment; half
        // way (within a walk step) the blend of two unit directions halves the
        // angle between them.
        EXPECT_NEAR(RollOnXTrack(run.SampleDown[0]), c.atStart, 2e-6);
        EXPECT_NEAR(RollOnXTrack(run.SampleDown[200]), c.atEnd, 2e-6);
        EXPECT_NEAR(RollOnXTrack(run.SampleDown[50]), (c.atStart + c.atEnd) / 2.0, 2e-3);
    }
}

TEST(Stages, InputRollRunsTheShortWayAndKeepsTheRollRateThroughFlaggedVertices) {
    // Rolls 0, 0.5, 1 on a level straight; the sampling walk uses InputRollAt's values.
    for (int flags = 0; flags < 8; ++flags) {
        SCOPED_TRACE(flags);
        TrackData track = LevelStraight(2, 200.0f, 3.0f, 0.0f, kBankingKeepInput);
        for (size_t i = 0; i < 3; ++i) {
            track.Bezr.Vertices[i].Roll = 0.5f * static_cast<float>(i);
            track.Bezr.Vertices[i].FlagA = (flags >> i & 1) != 0;
        }
        const HeartlineRun run = Sampled(track, 40, 5);
        for (size_t j = 0; j <= 200; j += 5) {
            // The walk point a sample was taken at: segment and step parameter.
            const double x = static_cast<double>(run.SamplePos[j].x);
            const int segment = x > 100.0 || (x == 100.0 && j > 100) ? 1 : 0;
            const double t = std::nearbyint((x - 100.0 * segment) * 10.0) / 1000.0;
            EXPECT_NEAR(RollOnXTrack(run.RollDown[j]), InputRollAt(track, segment, t), 2e-6) << j;
        }
        // Ends on the vertex rolls; the rate at vertex 1 is the same on both
        // sides, zero unless its FlagA keeps it (then 4 pi / 27 x 1 per unit t).
        const double h = 1e-6;
        EXPECT_NEAR(InputRollAt(track, 0, 0.0), 0.0, 1e-12);
        EXPECT_NEAR(InputRollAt(track, 0, 1.0), 0.5, 1e-12);
        EXPECT_NEAR(InputRollAt(track, 1, 0.0), 0.5, 1e-12);
        const double before = (InputRollAt(track, 0, 1.0) - InputRollAt(track, 0, 1.0 - h)) / h;
        const double after = (InputRollAt(track, 1, h) - InputRollAt(track, 1, 0.0)) / h;
        const double rate = (flags & 2) != 0 ? 4.0 * kPi / 27.0 : 0.0;
        EXPECT_NEAR(before, rate, 1e-4);
        EXPECT_NEAR(after, rate, 1e-4);
    }
}

TEST(Stages, PassCountsComeFromTheSegmentOrFromTheSpeed) {
    const int16_t S = kSpeedDerivedPasses;
    struct Case {
        const char* name;  // a row of the table below
        std::vector<double> speeds;
        std::vector<int16_t> recorded;
        int16_t filter;
        std::vector<int16_t> counts;
        int16_t raised;
    };
    const Case cases[] = {
        {"quarter to whole", {10, 12, 14, 16, 18}, {S, S, S, S, S}, 15, {4, 7, 9, 12, 15}, 15},
        // 0.5, 1.5 and 2.5 passes as the filter is raised from 2 to 6 and 10.
        {"ties to even", {10, 20, 10, 20, 10}, {S, 6, S, 10, S}, 2, {0, 6, 2, 10, 2}, 10},
        {"segment values kept", {10, 20, 15}, {0, 255, 7}, 15, {0, 255, 7}, 255},
        {"raised to 40", {10, 14, 10, 14, 18}, {S, 40, S, S, S}, 15, {4, 40, 10, 25, 40}, 40},
        {"filter 0: no pass", {10, 20}, {S, S}, 0, {0, 0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeartlineRun run;
        run.N = static_cast<int>(c.speeds.size()) - 1;
        run.SampleSpeed = c.speeds;
        run.PassCount = c.recorded;
        run.MinSpeed = *std::min_element(c.speeds.begin(), c.speeds.end());
        run.MaxSpeed = *std::max_element(c.speeds.begin(), c.speeds.end());
        run.Filter = c.filter;
        ASSERT_TRUE(DecidePassCounts(run));
        EXPECT_EQ(run.PassCount, c.counts);
        EXPECT_EQ(run.Filter, c.raised);
    }
}

}  // namespace
}  // namespace cvqrn
