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

}  // namespace
}  // namespace cvqrn
