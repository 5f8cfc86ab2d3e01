// Heartline generation: rebuilds a track so that its rail lies `heartline`
// metres from the loaded path (taken as the path of the riders' hearts), on
// the side the riders are pressed towards, with blended and smoothed banking,
// refitted as `segments` cubic Bezier segments.
#pragma once

#include <cstdint>
#include <string>

#include "heartline/settings.h"
#include "model/track_record.h"
#include "text/result.h"

namespace cvqrn {

// Receives the run's progress: `progress` steps of `Total` done. The run reads
// nothing back and neither count is changed by the receiver.
class ProgressFeedback {
  public:
    virtual ~ProgressFeedback() = default;
    virtual void feedback(const int32_t& progress, const int32_t& Total) = 0;
};

// The message the user sees for a run that failed during generation.
inline constexpr const char* kHeartlineFailureText =
    "Something went wrong! The train probably valleyed. Check the speed settings.";

// A run: Ok, or why it stopped. The status is one of
//   InvalidSettings  settings the run cannot take (CheckHeartlineSettings); nothing was done
//   UnusableTrack    a track the run cannot take: too few vertices, no length, a count
//                    that disagrees with its array, a coordinate or roll that is not finite
//   Valleyed         the energy line fell below the train somewhere
//   EqualSpeeds      every sample at one speed while a speed-derived pass count was needed
//   NumericalBlowUp  the run's numbers left the finite range (pass counts, fits, new vertices)
//   OutOfMemory      the run could not be completed; nothing was changed
// The message says where and why the run stopped (e.g. the sample, arc length
// and heights of a valley), or for InvalidSettings the refusal in the user's
// terms, with the internal figure behind it as the detail.
struct HeartlineResult : Result {
    int16_t filter = 0;     // smoothing passes used: the setting, raised when a segment asked
                            // for more (valid from the pass counts on)
    double lengthIn = 0.0;  // arc length of the input track
    double minSpeed = 0.0;  // m/s over all samples (valid after sampling)
    double maxSpeed = 0.0;
};

// Runs the generation on `track`, which it rewrites only when every stage
// succeeded (Bezr replaced, Segm resized to `settings.segments` entries, or
// fewer where the smooth rebuild left part of that budget unused, RASC
// emptied). `progress` may be null. InvalidSettings when
// CheckHeartlineSettings objects; UnusableTrack when the track has fewer than
// two vertices, a vertex count larger than its list, no length or a
// coordinate or roll that is not finite. Running out of memory is a result
// (OutOfMemory); any other exception (from `progress`, or a fault) passes
// through.
HeartlineResult GenerateHeartline(TrackData& track, const HeartlineSettings& settings,
                                  ProgressFeedback* progress);

}  // namespace cvqrn
