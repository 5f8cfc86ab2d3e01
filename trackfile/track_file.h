// Loading and saving ".cvtrack" track files.
//
// A track file is a tree of tagged, sized, big-endian chunks ("CORV" at the
// root). The load reads the whole file into memory, checks the extension and
// the magic and decodes every known chunk into a TrackData; unknown chunks are
// skipped by their size. The save encodes the whole track with the fixed chunk
// tree and freshly computed sizes, and replaces the target file atomically.
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
    size_t bytes = 0;    // the length of the file written
    explicit operator bool() const { return ok; }
};

// Loads the file at `path` into `track`. An empty path, a missing or
// unreadable file, a directory or a name not ending in ".cvtrack" (any case)
// is refused with `track` untouched. Past those checks `track` is cleared
// first; a file that is then refused leaves it cleared or partly filled.
LoadResult LoadTrack(const std::string& path, TrackData& track);

// Decodes a whole file image (the bytes of a track file) into `track`, which
// is cleared first. Never reads outside `image`. A track accepted by this (or
// LoadTrack) has the shape FindShapeProblem checks (track_record.h).
LoadResult DecodeTrack(std::span<const uint8_t> image, TrackData& track);

struct EncodeResult {
    std::vector<uint8_t> image;  // the file's bytes; empty when refused
    std::string reason;          // why the track cannot be encoded; empty on success
    explicit operator bool() const { return reason.empty(); }
};

// The file image of `track`: the fixed chunk tree, every Size computed from the
// content (the record's own Size and ChildCount fields are not used). Refused
// when the track does not have the shape FindShapeProblem checks, or when the
// image would pass the format's 2 GiB limit.
EncodeResult EncodeTrack(const TrackData& track);

// The file-system steps of a save, one call per step. Each step returns 0 or
// the errno value of its failure. The default (PosixSaveSteps) uses POSIX
// calls; tests substitute steps that fail where they choose.
class SaveSteps {
  public:
    virtual ~SaveSteps() = default;
    // Creates a new empty file in the directory of `target` and opens it for
    // writing; stores its path in `tempPath`.
    virtual int CreateTemp(const std::string& target, std::string& tempPath) = 0;
    // Writes all of `bytes` to the open temporary file.
    virtual int Write(std::span<const uint8_t> bytes) = 0;
    // Flushes the temporary file to disk.
    virtual int Flush() = 0;
    // Closes the temporary file.
    virtual int Close() = 0;
    // Renames `from` over `to` in one step.
    virtual int Rename(const std::string& from, const std::string& to) = 0;
    // Removes `path`, ignoring errors (used to clean up after a failure).
    virtual void Remove(const std::string& path) = 0;
};

// The real file system. The temporary file gets the permissions of the file
// it replaces, or the usual ones of a new file.
class PosixSaveSteps : public SaveSteps {
  public:
    ~PosixSaveSteps() override;
    int CreateTemp(const std::string& target, std::string& tempPath) override;
    int Write(std::span<const uint8_t> bytes) override;
    int Flush() override;
    int Close() override;
    int Rename(const std::string& from, const std::string& to) override;
    void Remove(const std::string& path) override;

  private:
    int fd_ = -1;
};

// Writes `track` to `path` (".cvtrack" appended when the name lacks it). The
// image goes to a temporary file in the same directory, is flushed to disk and
// renamed over the target; on any failure the temporary file is removed, the
// previous file stays as it was and the result names the failed step.
SaveResult SaveTrack(const std::string& path, const TrackData& track);
SaveResult SaveTrack(const std::string& path, const TrackData& track, SaveSteps& steps);

// `path` with ".cvtrack" appended unless its last 8 characters, lower-cased, are ".cvtrack".
std::string WithTrackExtension(const std::string& path);

}  // namespace cvqrn
