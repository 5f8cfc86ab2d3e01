// profile IN [options]: the ride profile of a track file, speed and felt
// forces along the heart path, as a summary, JSON, or one CSV row per sample.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/format.h"
#include "cli/profile_output.h"
#include "profile/profile_csv.h"
#include "profile/ride_profile.h"
#include "text/format.h"
#include "trackfile/track_file.h"

namespace cvqrn::cli {

namespace {

constexpr const char* kName = "profile";

constexpr OptionHelp kOptions[] = {
    {"--start-speed", "X", "train speed at the start, m/s",
     [] { return FormatShortest(ProfileSettings{}.startspeed); }},
    {"--end-speed", "X", "train speed at the end, m/s",
     [] { return FormatShortest(ProfileSettings{}.endspeed); }},
    {"--heartline", "X", "heart to rail in m; 0: heart on the rail",
     [] { return FormatShortest(ProfileSettings{}.heartline); }},
    {"--spacing", "X", "metres of heart path between samples",
     [] { return FormatShortest(ProfileSettings{}.spacing); }},
    {"--csv", "FILE", "also write every sample to FILE, one CSV row each"},
    {"--json", "", "print the summary as JSON"},
};

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
        ReadCommandWords(args, kOptions, {{"--json", &options.json}}, options.files, read);
    if (!error.empty()) return error;
    if (options.files.size() != 1) return "give one input file";
    if (!(options.settings.spacing > 0.0)) return "--spacing needs a positive number of metres";
    return {};
}

}  // namespace

const std::span<const OptionHelp> kProfileOptions = kOptions;

int RunProfile(Args args, std::ostream& out, std::ostream& err) {
    ProfileOptions options;
    const std::string usage = ParseOptions(args, options);
    if (!usage.empty()) return UsageError(usage, kName, kProfileArguments, err);

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
        errno = 0;
        std::ofstream file(options.csv, std::ios::binary | std::ios::trunc);
        int why = file ? 0 : errno;
        if (file) WriteProfileCsv(profile, file);
        if (file) file.flush();
        if (!file && why == 0) why = errno;
        file.close();
        if (!file || why != 0) {
            err << kProgram << ": cannot write " << options.csv << ": "
                << (why != 0 ? std::strerror(why) : "the write failed") << "\n";
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
