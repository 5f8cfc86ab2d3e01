// The real window under Qt's offscreen platform: what only the widgets can
// show (layout, keys, focus, paste and drop, drawing, dragging, files).
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QMimeData>
#include <QFontInfo>
#include <QLocale>
#include <QMouseEvent>
#include <QTest>
#include <algorithm>
#include <memory>

#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "tests/ui/logic_doubles.h"
#include "tests/ui/window_program.h"
#include "trackfile/track_file.h"
#include "ui/main_window.h"
#include "ui/skin.h"

namespace cvqrn::ui::test {
namespace {

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
    QString Message() const { return window->MessageLabel()->text(); }
    void Click(const char* hotSpot) {
        auto* spot = window->findChild<QWidget*>(QString::fromLatin1(hotSpot));
        ASSERT_NE(spot, nullptr) << hotSpot;
        QTest::mouseClick(spot, Qt::LeftButton);
    }
    bool LightShown(Light light) const { return window->LightWidget(light)->isVisible(); }

    FakeChooser chooser;
    FakeOperations fake;
    CoreTrackOperations core;
    RecordingBoxes boxes;
    std::unique_ptr<MainWindow> window;
};

TEST(WindowLayout, FramelessFixedPanelTabOrderAndReadyClearsAfter1500ms) {
    WindowRig rig;
    MainWindow& w = *rig.window;
    EXPECT_EQ(w.windowTitle(), "CV-QRN V1.1");
    EXPECT_EQ(w.size(), QSize(440, 340));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    for (const QWidget* passive : {static_cast<QWidget*>(w.LightWidget(Light::Loaded)),
                                   static_cast<QWidget*>(w.LightWidget(Light::Saved)),
                                   static_cast<QWidget*>(w.ProgressWidget())}) {
        EXPECT_FALSE(passive->isVisible());
        EXPECT_TRUE(passive->testAttribute(Qt::WA_TransparentForMouseEvents));
    }
    // Tab walks the twelve fields in order and skips the hot-spots.
    EXPECT_TRUE(rig.Field_(Field::Segments)->hasFocus());
    for (int i = 1; i <= kFieldCount; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), rig.Field_(static_cast<Field>(i % kFieldCount)));
    }
    EXPECT_TRUE(QFontInfo(w.MessageLabel()->font()).fixedPitch());
    EXPECT_EQ(rig.Message(), "Ready");
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.Message().isEmpty(); }, 5000));
}

