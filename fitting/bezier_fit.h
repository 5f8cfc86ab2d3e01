// Least-squares fitting of cubic Bezier curves to ordered 3-D points with
// given end tangents (Schneider's method carried to 3-D, with a fixed number
// of curves instead of an error tolerance).
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/bezier.h"
#include "vec3/vec3.h"

namespace cvqrn {

// The curves of one fit, from the first point to the last; curve k ends where
// curve k + 1 starts. No curves: nothing was fitted.
struct FitResult {
    std::vector<BezierCurve> curves;
};

// Fits curves to points[0 .. nPts - 1].
//   err       in/out: set to 0 on entry; the fit always runs with threshold 0.
//   tHat1     unit tangent at points[0], pointing forward (towards higher indices).
//   tHat2     unit tangent at points[nPts - 1], pointing backward.
//   segments  requested number of curves: 1, 2, 4, ... 64; any other value counts as 1.
// The fit keeps no state between calls, so fits may run side by side.
FitResult lsf_FitCurve(const std::vector<Vec3>& points, int16_t nPts, double& err,
                       const Vec3& tHat1, const Vec3& tHat2, int16_t segments);

}  // namespace cvqrn
