#include "frontend/window_placement.h"

#include <algorithm>

namespace cvqrn::ui {

ScreenRect PlaceBeside(const ScreenRect& panel, const ScreenRect& available, ScreenSize preferred,
                       ScreenSize minimum) {
    const int minWidth = std::min(minimum.width, available.width);
    const int roomRight = available.right() - panel.right() - kBesideGap;
    const int roomLeft = panel.left - available.left - kBesideGap;

    ScreenRect place;
    place.height = std::clamp(preferred.height, std::min(minimum.height, available.height),
                              available.height);
    if (roomRight >= minWidth) {
        place.width = std::clamp(preferred.width, minWidth, roomRight);
        place.left = panel.right() + kBesideGap;
    } else if (roomLeft >= minWidth) {
        place.width = std::clamp(preferred.width, minWidth, roomLeft);
        place.left = panel.left - kBesideGap - place.width;
    } else {
        place.width = minWidth;
        place.left = roomRight >= roomLeft ? available.right() - place.width : available.left;
    }
    place.top = std::clamp(panel.top, available.top, available.bottom() - place.height);
    return place;
}

}  // namespace cvqrn::ui
