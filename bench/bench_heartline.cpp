// Time and memory of one heartline run on a long track: 2000 input segments
// rebuilt as 2400 segments at precision 6 (14,400 samples, close to the
// 16-bit limit of the progress count).
//
// Every run has to walk the input track twice point by point (the length and
// the sampling walk, 2 x 1001 Bezier points per input segment); the benchmark
// times that bare walk in the same process and reports the run's time as a
// multiple of it ("ratio"), together with the largest amount of heap memory
// the run held at once ("peak_heap_MB") and the process's peak resident size.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <new>

#include "geometry/bezier.h"
#include "heartline/generator.h"
#include "profile/ride_profile.h"
#include "samples/sample_tracks.h"
#include "model/track_record.h"

namespace {

// Heap accounting: every allocation carries its size in a header so that the
// current and the peak number of live bytes are known.
std::atomic<size_t> g_liveBytes{0};
std::atomic<size_t> g_peakBytes{0};
constexpr size_t kHeader = alignof(std::max_align_t);

void* CountedAlloc(size_t size) {
    void* block = std::malloc(size + kHeader);
    if (block == nullptr) throw std::bad_alloc();
    *static_cast<size_t*>(block) = size;
    const size_t live = g_liveBytes.fetch_add(size, std::memory_order_relaxed) + size;
    size_t peak = g_peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !g_peakBytes.compare_exchange_weak(peak, live)) {
    }
    return static_cast<char*>(block) + kHeader;
}

void CountedFree(void* p) noexcept {
    if (p == nullptr) return;
    void* block = static_cast<char*>(p) - kHeader;
    g_liveBytes.fetch_sub(*static_cast<size_t*>(block), std::memory_order_relaxed);
    std::free(block);
}

}  // namespace

void* operator new(size_t size) {
    return CountedAlloc(size);
}
void* operator new[](size_t size) {
    return CountedAlloc(size);
}
void operator delete(void* p) noexcept {
    CountedFree(p);
}
void operator delete[](void* p) noexcept {
    CountedFree(p);
}
void operator delete(void* p, size_t) noexcept {
    CountedFree(p);
}
void operator delete[](void* p, size_t) noexcept {
    CountedFree(p);
}

namespace {

using cvqrn::TrackData;
using cvqrn::WindingTrack;

constexpr int kInputSegments = 2000;
constexpr int16_t kOutputSegments = 2400;
constexpr int16_t kPrecision = 6;

// The points every run must evaluate: the length's and the sampling walk's
// per input segment, with t as a single as the run uses it.
double BareWalk(const TrackData& track) {
    double sum = 0.0;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i + 1 < track.Bezr.VertexCount; ++i) {
            const cvqrn::BezierCurve c = cvqrn::SegmentRecord(track, i);
            for (int k = 0; k <= cvqrn::kWalkStepsPerSegment; ++k) {
                const float t =
                    static_cast<float>(static_cast<double>(k) / cvqrn::kWalkStepsPerSegment);
                sum += static_cast<double>(cvqrn::BezierPoint(c, t).x);
            }
        }
    }
    return sum;
}

// CPU time of this thread: the machine may be busy with other work, and the
// ratio should not depend on it.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <typename Fn>
double MinSeconds(int repetitions, Fn&& fn) {
    double best = std::numeric_limits<double>::infinity();
    for (int r = 0; r < repetitions; ++r) {
        const double start = ThreadSeconds();
        fn();
        best = std::min(best, ThreadSeconds() - start);
    }
    return best;
}

