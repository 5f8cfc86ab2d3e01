#include "trackfile/byte_buffer.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace cvqrn {
namespace {

using Bytes = std::vector<uint8_t>;

// The primitives' byte patterns are checked through whole files against the
// hand framer (track_file_test); here the failure rules of the read cursor.
TEST(ByteBuffer, ReadPastTheEndOrOfNegativeLengthFailsWithoutMoving) {
    const Bytes image(6, 'a');
    const std::function<void(ReadCursor&)> reads[] = {
        [](ReadCursor& in) { EXPECT_EQ(ReadLong(in), 0); },
        [](ReadCursor& in) { EXPECT_EQ(ReadChars(in, 4), ""); },
        [](ReadCursor& in) { EXPECT_EQ(ReadChars(in, -1), ""); },
        [](ReadCursor& in) { EXPECT_EQ(ReadChars(in, std::numeric_limits<int32_t>::min()), ""); },
    };
    for (const auto& read : reads) {
        ReadCursor in(image);
        SkipReserved(in, 3);
        read(in);
        EXPECT_TRUE(in.Failed);
        EXPECT_EQ(in.FailedAt, 3u);
        // Bytes remain, but a failed cursor reads nothing more.
        EXPECT_EQ(ReadByte(in), 0);
        EXPECT_EQ(in.Cursor, 3u);
    }
}

}  // namespace
}  // namespace cvqrn
