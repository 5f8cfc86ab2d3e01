// The window's behaviour apart from the toolkit: the flow state, the Load,
// Heartline and Save actions with their steps in order, the end-analysis
// display, the precision clamp, the message line with its one-shot timer and
// the progress figures. The toolkit side (widgets, timer, message boxes, file
// chooser) sits behind small interfaces; MainWindow implements them with Qt.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "heartline/generator.h"
#include "model/track_record.h"
#include "frontend/file_dialogs.h"
#include "frontend/layout.h"
#include "frontend/status_display.h"
#include "frontend/track_operations.h"

namespace cvqrn::ui {

// How one text field behaves; where it sits is in the layout table.
struct FieldSpec {
    Field field;
    const char* name;
    const char* initialText;  // display fields; nullptr for the parameter fields (InitialText)
    const char* toolTip;  // empty for the display fields
    bool parameter;       // typed into (key filter, select on focus) or written by the display
    bool allowDecimal;
    bool allowMinus;
};

inline constexpr std::array<FieldSpec, kFieldCount> kFieldSpecs{{
    {Field::Segments, "str_segments", nullptr,
     "Number of Segments the heartlined Track should have.", true, false, false},
    {Field::Heartline, "str_heartline", nullptr,
     "Position of heartline. See the recommended values on the right.", true, true, true},
    {Field::StartSpeed, "str_startspeed", nullptr,
     "Speed of the train at the start of the track. Note that this must be measured in meters "
     "per second (m/s).",
     true, true, false},
    {Field::EndSpeed, "str_endspeed", nullptr,
     "Speed of the train at the end of the track. Note that this must be measured in meters per "
     "second (m/s).",
     true, true, false},
    {Field::Precision, "str_precision", nullptr,
     "Number of points used to determine the shape of each segment. Usually 6 points or ok.", true,
     false, false},
    {Field::Filter, "str_filter", nullptr,
     "Specifies how often the filter is being applied. The higher this value the smoother the "
     "transitions and the more precision is lost.",
     true, false, false},
    {Field::SlopeIn, "str_slope_in", "Slope in", "", false, false, false},
    {Field::RadiusIn, "str_radius_in", "Radius in", "", false, false, false},
    {Field::TiltIn, "str_tilt_in", "Tilt in", "", false, false, false},
    {Field::SlopeOut, "str_slope_out", "Slope out", "", false, false, false},
    {Field::RadiusOut, "str_radius_out", "Rad. out", "", false, false, false},
    {Field::TiltOut, "str_tilt_out", "Tilt out", "", false, false, false},
}};

inline const FieldSpec& SpecOf(Field field) {
    return kFieldSpecs[static_cast<size_t>(field)];
}

// The text a field starts with: a parameter field shows its setting's
// default (HeartlineSettings), in the shortest form that reads back exactly.
std::string InitialText(Field field);

// The three status lights, left to right.
enum class Light { Loaded = 0, Heartlined = 1, Saved = 2 };

struct MessageBoxRequest {
    enum class Icon { None, Exclamation };
    std::string text;
    std::string title;
    Icon icon = Icon::None;
    std::string detail;  // shown on request under the main text; empty for none
};

// The range the precision field is kept in when it loses the focus.
inline constexpr int kPrecisionFieldLeast = 4;
inline constexpr int kPrecisionFieldMost = 16;

// The title of the box for a run in which the train stopped (its text is the
// run's own, kHeartlineFailureText).
inline constexpr const char* kHeartlineFailureTitle = "Horrible!";

// The filter pair and titles of the two file dialogs.
inline constexpr const char* kTrackFilter = "Corvane Tracks (*.cvtrack)|*.cvtrack";
inline constexpr const char* kTrackExtension = "cvtrack";
inline constexpr const char* kLoadDialogTitle = "Load Track...";
inline constexpr const char* kSaveDialogTitle = "Save Track As...";

// What the toolkit shows.
class WindowView {
  public:
    virtual ~WindowView() = default;
    virtual std::string FieldText(Field field) const = 0;
    virtual void SetFieldText(Field field, const std::string& text) = 0;
    virtual void SetLightVisible(Light light, bool visible) = 0;
    virtual void SetProgressVisible(bool visible) = 0;
    // Takes the fraction of the run done (0 to 1; see ProgressFraction) and
    // has the bar drawn.
    virtual void SetProgress(double fraction) = 0;
    virtual void SetMessageText(const std::string& text) = 0;
    // A modal message box with a single OK button; returns when it is closed.
    virtual void ShowMessageBox(const MessageBoxRequest& request) = 0;
    // A modal question box with Yes and No (the default); true for Yes.
    virtual bool AskYesNo(const MessageBoxRequest& request) = 0;
    // The next pointer move over the window body is to be ignored.
    virtual void ArmSkipNextMove() = 0;
    // The decimal separator of the user's locale, for the display fields.
    virtual std::string DecimalSeparator() const = 0;
};

// The message line's one-shot timer.
class MessageTimer {
  public:
    virtual ~MessageTimer() = default;
    virtual void Start(int32_t intervalMs) = 0;  // (re)starts the countdown
    virtual void Stop() = 0;
};

// One heartline run taken out of the click, for a front end that runs it
// away from its event loop: StartHeartline on the window's thread, RunHeartline
// on any thread, FinishHeartline back on the window's thread.
struct HeartlineJob {
    TrackData track;             // a copy of the loaded track, rewritten by a run that works
    HeartlineSettings settings;  // as the fields read when the run started
    HeartlineResult result;
    bool outOfMemory = false;  // the run ran out of memory; `result` means nothing
};

class WindowLogic final : public ProgressFeedback {
  public:
    WindowLogic(WindowView& view, MessageTimer& timer, FileChooser& chooser,
                TrackOperations& operations);

