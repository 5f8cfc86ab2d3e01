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

// The writers and the readers against images framed by hand from the layout
// tables (every byte, sizes measured from the bytes, the fixed tree). The
// readers also take the forms the save never writes itself: Boolean bytes of
// 0x01, non-zero reserved runs and top bytes of 24-bit values, lower-case
// tags, another version, odd block lengths.
TEST(TrackFile, EncodeMatchesTheHandFramedLayoutAndDecodeKeepsEveryField) {
    TrackData noTerrain = MakeFullTrack();
    noTerrain.Tera.Present = false;
    // Many segments of a type without a block (33 bytes each): their count
    // must be bounded by that size, not by a block type's.
    TrackData blockless;
    blockless.Segm.SegmentCount = 200;
    blockless.Segm.Segments.resize(201);
    for (TrackSegment& s : blockless.Segm.Segments) s.Type = 7;
    const TrackData tracks[] = {TrackData{}, MakeFullTrack(), noTerrain, blockless,
                                testsupport::MakeLargeTrack(7, 5, 9, 11)};
    const FrameOptions forms[] = {
        {},
        {.trueByte = 0x01},
        {.reservedByte = 0xAB, .u24TopByte = 0xEE},
        {.lowerCaseTags = true},
        {.version = {1, 2, 0, 0}},
        {.segmentBlockLength = 9999},
    };
    for (const TrackData& track : tracks) {
        const std::vector<uint8_t> image = EncodeTrack(track).image;
        ASSERT_EQ(image, FrameByHand(track).bytes) << "track " << &track - tracks;
        for (const FrameOptions& form : forms) {
            SCOPED_TRACE(testing::Message()
                         << "track " << &track - tracks << ", form " << &form - forms);
            const TrackData loaded = Decoded(FrameByHand(track, form).bytes);
            // The diff also sees the blocks a segment's type does not select: they stay zero.
            EXPECT_EQ(DiffTracks(track, loaded), NoDifference{});
            EXPECT_EQ(loaded.Header.Version, form.version);
            EXPECT_EQ(EncodeTrack(loaded).image, image);
        }
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
    std::array<TrackData, 5> broken;
    broken.fill(MakeFullTrack());  // its arrays hold one entry more than counted
    broken[0].Bezr.VertexCount = 8;
    broken[1].Fund.Count = -4;
    broken[2].Rasc.Items[0].Count = 4;
    broken[3].Catw.Items[1].ExtraLength = 3;
    broken[4].Tera.Rows = 3;
    const char* said[] = {"the vertex count says 8 but 7 are held", "the FUND count says -4",
                          "a RASC entry's item count says 4 but 3 are held",
                          "a CATW entry's extra length says 3 but 0 bytes",
                          "the terrain grid size says 9 but 6 are held"};
    for (size_t i = 0; i < broken.size(); ++i) {
        const EncodeResult r = EncodeTrack(broken[i]);
        EXPECT_FALSE(r);
        EXPECT_TRUE(r.image.empty());
        EXPECT_NE(r.reason.find(said[i]), std::string::npos) << r.reason;
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
