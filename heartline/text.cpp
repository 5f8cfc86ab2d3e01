#include "heartline/text.h"

#include <charconv>

namespace cvqrn {

std::string FormatNumber(double value, int decimals) {
    char buffer[400];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (written.ec != std::errc()) return "?";
    return std::string(buffer, written.ptr);
}

}  // namespace cvqrn
