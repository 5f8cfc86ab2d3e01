// The window's flow: the state table, failures, saving, the precision clamp and the bar.
#include <gtest/gtest.h>

#include <set>

#include "tests/ui/logic_doubles.h"

namespace cvqrn::ui::test {
namespace {

constexpr auto npos = std::string::npos;

// The state table. A row is the user's steps, then ':', then loaded and
// modified, then the three lights ('1' on). Steps: L/l load succeeds/fails,
// c load cancelled, H/h/x run succeeds/fails/is refused, S save succeeds,
// s save cancelled, f save fails.
void Apply(LogicRig& rig, char step) {
    auto& ops = rig.operations;
    ops.loadOk = step == 'L';
    ops.saveOk = step == 'S';
    ops.runStatus = step == 'H'   ? Status::Ok
                    : step == 'h' ? Status::Valleyed
                                  : Status::InvalidSettings;
    if (step == 'L' || step == 'l' || step == 'c') rig.Load(step == 'c' ? "" : "/t/a.cvtrack");
    if (step == 'H' || step == 'h' || step == 'x') rig.logic.HeartlineClicked();
    if (step == 'S' || step == 's' || step == 'f') rig.Save(step == 's' ? "" : "/t/b.cvtrack");
}

TEST(FlowStateTable, EveryRowEndsInItsStateAndLights) {
    for (const std::string row :
         {":00000", "L:10100", "l:00000", "LHc:11110", "LHl:00110", "H:00000", "LH:11110",
          "Lh:10100", "LHh:10110", "LHx:11110", "LS:10100", "LHhS:10110", "LHs:11110", "LHS:11111",
          "LHf:11110", "LHSH:11111", "LHSL:10100"}) {
        LogicRig rig;
        for (const char step : row.substr(0, row.find(':'))) Apply(rig, step);
        std::string state = row.substr(0, row.find(':') + 1);
        state += rig.logic.TrackLoaded() ? '1' : '0';
        state += rig.logic.TrackModified() ? '1' : '0';
        for (int i = 0; i < 3; ++i) state += rig.logic.LightOn(static_cast<Light>(i)) ? '1' : '0';
        EXPECT_EQ(state, row);
    }
}

TEST(FlowLoad, DialogRequestEndsInTheirFieldsAndTheLoadErrorBox) {
    LogicRig rig;
    rig.Load("/t/a.cvtrack");
    EXPECT_EQ(rig.chooser.requests.at(0).flags, 0x1004u);
    const std::map<Field, std::string> ends = {
        {Field::RadiusIn, "12.346"}, {Field::TiltIn, "-2.250"}, {Field::RadiusOut, "straight"},
        {Field::TiltOut, "none"},    {Field::SlopeIn, "1.500"}, {Field::SlopeOut, "0.000"}};
    for (const auto& [field, text] : ends) EXPECT_EQ(rig.view.fields.at(field), text);
    rig.Load("");  // a cancel empties the name the next dialog is pre-filled with
    rig.Load("");
    EXPECT_EQ(rig.chooser.requests.at(2).fileName, "");
    rig.operations.loadOk = false;
    rig.Load("/t/bad.cvtrack");
    const MessageBoxRequest& box = rig.view.boxes.at(0);
    EXPECT_EQ(box.title + "|" + box.detail, "Load Error|not a track file");
    // The designed line first, then the file's name; the loader's reason stays in the detail.
    EXPECT_TRUE(box.text.starts_with("Error Loading Track File!\n\nCV-QRN cannot open "
                                     "\"bad.cvtrack\"."))
        << box.text;
    EXPECT_EQ(box.icon, MessageBoxRequest::Icon::Exclamation);
}

TEST(FlowHeartline, ReadsFieldsWithPointDecimalsAndTiesToEvenThenShowsTheNewEnds) {
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
    EXPECT_EQ(rig.view.fields[Field::Filter], "3");   // the raised filter stays in the run
    EXPECT_EQ(rig.operations.analysed.back(), 7013);  // the new track's ends
}

TEST(FlowHeartline, AFailedOrRefusedRunShowsItsOwnBoxAndKeepsWhatItMust) {
    // the run's outcome, a field's text, the box's title, what the box must
    // mention. A field without a number is refused by its name, never read as zero.
    using enum Status;
    const std::tuple<Status, Field, const char*, const char*, const char*> cases[] = {
        {Valleyed, Field::Filter, "15", "Horrible!", "where"},
        {EqualSpeeds, Field::Filter, "15", "Horrible!", "where"},
        {UnusableTrack, Field::Filter, "15", "Unusable Track", "where"},
        {NumericalBlowUp, Field::Filter, "15", "Heartline Failed", "where"},
        {OutOfMemory, Field::Filter, "15", "Run Not Completed", "where"},
        {InvalidSettings, Field::Filter, "15", "Invalid Setting", "internal figure"},
        {Ok, Field::Segments, "", "Invalid Setting", "Segments (#)"},
        {Ok, Field::EndSpeed, "-.", "Invalid Setting", "V out (m/s)"},
        {Ok, Field::Filter, "-32769", "Invalid Setting", "\"-32769\""},
    };
    std::set<std::string> texts;  // the two train failures share one box; the rest their own
    for (const auto& [status, field, text, title, mention] : cases) {
        LogicRig rig;
        rig.Load();
        rig.logic.HeartlineClicked();  // a result waits to be saved
        rig.view.fields[field] = text;
        rig.operations.runStatus = status;
        rig.operations.runDetail = "where and why";
        rig.operations.runInternalDetail = "internal figure";
        rig.logic.HeartlineClicked();
        EXPECT_EQ(rig.operations.runs.size(), status == Ok ? 1u : 2u) << text;
        ASSERT_EQ(rig.view.boxes.size(), 1u) << title << text;
        const MessageBoxRequest& box = rig.view.boxes[0];
        EXPECT_EQ(box.title, title);
        EXPECT_NE((box.text + box.detail).find(mention), npos) << title << text;
        const bool refused = box.title == "Invalid Setting";
        if (!refused) texts.insert(box.text);
        // A refusal keeps the last result and its ends; a failed run shows the loaded ends.
        EXPECT_EQ(rig.logic.WorkTrack().Bezr.VertexCount, refused ? 7101 : 7) << title << text;
        EXPECT_EQ(rig.operations.analysed.size(), refused ? 2u : 3u) << title << text;
        EXPECT_EQ(rig.view.message, refused ? "OK" : "- ERROR -");
        EXPECT_EQ(rig.view.deadline, refused ? 1500 : 3000);
        EXPECT_FALSE(rig.view.barVisible);
    }
    EXPECT_EQ(texts.size(), 4u);
}

TEST(FlowHeartline, TheValleyBoxAdvisesAStartSpeedUnderItsTextAndTheSmoothSwitchReachesTheRun) {
    // the advice the run's valley search found (none: no start speed helps), the box's text
    const std::pair<std::optional<double>, std::string> cases[] = {
        {18.0, std::string(kHeartlineFailureText) +
                   "\n\nWith V in at least 18.0 m/s the train clears every hill."},
        {std::nullopt, kHeartlineFailureText},
    };
    for (const auto& [advice, text] : cases) {
        LogicRig rig;
        rig.Load();
        rig.operations.runStatus = Status::Valleyed;
        rig.operations.advice = advice;
        rig.logic.SetSmoothRide(true);
        rig.logic.HeartlineClicked();
        ASSERT_EQ(rig.view.boxes.size(), 1u);
        EXPECT_EQ(rig.view.boxes[0].text, text);
        EXPECT_EQ(rig.view.boxes[0].title, "Horrible!");
        EXPECT_TRUE(rig.operations.runs.at(0).smooth);
        rig.logic.SetSmoothRide(false);  // off again: the default rebuild
        rig.logic.HeartlineClicked();
        EXPECT_FALSE(rig.operations.runs.at(1).smooth);
    }
    EXPECT_FALSE(LogicRig().logic.SmoothRide()) << "off at start, like the six settings";
}

TEST(FlowSave, PrefilledDialogAndAFailureThatNamesFileAndReasonAndRestartsWhereASaveWorked) {
    // a save that worked before the failure (none when empty), where the next dialog starts
    for (const auto& [goodSave, start] :
         {std::pair("", "/t"), {"/t/good/out.cvtrack", "/t/good"}}) {
        LogicRig rig;
        rig.Load("/t/a.cvtrack");
        rig.logic.HeartlineClicked();
        rig.Save(goodSave);
        const ChooserRequest& request = rig.chooser.requests.at(1);
        EXPECT_EQ(request.fileName + "|" + std::to_string(request.flags), "/t/a.cvtrack|6");
        rig.operations.saveOk = false;
        rig.Save("/proc/self/out.cvtrack");
        const MessageBoxRequest& box = rig.view.boxes.at(0);
        EXPECT_EQ(box.title, "Save Error");
        EXPECT_NE(box.text.find("\"/proc/self/out.cvtrack\". Choose another folder"), npos);
        // The system's words only behind Show Details, never as the box's first words.
        EXPECT_EQ(box.text.find("Permission denied"), npos);
        EXPECT_EQ(box.detail, "Permission denied");
        EXPECT_TRUE(rig.view.questions.empty());  // a plain failure asks nothing
        rig.Save("");                             // cancelled: only the request matters
        EXPECT_EQ(rig.chooser.requests.back().fileName, "out.cvtrack") << goodSave;
        EXPECT_EQ(rig.chooser.requests.back().initDir, start) << goodSave;
    }
}

TEST(FlowSave, AFolderThatRefusesANewFileAsksBeforeAnOverwriteAndANoteIsShown) {
    // the folder refuses a new file, the user's answer, the note of a save that worked
    const std::tuple<bool, bool, const char*> cases[] = {
        {true, true, ""}, {true, false, ""}, {false, false, "split"}, {true, true, "split"}};
    for (const auto& [refuses, yes, note] : cases) {
        LogicRig rig;
        rig.Load("/t/a.cvtrack");
        rig.logic.HeartlineClicked();
        rig.operations.folderRefuses = refuses;
        rig.operations.saveNote = note;
        rig.view.answerYes = yes;
        rig.Save("/t/out.cvtrack");
        std::vector<std::string> saves{"/t/out.cvtrack 7101"};
        if (refuses && yes) saves.push_back("/t/out.cvtrack 7101 in place");
        EXPECT_EQ(rig.operations.saved, saves);
        ASSERT_EQ(rig.view.questions.size(), refuses ? 1u : 0u);
        EXPECT_TRUE(!refuses || rig.view.questions[0].text.find("\"/t/out.cvtrack\"") != npos);
        // Yes saves as any save does; No leaves everything as it was, without an error box.
        EXPECT_EQ(rig.logic.LightOn(Light::Saved), yes || !refuses);
        EXPECT_TRUE(rig.logic.TrackModified());
        ASSERT_EQ(rig.view.boxes.size(), *note != '\0' ? 1u : 0u) << note;
        EXPECT_TRUE(!*note || rig.view.boxes[0].text.find(note) != npos) << note;
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
                  told ? "Precision has been adjusted to " + std::string(after) : "")
            << typed;
    }
}

TEST(FlowProgress, BarRisesInWholeTwipsAndKeepsItsLastShapeUntilTheNextStep) {
    LogicRig rig;
    rig.Load();
    // An unchanged fraction is not sent again; a step without a total is ignored.
    rig.operations.progress = {{1, 1000}, {3, 8}, {3, 8}, {8, 8}, {1, 0}};
    rig.logic.HeartlineClicked();
    EXPECT_EQ(rig.view.shapes,
              (std::vector<BarShape>{{1.0f, 4079.0f}, {630.0f, 3450.0f}, {1680.0f, 2400.0f}}));
    EXPECT_EQ(rig.logic.Progress(), 1.0);  // the next run starts full
}

// The click in three steps, as the window runs it on a thread of its own.
// Faults caught: Load, Heartline or Save going through while a run works; a
// refusal that leaves the logic Running; an end that differs from the click's.
TEST(FlowHeartline, WhileAStartedRunWorksLoadHeartlineAndSaveDoNothing) {
    LogicRig rig;
    rig.Load();
    rig.view.fields[Field::Segments] = "";
    EXPECT_FALSE(rig.logic.StartHeartline());  // refused by its box, not left running
    EXPECT_FALSE(rig.logic.Running());
    rig.view.fields[Field::Segments] = "100";
    rig.logic.HeartlineClicked();  // a result to save, so Save would ask for a name
    const size_t dialogs = rig.chooser.requests.size();

    std::optional<HeartlineJob> job = rig.logic.StartHeartline();
    ASSERT_TRUE(job && rig.logic.Running() && rig.view.barVisible);
    rig.Load("/t/other.cvtrack");
    rig.Save();
    rig.logic.LoadFile("/t/dropped.cvtrack");
    EXPECT_FALSE(rig.logic.StartHeartline());
    EXPECT_EQ(rig.chooser.requests.size(), dialogs);
    EXPECT_EQ(rig.logic.TrackFileName(), "/t/a.cvtrack");
    EXPECT_TRUE(rig.operations.saved.empty());

    rig.operations.runStatus = Status::Valleyed;
    rig.logic.RunHeartline(*job, nullptr);
    EXPECT_EQ(rig.view.message, "OK");  // the run alone shows nothing
    rig.logic.FinishHeartline(std::move(*job));
    EXPECT_FALSE(rig.logic.Running() || rig.logic.TrackModified() || rig.view.barVisible);
    EXPECT_EQ(rig.view.message, "- ERROR -");
    EXPECT_EQ(rig.view.boxes.size(), 2u);  // the empty field's, then the valley's
    rig.Load("/t/other.cvtrack");
    EXPECT_EQ(rig.logic.TrackFileName(), "/t/other.cvtrack");
}

}  // namespace
}  // namespace cvqrn::ui::test
