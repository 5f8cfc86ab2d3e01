// make_large_track FILE: writes the large track of the file benchmarks (a
// 2048 x 2048 terrain grid, 100,000 scenery entries, 20,000 vertices: about
// 25 MB) to FILE, so that a load and save can be timed as whole processes.
#include <cstdio>

#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_large_track FILE\n");
        return 2;
    }
    const cvqrn::TrackData track = cvqrn::testsupport::MakeLargeTrack(2048, 2048, 100000, 20000);
    const cvqrn::SaveResult saved = cvqrn::SaveTrack(argv[1], track);
    if (!saved) {
        std::fprintf(stderr, "make_large_track: cannot write %s: %s\n", saved.path.c_str(),
                     saved.message.c_str());
        return 1;
    }
    return 0;
}
