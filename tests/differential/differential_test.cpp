// The core as the project builds it against the same sources built at -O0
// (the reference copy, namespace cvqrn_ref): for many seeded random inputs
// every numeric routine must give the same bits in both. An optimiser that
// moves a single or double rounding (keeps a value in double that the
// source rounds to single, fuses a multiply-add, reorders a sum) shows up
// here in whatever build configuration runs the suite.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vec3/vec3.h"
#include "samples/random_layouts.h"
#include "trackfile/track_file.h"
// The optimised copy, then the reference copy, of the same interface.
#include "tests/differential/probe_api.h"
#define cvqrn cvqrn_ref
#include "tests/differential/probe_api.h"
#undef cvqrn

namespace {

namespace opt = cvqrn::probe;
namespace ref = cvqrn_ref::probe;
using opt::Curve;
using opt::Point;

std::string Hex(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%a", v);
    return text;
}
std::string Hex(float v) {
    return Hex(static_cast<double>(v));
}

// Bitwise equality (NaNs with equal payloads and signed zeros included).
bool SameBits(float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}
bool SameBits(double a, double b) {
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}
template <typename T, size_t N>
bool SameBits(const std::array<T, N>& a, const std::array<T, N>& b) {
    for (size_t i = 0; i < N; ++i) {
        if (!SameBits(a[i], b[i])) return false;
    }
    return true;
}

template <typename T, size_t N>
std::string Hex(const std::array<T, N>& v) {
    std::string text = "(";
    for (size_t i = 0; i < N; ++i) text += (i ? ", " : "") + Hex(static_cast<double>(v[i]));
    return text + ")";
}

// Fails with both values in hexadecimal when their bits differ.
template <typename T>
testing::AssertionResult Same(const T& built, const T& reference) {
    if (SameBits(built, reference)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "built " << Hex(built) << ", reference " << Hex(reference);
}

class Inputs {
  public:
    explicit Inputs(uint32_t seed) : rng_(seed) {}
    double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    float Coord() {
        // Track-sized coordinates most of the time, small and large ones now and then.
        const double scale = std::array{1.0, 50.0, 500.0, 1e4}[static_cast<size_t>(Int(0, 3))];
        return static_cast<float>(Uniform(-scale, scale));
    }
    Point Near(const Point& p, double spread) {
        Point q;
        for (size_t i = 0; i < 3; ++i) {
            q[i] = static_cast<float>(static_cast<double>(p[i]) + Uniform(-spread, spread));
        }
        return q;
    }
    Point Any() { return {Coord(), Coord(), Coord()}; }
    Curve AnyCurve() { return {Any(), Any(), Any(), Any()}; }
    // Mostly inside [0, 1], sometimes a little outside as Newton steps go.
    double Parameter() { return Int(0, 9) == 0 ? Uniform(-0.2, 1.2) : Uniform(0.0, 1.0); }

  private:
    std::mt19937 rng_;
};

constexpr int kCurves = 4000;

TEST(Differential, BezierPointsDerivativesAndCurvature) {
    Inputs in(1u);
    for (int i = 0; i < kCurves; ++i) {
        const Curve c = in.AnyCurve();
        const double t = in.Parameter();
        const auto ft = static_cast<float>(t);
        SCOPED_TRACE("curve " + std::to_string(i) + " at t = " + Hex(t));
        EXPECT_TRUE(Same(opt::BezierPoint(c, ft), ref::BezierPoint(c, ft)));
        EXPECT_TRUE(Same(opt::BezierTangent(c, ft), ref::BezierTangent(c, ft)));
        EXPECT_TRUE(Same(opt::BezierDerivative(c, t), ref::BezierDerivative(c, t)));
        EXPECT_TRUE(Same(opt::BezierSecondDerivative(c, t), ref::BezierSecondDerivative(c, t)));
        EXPECT_TRUE(Same(opt::BezierCurvature(c, t), ref::BezierCurvature(c, t)));
        EXPECT_TRUE(Same(opt::FitterBezierPoint(c, t), ref::FitterBezierPoint(c, t)));
    }
}

TEST(Differential, DeCasteljauAndNewtonSteps) {
    Inputs in(2u);
    for (int i = 0; i < kCurves; ++i) {
        const Curve c = in.AnyCurve();
        const int degree = in.Int(0, 3);
        const std::span<const Point> v(c.data(), static_cast<size_t>(degree) + 1);
        const double t = in.Parameter();
        // A point near the curve, as the fitter asks for.
        const Point p = in.Near(opt::BezierPoint(c, static_cast<float>(in.Parameter())), 5.0);
        const double u = in.Parameter();
        SCOPED_TRACE("curve " + std::to_string(i));
        EXPECT_TRUE(Same(opt::DeCasteljau(degree, v, t), ref::DeCasteljau(degree, v, t)));
        EXPECT_TRUE(Same(opt::NewtonRaphson(c, p, u), ref::NewtonRaphson(c, p, u)));
    }
}

// A degree-2 de Casteljau that GCC 12 at -O3 once got wrong when it was
// inlined with its degree known: it kept the first level's y in double and
// gave 0x1.85357ap-7. The curve below has these three points as the control
// points of its derivative, so the Newton step evaluates exactly this case.
TEST(Differential, DeCasteljauThatTheVectoriserGotWrong) {
    const std::array<Point, 3> points{{{0x1.25f7d8p+1f, 0x1.4154p-4f, 0x1.eaebdcp-3f},
                                       {0x1.132cbp+1f, -0x1.3149p-3f, -0x1.b7dec8p-2f},
                                       {0x1.22193p+1f, -0x1.93c8p-5f, -0x1.27b37ep-2f}}};
    const double t = 0x1.544bf7cf3f1dcp-3;
    EXPECT_TRUE(Same(opt::DeCasteljau(2, points, t)[1], 0x1.85357cp-7f));
    EXPECT_TRUE(Same(ref::DeCasteljau(2, points, t)[1], 0x1.85357cp-7f));

    const Curve curve{{{0.0f, 0.0f, 0.0f},
                       {0x1.87f52p-1f, 0x1.ac7p-6f, 0x1.4747e8p-4f},
                       {0x1.7b6dbp+0f, -0x1.81a8p-6f, -0x1.033678p-4f},
                       {0x1.1e69e8p+1f, -0x1.476cp-5f, -0x1.46bd9p-3f}}};
    for (size_t i = 0; i < 3; ++i) {
        const cvqrn::Vec3 from{curve[i][0], curve[i][1], curve[i][2]};
        const cvqrn::Vec3 to{curve[i + 1][0], curve[i + 1][1], curve[i + 1][2]};
        const cvqrn::Vec3 d = cvqrn::lsf_Vscale(cvqrn::lsf_Vsub(to, from), 3.0);
        ASSERT_TRUE(Same(Point{d.x, d.y, d.z}, points[i])) << "derivative control point " << i;
    }
    for (const Point& p : {Point{1.0f, 0.0f, 0.0f}, Point{0.5f, 0.25f, -0.125f}}) {
        EXPECT_TRUE(Same(opt::NewtonRaphson(curve, p, t), ref::NewtonRaphson(curve, p, t)));
    }
}

TEST(Differential, WholeFits) {
    Inputs in(3u);
    for (int i = 0; i < 250; ++i) {
        // Noisy samples along a random cubic, as the heartline hands them over.
        const Curve shape = in.AnyCurve();
        const int count = in.Int(2, 240);
        const double noise = std::array{0.0, 0.01, 1.0}[static_cast<size_t>(in.Int(0, 2))];
        std::vector<Point> points;
        for (int k = 0; k < count; ++k) {
            const double s = static_cast<double>(k) / (count - 1);
            points.push_back(in.Near(opt::BezierPoint(shape, static_cast<float>(s)), noise));
        }
        const Point tHat1 = opt::BezierTangent(shape, 0.0f);
        const Point back = opt::BezierTangent(shape, 1.0f);
        const Point tHat2{-back[0], -back[1], -back[2]};
        const auto segments = static_cast<int16_t>(in.Int(0, 1) ? 1 << in.Int(0, 6) : in.Int(0, 70));
        SCOPED_TRACE("fit " + std::to_string(i) + ": " + std::to_string(count) + " points, " +
                     std::to_string(segments) + " segments");
        double builtErr = 0.0;
        double referenceErr = 0.0;
        const std::vector<Curve> built = opt::FitCurve(points, tHat1, tHat2, segments, builtErr);
        const std::vector<Curve> reference = ref::FitCurve(points, tHat1, tHat2, segments, referenceErr);
        EXPECT_TRUE(Same(builtErr, referenceErr));
        ASSERT_EQ(built.size(), reference.size());
        for (size_t k = 0; k < built.size(); ++k) {
            for (size_t j = 0; j < 4; ++j) EXPECT_TRUE(Same(built[k][j], reference[k][j]));
        }
    }
}

// Heartline options as cv-qrn-cli takes them ("--segments=147").
opt::HeartlineSettings FromArgs(const std::vector<std::string>& args) {
    opt::HeartlineSettings s;
    for (const std::string& arg : args) {
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const double value = std::stod(arg.substr(eq + 1));
        const auto whole = static_cast<int16_t>(std::nearbyint(value));
        if (name == "--segments") s.segments = whole;
        if (name == "--precision") s.precision = whole;
        if (name == "--heartline") s.heartline = value;
        if (name == "--start-speed") s.startSpeed = value;
        if (name == "--end-speed") s.endSpeed = value;
        if (name == "--filter") s.filter = whole;
    }
    return s;
}

ref::HeartlineSettings ForReference(const opt::HeartlineSettings& s) {
    return {s.segments, s.precision, s.heartline, s.startSpeed, s.endSpeed, s.filter};
}

// Builder-made layouts, each with its own settings and with random ones:
// the end analysis of the layout and everything a heartline run gives back.
TEST(Differential, EndAnalysisAndHeartlineRunsOnRandomLayouts) {
    Inputs in(4u);
    int written = 0;
    for (uint32_t seed = 1000; seed < 1024; ++seed) {
        cvqrn::LayoutCase layout = cvqrn::RandomLayoutCase(seed);
        const std::vector<uint8_t> image = cvqrn::EncodeTrack(layout.track).image;
        ASSERT_TRUE(opt::Decodes(image) && ref::Decodes(image));
        SCOPED_TRACE(layout.name);
        EXPECT_TRUE(Same(opt::EndAnalysis(image), ref::EndAnalysis(image)));

        opt::HeartlineSettings random;
        random.segments = static_cast<int16_t>(in.Int(1, 120));
        random.precision = static_cast<int16_t>(in.Int(1, 12));
        random.heartline = in.Uniform(-2.0, 2.0);
        random.startSpeed = in.Uniform(8.0, 25.0);
        random.endSpeed = in.Uniform(2.0, 20.0);
        random.filter = static_cast<int16_t>(in.Int(0, 40));
        for (const opt::HeartlineSettings& s : {FromArgs(layout.args), random}) {
            const opt::HeartlineOutcome built = opt::Heartline(image, s);
            const ref::HeartlineOutcome reference = ref::Heartline(image, ForReference(s));
            EXPECT_EQ(built.status, reference.status);
            EXPECT_EQ(built.filter, reference.filter);
            EXPECT_TRUE(Same(built.figures, reference.figures));
            EXPECT_TRUE(built.file == reference.file) << "the written tracks differ";
            if (!built.file.empty()) {
                ++written;
                EXPECT_TRUE(Same(opt::EndAnalysis(built.file), ref::EndAnalysis(built.file)));
            }
        }
    }
    // Most runs must get as far as a written track, or the comparison proves little.
    EXPECT_GE(written, 30);
}

}  // namespace
