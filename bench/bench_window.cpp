// A heartline run started from the window against the same run of the command
// line, on a 2000-segment input at the window's default settings, taking turns
// in one process. The window run is the Heartline click on the real window
// with the real core until the outcome is shown and drawn: the run on its
// thread with the bar rising in its tube, then the end analysis and the
// message; once with the ride profile window closed and once with it open
// (its profiles worked out and drawn too). The command-line run is
// `cv-qrn-cli heartline IN OUT`, which also loads and saves. All are
// wall-clock times (the window may wait for the display), the fastest of
// several runs. Goal: each window run at most 1.2 times the command line's.
//
// Run it offscreen (QT_QPA_PLATFORM=offscreen, the default here) and on a real
// X server, e.g. `QT_QPA_PLATFORM=xcb xvfb-run -a build/dev/bench/bench_window`
// (without QT_QPA_PLATFORM the benchmark stays offscreen even under Xvfb).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
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
#include "ui/profile_window.h"

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

constexpr double kNever = std::numeric_limits<double>::infinity();

template <typename Fn>
double Timed(Fn&& fn) {
    const double start = Seconds();
    fn();
    return Seconds() - start;
}

// A click on Heartline until the window shows the outcome and has drawn what
// it left to draw (the bar, the message, the profile window when it is open).
void RunFromThePanel(cvqrn::ui::MainWindow& window) {
    QEventLoop wait;
    const QMetaObject::Connection done = QObject::connect(
        &window, &cvqrn::ui::MainWindow::runFinished, &wait, &QEventLoop::quit);
    window.HeartlineClicked();
    if (window.Running()) wait.exec();
    QObject::disconnect(done);
    QApplication::processEvents();
}

void BM_WindowAgainstCli(benchmark::State& state) {
    cvqrn::testsupport::TempDir dir;
    const std::string input = dir.File("in.cvtrack");
    cvqrn::TrackData track = cvqrn::WindingTrack(kInputSegments);
    if (!cvqrn::SaveTrack(input, track)) {
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
    auto* hookup = window.findChild<cvqrn::ui::RideProfileHookup*>();
    PaintCounter counter;
    window.ProgressWidget()->installEventFilter(&counter);

    // The three runs take turns, so that each sees the same machine.
    double windowRun = kNever, profileRun = kNever, cliRun = kNever;
    int windowRuns = 0;
    const std::vector<std::string> args{input, dir.File("out.cvtrack")};
    for (auto _ : state) {
        for (int r = 0; r < kRepetitions; ++r) {
            if (hookup->Window() != nullptr) hookup->Window()->hide();
            QApplication::processEvents();
            windowRun = std::min(windowRun, Timed([&] { RunFromThePanel(window); }));
            windowRuns += 1;
            hookup->Open();
            QApplication::processEvents();
            profileRun = std::min(profileRun, Timed([&] { RunFromThePanel(window); }));
            cliRun = std::min(cliRun, Timed([&] {
                std::ostringstream out;
                std::ostringstream err;
                if (cvqrn::cli::RunHeartline(args, out, err) != cvqrn::cli::kExitOk) {
                    state.SkipWithError(err.str().c_str());
                }
            }));
        }
    }
    if (!boxes.failure.empty() || !window.Logic().TrackModified()) {
        state.SkipWithError(("the window's run failed: " + boxes.failure).c_str());
    }
    // The part of the open-window run that is the profiles' figures (worked
    // out on the run's thread), the rest being their drawing.
    cvqrn::ui::ProfileRequest request;
    request.loaded = &window.Logic().LoadedTrack();
    request.rebuilt = &window.Logic().WorkTrack();
    double profileFigures = kNever;
    for (int r = 0; r < kRepetitions; ++r) {
        profileFigures = std::min(profileFigures, Timed([&] {
            benchmark::DoNotOptimize(cvqrn::ui::BuildProfileModel(request));
        }));
    }
    state.counters["profile_figures_ms"] = profileFigures * 1e3;
    state.counters["window_ms"] = windowRun * 1e3;
    state.counters["window_profile_open_ms"] = profileRun * 1e3;
    state.counters["cli_ms"] = cliRun * 1e3;
    state.counters["window_per_cli"] = windowRun / cliRun;
    state.counters["window_profile_open_per_cli"] = profileRun / cliRun;
    state.counters["bar_paints_per_run"] = counter.paints / (2.0 * windowRuns);
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
