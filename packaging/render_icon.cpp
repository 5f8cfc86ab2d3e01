// cv-qrn-render-icon OUT.png SIZE: paints the application icon at SIZE x SIZE
// pixels. The shapes are those of icons/cv-qrn.svg (a 256-unit square), so the
// PNG sizes and the scalable icon look the same.
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void PaintIcon(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing, true);

    // Steel tile with a dark rim and a faint inner bevel.
    QLinearGradient plate(0, 0, 0, 256);
    plate.setColorAt(0.0, QColor(0x56, 0x62, 0x6a));
    plate.setColorAt(1.0, QColor(0x1e, 0x24, 0x28));
    painter.setPen(QPen(QColor(0x10, 0x14, 0x16), 8));
    painter.setBrush(plate);
    painter.drawRoundedRect(QRectF(12, 12, 232, 232), 48, 48);
    QColor bevel(0x8c, 0x9a, 0xa2);
    bevel.setAlphaF(0.55f);
    painter.setPen(QPen(bevel, 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(20, 20, 216, 216), 41, 41);

    // The rail: a hill and a drop.
    QPainterPath rail(QPointF(40, 200));
    rail.cubicTo(96, 200, 104, 92, 150, 92);
    rail.cubicTo(192, 92, 200, 150, 220, 150);
    QLinearGradient teal(0, 92 - 10, 0, 200 + 10);
    teal.setColorAt(0.0, QColor(0x84, 0xf0, 0xe2));
    teal.setColorAt(1.0, QColor(0x1f, 0x9a, 0x8e));
    painter.setPen(QPen(QBrush(teal), 20, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(rail);

    // The heartline above it, dashed; the dash lengths are in pen widths.
    const QColor amber(0xff, 0xc4, 0x5c);
    QPen dashed(amber, 12, Qt::CustomDashLine, Qt::RoundCap);
    dashed.setDashPattern({16.0 / 12.0, 18.0 / 12.0});
    painter.setPen(dashed);
    painter.drawPath(rail.translated(0, -40));

    // The rider's heart on the crest.
    painter.setPen(QPen(QColor(0x10, 0x14, 0x16), 6));
    painter.setBrush(amber);
    painter.drawEllipse(QPointF(150, 52), 17, 17);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: cv-qrn-render-icon OUT.png SIZE\n");
        return 2;
    }
    char* end = nullptr;
    const long size = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || size < 8 || size > 1024) {
        std::fprintf(stderr, "cv-qrn-render-icon: SIZE must be a whole number from 8 to 1024\n");
        return 2;
    }
    const int pixels = static_cast<int>(size);
    QImage icon(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.scale(pixels / 256.0, pixels / 256.0);
    PaintIcon(painter);
    painter.end();
    if (!icon.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cv-qrn-render-icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
