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
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--json") {
            options.json = true;
            continue;
        }
        if (word.size() < 2 || word[0] != '-') {
            options.files.push_back(word);
            continue;
        }
        std::string name = word;
        std::string value;
        const size_t equals = word.find('=');
        if (equals != std::string::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return name + " needs a value";
        }
        if (name == "--csv") {
            options.csv = value;
            continue;
        }
        double* number = nullptr;
        if (name == "--start-speed") number = &options.settings.startspeed;
        if (name == "--end-speed") number = &options.settings.endspeed;
        if (name == "--heartline") number = &options.settings.heartline;
        if (name == "--spacing") number = &options.settings.spacing;
        if (number == nullptr) return "unknown option '" + word + "'";
        const std::optional<double> parsed = ParseNumber(value);
        if (!parsed) return name + " needs a number such as 1.04, not '" + value + "'";
        *number = *parsed;
    }
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
