// The sample tracks made with the layout builder.
#include "samples/layout_builder.h"

#include <gtest/gtest.h>

#include "geometry/vector3.h"
#include "samples/sample_tracks.h"

namespace cvqrn {
namespace {

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

}  // namespace
}  // namespace cvqrn
