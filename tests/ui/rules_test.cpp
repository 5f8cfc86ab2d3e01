// The window's rules apart from the toolkit: numbers, field filter, file dialogs, command line.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "frontend/key_filter.h"
#include "frontend/number_text.h"
#include "frontend/window_arguments.h"
#include "frontend/window_logic.h"
#include "frontend/window_placement.h"

namespace cvqrn::ui::test {
namespace {

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

TEST(FieldFilter, KeysAndPastedTextAreAcceptedAsEachFieldAllows) {
    // text, caret, key, allowDecimal, allowMinus, what goes in (0: swallowed). A caret of 0
    // is also the whole text selected: the selected "." still blocks a new one, a minus
    // replaces it. A decimal comma (a German keypad's decimal key) goes in as a point
    // under the point's rules; "1,5" must never read as 15.
    const std::tuple<const char*, int, int, bool, bool, int> cases[] = {
        {"1.04", 4, '7', true, true, '7'},  {"1.04", 4, '\b', false, false, '\b'},
        {"1", 1, 0x0663, true, true, 0},    {"104", 1, '.', true, true, '.'},
        {"1.04", 0, '.', true, true, 0},    {"1.04", 0, '-', true, true, '-'},
        {"1.04", 2, '-', true, true, 0},    {"-1.04", 0, '-', true, true, 0},
        {"", 0, '-', true, false, 0},       {"100", 3, '.', false, false, 0},
        {"1", 1, ',', true, false, '.'},    {"1.5", 1, ',', true, true, 0},
        {"100", 3, ',', false, false, 0},
    };
    for (const auto& [text, caret, key, decimal, minus, taken] : cases) {
        EXPECT_EQ(FilterNumericKey(text, caret, key, decimal, minus), taken)
            << '"' << text << "\" + " << key;
    }
    EXPECT_TRUE(TypingCouldProduce("-0.9", true, true));
    EXPECT_FALSE(TypingCouldProduce("1.5", false, true));
    EXPECT_FALSE(TypingCouldProduce("1-2", true, true));
    EXPECT_FALSE(TypingCouldProduce("1.2.3", true, true));
    // Pasted text: a comma becomes a point where the field takes one, and is refused elsewhere.
    EXPECT_EQ(DecimalCommasAsPoints("14,3", true), "14.3");
    EXPECT_FALSE(TypingCouldProduce(DecimalCommasAsPoints("1,5", false), false, false));
    EXPECT_FALSE(TypingCouldProduce(DecimalCommasAsPoints("1,5,0", true), true, false));
}

TEST(PlaceBeside, TheProfileOpensBesideThePanelInsideA1366x768Screen) {
    // A 1366 x 768 screen whose bottom 40 pixels a task bar takes; the panel is
    // 440 x 340. panel's left and top, then where the window goes.
    const ScreenRect screen{0, 0, 1366, 728};
    const ScreenSize preferred{1248, 816};
    const ScreenSize minimum{700, 600};
    const std::pair<std::pair<int, int>, ScreenRect> cases[] = {
        {{100, 100}, {548, 0, 818, 728}},    // right of it, as wide as the room there
        {{900, 300}, {0, 0, 892, 728}},      // left of it: the right has too little room
        {{500, 500}, {0, 0, 700, 728}},      // neither side: over it as little as it can
        {{-200, 700}, {248, 0, 1118, 728}},  // a panel pushed partly off the screen
    };
    for (const auto& [at, place] : cases) {
        const ScreenRect panel{at.first, at.second, 440, 340};
        const ScreenRect got = PlaceBeside(panel, screen, preferred, minimum);
        EXPECT_EQ(got, place) << at.first << "," << at.second;
        EXPECT_TRUE(got.left >= 0 && got.top >= 0 && got.right() <= 1366 && got.bottom() <= 728);
    }
    // A screen with room for all of it: the preferred size, level with the panel.
    EXPECT_EQ(PlaceBeside({10, 50, 440, 340}, {0, 0, 2560, 1400}, preferred, minimum),
              (ScreenRect{458, 50, 1248, 816}));
}

TEST(FileDialogContract, AColonCutsTheDescriptionAndHookAndTemplateBitsAreCleared) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(FilterPairs(RewriteFilter("Tracks: all|*.cvtrack")), (Pairs{{"Tracks", " all"}}));
    FileDialogRequest request;
    request.ReadOnly = true;
    request.Flags = 0x60 | 0x800;
    EXPECT_EQ(OpenDialogFlags(request), 0x801u);
    EXPECT_EQ(SaveDialogFlags(request), 0x804u);
}

TEST(WindowArguments, FileHelpVersionAndUsageErrorsAsTheCommandLineToolAnswers) {
    // arguments, exit code (-1: open the window), file, start of the output
    const std::tuple<std::vector<std::string>, int, const char*, const char*> cases[] = {
        {{"a.cvtrack"}, -1, "a.cvtrack", ""},
        {{"--", "-odd.cvtrack"}, -1, "-odd.cvtrack", ""},
        {{"--version"}, 0, "", "cv-qrn 9.8.7\n"},
        {{"a.cvtrack", "--help"}, 0, "", "usage: cv-qrn [FILE]"},
        {{"--bogus"}, 2, "", "cv-qrn: unknown option '--bogus'"},
        {{"a.cvtrack", "b.cvtrack"}, 2, "", "cv-qrn: only one track file"},
    };
    for (const auto& [args, code, file, output] : cases) {
        const WindowArguments parsed = ParseWindowArguments(args, "9.8.7");
        EXPECT_EQ(parsed.exitCode, code) << output;
        EXPECT_EQ(parsed.file, file) << output;
        EXPECT_TRUE((code == 2 ? parsed.err : parsed.out).starts_with(output)) << output;
    }
}

}  // namespace
}  // namespace cvqrn::ui::test
