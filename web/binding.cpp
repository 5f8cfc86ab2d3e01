// The page's bridge to the core: the window's own logic (flow state, Load,
// Heartline and Save with their messages, refusals and lights, the precision
// clamp) runs here unchanged, inside the page's worker. What the window would
// draw is sent to the page as small messages; the page sends back the field
// texts and the user's actions.
//
// The page reaches the core only from this file: through the window's own
// bridge (CoreTrackOperations, shared with the desktop window) for load, save,
// end analysis and the run, and through the window's ride profile model
// (frontend/profile_model.h) for the plots, their texts and the CSV.
#include <emscripten/bind.h>
#include <emscripten/emscripten.h>
#include <emscripten/val.h>
#include <sys/stat.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "profile/profile_csv.h"
#include "profile/ride_profile.h"
#include "heartline/valley.h"
#include "frontend/file_dialogs.h"
#include "frontend/key_filter.h"
#include "frontend/messages.h"
#include "frontend/number_text.h"
#include "frontend/profile_model.h"
#include "frontend/track_operations.h"
#include "frontend/window_logic.h"
#include "scene/camera.h"
#include "scene/detail.h"
#include "scene/track_scene.h"


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
    if (HasTrackExtension(name)) name.resize(name.size() - kTrackFileExtension.size());
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

// The plots' quantities by their names in the page, in ui::kQuantities order.
constexpr const char* kQuantityNames[ui::kQuantityCount] = {"speed",        "vertical", "lateral",
                                                            "longitudinal", "roll",     "rollRate"};

// A number, or null where it is not one.
val Number(double v) {
    return std::isfinite(v) ? val(v) : val::null();
}

// One track of the profile as the plots take it: one array per quantity
// (NaN where there is no value), the heart and rail points for the views,
// the length and where the train stops; or {error}; null for no track.
// Every array is a view into one Float64Array that `copyOut` fills from the
// engine's memory: one copy and one buffer for the page to take over, instead
// of seventeen.
val TrackProfileOf(const ui::ProfileModel& model, ui::Which which, const val& copyOut) {
    const std::optional<RideProfile>& p =
        which == ui::Which::Loaded ? model.loaded : model.rebuilt;
    if (!p) return val::null();
    val t = val::object();
    const RideProfile* profile = ui::ProfileOf(model, which);
    if (profile == nullptr) {
        t.set("error", p->message);
        return t;
    }
    const ui::PlotData& d = ui::PlotsOf(model, which).data;
    const std::pair<const char*, const std::vector<double>*> arrays[] = {
        {"distance", &d.distance},
        {"time", &d.time},
        {"speed", &d.speed},
        {"vertical", &d.vertical},
        {"lateral", &d.lateral},
        {"longitudinal", &d.longitudinal},
        {"feltVertical", &d.feltVertical},
        {"feltLateral", &d.feltLateral},
        {"feltLongitudinal", &d.feltLongitudinal},
        {"roll", &d.roll},
        {"rollRate", &d.rollRate}};
    constexpr size_t kCoordinates = 6;
    const char* const names[kCoordinates] = {"heartX", "heartY", "heartZ",
                                             "railX",  "railY",  "railZ"};
    const size_t n = profile->samples.size();
    size_t total = kCoordinates * n;
    for (const auto& entry : arrays) total += entry.second->size();
    std::vector<double> packed;
    packed.reserve(total);
    std::vector<std::pair<const char*, size_t>> ends;
    for (const auto& [name, values] : arrays) {
        packed.insert(packed.end(), values->begin(), values->end());
        ends.emplace_back(name, packed.size());
    }
    for (size_t k = 0; k < kCoordinates; ++k) {
        for (const ProfileSample& s : profile->samples) {
            const ProfilePoint& point = k < 3 ? s.heart : s.rail;
            packed.push_back(k % 3 == 0 ? point.x : k % 3 == 1 ? point.y : point.z);
        }
        ends.emplace_back(names[k], packed.size());
    }
    const val all = copyOut(val(emscripten::typed_memory_view(packed.size(), packed.data())));
    size_t begin = 0;
    for (const auto& [name, end] : ends) {
        t.set(name,
              all.call<val>("subarray", static_cast<double>(begin), static_cast<double>(end)));
        begin = end;
    }
    t.set("length", profile->summary.length);
    t.set("stopDistance",
          profile->summary.stops ? val(profile->summary.stopDistance) : val::null());
    return t;
}

