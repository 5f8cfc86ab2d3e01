// The window's rules apart from the toolkit: reading numbers, the key filter,
// the file dialog contract, the outline runs, dragging and the bar's figures.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ui/window_logic.h"
#include "ui/key_filter.h"
#include "ui/number_text.h"
#include "ui/window_arguments.h"
#include "ui/window_shape.h"

namespace cvqrn::ui::test {
namespace {

using namespace std::string_literals;
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ReadNumber, TakesTheLeadingNumericPartWithAPointWhateverTheLocale) {
    const std::pair<const char*, double> cases[] = {
        {"", 0.0},   {"abc", 0.0},      {"-.", 0.0},       {"1.04", 1.04},  {"-1.15", -1.15},
        {".5", 0.5}, {"1,5", 1.0},      {"1.2.3", 1.2},    {"12abc", 12.0}, {"2.5E-1", 0.25},
        {"1e", 1.0}, {"1e99999", kInf}, {"-1e400", -kInf}, {"1e-400", 0.0},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ReadNumber(text), value) << text;
    // Out of range is told apart by the mantissa's magnitude, however long it is.
    EXPECT_EQ(ReadNumber(std::string(400, '9')), kInf);
    EXPECT_EQ(ReadNumber("0." + std::string(400, '0') + "1e400"), 0.1);
}

TEST(RoundToInt16, RoundsTiesToEvenWithinThe16BitRange) {
    const std::pair<double, std::optional<int16_t>> cases[] = {
        {0.5, 0},      {1.5, 2},           {2.5, 2},        {-1.5, -2},         {32767.49, 32767},
        {32767.5, {}}, {-32768.5, -32768}, {-32768.51, {}}, {std::nan(""), {}}, {kInf, {}},
    };
    for (const auto& [value, result] : cases) EXPECT_EQ(RoundToInt16(value), result) << value;
}

TEST(FilterNumericKey, AcceptsWhatEachFieldAllows) {
    // text, caret, key, allowDecimal, allowMinus, accepted. A caret of 0 in
    // "1.04" is also the whole text selected, as after tabbing in: the selected
    // "." still blocks a new one, while a minus replaces the selection.
    const std::tuple<const char*, int, int, bool, bool, bool> cases[] = {
        {"1.04", 4, '7', true, true, true},   {"1.04", 4, '\b', false, false, true},
        {"1.04", 4, 'a', true, true, false},  {"12", 2, '\x03', true, true, false},
        {"1", 1, 0x0663, true, true, false},  {"104", 1, '.', true, true, true},
        {"1.04", 0, '.', true, true, false},  {"1.04", 0, '-', true, true, true},
        {"1.04", 2, '-', true, true, false},  {"", 0, '-', true, true, true},
        {"-1.04", 0, '-', true, true, false}, {"", 0, '-', true, false, false},
        {"100", 3, '.', false, false, false},
    };
    for (const auto& [text, caret, key, decimal, minus, accepted] : cases) {
        EXPECT_EQ(FilterNumericKey(text, caret, key, decimal, minus), accepted ? key : 0)
            << '"' << text << "\" + " << key;
    }
}

TEST(DialogFilter, BarsThenColonsBecomeNulsEndedByTwoNuls) {
    EXPECT_EQ(RewriteFilter(kTrackFilter), "Corvane Tracks (*.cvtrack)\0*.cvtrack\0\0"s);
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(FilterPairs(RewriteFilter("A (*.a)|*.a|B|*.b;*.c")),
              (Pairs{{"A (*.a)", "*.a"}, {"B", "*.b;*.c"}}));
    // A colon in the description cuts it there: the rest becomes the pattern.
    EXPECT_EQ(FilterPairs(RewriteFilter("Tracks: all|*.cvtrack")), (Pairs{{"Tracks", " all"}}));
}

TEST(DialogFlags, SwitchesAddTheirBitsAndHookAndTemplateBitsAreCleared) {
    FileDialogRequest request;
    request.FileMustExist = request.HideReadOnly = request.ReadOnly = request.OverwritePrompt =
        true;
    request.Flags = 0x60 | 0x800;
    EXPECT_EQ(OpenDialogFlags(request), 0x1805u);
    EXPECT_EQ(SaveDialogFlags(request), 0x806u);
}

TEST(WindowRuns, RunsOfSmallPictures) {
    constexpr uint32_t H = 0xFF00FF;  // hole
    constexpr uint32_t O = 0x102030;  // window
    using Pixels = std::vector<uint32_t>;
    using Runs = std::vector<PixelRun>;
    // what, width, height, pixels, runs
    const std::tuple<const char*, int, int, Pixels, Runs> cases[] = {
        {"opaque at both edges", 4, 1, {O, O, H, O}, {{0, 2, 0}, {3, 4, 0}}},
        {"no hole", 3, 2, {O, O, O, O, O, O}, {{0, 3, 0}, {0, 3, 1}}},
        {"only holes, alpha ignored", 2, 1, {0xFFFF00FF, 0x00FF00FF}, {}},
        {"near-magenta is window", 2, 1, {0xFE00FF, 0xFF01FF}, {{0, 2, 0}}},
        {"too few pixels", 2, 2, {O, O, O}, {}},
    };
    for (const auto& [what, width, height, pixels, runs] : cases) {
        EXPECT_EQ(WindowRuns(pixels, width, height, 0xFFFF00FF), runs) << what;
    }
}

TEST(DragState, OnlyTheLeftButtonAloneMovesTheWindowByThePointersOffset) {
    for (const int buttons : {kLeftButton, kRightButton, kLeftButton | kRightButton, 0}) {
        DragState drag;
        BodyPressed(drag, 10.0f, 20.0f);
        const auto offset = BodyMoved(drag, buttons, 15.5f, 17.0f);
        using Offset = std::pair<float, float>;
        const Offset moved = offset ? Offset{offset->dx, offset->dy} : Offset{0.0f, 0.0f};
        EXPECT_EQ(moved, (buttons == kLeftButton ? Offset{5.5f, -3.0f} : Offset{})) << buttons;
    }
}

TEST(ProgressBarShape, RisesInWholeTwipsFromTheTubeBottom) {
    const std::tuple<int32_t, int32_t, float, float> cases[] = {
        {0, 7, 0.0f, 4080.0f},    {7, 7, 1680.0f, 2400.0f},      {1, 4, 420.0f, 3660.0f},
        {3, 8, 630.0f, 3450.0f},  {999, 1000, 1678.0f, 2402.0f}, {1, 1000, 1.0f, 4079.0f},
        {3, 2, 2520.0f, 1560.0f},  // past the total: taller than the tube
    };
    for (const auto& [progress, total, height, top] : cases) {
        EXPECT_EQ(ProgressBarShape(progress, total), (BarShape{height, top}))
            << progress << "/" << total;
    }
    EXPECT_FALSE(ProgressBarShape(1, 0).has_value());
}

TEST(WindowArguments, FileHelpVersionAndUsageErrorsAsTheCommandLineToolAnswers) {
    // arguments, exit code (-1: open the window), file, start of the output
    const std::tuple<std::vector<std::string>, int, const char*, const char*> cases[] = {
        {{}, -1, "", ""},
        {{"a.cvtrack"}, -1, "a.cvtrack", ""},
        {{"--", "-odd.cvtrack"}, -1, "-odd.cvtrack", ""},
        {{"--version"}, 0, "", "cv-qrn 9.8.7\n"},
        {{"a.cvtrack", "--help"}, 0, "", "usage: cv-qrn [FILE]"},
        {{"--bogus"}, 2, "", "cv-qrn: unknown option '--bogus'"},
        {{"a.cvtrack", "b.cvtrack"}, 2, "", "cv-qrn: only one track file"},
    };
    for (const auto& [args, code, file, output] : cases) {
        const WindowArguments parsed = ParseWindowArguments(args, "9.8.7");
        const std::string& text = code == 2 ? parsed.err : parsed.out;
        EXPECT_EQ(parsed.exitCode, code) << output;
        EXPECT_EQ(parsed.file, file) << output;
        EXPECT_TRUE(text.starts_with(output)) << text;
    }
}

}  // namespace
}  // namespace cvqrn::ui::test
