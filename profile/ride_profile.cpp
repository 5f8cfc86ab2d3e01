#include "profile/ride_profile.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <numbers>

#include "geometry/bezier.h"
#include "heartline/sampling.h"
#include "heartline/track_check.h"
#include "text/format.h"
#include "profile/jet.h"

namespace cvqrn {

namespace {

using profile::Jet;
using profile::Vec;
using profile::Vecd;
using profile::VecJ;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A tangent whose horizontal part is below this (about 0.00006 degrees off
// the vertical) has no usable level frame.
constexpr double kVerticalLimit = 1e-6;
constexpr double kRmsWindow = 5.0;  // metres
// Walk steps per input segment: about two per sample spacing, within these bounds.
constexpr int kMinSteps = 4;
constexpr int kMaxSteps = 2000;

Vecd ToD(const Vec3& v) {
    return {static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z)};
}

double Length(const Vecd& v) {
    return std::sqrt(profile::Dot(v, v));
}

// One segment in curve order, in double.
struct Cubic {
    Vecd p0, p1, p2, p3;
};

Cubic CubicOf(const TrackData& track, int i) {
    const CurvePoints c = SegmentCurve(track, i);
    return {ToD(c.P0), ToD(c.P1), ToD(c.P2), ToD(c.P3)};
}

// The rail point and its velocity (both with two derivatives) at parameter t.
struct RailJets {
    VecJ point;
    VecJ velocity;
};

// The segment's control points weighted with the track's Bezier weights, in double.
Vecd Weighted(const BezierWeights& w, const Cubic& c) {
    return w.w0 * c.p0 + w.w1 * c.p1 + w.w2 * c.p2 + w.w3 * c.p3;
}

RailJets Evaluate(const Cubic& c, double t) {
    const Vecd point = Weighted(BezierPointWeights(t), c);
    const Vecd d1 = Weighted(BezierDerivativeWeights(t), c);
    const Vecd d2 = Weighted(BezierSecondDerivativeWeights(t), c);
    const Vecd d3 = Weighted(BezierThirdDerivativeWeights(), c);
    auto jets = [](const Vecd& f, const Vecd& f1, const Vecd& f2) {
        return VecJ{{f.x, f1.x, f2.x}, {f.y, f1.y, f2.y}, {f.z, f1.z, f2.z}};
    };
    return {jets(point, d1, d2), jets(d1, d2, d3)};
}

bool IsVertical(const Vecd& velocity) {
    const double speed = Length(velocity);
    if (!(speed > 0.0)) return true;
    const double least = kVerticalLimit * speed;
    // hypot(x, z) is at least the larger of |x| and |z|: where that one
    // reaches the limit the answer is known without the slower hypot.
    if (std::abs(velocity.x) >= least || std::abs(velocity.z) >= least) return false;
    return !(std::hypot(velocity.x, velocity.z) >= least);
}

// The rider's up and left directions and the tangent for a rail velocity and
// a roll, in double or with derivatives.
template <typename N>
struct Frame {
    Vec<N> tangent, up, left;
};

template <typename N>
Frame<N> RiderFrame(const Vec<N>& velocity, const N& roll) {
    using std::cos;
    using std::sin;
    const Vec<N> tangent = profile::Unit(velocity);
    const Vec<N> worldDown{N{0.0}, N{-1.0}, N{0.0}};
    const Vec<N> levelDown =
        profile::Unit(worldDown - profile::Dot(worldDown, tangent) * tangent);
    const Vec<N> side = profile::Cross(tangent, levelDown);
    const Vec<N> down = cos(roll) * levelDown - sin(roll) * side;
    const Vec<N> up = -1.0 * down;
    return {tangent, up, profile::Cross(up, tangent)};
}

// The heart point at parameter t of a segment (the rail point where the
// track is vertical), for the arc-length walk.
Vecd HeartPoint(const Cubic& c, const RollState& rolls, double t, double h) {
    const Vecd point = Weighted(BezierPointWeights(t), c);
    if (h == 0.0) return point;
    const Vecd velocity = Weighted(BezierDerivativeWeights(t), c);
    if (IsVertical(velocity)) return point;
    const Frame<double> frame = RiderFrame(velocity, UnwrappedRoll(rolls, t));
    return point + h * frame.up;
}

// Runs work(0, mid) and work(mid, end) side by side when a runner is given
// and the work is worth two threads, else work(0, end) here. The two parts
// write apart, so the result is the same either way.
constexpr size_t kSplitLeast = 4096;  // points or samples below which one thread does it all
void InTwo(const SideBySide& sideBySide, size_t items, size_t mid, size_t end,
           const std::function<void(size_t, size_t)>& work) {
    if (!sideBySide || items < kSplitLeast || mid == 0 || mid >= end) {
        work(0, end);
        return;
    }
    sideBySide([&] { work(0, mid); }, [&] { work(mid, end); });
}

// The partition point of the sorted `values` under `before` (the first value
// it is false for, as std::partition_point finds it), looked for a few steps
// either side of `guess` first.
template <typename Before>
size_t PartitionNear(const std::vector<double>& values, size_t guess, Before before) {
    constexpr int kSteps = 8;
    size_t i = std::min(guess, values.size());
    for (int k = 0; k < kSteps; ++k) {
        if (i > 0 && !before(values[i - 1])) {
            --i;
        } else if (i < values.size() && before(values[i])) {
            ++i;
        } else {
            return i;
        }
    }
    return static_cast<size_t>(std::partition_point(values.begin(), values.end(), before) -
                               values.begin());
}

// The walk: heart points at small parameter steps along every segment, with
// the arc length measured chord by chord.
struct Walk {
    std::vector<int> segment;
    std::vector<double> t;
    std::vector<double> s;
    std::vector<RollState> rolls;  // per segment, ready for EasedRoll
    Vecd first, last;
};

Walk WalkHeart(const TrackData& track, double h, double spacing, const SideBySide& sideBySide) {
    Walk walk;
    const int segments = track.Bezr.VertexCount - 1;
    // First the roll state and the number of steps of every segment, so that
    // the walk's arrays are allocated once and each segment's points have
    // their place.
    walk.rolls.reserve(static_cast<size_t>(segments));
    std::vector<int> steps;
    steps.reserve(static_cast<size_t>(segments));
    std::vector<size_t> offset;  // of each segment's first point
    offset.reserve(static_cast<size_t>(segments) + 1);
    size_t total = 0;
    RollState rolls = StartRolls(track);
    for (int i = 0; i < segments; ++i) {
        BeginRollSegment(rolls, track, i);
        walk.rolls.push_back(rolls);
        const Cubic c = CubicOf(track, i);
        // The control polygon bounds the rail's length; the roll swings the
        // heart by at most h times the roll change on top of it.
        const double polygon = Length(c.p1 - c.p0) + Length(c.p2 - c.p1) + Length(c.p3 - c.p2) +
                               std::abs(h) * (std::abs(rolls.Delta) + std::abs(rolls.SumPrev) +
                                              std::abs(rolls.SumNext));
        steps.push_back(static_cast<int>(
            std::clamp(std::ceil(2.0 * polygon / spacing), double{kMinSteps}, double{kMaxSteps})));
        offset.push_back(total);
        total += static_cast<size_t>(steps.back()) + 1;
        AdvanceRoll(rolls, track, i);
    }
    offset.push_back(total);
    walk.segment.resize(total);
    walk.t.resize(total);
    walk.s.resize(total);

    // The points, segment by segment (each stands alone, so the segments may
    // be split between two threads), ...
    std::vector<Vecd> points(total);
    const auto walkSegments = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            const Cubic c = CubicOf(track, static_cast<int>(i));
            const RollState& segmentRolls = walk.rolls[i];
            const int n = steps[i];
            for (int k = 0; k <= n; ++k) {
                const size_t at = offset[i] + static_cast<size_t>(k);
                const double t = static_cast<double>(k) / n;
                points[at] = HeartPoint(c, segmentRolls, t, h);
                walk.segment[at] = static_cast<int>(i);
                walk.t[at] = t;
            }
        }
    };
    const auto half = static_cast<size_t>(
        std::lower_bound(offset.begin(), offset.end() - 1, total / 2) - offset.begin());
    InTwo(sideBySide, total, half, static_cast<size_t>(segments), walkSegments);
    // ... then the arc length in one running sum along them.
    double arc = 0.0;
    walk.s[0] = 0.0;
    for (size_t j = 1; j < total; ++j) {
        arc += Length(points[j] - points[j - 1]);
        walk.s[j] = arc;
    }
    walk.first = points.front();
    walk.last = points.back();
    return walk;
}

