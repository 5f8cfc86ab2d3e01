// Reading the numbers typed into the parameter fields (the display fields
// are written with text/format.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cvqrn::ui {

// The value of the leading numeric part of `text`, with "." as the decimal
// point whatever the locale: optional blanks, an optional sign, digits with at
// most one ".", and an optional exponent ("e" or "E", optional sign, digits).
// Anything after that part is ignored; a text without a digit in that part
// reads as 0. A value too large for a double reads as +/-infinity.
//   text  UTF-8 text of a field; never modified
double ReadNumber(std::string_view text);

// Whether the leading numeric part of `text` (as ReadNumber takes it) holds a
// digit; an empty text, "-", "." or "-." holds none.
bool HasNumber(std::string_view text);

// `value` rounded to the nearest integer, ties to the even integer, when the
// result is a 16-bit signed value (-32768..32767); nothing otherwise (also for
// NaN and infinities).
//   value  the number read from an integer field
std::optional<int16_t> RoundToInt16(double value);

}  // namespace cvqrn::ui
