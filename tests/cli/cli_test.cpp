#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "cli/commands.h"
#include "cli/format.h"
#include "heartline/generator.h"
#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

namespace cvqrn::cli {
namespace {

using testsupport::FrameByHand;
using testsupport::MakeFullTrack;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

constexpr Command kTable[] = {
    {"roundtrip", kRoundtripArguments, "load and save", RunRoundtrip},
    {"info", kInfoArguments, "show", RunInfo},
    {"heartline", kHeartlineArguments, "rebuild", RunHeartline},
};

struct CliRun {
    int status;
    std::string out, err;
};

CliRun Cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = RunCli(args, kTable, "9.8.7", out, err);
    return {status, out.str(), err.str()};
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Cli, UsageErrorsExitWithTwoAndShowTheUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"frobnicate"}, {"roundtrip", "a.cvtrack"}, {"info", "a", "b"}, {"info", "a", "--xml"}};
    for (const auto& args : cases) {
        const CliRun r = Cli(args);
        EXPECT_EQ(r.status, kExitUsage) << r.err;
        EXPECT_EQ(r.out, "") << r.err;
        EXPECT_EQ(r.err.rfind("cv-qrn-cli: ", 0), 0u) << r.err;
        EXPECT_TRUE(Contains(r.err, "usage: cv-qrn-cli")) << r.err;
    }
}

TEST(Cli, RoundtripSavesWhatItLoadedWithTheExtensionAppended) {
    TempDir dir;
    // Written with Boolean bytes of 0x01 and version 1.2: the save normalises both.
    WriteFileBytes(dir.File("in.cvtrack"),
                   FrameByHand(MakeFullTrack(), {.trueByte = 1, .version = {1, 2, 0, 0}}).bytes);
    const CliRun r = Cli({"roundtrip", "--in-place", dir.File("in.cvtrack"), dir.File("out")});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFileBytes(dir.File("out.cvtrack")), FrameByHand(MakeFullTrack()).bytes);
}

TEST(Cli, InfoReportsCountsTerrainAndEnds) {
    TempDir dir;
    const std::vector<uint8_t> image =
        FrameByHand(MakeFullTrack(), {.version = {1, 2, 0, 0}}).bytes;
    WriteFileBytes(dir.File("full.cvtrack"), image);
    const CliRun plain = Cli({"info", dir.File("full.cvtrack")});
    ASSERT_EQ(plain.status, kExitOk) << plain.err;
    const std::string counts = "file size: " + std::to_string(image.size()) +
                               " bytes\nversion: 1.2.0.0\nvertices: 6\nsegments: 7\n"
                               "TRCK entries: 3\nFUND entries: 2\nRASC entries: 4\n"
                               "FREN entries: 3\nTUBE entries: 2\nCATW entries: 3\n"
                               "SCEN entries: 2\nSCOB entries: 3\nterrain: 3 x 2\n";
    EXPECT_TRUE(Contains(plain.out, counts)) << plain.out;
    EXPECT_TRUE(Contains(plain.out, "\nradius in: straight\n")) << plain.out;

    const CliRun json = Cli({"info", "--json", dir.File("full.cvtrack")});
    ASSERT_EQ(json.status, kExitOk) << json.err;
    for (const char* part : {"\"version\": [1, 2, 0, 0]", "\"CATW\": 3", "\"tera_columns\": 3",
                             "\"length\": null", "\"radius_in\": -1,", "\"tilt_out\": -1\n"}) {
        EXPECT_TRUE(Contains(json.out, part)) << part << "\n" << json.out;
    }
}

TEST(CliFormat, JsonValuesStayValidJson) {
    EXPECT_EQ(JsonNumber(0.1), "0.1");
    EXPECT_EQ(JsonNumber(-1.0), "-1");
    EXPECT_EQ(JsonNumber(std::nan("")), "null");
    EXPECT_EQ(JsonNumber(HUGE_VAL), "null");
    EXPECT_EQ(JsonString("a\"b\\c\n\x01\xE9"), "\"a\\\"b\\\\c\\n\\u0001\\u00e9\"");
}

