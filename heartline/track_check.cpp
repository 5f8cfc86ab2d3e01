#include "heartline/track_check.h"

#include <cmath>
#include <string>

namespace cvqrn {

namespace {

bool IsFinite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

Result Unusable(std::string why) {
    return Failure(Status::UnusableTrack, std::move(why));
}

}  // namespace

bool IsFiniteVertex(const TrackVertex& v) {
    return IsFinite(v.Pos) && IsFinite(v.CtrlIn) && IsFinite(v.CtrlOut) && std::isfinite(v.Roll);
}

Result CheckTrackCurves(const TrackData& track, int32_t mostVertices) {
    const int32_t count = track.Bezr.VertexCount;
    if (count < 2) {
        return Unusable("The track needs at least two vertices; it has " + std::to_string(count) +
                        ".");
    }
    if (static_cast<size_t>(count) > track.Bezr.Vertices.size()) {
        return Unusable("The track's vertex list holds " +
                        std::to_string(track.Bezr.Vertices.size()) +
                        " entries but its count says " + std::to_string(count) + ".");
    }
    if (count > mostVertices) {
        return Unusable("The track has " + std::to_string(count) + " vertices; at most " +
                        std::to_string(mostVertices) + " (" + std::to_string(mostVertices - 1) +
                        " segments) can be sampled.");
    }
    for (int32_t i = 0; i < count; ++i) {
        if (!IsFiniteVertex(track.Bezr.Vertices[static_cast<size_t>(i)])) {
            return Unusable("Vertex " + std::to_string(i) +
                            " of the track holds a coordinate or roll that is not a finite "
                            "number.");
        }
    }
    return {};
}

}  // namespace cvqrn
