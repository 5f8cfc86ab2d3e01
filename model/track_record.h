// The in-memory image of one whole track file.
//
// One member per chunk of the file, in file order. Every member starts with
// the chunk's bookkeeping (Size, ChildCount), followed by its payload. Arrays
// are paired with explicit count fields: only the first `count` entries are
// meaningful and saved; the load sizes each array to count + 1 entries.
//
// Size and ChildCount hold what the load read; the save computes both afresh.
//
// Booleans of the file are held as bool: any non-zero byte loads as true and
// true is saved as 0xFF. Strings are raw single-byte text and round-trip byte
// for byte. 24-bit values are held in int32_t with the top 8 bits zero.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "text/result.h"
#include "vec3/vec3.h"

namespace cvqrn {

struct FileHeader {  // "CORV"
    int32_t Size = 0;
    int32_t ChildCount = 0;
    std::array<uint8_t, 4> Version{};
};

struct TrckEntry {
    bool Flag = false;
    std::array<int32_t, 4> Val24{};
    std::string Name;
};

struct TrckChunk {  // "TRCK"
    int32_t Size = 0;
    int32_t ChildCount = 0;
    int32_t Value1 = 0;
    std::vector<TrckEntry> Entries = std::vector<TrckEntry>(1);
    int32_t EntryCount = 0;
    int32_t Value2 = 0;
    std::array<int32_t, 8> Val24{};
};

struct InfoChunk {  // "INFO"
    int32_t Size = 0;
    int32_t ChildCount = 0;
    std::string Text;
};

// One vertex of the track's chain of cubic Bezier segments. Segment i runs
// from vertex i to vertex i + 1 with control points, in curve order,
// Pos(i), CtrlOut(i), CtrlIn(i + 1), Pos(i + 1).
struct TrackVertex {
    Vec3 Pos;
    Vec3 CtrlIn;                // handle towards the previous segment
    Vec3 CtrlOut;               // handle towards the next segment
    float Roll = 0.0f;          // radians
    bool FlagA = false;         // continuous roll rate through this vertex
    bool RelativeRoll = false;  // Roll adds to the previous vertex's absolute roll
    bool FlagC = false;         // carried unchanged
};

// Whether the roll interpolated through vertex `v` keeps its rate of change
// there (FlagA) instead of coming to rest at the vertex.
inline bool IsRollRateContinuous(const TrackVertex& v) {
    return v.FlagA;
}

struct BezrChunk {  // "BEZR"
    int32_t Size = 0;
    int32_t ChildCount = 0;
    int32_t VertexCount = 0;
    std::vector<TrackVertex> Vertices = std::vector<TrackVertex>(1);
};

// Type blocks of a segment. Field numbers follow the order in which the
// fields are declared; the file stores them in another order.
struct SegmentType1 {
    std::array<float, 4> Field1to4{};
    bool Field5 = false;
    float Field6 = 0.0f;
    uint8_t Field7 = 0;
    uint8_t Field8 = 0;
    uint8_t Field9 = 0;
    bool Field10 = false;
    std::array<float, 3> Field11to13{};
    bool Field14 = false;
    float Field15 = 0.0f;
    std::array<float, 2> Field16to17{};
};

// Types 2 and 3 share the same fields (file layouts differ).
struct SegmentType2 {
    std::array<float, 3> Field1to3{};
    uint8_t Field4 = 0;
    bool Field5 = false;
    bool Field6 = false;
};
using SegmentType3 = SegmentType2;

struct SegmentType4 {
    bool Field1 = false;
    bool Field2 = false;
    std::array<float, 3> Field3to5{};
    bool Field6 = false;
    std::array<float, 4> Field7to10{};
    bool Field11 = false;
    bool Field12 = false;
};

// Per-segment attributes; entry i belongs to the segment that starts at vertex i.
struct TrackSegment {
    int32_t Type = 0;                // 0 to 4 selects the type block in the file
    std::array<int32_t, 3> Val24{};  // [0] banking mode, [1] smoothing passes, [2] carried
    bool FlagA = false;
    bool FlagB = false;
    SegmentType1 Type1;
    SegmentType2 Type2;
    SegmentType3 Type3;
    SegmentType4 Type4;
};

struct SegmChunk {  // "SEGM"
    int32_t Size = 0;
    int32_t ChildCount = 0;
    bool Flag = false;
    int32_t SegmentCount = 0;
    std::vector<TrackSegment> Segments = std::vector<TrackSegment>(1);
};

struct SuppChunk {  // "SUPP": parent of FUND, RASC, FREN, TUBE, CATW
    int32_t Size = 0;
    int32_t ChildCount = 0;
};

struct FundEntry {
    Vec3 Pos;
    bool Flag1 = false;
    float Value1 = 0.0f;
    bool Flag2 = false;
    float Value2 = 0.0f;
};

struct RascItem {
    int32_t Value1 = 0;
    float Value2 = 0.0f;
};

struct RascEntry {
    int32_t Count = 0;  // may be 0 or negative in a file: then there are no items
    std::vector<RascItem> Items;
};

struct TubeEntry {
    int32_t Value1 = 0, Value2 = 0, Value3 = 0, Value4 = 0;
    int32_t Value5 = 0, Value6 = 0, Value7 = 0, Value8 = 0;
    float Value9 = 0.0f;
};

struct CatwEntry {
    int32_t Value1 = 0, Value2 = 0, Value3 = 0, Value4 = 0, Value5 = 0, Value6 = 0;
    int32_t ExtraLength = 0;
    std::vector<uint8_t> Extra;  // the ExtraLength bytes, kept and written back as read
};

struct ScenEntry {
    Vec3 Pos;
    float Value1 = 0.0f;
    int32_t Value2 = 0;
};

struct ScobEntry {
    std::string Name1;
    std::string Name2;
    std::array<float, 15> Values{};
};

// A carried chunk that is a counted list of entries.
template <class Entry>
struct ListChunk {
    int32_t Size = 0;
    int32_t ChildCount = 0;
    int32_t Count = 0;
    std::vector<Entry> Items = std::vector<Entry>(1);
};

using FundChunk = ListChunk<FundEntry>;  // "FUND"
using RascChunk = ListChunk<RascEntry>;  // "RASC"
using FrenChunk = ListChunk<Vec3>;       // "FREN"
using TubeChunk = ListChunk<TubeEntry>;  // "TUBE"
using CatwChunk = ListChunk<CatwEntry>;  // "CATW"
using ScenChunk = ListChunk<ScenEntry>;  // "SCEN": parent of SCOB
using ScobChunk = ListChunk<ScobEntry>;  // "SCOB"

struct TeraChunk {  // "TERA", optional
    int32_t Size = 0;
    int32_t ChildCount = 0;
    bool Present = false;  // a TERA chunk was read; only then is one written
    int32_t Columns = 0;
    int32_t Rows = 0;
    float Value1 = 0.0f;
    float Value2 = 0.0f;
    std::string Text1;
    float Value3 = 0.0f;
    std::string Text2;
    float Value4 = 0.0f;
    std::string Text3;
    float Value5 = 0.0f;
    uint8_t ByteValue = 0;
    bool Flag = false;
    // Columns x Rows singles, row-major: cell (column, row) is Grid[row * Columns + column].
    std::vector<float> Grid = std::vector<float>(1);

