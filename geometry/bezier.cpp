#include "geometry/bezier.h"

#include <algorithm>
#include <cmath>

namespace cvqrn {

namespace {

double Pow2(double x) {
    return std::pow(x, 2.0);
}
double Pow3(double x) {
    return std::pow(x, 3.0);
}

// Weighted sum of four control points in curve order, w0*P0 + w1*P1 +
// w2*P2 + w3*P3, per component in double, left to right, rounded once when stored.
Vec3 Combine(const BezierWeights& w, const Vec3& p0, const Vec3& p1, const Vec3& p2,
             const Vec3& p3) {
    auto one = [&](float a, float b, float c, float d) {
        return static_cast<float>(w.w0 * static_cast<double>(a) + w.w1 * static_cast<double>(b) +
                                  w.w2 * static_cast<double>(c) + w.w3 * static_cast<double>(d));
    };
    return {one(p0.x, p1.x, p2.x, p3.x), one(p0.y, p1.y, p2.y, p3.y), one(p0.z, p1.z, p2.z, p3.z)};
}

}  // namespace

BezierWeights BezierPointWeights(double t) {
    const double u = 1.0 - t;
    return {Pow3(u), 3.0 * t * Pow2(u), 3.0 * Pow2(t) * u, Pow3(t)};
}

BezierWeights BezierDerivativeWeights(double t) {
    const double u = 1.0 - t;
    return {-3.0 * Pow2(u), 3.0 * u * (1.0 - 3.0 * t), 3.0 * t * (2.0 - 3.0 * t), 3.0 * Pow2(t)};
}

BezierWeights BezierSecondDerivativeWeights(double t) {
    return {6.0 - 6.0 * t, 3.0 * (6.0 * t - 4.0), 3.0 * (2.0 - 6.0 * t), 6.0 * t};
}

BezierWeights BezierThirdDerivativeWeights() {
    return {-6.0, 18.0, -18.0, 6.0};
}

int UsableVertexCount(const TrackData& track) {
    const auto held = static_cast<int64_t>(track.Bezr.Vertices.size());
    return static_cast<int>(std::clamp<int64_t>(track.Bezr.VertexCount, 0, held));
}

BezierCurve SegmentRecord(const TrackData& track, int i) {
    const auto& v = track.Bezr.Vertices;
    const auto a = static_cast<size_t>(i);
    return {v[a].Pos, v[a].CtrlOut, v[a + 1].Pos, v[a + 1].CtrlIn};
}

CurvePoints SegmentCurve(const TrackData& track, int i) {
    return CurveOrder(SegmentRecord(track, i));
}

BezierCurve RecordOrder(const CurvePoints& c) {
    return {c.P0, c.P1, c.P3, c.P2};
}

CurvePoints CurveOrder(const BezierCurve& c) {
    return {c.startPoint, c.startControl, c.endControl, c.endPoint};
}

Vec3 BezierPoint(const BezierCurve& c, float t) {
    // Curve order: P0 = startPoint, P1 = startControl, P2 = endControl, P3 = endPoint.
    return Combine(BezierPointWeights(static_cast<double>(t)), c.startPoint, c.startControl,
                   c.endControl, c.endPoint);
}

Vec3 BezierTangent(const BezierCurve& c, float t) {
    const auto td = static_cast<double>(t);
    const double u = 1.0 - td;
    // u^2 (P1 - P0) + 2tu (P2 - P1) + t^2 (P3 - P2), expanded and summed as
    // u^2 P1 + 2tu P2 + t^2 P3 - u^2 P0 - 2tu P1 - t^2 P2.
    const double uu = Pow2(u);
    const double tu2 = 2.0 * td * u;
    const double tt = Pow2(td);
    auto one = [&](float p0, float p1, float p2, float p3) {
        const auto d0 = static_cast<double>(p0), d1 = static_cast<double>(p1),
                   d2 = static_cast<double>(p2), d3 = static_cast<double>(p3);
        return static_cast<float>(uu * d1 + tu2 * d2 + tt * d3 - uu * d0 - tu2 * d1 - tt * d2);
    };
    const Vec3& p0 = c.startPoint;
    const Vec3& p1 = c.startControl;
    const Vec3& p2 = c.endControl;
    const Vec3& p3 = c.endPoint;
    return {one(p0.x, p1.x, p2.x, p3.x), one(p0.y, p1.y, p2.y, p3.y), one(p0.z, p1.z, p2.z, p3.z)};
}

Vec3 BezierDerivative(const CurvePoints& c, double t) {
    return Combine(BezierDerivativeWeights(t), c.P0, c.P1, c.P2, c.P3);
}

Vec3 BezierSecondDerivative(const CurvePoints& c, double t) {
    return Combine(BezierSecondDerivativeWeights(t), c.P0, c.P1, c.P2, c.P3);
}

double BezierCurvature(const CurvePoints& c, double t) {
    const Vec3 d1 = BezierDerivative(c, t);
    const Vec3 d2 = BezierSecondDerivative(c, t);
    const Vec3 cross = lsf_Vcross(d1, d2);
    const Vec3 origin{};
    const double a = Distance3D(origin, d1);
    const double b = Distance3D(origin, cross);
    return b / Pow3(a);
}

double TrackLength(const TrackData& track) {
    const int n = UsableVertexCount(track);
    if (n < 2) return 0.0;
    Vec3 prev = BezierPoint(SegmentRecord(track, 0), 0.0f);
    double length = 0.0;
    for (int s = 0; s <= n - 2; ++s) {
        const BezierCurve seg = SegmentRecord(track, s);
        for (int k = 1; k <= kWalkStepsPerSegment; ++k) {
            const auto t = static_cast<float>(static_cast<double>(k) / kWalkStepsPerSegment);
            const Vec3 p = BezierPoint(seg, t);
            length += Distance3D(prev, p);
            prev = p;
        }
    }
    return length;
}

}  // namespace cvqrn
