#include "ui/profile_window.h"

#include <QAreaSeries>
#include <QBuffer>
#include <QButtonGroup>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLayout>
#include <QLineSeries>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRubberBand>
#include <QSaveFile>
#include <QScatterSeries>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSvgGenerator>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>
#include <sstream>
#include <utility>

#include "frontend/number_text.h"
#include "frontend/window_placement.h"
#include "profile/profile_csv.h"

namespace cvqrn::ui {

namespace {

const QColor kLoadedColour(112, 166, 222);  // light blue, drawn wide beneath
const QColor kRebuiltColour(204, 85, 0);    // dark orange, drawn thin on top
const QColor kRailColour(120, 60, 10);      // the new rail in the views
const QColor kValleyColour(200, 20, 30);    // where the train stops
const QColor kCursorColour(60, 60, 60);
const QColor kLimitColour(230, 40, 40, 34);  // the shaded comfort limits
const QColor kOffScaleColour(190, 0, 60);
const QColor kStartColour(20, 140, 60);
const QColor kBetterShade(214, 240, 214);  // a rebuilt figure that rides better
const QColor kWorseShade(250, 218, 218);   // one that rides worse
constexpr double kLoadedWidth = 3.0;
constexpr double kRebuiltWidth = 1.3;
const char* const kFontFamily = "DejaVu Sans";

// The plot area inside each chart, in pixels, the same in every plot so that
// their x axes line up: room on the left for the value labels, on the right
// for the motion plot's second scale, below for the distance or time labels
// (the axis title is a label under the last plot).
constexpr int kPlotLeft = 62;
constexpr int kPlotRight = 62;
constexpr int kPlotTop = 8;
constexpr int kPlotBottom = 24;

// Writes `bytes` as the whole file at `path`, or leaves what was there: the
// file is replaced only once everything is written. IoError with the system's
// reason otherwise.
Result WriteWhole(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        return Failure(Status::IoError, file.errorString().toStdString());
    }
    return {};
}
constexpr int kPixelsPerXTick = 70;
constexpr int kPixelsPerYTick = 20;
constexpr int kPixelsPerColumn = 2;        // of a series' decimation
constexpr double kWheelZoomPerStep = 0.8;  // the shown span after one wheel step in
constexpr int kDragThreshold = 4;          // pixels before a press counts as a drag

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

// Bevelled joins and square caps: round ones cost an arc at each of the
// thousands of points.
// Widths in the window's pixels, so that a picture at twice the pixels draws
// them twice as wide.
QPen Pen(const QColor& colour, double width, Qt::PenStyle style = Qt::SolidLine) {
    return QPen(colour, width, style, Qt::SquareCap, Qt::BevelJoin);
}

QString Swatch(const QColor& colour, const QString& text, const char* line = "&#9644;") {
    return QStringLiteral("<span style='color:%1'>%2</span>&nbsp;%3")
        .arg(colour.name(), QString::fromLatin1(line), text.toHtmlEscaped());
}

void SetTicks(QValueAxis* axis, Range range, const Ticks& ticks) {
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0.0);  // ticks on multiples of the step: 0 is "0", never "-0.0"
    axis->setTickInterval(ticks.step);
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(ticks.decimals));
    axis->setRange(range.lo, range.hi);
}
void SetTicks(QValueAxis* axis, Range range, int pixels, int pixelsPerTick) {
    SetTicks(axis, range, NiceTicks(range, std::max(3, pixels / pixelsPerTick)));
}
void SetTicks(QValueAxis* axis, const LabelledRange& labelled) {
    SetTicks(axis, labelled.range, labelled.ticks);
}

// A line series on the chart's axes.
QLineSeries* AddLine(QChart* chart, QValueAxis* x, QValueAxis* y, const QPen& pen) {
    auto* series = new QLineSeries;
    series->setPen(pen);
    chart->addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
    return series;
}

// Fills `pool` with one series per unbroken stretch of `points` (broken at
// NaN), reusing the series it has, adding more when needed and emptying the rest.
void SetRuns(std::vector<QLineSeries*>& pool, const Points& points, QChart* chart, QValueAxis* x,
             QValueAxis* y, const QPen& pen) {
    size_t used = 0;
    QList<QPointF> run;
    const auto flush = [&] {
        if (run.isEmpty()) return;
        if (used == pool.size()) pool.push_back(AddLine(chart, x, y, pen));
        pool[used]->setPen(pen);
        pool[used]->replace(run);
        ++used;
        run.clear();
    };
    for (size_t i = 0; i < points.x.size(); ++i) {
        if (std::isnan(points.y[i])) {
            flush();
        } else {
            run.append(QPointF(points.x[i], points.y[i]));
        }
    }
    flush();
    for (size_t i = used; i < pool.size(); ++i) {
        if (pool[i]->count() > 0) pool[i]->clear();
    }
}

// A small triangle pointing up or down: where a value runs off the scale.
constexpr int kMarkSize = 8;
QImage OffScaleMark(bool up) {
    constexpr qreal kScale = 2.0;  // sharp at twice the pixels
    QImage image(QSize(kMarkSize, kMarkSize) * kScale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kScale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kOffScaleColour);
    const double w = kMarkSize;
    painter.drawPolygon(up ? QPolygonF{QPointF(0, w), QPointF(w, w), QPointF(w / 2, 0)}
                           : QPolygonF{QPointF(0, 0), QPointF(w, 0), QPointF(w / 2, w)});
    return image;
}

QPointF Mapped(double x, double y, double sx, double sy, double ox, double oy) {
    return {ox + x * sx, oy + y * sy};
}

// 1, 2 or 5 times a power of ten, at most `most`.
double RoundLength(double most) {
    const double power = std::pow(10.0, std::floor(std::log10(std::max(most, 1e-9))));
    for (double m : {5.0, 2.0, 1.0}) {
        if (m * power <= most) return m * power;
    }
    return power;
}

QString Metres(double length) {
    return length >= 1000.0 ? QStringLiteral("%1 km").arg(length / 1000.0)
                            : QStringLiteral("%1 m").arg(length);
}

}  // namespace

// ---- Track views ---------------------------------------------------------------

TrackView::TrackView(Kind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
    setMinimumSize(240, kind == Kind::Top ? 140 : 90);
}

void TrackView::SetModel(std::shared_ptr<const ProfileModel> model) {
    model_ = std::move(model);
    cursor_[0] = cursor_[1] = std::nullopt;
    laidOut_ = false;
    drawing_.reset();
    const RideProfile* loaded = ProfileOf(*model_, Which::Loaded);
    if (loaded != nullptr && !loaded->samples.empty()) {
        // Drawn beside the plots' filling and painting; the paint takes it
        // when the view still has this size.
        drawing_ = QtConcurrent::run(
            [kind = kind_, model = model_, size = size(), ratio = devicePixelRatioF()] {
                return DrawPicture(kind, *model, size, ratio);
            });
    }
    update();
}

void TrackView::SetCursor(std::optional<size_t> loaded, std::optional<size_t> rebuilt) {
    if (cursor_[0] == loaded && cursor_[1] == rebuilt) return;
    cursor_[0] = loaded;
    cursor_[1] = rebuilt;
    update();
}

void TrackView::resizeEvent(QResizeEvent*) {
    laidOut_ = false;
}

