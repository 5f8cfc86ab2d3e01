// The window's flow: the state table, the order of each action's steps, the
// failure boxes, the precision clamp, the message line and the bar.
#include <gtest/gtest.h>

#include <map>
#include <ostream>

#include "tests/ui/logic_doubles.h"

namespace cvqrn::ui::test {
namespace {

// What ShowEndAnalysis shows for the doubles' end values.
const std::map<Field, std::string> kEnds = {
    {Field::RadiusIn, "12.346"},   {Field::TiltIn, "-2.250"}, {Field::RadiusOut, "straight"},
    {Field::TiltOut, "none"},      {Field::SlopeIn, "1.500"}, {Field::SlopeOut, "0.000"},
};

void ExpectEndsShown(const LogicRig& rig) {
    for (const auto& [field, text] : kEnds) EXPECT_EQ(rig.view.fields.at(field), text);
}

// One row of the state table: the user's steps, then the flags and lights.
// Steps: L/l load succeeds/fails, c load cancelled, H/h/x run succeeds/fails/
// is refused, S save succeeds, s save cancelled, f save fails.
struct Scenario {
    const char* name;
    const char* steps;
    bool loaded, modified;
    const char* lights;  // "1" shown, "0" hidden, left to right
};

void Apply(LogicRig& rig, char step) {
    auto& ops = rig.operations;
    ops.loadOk = step == 'L';
    ops.saveOk = step == 'S';
    ops.runStatus = step == 'H'   ? HeartlineStatus::Ok
                    : step == 'h' ? HeartlineStatus::Valleyed
                                  : HeartlineStatus::RefusedSettings;
    if (step == 'L' || step == 'l' || step == 'c') rig.Load(step == 'c' ? "" : "/t/a.cvtrack");
    if (step == 'H' || step == 'h' || step == 'x') rig.logic.HeartlineClicked();
    if (step == 'S' || step == 's' || step == 'f') rig.Save(step == 's' ? "" : "/t/b.cvtrack");
}

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

class FlowStateTable : public ::testing::TestWithParam<Scenario> {};

TEST_P(FlowStateTable, EndsInTheExpectedStateAndLights) {
    const Scenario& scenario = GetParam();
    LogicRig rig;
    for (const char* step = scenario.steps; *step != '\0'; ++step) Apply(rig, *step);
    EXPECT_EQ(rig.logic.TrackLoaded(), scenario.loaded);
    EXPECT_EQ(rig.logic.TrackModified(), scenario.modified);
    std::string lights;
    for (int i = 0; i < 3; ++i) lights += rig.logic.LightOn(static_cast<Light>(i)) ? '1' : '0';
    EXPECT_EQ(lights, scenario.lights);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FlowStateTable,
    ::testing::Values(Scenario{"StartUp", "", false, false, "000"},
                      Scenario{"LoadSucceeded", "L", true, false, "100"},
                      Scenario{"LoadFailedAtStart", "l", false, false, "000"},
                      Scenario{"LoadCancelledAfterRun", "LHc", true, true, "110"},
                      Scenario{"LoadFailedAfterRunKeepsLights", "LHl", false, false, "110"},
                      Scenario{"HeartlineBeforeLoadDoesNothing", "H", false, false, "000"},
                      Scenario{"RunSucceeded", "LH", true, true, "110"},
                      Scenario{"RunFailed", "Lh", true, false, "100"},
                      Scenario{"RunFailedAfterRunKeepsLight2", "LHh", true, false, "110"},
                      Scenario{"RunRefusedChangesNothing", "LHx", true, true, "110"},
                      Scenario{"SaveBeforeRunDoesNothing", "LS", true, false, "100"},
                      Scenario{"SaveAfterFailedRunDoesNothing", "LHhS", true, false, "110"},
                      Scenario{"SaveCancelled", "LHs", true, true, "110"},
                      Scenario{"Saved", "LHS", true, true, "111"},
                      Scenario{"SaveFailedLeavesLight3Off", "LHf", true, true, "110"},
                      Scenario{"RunAfterSaveKeepsAllLights", "LHSH", true, true, "111"},
                      Scenario{"LoadAfterSaveLeavesOnlyLight1", "LHSL", true, false, "100"}),
    [](const ::testing::TestParamInfo<Scenario>& row) { return std::string(row.param.name); });

TEST(FlowLoad, OpenDialogsRequestThenTheEndsOfTheLoadedTrack) {
    LogicRig rig;
    rig.Load("/t/a.cvtrack");
    EXPECT_TRUE(rig.view.armed);
    const ChooserRequest& request = rig.chooser.requests.at(0);
    EXPECT_EQ(request.title + "|" + request.defaultExt, "Load Track...|cvtrack");
    EXPECT_EQ(std::pair(request.filterIndex, request.flags), std::pair(1, 0x1004u));
    EXPECT_EQ(rig.logic.LoadedTrack().Bezr.VertexCount, 7);
    ExpectEndsShown(rig);
    // A cancel empties the name the next dialog is pre-filled with.
    rig.Load("");
    rig.Load("");
    EXPECT_EQ(rig.chooser.requests.at(1).fileName, "/t/a.cvtrack");
    EXPECT_EQ(rig.chooser.requests.at(2).fileName, "");
}

TEST(FlowLoad, RefusedFileShowsTheLoadErrorBoxAndKeepsTheDisplay) {
    LogicRig rig;
    rig.operations.loadOk = false;
    rig.Load("/t/bad.cvtrack");
    const MessageBoxRequest& box = rig.view.boxes.at(0);
    EXPECT_EQ(box.title, "Load Error");
    EXPECT_EQ(box.text, "Error Loading Track File!");
    EXPECT_EQ(box.icon, MessageBoxRequest::Icon::Exclamation);
    EXPECT_EQ(box.detail, "not a track file");
    EXPECT_EQ(rig.view.fields.at(Field::SlopeIn), "Slope in");
}

TEST(FlowHeartline, SuccessfulRunShowsTheNewEndsAndOkFor1500ms) {
    LogicRig rig;
    rig.Load();
    rig.view.fields[Field::SlopeIn] = "";
    rig.logic.HeartlineClicked();
    EXPECT_EQ(rig.operations.analysed.back(), 7101);  // the new track's ends
    ExpectEndsShown(rig);
    EXPECT_FALSE(rig.view.barVisible);
    EXPECT_EQ(rig.view.message, "OK");
    EXPECT_EQ(rig.timer.deadline, 1500);
}

TEST(FlowHeartline, ReadsFieldsWithPointDecimalsAndTiesToEven) {
    LogicRig rig;
    rig.Load();
    rig.view.fields[Field::Segments] = "12.5";  // tie: to 12
    rig.view.fields[Field::Precision] = "7.5";  // tie: to 8
    rig.view.fields[Field::Filter] = "3";
    rig.view.fields[Field::Heartline] = "-1.15m";
    rig.view.fields[Field::StartSpeed] = "20.25 m/s";
    rig.view.fields[Field::EndSpeed] = ".5";
    rig.logic.HeartlineClicked();
    const HeartlineSettings& p = rig.operations.runs.at(0);
    EXPECT_EQ(std::tuple(p.segments, p.precision, p.filter), std::tuple(12, 8, 3));
    EXPECT_EQ(std::tuple(p.heartline, p.startspeed, p.endspeed), std::tuple(-1.15, 20.25, 0.5));
    EXPECT_EQ(rig.view.fields[Field::Filter], "3");  // the raised filter stays in the run
}

TEST(FlowHeartline, AFieldWithoutANumberIsRefusedByNameAndNeverReadAsZero) {
    for (const Field field : {Field::Segments, Field::Filter, Field::Heartline, Field::EndSpeed}) {
        for (const char* text : {"", "-", ".", "-."}) {
            LogicRig rig;
            rig.Load();
            rig.view.fields[field] = text;
            rig.logic.HeartlineClicked();
            EXPECT_TRUE(rig.operations.runs.empty()) << text;
            ASSERT_EQ(rig.view.boxes.size(), 1u) << text;
            EXPECT_EQ(rig.view.boxes[0].title, "Invalid Setting");
            EXPECT_NE(rig.view.boxes[0].text.find(PlaceOf(field).caption), std::string::npos);
            EXPECT_FALSE(rig.logic.TrackModified());
        }
    }
}

TEST(FlowHeartline, FailedRunShowsTheFailureBoxWithItsDetailAndTheLoadedEnds) {
    LogicRig rig;
    rig.Load();
    rig.logic.HeartlineClicked();
    rig.operations.runStatus = HeartlineStatus::Valleyed;
    rig.operations.runDetail = "The train stops at sample 12.";
    rig.logic.HeartlineClicked();
    const MessageBoxRequest& box = rig.view.boxes.at(0);
    EXPECT_EQ(box.text,
              "Something went wrong! The train probably valleyed. Check the speed settings.");
    EXPECT_EQ(box.title, "Horrible!");
    EXPECT_EQ(box.detail, "The train stops at sample 12.");
    EXPECT_EQ(rig.operations.analysed.back(), 7);  // the loaded track's ends again
    EXPECT_FALSE(rig.view.barVisible);
    EXPECT_EQ(rig.view.message, "- ERROR -");
    EXPECT_EQ(rig.timer.deadline, 3000);
}

TEST(FlowHeartline, EachFailureKindHasItsOwnBoxAndEndsInError) {
    using enum HeartlineStatus;
    const std::string stopped = kHeartlineFailureText;
    const std::tuple<HeartlineStatus, const char*, std::string> cases[] = {
        {Valleyed, "Horrible!", stopped},
        {EqualSpeeds, "Horrible!", stopped},
        {UnusableTrack, "Unusable Track", "This track cannot be heartlined."},
        {NumericalBlowUp, "Heartline Failed", "numbers too large to use"},
        {CouldNotComplete, "Run Not Completed", "could not be completed"},
    };
    for (const auto& [status, title, text] : cases) {
        SCOPED_TRACE(title);
        LogicRig rig;
        rig.Load();
        rig.operations.runStatus = status;
        rig.operations.runDetail = "where and why";
        rig.logic.HeartlineClicked();
        ASSERT_EQ(rig.view.boxes.size(), 1u);
        EXPECT_EQ(rig.view.boxes[0].title, title);
        EXPECT_NE(rig.view.boxes[0].text.find(text), std::string::npos);
        EXPECT_EQ(rig.view.boxes[0].detail, "where and why");
        EXPECT_EQ(rig.view.message, "- ERROR -");
        EXPECT_FALSE(rig.logic.TrackModified());
    }
}

TEST(FlowHeartline, RefusedParametersChangeNothingButTellWhichValue) {
    const std::tuple<Field, const char*, HeartlineStatus, const char*> cases[] = {
        {Field::Segments, "32768", HeartlineStatus::Ok, "Segments (#)"},
        {Field::Filter, "-32769", HeartlineStatus::Ok, "\"-32769\""},
        {Field::Segments, "0", HeartlineStatus::RefusedSettings, "Segments must be at least 1"},
    };
    for (const auto& [field, text, status, mustMention] : cases) {
        LogicRig rig;
        rig.Load();
        rig.logic.HeartlineClicked();  // a result waits to be saved
        rig.view.fields[field] = text;
        rig.operations.runStatus = status;
        rig.operations.runDetail = "Segments must be at least 1; it is 0.";
        rig.operations.runInternalDetail = "internal figure";
        const size_t analysed = rig.operations.analysed.size();
        rig.logic.HeartlineClicked();
        ASSERT_EQ(rig.view.boxes.size(), 1u) << text;
        EXPECT_EQ(rig.view.boxes[0].title, "Invalid Setting");
        EXPECT_NE(rig.view.boxes[0].text.find(mustMention), std::string::npos) << text;
        EXPECT_EQ(rig.view.boxes[0].detail, status == HeartlineStatus::Ok ? "" : "internal figure");
        EXPECT_EQ(rig.view.message, "OK");
        EXPECT_EQ(rig.operations.analysed.size(), analysed);
        EXPECT_FALSE(rig.view.barVisible);
        // What Save would write is still the last result.
        EXPECT_EQ(rig.logic.WorkTrack().Bezr.VertexCount, 7101);
    }
}

TEST(FlowSave, SaveDialogIsPrefilledWithTheLoadedPathAndAFailureNamesFileAndReason) {
    LogicRig rig;
    rig.Load("/t/a.cvtrack");
    rig.logic.HeartlineClicked();
    rig.Save("/t/out.cvtrack");
    const ChooserRequest& request = rig.chooser.requests.back();
    EXPECT_EQ(request.title + "|" + request.fileName, "Save Track As...|/t/a.cvtrack");
    EXPECT_EQ(request.flags, 0x6u);
    rig.Save("/t/again.cvtrack");
    EXPECT_EQ(rig.operations.saved,
              (std::vector<std::string>{"/t/out.cvtrack 7101", "/t/again.cvtrack 7101"}));

    rig.operations.saveOk = false;
    rig.Save("/readonly/out.cvtrack");
    const MessageBoxRequest& box = rig.view.boxes.at(0);
    EXPECT_EQ(box.title, "Save Error");
    EXPECT_NE(box.text.find("\"/readonly/out.cvtrack\""), std::string::npos);
    EXPECT_NE(box.text.find("Permission denied"), std::string::npos);
}

TEST(FlowSave, AfterAFailedSaveTheDialogStartsWhereALoadOrSaveLastWorked) {
    // a save that worked before the failure (none when empty), where the next dialog starts
    const std::tuple<const char*, const char*> cases[] = {
        {"", "/t"},
        {"/t/good/out.cvtrack", "/t/good"},
    };
    for (const auto& [goodSave, start] : cases) {
        LogicRig rig;
        rig.Load("/t/a.cvtrack");
        rig.logic.HeartlineClicked();
        if (*goodSave != '\0') rig.Save(goodSave);
        rig.operations.saveOk = false;
        rig.Save("/proc/self/out.cvtrack");
        rig.Save("");  // cancelled: only the request matters
        const ChooserRequest& next = rig.chooser.requests.back();
        EXPECT_EQ(next.fileName, "out.cvtrack") << goodSave;
        EXPECT_EQ(next.initDir, start) << goodSave;
    }
}

TEST(FlowSave, AFolderThatRefusesANewFileAsksBeforeAPlainOverwrite) {
    for (const bool yes : {true, false}) {
        LogicRig rig;
        rig.Load("/t/a.cvtrack");
        rig.logic.HeartlineClicked();
        rig.operations.folderRefuses = true;
        rig.view.answerYes = yes;
        rig.Save("/locked/out.cvtrack");

        const MessageBoxRequest& question = rig.view.questions.at(0);
        EXPECT_EQ(question.title, "Overwrite In Place?");
        EXPECT_NE(question.text.find("\"/locked/out.cvtrack\""), std::string::npos);
        EXPECT_NE(question.text.find("not atomic"), std::string::npos);
        EXPECT_NE(question.text.find("damaged"), std::string::npos);
        std::vector<std::string> saves{"/locked/out.cvtrack 7101"};
        if (yes) saves.push_back("/locked/out.cvtrack 7101 in place");
        EXPECT_EQ(rig.operations.saved, saves) << yes;
        // Yes saves as any save does; No leaves everything as it was, without an error box.
        EXPECT_EQ(rig.logic.LightOn(Light::Saved), yes);
        EXPECT_TRUE(rig.view.boxes.empty()) << yes;
        EXPECT_TRUE(rig.logic.TrackModified());
    }
}

TEST(FlowSave, ANoteOfASaveThatWorkedIsShownAndAFailedSaveAsksNothing) {
    // note of the save, whether the folder refuses a new file, boxes shown after the save
    const std::tuple<const char*, bool, size_t> cases[] = {
        {"", false, 0}, {"hard link split", false, 1}, {"hard link split", true, 1}};
    for (const auto& [note, folderRefuses, boxes] : cases) {
        LogicRig rig;
        rig.Load("/t/a.cvtrack");
        rig.logic.HeartlineClicked();
        rig.operations.saveNote = note;
        rig.operations.folderRefuses = folderRefuses;
        rig.view.answerYes = true;
        rig.Save("/t/out.cvtrack");
        ASSERT_EQ(rig.view.boxes.size(), boxes) << note;
        if (boxes == 0) continue;
        EXPECT_EQ(rig.view.boxes[0].title, "Track Saved");
        EXPECT_NE(rig.view.boxes[0].text.find(note), std::string::npos);
        EXPECT_TRUE(rig.logic.LightOn(Light::Saved));
    }
    LogicRig rig;
    rig.Load("/t/a.cvtrack");
    rig.logic.HeartlineClicked();
    rig.operations.saveOk = false;
    rig.Save("/t/out.cvtrack");
    EXPECT_TRUE(rig.view.questions.empty());
    EXPECT_EQ(rig.view.boxes.at(0).title, "Save Error");
}

TEST(FlowMemory, ALoadOrRunOutOfMemoryShowsABoxAndKeepsEverything) {
    for (const bool load : {true, false}) {
        LogicRig rig;
        rig.Load("/t/a.cvtrack");
        rig.logic.HeartlineClicked();
        rig.view.boxes.clear();
        rig.operations.outOfMemory = true;
        rig.view.fields[Field::Segments] = "50";  // a run that went through would make 7051
        if (load) {
            rig.Load("/t/other.cvtrack");
        } else {
            rig.logic.HeartlineClicked();
        }
        ASSERT_EQ(rig.view.boxes.size(), 1u) << load;
        EXPECT_EQ(rig.view.boxes[0].title, "Not Enough Memory");
        EXPECT_EQ(rig.view.boxes[0].text.rfind("Not enough memory to ", 0), 0u);
        EXPECT_FALSE(rig.view.barVisible);
        EXPECT_EQ(rig.logic.WorkTrack().Bezr.VertexCount, 7101);
        EXPECT_EQ(rig.logic.LoadedTrack().Bezr.VertexCount, 7);
        EXPECT_TRUE(rig.logic.TrackLoaded() && rig.logic.TrackModified());
        EXPECT_TRUE(rig.logic.LightOn(Light::Loaded) && rig.logic.LightOn(Light::Heartlined));
    }
}

TEST(FlowPrecision, ClampsTo4To16WithItsMessagesWhenTheFieldIsLeft) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"3", "4", true},   {"", "4", true},   {"3.99", "4", true},
        {"17", "16", true}, {"4", "4", false}, {"16", "16", false},
    };
    for (const auto& [typed, after, told] : cases) {
        LogicRig rig;
        rig.view.message.clear();
        rig.view.fields[Field::Precision] = typed;
        rig.logic.PrecisionLostFocus();
        EXPECT_EQ(rig.view.fields[Field::Precision], after) << typed;
        EXPECT_EQ(rig.view.message,
                  told ? "Precision has been adjusted to " + std::string(after) : std::string())
            << typed;
    }
}