    // Columns x Rows; meaningful when both are 0 or more.
    size_t CellCount() const { return static_cast<size_t>(int64_t{Columns} * int64_t{Rows}); }
};

struct EnvcChunk {  // "ENVC"
    int32_t Size = 0;
    int32_t ChildCount = 0;
    std::string Text1;
    std::string Text2;
};

// The whole track file. A default-constructed TrackData is the empty state.
struct TrackData {
    FileHeader Header;
    TrckChunk Trck;
    InfoChunk Info;
    BezrChunk Bezr;
    SegmChunk Segm;
    SuppChunk Supp;
    FundChunk Fund;
    RascChunk Rasc;
    FrenChunk Fren;
    TubeChunk Tube;
    CatwChunk Catw;
    ScenChunk Scen;
    ScobChunk Scob;
    TeraChunk Tera;
    EnvcChunk Envc;
};

// Resets `track` to the empty state: every count, size and scalar 0, every
// string empty, every array a single zero entry, no TERA.
void ClearTrack(TrackData& track);

// The shape every track the program works on has. LoadTrack establishes it
// (it refuses a file that would break it), the heartline keeps it, the save
// requires it:
// - every list count (EntryCount, VertexCount, SegmentCount, Count) is 0 or
//   more and at most the size of its array, so entries 0 .. count - 1 exist;
// - a RASC entry with Count > 0 holds at least Count items (a Count of 0 or
//   below means no items and is carried as it is);
// - a CATW entry's Extra holds exactly ExtraLength bytes;
// - the terrain's Columns and Rows are 0 or more and Grid holds at least
//   Columns x Rows cells.
// Ok, or InvalidTrack with what breaks it first.
Result CheckTrackShape(const TrackData& track);

}  // namespace cvqrn
