// heartline IN OUT [options] [--in-place]: rebuilds a track along the heartline, as the
// window's Load, Heartline and Save do one after the other, with the window's
// six parameters as options (same defaults); --smooth asks for the smooth rebuild.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <iostream>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/format.h"
#include "cli/profile_output.h"
#include "geometry/bezier.h"
#include "geometry/end_analysis.h"
#include "heartline/generator.h"
#include "heartline/settings.h"
#include "text/format.h"
#include "profile/ride_profile.h"
#include "heartline/valley.h"
#include "trackfile/track_file.h"

namespace cvqrn::cli {

namespace {

constexpr const char* kHeartlineName = "heartline";

constexpr OptionHelp kHeartlineOptionTable[] = {
    {"--segments", "N", "segments of the new track",
     [] { return FormatShortest(HeartlineSettings{}.segments); }},
    {"--precision", "N", "points fitted per segment",
     [] { return FormatShortest(HeartlineSettings{}.precision); }},
    {"--heartline", "X", "heart to rail in m; hanging trains < 0",
     [] { return FormatShortest(HeartlineSettings{}.heartline); }},
    {"--start-speed", "X", "train speed at the start, m/s",
     [] { return FormatShortest(HeartlineSettings{}.startspeed); }},
    {"--end-speed", "X", "train speed at the end, m/s",
     [] { return FormatShortest(HeartlineSettings{}.endspeed); }},
    {"--filter", "N", "smoothing passes over the banking",
     [] { return FormatShortest(HeartlineSettings{}.filter); }},
    {"--smooth", "", "the smooth rebuild instead of the default one"},
    {"--json", "", "print the result as JSON"},
    {"--in-place", "", "overwrite OUT in place if its folder refuses new files"},
};

struct HeartlineOptions {
    HeartlineSettings settings;  // starts at the defaults
    bool json = false;
    SaveOptions save;
    std::vector<std::string> files;
};

std::optional<int16_t> ParseInteger(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    if (value < std::numeric_limits<int16_t>::min() ||
        value > std::numeric_limits<int16_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int16_t>(value);
}

// One option into `settings`: Ok, or what is wrong with it.
Result ReadSetting(const CommandOption& option, HeartlineSettings& settings) {
    const std::string& name = option.name;
    const std::string& value = option.value;
    int16_t* integer = nullptr;
    int least = 0;  // the least value the option can take
    double* number = nullptr;
    if (name == "--segments") {
        integer = &settings.segments;
        least = kLeastSegments;
    }
    if (name == "--precision") {
        integer = &settings.precision;
        least = kLeastPrecision;
    }
    if (name == "--filter") {
        integer = &settings.filter;
        least = kLeastFilter;
    }
    if (name == "--heartline") number = &settings.heartline;
    if (name == "--start-speed") number = &settings.startspeed;
    if (name == "--end-speed") number = &settings.endspeed;
    if (integer != nullptr) {
        const std::optional<int16_t> parsed = ParseInteger(value);
        if (!parsed) {
            return BadCommandLine(name + " needs a whole number from " + std::to_string(least) +
                                  " to " + FormatCount(kMaxRunCount) + ", not '" + value + "'");
        }
        *integer = *parsed;
    } else if (number != nullptr) {
        const std::optional<double> parsed = ParseNumber(value);
        if (!parsed) {
            return BadCommandLine(name + " needs a number such as 1.04, not '" + value + "'");
        }
        *number = *parsed;
    } else {
        return BadCommandLine("unknown option '" + option.text + "'");
    }
    return {};
}

// Reads the command line into `options`: Ok when every word was understood,
// else what is wrong.
Result ParseOptions(Args args, HeartlineOptions& options) {
    Result words = ReadCommandWords(
        args, kHeartlineOptionTable,
        {{"--json", &options.json},
         {"--in-place", &options.save.inPlace},
         {"--smooth", &options.settings.smooth}},
        options.files,
        [&](const CommandOption& option) { return ReadSetting(option, options.settings); });
    if (!words) return words;
    if (options.files.size() != 2) return BadCommandLine("give one input file and one output file");
    return {};
}

// A bar on the terminal for runs long enough to be waited for: drawn only on
// a terminal, and only once the run has taken half a second.
class TerminalProgress : public ProgressFeedback {
  public:
    TerminalProgress(std::ostream& err, bool enabled)
        : err_(err), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

    void feedback(const int32_t& progress, const int32_t& Total) override {
        if (!enabled_ || Total <= 0) return;
        if (!shown_ && std::chrono::steady_clock::now() - start_ < std::chrono::milliseconds(500)) {
            return;
        }
        const int percent =
            static_cast<int>(std::clamp<int64_t>(int64_t{progress} * 100 / Total, 0, 100));
        if (percent == lastPercent_) return;
        lastPercent_ = percent;
        shown_ = true;
        const int filled = percent * kWidth / 100;
        err_ << "\rheartline [" << std::string(static_cast<size_t>(filled), '#')
             << std::string(static_cast<size_t>(kWidth - filled), '.') << "] " << percent << "%"
             << std::flush;
    }

    // Clears the bar's line so that messages start on a clean line.
    void Finish() {
        if (shown_) err_ << "\r" << std::string(kWidth + 20, ' ') << "\r" << std::flush;
    }

  private:
    static constexpr int kWidth = 40;
    std::ostream& err_;
    bool enabled_;
    std::chrono::steady_clock::time_point start_;
    bool shown_ = false;
    int lastPercent_ = -1;
};

// The JSON name of a run's status.
const char* StatusName(Status status) {
    switch (status) {
        case Status::Ok:
            return "ok";
        case Status::InvalidSettings:
            return "refused";
        case Status::UnusableTrack:
            return "unusable_track";
        case Status::Valleyed:
            return "valleyed";
        case Status::EqualSpeeds:
            return "equal_speeds";
        case Status::NumericalBlowUp:
            return "numerical_blow_up";
        case Status::OutOfMemory:
            return "could_not_complete";
        default:
            return "failed";
    }
}

// The ride profile of a track at the run's speeds, with the heart `heartline`
// from the rail, sampled every `spacing` metres.
RideProfile ProfileAt(const TrackData& track, const HeartlineSettings& run, double heartline,
                      double spacing = kDefaultProfileSpacing) {
    ProfileSettings settings;
    settings.heartline = heartline;
    settings.startspeed = run.startspeed;
    settings.endspeed = run.endspeed;
    settings.spacing = spacing;
    return ComputeRideProfile(track, settings);
}

// Heart paths are compared on samples every 0.25 m.
constexpr double kHeartDistanceSpacing = 0.25;

void PrintJson(const TrackData& track, const std::string& path, const HeartlineResult& result,
               const TrackData& drawn, const RideProfile& before,
               const HeartlineSettings& settings, std::ostream& out) {
    const double heartDistance =
        MaxHeartDistance(ProfileAt(drawn, settings, 0.0, kHeartDistanceSpacing),
                         ProfileAt(track, settings, settings.heartline, kHeartDistanceSpacing));
    out << "{\n"
        << "  \"ok\": true,\n"
        << "  \"output\": " << JsonString(path) << ",\n"
        << "  \"rebuild\": \"" << (settings.smooth ? "smooth" : "default") << "\",\n"
        << "  \"heartDistance\": " << JsonNumber(heartDistance) << ",\n"
        << "  \"filter\": " << result.filter << ",\n"
        << "  \"vertex_count\": " << track.Bezr.VertexCount << ",\n"
        << "  \"segment_count\": " << track.Segm.SegmentCount << ",\n"
        << "  \"segments_asked\": " << settings.segments << ",\n"
        << "  \"length_in\": " << JsonNumber(result.lengthIn) << ",\n"
        << "  \"length_out\": " << JsonNumber(TrackLength(track)) << ",\n"
        << "  \"min_speed\": " << JsonNumber(result.minSpeed) << ",\n"
        << "  \"max_speed\": " << JsonNumber(result.maxSpeed) << ",\n"
        << "  \"profile_in\": ";
    WriteProfileJson(before, 4, out);
    out << ",\n  \"profile_out\": ";
    WriteProfileJson(ProfileAt(track, settings, settings.heartline), 4, out);
    out << ",\n";
    WriteEndAnalysisJson(TrackEndAnalysis(track), out);
    out << "}\n";
}

// The smooth rebuild takes the segment count as a budget: where it wrote
// fewer, the report says how many were asked and why.
std::string FewerSegmentsNote(int written, int asked) {
    if (written == asked) return {};
    return " (of " + std::to_string(asked) + " asked: shorter ones would ride worse)";
}

void PrintFailureJson(const HeartlineResult& result, const StartSpeedAdvice& advice,
                      std::ostream& out) {
    out << "{\n"
        << "  \"ok\": false,\n"
        << "  \"error\": \"" << StatusName(result.status) << "\",\n"
        << "  \"detail\": " << JsonString(result.message) << ",\n";
    if (result.status == Status::Valleyed) {
        out << "  \"advised_start_speed\": " << (advice ? JsonNumber(advice.startspeed) : "null")
            << ",\n";
    }
    out << "  \"filter\": " << result.filter << "\n"
        << "}\n";
}

}  // namespace

const std::span<const OptionHelp> kHeartlineOptions = kHeartlineOptionTable;

int RunHeartline(Args args, std::ostream& out, std::ostream& err) {
    HeartlineOptions options;
    Result usage = ParseOptions(args, options);
    if (usage) usage = CheckHeartlineSettings(options.settings);
    if (!usage) return UsageError(usage.message, kHeartlineName, kHeartlineArguments, err);

    const std::string& in = options.files[0];
    const std::string& outPath = options.files[1];
    TrackData track;
    const Result loaded = LoadTrack(in, track);
    if (!loaded) return ReportFailure("load", in, loaded, err);

    RideProfile before;
    TrackData drawn;
    if (options.json) {
        before = ProfileAt(track, options.settings, 0.0);
        drawn = track;
    }
    TerminalProgress bar(err, &err == &std::cerr && ::isatty(STDERR_FILENO) == 1);
    const HeartlineResult result = GenerateHeartline(track, options.settings, &bar);
    bar.Finish();
    if (!result) {
        ReportFailure("heartline", in, result, err);
        // The run left the track as loaded: the advice searches on it.
        StartSpeedAdvice advice;  // searched, and printed, only after a valley
        if (result.status == Status::Valleyed) {
            advice = AdviseStartSpeed(track, options.settings);
            if (advice) err << ValleyAdviceText(advice.startspeed) << "\n";
        }
        if (options.json) PrintFailureJson(result, advice, out);
        return kExitFailure;
    }

    const SaveResult saved = SaveTrack(outPath, track, options.save);
    if (const int status = ReportSave(saved, outPath, err); status != kExitOk) return status;
    if (options.json) {
        PrintJson(track, saved.path, result, drawn, before, options.settings, out);
    } else {
        out << "saved " << saved.path << ": " << track.Bezr.VertexCount << " vertices, "
            << track.Segm.SegmentCount << " segments"
            << FewerSegmentsNote(track.Segm.SegmentCount, options.settings.segments) << ", speeds "
            << FormatFixed(result.minSpeed)
            << " to " << FormatFixed(result.maxSpeed) << " m/s, filter " << result.filter << "\n";
    }
    return kExitOk;
}

}  // namespace cvqrn::cli
