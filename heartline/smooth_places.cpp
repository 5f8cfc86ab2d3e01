// Placing the new vertices and refining the places between fits.
#include "heartline/smooth_places.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <queue>
#include <tuple>

#include "heartline/heartline_run.h"
#include "heartline/sampling.h"
#include "heartline/smooth_jets.h"
#include "heartline/smooth_tuning.h"
#include "heartline/smooth_up.h"
#include "portable_math/portable_math.h"

namespace cvqrn::smooth {

namespace {

// The shortest segment whose shape the file's single-precision points and
// handles keep within kRoundingError at `speed` (m/s), at coordinates of up
// to `reach` metres, with the heart `heartline` metres from the rail on a
// rail whose tangent climbs or falls by `rise` (the sine of its pitch): the
// length l where speed^2 / g x rounding x (kRoundingBend / l^2 +
// kRoundingTwist x |h| x rise / l^3) meets it.
double ShortestShapedSegment(double reach, double heartline, double rise, double speed) {
    const double scale = kSingleRounding * reach * speed * speed / kGravity;
    const double bend = kRoundingBend * scale;
    const double twist = kRoundingTwist * std::abs(heartline) * rise * scale;
    if (!(bend > 0.0)) return 0.0;
    // In x = 1 / l: (twist x + bend) x^2 = kRoundingError, rising and convex
    // for x > 0, so Newton's steps from above the root (the root without the
    // twist) descend onto it, by at least a third of the way per step.
    double x = std::sqrt(kRoundingError / bend);
    for (int step = 0; step < kShapedLengthSteps; ++step) {
        const double f = (twist * x + bend) * x * x - kRoundingError;
        const double slope = (3.0 * twist * x + 2.0 * bend) * x;
        if (!(f > 0.0) || !(slope > 0.0)) break;
        x -= f / slope;
    }
    return 1.0 / x;
}

// Where the level frame turns over within part of a lean segment (see
// kFlipShare), the segment around the crossing is moved to centre on it: the
// file's eased roll turns fastest halfway along a segment and stands still
// at its vertices, so where the crossing fell left the rail more or less of
// the turn to take up between the lean's joins (random case_076, heartline
// 0.13 m: lateral onsets 22, 6 and 41 g/s beyond the drawn track's at one,
// two and four times its segments; 41 to 44 with the crossing on a vertex,
// 0.3 to 0.5 with it halfway).
// The lean's segments move together; those beside it take up the move over
// kFlipTaper of their lengths. Not where that would reach the track's ends.
void CentreFlips(const std::vector<PathSample>& samples, double length,
                 std::vector<double>& places) {
    double done = -1.0;
    for (const PathSample& sample : samples) {
        const double c = sample.flipAt;
        if (!(c >= 0.0) || c == done) continue;
        done = c;
        const auto at = std::upper_bound(places.begin(), places.end(), c);
        if (at == places.begin() || at == places.end()) continue;
        const size_t k = static_cast<size_t>(at - places.begin()) - 1;
        const double span = places[k + 1] - places[k];
        const double shift = c - 0.5 * (places[k] + places[k + 1]);
        const double reach = sample.leanWidth, taper = kFlipTaper * span;
        if (!(c - reach - taper > 0.0 && c + reach + taper < length)) continue;
        for (size_t q = 1; q + 1 < places.size(); ++q) {
            const double away = std::abs(places[q] - c) - reach;
            places[q] += shift * std::clamp(1.0 - away / taper, 0.0, 1.0);
        }
    }
}

// The slope (rise over run) of a sample's tangent that the heart's kink at a
// join grows with (see PlaceVertices); none where the rail runs steep or
// leans through a loop, where the level frame's spin and the lean set the
// segments.
double KinkSlope(const PathSample& sample) {
    const D3& t = sample.tangent;
    if (Steepness(t) > 0.0 || sample.leanWidth > 0.0) return 0.0;
    return std::abs(t.y) / std::max(std::sqrt(t.x * t.x + t.z * t.z), kVerticalLimit);
}

// What each sample asks of the segments around it.
struct SampleNeeds {
    // The shortest segment whose shape the file's rounding keeps (see
    // ShortestShapedSegment); none on a track with a lean.
    std::vector<double> shaped;
    // The shortest segment the sample's roll allows, and the longest its
    // level frame's spin allows.
    std::vector<double> least, most;
    // v^2 times the roll's rate at the sample (see the lean's grading).
    std::vector<double> spike;
    // Whether the rail runs steep anywhere, where the roll-rate flag is set.
    bool steepAnywhere = false;
};

SampleNeeds NeedsOf(const std::vector<PathSample>& samples, double length, double spacing,
                    double heartline, double curvatureError, double windowFrom, double windowTo) {
    const size_t n = samples.size();
    SampleNeeds needs{std::vector<double>(n, 0.0), std::vector<double>(n, 0.0),
                      std::vector<double>(n, length), std::vector<double>(n, 0.0), false};
    const bool leans = std::any_of(samples.begin(), samples.end(),
                                   [](const PathSample& p) { return p.leanWidth > 0.0; });
    for (size_t j = 0; j < n && !leans; ++j) {
        const D3& q = samples[j].heart;
        const double reach =
            std::max({std::abs(q.x), std::abs(q.y), std::abs(q.z)}) + std::abs(heartline);
        needs.shaped[j] =
            std::min(ShortestShapedSegment(reach, heartline, std::abs(samples[j].tangent.y),
                                           samples[j].speed),
                     kMaxSegmentShare * length);
    }
    double previousRoll = 0.0;
    D3 previousDown;
    bool havePrevious = false;
    for (size_t j = 0; j < n; ++j) {
        needs.steepAnywhere = needs.steepAnywhere || Steepness(samples[j].railTangent) > 0.0;
        LevelFrame frame;
        if (!LevelFrameOf(samples[j].tangent, frame)) {
            havePrevious = false;
            continue;
        }
        const double roll = RollOf(frame, samples[j].up);
        if (havePrevious) {
            // The level frame turns about the tangent by `spin`; the roll
            // in it turns by the riders' own roll plus that spin.
            const D3& t = samples[j].tangent;
            const D3 before = Across(previousDown, t);
            const double spin = portable::atan2(Dot(Cross(before, frame.levelDown), t),
                                                Dot(before, frame.levelDown));
            const double rate = std::abs(WrapAngle(roll - previousRoll) - spin) / spacing;
            const double v2 = samples[j].speed * samples[j].speed;
            needs.spike[j] = v2 * rate;
            // Where the rail climbs or falls, the rail's curvature jump that
            // keeps the heart's curvature running on across a join also
            // turns the level frame about the tangent, by the slope times
            // that jump: the heart's direction kinks there, by about
            // pi^2 x (roll rate) x h^2 x slope / (segment length), which the
            // riders feel as a knock of v x kink over the felt window.
            const double slope = KinkSlope(samples[j]);
            const double kinkLength = kKinkFactor * rate * heartline * heartline * slope *
                                      samples[j].speed / (kFeltWindow * curvatureError * kGravity);
            double rollLength =
                kRollLengthFactor * rate * std::abs(heartline) * v2 / (curvatureError * kGravity);
            if (samples[j].s >= windowFrom && samples[j].s <= windowTo) {
                const double measured = kMeasuredRollFactor * rate * std::abs(heartline) * v2 /
                                        (curvatureError * kGravity);
                rollLength =
                    std::max(rollLength, std::min(measured, kFeltWindow * samples[j].speed));
            }
            needs.least[j] = std::min(std::max(rollLength, kinkLength), kMaxSegmentShare * length);
            const double spinRate = std::abs(spin) / spacing;
            if (spinRate * length > kMaxSpinPerSegment) {
                needs.most[j] = kMaxSpinPerSegment / spinRate;
            }
        }
        previousRoll = roll;
        previousDown = frame.levelDown;
        havePrevious = true;
    }
    return needs;
}

// Each sample's shortest segment spread over the length it asks for, so that
// a short burst of roll rate lengthens the segments around it.
std::vector<double> SpreadNeed(const std::vector<double>& least, double spacing) {
    const size_t n = least.size();
    std::vector<double> need(n, 0.0);
    for (size_t j = 0; j < n; ++j) {
        const auto reach = static_cast<size_t>(least[j] / spacing / 2.0);
        const size_t lo = j > reach ? j - reach : 0;
        const size_t hi = std::min(n - 1, j + reach);
        for (size_t k = lo; k <= hi; ++k) need[k] = std::max(need[k], least[j]);
    }
    return need;
}

// Each sample's longest segment: a spin caps the segments on both sides of
// it too, and `limit` caps them all.
std::vector<double> SpreadCap(const std::vector<double>& most, const std::vector<double>& limit,
                              double length, double spacing) {
    const size_t n = most.size();
    std::vector<double> cap(n, length);
    for (size_t j = 0; j < n; ++j) {
        if (!(most[j] < length)) continue;
        const auto reach = static_cast<size_t>(most[j] / spacing);
        const size_t lo = j > reach ? j - reach : 0;
        const size_t hi = std::min(n - 1, j + reach);
        for (size_t k = lo; k <= hi; ++k) cap[k] = std::min(cap[k], most[j]);
    }
    for (size_t j = 0; j < n; ++j) cap[j] = std::min(cap[j], limit[j]);
    return cap;
}

// Through a lean the segments have one length whatever the budget (see
// LeanThroughVertical), and the lengths beside it run towards that one by at
// most kLeanGrading per metre: per sample the lean's length nearest to it
// (`fixed`, 0 where no lean is) and the distance to that lean (`reach`).
struct LeanLengths {
    std::vector<double> fixed, reach;
};

LeanLengths LeanLengthsOf(const std::vector<PathSample>& samples, double length, double spacing,
                          int leanGrade, double leanScale, const std::vector<double>& spike) {
    const size_t n = samples.size();
    std::vector<double> fixed(n, 0.0), reach(n, length);
    for (size_t j = 0; j < n; ++j) {
        if (samples[j].leanWidth > 0.0) {
            fixed[j] = leanScale * kLeanSegmentShare * samples[j].leanWidth;
            reach[j] = 0.0;
        }
    }
    for (size_t j = 1; j < n; ++j) {
        const double step = samples[j].s - samples[j - 1].s;
        if (reach[j - 1] + step < reach[j]) {
            reach[j] = reach[j - 1] + step;
            fixed[j] = fixed[j - 1];
        }
    }
    for (size_t j = n - 1; j-- > 0;) {
        const double step = samples[j + 1].s - samples[j].s;
        if (reach[j + 1] + step < reach[j]) {
            reach[j] = reach[j + 1] + step;
            fixed[j] = fixed[j + 1];
        }
    }
    // Graded (see kLeanGrades), each lean's lengths follow the mean of v^2
    // times the roll's rate over a lean segment either side, raised to the
    // power 2^-leanGrade and at least kLeanFloor of its largest, with as many
    // segments through the lean as at one length: the places beside it stay.
    for (size_t j = 0; leanGrade > 0 && j < n;) {
        if (!(samples[j].leanWidth > 0.0)) {
            ++j;
            continue;
        }
        size_t last = j;
        while (last + 1 < n && samples[last + 1].leanWidth > 0.0) ++last;
        const double base = fixed[j];
        const auto half = static_cast<size_t>(base / spacing);
        std::vector<double> share(last - j + 1, 0.0);
        double largest = 0.0;
        for (size_t k = j; k <= last; ++k) {
            const size_t lo = k > half ? k - half : 0, hi = std::min(n - 1, k + half);
            double sum = 0.0;
            for (size_t q = lo; q <= hi; ++q) sum += spike[q];
            share[k - j] = sum / static_cast<double>(hi - lo + 1);
            largest = std::max(largest, share[k - j]);
        }
        if (!(largest > 0.0 && std::isfinite(largest))) {
            j = last + 1;
            continue;
        }
        double steps = 0.0, counted = 0.0;
        for (size_t k = j; k <= last; ++k) {
            double a = std::max(share[k - j] / largest, kLeanFloor);
            for (int root = 0; root < leanGrade; ++root) a = std::sqrt(a);
            share[k - j] = a;
            const double w = k > 0 ? samples[k].s - samples[k - 1].s : 0.0;
            steps += w;
            counted += w / a;
        }
        for (size_t k = j; k <= last && steps > 0.0; ++k) {
            fixed[k] = base * share[k - j] * counted / steps;
        }
        j = last + 1;
    }
    return {std::move(fixed), std::move(reach)};
}

// The segment length at each sample for an even length `base` elsewhere, and
// the count of segments those lengths make along the track.
class SegmentGrading {
  public:
    SegmentGrading(const std::vector<PathSample>& samples, const SampleNeeds& needs,
                   const std::vector<double>& need, const std::vector<double>& cap,
                   const LeanLengths& lean, const std::vector<double>& limit, bool limitLean)
        : needs_(needs),
          need_(need),
          cap_(cap),
          lean_(lean),
          limit_(limit),
          limitLean_(limitLean),
          step_(samples.size(), 0.0),
          graded_(samples.size()) {
        // The lengths are graded for every round of the search for the base:
        // the steps between the samples are taken once (step[j] from sample
        // j - 1 to j).
        for (size_t j = 1; j < samples.size(); ++j) step_[j] = samples[j].s - samples[j - 1].s;
    }