QPointF TrackView::Place(Kind kind, const Fit& fit, const ProfileSample& s, const ProfilePoint& p) {
    const bool top = kind == Kind::Top;
    return Mapped(top ? p.x : s.distance, top ? p.z : p.y, fit.sx, fit.sy, fit.ox, fit.oy);
}

// Fits the paths of `model` into a view of `size` and draws them.
TrackView::Picture TrackView::DrawPicture(Kind kind, const ProfileModel& model, QSize size,
                                          qreal ratio) {
    Picture picture;
    picture.size = size;
    picture.ratio = ratio;
    const bool top = kind == Kind::Top;
    // QRectF::united ignores empty rectangles, so the bounds are kept by hand.
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double left = kInf, right = -kInf, lowest = kInf, highest = -kInf;
    const auto take = [&](double x, double y) {
        left = std::min(left, x);
        right = std::max(right, x);
        lowest = std::min(lowest, y);
        highest = std::max(highest, y);
    };
    for (Which which : {Which::Loaded, Which::Rebuilt}) {
        const RideProfile* p = ProfileOf(model, which);
        if (p == nullptr) continue;
        for (const ProfileSample& s : p->samples) {
            for (const ProfilePoint* q : {&s.heart, &s.rail}) take(top ? q->x : s.distance, top ? q->z : q->y);
        }
    }
    if (model.valley) {
        const ValleyStop& v = *model.valley;
        take(top ? v.x : v.distance, top ? v.z : v.y);
    }
    const QRectF bounds(QPointF(left, lowest), QPointF(right, highest));
    const QRectF area = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(14, 24, -14, -34);
    Fit& fit = picture.fit;
    fit.sx = area.width() / std::max(bounds.width(), 1e-6);
    fit.sy = area.height() / std::max(bounds.height(), 1e-6);
    if (top) fit.sx = fit.sy = std::min(fit.sx, fit.sy);  // true shape from above
    // Side view: height grows up the page; top view: z grows down the page.
    if (!top) fit.sy = -fit.sy;
    fit.ox = area.center().x() - bounds.center().x() * fit.sx;
    fit.oy = area.center().y() - bounds.center().y() * fit.sy;

    picture.paths = QImage(size * ratio, QImage::Format_ARGB32_Premultiplied);
    picture.paths.setDevicePixelRatio(ratio);
    picture.paths.fill(Qt::transparent);
    QPainter painter(&picture.paths);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawPaths(painter, kind, model, fit);
    return picture;
}

// Takes the paths drawn in the background when they were drawn for this
// size, else draws them now.
void TrackView::Layout() {
    laidOut_ = true;
    const qreal ratio = devicePixelRatioF();
    Picture picture;
    if (drawing_) picture = drawing_->result();
    drawing_.reset();
    if (picture.size != size() || picture.ratio != ratio)
        picture = DrawPicture(kind_, *model_, size(), ratio);
    fit_ = picture.fit;
    paths_ = std::move(picture.paths);
}

void TrackView::DrawPaths(QPainter& painter, Kind kind, const ProfileModel& model, const Fit& fit) {
    const auto draw = [&](const RideProfile& p, bool rail, const QPen& pen) {
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(p.samples.size()));
        QPointF last(-1e9, -1e9);
        for (const ProfileSample& s : p.samples) {
            const QPointF at = Place(kind, fit, s, rail ? s.rail : s.heart);
            // Points closer than a pixel and a half add nothing a line this
            // wide shows, and each costs stroking time.
            if (std::abs(at.x() - last.x()) + std::abs(at.y() - last.y()) < 1.5) continue;
            line << at;
            last = at;
        }
        painter.setPen(pen);
        painter.drawPolyline(line);
    };
    draw(*ProfileOf(model, Which::Loaded), false, Pen(kLoadedColour, kLoadedWidth));
    if (const RideProfile* rebuilt = ProfileOf(model, Which::Rebuilt)) {
        draw(*rebuilt, true, Pen(kRailColour, 1.0, Qt::DashLine));
        // One pixel wide: Qt draws such lines without stroking them.
        draw(*rebuilt, false, Pen(kRebuiltColour, 1.0));
    }
}

// A scale bar along the bottom; the side view, drawn to two scales, has one
// for the height as well.
void TrackView::DrawScale(QPainter& painter) const {
    painter.setPen(Pen(Qt::black, 1.2));
    const double y = height() - 14.0;
    const double across = RoundLength(0.25 * width() / fit_.sx);
    const double x0 = 14.0, x1 = x0 + across * fit_.sx;
    painter.drawLine(QPointF(x0, y), QPointF(x1, y));
    painter.drawLine(QPointF(x0, y - 4), QPointF(x0, y + 4));
    painter.drawLine(QPointF(x1, y - 4), QPointF(x1, y + 4));
    painter.drawText(QPointF(x1 + 6, y + 4), Metres(across));
    if (kind_ == Kind::Side) {
        const double up = RoundLength(0.3 * height() / std::abs(fit_.sy));
        const double xr = width() - 60.0;
        const double y1 = y - up * std::abs(fit_.sy);
        painter.drawLine(QPointF(xr, y), QPointF(xr, y1));
        painter.drawLine(QPointF(xr - 4, y), QPointF(xr + 4, y));
        painter.drawLine(QPointF(xr - 4, y1), QPointF(xr + 4, y1));
        painter.drawText(QPointF(xr + 6, 0.5 * (y + y1) + 4), Metres(up));
    }
}

// The start: a dot, and an arrow a little way along the loaded path
// pointing the way the train goes.
void TrackView::DrawStart(QPainter& painter) const {
    const RideProfile& p = *ProfileOf(*model_, Which::Loaded);
    const QPointF start = Place(p.samples.front(), p.samples.front().heart);
    QPointF from = start, to = start;
    for (const ProfileSample& s : p.samples) {
        const QPointF at = Place(s, s.heart);
        const double reach = std::hypot(at.x() - start.x(), at.y() - start.y());
        if (reach < 16.0) from = at;
        to = at;
        if (reach >= 28.0) break;
    }
    painter.setPen(Pen(kStartColour, 2.0));
    painter.setBrush(kStartColour);
    painter.drawEllipse(start, 4.5, 4.5);
    const double angle = std::atan2(to.y() - from.y(), to.x() - from.x());
    if (std::hypot(to.x() - from.x(), to.y() - from.y()) > 1.0) {
        constexpr double kHead = 9.0;     // pixels
        constexpr double kSpread = 0.45;  // radians either side of the path
        const QPolygonF head{to,
                             to - kHead * QPointF(std::cos(angle + kSpread), std::sin(angle + kSpread)),
                             to - kHead * QPointF(std::cos(angle - kSpread), std::sin(angle - kSpread))};
        painter.drawLine(start, to);
        painter.drawPolygon(head);
    }
    painter.setPen(kStartColour.darker(130));
    // Above the start, or below it where the caption is.
    painter.drawText(start + QPointF(7, start.y() < 40.0 ? 16.0 : -7.0), QStringLiteral("start"));
}

