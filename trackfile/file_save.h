// Writing a whole file image over a target the way a user means it (internal
// to trackfile/): through symbolic links, atomically, without leaving
// temporary files behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "trackfile/track_file.h"

namespace cvqrn {

// A file image made while it is written.
struct ImageSource {
    // Writes all of one block; 0 or the errno value of its failure.
    using Write = std::function<int(std::span<const uint8_t>)>;
    size_t size = 0;  // the image's length
    // Hands the image's bytes to `write` in order, a block at a time, and
    // stops at the first write that fails; returns that failure or 0.
    std::function<int(const Write&)> produce;
};

// Writes `image` to `path` (the name the user gave, extension rule applied)
// with `steps`.
SaveResult SaveImage(const ImageSource& image, const std::string& path, SaveSteps& steps,
                     const SaveOptions& options);

// A save of `path` that failed with `status` for `reason`.
SaveResult SaveFailure(std::string path, Status status, std::string reason);

// The first characters of every temporary file a save of a target called
// `name` creates in its folder: ".cvqrn-", eight hex digits of the name, "-".
std::string TempPrefixFor(std::string_view name);

}  // namespace cvqrn
