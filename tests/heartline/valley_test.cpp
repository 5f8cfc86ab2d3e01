// The valley search and the start-speed advice, against real runs.
#include "heartline/valley.h"

#include <gtest/gtest.h>

#include "heartline/generator.h"
#include "heartline_test_tracks.h"
#include "samples/sample_tracks.h"

namespace cvqrn {
namespace {

using heartline_test::Settings;

// "No valley" and "cannot run" are different answers: a search that finds no
// stop must not be read as a track the run refused, nor the other way round.
TEST(Valley, FindsTheStopOrSaysThatThereIsNoneOrThatTheRunCannotTakeIt) {
    TrackData oneVertex = HighHill();
    oneVertex.Bezr.VertexCount = 1;
    const struct {
        TrackData track;
        HeartlineSettings settings;
        double startspeed;
        Status status;
    } cases[] = {
        {HighHill(), Settings(60), 14.3, Status::Valleyed},
        {HighHill(), Settings(60), 20.0, Status::Ok},
        {HighHill(), Settings(0), 14.3, Status::InvalidSettings},
        {oneVertex, Settings(60), 14.3, Status::UnusableTrack},
    };
    for (const auto& c : cases) {
        const ValleyResult found = FindValley(c.track, c.settings, c.startspeed);
        EXPECT_EQ(found.status, c.status) << c.startspeed << " " << found.message;
        EXPECT_EQ(found.status == Status::Ok, found.message.empty()) << found.message;
        if (c.status == Status::Valleyed) {
            // The crest of the hill lies between 30 and 60 m along the track.
            EXPECT_GT(found.stop.distance, 30.0);
            EXPECT_LT(found.stop.distance, 60.0);
        }
    }
    const StartSpeedAdvice refused = AdviseStartSpeed(HighHill(), Settings(0));
    EXPECT_EQ(refused.status, Status::InvalidSettings);
}

// The advice is the boundary: a run at the advised speed clears every hill,
// one at 0.1 m/s less valleys.
TEST(Valley, AdvisedSpeedRunsAndATenthLessValleys) {
    // A hanging train on the high hill, and the family coaster at a low end speed.
    for (const auto& [track, heartline, endspeed] :
         {std::tuple{HighHill(), -1.1, 12.9}, std::tuple{FamilyCoaster(), 1.04, 8.0}}) {
        const HeartlineSettings settings{60, 6, heartline, 3.0, endspeed, 15};
        const StartSpeedAdvice advice = AdviseStartSpeed(track, settings);
        ASSERT_TRUE(advice) << heartline << " " << advice.message;
        for (const auto& [speed, expected] :
             {std::pair{advice.startspeed, Status::Ok},
              std::pair{advice.startspeed - 0.1, Status::Valleyed}}) {
            TrackData work = track;
            HeartlineSettings run = settings;
            run.startspeed = speed;
            EXPECT_EQ(GenerateHeartline(work, run, nullptr).status, expected) << speed;
        }
    }
    EXPECT_EQ(ValleyAdviceText(15.3), "With V in at least 15.3 m/s the train clears every hill");
}

}  // namespace
}  // namespace cvqrn
