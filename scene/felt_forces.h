// The felt forces of a ride profile: each raw force averaged over the 0.2 s
// of travel centred on its sample (about the 5 Hz low-pass by which ride
// accelerations are judged), so that the colours show what a rider feels.
#pragma once

#include <vector>

#include "profile/ride_profile.h"

namespace cvqrn::scene {

struct FeltForces {
    // One value per sample, in g; NaN where the sample has no force (the
    // train does not get there, or the track is vertical).
    std::vector<double> vertical;
    std::vector<double> lateral;
    std::vector<double> longitudinal;
};

inline constexpr double kFeltWindowSeconds = 0.2;

// The felt forces of every sample of `profile`: the mean of the finite raw
// values within 0.1 s of travel (at the sample's own speed) on either side.
FeltForces FeltForcesOf(const RideProfile& profile);

}  // namespace cvqrn::scene
