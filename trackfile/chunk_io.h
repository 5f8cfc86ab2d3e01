// The chunk readers and writers of the track file (internal to trackfile/).
//
// Every chunk is framed as: tag, Size (Long), the chunk's own fields,
// ChildCount (Long), then its children. A reader is called after the load
// walk has read the tag; it reads Size through ChildCount into the matching
// member of the track and leaves the cursor on the first child or the next
// sibling. A writer writes the tag and the chunk's own part from the track,
// with the Size and ChildCount the save computed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "trackfile/byte_buffer.h"
#include "model/track_record.h"

namespace cvqrn {

// Every chunk below the file header, in the order the load compares tags
// and the save writes them.
enum class ChunkId {
    Trck,
    Info,
    Bezr,
    Segm,
    Supp,
    Fund,
    Rasc,
    Fren,
    Tube,
    Catw,
    Scen,
    Scob,
    Tera,
    Envc
};

inline constexpr std::array<std::string_view, 14> kChunkTags = {
    "TRCK", "INFO", "BEZR", "SEGM", "SUPP", "FUND", "RASC",
    "FREN", "TUBE", "CATW", "SCEN", "SCOB", "TERA", "ENVC"};

inline constexpr std::string_view kFileMagic = "CORV";

// The position of `id` in kChunkTags (and in any table indexed by chunk).
inline size_t ChunkIndex(ChunkId id) {
    return static_cast<size_t>(id);
}

// The known chunk with this (upper-case) tag, if any.
std::optional<ChunkId> ChunkFromTag(std::string_view tag);

// The bytes a writer makes: kept whole in `bytes`, or, with a `flush`, handed
// on a block at a time, so that a large image never stands in memory whole.
struct ImageOut {
    std::vector<uint8_t> bytes;
    // Takes the next block of the image; false stops the encoding (the image
    // then stays incomplete).
    std::function<bool(std::span<const uint8_t>)> flush;
    size_t blockBytes = 0;  // with a flush: a block is handed on once it holds this many
    bool stopped = false;   // a flush answered false
    size_t flushed = 0;     // bytes handed on so far

    // Between two entries: hands the block on once it is full.
    void BlockPoint() {
        if (flush && bytes.size() >= blockBytes) Flush();
    }
    // Hands on what is left.
    void Flush();
};

// Reads the header after the magic: Size, Version, 16 reserved, ChildCount.
void ReadFileHeader(ReadCursor& in, FileHeader& header);
// Writes the magic and the header with the given Size and ChildCount, and
// Version 1, 3, 0, 0 whatever was loaded.
void WriteFileHeader(ImageOut& out, int32_t size, int32_t childCount);
// Bytes of the header after its Size field, ChildCount included.
int64_t FileHeaderOwnBytes();

// Reads the chunk `id` (its tag already read) into `track`. Returns false
// when the image ran out or a value was refused; the reason is in `in`.
bool ReadChunk(ChunkId id, ReadCursor& in, TrackData& track);

// The writers and the size counter take a track whose counts match its
// arrays (ValidateTrack finds nothing).

// Writes the chunk `id` of `track`, tag included, with the given Size and
// ChildCount (the record's own Size and ChildCount are not used).
void WriteChunk(ChunkId id, ImageOut& out, const TrackData& track, int32_t size,
                int32_t childCount);
// Bytes WriteChunk writes after the chunk's Size field: its fields and ChildCount,
// counted over the same layout the writer walks.
int64_t ChunkOwnBytes(ChunkId id, const TrackData& track);

// The ChildCount field of chunk `id` in `track`.
int32_t& ChunkChildCount(ChunkId id, TrackData& track);

}  // namespace cvqrn
