#include "trackfile/byte_buffer.h"

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <limits>

namespace cvqrn {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ByteBuffer, WritePrimitivesAppendBigEndianPatterns) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> write;
        Bytes expected;
    };
    const Case cases[] = {
        {"Long -1", [](Bytes& b) { WriteLong(b, -1); }, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"Long 1", [](Bytes& b) { WriteLong(b, 1); }, {0x00, 0x00, 0x00, 0x01}},
        {"Long min",
         [](Bytes& b) { WriteLong(b, std::numeric_limits<int32_t>::min()); },
         {0x80, 0x00, 0x00, 0x00}},
        {"Single 1.0", [](Bytes& b) { WriteSingle(b, 1.0f); }, {0x3F, 0x80, 0x00, 0x00}},
        {"Single NaN payload",
         [](Bytes& b) { WriteSingle(b, std::bit_cast<float>(0x7FA12345u)); },
         {0x7F, 0xA1, 0x23, 0x45}},
        {"U24 drops the top byte",
         [](Bytes& b) { WriteU24(b, 0x12345678); },
         {0x00, 0x34, 0x56, 0x78}},
        {"Boolean true", [](Bytes& b) { WriteFlag(b, true); }, {0xFF}},
        {"Boolean false", [](Bytes& b) { WriteFlag(b, false); }, {0x00}},
        {"Tag", [](Bytes& b) { WriteTag(b, "TRCK"); }, {'T', 'R', 'C', 'K'}},
        {"Chars", [](Bytes& b) { WriteChars(b, "a\xE9"); }, {'a', 0xE9}},
        {"empty Chars", [](Bytes& b) { WriteChars(b, ""); }, {}},
        {"Zeros", [](Bytes& b) { WriteZeros(b, 3); }, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        Bytes out = {0xAA};  // writes append after what is there
        c.write(out);
        Bytes expected = {0xAA};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(out, expected) << c.name;
    }
}

TEST(ByteBuffer, ReadPrimitivesDecodeBigEndianAndAdvance) {
    const Bytes image = {0x80, 0x00, 0x00, 0x00,  // Long
                         0xFF, 0x34, 0x56, 0x78,  // U24 with a non-zero top byte
                         0x7F, 0x80, 0x00, 0x01,  // signalling NaN
                         't',  'r',  'C',  'k',   // tag in mixed case
                         0x01, 0x00,              // Boolean bytes
                         'x',  'y'};
    ReadCursor in(image);
    EXPECT_EQ(ReadLong(in), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ReadU24(in), 0x345678);
    EXPECT_EQ(std::bit_cast<uint32_t>(ReadSingle(in)), 0x7F800001u);
    EXPECT_EQ(ReadTag(in), "TRCK");
    EXPECT_TRUE(ReadFlag(in));
    EXPECT_FALSE(ReadFlag(in));
    EXPECT_EQ(ReadChars(in, 0), "");
    EXPECT_EQ(in.Cursor, 18u);
    EXPECT_EQ(ReadChars(in, 2), "xy");
    EXPECT_FALSE(in.Failed);
    EXPECT_EQ(in.Remaining(), 0u);
}

TEST(ByteBuffer, ReadPastTheEndFailsWithoutMovingAndStaysFailed) {
    const Bytes image = {1, 2, 3, 4, 5, 6};
    ReadCursor in(image);
    SkipReserved(in, 3);
    EXPECT_EQ(ReadLong(in), 0);
    EXPECT_TRUE(in.Failed);
    EXPECT_EQ(in.FailedAt, 3u);
    EXPECT_EQ(in.Cursor, 3u);
    // Bytes remain, but a failed cursor reads nothing more.
    EXPECT_EQ(ReadByte(in), 0);
    EXPECT_EQ(in.Cursor, 3u);
    EXPECT_TRUE(in.Problem.empty());
}

TEST(ByteBuffer, ReadCharsRefusesNegativeAndOverlongLengths) {
    const Bytes image(10, 'a');
    for (int32_t n :
         {-1, std::numeric_limits<int32_t>::min(), 11, std::numeric_limits<int32_t>::max()}) {
        ReadCursor in(image);
        EXPECT_EQ(ReadChars(in, n), "") << n;
        EXPECT_TRUE(in.Failed) << n;
        EXPECT_EQ(in.Cursor, 0u) << n;
    }
    ReadCursor in(image);
    EXPECT_EQ(ReadChars(in, 10), std::string(10, 'a'));
}

TEST(ByteBuffer, HasRoomForChecksCountsAgainstTheBytesLeft) {
    const Bytes image(100, 0);
    struct Case {
        int64_t count, each;
        bool fits;
    };
    for (const Case& c : {Case{25, 4, true}, Case{26, 4, false}, Case{0, 60, true},
                          Case{-1, 4, false}, Case{2000000000, 60, false}}) {
        ReadCursor in(image);
        EXPECT_EQ(HasRoomFor(in, c.count, c.each, "things"), c.fits) << c.count << " x " << c.each;
        EXPECT_EQ(in.Failed, !c.fits);
        if (!c.fits) {
            EXPECT_NE(in.Problem.find("things"), std::string::npos) << in.Problem;
        }
    }
}

}  // namespace
}  // namespace cvqrn
