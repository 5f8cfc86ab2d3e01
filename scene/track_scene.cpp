#include "scene/track_scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>

#include "text/format.h"

namespace cvqrn::scene {

namespace {

using profile::Cross;
using profile::Dot;

double Length(const Vecd& v) {
    return std::sqrt(Dot(v, v));
}

// `v` scaled to unit length, or `fallback` when it has none.
Vecd UnitOr(const Vecd& v, const Vecd& fallback) {
    const double n = Length(v);
    if (!(n > 1e-12) || !std::isfinite(n)) return fallback;
    return (1.0 / n) * v;
}

Vecd ToVec(const ProfilePoint& p) {
    return {p.x, p.y, p.z};
}

Vecd Lerp(const Vecd& a, const Vecd& b, double f) {
    return a + f * (b - a);
}

void Push(std::vector<float>& out, const Vecd& v) {
    out.push_back(static_cast<float>(v.x));
    out.push_back(static_cast<float>(v.y));
    out.push_back(static_cast<float>(v.z));
}

void Push(std::vector<float>& out, const Rgb& c) {
    out.push_back(c.r);
    out.push_back(c.g);
    out.push_back(c.b);
}

// Appends indices one by one: a range insert of a few calls memmove for each.
template <size_t N>
void PushIndices(std::vector<uint32_t>& out, const std::array<uint32_t, N>& indices) {
    for (uint32_t i : indices) out.push_back(i);
}

// Writes vertices one after another into a mesh's arrays, sized beforehand
// for all of them: no growth checks in the loops that make most of a scene.
class VertexWriter {
  public:
    VertexWriter(TriangleMesh& mesh, size_t vertices) : mesh_(mesh) {
        for (std::vector<float>* a : {&mesh.positions, &mesh.normals, &mesh.colours}) a->resize(3 * vertices);
    }
    uint32_t Count() const { return count_; }
    void Put(const Vecd& position, const Vecd& normal, const Rgb& colour) {
        const size_t i = 3 * static_cast<size_t>(count_++);
        Write(mesh_.positions.data() + i, position);
        Write(mesh_.normals.data() + i, normal);
        float* c = mesh_.colours.data() + i;
        c[0] = colour.r;
        c[1] = colour.g;
        c[2] = colour.b;
    }

