// Chunk layouts, each written once as a sequence of fields in file order.
//
// A layout function takes a field visitor: FieldReader decodes the fields
// from a ReadCursor into the record, FieldWriter encodes them from the
// record, SizeCounter counts the bytes the writer writes. Writing every layout
// once keeps the reader, the writer and the chunk sizes from drifting apart;
// the places where reading and writing differ (counts, strings, the RASC and
// CATW entries, the terrain grid) are methods of the visitors.
#include "trackfile/chunk_io.h"

#include <algorithm>
#include <span>
#include <string>
#include <type_traits>

namespace cvqrn {

namespace {

// The fewest bytes an entry of type T takes in the file (its layout with every
// variable part empty), used to bound counts before allocating.
template <class T>
int64_t MinEntryBytes();

// The version every saved file carries.
constexpr std::array<uint8_t, 4> kSavedVersion = {1, 3, 0, 0};

// Type block lengths B of segment types 0 to 4.
constexpr std::array<int32_t, 5> kSegmentBlockLength = {0, 126, 36, 28, 50};

class FieldReader {
  public:
    static constexpr bool kWriting = false;

    // `tag` names the chunk being read, for the refusals of its list count.
    explicit FieldReader(ReadCursor& in, std::string_view tag = {})
        : in_(in), listEntries_(std::string(tag) + " entries") {}

    bool Failed() const { return in_.Failed; }
    // Past an entry: the bytes read so far may be given back.
    void EntryDone() { OfferConsumed(in_); }

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

    // The header's version bytes, stored as read.
    void Version(std::array<uint8_t, 4>& version) {
        for (auto& b : version) b = ReadByte(in_);
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
    int32_t Count(int32_t& count, std::vector<T>& items, std::string_view what) {
        count = ReadLong(in_);
        if (!HasRoomFor(in_, count, MinEntryBytes<T>(), what)) return 0;
        if (!Charge(in_, (int64_t{count} + 1) * int64_t{sizeof(T)}, what)) return 0;
        items.assign(static_cast<size_t>(count) + 1, T{});
        return count;
    }

    // The entry count of a list chunk, named after the chunk ("FUND entries").
    template <class T>
    int32_t ListCount(int32_t& count, std::vector<T>& items) {
        return Count(count, items, listEntries_);
    }

    // A RASC entry's item count, carried as read: 0 or below means no items
    // (and no array), above 0 it is checked like any count.
    int32_t RascItems(RascEntry& e) {
        e.Count = ReadLong(in_);
        e.Items.clear();
        if (e.Count <= 0) return 0;
        if (!HasRoomFor(in_, e.Count, MinEntryBytes<RascItem>(), "RASC items")) return 0;
        if (!Charge(in_, (int64_t{e.Count} + 1) * int64_t{sizeof(RascItem)}, "RASC items")) {
            return 0;
        }
        e.Items.assign(static_cast<size_t>(e.Count) + 1, RascItem{});
        return e.Count;
    }

    // A CATW entry's extra bytes: their count, then the bytes, kept as read.
    void CatwExtra(CatwEntry& e) {
        e.ExtraLength = ReadLong(in_);
        if (!HasRoomFor(in_, e.ExtraLength, 1, "extra bytes")) return;
        if (!Charge(in_, e.ExtraLength, "extra bytes")) return;
        e.Extra = ReadBytes(in_, static_cast<size_t>(e.ExtraLength));
    }

    // Columns x Rows singles, row by row, checked in 64 bits against the bytes left.
    void Grid(TeraChunk& t) {
        if (t.Columns < 0 || t.Rows < 0) {
            Refuse(in_, "negative terrain grid size " + std::to_string(t.Columns) + " x " +
                            std::to_string(t.Rows));
            return;
        }
        const int64_t cells = int64_t{t.Columns} * int64_t{t.Rows};
        if (!HasRoomFor(in_, cells, 4, "terrain cells")) return;
        if (!Charge(in_, cells * int64_t{sizeof(float)}, "terrain cells")) return;
        const size_t n = static_cast<size_t>(cells);
        t.Grid.clear();
        if (n == 0) {
            t.Grid.assign(1, 0.0f);
            return;
        }
        // Filled as read (not zeroed first), a slice at a time, each slice of
        // the image offered back once decoded: the grid is most of a large file.
        t.Grid.reserve(n);
        AdviseLargePages(t.Grid.data(), n * sizeof(float));
        AppendSingles(in_, n, t.Grid);
    }

  private:
    ReadCursor& in_;
    std::string listEntries_;
};

// Writes a track whose counts match its arrays (see ValidateTrack).
class FieldWriter {
  public:
    static constexpr bool kWriting = true;