ProfilePoint ToPoint(const Vecd& v) {
    return {v.x, v.y, v.z};
}

void SetUnreached(ProfileSample& sample) {
    sample.speed = sample.vertical = sample.lateral = sample.longitudinal = kNaN;
}

// Everything of one sample at parameter t of segment i.
ProfileSample EvaluateSample(const TrackData& track, const Walk& walk, const EnergyLine& line,
                             double h, int i, double t, double distance) {
    ProfileSample sample;
    sample.distance = distance;
    sample.segment = i;
    const RailJets rail = Evaluate(CubicOf(track, i), t);
    sample.rail = ToPoint(profile::Value(rail.point));

    if (IsVertical(profile::Value(rail.velocity))) {
        sample.verticalTrack = true;
        sample.heart = sample.rail;
        const double v2 = SpeedSquared(line, distance, sample.heart.y);
        SetUnreached(sample);
        sample.roll = kNaN;
        if (v2 >= 0.0) sample.speed = std::sqrt(v2);
        return sample;
    }

    const Jet roll = UnwrappedRoll(walk.rolls[static_cast<size_t>(i)], Jet{t, 1.0, 0.0});
    const Frame<Jet> frame = RiderFrame(rail.velocity, roll);
    const VecJ heart = rail.point + h * frame.up;
    const Vecd at = profile::Value(heart);
    sample.heart = ToPoint(at);
    sample.roll = WrapAngle(roll.v);

    const double v2 = SpeedSquared(line, distance, at.y);
    if (!(v2 >= 0.0)) {
        SetUnreached(sample);
        return sample;
    }
    sample.speed = std::sqrt(v2);

    // Curvature vector of the heart path from its derivatives in t.
    const Vecd d1 = profile::Rate(heart);
    const Vecd d2 = profile::Rate2(heart);
    const double rate = Length(d1);
    const Vecd tangentH = (1.0 / rate) * d1;
    const Vecd curvature =
        (1.0 / (rate * rate)) * (d2 - profile::Dot(d2, tangentH) * tangentH);
    // a = v^2 kN + v dv/ds T, where v dv/ds = g (slope - dy/ds) from the energy line.
    const Vecd accel = v2 * curvature + (kGravity * (line.slope - tangentH.y)) * tangentH;
    const Vecd felt = accel + Vecd{0.0, kGravity, 0.0};
    sample.vertical = profile::Dot(felt, profile::Value(frame.up)) / kGravity;
    sample.lateral = profile::Dot(felt, profile::Value(frame.left)) / kGravity;
    sample.longitudinal = profile::Dot(felt, profile::Value(frame.tangent)) / kGravity;
    return sample;
}

