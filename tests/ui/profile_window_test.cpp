// The ride profile window on the real core: plots that line up and follow one
// range through zoom and pan, series cut down to their pixels, the CSV the
// command line writes, pictures with their caption, and the exceedance list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QFile>
#include <QImage>
#include <QLineSeries>
#include <QListWidget>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QValueAxis>
#include <QWheelEvent>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "heartline/generator.h"
#include "samples/layout_builder.h"
#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"
#include "ui/profile_window.h"

namespace cvqrn::ui::test {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The loaded track `track` (saved as `name` in `dir`) and, when `run`, its
// heartline rebuild at the default settings, as the main window asks for them.
ProfileRequest Request(const testsupport::TempDir& dir, const std::string& name,
                       const TrackData& track, bool run) {
    ProfileRequest request;
    request.trackPath = dir.File(name);
    EXPECT_TRUE(SaveTrack(request.trackPath, track));
    request.loaded = ProfileCopy(track);
    if (run) {
        TrackData rebuilt = track;
        EXPECT_EQ(GenerateHeartline(rebuilt, request.settings, nullptr).status, Status::Ok);
        EXPECT_TRUE(SaveTrack(dir.File("rebuilt.cvtrack"), rebuilt));
        request.rebuilt = ProfileCopy(rebuilt);
    }
    request.when = "2026-12-07 14:03";
    return request;
}

// The window, shown, with the model of `request`.
struct Shown {
    explicit Shown(const ProfileRequest& request) {
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.SetModel(BuildProfileModel(request));
        QApplication::processEvents();
    }
    ProfileWindow window;
};

QRectF AreaInWindow(const ProfileWindow& w, QChartView* view) {
    const QRectF area = view->chart()->plotArea();
    const auto at = [&](const QPointF& p) {
        return QPointF(view->mapTo(&w, view->mapFromScene(view->chart()->mapToScene(p))));
    };
    return {at(area.topLeft()), at(area.bottomRight())};
}

void Mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::KeyboardModifiers modifiers = {}) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton),
                      modifiers);
    QApplication::sendEvent(target, &event);
}

// The x range every plot shows, or nothing when two differ.
std::optional<std::pair<double, double>> CommonRange(const ProfileWindow& w) {
    std::optional<std::pair<double, double>> range;
    for (QChartView* view : w.PlotViews()) {
        const auto* x = qobject_cast<QValueAxis*>(view->chart()->axes(Qt::Horizontal).at(0));
        const std::pair<double, double> here{x->min(), x->max()};
        if (range && *range != here) return std::nullopt;
        range = here;
    }
    return range;
}

