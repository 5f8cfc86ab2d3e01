// The page's bridge to the core: the window's own logic (flow state, Load,
// Heartline and Save with their messages, refusals and lights, the precision
// clamp) runs here unchanged, inside the page's worker. What the window would
// draw is sent to the page as small messages; the page sends back the field
// texts and the user's actions.
//
// The page reaches the core only from this file: through the window's own
// bridge (CoreTrackOperations, shared with the desktop window) for load, save,
// end analysis and the run, and directly for the ride profile.
#include <emscripten/bind.h>
#include <emscripten/emscripten.h>
#include <emscripten/val.h>
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "profile/ride_profile.h"
#include "frontend/file_dialogs.h"
#include "frontend/key_filter.h"
#include "frontend/number_text.h"
#include "frontend/track_operations.h"
#include "frontend/window_logic.h"


namespace cvqrn::web {

using emscripten::val;
using ui::Field;
using ui::Light;

namespace {

// Where the worker keeps the file being loaded or saved for the length of one action.
constexpr const char* kFolder = "/tracks/";

const char* LightName(Light light) {
    switch (light) {
        case Light::Loaded:
            return "loaded";
        case Light::Heartlined:
            return "heartlined";
        case Light::Saved:
            return "saved";
    }
    return "";
}

// `name` without its directory and without a ".cvtrack" ending in any case.
std::string Stem(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    const std::string withExtension = WithTrackExtension(name);
    if (withExtension == name) name.resize(name.size() - 8);
    return name;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

val Bytes(const std::vector<uint8_t>& bytes) {
    // A copy owned by JavaScript, so it outlives this call's memory.
    val view = val(emscripten::typed_memory_view(bytes.size(), bytes.data()));
    return val::global("Uint8Array").new_(view);
}

val Numbers(const std::vector<double>& values) {
    val view = val(emscripten::typed_memory_view(values.size(), values.data()));
    return val::global("Float64Array").new_(view);
}

val Extreme(const ProfileExtreme& e) {
    if (e.segment < 0) return val::null();
    val x = val::object();
    x.set("value", e.value);
    x.set("distance", e.distance);
    x.set("segment", e.segment);
    return x;
}

// The ride profile of `track` with the heart `heartline` metres off the rail,
// as the plots take it: one array per quantity (NaN where the train does not
// get or the track is vertical) and the summary; or {error}.
val Profile(const TrackData& track, double heartline, double startspeed, double endspeed) {
    ProfileSettings settings;
    settings.heartline = heartline;
    settings.startspeed = startspeed;
    settings.endspeed = endspeed;
    const RideProfile profile = ComputeRideProfile(track, settings);
    val p = val::object();
    if (!profile) {
        p.set("error", profile.error);
        return p;
    }
    std::vector<double> distance, speed, vertical, lateral;
    for (const ProfileSample& s : profile.samples) {
        distance.push_back(s.distance);
        speed.push_back(s.speed);
        vertical.push_back(s.vertical);
        lateral.push_back(s.lateral);
    }
    p.set("distance", Numbers(distance));
    p.set("speed", Numbers(speed));
    p.set("vertical", Numbers(vertical));
    p.set("lateral", Numbers(lateral));
    const ProfileSummary& sum = profile.summary;
    val summary = val::object();
    summary.set("maxVertical", Extreme(sum.maxVertical));
    summary.set("minVertical", Extreme(sum.minVertical));
    summary.set("maxLateral", Extreme(sum.maxLateral));
    summary.set("minSpeed", Extreme(sum.minSpeed));
    summary.set("maxSpeed", Extreme(sum.maxSpeed));
    summary.set("lateralRms", sum.lateralRms);
    summary.set("lateralRms5m", sum.lateralRms5m);
    summary.set("length", sum.length);
    summary.set("stopDistance", sum.stops ? val(sum.stopDistance) : val::null());
    p.set("summary", summary);
    return p;
}

// One message to the page: {type, ...fields}.
class Sink {
  public:
    explicit Sink(val post) : post_(std::move(post)) {}

    val Message(const char* type) const {
        val message = val::object();
        message.set("type", std::string(type));
        return message;
    }
    void Send(const val& message) const { post_(message); }

  private:
    val post_;
};

// What the window would draw, sent to the page. The field texts are the page's:
// it sends them before every action, and the logic's writes go back to it.
class PageView final : public ui::WindowView {
  public:
    explicit PageView(const Sink& sink) : sink_(sink) {}

    void TakeFieldText(Field field, const std::string& text) {
        texts_[static_cast<size_t>(field)] = text;
    }

    std::string FieldText(Field field) const override { return texts_[static_cast<size_t>(field)]; }

    void SetFieldText(Field field, const std::string& text) override {
        TakeFieldText(field, text);
        val m = sink_.Message("field");
        m.set("field", std::string(ui::SpecOf(field).name));
        m.set("text", text);
        sink_.Send(m);
    }

    void SetLightVisible(Light light, bool visible) override {
        val m = sink_.Message("light");
        m.set("light", std::string(LightName(light)));
        m.set("on", visible);
        sink_.Send(m);
    }

    void SetProgressVisible(bool visible) override {
        val m = sink_.Message("progressVisible");
        m.set("visible", visible);
        sink_.Send(m);
    }

    void SetProgressShape(const ui::BarShape& shape) override {
        val m = sink_.Message("progress");
        m.set("fraction", static_cast<double>(shape.height) / ui::kTubeHeight);
        sink_.Send(m);
    }

    void SetMessageText(const std::string& text) override {
        val m = sink_.Message("message");
        m.set("text", text);
        sink_.Send(m);
    }

    void ShowMessageBox(const ui::MessageBoxRequest& request) override {
        val m = sink_.Message("box");
        m.set("text", request.text);
        m.set("title", request.title);
        m.set("detail", request.detail);
        m.set("warning", request.icon == ui::MessageBoxRequest::Icon::Exclamation);
        sink_.Send(m);
    }

    // The page cannot wait for an answer inside an action: the question goes
    // to the page, which repeats the save with the user's answer given in advance.
    bool AskYesNo(const ui::MessageBoxRequest& request) override {
        if (answer_) return *std::exchange(answer_, std::nullopt);
        val m = sink_.Message("question");
        m.set("text", request.text);
        m.set("title", request.title);
        m.set("detail", request.detail);
        sink_.Send(m);
        return false;  // No: nothing is written
    }
    // The answer to the next question of the current action, or none (ask).
    void AnswerNextQuestion(std::optional<bool> answer) { answer_ = answer; }

    void ArmSkipNextMove() override {}  // the page is not dragged

    // The decimal separator of the browser's language, for the display fields.
    void TakeDecimalSeparator(const std::string& separator) { separator_ = separator; }
    std::string DecimalSeparator() const override { return separator_; }

  private:
    const Sink& sink_;
    std::array<std::string, ui::kFieldCount> texts_{};
    std::string separator_ = ".";
    std::optional<bool> answer_;
};

// The page's timer runs the countdown and answers with timerFired().
class PageTimer final : public ui::MessageTimer {
  public:
    explicit PageTimer(const Sink& sink) : sink_(sink) {}
    void Start(int32_t intervalMs) override {
        val m = sink_.Message("timer");
        m.set("ms", intervalMs);
        sink_.Send(m);
    }
    void Stop() override { sink_.Send(sink_.Message("timerStop")); }

  private:
    const Sink& sink_;
};

// The page has chosen the file already (picked, dropped, or the download
// name): the dialogs answer with that path.
class PageChooser final : public ui::FileChooser {
  public:
    void Answer(std::string path) { answer_ = std::move(path); }
    std::optional<ui::ChooserAnswer> Choose(const ui::ChooserRequest&) override {
        if (answer_.empty()) return std::nullopt;
        ui::ChooserAnswer answer;
        answer.fileName = answer_;
        answer.fileTitle = answer_.substr(answer_.find_last_of('/') + 1);
        return answer;
    }

  private:
    std::string answer_;
};

// The core's operations, with a save that hands the written file to the page
// as a download.
class PageOperations final : public ui::TrackOperations {
  public:
    explicit PageOperations(const Sink& sink) : sink_(sink) {}

    LoadResult Load(const std::string& path, TrackData& track) override {
        return core_.Load(path, track);
    }
    SaveResult Save(const std::string& path, TrackData& track,
                    const SaveOptions& options) override {
        SaveResult result = core_.Save(path, track, options);
        if (result) {
            val m = sink_.Message("download");
            m.set("name", result.path.substr(result.path.find_last_of('/') + 1));
            m.set("bytes", Bytes(ReadWholeFile(result.path)));
            sink_.Send(m);
            std::remove(result.path.c_str());
        }
        return result;
    }
    EndAnalysis Analyse(const TrackData& track) override { return core_.Analyse(track); }
    HeartlineResult Generate(TrackData& track, const HeartlineSettings& settings,
                             ProgressFeedback* progress) override {
        HeartlineResult result = core_.Generate(track, settings, progress);
        lastRun_ = Run{result.status, settings};
        return result;
    }

    // The status and settings of the run the last action made, if it made one.
    struct Run {
        HeartlineStatus status;
        HeartlineSettings settings;
    };
    std::optional<Run> TakeLastRun() { return std::exchange(lastRun_, std::nullopt); }

  private:
    const Sink& sink_;
    ui::CoreTrackOperations core_;
    std::optional<Run> lastRun_;
};

}  // namespace

// The window, driven by the page.
class Window {
  public:
    explicit Window(val post)
        : sink_(std::move(post)), view_(sink_), timer_(sink_), operations_(sink_),
          logic_(view_, timer_, chooser_, operations_) {
        ::mkdir(kFolder, 0700);
    }

