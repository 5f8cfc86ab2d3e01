// The skin picture: its size at each pixel ratio, clean holes that the window
// mask can cut, and artwork under every control.
#include "ui/skin.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QRectF>

#include <algorithm>
#include <cmath>
#include <vector>

namespace cvqrn::ui {
namespace {

bool IsHole(const QImage& image, int x, int y) {
    return image.pixel(x, y) == kSkinHoleColour;
}

// Device pixels touched by a rectangle in logical pixels.
QRect DevicePixels(const QRectF& logical, double dpr) {
    return QRectF(logical.topLeft() * dpr, logical.size() * dpr).toAlignedRect();
}

class SkinAtRatio : public ::testing::TestWithParam<double> {};

TEST_P(SkinAtRatio, HasTheWindowSizeShapedCornersAndEveryPixelExactlyAHoleOrClearlyNotOne) {
    const double dpr = GetParam();
    const QImage skin = RenderSkin(dpr);
    EXPECT_EQ(skin.size(), QSize(static_cast<int>(std::lround(440 * dpr)),
                                 static_cast<int>(std::lround(340 * dpr))));
    EXPECT_DOUBLE_EQ(skin.devicePixelRatio(), dpr);
    EXPECT_TRUE(IsHole(skin, 0, 0) && IsHole(skin, skin.width() - 1, skin.height() - 1));
    long holes = 0;
    double nearest = 1000.0;  // distance in RGB space of a non-hole pixel from the hole colour
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) {
            const QRgb pixel = skin.pixel(x, y);
            if (pixel == kSkinHoleColour) {
                ++holes;
                continue;
            }
            nearest = std::min(nearest, std::hypot(qRed(pixel) - 255.0, qGreen(pixel) - 0.0,
                                                   qBlue(pixel) - 255.0));
        }
    }
    // The gaps between the plates: clearly visible, yet most of the window is panel.
    EXPECT_GE(static_cast<double>(holes), 3000 * dpr * dpr);
    EXPECT_LE(static_cast<double>(holes), 20000 * dpr * dpr);
    EXPECT_GE(nearest, 120.0) << "an antialiased edge came out pinkish";
}

TEST_P(SkinAtRatio, NoControlLiesOverAHoleTheDotsAreRedAndTheTubeIsEmpty) {
    const double dpr = GetParam();
    const QImage skin = RenderSkin(dpr);
    std::vector<TwipRect> controls = {kProgressTube, kMessageBox};
    for (const FieldPlace& field : kFieldPlaces) controls.push_back(field.box);
    for (const HotSpotPlace& spot : kButtonPlaces) controls.push_back(spot.box);
    for (const HotSpotPlace& spot : kKnobPlaces) controls.push_back(spot.box);
    controls.push_back(kProfilePlace.box);
    controls.insert(controls.end(), kLightBoxes.begin(), kLightBoxes.end());
    for (const TwipRect& twips : controls) {
        const QRectF control = ToPixels(twips);
        const QRect pixels = DevicePixels(control, dpr);
        int holes = 0;
        for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
            for (int x = pixels.left(); x <= pixels.right(); ++x) holes += IsHole(skin, x, y);
        }
        EXPECT_EQ(holes, 0) << "control at " << control.x() << "," << control.y();
    }
    for (const TwipRect& light : kLightBoxes) {
        const QPointF centre = ToPixels(light).center() * dpr;
        const QColor colour = skin.pixelColor(centre.toPoint());
        EXPECT_TRUE(colour.red() > 150 && colour.green() < 90 && colour.blue() < 90)
            << "dot at " << light.left;
    }
    // The red bar must stand out against an empty, dark tube.
    const QRect tube = DevicePixels(ToPixels(kProgressTube), dpr);
    for (int y = tube.top() + 1; y < tube.bottom(); ++y) {
        const QColor pixel = skin.pixelColor(tube.center().x(), y);
        EXPECT_LT(pixel.red() + pixel.green() + pixel.blue(), 240) << "tube row " << y;
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

}  // namespace
}  // namespace cvqrn::ui

int main(int argc, char** argv) {
    // Text needs a platform's fonts; the offscreen platform gives them without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