// Plots whose x axes sat at 139, 136 and 143 px: the cursor crossed them
// at different places. Every plot area now starts and ends on the same pixel,
// a zoom, pan or reset in one plot moves all of them, and no series carries
// more points than the plot has pixels across.
TEST(ProfileWindow, PlotAreasLineUpAndOneRangeRunsThroughThem) {
    const testsupport::TempDir dir;
    Shown shown(Request(dir, "loop_and_helix.cvtrack", LoopAndHelix(), true));
    ProfileWindow& w = shown.window;
    const std::vector<QChartView*> views = w.PlotViews();
    ASSERT_EQ(views.size(), 5u);
    const QRectF first = AreaInWindow(w, views[0]);
    EXPECT_GT(first.width(), 300.0);
    for (QChartView* view : views) {
        const QRectF area = AreaInWindow(w, view);
        EXPECT_EQ(area.left(), first.left()) << view->objectName().toStdString();
        EXPECT_EQ(area.right(), first.right()) << view->objectName().toStdString();
        for (QAbstractSeries* series : view->chart()->series()) {
            if (auto* line = qobject_cast<QLineSeries*>(series)) {
                EXPECT_LE(line->count(), static_cast<int>(area.width()) + 3);
            }
        }
    }
    const auto whole = CommonRange(w);
    ASSERT_TRUE(whole);

    QWidget* speed = views[0]->viewport();
    const QPoint middle = first.center().toPoint() - views[0]->mapTo(&w, QPoint(0, 0));
    QWheelEvent wheel(QPointF(middle), speed->mapToGlobal(QPointF(middle)), QPoint(), QPoint(0, 240),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(speed, &wheel);
    const auto zoomed = CommonRange(w);
    ASSERT_TRUE(zoomed);
    EXPECT_NEAR(zoomed->second - zoomed->first, 0.64 * (whole->second - whole->first), 1e-6);

    // Shift and drag pans: 100 pixels to the right shows what lay to the left.
    QWidget* lateral = views[2]->viewport();
    const QPoint at = middle + QPoint(0, views[2]->height() / 2 - views[0]->height() / 2);
    Mouse(lateral, QEvent::MouseButtonPress, at, Qt::ShiftModifier);
    Mouse(lateral, QEvent::MouseMove, at + QPoint(100, 0), Qt::ShiftModifier);
    Mouse(lateral, QEvent::MouseButtonRelease, at + QPoint(100, 0), Qt::ShiftModifier);
    const auto panned = CommonRange(w);
    ASSERT_TRUE(panned);
    const double perPixel = (zoomed->second - zoomed->first) / first.width();
    EXPECT_NEAR(panned->first, zoomed->first - 100 * perPixel, 1e-6);

    // A plain drag zooms to what it spans; a double-click shows the whole ride.
    Mouse(lateral, QEvent::MouseButtonPress, at - QPoint(60, 0));
    Mouse(lateral, QEvent::MouseMove, at + QPoint(60, 0));
    Mouse(lateral, QEvent::MouseButtonRelease, at + QPoint(60, 0));
    const auto dragged = CommonRange(w);
    ASSERT_TRUE(dragged);
    EXPECT_NEAR(dragged->second - dragged->first, 120 * perPixel, 1e-6);
    Mouse(lateral, QEvent::MouseButtonDblClick, at);
    EXPECT_EQ(CommonRange(w), whole);

    // Time along the x axis: the same plots, a time range.
    w.SetXAxis(XAxis::Time);
    const auto time = CommonRange(w);
    ASSERT_TRUE(time);
    EXPECT_NEAR(time->second, w.Model().timeExtent.hi, 1e-9);
    EXPECT_LT(time->second, whole->second / 5.0) << "a ride is faster than 5 m/s";
}

// The CSV of either track is the file `cv-qrn-cli profile --csv` writes of
// it, byte for byte; a picture carries the caption, an SVG a named sans
// family and a page-sized width.
TEST(ProfileWindow, CsvIsTheCommandLinesFileAndPicturesCarryTheCaption) {
    const testsupport::TempDir dir;
    const ProfileRequest request = Request(dir, "loop_and_helix.cvtrack", LoopAndHelix(), true);
    Shown shown(request);
    ProfileWindow& w = shown.window;
    struct Row {
        Which which;
        std::vector<std::string> args;
    };
    for (const Row& row : {Row{Which::Loaded, {request.trackPath}},
                           Row{Which::Rebuilt, {dir.File("rebuilt.cvtrack"), "--heartline", "1.04"}}}) {
        const std::string ours = dir.File("window.csv");
        const std::string theirs = dir.File("cli.csv");
        ASSERT_TRUE(w.SaveCsv(row.which, QString::fromStdString(ours)));
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"--csv", theirs});
        std::ostringstream out, err;
        ASSERT_EQ(cli::RunProfile(args, out, err), cli::kExitOk) << err.str();
        const std::string csv = ReadFile(ours);
        EXPECT_GT(csv.size(), 10000u);
        EXPECT_EQ(csv, ReadFile(theirs));
    }
    EXPECT_FALSE(Shown(Request(dir, "only.cvtrack", FamilyCoaster(), false))
                     .window.SaveCsv(Which::Rebuilt, QString::fromStdString(dir.File("none.csv"))));

    const std::string svgPath = dir.File("p.svg");
    ASSERT_TRUE(w.SavePicture(QString::fromStdString(svgPath)));
    const QString svg = QString::fromStdString(ReadFile(svgPath));
    EXPECT_TRUE(svg.contains(QStringLiteral("font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\"")));
    EXPECT_FALSE(svg.contains(QStringLiteral("\"Sans Serif\"")));
    EXPECT_TRUE(svg.contains(QStringLiteral("loop_and_helix.cvtrack")));
    EXPECT_TRUE(svg.contains(QStringLiteral("2026-12-07 14:03")));
    const QRegularExpressionMatch width =
        QRegularExpression(QStringLiteral("<svg[^>]* width=\"([0-9.]+)mm\"")).match(svg);
    ASSERT_TRUE(width.hasMatch()) << svg.left(400).toStdString();
    EXPECT_NEAR(width.captured(1).toDouble(), 280.0, 10.0);
    const std::string pngPath = dir.File("p.png");
    ASSERT_TRUE(w.SavePicture(QString::fromStdString(pngPath)));
    EXPECT_GT(QImage(QString::fromStdString(pngPath)).width(), 2000);
}