    void Start() { logic_.Start(); }

    void SetDecimalSeparator(const std::string& separator) {
        view_.TakeDecimalSeparator(separator);
    }

    // The page's six parameter fields, by field name ("str_segments", ...).
    void SetFields(const val& texts) {
        for (const ui::FieldSpec& spec : ui::kFieldSpecs) {
            if (!spec.parameter) continue;
            const val text = texts[spec.name];
            if (text.isString()) view_.TakeFieldText(spec.field, text.as<std::string>());
        }
    }

    // Load with the file `name` whose content is `bytes`, as if chosen in the open dialog.
    void Load(const std::string& name, const val& bytes) {
        const std::string path = kFolder + name.substr(name.find_last_of("/\\") + 1);
        {
            const auto data = emscripten::convertJSArrayToNumberVector<uint8_t>(bytes);
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(data.data()),
                      static_cast<std::streamsize>(data.size()));
        }
        chooser_.Answer(path);
        logic_.LoadClicked();
        std::remove(path.c_str());
        if (logic_.TrackLoaded() && logic_.TrackFileName() == path) {
            stem_ = Stem(path);
            val m = sink_.Message("loaded");
            m.set("name", path.substr(std::string(kFolder).size()));
            sink_.Send(m);
            SendProfiles(ui::ReadNumber(view_.FieldText(Field::StartSpeed)),
                         ui::ReadNumber(view_.FieldText(Field::EndSpeed)), std::nullopt, false);
        }
    }