    // The lengths at `base`, kept for Graded.
    void Grade(double base) {
        const size_t n = graded_.size();
        for (size_t j = 0; j < n; ++j) {
            graded_[j] = std::min(std::max({base, need_[j], needs_.shaped[j]}), cap_[j]);
        }
        if (needs_.steepAnywhere) GradeNeighbours();
        for (size_t j = 0; j < n; ++j) {
            const double fixed = lean_.fixed[j], reach = lean_.reach[j];
            if (fixed > 0.0) {
                graded_[j] = std::clamp(graded_[j], std::max(fixed - kLeanGrading * reach, 0.0),
                                        fixed + kLeanGrading * reach);
                if (limitLean_) graded_[j] = std::min(graded_[j], limit_[j]);
            }
        }
    }

    // The count of segments the lengths at `base` make.
    double Count(double base) {
        Grade(base);
        return CountGraded();
    }

    // Whether the count never grows with the base: where every step and
    // every bound is a finite positive number, each grading keeps the
    // lengths' order as the base grows, and so do the divisions and the sum,
    // rounded as they are.
    bool Ordered() const {
        const auto positive = [](const std::vector<double>& v) {
            return std::all_of(v.begin(), v.end(),
                               [](double x) { return std::isfinite(x) && x > 0.0; });
        };
        const auto finite = [](const std::vector<double>& v) {
            return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
        };
        return std::all_of(step_.begin() + 1, step_.end(),
                           [](double x) { return std::isfinite(x) && x > 0.0; }) &&
               positive(cap_) && positive(limit_) && finite(need_) && finite(needs_.shaped) &&
               finite(lean_.fixed) && finite(lean_.reach);
    }