void TrackView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(Pen(QColor(200, 200, 200), 1.0));
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    painter.setPen(Qt::black);
    const QString caption = kind_ == Kind::Top ? QStringLiteral("Top view")
                                               : QStringLiteral("Side view: height along the track");
    painter.drawText(QRectF(rect()).adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop, caption);
    if (model_ == nullptr || ProfileOf(*model_, Which::Loaded) == nullptr ||
        ProfileOf(*model_, Which::Loaded)->samples.empty()) {
        return;
    }
    if (!laidOut_) Layout();
    // On the screen the paths come from the picture drawn once for this size;
    // into an SVG or a PNG of another scale they are drawn afresh.
    const QPaintEngine* engine = painter.paintEngine();
    if (engine->type() == QPaintEngine::Raster &&
        engine->paintDevice()->devicePixelRatio() == paths_.devicePixelRatio()) {
        painter.drawImage(0, 0, paths_);
    } else {
        DrawPaths(painter, kind_, *model_, fit_);
    }
    DrawScale(painter);
    DrawStart(painter);
    if (model_->valley) {
        const ValleyStop& v = *model_->valley;
        const QPointF at = kind_ == Kind::Top
                               ? Mapped(v.x, v.z, fit_.sx, fit_.sy, fit_.ox, fit_.oy)
                               : Mapped(v.distance, v.y, fit_.sx, fit_.sy, fit_.ox, fit_.oy);
        painter.setPen(Pen(kValleyColour, 2.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(at, 5.0, 5.0);
    }
    for (Which which : {Which::Loaded, Which::Rebuilt}) {
        const auto& k = cursor_[static_cast<size_t>(which)];
        const RideProfile* p = ProfileOf(*model_, which);
        if (!k || p == nullptr || *k >= p->samples.size()) continue;
        const ProfileSample& s = p->samples[*k];
        const QColor colour = which == Which::Loaded ? kLoadedColour.darker(140) : kRebuiltColour;
        painter.setPen(Pen(Qt::white, 1.5));
        painter.setBrush(colour);
        painter.drawEllipse(Place(s, s.heart), 5.0, 5.0);
    }
}

// ---- The window -----------------------------------------------------------------

ProfileWindow::ProfileWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QString::fromLatin1(kProfileWindowTitle));
    setObjectName(QStringLiteral("RideProfile"));
    auto* outer = new QVBoxLayout(this);

    // The controls above the picture.
    auto* controls = new QHBoxLayout;
    const auto pair = [&](const char* label, const char* a, const char* b, QAbstractButton*& first,
                          QAbstractButton*& second) {
        controls->addWidget(new QLabel(QString::fromUtf8(label), this));
        first = new QRadioButton(QString::fromUtf8(a), this);
        second = new QRadioButton(QString::fromUtf8(b), this);
        auto* group = new QButtonGroup(this);
        group->addButton(first);
        group->addButton(second);
        first->setChecked(true);
        controls->addWidget(first);
        controls->addWidget(second);
        controls->addSpacing(18);
    };
    pair("Forces:", "felt", "raw", felt_, raw_);
    felt_->setToolTip(QStringLiteral(
        "Felt forces: averaged over 0.2 s of travel, as riders feel them and as ride "
        "accelerations are judged"));
    raw_->setToolTip(QStringLiteral(
        "Raw forces: as the track's geometry gives them, sample by sample, jolts and spikes "
        "included; the scale leaves out the rarest spikes and marks where a value runs off it"));
    pair("Along:", "distance", "time", distance_, time_);
    connect(felt_, &QAbstractButton::toggled, this,
            [this](bool on) { SetForceView(on ? ForceView::Felt : ForceView::Raw); });
    connect(distance_, &QAbstractButton::toggled, this,
            [this](bool on) { SetXAxis(on ? XAxis::Distance : XAxis::Time); });
    hint_ = new QLabel(QStringLiteral("Wheel or drag across a plot to zoom, Shift+drag to pan, "
                                      "double-click for the whole ride."),
                       this);
    hint_->setStyleSheet(QStringLiteral("color:#555"));
    hint_->setWordWrap(true);  // on a small screen it wraps rather than widen the window
    controls->addWidget(hint_, 1);
    export_ = new QToolButton(this);
    export_->setText(QStringLiteral("Export"));
    export_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(export_);
    for (const auto& [text, kind] :
         {std::pair{"Picture (PNG or SVG)\u2026", "picture"},
          std::pair{"Loaded track as CSV\u2026", "loaded"},
          std::pair{"Rebuilt track as CSV\u2026", "rebuilt"}}) {
        QAction* action = menu->addAction(QString::fromUtf8(text));
        action->setObjectName(QString::fromLatin1(kind));
        connect(action, &QAction::triggered, this,
                [this, kind = QString::fromLatin1(kind)] { Export(kind); });
    }
    export_->setMenu(menu);
    auto* view3d = new QPushButton(QStringLiteral("3D view"), this);
    view3d->setToolTip(QStringLiteral("The track in 3D, coloured by the felt forces (Ctrl+3)"));
    connect(view3d, &QPushButton::clicked, this, &ProfileWindow::Open3dRequested);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_3), this), &QShortcut::activated, this,
            &ProfileWindow::Open3dRequested);
    controls->addWidget(view3d);
    controls->addWidget(export_);
    outer->addLayout(controls);

    // The picture: what a saved PNG or SVG shows.
    content_ = new QWidget(this);
    content_->setAutoFillBackground(true);
    QPalette palette = content_->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Text, Qt::black);
    content_->setPalette(palette);
    QFont font(QString::fromLatin1(kFontFamily));
    font.setPointSizeF(QWidget::font().pointSizeF());
    content_->setFont(font);
    outer->addWidget(content_, 1);

    auto* grid = new QGridLayout(content_);
    caption_ = new QLabel(content_);
    caption_->setObjectName(QStringLiteral("Caption"));
    caption_->setStyleSheet(QStringLiteral("font-weight:bold"));
    caption_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    caption_->setWordWrap(true);
    grid->addWidget(caption_, 0, 0, 1, 2);

    auto* plotsColumn = new QVBoxLayout;
    plotsColumn->setSpacing(0);
    legend_ = new QLabel(content_);
    legend_->setTextFormat(Qt::RichText);
    legend_->setWordWrap(true);
    plotsColumn->addWidget(legend_);
    BuildPlot(plots_[0], Quantity::Speed, false);
    BuildPlot(plots_[1], Quantity::Vertical, false);
    BuildPlot(plots_[2], Quantity::Lateral, false);
    BuildPlot(plots_[3], Quantity::Longitudinal, false);
    BuildPlot(plots_[4], Quantity::Roll, true);
    for (Plot& plot : plots_) {
        plotsColumn->addWidget(plot.title);
        plotsColumn->addWidget(plot.view, 5);
    }
    xTitle_ = new QLabel(content_);
    xTitle_->setContentsMargins(kPlotLeft, 0, kPlotRight, 0);
    xTitle_->setAlignment(Qt::AlignHCenter);
    plotsColumn->addWidget(xTitle_);
    grid->addLayout(plotsColumn, 1, 0);

    auto* side = new QVBoxLayout;
    summary_ = new QTableWidget(0, 3, content_);
    summary_->setObjectName(QStringLiteral("Summary"));
    summary_->verticalHeader()->hide();
    summary_->setShowGrid(false);
    summary_->setFrameShape(QFrame::NoFrame);
    summary_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    summary_->setSelectionMode(QAbstractItemView::NoSelection);
    summary_->setFocusPolicy(Qt::NoFocus);
    // All rows where there is room; on a small screen it scrolls.
    summary_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    summary_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    summary_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft);
    summary_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    summary_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(summary_, &QTableWidget::cellClicked, this, [this](int row, int column) {
        const QVariant at = summary_->item(row, column) ? summary_->item(row, column)->data(Qt::UserRole)
                                                        : QVariant();
        if (at.isValid() && column > 0) GoTo(column == 1 ? Which::Loaded : Which::Rebuilt, at.toDouble());
    });
    side->addWidget(summary_);

    auto* limitsTitle = new QLabel(QStringLiteral("Beyond the comfort limits"), content_);
    limitsTitle->setStyleSheet(QStringLiteral("font-weight:bold"));
    side->addWidget(limitsTitle);
    exceedances_ = new QListWidget(content_);
    exceedances_->setObjectName(QStringLiteral("Exceedances"));
    exceedances_->setFrameShape(QFrame::NoFrame);
    exceedances_->setWordWrap(true);
    exceedances_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    exceedances_->setMaximumHeight(150);
    connect(exceedances_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const QVariant at = item->data(Qt::UserRole);
        if (at.isValid()) {
            GoTo(static_cast<Which>(item->data(Qt::UserRole + 1).toInt()), at.toDouble());
        }
    });
    side->addWidget(exceedances_);
    comfortNote_ = new QLabel(Text(kComfortNote), content_);
    comfortNote_->setWordWrap(true);
    comfortNote_->setStyleSheet(QStringLiteral("color:#555"));
    side->addWidget(comfortNote_);
    top_ = new TrackView(TrackView::Kind::Top, content_);
    side_ = new TrackView(TrackView::Kind::Side, content_);
    side->addWidget(top_, 3);
    side->addWidget(side_, 2);
    grid->addLayout(side, 1, 1);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);

    readOut_ = new QLabel(content_);
    readOut_->setObjectName(QStringLiteral("ReadOut"));
    readOut_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Two lines at most, never wider than the window: a long read-out wraps.
    readOut_->setWordWrap(true);
    readOut_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    readOut_->setFixedHeight(2 * readOut_->fontMetrics().lineSpacing() + 4);
    grid->addWidget(readOut_, 2, 0, 1, 2);

    rubberBand_ = new QRubberBand(QRubberBand::Rectangle, this);
    resize(kProfilePreferredSize);
    SetModel(model_);  // the empty model: a window before any load
}

