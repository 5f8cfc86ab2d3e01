// The smooth rebuild's arithmetic in doubles: vectors (D3), the rail's cubics
// and their derivatives, the level frame a roll is measured in, and the
// roundings to single that the file stores.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

#include "geometry/bezier.h"
#include "heartline/smooth_tuning.h"
#include "model/track_record.h"
#include "portable_math/portable_math.h"
#include "vec3/vec3.h"

namespace cvqrn::smooth {

struct D3 {
    double x = 0.0, y = 0.0, z = 0.0;
};
[[gnu::always_inline]] inline D3 operator+(D3 a, D3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
[[gnu::always_inline]] inline D3 operator-(D3 a, D3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
[[gnu::always_inline]] inline D3 operator*(double s, D3 a) {
    return {s * a.x, s * a.y, s * a.z};
}
[[gnu::always_inline]] inline double Dot(D3 a, D3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
[[gnu::always_inline]] inline D3 Cross(D3 a, D3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
[[gnu::always_inline]] inline double Norm(D3 a) {
    return std::sqrt(Dot(a, a));
}
// The unit vector along `a`; zero for a zero or NaN vector.
[[gnu::always_inline]] inline D3 Unit(D3 a) {
    const double n = Norm(a);
    if (!(n > 0.0)) return {};
    return (1.0 / n) * a;
}
inline D3 ToD(const Vec3& v) {
    return {static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z)};
}
inline Vec3 ToSingle(const D3& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}
// `p` in single precision, slid along the unit vector `d` by up to `reach`
// metres to where rounding leaves it closest to the line through `p` along
// `d`. Rounding each coordinate on its own moves a point across the rail by
// up to half a unit in the last place (4 um at 100 m); on segments a few
// decimetres long that bends the rail sideways from join to join, which
// riders feel on a track drawn without a sideways bend. The steps are a
// fraction of a unit that no rounding pattern repeats within a few steps.
// With a `normal` (not zero) the point lies in an upright plane with that
// normal, where only the rounding across the plane moves the riders
// sideways: that alone is weighed.
inline Vec3 ToSingleOnLine(const D3& p, const D3& d, double reach, int steps, const D3& normal) {
    const double largest = std::max({std::abs(p.x), std::abs(p.y), std::abs(p.z)});
    const auto f = static_cast<float>(largest);
    const double unit =
        static_cast<double>(std::nextafter(f, std::numeric_limits<float>::infinity()) - f);
    const double step = 0.37 * unit;
    const bool planar = Dot(normal, normal) > 0.0;
    const auto across = [&](const Vec3& q) {
        const D3 e = ToD(q) - p;
        if (planar) return std::abs(Dot(normal, e));
        return Norm(e - Dot(e, d) * d);
    };
    Vec3 best = ToSingle(p);
    double off = across(best);
    for (int j = 1; j <= steps && j * step <= reach && off > 0.0; ++j) {
        for (const int sign : {-1, 1}) {
            const Vec3 q = ToSingle(p + (sign * j * step) * d);
            const double o = across(q);
            if (o < off) {
                best = q;
                off = o;
            }
        }
    }
    return best;
}
// `v` without its part along the unit vector `t`, as a unit vector.
inline D3 Across(const D3& v, const D3& t) {
    return Unit(v - Dot(v, t) * t);
}

// One segment in curve order, in double.
struct Cubic {
    D3 p0, p1, p2, p3;
};
inline Cubic CubicOf(const TrackData& track, int i) {
    const CurvePoints c = SegmentCurve(track, i);
    return {ToD(c.P0), ToD(c.P1), ToD(c.P2), ToD(c.P3)};
}
inline D3 PointAt(const Cubic& c, double t) {
    const double u = 1.0 - t;
    return (u * u * u) * c.p0 + (3.0 * t * u * u) * c.p1 + (3.0 * t * t * u) * c.p2 +
           (t * t * t) * c.p3;
}
inline D3 FirstAt(const Cubic& c, double t) {
    const double u = 1.0 - t;
    return (3.0 * u * u) * (c.p1 - c.p0) + (6.0 * t * u) * (c.p2 - c.p1) +
           (3.0 * t * t) * (c.p3 - c.p2);
}
inline D3 SecondAt(const Cubic& c, double t) {
    return (6.0 * (1.0 - t)) * (c.p2 - 2.0 * c.p1 + c.p0) + (6.0 * t) * (c.p3 - 2.0 * c.p2 + c.p1);
}

// The rider's frame as the ride profile and every reader build it: level-down
// is world down without its part along the tangent, side = tangent x
// level-down, down = cos R level-down - sin R side, up = -down. False where
// the tangent is vertical (no level frame).
struct LevelFrame {
    D3 levelDown, side;
};
// Whether a tangent with this length has a level frame.
[[gnu::always_inline]] inline bool HasLevelFrame(D3 tangent, double speed) {
    if (!(speed > 0.0)) return false;
    const double least = kVerticalLimit * speed;
    // hypot(x, z) is at least the larger of |x| and |z| (for components that
    // are numbers, as they are where their length `speed` is one): where that
    // one reaches the limit the answer is known without the slower hypot.
    if (std::abs(tangent.x) >= least || std::abs(tangent.z) >= least) return true;
    return portable::hypot(tangent.x, tangent.z) >= least;
}
// (`speed` is the tangent's Norm.)
[[gnu::always_inline]] inline bool LevelFrameOf(D3 tangent, double speed, LevelFrame& frame) {
    if (!HasLevelFrame(tangent, speed)) return false;
    const D3 t = (1.0 / speed) * tangent;
    const D3 worldDown{0.0, -1.0, 0.0};
    frame.levelDown = Unit(worldDown - Dot(worldDown, t) * t);
    frame.side = Cross(t, frame.levelDown);
    return true;
}
inline bool LevelFrameOf(const D3& tangent, LevelFrame& frame) {
    return LevelFrameOf(tangent, Norm(tangent), frame);
}
inline D3 UpOf(const LevelFrame& f, double roll) {
    return -1.0 * (portable::cos(roll) * f.levelDown - portable::sin(roll) * f.side);
}
// The roll that turns the level frame's up into `up` (across the tangent).
inline double RollOf(const LevelFrame& f, const D3& up) {
    const D3 down = -1.0 * up;
    return portable::atan2(-Dot(down, f.side), Dot(down, f.levelDown));
}

inline double SmoothStep(double x) {
    const double c = std::clamp(x, 0.0, 1.0);
    return c * c * (3.0 - 2.0 * c);
}

// How steep a tangent is, 0 (horizontal share kSteepHigh or more) to 1
// (kSteepLow or less).
inline double Steepness(const D3& tangent) {
    const double n = Norm(tangent);
    if (!(n > 0.0)) return 1.0;
    const double horizontal = portable::hypot(tangent.x, tangent.z) / n;
    return 1.0 - SmoothStep((horizontal - kSteepLow) / (kSteepHigh - kSteepLow));
}

// ---- Stage 1: the loaded path -------------------------------------------

}  // namespace cvqrn::smooth
