// The six settings of one heartline run, their defaults and their check.
// The core, the command-line tool and the window all take them from here.
#pragma once

#include <cstdint>

#include "text/result.h"

namespace cvqrn {

// Defaults are the values the window's fields and the CLI's options start from.
struct HeartlineSettings {
    int16_t segments = 100;    // segments of the new track
    int16_t precision = 6;     // samples per new segment; each fit uses precision + 1 points
    double heartline = 1.04;   // metres from the heart path to the rail; negative: other side
    double startspeed = 14.3;  // train speed at the first vertex, m/s
    double endspeed = 12.9;    // train speed at the last vertex, m/s
    int16_t filter = 15;       // smoothing passes (a segment may ask for more)
    // The smooth rebuild: the heart held on the loaded path with a smooth
    // roll and curvature-continuous heart path (heartline/smooth_rebuild.h).
    // Off: the default rebuild, whose bytes stay as they always were.
    bool smooth = false;
};

// The least value of each whole-number setting a run takes.
inline constexpr int16_t kLeastSegments = 1;
inline constexpr int16_t kLeastPrecision = 1;
inline constexpr int16_t kLeastFilter = 0;

// Sample indices and progress counts of a run are 16-bit.
inline constexpr int32_t kMaxRunCount = 32767;

// The progress steps a run with `settings` counts: 2 N + segments + filter + 3.
int32_t ProgressStepCount(const HeartlineSettings& settings);

// The most segments a run with this precision and filter can make (0 when not
// even one fits); both must already be in range (precision >= 1, filter >= 0).
int32_t MaxSegments(int16_t precision, int16_t filter);

// Ok when a run can take `settings`; otherwise InvalidSettings: segments,
// precision or filter below its least value, more segments than MaxSegments allows,
// a distance or speed that is not a finite number. The message says which
// value, its range and what it is; the detail gives the internal figure
// behind it, or nothing.
Result CheckHeartlineSettings(const HeartlineSettings& settings);

}  // namespace cvqrn
