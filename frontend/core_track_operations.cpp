#include "frontend/track_operations.h"

#include <optional>

#include "profile/valley_advice.h"

namespace cvqrn::ui {

LoadResult CoreTrackOperations::Load(const std::string& path, TrackData& track) {
    return LoadTrack(path, track);
}

SaveResult CoreTrackOperations::Save(const std::string& path, TrackData& track,
                                     const SaveOptions& options) {
    return SaveTrack(path, track, options);
}

EndAnalysis CoreTrackOperations::Analyse(const TrackData& track) {
    return TrackEndAnalysis(track);
}

HeartlineResult CoreTrackOperations::Generate(TrackData& track, const HeartlineSettings& settings,
                                              ProgressFeedback* progress) {
    HeartlineResult result = GenerateHeartline(track, settings, progress);
    if (result.status == HeartlineStatus::Valleyed) {
        // The failed run left `track` as it was: the details say which start speed would do.
        const std::optional<double> advice = AdviseStartSpeed(track, settings);
        if (advice) result.detail.append("\n").append(ValleyAdviceText(*advice));
    }
    return result;
}

}  // namespace cvqrn::ui
