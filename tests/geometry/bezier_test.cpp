#include "geometry/bezier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::ExpectVecEq;
using testing_geometry::ExpectVecNear;
using testing_geometry::TrackOf;

TEST(Bezier, EndPointsAndEndDerivativesOfRandomSegments) {
    std::mt19937 rng(12345u);
    std::uniform_real_distribution<float> coord(-500.0f, 500.0f);
    auto point = [&] { return Vec3{coord(rng), coord(rng), coord(rng)}; };
    // 6 (a - 2b + c) with singles rounded on the way: a few single ulps off at most.
    auto second = [](const Vec3& a, const Vec3& b, const Vec3& c) {
        return lsf_Vscale(lsf_Vadd(lsf_Vsub(a, b), lsf_Vsub(c, b)), 6.0);
    };
    for (int i = 0; i < 3000; ++i) {
        const CurvePoints p{point(), point(), point(), point()};
        const BezierCurve c{p.P0, p.P1, p.P3, p.P2};
        ExpectVecEq(BezierPoint(c, 0.0f), p.P0);
        ExpectVecEq(BezierPoint(c, 1.0f), p.P3);
        ExpectVecEq(BezierTangent(c, 0.0f), lsf_Vsub(p.P1, p.P0));
        ExpectVecEq(BezierTangent(c, 1.0f), lsf_Vsub(p.P3, p.P2));
        ExpectVecNear(BezierDerivative(p, 0.0), lsf_Vscale(lsf_Vsub(p.P1, p.P0), 3.0), 1e-3);
        ExpectVecNear(BezierDerivative(p, 1.0), lsf_Vscale(lsf_Vsub(p.P3, p.P2), 3.0), 1e-3);
        ExpectVecNear(BezierSecondDerivative(p, 0.0), second(p.P0, p.P1, p.P2), 4e-3);
        ExpectVecNear(BezierSecondDerivative(p, 1.0), second(p.P1, p.P2, p.P3), 4e-3);
    }
}

TEST(Bezier, CurvatureOfTheQuarterTurnStraightLineAndVanishingHandle) {
    // d1 = (3, 0, 0), d2 = (0, 6, 0), d1 x d2 = (0, 0, 18) at t = 0.
    EXPECT_EQ(BezierCurvature({{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {2, 2, 0}}, 0.0), 18.0 / 27.0);
    const CurvePoints line{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {4, 4, 4}};
    for (double t = 0.0; t <= 1.0; t += 0.125) EXPECT_EQ(BezierCurvature(line, t), 0.0) << t;
    EXPECT_TRUE(std::isnan(BezierCurvature({{0, 0, 0}, {0, 0, 0}, {2, 1, 0}, {2, 2, 0}}, 0.0)));
    EXPECT_TRUE(std::isnan(BezierCurvature({{0, 0, 0}, {1, 0, 0}, {2, 2, 0}, {2, 2, 0}}, 1.0)));
}

TEST(Bezier, RecordOrderAndCurveOrderOfATrackSegmentDescribeTheSameCurve) {
    const TrackData track =
        TrackOf({{{0, 0, 0}, {-1, 0, 0}, {1, 0, 0}}, {{2, 2, 0}, {2, 1, 0}, {2, 3, 0}}});
    const BezierCurve rec = SegmentRecord(track, 0);
    const CurvePoints cur = SegmentCurve(track, 0);
    ExpectVecEq(cur.P2, {2, 1, 0});  // the CtrlIn of vertex 1
    const BezierCurve back = RecordOrder(cur);
    ExpectVecEq(back.endPoint, rec.endPoint);
    ExpectVecEq(back.endControl, rec.endControl);
    // The tangent of the record form is a third of the derivative of the curve form.
    for (float t : {0.0f, 0.25f, 0.5f, 1.0f}) {
        ExpectVecNear(lsf_Vscale(BezierTangent(rec, t), 3.0),
                      BezierDerivative(cur, static_cast<double>(t)), 1e-5);
    }
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
