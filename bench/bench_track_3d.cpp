// Frame time of the 3D window on the software renderer: run it on an X
// server with Mesa's OpenGL, e.g.
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/dev/bench/bench_track_3d
// Each iteration draws one frame of a 1100 x 720 window and waits for it to
// finish. The target is under 33 ms per frame. The time is the wall clock's;
// on a machine shared with other work the counter cpu_ms (the CPU time of
// the whole process per frame, Mesa's drawing threads included) says more.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <ctime>

#include "heartline/generator.h"
#include "samples/sample_tracks.h"
#include "frontend/profile_model.h"
#include "ui/track_3d_window.h"

namespace {

using cvqrn::TrackData;

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// A sample after its heartline run (the rebuilt rail and both heart paths),
// from outside (ride false) or from the rider's seat.
void BM_Frame(benchmark::State& state, TrackData (*make)(), bool ride) {
    TrackData loaded = make();
    TrackData rebuilt = loaded;
    const cvqrn::HeartlineSettings settings;
    cvqrn::GenerateHeartline(rebuilt, settings, nullptr);
    cvqrn::ui::Track3dWindow window;
    window.SetModel(cvqrn::ui::BuildProfileModel(cvqrn::ui::MakeProfileRequest(loaded, &rebuilt, settings)));
    window.resize(1100, 720);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        state.SkipWithError("no window");
        return;
    }
    window.SetCursor(40.0);
    window.View()->SetRide(ride);
    double cpu = 0.0;
    for (auto _ : state) {
        const double before = ProcessCpuMs();
        const double ms = window.View()->TimeOneFrame();
        cpu += ProcessCpuMs() - before;
        state.SetIterationTime(ms / 1000.0);
    }
    state.counters["cpu_ms"] = cpu / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.counters["vertices"] = static_cast<double>(window.Scene().track.VertexCount());
}

TrackData LongTrack() {
    return cvqrn::WindingTrack(2000);
}

BENCHMARK_CAPTURE(BM_Frame, family_outside, cvqrn::FamilyCoaster, false)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Frame, family_ride, cvqrn::FamilyCoaster, true)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Frame, loop_outside, cvqrn::LoopAndHelix, false)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Frame, loop_ride, cvqrn::LoopAndHelix, true)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Frame, long_2000_outside, LongTrack, false)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Frame, long_2000_ride, LongTrack, true)
    ->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
