// Writes a builder-made track file for the command-line checks:
//   make_test_track OUT           the full track (every chunk populated)
//   make_test_track OUT straight  a straight three-vertex track
//   make_test_track OUT large     the benchmark's large track (about 25 MB)
//   make_test_track OUT rasc      a 25 MB file of 6,553,600 empty RASC entries
#include <string>

#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

int main(int argc, char** argv) {
    using namespace cvqrn::testsupport;
    if (argc < 2 || argc > 3) return 2;
    const std::string kind = argc == 3 ? argv[2] : "full";
    std::vector<uint8_t> bytes;
    if (kind == "straight") {
        const cvqrn::TrackVertex v[] = {{{0, 0, 0}, {-3, 0, 0}, {3, 0, 0}},
                                        {{10, 0, 0}, {7, 0, 0}, {13, 0, 0}},
                                        {{20, 0, 0}, {17, 0, 0}, {23, 0, 0}}};
        bytes = FrameByHand(MakeTrackFromVertices(v)).bytes;
    } else if (kind == "large") {
        bytes = cvqrn::EncodeTrack(MakeLargeTrack(2048, 2048, 100000, 20000)).image;
    } else if (kind == "rasc") {
        // Each entry is its item count 0: four bytes in the file, 32 in memory.
        const int32_t n = 6553600;
        ByteImage img;
        img.Tag("CORV").Long(0).Byte(1).Byte(3).Zeros(2 + 16).Long(1);
        img.Tag("RASC").Long(40 + 4 * n).Zeros(16).Long(n).Zeros(4 * size_t{n} + 20);
        bytes = std::move(img.bytes);
    } else if (kind == "full") {
        bytes = FrameByHand(MakeFullTrack()).bytes;
    } else {
        return 2;
    }
    WriteFileBytes(argv[1], bytes);
    return 0;
}
