// Track file images framed by hand from the layout tables, and the builder
// tracks whose fields the same walk fills. Nothing here calls the track file
// code, so these images check its writers, readers and sizes independently.
#include <algorithm>
#include <bit>

#include "tests/support/track_builder.h"
#include "text/words.h"

namespace cvqrn::testsupport {

namespace {

// Appends fields, chainable so that one line reads like one row of a layout table.
class Framer {
  public:
    explicit Framer(const FrameOptions& options) : o_(options) {}

    // Starts a chunk: tag and a Size to be patched by End.
    Framer& Begin(const std::string& tag) {
        out.at[tag] = Here();
        for (char c : tag) img.Byte(static_cast<uint8_t>(o_.lowerCaseTags ? AsciiLower(c) : c));
        out.at[tag + ".size"] = Here();
        open_.push_back(tag);
        return Long(0);
    }
    // The chunk's child count; a chunk without children ends there.
    Framer& Children(int32_t n) {
        out.at[open_.back() + ".children"] = Here();
        Long(n);
        return n == 0 ? End() : *this;
    }
    Framer& End() {
        const size_t sizeAt = out.at[open_.back() + ".size"];
        img.PatchLong(sizeAt, static_cast<int32_t>(Here() - sizeAt - 4));
        open_.pop_back();
        return *this;
    }
    // Names the offset of the next field (the first one given a name keeps it).
    Framer& Mark(const std::string& name) {
        out.at.try_emplace(name, Here());
        return *this;
    }

    Framer& Version() {
        for (uint8_t b : o_.version) img.Byte(b);
        return *this;
    }
    Framer& Long(int32_t v) { return Chained(img.Long(v)); }
    Framer& Count(int32_t n) { return Long(n); }  // a count, a length or a type
    Framer& Single(float v) { return Chained(img.Single(v)); }
    template <size_t N>
    Framer& Singles(const std::array<float, N>& a) {
        for (float v : a) Single(v);
        return *this;
    }
    Framer& Point(const Vec3& v) { return Single(v.x).Single(v.y).Single(v.z); }
    Framer& Byte(uint8_t b) { return Chained(img.Byte(b)); }
    Framer& Flag(bool b) { return Byte(b ? o_.trueByte : 0); }
    Framer& Reserved(size_t n) { return Chained(img.Fill(n, o_.reservedByte)); }
    // A 24-bit value after its top byte, which the saver writes 0 and the loader ignores.
    Framer& U24(int32_t v) {
        const uint32_t bits =
            uint32_t{o_.u24TopByte} << 24 | (static_cast<uint32_t>(v) & 0xFFFFFFu);
        return Long(static_cast<int32_t>(bits));
    }
    Framer& Text(std::string_view s) { return Chained(img.Text(s)); }
    // The type block's length B: the layout's value unless the options force one.
    Framer& Block(int32_t layoutLength) {
        return Long(o_.segmentBlockLength >= 0 ? o_.segmentBlockLength : layoutLength);
    }

    ByteImage img;
    FramedFile out;

  private:
    // Returns the framer after a ByteImage call, to keep the chain going.
    Framer& Chained(const ByteImage&) { return *this; }
    size_t Here() const { return img.bytes.size(); }

