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
#include <string_view>
#include <vector>

#include "model/track_record.h"
#include "text/result.h"

namespace cvqrn {

// The extension every track file's name ends in (compared without regard to case).
inline constexpr std::string_view kTrackFileExtension = ".cvtrack";

// A save: Ok, or the first failure with its reason. InPlacePossible: refused
// only because the folder does not allow a new file while the file itself is
// writable (SaveOptions::inPlace would write it).
struct SaveResult : Result {
    std::string path{};  // the path actually written (".cvtrack" appended when missing)
    size_t bytes = 0;    // the length of the file written
    std::string note{};  // something the user should know even on success (e.g. links split)
};

struct SaveOptions {
    // When the folder does not allow a new file but the file is writable,
    // overwrite the file in place. That write is not atomic: a failure midway
    // leaves a damaged file. Only on the user's explicit request.
    bool inPlace = false;
};

// Loads the file at `path` into `track`. An empty path, a missing or
// unreadable file, a folder or a name not ending in ".cvtrack" (any case)
// is refused with `track` untouched. Past those checks `track` is cleared
// first; a file that is then refused leaves it cleared or partly filled.
// A file whose decoded track would take more than twice the file's size plus
// 64 MB of memory is refused before that memory is taken, and running out of
// memory is a refused load, not an exception.
// Ok, or InvalidFile (the name, the file or its content), IoError (a read the
// system refused) or OutOfMemory, with the reason as the message.
Result LoadTrack(const std::string& path, TrackData& track);

// Decodes a whole file image (the bytes of a track file) into `track`, which
// is cleared first. Never reads outside `image`. A track accepted by this (or
// LoadTrack) has the shape CheckTrackShape checks (track_record.h).
Result DecodeTrack(std::span<const uint8_t> image, TrackData& track);

struct EncodeResult : Result {
    std::vector<uint8_t> image{};  // the file's bytes; empty unless Ok
};

// The file image of `track`: the fixed chunk tree, every Size computed from the
// content (the record's own Size and ChildCount fields are not used).
// InvalidTrack when the track does not have the shape CheckTrackShape checks,
// TooLarge when the image would pass the format's 2 GiB limit.
EncodeResult EncodeTrack(const TrackData& track);

// The file-system steps of a save that tests may make fail, one call per
// step. Each returns 0 or the errno value of its failure, as the system
// reports it. The default (PosixSaveSteps) uses POSIX calls relative to the
// open folder `dir`.
class SaveSteps {
  public:
    virtual ~SaveSteps() = default;
    // Creates the new file `name` (which must not exist) in the open folder
    // `dir` and opens it for writing.
    virtual int CreateTemp(int dir, const std::string& name) = 0;
    // Takes the lock that marks the open file as a live save's temporary
    // file, held until the save ends: a temporary file nobody holds is stale.
    // EEXIST when a save sweeping stale files took the file first (it removes
    // it; another name is tried).
    virtual int Lock() = 0;
    // Writes all of `bytes` to the open file.
    virtual int Write(std::span<const uint8_t> bytes) = 0;
    // Flushes the open file to disk.
    virtual int Flush() = 0;
    // Closes the open file.
    virtual int Close() = 0;
    // Renames `from` over `to`, both in the open folder `dir`, in one step.
    virtual int Rename(int dir, const std::string& from, const std::string& to) = 0;
    // The open file's descriptor, or -1.
    virtual int Fd() const = 0;
};

class PosixSaveSteps : public SaveSteps {
  public:
    PosixSaveSteps() = default;
    PosixSaveSteps(const PosixSaveSteps&) = delete;
    PosixSaveSteps& operator=(const PosixSaveSteps&) = delete;
    ~PosixSaveSteps() override;
    int CreateTemp(int dir, const std::string& name) override;
    int Lock() override;
    int Write(std::span<const uint8_t> bytes) override;
    int Flush() override;
    int Close() override;
    int Rename(int dir, const std::string& from, const std::string& to) override;
    int Fd() const override;

  private:
    int fd_ = -1;
    int lockFd_ = -1;  // holds the temp's lock until the save ends
};

// Writes `track` to `path` (".cvtrack" appended when the name lacks it) as
// the user means it:
// - A symbolic link is followed; the file it names is replaced in its own
//   folder and the link stays.
// - The image goes to a temporary file ".cvqrn-<hash>-<random>.tmp" in the
//   target's folder, encoded and written a block (1 MB) at a time so that it
//   never stands in memory whole beside the track, is flushed and renamed
//   over the target, all relative to
//   one handle on the folder. On any failure the temporary file is removed and
//   the previous file stays as it was. Temporary files of the same target
//   that a killed save left behind are removed by the next save of it.
//   SIGTERM, SIGINT and SIGHUP during the save remove the temporary file
//   before they take effect; a write past the file-size limit (SIGXFSZ) fails
//   with a reason instead of ending the process.
// - A replaced file keeps its owner and group where the system allows, and its
//   permissions without setuid, setgid and sticky bits.
// - A file with other hard links is replaced atomically: the other names keep
//   the previous content, and `note` says so.
// - A name ending in "/" or naming a folder is refused. When the folder does
//   not allow a new file but the file is writable, the save is refused with
//   InPlacePossible, or written in place when `options.inPlace` asks for it.
// Running out of memory is a refused save (OutOfMemory), not an exception.
// A name the save cannot take is InvalidFile, a track it cannot encode
// InvalidTrack or TooLarge, a step the file system refuses IoError.
SaveResult SaveTrack(const std::string& path, const TrackData& track,
                     const SaveOptions& options = {});
SaveResult SaveTrack(const std::string& path, const TrackData& track, SaveSteps& steps,
                     const SaveOptions& options = {});

// Whether `path` ends in kTrackFileExtension, compared without regard to case.
bool HasTrackExtension(std::string_view path);

// `path` with ".cvtrack" appended unless it ends in it (HasTrackExtension).
std::string WithTrackExtension(const std::string& path);

}  // namespace cvqrn
