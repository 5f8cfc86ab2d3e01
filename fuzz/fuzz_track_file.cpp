// libFuzzer harness over loading and saving through real files: the input
// becomes a file in a temporary folder, under a name its first byte picks
// (right, wrong and odd-case extensions). LoadTrack must refuse every name
// that does not end in ".cvtrack" without touching the track, and otherwise
// agree with the in-memory decoder. Whatever loads is saved under a second
// name (with and without the extension, over the input, in other cases);
// the save must succeed, write exactly the encoder's bytes to the name it
// reports, load again to the same track, and leave no other file behind.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "text/words.h"
#include "trackfile/track_file.h"

namespace {

void RemoveFolder();

constexpr std::array<const char*, 8> kLoadNames = {
    "track.cvtrack", "TRACK.CVTRACK", "track.CvTrAcK", "track.cvtrac",
    "track",         ".cvtrack",      "track.cvtrack.bak", "track.cvtrackx"};
constexpr std::array<const char*, 6> kSaveNames = {
    "out", "out.cvtrack", "OUT.CVTRACK", "out.cvtrac", "track.cvtrack", "out."};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_track_file: %s\n", what);
    std::abort();
}

// A private folder for the whole run, in memory where the system has one,
// removed at exit. The name is never freed, so it outlives every static.
const std::string& Folder() {
    static const std::string* folder = [] {
        auto* pattern = new std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        *pattern += "/cvqrn-fuzz-XXXXXX";
        if (mkdtemp(pattern->data()) == nullptr) Fail("cannot make a temporary folder");
        std::atexit(RemoveFolder);
        return pattern;
    }();
    return *folder;
}

std::set<std::string> Entries() {
    std::set<std::string> names;
    DIR* dir = opendir(Folder().c_str());
    if (dir == nullptr) Fail("cannot list the temporary folder");
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
    return names;
}

void Empty() {
    for (const std::string& name : Entries()) unlink((Folder() + "/" + name).c_str());
}

void RemoveFolder() {
    Empty();
    rmdir(Folder().c_str());
}

bool EndsInExtension(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), cvqrn::AsciiLower);
    return name.size() >= 8 && name.compare(name.size() - 8, 8, ".cvtrack") == 0;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string loadName = kLoadNames[data[0] % kLoadNames.size()];
    const std::string saveName = kSaveNames[(data[0] / kLoadNames.size()) % kSaveNames.size()];
    const std::span<const uint8_t> content(data + 1, size - 1);
    Empty();
    const std::string loadPath = Folder() + "/" + loadName;
    {
        std::ofstream out(loadPath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
        if (!out.flush()) Fail("cannot write the input file");
    }

    cvqrn::TrackData track;
    track.Bezr.VertexCount = 12345;  // a refused name must leave the track as it was
    const cvqrn::Result loaded = cvqrn::LoadTrack(loadPath, track);
    if (!EndsInExtension(loadName)) {
        if (loaded || track.Bezr.VertexCount != 12345) Fail("a name without .cvtrack loaded");
        return 0;
    }
    cvqrn::TrackData decoded;
    if (static_cast<bool>(cvqrn::DecodeTrack(content, decoded)) != static_cast<bool>(loaded)) {
        Fail("LoadTrack and DecodeTrack disagree");
    }
    if (!loaded) return 0;
    const std::vector<uint8_t> image = cvqrn::EncodeTrack(decoded).image;
    if (cvqrn::EncodeTrack(track).image != image) Fail("the loaded track differs from the decoded one");

    const cvqrn::SaveResult saved = cvqrn::SaveTrack(Folder() + "/" + saveName, track);
    if (!saved) Fail(("the save failed: " + saved.message).c_str());
    const std::string savedName = EndsInExtension(saveName) ? saveName : saveName + ".cvtrack";
    if (saved.path != Folder() + "/" + savedName) Fail("the save reports another name");
    if (ReadFile(saved.path) != image) Fail("the saved file is not the encoder's image");
    if (Entries() != std::set<std::string>{loadName, savedName}) {
        Fail("the save left another file in the folder");
    }
    cvqrn::TrackData again;
    if (!cvqrn::LoadTrack(saved.path, again) || cvqrn::EncodeTrack(again).image != image) {
        Fail("the saved file does not load to the same track");
    }
    return 0;
}
