// What the ride profile window shows, worked out without the toolkit: the
// profiles of the loaded and the rebuilt track, where the train stopped after
// a valleyed run, the summary table and the hover read-out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "heartline/settings.h"
#include "profile/ride_profile.h"
#include "heartline/valley.h"
#include "model/track_record.h"

namespace cvqrn::ui {

// The main window's state after a load or a run.
struct ProfileRequest {
    const TrackData* loaded = nullptr;   // null: no track loaded
    const TrackData* rebuilt = nullptr;  // null: no successful run since the load
    bool afterFailedRun = false;         // the last run on `loaded` failed
    HeartlineSettings settings;          // as the fields read
    // The profile of `loaded` at these settings' speeds, when it is already
    // worked out (e.g. beside the run); null: worked out here.
    const RideProfile* loadedProfile = nullptr;
};

struct ProfileModel {
    std::optional<RideProfile> loaded;   // heart on the rail (h = 0)
    std::optional<RideProfile> rebuilt;  // heart at the heartline distance
    std::optional<ValleyStop> valley;    // where the last, valleyed run stopped
    std::optional<double> advice;        // the start speed that clears every hill
    double heartline = 0.0;
    bool smooth = false;  // the smooth rebuild made `rebuilt`
};

ProfileModel BuildProfileModel(const ProfileRequest& request);

// The profile of the loaded track (heart on the rail) at `settings`' speeds,
// as BuildProfileModel works it out.
RideProfile LoadedProfile(const TrackData& loaded, const HeartlineSettings& settings);

// One line of the summary table: a figure of the loaded and of the rebuilt
// track ("" where there is none).
struct SummaryRow {
    std::string label;
    std::string loaded;
    std::string rebuilt;
};
std::vector<SummaryRow> SummaryRows(const ProfileModel& model);

// The values of both tracks at `distance` metres (the nearest sample of each).
std::string ReadOut(const ProfileModel& model, double distance);

// The window's line under the plots when nothing is hovered.
std::string StatusLine(const ProfileModel& model);

// After a valleyed run: where the train stops, with the run's own figure,
// and the start speed that clears every hill (when one does).
std::string ValleyNote(const ValleyStop& stop, std::optional<double> advice);

// Which rebuild made a rebuilt track: "default rebuild" or "smooth rebuild".
std::string RebuildName(bool smooth);

}  // namespace cvqrn::ui
