// Builders for test tracks and test files. Every track and every file image a
// test, a benchmark or the fuzzer's corpus uses is made here, from code.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/track_record.h"

namespace cvqrn::testsupport {

// Big-endian bytes appended field by field, for hand-framed and damaged files.
struct ByteImage {
    ByteImage& Tag(std::string_view t) { return Chars(t.substr(0, 4)); }
    ByteImage& Long(int32_t v);
    ByteImage& Single(float f);
    ByteImage& Byte(uint8_t b) { return Fill(1, b); }
    ByteImage& Chars(std::string_view s);
    // A counted string: the Long length, then the characters.
    ByteImage& Text(std::string_view s) { return Long(static_cast<int32_t>(s.size())).Chars(s); }
    ByteImage& Zeros(size_t n) { return Fill(n, 0); }
    ByteImage& Fill(size_t n, uint8_t b);
    // Overwrites the Long at byte `at`.
    void PatchLong(size_t at, int32_t v);

    std::vector<uint8_t> bytes;
};

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
    // Byte offsets of each chunk's "<TAG>", "<TAG>.size" and "<TAG>.children", of "SEGM.count",
    // "INFO.length", "ENVC.length1", "TERA.columns", "TERA.rows", and of the first
    // entry's "SCOB.name2", "CATW.extra", "RASC.items", "TRCK.name".
    std::map<std::string, size_t> at;
};

// The file image of `track` framed by hand, sizes measured from the bytes, in
// the fixed chunk tree. The arrays must hold their count of entries.
FramedFile FrameByHand(const TrackData& track, const FrameOptions& options = {});

// Every chunk and field populated with values of their own (all segment
// types, a 3 x 2 terrain grid, names of length 0 and 1, RASC item counts of 0
// and below, CATW extra bytes, NaN payloads). Version 1.2.0.0; sizes left 0.
TrackData MakeFullTrack();

// A track with the given vertices, one all-zero segment per vertex but the
// last, and the other chunks empty.
TrackData MakeTrackFromVertices(std::span<const TrackVertex> vertices);

// A columns x rows terrain grid, `scenery` SCEN entries and `vertices` vertices.
TrackData MakeLargeTrack(int32_t columns, int32_t rows, int32_t scenery, int32_t vertices);

// Where `a` and `b` differ, one line each; empty when equal. Every field a
// file holds is compared through FrameByHand (singles by bit pattern), the
// type blocks a segment's type leaves out as well; not Size, ChildCount, Version.
std::vector<std::string> DiffTracks(const TrackData& a, const TrackData& b);

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

// Whether `text` holds `part`.
inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace cvqrn::testsupport
