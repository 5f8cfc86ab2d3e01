// The window's skin, drawn as vector artwork.
//
// The panel is made of five plates: the title banner, the Settings plate that
// bends into the button deck along the bottom, the table of recommended
// heartline values and the Data plate. Narrow gaps between the plates are
// holes of the shaped window; small clamps bridge every gap so the window's
// outline stays in one piece.
//
// Every plate is painted antialiased over a dark backdrop, and the holes are
// filled last, without antialiasing, with the exact hole colour. An edge pixel
// is therefore either exactly the hole colour or a blend of plate and backdrop,
// never a pinkish blend that the window mask could misread.
#include "ui/skin.h"

#include <QColor>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QRadialGradient>
#include <QRect>
#include <QRectF>
#include <QString>

#include <array>
#include <vector>

namespace cvqrn::ui {
namespace {

// ---- Theme ---------------------------------------------------------------

const QColor kBackdrop(18, 22, 25);  // behind the plates, shows at their rims
const QColor kPlateTop(70, 80, 87);  // brushed steel, lit from above
const QColor kPlateBottom(44, 51, 56);
const QColor kPlateHighlight(128, 142, 150);
const QColor kPlateShadow(16, 19, 22);
const QColor kRecess(13, 16, 18);       // dark boxes behind fields
const QColor kRecessRim(60, 150, 142);  // teal rim of the dark boxes
const QColor kTeal(70, 214, 196);       // headers, arrows, accents
const QColor kTealDeep(22, 120, 112);
const QColor kText(222, 232, 235);     // captions
const QColor kTextDim(150, 166, 172);  // notes, units
const QColor kAmber(255, 196, 92);     // negative heartline values
const QColor kDotRed(214, 40, 36);     // status dots before a stage is done

// The plates in logical pixels. The gaps between them are the window's holes.
const QRectF kBanner(2, 2, 436, 42);      // title banner with the knobs
const QRectF kSettings(2, 50, 207, 288);  // Settings plate, runs down into the deck
const QRectF kDeck(2, 304, 436, 34);      // button deck along the bottom
const QRectF kTable(214, 50, 224, 102);   // recommended heartline values
const QRectF kData(214, 158, 224, 140);   // status dots and end analysis

// Clamps that bridge the gaps and keep the outline one piece.
const std::array<QRectF, 10> kClamps = {
    QRectF(24, 42, 16, 10),   QRectF(178, 42, 16, 10),  QRectF(408, 42, 16, 10),   // banner
    QRectF(207, 92, 9, 14),   QRectF(207, 236, 9, 14),                             // left-right
    QRectF(258, 150, 16, 10), QRectF(408, 150, 16, 10),                            // table-data
    QRectF(207, 296, 9, 10),  QRectF(244, 296, 16, 10), QRectF(408, 296, 16, 10),  // data-deck
};

// Controls that the window lays over the skin (logical pixels).
const QRectF kMinimiseKnob(352, 12, 33, 21);
const QRectF kCloseKnob(388, 12, 29, 21);
constexpr std::array<double, 6> kParameterRowsY = {100, 130, 160, 190, 220, 250};
constexpr double kParameterX = 140;
constexpr double kParameterW = 41;
constexpr double kFieldH = 21;
const QRectF kProgressTube(194.7, 160, 9.7, 112);
const QRectF kMessageLine(52, 280, 109, 21);
constexpr std::array<double, 3> kStatusDotsX = {218.1, 228, 238};
constexpr double kStatusDotY = 177.6;
constexpr double kStatusDotSize = 6.3;
constexpr std::array<double, 3> kDisplayColumnsX = {240, 300, 360};
constexpr std::array<double, 2> kDisplayRowsY = {220, 250};
constexpr double kDisplayW = 51;
constexpr std::array<double, 3> kButtonsX = {36, 156, 276};
constexpr double kButtonY = 308;
constexpr double kButtonW = 89;
constexpr double kButtonH = 17;

// ---- Helpers -------------------------------------------------------------

QFont SkinFont(int pixelSize, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void Text(QPainter& painter, const QRectF& box, int flags, const QString& text, const QFont& font,
          const QColor& colour) {
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(box, flags, text);
}

// A header: bold teal capitals with a thin rule to its right up to `ruleEnd`.
void Header(QPainter& painter, double x, double y, const QString& text, double ruleEnd) {
    const QFont font = SkinFont(10, true);
    QFont spaced = font;
    spaced.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
    painter.setFont(spaced);
    painter.setPen(kTeal);
    const QRectF box(x, y, ruleEnd - x, 12);
    QRectF used;
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, text, &used);
    const double ruleStart = used.right() + 6;
    if (ruleStart + 12 < ruleEnd) {
        painter.setPen(QPen(QColor(70, 214, 196, 90), 1));
        painter.drawLine(QPointF(ruleStart, y + 6.5), QPointF(ruleEnd, y + 6.5));
    }
}

QPainterPath Rounded(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// Brushed-steel plate with a bevel: light top edge, dark bottom edge.
void PaintPlate(QPainter& painter, const QPainterPath& shape) {
    const QRectF bounds = shape.boundingRect();
    QLinearGradient fill(bounds.topLeft(), bounds.bottomLeft());
    fill.setColorAt(0.0, kPlateTop);
    fill.setColorAt(1.0, kPlateBottom);
    painter.fillPath(shape, fill);

    // Faint horizontal brushing.
    painter.save();
    painter.setClipPath(shape);
    for (double y = bounds.top() + 1.5; y < bounds.bottom(); y += 3) {
        painter.setPen(QPen(QColor(255, 255, 255, 6), 1));
        painter.drawLine(QPointF(bounds.left(), y), QPointF(bounds.right(), y));
    }
    painter.restore();

    QLinearGradient bevel(bounds.topLeft(), bounds.bottomLeft());
    bevel.setColorAt(0.0, kPlateHighlight);
    bevel.setColorAt(0.5, QColor(80, 92, 99));
    bevel.setColorAt(1.0, kPlateShadow);
    painter.strokePath(shape, QPen(QBrush(bevel), 1.2));
}

// A dark recessed box, e.g. behind a text field; `inner` is the field itself.
void PaintRecess(QPainter& painter, const QRectF& inner, double margin, double radius) {
    const QRectF outer = inner.adjusted(-margin, -margin, margin, margin);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kPlateShadow);
    painter.drawRoundedRect(outer.adjusted(-0.8, -0.8, 0.8, 0.8), radius + 0.8, radius + 0.8);
    painter.setBrush(kRecess);
    painter.drawRoundedRect(outer, radius, radius);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(kRecessRim.red(), kRecessRim.green(), kRecessRim.blue(), 150), 1));
    painter.drawRoundedRect(outer.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

void PaintRivet(QPainter& painter, const QPointF& centre, double radius) {
    QRadialGradient head(centre - QPointF(radius * 0.4, radius * 0.4), radius * 1.6);
    head.setColorAt(0.0, QColor(190, 200, 205));
    head.setColorAt(1.0, QColor(60, 68, 74));
    painter.setPen(QPen(kPlateShadow, 0.6));
    painter.setBrush(head);
    painter.drawEllipse(centre, radius, radius);
}

// ---- Parts of the panel --------------------------------------------------

QPainterPath BodyShape() {
    QPainterPath body;
    body.setFillRule(Qt::WindingFill);
    body.addPath(Rounded(kBanner, 12));
    body.addPath(Rounded(kSettings, 10));
    body.addPath(Rounded(kDeck, 10));
    body.addPath(Rounded(kTable, 10));
    body.addPath(Rounded(kData, 10));
    for (const QRectF& clamp : kClamps) body.addRect(clamp);
    return body.simplified();
}

// The holes as runs of whole logical pixels, one row high. Being whole logical
// pixels, they fall on the same places at every pixel ratio, so the window's
// mask (cut in logical pixels) always matches the holes it paints.
const std::vector<QRect>& HoleRuns() {
    static const std::vector<QRect> runs = [] {
        QImage body(kSkinWidth, kSkinHeight, QImage::Format_RGB32);
        body.fill(Qt::black);
        QPainter painter(&body);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.fillPath(BodyShape(), Qt::white);
        painter.end();
        const QRgb holePixel = QColor(Qt::black).rgb();
        std::vector<QRect> result;
        for (int y = 0; y < kSkinHeight; ++y) {
            int x = 0;
            while (x < kSkinWidth) {
                if (body.pixel(x, y) != holePixel) {
                    ++x;
                    continue;
                }
                const int start = x;
                while (x < kSkinWidth && body.pixel(x, y) == holePixel) ++x;
                result.emplace_back(start, y, x - start, 1);
            }
        }
        return result;
    }();
    return runs;
}

void PaintClamps(QPainter& painter) {
    for (const QRectF& clamp : kClamps) {
        QLinearGradient steel(clamp.topLeft(), clamp.bottomRight());
        steel.setColorAt(0.0, QColor(96, 108, 115));
        steel.setColorAt(1.0, QColor(38, 44, 48));
        painter.setPen(QPen(kPlateShadow, 0.8));
        painter.setBrush(steel);
        painter.drawRect(clamp.adjusted(0.4, 0.4, -0.4, -0.4));
        PaintRivet(painter, clamp.center(), 1.8);
    }
}

void PaintKnob(QPainter& painter, const QRectF& knob, const QColor& light, const QColor& dark,
               bool close) {
    QLinearGradient face(knob.topLeft(), knob.bottomLeft());
    face.setColorAt(0.0, light);
    face.setColorAt(1.0, dark);
    painter.setPen(QPen(QColor(8, 10, 12), 1));
    painter.setBrush(face);
    painter.drawRoundedRect(knob.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);

    // Glossy reflection on the upper half.
    QLinearGradient gloss(knob.topLeft(), QPointF(knob.left(), knob.center().y()));
    gloss.setColorAt(0.0, QColor(255, 255, 255, 110));
    gloss.setColorAt(1.0, QColor(255, 255, 255, 10));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gloss);
    painter.drawRoundedRect(
        QRectF(knob.left() + 2.5, knob.top() + 2, knob.width() - 5, knob.height() / 2 - 1.5), 4, 4);

    painter.setPen(QPen(QColor(250, 252, 255), 2.2, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = knob.center();
    if (close) {
        painter.drawLine(c + QPointF(-4, -4), c + QPointF(4, 4));
        painter.drawLine(c + QPointF(-4, 4), c + QPointF(4, -4));
    } else {
        painter.drawLine(c + QPointF(-6, 3.5), c + QPointF(6, 3.5));
    }
}

void PaintBanner(QPainter& painter) {
    // Badge with the short name.
    const QRectF badge(11, 10, 46, 26);
    QLinearGradient teal(badge.topLeft(), badge.bottomLeft());
    teal.setColorAt(0.0, QColor(110, 236, 220));
    teal.setColorAt(1.0, kTealDeep);
    painter.setPen(QPen(QColor(8, 40, 38), 1));
    painter.setBrush(teal);
    painter.drawRoundedRect(badge, 6, 6);
    Text(painter, badge, Qt::AlignCenter, QStringLiteral("QRN"), SkinFont(15, true),
         QColor(6, 36, 34));

    // Program name, with a faint engraved shadow.
    const QRectF name(66, 6, 110, 34);
    Text(painter, name.translated(0, 1), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("CV-QRN"),
         SkinFont(22, true), kPlateShadow);
    Text(painter, name, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("CV-QRN"),
         SkinFont(22, true), QColor(236, 244, 246));

    Text(painter, QRectF(176, 10, 160, 13), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("Heartline track rebuilder"), SkinFont(11), kText);
    Text(painter, QRectF(176, 24, 160, 12), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("Version 1.2"), SkinFont(10), kTeal);

    // Socket and knobs: blue minimises, red closes.
    painter.setPen(QPen(QColor(90, 102, 110), 1));
    painter.setBrush(kRecess);
    painter.drawRoundedRect(QRectF(347.5, 8.5, 74, 29), 9, 9);
    PaintKnob(painter, kMinimiseKnob, QColor(120, 180, 255), QColor(24, 78, 190), false);
    PaintKnob(painter, kCloseKnob, QColor(255, 120, 100), QColor(176, 26, 20), true);
}

void PaintSettings(QPainter& painter) {
    Header(painter, 14, 56, QStringLiteral("SETTINGS"), 198);

    // A small sketch of what the tool does: the rail, and the heartline beside it.
    painter.save();
    QPainterPath rail(QPointF(16, 90));
    rail.cubicTo(QPointF(50, 90), QPointF(70, 74), QPointF(128, 76));
    painter.setPen(QPen(kTeal, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(rail);
    painter.setPen(QPen(kAmber, 1.2, Qt::DashLine, Qt::RoundCap));
    painter.drawPath(rail.translated(0, -6));
    painter.restore();
    Text(painter, QRectF(134, 70, 70, 12), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("heartline"), SkinFont(9), kAmber);
    Text(painter, QRectF(134, 82, 70, 12), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("rail"),
         SkinFont(9), kTeal);

    static const std::array<const char*, 6> kCaptions = {"Segments (#)",  "Heartline (m)",
                                                         "V in (m/s)",    "V out (m/s)",
                                                         "Precision (#)", "Filter (#)"};
    for (std::size_t i = 0; i < kCaptions.size(); ++i) {
        const double y = kParameterRowsY[i];
        // A faint strip joins each caption to its field.
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 38));
        painter.drawRoundedRect(QRectF(10, y - 3, 176, kFieldH + 6), 4, 4);
        Text(painter, QRectF(14, y, 118, kFieldH), Qt::AlignRight | Qt::AlignVCenter,
             QString::fromLatin1(kCaptions[i]), SkinFont(11), kText);
        PaintRecess(painter, QRectF(kParameterX, y, kParameterW, kFieldH), 2, 3);
    }

    // The empty progress tube, a glass pipe with a scale beside it.
    Text(painter, QRectF(188, 146, 22, 11), Qt::AlignCenter, QStringLiteral("RUN"),
         SkinFont(8, true), kTextDim);
    const QRectF frame = kProgressTube.adjusted(-2.5, -3, 2.5, 3);
    QLinearGradient metal(frame.topLeft(), frame.topRight());
    metal.setColorAt(0.0, QColor(150, 162, 170));
    metal.setColorAt(0.5, QColor(70, 80, 87));
    metal.setColorAt(1.0, QColor(36, 42, 46));
    painter.setPen(QPen(kPlateShadow, 0.8));
    painter.setBrush(metal);
    painter.drawRoundedRect(frame, 4, 4);
    QLinearGradient glass(kProgressTube.topLeft(), kProgressTube.topRight());
    glass.setColorAt(0.0, QColor(8, 10, 12));
    glass.setColorAt(0.35, QColor(34, 44, 48));
    glass.setColorAt(1.0, QColor(10, 12, 14));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glass);
    painter.drawRect(kProgressTube);
    painter.setPen(QPen(kTextDim, 1));
    for (int tick = 0; tick <= 4; ++tick) {
        const double y = kProgressTube.bottom() - kProgressTube.height() * tick / 4.0;
        const double length = (tick % 2 == 0) ? 4.0 : 2.5;
        painter.drawLine(QPointF(189.5 - length, y), QPointF(189.5, y));
    }

    // Message line.
    Text(painter, QRectF(12, kMessageLine.top(), 36, kFieldH), Qt::AlignRight | Qt::AlignVCenter,
         QStringLiteral("MSG"), SkinFont(9, true), kTextDim);
    PaintRecess(painter, kMessageLine, 2, 4);
}

void PaintTable(QPainter& painter) {
    Header(painter, 222, 54, QStringLiteral("RECOMMENDED HEARTLINE (m)"), 430);

    struct Style {
        const char* name;
        const char* metres;
    };
    // Ten sit-down styles (positive) and four hanging styles (negative), by value.
    static const std::array<Style, 14> kStyles = {{
        {"Junior", "0.80"},
        {"Family", "0.90"},
        {"Wooden", "1.00"},
        {"Looping", "1.04"},
        {"Launched", "1.10"},
        {"Hyper", "1.15"},
        {"Giga", "1.20"},
        {"Dive", "1.30"},
        {"Wing", "1.45"},
        {"Flying", "1.60"},
        {"Suspended", "-0.90"},
        {"Inv. family", "-1.00"},
        {"Inverted", "-1.05"},
        {"Inv. looping", "-1.15"},
    }};
    constexpr int kRowsPerColumn = 7;
    constexpr double kTop = 68;
    constexpr double kPitch = 11.6;
    const QFont font = SkinFont(10);
    for (std::size_t i = 0; i < kStyles.size(); ++i) {
        const std::size_t column = i / kRowsPerColumn;
        const std::size_t row = i % kRowsPerColumn;
        const double x = 222 + 108.0 * static_cast<double>(column);
        const double y = kTop + kPitch * static_cast<double>(row);
        if (row % 2 == 0) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0, 0, 0, 40));
            painter.drawRect(QRectF(x - 3, y, 104, kPitch));
        }
        const bool negative = kStyles[i].metres[0] == '-';
        Text(painter, QRectF(x, y, 70, kPitch), Qt::AlignLeft | Qt::AlignVCenter,
             QString::fromLatin1(kStyles[i].name), font, kText);
        // A real minus sign reads better than a hyphen.
        QString value = QString::fromLatin1(kStyles[i].metres);
        if (negative) value.replace(0, 1, QChar(0x2212));
        Text(painter, QRectF(x + 58, y, 40, kPitch), Qt::AlignRight | Qt::AlignVCenter, value, font,
             negative ? kAmber : kTeal);
    }
}

