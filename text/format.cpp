#include "text/format.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "text/portability.h"

namespace cvqrn {

std::string FormatFixed(double value, int decimals, std::string_view separator) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0.0) value = 0.0;  // no minus for -0
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    // Room for a minus, the integer digits of the largest double, the point
    // and the decimals: the conversion cannot run out of it.
    constexpr size_t kMaxIntegerDigits = std::numeric_limits<double>::max_exponent10 + 1;
    std::string text(1 + kMaxIntegerDigits + 1 + static_cast<size_t>(decimals), '\0');
    const auto written =
        port::ToCharsFixed(text.data(), text.data() + text.size(), value, decimals);
    text.resize(static_cast<size_t>(written.ptr - text.data()));
    const size_t point = text.find('.');
    if (point != std::string::npos) text.replace(point, 1, separator);
    return text;
}

std::string FormatShortest(double value) {
    char buffer[32];
    const auto written = port::ToCharsShortest(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, written.ptr);
}

std::string FormatCount(int64_t value) {
    const std::string digits = std::to_string(value);
    const size_t first = value < 0 ? 1 : 0;
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        const size_t left = digits.size() - i;  // digits from here to the end
        if (i > first && left % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

}  // namespace cvqrn
