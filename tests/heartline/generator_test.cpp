// GenerateHeartline seen from its caller: what it writes into the track, what
// it refuses, how it fails, and the progress it reports.
#include "heartline/generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "heartline_test_tracks.h"
#include "samples/sample_tracks.h"
#include "trackfile/track_file.h"

namespace cvqrn {
namespace {

using heartline_test::LevelStraight;
using heartline_test::ProgressLog;
using heartline_test::Settings;

TEST(Generator, CompleteRunCountsEveryStepAndEmptiesTheRascList) {
    TrackData track = LevelStraight(12, 120.0, 3.0);
    track.Segm.Segments[2].Val24[1] = 40;  // asks for more passes than the filter
    track.Rasc.Count = 2;
    track.Rasc.Items.assign(3, RascEntry{});
    ProgressLog log;
    const HeartlineResult result = GenerateHeartline(track, Settings(10), &log);
    ASSERT_TRUE(result) << result.message;
    EXPECT_EQ(result.filter, 40);
    // 61 samples, 40 passes and 70 offset points, out of 2 N + segments + the
    // filter as given + 3.
    ASSERT_EQ(log.steps.size(), 61u + 40u + 70u);
    for (size_t i = 0; i < log.steps.size(); ++i) {
        EXPECT_EQ(log.steps[i], std::make_pair(static_cast<int32_t>(i) + 1, 148));
    }
    EXPECT_EQ(track.Bezr.VertexCount, 11);
    EXPECT_EQ(track.Rasc.Count, 0);
}

TEST(Generator, KeptInputRollsComeBackAsVertexRolls) {
    // Two input segments of 10 m, unsmoothed; new vertices every 5 m, so
    // 0, 2 and 4 sit on the input vertices and 1 and 3 half way between.
    struct Case {
        float roll[3];
        bool relative[3];
        double expected[5];
    };
    const float a = static_cast<float>(kPi * 170.0 / 180.0);  // -170 degrees: via 180
    const auto ad = static_cast<double>(a);
    const Case cases[] = {
        {{a, -a, -a}, {}, {ad, kPi, -ad, -ad, -ad}},
        // A relative roll adds to the one before; the sum, 10, is wrapped once to start
        // the next segment, which then turns the short way to the absolute 0.
        {{5, 5, 0}, {false, true, false}, {5, 7.5 - kPi, 10 - kTwoPi, 5, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.roll[1]);
        TrackData track = LevelStraight(2, 20.0, 3.0, kBankingKeepInput, 0);
        for (size_t i = 0; i < 3; ++i) {
            track.Bezr.Vertices[i].Roll = c.roll[i];
            track.Bezr.Vertices[i].RelativeRoll = c.relative[i];
            track.Bezr.Vertices[i].FlagA = false;
        }
        // No pass runs, so equal speeds do; the heart on the rail keeps the track straight.
        ASSERT_TRUE(GenerateHeartline(track, Settings(4, 6, 0.0, 12.0, 12.0, 0), nullptr));
        for (size_t s = 0; s <= 4; ++s) {
            const double off = static_cast<double>(track.Bezr.Vertices[s].Roll) - c.expected[s];
            // Half way a sample may sit a step or two past its place.
            EXPECT_NEAR(std::remainder(off, kTwoPi), 0.0, s % 2 == 0 ? 1e-4 : 1e-2) << s;
        }
    }
}

TEST(Generator, SegmentsWithoutAnEntryTakeTheAttributesOfAnAllZeroOne) {
    // Speed-derived passes everywhere but on the segments the list lacks.
    TrackData full = LevelStraight(4, 40.0, 3.0);
    for (TrackVertex& v : full.Bezr.Vertices) v.Roll = 0.3f;
    TrackData cut = full;
    cut.Segm.SegmentCount = 1;
    cut.Segm.Segments.resize(1);
    for (size_t i = 1; i < full.Segm.Segments.size(); ++i) full.Segm.Segments[i] = TrackSegment{};
    ASSERT_TRUE(GenerateHeartline(full, Settings(12), nullptr));
    ASSERT_TRUE(GenerateHeartline(cut, Settings(12), nullptr));
    EXPECT_EQ(EncodeTrack(cut).image, EncodeTrack(full).image);
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

TEST(Generator, FailedAndRefusedRunsLeaveTheTrackAsItWasAndSayWhy) {
    using enum Status;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const TrackData coaster = FamilyCoaster();
    const TrackData level = LevelStraight(4, 40.0, 3.0);
    TrackData oneVertex = level;
    oneVertex.Bezr.VertexCount = 1;
    TrackData shortList = level;
    shortList.Bezr.VertexCount = 7;               // one more than the list holds
    TrackData broken[3] = {level, level, level};  // a coordinate or roll no number
    broken[0].Bezr.Vertices[2].Pos.y = std::numeric_limits<float>::quiet_NaN();
    broken[1].Bezr.Vertices[2].CtrlIn.x = std::numeric_limits<float>::infinity();
    broken[2].Bezr.Vertices[2].Roll = std::numeric_limits<float>::quiet_NaN();
    Throwing outOfMemory(true);
    Throwing unexpected(false);
    struct Case {
        const char* says;
        TrackData track;
        HeartlineSettings settings;
        Status status;
        ProgressFeedback* receiver = nullptr;
    };
    const Case cases[] = {
        {"Segments must be at least 1; it is 0.", coaster, Settings(0), InvalidSettings},
        {"Precision must be at least 1; it is 0.", coaster, Settings(100, 0), InvalidSettings},
        {"Filter must be at least 0; it is -1.", coaster, Settings(100, 6, 1.04, 14.3, 12.9, -1),
         InvalidSettings},
        {"At precision 16,000 and filter 765 the new track cannot have even one segment", coaster,
         Settings(1, 16000, 1.04, 14.3, 12.9, 765), InvalidSettings},
        {"heartline distance must be a finite number; it is NaN.", coaster, Settings(100, 6, nan),
         InvalidSettings},
        {"at least two vertices; it has 1", oneVertex, Settings(10), UnusableTrack},
        {"zero length", LevelStraight(3, 0.0, 2.0), Settings(10), UnusableTrack},
        {"its count says 7", shortList, Settings(10), UnusableTrack},
        {"Vertex 2 of the track", broken[0], Settings(10), UnusableTrack},
        {"Vertex 2 of the track", broken[1], Settings(10), UnusableTrack},
        {"Vertex 2 of the track", broken[2], Settings(10), UnusableTrack},
        // A finite distance whose offset points no single can hold.
        {"New vertex 0 would hold", level, Settings(10, 6, 1e39), NumericalBlowUp},
        {"m high but the energy line is at", HighHill(), Settings(100), Valleyed},
        {"same speed (12.000 m/s)", level, Settings(10, 6, 1.04, 12.0, 12.0), EqualSpeeds},
        {"ran out of memory", coaster, Settings(100), OutOfMemory, &outOfMemory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        TrackData track = c.track;
        ProgressLog log;
        const HeartlineResult result =
            GenerateHeartline(track, c.settings, c.receiver != nullptr ? c.receiver : &log);
        EXPECT_EQ(result.status, c.status);
        EXPECT_NE(result.message.find(c.says), std::string::npos) << result.message;
        EXPECT_EQ(EncodeTrack(track).image, EncodeTrack(c.track).image);
        if (c.status == InvalidSettings || c.status == UnusableTrack) {  // before any work
            EXPECT_TRUE(log.steps.empty());
            EXPECT_EQ(result.filter, c.settings.filter);
        }
    }
    // Anything but running out of memory is a fault of the program, not a
    // message for the user: it passes through.
    TrackData track = coaster;
    EXPECT_THROW(GenerateHeartline(track, Settings(100), &unexpected), std::runtime_error);
}

TEST(Generator, SettingsRefusedExactlyBeyondTheSixteenBitProgressCount) {
    // 2 x 16000 + 1 + 763 + 3 = 32767 progress steps: the most a run may count.
    EXPECT_TRUE(CheckHeartlineSettings(Settings(1, 16000, 1.0, 10.0, 10.0, 763)));
    const Result refused = CheckHeartlineSettings(Settings(1, 16000, 1.0, 10.0, 10.0, 764));
    ASSERT_EQ(refused.status, Status::InvalidSettings);
    EXPECT_NE(refused.detail.find("would count 32,768 progress steps"), std::string::npos);
}

}  // namespace
}  // namespace cvqrn
