// LoadTrack and SaveTrack on real files, with injected file-system failures
// (the tests run as root, which file permissions do not stop).
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>

#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

namespace cvqrn {
namespace {

namespace fs = std::filesystem;
using testsupport::DiffTracks;
using testsupport::FrameByHand;
using testsupport::MakeFullTrack;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;
using Names = std::vector<std::string>;

Names Listing(const std::string& dir) {
    Names names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Any readable regular file whose name ends in ".cvtrack" (any case) loads,
// hidden or not; anything else is refused and leaves the track untouched.
TEST(LoadTrack, AcceptsReadableTrackFilesOnlyAndLeavesTheTrackUntouchedOtherwise) {
    TempDir dir;
    for (const char* name :
         {"RIDE.CVTRACK", ".hidden.cvtrack", ".cvtrack", "ride.txt", "x.cvtrack.bak"}) {
        WriteFileBytes(dir.File(name), FrameByHand(MakeFullTrack()).bytes);
    }
    fs::create_directory(dir.File("folder.cvtrack"));
    const std::pair<std::string, std::string> cases[] = {
        {dir.File("RIDE.CVTRACK"), ""},
        {dir.File(".hidden.cvtrack"), ""},
        {dir.File(".cvtrack"), ""},
        {"", "no file name"},
        {dir.File("missing.cvtrack"), std::strerror(ENOENT)},
        {dir.File("folder.cvtrack"), "directory"},
        {dir.File("ride.txt"), ".cvtrack"},
        {dir.File("x.cvtrack.bak"), ".cvtrack"},
        {"/dev/null", "not a regular file"},
    };
    for (const auto& [path, reason] : cases) {
        TrackData t;
        t.Info.Text = "before";  // a load that got as far as clearing the track would drop it
        const LoadResult r = LoadTrack(path, t);
        EXPECT_EQ(r.ok, reason.empty()) << path << ": " << r.reason;
        EXPECT_TRUE(Contains(r.reason, reason)) << path << ": " << r.reason;
        EXPECT_TRUE(r.ok ? DiffTracks(MakeFullTrack(), t).empty() : t.Info.Text == "before")
            << path;
    }
}

TEST(SaveTrack, WritesTheImageAppendingTheExtensionAndReplacesALargerFileWhole) {
    TempDir dir;
    // An existing larger file: the new one replaces it whole and keeps its permissions.
    WriteFileBytes(dir.File("out.CVTRACK"), std::vector<uint8_t>(100000, 0xEE));
    ::chmod(dir.File("out.CVTRACK").c_str(), 0640);
    const std::pair<std::string, std::string> cases[] = {
        {"out", "out.cvtrack"},
        {"out.CVTRACK", "out.CVTRACK"},
        {"out.cvtrack.old", "out.cvtrack.old.cvtrack"}};
    for (const auto& [given, written] : cases) {
        TrackData t = MakeFullTrack();
        const SaveResult r = SaveTrack(dir.File(given), t);
        ASSERT_TRUE(r.ok) << r.reason;
        EXPECT_EQ(r.path, dir.File(written));
        EXPECT_EQ(ReadFileBytes(r.path), FrameByHand(MakeFullTrack()).bytes);
    }
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("out.CVTRACK").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Listing(dir.Path()),
              (Names{"out.CVTRACK", "out.cvtrack", "out.cvtrack.old.cvtrack"}));
}

// The real steps, except that step `step` (0 create, 1 write, 2 flush, 3 close,
// 4 rename) fails with `err`; a failing write first puts half the image on disk.
class FailingSteps : public PosixSaveSteps {
  public:
    FailingSteps(int step, int err) : step_(step), err_(err) {}
    int CreateTemp(const std::string& target, std::string& temp) override {
        return step_ == 0 ? err_ : PosixSaveSteps::CreateTemp(target, temp);
    }
    int Write(std::span<const uint8_t> bytes) override {
        if (step_ != 1) return PosixSaveSteps::Write(bytes);
        PosixSaveSteps::Write(bytes.first(bytes.size() / 2));
        return err_;
    }
    int Flush() override { return step_ == 2 ? err_ : PosixSaveSteps::Flush(); }
    int Close() override {
        const int rc = PosixSaveSteps::Close();
        return step_ == 3 && closes_++ == 0 ? err_ : rc;
    }
    int Rename(const std::string& from, const std::string& to) override {
        return step_ == 4 ? err_ : PosixSaveSteps::Rename(from, to);
    }

  private:
    int step_, err_, closes_ = 0;
};

TEST(SaveTrack, FailureAtAnyStepKeepsTheOldFileAndReportsTheSystemReason) {
    const std::tuple<int, int, const char*> cases[] = {{0, EACCES, "cannot create"},
                                                       {1, ENOSPC, "cannot write"},
                                                       {2, EIO, "cannot flush"},
                                                       {3, EDQUOT, "cannot close"},
                                                       {4, EROFS, "cannot replace"}};
    for (const auto& [step, err, what] : cases) {
        TempDir dir;
        const std::string path = dir.File("keep.cvtrack");
        WriteFileBytes(path, std::vector<uint8_t>{'o', 'l', 'd'});
        FailingSteps steps(step, err);
        TrackData t = MakeFullTrack();
        const SaveResult r = SaveTrack(path, t, steps);
        EXPECT_FALSE(r.ok) << what;
        EXPECT_TRUE(Contains(r.reason, what)) << r.reason;
        EXPECT_TRUE(Contains(r.reason, std::strerror(err))) << r.reason;
        EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'})) << what;
        EXPECT_EQ(Listing(dir.Path()), Names{"keep.cvtrack"}) << what;
    }
}

TEST(SaveTrack, RefusesTargetsItCannotWriteAndInconsistentTracks) {
    TempDir dir;
    fs::create_directory(dir.File("taken.cvtrack"));
    WriteFileBytes(dir.File("taken.cvtrack/inside"), std::vector<uint8_t>{1});
    TrackData inconsistent;
    inconsistent.Tera.Present = true;
    inconsistent.Tera.Columns = inconsistent.Tera.Rows = std::numeric_limits<int32_t>::max();
    const std::tuple<std::string, TrackData, std::string> cases[] = {
        {dir.File("taken.cvtrack"), TrackData{}, std::strerror(EISDIR)},
        {dir.File("no/such/dir/x.cvtrack"), TrackData{}, std::strerror(ENOENT)},
        {"", TrackData{}, "no file name"},
        {dir.File("inconsistent"), inconsistent, "the terrain grid size"}};
    for (auto [path, track, reason] : cases) {
        const SaveResult r = SaveTrack(path, track);
        EXPECT_FALSE(r.ok) << path;
        EXPECT_TRUE(Contains(r.reason, reason)) << path << ": " << r.reason;
    }
    EXPECT_EQ(Listing(dir.Path()), Names{"taken.cvtrack"});
    EXPECT_EQ(Listing(dir.File("taken.cvtrack")), Names{"inside"});
}

}  // namespace
}  // namespace cvqrn
