// Numbers as the window and the CLI show them.
#include "text/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace cvqrn {
namespace {

TEST(Text, FixedDecimalsInTheGivenSeparatorWithoutGrouping) {
    const std::tuple<double, const char*, const char*> cases[] = {
        {-0.0, ".", "0.000"},          {-0.0004, ".", "-0.000"},
        {12.3456, ",", "12,346"},      {1234567.891, ",", "1234567,891"},
        {99.9996, ".", "100.000"},     {0.0625, ".", "0.062"},
        {std::nan(""), ",", "NaN"},    {HUGE_VAL, ".", "Infinity"},
        {-HUGE_VAL, ".", "-Infinity"},
    };
    for (const auto& [value, separator, text] : cases) {
        EXPECT_EQ(FormatFixed(value, 3, separator), text) << value;
    }
    // The largest values keep every integer digit: a minus, 301 digits, ".000".
    const std::string huge = FormatFixed(-1e300);
    EXPECT_EQ(huge.size(), 306u);
    EXPECT_EQ(huge.substr(huge.size() - 4), ".000");
    // A text as long as the format allows fits: nothing falls back to a stand-in.
    const std::string longest = FormatFixed(-1.7976931348623157e308, kMaxDecimals);
    EXPECT_EQ(longest.size(), 1u + 309u + 1u + static_cast<size_t>(kMaxDecimals));
    EXPECT_EQ(FormatFixed(2.5, kMaxDecimals + 5), FormatFixed(2.5, kMaxDecimals));
}

TEST(Text, GroupedCounts) {
    const std::pair<int64_t, const char*> counts[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {32767, "32,767"}, {-1234567, "-1,234,567"}};
    for (const auto& [value, text] : counts) EXPECT_EQ(FormatCount(value), text);
}

}  // namespace
}  // namespace cvqrn
