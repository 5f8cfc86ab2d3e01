// Small tracks for the heartline tests, made in code.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "vec3/vec3.h"
#include "heartline/generator.h"
#include "samples/layout_builder.h"
#include "trackfile/track_record.h"

namespace cvqrn::heartline_test {

// A level straight along +x at height `height`, `count` segments over
// `length` metres, handles at thirds (so t runs with arc length), every
// vertex with roll `roll` (radians), every segment with `mode` and `passes`.
inline TrackData LevelStraight(int count, float length, float height, float roll = 0.0f,
                               int32_t mode = kModeFelt, int32_t passes = kPassesFromSpeed) {
    TrackData track;
    const size_t n = static_cast<size_t>(count);
    track.Bezr.VertexCount = count + 1;
    track.Bezr.Vertices.assign(n + 2, TrackVertex{});
    const float step = length / static_cast<float>(count);
    for (size_t i = 0; i <= n; ++i) {
        const float x = step * static_cast<float>(i);
        TrackVertex& v = track.Bezr.Vertices[i];
        v.Pos = {x, height, 0.0f};
        v.CtrlIn = {x - step / 3.0f, height, 0.0f};
        v.CtrlOut = {x + step / 3.0f, height, 0.0f};
        v.Roll = roll;
    }
    track.Segm.SegmentCount = count;
    track.Segm.Segments.assign(n + 1, TrackSegment{});
    for (size_t i = 0; i < n; ++i) track.Segm.Segments[i].Val24 = {mode, passes, 0};
    return track;
}

// Settings for a run: the defaults apart from the given values.
inline HeartlineSettings Settings(int16_t segments, int16_t precision = 6, double heartline = 1.04,
                                  double startspeed = 14.3, double endspeed = 12.9,
                                  int16_t filter = 15) {
    return {segments, precision, heartline, startspeed, endspeed, filter};
}

// Records every progress report.
class ProgressLog : public ProgressFeedback {
  public:
    void feedback(const int32_t& progress, const int32_t& Total) override {
        steps.emplace_back(progress, Total);
    }
    std::vector<std::pair<int32_t, int32_t>> steps;
};

}  // namespace cvqrn::heartline_test
