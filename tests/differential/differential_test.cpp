// The core as the project builds it, and the same sources built as the
// release builds them (-O3, namespace cvqrn_o3; the release build's own core
// is that copy), each against the sources built at -O0 (namespace
// cvqrn_ref): on seeded random inputs every numeric routine must give the
// same bits, so an optimiser that moves a single or double rounding (keeps a
// double, fuses a multiply-add, reorders a sum) at either level fails here,
// in the everyday build.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "heartline/settings.h"
#include "samples/random_layouts.h"
#include "samples/sample_tracks.h"
#include "trackfile/track_file.h"
// The copy as built, the release's copy and the reference copy of one interface.
#include "tests/differential/probe_api.h"
#ifdef CVQRN_RELEASE_COPY
#define cvqrn cvqrn_o3
#include "tests/differential/probe_api.h"
#undef cvqrn
#endif
#define cvqrn cvqrn_ref
#include "tests/differential/probe_api.h"
#undef cvqrn

namespace {

namespace ref = cvqrn_ref::probe;
using ref::Curve;
using ref::Point;

// One optimised copy of the probe interface, by the namespace it was built in.
#define CVQRN_OPTIMISED_COPY(Name, space)                                                        \
    struct Name {                                                                                \
        static constexpr const char* kName = #Name;                                              \
        static auto CurveFigures(const Curve& c, double t) { return space::CurveFigures(c, t); } \
        static double NewtonRaphson(const Curve& c, const Point& p, double u) {                  \
            return space::NewtonRaphson(c, p, u);                                                \
        }                                                                                        \
        static auto FitCurve(const std::vector<Point>& points, const Point& tHat1,               \
                             const Point& tHat2, int16_t segments, double& err) {                \
            return space::FitCurve(points, tHat1, tHat2, segments, err);                         \
        }                                                                                        \
        static auto EndAnalysis(std::span<const uint8_t> image) {                                \
            return space::EndAnalysis(image);                                                    \
        }                                                                                        \
        static auto Heartline(std::span<const uint8_t> image, const ref::Settings& s,            \
                              bool smooth = false) {                                             \
            return space::Heartline(image, s, smooth);                                           \
        }                                                                                        \
    }
CVQRN_OPTIMISED_COPY(AsBuilt, cvqrn::probe);
#ifdef CVQRN_RELEASE_COPY
CVQRN_OPTIMISED_COPY(AsReleased, cvqrn_o3::probe);
#endif
#undef CVQRN_OPTIMISED_COPY

// Each test below runs the reference once per input and checks every
// optimised copy against it: the build as it stands, and the release's where
// the build is not the release itself.
template <typename Check>
void ForEachCopy(const Check& check) {
    {
        SCOPED_TRACE(AsBuilt::kName);
        check(AsBuilt{});
    }
#ifdef CVQRN_RELEASE_COPY
    SCOPED_TRACE(AsReleased::kName);
    check(AsReleased{});
#endif
}

// Every bit of a value or of an array of them, in hexadecimal floating point.
template <typename T>
std::string Hex(const T& v) {
    std::ostringstream text;
    if constexpr (std::is_arithmetic_v<T>) {
        text << std::hexfloat << v;
    } else {
        for (const auto x : v) text << Hex(x) << ' ';
    }
    return text.str();
}

// Fails unless the bits of both values are equal (NaN payloads and signed
// zeros included; the arrays have no padding).
template <typename T>
testing::AssertionResult Same(const T& built, const T& reference) {
    if (std::memcmp(&built, &reference, sizeof(T)) == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "built " << Hex(built) << ", reference " << Hex(reference);
}

class Inputs {
  public:
    explicit Inputs(uint32_t seed) : rng_(seed) {}
    double Uniform(double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng_); }
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    float Coord() {
        // Track-sized coordinates most of the time, small and large ones now and then.
        const double scale = std::array{1.0, 50.0, 500.0, 1e4}[static_cast<size_t>(Int(0, 3))];
        return static_cast<float>(Uniform(-scale, scale));
    }
    float Near(float x, double spread) {
        return static_cast<float>(static_cast<double>(x) + Uniform(-spread, spread));
    }
    Point Near(const Point& p, double s) { return {Near(p[0], s), Near(p[1], s), Near(p[2], s)}; }
    Point Any() { return {Coord(), Coord(), Coord()}; }
    Curve AnyCurve() { return {Any(), Any(), Any(), Any()}; }
    // Mostly inside [0, 1], sometimes a little outside as Newton steps go.
    double Parameter() { return Int(0, 9) == 0 ? Uniform(-0.2, 1.2) : Uniform(0.0, 1.0); }

  private:
    std::mt19937 rng_;
};

constexpr int kCurves = 4000;

// The reference copy's point (which = 0) or tangent (which = 1) at t.
Point On(const Curve& c, double t, size_t which) {
    const std::array<double, 16> f = ref::CurveFigures(c, t);
    const auto at = [&](size_t k) { return static_cast<float>(f[3 * which + k]); };
    return {at(0), at(1), at(2)};
}

TEST(Differential, BezierPointsDerivativesAndCurvature) {
    Inputs in(1u);
    for (int i = 0; i < kCurves; ++i) {
        const Curve c = in.AnyCurve();
        const double t = in.Parameter();
        SCOPED_TRACE("curve " + std::to_string(i) + " at t = " + Hex(t));
        const auto reference = ref::CurveFigures(c, t);
        ForEachCopy([&](auto copy) { EXPECT_TRUE(Same(copy.CurveFigures(c, t), reference)); });
    }
}

TEST(Differential, NewtonSteps) {
    Inputs in(2u);
    for (int i = 0; i < kCurves; ++i) {
        const Curve c = in.AnyCurve();
        // A point near the curve, as the fitter asks for.
        const Point p = in.Near(On(c, in.Parameter(), 0), 5.0);
        const double u = in.Parameter();
        SCOPED_TRACE("curve " + std::to_string(i));
        const double reference = ref::NewtonRaphson(c, p, u);
        ForEachCopy(
            [&](auto copy) { EXPECT_TRUE(Same(copy.NewtonRaphson(c, p, u), reference)); });
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
            points.push_back(in.Near(On(shape, s, 0), noise));
        }
        const Point tHat1 = On(shape, 0.0, 1);
        const Point back = On(shape, 1.0, 1);
        const Point tHat2{-back[0], -back[1], -back[2]};
        const auto segments =
            static_cast<int16_t>(in.Int(0, 1) ? 1 << in.Int(0, 6) : in.Int(0, 70));
        SCOPED_TRACE("fit " + std::to_string(i) + ": " + std::to_string(count) + " points, " +
                     std::to_string(segments) + " segments");
        double referenceErr = 0.0;
        const std::vector<Curve> reference =
            ref::FitCurve(points, tHat1, tHat2, segments, referenceErr);
        ForEachCopy([&](auto copy) {
            double builtErr = 0.0;
            const std::vector<Curve> built =
                copy.FitCurve(points, tHat1, tHat2, segments, builtErr);
            EXPECT_TRUE(Same(builtErr, referenceErr));
            ASSERT_EQ(built.size(), reference.size());
            for (size_t k = 0; k < built.size(); ++k) {
                for (size_t j = 0; j < 4; ++j) EXPECT_TRUE(Same(built[k][j], reference[k][j]));
            }
        });
    }
}

