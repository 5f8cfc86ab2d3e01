// Test doubles for the window's logic: a view that records what it is told, a
// timer on a fake clock, a scripted file chooser and scripted core operations.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/window_logic.h"

namespace cvqrn::ui::test {

// Every call the logic makes is appended to a shared log, so tests can check
// the order of the steps.
using Log = std::vector<std::string>;

class FakeView : public WindowView {
  public:
    explicit FakeView(Log& log) : log_(log) {
        for (const FieldSpec& spec : kFieldSpecs) fields[spec.field] = spec.initialText;
    }
    std::string FieldText(Field field) const override {
        log_.push_back(std::string("read ") + SpecOf(field).name);
        return fields.at(field);
    }
    void SetFieldText(Field field, const std::string& text) override {
        log_.push_back(std::string("write ") + SpecOf(field).name + " " + text);
        fields[field] = text;
    }
    void SetLightVisible(Light light, bool visible) override {
        log_.push_back("light" + std::to_string(static_cast<int>(light) + 1) +
                       (visible ? " on" : " off"));
    }
    void SetProgressVisible(bool visible) override {
        log_.push_back(visible ? "bar shown" : "bar hidden");
        barVisible = visible;
    }
    void SetProgressShape(const BarShape& shape) override { shapes.push_back(shape); }
    void SetMessageText(const std::string& text) override {
        log_.push_back("message '" + text + "'");
        message = text;
    }
    void ShowMessageBox(const MessageBoxRequest& request) override {
        log_.push_back("box " + request.title);
        boxes.push_back(request);
    }
    void ArmSkipNextMove() override { log_.push_back("arm skip"); }
    std::string DecimalSeparator() const override { return separator; }

    std::map<Field, std::string> fields;
    std::string message;
    std::string separator = ".";
    bool barVisible = false;
    std::vector<BarShape> shapes;
    std::vector<MessageBoxRequest> boxes;

  private:
    Log& log_;
};

// A one-shot timer on a fake clock: Advance() fires it when its interval has run out.
class FakeTimer : public MessageTimer {
  public:
    void Start(int32_t intervalMs) override {
        running = true;
        deadline = now + intervalMs;
    }
    void Stop() override { running = false; }
    // Moves the clock to `ms`, firing the timer on `logic` when it runs out on the way.
    void AdvanceTo(int64_t ms, WindowLogic& logic) {
        if (running && deadline <= ms) {
            now = deadline;
            logic.MessageTimerFired();
        }
        now = ms;
    }
    int64_t now = 0;
    int64_t deadline = 0;
    bool running = false;
};

class FakeChooser : public FileChooser {
  public:
    explicit FakeChooser(Log& log) : log_(log) {}
    std::optional<ChooserAnswer> Choose(const ChooserRequest& request) override {
        log_.push_back(request.kind == DialogKind::Open ? "open dialog" : "save dialog");
        requests.push_back(request);
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        if (answer) answer->flags = request.flags;
        return answer;
    }
    // Queues the user's choice of `path`, or a cancel for an empty path.
    void Next(const std::string& path) {
        if (path.empty()) {
            answers.push_back(std::nullopt);
        } else {
            answers.push_back(ChooserAnswer{path, path.substr(path.rfind('/') + 1), 0, 1});
        }
    }
    std::deque<std::optional<ChooserAnswer>> answers;
    std::vector<ChooserRequest> requests;

  private:
    Log& log_;
};

// A track whose vertex count tells the tests which track a step worked on.
inline TrackData TrackWithVertices(int32_t count) {
    TrackData track;
    track.Bezr.VertexCount = count;
    track.Bezr.Vertices.resize(static_cast<size_t>(count) + 1);
    return track;
}

class FakeOperations : public TrackOperations {
  public:
    explicit FakeOperations(Log& log) : log_(log) {}

    LoadResult Load(const std::string& path, TrackData& track) override {
        log_.push_back("load " + path);
        if (!loadOk) return {false, "not a track file"};
        track = TrackWithVertices(loadVertices);
        return {true, ""};
    }
    SaveResult Save(const std::string& path, TrackData& track) override {
        log_.push_back("save " + path);
        savedVertices.push_back(track.Bezr.VertexCount);
        if (!saveOk) return {false, path, "Permission denied"};
        return {true, path, ""};
    }
    EndAnalysis Analyse(const TrackData& track) override {
        log_.push_back("analyse " + std::to_string(track.Bezr.VertexCount));
        return ends;
    }
    HeartlineResult Generate(TrackData& track, HeartlineParameters& parameters,
                             ProgressFeedback* progress) override {
        log_.push_back("generate " + std::to_string(track.Bezr.VertexCount));
        runs.push_back(parameters);
        for (int32_t step = 1; step <= progressSteps; ++step)
            progress->feedback(step, progressSteps);
        parameters.filter = 999;  // the run may raise the filter; the field must not see it
        HeartlineResult result;
        result.status = runStatus;
        result.detail = runDetail;
        if (runStatus == HeartlineStatus::Ok) {
            // A run rewrites the track: one vertex per new segment plus one.
            track = TrackWithVertices(track.Bezr.VertexCount * 1000 + parameters.segments + 1);
        }
        return result;
    }

    bool loadOk = true;
    int32_t loadVertices = 7;
    bool saveOk = true;
    EndAnalysis ends{12.3456, 1.5, -2.25, -1.0, 0.0, -1.0};
    HeartlineStatus runStatus = HeartlineStatus::Ok;
    std::string runDetail;
    int32_t progressSteps = 0;
    std::vector<HeartlineParameters> runs;
    std::vector<int32_t> savedVertices;

  private:
    Log& log_;
};

// The logic wired to fresh doubles and started.
struct LogicRig {
    Log log;
    FakeView view{log};
    FakeTimer timer;
    FakeChooser chooser{log};
    FakeOperations operations{log};
    WindowLogic logic{view, timer, chooser, operations};

    LogicRig() {
        logic.Start();
        log.clear();
    }
    void Load(const std::string& path = "/tracks/a.cvtrack") {
        chooser.Next(path);
        logic.LoadClicked();
    }
    void Save(const std::string& path = "/tracks/b.cvtrack") {
        chooser.Next(path);
        logic.SaveClicked();
    }
};

}  // namespace cvqrn::ui::test
