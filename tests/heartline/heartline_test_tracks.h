// Small tracks for the heartline tests, made in code.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "heartline/generator.h"
#include "samples/layout_builder.h"
#include "model/track_record.h"

namespace cvqrn::heartline_test {

// A level straight along +x at height `height`: `count` segments of equal
// length (at most 10 m each, handles at thirds, so t runs with arc length),
// every segment with `mode` and `passes`.
inline TrackData LevelStraight(int count, double length, double height, int32_t mode = kBankingFelt,
                               int32_t passes = kPassesFromSpeed) {
    LayoutBuilder builder({0.0, height, 0.0});
    builder.Mode(mode).Passes(passes);
    for (int i = 0; i < count; ++i) builder.Straight(length / count);
    return builder.Build("level");
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
