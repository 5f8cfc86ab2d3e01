// GenerateHeartline seen from its caller: what it writes into the track, what
// it refuses, how it fails, and the progress it reports.
#include "heartline/generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "geometry/vector3.h"
#include "heartline_test_tracks.h"
#include "samples/sample_tracks.h"
#include "trackfile/track_file.h"

namespace cvqrn {
namespace {

using testing::LevelStraight;
using testing::ProgressLog;

std::vector<uint8_t> Image(TrackData track) {
    return EncodeTrack(track);
}

HeartlineResult RunDefaults(TrackData& track, int16_t& filter, ProgressFeedback* log = nullptr) {
    return GenerateHeartline(track, kDefaultSegments, kDefaultPrecision, kDefaultHeartline,
                             kDefaultStartSpeed, kDefaultEndSpeed, filter, log);
}

TEST(Generator, DefaultsGiveOneHundredSegmentsAndCountEveryStep) {
    TrackData track = FamilyCoaster();
    int16_t filter = kDefaultFilter;
    ProgressLog log;
    const HeartlineResult result = RunDefaults(track, filter, &log);
    ASSERT_TRUE(result) << result.detail;

    EXPECT_EQ(track.Bezr.VertexCount, 101);
    ASSERT_EQ(track.Bezr.Vertices.size(), 102u);
    EXPECT_EQ(track.Bezr.Size, 0);
    EXPECT_EQ(track.Bezr.ChildCount, 0);
    // 601 samples + 15 passes + 100 fits of 7 points; the total counts 1318.
    ASSERT_EQ(log.steps.size(), 601u + 15u + 700u);
    for (size_t i = 0; i < log.steps.size(); ++i) {
        EXPECT_EQ(log.steps[i].first, static_cast<int32_t>(i) + 1);
        EXPECT_EQ(log.steps[i].second, 1318);
    }
    EXPECT_EQ(filter, 15);
    EXPECT_GT(result.lengthIn, 250.0);
    EXPECT_LT(result.minSpeed, result.maxSpeed);
}

TEST(Generator, NewVerticesHaveMirroredEndsCollinearHandlesAndTheRollFlag) {
    TrackData track = LoopAndHelix();
    int16_t filter = kDefaultFilter;
    ASSERT_TRUE(RunDefaults(track, filter));
    const auto& v = track.Bezr.Vertices;
    const int last = track.Bezr.VertexCount - 1;

    const Vec3 mirroredIn = lsf_Vadd(v[0].Pos, lsf_Vsub(v[0].Pos, v[0].CtrlOut));
    EXPECT_EQ(v[0].CtrlIn.x, mirroredIn.x);
    EXPECT_EQ(v[0].CtrlIn.y, mirroredIn.y);
    EXPECT_EQ(v[0].CtrlIn.z, mirroredIn.z);
    const Vec3 mirroredOut = lsf_Vadd(v[last].Pos, lsf_Vsub(v[last].Pos, v[last].CtrlIn));
    EXPECT_EQ(v[last].CtrlOut.x, mirroredOut.x);
    EXPECT_EQ(v[last].CtrlOut.y, mirroredOut.y);
    EXPECT_EQ(v[last].CtrlOut.z, mirroredOut.z);

    for (int s = 0; s <= last; ++s) {
        EXPECT_TRUE(v[s].FlagA) << s;
        EXPECT_FALSE(v[s].RelativeRoll) << s;
        EXPECT_FALSE(v[s].FlagC) << s;
    }
    EXPECT_FALSE(v[last + 1].FlagA);  // the spare entry stays zero
    for (int s = 1; s < last; ++s) {
        SCOPED_TRACE(s);
        const Vec3 in = lsf_Vsub(v[s].CtrlIn, v[s].Pos);
        const Vec3 out = lsf_Vsub(v[s].CtrlOut, v[s].Pos);
        const double lengths = lsf_Vlength(in) * lsf_Vlength(out);
        ASSERT_GT(lengths, 0.0);
        // Opposite directions on one line: the sine of the angle is ~0, the cosine -1.
        EXPECT_LT(lsf_Vlength(lsf_Vcross(in, out)) / lengths, 1e-5);
        EXPECT_LT(lsf_Vdot(in, out) / lengths, -0.99999);
    }
}

TEST(Generator, LevelStraightWithFeltBankingLiesHeartlineBelowWithoutRoll) {
    const float height = 10.0f;
    for (double heartline : {1.04, 0.0, -1.1}) {
        SCOPED_TRACE(heartline);
        TrackData track = LevelStraight(6, 120.0f, height);
        int16_t filter = kDefaultFilter;
        const HeartlineResult result = GenerateHeartline(
            track, 20, 6, heartline, kDefaultStartSpeed, kDefaultEndSpeed, filter, nullptr);
        ASSERT_TRUE(result) << result.detail;
        const float expectedY = static_cast<float>(static_cast<double>(height) - heartline);
        for (int s = 0; s < track.Bezr.VertexCount; ++s) {
            const TrackVertex& v = track.Bezr.Vertices[s];
            EXPECT_EQ(v.Roll, 0.0f) << s;
            EXPECT_EQ(v.Pos.y, expectedY) << s;
            EXPECT_EQ(v.Pos.z, 0.0f) << s;
            EXPECT_EQ(v.CtrlIn.y, expectedY) << s;
            EXPECT_EQ(v.CtrlOut.y, expectedY) << s;
        }
        EXPECT_EQ(track.Bezr.Vertices[0].Pos.x, 0.0f);
        EXPECT_EQ(track.Bezr.Vertices[20].Pos.x, 120.0f);
    }
}

TEST(Generator, FeltBankingLeansOutOfALeftTurnWithPositiveRoll) {
    // A level left turn of radius 20 at about 14 m/s: the riders are pressed
    // outwards, so the rail moves out and the track rolls positive.
    LayoutBuilder b({0.0, 5.0, 0.0});
    b.Straight(10.0).Turn(90.0, 20.0).Straight(10.0);
    TrackData track = b.Build("turn");
    int16_t filter = kDefaultFilter;
    ASSERT_TRUE(GenerateHeartline(track, 30, 6, 1.04, 14.3, 14.0, filter, nullptr));
    // The turn's centre lies at (10, 5, -20).
    const TrackVertex& middle = track.Bezr.Vertices[15];
    const double dx = static_cast<double>(middle.Pos.x) - 10.0;
    const double dz = static_cast<double>(middle.Pos.z) + 20.0;
    EXPECT_GT(std::sqrt(dx * dx + dz * dz), 20.3);
    EXPECT_LT(middle.Pos.y, 5.0f);
    EXPECT_GT(middle.Roll, 0.5f);  // tan(roll) = v^2 / (g r) ~ 1
    EXPECT_LT(middle.Roll, 1.0f);
}

TEST(Generator, KeepInputModeReproducesTheInputRollsBothWays) {
    for (float roll : {0.5f, -0.5f, 2.0f}) {
        SCOPED_TRACE(roll);
        TrackData track = LevelStraight(4, 80.0f, 3.0f, roll, kModeKeepInput, 0);
        int16_t filter = 0;  // no pass runs: the sampled directions stay as they are
        ASSERT_TRUE(GenerateHeartline(track, 10, 6, 1.04, 14.3, 12.9, filter, nullptr));
        for (int s = 0; s <= 10; ++s) {
            EXPECT_NEAR(track.Bezr.Vertices[s].Roll, roll, 1e-5) << s;
        }
    }
}

TEST(Generator, RollsOf170AndMinus170DegreesMeetThe20DegreeWayRound) {
    const float deg = static_cast<float>(kPi / 180.0);
    TrackData track = LevelStraight(1, 60.0f, 3.0f, 0.0f, kModeKeepInput, 0);
    track.Bezr.Vertices[0].Roll = 170.0f * deg;
    track.Bezr.Vertices[1].Roll = -170.0f * deg;
    int16_t filter = 0;
    ASSERT_TRUE(GenerateHeartline(track, 10, 6, 1.04, 14.3, 12.9, filter, nullptr));
    for (int s = 0; s <= 10; ++s) {
        const double roll = track.Bezr.Vertices[s].Roll;
        // Through 180 degrees, never through 0.
        EXPECT_GE(std::abs(roll), 169.99 * static_cast<double>(deg)) << s;
    }
    EXPECT_NEAR(track.Bezr.Vertices[0].Roll, 170.0f * deg, 1e-5);
    EXPECT_NEAR(track.Bezr.Vertices[10].Roll, -170.0f * deg, 1e-5);
}

TEST(Generator, RelativeRollsAddUpAndWrap) {
    TrackData track = LevelStraight(2, 80.0f, 3.0f, 0.0f, kModeKeepInput, 0);
    track.Bezr.Vertices[0].Roll = 1.0f;
    track.Bezr.Vertices[1].Roll = 1.0f;
    track.Bezr.Vertices[1].RelativeRoll = true;  // absolute 2.0
    track.Bezr.Vertices[2].Roll = 2.0f;
    track.Bezr.Vertices[2].RelativeRoll = true;  // absolute 4.0, wrapped to 4.0 - 2 pi
    int16_t filter = 0;
    ASSERT_TRUE(GenerateHeartline(track, 2, 6, 1.04, 14.3, 12.9, filter, nullptr));
    // Vertex 1 sits within a few walk steps of input vertex 1.
    EXPECT_NEAR(track.Bezr.Vertices[0].Roll, 1.0, 1e-5);
    EXPECT_NEAR(track.Bezr.Vertices[1].Roll, 2.0, 1e-4);
    EXPECT_NEAR(track.Bezr.Vertices[2].Roll, 4.0 - kTwoPi, 1e-5);
}

TEST(Generator, SegmentListIsResizedKeepingItsEntriesAndRascIsEmptied) {
    for (int16_t segments : {int16_t{3}, int16_t{5}, int16_t{8}}) {
        SCOPED_TRACE(segments);
        TrackData track = LevelStraight(5, 100.0f, 4.0f);
        for (int i = 0; i < 5; ++i) {
            track.Segm.Segments[i].Type = 2;
            track.Segm.Segments[i].Val24[2] = 100 + i;
        }
        track.Rasc.Count = 2;
        track.Rasc.Items.assign(3, RascEntry{});
        int16_t filter = kDefaultFilter;
        ASSERT_TRUE(GenerateHeartline(track, segments, 6, 1.04, 14.3, 12.9, filter, nullptr));
        EXPECT_EQ(track.Segm.SegmentCount, segments);
        ASSERT_EQ(track.Segm.Segments.size(), static_cast<size_t>(segments) + 1);
        for (int i = 0; i <= segments; ++i) {
            const TrackSegment& entry = track.Segm.Segments[i];
            if (i < 5) {
                EXPECT_EQ(entry.Type, 2) << i;
                EXPECT_EQ(entry.Val24[2], 100 + i) << i;
            } else {
                EXPECT_EQ(entry.Type, 0) << i;
                EXPECT_EQ(entry.Val24[0], 0) << i;
                EXPECT_EQ(entry.Val24[2], 0) << i;
            }
        }
        EXPECT_EQ(track.Rasc.Count, 0);
    }
}

TEST(Generator, RepeatedRunsGiveByteIdenticalFiles) {
    const TrackData loaded = LoopAndHelix();
    std::vector<uint8_t> first;
    for (int run = 0; run < 3; ++run) {
        TrackData work = loaded;
        int16_t filter = kDefaultFilter;
        ASSERT_TRUE(RunDefaults(work, filter));
        const std::vector<uint8_t> image = Image(work);
        if (run == 0) {
            first = image;
        } else {
            EXPECT_EQ(image, first);
        }
    }
}

TEST(Generator, ValleyFailsLeavingTheTrackUntouchedAndSaysWhere) {
    TrackData track = HighHill();
    const std::vector<uint8_t> before = Image(track);
    int16_t filter = kDefaultFilter;
    ProgressLog log;
    const HeartlineResult result = RunDefaults(track, filter, &log);
    EXPECT_EQ(result.status, HeartlineStatus::Valleyed);
    EXPECT_FALSE(result);
    EXPECT_NE(result.detail.find("valleyed at sample "), std::string::npos) << result.detail;
    EXPECT_NE(result.detail.find(" m along the track"), std::string::npos) << result.detail;
    EXPECT_NE(result.detail.find("energy line is at"), std::string::npos) << result.detail;
    EXPECT_EQ(Image(track), before);
    EXPECT_FALSE(log.steps.empty());  // it had started sampling

    // The same hill runs at a higher start speed.
    int16_t again = kDefaultFilter;
    EXPECT_TRUE(GenerateHeartline(track, 100, 6, 1.04, 20.0, 12.9, again, nullptr));
}

struct Refusal {
    const char* name;
    int16_t segments;
    int16_t precision;
    double heartline;
    int16_t filter;
    const char* mentions;
};

TEST(Generator, RefusesParametersItCannotTakeBeforeDoingAnything) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Refusal cases[] = {
        {"no segments", 0, 6, 1.04, 15, "segments must be at least 1; it is 0"},
        {"negative segments", -5, 6, 1.04, 15, "it is -5"},
        {"no precision", 100, 0, 1.04, 15, "precision"},
        {"negative filter", 100, 6, 1.04, -1, "filter"},
        {"too many samples", 200, 200, 1.04, 15, "40000"},
        {"too many progress steps", 16000, 1, 1.04, 15, "48018"},
        {"distance not a number", 100, 6, nan, 15, "heartline distance"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        TrackData track = FamilyCoaster();
        const std::vector<uint8_t> before = Image(track);
        int16_t filter = c.filter;
        ProgressLog log;
        const HeartlineResult result = GenerateHeartline(track, c.segments, c.precision,
                                                         c.heartline, 14.3, 12.9, filter, &log);
        EXPECT_EQ(result.status, HeartlineStatus::Refused);
        EXPECT_NE(result.detail.find(c.mentions), std::string::npos) << result.detail;
        EXPECT_EQ(result.detail.back(), '.');
        EXPECT_EQ(filter, c.filter);
        EXPECT_TRUE(log.steps.empty());
        EXPECT_EQ(Image(track), before);
    }
}

TEST(Generator, ParameterLimitsSitAtThe16BitRange) {
    // 2 x 16000 + 1 + 763 + 3 = 32767 progress steps: the most a run may count.
    EXPECT_EQ(CheckHeartlineParameters(1, 16000, 1.0, 10.0, 10.0, 763), "");
    EXPECT_NE(CheckHeartlineParameters(1, 16000, 1.0, 10.0, 10.0, 764), "");
    EXPECT_EQ(CheckHeartlineParameters(1, 1, -3.0, 0.0, 0.0, 0), "");
    EXPECT_NE(CheckHeartlineParameters(1, 1, 1.0, std::numeric_limits<double>::infinity(), 0.0, 0),
              "");
    EXPECT_NE(CheckHeartlineParameters(1, 1, 1.0, 1.0, std::nan(""), 0), "");
}

TEST(Generator, RefusesTracksItCannotSample) {
    TrackData single = LevelStraight(1, 10.0f, 0.0f);
    single.Bezr.VertexCount = 1;
    TrackData empty;                                 // the state after ClearTrack
    TrackData point = LevelStraight(3, 0.0f, 2.0f);  // every point in one place
    TrackData shortList = LevelStraight(3, 30.0f, 0.0f);
    shortList.Bezr.VertexCount = 9;
    const std::pair<const char*, TrackData*> cases[] = {
        {"one vertex", &single},
        {"empty", &empty},
        {"zero length", &point},
        {"count beyond the list", &shortList},
    };
    for (const auto& [name, track] : cases) {
        SCOPED_TRACE(name);
        const int32_t count = track->Bezr.VertexCount;
        const size_t entries = track->Bezr.Vertices.size();
        const float x1 = track->Bezr.Vertices.back().Pos.x;
        int16_t filter = kDefaultFilter;
        const HeartlineResult result = RunDefaults(*track, filter);
        EXPECT_EQ(result.status, HeartlineStatus::Refused);
        EXPECT_FALSE(result.detail.empty());
        EXPECT_EQ(track->Bezr.VertexCount, count);
        EXPECT_EQ(track->Bezr.Vertices.size(), entries);
        EXPECT_EQ(track->Bezr.Vertices.back().Pos.x, x1);
    }
}

TEST(Generator, NonFiniteInputFailsInsteadOfWritingATrack) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (int field = 0; field < 4; ++field) {
        SCOPED_TRACE(field);
        TrackData track = LevelStraight(4, 80.0f, 3.0f);
        TrackVertex& v = track.Bezr.Vertices[2];
        if (field == 0) v.Pos.y = nan;
        if (field == 1) v.CtrlIn.x = inf;
        if (field == 2) v.CtrlOut.z = nan;
        if (field == 3) v.Roll = nan;
        const std::vector<uint8_t> before = Image(track);
        int16_t filter = kDefaultFilter;
        const HeartlineResult result = RunDefaults(track, filter);
        EXPECT_EQ(result.status, HeartlineStatus::NonFinite);
        EXPECT_NE(result.detail.find("Vertex 2"), std::string::npos) << result.detail;
        EXPECT_EQ(Image(track), before);
    }
}

TEST(Generator, EqualSpeedsFailOnlyWhenAPassCountNeedsTheSpeed) {
    // Level, equal start and end speeds: every sample has the same speed.
    TrackData derived = LevelStraight(3, 60.0f, 0.0f, 0.0f, kModeFelt, kPassesFromSpeed);
    int16_t filter = kDefaultFilter;
    const HeartlineResult failed =
        GenerateHeartline(derived, 10, 6, 1.04, 12.0, 12.0, filter, nullptr);
    EXPECT_EQ(failed.status, HeartlineStatus::EqualSpeeds);
    EXPECT_NE(failed.detail.find("same speed"), std::string::npos) << failed.detail;

    TrackData fixed = LevelStraight(3, 60.0f, 0.0f, 0.0f, kModeFelt, 7);
    filter = kDefaultFilter;
    EXPECT_TRUE(GenerateHeartline(fixed, 10, 6, 1.04, 12.0, 12.0, filter, nullptr));
}

TEST(Generator, RaisedFilterIsWrittenBackAndRunsAllItsPasses) {
    TrackData track = LevelStraight(4, 80.0f, 3.0f);
    track.Segm.Segments[2].Val24[1] = 40;
    int16_t filter = 15;
    ProgressLog log;
    ASSERT_TRUE(GenerateHeartline(track, 10, 6, 1.04, 14.3, 12.9, filter, &log));
    EXPECT_EQ(filter, 40);
    // 61 samples + 40 passes + 70 offset points; the total still counts 15.
    ASSERT_EQ(log.steps.size(), 61u + 40u + 70u);
    EXPECT_EQ(log.steps.back().first, 171);
    EXPECT_EQ(log.steps.back().second, 2 * 60 + 10 + 15 + 3);
}

TEST(Generator, ZeroOuterHandlesAtTheEndsTakeTheMirrorOfTheInnerOnes) {
    TrackData track = LevelStraight(4, 80.0f, 3.0f);
    TrackVertex& first = track.Bezr.Vertices[0];
    TrackVertex& last = track.Bezr.Vertices[4];
    first.CtrlIn = first.Pos;
    last.CtrlOut = last.Pos;
    int16_t filter = kDefaultFilter;
    ASSERT_TRUE(GenerateHeartline(track, 10, 6, 1.04, 14.3, 12.9, filter, nullptr));
    const TrackVertex& head = track.Bezr.Vertices[0];
    const TrackVertex& tail = track.Bezr.Vertices[10];
    const Vec3 out = lsf_Vsub(head.CtrlOut, head.Pos);
    const Vec3 in = lsf_Vsub(tail.CtrlIn, tail.Pos);
    EXPECT_GT(out.x, 1.0f);
    EXPECT_EQ(out.y, 0.0f);
    EXPECT_LT(in.x, -1.0f);
    EXPECT_EQ(in.y, 0.0f);
}

TEST(Generator, FirstSegmentStartsAlongTheOuterHandleEvenWhenItIsNotAMirror) {
    TrackData track = LevelStraight(4, 80.0f, 3.0f);
    TrackVertex& first = track.Bezr.Vertices[0];
    first.CtrlIn = {-3.0f, 3.0f, -1.0f};  // travel along (3, 0, 1) into the track
    TrackVertex& last = track.Bezr.Vertices[4];
    last.CtrlOut = {83.0f, 4.0f, 0.0f};  // leaves along (3, 1, 0)
    int16_t filter = kDefaultFilter;
    ASSERT_TRUE(GenerateHeartline(track, 10, 6, 1.04, 14.3, 12.9, filter, nullptr));
    const TrackVertex& head = track.Bezr.Vertices[0];
    const Vec3 out = lsf_Vnormalize(lsf_Vsub(head.CtrlOut, head.Pos));
    EXPECT_NEAR(out.x, 3.0 / std::sqrt(10.0), 1e-6);
    EXPECT_NEAR(out.z, 1.0 / std::sqrt(10.0), 1e-6);
    const TrackVertex& tail = track.Bezr.Vertices[10];
    const Vec3 in = lsf_Vnormalize(lsf_Vsub(tail.CtrlIn, tail.Pos));
    EXPECT_NEAR(in.x, -3.0 / std::sqrt(10.0), 1e-6);
    EXPECT_NEAR(in.y, -1.0 / std::sqrt(10.0), 1e-6);
}

}  // namespace
}  // namespace cvqrn
