// Numbers as the user reads them, written the same way whatever the process
// locale: the run's messages, the window's fields and the CLI's output all
// use these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>


namespace cvqrn {

// The most decimals FormatFixed writes.
inline constexpr int kMaxDecimals = 20;

// `value` with exactly `decimals` digits after `separator`, at least one digit
// before it, no grouping (the display format "##0.000" for 3 decimals),
// correctly rounded (ties of the exact binary value to even). Zero, also -0,
// shows without a minus; a negative value that rounds to zero keeps it
// ("-0.000"). NaN shows as "NaN", infinities as "Infinity" / "-Infinity".
// Every value has its text: nothing can fail.
//   decimals   0 to kMaxDecimals; a number outside is taken as the nearer end
//   separator  the decimal separator, e.g. the window locale's "," or "."
std::string FormatFixed(double value, int decimals = 3, std::string_view separator = ".");

// The shortest text with "." that reads back as the same double (1.04 -> "1.04").
std::string FormatShortest(double value);

// A whole number with "," between groups of three digits (3000 -> "3,000").
std::string FormatCount(int64_t value);

}  // namespace cvqrn
