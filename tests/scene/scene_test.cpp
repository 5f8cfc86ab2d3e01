// The 3D view's geometry, on tracks from the layout builder whose profiles
// the real core computes: ties follow the roll, colours follow the felt
// forces, the size grows with the length, and the pick, the rider's pose
// and the ride's playback land where they should.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "heartline/generator.h"
#include "samples/layout_builder.h"
#include "samples/sample_tracks.h"
#include "scene/camera.h"
#include "scene/track_scene.h"
#include "scene_of.h"

namespace cvqrn::scene {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

RideProfile ProfileOf(const TrackData& track, double heartline = 0.0, double v0 = 14.3,
                      double v1 = 12.9) {
    RideProfile p = ComputeRideProfile(track, {heartline, v0, v1});
    EXPECT_TRUE(p) << p.message;
    return p;
}

// The spread of the vertices of tie `k` in height: the depth for a level tie,
// its length for one standing on its edge.
double TieHeightSpread(const TrackScene& scene, size_t k) {
    double lo = 1e300, hi = -1e300;
    for (size_t v = 0; v < kTieVertices; ++v) {
        const double y = scene.track.positions[3 * (scene.railVertices + k * kTieVertices + v) + 1];
        lo = std::min(lo, y);
        hi = std::max(hi, y);
    }
    return hi - lo;
}

Rgb RailColour(const TrackScene& scene, size_t sample, int vertex) {
    const size_t i = 3 * (sample * kRailVerticesPerSample + static_cast<size_t>(vertex));
    return {scene.track.colours[i], scene.track.colours[i + 1], scene.track.colours[i + 2]};
}

// A level straight at zero roll: every tie lies flat (a frame taken from the
// wrong axis or a roll applied twice would tip it), and in the mesh each tie
// box is only its depth tall.
TEST(TrackScene, LevelStraightWithoutRollHasLevelTies) {
    const RideProfile p = ProfileOf(LayoutBuilder({0.0, 5.0, 0.0}).Straight(40.0).Build("straight"));
    const TrackScene scene = SceneOf(p);
    const std::vector<TieFrame> ties = TieFrames(p);
    ASSERT_EQ(ties.size(), 41u);
    ASSERT_EQ(scene.ties, ties.size());
    for (size_t k = 0; k < ties.size(); ++k) {
        EXPECT_NEAR(ties[k].up.y, 1.0, 1e-9) << "tie " << k;
        EXPECT_NEAR(ties[k].left.y, 0.0, 1e-9) << "tie " << k;
        EXPECT_NEAR(ties[k].left.z, -1.0, 1e-9) << "left of +x travel is -z";
        EXPECT_NEAR(TieHeightSpread(scene, k), kTieDepth, 1e-5) << "tie " << k;
    }
}

// A level left turn banked at 90 degrees: mid-turn the ties stand on edge
// (their length is their height) and the riders' up points to the centre of
// the turn (a roll with the wrong sign would point it outwards).
TEST(TrackScene, NinetyDegreeBankedTurnStandsTheTiesOnEdge) {
    const TrackData track = LayoutBuilder({0.0, 5.0, 0.0})
                                .Mode(kBankingKeepInput)
                                .Straight(10.0)
                                .Bank(90.0)
                                .Turn(180.0, 20.0)
                                .Bank(0.0)
                                .Straight(10.0)
                                .Build("banked turn");
    const RideProfile p = ProfileOf(track);
    const TrackScene scene = SceneOf(p);
    const std::vector<TieFrame> ties = TieFrames(p);
    const Vecd centre{10.0, 5.0, -20.0};  // a left turn from +x bends towards -z
    const double arc = 20.0 * std::numbers::pi;
    int checked = 0;
    for (size_t k = 0; k < ties.size(); ++k) {
        const double d = ties[k].railDistance - 10.0;
        if (d < arc / 3.0 || d > 2.0 * arc / 3.0) continue;
        const Vecd inward = profile::Unit(centre - ties[k].centre);
        EXPECT_NEAR(std::abs(ties[k].left.y), 1.0, 1e-3) << "tie " << k;
        EXPECT_NEAR(profile::Dot(ties[k].up, inward), 1.0, 1e-3) << "tie " << k;
        EXPECT_NEAR(TieHeightSpread(scene, k), kTieLength, 2e-3) << "tie " << k;
        ++checked;
    }
    EXPECT_GT(checked, 15);
}

// A vertical loop, rebuilt by the heartline run with felt banking: the ties'
// up turns once round in the loop's plane, in small steps (no flip where the
// track passes the vertical).
TEST(TrackScene, LoopTurnsTheTiesThroughAFullCircleContinuously) {
    TrackData track = LayoutBuilder({0.0, 2.0, 0.0})
                          .Straight(25.0)
                          .Loop(10.0, 3.0)
                          .Straight(25.0)
                          .Build("loop");
    HeartlineSettings settings;
    settings.startspeed = 25.0;
    settings.endspeed = 24.0;
    ASSERT_EQ(GenerateHeartline(track, settings, nullptr).status, Status::Ok);
    const RideProfile p = ProfileOf(track, settings.heartline, 25.0, 24.0);
    const std::vector<TieFrame> ties = TieFrames(p);
    double turned = 0.0, largestStep = 0.0;
    double previous = std::atan2(ties.front().up.y, ties.front().up.x);
    for (const TieFrame& tie : ties) {
        const double angle = std::atan2(tie.up.y, tie.up.x);  // in the loop's x-y plane
        const double step = std::remainder(angle - previous, 2.0 * std::numbers::pi);
        turned += step;
        largestStep = std::max(largestStep, std::abs(step));
        previous = angle;
    }
    EXPECT_NEAR(std::abs(turned), 360.0 * kDeg, 5.0 * kDeg);
    EXPECT_LT(largestStep, 15.0 * kDeg);
}

// The colour at a sample is the scale's colour of its felt force: 1 g on a
// level straight is the vertical scale's green, no lateral force the lateral
// scale's green; a pull-out far beyond 6 g shows the exceedance colour in
// every channel; where the train cannot get the track is grey.
TEST(TrackScene, ColoursFollowTheFeltForcesAtKnownSamples) {
    const RideProfile straight = ProfileOf(LayoutBuilder({0.0, 5.0, 0.0}).Straight(40.0).Build("s"));
    // 25 m/s on a 5 m pull-out: about 13 g.
    const RideProfile pullOut = ProfileOf(LayoutBuilder({0.0, 5.0, 0.0})
                                              .Straight(20.0)
                                              .Pitch(40.0, 5.0)
                                              .Straight(20.0)
                                              .Build("pull-out"),
                                          0.0, 25.0, 24.0);
    // The window's default speeds do not clear the high hill.
    const RideProfile hill = ProfileOf(HighHill());
    const size_t peak = static_cast<size_t>(
        std::max_element(pullOut.samples.begin(), pullOut.samples.end(),
                         [](const ProfileSample& a, const ProfileSample& b) {
                             return a.vertical < b.vertical;
                         }) -
        pullOut.samples.begin());
    ASSERT_GT(pullOut.samples[peak].vertical, 2.0 * kMaxVerticalG);
    const auto unreached = static_cast<size_t>(
        std::find_if(hill.samples.begin(), hill.samples.end(),
                     [](const ProfileSample& s) { return !s.reached(); }) -
        hill.samples.begin());
    ASSERT_LT(unreached, hill.samples.size());

    const Rgb green = ScaleOf(ForceChannel::Vertical).stops[2].colour;
    struct Case {
        const char* what;
        const RideProfile* profile;
        size_t sample;
        ForceChannel channel;
        Rgb expected;
    };
    const Case cases[] = {
        {"1 g vertical", &straight, 40, ForceChannel::Vertical, green},
        {"no lateral", &straight, 40, ForceChannel::Lateral, ScaleOf(ForceChannel::Lateral).stops[2].colour},
        {"above 6 g, vertical", &pullOut, peak, ForceChannel::Vertical, kExceedColour},
        {"above 6 g, lateral", &pullOut, peak, ForceChannel::Lateral, kExceedColour},
        {"above 6 g, longitudinal", &pullOut, peak, ForceChannel::Longitudinal, kExceedColour},
        {"unreached", &hill, unreached + 2, ForceChannel::Vertical, kNoForceColour},
    };
    for (const Case& c : cases) {
        const TrackScene scene = SceneOf(*c.profile, c.channel);
        for (int v : {0, kRailVerticesPerSample - 1}) {
            const Rgb got = RailColour(scene, c.sample, v);
            EXPECT_NEAR(got.r, c.expected.r, 1e-3) << c.what;
            EXPECT_NEAR(got.g, c.expected.g, 1e-3) << c.what;
            EXPECT_NEAR(got.b, c.expected.b, 1e-3) << c.what;
        }
    }
    // A force between two stops takes the colour between them.
    const Rgb mid = ColourAt(ScaleOf(ForceChannel::Vertical), 2.25);
    const Rgb yellow = ScaleOf(ForceChannel::Vertical).stops[3].colour;
    EXPECT_NEAR(mid.r, 0.5f * (green.r + yellow.r), 1e-6f);
}

// Twice the track, twice the vertices and triangles (rails per sample, a tie
// per metre, and the coarse levels' rings, tie faces and line points), nothing
// quadratic.
TEST(TrackScene, VertexCountGrowsLinearlyWithLength) {
    std::vector<size_t> vertices, indices;
    for (double length : {100.0, 200.0, 400.0}) {
        const RideProfile p = ProfileOf(LayoutBuilder({0.0, 5.0, 0.0}).Straight(length).Build("s"));
        const TrackScene scene = SceneOf(p);
        vertices.push_back(scene.track.VertexCount());
        indices.push_back(scene.track.indices.size());
    }
    // Per metre: two samples of rail rings and one tie; a coarse ring of
    // both rails and their two line points every kCoarseSpacing metres, a
    // coarse tie face every kCoarseTieEvery metres.
    const double perMetre = 2.0 * kRailVerticesPerSample + kTieVertices +
                            (2.0 * kCoarseRailSides + 2.0) / kCoarseSpacing +
                            static_cast<double>(kCoarseTieVertices) / kCoarseTieEvery;
    // Each chunk's end is kept by the coarse levels wherever it falls.
    const double slack = kTieVertices + 4.0 * (2 * kCoarseRailSides + 2);
    EXPECT_NEAR(static_cast<double>(vertices[1] - vertices[0]), 100.0 * perMetre, slack);
    EXPECT_NEAR(static_cast<double>(vertices[2] - vertices[1]), 200.0 * perMetre, slack);
    EXPECT_NEAR(static_cast<double>(indices[2] - indices[1]),
                2.0 * static_cast<double>(indices[1] - indices[0]), 36.0 + 4.0 * 12 * kCoarseRailSides);
    EXPECT_EQ(*std::max_element(indices.begin(), indices.end()) % 3, 0u);
}

// The pick finds the sample under the pointer and nothing behind the camera;
// the rider sits at the heart (or a heartline above a rail drawn along the
// hearts) looking forward; the ride stops where the train cannot get.
TEST(TrackScene, PickPoseAndRideLandOnTheTrack) {
    const TrackData straight = LayoutBuilder({0.0, 5.0, 0.0}).Straight(40.0).Build("s");
    const RideProfile onRail = ProfileOf(straight);
    const RideProfile atHeart = ProfileOf(straight, 1.2);
    const TrackScene scene = SceneOf(onRail);

    const Vecd above{20.25, 30.0, 0.0};
    const auto hit = PickSample(scene.path, {above, {0.0, -1.0, 0.0}}, 0.01);
    ASSERT_TRUE(hit.has_value());
    EXPECT_NEAR(scene.path.rail[3 * *hit], 20.25, 0.26);
    EXPECT_FALSE(PickSample(scene.path, {above, {0.0, 1.0, 0.0}}, 0.01).has_value());
    EXPECT_FALSE(PickSample(scene.path, {above, {1.0, -0.01, 0.0}}, 0.01).has_value());

    const CameraLook seat = RiderLook(scene.path, 10.0);
    EXPECT_NEAR(seat.eye.y, 5.0 + kEyeAboveRail, 1e-6);
    EXPECT_NEAR(seat.eye.x, 10.0, 1e-6);
    EXPECT_NEAR(seat.target.x - seat.eye.x, 1.0, 1e-9);
    EXPECT_NEAR(RiderLook(SceneOf(atHeart).path, 10.0).eye.y, 6.2, 1e-6);

    EXPECT_NEAR(RideOn(scene.path, 10.0, 0.5), 10.0 + 0.5 * scene.path.speed[20], 1e-9);
    EXPECT_EQ(RideOn(scene.path, 39.9, 1.0), scene.path.distance.back());

    const RideProfile hill = ProfileOf(HighHill());
    ASSERT_TRUE(hill.summary.stops);
    const ScenePath path = SceneOf(hill).path;
    double d = 0.0;
    for (int step = 0; step < 200; ++step) d = RideOn(path, d, 0.05);
    EXPECT_LT(d, hill.summary.stopDistance);
    EXPECT_GT(d, hill.summary.stopDistance - 1.0);
}

// The reset shows the whole track: every corner of its bounds lies inside
// the field of view; orbiting never tips over the pole.
TEST(OrbitCamera, ResetFramesTheBoundsAndOrbitStopsShortOfThePole) {
    Bounds bounds{{-30.0, 0.0, -10.0}, {50.0, 25.0, 40.0}};
    OrbitCamera camera;
    camera.Reset(bounds);
    const CameraLook look = camera.Look();
    const Vecd forward = profile::Unit(look.target - look.eye);
    for (int corner = 0; corner < 8; ++corner) {
        const Vecd p{(corner & 1) ? bounds.max.x : bounds.min.x,
                     (corner & 2) ? bounds.max.y : bounds.min.y,
                     (corner & 4) ? bounds.max.z : bounds.min.z};
        const Vecd to = p - look.eye;
        const double angle = std::acos(profile::Dot(to, forward) / std::sqrt(profile::Dot(to, to)));
        EXPECT_LT(angle, 0.5 * kFieldOfViewDeg * kDeg) << "corner " << corner;
    }
    camera.Orbit(0.0, 10.0);
    const CameraLook top = camera.Look();
    EXPECT_GT(std::hypot(top.eye.x - top.target.x, top.eye.z - top.target.z), 1e-3);
    const double before = camera.Distance();
    PressKey(camera, ViewKey::ZoomIn, false, bounds);
    EXPECT_LT(camera.Distance(), before);
    PressKey(camera, ViewKey::Reset, false, bounds);
    EXPECT_EQ(camera.Distance(), before);
}

}  // namespace
}  // namespace cvqrn::scene
