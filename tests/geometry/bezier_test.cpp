#include "geometry/bezier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::ExpectVecEq;
using testing_geometry::TrackOf;

class RandomSegments : public ::testing::Test {
  protected:
    CurvePoints Next() { return {Point(), Point(), Point(), Point()}; }
    Vec3 Point() { return {coord_(rng_), coord_(rng_), coord_(rng_)}; }
    std::mt19937 rng_{12345u};
    std::uniform_real_distribution<float> coord_{-500.0f, 500.0f};
};

TEST_F(RandomSegments, PointHitsTheEndPointsExactly) {
    for (int i = 0; i < 5000; ++i) {
        const CurvePoints p = Next();
        const BezierCurve c{p.P0, p.P1, p.P3, p.P2};
        ExpectVecEq(BezierPoint(c, 0.0f), p.P0);
        ExpectVecEq(BezierPoint(c, 1.0f), p.P3);
    }
}

TEST_F(RandomSegments, DerivativeIdentitiesAtTheEnds) {
    for (int i = 0; i < 2000; ++i) {
        const CurvePoints p = Next();
        const BezierCurve c{p.P0, p.P1, p.P3, p.P2};
        // Single-rounded forms computed independently from the control points.
        auto d = [](float a, float b) { return static_cast<double>(a) - static_cast<double>(b); };
        const Vec3 t0{static_cast<float>(d(p.P1.x, p.P0.x)), static_cast<float>(d(p.P1.y, p.P0.y)),
                      static_cast<float>(d(p.P1.z, p.P0.z))};
        const Vec3 t1{static_cast<float>(d(p.P3.x, p.P2.x)), static_cast<float>(d(p.P3.y, p.P2.y)),
                      static_cast<float>(d(p.P3.z, p.P2.z))};
        ExpectVecEq(BezierTangent(c, 0.0f), t0);
        ExpectVecEq(BezierTangent(c, 1.0f), t1);
        const Vec3 d0 = BezierDerivative(p, 0.0);
        const Vec3 d1 = BezierDerivative(p, 1.0);
        EXPECT_FLOAT_EQ(d0.x, static_cast<float>(3.0 * d(p.P1.x, p.P0.x)));
        EXPECT_FLOAT_EQ(d1.y, static_cast<float>(3.0 * d(p.P3.y, p.P2.y)));
        auto second = [](float a, float b, float c2) {
            return static_cast<float>(6.0 * (static_cast<double>(a) - 2.0 * static_cast<double>(b) +
                                             static_cast<double>(c2)));
        };
        const Vec3 s0 = BezierSecondDerivative(p, 0.0);
        const Vec3 s1 = BezierSecondDerivative(p, 1.0);
        EXPECT_NEAR(s0.z, second(p.P0.z, p.P1.z, p.P2.z), 1e-3);
        EXPECT_NEAR(s1.x, second(p.P1.x, p.P2.x, p.P3.x), 1e-3);
    }
}