// The heart path's direction at parameter t of segment i (the rail's where
// the track is vertical and the heart rides on the rail).
Vecd HeartDirection(const TrackData& track, const Walk& walk, double h, int i, double t) {
    const RailJets rail = Evaluate(CubicOf(track, i), t);
    Vecd d1 = profile::Value(rail.velocity);
    if (!IsVertical(d1)) {
        const Jet roll = UnwrappedRoll(walk.rolls[static_cast<size_t>(i)], Jet{t, 1.0, 0.0});
        d1 = profile::Rate(rail.point + h * RiderFrame(rail.velocity, roll).up);
    }
    const double rate = Length(d1);
    return rate > 0.0 ? (1.0 / rate) * d1 : Vecd{};
}

// The largest turn of the heart path's direction at the joins of the
// segments, and where (see ProfileSummary::largestKink).
ProfileExtreme LargestKink(const TrackData& track, const Walk& walk, double h) {
    ProfileExtreme largest;
    for (size_t k = 1; k < walk.segment.size(); ++k) {
        if (walk.segment[k] == walk.segment[k - 1]) continue;
        const int i = walk.segment[k];
        const Vecd before = HeartDirection(track, walk, h, i - 1, 1.0);
        const Vecd after = HeartDirection(track, walk, h, i, 0.0);
        const double turn = std::atan2(Length(profile::Cross(before, after)),
                                       profile::Dot(before, after)) *
                            (180.0 / std::numbers::pi);
        if (largest.segment < 0 || turn > largest.value) largest = {turn, walk.s[k], i};
    }
    return largest;
}

