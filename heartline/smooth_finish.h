// The finish: a few Levenberg-Marquardt steps over every control point of
// the rail at once, holding the hearts on the loaded path and their
// curvature continuous across the joins. Its model, residuals and normal
// equations stay in one source, where its hot loops are inlined.
#pragma once

#include <vector>

#include "heartline/smooth_path.h"
#include "heartline/smooth_places.h"
#include "heartline/smooth_rail_fit.h"

namespace cvqrn::smooth {

// The riders' raw lateral (g) on `fit` at each of the loaded path's arc
// lengths `at` (in order), see RawLateralAt.
std::vector<double> RawLateralsAt(const std::vector<PathSample>& samples, double spacing,
                                  double heartline, const RailFit& fit,
                                  const std::vector<double>& at);

// Half the width of the ramp across `step`: half the felt window, or less
// where the heart would stray further than kStepRampStray. A curvature step
// of k ramped evenly over 2r bends the heart away from the loaded path by
// k r^2 / 6 past the ramp, k r^2 / 12 either way where the fit splits it.
double StepRampReach(const CurveStep& step);

// The curvature steps `steps` across which the heart's curvature is asked to
// ramp: where every segment of `fit` reaching into the ramp is shorter than
// kStepRampSegment times its width. A cubic's curvature runs straight along
// a longer segment, which cannot bend into the ramp and back: there the fit
// only gives up the heart's place for it (asked to ramp across such
// segments, random case_048 and case_151 at their own counts, 28 and 15
// segments of 14 and 19 m, were refused with hearts 2.0 and 2.7 cm astray),
// and a vertex on the step keeps the jump (see AlignCurveSteps).
std::vector<CurveStep> StepRamps(std::vector<CurveStep> steps, const RailFit& fit);

// A few Levenberg-Marquardt steps over every control point, with the heart
// computed exactly as the ride profile computes it: the heart held on the
// loaded path and its curvature continuous across the joins.
void FinishFit(const PathWalk& walk, const std::vector<PathSample>& samples, double spacing,
               double heartline, RailFit& fit);

}  // namespace cvqrn::smooth
