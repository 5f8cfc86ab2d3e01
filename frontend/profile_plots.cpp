#include "frontend/profile_plots.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "profile/ride_motion.h"

namespace cvqrn::ui {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;
constexpr double kSpikeShare = 0.005;  // of the samples at either end that may run off the scale
constexpr double kMinSpanShare = 1e-6;  // the narrowest zoom, of the whole ride

}  // namespace

bool IsForce(Quantity quantity) {
    return quantity == Quantity::Vertical || quantity == Quantity::Lateral ||
           quantity == Quantity::Longitudinal;
}

PlotData MakePlotData(const RideProfile& profile) {
    PlotData d;
    const size_t n = profile.samples.size();
    for (std::vector<double>* v :
         {&d.distance, &d.speed, &d.vertical, &d.lateral, &d.longitudinal, &d.feltVertical,
          &d.feltLateral, &d.feltLongitudinal, &d.roll}) {
        v->reserve(n);
    }
    for (const ProfileSample& s : profile.samples) {
        d.distance.push_back(s.distance);
        d.speed.push_back(s.speed);
        d.vertical.push_back(s.vertical);
        d.lateral.push_back(s.lateral);
        d.longitudinal.push_back(s.longitudinal);
        d.feltVertical.push_back(s.feltVertical);
        d.feltLateral.push_back(s.feltLateral);
        d.feltLongitudinal.push_back(s.feltLongitudinal);
        d.roll.push_back(s.reached() ? s.roll * kDegreesPerRadian : kNaN);
    }
    // Where the roll passes +-180 degrees, the line breaks instead of
    // crossing the whole plot: the sample after the jump has no value.
    double previous = kNaN;
    for (double& roll : d.roll) {
        const double here = roll;
        if (std::abs(here - previous) > 180.0) roll = kNaN;
        if (!std::isnan(here)) previous = here;
    }
    d.time = RideTimes(profile);
    d.rollRate = RollRates(profile, d.time);
    return d;
}

const std::vector<double>& XValues(const PlotData& data, XAxis axis) {
    return axis == XAxis::Time ? data.time : data.distance;
}

const std::vector<double>& Values(const PlotData& data, Quantity quantity, ForceView view) {
    const bool felt = view == ForceView::Felt;
    switch (quantity) {
        case Quantity::Speed:
            return data.speed;
        case Quantity::Vertical:
            return felt ? data.feltVertical : data.vertical;
        case Quantity::Lateral:
            return felt ? data.feltLateral : data.lateral;
        case Quantity::Longitudinal:
            return felt ? data.feltLongitudinal : data.longitudinal;
        case Quantity::Roll:
            return data.roll;
        case Quantity::RollRate:
            return data.rollRate;
    }
    return data.speed;
}

Points DecimatePerColumn(const std::vector<double>& x, const std::vector<double>& y, Range shown,
                         int columns) {
    Points out;
    const size_t size = std::min(x.size(), y.size());
    // The x values rise and may end in NaN: only the part before it is drawn.
    const size_t n = static_cast<size_t>(
        std::partition_point(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(size),
                             [](double v) { return !std::isnan(v); }) -
        x.begin());
    if (n == 0 || columns < 1 || !(shown.Span() > 0.0)) return out;
    const auto begin = x.begin();
    const auto end = begin + static_cast<std::ptrdiff_t>(n);
    size_t first = static_cast<size_t>(std::lower_bound(begin, end, shown.lo) - begin);
    size_t last = static_cast<size_t>(std::upper_bound(begin, end, shown.hi) - begin);
    if (first > 0) --first;  // the sample before the range
    if (last < n) ++last;    // and the one after it
    const double scale = columns / shown.Span();
    const auto columnOf = [&](double v) -> long {
        if (v < shown.lo) return -1;
        if (v > shown.hi) return columns;
        return std::min<long>(columns - 1, static_cast<long>((v - shown.lo) * scale));
    };

    long column = LONG_MIN;
    size_t lowest = 0;
    size_t highest = 0;
    bool open = false;
    const auto emit = [&](size_t i) {
        out.x.push_back(x[i]);
        out.y.push_back(y[i]);
    };
    const auto flush = [&] {
        if (!open) return;
        emit(std::min(lowest, highest));
        if (lowest != highest) emit(std::max(lowest, highest));
        open = false;
    };
    for (size_t i = first; i < last; ++i) {
        if (!std::isfinite(y[i])) {
            flush();
            if (!out.y.empty() && !std::isnan(out.y.back())) {
                out.x.push_back(x[i]);
                out.y.push_back(kNaN);
            }
            continue;
        }
        const long c = columnOf(x[i]);
        if (!open || c != column) {
            flush();
            column = c;
            lowest = highest = i;
            open = true;
        } else {
            if (y[i] < y[lowest]) lowest = i;
            if (y[i] > y[highest]) highest = i;
        }
    }
    flush();
    if (!out.y.empty() && std::isnan(out.y.back())) {
        out.x.pop_back();
        out.y.pop_back();
    }
    return out;
}