// A level left turn of 8 m radius at about 13.6 m/s: 2.4 g towards the left
// for 12.6 m. The list says where and how long, and a click on it (or on a
// summary figure) takes the cursor there, the plots centred on it.
TEST(ProfileWindow, ExceedancesListWhereAndHowLongAndTakeThePlotsThere) {
    const testsupport::TempDir dir;
    const TrackData turn =
        LayoutBuilder({0.0, 2.0, 0.0}).Straight(30.0).Turn(90.0, 8.0).Straight(30.0).Build("turn");
    Shown shown(Request(dir, "turn.cvtrack", turn, false));
    ProfileWindow& w = shown.window;
    QListWidget* list = w.ExceedanceList();
    ASSERT_EQ(list->count(), 1);
    const std::string text = list->item(0)->text().toStdString();
    EXPECT_EQ(text.rfind("loaded: Lateral above +1.8 g at 3", 0), 0u) << text;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    const double peak = list->item(0)->data(Qt::UserRole).toDouble();
    EXPECT_TRUE(w.Zoom().Zoomed());
    EXPECT_NEAR(0.5 * (w.Zoom().Shown().lo + w.Zoom().Shown().hi), peak, 1e-9);
    EXPECT_EQ(w.ReadOutText().toStdString().rfind(Fixed(peak, 1) + " m   loaded at ", 0), 0u);

    w.SetForceView(ForceView::Raw);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(w.SummaryTable()->horizontalHeaderItem(0)->text(), QStringLiteral("Raw forces"));
    QTableWidget* summary = w.SummaryTable();
    ASSERT_EQ(summary->item(0, 0)->text(), QStringLiteral("Highest vertical"));
    const QRect cell = summary->visualItemRect(summary->item(0, 1));
    QTest::mouseClick(summary->viewport(), Qt::LeftButton, {}, cell.center());
    const double highest = w.Model().loaded->summary.maxVertical.distance;
    EXPECT_TRUE(w.Zoom().Shown().Contains(highest)) << highest;
    EXPECT_EQ(w.ReadOutText().toStdString().rfind(Fixed(highest, 1) + " m   loaded at ", 0), 0u);
}

// The top and side views draw their paths on another thread for the size
// they have when the model comes. The picture must match one drawn in place,
// and a view resized before it paints must not show the picture made for
// its old size (the paths would be squeezed or cut off).
TEST(TrackViews, PathsDrawnBesideMatchPathsDrawnInPlaceAndFollowAResize) {
    const testsupport::TempDir dir;
    const auto model = std::make_shared<const ProfileModel>(
        BuildProfileModel(Request(dir, "loop.cvtrack", LoopAndHelix(), true)));
    const QSize size(420, 260);
    for (const TrackView::Kind kind : {TrackView::Kind::Top, TrackView::Kind::Side}) {
        TrackView beside(kind, nullptr);  // the model comes at the size it paints at
        beside.resize(size);
        beside.show();
        TrackView resized(kind, nullptr);  // the model comes at another size
        resized.resize(size / 2);
        resized.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&beside) &&
                    QTest::qWaitForWindowExposed(&resized));
        beside.SetModel(model);
        resized.SetModel(model);
        resized.resize(size);
        QApplication::processEvents();
        const QImage a = beside.grab().toImage();
        const QImage b = resized.grab().toImage();
        ASSERT_EQ(a.size(), b.size());
        EXPECT_TRUE(a == b) << (kind == TrackView::Kind::Top ? "top" : "side");
        // Not blank: the paths are there.
        int coloured = 0;
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                coloured += a.pixelColor(x, y).hsvSaturation() > 60 ? 1 : 0;
            }
        }
        EXPECT_GT(coloured, 500);
    }
}

}  // namespace
}  // namespace cvqrn::ui::test
