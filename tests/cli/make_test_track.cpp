// Writes a builder-made track file for the save and load checks under
// signals and resource limits (tests/trackfile/save_under_stress.sh):
//   make_test_track OUT        the full track (every chunk populated)
//   make_test_track OUT large  the benchmark's large track (about 25 MB)
#include <string>

#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

int main(int argc, char** argv) {
    using namespace cvqrn::testsupport;
    const std::string kind = argc == 3 ? argv[2] : "full";
    if (argc < 2 || argc > 3 || (kind != "full" && kind != "large")) return 2;
    const cvqrn::TrackData track =
        kind == "large" ? MakeLargeTrack(2048, 2048, 100000, 20000) : MakeFullTrack();
    WriteFileBytes(argv[1], cvqrn::EncodeTrack(track).image);
    return 0;
}
