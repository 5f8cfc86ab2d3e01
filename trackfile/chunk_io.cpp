// Chunk layouts, each written once as a sequence of fields in file order.
//
// A layout function takes a field visitor: FieldReader decodes the fields
// from a ReadCursor into the record, FieldWriter encodes them from the
// record. Writing every layout once keeps the reader and the writer of a
// chunk from drifting apart; the places where reading and writing differ
// (counts, strings, the RASC and CATW entries, the terrain grid) are methods
// of the visitors.
#include "trackfile/chunk_io.h"

#include <cstring>
#include <string>
#include <type_traits>

#include "trackfile/portability.h"

namespace cvqrn {

namespace {

// Entry sizes in the file, used to bound counts before allocating. Entries
// of variable length are given their smallest size.
constexpr int64_t kTrckEntryMinBytes = 28;
constexpr int64_t kVertexBytes = 60;
constexpr int64_t kSegmentMinBytes = 33;
constexpr int64_t kFundEntryBytes = 92;
constexpr int64_t kRascEntryMinBytes = 4;
constexpr int64_t kRascItemBytes = 24;
constexpr int64_t kFrenEntryBytes = 28;
constexpr int64_t kTubeEntryBytes = 48;
constexpr int64_t kCatwEntryMinBytes = 28;
constexpr int64_t kScenEntryBytes = 64;
constexpr int64_t kScobEntryMinBytes = 88;

// Type block lengths B of segment types 0 to 4.
constexpr std::array<int32_t, 5> kSegmentBlockLength = {0, 126, 36, 28, 50};

class FieldReader {
  public:
    static constexpr bool kWriting = false;

    explicit FieldReader(ReadCursor& in) : in_(in) {}

    bool Failed() const { return in_.Failed; }

    void Long(int32_t& v) { v = ReadLong(in_); }
    void Single(float& v) { v = ReadSingle(in_); }
    void Flag(bool& v) { v = ReadFlag(in_); }
    void Byte(uint8_t& v) { v = ReadByte(in_); }
    void U24(int32_t& v) { v = ReadU24(in_); }
    void Reserved(size_t n) { SkipReserved(in_, n); }
    void Point(Vec3& v) {
        Single(v.x);
        Single(v.y);
        Single(v.z);
    }

    // A counted string whose length below 1 means empty (INFO, ENVC, TRCK).
    void Text(std::string& s) {
        const int32_t n = ReadLong(in_);
        s = n >= 1 ? ReadChars(in_, n) : std::string();
    }
    // A counted string of exactly the stored length; a negative one is refused (SCOB, TERA).
    void ExactText(std::string& s) { s = ReadChars(in_, ReadLong(in_)); }

    // The type block length: skipped, the layout follows from the segment's type.
    void BlockLength(int32_t) { SkipReserved(in_, 4); }

    // An entry count. The array is re-created with count + 1 entries once the
    // count has been checked against the bytes left; returns the entries to read.
    template <class T>
    int32_t Count(int32_t& count, std::vector<T>& items, int64_t bytesEach, std::string_view what) {
        count = ReadLong(in_);
        if (!HasRoomFor(in_, count, bytesEach, what)) return 0;
        items.assign(static_cast<size_t>(count) + 1, T{});
        return count;
    }

    // A RASC entry's item count, carried as read: 0 or below means no items
    // (and no array), above 0 it is checked like any count.
    int32_t RascItems(RascEntry& e) {
        e.Count = ReadLong(in_);
        e.Items.clear();
        if (e.Count <= 0) return 0;
        if (!HasRoomFor(in_, e.Count, kRascItemBytes, "RASC items")) return 0;
        e.Items.assign(static_cast<size_t>(e.Count) + 1, RascItem{});
        return e.Count;
    }

    // A CATW entry's extra bytes: their count, then the bytes, kept as read.
    void CatwExtra(CatwEntry& e) {
        e.ExtraLength = ReadLong(in_);
        if (!HasRoomFor(in_, e.ExtraLength, 1, "extra bytes")) return;
        const size_t n = static_cast<size_t>(e.ExtraLength);
        e.Extra.assign(in_.Image.begin() + static_cast<std::ptrdiff_t>(in_.Cursor),
                       in_.Image.begin() + static_cast<std::ptrdiff_t>(in_.Cursor + n));
        SkipReserved(in_, n);
    }

