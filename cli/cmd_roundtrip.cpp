// roundtrip IN OUT [--in-place]: load a track file and save it again,
// exactly as the window's Load and Save do. Useful to normalise a file and to
// check that a file survives a load and save.
#include <ostream>

#include "cli/commands.h"
#include "trackfile/track_file.h"

namespace cvqrn::cli {

namespace {
constexpr OptionHelp kRoundtripOptionTable[] = {
    {"--in-place", "", "overwrite OUT in place if its folder refuses new files"},
};
}  // namespace

const std::span<const OptionHelp> kRoundtripOptions = kRoundtripOptionTable;

int RunRoundtrip(Args args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> files;
    SaveOptions options;
    for (const std::string& a : args) {
        if (a == "--in-place") {
            options.inPlace = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown option '" + a + "'", "roundtrip", kRoundtripArguments,
                              err);
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) {
        return UsageError("give one input file and one output file", "roundtrip",
                          kRoundtripArguments, err);
    }

    TrackData track;
    const Result loaded = LoadTrack(files[0], track);
    if (!loaded) return ReportFailure("load", files[0], loaded, err);
    const SaveResult saved = SaveTrack(files[1], track, options);
    if (const int status = ReportSave(saved, files[1], err); status != kExitOk) return status;
    out << "saved " << saved.path << " (" << saved.bytes << " bytes)\n";
    return kExitOk;
}

}  // namespace cvqrn::cli
