// The progress of a heartline run, as the window logic reports it (a fraction
// of the run), and the bar the Qt window draws for it in its tube. Positions
// are in twips (15 per logical pixel) as the panel was designed.
#pragma once

#include <cstdint>
#include <optional>

#include "frontend/layout.h"

namespace cvqrn::ui {

// The fraction of the run done: `progress` / `total`, in double. Nothing when
// `total` is not positive (the bar then keeps its shape). A progress above
// `total` gives a fraction above 1.
//   progress  steps done (the run starts counting at 1)
//   total     steps of the whole run, > 0
std::optional<double> ProgressFraction(int32_t progress, int32_t total);

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

// The bar for `fraction` of the run: height = floor(fraction * 1680) whole
// twips, top = 4080 - height. A fraction above 1 gives a bar taller than the
// tube; the bar is clipped to the tube when drawn.
BarShape ProgressBarShape(double fraction);

}  // namespace cvqrn::ui
