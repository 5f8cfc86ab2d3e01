// Track file images framed by hand, field by field, from the layout tables.
// Nothing here calls the track file code: sizes are measured from the bytes
// written, so these images check the writers, the readers and the size
// formulas independently.
#include <algorithm>

#include "tests/support/track_builder.h"

namespace cvqrn::testsupport {

namespace {

class Framer {
  public:
    explicit Framer(const FrameOptions& options) : o_(options) {}

    // Starts a chunk: tag and a Size to be patched by End.
    void Begin(std::string tag) {
        out.at[tag] = img.Size();
        std::string written = tag;
        if (o_.lowerCaseTags) {
            std::transform(written.begin(), written.end(), written.begin(),
                           [](char c) { return static_cast<char>(c - 'A' + 'a'); });
        }
        img.Tag(written);
        out.at[tag + ".size"] = img.Size();
        img.Long(0);
        open_.push_back(tag);
    }
    // The chunk's child count, then (after its children) End.
    void Children(int32_t n) {
        out.at[open_.back() + ".children"] = img.Size();
        img.Long(n);
    }
    void End() {
        const size_t sizeAt = out.at[open_.back() + ".size"];
        img.PatchLong(sizeAt, static_cast<int32_t>(img.Size() - sizeAt - 4));
        open_.pop_back();
    }
    void Mark(const std::string& name) { out.at.try_emplace(name, img.Size()); }

    void Flag(bool b) { img.Byte(b ? o_.trueByte : 0); }
    void Reserved(size_t n) { img.Fill(n, o_.reservedByte); }
    void U24(int32_t v) { img.U24(v, o_.u24TopByte); }
    void Point(const Vec3& v) { img.Single(v.x).Single(v.y).Single(v.z); }
    void Block(int32_t layoutLength) {
        img.Long(o_.segmentBlockLength >= 0 ? o_.segmentBlockLength : layoutLength);
    }

    ByteImage img;
    FramedFile out;

