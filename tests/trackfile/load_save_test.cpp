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

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LoadTrack, AcceptsAnyReadableRegularFileWithTheExtension) {
    TempDir dir;
    const std::vector<uint8_t> image = FrameByHand(MakeFullTrack()).bytes;
    for (const char* name :
         {"ride.cvtrack", "RIDE.CVTRACK", ".hidden.cvtrack", ".cvtrack", "a b.CvTrack"}) {
        WriteFileBytes(dir.File(name), image);
        TrackData t;
        const LoadResult r = LoadTrack(dir.File(name), t);
        EXPECT_TRUE(r.ok) << name << ": " << r.reason;
        EXPECT_TRUE(DiffTracks(MakeFullTrack(), t).empty()) << name;
    }
}

TEST(LoadTrack, RefusesBadNamesAndLeavesTheTrackUntouched) {
    TempDir dir;
    const std::vector<uint8_t> image = FrameByHand(TrackData{}).bytes;
    WriteFileBytes(dir.File("ride.txt"), image);
    WriteFileBytes(dir.File("ride.cvtrack.bak"), image);
    fs::create_directory(dir.File("folder.cvtrack"));
    struct Case {
        std::string path;
        std::string reason;
    };
    const Case cases[] = {
        {"", "no file name"},
        {dir.File("missing.cvtrack"), std::strerror(ENOENT)},
        {dir.File("folder.cvtrack"), "directory"},
        {dir.File("ride.txt"), ".cvtrack"},
        {dir.File("ride.cvtrack.bak"), ".cvtrack"},
        {"/dev/null", "not a regular file"},
    };
    for (const Case& c : cases) {
        TrackData t = MakeFullTrack();
        const LoadResult r = LoadTrack(c.path, t);
        EXPECT_FALSE(r.ok) << c.path;
        EXPECT_NE(r.reason.find(c.reason), std::string::npos) << c.path << ": " << r.reason;
        EXPECT_TRUE(DiffTracks(MakeFullTrack(), t, true).empty()) << c.path;
    }
}

TEST(LoadTrack, WrongMagicClearsTheTrack) {
    TempDir dir;
    std::vector<uint8_t> image = FrameByHand(MakeFullTrack()).bytes;
    image[0] = 'X';
    WriteFileBytes(dir.File("bad.cvtrack"), image);
    TrackData t = MakeFullTrack();
    const LoadResult r = LoadTrack(dir.File("bad.cvtrack"), t);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.reason.find("CORV"), std::string::npos) << r.reason;
    EXPECT_TRUE(DiffTracks(TrackData{}, t, true).empty());
}

TEST(SaveTrack, WritesTheImageAndAppendsTheExtension) {
    TempDir dir;
    struct Case {
        std::string given, written;
    };
    const Case cases[] = {{"out", "out.cvtrack"},
                          {"out.CVTRACK", "out.CVTRACK"},
                          {"out.cvtrack.old", "out.cvtrack.old.cvtrack"}};
    for (const Case& c : cases) {
        TrackData t = MakeFullTrack();
        const SaveResult r = SaveTrack(dir.File(c.given), t);
        ASSERT_TRUE(r.ok) << r.reason;
        EXPECT_EQ(r.path, dir.File(c.written));
        EXPECT_EQ(ReadFileBytes(r.path), FrameByHand(MakeFullTrack()).bytes);
    }
    EXPECT_EQ(Listing(dir.Path()),
              (std::vector<std::string>{"out.CVTRACK", "out.cvtrack", "out.cvtrack.old.cvtrack"}));
}

TEST(SaveTrack, ReplacesALargerFileWholeAndKeepsItsPermissions) {
    TempDir dir;
    const std::string path = dir.File("big.cvtrack");
    WriteFileBytes(path, std::vector<uint8_t>(100000, 0xEE));
    ::chmod(path.c_str(), 0640);
    TrackData t;
    ASSERT_TRUE(SaveTrack(path, t).ok);
    EXPECT_EQ(ReadFileBytes(path).size(), 665u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"big.cvtrack"});
}

