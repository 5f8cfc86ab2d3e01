// The chunk readers and writers of the track file (internal to trackfile/).
//
// Every chunk is framed as: tag, Size (Long), the chunk's own fields,
// ChildCount (Long), then its children. A reader is called after the load
// walk has read the tag; it reads Size through ChildCount into the matching
// member of the track and leaves the cursor on the first child or the next
// sibling. A writer writes the tag and the chunk's own part from the track,
// with the Size and ChildCount already set in it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "trackfile/byte_buffer.h"
#include "trackfile/track_record.h"

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

// The known chunk with this (upper-case) tag, if any.
std::optional<ChunkId> ChunkFromTag(std::string_view tag);

// Reads the header after the magic: Size, Version, 16 reserved, ChildCount.
void ReadFileHeader(ReadCursor& in, FileHeader& header);
// Writes the magic and the header, with Version 1, 3, 0, 0 whatever was loaded.
void WriteFileHeader(std::vector<uint8_t>& out, const FileHeader& header);

// Reads the chunk `id` (its tag already read) into `track`. Returns false
// when the image ran out or a value was refused; the reason is in `in`.
bool ReadChunk(ChunkId id, ReadCursor& in, TrackData& track);
// Writes the chunk `id` of `track`, tag included.
void WriteChunk(ChunkId id, std::vector<uint8_t>& out, const TrackData& track);

// The ChildCount field of chunk `id` in `track`.
int32_t& ChunkChildCount(ChunkId id, TrackData& track);

// How many entries a writer writes for a record whose count field says
// `count` and whose array holds `available` entries: the count, but never
// below 0 nor past the array. The size computation uses the same number,
// so the sizes always match the bytes written.
inline int64_t EntriesToWrite(int64_t count, size_t available) {
    if (count <= 0) return 0;
    const auto avail = static_cast<int64_t>(available);
    return count < avail ? count : avail;
}

// The item count a RASC entry is written with: its own count, which may be
// 0 or negative (then no items follow), but never more than the items held.
inline int32_t RascCountToWrite(const RascEntry& e) {
    return e.Count <= 0 ? e.Count : static_cast<int32_t>(EntriesToWrite(e.Count, e.Items.size()));
}

// The extra byte count a CATW entry is written with: never negative.
inline int32_t CatwExtraToWrite(const CatwEntry& e) {
    return e.ExtraLength > 0 ? e.ExtraLength : 0;
}

// The terrain grid's dimensions as written: never negative.
inline int32_t TeraDimensionToWrite(int32_t d) {
    return d > 0 ? d : 0;
}

}  // namespace cvqrn