void PaintData(QPainter& painter) {
    Header(painter, 222, 162, QStringLiteral("TRACK DATA"), 430);

    // Red dots, covered in green by the window as the stages are done.
    painter.setPen(Qt::NoPen);
    painter.setBrush(kRecess);
    painter.drawRoundedRect(QRectF(215.5, 174.5, 31.5, 12.5), 6, 6);
    for (const double x : kStatusDotsX) {
        const QRectF dot(x, kStatusDotY, kStatusDotSize, kStatusDotSize);
        QRadialGradient lamp(dot.center() - QPointF(1.2, 1.2), kStatusDotSize * 0.75);
        lamp.setColorAt(0.0, QColor(255, 140, 120));
        lamp.setColorAt(0.6, kDotRed);
        lamp.setColorAt(1.0, QColor(120, 16, 14));
        painter.setBrush(lamp);
        painter.drawEllipse(dot);
    }
    Text(painter, QRectF(252, 174, 180, 13), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("loaded \u203A heartlined \u203A saved"), SkinFont(9), kTextDim);

    static const std::array<const char*, 3> kColumns = {"Slope (\u00B0)", "Radius (m)",
                                                        "Tilt (\u00B0)"};
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
        Text(painter, QRectF(kDisplayColumnsX[c] - 6, 203, kDisplayW + 12, 13), Qt::AlignCenter,
             QString::fromUtf8(kColumns[c]), SkinFont(10, true), kText);
    }
    static const std::array<const char*, 2> kRows = {"IN", "OUT"};
    for (std::size_t r = 0; r < kRows.size(); ++r) {
        Text(painter, QRectF(214, kDisplayRowsY[r], 22, kFieldH), Qt::AlignRight | Qt::AlignVCenter,
             QString::fromLatin1(kRows[r]), SkinFont(9, true), kTeal);
        for (const double x : kDisplayColumnsX) {
            PaintRecess(painter, QRectF(x, kDisplayRowsY[r], kDisplayW, kFieldH), 2, 3);
        }
    }
    Text(painter, QRectF(222, 278, 208, 12), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("IN: first vertex    OUT: last vertex"), SkinFont(9), kTextDim);
}

