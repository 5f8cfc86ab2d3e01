// The 3D view's mesh for the benchmarks' long track (2000 segments of about
// 8 m): the profile is computed once, then the scene built from it, as the
// window and the page do after a run and on every switch of the colouring.
// The target is under 0.2 s.
#include <benchmark/benchmark.h>

#include "profile/ride_profile.h"
#include "samples/sample_tracks.h"
#include "scene/track_scene.h"

namespace {

void BM_BuildTrackScene(benchmark::State& state) {
    const cvqrn::TrackData track = cvqrn::WindingTrack(static_cast<int>(state.range(0)));
    const cvqrn::RideProfile profile = cvqrn::ComputeRideProfile(track, {0.0, 14.3, 12.9});
    cvqrn::scene::SceneInput input;
    input.track = &profile;
    input.drawnHeart = &profile;
    size_t vertices = 0;
    for (auto _ : state) {
        const cvqrn::scene::TrackScene scene = cvqrn::scene::BuildTrackScene(input);
        vertices = scene.track.VertexCount();
        benchmark::DoNotOptimize(vertices);
    }
    state.counters["samples"] = static_cast<double>(profile.samples.size());
    state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_BuildTrackScene)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
