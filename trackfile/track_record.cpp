#include "trackfile/track_record.h"

namespace cvqrn {

void ClearTrack(TrackData& track) {
    track = TrackData{};
}

}  // namespace cvqrn
