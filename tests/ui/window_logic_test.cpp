// The window's flow: the state table, the order of each action's steps, the
// end-analysis display, the precision clamp, the message line and the bar.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>

#include "tests/ui/logic_doubles.h"

namespace cvqrn::ui::test {
namespace {

// The position of the first entry of `log` equal to `entry`, or -1.
long IndexOf(const Log& log, const std::string& entry) {
    const auto it = std::find(log.begin(), log.end(), entry);
    return it == log.end() ? -1 : static_cast<long>(it - log.begin());
}

// ---------------------------------------------------------------------------
// State table and light sequences, one scenario per row.

enum class Step {
    LoadOk,
    LoadFailed,
    LoadCancelled,
    RunOk,
    RunFailed,
    RunRefused,
    SaveOk,
    SaveCancelled,
    SaveFailed,
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
    bool loaded;
    bool modified;
    std::array<bool, 3> lights;
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

void Apply(LogicRig& rig, Step step) {
    auto& ops = rig.operations;
    switch (step) {
        case Step::LoadOk:
        case Step::LoadFailed:
            ops.loadOk = step == Step::LoadOk;
            rig.Load();
            break;
        case Step::LoadCancelled:
            rig.Load("");
            break;
        case Step::RunOk:
        case Step::RunFailed:
        case Step::RunRefused:
            ops.runStatus = step == Step::RunOk       ? HeartlineStatus::Ok
                            : step == Step::RunFailed ? HeartlineStatus::Valleyed
                                                      : HeartlineStatus::Refused;
            rig.logic.HeartlineClicked();
            break;
        case Step::SaveOk:
        case Step::SaveFailed:
            ops.saveOk = step == Step::SaveOk;
            rig.Save();
            break;
        case Step::SaveCancelled:
            rig.Save("");
            break;
    }
}

class FlowStateTable : public ::testing::TestWithParam<Scenario> {};

TEST_P(FlowStateTable, EndsInTheExpectedStateAndLights) {
    const Scenario& scenario = GetParam();
    LogicRig rig;
    for (Step step : scenario.steps) Apply(rig, step);
    EXPECT_EQ(rig.logic.TrackLoaded(), scenario.loaded);
    EXPECT_EQ(rig.logic.TrackModified(), scenario.modified);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rig.logic.LightOn(static_cast<Light>(i)), scenario.lights[static_cast<size_t>(i)])
            << "light " << i + 1;
    }
}

using S = Step;
INSTANTIATE_TEST_SUITE_P(
    Rows, FlowStateTable,
    ::testing::Values(
        Scenario{"StartUp", {}, false, false, {false, false, false}},
        Scenario{"LoadCancelledAtStart", {S::LoadCancelled}, false, false, {false, false, false}},
        Scenario{"LoadCancelledAfterRun",
                 {S::LoadOk, S::RunOk, S::LoadCancelled},
                 true,
                 true,
                 {true, true, false}},
        Scenario{"LoadSucceeded", {S::LoadOk}, true, false, {true, false, false}},
        Scenario{"LoadFailedAtStart", {S::LoadFailed}, false, false, {false, false, false}},
        Scenario{"LoadFailedAfterRunKeepsLights",
                 {S::LoadOk, S::RunOk, S::LoadFailed},
                 false,
                 false,
                 {true, true, false}},
        Scenario{"HeartlineBeforeLoadDoesNothing", {S::RunOk}, false, false, {false, false, false}},
        Scenario{"RunSucceeded", {S::LoadOk, S::RunOk}, true, true, {true, true, false}},
        Scenario{"RunFailed", {S::LoadOk, S::RunFailed}, true, false, {true, false, false}},
        Scenario{"RunFailedAfterRunKeepsLight2",
                 {S::LoadOk, S::RunOk, S::RunFailed},
                 true,
                 false,
                 {true, true, false}},
        Scenario{"RunRefusedChangesNothing",
                 {S::LoadOk, S::RunOk, S::RunRefused},
                 true,
                 true,
                 {true, true, false}},
        Scenario{
            "SaveBeforeRunDoesNothing", {S::LoadOk, S::SaveOk}, true, false, {true, false, false}},
        Scenario{"SaveAfterFailedRunDoesNothing",
                 {S::LoadOk, S::RunOk, S::RunFailed, S::SaveOk},
                 true,
                 false,
                 {true, true, false}},
        Scenario{"SaveCancelled",
                 {S::LoadOk, S::RunOk, S::SaveCancelled},
                 true,
                 true,
                 {true, true, false}},
        Scenario{"Saved", {S::LoadOk, S::RunOk, S::SaveOk}, true, true, {true, true, true}},
        Scenario{"SaveFailedLeavesLight3",
                 {S::LoadOk, S::RunOk, S::SaveFailed},
                 true,
                 true,
                 {true, true, false}},
        Scenario{"RunAfterSaveKeepsAllLights",
                 {S::LoadOk, S::RunOk, S::SaveOk, S::RunOk},
                 true,
                 true,
                 {true, true, true}},
        Scenario{"LoadAfterSaveLeavesOnlyLight1",
                 {S::LoadOk, S::RunOk, S::SaveOk, S::LoadOk},
                 true,
                 false,
                 {true, false, false}}),
    [](const ::testing::TestParamInfo<Scenario>& row) { return std::string(row.param.name); });

// ---------------------------------------------------------------------------
// Load

TEST(FlowLoad, StepsRunInOrderAndTheLoadedCopyIsKept) {
    LogicRig rig;
    rig.Load("/tracks/a.cvtrack");
    const Log expected{
        "arm skip",
        "open dialog",
        "load /tracks/a.cvtrack",
        "light1 on",
        "light2 off",
        "light3 off",
        "analyse 7",
        "write str_radius_in 12.346",
        "write str_tilt_in -2.250",
        "write str_radius_out straight",
        "write str_tilt_out none",
        "write str_slope_in 1.500",
        "write str_slope_out 0.000",
    };
    EXPECT_EQ(rig.log, expected);
    EXPECT_EQ(rig.logic.TrackFileName(), "/tracks/a.cvtrack");
    EXPECT_EQ(rig.logic.LoadedTrack().Bezr.VertexCount, 7);
    EXPECT_EQ(rig.logic.WorkTrack().Bezr.VertexCount, 7);
}

TEST(FlowLoad, OpenDialogGetsTheLoadRequest) {
    LogicRig rig;
    rig.Load("/tracks/a.cvtrack");
    rig.Load("");
    ASSERT_EQ(rig.chooser.requests.size(), 2u);
    const ChooserRequest& first = rig.chooser.requests[0];
    EXPECT_EQ(first.kind, DialogKind::Open);
    EXPECT_EQ(first.title, "Load Track...");
    EXPECT_EQ(first.defaultExt, "cvtrack");
    EXPECT_EQ(first.filter, std::string("Corvane Tracks (*.cvtrack)\0*.cvtrack\0\0", 38));
    EXPECT_EQ(first.filterIndex, 1);
    EXPECT_EQ(first.flags, 0x1004u);
    EXPECT_EQ(first.fileName, "");
    EXPECT_EQ(first.initDir, "");
    // The second dialog is pre-filled with the loaded file's full path.
    EXPECT_EQ(rig.chooser.requests[1].fileName, "/tracks/a.cvtrack");
}

TEST(FlowLoad, CancelEmptiesTheNameAndKeepsTheLoadedTrackUsable) {
    LogicRig rig;
    rig.Load("/tracks/a.cvtrack");
    rig.log.clear();
    rig.Load("");
    EXPECT_EQ(rig.log, (Log{"arm skip", "open dialog"}));
    EXPECT_EQ(rig.logic.TrackFileName(), "");
    rig.logic.HeartlineClicked();
    EXPECT_TRUE(rig.logic.TrackModified());
    rig.Load("");
    EXPECT_EQ(rig.chooser.requests.back().fileName, "");
}

TEST(FlowLoad, RefusedFileShowsTheLoadErrorBoxThenClearsTheFlags) {
    LogicRig rig;
    rig.Load();
    rig.logic.HeartlineClicked();
    rig.operations.loadOk = false;
    rig.log.clear();
    rig.Load("/tracks/bad.cvtrack");
    EXPECT_EQ(rig.log,
              (Log{"arm skip", "open dialog", "load /tracks/bad.cvtrack", "box Load Error"}));
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].text, "Error Loading Track File!");
    EXPECT_EQ(rig.view.boxes[0].icon, MessageBoxRequest::Icon::Exclamation);
    EXPECT_EQ(rig.view.boxes[0].detail, "not a track file");
    EXPECT_FALSE(rig.logic.TrackLoaded());
    EXPECT_FALSE(rig.logic.TrackModified());
    // The old analysis stays on show, and Heartline and Save now do nothing.
    EXPECT_EQ(rig.view.fields[Field::RadiusIn], "12.346");
    rig.log.clear();
    rig.logic.HeartlineClicked();
    rig.Save();
    EXPECT_EQ(rig.log, Log{});
}

