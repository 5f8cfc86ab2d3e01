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
#include <cmath>
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

// The plates and the controls laid over them, in logical pixels.
const QRectF kBanner = ToPixels(kBannerPlate);
const QRectF kSettings = ToPixels(kSettingsPlate);
const QRectF kDeck = ToPixels(kDeckPlate);
const QRectF kTable = ToPixels(kTablePlate);
const QRectF kData = ToPixels(kDataPlate);
const QRectF kProgress = ToPixels(kProgressTube);
const QRectF kMessageLine = ToPixels(kMessageBox);

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
    for (const TwipRect& clamp : kClamps) body.addRect(ToPixels(clamp));
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
    for (const TwipRect& twips : kClamps) {
        const QRectF clamp = ToPixels(twips);
        QLinearGradient steel(clamp.topLeft(), clamp.bottomRight());
        steel.setColorAt(0.0, QColor(96, 108, 115));
        steel.setColorAt(1.0, QColor(38, 44, 48));
        painter.setPen(QPen(kPlateShadow, 0.8));
        painter.setBrush(steel);
        painter.drawRect(clamp.adjusted(0.4, 0.4, -0.4, -0.4));
        PaintRivet(painter, clamp.center(), 1.8);
    }
}

// Hover lightens a face, a press darkens it and sinks its mark by a pixel.
QColor Lit(const QColor& colour, Look look) {
    switch (look) {
        case Look::Hover:
            return colour.lighter(118);
        case Look::Pressed:
            return colour.darker(125);
        case Look::Normal:
            break;
    }
    return colour;
}

double SinkOf(Look look) {
    return look == Look::Pressed ? 1.0 : 0.0;
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
         QStringLiteral("Version %1").arg(QString::fromLatin1(CVQRN_SHORT_VERSION)), SkinFont(10), kTeal);

    // Socket and knobs: blue minimises, red closes.
    painter.setPen(QPen(QColor(90, 102, 110), 1));
    painter.setBrush(kRecess);
    painter.drawRoundedRect(QRectF(347.5, 8.5, 74, 29), 9, 9);
    PaintKnob(painter, Knob::Minimise, Look::Normal);
    PaintKnob(painter, Knob::Close, Look::Normal);
}

void PaintSettings(QPainter& painter) {
    Header(painter, 14, 56, QStringLiteral("SETTINGS"), 198);

    // A faint strip joins each caption to its field or switch.
    const auto caption = [&painter](const QRectF& control, const char* text) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 38));
        painter.drawRoundedRect(QRectF(10, control.top() - 3, 176, control.height() + 6), 4, 4);
        Text(painter, QRectF(14, control.top(), control.left() - 22, control.height()),
             Qt::AlignRight | Qt::AlignVCenter, QString::fromLatin1(text), SkinFont(11), kText);
    };
    caption(ToPixels(kSmoothPlace.box), kSmoothCaption);
    PaintSmoothSwitch(painter, false, Look::Normal);
    for (int i = 0; i < kParameterFieldCount; ++i) {
        const FieldPlace& place = PlaceOf(static_cast<Field>(i));
        const QRectF field = ToPixels(place.box);
        caption(field, place.caption);
        PaintRecess(painter, field, 2, 3);
    }

    // The empty progress tube, a glass pipe with a scale beside it.
    Text(painter, QRectF(188, 146, 22, 11), Qt::AlignCenter, QStringLiteral("RUN"),
         SkinFont(8, true), kTextDim);
    const QRectF frame = kProgress.adjusted(-2.5, -3, 2.5, 3);
    QLinearGradient metal(frame.topLeft(), frame.topRight());
    metal.setColorAt(0.0, QColor(150, 162, 170));
    metal.setColorAt(0.5, QColor(70, 80, 87));
    metal.setColorAt(1.0, QColor(36, 42, 46));
    painter.setPen(QPen(kPlateShadow, 0.8));
    painter.setBrush(metal);
    painter.drawRoundedRect(frame, 4, 4);
    QLinearGradient glass(kProgress.topLeft(), kProgress.topRight());
    glass.setColorAt(0.0, QColor(8, 10, 12));
    glass.setColorAt(0.35, QColor(34, 44, 48));
    glass.setColorAt(1.0, QColor(10, 12, 14));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glass);
    painter.drawRect(kProgress);
    painter.setPen(QPen(kTextDim, 1));
    for (int tick = 0; tick <= 4; ++tick) {
        const double y = kProgress.bottom() - kProgress.height() * tick / 4.0;
        const double length = (tick % 2 == 0) ? 4.0 : 2.5;
        painter.drawLine(QPointF(189.5 - length, y), QPointF(189.5, y));
    }

    // Message line.
    Text(painter, QRectF(12, kMessageLine.top(), 36, kMessageLine.height()), Qt::AlignRight | Qt::AlignVCenter,
         QStringLiteral("MSG"), SkinFont(9, true), kTextDim);
    PaintRecess(painter, kMessageLine, 2, 4);
}

