// The track's levels of detail: the chunks tile the track and meet at every
// level, a short track is always drawn in full, a long one stays within a
// frame's budget from outside and keeps full detail next to the rider, and
// chunks out of view are left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "samples/layout_builder.h"
#include "samples/sample_tracks.h"
#include "scene/camera.h"
#include "scene/detail.h"
#include "scene/track_scene.h"
#include "scene_of.h"

namespace cvqrn::scene {
namespace {

using profile::Cross;
using profile::Dot;
using profile::Unit;

constexpr double kViewHeight = 720.0;
constexpr double kAspect = 1100.0 / 720.0;

// OpenGL's perspective times look-at, column-major: what the window and the
// page hand over as their view.
ViewVolume VolumeOf(const CameraLook& look, double fovDeg, double nearPlane, double farPlane) {
    const Vecd f = Unit(look.target - look.eye);
    const Vecd s = Unit(Cross(f, look.up));
    const Vecd u = Cross(s, f);
    const double t = 1.0 / std::tan(0.5 * fovDeg * std::numbers::pi / 180.0);
    const double a = (farPlane + nearPlane) / (nearPlane - farPlane);
    const double b = 2.0 * farPlane * nearPlane / (nearPlane - farPlane);
    // Rows of the view matrix, then of the projection applied to them.
    const double view[4][4] = {{s.x, s.y, s.z, -Dot(s, look.eye)},
                               {u.x, u.y, u.z, -Dot(u, look.eye)},
                               {-f.x, -f.y, -f.z, Dot(f, look.eye)},
                               {0, 0, 0, 1}};
    const double projection[4][4] = {{t / kAspect, 0, 0, 0}, {0, t, 0, 0}, {0, 0, a, b}, {0, 0, -1, 0}};
    ViewVolume volume;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += projection[r][k] * view[k][c];
            volume.viewProjection[static_cast<size_t>(4 * c + r)] = sum;
        }
    }
    volume.eye = look.eye;
    volume.focalPixels = FocalPixels(kViewHeight, fovDeg);
    return volume;
}

// The benchmarks' long track (2000 segments, some 16 km), built once.
const TrackScene& LongScene() {
    static const RideProfile profile = ComputeRideProfile(WindingTrack(2000), {0.0, 14.3, 12.9});
    static const TrackScene scene = SceneOf(profile);
    return scene;
}

ViewVolume OutsideView(const TrackScene& scene) {
    OrbitCamera camera;
    camera.Reset(scene.bounds, scene.path.rail, kAspect);
    return VolumeOf(camera.Look(), kFieldOfViewDeg, 0.01 * camera.Distance(),
                    camera.Distance() + 3.0 * scene.bounds.Radius());
}

ViewVolume RiderView(const TrackScene& scene, double distance) {
    return VolumeOf(RiderLook(scene.path, distance), kRideFieldOfViewDeg, 0.05, 4.0 * scene.bounds.Radius());
}

size_t Count(const std::vector<IndexRange>& ranges) {
    size_t n = 0;
    for (const IndexRange& r : ranges) n += r.count;
    return n;
}

std::set<uint32_t> VerticesOf(const std::vector<uint32_t>& indices, const IndexRange& r) {
    return {indices.begin() + r.first, indices.begin() + r.first + r.count};
}

