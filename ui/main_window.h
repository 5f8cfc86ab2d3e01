// The program's one window: the skinned, shaped panel with the six parameter
// fields, the six end-analysis fields, the Load, Heartline and Save hot-spots,
// the message line, the status lights and the progress bar. It forwards the
// user's events to WindowLogic and shows what the logic tells it.
#pragma once

#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <array>
#include <memory>

#include "ui/qt_dialogs.h"
#include "ui/run_thread.h"
#include "ui/shaped_window.h"
#include "ui/widgets.h"
#include "frontend/window_logic.h"

namespace cvqrn::ui {

inline constexpr const char* kWindowTitle = "CV-QRN V1.1";

class MainWindow final : public ShapedWindow, private WindowView, private MessageTimer {
    Q_OBJECT
  public:
    // operations  load, save, analysis and generation (the core, or a double)
    // chooser     file chooser; null for Qt's file dialog
    // boxes       message boxes; null for Qt's message box
    explicit MainWindow(TrackOperations& operations, FileChooser* chooser = nullptr,
                        MessageBoxPresenter* boxes = nullptr);
    ~MainWindow() override;

    WindowLogic& Logic() { return *logic_; }
    TextField* FieldWidget(Field field) const { return fields_[static_cast<size_t>(field)]; }
    QLabel* MessageLabel() const { return message_; }
    StatusLight* LightWidget(Light light) const { return lights_[static_cast<size_t>(light)]; }
    ProgressTube* ProgressWidget() const { return progress_; }
    QTimer* MessageTimerObject() const { return timer_; }
    SkinSwitch* SmoothSwitch() const { return smooth_; }
    // Whether a heartline run is working on its thread.
    bool Running() const { return runThread_->Busy(); }

    // Loads `path` as Load Track would (a file from the command line, the
    // file manager or a drop), every view updated as after Load Track.
    void LoadFile(const QString& path);

    // The settings file where the window keeps its folders and position.
    static QSettings Settings();

  public slots:
    void LoadClicked();
    void HeartlineClicked();
    void SaveClicked();

  signals:
    // A heartline run has ended and the window shows its outcome.
    void runFinished();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // Restores the remembered folders and, when it lies on a present screen,
    // the window's position; RememberPlaces writes them back.
    void RestorePlaces();
    void RememberPlaces();

    // WindowView
    std::string FieldText(Field field) const override;
    void SetFieldText(Field field, const std::string& text) override;
    void SetLightVisible(Light light, bool visible) override;
    void SetProgressVisible(bool visible) override;
    void SetProgress(double fraction) override;
    void SetMessageText(const std::string& text) override;
    void ShowMessageBox(const MessageBoxRequest& request) override;
    bool AskYesNo(const MessageBoxRequest& request) override;
    void ArmSkipNextMove() override;
    std::string DecimalSeparator() const override;

    // MessageTimer
    void Start(int32_t intervalMs) override;
    void Stop() override;

    // After a load (or a cancelled Load dialog): the remembered folders and the ride profile.
    void AfterLoad();
    // Whether a window that shows the ride profile (the profile window, the
    // 3D view) is on show: a run then works the profile out on its thread too.
    bool ProfileOnShow() const;

    void CreateControls();
    HotSpot* AddHotSpot(const HotSpotPlace& place, std::function<void(QPainter&, Look)> paintFace);

    std::unique_ptr<QtFileChooser> ownChooser_;
    std::unique_ptr<QtMessageBoxPresenter> ownBoxes_;
    MessageBoxPresenter* boxes_ = nullptr;
    std::unique_ptr<WindowLogic> logic_;
    // Declared after the logic, so that a run still working is waited for
    // before the logic it uses goes.
    std::unique_ptr<RunThread> runThread_;

    QTimer* timer_ = nullptr;
    std::array<TextField*, kFieldCount> fields_{};
    std::array<StatusLight*, 3> lights_{};
    ProgressTube* progress_ = nullptr;
    MessageLine* message_ = nullptr;
    SkinSwitch* smooth_ = nullptr;
};

}  // namespace cvqrn::ui
