// What a track must hold for its curves to be walked: the check the heartline
// run and the ride profile share, with the messages both give.
#pragma once

#include <cstdint>

#include "model/track_record.h"
#include "text/result.h"

namespace cvqrn {

// True when every coordinate and the roll of `v` are finite numbers.
bool IsFiniteVertex(const TrackVertex& v);

// Ok when `track` has at least two vertices and at most `mostVertices`, a
// vertex list that holds as many as its count says, and only finite
// coordinates and rolls on them; otherwise UnusableTrack saying what is
// wrong. A walk may then index Vertices[0] to Vertices[VertexCount - 1]
// without further guards.
Result CheckTrackCurves(const TrackData& track, int32_t mostVertices);

}  // namespace cvqrn
