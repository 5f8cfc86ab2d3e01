// make_corpus DIR [COUNT]: writes COUNT seeded random layouts (default 200)
// into DIR as case_NNN.cvtrack, and DIR/cases.txt with one line per case:
// the file name followed by the heartline options chosen for it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "samples/random_layouts.h"
#include "trackfile/track_file.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_corpus DIR [COUNT]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const long count = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 200;
    std::FILE* list = std::fopen((dir + "/cases.txt").c_str(), "w");
    if (list == nullptr) {
        std::fprintf(stderr, "make_corpus: cannot write %s/cases.txt\n", dir.c_str());
        return 1;
    }
    for (long seed = 0; seed < count; ++seed) {
        cvqrn::LayoutCase c = cvqrn::RandomLayoutCase(static_cast<uint32_t>(seed));
        const std::string file = c.name + ".cvtrack";
        const cvqrn::SaveResult saved = cvqrn::SaveTrack(dir + "/" + file, c.track);
        if (!saved) {
            std::fprintf(stderr, "make_corpus: cannot write %s: %s\n", file.c_str(),
                         saved.message.c_str());
            std::fclose(list);
            return 1;
        }
        std::fprintf(list, "%s", file.c_str());
        for (const std::string& arg : c.args) std::fprintf(list, " %s", arg.c_str());
        std::fprintf(list, "\n");
    }
    return std::fclose(list) == 0 ? 0 : 1;
}