TEST(WindowShape, MaskHoldsExactlyTheSkinsNonHolePixels) {
    WindowRig rig;
    const QRegion mask = rig.window->mask();
    const QImage skin = RenderSkin(1.0);
    int mismatches = 0;
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) {
            mismatches += mask.contains(QPoint(x, y)) == (skin.pixel(x, y) == kSkinHoleColour);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(WindowTyping, KeysPassTheFieldsFilterWithTheSelectionAndCaret) {
    // Each field gets the focus by Tab, which selects its whole text.
    const std::tuple<Field, const char*, const char*> cases[] = {
        {Field::Segments, "12a.-3", "123"}, {Field::Heartline, "-1.2.5", "-1.25"},
        {Field::Heartline, ".", "1.04"},  // the selected "." still counts
    };
    for (const auto& [which, keys, result] : cases) {
        WindowRig rig;
        TextField* field = rig.Field_(which);
        field->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(field, QString::fromLatin1(keys));
        EXPECT_EQ(field->text(), result) << keys;
    }
    // Delete types no character, so the filter lets it through.
    WindowRig rig;
    TextField* heartline = rig.Field_(Field::Heartline);
    heartline->setFocus(Qt::TabFocusReason);
    QTest::keyClick(heartline, Qt::Key_Home);
    QTest::keyClick(heartline, Qt::Key_Delete);
    EXPECT_EQ(heartline->text(), ".04");
}

TEST(WindowFocus, HotSpotsAndShortcutsLeaveTheFocusWhileTabClampsPrecisionAndSelectsTheNext) {
    WindowRig rig;
    TextField* precision = rig.Field_(Field::Precision);
    precision->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(precision, "3");
    rig.chooser.Next("/t/a.cvtrack");
    QTest::keyClick(precision, Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(rig.LightShown(Light::Loaded));
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

TEST(WindowBoxes, FailureBoxHasOneOkAnswerWithTheDetailApartAndLoadErrorWarns) {
    const auto box = MakeMessageBox(nullptr, {kHeartlineFailureText, "Horrible!",
                                              MessageBoxRequest::Icon::None, "where and why"});
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->detailedText(), "where and why");
    // OK is the only answer; the other button only opens the details.
    const QList<QAbstractButton*> buttons = box->buttons();
    EXPECT_EQ(std::count_if(buttons.begin(), buttons.end(),
                            [&](auto* b) { return box->buttonRole(b) != QMessageBox::ActionRole; }),
              1);
    EXPECT_EQ(MakeMessageBox(nullptr, {"", "", MessageBoxRequest::Icon::Exclamation, ""})->icon(),
              QMessageBox::Warning);
}

TEST(WindowDialogs, FileDialogIsSetUpFromTheRequest) {
    testsupport::TempDir dir;
    ChooserRequest request{DialogKind::Save, RewriteFilter(kTrackFilter), 1, dir.File("a.cvtrack"),
                           "", "", "Save Track As...", "cvtrack", 0x6};
    for (const DialogKind kind : {DialogKind::Save, DialogKind::Open}) {
        const bool save = kind == DialogKind::Save;
        request.kind = kind;
        request.flags = save ? 0x6 : 0x1004;
        // A bare name (as after a failed save) starts in the requested folder.
        if (!save) request.fileName = "out.cvtrack";
        request.initDir = save ? "" : dir.File("sub");
        QDir().mkpath(QString::fromStdString(dir.File("sub")));
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        ConfigureFileDialog(dialog, request);
        EXPECT_EQ(dialog.windowTitle() + "|" + dialog.selectedNameFilter() + "|" + dialog.defaultSuffix(),
                  "Save Track As...|Corvane Tracks (*.cvtrack)|cvtrack");
        EXPECT_EQ(dialog.directory().absolutePath().toStdString(), save ? dir.Path() : dir.File("sub"));
        EXPECT_EQ(dialog.acceptMode(), save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog.fileMode(), save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        EXPECT_EQ(dialog.testOption(QFileDialog::DontConfirmOverwrite), !save);
    }
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    int paints = 0;
};

// Rows of the window drawn red in the bar's column.
int RedRows(QWidget& window) {
    const QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    int rows = 0;
    for (int y = 0; y < image.height(); ++y) rows += image.pixel(199, y) == qRgb(255, 0, 0);
    return rows;
}

// Loads on the scripted core and runs with `steps` reported; counts the bar's paints.
int PaintsDuringRun(WindowRig& rig, std::vector<std::pair<int32_t, int32_t>> steps) {
    PaintCounter counter;
    rig.window->ProgressWidget()->installEventFilter(&counter);
    rig.fake.progress = std::move(steps);
    rig.chooser.Next("/t/a.cvtrack");
    rig.Click("btnLoad");
    rig.Click("btnMod");
    EXPECT_FALSE(rig.window->ProgressWidget()->isVisible());
    return counter.paints;
}

TEST(WindowProgress, BarRisesInsideTheRunStaysInItsTubeAndIsDrawnAtMostOncePerRow) {
    WindowRig rig;
    std::vector<int> red;
    rig.fake.afterStep = [&] { red.push_back(RedRows(*rig.window)); };
    EXPECT_GE(PaintsDuringRun(rig, {{1, 4}, {2, 4}, {4, 4}, {3, 2}}), 4);
    // A quarter, a half and all of the tube's 112 rows; past the total the bar
    // is clipped to the tube.
    const std::vector<int> expected{28, 56, 112, 112};
    ASSERT_EQ(red.size(), expected.size());
    for (size_t i = 0; i < red.size(); ++i) EXPECT_NEAR(red[i], expected[i], 1) << i;
    // Drawing waits for the display: a long run does not draw once per step.
    rig.fake.afterStep = nullptr;
    std::vector<std::pair<int32_t, int32_t>> steps;
    for (int32_t step = 1; step <= 1680; ++step) steps.emplace_back(step, 1680);
    const int paints = PaintsDuringRun(rig, steps);
    EXPECT_GE(paints, 1);
    EXPECT_LE(paints, 112 * rig.window->devicePixelRatio() + 2);
}

TEST(WindowLocale, DisplayUsesTheLocaleSeparatorWhileFieldsReadPoints) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        WindowRig rig;
        rig.fake.ends = EndAnalysis{12.3456, 1234.5, 0.0, -1.0001, -1.0, 7.0};
        rig.chooser.Next("/t/a.cvtrack");
        rig.Click("btnLoad");
        EXPECT_EQ(rig.Field_(Field::RadiusIn)->text(), "12,346");
        EXPECT_EQ(rig.Field_(Field::SlopeIn)->text(), "1234,500");
        EXPECT_EQ(rig.Field_(Field::RadiusOut)->text(), "-1,000");  // only exactly -1 is "straight"
        rig.Field_(Field::StartSpeed)->setText("20.5");
        rig.Click("btnMod");
        EXPECT_EQ(rig.fake.runs.at(0).startspeed, 20.5);
    }
    QLocale::setDefault(before);
}

void SendMouse(QWidget& window, QEvent::Type type, QPointF at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, window.mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&window, &event);
}

