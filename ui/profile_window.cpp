#include "ui/profile_window.h"

#include <QChart>
#include <QChartView>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QImageWriter>
#include <QLayout>
#include <QLineSeries>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSvgGenerator>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "frontend/number_text.h"
#include "frontend/window_placement.h"

namespace cvqrn::ui {

namespace {

const QColor kLoadedColour(31, 119, 180);    // blue
const QColor kRebuiltColour(217, 95, 2);     // orange
const QColor kRailColour(120, 60, 10);       // darker orange, the new rail
const QColor kValleyColour(200, 20, 30);     // where the train stops
const QColor kCursorColour(90, 90, 90);

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

QPen Pen(const QColor& colour, double width, Qt::PenStyle style = Qt::SolidLine) {
    QPen pen(colour, width, style, Qt::RoundCap, Qt::RoundJoin);
    pen.setCosmetic(true);
    return pen;
}

QString Escaped(const std::string& s) {
    return Text(s).toHtmlEscaped();
}

// The runs of consecutive samples where `field` has a value.
std::vector<QList<QPointF>> Runs(const RideProfile& p, double ProfileSample::*field) {
    std::vector<QList<QPointF>> runs(1);
    for (const ProfileSample& s : p.samples) {
        const double v = s.*field;
        if (std::isfinite(v)) {
            runs.back().append(QPointF(s.distance, v));
        } else if (!runs.back().isEmpty()) {
            runs.emplace_back();
        }
    }
    if (runs.back().isEmpty()) runs.pop_back();
    return runs;
}

// 1, 2 or 5 times a power of ten, at least `rough`.
double NiceStep(double rough) {
    const double power = std::pow(10.0, std::floor(std::log10(std::max(rough, 1e-9))));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * power >= rough) return m * power;
    }
    return 10.0 * power;
}

QString Swatch(const QColor& colour, const QString& text, const char* line = "&#9644;") {
    return QStringLiteral("<span style='color:%1'>%2</span>&nbsp;%3")
        .arg(colour.name(), QString::fromLatin1(line), text.toHtmlEscaped());
}

}  // namespace

// ---- Track views ---------------------------------------------------------------

TrackView::TrackView(Kind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
    setMinimumSize(240, kind == Kind::Top ? 160 : 100);
}

void TrackView::SetModel(const ProfileModel* model) {
    model_ = model;
    update();
}