// In felt or raw forces: the summary rows, the exceedances and the value
// range of every plot.
val ViewOf(const ui::ProfileModel& model, ui::ForceView view) {
    val v = val::object();
    val rows = val::array();
    for (const ui::SummaryRow& row : ui::SummaryRows(model, view)) {
        val r = val::object();
        r.set("label", row.label);
        r.set("loaded", row.loaded);
        r.set("rebuilt", row.rebuilt);
        r.set("toolTip", row.toolTip);
        r.set("loadedAt", Number(row.loadedAt));
        r.set("rebuiltAt", Number(row.rebuiltAt));
        r.set("verdict", std::string(ui::VerdictName(row.verdict)));
        r.set("verdictText", row.verdictText);
        rows.call<void>("push", r);
    }
    v.set("summary", rows);
    val exceedances = val::array();
    for (const ui::ExceedanceRow& row : ui::ExceedanceRows(model, view)) {
        val e = val::object();
        e.set("which", std::string(row.which == ui::Which::Loaded ? "loaded" : "rebuilt"));
        e.set("text", row.text);
        e.set("distance", row.distance);
        exceedances.call<void>("push", e);
    }
    v.set("exceedances", exceedances);
    v.set("noExceedance", ui::NoExceedanceText(view));
    val ranges = val::object();
    for (ui::Quantity q : ui::kQuantities) {
        const ui::Range r = ui::PlotRange(model, q, view);
        val pair = val::array();
        pair.call<void>("push", r.lo);
        pair.call<void>("push", r.hi);
        ranges.set(kQuantityNames[static_cast<size_t>(q)], pair);
    }
    v.set("ranges", ranges);
    return v;
}

// ---- The 3D view ----------------------------------------------------------------------

template <typename T>
val TypedArray(const char* type, const std::vector<T>& values) {
    val view = val(emscripten::typed_memory_view(values.size(), values.data()));
    return val::global(type).new_(view);
}

val Floats(const std::vector<float>& values) {
    return TypedArray("Float32Array", values);
}

val MeshValue(const scene::TriangleMesh& mesh) {
    val m = val::object();
    m.set("positions", Floats(mesh.positions));
    m.set("normals", Floats(mesh.normals));
    m.set("colours", Floats(mesh.colours));
    m.set("indices", TypedArray("Uint32Array", mesh.indices));
    return m;
}

// [a, b, c]
template <typename T>
val Triple(T a, T b, T c) {
    val triple = val::array();
    for (T v : {a, b, c}) triple.call<void>("push", v);
    return triple;
}

val RgbValue(const scene::Rgb& c) {
    return Triple(c.r, c.g, c.b);
}

val LineValue(const scene::LineStrip& line) {
    val l = val::object();
    l.set("positions", Floats(line.positions));
    l.set("colour", RgbValue(line.colour));
    return l;
}

val VecValue(const scene::Vecd& v) {
    return Triple(v.x, v.y, v.z);
}

// The legend of a channel: its name, stops {g, colour} and the exceedance colours.
val LegendValue(scene::ForceChannel channel) {
    const scene::ColourScale& scale = scene::ScaleOf(channel);
    val legend = val::object();
    legend.set("name", std::string(scale.name));
    val stops = val::array();
    for (const scene::ScaleStop& stop : scale.stops) {
        val s = val::object();
        s.set("g", stop.g);
        s.set("colour", RgbValue(stop.colour));
        stops.call<void>("push", s);
    }
    legend.set("stops", stops);
    legend.set("exceed", RgbValue(scene::kExceedColour));
    legend.set("noForce", RgbValue(scene::kNoForceColour));
    return legend;
}

