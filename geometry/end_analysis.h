// Slope, radius and tilt of a track where it begins ("in") and ends ("out").
#pragma once

#include <string>
#include <string_view>

#include "model/track_record.h"

namespace cvqrn {

// Radius (and tilt) of a straight end: curvature below 0.001 or undefined.
inline constexpr double kStraightRadius = -1.0;

// True for the radius of a straight end, whose tilt means nothing and is not shown.
inline bool IsStraightEnd(double radius) {
    return radius == kStraightRadius;
}

// The six values of one analysis. A straight end has radius and tilt
// kStraightRadius.
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

// The six end-analysis values as shown: three decimals, and "straight" and
// "none" for the radius and tilt of a straight end.
struct EndAnalysisTexts {
    std::string radiusIn, slopeIn, tiltIn;
    std::string radiusOut, slopeOut, tiltOut;
};
EndAnalysisTexts FormatEndAnalysis(const EndAnalysis& ends, std::string_view separator = ".");

}  // namespace cvqrn
