// The input track's own banking and its blend with the felt direction.
//
// The vertex rolls are interpolated along each input segment; each segment's
// banking mode (the first of its 24-bit values) decides how much of that roll
// and how much of the felt direction the new track takes at each sample.
#pragma once

#include <cmath>
#include <cstdint>

#include "geometry/vector3.h"
#include "heartline/heartline_run.h"
#include "trackfile/track_record.h"

namespace cvqrn {

// Banking modes of a segment.
inline constexpr int32_t kBankingKeepInput = 0;         // input roll only
inline constexpr int32_t kBankingFeltToInput = 0xFF;    // felt at the start, input at the end
inline constexpr int32_t kBankingInputToFelt = 0xFF00;  // input at the start, felt at the end

// Roll state carried along the walk, radians.
struct RollState {
    double RollCur = 0.0;    // absolute roll at the start vertex of the current segment
    double DeltaPrev = 0.0;  // wrapped roll change of the previous segment
    // Of the current segment:
    double RollNext = 0.0;             // absolute roll at its end vertex
    double Delta = 0.0;                // wrapped roll change over it
    double SumPrev = 0.0;              // Delta + the previous segment's change
    double SumNext = 0.0;              // Delta + the next segment's change
    double ContStart = 0.0;            // 1 when the start vertex keeps its roll rate, else 0
    double ContEnd = 0.0;              // -1 when the end vertex keeps its roll rate, else 0
    int32_t mode = kBankingKeepInput;  // banking mode
    int16_t passes = 0;                // pass count recorded for its samples
};

// x brought into -pi..pi by one correction of 2 pi at most.
double WrapAngle(double x);

// The roll state before the first segment: the first vertex's roll as stored.
RollState StartRolls(const TrackData& track);

// Prepares the roll interpolation and the attributes of input segment i.
void BeginRollSegment(RollState& state, const TrackData& track, int i);

// The input roll at step parameter t of the current segment, before wrapping:
// eased from RollCur to RollCur + Delta; the sine terms keep a roll rate
// through vertices that ask for it and vanish at both ends. `Number` is double
// for the run; a type with derivatives gives the roll's rate of change too.
template <typename Number>
Number EasedRoll(const RollState& state, const Number& t) {
    using std::cos;
    using std::pow;
    using std::sin;
    return state.RollCur + state.Delta * (1.0 - cos(kPi * t)) / 2.0 +
           2.0 * state.ContStart * sin(kPi * pow(1.0 - t, 2.0)) * state.SumPrev / 27.0 +
           2.0 * state.ContEnd * sin(kPi * pow(t, 2.0)) * state.SumNext / 27.0;
}

// Sample j at step parameter t: the interpolated input roll gives RollDown[j];
// blended with `feltDown` by the segment's mode and freed of its component
// along `tangent` (the unnormalised tangent T), it gives SampleDown[j].
// Records PassCount[j]. Reads SampleTangent[j] and LevelDown[j].
void BlendBanking(HeartlineRun& run, const RollState& state, int j, double t, const Vec3& feltDown,
                  const Vec3& tangent);

// Moves the roll state to the start of segment i + 1.
void AdvanceRoll(RollState& state, const TrackData& track, int i);

}  // namespace cvqrn
