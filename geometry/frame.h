// Named steps of the moving frame along a track: directions across the
// track, level references and signed angles. Each helper is the exact
// sequence of vector operations it names, so every caller rounds alike.
#pragma once

#include "vec3/vec3.h"

namespace cvqrn {

// World down: gravity points along -y.
inline constexpr Vec3 kWorldDown{0.0f, -1.0f, 0.0f};

// True when the two points are equal in every coordinate.
inline bool SamePoint(const Vec3& a, const Vec3& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// `v` with its component along `tangent` removed, as a unit vector:
// unit(tangent x (v x tangent)). `tangent` need not be a unit vector.
inline Vec3 RemoveTangentPart(const Vec3& v, const Vec3& tangent) {
    return lsf_Vnormalize(lsf_Vcross(tangent, lsf_Vcross(v, tangent)));
}

// The down direction across the track with zero roll (world down without its
// tangent part): unit(tangent x unit(kWorldDown x tangent)).
inline Vec3 LevelDownAcross(const Vec3& tangent) {
    return lsf_Vnormalize(lsf_Vcross(tangent, lsf_Vnormalize(lsf_Vcross(kWorldDown, tangent))));
}

// The principal normal, towards the centre of curvature, from the first and
// second derivatives and the tangent: unit((d1 x d2) x tangent).
inline Vec3 PrincipalNormal(const Vec3& d1, const Vec3& d2, const Vec3& tangent) {
    return lsf_Vnormalize(lsf_Vcross(lsf_Vcross(d1, d2), tangent));
}

// The angle from `b` to `a` (0 to pi, AngleBetween), negative when
// (a x b) . axis < 0: the signed angle about `axis`.
inline double SignedAngle(const Vec3& a, const Vec3& b, const Vec3& axis) {
    const double angle = AngleBetween(a, b);
    return lsf_Vdot(lsf_Vcross(a, b), axis) < 0.0 ? -angle : angle;
}

}  // namespace cvqrn
