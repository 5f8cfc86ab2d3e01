// The progress bar that rises in its tube during a heartline run. Positions
// are in twips (15 per logical pixel) as the panel was designed.
#pragma once

#include <cstdint>
#include <optional>

#include "frontend/layout.h"

namespace cvqrn::ui {

// The progress tube: the bar grows up from kTubeBottom; a full bar reaches
// kTubeBottom - kTubeHeight.
inline constexpr double kTubeBottom = kProgressTube.bottom();
inline constexpr double kTubeHeight = kProgressTube.height;

// Height and top of the bar in twips, held as the bar stores them.
struct BarShape {
    float height = 0.0f;
    float top = 0.0f;
    friend bool operator==(const BarShape&, const BarShape&) = default;
};

// The bar for `progress` steps of `total`: height = floor(progress / total *
// 1680) whole twips (the fraction in double), top = 4080 - height. Nothing when
// `total` is not positive (the bar then keeps its shape). A progress above
// `total` gives a bar taller than the tube; the bar is clipped to the tube
// when drawn.
//   progress  steps done (the run starts counting at 1)
//   total     steps of the whole run, > 0
std::optional<BarShape> ProgressBarShape(int32_t progress, int32_t total);

}  // namespace cvqrn::ui
