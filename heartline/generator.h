// Heartline generation: rebuilds a track so that its rail lies `heartline`
// metres from the loaded path (taken as the path of the riders' hearts), on
// the side the riders are pressed towards, with blended and smoothed banking,
// refitted as `segments` cubic Bezier segments.
#pragma once

#include <cstdint>
#include <string>

#include "trackfile/track_record.h"

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
inline constexpr const char* kHeartlineFailureTitle = "Horrible!";

enum class HeartlineStatus {
    Ok,
    Refused,      // parameters or track the run cannot take; nothing was done
    Valleyed,     // the energy line fell below the train somewhere
    EqualSpeeds,  // every sample at one speed while a speed-derived pass count was needed
    NonFinite,    // the new track would hold a NaN or infinite coordinate or roll
};

struct HeartlineResult {
    HeartlineStatus status = HeartlineStatus::Refused;
    // Refused: a complete sentence naming the value that is wrong.
    // Other failures: where and why the run stopped (the detail shown with
    // kHeartlineFailureText), e.g. the sample, arc length and heights of a valley.
    std::string detail;
    double lengthIn = 0.0;  // arc length of the input track
    double minSpeed = 0.0;  // m/s over all samples (valid after sampling)
    double maxSpeed = 0.0;
    explicit operator bool() const { return status == HeartlineStatus::Ok; }
};

// The window's defaults for the six parameters.
inline constexpr int16_t kDefaultSegments = 100;
inline constexpr int16_t kDefaultPrecision = 6;
inline constexpr double kDefaultHeartline = 1.04;
inline constexpr double kDefaultStartSpeed = 14.3;
inline constexpr double kDefaultEndSpeed = 12.9;
inline constexpr int16_t kDefaultFilter = 15;

// Checks the six parameters alone, before any track is looked at. Returns an
// empty string when a run can take them, otherwise the sentence that says
// which value is wrong (segments or precision below 1, filter below 0, more
// than 32767 samples or progress steps, a distance or speed that is not finite).
std::string CheckHeartlineParameters(int16_t segments, int16_t precision, double heartline,
                                     double startspeed, double endspeed, int16_t filter);

// Runs the generation on `track`, which it rewrites only when every stage
// succeeded (Bezr replaced, Segm resized to `segments` entries, RASC emptied).
//   segments    number of segments of the new track (>= 1)
//   precision   samples per new segment; each fit uses precision + 1 points (>= 1)
//   heartline   distance from the heart path to the rail, metres; negative puts
//               the rail on the other side
//   startspeed  train speed at the first vertex, m/s
//   endspeed    train speed at the last vertex, m/s
//   filter      smoothing passes; raised (and written back) when a segment asks for more
//   progress    may be null
// Refused (track untouched, filter unchanged) when CheckHeartlineParameters
// objects or the track has fewer than two vertices or no length. Never throws.
HeartlineResult GenerateHeartline(TrackData& track, int16_t segments, int16_t precision,
                                  double heartline, double startspeed, double endspeed,
                                  int16_t& filter, ProgressFeedback* progress);

}  // namespace cvqrn
