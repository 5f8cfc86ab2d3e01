// profile IN [options]: the ride profile of a track file, speed and felt
// forces along the heart path, as a summary, JSON, or one CSV row per sample.
#include <cerrno>
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
#include "text/words.h"
#include "trackfile/track_file.h"

namespace cvqrn::cli {

namespace {

constexpr const char* kProfileName = "profile";

constexpr OptionHelp kProfileOptionTable[] = {
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

Result ParseOptions(Args args, ProfileOptions& options) {
    const auto read = [&options](const CommandOption& option) -> Result {
        if (option.name == "--csv") {
            options.csv = option.value;
            return {};
        }
        double* number = nullptr;
        if (option.name == "--start-speed") number = &options.settings.startspeed;
        if (option.name == "--end-speed") number = &options.settings.endspeed;
        if (option.name == "--heartline") number = &options.settings.heartline;
        if (option.name == "--spacing") number = &options.settings.spacing;
        if (number == nullptr) return BadCommandLine("unknown option '" + option.text + "'");
        const std::optional<double> parsed = ParseNumber(option.value);
        if (!parsed) {
            return BadCommandLine(option.name + " needs a number such as 1.04, not '" +
                                  option.value + "'");
        }
        *number = *parsed;
        return {};
    };
    if (Result words = ReadCommandWords(args, kProfileOptionTable, {{"--json", &options.json}},
                                        options.files, read);
        !words) {
        return words;
    }
    if (options.files.size() != 1) return BadCommandLine("give one input file");
    if (!(options.settings.spacing > 0.0)) {
        return BadCommandLine("--spacing needs a positive number of metres");
    }
    return {};
}

}  // namespace

const std::span<const OptionHelp> kProfileOptions = kProfileOptionTable;

int RunProfile(Args args, std::ostream& out, std::ostream& err) {
    ProfileOptions options;
    if (const Result usage = ParseOptions(args, options); !usage) {
        return UsageError(usage.message, kProfileName, kProfileArguments, err);
    }

    const std::string& in = options.files[0];
    TrackData track;
    const Result loaded = LoadTrack(in, track);
    if (!loaded) return ReportFailure("load", in, loaded, err);
    const RideProfile profile = ComputeRideProfile(track, options.settings);
    if (!profile) return ReportFailure("profile", in, profile, err);
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
                << (why != 0 ? SystemReason(why) : "the write failed") << "\n";
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
