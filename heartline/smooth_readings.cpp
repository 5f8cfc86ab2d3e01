// Reading a fitted rail's strays, jolts and felt forces.
#include "heartline/smooth_readings.h"

#include <cmath>
#include <cstddef>

#include "heartline/heartline_run.h"
#include "heartline/sampling.h"
#include "heartline/smooth_jets.h"
#include "heartline/smooth_math.h"
#include "heartline/smooth_tuning.h"
#include "heartline/smooth_up.h"
#include "model/track_record.h"
#include "portable_math/portable_math.h"

namespace cvqrn::smooth {

namespace {

// How far `point` lies from the loaded path, whose point at arc length s is
// about the nearest: a few steps along the path to the foot of the
// perpendicular (a long segment's hearts may run a little ahead of or behind
// the arc length they were fitted at without leaving the path).
double DistanceFromPath(const PathWalk& walk, const D3& point, double s) {
    const double length = walk.s.back();
    double at = s;
    // Each place is located once, for the heart there and the step from it.
    PathPlace place = Locate(walk, at);
    D3 off = point - PointAt(walk.cubics[AsIndex(place.segment)], place.t);
    for (int step = 0; step < kNearestSteps; ++step) {
        const D3 along = Unit(FirstAt(walk.cubics[AsIndex(place.segment)], place.t));
        at = std::clamp(at + Dot(off, along), 0.0, length);
        place = Locate(walk, at);
        off = point - PointAt(walk.cubics[AsIndex(place.segment)], place.t);
    }
    return Norm(off);
}

// Calls visit(i, t, s, rail, rolls) at every fit point of the rail: segment
// i, parameter t, arc length s, the segment's cubic and the file's roll
// interpolation ready for the segment. Given a `step` (metres), a segment
// whose fit points lie further apart is visited at more points of even
// parameter, about `step` apart.
template <typename Visit>
void ForEachFitPoint(const RailFit& fit, Visit&& visit,
                     double step = std::numeric_limits<double>::infinity()) {
    const TrackData rollTrack = RollTrack(fit);
    RollState rolls = StartRolls(rollTrack);
    for (int i = 0; i < fit.segments; ++i) {
        BeginRollSegment(rolls, rollTrack, i);
        const Cubic rail = RailCubic(fit, i);
        const int points = std::max(
            fit.perSegment, static_cast<int>(std::ceil(fit.lengths[AsIndex(i)] / step)) + 1);
        for (int q = 0; q < points; ++q) {
            const double t = static_cast<double>(q) / (points - 1);
            visit(i, t, fit.places[AsIndex(i)] + t * fit.lengths[AsIndex(i)], rail, rolls);
        }
        AdvanceRoll(rolls, rollTrack, i);
    }
}

// How far the heart at parameter t of `rail` lies from the loaded path.
double HeartStray(const PathWalk& walk, double heartline, double t, double s, const Cubic& rail,
                  const RollState& rolls) {
    D3 heart = PointAt(rail, t);
    LevelFrame frame;
    if (LevelFrameOf(FirstAt(rail, t), frame)) {
        heart = heart + heartline * UpOf(frame, UnwrappedRoll<portable::Math>(rolls, t));
    }
    return DistanceFromPath(walk, heart, s);
}

}  // namespace

std::vector<Stray> SegmentStrays(const PathWalk& walk, double heartline, const RailFit& fit,
                                 double step) {
    std::vector<Stray> strays(AsIndex(fit.segments));
    ForEachFitPoint(
        fit,
        [&](int i, double t, double s, const Cubic& rail, const RollState& rolls) {
            const double distance = HeartStray(walk, heartline, t, s, rail, rolls);
            Stray& largest = strays[AsIndex(i)];
            if (!(distance <= largest.distance)) largest = {distance, s};
        },
        step);
    return strays;
}
namespace {

// The jolt (see HardestJolt) at parameter t of a rail segment, at arc length s.
double JoltAt(const std::vector<PathSample>& samples, double spacing, double heartline, double t,
              double s, const Cubic& rail, const RollState& rolls) {
    const HeartJet heart = HeartJetAt(rail, RollJetAt(rolls, t), t, heartline);
    const double x = std::clamp(s / spacing, 0.0, static_cast<double>(samples.size() - 1));
    const PathSample& there = samples[static_cast<size_t>(std::nearbyint(x))];
    return Norm(CurvatureOf(heart.d1, heart.d2) - there.curvature) * there.speed * there.speed /
           kGravity;
}

}  // namespace

Stray HardestJolt(const std::vector<PathSample>& samples, double spacing, double heartline,
                  const RailFit& fit) {
    Stray hardest;
    ForEachFitPoint(fit, [&](int, double t, double s, const Cubic& rail, const RollState& rolls) {
        const double jolt = JoltAt(samples, spacing, heartline, t, s, rail, rolls);
        if (!(jolt <= hardest.distance)) hardest = {jolt, s};
    });
    return hardest;
}
RailJolts JoltsOf(const std::vector<PathSample>& samples, double spacing, double heartline,
                  const RailFit& fit) {
    RailJolts jolts;
    jolts.segments.assign(AsIndex(fit.segments), 0.0);
    ForEachFitPoint(fit, [&](int i, double t, double s, const Cubic& rail, const RollState& rolls) {
        const double jolt = JoltAt(samples, spacing, heartline, t, s, rail, rolls);
        if (!(jolt <= jolts.hardest.distance)) jolts.hardest = {jolt, s};
        double& segment = jolts.segments[AsIndex(i)];
        if (!(jolt <= segment)) segment = jolt;
        if ((i == 0 && t == 0.0) || (i + 1 == fit.segments && t == 1.0)) {
            jolts.end = std::max(jolts.end, jolt);
        }
    });
    return jolts;
}
namespace {

// The ride profile's sample spacing (metres of heart path): the felt lateral
// that judges the wobble merges is read on the same grid (see
// FeltLateralAlong), since the wobble from join to join of segments twice
// that long aliases on it.
constexpr double kFeltSpacing = 0.25;
// The felt value of each counted sample of `along`: the mean of the lateral
// force `raw` over the counted samples within half the felt window either
// side, each window from the first counted sample at or past its start to
// the last at or before its end, as the ride profile takes it.
void AverageOverFeltWindow(std::vector<FeltSample>& along, const std::vector<double>& raw) {
    std::vector<double> distance, sums(1, 0.0);
    for (size_t j = 0; j < along.size(); ++j) {
        if (!along[j].counted) continue;
        distance.push_back(along[j].distance);
        sums.push_back(sums.back() + raw[j]);
    }
    // Each window's ends lie where std::lower_bound and std::upper_bound find
    // them in the ordered distances, stepped to from the window before's (a
    // window moves by about a sample from one sample to the next).
    size_t lo = 0, hi = 0;
    for (FeltSample& sample : along) {
        if (!sample.counted) continue;
        const double half = 0.5 * kFeltWindow * sample.speed;
        const double from = sample.distance - half, to = sample.distance + half;
        while (lo < distance.size() && distance[lo] < from) ++lo;
        while (lo > 0 && !(distance[lo - 1] < from)) --lo;
        while (hi < distance.size() && !(to < distance[hi])) ++hi;
        while (hi > 0 && to < distance[hi - 1]) --hi;
        sample.felt = (sums[hi] - sums[lo]) / static_cast<double>(hi - lo);
    }
}
// The lateral force (g) the riders feel on `fit`'s heart path, sampled as the
// ride profile samples it: every kFeltSpacing of the heart's own arc length
// (the end once), the heart's centripetal acceleration at the train's speed
// there plus gravity's reaction, across the riders' up under the eased roll,
// averaged over the samples within half the felt window either side. Where
// the rail has no level frame a sample is not counted.
// With `vertical`, that gets the raw vertical force (g) of each sample too.
std::vector<FeltSample> FeltLateralAlong(const std::vector<PathSample>& samples, double spacing,
                                         double heartline, const RailFit& fit,
                                         std::vector<double>* vertical = nullptr) {
    // The heart walked at about half the grid's step, its arc length chord by
    // chord, with each segment's rail and roll kept for the samples.
    std::vector<Cubic> rails(AsIndex(fit.segments));
    std::vector<RollState> rollsOf(AsIndex(fit.segments));
    std::vector<int> segment;
    std::vector<double> param, arc;
    D3 previous;
    ForEachFitPoint(
        fit,
        [&](int i, double t, double, const Cubic& rail, const RollState& rolls) {
            if (t == 0.0) {
                rails[AsIndex(i)] = rail;
                rollsOf[AsIndex(i)] = rolls;
            }
            D3 heart = PointAt(rail, t);
            LevelFrame frame;
            if (LevelFrameOf(FirstAt(rail, t), frame)) {
                heart = heart + heartline * UpOf(frame, UnwrappedRoll<portable::Math>(rolls, t));
            }
            arc.push_back(arc.empty() ? 0.0 : arc.back() + Norm(heart - previous));
            previous = heart;
            segment.push_back(i);
            param.push_back(t);
        },
        0.5 * kFeltSpacing);
    if (arc.size() < 2) return {};
    const double length = arc[arc.size() - 1];
    const auto regular = static_cast<size_t>(std::floor(length / kFeltSpacing));
    std::vector<FeltSample> along;
    along.reserve(regular + 2);
    std::vector<double> raw;
    raw.reserve(regular + 2);
    if (vertical != nullptr) vertical->reserve(vertical->size() + regular + 2);
    size_t k = 0;  // walk interval [k, k + 1] holding the distance
    for (size_t n = 0; n <= regular + 1; ++n) {
        double distance = static_cast<double>(n) * kFeltSpacing;
        if (n == regular + 1 || distance > length) {
            if (!along.empty() && along.back().distance >= length - 1e-9) break;
            distance = length;
        }
        while (k + 2 < arc.size() && arc[k + 1] < distance) ++k;
        const double s0 = arc[k], s1 = arc[k + 1];
        const double f = s1 > s0 ? std::clamp((distance - s0) / (s1 - s0), 0.0, 1.0) : 1.0;
        const int i = segment[k + 1];
        double t = param[k + 1];
        if (segment[k] == i) t = param[k] + f * (t - param[k]);
        const Cubic& rail = rails[AsIndex(i)];
        FeltSample sample;
        sample.distance = distance;
        sample.along = fit.places[AsIndex(i)] + t * fit.lengths[AsIndex(i)];
        sample.speed = SpeedAt(samples, spacing, sample.along);
        double lateral = 0.0, upward = 0.0;
        const D3 tangent = FirstAt(rail, t);
        const double speed = Norm(tangent);
        LevelFrame frame;
        if (LevelFrameOf(tangent, speed, frame)) {
            const RollState& rolls = rollsOf[AsIndex(i)];
            const D3 up = UpOf(frame, UnwrappedRoll<portable::Math>(rolls, t));
            const HeartJet heart =
                HeartJetAt(rail, RollJetAt(rolls, t), t, tangent, speed, heartline);
            const double v = sample.speed;
            const D3 force = (v * v) * CurvatureOf(heart.d1, heart.d2) + D3{0.0, kGravity, 0.0};
            lateral = Dot(force, Cross(Unit(tangent), up)) / kGravity;
            if (vertical != nullptr) upward = Dot(force, up) / kGravity;
            sample.counted = true;
        }
        sample.raw = lateral;
        along.push_back(sample);
        raw.push_back(lateral);
        if (vertical != nullptr) vertical->push_back(upward);
    }
    AverageOverFeltWindow(along, raw);
    return along;
}

}  // namespace

FeltLateral FeltLateralOver(const std::vector<FeltSample>& along) {
    FeltLateral ride;
    const FeltSample* previous = nullptr;
    const FeltSample* earlier = nullptr;  // the counted sample before `previous`
    for (const FeltSample& s : along) {
        if (!s.counted) {
            previous = earlier = nullptr;
            continue;
        }
        ride.largest = std::max(ride.largest, std::abs(s.felt));
        ride.squares += s.felt * s.felt;
        ride.counted += 1.0;
        if (std::abs(s.raw) > ride.rawLargest) {
            ride.rawLargest = std::abs(s.raw);
            ride.rawAt = s.along;
        }
        const FeltSample* from = previous;
        if (from != nullptr && s.distance - from->distance < 0.5 * kFeltSpacing) from = earlier;
        if (from != nullptr) {
            const double seconds = (s.distance - from->distance) / (0.5 * (s.speed + from->speed));
            if (seconds > 0.0) {
                const double onset = std::abs(s.felt - from->felt) / seconds;
                if (onset > ride.onset) {
                    ride.onset = onset;
                    ride.onsetAt = s.along;
                }
            }
        }
        earlier = previous;
        previous = &s;
    }
    return ride;
}
FeltLateral FeltLateralOf(const std::vector<PathSample>& samples, double spacing, double heartline,
                          const RailFit& fit) {
    return FeltLateralOver(FeltLateralAlong(samples, spacing, heartline, fit));
}
double RmsOf(const FeltLateral& ride) {
    return ride.counted > 0.0 ? std::sqrt(ride.squares / ride.counted) : 0.0;
}

namespace {

// The drawn track's felt force `reading(sample, up)` (g) as FeltLateralOf
// reads a rail's lateral: the loaded path sampled every kFeltSpacing of its
// arc length (the end once), each sample's force under the drawn up taken from
// the loaded sample nearest it and counted where the path has a level frame,
// averaged over the felt window. Read on the same grid, the drawn onset steps
// as the rail's does where a felt window's edge passes a step in the force,
// which the finer loaded samples smooth away.
template <typename Reading>
std::vector<FeltSample> DrawnFeltAlong(const std::vector<PathSample>& samples, double spacing,
                                       const Reading& reading) {
    if (samples.size() < 2 || !(spacing > 0.0)) return {};
    const double length = samples.back().s;
    const auto regular = static_cast<size_t>(std::floor(length / kFeltSpacing));
    std::vector<FeltSample> along;
    along.reserve(regular + 2);
    std::vector<double> raw;
    raw.reserve(regular + 2);
    for (size_t n = 0; n <= regular + 1; ++n) {
        double distance = static_cast<double>(n) * kFeltSpacing;
        if (n == regular + 1 || distance > length) {
            if (!along.empty() && along.back().distance >= length - 1e-9) break;
            distance = length;
        }
        const auto j =
            std::min(samples.size() - 1, static_cast<size_t>(std::nearbyint(distance / spacing)));
        FeltSample sample;
        sample.distance = distance;
        sample.along = distance;
        sample.speed = samples[j].speed;
        sample.counted = Norm(samples[j].drawnUp) > 0.0;
        sample.raw = sample.counted ? reading(samples[j], samples[j].drawnUp) : 0.0;
        along.push_back(sample);
        raw.push_back(sample.raw);
    }
    AverageOverFeltWindow(along, raw);
    return along;
}

}  // namespace

FeltLateral DrawnFeltLateral(const std::vector<PathSample>& samples, double spacing) {
    return FeltLateralOver(DrawnFeltAlong(samples, spacing, LateralUnder));
}
double DrawnFeltLowest(const std::vector<PathSample>& samples, double spacing) {
    const std::vector<FeltSample> along = DrawnFeltAlong(
        samples, spacing,
        [](const PathSample& sample, const D3& up) { return Dot(sample.feltAcross, up); });
    double lowest = std::numeric_limits<double>::infinity();
    for (const FeltSample& sample : along) {
        if (sample.counted) lowest = std::min(lowest, sample.felt);
    }
    return lowest;
}

double DrawnFeltVerticalOnset(const std::vector<PathSample>& samples, double spacing) {
    std::vector<FeltSample> vertical = DrawnFeltAlong(
        samples, spacing,
        [](const PathSample& sample, const D3& up) { return Dot(sample.feltAcross, up); });
    const std::vector<FeltSample> lateral = DrawnFeltAlong(samples, spacing, LateralUnder);
    const double onset = FeltLateralOver(vertical).onset;
    for (size_t n = 0; n < vertical.size(); ++n) {
        const double v = vertical[n].felt, l = lateral[n].felt;
        vertical[n].felt = std::sqrt(v * v + l * l);
    }
    return std::max(onset, FeltLateralOver(vertical).onset);
}

namespace {

// The vertical force on `fit`'s heart path along the loaded path: raw in
// `raw`, felt in `along`.
std::vector<FeltSample> VerticalAlong(const std::vector<PathSample>& samples, double spacing,
                                      double heartline, const RailFit& fit,
                                      std::vector<double>& raw) {
    std::vector<FeltSample> along = FeltLateralAlong(samples, spacing, heartline, fit, &raw);
    AverageOverFeltWindow(along, raw);  // the felt values now the vertical's
    return along;
}
VerticalReach VerticalReachOver(const std::vector<FeltSample>& along,
                                const std::vector<double>& raw) {
    const double lowest = std::numeric_limits<double>::infinity();
    VerticalReach reach{-lowest, lowest, -lowest, lowest};
    bool any = false;
    for (size_t j = 0; j < along.size(); ++j) {
        if (!along[j].counted) continue;
        any = true;
        if (raw[j] > reach.rawTop) {
            reach.rawTop = raw[j];
            reach.rawTopAt = along[j].along;
        }
        if (raw[j] < reach.rawBottom) {
            reach.rawBottom = raw[j];
            reach.rawBottomAt = along[j].along;
        }
        reach.feltTop = std::max(reach.feltTop, along[j].felt);
        reach.feltBottom = std::min(reach.feltBottom, along[j].felt);
    }
    return any ? reach : VerticalReach{};
}

}  // namespace

VerticalReach VerticalReachOf(const std::vector<PathSample>& samples, double spacing,
                              double heartline, const RailFit& fit) {
    std::vector<double> raw;
    const std::vector<FeltSample> along = VerticalAlong(samples, spacing, heartline, fit, raw);
    return VerticalReachOver(along, raw);
}

namespace {

FeltVertical FeltVerticalOver(const std::vector<FeltSample>& along) {
    FeltVertical ride;
    ride.lowest = std::numeric_limits<double>::infinity();
    for (const FeltSample& sample : along) {
        if (sample.counted && sample.felt < ride.lowest) {
            ride.lowest = sample.felt;
            ride.lowestAt = sample.along;
        }
    }
    const FeltLateral over = FeltLateralOver(along);
    ride.onset = over.onset;
    ride.onsetAt = over.onsetAt;
    return ride;
}

}  // namespace

ForcesAlong ForcesAlongOf(const std::vector<PathSample>& samples, double spacing, double heartline,
                          const RailFit& fit) {
    ForcesAlong forces;
    forces.along = FeltLateralAlong(samples, spacing, heartline, fit, &forces.vertical);
    return forces;
}
VerticalReading VerticalOver(const ForcesAlong& forces) {
    std::vector<FeltSample> along = forces.along;
    AverageOverFeltWindow(along, forces.vertical);
    return {FeltVerticalOver(along), VerticalReachOver(along, forces.vertical)};
}

namespace {

Stray LargestStray(const std::vector<Stray>& strays) {
    Stray largest;
    for (const Stray& stray : strays) {
        if (!(stray.distance <= largest.distance)) largest = stray;
    }
    return largest;
}

}  // namespace

Stray HeldStray(const PathWalk& walk, double heartline, const RailFit& fit,
                std::vector<Stray> strays) {
    const Stray atFitPoints = LargestStray(strays);
    if (!(atFitPoints.distance <= kLargestStray) || !(atFitPoints.distance > kRefineStray)) {
        return atFitPoints;
    }
    ForEachFitPoint(
        fit,
        [&](int i, double t, double s, const Cubic& rail, const RollState& rolls) {
            Stray& largest = strays[AsIndex(i)];
            if (!(largest.distance > kRefineStray)) return;
            const double distance = HeartStray(walk, heartline, t, s, rail, rolls);
            if (!(distance <= largest.distance)) largest = {distance, s};
        },
        kStrayCheckStep);
    const Stray between = LargestStray(strays);
    return between.distance <= kLargestStray ? atFitPoints : between;
}
Stray HeldStray(const PathWalk& walk, double heartline, const RailFit& fit) {
    return HeldStray(walk, heartline, fit, SegmentStrays(walk, heartline, fit));
}

}  // namespace cvqrn::smooth
