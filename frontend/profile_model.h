// What the ride profile window and the page show, worked out without the
// toolkit: the profiles of the loaded and the rebuilt track with what their
// plots draw, where the train stopped after a valleyed run, the summary
// table, the comfort-limit exceedances, the hover read-out, the caption a
// saved picture carries and the names exports take.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "frontend/profile_plots.h"
#include "heartline/settings.h"
#include "heartline/valley.h"
#include "model/track_record.h"
#include "profile/comfort_limits.h"
#include "profile/ride_profile.h"

namespace cvqrn::ui {

// The main window's state after a load or a run, copied so that the profile
// can be worked out on another thread while the window goes on.
struct ProfileRequest {
    std::optional<TrackData> loaded;   // none: no track loaded
    std::optional<TrackData> rebuilt;  // none: no successful run since the load
    bool afterRun = false;             // the request follows a run (else a load)
    bool afterFailedRun = false;       // the last run on `loaded` failed: find the valley
    HeartlineSettings settings;        // as the fields read
    std::string trackPath;             // the loaded file
    std::string when;                  // the date and time of the load or run
};

// What the profile and the valley search read of a track (its vertices and
// segment attributes), without the rest of the file.
TrackData ProfileCopy(const TrackData& track);

// The request for `loaded` and, unless null, its rebuild `rebuilt` at `settings`.
ProfileRequest MakeProfileRequest(const TrackData& loaded, const TrackData* rebuilt,
                                  const HeartlineSettings& settings);

enum class Which { Loaded, Rebuilt };

// One track's plots and the stretches beyond the comfort limits.
struct TrackPlots {
    PlotData data;
    std::vector<Exceedance> felt;
    std::vector<Exceedance> raw;
};

struct ProfileModel {
    std::optional<RideProfile> loaded;   // heart on the rail (h = 0)
    std::optional<RideProfile> rebuilt;  // heart at the heartline distance
    TrackPlots loadedPlots;
    TrackPlots rebuiltPlots;
    std::optional<ValleyStop> valley;    // where the last, valleyed run stopped
    std::optional<double> advice;        // the start speed that clears every hill
    double heartline = 0.0;
    bool smooth = false;  // the smooth rebuild made `rebuilt`
    // The value range of every plot, felt and raw ([view][quantity]).
    std::array<std::array<Range, kQuantityCount>, 2> ranges{};
    Range distanceExtent;
    Range timeExtent;
    std::string trackPath;
    std::string caption;  // the track, the six settings, the rebuild and the date
};

// The profiles and everything the plots draw; the slow part, for a worker
// thread. The same as AssembleProfileModel of the ProfileTrack of each track.
ProfileModel BuildProfileModel(const ProfileRequest& request);

// One track's profile and plots, the slowest part, apart so that the two
// tracks can be worked out side by side.
struct TrackProfile {
    RideProfile profile;
    TrackPlots plots;
};
// With `sideBySide` the profile splits its work between two threads (the
// same figures).
TrackProfile ProfileTrack(const TrackData& track, const ProfileSettings& settings,
                          const SideBySide& sideBySide = {});
// The heart on the rail for the loaded track, at the heartline distance for
// the rebuilt one; the run's speeds for both.
ProfileSettings ProfileSettingsFor(const ProfileRequest& request, Which which);
// The model from the profiles of the request's tracks, the ranges, the valley
// after a failed run and the caption; with `sideBySide` the ranges are
// worked out on two threads (the same ranges).
ProfileModel AssembleProfileModel(const ProfileRequest& request, std::optional<TrackProfile> loaded,
                                  std::optional<TrackProfile> rebuilt,
                                  const SideBySide& sideBySide = {});

// The profile and plots of one track; null / empty where there is none.
const RideProfile* ProfileOf(const ProfileModel& model, Which which);
const TrackPlots& PlotsOf(const ProfileModel& model, Which which);
Range PlotRange(const ProfileModel& model, Quantity quantity, ForceView view);
Range XExtent(const ProfileModel& model, XAxis axis);

// `value` with `decimals` digits; never "-0.00" (a value that rounds to zero
// shows without a sign), "-" for a value that is not a number.
std::string Fixed(double value, int decimals);

// How the rebuilt track's figure compares with the loaded track's, beyond a
// margin a rider would hardly feel. None where the row is no force to judge
// (speeds, the path) or either track has no figure. The highest vertical is
// not judged: banking a turn rightly turns lateral force into vertical.
enum class Verdict { None, Better, Same, Worse };

// One line of the summary table: a figure of the loaded and of the rebuilt
// track ("" where there is none), what it means when the label alone does
// not say, and where the figure happens (NaN: a figure of the whole ride),
// for a click that takes the plots there.
struct SummaryRow {
    std::string label;
    std::string loaded;
    std::string rebuilt;
    std::string toolTip;
    double loadedAt = std::numeric_limits<double>::quiet_NaN();
    double rebuiltAt = std::numeric_limits<double>::quiet_NaN();
    int loadedSegment = -1;  // the track segment where it happens, -1: none
    int rebuiltSegment = -1;
    Verdict verdict = Verdict::None;
    std::string verdictText;  // "Better than the loaded track by more than 0.1 g."
};
// "better", "same", "worse" or "" (the page's class names).
const char* VerdictName(Verdict verdict);
// The figures of the felt or the raw forces, then the speeds and the path.
std::vector<SummaryRow> SummaryRows(const ProfileModel& model, ForceView view);

// The stretches beyond the comfort limits of both tracks, in the view's forces.
struct ExceedanceRow {
    Which which = Which::Loaded;
    std::string text;
    double distance = 0.0;  // where the force peaks
};
std::vector<ExceedanceRow> ExceedanceRows(const ProfileModel& model, ForceView view);
// "Vertical above +6 g at 120.5–124.0 m for 0.18 s, peak 6.42 g"
std::string ExceedanceText(const Exceedance& e);

// Where the limits come from, and what they are worth.
extern const char* const kComfortNote;
// The window's line when no exceedance shows.
std::string NoExceedanceText(ForceView view);

// The sample of a track nearest to `x` on the x axis; none when the track has
// no sample there (before a load, or past where a valleyed train stops on a
// time axis).
std::optional<size_t> SampleAt(const ProfileModel& model, Which which, XAxis axis, double x);

// The x of a track's point `distance` metres along it on `axis` (distance
// itself, or the time the train passes there).
double XOfDistance(const ProfileModel& model, Which which, XAxis axis, double distance);

// The values of both tracks at `x` (the nearest sample of each).
std::string ReadOut(const ProfileModel& model, XAxis axis, ForceView view, double x);

// The window's line under the plots when nothing is hovered.
std::string StatusLine(const ProfileModel& model);

// After a valleyed run: where the train stops, with the run's own figure,
// and the start speed that clears every hill (when one does).
std::string ValleyNote(const ValleyStop& stop, std::optional<double> advice);

// Which rebuild made a rebuilt track: "default rebuild" or "smooth rebuild".
std::string RebuildName(bool smooth);

// "<the track's folder>/<its name without .cvtrack><suffix>.<extension>", e.g.
// "/tracks/family_coaster-profile.png"; "ride-profile<...>" when no track is loaded.
std::string ExportPath(const std::string& trackPath, const std::string& suffix,
                       const std::string& extension);

}  // namespace cvqrn::ui
