#include "ui/widgets.h"

#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QValidator>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "frontend/key_filter.h"

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

// A key event that types a printable character (as opposed to moving the
// cursor, deleting, or an editing shortcut such as Ctrl+A, Ctrl+V or Ctrl+Z).
bool TypesCharacter(const QKeyEvent* event) {
    return !event->text().isEmpty() && event->text().at(0).isPrint() &&
           !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
}

// Lets into a parameter field only text that typing could have produced, so
// that paste, middle-button paste and drop obey the typing rules. Blanks and
// line ends around pasted text are cut off first, and a decimal comma becomes
// a point where the field takes one.
class TypingValidator final : public QValidator {
  public:
    TypingValidator(QObject* parent, bool allowDecimal, bool allowMinus)
        : QValidator(parent), allowDecimal_(allowDecimal), allowMinus_(allowMinus) {}

    State validate(QString& input, int& pos) const override {
        const QString trimmed = input.trimmed();
        if (trimmed.size() != input.size()) {
            const qsizetype leading = input.indexOf(trimmed.isEmpty() ? input : trimmed);
            pos = static_cast<int>(
                std::clamp<qsizetype>(pos - std::max<qsizetype>(leading, 0), 0, trimmed.size()));
            input = trimmed;
        }
        // A "," goes in as ".", as a typed one does.
        const std::string taken = DecimalCommasAsPoints(input.toStdString(), allowDecimal_);
        if (!TypingCouldProduce(taken, allowDecimal_, allowMinus_)) return Invalid;
        input = QString::fromStdString(taken);
        return Acceptable;
    }

  private:
    bool allowDecimal_;
    bool allowMinus_;
};

constexpr qreal kSmallestMessagePixels = 8.0;

// The line lengths of `text` broken at its blank nearest the middle; nothing
// for a text without a blank.
std::optional<QStringList> BreakInTwo(const QString& text) {
    qsizetype best = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char(' ')) continue;
        if (best < 0 || std::abs(2 * i - text.size()) < std::abs(2 * best - text.size())) best = i;
    }
    if (best < 0) return std::nullopt;
    return QStringList{text.left(best), text.mid(best + 1)};
}

}  // namespace

TextField::TextField(QWidget* parent, bool parameter, bool allowDecimal, bool allowMinus)
    : QLineEdit(parent),
      parameter_(parameter),
      allowDecimal_(allowDecimal),
      allowMinus_(allowMinus) {
    if (parameter) setValidator(new TypingValidator(this, allowDecimal, allowMinus));
}

