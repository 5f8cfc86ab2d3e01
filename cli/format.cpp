#include "cli/format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace cvqrn::cli {

std::string FormatFixed3(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    if (v == 0.0) v = 0.0;  // no minus for negative zero; small negatives keep theirs
    char buf[400];          // room for the integer digits of the largest double
    // "%.3f" uses "." only under the C locale, which this tool never changes.
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

std::optional<double> ParseNumber(const std::string& text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string JsonNumber(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[32];
    const auto result = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, result.ptr);
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
