// libFuzzer harness over the track file loader: any input must be refused or
// loaded without a sanitizer report, and whatever loads must save to a file
// that loads again and saves to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "trackfile/track_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cvqrn::TrackData track;
    if (!cvqrn::DecodeTrack(std::span<const uint8_t>(data, size), track)) return 0;
    const std::vector<uint8_t> saved = cvqrn::EncodeTrack(track).image;
    cvqrn::TrackData again;
    if (!cvqrn::DecodeTrack(saved, again) || cvqrn::EncodeTrack(again).image != saved) std::abort();
    return 0;
}