void TextField::keyPressEvent(QKeyEvent* event) {
    if (parameter_ && TypesCharacter(event)) {
        const int key = static_cast<int>(event->text().toUcs4().value(0));
        const int caret = hasSelectedText() ? selectionStart() : cursorPosition();
        const int taken =
            FilterNumericKey(text().toStdString(), caret, key, allowDecimal_, allowMinus_);
        if (taken != key) {
            // Swallowed, or a decimal comma that goes in as a point.
            if (taken != 0) insert(QString(QChar(taken)));
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

HotSpot::HotSpot(QWidget* parent, std::function<void(QPainter&, Look)> paintFace)
    : QWidget(parent), paintFace_(std::move(paintFace)) {
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
}

Look HotSpot::CurrentLook() const {
    if (pressed_ && hovered_) return Look::Pressed;
    return hovered_ ? Look::Hover : Look::Normal;
}

void HotSpot::SetState(bool hovered, bool pressed) {
    const Look before = CurrentLook();
    hovered_ = hovered;
    pressed_ = pressed;
    if (CurrentLook() != before) update();
}

void HotSpot::mousePressEvent(QMouseEvent* event) {
    SetState(true, event->button() == Qt::LeftButton);
    event->accept();
}

void HotSpot::mouseReleaseEvent(QMouseEvent* event) {
    const bool inside = rect().contains(event->position().toPoint());
    const bool click = pressed_ && event->button() == Qt::LeftButton && inside;
    SetState(inside, false);
    event->accept();
    if (click) emit clicked();
}

void HotSpot::mouseMoveEvent(QMouseEvent* event) {
    // While the button is held the pointer is grabbed: leaving the face shows it raised again.
    SetState(rect().contains(event->position().toPoint()), pressed_);
    event->accept();
}

void HotSpot::enterEvent(QEnterEvent*) {
    SetState(true, pressed_);
}

void HotSpot::leaveEvent(QEvent*) {
    SetState(false, pressed_);
}

void HotSpot::paintEvent(QPaintEvent*) {
    const Look look = CurrentLook();
    if (look == Look::Normal || !paintFace_) return;  // the skin below shows the face
    QPainter painter(this);
    painter.translate(-QPointF(pos()));
    paintFace_(painter, look);
}

SkinSwitch::SkinSwitch(QWidget* parent, std::function<void(QPainter&, bool, Look)> paint)
    : QAbstractButton(parent), paint_(std::move(paint)) {
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

void SkinSwitch::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    update();
}

void SkinSwitch::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    update();
}

void SkinSwitch::paintEvent(QPaintEvent*) {
    const Look look = isDown() ? Look::Pressed : underMouse() ? Look::Hover : Look::Normal;
    QPainter painter(this);
    painter.translate(-QPointF(pos()));
    paint_(painter, isChecked(), look);
}

FittedMessage FitMessage(const QString& text, const QFont& font, const QSizeF& box,
                         const QPaintDevice* device) {
    QFont trial = font;
    qreal pixels = QFontMetricsF(font, device).height() / 1.17;  // about the font's pixel size
    if (font.pixelSize() > 0) pixels = font.pixelSize();
    for (; pixels >= kSmallestMessagePixels; pixels -= 0.5) {
        trial.setPixelSize(static_cast<int>(std::floor(pixels)));
        const QFontMetricsF metrics(trial, device);
        const auto fits = [&](const QStringList& lines) {
            const qreal height = metrics.lineSpacing() * static_cast<qreal>(lines.size() - 1) +
                                 metrics.height();
            if (height > box.height()) return false;
            for (const QString& line : lines) {
                if (metrics.horizontalAdvance(line) > box.width()) return false;
            }
            return true;
        };
        if (fits({text})) return {trial, {text}};
        if (const auto two = BreakInTwo(text); two && fits(*two)) return {trial, *two};
    }
    trial.setPixelSize(static_cast<int>(kSmallestMessagePixels));
    return {trial,
            {QFontMetricsF(trial, device).elidedText(text, Qt::ElideRight, box.width())}};
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

FittedMessage MessageLine::Fitted() const {
    return FitMessage(text(), font(), QSizeF(size()), this);
}

void MessageLine::paintEvent(QPaintEvent*) {
    if (text().isEmpty()) return;
    const FittedMessage fitted = Fitted();
    QPainter painter(this);
    painter.setFont(fitted.font);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRectF(rect()), Qt::AlignCenter, fitted.lines.join(QLatin1Char('\n')));
}

StatusLight::StatusLight(QWidget* parent, const TwipRect& circle)
    : QWidget(parent), circle_(ToPixels(circle)) {
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
    setGeometry(Enclosing(ToPixels(kProgressTube)));
}

void ProgressTube::SetShape(const BarShape& shape) {
    shape_ = shape;
    // The run works on its own thread and its steps arrive at most once a
    // frame (RunThread), so the event loop draws each change in its own time.
    if (isVisible() && TopRow() != paintedRow_) update();
}

QRectF ProgressTube::VisibleBar() const {
    if (!(shape_.height > 0.0f)) return {};
    const QRectF tube = ToPixels(kProgressTube);
    QRectF bar = tube;
    bar.setTop(static_cast<double>(shape_.top) / kTwipsPerPixel);
    bar.setHeight(static_cast<double>(shape_.height) / kTwipsPerPixel);
    return bar.intersected(tube);
}

int ProgressTube::TopRow() const {
    const QRectF visible = VisibleBar();
    if (visible.isEmpty()) return -1;
    return static_cast<int>(std::floor(visible.top() * devicePixelRatioF()));
}

void ProgressTube::paintEvent(QPaintEvent*) {
    paintedRow_ = TopRow();
    const QRectF visible = VisibleBar();
    if (visible.isEmpty()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(visible.translated(-QPointF(pos())), QColor(255, 0, 0));
}

}  // namespace cvqrn::ui
