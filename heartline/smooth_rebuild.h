// The smooth rebuild: a new rail that keeps the riders' hearts on the loaded
// path, with a roll that is a smooth function of distance and a heart path
// whose curvature does not jump at the new vertices.
//
// The default rebuild offsets the rail sample by sample and lets the file's
// roll interpolation and the fit's joins fall where they may; the heart then
// wobbles around the loaded path by the difference. This one works the other
// way round, in these stages:
//  1. walk the loaded path (the heart path) densely, with its speed, its
//     curvature and its own roll;
//  2. choose the riders' up direction: the felt direction where the riders
//     are pressed into their seats, the loaded banking where the felt force
//     is weak or lifts them (airtime), blended smoothly and kept on one side;
//  3. smooth that direction along the path;
//  4. place the new vertices, closer together where the roll moves fast;
//  5. fit the rail: choose the vertex rolls in the rail's own level frame,
//     compute for each point the rail position that puts the heart on the
//     loaded path under the roll the file's interpolation really gives, and
//     fit all control points at once (tangent-continuous joins, penalised
//     least squares); repeat, because the rail's tangent moves the frame.
#pragma once

#include "heartline/heartline_run.h"

namespace cvqrn {

// Replaces stages 4 and 5 of the default run: builds run.NewVertices from the
// loaded track after SampleTrack and DecidePassCounts succeeded (which check
// the track, the energy line and the pass counts exactly as the default run
// does). Reports the remaining progress steps of the run. Fails with
// NumericalBlowUp when a new vertex would not be finite.
Result SmoothRebuild(HeartlineRun& run, const TrackData& track);

}  // namespace cvqrn
