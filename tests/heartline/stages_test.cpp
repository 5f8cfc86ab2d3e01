// The stages of a heartline run, looked at through the run's own arrays.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/bezier.h"
#include "geometry/frame.h"
#include "heartline/heartline_run.h"
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
    // Walk steps of 2 mm, ten times the sample spacing.
    const TrackData track = LevelStraight(1, 2.0, 0.0);
    ProgressLog log;
    HeartlineRun run;
    SetUpRun(run, Settings(1000, 10, 1.04, 30.0, 29.0), TrackLength(track), &log);
    ASSERT_TRUE(SampleTrack(run, track));
    EXPECT_EQ(log.steps.size(), 10001u);
    EXPECT_TRUE(SamePoint(run.SamplePos[10000], track.Bezr.Vertices[1].Pos));
    const double spacing = run.TrackLen / 10000.0;
    for (size_t j = 1; j <= 10000; ++j) {
        // Taken at the first walk point at or after its place: at most one step past it.
        const double past =
            static_cast<double>(run.SamplePos[j].x) - spacing * static_cast<double>(j);
        EXPECT_TRUE(past > -1e-6 && past < 2e-3 + 1e-6) << j;
        EXPECT_NEAR(run.SampleDown[j].y, -1.0, 1e-6) << j;  // copied with the rest
    }
}

TEST(Stages, LastSampleTakenEarlyLeavesTheForcedOneToTheSpareEntry) {
    // Far from the origin a single cannot tell the last walk points of a
    // short segment apart, so sample N is due a few steps before the end.
    const TrackData track = LayoutBuilder({1.0e6, 50.0, 0.0}).Straight(10.0).Build("far");
    ProgressLog log;
    HeartlineRun run;
    ASSERT_TRUE(RunHeartlineStages(track, Settings(10), &log, run));
    EXPECT_EQ(log.steps.size(), 62u + 15u + 70u);
    const Vec3& end = track.Bezr.Vertices[1].Pos;
    EXPECT_TRUE(SamePoint(run.SamplePos[60], end) && SamePoint(run.SamplePos[61], end));
    // The passes copy back samples 0 to N only: the spare keeps its direction.
    EXPECT_NEAR(run.SampleDown[61].y, -1.0, 1e-6);
}

}  // namespace
}  // namespace cvqrn
