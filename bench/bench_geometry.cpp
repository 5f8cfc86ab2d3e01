// Throughput of Bezier evaluation and of the least-squares fitter at the
// point counts the heartline generation uses.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "fitting/bezier_fit.h"
#include "geometry/bezier.h"

namespace {

using cvqrn::BezierCurve;
using cvqrn::Vec3;

void BM_BezierPoint(benchmark::State& state) {
    const BezierCurve c{{0, 0, 0}, {10, 5, 0}, {30, 0, 10}, {20, 8, 4}};
    float t = 0.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(cvqrn::BezierPoint(c, t));
        t += 0.001f;
        if (t > 1.0f) t = 0.0f;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BezierPoint);

// n points along one arc of a climbing helix, with its true end tangents.
std::vector<Vec3> HelixPoints(int n) {
    std::vector<Vec3> pts;
    for (int i = 0; i < n; ++i) {
        const double a = 1.2 * i / (n - 1.0);
        pts.push_back({static_cast<float>(30.0 * std::cos(a)), static_cast<float>(4.0 * a),
                       static_cast<float>(30.0 * std::sin(a))});
    }
    return pts;
}

void BM_FitCurve(benchmark::State& state) {
    const auto n = static_cast<int16_t>(state.range(0));
    const std::vector<Vec3> pts = HelixPoints(n);
    const Vec3 t1 = cvqrn::lsf_Vnormalize(cvqrn::lsf_Vsub(pts[1], pts[0]));
    const Vec3 t2 = cvqrn::lsf_Vnormalize(
        cvqrn::lsf_Vsub(pts[static_cast<size_t>(n - 2)], pts[static_cast<size_t>(n - 1)]));
    for (auto _ : state) {
        double err = 0.0;
        benchmark::DoNotOptimize(cvqrn::lsf_FitCurve(pts, n, err, t1, t2, 1));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FitCurve)->Arg(7)->Arg(17);

}  // namespace

BENCHMARK_MAIN();
