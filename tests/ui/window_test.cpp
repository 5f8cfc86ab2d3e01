// The real window under Qt's offscreen platform: what only the widgets can break
// (shape, keys, focus, paste, dragging, dialogs, files) and the ride profile window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLocale>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "profile/ride_profile.h"
#include "samples/sample_tracks.h"
#include "tests/support/german_locale.h"
#include "tests/support/track_builder.h"
#include "tests/ui/logic_doubles.h"
#include "text/format.h"
#include "trackfile/track_file.h"
#include "ui/main_window.h"
#include "ui/profile_window.h"
#include "ui/skin.h"

namespace cvqrn::ui::test {
namespace {

// Keeps the boxes the window would show; a question is answered No.
struct RecordingBoxes : MessageBoxPresenter {
    void Show(QWidget*, const MessageBoxRequest& request) override { shown.push_back(request); }
    bool Ask(QWidget*, const MessageBoxRequest&) override { return false; }
    std::vector<MessageBoxRequest> shown;
};

// The window with its dialogs replaced, on the real core or on scripted operations.
struct WindowRig {
    explicit WindowRig(bool realCore = false) {
        TrackOperations& ops = realCore ? static_cast<TrackOperations&>(core) : fake;
        window = std::make_unique<MainWindow>(ops, &chooser, &boxes);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    TextField* Field_(Field f) const { return window->FieldWidget(f); }
    void Click(const char* name) {
        QTest::mouseClick(window->findChild<QWidget*>(QString::fromLatin1(name)), Qt::LeftButton);
    }
    void Load(const std::string& path) {
        chooser.Next(path);
        Click("btnLoad");
    }
    // Starts a heartline run with `start` and waits until the window shows its outcome.
    void Run(const std::function<void()>& start) {
        QSignalSpy finished(window.get(), &MainWindow::runFinished);
        start();
        ASSERT_TRUE(finished.wait(60000));
    }

    FakeChooser chooser;
    FakeOperations fake;
    CoreTrackOperations core;
    RecordingBoxes boxes;
    std::unique_ptr<MainWindow> window;
};

TEST(WindowLayout, FixedFramelessShapedAsTheSkinTabOrderAndReadyClears) {
    WindowRig rig;
    MainWindow& w = *rig.window;
    EXPECT_EQ(w.windowTitle(), "CV-QRN V1.1");
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_EQ(w.size(), QSize(440, 340));
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    const QImage skin = RenderSkin(1.0);
    int mismatches = 0;
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) {
            mismatches += w.mask().contains(QPoint(x, y)) == (skin.pixel(x, y) == kSkinHoleColour);
        }
    }
    EXPECT_EQ(mismatches, 0) << "the mask must hold exactly the skin's non-hole pixels";
    // Tab walks the twelve fields in order from the first and skips the hot-spots.
    for (int i = 1; i <= kFieldCount; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), rig.Field_(static_cast<Field>(i % kFieldCount)));
    }
    EXPECT_EQ(w.MessageLabel()->text(), "Ready");
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.MessageLabel()->text().isEmpty(); }, 5000));
}

