#include "trackfile/track_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <span>

#include "trackfile/byte_buffer.h"
#include "trackfile/chunk_io.h"
#include "trackfile/file_save.h"
#include "text/portability.h"

namespace cvqrn {

namespace {

constexpr std::string_view kExtension = ".cvtrack";

// The decoded track may take at most this many bytes of memory per byte of
// its file, plus the margin. Real tracks take about one byte per file byte
// (terrain cells, vertices) and well under the margin otherwise; a file of
// millions of tiny entries that would take eight times its size is refused
// before anything is allocated for it.
constexpr int64_t kMemoryPerFileByte = 2;
constexpr int64_t kMemoryMargin = int64_t{64} * 1024 * 1024;

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
    if (in.OutOfMemoryBudget) {
        return "the file is too large to load: " + in.Problem + " (a track may take at most " +
               std::to_string(kMemoryPerFileByte) + " times its file's size plus " +
               std::to_string(kMemoryMargin / (1024 * 1024)) + " MB)";
    }
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

LoadResult DecodeImage(std::span<const uint8_t> image, TrackData& track) {
    ClearTrack(track);
    ReadCursor in(image);
    in.MemoryLimit = kMemoryPerFileByte * static_cast<int64_t>(image.size()) + kMemoryMargin;

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

LoadResult LoadWholeFile(const std::string& path, TrackData& track) {
    if (path.empty()) return Refused("no file name given");
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Refused(SystemReason(errno));
    if (S_ISDIR(st.st_mode)) return Refused("it is a folder");
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

LoadResult OutOfMemory(TrackData& track) {
    ClearTrack(track);  // gives back what the partial decode took
    return Refused("not enough memory to load the file");
}

}  // namespace

std::string WithTrackExtension(const std::string& path) {
    return HasTrackExtension(path) ? path : path + std::string(kExtension);
}

LoadResult DecodeTrack(std::span<const uint8_t> image, TrackData& track) {
    try {
        return DecodeImage(image, track);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(track);
    }
}

LoadResult LoadTrack(const std::string& path, TrackData& track) {
    try {
        return LoadWholeFile(path, track);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(track);
    }
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

SaveResult SaveTrack(const std::string& path, const TrackData& track, const SaveOptions& options) {
    PosixSaveSteps steps;
    return SaveTrack(path, track, steps, options);
}

namespace {

void SaveWholeTrack(const std::string& path, const TrackData& track, SaveSteps& steps,
                    const SaveOptions& options, SaveResult& result) {
    if (path.empty()) {
        result.reason = "no file name given";
        return;
    }
    result.path = path;
    if (path.back() == '/') {
        result.reason = "the name ends in '/': give a file name, not a folder";
        return;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        result.reason = "it is a folder";
        return;
    }
    result.path = WithTrackExtension(path);
    const EncodeResult encoded = EncodeTrack(track);
    if (!encoded) {
        result.reason = encoded.reason;
        return;
    }
    SaveImage(encoded.image, steps, options, result);
}

}  // namespace

SaveResult SaveTrack(const std::string& path, const TrackData& track, SaveSteps& steps,
                     const SaveOptions& options) {
    SaveResult result;
    try {
        SaveWholeTrack(path, track, steps, options, result);
    } catch (const std::bad_alloc&) {
        result.ok = false;
        result.reason = "not enough memory to save the track";
    }
    return result;
}

}  // namespace cvqrn