TEST(FlowMessages, ANewMessageReplacesTheOldAndStaysForItsOwnDuration) {
    LogicRig rig;
    rig.timer.AdvanceTo(1500, rig.logic);
    EXPECT_EQ(rig.view.message, "");  // "Ready" is gone
    rig.Load();
    rig.logic.HeartlineClicked();  // "OK" at 1500 for 1500 ms
    rig.timer.AdvanceTo(2500, rig.logic);
    rig.view.fields[Field::Precision] = "2";
    rig.logic.PrecisionLostFocus();
    rig.timer.AdvanceTo(3500, rig.logic);  // where "OK" alone would have ended
    EXPECT_EQ(rig.view.message, "Precision has been adjusted to 4");
    rig.timer.AdvanceTo(4000, rig.logic);
    EXPECT_EQ(rig.view.message, "");
}

TEST(FlowProgress, BarFollowsTheRunAndKeepsItsLastShapeUntilTheNextStep) {
    LogicRig rig;
    rig.Load();
    rig.operations.progress = {{3, 8}, {8, 8}};
    rig.logic.HeartlineClicked();
    EXPECT_EQ(rig.view.shapes, (std::vector<BarShape>{{630.0f, 3450.0f}, {1680.0f, 2400.0f}}));
    // A second run starts with the bar as the first left it (full).
    rig.operations.progress = {{1, 4}};
    EXPECT_EQ(rig.logic.Bar(), (BarShape{1680.0f, 2400.0f}));
    rig.logic.HeartlineClicked();
    EXPECT_EQ(rig.view.shapes.back(), (BarShape{420.0f, 3660.0f}));
}

}  // namespace
}  // namespace cvqrn::ui::test
