// Small helpers shared by the geometry and fitting tests.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "model/track_record.h"
#include "vec3/vec3.h"

namespace cvqrn::testing_geometry {

// Exact comparison of the stored singles.
inline void ExpectVecEq(const Vec3& actual, const Vec3& expected) {
    EXPECT_EQ((std::array{actual.x, actual.y, actual.z}),
              (std::array{expected.x, expected.y, expected.z}));
}

// A track holding `vertices`, with the spare zero entry that a load leaves.
inline TrackData TrackOf(const std::vector<TrackVertex>& vertices) {
    TrackData track;
    track.Bezr.VertexCount = static_cast<int32_t>(vertices.size());
    track.Bezr.Vertices = vertices;
    track.Bezr.Vertices.emplace_back();
    return track;
}

}  // namespace cvqrn::testing_geometry
