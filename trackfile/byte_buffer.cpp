#include "trackfile/byte_buffer.h"

#include <sys/mman.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "text/portability.h"
#include "text/words.h"

namespace cvqrn {

namespace {

// Returns the next `n` bytes and advances past them, or nullptr (and marks
// the cursor failed) when fewer than `n` remain.
const uint8_t* Take(ReadCursor& in, size_t n) {
    if (n > in.Remaining()) {
        if (!in.Failed) {
            in.Failed = true;
            in.FailedAt = in.Cursor;
        }
        return nullptr;
    }
    const uint8_t* p = in.Image.data() + in.Cursor;
    in.Cursor += n;
    return p;
}

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void AppendBigEndian32(std::vector<uint8_t>& out, uint32_t v) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    out.insert(out.end(), bytes, bytes + 4);
}

}  // namespace

void OfferConsumed(ReadCursor& in, size_t upTo) {
    if (!in.Consumed || upTo < in.ConsumedOffered + kConsumedStep) return;
    in.ConsumedOffered = upTo;
    in.Consumed(upTo);
}

void Refuse(ReadCursor& in, std::string problem) {
    if (in.Failed) return;
    in.Failed = true;
    in.FailedAt = in.Cursor;
    in.Problem = std::move(problem);
}

bool HasRoomFor(ReadCursor& in, int64_t count, int64_t bytesEach, std::string_view what) {
    if (in.Failed) return false;
    if (count < 0) {
        Refuse(in, "negative count " + std::to_string(count) + " of " + std::string(what));
        return false;
    }
    // Compared by division: count x bytesEach may pass 64 bits (a terrain
    // grid's cell count is a product of two Longs).
    const auto left = static_cast<int64_t>(in.Remaining());
    if (bytesEach > 0 && count > left / bytesEach) {
        const bool fits = count <= std::numeric_limits<int64_t>::max() / bytesEach;
        Refuse(in, std::to_string(count) + " " + std::string(what) + " need " +
                       (fits ? "at least " + std::to_string(count * bytesEach)
                             : std::string("more than 2^63")) +
                       " bytes but only " + std::to_string(left) + " remain");
        return false;
    }
    return true;
}

bool Charge(ReadCursor& in, int64_t bytes, std::string_view what) {
    if (in.Failed) return false;
    if (bytes <= in.MemoryLimit - in.MemoryUsed) {
        in.MemoryUsed += bytes;
        return true;
    }
    Refuse(in, "its " + std::string(what) + " would take the track past " +
                   std::to_string(in.MemoryLimit / (1024 * 1024)) + " MB of memory");
    in.OutOfMemoryBudget = true;
    return false;
}

uint8_t ReadByte(ReadCursor& in) {
    const uint8_t* p = Take(in, 1);
    return p ? *p : uint8_t{0};
}

int32_t ReadLong(ReadCursor& in) {
    const uint8_t* p = Take(in, 4);
    return p ? static_cast<int32_t>(BigEndian32(p)) : 0;
}

float ReadSingle(ReadCursor& in) {
    const uint8_t* p = Take(in, 4);
    return port::BitCast<float>(p ? BigEndian32(p) : uint32_t{0});
}

int32_t ReadU24(ReadCursor& in) {
    const uint8_t* p = Take(in, 4);
    return p ? static_cast<int32_t>(BigEndian32(p) & 0x00FFFFFFu) : 0;
}

std::string ReadChars(ReadCursor& in, int32_t n) {
    if (n < 0) {
        Refuse(in, "negative string length " + std::to_string(n));
        return {};
    }
    if (n == 0) return {};
    // Checked against the bytes left and the memory budget before the string is allocated.
    const uint8_t* p = Take(in, static_cast<size_t>(n));
    if (!p || !Charge(in, n, "text")) return {};
    return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
}

std::string ReadTag(ReadCursor& in) {
    std::string tag = ReadChars(in, 4);
    for (char& c : tag) c = AsciiUpper(c);
    return tag;
}

void SkipReserved(ReadCursor& in, size_t n) {
    Take(in, n);
}

void AdviseLargePages(void* p, size_t bytes) {
#if defined(MADV_HUGEPAGE) && !defined(__EMSCRIPTEN__)
    constexpr uintptr_t kLarge = uintptr_t{2} << 20;
    const auto from = (reinterpret_cast<uintptr_t>(p) + kLarge - 1) / kLarge * kLarge;
    const auto to = (reinterpret_cast<uintptr_t>(p) + bytes) / kLarge * kLarge;
    if (to > from) (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

void GiveBackPages(void* p, size_t bytes) {
#if defined(MADV_DONTNEED) && !defined(__EMSCRIPTEN__)
    (void)::madvise(p, bytes, MADV_DONTNEED);
#else
    (void)p;
    (void)bytes;
#endif
}

void AppendSingles(ReadCursor& in, size_t n, std::vector<float>& out) {
    const uint8_t* p = Take(in, n * 4);
    if (!p) return;
    constexpr size_t kSlice = kConsumedStep / 4;
    for (size_t done = 0; done < n;) {
        // Each slice is zeroed and filled while in the cache; a plain loop the
        // compiler turns into wide byte swaps.
        const size_t count = std::min(kSlice, n - done);
        const size_t at = out.size();
        out.resize(at + count);
        float* to = out.data() + at;
        for (size_t i = 0; i < count; ++i) to[i] = port::BitCast<float>(BigEndian32(p + 4 * i));
        p += 4 * count;
        done += count;
        // The cursor already stands past the whole run; the slices behind `p` are read.
        OfferConsumed(in, static_cast<size_t>(p - in.Image.data()));
    }
}

std::vector<uint8_t> ReadBytes(ReadCursor& in, size_t n) {
    const uint8_t* p = Take(in, n);
    return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
}

void WriteByte(std::vector<uint8_t>& out, uint8_t b) {
    out.push_back(b);
}

void WriteLong(std::vector<uint8_t>& out, int32_t v) {
    AppendBigEndian32(out, static_cast<uint32_t>(v));
}

void WriteSingle(std::vector<uint8_t>& out, float f) {
    AppendBigEndian32(out, port::BitCast<uint32_t>(f));
}

void WriteU24(std::vector<uint8_t>& out, int32_t v) {
    AppendBigEndian32(out, static_cast<uint32_t>(v) & 0x00FFFFFFu);
}

void WriteChars(std::vector<uint8_t>& out, std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
}

void WriteTag(std::vector<uint8_t>& out, std::string_view t) {
    for (size_t i = 0; i < 4; ++i) {
        out.push_back(i < t.size() ? static_cast<uint8_t>(t[i]) : uint8_t{' '});
    }
}

void WriteZeros(std::vector<uint8_t>& out, size_t n) {
    out.insert(out.end(), n, uint8_t{0});
}

void WriteSingles(std::vector<uint8_t>& out, std::span<const float> values) {
    // Sized once and filled in place: the grid is most of a large file.
    size_t at = out.size();
    out.resize(at + values.size() * 4);
    for (float f : values) {
        const uint32_t bits = port::BitCast<uint32_t>(f);
        out[at++] = static_cast<uint8_t>(bits >> 24);
        out[at++] = static_cast<uint8_t>(bits >> 16);
        out[at++] = static_cast<uint8_t>(bits >> 8);
        out[at++] = static_cast<uint8_t>(bits);
    }
}

void WriteBytes(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace cvqrn
