// Encoding and decoding against images framed by hand, and the refusals of
// damaged and hostile files. Run under the sanitizer preset, the refusals
// also prove that no read passes the image.
#include "trackfile/track_file.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/support/track_builder.h"

namespace cvqrn {
namespace {

using namespace testsupport;

using NoDifference = std::vector<std::string>;

// The writers and the readers against images framed by hand, the readers
// also in the forms the save never writes: Boolean bytes of 0x01, non-zero
// reserved runs and 24-bit top bytes, lower-case tags, odd block lengths.
TEST(TrackFile, EncodeMatchesTheHandFramedLayoutAndDecodeKeepsEveryField) {
    TrackData noTerrain = MakeFullTrack();
    noTerrain.Tera.Present = false;
    // Many segments of a type without a block (33 bytes each): their count
    // must be bounded by that size, not by a block type's.
    TrackData blockless;
    blockless.Segm.SegmentCount = 200;
    blockless.Segm.Segments.resize(201);
    for (TrackSegment& s : blockless.Segm.Segments) s.Type = 7;
    const TrackData tracks[] = {MakeFullTrack(), TrackData{}, noTerrain, blockless,
                                MakeLargeTrack(7, 5, 9, 11)};
    const FrameOptions forms[] = {
        {},
        {.trueByte = 0x01},
        {.reservedByte = 0xAB, .u24TopByte = 0xEE},
        {.lowerCaseTags = true},
        {.version = {1, 2, 0, 0}},
        {.segmentBlockLength = 9999},
    };
    TrackData loaded;  // decoded into again and again: nothing of one file may stay for the next
    for (const TrackData& track : tracks) {
        const std::vector<uint8_t> image = EncodeTrack(track).image;
        ASSERT_EQ(image, FrameByHand(track).bytes) << "track " << &track - tracks;
        for (const FrameOptions& form : forms) {
            SCOPED_TRACE(testing::Message()
                         << "track " << &track - tracks << ", form " << &form - forms);
            ASSERT_TRUE(DecodeTrack(FrameByHand(track, form).bytes, loaded));
            // The diff also sees the blocks a segment's type does not select: they stay zero.
            EXPECT_EQ(DiffTracks(track, loaded), NoDifference{});
            EXPECT_EQ(loaded.Header.Version, form.version);
            EXPECT_EQ(EncodeTrack(loaded).image, image);
        }
    }
}

// What the load tolerates: unknown chunks (their Size covering nested bytes),
// bytes after the last chunk, wrong Sizes of known chunks, a child moved from
// TRCK to the header, and string lengths below one where the layout reads
// them as empty. Each file loads whole and saves as the canonical file.
TEST(TrackFile, LoadToleratesWhatItDoesNotActOn) {
    TrackData emptyTexts = MakeFullTrack();
    emptyTexts.Info.Text.clear();
    emptyTexts.Envc.Text1.clear();
    using Patches = std::vector<std::pair<const char*, int32_t>>;
    const std::tuple<TrackData, Patches, ByteImage> cases[] = {
        {MakeFullTrack(),
         {{"INFO.size", 123456}, {"CORV.size", 1}, {"TRCK.children", 3}, {"CORV.children", 6}},
         ByteImage().Tag("XTRA").Long(20).Chars("ABCDEFGHIJKLMNOP").Long(1)},
        {emptyTexts,
         {{"INFO.length", -7},
          {"ENVC.length1", -1},
          {"TRCK.name", std::numeric_limits<int32_t>::min()}},
         ByteImage()},
    };
    for (const auto& [track, patches, chunk] : cases) {
        const auto framed = FrameByHand(track);
        ByteImage img{framed.bytes};
        for (auto [field, v] : patches) img.PatchLong(framed.at.at(field), v);
        // Before ENVC, counted as a header child by the patch above.
        img.bytes.insert(img.bytes.begin() + static_cast<std::ptrdiff_t>(framed.at.at("ENVC")),
                         chunk.bytes.begin(), chunk.bytes.end());
        img.Chars("JUNK").Byte(0xFF);
        TrackData loaded;
        ASSERT_TRUE(DecodeTrack(img.bytes, loaded));
        EXPECT_EQ(DiffTracks(track, loaded), NoDifference{});
        EXPECT_EQ(EncodeTrack(loaded).image, framed.bytes);
    }
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
    for (const TrackData& t : broken) {
        const EncodeResult r = EncodeTrack(t);
        EXPECT_FALSE(r) << &t - broken.data();
        EXPECT_TRUE(r.image.empty());
        EXPECT_TRUE(Contains(r.message, "inconsistent")) << r.message;
    }
}

// Damaged and hostile files are refused with a reason, and so is every
// truncation of a whole file and a file whose track would take too much memory.
TEST(Loader, RefusesHostileFilesTruncationsAndTracksTooLargeForMemory) {
    for (const auto& file : HostileFiles()) {
        TrackData t;
        const Result r = DecodeTrack(file.bytes, t);
        EXPECT_FALSE(r) << file.name;
        EXPECT_TRUE(Contains(r.message, file.reasonPart)) << file.name << ": " << r.message;
    }
    for (const bool terrain : {true, false}) {
        TrackData source = MakeFullTrack();
        source.Tera.Present = terrain;
        const std::vector<uint8_t> image = FrameByHand(source).bytes;
        TrackData t;
        for (size_t n = 0; n < image.size(); ++n) {
            ASSERT_FALSE(DecodeTrack(std::span(image.data(), n), t)) << n << " bytes loaded";
        }
    }
    // Millions of four-byte RASC entries, 32 bytes each in memory.
    const int32_t entries = 3000000;
    ByteImage many;
    many.Tag("CORV").Long(0).Byte(1).Byte(3).Zeros(18).Long(1).Tag("RASC").Long(40 + 4 * entries);
    many.Zeros(16).Long(entries).Zeros(4 * static_cast<size_t>(entries) + 20);
    TrackData t;
    EXPECT_TRUE(Contains(DecodeTrack(many.bytes, t).message, "too large to load"));
}

}  // namespace
}  // namespace cvqrn
