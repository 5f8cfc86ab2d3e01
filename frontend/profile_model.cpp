#include "frontend/profile_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/format.h"

namespace cvqrn::ui {

namespace {

std::string At(const ProfileExtreme& e, const char* unit) {
    if (e.segment < 0) return "-";
    // Degrees stand without a space: "2.50\u00b0".
    const std::string space = std::string_view(unit) == "\u00b0" ? "" : " ";
    return Fixed(e.value, 2) + space + unit + " at " + Fixed(e.distance, 1) + " m";
}

// Where an extreme happens: its distance and segment (none when it has none).
struct Place {
    double distance = std::numeric_limits<double>::quiet_NaN();
    int segment = -1;
};
Place Where(const ProfileExtreme& e) {
    return e.segment < 0 ? Place{} : Place{e.distance, e.segment};
}

std::string Caption(const ProfileRequest& request) {
    if (!request.loaded) return {};
    const std::string& path = request.trackPath;
    std::string text = path.substr(path.find_last_of('/') + 1);
    if (request.rebuilt) {
        text += " \u00b7 " + RebuildName(request.settings.smooth);
    } else if (request.afterRun) {
        text += " \u00b7 the run failed";
    } else {
        text += " \u00b7 not rebuilt yet";
    }
    const HeartlineSettings& s = request.settings;
    // The smooth rebuild takes the segment count as a budget and may write
    // fewer: then the caption names both.
    std::string segments = std::to_string(s.segments);
    if (request.rebuilt && request.rebuilt->Bezr.VertexCount - 1 != s.segments) {
        segments = std::to_string(request.rebuilt->Bezr.VertexCount - 1) + " of " + segments;
    }
    text += " \u00b7 Segments " + segments + ", Heartline " +
            FormatShortest(s.heartline) + " m, V in " + FormatShortest(s.startspeed) +
            " m/s, V out " + FormatShortest(s.endspeed) + " m/s, Precision " +
            std::to_string(s.precision) + ", Filter " + std::to_string(s.filter);
    if (!request.when.empty()) text += " \u00b7 " + request.when;
    return text;
}

// The last finite value of a rising series, or 0.
double LastFinite(const std::vector<double>& values) {
    for (auto it = values.rbegin(); it != values.rend(); ++it) {
        if (std::isfinite(*it)) return *it;
    }
    return 0.0;
}

std::string TrackValues(const char* name, const ProfileModel& model, Which which, size_t k,
                   XAxis axis, ForceView view) {
    const PlotData& d = PlotsOf(model, which).data;
    const auto g = [&](Quantity q) { return Fixed(Values(d, q, view)[k], 2) + " g"; };
    std::string text = std::string(name);
    text += axis == XAxis::Time ? " at " + Fixed(d.distance[k], 1) + " m: "
                                : " at " + Fixed(d.time[k], 2) + " s: ";
    return text + Fixed(d.speed[k], 1) + " m/s, vertical " + g(Quantity::Vertical) +
           ", lateral " + g(Quantity::Lateral) + ", longitudinal " + g(Quantity::Longitudinal) +
           ", roll " + Fixed(d.roll[k], 0) + "\u00b0";
}

}  // namespace

TrackData ProfileCopy(const TrackData& track) {
    TrackData copy;
    copy.Header = track.Header;
    copy.Bezr = track.Bezr;
    copy.Segm = track.Segm;
    return copy;
}

ProfileRequest MakeProfileRequest(const TrackData& loaded, const TrackData* rebuilt,
                                  const HeartlineSettings& settings) {
    ProfileRequest request;
    request.loaded = ProfileCopy(loaded);
    if (rebuilt != nullptr) request.rebuilt = ProfileCopy(*rebuilt);
    request.settings = settings;
    return request;
}

ProfileSettings ProfileSettingsFor(const ProfileRequest& request, Which which) {
    ProfileSettings settings;
    settings.startspeed = request.settings.startspeed;
    settings.endspeed = request.settings.endspeed;
    if (which == Which::Rebuilt) settings.heartline = request.settings.heartline;
    return settings;
}

TrackProfile ProfileTrack(const TrackData& track, const ProfileSettings& settings,
                          const SideBySide& sideBySide) {
    TrackProfile result{ComputeRideProfile(track, settings, sideBySide), {}};
    if (result.profile) {
        TrackPlots& plots = result.plots;
        plots.data = MakePlotData(result.profile);
        plots.felt = FindExceedances(result.profile, plots.data.time, true);
        plots.raw = FindExceedances(result.profile, plots.data.time, false);
    }
    return result;
}

ProfileModel AssembleProfileModel(const ProfileRequest& request, std::optional<TrackProfile> loaded,
                                  std::optional<TrackProfile> rebuilt,
                                  const SideBySide& sideBySide) {
    ProfileModel model;
    const HeartlineSettings& run = request.settings;
    model.heartline = run.heartline;
    model.smooth = run.smooth;
    model.trackPath = request.trackPath;
    model.caption = Caption(request);
    if (!request.loaded || !loaded) return model;
    model.loaded = std::move(loaded->profile);
    model.loadedPlots = std::move(loaded->plots);
    if (request.rebuilt && rebuilt) {
        model.rebuilt = std::move(rebuilt->profile);
        model.rebuiltPlots = std::move(rebuilt->plots);
    }
    if (request.afterFailedRun) {
        const ValleyResult found = FindValley(*request.loaded, run, run.startspeed);
        if (found.status == Status::Valleyed) {
            model.valley = found.stop;
            const StartSpeedAdvice advice = AdviseStartSpeed(*request.loaded, run);
            if (advice) model.advice = advice.startspeed;
        }
    }

    const PlotData& a = model.loadedPlots.data;
    const PlotData& b = model.rebuiltPlots.data;
    const auto rangeOf = [&](ForceView view, Quantity q) -> Range& {
        return model.ranges[static_cast<size_t>(view)][static_cast<size_t>(q)];
    };
    // A raw plot that reads the felt plot's values by the felt plot's rule
    // (speed, roll, roll rate) takes its range; the others are worked out,
    // the ones that leave out spikes (a sort each) shared between the two
    // sides of `sideBySide`.
    const auto sameAsFelt = [&](Quantity q) {
        return &Values(a, q, ForceView::Raw) == &Values(a, q, ForceView::Felt) &&
               ClipsSpikes(q, ForceView::Raw) == ClipsSpikes(q, ForceView::Felt);
    };
    std::array<std::vector<std::pair<ForceView, Quantity>>, 2> work;
    size_t sorts = 0;
    for (ForceView view : {ForceView::Felt, ForceView::Raw}) {
        for (Quantity q : kQuantities) {
            if (view == ForceView::Raw && sameAsFelt(q)) continue;
            // The sorts by turns, the quick ones with the second.
            work[ClipsSpikes(q, view) ? sorts++ % 2 : 1].emplace_back(view, q);
        }
    }
    const auto workOut = [&](const std::vector<std::pair<ForceView, Quantity>>& ranges) {
        for (const auto& [view, q] : ranges) {
            rangeOf(view, q) = ValueRange({&Values(a, q, view), &Values(b, q, view)},
                                          ClipsSpikes(q, view), RangePad(q));
        }
    };
    if (sideBySide) {
        sideBySide([&] { workOut(work[0]); }, [&] { workOut(work[1]); });
    } else {
        workOut(work[0]);
        workOut(work[1]);
    }
    for (Quantity q : kQuantities) {
        if (sameAsFelt(q)) rangeOf(ForceView::Raw, q) = rangeOf(ForceView::Felt, q);
    }
    model.distanceExtent = {0.0, std::max(LastFinite(a.distance), LastFinite(b.distance))};
    model.timeExtent = {0.0, std::max(LastFinite(a.time), LastFinite(b.time))};
    return model;
}

ProfileModel BuildProfileModel(const ProfileRequest& request) {
    std::optional<TrackProfile> loaded, rebuilt;
    if (request.loaded) {
        loaded = ProfileTrack(*request.loaded, ProfileSettingsFor(request, Which::Loaded));
    }
    if (request.rebuilt) {
        rebuilt = ProfileTrack(*request.rebuilt, ProfileSettingsFor(request, Which::Rebuilt));
    }
    return AssembleProfileModel(request, std::move(loaded), std::move(rebuilt));
}

const RideProfile* ProfileOf(const ProfileModel& model, Which which) {
    const std::optional<RideProfile>& p = which == Which::Loaded ? model.loaded : model.rebuilt;
    return p && *p ? &*p : nullptr;
}

const TrackPlots& PlotsOf(const ProfileModel& model, Which which) {
    return which == Which::Loaded ? model.loadedPlots : model.rebuiltPlots;
}

Range PlotRange(const ProfileModel& model, Quantity quantity, ForceView view) {
    return model.ranges[static_cast<size_t>(view)][static_cast<size_t>(quantity)];
}

Range XExtent(const ProfileModel& model, XAxis axis) {
    return axis == XAxis::Time ? model.timeExtent : model.distanceExtent;
}

std::string Fixed(double value, int decimals) {
    if (!std::isfinite(value)) return "-";
    std::string text = FormatFixed(value, decimals);
    if (text[0] == '-' && text.find_first_of("123456789") == std::string::npos) text.erase(0, 1);
    return text;
}

namespace {

// What a figure is judged by: how bad it is (higher is worse) and the margin
// within which two figures count as the same, absolute plus a share of the
// smaller badness; `text` names the margin for the tool tip.
struct Judgement {
    double (*badness)(const RideProfile&);  // NaN: no figure
    double absolute;
    double relative;
    const char* text;
};

// The badness of a lowest and of a largest extreme; NaN where no sample counted.
double Lowest(const ProfileExtreme& e) {
    return e.segment < 0 ? std::numeric_limits<double>::quiet_NaN() : -e.value;
}
double Largest(const ProfileExtreme& e) {
    return e.segment < 0 ? std::numeric_limits<double>::quiet_NaN() : std::abs(e.value);
}

Verdict Judge(const Judgement& j, const RideProfile& loaded, const RideProfile& rebuilt) {
    const double a = j.badness(loaded);
    const double b = j.badness(rebuilt);
    if (!std::isfinite(a) || !std::isfinite(b)) return Verdict::None;
    if (b > a + j.relative * std::abs(a) + j.absolute) return Verdict::Worse;
    if (a > b + j.relative * std::abs(b) + j.absolute) return Verdict::Better;
    return Verdict::Same;
}

std::string VerdictText(Verdict verdict, const char* margin) {
    switch (verdict) {
        case Verdict::Better:
            return std::string("Better than the loaded track by more than ") + margin + ".";
        case Verdict::Worse:
            return std::string("Worse than the loaded track by more than ") + margin + ".";
        case Verdict::Same: return std::string("Within ") + margin + " of the loaded track.";
        case Verdict::None: break;
    }
    return {};
}

// The margins: the tolerances a rebuild is held to against the drawn track.
constexpr double kLateralMargin = 0.1;   // g
constexpr double kVerticalMargin = 0.2;  // g
constexpr double kRmsMargin = 0.01;      // g
constexpr double kOnsetShare = 0.1;
constexpr double kOnsetMargin = 1.0;  // g/s
constexpr double kKinkMargin = 0.5;  // degrees
constexpr const char* kKinkText = "0.5\u00b0";
constexpr const char* kRmsText = "0.01 g";
constexpr const char* kOnsetText = "10 % and 1 g/s";
constexpr Judgement kNoJudgement{nullptr, 0.0, 0.0, ""};

}  // namespace

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Better: return "better";
        case Verdict::Same: return "same";
        case Verdict::Worse: return "worse";
        case Verdict::None: break;
    }
    return "";
}

