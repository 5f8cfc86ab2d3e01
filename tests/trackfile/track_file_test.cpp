#include "trackfile/track_file.h"

#include <gtest/gtest.h>

#include <bit>

#include "tests/support/track_builder.h"

namespace cvqrn {
namespace {

using testsupport::ByteImage;
using testsupport::DiffTracks;
using testsupport::FrameByHand;
using testsupport::FrameOptions;
using testsupport::LongAt;
using testsupport::MakeFullTrack;

std::string Joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
}

TrackData Decoded(std::span<const uint8_t> image) {
    TrackData t;
    const LoadResult r = DecodeTrack(image, t);
    EXPECT_TRUE(r.ok) << r.reason;
    return t;
}

std::vector<std::pair<std::string, TrackData>> SampleTracks() {
    TrackData noTerrain = MakeFullTrack();
    noTerrain.Tera.Present = false;
    TrackData onlyTypeOne;
    onlyTypeOne.Segm.SegmentCount = 1;
    onlyTypeOne.Segm.Segments.assign(2, TrackSegment{});
    onlyTypeOne.Segm.Segments[0].Type = 1;
    const TrackVertex v[] = {{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, 0.5f, true, false, true},
                             {{-1, -2, -3}, {}, {}, -0.25f, false, true, false}};
    return {{"empty", TrackData{}},
            {"full", MakeFullTrack()},
            {"full without terrain", noTerrain},
            {"one type-1 segment", onlyTypeOne},
            {"two vertices", testsupport::MakeTrackFromVertices(v)},
            {"large", testsupport::MakeLargeTrack(7, 5, 9, 11)}};
}

// The writers against an image framed by hand from the layout tables: every
// byte, every size (measured from the bytes) and the fixed tree.
TEST(TrackFile, EncodeMatchesTheHandFramedLayout) {
    for (auto& [name, track] : SampleTracks()) {
        TrackData copy = track;
        const std::vector<uint8_t> image = EncodeTrack(copy);
        const auto framed = FrameByHand(track);
        ASSERT_EQ(image.size(), framed.bytes.size()) << name;
        for (size_t i = 0; i < image.size(); ++i) {
            ASSERT_EQ(image[i], framed.bytes[i]) << name << ": first difference at byte " << i;
        }
        EXPECT_EQ(copy.Header.Size, static_cast<int32_t>(image.size()) - 8) << name;
        EXPECT_EQ(copy.Info.Size, LongAt(image, framed.at.at("INFO.size"))) << name;
    }
}

// The readers against hand-framed images, including the forms the save never
// writes itself: Boolean bytes of 0x01, non-zero reserved runs and top bytes
// of 24-bit values, lower-case tags, another version, odd block lengths.
TEST(TrackFile, DecodeKeepsEveryFieldOfHandFramedFiles) {
    struct Case {
        const char* name;
        FrameOptions options;
    };
    const Case cases[] = {
        {"canonical", {}},
        {"Boolean bytes 0x01", {.trueByte = 0x01}},
        {"reserved runs filled", {.reservedByte = 0xAB, .u24TopByte = 0xEE}},
        {"lower-case tags", {.lowerCaseTags = true}},
        {"version 1.2.0.0", {.version = {1, 2, 0, 0}}},
        {"block lengths ignored", {.segmentBlockLength = 9999}},
    };
    const TrackData full = MakeFullTrack();
    const std::vector<uint8_t> canonical = FrameByHand(full).bytes;
    for (const Case& c : cases) {
        const auto framed = FrameByHand(full, c.options);
        TrackData loaded = Decoded(framed.bytes);
        EXPECT_EQ(Joined(DiffTracks(full, loaded)), "") << c.name;
        EXPECT_EQ(loaded.Header.Version, c.options.version) << c.name;
        EXPECT_EQ(loaded.Bezr.Size, LongAt(framed.bytes, framed.at.at("BEZR.size"))) << c.name;
        EXPECT_TRUE(loaded.Tera.Present) << c.name;
        // The save rewrites version, Boolean bytes, reserved runs, tags and block lengths.
        EXPECT_EQ(EncodeTrack(loaded), canonical) << c.name;
    }
}

TEST(TrackFile, SaveLoadSaveIsByteIdenticalAndKeepsEveryField) {
    for (auto& [name, track] : SampleTracks()) {
        TrackData first = track;
        const std::vector<uint8_t> image = EncodeTrack(first);
        TrackData loaded = Decoded(image);
        EXPECT_EQ(loaded.Header.Version, (std::array<uint8_t, 4>{1, 3, 0, 0})) << name;
        first.Header.Version =
            loaded.Header.Version;  // the save writes 1.3.0.0, whatever was loaded
        EXPECT_EQ(Joined(DiffTracks(first, loaded, /*framing=*/true)), "") << name;
        EXPECT_EQ(EncodeTrack(loaded), image) << name;
    }
}

TEST(TrackFile, EmptyTrackSavesAs665BytesWithTheKnownSizes) {
    TrackData t;
    const std::vector<uint8_t> image = EncodeTrack(t);
    EXPECT_EQ(image.size(), 665u);
    EXPECT_EQ(t.Header.Size, 657);
    EXPECT_EQ(t.Trck.Size, 477);
    EXPECT_EQ(t.Supp.Size, 276);
    EXPECT_EQ(t.Scen.Size, 88);
    EXPECT_EQ(t.Envc.Size, 44);
    EXPECT_EQ(t.Header.ChildCount, 3);
    EXPECT_EQ(LongAt(image, 28), 3);  // header child count: no TERA
    const std::vector<uint8_t> head(image.begin(), image.begin() + 12);
    EXPECT_EQ(head, (std::vector<uint8_t>{'C', 'O', 'R', 'V', 0, 0, 0x02, 0x91, 1, 3, 0, 0}));
}

TEST(TrackFile, SegmentSizesFollowTheirType) {
    // 41 for the chunk plus the segment's bytes: 37, 163, 73, 65, 87 for types
    // 0 to 4 and the 33-byte fixed part for any other type.
    const std::pair<int32_t, int32_t> cases[] = {{0, 78},  {1, 204}, {2, 114}, {3, 106},
                                                 {4, 128}, {7, 74},  {-1, 74}};
    for (auto [type, size] : cases) {
        TrackData t;
        t.Segm.SegmentCount = 1;
        t.Segm.Segments[0].Type = type;
        ComputeSizes(t);
        EXPECT_EQ(t.Segm.Size, size) << "type " << type;
        EXPECT_EQ(EncodeTrack(t).size(), 665u + static_cast<size_t>(size - 41)) << "type " << type;
    }
}

TEST(TrackFile, RascEntriesWithoutItemsCountTheirFourBytes) {
    TrackData t;
    t.Rasc.Count = 3;
    t.Rasc.Items.assign(4, RascEntry{});
    t.Rasc.Items[0] = {2, {{7, 1.5f}, {8, 2.5f}}};
    t.Rasc.Items[1].Count = 0;
    t.Rasc.Items[2].Count = -3;
    const std::vector<uint8_t> image = EncodeTrack(t);
    EXPECT_EQ(t.Rasc.Size, 40 + (24 * 2 + 4) + 4 + 4);
    EXPECT_EQ(static_cast<int32_t>(image.size()), t.Header.Size + 8);
    TrackData loaded = Decoded(image);
    EXPECT_EQ(loaded.Rasc.Items[2].Count, -3);
    EXPECT_TRUE(loaded.Rasc.Items[2].Items.empty());
    EXPECT_EQ(EncodeTrack(loaded), image);
}

TEST(TrackFile, CatwExtraBytesAreWrittenBackAsLoaded) {
    TrackData t;
    t.Catw.Count = 1;
    t.Catw.Items[0].Value6 = 6;
    t.Catw.Items[0].ExtraLength = 12;
    for (uint8_t b = 1; b <= 12; ++b) t.Catw.Items[0].Extra.push_back(static_cast<uint8_t>(b * 17));
    const auto framed = FrameByHand(t);
    TrackData loaded = Decoded(framed.bytes);
    EXPECT_EQ(loaded.Catw.Items[0].Extra, t.Catw.Items[0].Extra);
    const std::vector<uint8_t> image = EncodeTrack(loaded);
    const size_t extra = framed.at.at("CATW.extra");
    EXPECT_EQ(LongAt(image, extra - 4), 6);
    EXPECT_EQ(LongAt(image, extra), 12);
    const std::vector<uint8_t> bytes(image.begin() + static_cast<std::ptrdiff_t>(extra + 4),
                                     image.begin() + static_cast<std::ptrdiff_t>(extra + 16));
    EXPECT_EQ(bytes, t.Catw.Items[0].Extra);
}

// Literal offsets for the orders that differ between record and file.
TEST(TrackFile, FieldOrdersThatDifferFromTheRecordLandWhereTheFileWantsThem) {
    TrackData t;
    t.Tera.Present = true;
    t.Tera.Columns = 3;
    t.Tera.Rows = 2;
    t.Tera.Grid.assign(6, 0.0f);
    for (int32_t row = 0; row < 2; ++row) {
        for (int32_t col = 0; col < 3; ++col)
            t.Tera.Cell(col, row) = static_cast<float>(10 * row + col);
    }
    t.Scob.Count = 1;
    t.Scob.Items[0].Name2 = "B";
    for (size_t k = 0; k < 15; ++k) t.Scob.Items[0].Values[k] = static_cast<float>(k);
    t.Tube.Count = 1;
    t.Tube.Items[0] = {1, 2, 3, 4, 5, 6, 7, 8, 9.0f};
    t.Bezr.VertexCount = 1;
    t.Bezr.Vertices[0].FlagC = true;

    const auto at = FrameByHand(t).at;
    const std::vector<uint8_t> image = EncodeTrack(t);
    const auto single = [&](size_t offset) {
        return std::bit_cast<float>(static_cast<uint32_t>(LongAt(image, offset)));
    };

    // Grid: 61 bytes after Columns (dimensions, five singles, three empty texts, flag, byte,
    // reserved).
    const size_t grid = at.at("TERA.columns") + 61;
    const float expectedGrid[] = {0, 1, 2, 10, 11, 12};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(single(grid + 4 * i), expectedGrid[i]) << i;

    // SCOB: Name2 first, then Name1, then the values as rows of four.
    const size_t scob = at.at("SCOB.name2");
    EXPECT_EQ(LongAt(image, scob), 1);
    EXPECT_EQ(image[scob + 4], 'B');
    EXPECT_EQ(LongAt(image, scob + 5), 0);
    const float expectedValues[] = {0, 1, 2, 9, 3, 4, 5, 10, 6, 7, 8, 11, 12, 13, 14};
    for (size_t i = 0; i < 15; ++i) EXPECT_EQ(single(scob + 9 + 4 * i), expectedValues[i]) << i;

    // TUBE: the second and third Long of each group of three swapped.
    const size_t tube = at.at("TUBE.count") + 4;
    const int32_t expectedTube[] = {1, 3, 2, 0, 4, 6, 5, 0, 7, 8};
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(LongAt(image, tube + 4 * i), expectedTube[i]) << i;

    // Vertex flags: FlagA, FlagC, RelativeRoll at 40, 41, 42.
    const size_t vertex = at.at("BEZR.count") + 4;
    EXPECT_EQ(image[vertex + 40], 0x00);
    EXPECT_EQ(image[vertex + 41], 0xFF);
    EXPECT_EQ(image[vertex + 42], 0x00);
}

// Inserts `chunk` before the chunk `beforeTag` of `framed` and adds one to the header's child
// count.
std::vector<uint8_t> WithTopLevelChunk(const testsupport::FramedFile& framed,
                                       const std::string& beforeTag, const ByteImage& chunk) {
    ByteImage img;
    img.bytes = framed.bytes;
    img.PatchLong(framed.at.at("CORV.children"),
                  LongAt(img.bytes, framed.at.at("CORV.children")) + 1);
    const auto pos = img.bytes.begin() + static_cast<std::ptrdiff_t>(framed.at.at(beforeTag));
    img.bytes.insert(pos, chunk.bytes.begin(), chunk.bytes.end());
    return img.bytes;
}

TEST(TrackFile, LoadWalkSkipsUnknownChunksAndLetsRepeatedChunksReplace) {
    const TrackData full = MakeFullTrack();
    const auto framed = FrameByHand(full);
    const std::vector<uint8_t> canonical = framed.bytes;

    // An unknown chunk with content, whose Size covers its nested bytes.
    ByteImage junk;
    junk.Tag("XTRA").Long(20).Chars("ABCDEFGHIJKLMNOP").Long(1);
    TrackData skipped = Decoded(WithTopLevelChunk(framed, "ENVC", junk));
    EXPECT_EQ(Joined(DiffTracks(full, skipped)), "");
    EXPECT_EQ(EncodeTrack(skipped), canonical);

    // A second INFO after SCEN replaces the first one's text.
    ByteImage info;
    info.Tag("INFO").Long(28).Zeros(16).Text("late").Long(0);
    TrackData repeated = Decoded(WithTopLevelChunk(framed, "ENVC", info));
    EXPECT_EQ(repeated.Info.Text, "late");

    // Bytes after the last expected chunk are ignored.
    std::vector<uint8_t> trailing = canonical;
    trailing.insert(trailing.end(), {'J', 'U', 'N', 'K', 0xFF});
    EXPECT_EQ(Joined(DiffTracks(full, Decoded(trailing))), "");
}

TEST(TrackFile, WrongSizesAndChildCountsInTheFileAreRewrittenOnSave) {
    const TrackData full = MakeFullTrack();
    const auto framed = FrameByHand(full);
    ByteImage img;
    img.bytes = framed.bytes;
    // Known chunks' sizes are not used to walk; moving a child from TRCK to the
    // header keeps the number of chunks the walk expects.
    img.PatchLong(framed.at.at("INFO.size"), 123456);
    img.PatchLong(framed.at.at("CORV.size"), 1);
    img.PatchLong(framed.at.at("TRCK.children"), 3);
    img.PatchLong(framed.at.at("CORV.children"), 5);
    TrackData loaded = Decoded(img.bytes);
    EXPECT_EQ(loaded.Info.Size, 123456);
    EXPECT_EQ(loaded.Trck.ChildCount, 3);
    EXPECT_EQ(EncodeTrack(loaded), framed.bytes);
}

TEST(TrackFile, StringLengthsBelowOneLoadAsEmptyWhereTheLayoutAllowsIt) {
    TrackData t = MakeFullTrack();
    t.Info.Text.clear();
    t.Envc.Text1.clear();
    t.Trck.Entries[0].Name.clear();
    const auto framed = FrameByHand(t);
    ByteImage img;
    img.bytes = framed.bytes;
    img.PatchLong(framed.at.at("INFO.length"), -7);
    img.PatchLong(framed.at.at("ENVC.length1"), -1);
    img.PatchLong(framed.at.at("TRCK.name"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(Joined(DiffTracks(t, Decoded(img.bytes))), "");
}

TEST(TrackFile, DecodingAgainClearsWhatTheFirstFileLeft) {
    TrackData t = Decoded(FrameByHand(MakeFullTrack()).bytes);
    ASSERT_TRUE(t.Tera.Present);
    const LoadResult r = DecodeTrack(FrameByHand(TrackData{}).bytes, t);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_EQ(Joined(DiffTracks(TrackData{}, t)), "");
    EXPECT_FALSE(t.Tera.Present);
    EXPECT_EQ(EncodeTrack(t).size(), 665u);

    // A refused file leaves the track cleared.
    t = MakeFullTrack();
    EXPECT_FALSE(DecodeTrack(ByteImage().Tag("RIFF").Long(4).bytes, t).ok);
    EXPECT_EQ(Joined(DiffTracks(TrackData{}, t)), "");
}

TEST(TrackFile, RecordsInconsistentWithTheirCountsStillSaveALoadableFile) {
    TrackData t;
    t.Bezr.VertexCount = 5;  // the array holds one vertex
    t.Fund.Count = -4;
    t.Catw.Count = 1;
    t.Catw.Items[0].ExtraLength = 3;  // no bytes held: written as zeros
    t.Tera.Present = true;
    t.Tera.Columns = 4;
    t.Tera.Rows = 4;  // the grid holds one cell
    const std::vector<uint8_t> image = EncodeTrack(t);
    EXPECT_EQ(static_cast<int32_t>(image.size()), t.Header.Size + 8);
    TrackData loaded = Decoded(image);
    EXPECT_EQ(loaded.Bezr.VertexCount, 1);
    EXPECT_EQ(loaded.Fund.Count, 0);
    EXPECT_EQ(loaded.Catw.Items[0].Extra, (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(loaded.Tera.Grid.size(), 16u);
}

}  // namespace
}  // namespace cvqrn
