#include "tests/support/track_builder.h"

#include <unistd.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <type_traits>

namespace cvqrn::testsupport {

// ---- ByteImage

ByteImage& ByteImage::Tag(std::string_view t) {
    return Chars(t.substr(0, 4));
}

ByteImage& ByteImage::Long(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(u >> shift));
    return *this;
}

ByteImage& ByteImage::Single(float f) {
    return SingleBits(std::bit_cast<uint32_t>(f));
}

ByteImage& ByteImage::SingleBits(uint32_t bits) {
    return Long(static_cast<int32_t>(bits));
}

ByteImage& ByteImage::Byte(uint8_t b) {
    bytes.push_back(b);
    return *this;
}

ByteImage& ByteImage::U24(int32_t v, uint8_t top) {
    const auto u = static_cast<uint32_t>(v);
    return Byte(top)
        .Byte(static_cast<uint8_t>(u >> 16))
        .Byte(static_cast<uint8_t>(u >> 8))
        .Byte(static_cast<uint8_t>(u));
}

ByteImage& ByteImage::Chars(std::string_view s) {
    for (char c : s) bytes.push_back(static_cast<uint8_t>(c));
    return *this;
}

ByteImage& ByteImage::Text(std::string_view s) {
    return Long(static_cast<int32_t>(s.size())).Chars(s);
}

ByteImage& ByteImage::Zeros(size_t n) {
    return Fill(n, 0);
}

ByteImage& ByteImage::Fill(size_t n, uint8_t b) {
    bytes.insert(bytes.end(), n, b);
    return *this;
}

ByteImage& ByteImage::Bytes(std::span<const uint8_t> b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
}

