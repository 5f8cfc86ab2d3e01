// The generation driver: checks what it is given, runs the stages in order on
// one run's arrays, and writes the new track only when all of them succeeded.
#include "heartline/generator.h"

#include <cmath>
#include <new>
#include <utility>

#include "geometry/bezier.h"
#include "heartline/heartline_run.h"
#include "heartline/smooth_rebuild.h"
#include "heartline/track_check.h"

namespace cvqrn {

void StepProgress(HeartlineRun& run) {
    run.ProgressDone += 1;
    if (run.Progress != nullptr) run.Progress->feedback(run.ProgressDone, run.ProgressTotal);
}

Result CheckHeartlineTrack(const TrackData& track, double& length) {
    // Sample indices are 16-bit: as many vertices as segments can be sampled, plus one.
    if (Result curves = CheckTrackCurves(track, kMaxRunCount + 1); !curves) return curves;
    length = TrackLength(track);
    if (!(length > 0.0)) {
        return Failure(Status::UnusableTrack,
                       "The track has zero length: all its points coincide.");
    }
    if (!std::isfinite(length)) {
        return Failure(Status::UnusableTrack,
                       "The track is too long to be measured; its coordinates are too "
                       "large.");
    }
    return {};
}

void SetUpRun(HeartlineRun& run, const HeartlineSettings& settings, double trackLength,
              ProgressFeedback* progress) {
    run.Settings = settings;
    run.N = settings.segments * settings.precision;
    run.Filter = settings.filter;

    const size_t samples = AsIndex(run.N) + 2;
    run.SamplePos.assign(samples, Vec3{});
    run.SampleSpeed.assign(samples, 0.0);
    run.SampleTangent.assign(samples, Vec3{});
    run.LevelDown.assign(samples, Vec3{});
    run.RollDown.assign(samples, Vec3{});
    run.SampleDown.assign(samples, Vec3{});
    run.SmoothScratch.assign(samples, Vec3{});
    run.PassCount.assign(samples, 0);
    run.FitPoints.assign(AsIndex(settings.precision) + 2, Vec3{});
    run.NewVertices.assign(AsIndex(settings.segments) + 2, TrackVertex{});

    run.TrackLen = trackLength;
    run.Energy = {};
    run.MinSpeed = kMinSpeedBeforeSampling;
    run.MaxSpeed = 0.0;
    run.ProgressTotal = ProgressStepCount(settings);
    run.ProgressDone = 0;
    run.Progress = progress;
    run.SamplesTaken = run.PassesRun = run.FitsRun = run.RailFits = 0;
    run.StopArc = 0.0;
}

HeartlineResult RunHeartlineStages(const TrackData& track, const HeartlineSettings& settings,
                                   ProgressFeedback* progress, HeartlineRun& run) {
    const auto refused = [&settings](Result why) {
        HeartlineResult result{std::move(why)};
        result.filter = settings.filter;
        return result;
    };
    if (Result check = CheckHeartlineSettings(settings); !check) return refused(std::move(check));
    double length = 0.0;
    if (Result check = CheckHeartlineTrack(track, length); !check) return refused(std::move(check));

    // The walk of the check above is the run's measurement of the track.
    SetUpRun(run, settings, length, progress);

    HeartlineResult result{SampleTrack(run, track)};
    if (result) static_cast<Result&>(result) = DecidePassCounts(run);
    if (settings.smooth) {
        // The smooth rebuild takes the same checks and speeds, then its own way.
        if (result) static_cast<Result&>(result) = SmoothRebuild(run, track);
    } else {
        if (result) SmoothBanking(run);
        if (result) static_cast<Result&>(result) = OffsetAndRefit(run, track);
    }
    result.filter = run.Filter;
    result.lengthIn = run.TrackLen;
    result.minSpeed = run.MinSpeed;
    result.maxSpeed = run.MaxSpeed;
    return result;
}

void WriteNewTrack(TrackData& track, const HeartlineRun& run) {
    // Build both new lists first, so that nothing in `track` changes unless
    // all of it can.
    BezrChunk bezr;
    // One entry per vertex and a last one that stays zero: the smooth
    // rebuild may place fewer segments than the settings' budget.
    const auto segments = static_cast<int16_t>(run.NewVertices.size() - 2);
    bezr.VertexCount = segments + 1;
    bezr.Vertices = run.NewVertices;
    std::vector<TrackSegment> segmentList = track.Segm.Segments;
    segmentList.resize(AsIndex(segments) + 1);

    track.Bezr = std::move(bezr);
    track.Segm.SegmentCount = segments;
    track.Segm.Segments = std::move(segmentList);
    track.Rasc.Count = 0;
}

HeartlineResult GenerateHeartline(TrackData& track, const HeartlineSettings& settings,
                                  ProgressFeedback* progress) {
    try {
        HeartlineRun run;
        HeartlineResult result = RunHeartlineStages(track, settings, progress, run);
        if (result) WriteNewTrack(track, run);
        return result;
    } catch (const std::bad_alloc&) {
        HeartlineResult failed{Failure(
            Status::OutOfMemory,
            "The run could not be completed: the computer ran out of memory. The track was not "
            "changed; fewer segments or a lower precision need less memory.")};
        failed.filter = settings.filter;
        return failed;
    }
}

}  // namespace cvqrn
