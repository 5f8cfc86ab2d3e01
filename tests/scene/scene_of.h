// The scene both test files build from one profile: the track and the drawn
// heart are the same profile, coloured by the given force.
#pragma once

#include "scene/track_scene.h"

namespace cvqrn::scene {

inline TrackScene SceneOf(const RideProfile& p, ForceChannel channel = ForceChannel::Vertical) {
    SceneInput input;
    input.track = &p;
    input.drawnHeart = &p;
    input.channel = channel;
    return BuildTrackScene(input);
}

}  // namespace cvqrn::scene
