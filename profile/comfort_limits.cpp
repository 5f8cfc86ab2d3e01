#include "profile/comfort_limits.h"

#include <algorithm>
#include <cmath>

namespace cvqrn {

namespace {

struct Limit {
    ForceAxis axis;
    double value;
    double ProfileSample::*raw;
    double ProfileSample::*felt;
};

constexpr Limit kLimits[] = {
    {ForceAxis::Vertical, kVerticalLimitUp, &ProfileSample::vertical, &ProfileSample::feltVertical},
    {ForceAxis::Vertical, kVerticalLimitDown, &ProfileSample::vertical,
     &ProfileSample::feltVertical},
    {ForceAxis::Lateral, kLateralLimit, &ProfileSample::lateral, &ProfileSample::feltLateral},
    {ForceAxis::Lateral, -kLateralLimit, &ProfileSample::lateral, &ProfileSample::feltLateral},
};

// How far `value` lies beyond `limit`, positive when beyond: an upper limit
// (above zero) is passed upwards, a lower one downwards.
double Beyond(double value, double limit) {
    return limit > 0.0 ? value - limit : limit - value;
}

// The distance and time where the force crosses the limit between samples a
// (inside) and b (beyond); at b when a has no force.
struct Crossing {
    double distance;
    double time;
};

Crossing Cross(const std::vector<ProfileSample>& samples, const std::vector<double>& times,
               double ProfileSample::*field, double limit, size_t a, size_t b) {
    const double inside = samples[a].*field;
    const double outside = samples[b].*field;
    if (!std::isfinite(inside)) return {samples[b].distance, times[b]};
    const double f = std::clamp((limit - inside) / (outside - inside), 0.0, 1.0);
    return {samples[a].distance + f * (samples[b].distance - samples[a].distance),
            times[a] + f * (times[b] - times[a])};
}

}  // namespace

std::vector<Exceedance> FindExceedances(const RideProfile& profile,
                                        const std::vector<double>& times, bool felt) {
    const std::vector<ProfileSample>& samples = profile.samples;
    std::vector<Exceedance> found;
    if (times.size() != samples.size()) return found;
    for (const Limit& limit : kLimits) {
        double ProfileSample::*const field = felt ? limit.felt : limit.raw;
        const auto beyond = [&](size_t k) {
            return k < samples.size() && Beyond(samples[k].*field, limit.value) > 0.0;
        };
        for (size_t k = 0; k < samples.size(); ++k) {
            if (!beyond(k)) continue;
            Exceedance e;
            e.axis = limit.axis;
            e.limit = limit.value;
            const Crossing start = k > 0 ? Cross(samples, times, field, limit.value, k - 1, k)
                                         : Crossing{samples[k].distance, times[k]};
            size_t peak = k;
            size_t last = k;
            for (; beyond(last + 1); ++last) {
                if (Beyond(samples[last + 1].*field, limit.value) >
                    Beyond(samples[peak].*field, limit.value)) {
                    peak = last + 1;
                }
            }
            const Crossing end = last + 1 < samples.size()
                                     ? Cross(samples, times, field, limit.value, last + 1, last)
                                     : Crossing{samples[last].distance, times[last]};
            e.startDistance = start.distance;
            e.endDistance = end.distance;
            e.duration = end.time - start.time;
            e.peak = samples[peak].*field;
            e.peakDistance = samples[peak].distance;
            e.peakSegment = samples[peak].segment;
            found.push_back(e);
            k = last;
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Exceedance& a, const Exceedance& b) {
        return a.startDistance < b.startDistance;
    });
    return found;
}

}  // namespace cvqrn
