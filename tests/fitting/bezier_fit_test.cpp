#include "fitting/bezier_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "fitting/bezier_fit_detail.h"
#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::ExpectVecEq;
using testing_geometry::ExpectVecNear;
using testing_geometry::SameVec;

bool SameCurve(const BezierCurve& a, const BezierCurve& b) {
    return SameVec(a.startPoint, b.startPoint) && SameVec(a.startControl, b.startControl) &&
           SameVec(a.endPoint, b.endPoint) && SameVec(a.endControl, b.endControl);
}

// n points along a gently winding 3-D path, none of them coinciding.
std::vector<Vec3> WindingPoints(int n) {
    std::vector<Vec3> pts;
    for (int i = 0; i < n; ++i)
        pts.push_back({static_cast<float>(i * 2.0), static_cast<float>(std::sin(i * 0.4) * 3.0),
                       static_cast<float>(std::cos(i * 0.25) * 2.0)});
    return pts;
}

// Fits all of `pts` with tangents towards the neighbours of the end points.
FitResult Fit(const std::vector<Vec3>& pts, int16_t segments) {
    double err = 123.0;
    const Vec3 t1 = lsf_Vnormalize(lsf_Vsub(pts[1], pts[0]));
    const Vec3 t2 = lsf_Vnormalize(lsf_Vsub(pts[pts.size() - 2], pts.back()));
    FitResult r = lsf_FitCurve(pts, static_cast<int16_t>(pts.size()), err, t1, t2, segments);
    EXPECT_EQ(err, 0.0) << "the caller's threshold is reset";
    return r;
}

