// What a track must hold for its curves to be walked, checked the same way by
// the heartline run and the ride profile.
#pragma once

#include "model/track_record.h"

namespace cvqrn {

// True when every coordinate and the roll of `v` are finite numbers.
bool IsFiniteVertex(const TrackVertex& v);

}  // namespace cvqrn
