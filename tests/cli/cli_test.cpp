#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "cli/commands.h"
#include "cli/format.h"
#include "tests/support/track_builder.h"

namespace cvqrn::cli {
namespace {

using testsupport::FrameByHand;
using testsupport::FrameOptions;
using testsupport::MakeFullTrack;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

constexpr Command kTable[] = {
    {"roundtrip", "IN OUT", "load and save", RunRoundtrip},
    {"info", "IN [--json]", "show", RunInfo},
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

size_t Lines(const std::string& s) {
    return static_cast<size_t>(std::count(s.begin(), s.end(), '\n'));
}

TEST(Cli, UsageErrorsExitWithTwoAndShowTheUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"roundtrip"},
        {"roundtrip", "a.cvtrack"},
        {"roundtrip", "a", "b", "c"},
        {"roundtrip", "a", "b", "--force"},
        {"info"},
        {"info", "a", "b"},
        {"info", "a", "--xml"},
    };
    for (const auto& args : cases) {
        const CliRun r = Cli(args);
        const std::string line = args.empty() ? "(none)" : args[0];
        EXPECT_EQ(r.status, kExitUsage) << line;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_EQ(r.err.rfind("cv-qrn-cli: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("usage: cv-qrn-cli"), std::string::npos) << r.err;
    }
}

TEST(Cli, HelpAndVersionGoToStandardOutput) {
    const CliRun help = Cli({"--help"});
    EXPECT_EQ(help.status, kExitOk);
    EXPECT_NE(help.out.find("roundtrip IN OUT"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("info IN [--json]"), std::string::npos) << help.out;
    const CliRun version = Cli({"--version"});
    EXPECT_EQ(version.status, kExitOk);
    EXPECT_EQ(version.out, "cv-qrn-cli 9.8.7\n");
    const CliRun sub = Cli({"info", "--help"});
    EXPECT_EQ(sub.status, kExitOk);
    EXPECT_EQ(sub.out.rfind("usage: cv-qrn-cli info IN [--json]\n", 0), 0u) << sub.out;
}

TEST(Cli, RoundtripSavesWhatItLoadedWithTheExtensionAppended) {
    TempDir dir;
    // Written with Boolean bytes of 0x01 and version 1.2: the save normalises both.
    WriteFileBytes(dir.File("in.cvtrack"),
                   FrameByHand(MakeFullTrack(), {.trueByte = 1, .version = {1, 2, 0, 0}}).bytes);
    const CliRun r = Cli({"roundtrip", dir.File("in.cvtrack"), dir.File("out")});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFileBytes(dir.File("out.cvtrack")), FrameByHand(MakeFullTrack()).bytes);
}

TEST(Cli, RefusedFilesExitWithOneAndOneLineNamingTheFile) {
    TempDir dir;
    WriteFileBytes(dir.File("good.cvtrack"), FrameByHand(TrackData{}).bytes);
    WriteFileBytes(dir.File("cut.cvtrack"), std::vector<uint8_t>{'C', 'O', 'R', 'V', 0, 0});
    std::filesystem::create_directory(dir.File("dir.cvtrack"));
    struct Case {
        std::vector<std::string> args;
        std::string prefix;
    };
    const Case cases[] = {
        {{"roundtrip", dir.File("cut.cvtrack"), dir.File("o")},
         "cv-qrn-cli: cannot load " + dir.File("cut.cvtrack") + ": truncated in the file header"},
        {{"info", dir.File("missing.cvtrack")},
         "cv-qrn-cli: cannot load " + dir.File("missing.cvtrack") + ": "},
        {{"roundtrip", dir.File("good.cvtrack"), dir.File("dir")},
         "cv-qrn-cli: cannot save " + dir.File("dir.cvtrack") + ": "},
    };
    for (const Case& c : cases) {
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.status, kExitFailure) << c.prefix;
        EXPECT_EQ(r.err.rfind(c.prefix, 0), 0u) << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("o.cvtrack")));
}

TEST(Cli, InfoReportsCountsTerrainAndEnds) {
    TempDir dir;
    const std::vector<uint8_t> image =
        FrameByHand(MakeFullTrack(), {.version = {1, 2, 0, 0}}).bytes;
    WriteFileBytes(dir.File("full.cvtrack"), image);
    const CliRun plain = Cli({"info", dir.File("full.cvtrack")});
    ASSERT_EQ(plain.status, kExitOk) << plain.err;
    for (const std::string& line :
         {"file size: " + std::to_string(image.size()) + " bytes", std::string("version: 1.2.0.0"),
          std::string("vertices: 6"), std::string("segments: 7"), std::string("RASC entries: 4"),
          std::string("SCOB entries: 3"), std::string("terrain: 3 x 2"),
          std::string("radius in: straight"), std::string("tilt in: none")}) {
        EXPECT_NE(plain.out.find("\n" + line + "\n"), std::string::npos) << line << "\n"
                                                                         << plain.out;
    }

    const CliRun json = Cli({"info", "--json", dir.File("full.cvtrack")});
    ASSERT_EQ(json.status, kExitOk) << json.err;
    for (const char* part :
         {"\"version\": [1, 2, 0, 0]", "\"CATW\": 3", "\"tera\": true", "\"tera_columns\": 3",
          "\"length\": null", "\"radius_in\": -1,", "\"tilt_out\": -1\n"}) {
        EXPECT_NE(json.out.find(part), std::string::npos) << part << "\n" << json.out;
    }
}

TEST(CliFormat, FixedThreeDecimalsWithAPoint) {
    const std::pair<double, const char*> cases[] = {
        {0.0, "0.000"},        {-0.0, "0.000"},          {-0.0004, "-0.000"},
        {1.0, "1.000"},        {-1.5, "-1.500"},         {1234.5678, "1234.568"},
        {0.1, "0.100"},        {99.9996, "100.000"},     {1e9, "1000000000.000"},
        {std::nan(""), "NaN"}, {-INFINITY, "-Infinity"},
    };
    for (auto [v, text] : cases) EXPECT_EQ(FormatFixed3(v), text) << v;
    // The largest values keep every integer digit: a minus, 301 digits, ".000".
    const std::string huge = FormatFixed3(-1e300);
    EXPECT_EQ(huge.size(), 306u);
    EXPECT_EQ(huge.substr(huge.size() - 4), ".000");
}

TEST(CliFormat, JsonValuesStayValidJson) {
    EXPECT_EQ(JsonNumber(0.1), "0.1");
    EXPECT_EQ(JsonNumber(-1.0), "-1");
    EXPECT_EQ(JsonNumber(std::nan("")), "null");
    EXPECT_EQ(JsonNumber(INFINITY), "null");
    EXPECT_EQ(JsonString("a\"b\\c\n\x01\xE9"), "\"a\\\"b\\\\c\\n\\u0001\\u00e9\"");
}

}  // namespace
}  // namespace cvqrn::cli
