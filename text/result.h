// What every operation that can fail answers with: load, save, encode, the
// settings check, the heartline run, the valley search and the ride profile.
// One status from one list for every layer, a message for the user and a
// detail for the curious. Success is the status Ok, never an empty text; the
// front ends (window, command line, page) turn a result into their own words
// in one place each.
#pragma once

#include <string>
#include <utility>

namespace cvqrn {

enum class Status {
    Ok,
    InvalidFile,      // a file (or file name) the load or save cannot take
    InvalidTrack,     // a track record that contradicts its own counts
    TooLarge,         // a track too large for a track file
    IoError,          // the file system refused a step; the message gives its reason
    InPlacePossible,  // a save the folder refuses while the file itself is writable
    InvalidSettings,  // settings or options out of range; nothing was done
    UnusableTrack,    // a track a run or a profile cannot take
    Valleyed,         // the energy line lies below the train somewhere
    EqualSpeeds,      // every sample at one speed where a speed-derived pass count was needed
    NumericalBlowUp,  // the run's numbers left the finite range
    OutOfMemory,      // the computer ran out of memory; nothing was changed
};

struct Result {
    Status status = Status::Ok;
    std::string message;  // what happened, in the user's terms; empty for Ok
    std::string detail;   // the figures behind it, for the curious; may be empty
    explicit operator bool() const { return status == Status::Ok; }
};

// A result that is not Ok. `message` must say what happened.
inline Result Failure(Status status, std::string message, std::string detail = {}) {
    return Result{status, std::move(message), std::move(detail)};
}

}  // namespace cvqrn
