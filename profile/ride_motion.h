// When the train passes each sample of a ride profile, and how fast the track
// rolls there: the time axis and the roll rate of the ride profile's plots.
#pragma once

#include <vector>

#include "profile/ride_profile.h"

namespace cvqrn {

// Seconds from the start to each sample. A step between neighbouring samples
// takes its length over the mean of their two speeds (the same step time the
// onset rates use). NaN from the first sample the train cannot reach, or the
// first step it cannot make at a positive speed, to the end.
std::vector<double> RideTimes(const RideProfile& profile);

// The roll rate at each sample, degrees per second, positive where the roll
// grows: the change of the roll between the two neighbours (taken the short
// way round across +-180 degrees) over the time between them, or from the
// sample itself to its one neighbour at the ends and beside a sample without
// a roll or a time. NaN where the sample has no roll or time, or neither
// neighbour has. `times` is RideTimes(profile).
std::vector<double> RollRates(const RideProfile& profile, const std::vector<double>& times);

}  // namespace cvqrn