void ProfileWindow::BuildPlot(Plot& plot, Quantity quantity, bool motion) {
    plot.quantity = quantity;
    plot.motion = motion;
    plot.chart = new QChart;
    plot.chart->setFont(content_->font());
    // The title sits above the chart, so that every plot area starts at the same height.
    plot.title = new QLabel(motion ? QStringLiteral("Roll (\u00b0, solid) and roll rate (\u00b0/s, dotted)")
                                   : Text(PlotTitle(quantity)),
                            content_);
    plot.title->setContentsMargins(kPlotLeft, 4, 0, 0);
    plot.chart->setBackgroundRoundness(0);
    plot.chart->setMargins(QMargins(0, 0, 0, 0));
    plot.chart->legend()->hide();  // one legend above the plots serves them all
    plot.x = new QValueAxis;
    plot.x->setMinorTickCount(0);
    plot.x->setLabelsFont(content_->font());
    plot.x->setTitleVisible(false);  // xTitle_ under the last plot names it
    plot.y = new QValueAxis;
    plot.y->setLabelsFont(content_->font());
    plot.chart->addAxis(plot.x, Qt::AlignBottom);
    plot.chart->addAxis(plot.y, Qt::AlignLeft);
    if (motion) {
        plot.rate = new QValueAxis;
        plot.rate->setLabelsFont(content_->font());
        plot.rate->setGridLineVisible(false);
        plot.chart->addAxis(plot.rate, Qt::AlignRight);
    }
    // The comfort limits beneath everything else.
    const int bands = quantity == Quantity::Vertical || quantity == Quantity::Lateral ? 2 : 0;
    for (int i = 0; i < bands; ++i) {
        auto* upper = new QLineSeries;
        auto* lower = new QLineSeries;
        auto* area = new QAreaSeries(upper, lower);
        // An area series does not own its edges: they go with it.
        upper->setParent(area);
        lower->setParent(area);
        area->setBrush(kLimitColour);
        area->setPen(Qt::NoPen);
        plot.chart->addSeries(area);
        area->attachAxis(plot.x);
        area->attachAxis(plot.y);
        plot.bands.push_back(area);
    }
    QValueAxis* rateAxis = motion ? plot.rate : plot.y;
    for (size_t i = 0; i < plot.lines.size(); ++i) {
        if (i >= 2 && !motion) break;
        // Two stretches for each to begin with; more come when a profile has breaks.
        for (int k = 0; k < 2; ++k) {
            plot.lines[i].push_back(AddLine(plot.chart, plot.x, i >= 2 ? rateAxis : plot.y, QPen()));
        }
    }
    for (QScatterSeries** marks : {&plot.above, &plot.below}) {
        *marks = new QScatterSeries;
        (*marks)->setMarkerSize(kMarkSize);
        (*marks)->setLightMarker(OffScaleMark(marks == &plot.above));
        plot.chart->addSeries(*marks);
        (*marks)->attachAxis(plot.x);
        (*marks)->attachAxis(motion ? plot.rate : plot.y);
    }
    plot.valley = AddLine(plot.chart, plot.x, plot.y, Pen(kValleyColour, 1.5, Qt::DashLine));
    plot.cursor = AddLine(plot.chart, plot.x, plot.y, Pen(kCursorColour, 1.0, Qt::DotLine));

    plot.view = new QChartView(plot.chart, content_);
    plot.view->setObjectName(QStringLiteral("Plot%1").arg(static_cast<int>(quantity)));
    plot.view->setFrameShape(QFrame::NoFrame);
    plot.view->setRenderHint(QPainter::Antialiasing);
    plot.view->setMinimumHeight(72);
    plot.view->setMouseTracking(true);
    plot.view->viewport()->setMouseTracking(true);
    plot.view->viewport()->installEventFilter(this);
    plot.view->installEventFilter(this);
}

// The same plot area in every plot, whatever its labels need.
void ProfileWindow::LayOutPlot(Plot& plot) {
    const QSize size = plot.view->size();
    const int bottom = kPlotBottom;
    plot.chart->setPlotArea(QRectF(kPlotLeft, kPlotTop, std::max(10, size.width() - kPlotLeft - kPlotRight),
                                   std::max(10, size.height() - kPlotTop - bottom)));
}

void ProfileWindow::FillBands(Plot& plot) {
    if (plot.bands.empty()) return;
    const struct Limits {
        double upper, lower;
    } limits = plot.quantity == Quantity::Vertical
                   ? Limits{kVerticalLimitUp, kVerticalLimitDown}
                   : Limits{kLateralLimit, -kLateralLimit};
    const Range y = ShownY(plot, plot.quantity).range;
    const Range x = XExtent(*model_, axis_);
    const auto band = [&](QAreaSeries* area, double from, double to) {
        to = std::max(from, to);  // nothing beyond the limit on this scale: an empty band
        area->lowerSeries()->replace({QPointF(x.lo, from), QPointF(x.hi, from)});
        area->upperSeries()->replace({QPointF(x.lo, to), QPointF(x.hi, to)});
    };
    band(plot.bands[0], limits.upper, y.hi);
    band(plot.bands[1], std::min(limits.lower, y.lo), limits.lower);
}

LabelledRange ProfileWindow::ShownY(const Plot& plot, Quantity quantity) const {
    const int height = static_cast<int>(plot.chart->plotArea().height());
    // A label's height and a little air.
    const int label = QFontMetrics(plot.y->labelsFont()).height() + 2;
    return LabelRange(PlotRange(*model_, quantity, view_), height, kPixelsPerYTick, label,
                      quantity == Quantity::Roll);
}

