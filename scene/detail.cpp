#include "scene/detail.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace cvqrn::scene {

namespace {

void Append(std::vector<IndexRange>& ranges, const IndexRange& r) {
    if (r.count == 0) return;
    if (!ranges.empty() && ranges.back().first + ranges.back().count == r.first) {
        ranges.back().count += r.count;
    } else {
        ranges.push_back(r);
    }
}

}  // namespace

double FocalPixels(double viewHeight, double fieldOfViewDeg) {
    return 0.5 * viewHeight / std::tan(0.5 * fieldOfViewDeg * std::numbers::pi / 180.0);
}

Detail DetailAt(double distance, double focalPixels) {
    const double pixelsPerMetre = focalPixels / std::max(distance, 1e-3);
    if (pixelsPerMetre >= kFullPixelsPerMetre) return Detail::Full;
    if (pixelsPerMetre >= kCoarsePixelsPerMetre) return Detail::Coarse;
    return Detail::Lines;
}

bool SphereInView(const ViewVolume& view, const Vecd& centre, double radius) {
    // The six planes of the view (left, right, bottom, top, near, far) are
    // the fourth row of the matrix plus or minus one of the others.
    const std::array<double, 16>& m = view.viewProjection;
    const auto row = [&](int r) {
        return std::array<double, 4>{m[static_cast<size_t>(r)], m[static_cast<size_t>(4 + r)],
                                     m[static_cast<size_t>(8 + r)], m[static_cast<size_t>(12 + r)]};
    };
    const std::array<double, 4> w = row(3);
    for (int r = 0; r < 3; ++r) {
        const std::array<double, 4> a = row(r);
        for (double sign : {1.0, -1.0}) {
            const double px = w[0] + sign * a[0], py = w[1] + sign * a[1], pz = w[2] + sign * a[2];
            const double pd = w[3] + sign * a[3];
            const double length = std::sqrt(px * px + py * py + pz * pz);
            if (!(length > 0.0)) continue;
            if ((px * centre.x + py * centre.y + pz * centre.z + pd) / length < -radius) return false;
        }
    }
    return true;
}

DrawList ChooseDetail(const TrackScene& scene, const ViewVolume& view) {
    return ChooseDetail(scene.chunks, scene.fullVertices, view);
}

DrawList ChooseDetail(const std::vector<TrackChunk>& chunks, size_t fullVertices,
                      const ViewVolume& view) {
    DrawList list;
    const bool alwaysFull = fullVertices <= kAlwaysFullVertices;
    std::vector<Detail> levels(chunks.size(), Detail::Lines);
    std::vector<bool> shown(chunks.size(), false);
    for (size_t c = 0; c < chunks.size(); ++c) {
        const TrackChunk& chunk = chunks[c];
        shown[c] = SphereInView(view, chunk.centre, chunk.radius);
        const Vecd to = chunk.centre - view.eye;
        const double nearest = std::sqrt(profile::Dot(to, to)) - chunk.radius;
        levels[c] = alwaysFull ? Detail::Full : DetailAt(nearest, view.focalPixels);
    }
    // All full chunks first, then all coarse ones, in the order of the indices.
    for (Detail level : {Detail::Full, Detail::Coarse}) {
        for (size_t c = 0; c < chunks.size(); ++c) {
            if (!shown[c] || levels[c] != level) continue;
            Append(list.triangles, level == Detail::Full ? chunks[c].full : chunks[c].coarse);
        }
    }
    for (size_t c = 0; c < chunks.size(); ++c) {
        if (shown[c] && levels[c] == Detail::Lines) Append(list.lines, chunks[c].lines);
    }
    return list;
}

std::vector<double> ChunkNumbers(const std::vector<TrackChunk>& chunks) {
    std::vector<double> out;
    out.reserve(kChunkNumbers * chunks.size());
    for (const TrackChunk& c : chunks) {
        for (double v : {c.centre.x, c.centre.y, c.centre.z, c.radius}) out.push_back(v);
        for (const IndexRange& r : {c.full, c.coarse, c.lines}) {
            out.push_back(r.first);
            out.push_back(r.count);
        }
    }
    return out;
}

std::vector<TrackChunk> ChunksFromNumbers(const std::vector<double>& numbers) {
    std::vector<TrackChunk> chunks;
    if (numbers.size() % kChunkNumbers != 0) return chunks;
    const auto index = [](double v) {
        return v >= 0.0 && v <= 4294967295.0 ? static_cast<uint32_t>(v) : 0u;
    };
    for (size_t i = 0; i < numbers.size(); i += kChunkNumbers) {
        const double* n = numbers.data() + i;
        TrackChunk c;
        c.centre = {n[0], n[1], n[2]};
        c.radius = n[3];
        c.full = {index(n[4]), index(n[5])};
        c.coarse = {index(n[6]), index(n[7])};
        c.lines = {index(n[8]), index(n[9])};
        chunks.push_back(c);
    }
    return chunks;
}

}  // namespace cvqrn::scene