TEST(WindowKeys, ShortcutsKeepTheFocusLeavingPrecisionClampsItAndFieldsFilterKeysAndPastes) {
    WindowRig rig;
    TextField* precision = rig.Field_(Field::Precision);
    precision->setFocus(Qt::OtherFocusReason);  // selects all, however it gets the focus
    QTest::keyClicks(precision, "3");
    rig.chooser.Next("/t/a.cvtrack");
    QTest::keyClick(precision, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(rig.Field_(Field::RadiusIn)->text(), "12,346");  // the locale's separator
    rig.Run([&] { rig.Click("btnMod"); });
    rig.Run([&] { QTest::keyClick(precision, Qt::Key_Return, Qt::ControlModifier); });
    rig.Run([&] {
        QTest::keyClick(precision, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    });
    ASSERT_EQ(rig.fake.runs.size(), 3u);
    EXPECT_EQ(rig.fake.runs[0].precision, 3);  // unclamped: the field was never left
    rig.chooser.Next("/t/b.cvtrack");
    QTest::keyClick(precision, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(rig.window->LightWidget(Light::Saved)->isVisible());
    EXPECT_TRUE(precision->hasFocus());
    QTest::keyClick(precision, Qt::Key_Tab);
    EXPECT_EQ(rig.Field_(Field::Filter)->selectedText(), "15");
    EXPECT_EQ(precision->text(), "4");
    // Keys and pasted text pass each field's filter; a minus or a paste replaces the selection.
    TextField* heartline = rig.Field_(Field::Heartline);
    heartline->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(heartline, "-1.2a.5");
    EXPECT_EQ(heartline->text(), "-1.25");
    TextField* speed = rig.Field_(Field::StartSpeed);  // takes a point but no minus
    for (const auto& [pasted, after] : {std::pair(" 12.5\n", "12.5"), {"-3", "12.5"}}) {
        QApplication::clipboard()->setText(QString::fromLatin1(pasted));
        speed->selectAll();
        QTest::keyClick(speed, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(speed->text(), after) << pasted;
    }
}

TEST(WindowKeys, ADecimalCommaTypedPastedOrDroppedGoesInAsAPointOnAGermanDesktop) {
    // The program runs with the desktop's German C locale, as QApplication sets it.
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    WindowRig rig;
    TextField* heartline = rig.Field_(Field::Heartline);
    heartline->setFocus(Qt::TabFocusReason);  // the whole text selected
    QTest::keyClicks(heartline, "1,5");
    EXPECT_EQ(heartline->text(), "1.5");  // not "15": a run built 15 m from the heart path
    TextField* speed = rig.Field_(Field::StartSpeed);
    speed->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(speed, "14");
    QTest::keyClick(speed, Qt::Key_Comma, Qt::KeypadModifier);  // the keypad's decimal key
    QTest::keyClicks(speed, "3,");                               // a second one is refused
    EXPECT_EQ(speed->text(), "14.3");
    TextField* end = rig.Field_(Field::EndSpeed);
    QApplication::clipboard()->setText(QStringLiteral("12,9"));
    end->selectAll();
    QTest::keyClick(end, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(end->text(), "12.9");
    TextField* segments = rig.Field_(Field::Segments);  // no decimal point: "," stays refused
    segments->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(segments, "1,2");
    EXPECT_EQ(segments->text(), "12");
    heartline->clear();
    QMimeData dropped;
    dropped.setText(QStringLiteral("0,95"));
    QDragEnterEvent enter({5, 5}, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(heartline, &enter);
    QDragMoveEvent move({5, 5}, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(heartline, &move);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(heartline, &drop);
    EXPECT_EQ(heartline->text(), "0.95");
    rig.Load("/t/a.cvtrack");
    rig.Run([&] { rig.Click("btnMod"); });
    ASSERT_EQ(rig.fake.runs.size(), 1u);
    const HeartlineSettings& run = rig.fake.runs[0];
    EXPECT_EQ(std::tuple(run.segments, run.heartline, run.startspeed, run.endspeed),
              std::tuple(12, 0.95, 14.3, 12.9));
}

TEST(WindowBoxes, OneOkAnswerDetailApartIconByKindAndQuestionsDefaultToNo) {
    const auto box = MakeMessageBox(nullptr, {"text", "", MessageBoxRequest::Icon::None, "why"});
    EXPECT_EQ(box->detailedText(), "why");  // behind its own button, not an answer
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    const auto question =
        MakeQuestionBox(nullptr, {"text", "", MessageBoxRequest::Icon::Exclamation, ""});
    EXPECT_EQ(question->icon(), QMessageBox::Warning);
    EXPECT_EQ(question->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    QAbstractButton* no = question->button(QMessageBox::No);
    EXPECT_TRUE(question->defaultButton() == no && question->escapeButton() == no);
}

TEST(WindowDialogs, FileDialogIsSetUpFromTheRequest) {
    testsupport::TempDir dir;
    // A full path starts in its folder; a bare name (as after a failed save) in initDir.
    const std::string filter = RewriteFilter(kTrackFilter);
    const ChooserRequest requests[] = {
        {DialogKind::Save, filter, 1, dir.File("a.cvtrack"), "", "", "Title", "cvtrack", 0x6},
        {DialogKind::Open, filter, 1, "a.cvtrack", "", dir.Path(), "Title", "cvtrack", 0x1004},
    };
    for (const ChooserRequest& request : requests) {
        const bool save = request.kind == DialogKind::Save;
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        ConfigureFileDialog(dialog, request);
        EXPECT_EQ(
            dialog.windowTitle() + "|" + dialog.selectedNameFilter() + "|" + dialog.defaultSuffix(),
            "Title|Corvane Tracks (*.cvtrack)|cvtrack");
        EXPECT_EQ(dialog.directory().absolutePath().toStdString(), dir.Path());
        EXPECT_EQ(dialog.fileMode(), save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        EXPECT_EQ(dialog.testOption(QFileDialog::DontConfirmOverwrite), !save);
    }
}

void SendMouse(QWidget& window, QEvent::Type type, QPointF at,
               Qt::MouseButtons buttons = Qt::LeftButton) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, window.mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&window, &event);
}

TEST(WindowDrag, LeftDragMovesTheWindowButNotTheMoveAfterADialogAndTheKnobMinimises) {
    WindowRig rig;
    MainWindow& w = *rig.window;
    const QPointF body(20, 150);  // on the Settings panel, away from every control
    ASSERT_EQ(w.childAt(body.toPoint()), nullptr);
    const QPoint moved = w.pos() + QPoint(30, 12);
    SendMouse(w, QEvent::MouseButtonPress, body);
    SendMouse(w, QEvent::MouseMove, body + QPointF(30, 12));
    EXPECT_EQ(w.pos(), moved);
    SendMouse(w, QEvent::MouseMove, body + QPointF(5, 5), Qt::LeftButton | Qt::RightButton);
    EXPECT_EQ(w.pos(), moved);  // the left button alone drags
    rig.Load("");               // cancelled: the one move that follows the dialog is swallowed
    SendMouse(w, QEvent::MouseButtonPress, body);
    SendMouse(w, QEvent::MouseMove, body + QPointF(7, 0));
    EXPECT_EQ(w.pos(), moved);
    SendMouse(w, QEvent::MouseMove, body + QPointF(7, 0));
    EXPECT_EQ(w.pos(), moved + QPoint(7, 0));
    rig.Click("minimizeme");
    EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
}

TEST(WindowMessages, TheLongestTextIsShownWholeAtThisScale) {
    // Run with QT_SCALE_FACTOR 1, 1.5 and 2 (see CMakeLists.txt).
    WindowRig rig;
    auto& line = *static_cast<MessageLine*>(rig.window->MessageLabel());
    rig.Field_(Field::Precision)->setText("17");
    rig.window->Logic().PrecisionLostFocus();  // "Precision has been adjusted to 16"
    const FittedMessage fitted = line.Fitted();
    EXPECT_EQ(fitted.lines.join(QLatin1Char(' ')), line.text()) << "cut off";
    for (const QString& piece : fitted.lines) {
        EXPECT_LE(QFontMetricsF(fitted.font, &line).horizontalAdvance(piece), line.width());
    }
}

// The profile window's model is worked out on another thread after a load
// or an opening: true once it is shown.
bool ProfileShown(const RideProfileHookup& hookup) {
    return QTest::qWaitFor([&] { return !hookup.Working(); }, 20000);
}

std::string Write(const testsupport::TempDir& dir, const std::string& name, TrackData track) {
    EXPECT_TRUE(SaveTrack(dir.File(name), track));
    return dir.File(name);
}

TEST(WindowFiles, DroppedTracksLoadAndFoldersAndPositionAreRemembered) {
    const testsupport::TempDir dir;
    const std::string track = Write(dir, "in.cvtrack", FamilyCoaster());
    for (const std::string& dropped : {track, dir.File("notes.txt")}) {
        WindowRig rig(true);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped))});
        QDragEnterEvent enter({20, 150}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rig.window.get(), &enter);
        QDropEvent drop(QPointF(20, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rig.window.get(), &drop);
        EXPECT_EQ(enter.isAccepted(), dropped == track) << dropped;
        EXPECT_EQ(rig.window->LightWidget(Light::Loaded)->isVisible(), dropped == track) << dropped;
        rig.Load("");  // the dialog starts where the last load worked
        EXPECT_EQ(rig.chooser.requests.at(0).initDir, dir.Path());
    }
    for (const QPoint& stored : {QPoint(140, 120), QPoint(-5000, -5000)}) {
        MainWindow::Settings().setValue("window/position", stored);
        FakeOperations operations;
        const MainWindow window(operations, nullptr, nullptr);
        EXPECT_EQ(window.pos() == stored, stored.x() > 0) << stored.x();
    }
}

TEST(WindowFiles, TheProfileFollowsLoadsRunsAndAValleyOnTheRealCore) {
    const testsupport::TempDir dir;
    WindowRig rig(true);
    rig.Click(kProfilePlace.name);  // opens before anything is loaded
    const auto* hookup = rig.window->findChild<RideProfileHookup*>();
    ProfileWindow* profile = hookup->Window();
    ASSERT_TRUE(profile != nullptr && profile->isVisible());
    const auto settled = [&] { return ProfileShown(*hookup); };
    ASSERT_TRUE(settled());
    EXPECT_FALSE(profile->Model().loaded);
    rig.Load(Write(dir, "in.cvtrack", FamilyCoaster()));
    ASSERT_TRUE(settled());
    ASSERT_TRUE(profile->Model().loaded && *profile->Model().loaded);
    rig.Run([&] { rig.Click("btnMod"); });
    ASSERT_TRUE(settled());
    ASSERT_TRUE(profile->Model().rebuilt && *profile->Model().rebuilt);
    EXPECT_EQ(profile->Model().rebuilt->settings.heartline, HeartlineSettings{}.heartline);
    EXPECT_EQ(profile->Model().caption.rfind("in.cvtrack \u00b7 default rebuild \u00b7 Segments 100, ", 0), 0u)
        << profile->Model().caption;

    // A hill the default start speed cannot climb: the box advises a speed
    // under its text (with a point, on this German desktop), the profile marks
    // where the train stops and drops the old result.
    rig.Load(Write(dir, "hill.cvtrack", HighHill()));
    rig.Run([&] { rig.Click("btnMod"); });
    ASSERT_TRUE(settled());
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    const MessageBoxRequest& box = rig.boxes.shown[0];
    const QRegularExpression advice(QStringLiteral("With V in at least \\d+\\.\\d m/s the train clears every hill"));
    EXPECT_TRUE(advice.match(QString::fromStdString(box.text)).hasMatch()) << box.text;
    EXPECT_TRUE(advice.match(QString::fromStdString(StatusLine(profile->Model()))).hasMatch());
    ASSERT_TRUE(profile->Model().valley.has_value());
    EXPECT_FALSE(profile->Model().rebuilt.has_value());
    const double stop = profile->Model().valley->distance;
    EXPECT_TRUE(stop > 20.0 && stop < profile->Model().loaded->summary.length) << stop;
    // One figure for the stop, with one rounding, in the box's details and the profile.
    const std::string at = FormatFixed(stop) + " m along the track";
    EXPECT_NE(box.detail.find(at), std::string::npos) << box.detail;
    EXPECT_NE(StatusLine(profile->Model()).find(at), std::string::npos);
    for (const char* name : {"profile.png", "profile.svg"}) {
        ASSERT_TRUE(profile->SavePicture(QString::fromStdString(dir.File(name)))) << name;
        EXPECT_GT(QFile(QString::fromStdString(dir.File(name))).size(), 1000) << name;
    }
    profile->close();
    rig.window->activateWindow();  // Ctrl+G is pressed in the panel
    ASSERT_TRUE(QTest::qWaitForWindowActive(rig.window.get()));
    QTest::keySequence(rig.window.get(), QKeySequence(Qt::CTRL | Qt::Key_G));
    EXPECT_TRUE(profile->isVisible());
}

// With the profile open, a run takes the loaded track's profile from the one
// the window holds when it was made after the same load at the same speeds;
// after a new V in, or another track loaded under the same name (the run
// clicked before that load's profile is shown), it is worked out afresh: a
// stale one would show the old speeds or the old track.
TEST(WindowFiles, ARunTakesTheLoadedProfileShownOnlyForTheSameLoadAndSpeeds) {
    const testsupport::TempDir dir;
    WindowRig rig(true);
    auto* hookup = rig.window->findChild<RideProfileHookup*>();
    hookup->Open();
    const std::string path = Write(dir, "in.cvtrack", FamilyCoaster());
    rig.Load(path);
    ASSERT_TRUE(ProfileShown(*hookup));
    const auto loadedIs = [&](const TrackData& track, double startspeed) {
        const std::optional<RideProfile>& shown = hookup->Window()->Model().loaded;
        const RideProfile fresh = ComputeRideProfile(track, {0.0, startspeed, 12.9});
        return shown && shown->samples.size() == fresh.samples.size() &&
               shown->summary.length == fresh.summary.length &&
               shown->summary.maxSpeed.value == fresh.summary.maxSpeed.value &&
               shown->summary.feltMaxVertical.value == fresh.summary.feltMaxVertical.value &&
               shown->samples.back().speed == fresh.samples.back().speed;
    };
    rig.Run([&] { rig.Click("btnMod"); });
    ASSERT_TRUE(ProfileShown(*hookup));
    EXPECT_TRUE(loadedIs(FamilyCoaster(), 14.3));
    rig.Field_(Field::StartSpeed)->setText(QStringLiteral("16"));
    rig.Run([&] { rig.Click("btnMod"); });
    ASSERT_TRUE(ProfileShown(*hookup));
    EXPECT_TRUE(loadedIs(FamilyCoaster(), 16.0)) << "the old V in";
    Write(dir, "in.cvtrack", AirtimeHill());
    rig.Load(path);
    rig.Run([&] { rig.Click("btnMod"); });
    ASSERT_TRUE(ProfileShown(*hookup));
    EXPECT_TRUE(loadedIs(AirtimeHill(), 16.0)) << "the track loaded before";
}

TEST(WindowFiles, AFileFromTheCommandLineFillsEveryViewAsLoadTrackDoes) {
    // `cv-qrn FILE` and a file opened from the file manager come in through LoadFile.
    const testsupport::TempDir dir;
    const std::string track = Write(dir, "in.cvtrack", FamilyCoaster());
    for (const bool profileOpen : {false, true}) {
        WindowRig rig(true);
        auto* hookup = rig.window->findChild<RideProfileHookup*>();
        if (profileOpen) hookup->Open();
        rig.window->LoadFile(QString::fromStdString(track));
        hookup->Open();
        ASSERT_TRUE(ProfileShown(*hookup));
        const ProfileModel& model = hookup->Window()->Model();
        ASSERT_TRUE(model.loaded && *model.loaded) << profileOpen;
        EXPECT_GT(model.loaded->samples.size(), 100u);
        EXPECT_TRUE(rig.window->LightWidget(Light::Loaded)->isVisible());
    }
}

TEST(ProfilePlacement, BesideThePanelOnA1366x768ScreenAndFollowingWithoutTakingTheFocus) {
    const testsupport::TempDir dir;
    WindowRig rig(true);
    const QRect screen = rig.window->screen()->availableGeometry();
    if (screen.width() < 1366 || screen.height() < 768) {
        GTEST_SKIP() << "needs a 1366 x 768 screen: ctest runs it as ui.ProfileWindow.On1366x768";
    }
    rig.window->move(60, 80);
    QTest::keySequence(rig.window.get(), QKeySequence(Qt::CTRL | Qt::Key_G));
    ProfileWindow* profile = rig.window->findChild<RideProfileHookup*>()->Window();
    ASSERT_TRUE(profile != nullptr && QTest::qWaitForWindowActive(profile));
    const QRect frame = profile->frameGeometry();
    const QRect panel = rig.window->frameGeometry();
    EXPECT_TRUE(screen.contains(frame)) << frame.height() << " px tall";
    EXPECT_GT(frame.left(), panel.right()) << "beside the panel, not over it";
    const auto* save = profile->findChild<QPushButton*>();
    EXPECT_TRUE(screen.contains(QRect(save->mapToGlobal(QPoint(0, 0)), save->size())))
        << "Save picture… off the screen";
    // Loads and runs update it where it is; the panel keeps the focus and shows its "OK".
    rig.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(rig.window.get()));
    rig.Load(Write(dir, "in.cvtrack", FamilyCoaster()));
    rig.Run([&] { rig.Click("btnMod"); });
    EXPECT_TRUE(profile->Model().rebuilt.has_value());
    EXPECT_EQ(QApplication::activeWindow(), rig.window.get());
    EXPECT_EQ(rig.window->MessageLabel()->text(), "OK");
    EXPECT_EQ(profile->frameGeometry(), frame);
}

TEST(WindowSmoothRide, TheSwitchIsOffAtStartTakesNoFocusAndTheProfileNamesTheRebuild) {
    const testsupport::TempDir dir;
    WindowRig rig(true);
    SkinSwitch* smooth = rig.window->SmoothSwitch();
    EXPECT_FALSE(smooth->isChecked());
    EXPECT_FALSE(smooth->toolTip().isEmpty());
    TextField* segments = rig.Field_(Field::Segments);
    segments->setFocus(Qt::TabFocusReason);
    rig.window->LoadFile(QString::fromStdString(Write(dir, "in.cvtrack", FamilyCoaster())));
    auto* hookup = rig.window->findChild<RideProfileHookup*>();
    for (const bool on : {true, false}) {
        rig.Click(kSmoothPlace.name);  // on, then off again
        EXPECT_EQ(smooth->isChecked(), on);
        EXPECT_EQ(rig.window->Logic().SmoothRide(), on);
        EXPECT_TRUE(segments->hasFocus()) << "the switch leaves the focus in the field";
        rig.Run([&] { rig.Click("btnMod"); });
        hookup->Open();
        ASSERT_TRUE(ProfileShown(*hookup));
        EXPECT_EQ(hookup->Window()->Model().smooth, on);
        EXPECT_NE(StatusLine(hookup->Window()->Model()).find(on ? "smooth rebuild" : "default rebuild"),
                  std::string::npos);
        hookup->Window()->close();
        rig.window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(rig.window.get()));
    }
}

// A run that holds until released, after reporting half its steps, and
// counts the window's timer ticks it sees meanwhile.
struct HeldOperations : FakeOperations {
    HeartlineResult Generate(TrackData& track, const HeartlineSettings& settings,
                             ProgressFeedback* feedback) override {
        ticksAtStart = ticks.load();
        started += 1;
        feedback->feedback(50, 100);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!release && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ticksDuringRun = ticks - ticksAtStart;
        return FakeOperations::Generate(track, settings, feedback);
    }
    std::atomic<int> started{0}, ticks{0}, ticksAtStart{0}, ticksDuringRun{0};
    std::atomic<bool> release{false};
};

// Counts the paint events of one widget.
struct PaintCounter : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    int paints = 0;
};

// Faults caught: a run that holds the event loop (no timer fires, the bar is
// not drawn), actions that go through while a run works, an end that is not
// handled or handled twice, a window that cannot be closed during a run.
TEST(WindowRun, TheWindowStaysResponsiveAndRefusesActionsWhileARunWorks) {
    HeldOperations held;
    FakeChooser chooser;
    RecordingBoxes boxes;
    auto window = std::make_unique<MainWindow>(held, &chooser, &boxes);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    chooser.Next("/t/a.cvtrack");
    window->LoadClicked();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { held.ticks += 1; });
    ticker.start(5);
    PaintCounter bar;
    window->ProgressWidget()->installEventFilter(&bar);
    QSignalSpy finished(window.get(), &MainWindow::runFinished);

    window->HeartlineClicked();
    ASSERT_TRUE(window->Running());
    // Ten ticks since the run began, however late its thread started.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return held.started == 1 && held.ticks - held.ticksAtStart >= 10 && bar.paints > 0; },
        20000));
    EXPECT_EQ(window->ProgressWidget()->Shape(), (BarShape{840.0f, 3240.0f}));  // 50 of 100 steps
    const size_t dialogs = chooser.requests.size();
    chooser.Next("/t/other.cvtrack");
    window->LoadClicked();
    window->HeartlineClicked();
    window->SaveClicked();
    EXPECT_EQ(chooser.requests.size(), dialogs);
    EXPECT_NE(window->MessageLabel()->text(), QStringLiteral("OK"));
    held.release = true;
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_GE(held.ticksDuringRun, 10);
    EXPECT_EQ(held.started, 1);
    EXPECT_FALSE(window->Running());
    EXPECT_EQ(window->MessageLabel()->text(), QStringLiteral("OK"));
    EXPECT_TRUE(window->LightWidget(Light::Heartlined)->isVisible());
    EXPECT_FALSE(window->ProgressWidget()->isVisible());
    QTest::qWait(50);
    EXPECT_EQ(finished.count(), 1);

    // Closed while a run works: the run is waited for, its end is not handled.
    held.release = false;
    window->HeartlineClicked();
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.started == 2; }, 20000));
    held.release = true;
    window.reset();
    EXPECT_EQ(finished.count(), 1);
}

