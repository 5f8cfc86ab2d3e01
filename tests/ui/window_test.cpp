// The real window under Qt's offscreen platform: what only the widgets can
// break (shape, keys, focus, paste, drawing, dragging, dialogs, files) and the
// ride profile window on the real core.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <memory>

#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "tests/ui/logic_doubles.h"
#include "trackfile/track_file.h"
#include "ui/main_window.h"
#include "ui/profile_window.h"
#include "ui/skin.h"

namespace cvqrn::ui::test {
namespace {

// Keeps the boxes the window would show; a question is answered No.
class RecordingBoxes : public MessageBoxPresenter {
  public:
    void Show(QWidget*, const MessageBoxRequest& request) override { shown.push_back(request); }
    bool Ask(QWidget*, const MessageBoxRequest& request) override {
        shown.push_back(request);
        return false;
    }
    std::vector<MessageBoxRequest> shown;
};

// The window with its dialogs replaced, on the real core or on scripted operations.
struct WindowRig {
    explicit WindowRig(bool realCore = false, bool freshSettings = true) {
        if (freshSettings) MainWindow::Settings().clear();
        TrackOperations& ops = realCore ? static_cast<TrackOperations&>(core) : fake;
        window = std::make_unique<MainWindow>(ops, &chooser, &boxes);
        window->move(100, 100);
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
    bool LightShown(Light light) const { return window->LightWidget(light)->isVisible(); }

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
    EXPECT_EQ(w.minimumSize(), QSize(440, 340));
    EXPECT_EQ(w.maximumSize(), QSize(440, 340));
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    const QRegion mask = w.mask();
    const QImage skin = RenderSkin(1.0);
    int mismatches = 0;
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) {
            mismatches += mask.contains(QPoint(x, y)) == (skin.pixel(x, y) == kSkinHoleColour);
        }
    }
    EXPECT_EQ(mismatches, 0) << "the mask must hold exactly the skin's non-hole pixels";
    // Tab walks the twelve fields in order and skips the hot-spots.
    EXPECT_TRUE(rig.Field_(Field::Segments)->hasFocus());
    for (int i = 1; i <= kFieldCount; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), rig.Field_(static_cast<Field>(i % kFieldCount)));
    }
    EXPECT_EQ(w.MessageLabel()->text(), "Ready");
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.MessageLabel()->text().isEmpty(); }, 5000));
}

TEST(WindowFields, TypedAndPastedTextPassTheFieldsFilter) {
    // field, pasted (else typed) over the whole text, selected as after tabbing
    // in; the text after ("" where it was refused and the text stays).
    const std::tuple<Field, bool, const char*, const char*> cases[] = {
        {Field::Heartline, false, "-1.2.5", "-1.25"},
        {Field::Heartline, false, ".", ""},  // the selected "." still counts
        {Field::EndSpeed, true, " 12.5\n", "12.5"},
        {Field::Heartline, true, "-0.9", "-0.9"},
        {Field::Segments, true, "1.5", ""},
        {Field::StartSpeed, true, "-3", ""},
        {Field::Heartline, true, "1-2", ""},
        {Field::Heartline, true, "1.2.3", ""},
    };
    for (const auto& [which, paste, input, after] : cases) {
        WindowRig rig;
        TextField* field = rig.Field_(which);
        const QString kept = field->text();
        field->setFocus(Qt::TabFocusReason);
        QApplication::clipboard()->setText(QString::fromLatin1(input));
        if (paste) {
            QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        } else {
            QTest::keyClicks(field, QString::fromLatin1(input));
        }
        EXPECT_EQ(field->text(), *after == '\0' ? kept : QString::fromLatin1(after)) << input;
    }
}

