// What the sampling walk reads of the input track besides its curves: the
// track's own roll along its segments and the energy line that gives the
// train's speed. The ride profile reads them through the same functions.
//
// The roll: the vertex rolls (absolute, or relative to the previous vertex)
// eased from vertex to vertex the short way round, keeping a roll rate through
// vertices whose FlagA asks for it. Walk the segments in order: StartRolls,
// then for each segment i BeginRollSegment(i), EasedRoll(t) for any t in 0..1,
// AdvanceRoll(i).
//
// Every roll function takes a track with 2 <= VertexCount <= Vertices.size()
// (CheckHeartlineTrack accepts only such tracks) and 0 <= i <= VertexCount - 2.
//
// The energy line: the train's energy, as a height, changes linearly with arc
// length from the start speed at the first point to the end speed at the
// last; the speed at a point follows from how far the line lies above it.
#pragma once

#include <cmath>

#include "vec3/vec3.h"
#include "model/track_record.h"

namespace cvqrn {

// Roll state carried along the walk, radians.
struct RollState {
    double RollCur = 0.0;    // absolute roll at the start vertex of the current segment
    double DeltaPrev = 0.0;  // wrapped roll change of the previous segment
    // Of the current segment:
    double RollNext = 0.0;   // absolute roll at its end vertex
    double Delta = 0.0;      // wrapped roll change over it
    double SumPrev = 0.0;    // Delta + the previous segment's change
    double SumNext = 0.0;    // Delta + the next segment's change
    double ContStart = 0.0;  // 1 when the start vertex keeps its roll rate, else 0
    double ContEnd = 0.0;    // -1 when the end vertex keeps its roll rate, else 0
};

// The C library's cosine, sine and square (std::pow(x, 2.0)), for a double or
// for a number type with its own cos, sin and pow beside it: the math policy
// of the default run and of the ride profile.
struct LibraryMath {
    template <typename Number>
    static Number Cos(const Number& x) {
        using std::cos;
        return cos(x);
    }
    template <typename Number>
    static Number Sin(const Number& x) {
        using std::sin;
        return sin(x);
    }
    template <typename Number>
    static Number Square(const Number& x) {
        using std::pow;
        return pow(x, 2.0);
    }
};

// x brought into -pi..pi by one correction of 2 pi at most.
double WrapAngle(double x);

// The roll state before the first segment: the first vertex's roll as stored.
RollState StartRolls(const TrackData& track);

// Prepares the roll interpolation of input segment i.
void BeginRollSegment(RollState& state, const TrackData& track, int i);

// The roll at step parameter t (0 at the segment's start vertex, 1 at its
// end) before wrapping: eased from RollCur to RollCur + Delta; the sine terms
// keep a roll rate through vertices that ask for it and vanish at both ends.
// `Number` is double for the run; a number type that carries derivatives
// (the ride profile's jets) gives the roll's rates of change too. `Math`
// gives the cosine, the sine and the square: the C library's by default; the
// smooth rebuild passes functions with the same bits in every build
// (portable_math/portable_math.h).
template <typename Math = LibraryMath, typename Number>
Number UnwrappedRoll(const RollState& state, const Number& t) {
    return state.RollCur + state.Delta * (1.0 - Math::Cos(kPi * t)) / 2.0 +
           2.0 * state.ContStart * Math::Sin(kPi * Math::Square(1.0 - t)) * state.SumPrev / 27.0 +
           2.0 * state.ContEnd * Math::Sin(kPi * Math::Square(t)) * state.SumNext / 27.0;
}

// The roll at step parameter t, wrapped into -pi..pi.
inline double EasedRoll(const RollState& state, double t) {
    return WrapAngle(UnwrappedRoll(state, t));
}

// Moves the roll state to the start of segment i + 1.
void AdvanceRoll(RollState& state, const TrackData& track, int i);

inline constexpr double kGravity = 9.81;  // m/s^2

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

// The height of the energy line at arc length `s`.
double EnergyHeight(const EnergyLine& line, double s);

// The square of the speed at arc length `s` of a train at height `height`:
// 2 g times the height of the energy line above it. Negative where the
// energy line lies below the train (it cannot get there).
double SpeedSquared(const EnergyLine& line, double s, double height);

}  // namespace cvqrn
