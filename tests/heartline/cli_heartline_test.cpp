// cv-qrn-cli heartline, run with argument vectors and captured streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "heartline_test_tracks.h"
#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

namespace cvqrn::cli {
namespace {

struct CliRun {
    int status;
    std::string out, err;
};

CliRun Heartline(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = RunHeartline(args, out, err);
    return {status, out.str(), err.str()};
}

std::string Saved(const testsupport::TempDir& dir, const char* name, TrackData track) {
    const SaveResult saved = SaveTrack(dir.File(name), track);
    EXPECT_TRUE(saved) << saved.reason;
    return saved.path;
}

TEST(HeartlineCli, WritesWhatTheLibraryMakesAndItsSummary) {
    testsupport::TempDir dir;
    const std::string in = Saved(dir, "loop.cvtrack", LoopAndHelix());
    TrackData expected = LoopAndHelix();
    int16_t filter = 20;
    ASSERT_TRUE(GenerateHeartline(expected, 80, kDefaultPrecision, -1.1, kDefaultStartSpeed,
                                  kDefaultEndSpeed, filter, nullptr));
    // A negative distance both as a separate value and after "="; every run
    // gives the same bytes.
    for (const char* distance : {"--heartline", "--heartline=-1.1"}) {
        std::vector<std::string> args{in,   dir.File("out"), "--json", "--segments",
                                      "80", "--filter=20",   distance};
        if (distance[11] == '\0') args.push_back("-1.1");
        const CliRun run = Heartline(args);
        ASSERT_EQ(run.status, kExitOk) << run.err;
        EXPECT_EQ(run.err, "");
        for (const char* key :
             {"\"ok\": true", "\"filter\": 20", "\"vertex_count\": 81", "\"segment_count\": 80",
              "\"length_in\": ", "\"length_out\": ", "\"min_speed\": ", "\"max_speed\": ",
              "\"radius_in\": ", "\"slope_in\": ", "\"tilt_in\": ", "\"radius_out\": ",
              "\"slope_out\": ", "\"tilt_out\": "}) {
            EXPECT_NE(run.out.find(key), std::string::npos) << key << "\n" << run.out;
        }
        TrackData written;
        ASSERT_TRUE(LoadTrack(dir.File("out.cvtrack"), written));
        EXPECT_EQ(EncodeTrack(written).image, EncodeTrack(expected).image);
    }
}

TEST(HeartlineCli, FailuresExitWithTheirStatusAndReasonAndWriteNothing) {
    testsupport::TempDir dir;
    const std::string family = Saved(dir, "family.cvtrack", FamilyCoaster());
    const std::string hill = Saved(dir, "hill.cvtrack", HighHill());
    TrackData single = heartline_tests::LevelStraight(1, 10.0f, 0.0f);
    single.Bezr.VertexCount = 1;
    const std::string point = Saved(dir, "point.cvtrack", single);
    const std::string out = dir.File("o");
    const std::string usage = "usage: cv-qrn-cli heartline IN OUT";
    const std::string valley = std::string(kHeartlineFailureText) + "\nThe train valleyed at";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;       // a part of stderr
        std::string out = "";  // a part of stdout
    };
    const Case cases[] = {
        {{family}, kExitUsage, usage},
        {{family, out, "--segments"}, kExitUsage, usage},
        {{family, out, "--precision=-2"}, kExitUsage, usage},
        {{family, out, "--heartline", "1,04"}, kExitUsage, usage},
        {{hill, out, "--json"}, kExitFailure, valley, "\"error\": \"valleyed\""},
        {{point, out},
         kExitFailure,
         "cannot heartline " + point + ": The track needs at least two"},
        {{dir.File("none.cvtrack"), out}, kExitFailure, "cv-qrn-cli: cannot load "},
        {{hill, dir.File("no/such/o"), "--start-speed", "20"},
         kExitFailure,
         "cv-qrn-cli: cannot save "},
    };
    for (const Case& c : cases) {
        const CliRun run = Heartline(c.args);
        EXPECT_EQ(run.status, c.status) << c.args.back();
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
    }
    EXPECT_FALSE(std::filesystem::exists(out + ".cvtrack"));
}

}  // namespace
}  // namespace cvqrn::cli