    // The running count of segments up to each sample, at the lengths last
    // graded.
    std::vector<double> RunningCount() const {
        std::vector<double> total(graded_.size(), 0.0);
        for (size_t j = 1; j < graded_.size(); ++j) {
            total[j] = total[j - 1] + step_[j] / graded_[j];
        }
        return total;
    }

  private:
    double CountGraded() const {
        double total = 0.0;
        for (size_t j = 1; j < graded_.size(); ++j) total += step_[j] / graded_[j];
        return total;
    }

    // Where the rail runs steep somewhere (and the track has no lean) a
    // short segment never meets a long one: the segments beside a long one
    // are lengthened, by kSegmentGrading. Where the roll-rate flag is set
    // (see KeepsRollRate) the eased roll keeps its rate per unit of
    // parameter through the vertex, so its rate per metre jumps by the ratio
    // of the two lengths, and the roll swings back and forth within the
    // shorter segment to meet it; the rail cannot follow that, and the heart
    // wiggles (random case_001 at 400 segments: a 1.5 m segment between
    // 0.36 m and 7.5 m ones rolled the riders 0.8 degrees to and fro, 4 g raw
    // lateral at 15 m/s). On a track that never runs steep no vertex has the
    // flag, and the lengths are left as their needs set them: graded there
    // too, a drawn S-bend's segments grew to 7 m across the end of its turn,
    // where the drawn curvature steps, and the raw forces stood 0.6 g above
    // the felt ones.
    void GradeNeighbours() {
        const size_t n = graded_.size();
        for (size_t j = 1; j < n; ++j) {
            if (lean_.fixed[j] > 0.0) continue;
            graded_[j] = std::min(
                cap_[j], std::max(graded_[j], graded_[j - 1] - kSegmentGrading * step_[j]));
        }
        for (size_t j = n - 1; j-- > 0;) {
            if (lean_.fixed[j] > 0.0) continue;
            graded_[j] = std::min(
                cap_[j], std::max(graded_[j], graded_[j + 1] - kSegmentGrading * step_[j + 1]));
        }
    }

