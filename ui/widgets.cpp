#include "ui/widgets.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "ui/key_filter.h"

namespace cvqrn::ui {

namespace {

// The smallest whole-pixel rectangle that holds `r`.
QRect Enclosing(const QRectF& r) {
    const int left = static_cast<int>(std::floor(r.left()));
    const int top = static_cast<int>(std::floor(r.top()));
    const int right = static_cast<int>(std::ceil(r.right()));
    const int bottom = static_cast<int>(std::ceil(r.bottom()));
    return QRect(left, top, right - left, bottom - top);
}

// A key event that types a character (as opposed to moving the cursor,
// deleting forwards or a shortcut without text).
bool TypesCharacter(const QKeyEvent* event) {
    return !event->text().isEmpty() && event->key() != Qt::Key_Delete;
}

}  // namespace

QRectF TwipsToPixels(double left, double top, double width, double height) {
    return QRectF(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                  height / kTwipsPerPixel);
}

TextField::TextField(QWidget* parent, bool parameter, bool allowDecimal, bool allowMinus)
    : QLineEdit(parent),
      parameter_(parameter),
      allowDecimal_(allowDecimal),
      allowMinus_(allowMinus) {}

void TextField::keyPressEvent(QKeyEvent* event) {
    if (parameter_ && TypesCharacter(event)) {
        const int key = static_cast<int>(event->text().toUcs4().value(0));
        const int caret = hasSelectedText() ? selectionStart() : cursorPosition();
        if (FilterNumericKey(text().toStdString(), caret, key, allowDecimal_, allowMinus_) == 0) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TextField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (parameter_) selectAll();
}

void TextField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    const Qt::FocusReason reason = event->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) emit lostFocus();
}

HotSpot::HotSpot(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
}

void HotSpot::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void HotSpot::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click) emit clicked();
}

void HotSpot::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

MessageLine::MessageLine(QWidget* parent) : QLabel(parent) {
    setMouseTracking(true);
}

void MessageLine::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void MessageLine::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

StatusLight::StatusLight(QWidget* parent, double left, double top, double diameter)
    : QWidget(parent), circle_(TwipsToPixels(left, top, diameter, diameter)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(Enclosing(circle_));
}

void StatusLight::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 192, 0));
    painter.drawEllipse(circle_.translated(-QPointF(pos())));
}

ProgressTube::ProgressTube(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(
        Enclosing(TwipsToPixels(kBarLeft, kTubeBottom - kTubeHeight, kBarWidth, kTubeHeight)));
}

void ProgressTube::SetShape(const BarShape& shape) {
    shape_ = shape;
    // The run holds the event loop, so the bar is drawn here and now. repaint()
    // only paints; it handles no input.
    if (isVisible()) repaint();
}

void ProgressTube::paintEvent(QPaintEvent*) {
    if (!(shape_.height > 0.0f)) return;
    const QRectF tube = TwipsToPixels(kBarLeft, kTubeBottom - kTubeHeight, kBarWidth, kTubeHeight);
    const QRectF bar = TwipsToPixels(kBarLeft, static_cast<double>(shape_.top), kBarWidth,
                                     static_cast<double>(shape_.height));
    const QRectF visible = bar.intersected(tube);
    if (visible.isEmpty()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(visible.translated(-QPointF(pos())), QColor(255, 0, 0));
}

}  // namespace cvqrn::ui
