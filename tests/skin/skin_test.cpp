// The skin picture: its size at each pixel ratio, clean holes that the window
// mask can cut, a one-piece outline, and artwork under every control.
#include "ui/skin.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRectF>

#include <cmath>
#include <limits>
#include <vector>

namespace cvqrn::ui {
namespace {

bool IsHole(const QImage& image, int x, int y) {
    return image.pixel(x, y) == kSkinHoleColour;
}

// Distance in RGB space from the hole colour.
double DistanceFromHole(QRgb pixel) {
    const double dr = qRed(pixel) - 255.0;
    const double dg = qGreen(pixel) - 0.0;
    const double db = qBlue(pixel) - 255.0;
    return std::sqrt(dr * dr + dg * dg + db * db);
}

// Device pixels touched by a rectangle in logical pixels.
QRect DevicePixels(const QRectF& logical, double dpr) {
    const int left = static_cast<int>(std::floor(logical.left() * dpr));
    const int top = static_cast<int>(std::floor(logical.top() * dpr));
    const int right = static_cast<int>(std::ceil(logical.right() * dpr)) - 1;
    const int bottom = static_cast<int>(std::ceil(logical.bottom() * dpr)) - 1;
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

struct NamedRect {
    const char* name;
    QRectF rect;
};

// Every control that the window lays over the skin, in logical pixels.
std::vector<NamedRect> ControlRects() {
    std::vector<NamedRect> rects = {
        {"minimise knob", {352, 12, 33, 21}},      {"close knob", {388, 12, 29, 21}},
        {"progress tube", {194.7, 160, 9.7, 112}}, {"message line", {52, 280, 109, 21}},
        {"light 1", {218.1, 177.6, 6.3, 6.3}},     {"light 2", {228, 177.6, 6.3, 6.3}},
        {"light 3", {238, 177.6, 6.3, 6.3}},       {"Load button", {36, 308, 89, 17}},
        {"Heartline button", {156, 308, 89, 17}},  {"Save button", {276, 308, 89, 17}},
    };
    for (const double y : {100, 130, 160, 190, 220, 250}) {
        rects.push_back({"parameter field", {140, y, 41, 21}});
    }
    for (const double y : {220, 250}) {
        for (const double x : {240, 300, 360}) rects.push_back({"display field", {x, y, 51, 21}});
    }
    return rects;
}

// Number of non-hole pixels reachable from the first one, stepping to the four neighbours.
long ReachableBody(const QImage& image) {
    const int w = image.width();
    const int h = image.height();
    std::vector<char> seen(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    std::vector<QPoint> stack;
    for (int y = 0; y < h && stack.empty(); ++y) {
        for (int x = 0; x < w; ++x) {
            if (!IsHole(image, x, y)) {
                stack.push_back({x, y});
                seen[static_cast<std::size_t>(y * w + x)] = 1;
                break;
            }
        }
    }
    long count = 0;
    while (!stack.empty()) {
        const QPoint p = stack.back();
        stack.pop_back();
        ++count;
        const QPoint steps[4] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
        for (const QPoint& step : steps) {
            const QPoint n = p + step;
            if (n.x() < 0 || n.y() < 0 || n.x() >= w || n.y() >= h) continue;
            const std::size_t index = static_cast<std::size_t>(n.y() * w + n.x());
            if (seen[index] || IsHole(image, n.x(), n.y())) continue;
            seen[index] = 1;
            stack.push_back(n);
        }
    }
    return count;
}

class SkinAtRatio : public ::testing::TestWithParam<double> {};

TEST_P(SkinAtRatio, HasTheWindowSizeInDevicePixels) {
    const double dpr = GetParam();
    const QImage skin = RenderSkin(dpr);
    EXPECT_EQ(skin.width(), static_cast<int>(std::lround(440 * dpr)));
    EXPECT_EQ(skin.height(), static_cast<int>(std::lround(340 * dpr)));
    EXPECT_DOUBLE_EQ(skin.devicePixelRatio(), dpr);
    EXPECT_FALSE(skin.hasAlphaChannel());
}

TEST_P(SkinAtRatio, EveryPixelIsExactlyAHoleOrClearlyNotOne) {
    const double dpr = GetParam();
    const QImage skin = RenderSkin(dpr);
    long holes = 0;
    double nearest = std::numeric_limits<double>::max();
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) {
            const QRgb pixel = skin.pixel(x, y);
            if (pixel == kSkinHoleColour) {
                ++holes;
            } else {
                nearest = std::min(nearest, DistanceFromHole(pixel));
            }
        }
    }
    // The gaps between the plates: clearly visible, yet most of the window is panel.
    const double area = dpr * dpr;
    EXPECT_GE(static_cast<double>(holes), 3000 * area);
    EXPECT_LE(static_cast<double>(holes), 20000 * area);
    EXPECT_GE(nearest, 120.0) << "an antialiased edge came out pinkish";
}

TEST_P(SkinAtRatio, CornersAreHolesSoTheOutlineIsShaped) {
    const QImage skin = RenderSkin(GetParam());
    EXPECT_TRUE(IsHole(skin, 0, 0));
    EXPECT_TRUE(IsHole(skin, skin.width() - 1, 0));
    EXPECT_TRUE(IsHole(skin, 0, skin.height() - 1));
    EXPECT_TRUE(IsHole(skin, skin.width() - 1, skin.height() - 1));
}

TEST_P(SkinAtRatio, NoControlLiesOverAHole) {
    const double dpr = GetParam();
    const QImage skin = RenderSkin(dpr);
    for (const NamedRect& control : ControlRects()) {
        const QRect pixels = DevicePixels(control.rect, dpr);
        int holes = 0;
        for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
            for (int x = pixels.left(); x <= pixels.right(); ++x) holes += IsHole(skin, x, y);
        }
        EXPECT_EQ(holes, 0) << control.name << " at " << control.rect.x() << ","
                            << control.rect.y();
    }
}

TEST_P(SkinAtRatio, OutlineIsOneConnectedPiece) {
    const QImage skin = RenderSkin(GetParam());
    long body = 0;
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) body += !IsHole(skin, x, y);
    }
    EXPECT_EQ(ReachableBody(skin), body);
}

