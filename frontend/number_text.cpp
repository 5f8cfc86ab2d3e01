#include "frontend/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "text/portability.h"

namespace cvqrn::ui {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// For a mantissa "ddd.ddd" with a non-zero digit: the number of digits from
// its first non-zero digit to the point (positive), or minus the number of
// zeros between the point and the first non-zero digit (zero or negative).
long MantissaMagnitude(std::string_view mantissa) {
    const size_t point = std::min(mantissa.find('.'), mantissa.size());
    const size_t first = mantissa.find_first_not_of("0.");
    if (first == std::string_view::npos) return -1000000;  // all zeros
    if (first < point) return static_cast<long>(point - first);
    return -static_cast<long>(first - point - 1);
}

}  // namespace

bool HasNumber(std::string_view text) {
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string_view::npos) return false;
    if (text[i] == '-' || text[i] == '+') ++i;
    if (i < text.size() && text[i] == '.') ++i;
    return i < text.size() && IsDigit(text[i]);
}

double ReadNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;

    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }

    // Mantissa: digits with at most one decimal point. `clean` collects it in
    // the form std::from_chars reads (no sign, "." as the point).
    std::string clean;
    bool seenPoint = false;
    bool seenDigit = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            seenDigit = true;
            clean.push_back(c);
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
            clean.push_back(c);
        } else {
            break;
        }
    }
    if (!seenDigit) return 0.0;

    // Exponent, taken only when at least one digit follows the "e".
    long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        bool expNegative = false;
        if (j < text.size() && (text[j] == '-' || text[j] == '+')) {
            expNegative = text[j] == '-';
            ++j;
        }
        if (j < text.size() && IsDigit(text[j])) {
            std::string digits;
            while (j + 1 < text.size() && text[j] == '0' && IsDigit(text[j + 1])) ++j;
            for (; j < text.size() && IsDigit(text[j]); ++j) {
                // Cap the exponent: beyond this every value is 0 or infinite anyway.
                if (digits.size() < 6) digits.push_back(text[j]);
            }
            exponent = std::stol(digits);
            if (expNegative) exponent = -exponent;
            clean += 'e';
            clean += std::to_string(exponent);
        }
    }

    double value = 0.0;
    const auto [ptr, ec] = port::FromChars(clean.data(), clean.data() + clean.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Out of range is either far above or far below 1: tell them apart by
        // the decimal position of the mantissa's first non-zero digit.
        value = MantissaMagnitude(clean.substr(0, clean.find('e'))) + exponent > 0
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
    } else if (ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::optional<int16_t> RoundToInt16(double value) {
    // nearbyint rounds in the current rounding mode, which is to nearest, ties to even.
    const double rounded = std::nearbyint(value);
    if (!(rounded >= -32768.0 && rounded <= 32767.0)) return std::nullopt;
    return static_cast<int16_t>(rounded);
}

}  // namespace cvqrn::ui
