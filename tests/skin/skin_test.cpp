// The skin picture at each pixel ratio: the window's size, clean holes that
// the window mask can cut, and artwork under every control.
#include "ui/skin.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <cmath>
#include <vector>

namespace cvqrn::ui {
namespace {

class SkinAtRatio : public ::testing::TestWithParam<double> {};

TEST_P(SkinAtRatio, WindowSizedWithCleanHolesThatNoControlLiesOver) {
    const double dpr = GetParam();
    const QImage skin = RenderSkin(dpr);
    EXPECT_EQ(skin.size(), QSize(qRound(440 * dpr), qRound(340 * dpr)));
    EXPECT_EQ(skin.pixel(0, 0), kSkinHoleColour);  // shaped corners
    long holes = 0;
    double nearest = 1000.0;  // distance in RGB space of a non-hole pixel from the hole colour
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) {
            const QRgb pixel = skin.pixel(x, y);
            holes += pixel == kSkinHoleColour;
            if (pixel == kSkinHoleColour) continue;
            nearest = std::min(nearest, std::hypot(qRed(pixel) - 255.0, qGreen(pixel) - 0.0,
                                                   qBlue(pixel) - 255.0));
        }
    }
    // The gaps between the plates: clearly visible, yet most of the window is panel.
    EXPECT_GE(static_cast<double>(holes), 3000 * dpr * dpr);
    EXPECT_LE(static_cast<double>(holes), 20000 * dpr * dpr);
    EXPECT_GE(nearest, 120.0) << "an antialiased edge came out pinkish";

    std::vector<TwipRect> controls = {kProgressTube, kMessageBox, kProfilePlace.box};
    for (const FieldPlace& field : kFieldPlaces) controls.push_back(field.box);
    for (const HotSpotPlace& spot : kButtonPlaces) controls.push_back(spot.box);
    for (const HotSpotPlace& spot : kKnobPlaces) controls.push_back(spot.box);
    controls.insert(controls.end(), kLightBoxes.begin(), kLightBoxes.end());
    for (const TwipRect& twips : controls) {
        const QRectF logical = ToPixels(twips);
        const QRect area = QRectF(logical.topLeft() * dpr, logical.size() * dpr).toAlignedRect();
        int over = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x)
                over += skin.pixel(x, y) == kSkinHoleColour;
        }
        EXPECT_EQ(over, 0) << "control at " << twips.left << "," << twips.top << " twips";
    }
    for (const TwipRect& light : kLightBoxes) {
        const QColor dot = skin.pixelColor((ToPixels(light).center() * dpr).toPoint());
        EXPECT_TRUE(dot.red() > 150 && dot.green() < 90 && dot.blue() < 90) << light.left;
    }
    // The red bar must stand out against an empty, dark tube.
    const QRectF tube = ToPixels(kProgressTube);
    for (double y = tube.top() + 1; y < tube.bottom() - 1; ++y) {
        const QColor pixel = skin.pixelColor((QPointF(tube.center().x(), y) * dpr).toPoint());
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
                mismatches += (device.pixel(x, y) == kSkinHoleColour) !=
                              (logical.pixel(x / dpr, y / dpr) == kSkinHoleColour);
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
