#include "frontend/track_operations.h"

#include "heartline/valley.h"

namespace cvqrn::ui {

Result CoreTrackOperations::Load(const std::string& path, TrackData& track) {
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
    if (result.status == Status::Valleyed) {
        // The failed run left `track` as it was: the details say which start speed would do.
        const StartSpeedAdvice advice = AdviseStartSpeed(track, settings);
        if (advice) {
            advice_ = advice.startspeed;
            result.message.append("\n").append(ValleyAdviceText(advice.startspeed));
        }
    }
    return result;
}

}  // namespace cvqrn::ui
