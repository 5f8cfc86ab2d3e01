// Writes the fuzzers' seed corpus into a directory: builder-made track files
// of several shapes, every hostile image of the regression table, and the
// sample tracks and a few random layouts, which the heartline runs through.
#include <iostream>
#include <string>

#include "samples/random_layouts.h"
#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

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
    for (cvqrn::SampleLayout& sample : cvqrn::SampleLayouts()) {
        WriteFileBytes(dir + "/" + sample.fileName, cvqrn::EncodeTrack(sample.track).image);
    }
    for (uint32_t seed = 0; seed < 6; ++seed) {
        cvqrn::LayoutCase layout = cvqrn::RandomLayoutCase(seed);
        WriteFileBytes(dir + "/" + layout.name + ".cvtrack", cvqrn::EncodeTrack(layout.track).image);
    }
    return 0;
}