// ---------------------------------------------------------------------------
// Heartline

TEST(FlowHeartline, StepsRunInOrder) {
    LogicRig rig;
    rig.Load();
    rig.log.clear();
    rig.logic.HeartlineClicked();
    const Log expected{
        "read str_segments",
        "read str_precision",
        "read str_filter",
        "read str_heartline",
        "read str_startspeed",
        "read str_endspeed",
        "bar shown",
        "generate 7",
        "analyse 7101",
        "write str_radius_in 12.346",
        "write str_tilt_in -2.250",
        "write str_radius_out straight",
        "write str_tilt_out none",
        "write str_slope_in 1.500",
        "write str_slope_out 0.000",
        "bar hidden",
        "message 'OK'",
        "light2 on",
    };
    EXPECT_EQ(rig.log, expected);
    EXPECT_EQ(rig.timer.deadline, 1500);
}

TEST(FlowHeartline, ReadsFieldsWithPointDecimalsAndTiesToEven) {
    LogicRig rig;
    rig.Load();
    rig.view.fields[Field::Segments] = "12.5";  // tie: to 12
    rig.view.fields[Field::Precision] = "7.5";  // tie: to 8
    rig.view.fields[Field::Filter] = "abc";     // no numeric prefix: 0
    rig.view.fields[Field::Heartline] = "-1.15m";
    rig.view.fields[Field::StartSpeed] = "20.25 m/s";
    rig.view.fields[Field::EndSpeed] = "";
    rig.logic.HeartlineClicked();
    ASSERT_EQ(rig.operations.runs.size(), 1u);
    const HeartlineParameters& p = rig.operations.runs[0];
    EXPECT_EQ(p.segments, 12);
    EXPECT_EQ(p.precision, 8);
    EXPECT_EQ(p.filter, 0);
    EXPECT_EQ(p.heartline, -1.15);
    EXPECT_EQ(p.startspeed, 20.25);
    EXPECT_EQ(p.endspeed, 0.0);
    // A filter raised by the run does not reach the field.
    EXPECT_EQ(rig.view.fields[Field::Filter], "abc");
}