void ProfileWindow::ScaleY(Plot& plot) {
    SetTicks(plot.y, ShownY(plot, plot.quantity));
    if (plot.rate != nullptr) SetTicks(plot.rate, ShownY(plot, Quantity::RollRate));
}

void ProfileWindow::DrawSeries(Plot& plot) {
    const Range shown = range_.Shown();
    const int pixels = std::max(1, static_cast<int>(plot.chart->plotArea().width()));
    // Each column's lowest and highest sample: no more points than pixels across.
    const int columns = std::max(1, pixels / kPixelsPerColumn);
    SetTicks(plot.x, shown, pixels, kPixelsPerXTick);
    xTitle_->setText(Text(XAxisTitle(axis_)));
    QList<QPointF> above, below;
    const auto marks = [&](const Points& p, Quantity quantity) {
        if (!ClipsSpikes(quantity, view_)) return;
        const Range y = ShownY(plot, quantity).range;
        // Just inside the edge, where the mark shows whole.
        const double inset = 0.04 * y.Span();
        for (size_t i = 0; i < p.x.size(); ++i) {
            if (p.y[i] > y.hi) above.append(QPointF(p.x[i], y.hi - inset));
            if (p.y[i] < y.lo) below.append(QPointF(p.x[i], y.lo + inset));
        }
    };
    for (Which which : {Which::Loaded, Which::Rebuilt}) {
        const size_t w = static_cast<size_t>(which);
        const bool loaded = which == Which::Loaded;
        const QColor colour = loaded ? kLoadedColour : kRebuiltColour;
        const double width = loaded ? kLoadedWidth : kRebuiltWidth;
        Points points, rates;
        if (ProfileOf(*model_, which) != nullptr) {
            const PlotData& d = PlotsOf(*model_, which).data;
            points = DecimatePerColumn(XValues(d, axis_), Values(d, plot.quantity, view_), shown, columns);
            if (plot.motion) {
                rates = DecimatePerColumn(XValues(d, axis_), d.rollRate, shown, columns);
            }
        }
        SetRuns(plot.lines[w], points, plot.chart, plot.x, plot.y, Pen(colour, width));
        marks(points, plot.quantity);
        if (plot.motion) {
            SetRuns(plot.lines[w + 2], rates, plot.chart, plot.x, plot.rate,
                    Pen(loaded ? kLoadedColour.darker(115) : kRebuiltColour, loaded ? 2.0 : 1.0,
                        Qt::DotLine));
            marks(rates, Quantity::RollRate);
        }
    }
    plot.above->replace(above);
    plot.below->replace(below);

    plot.valley->clear();
    if (model_->valley) {
        const RideProfile* loaded = ProfileOf(*model_, Which::Loaded);
        double at = model_->valley->distance;
        if (axis_ == XAxis::Time && loaded != nullptr) at = XExtent(*model_, XAxis::Time).hi;
        const Range y = ShownY(plot, plot.quantity).range;
        plot.valley->replace({QPointF(at, y.lo), QPointF(at, y.hi)});
    }
    DrawCursor(plot);
}

void ProfileWindow::DrawCursor(Plot& plot) {
    if (!cursor_) {
        if (plot.cursor->count() > 0) plot.cursor->clear();
        return;
    }
    const Range y = ShownY(plot, plot.quantity).range;
    plot.cursor->replace({QPointF(*cursor_, y.lo), QPointF(*cursor_, y.hi)});
}

void ProfileWindow::ApplyRange() {
    for (Plot& plot : plots_) DrawSeries(plot);
}

void ProfileWindow::Redraw() {
    for (Plot& plot : plots_) {
        LayOutPlot(plot);
        FillBands(plot);
        ScaleY(plot);
        DrawSeries(plot);
    }
}

void ProfileWindow::SetModel(ProfileModel model) {
    SetModel(std::make_shared<const ProfileModel>(std::move(model)));
}

void ProfileWindow::SetModel(std::shared_ptr<const ProfileModel> model) {
    model_ = std::move(model);
    // First, so that the views draw their paths while the plots are filled.
    top_->SetModel(model_);
    side_->SetModel(model_);
    cursor_.reset();
    range_.SetExtent(XExtent(*model_, axis_));
    Redraw();
    ShowTexts();
    readOut_->setText(Text(StatusLine(*model_)));
    const bool rebuilt = ProfileOf(*model_, Which::Rebuilt) != nullptr;
    const bool loaded = ProfileOf(*model_, Which::Loaded) != nullptr;
    export_->menu()->findChild<QAction*>(QStringLiteral("loaded"))->setEnabled(loaded);
    export_->menu()->findChild<QAction*>(QStringLiteral("rebuilt"))->setEnabled(rebuilt);
}

void ProfileWindow::SetWorking() {
    readOut_->setText(QStringLiteral("Working out the ride profile\u2026"));
}

// The caption, legend, summary and exceedances for the model and the view.
void ProfileWindow::ShowTexts() {
    caption_->setText(Text(model_->caption));
    caption_->setVisible(!model_->caption.empty());
    QString legend = Swatch(kLoadedColour, QStringLiteral("loaded track, heart on the rail"));
    if (model_->rebuilt) {
        legend += QStringLiteral("&nbsp;&nbsp;&nbsp;") +
                  Swatch(kRebuiltColour,
                         QStringLiteral("rebuilt track (%1), heart %2 m from the rail "
                                        "(thin orange on wide blue where both agree)")
                             .arg(Text(RebuildName(model_->smooth)), Text(Fixed(model_->heartline, 2)))) +
                  QStringLiteral("&nbsp;&nbsp;&nbsp;") +
                  Swatch(kRailColour, QStringLiteral("new rail (views)"), "- - -");
    }
    if (view_ == ForceView::Raw) {
        legend += QStringLiteral("&nbsp;&nbsp;&nbsp;") +
                  Swatch(kOffScaleColour, QStringLiteral("runs off the scale"), "&#9650;&#9660;");
    }
    if (model_->valley) {
        legend += QStringLiteral("&nbsp;&nbsp;&nbsp;") +
                  Swatch(kValleyColour, QStringLiteral("where the train stops"), "&#9679;");
    }
    legend_->setText(legend);

    const std::vector<SummaryRow> rows = SummaryRows(*model_, view_);
    summary_->clear();
    summary_->setRowCount(static_cast<int>(rows.size()));
    const QString forces = view_ == ForceView::Felt ? QStringLiteral("Felt forces")
                                                    : QStringLiteral("Raw forces");
    summary_->setHorizontalHeaderLabels({forces, QStringLiteral("loaded"), QStringLiteral("rebuilt")});
    summary_->horizontalHeaderItem(1)->setForeground(kLoadedColour.darker(130));
    summary_->horizontalHeaderItem(2)->setForeground(kRebuiltColour);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const SummaryRow& row = rows[static_cast<size_t>(r)];
        auto* label = new QTableWidgetItem(Text(row.label));
        label->setToolTip(Text(row.toolTip));
        summary_->setItem(r, 0, label);
        for (int c : {1, 2}) {
            const double at = c == 1 ? row.loadedAt : row.rebuiltAt;
            const int segment = c == 1 ? row.loadedSegment : row.rebuiltSegment;
            auto* item = new QTableWidgetItem(Text(c == 1 ? row.loaded : row.rebuilt));
            QStringList tip;
            if (std::isfinite(at)) {
                item->setData(Qt::UserRole, at);
                item->setForeground(QColor(20, 70, 160));
                tip << QStringLiteral("On track segment %1. Click to show it on the plots.")
                           .arg(segment);
            }
            if (c == 2 && row.verdict != Verdict::None) {
                if (row.verdict != Verdict::Same) {
                    item->setBackground(row.verdict == Verdict::Better ? kBetterShade
                                                                       : kWorseShade);
                }
                tip.prepend(Text(row.verdictText));
            }
            item->setToolTip(tip.join(QLatin1Char(' ')));
            summary_->setItem(r, c, item);
        }
    }
    summary_->horizontalHeaderItem(2)->setToolTip(QStringLiteral(
        "Shaded green where the rebuilt track rides better than the loaded one, red where it "
        "rides worse; a figure's tool tip gives the margin."));
    summary_->resizeColumnsToContents();
    summary_->resizeRowsToContents();
    // Never narrower than its columns: the rebuilt figures are the point of the table.
    int width = 2 * summary_->frameWidth() + summary_->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < summary_->columnCount(); ++c) width += summary_->columnWidth(c);
    summary_->setMinimumWidth(width);
    int height = summary_->horizontalHeader()->height() + 2;
    for (int r = 0; r < summary_->rowCount(); ++r) height += summary_->rowHeight(r);
    summary_->setMaximumHeight(height);
    summary_->setMinimumHeight(std::min(height, summary_->horizontalHeader()->height() + 4 * 20));

    exceedances_->clear();
    for (const ExceedanceRow& row : ExceedanceRows(*model_, view_)) {
        const bool loaded = row.which == Which::Loaded;
        auto* item = new QListWidgetItem(
            (loaded ? QStringLiteral("loaded: ") : QStringLiteral("rebuilt: ")) + Text(row.text),
            exceedances_);
        item->setForeground(loaded ? kLoadedColour.darker(140) : kRebuiltColour);
        item->setData(Qt::UserRole, row.distance);
        item->setData(Qt::UserRole + 1, static_cast<int>(row.which));
        item->setToolTip(QStringLiteral("Click to show it on the plots"));
    }
    if (exceedances_->count() == 0 && model_->loaded) {
        auto* item = new QListWidgetItem(Text(NoExceedanceText(view_)), exceedances_);
        item->setFlags(Qt::NoItemFlags);
    }
}

