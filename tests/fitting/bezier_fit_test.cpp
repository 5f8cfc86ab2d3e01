#include "fitting/bezier_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>

#include "fitting/bezier_fit_detail.h"
#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::ExpectVecEq;
using testing_geometry::SameVec;

bool SameCurve(const BezierCurve& a, const BezierCurve& b) {
    return SameVec(a.startPoint, b.startPoint) && SameVec(a.startControl, b.startControl) &&
           SameVec(a.endPoint, b.endPoint) && SameVec(a.endControl, b.endControl);
}

// n points along a gently winding 3-D path, none of them coinciding.
std::vector<Vec3> WindingPoints(int n) {
    std::vector<Vec3> pts;
    for (int i = 0; i < n; ++i) {
        const double s = i;
        pts.push_back({static_cast<float>(s * 2.0), static_cast<float>(std::sin(s * 0.4) * 3.0),
                       static_cast<float>(std::cos(s * 0.25) * 2.0)});
    }
    return pts;
}

FitResult Fit(const std::vector<Vec3>& pts, int16_t segments) {
    double err = 123.0;
    const Vec3 t1 = lsf_Vnormalize(lsf_Vsub(pts[1], pts[0]));
    const Vec3 t2 = lsf_Vnormalize(lsf_Vsub(pts[pts.size() - 2], pts.back()));
    FitResult r = lsf_FitCurve(pts, static_cast<int16_t>(pts.size()), err, t1, t2, segments);
    EXPECT_EQ(err, 0.0) << "the caller's threshold is reset";
    return r;
}

TEST(Fitter, TwoPointsUseOneThirdOfTheChord) {
    const std::vector<Vec3> pts{{0, 0, 0}, {3, 0, 0}};
    double err = 5.0;
    const FitResult r = lsf_FitCurve(pts, 2, err, {1, 0, 0}, {-1, 0, 0}, 1);
    EXPECT_EQ(err, 0.0);
    ASSERT_EQ(r.count, 1);
    ASSERT_EQ(r.curves.size(), 1u);
    ExpectVecEq(r.curves[0].startPoint, {0, 0, 0});
    ExpectVecEq(r.curves[0].startControl, {1, 0, 0});
    ExpectVecEq(r.curves[0].endControl, {2, 0, 0});
    ExpectVecEq(r.curves[0].endPoint, {3, 0, 0});
}