void PaintArrow(QPainter& painter, double left, double right, double y) {
    QPainterPath arrow;
    arrow.moveTo(left, y - 2);
    arrow.lineTo(right - 8, y - 2);
    arrow.lineTo(right - 8, y - 6);
    arrow.lineTo(right, y);
    arrow.lineTo(right - 8, y + 6);
    arrow.lineTo(right - 8, y + 2);
    arrow.lineTo(left, y + 2);
    arrow.closeSubpath();
    painter.setPen(QPen(QColor(8, 40, 38), 0.8));
    painter.setBrush(kTeal);
    painter.drawPath(arrow);
}

void PaintButtons(QPainter& painter) {
    static const std::array<const char*, 3> kFaces = {"Load Track", "Heartline it!", "Save Track"};
    static const std::array<const char*, 3> kKeys = {"Ctrl+O", "Ctrl+Enter", "Ctrl+S"};
    for (std::size_t i = 0; i < kFaces.size(); ++i) {
        const QRectF face(kButtonsX[i], kButtonY, kButtonW, kButtonH);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kPlateShadow);
        painter.drawRoundedRect(face.adjusted(-1.5, -1.5, 1.5, 1.5), 9.5, 9.5);
        QLinearGradient teal(face.topLeft(), face.bottomLeft());
        teal.setColorAt(0.0, QColor(132, 240, 226));
        teal.setColorAt(0.5, QColor(52, 178, 164));
        teal.setColorAt(1.0, QColor(20, 110, 102));
        painter.setBrush(teal);
        painter.drawRoundedRect(face, 8.5, 8.5);
        Text(painter, face, Qt::AlignCenter, QString::fromLatin1(kFaces[i]), SkinFont(11, true),
             QColor(4, 32, 30));
        Text(painter, QRectF(face.left(), 326, face.width(), 10), Qt::AlignCenter,
             QString::fromLatin1(kKeys[i]), SkinFont(8), kTextDim);
    }
    const double y = kButtonY + kButtonH / 2;
    PaintArrow(painter, kButtonsX[0] + kButtonW + 5, kButtonsX[1] - 5, y);
    PaintArrow(painter, kButtonsX[1] + kButtonW + 5, kButtonsX[2] - 5, y);

    for (const QPointF& at : {QPointF(14, 321), QPointF(388, 321), QPointF(424, 321)}) {
        PaintRivet(painter, at, 2.4);
    }
}

}  // namespace

