// The loaded path, walked densely: its points with their arc length
// (PathWalk) and the samples the smooth rebuild works on (PathSample), each
// with its speed, its felt force and the riders' up directions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "heartline/sampling.h"
#include "heartline/settings.h"
#include "heartline/smooth_math.h"
#include "model/track_record.h"

namespace cvqrn::smooth {

// The loaded path measured chord by chord at small parameter steps.
struct PathWalk {
    std::vector<int> segment;
    std::vector<double> t;
    std::vector<double> s;
    std::vector<Cubic> cubics;      // per input segment
    std::vector<RollState> rolls;   // per input segment, ready for UnwrappedRoll
    std::vector<double> feltShare;  // per input segment: its banking mode, see FeltShare
    std::vector<int32_t> modes;
    // Per bucket b of kLocateBucket metres: the count of walk points before
    // arc length b x kLocateBucket, so that a search for arc length s need
    // only look between the buckets either side of the one s falls in.
    std::vector<size_t> bucket;
};

PathWalk WalkLoadedPath(const TrackData& track);

// The input segment and parameter at arc length s of the walk.
struct PathPlace {
    int segment = 0;
    double t = 0.0;
};
PathPlace Locate(const PathWalk& walk, double s);

D3 HeartAt(const PathWalk& walk, double s);

// One sample of the loaded path.
struct PathSample {
    double s = 0.0;
    double speed = 0.0;  // m/s
    D3 tangent;          // unit
    D3 feltAcross;       // felt force across the path, g
    double feltShare = 1.0;
    D3 drawnUp;              // up of the loaded roll (zero where the path is vertical)
    D3 up;                   // the chosen up direction
    D3 heart;                // the point on the loaded path
    D3 curvature;            // the loaded path's curvature vector there, 1/m
    D3 railTangent;          // the tangent of the rail that puts the heart there under `up`
    double leanWidth = 0.0;  // the half width of the lean through the vertical here (0: none)
    // That lean's crossing, where a segment is centred on it (see kFlipShare).
    double flipAt = -1.0;
};

std::vector<PathSample> SampleLoadedPath(const PathWalk& walk, const HeartlineSettings& settings,
                                         double length, double spacing);

}  // namespace cvqrn::smooth
