// Reading the parameter fields, the display format and the key filter.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ui/key_filter.h"
#include "ui/number_text.h"

namespace cvqrn::ui {
namespace {

TEST(ReadNumber, TakesTheLeadingNumericPartWithAPointWhateverTheLocale) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {
        {"", 0.0},
        {"abc", 0.0},
        {"-", 0.0},
        {".", 0.0},
        {"-.", 0.0},
        {"100", 100.0},
        {"1.04", 1.04},
        {"14.3", 14.3},
        {"-1.15", -1.15},
        {".5", 0.5},
        {"-.5", -0.5},
        {"7.", 7.0},
        {"+3", 3.0},
        {"  12", 12.0},
        {"1,5", 1.0},
        {"1.2.3", 1.2},
        {"12abc", 12.0},
        {"--1", 0.0},
        {"1e3", 1000.0},
        {"2.5E-1", 0.25},
        {"1e", 1.0},
        {"1e+", 1.0},
        {"3e-x", 3.0},
        {"0012.50", 12.5},
        {"1e999999999", std::numeric_limits<double>::infinity()},
        {"-1e400", -std::numeric_limits<double>::infinity()},
        {"1e-400", 0.0},
        {"0.000e500", 0.0},
    };
    for (const Case& c : cases) EXPECT_EQ(ReadNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(ReadNumber, LongDigitStringsKeepTheirMagnitude) {
    EXPECT_EQ(ReadNumber(std::string(400, '9')), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ReadNumber("0." + std::string(400, '0') + "1"), 0.0);
    EXPECT_EQ(ReadNumber("0." + std::string(400, '0') + "1e400"), 1e-1);
}

TEST(RoundToInt16, RoundsTiesToEvenWithinThe16BitRange) {
    struct Case {
        double value;
        std::optional<int16_t> result;
    };
    const Case cases[] = {
        {0.5, 0},           {1.5, 2},
        {2.5, 2},           {-0.5, 0},
        {-1.5, -2},         {6.4999, 6},
        {32767.0, 32767},   {32767.49, 32767},
        {32767.5, {}},      {-32768.0, -32768},
        {-32768.5, -32768}, {-32769.0, {}},
        {-32768.51, {}},    {1e300, {}},
        {std::nan(""), {}}, {std::numeric_limits<double>::infinity(), {}},
    };
    for (const Case& c : cases) EXPECT_EQ(RoundToInt16(c.value), c.result) << c.value;
}

TEST(FormatDisplay, ShowsThreeDecimalsWithoutGroupingInTheLocaleSeparator) {
    struct Case {
        double value;
        const char* separator;
        const char* text;
    };
    const Case cases[] = {
        {12.3456, ".", "12.346"},   {1234.5, ".", "1234.500"},
        {-1.0001, ".", "-1.000"},   {12.3456, ",", "12,346"},
        {0.0, ".", "0.000"},        {-0.0, ".", "0.000"},
        {0.25, ".", "0.250"},       {1234567.891, ",", "1234567,891"},
        {-0.0004, ".", "-0.000"},   {0.0005, ".", "0.001"},
        {std::nan(""), ".", "NaN"}, {-std::numeric_limits<double>::infinity(), ".", "-Infinity"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatDisplay(c.value, c.separator), c.text) << c.value;
}

TEST(FilterNumericKey, AcceptsWhatEachFieldAllows) {
    struct Case {
        const char* what;
        const char* text;
        int caret;
        char key;
        bool decimal;
        bool minus;
        bool accepted;
    };
    const Case cases[] = {
        {"digit", "1.04", 4, '7', true, true, true},
        {"backspace", "1.04", 4, '\b', false, false, true},
        {"letter", "1.04", 4, 'a', true, true, false},
        {"blank", "", 0, ' ', true, true, false},
        {"control key", "12", 2, '\x03', true, true, false},
        {"return", "12", 2, '\r', true, true, false},
        {"first point", "104", 1, '.', true, true, true},
        {"second point", "1.04", 4, '.', true, true, false},
        // With "1.04" selected: the selected "." still blocks a new one ...
        {"point over selection", "1.04", 0, '.', true, true, false},
        // ... while a minus replaces the selection.
        {"minus over selection", "1.04", 0, '-', true, true, true},
        {"minus at front", "1.04", 0, '-', true, true, true},
        {"minus elsewhere", "1.04", 2, '-', true, true, false},
        {"minus in empty field", "", 0, '-', true, true, true},
        {"second minus", "-1.04", 0, '-', true, true, false},
        {"minus in speed field", "", 0, '-', true, false, false},
        {"point in segments field", "100", 3, '.', false, false, false},
        {"minus in segments field", "100", 0, '-', false, false, false},
        {"non-ASCII digit", "1", 1, 0, true, true, false},
    };
    for (const Case& c : cases) {
        const int key = c.key == 0 ? 0x0663 : c.key;  // ARABIC-INDIC DIGIT THREE
        const int result = FilterNumericKey(c.text, c.caret, key, c.decimal, c.minus);
        EXPECT_EQ(result, c.accepted ? key : 0) << c.what;
    }
}

}  // namespace
}  // namespace cvqrn::ui
