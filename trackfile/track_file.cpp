#include "trackfile/track_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <span>

#include "trackfile/byte_buffer.h"
#include "trackfile/chunk_io.h"

namespace cvqrn {

namespace {

constexpr std::string_view kExtension = ".cvtrack";

// The header's Size is a Long, so no track file is longer than this.
constexpr int64_t kMaxFileBytes = int64_t{std::numeric_limits<int32_t>::max()} + 8;

bool HasTrackExtension(const std::string& path) {
    if (path.size() < kExtension.size()) return false;
    const std::string_view tail = std::string_view(path).substr(path.size() - kExtension.size());
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kExtension[i]) return false;
    }
    return true;
}

// A tag as the user can read it: unprintable bytes shown as '?'.
std::string Printable(std::string tag) {
    for (char& c : tag) {
        if (c < 0x20 || c > 0x7E) c = '?';
    }
    return tag;
}

std::string ChunkFailure(std::string_view what, size_t start, const ReadCursor& in) {
    if (in.Problem.empty()) {
        return "truncated in the " + std::string(what) + " at byte " + std::to_string(in.FailedAt);
    }
    return "damaged " + std::string(what) + " (at byte " + std::to_string(start) +
           "): " + in.Problem;
}

LoadResult Refused(std::string reason) {
    return LoadResult{false, std::move(reason)};
}

// Skips a chunk the load does not know: its Size says how far, children included.
bool SkipUnknownChunk(ReadCursor& in) {
    const int32_t size = ReadLong(in);
    if (in.Failed) return false;
    if (size < 0) {
        Refuse(in, "negative chunk size " + std::to_string(size));
        return false;
    }
    if (static_cast<size_t>(size) > in.Remaining()) {
        Refuse(in, "its size " + std::to_string(size) + " runs past the end of the file");
        return false;
    }
    SkipReserved(in, static_cast<size_t>(size));
    return true;
}

// The chunk tree every saved file has: the children of each chunk, in file order.
std::span<const ChunkId> ChildrenOf(ChunkId id) {
    static constexpr ChunkId kTrck[] = {ChunkId::Info, ChunkId::Bezr, ChunkId::Segm, ChunkId::Supp};
    static constexpr ChunkId kSupp[] = {ChunkId::Fund, ChunkId::Rasc, ChunkId::Fren, ChunkId::Tube,
                                        ChunkId::Catw};
    static constexpr ChunkId kScen[] = {ChunkId::Scob};
    switch (id) {
        case ChunkId::Trck:
            return kTrck;
        case ChunkId::Supp:
            return kSupp;
        case ChunkId::Scen:
            return kScen;
        default:
            return {};
    }
}

// The children of the file header; TERA only when the track has one.
std::span<const ChunkId> FileChildren(const TrackData& t) {
    static constexpr ChunkId kWithTera[] = {ChunkId::Trck, ChunkId::Scen, ChunkId::Tera,
                                            ChunkId::Envc};
    static constexpr ChunkId kWithoutTera[] = {ChunkId::Trck, ChunkId::Scen, ChunkId::Envc};
    if (t.Tera.Present) return kWithTera;
    return kWithoutTera;
}

// Every chunk's Size, in 64 bits so that a track too large for the format
// can be told apart: a chunk's own bytes plus tag, Size and content of each child.
struct ChunkSizes {
    std::array<int64_t, kChunkTags.size()> chunk{};
    int64_t file = 0;

    int64_t Subtree(ChunkId id, const TrackData& t) {
        int64_t size = ChunkOwnBytes(id, t);
        for (ChunkId child : ChildrenOf(id)) size += 8 + Subtree(child, t);
        chunk[ChunkIndex(id)] = size;
        return size;
    }

    explicit ChunkSizes(const TrackData& t) {
        file = FileHeaderOwnBytes();
        for (ChunkId child : FileChildren(t)) file += 8 + Subtree(child, t);
    }
};

int32_t ChildCount(std::span<const ChunkId> children) {
    return static_cast<int32_t>(children.size());
}