    // A terrain dimension, stored as read; the grid refuses negative ones.
    void Dimension(int32_t& d) { Long(d); }

    // Columns x Rows singles, row by row, checked in 64 bits against the bytes left.
    void Grid(TeraChunk& t) {
        if (t.Columns < 0 || t.Rows < 0) {
            Refuse(in_, "negative terrain grid size " + std::to_string(t.Columns) + " x " +
                            std::to_string(t.Rows));
            return;
        }
        const int64_t cells = int64_t{t.Columns} * int64_t{t.Rows};
        if (!HasRoomFor(in_, cells, 4, "terrain cells")) return;
        t.Grid.assign(cells > 0 ? static_cast<size_t>(cells) : size_t{1}, 0.0f);
        // The grid is most of a large file: decoded in one pass over the checked bytes.
        const uint8_t* p = in_.Image.data() + in_.Cursor;
        for (size_t i = 0; i < static_cast<size_t>(cells); ++i, p += 4) {
            const uint32_t bits = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                                  (uint32_t{p[2]} << 8) | uint32_t{p[3]};
            t.Grid[i] = port::BitCast<float>(bits);
        }
        SkipReserved(in_, static_cast<size_t>(cells) * 4);
    }

  private:
    ReadCursor& in_;
};

class FieldWriter {
  public:
    static constexpr bool kWriting = true;

    explicit FieldWriter(std::vector<uint8_t>& out) : out_(out) {}

    static bool Failed() { return false; }

    void Long(const int32_t& v) { WriteLong(out_, v); }
    void Single(const float& v) { WriteSingle(out_, v); }
    void Flag(const bool& v) { WriteFlag(out_, v); }
    void Byte(const uint8_t& v) { WriteByte(out_, v); }
    void U24(const int32_t& v) { WriteU24(out_, v); }
    void Reserved(size_t n) { WriteZeros(out_, n); }
    void Point(const Vec3& v) {
        Single(v.x);
        Single(v.y);
        Single(v.z);
    }

    void Text(const std::string& s) {
        WriteLong(out_, static_cast<int32_t>(s.size()));
        WriteChars(out_, s);
    }
    void ExactText(const std::string& s) { Text(s); }

    void BlockLength(int32_t b) { WriteLong(out_, b); }

    template <class T>
    int32_t Count(const int32_t& count, const std::vector<T>& items, int64_t, std::string_view) {
        const auto n = static_cast<int32_t>(EntriesToWrite(count, items.size()));
        WriteLong(out_, n);
        return n;
    }

    int32_t RascItems(const RascEntry& e) {
        const int32_t m = RascCountToWrite(e);
        WriteLong(out_, m);
        return m > 0 ? m : 0;
    }

    // The extra bytes go back as they were loaded; bytes the record lacks are zeros.
    void CatwExtra(const CatwEntry& e) {
        const int32_t n = CatwExtraToWrite(e);
        WriteLong(out_, n);
        const size_t kept =
            e.Extra.size() < static_cast<size_t>(n) ? e.Extra.size() : static_cast<size_t>(n);
        out_.insert(out_.end(), e.Extra.begin(),
                    e.Extra.begin() + static_cast<std::ptrdiff_t>(kept));
        WriteZeros(out_, static_cast<size_t>(n) - kept);
    }

    // Cells the record lacks are written as zeros, so the chunk always has its size.
    void Grid(const TeraChunk& t) {
        const int64_t cells =
            int64_t{TeraDimensionToWrite(t.Columns)} * TeraDimensionToWrite(t.Rows);
        const auto held = static_cast<int64_t>(t.Grid.size());
        const int64_t kept = cells < held ? cells : held;
        const size_t start = out_.size();
        out_.resize(start + static_cast<size_t>(cells) * 4, 0);
        uint8_t* p = out_.data() + start;
        for (int64_t i = 0; i < kept; ++i, p += 4) {
            uint32_t bits = 0;
            std::memcpy(&bits, &t.Grid[static_cast<size_t>(i)], 4);
            p[0] = static_cast<uint8_t>(bits >> 24);
            p[1] = static_cast<uint8_t>(bits >> 16);
            p[2] = static_cast<uint8_t>(bits >> 8);
            p[3] = static_cast<uint8_t>(bits);
        }
    }