void TrackView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(Pen(QColor(200, 200, 200), 1.0));
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    painter.setPen(Qt::black);
    const QString caption =
        kind_ == Kind::Top ? QStringLiteral("Top view") : QStringLiteral("Side view: height along the track");
    painter.drawText(QRectF(rect()).adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop, caption);
    if (model_ == nullptr || !model_->loaded || !*model_->loaded) return;

    const bool top = kind_ == Kind::Top;
    const auto point = [top](const ProfileSample& s, const ProfilePoint& p) {
        return top ? QPointF(p.x, p.z) : QPointF(s.distance, p.y);
    };
    struct Line {
        QPolygonF points;
        QPen pen;
    };
    std::vector<Line> lines;
    const auto add = [&](const RideProfile& p, bool rail, const QPen& pen) {
        Line line{{}, pen};
        for (const ProfileSample& s : p.samples) line.points << point(s, rail ? s.rail : s.heart);
        lines.push_back(line);
    };
    add(*model_->loaded, false, Pen(kLoadedColour, 1.8));
    if (model_->rebuilt && *model_->rebuilt) {
        add(*model_->rebuilt, true, Pen(kRailColour, 1.0, Qt::DashLine));
        add(*model_->rebuilt, false, Pen(kRebuiltColour, 1.3));
    }
    QRectF bounds = lines.front().points.boundingRect();
    for (const Line& line : lines) bounds |= line.points.boundingRect();
    std::optional<QPointF> valley;
    if (model_->valley) {
        valley = top ? QPointF(model_->valley->x, model_->valley->z)
                     : QPointF(model_->valley->distance, model_->valley->y);
        bounds |= QRectF(*valley, QSizeF(0, 0));
    }

    const QRectF area = QRectF(rect()).adjusted(12, 22, -12, -12);
    double sx = area.width() / std::max(bounds.width(), 1e-6);
    double sy = area.height() / std::max(bounds.height(), 1e-6);
    if (top) sx = sy = std::min(sx, sy);  // true shape from above
    const double ox = area.center().x() - bounds.center().x() * sx;
    // Side view: height grows up the page; top view: z grows down the page.
    const double oy = top ? area.center().y() - bounds.center().y() * sy
                          : area.center().y() + bounds.center().y() * sy;
    const auto map = [&](const QPointF& p) {
        return QPointF(ox + p.x() * sx, top ? oy + p.y() * sy : oy - p.y() * sy);
    };
    for (const Line& line : lines) {
        QPainterPath path;
        for (int i = 0; i < line.points.size(); ++i) {
            if (i == 0) {
                path.moveTo(map(line.points[i]));
            } else {
                path.lineTo(map(line.points[i]));
            }
        }
        painter.setPen(line.pen);
        painter.drawPath(path);
    }
    if (valley) {
        painter.setPen(Pen(kValleyColour, 2.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(map(*valley), 5.0, 5.0);
    }
}

// ---- The window -----------------------------------------------------------------

ProfileWindow::ProfileWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QString::fromLatin1(kProfileWindowTitle));
    setObjectName(QStringLiteral("RideProfile"));
    auto* outer = new QVBoxLayout(this);
    content_ = new QWidget(this);
    content_->setAutoFillBackground(true);
    QPalette palette = content_->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    content_->setPalette(palette);
    outer->addWidget(content_, 1);

    auto* grid = new QGridLayout(content_);
    auto* plotsColumn = new QVBoxLayout;
    legend_ = new QLabel(content_);
    legend_->setTextFormat(Qt::RichText);
    legend_->setWordWrap(true);  // a long text wraps rather than widen the window past the screen
    plotsColumn->addWidget(legend_);
    BuildPlot(plots_[0], "Speed", "m/s", &ProfileSample::speed);
    BuildPlot(plots_[1], "Vertical", "g", &ProfileSample::vertical);
    BuildPlot(plots_[2], "Lateral (positive to the left)", "g", &ProfileSample::lateral);
    for (Plot& plot : plots_) plotsColumn->addWidget(plot.view, 1);
    grid->addLayout(plotsColumn, 0, 0);

    auto* side = new QVBoxLayout;
    summary_ = new QLabel(content_);
    summary_->setTextFormat(Qt::RichText);
    summary_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    side->addWidget(summary_);
    top_ = new TrackView(TrackView::Kind::Top, content_);
    side_ = new TrackView(TrackView::Kind::Side, content_);
    side->addWidget(top_, 3);
    side->addWidget(side_, 2);
    grid->addLayout(side, 0, 1);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);

    readOut_ = new QLabel(content_);
    readOut_->setObjectName(QStringLiteral("ReadOut"));
    readOut_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    readOut_->setWordWrap(true);
    grid->addWidget(readOut_, 1, 0, 1, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* view3d = new QPushButton(QStringLiteral("3D view"), this);
    view3d->setToolTip(QStringLiteral("The track in 3D, coloured by the felt forces (Ctrl+3)"));
    connect(view3d, &QPushButton::clicked, this, &ProfileWindow::Open3dRequested);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_3), this), &QShortcut::activated, this,
            &ProfileWindow::Open3dRequested);
    buttons->addWidget(view3d);
    save_ = new QPushButton(QStringLiteral("Save picture\u2026"), this);
    connect(save_, &QPushButton::clicked, this, &ProfileWindow::SaveClicked);
    buttons->addWidget(save_);
    outer->addLayout(buttons);

    resize(kProfilePreferredSize);
    SetModel({});
}

void ProfileWindow::BuildPlot(Plot& plot, const char* title, const char* unit,
                              double ProfileSample::*field) {
    plot.field = field;
    plot.chart = new QChart;
    plot.chart->setTitle(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(title),
                                                        QString::fromLatin1(unit)));
    plot.chart->setBackgroundRoundness(0);
    plot.chart->setMargins(QMargins(4, 4, 4, 4));
    plot.chart->legend()->hide();  // one legend above the plots serves all three
    plot.x = new QValueAxis;
    plot.x->setTitleText(QStringLiteral("distance along the heart path (m)"));
    plot.x->setLabelFormat(QStringLiteral("%.0f"));
    plot.y = new QValueAxis;
    plot.y->setLabelFormat(QStringLiteral("%.1f"));
    plot.chart->addAxis(plot.x, Qt::AlignBottom);
    plot.chart->addAxis(plot.y, Qt::AlignLeft);
    plot.view = new QChartView(plot.chart, content_);
    plot.view->setRenderHint(QPainter::Antialiasing);
    plot.view->setMinimumHeight(130);
    plot.view->viewport()->setMouseTracking(true);
    plot.view->viewport()->installEventFilter(this);
}

