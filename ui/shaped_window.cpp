#include "ui/shaped_window.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <cmath>
#include <vector>

#include "ui/skin.h"

namespace cvqrn::ui {

QRegion RegionFromImage(const QImage& image, QRgb holeColour) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const int width = rgb.width();
    const int height = rgb.height();
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        std::copy(line, line + width, pixels.begin() + static_cast<ptrdiff_t>(y) * width);
    }
    const std::vector<PixelRun> runs = WindowRuns(pixels, width, height, holeColour);
    std::vector<QRect> rects;
    rects.reserve(runs.size());
    for (const PixelRun& run : runs) rects.emplace_back(run.left, run.y, run.right - run.left, 1);
    // Runs come row by row and left to right within a row, one pixel high:
    // the banded order QRegion::setRects expects.
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

ShapedWindow::ShapedWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setFixedSize(kSkinWidth, kSkinHeight);
    setMask(RegionFromImage(RenderSkin(1.0), kSkinHoleColour));
    // Hover moves reach the body too, so the move swallowed after a Load click
    // is the very next one.
    setMouseTracking(true);
}

void ShapedWindow::MinimizeClicked() {
    showMinimized();
}

void ShapedWindow::CloseClicked() {
    close();
}

void ShapedWindow::paintEvent(QPaintEvent*) {
    // Painted from the vector artwork at the screen's pixel ratio, so it stays crisp.
    const qreal dpr = devicePixelRatioF();
    if (skin_.isNull() || skin_.devicePixelRatio() != dpr) {
        skin_ = QPixmap::fromImage(RenderSkin(dpr));
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, skin_);
}

void ShapedWindow::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    if (childAt(at.toPoint()) != nullptr) return;
    BodyPressed(drag_, static_cast<float>(at.x()), static_cast<float>(at.y()));
    if (SystemMoveOnly() && event->buttons() == Qt::LeftButton && windowHandle() != nullptr) {
        windowHandle()->startSystemMove();
    }
}

void ShapedWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    if (childAt(at.toPoint()) != nullptr) return;
    const auto offset = BodyMoved(drag_, static_cast<int>(event->buttons().toInt()),
                                  static_cast<float>(at.x()), static_cast<float>(at.y()));
    if (!offset || SystemMoveOnly()) return;
    move(pos() + QPoint(static_cast<int>(std::lround(offset->dx)),
                        static_cast<int>(std::lround(offset->dy))));
}

bool ShapedWindow::SystemMoveOnly() const {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace cvqrn::ui
