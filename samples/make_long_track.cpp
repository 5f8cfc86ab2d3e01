// make_long_track FILE [SEGMENTS]: writes the long winding track the heartline
// benchmark runs on (2000 segments unless SEGMENTS says otherwise) to FILE, so
// that the command-line tool and the browser page can be timed on it.
#include <cstdio>
#include <cstdlib>

#include "samples/sample_tracks.h"
#include "trackfile/track_file.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_long_track FILE [SEGMENTS]\n");
        return 2;
    }
    const long segments = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 2000;
    if (segments < 1 || segments > 30000) {
        std::fprintf(stderr, "make_long_track: SEGMENTS must be 1 to 30000\n");
        return 2;
    }
    cvqrn::TrackData track = cvqrn::WindingTrack(static_cast<int>(segments));
    const cvqrn::SaveResult saved = cvqrn::SaveTrack(argv[1], track);
    if (!saved) {
        std::fprintf(stderr, "make_long_track: cannot write %s: %s\n", saved.path.c_str(),
                     saved.message.c_str());
        return 1;
    }
    return 0;
}