TEST(Fitter, TwoAndThreeCollinearPointsUseOneThirdOfTheChord) {
    const FitResult two = Fit({{0, 0, 0}, {3, 0, 0}}, 1);
    ASSERT_EQ(two.count, 1);
    ExpectVecEq(two.curves[0].startControl, {1, 0, 0});
    ExpectVecEq(two.curves[0].endControl, {2, 0, 0});
    // Three points: the system is singular with zero right-hand sides.
    const std::vector<Vec3> pts{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    const Vec3 t1{1, 0, 0}, t2{-1, 0, 0};
    const std::vector<double> u = lsf_ChordLengthParams(pts, 0, 2);
    ASSERT_EQ(u, (std::vector<double>{0.0, 0.5, 1.0}));
    const LeastSquaresSums s = lsf_LeastSquaresSums(pts, 0, 2, u, t1, t2);
    EXPECT_EQ((std::vector<double>{s.C00, s.C01, s.C11, s.X0, s.X1}),
              (std::vector<double>{0.140625, -0.140625, 0.140625, 0, 0}));
    const BezierCurve c = lsf_GenerateBezier(pts, 0, 2, u, t1, t2);
    const auto third = static_cast<float>(2.0 / 3.0);
    ExpectVecEq(c.startControl, {third, 0, 0});
    ExpectVecEq(c.endControl, {static_cast<float>(2.0 - static_cast<double>(third)), 0, 0});
    EXPECT_EQ(lsf_MaxError(pts, 0, 2, c, u), 0.0);
    const FitResult r = Fit(pts, 64);
    ASSERT_EQ(r.count, 1) << "a range below four points is never split";
    EXPECT_TRUE(SameCurve(r.curves[0], c)) << "no pass improves on an exact fit";
}

TEST(Fitter, SplitsAtTheMiddleIndexRoundedToEvenWhileRangesAllow) {
    // Where each curve starts, as indices into the point list.
    const struct {
        int points;
        int16_t segments, count;
        std::vector<int> joints;
    } cases[] = {
        {9, 4, 4, {0, 2, 4, 6, 8}}, {6, 4, 3, {0, 2, 3, 5}}, {10, 2, 2, {0, 5, 9}},
        {11, 2, 2, {0, 6, 10}},     {13, 2, 2, {0, 6, 12}},  {9, 3, 1, {0, 8}},
        {9, 0, 1, {0, 8}},          {9, 128, 1, {0, 8}},     {3, 64, 1, {0, 2}},
        {129, 64, 64, {0}},         {65, 64, 32, {0}},       {40, 16, 16, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.points << " points, " << c.segments << " segments");
        const std::vector<Vec3> pts = WindingPoints(c.points);
        const FitResult r = Fit(pts, c.segments);
        ASSERT_EQ(r.count, c.count);
        ASSERT_EQ(r.curves.size(), static_cast<size_t>(c.count));
        ExpectVecEq(r.curves.back().endPoint, pts.back());
        for (size_t k = 0; k < c.joints.size() && k < r.curves.size(); ++k)
            ExpectVecEq(r.curves[k].startPoint, pts[static_cast<size_t>(c.joints[k])]);
        for (size_t k = 1; k < r.curves.size(); ++k) {
            ExpectVecEq(r.curves[k - 1].endPoint, r.curves[k].startPoint);
            // The two curves meet with collinear, opposite handles.
            const Vec3 in = lsf_Vsub(r.curves[k - 1].endControl, r.curves[k - 1].endPoint);
            const Vec3 out = lsf_Vsub(r.curves[k].startControl, r.curves[k].startPoint);
            EXPECT_NEAR(AngleBetween(in, out), std::acos(-1.0), 1e-3);
        }
    }
}

TEST(Fitter, DegenerateInputStillGivesCurves) {
    // All points equal: parameters are NaN, the system counts as singular and
    // every control point lands on that point.
    double err = 0.0;
    FitResult r =
        lsf_FitCurve(std::vector<Vec3>(5, Vec3{4, 5, 6}), 5, err, {1, 0, 0}, {-1, 0, 0}, 1);
    ASSERT_EQ(r.count, 1);
    ExpectVecEq(r.curves[0].startControl, {4, 5, 6});
    ExpectVecEq(r.curves[0].endControl, {4, 5, 6});
    // A zero start tangent puts the start handle on the start point.
    const std::vector<Vec3> pts = WindingPoints(6);
    r = lsf_FitCurve(pts, 6, err, {0, 0, 0}, {-1, 0, 0}, 1);
    ExpectVecEq(r.curves.at(0).startControl, pts[0]);
    // Asking for more points than the list holds fits nothing.
    EXPECT_EQ(lsf_FitCurve(pts, 7, err, {1, 0, 0}, {-1, 0, 0}, 1).curves.size(), 0u);
}

TEST(Fitter, SampledCubicComesBackClose) {
    std::mt19937 rng(4242u);
    std::uniform_real_distribution<float> coord(-100.0f, 100.0f);
    auto point = [&] { return Vec3{coord(rng), coord(rng), coord(rng)}; };
    for (int trial = 0; trial < 300; ++trial) {
        const Vec3 p0 = point(), p3 = point();
        const double chord = Distance3D(p0, p3);
        if (chord < 20.0) continue;
        // Handles of 0.3 chord leaning along the chord: smooth, loop-free
        // curves like the segments of a track.
        const Vec3 axis = lsf_Vnormalize(lsf_Vsub(p3, p0));
        const Vec3 t1 = lsf_Vnormalize(lsf_Vadd(lsf_Vscale(axis, 100.0), point()));
        const Vec3 t2 = lsf_Vnormalize(lsf_Vadd(lsf_Vscale(axis, -100.0), point()));
        const BezierCurve truth{p0, lsf_Vadd(p0, lsf_Vscale(t1, chord * 0.3)), p3,
                                lsf_Vadd(p3, lsf_Vscale(t2, chord * 0.3))};
        const int n = 7 + trial % 34;
        std::vector<Vec3> pts;
        for (int i = 0; i < n; ++i) pts.push_back(lsf_BezierPoint(truth, i / (n - 1.0)));
        double err = 0.0;
        const FitResult r = lsf_FitCurve(pts, static_cast<int16_t>(n), err, t1, t2, 1);
        ASSERT_EQ(r.count, 1);
        // Every fitted point lies near the true curve.
        double far = 0.0;
        for (int k = 0; k <= 50; ++k) {
            const Vec3 q = lsf_BezierPoint(r.curves[0], k / 50.0);
            double nearest = 1e300;
            for (int j = 0; j <= 2000; ++j)
                nearest = std::min(nearest, Distance3D(q, lsf_BezierPoint(truth, j / 2000.0)));
            far = std::max(far, nearest);
        }
        // One Newton step from the chord-length parameters per pass bounds
        // how close the fit can come: under 3 % of the chord in this sample
        // (typically 0.1 %).
        EXPECT_LT(far, 0.03 * chord) << "trial " << trial << " n " << n;
    }
}

}  // namespace
}  // namespace cvqrn
