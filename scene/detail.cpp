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
    DrawList list;
    const bool alwaysFull = scene.fullVertices <= kAlwaysFullVertices;
    std::vector<Detail> levels(scene.chunks.size(), Detail::Lines);
    std::vector<bool> shown(scene.chunks.size(), false);
    for (size_t c = 0; c < scene.chunks.size(); ++c) {
        const TrackChunk& chunk = scene.chunks[c];
        shown[c] = SphereInView(view, chunk.centre, chunk.radius);
        const Vecd to = chunk.centre - view.eye;
        const double nearest = std::sqrt(profile::Dot(to, to)) - chunk.radius;
        levels[c] = alwaysFull ? Detail::Full : DetailAt(nearest, view.focalPixels);
    }
    // All full chunks first, then all coarse ones, in the order of the indices.
    for (Detail level : {Detail::Full, Detail::Coarse}) {
        for (size_t c = 0; c < scene.chunks.size(); ++c) {
            if (!shown[c] || levels[c] != level) continue;
            Append(list.triangles, level == Detail::Full ? scene.chunks[c].full : scene.chunks[c].coarse);
        }
    }
    for (size_t c = 0; c < scene.chunks.size(); ++c) {
        if (shown[c] && levels[c] == Detail::Lines) Append(list.lines, scene.chunks[c].lines);
    }
    return list;
}

}  // namespace cvqrn::scene