void ProfileWindow::SetForceView(ForceView view) {
    if (view == view_) return;
    view_ = view;
    felt_->setChecked(view == ForceView::Felt);
    raw_->setChecked(view == ForceView::Raw);
    Redraw();
    ShowTexts();
    if (cursor_) HoverAt(*cursor_);
}

void ProfileWindow::SetXAxis(XAxis axis) {
    if (axis == axis_) return;
    // The same stretch of the loaded track (or the rebuilt one) stays in view.
    const Which which = ProfileOf(*model_, Which::Loaded) != nullptr ? Which::Loaded : Which::Rebuilt;
    const auto convert = [&](double x) -> double {
        const auto k = SampleAt(*model_, which, axis_, x);
        if (!k) return std::numeric_limits<double>::quiet_NaN();
        return XValues(PlotsOf(*model_, which).data, axis)[*k];
    };
    const bool zoomed = range_.Zoomed();
    const Range shown = range_.Shown();
    const std::optional<double> cursor = cursor_;
    axis_ = axis;
    distance_->setChecked(axis == XAxis::Distance);
    time_->setChecked(axis == XAxis::Time);
    range_.SetExtent(XExtent(*model_, axis_));
    if (zoomed) range_.ZoomTo(convert(shown.lo), convert(shown.hi));
    cursor_.reset();
    Redraw();
    if (cursor && std::isfinite(convert(*cursor))) HoverAt(convert(*cursor));
}

namespace {

// The track the 3D view shows: the rebuilt one after a run, else the loaded one.
Which ShownIn3d(const ProfileModel& model) {
    return ProfileOf(model, Which::Rebuilt) != nullptr ? Which::Rebuilt : Which::Loaded;
}

}  // namespace

void ProfileWindow::ShowCursor(double x) {
    cursor_ = x;
    readOut_->setText(Text(ReadOut(*model_, axis_, view_, x)));
    for (Plot& plot : plots_) DrawCursor(plot);
    const auto loaded = SampleAt(*model_, Which::Loaded, axis_, x);
    const auto rebuilt = SampleAt(*model_, Which::Rebuilt, axis_, x);
    top_->SetCursor(loaded, rebuilt);
    side_->SetCursor(loaded, rebuilt);
}

void ProfileWindow::HoverAt(double x) {
    ShowCursor(x);
    if (axis_ == XAxis::Distance) {
        emit CursorMoved(x);
    } else if (const auto k = SampleAt(*model_, ShownIn3d(*model_), axis_, x)) {
        emit CursorMoved(PlotsOf(*model_, ShownIn3d(*model_)).data.distance[*k]);
    }
}

void ProfileWindow::SetCursorDistance(double distance) {
    const double x = XOfDistance(*model_, ShownIn3d(*model_), axis_, distance);
    if (std::isfinite(x)) ShowCursor(x);
}

void ProfileWindow::GoTo(Which which, double distance) {
    const double x = XOfDistance(*model_, which, axis_, distance);
    if (!std::isfinite(x)) return;
    range_.CentreOn(x);
    ApplyRange();
    HoverAt(x);
}

std::vector<QChartView*> ProfileWindow::PlotViews() const {
    std::vector<QChartView*> views;
    for (const Plot& plot : plots_) views.push_back(plot.view);
    return views;
}

ProfileWindow::Plot* ProfileWindow::PlotOf(QObject* object) {
    for (Plot& plot : plots_) {
        if (object == plot.view->viewport() || object == plot.view) return &plot;
    }
    return nullptr;
}

double ProfileWindow::ValueAt(const Plot& plot, const QPoint& viewportPos) const {
    const QPointF inChart = plot.chart->mapFromScene(plot.view->mapToScene(viewportPos));
    return plot.chart->mapToValue(inChart).x();
}