void ProfileWindow::FillPlot(Plot& plot) {
    plot.chart->removeAllSeries();
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    double length = 1.0;
    const auto add = [&](const std::optional<RideProfile>& profile, const QColor& colour,
                         double width, const QString& name) {
        if (!profile || !*profile) return;
        length = std::max(length, profile->summary.length);
        for (const QList<QPointF>& run : Runs(*profile, plot.field)) {
            auto* series = new QLineSeries;
            series->setPen(Pen(colour, width));
            series->setName(name);
            series->replace(run);
            plot.chart->addSeries(series);
            series->attachAxis(plot.x);
            series->attachAxis(plot.y);
            for (const QPointF& p : run) {
                lo = std::min(lo, p.y());
                hi = std::max(hi, p.y());
            }
        }
    };
    add(model_.loaded, kLoadedColour, 2.4, QStringLiteral("loaded (heart on the rail)"));
    add(model_.rebuilt, kRebuiltColour, 1.3,
        QStringLiteral("rebuilt (%1, heart %2 m from the rail)")
            .arg(Text(RebuildName(model_.smooth)))
            .arg(model_.heartline, 0, 'f', 2));
    if (!(lo <= hi)) {
        lo = 0.0;
        hi = 1.0;
    }
    const double pad = std::max(0.05 * (hi - lo), 0.05);
    // The interval before the range, so that no range is ever drawn with the
    // ticks of another.
    plot.x->setTickType(QValueAxis::TicksDynamic);
    plot.x->setTickAnchor(0.0);
    plot.x->setTickInterval(NiceStep(length / 5.0));
    plot.x->setRange(0.0, length);
    plot.y->setRange(lo - pad, hi + pad);
    plot.y->applyNiceNumbers();

    const auto vertical = [&](const QColor& colour, Qt::PenStyle style, const QString& name) {
        auto* series = new QLineSeries;
        series->setPen(Pen(colour, 1.5, style));
        series->setName(name);
        plot.chart->addSeries(series);
        series->attachAxis(plot.x);
        series->attachAxis(plot.y);
        return series;
    };
    plot.valley = nullptr;
    if (model_.valley) {
        plot.valley = vertical(kValleyColour, Qt::DashLine, QStringLiteral("train stops"));
        plot.valley->replace({QPointF(model_.valley->distance, plot.y->min()),
                              QPointF(model_.valley->distance, plot.y->max())});
    }
    plot.cursor = vertical(kCursorColour, Qt::DotLine, QString());
}

void ProfileWindow::SetModel(ProfileModel model) {
    model_ = std::move(model);
    for (Plot& plot : plots_) FillPlot(plot);

    QString html = QStringLiteral(
        "<table cellspacing='0' cellpadding='2'><tr><th></th>"
        "<th align='left' style='color:%1'>loaded</th><th align='left' style='color:%2'>rebuilt</th></tr>")
                       .arg(kLoadedColour.name(), kRebuiltColour.name());
    for (const SummaryRow& row : SummaryRows(model_)) {
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                    .arg(Escaped(row.label), Escaped(row.loaded), Escaped(row.rebuilt));
    }
    html += QStringLiteral("</table><p style='color:#666'>In brackets: the track segment.</p>");
    summary_->setText(html);
    QString legend = Swatch(kLoadedColour, QStringLiteral("loaded track, heart on the rail"));
    if (model_.rebuilt) {
        legend += QStringLiteral("&nbsp;&nbsp;&nbsp;") +
                  Swatch(kRebuiltColour,
                         QStringLiteral("rebuilt track (%1), heart %2 m from the rail")
                             .arg(Text(RebuildName(model_.smooth)))
                             .arg(model_.heartline, 0, 'f', 2)) +
                  QStringLiteral("&nbsp;&nbsp;&nbsp;") +
                  Swatch(kRailColour, QStringLiteral("new rail (views)"), "- - -");
    }
    if (model_.valley) {
        legend += QStringLiteral("&nbsp;&nbsp;&nbsp;") +
                  Swatch(kValleyColour, QStringLiteral("where the train stops"), "&#9679;");
    }
    legend_->setText(legend);
    readOut_->setText(Text(StatusLine(model_)));
    top_->SetModel(&model_);
    side_->SetModel(&model_);
}