// The real steps, except that one chosen step fails with a chosen error.
class FailingSteps : public PosixSaveSteps {
  public:
    FailingSteps(int step, int err) : step_(step), err_(err) {}
    int CreateTemp(const std::string& target, std::string& temp) override {
        return step_ == 0 ? err_ : PosixSaveSteps::CreateTemp(target, temp);
    }
    int Write(std::span<const uint8_t> bytes) override {
        // Half the image reaches the disk before the failure.
        if (step_ == 1) {
            PosixSaveSteps::Write(bytes.first(bytes.size() / 2));
            return err_;
        }
        return PosixSaveSteps::Write(bytes);
    }
    int Flush() override { return step_ == 2 ? err_ : PosixSaveSteps::Flush(); }
    int Close() override {
        const int rc = PosixSaveSteps::Close();
        const bool fail = step_ == 3 && !closedOnce_;
        closedOnce_ = true;
        return fail ? err_ : rc;
    }
    int Rename(const std::string& from, const std::string& to) override {
        return step_ == 4 ? err_ : PosixSaveSteps::Rename(from, to);
    }

  private:
    int step_, err_;
    bool closedOnce_ = false;
};

TEST(SaveTrack, FailureAtAnyStepKeepsTheOldFileAndReportsTheSystemReason) {
    struct Case {
        int step;
        int err;
        const char* what;
    };
    const Case cases[] = {{0, EACCES, "cannot create"},
                          {1, ENOSPC, "cannot write"},
                          {2, EIO, "cannot flush"},
                          {3, EDQUOT, "cannot close"},
                          {4, EROFS, "cannot replace"}};
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.File("keep.cvtrack");
        const std::vector<uint8_t> old = {'o', 'l', 'd'};
        WriteFileBytes(path, old);
        FailingSteps steps(c.step, c.err);
        TrackData t = MakeFullTrack();
        const SaveResult r = SaveTrack(path, t, steps);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_NE(r.reason.find(c.what), std::string::npos) << r.reason;
        EXPECT_NE(r.reason.find(std::strerror(c.err)), std::string::npos) << r.reason;
        EXPECT_EQ(ReadFileBytes(path), old) << c.what;
        EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"keep.cvtrack"}) << c.what;
    }
}

TEST(SaveTrack, RefusesTargetsItCannotWrite) {
    TempDir dir;
    fs::create_directory(dir.File("taken.cvtrack"));
    WriteFileBytes(dir.File("taken.cvtrack/inside"), std::vector<uint8_t>{1});
    struct Case {
        std::string path;
        std::string reason;
    };
    const Case cases[] = {{dir.File("taken.cvtrack"), std::strerror(EISDIR)},
                          {dir.File("no/such/dir/x.cvtrack"), std::strerror(ENOENT)},
                          {"", "no file name"}};
    for (const Case& c : cases) {
        TrackData t;
        const SaveResult r = SaveTrack(c.path, t);
        EXPECT_FALSE(r.ok) << c.path;
        EXPECT_NE(r.reason.find(c.reason), std::string::npos) << c.path << ": " << r.reason;
    }
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"taken.cvtrack"});
    EXPECT_EQ(Listing(dir.File("taken.cvtrack")), std::vector<std::string>{"inside"});
}

TEST(SaveTrack, RefusesATrackTooLargeForTheFormat) {
    TempDir dir;
    TrackData t;
    t.Tera.Present = true;
    t.Tera.Columns = std::numeric_limits<int32_t>::max();
    t.Tera.Rows = std::numeric_limits<int32_t>::max();
    EXPECT_TRUE(EncodeTrack(t).empty());
    const SaveResult r = SaveTrack(dir.File("huge"), t);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.reason.find("too large"), std::string::npos) << r.reason;
    EXPECT_TRUE(Listing(dir.Path()).empty());
}

}  // namespace
}  // namespace cvqrn