void ByteImage::PatchLong(size_t at, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (size_t i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(u >> (24 - 8 * i));
}

int32_t LongAt(std::span<const uint8_t> bytes, size_t at) {
    uint32_t u = 0;
    for (size_t i = 0; i < 4; ++i) u = (u << 8) | bytes[at + i];
    return static_cast<int32_t>(u);
}

// ---- Distinctive values

namespace {

// Hands out values that differ from each other and include the awkward ones
// (NaN with payloads, negative zero, subnormals, infinities, extreme Longs).
class Distinct {
  public:
    float NextSingle() {
        ++n_;
        switch (n_ % 11) {
            case 3:
                return std::bit_cast<float>(0x7FC00000u | (n_ & 0x3FFFFFu));  // quiet NaN, payload
            case 5:
                return std::bit_cast<float>(0xFF800000u |
                                            ((n_ & 0x3FFFFFu) + 1));  // signalling NaN
            case 7:
                return -0.0f;
            case 9:
                return std::bit_cast<float>(0x00000001u + n_);  // subnormal
            default:
                return static_cast<float>(n_) * (n_ % 2 ? -0.375f : 1.25f) + 0.0625f;
        }
    }
    int32_t NextLong() {
        ++n_;
        switch (n_ % 5) {
            case 1:
                return static_cast<int32_t>(0x80000000u + n_);
            case 3:
                return -static_cast<int32_t>(n_) * 1000;
            default:
                return static_cast<int32_t>(0x01020304u * n_ + 17u);
        }
    }
    int32_t NextU24() { return static_cast<int32_t>((0x123456u + 0x10F0Du * ++n_) & 0xFFFFFFu); }
    uint8_t NextByte() { return static_cast<uint8_t>(0x81u + 37u * ++n_); }
    bool NextFlag() { return ++n_ % 3 != 0; }
    Vec3 NextVec() { return {NextSingle(), NextSingle(), NextSingle()}; }

  private:
    uint32_t n_ = 0;
};

template <class T>
void Resize(std::vector<T>& items, int32_t count) {
    items.assign(static_cast<size_t>(count) + 1, T{});
}

}  // namespace

TrackData MakeFullTrack() {
    Distinct d;
    TrackData t;
    t.Header.Version = {1, 2, 0, 0};

    t.Trck.Value1 = d.NextLong();
    t.Trck.Value2 = d.NextLong();
    t.Trck.EntryCount = 3;
    Resize(t.Trck.Entries, 3);
    const char* names[] = {"", "A", "Lift \xE9\xFF"};
    for (int i = 0; i < 3; ++i) {
        auto& e = t.Trck.Entries[static_cast<size_t>(i)];
        e.Flag = i != 1;
        e.Name = names[i];
        for (auto& v : e.Val24) v = d.NextU24();
    }
    for (auto& v : t.Trck.Val24) v = d.NextU24();

    t.Info.Text = std::string("Made by the track builder\x01\xFE", 27);

    t.Bezr.VertexCount = 6;
    Resize(t.Bezr.Vertices, 6);
    for (int i = 0; i < 6; ++i) {
        auto& v = t.Bezr.Vertices[static_cast<size_t>(i)];
        v.Pos = d.NextVec();
        v.CtrlIn = d.NextVec();
        v.CtrlOut = d.NextVec();
        v.Roll = d.NextSingle();
        // Every combination that tells FlagA, FlagC and RelativeRoll apart.
        v.FlagA = (i & 1) != 0;
        v.FlagC = (i & 2) != 0;
        v.RelativeRoll = (i & 4) != 0 || i == 0;
    }

    // All five typed segments, a type with no block (7) and a negative one.
    const int32_t types[] = {0, 1, 2, 3, 4, 7, -2};
    t.Segm.Flag = true;
    t.Segm.SegmentCount = 7;
    Resize(t.Segm.Segments, 7);
    for (int i = 0; i < 7; ++i) {
        auto& s = t.Segm.Segments[static_cast<size_t>(i)];
        s.Type = types[i];
        for (auto& v : s.Val24) v = d.NextU24();
        s.FlagA = d.NextFlag();
        s.FlagB = !s.FlagA;
        if (s.Type == 1) {
            auto& b = s.Type1;
            for (auto& v : b.Field1to4) v = d.NextSingle();
            b.Field5 = true;
            b.Field6 = d.NextSingle();
            b.Field7 = d.NextByte();
            b.Field8 = d.NextByte();
            b.Field9 = d.NextByte();
            b.Field10 = true;
            for (auto& v : b.Field11to13) v = d.NextSingle();
            b.Field14 = true;
            b.Field15 = d.NextSingle();
            for (auto& v : b.Field16to17) v = d.NextSingle();
        } else if (s.Type == 2 || s.Type == 3) {
            auto& b = s.Type == 2 ? s.Type2 : s.Type3;
            for (auto& v : b.Field1to3) v = d.NextSingle();
            b.Field4 = d.NextByte();
            b.Field5 = s.Type == 2;
            b.Field6 = s.Type == 3;
        } else if (s.Type == 4) {
            auto& b = s.Type4;
            b.Field1 = true;
            b.Field2 = true;
            for (auto& v : b.Field3to5) v = d.NextSingle();
            b.Field6 = true;
            for (auto& v : b.Field7to10) v = d.NextSingle();
            b.Field11 = true;
            b.Field12 = false;
        }
    }

    t.Fund.Count = 2;
    Resize(t.Fund.Items, 2);
    for (int i = 0; i < 2; ++i) {
        auto& e = t.Fund.Items[static_cast<size_t>(i)];
        e.Pos = d.NextVec();
        e.Flag1 = i == 0;
        e.Value1 = d.NextSingle();
        e.Flag2 = i == 1;
        e.Value2 = d.NextSingle();
    }

    // Item counts of 2, 0, -3 (carried, no items) and 1.
    const int32_t itemCounts[] = {2, 0, -3, 1};
    t.Rasc.Count = 4;
    Resize(t.Rasc.Items, 4);
    for (int i = 0; i < 4; ++i) {
        auto& e = t.Rasc.Items[static_cast<size_t>(i)];
        e.Count = itemCounts[i];
        if (e.Count > 0) Resize(e.Items, e.Count);
        for (int k = 0; k < e.Count; ++k) {
            e.Items[static_cast<size_t>(k)] = {d.NextLong(), d.NextSingle()};
        }
    }

    t.Fren.Count = 3;
    Resize(t.Fren.Items, 3);
    for (int i = 0; i < 3; ++i) t.Fren.Items[static_cast<size_t>(i)] = d.NextVec();

    t.Tube.Count = 2;
    Resize(t.Tube.Items, 2);
    for (auto& e : t.Tube.Items) {
        for (int32_t* v : {&e.Value1, &e.Value2, &e.Value3, &e.Value4, &e.Value5, &e.Value6,
                           &e.Value7, &e.Value8}) {
            *v = d.NextLong();
        }
        e.Value9 = d.NextSingle();
    }

    // Extra lengths 12 (with distinct bytes), 0 and 1.
    const int32_t extras[] = {12, 0, 1};
    t.Catw.Count = 3;
    Resize(t.Catw.Items, 3);
    for (int i = 0; i < 3; ++i) {
        auto& e = t.Catw.Items[static_cast<size_t>(i)];
        for (int32_t* v : {&e.Value1, &e.Value2, &e.Value3, &e.Value4, &e.Value5, &e.Value6}) {
            *v = d.NextLong();
        }
        e.ExtraLength = extras[i];
        for (int k = 0; k < e.ExtraLength; ++k) e.Extra.push_back(d.NextByte());
    }

    t.Scen.Count = 2;
    Resize(t.Scen.Items, 2);
    for (int i = 0; i < 2; ++i) {
        auto& e = t.Scen.Items[static_cast<size_t>(i)];
        e.Pos = d.NextVec();
        e.Value1 = d.NextSingle();
        e.Value2 = d.NextLong();
    }

    // Name pairs with lengths 0 and 1 on either side.
    const std::pair<const char*, const char*> scob[] = {{"", "B"}, {"Tree one", ""}, {"x", "yz"}};
    t.Scob.Count = 3;
    Resize(t.Scob.Items, 3);
    for (int i = 0; i < 3; ++i) {
        auto& e = t.Scob.Items[static_cast<size_t>(i)];
        e.Name1 = scob[i].first;
        e.Name2 = scob[i].second;
        for (auto& v : e.Values) v = d.NextSingle();
    }

    t.Tera.Present = true;
    t.Tera.Columns = 3;
    t.Tera.Rows = 2;
    t.Tera.Value1 = d.NextSingle();
    t.Tera.Value2 = d.NextSingle();
    t.Tera.Text1 = "";
    t.Tera.Value3 = d.NextSingle();
    t.Tera.Text2 = "T";
    t.Tera.Value4 = d.NextSingle();
    t.Tera.Text3 = "grass.bmp";
    t.Tera.Value5 = d.NextSingle();
    t.Tera.ByteValue = d.NextByte();
    t.Tera.Flag = true;
    t.Tera.Grid.assign(6, 0.0f);
    for (auto& v : t.Tera.Grid) v = d.NextSingle();

    t.Envc.Text1 = "sky_dusk";
    t.Envc.Text2 = "E";
    return t;
}

TrackData MakeTrackFromVertices(std::span<const TrackVertex> vertices) {
    TrackData t;
    const auto n = static_cast<int32_t>(vertices.size());
    t.Bezr.VertexCount = n;
    t.Bezr.Vertices.assign(vertices.begin(), vertices.end());
    t.Bezr.Vertices.push_back(TrackVertex{});
    t.Segm.SegmentCount = n > 1 ? n - 1 : 0;
    Resize(t.Segm.Segments, t.Segm.SegmentCount);
    return t;
}

TrackData MakeLargeTrack(int32_t columns, int32_t rows, int32_t scenery, int32_t vertices) {
    TrackData t;
    Distinct d;
    t.Bezr.VertexCount = vertices;
    Resize(t.Bezr.Vertices, vertices);
    for (auto& v : t.Bezr.Vertices) {
        v.Pos = d.NextVec();
        v.CtrlIn = d.NextVec();
        v.CtrlOut = d.NextVec();
        v.Roll = d.NextSingle();
        v.FlagA = true;
    }
    t.Segm.SegmentCount = vertices > 1 ? vertices - 1 : 0;
    Resize(t.Segm.Segments, t.Segm.SegmentCount);
    t.Scen.Count = scenery;
    Resize(t.Scen.Items, scenery);
    for (auto& e : t.Scen.Items) e = {d.NextVec(), d.NextSingle(), d.NextLong()};
    t.Tera.Present = true;
    t.Tera.Columns = columns;
    t.Tera.Rows = rows;
    t.Tera.Grid.resize(static_cast<size_t>(columns) * static_cast<size_t>(rows));
    for (size_t i = 0; i < t.Tera.Grid.size(); ++i) {
        t.Tera.Grid[i] = static_cast<float>(i % 4099) * 0.25f;
    }
    return t;
}

// ---- DiffTracks

namespace {

class Differ {
  public:
    explicit Differ(bool framing) : framing_(framing) {}

    template <class T>
    void Same(const std::string& name, const T& a, const T& b) {
        if constexpr (std::is_same_v<T, float>) {
            if (std::bit_cast<uint32_t>(a) != std::bit_cast<uint32_t>(b)) Note(name, a, b);
        } else if constexpr (std::is_same_v<T, Vec3>) {
            Same(name + ".x", a.x, b.x);
            Same(name + ".y", a.y, b.y);
            Same(name + ".z", a.z, b.z);
        } else if constexpr (std::is_same_v<T, std::string>) {
            if (a != b) lines.push_back(name + ": \"" + a + "\" vs \"" + b + "\"");
        } else if constexpr (requires {
                                 a.size();
                                 a[0];
                             }) {
            for (size_t i = 0; i < a.size(); ++i) {
                Same(name + "[" + std::to_string(i) + "]", a[i], b[i]);
            }
        } else {
            if (a != b) Note(name, a, b);
        }
    }

    void Framing(const std::string& name, int32_t sizeA, int32_t sizeB, int32_t childA,
                 int32_t childB) {
        if (!framing_) return;
        Same(name + ".Size", sizeA, sizeB);
        Same(name + ".ChildCount", childA, childB);
    }

    // Entries 0 .. count - 1 of two arrays whose counts already compared equal.
    template <class T, class Fn>
    void Entries(const std::string& name, int32_t count, const std::vector<T>& a,
                 const std::vector<T>& b, Fn&& each) {
        for (int32_t i = 0; i < count; ++i) {
            const auto k = static_cast<size_t>(i);
            if (k >= a.size() || k >= b.size()) {
                lines.push_back(name + ": array shorter than its count " + std::to_string(count));
                return;
            }
            each(name + "[" + std::to_string(i) + "]", a[k], b[k]);
        }
    }

    std::vector<std::string> lines;
    bool framing_;

  private:
    template <class T>
    void Note(const std::string& name, const T& a, const T& b) {
        if constexpr (std::is_same_v<T, float>) {
            lines.push_back(name + ": bits " + std::to_string(std::bit_cast<uint32_t>(a)) + " vs " +
                            std::to_string(std::bit_cast<uint32_t>(b)));
        } else {
            lines.push_back(name + ": " + std::to_string(a) + " vs " + std::to_string(b));
        }
    }
};

}  // namespace

std::vector<std::string> DiffTracks(const TrackData& a, const TrackData& b, bool framing) {
    Differ d(framing);
    d.Framing("Header", a.Header.Size, b.Header.Size, a.Header.ChildCount, b.Header.ChildCount);
    if (framing) d.Same("Header.Version", a.Header.Version, b.Header.Version);

    d.Framing("Trck", a.Trck.Size, b.Trck.Size, a.Trck.ChildCount, b.Trck.ChildCount);
    d.Same("Trck.Value1", a.Trck.Value1, b.Trck.Value1);
    d.Same("Trck.Value2", a.Trck.Value2, b.Trck.Value2);
    d.Same("Trck.Val24", a.Trck.Val24, b.Trck.Val24);
    d.Same("Trck.EntryCount", a.Trck.EntryCount, b.Trck.EntryCount);
    if (a.Trck.EntryCount == b.Trck.EntryCount) {
        d.Entries("Trck.Entries", a.Trck.EntryCount, a.Trck.Entries, b.Trck.Entries,
                  [&](const std::string& n, const TrckEntry& x, const TrckEntry& y) {
                      d.Same(n + ".Flag", x.Flag, y.Flag);
                      d.Same(n + ".Val24", x.Val24, y.Val24);
                      d.Same(n + ".Name", x.Name, y.Name);
                  });
    }

    d.Framing("Info", a.Info.Size, b.Info.Size, a.Info.ChildCount, b.Info.ChildCount);
    d.Same("Info.Text", a.Info.Text, b.Info.Text);

    d.Framing("Bezr", a.Bezr.Size, b.Bezr.Size, a.Bezr.ChildCount, b.Bezr.ChildCount);
    d.Same("Bezr.VertexCount", a.Bezr.VertexCount, b.Bezr.VertexCount);
    if (a.Bezr.VertexCount == b.Bezr.VertexCount) {
        d.Entries("Bezr.Vertices", a.Bezr.VertexCount, a.Bezr.Vertices, b.Bezr.Vertices,
                  [&](const std::string& n, const TrackVertex& x, const TrackVertex& y) {
                      d.Same(n + ".Pos", x.Pos, y.Pos);
                      d.Same(n + ".CtrlIn", x.CtrlIn, y.CtrlIn);
                      d.Same(n + ".CtrlOut", x.CtrlOut, y.CtrlOut);
                      d.Same(n + ".Roll", x.Roll, y.Roll);
                      d.Same(n + ".FlagA", x.FlagA, y.FlagA);
                      d.Same(n + ".RelativeRoll", x.RelativeRoll, y.RelativeRoll);
                      d.Same(n + ".FlagC", x.FlagC, y.FlagC);
                  });
    }

    d.Framing("Segm", a.Segm.Size, b.Segm.Size, a.Segm.ChildCount, b.Segm.ChildCount);
    d.Same("Segm.Flag", a.Segm.Flag, b.Segm.Flag);
    d.Same("Segm.SegmentCount", a.Segm.SegmentCount, b.Segm.SegmentCount);
    if (a.Segm.SegmentCount == b.Segm.SegmentCount) {
        d.Entries("Segm.Segments", a.Segm.SegmentCount, a.Segm.Segments, b.Segm.Segments,
                  [&](const std::string& n, const TrackSegment& x, const TrackSegment& y) {
                      d.Same(n + ".Type", x.Type, y.Type);
                      d.Same(n + ".Val24", x.Val24, y.Val24);
                      d.Same(n + ".FlagA", x.FlagA, y.FlagA);
                      d.Same(n + ".FlagB", x.FlagB, y.FlagB);
                      const auto& p = x.Type1;
                      const auto& q = y.Type1;
                      d.Same(n + ".Type1.Field1to4", p.Field1to4, q.Field1to4);
                      d.Same(n + ".Type1.Field5", p.Field5, q.Field5);
                      d.Same(n + ".Type1.Field6", p.Field6, q.Field6);
                      d.Same(n + ".Type1.Field7", p.Field7, q.Field7);
                      d.Same(n + ".Type1.Field8", p.Field8, q.Field8);
                      d.Same(n + ".Type1.Field9", p.Field9, q.Field9);
                      d.Same(n + ".Type1.Field10", p.Field10, q.Field10);
                      d.Same(n + ".Type1.Field11to13", p.Field11to13, q.Field11to13);
                      d.Same(n + ".Type1.Field14", p.Field14, q.Field14);
                      d.Same(n + ".Type1.Field15", p.Field15, q.Field15);
                      d.Same(n + ".Type1.Field16to17", p.Field16to17, q.Field16to17);
                      for (auto [block, u, v] : {std::tuple{".Type2", &x.Type2, &y.Type2},
                                                 std::tuple{".Type3", &x.Type3, &y.Type3}}) {
                          d.Same(n + block + ".Field1to3", u->Field1to3, v->Field1to3);
                          d.Same(n + block + ".Field4", u->Field4, v->Field4);
                          d.Same(n + block + ".Field5", u->Field5, v->Field5);
                          d.Same(n + block + ".Field6", u->Field6, v->Field6);
                      }
                      const auto& r = x.Type4;
                      const auto& s = y.Type4;
                      d.Same(n + ".Type4.Field1", r.Field1, s.Field1);
                      d.Same(n + ".Type4.Field2", r.Field2, s.Field2);
                      d.Same(n + ".Type4.Field3to5", r.Field3to5, s.Field3to5);
                      d.Same(n + ".Type4.Field6", r.Field6, s.Field6);
                      d.Same(n + ".Type4.Field7to10", r.Field7to10, s.Field7to10);
                      d.Same(n + ".Type4.Field11", r.Field11, s.Field11);
                      d.Same(n + ".Type4.Field12", r.Field12, s.Field12);
                  });
    }

    d.Framing("Supp", a.Supp.Size, b.Supp.Size, a.Supp.ChildCount, b.Supp.ChildCount);

    d.Framing("Fund", a.Fund.Size, b.Fund.Size, a.Fund.ChildCount, b.Fund.ChildCount);
    d.Same("Fund.Count", a.Fund.Count, b.Fund.Count);
    if (a.Fund.Count == b.Fund.Count) {
        d.Entries("Fund.Items", a.Fund.Count, a.Fund.Items, b.Fund.Items,
                  [&](const std::string& n, const FundEntry& x, const FundEntry& y) {
                      d.Same(n + ".Pos", x.Pos, y.Pos);
                      d.Same(n + ".Flag1", x.Flag1, y.Flag1);
                      d.Same(n + ".Value1", x.Value1, y.Value1);
                      d.Same(n + ".Flag2", x.Flag2, y.Flag2);
                      d.Same(n + ".Value2", x.Value2, y.Value2);
                  });
    }

    d.Framing("Rasc", a.Rasc.Size, b.Rasc.Size, a.Rasc.ChildCount, b.Rasc.ChildCount);
    d.Same("Rasc.Count", a.Rasc.Count, b.Rasc.Count);
    if (a.Rasc.Count == b.Rasc.Count) {
        d.Entries("Rasc.Items", a.Rasc.Count, a.Rasc.Items, b.Rasc.Items,
                  [&](const std::string& n, const RascEntry& x, const RascEntry& y) {
                      d.Same(n + ".Count", x.Count, y.Count);
                      if (x.Count != y.Count) return;
                      d.Entries(n + ".Items", x.Count, x.Items, y.Items,
                                [&](const std::string& m, const RascItem& p, const RascItem& q) {
                                    d.Same(m + ".Value1", p.Value1, q.Value1);
                                    d.Same(m + ".Value2", p.Value2, q.Value2);
                                });
                  });
    }

    d.Framing("Fren", a.Fren.Size, b.Fren.Size, a.Fren.ChildCount, b.Fren.ChildCount);
    d.Same("Fren.Count", a.Fren.Count, b.Fren.Count);
    if (a.Fren.Count == b.Fren.Count) {
        d.Entries("Fren.Items", a.Fren.Count, a.Fren.Items, b.Fren.Items,
                  [&](const std::string& n, const Vec3& x, const Vec3& y) { d.Same(n, x, y); });
    }

    d.Framing("Tube", a.Tube.Size, b.Tube.Size, a.Tube.ChildCount, b.Tube.ChildCount);
    d.Same("Tube.Count", a.Tube.Count, b.Tube.Count);
    if (a.Tube.Count == b.Tube.Count) {
        d.Entries("Tube.Items", a.Tube.Count, a.Tube.Items, b.Tube.Items,
                  [&](const std::string& n, const TubeEntry& x, const TubeEntry& y) {
                      d.Same(n + ".Values",
                             std::array{x.Value1, x.Value2, x.Value3, x.Value4, x.Value5, x.Value6,
                                        x.Value7, x.Value8},
                             std::array{y.Value1, y.Value2, y.Value3, y.Value4, y.Value5, y.Value6,
                                        y.Value7, y.Value8});
                      d.Same(n + ".Value9", x.Value9, y.Value9);
                  });
    }

    d.Framing("Catw", a.Catw.Size, b.Catw.Size, a.Catw.ChildCount, b.Catw.ChildCount);
    d.Same("Catw.Count", a.Catw.Count, b.Catw.Count);
    if (a.Catw.Count == b.Catw.Count) {
        d.Entries("Catw.Items", a.Catw.Count, a.Catw.Items, b.Catw.Items,
                  [&](const std::string& n, const CatwEntry& x, const CatwEntry& y) {
                      d.Same(
                          n + ".Values",
                          std::array{x.Value1, x.Value2, x.Value3, x.Value4, x.Value5, x.Value6},
                          std::array{y.Value1, y.Value2, y.Value3, y.Value4, y.Value5, y.Value6});
                      d.Same(n + ".ExtraLength", x.ExtraLength, y.ExtraLength);
                      if (x.Extra != y.Extra) d.lines.push_back(n + ".Extra: bytes differ");
                  });
    }

    d.Framing("Scen", a.Scen.Size, b.Scen.Size, a.Scen.ChildCount, b.Scen.ChildCount);
    d.Same("Scen.Count", a.Scen.Count, b.Scen.Count);
    if (a.Scen.Count == b.Scen.Count) {
        d.Entries("Scen.Items", a.Scen.Count, a.Scen.Items, b.Scen.Items,
                  [&](const std::string& n, const ScenEntry& x, const ScenEntry& y) {
                      d.Same(n + ".Pos", x.Pos, y.Pos);
                      d.Same(n + ".Value1", x.Value1, y.Value1);
                      d.Same(n + ".Value2", x.Value2, y.Value2);
                  });
    }

    d.Framing("Scob", a.Scob.Size, b.Scob.Size, a.Scob.ChildCount, b.Scob.ChildCount);
    d.Same("Scob.Count", a.Scob.Count, b.Scob.Count);
    if (a.Scob.Count == b.Scob.Count) {
        d.Entries("Scob.Items", a.Scob.Count, a.Scob.Items, b.Scob.Items,
                  [&](const std::string& n, const ScobEntry& x, const ScobEntry& y) {
                      d.Same(n + ".Name1", x.Name1, y.Name1);
                      d.Same(n + ".Name2", x.Name2, y.Name2);
                      d.Same(n + ".Values", x.Values, y.Values);
                  });
    }

    d.Same("Tera.Present", a.Tera.Present, b.Tera.Present);
    if (a.Tera.Present && b.Tera.Present) {
        d.Framing("Tera", a.Tera.Size, b.Tera.Size, a.Tera.ChildCount, b.Tera.ChildCount);
        const TeraChunk& x = a.Tera;
        const TeraChunk& y = b.Tera;
        d.Same("Tera.Columns", x.Columns, y.Columns);
        d.Same("Tera.Rows", x.Rows, y.Rows);
        d.Same("Tera.Singles", std::array{x.Value1, x.Value2, x.Value3, x.Value4, x.Value5},
               std::array{y.Value1, y.Value2, y.Value3, y.Value4, y.Value5});
        d.Same("Tera.Text1", x.Text1, y.Text1);
        d.Same("Tera.Text2", x.Text2, y.Text2);
        d.Same("Tera.Text3", x.Text3, y.Text3);
        d.Same("Tera.ByteValue", x.ByteValue, y.ByteValue);
        d.Same("Tera.Flag", x.Flag, y.Flag);
        if (x.Columns == y.Columns && x.Rows == y.Rows) {
            const int64_t cells = int64_t{x.Columns} * x.Rows;
            for (int64_t i = 0; i < cells; ++i) {
                const auto k = static_cast<size_t>(i);
                if (k >= x.Grid.size() || k >= y.Grid.size()) {
                    d.lines.push_back("Tera.Grid: shorter than Columns x Rows");
                    break;
                }
                d.Same("Tera.Grid[" + std::to_string(i) + "]", x.Grid[k], y.Grid[k]);
            }
        }
    }

    d.Framing("Envc", a.Envc.Size, b.Envc.Size, a.Envc.ChildCount, b.Envc.ChildCount);
    d.Same("Envc.Text1", a.Envc.Text1, b.Envc.Text1);
    d.Same("Envc.Text2", a.Envc.Text2, b.Envc.Text2);
    return d.lines;
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