Range ValueRange(const std::vector<const std::vector<double>*>& series, bool clip, double pad) {
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    size_t count = 0;
    for (const std::vector<double>* s : series) {
        for (double v : *s) {
            if (!std::isfinite(v)) continue;
            min = std::min(min, v);
            max = std::max(max, v);
            ++count;
        }
    }
    if (count == 0) return {};
    const double margin = std::max(pad, 0.05 * (max - min));
    Range range{min - margin, max + margin};
    if (clip) {
        // The values only where the rare ones at either end are to be found.
        std::vector<double> values;
        values.reserve(count);
        for (const std::vector<double>* s : series) {
            for (double v : *s) {
                if (std::isfinite(v)) values.push_back(v);
            }
        }
        const auto at = [&values](double share) {
            const auto k = static_cast<size_t>(share * static_cast<double>(values.size() - 1));
            std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k),
                             values.end());
            return values[k];
        };
        const double lo = at(kSpikeShare);
        const double hi = at(1.0 - kSpikeShare);
        const double widen = std::max(pad, 0.25 * (hi - lo));
        range.lo = std::max(range.lo, lo - widen);
        range.hi = std::min(range.hi, hi + widen);
    }
    return range;
}

bool ClipsSpikes(Quantity quantity, ForceView view) {
    return quantity == Quantity::RollRate || (IsForce(quantity) && view == ForceView::Raw);
}

double RangePad(Quantity quantity) {
    switch (quantity) {
        case Quantity::Speed:
            return 1.0;  // m/s
        case Quantity::Roll:
            return 10.0;  // degrees
        case Quantity::RollRate:
            return 20.0;  // degrees per second
        default:
            return 0.25;  // g
    }
}

Ticks NiceTicks(Range range, int count) {
    const double rough = std::max(range.Span(), 1e-12) / std::max(count, 1);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    Ticks ticks;
    ticks.step = 10.0 * power;
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * power >= rough * (1.0 - 1e-9)) {
            ticks.step = m * power;
            break;
        }
    }
    ticks.decimals = std::max(0, static_cast<int>(-std::floor(std::log10(ticks.step) + 1e-9)));
    return ticks;
}

Ticks AngleTicks(Range range, int count) {
    const double rough = range.Span() / std::max(count, 1);
    for (double step : {5.0, 15.0, 45.0, 90.0}) {
        if (step >= rough) return {step, 0};
    }
    return {180.0, 0};
}

