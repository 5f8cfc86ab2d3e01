// The 3D window on a real X server with Mesa's software OpenGL (run under
// xvfb-run): it draws the track where the track is, from outside and from
// the rider's seat, its marker follows the profile's cursor, a click moves
// that cursor, and Ctrl+3 and the profile window open it.
//   cvqrn_track3d_tests --pictures DIR   writes the README's and the review's pictures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "heartline/generator.h"
#include "samples/sample_tracks.h"
#include "tests/ui/logic_doubles.h"
#include "trackfile/track_file.h"
#include "ui/main_window.h"
#include "frontend/track_operations.h"
#include "ui/profile_window.h"
#include "ui/track_3d_window.h"

namespace cvqrn::ui::test {
namespace {

// The loaded sample and, unless `loadedOnly`, its heartline run at the
// sample's speeds, as the ride profile hookup hands them over.
struct SampleModel {
    explicit SampleModel(TrackData (*make)(), bool loadedOnly = false) : loaded(make()) {
        rebuilt = loaded;
        if (!loadedOnly) {
            EXPECT_TRUE(GenerateHeartline(rebuilt, settings, nullptr));
        }
        model = BuildProfileModel(MakeProfileRequest(loaded, loadedOnly ? nullptr : &rebuilt, settings));
    }
    TrackData loaded, rebuilt;
    HeartlineSettings settings;
    ProfileModel model;
};

struct Shown {
    explicit Shown(const ProfileModel& model) {
        window.SetModel(model);
        window.resize(900, 680);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    QImage Grab() { return window.View()->grabFramebuffer(); }
    QPointF Pixel(const scene::Vecd& p) const {
        const auto at = window.View()->ToPixel(p);
        EXPECT_TRUE(at.has_value());
        return at.value_or(QPointF(-1, -1));
    }
    scene::Vecd Rail(size_t i) const {
        const auto& r = window.Scene().path.rail;
        return {r[3 * i], r[3 * i + 1], r[3 * i + 2]};
    }
    Track3dWindow window;
};

QColor Background(const QImage& image) {
    return image.pixelColor(2, 2);
}

// Whether any pixel within `radius` of `at` differs from `colour`.
bool DrawnNear(const QImage& image, const QPointF& at, const QColor& colour, int radius = 2) {
    for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
            const QPoint p = at.toPoint() + QPoint(dx, dy);
            if (image.rect().contains(p) && image.pixelColor(p) != colour) return true;
        }
    }
    return false;
}

// The cursor marker is the one light, unsaturated thing drawn.
bool MarkerAt(const QImage& image, const QPointF& at) {
    const QColor c = image.pixelColor(at.toPoint());
    const int hi = std::max({c.red(), c.green(), c.blue()});
    const int lo = std::min({c.red(), c.green(), c.blue()});
    return hi > 140 && hi - lo < 16;
}

// From the reset camera every tenth sample's rail point is drawn, and the
// corners stay background; from the rider's seat the rails ahead are drawn.
// A wrong matrix order, a missing upload or a culled mesh leaves them empty.
TEST(Track3dWindow, DrawsTheTrackWhereTheTrackIs) {
    for (bool loadedOnly : {true, false}) {
        const SampleModel sample(FamilyCoaster, loadedOnly);
        Shown shown(sample.model);
        const QImage outside = shown.Grab();
        const QColor background = Background(outside);
        const size_t n = shown.window.Scene().path.size();
        ASSERT_GT(n, 100u);
        int drawn = 0, checked = 0;
        for (size_t i = 0; i < n; i += 10, ++checked) {
            drawn += DrawnNear(outside, shown.Pixel(shown.Rail(i)), background) ? 1 : 0;
        }
        EXPECT_EQ(drawn, checked) << (loadedOnly ? "loaded" : "rebuilt");
        EXPECT_EQ(outside.pixelColor(outside.width() - 3, outside.height() - 3), background);

        shown.window.SetCursor(60.0);
        shown.window.View()->SetRide(true);
        const QImage ride = shown.Grab();
        const size_t ahead = scene::SampleAt(shown.window.Scene().path, 66.0);
        EXPECT_TRUE(DrawnNear(ride, shown.Pixel(shown.Rail(ahead)), background));
        EXPECT_FALSE(MarkerAt(ride, QPointF(ride.width() / 2.0, ride.height() / 2.0)));
    }
}

// The marker stands over the cursor and moves with it.
TEST(Track3dWindow, MarkerFollowsTheCursor) {
    const SampleModel sample(FamilyCoaster);
    Shown shown(sample.model);
    const scene::ScenePath& path = shown.window.Scene().path;
    const auto markerPixel = [&](double d) {
        const scene::Pose pose = scene::PoseAt(path, d);
        return shown.Pixel(pose.rail + 1.8 * pose.up);
    };
    const QPointF first = markerPixel(40.0), second = markerPixel(150.0);
    EXPECT_FALSE(MarkerAt(shown.Grab(), first));
    shown.window.SetCursor(40.0);
    QImage image = shown.Grab();
    EXPECT_TRUE(MarkerAt(image, first));
    EXPECT_FALSE(MarkerAt(image, second));
    shown.window.SetCursor(150.0);
    image = shown.Grab();
    EXPECT_FALSE(MarkerAt(image, first));
    EXPECT_TRUE(MarkerAt(image, second));
}

// A click on the track moves the cursor to the sample under the pointer and
// says so; hovering shows that sample's values.
TEST(Track3dWindow, ClickOnTheTrackMovesTheCursorThere) {
    const SampleModel sample(LoopAndHelix);
    Shown shown(sample.model);
    const scene::ScenePath& path = shown.window.Scene().path;
    double moved = -1.0;
    QObject::connect(&shown.window, &Track3dWindow::CursorMoved, [&](double d) { moved = d; });
    for (size_t i : {size_t{30}, path.size() / 2, path.size() - 30}) {
        const QPoint at = shown.Pixel(shown.Rail(i)).toPoint();
        QMouseEvent hover(QEvent::MouseMove, at, shown.window.View()->mapToGlobal(at),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(shown.window.View(), &hover);
        EXPECT_TRUE(shown.window.ReadOutText().contains(QStringLiteral(" m/s   vertical ")));
        QTest::mouseClick(shown.window.View(), Qt::LeftButton, {}, at);
        EXPECT_NEAR(moved, path.distance[i], 1.5) << "sample " << i;
        EXPECT_EQ(shown.window.Cursor(), moved);
    }
}

// Playing moves the cursor forward at the train's speed and says where.
TEST(Track3dWindow, PlayMovesTheCursorAlong) {
    const SampleModel sample(FamilyCoaster);
    Shown shown(sample.model);
    double moved = -1.0;
    QObject::connect(&shown.window, &Track3dWindow::CursorMoved, [&](double d) { moved = d; });
    shown.window.SetPlaying(true);
    QTest::qWait(300);
    shown.window.SetPlaying(false);
    EXPECT_GT(moved, 0.5 * 0.3 * sample.settings.endspeed);
    EXPECT_EQ(shown.window.Cursor(), moved);
}

// The window from the panel: Ctrl+3 opens it after a load and closes it
// again, the profile window's button opens it, its cursor follows the
// profile's, and a click in it moves the profile's.
TEST(Track3dWindow, OpensFromThePanelAndTheProfileAndSharesTheCursor) {
    const QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("family.cvtrack")).toStdString();
    ASSERT_TRUE(SaveTrack(path, FamilyCoaster()));
    FakeChooser chooser;
    CoreTrackOperations core;
    MainWindow main(core, &chooser, nullptr);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    QApplication::setActiveWindow(&main);  // Xvfb has no window manager to do it
    main.LoadFile(QString::fromStdString(path));
    QTest::keyClick(&main, Qt::Key_3, Qt::ControlModifier);
    auto* hookup = main.findChild<Track3dHookup*>();
    ASSERT_NE(hookup, nullptr);
    Track3dWindow* view = hookup->Window();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_GT(view->Scene().path.size(), 100u);
    QTest::keyClick(&main, Qt::Key_3, Qt::ControlModifier);
    EXPECT_FALSE(view->isVisible());

    QTest::keyClick(&main, Qt::Key_G, Qt::ControlModifier);
    auto* profile = main.findChild<ProfileWindow*>();
    ASSERT_NE(profile, nullptr);
    QPushButton* button = nullptr;
    for (QPushButton* b : profile->findChildren<QPushButton*>()) {
        if (b->text() == QStringLiteral("3D view")) button = b;
    }
    ASSERT_NE(button, nullptr);
    button->click();
    EXPECT_TRUE(view->isVisible());

    profile->HoverAt(77.0);
    EXPECT_EQ(view->Cursor(), 77.0);
    emit view->CursorMoved(123.0);
    EXPECT_TRUE(profile->ReadOutText().startsWith(QStringLiteral("123.0 m"))) << profile->ReadOutText().toStdString();
}

// The benchmarks' 2000-segment track (some 16 km), drawn by levels of detail.
TrackData LongTrack() {
    return WindingTrack(2000);
}

// The pictures: each sample from outside and from the rider's seat.
int WritePictures(const QString& folder) {
    QDir().mkpath(folder);
    struct Picture {
        const char* name;
        TrackData (*make)();
        double rideAt;  // metres along the heart path; negative: from outside
    };
    const Picture pictures[] = {
        {"family-outside", FamilyCoaster, -1.0}, {"family-ride", FamilyCoaster, 27.0},
        {"loop-outside", LoopAndHelix, -1.0},    {"loop-ride", LoopAndHelix, 62.0},
        {"long-outside", LongTrack, -1.0},       {"long-ride", LongTrack, 8000.0},
    };
    for (const Picture& p : pictures) {
        const SampleModel sample(p.make);
        Shown shown(sample.model);
        shown.window.resize(1100, 720);
        if (p.rideAt >= 0.0) {
            shown.window.SetCursor(p.rideAt);
            shown.window.View()->SetRide(true);
        } else {
            shown.window.SetCursor(60.0);
        }
        QTest::qWait(100);
        const QString file = folder + QStringLiteral("/track3d-%1.png").arg(QLatin1String(p.name));
        if (!shown.window.grab().save(file)) return 1;
    }
    return 0;
}

}  // namespace
}  // namespace cvqrn::ui::test

int main(int argc, char** argv) {
    QStandardPaths::setTestModeEnabled(true);
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QApplication app(argc, argv);
    if (argc == 3 && QString::fromLocal8Bit(argv[1]) == QStringLiteral("--pictures")) {
        return cvqrn::ui::test::WritePictures(QString::fromLocal8Bit(argv[2]));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