void Take(ProfileExtreme& extreme, double value, const ProfileSample& s) {
    extreme = {value, s.distance, s.segment};
}

ProfileSummary SummariseRaw(const std::vector<ProfileSample>& samples, double length) {
    ProfileSummary summary;
    summary.length = length;
    bool seenForce = false;
    bool seenSpeed = false;
    double sumSquares = 0.0;
    std::vector<size_t> counted;
    for (const ProfileSample& s : samples) {
        if (s.verticalTrack) ++summary.verticalSamples;
        if (!s.reached()) {
            if (!summary.stops) {
                summary.stops = true;
                summary.stopDistance = s.distance;
                summary.stopSegment = s.segment;
            }
            continue;
        }
        if (!seenSpeed || s.speed < summary.minSpeed.value) Take(summary.minSpeed, s.speed, s);
        if (!seenSpeed || s.speed > summary.maxSpeed.value) Take(summary.maxSpeed, s.speed, s);
        seenSpeed = true;
        // A cusp of the path (no direction of travel) has no finite force either.
        if (!s.counted()) continue;
        if (!seenForce || s.vertical > summary.maxVertical.value) {
            Take(summary.maxVertical, s.vertical, s);
        }
        if (!seenForce || s.vertical < summary.minVertical.value) {
            Take(summary.minVertical, s.vertical, s);
        }
        if (!seenForce || std::abs(s.lateral) > std::abs(summary.maxLateral.value)) {
            Take(summary.maxLateral, s.lateral, s);
        }
        seenForce = true;
        sumSquares += s.lateral * s.lateral;
        counted.push_back(static_cast<size_t>(&s - samples.data()));
    }
    if (counted.empty()) return summary;
    summary.lateralRms = std::sqrt(sumSquares / static_cast<double>(counted.size()));

    // Lateral g averaged over the samples within 2.5 m on either side.
    std::vector<double> prefix(counted.size() + 1, 0.0);
    for (size_t k = 0; k < counted.size(); ++k) prefix[k + 1] = prefix[k] + samples[counted[k]].lateral;
    double averagedSquares = 0.0;
    size_t lo = 0;
    size_t hi = 0;
    for (size_t k = 0; k < counted.size(); ++k) {
        const double d = samples[counted[k]].distance;
        while (samples[counted[lo]].distance < d - kRmsWindow / 2.0) ++lo;
        while (hi < counted.size() && samples[counted[hi]].distance <= d + kRmsWindow / 2.0) ++hi;
        const double mean = (prefix[hi] - prefix[lo]) / static_cast<double>(hi - lo);
        averagedSquares += mean * mean;
    }
    summary.lateralRms5m = std::sqrt(averagedSquares / static_cast<double>(counted.size()));
    return summary;
}

// The felt extremes and RMS over the counted samples, and the onset rates
// (see ForEachOnsetStep).
void SummariseFelt(const std::vector<ProfileSample>& samples, double spacing,
                   ProfileSummary& summary) {
    bool seen = false;
    double sumSquares = 0.0;
    size_t count = 0;
    for (const ProfileSample& s : samples) {
        if (!s.counted()) continue;
        if (!seen || s.feltVertical > summary.feltMaxVertical.value) {
            Take(summary.feltMaxVertical, s.feltVertical, s);
        }
        if (!seen || s.feltVertical < summary.feltMinVertical.value) {
            Take(summary.feltMinVertical, s.feltVertical, s);
        }
        if (!seen || std::abs(s.feltLateral) > std::abs(summary.feltMaxLateral.value)) {
            Take(summary.feltMaxLateral, s.feltLateral, s);
        }
        seen = true;
        sumSquares += s.feltLateral * s.feltLateral;
        ++count;
    }
    if (count > 0) summary.feltLateralRms = std::sqrt(sumSquares / static_cast<double>(count));
    ForEachOnsetStep(
        samples, spacing,
        [&summary](const ProfileSample& from, const ProfileSample& to, double seconds) {
            const auto onset = [seconds](double& rate, double a, double b) {
                rate = std::max(rate, std::abs(b - a) / seconds);
            };
            onset(summary.onsetVertical, from.feltVertical, to.feltVertical);
            onset(summary.onsetLateral, from.feltLateral, to.feltLateral);
            onset(summary.onsetLongitudinal, from.feltLongitudinal, to.feltLongitudinal);
        });
}

