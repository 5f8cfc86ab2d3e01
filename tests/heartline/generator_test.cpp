// GenerateHeartline seen from its caller: what it writes into the track, what
// it refuses, how it fails, and the progress it reports.
#include "heartline/generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "geometry/vector3.h"
#include "heartline_test_tracks.h"
#include "samples/sample_tracks.h"
#include "trackfile/track_file.h"

namespace cvqrn {
namespace {

using testing::LevelStraight;
using testing::ProgressLog;

// The file image of a track (the encoder fills in the sizes of its own copy).
std::vector<uint8_t> Image(TrackData track) {
    return EncodeTrack(track);
}

HeartlineResult Generate(TrackData& track, int16_t segments, double heartline, int16_t& filter,
                         ProgressFeedback* log = nullptr, double startspeed = kDefaultStartSpeed,
                         double endspeed = kDefaultEndSpeed) {
    return GenerateHeartline(track, segments, kDefaultPrecision, heartline, startspeed, endspeed,
                             filter, log);
}

TEST(Generator, DefaultsGiveOneHundredSegmentsAndCountEveryStep) {
    TrackData track = FamilyCoaster();
    int16_t filter = kDefaultFilter;
    ProgressLog log;
    const HeartlineResult result =
        Generate(track, kDefaultSegments, kDefaultHeartline, filter, &log);
    ASSERT_TRUE(result) << result.detail;
    EXPECT_EQ(track.Bezr.VertexCount, 101);
    EXPECT_EQ(track.Bezr.Vertices.size(), 102u);
    EXPECT_EQ(track.Bezr.Size, 0);
    EXPECT_EQ(track.Bezr.ChildCount, 0);
    // 601 samples + 15 passes + 100 fits of 7 points; the total counts 1318.
    ASSERT_EQ(log.steps.size(), 601u + 15u + 700u);
    for (size_t i = 0; i < log.steps.size(); ++i) {
        EXPECT_EQ(log.steps[i], std::make_pair(static_cast<int32_t>(i) + 1, 1318));
    }
    EXPECT_EQ(filter, 15);
    EXPECT_LT(result.minSpeed, result.maxSpeed);
}

TEST(Generator, LevelStraightWithFeltBankingLiesHeartlineBelowWithoutRoll) {
    for (double heartline : {1.04, 0.0, -1.1}) {
        SCOPED_TRACE(heartline);
        TrackData track = LevelStraight(6, 120.0f, 10.0f);
        int16_t filter = kDefaultFilter;
        ASSERT_TRUE(Generate(track, 20, heartline, filter));
        const float y = static_cast<float>(10.0 - heartline);
        for (int s = 0; s < track.Bezr.VertexCount; ++s) {
            const TrackVertex& v = track.Bezr.Vertices[static_cast<size_t>(s)];
            EXPECT_EQ(v.Roll, 0.0f);
            EXPECT_EQ(v.Pos.y, y);
            EXPECT_EQ(v.Pos.z, 0.0f);
            EXPECT_EQ(v.CtrlIn.y, y);
            EXPECT_EQ(v.CtrlOut.y, y);
        }
        EXPECT_EQ(track.Bezr.Vertices[0].Pos.x, 0.0f);
        EXPECT_EQ(track.Bezr.Vertices[20].Pos.x, 120.0f);
    }
}

TEST(Generator, FeltBankingLeansOutOfALeftTurnWithPositiveRoll) {
    // A level left turn of radius 20 at about 14 m/s: the riders are pressed
    // outwards, so the rail moves out and down and the track rolls positive.
    LayoutBuilder b({0.0, 5.0, 0.0});
    b.Straight(10.0).Turn(90.0, 20.0).Straight(10.0);
    TrackData track = b.Build("turn");
    int16_t filter = kDefaultFilter;
    ASSERT_TRUE(Generate(track, 30, 1.04, filter, nullptr, 14.3, 14.0));
    // The turn's centre lies at (10, 5, -20).
    const TrackVertex& middle = track.Bezr.Vertices[15];
    EXPECT_GT(std::hypot(static_cast<double>(middle.Pos.x) - 10.0,
                         static_cast<double>(middle.Pos.z) + 20.0),
              20.3);
    EXPECT_LT(middle.Pos.y, 5.0f);
    EXPECT_GT(middle.Roll, 0.5f);  // tan(roll) = v^2 / (g r) ~ 1
    EXPECT_LT(middle.Roll, 1.0f);
}

TEST(Generator, KeptInputRollsComeBackAsVertexRolls) {
    // Two input segments of 40 m, unsmoothed; new vertices every 20 m, so
    // 0, 2 and 4 sit on the input vertices and 1 and 3 half way between.
    const double deg = kPi / 180.0;
    struct Case {
        const char* name;
        float roll[3];
        bool relative[3];
        double expected[5];
    };
    const Case cases[] = {
        {"both signs, beyond a quarter turn", {0.5f, -0.5f, 2.0f}, {}, {0.5, 0.0, -0.5, 0.75, 2.0}},
        {"170 to -170 degrees the short way",
         {static_cast<float>(170 * deg), static_cast<float>(-170 * deg),
          static_cast<float>(-170 * deg)},
         {},
         {170 * deg, kPi, -170 * deg, -170 * deg, -170 * deg}},
        {"relative rolls add up and wrap",
         {1.0f, 1.0f, 2.0f},
         {false, true, true},
         {1.0, 1.5, 2.0, 3.0, 4.0 - kTwoPi}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrackData track = LevelStraight(2, 80.0f, 3.0f, 0.0f, kModeKeepInput, 0);
        for (size_t i = 0; i < 3; ++i) {
            track.Bezr.Vertices[i].Roll = c.roll[i];
            track.Bezr.Vertices[i].RelativeRoll = c.relative[i];
        }
        int16_t filter = 0;  // no pass runs: the sampled directions stay as they are
        ASSERT_TRUE(Generate(track, 4, 1.04, filter));
        for (size_t s = 0; s <= 4; ++s) {
            const double off = static_cast<double>(track.Bezr.Vertices[s].Roll) - c.expected[s];
            // Half way a sample may sit a step or two past its place.
            EXPECT_NEAR(std::remainder(off, kTwoPi), 0.0, s % 2 == 0 ? 1e-4 : 1e-2) << s;
        }
    }
}

TEST(Generator, SegmentListIsResizedKeepingItsEntriesAndRascIsEmptied) {
    for (int16_t segments : {int16_t{3}, int16_t{8}}) {
        SCOPED_TRACE(segments);
        TrackData track = LevelStraight(5, 100.0f, 4.0f);
        for (size_t i = 0; i < 5; ++i) {
            track.Segm.Segments[i].Type = 2;
            track.Segm.Segments[i].Val24[2] = 100 + static_cast<int32_t>(i);
        }
        track.Rasc.Count = 2;
        track.Rasc.Items.assign(3, RascEntry{});
        int16_t filter = kDefaultFilter;
        ASSERT_TRUE(Generate(track, segments, 1.04, filter));
        EXPECT_EQ(track.Segm.SegmentCount, segments);
        ASSERT_EQ(track.Segm.Segments.size(), static_cast<size_t>(segments) + 1);
        for (size_t i = 0; i < track.Segm.Segments.size(); ++i) {
            const TrackSegment& entry = track.Segm.Segments[i];
            const bool kept = i < 5;
            EXPECT_EQ(entry.Type, kept ? 2 : 0) << i;
            EXPECT_EQ(entry.Val24[0], kept ? kModeFelt : 0) << i;
            EXPECT_EQ(entry.Val24[2], kept ? 100 + static_cast<int32_t>(i) : 0) << i;
        }
        EXPECT_EQ(track.Rasc.Count, 0);
    }
}

TEST(Generator, RepeatedRunsGiveByteIdenticalFiles) {
    std::vector<uint8_t> images[2];
    for (auto& image : images) {
        TrackData work = LoopAndHelix();
        int16_t filter = kDefaultFilter;
        ASSERT_TRUE(Generate(work, kDefaultSegments, kDefaultHeartline, filter));
        image = Image(work);
    }
    EXPECT_EQ(images[0], images[1]);
}

TEST(Generator, ValleyFailsLeavingTheTrackUntouchedAndSaysWhere) {
    TrackData track = HighHill();
    const std::vector<uint8_t> before = Image(track);
    int16_t filter = kDefaultFilter;
    ProgressLog log;
    const HeartlineResult result =
        Generate(track, kDefaultSegments, kDefaultHeartline, filter, &log);
    EXPECT_EQ(result.status, HeartlineStatus::Valleyed);
    for (const char* part : {"valleyed at sample ", " m along the track", "energy line is at"}) {
        EXPECT_NE(result.detail.find(part), std::string::npos) << result.detail;
    }
    EXPECT_EQ(Image(track), before);
    EXPECT_FALSE(log.steps.empty());  // it had started sampling
    // The same hill runs at a higher start speed.
    EXPECT_TRUE(Generate(track, kDefaultSegments, kDefaultHeartline, filter, nullptr, 20.0));
}

TEST(Generator, RefusesParametersItCannotTakeBeforeDoingAnything) {
    struct Case {
        int16_t segments;
        int16_t precision;
        double heartline;
        int16_t filter;
        const char* mentions;
    };
    const Case cases[] = {
        {0, 6, 1.04, 15, "segments must be at least 1; it is 0"},
        {-5, 6, 1.04, 15, "it is -5"},
        {100, 0, 1.04, 15, "precision"},
        {100, 6, 1.04, -1, "filter"},
        {200, 200, 1.04, 15, "40000"},
        {16000, 1, 1.04, 15, "48018"},
        {100, 6, std::numeric_limits<double>::quiet_NaN(), 15, "heartline distance"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mentions);
        TrackData track = FamilyCoaster();
        const std::vector<uint8_t> before = Image(track);
        int16_t filter = c.filter;
        ProgressLog log;
        const HeartlineResult result = GenerateHeartline(track, c.segments, c.precision,
                                                         c.heartline, 14.3, 12.9, filter, &log);
        EXPECT_EQ(result.status, HeartlineStatus::Refused);
        EXPECT_NE(result.detail.find(c.mentions), std::string::npos) << result.detail;
        EXPECT_EQ(filter, c.filter);
        EXPECT_TRUE(log.steps.empty());
        EXPECT_EQ(Image(track), before);
    }
    // 2 x 16000 + 1 + 763 + 3 = 32767 progress steps: the most a run may count.
    EXPECT_EQ(CheckHeartlineParameters(1, 16000, 1.0, 10.0, 10.0, 763), "");
    EXPECT_NE(CheckHeartlineParameters(1, 16000, 1.0, 10.0, 10.0, 764), "");
}

TEST(Generator, RefusesTracksItCannotSample) {
    TrackData single = LevelStraight(1, 10.0f, 0.0f);
    single.Bezr.VertexCount = 1;
    TrackData shortList = LevelStraight(3, 30.0f, 0.0f);
    shortList.Bezr.VertexCount = 9;
    for (const TrackData& input :
         {single, TrackData{}, LevelStraight(3, 0.0f, 2.0f) /* one point */, shortList}) {
        TrackData track = input;
        int16_t filter = kDefaultFilter;
        const HeartlineResult result = Generate(track, kDefaultSegments, kDefaultHeartline, filter);
        EXPECT_EQ(result.status, HeartlineStatus::Refused);
        EXPECT_FALSE(result.detail.empty());
        EXPECT_EQ(Image(track), Image(input));
    }
}

TEST(Generator, NonFiniteInputOrResultFailsInsteadOfWritingATrack) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (int field = 0; field < 5; ++field) {
        SCOPED_TRACE(field);
        TrackData track = LevelStraight(4, 80.0f, 3.0f);
        TrackVertex& v = track.Bezr.Vertices[2];
        float* const fields[] = {&v.Pos.y, &v.CtrlIn.x, &v.CtrlOut.z, &v.Roll};
        if (field < 4) *fields[field] = field == 1 ? inf : nan;
        // A finite distance whose offset points no single can hold.
        const double heartline = field < 4 ? kDefaultHeartline : 1e39;
        const std::vector<uint8_t> before = Image(track);
        int16_t filter = kDefaultFilter;
        const HeartlineResult result = Generate(track, kDefaultSegments, heartline, filter);
        EXPECT_EQ(result.status, HeartlineStatus::NonFinite);
        EXPECT_NE(result.detail.find(field < 4 ? "Vertex 2" : "New vertex 0"), std::string::npos)
            << result.detail;
        EXPECT_EQ(Image(track), before);
    }
}

TEST(Generator, EqualSpeedsFailOnlyWhenAPassCountNeedsTheSpeed) {
    // Level, equal start and end speeds: every sample has the same speed.
    TrackData derived = LevelStraight(3, 60.0f, 0.0f, 0.0f, kModeFelt, kPassesFromSpeed);
    int16_t filter = kDefaultFilter;
    const HeartlineResult failed = Generate(derived, 10, 1.04, filter, nullptr, 12.0, 12.0);
    EXPECT_EQ(failed.status, HeartlineStatus::EqualSpeeds);
    EXPECT_NE(failed.detail.find("same speed"), std::string::npos) << failed.detail;
    EXPECT_NE(failed.detail.find("sample 0"), std::string::npos) << failed.detail;

    TrackData fixed = LevelStraight(3, 60.0f, 0.0f, 0.0f, kModeFelt, 7);
    EXPECT_TRUE(Generate(fixed, 10, 1.04, filter, nullptr, 12.0, 12.0));
}

TEST(Generator, RaisedFilterIsWrittenBackAndRunsAllItsPasses) {
    TrackData track = LevelStraight(4, 80.0f, 3.0f);
    track.Segm.Segments[2].Val24[1] = 40;
    int16_t filter = 15;
    ProgressLog log;
    ASSERT_TRUE(Generate(track, 10, 1.04, filter, &log));
    EXPECT_EQ(filter, 40);
    // 61 samples + 40 passes + 70 offset points; the total still counts 15.
    ASSERT_EQ(log.steps.size(), 61u + 40u + 70u);
    EXPECT_EQ(log.steps.back(), std::make_pair(171, 2 * 60 + 10 + 15 + 3));
}

TEST(Generator, EndSegmentsLeaveAlongTheInputsOuterHandles) {
    struct Case {
        const char* name;
        Vec3 firstIn, lastOut;  // outer handles of the input's end vertices
        Vec3 startDir, endDir;  // expected unit directions of the new end handles
    };
    const double r = 1.0 / std::sqrt(10.0);
    const auto f = [](double x) { return static_cast<float>(x); };
    const Case cases[] = {
        // A handle on its vertex has no direction: the inner handle's mirror stands in.
        {"on the vertex", {0, 3, 0}, {80, 3, 0}, {1, 0, 0}, {-1, 0, 0}},
        // Not mirrors of the inner handles: the outer ones still decide.
        {"not mirrored", {-3, 3, -1}, {83, 4, 0}, {f(3 * r), 0, f(r)}, {f(-3 * r), f(-r), 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrackData track = LevelStraight(4, 80.0f, 3.0f);
        track.Bezr.Vertices[0].CtrlIn = c.firstIn;
        track.Bezr.Vertices[4].CtrlOut = c.lastOut;
        int16_t filter = kDefaultFilter;
        ASSERT_TRUE(Generate(track, 10, 1.04, filter));
        const TrackVertex& head = track.Bezr.Vertices[0];
        const TrackVertex& tail = track.Bezr.Vertices[10];
        const Vec3 out = lsf_Vnormalize(lsf_Vsub(head.CtrlOut, head.Pos));
        const Vec3 in = lsf_Vnormalize(lsf_Vsub(tail.CtrlIn, tail.Pos));
        EXPECT_LT(Distance3D(out, c.startDir), 1e-6);
        EXPECT_LT(Distance3D(in, c.endDir), 1e-6);
    }
}

// A progress receiver that throws at its first report.
struct Throwing : ProgressFeedback {
    explicit Throwing(bool memory) : outOfMemory(memory) {}
    void feedback(const int32_t&, const int32_t&) override {
        if (outOfMemory) throw std::bad_alloc();
        throw std::runtime_error("x");
    }
    bool outOfMemory;
};

TEST(Generator, RunThatCannotCompleteSaysSoAndChangesNothing) {
    for (const bool memory : {true, false}) {
        Throwing receiver(memory);
        const char* says = memory ? "could not be completed: the computer ran out of memory"
                                  : "could not be completed because of an unexpected error (x)";
        TrackData track = FamilyCoaster();
        const std::vector<uint8_t> before = Image(track);
        int16_t filter = kDefaultFilter;
        const HeartlineResult result =
            Generate(track, kDefaultSegments, kDefaultHeartline, filter, &receiver);
        EXPECT_EQ(result.status, HeartlineStatus::Refused);
        EXPECT_NE(result.detail.find(says), std::string::npos) << result.detail;
        EXPECT_NE(result.detail.find("track was not changed"), std::string::npos);
        EXPECT_EQ(Image(track), before);
    }
}

}  // namespace
}  // namespace cvqrn