TEST(CliSave, ARefusalNamesInPlaceOnlyWhereItWouldWriteTheFile) {
    SaveResult folderRefuses{false, "/ro/a.cvtrack", "cannot create a file in its folder"};
    folderRefuses.inPlacePossible = true;
    SaveResult noted{true, "/t/a.cvtrack", ""};
    noted.note = "links split";
    // the save, the path on the command line, the status and stderr
    const std::tuple<SaveResult, const char*, int, std::string> cases[] = {
        {folderRefuses, "/ro/a", kExitFailure,
         "cv-qrn-cli: cannot save /ro/a.cvtrack: cannot create a file in its folder "
         "(--in-place writes it anyway)\n"},
        {{false, "", "File name too long"},
         "/t/x",
         kExitFailure,
         "cv-qrn-cli: cannot save /t/x: File name too long\n"},
        {noted, "/t/a", kExitOk, "cv-qrn-cli: note: /t/a.cvtrack: links split\n"},
        {{true, "/t/a.cvtrack", ""}, "/t/a", kExitOk, ""},
    };
    for (const auto& [saved, requested, status, message] : cases) {
        std::ostringstream err;
        EXPECT_EQ(ReportSave(saved, requested, err), status) << requested;
        EXPECT_EQ(err.str(), message);
    }
}

std::string Saved(const TempDir& dir, const char* name, TrackData track) {
    const SaveResult saved = SaveTrack(dir.File(name), track);
    EXPECT_TRUE(saved) << saved.reason;
    return saved.path;
}

// The heartline command's one test: it writes what the library makes, reads
// its options in either form and in any order, and ends every failure with
// its status and reason without writing a file.
TEST(CliHeartline, WritesWhatTheLibraryMakesAndEndsFailuresWithTheirStatus) {
    TempDir dir;
    const std::string loop = Saved(dir, "loop.cvtrack", LoopAndHelix());
    const std::string out = dir.File("out");
    TrackData expected = LoopAndHelix();
    HeartlineSettings settings;
    settings.segments = 80;
    settings.heartline = -1.1;
    settings.filter = 20;
    ASSERT_TRUE(GenerateHeartline(expected, settings, nullptr));
    // A negative distance both as a separate value and after "=".
    const std::vector<std::string> runs[] = {{"heartline", loop, out, "--json", "--segments", "80",
                                              "--filter=20", "--heartline", "-1.1"},
                                             {"heartline", "--in-place", "--heartline=-1.1", loop,
                                              "--segments=80", out, "--filter", "20"}};
    for (const auto& args : runs) {
        std::filesystem::remove(out + ".cvtrack");
        const CliRun run = Cli(args);
        ASSERT_EQ(run.status, kExitOk) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(ReadFileBytes(out + ".cvtrack"), EncodeTrack(expected).image);
        const std::vector<std::string> parts =
            args[3] == "--json"
                ? std::vector<std::string>{"\"ok\": true", "\"filter\": 20", "\"vertex_count\": 81",
                                           "\"segment_count\": 80"}
                : std::vector<std::string>{"saved " + out +
                                               ".cvtrack: 81 vertices, "
                                               "80 segments, speeds ",
                                           " m/s, filter 20\n"};
        for (const std::string& part : parts) EXPECT_TRUE(Contains(run.out, part)) << run.out;
    }

    const std::string hill = Saved(dir, "hill.cvtrack", HighHill());
    TrackData single = FamilyCoaster();
    single.Bezr.VertexCount = 1;
    const std::string point = Saved(dir, "point.cvtrack", single);
    const std::string none = dir.File("o");
    const std::string usage = "usage: cv-qrn-cli heartline IN OUT";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;       // a part of stderr
        std::string out = "";  // a part of stdout
    };
    const Case cases[] = {
        {{loop}, kExitUsage, usage},
        {{loop, none, "--segments"}, kExitUsage, usage},
        {{loop, none, "--segments=40000"}, kExitUsage, "whole number from 1 to 32,767"},
        {{loop, none, "--filter=x"}, kExitUsage, "whole number from 0 to 32,767"},
        {{loop, none, "--segments=3000"},
         kExitUsage,
         "can have at most 2,519 segments; it has 3,000.\n" + usage},
        {{loop, none, "--heartline", "1,04"}, kExitUsage, usage},
        {{hill, none, "--json"},
         kExitFailure,
         std::string(kHeartlineFailureText) + "\nThe train valleyed at",
         "\"error\": \"valleyed\""},
        {{point, none, "--json"},
         kExitFailure,
         "cannot heartline " + point + ": The track needs at least two",
         "\"error\": \"unusable_track\""},
        {{dir.File("none.cvtrack"), none}, kExitFailure, "cv-qrn-cli: cannot load "},
        {{hill, dir.File("no/such/o"), "--start-speed", "20"},
         kExitFailure,
         "cv-qrn-cli: cannot save "},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"heartline"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun run = Cli(args);
        EXPECT_EQ(run.status, c.status) << c.args.back();
        EXPECT_TRUE(Contains(run.err, c.err)) << run.err;
        EXPECT_TRUE(Contains(run.out, c.out)) << run.out;
    }
    EXPECT_FALSE(std::filesystem::exists(none + ".cvtrack"));
}

}  // namespace
}  // namespace cvqrn::cli