TEST(WindowDrag, LeftDragMovesTheWindowButNotTheMoveAfterADialog) {
    WindowRig rig;
    MainWindow& w = *rig.window;
    const QPointF body(20, 150);  // on the Settings panel, away from every control
    ASSERT_EQ(w.childAt(body.toPoint()), nullptr);
    const QPoint start = w.pos();
    SendMouse(w, QEvent::MouseButtonPress, body, Qt::LeftButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseMove, body + QPointF(30, 12), Qt::NoButton, Qt::LeftButton);
    const QPoint moved = start + QPoint(30, 12);
    EXPECT_EQ(w.pos(), moved);
    // The move that follows a file dialog is swallowed.
    rig.chooser.Next("");  // Load, cancelled
    rig.Click("btnLoad");
    SendMouse(w, QEvent::MouseButtonPress, body, Qt::LeftButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseMove, body + QPointF(7, 0), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(w.pos(), moved);
    SendMouse(w, QEvent::MouseMove, body + QPointF(7, 0), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(w.pos(), moved + QPoint(7, 0));
}

TEST(WindowKnobs, MinimiseKnobMinimises) {
    WindowRig rig;
    rig.Click("minimizeme");
    EXPECT_TRUE(rig.window->windowState() & Qt::WindowMinimized);
}

TEST(WindowFields, EditingKeysWorkAndPasteOrDropTakesOnlyWhatTypingCouldProduce) {
    // field, text on the clipboard or dragged in, the field's text after it
    // replaced the whole selected text ("" where it was refused: the text stays).
    const std::tuple<Field, const char*, const char*> cases[] = {
        {Field::EndSpeed, "Slope in", ""},   {Field::EndSpeed, " 12.5\n", "12.5"},
        {Field::Segments, "1.5", ""},        {Field::Heartline, "-0.9", "-0.9"},
        {Field::StartSpeed, "-3", ""},       {Field::Heartline, "1-2", ""},
        {Field::Heartline, "1.2.3", ""},
    };
    for (const auto& [which, pasted, after] : cases) {
        const QString kept = QString::fromStdString(InitialText(which));
        const QString expected = *after == '\0' ? kept : QString::fromLatin1(after);
        // Ctrl+V (any paste), then a drop, which inserts where it lands into an empty field.
        WindowRig rig;
        TextField* field = rig.Field_(which);
        field->setFocus(Qt::TabFocusReason);
        QApplication::clipboard()->setText(QString::fromLatin1(pasted));
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(field->text(), expected) << pasted;
        field->clear();
        field->insert(QString::fromLatin1(pasted));
        EXPECT_EQ(field->text(), *after == '\0' ? QString() : expected) << pasted << " dropped";
    }
    // Select all, cut and undo reach the field past its key filter.
    WindowRig rig;
    TextField* segments = rig.Field_(Field::Segments);
    segments->setFocus(Qt::TabFocusReason);
    QTest::keyClick(segments, Qt::Key_End);  // nothing selected
    QTest::keyClick(segments, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(segments, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(segments->text(), "");
    EXPECT_EQ(QApplication::clipboard()->text(), "100");
    QTest::keyClick(segments, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(segments->text(), "100");
}

TEST(WindowMessages, EveryTextTheLineShowsFitsWholeAtThisScale) {
    // Run with QT_SCALE_FACTOR 1, 1.5 and 2 (see CMakeLists.txt).
    WindowRig rig;
    QStringList shown{rig.Message()};
    rig.chooser.Next("/t/a.cvtrack");
    rig.Click("btnLoad");
    rig.Click("btnMod");
    shown << rig.Message();
    rig.fake.runStatus = HeartlineStatus::Valleyed;
    rig.Click("btnMod");
    shown << rig.Message();
    for (const char* precision : {"3", "17"}) {
        rig.Field_(Field::Precision)->setText(QString::fromLatin1(precision));
        rig.window->Logic().PrecisionLostFocus();
        shown << rig.Message();
    }
    ASSERT_EQ(shown.size(), 5);
    MessageLine& line = *static_cast<MessageLine*>(rig.window->MessageLabel());
    for (const QString& text : shown) {
        line.setText(text);
        const FittedMessage fitted = line.Fitted();
        EXPECT_EQ(fitted.lines.join(QLatin1Char(' ')), text) << "cut: " << text.toStdString();
        const QFontMetricsF metrics(fitted.font, &line);
        EXPECT_GE(fitted.font.pixelSize(), 8) << text.toStdString();
        EXPECT_LE(metrics.lineSpacing() * static_cast<double>(fitted.lines.size() - 1) +
                      metrics.height(),
                  line.height())
            << text.toStdString();
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

TEST_F(WindowFiles, RunOnTheRealCoreIsSavedWithTheExtensionAdded) {
    WindowRig rig(true);
    rig.chooser.Next(Write("in.cvtrack", FamilyCoaster()));
    rig.Click("btnLoad");
    rig.Click("btnMod");
    EXPECT_EQ(rig.Message(), "OK");
    const std::string output = dir.File("out");
    rig.chooser.Next(output);
    rig.Click("btnSave");
    EXPECT_TRUE(rig.LightShown(Light::Saved));
    TrackData reloaded;
    ASSERT_TRUE(LoadTrack(output + ".cvtrack", reloaded).ok);
    EXPECT_TRUE(testsupport::DiffTracks(reloaded, rig.window->Logic().WorkTrack()).empty());
}

TEST_F(WindowFiles, AFileFromTheCommandLineOrDroppedLoadsAsLoadTrackWould) {
    const std::string track = Write("in.cvtrack", FamilyCoaster());
    {
        WindowRig rig(true);
        rig.window->LoadFile(QString::fromStdString(track));
        EXPECT_TRUE(rig.LightShown(Light::Loaded));
        EXPECT_NE(rig.Field_(Field::SlopeIn)->text(), "Slope in");  // the Track Data panel
        rig.window->LoadFile(QString::fromStdString(dir.File("missing.cvtrack")));
        EXPECT_EQ(rig.boxes.shown.size(), 1u);  // the load error
    }
    for (const std::string& dropped : {track, dir.File("notes.txt")}) {
        WindowRig rig(true);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped))});
        QDragEnterEvent enter(QPoint(20, 150), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(rig.window.get(), &enter);
        QDropEvent drop(QPointF(20, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rig.window.get(), &drop);
        const bool isTrack = dropped == track;
        EXPECT_EQ(enter.isAccepted(), isTrack) << dropped;
        EXPECT_EQ(rig.LightShown(Light::Loaded), isTrack) << dropped;
    }
}

TEST_F(WindowFiles, FoldersAndAPositionOnAScreenAreRememberedBetweenLaunches) {
    const std::string track = Write("in.cvtrack", FamilyCoaster());
    {
        WindowRig rig(true);
        rig.window->LoadFile(QString::fromStdString(track));
        rig.window->move(140, 120);
        rig.window->close();
    }
    {
        WindowRig rig(true, false);
        rig.chooser.Next("");
        rig.Click("btnLoad");
        EXPECT_EQ(rig.chooser.requests.at(0).initDir, dir.Path());
    }
    for (const QPoint& stored : {QPoint(140, 120), QPoint(-5000, -5000)}) {
        MainWindow::Settings().setValue("window/position", stored);
        FakeChooser chooser;
        FakeOperations operations;
        const MainWindow window(operations, &chooser, nullptr);
        EXPECT_EQ(window.pos() == stored, stored.x() > 0) << stored.x();
    }
}

TEST(WindowPolish, EveryControlIsNamedAndHotSpotsTakeNoFocus) {
    WindowRig rig;
    for (QWidget* child : rig.window->findChildren<QWidget*>()) {
        EXPECT_FALSE(child->accessibleName().isEmpty()) << child->objectName().toStdString();
    }
    for (HotSpot* spot : rig.window->findChildren<HotSpot*>()) {
        EXPECT_EQ(spot->focusPolicy(), Qt::NoFocus) << spot->objectName().toStdString();
        EXPECT_FALSE(spot->toolTip().isEmpty()) << spot->objectName().toStdString();
    }
}

}  // namespace
}  // namespace cvqrn::ui::test
