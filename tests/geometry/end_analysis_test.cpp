#include "geometry/end_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/bezier.h"
#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::TrackOf;
using testing_geometry::Vertex;

// A one-segment track leaving the origin along +x whose start has the
// curvature 2c / (3 * 100^2) towards `bend` (a unit axis): the start handle is
// 100 long, the end handle sits at (200, 0, 0) + c * bend.
TrackData CurvedStart(Vec3 bend, float c) {
    const Vec3 p2{200.0f + c * bend.x, c * bend.y, c * bend.z};
    const Vec3 p3{300.0f + 3.0f * c * bend.x, 3.0f * c * bend.y, 3.0f * c * bend.z};
    return TrackOf({Vertex({0, 0, 0}, {-100, 0, 0}, {100, 0, 0}),
                    Vertex(p3, p2, {2.0f * p3.x - p2.x, 2.0f * p3.y - p2.y, 2.0f * p3.z - p2.z})});
}

const double kRightAngle = RadToDeg(2.0 * std::atan(1.0));
const double kHalfTurn = 180.00000000000017;

TEST(EndAnalysisTest, StraightLevelTrackShowsStraightAtBothEnds) {
    const EndAnalysis a = TrackEndAnalysis(TrackOf(
        {Vertex({0, 0, 0}, {-1, 0, 0}, {1, 0, 0}), Vertex({3, 0, 0}, {2, 0, 0}, {4, 0, 0})}));
    EXPECT_EQ(a.radiusIn, -1.0);
    EXPECT_EQ(a.tiltIn, -1.0);
    EXPECT_EQ(a.slopeIn, 0.0);
    EXPECT_EQ(a.radiusOut, -1.0);
    EXPECT_EQ(a.tiltOut, -1.0);
    EXPECT_EQ(a.slopeOut, 0.0);
}

TEST(EndAnalysisTest, SlopeIsSignedByClimbOrDescent) {
    const double rad = 30.0 * std::acos(-1.0) / 180.0;
    const auto cx = static_cast<float>(std::cos(rad));
    const auto sy = static_cast<float>(std::sin(rad));
    for (const float sign : {1.0f, -1.0f}) {
        const Vec3 d{cx, sign * sy, 0};
        const Vec3 end{3 * d.x, 3 * d.y, 0};
        const EndAnalysis a =
            TrackEndAnalysis(TrackOf({Vertex({0, 0, 0}, {-d.x, -d.y, 0}, d),
                                      Vertex(end, {2 * d.x, 2 * d.y, 0}, {4 * d.x, 4 * d.y, 0})}));
        EXPECT_NEAR(a.slopeIn, static_cast<double>(sign) * 30.0, 1e-5);
        EXPECT_NEAR(a.slopeOut, static_cast<double>(sign) * 30.0, 1e-5);
        EXPECT_EQ(a.radiusIn, -1.0);
    }
    // A vertical direction has no horizontal part: slope 0, not 90.
    const EndAnalysis up = TrackEndAnalysis(TrackOf(
        {Vertex({0, 0, 0}, {0, -1, 0}, {0, 1, 0}), Vertex({0, 3, 0}, {0, 2, 0}, {0, 4, 0})}));
    EXPECT_EQ(up.slopeIn, 0.0);
}

TEST(EndAnalysisTest, CurvatureLimitSeparatesStraightFromCurved) {
    // c = 7.5 gives curvature 0.0005 (radius 2000): straight.
    EXPECT_EQ(TrackEndAnalysis(CurvedStart({0, 1, 0}, 7.5f)).radiusIn, -1.0);
    EXPECT_EQ(TrackEndAnalysis(CurvedStart({0, 1, 0}, 7.5f)).tiltIn, -1.0);
    // c = 30 gives curvature 0.002: radius 500.
    EXPECT_NEAR(TrackEndAnalysis(CurvedStart({0, 1, 0}, 30.0f)).radiusIn, 500.0, 1e-9);
    EXPECT_NEAR(TrackEndAnalysis(CurvedStart({0, 0, 1}, 30.0f)).radiusIn, 500.0, 1e-9);
}

struct TiltCase {
    const char* name;
    Vec3 bend;
    double tilt;
};

class EndTilt : public ::testing::TestWithParam<TiltCase> {};

TEST_P(EndTilt, TiltMeasuresTheNormalAgainstTheDownwardVertical) {
    const TiltCase& c = GetParam();
    const EndAnalysis a = TrackEndAnalysis(CurvedStart(c.bend, 30.0f));
    EXPECT_EQ(a.slopeIn, 0.0);
    EXPECT_EQ(a.tiltIn, c.tilt);
}

INSTANTIATE_TEST_SUITE_P(
    EndAnalysisTest, EndTilt,
    ::testing::Values(TiltCase{"CurveTowardsPlusZ", {0, 0, 1}, kRightAngle},
                      TiltCase{"CurveTowardsMinusZ", {0, 0, -1}, -kRightAngle},
                      TiltCase{"Crest", {0, -1, 0}, 0.0},
                      // The normal points straight up: the cosine is exactly -1.
                      TiltCase{"Valley", {0, 1, 0}, kHalfTurn}),
    [](const ::testing::TestParamInfo<TiltCase>& p) { return std::string(p.param.name); });

