// The working data of one heartline run and its stages, in the order the
// driver calls them. GenerateHeartline is the public entry; this header lets
// the tests look at the per-sample arrays of a run it made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "heartline/banking.h"
#include "heartline/generator.h"
#include "heartline/sampling.h"
#include "heartline/settings.h"
#include "model/track_record.h"
#include "vec3/vec3.h"

namespace cvqrn {

// The lowest speed before any sample is taken: every real speed is below it.
inline constexpr double kMinSpeedBeforeSampling = 9999.0;

// Everything one run works on. Samples are numbered 0 to N; every per-sample
// array has one spare entry (N + 1) for a forced last sample that arrives
// after sample N was already taken.
struct HeartlineRun {
    HeartlineSettings Settings;  // as given; the filter in use is Filter below
    int N = 0;                   // segments x precision
    int16_t Filter = 0;          // smoothing passes: the setting, raised by DecidePassCounts

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
                                           // (the smooth rebuild may use fewer segments)

    double TrackLen = 0.0;
    EnergyLine Energy;  // along the input track's arc length
    double MinSpeed = kMinSpeedBeforeSampling;
    double MaxSpeed = 0.0;

    int32_t ProgressDone = 0;
    int32_t ProgressTotal = 0;
    ProgressFeedback* Progress = nullptr;

    // What the run did, for the caller and the tests.
    int SamplesTaken = 0;  // samples written by the walk, the forced spare included
    double StopArc = 0.0;  // a valley: the arc length where the walk found the train stopped
    int PassesRun = 0;     // smoothing passes run
    int FitsRun = 0;       // curves fitted
    int RailFits = 0;      // the smooth rebuild's rail fits solved, at every count it tried
};

// A sample, vertex, segment or point number of the run (never negative) as an
// index into its arrays, or such a count as an array size.
inline size_t AsIndex(int number) {
    return static_cast<size_t>(number);
}

// Counts one step of work and tells the progress receiver.
void StepProgress(HeartlineRun& run);

// Every stage answers Ok, or its failure (a Status of HeartlineResult) with
// where and why it stopped as the message.

// Refuses a track the run cannot take (UnusableTrack): fewer than two
// vertices, a vertex list shorter than its count, more vertices than 16-bit
// sample indices reach, a coordinate or roll that is not finite, a zero or
// unmeasurable length. Returns Ok when the track can be taken; `length`
// receives its measured length.
//
// Every stage below takes only a track this check accepted: it may index
// Vertices[0] to Vertices[VertexCount - 1] without further guards.
Result CheckHeartlineTrack(const TrackData& track, double& length);

// The last vertex of a track CheckHeartlineTrack accepted.
inline const TrackVertex& LastVertex(const TrackData& track) {
    return track.Bezr.Vertices[AsIndex(track.Bezr.VertexCount - 1)];
}

// Stage 1: sizes the arrays and the progress count for `settings` (which
// CheckHeartlineSettings accepted), and keeps the track's measured length
// (TrackLength of the input track).
void SetUpRun(HeartlineRun& run, const HeartlineSettings& settings, double trackLength,
              ProgressFeedback* progress);

// Stage 2: the energy line and the arc-length walk. Takes N + 1 samples at
// equal arc-length spacing and fills SamplePos, SampleSpeed, SampleTangent,
// LevelDown, RollDown, SampleDown and the recorded PassCount. Fails when the
// train cannot reach a sample (the energy line lies below it).
Result SampleTrack(HeartlineRun& run, const TrackData& track);

// Sample j at step parameter t with input roll `roll` (EasedRoll): the roll
// gives RollDown[j]; blended with `feltDown` by the segment's mode and freed
// of its component along `tangent` (the unnormalised tangent T), it gives
// SampleDown[j]. Records PassCount[j]. Reads SampleTangent[j] and LevelDown[j].
void BlendBanking(HeartlineRun& run, const SegmentBanking& banking, int j, double t, double roll,
                  const Vec3& feltDown, const Vec3& tangent);

// Stage 3: completes the speed-derived pass counts and raises run.Filter to
// the largest count. Fails when a count cannot be derived (every sample at
// one speed).
Result DecidePassCounts(HeartlineRun& run);

// Stage 4: run.Filter smoothing passes over SampleDown.
void SmoothBanking(HeartlineRun& run);

// Stage 5: offsets every sample by the heartline distance, fits one curve per
// new segment and builds NewVertices with their rolls, closing the list.
Result OffsetAndRefit(HeartlineRun& run, const TrackData& track);

// Runs stages 1 to 5 on `track` (which it only reads) into `run`, after the
// same checks as GenerateHeartline. result.status is Ok when `run.NewVertices`
// holds a complete new track; result.filter is the filter the run used.
HeartlineResult RunHeartlineStages(const TrackData& track, const HeartlineSettings& settings,
                                   ProgressFeedback* progress, HeartlineRun& run);

// Stage 6: writes the new vertex list into `track`: Bezr replaced, Segm
// resized to as many entries as NewVertices holds segments, keeping the
// existing ones, RASC emptied.
void WriteNewTrack(TrackData& track, const HeartlineRun& run);

}  // namespace cvqrn