Result CheckTrack(const TrackData& track, const ProfileSettings& settings) {
    if (Result curves = CheckTrackCurves(track, std::numeric_limits<int32_t>::max()); !curves) {
        return curves;
    }
    if (!(settings.spacing > 0.0) || !std::isfinite(settings.spacing)) {
        return Failure(Status::InvalidSettings,
                       "The sample spacing must be a positive number of metres; it is " +
                           FormatFixed(settings.spacing) + ".");
    }
    if (!std::isfinite(settings.heartline) || !std::isfinite(settings.startspeed) ||
        !std::isfinite(settings.endspeed)) {
        return Failure(Status::InvalidSettings,
                       "The heartline distance and the speeds must be finite numbers.");
    }
    return {};
}

}  // namespace

RideProfile ComputeRideProfile(const TrackData& track, const ProfileSettings& settings,
                               const SideBySide& sideBySide) {
    RideProfile profile;
    profile.settings = settings;
    static_cast<Result&>(profile) = CheckTrack(track, settings);
    if (!profile) return profile;
    try {
        const double h = settings.heartline;
        const Walk walk = WalkHeart(track, h, settings.spacing, sideBySide);
        const double length = walk.s.back();
        if (!(length > 0.0) || !std::isfinite(length)) {
            static_cast<Result&>(profile) =
                Failure(Status::UnusableTrack, "The track has no measurable length.");
            return profile;
        }
        profile.spacing =
            std::max(settings.spacing, length / static_cast<double>(kMaxProfileSamples - 1));
        const EnergyLine line = MakeEnergyLine(settings.startspeed, walk.first.y, settings.endspeed,
                                               walk.last.y, length);

        const auto regular = static_cast<size_t>(std::floor(length / profile.spacing));
        // Where each sample lies, in order (the end once), then the samples
        // themselves, each on its own.
        struct Place {
            int segment;
            double t;
            double distance;
        };
        std::vector<Place> places;
        places.reserve(regular + 2);
        size_t k = 0;  // walk interval [k, k + 1] holding the distance
        for (size_t n = 0; n <= regular + 1; ++n) {
            double distance = static_cast<double>(n) * profile.spacing;
            if (n == regular + 1 || distance > length) {
                // The end: included once, even when a regular sample falls on it.
                if (!places.empty() && places.back().distance >= length - 1e-9) break;
                distance = length;
            }
            while (k + 2 < walk.s.size() && walk.s[k + 1] < distance) ++k;
            const double s0 = walk.s[k];
            const double s1 = walk.s[k + 1];
            const double f = s1 > s0 ? std::clamp((distance - s0) / (s1 - s0), 0.0, 1.0) : 1.0;
            const int segment = walk.segment[k + 1];
            double t = walk.t[k + 1];
            if (walk.segment[k] == segment) t = walk.t[k] + f * (t - walk.t[k]);
            places.push_back({segment, t, distance});
        }
        profile.samples.resize(places.size());
        InTwo(sideBySide, places.size(), places.size() / 2, places.size(),
              [&](size_t from, size_t to) {
                  for (size_t j = from; j < to; ++j) {
                      const Place& at = places[j];
                      profile.samples[j] =
                          EvaluateSample(track, walk, line, h, at.segment, at.t, at.distance);
                  }
              });
        ComputeFeltForces(profile.samples, sideBySide);
        profile.summary = SummariseProfile(profile.samples, length, profile.spacing);
        profile.summary.largestKink = LargestKink(track, walk, h);
    } catch (const std::bad_alloc&) {
        profile.samples.clear();
        static_cast<Result&>(profile) = Failure(
            Status::OutOfMemory, "The profile could not be made: the computer ran out of memory.");
    }
    return profile;
}

