// The input track's own roll along its segments, as the sampling walk reads
// it: the vertex rolls (absolute, or relative to the previous vertex) eased
// from vertex to vertex the short way round, keeping a roll rate through
// vertices whose FlagA asks for it.
//
// Walk the segments in order: StartRolls, then for each segment i
// BeginRollSegment(i), EasedRoll(t) for any t in 0..1, AdvanceRoll(i).
// InputRollAt does that walk for one (segment, t).
//
// Every function takes a track with 2 <= VertexCount <= Vertices.size()
// (CheckHeartlineTrack accepts only such tracks) and 0 <= i <= VertexCount - 2.
#pragma once

#include "trackfile/track_record.h"

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

// x brought into -pi..pi by one correction of 2 pi at most.
double WrapAngle(double x);

// The roll state before the first segment: the first vertex's roll as stored.
RollState StartRolls(const TrackData& track);

// Prepares the roll interpolation of input segment i.
void BeginRollSegment(RollState& state, const TrackData& track, int i);

// The roll at step parameter t (0 at the segment's start vertex, 1 at its
// end), wrapped into -pi..pi.
double EasedRoll(const RollState& state, double t);

// Moves the roll state to the start of segment i + 1.
void AdvanceRoll(RollState& state, const TrackData& track, int i);

// The input roll of segment `segment` at step parameter t, walking the
// segments before it; the same value the sampling walk uses there.
double InputRollAt(const TrackData& track, int segment, double t);

}  // namespace cvqrn