  private:
    const FrameOptions& o_;
    std::vector<std::string> open_;
};

void FrameSegment(Framer& f, const TrackSegment& s) {
    ByteImage& img = f.img;
    img.Long(s.Type);
    f.Flag(s.FlagA);
    for (int32_t v : s.Val24) f.U24(v);
    f.Flag(s.FlagB);
    f.Reserved(15);
    if (s.Type == 0) {
        f.Block(0);
    } else if (s.Type == 1) {
        const auto& b = s.Type1;
        f.Block(126);
        for (float v : b.Field1to4) img.Single(v);              // 0
        img.Byte(b.Field7).Byte(b.Field8);                      // 16, 17
        f.Flag(b.Field5);                                       // 18
        img.Byte(b.Field9);                                     // 19
        img.Single(b.Field6);                                   // 20
        f.Reserved(4);                                          // 24
        f.Flag(b.Field14);                                      // 28
        img.Single(b.Field15);                                  // 29
        f.Reserved(4);                                          // 33
        img.Single(b.Field16to17[0]).Single(b.Field16to17[1]);  // 37
        f.Reserved(4);                                          // 45
        f.Flag(b.Field10);                                      // 49
        for (float v : b.Field11to13) img.Single(v);            // 50
        f.Reserved(64);                                         // 62
    } else if (s.Type == 2) {
        const auto& b = s.Type2;
        f.Block(36);
        f.Reserved(3);
        img.Byte(b.Field4);
        for (float v : b.Field1to3) img.Single(v);
        f.Reserved(4);
        f.Flag(b.Field5);
        f.Flag(b.Field6);
        f.Reserved(14);
    } else if (s.Type == 3) {
        const auto& b = s.Type3;
        f.Block(28);
        for (float v : b.Field1to3) img.Single(v);
        f.Reserved(3);
        img.Byte(b.Field4);
        f.Flag(b.Field5);
        f.Flag(b.Field6);
        f.Reserved(10);
    } else if (s.Type == 4) {
        const auto& b = s.Type4;
        f.Block(50);
        for (float v : b.Field3to5) img.Single(v);  // 0
        f.Reserved(4);                              // 12
        img.Single(b.Field7to10[3]);                // 16: field 10
        f.Flag(b.Field1);                           // 20
        f.Flag(b.Field6);                           // 21
        img.Single(b.Field7to10[0]).Single(b.Field7to10[1]).Single(b.Field7to10[2]);  // 22
        f.Flag(b.Field11);                                                            // 34
        f.Flag(b.Field12);                                                            // 35
        f.Flag(b.Field2);                                                             // 36
        f.Reserved(13);                                                               // 37
    }
}

}  // namespace

FramedFile FrameByHand(const TrackData& t, const FrameOptions& options) {
    Framer f(options);
    ByteImage& img = f.img;
    const auto n = [](int32_t count) { return static_cast<size_t>(std::max(count, 0)); };

    f.Begin("CORV");
    for (uint8_t b : options.version) img.Byte(b);
    f.Reserved(16);
    f.Children(t.Tera.Present ? 4 : 3);

    f.Begin("TRCK");
    img.Long(t.Trck.Value1);
    f.Mark("TRCK.count");
    img.Long(t.Trck.EntryCount);
    img.Long(t.Trck.Value2);
    for (size_t i = 0; i < n(t.Trck.EntryCount); ++i) {
        const TrckEntry& e = t.Trck.Entries[i];
        f.Flag(e.Flag);
        f.Reserved(7);
        f.Mark("TRCK.name");
        img.Text(e.Name);
        for (int32_t v : e.Val24) f.U24(v);
    }
    for (int32_t v : t.Trck.Val24) f.U24(v);
    f.Reserved(16);
    f.Children(4);

    f.Begin("INFO");
    f.Reserved(16);
    f.Mark("INFO.length");
    img.Text(t.Info.Text);
    f.Children(0);
    f.End();

    f.Begin("BEZR");
    f.Reserved(16);
    f.Mark("BEZR.count");
    img.Long(t.Bezr.VertexCount);
    for (size_t i = 0; i < n(t.Bezr.VertexCount); ++i) {
        const TrackVertex& v = t.Bezr.Vertices[i];
        f.Point(v.Pos);
        f.Point(v.CtrlIn);
        f.Point(v.CtrlOut);
        img.Single(v.Roll);
        f.Flag(v.FlagA);
        f.Flag(v.FlagC);
        f.Flag(v.RelativeRoll);
        f.Reserved(17);
    }
    f.Reserved(16);
    f.Children(0);
    f.End();

    f.Begin("SEGM");
    f.Mark("SEGM.count");
    img.Long(t.Segm.SegmentCount);
    f.Flag(t.Segm.Flag);
    f.Reserved(16);
    for (size_t i = 0; i < n(t.Segm.SegmentCount); ++i) {
        f.Mark("SEGM.type");
        FrameSegment(f, t.Segm.Segments[i]);
    }
    f.Reserved(16);
    f.Children(0);
    f.End();

    f.Begin("SUPP");
    f.Reserved(32);
    f.Children(5);

    f.Begin("FUND");
    f.Reserved(16);
    f.Mark("FUND.count");
    img.Long(t.Fund.Count);
    for (size_t i = 0; i < n(t.Fund.Count); ++i) {
        const FundEntry& e = t.Fund.Items[i];
        f.Flag(e.Flag1);
        img.Single(e.Value1);
        f.Flag(e.Flag2);
        img.Single(e.Value2);
        f.Reserved(6);
        f.Point(e.Pos);
        f.Reserved(64);
    }
    f.Reserved(16);
    f.Children(0);
    f.End();

    f.Begin("RASC");
    f.Reserved(16);
    f.Mark("RASC.count");
    img.Long(t.Rasc.Count);
    for (size_t i = 0; i < n(t.Rasc.Count); ++i) {
        const RascEntry& e = t.Rasc.Items[i];
        f.Mark("RASC.items");
        img.Long(e.Count);
        for (size_t k = 0; k < n(e.Count); ++k) {
            img.Long(e.Items[k].Value1).Single(e.Items[k].Value2);
            f.Reserved(16);
        }
    }
    f.Reserved(16);
    f.Children(0);
    f.End();

    f.Begin("FREN");
    f.Reserved(16);
    f.Mark("FREN.count");
    img.Long(t.Fren.Count);
    for (size_t i = 0; i < n(t.Fren.Count); ++i) {
        f.Point(t.Fren.Items[i]);
        f.Reserved(16);
    }
    f.Reserved(16);
    f.Children(0);
    f.End();

    f.Begin("TUBE");
    f.Reserved(16);
    f.Mark("TUBE.count");
    img.Long(t.Tube.Count);
    for (size_t i = 0; i < n(t.Tube.Count); ++i) {
        const TubeEntry& e = t.Tube.Items[i];
        img.Long(e.Value1).Long(e.Value3).Long(e.Value2);
        f.Reserved(4);
        img.Long(e.Value4).Long(e.Value6).Long(e.Value5);
        f.Reserved(4);
        img.Long(e.Value7).Long(e.Value8).Single(e.Value9);
        f.Reserved(4);
    }
    f.Reserved(16);
    f.Children(0);
    f.End();

    f.Begin("CATW");
    f.Reserved(16);
    f.Mark("CATW.count");
    img.Long(t.Catw.Count);
    for (size_t i = 0; i < n(t.Catw.Count); ++i) {
        const CatwEntry& e = t.Catw.Items[i];
        img.Long(e.Value1).Long(e.Value2).Long(e.Value3).Long(e.Value4).Long(e.Value5).Long(
            e.Value6);
        f.Mark("CATW.extra");
        img.Long(e.ExtraLength).Bytes(e.Extra);
    }
    f.Reserved(16);
    f.Children(0);
    f.End();
    f.End();  // SUPP
    f.End();  // TRCK

    f.Begin("SCEN");
    f.Reserved(16);
    f.Mark("SCEN.count");
    img.Long(t.Scen.Count);
    for (size_t i = 0; i < n(t.Scen.Count); ++i) {
        const ScenEntry& e = t.Scen.Items[i];
        f.Point(e.Pos);
        img.Long(e.Value2).Single(e.Value1);
        f.Reserved(44);
    }
    f.Reserved(16);
    f.Children(1);

    f.Begin("SCOB");
    f.Reserved(16);
    f.Mark("SCOB.count");
    img.Long(t.Scob.Count);
    for (size_t i = 0; i < n(t.Scob.Count); ++i) {
        const ScobEntry& e = t.Scob.Items[i];
        f.Mark("SCOB.name2");
        img.Text(e.Name2).Text(e.Name1);
        for (size_t k : {0, 1, 2, 9, 3, 4, 5, 10, 6, 7, 8, 11, 12, 13, 14}) img.Single(e.Values[k]);
        f.Reserved(20);
    }
    f.Reserved(16);
    f.Children(0);
    f.End();
    f.End();  // SCEN

    if (t.Tera.Present) {
        const TeraChunk& c = t.Tera;
        f.Begin("TERA");
        f.Mark("TERA.columns");
        img.Long(c.Columns);
        f.Mark("TERA.rows");
        img.Long(c.Rows);
        img.Single(c.Value1).Single(c.Value2).Text(c.Text1).Single(c.Value3).Text(c.Text2);
        img.Single(c.Value4);
        f.Flag(c.Flag);
        f.Reserved(4);
        img.Text(c.Text3).Single(c.Value5).Byte(c.ByteValue);
        f.Reserved(15);
        for (size_t row = 0; row < n(c.Rows); ++row) {
            for (size_t col = 0; col < n(c.Columns); ++col) {
                img.Single(c.Grid[row * n(c.Columns) + col]);
            }
        }
        f.Reserved(16);
        f.Children(0);
        f.End();
    }

    f.Begin("ENVC");
    f.Reserved(16);
    f.Mark("ENVC.length1");
    img.Text(t.Envc.Text1).Text(t.Envc.Text2);
    f.Reserved(16);
    f.Children(0);
    f.End();
    f.End();  // CORV

    f.out.bytes = std::move(img.bytes);
    return f.out;
}

std::vector<HostileFile> HostileFiles() {
    std::vector<HostileFile> files;
    const FramedFile full = FrameByHand(MakeFullTrack());
    const FramedFile empty = FrameByHand(TrackData{});

    // A copy of `base` with the Long at `field` replaced.
    const auto patched = [](const FramedFile& base, const std::string& field, int32_t v) {
        ByteImage img;
        img.bytes = base.bytes;
        img.PatchLong(base.at.at(field), v);
        return img.bytes;
    };
    const auto add = [&](std::string name, std::vector<uint8_t> bytes, std::string reason) {
        files.push_back({std::move(name), std::move(bytes), std::move(reason)});
    };

    add("empty file", {}, "too short");
    add("magic only", ByteImage().Tag("CORV").bytes, "truncated in the file header");
    add("wrong magic", ByteImage().Tag("CORX").Long(24).Zeros(24).bytes, "not a track file");
    add("header promising chunks that are missing",
        ByteImage().Tag("CORV").Long(24).Zeros(20).Long(3).bytes, "more chunk(s)");
    {
        // A file of about 100 bytes whose BEZR claims two billion vertices.
        ByteImage img;
        img.Tag("CORV").Long(0).Zeros(20).Long(1);
        img.Tag("BEZR").Long(0).Zeros(16).Long(2000000000).Zeros(44);
        add("two billion vertices in a small file", img.bytes, "2000000000 vertices");
    }
    add("negative vertex count", patched(full, "BEZR.count", -1), "negative count");
    add("negative TRCK entry count", patched(full, "TRCK.count", -5), "negative count");
    add("negative segment count", patched(full, "SEGM.count", -2147483647 - 1), "negative count");
    add("segment count past the end", patched(full, "SEGM.count", 1 << 24), "segments");
    add("FUND count past the end", patched(full, "FUND.count", 0x7FFFFFFF), "FUND entries");
    add("negative RASC count", patched(full, "RASC.count", -1), "negative count");
    add("RASC item count past the end", patched(full, "RASC.items", 100000000), "RASC items");
    add("FREN count past the end", patched(full, "FREN.count", 1000000), "FREN entries");
    add("TUBE count past the end", patched(full, "TUBE.count", 999999), "TUBE entries");
    add("negative CATW extra length", patched(full, "CATW.extra", -12), "negative count");
    add("CATW extra length past the end", patched(full, "CATW.extra", 1 << 30), "extra bytes");
    add("SCEN count past the end", patched(full, "SCEN.count", 40000000), "SCEN entries");
    add("negative SCOB name length", patched(full, "SCOB.name2", -1), "negative string length");
    add("SCOB name length past the end", patched(full, "SCOB.name2", 1 << 28),
        "truncated in the SCOB");
    // 65536 x 65536 cells overflow 32 bits to 0.
    add("terrain grid overflowing 32 bits",
        patched(FramedFile{patched(full, "TERA.columns", 65536), full.at}, "TERA.rows", 65536),
        "terrain cells");
    // 2147483647 x 2147483647 cells of 4 bytes overflow 64 bits.
    add("terrain grid overflowing 64 bits",
        patched(FramedFile{patched(full, "TERA.columns", 0x7FFFFFFF), full.at}, "TERA.rows",
                0x7FFFFFFF),
        "terrain cells");
    add("terrain grid of negative size",
        patched(FramedFile{patched(full, "TERA.columns", -3), full.at}, "TERA.rows", -2),
        "negative terrain grid");
    add("header child count far too large", patched(empty, "CORV.children", 0x7FFFFFFF),
        "more chunk(s)");
    add("TRCK child count far too large", patched(full, "TRCK.children", 0x7FFFFFFF),
        "more chunk(s)");
    {
        ByteImage img;
        img.Tag("CORV").Long(0).Zeros(20).Long(2);
        img.Tag("JUNK").Long(-8).Zeros(8);
        add("unknown chunk with a negative size", img.bytes, "negative chunk size");
    }
    {
        ByteImage img;
        img.Tag("CORV").Long(0).Zeros(20).Long(1);
        img.Tag("JUNK").Long(1000).Zeros(10);
        add("unknown chunk running past the end", img.bytes, "runs past the end");
    }
    {
        // Every chunk claims more children than the file can hold.
        ByteImage img;
        img.Tag("CORV").Long(0).Zeros(20).Long(0x7FFFFFFF);
        for (int i = 0; i < 4; ++i) img.Tag("SUPP").Long(36).Zeros(32).Long(0x7FFFFFFF);
        add("nested child counts never satisfied", img.bytes, "more chunk(s)");
    }
    {
        std::vector<uint8_t> cut(
            full.bytes.begin(),
            full.bytes.begin() + static_cast<std::ptrdiff_t>(full.at.at("BEZR") + 100));
        add("file cut inside BEZR", cut, "BEZR chunk");
    }
    return files;
}

}  // namespace cvqrn::testsupport
