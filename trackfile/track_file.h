// Loading and saving ".cvtrack" track files.
//
// A track file is a tree of tagged, sized, big-endian chunks ("CORV" at the
// root). The load reads the whole file into memory, checks the extension and
// the magic and decodes every known chunk into a TrackData; unknown chunks are
// skipped by their size. The save sets the fixed chunk tree, recomputes every
// size, encodes the whole track and replaces the target file atomically.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "trackfile/track_record.h"

namespace cvqrn {

struct LoadResult {
    bool ok = false;
    std::string reason;  // why the file was refused, for the user; empty on success
    explicit operator bool() const { return ok; }
};

struct SaveResult {
    bool ok = false;
    std::string path;    // the path actually written (".cvtrack" appended when missing)
    std::string reason;  // the first failure, with the system's reason; empty on success
    explicit operator bool() const { return ok; }
};

// Loads the file at `path` into `track`. An empty path, a missing or
// unreadable file, a directory or a name not ending in ".cvtrack" (any case)
// is refused with `track` untouched. Past those checks `track` is cleared
// first; a file that is then refused leaves it cleared or partly filled.
LoadResult LoadTrack(const std::string& path, TrackData& track);

// Decodes a whole file image (the bytes of a track file) into `track`, which
// is cleared first. Never reads outside `image`.
LoadResult DecodeTrack(std::span<const uint8_t> image, TrackData& track);

// Sets every chunk's Size from the content of `track`.
void ComputeSizes(TrackData& track);

// Sets the fixed chunk tree and the sizes in `track` and returns the file image.
std::vector<uint8_t> EncodeTrack(TrackData& track);

// Writes `track` to `path` (".cvtrack" appended when the name lacks it). The
// image goes to a temporary file in the same directory, is flushed to disk and
// renamed over the target; on any failure the previous file stays as it was.
SaveResult SaveTrack(const std::string& path, TrackData& track);

}  // namespace cvqrn