TEST(Fitter, ThreeCollinearPointsHitTheSingularSystem) {
    const std::vector<Vec3> pts{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    const Vec3 t1{1, 0, 0}, t2{-1, 0, 0};
    const std::vector<double> u = lsf_ChordLengthParams(pts, 0, 2);
    ASSERT_EQ(u, (std::vector<double>{0.0, 0.5, 1.0}));
    const LeastSquaresSums s = lsf_LeastSquaresSums(pts, 0, 2, u, t1, t2);
    EXPECT_EQ(s.C00, 0.140625);
    EXPECT_EQ(s.C11, 0.140625);
    EXPECT_EQ(s.C01, -0.140625);
    EXPECT_EQ(s.C00 * s.C11 - s.C01 * s.C01, 0.0);
    EXPECT_EQ(s.X0, 0.0);
    EXPECT_EQ(s.X1, 0.0);

    const BezierCurve c = lsf_GenerateBezier(pts, 0, 2, u, t1, t2);
    ExpectVecEq(c.startControl, {static_cast<float>(2.0 / 3.0), 0, 0});
    ExpectVecEq(
        c.endControl,
        {static_cast<float>(2.0 - static_cast<double>(static_cast<float>(2.0 / 3.0))), 0, 0});
    EXPECT_EQ(lsf_MaxError(pts, 0, 2, c, u), 0.0);

    double err = 0.0;
    const FitResult r = lsf_FitCurve(pts, 3, err, t1, t2, 64);
    ASSERT_EQ(r.count, 1) << "a range below four points is never split";
    EXPECT_TRUE(SameCurve(r.curves[0], c)) << "no pass improves on an exact fit";
}

TEST(Fitter, PointsOnALineGiveControlPointsOnIt) {
    std::vector<Vec3> pts;
    for (int i = 0; i < 9; ++i) {
        const float s = static_cast<float>(i * i) * 0.5f;  // uneven spacing
        pts.push_back({s, 2.0f * s, -s});
    }
    const Vec3 dir = lsf_Vnormalize({1, 2, -1});
    double err = 0.0;
    const FitResult r = lsf_FitCurve(pts, 9, err, dir, {-dir.x, -dir.y, -dir.z}, 1);
    ASSERT_EQ(r.count, 1);
    for (const Vec3& p : {r.curves[0].startControl, r.curves[0].endControl}) {
        EXPECT_NEAR(static_cast<double>(p.y), 2.0 * static_cast<double>(p.x), 1e-4);
        EXPECT_NEAR(static_cast<double>(p.z), -static_cast<double>(p.x), 1e-4);
        EXPECT_GT(p.x, 0.0f);
        EXPECT_LT(p.x, 32.0f);
    }
}

// Where each curve of a fit starts and ends, as indices into the point list.
struct SplitCase {
    const char* name;
    int points;
    int16_t segments;
    std::vector<std::pair<int, int>> ranges;
};

class FitterSplits : public ::testing::TestWithParam<SplitCase> {};

TEST_P(FitterSplits, SplitsAtTheMiddleIndexRoundedToEven) {
    const SplitCase& c = GetParam();
    const std::vector<Vec3> pts = WindingPoints(c.points);
    const FitResult r = Fit(pts, c.segments);
    ASSERT_EQ(r.count, static_cast<int16_t>(c.ranges.size()));
    ASSERT_EQ(r.curves.size(), c.ranges.size());
    for (size_t k = 0; k < c.ranges.size(); ++k) {
        SCOPED_TRACE(k);
        ExpectVecEq(r.curves[k].startPoint, pts[static_cast<size_t>(c.ranges[k].first)]);
        ExpectVecEq(r.curves[k].endPoint, pts[static_cast<size_t>(c.ranges[k].second)]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fitter, FitterSplits,
    ::testing::Values(SplitCase{"NinePointsFourCurves", 9, 4, {{0, 2}, {2, 4}, {4, 6}, {6, 8}}},
                      SplitCase{"SixPointsFallShort", 6, 4, {{0, 2}, {2, 3}, {3, 5}}},
                      SplitCase{"TenPoints", 10, 2, {{0, 5}, {5, 9}}},
                      SplitCase{"ElevenPointsRoundUp", 11, 2, {{0, 6}, {6, 10}}},
                      SplitCase{"ThirteenPointsRoundDown", 13, 2, {{0, 6}, {6, 12}}},
                      SplitCase{"ThreeSegmentsMeanOne", 9, 3, {{0, 8}}},
                      SplitCase{"ZeroSegmentsMeanOne", 9, 0, {{0, 8}}},
                      SplitCase{"HundredTwentyEightMeanOne", 9, 128, {{0, 8}}}),
    [](const ::testing::TestParamInfo<SplitCase>& p) { return std::string(p.param.name); });

TEST(Fitter, CurveCountFollowsTheRequestWhileRangesAllowIt) {
    struct Case {
        int points;
        int16_t segments;
        int16_t curves;
    };
    for (const Case c : {Case{129, 64, 64}, Case{65, 64, 32}, Case{17, 8, 8}, Case{40, 16, 16},
                         Case{7, 1, 1}, Case{3, 64, 1}, Case{2, 64, 1}}) {
        SCOPED_TRACE(c.points);
        const std::vector<Vec3> pts = WindingPoints(c.points);
        const FitResult r = Fit(pts, c.segments);
        ASSERT_EQ(r.count, c.curves);
        ASSERT_EQ(r.curves.size(), static_cast<size_t>(c.curves));
        ExpectVecEq(r.curves.front().startPoint, pts.front());
        ExpectVecEq(r.curves.back().endPoint, pts.back());
        for (size_t k = 1; k < r.curves.size(); ++k) {
            ExpectVecEq(r.curves[k - 1].endPoint, r.curves[k].startPoint);
            // The two curves meet with collinear, opposite handles.
            const Vec3 in = lsf_Vsub(r.curves[k - 1].endControl, r.curves[k - 1].endPoint);
            const Vec3 out = lsf_Vsub(r.curves[k].startControl, r.curves[k].startPoint);
            EXPECT_NEAR(AngleBetween(in, out), std::acos(-1.0), 1e-3);
        }
    }
}

TEST(Fitter, SplitTangentIsTheHalvedNeighbourDifferenceNormalised) {
    const std::vector<Vec3> pts{{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {3, 3, 0}};
    // w1 = P0 - P1 = (-1, 0, 0), w2 = P1 - P2 = (-1, -1, 0); mean (-1, -0.5, 0).
    const Vec3 t = lsf_CenterTangent(pts, 1);
    const double len = std::sqrt(1.25);
    ExpectVecEq(t, {static_cast<float>(-1.0 / len), static_cast<float>(-0.5 / len), 0});
}

TEST(Fitter, DegenerateInputStillGivesCurves) {
    // All points equal: parameters are NaN, the system counts as singular and
    // every control point lands on that point.
    const std::vector<Vec3> same(5, Vec3{4, 5, 6});
    double err = 0.0;
    FitResult r = lsf_FitCurve(same, 5, err, {1, 0, 0}, {-1, 0, 0}, 1);
    ASSERT_EQ(r.count, 1);
    for (const Vec3& p : {r.curves[0].startPoint, r.curves[0].startControl, r.curves[0].endControl,
                          r.curves[0].endPoint}) {
        ExpectVecEq(p, {4, 5, 6});
    }
    // A zero start tangent puts the start handle on the start point.
    const std::vector<Vec3> pts = WindingPoints(6);
    r = lsf_FitCurve(pts, 6, err, {0, 0, 0}, {-1, 0, 0}, 1);
    ASSERT_EQ(r.count, 1);
    ExpectVecEq(r.curves[0].startControl, pts[0]);
    // Asking for more points than the list holds, or none, fits nothing.
    EXPECT_EQ(lsf_FitCurve(pts, 7, err, {1, 0, 0}, {-1, 0, 0}, 1).count, 0);
    EXPECT_EQ(lsf_FitCurve(pts, 0, err, {1, 0, 0}, {-1, 0, 0}, 1).count, 0);
    EXPECT_EQ(lsf_FitCurve({}, 0, err, {1, 0, 0}, {-1, 0, 0}, 1).curves.size(), 0u);
}

TEST(Fitter, NewtonStepAndBasis) {
    for (double u : {-0.5, 0.0, 0.3, 0.5, 1.0, 1.7}) {
        EXPECT_NEAR(lsf_B0(u) + lsf_B1(u) + lsf_B2(u) + lsf_B3(u), 1.0, 1e-14) << u;
    }
    const BezierCurve line{{0, 0, 0}, {1, 0, 0}, {3, 0, 0}, {2, 0, 0}};
    // On a uniformly parameterised line one step lands exactly; the offset of
    // the curve point from p is rounded to single (1.5 - 1e-8 -> 1.5) before
    // the products, so the step lands on 0 exactly, not 3.3e-9.
    EXPECT_EQ(lsf_NewtonRaphson(line, {1e-8f, 5, 0}, 0.5), 0.0);
    // A zero denominator leaves the parameter as it is.
    const BezierCurve point{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}};
    EXPECT_EQ(lsf_NewtonRaphson(point, {1, 1, 1}, 0.25), 0.25);
    // De Casteljau agrees with the Bernstein form.
    const BezierCurve c{{0, 0, 0}, {1, 2, 0}, {4, 0, 1}, {3, 2, -1}};
    const Vec3 v[4] = {c.startPoint, c.startControl, c.endControl, c.endPoint};
    for (double t : {0.0, 0.2, 0.5, 0.9, 1.0}) {
        const Vec3 a = lsf_DeCasteljau(3, v, t);
        const Vec3 b = lsf_BezierPoint(c, t);
        EXPECT_NEAR(static_cast<double>(a.x), static_cast<double>(b.x), 1e-6);
        EXPECT_NEAR(static_cast<double>(a.y), static_cast<double>(b.y), 1e-6);
        EXPECT_NEAR(static_cast<double>(a.z), static_cast<double>(b.z), 1e-6);
    }
}

}  // namespace
}  // namespace cvqrn

namespace cvqrn {
namespace {

TEST(FitterProperty, SampledCubicComesBackClose) {
    std::mt19937 rng(4242u);
    std::uniform_real_distribution<float> coord(-100.0f, 100.0f);
    std::uniform_int_distribution<int> count(7, 40);
    double total = 0.0;
    int fits = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const Vec3 p0{coord(rng), coord(rng), coord(rng)};
        const Vec3 p3{coord(rng), coord(rng), coord(rng)};
        // Handles of 0.3 chord leaning along the chord: smooth, loop-free
        // curves like the segments of a track.
        const double chord = Distance3D(p0, p3);
        if (chord < 20.0) continue;
        const Vec3 axis = lsf_Vnormalize(lsf_Vsub(p3, p0));
        auto handle = [&](const Vec3& from, double along) {
            const Vec3 lean{coord(rng), coord(rng), coord(rng)};
            const Vec3 dir = lsf_Vnormalize(lsf_Vadd(lsf_Vscale(axis, along), lean));
            return lsf_Vadd(from, lsf_Vscale(dir, chord * 0.3));
        };
        const Vec3 p1 = handle(p0, 100.0);
        const Vec3 p2 = handle(p3, -100.0);
        const BezierCurve truth{p0, p1, p3, p2};
        const int n = count(rng);
        std::vector<Vec3> pts;
        for (int i = 0; i < n; ++i) pts.push_back(lsf_BezierPoint(truth, i / (n - 1.0)));
        double err = 0.0;
        const FitResult r =
            lsf_FitCurve(pts, static_cast<int16_t>(n), err, lsf_Vnormalize(lsf_Vsub(p1, p0)),
                         lsf_Vnormalize(lsf_Vsub(p2, p3)), 1);
        ASSERT_EQ(r.count, 1);
        // Compare the two curves as point sets: every fitted point lies near the truth.
        double far = 0.0;
        for (int k = 0; k <= 50; ++k) {
            const Vec3 q = lsf_BezierPoint(r.curves[0], k / 50.0);
            double nearest = 1e300;
            for (int j = 0; j <= 2000; ++j) {
                nearest = std::min(nearest, Distance3D(q, lsf_BezierPoint(truth, j / 2000.0)));
            }
            far = std::max(far, nearest);
        }
        // One Newton step from the chord-length parameters per pass bounds
        // how close the fit can come; a few percent of the chord at worst.
        EXPECT_LT(far, 0.03 * chord) << "trial " << trial << " n " << n;
        total += far / chord;
        ++fits;
    }
    EXPECT_LT(total / fits, 0.005) << "typical deviation";
}

}  // namespace
}  // namespace cvqrn

