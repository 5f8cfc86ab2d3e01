// The "Ride profile" window: speed, vertical g and lateral g along the heart
// path of the loaded track (heart on the rail) and of the rebuilt track
// (heart at the heartline distance), the summary figures, a top and a side
// view of the heart paths and the new rail, and where the train stopped
// after a valleyed run. It follows the main window's loads and runs.
#pragma once

#include <QLabel>
#include <QMargins>
#include <QSize>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "frontend/profile_model.h"
#include "frontend/window_logic.h"

class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
class QPushButton;

namespace cvqrn::ui {

inline constexpr const char* kProfileWindowTitle = "Ride profile";
// The profile window's size where the screen has room for it, without its frame.
inline constexpr QSize kProfilePreferredSize(1240, 780);
// The frame a window manager adds, until the window shows its own.
inline constexpr QMargins kUsualFrame(4, 32, 4, 4);

// A top view (x across, z down the page) or a side view (height along the
// track) of the heart paths and the new rail, drawn as vectors.
class TrackView : public QWidget {
    Q_OBJECT
  public:
    enum class Kind { Top, Side };
    TrackView(Kind kind, QWidget* parent);
    void SetModel(const ProfileModel* model);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Kind kind_;
    const ProfileModel* model_ = nullptr;
};

class ProfileWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ProfileWindow(QWidget* parent = nullptr);

    // Shows `model` (the window keeps its own copy).
    void SetModel(ProfileModel model);
    const ProfileModel& Model() const { return model_; }

    // The hover read-out for a distance, as if the pointer were over it.
    void HoverAt(double distance);
    QString ReadOutText() const { return readOut_->text(); }

  signals:
    // The plots' cursor moved to `distance` (the 3D view follows it).
    void CursorMoved(double distance);
    // The "3D view" button or Ctrl+3.
    void Open3dRequested();

  public:
    // Writes the window's content as a PNG (twice the screen's pixels) or, for
    // a name ending in ".svg", as an SVG drawing. IoError with the system's
    // reason when it cannot be written.
    Result SavePicture(const QString& path);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Plot {
        QChartView* view = nullptr;
        QChart* chart = nullptr;
        QValueAxis* x = nullptr;
        QValueAxis* y = nullptr;
        QLineSeries* cursor = nullptr;
        QLineSeries* valley = nullptr;
        double ProfileSample::*field = nullptr;
    };

    void BuildPlot(Plot& plot, const char* title, const char* unit, double ProfileSample::*field);
    void FillPlot(Plot& plot);
    void SaveClicked();

    ProfileModel model_;
    std::array<Plot, 3> plots_;
    QWidget* content_ = nullptr;
    QLabel* legend_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* readOut_ = nullptr;
    TrackView* top_ = nullptr;
    TrackView* side_ = nullptr;
    QPushButton* save_ = nullptr;
};

// Ties the profile window to a main window: Ctrl+G, Open for the window's
// control (kProfilePlace), and an update after every load and run. Child of
// the main window.
class RideProfileHookup : public QObject {
    Q_OBJECT
  public:
    using FieldTextFn = std::function<std::string(Field)>;
    RideProfileHookup(QWidget& mainWindow, const WindowLogic& logic, FieldTextFn fieldText);

    // After a load (afterRun false) or a heartline run. An open window is
    // brought up to date where it is, neither raised nor given the focus.
    void Refresh(bool afterRun);
    // Opens (or raises and activates) the profile window, up to date. A
    // closed window opens beside the panel, within the screen's available area.
    void Open();
    // After a run: takes `model`, which the run's thread worked out as
    // Refresh(true) would have, and shows it as Refresh does.
    void Show(ProfileModel model);
    ProfileWindow* Window() const { return window_; }

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

    QWidget& main_;
    const WindowLogic& logic_;
    FieldTextFn fieldText_;
    ProfileRequest request_;
    bool stale_ = true;
    ProfileModel model_;
    bool windowStale_ = true;  // the window shows an older model than model_
    ProfileWindow* window_ = nullptr;  // made on first use, a child of the main window
};

// The hookup's two entries for the main window.
RideProfileHookup* AttachRideProfile(QWidget& mainWindow, const WindowLogic& logic,
                                     RideProfileHookup::FieldTextFn fieldText);
void RefreshRideProfile(QWidget& mainWindow, bool afterRun);
// After a run: shows `model`, worked out on the run's thread, as RideProfileHookup::Show.
void ShowRideProfile(QWidget& mainWindow, ProfileModel model);

}  // namespace cvqrn::ui
