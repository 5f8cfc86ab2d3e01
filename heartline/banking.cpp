#include "heartline/banking.h"

#include <algorithm>
#include <cmath>

#include "geometry/frame.h"
#include "heartline/heartline_run.h"

namespace cvqrn {

SegmentBanking BankingOfSegment(const TrackData& track, int i) {
    const auto& list = track.Segm.Segments;
    const auto at = AsIndex(i);
    if (at >= list.size()) return SegmentBanking{};
    const TrackSegment& attributes = list[at];
    SegmentBanking banking;
    banking.mode = attributes.Val24[0];
    const int32_t passes = attributes.Val24[1];
    banking.passes = passes < kLeastSpeedDerivedPassCount
                         ? static_cast<int16_t>(std::max<int32_t>(passes, INT16_MIN))
                         : kSpeedDerivedPasses;
    return banking;
}

void BlendBanking(HeartlineRun& run, const SegmentBanking& banking, int j, double t,
                  double roll, const Vec3& feltDown, const Vec3& tangent) {
    const auto s = AsIndex(j);
    const Vec3 side = lsf_Vnormalize(lsf_Vcross(run.SampleTangent[s], run.LevelDown[s]));
    run.RollDown[s] = lsf_Vnormalize(
        lsf_Vadd(lsf_Vscale(side, -std::sin(roll)), lsf_Vscale(run.LevelDown[s], std::cos(roll))));

    double weightRoll = 0.0;
    double weightFelt = 1.0;
    if (banking.mode == kBankingKeepInput) {
        weightRoll = 1.0;
        weightFelt = 0.0;
    } else if (banking.mode == kBankingFeltToInput) {
        weightRoll = t;
        weightFelt = 1.0 - t;
    } else if (banking.mode == kBankingInputToFelt) {
        weightRoll = 1.0 - t;
        weightFelt = t;
    }
    const Vec3 blend = lsf_Vnormalize(
        lsf_Vadd(lsf_Vscale(feltDown, weightFelt), lsf_Vscale(run.RollDown[s], weightRoll)));
    run.SampleDown[s] = RemoveTangentPart(blend, tangent);
    run.PassCount[s] = banking.passes;
}

}  // namespace cvqrn
