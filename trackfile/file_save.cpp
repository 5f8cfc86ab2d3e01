// The save's file-system work. The image goes to a temporary file in the
// target's folder, is flushed and renamed over the target. Everything after
// the folder is opened is done relative to that folder's handle (openat,
// renameat, unlinkat), so a folder renamed mid-save cannot misdirect a step.
//
// Temporary files are ".cvqrn-HHHHHHHH-RRRRRR.tmp": H a hash of the target's
// name (so the name stays short whatever the target's length, and the temps
// of one target are known), R random. The save holds an flock on its temp
// while it lives; a temp of the same target that nobody holds is what a killed
// save left behind, and the next save of that target removes it.
#include "trackfile/file_save.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>
#include <random>

#include "text/words.h"

namespace cvqrn {

namespace {

constexpr std::string_view kTempSuffix = ".tmp";
constexpr size_t kTempRandomChars = 6;
constexpr int kMaxLinkHops = 40;

class FdGuard {
  public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

int WriteAll(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        done += static_cast<size_t>(n);
    }
    return 0;
}

// ---- Signals during a save
//
// SIGXFSZ is ignored, so that a write past the file-size limit fails with
// EFBIG instead of killing the process. SIGTERM, SIGINT and SIGHUP remove the
// temporary file and are then delivered as they would have been.

constexpr std::array<int, 3> kEndingSignals = {SIGTERM, SIGINT, SIGHUP};

volatile std::sig_atomic_t g_tempArmed = 0;
int g_tempDir = -1;
char g_tempName[64] = {};
struct sigaction g_previous[kEndingSignals.size()];

void RemoveTempAndResend(int sig) {
    if (g_tempArmed != 0) ::unlinkat(g_tempDir, g_tempName, 0);
    for (size_t i = 0; i < kEndingSignals.size(); ++i) {
        if (kEndingSignals[i] == sig) ::sigaction(sig, &g_previous[i], nullptr);
    }
    ::raise(sig);  // blocked until this handler returns; then handled as before the save
}

class SignalGuard {
  public:
    SignalGuard() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, &previousXfsz_);
        struct sigaction cleanup {};
        cleanup.sa_handler = RemoveTempAndResend;
        ::sigemptyset(&cleanup.sa_mask);
        for (size_t i = 0; i < kEndingSignals.size(); ++i) {
            ::sigaction(kEndingSignals[i], nullptr, &g_previous[i]);
            // A signal the process ignores stays ignored.
            installed_[i] = g_previous[i].sa_handler != SIG_IGN;
            if (installed_[i]) ::sigaction(kEndingSignals[i], &cleanup, nullptr);
        }
    }
    ~SignalGuard() {
        Disarm();
        for (size_t i = 0; i < kEndingSignals.size(); ++i) {
            if (installed_[i]) ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
        }
        ::sigaction(SIGXFSZ, &previousXfsz_, nullptr);
    }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

    void Arm(int dir, const std::string& name) {
        std::memcpy(g_tempName, name.c_str(), std::min(name.size() + 1, sizeof g_tempName));
        g_tempDir = dir;
        g_tempArmed = 1;
    }
    static void Disarm() { g_tempArmed = 0; }

  private:
    struct sigaction previousXfsz_ {};
    std::array<bool, kEndingSignals.size()> installed_{};
};

// ---- Names

// `path` split at its last slash; the folder is "." when there is none.
struct PathParts {
    std::string dir;
    std::string name;
};

PathParts SplitPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

// Follows symbolic links from `path` to the name they finally stand for (the
// file there may not exist yet: a dangling link's file is created). Returns 0
// or the errno value.
int FollowLinks(std::string& path) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode)) return 0;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return errno;
        target.resize(static_cast<size_t>(n));
        if (!target.empty() && target[0] == '/') {
            path = target;
        } else {
            path = SplitPath(path).dir + "/" + target;
        }
    }
    return ELOOP;
}

std::string RandomChars() {
    static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, kAlphabet.size() - 1);
    std::string s;
    for (size_t i = 0; i < kTempRandomChars; ++i) s += kAlphabet[pick(engine)];
    return s;
}

bool IsTempOf(std::string_view entry, std::string_view prefix) {
    return entry.size() == prefix.size() + kTempRandomChars + kTempSuffix.size() &&
           entry.starts_with(prefix) && entry.ends_with(kTempSuffix);
}

