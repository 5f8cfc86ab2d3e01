#include "frontend/window_logic.h"

#include <filesystem>
#include <new>
#include <optional>
#include <utility>

#include "text/format.h"
#include "frontend/messages.h"
#include "frontend/number_text.h"

namespace cvqrn::ui {

namespace {

constexpr int32_t kShortMessageMs = 1500;
constexpr int32_t kErrorMessageMs = 3000;

// The action a result comes from.
enum class Action { Load, Heartline, Save };

// The one place where the window turns a result that is not Ok into the box it
// shows: the action that made it, its status, the file `path` it is about and,
// after a valley, the start speed that clears every hill. A run in which the
// train stopped keeps the designed text and title; the other kinds say what
// happened. A save that only an overwrite in place would do is the question
// asked before that overwrite.
MessageBoxRequest ResultBox(Action action, const Result& result, const std::string& path,
                            std::optional<double> advice = std::nullopt) {
    using Icon = MessageBoxRequest::Icon;
    if (action == Action::Load) {
        return {LoadErrorText(path, result.message), kLoadErrorTitle, Icon::Exclamation,
                result.message};
    }
    if (action == Action::Save) {
        if (result.status == Status::InPlacePossible) {
            return {"The track cannot be saved safely as \"" + path +
                        "\": its folder does not allow a new file, but the file itself can be "
                        "written.\n\nOverwrite the file in place? This is not atomic: if the "
                        "write fails midway (full disk, crash, power loss), the file can be left "
                        "damaged.",
                    "Overwrite In Place?", Icon::Exclamation, result.message};
        }
        return {SaveErrorText(path, result.message), "Save Error", Icon::Exclamation,
                result.message};
    }
    switch (result.status) {
        case Status::InvalidSettings:
            return {result.message, "Invalid Setting", Icon::Exclamation, result.detail};
        case Status::UnusableTrack:
            return {"This track cannot be heartlined. The loaded track was not changed.",
                    "Unusable Track", Icon::Exclamation, result.message};
        case Status::NumericalBlowUp:
            return {"The run produced numbers too large to use, so no new track was made. Try "
                    "a smaller heartline distance or other speeds.",
                    "Heartline Failed", Icon::Exclamation, result.message};
        case Status::Valleyed:
            return {ValleyBoxText(advice), kHeartlineFailureTitle, Icon::None, result.message};
        case Status::EqualSpeeds:
            return {kHeartlineFailureText, kHeartlineFailureTitle, Icon::None, result.message};
        default:  // OutOfMemory
            return {"The run could not be completed. The loaded track was not changed.",
                    "Run Not Completed", Icon::Exclamation, result.message};
    }
}

std::string FolderOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

std::string NameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

std::string InitialText(Field field) {
    const HeartlineSettings defaults;
    switch (field) {
        case Field::Segments:
            return FormatShortest(defaults.segments);
        case Field::Heartline:
            return FormatShortest(defaults.heartline);
        case Field::StartSpeed:
            return FormatShortest(defaults.startspeed);
        case Field::EndSpeed:
            return FormatShortest(defaults.endspeed);
        case Field::Precision:
            return FormatShortest(defaults.precision);
        case Field::Filter:
            return FormatShortest(defaults.filter);
        default:
            return SpecOf(field).initialText;
    }
}

WindowLogic::WindowLogic(WindowView& view, MessageTimer& timer, FileChooser& chooser,
                         TrackOperations& operations)
    : view_(view), timer_(timer), chooser_(chooser), operations_(operations) {}

void WindowLogic::Start() {
    trackModified_ = false;
    trackLoaded_ = false;
    ShowMessage("Ready", kShortMessageMs);
}

void WindowLogic::LoadClicked() {
    if (running_) return;
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
    if (running_) return;
    ++loads_;
    trackFileName_ = path;
    // Loaded into a fresh record so that a refused file leaves nothing half
    // read in the work track.
    TrackData loaded;
    TrackData copy;  // the track as loaded, that every run starts from
    Result result;
    try {
        result = operations_.Load(trackFileName_, loaded);
        if (result) copy = loaded;
    } catch (const std::bad_alloc&) {
        ShowOutOfMemory("to load \"" + path + "\"");
        return;
    }
    if (result) {
        workTrack_ = std::move(loaded);
        trackModified_ = false;
        trackLoaded_ = true;
        SetLight(Light::Loaded, true);
        SetLight(Light::Heartlined, false);
        SetLight(Light::Saved, false);
        ShowEndAnalysis();
        loadedTrack_ = std::move(copy);
        loadFolder_ = FolderOf(trackFileName_);
    } else {
        view_.ShowMessageBox(ResultBox(Action::Load, result, path));
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
    std::optional<HeartlineJob> job = StartHeartline();
    if (!job) return;
    RunHeartline(*job, this);
    FinishHeartline(std::move(*job));
}

std::optional<HeartlineJob> WindowLogic::StartHeartline() {
    if (running_) return std::nullopt;
    if (!trackLoaded_) {
        workTrack_ = loadedTrack_;
        return std::nullopt;
    }

    // Every run starts again from the track as loaded. The copy becomes the
    // work track once the run has taken the parameters, so a refused value
    // leaves the previous result (and what Save would write) as it was.
    HeartlineJob job;
    try {
        job.track = loadedTrack_;
    } catch (const std::bad_alloc&) {
        ShowOutOfMemory("to run the heartline");
        return std::nullopt;
    }

    HeartlineSettings& settings = job.settings;
    settings.smooth = smoothRide_;
    if (!ReadIntegerField(Field::Segments, kLeastSegments, settings.segments)) return std::nullopt;
    if (!ReadIntegerField(Field::Precision, kLeastPrecision, settings.precision)) {
        return std::nullopt;
    }
    if (!ReadIntegerField(Field::Filter, kLeastFilter, settings.filter)) return std::nullopt;
    if (!ReadDecimalField(Field::Heartline, settings.heartline)) return std::nullopt;
    if (!ReadDecimalField(Field::StartSpeed, settings.startspeed)) return std::nullopt;
    if (!ReadDecimalField(Field::EndSpeed, settings.endspeed)) return std::nullopt;

    view_.SetProgressVisible(true);
    running_ = true;
    return job;
}

void WindowLogic::RunHeartline(HeartlineJob& job, ProgressFeedback* progress) const {
    // A filter raised by the run comes back in the result and does not reach the field.
    try {
        job.result = operations_.Generate(job.track, job.settings, progress);
    } catch (const std::bad_alloc&) {
        job.outOfMemory = true;
    }
}

void WindowLogic::FinishHeartline(HeartlineJob job) {
    running_ = false;
    if (job.outOfMemory) {
        view_.SetProgressVisible(false);
        ShowOutOfMemory("to run the heartline");
        return;
    }
    const HeartlineResult& result = job.result;
    if (result.status == Status::InvalidSettings) {
        view_.SetProgressVisible(false);
        ShowRefusal(result);
        return;
    }
    if (!result) {
        view_.ShowMessageBox(
            ResultBox(Action::Heartline, result, trackFileName_, operations_.AdvisedStartSpeed()));
    }
    // A failed run left the track as loaded, so the display shows the loaded ends again.
    workTrack_ = std::move(job.track);

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
    if (!trackModified_ || running_) return;

    FileDialogRequest request =
        TrackDialogRequest(kSaveDialogTitle, saveFolder_.empty() ? loadFolder_ : saveFolder_);
    request.OverwritePrompt = true;
    const bool chosen = ShowSaveDialog(request, chooser_);
    trackFileName_ = request.FileName;
    if (!chosen) return;

    SaveResult result = operations_.Save(trackFileName_, workTrack_, {});
    const std::string path = result.path.empty() ? trackFileName_ : result.path;
    if (result.status == Status::InPlacePossible) {
        // No: nothing was written and nothing changes.
        if (!view_.AskYesNo(ResultBox(Action::Save, result, path))) return;
        result = operations_.Save(path, workTrack_, {.inPlace = true});
    }
    if (result) {
        SetLight(Light::Saved, true);
        saveFolder_ = FolderOf(path);
        if (!result.note.empty()) {
            view_.ShowMessageBox({"The track was saved as \"" + path + "\".\n\n" + result.note,
                                  "Track Saved", MessageBoxRequest::Icon::None, ""});
        }
        return;
    }
    // The next dialog keeps the name but starts where a save (or the load)
    // last worked: listing the failed place can hang on its special files.
    trackFileName_ = NameOf(path);
    view_.ShowMessageBox(ResultBox(Action::Save, result, path));
}

void WindowLogic::PrecisionLostFocus() {
    const auto adjust = [this](int to) {
        const std::string text = std::to_string(to);
        view_.SetFieldText(Field::Precision, text);
        ShowMessage("Precision has been adjusted to " + text, kShortMessageMs);
    };
    if (ReadNumber(view_.FieldText(Field::Precision)) < kPrecisionFieldLeast) {
        adjust(kPrecisionFieldLeast);
    }
    if (ReadNumber(view_.FieldText(Field::Precision)) > kPrecisionFieldMost) {
        adjust(kPrecisionFieldMost);
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
    const std::optional<double> fraction = ProgressFraction(progress, Total);
    if (!fraction || *fraction == progress_) return;
    progress_ = *fraction;
    view_.SetProgress(progress_);
}

void WindowLogic::ShowEndAnalysis() {
    const EndAnalysisTexts ends =
        FormatEndAnalysis(operations_.Analyse(workTrack_), view_.DecimalSeparator());
    view_.SetFieldText(Field::RadiusIn, ends.radiusIn);
    view_.SetFieldText(Field::TiltIn, ends.tiltIn);
    view_.SetFieldText(Field::RadiusOut, ends.radiusOut);
    view_.SetFieldText(Field::TiltOut, ends.tiltOut);
    view_.SetFieldText(Field::SlopeIn, ends.slopeIn);
    view_.SetFieldText(Field::SlopeOut, ends.slopeOut);
}

void WindowLogic::SetLight(Light light, bool on) {
    lights_[static_cast<size_t>(light)] = on;
    view_.SetLightVisible(light, on);
}

bool WindowLogic::RefuseIfEmpty(Field field, const std::string& text) {
    if (HasNumber(text)) return false;
    ShowRefusal(Failure(Status::InvalidSettings,
                        std::string(PlaceOf(field).caption) +
                            " holds no number. Type a value into it and run again."));
    return true;
}

bool WindowLogic::ReadDecimalField(Field field, double& value) {
    const std::string text = view_.FieldText(field);
    if (RefuseIfEmpty(field, text)) return false;
    value = ReadNumber(text);
    return true;
}

bool WindowLogic::ReadIntegerField(Field field, int16_t least, int16_t& value) {
    const std::string text = view_.FieldText(field);
    if (RefuseIfEmpty(field, text)) return false;
    const auto rounded = RoundToInt16(ReadNumber(text));
    if (!rounded) {
        ShowRefusal(Failure(Status::InvalidSettings,
                            std::string(PlaceOf(field).caption) + " must be a whole number from " +
                                std::to_string(least) + " to " + FormatCount(kMaxRunCount) +
                                "; \"" + text + "\" is outside that range."));
        return false;
    }
    value = *rounded;
    return true;
}

void WindowLogic::ShowOutOfMemory(const std::string& what) {
    view_.ShowMessageBox({"Not enough memory " + what +
                              ". Nothing was changed: the window keeps the track it had. Close "
                              "other programs or use a smaller track, then try again.",
                          "Not Enough Memory", MessageBoxRequest::Icon::Exclamation, ""});
}

void WindowLogic::ShowRefusal(const Result& refusal) {
    view_.ShowMessageBox(ResultBox(Action::Heartline, refusal, trackFileName_));
}

}  // namespace cvqrn::ui
