#include "frontend/window_shape.h"

namespace cvqrn::ui {

std::vector<PixelRun> WindowRuns(std::span<const uint32_t> pixels, int width, int height,
                                 uint32_t holeColour) {
    std::vector<PixelRun> runs;
    if (width <= 0 || height <= 0) return runs;
    if (pixels.size() < static_cast<size_t>(width) * static_cast<size_t>(height)) return runs;
    const uint32_t hole = holeColour & 0xFFFFFFu;
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        int x = 0;
        while (x < width) {
            while (x < width && (row[x] & 0xFFFFFFu) == hole) ++x;
            if (x >= width) break;
            const int start = x;
            while (x < width && (row[x] & 0xFFFFFFu) != hole) ++x;
            runs.push_back({start, x, y});
        }
    }
    return runs;
}

void BodyPressed(DragState& drag, float x, float y) {
    drag.DragX = x;
    drag.DragY = y;
}

std::optional<WindowOffset> BodyMoved(DragState& drag, int buttons, float x, float y) {
    if (drag.SkipNextMove) {
        drag.SkipNextMove = false;
        return std::nullopt;
    }
    if (buttons != kLeftButton) return std::nullopt;
    return WindowOffset{x - drag.DragX, y - drag.DragY};
}

}  // namespace cvqrn::ui
