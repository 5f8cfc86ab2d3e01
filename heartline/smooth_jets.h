// Values with their first and second derivatives along a segment (jets), and
// the heart's point and derivatives under the eased roll taken with them: the
// finish's residuals and the ride readings are worked out from these.
#pragma once

#include <cmath>

#include "heartline/sampling.h"
#include "heartline/smooth_math.h"
#include "portable_math/portable_math.h"

namespace cvqrn::smooth {

// A number with its first and second derivatives along the segment
// parameter, so that the heart's curvature comes out exactly.
struct Jet {
    double v = 0.0, d = 0.0, dd = 0.0;
};
[[gnu::always_inline]] inline Jet operator+(Jet a, Jet b) {
    return {a.v + b.v, a.d + b.d, a.dd + b.dd};
}
[[gnu::always_inline]] inline Jet operator-(Jet a, Jet b) {
    return {a.v - b.v, a.d - b.d, a.dd - b.dd};
}
[[gnu::always_inline]] inline Jet operator*(Jet a, Jet b) {
    return {a.v * b.v, a.d * b.v + a.v * b.d, a.dd * b.v + 2.0 * a.d * b.d + a.v * b.dd};
}
[[gnu::always_inline]] inline Jet operator*(double s, Jet a) {
    return {s * a.v, s * a.d, s * a.dd};
}
[[gnu::always_inline]] inline Jet operator*(Jet a, double s) {
    return s * a;
}
[[gnu::always_inline]] inline Jet operator/(Jet a, double s) {
    return (1.0 / s) * a;
}
[[gnu::always_inline]] inline Jet operator+(double s, Jet a) {
    return {s + a.v, a.d, a.dd};
}
[[gnu::always_inline]] inline Jet operator-(double s, Jet a) {
    return {s - a.v, -a.d, -a.dd};
}
inline Jet cos(const Jet& a) {
    const double c = portable::cos(a.v), s = portable::sin(a.v);
    return {c, -s * a.d, -c * a.d * a.d - s * a.dd};
}
inline Jet sin(const Jet& a) {
    const double c = portable::cos(a.v), s = portable::sin(a.v);
    return {s, c * a.d, -s * a.d * a.d + c * a.dd};
}
// 1 / sqrt(a), where `root` is std::sqrt(a.v).
[[gnu::always_inline]] inline Jet InvSqrt(Jet a, double root) {
    const double r = 1.0 / root;
    const double r3 = r * r * r;
    return {r, -0.5 * r3 * a.d, 0.75 * r3 * r * r * a.d * a.d - 0.5 * r3 * a.dd};
}
[[gnu::always_inline]] inline Jet InvSqrt(Jet a) {
    return InvSqrt(a, std::sqrt(a.v));
}

struct JetVec {
    Jet x, y, z;
};
[[gnu::always_inline]] inline JetVec operator-(JetVec a, JetVec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
[[gnu::always_inline]] inline JetVec operator*(Jet s, JetVec a) {
    return {s * a.x, s * a.y, s * a.z};
}
[[gnu::always_inline]] inline JetVec operator*(double s, JetVec a) {
    return {s * a.x, s * a.y, s * a.z};
}
[[gnu::always_inline]] inline Jet Dot(JetVec a, JetVec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
[[gnu::always_inline]] inline JetVec Cross(JetVec a, JetVec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
[[gnu::always_inline]] inline JetVec UnitOf(JetVec a) {
    return InvSqrt(Dot(a, a)) * a;
}
// UnitOf where `length` is the Norm of a's value.
[[gnu::always_inline]] inline JetVec UnitOf(JetVec a, double length) {
    return InvSqrt(Dot(a, a), length) * a;
}
[[gnu::always_inline]] inline JetVec JetOf(D3 v, D3 d, D3 dd) {
    return {{v.x, d.x, dd.x}, {v.y, d.y, dd.y}, {v.z, d.z, dd.z}};
}

// The first and second derivatives at t of the heart path of a rail segment,
// as the ride profile rides it: the rail point plus h times the riders' up
// under the file's eased roll in the level frame of the rail's tangent (the
// rail point itself where the rail is vertical). The heart point itself is
// HeartPointAt's.
struct HeartJet {
    D3 d1, d2;
};
struct RollJet {
    Jet cosRoll, sinRoll;
};
inline RollJet RollJetAt(const RollState& rolls, double t) {
    const Jet roll = UnwrappedRoll<portable::Math>(rolls, Jet{t, 1.0, 0.0});
    // cos(roll) and sin(roll), the roll's cosine and sine taken once for both.
    const double c = portable::cos(roll.v), s = portable::sin(roll.v);
    return {{c, -s * roll.d, -c * roll.d * roll.d - s * roll.dd},
            {s, c * roll.d, -s * roll.d * roll.d + c * roll.dd}};
}
// The same from the rail's first derivative at t (FirstAt's) and its Norm,
// where the caller has them: the second and third derivatives share the
// rail's second differences.
inline HeartJet HeartJetAt(const Cubic& rail, const RollJet& roll, double t, const D3& d1,
                           double speed, double heartline) {
    const D3 before = rail.p2 - 2.0 * rail.p1 + rail.p0;
    const D3 after = rail.p3 - 2.0 * rail.p2 + rail.p1;
    const D3 d2 = (6.0 * (1.0 - t)) * before + (6.0 * t) * after;
    const D3 d3 = 6.0 * (after - before);
    HeartJet heart{d1, d2};
    if (!HasLevelFrame(d1, speed)) return heart;
    const JetVec tangent = UnitOf(JetOf(d1, d2, d3), speed);
    const JetVec worldDown{{0.0, 0.0, 0.0}, {-1.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
    const JetVec levelDown = UnitOf(worldDown - Dot(worldDown, tangent) * tangent);
    const JetVec side = Cross(tangent, levelDown);
    const JetVec up = (-1.0) * (roll.cosRoll * levelDown - roll.sinRoll * side);
    heart.d1 = heart.d1 + heartline * D3{up.x.d, up.y.d, up.z.d};
    heart.d2 = heart.d2 + heartline * D3{up.x.dd, up.y.dd, up.z.dd};
    return heart;
}
inline HeartJet HeartJetAt(const Cubic& rail, const RollJet& roll, double t, double heartline) {
    const D3 d1 = FirstAt(rail, t);
    return HeartJetAt(rail, roll, t, d1, Norm(d1), heartline);
}

// The weights PointAt and FirstAt give at t to a cubic's control points and
// to its chords, taken once for a parameter the finish visits many times.
struct CubicWeights {
    double point[4], first[3];
};
inline CubicWeights CubicWeightsAt(double t) {
    const double u = 1.0 - t;
    return {{u * u * u, 3.0 * t * u * u, 3.0 * t * t * u, t * t * t},
            {3.0 * u * u, 6.0 * t * u, 3.0 * t * t}};
}

// The heart point as the ride profile rides it (see HeartJet), for a roll
// whose cosine and sine are given (the rolls do not move in the finish, so
// they are taken once), at the parameter of the weights `w`. `first` and
// `speed` get the rail's first derivative there (FirstAt's) and its Norm.
inline D3 HeartPointAt(const Cubic& rail, const CubicWeights& w, double cosRoll, double sinRoll,
                       double heartline, D3& first, double& speed) {
    const D3 point =
        w.point[0] * rail.p0 + w.point[1] * rail.p1 + w.point[2] * rail.p2 + w.point[3] * rail.p3;
    first = w.first[0] * (rail.p1 - rail.p0) + w.first[1] * (rail.p2 - rail.p1) +
            w.first[2] * (rail.p3 - rail.p2);
    speed = Norm(first);
    LevelFrame frame;
    if (!LevelFrameOf(first, speed, frame)) return point;
    return point + heartline * (-1.0 * (cosRoll * frame.levelDown - sinRoll * frame.side));
}

// The curvature vector of a path with these derivatives (zero where it stops).
[[gnu::always_inline]] inline D3 CurvatureOf(D3 d1, D3 d2) {
    const double rate2 = Dot(d1, d1);
    if (!(rate2 > 0.0)) return {};
    return (1.0 / rate2) * (d2 - (Dot(d2, d1) / rate2) * d1);
}

// ---- Vertices on the loaded path's curvature steps ------------------------

}  // namespace cvqrn::smooth
