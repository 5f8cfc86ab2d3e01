// Smoothing of the down directions along the track.
//
// Each sample takes a number of passes of a 1-2-3-2-1 kernel: the count its
// segment asks for, or one derived from the train's speed so that fast parts
// of the track are smoothed more than slow ones (a quarter of `filter` at the
// slowest sample, all of it at the fastest).
#include <algorithm>
#include <cmath>
#include <string>

#include "geometry/frame.h"
#include "heartline/heartline_run.h"
#include "text/format.h"

namespace cvqrn {

Result DecidePassCounts(HeartlineRun& run) {
    int16_t& filter = run.Filter;
    for (int j = 0; j <= run.N; ++j) {
        int16_t& count = run.PassCount[AsIndex(j)];
        if (count == kSpeedDerivedPasses) {
            if (run.MaxSpeed == run.MinSpeed) {
                return Failure(
                    Status::EqualSpeeds,
                    "Every sample has the same speed (" + FormatFixed(run.MinSpeed) +
                        " m/s), so the smoothing passes of sample " + std::to_string(j) +
                        " cannot be derived from the speed; give its segment a pass count "
                        "below " +
                        std::to_string(kLeastSpeedDerivedPassCount) +
                        " or use different start and end speeds.");
            }
            const double speed = run.SampleSpeed[AsIndex(j)];
            const double share = (speed - run.MinSpeed) / (run.MaxSpeed - run.MinSpeed);
            const double passes = std::nearbyint((share * 3.0 / 4.0 + 1.0 / 4.0) * filter);
            if (!(passes >= INT16_MIN && passes <= INT16_MAX)) {
                return Failure(Status::NumericalBlowUp, "The smoothing passes of sample " +
                                                            std::to_string(j) +
                                                            " cannot be derived from its speed (" +
                                                            FormatFixed(speed) + " m/s).");
            }
            count = static_cast<int16_t>(passes);
        }
        if (count > filter) filter = count;
    }
    return {};
}

void SmoothBanking(HeartlineRun& run) {
    const int16_t passTotal = run.Filter;
    const int last = run.N;
    auto& down = run.SampleDown;
    auto& scratch = run.SmoothScratch;
    for (int pass = 1; pass <= passTotal; ++pass) {
        for (int j = 0; j <= last; ++j) {
            // A sample takes part in the last PassCount + 1 passes.
            if (pass >= passTotal - run.PassCount[AsIndex(j)]) {
                const int jm2 = std::max(j - 2, 0);
                const int jm1 = std::max(j - 1, 0);
                const int jp1 = std::min(j + 1, last);
                const int jp2 = std::min(j + 2, last);
                Vec3 sum = lsf_Vadd(down[AsIndex(jm2)], down[AsIndex(jp2)]);
                sum = lsf_Vadd(sum, lsf_Vscale(down[AsIndex(jm1)], 2.0));
                sum = lsf_Vadd(sum, lsf_Vscale(down[AsIndex(jp1)], 2.0));
                sum = lsf_Vadd(sum, lsf_Vscale(down[AsIndex(j)], 3.0));
                sum = lsf_Vnormalize(sum);
                const Vec3& tangent = run.SampleTangent[AsIndex(j)];
                // Keep the direction across the track: remove its tangent part.
                scratch[AsIndex(j)] = RemoveTangentPart(sum, tangent);
            } else {
                scratch[AsIndex(j)] = down[AsIndex(j)];
            }
        }
        // Every pass reads only the previous pass's directions. Samples 0 to
        // N are copied back; the spare entry keeps the forced last sample.
        std::copy_n(scratch.begin(), last + 1, down.begin());
        run.PassesRun = pass;
        StepProgress(run);
    }
}

}  // namespace cvqrn