void PaintSkin(QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const QRectF whole(0, 0, kSkinWidth, kSkinHeight);
    painter.fillRect(whole, kBackdrop);

    PaintPlate(painter, Rounded(kBanner, 12));
    QPainterPath settingsAndDeck;
    settingsAndDeck.addPath(Rounded(kSettings, 10));
    settingsAndDeck.addPath(Rounded(kDeck, 10));
    PaintPlate(painter, settingsAndDeck.simplified());
    PaintPlate(painter, Rounded(kTable, 10));
    PaintPlate(painter, Rounded(kData, 10));
    PaintClamps(painter);

    PaintBanner(painter);
    PaintSettings(painter);
    PaintTable(painter);
    PaintData(painter);
    PaintButtons(painter);

    // The holes go last and without antialiasing, so they are exactly the hole colour.
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QColor hole = QColor::fromRgb(kSkinHoleColour);
    for (const QRect& run : HoleRuns()) painter.fillRect(run, hole);
    painter.restore();
}

QImage RenderSkin(qreal devicePixelRatio) {
    const qreal dpr = (devicePixelRatio > 0) ? devicePixelRatio : 1.0;
    const int width = qRound(kSkinWidth * dpr);
    const int height = qRound(kSkinHeight * dpr);
    QImage image(width, height, QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    QPainter painter(&image);
    PaintSkin(painter);
    painter.end();
    return image;
}

}  // namespace cvqrn::ui