    // The terrain dimensions as written (never negative).
    void Dimension(const int32_t& d) { WriteLong(out_, TeraDimensionToWrite(d)); }

  private:
    std::vector<uint8_t>& out_;
};

// ---- Layouts: the chunk's own fields between Size and ChildCount, in file order.
//
// One overload of Fields per chunk record. Rec<IO, T> is the record as the
// visitor sees it: T for the reader, which fills it, const T for the writer.

template <class IO, class T>
using Rec = std::conditional_t<IO::kWriting, const T, T>;

// Entries 0 .. n - 1 of `items`, stopping once the image has run out.
template <class IO, class Items, class Fn>
void ForEntries(IO& io, int32_t n, Items& items, Fn&& entry) {
    for (int32_t i = 0; i < n && !io.Failed(); ++i) entry(items[static_cast<size_t>(i)]);
}

// The common list shape: 16 reserved, the entry count, the entries, 16 reserved.
template <class IO, class Count, class Items, class Fn>
void ReservedList(IO& io, Count& count, Items& items, int64_t bytesEach, std::string_view what,
                  Fn&& entry) {
    io.Reserved(16);
    ForEntries(io, io.Count(count, items, bytesEach, what), items, entry);
    io.Reserved(16);
}

template <class IO>
void Fields(IO& io, Rec<IO, TrckChunk>& c) {
    io.Long(c.Value1);
    const int32_t n = io.Count(c.EntryCount, c.Entries, kTrckEntryMinBytes, "TRCK entries");
    io.Long(c.Value2);
    ForEntries(io, n, c.Entries, [&](auto& e) {
        io.Flag(e.Flag);
        io.Reserved(7);
        io.Text(e.Name);
        for (auto& v : e.Val24) io.U24(v);
    });
    for (auto& v : c.Val24) io.U24(v);
    io.Reserved(16);
}

template <class IO>
void Fields(IO& io, Rec<IO, InfoChunk>& c) {
    io.Reserved(16);
    io.Text(c.Text);
}

template <class IO>
void Fields(IO& io, Rec<IO, BezrChunk>& c) {
    ReservedList(io, c.VertexCount, c.Vertices, kVertexBytes, "vertices", [&](auto& v) {
        io.Point(v.Pos);
        io.Point(v.CtrlIn);
        io.Point(v.CtrlOut);
        io.Single(v.Roll);
        io.Flag(v.FlagA);
        io.Flag(v.FlagC);  // FlagC stands before RelativeRoll in the file
        io.Flag(v.RelativeRoll);
        io.Reserved(17);
    });
}

template <class IO>
void Fields(IO& io, Rec<IO, SegmentType1>& b) {
    for (auto& v : b.Field1to4) io.Single(v);
    io.Byte(b.Field7);
    io.Byte(b.Field8);
    io.Flag(b.Field5);
    io.Byte(b.Field9);
    io.Single(b.Field6);
    io.Reserved(4);
    io.Flag(b.Field14);
    io.Single(b.Field15);
    io.Reserved(4);
    for (auto& v : b.Field16to17) io.Single(v);
    io.Reserved(4);
    io.Flag(b.Field10);
    for (auto& v : b.Field11to13) io.Single(v);
    io.Reserved(64);
}

// Types 2 and 3 hold the same fields in two different file orders.
template <class IO>
void Type2Fields(IO& io, Rec<IO, SegmentType2>& b) {
    io.Reserved(3);
    io.Byte(b.Field4);
    for (auto& v : b.Field1to3) io.Single(v);
    io.Reserved(4);
    io.Flag(b.Field5);
    io.Flag(b.Field6);
    io.Reserved(14);
}

template <class IO>
void Type3Fields(IO& io, Rec<IO, SegmentType3>& b) {
    for (auto& v : b.Field1to3) io.Single(v);
    io.Reserved(3);
    io.Byte(b.Field4);
    io.Flag(b.Field5);
    io.Flag(b.Field6);
    io.Reserved(10);
}

template <class IO>
void Fields(IO& io, Rec<IO, SegmentType4>& b) {
    for (auto& v : b.Field3to5) io.Single(v);
    io.Reserved(4);
    io.Single(b.Field7to10[3]);  // field 10 stands before fields 7 to 9
    io.Flag(b.Field1);
    io.Flag(b.Field6);
    for (size_t i = 0; i < 3; ++i) io.Single(b.Field7to10[i]);
    io.Flag(b.Field11);
    io.Flag(b.Field12);
    io.Flag(b.Field2);
    io.Reserved(13);
}

template <class IO>
void Fields(IO& io, Rec<IO, TrackSegment>& s) {
    io.Long(s.Type);
    io.Flag(s.FlagA);
    for (auto& v : s.Val24) io.U24(v);
    io.Flag(s.FlagB);
    io.Reserved(15);
    // Types 0 to 4 carry a block length and their block; any other type has neither.
    if (s.Type >= 0 && s.Type <= 4)
        io.BlockLength(kSegmentBlockLength[static_cast<size_t>(s.Type)]);
    switch (s.Type) {
        case 1:
            Fields(io, s.Type1);
            break;
        case 2:
            Type2Fields(io, s.Type2);
            break;
        case 3:
            Type3Fields(io, s.Type3);
            break;
        case 4:
            Fields(io, s.Type4);
            break;
        default:
            break;
    }
}

template <class IO>
void Fields(IO& io, Rec<IO, SegmChunk>& c) {
    const int32_t n = io.Count(c.SegmentCount, c.Segments, kSegmentMinBytes, "segments");
    io.Flag(c.Flag);
    io.Reserved(16);
    ForEntries(io, n, c.Segments, [&](auto& s) { Fields(io, s); });
    io.Reserved(16);
}

template <class IO>
void Fields(IO& io, Rec<IO, SuppChunk>&) {
    io.Reserved(32);
}

template <class IO>
void Fields(IO& io, Rec<IO, FundChunk>& c) {
    ReservedList(io, c.Count, c.Items, kFundEntryBytes, "FUND entries", [&](auto& e) {
        io.Flag(e.Flag1);
        io.Single(e.Value1);
        io.Flag(e.Flag2);
        io.Single(e.Value2);
        io.Reserved(6);
        io.Point(e.Pos);
        io.Reserved(64);
    });
}

template <class IO>
void Fields(IO& io, Rec<IO, RascChunk>& c) {
    ReservedList(io, c.Count, c.Items, kRascEntryMinBytes, "RASC entries", [&](auto& e) {
        ForEntries(io, io.RascItems(e), e.Items, [&](auto& item) {
            io.Long(item.Value1);
            io.Single(item.Value2);
            io.Reserved(16);
        });
    });
}

template <class IO>
void Fields(IO& io, Rec<IO, FrenChunk>& c) {
    ReservedList(io, c.Count, c.Items, kFrenEntryBytes, "FREN entries", [&](auto& p) {
        io.Point(p);
        io.Reserved(16);
    });
}

template <class IO>
void Fields(IO& io, Rec<IO, TubeChunk>& c) {
    ReservedList(io, c.Count, c.Items, kTubeEntryBytes, "TUBE entries", [&](auto& e) {
        // The second and third Long of each group of three are swapped in the file.
        io.Long(e.Value1);
        io.Long(e.Value3);
        io.Long(e.Value2);
        io.Reserved(4);
        io.Long(e.Value4);
        io.Long(e.Value6);
        io.Long(e.Value5);
        io.Reserved(4);
        io.Long(e.Value7);
        io.Long(e.Value8);
        io.Single(e.Value9);
        io.Reserved(4);
    });
}

template <class IO>
void Fields(IO& io, Rec<IO, CatwChunk>& c) {
    ReservedList(io, c.Count, c.Items, kCatwEntryMinBytes, "CATW entries", [&](auto& e) {
        for (auto* v : {&e.Value1, &e.Value2, &e.Value3, &e.Value4, &e.Value5, &e.Value6})
            io.Long(*v);
        io.CatwExtra(e);
    });
}

template <class IO>
void Fields(IO& io, Rec<IO, ScenChunk>& c) {
    ReservedList(io, c.Count, c.Items, kScenEntryBytes, "SCEN entries", [&](auto& e) {
        io.Point(e.Pos);
        io.Long(e.Value2);
        io.Single(e.Value1);
        io.Reserved(44);
    });
}

// The file interleaves the 15 values as three rows of four, then three.
constexpr std::array<size_t, 15> kScobValueOrder = {0, 1, 2, 9,  3,  4,  5, 10,
                                                    6, 7, 8, 11, 12, 13, 14};

template <class IO>
void Fields(IO& io, Rec<IO, ScobChunk>& c) {
    ReservedList(io, c.Count, c.Items, kScobEntryMinBytes, "SCOB entries", [&](auto& e) {
        io.ExactText(e.Name2);  // the second name stands first
        io.ExactText(e.Name1);
        for (size_t k : kScobValueOrder) io.Single(e.Values[k]);
        io.Reserved(20);
    });
}

template <class IO>
void Fields(IO& io, Rec<IO, TeraChunk>& c) {
    io.Dimension(c.Columns);
    io.Dimension(c.Rows);
    io.Single(c.Value1);
    io.Single(c.Value2);
    io.ExactText(c.Text1);
    io.Single(c.Value3);
    io.ExactText(c.Text2);
    io.Single(c.Value4);
    io.Flag(c.Flag);
    io.Reserved(4);
    io.ExactText(c.Text3);
    io.Single(c.Value5);
    io.Byte(c.ByteValue);
    io.Reserved(15);
    io.Grid(c);
    io.Reserved(16);
}

template <class IO>
void Fields(IO& io, Rec<IO, EnvcChunk>& c) {
    io.Reserved(16);
    io.Text(c.Text1);
    io.Text(c.Text2);
    io.Reserved(16);
}

// Calls `fn` with the member of `track` that holds chunk `id`.
template <class Track, class Fn>
decltype(auto) WithChunk(ChunkId id, Track& track, Fn&& fn) {
    switch (id) {
        case ChunkId::Trck:
            return fn(track.Trck);
        case ChunkId::Info:
            return fn(track.Info);
        case ChunkId::Bezr:
            return fn(track.Bezr);
        case ChunkId::Segm:
            return fn(track.Segm);
        case ChunkId::Supp:
            return fn(track.Supp);
        case ChunkId::Fund:
            return fn(track.Fund);
        case ChunkId::Rasc:
            return fn(track.Rasc);
        case ChunkId::Fren:
            return fn(track.Fren);
        case ChunkId::Tube:
            return fn(track.Tube);
        case ChunkId::Catw:
            return fn(track.Catw);
        case ChunkId::Scen:
            return fn(track.Scen);
        case ChunkId::Scob:
            return fn(track.Scob);
        case ChunkId::Tera:
            return fn(track.Tera);
        case ChunkId::Envc:
            break;
    }
    return fn(track.Envc);
}

}  // namespace

std::optional<ChunkId> ChunkFromTag(std::string_view tag) {
    for (size_t i = 0; i < kChunkTags.size(); ++i) {
        if (kChunkTags[i] == tag) return static_cast<ChunkId>(i);
    }
    return std::nullopt;
}

void ReadFileHeader(ReadCursor& in, FileHeader& header) {
    header.Size = ReadLong(in);
    for (auto& b : header.Version) b = ReadByte(in);
    SkipReserved(in, 16);
    header.ChildCount = ReadLong(in);
}

void WriteFileHeader(std::vector<uint8_t>& out, const FileHeader& header) {
    WriteTag(out, kFileMagic);
    WriteLong(out, header.Size);
    for (uint8_t b : {uint8_t{1}, uint8_t{3}, uint8_t{0}, uint8_t{0}}) WriteByte(out, b);
    WriteZeros(out, 16);
    WriteLong(out, header.ChildCount);
}

int32_t& ChunkChildCount(ChunkId id, TrackData& track) {
    return WithChunk(id, track, [](auto& c) -> int32_t& { return c.ChildCount; });
}

bool ReadChunk(ChunkId id, ReadCursor& in, TrackData& track) {
    FieldReader io(in);
    WithChunk(id, track, [&](auto& c) {
        c.Size = ReadLong(in);
        Fields(io, c);
        c.ChildCount = ReadLong(in);
    });
    if (id == ChunkId::Tera && !in.Failed) track.Tera.Present = true;
    return !in.Failed;
}

void WriteChunk(ChunkId id, std::vector<uint8_t>& out, const TrackData& track) {
    WriteTag(out, kChunkTags[static_cast<size_t>(id)]);
    FieldWriter io(out);
    WithChunk(id, track, [&](const auto& c) {
        WriteLong(out, c.Size);
        Fields(io, c);
        WriteLong(out, c.ChildCount);
    });
}

}  // namespace cvqrn
