// The valley search: where the run's own sampling stage, at given settings,
// finds the energy line below the train, and the advice after a run in which
// the train valleyed: the lowest start speed, in steps of 0.1 m/s, with which
// that stage lets the train reach every sample, the end speed and the other
// settings unchanged. It reruns the sampling stage, so it lives beside it.
#pragma once

#include <string>

#include "heartline/settings.h"
#include "model/track_record.h"
#include "text/result.h"

namespace cvqrn {

// Start speeds above this are not searched: no advice then.
inline constexpr double kMaxAdvisedStartSpeed = 1000.0;

// Where the train of a valleyed run stops: the first sample it cannot reach.
struct ValleyStop {
    double distance = 0.0;  // along the track, metres, as the run's message names it
    double x = 0.0, y = 0.0, z = 0.0;  // the last point of the track it reached
};

// Where the heartline run's sampling stage, at these settings with
// `startspeed` in place of theirs, finds the energy line below the train:
// Valleyed with the stop; Ok when it takes every sample (no valley); the
// run's own refusal (InvalidSettings, UnusableTrack) when it cannot run.
struct ValleyResult : Result {
    ValleyStop stop{};  // where the train stops (Valleyed only)
};
ValleyResult FindValley(const TrackData& track, const HeartlineSettings& settings,
                        double startspeed);

// The lowest start speed k / 10 m/s (k a whole number) that clears every hill
// while (k - 1) / 10 does not, found by bisection from settings.startspeed
// (the speed that valleyed): Ok with that speed; Valleyed when even
// kMaxAdvisedStartSpeed does not clear them (the end speed is then too low for
// the last climb); the run's own refusal when the settings (apart from the
// start speed) or the track cannot be run.
struct StartSpeedAdvice : Result {
    double startspeed = 0.0;  // m/s (Ok only)
};
StartSpeedAdvice AdviseStartSpeed(const TrackData& track, const HeartlineSettings& settings);

// "With V in at least 15.3 m/s the train clears every hill", with "." whatever
// the locale.
std::string ValleyAdviceText(double startspeed);

}  // namespace cvqrn