void ProfileWindow::HoverAt(double distance) {
    readOut_->setText(Text(ReadOut(model_, distance)));
    for (Plot& plot : plots_) {
        plot.cursor->replace({QPointF(distance, plot.y->min()), QPointF(distance, plot.y->max())});
    }
    emit CursorMoved(distance);
}

bool ProfileWindow::eventFilter(QObject* watched, QEvent* event) {
    for (Plot& plot : plots_) {
        if (watched != plot.view->viewport()) continue;
        if (event->type() == QEvent::MouseMove) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPointF inChart =
                plot.chart->mapFromScene(plot.view->mapToScene(mouse->position().toPoint()));
            if (plot.chart->plotArea().contains(inChart)) {
                HoverAt(plot.chart->mapToValue(inChart).x());
            }
        } else if (event->type() == QEvent::Leave) {
            readOut_->setText(Text(StatusLine(model_)));
            for (Plot& p : plots_) p.cursor->clear();
        }
    }
    return QWidget::eventFilter(watched, event);
}

Result ProfileWindow::SavePicture(const QString& path) {
    const auto cannot = [](const QString& reason) {
        return Failure(Status::IoError, reason.toStdString());
    };
    content_->layout()->activate();  // a model set just now is laid out before it is drawn
    if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return cannot(file.errorString());
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(content_->size());
        svg.setViewBox(QRect(QPoint(0, 0), content_->size()));
        svg.setTitle(QString::fromLatin1(kProfileWindowTitle));
        QPainter painter;
        if (!painter.begin(&svg)) return cannot(QStringLiteral("the drawing cannot be started"));
        content_->render(&painter);
        painter.end();
        file.close();
        if (file.error() != QFileDevice::NoError) return cannot(file.errorString());
        return {};
    }
    constexpr qreal kScale = 2.0;  // sharp when zoomed or printed
    QImage image(content_->size() * kScale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kScale);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    content_->render(&painter);
    painter.end();
    QImageWriter writer(path, "PNG");
    if (!writer.write(image)) return cannot(writer.errorString());
    return {};
}

void ProfileWindow::SaveClicked() {
    QString selected;
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save picture\u2026"), QStringLiteral("ride_profile.png"),
        QStringLiteral("PNG image (*.png);;SVG drawing (*.svg)"), &selected);
    if (path.isEmpty()) return;
    if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
        !path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        path += selected.startsWith(QStringLiteral("SVG")) ? QStringLiteral(".svg")
                                                            : QStringLiteral(".png");
    }
    if (const Result saved = SavePicture(path); !saved) {
        QMessageBox::warning(this, QString::fromLatin1(kProfileWindowTitle),
                             QStringLiteral("The picture could not be saved as %1.\n%2")
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
}

void RideProfileHookup::Refresh(bool afterRun) {
    // The tracks and the settings as they are now: a later edit of a field
    // does not change what this load or run showed.
    ProfileRequest request;
    if (logic_.TrackLoaded()) request.loaded = &logic_.LoadedTrack();
    if (logic_.TrackModified()) request.rebuilt = &logic_.WorkTrack();
    request.afterFailedRun = afterRun && request.loaded != nullptr && request.rebuilt == nullptr;
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
    request_ = request;
    stale_ = true;
    // An open window follows without raising itself or taking the focus, so
    // the panel's message stays in view.
    if (window_ != nullptr && window_->isVisible()) Update();
    emit Refreshed();
}

const ProfileModel& RideProfileHookup::CurrentModel() {
    if (stale_) {
        model_ = BuildProfileModel(request_);
        stale_ = false;
        windowStale_ = true;
    }
    return model_;
}

void RideProfileHookup::SetCursor(double distance) {
    if (window_ != nullptr && window_->isVisible()) window_->HoverAt(distance);
}

void RideProfileHookup::Update() {
    CurrentModel();
    if (!windowStale_) return;
    window_->SetModel(model_);
    windowStale_ = false;
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

void RideProfileHookup::Show(ProfileModel model) {
    model_ = std::move(model);
    stale_ = false;
    windowStale_ = true;
    // As after a Refresh: an open window follows without raising itself.
    if (window_ != nullptr && window_->isVisible()) Update();
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

void ShowRideProfile(QWidget& mainWindow, ProfileModel model) {
    if (auto* hookup = mainWindow.findChild<RideProfileHookup*>(QString(), Qt::FindDirectChildrenOnly)) {
        hookup->Show(std::move(model));
    }
}

}  // namespace cvqrn::ui
