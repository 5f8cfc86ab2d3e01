// Rules of the run that one changed character breaks, each checked where it
// acts (the recorded corpus hashes would only say that something changed).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "heartline/banking.h"
#include "heartline/heartline_run.h"
#include "heartline/sampling.h"
#include "heartline_test_tracks.h"

namespace cvqrn {
namespace {

using heartline_test::LevelStraight;

// The roll's rate of change (per unit of t) at t on segment `i` of `track`.
double RollRate(const TrackData& track, int i, double t) {
    RollState state = StartRolls(track);
    for (int s = 0; s < i; ++s) {
        BeginRollSegment(state, track, s);
        AdvanceRoll(state, track, s);
    }
    BeginRollSegment(state, track, i);
    constexpr double h = 1e-7;
    const double from = t < 0.5 ? t : t - h;
    return (UnwrappedRoll(state, from + h) - UnwrappedRoll(state, from)) / h;
}

// A vertex that keeps the roll rate is passed at one rate, the same on both
// of its segments and not zero; one that does not brings the roll to rest.
// Catches a flipped sign of the continuous-roll term at a segment's end (the
// roll would run backwards into the vertex) or at its start.
TEST(Rules, AContinuousVertexIsPassedAtOneRollRate) {
    for (const bool continuous : {true, false}) {
        TrackData track = LevelStraight(3, 30.0, 2.0);
        const float rolls[] = {0.0f, 0.3f, 0.7f, 0.9f};
        for (size_t v = 0; v < 4; ++v) {
            track.Bezr.Vertices[v].Roll = rolls[v];
            track.Bezr.Vertices[v].FlagA = continuous;
        }
        const double arriving = RollRate(track, 0, 1.0);
        const double leaving = RollRate(track, 1, 0.0);
        SCOPED_TRACE(continuous);
        EXPECT_NEAR(arriving, leaving, 1e-4);
        // 4 pi / 27 times the roll change over the two segments around the vertex.
        EXPECT_NEAR(arriving, continuous ? 4.0 * kPi / 27.0 * 0.7 : 0.0, 1e-4);
    }
}

// Sample 2 of five tilted, its neighbours level and out of every pass:
// its down direction after `filter` passes when it asks for `passes`.
Vec3 SmoothedTilt(int16_t passes, int16_t filter) {
    HeartlineRun run;
    run.N = 4;
    run.Filter = filter;
    run.SampleDown.assign(6, Vec3{0.0f, -1.0f, 0.0f});
    run.SampleDown[2] = lsf_Vnormalize(Vec3{0.0f, -1.0f, 0.5f});
    run.SmoothScratch.assign(6, Vec3{});
    run.SampleTangent.assign(6, Vec3{1.0f, 0.0f, 0.0f});
    run.PassCount.assign(6, -1);
    run.PassCount[2] = passes;
    SmoothBanking(run);
    return run.SampleDown[2];
}

bool Same(const Vec3& a, const Vec3& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// A sample takes part in the last PassCount + 1 of the filter's passes: with
// a count of 0 in the last one, with -1 in none, with the filter's count or
// more in all. Catches `>=` turned into `>` in the pass condition (a sample
// whose count is 0 would never be smoothed, and every other one a pass short).
TEST(Rules, ASampleTakesPartInItsLastPassCountPlusOnePasses) {
    const Vec3 untouched = SmoothedTilt(-1, 3);
    EXPECT_TRUE(Same(untouched, lsf_Vnormalize(Vec3{0.0f, -1.0f, 0.5f})));
    Vec3 before = untouched;
    for (const int16_t passes : {int16_t{0}, int16_t{1}, int16_t{2}}) {
        const Vec3 after = SmoothedTilt(passes, 3);
        EXPECT_FALSE(Same(after, before)) << passes << " passes ask for one pass more";
        before = after;
    }
    EXPECT_TRUE(Same(SmoothedTilt(5, 3), before)) << "no more passes than the filter runs";
}

// A segment's pass count is taken as it is below 256 and derived from the
// speed from 256 on. Catches `< 256` turned into `<= 256`.
TEST(Rules, PassCountsFrom256OnAreDerivedFromTheSpeed) {
    const std::pair<int32_t, int16_t> cases[] = {
        {0, 0},
        {255, 255},
        {256, kSpeedDerivedPasses},
        {kPassesFromSpeed, kSpeedDerivedPasses},
        {-3, -3},
        {-70000, INT16_MIN},
    };
    for (const auto& [recorded, passes] : cases) {
        TrackData track = LevelStraight(1, 10.0, 0.0);
        track.Segm.Segments[0].Val24[1] = recorded;
        EXPECT_EQ(BankingOfSegment(track, 0).passes, passes) << recorded;
    }
}

}  // namespace
}  // namespace cvqrn