    const FrameOptions& o_;
    std::vector<std::string> open_;
};

// Walks the same layout as the framer and gives every value field a value of
// its own, the awkward ones included (NaNs with payloads, negative zero,
// subnormals, extreme Longs). Counts, types, texts and sizes stay as set.
class Filler {
  public:
    Filler& Long(int32_t& v) { return Set(v, static_cast<int32_t>(0x81020304u * ++n_ + 17u)); }
    Filler& U24(int32_t& v) { return Set(v, static_cast<int32_t>((0x10F0Du * ++n_) & 0xFFFFFFu)); }
    Filler& Byte(uint8_t& v) { return Set(v, static_cast<uint8_t>(0x81u + 37u * ++n_)); }
    // Set and clear in a pattern of period 9 under which the flags of one
    // vertex, one segment block and one FUND entry differ somewhere.
    Filler& Flag(bool& v) { return Set(v, 5 * ++flags_ % 9 < 5); }
    Filler& Single(float& v) {
        const uint32_t n = ++n_ & 0x3FFFFFu;
        // A quiet NaN with a payload, a signalling one with the sign set,
        // negative zero and a subnormal, in turn at every odd step from 3 of 11.
        const uint32_t awkward[] = {0x7FC00000u | n, 0xFF800001u + n, 0x80000000u, n};
        const uint32_t k = n_ % 11;
        if (k >= 3 && k % 2 == 1) return Set(v, std::bit_cast<float>(awkward[(k - 3) / 2]));
        return Set(v, static_cast<float>(n_) * (n_ % 2 ? -0.375f : 1.25f) + 0.0625f);
    }
    template <size_t N>
    Filler& Singles(std::array<float, N>& a) {
        for (float& v : a) Single(v);
        return *this;
    }
    Filler& Point(Vec3& v) { return Single(v.x).Single(v.y).Single(v.z); }
    // Counts, texts and the file's structure: as the builder set them.
    Filler& Count(int32_t) { return *this; }
    Filler& Text(std::string_view) { return *this; }
    Filler& Begin(const std::string&) { return *this; }
    Filler& Children(int32_t) { return *this; }
    Filler& End() { return *this; }
    Filler& Mark(const std::string&) { return *this; }
    Filler& Version() { return *this; }
    Filler& Reserved(size_t) { return *this; }
    Filler& Block(int32_t) { return *this; }