TEST(WindowKeys, ShortcutsAndHotSpotsKeepTheFocusAndLeavingPrecisionClampsIt) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    WindowRig rig;
    TextField* precision = rig.Field_(Field::Precision);
    precision->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(precision, "3");
    rig.chooser.Next("/t/a.cvtrack");
    QTest::keyClick(precision, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(rig.Field_(Field::RadiusIn)->text(), "12,346");  // the locale's separator
    QLocale::setDefault(before);
    rig.Click("btnMod");
    QTest::keyClick(precision, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(precision, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    ASSERT_EQ(rig.fake.runs.size(), 3u);
    EXPECT_EQ(rig.fake.runs[0].precision, 3);  // unclamped: the field was never left
    rig.chooser.Next("/t/b.cvtrack");
    QTest::keyClick(precision, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(rig.LightShown(Light::Saved));
    EXPECT_TRUE(precision->hasFocus());
    QTest::keyClick(precision, Qt::Key_Tab);
    EXPECT_EQ(rig.Field_(Field::Filter)->selectedText(), "15");
    EXPECT_EQ(precision->text(), "4");
}

TEST(WindowBoxes, OneOkAnswerDetailApartIconByKindAndQuestionsDefaultToNo) {
    const auto box = MakeMessageBox(nullptr, {"text", "", MessageBoxRequest::Icon::None, "why"});
    EXPECT_EQ(box->detailedText(), "why");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    // OK is the only answer; the other button only opens the details.
    const QList<QAbstractButton*> buttons = box->buttons();
    EXPECT_EQ(std::count_if(buttons.begin(), buttons.end(),
                            [&](auto* b) { return box->buttonRole(b) != QMessageBox::ActionRole; }),
              1);
    const auto question =
        MakeQuestionBox(nullptr, {"text", "", MessageBoxRequest::Icon::Exclamation, ""});
    EXPECT_EQ(question->icon(), QMessageBox::Warning);
    EXPECT_EQ(question->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    QAbstractButton* no = question->button(QMessageBox::No);
    EXPECT_TRUE(question->defaultButton() == no && question->escapeButton() == no);
}

TEST(WindowDialogs, FileDialogIsSetUpFromTheRequest) {
    testsupport::TempDir dir;
    const std::string sub = dir.File("sub");
    QDir().mkpath(QString::fromStdString(sub));
    // A save pre-filled with a full path starts in its folder; an open with a
    // bare name (as after a failed save) in the requested one.
    const std::string filter = RewriteFilter(kTrackFilter);
    const ChooserRequest requests[] = {
        {DialogKind::Save, filter, 1, sub + "/a.cvtrack", "", "", "Title", "cvtrack", 0x6},
        {DialogKind::Open, filter, 1, "a.cvtrack", "", sub, "Title", "cvtrack", 0x1004},
    };
    for (const ChooserRequest& request : requests) {
        const bool save = request.kind == DialogKind::Save;
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        ConfigureFileDialog(dialog, request);
        EXPECT_EQ(
            dialog.windowTitle() + "|" + dialog.selectedNameFilter() + "|" + dialog.defaultSuffix(),
            "Title|Corvane Tracks (*.cvtrack)|cvtrack");
        EXPECT_EQ(dialog.directory().absolutePath().toStdString(), sub);
        EXPECT_EQ(dialog.fileMode(), save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        EXPECT_EQ(dialog.testOption(QFileDialog::DontConfirmOverwrite), !save);
    }
}

// Counts the paint events a widget receives.
struct PaintCounter : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    int paints = 0;
};

TEST(WindowProgress, BarRisesInsideTheRunStaysInItsTubeAndIsDrawnAtMostOncePerRow) {
    WindowRig rig;
    std::vector<int> red;  // rows drawn red in the bar's column after each step
    rig.fake.afterStep = [&] {
        const QImage image = rig.window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        red.push_back(0);
        for (int y = 0; y < image.height(); ++y) red.back() += image.pixel(199, y) == 0xFFFF0000;
    };
    rig.fake.progress = {{1, 4}, {2, 4}, {4, 4}, {3, 2}};
    rig.Load("/t/a.cvtrack");
    rig.Click("btnMod");
    // A quarter, a half and all of the tube's 112 rows; past the total the bar
    // is clipped to the tube.
    const std::vector<int> expected{28, 56, 112, 112};
    ASSERT_EQ(red.size(), expected.size());
    for (size_t i = 0; i < red.size(); ++i) EXPECT_NEAR(red[i], expected[i], 1) << i;
    EXPECT_FALSE(rig.window->ProgressWidget()->isVisible());
    // Drawing waits for the display: a long run does not draw once per step.
    PaintCounter counter;
    rig.window->ProgressWidget()->installEventFilter(&counter);
    rig.fake.afterStep = nullptr;
    rig.fake.progress.clear();
    for (int32_t step = 1; step <= 1680; ++step) rig.fake.progress.emplace_back(step, 1680);
    rig.Click("btnMod");
    EXPECT_GE(counter.paints, 1);
    EXPECT_LE(counter.paints, 112 * rig.window->devicePixelRatio() + 2);
}

void SendMouse(QWidget& window, QEvent::Type type, QPointF at) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, window.mapToGlobal(at), button, Qt::LeftButton, Qt::NoModifier);
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
    rig.Load("");  // cancelled: the move that follows the dialog is swallowed
    SendMouse(w, QEvent::MouseButtonPress, body);
    SendMouse(w, QEvent::MouseMove, body + QPointF(7, 0));
    EXPECT_EQ(w.pos(), moved);
    rig.Click("minimizeme");
    EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
}

TEST(WindowMessages, EveryTextTheLineShowsFitsWholeAtThisScale) {
    // Run with QT_SCALE_FACTOR 1, 1.5 and 2 (see CMakeLists.txt).
    WindowRig rig;
    auto& line = *static_cast<MessageLine*>(rig.window->MessageLabel());
    QStringList shown{line.text()};  // "Ready", then the longest texts
    for (const char* precision : {"3", "17"}) {
        rig.Field_(Field::Precision)->setText(QString::fromLatin1(precision));
        rig.window->Logic().PrecisionLostFocus();
        shown << line.text();
    }
    for (const QString& text : shown) {
        line.setText(text);
        const FittedMessage fitted = line.Fitted();
        EXPECT_EQ(fitted.lines.join(QLatin1Char(' ')), text) << "cut: " << text.toStdString();
        EXPECT_GE(fitted.font.pixelSize(), 8) << text.toStdString();
        const QFontMetricsF metrics(fitted.font, &line);
        const auto extra = static_cast<double>(fitted.lines.size() - 1);
        EXPECT_LE(metrics.lineSpacing() * extra + metrics.height(), line.height());
        for (const QString& piece : fitted.lines) {
            EXPECT_LE(metrics.horizontalAdvance(piece), line.width()) << piece.toStdString();
        }
    }
}

class WindowFiles : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, TrackData track) {
        EXPECT_TRUE(SaveTrack(dir.File(name), track).ok);
        return dir.File(name);
    }
    testsupport::TempDir dir;
};

