// cv-qrn-cli heartline, run with argument vectors and captured streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "heartline/generator.h"
#include "heartline_test_tracks.h"
#include "samples/sample_tracks.h"
#include "trackfile/track_file.h"

namespace cvqrn::cli {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun Heartline(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunHeartline(args, out, err);
    return {status, out.str(), err.str()};
}

class HeartlineCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("cvqrn-heartline-cli-" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Save(const std::string& name, TrackData track) {
        const SaveResult saved = SaveTrack((dir_ / name).string(), track);
        EXPECT_TRUE(saved) << saved.reason;
        return saved.path;
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_F(HeartlineCli, WritesTheRebuiltTrackAndItsSummary) {
    const std::string in = Save("family.cvtrack", FamilyCoaster());
    const CliRun run = Heartline({in, Path("out"), "--json", "--segments", "80", "--filter=20"});
    ASSERT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(run.err, "");
    for (const char* key :
         {"\"ok\": true", "\"filter\": 20", "\"vertex_count\": 81", "\"segment_count\": 80",
          "\"length_in\": ", "\"length_out\": ", "\"min_speed\": ", "\"max_speed\": ",
          "\"radius_in\": ", "\"slope_in\": ", "\"tilt_in\": ", "\"radius_out\": ",
          "\"slope_out\": ", "\"tilt_out\": "}) {
        EXPECT_NE(run.out.find(key), std::string::npos) << key << "\n" << run.out;
    }
    TrackData saved;
    ASSERT_TRUE(LoadTrack(Path("out.cvtrack"), saved));
    EXPECT_EQ(saved.Bezr.VertexCount, 81);
}

TEST_F(HeartlineCli, MatchesTheLibraryRunByteForByteWithANegativeDistance) {
    const std::string in = Save("loop.cvtrack", LoopAndHelix());
    TrackData expected = LoopAndHelix();
    int16_t filter = kDefaultFilter;
    ASSERT_TRUE(GenerateHeartline(expected, kDefaultSegments, kDefaultPrecision, -1.1,
                                  kDefaultStartSpeed, kDefaultEndSpeed, filter, nullptr));
    for (const std::vector<std::string>& distance :
         {std::vector<std::string>{"--heartline", "-1.1"}, {"--heartline=-1.1"}}) {
        std::vector<std::string> args{in, Path("cli.cvtrack")};
        args.insert(args.end(), distance.begin(), distance.end());
        ASSERT_EQ(Heartline(args).status, kExitOk);
        TrackData written;
        ASSERT_TRUE(LoadTrack(Path("cli.cvtrack"), written));
        EXPECT_EQ(EncodeTrack(written), EncodeTrack(expected));
    }
}

TEST_F(HeartlineCli, BadParametersAreUsageErrors) {
    const std::string in = Save("family.cvtrack", FamilyCoaster());
    const std::vector<std::vector<std::string>> cases = {
        {in},
        {in, Path("o"), "extra"},
        {in, Path("o"), "--segments"},
        {in, Path("o"), "--segments", "40000"},
        {in, Path("o"), "--segments", "1.5"},
        {in, Path("o"), "--precision=-2"},
        {in, Path("o"), "--heartline", "1,04"},
        {in, Path("o"), "--start-speed", "inf"},
        {in, Path("o"), "--speed", "3"},
    };
    for (const auto& args : cases) {
        const CliRun run = Heartline(args);
        EXPECT_EQ(run.status, kExitUsage) << args.back();
        EXPECT_NE(run.err.find("usage: cv-qrn-cli heartline IN OUT"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Path("o.cvtrack")));
    }
}

TEST_F(HeartlineCli, FailedRunsExitWithOneAndWriteNothing) {
    const std::string hill = Save("hill.cvtrack", HighHill());
    const CliRun valley = Heartline({hill, Path("o"), "--json"});
    EXPECT_EQ(valley.status, kExitFailure);
    EXPECT_EQ(
        valley.err.rfind(std::string(kHeartlineFailureText) + "\nThe train valleyed at sample ", 0),
        0u)
        << valley.err;
    EXPECT_NE(valley.out.find("\"ok\": false"), std::string::npos);
    EXPECT_NE(valley.out.find("\"error\": \"valleyed\""), std::string::npos);

    TrackData single = testing::LevelStraight(1, 10.0f, 0.0f);
    single.Bezr.VertexCount = 1;
    const std::string point = Save("point.cvtrack", single);
    const CliRun refused = Heartline({point, Path("o")});
    EXPECT_EQ(refused.status, kExitFailure);
    EXPECT_NE(refused.err.find("cannot heartline"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("at least two vertices"), std::string::npos) << refused.err;

    const CliRun missing = Heartline({Path("none.cvtrack"), Path("o")});
    EXPECT_EQ(missing.status, kExitFailure);
    EXPECT_EQ(missing.err.rfind("cv-qrn-cli: cannot load ", 0), 0u) << missing.err;

    const CliRun unwritable = Heartline({hill, Path("no/such/dir/o"), "--start-speed", "20"});
    EXPECT_EQ(unwritable.status, kExitFailure);
    EXPECT_EQ(unwritable.err.rfind("cv-qrn-cli: cannot save ", 0), 0u) << unwritable.err;
    EXPECT_FALSE(fs::exists(Path("o.cvtrack")));
}

}  // namespace
}  // namespace cvqrn::cli