// Everything the 3D panel draws, as the window draws it: the meshes and
// lines, and the path that the page's SceneView (on the page's own engine)
// picks on and rides along.
val SceneValue(const scene::TrackScene& s) {
    val m = val::object();
    m.set("track", MeshValue(s.track));
    m.set("ties", static_cast<double>(s.ties));
    m.set("railLines", TypedArray("Uint32Array", s.railLines));
    m.set("chunks", TypedArray("Float64Array", scene::ChunkNumbers(s.chunks)));
    m.set("fullVertices", static_cast<double>(s.fullVertices));
    m.set("drawnHeart", LineValue(s.drawnHeart));
    m.set("rebuiltHeart", LineValue(s.rebuiltHeart));
    m.set("valley", MeshValue(s.valleyMarker));
    val path = val::object();
    path.set("distance", Numbers(s.path.distance));
    path.set("speed", Numbers(s.path.speed));
    path.set("vertical", Numbers(s.path.felt.vertical));
    path.set("lateral", Numbers(s.path.felt.lateral));
    path.set("longitudinal", Numbers(s.path.felt.longitudinal));
    path.set("rail", Floats(s.path.rail));
    path.set("eye", Floats(s.path.eye));
    path.set("forward", Floats(s.path.forward));
    path.set("up", Floats(s.path.up));
    m.set("path", path);
    val bounds = val::object();
    bounds.set("min", VecValue(s.bounds.min));
    bounds.set("max", VecValue(s.bounds.max));
    m.set("bounds", bounds);
    m.set("legend", LegendValue(s.channel));
    return m;
}

template <typename T>
std::vector<T> VectorOf(const val& array) {
    return emscripten::convertJSArrayToNumberVector<T>(array);
}

}  // namespace

// The 3D panel's camera, pick and ride on the page's own thread: made from
// the path of a scene the worker built, so the pointer is answered at once.
class SceneView {
  public:
    SceneView(const val& path, const val& bounds) {
        path_.distance = VectorOf<double>(path["distance"]);
        path_.speed = VectorOf<double>(path["speed"]);
        path_.felt.vertical = VectorOf<double>(path["vertical"]);
        path_.felt.lateral = VectorOf<double>(path["lateral"]);
        path_.felt.longitudinal = VectorOf<double>(path["longitudinal"]);
        path_.rail = VectorOf<float>(path["rail"]);
        path_.eye = VectorOf<float>(path["eye"]);
        path_.forward = VectorOf<float>(path["forward"]);
        path_.up = VectorOf<float>(path["up"]);
        const auto vec = [](const val& a) {
            return scene::Vecd{a[0].as<double>(), a[1].as<double>(), a[2].as<double>()};
        };
        bounds_.min = vec(bounds["min"]);
        bounds_.max = vec(bounds["max"]);
        camera_.Reset(bounds_, path_.rail);
    }