// Fault caught: a run on its thread that writes other bytes than the core's
// own run (a stale or shared track, settings read after the click).
TEST(WindowRun, ARunOnItsThreadSavesTheCoresBytesWithTheSameLightsAndMessage) {
    const testsupport::TempDir dir;
    WindowRig rig(true);
    rig.Load(Write(dir, "in.cvtrack", FamilyCoaster()));
    rig.Run([&] { rig.Click("btnMod"); });
    EXPECT_EQ(rig.window->MessageLabel()->text(), QStringLiteral("OK"));
    rig.chooser.Next(dir.File("out.cvtrack"));
    rig.Click("btnSave");
    for (const Light light : {Light::Loaded, Light::Heartlined, Light::Saved}) {
        EXPECT_TRUE(rig.window->LightWidget(light)->isVisible()) << static_cast<int>(light);
    }
    TrackData expected;
    ASSERT_TRUE(LoadTrack(dir.File("in.cvtrack"), expected));
    ASSERT_TRUE(GenerateHeartline(expected, HeartlineSettings{}, nullptr));
    EXPECT_EQ(testsupport::ReadFileBytes(dir.File("out.cvtrack")), EncodeTrack(expected).image);
    EXPECT_TRUE(rig.boxes.shown.empty());
}

}  // namespace
}  // namespace cvqrn::ui::test

int main(int argc, char** argv) {
    // The offscreen platform unless another one is asked for, and the window's
    // remembered folders and position in a temporary folder, never the user's.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A German desktop: a decimal comma for the display fields, and the C
    // locale QApplication takes from it, so that every number the window
    // prints is checked under a decimal comma.
    if (!cvqrn::testsupport::UseGermanLocale()) return 1;
    QLocale::setDefault(QLocale(QLocale::German));
    QStandardPaths::setTestModeEnabled(true);
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