TEST(EndAnalysisTest, ValleyReadsAsAHalfTurnWhateverHeadingAndSlope) {
    // The reference frame must follow the heading: a valley bends towards the
    // sky from any direction of travel, level or not.
    for (int deg = 0; deg < 360; deg += 7) {
        for (const float climb : {-40.0f, 0.0f, 25.0f}) {
            const double r = deg * std::acos(-1.0) / 180.0;
            const auto cx = static_cast<float>(std::cos(r) * 100.0);
            const auto cz = static_cast<float>(std::sin(r) * 100.0);
            const TrackData track =
                TrackOf({Vertex({0, 0, 0}, {-cx, -climb, -cz}, {cx, climb, cz}),
                         Vertex({3 * cx, 3 * climb + 150, 3 * cz}, {2 * cx, 2 * climb + 60, 2 * cz},
                                {4 * cx, 4 * climb + 240, 4 * cz})});
            const EndAnalysis a = TrackEndAnalysis(track);
            ASSERT_NE(a.radiusIn, -1.0) << deg;
            EXPECT_NEAR(std::abs(a.tiltIn), 180.0, 1e-3) << deg << " " << climb;
        }
    }
}

TEST(EndAnalysisTest, EndValuesComeFromTheLastSegment) {
    // Straight level start, then a climbing right-hand curve into the last vertex.
    const TrackVertex a = Vertex({0, 0, 0}, {-100, 0, 0}, {100, 0, 0});
    const TrackVertex b = Vertex({300, 0, 0}, {200, 0, 0}, {400, 0, 0});
    const TrackVertex c = Vertex({600, 100, 50}, {550, 80, -20}, {650, 120, 120});
    const EndAnalysis whole = TrackEndAnalysis(TrackOf({a, b, c}));
    const EndAnalysis lastOnly = TrackEndAnalysis(TrackOf({b, c}));
    EXPECT_EQ(whole.radiusIn, -1.0);
    EXPECT_EQ(whole.slopeIn, 0.0);
    EXPECT_EQ(whole.radiusOut, lastOnly.radiusOut);
    EXPECT_EQ(whole.slopeOut, lastOnly.slopeOut);
    EXPECT_EQ(whole.tiltOut, lastOnly.tiltOut);
    EXPECT_NE(whole.radiusOut, -1.0);
    // The slope out is that of the last vertex's CtrlIn handle: (50, 20, 70).
    EXPECT_NEAR(whole.slopeOut, std::atan2(20.0, std::hypot(50.0, 70.0)) * 180.0 / std::acos(-1.0),
                1e-5);
    // The six-argument form writes the same values.
    double v[6] = {9, 9, 9, 9, 9, 9};
    TrackEndAnalysis(TrackOf({a, b, c}), v[0], v[1], v[2], v[3], v[4], v[5]);
    EXPECT_EQ(v[0], whole.radiusIn);
    EXPECT_EQ(v[1], whole.slopeIn);
    EXPECT_EQ(v[2], whole.tiltIn);
    EXPECT_EQ(v[3], whole.radiusOut);
    EXPECT_EQ(v[4], whole.slopeOut);
    EXPECT_EQ(v[5], whole.tiltOut);
}

TEST(EndAnalysisTest, FirstVertexDirectionFallsBackToCtrlOutOnlyWhenCtrlInIsOnPos) {
    const Vec3 climb{0.75f, 0.5f, 0.0f};
    const TrackVertex end = Vertex({3, 3, 0}, {2, 2, 0}, {4, 4, 0});
    // CtrlIn on the position: the climb of CtrlOut shows.
    const EndAnalysis fallback =
        TrackEndAnalysis(TrackOf({Vertex({0, 0, 0}, {0, 0, 0}, climb), end}));
    EXPECT_NEAR(fallback.slopeIn, std::atan2(0.5, 0.75) * 180.0 / std::acos(-1.0), 1e-5);
    // CtrlIn elsewhere: it gives the direction, whatever CtrlOut says.
    const EndAnalysis level =
        TrackEndAnalysis(TrackOf({Vertex({0, 0, 0}, {-1, 0, 0}, climb), end}));
    EXPECT_EQ(level.slopeIn, 0.0);
}

TEST(EndAnalysisTest, FewerThanTwoVerticesReadStraightAndLevel) {
    TrackData oneVertex = TrackOf({Vertex({1, 2, 3}, {0, 1, 2}, {2, 3, 4})});
    TrackData countBeyondArray = oneVertex;
    countBeyondArray.Bezr.Vertices.resize(1);
    countBeyondArray.Bezr.VertexCount = 40;
    for (const TrackData& t : {TrackData{}, oneVertex, countBeyondArray}) {
        double v[6] = {9, 9, 9, 9, 9, 9};
        TrackEndAnalysis(t, v[0], v[1], v[2], v[3], v[4], v[5]);
        EXPECT_EQ(v[0], -1.0);
        EXPECT_EQ(v[1], 0.0);
        EXPECT_EQ(v[2], -1.0);
        EXPECT_EQ(v[3], -1.0);
        EXPECT_EQ(v[4], 0.0);
        EXPECT_EQ(v[5], -1.0);
    }
}

}  // namespace
}  // namespace cvqrn