TEST_P(SkinAtRatio, StatusDotsAreRedAndTheProgressTubeIsEmpty) {
    const double dpr = GetParam();
    const QImage skin = RenderSkin(dpr);
    for (const double x : {218.1, 228.0, 238.0}) {
        const QRgb centre =
            skin.pixel(static_cast<int>((x + 3.15) * dpr), static_cast<int>((177.6 + 3.15) * dpr));
        EXPECT_GT(qRed(centre), 150) << "dot at " << x;
        EXPECT_LT(qGreen(centre), 90) << "dot at " << x;
        EXPECT_LT(qBlue(centre), 90) << "dot at " << x;
    }
    // The red bar must stand out against an empty, dark tube.
    const QRect tube = DevicePixels(QRectF(194.7, 160, 9.7, 112), dpr);
    for (int y = tube.top() + 1; y < tube.bottom(); ++y) {
        const QRgb pixel = skin.pixel(tube.center().x(), y);
        EXPECT_LT(qRed(pixel) + qGreen(pixel) + qBlue(pixel), 240) << "tube row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Ratios, SkinAtRatio, ::testing::Values(1.0, 1.5, 2.0));

TEST(Skin, HolesCoverWholeLogicalPixelsAtEveryIntegerRatio) {
    // The window cuts its mask in logical pixels; on a high-DPI screen a hole
    // pixel inside the mask would show as a pink speck, a body pixel outside it
    // would be cut away.
    const QImage logical = RenderSkin(1.0);
    for (const int dpr : {2, 3}) {
        const QImage device = RenderSkin(dpr);
        long mismatches = 0;
        for (int y = 0; y < device.height(); ++y) {
            for (int x = 0; x < device.width(); ++x) {
                mismatches += IsHole(device, x, y) != IsHole(logical, x / dpr, y / dpr);
            }
        }
        EXPECT_EQ(mismatches, 0) << "ratio " << dpr;
    }
}

TEST(Skin, RatioThatIsNotPositiveFallsBackToOne) {
    for (const double dpr : {0.0, -2.0, std::nan("")}) {
        const QImage skin = RenderSkin(dpr);
        EXPECT_EQ(skin.size(), QSize(440, 340)) << dpr;
        EXPECT_DOUBLE_EQ(skin.devicePixelRatio(), 1.0);
    }
}

TEST(Skin, PaintingLeavesThePainterAsItWas) {
    QImage target(440, 340, QImage::Format_RGB32);
    QPainter painter(&target);
    const QPen pen(Qt::green, 3);
    painter.setPen(pen);
    painter.setBrush(Qt::blue);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.translate(0.5, 0.5);
    PaintSkin(painter);
    EXPECT_EQ(painter.pen(), pen);
    EXPECT_EQ(painter.brush().color(), QColor(Qt::blue));
    EXPECT_FALSE(painter.testRenderHint(QPainter::Antialiasing));
    EXPECT_EQ(painter.transform(), QTransform::fromTranslate(0.5, 0.5));
}

TEST(Skin, MatchesTheRenderedImageWhenPaintedOntoAWidgetSizedSurface) {
    // The window paints the skin itself; at ratio 1 that must give the very
    // pixels whose holes its mask was cut from.
    QImage painted(440, 340, QImage::Format_RGB32);
    QPainter painter(&painted);
    PaintSkin(painter);
    painter.end();
    const QImage rendered = RenderSkin(1.0);
    long differentHoles = 0;
    for (int y = 0; y < 340; ++y) {
        for (int x = 0; x < 440; ++x)
            differentHoles += IsHole(painted, x, y) != IsHole(rendered, x, y);
    }
    EXPECT_EQ(differentHoles, 0);
}

}  // namespace
}  // namespace cvqrn::ui

int main(int argc, char** argv) {
    // Text needs a platform's fonts; the offscreen platform gives them without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
