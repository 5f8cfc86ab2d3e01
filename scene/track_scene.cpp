#include "scene/track_scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

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

void AddRails(TriangleMesh& mesh, const std::vector<SampleFrame>& frames,
              const std::vector<Rgb>& colours) {
    const size_t n = frames.size();
    std::array<double, kRailSides> cosines{}, sines{};
    for (int k = 0; k < kRailSides; ++k) {
        const double a = 2.0 * std::numbers::pi * k / kRailSides;
        cosines[static_cast<size_t>(k)] = std::cos(a);
        sines[static_cast<size_t>(k)] = std::sin(a);
    }
    for (size_t i = 0; i < n; ++i) {
        const SampleFrame& f = frames[i];
        for (double side : {-1.0, 1.0}) {
            const Vecd centre = f.rail + (side * kHalfGauge) * f.left;
            for (size_t k = 0; k < kRailSides; ++k) {
                const Vecd normal = cosines[k] * f.up + sines[k] * f.left;
                Push(mesh.positions, centre + kRailRadius * normal);
                Push(mesh.normals, normal);
                Push(mesh.colours, colours[i]);
            }
        }
    }
    // Quads between the rings of consecutive samples; the ring's vertices run
    // from up towards left, which faces outwards for a forward tangent.
    for (size_t i = 0; i + 1 < n; ++i) {
        for (uint32_t rail = 0; rail < 2; ++rail) {
            const auto ring = [&](size_t sample) {
                return static_cast<uint32_t>(sample * kRailVerticesPerSample) + rail * kRailSides;
            };
            for (uint32_t k = 0; k < kRailSides; ++k) {
                const uint32_t k1 = (k + 1) % kRailSides;
                const uint32_t a = ring(i) + k, b = ring(i) + k1;
                const uint32_t c = ring(i + 1) + k, d = ring(i + 1) + k1;
                PushIndices<6>(mesh.indices, {a, c, b, b, c, d});
            }
        }
    }
}

// A box of half extents `half` along the three unit axes, one flat-shaded
// face of four vertices per side.
void AddBox(TriangleMesh& mesh, const Vecd& centre, const std::array<Vecd, 3>& axes,
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
            const auto base = static_cast<uint32_t>(mesh.VertexCount());
            // Corners counter-clockwise seen from outside: u x v = normalAxis.
            const double su = sign;  // mirror the winding on the opposite face
            Push(mesh.positions, face + (-hu * su) * u + (-hv) * v);
            Push(mesh.positions, face + (hu * su) * u + (-hv) * v);
            Push(mesh.positions, face + (hu * su) * u + hv * v);
            Push(mesh.positions, face + (-hu * su) * u + hv * v);
            for (int k = 0; k < 4; ++k) {
                Push(mesh.normals, normal);
                Push(mesh.colours, colour);
            }
            PushIndices<6>(mesh.indices, {base, base + 1, base + 2, base, base + 2, base + 3});
        }
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
std::vector<TieFrame> TiesOf(const std::vector<SampleFrame>& frames) {
    std::vector<TieFrame> ties;
    if (frames.empty()) return ties;
    const std::vector<double> s = RailDistances(frames);
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
    return TiesOf(SampleFrames(track));
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
        const std::vector<TieFrame> ties = TiesOf(frames);
        const size_t vertices = frames.size() * kRailVerticesPerSample + ties.size() * kTieVertices;
        TriangleMesh& mesh = scene.track;
        mesh.positions.reserve(3 * vertices);
        mesh.normals.reserve(3 * vertices);
        mesh.colours.reserve(3 * vertices);
        mesh.indices.reserve(frames.size() * 2 * kRailSides * 6 + ties.size() * 36);
        AddRails(mesh, frames, colours);
        scene.railVertices = mesh.VertexCount();
        for (const TieFrame& tie : ties) {
            AddBox(mesh, tie.centre - kTieDrop * tie.up, {tie.left, tie.up, tie.tangent},
                   {0.5 * kTieLength, 0.5 * kTieDepth, 0.5 * kTieWidth}, colours[tie.sample]);
        }
        scene.ties = ties.size();
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
        char text[48];
        std::snprintf(text, sizeof text, "%.*f", decimals, v == 0.0 ? 0.0 : v);
        return text;
    };
    return fixed(path.distance[sample], 1) + " m   " + fixed(path.speed[sample], 1) +
           " m/s   vertical " + fixed(path.felt.vertical[sample], 2) + " g   lateral " +
           fixed(path.felt.lateral[sample], 2) + " g   longitudinal " +
           fixed(path.felt.longitudinal[sample], 2) + " g";
}

}  // namespace cvqrn::scene