// Writes chunk `id` and its children, depth first in file order.
void WriteSubtree(ChunkId id, std::vector<uint8_t>& out, const TrackData& t,
                  const ChunkSizes& sizes) {
    // Every Size fits a Long: each is below the file's, which EncodeTrack checked.
    WriteChunk(id, out, t, static_cast<int32_t>(sizes.chunk[ChunkIndex(id)]),
               ChildCount(ChildrenOf(id)));
    for (ChunkId child : ChildrenOf(id)) WriteSubtree(child, out, t, sizes);
}

std::string SystemReason(int err) {
    return std::strerror(err);
}

}  // namespace

std::string WithTrackExtension(const std::string& path) {
    return HasTrackExtension(path) ? path : path + std::string(kExtension);
}

LoadResult DecodeTrack(std::span<const uint8_t> image, TrackData& track) {
    ClearTrack(track);
    ReadCursor in(image);

    const std::string magic = ReadTag(in);
    if (in.Failed) return Refused("the file is too short to be a track file");
    if (magic != kFileMagic) return Refused("not a track file (it does not begin with CORV)");
    ReadFileHeader(in, track.Header);
    if (in.Failed) return Refused(ChunkFailure("file header", 0, in));

    // Chunks still to read: every chunk read adds its children and counts itself off.
    // 64 bits: a damaged file may promise up to 2^31 children per chunk.
    int64_t remaining = track.Header.ChildCount;
    while (remaining > 0) {
        const size_t start = in.Cursor;
        const std::string tag = ReadTag(in);
        if (in.Failed) {
            return Refused("the file ends at byte " + std::to_string(start) + " but " +
                           std::to_string(remaining) + " more chunk(s) are promised");
        }
        const std::optional<ChunkId> id = ChunkFromTag(tag);
        if (!id) {
            if (!SkipUnknownChunk(in)) {
                return Refused(ChunkFailure("unknown chunk '" + Printable(tag) + "'", start, in));
            }
            remaining -= 1;
            continue;
        }
        if (!ReadChunk(*id, in, track)) {
            return Refused(ChunkFailure(tag + " chunk", start, in));
        }
        remaining += int64_t{ChunkChildCount(*id, track)} - 1;
    }
    // The readers size every array from its count, so this finds nothing; it
    // is the one place that states what every later stage may rely on.
    if (std::string problem = FindShapeProblem(track); !problem.empty()) {
        return Refused("inconsistent track: " + problem);
    }
    return LoadResult{true, {}};
}

LoadResult LoadTrack(const std::string& path, TrackData& track) {
    if (path.empty()) return Refused("no file name given");
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Refused(SystemReason(errno));
    if (S_ISDIR(st.st_mode)) return Refused("it is a directory");
    if (!S_ISREG(st.st_mode)) return Refused("it is not a regular file");
    if (!HasTrackExtension(path)) return Refused("the name does not end in .cvtrack");

    // Non-blocking, so that a special file swapped in after the check cannot hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Refused(SystemReason(errno));
    // The image is filled by the read, so it is not zeroed first.
    std::unique_ptr<uint8_t[]> image;
    size_t done = 0;
    int err = 0;
    if (::fstat(fd, &st) != 0) {
        err = errno;
    } else if (!S_ISREG(st.st_mode)) {
        err = EINVAL;
    } else if (st.st_size > kMaxFileBytes) {
        ::close(fd);
        return Refused("the file is too large to be a track file");
    } else {
        const auto size = static_cast<size_t>(st.st_size);
        image = std::make_unique_for_overwrite<uint8_t[]>(size);
        while (done < size) {
            const ssize_t n = ::read(fd, image.get() + done, size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                err = errno;
                break;
            }
            if (n == 0) break;  // the file shrank while being read: decode what is there
            done += static_cast<size_t>(n);
        }
    }
    ::close(fd);
    if (err != 0) return Refused("cannot read the file: " + SystemReason(err));
    return DecodeTrack(std::span<const uint8_t>(image.get(), done), track);
}

