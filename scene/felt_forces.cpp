#include "scene/felt_forces.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace cvqrn::scene {

namespace {

// Prefix sums of the finite values of one force and of how many there are,
// so that the mean over any run of samples takes two look-ups.
struct Prefix {
    std::vector<double> sum{0.0};
    std::vector<double> count{0.0};

    explicit Prefix(const std::vector<ProfileSample>& samples, double ProfileSample::*field) {
        sum.reserve(samples.size() + 1);
        count.reserve(samples.size() + 1);
        for (const ProfileSample& s : samples) {
            const double v = s.*field;
            const bool finite = std::isfinite(v) && !s.verticalTrack;
            sum.push_back(sum.back() + (finite ? v : 0.0));
            count.push_back(count.back() + (finite ? 1.0 : 0.0));
        }
    }
    double Mean(size_t from, size_t to) const {  // samples [from, to)
        const double n = count[to] - count[from];
        return n > 0.0 ? (sum[to] - sum[from]) / n : std::numeric_limits<double>::quiet_NaN();
    }
};

}  // namespace

FeltForces FeltForcesOf(const RideProfile& profile) {
    const std::vector<ProfileSample>& samples = profile.samples;
    const Prefix vertical(samples, &ProfileSample::vertical);
    const Prefix lateral(samples, &ProfileSample::lateral);
    const Prefix longitudinal(samples, &ProfileSample::longitudinal);
    FeltForces felt;
    felt.vertical.reserve(samples.size());
    felt.lateral.reserve(samples.size());
    felt.longitudinal.reserve(samples.size());
    const auto before = [&](double d) {
        return static_cast<size_t>(
            std::lower_bound(samples.begin(), samples.end(), d,
                             [](const ProfileSample& s, double x) { return s.distance < x; }) -
            samples.begin());
    };
    const auto after = [&](double d) {
        return static_cast<size_t>(
            std::upper_bound(samples.begin(), samples.end(), d,
                             [](double x, const ProfileSample& s) { return x < s.distance; }) -
            samples.begin());
    };
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    for (const ProfileSample& s : samples) {
        // A sample the train does not reach, or a vertical one, feels nothing.
        if (!s.reached() || s.verticalTrack || !std::isfinite(s.vertical)) {
            felt.vertical.push_back(kNaN);
            felt.lateral.push_back(kNaN);
            felt.longitudinal.push_back(kNaN);
            continue;
        }
        const double half = 0.5 * kFeltWindowSeconds * s.speed;
        const size_t from = before(s.distance - half);
        const size_t to = after(s.distance + half);
        felt.vertical.push_back(vertical.Mean(from, to));
        felt.lateral.push_back(lateral.Mean(from, to));
        felt.longitudinal.push_back(longitudinal.Mean(from, to));
    }
    return felt;
}

}  // namespace cvqrn::scene
