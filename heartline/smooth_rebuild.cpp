// The smooth rebuild's driver (see smooth_rebuild.h for its stages): the
// upright planes of the drawn track the kept rail is held in, and the new
// vertices written from that rail (SmoothRebuild). The fits it tries with a
// segment count and the one it keeps are the fitter's (FitSmooth, in
// smooth_fitter.h; its stages in smooth_fitter_stages.cpp). The stages they
// call live by topic in the smooth_*.h sources: the tuning, the arithmetic in
// doubles and its jets, the loaded path, the up directions, the vertex
// places, the rail fit, the finish and the ride readings.
//
// Every number here is a double; the only roundings to single are the new
// vertices' coordinates and rolls, as the file stores them. Eigen runs without
// its vectorised kernels so that every build sums in the same order (see
// smooth_eigen.h).
#include "heartline/smooth_rebuild.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "heartline/heartline_run.h"
#include "heartline/smooth_finish.h"
#include "heartline/smooth_fitter.h"
#include "heartline/smooth_math.h"
#include "heartline/smooth_path.h"
#include "heartline/smooth_places.h"
#include "heartline/smooth_rail_fit.h"
#include "heartline/smooth_readings.h"
#include "heartline/smooth_tuning.h"
#include "heartline/smooth_up.h"
#include "heartline/track_check.h"
#include "portable_math/portable_math.h"
#include "text/format.h"