    int Size() const { return static_cast<int>(path_.size()); }
    // The whole track in a view `aspect` times as wide as high.
    void Reset(double aspect) { camera_.Reset(bounds_, path_.rail, aspect); }
    void Orbit(double yaw, double pitch) { camera_.Orbit(yaw, pitch); }
    void Pan(double right, double up) { camera_.Pan(right, up); }
    void Zoom(double factor) { camera_.Zoom(factor); }
    double Distance() const { return camera_.Distance(); }
    double Radius() const { return bounds_.Radius(); }
    // "left", "right", "up", "down", "in", "out", "reset"; false for another key.
    bool Key(const std::string& name, bool shift, double aspect) {
        static const std::pair<const char*, scene::ViewKey> kKeys[] = {
            {"left", scene::ViewKey::Left}, {"right", scene::ViewKey::Right},
            {"up", scene::ViewKey::Up},     {"down", scene::ViewKey::Down},
            {"in", scene::ViewKey::ZoomIn}, {"out", scene::ViewKey::ZoomOut},
            {"reset", scene::ViewKey::Reset}};
        for (const auto& [keyName, key] : kKeys) {
            if (name != keyName) continue;
            scene::PressKey(camera_, key, shift, bounds_, path_.rail, aspect);
            return true;
        }
        return false;
    }
    // {eye, target, up} of the orbit, or of the rider at `distance` when `ride`.
    val Look(bool ride, double distance) const {
        const scene::CameraLook look =
            ride && path_.size() > 0 ? scene::RiderLook(path_, distance) : camera_.Look();
        val l = val::object();
        l.set("eye", VecValue(look.eye));
        l.set("target", VecValue(look.target));
        l.set("up", VecValue(look.up));
        return l;
    }
    int Pick(double ox, double oy, double oz, double dx, double dy, double dz, double maxAngle) const {
        const auto hit = scene::PickSample(path_, {{ox, oy, oz}, {dx, dy, dz}}, maxAngle);
        return hit ? static_cast<int>(*hit) : -1;
    }
    double SampleDistance(int sample) const {
        return sample >= 0 && sample < Size() ? path_.distance[static_cast<size_t>(sample)] : 0.0;
    }
    std::string HoverText(int sample) const {
        return sample >= 0 ? scene::HoverText(path_, static_cast<size_t>(sample)) : std::string();
    }
    double RideOn(double distance, double seconds) const {
        return scene::RideOn(path_, distance, seconds);
    }
    double End() const { return path_.size() > 0 ? path_.distance.back() : 0.0; }
    // The cursor's marker over the track at `distance`.
    val Marker(double distance) const {
        if (path_.size() == 0) return MeshValue({});
        const scene::Pose pose = scene::PoseAt(path_, distance);
        return MeshValue(scene::MarkerMesh(pose.rail + kMarkerLift * pose.up, kMarkerSize,
                                           scene::kCursorColour));
    }
    val MarkerPoint(double distance) const {
        const scene::Pose pose = scene::PoseAt(path_, distance);
        return VecValue(pose.rail + kMarkerLift * pose.up);
    }
    // The track's chunks (the scene's `chunks` numbers) for DrawList.
    void SetChunks(const val& numbers, double fullVertices) {
        chunks_ = scene::ChunksFromNumbers(VectorOf<double>(numbers));
        fullVertices_ = static_cast<size_t>(fullVertices);
    }
    // What a frame draws seen through `viewProjection` (16 numbers,
    // column-major) from the eye: {triangles, lines}, each first, count, ...
    val DrawList(const val& viewProjection, double ex, double ey, double ez, double focalPixels) const {
        scene::ViewVolume view;
        const std::vector<double> m = VectorOf<double>(viewProjection);
        if (m.size() == view.viewProjection.size()) std::copy(m.begin(), m.end(), view.viewProjection.begin());
        view.eye = {ex, ey, ez};
        view.focalPixels = focalPixels;
        const scene::DrawList list = scene::ChooseDetail(chunks_, fullVertices_, view);
        const auto flat = [](const std::vector<scene::IndexRange>& ranges) {
            std::vector<uint32_t> out;
            for (const scene::IndexRange& r : ranges) out.insert(out.end(), {r.first, r.count});
            return TypedArray("Uint32Array", out);
        };
        val l = val::object();
        l.set("triangles", flat(list.triangles));
        l.set("lines", flat(list.lines));
        return l;
    }

  private:
    static constexpr double kMarkerLift = 1.8;
    static constexpr double kMarkerSize = 2.2;
    scene::ScenePath path_;
    scene::Bounds bounds_;
    scene::OrbitCamera camera_;
    std::vector<scene::TrackChunk> chunks_;
    size_t fullVertices_ = 0;
};

