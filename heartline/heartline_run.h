// The working data of one heartline run and its stages, in the order the
// driver calls them. GenerateHeartline is the public entry; this header lets
// the tests look at the per-sample arrays of a run it made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vec3/vec3.h"
#include "heartline/generator.h"
#include "trackfile/track_record.h"

namespace cvqrn {

// World down: gravity points along -y.
inline constexpr Vec3 kWorldDown{0.0f, -1.0f, 0.0f};

// Marks a pass count that is still to be derived from the train's speed.
inline constexpr int16_t kSpeedDerivedPasses = 9999;

// Everything one run works on. Samples are numbered 0 to N; every per-sample
// array has one spare entry (N + 1) for a forced last sample that arrives
// after sample N was already taken.
struct HeartlineRun {
    // Parameters as given (filter is kept by the caller and may be raised).
    int16_t segments = 0;
    int16_t precision = 0;
    double heartline = 0.0;
    double startspeed = 0.0;
    double endspeed = 0.0;
    int N = 0;  // segments x precision

    // Per-sample arrays, N + 2 entries each.
    std::vector<Vec3> SamplePos;      // point of the heart path (input track)
    std::vector<double> SampleSpeed;  // train speed, m/s
    std::vector<Vec3> SampleTangent;  // unit tangent of the input track
    std::vector<Vec3> LevelDown;      // world down without its tangent part
    std::vector<Vec3> RollDown;       // down direction of the input track's roll
    std::vector<Vec3> SampleDown;     // chosen down direction, smoothed in place
    std::vector<Vec3> SmoothScratch;  // one smoothing pass before it is copied back
    std::vector<int16_t> PassCount;   // smoothing passes each sample takes

    std::vector<Vec3> FitPoints;           // points of one fit, precision + 2 entries
    std::vector<TrackVertex> NewVertices;  // segments + 2 entries, the last stays zero

    double TrackLen = 0.0;
    double EnergyStart = 0.0;
    double EnergyEnd = 0.0;
    double EnergySlope = 0.0;
    double MinSpeed = 9999.0;
    double MaxSpeed = 0.0;

    int32_t ProgressDone = 0;
    int32_t ProgressTotal = 0;
    ProgressFeedback* progress = nullptr;

    // What the run did, for the caller and the tests.
    int samplesTaken = 0;  // samples written by the walk, the forced spare included
    int passesRun = 0;     // smoothing passes run
    int fitsRun = 0;       // curves fitted
};

// Counts one step of work and tells the progress receiver.
void StepProgress(HeartlineRun& run);

// The result of a stage: Ok, or the failure with its detail.
inline HeartlineResult StageOk() {
    return HeartlineResult{HeartlineStatus::Ok, {}, 0, 0, 0};
}
HeartlineResult StageFailure(HeartlineStatus status, std::string detail);

// True when every coordinate and the roll of `v` are finite numbers.
bool IsFiniteVertex(const TrackVertex& v);

// Refuses a track the run cannot sample (too few vertices, a vertex list
// shorter than its count, a zero or unmeasurable length) and reports a vertex
// that holds a coordinate or roll that is not a finite number. Returns Ok when
// the track can be taken; `length` receives its measured length.
HeartlineResult CheckHeartlineTrack(const TrackData& track, double& length);

// Stage 1: sizes the arrays and the progress count for the parameters, and
// keeps the track's measured length (TrackLength of the input track).
void SetUpRun(HeartlineRun& run, int16_t segments, int16_t precision, double heartline,
              double startspeed, double endspeed, int16_t filter, double trackLength,
              ProgressFeedback* progress);

// Stage 2: the energy line and the arc-length walk. Takes N + 1 samples at
// equal arc-length spacing and fills SamplePos, SampleSpeed, SampleTangent,
// LevelDown, RollDown, SampleDown and the recorded PassCount. Fails when the
// train cannot reach a sample (the energy line lies below it).
HeartlineResult SampleTrack(HeartlineRun& run, const TrackData& track);

// Stage 3: completes the speed-derived pass counts and raises `filter` to the
// largest count. Fails when a count cannot be derived (every sample at one speed).
HeartlineResult DecidePassCounts(HeartlineRun& run, int16_t& filter);

// Stage 4: `passTotal` smoothing passes over SampleDown.
void SmoothBanking(HeartlineRun& run, int16_t passTotal);

// Stage 5: offsets every sample by the heartline distance, fits one curve per
// new segment and builds NewVertices with their rolls, closing the list.
HeartlineResult OffsetAndRefit(HeartlineRun& run, const TrackData& track);

// Runs stages 1 to 5 on `track` (which it only reads) into `run`, after the
// same checks as GenerateHeartline. `filter` is raised as the pass counts ask.
// result.status is Ok when `run.NewVertices` holds a complete new track.
HeartlineResult RunHeartlineStages(const TrackData& track, int16_t segments, int16_t precision,
                                   double heartline, double startspeed, double endspeed,
                                   int16_t& filter, ProgressFeedback* progress, HeartlineRun& run);

// Stage 6: writes the new vertex list into `track`: Bezr replaced, Segm
// resized to `segments` entries keeping the existing ones, RASC emptied.
void WriteNewTrack(TrackData& track, const HeartlineRun& run);

}  // namespace cvqrn
