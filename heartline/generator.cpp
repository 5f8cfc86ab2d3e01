// The generation driver: checks what it is given, runs the stages in order on
// one run's arrays, and writes the new track only when all of them succeeded.
#include "heartline/generator.h"

#include <cmath>
#include <exception>
#include <new>
#include <utility>

#include "geometry/bezier.h"
#include "heartline/heartline_run.h"
#include "heartline/text.h"

namespace cvqrn {

namespace {

// Sample indices and progress counts are 16-bit in the track model.
constexpr int kMax16 = 32767;

std::string NotFinite(const char* what, double value) {
    return std::string("The ") + what + " must be a finite number; it is " + FormatNumber(value) +
           ".";
}

bool IsFinite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

bool IsFiniteVertex(const TrackVertex& v) {
    return IsFinite(v.Pos) && IsFinite(v.CtrlIn) && IsFinite(v.CtrlOut) && std::isfinite(v.Roll);
}

std::string CheckHeartlineParameters(int16_t segments, int16_t precision, double heartline,
                                     double startspeed, double endspeed, int16_t filter) {
    if (segments < 1) {
        return "The number of segments must be at least 1; it is " + std::to_string(segments) + ".";
    }
    if (precision < 1) {
        return "The precision (samples per segment) must be at least 1; it is " +
               std::to_string(precision) + ".";
    }
    if (filter < 0) {
        return "The filter (number of smoothing passes) must not be negative; it is " +
               std::to_string(filter) + ".";
    }
    const int n = segments * precision;
    if (n > kMax16) {
        return "Segments times precision must not exceed 32767 samples; " +
               std::to_string(segments) + " x " + std::to_string(precision) + " gives " +
               std::to_string(n) + ".";
    }
    const int total = 2 * n + segments + filter + 3;
    if (total > kMax16) {
        return "The run would count " + std::to_string(total) +
               " progress steps (twice the samples plus segments plus filter plus 3), more "
               "than 32767; use fewer segments, a lower precision or a smaller filter.";
    }
    if (!std::isfinite(heartline)) return NotFinite("heartline distance", heartline);
    if (!std::isfinite(startspeed)) return NotFinite("start speed", startspeed);
    if (!std::isfinite(endspeed)) return NotFinite("end speed", endspeed);
    return {};
}

HeartlineResult StageFailure(HeartlineStatus status, std::string detail) {
    HeartlineResult result;
    result.status = status;
    result.detail = std::move(detail);
    return result;
}

void StepProgress(HeartlineRun& run) {
    run.ProgressDone += 1;
    if (run.progress != nullptr) run.progress->feedback(run.ProgressDone, run.ProgressTotal);
}

HeartlineResult CheckHeartlineTrack(const TrackData& track, double& length) {
    const int32_t count = track.Bezr.VertexCount;
    if (count < 2) {
        return StageFailure(
            HeartlineStatus::Refused,
            "The track needs at least two vertices; it has " + std::to_string(count) + ".");
    }
    if (static_cast<size_t>(count) > track.Bezr.Vertices.size()) {
        return StageFailure(HeartlineStatus::Refused,
                            "The track's vertex list holds " +
                                std::to_string(track.Bezr.Vertices.size()) +
                                " entries but its count says " + std::to_string(count) + ".");
    }
    if (count > kMax16 + 1) {
        return StageFailure(HeartlineStatus::Refused,
                            "The track has " + std::to_string(count) +
                                " vertices; at most 32768 (32767 segments) can be sampled.");
    }
    for (int32_t i = 0; i < count; ++i) {
        if (!IsFiniteVertex(track.Bezr.Vertices[static_cast<size_t>(i)])) {
            return StageFailure(HeartlineStatus::NonFinite,
                                "Vertex " + std::to_string(i) +
                                    " of the track holds a coordinate or roll that is not a "
                                    "finite number.");
        }
    }
    length = TrackLength(track);
    if (!(length > 0.0)) {
        return StageFailure(HeartlineStatus::Refused,
                            "The track has zero length: all its points coincide.");
    }
    if (!std::isfinite(length)) {
        return StageFailure(HeartlineStatus::Refused,
                            "The track is too long to be measured; its coordinates are too "
                            "large.");
    }
    return StageOk();
}

void SetUpRun(HeartlineRun& run, int16_t segments, int16_t precision, double heartline,
              double startspeed, double endspeed, int16_t filter, double trackLength,
              ProgressFeedback* progress) {
    run.segments = segments;
    run.precision = precision;
    run.heartline = heartline;
    run.startspeed = startspeed;
    run.endspeed = endspeed;
    run.N = segments * precision;

    const size_t samples = static_cast<size_t>(run.N) + 2;
    run.SamplePos.assign(samples, Vec3{});
    run.SampleSpeed.assign(samples, 0.0);
    run.SampleTangent.assign(samples, Vec3{});
    run.LevelDown.assign(samples, Vec3{});
    run.RollDown.assign(samples, Vec3{});
    run.SampleDown.assign(samples, Vec3{});
    run.SmoothScratch.assign(samples, Vec3{});
    run.PassCount.assign(samples, 0);
    run.FitPoints.assign(static_cast<size_t>(precision) + 2, Vec3{});
    run.NewVertices.assign(static_cast<size_t>(segments) + 2, TrackVertex{});

    run.TrackLen = trackLength;
    run.EnergyStart = run.EnergyEnd = run.EnergySlope = 0.0;
    run.MinSpeed = 9999.0;
    run.MaxSpeed = 0.0;
    run.ProgressTotal = 2 * run.N + segments + filter + 3;
    run.ProgressDone = 0;
    run.progress = progress;
    run.samplesTaken = run.passesRun = run.fitsRun = 0;
}

HeartlineResult RunHeartlineStages(const TrackData& track, int16_t segments, int16_t precision,
                                   double heartline, double startspeed, double endspeed,
                                   int16_t& filter, ProgressFeedback* progress, HeartlineRun& run) {
    std::string refusal =
        CheckHeartlineParameters(segments, precision, heartline, startspeed, endspeed, filter);
    if (!refusal.empty()) return StageFailure(HeartlineStatus::Refused, std::move(refusal));
    double length = 0.0;
    HeartlineResult checked = CheckHeartlineTrack(track, length);
    if (!checked) return checked;

    // The walk of the check above is the run's measurement of the track.
    SetUpRun(run, segments, precision, heartline, startspeed, endspeed, filter, length, progress);

    HeartlineResult result = SampleTrack(run, track);
    if (result) result = DecidePassCounts(run, filter);
    if (result) SmoothBanking(run, filter);
    if (result) result = OffsetAndRefit(run, track);
    result.lengthIn = run.TrackLen;
    result.minSpeed = run.MinSpeed;
    result.maxSpeed = run.MaxSpeed;
    return result;
}

void WriteNewTrack(TrackData& track, const HeartlineRun& run) {
    // Build both new lists first, so that nothing in `track` changes unless
    // all of it can.
    BezrChunk bezr;
    bezr.VertexCount = run.segments + 1;
    bezr.Vertices = run.NewVertices;
    std::vector<TrackSegment> segmentList = track.Segm.Segments;
    segmentList.resize(static_cast<size_t>(run.segments) + 1);

    track.Bezr = std::move(bezr);
    track.Segm.SegmentCount = run.segments;
    track.Segm.Segments = std::move(segmentList);
    track.Rasc.Count = 0;
}

HeartlineResult GenerateHeartline(TrackData& track, int16_t segments, int16_t precision,
                                  double heartline, double startspeed, double endspeed,
                                  int16_t& filter, ProgressFeedback* progress) {
    try {
        HeartlineRun run;
        HeartlineResult result = RunHeartlineStages(track, segments, precision, heartline,
                                                    startspeed, endspeed, filter, progress, run);
        if (result) WriteNewTrack(track, run);
        return result;
    } catch (const std::bad_alloc&) {
        // Not a wrong setting: say plainly that the run could not finish.
        return StageFailure(HeartlineStatus::Refused,
                            "The run could not be completed: the computer ran out of memory. "
                            "The track was not changed; fewer segments or a lower precision "
                            "need less memory.");
    } catch (const std::exception& e) {
        return StageFailure(HeartlineStatus::Refused,
                            std::string("The run could not be completed because of an "
                                        "unexpected error (") +
                                e.what() + "). The track was not changed.");
    } catch (...) {
        return StageFailure(HeartlineStatus::Refused,
                            "The run could not be completed because of an unexpected error. The "
                            "track was not changed.");
    }
}

}  // namespace cvqrn
