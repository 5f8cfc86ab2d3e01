// Standard-library features the project uses that not every toolchain it is
// built with provides (the WebAssembly build's libc++ lacks all five). Each
// falls back to an equivalent written with older facilities, so the core
// calls these and never tests for the library itself.
#pragma once

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstddef>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace cvqrn::port {

// std::bit_cast for trivially copyable types of the same size.
template <class To, class From>
To BitCast(const From& from) noexcept {
    static_assert(sizeof(To) == sizeof(From));
    static_assert(std::is_trivially_copyable_v<To> && std::is_trivially_copyable_v<From>);
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}

// std::make_unique_for_overwrite<T[]>: an array of `size` default-initialised
// (for bytes: uninitialised) elements.
template <class T>
std::unique_ptr<T[]> MakeArrayForOverwrite(std::size_t size) {
    return std::unique_ptr<T[]>(new T[size]);
}

// std::to_chars(first, last, value, std::chars_format::fixed, decimals): the
// correctly rounded decimal form with "." as the point whatever the locale.
inline std::to_chars_result ToCharsFixed(char* first, char* last, double value, int decimals) {
#if defined(__cpp_lib_to_chars)
    return std::to_chars(first, last, value, std::chars_format::fixed, decimals);
#else
    // printf's %f is correctly rounded too, but writes the C locale's decimal
    // point; put "." in its place.
    const int n = std::snprintf(first, static_cast<std::size_t>(last - first), "%.*f", decimals,
                                value);
    if (n < 0 || n >= last - first) return {last, std::errc::value_too_large};
    const std::string_view point = std::localeconv()->decimal_point;
    char* end = first + n;
    if (point.size() >= 1 && point != ".") {
        char* at = std::search(first, end, point.begin(), point.end());
        if (at != end) {
            *at = '.';
            std::memmove(at + 1, at + point.size(), static_cast<std::size_t>(end - at) - point.size());
            end -= point.size() - 1;
        }
    }
    return {end, std::errc()};
#endif
}

// std::to_chars(first, last, value): the shortest text with "." that reads
// back as the same double, plain ("0.25") or with an exponent ("1e+30"),
// whichever is shorter, plain on a tie.
inline std::to_chars_result ToCharsShortest(char* first, char* last, double value) {
#if defined(__cpp_lib_to_chars)
    return std::to_chars(first, last, value);
#else
    const auto put = [&](const std::string& text) -> std::to_chars_result {
        if (text.size() > static_cast<std::size_t>(last - first)) {
            return {last, std::errc::value_too_large};
        }
        return {std::copy(text.begin(), text.end(), first), std::errc()};
    };
    if (std::isnan(value)) return put(std::signbit(value) ? "-nan" : "nan");
    if (std::isinf(value)) return put(value < 0 ? "-inf" : "inf");
    // The fewest significant digits that read back as `value`; of those, the
    // nearest: printf's correctly rounded digits, or else (where the doubles
    // around `value` lie unevenly) the neighbour of them that reads back.
    const bool negative = std::signbit(value);
    std::string digits;
    int exponent = 0;
    for (int decimals = 0; digits.empty(); ++decimals) {
        char rounded[48];
        std::snprintf(rounded, sizeof rounded, "%.*e", decimals, value);
        const char* const e = std::strchr(rounded, 'e');
        std::string mantissa;
        for (const char* c = rounded; c != e; ++c) {
            if (*c >= '0' && *c <= '9') mantissa += *c;
        }
        const unsigned long long m = std::stoull(mantissa);
        const int power = std::atoi(e + 1);
        for (const unsigned long long candidate : {m, m - 1, m + 1}) {
            if (candidate == 0 && m != 0) continue;
            char text[48];
            std::snprintf(text, sizeof text, "%s%llue%d", negative ? "-" : "", candidate,
                          power - decimals);
            if (std::strtod(text, nullptr) != value) continue;
            digits = std::to_string(candidate);
            exponent = power + static_cast<int>(digits.size()) - decimals - 1;
            while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
            break;
        }
    }
    std::string scientific = negative ? "-" : "";
    scientific += digits.substr(0, 1);
    if (digits.size() > 1) scientific += "." + digits.substr(1);
    char exponentText[16];
    std::snprintf(exponentText, sizeof exponentText, "e%c%02d", exponent < 0 ? '-' : '+',
                  std::abs(exponent));
    scientific += exponentText;
    const int count = static_cast<int>(digits.size());
    std::string plain = negative ? "-" : "";
    if (exponent < 0) {
        plain += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    } else if (exponent + 1 >= count) {
        // A whole number: its exact digits, as printf writes them.
        char whole[400];  // room for the digits of the largest double
        std::snprintf(whole, sizeof whole, "%.0f", value);
        plain = whole;
    } else {
        plain += digits.substr(0, static_cast<std::size_t>(exponent + 1)) + "." +
                 digits.substr(static_cast<std::size_t>(exponent + 1));
    }
    return put(plain.size() <= scientific.size() ? plain : scientific);
#endif
}

// std::from_chars(first, last, value) for a double written as digits with an
// optional "." and exponent, "." being the point whatever the locale. On a
// value too large or too small for a double the result is
// result_out_of_range and `value` is left unchanged.
inline std::from_chars_result FromChars(const char* first, const char* last, double& value) {
#if defined(__cpp_lib_to_chars)
    return std::from_chars(first, last, value);
#else
    // strtod reads the C locale's decimal point: hand it that one.
    std::string text(first, last);
    const std::string_view point = std::localeconv()->decimal_point;
    if (const size_t at = text.find('.'); at != std::string::npos && point != ".") {
        text.replace(at, 1, point);
    }
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (end == text.c_str()) return {first, std::errc::invalid_argument};
    const auto used = static_cast<std::ptrdiff_t>(end - text.c_str()) -
                      (point.size() > 1 && text.find(point) < static_cast<size_t>(end - text.c_str())
                           ? static_cast<std::ptrdiff_t>(point.size() - 1)
                           : 0);
    if (errno == ERANGE) return {first + used, std::errc::result_out_of_range};
    value = parsed;
    return {first + used, std::errc()};
#endif
}

}  // namespace cvqrn::port
