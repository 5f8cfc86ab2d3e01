#include "trackfile/track_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "text/portability.h"
#include "text/words.h"
#include "trackfile/byte_buffer.h"
#include "trackfile/chunk_io.h"
#include "trackfile/file_save.h"

namespace cvqrn {

namespace {

// The decoded track may take at most this many bytes of memory per byte of
// its file, plus the margin. Real tracks take about one byte per file byte
// (terrain cells, vertices) and well under the margin otherwise; a file of
// millions of tiny entries that would take eight times its size is refused
// before anything is allocated for it.
constexpr int64_t kMemoryPerFileByte = 2;
constexpr int64_t kMemoryMargin = int64_t{64} * 1024 * 1024;

// A save encodes and writes its image in blocks of at most this many bytes.
constexpr size_t kSaveBlockBytes = size_t{1} << 20;
// Room beyond a block for the entry that fills it, so that the buffer never grows.
constexpr size_t kSaveBlockSlack = size_t{64} << 10;

// The header's Size is a Long, so no track file is longer than this.
constexpr int64_t kMaxFileBytes = int64_t{std::numeric_limits<int32_t>::max()} + 8;

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

Result Refused(std::string reason) {
    return Failure(Status::InvalidFile, std::move(reason));
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

    // The whole image: the magic and the header's Size field before `file`.
    size_t ImageBytes() const { return static_cast<size_t>(file) + 8; }
};

int32_t ChildCount(std::span<const ChunkId> children) {
    return static_cast<int32_t>(children.size());
}

// Writes chunk `id` and its children, depth first in file order.
void WriteSubtree(ChunkId id, ImageOut& out, const TrackData& t, const ChunkSizes& sizes) {
    // Every Size fits a Long: each is below the file's, which EncodeTrack checked.
    WriteChunk(id, out, t, static_cast<int32_t>(sizes.chunk[ChunkIndex(id)]),
               ChildCount(ChildrenOf(id)));
    for (ChunkId child : ChildrenOf(id)) WriteSubtree(child, out, t, sizes);
}

// The chunk sizes of `track`'s image, in `sizes`: Ok, or InvalidTrack when
// the track does not have the shape CheckTrackShape checks, TooLarge when its
// image would pass the format's 2 GiB limit.
Result PlanImage(const TrackData& track, std::optional<ChunkSizes>& sizes) {
    if (const Result shape = CheckTrackShape(track); !shape) {
        return Failure(Status::InvalidTrack, "the track record is inconsistent: " + shape.message);
    }
    sizes.emplace(track);
    if (sizes->file > std::numeric_limits<int32_t>::max()) {
        return Failure(Status::TooLarge, "the track is too large for a track file (" +
                                             std::to_string(sizes->file + 8) +
                                             " bytes; a track file holds at most " +
                                             std::to_string(kMaxFileBytes) + ")");
    }
    return {};
}

// Writes the image of `track` (planned by PlanImage) into `out`.
void WriteImage(const TrackData& track, const ChunkSizes& sizes, ImageOut& out) {
    WriteFileHeader(out, static_cast<int32_t>(sizes.file), ChildCount(FileChildren(track)));
    for (ChunkId id : FileChildren(track)) WriteSubtree(id, out, track, sizes);
    out.Flush();
}

// `consumed`: told now and then how far the bytes are read (ReadCursor::Consumed).
Result DecodeImage(std::span<const uint8_t> image, TrackData& track,
                   std::function<void(size_t)> consumed = {}) {
    ClearTrack(track);
    ReadCursor in(image);
    in.Consumed = std::move(consumed);
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
        OfferConsumed(in);
    }
    // The readers size every array from its count, so this finds nothing; it
    // is the one place that states what every later stage may rely on.
    if (const Result shape = CheckTrackShape(track); !shape) {
        return Refused("inconsistent track: " + shape.message);
    }
    return {};
}

// The bytes of a file as its read puts them, in memory of their own whose
// pages can be given back once they are decoded.
class FileImage {
  public:
    // Throws std::bad_alloc when the memory cannot be had.
    explicit FileImage(size_t size) : size_(size) {
        if (size_ == 0) return;
        void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        data_ = static_cast<uint8_t*>(p);
        AdviseLargePages(p, size_);
    }
    ~FileImage() {
        if (data_ != nullptr) ::munmap(data_, size_);
    }
    FileImage(const FileImage&) = delete;
    FileImage& operator=(const FileImage&) = delete;

    uint8_t* Data() { return data_; }

    // The whole pages before byte `upTo` go back to the system (they read as
    // zeros afterwards); the decode never reads them again.
    void GiveBack(size_t upTo) {
        static const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        const size_t end = std::min(upTo, size_) / page * page;
        if (end > givenBack_) GiveBackPages(data_ + givenBack_, end - givenBack_);
        givenBack_ = std::max(givenBack_, end);
    }

