// Vector operations on track-space points and directions.
//
// Track space has y as the vertical axis, positive up. Every Vec3 holds
// single-precision coordinates; every operation computes in double and rounds
// each component to single exactly once, when the result is stored.
#pragma once

namespace cvqrn {

// A point or a direction in track space (three singles).
struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// Angles are wrapped and converted with these literals, not with full-precision pi.
inline constexpr double kPi = 3.14159265358979;
inline constexpr double kTwoPi = 6.28318530717958;

// Component-wise a + b.
Vec3 lsf_Vadd(const Vec3& a, const Vec3& b);
// Component-wise a - b.
Vec3 lsf_Vsub(const Vec3& a, const Vec3& b);
// v scaled by s.
Vec3 lsf_Vscale(const Vec3& v, double s);
// Dot product, in double.
double lsf_Vdot(const Vec3& a, const Vec3& b);
// Right-handed cross product a x b (the order matters: signs are taken from it).
Vec3 lsf_Vcross(const Vec3& a, const Vec3& b);
// Euclidean length, in double.
double lsf_Vlength(const Vec3& v);
// v / |v|; (0, 0, 0) when the length is 0 or NaN.
Vec3 lsf_Vnormalize(const Vec3& v);

// Distance between two points, in double.
double Distance3D(const Vec3& a, const Vec3& b);
// Arc cosine by atan(-x / sqrt(1 - x^2)) + 2 atan(1); defined for -1 < x < 1.
double ArcCos(double x);
// Radians to degrees with the 15-digit pi literal (RadToDeg(pi) = 180.00000000000017).
double RadToDeg(double r);
// Angle between two directions in radians, 0 to pi; 0 for a zero or NaN length,
// for a cosine above 1 and for NaN; pi for a cosine at or below -1.
double AngleBetween(const Vec3& a, const Vec3& b);

}  // namespace cvqrn