TEST(FlowHeartline, EveryRunStartsFromTheLoadedTrack) {
    LogicRig rig;
    rig.Load();
    rig.logic.HeartlineClicked();
    rig.view.fields[Field::Segments] = "50";
    rig.logic.HeartlineClicked();
    EXPECT_EQ(IndexOf(rig.log, "generate 7101"), -1);
    EXPECT_EQ(rig.logic.WorkTrack().Bezr.VertexCount, 7051);
    EXPECT_EQ(rig.logic.LoadedTrack().Bezr.VertexCount, 7);
}

TEST(FlowHeartline, FailedRunShowsTheFailureBoxAndTheLoadedEnds) {
    LogicRig rig;
    rig.Load();
    rig.logic.HeartlineClicked();
    rig.operations.runStatus = HeartlineStatus::Valleyed;
    rig.operations.runDetail = "The train stops at sample 12.";
    rig.log.clear();
    rig.logic.HeartlineClicked();
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    const MessageBoxRequest& box = rig.view.boxes[0];
    EXPECT_EQ(box.text,
              "Something went wrong! The train probably valleyed. Check the speed settings.");
    EXPECT_EQ(box.title, "Horrible!");
    EXPECT_EQ(box.detail, "The train stops at sample 12.");
    // The box comes straight from the run, before the display and the bar are updated.
    EXPECT_LT(IndexOf(rig.log, "generate 7"), IndexOf(rig.log, "box Horrible!"));
    EXPECT_LT(IndexOf(rig.log, "box Horrible!"), IndexOf(rig.log, "analyse 7"));
    EXPECT_LT(IndexOf(rig.log, "analyse 7"), IndexOf(rig.log, "bar hidden"));
    EXPECT_EQ(rig.log.back(), "message '- ERROR -'");
    EXPECT_EQ(rig.timer.deadline, 3000);
    EXPECT_EQ(rig.logic.WorkTrack().Bezr.VertexCount, 7);
    EXPECT_FALSE(rig.logic.TrackModified());
}

