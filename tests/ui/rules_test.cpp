// The window's rules apart from the toolkit: numbers, field filter, file dialogs, command line.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "frontend/key_filter.h"
#include "frontend/number_text.h"
#include "frontend/window_arguments.h"
#include "frontend/window_logic.h"

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
    // text, caret, key, allowDecimal, allowMinus, accepted. A caret of 0 is also the whole
    // text selected: the selected "." still blocks a new one, a minus replaces it.
    const std::tuple<const char*, int, int, bool, bool, bool> cases[] = {
        {"1.04", 4, '7', true, true, true},  {"1.04", 4, '\b', false, false, true},
        {"1", 1, 0x0663, true, true, false}, {"104", 1, '.', true, true, true},
        {"1.04", 0, '.', true, true, false}, {"1.04", 0, '-', true, true, true},
        {"1.04", 2, '-', true, true, false}, {"-1.04", 0, '-', true, true, false},
        {"", 0, '-', true, false, false},    {"100", 3, '.', false, false, false},
    };
    for (const auto& [text, caret, key, decimal, minus, accepted] : cases) {
        EXPECT_EQ(FilterNumericKey(text, caret, key, decimal, minus), accepted ? key : 0)
            << '"' << text << "\" + " << key;
    }
    EXPECT_TRUE(TypingCouldProduce("-0.9", true, true));
    EXPECT_FALSE(TypingCouldProduce("1.5", false, true));
    EXPECT_FALSE(TypingCouldProduce("1-2", true, true));
    EXPECT_FALSE(TypingCouldProduce("1.2.3", true, true));
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
