#include "geometry/bezier.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::TrackOf;

TEST(Bezier, CurvatureOfAQuarterTurnALineAndVanishingHandles) {
    // d1 = (3, 0, 0), d2 = (0, 6, 0), d1 x d2 = (0, 0, 18) at t = 0.
    EXPECT_EQ(BezierCurvature({{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {2, 2, 0}}, 0.0), 18.0 / 27.0);
    EXPECT_EQ(BezierCurvature({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {4, 4, 4}}, 0.375), 0.0);
    // No first derivative at an end: the curvature is undefined, not zero.
    EXPECT_TRUE(std::isnan(BezierCurvature({{0, 0, 0}, {0, 0, 0}, {2, 1, 0}, {2, 2, 0}}, 0.0)));
    EXPECT_TRUE(std::isnan(BezierCurvature({{0, 0, 0}, {1, 0, 0}, {2, 2, 0}, {2, 2, 0}}, 1.0)));
}

TEST(Bezier, TrackLengthSumsTheChordsOfTheSegmentsTheArrayHolds) {
    const TrackData two = TrackOf({{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}},
                                   {{3, 0, 0}, {2, 0, 0}, {3, 0, 1}},
                                   {{3, 0, 7}, {3, 0, 6}, {3, 0, 8}}});
    TrackData lying = two;
    lying.Bezr.Vertices.resize(2);
    lying.Bezr.VertexCount = 50;  // a count beyond the array never reads past it
    EXPECT_NEAR(TrackLength(two), 10.0, 1e-4);
    EXPECT_NEAR(TrackLength(lying), 3.0, 1e-5);
    EXPECT_EQ(TrackLength(TrackOf({{{5, 5, 5}, {4, 4, 4}, {6, 6, 6}}})), 0.0);
}

}  // namespace
}  // namespace cvqrn
