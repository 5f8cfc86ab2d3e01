// The input track's own banking and its blend with the felt direction.
//
// Each segment's banking mode (the first of its 24-bit values) decides how
// much of the interpolated input roll (heartline/sampling.h) and how much of
// the felt direction the new track takes at each sample; its second value the
// smoothing passes its samples ask for.
#pragma once

#include <cstdint>

#include "vec3/vec3.h"
#include "heartline/heartline_run.h"
#include "model/track_record.h"

namespace cvqrn {

// Banking modes of a segment.
inline constexpr int32_t kBankingKeepInput = 0;         // input roll only
inline constexpr int32_t kBankingFeltToInput = 0xFF;    // felt at the start, input at the end
inline constexpr int32_t kBankingInputToFelt = 0xFF00;  // input at the start, felt at the end

// The banking attributes of one input segment.
struct SegmentBanking {
    int32_t mode = kBankingKeepInput;  // banking mode
    int16_t passes = 0;                // pass count recorded for its samples
};

// The attributes of input segment i. A segment beyond the track's segment
// list has the attributes of an all-zero entry: keep the input banking, no
// extra passes.
SegmentBanking BankingOfSegment(const TrackData& track, int i);

// Sample j at step parameter t with input roll `roll` (EasedRoll): the roll
// gives RollDown[j]; blended with `feltDown` by the segment's mode and freed
// of its component along `tangent` (the unnormalised tangent T), it gives
// SampleDown[j]. Records PassCount[j]. Reads SampleTangent[j] and LevelDown[j].
void BlendBanking(HeartlineRun& run, const SegmentBanking& banking, int j, double t,
                  double roll, const Vec3& feltDown, const Vec3& tangent);

}  // namespace cvqrn