    explicit FieldWriter(ImageOut& image) : image_(image), out_(image.bytes) {}

    bool Failed() const { return image_.stopped; }
    void EntryDone() { image_.BlockPoint(); }

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

    // Every saved file is version 1, 3, 0, 0.
    void Version(const std::array<uint8_t, 4>&) {
        for (uint8_t b : kSavedVersion) WriteByte(out_, b);
    }

    void Text(const std::string& s) {
        WriteLong(out_, static_cast<int32_t>(s.size()));
        WriteChars(out_, s);
    }
    void ExactText(const std::string& s) { Text(s); }

    void BlockLength(int32_t b) { WriteLong(out_, b); }

    template <class T>
    int32_t Count(const int32_t& count, const std::vector<T>&, std::string_view) {
        WriteLong(out_, count);
        return count;
    }
    template <class T>
    int32_t ListCount(const int32_t& count, const std::vector<T>& items) {
        return Count(count, items, {});
    }

    int32_t RascItems(const RascEntry& e) {
        WriteLong(out_, e.Count);
        return std::max(e.Count, 0);
    }

    void CatwExtra(const CatwEntry& e) {
        WriteLong(out_, e.ExtraLength);
        WriteBytes(out_, e.Extra);
    }

    // In slices that fill the current block, each handed on when full.
    void Grid(const TeraChunk& t) {
        std::span<const float> cells(t.Grid.data(), t.CellCount());
        while (!cells.empty() && !image_.stopped) {
            const size_t room = image_.flush && image_.blockBytes > out_.size()
                                    ? (image_.blockBytes - out_.size() + 3) / 4
                                    : cells.size();
            const size_t n = std::min(room, cells.size());
            WriteSingles(out_, cells.first(n));
            cells = cells.subspan(n);
            image_.BlockPoint();
        }
    }

  private:
    ImageOut& image_;
    std::vector<uint8_t>& out_;
};

// Counts the bytes FieldWriter would write, without writing them: the save
// computes every chunk's Size from the same layouts it writes.
class SizeCounter {
  public:
    static constexpr bool kWriting = true;

    static bool Failed() { return false; }
    static void EntryDone() {}
    int64_t Bytes() const { return bytes_; }

    void Long(const int32_t&) { bytes_ += 4; }
    void Single(const float&) { bytes_ += 4; }
    void Flag(const bool&) { bytes_ += 1; }
    void Byte(const uint8_t&) { bytes_ += 1; }
    void U24(const int32_t&) { bytes_ += 4; }
    void Reserved(size_t n) { bytes_ += static_cast<int64_t>(n); }
    void Point(const Vec3&) { bytes_ += 12; }
    void Version(const std::array<uint8_t, 4>& v) { bytes_ += static_cast<int64_t>(v.size()); }
    void Text(const std::string& s) { bytes_ += 4 + static_cast<int64_t>(s.size()); }
    void ExactText(const std::string& s) { Text(s); }
    void BlockLength(int32_t) { bytes_ += 4; }

    template <class T>
    int32_t Count(const int32_t& count, const std::vector<T>&, std::string_view) {
        bytes_ += 4;
        return count;
    }
    template <class T>
    int32_t ListCount(const int32_t& count, const std::vector<T>& items) {
        return Count(count, items, {});
    }

    int32_t RascItems(const RascEntry& e) {
        bytes_ += 4;
        return std::max(e.Count, 0);
    }

    void CatwExtra(const CatwEntry& e) { bytes_ += 4 + int64_t{e.ExtraLength}; }