// The settings of a layout's heartline options ("--segments=147", ...), which
// come in the order of probe::Settings.
ref::Settings FromArgs(const std::vector<std::string>& args) {
    ref::Settings s{};
    for (size_t i = 0; i < s.size(); ++i) {
        s[i] = std::stod(args.at(i).substr(args[i].find('=') + 1));
    }
    return s;
}

// Builder-made layouts, each with its own settings and with random ones:
// the end analysis of the layout and everything a heartline run gives back.
TEST(Differential, EndAnalysisAndHeartlineRunsOnRandomLayouts) {
    Inputs in(4u);
    int tracks = 0;
    for (uint32_t seed = 1000; seed < 1024; ++seed) {
        cvqrn::LayoutCase layout = cvqrn::RandomLayoutCase(seed);
        const std::vector<uint8_t> image = cvqrn::EncodeTrack(layout.track).image;
        SCOPED_TRACE(layout.name);
        const auto analysis = ref::EndAnalysis(image);
        ForEachCopy([&](auto copy) { EXPECT_TRUE(Same(copy.EndAnalysis(image), analysis)); });

        const auto whole = [&in](int lo, int hi) { return static_cast<double>(in.Int(lo, hi)); };
        const ref::Settings random{whole(1, 120),         whole(1, 12),
                                   in.Uniform(-2.0, 2.0), in.Uniform(8.0, 25.0),
                                   in.Uniform(2.0, 20.0), whole(0, 40)};
        for (const ref::Settings& s : {FromArgs(layout.args), random}) {
            const ref::HeartlineOutcome reference = ref::Heartline(image, s);
            const auto writtenAnalysis =
                reference.file.empty() ? analysis : ref::EndAnalysis(reference.file);
            ForEachCopy([&](auto copy) {
                const auto built = copy.Heartline(image, s);
                EXPECT_EQ(built.status, reference.status);
                EXPECT_EQ(built.filter, reference.filter);
                EXPECT_TRUE(Same(built.figures, reference.figures));
                EXPECT_TRUE(built.file == reference.file) << "the written tracks differ";
                if (!built.file.empty()) {
                    EXPECT_TRUE(Same(copy.EndAnalysis(built.file), writtenAnalysis));
                }
            });
            if (!reference.file.empty()) ++tracks;
        }
    }
    // Most runs must get as far as a written track, or the comparison proves little.
    EXPECT_GE(tracks, 30);
}

