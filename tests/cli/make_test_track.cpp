// Writes a builder-made track file for the command-line checks:
//   make_test_track OUT           the full track (every chunk populated)
//   make_test_track OUT straight  a straight three-vertex track
#include <iostream>
#include <string>

#include "tests/support/track_builder.h"

int main(int argc, char** argv) {
    using namespace cvqrn::testsupport;
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: make_test_track OUT [straight]\n";
        return 2;
    }
    cvqrn::TrackData track = MakeFullTrack();
    if (argc == 3 && std::string(argv[2]) == "straight") {
        cvqrn::TrackVertex v[3];
        for (int i = 0; i < 3; ++i) {
            const float x = 10.0f * static_cast<float>(i);
            v[i].Pos = {x, 0.0f, 0.0f};
            v[i].CtrlIn = {x - 3.0f, 0.0f, 0.0f};
            v[i].CtrlOut = {x + 3.0f, 0.0f, 0.0f};
        }
        track = MakeTrackFromVertices(v);
    }
    WriteFileBytes(argv[1], FrameByHand(track).bytes);
    return 0;
}
