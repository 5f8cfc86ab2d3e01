// libFuzzer harness over the heartline generator: every input that loads is
// rebuilt with small settings chosen from a hash of the input (so a mutation
// may change the track, the settings or both, and a finding replays from its
// input alone). A run may fail, but never with a sanitizer report or a hang;
// a run that succeeds must leave only finite coordinates and rolls, and the
// new track must save and load again to the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "heartline/generator.h"
#include "trackfile/track_file.h"

namespace {

struct Settings {
    int16_t segments;
    int16_t precision;
    double heartline;
    double startSpeed;
    double endSpeed;
    int16_t filter;
    bool smooth;
};

// FNV-1a over the whole input.
uint64_t Hash(std::span<const uint8_t> bytes) {
    uint64_t h = 14695981039346656037ull;
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

// Small settings (few segments, low precision, a short filter), with speeds
// that sometimes meet, cross or make the train valley; every other input
// takes the smooth rebuild.
Settings SettingsFor(uint64_t h) {
    const auto take = [&h](unsigned range) {
        const auto v = static_cast<unsigned>(h % range);
        h /= range;
        return v;
    };
    Settings s{};
    s.segments = static_cast<int16_t>(1 + take(24));
    s.precision = static_cast<int16_t>(1 + take(5));
    s.heartline = (static_cast<double>(take(41)) - 20.0) / 10.0;
    s.startSpeed = static_cast<double>(take(31));
    s.endSpeed = take(4) == 0 ? s.startSpeed : static_cast<double>(take(31));
    s.filter = static_cast<int16_t>(take(9));
    s.smooth = take(2) == 1;
    return s;
}

// The control polygon's length (m), at least the loaded path's: the smooth
// rebuild samples the path every quarter metre and, before it refuses a
// track, may fit it a hundred times: under the fuzzer's instrumentation that
// took 8 s on a 400 m track with loops. Longer tracks take the default
// rebuild only, so that a run stays well inside the runner's 30 s limit and
// the harness keeps its pace.
double PolygonLength(const cvqrn::TrackData& track) {
    const auto& v = track.Bezr.Vertices;
    const size_t count = std::min(static_cast<size_t>(std::max(track.Bezr.VertexCount, 0)),
                                  v.size());
    double length = 0.0;
    const auto add = [&length](const cvqrn::Vec3& a, const cvqrn::Vec3& b) {
        const auto d = [](float p, float q) { return static_cast<double>(q) - static_cast<double>(p); };
        const double dx = d(a.x, b.x), dy = d(a.y, b.y), dz = d(a.z, b.z);
        length += std::sqrt(dx * dx + dy * dy + dz * dz);
    };
    for (size_t i = 1; i < count; ++i) {
        add(v[i - 1].Pos, v[i - 1].CtrlOut);
        add(v[i - 1].CtrlOut, v[i].CtrlIn);
        add(v[i].CtrlIn, v[i].Pos);
    }
    return length;
}
constexpr double kLongestSmoothFuzz = 500.0;

// The one call of the generator, kept apart so that a change of its
// signature touches only this function.
bool Generate(cvqrn::TrackData& track, const Settings& s) {
    cvqrn::HeartlineSettings settings{s.segments, s.precision, s.heartline, s.startSpeed,
                                      s.endSpeed, s.filter};
    settings.smooth = s.smooth && PolygonLength(track) <= kLongestSmoothFuzz;
    return static_cast<bool>(cvqrn::GenerateHeartline(track, settings, nullptr));
}

bool Finite(const cvqrn::Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_heartline: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);
    cvqrn::TrackData track;
    if (!cvqrn::DecodeTrack(input, track)) return 0;
    if (!Generate(track, SettingsFor(Hash(input)))) return 0;

    const auto count = static_cast<size_t>(track.Bezr.VertexCount);
    if (count > track.Bezr.Vertices.size()) Fail("the vertex count exceeds the vertices");
    for (size_t i = 0; i < count; ++i) {
        const cvqrn::TrackVertex& v = track.Bezr.Vertices[i];
        if (!Finite(v.Pos) || !Finite(v.CtrlIn) || !Finite(v.CtrlOut) || !std::isfinite(v.Roll)) {
            Fail("the new track holds a non-finite coordinate or roll");
        }
    }
    const std::vector<uint8_t> image = cvqrn::EncodeTrack(track).image;
    if (image.empty()) Fail("the new track does not encode");
    cvqrn::TrackData again;
    if (!cvqrn::DecodeTrack(image, again) || cvqrn::EncodeTrack(again).image != image) {
        Fail("the new track does not load again to the same bytes");
    }
    return 0;
}