LabelledRange LabelRange(Range range, int pixels, int pixelsPerTick, int labelPixels,
                         bool degrees) {
    const auto ticksFor = [&](int count) {
        return degrees ? AngleTicks(range, count) : NiceTicks(range, count);
    };
    // As many ticks as the height asks for, the range as it is: what a tall
    // plot shows, and what a short one falls back to.
    const int asked = std::max(3, pixels / std::max(1, pixelsPerTick));
    const LabelledRange plain{range, ticksFor(asked)};
    if (!(range.Span() > 0.0) || pixels <= 0) return plain;
    const auto spacing = [&](const Ticks& t, const Range& r) {
        return pixels * t.step / r.Span();
    };
    // Ticks within the range.
    const auto inside = [&](const Ticks& t) {
        return std::floor(range.hi / t.step) - std::ceil(range.lo / t.step) + 1.0;
    };
    if (spacing(plain.ticks, range) >= labelPixels && inside(plain.ticks) >= 2.0) return plain;
    // A step rounded up to 1, 2 or 5 may leave a single tick inside: more
    // ticks, as long as their labels fit.
    constexpr int kMoreTicks = 8;
    for (int count = asked + 1; count <= asked + kMoreTicks; ++count) {
        const Ticks ticks = ticksFor(count);
        if (spacing(ticks, range) < labelPixels) break;
        if (inside(ticks) >= 2.0) return {range, ticks};
    }
    // Too short for that: fewer ticks, the range widened to whole ticks at
    // both ends (so both ends are labelled) by at most kMostWidening of its
    // span, each label given its height.
    constexpr double kMostWidening = 0.35;
    for (int count = asked - 1; count >= 1; --count) {
        const Ticks ticks = ticksFor(count);
        // A hair's tolerance, so that an end on a tick is not widened by a step.
        const double slack = 1e-9 * ticks.step;
        const Range widened{std::floor((range.lo + slack) / ticks.step) * ticks.step,
                            std::ceil((range.hi - slack) / ticks.step) * ticks.step};
        if (widened.Span() <= (1.0 + kMostWidening) * range.Span() &&
            spacing(ticks, widened) >= labelPixels) {
            return {widened, ticks};
        }
    }
    return plain;
}

std::string PlotTitle(Quantity quantity) {
    switch (quantity) {
        case Quantity::Speed:
            return "Speed (m/s)";
        case Quantity::Vertical:
            return "Vertical (g): below 0 lifts the rider out of the seat";
        case Quantity::Lateral:
            return "Lateral (g): positive towards the rider's left";
        case Quantity::Longitudinal:
            return "Longitudinal (g): positive pushes the rider forwards";
        case Quantity::Roll:
            return "Roll (\u00b0)";
        case Quantity::RollRate:
            return "Roll rate (\u00b0/s)";
    }
    return {};
}

std::string XAxisTitle(XAxis axis) {
    return axis == XAxis::Time ? "Time from the start (s)" : "Distance along the heart path (m)";
}

// ---- The shared x range -------------------------------------------------------

void XRange::SetExtent(Range extent) {
    if (!(extent.Span() > 0.0)) extent.hi = extent.lo + 1.0;
    extent_ = shown_ = extent;
}

bool XRange::Zoomed() const {
    return shown_.lo != extent_.lo || shown_.hi != extent_.hi;
}

void XRange::Show(double lo, double hi) {
    if (!(lo <= hi) || !std::isfinite(lo) || !std::isfinite(hi)) return;
    const double whole = extent_.Span();
    const double least = whole * kMinSpanShare;
    if (hi - lo < least) {
        const double mid = 0.5 * (lo + hi);
        lo = mid - 0.5 * least;
        hi = mid + 0.5 * least;
    }
    if (hi - lo >= whole) {
        shown_ = extent_;
        return;
    }
    // Slide back inside the ride, keeping the width.
    if (lo < extent_.lo) {
        hi += extent_.lo - lo;
        lo = extent_.lo;
    }
    if (hi > extent_.hi) {
        lo -= hi - extent_.hi;
        hi = extent_.hi;
    }
    shown_ = {lo, hi};
}

void XRange::ZoomAround(double at, double factor) {
    if (!(factor > 0.0)) return;
    Show(at - (at - shown_.lo) * factor, at + (shown_.hi - at) * factor);
}

void XRange::ZoomTo(double a, double b) {
    Show(std::min(a, b), std::max(a, b));
}

void XRange::PanBy(double delta) {
    Show(shown_.lo + delta, shown_.hi + delta);
}

void XRange::CentreOn(double at) {
    const double span = Zoomed() ? shown_.Span() : 0.1 * extent_.Span();
    Show(at - 0.5 * span, at + 0.5 * span);
}

}  // namespace cvqrn::ui
