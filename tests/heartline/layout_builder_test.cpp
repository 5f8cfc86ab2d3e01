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
