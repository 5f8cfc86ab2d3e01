// A heartline run started from the window against the same run of the command
// line, on a 2000-segment input at the window's default settings. The window
// run is the Heartline click on the real window with the real core: the run
// with the bar rising in its tube, then the end analysis and the message.
// The command-line run is `cv-qrn-cli heartline IN OUT`, which also loads and
// saves. Both are wall-clock times (the window may wait for the display), the
// fastest of several runs.
//
// Run it offscreen (QT_QPA_PLATFORM=offscreen, the default here) and on a real
// X server, e.g. `QT_QPA_PLATFORM=xcb xvfb-run -a build/dev/bench/bench_window`
// (without QT_QPA_PLATFORM the benchmark stays offscreen even under Xvfb).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "samples/sample_tracks.h"
#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"
#include "ui/main_window.h"

namespace {

constexpr int kInputSegments = 2000;
constexpr int kRepetitions = 5;

// Answers every dialog with one path.
class FixedChooser final : public cvqrn::ui::FileChooser {
  public:
    explicit FixedChooser(std::string path) : path_(std::move(path)) {}
    std::optional<cvqrn::ui::ChooserAnswer> Choose(const cvqrn::ui::ChooserRequest&) override {
        return cvqrn::ui::ChooserAnswer{path_, "in.cvtrack", 0, 1};
    }

  private:
    std::string path_;
};

class NoBoxes final : public cvqrn::ui::MessageBoxPresenter {
  public:
    void Show(QWidget*, const cvqrn::ui::MessageBoxRequest& request) override {
        failure = request.text;
    }
    bool Ask(QWidget*, const cvqrn::ui::MessageBoxRequest& request) override {
        failure = request.text;
        return false;
    }
    std::string failure;
};

// Counts the paint events of one widget.
class PaintCounter final : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    int paints = 0;
};

double Seconds() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

template <typename Fn>
double MinSeconds(Fn&& fn) {
    double best = std::numeric_limits<double>::infinity();
    for (int r = 0; r < kRepetitions; ++r) {
        const double start = Seconds();
        fn();
        best = std::min(best, Seconds() - start);
    }
    return best;
}

void BM_WindowAgainstCli(benchmark::State& state) {
    cvqrn::testsupport::TempDir dir;
    const std::string input = dir.File("in.cvtrack");
    cvqrn::TrackData track = cvqrn::WindingTrack(kInputSegments);
    if (!cvqrn::SaveTrack(input, track).ok) {
        state.SkipWithError("cannot write the input track");
        return;
    }

    cvqrn::ui::CoreTrackOperations core;
    FixedChooser chooser(input);
    NoBoxes boxes;
    cvqrn::ui::MainWindow window(core, &chooser, &boxes);
    window.show();
    QApplication::processEvents();
    window.LoadClicked();
    PaintCounter counter;

    double windowRun = 0.0;
    double cliRun = 0.0;
    double quietRun = 0.0;
    for (auto _ : state) {
        // The same click with the bar hidden from the run, for comparison.
        window.ProgressWidget()->setUpdatesEnabled(false);
        quietRun = MinSeconds([&] {
            window.HeartlineClicked();
            QApplication::processEvents();
        });
        window.ProgressWidget()->setUpdatesEnabled(true);
        window.ProgressWidget()->installEventFilter(&counter);
        windowRun = MinSeconds([&] {
            window.HeartlineClicked();
            QApplication::processEvents();  // what the run left to draw is drawn
        });
        const std::vector<std::string> args{input, dir.File("out.cvtrack")};
        cliRun = MinSeconds([&] {
            std::ostringstream out;
            std::ostringstream err;
            if (cvqrn::cli::RunHeartline(args, out, err) != cvqrn::cli::kExitOk) {
                state.SkipWithError(err.str().c_str());
            }
        });
    }
    if (window.MessageLabel()->text() != QLatin1String("OK")) {
        state.SkipWithError(("the window's run failed: " + boxes.failure).c_str());
    }
    state.counters["window_ms"] = windowRun * 1e3;
    state.counters["cli_ms"] = cliRun * 1e3;
    state.counters["window_per_cli"] = windowRun / cliRun;
    state.counters["window_no_bar_ms"] = quietRun * 1e3;
    state.counters["bar_paints_per_run"] = counter.paints / kRepetitions;
}
BENCHMARK(BM_WindowAgainstCli)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // Offscreen unless another platform is asked for; the window keeps its
    // folders and position in a temporary folder, never in the user's settings.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
