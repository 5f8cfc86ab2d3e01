// The 3D view's camera: an orbit about a target point (drag, arrow keys,
// wheel), or the rider's seat. Both front ends turn the eye, target and up
// it gives into their own view matrix.
#pragma once

#include <vector>

#include "scene/track_scene.h"

namespace cvqrn::scene {

inline constexpr double kFieldOfViewDeg = 50.0;  // vertical
inline constexpr double kRideFieldOfViewDeg = 75.0;

struct CameraLook {
    Vecd eye, target, up;
};

class OrbitCamera {
  public:
    // Looks at the whole of `bounds` from the south-east, 30 degrees up, as
    // close as keeps every point of `points` (x, y, z each; the corners of
    // `bounds` when empty) well inside a view `aspect` times as wide as high.
    void Reset(const Bounds& bounds, const std::vector<float>& points = {}, double aspect = 1.0);

    // Turns about the target by the angles (radians); the elevation stays
    // within 89 degrees of the horizon.
    void Orbit(double yaw, double pitch);
    // Moves the target across the view by fractions of the view's height.
    void Pan(double right, double up);
    // Brings the eye closer (factor below 1) or further, within limits set by the reset.
    void Zoom(double factor);

    CameraLook Look() const;
    double Distance() const { return distance_; }

  private:
    Vecd target_{0.0, 0.0, 0.0};
    double yaw_ = 0.0;
    double pitch_ = 0.0;
    double distance_ = 10.0;
    double minDistance_ = 1.0;
    double maxDistance_ = 1000.0;
};

// The keys of the 3D view, whatever the toolkit calls them.
enum class ViewKey { Left, Right, Up, Down, ZoomIn, ZoomOut, Reset };
// What one press does to the orbit: arrows orbit (with Shift: pan), + and -
// zoom, Home resets to `bounds` and `points` as Reset does.
void PressKey(OrbitCamera& camera, ViewKey key, bool shift, const Bounds& bounds,
              const std::vector<float>& points = {}, double aspect = 1.0);

// The rider's view at `distance`: eye at the heart, looking along the track,
// up the rider's up.
CameraLook RiderLook(const ScenePath& path, double distance);

}  // namespace cvqrn::scene
