#include "frontend/profile_model.h"

#include <algorithm>
#include <cmath>

#include "text/format.h"

namespace cvqrn::ui {

namespace {

// Every figure with "." whatever the locale.
std::string Fixed(double v, int decimals) {
    if (!std::isfinite(v)) return "-";
    return FormatFixed(v, decimals);
}

std::string At(const ProfileExtreme& e, const char* unit) {
    if (e.segment < 0) return "-";
    return Fixed(e.value, 2) + " " + unit + " at " + Fixed(e.distance, 1) + " m (" +
           std::to_string(e.segment) + ")";
}

const ProfileSample* Nearest(const RideProfile& p, double distance) {
    if (p.samples.empty() || !(p.spacing > 0.0)) return nullptr;
    const double index = std::round(distance / p.spacing);
    const auto last = static_cast<double>(p.samples.size() - 1);
    return &p.samples[static_cast<size_t>(std::clamp(index, 0.0, last))];
}

std::string Values(const char* name, const ProfileSample& s) {
    return std::string(name) + ": " + Fixed(s.speed, 1) + " m/s, vertical " +
           Fixed(s.vertical, 2) + " g, lateral " + Fixed(s.lateral, 2) + " g (segment " +
           std::to_string(s.segment) + ")";
}

}  // namespace

RideProfile LoadedProfile(const TrackData& loaded, const HeartlineSettings& settings) {
    ProfileSettings speeds;
    speeds.startspeed = settings.startspeed;
    speeds.endspeed = settings.endspeed;
    return ComputeRideProfile(loaded, speeds);
}

ProfileModel BuildProfileModel(const ProfileRequest& request) {
    ProfileModel model;
    const HeartlineSettings& run = request.settings;
    model.heartline = run.heartline;
    model.smooth = run.smooth;
    if (request.loaded == nullptr) return model;
    ProfileSettings settings;
    settings.startspeed = run.startspeed;
    settings.endspeed = run.endspeed;
    model.loaded = request.loadedProfile != nullptr ? *request.loadedProfile
                                                    : LoadedProfile(*request.loaded, run);
    if (request.rebuilt != nullptr) {
        settings.heartline = run.heartline;
        model.rebuilt = ComputeRideProfile(*request.rebuilt, settings);
    }
    if (request.afterFailedRun) {
        const ValleyResult found = FindValley(*request.loaded, run, run.startspeed);
        if (found.status == Status::Valleyed) {
            model.valley = found.stop;
            const StartSpeedAdvice advice = AdviseStartSpeed(*request.loaded, run);
            if (advice) model.advice = advice.startspeed;
        }
    }
    return model;
}

std::vector<SummaryRow> SummaryRows(const ProfileModel& model) {
    using Pick = std::string (*)(const RideProfile&);
    struct Figure {
        const char* label;
        Pick pick;
    };
    static const Figure kFigures[] = {
        {"Highest vertical", [](const RideProfile& p) { return At(p.summary.maxVertical, "g"); }},
        {"Lowest vertical", [](const RideProfile& p) { return At(p.summary.minVertical, "g"); }},
        {"Largest |lateral|", [](const RideProfile& p) { return At(p.summary.maxLateral, "g"); }},
        {"Lateral RMS", [](const RideProfile& p) { return Fixed(p.summary.lateralRms, 3) + " g"; }},
        {"Lateral RMS over 5 m",
         [](const RideProfile& p) { return Fixed(p.summary.lateralRms5m, 3) + " g"; }},
        {"Lowest speed", [](const RideProfile& p) { return At(p.summary.minSpeed, "m/s"); }},
        {"Highest speed", [](const RideProfile& p) { return At(p.summary.maxSpeed, "m/s"); }},
        {"Heart path", [](const RideProfile& p) { return Fixed(p.summary.length, 1) + " m"; }},
        {"Samples", [](const RideProfile& p) {
             return std::to_string(p.samples.size()) + " every " + Fixed(p.spacing, 2) + " m";
         }},
    };
    std::vector<SummaryRow> rows;
    for (const Figure& f : kFigures) {
        SummaryRow row{f.label, "", ""};
        if (model.loaded && *model.loaded) row.loaded = f.pick(*model.loaded);
        if (model.rebuilt && *model.rebuilt) row.rebuilt = f.pick(*model.rebuilt);
        rows.push_back(row);
    }
    return rows;
}

std::string ReadOut(const ProfileModel& model, double distance) {
    std::string text = Fixed(distance, 1) + " m";
    for (const auto& [name, profile] :
         {std::pair{"loaded", &model.loaded}, std::pair{"rebuilt", &model.rebuilt}}) {
        if (!*profile || !**profile) continue;
        if (const ProfileSample* s = Nearest(**profile, distance)) text += "   " + Values(name, *s);
    }
    return text;
}

std::string StatusLine(const ProfileModel& model) {
    if (!model.loaded) return "Load a track to see its ride profile.";
    if (!*model.loaded) return "No profile: " + model.loaded->message;
    if (model.valley) return ValleyNote(*model.valley, model.advice);
    if (!model.rebuilt) return "Loaded track, heart on the rail. Run the heartline to compare.";
    return "Loaded track (heart on the rail) and rebuilt track (" + RebuildName(model.smooth) +
           ", heart " + Fixed(model.heartline, 2) + " m from the rail). Hover a plot for its values.";
}

std::string ValleyNote(const ValleyStop& stop, std::optional<double> advice) {
    // The stop as the run's own message gives it.
    std::string text = "The last run valleyed: the train stops " + FormatFixed(stop.distance) +
                       " m along the track.";
    if (advice) text.append(" ").append(ValleyAdviceText(*advice)).append(".");
    return text;
}

std::string RebuildName(bool smooth) {
    return smooth ? "smooth rebuild" : "default rebuild";
}

}  // namespace cvqrn::ui