// True when `name` in the open folder `dir` is the file open as `fd`.
bool NameStillHolds(int dir, const char* name, int fd) {
    struct stat named {};
    struct stat held {};
    return ::fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &held) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

// Removes the temporary files of this target that no running save holds.
void RemoveStaleTemps(int dir, std::string_view prefix) {
    const int listFd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return;
    DIR* listing = ::fdopendir(listFd);
    if (listing == nullptr) {
        ::close(listFd);
        return;
    }
    while (const dirent* e = ::readdir(listing)) {
        if (!IsTempOf(e->d_name, prefix)) continue;
        const FdGuard fd(::openat(dir, e->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        struct stat st {};
        if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && NameStillHolds(dir, e->d_name, fd.get())) {
            ::unlinkat(dir, e->d_name, 0);
        }
    }
    ::closedir(listing);
}

// The replaced file's owner and group where the system allows it, and its
// permissions without setuid, setgid and sticky bits.
void KeepOwnerAndMode(int fd, const struct stat& old) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    (void)::fchmod(fd, old.st_mode & 0777);
}

// Hands `image` to `write` and checks that it came whole: 0, the write's
// failure, or EIO for an image shorter or longer than it said.
int WriteImage(const ImageSource& image, const ImageSource::Write& write) {
    size_t written = 0;
    const int err = image.produce([&](std::span<const uint8_t> block) {
        written += block.size();
        return write(block);
    });
    if (err != 0) return err;
    return written == image.size ? 0 : EIO;
}

SaveResult Saved(const std::string& path, size_t bytes, std::string note) {
    SaveResult result;
    result.path = path;
    result.bytes = bytes;
    result.note = std::move(note);
    return result;
}

SaveResult WriteInPlace(int dir, const std::string& name, const ImageSource& image,
                        const std::string& path) {
    const FdGuard fd(::openat(dir, name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    int err = fd.get() < 0 ? errno : WriteImage(image, [&fd](std::span<const uint8_t> block) {
        return WriteAll(fd.get(), block);
    });
    if (err == 0 && ::ftruncate(fd.get(), static_cast<off_t>(image.size)) != 0) err = errno;
    if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
    if (err != 0) {
        return SaveFailure(path, Status::IoError,
                           "cannot write the file in place: " + SystemReason(err));
    }
    return Saved(path, image.size,
                 "written in place, not atomically (its folder does not allow a new file)");
}

}  // namespace

SaveResult SaveFailure(std::string path, Status status, std::string reason) {
    SaveResult result;
    result.status = status;
    result.message = std::move(reason);
    result.path = std::move(path);
    return result;
}

std::string TempPrefixFor(std::string_view name) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (const char c : name) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    }
    static constexpr std::string_view kHex = "0123456789abcdef";
    std::string prefix = ".cvqrn-";
    for (int shift = 28; shift >= 0; shift -= 4) prefix += kHex[(hash >> shift) & 0xFu];
    return prefix + "-";
}

