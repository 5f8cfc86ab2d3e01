// A heartline run started from the window against the same run of the command
// line, on a 2000-segment input at the window's default settings, taking turns
// in one process. The window run is the Heartline click on the real window
// with the real core until the outcome is shown and drawn: the run on its
// thread with the bar rising in its tube, then the end analysis and the
// message; once with the ride profile window closed and once with it open
// (its profiles worked out and drawn too; the window is opened and has
// drawn the profile of the last run before the click, as a user sees it
// before clicking again). The command-line run is
// `cv-qrn-cli heartline IN OUT`, which also loads and saves. All are
// wall-clock times (the window may wait for the display), the fastest of
// several runs. Goal: each window run at most 1.2 times the command line's.
//
// BM_ProfileWindowOpens times opening the ride profile window on the same track.
//
// Run it offscreen (QT_QPA_PLATFORM=offscreen, the default here) and on a real
// X server, e.g. `QT_QPA_PLATFORM=xcb xvfb-run -a build/dev/bench/bench_window`
// (without QT_QPA_PLATFORM the benchmark stays offscreen even under Xvfb).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

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

// CPU seconds the whole process has used: on a busy machine the wall clock
// measures the other programs as well, the CPU time only this one.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

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

// The window on the real core, shown, with the 2000-segment track loaded.
struct WindowOnLongTrack {
    WindowOnLongTrack() : chooser(dir.File("in.cvtrack")), window(core, &chooser, &boxes) {}
    // False when the track cannot be written.
    bool Load() {
        if (!cvqrn::SaveTrack(Input(), track)) return false;
        window.show();
        QApplication::processEvents();
        window.LoadClicked();
        return true;
    }
    std::string Input() const { return dir.File("in.cvtrack"); }
    cvqrn::ui::RideProfileHookup* Hookup() { return window.findChild<cvqrn::ui::RideProfileHookup*>(); }

    cvqrn::testsupport::TempDir dir;
    cvqrn::TrackData track = cvqrn::WindingTrack(kInputSegments);
    cvqrn::ui::CoreTrackOperations core;
    FixedChooser chooser;
    NoBoxes boxes;
    cvqrn::ui::MainWindow window;
};

void BM_WindowAgainstCli(benchmark::State& state) {
    WindowOnLongTrack rig;
    if (!rig.Load()) {
        state.SkipWithError("cannot write the input track");
        return;
    }
    cvqrn::ui::MainWindow& window = rig.window;
    auto* hookup = rig.Hookup();
    PaintCounter counter;
    window.ProgressWidget()->installEventFilter(&counter);

    // The three runs take turns, so that each sees the same machine.
    double windowRun = kNever, profileRun = kNever, cliRun = kNever;
    int windowRuns = 0;
    const std::vector<std::string> args{rig.Input(), rig.dir.File("out.cvtrack")};
    for (auto _ : state) {
        for (int r = 0; r < kRepetitions; ++r) {
            if (hookup->Window() != nullptr) hookup->Window()->hide();
            QApplication::processEvents();
            windowRun = std::min(windowRun, Timed([&] { RunFromThePanel(window); }));
            windowRuns += 1;
            // Opened and showing the profile of the last load or run, as
            // a user sees it before clicking.
            hookup->Open();
            while (hookup->Working()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
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
    if (!rig.boxes.failure.empty() || !window.Logic().TrackModified()) {
        state.SkipWithError(("the window's run failed: " + rig.boxes.failure).c_str());
    }
    // The part of the open-window run that is the profiles' figures (worked
    // out on the run's thread), the rest being their drawing.
    const cvqrn::ui::ProfileRequest request = cvqrn::ui::MakeProfileRequest(
        window.Logic().LoadedTrack(), &window.Logic().WorkTrack(), cvqrn::HeartlineSettings{});
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

// Opening the ride profile window on the same track after a run: the
// profiles of both tracks worked out on the thread pool, the plots filled
// and painted; the first time (the window made as well) and again (goal:
// under 0.3 s). Besides the wall clock, the CPU time the process used: on a
// busy machine the wall clock counts the other programs too.
void BM_ProfileWindowOpens(benchmark::State& state) {
    WindowOnLongTrack rig;
    if (!rig.Load()) {
        state.SkipWithError("cannot write the input track");
        return;
    }
    RunFromThePanel(rig.window);
    auto* hookup = rig.Hookup();
    // Opened, its profile worked out and shown, and drawn.
    const auto open = [&] {
        hookup->Open();
        while (hookup->Working()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QApplication::processEvents();
    };
    const double firstCpu = CpuSeconds();
    const double first = Timed(open);
    const double firstCpuUsed = CpuSeconds() - firstCpu;
    double again = kNever, againCpu = kNever;
    for (auto _ : state) {
        for (int r = 0; r < kRepetitions; ++r) {
            hookup->Window()->close();
            hookup->Refresh(true);  // a profile to work out again on opening
            const double cpu = CpuSeconds();
            again = std::min(again, Timed(open));
            againCpu = std::min(againCpu, CpuSeconds() - cpu);
        }
    }
    const cvqrn::ui::ProfileModel& model = hookup->Window()->Model();
    if (!model.rebuilt || !*model.rebuilt) state.SkipWithError("no rebuilt profile");
    state.counters["first_open_ms"] = first * 1e3;
    state.counters["first_open_cpu_ms"] = firstCpuUsed * 1e3;
    state.counters["open_ms"] = again * 1e3;
    state.counters["open_cpu_ms"] = againCpu * 1e3;
    state.counters["samples_per_track"] = static_cast<double>(model.loaded->samples.size());
}
BENCHMARK(BM_ProfileWindowOpens)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

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
