// The real window under Qt's offscreen platform: layout, typing and focus,
// shortcuts, whole sessions on the real core, failures, progress, dragging.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QFontInfo>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "tests/ui/logic_doubles.h"
#include "trackfile/track_file.h"
#include "ui/main_window.h"
#include "ui/number_text.h"
#include "ui/skin.h"

namespace cvqrn::ui::test {
namespace {

class RecordingBoxes : public MessageBoxPresenter {
  public:
    void Show(QWidget*, const MessageBoxRequest& request) override { shown.push_back(request); }
    std::vector<MessageBoxRequest> shown;
};

// The window with its dialogs replaced, on the real core or on scripted operations.
struct WindowRig {
    explicit WindowRig(bool realCore) {
        TrackOperations& ops = realCore ? static_cast<TrackOperations&>(core) : fake;
        window = std::make_unique<MainWindow>(ops, &chooser, &boxes);
        window->move(100, 100);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    TextField* Field_(Field f) const { return window->FieldWidget(f); }
    QString Text(Field f) const { return window->FieldWidget(f)->text(); }
    void Click(const char* hotSpot) {
        auto* spot = window->findChild<QWidget*>(QString::fromLatin1(hotSpot));
        ASSERT_NE(spot, nullptr) << hotSpot;
        QTest::mouseClick(spot, Qt::LeftButton);
    }
    bool LightShown(Light light) const { return window->LightWidget(light)->isVisible(); }

    Log log;
    FakeChooser chooser{log};
    FakeOperations fake{log};
    CoreTrackOperations core;
    RecordingBoxes boxes;
    std::unique_ptr<MainWindow> window;
};

// ---------------------------------------------------------------------------
// Layout

TEST(WindowLayout, WindowIsTheFramelessSkinSizedPanel) {
    WindowRig rig(false);
    MainWindow& w = *rig.window;
    EXPECT_EQ(w.windowTitle(), "CV-QRN V1.1");
    EXPECT_EQ(w.size(), QSize(440, 340));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(rig.window->MessageLabel()->text(), "Ready");
}

TEST(WindowLayout, TextFieldsHaveTheirPlacesTextsTipsColoursAndTabOrder) {
    WindowRig rig(false);
    for (const FieldSpec& spec : kFieldSpecs) {
        const TextField* field = rig.Field_(spec.field);
        SCOPED_TRACE(spec.name);
        EXPECT_EQ(field->objectName(), spec.name);
        EXPECT_EQ(field->geometry(),
                  QRect(spec.left / 15, spec.top / 15, spec.width / 15, spec.height / 15));
        EXPECT_EQ(field->text(), spec.initialText);
        EXPECT_EQ(field->toolTip(), spec.toolTip);
        EXPECT_EQ(field->palette().color(QPalette::Base), QColor(64, 64, 64));
        EXPECT_EQ(field->palette().color(QPalette::Text), QColor(192, 255, 192));
    }
    EXPECT_EQ(rig.Field_(Field::Heartline)->toolTip(),
              "Position of heartline. See the recommended values on the right.");
}

TEST(WindowFocus, TabWalksTheTwelveFieldsInOrderAndSkipsTheHotSpots) {
    WindowRig rig(false);
    EXPECT_TRUE(rig.Field_(Field::Segments)->hasFocus());  // the first field has it at start
    for (int i = 1; i <= kFieldCount; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const auto expected = static_cast<Field>(i % kFieldCount);
        EXPECT_EQ(QApplication::focusWidget(), rig.Field_(expected)) << SpecOf(expected).name;
    }
}

TEST(WindowLayout, HotSpotsLightsBarAndMessageLine) {
    WindowRig rig(false);
    const struct {
        const char* name;
        QRect rect;
    } spots[] = {{"btnSave", {276, 308, 89, 17}},
                 {"btnMod", {156, 308, 89, 17}},
                 {"btnLoad", {36, 308, 89, 17}},
                 {"minimizeme", {352, 12, 33, 21}},
                 {"closeme", {388, 12, 29, 21}}};
    for (const auto& spot : spots) {
        const auto* widget = rig.window->findChild<QWidget*>(spot.name);
        ASSERT_NE(widget, nullptr) << spot.name;
        EXPECT_EQ(widget->geometry(), spot.rect) << spot.name;
        EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus) << spot.name;
    }
    for (int i = 0; i < 3; ++i) {
        const StatusLight* light = rig.window->LightWidget(static_cast<Light>(i));
        EXPECT_FALSE(light->isVisible());
        EXPECT_TRUE(light->testAttribute(Qt::WA_TransparentForMouseEvents));
        // The circle at 218.1, 228 or 238 by 177.6, 6.3 across, lies within the widget.
        EXPECT_TRUE(light->geometry().contains(
            TwipsToPixels(kLightLeft[i], kLightTop, kLightDiameter, kLightDiameter).toRect()));
    }
    const ProgressTube* bar = rig.window->ProgressWidget();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(bar->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(bar->geometry(), QRect(194, 160, 11, 112));

    const QLabel* message = rig.window->MessageLabel();
    EXPECT_EQ(message->geometry(), QRect(52, 280, 109, 21));
    EXPECT_EQ(message->alignment(), Qt::AlignCenter);
    EXPECT_TRUE(QFontInfo(message->font()).fixedPitch());
    EXPECT_EQ(message->font().pointSize(), 9);
    EXPECT_FALSE(message->font().bold());
}

TEST(WindowShape, MaskHoldsExactlyTheSkinsNonHolePixels) {
    WindowRig rig(false);
    const QRegion mask = rig.window->mask();
    const QImage skin = RenderSkin(1.0).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(skin.size(), QSize(440, 340));
    int holes = 0;
    int mismatches = 0;
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) {
            const bool hole = (skin.pixel(x, y) & 0xFFFFFF) == 0xFF00FF;
            holes += hole ? 1 : 0;
            if (mask.contains(QPoint(x, y)) == hole) ++mismatches;
        }
    }
    EXPECT_GT(holes, 0);
    EXPECT_EQ(mismatches, 0);
}

TEST(WindowShape, RegionOfASmallPicture) {
    QImage image(4, 2, QImage::Format_ARGB32);
    image.fill(QColor(10, 20, 30));
    image.setPixel(2, 0, qRgb(255, 0, 255));
    image.setPixel(0, 1, qRgba(255, 0, 255, 0));  // alpha is not compared
    image.setPixel(3, 1, qRgb(255, 0, 255));
    const QRegion region = RegionFromImage(image, kSkinHoleColour);
    QRegion expected;
    expected += QRect(0, 0, 2, 1);
    expected += QRect(3, 0, 1, 1);
    expected += QRect(1, 1, 2, 1);
    EXPECT_EQ(region, expected);
}

// ---------------------------------------------------------------------------
// Typing and focus

TEST(WindowTyping, KeysPassTheFieldsFilter) {
    struct Case {
        Field field;
        const char* keys;
        const char* result;
    };
    const Case cases[] = {
        {Field::Segments, "12a.-3", "123"}, {Field::Heartline, "-1.2.5", "-1.25"},
        {Field::Heartline, "1-.5", "1.5"},  {Field::StartSpeed, "-20.5", "20.5"},
        {Field::Precision, "8 x", "8"},
    };
    for (const Case& c : cases) {
        WindowRig rig(false);
        TextField* field = rig.Field_(c.field);
        field->setFocus(Qt::TabFocusReason);  // selects the whole text
        QTest::keyClicks(field, QString::fromLatin1(c.keys));
        EXPECT_EQ(field->text(), c.result) << c.keys;
    }
}

TEST(WindowTyping, MinusAndPointOverTheSelectedHeartline) {
    WindowRig rig(false);
    TextField* heartline = rig.Field_(Field::Heartline);
    heartline->setFocus(Qt::MouseFocusReason);
    ASSERT_EQ(heartline->selectedText(), "1.04");  // select on focus, whatever the reason
    QTest::keyClick(heartline, '.');
    EXPECT_EQ(heartline->text(), "1.04");  // the selected "." still counts
    QTest::keyClick(heartline, '-');
    EXPECT_EQ(heartline->text(), "-");

    heartline->setText("1.04");
    heartline->setCursorPosition(0);
    QTest::keyClick(heartline, '-');
    EXPECT_EQ(heartline->text(), "-1.04");
    heartline->setCursorPosition(3);
    QTest::keyClick(heartline, '-');
    EXPECT_EQ(heartline->text(), "-1.04");
    // Backspace always works, and so does Delete (it types no character).
    QTest::keyClick(heartline, Qt::Key_Backspace);
    EXPECT_EQ(heartline->text(), "-104");
    QTest::keyClick(heartline, Qt::Key_Home);
    QTest::keyClick(heartline, Qt::Key_Delete);
    EXPECT_EQ(heartline->text(), "104");
}

TEST(WindowFocus, TabSelectsTheNextFieldAndLeavingPrecisionClampsIt) {
    WindowRig rig(false);
    TextField* precision = rig.Field_(Field::Precision);
    precision->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(precision, "3");
    QTest::keyClick(precision, Qt::Key_Tab);
    EXPECT_TRUE(rig.Field_(Field::Filter)->hasFocus());
    EXPECT_EQ(rig.Field_(Field::Filter)->selectedText(), "15");
    EXPECT_EQ(precision->text(), "4");
    EXPECT_EQ(rig.window->MessageLabel()->text(), "Precision has been adjusted to 4");

    precision->setFocus(Qt::BacktabFocusReason);
    QTest::keyClicks(precision, "17");
    rig.Field_(Field::Segments)->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(precision->text(), "16");
    EXPECT_EQ(rig.window->MessageLabel()->text(), "Precision has been adjusted to 16");
}

TEST(WindowFocus, HotSpotsLeaveTheFocusSoAnUnclampedValueReachesTheRun) {
    WindowRig rig(false);
    rig.chooser.Next("/t/a.cvtrack");
    rig.Click("btnLoad");
    TextField* precision = rig.Field_(Field::Precision);
    precision->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(precision, "3");
    rig.Click("btnMod");
    EXPECT_TRUE(precision->hasFocus());
    ASSERT_EQ(rig.fake.runs.size(), 1u);
    EXPECT_EQ(rig.fake.runs[0].precision, 3);
    EXPECT_EQ(precision->text(), "3");
}

TEST(WindowKeyboard, ShortcutsRunTheActionsWithoutMovingTheFocus) {
    WindowRig rig(false);
    TextField* heartline = rig.Field_(Field::Heartline);
    heartline->setFocus(Qt::TabFocusReason);
    rig.chooser.Next("/t/a.cvtrack");
    QTest::keyClick(heartline, Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(rig.LightShown(Light::Loaded));
    QTest::keyClick(heartline, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(rig.fake.runs.size(), 1u);
    QTest::keyClick(heartline, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(rig.fake.runs.size(), 2u);
    rig.chooser.Next("/t/b.cvtrack");
    QTest::keyClick(heartline, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(rig.LightShown(Light::Saved));
    EXPECT_TRUE(heartline->hasFocus());
    EXPECT_EQ(heartline->text(), "1.04");
}

// ---------------------------------------------------------------------------
// Sessions on the real core

class WindowSession : public ::testing::Test {
  protected:
    // Writes `track` as a track file in the temporary directory.
    std::string WriteTrack(const std::string& name, TrackData track) {
        const std::string path = dir.File(name);
        const SaveResult saved = SaveTrack(path, track);
        EXPECT_TRUE(saved.ok) << saved.reason;
        return path;
    }
    testsupport::TempDir dir;
};

TEST_F(WindowSession, LoadHeartlineSaveAndRunAgainFromTheLoadedTrack) {
    const std::string input = WriteTrack("family.cvtrack", FamilyCoaster());
    WindowRig rig(true);

    rig.chooser.Next(input);
    rig.Click("btnLoad");
    ASSERT_TRUE(rig.boxes.shown.empty());
    EXPECT_TRUE(rig.LightShown(Light::Loaded));
    const EndAnalysis loadedEnds = TrackEndAnalysis(rig.window->Logic().LoadedTrack());
    EXPECT_EQ(rig.Text(Field::SlopeIn).toStdString(),
              FormatDisplay(loadedEnds.slopeIn, QLocale().decimalPoint().toStdString()));

    rig.Click("btnMod");
    ASSERT_TRUE(rig.boxes.shown.empty());
    EXPECT_EQ(rig.window->MessageLabel()->text(), "OK");
    EXPECT_TRUE(rig.LightShown(Light::Heartlined));
    EXPECT_FALSE(rig.window->ProgressWidget()->isVisible());
    const TrackData first = rig.window->Logic().WorkTrack();
    EXPECT_EQ(first.Segm.SegmentCount, 100);

    const std::string output = dir.File("family_heartlined");  // extension added on save
    rig.chooser.Next(output);
    rig.Click("btnSave");
    ASSERT_TRUE(rig.boxes.shown.empty());
    EXPECT_TRUE(rig.LightShown(Light::Saved));
    EXPECT_EQ(rig.chooser.requests.back().fileName, input);  // pre-filled with the loaded file
    TrackData reloaded;
    ASSERT_TRUE(LoadTrack(output + ".cvtrack", reloaded).ok);
    EXPECT_EQ(reloaded.Segm.SegmentCount, 100);
    EXPECT_TRUE(testsupport::DiffTracks(reloaded, first).empty());

    // A different run, then the first parameters again: the same result as
    // the first run, so no run built on the one before.
    rig.Field_(Field::Heartline)->setText("0.5");
    rig.Click("btnMod");
    EXPECT_FALSE(testsupport::DiffTracks(rig.window->Logic().WorkTrack(), first).empty());
    rig.Field_(Field::Heartline)->setText("1.04");
    rig.Click("btnMod");
    EXPECT_TRUE(testsupport::DiffTracks(rig.window->Logic().WorkTrack(), first).empty());
    EXPECT_TRUE(rig.LightShown(Light::Saved));  // the new result is not saved, yet the light stays
}

TEST_F(WindowSession, ValleyedRunShowsHorribleAndTheLoadedEnds) {
    const std::string input = WriteTrack("hill.cvtrack", HighHill());
    WindowRig rig(true);
    rig.chooser.Next(input);
    rig.Click("btnLoad");
    const QString slopeOut = rig.Text(Field::SlopeOut);
    rig.Click("btnMod");  // 14.3 m/s cannot climb the hill
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    const MessageBoxRequest& box = rig.boxes.shown[0];
    EXPECT_EQ(box.text, kHeartlineFailureText);
    EXPECT_EQ(box.title, "Horrible!");
    EXPECT_FALSE(box.detail.empty());
    EXPECT_EQ(rig.window->MessageLabel()->text(), "- ERROR -");
    EXPECT_EQ(rig.Text(Field::SlopeOut), slopeOut);
    EXPECT_FALSE(rig.LightShown(Light::Heartlined));

    rig.chooser.Next(dir.File("never.cvtrack"));
    rig.Click("btnSave");  // nothing to save
    EXPECT_TRUE(rig.chooser.answers.size() == 1u);

    rig.Field_(Field::StartSpeed)->setText("20");
    rig.Click("btnMod");
    EXPECT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.window->MessageLabel()->text(), "OK");
}

TEST_F(WindowSession, SaveThatCannotWriteNamesTheFileAndLeavesLight3Off) {
    const std::string input = WriteTrack("family.cvtrack", FamilyCoaster());
    WindowRig rig(true);
    rig.chooser.Next(input);
    rig.Click("btnLoad");
    rig.Click("btnMod");
    const std::string target = dir.File("missing-folder/out.cvtrack");
    rig.chooser.Next(target);
    rig.Click("btnSave");
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].title, "Save Error");
    EXPECT_NE(rig.boxes.shown[0].text.find(target), std::string::npos) << rig.boxes.shown[0].text;
    EXPECT_FALSE(rig.LightShown(Light::Saved));
}

// ---------------------------------------------------------------------------
// Message boxes and the file dialog as Qt shows them

TEST(WindowDialogs, MessageBoxHasOneOkButtonAndTheDetailApart) {
    const auto box = MakeMessageBox(nullptr, {kHeartlineFailureText, kHeartlineFailureTitle,
                                              MessageBoxRequest::Icon::None, "stopped at 12 m"});
    EXPECT_EQ(box->text(), kHeartlineFailureText);
    EXPECT_EQ(box->windowTitle(), "Horrible!");
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    // OK is the only answer; the other button only opens the details.
    int answers = 0;
    for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) != QMessageBox::ActionRole) ++answers;
    }
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(box->detailedText(), "stopped at 12 m");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);

    const auto load = MakeMessageBox(nullptr, {"Error Loading Track File!", "Load Error",
                                               MessageBoxRequest::Icon::Exclamation, ""});
    EXPECT_EQ(load->icon(), QMessageBox::Warning);
    EXPECT_TRUE(load->detailedText().isEmpty());
}

