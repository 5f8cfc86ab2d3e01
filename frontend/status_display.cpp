#include "frontend/status_display.h"

#include <cmath>

namespace cvqrn::ui {

std::optional<double> ProgressFraction(int32_t progress, int32_t total) {
    if (!(total > 0)) return std::nullopt;
    return static_cast<double>(progress) / static_cast<double>(total);
}

BarShape ProgressBarShape(double fraction) {
    const double height = std::floor(fraction * kTubeHeight);
    return BarShape{static_cast<float>(height), static_cast<float>(kTubeBottom - height)};
}

}  // namespace cvqrn::ui