void PaintTable(QPainter& painter) {
    Header(painter, 222, 54, QStringLiteral("RECOMMENDED HEARTLINE (m)"), 430);

    const auto& kStyles = kRecommendedHeartlines;
    constexpr int kRowsPerColumn = kRecommendedRowsPerColumn;
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
             QString::fromLatin1(kStyles[i].style), font, kText);
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
    for (const TwipRect& light : kLightBoxes) {
        const QRectF dot = ToPixels(light);
        QRadialGradient lamp(dot.center() - QPointF(1.2, 1.2), dot.width() * 0.75);
        lamp.setColorAt(0.0, QColor(255, 140, 120));
        lamp.setColorAt(0.6, kDotRed);
        lamp.setColorAt(1.0, QColor(120, 16, 14));
        painter.setBrush(lamp);
        painter.drawEllipse(dot);
    }
    Text(painter, QRectF(252, 174, 180, 13), Qt::AlignLeft | Qt::AlignVCenter,
         QStringLiteral("loaded \u203A heartlined \u203A saved"), SkinFont(9), kTextDim);

    // Column heads over the IN row, row heads left of the first column.
    for (std::size_t c = 0; c < kDataColumnHeads.size(); ++c) {
        const QRectF field = ToPixels(PlaceOf(static_cast<Field>(kParameterFieldCount + c)).box);
        Text(painter, QRectF(field.left() - 6, field.top() - 17, field.width() + 12, 13),
             Qt::AlignCenter, QString::fromUtf8(kDataColumnHeads[c]), SkinFont(10, true), kText);
    }
    for (std::size_t r = 0; r < kDataRowHeads.size(); ++r) {
        const QRectF field =
            ToPixels(PlaceOf(static_cast<Field>(kParameterFieldCount + 3 * r)).box);
        Text(painter, QRectF(field.left() - 26, field.top(), 22, field.height()),
             Qt::AlignRight | Qt::AlignVCenter, QString::fromLatin1(kDataRowHeads[r]),
             SkinFont(9, true), kTeal);
    }
    for (int i = kParameterFieldCount; i < kFieldCount; ++i) {
        PaintRecess(painter, ToPixels(PlaceOf(static_cast<Field>(i)).box), 2, 3);
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
    for (const HotSpotPlace& place : kButtonPlaces) {
        const QRectF face = ToPixels(place.box);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kPlateShadow);
        painter.drawRoundedRect(face.adjusted(-1.5, -1.5, 1.5, 1.5), 9.5, 9.5);
        Text(painter, QRectF(face.left(), face.bottom() + 1, face.width(), 10), Qt::AlignCenter,
             QString::fromLatin1(place.key), SkinFont(8), kTextDim);
    }
    for (const Button button : {Button::Load, Button::Heartline, Button::Save}) {
        PaintButtonFace(painter, button, Look::Normal);
    }
    const QRectF load = ToPixels(PlaceOf(Button::Load).box);
    const QRectF run = ToPixels(PlaceOf(Button::Heartline).box);
    const QRectF save = ToPixels(PlaceOf(Button::Save).box);
    PaintArrow(painter, load.right() + 5, run.left() - 5, load.center().y());
    PaintArrow(painter, run.right() + 5, save.left() - 5, run.center().y());
    PaintProfileControl(painter, Look::Normal);

    for (const QPointF& at : {QPointF(14, 321), QPointF(388, 321), QPointF(424, 321)}) {
        PaintRivet(painter, at, 2.4);
    }
}

}  // namespace

QRectF ToPixels(const TwipRect& twips) {
    return QRectF(twips.left / kTwipsPerPixel, twips.top / kTwipsPerPixel,
                  twips.width / kTwipsPerPixel, twips.height / kTwipsPerPixel);
}

