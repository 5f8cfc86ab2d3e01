// The window's small widgets: parameter fields with the key filter, the
// transparent hot-spots, the status lights, the progress bar and the message line.
#pragma once

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>
#include <functional>

#include "ui/skin.h"
#include "frontend/status_display.h"

namespace cvqrn::ui {

// A text field of the window. Parameter fields pass every typed character
// through FilterNumericKey, take pasted or dropped text only when typing could
// have produced it (blanks around it are cut off) and select their whole text
// when they get the focus. A "," typed, pasted or dropped into a field that
// takes a decimal point goes in as ".". The standard editing keys work in
// every field.
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

// A transparent click area over a button face or knob of the skin. It never
// takes the keyboard focus, so clicking it leaves the focus where it was.
// Under the pointer it draws the face's hover look, while pressed its pressed look.
class HotSpot : public QWidget {
    Q_OBJECT
  public:
    // paintFace  draws the face in a look, in the window's logical pixels
    HotSpot(QWidget* parent, std::function<void(QPainter&, Look)> paintFace);

    Look CurrentLook() const;

  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void SetState(bool hovered, bool pressed);

    std::function<void(QPainter&, Look)> paintFace_;
    bool hovered_ = false;
    bool pressed_ = false;
};

// A switch drawn in the skin's style (PaintSmoothSwitch): a click turns it on
// or off. Like the hot-spots it never takes the keyboard focus; it lights
// up under the pointer and tells assistive tools that it is checkable.
class SkinSwitch : public QAbstractButton {
    Q_OBJECT
  public:
    // paint  draws the switch set on or off in a look, in the window's logical pixels
    SkinSwitch(QWidget* parent, std::function<void(QPainter&, bool, Look)> paint);

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    std::function<void(QPainter&, bool, Look)> paint_;
};

// How a message is laid out in the message line: the font and the lines.
struct FittedMessage {
    QFont font;
    QStringList lines;
};

// Lays `text` out to fit `box` (logical pixels) on `device`: on one line in
// `font` when it fits; otherwise the font is made smaller step by step (down
// to 8 pixels) and the text is broken at a blank into two lines where one
// does not do. Only a text that fits in no way is elided.
FittedMessage FitMessage(const QString& text, const QFont& font, const QSizeF& box,
                         const QPaintDevice* device);

// The one-line message display. It takes the pointer's events itself, so a
// press on it does not start a window drag.
class MessageLine : public QLabel {
    Q_OBJECT
  public:
    explicit MessageLine(QWidget* parent);

    // How the current text is drawn.
    FittedMessage Fitted() const;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// One green status light: a circle at a fractional pixel position, drawn
// antialiased. The pointer passes through it.
class StatusLight : public QWidget {
    Q_OBJECT
  public:
    // circle: the light's circle in twips
    StatusLight(QWidget* parent, const TwipRect& circle);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRectF circle_;  // logical pixels, in the parent's coordinates
};

// The red progress bar in the tube of the skin. It covers the whole tube and
// draws the bar's current shape, clipped to the tube. The pointer passes through it.
// A run changes the shape many times for each device pixel of the tube, so the
// bar is drawn only when its top moves to another row of device pixels, and
// during a run at most once a frame.
class ProgressTube : public QWidget {
    Q_OBJECT
  public:
    explicit ProgressTube(QWidget* parent);

    // Takes the bar's shape (twips) and, when visible, has it drawn.
    void SetShape(const BarShape& shape);
    const BarShape& Shape() const { return shape_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // The part of the bar inside the tube, in the window's logical pixels.
    QRectF VisibleBar() const;
    // The row of device pixels the visible bar's top lies in; -1 for no bar.
    int TopRow() const;

    int paintedRow_ = -2;  // the row last drawn
    BarShape shape_{static_cast<float>(kTubeHeight), static_cast<float>(kTubeBottom - kTubeHeight)};
};

}  // namespace cvqrn::ui
