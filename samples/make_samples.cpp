// Writes the sample tracks into the directory given on the command line.
#include <cstdio>
#include <string>

#include "samples/sample_tracks.h"
#include "trackfile/track_file.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    for (cvqrn::SampleLayout& sample : cvqrn::SampleLayouts()) {
        const cvqrn::SaveResult saved = cvqrn::SaveTrack(dir + "/" + sample.fileName, sample.track);
        if (!saved) {
            std::fprintf(stderr, "make_samples: cannot write %s: %s\n", saved.path.c_str(),
                         saved.message.c_str());
            return 1;
        }
        std::printf("%s\n", saved.path.c_str());
    }
    return 0;
}