TEST(Bezier, CurvatureOfTheQuarterTurnExample) {
    const CurvePoints p{{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {2, 2, 0}};
    ExpectVecEq(BezierDerivative(p, 0.0), {3, 0, 0});
    ExpectVecEq(BezierSecondDerivative(p, 0.0), {0, 6, 0});
    ExpectVecEq(lsf_Vcross(BezierDerivative(p, 0.0), BezierSecondDerivative(p, 0.0)), {0, 0, 18});
    EXPECT_EQ(BezierCurvature(p, 0.0), 18.0 / 27.0);
}

TEST(Bezier, StraightSegmentHasZeroCurvatureAndVanishingHandleGivesNaN) {
    const CurvePoints line{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {4, 4, 4}};
    for (double t = 0.0; t <= 1.0; t += 0.125) EXPECT_EQ(BezierCurvature(line, t), 0.0) << t;
    const CurvePoints noStartHandle{{0, 0, 0}, {0, 0, 0}, {2, 1, 0}, {2, 2, 0}};
    EXPECT_TRUE(std::isnan(BezierCurvature(noStartHandle, 0.0)));
    const CurvePoints noEndHandle{{0, 0, 0}, {1, 0, 0}, {2, 2, 0}, {2, 2, 0}};
    EXPECT_TRUE(std::isnan(BezierCurvature(noEndHandle, 1.0)));
}

TEST(Bezier, RecordOrderAndCurveOrderDescribeTheSameCurve) {
    TrackData track =
        TrackOf({{{0, 0, 0}, {-1, 0, 0}, {1, 0, 0}}, {{2, 2, 0}, {2, 1, 0}, {2, 3, 0}}});
    const BezierCurve rec = SegmentRecord(track, 0);
    const CurvePoints cur = SegmentCurve(track, 0);
    ExpectVecEq(rec.endControl, cur.P2);
    ExpectVecEq(rec.endPoint, cur.P3);
    // The tangent of the record form is a third of the derivative of the curve form.
    for (float t : {0.0f, 0.25f, 0.5f, 1.0f}) {
        const Vec3 tan = BezierTangent(rec, t);
        const Vec3 der = BezierDerivative(cur, t);
        EXPECT_NEAR(3.0 * static_cast<double>(tan.x), static_cast<double>(der.x), 1e-5);
        EXPECT_NEAR(3.0 * static_cast<double>(tan.y), static_cast<double>(der.y), 1e-5);
    }
    // Reading the record order as curve order gives a different curve.
    const CurvePoints swapped{rec.startPoint, rec.startControl, rec.endPoint, rec.endControl};
    const Vec3 right = BezierDerivative(cur, 1.0);
    const Vec3 wrong = BezierDerivative(swapped, 1.0);
    EXPECT_FALSE(right.x == wrong.x && right.y == wrong.y);
}

TEST(TrackLengthTest, StraightTrackMeasuresTheChord) {
    const TrackData track =
        TrackOf({{{0, 0, 0}, {-1, 0, 0}, {0.75f, 1, 0}}, {{3, 4, 0}, {1.5f, 2, 0}, {4, 5, 0}}});
    EXPECT_NEAR(TrackLength(track), 5.0, 5.0 * 1e-6);
    // Two straight segments add up.
    const TrackData two = TrackOf({{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}},
                                   {{3, 0, 0}, {2, 0, 0}, {3, 0, 1}},
                                   {{3, 0, 7}, {3, 0, 6}, {3, 0, 8}}});
    EXPECT_NEAR(TrackLength(two), 10.0, 1e-4);
}

TEST(TrackLengthTest, QuarterCircleIsCloseToItsArc) {
    // A cubic quarter circle of radius 100 deviates from the arc by 0.027 %.
    const double k = 0.5522847498 * 100.0;
    const auto kf = static_cast<float>(k);
    const TrackData track = TrackOf(
        {{{100, 0, 0}, {100, 0, -kf}, {100, 0, kf}}, {{0, 0, 100}, {kf, 0, 100}, {-kf, 0, 100}}});
    EXPECT_NEAR(TrackLength(track), 100.0 * std::acos(-1.0) / 2.0, 0.05);
}

TEST(TrackLengthTest, FewerThanTwoVerticesMeasureZero) {
    EXPECT_EQ(TrackLength(TrackData{}), 0.0);
    EXPECT_EQ(TrackLength(TrackOf({{{5, 5, 5}, {4, 4, 4}, {6, 6, 6}}})), 0.0);
    // A count larger than the vertex array never reads past it.
    TrackData lying =
        TrackOf({{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}}, {{3, 0, 0}, {2, 0, 0}, {4, 0, 0}}});
    lying.Bezr.Vertices.resize(2);
    lying.Bezr.VertexCount = 50;
    EXPECT_NEAR(TrackLength(lying), 3.0, 1e-5);
}

}  // namespace
}  // namespace cvqrn
