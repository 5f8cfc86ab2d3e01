#include "trackfile/byte_buffer.h"

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <limits>

namespace cvqrn {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ByteBuffer, WritePrimitivesAppendBigEndianPatterns) {
    const std::pair<std::function<void(Bytes&)>, Bytes> cases[] = {
        {[](Bytes& b) { WriteLong(b, -1); }, {0xFF, 0xFF, 0xFF, 0xFF}},
        {[](Bytes& b) { WriteLong(b, 1); }, {0x00, 0x00, 0x00, 0x01}},
        {[](Bytes& b) { WriteSingle(b, 1.0f); }, {0x3F, 0x80, 0x00, 0x00}},
        {[](Bytes& b) { WriteU24(b, 0x12345678); }, {0x00, 0x34, 0x56, 0x78}},
        {[](Bytes& b) { WriteFlag(b, true); }, {0xFF}},
        {[](Bytes& b) { WriteChars(b, "a\xE9"); }, {'a', 0xE9}},
        {[](Bytes& b) { WriteChars(b, ""); }, {}},
    };
    int row = 0;
    for (const auto& [write, appended] : cases) {
        Bytes out = {0xAA};  // writes append after what is there
        write(out);
        Bytes expected = {0xAA};
        expected.insert(expected.end(), appended.begin(), appended.end());
        EXPECT_EQ(out, expected) << "row " << row++;
    }
}

TEST(ByteBuffer, ReadPrimitivesDecodeBigEndianAndAdvance) {
    const Bytes image = {0x80, 0x00, 0x00, 0x00,  // Long
                         0xFF, 0x34, 0x56, 0x78,  // U24 with a non-zero top byte
                         0x7F, 0x80, 0x00, 0x01,  // signalling NaN
                         't',  'r',  'C',  'k',   // tag in mixed case
                         0x01, 0x00, 'x',  'y'};  // Boolean bytes, characters
    ReadCursor in(image);
    EXPECT_EQ(ReadLong(in), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ReadU24(in), 0x345678);
    EXPECT_EQ(std::bit_cast<uint32_t>(ReadSingle(in)), 0x7F800001u);
    EXPECT_EQ(ReadTag(in), "TRCK");
    EXPECT_TRUE(ReadFlag(in));
    EXPECT_FALSE(ReadFlag(in));
    EXPECT_EQ(ReadChars(in, 0), "");
    EXPECT_EQ(ReadChars(in, 2), "xy");
    EXPECT_FALSE(in.Failed);
    EXPECT_EQ(in.Remaining(), 0u);
}

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
