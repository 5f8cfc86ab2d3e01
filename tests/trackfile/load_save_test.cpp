// LoadTrack and SaveTrack on real files, with injected file-system failures
// (the tests run as root, which file permissions do not stop) and failing
// allocations.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <tuple>

#include "tests/support/failing_new.h"
#include "tests/support/track_builder.h"
#include "trackfile/file_save.h"
#include "trackfile/track_file.h"

namespace cvqrn {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;
using Names = std::vector<std::string>;

Names Listing(const std::string& dir) {
    Names names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const std::vector<uint8_t> kOld = {'o', 'l', 'd'};

std::vector<uint8_t> FullImage() {
    return FrameByHand(MakeFullTrack()).bytes;
}

// A readable regular file whose name ends in ".cvtrack" (any case) loads;
// anything else is refused and leaves the track untouched. A save refuses
// targets it cannot write and a record that contradicts its counts.
TEST(LoadAndSave, RefuseWhatTheyCannotTakeWithAReason) {
    TempDir dir;
    WriteFileBytes(dir.File("RIDE.CVTRACK"), FullImage());
    WriteFileBytes(dir.File("ride.txt"), FullImage());
    fs::create_directory(dir.File("folder.cvtrack"));
    const std::pair<std::string, std::string> loads[] = {
        {dir.File("RIDE.CVTRACK"), ""},
        {"", "no file name"},
        {dir.File("missing.cvtrack"), std::strerror(ENOENT)},
        {dir.File("folder.cvtrack"), "it is a folder"},
        {dir.File("ride.txt"), ".cvtrack"},
        {"/dev/null", "not a regular file"},
    };
    for (const auto& [path, reason] : loads) {
        TrackData t;
        t.Info.Text = "before";  // a load that got as far as clearing the track would drop it
        const Result r = LoadTrack(path, t);
        EXPECT_EQ(static_cast<bool>(r), reason.empty()) << path << ": " << r.message;
        EXPECT_TRUE(Contains(r.message, reason)) << path << ": " << r.message;
        EXPECT_TRUE(r ? DiffTracks(MakeFullTrack(), t).empty() : t.Info.Text == "before") << path;
    }
    TrackData inconsistent;
    inconsistent.Bezr.VertexCount = 9;
    const std::tuple<std::string, TrackData, std::string> saves[] = {
        {dir.File("folder.cvtrack"), TrackData{}, "it is a folder"},
        {dir.File("folder.cvtrack/"), TrackData{}, "ends in '/'"},
        {dir.File("no/such/dir/x.cvtrack"), TrackData{}, std::strerror(ENOENT)},
        {"", TrackData{}, "no file name"},
        {dir.File("inconsistent"), inconsistent, "the vertex count says 9"}};
    for (const auto& [path, track, reason] : saves) {
        const SaveResult r = SaveTrack(path, track);
        EXPECT_FALSE(r) << path;
        EXPECT_TRUE(Contains(r.message, reason)) << path << ": " << r.message;
    }
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

TEST(SaveTrack, WritesTheImageAppendingTheExtensionAndReplacesALargerFileWhole) {
    TempDir dir;
    // An existing larger file, setuid, owned by someone else: the new one
    // replaces it whole, keeps its owner and permissions, drops the setuid bit.
    WriteFileBytes(dir.File("out.CVTRACK"), std::vector<uint8_t>(100000, 0xEE));
    ASSERT_EQ(::chown(dir.File("out.CVTRACK").c_str(), 1234, 5678), 0);  // clears setuid
    ::chmod(dir.File("out.CVTRACK").c_str(), 04640);
    const std::string longName(NAME_MAX - 8, 'n');  // the longest name the folder takes
    const std::pair<std::string, std::string> cases[] = {
        {"out", "out.cvtrack"}, {"out.CVTRACK", "out.CVTRACK"}, {longName, longName + ".cvtrack"}};
    for (const auto& [given, written] : cases) {
        const SaveResult r = SaveTrack(dir.File(given), MakeFullTrack());
        ASSERT_TRUE(r) << r.message;
        EXPECT_EQ(r.path, dir.File(written));
        EXPECT_EQ(r.bytes, FullImage().size());
        EXPECT_EQ(ReadFileBytes(r.path), FullImage());
    }
    const struct stat st = StatOf(dir.File("out.CVTRACK"));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
}

// A symbolic link is followed: the file it names is replaced in its own
// folder (or created, for a dangling link) and the link stays a link. A hard
// link is split, as atomic replacement must, and the result says so.
TEST(SaveTrack, FollowsSymbolicLinksAndSplitsHardLinks) {
    TempDir dir;
    fs::create_directory(dir.File("real"));
    fs::create_symlink("real/a.cvtrack", dir.File("rel.cvtrack"));
    fs::create_symlink(dir.File("rel.cvtrack"), dir.File("chain.cvtrack"));
    fs::create_symlink("real/new.cvtrack", dir.File("dangling.cvtrack"));
    const std::pair<const char*, const char*> cases[] = {{"rel.cvtrack", "real/a.cvtrack"},
                                                         {"chain.cvtrack", "real/a.cvtrack"},
                                                         {"dangling.cvtrack", "real/new.cvtrack"}};
    for (auto [link, file] : cases) {
        WriteFileBytes(dir.File("real/a.cvtrack"), kOld);
        const SaveResult r = SaveTrack(dir.File(link), MakeFullTrack());
        ASSERT_TRUE(r) << link << ": " << r.message;
        EXPECT_TRUE(S_ISLNK(StatOf(dir.File(link)).st_mode)) << link;
        EXPECT_EQ(ReadFileBytes(dir.File(file)), FullImage()) << link;
    }

    fs::create_hard_link(dir.File("real/a.cvtrack"), dir.File("b.cvtrack"));
    const SaveResult r = SaveTrack(dir.File("b.cvtrack"), TrackData{});
    EXPECT_TRUE(Contains(r.note, "1 other hard link")) << r.message << r.note;
    EXPECT_EQ(ReadFileBytes(dir.File("real/a.cvtrack")), kOld);
    EXPECT_EQ(SaveTrack(dir.File("b.cvtrack"), MakeFullTrack()).note, "");
}

// A save removes the temporary files a killed save of the same target left,
// but not those of other targets nor one a running save holds.
TEST(SaveTrack, RemovesStaleTemporaryFilesOfTheSameTarget) {
    TempDir dir;
    const std::string mine = TempPrefixFor("t.cvtrack");
    const std::string held = mine + "held00.tmp";
    for (const std::string& name : {mine + "stale0.tmp", mine + "stale1.tmp", held,
                                    TempPrefixFor("other.cvtrack") + "stale0.tmp", mine + "x.tmp"})
        WriteFileBytes(dir.File(name), kOld);
    const int holder = ::open(dir.File(held).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    ASSERT_TRUE(SaveTrack(dir.File("t.cvtrack"), MakeFullTrack()));
    ::close(holder);
    Names kept = {TempPrefixFor("other.cvtrack") + "stale0.tmp", held, mine + "x.tmp", "t.cvtrack"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(Listing(dir.Path()), kept);
}

// The real steps, except that step `step` (0 create, 1 write, 2 flush, 3 close,
// 4 rename, 5 lock) fails with `err` (the lock only the first time); a failing
// write first puts half the image on disk, and an `err` of 0 there stands for
// SIGTERM arriving at that moment.
class FailingSteps : public PosixSaveSteps {
  public:
    FailingSteps(int step, int err) : step_(step), err_(err) {}
    int CreateTemp(int dir, const std::string& name) override {
        return step_ == 0 ? err_ : PosixSaveSteps::CreateTemp(dir, name);
    }
    int Lock() override { return step_ == 5 && locks_++ == 0 ? err_ : PosixSaveSteps::Lock(); }
    int Write(std::span<const uint8_t> bytes) override {
        if (step_ != 1) return PosixSaveSteps::Write(bytes);
        PosixSaveSteps::Write(bytes.first(bytes.size() / 2));
        if (err_ == 0) ::raise(SIGTERM);
        return err_;
    }
    int Flush() override { return step_ == 2 ? err_ : PosixSaveSteps::Flush(); }
    int Close() override {
        const int rc = PosixSaveSteps::Close();
        return step_ == 3 && closes_++ == 0 ? err_ : rc;
    }
    int Rename(int dir, const std::string& from, const std::string& to) override {
        return step_ == 4 ? err_ : PosixSaveSteps::Rename(dir, from, to);
    }

  private:
    int step_, err_, closes_ = 0, locks_ = 0;
};

// A failure at any step, SIGTERM amid the write and a write past the file-size
// limit (EFBIG, not death by SIGXFSZ) keep the old file and leave no temporary.
TEST(SaveTrackDeathTest, FailureAtAnyStepOrBySignalKeepsTheOldFile) {
    // step (-1: none), its errno (0: SIGTERM), a part of the reason
    const std::tuple<int, int, const char*> cases[] = {
        {0, EROFS, "cannot create"}, {1, EFBIG, "cannot write"},   {2, EIO, "cannot flush"},
        {3, EDQUOT, "cannot close"}, {4, EXDEV, "cannot replace"}, {1, 0, ""},
        {-1, EFBIG, "cannot write"}, {5, ENOLCK, "cannot lock"}};
    for (const auto& [step, err, what] : cases) {
        TempDir dir;
        const std::string path = dir.File("keep.cvtrack");
        WriteFileBytes(path, kOld);
        FailingSteps steps(step, err);
        const auto save = [&] {
            const rlimit limit{1024, 1024};
            if (step < 0) ::setrlimit(RLIMIT_FSIZE, &limit);
            const SaveResult r = SaveTrack(path, MakeLargeTrack(64, 64, 0, 0), steps);
            std::cerr << r.message;
            std::exit(r || r.status == Status::InPlacePossible ? 0 : 1);
        };
        if (err == 0) {
            EXPECT_EXIT(save(), testing::KilledBySignal(SIGTERM), "");
        } else {
            EXPECT_EXIT(save(), testing::ExitedWithCode(1),
                        std::string(what) + ".*" + std::strerror(err));
        }
        EXPECT_EQ(ReadFileBytes(path), kOld) << what;
        EXPECT_EQ(Listing(dir.Path()), Names{"keep.cvtrack"}) << what;
    }
}

// Steps that let another process save the same target while this save writes.
class SaveDuringWrite : public PosixSaveSteps {
  public:
    explicit SaveDuringWrite(std::string path) : path_(std::move(path)) {}
    int Write(std::span<const uint8_t> bytes) override {
        const pid_t child = ::fork();
        if (child == 0) _exit(SaveTrack(path_, MakeLargeTrack(8, 8, 0, 0)) ? 0 : 1);
        int status = -1;
        ::waitpid(child, &status, 0);
        otherSaved = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        return PosixSaveSteps::Write(bytes);
    }
    bool otherSaved = false;

  private:
    std::string path_;
};

// The lock marks a save's temporary file as live: a concurrent save of the
// same target sweeps stale files only, so both saves work (the later rename
// wins) and leave nothing behind. A lock lost to such a sweep in the moment
// after the file was made costs only the name: the save tries another.
TEST(SaveTrack, AConcurrentSaveLeavesTheLiveTemporaryFileAlone) {
    TempDir dir;
    const std::string path = dir.File("t.cvtrack");
    SaveDuringWrite steps(path);
    const SaveResult first = SaveTrack(path, MakeFullTrack(), steps);
    EXPECT_TRUE(steps.otherSaved);
    ASSERT_TRUE(first) << first.message;
    EXPECT_EQ(ReadFileBytes(path), FullImage());
    EXPECT_EQ(Listing(dir.Path()), Names{"t.cvtrack"});

    FailingSteps swept(5, EEXIST);
    ASSERT_TRUE(SaveTrack(path, MakeFullTrack(), swept));
    EXPECT_EQ(Listing(dir.Path()), Names{"t.cvtrack"});
}

// A folder that takes no new file (as the tests run as root, the refusal is
// injected) while the file is writable: refused with InPlacePossible, or
// written in place when asked.
TEST(SaveTrack, WritesInPlaceOnlyWhenAskedAndTheFolderTakesNoNewFile) {
    TempDir dir;
    const std::string path = dir.File("in.cvtrack");
    WriteFileBytes(path, std::vector<uint8_t>(100000, 0xEE));
    FailingSteps denied(0, EACCES);
    const SaveResult refused = SaveTrack(path, MakeFullTrack(), denied);
    EXPECT_EQ(refused.status, Status::InPlacePossible);
    EXPECT_TRUE(Contains(refused.message, "not atomically")) << refused.message;
    EXPECT_EQ(ReadFileBytes(path).size(), 100000u);

    const SaveResult written = SaveTrack(path, MakeFullTrack(), denied, {.inPlace = true});
    ASSERT_TRUE(written) << written.message;
    EXPECT_TRUE(Contains(written.note, "in place")) << written.note;
    EXPECT_EQ(ReadFileBytes(path), FullImage());
    // No file to overwrite: nothing is possible in place.
    EXPECT_EQ(SaveTrack(dir.File("new.cvtrack"), MakeFullTrack(), denied).status, Status::IoError);
}

// The real steps, except that write number `failing` (from 1) fails with ENOSPC.
class FailingWriteSteps : public PosixSaveSteps {
  public:
    explicit FailingWriteSteps(int failing) : failing_(failing) {}
    int Write(std::span<const uint8_t> bytes) override {
        return ++writes_ == failing_ ? ENOSPC : PosixSaveSteps::Write(bytes);
    }
    int writes_ = 0;

  private:
    int failing_;
};

// An image of several of the save's blocks and the load's give-back steps
// (a 1024 x 1024 grid among scenery and vertices: about 6 MB). Faults caught:
// a block lost, repeated or cut short; bytes given back before they were
// decoded (they then read as zeros); a write failing past the first block
// that leaves a temporary file or a damaged target.
TEST(LoadAndSave, ImagesOfManyBlocksKeepEveryByteAndAFailureInAnyBlockKeepsTheOldFile) {
    TempDir dir;
    const TrackData track = MakeLargeTrack(1024, 1024, 20000, 3000);
    const std::vector<uint8_t> image = EncodeTrack(track).image;
    ASSERT_GT(image.size(), size_t{5} << 20);
    const std::string path = dir.File("big.cvtrack");
    FailingWriteSteps counted(0);
    ASSERT_TRUE(SaveTrack(path, track, counted));
    EXPECT_GT(counted.writes_, 5);
    EXPECT_EQ(ReadFileBytes(path), image);
    TrackData loaded;
    ASSERT_TRUE(LoadTrack(path, loaded));
    EXPECT_EQ(EncodeTrack(loaded).image, image);

    WriteFileBytes(path, kOld);
    for (const int failing : {1, 2, counted.writes_}) {
        FailingWriteSteps steps(failing);
        const SaveResult r = SaveTrack(path, track, steps);
        EXPECT_FALSE(r) << failing;
        EXPECT_TRUE(Contains(r.message, std::strerror(ENOSPC))) << r.message;
        EXPECT_EQ(ReadFileBytes(path), kOld) << failing;
        EXPECT_EQ(Listing(dir.Path()), Names{"big.cvtrack"}) << failing;
    }
    // In place, block by block over a longer file: cut to the image's length.
    WriteFileBytes(path, std::vector<uint8_t>(image.size() + 5000, 0xEE));
    FailingSteps denied(0, EACCES);
    ASSERT_TRUE(SaveTrack(path, track, denied, {.inPlace = true}));
    EXPECT_EQ(ReadFileBytes(path), image);
}

// Runs `call` with allocation n failing, for n = 0, 1, ... until a run makes
// no more than n allocations. Each run that met its failing allocation must be
// refused for `reason` and leave the folder as it was: in.cvtrack and the old
// out.cvtrack, no temporary file.
template <class Call>
void WithEachAllocationFailing(const TempDir& dir, Call call, const std::string& reason) {
    for (long n = 0;; ++n) {
        g_allocationFaults.count = 0;
        g_allocationFaults.failAt = n;
        const auto result = call();
        const bool failed = g_allocationFaults.count > n;
        g_allocationFaults.failAt = -1;
        SCOPED_TRACE(n);
        EXPECT_EQ(static_cast<bool>(result), !failed);
        EXPECT_EQ(result.message, failed ? reason : "");
        if (!failed) return;
        EXPECT_EQ(ReadFileBytes(dir.File("out.cvtrack")), kOld);
        EXPECT_EQ(Listing(dir.Path()), (Names{"in.cvtrack", "out.cvtrack"}));
    }
}

TEST(OutOfMemory, EveryFailingAllocationOfALoadOrASaveIsARefusalThatKeepsTheOldFile) {
    TempDir dir;
    const std::string in = dir.File("in.cvtrack"), out = dir.File("out.cvtrack");
    WriteFileBytes(in, FrameByHand(MakeFullTrack()).bytes);
    WriteFileBytes(out, kOld);
    TrackData t;
    WithEachAllocationFailing(
        dir, [&] { return LoadTrack(in, t); }, "not enough memory to load the file");
    WithEachAllocationFailing(
        dir, [&] { return SaveTrack(out, t); }, "not enough memory to save the track");
}

}  // namespace
}  // namespace cvqrn
