#include "geometry/bezier.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::ExpectVecEq;
using testing_geometry::TrackOf;

TEST(Bezier, CurvatureOfTheQuarterTurnStraightLineAndVanishingHandle) {
    // d1 = (3, 0, 0), d2 = (0, 6, 0), d1 x d2 = (0, 0, 18) at t = 0.
    EXPECT_EQ(BezierCurvature({{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {2, 2, 0}}, 0.0), 18.0 / 27.0);
    const CurvePoints line{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {4, 4, 4}};
    for (double t = 0.0; t <= 1.0; t += 0.125) EXPECT_EQ(BezierCurvature(line, t), 0.0) << t;
    EXPECT_TRUE(std::isnan(BezierCurvature({{0, 0, 0}, {0, 0, 0}, {2, 1, 0}, {2, 2, 0}}, 0.0)));
    EXPECT_TRUE(std::isnan(BezierCurvature({{0, 0, 0}, {1, 0, 0}, {2, 2, 0}, {2, 2, 0}}, 1.0)));
}

TEST(Bezier, CurveAndRecordOrderDescribeTheSameCurveWithItsDerivatives) {
    const TrackData track =
        TrackOf({{{0, 0, 0}, {-1, 0, 0}, {1, 0, 0}}, {{2, 2, 0}, {2, 1, 0}, {2, 3, 0}}});
    const BezierCurve rec = SegmentRecord(track, 0);
    const CurvePoints cur = SegmentCurve(track, 0);
    ExpectVecEq(cur.P2, {2, 1, 0});  // the CtrlIn of vertex 1
    const BezierCurve back = RecordOrder(cur);
    ExpectVecEq(back.endPoint, rec.endPoint);
    ExpectVecEq(back.endControl, rec.endControl);
    // At the ends: the record tangent is a third of the derivative; the second
    // derivative is 6 (P0 - 2 P1 + P2) and 6 (P1 - 2 P2 + P3).
    ExpectVecEq(BezierTangent(rec, 1.0f), {0, 1, 0});
    ExpectVecEq(BezierDerivative(cur, 1.0), {0, 3, 0});
    ExpectVecEq(BezierSecondDerivative(cur, 0.0), {0, 6, 0});
    ExpectVecEq(BezierSecondDerivative(cur, 1.0), {-6, 0, 0});
}

TEST(Bezier, TrackLengthSumsTheChordsOfEverySegment) {
    // A cubic quarter circle of radius 100 deviates from the arc by 0.027 %.
    const auto k = static_cast<float>(0.5522847498 * 100.0);
    const TrackData two = TrackOf({{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}},
                                   {{3, 0, 0}, {2, 0, 0}, {3, 0, 1}},
                                   {{3, 0, 7}, {3, 0, 6}, {3, 0, 8}}});
    TrackData lying = two;
    lying.Bezr.Vertices.resize(2);
    lying.Bezr.VertexCount = 50;  // a count beyond the array never reads past it
    const struct {
        TrackData track;
        double length, tolerance;
    } cases[] = {
        {two, 10.0, 1e-4},
        {TrackOf(
             {{{100, 0, 0}, {100, 0, -k}, {100, 0, k}}, {{0, 0, 100}, {k, 0, 100}, {-k, 0, 100}}}),
         50.0 * std::acos(-1.0), 0.05},
        {TrackOf({{{5, 5, 5}, {4, 4, 4}, {6, 6, 6}}}), 0.0, 0.0},
        {lying, 3.0, 1e-5},
    };
    for (const auto& c : cases) EXPECT_NEAR(TrackLength(c.track), c.length, c.tolerance);
}

}  // namespace
}  // namespace cvqrn