SaveResult SaveImage(const ImageSource& image, const std::string& path, SaveSteps& steps,
                     const SaveOptions& options) {
    const auto refused = [&path](Status status, std::string reason) {
        return SaveFailure(path, status, std::move(reason));
    };
    std::string target = path;
    if (const int err = FollowLinks(target); err != 0) {
        return refused(Status::IoError, "cannot follow the link: " + SystemReason(err));
    }
    const auto [dirPath, name] = SplitPath(target);
    if (name.empty() || name == "." || name == "..") {
        return refused(Status::InvalidFile, "it names a folder, not a file");
    }
    const FdGuard dir(::open(dirPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return refused(Status::IoError, "cannot open its folder: " + SystemReason(errno));
    struct stat old {};
    const bool exists = ::fstatat(dir.get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(old.st_mode)) return refused(Status::InvalidFile, "it is a folder");
    if (exists && !S_ISREG(old.st_mode)) {
        return refused(Status::InvalidFile, "it is not a regular file");
    }

    // Made before any file is, so that running out of memory can neither
    // leave a temporary file behind nor report a save that happened as failed.
    SaveResult saved = Saved(path, image.size, {});
    SignalGuard signals;
    const std::string prefix = TempPrefixFor(name);
    RemoveStaleTemps(dir.get(), prefix);
    // A name is lost (EEXIST) when it exists already, or when another save's
    // sweep of stale files took the new file before this save locked it.
    std::string temp;
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        temp = prefix + RandomChars() + std::string(kTempSuffix);
        err = steps.CreateTemp(dir.get(), temp);
        if (err != 0) continue;
        err = steps.Lock();
        if (err == 0) break;
        steps.Close();
        ::unlinkat(dir.get(), temp.c_str(), 0);
        if (err != EEXIST) {
            return refused(Status::IoError, "cannot lock the temporary file: " + SystemReason(err));
        }
    }
    if (err != 0) {
        const bool folderRefused = err == EACCES || err == EPERM;
        if (folderRefused && exists &&
            ::faccessat(dir.get(), name.c_str(), W_OK, AT_EACCESS) == 0) {
            if (options.inPlace) return WriteInPlace(dir.get(), name, image, path);
            return refused(Status::InPlacePossible,
                           "cannot create a file in its folder (" + SystemReason(err) +
                               "); the file itself is writable and can be overwritten in place, "
                               "but not atomically: a failure midway would leave it damaged");
        }
        return refused(Status::IoError, "cannot create a file in its folder: " + SystemReason(err));
    }
    signals.Arm(dir.get(), temp);
    if (exists) KeepOwnerAndMode(steps.Fd(), old);

    // Each step that fails closes and removes the temporary file; the target
    // is only ever touched by the final rename.
    const auto fail = [&](const char* step, int stepErr) {
        steps.Close();
        ::unlinkat(dir.get(), temp.c_str(), 0);
        return refused(Status::IoError, std::string(step) + ": " + SystemReason(stepErr));
    };
    try {
        err = WriteImage(image, [&steps](std::span<const uint8_t> block) { return steps.Write(block); });
    } catch (const std::bad_alloc&) {
        steps.Close();
        ::unlinkat(dir.get(), temp.c_str(), 0);  // no temporary file stays behind
        throw;
    }
    if (err != 0) return fail("cannot write the file", err);
    if ((err = steps.Flush()) != 0) return fail("cannot flush the file to disk", err);
    if ((err = steps.Close()) != 0) return fail("cannot close the file", err);
    if ((err = steps.Rename(dir.get(), temp, name)) != 0) {
        return fail("cannot replace the file", err);
    }
    SignalGuard::Disarm();
    // Make the new directory entry durable too; a failure here loses nothing.
    (void)::fsync(dir.get());
    if (exists && old.st_nlink > 1) {
        saved.note = "it had " + std::to_string(old.st_nlink - 1) +
                     " other hard link(s); they keep the previous content";
    }
    return saved;
}

// ---- PosixSaveSteps

PosixSaveSteps::~PosixSaveSteps() {
    if (fd_ >= 0) ::close(fd_);
    if (lockFd_ >= 0) ::close(lockFd_);
}

int PosixSaveSteps::CreateTemp(int dir, const std::string& name) {
    // Mode 0666 lets the umask give a new file the usual permissions.
    fd_ = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd_ < 0 ? errno : 0;
}

int PosixSaveSteps::Lock() {
    // A sweep that holds the lock now, or has removed the file already, took
    // it for stale in the moment between its creation and this lock.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? EEXIST : errno;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return errno;
    if (st.st_nlink == 0) return EEXIST;
#if defined(__EMSCRIPTEN__)
    // Emscripten's flock only pretends to lock, and its Node.js file system
    // has no dup: there is no lock to hold beyond this point.
    return 0;
#else
    // Held until the save ends, through a second descriptor that outlives Close.
    lockFd_ = ::dup(fd_);
    return lockFd_ < 0 ? errno : 0;
#endif
}

int PosixSaveSteps::Write(std::span<const uint8_t> bytes) {
    return WriteAll(fd_, bytes);
}

int PosixSaveSteps::Flush() {
    return ::fsync(fd_) == 0 ? 0 : errno;
}

int PosixSaveSteps::Close() {
    if (fd_ < 0) return 0;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
}

int PosixSaveSteps::Rename(int dir, const std::string& from, const std::string& to) {
    return ::renameat(dir, from.c_str(), dir, to.c_str()) == 0 ? 0 : errno;
}

int PosixSaveSteps::Fd() const {
    return fd_;
}

}  // namespace cvqrn
