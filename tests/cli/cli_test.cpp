#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "cli/commands.h"
#include "cli/format.h"
#include "tests/support/track_builder.h"

namespace cvqrn::cli {
namespace {

using testsupport::FrameByHand;
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

TEST(Cli, UsageErrorsExitWithTwoAndShowTheUsage) {
    const std::vector<std::vector<std::string>> cases = {{},
                                                         {"frobnicate"},
                                                         {"roundtrip", "a.cvtrack"},
                                                         {"roundtrip", "a", "b", "--force"},
                                                         {"info"},
                                                         {"info", "a", "b"},
                                                         {"info", "a", "--xml"}};
    for (const auto& args : cases) {
        const CliRun r = Cli(args);
        EXPECT_EQ(r.status, kExitUsage) << r.err;
        EXPECT_EQ(r.out, "") << r.err;
        EXPECT_EQ(r.err.rfind("cv-qrn-cli: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("usage: cv-qrn-cli"), std::string::npos) << r.err;
    }
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

    // A split hard link is a note on stderr; --in-place is accepted (and not
    // needed where the folder takes the new file).
    std::filesystem::create_hard_link(dir.File("out.cvtrack"), dir.File("link.cvtrack"));
    const CliRun again = Cli({"roundtrip", "--in-place", dir.File("in.cvtrack"), dir.File("out")});
    EXPECT_EQ(again.status, kExitOk) << again.err;
    EXPECT_EQ(again.err, "cv-qrn-cli: note: " + dir.File("out.cvtrack") +
                             ": it had 1 other hard link(s); they keep the previous content\n");
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
    for (const std::string& part :
         {counts, std::string("\nradius in: straight\n"), std::string("\ntilt in: none\n")}) {
        EXPECT_NE(plain.out.find(part), std::string::npos) << part << "\n" << plain.out;
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
        {0.0, "0.000"},       {-0.0, "0.000"},       {-0.0004, "-0.000"},
        {12.3456, "12.346"},  {1234.5, "1234.500"},  {-1.0001, "-1.000"},
        {99.9996, "100.000"}, {std::nan(""), "NaN"}, {-HUGE_VAL, "-Infinity"}};
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
    EXPECT_EQ(JsonNumber(HUGE_VAL), "null");
    EXPECT_EQ(JsonString("a\"b\\c\n\x01\xE9"), "\"a\\\"b\\\\c\\n\\u0001\\u00e9\"");
}

}  // namespace
}  // namespace cvqrn::cli
