// What the riders get from a fitted rail: how far their hearts stray from the
// loaded path, the jolts, and the felt lateral and vertical forces read as
// the ride profile reads them.
#pragma once

#include <algorithm>
#include <limits>
#include <vector>

#include "heartline/smooth_path.h"
#include "heartline/smooth_rail_fit.h"

namespace cvqrn::smooth {

// Where the fitted rail, ridden as every reader of the file rides it (with
// the heart on the rail where the rail is vertical), lets the heart stray
// furthest from the loaded path: the distance and its arc length.
struct Stray {
    double distance = 0.0;
    double at = 0.0;
};
// The farthest stray of each segment, at its fit points (given a `step`,
// also at points about `step` apart, see ForEachFitPoint).
std::vector<Stray> SegmentStrays(const PathWalk& walk, double heartline, const RailFit& fit,
                                 double step = std::numeric_limits<double>::infinity());

// The hardest jolt the new rail gives the riders beyond the loaded path's:
// the largest difference, in g, between the force of the heart path's
// curvature and that of the loaded path's at the same place, at every fit
// point (both ends of every join included) at the train's speed there. A
// heart held within a centimetre may still wiggle at a fraction of a metre,
// which rides as a kick of tens of g.
Stray HardestJolt(const std::vector<PathSample>& samples, double spacing, double heartline,
                  const RailFit& fit);

// The jolts (see HardestJolt) of a rail read in one pass over its fit
// points: the hardest, the harder of those at the rail's first and last
// points (see kLargestEndJolt) and the hardest of each segment.
struct RailJolts {
    Stray hardest;
    double end = 0.0;
    std::vector<double> segments;
};
RailJolts JoltsOf(const std::vector<PathSample>& samples, double spacing, double heartline,
                  const RailFit& fit);

// One sample of the felt lateral along a fit's heart path: its arc length
// along the heart, the train's speed there, the felt lateral (g) and whether
// the rail has a level frame there (counted).
struct FeltSample {
    double distance = 0.0;
    double along = 0.0;  // the loaded path's arc length there
    double speed = 0.0;
    double felt = 0.0;
    double raw = 0.0;  // the lateral (g) before the felt window's mean
    bool counted = false;
};
// What the riders feel sideways on a rail: the largest felt lateral (see
// FeltLateralAlong), the sum of its squares and its fastest change (g/s)
// between neighbouring counted samples, over the time between them at their
// mean speed (a sample closer than half the grid's step, the end, is taken
// from the one before).
struct FeltLateral {
    double largest = 0.0, squares = 0.0, onset = 0.0;
    double counted = 0.0;  // the counted samples, for the RMS
    double onsetAt = 0.0;  // the loaded path's arc length where the onset is
    // The largest raw lateral (g, unsigned) of the counted samples and the
    // loaded path's arc length where it is.
    double rawLargest = 0.0, rawAt = 0.0;
    // How far the largest raw lateral stands above the largest felt one.
    double Gap() const { return rawLargest - largest; }
};
FeltLateral FeltLateralOver(const std::vector<FeltSample>& along);

FeltLateral FeltLateralOf(const std::vector<PathSample>& samples, double spacing, double heartline,
                          const RailFit& fit);

// The RMS (g) of a felt lateral's counted samples.
double RmsOf(const FeltLateral& ride);

// The drawn track's felt lateral read so.
FeltLateral DrawnFeltLateral(const std::vector<PathSample>& samples, double spacing);

// The drawn track's lowest felt vertical (g) read so.
double DrawnFeltLowest(const std::vector<PathSample>& samples, double spacing);

// The drawn track's fastest felt vertical change (g/s) read so, or its felt
// force across the track's (lateral and vertical together) where faster: the
// rides are held to a share of the faster of the two.
double DrawnFeltVerticalOnset(const std::vector<PathSample>& samples, double spacing);

// The raw and felt vertical force (g) on `fit`'s heart path at their
// largest and lowest, sampled and averaged as FeltLateralAlong does.
struct VerticalReach {
    double rawTop = 0.0, rawBottom = 0.0, feltTop = 0.0, feltBottom = 0.0;
    // The loaded path's arc length at the raw force's largest and lowest.
    double rawTopAt = 0.0, rawBottomAt = 0.0;
    // How far the raw force stands beyond the felt one: above its largest or
    // below its lowest, whichever further.
    double Gap() const { return std::max(rawTop - feltTop, feltBottom - rawBottom); }
    // Where the raw force stands so far.
    double GapAt() const {
        return rawTop - feltTop >= feltBottom - rawBottom ? rawTopAt : rawBottomAt;
    }
};
VerticalReach VerticalReachOf(const std::vector<PathSample>& samples, double spacing,
                              double heartline, const RailFit& fit);

// The felt vertical force on `fit`'s heart path, sampled and averaged as
// FeltLateralAlong does: its fastest change (g/s, read as FeltLateralOver
// reads the lateral's) and its lowest (g).
struct FeltVertical {
    double onset = 0.0, onsetAt = 0.0;
    double lowest = 0.0, lowestAt = 0.0;
};
// A rail's felt vertical and vertical reach, read from one pass over it.
struct VerticalReading {
    FeltVertical felt;
    VerticalReach reach;
};
// A rail's forces from one pass over its heart path: the felt lateral's
// samples (see FeltLateralAlong) and each sample's raw vertical force (g),
// for its felt lateral to be read at once and its felt vertical only where
// asked for.
struct ForcesAlong {
    std::vector<FeltSample> along;
    std::vector<double> vertical;
};
ForcesAlong ForcesAlongOf(const std::vector<PathSample>& samples, double spacing, double heartline,
                          const RailFit& fit);

// The felt vertical and raw reach read from them.
VerticalReading VerticalOver(const ForcesAlong& forces);

// How far the rail lets the hearts stray, as its acceptance reads it: at the
// fit points; where they hold the hearts within kLargestStray, also at
// points kStrayCheckStep apart on the segments where they stray beyond
// kRefineStray, since between the fit points of a long segment the hearts
// may bulge further. That stray counts only where it breaks kLargestStray,
// so the fits compare as before wherever it holds.
// `strays` are the fit's SegmentStrays at its fit points.
Stray HeldStray(const PathWalk& walk, double heartline, const RailFit& fit,
                std::vector<Stray> strays);

Stray HeldStray(const PathWalk& walk, double heartline, const RailFit& fit);

}  // namespace cvqrn::smooth
