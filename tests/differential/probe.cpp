// Built twice: into the test with the project's options, and into the
// unoptimised reference copy of the core with `cvqrn` renamed.
#include <span>

#include "fitting/bezier_fit.h"
#include "fitting/bezier_fit_detail.h"
#include "geometry/bezier.h"
#include "geometry/end_analysis.h"
#include "heartline/generator.h"
#include "trackfile/track_file.h"

#include "tests/differential/probe_api.h"

namespace cvqrn::probe {
namespace {

Vec3 V(const Point& p) {
    return {p[0], p[1], p[2]};
}
Point P(const Vec3& v) {
    return {v.x, v.y, v.z};
}
BezierCurve Record(const Curve& c) {
    return {V(c[0]), V(c[1]), V(c[3]), V(c[2])};
}
CurvePoints InCurveOrder(const Curve& c) {
    return {V(c[0]), V(c[1]), V(c[2]), V(c[3])};
}

}  // namespace

std::array<double, 16> CurveFigures(const Curve& c, double t) {
    const auto ft = static_cast<float>(t);
    std::array<double, 16> figures{};
    size_t at = 0;
    const CurvePoints curve = InCurveOrder(c);
    for (const Vec3& v :
         {BezierPoint(Record(c), ft), BezierTangent(Record(c), ft), BezierDerivative(curve, t),
          BezierSecondDerivative(curve, t), lsf_BezierPoint(Record(c), t)}) {
        for (const float x : P(v)) figures[at++] = static_cast<double>(x);
    }
    figures[at] = BezierCurvature(curve, t);
    return figures;
}

double NewtonRaphson(const Curve& c, const Point& p, double u) {
    return lsf_NewtonRaphson(Record(c), V(p), u);
}

std::vector<Curve> FitCurve(const std::vector<Point>& points, const Point& tHat1,
                            const Point& tHat2, int16_t segments, double& err) {
    std::vector<Vec3> v;
    for (const Point& p : points) v.push_back(V(p));
    const FitResult fit =
        lsf_FitCurve(v, static_cast<int16_t>(v.size()), err, V(tHat1), V(tHat2), segments);
    std::vector<Curve> curves;
    for (const BezierCurve& b : fit.curves) {
        curves.push_back({P(b.startPoint), P(b.startControl), P(b.endControl), P(b.endPoint)});
    }
    return curves;
}

std::array<double, 6> EndAnalysis(std::span<const uint8_t> image) {
    TrackData track;
    DecodeTrack(image, track);
    const cvqrn::EndAnalysis e = TrackEndAnalysis(track);
    return {e.radiusIn, e.slopeIn, e.tiltIn, e.radiusOut, e.slopeOut, e.tiltOut};
}

HeartlineOutcome Heartline(std::span<const uint8_t> image, const Settings& s, bool smooth) {
    TrackData track;
    DecodeTrack(image, track);
    const auto whole = [](double x) { return static_cast<int16_t>(x); };
    HeartlineSettings settings{whole(s[0]), whole(s[1]), s[2], s[3], s[4], whole(s[5])};
    settings.smooth = smooth;
    const HeartlineResult result = GenerateHeartline(track, settings, nullptr);
    HeartlineOutcome outcome;
    outcome.filter = result.filter;
    outcome.status = static_cast<int>(result.status);
    outcome.figures = {result.lengthIn, result.minSpeed, result.maxSpeed};
    if (result) outcome.file = EncodeTrack(track).image;
    return outcome;
}

}  // namespace cvqrn::probe
