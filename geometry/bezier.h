// Evaluation of the track's cubic Bezier segments.
//
// Two argument conventions exist side by side and cannot be mixed up:
//  - BezierCurve holds a segment in record order (startPoint, startControl,
//    endPoint, endControl); BezierPoint and BezierTangent take it, with t as
//    a single.
//  - CurvePoints holds a segment in curve order (P0, P1, P2, P3);
//    BezierDerivative, BezierSecondDerivative and BezierCurvature take it,
//    with t as a double.
// SegmentRecord / SegmentCurve build either form for segment i of a track.
// Squares and cubes are taken with std::pow in double; Vec3 results are
// rounded to single per component. t is never clamped.
#pragma once

#include "vec3/vec3.h"
#include "model/track_record.h"

namespace cvqrn {

// One cubic segment in record order. In curve order P0 = startPoint,
// P1 = startControl, P2 = endControl, P3 = endPoint.
struct BezierCurve {
    Vec3 startPoint;
    Vec3 startControl;
    Vec3 endPoint;
    Vec3 endControl;
};

// One cubic segment in curve order.
struct CurvePoints {
    Vec3 P0;
    Vec3 P1;
    Vec3 P2;
    Vec3 P3;
};

// The same segment in the other order.
BezierCurve RecordOrder(const CurvePoints& c);
CurvePoints CurveOrder(const BezierCurve& c);

// Number of vertices of `track` that both its VertexCount and its vertex
// array hold (never more than the array, never negative).
int UsableVertexCount(const TrackData& track);

// Segment i of `track` (vertices i and i + 1) in record order.
BezierCurve SegmentRecord(const TrackData& track, int i);
// Segment i of `track` (vertices i and i + 1) in curve order.
CurvePoints SegmentCurve(const TrackData& track, int i);

// The weights of the four control points, in curve order, at t:
// B(t) = w0 P0 + w1 P1 + w2 P2 + w3 P3, and the same for the derivatives.
// The one place of the cubic's formula: BezierPoint, the derivatives below
// and the ride profile (which adds them up in double) take their weights
// from here. (The fitter keeps its own Bernstein basis, whose roundings its
// fits depend on; see fitting/bezier_fit_detail.h.)
struct BezierWeights {
    double w0, w1, w2, w3;
};
// u^3, 3 t u^2, 3 t^2 u, t^3 with u = 1 - t.
BezierWeights BezierPointWeights(double t);
// -3 u^2, 3 u (1 - 3t), 3 t (2 - 3t), 3 t^2.
BezierWeights BezierDerivativeWeights(double t);
// 6 - 6t, 3 (6t - 4), 3 (2 - 6t), 6t.
BezierWeights BezierSecondDerivativeWeights(double t);
// -6, 18, -18, 6 (a cubic's third derivative does not change along it).
BezierWeights BezierThirdDerivativeWeights();

// B(t). Exactly startPoint at t = 0 and endPoint at t = 1.
Vec3 BezierPoint(const BezierCurve& c, float t);
// B'(t) / 3: the direction of travel, not normalised.
Vec3 BezierTangent(const BezierCurve& c, float t);
// B'(t).
Vec3 BezierDerivative(const CurvePoints& c, double t);
// B''(t).
Vec3 BezierSecondDerivative(const CurvePoints& c, double t);
// Curvature |B' x B''| / |B'|^3 in 1/length unit; NaN where B' vanishes.
double BezierCurvature(const CurvePoints& c, double t);

// Steps of every walk along a segment: t = k / kWalkStepsPerSegment for
// k = 0 .. kWalkStepsPerSegment. The length and the heartline's sampling walk
// must take the same points, or the samples' arc lengths drift from the length.
inline constexpr int kWalkStepsPerSegment = 1000;

// Length of the whole track: kWalkStepsPerSegment chords per segment; 0 for
// fewer than two vertices.
double TrackLength(const TrackData& track);

}  // namespace cvqrn
