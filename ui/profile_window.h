// The "Ride profile" window: speed, the vertical, lateral and longitudinal
// forces and the roll along the heart path of the loaded track (heart on the
// rail) and of the rebuilt track (heart at the heartline distance), felt or
// raw, against distance or time; the comfort limits and the stretches beyond
// them; the summary figures; a top and a side view of the heart paths and
// the new rail; and where the train stopped after a valleyed run. One x range
// and one cursor run through every plot. It follows the main window's loads
// and runs, working the profile out on another thread.
#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QImage>
#include <QLabel>
#include <QMargins>
#include <QPixmap>
#include <QSize>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frontend/profile_model.h"
#include "frontend/window_logic.h"

class QAbstractButton;
class QAreaSeries;
class QChart;
class QChartView;
class QLineSeries;
class QListWidget;
class QListWidgetItem;
class QRubberBand;
class QScatterSeries;
class QTableWidget;
class QToolButton;
class QValueAxis;

namespace cvqrn::ui {

inline constexpr const char* kProfileWindowTitle = "Ride profile";
// The profile window's size where the screen has room for it, without its frame.
inline constexpr QSize kProfilePreferredSize(1320, 940);
// The frame a window manager adds, until the window shows its own.
inline constexpr QMargins kUsualFrame(4, 32, 4, 4);

// A top view (x across, z down the page) or a side view (height along the
// track) of the heart paths and the new rail, with a scale bar, the start,
// the direction of travel and a dot where the cursor stands.
class TrackView : public QWidget {
    Q_OBJECT
  public:
    enum class Kind { Top, Side };
    TrackView(Kind kind, QWidget* parent);
    // Shows `model`; its paths are drawn on another thread meanwhile, for
    // the view's size as it is now.
    void SetModel(std::shared_ptr<const ProfileModel> model);
    // The samples the cursor stands on (none: no dot).
    void SetCursor(std::optional<size_t> loaded, std::optional<size_t> rebuilt);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // From track coordinates to the widget: x * sx + ox, y * sy + oy.
    struct Fit {
        double sx = 1.0, sy = 1.0, ox = 0.0, oy = 0.0;
    };
    // The paths fitted into and drawn for one size and pixel ratio.
    struct Picture {
        Fit fit;
        QImage paths;
        QSize size;
        qreal ratio = 1.0;
    };
    // Neither reads the widget: they run on any thread.
    static Picture DrawPicture(Kind kind, const ProfileModel& model, QSize size, qreal ratio);
    static void DrawPaths(QPainter& painter, Kind kind, const ProfileModel& model, const Fit& fit);
    static QPointF Place(Kind kind, const Fit& fit, const ProfileSample& s, const ProfilePoint& p);
    QPointF Place(const ProfileSample& s, const ProfilePoint& p) const {
        return Place(kind_, fit_, s, p);
    }
    void Layout();
    void DrawScale(QPainter& painter) const;
    void DrawStart(QPainter& painter) const;

    Kind kind_;
    std::shared_ptr<const ProfileModel> model_;
    std::optional<size_t> cursor_[2];
    Fit fit_;
    bool laidOut_ = false;
    QImage paths_;                             // the paths as drawn for the current size
    std::optional<QFuture<Picture>> drawing_;  // the paths of the model, on another thread
};

class ProfileWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ProfileWindow(QWidget* parent = nullptr);

    // Shows `model`, the whole ride, no cursor.
    void SetModel(ProfileModel model);
    void SetModel(std::shared_ptr<const ProfileModel> model);
    const ProfileModel& Model() const { return *model_; }
    // While a new profile is worked out, the status line says so.
    void SetWorking();

    void SetForceView(ForceView view);
    void SetXAxis(XAxis axis);
    ForceView View() const { return view_; }
    XAxis Axis() const { return axis_; }
    const XRange& Zoom() const { return range_; }

    // The hover read-out and the cursor at `x` on the x axis, as if the
    // pointer were over it; CursorMoved tells the 3D view.
    void HoverAt(double x);
    QString ReadOutText() const { return readOut_->text(); }
    // Moves the cursor to `distance` metres along a track and centres the
    // plots on it, as a click on a summary figure or an exceedance does.
    void GoTo(Which which, double distance);

    // The plots, left to right the same pixel columns in every one.
    std::vector<QChartView*> PlotViews() const;
    QListWidget* ExceedanceList() const { return exceedances_; }
    QTableWidget* SummaryTable() const { return summary_; }

    // Writes the window's content, caption included, as a PNG (twice the
    // screen's pixels) or, for a name ending in ".svg", as an SVG drawing.
    // IoError with the system's reason when it cannot be written.
    Result SavePicture(const QString& path);
    // Writes the profile of one track as CSV, the columns of `cv-qrn-cli
    // profile --csv`. A failure with its reason when there is none or it
    // cannot be written.
    Result SaveCsv(Which which, const QString& path);
    // The cursor to `distance` metres along the track the 3D view shows (the
    // rebuilt one after a run), on either x axis; no CursorMoved.
    void SetCursorDistance(double distance);

  signals:
    // The plots' cursor moved to `distance` metres along the track the 3D
    // view shows (the 3D view follows it).
    void CursorMoved(double distance);
    // The "3D view" button or Ctrl+3.
    void Open3dRequested();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Plot {
        Quantity quantity = Quantity::Speed;
        bool motion = false;  // roll on the left scale, roll rate on the right
        QLabel* title = nullptr;
        QChartView* view = nullptr;
        QChart* chart = nullptr;
        QValueAxis* x = nullptr;
        QValueAxis* y = nullptr;
        QValueAxis* rate = nullptr;  // the motion plot's right scale
        // Per track (and, in the motion plot, for the rate), a line per
        // unbroken stretch; more are added when a profile has more breaks.
        std::array<std::vector<QLineSeries*>, 4> lines;
        std::vector<QAreaSeries*> bands;  // the comfort limits
        QScatterSeries* above = nullptr;  // marks where a value runs off the scale
        QScatterSeries* below = nullptr;
        QLineSeries* valley = nullptr;
        QLineSeries* cursor = nullptr;
    };