bool ProfileWindow::eventFilter(QObject* watched, QEvent* event) {
    Plot* plot = PlotOf(watched);
    if (plot == nullptr) return QWidget::eventFilter(watched, event);
    if (watched == plot->view) {
        if (event->type() == QEvent::Resize) {
            // The view has its new size; the plot area and the points follow it.
            LayOutPlot(*plot);
            ScaleY(*plot);
            DrawSeries(*plot);
        }
        return QWidget::eventFilter(watched, event);
    }
    QWidget* viewport = plot->view->viewport();
    const auto inArea = [&](const QPointF& pos) {
        const QPointF inChart = plot->chart->mapFromScene(plot->view->mapToScene(pos.toPoint()));
        return plot->chart->plotArea().contains(inChart);
    };
    const auto span = [&] { return range_.Shown().Span() / plot->chart->plotArea().width(); };
    switch (event->type()) {
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const int x = mouse->position().toPoint().x();
            if (drag_ && drag_->pan) {
                range_.PanBy(-(x - drag_->lastX) * span());
                drag_->lastX = x;
                ApplyRange();
            } else if (drag_) {
                drag_->lastX = x;
                if (std::abs(x - drag_->startX) >= kDragThreshold) {
                    const QRectF area = plot->chart->plotArea();
                    const QPoint origin = viewport->mapTo(this, QPoint(0, 0));
                    rubberBand_->setGeometry(QRect(origin.x() + std::min(x, drag_->startX),
                                                   origin.y() + static_cast<int>(area.top()),
                                                   std::abs(x - drag_->startX),
                                                   static_cast<int>(area.height())));
                    rubberBand_->show();
                }
            }
            if (inArea(mouse->position())) HoverAt(ValueAt(*plot, mouse->position().toPoint()));
            return drag_.has_value();
        }
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton || !inArea(mouse->position())) break;
            const int x = mouse->position().toPoint().x();
            drag_ = Drag{plot, x, x, (mouse->modifiers() & Qt::ShiftModifier) != 0};
            if (drag_->pan) viewport->setCursor(Qt::ClosedHandCursor);
            return true;
        }
        case QEvent::MouseButtonRelease: {
            if (!drag_) break;
            const Drag drag = *drag_;
            drag_.reset();
            rubberBand_->hide();
            viewport->unsetCursor();
            if (!drag.pan && std::abs(drag.lastX - drag.startX) >= kDragThreshold) {
                range_.ZoomTo(ValueAt(*drag.plot, QPoint(drag.startX, 0)),
                              ValueAt(*drag.plot, QPoint(drag.lastX, 0)));
                ApplyRange();
            }
            return true;
        }
        case QEvent::MouseButtonDblClick:
            range_.Reset();
            ApplyRange();
            return true;
        case QEvent::Wheel: {
            const auto* wheel = static_cast<QWheelEvent*>(event);
            const double steps = wheel->angleDelta().y() / 120.0;
            if (steps == 0.0) break;
            range_.ZoomAround(ValueAt(*plot, wheel->position().toPoint()),
                              std::pow(kWheelZoomPerStep, steps));
            ApplyRange();
            return true;
        }
        case QEvent::Leave:
            if (drag_) break;
            cursor_.reset();
            readOut_->setText(Text(StatusLine(*model_)));
            for (Plot& p : plots_) DrawCursor(p);
            top_->SetCursor(std::nullopt, std::nullopt);
            side_->SetCursor(std::nullopt, std::nullopt);
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

Result ProfileWindow::SavePicture(const QString& path) {
    const auto cannot = [](const QString& reason) {
        return Failure(Status::IoError, reason.toStdString());
    };
    content_->layout()->activate();  // a model set just now is laid out before it is drawn
    Redraw();
    if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        QBuffer buffer;
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(content_->size());
        svg.setViewBox(QRect(QPoint(0, 0), content_->size()));
        // Text sizes as on the screen, in the drawing's own units.
        svg.setResolution(content_->logicalDpiX());
        svg.setTitle(QString::fromLatin1(kProfileWindowTitle));
        svg.setDescription(caption_->text());
        QPainter painter;
        if (!painter.begin(&svg)) return cannot(QStringLiteral("the drawing cannot be started"));
        painter.setFont(content_->font());
        content_->render(&painter);
        if (!painter.end()) return cannot(QStringLiteral("the drawing cannot be finished"));
        QString text = QString::fromUtf8(buffer.data());
        // Text in a named sans family with the usual fallbacks, never a
        // family no system has; the drawing about as wide as a landscape page.
        const QString family = QStringLiteral("font-family=\"%1, Helvetica, Arial, sans-serif\"")
                                   .arg(QString::fromLatin1(kFontFamily));
        text.replace(QRegularExpression(QStringLiteral("font-family=\"[^\"]*\"")), family);
        constexpr double kWidthMillimetres = 280.0;
        const double height = kWidthMillimetres * content_->height() / content_->width();
        text.replace(QRegularExpression(QStringLiteral("<svg width=\"[0-9.]+mm\" height=\"[0-9.]+mm\"")),
                     QStringLiteral("<svg width=\"%1mm\" height=\"%2mm\"")
                         .arg(kWidthMillimetres, 0, 'f', 1)
                         .arg(height, 0, 'f', 1));
        return WriteWhole(path, text.toUtf8());
    }
    constexpr qreal kScale = 2.0;  // sharp when zoomed or printed
    QImage image(content_->size() * kScale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kScale);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    content_->render(&painter);
    painter.end();
    QBuffer png;
    if (!png.open(QIODevice::WriteOnly) || !image.save(&png, "PNG")) {
        return cannot(QStringLiteral("the image cannot be encoded as PNG"));
    }
    return WriteWhole(path, png.data());
}

