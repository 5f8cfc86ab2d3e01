// The steps of the least-squares fitter behind lsf_FitCurve, exposed so that
// each can be checked on its own.
//
// Point ranges are inclusive index pairs first..last into a point list; a
// parameter list holds one curve parameter per point of its range (entry k
// belongs to point first + k). Curves are in record order (see BezierCurve).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fitting/bezier_fit.h"

namespace cvqrn {

// State of one fit in progress: the curves found so far and how deep ranges
// may be split. Each call of lsf_FitCurve owns one, so fits can run side by side.
struct FitState {
    FitResult fitted;      // curves appended so far, first point to last
    int16_t maxDepth = 0;  // deepest depth at which a range may still be split
};

// Split depth for a requested curve count: 1 -> 0, 2 -> 1, ... 64 -> 6; any
// other count -> 0 (one curve).
int16_t lsf_MaxDepthForSegments(int16_t segments);

// Appends `curve` to the state's result.
void lsf_AppendCurve(FitState& state, const BezierCurve& curve);

// Fits points[first..last] and appends one or more curves to `state`.
//   tHat1  unit tangent at points[first], pointing forward.
//   tHat2  unit tangent at points[last], pointing backward.
//   err    error threshold; a range whose error falls below it is not split.
//   depth  1 for the whole point list, one more for each split above this range.
// Requires 0 <= first <= last < points.size().
void lsf_FitCubic(FitState& state, const std::vector<Vec3>& points, int first, int last,
                  const Vec3& tHat1, const Vec3& tHat2, double err, int16_t depth);

// Chord-length parameters of points[first..last]: 0 at first, 1 at last,
// each interior point at its share of the polyline length.
std::vector<double> lsf_ChordLengthParams(const std::vector<Vec3>& points, int first, int last);

// The sums of the 2x2 least-squares system for the two tangent lengths
// alpha1 (at the start) and alpha2 (at the end):
//   [C00 C01] [a1]   [X0]
//   [C01 C11] [a2] = [X1]
struct LeastSquaresSums {
    double C00 = 0.0;
    double C01 = 0.0;
    double C11 = 0.0;
    double X0 = 0.0;
    double X1 = 0.0;
};

// Builds the sums for points[first..last] at parameters `u` (one per point)
// with end tangents tHat1 (forward) and tHat2 (backward).
LeastSquaresSums lsf_LeastSquaresSums(const std::vector<Vec3>& points, int first, int last,
                                      const std::vector<double>& u, const Vec3& tHat1,
                                      const Vec3& tHat2);

// The curve through points[first] and points[last] whose inner control points
// lie along tHat1 and tHat2 at the least-squares distances; one third of the
// chord along each tangent where those distances are too small or undefined.
BezierCurve lsf_GenerateBezier(const std::vector<Vec3>& points, int first, int last,
                               const std::vector<double>& u, const Vec3& tHat1, const Vec3& tHat2);

// Largest Euclidean distance between an interior point of points[first..last]
// and the curve at that point's parameter; the end points are not examined.
double lsf_MaxError(const std::vector<Vec3>& points, int first, int last, const BezierCurve& curve,
                    const std::vector<double>& u);

// One Newton step for every point of the range; `u` is left unchanged.
std::vector<double> lsf_Reparameterize(const std::vector<Vec3>& points, int first, int last,
                                       const std::vector<double>& u, const BezierCurve& curve);

// One Newton step from parameter u towards the parameter of the curve point
// nearest to p. Returns u unchanged when the step is undefined; not clamped.
double lsf_NewtonRaphson(const BezierCurve& curve, const Vec3& p, double u);

// The curve's point at parameter u (not clamped), from the Bernstein basis
// below. The fitter keeps this basis of its own rather than the track's
// weights (geometry/bezier.h): its products (u * u * u where the track takes
// pow) round differently, and the fitted curves depend on those roundings.
Vec3 lsf_BezierPoint(const BezierCurve& curve, double u);

// Point at t of the Bezier curve of the given degree with control points
// V[0..degree] (V must hold at least degree + 1 points).
Vec3 lsf_DeCasteljau(int degree, std::span<const Vec3> V, double t);

// Cubic Bernstein basis values at u.
double lsf_B0(double u);
double lsf_B1(double u);
double lsf_B2(double u);
double lsf_B3(double u);

// Unit tangent at interior point c from its two neighbours, pointing backward
// (towards lower indices). Requires a neighbour on each side.
Vec3 lsf_CenterTangent(const std::vector<Vec3>& points, int c);

}  // namespace cvqrn