    void BuildPlot(Plot& plot, Quantity quantity, bool motion);
    void ShowCursor(double x);
    void LayOutPlot(Plot& plot);
    void FillBands(Plot& plot);
    void DrawSeries(Plot& plot);
    void DrawCursor(Plot& plot);
    // The value range and ticks `plot` shows for `quantity` at its height.
    LabelledRange ShownY(const Plot& plot, Quantity quantity) const;
    void ScaleY(Plot& plot);
    void ApplyRange();
    void Redraw();
    void ShowTexts();
    double ValueAt(const Plot& plot, const QPoint& viewportPos) const;
    Plot* PlotOf(QObject* viewport);
    void Export(const QString& kind);

    // Shared with the hookup: a model of two long tracks is megabytes.
    std::shared_ptr<const ProfileModel> model_ = std::make_shared<const ProfileModel>();
    ForceView view_ = ForceView::Felt;
    XAxis axis_ = XAxis::Distance;
    XRange range_;
    std::optional<double> cursor_;
    std::array<Plot, 5> plots_;
    // A drag across a plot: zoom (plain) or pan (with Shift).
    struct Drag {
        Plot* plot = nullptr;
        int startX = 0;
        int lastX = 0;
        bool pan = false;
    };
    std::optional<Drag> drag_;
    QRubberBand* rubberBand_ = nullptr;

    QWidget* content_ = nullptr;
    QLabel* caption_ = nullptr;
    QLabel* legend_ = nullptr;
    QLabel* xTitle_ = nullptr;  // the x axis's title, under the last plot
    QLabel* hint_ = nullptr;
    QTableWidget* summary_ = nullptr;
    QListWidget* exceedances_ = nullptr;
    QLabel* comfortNote_ = nullptr;
    QLabel* readOut_ = nullptr;
    TrackView* top_ = nullptr;
    TrackView* side_ = nullptr;
    QAbstractButton* felt_ = nullptr;
    QAbstractButton* raw_ = nullptr;
    QAbstractButton* distance_ = nullptr;
    QAbstractButton* time_ = nullptr;
    QToolButton* export_ = nullptr;
};

// Ties the profile window to a main window: Ctrl+G, Open for the window's
// control (kProfilePlace), and an update after every load and run, worked
// out on another thread. Child of the main window.
class RideProfileHookup : public QObject {
    Q_OBJECT
  public:
    using FieldTextFn = std::function<std::string(Field)>;
    RideProfileHookup(QWidget& mainWindow, const WindowLogic& logic, FieldTextFn fieldText);

    // After a load (afterRun false) or a heartline run. An open window is
    // brought up to date where it is, neither raised nor given the focus.
    void Refresh(bool afterRun);
    // Opens (or raises and activates) the profile window; a profile not yet
    // worked out follows when it is. A closed window opens beside the panel,
    // within the screen's available area.
    void Open();
    // After a run: takes `model`, which the run's thread worked out as
    // Refresh(true) would have, and shows it as Refresh does.
    void Show(ProfileModel model);
    ProfileWindow* Window() const { return window_; }
    // A profile is being worked out.
    bool Working() const;
    // The model shown or to be shown, when it was made for the track loaded
    // now (its loaded profile then serves a run on that track at the same
    // speeds); null otherwise.
    std::shared_ptr<const ProfileModel> ModelOfThisLoad() const;

    // The model of the last load or run, made now when it is out of date.
    const ProfileModel& CurrentModel();
    // Moves the profile window's cursor, when it is open.
    void SetCursor(double distance);

  signals:
    void Refreshed();  // after every load and run
    void CursorMoved(double distance);
    void Open3dRequested();

  private:
    void Update();
    void PlaceBesidePanel();
    void Start();
    void Finished();

    QWidget& main_;
    const WindowLogic& logic_;
    FieldTextFn fieldText_;
    ProfileRequest request_;
    // The model of the newest request worked out so far, and which requests
    // they are: each load or run counts one up.
    std::shared_ptr<const ProfileModel> model_ = std::make_shared<const ProfileModel>();
    int modelGeneration_ = 0;
    int requestGeneration_ = 0;
    // The load (WindowLogic::Loads) the newest request and model_ were made after.
    int requestLoad_ = 0;
    int modelLoad_ = -1;
    bool windowStale_ = true;  // the window shows an older model than model_
    bool working_ = false;     // from Start until the model is shown
    bool again_ = false;       // another request came while one was worked out
    struct Result {
        int generation;
        int load;
        ProfileModel model;
    };
    QFutureWatcher<Result>* watcher_ = nullptr;
    ProfileWindow* window_ = nullptr;  // made on first use, a child of the main window
};

// The hookup's two entries for the main window.
RideProfileHookup* AttachRideProfile(QWidget& mainWindow, const WindowLogic& logic,
                                     RideProfileHookup::FieldTextFn fieldText);
void RefreshRideProfile(QWidget& mainWindow, bool afterRun);
// After a run: shows `model`, worked out on the run's thread, as RideProfileHookup::Show.
void ShowRideProfile(QWidget& mainWindow, ProfileModel model);
// RideProfileHookup::ModelOfThisLoad; null without a hookup.
std::shared_ptr<const ProfileModel> RideProfileOfThisLoad(QWidget& mainWindow);

}  // namespace cvqrn::ui
