#include "tests/support/track_builder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace cvqrn::testsupport {

ByteImage& ByteImage::Long(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(u >> shift));
    return *this;
}

ByteImage& ByteImage::Single(float f) {
    return Long(static_cast<int32_t>(std::bit_cast<uint32_t>(f)));
}

ByteImage& ByteImage::Chars(std::string_view s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
}

ByteImage& ByteImage::Fill(size_t n, uint8_t b) {
    bytes.insert(bytes.end(), n, b);
    return *this;
}

void ByteImage::PatchLong(size_t at, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (size_t i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(u >> (24 - 8 * i));
}

std::vector<std::string> DiffTracks(const TrackData& a, const TrackData& b) {
    std::vector<std::string> lines;
    const auto compare = [&lines](const TrackData& x, const TrackData& y, std::string what) {
        const std::vector<uint8_t> p = FrameByHand(x).bytes, q = FrameByHand(y).bytes;
        if (p == q) return;
        const auto at = std::mismatch(p.begin(), p.end(), q.begin(), q.end()).first - p.begin();
        lines.push_back(what + " differ at byte " + std::to_string(at));
    };
    compare(a, b, "fields");
    // The blocks a segment's type leaves out of the file: each segment framed again as every type.
    for (int32_t type = 1; type <= 4; ++type) {
        TrackData x, y;
        x.Segm = a.Segm;
        y.Segm = b.Segm;
        for (TrackData* t : {&x, &y}) {
            for (auto& s : t->Segm.Segments) s.Type = type;
        }
        compare(x, y, "type " + std::to_string(type) + " blocks");
    }
    return lines;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cvqrn-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace cvqrn::testsupport
