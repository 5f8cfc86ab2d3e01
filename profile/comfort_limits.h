// Where the forces of a ride profile go beyond common ride-acceleration
// limits, and for how long. The limits are the short-duration ones that
// amusement-ride standards give for seated, restrained riders: vertical from
// -1.5 g to +6 g, lateral within +-1.8 g. The standards also weigh how long a
// force lasts and how forces combine, so these figures are a guide for the
// designer, not a certification.
#pragma once

#include <vector>

#include "profile/ride_profile.h"

namespace cvqrn {

inline constexpr double kVerticalLimitUp = 6.0;     // g, pressed into the seat
inline constexpr double kVerticalLimitDown = -1.5;  // g, lifted out of it
inline constexpr double kLateralLimit = 1.8;        // g, towards either side

enum class ForceAxis { Vertical, Lateral };

// One stretch of track where a force stays beyond one limit.
struct Exceedance {
    ForceAxis axis = ForceAxis::Vertical;
    double limit = 0.0;          // the limit crossed, g, with its sign (6, -1.5, 1.8 or -1.8)
    double startDistance = 0.0;  // where the force crosses the limit, metres along the heart path
    double endDistance = 0.0;    // where it comes back
    double duration = 0.0;       // seconds between the two
    double peak = 0.0;           // the force furthest beyond the limit, g
    double peakDistance = 0.0;
    int peakSegment = 0;
};

// The stretches where the felt forces (`felt`) or the raw ones go beyond a
// limit, in order of distance. A stretch starts and ends where the force,
// taken as straight between neighbouring samples, crosses the limit; at the
// track's ends, or beside a sample with no force, it starts or ends at the
// last sample beyond. `times` is RideTimes(profile).
std::vector<Exceedance> FindExceedances(const RideProfile& profile,
                                        const std::vector<double>& times, bool felt);

}  // namespace cvqrn