TEST(FlowHeartline, RefusedParametersChangeNothingButTellWhichValue) {
    struct Case {
        Field field;
        const char* text;
        HeartlineStatus status;
        const char* mustMention;
    };
    const Case cases[] = {
        {Field::Segments, "32768", HeartlineStatus::Ok, "Segments (#)"},
        {Field::Precision, "-32769", HeartlineStatus::Ok, "Precision (#)"},
        {Field::Filter, "99999", HeartlineStatus::Ok, "\"99999\""},
        {Field::Segments, "0", HeartlineStatus::Refused, "segments must be at least 1"},
    };
    for (const Case& c : cases) {
        LogicRig rig;
        rig.Load();
        rig.logic.HeartlineClicked();  // a result waits to be saved
        rig.view.fields[c.field] = c.text;
        rig.operations.runStatus = c.status;
        rig.operations.runDetail = "segments must be at least 1";
        rig.log.clear();
        rig.logic.HeartlineClicked();
        ASSERT_EQ(rig.view.boxes.size(), 1u) << c.text;
        EXPECT_EQ(rig.view.boxes[0].title, "Invalid Setting");
        EXPECT_NE(rig.view.boxes[0].text.find(c.mustMention), std::string::npos)
            << rig.view.boxes[0].text;
        EXPECT_TRUE(rig.logic.TrackModified());
        EXPECT_TRUE(rig.logic.LightOn(Light::Heartlined));
        EXPECT_EQ(rig.view.message, "OK");
        EXPECT_FALSE(rig.view.barVisible);
        EXPECT_EQ(IndexOf(rig.log, "analyse 7"), -1);
        // What Save would write is still the last result.
        EXPECT_EQ(rig.logic.WorkTrack().Bezr.VertexCount, 7101);
        const bool reachedRun = c.status == HeartlineStatus::Refused;
        EXPECT_EQ(rig.operations.runs.size(), reachedRun ? 2u : 1u) << c.text;
    }
}

// ---------------------------------------------------------------------------
// Save

TEST(FlowSave, SaveDialogGetsTheSaveRequestPrefilledWithTheLoadedPath) {
    LogicRig rig;
    rig.Load("/tracks/a.cvtrack");
    rig.logic.HeartlineClicked();
    rig.log.clear();
    rig.Save("/tracks/out.cvtrack");
    EXPECT_EQ(rig.log, (Log{"save dialog", "save /tracks/out.cvtrack", "light3 on"}));
    const ChooserRequest& request = rig.chooser.requests.back();
    EXPECT_EQ(request.kind, DialogKind::Save);
    EXPECT_EQ(request.title, "Save Track As...");
    EXPECT_EQ(request.fileName, "/tracks/a.cvtrack");
    EXPECT_EQ(request.flags, 0x6u);
    EXPECT_EQ(request.defaultExt, "cvtrack");
    EXPECT_EQ(rig.operations.savedVertices, (std::vector<int32_t>{7101}));
    // Saved again under another name: still allowed.
    rig.Save("/tracks/again.cvtrack");
    EXPECT_EQ(rig.operations.savedVertices.size(), 2u);
}

TEST(FlowSave, FailedSaveNamesTheFileAndTheReason) {
    LogicRig rig;
    rig.Load();
    rig.logic.HeartlineClicked();
    rig.operations.saveOk = false;
    rig.Save("/readonly/out.cvtrack");
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].title, "Save Error");
    EXPECT_NE(rig.view.boxes[0].text.find("\"/readonly/out.cvtrack\""), std::string::npos);
    EXPECT_NE(rig.view.boxes[0].text.find("Permission denied"), std::string::npos);
    EXPECT_FALSE(rig.logic.LightOn(Light::Saved));
    EXPECT_TRUE(rig.logic.TrackModified());
}

// ---------------------------------------------------------------------------
// End analysis display

