// The new rail: every sample moved by the heartline distance along its down
// direction, cut into runs of precision + 1 points, one cubic Bezier curve
// fitted to each run, and the fitted curves turned into vertices whose rolls
// reproduce the down directions.
#include <string>

#include "fitting/bezier_fit.h"
#include "geometry/bezier.h"
#include "geometry/frame.h"
#include "heartline/heartline_run.h"
#include "heartline/track_check.h"

namespace cvqrn {

namespace {

// Direction from an end vertex's outer handle through the vertex (`outer`
// towards `pos`). A handle that sits on its vertex has no direction; the
// mirror of the inner handle (`pos` towards `inner`) stands in for it.
Vec3 OuterTangent(const Vec3& pos, const Vec3& outer, const Vec3& inner) {
    if (SamePoint(outer, pos)) return lsf_Vnormalize(lsf_Vsub(inner, pos));
    return lsf_Vnormalize(lsf_Vsub(pos, outer));
}

// The offset point of sample m: the rail position.
Vec3 OffsetPoint(const HeartlineRun& run, int m) {
    const size_t s = AsIndex(m);
    return lsf_Vadd(run.SamplePos[s], lsf_Vscale(run.SampleDown[s], run.Settings.heartline));
}

// Roll that turns the level down direction of sample m into its down direction,
// signed about the tangent.
float RollAt(const HeartlineRun& run, int m) {
    const size_t s = AsIndex(m);
    return static_cast<float>(SignedAngle(run.SampleDown[s], run.LevelDown[s], run.SampleTangent[s]));
}

}  // namespace

Result OffsetAndRefit(HeartlineRun& run, const TrackData& track) {
    const auto& input = track.Bezr.Vertices;
    const TrackVertex& first = input[0];
    const TrackVertex& last = LastVertex(track);
    const int precision = run.Settings.precision;
    const int segments = run.Settings.segments;
    auto& out = run.NewVertices;

    // Forward at the first point, backward at the last (the fitter's convention).
    Vec3 tanStart = OuterTangent(first.Pos, first.CtrlIn, first.CtrlOut);
    BezierCurve curve;
    for (int s = 0; s < segments; ++s) {
        const int k0 = precision * s;
        const int k = precision * (s + 1);
        for (int q = 0; q <= precision; ++q) {
            run.FitPoints[AsIndex(q)] = OffsetPoint(run, k0 + q);
            StepProgress(run);
        }
        Vec3 tanEnd;
        if (s == segments - 1) {
            tanEnd = OuterTangent(last.Pos, last.CtrlOut, last.CtrlIn);
        } else {
            // Central difference across the boundary, pointing backward.
            tanEnd = lsf_Vnormalize(lsf_Vsub(OffsetPoint(run, k - 1), OffsetPoint(run, k + 1)));
        }

        double err = 0.0;
        const FitResult fit = lsf_FitCurve(run.FitPoints, static_cast<int16_t>(precision + 1), err,
                                           tanStart, tanEnd, 1);
        if (fit.curves.empty()) {
            return Failure(Status::NumericalBlowUp,
                           "The fit of new segment " + std::to_string(s) + " returned no curve.");
        }
        curve = fit.curves[0];
        run.FitsRun = s + 1;

        TrackVertex& vertex = out[AsIndex(s)];
        vertex.Pos = curve.startPoint;
        vertex.CtrlOut = curve.startControl;
        out[AsIndex(s) + 1].CtrlIn = curve.endControl;

        // The frame at the new vertex follows the fitted curve.
        const Vec3 t0 = BezierTangent(curve, 0.0f);
        const size_t at = AsIndex(k0);
        run.LevelDown[at] = LevelDownAcross(t0);
        run.SampleTangent[at] = lsf_Vnormalize(t0);
        vertex.FlagA = true;
        vertex.Roll = RollAt(run, k0);

        // The next curve leaves along the line on which this one arrived.
        tanStart = lsf_Vscale(lsf_Vnormalize(tanEnd), -1.0);
    }

    // Close the list: the outer handles of both ends mirror their inner ones.
    TrackVertex& head = out[0];
    head.CtrlIn = lsf_Vadd(head.Pos, lsf_Vsub(head.Pos, head.CtrlOut));
    TrackVertex& tail = out[AsIndex(segments)];
    tail.Pos = curve.endPoint;
    tail.CtrlOut = lsf_Vadd(tail.Pos, lsf_Vsub(tail.Pos, tail.CtrlIn));
    tail.FlagA = true;
    tail.Roll = RollAt(run, run.N);

    for (int s = 0; s <= segments; ++s) {
        if (!IsFiniteVertex(out[AsIndex(s)])) {
            return Failure(Status::NumericalBlowUp,
                           "New vertex " + std::to_string(s) +
                               " would hold a coordinate or roll that is not a finite "
                               "number.");
        }
    }
    return {};
}

}  // namespace cvqrn