  private:
    template <class T>
    Filler& Set(T& field, T v) {
        field = v;
        return *this;
    }
    uint32_t n_ = 0, flags_ = 0;
};

// One segment: the 33-byte fixed part, then B and the block of types 0 to 4.
// Offsets in the comments count from the first byte after B.
template <class F, class S>
void Segment(F& f, S& s) {
    f.Count(s.Type).Flag(s.FlagA).U24(s.Val24[0]).U24(s.Val24[1]).U24(s.Val24[2]);
    f.Flag(s.FlagB).Reserved(15);
    if (s.Type == 0) f.Block(0);
    if (s.Type == 1) {
        auto& b = s.Type1;
        f.Block(126).Singles(b.Field1to4);                      // 0: fields 1-4
        f.Byte(b.Field7).Byte(b.Field8).Flag(b.Field5);         // 16, 17, 18
        f.Byte(b.Field9).Single(b.Field6).Reserved(4);          // 19, 20, 24
        f.Flag(b.Field14).Single(b.Field15).Reserved(4);        // 28, 29, 33
        f.Singles(b.Field16to17).Reserved(4);                   // 37, 45
        f.Flag(b.Field10).Singles(b.Field11to13).Reserved(64);  // 49, 50, 62
    }
    if (s.Type == 2) {
        auto& b = s.Type2;
        f.Block(36).Reserved(3).Byte(b.Field4).Singles(b.Field1to3).Reserved(4);
        f.Flag(b.Field5).Flag(b.Field6).Reserved(14);
    }
    if (s.Type == 3) {
        auto& b = s.Type3;
        f.Block(28).Singles(b.Field1to3).Reserved(3).Byte(b.Field4);
        f.Flag(b.Field5).Flag(b.Field6).Reserved(10);
    }
    if (s.Type == 4) {
        auto& b = s.Type4;
        f.Block(50).Singles(b.Field3to5).Reserved(4).Single(b.Field7to10[3]);       // 0, 12, 16
        f.Flag(b.Field1).Flag(b.Field6);                                            // 20, 21
        f.Single(b.Field7to10[0]).Single(b.Field7to10[1]).Single(b.Field7to10[2]);  // 22
        f.Flag(b.Field11).Flag(b.Field12).Flag(b.Field2).Reserved(13);              // 34 .. 37
    }
}

size_t Entries(int32_t count) {
    return static_cast<size_t>(std::max(count, 0));
}

// The shape most chunks share: 16 reserved, the entry count, the entries,
// 16 reserved, the child count.
template <class F, class Items, class Fn>
void ListChunk(F& f, const std::string& tag, int32_t count, Items& items, int32_t children,
               Fn&& entry) {
    f.Begin(tag).Reserved(16).Count(count);
    for (size_t i = 0; i < Entries(count); ++i) entry(items[i]);
    f.Reserved(16).Children(children);
}

// Every chunk and field of `t` in file order, for the framer or the filler
// (T is const TrackData for the one and TrackData for the other).
template <class F, class T>
void Walk(F& f, T& t) {
    f.Begin("CORV").Version().Reserved(16).Children(t.Tera.Present ? 4 : 3);

    auto& trck = t.Trck;
    f.Begin("TRCK").Long(trck.Value1).Count(trck.EntryCount).Long(trck.Value2);
    for (size_t i = 0; i < Entries(trck.EntryCount); ++i) {
        auto& e = trck.Entries[i];
        f.Flag(e.Flag).Reserved(7).Mark("TRCK.name").Text(e.Name);
        for (auto& v : e.Val24) f.U24(v);
    }
    for (auto& v : trck.Val24) f.U24(v);
    f.Reserved(16).Children(4);

    f.Begin("INFO").Reserved(16).Mark("INFO.length").Text(t.Info.Text).Children(0);
    ListChunk(f, "BEZR", t.Bezr.VertexCount, t.Bezr.Vertices, 0, [&](auto& v) {
        f.Point(v.Pos).Point(v.CtrlIn).Point(v.CtrlOut).Single(v.Roll);
        f.Flag(v.FlagA).Flag(v.FlagC).Flag(v.RelativeRoll).Reserved(17);
    });
    auto& segm = t.Segm;
    f.Begin("SEGM").Mark("SEGM.count").Count(segm.SegmentCount).Flag(segm.Flag).Reserved(16);
    for (size_t i = 0; i < Entries(segm.SegmentCount); ++i) Segment(f, segm.Segments[i]);
    f.Reserved(16).Children(0);

    f.Begin("SUPP").Reserved(32).Children(5);
    ListChunk(f, "FUND", t.Fund.Count, t.Fund.Items, 0, [&](auto& e) {
        f.Flag(e.Flag1).Single(e.Value1).Flag(e.Flag2).Single(e.Value2);
        f.Reserved(6).Point(e.Pos).Reserved(64);
    });
    ListChunk(f, "RASC", t.Rasc.Count, t.Rasc.Items, 0, [&](auto& e) {
        f.Mark("RASC.items").Count(e.Count);
        for (size_t k = 0; k < Entries(e.Count); ++k) {
            f.Long(e.Items[k].Value1).Single(e.Items[k].Value2).Reserved(16);
        }
    });
    ListChunk(f, "FREN", t.Fren.Count, t.Fren.Items, 0, [&](auto& p) { f.Point(p).Reserved(16); });
    ListChunk(f, "TUBE", t.Tube.Count, t.Tube.Items, 0, [&](auto& e) {
        f.Long(e.Value1).Long(e.Value3).Long(e.Value2).Reserved(4);
        f.Long(e.Value4).Long(e.Value6).Long(e.Value5).Reserved(4);
        f.Long(e.Value7).Long(e.Value8).Single(e.Value9).Reserved(4);
    });
    ListChunk(f, "CATW", t.Catw.Count, t.Catw.Items, 0, [&](auto& e) {
        f.Long(e.Value1).Long(e.Value2).Long(e.Value3).Long(e.Value4).Long(e.Value5);
        f.Long(e.Value6).Mark("CATW.extra").Count(e.ExtraLength);
        for (auto& b : e.Extra) f.Byte(b);
    });
    f.End().End();  // SUPP, TRCK

    ListChunk(f, "SCEN", t.Scen.Count, t.Scen.Items, 1,
              [&](auto& e) { f.Point(e.Pos).Long(e.Value2).Single(e.Value1).Reserved(44); });
    ListChunk(f, "SCOB", t.Scob.Count, t.Scob.Items, 0, [&](auto& e) {
        f.Mark("SCOB.name2").Text(e.Name2).Text(e.Name1);
        for (size_t k : {0u, 1u, 2u, 9u, 3u, 4u, 5u, 10u, 6u, 7u, 8u, 11u, 12u, 13u, 14u})
            f.Single(e.Values[k]);
        f.Reserved(20);
    });
    f.End();  // SCEN

    if (t.Tera.Present) {
        auto& c = t.Tera;
        f.Begin("TERA").Mark("TERA.columns").Count(c.Columns).Mark("TERA.rows").Count(c.Rows);
        f.Single(c.Value1).Single(c.Value2).Text(c.Text1).Single(c.Value3).Text(c.Text2);
        f.Single(c.Value4).Flag(c.Flag).Reserved(4).Text(c.Text3).Single(c.Value5);
        f.Byte(c.ByteValue).Reserved(15);
        for (size_t cell = 0; cell < Entries(c.Rows) * Entries(c.Columns); ++cell) {
            f.Single(c.Grid[cell]);  // row by row
        }
        f.Reserved(16).Children(0);
    }

    f.Begin("ENVC").Reserved(16).Mark("ENVC.length1").Text(t.Envc.Text1).Text(t.Envc.Text2);
    f.Reserved(16).Children(0).End();  // ENVC, CORV
}

// Sets `count` to n and gives `items` n + 1 entries, as a load does.
template <class T>
void Sized(int32_t& count, std::vector<T>& items, int32_t n) {
    count = n;
    items.assign(static_cast<size_t>(n) + 1, T{});
}

}  // namespace

FramedFile FrameByHand(const TrackData& t, const FrameOptions& options) {
    Framer f(options);
    Walk(f, t);
    f.out.bytes = std::move(f.img.bytes);
    return f.out;
}

TrackData MakeFullTrack() {
    TrackData t;
    t.Header.Version = {1, 2, 0, 0};
    // Names and texts of length 0 and 1, and bytes outside ASCII.
    Sized(t.Trck.EntryCount, t.Trck.Entries, 3);
    t.Trck.Entries[1].Name = "A";
    t.Trck.Entries[2].Name = "Lift \xE9\xFF";
    t.Info.Text = std::string("Made by the track builder\x01\xFE", 27);
    Sized(t.Bezr.VertexCount, t.Bezr.Vertices, 6);
    // All five typed segments, a type with no block (7) and a negative one.
    Sized(t.Segm.SegmentCount, t.Segm.Segments, 7);
    const int32_t types[] = {0, 1, 2, 3, 4, 7, -2};
    for (size_t i = 0; i < 7; ++i) t.Segm.Segments[i].Type = types[i];
    Sized(t.Fund.Count, t.Fund.Items, 2);
    // RASC item counts of 2, 0, -3 (carried, no items) and 1.
    Sized(t.Rasc.Count, t.Rasc.Items, 4);
    Sized(t.Rasc.Items[0].Count, t.Rasc.Items[0].Items, 2);
    t.Rasc.Items[2].Count = -3;
    Sized(t.Rasc.Items[3].Count, t.Rasc.Items[3].Items, 1);
    Sized(t.Fren.Count, t.Fren.Items, 3);
    Sized(t.Tube.Count, t.Tube.Items, 2);
    // CATW extra lengths 12, 0 and 1.
    Sized(t.Catw.Count, t.Catw.Items, 3);
    t.Catw.Items[0].Extra.resize(12);
    t.Catw.Items[2].Extra.resize(1);
    for (auto& e : t.Catw.Items) e.ExtraLength = static_cast<int32_t>(e.Extra.size());
    Sized(t.Scen.Count, t.Scen.Items, 2);
    // SCOB name pairs with lengths 0 and 1 on either side.
    Sized(t.Scob.Count, t.Scob.Items, 3);
    t.Scob.Items[0].Name2 = "B";
    t.Scob.Items[1].Name1 = "Tree one";
    t.Scob.Items[2] = {"x", "yz", {}};
    TeraChunk& g = t.Tera;
    g.Present = true;
    g.Columns = 3;
    g.Rows = 2;
    g.Grid.assign(6, 0.0f);
    g.Text2 = "T";
    g.Text3 = "grass.bmp";
    t.Envc.Text1 = "sky_dusk";
    t.Envc.Text2 = "E";
    Filler filler;
    Walk(filler, t);
    return t;
}

TrackData MakeTrackFromVertices(std::span<const TrackVertex> vertices) {
    TrackData t;
    const auto n = static_cast<int32_t>(vertices.size());
    Sized(t.Bezr.VertexCount, t.Bezr.Vertices, n);
    std::copy(vertices.begin(), vertices.end(), t.Bezr.Vertices.begin());
    Sized(t.Segm.SegmentCount, t.Segm.Segments, n > 1 ? n - 1 : 0);
    return t;
}

TrackData MakeLargeTrack(int32_t columns, int32_t rows, int32_t scenery, int32_t vertices) {
    TrackData t;
    Sized(t.Bezr.VertexCount, t.Bezr.Vertices, vertices);
    Sized(t.Segm.SegmentCount, t.Segm.Segments, vertices > 1 ? vertices - 1 : 0);
    Sized(t.Scen.Count, t.Scen.Items, scenery);
    t.Tera.Present = true;
    t.Tera.Columns = columns;
    t.Tera.Rows = rows;
    t.Tera.Grid.resize(static_cast<size_t>(columns) * static_cast<size_t>(rows));
    Filler filler;
    Walk(filler, t);
    return t;
}

std::vector<HostileFile> HostileFiles() {
    const FramedFile full = FrameByHand(MakeFullTrack());
    // A copy of the full file with the Longs at the named fields replaced.
    using Patches = std::initializer_list<std::pair<const char*, int32_t>>;
    const auto patched = [&full](Patches patches) {
        ByteImage img{full.bytes};
        for (auto [field, v] : patches) img.PatchLong(full.at.at(field), v);
        return img.bytes;
    };
    const auto header = [](int32_t children) {
        return ByteImage().Tag("CORV").Long(0).Zeros(20).Long(children);
    };
    // Cut short `by` bytes after the named field.
    const auto cut = [&](const char* field, size_t by) {
        return std::vector<uint8_t>(full.bytes.begin(),
                                    full.bytes.begin() + std::ptrdiff_t(full.at.at(field) + by));
    };
    const int32_t kMax = 0x7FFFFFFF;
    ByteImage nested = header(kMax);
    for (int i = 0; i < 4; ++i) nested.Tag("SUPP").Long(36).Zeros(32).Long(kMax);
    return {
        {"two billion vertices in a small file",
         header(1).Tag("BEZR").Long(0).Zeros(16).Long(2000000000).Zeros(44).bytes,
         "2000000000 vertices"},
        {"negative segment count", patched({{"SEGM.count", -kMax - 1}}), "negative count"},
        {"RASC item count past the end", patched({{"RASC.items", 100000000}}), "RASC items"},
        {"CATW extra length past the end", patched({{"CATW.extra", 1 << 30}}), "extra bytes"},
        {"negative SCOB name length", patched({{"SCOB.name2", -1}}), "negative string"},
        // 65536 x 65536 cells overflow 32 bits to 0; kMax x kMax cells of 4 bytes overflow 64 bits.
        {"terrain grid overflowing 32 bits",
         patched({{"TERA.columns", 65536}, {"TERA.rows", 65536}}), "terrain cells"},
        {"terrain grid overflowing 64 bits", patched({{"TERA.columns", kMax}, {"TERA.rows", kMax}}),
         "terrain cells"},
        {"terrain grid of negative size", patched({{"TERA.columns", -3}, {"TERA.rows", -2}}),
         "negative terrain grid"},
        // Promised chunks, nested, overflow a 32-bit count.
        {"nested child counts never satisfied", nested.bytes, "more chunk(s)"},
        {"unknown chunk with a negative size", header(2).Tag("JUNK").Long(-8).Zeros(8).bytes,
         "negative chunk size"},
        {"unknown chunk running past the end", header(1).Tag("JUNK").Long(1000).Zeros(10).bytes,
         "runs past the end"},
        {"file cut inside the INFO text", cut("INFO.length", 9),
         "truncated in the INFO chunk at byte " + std::to_string(full.at.at("INFO.length") + 4)},
        {"file cut inside BEZR", cut("BEZR", 100),
         "damaged BEZR chunk (at byte " + std::to_string(full.at.at("BEZR")) +
             "): 6 vertices need at least 360 bytes but only 72 remain"},
    };
}

}  // namespace cvqrn::testsupport
