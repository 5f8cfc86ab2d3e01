// profile IN [options]: the ride profile of a track file, speed and felt
// forces along the heart path, as a summary, JSON, or one CSV row per sample.
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/format.h"
#include "cli/profile_output.h"
#include "profile/ride_profile.h"
#include "trackfile/track_file.h"

namespace cvqrn::cli {

namespace {

constexpr const char* kName = "profile";

struct ProfileOptions {
    ProfileSettings settings;
    std::string csv;
    bool json = false;
    std::vector<std::string> files;
};

std::string ParseOptions(Args args, ProfileOptions& options) {
    const auto read = [&options](const CommandOption& option) -> std::string {
        if (option.name == "--csv") {
            options.csv = option.value;
            return {};
        }
        double* number = nullptr;
        if (option.name == "--start-speed") number = &options.settings.startspeed;
        if (option.name == "--end-speed") number = &options.settings.endspeed;
        if (option.name == "--heartline") number = &options.settings.heartline;
        if (option.name == "--spacing") number = &options.settings.spacing;
        if (number == nullptr) return "unknown option '" + option.text + "'";
        const std::optional<double> parsed = ParseNumber(option.value);
        if (!parsed) {
            return option.name + " needs a number such as 1.04, not '" + option.value + "'";
        }
        *number = *parsed;
        return {};
    };
    const std::string error =
        ReadCommandWords(args, {{"--json", &options.json}}, options.files, read);
    if (!error.empty()) return error;
    if (options.files.size() != 1) return "profile needs one input file";
    if (!(options.settings.spacing > 0.0)) return "--spacing needs a positive number of metres";
    return {};
}

}  // namespace

int RunProfile(Args args, std::ostream& out, std::ostream& err) {
    ProfileOptions options;
    const std::string usage = ParseOptions(args, options);
    if (!usage.empty()) return UsageError("profile: " + usage, kName, kProfileArguments, err);

    const std::string& in = options.files[0];
    TrackData track;
    const LoadResult loaded = LoadTrack(in, track);
    if (!loaded) return CannotLoad(in, loaded.reason, err);
    const RideProfile profile = ComputeRideProfile(track, options.settings);
    if (!profile) {
        err << kProgram << ": cannot profile " << in << ": " << profile.error << "\n";
        return kExitFailure;
    }
    if (!options.csv.empty()) {
        std::ofstream file(options.csv, std::ios::binary | std::ios::trunc);
        if (file) WriteProfileCsv(profile, file);
        file.close();
        if (!file) {
            err << kProgram << ": cannot write " << options.csv << "\n";
            return kExitFailure;
        }
    }
    if (options.json) {
        WriteProfileJson(profile, 2, out);
        out << "\n";
    } else {
        WriteProfileText(profile, out);
    }
    return kExitOk;
}

}  // namespace cvqrn::cli