// The chunks tile the samples end to end, and at each level a chunk shares
// the vertices of its last ring (or line points) with the next one's first:
// a chunk starting one ring late, or coarse rings skipping a chunk's end,
// would leave a gap where two levels meet.
TEST(TrackDetail, ChunksTileTheTrackAndMeetAtEveryLevel) {
    const RideProfile p = ComputeRideProfile(
        LayoutBuilder({0.0, 5.0, 0.0}).Straight(60.0).Turn(120.0, 40.0).Straight(90.0).Build("s"),
        {0.0, 14.3, 12.9});
    const TrackScene scene = SceneOf(p);
    const std::vector<TrackChunk>& chunks = scene.chunks;
    ASSERT_GE(chunks.size(), 4u);
    EXPECT_EQ(chunks.front().firstSample, 0u);
    EXPECT_EQ(chunks.back().lastSample, scene.path.size() - 1);
    uint32_t fullEnd = 0;
    for (size_t c = 0; c < chunks.size(); ++c) {
        EXPECT_EQ(chunks[c].full.first, fullEnd) << "the full chunks follow each other, chunk " << c;
        fullEnd += chunks[c].full.count;
        if (c + 1 == chunks.size()) continue;
        ASSERT_EQ(chunks[c].lastSample, chunks[c + 1].firstSample) << "chunk " << c;
        struct Level {
            const char* name;
            const std::vector<uint32_t>* indices;
            IndexRange TrackChunk::*range;
        };
        for (const Level& level : {Level{"full", &scene.track.indices, &TrackChunk::full},
                                   Level{"coarse", &scene.track.indices, &TrackChunk::coarse},
                                   Level{"lines", &scene.railLines, &TrackChunk::lines}}) {
            const std::set<uint32_t> a = VerticesOf(*level.indices, chunks[c].*level.range);
            const std::set<uint32_t> b = VerticesOf(*level.indices, chunks[c + 1].*level.range);
            std::vector<uint32_t> shared;
            std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(shared));
            EXPECT_FALSE(shared.empty()) << level.name << ", chunks " << c << " and " << c + 1;
            const size_t end = chunks[c].lastSample;
            for (uint32_t v : shared) {
                const Vecd at{scene.track.positions[3 * v], scene.track.positions[3 * v + 1],
                              scene.track.positions[3 * v + 2]};
                const Vecd rail{scene.path.rail[3 * end], scene.path.rail[3 * end + 1], scene.path.rail[3 * end + 2]};
                EXPECT_LT(std::sqrt(Dot(at - rail, at - rail)), kHalfGauge + kRailRadius + 1e-4) << level.name;
            }
        }
    }
    EXPECT_EQ(fullEnd, scene.FullIndexCount()) << "the full chunks hold every full triangle";
}

// A sample-sized track: from outside, from the rider's seat and from far
// away, every chunk in view is drawn in full, so it looks as it always did.
TEST(TrackDetail, ShortTrackIsDrawnInFullFromAnywhere) {
    const RideProfile p = ComputeRideProfile(FamilyCoaster(), {0.0, 14.3, 12.9});
    const TrackScene scene = SceneOf(p);
    ASSERT_LE(scene.fullVertices, kAlwaysFullVertices);
    OrbitCamera far;
    far.Reset(scene.bounds, scene.path.rail, kAspect);
    far.Zoom(50.0);
    const ViewVolume farView = VolumeOf(far.Look(), kFieldOfViewDeg, 1.0, 1e5);
    for (const ViewVolume& view : {OutsideView(scene), farView}) {
        const DrawList list = ChooseDetail(scene, view);
        EXPECT_EQ(Count(list.triangles), scene.FullIndexCount());
        EXPECT_TRUE(list.lines.empty());
    }
    const DrawList ride = ChooseDetail(scene, RiderView(scene, 40.0));
    for (const IndexRange& r : ride.triangles) EXPECT_LE(r.first + r.count, scene.FullIndexCount());
}

// The long track from outside draws a small part of its vertices (the whole
// track at full detail takes ten times a frame on a software renderer), and
// from the rider's seat the chunk under the rider is full (a tie every
// metre), the far ones lines, the ones behind not at all.
TEST(TrackDetail, LongTrackKeepsToItsBudgetAndFullDetailNearTheRider) {
    const TrackScene& scene = LongScene();
    ASSERT_GT(scene.fullVertices, 10 * kAlwaysFullVertices);
    const DrawList outside = ChooseDetail(scene, OutsideView(scene));
    // Triangles drawn at most a tenth of the full ones, lines for the rest.
    EXPECT_LT(Count(outside.triangles), scene.FullIndexCount() / 10);
    EXPECT_FALSE(outside.lines.empty());
    EXPECT_LE(outside.triangles.size() + outside.lines.size(), 64u) << "neighbours are joined";

    const double at = 0.5 * scene.path.distance.back();
    const ViewVolume view = RiderView(scene, at);
    const DrawList ride = ChooseDetail(scene, view);
    const size_t sample = SampleAt(scene.path, at);
    const auto here = std::find_if(scene.chunks.begin(), scene.chunks.end(), [&](const TrackChunk& c) {
        return c.firstSample <= sample && sample < c.lastSample;
    });
    ASSERT_NE(here, scene.chunks.end());
    const auto drawn = [](const std::vector<IndexRange>& ranges, const IndexRange& r) {
        return std::any_of(ranges.begin(), ranges.end(), [&](const IndexRange& d) {
            return d.first <= r.first && r.first + r.count <= d.first + d.count;
        });
    };
    EXPECT_TRUE(drawn(ride.triangles, here->full));
    EXPECT_FALSE(drawn(ride.triangles, here->coarse));
    size_t hidden = 0;
    for (const TrackChunk& c : scene.chunks) {
        const bool any = drawn(ride.triangles, c.full) || drawn(ride.triangles, c.coarse) || drawn(ride.lines, c.lines);
        hidden += any ? 0 : 1;
        EXPECT_EQ(any, SphereInView(view, c.centre, c.radius));
    }
    EXPECT_GT(hidden, scene.chunks.size() / 10) << "chunks behind the rider are left out";
    EXPECT_LT(Count(ride.triangles), scene.FullIndexCount() / 10);
}

