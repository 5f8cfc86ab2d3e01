#include "heartline/text.h"

#include "trackfile/portability.h"

namespace cvqrn {

std::string FormatNumber(double value, int decimals) {
    char buffer[400];
    const auto written =
        port::ToCharsFixed(buffer, buffer + sizeof buffer, value, decimals);
    if (written.ec != std::errc()) return "?";
    return std::string(buffer, written.ptr);
}

}  // namespace cvqrn