void ComputeFeltForces(std::vector<ProfileSample>& samples, const SideBySide& sideBySide) {
    // Running sums over the counted samples, so that each window costs two
    // searches whatever its length.
    std::vector<double> distance;
    distance.reserve(samples.size());
    std::vector<std::array<double, 3>> prefix(1, {0.0, 0.0, 0.0});
    prefix.reserve(samples.size() + 1);
    for (const ProfileSample& s : samples) {
        if (!s.counted()) continue;
        distance.push_back(s.distance);
        const std::array<double, 3>& last = prefix.back();
        prefix.push_back({last[0] + s.vertical, last[1] + s.lateral, last[2] + s.longitudinal});
    }
    // Each sample's window on its own, so the samples may be split between two threads.
    const auto window = [&](size_t from, size_t to) {
        // A window's ends lie a step or two from its neighbour's.
        size_t lo = 0;
        size_t hi = 0;
        for (size_t j = from; j < to; ++j) {
            ProfileSample& s = samples[j];
            if (!s.counted()) {
                s.feltVertical = s.feltLateral = s.feltLongitudinal = kNaN;
                continue;
            }
            const double half = 0.5 * kFeltWindowSeconds * s.speed;
            const double start = s.distance - half;
            const double end = s.distance + half;
            lo = PartitionNear(distance, lo, [start](double d) { return d < start; });
            hi = PartitionNear(distance, hi, [end](double d) { return !(end < d); });
            // The sample itself always lies in its window, so hi > lo.
            const double n = static_cast<double>(hi - lo);
            s.feltVertical = (prefix[hi][0] - prefix[lo][0]) / n;
            s.feltLateral = (prefix[hi][1] - prefix[lo][1]) / n;
            s.feltLongitudinal = (prefix[hi][2] - prefix[lo][2]) / n;
        }
    };
    InTwo(sideBySide, samples.size(), samples.size() / 2, samples.size(), window);
}

double MaxHeartDistance(const RideProfile& drawn, const RideProfile& rebuilt) {
    const std::vector<ProfileSample>& path = drawn.samples;
    if (path.empty() || rebuilt.samples.empty()) return kNaN;
    const auto pointOf = [](const ProfilePoint& p) { return Vecd{p.x, p.y, p.z}; };
    const size_t last = path.size() - 1;
    const double drawnLength = path.back().distance;
    const double rebuiltLength = rebuilt.samples.back().distance;
    const double reach = std::max(20.0, drawnLength / 20.0);
    double largest = 0.0;
    for (const ProfileSample& s : rebuilt.samples) {
        const Vecd q = pointOf(s.heart);
        const double share = rebuiltLength > 0.0 ? s.distance / rebuiltLength : 0.0;
        const double centre = share * drawnLength;
        const auto from = static_cast<size_t>(
            std::lower_bound(path.begin(), path.end(), centre - reach,
                             [](const ProfileSample& a, double d) { return a.distance < d; }) -
            path.begin());
        double nearest = std::numeric_limits<double>::infinity();
        for (size_t k = from == 0 ? 0 : from - 1; k <= last && path[k].distance <= centre + reach;
             ++k) {
            const Vecd a = pointOf(path[k].heart);
            if (k == last) {
                nearest = std::min(nearest, Length(q - a));
                break;
            }
            const Vecd ab = pointOf(path[k + 1].heart) - a;
            const double span = profile::Dot(ab, ab);
            const double f = span > 0.0 ? std::clamp(profile::Dot(q - a, ab) / span, 0.0, 1.0) : 0.0;
            nearest = std::min(nearest, Length(q - (a + f * ab)));
        }
        if (nearest > largest || std::isnan(nearest)) largest = nearest;
    }
    return largest;
}

ProfileSummary SummariseProfile(const std::vector<ProfileSample>& samples, double length,
                                double spacing) {
    ProfileSummary summary = SummariseRaw(samples, length);
    SummariseFelt(samples, spacing, summary);
    return summary;
}

}  // namespace cvqrn