namespace {

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
        sentAt_ = -1.0;
        sentFraction_ = -1.0;
        val m = sink_.Message("progressVisible");
        m.set("visible", visible);
        sink_.Send(m);
    }

    // The page's bar moves at most 25 times a second, as the window's is
    // redrawn: a run counts up to 32767 steps, and every message sent costs
    // the run time in the worker and a restyle on the page. The first step
    // and the last one are always sent.
    void SetProgress(double fraction) override {
        const double now = emscripten_get_now();
        const bool last = fraction >= 1.0;
        if (sentAt_ >= 0.0 && !last && now - sentAt_ < kProgressIntervalMs) return;
        if (fraction == sentFraction_) return;
        sentAt_ = now;
        sentFraction_ = fraction;
        val m = sink_.Message("progress");
        m.set("fraction", fraction);
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
    static constexpr double kProgressIntervalMs = 40.0;
    double sentAt_ = -1.0;  // when the last step was sent, -1: none yet
    double sentFraction_ = -1.0;
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

    Result Load(const std::string& path, TrackData& track) override {
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
            ++downloads_;
        }
        return result;
    }
    // How many saves the page has handed over as downloads.
    int Downloads() const { return downloads_; }
    EndAnalysis Analyse(const TrackData& track) override { return core_.Analyse(track); }
    HeartlineResult Generate(TrackData& track, const HeartlineSettings& settings,
                             ProgressFeedback* progress) override {
        HeartlineResult result = core_.Generate(track, settings, progress);
        lastRun_ = Run{result.status, settings};
        return result;
    }
    std::optional<double> AdvisedStartSpeed() const override { return core_.AdvisedStartSpeed(); }

    // The status and settings of the run the last action made, if it made one.
    struct Run {
        Status status;
        HeartlineSettings settings;
    };
    std::optional<Run> TakeLastRun() { return std::exchange(lastRun_, std::nullopt); }

  private:
    const Sink& sink_;
    ui::CoreTrackOperations core_;
    std::optional<Run> lastRun_;
    int downloads_ = 0;
};

}  // namespace

// The window, driven by the page.
class Window {
  public:
    // `copyOut(view)`: a Float64Array of its own with the numbers of `view`
    // (a view into the engine's memory), the profile's arrays for the page.
    Window(val post, val copyOut)
        : copyOut_(std::move(copyOut)), sink_(std::move(post)), view_(sink_), timer_(sink_),
          operations_(sink_), logic_(view_, timer_, chooser_, operations_) {
        ::mkdir(kFolder, 0700);
    }

    void Start() { logic_.Start(); }

    void SetDecimalSeparator(const std::string& separator) {
        view_.TakeDecimalSeparator(separator);
    }