std::vector<SummaryRow> SummaryRows(const ProfileModel& model, ForceView view) {
    using Pick = std::string (*)(const RideProfile&);
    using Locate = Place (*)(const RideProfile&);
    struct Figure {
        const char* label;
        Pick pick;
        Locate place;
        const char* toolTip;
        Judgement judgement = kNoJudgement;
    };
    const auto none = [](const RideProfile&) { return Place{}; };
    static const char* const kLargestLateral =
        "The lateral force furthest from zero, with its sign: positive pushes towards the "
        "rider's left.";
    static const char* const kRms =
        "The root mean square of the lateral force over every sample: how hard the ride "
        "pushes sideways overall.";
    static const char* const kOnset =
        "The fastest change of the felt force between neighbouring samples, in g per second: "
        "a jolt shows as a high onset.";
    const std::vector<Figure> felt = {
        {"Highest vertical", [](const RideProfile& p) { return At(p.summary.feltMaxVertical, "g"); },
         [](const RideProfile& p) { return Where(p.summary.feltMaxVertical); }, ""},
        {"Lowest vertical", [](const RideProfile& p) { return At(p.summary.feltMinVertical, "g"); },
         [](const RideProfile& p) { return Where(p.summary.feltMinVertical); }, "",
         {[](const RideProfile& p) { return Lowest(p.summary.feltMinVertical); }, kVerticalMargin,
          0.0, "0.2 g"}},
        {"Largest lateral", [](const RideProfile& p) { return At(p.summary.feltMaxLateral, "g"); },
         [](const RideProfile& p) { return Where(p.summary.feltMaxLateral); }, kLargestLateral,
         {[](const RideProfile& p) { return Largest(p.summary.feltMaxLateral); }, kLateralMargin,
          0.0, "0.1 g"}},
        {"Lateral RMS",
         [](const RideProfile& p) { return Fixed(p.summary.feltLateralRms, 3) + " g"; }, none,
         kRms,
         {[](const RideProfile& p) { return p.summary.feltLateralRms; }, kRmsMargin, 0.0,
          kRmsText}},
        {"Vertical onset",
         [](const RideProfile& p) { return Fixed(p.summary.onsetVertical, 1) + " g/s"; }, none,
         kOnset, {[](const RideProfile& p) { return p.summary.onsetVertical; }, kOnsetMargin,
                  kOnsetShare, kOnsetText}},
        {"Lateral onset",
         [](const RideProfile& p) { return Fixed(p.summary.onsetLateral, 1) + " g/s"; }, none,
         kOnset, {[](const RideProfile& p) { return p.summary.onsetLateral; }, kOnsetMargin,
                  kOnsetShare, kOnsetText}},
    };
    const std::vector<Figure> raw = {
        {"Highest vertical", [](const RideProfile& p) { return At(p.summary.maxVertical, "g"); },
         [](const RideProfile& p) { return Where(p.summary.maxVertical); }, ""},
        {"Lowest vertical", [](const RideProfile& p) { return At(p.summary.minVertical, "g"); },
         [](const RideProfile& p) { return Where(p.summary.minVertical); }, "",
         {[](const RideProfile& p) { return Lowest(p.summary.minVertical); }, kVerticalMargin, 0.0,
          "0.2 g"}},
        {"Largest lateral", [](const RideProfile& p) { return At(p.summary.maxLateral, "g"); },
         [](const RideProfile& p) { return Where(p.summary.maxLateral); }, kLargestLateral,
         {[](const RideProfile& p) { return Largest(p.summary.maxLateral); }, kLateralMargin, 0.0,
          "0.1 g"}},
        {"Lateral RMS", [](const RideProfile& p) { return Fixed(p.summary.lateralRms, 3) + " g"; },
         none, kRms,
         {[](const RideProfile& p) { return p.summary.lateralRms; }, kRmsMargin, 0.0, kRmsText}},
        {"Lateral RMS over 5 m",
         [](const RideProfile& p) { return Fixed(p.summary.lateralRms5m, 3) + " g"; }, none,
         "The lateral force averaged over 5 m of track around each sample, then the root mean "
         "square of those averages: the steady sideways push without the quick jolts.",
         {[](const RideProfile& p) { return p.summary.lateralRms5m; }, kRmsMargin, 0.0, kRmsText}},
    };
    const std::vector<Figure> common = {
        {"Largest kink", [](const RideProfile& p) { return At(p.summary.largestKink, "\u00b0"); },
         [](const RideProfile& p) { return Where(p.summary.largestKink); },
         "The largest turn of the heart path's direction where two track segments meet. No "
         "sample's force shows a kink: the riders feel it as a knock.",
         {[](const RideProfile& p) { return Largest(p.summary.largestKink); }, kKinkMargin, 0.0,
          kKinkText}},
        {"Lowest speed", [](const RideProfile& p) { return At(p.summary.minSpeed, "m/s"); },
         [](const RideProfile& p) { return Where(p.summary.minSpeed); }, ""},
        {"Highest speed", [](const RideProfile& p) { return At(p.summary.maxSpeed, "m/s"); },
         [](const RideProfile& p) { return Where(p.summary.maxSpeed); }, ""},
        {"Heart path", [](const RideProfile& p) { return Fixed(p.summary.length, 1) + " m"; },
         none, ""},
        {"Samples",
         [](const RideProfile& p) {
             return std::to_string(p.samples.size()) + " every " + Fixed(p.spacing, 2) + " m";
         },
         none, ""},
    };
    std::vector<SummaryRow> rows;
    for (const std::vector<Figure>* list : {view == ForceView::Felt ? &felt : &raw, &common}) {
        for (const Figure& f : *list) {
            SummaryRow row;
            row.label = f.label;
            row.toolTip = f.toolTip;
            if (const RideProfile* p = ProfileOf(model, Which::Loaded)) {
                row.loaded = f.pick(*p);
                const Place place = f.place(*p);
                row.loadedAt = place.distance;
                row.loadedSegment = place.segment;
            }
            if (const RideProfile* p = ProfileOf(model, Which::Rebuilt)) {
                row.rebuilt = f.pick(*p);
                const Place place = f.place(*p);
                row.rebuiltAt = place.distance;
                row.rebuiltSegment = place.segment;
            }
            const RideProfile* loaded = ProfileOf(model, Which::Loaded);
            const RideProfile* rebuilt = ProfileOf(model, Which::Rebuilt);
            if (f.judgement.badness && loaded && rebuilt) {
                row.verdict = Judge(f.judgement, *loaded, *rebuilt);
                row.verdictText = VerdictText(row.verdict, f.judgement.text);
            }
            rows.push_back(row);
        }
    }
    return rows;
}

