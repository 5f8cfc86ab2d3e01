#include "geometry/end_analysis.h"

#include <cmath>

#include "geometry/bezier.h"
#include "geometry/frame.h"
#include "text/format.h"
#include "vec3/vec3.h"

namespace cvqrn {

namespace {

// Curvatures below this (radii above 1000 track units) count as straight.
constexpr double kStraightCurvature = 0.001;

// Writes the slope, radius and tilt of segment `p` (curve order) at parameter
// t (0 or 1), travelling in `direction`.
void AnalyseEnd(const Vec3& direction, const CurvePoints& p, double t, double& radius,
                double& slope, double& tilt) {
    // Slope: the angle between the direction of travel and its horizontal
    // projection, negative downhill.
    const Vec3 horizontal{direction.x, 0.0f, direction.z};
    slope = RadToDeg(AngleBetween(direction, horizontal));
    if (direction.y < 0.0f) slope = -slope;

    // A NaN curvature (vanishing handle) counts as straight too.
    const double kappa = BezierCurvature(p, t);
    radius = kStraightRadius;
    tilt = kStraightRadius;
    if (!(kappa >= kStraightCurvature)) return;
    radius = 1.0 / kappa;

    const Vec3 d1 = BezierDerivative(p, t);
    const Vec3 d2 = BezierSecondDerivative(p, t);
    const Vec3 tangent = BezierTangent(RecordOrder(p), static_cast<float>(t));

    // Principal normal, made exactly perpendicular to the tangent.
    const Vec3 normal = RemoveTangentPart(PrincipalNormal(d1, d2, tangent), tangent);

    // Tilt: from the downward vertical as seen across the track, signed about
    // the direction of travel.
    tilt = RadToDeg(SignedAngle(normal, LevelDownAcross(tangent), tangent));
}

}  // namespace

void TrackEndAnalysis(const TrackData& track, double& radiusIn, double& slopeIn, double& tiltIn,
                      double& radiusOut, double& slopeOut, double& tiltOut) {
    // A track with fewer than two vertices reads straight and level at both ends.
    radiusIn = tiltIn = radiusOut = tiltOut = kStraightRadius;
    slopeIn = slopeOut = 0.0;
    const int n = UsableVertexCount(track);
    if (n < 2) return;

    const auto& v = track.Bezr.Vertices;
    const TrackVertex& first = v.front();
    const TrackVertex& last = v[static_cast<size_t>(n - 1)];

    // The direction of travel comes from each end vertex's CtrlIn handle. A
    // first vertex whose CtrlIn sits on its position has no such direction;
    // its CtrlOut handle gives it instead.
    const Vec3 dirIn = SamePoint(first.CtrlIn, first.Pos) ? lsf_Vsub(first.CtrlOut, first.Pos)
                                                          : lsf_Vsub(first.Pos, first.CtrlIn);
    const Vec3 dirOut = lsf_Vsub(last.Pos, last.CtrlIn);
    AnalyseEnd(dirIn, SegmentCurve(track, 0), 0.0, radiusIn, slopeIn, tiltIn);
    AnalyseEnd(dirOut, SegmentCurve(track, n - 2), 1.0, radiusOut, slopeOut, tiltOut);
}

EndAnalysis TrackEndAnalysis(const TrackData& track) {
    EndAnalysis a;
    TrackEndAnalysis(track, a.radiusIn, a.slopeIn, a.tiltIn, a.radiusOut, a.slopeOut, a.tiltOut);
    return a;
}

EndAnalysisTexts FormatEndAnalysis(const EndAnalysis& ends, std::string_view separator) {
    const auto radius = [&](double r) {
        return IsStraightEnd(r) ? std::string("straight") : FormatFixed(r, 3, separator);
    };
    const auto tilt = [&](double r, double t) {
        return IsStraightEnd(r) ? std::string("none") : FormatFixed(t, 3, separator);
    };
    return {radius(ends.radiusIn),  FormatFixed(ends.slopeIn, 3, separator),  tilt(ends.radiusIn, ends.tiltIn),
            radius(ends.radiusOut), FormatFixed(ends.slopeOut, 3, separator), tilt(ends.radiusOut, ends.tiltOut)};
}

}  // namespace cvqrn