// The smooth rebuild of an image by the reference copy, and by each
// optimised copy, which must write the same bytes; whether a track was
// written. The reference, the slowest of the three, runs once for both.
bool SameSmoothRebuilds(std::span<const uint8_t> image, const ref::Settings& s) {
    const ref::HeartlineOutcome reference = ref::Heartline(image, s, true);
    ForEachCopy([&](auto copy) {
        const auto built = copy.Heartline(image, s, true);
        EXPECT_EQ(built.status, reference.status);
        EXPECT_TRUE(built.file == reference.file) << "the written tracks differ";
    });
    return !reference.file.empty();
}

// The smooth rebuild sums and solves in double through Eigen: its kernels
// must not reorder or fuse anything either.
TEST(Differential, SmoothRebuildsOnRandomLayouts) {
    int written = 0;
    for (uint32_t seed = 1000; seed < 1012; ++seed) {
        const cvqrn::LayoutCase layout = cvqrn::RandomLayoutCase(seed);
        SCOPED_TRACE(layout.name);
        if (SameSmoothRebuilds(cvqrn::EncodeTrack(layout.track).image, FromArgs(layout.args))) {
            ++written;
        }
    }
    EXPECT_GE(written, 6);
}

// Through the vertical the smooth rebuild turns the rail's tangent to steer
// the level frame, which magnifies every last bit: a loop, a top hat and the
// loop-and-helix sample at 1x and 4x the recommended segments, each written.
// One test per layout and count, so that the suite runs them side by side
// (as one test they were the suite's longest by far).
struct VerticalCase {
    const char* name;
    cvqrn::TrackData (*track)();
    double v0, v1;
};
class SmoothRebuildsThroughTheVertical
    : public testing::TestWithParam<std::tuple<VerticalCase, double>> {};

TEST_P(SmoothRebuildsThroughTheVertical, Written) {
    const auto& [c, segments] = GetParam();
    const std::vector<uint8_t> image = cvqrn::EncodeTrack(c.track()).image;
    EXPECT_TRUE(SameSmoothRebuilds(image, {segments, 6.0, 1.04, c.v0, c.v1, 15.0}));
}

const cvqrn::HeartlineSettings kDefaults;
INSTANTIATE_TEST_SUITE_P(
    Differential, SmoothRebuildsThroughTheVertical,
    testing::Combine(testing::Values(VerticalCase{"loop", cvqrn::VerticalLoop, 24.0, 23.0},
                                     VerticalCase{"top_hat", cvqrn::TopHat, 26.0, 25.0},
                                     VerticalCase{"loop_and_helix", cvqrn::LoopAndHelix,
                                                  kDefaults.startspeed, kDefaults.endspeed}),
                     testing::Values(100.0, 400.0)),
    [](const testing::TestParamInfo<std::tuple<VerticalCase, double>>& param) {
        return std::string(std::get<0>(param.param).name) + "_at_" +
               std::to_string(static_cast<int>(std::get<1>(param.param)));
    });

}  // namespace
