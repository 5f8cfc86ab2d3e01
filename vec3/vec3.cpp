#include "vec3/vec3.h"

#include <cmath>

namespace cvqrn {

namespace {

// The one conversion of a computed component to its stored precision.
Vec3 Store(double x, double y, double z) {
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
}

double Square(double x) {
    return std::pow(x, 2.0);
}

}  // namespace

Vec3 lsf_Vadd(const Vec3& a, const Vec3& b) {
    return Store(static_cast<double>(a.x) + static_cast<double>(b.x),
                 static_cast<double>(a.y) + static_cast<double>(b.y),
                 static_cast<double>(a.z) + static_cast<double>(b.z));
}

Vec3 lsf_Vsub(const Vec3& a, const Vec3& b) {
    return Store(static_cast<double>(a.x) - static_cast<double>(b.x),
                 static_cast<double>(a.y) - static_cast<double>(b.y),
                 static_cast<double>(a.z) - static_cast<double>(b.z));
}

Vec3 lsf_Vscale(const Vec3& v, double s) {
    return Store(static_cast<double>(v.x) * s, static_cast<double>(v.y) * s,
                 static_cast<double>(v.z) * s);
}

double lsf_Vdot(const Vec3& a, const Vec3& b) {
    return static_cast<double>(a.x) * static_cast<double>(b.x) +
           static_cast<double>(a.y) * static_cast<double>(b.y) +
           static_cast<double>(a.z) * static_cast<double>(b.z);
}

Vec3 lsf_Vcross(const Vec3& a, const Vec3& b) {
    const auto ax = static_cast<double>(a.x), ay = static_cast<double>(a.y),
               az = static_cast<double>(a.z);
    const auto bx = static_cast<double>(b.x), by = static_cast<double>(b.y),
               bz = static_cast<double>(b.z);
    return Store(ay * bz - az * by, az * bx - ax * bz, ax * by - ay * bx);
}

double lsf_Vlength(const Vec3& v) {
    return std::sqrt(lsf_Vdot(v, v));
}

Vec3 lsf_Vnormalize(const Vec3& v) {
    const double len = lsf_Vlength(v);
    if (!(len > 0.0)) return {0.0f, 0.0f, 0.0f};  // zero or NaN length
    return Store(static_cast<double>(v.x) / len, static_cast<double>(v.y) / len,
                 static_cast<double>(v.z) / len);
}

double Distance3D(const Vec3& a, const Vec3& b) {
    const double dx = static_cast<double>(b.x) - static_cast<double>(a.x);
    const double dy = static_cast<double>(b.y) - static_cast<double>(a.y);
    const double dz = static_cast<double>(b.z) - static_cast<double>(a.z);
    return std::sqrt(Square(dx) + Square(dy) + Square(dz));
}

double ArcCos(double x) {
    // Arc cosine through the arc tangent, in this order: the results must match
    // the same formula evaluated elsewhere to the last bit.
    const double s = std::sqrt(-x * x + 1.0);
    const double q = -x / s;
    return std::atan(q) + 2.0 * std::atan(1.0);
}

double RadToDeg(double r) {
    return r / kPi * 180.0;
}

double AngleBetween(const Vec3& a, const Vec3& b) {
    const double p = lsf_Vlength(a) * lsf_Vlength(b);
    if (!(p > 0.0)) return 0.0;  // a zero or NaN length has no direction
    const double c = lsf_Vdot(a, b) / p;
    if (c == 1.0) return 0.0;
    // Opposite directions: rounding can push the cosine of two antiparallel
    // vectors just below -1; that is still a half turn, never 0.
    if (c <= -1.0) return 4.0 * std::atan(1.0);
    if (!(c < 1.0)) return 0.0;  // above 1 or NaN
    return ArcCos(c);
}

}  // namespace cvqrn