Result ProfileWindow::SaveCsv(Which which, const QString& path) {
    const RideProfile* profile = ProfileOf(*model_, which);
    if (profile == nullptr) {
        return Failure(Status::UnusableTrack, "there is no profile of this track to save");
    }
    std::ostringstream out;
    WriteProfileCsv(*profile, out);
    const std::string text = out.str();
    return WriteWhole(path, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

void ProfileWindow::Export(const QString& kind) {
    const bool picture = kind == QStringLiteral("picture");
    const Which which = kind == QStringLiteral("rebuilt") ? Which::Rebuilt : Which::Loaded;
    const std::string suffix = picture ? "-profile" : which == Which::Rebuilt ? "-hl-profile" : "-profile";
    QFileDialog dialog(this, picture ? QStringLiteral("Save picture") : QStringLiteral("Save CSV"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(picture ? QStringList{QStringLiteral("PNG image (*.png)"),
                                                QStringLiteral("SVG drawing (*.svg)")}
                                  : QStringList{QStringLiteral("CSV table (*.csv)")});
    dialog.setDefaultSuffix(picture ? QStringLiteral("png") : QStringLiteral("csv"));
    const std::string initial = ExportPath(model_->trackPath, suffix, picture ? "png" : "csv");
    const QString initialPath = Text(initial);
    if (initialPath.contains(QLatin1Char('/'))) {
        dialog.setDirectory(initialPath.section(QLatin1Char('/'), 0, -2));
    }
    dialog.selectFile(initialPath.section(QLatin1Char('/'), -1));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.startsWith(QStringLiteral("SVG")) ? QStringLiteral("svg")
                                                                         : QStringLiteral("png"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString path = dialog.selectedFiles().constFirst();
    const Result saved = picture ? SavePicture(path) : SaveCsv(which, path);
    if (!saved) {
        QMessageBox::warning(this, QString::fromLatin1(kProfileWindowTitle),
                             QStringLiteral("The file could not be saved as %1.\n%2")
                                 .arg(path, QString::fromStdString(saved.message)));
    }
}

// ---- Hookup ------------------------------------------------------------------------

RideProfileHookup::RideProfileHookup(QWidget& mainWindow, const WindowLogic& logic,
                                     FieldTextFn fieldText)
    : QObject(&mainWindow), main_(mainWindow), logic_(logic), fieldText_(std::move(fieldText)) {
    setObjectName(QStringLiteral("RideProfileHookup"));
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_G), &mainWindow);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, &RideProfileHookup::Open);
    watcher_ = new QFutureWatcher<Result>(this);
    connect(watcher_, &QFutureWatcher<Result>::finished, this, &RideProfileHookup::Finished);
}

void RideProfileHookup::Refresh(bool afterRun) {
    // The tracks and the settings as they are now: a later edit of a field
    // does not change what this load or run showed.
    ProfileRequest request;
    if (logic_.TrackLoaded()) request.loaded = ProfileCopy(logic_.LoadedTrack());
    if (logic_.TrackModified()) request.rebuilt = ProfileCopy(logic_.WorkTrack());
    request.afterRun = afterRun;
    request.afterFailedRun = afterRun && request.loaded && !request.rebuilt;
    request.trackPath = logic_.TrackFileName();
    request.when = QDateTime::currentDateTime()
                       .toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                       .toStdString();
    const auto integer = [this](Field field) {
        return RoundToInt16(ReadNumber(fieldText_(field))).value_or(int16_t{0});
    };
    HeartlineSettings& settings = request.settings;
    settings.segments = integer(Field::Segments);
    settings.precision = integer(Field::Precision);
    settings.filter = integer(Field::Filter);
    settings.heartline = ReadNumber(fieldText_(Field::Heartline));
    settings.startspeed = ReadNumber(fieldText_(Field::StartSpeed));
    settings.endspeed = ReadNumber(fieldText_(Field::EndSpeed));
    settings.smooth = logic_.SmoothRide();
    request_ = std::move(request);
    ++requestGeneration_;
    requestLoad_ = logic_.Loads();
    // With the window open the profile is worked out in the background and
    // Refreshed follows when it is shown (the window neither raised nor given
    // the focus, so the panel's message stays in view); otherwise
    // CurrentModel works it out when someone asks.
    if (window_ != nullptr && window_->isVisible()) {
        Start();
    } else {
        emit Refreshed();
    }
}

void RideProfileHookup::Show(ProfileModel model) {
    // The run's thread worked out what the newest request asks for.
    ++requestGeneration_;
    model_ = std::make_shared<const ProfileModel>(std::move(model));
    modelGeneration_ = requestGeneration_;
    modelLoad_ = requestLoad_ = logic_.Loads();  // no load comes while a run works
    windowStale_ = true;
    // As after a Refresh: an open window follows without raising itself.
    if (window_ != nullptr && window_->isVisible()) Update();
    emit Refreshed();
}

// Brings the window up to date: at once with a model worked out already, else
// in the background.
void RideProfileHookup::Update() {
    if (modelGeneration_ != requestGeneration_) {
        Start();
    } else if (windowStale_) {
        window_->SetModel(model_);
        windowStale_ = false;
    }
}

const ProfileModel& RideProfileHookup::CurrentModel() {
    if (modelGeneration_ != requestGeneration_) {
        model_ = std::make_shared<const ProfileModel>(BuildProfileModel(request_));
        modelGeneration_ = requestGeneration_;
        modelLoad_ = requestLoad_;
        windowStale_ = true;
    }
    return *model_;
}

void RideProfileHookup::SetCursor(double distance) {
    if (window_ != nullptr && window_->isVisible()) window_->SetCursorDistance(distance);
}

void RideProfileHookup::Open() {
    if (window_ == nullptr) {
        window_ = new ProfileWindow(&main_);
        connect(window_, &ProfileWindow::CursorMoved, this, &RideProfileHookup::CursorMoved);
        connect(window_, &ProfileWindow::Open3dRequested, this, &RideProfileHookup::Open3dRequested);
        windowStale_ = true;
    }
    Update();
    if (!window_->isVisible()) PlaceBesidePanel();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void RideProfileHookup::PlaceBesidePanel() {
    const QScreen* screen = main_.screen();
    if (screen == nullptr) return;
    const auto rect = [](const QRect& r) {
        return ScreenRect{r.left(), r.top(), r.width(), r.height()};
    };
    // The frame the window manager adds: as the window has it once shown, else a usual one.
    QMargins frame = kUsualFrame;
    if (window_->isVisible() || window_->testAttribute(Qt::WA_WState_Created)) {
        const QRect outer = window_->frameGeometry();
        const QRect inner = window_->geometry();
        if (outer != inner) {
            frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                             outer.right() - inner.right(), outer.bottom() - inner.bottom());
        }
    }
    const QSize extra(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize minimum = window_->minimumSizeHint().expandedTo(window_->minimumSize()) + extra;
    const QSize preferred = kProfilePreferredSize + extra;
    const ScreenRect place = PlaceBeside(rect(main_.frameGeometry()), rect(screen->availableGeometry()),
                                         {preferred.width(), preferred.height()},
                                         {minimum.width(), minimum.height()});
    window_->resize(QSize(place.width, place.height) - extra);
    window_->move(place.left, place.top);
}

bool RideProfileHookup::Working() const {
    return working_;
}

std::shared_ptr<const ProfileModel> RideProfileHookup::ModelOfThisLoad() const {
    if (modelLoad_ != logic_.Loads() || !model_->loaded) return nullptr;
    return model_;
}

// Works the newest request out on the thread pool; one that comes while
// another is worked out waits for it and then starts afresh.
void RideProfileHookup::Start() {
    if (watcher_->isRunning()) {
        again_ = true;
        return;
    }
    again_ = false;
    working_ = true;
    if (window_ != nullptr) window_->SetWorking();
    // The two tracks side by side, on two threads of the pool.
    watcher_->setFuture(QtConcurrent::run([request = request_, generation = requestGeneration_,
                                           load = requestLoad_]() {
        QFuture<TrackProfile> rebuilt;
        if (request.rebuilt) {
            rebuilt = QtConcurrent::run([&request] {
                return ProfileTrack(*request.rebuilt, ProfileSettingsFor(request, Which::Rebuilt));
            });
        }
        std::optional<TrackProfile> loaded;
        if (request.loaded) {
            loaded = ProfileTrack(*request.loaded, ProfileSettingsFor(request, Which::Loaded));
        }
        return Result{generation, load, AssembleProfileModel(request, std::move(loaded),
                                                       request.rebuilt
                                                           ? std::optional(rebuilt.takeResult())
                                                           : std::nullopt)};
    }));
}

void RideProfileHookup::Finished() {
    Result result = watcher_->future().takeResult();
    // CurrentModel may have worked a newer request out in the meantime.
    if (result.generation > modelGeneration_) {
        model_ = std::make_shared<const ProfileModel>(std::move(result.model));
        modelGeneration_ = result.generation;
        modelLoad_ = result.load;
        windowStale_ = true;
    }
    if (again_ && modelGeneration_ != requestGeneration_) {
        Start();
        return;
    }
    working_ = false;
    if (window_ != nullptr && windowStale_) {
        window_->SetModel(model_);
        windowStale_ = false;
    }
    emit Refreshed();
}

RideProfileHookup* AttachRideProfile(QWidget& mainWindow, const WindowLogic& logic,
                                     RideProfileHookup::FieldTextFn fieldText) {
    return new RideProfileHookup(mainWindow, logic, std::move(fieldText));
}

void RefreshRideProfile(QWidget& mainWindow, bool afterRun) {
    if (auto* hookup = mainWindow.findChild<RideProfileHookup*>(QString(), Qt::FindDirectChildrenOnly)) {
        hookup->Refresh(afterRun);
    }
}

std::shared_ptr<const ProfileModel> RideProfileOfThisLoad(QWidget& mainWindow) {
    const auto* hookup = mainWindow.findChild<RideProfileHookup*>(QString(), Qt::FindDirectChildrenOnly);
    return hookup != nullptr ? hookup->ModelOfThisLoad() : nullptr;
}

void ShowRideProfile(QWidget& mainWindow, ProfileModel model) {
    if (auto* hookup = mainWindow.findChild<RideProfileHookup*>(QString(), Qt::FindDirectChildrenOnly)) {
        hookup->Show(std::move(model));
    }
}

}  // namespace cvqrn::ui
