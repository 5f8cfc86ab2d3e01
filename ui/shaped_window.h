// A frameless top-level window that takes the outline of its skin: the skin is
// painted as the background, the holes of the skin are cut out of the window
// (pointer events over them reach what lies below), the window is dragged by
// its body and the skin's knobs minimise and close it.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QRegion>
#include <QWidget>

#include "frontend/window_shape.h"

namespace cvqrn::ui {

// The region of the pixels of `image` that are not `holeColour` (RGB; alpha is
// ignored): one rectangle per run of such pixels in each row.
//   image       any format; read as 32-bit RGB
//   holeColour  the colour of the holes
QRegion RegionFromImage(const QImage& image, QRgb holeColour);

class ShapedWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ShapedWindow(QWidget* parent = nullptr);

    DragState& Drag() { return drag_; }

  public slots:
    void MinimizeClicked();
    void CloseClicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    // True where the platform does not let a program place its own window
    // (Wayland): the drag is then handed to the platform's system move.
    bool SystemMoveOnly() const;

    DragState drag_;
    // The skin painted once per device pixel ratio: the bar and the hover
    // looks repaint small parts of the window many times.
    QPixmap skin_;
};

}  // namespace cvqrn::ui
