// The ride profile window on the real window and core, under Qt's offscreen
// platform: it follows loads and runs, marks a valley, reads out where the
// pointer is and saves its picture. With CVQRN_PROFILE_SHOTS set to a folder,
// the pictures after the load, the run and the valley are kept there.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QKeySequence>
#include <QTest>
#include <memory>

#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "tests/ui/logic_doubles.h"
#include "tests/ui/window_program.h"
#include "trackfile/track_file.h"
#include "ui/main_window.h"
#include "ui/profile_window.h"

namespace cvqrn::ui::test {
namespace {

struct ProfileRig {
    ProfileRig() {
        window = std::make_unique<MainWindow>(core, &chooser, &boxes);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        hookup = window->findChild<RideProfileHookup*>();
    }
    void Load(TrackData track) {
        ASSERT_TRUE(SaveTrack(dir.File("in.cvtrack"), track).ok);
        chooser.Next(dir.File("in.cvtrack"));
        window->LoadClicked();
    }
    // Keeps the picture when asked to, and checks that it was written.
    void Shot(const char* name) {
        const QByteArray folder = qgetenv("CVQRN_PROFILE_SHOTS");
        const QString path = folder.isEmpty() ? QString::fromStdString(dir.File(name))
                                              : QString::fromUtf8(folder) + "/" + name;
        ASSERT_TRUE(hookup->Window()->SavePicture(path)) << path.toStdString();
        EXPECT_GT(QFile(path).size(), 1000);
    }

    testsupport::TempDir dir;
    FakeChooser chooser;
    CoreTrackOperations core;
    RecordingBoxes boxes;
    std::unique_ptr<MainWindow> window;
    RideProfileHookup* hookup = nullptr;
};

TEST(ProfileWindow, FollowsLoadsAndRunsAndMarksAValley) {
    ProfileRig rig;
    ASSERT_NE(rig.hookup, nullptr);
    // Its control opens it before anything is loaded.
    auto* control = rig.window->findChild<QWidget*>(QString::fromLatin1(kProfilePlace.name));
    ASSERT_NE(control, nullptr);
    QTest::mouseClick(control, Qt::LeftButton);
    ProfileWindow* profile = rig.hookup->Window();
    ASSERT_NE(profile, nullptr);
    EXPECT_TRUE(profile->isVisible());
    EXPECT_EQ(profile->windowTitle(), "Ride profile");
    EXPECT_FALSE(profile->Model().loaded.has_value());

    rig.Load(FamilyCoaster());
    ASSERT_TRUE(profile->Model().loaded && *profile->Model().loaded);
    EXPECT_FALSE(profile->Model().rebuilt.has_value());
    rig.Shot("profile_after_load.png");

    rig.window->HeartlineClicked();
    ASSERT_TRUE(profile->Model().rebuilt && *profile->Model().rebuilt);
    EXPECT_EQ(profile->Model().rebuilt->settings.heartline, HeartlineSettings{}.heartline);
    EXPECT_FALSE(profile->Model().valley.has_value());
    profile->HoverAt(54.0);
    EXPECT_TRUE(profile->ReadOutText().startsWith("54.0 m")) << profile->ReadOutText().toStdString();
    EXPECT_TRUE(profile->ReadOutText().contains("rebuilt: ")) << profile->ReadOutText().toStdString();
    rig.Shot("profile_after_run.png");
    rig.Shot("profile_after_run.svg");

    // A hill the default start speed cannot climb: the details advise a speed,
    // the profile marks where the train stops and drops the old result.
    rig.Load(HighHill());
    rig.window->HeartlineClicked();
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_NE(rig.boxes.shown[0].detail.find("With V in at least "), std::string::npos)
        << rig.boxes.shown[0].detail;
    ASSERT_TRUE(profile->Model().valley.has_value());
    EXPECT_FALSE(profile->Model().rebuilt.has_value());
    EXPECT_GT(profile->Model().valley->distance, 20.0);
    EXPECT_LT(profile->Model().valley->distance, profile->Model().loaded->summary.length);
    rig.Shot("profile_after_valley.png");
    if (qEnvironmentVariableIsSet("CVQRN_PROFILE_SHOTS")) {
        rig.window->grab().save(qEnvironmentVariable("CVQRN_PROFILE_SHOTS") + "/main_window.png");
    }

    // Closed, it still follows: reopened with Ctrl+G after a load it shows the new track.
    profile->close();
    rig.Load(LoopAndHelix());
    QTest::keySequence(rig.window.get(), QKeySequence(Qt::CTRL | Qt::Key_G));
    EXPECT_TRUE(profile->isVisible());
    EXPECT_FALSE(profile->Model().valley.has_value());
    EXPECT_NEAR(profile->Model().loaded->summary.length, 383.3, 0.1);
}

}  // namespace
}  // namespace cvqrn::ui::test
