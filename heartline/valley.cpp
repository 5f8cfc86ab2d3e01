#include "heartline/valley.h"

#include <algorithm>
#include <cmath>

#include "heartline/heartline_run.h"
#include "heartline/settings.h"
#include "text/format.h"

namespace cvqrn {

namespace {

// The run's refusal of the settings with `startspeed` in place of theirs, or
// of the track; Ok when it can take both (`run` is then set up).
Result SetUp(const TrackData& track, const HeartlineSettings& settings, double startspeed,
             HeartlineRun& run) {
    HeartlineSettings trial = settings;
    trial.startspeed = startspeed;
    if (Result check = CheckHeartlineSettings(trial); !check) return check;
    double length = 0.0;
    if (Result check = CheckHeartlineTrack(track, length); !check) return check;
    SetUpRun(run, trial, length, nullptr);
    return {};
}

// The sampling stage at `startspeed`: Ok when the train reaches every
// sample, Valleyed, or the run's refusal.
Result Sample(const TrackData& track, const HeartlineSettings& settings, double startspeed,
              HeartlineRun& run) {
    if (Result setUp = SetUp(track, settings, startspeed, run); !setUp) return setUp;
    return SampleTrack(run, track);
}

bool ClearsEveryHill(const TrackData& track, const HeartlineSettings& settings, double startspeed) {
    HeartlineRun run;
    return static_cast<bool>(Sample(track, settings, startspeed, run));
}

}  // namespace

ValleyResult FindValley(const TrackData& track, const HeartlineSettings& settings,
                        double startspeed) {
    HeartlineRun run;
    ValleyResult result{Sample(track, settings, startspeed, run)};
    if (result.status != Status::Valleyed) return result;
    // Samples 0 .. samplesTaken - 1 were reached; the next one was not. The
    // distance is the one the run's own message names.
    ValleyStop& stop = result.stop;
    stop.distance = run.StopArc;
    const Vec3 reached = run.SamplesTaken > 0
                             ? run.SamplePos[static_cast<size_t>(run.SamplesTaken) - 1]
                             : track.Bezr.Vertices[0].Pos;
    stop.x = static_cast<double>(reached.x);
    stop.y = static_cast<double>(reached.y);
    stop.z = static_cast<double>(reached.z);
    return result;
}

StartSpeedAdvice AdviseStartSpeed(const TrackData& track, const HeartlineSettings& settings) {
    {
        // Settings or a track the run refuses have no advice, whatever the speed.
        HeartlineRun run;
        if (Result setUp = SetUp(track, settings, 0.0, run); !setUp) return {std::move(setUp)};
    }
    const auto clears = [&](long tenths) {
        return ClearsEveryHill(track, settings, static_cast<double>(tenths) / 10.0);
    };
    const auto advise = [](long tenths) {
        StartSpeedAdvice advice;
        advice.startspeed = static_cast<double>(tenths) / 10.0;
        return advice;
    };
    // lo: a speed known to valley (or 0); hi: one known to clear.
    long lo = 0;
    if (std::isfinite(settings.startspeed) && settings.startspeed > 0.0 &&
        settings.startspeed < kMaxAdvisedStartSpeed) {
        lo = static_cast<long>(std::floor(settings.startspeed * 10.0));
    }
    if (clears(lo)) {
        if (lo == 0) return advise(0);
        lo = 0;
        if (clears(lo)) return advise(0);
    }
    const auto limit = static_cast<long>(kMaxAdvisedStartSpeed * 10.0);
    long hi = lo + 10;
    while (!clears(hi)) {
        if (hi >= limit) {
            return {Failure(Status::Valleyed, "No start speed up to " +
                                                  FormatFixed(kMaxAdvisedStartSpeed, 1) +
                                                  " m/s clears every hill: the end speed is too "
                                                  "low for the last climb.")};
        }
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
    return advise(hi);
}

std::string ValleyAdviceText(double startspeed) {
    return "With V in at least " + FormatFixed(startspeed, 1) + " m/s the train clears every hill";
}

}  // namespace cvqrn
