// Slope, radius and tilt of a track where it begins ("in") and ends ("out").
#pragma once

#include "trackfile/track_record.h"

namespace cvqrn {

// The six values of one analysis. A radius of exactly -1 marks a straight end
// (curvature below 0.001 or undefined); its tilt is then -1 too and not shown.
struct EndAnalysis {
    double radiusIn = -1.0;  // track length units
    double slopeIn = 0.0;    // degrees, positive uphill
    double tiltIn = -1.0;    // degrees, signed about the direction of travel
    double radiusOut = -1.0;
    double slopeOut = 0.0;
    double tiltOut = -1.0;
};

// Measures segment 0 at t = 0 and the last segment at t = 1. A track with
// fewer than two vertices is reported straight at both ends with slope 0.
void TrackEndAnalysis(const TrackData& track, double& radiusIn, double& slopeIn, double& tiltIn,
                      double& radiusOut, double& slopeOut, double& tiltOut);

// The same, returned as one value.
EndAnalysis TrackEndAnalysis(const TrackData& track);

}  // namespace cvqrn
