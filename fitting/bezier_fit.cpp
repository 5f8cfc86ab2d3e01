#include "fitting/bezier_fit.h"

#include <cmath>

#include "fitting/bezier_fit_detail.h"

namespace cvqrn {

namespace {

constexpr int kMaxRefinementPasses = 20;
// Least-squares tangent lengths below these count as degenerate; the start
// and the end have different limits.
constexpr double kMinAlpha1 = 1e-8;
constexpr double kMinAlpha2 = 1e-9;

const Vec3& At(const std::vector<Vec3>& points, int i) {
    return points[static_cast<size_t>(i)];
}

double& At(std::vector<double>& u, int k) {
    return u[static_cast<size_t>(k)];
}
double At(const std::vector<double>& u, int k) {
    return u[static_cast<size_t>(k)];
}

Vec3 Negated(const Vec3& v) {
    return {-v.x, -v.y, -v.z};
}

// Curve from a to b whose control points lie a third of the chord along the tangents.
BezierCurve OneThirdChordCurve(const Vec3& a, const Vec3& b, const Vec3& tHat1, const Vec3& tHat2) {
    const double dist = lsf_Vlength(lsf_Vsub(b, a)) / 3.0;
    return {a, lsf_Vadd(a, lsf_Vscale(tHat1, dist)), b, lsf_Vadd(b, lsf_Vscale(tHat2, dist))};
}

}  // namespace

double lsf_B0(double u) {
    const double tmp = 1.0 - u;
    return tmp * tmp * tmp;
}

double lsf_B1(double u) {
    const double tmp = 1.0 - u;
    return 3.0 * u * (tmp * tmp);
}

double lsf_B2(double u) {
    const double tmp = 1.0 - u;
    return 3.0 * (u * u) * tmp;
}

double lsf_B3(double u) {
    return u * u * u;
}

Vec3 lsf_BezierPoint(const BezierCurve& curve, double u) {
    const double b0 = lsf_B0(u), b1 = lsf_B1(u), b2 = lsf_B2(u), b3 = lsf_B3(u);
    auto one = [&](float p0, float p1, float p2, float p3) {
        return static_cast<float>(b0 * static_cast<double>(p0) + b1 * static_cast<double>(p1) +
                                  b2 * static_cast<double>(p2) + b3 * static_cast<double>(p3));
    };
    const Vec3& p0 = curve.startPoint;
    const Vec3& p1 = curve.startControl;
    const Vec3& p2 = curve.endControl;
    const Vec3& p3 = curve.endPoint;
    return {one(p0.x, p1.x, p2.x, p3.x), one(p0.y, p1.y, p2.y, p3.y), one(p0.z, p1.z, p2.z, p3.z)};
}

Vec3 lsf_DeCasteljau(int degree, std::span<const Vec3> V, double t) {
    std::vector<Vec3> w(V.begin(), V.begin() + degree + 1);
    auto lerp = [t](float next, float here) {
        return static_cast<float>(t * static_cast<double>(next) +
                                  (1.0 - t) * static_cast<double>(here));
    };
    for (int i = 1; i <= degree; ++i) {
        for (int j = 0; j <= degree - i; ++j) {
            Vec3& wj = w[static_cast<size_t>(j)];
            const Vec3& wn = w[static_cast<size_t>(j) + 1];
            wj = {lerp(wn.x, wj.x), lerp(wn.y, wj.y), lerp(wn.z, wj.z)};
        }
    }
    return w[0];
}

std::vector<double> lsf_ChordLengthParams(const std::vector<Vec3>& points, int first, int last) {
    if (last < first) return {};
    std::vector<double> u(static_cast<size_t>(last - first + 1));
    u.front() = 0.0;
    for (int i = first + 1; i <= last; ++i) {
        At(u, i - first) =
            At(u, i - first - 1) + lsf_Vlength(lsf_Vsub(At(points, i), At(points, i - 1)));
    }
    // The total is read from the last entry as it goes, so that entry is divided last.
    for (int i = first + 1; i <= last; ++i) {
        At(u, i - first) = At(u, i - first) / At(u, last - first);
    }
    return u;
}

LeastSquaresSums lsf_LeastSquaresSums(const std::vector<Vec3>& points, int first, int last,
                                      const std::vector<double>& u, const Vec3& tHat1,
                                      const Vec3& tHat2) {
    const Vec3& p0 = At(points, first);
    const Vec3& p3 = At(points, last);
    LeastSquaresSums s;
    for (int k = 0; k <= last - first; ++k) {
        const double uk = At(u, k);
        const Vec3 a0 = lsf_Vscale(tHat1, lsf_B1(uk));
        const Vec3 a1 = lsf_Vscale(tHat2, lsf_B2(uk));
        s.C00 += lsf_Vdot(a0, a0);
        s.C01 += lsf_Vdot(a0, a1);
        s.C11 += lsf_Vdot(a1, a1);
        // The point's offset from the curve with both inner control points on
        // the end points, summed innermost first.
        const Vec3 base =
            lsf_Vadd(lsf_Vscale(p0, lsf_B0(uk)),
                     lsf_Vadd(lsf_Vscale(p0, lsf_B1(uk)),
                              lsf_Vadd(lsf_Vscale(p3, lsf_B2(uk)), lsf_Vscale(p3, lsf_B3(uk)))));
        const Vec3 tmp = lsf_Vsub(At(points, first + k), base);
        s.X0 += lsf_Vdot(a0, tmp);
        s.X1 += lsf_Vdot(a1, tmp);
    }
    return s;
}

BezierCurve lsf_GenerateBezier(const std::vector<Vec3>& points, int first, int last,
                               const std::vector<double>& u, const Vec3& tHat1, const Vec3& tHat2) {
    const LeastSquaresSums s = lsf_LeastSquaresSums(points, first, last, u, tHat1, tHat2);
    double det = s.C00 * s.C11 - s.C01 * s.C01;
    const double detC0X = s.C00 * s.X1 - s.C01 * s.X0;
    const double detXC1 = s.X0 * s.C11 - s.C01 * s.X1;
    // A singular system (collinear basis columns) still gets a solution when
    // the diagonal carries information.
    if (det == 0.0 || std::isnan(det)) det = s.C00 * s.C11 * 1e-12;
    double alpha1 = 0.0;
    double alpha2 = 0.0;
    if (!(det == 0.0 || std::isnan(det))) {
        alpha1 = detXC1 / det;
        alpha2 = detC0X / det;
    }

    const Vec3& startPoint = At(points, first);
    const Vec3& endPoint = At(points, last);
    if (alpha1 >= kMinAlpha1 && alpha2 >= kMinAlpha2) {
        return {startPoint, lsf_Vadd(startPoint, lsf_Vscale(tHat1, alpha1)), endPoint,
                lsf_Vadd(endPoint, lsf_Vscale(tHat2, alpha2))};
    }
    // Too short, negative or undefined: fall back to a third of the chord.
    return OneThirdChordCurve(startPoint, endPoint, tHat1, tHat2);
}

double lsf_MaxError(const std::vector<Vec3>& points, int first, int last, const BezierCurve& curve,
                    const std::vector<double>& u) {
    double maxDist = 0.0;
    for (int i = first + 1; i <= last - 1; ++i) {
        const double d =
            lsf_Vlength(lsf_Vsub(lsf_BezierPoint(curve, At(u, i - first)), At(points, i)));
        if (d > maxDist) maxDist = d;
    }
    return maxDist;
}

double lsf_NewtonRaphson(const BezierCurve& curve, const Vec3& p, double u) {
    const Vec3 q = lsf_BezierPoint(curve, u);
    // Control points of the first and second derivative.
    const Vec3 q1pts[3] = {lsf_Vscale(lsf_Vsub(curve.startControl, curve.startPoint), 3.0),
                           lsf_Vscale(lsf_Vsub(curve.endControl, curve.startControl), 3.0),
                           lsf_Vscale(lsf_Vsub(curve.endPoint, curve.endControl), 3.0)};
    const Vec3 q2pts[2] = {lsf_Vscale(lsf_Vsub(q1pts[1], q1pts[0]), 2.0),
                           lsf_Vscale(lsf_Vsub(q1pts[2], q1pts[1]), 2.0)};
    const Vec3 q1 = lsf_DeCasteljau(2, q1pts, u);
    const Vec3 q2 = lsf_DeCasteljau(1, q2pts, u);

    // The offset from p is a stored vector like every other difference here.
    const Vec3 offset = lsf_Vsub(q, p);
    const double numerator = lsf_Vdot(offset, q1);
    const double slope = lsf_Vdot(q1, q1) + lsf_Vdot(offset, q2);
    if (slope == 0.0 || std::isnan(slope)) return u;
    return u - numerator / slope;
}

std::vector<double> lsf_Reparameterize(const std::vector<Vec3>& points, int first, int last,
                                       const std::vector<double>& u, const BezierCurve& curve) {
    std::vector<double> uPrime(static_cast<size_t>(last - first + 1));
    for (int i = first; i <= last; ++i) {
        At(uPrime, i - first) = lsf_NewtonRaphson(curve, At(points, i), At(u, i - first));
    }
    return uPrime;
}

Vec3 lsf_CenterTangent(const std::vector<Vec3>& points, int c) {
    const Vec3 w1 = lsf_Vsub(At(points, c - 1), At(points, c));
    const Vec3 w2 = lsf_Vsub(At(points, c), At(points, c + 1));
    const Vec3 sum = lsf_Vadd(w1, w2);
    // The mean is taken in single precision.
    const Vec3 mean{sum.x / 2.0f, sum.y / 2.0f, sum.z / 2.0f};
    return lsf_Vnormalize(mean);
}

void lsf_AppendCurve(FitState& state, const BezierCurve& curve) {
    state.fitted.curves.push_back(curve);
}

int16_t lsf_MaxDepthForSegments(int16_t segments) {
    switch (segments) {
        case 1:
            return 0;
        case 2:
            return 1;
        case 4:
            return 2;
        case 8:
            return 3;
        case 16:
            return 4;
        case 32:
            return 5;
        case 64:
            return 6;
        default:
            return 0;
    }
}

void lsf_FitCubic(FitState& state, const std::vector<Vec3>& points, int first, int last,
                  const Vec3& tHat1, const Vec3& tHat2, double err, int16_t depth) {
    const int nPts = last - first + 1;

    if (nPts == 2) {
        lsf_AppendCurve(state,
                        OneThirdChordCurve(At(points, first), At(points, last), tHat1, tHat2));
        return;
    }

    const std::vector<double> u = lsf_ChordLengthParams(points, first, last);
    BezierCurve curve = lsf_GenerateBezier(points, first, last, u, tHat1, tHat2);
    double prevErr = lsf_MaxError(points, first, last, curve, u);

    // Each pass takes one Newton step from the chord-length parameters of the
    // current curve; the curve of the last pass is kept, even when that pass
    // made the error larger.
    double e = prevErr;
    for (int pass = 1; pass <= kMaxRefinementPasses; ++pass) {
        const std::vector<double> uPrime = lsf_Reparameterize(points, first, last, u, curve);
        curve = lsf_GenerateBezier(points, first, last, uPrime, tHat1, tHat2);
        e = lsf_MaxError(points, first, last, curve, uPrime);
        if (!(e < prevErr)) break;
        prevErr = e;
    }

    if (e < err || depth > state.maxDepth || nPts < 4) {
        lsf_AppendCurve(state, curve);
        return;
    }

    // Split at the middle index, rounded half to even; the split point belongs
    // to both halves, which meet there with collinear tangents.
    const auto split = static_cast<int>(std::nearbyint(static_cast<double>(first) + nPts / 2.0));
    const Vec3 tC = lsf_CenterTangent(points, split);
    const auto deeper = static_cast<int16_t>(depth + 1);
    lsf_FitCubic(state, points, first, split, tHat1, tC, err, deeper);
    lsf_FitCubic(state, points, split, last, Negated(tC), tHat2, err, deeper);
}

FitResult lsf_FitCurve(const std::vector<Vec3>& points, int16_t nPts, double& err,
                       const Vec3& tHat1, const Vec3& tHat2, int16_t segments) {
    err = 0.0;
    FitState state;
    state.maxDepth = lsf_MaxDepthForSegments(segments);
    // No points to fit, or fewer points held than requested: nothing to fit.
    if (nPts < 1 || static_cast<size_t>(nPts) > points.size()) return state.fitted;
    lsf_FitCubic(state, points, 0, nPts - 1, tHat1, tHat2, err, 1);
    return state.fitted;
}

}  // namespace cvqrn
