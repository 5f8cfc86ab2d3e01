// Damaged and hostile files: each must be refused with a reason that names
// the chunk (and the byte where it can), without reading outside the image or
// allocating what the file cannot describe.
// Run under the sanitizer preset, these also prove the absence of overreads.
#include <gtest/gtest.h>

#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

namespace cvqrn {
namespace {

using testsupport::FrameByHand;
using testsupport::MakeFullTrack;

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

// Every single byte overwritten with values that make counts and lengths
// huge or negative: whatever loads must also save.
TEST(Loader, SurvivesEverySingleByteCorruption) {
    const std::vector<uint8_t> image = FrameByHand(MakeFullTrack()).bytes;
    int loaded = 0;
    for (size_t i = 0; i < image.size(); ++i) {
        for (const uint8_t value : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0x80}, uint8_t{0xFF}}) {
            std::vector<uint8_t> damaged = image;
            damaged[i] = value;
            TrackData t;
            if (DecodeTrack(damaged, t).ok) {
                ++loaded;
                TrackData again;
                ASSERT_TRUE(DecodeTrack(EncodeTrack(t).image, again).ok) << "byte " << i;
            }
        }
    }
    EXPECT_GT(loaded, 0);  // most single values land in payload fields
}

}  // namespace
}  // namespace cvqrn