const char* const kComfortNote =
    "Shaded: beyond vertical +6 g / \u22121.5 g and lateral \u00b11.8 g, the limits that "
    "amusement-ride acceleration standards commonly give for seated, restrained riders over "
    "short durations. The standards also weigh how long a force lasts and how forces "
    "combine: these figures are a guide for the design, not a certification.";

std::string ExceedanceText(const Exceedance& e) {
    const char* axis = e.axis == ForceAxis::Vertical ? "Vertical" : "Lateral";
    const std::string limit = (e.limit > 0.0 ? " above +" : " below ") + FormatShortest(e.limit);
    return std::string(axis) + limit + " g at " + Fixed(e.startDistance, 1) + "\u2013" +
           Fixed(e.endDistance, 1) + " m for " + Fixed(e.duration, 2) + " s, peak " +
           Fixed(e.peak, 2) + " g";
}

std::vector<ExceedanceRow> ExceedanceRows(const ProfileModel& model, ForceView view) {
    std::vector<ExceedanceRow> rows;
    for (Which which : {Which::Loaded, Which::Rebuilt}) {
        if (ProfileOf(model, which) == nullptr) continue;
        const TrackPlots& plots = PlotsOf(model, which);
        for (const Exceedance& e : view == ForceView::Felt ? plots.felt : plots.raw) {
            rows.push_back({which, ExceedanceText(e), e.peakDistance});
        }
    }
    return rows;
}