TEST_F(WindowFiles, CommandLineAndDroppedTracksLoadAndFoldersAndPositionAreRemembered) {
    const std::string track = Write("in.cvtrack", FamilyCoaster());
    {
        WindowRig rig(true);
        rig.window->LoadFile(QString::fromStdString(dir.File("missing.cvtrack")));
        EXPECT_EQ(rig.boxes.shown.size(), 1u);  // the load error
        rig.window->LoadFile(QString::fromStdString(track));
        EXPECT_TRUE(rig.LightShown(Light::Loaded));
    }
    for (const std::string& dropped : {track, dir.File("notes.txt")}) {
        WindowRig rig(true, false);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped))});
        QDragEnterEvent enter({20, 150}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rig.window.get(), &enter);
        QDropEvent drop(QPointF(20, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rig.window.get(), &drop);
        EXPECT_EQ(enter.isAccepted(), dropped == track) << dropped;
        EXPECT_EQ(rig.LightShown(Light::Loaded), dropped == track) << dropped;
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

TEST_F(WindowFiles, RunIsSavedAsShownAndTheProfileFollowsLoadsRunsAndAValley) {
    WindowRig rig(true);
    rig.Click(kProfilePlace.name);  // opens before anything is loaded
    ProfileWindow* profile = rig.window->findChild<RideProfileHookup*>()->Window();
    ASSERT_TRUE(profile != nullptr && profile->isVisible());
    EXPECT_FALSE(profile->Model().loaded.has_value());
    rig.Load(Write("in.cvtrack", FamilyCoaster()));
    ASSERT_TRUE(profile->Model().loaded && *profile->Model().loaded);
    rig.Click("btnMod");
    ASSERT_TRUE(profile->Model().rebuilt && *profile->Model().rebuilt);
    EXPECT_EQ(profile->Model().rebuilt->settings.heartline, HeartlineSettings{}.heartline);
    profile->HoverAt(54.0);
    EXPECT_TRUE(profile->ReadOutText().startsWith("54.0 m"))
        << profile->ReadOutText().toStdString();
    rig.chooser.Next(dir.File("out"));  // saved with the extension added
    rig.Click("btnSave");
    TrackData reloaded;
    ASSERT_TRUE(LoadTrack(dir.File("out.cvtrack"), reloaded).ok);
    EXPECT_TRUE(testsupport::DiffTracks(reloaded, rig.window->Logic().WorkTrack()).empty());

    // A hill the default start speed cannot climb: the details advise a speed,
    // the profile marks where the train stops and drops the old result.
    rig.Load(Write("hill.cvtrack", HighHill()));
    rig.Click("btnMod");
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_NE(rig.boxes.shown[0].detail.find("With V in at least "), std::string::npos);
    ASSERT_TRUE(profile->Model().valley.has_value());
    EXPECT_FALSE(profile->Model().rebuilt.has_value());
    EXPECT_GT(profile->Model().valley->distance, 20.0);
    EXPECT_LT(profile->Model().valley->distance, profile->Model().loaded->summary.length);
    for (const char* name : {"profile.png", "profile.svg"}) {
        ASSERT_TRUE(profile->SavePicture(QString::fromStdString(dir.File(name)))) << name;
        EXPECT_GT(QFile(QString::fromStdString(dir.File(name))).size(), 1000) << name;
    }
    // Closed, it still follows: reopened with Ctrl+G after a load it shows the new track.
    profile->close();
    rig.Load(Write("loop.cvtrack", LoopAndHelix()));
    QTest::keySequence(rig.window.get(), QKeySequence(Qt::CTRL | Qt::Key_G));
    EXPECT_TRUE(profile->isVisible());
    EXPECT_FALSE(profile->Model().valley.has_value());
    EXPECT_NEAR(profile->Model().loaded->summary.length, 383.3, 0.1);
}

}  // namespace
}  // namespace cvqrn::ui::test
