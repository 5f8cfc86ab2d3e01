#include "heartline/settings.h"

#include <cmath>
#include <string>

#include "text/format.h"

namespace cvqrn {

namespace {

// What a run counts on top of its samples: segments + filter + 3.
constexpr int32_t kFixedSteps = 3;

Result AtLeast(const char* name, int32_t least, int32_t value) {
    return Failure(Status::InvalidSettings, std::string(name) + " must be at least " +
                                                std::to_string(least) + "; it is " +
                                                FormatCount(value) + ".");
}

Result NotFinite(const char* what, double value) {
    return Failure(
        Status::InvalidSettings,
        std::string("The ") + what + " must be a finite number; it is " + FormatFixed(value) + ".");
}

}  // namespace

int32_t ProgressStepCount(const HeartlineSettings& settings) {
    const int32_t n = int32_t{settings.segments} * settings.precision;
    return 2 * n + settings.segments + settings.filter + kFixedSteps;
}

int32_t MaxSegments(int16_t precision, int16_t filter) {
    // 2 N + segments + filter + 3 <= 32767 with N = segments x precision; this
    // also keeps N itself within 16 bits.
    return (kMaxRunCount - kFixedSteps - filter) / (2 * int32_t{precision} + 1);
}

Result CheckHeartlineSettings(const HeartlineSettings& settings) {
    if (settings.segments < kLeastSegments) {
        return AtLeast("Segments", kLeastSegments, settings.segments);
    }
    if (settings.precision < kLeastPrecision) {
        return AtLeast("Precision", kLeastPrecision, settings.precision);
    }
    if (settings.filter < kLeastFilter) return AtLeast("Filter", kLeastFilter, settings.filter);
    const int32_t most = MaxSegments(settings.precision, settings.filter);
    if (settings.segments > most) {
        const std::string at = "At precision " + FormatCount(settings.precision) + " and filter " +
                               FormatCount(settings.filter) + " the new track ";
        return Failure(
            Status::InvalidSettings,
            most < 1 ? at + "cannot have even one segment; lower the precision or the filter."
                     : at + "can have at most " + FormatCount(most) + " segments; it has " +
                           FormatCount(settings.segments) + ".",
            "The run would count " + FormatCount(ProgressStepCount(settings)) +
                " progress steps (twice the samples plus segments plus filter plus 3); at most " +
                FormatCount(kMaxRunCount) + " fit in 16 bits.");
    }
    if (!std::isfinite(settings.heartline)) return NotFinite("heartline distance", settings.heartline);
    if (!std::isfinite(settings.startspeed)) return NotFinite("start speed", settings.startspeed);
    if (!std::isfinite(settings.endspeed)) return NotFinite("end speed", settings.endspeed);
    return {};
}

}  // namespace cvqrn
