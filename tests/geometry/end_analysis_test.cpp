#include "geometry/end_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/geometry/geometry_checks.h"

namespace cvqrn {
namespace {

using testing_geometry::TrackOf;

const double kDegree = std::acos(-1.0) / 180.0;

// A one-segment track leaving the origin with the handle h (the direction of
// travel at both ends when c = 0) and bending by c towards the unit axis
// `bend`: P2 = 2h + c bend, P3 = 3h + 3c bend. With h = (100, 0, 0) the start
// has the curvature 2c / (3 * 100^2).
TrackData Segment(Vec3 h, Vec3 bend = {}, float c = 0.0f) {
    auto along = [&](float k, float m) {
        return Vec3{k * h.x + m * bend.x, k * h.y + m * bend.y, k * h.z + m * bend.z};
    };
    const Vec3 p2 = along(2, c), p3 = along(3, 3 * c);
    return TrackOf({{{0, 0, 0}, along(-1, 0), h}, {p3, p2, along(4, 5 * c)}});
}

TEST(EndAnalysisTest, RadiusAndTiltAtALevelStart) {
    const double right = RadToDeg(2.0 * std::atan(1.0));
    const struct {
        const char* name;
        Vec3 bend;
        float c;
        double radius, tilt;
    } cases[] = {
        {"curvature 0.0005 is straight", {0, 1, 0}, 7.5f, -1.0, -1.0},
        {"curve towards +z", {0, 0, 1}, 30.0f, 500.0, right},
        {"curve towards -z", {0, 0, -1}, 30.0f, 500.0, -right},
        {"crest", {0, -1, 0}, 30.0f, 500.0, 0.0},
        // The normal points straight up: the cosine is exactly -1.
        {"valley", {0, 1, 0}, 30.0f, 500.0, 180.00000000000017},
    };
    for (const auto& c : cases) {
        const EndAnalysis a = TrackEndAnalysis(Segment({100, 0, 0}, c.bend, c.c));
        EXPECT_EQ(a.slopeIn, 0.0) << c.name;
        EXPECT_NEAR(a.radiusIn, c.radius, 1e-9) << c.name;
        EXPECT_EQ(a.tiltIn, c.tilt) << c.name;
        EXPECT_NEAR(a.tiltOut, c.tilt, 1e-5) << c.name;  // the end bends the same way
    }
}

TEST(EndAnalysisTest, ClimbingAndDescendingValleysHaveSignedSlopesAndHalfTurnTilts) {
    for (const float sign : {1.0f, -1.0f}) {
        const Vec3 h{static_cast<float>(100 * std::cos(30 * kDegree)),
                     sign * static_cast<float>(100 * std::sin(30 * kDegree)), 0};
        const EndAnalysis a = TrackEndAnalysis(Segment(h, {0, 1, 0}, 60.0f));
        EXPECT_NEAR(a.slopeIn, static_cast<double>(sign) * 30.0, 1e-5);
        // The reference direction is the downward vertical seen across the track.
        EXPECT_NEAR(std::abs(a.tiltIn), 180.0, 1e-3);
    }
    // A vertical direction has no horizontal part: slope 0, not 90.
    EXPECT_EQ(TrackEndAnalysis(Segment({0, 1, 0})).slopeIn, 0.0);
}

TEST(EndAnalysisTest, EndValuesComeFromTheLastSegmentAndItsCtrlIn) {
    const TrackVertex a{{0, 0, 0}, {-100, 0, 0}, {100, 0, 0}};
    const TrackVertex b{{300, 0, 0}, {200, 0, 0}, {400, 0, 0}};
    const TrackVertex c{{600, 100, 50}, {550, 80, -20}, {700, 100, 50}};
    const EndAnalysis lastOnly = TrackEndAnalysis(TrackOf({b, c}));
    double v[6] = {9, 9, 9, 9, 9, 9};
    TrackEndAnalysis(TrackOf({a, b, c}), v[0], v[1], v[2], v[3], v[4], v[5]);
    EXPECT_EQ(std::vector<double>(v, v + 3), (std::vector<double>{-1, 0, -1}));
    EXPECT_NE(v[3], -1.0);
    EXPECT_EQ(v[3], lastOnly.radiusOut);
    EXPECT_EQ(v[5], lastOnly.tiltOut);
    // The slope out is that of the last vertex's CtrlIn handle: (50, 20, 70).
    EXPECT_NEAR(v[4], std::atan2(20.0, std::hypot(50.0, 70.0)) / kDegree, 1e-5);
}

TEST(EndAnalysisTest, StartHandleOnThePositionCountsAsStraightOrFallsBackToCtrlOut) {
    // No CtrlOut handle: the curvature is undefined and the start counts as straight.
    const EndAnalysis none = TrackEndAnalysis(Segment({0, 0, 0}, {0, 1, 0}, 30.0f));
    EXPECT_EQ(std::vector<double>({none.radiusIn, none.tiltIn}), std::vector<double>({-1, -1}));
    // No CtrlIn handle: the direction comes from CtrlOut, and only then.
    const Vec3 climb{0.75f, 0.5f, 0.0f};
    const TrackVertex end{{3, 3, 0}, {2, 2, 0}, {4, 4, 0}};
    EXPECT_NEAR(TrackEndAnalysis(TrackOf({{{0, 0, 0}, {0, 0, 0}, climb}, end})).slopeIn,
                std::atan2(0.5, 0.75) / kDegree, 1e-5);
    EXPECT_EQ(TrackEndAnalysis(TrackOf({{{0, 0, 0}, {-1, 0, 0}, climb}, end})).slopeIn, 0.0);
}

TEST(EndAnalysisTest, FewerThanTwoVerticesReadStraightAndLevel) {
    TrackData one = TrackOf({{{1, 2, 3}, {0, 1, 2}, {2, 3, 4}}}), beyond = one;
    beyond.Bezr.Vertices.resize(1);
    beyond.Bezr.VertexCount = 40;  // a count beyond the array never reads past it
    for (const TrackData& t : {TrackData{}, one, beyond}) {
        double v[6] = {9, 9, 9, 9, 9, 9};
        TrackEndAnalysis(t, v[0], v[1], v[2], v[3], v[4], v[5]);
        EXPECT_EQ(std::vector<double>(v, v + 6), (std::vector<double>{-1, 0, -1, -1, 0, -1}));
    }
}

}  // namespace
}  // namespace cvqrn