namespace cvqrn {
namespace {

// The curves of the refinement passes over points[0..n-1], computed step by
// step: pass 0 is the chord-length curve. Returns the pass at which the loop
// stops and the errors of every pass.
struct Passes {
    std::vector<BezierCurve> curves;
    std::vector<double> errors;
};

Passes RunPasses(const std::vector<Vec3>& pts, const Vec3& t1, const Vec3& t2) {
    const int last = static_cast<int>(pts.size()) - 1;
    const std::vector<double> u = lsf_ChordLengthParams(pts, 0, last);
    Passes p;
    p.curves.push_back(lsf_GenerateBezier(pts, 0, last, u, t1, t2));
    p.errors.push_back(lsf_MaxError(pts, 0, last, p.curves.back(), u));
    for (int pass = 1; pass <= 20; ++pass) {
        // Every pass starts again from the chord-length parameters.
        const std::vector<double> uPrime = lsf_Reparameterize(pts, 0, last, u, p.curves.back());
        p.curves.push_back(lsf_GenerateBezier(pts, 0, last, uPrime, t1, t2));
        p.errors.push_back(lsf_MaxError(pts, 0, last, p.curves.back(), uPrime));
        if (!(p.errors.back() < p.errors[p.errors.size() - 2])) break;
    }
    return p;
}

TEST(Fitter, RefinementKeepsTheLastPassEvenWhenItGotWorse) {
    std::mt19937 rng(31337u);
    std::uniform_real_distribution<float> coord(-50.0f, 50.0f);
    int worsened = 0;
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<Vec3> pts;
        for (int i = 0; i < 6; ++i) {
            pts.push_back({static_cast<float>(i * 20) + coord(rng) * 0.3f, coord(rng), coord(rng)});
        }
        const Vec3 t1 = lsf_Vnormalize(lsf_Vsub(pts[1], pts[0]));
        const Vec3 t2 = lsf_Vnormalize(lsf_Vsub(pts[4], pts[5]));
        const Passes p = RunPasses(pts, t1, t2);
        double err = 0.0;
        const FitResult r = lsf_FitCurve(pts, 6, err, t1, t2, 1);
        ASSERT_EQ(r.count, 1);
        ASSERT_TRUE(SameCurve(r.curves[0], p.curves.back())) << "trial " << trial;
        const size_t n = p.errors.size();
        if (n >= 3 && p.errors[n - 1] > p.errors[n - 2]) {
            ++worsened;
            EXPECT_FALSE(SameCurve(r.curves[0], p.curves[n - 2]));
        }
    }
    EXPECT_GT(worsened, 0) << "the sample should include passes that raise the error";
}

TEST(Fitter, FitsRunSideBySide) {
    const std::vector<Vec3> a = WindingPoints(33);
    std::vector<Vec3> b = WindingPoints(20);
    for (Vec3& p : b) p.y = -p.y;
    const FitResult soloA = Fit(a, 8);
    const FitResult soloB = Fit(b, 4);
    // Interleaving two fits cannot mix their curves: each call owns its state.
    FitResult bothA, bothB;
    std::thread other([&] { bothB = Fit(b, 4); });
    bothA = Fit(a, 8);
    other.join();
    ASSERT_EQ(bothA.count, soloA.count);
    ASSERT_EQ(bothB.count, soloB.count);
    for (size_t k = 0; k < soloA.curves.size(); ++k)
        EXPECT_TRUE(SameCurve(bothA.curves[k], soloA.curves[k]));
    for (size_t k = 0; k < soloB.curves.size(); ++k)
        EXPECT_TRUE(SameCurve(bothB.curves[k], soloB.curves[k]));
}

}  // namespace
}  // namespace cvqrn
