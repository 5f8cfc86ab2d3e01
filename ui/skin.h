// The window's skin: the 440 x 340 panel artwork drawn with QPainter.
//
// The skin is vector artwork, so it stays crisp at any device pixel ratio.
// Pixels of exactly kSkinHoleColour are the holes of the shaped window; every
// other pixel of the skin is far from that colour, so antialiasing never makes
// a pixel that could be mistaken for a hole.
#pragma once

#include <QImage>
#include <QRectF>
#include <QRgb>
#include <QtGlobal>

#include "frontend/layout.h"

class QPainter;

namespace cvqrn::ui {

// Logical size of the skin and so of the window, in device-independent pixels.
inline constexpr int kSkinWidth = 440;
inline constexpr int kSkinHeight = 340;

// The colour of the holes: opaque RGB(255, 0, 255).
inline constexpr QRgb kSkinHoleColour = 0xFFFF00FF;

// A rectangle of the layout table in logical pixels (15 twips per pixel).
QRectF ToPixels(const TwipRect& twips);

// How a button face or a knob looks under the pointer.
enum class Look { Normal, Hover, Pressed };

// Draws one button face or knob of the skin in `look`, at its place in
// logical pixels; the skin itself shows them Normal. The painter's state is
// saved and restored.
void PaintButtonFace(QPainter& painter, Button button, Look look);
void PaintKnob(QPainter& painter, Knob knob, Look look);

// Draws the "Smooth ride" switch (kSmoothPlace) set `on` or off, in `look`,
// at its place in logical pixels; the skin itself shows it off. The
// painter's state is saved and restored.
void PaintSmoothSwitch(QPainter& painter, bool on, Look look);

// Draws the ride profile's control (kProfilePlace) in `look`, at its place in
// logical pixels: one of the skin's dark, teal-rimmed boxes holding a force
// trace. The painter's state is saved and restored.
void PaintProfileControl(QPainter& painter, Look look);

// Draws the whole 440 x 340 skin in logical pixels (holes filled with RGB(255, 0, 255)).
// painter: an active painter on a device at least 440 x 340 logical pixels large;
//          its state (pen, brush, transform, hints) is saved and restored.
void PaintSkin(QPainter& painter);

// The skin as an image of 440*dpr x 340*dpr pixels with devicePixelRatio dpr.
// devicePixelRatio: device pixels per logical pixel, > 0 (1.0 for a plain screen,
//                   2.0 for a typical high-DPI screen); values that are not > 0 are taken as 1.
QImage RenderSkin(qreal devicePixelRatio = 1.0);

}  // namespace cvqrn::ui
