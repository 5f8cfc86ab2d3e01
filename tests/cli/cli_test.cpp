#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "cli/format.h"
#include "heartline/generator.h"
#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

namespace cvqrn::cli {
namespace {

using namespace testsupport;

const Command kTable[] = {
    {"roundtrip", kRoundtripArguments, "load and save", RunRoundtrip, kRoundtripOptions},
    {"info", kInfoArguments, "show", RunInfo, kInfoOptions},
    {"heartline", kHeartlineArguments, "rebuild", RunHeartline, kHeartlineOptions},
    {"profile", kProfileArguments, "forces", RunProfile, kProfileOptions},
};

std::string Saved(const TempDir& dir, const char* name, const TrackData& track) {
    EXPECT_TRUE(SaveTrack(dir.File(name), track));
    return dir.File(name);
}

// Every command's exit status and messages. The heartline command is tested
// here only (the bytes it writes are the corpus test's): its options in any
// order and either form, a negative value as a word of its own, its summary
// and JSON, and each failure, after which no file is written.
TEST(Cli, CommandsEndWithTheirStatusAndMessages) {
    TempDir dir;
    // Boolean bytes of 0x01 and version 1.2, which a roundtrip normalises.
    const std::vector<uint8_t> full =
        FrameByHand(MakeFullTrack(), {.trueByte = 1, .version = {1, 2, 0, 0}}).bytes;
    WriteFileBytes(dir.File("full.cvtrack"), full);
    const std::string in = dir.File("full.cvtrack");
    const std::string loop = Saved(dir, "loop.cvtrack", LoopAndHelix());
    const std::string hill = Saved(dir, "hill.cvtrack", HighHill());
    // A 40 m climb, on which the smooth rebuild leaves most of 600 segments unused.
    const std::string climb = Saved(dir, "climb.cvtrack", RoundedClimb());
    TrackData single = FamilyCoaster();
    single.Bezr.VertexCount = 1;
    const std::string point = Saved(dir, "point.cvtrack", single);
    const std::string out = dir.File("out"), none = dir.File("o"), hl = "heartline";
    const std::string usage = "usage: cv-qrn-cli ", hlUsage = usage + "heartline IN OUT";
    const std::string valley = std::string(kHeartlineFailureText) + "\nThe train valleyed at";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;       // a part of stderr, which is empty when this is
        std::string out = "";  // a part of stdout, which is empty when this is
    };
    const Case cases[] = {
        {{}, kExitUsage, usage},
        {{"frobnicate"}, kExitUsage, "cv-qrn-cli: unknown command"},
        {{"roundtrip", in}, kExitUsage, usage + "roundtrip"},
        {{"info", in, "b"}, kExitUsage, usage + "info"},
        {{"info", in, "--xml"}, kExitUsage, "cv-qrn-cli: info: unknown option"},
        {{"roundtrip", "--in-place", in, dir.File("copy")},
         kExitOk,
         "",
         "saved " + dir.File("copy")},
        {{"info", in},
         kExitOk,
         "",
         "file size: " + std::to_string(full.size()) +
             " bytes\nversion: 1.2.0.0\nvertices: 6\nsegments: 7\nTRCK entries: 3\n"
             "FUND entries: 2\nRASC entries: 4\nFREN entries: 3\nTUBE entries: 2\n"
             "CATW entries: 3\nSCEN entries: 2\nSCOB entries: 3\nterrain: 3 x 2\n"
             "length: NaN\nradius in: straight\n"},
        {{hl, "--in-place", loop, "--segments", "20", out},
         kExitOk,
         "",
         "saved " + out + ".cvtrack: 21 vertices, 20 segments, speeds "},
        {{hl, loop, out, "--json", "--segments", "80", "--filter", "20", "--heartline", "-1.1"},
         kExitOk,
         "",
         "\"filter\": 20,\n  \"vertex_count\": 81,\n  \"segment_count\": 80,\n"
         "  \"segments_asked\": 80,"},
        // Fewer segments written than asked are named, never passed off as the count asked.
        {{hl, climb, out, "--smooth", "--segments", "600", "--start-speed", "22", "--end-speed",
          "20"},
         kExitOk,
         "",
         " segments (of 600 asked: shorter ones would ride worse), speeds "},
        // Each error names its command once and an unknown option as unknown.
        {{hl, loop}, kExitUsage, "cv-qrn-cli: heartline: give one input file and one output file\n" + hlUsage},
        {{hl, loop, none, "--bogus"}, kExitUsage, "cv-qrn-cli: heartline: unknown option '--bogus'\n"},
        {{hl, loop, none, "--bogus=2"}, kExitUsage, "heartline: unknown option '--bogus'\n"},
        {{hl, loop, none, "--segments"}, kExitUsage, "heartline: --segments needs a value\n" + hlUsage},
        {{hl, loop, none, "--segments=40000"}, kExitUsage, "whole number from 1 to 32,767"},
        {{hl, loop, none, "--filter=x"}, kExitUsage, "whole number from 0 to 32,767"},
        {{hl, loop, none, "--segments=3000"}, kExitUsage, "it has 3,000.\n" + hlUsage},
        {{hl, loop, none, "--heartline", "1,04"}, kExitUsage, hlUsage},
        {{hl, hill, none, "--json"}, kExitFailure, valley, "\"error\": \"valleyed\""},
        {{hl, point, none, "--json"}, kExitFailure, "cannot heartline ", "\"unusable_track\""},
        {{hl, dir.File("none.cvtrack"), none}, kExitFailure, "cv-qrn-cli: cannot load "},
        {{hl, hill, dir.File("no/such/o"), "--start-speed", "20"}, kExitFailure, "cannot save "},
        {{"info", dir.Path()}, kExitFailure, "cannot load " + dir.Path() + ": it is a folder\n"},
        {{"profile", loop}, kExitOk, "", "\nlateral       max |lateral| -"},
        // A CSV that cannot be written says why.
        {{"profile", loop, "--csv", dir.File("no/such.csv")},
         kExitFailure,
         "cannot write " + dir.File("no/such.csv") + ": " + std::strerror(ENOENT) + "\n"},
    };
    for (const Case& c : cases) {
        std::ostringstream outText, errText;
        const int status = RunCli(c.args, kTable, "9.8.7", outText, errText);
        const std::string err = errText.str(), printed = outText.str();
        SCOPED_TRACE(c.args.empty() ? "" : c.args[0] + " " + c.args.back());
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(err.empty(), c.err.empty()) << err;
        EXPECT_TRUE(Contains(err, c.err)) << err;
        EXPECT_EQ(printed.empty(), c.out.empty()) << printed;
        EXPECT_TRUE(Contains(printed, c.out)) << printed;
    }
    EXPECT_EQ(ReadFileBytes(dir.File("copy.cvtrack")), FrameByHand(MakeFullTrack()).bytes);
    EXPECT_FALSE(std::filesystem::exists(none + ".cvtrack"));
}

TEST(CliHelp, LinesUnder80ColumnsAlignedWithUnitsDefaultsAndTheRunFailureInTheExitStatus) {
    std::ostringstream text;
    PrintUsage(kCommands, text);
    EXPECT_TRUE(Contains(text.str(), "or the run failed\n")) << text.str();
    for (const Command& command : kCommands) {
        std::ostringstream help;
        EXPECT_EQ(RunCli(std::vector<std::string>{command.name, "--help"}, kCommands, "9", help,
                         help),
                  kExitOk);
        text << help.str();
        // Where each option's meaning begins: one column for all of a command's options.
        std::set<size_t> columns;
        for (const OptionHelp& option : command.options) {
            const size_t line = help.str().find(std::string("\n  ") + option.name + " ");
            ASSERT_NE(line, std::string::npos) << option.name;
            const size_t meaning = help.str().find(option.meaning, line);
            columns.insert(meaning - line);
            const bool number = *option.value == 'N' || *option.value == 'X';
            EXPECT_EQ(option.defaultText != nullptr, number) << option.name << ": no default";
        }
        EXPECT_LE(columns.size(), 1u) << command.name << ": options not aligned";
    }
    for (const char* unit : {"m/s (default 14.3)", "in m;", "(default 100)", "(default 0.5)"}) {
        EXPECT_TRUE(Contains(text.str(), unit)) << unit;
    }
    std::istringstream lines(text.str());
    for (std::string line; std::getline(lines, line);) EXPECT_LT(line.size(), 80u) << line;
}

TEST(CliFormat, JsonValuesStayValidJson) {
    EXPECT_EQ(JsonNumber(0.1), "0.1");
    EXPECT_EQ(JsonNumber(-1.0), "-1");
    EXPECT_EQ(JsonNumber(std::nan("")), "null");
    EXPECT_EQ(JsonNumber(HUGE_VAL), "null");
    EXPECT_EQ(JsonString("a\"b\\c\n\x01\xE9"), "\"a\\\"b\\\\c\\n\\u0001\\u00e9\"");
}

// The save's two messages a test cannot provoke from the command line.
TEST(CliSave, ARefusalNamesInPlaceWhereItWouldWriteTheFileAndANoteIsShown) {
    const SaveResult refused{Failure(Status::InPlacePossible, "no new file"), "/ro/a.cvtrack"};
    const SaveResult noted{{}, "/t/a.cvtrack", 0, "links split"};
    std::ostringstream err;
    EXPECT_EQ(ReportSave(refused, "/ro/a", err), kExitFailure);
    EXPECT_EQ(ReportSave(noted, "/t/a", err), kExitOk);
    EXPECT_EQ(err.str(),
              "cv-qrn-cli: cannot save /ro/a.cvtrack: no new file (--in-place writes it anyway)\n"
              "cv-qrn-cli: note: /t/a.cvtrack: links split\n");
}

}  // namespace
}  // namespace cvqrn::cli
