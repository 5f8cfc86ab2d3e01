#include "fitting/bezier_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::ExpectVecEq;

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
    ASSERT_EQ(two.curves.size(), 1u);
    ExpectVecEq(two.curves[0].startControl, {1, 0, 0});
    ExpectVecEq(two.curves[0].endControl, {2, 0, 0});
    // Three points: the system is singular with zero right-hand sides, and no
    // pass improves on the exact fit that the fallback gives.
    const FitResult three = Fit({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, 64);
    ASSERT_EQ(three.curves.size(), 1u) << "a range below four points is never split";
    const auto third = static_cast<float>(2.0 / 3.0);
    ExpectVecEq(three.curves[0].startControl, {third, 0, 0});
    ExpectVecEq(three.curves[0].endControl, {static_cast<float>(2.0 - double{third}), 0, 0});
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
    ASSERT_EQ(r.curves.size(), 1u);
    ExpectVecEq(r.curves[0].startControl, {4, 5, 6});
    ExpectVecEq(r.curves[0].endControl, {4, 5, 6});
    // A zero start tangent puts the start handle on the start point.
    const std::vector<Vec3> pts = WindingPoints(6);
    r = lsf_FitCurve(pts, 6, err, {0, 0, 0}, {-1, 0, 0}, 1);
    ExpectVecEq(r.curves.at(0).startControl, pts[0]);
    // Asking for more points than the list holds fits nothing.
    EXPECT_EQ(lsf_FitCurve(pts, 7, err, {1, 0, 0}, {-1, 0, 0}, 1).curves.size(), 0u);
}

}  // namespace
}  // namespace cvqrn