TEST(WindowDialogs, FileDialogIsSetUpFromTheRequest) {
    testsupport::TempDir dir;
    ChooserRequest request;
    request.filter = RewriteFilter(kTrackFilter);
    request.title = "Save Track As...";
    request.defaultExt = "cvtrack";
    request.fileName = dir.File("loaded.cvtrack");

    request.kind = DialogKind::Save;
    request.flags = 0x6;
    QFileDialog save;
    save.setOption(QFileDialog::DontUseNativeDialog);
    ConfigureFileDialog(save, request);
    EXPECT_EQ(save.windowTitle(), "Save Track As...");
    EXPECT_EQ(save.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(save.nameFilters(), QStringList{"Corvane Tracks (*.cvtrack)"});
    EXPECT_EQ(save.selectedNameFilter(), "Corvane Tracks (*.cvtrack)");
    EXPECT_EQ(save.defaultSuffix(), "cvtrack");
    EXPECT_FALSE(save.testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(save.directory().absolutePath(), QString::fromStdString(dir.Path()));

    request.kind = DialogKind::Open;
    request.title = "Load Track...";
    request.flags = 0x1004;
    QFileDialog open;
    open.setOption(QFileDialog::DontUseNativeDialog);
    ConfigureFileDialog(open, request);
    EXPECT_EQ(open.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(open.fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(NameFilters(RewriteFilter("Tracks|*.a;*.b")), QStringList{"Tracks (*.a *.b)"});
}

// ---------------------------------------------------------------------------
// Progress, locale, timer, dragging, knobs

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
    int paints = 0;
};

// Rows of the window (logical pixels) in the bar's column that are drawn red.
int RedRows(QWidget& window, int from, int to) {
    const QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    int rows = 0;
    for (int y = from; y < to; ++y) {
        if (image.pixel(199, y) == qRgb(255, 0, 0)) ++rows;
    }
    return rows;
}

// Operations whose run reports progress and lets the test look at the bar.
class ProbeOperations : public FakeOperations {
  public:
    using FakeOperations::FakeOperations;
    HeartlineResult Generate(TrackData& track, HeartlineParameters& parameters,
                             ProgressFeedback* progress) override {
        for (const auto& [done, total] : steps) {
            progress->feedback(done, total);
            probe();
        }
        return FakeOperations::Generate(track, parameters, progress);
    }
    std::vector<std::pair<int32_t, int32_t>> steps;
    std::function<void()> probe;
};

TEST(WindowProgress, BarRisesDuringTheRunAndStaysInItsTube) {
    Log log;
    FakeChooser chooser(log);
    ProbeOperations ops(log);
    RecordingBoxes boxes;
    MainWindow window(ops, &chooser, &boxes);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    PaintCounter counter;
    window.ProgressWidget()->installEventFilter(&counter);

    std::vector<int> red;
    std::vector<int> above;
    ops.steps = {{1, 4}, {2, 4}, {4, 4}, {3, 2}};
    ops.probe = [&] {
        EXPECT_TRUE(window.ProgressWidget()->isVisible());
        red.push_back(RedRows(window, 0, 340));
        above.push_back(RedRows(window, 0, 160));
    };
    chooser.Next("/t/a.cvtrack");
    window.LoadClicked();
    window.HeartlineClicked();
    EXPECT_GE(counter.paints, 4);  // drawn at every step, inside the run
    ASSERT_EQ(red.size(), 4u);
    EXPECT_NEAR(red[0], 28, 1);
    EXPECT_NEAR(red[1], 56, 1);
    EXPECT_NEAR(red[2], 112, 1);
    EXPECT_NEAR(red[3], 112, 1);  // past the total: clipped to the tube
    EXPECT_EQ(above, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_FALSE(window.ProgressWidget()->isVisible());
}

TEST(WindowLocale, DisplayUsesTheLocaleSeparatorWhileFieldsReadPoints) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        WindowRig rig(false);
        rig.fake.ends = EndAnalysis{12.3456, 1234.5, 0.0, -1.0, -1.0001, -1.0};
        rig.chooser.Next("/t/a.cvtrack");
        rig.Click("btnLoad");
        EXPECT_EQ(rig.Text(Field::RadiusIn), "12,346");
        EXPECT_EQ(rig.Text(Field::SlopeIn), "1234,500");
        rig.Field_(Field::StartSpeed)->setText("20.5");
        rig.Click("btnMod");
        ASSERT_EQ(rig.fake.runs.size(), 1u);
        EXPECT_EQ(rig.fake.runs[0].startspeed, 20.5);
    }
    QLocale::setDefault(before);
}

TEST(WindowMessages, ReadyDisappearsAfterOneAndAHalfSeconds) {
    WindowRig rig(false);
    const QTimer* timer = rig.window->MessageTimerObject();
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1500);
    EXPECT_EQ(rig.window->MessageLabel()->text(), "Ready");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return rig.window->MessageLabel()->text().isEmpty(); }, 5000));
    EXPECT_FALSE(timer->isActive());
}

