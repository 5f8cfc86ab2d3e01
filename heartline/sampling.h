// The energy line of a heartline run, for everything that needs the train's
// speed the way the run works it out.
//
// The train's energy, as a height, changes linearly with arc length from the
// start speed at the first point to the end speed at the last; the speed at a
// point follows from how far the energy line lies above it.
#pragma once

namespace cvqrn {

inline constexpr double kGravity = 9.81;
inline constexpr double kTwiceGravity = 19.62;

struct EnergyLine {
    double start = 0.0;  // energy height at arc length 0, m
    double end = 0.0;    // energy height at the end
    double slope = 0.0;  // change per metre of arc length
};

// The energy line of a path `length` long whose first point is at height
// `startHeight`, passed at `startspeed`, and whose last point is at
// `endHeight`, passed at `endspeed`.
EnergyLine MakeEnergyLine(double startspeed, double startHeight, double endspeed, double endHeight,
                          double length);

// The square of the speed at arc length `s` of a train at height `height`:
// 2 g times the height of the energy line above it. Negative where the
// energy line lies below the train (it cannot get there).
double SpeedSquared(const EnergyLine& line, double s, double height);

}  // namespace cvqrn
