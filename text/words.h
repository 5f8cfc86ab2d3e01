// Text every layer shares apart from numbers: ASCII case folding (track
// tags and the file extension compare without regard to case, whatever the
// locale) and the system's reason for a failed call.
#pragma once

#include <string>

namespace cvqrn {

// `c` in upper or lower case when it is an ASCII letter; any other byte as it is.
constexpr char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The system's text for the errno value `err` ("No such file or directory").
std::string SystemReason(int err);

}  // namespace cvqrn
