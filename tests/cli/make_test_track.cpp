// Writes a builder-made track file for the command-line checks:
//   make_test_track OUT           the full track (every chunk populated)
//   make_test_track OUT straight  a straight three-vertex track
#include <string>

#include "tests/support/track_builder.h"

int main(int argc, char** argv) {
    using namespace cvqrn::testsupport;
    if (argc < 2 || argc > 3) return 2;
    cvqrn::TrackData track = MakeFullTrack();
    if (argc == 3 && std::string(argv[2]) == "straight") {
        const cvqrn::TrackVertex v[] = {{{0, 0, 0}, {-3, 0, 0}, {3, 0, 0}},
                                        {{10, 0, 0}, {7, 0, 0}, {13, 0, 0}},
                                        {{20, 0, 0}, {17, 0, 0}, {23, 0, 0}}};
        track = MakeTrackFromVertices(v);
    }
    WriteFileBytes(argv[1], FrameByHand(track).bytes);
    return 0;
}