// The level by distance: full near, coarse further, lines far; a wider
// view (shorter focal length) coarsens sooner.
TEST(TrackDetail, LevelFallsWithDistance) {
    const double focal = FocalPixels(kViewHeight, kRideFieldOfViewDeg);
    struct Case {
        double distance;
        Detail expected;
    };
    const Case cases[] = {{0.0, Detail::Full},
                          {focal / kFullPixelsPerMetre - 1.0, Detail::Full},
                          {focal / kFullPixelsPerMetre + 1.0, Detail::Coarse},
                          {focal / kCoarsePixelsPerMetre - 1.0, Detail::Coarse},
                          {focal / kCoarsePixelsPerMetre + 1.0, Detail::Lines},
                          {1e6, Detail::Lines}};
    for (const Case& c : cases) EXPECT_EQ(DetailAt(c.distance, focal), c.expected) << c.distance;
    EXPECT_GT(FocalPixels(kViewHeight, kFieldOfViewDeg), focal);
}

// Spheres in front, behind, beside, beyond the far plane and straddling the
// view's edge: a plane taken from a column instead of a row, or a sign
// flipped, culls what is seen.
TEST(TrackDetail, SphereInViewFollowsTheFrustum) {
    const ViewVolume view = VolumeOf({{0, 0, 0}, {0, 0, -1}, {0, 1, 0}}, 60.0, 0.1, 100.0);
    struct Case {
        Vecd centre;
        double radius;
        bool inside;
    };
    const double edge = 50.0 * std::tan(30.0 * std::numbers::pi / 180.0);  // the top edge at 50 m
    const Case cases[] = {{{0, 0, -50}, 1.0, true},   {{0, 0, 50}, 1.0, false},
                          {{0, 0, 5}, 10.0, true},    {{0, 0, -150}, 1.0, false},
                          {{0, 0, -150}, 60.0, true}, {{0, edge + 3.0, -50}, 1.0, false},
                          {{0, edge + 0.5, -50}, 1.0, true}, {{-200, 0, -50}, 1.0, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(SphereInView(view, c.centre, c.radius), c.inside)
            << c.centre.x << " " << c.centre.y << " " << c.centre.z;
    }
}

// The page gets the chunks as numbers and chooses from what comes back: the
// same draw list as from the scene itself (a field dropped or swapped in the
// numbers changes it); numbers of a wrong length give no chunks.
TEST(TrackDetail, ChunksAsNumbersChooseAsTheSceneDoes) {
    const TrackScene& scene = LongScene();
    const std::vector<TrackChunk> back = ChunksFromNumbers(ChunkNumbers(scene.chunks));
    ASSERT_EQ(back.size(), scene.chunks.size());
    for (const ViewVolume& view : {OutsideView(scene), RiderView(scene, 3000.0)}) {
        const DrawList a = ChooseDetail(scene, view);
        const DrawList b = ChooseDetail(back, scene.fullVertices, view);
        EXPECT_TRUE(a.triangles == b.triangles);
        EXPECT_TRUE(a.lines == b.lines);
        EXPECT_FALSE(a.triangles.empty() && a.lines.empty());
    }
    std::vector<double> cut = ChunkNumbers(scene.chunks);
    cut.pop_back();
    EXPECT_TRUE(ChunksFromNumbers(cut).empty());
}

}  // namespace
}  // namespace cvqrn::scene