std::string NoExceedanceText(ForceView view) {
    return view == ForceView::Felt ? "No felt force goes beyond the limits."
                                   : "No raw force goes beyond the limits.";
}

std::optional<size_t> SampleAt(const ProfileModel& model, Which which, XAxis axis, double x) {
    if (ProfileOf(model, which) == nullptr || !std::isfinite(x)) return std::nullopt;
    const std::vector<double>& xs = XValues(PlotsOf(model, which).data, axis);
    const auto end = std::partition_point(xs.begin(), xs.end(),
                                          [](double v) { return !std::isnan(v); });
    if (end == xs.begin()) return std::nullopt;
    auto it = std::lower_bound(xs.begin(), end, x);
    if (it == end) {
        // Past a valleyed train's last sample on a time axis: nothing there.
        if (axis == XAxis::Time && end != xs.end()) return std::nullopt;
        --it;
    } else if (it != xs.begin() && x - *(it - 1) < *it - x) {
        --it;
    }
    return static_cast<size_t>(it - xs.begin());
}

double XOfDistance(const ProfileModel& model, Which which, XAxis axis, double distance) {
    if (axis == XAxis::Distance) return distance;
    const auto k = SampleAt(model, which, XAxis::Distance, distance);
    return k ? PlotsOf(model, which).data.time[*k] : std::numeric_limits<double>::quiet_NaN();
}