    void Heartline() {
        // The action's own time (run and end analysis, as the window's
        // click), without the profiles after it, for the page's benchmark.
        const double start = emscripten_get_now();
        logic_.HeartlineClicked();
        val timing = sink_.Message("timing");
        timing.set("ms", emscripten_get_now() - start);
        sink_.Send(timing);
        const auto run = operations_.TakeLastRun();
        if (!run || run->status == HeartlineStatus::RefusedSettings) return;
        const HeartlineSettings& p = run->settings;
        const bool ok = run->status == HeartlineStatus::Ok;
        SendProfiles(p.startspeed, p.endspeed, ok ? std::optional(p.heartline) : std::nullopt,
                     run->status == HeartlineStatus::Valleyed);
    }

    // Save as "<loaded name>-hl.cvtrack"; the page receives it as a download.
    // `inPlace`: the user has answered Yes to the in-place question this save
    // asked before.
    void Save(bool inPlace) {
        chooser_.Answer(kFolder + stem_ + "-hl.cvtrack");
        view_.AnswerNextQuestion(inPlace ? std::optional(true) : std::nullopt);
        logic_.SaveClicked();
        view_.AnswerNextQuestion(std::nullopt);
    }

    void PrecisionLostFocus() { logic_.PrecisionLostFocus(); }
    void TimerFired() { logic_.MessageTimerFired(); }

  private:
    // The plots: the loaded track (heart on the rail) and, after a run, the
    // rebuilt one (heart at the heartline distance), at the run's speeds;
    // after a valley, where the train stopped on the loaded track.
    void SendProfiles(double startspeed, double endspeed, std::optional<double> heartline,
                      bool valleyed) {
        val m = sink_.Message("profile");
        val loaded = Profile(logic_.LoadedTrack(), 0.0, startspeed, endspeed);
        m.set("loaded", loaded);
        m.set("rebuilt", heartline ? Profile(logic_.WorkTrack(), *heartline, startspeed, endspeed)
                                   : val::null());
        m.set("valleyed", valleyed);
        sink_.Send(m);
    }

    Sink sink_;
    PageView view_;
    PageTimer timer_;
    PageChooser chooser_;
    PageOperations operations_;
    ui::WindowLogic logic_;
    std::string stem_;
};

// The key filter of the parameter fields, for one typed character.
int FilterKey(const std::string& text, int caret, int key, bool allowDecimal, bool allowMinus) {
    return ui::FilterNumericKey(text, caret, key, allowDecimal, allowMinus);
}

// The design data of the twelve fields, in tab order: the six parameter
// fields, then the six display fields.
val FieldSpecs() {
    val list = val::array();
    for (const ui::FieldSpec& spec : ui::kFieldSpecs) {
        val f = val::object();
        f.set("name", std::string(spec.name));
        f.set("text", ui::InitialText(spec.field));
        f.set("toolTip", std::string(spec.toolTip));
        f.set("parameter", spec.parameter);
        f.set("allowDecimal", spec.allowDecimal);
        f.set("allowMinus", spec.allowMinus);
        list.call<void>("push", f);
    }
    return list;
}

EMSCRIPTEN_BINDINGS(cvqrn) {
    emscripten::class_<Window>("Window")
        .constructor<val>()
        .function("start", &Window::Start)
        .function("setDecimalSeparator", &Window::SetDecimalSeparator)
        .function("setFields", &Window::SetFields)
        .function("load", &Window::Load)
        .function("heartline", &Window::Heartline)
        .function("save", &Window::Save)
        .function("precisionLostFocus", &Window::PrecisionLostFocus)
        .function("timerFired", &Window::TimerFired);
    emscripten::function("filterKey", &FilterKey);
    emscripten::function("fieldSpecs", &FieldSpecs);
}

}  // namespace cvqrn::web
