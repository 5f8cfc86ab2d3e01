// Mathematical functions that give the same bits in every build.
//
// The C libraries the project ships with (glibc natively, musl in the page)
// round sin, cos, atan, atan2 and hypot differently in the last bit
// (tests/libm). Where those last bits are amplified, as in the smooth
// rebuild's least-squares solve, the native tools and the page would write
// different tracks. These functions are computed from + - * /, sqrt and fmod
// only, which IEEE 754 makes exact or correctly rounded on every target, with
// the project's -ffp-contract=off. They are musl's (see portable_math.cpp):
// so they answer bit for bit as the page's own library does, within one unit
// in the last place of the true result.
//
// Names follow the C library's, so a call switches by its namespace alone:
// std::sin(x) becomes portable::sin(x).
#pragma once

namespace cvqrn::portable {

// sin and cos of x in radians. For |x| beyond 2^20 pi/2 (no angle the core
// takes) x is first reduced exactly modulo the double nearest 2 pi, which
// keeps the result deterministic and within -1..1 but not the true value.
double sin(double x);
double cos(double x);
// atan(x) in -pi/2..pi/2, atan2(y, x) in -pi..pi with the C library's
// special values (signed zeros, infinities, NaN).
double atan(double x);
double atan2(double y, double x);
// sqrt(x^2 + y^2) without overflow or underflow on the way.
double hypot(double x, double y);

// The math policy of templates that take their functions as a parameter
// (heartline/sampling.h's UnwrappedRoll): these functions for doubles, and
// for a number type that carries derivatives its own cos and sin found
// beside it by argument-dependent lookup. Squares are one multiplication.
struct Math {
    template <typename Number>
    static Number Cos(const Number& x) {
        return cos(x);
    }
    template <typename Number>
    static Number Sin(const Number& x) {
        return sin(x);
    }
    template <typename Number>
    static Number Square(const Number& x) {
        return x * x;
    }
};

}  // namespace cvqrn::portable
