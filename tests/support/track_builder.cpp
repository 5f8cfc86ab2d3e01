#include "tests/support/track_builder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace cvqrn::testsupport {

// ---- ByteImage

ByteImage& ByteImage::Long(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(u >> shift));
    return *this;
}

ByteImage& ByteImage::Single(float f) {
    return Long(static_cast<int32_t>(std::bit_cast<uint32_t>(f)));
}

ByteImage& ByteImage::Chars(std::string_view s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
}

ByteImage& ByteImage::Fill(size_t n, uint8_t b) {
    bytes.insert(bytes.end(), n, b);
    return *this;
}

void ByteImage::PatchLong(size_t at, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (size_t i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(u >> (24 - 8 * i));
}

// ---- Distinctive values

namespace {

// Hands out values that differ from each other and include the awkward ones
// (NaN with payloads, negative zero, subnormals, extreme Longs).
class Distinct {
  public:
    float Single() {
        const uint32_t n = ++n_ & 0x3FFFFFu;
        // A quiet NaN with a payload, a signalling one with the sign set,
        // negative zero and a subnormal, in turn at every odd step from 3 of 11.
        const uint32_t awkward[] = {0x7FC00000u | n, 0xFF800001u + n, 0x80000000u, n};
        const uint32_t k = n_ % 11;
        if (k >= 3 && k % 2 == 1) return std::bit_cast<float>(awkward[(k - 3) / 2]);
        return static_cast<float>(n_) * (n_ % 2 ? -0.375f : 1.25f) + 0.0625f;
    }
    int32_t Long() { return static_cast<int32_t>(0x81020304u * ++n_ + 17u); }
    int32_t U24() { return static_cast<int32_t>((0x123456u + 0x10F0Du * ++n_) & 0xFFFFFFu); }
    uint8_t Byte() { return static_cast<uint8_t>(0x81u + 37u * ++n_); }
    Vec3 Point() { return {Single(), Single(), Single()}; }
    template <size_t N>
    std::array<float, N>& Singles(std::array<float, N>& a) {
        for (float& v : a) v = Single();
        return a;
    }

  private:
    uint32_t n_ = 0;
};

// Sets `count` to n and gives `items` n + 1 entries, as a load does; returns the first n.
template <class T>
std::span<T> Sized(int32_t& count, std::vector<T>& items, int32_t n) {
    count = n;
    items.assign(static_cast<size_t>(n) + 1, T{});
    return {items.data(), static_cast<size_t>(n)};
}

void FillSegment(Distinct& d, TrackSegment& s) {
    for (auto& v : s.Val24) v = d.U24();
    s.FlagA = s.Type % 2 == 0;
    s.FlagB = !s.FlagA;
    // Only the block the type selects: the others stay zero through a load.
    if (s.Type == 1) {
        auto& b = s.Type1;
        b = {d.Singles(b.Field1to4), true, d.Single(), d.Byte(), d.Byte(), d.Byte(), true};
        d.Singles(b.Field11to13);
        b.Field14 = true;
        b.Field15 = d.Single();
        d.Singles(b.Field16to17);
    } else if (s.Type == 2 || s.Type == 3) {
        auto& b = s.Type == 2 ? s.Type2 : s.Type3;
        b = {d.Singles(b.Field1to3), d.Byte(), s.Type == 2, s.Type == 3};
    } else if (s.Type == 4) {
        auto& b = s.Type4;
        b = {true, true, d.Singles(b.Field3to5), true, d.Singles(b.Field7to10), true, false};
    }
}

}  // namespace

TrackData MakeFullTrack() {
    Distinct d;
    TrackData t;
    t.Header.Version = {1, 2, 0, 0};

    t.Trck.Value1 = d.Long();
    t.Trck.Value2 = d.Long();
    const char* names[] = {"", "A", "Lift \xE9\xFF"};
    int i = 0;
    for (auto& e : Sized(t.Trck.EntryCount, t.Trck.Entries, 3)) {
        e.Flag = i != 1;
        e.Name = names[i++];
        for (auto& v : e.Val24) v = d.U24();
    }
    for (auto& v : t.Trck.Val24) v = d.U24();
    t.Info.Text = std::string("Made by the track builder\x01\xFE", 27);

    // Flag combinations that tell FlagA, FlagC and RelativeRoll apart.
    i = 0;
    for (auto& v : Sized(t.Bezr.VertexCount, t.Bezr.Vertices, 6)) {
        v = {d.Point(),   d.Point(), d.Point(), d.Single(), (i & 1) != 0, (i & 4) != 0 || i == 0,
             (i & 2) != 0};
        ++i;
    }

    // All five typed segments, a type with no block (7) and a negative one.
    const int32_t types[] = {0, 1, 2, 3, 4, 7, -2};
    t.Segm.Flag = true;
    i = 0;
    for (auto& s : Sized(t.Segm.SegmentCount, t.Segm.Segments, 7)) {
        s.Type = types[i++];
        FillSegment(d, s);
    }

    i = 0;
    for (auto& e : Sized(t.Fund.Count, t.Fund.Items, 2)) {
        e = {d.Point(), i == 0, d.Single(), i++ == 1, d.Single()};
    }
    // Item counts of 2, 0, -3 (carried, no items) and 1.
    const int32_t itemCounts[] = {2, 0, -3, 1};
    i = 0;
    for (auto& e : Sized(t.Rasc.Count, t.Rasc.Items, 4)) {
        const int32_t m = itemCounts[i++];
        if (m > 0) {
            for (auto& item : Sized(e.Count, e.Items, m)) item = {d.Long(), d.Single()};
        }
        e.Count = m;
    }
    for (auto& p : Sized(t.Fren.Count, t.Fren.Items, 3)) p = d.Point();
    for (auto& e : Sized(t.Tube.Count, t.Tube.Items, 2)) {
        e = {d.Long(), d.Long(), d.Long(), d.Long(),  d.Long(),
             d.Long(), d.Long(), d.Long(), d.Single()};
    }
    // Extra lengths 12 (with distinct bytes), 0 and 1.
    const int32_t extras[] = {12, 0, 1};
    i = 0;
    for (auto& e : Sized(t.Catw.Count, t.Catw.Items, 3)) {
        e = {d.Long(), d.Long(), d.Long(), d.Long(), d.Long(), d.Long(), extras[i++], {}};
        for (int k = 0; k < e.ExtraLength; ++k) e.Extra.push_back(d.Byte());
    }
    for (auto& e : Sized(t.Scen.Count, t.Scen.Items, 2)) e = {d.Point(), d.Single(), d.Long()};
    // Name pairs with lengths 0 and 1 on either side.
    const std::pair<const char*, const char*> scob[] = {{"", "B"}, {"Tree one", ""}, {"x", "yz"}};
    i = 0;
    for (auto& e : Sized(t.Scob.Count, t.Scob.Items, 3)) {
        e.Name1 = scob[i].first;
        e.Name2 = scob[i++].second;
        d.Singles(e.Values);
    }

    TeraChunk& g = t.Tera;
    g.Present = g.Flag = true;
    g.Columns = 3;
    g.Rows = 2;
    for (float* v : {&g.Value1, &g.Value2, &g.Value3, &g.Value4, &g.Value5}) *v = d.Single();
    g.Text2 = "T";
    g.Text3 = "grass.bmp";
    g.ByteValue = d.Byte();
    g.Grid.assign(6, 0.0f);
    for (auto& v : g.Grid) v = d.Single();

    t.Envc.Text1 = "sky_dusk";
    t.Envc.Text2 = "E";
    return t;
}

TrackData MakeTrackFromVertices(std::span<const TrackVertex> vertices) {
    TrackData t;
    const auto n = static_cast<int32_t>(vertices.size());
    std::copy(vertices.begin(), vertices.end(),
              Sized(t.Bezr.VertexCount, t.Bezr.Vertices, n).begin());
    Sized(t.Segm.SegmentCount, t.Segm.Segments, n > 1 ? n - 1 : 0);
    return t;
}

TrackData MakeLargeTrack(int32_t columns, int32_t rows, int32_t scenery, int32_t vertices) {
    TrackData t;
    Distinct d;
    for (auto& v : Sized(t.Bezr.VertexCount, t.Bezr.Vertices, vertices)) {
        v = {d.Point(), d.Point(), d.Point(), d.Single(), true};
    }
    Sized(t.Segm.SegmentCount, t.Segm.Segments, vertices > 1 ? vertices - 1 : 0);
    for (auto& e : Sized(t.Scen.Count, t.Scen.Items, scenery)) {
        e = {d.Point(), d.Single(), d.Long()};
    }
    t.Tera.Present = true;
    t.Tera.Columns = columns;
    t.Tera.Rows = rows;
    t.Tera.Grid.resize(static_cast<size_t>(columns) * static_cast<size_t>(rows));
    for (size_t k = 0; k < t.Tera.Grid.size(); ++k) {
        t.Tera.Grid[k] = static_cast<float>(k % 4099) * 0.25f;
    }
    return t;
}

// ---- DiffTracks

std::vector<std::string> DiffTracks(const TrackData& a, const TrackData& b) {
    std::vector<std::string> lines;
    const auto compare = [&lines](const TrackData& x, const TrackData& y, std::string what) {
        const std::vector<uint8_t> p = FrameByHand(x).bytes, q = FrameByHand(y).bytes;
        if (p == q) return;
        const auto at = std::mismatch(p.begin(), p.end(), q.begin(), q.end()).first - p.begin();
        lines.push_back(what + " differ at byte " + std::to_string(at));
    };
    compare(a, b, "fields");
    // The blocks a segment's type leaves out of the file: each segment framed again as every type.
    for (int32_t type = 1; type <= 4; ++type) {
        TrackData x, y;
        x.Segm = a.Segm;
        y.Segm = b.Segm;
        for (TrackData* t : {&x, &y}) {
            for (auto& s : t->Segm.Segments) s.Type = type;
        }
        compare(x, y, "type " + std::to_string(type) + " blocks");
    }
    return lines;
}

// ---- Files

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cvqrn-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace cvqrn::testsupport
