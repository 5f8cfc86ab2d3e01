#include "ui/window_logic.h"

#include <filesystem>
#include <utility>

#include "ui/number_text.h"

namespace cvqrn::ui {

namespace {

constexpr int32_t kShortMessageMs = 1500;
constexpr int32_t kErrorMessageMs = 3000;
constexpr double kMinPrecision = 4.0;
constexpr double kMaxPrecision = 16.0;

std::string FolderOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

std::string NameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

WindowLogic::WindowLogic(WindowView& view, MessageTimer& timer, FileChooser& chooser,
                         TrackOperations& operations)
    : view_(view), timer_(timer), chooser_(chooser), operations_(operations) {}

void WindowLogic::Start() {
    trackModified_ = false;
    trackLoaded_ = false;
    ShowMessage("Ready", kShortMessageMs);
}

void WindowLogic::LoadClicked() {
    view_.ArmSkipNextMove();

    FileDialogRequest request = TrackDialogRequest(kLoadDialogTitle, loadFolder_);
    request.FileMustExist = true;
    request.ReadOnly = false;
    request.HideReadOnly = true;
    const bool chosen = ShowOpenDialog(request, chooser_);
    trackFileName_ = request.FileName;
    if (chosen) LoadFile(trackFileName_);
}

void WindowLogic::LoadFile(const std::string& path) {
    trackFileName_ = path;
    // Loaded into a fresh record so that a refused file leaves nothing half
    // read in the work track.
    TrackData loaded;
    const LoadResult result = operations_.Load(trackFileName_, loaded);
    if (result) {
        workTrack_ = std::move(loaded);
        trackModified_ = false;
        trackLoaded_ = true;
        SetLight(Light::Loaded, true);
        SetLight(Light::Heartlined, false);
        SetLight(Light::Saved, false);
        ShowEndAnalysis();
        loadedTrack_ = workTrack_;
        loadFolder_ = FolderOf(trackFileName_);
    } else {
        view_.ShowMessageBox({"Error Loading Track File!", "Load Error",
                              MessageBoxRequest::Icon::Exclamation, result.reason});
        trackModified_ = false;
        trackLoaded_ = false;
    }
}

void WindowLogic::SetFolders(std::string loadFolder, std::string saveFolder) {
    loadFolder_ = std::move(loadFolder);
    saveFolder_ = std::move(saveFolder);
}

FileDialogRequest WindowLogic::TrackDialogRequest(const char* title,
                                                  const std::string& folder) const {
    FileDialogRequest request;
    request.FileName = trackFileName_;
    request.InitDir = folder;
    request.Filter = kTrackFilter;
    request.FilterIndex = 1;
    request.DlgTitle = title;
    request.DefaultExt = kTrackExtension;
    return request;
}

void WindowLogic::HeartlineClicked() {
    if (!trackLoaded_) {
        workTrack_ = loadedTrack_;
        return;
    }

    // Every run starts again from the track as loaded. The copy becomes the
    // work track once the run has taken the parameters, so a refused value
    // leaves the previous result (and what Save would write) as it was.
    TrackData candidate = loadedTrack_;

    HeartlineParameters parameters;
    if (!ReadIntegerField(Field::Segments, parameters.segments)) return;
    if (!ReadIntegerField(Field::Precision, parameters.precision)) return;
    if (!ReadIntegerField(Field::Filter, parameters.filter)) return;
    if (!ReadDecimalField(Field::Heartline, parameters.heartline)) return;
    if (!ReadDecimalField(Field::StartSpeed, parameters.startspeed)) return;
    if (!ReadDecimalField(Field::EndSpeed, parameters.endspeed)) return;

    view_.SetProgressVisible(true);
    // `parameters` is the action's own copy: a filter raised by the run does
    // not reach the field.
    const HeartlineResult result = operations_.Generate(candidate, parameters, this);
    if (result.status == HeartlineStatus::Refused) {
        view_.SetProgressVisible(false);
        ShowRefusal(result.detail);
        return;
    }
    if (!result) {
        view_.ShowMessageBox({kHeartlineFailureText, kHeartlineFailureTitle,
                              MessageBoxRequest::Icon::None, result.detail});
    }
    // A failed run left `candidate` as loaded, so the display shows the loaded ends again.
    workTrack_ = std::move(candidate);

    ShowEndAnalysis();
    view_.SetProgressVisible(false);

    if (result) {
        ShowMessage("OK", kShortMessageMs);
        trackModified_ = true;
        SetLight(Light::Heartlined, true);
    } else {
        trackModified_ = false;
        ShowMessage("- ERROR -", kErrorMessageMs);
    }
}

void WindowLogic::SaveClicked() {
    if (!trackModified_) return;

    FileDialogRequest request =
        TrackDialogRequest(kSaveDialogTitle, saveFolder_.empty() ? loadFolder_ : saveFolder_);
    request.OverwritePrompt = true;
    const bool chosen = ShowSaveDialog(request, chooser_);
    trackFileName_ = request.FileName;
    if (!chosen) return;

    const SaveResult result = operations_.Save(trackFileName_, workTrack_);
    const std::string path = result.path.empty() ? trackFileName_ : result.path;
    if (result) {
        SetLight(Light::Saved, true);
        saveFolder_ = FolderOf(path);
        return;
    }
    // The next dialog keeps the name but starts where a save (or the load)
    // last worked: listing the failed place can hang on its special files.
    trackFileName_ = NameOf(path);
    std::string text =
        "Error Saving Track File!\n\nThe track could not be saved as \"" + path + "\".";
    if (!result.reason.empty()) text += "\n" + result.reason;
    view_.ShowMessageBox({text, "Save Error", MessageBoxRequest::Icon::Exclamation, ""});
}

void WindowLogic::PrecisionLostFocus() {
    if (ReadNumber(view_.FieldText(Field::Precision)) < kMinPrecision) {
        view_.SetFieldText(Field::Precision, "4");
        ShowMessage("Precision has been adjusted to 4", kShortMessageMs);
    }
    if (ReadNumber(view_.FieldText(Field::Precision)) > kMaxPrecision) {
        view_.SetFieldText(Field::Precision, "16");
        ShowMessage("Precision has been adjusted to 16", kShortMessageMs);
    }
}

void WindowLogic::MessageTimerFired() {
    view_.SetMessageText("");
    timer_.Stop();
}

void WindowLogic::ShowMessage(const std::string& text, int32_t durationMs) {
    view_.SetMessageText(text);
    timer_.Start(durationMs);
}

void WindowLogic::feedback(const int32_t& progress, const int32_t& Total) {
    const auto shape = ProgressBarShape(progress, Total);
    if (!shape || *shape == bar_) return;
    bar_ = *shape;
    view_.SetProgressShape(bar_);
}

void WindowLogic::ShowEndAnalysis() {
    const EndAnalysis ends = operations_.Analyse(workTrack_);
    const std::string separator = view_.DecimalSeparator();
    // Radius and tilt of one end; a radius of exactly -1 marks a straight end,
    // whose tilt means nothing.
    const auto showEnd = [&](double radius, double tilt, Field radiusField, Field tiltField) {
        const bool straight = radius == -1.0;
        view_.SetFieldText(radiusField, straight ? "straight" : FormatDisplay(radius, separator));
        view_.SetFieldText(tiltField, straight ? "none" : FormatDisplay(tilt, separator));
    };
    showEnd(ends.radiusIn, ends.tiltIn, Field::RadiusIn, Field::TiltIn);
    showEnd(ends.radiusOut, ends.tiltOut, Field::RadiusOut, Field::TiltOut);
    view_.SetFieldText(Field::SlopeIn, FormatDisplay(ends.slopeIn, separator));
    view_.SetFieldText(Field::SlopeOut, FormatDisplay(ends.slopeOut, separator));
}

void WindowLogic::SetLight(Light light, bool on) {
    lights_[static_cast<size_t>(light)] = on;
    view_.SetLightVisible(light, on);
}

bool WindowLogic::RefuseIfEmpty(Field field, const std::string& text) {
    if (HasNumber(text)) return false;
    ShowRefusal(std::string(PlaceOf(field).caption) +
                " holds no number. Type a value into it and run again.");
    return true;
}

bool WindowLogic::ReadDecimalField(Field field, double& value) {
    const std::string text = view_.FieldText(field);
    if (RefuseIfEmpty(field, text)) return false;
    value = ReadNumber(text);
    return true;
}

bool WindowLogic::ReadIntegerField(Field field, int16_t& value) {
    const std::string text = view_.FieldText(field);
    if (RefuseIfEmpty(field, text)) return false;
    const auto rounded = RoundToInt16(ReadNumber(text));
    if (!rounded) {
        ShowRefusal(std::string(PlaceOf(field).caption) + " must be a whole number from -32768 to " +
                    "32767; \"" + text + "\" is outside that range.");
        return false;
    }
    value = *rounded;
    return true;
}

void WindowLogic::ShowRefusal(const std::string& why) {
    view_.ShowMessageBox({why, "Invalid Setting", MessageBoxRequest::Icon::Exclamation, ""});
}

}  // namespace cvqrn::ui