    // The page's "Smooth ride" switch, sent with every action.
    void SetSmoothRide(bool on) { logic_.SetSmoothRide(on); }

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
        loadedProfile_.reset();
        loadedSpeeds_.reset();
        loadedSent_ = false;
        logic_.LoadClicked();
        std::remove(path.c_str());
        const bool loaded = logic_.TrackLoaded() && logic_.TrackFileName() == path;
        SendResultState(false);
        if (!loaded) {
            // Unlike the window, the page then shows no track at all: the old
            // one's name, lights, plots and message would promise a track that
            // Heartline and Save no longer act on.
            val m = sink_.Message("unloaded");
            m.set("name", path.substr(std::string(kFolder).size()));
            sink_.Send(m);
            SendActionOver();
            return;
        }
        stem_ = Stem(path);
        val m = sink_.Message("loaded");
        m.set("name", path.substr(std::string(kFolder).size()));
        sink_.Send(m);
        SendActionOver();
        SendProfiles(FieldSettings(), false, false, std::nullopt);
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
        // A refused setting keeps the result there was; a run replaces it or drops it.
        if (run && run->status != Status::InvalidSettings) {
            SendResultState(run->status == Status::Ok);
        }
        // The result can be saved from here on; the profiles follow.
        SendActionOver();
        if (!run || run->status == Status::InvalidSettings) return;
        const HeartlineSettings& p = run->settings;
        SendProfiles(p, true, run->status == Status::Ok,
                     run->status == Status::Valleyed ? std::optional(p) : std::nullopt);
    }

    // The profile of the loaded or the rebuilt track as CSV, the file
    // `cv-qrn-cli profile --csv` writes, as a download named after the track.
    void ProfileCsv(const std::string& which) {
        const bool rebuilt = which == "rebuilt";
        const RideProfile* profile =
            ui::ProfileOf(profiles_, rebuilt ? ui::Which::Rebuilt : ui::Which::Loaded);
        if (profile == nullptr) return;
        std::ostringstream out;
        WriteProfileCsv(*profile, out);
        const std::string text = out.str();
        val m = sink_.Message("download");
        m.set("name", ui::ExportPath(stem_ + ".cvtrack", rebuilt ? "-hl-profile" : "-profile", "csv"));
        m.set("bytes", Bytes(std::vector<uint8_t>(text.begin(), text.end())));
        sink_.Send(m);
    }

    // Save as "<loaded name>-hl.cvtrack"; the page receives it as a download.
    // `inPlace`: the user has answered Yes to the in-place question this save
    // asked before.
    void Save(bool inPlace) {
        chooser_.Answer(kFolder + stem_ + "-hl.cvtrack");
        view_.AnswerNextQuestion(inPlace ? std::optional(true) : std::nullopt);
        const int downloadsBefore = operations_.Downloads();
        logic_.SaveClicked();
        view_.AnswerNextQuestion(std::nullopt);
        if (operations_.Downloads() != downloadsBefore) SendResultState(false);
    }

    // The 3D panel's scene of the profiles last sent, coloured by `channel`
    // ("Vertical", "Lateral" or "Longitudinal"): before a run the loaded
    // track, after one the rebuilt rail, with both heart paths.
    void Scene(const std::string& channel) {
        scene::SceneInput input;
        scene::ChannelFromName(channel, input.channel);
        const auto usable = [](const std::optional<RideProfile>& p) {
            return p && *p && !p->samples.empty() ? &*p : nullptr;
        };
        input.drawnHeart = usable(profiles_.loaded);
        input.rebuiltHeart = usable(profiles_.rebuilt);
        input.track = input.rebuiltHeart != nullptr ? input.rebuiltHeart : input.drawnHeart;
        input.valley = valley_;
        val m = SceneValue(scene::BuildTrackScene(input));
        m.set("type", std::string("scene"));
        sink_.Send(m);
    }

    void PrecisionLostFocus() { logic_.PrecisionLostFocus(); }
    void TimerFired() { logic_.MessageTimerFired(); }

  private:
    // The plots: the loaded track (heart on the rail) and, after a successful
    // run (`rebuilt`), the rebuilt one (heart at the heartline distance) with
    // the rebuild that made it, at `settings`' speeds; after a valley
    // (`valleyed`, the run's settings), where the train stops on the loaded
    // track as the run's message gives it, and the advice. After a run
    // (`afterRun`) that failed, the caption says so. The model stays for the CSV exports and the 3D
    // panel.
    void SendProfiles(const HeartlineSettings& settings, bool afterRun, bool rebuilt,
                      const std::optional<HeartlineSettings>& valleyed) {
        ui::ProfileRequest request =
            ui::MakeProfileRequest(logic_.LoadedTrack(), rebuilt ? &logic_.WorkTrack() : nullptr,
                                   settings);
        request.afterRun = afterRun;
        request.trackPath = stem_ + ".cvtrack";
        // The loaded track's profile is kept for the next run at the same speeds.
        const std::pair speeds(settings.startspeed, settings.endspeed);
        if (!loadedProfile_ || loadedSpeeds_ != speeds) {
            loadedProfile_ =
                ui::ProfileTrack(*request.loaded, ui::ProfileSettingsFor(request, ui::Which::Loaded));
            loadedSpeeds_ = speeds;
            loadedSent_ = false;
        }
        std::optional<ui::TrackProfile> rebuiltProfile;
        if (request.rebuilt) {
            rebuiltProfile = ui::ProfileTrack(*request.rebuilt,
                                              ui::ProfileSettingsFor(request, ui::Which::Rebuilt));
        }
        profiles_ = ui::AssembleProfileModel(request, loadedProfile_, std::move(rebuiltProfile));
        std::optional<ValleyStop> stop;
        if (valleyed) {
            const ValleyResult found =
                FindValley(logic_.LoadedTrack(), *valleyed, valleyed->startspeed);
            if (found.status == Status::Valleyed) stop = found.stop;
        }
        // The 3D panel marks the stop where the window's does.
        valley_.reset();
        if (stop) valley_ = ProfilePoint{stop->x, stop->y, stop->z};

        val m = sink_.Message("profile");
        // The page keeps the loaded track's arrays of the last message: the
        // same profile is not copied and sent again after every run.
        m.set("loaded", loadedSent_ ? val("unchanged")
                                    : TrackProfileOf(profiles_, ui::Which::Loaded, copyOut_));
        loadedSent_ = true;
        m.set("rebuilt", TrackProfileOf(profiles_, ui::Which::Rebuilt, copyOut_));
        m.set("rebuild", rebuilt ? ui::RebuildName(settings.smooth) : std::string());
        m.set("stop", stop ? val(stop->distance) : val::null());
        m.set("note", stop ? ui::ValleyNote(*stop, operations_.AdvisedStartSpeed()) : std::string());
        m.set("caption", profiles_.caption);
        m.set("heartline", settings.heartline);
        m.set("felt", ViewOf(profiles_, ui::ForceView::Felt));
        m.set("raw", ViewOf(profiles_, ui::ForceView::Raw));
        m.set("comfortNote", std::string(ui::kComfortNote));
        val extents = val::object();
        for (const auto& [name, axis] : {std::pair{"distance", ui::XAxis::Distance},
                                         std::pair{"time", ui::XAxis::Time}}) {
            const ui::Range r = ui::XExtent(profiles_, axis);
            val pair = val::array();
            pair.call<void>("push", r.lo);
            pair.call<void>("push", r.hi);
            extents.set(name, pair);
        }
        m.set("extents", extents);
        val titles = val::object();
        for (ui::Quantity q : ui::kQuantities) {
            titles.set(kQuantityNames[static_cast<size_t>(q)], ui::PlotTitle(q));
        }
        titles.set("distance", ui::XAxisTitle(ui::XAxis::Distance));
        titles.set("time", ui::XAxisTitle(ui::XAxis::Time));
        m.set("titles", titles);
        sink_.Send(m);
    }

    // The six settings as the fields and the switch read now (before a run).
    HeartlineSettings FieldSettings() const {
        const auto integer = [this](Field field) {
            return ui::RoundToInt16(ui::ReadNumber(view_.FieldText(field))).value_or(int16_t{0});
        };
        HeartlineSettings settings;
        settings.segments = integer(Field::Segments);
        settings.precision = integer(Field::Precision);
        settings.filter = integer(Field::Filter);
        settings.heartline = ui::ReadNumber(view_.FieldText(Field::Heartline));
        settings.startspeed = ui::ReadNumber(view_.FieldText(Field::StartSpeed));
        settings.endspeed = ui::ReadNumber(view_.FieldText(Field::EndSpeed));
        settings.smooth = logic_.SmoothRide();
        return settings;
    }

    // The user's part of the action is over (the profiles may still follow):
    // the page takes the next Load, Heartline or Save from here.
    void SendActionOver() { sink_.Send(sink_.Message("actionOver")); }

    // Whether a result waits that has not been saved, for the page's warning
    // before it is left.
    void SendResultState(bool unsaved) {
        val m = sink_.Message("resultState");
        m.set("unsaved", unsaved);
        sink_.Send(m);
    }

    val copyOut_;
    Sink sink_;
    PageView view_;
    PageTimer timer_;
    PageChooser chooser_;
    PageOperations operations_;
    ui::WindowLogic logic_;
    std::string stem_;
    // The profiles last sent, for the CSV exports and the 3D panel.
    ui::ProfileModel profiles_;
    // The loaded track's profile and the speeds it was worked out at; reset by a load.
    std::optional<ui::TrackProfile> loadedProfile_;
    std::optional<std::pair<double, double>> loadedSpeeds_;
    // The page holds the arrays of `loadedProfile_` from an earlier message.
    bool loadedSent_ = false;
    std::optional<ProfilePoint> valley_;
};

