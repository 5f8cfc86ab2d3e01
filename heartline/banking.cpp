#include "heartline/banking.h"

#include <algorithm>
#include <cmath>

namespace cvqrn {

namespace {

const TrackSegment& SegmentAttributes(const TrackData& track, int i) {
    // A segment without an entry of its own takes the attributes of a new,
    // all-zero entry: keep the input banking, one smoothing pass.
    static const TrackSegment kNoEntry{};
    const auto& list = track.Segm.Segments;
    return static_cast<size_t>(i) < list.size() ? list[static_cast<size_t>(i)] : kNoEntry;
}

}  // namespace

double WrapAngle(double x) {
    if (x > kPi) return x - kTwoPi;
    if (x < -kPi) return x + kTwoPi;
    return x;
}

RollState StartRolls(const TrackData& track) {
    RollState state;
    state.RollCur = static_cast<double>(track.Bezr.Vertices[0].Roll);
    return state;
}

void BeginRollSegment(RollState& state, const TrackData& track, int i) {
    const auto& vertices = track.Bezr.Vertices;
    const int count = track.Bezr.VertexCount;
    int next = i + 1;
    if (next == count) next = 0;
    int next2 = next + 1;
    if (next2 == count) next2 = 0;
    const TrackVertex& vNext = vertices[static_cast<size_t>(next)];
    const TrackVertex& vNext2 = vertices[static_cast<size_t>(next2)];

    state.RollNext = static_cast<double>(vNext.Roll);
    if (vNext.RelativeRoll) state.RollNext += state.RollCur;
    double rollNext2 = static_cast<double>(vNext2.Roll);
    if (vNext2.RelativeRoll) rollNext2 += state.RollNext;

    state.Delta = WrapAngle(state.RollNext - state.RollCur);
    const double deltaNext = WrapAngle(rollNext2 - state.RollNext);
    state.SumPrev = state.Delta + state.DeltaPrev;
    state.SumNext = state.Delta + deltaNext;
    state.DeltaPrev = state.Delta;
    state.ContStart = vertices[static_cast<size_t>(i)].FlagA ? 1.0 : 0.0;
    state.ContEnd = vNext.FlagA ? -1.0 : 0.0;

    const TrackSegment& attributes = SegmentAttributes(track, i);
    state.mode = attributes.Val24[0];
    const int32_t passes = attributes.Val24[1];
    state.passes = passes < 256 ? static_cast<int16_t>(std::max<int32_t>(passes, INT16_MIN))
                                : kSpeedDerivedPasses;
}

void BlendBanking(HeartlineRun& run, const RollState& state, int j, double t, const Vec3& feltDown,
                  const Vec3& tangent) {
    const size_t s = static_cast<size_t>(j);
    const double roll = WrapAngle(EasedRoll(state, t));

    const Vec3 side = lsf_Vnormalize(lsf_Vcross(run.SampleTangent[s], run.LevelDown[s]));
    run.RollDown[s] = lsf_Vnormalize(
        lsf_Vadd(lsf_Vscale(side, -std::sin(roll)), lsf_Vscale(run.LevelDown[s], std::cos(roll))));

    double weightRoll = 0.0;
    double weightFelt = 1.0;
    if (state.mode == kBankingKeepInput) {
        weightRoll = 1.0;
        weightFelt = 0.0;
    } else if (state.mode == kBankingFeltToInput) {
        weightRoll = t;
        weightFelt = 1.0 - t;
    } else if (state.mode == kBankingInputToFelt) {
        weightRoll = 1.0 - t;
        weightFelt = t;
    }
    const Vec3 blend = lsf_Vnormalize(
        lsf_Vadd(lsf_Vscale(feltDown, weightFelt), lsf_Vscale(run.RollDown[s], weightRoll)));
    run.SampleDown[s] = lsf_Vnormalize(lsf_Vcross(tangent, lsf_Vcross(blend, tangent)));
    run.PassCount[s] = state.passes;
}

void AdvanceRoll(RollState& state, const TrackData& track, int i) {
    int next = i + 1;
    if (next == track.Bezr.VertexCount) next = 0;
    const TrackVertex& vNext = track.Bezr.Vertices[static_cast<size_t>(next)];
    if (vNext.RelativeRoll) {
        state.RollCur = WrapAngle(state.RollNext);
    } else {
        state.RollCur = static_cast<double>(vNext.Roll);
    }
}

}  // namespace cvqrn