void BM_HeartlineLongTrack(benchmark::State& state) {
    const TrackData input = WindingTrack(kInputSegments);
    double fastestRun = std::numeric_limits<double>::infinity();
    size_t peakHeap = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TrackData work = input;
        const size_t before = g_liveBytes.load();
        g_peakBytes.store(before);
        state.ResumeTiming();

        const double start = ThreadSeconds();
        cvqrn::HeartlineSettings settings;
        settings.segments = kOutputSegments;
        settings.precision = kPrecision;
        const cvqrn::HeartlineResult result = cvqrn::GenerateHeartline(work, settings, nullptr);
        const double took = ThreadSeconds() - start;

        if (!result) state.SkipWithError(result.message.c_str());
        fastestRun = std::min(fastestRun, took);
        peakHeap = std::max(peakHeap, g_peakBytes.load() - before);
    }
    double checksum = 0.0;
    const double walk = MinSeconds(5, [&] { checksum += BareWalk(input); });
    benchmark::DoNotOptimize(checksum);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["samples"] = kOutputSegments * kPrecision + 1;
    state.counters["run_ms"] = fastestRun * 1e3;
    state.counters["walk_ms"] = walk * 1e3;
    state.counters["ratio"] = fastestRun / walk;
    state.counters["peak_heap_MB"] = static_cast<double>(peakHeap) / (1024.0 * 1024.0);
    state.counters["max_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_HeartlineLongTrack)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The ride profile of the same 2000-segment track at 0.5 m, with the heart on
// the rail and 1.04 m off it, against one heartline run on it ("ratio" must
// stay below 0.1).
void BM_ProfileLongTrack(benchmark::State& state) {
    const TrackData input = WindingTrack(kInputSegments);
    cvqrn::ProfileSettings settings;
    settings.heartline = static_cast<double>(state.range(0)) / 100.0;
    double fastestProfile = std::numeric_limits<double>::infinity();
    size_t samples = 0;
    for (auto _ : state) {
        const double start = ThreadSeconds();
        const cvqrn::RideProfile profile = cvqrn::ComputeRideProfile(input, settings);
        fastestProfile = std::min(fastestProfile, ThreadSeconds() - start);
        if (!profile) state.SkipWithError(profile.message.c_str());
        samples = profile.samples.size();
    }
    const double run = MinSeconds(3, [&] {
        TrackData work = input;
        cvqrn::HeartlineSettings heartline;
        heartline.segments = kOutputSegments;
        heartline.precision = kPrecision;
        benchmark::DoNotOptimize(cvqrn::GenerateHeartline(work, heartline, nullptr));
    });
    state.counters["samples"] = static_cast<double>(samples);
    state.counters["profile_ms"] = fastestProfile * 1e3;
    state.counters["run_ms"] = run * 1e3;
    state.counters["ratio"] = fastestProfile / run;
}
BENCHMARK(BM_ProfileLongTrack)->Arg(0)->Arg(104)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Times the smooth rebuild of `input` against the default run with the same
// settings: the fastest of the benchmark's smooth runs, the fastest of three
// default ones and their ratio. Returns whether the smooth rebuild succeeded.
bool SmoothAgainstDefault(benchmark::State& state, const TrackData& input,
                          const cvqrn::HeartlineSettings& settings) {
    const auto runOnce = [&](bool smooth) {
        TrackData work = input;
        cvqrn::HeartlineSettings run = settings;
        run.smooth = smooth;
        return cvqrn::GenerateHeartline(work, run, nullptr);
    };
    double fastestSmooth = std::numeric_limits<double>::infinity();
    cvqrn::HeartlineResult result;
    for (auto _ : state) {
        const double start = ThreadSeconds();
        result = runOnce(true);
        fastestSmooth = std::min(fastestSmooth, ThreadSeconds() - start);
    }
    const double standard = MinSeconds(3, [&] { benchmark::DoNotOptimize(runOnce(false)); });
    state.counters["smooth_ms"] = fastestSmooth * 1e3;
    state.counters["default_ms"] = standard * 1e3;
    state.counters["ratio"] = fastestSmooth / standard;
    return static_cast<bool>(result);
}

// The smooth rebuild of the same track with the same settings against the
// default run ("ratio" must stay at 3 or below).
void BM_SmoothRebuildLongTrack(benchmark::State& state) {
    cvqrn::HeartlineSettings settings;
    settings.segments = kOutputSegments;
    settings.precision = kPrecision;
    if (!SmoothAgainstDefault(state, WindingTrack(kInputSegments), settings)) {
        state.SkipWithError("the smooth rebuild refused the long track");
    }
}
BENCHMARK(BM_SmoothRebuildLongTrack)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The smooth rebuild of a track with loops, which the long track has none
// of: the loop-and-helix sample at 400 segments at the window's default
// settings. Through a loop's lean the rebuild searches the lean's vertex
// places and rolls and weighs the fits of coarser counts, so this is the
// slowest kind of run a designer meets.
void BM_SmoothRebuildLoops(benchmark::State& state) {
    cvqrn::HeartlineSettings settings;
    settings.segments = 400;
    if (!SmoothAgainstDefault(state, cvqrn::LoopAndHelix(), settings)) {
        state.SkipWithError("the smooth rebuild refused the loop-and-helix sample");
    }
}
BENCHMARK(BM_SmoothRebuildLoops)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The smooth rebuild refusing a track with a loop: the loop-and-helix sample
// at 22 segments (17 m on average) cannot hold the hearts, and before the
// refusal every fit is tried (its fits come no nearer than 8 cm, so no
// coarser count is). The time a designer waits to be told no, against the
// default run of the same settings.
void BM_SmoothRefusalLoop(benchmark::State& state) {
    cvqrn::HeartlineSettings settings;
    settings.segments = 22;
    settings.precision = 4;
    settings.heartline = 0.9;
    settings.startspeed = 25.0;
    settings.endspeed = 21.0;
    settings.filter = 7;
    state.counters["refused"] =
        SmoothAgainstDefault(state, cvqrn::LoopAndHelix(), settings) ? 0.0 : 1.0;
}
BENCHMARK(BM_SmoothRefusalLoop)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
