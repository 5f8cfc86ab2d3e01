// Writing a whole file image over a target the way a user means it (internal
// to trackfile/): through symbolic links, atomically, without leaving
// temporary files behind.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "trackfile/track_file.h"

namespace cvqrn {

// Writes `image` to `result.path` with `steps` and completes `result`.
// `result.path` is the name the user gave, extension rule applied.
void SaveImage(std::span<const uint8_t> image, SaveSteps& steps, const SaveOptions& options,
               SaveResult& result);

// The first characters of every temporary file a save of a target called
// `name` creates in its folder: ".cvqrn-", eight hex digits of the name, "-".
std::string TempPrefixFor(std::string_view name);

}  // namespace cvqrn
