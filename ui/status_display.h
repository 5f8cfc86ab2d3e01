// Geometry of the window's status displays: the progress bar that rises in its
// tube during a heartline run and the three status lights. Positions are in
// twips (15 per logical pixel) as the panel was designed.
#pragma once

#include <cstdint>
#include <optional>

namespace cvqrn::ui {

inline constexpr double kTwipsPerPixel = 15.0;

// The progress tube: the bar is kBarWidth twips wide at kBarLeft and grows up
// from kTubeBottom; a full bar reaches kTubeBottom - kTubeHeight.
inline constexpr double kBarLeft = 2920.0;
inline constexpr double kBarWidth = 145.0;
inline constexpr double kTubeBottom = 4080.0;
inline constexpr double kTubeHeight = 1680.0;

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

// The three status lights: filled circles kLightDiameter twips across, their
// top-left corners at (kLightLeft[i], kLightTop).
inline constexpr double kLightLeft[3] = {3272.0, 3420.0, 3570.0};
inline constexpr double kLightTop = 2664.0;
inline constexpr double kLightDiameter = 94.0;

}  // namespace cvqrn::ui