std::string ReadOut(const ProfileModel& model, XAxis axis, ForceView view, double x) {
    std::string text = axis == XAxis::Time ? Fixed(x, 2) + " s" : Fixed(x, 1) + " m";
    for (const auto& [name, which] : {std::pair{"loaded", Which::Loaded},
                                      std::pair{"rebuilt", Which::Rebuilt}}) {
        if (const auto k = SampleAt(model, which, axis, x)) {
            text += "   " + TrackValues(name, model, which, *k, axis, view);
        }
    }
    return text;
}

std::string StatusLine(const ProfileModel& model) {
    if (!model.loaded) return "Load a track to see its ride profile.";
    if (!*model.loaded) return "No profile: " + model.loaded->message;
    if (model.valley) return ValleyNote(*model.valley, model.advice);
    if (!model.rebuilt) return "Loaded track, heart on the rail. Run the heartline to compare.";
    return "Loaded track (heart on the rail) and rebuilt track (" + RebuildName(model.smooth) +
           ", heart " + Fixed(model.heartline, 2) + " m from the rail).";
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

std::string ExportPath(const std::string& trackPath, const std::string& suffix,
                       const std::string& extension) {
    const size_t slash = trackPath.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : trackPath.substr(0, slash + 1);
    std::string stem = trackPath.substr(slash == std::string::npos ? 0 : slash + 1);
    constexpr std::string_view kExtension = ".cvtrack";
    if (stem.size() > kExtension.size()) {
        std::string end = stem.substr(stem.size() - kExtension.size());
        std::transform(end.begin(), end.end(), end.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (end == kExtension) stem.resize(stem.size() - kExtension.size());
    }
    if (stem.empty()) stem = "ride";
    return folder + stem + suffix + "." + extension;
}

}  // namespace cvqrn::ui
