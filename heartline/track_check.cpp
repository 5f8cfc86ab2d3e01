#include "heartline/track_check.h"

#include <cmath>

namespace cvqrn {

namespace {

bool IsFinite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

bool IsFiniteVertex(const TrackVertex& v) {
    return IsFinite(v.Pos) && IsFinite(v.CtrlIn) && IsFinite(v.CtrlOut) && std::isfinite(v.Roll);
}

}  // namespace cvqrn
