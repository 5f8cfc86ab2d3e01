// The numeric routines of one copy of the core behind an interface of plain
// standard types, so that two copies built with different options can be
// linked into one program and their results compared bit for bit. No include
// guard: the test includes it once per copy, the second time with `cvqrn`
// defined to the reference copy's namespace.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace cvqrn::probe {

using Point = std::array<float, 3>;
using Curve = std::array<Point, 4>;  // one cubic segment in curve order P0, P1, P2, P3
// Segments, precision, heartline distance, start speed, end speed, filter.
using Settings = std::array<double, 6>;

// Everything a heartline run gives back (`file`: the bytes written, if any).
struct HeartlineOutcome {
    int status = 0;
    int16_t filter = 0;
    std::array<double, 3> figures{};  // input length, lowest and highest speed
    std::vector<uint8_t> file;
};

// At t: the point and the tangent (t as a single), the first and second
// derivatives, the curvature, and the fitter's own point.
std::array<double, 16> CurveFigures(const Curve& c, double t);
double NewtonRaphson(const Curve& c, const Point& p, double u);
// lsf_FitCurve over `points`: the fitted curves, and in `err` the error it reports.
std::vector<Curve> FitCurve(const std::vector<Point>& points, const Point& tHat1,
                            const Point& tHat2, int16_t segments, double& err);
// Of a track file image: radius, slope and tilt in and out; a heartline run.
std::array<double, 6> EndAnalysis(std::span<const uint8_t> image);
// `smooth`: the smooth rebuild instead of the default one.
HeartlineOutcome Heartline(std::span<const uint8_t> image, const Settings& settings,
                           bool smooth = false);

}  // namespace cvqrn::probe