    const SampleNeeds& needs_;
    const std::vector<double>& need_;
    const std::vector<double>& cap_;
    const LeanLengths& lean_;
    const std::vector<double>& limit_;
    bool limitLean_;
    std::vector<double> step_;
    std::vector<double> graded_;
};

// The even length elsewhere whose graded lengths number `segments`
// (`fewest` is the count at base 0, which counts beyond it), found by
// bisection.
double EvenBase(SegmentGrading& grading, double length, int segments, double fewest) {
    // Where the count never grows with the base (see Ordered), a base below
    // one counted beyond the budget counts beyond it too, and one above a
    // base counted within it stays within: the bisection takes those rounds
    // as known and finds the same base without counting them. A few rounds
    // of false position (Illinois) first close in on the base from both
    // sides, so that few of the bisection's midpoints are left to count (the
    // loop and helix sample at 22 segments: about 2 counts a placement, not
    // 56).
    double over = -1.0;                  // a base known to count beyond the budget
    double within = 2.0 * length + 1.0;  // one known to count within it
    const bool ordered = grading.Ordered();
    if (ordered) {
        const double atLength = grading.Count(length) - segments;
        if (atLength > 0.0) {
            over = length;  // every midpoint counts beyond the budget
        } else if (fewest > segments) {
            within = length;
            double withinCount = atLength;
            over = 0.0;
            double overCount = fewest - segments;
            // The count runs about as the reciprocal of the base: the
            // guesses interpolate it so, from the even length on.
            int replaced = 0;  // the end the last round moved: -1 `over`, +1 `within`
            for (int round = 0; round < kFalsePositionRounds; ++round) {
                double guess = 0.5 * within;
                if (round == 0) {
                    guess = length / segments;
                } else if (over > 0.0) {
                    const double near = 1.0 / within, far = 1.0 / over;
                    guess = 1.0 / (near + (far - near) * -withinCount / (overCount - withinCount));
                }
                if (!(guess > over && guess < within)) guess = 0.5 * (over + within);
                if (!(guess > over && guess < within)) break;
                const double counted = grading.Count(guess) - segments;
                if (counted > 0.0) {
                    over = guess;
                    overCount = counted;
                    if (replaced == -1) withinCount *= 0.5;
                    replaced = -1;
                } else {
                    within = guess;
                    withinCount = counted;
                    if (replaced == 1) overCount *= 0.5;
                    replaced = 1;
                }
            }
        }
    }
    double lo = 0.0, hi = length;
    for (int round = 0; round < 60; ++round) {
        const double mid = 0.5 * (lo + hi);
        // Once the midpoint is an end that a round has counted, every round
        // left would count it again and keep both ends: done.
        if ((mid == lo && lo > 0.0) || (mid == hi && hi < length)) break;
        bool beyond = false;
        if (mid <= over) {
            beyond = true;
        } else if (!(mid >= within)) {
            beyond = grading.Count(mid) > segments;
            if (ordered && beyond) over = mid;
            if (ordered && !beyond) within = mid;
        }
        if (beyond) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return hi;
}

// The places of `segments` vertices that split the running count `total`
// evenly, the last at the track's end.
std::vector<double> PlacesAlong(const std::vector<PathSample>& samples,
                                const std::vector<double>& total, int segments, double length) {
    const size_t n = samples.size();
    std::vector<double> places(AsIndex(segments) + 1, 0.0);
    size_t j = 0;
    for (int k = 1; k < segments; ++k) {
        const double goal = total.back() * k / segments;
        while (j + 2 < n && total[j + 1] < goal) ++j;
        const double span = total[j + 1] - total[j];
        const double f = span > 0.0 ? std::clamp((goal - total[j]) / span, 0.0, 1.0) : 0.0;
        places[AsIndex(k)] = samples[j].s + f * (samples[j + 1].s - samples[j].s);
    }
    places[AsIndex(segments)] = length;
    return places;
}

}  // namespace

std::vector<double> PlaceVertices(const std::vector<PathSample>& samples, double length,
                                  int segments, double spacing, double heartline,
                                  double curvatureError, const std::vector<double>& limit,
                                  bool limitLean, double windowFrom, double windowTo, int leanGrade,
                                  double leanScale) {
    const SampleNeeds needs =
        NeedsOf(samples, length, spacing, heartline, curvatureError, windowFrom, windowTo);
    const std::vector<double> need = SpreadNeed(needs.least, spacing);
    const std::vector<double> cap = SpreadCap(needs.most, limit, length, spacing);
    const LeanLengths lean =
        LeanLengthsOf(samples, length, spacing, leanGrade, leanScale, needs.spike);
    SegmentGrading grading(samples, needs, need, cap, lean, limit, limitLean);
    // Where every segment at its shortest still leaves part of the budget,
    // that many are placed, with no even length beyond.
    double base = 0.0;
    const double fewest = grading.Count(0.0);
    if (fewest < segments) {
        segments = std::max(1, static_cast<int>(std::ceil(fewest)));
    } else {
        base = EvenBase(grading, length, segments, fewest);
    }
    grading.Grade(base);
    std::vector<double> places = PlacesAlong(samples, grading.RunningCount(), segments, length);
    CentreFlips(samples, length, places);
    return places;
}

std::vector<double> BendLimits(const std::vector<PathSample>& samples, double length,
                               double spacing) {
    const size_t n = samples.size();
    std::vector<double> limit(n, length);
    if (n < 3) return limit;
    // The running sum of the curvature's change across the path.
    std::vector<double> variation(n + 1, 0.0);
    for (size_t j = 0; j < n; ++j) {
        double change = 0.0;
        if (j + 1 < n) {
            const D3 d = samples[j + 1].curvature - samples[j].curvature;
            const D3 t = Unit(samples[j].tangent + samples[j + 1].tangent);
            change = Norm(d - Dot(d, t) * t);
        }
        variation[j + 1] = variation[j] + change;
    }
    for (size_t j = 0; j < n; ++j) {
        if (Steepness(samples[j].tangent) > 0.0) continue;
        for (double l = length; l >= kShortestBendSegment; l *= 0.5) {
            const auto reach = static_cast<size_t>(0.5 * l / spacing);
            const size_t lo = j > reach ? j - reach : 0;
            const size_t hi = std::min(n - 1, j + reach);
            limit[j] = l;
            if (kBendFactor * (variation[hi] - variation[lo]) * l * l <= kBendStray) break;
        }
    }
    return limit;
}

size_t LoadedVertexAt(const PathWalk& walk, double s) {
    const auto it = std::lower_bound(walk.s.begin(), walk.s.end(), s);
    if (it == walk.s.end() || *it != s) return 0;
    const auto k = static_cast<size_t>(it - walk.s.begin());
    if (k == 0 || k + 1 >= walk.s.size() || walk.segment[k] == walk.segment[k + 1]) return 0;
    return k;
}

D3 CurvatureJumpAt(const PathWalk& walk, size_t k) {
    const Cubic& before = walk.cubics[AsIndex(walk.segment[k])];
    const Cubic& after = walk.cubics[AsIndex(walk.segment[k + 1])];
    return CurvatureOf(FirstAt(before, 1.0), SecondAt(before, 1.0)) -
           CurvatureOf(FirstAt(after, 0.0), SecondAt(after, 0.0));
}

std::vector<CurveStep> CurveSteps(const PathWalk& walk, const std::vector<PathSample>& samples,
                                  double spacing, double steepest, double within) {
    std::vector<CurveStep> steps;
    for (size_t k = 1; k + 1 < walk.s.size(); ++k) {
        if (walk.segment[k + 1] == walk.segment[k]) continue;
        const double x =
            std::clamp(walk.s[k] / spacing, 0.0, static_cast<double>(samples.size() - 1));
        const PathSample& there = samples[static_cast<size_t>(std::nearbyint(x))];
        if (Steepness(there.tangent) > steepest || there.leanWidth > 0.0) continue;
        D3 jump = CurvatureJumpAt(walk, k);
        size_t last = k;  // walk index of the last vertex stepping with this one
        for (size_t m = k + 1; m + 1 < walk.s.size() && walk.s[m] - walk.s[k] < within; ++m) {
            if (walk.segment[m + 1] != walk.segment[m]) last = m;
        }
        if (last != k) {
            const Cubic& before = walk.cubics[AsIndex(walk.segment[k])];
            const Cubic& after = walk.cubics[AsIndex(walk.segment[last + 1])];
            const D3 together = CurvatureOf(FirstAt(before, 1.0), SecondAt(before, 1.0)) -
                                CurvatureOf(FirstAt(after, 0.0), SecondAt(after, 0.0));
            double alone = 0.0;
            for (size_t m = k; m <= last; ++m) {
                if (walk.segment[m + 1] != walk.segment[m]) {
                    alone = std::max(alone, Norm(CurvatureJumpAt(walk, m)));
                }
            }
            if (Norm(together) > alone) {
                jump = together;
            } else {
                last = k;
            }
        }
        const double force = Norm(jump) * there.speed * there.speed / kGravity;
        if (force > kLeastCurveStep) steps.push_back({walk.s[k], force, there.speed});
        k = last;
    }
    std::sort(steps.begin(), steps.end(), [](const CurveStep& a, const CurveStep& b) {
        return a.force > b.force || (a.force == b.force && a.at < b.at);
    });
    return steps;
}

size_t NearestPlace(const std::vector<double>& places, double s) {
    const auto nearest = std::min_element(places.begin(), places.end(), [&](double a, double b) {
        return std::abs(a - s) < std::abs(b - s);
    });
    return static_cast<size_t>(nearest - places.begin());
}

const CurveStep* NearestStep(const std::vector<CurveStep>& steps,
                             const std::vector<CurveStep>& missed, double s, double reach) {
    return NearestStepWhere(steps, missed, s,
                            [reach](const CurveStep&, double apart) { return apart <= reach; });
}

std::vector<double> StepsToLeadInto(const std::vector<PathSample>& loaded,
                                    const std::vector<CurveStep>& steps, double spacing) {
    std::vector<double> places;
    for (const CurveStep& step : steps) {
        const auto j = static_cast<size_t>(std::nearbyint(step.at / spacing));
        if (j < 2 || j + 2 >= loaded.size()) continue;
        const PathSample& before = loaded[j - 2];
        const PathSample& after = loaded[j + 2];
        if (std::min(std::abs(LateralUnder(before, before.drawnUp)),
                     std::abs(LateralUnder(after, after.drawnUp))) > kFlipLateral) {
            continue;
        }
        if (!(Dot(before.feltAcross, before.drawnUp) > kAirtimeHigh) ||
            !(Dot(after.feltAcross, after.drawnUp) > kAirtimeHigh)) {
            continue;
        }
        places.push_back(step.at);
    }
    return places;
}

namespace {

// Lengthens the two segments beside vertex q of `places`, just moved onto
// `step`, to at least kStepSideSegment felt windows, moving the vertices
// beyond each over kStepSideTaper segments. Across a drawn step the riders'
// bank turns from one turn's to the next one's, and the file's eased roll,
// standing still at every vertex, ripples the heart within each segment by
// about (roll rate) x h / (segment length): where the rail's bend limit had
// cut the segments at the step short (random case_040 at its own count,
// heartline 1.07 m: 2.8 and 3.2 m against a felt window of 4.3 m, where the
// roll asked for 11 m), the ripple stood on the step's raw lateral, where it
// is largest: 3.87 g raw where the drawn forces in the new bank give 2.90 g,
// 0.57 g beyond the gap target; with the step's segments a window long,
// 3.27 g. On a vertex the step needs no short segment: it is the join's jump.
// Only at steps of kStepSideForce or more: the vertices moved at smaller ones
// met slopes where unequal segments kink the heart (case_040 at twice its
// count, widened at its 3.6 and 4.2 g steps: 2.4 degrees at 149 m against
// 1.8), and there the ripple seldom raised the run's largest raw force. Not
// on a side where another step lies within the vertices moved (two steps
// close together would squeeze the segments between them), nor past a vertex
// already on a step or the track's first or last two vertices, nor where the
// vertices would change order.
void WidenBesideStep(const std::vector<CurveStep>& steps, const CurveStep& step, size_t q,
                     const std::vector<char>& moved, std::vector<double>& places) {
    if (step.force < kStepSideForce) return;
    const double c = places[q];
    const double wide = kStepSideSegment * step.speed * kFeltWindow;
    const auto last = static_cast<std::ptrdiff_t>(places.size()) - 1;
    std::vector<double> widened = places;
    for (const int side : {-1, 1}) {
        const auto at = [&](int k) {
            return static_cast<size_t>(
                std::clamp(static_cast<std::ptrdiff_t>(q) + side * k, std::ptrdiff_t{0}, last));
        };
        const double shift = side * std::max(0.0, wide - std::abs(places[at(1)] - c));
        if (shift == 0.0) continue;
        const double far = places[at(kStepSideTaper)];
        const bool crowded = std::any_of(steps.begin(), steps.end(), [&](const CurveStep& other) {
            return other.at != step.at && (other.at - c) * side > 0.0 &&
                   (far - other.at) * side >= 0.0;
        });
        if (crowded) continue;
        for (int k = 1; k <= kStepSideTaper; ++k) {
            const size_t p = at(k);
            if (p < 2 || p + 2 >= places.size() || moved[p]) break;
            widened[p] += shift * (1.0 - static_cast<double>(k - 1) / kStepSideTaper);
        }
    }
    for (size_t p = 1; p < widened.size(); ++p) {
        if (!(widened[p] > widened[p - 1])) return;
    }
    places = std::move(widened);
}

}  // namespace

void AlignCurveSteps(const std::vector<CurveStep>& steps, std::vector<double>& places) {
    std::vector<char> moved(places.size(), 0);
    for (const CurveStep& step : steps) {
        const double c = step.at;
        const auto it = std::upper_bound(places.begin(), places.end(), c);
        if (it == places.begin() || it == places.end()) continue;
        size_t q = static_cast<size_t>(it - places.begin()) - 1;
        if (places[q + 1] - places[q] < kCurveStepSegment * step.speed * kFeltWindow) continue;
        if (places[q + 1] - c < c - places[q]) ++q;
        if (q < 2 || q + 2 >= places.size() || moved[q]) continue;
        const double reach = std::max(places[q] - places[q - 1], places[q + 1] - places[q]);
        const double shift = c - places[q];
        std::vector<double> trial = places;
        bool clash = false;
        // A large step whose vertex has a neighbour already on a step: the
        // taper stops at the nearest vertex on a step on either side, which
        // stays where it is, instead of the step being dropped as a clash. A
        // crest running into a valley, drawn with a short segment between
        // them, counts as two steps side by side; both were dropped, and one
        // long segment was left over the crest, whose cubic overshot it
        // (random case_081 at four times its segments: 4.9 g raw against
        // 3.8 g drawn). Only beside such a neighbour: stopping the taper at
        // any vertex on a step squeezed the segments between and rode more
        // felt lateral (random case_160: 3.4 to 3.7 g).
        size_t lo = 0;              // the held vertex behind (0: none)
        size_t hi = places.size();  // the held vertex ahead (the size: none)
        if (step.force >= kStepSideForce) {
            for (size_t p = q; p-- > 0 && lo == 0;) {
                if (moved[p]) lo = p;
            }
            for (size_t p = q + 1; p < places.size() && hi == places.size(); ++p) {
                if (moved[p]) hi = p;
            }
            if (lo + 1 != q && hi != q + 1) {
                lo = 0;
                hi = places.size();
            }
        }
        for (size_t p = 2; p + 2 < places.size(); ++p) {
            if (p <= lo || p >= hi) continue;
            const bool ahead = (places[p] - places[q]) * shift > 0.0;
            double taper = (ahead ? kStepTaperAhead : kFlipTaper) * reach;
            if (p < q && lo > 0) taper = std::min(taper, places[q] - places[lo]);
            if (p > q && hi < places.size()) taper = std::min(taper, places[hi] - places[q]);
            const double w = std::clamp(1.0 - std::abs(places[p] - places[q]) / taper, 0.0, 1.0);
            clash = clash || (w > 0.0 && moved[p]);
            trial[p] += shift * w;
        }
        for (size_t p = 1; p < trial.size() && !clash; ++p) clash = !(trial[p] > trial[p - 1]);
        if (clash) continue;
        trial[q] = c;  // exactly: FinishFit finds the step by its place
        WidenBesideStep(steps, step, q, moved, trial);
        places = std::move(trial);
        moved[q] = 1;
    }
}

bool KeepVertexCount(const std::vector<PathSample>& samples, const std::vector<double>& limit,
                     const std::vector<CurveStep>& steps, size_t held, size_t heldCount,
                     size_t count, std::vector<double>& places) {
    const auto onStep = [&](size_t p) {
        return std::any_of(steps.begin(), steps.end(),
                           [&](const CurveStep& step) { return step.at == places[p]; });
    };
    const auto sampleAt = [&](double s) {
        return static_cast<size_t>(
            std::lower_bound(samples.begin(), samples.end(), s,
                             [](const PathSample& a, double b) { return a.s < b; }) -
            samples.begin());
    };
    while (places.size() > count) {
        size_t drop = 0;
        double shortest = 0.0;
        for (size_t p = 2; p + 2 < places.size(); ++p) {
            if ((p >= held && p < held + heldCount) || onStep(p)) continue;
            const double merged = places[p + 1] - places[p - 1];
            if (drop != 0 && !(merged < shortest)) continue;
            const size_t to = sampleAt(places[p + 1]);
            bool within = true;
            for (size_t j = sampleAt(places[p - 1]); j < to && within; ++j) {
                within = merged <= limit[j];
            }
            if (!within) continue;
            drop = p;
            shortest = merged;
        }
        if (drop == 0) return false;
        places.erase(places.begin() + static_cast<std::ptrdiff_t>(drop));
        if (drop < held) --held;
    }
    while (places.size() < count) {
        size_t split = 0;
        double longest = 0.0;
        for (size_t p = 1; p + 2 < places.size(); ++p) {
            if ((p + 1 > held && p + 1 < held + heldCount) || onStep(p) || onStep(p + 1)) {
                continue;
            }
            if (split != 0 && !(places[p + 1] - places[p] > longest)) continue;
            split = p + 1;
            longest = places[p + 1] - places[p];
        }
        if (split == 0) return false;
        places.insert(places.begin() + static_cast<std::ptrdiff_t>(split),
                      0.5 * (places[split - 1] + places[split]));
        if (split <= held) ++held;
    }
    return true;
}

std::vector<double> OntoMissedSteps(const std::vector<CurveStep>& missed,
                                    std::vector<double> places) {
    std::vector<char> moved(places.size(), 0);
    bool any = false;
    for (const CurveStep& step : missed) {
        const double c = step.at;
        const auto it = std::upper_bound(places.begin(), places.end(), c);
        if (it == places.begin() || it == places.end()) continue;
        size_t q = static_cast<size_t>(it - places.begin()) - 1;
        if (places[q] == c) continue;
        if (places[q + 1] - places[q] < kCurveStepSegment * step.speed * kFeltWindow) continue;
        if (places[q + 1] - c < c - places[q]) ++q;
        if (q < 2 || q + 2 >= places.size() || moved[q]) continue;
        const double before = places[q] - places[q - 1], after = places[q + 1] - places[q];
        if (!(c - places[q - 1] >= 0.5 * before && places[q + 1] - c >= 0.5 * after)) continue;
        places[q] = c;
        moved[q] = 1;
        any = true;
    }
    if (!any) places.clear();
    return places;
}

std::vector<double> OntoStepPairs(const std::vector<CurveStep>& steps, std::vector<double> places,
                                  size_t segments) {
    bool any = false;
    std::vector<double> at;
    for (const CurveStep& step : steps) at.push_back(step.at);
    std::sort(at.begin(), at.end());
    const auto onVertex = [&](double c) {
        return std::binary_search(places.begin(), places.end(), c);
    };
    for (size_t k = 0; k + 1 < at.size(); ++k) {
        const double a = at[k], b = at[k + 1];
        if (onVertex(a) && onVertex(b)) continue;
        const auto ia = std::upper_bound(places.begin(), places.end(), a);
        const auto ib = std::upper_bound(places.begin(), places.end(), b);
        if (ia == places.begin() || ib == places.end()) continue;
        const auto qa = static_cast<size_t>(ia - places.begin()) - 1;  // segment holding a
        const auto qb = static_cast<size_t>(ib - places.begin()) - 1;  // segment holding b
        const double reach = std::max(places[qa + 1] - places[qa], places[qb + 1] - places[qb]);
        if (!(b - a < reach)) continue;
        if (qa < 3 || qb + 4 >= places.size()) continue;
        const size_t lo = qa - 1, hi = qb + 2;
        std::vector<double> held{places[lo]};
        size_t inside = 0;
        for (size_t p = lo + 1; p < hi; ++p) {
            ++inside;
            if (places[p] != a && places[p] != b &&
                std::binary_search(at.begin(), at.end(), places[p])) {
                held.push_back(places[p]);
            }
        }
        held.push_back(a);
        held.push_back(b);
        held.push_back(places[hi]);
        std::sort(held.begin(), held.end());
        held.erase(std::unique(held.begin(), held.end()), held.end());
        const size_t gaps = held.size() - 1;
        if (gaps > inside + 1 && places.size() - 1 + (gaps - inside - 1) > segments) continue;
        std::vector<int> parts(gaps, 1);
        size_t spare = inside + 1 > gaps ? inside + 1 - gaps : 0;
        for (; spare > 0; --spare) {
            size_t widest = 0;
            for (size_t g = 1; g < gaps; ++g) {
                if ((held[g + 1] - held[g]) / parts[g] >
                    (held[widest + 1] - held[widest]) / parts[widest]) {
                    widest = g;
                }
            }
            ++parts[widest];
        }
        std::vector<double> spread(places.begin(),
                                   places.begin() + static_cast<std::ptrdiff_t>(lo));
        for (size_t g = 0; g < gaps; ++g) {
            for (int j = 0; j < parts[g]; ++j) {
                spread.push_back(held[g] + (held[g + 1] - held[g]) * j / parts[g]);
            }
        }
        spread.insert(spread.end(), places.begin() + static_cast<std::ptrdiff_t>(hi), places.end());
        places = std::move(spread);
        any = true;
    }
    if (!any) places.clear();
    return places;
}

bool RefineLimits(const RailFit& fit, const std::vector<Stray>& strays, double spacing,
                  const std::vector<double>& bendLimits, std::vector<double>& limit, bool scarce) {
    bool refined = false;
    for (int i = 0; i < fit.segments; ++i) {
        const double stray = strays[AsIndex(i)].distance;
        if (!(stray > kRefineStray)) continue;
        const double share =
            std::clamp(std::sqrt(kRefineStray / stray), kLeastRefineShare, kMostRefineShare);
        const double length = fit.lengths[AsIndex(i)];
        const auto lo =
            static_cast<size_t>(std::max(0.0, std::floor(fit.places[AsIndex(i)] / spacing)));
        const auto hi = std::min(
            limit.size() - 1, static_cast<size_t>(std::ceil(fit.places[AsIndex(i) + 1] / spacing)));
        for (size_t j = lo; j <= hi; ++j) {
            const double from = scarce ? std::min(length, limit[j]) : length;
            limit[j] = std::min({limit[j], share * from, bendLimits[j]});
        }
        refined = true;
    }
    return refined;
}

namespace {

// Where a merge (of segments k - 1 and k, `dropped` marking vertex k) would
// leave a segment beside it, not merged itself, more than kWobbleLengthRatio
// times shorter than the merged one where it was within that of its
// neighbour (where the segments grow steadily along a run that wobbles, a
// merge at the run's end doubles a segment beside a shorter one: random
// case_001 at 200 segments, 0.90 and 1.21 m merged beside 0.67 m), the
// vertex between them moves into the merged one, so that the lengths grow
// evenly from the segment beyond the short one through it to the merged one
// (there 0.54, 0.98 and 1.79 m); the merge is undone where no such place
// keeps them within the ratio, where that vertex lies on one of the loaded
// path or ends the track, or where the short segment was moved for another
// merge. `places` gets the vertices' places, `reach` per dropped vertex the
// extent of the segments changed. Each merge is judged against the others
// as chosen: at the end of a run of even segments the merge leaves twice the
// neighbour's length, and undoing it would leave the next merge so, and so
// on along the run.
template <typename Removable>
void TaperBesideMerges(const RailFit& fit, const Removable& removable, std::vector<char>& merged,
                       std::vector<char>& dropped, std::vector<double>& places,
                       std::vector<std::pair<double, double>>& reach) {
    const size_t count = AsIndex(fit.segments);
    // Two even segments merged stand twice the length of their neighbours,
    // give or take the rounding of their places.
    const auto uneven = [](double a, double b) {
        return std::max(a, b) > (kWobbleLengthRatio + kWobbleLengthSlack) * std::min(a, b);
    };
    // The length of the merged or single segment i lies in, as chosen.
    const auto piece = [&](size_t i) {
        if (dropped[i] != 0) return fit.lengths[i - 1] + fit.lengths[i];
        if (i + 1 < count && dropped[i + 1] != 0) return fit.lengths[i] + fit.lengths[i + 1];
        return fit.lengths[i];
    };
    std::vector<char> moved(count, 0);  // per segment: lengthened for a merge beside it
    for (size_t k = 1; k < count; ++k) {
        if (dropped[k] == 0) continue;
        const double length = fit.lengths[k - 1] + fit.lengths[k];
        // Per side: the vertex moved and its new place (none: count + 1).
        std::pair<size_t, double> shift[2] = {{count + 1, 0.0}, {count + 1, 0.0}};
        bool keep = true;
        for (const bool after : {false, true}) {
            if (after ? k + 1 >= count : k < 2) continue;
            const size_t beside = after ? k + 1 : k - 2, near = after ? k : k - 1;
            const double single = fit.lengths[beside];
            if (merged[beside] != 0 || !uneven(length, single) ||
                uneven(fit.lengths[near], single)) {
                continue;
            }
            const size_t vertex = after ? k + 1 : k - 1;
            if ((after ? beside + 1 >= count : beside == 0) || moved[beside] != 0 ||
                !removable(vertex)) {
                keep = false;
                break;
            }
            // Lengths growing by g from the segment beyond: beyond x g for
            // the short one, beyond x g^2 for the merged one.
            const double beyond = piece(after ? beside + 1 : beside - 1);
            const double total = single + length;
            const double g = 0.5 * (std::sqrt(1.0 + 4.0 * total / beyond) - 1.0);
            const double grown = std::min(beyond * g, 0.5 * total);
            if (uneven(grown, beyond) || uneven(total - grown, grown)) {
                keep = false;
                break;
            }
            shift[after ? 1 : 0] = {
                vertex, after ? fit.places[vertex + 1] - grown : fit.places[beside] + grown};
        }
        if (!keep) {
            dropped[k] = 0;
            merged[k - 1] = merged[k] = 0;
            continue;
        }
        if (shift[0].first <= count) {
            places[shift[0].first] = shift[0].second;
            moved[k - 2] = 1;
            reach[k].first = fit.places[k - 2];
        }
        if (shift[1].first <= count) {
            places[shift[1].first] = shift[1].second;
            moved[k + 1] = 1;
            reach[k].second = fit.places[k + 2];
        }
    }
}

}  // namespace

std::vector<double> LengthenedPlaces(const PathWalk& walk, const std::vector<PathSample>& samples,
                                     double spacing, double heartline, const RailFit& fit,
                                     const std::vector<double>& jolts, bool wobble,
                                     std::vector<std::pair<double, double>>& spans) {
    const size_t count = AsIndex(fit.segments);
    spans.clear();
    const double least = wobble ? kWobbleJolt : kLengthenJolt;
    if (std::none_of(jolts.begin(), jolts.end(), [&](double j) { return j > least; })) {
        return {};
    }
    const std::vector<Stray> strays = SegmentStrays(walk, heartline, fit);
    std::vector<char> jolting(count, 0);
    for (size_t i = 0; i < count; ++i) {
        const double length = fit.lengths[i];
        const double v = SpeedAt(samples, spacing, fit.places[i] + 0.5 * length);
        const double bend = strays[i].distance * v * v / (kGravity * length * length);
        const std::vector<double>& steep = fit.steep[i];
        const bool level =
            std::all_of(steep.begin(), steep.end(), [](double x) { return x == 0.0; }) &&
            !KeepsRollRate(fit, i) && !KeepsRollRate(fit, i + 1);
        const double turn = std::abs(WrapAngle(fit.rolls[i + 1] - fit.rolls[i]));
        const double eased = turn * std::abs(heartline) * v * v / (kGravity * length * length);
        const bool hard = wobble ? jolts[i] > kWobbleJolt && eased > kWobbleJolt &&
                                       2.0 * length <= kFeltWindow * v
                                 : jolts[i] > kLengthenJolt && bend > kLengthenBend;
        jolting[i] = level && hard ? 1 : 0;
    }
    const auto removable = [&](size_t k) {
        return k > 0 && k < count && LoadedVertexAt(walk, fit.places[k]) == 0;
    };
    std::vector<char> merged(count, 0), dropped(count + 1, 0);
    for (size_t i = 0; i < count; ++i) {
        if (jolting[i] == 0 || merged[i] != 0) continue;
        size_t k = 0;  // the vertex dropped
        if (i + 1 < count && jolting[i + 1] != 0 && merged[i + 1] == 0 && removable(i + 1)) {
            k = i + 1;
        } else if (!wobble) {
            const bool before = i > 0 && merged[i - 1] == 0 && removable(i);
            const bool after = i + 1 < count && merged[i + 1] == 0 && removable(i + 1);
            if (before && (!after || fit.lengths[i - 1] <= fit.lengths[i + 1])) {
                k = i;
            } else if (after) {
                k = i + 1;
            }
        }
        if (k == 0) continue;
        dropped[k] = 1;
        merged[k - 1] = merged[k] = 1;
    }
    std::vector<double> at = fit.places;
    std::vector<std::pair<double, double>> reach(count + 1);
    for (size_t k = 1; k < count; ++k) reach[k] = {fit.places[k - 1], fit.places[k + 1]};
    if (wobble) TaperBesideMerges(fit, removable, merged, dropped, at, reach);
    std::vector<double> places;
    for (size_t k = 0; k <= count; ++k) {
        if (dropped[k] != 0) {
            spans.push_back(reach[k]);
        } else {
            places.push_back(at[k]);
        }
    }
    if (spans.empty()) places.clear();
    return places;
}

double HardestJoltWithin(const RailFit& fit, const std::vector<double>& jolts,
                         const std::vector<std::pair<double, double>>& spans) {
    double hardest = 0.0;
    for (int i = 0; i < fit.segments; ++i) {
        const double from = fit.places[AsIndex(i)], to = fit.places[AsIndex(i) + 1];
        for (const auto& [lo, hi] : spans) {
            if (to > lo && from < hi) hardest = std::max(hardest, jolts[AsIndex(i)]);
        }
    }
    return hardest;
}

std::vector<double> SplitPlaces(const std::vector<double>& coarse, int segments,
                                const std::vector<PathSample>& samples, double spacing,
                                double heartline, double curvatureError, bool evenly) {
    const size_t count = coarse.size() - 1;
    // Per coarse segment: the fastest roll (radians per metre, in the rail's
    // level frame) and the fastest train over its samples, the fastest roll
    // times the slope, and whether the rail runs steep or leans through a
    // loop anywhere on it (there the level frame's spin and the lean have set
    // its length).
    std::vector<double> rate(count, 0.0), speed(count, 0.0), kink(count, 0.0);
    std::vector<char> steep(count, 0);
    double previousRoll = 0.0;
    D3 previousDown;
    bool havePrevious = false;
    size_t i = 0;
    for (const PathSample& sample : samples) {
        while (i + 1 < count && sample.s > coarse[i + 1]) ++i;
        speed[i] = std::max(speed[i], sample.speed);
        if (Steepness(sample.tangent) > 0.0 || sample.leanWidth > 0.0) steep[i] = 1;
        LevelFrame frame;
        if (!LevelFrameOf(sample.tangent, frame)) {
            havePrevious = false;
            continue;
        }
        const double roll = RollOf(frame, sample.up);
        if (havePrevious) {
            const D3& t = sample.tangent;
            const D3 before = Across(previousDown, t);
            const double spin = portable::atan2(Dot(Cross(before, frame.levelDown), t),
                                                Dot(before, frame.levelDown));
            const double here = std::abs(WrapAngle(roll - previousRoll) - spin) / spacing;
            rate[i] = std::max(rate[i], here);
            kink[i] = std::max(kink[i], here * KinkSlope(sample));
        }
        previousRoll = roll;
        previousDown = frame.levelDown;
        havePrevious = true;
    }
    std::vector<int> pieces(count, 1);
    // The error (g) of segment k cut into `n` pieces: the eased roll's
    // curvature error, or the knock of the heart's kink at the pieces'
    // joins over the felt window, whichever is larger. Splits that judged
    // the roll alone cut a rolling slope finer at every count (random
    // case_097, heartline -0.98 m: a 2.0 m segment falling at 9 degrees
    // beside a 0.77 m one as the roll turned was halved at two and four
    // times its segments; the heart kinked by 3.0, 3.6 and 4.1 degrees at
    // one, two and four times, and at four the felt lateral rose from 0.45
    // to 0.51 g).
    const auto error = [&](size_t k, int n) {
        const double piece = (coarse[k + 1] - coarse[k]) / n;
        const double roll = kRollLengthFactor * rate[k] * std::abs(heartline) * speed[k] *
                            speed[k] / (kGravity * piece);
        const double knock = kKinkFactor * kink[k] * heartline * heartline * speed[k] /
                             (kFeltWindow * kGravity * piece);
        return std::max(roll, knock);
    };
    // Steep and end segments last. Harmless splits first, the longest
    // pieces first; then the least error. `evenly`: among the harmless
    // splits, and then among the rest, the segment cut into the fewest
    // pieces, so that every coarse segment is cut alike where the count
    // allows. (Cut alike whatever the harm, a segment of 3.0 m falling at 9
    // degrees as the roll turned went into three of 1.0 m on random case_097
    // at four times its segments, and the heart kinked by 3.7 degrees at
    // their joins.) The index settles ties, so that every build splits alike.
    using Key = std::tuple<int, int, int, double, size_t>;
    const auto keyOf = [&](size_t k) {
        const int n = pieces[k] + 1;
        const bool end = count > 2 && (k == 0 || k + 1 == count);
        const int level = end || steep[k] != 0 ? 0 : 1;
        const double piece = (coarse[k + 1] - coarse[k]) / n;
        const double e = error(k, n);
        const int harmless = e <= curvatureError ? 1 : 0;
        if (evenly) return Key{level, harmless, -n, piece, k};
        return harmless != 0 ? Key{level, 1, 0, piece, k} : Key{level, 0, 0, -e, k};
    };
    std::priority_queue<Key> queue;
    for (size_t k = 0; k < count; ++k) queue.push(keyOf(k));
    for (int extra = segments - static_cast<int>(count); extra > 0; --extra) {
        const size_t k = std::get<4>(queue.top());
        queue.pop();
        ++pieces[k];
        queue.push(keyOf(k));
    }
    std::vector<double> places;
    for (size_t k = 0; k < count; ++k) {
        for (int q = 0; q < pieces[k]; ++q) {
            places.push_back(coarse[k] + (coarse[k + 1] - coarse[k]) * q / pieces[k]);
        }
    }
    places.push_back(coarse.back());
    return places;
}

std::vector<double> CurvatureBreaks(const PathWalk& walk, const std::vector<PathSample>& samples,
                                    double spacing) {
    std::vector<double> breaks;
    for (size_t k = 1; k + 1 < walk.s.size(); ++k) {
        if (walk.segment[k + 1] == walk.segment[k]) continue;
        const double v = SpeedAt(samples, spacing, walk.s[k]);
        if (Norm(CurvatureJumpAt(walk, k)) * v * v / kGravity > kLeastBreak) {
            breaks.push_back(walk.s[k]);
        }
    }
    return breaks;
}

std::vector<double> RebalancedPlaces(std::vector<double> places, const std::vector<Stray>& strays,
                                     const std::vector<double>& breaks, bool spread) {
    size_t worst = 0;
    for (size_t i = 0; i < strays.size(); ++i) {
        if (strays[i].distance > strays[worst].distance) worst = i;
    }
    const auto onBreak = [&](size_t k) {
        return std::find(breaks.begin(), breaks.end(), places[k]) != breaks.end();
    };
    const double lo = places[worst], hi = places[worst + 1];
    const double middle = 0.5 * (lo + hi);
    double cut = middle;
    double nearest = 0.25 * (hi - lo);
    for (const double c : breaks) {
        if (c > lo && c < hi && std::abs(c - middle) < nearest) {
            nearest = std::abs(c - middle);
            cut = c;
        }
    }
    // The vertices that bound the segments re-spread (see above): the worst
    // segment's own where it is cut on a break.
    size_t first = worst, last = worst + 1;
    spread = spread && cut == middle;
    while (spread && first > 0 && !onBreak(first)) --first;
    while (spread && last + 1 < places.size() && !onBreak(last)) ++last;
    size_t drop = 0;
    double cheapest = std::numeric_limits<double>::infinity();
    for (size_t k = 1; k + 1 < places.size(); ++k) {
        if (k >= first && k <= last) continue;
        const double cost =
            std::max(strays[k - 1].distance, strays[k].distance) * (onBreak(k) ? kBreakHold : 1.0);
        if (cost < cheapest) {
            cheapest = cost;
            drop = k;
        }
    }
    if (drop == 0 || !(cheapest < 0.5 * strays[worst].distance)) return {};
    if (!spread) {
        places.erase(places.begin() + static_cast<std::ptrdiff_t>(drop));
        places.insert(std::upper_bound(places.begin(), places.end(), cut), cut);
        return places;
    }
    const size_t pieces = last - first + 1;
    std::vector<double> moved;
    for (size_t k = 0; k < places.size(); ++k) {
        if (k == drop || (k > first && k < last)) continue;
        moved.push_back(places[k]);
        for (size_t q = 1; k == first && q < pieces; ++q) {
            moved.push_back(places[first] + (places[last] - places[first]) *
                                                static_cast<double>(q) /
                                                static_cast<double>(pieces));
        }
    }
    return moved;
}

}  // namespace cvqrn::smooth
