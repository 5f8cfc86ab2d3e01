// The file dialog contract, the window's outline runs, dragging and the
// progress bar's figures.
#include <gtest/gtest.h>

#include <vector>

#include "tests/ui/logic_doubles.h"
#include "ui/file_dialogs.h"
#include "ui/status_display.h"
#include "ui/window_shape.h"

namespace cvqrn::ui {
namespace {

using namespace std::string_literals;

// ---------------------------------------------------------------------------
// File dialogs

TEST(DialogFilter, BarsAndColonsBecomeNulsEndedByTwoNuls) {
    EXPECT_EQ(RewriteFilter("Corvane Tracks (*.cvtrack)|*.cvtrack"),
              "Corvane Tracks (*.cvtrack)\0*.cvtrack\0\0"s);
    EXPECT_EQ(RewriteFilter("Tracks: all|*.cvtrack"), "Tracks\0 all\0*.cvtrack\0\0"s);
    EXPECT_EQ(RewriteFilter(""), "\0\0"s);
}

TEST(DialogFilter, PairsStopAtTheEmptyString) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(FilterPairs(RewriteFilter("A (*.a)|*.a|B|*.b;*.c")),
              (Pairs{{"A (*.a)", "*.a"}, {"B", "*.b;*.c"}}));
    // A colon in the description cuts it there: the rest becomes the pattern.
    EXPECT_EQ(FilterPairs(RewriteFilter("Tracks: all|*.cvtrack")), (Pairs{{"Tracks", " all"}}));
    EXPECT_EQ(FilterPairs(RewriteFilter("")), Pairs{});
}

TEST(DialogFlags, OpenAndSaveFlagsAsTheWindowAsksForThem) {
    FileDialogRequest open;
    open.FileMustExist = true;
    open.HideReadOnly = true;
    EXPECT_EQ(OpenDialogFlags(open), 0x1004u);
    open.ReadOnly = true;
    open.Flags = 0x60 | 0x800;  // hook and template bits are never passed on
    EXPECT_EQ(OpenDialogFlags(open), 0x1805u);

    FileDialogRequest save;
    save.OverwritePrompt = true;
    EXPECT_EQ(SaveDialogFlags(save), 0x6u);
    save.OverwritePrompt = false;
    save.Flags = 0x20;
    EXPECT_EQ(SaveDialogFlags(save), 0x4u);
}

// A chooser that answers as scripted.
class ScriptedChooser : public FileChooser {
  public:
    std::optional<ChooserAnswer> Choose(const ChooserRequest& request) override {
        seen = request;
        return answer;
    }
    std::optional<ChooserAnswer> answer;
    ChooserRequest seen;
};

FileDialogRequest WindowRequest(const std::string& name) {
    FileDialogRequest request;
    request.FileName = name;
    request.FileMustExist = true;
    request.HideReadOnly = true;
    request.OverwritePrompt = true;
    request.Filter = "Corvane Tracks (*.cvtrack)|*.cvtrack";
    request.DlgTitle = "Load Track...";
    request.DefaultExt = "cvtrack";
    return request;
}

TEST(DialogResults, CancelEmptiesTheNamesAndResetsIndexAndFlags) {
    for (const bool save : {false, true}) {
        ScriptedChooser chooser;
        FileDialogRequest request = WindowRequest("/tracks/a.cvtrack");
        request.FileTitle = "a.cvtrack";
        request.Flags = 0x800;
        const bool chosen =
            save ? ShowSaveDialog(request, chooser) : ShowOpenDialog(request, chooser);
        EXPECT_FALSE(chosen);
        EXPECT_EQ(request.FileName, "");
        EXPECT_EQ(request.FileTitle, "");
        EXPECT_EQ(request.Flags, 0u);
        EXPECT_EQ(request.FilterIndex, save ? 0 : -1);
        // The chooser was shown with the pre-filled name and the rewritten filter.
        EXPECT_EQ(chooser.seen.fileName, "/tracks/a.cvtrack");
        EXPECT_EQ(chooser.seen.kind, save ? DialogKind::Save : DialogKind::Open);
        EXPECT_EQ(request.Filter, "Corvane Tracks (*.cvtrack)\0*.cvtrack\0\0"s);
    }
}

TEST(DialogResults, AcceptedNameTitleFlagsAndIndexComeBack) {
    ScriptedChooser chooser;
    chooser.answer = ChooserAnswer{"/tracks/a.cvtrack", "a.cvtrack", 0x1005, 1};
    FileDialogRequest request = WindowRequest("/tracks/a.cvtrack");
    EXPECT_TRUE(ShowOpenDialog(request, chooser));
    EXPECT_EQ(request.FileName, "/tracks/a.cvtrack");
    EXPECT_EQ(request.FileTitle, "a.cvtrack");
    EXPECT_EQ(request.Flags, 0x1005u);
    EXPECT_EQ(request.FilterIndex, 1);
    EXPECT_TRUE(request.ReadOnly);  // the read-only bit came back set

    chooser.answer = ChooserAnswer{"/x/b.cvtrack", "b.cvtrack", 0x6, 1};
    FileDialogRequest save = WindowRequest("");
    EXPECT_TRUE(ShowSaveDialog(save, chooser));
    EXPECT_EQ(save.FileName, "/x/b.cvtrack");
    EXPECT_FALSE(save.ReadOnly);
}

// ---------------------------------------------------------------------------
// Outline runs

constexpr uint32_t H = 0xFF00FF;  // hole
constexpr uint32_t O = 0x102030;  // window

TEST(WindowRuns, RunsOfSmallPictures) {
    struct Case {
        const char* what;
        int width, height;
        std::vector<uint32_t> pixels;
        std::vector<PixelRun> runs;
    };
    const Case cases[] = {
        {"opaque at both edges", 4, 1, {O, O, H, O}, {{0, 2, 0}, {3, 4, 0}}},
        {"single pixel between holes", 3, 1, {H, O, H}, {{1, 2, 0}}},
        {"no hole", 3, 2, {O, O, O, O, O, O}, {{0, 3, 0}, {0, 3, 1}}},
        {"only holes", 2, 2, {H, H, H, H}, {}},
        {"rows apart", 3, 3, {H, H, H, O, H, O, H, O, H}, {{0, 1, 1}, {2, 3, 1}, {1, 2, 2}}},
        {"alpha ignored", 2, 1, {0xFFFF00FF, 0x00FF00FF}, {}},
        {"near-magenta is window", 2, 1, {0xFE00FF, 0xFF01FF}, {{0, 2, 0}}},
        {"empty picture", 0, 0, {}, {}},
        {"too few pixels", 2, 2, {O, O, O}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WindowRuns(c.pixels, c.width, c.height, 0xFFFF00FF), c.runs) << c.what;
    }
}

// ---------------------------------------------------------------------------
// Dragging

TEST(DragState, OnlyTheLeftButtonAloneMovesTheWindowByThePointersOffset) {
    struct Case {
        int buttons;
        bool moves;
    };
    const Case cases[] = {{kLeftButton, true},
                          {kRightButton, false},
                          {kLeftButton | kRightButton, false},
                          {kMiddleButton, false},
                          {0, false}};
    for (const Case& c : cases) {
        DragState drag;
        BodyPressed(drag, 10.0f, 20.0f);
        const auto offset = BodyMoved(drag, c.buttons, 15.5f, 17.0f);
        ASSERT_EQ(offset.has_value(), c.moves) << c.buttons;
        if (offset) {
            EXPECT_EQ(offset->dx, 5.5f);
            EXPECT_EQ(offset->dy, -3.0f);
        }
    }
}

TEST(DragState, TheMoveAfterArmingIsSwallowedWhateverTheButtons) {
    DragState drag;
    BodyPressed(drag, 0.0f, 0.0f);
    drag.SkipNextMove = true;
    EXPECT_FALSE(BodyMoved(drag, kLeftButton, 50.0f, 50.0f).has_value());
    EXPECT_FALSE(drag.SkipNextMove);
    EXPECT_TRUE(BodyMoved(drag, kLeftButton, 50.0f, 50.0f).has_value());
    drag.SkipNextMove = true;
    EXPECT_FALSE(BodyMoved(drag, 0, 1.0f, 1.0f).has_value());
    EXPECT_FALSE(drag.SkipNextMove);
}

// ---------------------------------------------------------------------------
// Progress figures

TEST(ProgressBarShape, RisesInWholeTwipsFromTheTubeBottom) {
    struct Case {
        int32_t progress, total;
        float height, top;
    };
    const Case cases[] = {
        {0, 7, 0.0f, 4080.0f},
        {7, 7, 1680.0f, 2400.0f},
        {1, 4, 420.0f, 3660.0f},
        {3, 8, 630.0f, 3450.0f},
        {999, 1000, 1678.0f, 2402.0f},
        {1, 1000, 1.0f, 4079.0f},
        {3, 2, 2520.0f, 1560.0f},  // past the total: taller than the tube
        {2147483647, 2147483647, 1680.0f, 2400.0f},
    };
    for (const Case& c : cases) {
        const auto shape = ProgressBarShape(c.progress, c.total);
        ASSERT_TRUE(shape.has_value());
        EXPECT_EQ(*shape, (BarShape{c.height, c.top})) << c.progress << "/" << c.total;
    }
    EXPECT_FALSE(ProgressBarShape(1, 0).has_value());
    EXPECT_FALSE(ProgressBarShape(1, -5).has_value());
}

}  // namespace
}  // namespace cvqrn::ui
