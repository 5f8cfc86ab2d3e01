// Choosing and shaping the riders' up directions along the loaded path.
#include "heartline/smooth_up.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <deque>
#include <limits>
#include <optional>
#include <utility>

#include "heartline/sampling.h"
#include "heartline/smooth_tuning.h"
#include "portable_math/portable_math.h"

namespace cvqrn::smooth {

namespace {

// `from` turned about the unit tangent by `angle` (both across the tangent).
D3 Turn(const D3& from, const D3& tangent, double angle) {
    return portable::cos(angle) * from + portable::sin(angle) * Cross(tangent, from);
}

}  // namespace

void ChooseUpDirections(std::vector<PathSample>& samples) {
    D3 current;
    for (PathSample& sample : samples) {
        const D3& t = sample.tangent;
        D3 drawn = sample.drawnUp;
        if (Norm(drawn) == 0.0) drawn = Across(current, t);  // vertical: keep the way it was
        if (Norm(current) == 0.0) current = drawn;
        const double pressed = Dot(sample.feltAcross, current);
        const double share =
            sample.feltShare * SmoothStep((pressed - kAirtimeLow) / (kAirtimeHigh - kAirtimeLow));
        const D3 felt = Unit(sample.feltAcross);
        double angle = 0.0;
        if (Norm(felt) > 0.0) angle = portable::atan2(Dot(Cross(drawn, felt), t), Dot(drawn, felt));
        sample.up = Across(Turn(drawn, t, share * angle), t);
        if (Norm(sample.up) == 0.0) sample.up = drawn;
        current = sample.up;
    }
}

// ---- Stage 3: smoothing --------------------------------------------------

void SmoothUpDirections(std::vector<PathSample>& samples, int radius, bool byForce) {
    const size_t n = samples.size();
    if (radius < 1 || n < 3) return;
    const auto r = static_cast<size_t>(radius);
    std::vector<D3> up(n), prefix(n + 1);
    for (size_t j = 0; j < n; ++j) {
        const double weight =
            byForce ? std::max(Dot(samples[j].feltAcross, samples[j].up), 1.0) : 1.0;
        up[j] = weight * samples[j].up;
    }
    for (int pass = 0; pass < 3; ++pass) {
        for (size_t j = 0; j < n; ++j) prefix[j + 1] = prefix[j] + up[j];
        for (size_t j = 0; j < n; ++j) {
            const size_t lo = j > r ? j - r : 0;
            const size_t hi = std::min(n - 1, j + r);
            up[j] = (1.0 / static_cast<double>(hi - lo + 1)) * (prefix[hi + 1] - prefix[lo]);
        }
    }
    for (size_t j = 0; j < n; ++j) {
        const D3 across = Across(up[j], samples[j].tangent);
        if (Norm(across) > 0.0) samples[j].up = across;
    }
}

namespace {

// `values` eased by three running means over `r` samples to either side
// (fewer at the ends); nothing changes where r is 0.
void EaseByRunningMeans(std::vector<double>& values, size_t r) {
    const size_t n = values.size();
    if (r == 0 || n == 0) return;
    std::vector<double> prefix(n + 1, 0.0);
    for (int pass = 0; pass < 3; ++pass) {
        for (size_t j = 0; j < n; ++j) prefix[j + 1] = prefix[j] + values[j];
        for (size_t j = 0; j < n; ++j) {
            const size_t lo = j > r ? j - r : 0;
            const size_t hi = std::min(n - 1, j + r);
            values[j] = (prefix[hi + 1] - prefix[lo]) / static_cast<double>(hi - lo + 1);
        }
    }
}

}  // namespace

double LateralUnder(const PathSample& sample, const D3& up) {
    return Norm(up) > 0.0 ? Dot(sample.feltAcross, Cross(sample.tangent, up)) : 0.0;
}

namespace {

// The felt values of the lateral force `at(j)` over the samples lo..hi: each
// averaged over `window` seconds of travel centred on it, reaching no
// further than a window at the speed of sample hi beyond either end.
template <typename Lateral>
std::vector<double> FeltMeans(const std::vector<PathSample>& samples, double spacing, double window,
                              size_t lo, size_t hi, const Lateral& at) {
    const size_t n = samples.size();
    const auto far = static_cast<size_t>(std::ceil(window * samples[hi].speed / spacing));
    const size_t from = lo > far ? lo - far : 0, to = std::min(n - 1, hi + far);
    std::vector<double> sum(to - from + 2, 0.0);
    for (size_t j = from; j <= to; ++j) sum[j - from + 1] = sum[j - from] + at(j);
    std::vector<double> means(hi - lo + 1);
    for (size_t j = lo; j <= hi; ++j) {
        const auto half =
            static_cast<size_t>(std::nearbyint(0.5 * window * samples[j].speed / spacing));
        const size_t a = std::max(from, j > half ? j - half : 0);
        const size_t b = std::min(to, j + half);
        means[j - lo] = (sum[b - from + 1] - sum[a - from]) / static_cast<double>(b - a + 1);
    }
    return means;
}

// The largest felt lateral onset (g/s) over the samples lo..hi of the
// lateral force `at(j)`, its felt value averaged over `window` seconds.
template <typename Lateral>
double FeltLateralOnset(const std::vector<PathSample>& samples, double spacing, double window,
                        size_t lo, size_t hi, const Lateral& at) {
    const std::vector<double> means = FeltMeans(samples, spacing, window, lo, hi, at);
    double most = 0.0;
    for (size_t j = lo + 1; j <= hi; ++j) {
        most = std::max(most,
                        std::abs(means[j - lo] - means[j - lo - 1]) * samples[j].speed / spacing);
    }
    return most;
}

}  // namespace

double DrawnLateralOnset(const std::vector<PathSample>& samples, double spacing, double window) {
    if (samples.size() < 3 || !(spacing > 0.0)) return 0.0;
    return FeltLateralOnset(samples, spacing, window, 0, samples.size() - 1,
                            [&](size_t j) { return LateralUnder(samples[j], samples[j].drawnUp); });
}

namespace {

// The ups of `samples` led towards those of `weighted` by `share` of the
// lead at each sample. A lead banks the riders before the step, where the force may change on
// its own (a valley ending where the turn begins): turned sideways by the
// bank, that change can make the felt lateral force change faster than
// the drawn track's step ever does. So each stretch of lead is scaled
// back (by bisection) until its felt lateral onset stays within
// kLeadOnsetFactor x the drawn track's largest + kLeadOnsetMargin, or no
// higher than it is without the lead (the stretches before it as scaled).
// `drawnOnset` is that largest (see DrawnLateralOnset).
void LeadScaledToOnset(std::vector<PathSample>& samples, const std::vector<PathSample>& weighted,
                       const std::vector<double>& share, double spacing, double window,
                       double drawnOnset) {
    const size_t n = samples.size();
    // The up of sample j led by `by` times its share.
    const auto ledUp = [&](size_t j, double by) {
        const double w = by * share[j];
        const D3 up = Across((1.0 - w) * samples[j].up + w * weighted[j].up, samples[j].tangent);
        return Norm(up) > 0.0 ? up : samples[j].up;
    };
    const auto onsetOver = [&](size_t lo, size_t hi, const auto& at) {
        return FeltLateralOnset(samples, spacing, window, lo, hi, at);
    };
    std::vector<double> scale(n, 1.0);
    for (size_t lo = 0; lo < n;) {
        if (share[lo] == 0.0) {
            ++lo;
            continue;
        }
        size_t hi = lo;
        while (hi + 1 < n && share[hi + 1] > 0.0) ++hi;
        const auto onsetLed = [&](double by) {
            return onsetOver(lo, hi, [&](size_t j) {
                return LateralUnder(samples[j], ledUp(j, j >= lo && j <= hi ? by : scale[j]));
            });
        };
        const double bound =
            std::max(kLeadOnsetFactor * drawnOnset + kLeadOnsetMargin, onsetLed(0.0));
        double by = 1.0;
        if (onsetLed(by) > bound) {
            double low = 0.0;
            for (int round = 0; round < kLeadScaleRounds; ++round) {
                const double mid = 0.5 * (low + by);
                (onsetLed(mid) <= bound ? low : by) = mid;
            }
            by = low;
        }
        for (size_t j = lo; j <= hi; ++j) scale[j] = by;
        lo = hi + 1;
    }
    for (size_t j = 0; j < n; ++j) {
        if (share[j] > 0.0) samples[j].up = ledUp(j, scale[j]);
    }
}

}  // namespace

void LeadIntoLateralSteps(std::vector<PathSample>& samples, const std::vector<PathSample>& weighted,
                          double spacing, double window, int radius,
                          const std::vector<double>& steps, bool anywhere, double heartline,
                          double drawnOnset) {
    const size_t n = samples.size();
    if (n < 3 || !(spacing > 0.0) || weighted.size() != n || radius < 1) return;
    std::vector<double> lateral(n), sums(n + 1, 0.0), drawnSums(n + 1, 0.0);
    double drawnRaw = 0.0;
    for (size_t j = 0; j < n; ++j) {
        lateral[j] = LateralUnder(samples[j], samples[j].up);
        const double drawn = LateralUnder(samples[j], samples[j].drawnUp);
        drawnRaw = std::max(drawnRaw, std::abs(drawn));
        sums[j + 1] = sums[j] + lateral[j];
        drawnSums[j + 1] = drawnSums[j] + drawn;
    }
    double felt = 0.0, drawnFelt = 0.0;
    for (size_t j = 0; j < n; ++j) {
        const auto half =
            static_cast<size_t>(std::nearbyint(0.5 * window * samples[j].speed / spacing));
        const size_t lo = j > half ? j - half : 0, hi = std::min(n - 1, j + half);
        const auto count = static_cast<double>(hi - lo + 1);
        felt = std::max(felt, std::abs(sums[hi + 1] - sums[lo]) / count);
        drawnFelt = std::max(drawnFelt, std::abs(drawnSums[hi + 1] - drawnSums[lo]) / count);
    }
    // The largest felt lateral under the smoothed up over the samples lo..hi.
    const auto feltOver = [&](size_t lo, size_t hi) {
        double most = 0.0;
        for (size_t j = lo; j <= hi; ++j) {
            const auto half =
                static_cast<size_t>(std::nearbyint(0.5 * window * samples[j].speed / spacing));
            const size_t from = j > half ? j - half : 0, to = std::min(n - 1, j + half);
            most = std::max(
                most, std::abs(sums[to + 1] - sums[from]) / static_cast<double>(to - from + 1));
        }
        return most;
    };
    // The steps where the weighted up lowers the largest raw lateral within
    // a felt window of the step, with the share of the lead that keeps the
    // rail's swing within kStepRailMove.
    std::vector<std::pair<double, double>> leading;  // (arc length, share)
    if (!anywhere) {
        for (const double c : steps) {
            const auto k = static_cast<size_t>(
                std::clamp(std::nearbyint(c / spacing), 0.0, static_cast<double>(n - 1)));
            const auto win = static_cast<size_t>(std::ceil(window * samples[k].speed / spacing));
            double mine = 0.0, theirs = 0.0;
            for (size_t j = k > win ? k - win : 0; j <= std::min(n - 1, k + win); ++j) {
                mine = std::max(mine, std::abs(lateral[j]));
                theirs = std::max(theirs, std::abs(LateralUnder(weighted[j], weighted[j].up)));
            }
            const D3& a = samples[k].up;
            const D3& b = weighted[k].up;
            const double turn =
                std::abs(portable::atan2(Dot(Cross(a, b), samples[k].tangent), Dot(a, b)));
            if (!(theirs < mine - kStepGapMargin)) continue;
            const double move = std::abs(heartline) * turn;
            if (move < kStepRailMove) {
                leading.emplace_back(c, 1.0);
            } else if (feltOver(k > 2 * win ? k - 2 * win : 0, std::min(n - 1, k + 2 * win)) <
                       felt - kLeadFeltMargin) {
                leading.emplace_back(c, kStepRailMove / move);
            }
        }
    }
    // The largest share of the lead of the steps within a felt window of
    // sample j (0 where there is none).
    const auto nearStep = [&](size_t j) {
        const double within = window * samples[j].speed;
        double most = 0.0;
        for (const auto& [c, share] : leading) {
            if (std::abs(samples[j].s - c) <= within) most = std::max(most, share);
        }
        return most;
    };
    // The samples within the means' reach of one that stands out (counted
    // through a difference array).
    auto r = static_cast<size_t>(radius);
    std::vector<int> near(n + 1, 0);
    // Away from the rail, the share of the lead at each sample.
    std::vector<double> lead(anywhere ? 0 : n, 0.0);
    bool any = false;
    size_t widest = 1;
    for (size_t j = 0; j < n; ++j) {
        if (!(std::abs(lateral[j]) - felt > drawnRaw - drawnFelt + kStepGapMargin)) continue;
        size_t reach = 3 * r;
        if (!anywhere) {
            const double share = nearStep(j);
            if (!(share > 0.0)) continue;
            const auto win = static_cast<size_t>(std::ceil(window * samples[j].speed / spacing));
            reach = std::min(reach, win);
            widest = std::max(widest, win);
            for (size_t k = j > reach ? j - reach : 0; k <= std::min(n - 1, j + reach); ++k) {
                lead[k] = std::max(lead[k], share);
            }
        }
        ++near[j > reach ? j - reach : 0];
        --near[std::min(n - 1, j + reach) + 1];
        any = true;
    }
    if (!any) return;
    if (!anywhere) r = std::max<size_t>(1, std::min(r, widest / 3));
    std::vector<double> share(n, 0.0);
    int inside = 0;
    for (size_t j = 0; j < n; ++j) {
        inside += near[j];
        share[j] = inside > 0 ? (anywhere ? 1.0 : lead[j]) : 0.0;
    }
    EaseByRunningMeans(share, r);
    LeadScaledToOnset(samples, weighted, share, spacing, window, drawnOnset);
}

void EaseBankAtSteps(std::vector<PathSample>& samples, double spacing, double window,
                     const std::vector<double>& steps, double drawnOnset, bool holdFelt) {
    const size_t n = samples.size();
    if (n < 3 || !(spacing > 0.0) || steps.empty()) return;
    const double bound = kLeadOnsetFactor * drawnOnset;
    // The largest felt lateral (g) over the samples lo..hi under the up
    // `upAt(j)` (see FeltMeans).
    const auto largestFelt = [&](size_t lo, size_t hi, const auto& upAt) {
        double most = 0.0;
        for (const double felt : FeltMeans(samples, spacing, window, lo, hi, [&](size_t j) {
                 return LateralUnder(samples[j], upAt(j));
             })) {
            most = std::max(most, std::abs(felt));
        }
        return most;
    };
    const double felt =
        holdFelt ? largestFelt(0, n - 1, [&](size_t j) -> const D3& { return samples[j].up; }) +
                       kCapFeltMargin
                 : 0.0;
    for (const double c : steps) {
        const auto k = static_cast<size_t>(
            std::clamp(std::nearbyint(c / spacing), 0.0, static_cast<double>(n - 1)));
        const auto win = static_cast<size_t>(std::ceil(window * samples[k].speed / spacing));
        const size_t lo = k > 3 * win ? k - 3 * win : 0, hi = std::min(n - 1, k + 3 * win);
        std::vector<double> share(hi - lo + 1, 0.0);
        for (size_t j = lo; j <= hi; ++j) {
            if ((j > k ? j - k : k - j) <= win / 2) share[j - lo] = 1.0;
        }
        EaseByRunningMeans(share, std::max<size_t>(1, win / 2));
        // The up of sample j turned `by` times its share towards the drawn one.
        const auto turnedUp = [&](size_t j, double by) {
            if (j < lo || j > hi) return samples[j].up;
            const double w = by * share[j - lo];
            const D3 up =
                Across((1.0 - w) * samples[j].up + w * samples[j].drawnUp, samples[j].tangent);
            return Norm(up) > 0.0 ? up : samples[j].up;
        };
        const auto onsetTurned = [&](double by) {
            return FeltLateralOnset(samples, spacing, window, lo, hi, [&](size_t j) {
                return LateralUnder(samples[j], turnedUp(j, by));
            });
        };
        const double before = onsetTurned(0.0);
        const double whole = onsetTurned(1.0);
        if (!(before > bound) || !(whole < before)) continue;
        double by = 1.0;
        if (whole < bound) {
            double low = 0.0;
            for (int round = 0; round < kLeadScaleRounds; ++round) {
                const double mid = 0.5 * (low + by);
                (onsetTurned(mid) <= bound ? by : low) = mid;
            }
        }
        const auto feltTurned = [&](double part) {
            return largestFelt(lo, hi, [&](size_t j) { return turnedUp(j, part); });
        };
        if (holdFelt && feltTurned(by) > felt) {
            double low = 0.0;
            for (int round = 0; round < kLeadScaleRounds; ++round) {
                const double mid = 0.5 * (low + by);
                (feltTurned(mid) <= felt ? low : by) = mid;
            }
            by = low;
            if (!(onsetTurned(by) < before)) continue;
        }
        std::vector<D3> turned(hi - lo + 1);
        for (size_t j = lo; j <= hi; ++j) turned[j - lo] = turnedUp(j, by);
        for (size_t j = lo; j <= hi; ++j) samples[j].up = turned[j - lo];
    }
}

void LimitRollRate(std::vector<PathSample>& samples, double heartline, double curvatureError,
                   const std::vector<double>& longest, int easeRadius) {
    const size_t n = samples.size();
    if (n < 3 || !(std::abs(heartline) > 0.0)) return;
    std::vector<LevelFrame> frames(n);
    std::vector<char> framed(n, 0);
    std::vector<double> roll(n, 0.0), bound(n, std::numeric_limits<double>::infinity());
    bool limited = false;
    double previous = 0.0;
    for (size_t j = 0; j < n; ++j) {
        framed[j] = LevelFrameOf(samples[j].tangent, frames[j]) ? 1 : 0;
        const double raw = framed[j] ? RollOf(frames[j], samples[j].up) : previous;
        roll[j] = j > 0 ? roll[j - 1] + WrapAngle(raw - previous) : raw;
        previous = raw;
        const double v2 = samples[j].speed * samples[j].speed;
        if (framed[j] && Steepness(samples[j].tangent) == 0.0 && v2 > 0.0) {
            bound[j] = longest[j] * curvatureError * kGravity /
                       (kRollLengthFactor * std::abs(heartline) * v2);
        }
    }
    std::vector<double> forward = roll, backward = roll;
    for (size_t j = 1; j < n; ++j) {
        const double step = bound[j] * (samples[j].s - samples[j - 1].s);
        forward[j] = std::clamp(roll[j], forward[j - 1] - step, forward[j - 1] + step);
    }
    for (size_t j = n - 1; j-- > 0;) {
        const double step = bound[j] * (samples[j + 1].s - samples[j].s);
        backward[j] = std::clamp(roll[j], backward[j + 1] - step, backward[j + 1] + step);
    }
    std::vector<double> correction(n);
    for (size_t j = 0; j < n; ++j) {
        correction[j] = 0.5 * (forward[j] + backward[j]) - roll[j];
        if (correction[j] != 0.0) limited = true;
    }
    if (!limited) return;
    EaseByRunningMeans(correction, static_cast<size_t>(std::max(easeRadius, 0)));
    for (size_t j = 0; j < n; ++j) {
        if (framed[j] && correction[j] != 0.0) {
            samples[j].up = UpOf(frames[j], roll[j] + correction[j]);
        }
    }
}

namespace {

// The felt window around each sample, and the means of a summed series over
// it (sums[j] is the sum of the first j samples' values).
struct FeltWindows {
    const std::vector<PathSample>& samples;
    double spacing, window;
    // The first and last sample of the felt window around sample j.
    std::pair<size_t, size_t> Of(size_t j) const {
        const size_t n = samples.size();
        const auto half =
            static_cast<size_t>(std::nearbyint(0.5 * window * samples[j].speed / spacing));
        return {j > half ? j - half : 0, std::min(n - 1, j + half)};
    }
    // The mean over window w, and its absolute value.
    static double MeanOf(const std::vector<double>& summed, std::pair<size_t, size_t> w) {
        return (summed[w.second + 1] - summed[w.first]) /
               static_cast<double>(w.second - w.first + 1);
    }
    static double SizeOf(const std::vector<double>& summed, std::pair<size_t, size_t> w) {
        return std::abs(summed[w.second + 1] - summed[w.first]) /
               static_cast<double>(w.second - w.first + 1);
    }
};

// The running sums of `measure(sample, up)` under the drawn up and under the
// chosen one, so that their averages over a felt window are differences.
struct SummedUnderUps {
    std::vector<double> drawn, chosen;
};
template <typename Measure>
SummedUnderUps SumUnderUps(const std::vector<PathSample>& samples, const Measure& measure) {
    const size_t n = samples.size();
    SummedUnderUps sums{std::vector<double>(n + 1, 0.0), std::vector<double>(n + 1, 0.0)};
    for (size_t j = 0; j < n; ++j) {
        sums.drawn[j + 1] = sums.drawn[j] + measure(samples[j], samples[j].drawnUp);
        sums.chosen[j + 1] = sums.chosen[j] + measure(samples[j], samples[j].up);
    }
    return sums;
}

// The felt vertical force under an up (no force where there is no up).
double VerticalUnder(const PathSample& sample, const D3& up) {
    return Norm(up) > 0.0 ? Dot(sample.feltAcross, up) : 0.0;
}

// What the cap holds the chosen ups to: the drawn track's largest felt
// lateral less `below`, and its lowest felt vertical less
// kCapVerticalMargin; and per sample, the count of the windows around it
// whose chosen lateral or vertical the riders feel past those (none: the
// cap leaves the sample alone).
struct CapBounds {
    double largest = 0.0, lowest = 0.0;
    std::vector<int> over;
};
// The cap's bounds, or none where no window passes them.
std::optional<CapBounds> CapBoundsOf(const std::vector<PathSample>& samples,
                                     const FeltWindows& windows, double below) {
    const size_t n = samples.size();
    const SummedUnderUps lateral = SumUnderUps(samples, LateralUnder);
    const SummedUnderUps vertical = SumUnderUps(samples, VerticalUnder);
    CapBounds b;
    for (size_t j = 0; j < n; ++j) {
        b.largest = std::max(b.largest, FeltWindows::SizeOf(lateral.drawn, windows.Of(j)));
    }
    b.largest -= below;
    // The felt vertical signed: the drawn track's lowest is the floor.
    b.lowest = std::numeric_limits<double>::infinity();
    for (size_t j = 0; j < n; ++j) {
        b.lowest = std::min(b.lowest, FeltWindows::MeanOf(vertical.drawn, windows.Of(j)));
    }
    b.lowest -= kCapVerticalMargin;
    // Counted through a difference array.
    b.over.assign(n + 1, 0);
    bool passed = false;
    for (size_t j = 0; j < n; ++j) {
        const auto w = windows.Of(j);
        if (!(FeltWindows::SizeOf(lateral.chosen, w) > b.largest + kCapFeltMargin) &&
            !(FeltWindows::MeanOf(vertical.chosen, w) < b.lowest)) {
            continue;
        }
        ++b.over[w.first];
        --b.over[w.second + 1];
        passed = true;
    }
    if (!passed) return std::nullopt;
    for (size_t j = 1; j <= n; ++j) b.over[j] += b.over[j - 1];
    return b;
}

// The least turn (radians, about the tangent) that brings `up` at `sample`
// within the cap's bounds (none where `over`, its count of windows past
// them, is 0): the felt force's share across the up is
// |felt| x sin(angle between them), along it |felt| x cos(angle).
double CapTurnNeeded(const PathSample& sample, const D3& up, int over, const CapBounds& b) {
    const double felt = Norm(sample.feltAcross);
    // Riders the chosen up tips away from a force that presses them
    // into their seats on the drawn track are not in airtime.
    if (over == 0 ||
        (!(Dot(up, sample.feltAcross) > 0.0) && !(Dot(sample.drawnUp, sample.feltAcross) > 0.0))) {
        return 0.0;
    }
    const D3& t = sample.tangent;
    const double angle =
        portable::atan2(Dot(Cross(up, sample.feltAcross), t), Dot(up, sample.feltAcross));
    const double cosine = std::clamp(b.lowest / felt, -1.0, 1.0);
    double room = portable::atan2(std::sqrt(1.0 - cosine * cosine), cosine);
    if (felt > b.largest) {
        const double sine = b.largest / felt;
        room = std::min(room, portable::atan2(sine, std::sqrt(1.0 - sine * sine)));
    }
    const double excess = std::max(std::abs(angle) - room, 0.0);
    return angle < 0.0 ? -excess : excess;
}

// Each sample's turn widened to the largest (by size) within three times
// `r` samples, then eased by three running means of r, so that the eased
// turn still reaches the peak.
std::vector<double> WidenedAndEased(const std::vector<double>& turn, size_t r) {
    const size_t n = turn.size();
    std::vector<double> wide(n, 0.0);
    std::deque<size_t> falling;  // indices of falling |turn| within reach
    const size_t reach = 3 * r;
    for (size_t j = 0; j < n + reach; ++j) {
        if (j < n) {
            while (!falling.empty() && std::abs(turn[falling.back()]) <= std::abs(turn[j])) {
                falling.pop_back();
            }
            falling.push_back(j);
        }
        if (j < reach) continue;
        const size_t centre = j - reach;
        while (falling.front() + reach < centre) falling.pop_front();
        wide[centre] = turn[falling.front()];
    }
    EaseByRunningMeans(wide, r);
    return wide;
}

}  // namespace

void CapFeltLateral(std::vector<PathSample>& samples, double spacing, double window, int easeRadius,
                    double below) {
    const size_t n = samples.size();
    if (n < 3 || !(spacing > 0.0)) return;
    const std::optional<CapBounds> bounds =
        CapBoundsOf(samples, FeltWindows{samples, spacing, window}, below);
    if (!bounds) return;
    const auto needed = [&](size_t j, const D3& up) {
        return CapTurnNeeded(samples[j], up, bounds->over[j], *bounds);
    };
    std::vector<double> turn(n, 0.0);
    bool capped = false;
    for (size_t j = 0; j < n; ++j) {
        turn[j] = needed(j, samples[j].up);
        if (turn[j] != 0.0) capped = true;
    }
    if (!capped) return;
    const auto r = static_cast<size_t>(std::max(easeRadius, 0));
    if (r > 0) turn = WidenedAndEased(turn, r);
    for (size_t j = 0; j < n; ++j) {
        PathSample& sample = samples[j];
        if (turn[j] == 0.0 || Norm(sample.up) == 0.0) continue;
        D3 up = Across(Turn(sample.up, sample.tangent, turn[j]), sample.tangent);
        if (Norm(up) == 0.0) continue;
        // Held within the bound where the eased turn fell short or turned
        // past the felt direction.
        const double rest = needed(j, up);
        if (rest != 0.0) up = Across(Turn(up, sample.tangent, rest), sample.tangent);
        if (Norm(up) > 0.0) sample.up = up;
    }
}

// ---- Stage 4: vertex places ----------------------------------------------

double SpeedAt(const std::vector<PathSample>& samples, double spacing, double s) {
    const double x = std::clamp(s / spacing, 0.0, static_cast<double>(samples.size() - 1));
    return samples[static_cast<size_t>(std::nearbyint(x))].speed;
}

bool InLean(const std::vector<PathSample>& samples, double spacing, double s) {
    const double x = std::clamp(s / spacing, 0.0, static_cast<double>(samples.size() - 1));
    return samples[static_cast<size_t>(std::nearbyint(x))].leanWidth > 0.0;
}

D3 UpAt(const std::vector<PathSample>& samples, double spacing, double s, const D3& tangent) {
    const double x = std::clamp(s / spacing, 0.0, static_cast<double>(samples.size() - 1));
    const auto a = static_cast<size_t>(std::floor(x));
    const size_t b = std::min(a + 1, samples.size() - 1);
    const double f = x - static_cast<double>(a);
    const D3 up = Across((1.0 - f) * samples[a].up + f * samples[b].up, tangent);
    return Norm(up) > 0.0 ? up : samples[a].up;
}

void SetRailTangents(std::vector<PathSample>& samples, double heartline) {
    const size_t n = samples.size();
    if (n < 2) return;
    const auto rail = [&](size_t j) { return samples[j].heart - heartline * samples[j].up; };
    for (size_t j = 0; j < n; ++j) {
        const size_t a = j > 0 ? j - 1 : 0;
        const size_t b = std::min(j + 1, n - 1);
        const double run = samples[b].s - samples[a].s;
        samples[j].railTangent = run > 0.0 ? (1.0 / run) * (rail(b) - rail(a)) : D3{};
    }
    // Where that rail would run straight up or down it has no level frame,
    // and every reader puts the heart on the rail there: it leans by at least
    // kLeastLean the way it last went level.
    D3 heading;
    for (PathSample& sample : samples) {
        D3& t = sample.railTangent;
        const double rate = Norm(t);
        const double horizontal = portable::hypot(t.x, t.z);
        if (horizontal >= kLeastLean * rate) {
            heading = {t.x / horizontal, 0.0, t.z / horizontal};
            continue;
        }
        const double along = Dot(t, heading);
        if (Norm(heading) > 0.0 && along < kLeastLean * rate) {
            t = t + (kLeastLean * rate - along) * heading;
        }
    }
}

namespace {

// The share of a rail tangent in the level plane.
double LevelShare(const D3& t) {
    return portable::hypot(t.x, t.z) / std::max(Norm(t), 1e-300);
}

// The sample nearest to arc length s.
size_t NearestSample(const std::vector<PathSample>& samples, double spacing, double s) {
    return static_cast<size_t>(std::clamp(std::nearbyint(s / spacing), 0.0,
                                          static_cast<double>(samples.size() - 1)));
}

// Where the rail crosses the vertical in a loop's plane.
struct VerticalCrossing {
    double s = 0.0;      // arc length where its share in that plane passes zero
    double rate = 0.0;   // the rate (per metre) at which it passes
    double slope = 0.0;  // the rail's sideways share there
    D3 side;             // the unit across the plane
};

// The crossing in the steep stretch of samples j to end - 1, entered from
// sample j - 1: where the tangent's share in the plane it entered with passes
// zero. None where it does not pass, or cannot be placed or timed.
std::optional<VerticalCrossing> CrossingIn(const std::vector<PathSample>& samples, double spacing,
                                           size_t j, size_t end) {
    const D3 entry = samples[j - 1].railTangent;
    const D3 forward = Unit(D3{entry.x, 0.0, entry.z});
    const auto inPlane = [&](size_t k) {
        return Dot(samples[k].railTangent, forward) / Norm(samples[k].railTangent);
    };
    size_t cross = j;
    while (cross < end && inPlane(cross) > 0.0) ++cross;
    if (cross == end || Norm(forward) == 0.0) return std::nullopt;
    const double a0 = inPlane(cross - 1), a1 = inPlane(cross);
    VerticalCrossing c;
    c.s = samples[cross - 1].s + spacing * a0 / (a0 - a1);
    // A rail tangent of zero length (two samples on one point of a
    // degenerate track) has no share in any plane: no crossing there.
    if (!std::isfinite(c.s)) return std::nullopt;
    // The rate at which the in-plane share passes zero, over a baseline of
    // kCrossingBaseline to either side: right at the vertical the rail's
    // tangent is taken from few and close points.
    const size_t before = NearestSample(samples, spacing, c.s - kCrossingBaseline);
    const size_t after = NearestSample(samples, spacing, c.s + kCrossingBaseline);
    if (!(after > before)) return std::nullopt;
    c.rate = (inPlane(before) - inPlane(after)) / (samples[after].s - samples[before].s);
    c.side = Unit(Cross(forward, D3{0.0, 1.0, 0.0}));
    c.slope = Dot(samples[cross].railTangent, c.side) / Norm(samples[cross].railTangent);
    return c;
}

// The riders' lean about a crossing: the rail moved sideways along the bump
// y(u) = A u (1 - u^2)^3, u running from -1 to 1 over the lean's width.
struct LeanBump {
    double s0, width, amount, heartline;
    D3 side;
    double UAt(const PathSample& sample) const { return (sample.s - s0) / width; }
    // The sample's up leaned by `part` of the bump (its own beyond the lean,
    // or where the leaned up would vanish).
    D3 UpAt(const PathSample& sample, double part) const {
        const double u = UAt(sample);
        if (!(std::abs(u) < 1.0)) return sample.up;
        const double w = 1.0 - u * u;
        const double y = part * amount * u * w * w * w;
        const D3 moved = Across(sample.up - (y / heartline) * side, sample.tangent);
        return Norm(moved) > 0.0 ? moved : sample.up;
    }
};

// The lean that gives the rail the sideways share kCrossingSlope at the
// crossing, no larger than kLargestLean.
LeanBump LeanAbout(const VerticalCrossing& c, double heartline) {
    const double width = kLeanWidth * kCrossingSlope / c.rate;
    double amount = (c.slope < 0.0 ? -1.0 : 1.0) * (kCrossingSlope - std::abs(c.slope)) * width;
    // The largest lean, at |u| = 1 / sqrt 7, is 0.238 A / h.
    const double lean = 0.238 * std::abs(amount) / std::abs(heartline);
    if (lean > kLargestLean) amount *= kLargestLean / lean;
    return {c.s, width, amount, heartline, c.side};
}

// The lean scaled back (by bisection) until the felt lateral onset over the
// samples whose felt lateral it changes (a felt window beyond its ends)
// stays within `onsetBound`, or no higher than without the lean.
void HoldLeanToOnset(const std::vector<PathSample>& samples, double spacing, double window,
                     double onsetBound, LeanBump& bump) {
    const size_t n = samples.size();
    const size_t first = NearestSample(samples, spacing, bump.s0 - bump.width);
    const size_t last = NearestSample(samples, spacing, bump.s0 + bump.width);
    const auto far = static_cast<size_t>(std::ceil(window * samples[last].speed / spacing));
    const size_t lo = first > far ? first - far : 0, hi = std::min(n - 1, last + far);
    const auto onsetLeaned = [&](double part) {
        return FeltLateralOnset(samples, spacing, window, lo, hi, [&](size_t k) {
            return LateralUnder(samples[k], bump.UpAt(samples[k], part));
        });
    };
    const double bound = std::max(onsetBound, onsetLeaned(0.0));
    if (!(onsetLeaned(1.0) > bound)) return;
    double low = 0.0, high = 1.0;
    for (int round = 0; round < kLeadScaleRounds; ++round) {
        const double mid = 0.5 * (low + high);
        (onsetLeaned(mid) <= bound ? low : high) = mid;
    }
    bump.amount *= low;
}

}  // namespace

bool LeanThroughVertical(std::vector<PathSample>& samples, double heartline, double spacing,
                         double window, double onsetBound) {
    const size_t n = samples.size();
    bool leaned = false;
    if (n < 3 || !(std::abs(heartline) > 0.0)) return leaned;
    size_t j = 0;
    while (j < n) {
        if (!(LevelShare(samples[j].railTangent) < kSteepLow) || j == 0) {
            ++j;
            continue;
        }
        // The stretch below kSteepLow, entered at j.
        size_t end = j;
        while (end < n && LevelShare(samples[end].railTangent) < kSteepLow) ++end;
        const std::optional<VerticalCrossing> crossing = CrossingIn(samples, spacing, j, end);
        j = end;
        if (!crossing || !(crossing->rate > 0.0 && std::abs(crossing->slope) < kCrossingSlope)) {
            continue;
        }
        LeanBump bump = LeanAbout(*crossing, heartline);
        if (std::isfinite(onsetBound)) HoldLeanToOnset(samples, spacing, window, onsetBound, bump);
        // The rail's sideways share at the crossing; the in-plane share
        // runs from it to minus it, and the frame through the middle half
        // of its turn, over 2 x that share / rate metres.
        const double reached = std::abs(crossing->slope + bump.amount / bump.width);
        const bool flips =
            2.0 * reached / crossing->rate < kFlipShare * kLeanSegmentShare * bump.width;
        for (PathSample& sample : samples) {
            if (!(std::abs(bump.UAt(sample)) < 1.0)) continue;
            sample.up = bump.UpAt(sample, 1.0);
            sample.leanWidth = bump.width;
            sample.flipAt = flips ? bump.s0 : -1.0;
        }
        leaned = true;
    }
    return leaned;
}

D3 RailTangentAt(const std::vector<PathSample>& samples, double spacing, double s) {
    const double x = std::clamp(s / spacing, 0.0, static_cast<double>(samples.size() - 1));
    const auto a = static_cast<size_t>(std::floor(x));
    const size_t b = std::min(a + 1, samples.size() - 1);
    const double f = x - static_cast<double>(a);
    return (1.0 - f) * samples[a].railTangent + f * samples[b].railTangent;
}

D3 SteepBlend(const D3& rail, const D3& ideal) {
    const double steep = Steepness(ideal);
    if (steep == 0.0) return rail;
    return (1.0 - steep) * Unit(rail) + steep * Unit(ideal);
}

D3 NeededTangent(const D3& ideal, const D3& up, double roll) {
    LevelFrame frame;
    if (!LevelFrameOf(ideal, frame)) return ideal;
    const double start = RollOf(frame, up);
    const auto turned = [&](double angle) {
        const double c = portable::cos(angle), s = portable::sin(angle);
        return D3{c * ideal.x + s * ideal.z, ideal.y, c * ideal.z - s * ideal.x};
    };
    LevelFrame moved;
    if (!LevelFrameOf(turned(kTurnStep), moved)) return ideal;
    const double rate = std::remainder(RollOf(moved, up) - start, kTwoPi) / kTurnStep;
    if (!(std::abs(rate) >= kLeastTurnRate)) return ideal;
    return turned(
        std::clamp(std::remainder(roll - start, kTwoPi) / rate, -kLargestTurn, kLargestTurn));
}

// ---- Stage 5: the rail ---------------------------------------------------

}  // namespace cvqrn::smooth
