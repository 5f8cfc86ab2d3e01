// Writes the fuzzer's seed corpus into a directory: builder-made track files
// of several shapes and every hostile image of the regression table.
#include <iostream>
#include <string>

#include "tests/support/track_builder.h"

int main(int argc, char** argv) {
    using namespace cvqrn::testsupport;
    if (argc != 2) {
        std::cerr << "usage: write_fuzz_seeds DIR\n";
        return 2;
    }
    const std::string dir = argv[1];
    cvqrn::TrackData noTerrain = MakeFullTrack();
    noTerrain.Tera.Present = false;
    WriteFileBytes(dir + "/full.cvtrack", FrameByHand(MakeFullTrack()).bytes);
    WriteFileBytes(
        dir + "/full-odd-bytes.cvtrack",
        FrameByHand(MakeFullTrack(), {.trueByte = 1, .reservedByte = 0x5A, .lowerCaseTags = true})
            .bytes);
    WriteFileBytes(dir + "/no-terrain.cvtrack", FrameByHand(noTerrain).bytes);
    WriteFileBytes(dir + "/empty.cvtrack", FrameByHand(cvqrn::TrackData{}).bytes);
    WriteFileBytes(dir + "/small-large.cvtrack", FrameByHand(MakeLargeTrack(4, 3, 5, 4)).bytes);
    int n = 0;
    for (const HostileFile& f : HostileFiles()) {
        WriteFileBytes(dir + "/hostile-" + std::to_string(n++) + ".cvtrack", f.bytes);
    }
    return 0;
}
