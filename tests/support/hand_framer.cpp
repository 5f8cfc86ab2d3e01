// Track file images framed by hand, field by field, from the layout tables.
// Nothing here calls the track file code: sizes are measured from the bytes
// written, so these images check the writers, the readers and the size
// formulas independently.
#include <algorithm>

#include "tests/support/track_builder.h"

namespace cvqrn::testsupport {

namespace {

// Appends fields, chainable so that one line reads like one row of a layout table.
class Framer {
  public:
    explicit Framer(const FrameOptions& options) : o_(options) {}

    // Starts a chunk: tag and a Size to be patched by End.
    Framer& Begin(const std::string& tag) {
        out.at[tag] = Here();
        for (char c : tag) img.Byte(static_cast<uint8_t>(o_.lowerCaseTags ? c - 'A' + 'a' : c));
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

    Framer& Long(int32_t v) { return Chained(img.Long(v)); }
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

// One segment: the 33-byte fixed part, then B and the block of types 0 to 4.
// Offsets in the comments count from the first byte after B.
void FrameSegment(Framer& f, const TrackSegment& s) {
    f.Long(s.Type).Flag(s.FlagA).U24(s.Val24[0]).U24(s.Val24[1]).U24(s.Val24[2]);
    f.Flag(s.FlagB).Reserved(15);
    if (s.Type == 0) f.Block(0);
    if (s.Type == 1) {
        const auto& b = s.Type1;
        f.Block(126).Singles(b.Field1to4);                      // 0: fields 1-4
        f.Byte(b.Field7).Byte(b.Field8).Flag(b.Field5);         // 16, 17, 18
        f.Byte(b.Field9).Single(b.Field6).Reserved(4);          // 19, 20, 24
        f.Flag(b.Field14).Single(b.Field15).Reserved(4);        // 28, 29, 33
        f.Singles(b.Field16to17).Reserved(4);                   // 37, 45
        f.Flag(b.Field10).Singles(b.Field11to13).Reserved(64);  // 49, 50, 62
    }
    if (s.Type == 2) {
        const auto& b = s.Type2;
        f.Block(36).Reserved(3).Byte(b.Field4).Singles(b.Field1to3).Reserved(4);
        f.Flag(b.Field5).Flag(b.Field6).Reserved(14);
    }
    if (s.Type == 3) {
        const auto& b = s.Type3;
        f.Block(28).Singles(b.Field1to3).Reserved(3).Byte(b.Field4);
        f.Flag(b.Field5).Flag(b.Field6).Reserved(10);
    }
    if (s.Type == 4) {
        const auto& b = s.Type4;
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
template <class Items, class Fn>
void ListChunk(Framer& f, const std::string& tag, int32_t count, const Items& items,
               int32_t children, Fn&& entry) {
    f.Begin(tag).Reserved(16).Mark(tag + ".count").Long(count);
    for (size_t i = 0; i < Entries(count); ++i) entry(items[i]);
    f.Reserved(16).Children(children);
}

}  // namespace

FramedFile FrameByHand(const TrackData& t, const FrameOptions& options) {
    Framer f(options);
    f.Begin("CORV");
    for (uint8_t b : options.version) f.Byte(b);
    f.Reserved(16).Children(t.Tera.Present ? 4 : 3);

    const TrckChunk& trck = t.Trck;
    f.Begin("TRCK").Long(trck.Value1).Mark("TRCK.count").Long(trck.EntryCount).Long(trck.Value2);
    for (size_t i = 0; i < Entries(trck.EntryCount); ++i) {
        const TrckEntry& e = trck.Entries[i];
        f.Flag(e.Flag).Reserved(7).Mark("TRCK.name").Text(e.Name);
        for (int32_t v : e.Val24) f.U24(v);
    }
    for (int32_t v : trck.Val24) f.U24(v);
    f.Reserved(16).Children(4);

    f.Begin("INFO").Reserved(16).Mark("INFO.length").Text(t.Info.Text).Children(0);
    ListChunk(f, "BEZR", t.Bezr.VertexCount, t.Bezr.Vertices, 0, [&](const TrackVertex& v) {
        f.Point(v.Pos).Point(v.CtrlIn).Point(v.CtrlOut).Single(v.Roll);
        f.Flag(v.FlagA).Flag(v.FlagC).Flag(v.RelativeRoll).Reserved(17);
    });
    const SegmChunk& segm = t.Segm;
    f.Begin("SEGM").Mark("SEGM.count").Long(segm.SegmentCount).Flag(segm.Flag).Reserved(16);
    for (size_t i = 0; i < Entries(segm.SegmentCount); ++i) FrameSegment(f, segm.Segments[i]);
    f.Reserved(16).Children(0);

    f.Begin("SUPP").Reserved(32).Children(5);
    ListChunk(f, "FUND", t.Fund.Count, t.Fund.Items, 0, [&](const FundEntry& e) {
        f.Flag(e.Flag1).Single(e.Value1).Flag(e.Flag2).Single(e.Value2);
        f.Reserved(6).Point(e.Pos).Reserved(64);
    });
    ListChunk(f, "RASC", t.Rasc.Count, t.Rasc.Items, 0, [&](const RascEntry& e) {
        f.Mark("RASC.items").Long(e.Count);
        for (size_t k = 0; k < Entries(e.Count); ++k) {
            f.Long(e.Items[k].Value1).Single(e.Items[k].Value2).Reserved(16);
        }
    });
    ListChunk(f, "FREN", t.Fren.Count, t.Fren.Items, 0,
              [&](const Vec3& p) { f.Point(p).Reserved(16); });
    ListChunk(f, "TUBE", t.Tube.Count, t.Tube.Items, 0, [&](const TubeEntry& e) {
        f.Long(e.Value1).Long(e.Value3).Long(e.Value2).Reserved(4);
        f.Long(e.Value4).Long(e.Value6).Long(e.Value5).Reserved(4);
        f.Long(e.Value7).Long(e.Value8).Single(e.Value9).Reserved(4);
    });
    ListChunk(f, "CATW", t.Catw.Count, t.Catw.Items, 0, [&](const CatwEntry& e) {
        f.Long(e.Value1).Long(e.Value2).Long(e.Value3).Long(e.Value4).Long(e.Value5);
        f.Long(e.Value6).Mark("CATW.extra").Long(e.ExtraLength);
        f.img.bytes.insert(f.img.bytes.end(), e.Extra.begin(), e.Extra.end());
    });
    f.End().End();  // SUPP, TRCK

    ListChunk(f, "SCEN", t.Scen.Count, t.Scen.Items, 1, [&](const ScenEntry& e) {
        f.Point(e.Pos).Long(e.Value2).Single(e.Value1).Reserved(44);
    });
    ListChunk(f, "SCOB", t.Scob.Count, t.Scob.Items, 0, [&](const ScobEntry& e) {
        f.Mark("SCOB.name2").Text(e.Name2).Text(e.Name1);
        for (size_t k : {0u, 1u, 2u, 9u, 3u, 4u, 5u, 10u, 6u, 7u, 8u, 11u, 12u, 13u, 14u})
            f.Single(e.Values[k]);
        f.Reserved(20);
    });
    f.End();  // SCEN

    if (t.Tera.Present) {
        const TeraChunk& c = t.Tera;
        f.Begin("TERA").Mark("TERA.columns").Long(c.Columns).Mark("TERA.rows").Long(c.Rows);
        f.Single(c.Value1).Single(c.Value2).Text(c.Text1).Single(c.Value3).Text(c.Text2);
        f.Single(c.Value4).Flag(c.Flag).Reserved(4).Text(c.Text3).Single(c.Value5);
        f.Byte(c.ByteValue).Reserved(15);
        for (size_t row = 0; row < Entries(c.Rows); ++row) {
            for (size_t col = 0; col < Entries(c.Columns); ++col) {
                f.Single(c.Grid[row * Entries(c.Columns) + col]);
            }
        }
        f.Reserved(16).Children(0);
    }

    f.Begin("ENVC").Reserved(16).Mark("ENVC.length1").Text(t.Envc.Text1).Text(t.Envc.Text2);
    f.Reserved(16).Children(0).End();  // ENVC, CORV

    f.out.bytes = std::move(f.img.bytes);
    return f.out;
}

std::vector<HostileFile> HostileFiles() {
    std::vector<HostileFile> files;
    const FramedFile full = FrameByHand(MakeFullTrack());
    // A copy of the full file (or another) with the Longs at the named fields replaced.
    using Patches = std::initializer_list<std::pair<const char*, int32_t>>;
    const auto patched = [&](Patches patches, const FramedFile& base) {
        ByteImage img{base.bytes};
        for (auto [field, v] : patches) img.PatchLong(base.at.at(field), v);
        return img.bytes;
    };
    const auto add = [&](std::string name, std::vector<uint8_t> bytes, std::string reason) {
        files.push_back({std::move(name), std::move(bytes), std::move(reason)});
    };
    const auto header = [](int32_t children) {
        return ByteImage().Tag("CORV").Long(0).Zeros(20).Long(children);
    };
    const int32_t kMax = 0x7FFFFFFF;

    add("empty file", {}, "too short");
    add("wrong magic", ByteImage().Tag("CORX").Long(24).Zeros(24).bytes, "not a track file");
    add("two billion vertices in a small file",
        header(1).Tag("BEZR").Long(0).Zeros(16).Long(2000000000).Zeros(44).bytes,
        "2000000000 vertices");
    add("negative segment count", patched({{"SEGM.count", -kMax - 1}}, full), "negative count");
    add("RASC item count past the end", patched({{"RASC.items", 100000000}}, full), "RASC items");
    add("CATW extra length past the end", patched({{"CATW.extra", 1 << 30}}, full), "extra bytes");
    add("negative SCOB name length", patched({{"SCOB.name2", -1}}, full), "negative string");
    // 65536 x 65536 cells overflow 32 bits to 0; kMax x kMax cells of 4 bytes overflow 64 bits.
    add("terrain grid overflowing 32 bits",
        patched({{"TERA.columns", 65536}, {"TERA.rows", 65536}}, full), "terrain cells");
    add("terrain grid overflowing 64 bits",
        patched({{"TERA.columns", kMax}, {"TERA.rows", kMax}}, full), "terrain cells");
    add("terrain grid of negative size", patched({{"TERA.columns", -3}, {"TERA.rows", -2}}, full),
        "negative terrain grid");
    // Promised chunks overflow a 32-bit count, at the top and nested.
    add("header child count far too large",
        patched({{"CORV.children", kMax}}, FrameByHand(TrackData{})), "more chunk(s)");
    ByteImage nested = header(kMax);
    for (int i = 0; i < 4; ++i) nested.Tag("SUPP").Long(36).Zeros(32).Long(kMax);
    add("nested child counts never satisfied", nested.bytes, "more chunk(s)");
    add("unknown chunk with a negative size", header(2).Tag("JUNK").Long(-8).Zeros(8).bytes,
        "negative chunk size");
    add("unknown chunk running past the end", header(1).Tag("JUNK").Long(1000).Zeros(10).bytes,
        "runs past the end");
    // Cut short: inside the INFO text, and inside the BEZR vertices.
    const auto cut = [&](const char* field, size_t by) {
        return std::vector<uint8_t>(full.bytes.begin(),
                                    full.bytes.begin() + std::ptrdiff_t(full.at.at(field) + by));
    };
    const size_t text = full.at.at("INFO.length") + 4;
    add("file cut inside the INFO text", cut("INFO.length", 9),
        "truncated in the INFO chunk at byte " + std::to_string(text));
    add("file cut inside BEZR", cut("BEZR", 100),
        "damaged BEZR chunk (at byte " + std::to_string(full.at.at("BEZR")) +
            "): 6 vertices need at least 360 bytes but only 72 remain");
    return files;
}

}  // namespace cvqrn::testsupport
