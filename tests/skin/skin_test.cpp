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
    // The window cuts its mask in logical pixels: at a whole ratio, a hole pixel
    // inside the mask would show as a pink speck, a body pixel outside it would be cut away.
    const QImage logical = RenderSkin(1.0);
    const int whole = dpr == std::floor(dpr) ? static_cast<int>(dpr) : 0;
    long holes = 0;
    long notAsLogical = 0;
    double nearest = 1000.0;  // distance in RGB space of a non-hole pixel from the hole colour
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) {
            const QRgb pixel = skin.pixel(x, y);
            const bool hole = pixel == kSkinHoleColour;
            holes += hole;
            const QRgb logicalPixel = whole > 0 ? logical.pixel(x / whole, y / whole) : pixel;
            notAsLogical += hole != (logicalPixel == kSkinHoleColour);
            const double pink =
                std::hypot(qRed(pixel) - 255.0, qGreen(pixel), qBlue(pixel) - 255.0);
            if (!hole) nearest = std::min(nearest, pink);
        }
    }
    EXPECT_GE(static_cast<double>(holes), 3000 * dpr * dpr);  // the gaps between the plates
    EXPECT_EQ(notAsLogical, 0);
    EXPECT_GE(nearest, 120.0) << "an antialiased edge came out pinkish";

    std::vector<TwipRect> controls = {kProgressTube, kMessageBox, kProfilePlace.box};
    for (const FieldPlace& field : kFieldPlaces) controls.push_back(field.box);
    for (const HotSpotPlace& spot : kButtonPlaces) controls.push_back(spot.box);
    for (const HotSpotPlace& spot : kKnobPlaces) controls.push_back(spot.box);
    controls.insert(controls.end(), kLightBoxes.begin(), kLightBoxes.end());
    for (const TwipRect& twips : controls) {
        const QRectF box = ToPixels(twips);
        const QRect area = QRectF(box.topLeft() * dpr, box.size() * dpr).toAlignedRect();
        int over = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                over += skin.pixel(x, y) == kSkinHoleColour;
            }
        }
        EXPECT_EQ(over, 0) << "control at " << twips.left << "," << twips.top << " twips";
    }
}

INSTANTIATE_TEST_SUITE_P(Ratios, SkinAtRatio, ::testing::Values(1.0, 1.5, 2.0, 3.0));

}  // namespace
}  // namespace cvqrn::ui

int main(int argc, char** argv) {
    // Text needs a platform's fonts; the offscreen platform gives them without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