void PaintProfileControl(QPainter& painter, Look look) {
    const QRectF box = ToPixels(kProfilePlace.box).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(look == Look::Normal ? kRecessRim : Lit(kTeal, look), 1.0));
    painter.setBrush(kRecess);
    painter.drawRoundedRect(box, 3.0, 3.0);
    // A force trace: a swing that dies away along the box.
    constexpr int kPoints = 24;
    constexpr double kTwoPi = 6.28318530717959;
    const double width = box.width() - 8.0;
    const double height = box.height() - 6.0;
    const double sink = SinkOf(look);
    QPainterPath trace;
    for (int i = 0; i <= kPoints; ++i) {
        const double u = static_cast<double>(i) / kPoints;
        const QPointF at(box.left() + 4.0 + u * width,
                         box.center().y() + sink -
                             0.5 * height * std::sin(u * kTwoPi) * (1.0 - 0.4 * u));
        if (i == 0) {
            trace.moveTo(at);
        } else {
            trace.lineTo(at);
        }
    }
    painter.setPen(QPen(Lit(kTeal, look), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(trace);
    painter.restore();
}

void PaintSmoothSwitch(QPainter& painter, bool on, Look look) {
    const QRectF box = ToPixels(kSmoothPlace.box);
    const QRectF pill = box.adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = pill.height() / 2.0;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    if (on) {
        QLinearGradient teal(pill.topLeft(), pill.bottomLeft());
        teal.setColorAt(0.0, Lit(QColor(132, 240, 226), look));
        teal.setColorAt(1.0, Lit(QColor(20, 110, 102), look));
        painter.setBrush(teal);
    } else {
        painter.setBrush(Lit(kRecess, look));
    }
    painter.setPen(QPen(look == Look::Normal ? kRecessRim : Lit(kTeal, look), 1.0));
    painter.drawRoundedRect(pill, radius, radius);

    // The knob slides to the side the switch is set to; the other side names the state.
    const double knob = pill.height() - 4.0;
    const QRectF knobBox(on ? pill.right() - 2.0 - knob : pill.left() + 2.0,
                         pill.top() + 2.0 + SinkOf(look) * 0.5, knob, knob);
    QRadialGradient steel(knobBox.center() - QPointF(knob * 0.2, knob * 0.2), knob);
    steel.setColorAt(0.0, QColor(236, 244, 246));
    steel.setColorAt(1.0, QColor(110, 122, 130));
    painter.setPen(QPen(kPlateShadow, 0.8));
    painter.setBrush(steel);
    painter.drawEllipse(knobBox);
    const QRectF label = on ? QRectF(pill.left() + 3, pill.top(), pill.width() - knob - 7, pill.height())
                            : QRectF(knobBox.right() + 1, pill.top(), pill.right() - knobBox.right() - 3,
                                     pill.height());
    Text(painter, label, Qt::AlignCenter, on ? QStringLiteral("ON") : QStringLiteral("OFF"),
         SkinFont(8, true), on ? QColor(4, 32, 30) : kTextDim);
    painter.restore();
}

void PaintButtonFace(QPainter& painter, Button button, Look look) {
    const QRectF face = ToPixels(PlaceOf(button).box);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    QLinearGradient teal(face.topLeft(), face.bottomLeft());
    const bool pressed = look == Look::Pressed;
    // A pressed face is lit from below, as if pushed into the deck.
    teal.setColorAt(pressed ? 1.0 : 0.0, Lit(QColor(132, 240, 226), look));
    teal.setColorAt(0.5, Lit(QColor(52, 178, 164), look));
    teal.setColorAt(pressed ? 0.0 : 1.0, Lit(QColor(20, 110, 102), look));
    painter.setPen(Qt::NoPen);
    painter.setBrush(teal);
    painter.drawRoundedRect(face, 8.5, 8.5);
    if (look == Look::Hover) {
        painter.setPen(QPen(QColor(220, 255, 250, 200), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(face.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
    Text(painter, face.translated(0, SinkOf(look)), Qt::AlignCenter,
         QString::fromLatin1(PlaceOf(button).face), SkinFont(11, true), QColor(4, 32, 30));
    painter.restore();
}

void PaintKnob(QPainter& painter, Knob which, Look look) {
    const bool close = which == Knob::Close;
    const QRectF knob = ToPixels(PlaceOf(which).box);
    const QColor light = close ? QColor(255, 120, 100) : QColor(120, 180, 255);
    const QColor dark = close ? QColor(176, 26, 20) : QColor(24, 78, 190);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient face(knob.topLeft(), knob.bottomLeft());
    face.setColorAt(0.0, Lit(light, look));
    face.setColorAt(1.0, Lit(dark, look));
    painter.setPen(QPen(QColor(8, 10, 12), 1));
    painter.setBrush(face);
    painter.drawRoundedRect(knob.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);

    // Glossy reflection on the upper half; gone while pressed.
    if (look != Look::Pressed) {
        QLinearGradient gloss(knob.topLeft(), QPointF(knob.left(), knob.center().y()));
        gloss.setColorAt(0.0, QColor(255, 255, 255, look == Look::Hover ? 150 : 110));
        gloss.setColorAt(1.0, QColor(255, 255, 255, 10));
        painter.setPen(Qt::NoPen);
        painter.setBrush(gloss);
        painter.drawRoundedRect(QRectF(knob.left() + 2.5, knob.top() + 2, knob.width() - 5,
                                       knob.height() / 2 - 1.5),
                                4, 4);
    }

    painter.setPen(QPen(QColor(250, 252, 255), 2.2, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = knob.center() + QPointF(0, SinkOf(look));
    if (close) {
        painter.drawLine(c + QPointF(-4, -4), c + QPointF(4, 4));
        painter.drawLine(c + QPointF(-4, 4), c + QPointF(4, -4));
    } else {
        painter.drawLine(c + QPointF(-6, 3.5), c + QPointF(6, 3.5));
    }
    painter.restore();
}

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
