// The smooth rebuild ridden through the ride profile, on builder layouts: the
// hearts stay on the drawn path, airtime stays upright, joins do not kick,
// and a track whose hearts it cannot hold is refused, not written.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "heartline/generator.h"
#include "heartline_test_tracks.h"
#include "profile/ride_profile.h"
#include "samples/layout_builder.h"
#include "samples/sample_tracks.h"

namespace cvqrn {
namespace {

using heartline_test::ProgressLog;

constexpr double kHeart = 1.04;

struct Layout {
    const char* name;
    TrackData track;
    double v0, v1;
};

Layout Hill() {
    return {"airtime hill", AirtimeHill(), 20.0, 19.0};
}

Layout Helix() {
    return {"banked helix", BankedHelix(), 14.0, 15.0};
}

struct Ride {
    HeartlineResult result;
    RideProfile drawn, rebuilt;
    double heartDistance = 0.0;
    double gap = 0.0;  // how far the raw extremes stand above the felt ones, g
};

Ride Rebuild(const Layout& layout, int16_t segments, bool smooth) {
    Ride ride;
    TrackData track = layout.track;
    HeartlineSettings settings{segments, 6, kHeart, layout.v0, layout.v1, 15};
    settings.smooth = smooth;
    ride.result = GenerateHeartline(track, settings, nullptr);
    ride.drawn = ComputeRideProfile(layout.track, {0.0, layout.v0, layout.v1, 0.25});
    ride.rebuilt = ComputeRideProfile(track, {kHeart, layout.v0, layout.v1, 0.25});
    ride.heartDistance = MaxHeartDistance(ride.drawn, ride.rebuilt);
    const ProfileSummary& s = ride.rebuilt.summary;
    ride.gap = std::max({s.maxVertical.value - s.feltMaxVertical.value,
                         s.feltMinVertical.value - s.minVertical.value,
                         std::abs(s.maxLateral.value) - std::abs(s.feltMaxLateral.value)});
    return ride;
}

// The default rebuild lets the hearts stray by decimetres to metres here.
TEST(SmoothRebuild, HoldsTheHeartOnTheDrawnPath) {
    struct Case {
        Layout layout;
        int16_t segments;
        double within;  // metres
    };
    // Without the finish on the full model the helix's hearts strayed 3 cm.
    for (const Case& c : {Case{Hill(), 100, 0.02}, Case{Hill(), 400, 0.02},
                          Case{Helix(), 100, 0.02}, Case{Helix(), 200, 0.02},
                          Case{Helix(), 400, 0.02}}) {
        SCOPED_TRACE(std::string(c.layout.name) + " at " + std::to_string(c.segments));
        const Ride ride = Rebuild(c.layout, c.segments, true);
        ASSERT_TRUE(ride.result) << ride.result.detail;
        EXPECT_LT(ride.heartDistance, c.within);
    }
    EXPECT_GT(Rebuild(Hill(), 100, false).heartDistance, 1.0);
}

// Following the felt direction over a crest taken in airtime turns the
// riders over (the default rebuild makes a half roll of this hill).
TEST(SmoothRebuild, KeepsAnAirtimeHillUpright) {
    for (const int16_t segments : {int16_t{100}, int16_t{200}}) {
        const Ride ride = Rebuild(Hill(), segments, true);
        ASSERT_TRUE(ride.result) << ride.result.detail;
        EXPECT_LT(ride.drawn.summary.minVertical.value, -0.4);  // the hill does lift
        for (const ProfileSample& s : ride.rebuilt.samples) {
            EXPECT_LT(std::abs(s.roll), 0.01) << s.distance;
        }
        EXPECT_LT(std::abs(ride.rebuilt.summary.feltMaxLateral.value), 0.01);
        EXPECT_GT(ride.rebuilt.summary.feltMinVertical.value,
                  ride.drawn.summary.feltMinVertical.value - 0.2);
    }
}

// Curvature jumps at the joins show as raw forces far above the felt ones:
// the default rebuild's stand about 8 g above on this helix.
TEST(SmoothRebuild, JoinsDoNotKickLikeTheDefaultRebuild) {
    for (const int16_t segments : {int16_t{100}, int16_t{200}}) {
        SCOPED_TRACE(segments);
        const Ride smooth = Rebuild(Helix(), segments, true);
        const Ride standard = Rebuild(Helix(), segments, false);
        ASSERT_TRUE(smooth.result && standard.result);
        EXPECT_LT(smooth.gap, standard.gap / 3.0);
        EXPECT_LT(smooth.gap, 3.0);
    }
}

// Banking that follows the felt direction leaves little lateral force in a
// steady helix, less than the drawn banking does.
TEST(SmoothRebuild, BanksAHelixAgainstItsLateralForce) {
    const Ride ride = Rebuild(Helix(), 100, true);
    ASSERT_TRUE(ride.result) << ride.result.detail;
    const ProfileSummary& s = ride.rebuilt.summary;
    EXPECT_LT(std::abs(s.feltMaxLateral.value),
              std::abs(ride.drawn.summary.feltMaxLateral.value) + 0.1);
    EXPECT_LT(s.feltLateralRms, ride.drawn.summary.feltLateralRms);
    // In the middle of the helix, away from its ends.
    for (const ProfileSample& x : ride.rebuilt.samples) {
        if (x.distance > 50.0 && x.distance < 120.0) {
            EXPECT_LT(std::abs(x.feltLateral), 0.1) << x.distance;
        }
    }
}

// A rail that cannot hold the hearts (here: through the near-vertical sides of
// a loop) is refused with the place and the way out, and the track stays as
// loaded; the progress still ends at its total on a run that succeeds.
TEST(SmoothRebuild, RefusesATrackWhoseHeartsItCannotHold) {
    const TrackData loop =
        LayoutBuilder({0.0, 0.0, 0.0}).Straight(20.0).Loop(11.0, 3.0).Straight(20.0).Build("loop");
    TrackData track = loop;
    HeartlineSettings settings{100, 6, kHeart, 24.0, 23.0, 15};
    settings.smooth = true;
    const HeartlineResult result = GenerateHeartline(track, settings, nullptr);
    EXPECT_EQ(result.status, HeartlineStatus::NumericalBlowUp);
    EXPECT_NE(result.detail.find("cannot hold the riders' hearts"), std::string::npos)
        << result.detail;
    EXPECT_NE(result.detail.find("The default rebuild can take it."), std::string::npos);
    EXPECT_EQ(track.Bezr.VertexCount, loop.Bezr.VertexCount);

    TrackData hill = AirtimeHill();
    ProgressLog log;
    settings.startspeed = 20.0;
    settings.endspeed = 19.0;
    ASSERT_TRUE(GenerateHeartline(hill, settings, &log));
    ASSERT_FALSE(log.steps.empty());
    EXPECT_EQ(log.steps.back().first, log.steps.back().second);
    EXPECT_EQ(hill.Bezr.VertexCount, 101);
}

}  // namespace
}  // namespace cvqrn
