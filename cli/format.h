// Number and text formatting for the command-line tool's output.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "geometry/end_analysis.h"

namespace cvqrn::cli {

// The whole of `text` as a finite number ("1.04", "-2", "1e3"); none otherwise.
std::optional<double> ParseNumber(const std::string& text);

// `v` as a JSON number (the shortest text that reads back as the same
// double), or null when it is not finite (JSON has no NaN or infinity).
std::string JsonNumber(double v);

// `s` as a JSON string literal with quotes. Bytes of 0x80 and above are
// written as \u00XX (each byte taken as one character of an 8-bit code page).
std::string JsonString(std::string_view s);

// The six end-analysis values as the last members of a JSON object, one
// "  \"key\": number" line each (radius_in, slope_in, tilt_in, radius_out,
// slope_out, tilt_out), the last one without a comma.
void WriteEndAnalysisJson(const EndAnalysis& e, std::ostream& out);

}  // namespace cvqrn::cli
