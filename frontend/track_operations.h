// What the window asks of the core: load, save, end analysis and the
// heartline run. The window's logic talks to this interface only, so it can
// be driven with test doubles; CoreTrackOperations forwards to the core.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "geometry/end_analysis.h"
#include "heartline/generator.h"
#include "heartline/settings.h"
#include "trackfile/track_file.h"
#include "model/track_record.h"

namespace cvqrn::ui {

class TrackOperations {
  public:
    virtual ~TrackOperations() = default;
    virtual Result Load(const std::string& path, TrackData& track) = 0;
    virtual SaveResult Save(const std::string& path, TrackData& track,
                            const SaveOptions& options) = 0;
    virtual EndAnalysis Analyse(const TrackData& track) = 0;
    // Runs the generation on `track`.
    virtual HeartlineResult Generate(TrackData& track, const HeartlineSettings& settings,
                                     ProgressFeedback* progress) = 0;
    // After a run that valleyed: the lowest start speed that clears every
    // hill (AdviseStartSpeed), if any; nothing after any other run.
    virtual std::optional<double> AdvisedStartSpeed() const { return std::nullopt; }
};

// The real thing: the core's LoadTrack, SaveTrack, TrackEndAnalysis and GenerateHeartline.
class CoreTrackOperations final : public TrackOperations {
  public:
    Result Load(const std::string& path, TrackData& track) override;
    SaveResult Save(const std::string& path, TrackData& track,
                    const SaveOptions& options) override;
    EndAnalysis Analyse(const TrackData& track) override;
    HeartlineResult Generate(TrackData& track, const HeartlineSettings& settings,
                             ProgressFeedback* progress) override;
    std::optional<double> AdvisedStartSpeed() const override { return advice_; }

  private:
    std::optional<double> advice_;
};

}  // namespace cvqrn::ui
