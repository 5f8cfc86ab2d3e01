#include "scene/camera.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace cvqrn::scene {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr double kMaxPitch = 89.0 * kDegree;
constexpr double kKeyTurn = 5.0 * kDegree;
constexpr double kKeyPan = 0.05;
constexpr double kKeyZoom = 0.85;
// A reset leaves every point within 90 % of the half view angle, up and across.
const double kFitTangent = std::tan(0.9 * 0.5 * kFieldOfViewDeg * kDegree);

}  // namespace

void OrbitCamera::Reset(const Bounds& bounds, const std::vector<float>& points, double aspect) {
    target_ = bounds.Centre();
    const double radius = std::max(bounds.Radius(), 1.0);
    // Far enough for the bounding sphere to fit the vertical field of view.
    distance_ = radius / std::sin(0.5 * kFieldOfViewDeg * kDegree) * 1.05;
    minDistance_ = 0.5;
    maxDistance_ = 20.0 * distance_;
    yaw_ = -45.0 * kDegree;
    pitch_ = 30.0 * kDegree;
    // The sphere fits a track loosely: come closer while every point stays
    // well inside the view (at most 2000 of them looked at).
    std::vector<Vecd> fit;
    const size_t count = points.size() / 3;
    const size_t stride = std::max<size_t>(1, count / 2000);
    for (size_t i = 0; i < count; i += stride) {
        fit.push_back({static_cast<double>(points[3 * i]), static_cast<double>(points[3 * i + 1]),
                       static_cast<double>(points[3 * i + 2])});
    }
    if (fit.empty()) {  // no points: the corners of the bounds
        for (int corner = 0; corner < 8; ++corner) {
            fit.push_back({(corner & 1) ? bounds.max.x : bounds.min.x,
                           (corner & 2) ? bounds.max.y : bounds.min.y,
                           (corner & 4) ? bounds.max.z : bounds.min.z});
        }
    }
    const double wide = kFitTangent * std::clamp(aspect, 0.2, 5.0);
    const auto fits = [&] {
        const CameraLook look = Look();
        const Vecd forward = profile::Unit(look.target - look.eye);
        const Vecd right = profile::Unit(profile::Cross(forward, look.up));
        const Vecd up = profile::Cross(right, forward);
        for (const Vecd& p : fit) {
            const Vecd to = p - look.eye;
            const double along = profile::Dot(to, forward);
            if (!(along > 0.0) || std::abs(profile::Dot(to, up)) > kFitTangent * along ||
                std::abs(profile::Dot(to, right)) > wide * along) {
                return false;
            }
        }
        return true;
    };
    for (int step = 0; step < 60; ++step) {
        distance_ *= 0.95;
        if (!fits()) {
            distance_ /= 0.95;
            break;
        }
    }
}

void OrbitCamera::Orbit(double yaw, double pitch) {
    yaw_ = std::remainder(yaw_ + yaw, 2.0 * std::numbers::pi);
    pitch_ = std::clamp(pitch_ + pitch, -kMaxPitch, kMaxPitch);
}

void OrbitCamera::Pan(double right, double up) {
    const CameraLook look = Look();
    const Vecd forward = (1.0 / distance_) * (look.target - look.eye);
    const Vecd r = profile::Unit(profile::Cross(forward, Vecd{0.0, 1.0, 0.0}));
    const Vecd u = profile::Cross(r, forward);
    // A fraction of the view's height at the target's distance.
    const double height = 2.0 * distance_ * std::tan(0.5 * kFieldOfViewDeg * kDegree);
    target_ = target_ + (right * height) * r + (up * height) * u;
}

void OrbitCamera::Zoom(double factor) {
    if (!(factor > 0.0)) return;
    distance_ = std::clamp(distance_ * factor, minDistance_, maxDistance_);
}

CameraLook OrbitCamera::Look() const {
    const Vecd offset{std::cos(pitch_) * std::cos(yaw_), std::sin(pitch_),
                      std::cos(pitch_) * std::sin(yaw_)};
    return {target_ + distance_ * offset, target_, {0.0, 1.0, 0.0}};
}

void PressKey(OrbitCamera& camera, ViewKey key, bool shift, const Bounds& bounds,
              const std::vector<float>& points, double aspect) {
    switch (key) {
        case ViewKey::Left:
            shift ? camera.Pan(-kKeyPan, 0.0) : camera.Orbit(-kKeyTurn, 0.0);
            break;
        case ViewKey::Right:
            shift ? camera.Pan(kKeyPan, 0.0) : camera.Orbit(kKeyTurn, 0.0);
            break;
        case ViewKey::Up:
            shift ? camera.Pan(0.0, kKeyPan) : camera.Orbit(0.0, kKeyTurn);
            break;
        case ViewKey::Down:
            shift ? camera.Pan(0.0, -kKeyPan) : camera.Orbit(0.0, -kKeyTurn);
            break;
        case ViewKey::ZoomIn:
            camera.Zoom(kKeyZoom);
            break;
        case ViewKey::ZoomOut:
            camera.Zoom(1.0 / kKeyZoom);
            break;
        case ViewKey::Reset:
            camera.Reset(bounds, points, aspect);
            break;
    }
}

CameraLook RiderLook(const ScenePath& path, double distance) {
    const Pose pose = PoseAt(path, distance);
    return {pose.eye, pose.eye + pose.forward, pose.up};
}

}  // namespace cvqrn::scene