// The key filter of the parameter fields, for one typed character.
int FilterKey(const std::string& text, int caret, int key, bool allowDecimal, bool allowMinus) {
    return ui::FilterNumericKey(text, caret, key, allowDecimal, allowMinus);
}

// The "Smooth ride" switch's caption and tool tip.
val SmoothSpec() {
    val spec = val::object();
    spec.set("caption", std::string(ui::kSmoothCaption));
    spec.set("toolTip", std::string(ui::kSmoothPlace.toolTip));
    return spec;
}

// The design data of the twelve fields, in tab order: the six parameter
// fields, then the six display fields.
val FieldSpecs() {
    val list = val::array();
    for (const ui::FieldSpec& spec : ui::kFieldSpecs) {
        val f = val::object();
        f.set("name", std::string(spec.name));
        f.set("caption", std::string(ui::PlaceOf(spec.field).caption));
        f.set("text", ui::InitialText(spec.field));
        f.set("toolTip", std::string(spec.toolTip));
        f.set("parameter", spec.parameter);
        f.set("allowDecimal", spec.allowDecimal);
        f.set("allowMinus", spec.allowMinus);
        list.call<void>("push", f);
    }
    return list;
}

// The recommended heartlines the window's table plate lists, in its order,
// and how many rows a column of the table holds.
val RecommendedHeartlines() {
    val list = val::array();
    for (const ui::RecommendedHeartline& row : ui::kRecommendedHeartlines) {
        val r = val::object();
        r.set("style", std::string(row.style));
        r.set("metres", std::string(row.metres));
        list.call<void>("push", r);
    }
    val table = val::object();
    table.set("rows", list);
    table.set("rowsPerColumn", ui::kRecommendedRowsPerColumn);
    return table;
}

