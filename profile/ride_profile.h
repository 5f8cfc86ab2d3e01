// The ride profile of a track: speed and felt forces along the riders' heart
// path, at equal arc-length steps, and a summary of their extremes.
//
// Axes: y is up, gravity is (0, -9.81, 0); the felt force per mass is the
// acceleration minus gravity, so a rider sitting still reads +1 g vertical.
// The rider's frame is the track's: level-down is world down with its
// along-track part removed, side = tangent x level-down, the rider's down is
// cos R level-down - sin R side with the track's interpolated roll R (the
// same eased interpolation the heartline run samples), up U = -down and left
// L = U x tangent. The heart lies `heartline` metres along U from the rail.
// The speed follows the heartline run's energy line, measured along the heart
// path and at the heart's height; the start and end speeds apply at its first
// and last points. The heart's acceleration comes from exact derivatives of
// the rail's Bezier segments and of U, never from differences of samples, so
// the profile shows what the track's own geometry rides, jolts included.
#pragma once

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "heartline/generator.h"
#include "heartline/settings.h"
#include "text/result.h"

namespace cvqrn {

inline constexpr double kDefaultProfileSpacing = 0.5;
// A longer track is sampled more coarsely so that no profile holds more samples.
inline constexpr int kMaxProfileSamples = 200001;
// Felt forces are the raw ones averaged over this much travel time (a 5 Hz
// low-pass, the bandwidth in which ride accelerations are judged).
inline constexpr double kFeltWindowSeconds = 0.2;

struct ProfileSettings {
    double heartline = 0.0;  // h: from the rail to the heart along U, metres
    double startspeed = HeartlineSettings{}.startspeed;
    double endspeed = HeartlineSettings{}.endspeed;
    double spacing = kDefaultProfileSpacing;  // metres of heart path between samples
    bool operator==(const ProfileSettings&) const = default;
};

struct ProfilePoint {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

struct ProfileSample {
    double distance = 0.0;  // along the heart path from its start, metres
    int segment = 0;        // the track segment the sample lies on
    ProfilePoint heart;     // where the heart is
    ProfilePoint rail;      // the rail point it rides over
    double speed = 0.0;     // m/s; NaN where the energy line lies below the heart
    double roll = 0.0;      // interpolated roll, radians, -pi..pi
    double vertical = 0.0;  // felt force along U, g (below 0 lifts out of the seat)
    double lateral = 0.0;   // along L, g, positive towards the rider's left
    double longitudinal = 0.0;  // along the direction of travel, g
    // The same three averaged over the counted samples within v x 0.2 s of
    // path centred on this one (v its speed); NaN where the raw ones are not
    // counted (vertical track, unreached, no finite force).
    double feltVertical = 0.0;
    double feltLateral = 0.0;
    double feltLongitudinal = 0.0;
    // The track is vertical here (no level frame): the forces and the roll
    // are NaN and the heart is taken on the rail.
    bool verticalTrack = false;
    bool reached() const { return !std::isnan(speed); }  // false where the train cannot get
    // Whether its forces count: reached, with a level frame and finite forces.
    bool counted() const {
        return reached() && !verticalTrack && std::isfinite(vertical) && std::isfinite(lateral) &&
               std::isfinite(longitudinal);
    }
};

// One extreme of the summary and where it happens.
struct ProfileExtreme {
    double value = 0.0;
    double distance = 0.0;
    int segment = -1;  // -1: no sample counted (every one flagged or unreached)
};

struct ProfileSummary {
    ProfileExtreme maxVertical;
    ProfileExtreme minVertical;
    ProfileExtreme maxLateral;  // the largest |lateral|, with its sign
    ProfileExtreme minSpeed;
    ProfileExtreme maxSpeed;
    double lateralRms = 0.0;    // RMS of lateral g over the counted samples
    double lateralRms5m = 0.0;  // the same after averaging lateral g over 5 m
    // The extremes and the lateral RMS of the felt forces.
    ProfileExtreme feltMaxVertical;
    ProfileExtreme feltMinVertical;
    ProfileExtreme feltMaxLateral;  // the largest |felt lateral|, with its sign
    double feltLateralRms = 0.0;
    // Onset rates, g/s: the largest change of a felt force between neighbouring
    // counted samples over the time between them (distance step / mean speed);
    // the path's end, where it lies less than half a step past the last
    // regular sample, from the sample before that.
    double onsetVertical = 0.0;
    double onsetLateral = 0.0;
    double onsetLongitudinal = 0.0;
    // The heart path's largest turn where two segments meet, in degrees: a
    // kink, whose force no sample shows (it is a knock, not a force over
    // time). `segment` is the one that starts there; -1 where no segments meet.
    ProfileExtreme largestKink;
    double length = 0.0;        // of the heart path, metres
    int verticalSamples = 0;    // samples flagged vertical, left out of the extremes
    // The first sample the train cannot reach (the energy line below the heart).
    bool stops = false;
    double stopDistance = 0.0;
    int stopSegment = -1;
};

// A profile: Ok with its samples, or why there is none (no samples then).
struct RideProfile : Result {
    ProfileSettings settings;
    double spacing = 0.0;  // the spacing used (the setting, or coarser for a very long track)
    std::vector<ProfileSample> samples;  // at 0, spacing, 2 spacing, ... and at the end
    ProfileSummary summary;
};

// Runs `first` and `second`, which write nothing the other reads, and returns
// once both have: side by side on two threads, or one after the other. An
// exception either throws comes out of the call. The profile takes one to
// split its work between two cores; its figures are the same without one.
using SideBySide =
    std::function<void(const std::function<void()>& first, const std::function<void()>& second)>;

// The ride profile of `track`. A track the profile cannot take (fewer than two
// vertices, a coordinate or roll that is not a finite number, no length) is
// UnusableTrack, a spacing or speed that is not a finite positive number
// InvalidSettings, and running out of memory OutOfMemory, each with a profile
// of no samples and the message saying why. Never throws for any track.
RideProfile ComputeRideProfile(const TrackData& track, const ProfileSettings& settings,
                               const SideBySide& sideBySide = {});

// The largest distance, in metres, of any heart point of `rebuilt` from the
// heart path of `drawn` taken as the polyline of its samples: how far a
// rebuilt track lets the hearts stray from the path they were drawn on. Each
// rebuilt sample is compared with the drawn polyline within 20 m (or a
// twentieth of the track) of the same share of the length. NaN when either
// profile has no samples.
double MaxHeartDistance(const RideProfile& drawn, const RideProfile& rebuilt);

// Fills the felt forces of `samples` (in order of distance) from their raw
// forces and speeds.
void ComputeFeltForces(std::vector<ProfileSample>& samples, const SideBySide& sideBySide = {});

// The summary of samples whose felt forces are filled; `length` is the heart
// path's, `spacing` the step between its regular samples.
ProfileSummary SummariseProfile(const std::vector<ProfileSample>& samples, double length,
                                double spacing);

// Calls `step(from, to, seconds)` for every counted sample `to` and the
// counted sample its onset is measured from, `seconds` apart at their mean
// speed: the sample before it, or, where `to` lies less than half a step
// (`spacing`) past that one, the sample before that. The path's end may fall
// a hair beyond the last regular sample: the felt windows of two samples
// micrometres apart differ by a whole sample at their far ends, and that
// change over so short a time would read as thousands of g/s on a track
// whose felt forces change by 15 g/s. A sample that does not count breaks
// the chain.
template <typename Step>
void ForEachOnsetStep(const std::vector<ProfileSample>& samples, double spacing, Step&& step) {
    const ProfileSample* previous = nullptr;
    const ProfileSample* earlier = nullptr;  // the counted sample before `previous`
    for (const ProfileSample& s : samples) {
        if (!s.counted()) {
            previous = earlier = nullptr;
            continue;
        }
        const ProfileSample* from = previous;
        if (from != nullptr && s.distance - from->distance < 0.5 * spacing) from = earlier;
        if (from != nullptr) {
            const double seconds = (s.distance - from->distance) / (0.5 * (s.speed + from->speed));
            if (seconds > 0.0) step(*from, s, seconds);
        }
        earlier = previous;
        previous = &s;
    }
}

}  // namespace cvqrn