void SendMouse(QWidget& window, QEvent::Type type, QPointF at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, window.mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&window, &event);
}

TEST(WindowDrag, LeftDragMovesTheWindowOtherButtonsAndTheMoveAfterLoadDoNot) {
    WindowRig rig(false);
    MainWindow& w = *rig.window;
    const QPointF body(20, 150);  // on the Settings panel, away from every control
    ASSERT_EQ(w.childAt(body.toPoint()), nullptr);
    const QPoint start = w.pos();

    SendMouse(w, QEvent::MouseButtonPress, body, Qt::LeftButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseMove, body + QPointF(30, 12), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(w.pos(), start + QPoint(30, 12));

    const QPoint moved = w.pos();
    SendMouse(w, QEvent::MouseButtonPress, body, Qt::RightButton, Qt::RightButton);
    SendMouse(w, QEvent::MouseMove, body + QPointF(5, 5), Qt::NoButton, Qt::RightButton);
    SendMouse(w, QEvent::MouseMove, body + QPointF(5, 5), Qt::NoButton,
              Qt::LeftButton | Qt::RightButton);
    EXPECT_EQ(w.pos(), moved);

    rig.chooser.Next("");  // Load, cancelled
    rig.Click("btnLoad");
    SendMouse(w, QEvent::MouseButtonPress, body, Qt::LeftButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseMove, body + QPointF(7, 0), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(w.pos(), moved);
    SendMouse(w, QEvent::MouseMove, body + QPointF(7, 0), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(w.pos(), moved + QPoint(7, 0));
}

TEST(WindowKnobs, CloseKnobClosesAndMinimiseKnobMinimises) {
    WindowRig rig(false);
    rig.Click("minimizeme");
    EXPECT_TRUE(rig.window->windowState() & Qt::WindowMinimized);
    rig.window->showNormal();
    rig.Click("closeme");
    EXPECT_FALSE(rig.window->isVisible());
}

}  // namespace
}  // namespace cvqrn::ui::test

int main(int argc, char** argv) {
    // Widget tests run without a display unless one is asked for.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
