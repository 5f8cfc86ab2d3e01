#include "cli/format.h"

#include <cmath>
#include <ostream>

#include "text/format.h"
#include "text/portability.h"

namespace cvqrn::cli {

std::optional<double> ParseNumber(const std::string& text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = port::FromChars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string JsonNumber(double v) {
    if (!std::isfinite(v)) return "null";
    return FormatShortest(v);
}

std::string JsonString(std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += ch;
        }
    }
    out += '"';
    return out;
}

void WriteEndAnalysisJson(const EndAnalysis& e, std::ostream& out) {
    out << "  \"radius_in\": " << JsonNumber(e.radiusIn) << ",\n"
        << "  \"slope_in\": " << JsonNumber(e.slopeIn) << ",\n"
        << "  \"tilt_in\": " << JsonNumber(e.tiltIn) << ",\n"
        << "  \"radius_out\": " << JsonNumber(e.radiusOut) << ",\n"
        << "  \"slope_out\": " << JsonNumber(e.slopeOut) << ",\n"
        << "  \"tilt_out\": " << JsonNumber(e.tiltOut) << "\n";
}

}  // namespace cvqrn::cli
