#include "frontend/track_operations.h"

#include <optional>

#include "heartline/valley.h"

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
    advice_.reset();
    if (result.status == HeartlineStatus::Valleyed) {
        // The failed run left `track` as it was: the details say which start speed would do.
        advice_ = AdviseStartSpeed(track, settings);
        if (advice_) result.detail.append("\n").append(ValleyAdviceText(*advice_));
    }
    return result;
}

}  // namespace cvqrn::ui