TEST(FlowEndAnalysis, UsesTheLocaleSeparatorAndOnlyAnExactMinusOneIsStraight) {
    LogicRig rig;
    rig.view.separator = ",";
    rig.operations.ends = EndAnalysis{-1.0001, 1234.5, 7.0, 12.3456, -0.0004, 0.5};
    rig.Load();
    EXPECT_EQ(rig.view.fields[Field::RadiusIn], "-1,000");
    EXPECT_EQ(rig.view.fields[Field::TiltIn], "7,000");
    EXPECT_EQ(rig.view.fields[Field::SlopeIn], "1234,500");
    EXPECT_EQ(rig.view.fields[Field::RadiusOut], "12,346");
    EXPECT_EQ(rig.view.fields[Field::TiltOut], "0,500");
    EXPECT_EQ(rig.view.fields[Field::SlopeOut], "-0,000");
}

// ---------------------------------------------------------------------------
// Precision clamp

TEST(FlowPrecision, ClampsTo4To16WithItsMessages) {
    struct Case {
        const char* typed;
        const char* after;
        const char* message;  // empty: no message
    };
    const Case cases[] = {
        {"3", "4", "Precision has been adjusted to 4"},
        {"", "4", "Precision has been adjusted to 4"},
        {"-20", "4", "Precision has been adjusted to 4"},
        {"3.99", "4", "Precision has been adjusted to 4"},
        {"17", "16", "Precision has been adjusted to 16"},
        {"16.01", "16", "Precision has been adjusted to 16"},
        {"4", "4", ""},
        {"16", "16", ""},
        {"9x", "9x", ""},
    };
    for (const Case& c : cases) {
        LogicRig rig;
        rig.view.message.clear();
        rig.view.fields[Field::Precision] = c.typed;
        rig.logic.PrecisionLostFocus();
        EXPECT_EQ(rig.view.fields[Field::Precision], c.after) << c.typed;
        EXPECT_EQ(rig.view.message, c.message) << c.typed;
        if (*c.message) {
            EXPECT_EQ(rig.timer.deadline, 1500);
        }
    }
}

// ---------------------------------------------------------------------------
// Message line and timer

TEST(FlowMessages, ANewMessageReplacesTheOldAndRestartsTheCountdown) {
    LogicRig rig;
    rig.timer.AdvanceTo(2000, rig.logic);  // "Ready" gone
    rig.Load();
    rig.logic.HeartlineClicked();  // "OK" at 2000 for 1500 ms
    rig.timer.AdvanceTo(3000, rig.logic);
    rig.view.fields[Field::Precision] = "2";
    rig.logic.PrecisionLostFocus();
    EXPECT_EQ(rig.view.message, "Precision has been adjusted to 4");
    rig.timer.AdvanceTo(3600, rig.logic);  // where "OK" alone would have ended
    EXPECT_EQ(rig.view.message, "Precision has been adjusted to 4");
    rig.timer.AdvanceTo(4500, rig.logic);
    EXPECT_EQ(rig.view.message, "");
}

TEST(FlowMessages, ErrorStaysFor3000ms) {
    LogicRig rig;
    rig.Load();
    rig.operations.runStatus = HeartlineStatus::EqualSpeeds;
    rig.logic.HeartlineClicked();
    EXPECT_EQ(rig.view.message, "- ERROR -");
    rig.timer.AdvanceTo(2999, rig.logic);
    EXPECT_EQ(rig.view.message, "- ERROR -");
    rig.timer.AdvanceTo(3000, rig.logic);
    EXPECT_EQ(rig.view.message, "");
}

// ---------------------------------------------------------------------------
// Progress bar during a run

TEST(FlowProgress, BarFollowsTheRunAndKeepsItsLastShapeUntilTheNextStep) {
    LogicRig rig;
    rig.Load();
    rig.operations.progressSteps = 8;
    rig.logic.HeartlineClicked();
    ASSERT_EQ(rig.view.shapes.size(), 8u);
    EXPECT_EQ(rig.view.shapes[2], (BarShape{630.0f, 3450.0f}));
    EXPECT_EQ(rig.view.shapes.back(), (BarShape{1680.0f, 2400.0f}));
    // A second run starts with the bar as the first left it (full).
    rig.view.shapes.clear();
    rig.operations.progressSteps = 4;
    EXPECT_EQ(rig.logic.Bar(), (BarShape{1680.0f, 2400.0f}));
    rig.logic.HeartlineClicked();
    EXPECT_EQ(rig.view.shapes.front(), (BarShape{420.0f, 3660.0f}));
}

}  // namespace
}  // namespace cvqrn::ui::test
