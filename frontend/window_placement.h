// Where a second window (the ride profile) opens: beside the panel, inside
// the screen's available area, apart from the toolkit.
#pragma once

namespace cvqrn::ui {

// A rectangle on the screen in logical pixels.
struct ScreenRect {
    int left = 0, top = 0, width = 0, height = 0;
    constexpr int right() const { return left + width; }    // exclusive
    constexpr int bottom() const { return top + height; }  // exclusive
    friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

struct ScreenSize {
    int width = 0, height = 0;
};

// Pixels left between the panel and a window placed beside it.
inline constexpr int kBesideGap = 8;

// The frame of a window of `preferred` size (its frame included), placed
// beside `panel` inside `available`:
//  - on the side of the panel with room for `minimum`, the right one first,
//    as wide as the room there allows up to the preferred width;
//  - with room on neither side, at its minimum width against the screen's
//    edge on the side with more room, overlapping the panel as little as it can;
//  - no taller than `available`, its top level with the panel's where it fits.
// A `minimum` larger than `available` is cut to it: the result always lies
// inside `available` (when `available` is not empty).
ScreenRect PlaceBeside(const ScreenRect& panel, const ScreenRect& available, ScreenSize preferred,
                       ScreenSize minimum);

}  // namespace cvqrn::ui
