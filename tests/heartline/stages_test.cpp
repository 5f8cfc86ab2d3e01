// The stages of a heartline run, looked at through the run's own arrays.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/bezier.h"
#include "geometry/frame.h"
#include "heartline/heartline_run.h"
#include "heartline/sampling.h"
#include "heartline_test_tracks.h"

namespace cvqrn {
namespace {

using heartline_test::LevelStraight;
using heartline_test::ProgressLog;
using heartline_test::Settings;

TEST(Stages, EndHandlesFollowTheOuterHandlesOrMirrorTheInnerOnes) {
    // A level straight at 7 m whose first and last vertices get the given outer handles.
    const float r = static_cast<float>(1.0 / std::sqrt(10.0));
    struct Case {
        Vec3 firstIn, lastOut;
        Vec3 startDir, endDir;  // the new end handles' directions
    };
    const Case cases[] = {
        // An outer handle on its vertex: the mirror of the inner one stands in.
        {{0, 7, 0}, {50, 7, 0}, {1, 0, 0}, {-1, 0, 0}},
        // Outer handles that are no mirrors still give the end directions.
        {{-3, 7, -1}, {53, 7, 1}, {3 * r, 0, r}, {-3 * r, 0, -r}},
    };
    for (const Case& c : cases) {
        TrackData track = LevelStraight(5, 50.0, 7.0);
        track.Bezr.Vertices[0].CtrlIn = c.firstIn;
        track.Bezr.Vertices[5].CtrlOut = c.lastOut;
        HeartlineRun run;
        ASSERT_TRUE(RunHeartlineStages(track, Settings(50), nullptr, run));
        const auto& v = run.NewVertices;
        EXPECT_LT(Distance3D(lsf_Vnormalize(lsf_Vsub(v[0].CtrlOut, v[0].Pos)), c.startDir), 1e-6);
        EXPECT_LT(Distance3D(lsf_Vnormalize(lsf_Vsub(v[50].CtrlIn, v[50].Pos)), c.endDir), 1e-6);
    }
}

TEST(Stages, ShortSampleSpacingTakesEveryDueSampleAtOneStep) {
    // The second segment's steps (1 m) are ten times the sample spacing.
    TrackData track = LevelStraight(2, 2.0, 0.0);
    TrackVertex& end = track.Bezr.Vertices[2];
    end.Pos.x = 1001.0f;
    end.CtrlIn.x = 1001.0f - 1000.0f / 3.0f;
    track.Bezr.Vertices[1].CtrlOut.x = 1.0f + 1000.0f / 3.0f;
    ProgressLog log;
    HeartlineRun run;
    SetUpRun(run, Settings(1000, 10, 1.04, 30.0, 29.0), TrackLength(track), &log);
    ASSERT_TRUE(SampleTrack(run, track));
    EXPECT_EQ(log.steps.size(), 10001u);
    EXPECT_TRUE(SamePoint(run.SamplePos[10000], end.Pos));
    const double spacing = run.TrackLen / 10000.0;
    for (size_t j = 1; j <= 10000; ++j) {
        // Taken at the first walk point at or after its place: at most one step (1 m) past it.
        const double past =
            static_cast<double>(run.SamplePos[j].x) - spacing * static_cast<double>(j);
        EXPECT_TRUE(past > -1e-3 && past < 1.0 + 1e-3) << j;
        EXPECT_NEAR(run.SampleDown[j].y, -1.0, 1e-6) << j;  // copied with the rest
    }
}

TEST(Stages, LastSampleTakenEarlyLeavesTheForcedOneToTheSpareEntry) {
    // Far from the origin a single cannot tell the last walk points of a
    // short segment apart, so sample N is due a few steps before the end.
    TrackData track = LevelStraight(1, 10.0, 50.0);
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

TEST(Stages, InputRollKeepsItsRateThroughAVertexOnlyWhenItsFlagAsks) {
    // Rolls 0, 0.5, 1 on a level straight, every combination of FlagA.
    for (int flags = 0; flags < 8; ++flags) {
        SCOPED_TRACE(flags);
        TrackData track = LevelStraight(2, 20.0, 3.0);
        for (size_t i = 0; i < 3; ++i) {
            track.Bezr.Vertices[i].Roll = 0.5f * static_cast<float>(i);
            track.Bezr.Vertices[i].FlagA = (flags >> i & 1) != 0;
        }
        EXPECT_NEAR(InputRollAt(track, 0, 0.0), 0.0, 1e-12);
        EXPECT_NEAR(InputRollAt(track, 0, 1.0), 0.5, 1e-12);
        EXPECT_NEAR(InputRollAt(track, 1, 0.0), 0.5, 1e-12);
        // The rate at vertex 1 is the same on both sides, and not zero only
        // when vertex 1 keeps it.
        const double h = 1e-6;
        const double before = (InputRollAt(track, 0, 1.0) - InputRollAt(track, 0, 1.0 - h)) / h;
        const double after = (InputRollAt(track, 1, h) - InputRollAt(track, 1, 0.0)) / h;
        EXPECT_NEAR(before, after, 1e-4);
        EXPECT_EQ(std::abs(after) > 0.1, (flags & 2) != 0) << after;
    }
}

}  // namespace
}  // namespace cvqrn
