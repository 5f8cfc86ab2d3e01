// Encoding and decoding against images framed by hand, and the refusals of
// damaged and hostile files. Run under the sanitizer preset, the refusals
// also prove that no read passes the image.
#include "trackfile/track_file.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/support/track_builder.h"

namespace cvqrn {
namespace {

using testsupport::ByteImage;
using testsupport::DiffTracks;
using testsupport::FrameByHand;
using testsupport::FrameOptions;
using testsupport::MakeFullTrack;

using NoDifference = std::vector<std::string>;

TrackData Decoded(std::span<const uint8_t> image) {
    TrackData t;
    const LoadResult r = DecodeTrack(image, t);
    EXPECT_TRUE(r.ok) << r.reason;
    return t;
}

// The writers against images framed by hand from the layout tables (every
// byte, sizes measured from the bytes, the fixed tree), then load and save again.
TEST(TrackFile, EncodeMatchesTheHandFramedLayoutAndRoundTripsEveryField) {
    TrackData noTerrain = MakeFullTrack();
    noTerrain.Tera.Present = false;
    // Many segments of a type without a block (33 bytes each): their count
    // must be bounded by that size, not by a block type's.
    TrackData blockless;
    blockless.Segm.SegmentCount = 200;
    blockless.Segm.Segments.resize(201);
    for (TrackSegment& s : blockless.Segm.Segments) s.Type = 7;
    const std::pair<const char*, TrackData> tracks[] = {
        {"empty", TrackData{}},
        {"full", MakeFullTrack()},
        {"full without terrain", noTerrain},
        {"blockless segments", blockless},
        {"large", testsupport::MakeLargeTrack(7, 5, 9, 11)}};
    for (const auto& [name, track] : tracks) {
        const std::vector<uint8_t> image = EncodeTrack(track).image;
        ASSERT_EQ(image, FrameByHand(track).bytes) << name;
        TrackData loaded = Decoded(image);
        EXPECT_EQ(loaded.Header.Version, (std::array<uint8_t, 4>{1, 3, 0, 0})) << name;
        EXPECT_EQ(DiffTracks(track, loaded), NoDifference{}) << name;
        EXPECT_EQ(EncodeTrack(loaded).image, image) << name;
    }
}

// The readers against hand-framed images, including the forms the save never
// writes itself: Boolean bytes of 0x01, non-zero reserved runs and top bytes
// of 24-bit values, lower-case tags, another version, odd block lengths.
TEST(TrackFile, DecodeKeepsEveryFieldOfHandFramedFiles) {
    const FrameOptions cases[] = {
        {},
        {.trueByte = 0x01},
        {.reservedByte = 0xAB, .u24TopByte = 0xEE},
        {.lowerCaseTags = true},
        {.version = {1, 2, 0, 0}},
        {.segmentBlockLength = 9999},
    };
    const TrackData full = MakeFullTrack();
    const std::vector<uint8_t> canonical = FrameByHand(full).bytes;
    for (const FrameOptions& options : cases) {
        const TrackData loaded = Decoded(FrameByHand(full, options).bytes);
        const int row = static_cast<int>(&options - cases);
        // The diff also sees the blocks a segment's type does not select: they stay zero.
        EXPECT_EQ(DiffTracks(full, loaded), NoDifference{}) << "row " << row;
        EXPECT_EQ(loaded.Header.Version, options.version) << "row " << row;
        EXPECT_EQ(EncodeTrack(loaded).image, canonical) << "row " << row;
    }
}

TEST(TrackFile, LoadWalkSkipsUnknownChunksAndLetsRepeatedChunksReplace) {
    const TrackData full = MakeFullTrack();
    const auto framed = FrameByHand(full);
    // `chunk` inserted before ENVC as a fifth header child.
    const auto withChunk = [&](const ByteImage& chunk) {
        ByteImage img{framed.bytes};
        img.PatchLong(framed.at.at("CORV.children"), 5);
        img.bytes.insert(img.bytes.begin() + static_cast<std::ptrdiff_t>(framed.at.at("ENVC")),
                         chunk.bytes.begin(), chunk.bytes.end());
        return img.bytes;
    };
    // An unknown chunk with content, whose Size covers its nested bytes.
    const auto junk = ByteImage().Tag("XTRA").Long(20).Chars("ABCDEFGHIJKLMNOP").Long(1);
    EXPECT_EQ(DiffTracks(full, Decoded(withChunk(junk))), NoDifference{});

    // A second INFO after SCEN replaces the first one's text.
    const auto info = ByteImage().Tag("INFO").Long(28).Zeros(16).Text("late").Long(0);
    EXPECT_EQ(Decoded(withChunk(info)).Info.Text, "late");

    // Bytes after the last expected chunk are ignored.
    std::vector<uint8_t> trailing = framed.bytes;
    trailing.insert(trailing.end(), {'J', 'U', 'N', 'K', 0xFF});
    EXPECT_EQ(DiffTracks(full, Decoded(trailing)), NoDifference{});
}

// Values the load stores but does not act on, or reads as empty: the track
// loads whole and saves as the canonical file.
TEST(TrackFile, LoadIgnoresWrongSizesAndChildCountsAndEmptiesShortLengths) {
    TrackData emptyTexts = MakeFullTrack();
    emptyTexts.Info.Text.clear();
    emptyTexts.Envc.Text1.clear();
    using Patches = std::vector<std::pair<const char*, int32_t>>;
    const std::pair<TrackData, Patches> cases[] = {
        // Known chunks' sizes are not used to walk; moving a child from TRCK to
        // the header keeps the number of chunks the walk expects.
        {MakeFullTrack(),
         {{"INFO.size", 123456}, {"CORV.size", 1}, {"TRCK.children", 3}, {"CORV.children", 5}}},
        // String lengths below one where the layout reads them as empty.
        {emptyTexts,
         {{"INFO.length", -7},
          {"ENVC.length1", -1},
          {"TRCK.name", std::numeric_limits<int32_t>::min()}}},
    };
    for (const auto& [track, patches] : cases) {
        const auto framed = FrameByHand(track);
        ByteImage img{framed.bytes};
        for (auto [field, v] : patches) img.PatchLong(framed.at.at(field), v);
        TrackData loaded = Decoded(img.bytes);
        EXPECT_EQ(DiffTracks(track, loaded), NoDifference{});
        EXPECT_EQ(EncodeTrack(loaded).image, framed.bytes);
    }
}

TEST(TrackFile, DecodingAgainClearsWhatTheFirstFileLeft) {
    TrackData t = Decoded(FrameByHand(MakeFullTrack()).bytes);
    ASSERT_TRUE(DecodeTrack(FrameByHand(TrackData{}).bytes, t).ok);
    EXPECT_EQ(DiffTracks(TrackData{}, t), NoDifference{});  // TERA included

    // A file refused for its magic leaves the track cleared.
    t = MakeFullTrack();
    EXPECT_FALSE(DecodeTrack(ByteImage().Tag("RIFF").Long(4).bytes, t).ok);
    EXPECT_EQ(DiffTracks(TrackData{}, t), NoDifference{});
}

// A record whose counts do not match its arrays is refused, not clamped into
// a file that says something else.
TEST(TrackFile, EncodeRefusesRecordsInconsistentWithTheirCounts) {
    using Break = void (*)(TrackData&);
    const std::pair<Break, const char*> cases[] = {
        {[](TrackData& t) { t.Bezr.VertexCount = 2; }, "the vertex count says 2 but 1 are held"},
        {[](TrackData& t) { t.Fund.Count = -4; }, "the FUND count says -4"},
        {[](TrackData& t) {
             t.Rasc.Count = 1;
             t.Rasc.Items[0].Count = 1;
         },
         "a RASC entry's item count says 1 but 0 are held"},
        {[](TrackData& t) {
             t.Catw.Count = 1;
             t.Catw.Items[0].ExtraLength = 3;
         },
         "a CATW entry's extra length says 3 but 0 bytes are held"},
        {[](TrackData& t) {
             t.Tera.Present = true;
             t.Tera.Columns = 4;
             t.Tera.Rows = 4;
         },
         "the terrain grid size says 16 but 1 are held"},
    };
    for (const auto& [brk, reason] : cases) {
        TrackData t;
        brk(t);
        const EncodeResult r = EncodeTrack(t);
        EXPECT_FALSE(r);
        EXPECT_TRUE(r.image.empty());
        EXPECT_NE(r.reason.find(reason), std::string::npos) << r.reason;
    }
}

TEST(Loader, RefusesEveryHostileFileWithAReason) {
    for (const auto& file : testsupport::HostileFiles()) {
        TrackData t;
        const LoadResult r = DecodeTrack(file.bytes, t);
        EXPECT_FALSE(r.ok) << file.name;
        EXPECT_NE(r.reason.find(file.reasonPart), std::string::npos)
            << file.name << ": reason was \"" << r.reason << "\"";
    }
}

TEST(Loader, RefusesEveryTruncation) {
    for (const bool terrain : {true, false}) {
        TrackData source = MakeFullTrack();
        source.Tera.Present = terrain;
        const std::vector<uint8_t> image = FrameByHand(source).bytes;
        TrackData t;
        for (size_t n = 0; n < image.size(); ++n) {
            const std::span<const uint8_t> prefix(image.data(), n);
            ASSERT_FALSE(DecodeTrack(prefix, t).ok) << "prefix of " << n << " bytes loaded";
        }
        EXPECT_TRUE(DecodeTrack(image, t).ok);
    }
}

}  // namespace
}  // namespace cvqrn