  private:
    static void Write(float* out, const Vecd& v) {
        out[0] = static_cast<float>(v.x);
        out[1] = static_cast<float>(v.y);
        out[2] = static_cast<float>(v.z);
    }
    TriangleMesh& mesh_;
    uint32_t count_ = 0;
};

Vecd At(const std::vector<float>& xyz, size_t i) {
    return {static_cast<double>(xyz[3 * i]), static_cast<double>(xyz[3 * i + 1]),
            static_cast<double>(xyz[3 * i + 2])};
}

// The rider's frame at one sample of a track.
struct SampleFrame {
    Vecd rail, heart, tangent, up, left;
};

// The profile's frame: level-down is world down less its part along the
// tangent, turned by the roll about the tangent; up is its opposite. The
// tangent is the rail's direction between the neighbouring samples. Where a
// sample has no frame of its own (vertical track, no roll, a repeated point)
// the nearest framed sample's up is carried over, squared to the tangent.
std::vector<SampleFrame> SampleFrames(const RideProfile& track) {
    const std::vector<ProfileSample>& samples = track.samples;
    const size_t n = samples.size();
    std::vector<SampleFrame> frames(n);
    std::vector<bool> framed(n, false);
    const Vecd worldDown{0.0, -1.0, 0.0};
    for (size_t i = 0; i < n; ++i) {
        SampleFrame& f = frames[i];
        f.rail = ToVec(samples[i].rail);
        f.heart = ToVec(samples[i].heart);
        const Vecd chord = ToVec(samples[std::min(i + 1, n - 1)].rail) -
                           ToVec(samples[i == 0 ? 0 : i - 1].rail);
        f.tangent = UnitOr(chord, {1.0, 0.0, 0.0});
        const double roll = samples[i].roll;
        const Vecd level = worldDown - Dot(worldDown, f.tangent) * f.tangent;
        if (samples[i].verticalTrack || !std::isfinite(roll) || !(Length(chord) > 0.0) ||
            !(Length(level) > 1e-6)) {
            continue;
        }
        const Vecd levelDown = UnitOr(level, worldDown);
        const Vecd side = Cross(f.tangent, levelDown);
        const Vecd down = std::cos(roll) * levelDown - std::sin(roll) * side;
        f.up = -1.0 * down;
        framed[i] = true;
    }
    // Carry the last framed up forward, and the first one back to the start.
    std::optional<Vecd> carried;
    for (size_t i = 0; i < n; ++i) {
        if (framed[i]) {
            carried = frames[i].up;
        } else if (carried) {
            frames[i].up = *carried;
        }
    }
    carried.reset();
    for (size_t i = n; i-- > 0;) {
        if (framed[i]) carried = frames[i].up;
        if (!framed[i] && Length(frames[i].up) == 0.0) frames[i].up = carried.value_or(Vecd{0, 1, 0});
    }
    for (size_t i = 0; i < n; ++i) {
        SampleFrame& f = frames[i];
        f.up = UnitOr(f.up - Dot(f.up, f.tangent) * f.tangent,
                      UnitOr(Cross(f.tangent, Vecd{0.0, 0.0, 1.0}), {0.0, 1.0, 0.0}));
        f.left = Cross(f.up, f.tangent);
    }
    return frames;
}

// Metres of rail from the first sample to each.
std::vector<double> RailDistances(const std::vector<SampleFrame>& frames) {
    std::vector<double> s(frames.size(), 0.0);
    for (size_t i = 1; i < frames.size(); ++i) s[i] = s[i - 1] + Length(frames[i].rail - frames[i - 1].rail);
    return s;
}

Rgb SampleColour(const FeltForces& felt, ForceChannel channel, size_t i) {
    if (ExceedsComfort(felt.vertical[i], felt.lateral[i])) return kExceedColour;
    const std::vector<double>* values[] = {&felt.vertical, &felt.lateral, &felt.longitudinal};
    return ColourAt(ScaleOf(channel), (*values[static_cast<size_t>(channel)])[i]);
}

// Rings of `sides` vertices round both rails at each of `samples`: ring r
// of rail k starts at the returned first vertex + (2 r + k) sides.
uint32_t AddRings(VertexWriter& out, const std::vector<SampleFrame>& frames,
                  const std::vector<Rgb>& colours, const std::vector<size_t>& samples, int sides) {
    const uint32_t first = out.Count();
    std::vector<double> cosines(static_cast<size_t>(sides)), sines(static_cast<size_t>(sides));
    for (size_t k = 0; k < cosines.size(); ++k) {
        const double a = 2.0 * std::numbers::pi * static_cast<double>(k) / sides;
        cosines[k] = std::cos(a);
        sines[k] = std::sin(a);
    }
    for (size_t i : samples) {
        const SampleFrame& f = frames[i];
        for (double side : {-1.0, 1.0}) {
            const Vecd centre = f.rail + (side * kHalfGauge) * f.left;
            for (size_t k = 0; k < cosines.size(); ++k) {
                const Vecd normal = cosines[k] * f.up + sines[k] * f.left;
                out.Put(centre + kRailRadius * normal, normal, colours[i]);
            }
        }
    }
    return first;
}

// Quads between the rings r and r + 1 of both rails for r in [from, to), of
// rings laid out by AddRings from `first`. A ring's vertices run from up
// towards left, which faces outwards for a forward tangent.
void AddTubes(std::vector<uint32_t>& out, uint32_t first, int sides, size_t from, size_t to) {
    const auto n = static_cast<uint32_t>(sides);
    for (size_t r = from; r < to; ++r) {
        for (uint32_t rail = 0; rail < 2; ++rail) {
            const uint32_t ring = first + static_cast<uint32_t>(r) * 2 * n + rail * n;
            const uint32_t next = ring + 2 * n;
            for (uint32_t k = 0; k < n; ++k) {
                const uint32_t k1 = (k + 1) % n;
                PushIndices<6>(out, {ring + k, next + k, ring + k1, ring + k1, next + k, next + k1});
            }
        }
    }
}

// A box of half extents `half` along the three unit axes, one flat-shaded
// face of four vertices per side; its triangles are BoxIndices.
void AddBox(VertexWriter& out, const Vecd& centre, const std::array<Vecd, 3>& axes,
            const std::array<double, 3>& half, const Rgb& colour) {
    for (int axis = 0; axis < 3; ++axis) {
        const Vecd& normalAxis = axes[static_cast<size_t>(axis)];
        const Vecd& u = axes[static_cast<size_t>((axis + 1) % 3)];
        const Vecd& v = axes[static_cast<size_t>((axis + 2) % 3)];
        const double hn = half[static_cast<size_t>(axis)];
        const double hu = half[static_cast<size_t>((axis + 1) % 3)];
        const double hv = half[static_cast<size_t>((axis + 2) % 3)];
        for (double sign : {1.0, -1.0}) {
            const Vecd normal = sign * normalAxis;
            const Vecd face = centre + hn * normal;
            // Corners counter-clockwise seen from outside: u x v = normalAxis.
            const double su = sign;  // mirror the winding on the opposite face
            out.Put(face + (-hu * su) * u + (-hv) * v, normal, colour);
            out.Put(face + (hu * su) * u + (-hv) * v, normal, colour);
            out.Put(face + (hu * su) * u + hv * v, normal, colour);
            out.Put(face + (-hu * su) * u + hv * v, normal, colour);
        }
    }
}

// Two triangles for each of `faces` quads of four vertices from `first`.
void AddQuads(std::vector<uint32_t>& out, uint32_t first, uint32_t faces) {
    for (uint32_t f = 0; f < faces; ++f) {
        const uint32_t base = first + 4 * f;
        PushIndices<6>(out, {base, base + 1, base + 2, base, base + 2, base + 3});
    }
}

// The tie's top face alone: the coarse tie.
void AddTieTop(VertexWriter& out, const TieFrame& tie, const Rgb& colour) {
    const Vecd face = tie.centre + (0.5 * kTieDepth - kTieDrop) * tie.up;
    const Vecd u = (0.5 * kTieWidth) * tie.tangent;  // tangent x left = up
    const Vecd v = (0.5 * kTieLength) * tie.left;
    for (const Vecd& corner : {face - u - v, face + u - v, face + u + v, face - u + v}) {
        out.Put(corner, tie.up, colour);
    }
}

// Where the chunks start and end: a sample every kChunkLength metres of rail
// or so, the first and the last.
std::vector<size_t> ChunkEnds(const std::vector<double>& s) {
    std::vector<size_t> ends{0};
    for (size_t i = 1; i < s.size(); ++i) {
        if (i + 1 == s.size() || s[i] - s[ends.back()] >= kChunkLength) ends.push_back(i);
    }
    return ends;
}

// The samples the coarse levels keep: every chunk end, and between them one
// at least kCoarseSpacing metres of rail past the last kept.
std::vector<size_t> CoarseSamples(const std::vector<double>& s, const std::vector<size_t>& ends) {
    std::vector<size_t> kept;
    kept.reserve(static_cast<size_t>(s.back() / kCoarseSpacing) + ends.size() + 1);
    size_t nextEnd = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const bool end = nextEnd < ends.size() && ends[nextEnd] == i;
        if (end) ++nextEnd;
        if (end || s[i] - s[kept.back()] >= kCoarseSpacing - 1e-6) kept.push_back(i);
    }
    return kept;
}

// A sphere round the rail points of samples [first, last] with room for the
// ties and rails about them.
void Enclose(TrackChunk& chunk, const std::vector<SampleFrame>& frames) {
    Vecd lo = frames[chunk.firstSample].rail, hi = lo;
    for (size_t i = chunk.firstSample; i <= chunk.lastSample; ++i) {
        const Vecd& p = frames[i].rail;
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    chunk.centre = 0.5 * (lo + hi);
    double r = 0.0;
    for (size_t i = chunk.firstSample; i <= chunk.lastSample; ++i) {
        r = std::max(r, Length(frames[i].rail - chunk.centre));
    }
    chunk.radius = r + 0.5 * kTieLength + kTieDrop + kTieDepth;
}

IndexRange RangeFrom(const std::vector<uint32_t>& indices, size_t first) {
    return {static_cast<uint32_t>(first), static_cast<uint32_t>(indices.size() - first)};
}

// The rails and ties at every level, cut into chunks.
void AddTrack(TrackScene& scene, const std::vector<SampleFrame>& frames,
              const std::vector<double>& s, const std::vector<TieFrame>& ties,
              const std::vector<Rgb>& colours) {
    const size_t n = frames.size();
    const std::vector<size_t> ends = ChunkEnds(s);
    const std::vector<size_t> kept = CoarseSamples(s, ends);
    const size_t coarseTies = (ties.size() + kCoarseTieEvery - 1) / kCoarseTieEvery;
    TriangleMesh& mesh = scene.track;
    const size_t vertices = n * kRailVerticesPerSample + ties.size() * kTieVertices +
                            kept.size() * (2 * kCoarseRailSides + 2) + coarseTies * kCoarseTieVertices;
    VertexWriter out(mesh, vertices);
    mesh.indices.reserve(n * 2 * kRailSides * 6 + ties.size() * 36 +
                         kept.size() * 2 * kCoarseRailSides * 6 + coarseTies * 6);

    std::vector<size_t> all(n);
    for (size_t i = 0; i < n; ++i) all[i] = i;
    const uint32_t fullRings = AddRings(out, frames, colours, all, kRailSides);
    scene.railVertices = out.Count();
    for (const TieFrame& tie : ties) {
        AddBox(out, tie.centre - kTieDrop * tie.up, {tie.left, tie.up, tie.tangent},
               {0.5 * kTieLength, 0.5 * kTieDepth, 0.5 * kTieWidth}, colours[tie.sample]);
    }
    scene.ties = ties.size();
    scene.fullVertices = out.Count();
    const uint32_t coarseRings = AddRings(out, frames, colours, kept, kCoarseRailSides);
    const uint32_t coarseTieFaces = out.Count();
    for (size_t q = 0; q < coarseTies; ++q) {
        const TieFrame& tie = ties[q * kCoarseTieEvery];
        AddTieTop(out, tie, colours[tie.sample]);
    }
    const uint32_t linePoints = out.Count();
    for (size_t i : kept) {
        const SampleFrame& f = frames[i];
        for (double side : {-1.0, 1.0}) {
            out.Put(f.rail + (side * kHalfGauge) * f.left, f.up, colours[i]);
        }
    }

    // The chunks: samples, the ties from their start up to the next one's,
    // and the kept samples between their ends.
    std::vector<TrackChunk>& chunks = scene.chunks;
    const size_t count = std::max<size_t>(ends.size(), 2) - 1;
    chunks.resize(count);
    std::vector<size_t> tieEnds(count + 1, 0), keptEnds(count + 1, 0);
    tieEnds[count] = ties.size();
    keptEnds[count] = kept.size() - 1;
    for (size_t c = 0, t = 0, k = 0; c < count; ++c) {
        chunks[c].firstSample = ends[c];
        chunks[c].lastSample = ends[std::min(c + 1, ends.size() - 1)];
        Enclose(chunks[c], frames);
        if (c == 0) continue;
        while (t < ties.size() && ties[t].railDistance < s[ends[c]]) ++t;
        while (kept[k] < ends[c]) ++k;
        tieEnds[c] = t;
        keptEnds[c] = k;
    }
    for (size_t c = 0; c < count; ++c) {
        const size_t from = mesh.indices.size();
        AddTubes(mesh.indices, fullRings, kRailSides, chunks[c].firstSample, chunks[c].lastSample);
        for (size_t t = tieEnds[c]; t < tieEnds[c + 1]; ++t) {
            AddQuads(mesh.indices, static_cast<uint32_t>(scene.railVertices + t * kTieVertices), 6);
        }
        chunks[c].full = RangeFrom(mesh.indices, from);
    }
    for (size_t c = 0; c < count; ++c) {
        const size_t from = mesh.indices.size();
        AddTubes(mesh.indices, coarseRings, kCoarseRailSides, keptEnds[c], keptEnds[c + 1]);
        const size_t q0 = (tieEnds[c] + kCoarseTieEvery - 1) / kCoarseTieEvery;
        const size_t q1 = (tieEnds[c + 1] + kCoarseTieEvery - 1) / kCoarseTieEvery;
        AddQuads(mesh.indices, coarseTieFaces + static_cast<uint32_t>(q0 * kCoarseTieVertices),
                 static_cast<uint32_t>(q1 - q0));
        chunks[c].coarse = RangeFrom(mesh.indices, from);
    }
    scene.railLines.reserve(4 * kept.size());
    for (size_t c = 0; c < count; ++c) {
        const size_t from = scene.railLines.size();
        for (size_t k = keptEnds[c]; k < keptEnds[c + 1]; ++k) {
            const auto a = linePoints + static_cast<uint32_t>(2 * k);
            PushIndices<4>(scene.railLines, {a, a + 2, a + 1, a + 3});
        }
        chunks[c].lines = RangeFrom(scene.railLines, from);
    }
}

LineStrip HeartLine(const RideProfile* profile, Rgb colour) {
    LineStrip line{{}, colour};
    if (profile == nullptr) return line;
    line.positions.reserve(3 * profile->samples.size());
    for (const ProfileSample& s : profile->samples) Push(line.positions, ToVec(s.heart));
    return line;
}

void Grow(Bounds& b, bool& first, const std::vector<float>& xyz) {
    for (size_t i = 0; i + 2 < xyz.size(); i += 3) {
        const Vecd p = At(xyz, i / 3);
        if (first) {
            b.min = b.max = p;
            first = false;
        }
        b.min = {std::min(b.min.x, p.x), std::min(b.min.y, p.y), std::min(b.min.z, p.z)};
        b.max = {std::max(b.max.x, p.x), std::max(b.max.y, p.y), std::max(b.max.z, p.z)};
    }
}

ScenePath PathOf(const RideProfile& track, const std::vector<SampleFrame>& frames) {
    ScenePath path;
    const size_t n = frames.size();
    for (std::vector<double>* v : {&path.distance, &path.speed, &path.felt.vertical,
                                   &path.felt.lateral, &path.felt.longitudinal}) {
        v->reserve(n);
    }
    for (size_t i = 0; i < n; ++i) {
        const SampleFrame& f = frames[i];
        const ProfileSample& s = track.samples[i];
        path.distance.push_back(s.distance);
        path.speed.push_back(s.speed);
        path.felt.vertical.push_back(s.feltVertical);
        path.felt.lateral.push_back(s.feltLateral);
        path.felt.longitudinal.push_back(s.feltLongitudinal);
        Push(path.rail, f.rail);
        const bool onRail = Length(f.heart - f.rail) < 1e-3;
        Push(path.eye, onRail ? f.rail + kEyeAboveRail * f.up : f.heart);
        Push(path.forward, f.tangent);
        Push(path.up, f.up);
    }
    return path;
}

// One tie every kTieSpacing metres of rail: centre and directions
// interpolated between the two samples around it.
std::vector<TieFrame> TiesOf(const std::vector<SampleFrame>& frames, const std::vector<double>& s) {
    std::vector<TieFrame> ties;
    if (frames.empty()) return ties;
    const auto count = static_cast<size_t>(std::floor(s.back() / kTieSpacing)) + 1;
    ties.reserve(count);
    size_t j = 0;
    for (size_t k = 0; k < count; ++k) {
        const double d = static_cast<double>(k) * kTieSpacing;
        while (j + 2 < s.size() && s[j + 1] < d) ++j;
        const size_t j1 = std::min(j + 1, s.size() - 1);
        const double span = s[j1] - s[j];
        const double f = span > 0.0 ? std::clamp((d - s[j]) / span, 0.0, 1.0) : 0.0;
        const SampleFrame& a = frames[j];
        const SampleFrame& b = frames[j1];
        TieFrame tie;
        tie.railDistance = d;
        tie.sample = f < 0.5 ? j : j1;
        const SampleFrame& near = frames[tie.sample];
        tie.centre = Lerp(a.rail, b.rail, f);
        tie.tangent = UnitOr(Lerp(a.tangent, b.tangent, f), near.tangent);
        const Vecd up = Lerp(a.up, b.up, f);
        tie.up = UnitOr(up - Dot(up, tie.tangent) * tie.tangent, near.up);
        tie.left = Cross(tie.up, tie.tangent);
        ties.push_back(tie);
    }
    return ties;
}

}  // namespace

double Bounds::Radius() const {
    return 0.5 * Length(max - min);
}

std::vector<TieFrame> TieFrames(const RideProfile& track) {
    const std::vector<SampleFrame> frames = SampleFrames(track);
    return TiesOf(frames, RailDistances(frames));
}

TrackScene BuildTrackScene(const SceneInput& input) {
    TrackScene scene;
    scene.channel = input.channel;
    scene.drawnHeart = HeartLine(input.drawnHeart, kDrawnHeartColour);
    scene.rebuiltHeart = HeartLine(input.rebuiltHeart, kRebuiltHeartColour);
    if (input.track != nullptr && !input.track->samples.empty()) {
        const RideProfile& track = *input.track;
        const std::vector<SampleFrame> frames = SampleFrames(track);
        scene.path = PathOf(track, frames);
        std::vector<Rgb> colours(frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            colours[i] = SampleColour(scene.path.felt, input.channel, i);
        }
        const std::vector<double> s = RailDistances(frames);
        AddTrack(scene, frames, s, TiesOf(frames, s), colours);
    }
    if (input.valley) {
        scene.valleyMarker = MarkerMesh(ToVec(*input.valley), 2.5, kValleyColour);
    }
    bool first = true;
    for (const std::vector<float>* xyz :
         {&scene.track.positions, &scene.drawnHeart.positions, &scene.rebuiltHeart.positions,
          &scene.valleyMarker.positions}) {
        Grow(scene.bounds, first, *xyz);
    }
    return scene;
}

TriangleMesh MarkerMesh(const Vecd& at, double size, Rgb colour) {
    TriangleMesh mesh;
    const double r = 0.5 * size;
    const std::array<Vecd, 6> tips{{{r, 0, 0}, {-r, 0, 0}, {0, r, 0}, {0, -r, 0}, {0, 0, r}, {0, 0, -r}}};
    // Each face flat-shaded: the eight octants, corners x, y, z signed.
    for (int octant = 0; octant < 8; ++octant) {
        const Vecd& x = tips[(octant & 1) ? 1 : 0];
        const Vecd& y = tips[(octant & 2) ? 3 : 2];
        const Vecd& z = tips[(octant & 4) ? 5 : 4];
        const Vecd normal = UnitOr(x + y + z, {0, 1, 0});
        const auto base = static_cast<uint32_t>(mesh.VertexCount());
        // Counter-clockwise from outside: odd sign counts mirror the order.
        const int flips = (octant & 1) + ((octant >> 1) & 1) + ((octant >> 2) & 1);
        const std::array<Vecd, 3> corners =
            flips % 2 == 0 ? std::array<Vecd, 3>{x, y, z} : std::array<Vecd, 3>{x, z, y};
        for (const Vecd& c : corners) {
            Push(mesh.positions, at + c);
            Push(mesh.normals, normal);
            Push(mesh.colours, colour);
        }
        PushIndices<3>(mesh.indices, {base, base + 1, base + 2});
    }
    return mesh;
}

std::optional<size_t> PickSample(const ScenePath& path, const Ray& ray, double maxAngle) {
    const Vecd d = UnitOr(ray.direction, {0, 0, 0});
    if (Length(d) == 0.0) return std::nullopt;
    std::optional<size_t> best;
    double bestAngle = maxAngle;
    for (size_t i = 0; i < path.size(); ++i) {
        const Vecd to = At(path.rail, i) - ray.origin;
        const double along = Dot(to, d);
        if (!(along > 0.0)) continue;
        const double angle = Length(to - along * d) / along;
        if (angle <= bestAngle) {
            bestAngle = angle;
            best = i;
        }
    }
    return best;
}

size_t SampleAt(const ScenePath& path, double distance) {
    const auto& d = path.distance;
    const auto it = std::lower_bound(d.begin(), d.end(), distance);
    if (it == d.begin()) return 0;
    if (it == d.end()) return d.size() - 1;
    const auto i = static_cast<size_t>(it - d.begin());
    return distance - d[i - 1] <= d[i] - distance ? i - 1 : i;
}

Pose PoseAt(const ScenePath& path, double distance) {
    const auto& d = path.distance;
    const size_t n = d.size();
    size_t i = static_cast<size_t>(std::upper_bound(d.begin(), d.end(), distance) - d.begin());
    i = std::clamp<size_t>(i, 1, std::max<size_t>(n - 1, 1));
    const size_t a = i - 1;
    const size_t b = std::min(i, n - 1);
    const double span = d[b] - d[a];
    const double f = span > 0.0 ? std::clamp((distance - d[a]) / span, 0.0, 1.0) : 0.0;
    Pose pose;
    pose.rail = Lerp(At(path.rail, a), At(path.rail, b), f);
    pose.eye = Lerp(At(path.eye, a), At(path.eye, b), f);
    const size_t near = f < 0.5 ? a : b;
    pose.forward = UnitOr(Lerp(At(path.forward, a), At(path.forward, b), f), At(path.forward, near));
    const Vecd up = Lerp(At(path.up, a), At(path.up, b), f);
    pose.up = UnitOr(up - Dot(up, pose.forward) * pose.forward, At(path.up, near));
    return pose;
}

double RideOn(const ScenePath& path, double distance, double seconds) {
    if (path.size() == 0) return distance;
    const double speed = path.speed[SampleAt(path, distance)];
    if (!(speed > 0.0) || !(seconds > 0.0)) return distance;
    const double next = std::min(distance + speed * seconds, path.distance.back());
    // The train does not pass a sample it cannot reach.
    const size_t from = SampleAt(path, distance);
    for (size_t i = from; i < path.size() && path.distance[i] <= next; ++i) {
        if (!(path.speed[i] > 0.0)) return path.distance[i > 0 ? i - 1 : 0];
    }
    return next;
}

std::string HoverText(const ScenePath& path, size_t sample) {
    if (sample >= path.size()) return {};
    const auto fixed = [](double v, int decimals) -> std::string {
        if (!std::isfinite(v)) return "-";
        return FormatFixed(v, decimals);
    };
    return fixed(path.distance[sample], 1) + " m   " + fixed(path.speed[sample], 1) +
           " m/s   vertical " + fixed(path.felt.vertical[sample], 2) + " g   lateral " +
           fixed(path.felt.lateral[sample], 2) + " g   longitudinal " +
           fixed(path.felt.longitudinal[sample], 2) + " g";
}

}  // namespace cvqrn::scene
