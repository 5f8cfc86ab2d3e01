// The layout builder's elements, and the sample tracks made with it.
#include "samples/layout_builder.h"

#include <gtest/gtest.h>

#include <cmath>

#include "geometry/vector3.h"
#include "heartline/generator.h"
#include "samples/sample_tracks.h"

namespace cvqrn {
namespace {

struct ElementCase {
    const char* name;
    void (*build)(LayoutBuilder&);
    LayoutVec endPos;
    LayoutVec endDir;
};

TEST(LayoutBuilder, ElementsEndWhereTheirGeometrySays) {
    const double c30 = std::sqrt(3.0) / 2.0;
    const ElementCase cases[] = {
        {"straight", [](LayoutBuilder& b) { b.Straight(25.0); }, {25, 0, 0}, {1, 0, 0}},
        {"pitch up",
         [](LayoutBuilder& b) { b.Pitch(30.0, 10.0); },
         {5, 10 - 10 * c30, 0},
         {c30, 0.5, 0}},
        {"pitch down", [](LayoutBuilder& b) { b.Pitch(-90.0, 10.0); }, {10, -10, 0}, {0, -1, 0}},
        {"left turn", [](LayoutBuilder& b) { b.Turn(90.0, 20.0); }, {20, 0, -20}, {0, 0, -1}},
        {"right turn", [](LayoutBuilder& b) { b.Turn(-180.0, 5.0); }, {0, 0, 10}, {-1, 0, 0}},
        {"helix", [](LayoutBuilder& b) { b.Helix(360.0, 16.0, -10.0); }, {0, -10, 0}, {1, 0, 0}},
        {"loop", [](LayoutBuilder& b) { b.Loop(10.0, 4.0); }, {0, 0, 4}, {1, 0, 0}},
    };
    for (const ElementCase& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutBuilder b({0.0, 0.0, 0.0});
        c.build(b);
        EXPECT_NEAR(b.Position().x, c.endPos.x, 1e-9);
        EXPECT_NEAR(b.Position().y, c.endPos.y, 1e-9);
        EXPECT_NEAR(b.Position().z, c.endPos.z, 1e-9);
        EXPECT_NEAR(b.Direction().x, c.endDir.x, 1e-9);
        EXPECT_NEAR(b.Direction().y, c.endDir.y, 1e-9);
        EXPECT_NEAR(b.Direction().z, c.endDir.z, 1e-9);
        const TrackData track = b.Build("element");
        const TrackVertex& last = track.Bezr.Vertices[track.Bezr.VertexCount - 1];
        EXPECT_NEAR(last.Pos.x, c.endPos.x, 1e-5);
        EXPECT_NEAR(last.Pos.z, c.endPos.z, 1e-5);
    }
}

TEST(LayoutBuilder, BuildsACompleteTrackRecord) {
    LayoutBuilder b({1.0, 2.0, 3.0});
    b.Mode(kModeKeepInput)
        .Passes(40)
        .Bank(10.0)
        .Straight(15.0)
        .Mode(kModeFeltToInput)
        .Turn(45.0, 8.0);
    const TrackData track = b.Build("two elements");
    EXPECT_EQ(track.Info.Text, "two elements");
    EXPECT_EQ(track.Header.Version[1], 3);
    const int segments = b.SegmentCount();
    EXPECT_EQ(track.Bezr.VertexCount, segments + 1);
    EXPECT_EQ(track.Bezr.Vertices.size(), static_cast<size_t>(segments) + 2);
    EXPECT_EQ(track.Segm.SegmentCount, segments);
    EXPECT_EQ(track.Segm.Segments.size(), static_cast<size_t>(segments) + 1);
    EXPECT_EQ(track.Segm.Segments[0].Val24[0], kModeKeepInput);
    EXPECT_EQ(track.Segm.Segments[0].Val24[1], 40);
    EXPECT_EQ(track.Segm.Segments[segments - 1].Val24[0], kModeFeltToInput);
    EXPECT_NEAR(track.Bezr.Vertices[1].Roll, 10.0 * kPi / 180.0, 1e-6);
    const TrackVertex& first = track.Bezr.Vertices[0];
    EXPECT_FLOAT_EQ(first.CtrlIn.x + first.CtrlOut.x, 2.0f * first.Pos.x);
}

TEST(LayoutBuilder, SampleTracksAreSmoothChainsAtRealisticScale) {
    for (const SampleLayout& sample : SampleLayouts()) {
        SCOPED_TRACE(sample.fileName);
        const auto& v = sample.track.Bezr.Vertices;
        const int count = sample.track.Bezr.VertexCount;
        ASSERT_GT(count, 20);
        for (int i = 0; i < count; ++i) {
            const Vec3 in = lsf_Vsub(v[i].CtrlIn, v[i].Pos);
            const Vec3 out = lsf_Vsub(v[i].CtrlOut, v[i].Pos);
            const double lengths = lsf_Vlength(in) * lsf_Vlength(out);
            ASSERT_GT(lengths, 0.0) << i;
            EXPECT_LT(lsf_Vdot(in, out) / lengths, -0.9999) << i;
            EXPECT_GE(v[i].Pos.y, 0.0f) << i;  // above the ground
            EXPECT_LT(v[i].Pos.y, 40.0f) << i;
        }
    }
}

TEST(LayoutBuilder, SampleTracksHeartlineWithTheirSuggestedSpeeds) {
    for (const SampleLayout& sample : SampleLayouts()) {
        SCOPED_TRACE(sample.fileName);
        TrackData track = sample.track;
        int16_t filter = kDefaultFilter;
        const HeartlineResult result =
            GenerateHeartline(track, kDefaultSegments, kDefaultPrecision, kDefaultHeartline,
                              sample.startSpeed, sample.endSpeed, filter, nullptr);
        EXPECT_TRUE(result) << result.detail;
        EXPECT_GT(result.minSpeed, 5.0);

        const bool defaultsSuit = sample.startSpeed == kDefaultStartSpeed;
        TrackData atDefaults = sample.track;
        filter = kDefaultFilter;
        const HeartlineResult plain =
            GenerateHeartline(atDefaults, kDefaultSegments, kDefaultPrecision, kDefaultHeartline,
                              kDefaultStartSpeed, kDefaultEndSpeed, filter, nullptr);
        EXPECT_EQ(plain.status, defaultsSuit ? HeartlineStatus::Ok : HeartlineStatus::Valleyed);
    }
}

}  // namespace
}  // namespace cvqrn
