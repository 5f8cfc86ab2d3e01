#include "heartline/valley.h"

#include <cmath>

#include "heartline/heartline_run.h"
#include "heartline/settings.h"
#include "text/format.h"

namespace cvqrn {

namespace {

// Runs the sampling stage; false when the run would refuse the settings or the track.
bool Sample(const TrackData& track, const HeartlineSettings& settings, double startspeed,
            HeartlineRun& run, HeartlineResult& result) {
    HeartlineSettings trial = settings;
    trial.startspeed = startspeed;
    if (CheckHeartlineSettings(trial)) return false;
    double length = 0.0;
    if (!CheckHeartlineTrack(track, length)) return false;
    SetUpRun(run, trial, length, nullptr);
    result = SampleTrack(run, track);
    return true;
}

}  // namespace

std::optional<ValleyStop> FindValley(const TrackData& track, const HeartlineSettings& settings,
                                     double startspeed) {
    HeartlineRun run;
    HeartlineResult result;
    if (!Sample(track, settings, startspeed, run, result) ||
        result.status != HeartlineStatus::Valleyed) {
        return std::nullopt;
    }
    // Samples 0 .. samplesTaken - 1 were reached; the next one was not. The
    // distance is the one the run's own message names.
    ValleyStop stop;
    stop.distance = run.StopArc;
    const Vec3 reached = run.SamplesTaken > 0
                             ? run.SamplePos[static_cast<size_t>(run.SamplesTaken) - 1]
                             : track.Bezr.Vertices[0].Pos;
    stop.x = static_cast<double>(reached.x);
    stop.y = static_cast<double>(reached.y);
    stop.z = static_cast<double>(reached.z);
    return stop;
}

bool ClearsEveryHill(const TrackData& track, const HeartlineSettings& settings, double startspeed) {
    HeartlineRun run;
    HeartlineResult result;
    return Sample(track, settings, startspeed, run, result) &&
           result.status != HeartlineStatus::Valleyed;
}

std::optional<double> AdviseStartSpeed(const TrackData& track, const HeartlineSettings& settings) {
    const auto clears = [&](long tenths) {
        return ClearsEveryHill(track, settings, static_cast<double>(tenths) / 10.0);
    };
    // lo: a speed known to valley (or 0); hi: one known to clear.
    long lo = 0;
    if (std::isfinite(settings.startspeed) && settings.startspeed > 0.0 &&
        settings.startspeed < kMaxAdvisedStartSpeed) {
        lo = static_cast<long>(std::floor(settings.startspeed * 10.0));
    }
    if (clears(lo)) {
        if (lo == 0) return 0.0;
        lo = 0;
        if (clears(lo)) return 0.0;
    }
    const auto limit = static_cast<long>(kMaxAdvisedStartSpeed * 10.0);
    long hi = lo + 10;
    while (!clears(hi)) {
        if (hi >= limit) return std::nullopt;
        lo = hi;
        hi = std::min(limit, 2 * hi);
    }
    while (hi - lo > 1) {
        const long mid = lo + (hi - lo) / 2;
        if (clears(mid)) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return static_cast<double>(hi) / 10.0;
}

std::string ValleyAdviceText(double startspeed) {
    return "With V in at least " + FormatFixed(startspeed, 1) + " m/s the train clears every hill";
}

}  // namespace cvqrn
