#include "ui/track_operations.h"

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
    return GenerateHeartline(track, settings, progress);
}

}  // namespace cvqrn::ui
