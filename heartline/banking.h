// The input track's own banking: what a segment's attributes ask of the run.
//
// Each segment's banking mode (the first of its 24-bit values) decides how
// much of the interpolated input roll (heartline/sampling.h) and how much of
// the felt direction the new track takes at each sample; its second value the
// smoothing passes its samples ask for. The sample builder, the tests and
// the run read these values from here.
#pragma once

#include <cstdint>

#include "model/track_record.h"

namespace cvqrn {

// Banking modes of a segment.
inline constexpr int32_t kBankingKeepInput = 0;         // input roll only
inline constexpr int32_t kBankingFeltToInput = 0xFF;    // felt at the start, input at the end
inline constexpr int32_t kBankingInputToFelt = 0xFF00;  // input at the start, felt at the end
inline constexpr int32_t kBankingFelt = 0xFFFF;         // felt only, as is any other value

// A segment's pass count below this is taken as it is; this or more asks for
// a count derived from the train's speed.
inline constexpr int32_t kLeastSpeedDerivedPassCount = 256;
// The pass count a segment gives to ask for one derived from the speed.
inline constexpr int32_t kPassesFromSpeed = 0xFFFF;
// A sample's pass count that is still to be derived from the speed, as the
// run records it.
inline constexpr int16_t kSpeedDerivedPasses = 9999;

// The banking attributes of one input segment.
struct SegmentBanking {
    int32_t mode = kBankingKeepInput;  // banking mode
    int16_t passes = 0;                // pass count recorded for its samples
};

// The attributes of input segment i. A segment beyond the track's segment
// list has the attributes of an all-zero entry: keep the input banking, no
// extra passes.
SegmentBanking BankingOfSegment(const TrackData& track, int i);

}  // namespace cvqrn
