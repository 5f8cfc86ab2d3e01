// Builders for test tracks and test files. Every track and every file image a
// test uses is made here, from code: none comes from elsewhere.
//
//  - MakeFullTrack: a TrackData with every chunk and every field populated
//    with distinctive values (all segment types, a terrain grid, names of
//    length 0 and 1, RASC items, CATW extra bytes, NaN payloads).
//  - MakeTrackFromVertices / MakeLargeTrack: tracks of a chosen shape or size.
//  - ByteImage: raw big-endian bytes written field by field, for hand-framed
//    and damaged files.
//  - FrameByHand: the whole file of a track, framed by hand from the layout
//    tables with ByteImage (it shares no code with the track file writers),
//    with the offsets of its chunks and count fields for patching.
//  - HostileFiles: damaged images the loader must refuse.
//  - DiffTracks: a field-by-field comparison, singles by bit pattern.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "trackfile/track_record.h"

namespace cvqrn::testsupport {

// Big-endian bytes appended field by field.
class ByteImage {
  public:
    ByteImage& Tag(std::string_view t);
    ByteImage& Long(int32_t v);
    ByteImage& Single(float f);
    ByteImage& SingleBits(uint32_t bits);
    ByteImage& Byte(uint8_t b);
    // A 24-bit value: `top` first (written 0 by the saver, ignored by the loader), then bits 23-0.
    ByteImage& U24(int32_t v, uint8_t top = 0);
    ByteImage& Chars(std::string_view s);
    // A counted string: the Long length, then the characters.
    ByteImage& Text(std::string_view s);
    ByteImage& Zeros(size_t n);
    ByteImage& Fill(size_t n, uint8_t b);
    ByteImage& Bytes(std::span<const uint8_t> b);

    size_t Size() const { return bytes.size(); }
    // Overwrites the Long at byte `at`.
    void PatchLong(size_t at, int32_t v);

    std::vector<uint8_t> bytes;
};

// Reads the big-endian Long at byte `at` of `bytes`.
int32_t LongAt(std::span<const uint8_t> bytes, size_t at);

struct FrameOptions {
    uint8_t trueByte = 0xFF;      // how a true Boolean byte is written
    uint8_t reservedByte = 0x00;  // what fills the reserved runs
    uint8_t u24TopByte = 0x00;    // the ignored first byte of each 24-bit value
    bool lowerCaseTags = false;   // write every tag in lower case
    std::array<uint8_t, 4> version{1, 3, 0, 0};
    int32_t segmentBlockLength = -1;  // B of every type block; -1 for the layout's values
};

struct FramedFile {
    std::vector<uint8_t> bytes;
    // Byte offsets: "CORV", "TRCK", ... (each chunk's tag), "<TAG>.size",
    // "<TAG>.children", "<TAG>.count" (entry, vertex or segment count),
    // "INFO.length", "ENVC.length1", "TERA.columns", "TERA.rows",
    // "SCOB.name2" (first entry's Name2 length), "CATW.extra" (first entry's
    // ExtraLength), "RASC.items" (first entry's item count), "TRCK.name"
    // (first entry's name length), "SEGM.type" (first segment's Type).
    std::map<std::string, size_t> at;
};

// The file image of `track` as the layout tables describe it, with sizes
// measured from the bytes and the fixed chunk tree. Entry counts are the
// record's count fields; the arrays must hold that many entries.
FramedFile FrameByHand(const TrackData& track, const FrameOptions& options = {});

// Every chunk and field populated with distinctive values. Version is 1, 2, 0, 0;
// Size and ChildCount fields are left 0.
TrackData MakeFullTrack();

// A track with the given vertices (Bezr), one all-zero segment per vertex but
// the last, and the other chunks empty.
TrackData MakeTrackFromVertices(std::span<const TrackVertex> vertices);

// A large track: a columns x rows terrain grid, `scenery` SCEN entries and
// `vertices` vertices, with varied values.
TrackData MakeLargeTrack(int32_t columns, int32_t rows, int32_t scenery, int32_t vertices);

// The fields that differ between `a` and `b`, one line each; empty when equal.
// Singles compare by bit pattern; arrays up to their count fields. With
// `framing` false, Size, ChildCount and Version are not compared (a save
// rewrites them).
std::vector<std::string> DiffTracks(const TrackData& a, const TrackData& b, bool framing = false);

struct HostileFile {
    std::string name;
    std::vector<uint8_t> bytes;
    std::string reasonPart;  // a piece of the reason the load gives
};

// Damaged and malicious images, each framed by hand; the load must refuse every one.
std::vector<HostileFile> HostileFiles();

// A fresh directory, removed with its content when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

  private:
    std::string path_;
};

void WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace cvqrn::testsupport