    void Grid(const TeraChunk& t) { bytes_ += 4 * static_cast<int64_t>(t.CellCount()); }

  private:
    int64_t bytes_ = 0;
};

// ---- Layouts: the chunk's own fields between Size and ChildCount, in file order.
//
// One overload of Fields per record (list entry or chunk). Rec<IO, T> is the
// record as the visitor sees it: T for the reader, which fills it, const T for
// the writer and the size counter.

template <class IO, class T>
using Rec = std::conditional_t<IO::kWriting, const T, T>;

// Entries 0 .. n - 1 of `items` (n >= 0), stopping once the image has run out.
template <class IO, class Items, class Fn>
void ForEntries(IO& io, int32_t n, Items& items, Fn&& entry) {
    const auto end = items.begin() + n;
    for (auto it = items.begin(); it != end && !io.Failed(); ++it) {
        entry(*it);
        io.EntryDone();
    }
}

// One entry of a list, in file order.
template <class IO>
void Fields(IO& io, Rec<IO, TrckEntry>& e) {
    io.Flag(e.Flag);
    io.Reserved(7);
    io.Text(e.Name);
    for (auto& v : e.Val24) io.U24(v);
}

template <class IO>
void Fields(IO& io, Rec<IO, TrackVertex>& v) {
    io.Point(v.Pos);
    io.Point(v.CtrlIn);
    io.Point(v.CtrlOut);
    io.Single(v.Roll);
    io.Flag(v.FlagA);
    io.Flag(v.FlagC);  // FlagC stands before RelativeRoll in the file
    io.Flag(v.RelativeRoll);
    io.Reserved(17);
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
void Fields(IO& io, Rec<IO, FundEntry>& e) {
    io.Flag(e.Flag1);
    io.Single(e.Value1);
    io.Flag(e.Flag2);
    io.Single(e.Value2);
    io.Reserved(6);
    io.Point(e.Pos);
    io.Reserved(64);
}

template <class IO>
void Fields(IO& io, Rec<IO, RascItem>& item) {
    io.Long(item.Value1);
    io.Single(item.Value2);
    io.Reserved(16);
}

template <class IO>
void Fields(IO& io, Rec<IO, RascEntry>& e) {
    ForEntries(io, io.RascItems(e), e.Items, [&](auto& item) { Fields(io, item); });
}

// A FREN entry: one point.
template <class IO>
void Fields(IO& io, Rec<IO, Vec3>& p) {
    io.Point(p);
    io.Reserved(16);
}

template <class IO>
void Fields(IO& io, Rec<IO, TubeEntry>& e) {
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
}

template <class IO>
void Fields(IO& io, Rec<IO, CatwEntry>& e) {
    for (auto* v : {&e.Value1, &e.Value2, &e.Value3, &e.Value4, &e.Value5, &e.Value6}) io.Long(*v);
    io.CatwExtra(e);
}

template <class IO>
void Fields(IO& io, Rec<IO, ScenEntry>& e) {
    io.Point(e.Pos);
    io.Long(e.Value2);
    io.Single(e.Value1);
    io.Reserved(44);
}

// The file interleaves the 15 values as three rows of four, then three.
constexpr std::array<size_t, 15> kScobValueOrder = {0, 1, 2, 9,  3,  4,  5, 10,
                                                    6, 7, 8, 11, 12, 13, 14};

template <class IO>
void Fields(IO& io, Rec<IO, ScobEntry>& e) {
    io.ExactText(e.Name2);  // the second name stands first
    io.ExactText(e.Name1);
    for (size_t k : kScobValueOrder) io.Single(e.Values[k]);
    io.Reserved(20);
}

// The entries of a list, each in its own layout.
template <class IO, class Items>
void Entries(IO& io, int32_t n, Items& items) {
    ForEntries(io, n, items, [&](auto& e) { Fields(io, e); });
}

template <class T>
constexpr bool kIsListChunk = false;
template <class Entry>
constexpr bool kIsListChunk<ListChunk<Entry>> = true;

// ---- Chunks: the chunk's own fields between Size and ChildCount, in file order.

template <class IO>
void Fields(IO& io, Rec<IO, FileHeader>& h) {
    io.Version(h.Version);
    io.Reserved(16);
}

template <class IO>
void Fields(IO& io, Rec<IO, TrckChunk>& c) {
    io.Long(c.Value1);
    const int32_t n = io.Count(c.EntryCount, c.Entries, "TRCK entries");
    io.Long(c.Value2);
    Entries(io, n, c.Entries);
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
    io.Reserved(16);
    Entries(io, io.Count(c.VertexCount, c.Vertices, "vertices"), c.Vertices);
    io.Reserved(16);
}

template <class IO>
void Fields(IO& io, Rec<IO, SegmChunk>& c) {
    const int32_t n = io.Count(c.SegmentCount, c.Segments, "segments");
    io.Flag(c.Flag);
    io.Reserved(16);
    Entries(io, n, c.Segments);
    io.Reserved(16);
}

template <class IO>
void Fields(IO& io, Rec<IO, SuppChunk>&) {
    io.Reserved(32);
}

// The carried list chunks (FUND, RASC, FREN, TUBE, CATW, SCEN, SCOB): 16
// reserved, the entry count, the entries, 16 reserved.
template <class IO, class List>
requires kIsListChunk<std::remove_const_t<List>>
void Fields(IO& io, List& c) {
    io.Reserved(16);
    Entries(io, io.ListCount(c.Count, c.Items), c.Items);
    io.Reserved(16);
}

template <class IO>
void Fields(IO& io, Rec<IO, TeraChunk>& c) {
    io.Long(c.Columns);  // the grid refuses negative dimensions
    io.Long(c.Rows);
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

template <class T>
int64_t MinEntryBytes() {
    T entry{};
    if constexpr (std::is_same_v<T, TrackSegment>) entry.Type = -1;  // a type without a block
    SizeCounter io;
    Fields(io, entry);
    return io.Bytes();
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
    FieldReader io(in);
    header.Size = ReadLong(in);
    Fields(io, header);
    header.ChildCount = ReadLong(in);
}

void ImageOut::Flush() {
    if (!flush || bytes.empty() || stopped) return;
    stopped = !flush(bytes);
    flushed += bytes.size();
    bytes.clear();
}

void WriteFileHeader(ImageOut& image, int32_t size, int32_t childCount) {
    std::vector<uint8_t>& out = image.bytes;
    WriteTag(out, kFileMagic);
    WriteLong(out, size);
    FieldWriter io(image);
    Fields(io, FileHeader{});
    WriteLong(out, childCount);
}

int64_t FileHeaderOwnBytes() {
    SizeCounter io;
    Fields(io, FileHeader{});
    return io.Bytes() + 4;
}

int32_t& ChunkChildCount(ChunkId id, TrackData& track) {
    return WithChunk(id, track, [](auto& c) -> int32_t& { return c.ChildCount; });
}

bool ReadChunk(ChunkId id, ReadCursor& in, TrackData& track) {
    FieldReader io(in, kChunkTags[ChunkIndex(id)]);
    WithChunk(id, track, [&](auto& c) {
        c.Size = ReadLong(in);
        Fields(io, c);
        c.ChildCount = ReadLong(in);
    });
    if (id == ChunkId::Tera && !in.Failed) track.Tera.Present = true;
    return !in.Failed;
}

void WriteChunk(ChunkId id, ImageOut& image, const TrackData& track, int32_t size,
                int32_t childCount) {
    std::vector<uint8_t>& out = image.bytes;
    WriteTag(out, kChunkTags[ChunkIndex(id)]);
    WriteLong(out, size);
    FieldWriter io(image);
    WithChunk(id, track, [&](const auto& c) { Fields(io, c); });
    WriteLong(out, childCount);
    image.BlockPoint();
}

int64_t ChunkOwnBytes(ChunkId id, const TrackData& track) {
    SizeCounter io;
    WithChunk(id, track, [&](const auto& c) { Fields(io, c); });
    return io.Bytes() + 4;  // the ChildCount
}

}  // namespace cvqrn
