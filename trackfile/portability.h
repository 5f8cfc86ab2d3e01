// Standard-library features the project uses that not every toolchain it is
// built with provides (the WebAssembly build's libc++ lacks all four). Each
// falls back to an equivalent written with older facilities, so the core
// calls these and never tests for the library itself.
#pragma once

#include <algorithm>
#include <charconv>
#include <clocale>
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
            std::memmove(at + 1, at + point.size(), static_cast<std::size_t>(end - at - point.size()));
            end -= point.size() - 1;
        }
    }
    return {end, std::errc()};
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