    // Start-up: both flags false, "Ready" on the message line for 1500 ms.
    void Start();

    void LoadClicked();
    // Loads `path` as Load Track does once its dialog has answered (a file
    // named on the command line or dropped on the window).
    void LoadFile(const std::string& path);
    // The whole run on the caller's thread: StartHeartline, RunHeartline
    // with this logic as the progress receiver, FinishHeartline.
    void HeartlineClicked();
    void SaveClicked();

    // The Heartline action in three steps. StartHeartline does what the
    // click does up to the run: nothing without a loaded track, a box for a
    // field without a usable value, else the bar shown and the job to run;
    // from then until FinishHeartline the logic is Running and Load,
    // Heartline and Save do nothing.
    std::optional<HeartlineJob> StartHeartline();
    // The run itself. Touches only `job` and the track operations, so it may
    // run on another thread while this logic is Running; `progress` receives
    // the steps on that thread (may be null).
    void RunHeartline(HeartlineJob& job, ProgressFeedback* progress) const;
    // What the click does after the run, in the same order: boxes, the new
    // ends, the bar hidden, the message, the flags and lights.
    void FinishHeartline(HeartlineJob job);
    bool Running() const { return running_; }

    // The precision field lost the keyboard focus: clamp it to
    // kPrecisionFieldLeast..kPrecisionFieldMost.
    void PrecisionLostFocus();

    // The "Smooth ride" switch: the next runs make the smooth rebuild. Off
    // at start, like the six settings.
    void SetSmoothRide(bool on) { smoothRide_ = on; }
    bool SmoothRide() const { return smoothRide_; }

    // The message timer fired: the line is cleared and the timer stopped.
    void MessageTimerFired();

    // Shows `text` on the message line for `durationMs`, replacing any message
    // on show and restarting the countdown.
    void ShowMessage(const std::string& text, int32_t durationMs);

    // Progress of the heartline run: moves the bar (see ProgressFraction).
    void feedback(const int32_t& progress, const int32_t& Total) override;

    // The folders of the last load and the last save that worked, where the
    // file dialogs start when they are not pre-filled with a full path.
    void SetFolders(std::string loadFolder, std::string saveFolder);
    const std::string& LoadFolder() const { return loadFolder_; }
    const std::string& SaveFolder() const { return saveFolder_; }

    bool TrackLoaded() const { return trackLoaded_; }
    bool TrackModified() const { return trackModified_; }
    const std::string& TrackFileName() const { return trackFileName_; }
    bool LightOn(Light light) const { return lights_[static_cast<size_t>(light)]; }
    double Progress() const { return progress_; }
    const TrackData& WorkTrack() const { return workTrack_; }
    const TrackData& LoadedTrack() const { return loadedTrack_; }
    // How many loads were tried: what was worked out for the loaded track
    // holds only while this stays the same.
    int Loads() const { return loads_; }

  private:
    // The request both file dialogs start from: a track file, pre-filled with
    // TrackFileName, starting in `folder`, first filter pair selected, no further flags.
    FileDialogRequest TrackDialogRequest(const char* title, const std::string& folder) const;
    void ShowEndAnalysis();
    void SetLight(Light light, bool on);
    // The box for an action that ran out of memory in the window; `what`
    // ends "Not enough memory to ...". Nothing the window held is lost.
    void ShowOutOfMemory(const std::string& what);
    // Reads an integer field whose setting takes `least` or more; shows the
    // refusal and answers false when it holds no number or its value has no
    // 16-bit form.
    bool ReadIntegerField(Field field, int16_t least, int16_t& value);
    // The "Invalid Setting" box for a refused setting (InvalidSettings): the
    // refusal in the user's terms, its internal figure on request.
    void ShowRefusal(const Result& refusal);
    // Reads a decimal field; shows the refusal and answers false when it holds no number.
    bool ReadDecimalField(Field field, double& value);
    // Shows the refusal for a field that holds no number (empty, "-" or ".").
    bool RefuseIfEmpty(Field field, const std::string& text);

    WindowView& view_;
    MessageTimer& timer_;
    FileChooser& chooser_;
    TrackOperations& operations_;

    bool trackLoaded_ = false;
    bool trackModified_ = false;
    bool smoothRide_ = false;
    bool running_ = false;  // between StartHeartline and FinishHeartline
    int loads_ = 0;
    std::string trackFileName_;
    std::string loadFolder_;
    std::string saveFolder_;
    std::array<bool, 3> lights_{};
    // The bar starts as designed: filling the whole tube.
    double progress_ = 1.0;
    TrackData workTrack_;    // loaded, then rewritten by a run, written by Save
    TrackData loadedTrack_;  // the track as loaded; every run starts from it
};

}  // namespace cvqrn::ui