namespace cvqrn {

namespace {

using namespace smooth;

// Steps the run's progress up to `share` of its total.
void ProgressTo(HeartlineRun& run, double share) {
    const auto goal = static_cast<int32_t>(share * run.ProgressTotal);
    while (run.ProgressDone < goal) StepProgress(run);
}

// An upright plane: the points x with Dot(normal, x) == offset, the normal
// level.
struct UprightPlane {
    D3 normal;
    double offset = 0.0;
};

// A run of input segments growing from `first`, and the upright plane all
// its points and handles lie in (see kPlaneRoundings): the one through the
// first point and a point at least half as far across the level as the
// furthest, at the points' mean offset. The plane is found anew only where
// the run's span doubles, so that a long run costs time in proportion to its
// length.
class GrowingStretch {
public:
    GrowingStretch(const PathWalk& walk, size_t first)
        : walk_(walk), first_(first), last_(first), origin_(walk.cubics[first].p0), far_(origin_) {}
    // Takes in segment `last`, the next one: false where the run no longer
    // lies in one upright plane.
    bool Take(size_t last) {
        last_ = last;
        const Cubic& c = walk_.cubics[last];
        for (const D3& q : {c.p0, c.p1, c.p2, c.p3}) {
            const double across = portable::hypot(q.x - origin_.x, q.z - origin_.z);
            if (across > span_) {
                span_ = across;
                far_ = q;
            }
            largest_ = std::max({largest_, std::abs(q.x), std::abs(q.y), std::abs(q.z)});
        }
        if (!(span_ >= kLeastPlaneSpan)) return true;  // too short to tell yet
        if (!HasPlane() || span_ >= 2.0 * chord_) {
            Refit();
        } else {
            for (const D3& q : {c.p0, c.p1, c.p2, c.p3}) Add(Dot(normal_, q));
        }
        if (Lies()) return true;
        if (!(chord_ < span_)) return false;
        Refit();
        return Lies();
    }
    bool HasPlane() const { return chord_ > 0.0; }
    UprightPlane Plane() const { return {normal_, sum_ / count_}; }

private:
    void Refit() {
        chord_ = span_;
        normal_ = Unit(D3{origin_.z - far_.z, 0.0, far_.x - origin_.x});
        sum_ = 0.0;
        count_ = 0.0;
        lowest_ = std::numeric_limits<double>::infinity();
        highest_ = -lowest_;
        for (size_t j = first_; j <= last_; ++j) {
            const Cubic& c = walk_.cubics[j];
            for (const D3& q : {c.p0, c.p1, c.p2, c.p3}) Add(Dot(normal_, q));
        }
    }
    void Add(double offset) {
        sum_ += offset;
        count_ += 1.0;
        lowest_ = std::min(lowest_, offset);
        highest_ = std::max(highest_, offset);
    }
    bool Lies() const {
        const double mean = sum_ / count_;
        const double tolerance = kPlaneRoundings * kSingleRounding * largest_;
        return highest_ - mean <= tolerance && mean - lowest_ <= tolerance;
    }
    const PathWalk& walk_;
    size_t first_, last_;
    D3 origin_, far_, normal_;
    double span_ = 0.0, largest_ = 1.0, chord_ = 0.0;
    double sum_ = 0.0, count_ = 0.0, lowest_ = 0.0, highest_ = 0.0;
};

// Per input segment, the stretch it belongs to (-1: none) and per stretch
// its plane: the longest runs of segments from the start on that lie in one
// upright plane (a lift hill, a straight drop, a camelback drawn without a
// sideways bend).
struct DrawnPlanes {
    std::vector<int> stretch;
    std::vector<UprightPlane> planes;
};
DrawnPlanes FindDrawnPlanes(const PathWalk& walk) {
    DrawnPlanes found;
    const size_t count = walk.cubics.size();
    found.stretch.assign(count, -1);
    size_t first = 0;
    while (first < count) {
        GrowingStretch run(walk, first);
        size_t end = first;
        UprightPlane plane;
        for (size_t last = first; last < count && run.Take(last); ++last) {
            if (run.HasPlane()) {
                plane = run.Plane();
                end = last + 1;
            }
        }
        if (end == first) {
            ++first;
            continue;
        }
        const int index = static_cast<int>(found.planes.size());
        for (size_t j = first; j < end; ++j) found.stretch[j] = index;
        found.planes.push_back(plane);
        first = end;
    }
    return found;
}

// Where the loaded path runs in one upright plane, the hearts the fit holds
// on it lie in that plane, and so would a rail without roll under them. The
// finish holds the hearts' places, which a sideways wiggle of the rail over
// about h x slope leaves almost where they are (the level frame turns with
// the wiggle and swings the heart back), so on pitched track it may leave
// such wiggles at the joins, and the vertex rolls, taken in the level frame
// of the wiggling rail, follow them: random case_129 at four times its
// segments had sideways kicks of 2e-4 rad at its drawn joins, case_091 a
// roll spike of 1.6e-4 rad, and both rode a felt lateral force where the
// drawn track has none. So each vertex whose segments on both
// sides lie wholly in one such stretch, run short of the vertical, and whose
// rolls about it stay under kPlaneRoll, loses its roll and is put in the
// plane, its direction along it; within kPlaneEase metres of a vertex left
// as fitted only a share of that, so that neither the rail nor the heart
// steps sideways there. Returns per vertex the plane's normal (zero where
// none) for the writing.
std::vector<D3> KeepInDrawnPlanes(const PathWalk& walk, double heartline, RailFit& fit) {
    const size_t vertices = fit.point.size();
    std::vector<D3> normals(vertices);
    const DrawnPlanes drawn = FindDrawnPlanes(walk);
    if (drawn.planes.empty()) return normals;
    const size_t last = vertices - 1;
    // Per vertex: its stretch, or -1 where it is left as fitted, and the
    // level frame of its direction laid into the plane.
    std::vector<int> stretch(vertices, -1);
    std::vector<LevelFrame> frames(vertices);
    for (size_t k = 0; k < vertices; ++k) {
        const size_t before = k > 0 ? k - 1 : k, after = k < last ? k + 1 : k;
        const int from = drawn.stretch[AsIndex(Locate(walk, fit.places[before]).segment)];
        const int to = drawn.stretch[AsIndex(Locate(walk, fit.places[after]).segment)];
        if (from < 0 || from != to) continue;
        bool kept = true;
        for (size_t j = k > 1 ? k - 2 : 0; j <= std::min(last, k + 2); ++j) {
            kept = kept && std::abs(fit.rolls[j]) <= kPlaneRoll;
        }
        for (size_t i = before; i < after; ++i) {
            kept = kept && std::all_of(fit.steep[i].begin(), fit.steep[i].end(),
                                       [](double x) { return x < 1.0; });
        }
        const D3& n = drawn.planes[AsIndex(from)].normal;
        if (kept && LevelFrameOf(fit.direction[k] - Dot(n, fit.direction[k]) * n, frames[k])) {
            stretch[k] = from;
        }
    }
    // The share of the move: eased in over kPlaneEase metres from each vertex
    // left as fitted.
    std::vector<double> share(vertices, 0.0);
    double reach = std::numeric_limits<double>::infinity();
    for (size_t k = 0; k < vertices; ++k) {
        reach = stretch[k] < 0 ? 0.0 : reach + (k > 0 ? fit.places[k] - fit.places[k - 1] : 0.0);
        share[k] = reach;
    }
    reach = std::numeric_limits<double>::infinity();
    for (size_t k = vertices; k-- > 0;) {
        reach = stretch[k] < 0 ? 0.0 : reach + (k < last ? fit.places[k + 1] - fit.places[k] : 0.0);
        share[k] = SmoothStep(std::min(share[k], reach) / kPlaneEase);
    }
    // The eased roll, and the rail's offset from the plane that puts the
    // heart in it under that roll.
    std::vector<double> offset(vertices, 0.0);
    for (size_t k = 0; k < vertices; ++k) {
        if (stretch[k] < 0) continue;
        const D3& n = drawn.planes[AsIndex(stretch[k])].normal;
        fit.rolls[k] = static_cast<double>(static_cast<float>((1.0 - share[k]) * fit.rolls[k]));
        offset[k] = -heartline * Dot(n, UpOf(frames[k], fit.rolls[k]));
    }
    std::vector<D3> moved(fit.direction);
    for (size_t k = 0; k < vertices; ++k) {
        if (stretch[k] < 0) continue;
        const UprightPlane& plane = drawn.planes[AsIndex(stretch[k])];
        const D3& n = plane.normal;
        // The slope of the offset along the stretch, and of the share.
        const size_t before = k > 0 && stretch[k - 1] == stretch[k] ? k - 1 : k;
        const size_t after = k < last && stretch[k + 1] == stretch[k] ? k + 1 : k;
        const double slope = after > before ? (offset[after] - offset[before]) /
                                                  (fit.places[after] - fit.places[before])
                                            : 0.0;
        const size_t b = k > 0 ? k - 1 : k, a = k < last ? k + 1 : k;
        const double easing = (share[a] - share[b]) / (fit.places[a] - fit.places[b]);
        const double gap = plane.offset + offset[k] - Dot(n, fit.point[k]);
        const D3& d = fit.direction[k];
        moved[k] = d + (share[k] * (slope - Dot(n, d)) + easing * gap) * n;
        fit.point[k] = fit.point[k] + (share[k] * gap) * n;
        normals[k] = n;
    }
    fit.direction = std::move(moved);
    return normals;
}

// The refusal of a track whose hearts the kept fit lets stray: where a fit
// held them but jolted the riders, the jolt; else the stray, with the likelier
// cause.
Result StrayRefusal(const SmoothOutcome& outcome, int segments, double length, double heartline) {
    // A loop taken with the hearts below the rail is named apart: through
    // its vertical the rail's level frame turns over, and the riders' tilt
    // in the lean adds to that turn instead of taking from it, so their
    // roll there has to turn faster than the eased roll between vertices
    // can follow, whatever the budget. Neither fewer segments nor more
    // mend that.
    const bool hanging = heartline < 0.0;
    const std::string hangingLoop =
        "it runs through the vertical of a loop with the hearts below the rail, where their "
        "roll would have to turn faster than the new vertices can ease it";
    const Stray& gentlest = outcome.gentlest;
    const Stray& closest = outcome.closest;
    if (std::isfinite(gentlest.distance)) {
        const std::string jolt =
            "The smooth rebuild cannot give this track a smooth ride with " +
            std::to_string(segments) + " segments: near " + FormatFixed(gentlest.at, 1) +
            " m along it the new rail would jolt the riders by " +
            FormatFixed(gentlest.distance, 0) + " g";
        return Failure(Status::NumericalBlowUp,
                       hanging && outcome.gentlestInLean
                           ? jolt + " (" + hangingLoop + "). The default rebuild can take it."
                           : jolt + ". Fewer segments may ride smoothly; the default rebuild "
                                    "can take it.");
    }
    // With segments this long on average the budget itself is the
    // likelier cause, and the way out is more of them.
    const double mean = length / segments;
    const std::string why =
        mean > kLongSegmentHint
            ? "its " + std::to_string(segments) + " segments average " + FormatFixed(mean, 1) +
                  " m; more segments may hold them"
        : hanging && outcome.closestInLean
            ? hangingLoop
            : "the rail runs close to vertical or rolls too fast there";
    return Failure(Status::NumericalBlowUp,
                   "The smooth rebuild cannot hold the riders' hearts on this track: near " +
                       FormatFixed(closest.at, 1) + " m along it they would stray " +
                       FormatFixed(closest.distance) + " m from the loaded path (" + why +
                       "). The default rebuild can take it.");
}

// The fit's vertices as the file stores them, into `out` (with the entry
// after the last that stays zero); fails where one would not be finite.
Result WriteVertices(const RailFit& fit, const std::vector<D3>& normals,
                     std::vector<TrackVertex>& out) {
    // The fit may use fewer segments than the budget (see PlaceVertices).
    const int used = fit.segments;
    out.assign(AsIndex(used) + 2, TrackVertex{});
    for (int k = 0; k <= used; ++k) {
        const size_t at = AsIndex(k);
        TrackVertex& v = out[at];
        const D3 p = fit.point[at];
        const D3 d = fit.direction[at];
        const double before = k > 0 ? fit.lengths[at - 1] : fit.lengths[0];
        const double after = k < used ? fit.lengths[at] : fit.lengths[at - 1];
        // Point and handles each kept close to the fitted tangent line.
        const double reach = kSlideReach * std::min(before, after) / 3.0;
        const D3& normal = normals[at];
        // In an upright plane a handle may slide further (the point itself
        // would move along the path, at the track's ends too).
        const bool planar = Dot(normal, normal) > 0.0;
        const double handleReach = planar ? kPlaneSlideShare * reach : reach;
        const int handleSteps = planar ? kPlaneSlideSteps : kSlideSteps;
        v.Pos = ToSingleOnLine(p, d, reach, kSlideSteps, normal);
        v.CtrlIn = ToSingleOnLine(p - (before / 3.0) * d, d, handleReach, handleSteps, normal);
        v.CtrlOut = ToSingleOnLine(p + (after / 3.0) * d, d, handleReach, handleSteps, normal);
        v.Roll = static_cast<float>(fit.rolls[at]);
        v.FlagA = KeepsRollRate(fit, at);
        v.RelativeRoll = false;
        if (!IsFiniteVertex(v)) {
            return Failure(Status::NumericalBlowUp,
                           "New vertex " + std::to_string(k) +
                               " would hold a coordinate or roll that is not a finite number.");
        }
    }
    return {};
}

}  // namespace

Result SmoothRebuild(HeartlineRun& run, const TrackData& track) {
    const int segments = run.Settings.segments;
    const double startShare =
        run.ProgressTotal > 0 ? static_cast<double>(run.ProgressDone) / run.ProgressTotal : 0.0;
    const std::function<void(double)> progress = [&](double part) {
        ProgressTo(run, startShare + part * (1.0 - startShare));
    };
    const PathWalk walk = WalkLoadedPath(track);
    if (!(walk.s.back() <= kLongestSmoothTrack)) {
        return Failure(Status::UnusableTrack,
                       "The smooth rebuild takes tracks of up to " +
                           FormatFixed(kLongestSmoothTrack / 1000.0, 0) + " km; this one runs " +
                           FormatFixed(walk.s.back() / 1000.0, 1) +
                           " km. The default rebuild can take it.");
    }
    SmoothOutcome outcome = FitSmooth(run, walk, segments, progress);
    const std::vector<D3> normals =
        outcome.solved ? KeepInDrawnPlanes(walk, run.Settings.heartline, outcome.fit)
                       : std::vector<D3>(outcome.fit.point.size());
    if (!outcome.solved) {
        return Failure(Status::NumericalBlowUp,
                       "The rail fit of the smooth rebuild could not be solved.");
    }
    progress(0.95);
    if (!(outcome.best.distance <= kLargestStray)) {
        return StrayRefusal(outcome, segments, walk.s.back(), run.Settings.heartline);
    }
    if (Result written = WriteVertices(outcome.fit, normals, run.NewVertices); !written) {
        return written;
    }
    run.FitsRun = outcome.fit.segments;
    while (run.ProgressDone < run.ProgressTotal) StepProgress(run);
    return {};
}

}  // namespace cvqrn
