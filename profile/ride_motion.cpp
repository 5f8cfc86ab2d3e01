#include "profile/ride_motion.h"

#include <cmath>
#include <limits>

namespace cvqrn {

namespace {

// A time or roll rate the ride does not reach.
constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();
constexpr double kHalfTurn = 3.14159265358979323846;  // radians

// b - a in radians, taken the short way round.
double RollChange(double a, double b) {
    return std::remainder(b - a, 2.0 * kHalfTurn);
}

}  // namespace

std::vector<double> RideTimes(const RideProfile& profile) {
    const std::vector<ProfileSample>& samples = profile.samples;
    std::vector<double> times(samples.size(), kUnknown);
    if (samples.empty() || !samples[0].reached()) return times;
    times[0] = 0.0;
    for (size_t k = 1; k < samples.size(); ++k) {
        const double mean = 0.5 * (samples[k - 1].speed + samples[k].speed);
        // An unreached sample's NaN speed fails this test as well.
        if (!(mean > 0.0)) break;
        times[k] = times[k - 1] + (samples[k].distance - samples[k - 1].distance) / mean;
    }
    return times;
}

std::vector<double> RollRates(const RideProfile& profile, const std::vector<double>& times) {
    const std::vector<ProfileSample>& samples = profile.samples;
    std::vector<double> rates(samples.size(), kUnknown);
    const auto usable = [&](size_t k) {
        return k < samples.size() && k < times.size() && std::isfinite(samples[k].roll) &&
               std::isfinite(times[k]);
    };
    for (size_t k = 0; k < samples.size(); ++k) {
        if (!usable(k)) continue;
        const size_t before = k > 0 && usable(k - 1) ? k - 1 : k;
        const size_t after = usable(k + 1) ? k + 1 : k;
        if (before == after) continue;
        const double time = times[after] - times[before];
        if (!(time > 0.0)) continue;
        rates[k] = RollChange(samples[before].roll, samples[after].roll) / time * (180.0 / kHalfTurn);
    }
    return rates;
}

}  // namespace cvqrn