EncodeResult EncodeTrack(const TrackData& track) {
    EncodeResult result;
    if (std::string problem = FindShapeProblem(track); !problem.empty()) {
        result.reason = "the track record is inconsistent: " + problem;
        return result;
    }
    const ChunkSizes sizes(track);
    if (sizes.file > std::numeric_limits<int32_t>::max()) {
        result.reason = "the track is too large for a track file (" +
                        std::to_string(sizes.file + 8) + " bytes; a track file holds at most " +
                        std::to_string(kMaxFileBytes) + ")";
        return result;
    }
    std::vector<uint8_t>& out = result.image;
    out.reserve(static_cast<size_t>(sizes.file) + 8);
    WriteFileHeader(out, static_cast<int32_t>(sizes.file), ChildCount(FileChildren(track)));
    for (ChunkId id : FileChildren(track)) WriteSubtree(id, out, track, sizes);
    return result;
}

SaveResult SaveTrack(const std::string& path, const TrackData& track) {
    PosixSaveSteps steps;
    return SaveTrack(path, track, steps);
}

SaveResult SaveTrack(const std::string& path, const TrackData& track, SaveSteps& steps) {
    SaveResult result;
    if (path.empty()) {
        result.reason = "no file name given";
        return result;
    }
    result.path = WithTrackExtension(path);
    EncodeResult encoded = EncodeTrack(track);
    if (!encoded) {
        result.reason = std::move(encoded.reason);
        return result;
    }
    const std::vector<uint8_t>& image = encoded.image;

    std::string temp;
    if (int err = steps.CreateTemp(result.path, temp); err != 0) {
        result.reason = "cannot create a file in its folder: " + SystemReason(err);
        return result;
    }
    // Each later step that fails closes and removes the temporary file; the
    // target is only ever touched by the final rename.
    const auto fail = [&](const char* step, int err) {
        steps.Close();
        steps.Remove(temp);
        result.reason = std::string(step) + ": " + SystemReason(err);
        return result;
    };
    if (int err = steps.Write(image); err != 0) return fail("cannot write the file", err);
    if (int err = steps.Flush(); err != 0) return fail("cannot flush the file to disk", err);
    if (int err = steps.Close(); err != 0) return fail("cannot close the file", err);
    if (int err = steps.Rename(temp, result.path); err != 0) {
        return fail("cannot replace the file", err);
    }
    result.ok = true;
    result.bytes = image.size();
    return result;
}

// ---- PosixSaveSteps

PosixSaveSteps::~PosixSaveSteps() {
    if (fd_ >= 0) ::close(fd_);
}

int PosixSaveSteps::CreateTemp(const std::string& target, std::string& tempPath) {
    namespace fs = std::filesystem;
    static std::atomic<unsigned> counter{0};
    const fs::path targetPath(target);
    const fs::path dir = targetPath.has_parent_path() ? targetPath.parent_path() : fs::path(".");
    // A hidden name next to the target: ".<name>.tmp-<pid>-<counter>". Built by
    // appending, which also keeps g++ from a false overlap warning on prefixing.
    std::string prefix = ".";
    prefix += targetPath.filename().string();
    prefix += ".tmp-";
    prefix += std::to_string(::getpid());
    prefix += '-';
    // Mode 0666 lets the umask give a new file the usual permissions.
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        std::string name = prefix;
        name += std::to_string(counter++);
        tempPath = (dir / name).string();
        fd_ = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        err = fd_ < 0 ? errno : 0;
    }
    if (err != 0) return err;
    // A file that is replaced keeps its permissions.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        (void)::fchmod(fd_, st.st_mode & 07777);
    }
    return 0;
}

int PosixSaveSteps::Write(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        done += static_cast<size_t>(n);
    }
    return 0;
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

int PosixSaveSteps::Rename(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return errno;
    // Make the new directory entry durable too; a failure here loses nothing.
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(to).has_parent_path() ? fs::path(to).parent_path() : ".";
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return 0;
}

void PosixSaveSteps::Remove(const std::string& path) {
    (void)::unlink(path.c_str());
}

}  // namespace cvqrn
