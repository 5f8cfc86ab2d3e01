// The long input track of the heartline benchmarks, built in code.
#pragma once

#include <array>
#include <cmath>

#include "trackfile/track_record.h"

namespace cvqrn::bench {

// A long, gently winding and rolling track at about 5 m, 8 m per segment,
// with Hermite handles from its exact path; felt banking, speed-derived passes.
inline TrackData WindingTrack(int segments) {
    const auto path = [](double i) {
        return std::array<double, 3>{8.0 * i, 5.0 + 1.5 * std::sin(0.11 * i),
                                     20.0 * std::sin(0.05 * i)};
    };
    const auto slope = [](double i) {
        return std::array<double, 3>{8.0, 1.5 * 0.11 * std::cos(0.11 * i),
                                     20.0 * 0.05 * std::cos(0.05 * i)};
    };
    const auto single = [](const std::array<double, 3>& p, const std::array<double, 3>& d,
                           double s) {
        return Vec3{static_cast<float>(p[0] + d[0] * s), static_cast<float>(p[1] + d[1] * s),
                    static_cast<float>(p[2] + d[2] * s)};
    };
    TrackData track;
    track.Bezr.VertexCount = segments + 1;
    track.Bezr.Vertices.assign(static_cast<size_t>(segments) + 2, TrackVertex{});
    for (int i = 0; i <= segments; ++i) {
        TrackVertex& v = track.Bezr.Vertices[static_cast<size_t>(i)];
        const auto p = path(i);
        const auto d = slope(i);
        v.Pos = single(p, d, 0.0);
        v.CtrlIn = single(p, d, -1.0 / 3.0);
        v.CtrlOut = single(p, d, 1.0 / 3.0);
        v.FlagA = true;
    }
    track.Segm.SegmentCount = segments;
    track.Segm.Segments.assign(static_cast<size_t>(segments) + 1, TrackSegment{});
    for (int i = 0; i < segments; ++i) {
        track.Segm.Segments[static_cast<size_t>(i)].Val24 = {0xFFFF, 0xFFFF, 0};
    }
    return track;
}

}  // namespace cvqrn::bench
