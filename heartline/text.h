// Numbers in the run's messages, written the same way whatever the locale.
#pragma once

#include <string>

namespace cvqrn {

// `value` with `decimals` digits after a "." (nan and inf as such).
std::string FormatNumber(double value, int decimals = 3);

}  // namespace cvqrn
