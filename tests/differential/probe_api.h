// The numeric routines of one copy of the core, behind an interface of plain
// standard types, so that two copies built with different options can be
// linked into one program and their results compared bit for bit.
//
// No include guard on purpose: the test includes this file once per copy,
// the second time with `cvqrn` defined to the reference copy's namespace.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cvqrn::probe {

using Point = std::array<float, 3>;
// One cubic segment in curve order P0, P1, P2, P3.
using Curve = std::array<Point, 4>;

struct HeartlineSettings {
    int16_t segments = 0;
    int16_t precision = 0;
    double heartline = 0.0;
    double startSpeed = 0.0;
    double endSpeed = 0.0;
    int16_t filter = 0;
};

// Everything a heartline run gives back: its status, the filter it ended
// with, the speeds it reports, and the written track file's bytes (empty
// when the run failed).
struct HeartlineOutcome {
    int status = 0;
    int16_t filter = 0;
    std::array<double, 3> figures{};  // input length, lowest and highest speed
    std::vector<uint8_t> file;
};

Point BezierPoint(const Curve& c, float t);
Point BezierTangent(const Curve& c, float t);
Point BezierDerivative(const Curve& c, double t);
Point BezierSecondDerivative(const Curve& c, double t);
double BezierCurvature(const Curve& c, double t);

Point FitterBezierPoint(const Curve& c, double u);
Point DeCasteljau(int degree, std::span<const Point> v, double t);
double NewtonRaphson(const Curve& c, const Point& p, double u);

// lsf_FitCurve over `points` with the given end tangents; the fitted curves
// in order, then the error it reports in `err`.
std::vector<Curve> FitCurve(const std::vector<Point>& points, const Point& tHat1,
                            const Point& tHat2, int16_t segments, double& err);

// Loads a track file image; false when it does not decode.
bool Decodes(std::span<const uint8_t> image);
// The six end-analysis figures of a track file image (radius, slope and tilt
// in, then out).
std::array<double, 6> EndAnalysis(std::span<const uint8_t> image);
// One heartline run on a track file image.
HeartlineOutcome Heartline(std::span<const uint8_t> image, const HeartlineSettings& settings);

}  // namespace cvqrn::probe
