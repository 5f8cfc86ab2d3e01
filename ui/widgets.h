// The window's small widgets: parameter fields with the key filter, the
// transparent hot-spots, the status lights, the progress bar and the message line.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QWidget>

#include "ui/status_display.h"

namespace cvqrn::ui {

// Converts a rectangle in twips to logical pixels (15 twips per pixel).
QRectF TwipsToPixels(double left, double top, double width, double height);

// A text field of the window. Parameter fields pass every typed character
// through FilterNumericKey and select their whole text when they get the focus.
class TextField : public QLineEdit {
    Q_OBJECT
  public:
    TextField(QWidget* parent, bool parameter, bool allowDecimal, bool allowMinus);

  signals:
    // The keyboard focus moved to another control of the window (not sent
    // when the whole window loses the focus to another window or a popup).
    void lostFocus();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    bool parameter_;
    bool allowDecimal_;
    bool allowMinus_;
};

// A transparent click area over a button face of the skin. It never takes the
// keyboard focus, so clicking it leaves the focus where it was.
class HotSpot : public QWidget {
    Q_OBJECT
  public:
    explicit HotSpot(QWidget* parent);

  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    bool pressed_ = false;
};

// The one-line message display. It takes the pointer's events itself, so a
// press on it does not start a window drag.
class MessageLine : public QLabel {
    Q_OBJECT
  public:
    explicit MessageLine(QWidget* parent);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

// One green status light: a circle at a fractional pixel position, drawn
// antialiased. The pointer passes through it.
class StatusLight : public QWidget {
    Q_OBJECT
  public:
    // circle: the light's circle in twips
    StatusLight(QWidget* parent, double left, double top, double diameter);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRectF circle_;  // logical pixels, in the parent's coordinates
};

// The red progress bar in the tube of the skin. It covers the whole tube and
// draws the bar's current shape, clipped to the tube. The pointer passes through it.
class ProgressTube : public QWidget {
    Q_OBJECT
  public:
    explicit ProgressTube(QWidget* parent);

    // Takes the bar's shape (twips) and, when visible, draws it at once.
    void SetShape(const BarShape& shape);
    const BarShape& Shape() const { return shape_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    BarShape shape_{static_cast<float>(kTubeHeight), static_cast<float>(kTubeBottom - kTubeHeight)};
};

}  // namespace cvqrn::ui
