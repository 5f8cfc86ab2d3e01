// Numbers that carry their first and second derivative with respect to one
// parameter (second-order forward differentiation), and vectors of them.
// Evaluating a formula on Jets gives its exact derivatives, so the curvature
// of a path built from several formulas needs no finite differences.
#pragma once

#include <cmath>

namespace cvqrn::profile {

struct Jet {
    double v = 0.0;   // value
    double d = 0.0;   // first derivative
    double dd = 0.0;  // second derivative
};

inline Jet operator+(const Jet& a, const Jet& b) {
    return {a.v + b.v, a.d + b.d, a.dd + b.dd};
}
inline Jet operator-(const Jet& a, const Jet& b) {
    return {a.v - b.v, a.d - b.d, a.dd - b.dd};
}
inline Jet operator-(const Jet& a) {
    return {-a.v, -a.d, -a.dd};
}
inline Jet operator*(const Jet& a, const Jet& b) {
    return {a.v * b.v, a.d * b.v + a.v * b.d, a.dd * b.v + 2.0 * a.d * b.d + a.v * b.dd};
}
inline Jet operator*(double s, const Jet& a) {
    return {s * a.v, s * a.d, s * a.dd};
}
inline Jet operator*(const Jet& a, double s) {
    return s * a;
}
inline Jet operator/(const Jet& a, double s) {
    return {a.v / s, a.d / s, a.dd / s};
}
inline Jet operator+(double s, const Jet& a) {
    return {s + a.v, a.d, a.dd};
}
inline Jet operator-(double s, const Jet& a) {
    return {s - a.v, -a.d, -a.dd};
}

// f(a) from f, f' and f'' at a.v (chain rule to second order).
inline Jet Apply(const Jet& a, double f, double f1, double f2) {
    return {f, f1 * a.d, f2 * a.d * a.d + f1 * a.dd};
}
inline Jet sin(const Jet& a) {
    const double s = std::sin(a.v), c = std::cos(a.v);
    return Apply(a, s, c, -s);
}
inline Jet cos(const Jet& a) {
    const double s = std::sin(a.v), c = std::cos(a.v);
    return Apply(a, c, -s, -c);
}
inline Jet sqrt(const Jet& a) {
    const double r = std::sqrt(a.v);
    return Apply(a, r, 0.5 / r, -0.25 / (r * a.v));
}
inline Jet pow(const Jet& a, double n) {
    if (n == 2.0) return a * a;
    return Apply(a, std::pow(a.v, n), n * std::pow(a.v, n - 1.0),
                 n * (n - 1.0) * std::pow(a.v, n - 2.0));
}


// A vector in double precision; the component type is double or Jet.
template <typename Number>
struct Vec {
    Number x{};
    Number y{};
    Number z{};
};
using Vecd = Vec<double>;
using VecJ = Vec<Jet>;

template <typename N>
Vec<N> operator+(const Vec<N>& a, const Vec<N>& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
template <typename N>
Vec<N> operator-(const Vec<N>& a, const Vec<N>& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
template <typename N, typename S>
Vec<N> operator*(const S& s, const Vec<N>& a) {
    return {s * a.x, s * a.y, s * a.z};
}
template <typename N>
N Dot(const Vec<N>& a, const Vec<N>& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
template <typename N>
Vec<N> Cross(const Vec<N>& a, const Vec<N>& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Reciprocal(double x) {
    return 1.0 / x;
}
inline Jet Reciprocal(const Jet& a) {
    const double r = 1.0 / a.v;
    return Apply(a, r, -r * r, 2.0 * r * r * r);
}

template <typename N>
Vec<N> Unit(const Vec<N>& a) {
    using std::sqrt;
    const N inverse = Reciprocal(sqrt(Dot(a, a)));
    return {a.x * inverse, a.y * inverse, a.z * inverse};
}

// The value, first or second derivative of every component.
inline Vecd Value(const VecJ& a) {
    return {a.x.v, a.y.v, a.z.v};
}
inline Vecd Rate(const VecJ& a) {
    return {a.x.d, a.y.d, a.z.d};
}
inline Vecd Rate2(const VecJ& a) {
    return {a.x.dd, a.y.dd, a.z.dd};
}

}  // namespace cvqrn::profile
