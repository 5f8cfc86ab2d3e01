// Doubles for the window's logic: a view and message timer that keep what they
// are told, a scripted file chooser and scripted core operations.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frontend/window_logic.h"

namespace cvqrn::ui::test {

// Also the message timer, which keeps when it would fire (-1: stopped).
struct FakeView : WindowView, MessageTimer {
    FakeView() {
        for (const FieldSpec& spec : kFieldSpecs) fields[spec.field] = InitialText(spec.field);
    }
    std::string FieldText(Field field) const override { return fields.at(field); }
    void SetFieldText(Field field, const std::string& text) override { fields[field] = text; }
    void SetLightVisible(Light, bool) override {}
    void SetProgressVisible(bool visible) override { barVisible = visible; }
    // The bar as the Qt window draws it.
    void SetProgress(double fraction) override { shapes.push_back(ProgressBarShape(fraction)); }
    void SetMessageText(const std::string& text) override { message = text; }
    void ShowMessageBox(const MessageBoxRequest& request) override { boxes.push_back(request); }
    bool AskYesNo(const MessageBoxRequest& request) override {
        questions.push_back(request);
        return answerYes;
    }
    void ArmSkipNextMove() override {}
    std::string DecimalSeparator() const override { return "."; }
    void Start(int32_t intervalMs) override { deadline = intervalMs; }
    void Stop() override { deadline = -1; }

    std::map<Field, std::string> fields;
    std::string message;
    bool barVisible = false;
    std::vector<BarShape> shapes;
    std::vector<MessageBoxRequest> boxes;
    std::vector<MessageBoxRequest> questions;
    bool answerYes = false;
    int32_t deadline = -1;
};

struct FakeChooser : FileChooser {
    std::optional<ChooserAnswer> Choose(const ChooserRequest& request) override {
        requests.push_back(request);
        auto answer = answers.empty() ? std::nullopt : answers.front();
        if (!answers.empty()) answers.pop_front();
        return answer;
    }
    // Queues the user's choice of `path`; an empty path is a cancel.
    void Next(const std::string& path) {
        if (path.empty()) return answers.push_back(std::nullopt);
        answers.push_back(ChooserAnswer{path, path.substr(path.rfind('/') + 1), 0, 1});
    }
    std::deque<std::optional<ChooserAnswer>> answers;
    std::vector<ChooserRequest> requests;
};

// Tracks are told apart by their vertex count: a loaded track has 7, a good
// run makes one of 1000 * old count + segments + 1.
struct FakeOperations : TrackOperations {
    Result Load(const std::string&, TrackData& track) override {
        if (outOfMemory) throw std::bad_alloc();
        if (!loadOk) return Failure(Status::InvalidFile, "not a track file");
        track.Bezr.VertexCount = 7;
        if (afterLoad) afterLoad(track);
        return {};
    }
    // With `folderRefuses` only an in-place save goes through.
    SaveResult Save(const std::string& path, TrackData& track,
                    const SaveOptions& options) override {
        saved.push_back(path + " " + std::to_string(track.Bezr.VertexCount) +
                        (options.inPlace ? " in place" : ""));
        if (folderRefuses && !options.inPlace) {
            return {Failure(Status::InPlacePossible, "no new file"), path};
        }
        if (!saveOk) return {Failure(Status::IoError, "Permission denied"), path};
        return {{}, path, 0, saveNote};
    }
    EndAnalysis Analyse(const TrackData& track) override {
        analysed.push_back(track.Bezr.VertexCount);
        return {12.3456, 1.5, -2.25, -1.0, 0.0, -1.0};
    }
    // Reports `progress` step by step, then ends with `runStatus`.
    HeartlineResult Generate(TrackData& track, const HeartlineSettings& settings,
                             ProgressFeedback* feedback) override {
        runs.push_back(settings);
        if (outOfMemory) throw std::bad_alloc();
        for (const auto& [done, total] : progress) feedback->feedback(done, total);
        // The run may raise the filter; the field must not see it.
        const HeartlineResult result{{runStatus, runDetail, runInternalDetail}, 999};
        if (result) track.Bezr.VertexCount = track.Bezr.VertexCount * 1000 + settings.segments + 1;
        return result;
    }
    std::optional<double> AdvisedStartSpeed() const override { return advice; }

    bool loadOk = true, saveOk = true, folderRefuses = false;
    bool outOfMemory = false;  // Load and Generate throw std::bad_alloc
    std::string saveNote;
    Status runStatus = Status::Ok;
    std::string runDetail, runInternalDetail;
    std::optional<double> advice;  // what the valley search of the last run found
    std::vector<std::pair<int32_t, int32_t>> progress;
    std::function<void(TrackData&)> afterLoad;
    std::vector<HeartlineSettings> runs;
    std::vector<std::string> saved;  // "path vertexcount"
    std::vector<int32_t> analysed;   // vertex counts of the analysed tracks
};

struct LogicRig {
    FakeView view;
    FakeChooser chooser;
    FakeOperations operations;
    WindowLogic logic{view, view, chooser, operations};

    LogicRig() { logic.Start(); }
    void Load(const std::string& path = "/t/a.cvtrack") {
        chooser.Next(path);
        logic.LoadClicked();
    }
    void Save(const std::string& path = "/t/b.cvtrack") {
        chooser.Next(path);
        logic.SaveClicked();
    }
};

}  // namespace cvqrn::ui::test