  private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t givenBack_ = 0;  // a multiple of the page size
};

Result LoadWholeFile(const std::string& path, TrackData& track) {
    if (path.empty()) return Refused("no file name given");
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Refused(SystemReason(errno));
    if (S_ISDIR(st.st_mode)) return Refused("it is a folder");
    if (!S_ISREG(st.st_mode)) return Refused("it is not a regular file");
    if (!HasTrackExtension(path)) return Refused("the name does not end in .cvtrack");

    // Non-blocking, so that a special file swapped in after the check cannot hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Refused(SystemReason(errno));
    std::optional<FileImage> image;
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
        try {
            image.emplace(size);
        } catch (const std::bad_alloc&) {
            ::close(fd);
            throw;
        }
        // One read, repeated only when the system hands out less at a time.
        while (done < size) {
            const ssize_t n = ::read(fd, image->Data() + done, size - done);
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
    if (err != 0) return Failure(Status::IoError, "cannot read the file: " + SystemReason(err));
    const std::span<const uint8_t> bytes(image->Data(), done);
    // Decoded bytes are given back as the decode moves on, so that the file's
    // bytes and the track they make never both stand in memory whole.
    return DecodeImage(bytes, track, [&image](size_t upTo) { image->GiveBack(upTo); });
}

Result OutOfMemory(TrackData& track) {
    ClearTrack(track);  // gives back what the partial decode took
    return Failure(Status::OutOfMemory, "not enough memory to load the file");
}

}  // namespace

bool HasTrackExtension(std::string_view path) {
    if (path.size() < kTrackFileExtension.size()) return false;
    const std::string_view tail = path.substr(path.size() - kTrackFileExtension.size());
    for (size_t i = 0; i < tail.size(); ++i) {
        if (AsciiLower(tail[i]) != kTrackFileExtension[i]) return false;
    }
    return true;
}

std::string WithTrackExtension(const std::string& path) {
    return HasTrackExtension(path) ? path : path + std::string(kTrackFileExtension);
}

Result DecodeTrack(std::span<const uint8_t> image, TrackData& track) {
    try {
        return DecodeImage(image, track);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(track);
    }
}

Result LoadTrack(const std::string& path, TrackData& track) {
    try {
        return LoadWholeFile(path, track);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(track);
    }
}

EncodeResult EncodeTrack(const TrackData& track) {
    std::optional<ChunkSizes> sizes;
    if (Result planned = PlanImage(track, sizes); !planned) return {std::move(planned)};
    EncodeResult result;
    ImageOut out;
    out.bytes.reserve(sizes->ImageBytes());
    WriteImage(track, *sizes, out);
    result.image = std::move(out.bytes);
    return result;
}

SaveResult SaveTrack(const std::string& path, const TrackData& track, const SaveOptions& options) {
    PosixSaveSteps steps;
    return SaveTrack(path, track, steps, options);
}

namespace {

SaveResult SaveWholeTrack(const std::string& path, const TrackData& track, SaveSteps& steps,
                          const SaveOptions& options) {
    if (path.empty()) return SaveFailure(path, Status::InvalidFile, "no file name given");
    if (path.back() == '/') {
        return SaveFailure(path, Status::InvalidFile,
                           "the name ends in '/': give a file name, not a folder");
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return SaveFailure(path, Status::InvalidFile, "it is a folder");
    }
    const std::string target = WithTrackExtension(path);
    std::optional<ChunkSizes> sizes;
    if (Result planned = PlanImage(track, sizes); !planned) {
        return SaveFailure(target, planned.status, std::move(planned.message));
    }
    // Encoded a block at a time into one buffer, sized once, each block
    // written as soon as it is full: the image never stands in memory whole
    // beside the track.
    ImageSource image;
    image.size = sizes->ImageBytes();
    image.produce = [&track, &sizes](const ImageSource::Write& write) {
        ImageOut out;
        out.blockBytes = std::min(kSaveBlockBytes, sizes->ImageBytes());
        out.bytes.reserve(out.blockBytes + kSaveBlockSlack);
        int err = 0;
        out.flush = [&](std::span<const uint8_t> block) { return (err = write(block)) == 0; };
        WriteImage(track, *sizes, out);
        return err;
    };
    return SaveImage(image, target, steps, options);
}

}  // namespace

SaveResult SaveTrack(const std::string& path, const TrackData& track, SaveSteps& steps,
                     const SaveOptions& options) {
    try {
        return SaveWholeTrack(path, track, steps, options);
    } catch (const std::bad_alloc&) {
        const bool named = !path.empty() && path.back() != '/';
        return SaveFailure(named ? WithTrackExtension(path) : path, Status::OutOfMemory,
                           "not enough memory to save the track");
    }
}

}  // namespace cvqrn
