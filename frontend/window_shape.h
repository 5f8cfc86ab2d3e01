// The outline of the shaped window and its dragging, apart from the toolkit.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace cvqrn::ui {

// One run of window pixels in one pixel row: x from `left` to `right`
// (exclusive), one pixel high at `y`.
struct PixelRun {
    int left = 0;
    int right = 0;
    int y = 0;
    friend bool operator==(const PixelRun&, const PixelRun&) = default;
};

// The runs of pixels that belong to the window, row by row from the top and
// left to right within a row: every maximal run of pixels whose colour differs
// from `holeColour`.
//   pixels      width * height colours, row-major; only the low 24 bits (RGB)
//               are compared, so the alpha byte does not matter
//   width       pixels per row, >= 0
//   height      rows, >= 0
//   holeColour  the colour of the holes (0xRRGGBB; the high byte is ignored)
// A picture without a hole pixel gives one run per row spanning the width; a
// picture made only of holes gives no run. `pixels` must hold width * height
// entries; fewer give no runs at all.
std::vector<PixelRun> WindowRuns(std::span<const uint32_t> pixels, int width, int height,
                                 uint32_t holeColour);

// Pointer buttons as the window body reports them.
inline constexpr int kLeftButton = 1;
inline constexpr int kRightButton = 2;
inline constexpr int kMiddleButton = 4;

// Dragging the window by its body. Positions are in logical pixels relative
// to the window.
struct DragState {
    float DragX = 0.0f;  // where the last button press on the body was
    float DragY = 0.0f;
    bool SkipNextMove = false;  // the next pointer move over the body is ignored
};

struct WindowOffset {
    float dx = 0.0f;
    float dy = 0.0f;
};

// A button press on the body at (x, y), whatever the button: the drag anchor.
void BodyPressed(DragState& drag, float x, float y);

// A pointer move over the body at (x, y) with `buttons` held. When the window
// should move, returns the offset to add to its position (the grabbed point
// stays under the pointer): only with the left button alone, and never for
// the one move swallowed after SkipNextMove was armed.
std::optional<WindowOffset> BodyMoved(DragState& drag, int buttons, float x, float y);

}  // namespace cvqrn::ui