// The window's texts the page shows on its own: the heads of the track data
// grid and the title of the box for a file it refuses (loadRefusedText gives
// the box's text).
val Texts() {
    val texts = val::object();
    val columns = val::array();
    for (const char* head : ui::kDataColumnHeads) columns.call<void>("push", std::string(head));
    val rows = val::array();
    for (const char* head : ui::kDataRowHeads) rows.call<void>("push", std::string(head));
    texts.set("dataColumnHeads", columns);
    texts.set("dataRowHeads", rows);
    texts.set("loadErrorTitle", std::string(ui::kLoadErrorTitle));
    return texts;
}

EMSCRIPTEN_BINDINGS(cvqrn) {
    emscripten::class_<Window>("Window")
        .constructor<val, val>()
        .function("start", &Window::Start)
        .function("setDecimalSeparator", &Window::SetDecimalSeparator)
        .function("setSmoothRide", &Window::SetSmoothRide)
        .function("setFields", &Window::SetFields)
        .function("load", &Window::Load)
        .function("heartline", &Window::Heartline)
        .function("save", &Window::Save)
        .function("precisionLostFocus", &Window::PrecisionLostFocus)
        .function("timerFired", &Window::TimerFired)
        .function("scene", &Window::Scene)
        .function("profileCsv", &Window::ProfileCsv);
    emscripten::class_<SceneView>("SceneView")
        .constructor<val, val>()
        .function("size", &SceneView::Size)
        .function("reset", &SceneView::Reset)
        .function("orbit", &SceneView::Orbit)
        .function("pan", &SceneView::Pan)
        .function("zoom", &SceneView::Zoom)
        .function("distance", &SceneView::Distance)
        .function("radius", &SceneView::Radius)
        .function("key", &SceneView::Key)
        .function("look", &SceneView::Look)
        .function("pick", &SceneView::Pick)
        .function("sampleDistance", &SceneView::SampleDistance)
        .function("hoverText", &SceneView::HoverText)
        .function("rideOn", &SceneView::RideOn)
        .function("end", &SceneView::End)
        .function("marker", &SceneView::Marker)
        .function("markerPoint", &SceneView::MarkerPoint)
        .function("setChunks", &SceneView::SetChunks)
        .function("drawList", &SceneView::DrawList);
    emscripten::function("fieldOfView", +[](bool ride) {
        return ride ? scene::kRideFieldOfViewDeg : scene::kFieldOfViewDeg;
    });
    emscripten::function("filterKey", &FilterKey);
    emscripten::function("fieldSpecs", &FieldSpecs);
    emscripten::function("smoothSpec", &SmoothSpec);
    emscripten::function("recommendedHeartlines", &RecommendedHeartlines);
    emscripten::function("texts", &Texts);
    emscripten::function("loadRefusedText", &ui::LoadRefusedText);
}

}  // namespace cvqrn::web
