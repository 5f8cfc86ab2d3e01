#include "trackfile/track_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>

#include "trackfile/byte_buffer.h"
#include "trackfile/chunk_io.h"
#include "trackfile/portability.h"

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

int64_t StringBytes(const std::string& s) {
    return static_cast<int64_t>(s.size());
}

// The sum of `bytes(entry)` over the entries a writer writes for `count`.
template <class T, class Fn>
int64_t SumOverEntries(int32_t count, const std::vector<T>& items, Fn&& bytes) {
    int64_t sum = 0;
    for (int64_t i = 0; i < EntriesToWrite(count, items.size()); ++i) {
        sum += bytes(items[static_cast<size_t>(i)]);
    }
    return sum;
}

// The fixed bytes of a chunk whose entries all have `each` bytes.
template <class T>
int64_t FixedEntries(int32_t count, const std::vector<T>& items, int64_t each) {
    return each * EntriesToWrite(count, items.size());
}

// Sets every Size of `track` and returns the file header's Size in 64 bits,
// so that a track too large for the format can be told apart.
int64_t SetSizes(TrackData& t) {
    const int64_t envc = StringBytes(t.Envc.Text1) + StringBytes(t.Envc.Text2) + 44;

    // Capped so that 4 x cells stays in 64 bits; any grid that large is refused by the save.
    const int64_t cells =
        std::min(int64_t{TeraDimensionToWrite(t.Tera.Columns)} * TeraDimensionToWrite(t.Tera.Rows),
                 int64_t{1} << 40);
    const int64_t tera = StringBytes(t.Tera.Text1) + StringBytes(t.Tera.Text2) +
                         StringBytes(t.Tera.Text3) + 4 * cells + 81;

    const int64_t scob = 40 + SumOverEntries(t.Scob.Count, t.Scob.Items, [](const ScobEntry& e) {
                             return StringBytes(e.Name1) + StringBytes(e.Name2) + 88;
                         });
    const int64_t scen = FixedEntries(t.Scen.Count, t.Scen.Items, 64) + scob + 48;
    const int64_t catw = 40 + SumOverEntries(t.Catw.Count, t.Catw.Items, [](const CatwEntry& e) {
                             return 28 + int64_t{CatwExtraToWrite(e)};
                         });
    const int64_t tube = FixedEntries(t.Tube.Count, t.Tube.Items, 48) + 40;
    const int64_t fren = FixedEntries(t.Fren.Count, t.Fren.Items, 28) + 40;
    // An entry whose item count is 0 or below is its count alone: 4 bytes.
    const int64_t rasc = 40 + SumOverEntries(t.Rasc.Count, t.Rasc.Items, [](const RascEntry& e) {
                             return 24 * int64_t{std::max(RascCountToWrite(e), 0)} + 4;
                         });
    const int64_t fund = FixedEntries(t.Fund.Count, t.Fund.Items, 92) + 40;
    const int64_t supp = fund + rasc + fren + tube + catw + 76;

    const int64_t segm =
        41 + SumOverEntries(t.Segm.SegmentCount, t.Segm.Segments, [](const TrackSegment& s) {
            // The fixed part, then B and the block for types 0 to 4.
            static constexpr int64_t kTypeBytes[] = {4, 130, 40, 32, 54};
            return 33 + (s.Type >= 0 && s.Type <= 4 ? kTypeBytes[s.Type] : 0);
        });
    const int64_t bezr = FixedEntries(t.Bezr.VertexCount, t.Bezr.Vertices, 60) + 40;
    const int64_t info = StringBytes(t.Info.Text) + 24;
    const int64_t trck =
        64 +
        SumOverEntries(t.Trck.EntryCount, t.Trck.Entries,
                       [](const TrckEntry& e) { return StringBytes(e.Name) + 28; }) +
        info + bezr + segm + supp + 32;

    int64_t header = trck + scen + envc + 48;
    if (t.Tera.Present) header += tera + 8;

    // Narrowed for the record; SaveTrack refuses a header Size past the Long range,
    // and every other Size is smaller than the header's.
    const auto narrow = [](int64_t v) {
        return static_cast<int32_t>(
            v < std::numeric_limits<int32_t>::max() ? v : std::numeric_limits<int32_t>::max());
    };
    t.Envc.Size = narrow(envc);
    t.Tera.Size = t.Tera.Present ? narrow(tera) : t.Tera.Size;
    t.Scob.Size = narrow(scob);
    t.Scen.Size = narrow(scen);
    t.Catw.Size = narrow(catw);
    t.Tube.Size = narrow(tube);
    t.Fren.Size = narrow(fren);
    t.Rasc.Size = narrow(rasc);
    t.Fund.Size = narrow(fund);
    t.Supp.Size = narrow(supp);
    t.Segm.Size = narrow(segm);
    t.Bezr.Size = narrow(bezr);
    t.Info.Size = narrow(info);
    t.Trck.Size = narrow(trck);
    t.Header.Size = narrow(header);
    return header;
}

// The fixed chunk tree every saved file has.
void SetChildCounts(TrackData& t) {
    t.Header.ChildCount = t.Tera.Present ? 4 : 3;
    t.Trck.ChildCount = 4;
    t.Info.ChildCount = 0;
    t.Bezr.ChildCount = 0;
    t.Segm.ChildCount = 0;
    t.Supp.ChildCount = 5;
    t.Fund.ChildCount = 0;
    t.Rasc.ChildCount = 0;
    t.Fren.ChildCount = 0;
    t.Tube.ChildCount = 0;
    t.Catw.ChildCount = 0;
    t.Scen.ChildCount = 1;
    t.Scob.ChildCount = 0;
    t.Tera.ChildCount = 0;
    t.Envc.ChildCount = 0;
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
        image = port::MakeArrayForOverwrite<uint8_t>(size);
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

void ComputeSizes(TrackData& track) {
    SetSizes(track);
}

std::vector<uint8_t> EncodeTrack(TrackData& track) {
    SetChildCounts(track);
    const int64_t headerSize = SetSizes(track);
    if (headerSize > std::numeric_limits<int32_t>::max()) return {};

    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(headerSize) + 8);
    WriteFileHeader(out, track.Header);
    for (ChunkId id : {ChunkId::Trck, ChunkId::Info, ChunkId::Bezr, ChunkId::Segm, ChunkId::Supp,
                       ChunkId::Fund, ChunkId::Rasc, ChunkId::Fren, ChunkId::Tube, ChunkId::Catw,
                       ChunkId::Scen, ChunkId::Scob, ChunkId::Tera, ChunkId::Envc}) {
        if (id == ChunkId::Tera && !track.Tera.Present) continue;
        WriteChunk(id, out, track);
    }
    return out;
}

SaveResult SaveTrack(const std::string& path, TrackData& track) {
    PosixSaveSteps steps;
    return SaveTrack(path, track, steps);
}

SaveResult SaveTrack(const std::string& path, TrackData& track, SaveSteps& steps) {
    SaveResult result;
    if (path.empty()) {
        result.reason = "no file name given";
        return result;
    }
    result.path = WithTrackExtension(path);
    const std::vector<uint8_t> image = EncodeTrack(track);
    if (image.empty()) {
        result.reason = "the track is too large for a track file";
        return result;
    }

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
