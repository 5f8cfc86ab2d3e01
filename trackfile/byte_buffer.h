// Big-endian field primitives over an in-memory file image.
//
// A track file is never read or written field by field on disk: the load
// reads the whole file with one read and decodes it from memory, giving the
// decoded bytes' memory back as it goes; the save encodes the track into one
// buffer, sized once, and writes it out each time a block of it is full.
// These primitives are the only place where byte order is handled.
//
// Reading goes through a ReadCursor that knows the bytes left. A read that
// would pass the end of the image reads nothing, returns zero, leaves the
// cursor where it was and marks the cursor failed; every later read on a
// failed cursor reads nothing as well. Callers check `Failed` once at the end
// of a chunk (and before allocating anything sized from the file).
//
// Writing appends to a byte vector; its size is the write cursor. Its room is
// reserved up front, so encoding is linear in the file size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cvqrn {

struct ReadCursor {
    std::span<const uint8_t> Image;
    size_t Cursor = 0;    // index of the next byte to read
    bool Failed = false;  // a read passed the end, or a value was refused
    size_t FailedAt = 0;  // the cursor at the first failure
    std::string Problem;  // why a value was refused; empty when the image simply ran out
    // Memory the decoded track may take, and what Charge has drawn so far.
    int64_t MemoryLimit = std::numeric_limits<int64_t>::max();
    int64_t MemoryUsed = 0;
    bool OutOfMemoryBudget = false;  // the refusal was Charge's
    // Told now and then (at most once per kConsumedStep bytes) that the bytes
    // before the given index will not be read again, so that the owner of the
    // image may give their memory back; empty for an image nobody gives back.
    std::function<void(size_t)> Consumed;
    size_t ConsumedOffered = 0;  // the index last told

    explicit ReadCursor(std::span<const uint8_t> image) : Image(image) {}

    // Bytes between the cursor and the end of the image; 0 once failed.
    size_t Remaining() const { return Failed ? 0 : Image.size() - Cursor; }
};

// How far the cursor moves between two calls of ReadCursor::Consumed.
inline constexpr size_t kConsumedStep = size_t{1} << 20;

// Tells `in.Consumed` that the bytes before `upTo` (the cursor's position
// unless given) are read, when that is kConsumedStep bytes or more past what
// it was told last.
void OfferConsumed(ReadCursor& in, size_t upTo);
inline void OfferConsumed(ReadCursor& in) {
    OfferConsumed(in, in.Cursor);
}

// Marks `in` failed at its cursor with a reason (the first failure wins).
void Refuse(ReadCursor& in, std::string problem);

// True when `count` entries of at least `bytesEach` bytes can still follow the
// cursor. A negative count, or one promising more bytes than remain, refuses
// the cursor with a reason naming `what` ("vertices", "items", ...). Call this
// before sizing any array from a count read from the file.
bool HasRoomFor(ReadCursor& in, int64_t count, int64_t bytesEach, std::string_view what);

// Draws `bytes` of memory for `what` from the cursor's budget before it is
// allocated. A draw past the budget refuses the cursor (OutOfMemoryBudget).
bool Charge(ReadCursor& in, int64_t bytes, std::string_view what);

// One unsigned byte. A Boolean byte is any non-zero value read as true.
uint8_t ReadByte(ReadCursor& in);
// A big-endian 32-bit two's complement integer.
int32_t ReadLong(ReadCursor& in);
// The single whose bit pattern is the big-endian 32-bit value (NaN payloads kept).
float ReadSingle(ReadCursor& in);
// A 24-bit value in 4 bytes: the first byte is ignored, the result is 0 to 2^24 - 1.
int32_t ReadU24(ReadCursor& in);
// `n` bytes as a string, one character per byte. n = 0 gives the empty string;
// a negative n or one past the end refuses the cursor and reads nothing.
std::string ReadChars(ReadCursor& in, int32_t n);
// Four bytes as a tag, converted to upper case (tags compare without regard to case).
std::string ReadTag(ReadCursor& in);
// Advances past a reserved run of `n` bytes without looking at them.
void SkipReserved(ReadCursor& in, size_t n);
// Asks the system to back the memory at `p` with large pages where it has
// them, so that filling a large array takes a few page faults, not one for
// every 4 kB. Only a hint; nothing where the system has no such pages.
void AdviseLargePages(void* p, size_t bytes);

// Gives the memory of the whole pages at `p` (`bytes` a multiple of the page
// size) back to the system; they read as zeros afterwards. Nothing where the
// system cannot.
void GiveBackPages(void* p, size_t bytes);

// Appends `n` singles in a row to `out` (which has room reserved), a slice at
// a time with OfferConsumed between slices; nothing when fewer bytes remain.
void AppendSingles(ReadCursor& in, size_t n, std::vector<float>& out);
// `n` raw bytes, kept as they stand.
std::vector<uint8_t> ReadBytes(ReadCursor& in, size_t n);

inline bool ReadFlag(ReadCursor& in) {
    return ReadByte(in) != 0;
}

// Appends one byte.
void WriteByte(std::vector<uint8_t>& out, uint8_t b);
// Appends v's four bytes, most significant first.
void WriteLong(std::vector<uint8_t>& out, int32_t v);
// Appends the four bytes of f's bit pattern, most significant first.
void WriteSingle(std::vector<uint8_t>& out, float f);
// Appends 0, then bits 23-16, 15-8 and 7-0 of v (bits 31-24 are dropped).
void WriteU24(std::vector<uint8_t>& out, int32_t v);
// Appends one byte per character of s; no length, no terminator.
void WriteChars(std::vector<uint8_t>& out, std::string_view s);
// Appends the first four characters of t (tags are always four characters).
void WriteTag(std::vector<uint8_t>& out, std::string_view t);
// Appends n zero bytes.
void WriteZeros(std::vector<uint8_t>& out, size_t n);
// Appends every single of `values` (bulk WriteSingle, for the terrain grid).
void WriteSingles(std::vector<uint8_t>& out, std::span<const float> values);
// Appends raw bytes as they stand.
void WriteBytes(std::vector<uint8_t>& out, std::span<const uint8_t> bytes);

// A Boolean byte: true is written as 0xFF, false as 0.
inline void WriteFlag(std::vector<uint8_t>& out, bool b) {
    WriteByte(out, b ? uint8_t{0xFF} : uint8_t{0});
}

}  // namespace cvqrn
