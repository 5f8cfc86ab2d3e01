// The smooth rebuild's driver (see smooth_rebuild.h for its stages): the fits
// it tries with a segment count and the one it keeps (FitSmooth), the upright
// planes of the drawn track the kept rail is held in, and the new vertices
// written from it (SmoothRebuild). The stages it calls live by topic in the
// smooth_*.h sources: the tuning, the arithmetic in doubles and its jets, the
// loaded path, the up directions, the vertex places, the rail fit, the finish
// and the ride readings.
//
// Every number here is a double; the only roundings to single are the new
// vertices' coordinates and rolls, as the file stores them. Eigen runs without
// its vectorised kernels so that every build sums in the same order (see
// smooth_eigen.h).
#include "heartline/smooth_rebuild.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "heartline/heartline_run.h"
#include "heartline/smooth_finish.h"
#include "heartline/smooth_jets.h"
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

// How the kept fit was made, so that a finer fit can be made the same way:
// its tuning and the smoothing and lean of its up directions.
struct FitRecipe {
    FitTuning tuning = kSmoothWay;
    double leastSigma = 0.0;
    bool lean = true;
    double smoothShare = 1.0;  // the share of the filter's smoothing reach
    double capBelow = 0.0;     // g the felt lateral's cap is held below its bound
    // g/s the lean's felt lateral onset is held to (see LeanThroughVertical)
    double leanOnset = std::numeric_limits<double>::infinity();
    bool operator==(const FitRecipe&) const = default;
};

// What the up directions a fit was made from were chosen from: the choice
// reads its least reach and smoothing share only through the radius they
// come to.
struct UpChoice {
    int radius = 0;  // samples
    bool lean = true;
    double capBelow = 0.0;
    double leanOnset = 0.0;
    bool operator==(const UpChoice&) const = default;
};

// A fit made, how it was made, and whether its system could be solved.
struct MadeFit {
    FitRecipe recipe;
    RailFit fit;
    bool solved = false;
    UpChoice up;
};

// The latest fits solved, to be taken as they were made where the same fit
// is asked for again. A fit keeps a few hundred bytes per segment, so on a
// long track with many segments only the latest are kept, up to
// kKeptFitSegments segments in all: a refusal makes a few hundred fits, and
// keeping all of 30,000 segments each would take gigabytes.
class MadeFits {
  public:
    // The first fit kept that was solved at `asked`'s places, roll turns and
    // hold weights, the way `tuning` asks, from an up chosen alike (see
    // UpChoice); with `recipe`, one made at them from that recipe also
    // counts. Null where none is kept.
    const MadeFit* Find(const RailFit& asked, const FitTuning& tuning, const UpChoice& up,
                        const FitRecipe* recipe = nullptr) const {
        for (const MadeFit& made : fits_) {
            if (made.fit.places == asked.places && made.fit.rollTurn == asked.rollTurn &&
                made.fit.hold == asked.hold &&
                ((recipe != nullptr && made.recipe == *recipe) ||
                 (made.recipe.tuning == tuning && made.up == up))) {
                return &made;
            }
        }
        return nullptr;
    }
    // Keeps `made`, the oldest fits dropped while more segments are kept
    // than kKeptFitSegments (never the latest).
    void Keep(MadeFit made) {
        segments_ += made.fit.places.size();
        fits_.push_back(std::move(made));
        while (segments_ > kKeptFitSegments && fits_.size() > 1) {
            segments_ -= fits_.front().fit.places.size();
            fits_.pop_front();
        }
    }

  private:
    std::deque<MadeFit> fits_;
    size_t segments_ = 0;
};

// What the fits at one segment count came to: the kept fit and how far it
// lets the hearts stray; the gentlest jolt of a fit that held the hearts and
// the closest a fit that does not jolt came, else any fit (for a refusal).
struct SmoothOutcome {
    bool solved = false;
    RailFit fit;
    Stray best;
    Stray gentlest{std::numeric_limits<double>::infinity(), 0.0};
    Stray closest{std::numeric_limits<double>::infinity(), 0.0};
    // Whether `gentlest` and `closest` lie where the riders lean through a
    // loop's vertical.
    bool gentlestInLean = false;
    bool closestInLean = false;
    FitRecipe recipe;
    // The kept fit's segments before any were lengthened (see
    // LengthenedPlaces): where fewer than asked, its own placement left part
    // of the budget unused.
    int placed = 0;
};

// Every fit the smooth rebuild tries with `segments` segments, the best one
// kept; where none holds the hearts, the vertices of a fit with half as
// many segments that holds them, with the rest placed where they do no harm
// (see SplitPlaces). The kept fit's short segments that jolt are then
// lengthened (see LengthenedPlaces), the coarser fit's too before it is split.
// With `weighCoarser`, a fit that holds them through a loop's lean is weighed
// against the coarser count's (see kCoarserLeanFelt), which weighs its own
// coarser count's so in turn; a kept fit that still misses a bound is
// weighed against the coarser count's too (see below), which, where not
// made already, weighs none. The lean's vertex-roll turns and dense finish
// run where `finishCounts`, the counts from this one down that run them, is
// positive (see kLeanFinishCounts).
SmoothOutcome FitSmooth(HeartlineRun& run, const PathWalk& walk, int segments,
                        const std::function<void(double)>& progress, bool weighCoarser = true,
                        int finishCounts = kLeanFinishCounts);

// The fits FitSmooth tries at one segment count, and the state they share:
// the loaded path and the up directions chosen along it, the fit kept so
// far and the closest ones, and how the kept one was made.
class SmoothFitter {
  public:
    SmoothFitter(HeartlineRun& forRun, const PathWalk& along, int count,
                 const std::function<void(double)>& onProgress, bool weighCoarserCount,
                 int finishCountsFrom)
        : run(forRun),
          walk(along),
          segments(count),
          progress(onProgress),
          weighCoarser(weighCoarserCount),
          finishCounts(finishCountsFrom) {}

    // Tries the fits and says what they came to.
    SmoothOutcome Run();

  private:
    // The kept fit with its forces and readings, to be put back.
    struct KeptState {
        RailFit fit;
        Stray best;
        std::optional<ForcesAlong> forces;
        std::optional<FeltLateral> felt;
        std::optional<VerticalReading> reading;
    };

    // The up directions along the loaded path, smoothed over at least
    // `leastSigma` metres whatever the filter, with the riders leaning
    // through the vertical of a loop if `lean` (see LeanThroughVertical; true
    // in `didLean` where they did), their roll no faster than the segments
    // there can carry (see LimitRollRate).
    auto chooseUp(double leastSigma, bool lean, bool& didLean, double share = 1.0) {
        current.leastSigma = leastSigma;
        current.lean = lean;
        current.smoothShare = share;
        current.capBelow = capBelow;
        current.leanOnset = leanOnset;
        std::vector<PathSample> chosen = loaded;
        ChooseUpDirections(chosen);
        const double meanSpeed = 0.5 * (run.MinSpeed + run.MaxSpeed);
        const double sigma =
            std::max(share * run.Filter * kSmoothSecondsPerPass * meanSpeed, leastSigma);
        // r (r + 1) = (sigma / spacing)^2 for the three running means.
        const double ratio = std::min(sigma / spacing, double{kMaxSmoothRadius});
        const int smoothRadius = static_cast<int>(
            std::nearbyint(0.5 * (std::sqrt(1.0 + 4.0 * ratio * ratio) - 1.0)));
        chosenUp = {smoothRadius, lean, capBelow, leanOnset};
        const bool anywhere = std::abs(heartline) < kFreeRollHeartline;
        std::vector<PathSample> weighted;
        if (anywhere || !stepPlaces.empty()) {
            weighted = chosen;
            SmoothUpDirections(weighted, smoothRadius, true);
        }
        SmoothUpDirections(chosen, smoothRadius);
        if (!weighted.empty()) {
            LeadIntoLateralSteps(chosen, weighted, spacing, kFeltWindow, smoothRadius, stepPlaces,
                                 anywhere, heartline, drawnOnset);
        }
        EaseBankAtSteps(chosen, spacing, kFeltWindow, stepPlaces, drawnOnset, anywhere);
        LimitRollRate(chosen, heartline, kRollRateError, rollRoom,
                      static_cast<int>(std::nearbyint(kRollEaseSeconds * meanSpeed / spacing)));
        CapFeltLateral(chosen, spacing, kFeltWindow,
                       static_cast<int>(std::nearbyint(kCapEaseSeconds * meanSpeed / spacing)),
                       capBelow);
        SetRailTangents(chosen, heartline);
        didLean = lean && LeanThroughVertical(chosen, heartline, spacing, kFeltWindow, leanOnset);
        if (didLean) SetRailTangents(chosen, heartline);
        return chosen;
    }

    // The up chosen with the smoothing and lean `way` was made with, under
    // the cap and lean bounds that stand, and `way` made the recipe of the
    // fit in the making.
    auto chooseUpLike(const FitRecipe& way) {
        bool unused = false;
        samples = chooseUp(way.leastSigma, way.lean, unused, way.smoothShare);
        current = way;
    }

    // Solves the rail's fit at the places set in `rail`, the given way; false
    // where its system cannot be solved.
    auto solveRail(const FitTuning& tuning, RailFit& rail) {
        const int used = static_cast<int>(rail.places.size()) - 1;
        rail.segments = used;
        rail.lengths.resize(AsIndex(used));
        for (size_t i = 0; i < rail.lengths.size(); ++i) {
            rail.lengths[i] = rail.places[i + 1] - rail.places[i];
        }
        // The first round's rail runs along the loaded path.
        rail.point.resize(AsIndex(used) + 1);
        rail.direction.resize(AsIndex(used) + 1);
        rail.rolls.assign(AsIndex(used) + 1, 0.0);
        for (size_t k = 0; k < rail.point.size(); ++k) {
            const PathPlace at = Locate(walk, rail.places[k]);
            const Cubic& c = walk.cubics[AsIndex(at.segment)];
            rail.point[k] = PointAt(c, at.t);
            rail.direction[k] = Unit(FirstAt(c, at.t));
        }
        rail.steep.resize(AsIndex(used));
        for (int i = 0; i < used; ++i) {
            std::vector<double>& steep = rail.steep[AsIndex(i)];
            for (int q = 0; q < rail.perSegment; ++q) {
                const double s =
                    rail.places[AsIndex(i)] +
                    rail.lengths[AsIndex(i)] * q / static_cast<double>(rail.perSegment - 1);
                steep.push_back(Steepness(RailTangentAt(samples, spacing, s)));
            }
        }
        // See KeepsRollRate.
        rail.keepRate.assign(rail.point.size(), tuning.rateFlagsEverywhere ? 1 : 0);
        rail.curveWeight = tuning.curveWeight;
        rail.holdEnds = tuning.holdEnds;
        rail.curveAtStart = tuning.curveAtStart;
        rail.curveAtEnd = tuning.curveAtEnd;
        rail.rampsAwayFromLean = tuning.rampsAwayFromLean;
        rail.rampsOnSlopes = tuning.rampsOnSlopes;
        for (int i = 0; i < used && !tuning.rateFlagsEverywhere; ++i) {
            const std::vector<double>& steep = rail.steep[AsIndex(i)];
            if (std::any_of(steep.begin(), steep.end(), [](double x) { return x > 0.0; })) {
                rail.keepRate[AsIndex(i)] = 1;
                if (i + 1 < used) rail.keepRate[AsIndex(i) + 1] = 1;
            }
        }
        // A vertex whose two segments barely run steep, the one shorter than
        // the felt window and the other much longer, loses the flag again
        // (see kFlagLengthRatio).
        const auto steepest = [](const std::vector<double>& v) {
            return *std::max_element(v.begin(), v.end());
        };
        for (int k = 1; k < used && !tuning.rateFlagsEverywhere; ++k) {
            const size_t at = AsIndex(k);
            const double before = rail.lengths[at - 1], after = rail.lengths[at];
            const double shorter = std::min(before, after);
            if (rail.keepRate[at] != 0 &&
                std::max(steepest(rail.steep[at - 1]), steepest(rail.steep[at])) < kFlagSteepness &&
                std::max(before, after) > kFlagLengthRatio * shorter &&
                shorter < kFeltWindow * SpeedAt(samples, spacing, rail.places[at])) {
                rail.keepRate[at] = 0;
            }
        }
        rail.pathDirection = rail.direction;
        rail.pull.assign(rail.direction.size(), kDirectionPull);
        for (size_t k = 0; k < rail.direction.size(); ++k) {
            const D3 ideal = RailTangentAt(samples, spacing, rail.places[k]);
            const double steep = Steepness(ideal);
            if (steep > 0.0) {
                rail.pathDirection[k] = (1.0 - steep) * rail.direction[k] + steep * ideal;
                rail.pull[k] = kDirectionPull + steep * kSteepPull;
            }
        }
        Solver solver;
        FactoriseFit(rail, solver);
        if (solver.info() != Eigen::Success) return false;
        for (int round = 0; round < kFitRounds; ++round) {
            FitRound(walk, samples, spacing, heartline, solver, rail);
            progress(0.3 + 0.5 * (round + 1) / kFitRounds);
        }
        FinishFit(walk, samples, spacing, heartline, rail);
        return true;
    }

    // Fits the rail the given way; false where its system cannot be solved.
    auto fitRail(const FitTuning& tuning, RailFit& rail) {
        current.tuning = tuning;
        rail = RailFit{};
        rail.perSegment = pointsPerSegment;
        rail.places = !givenPlaces.empty()
                          ? givenPlaces
                          : PlaceVertices(samples, length, segments, spacing, heartline,
                                          tuning.curvatureError, limit, limitLean);
        // (A coarser fit's places, given, were aligned when it was placed.)
        if (givenPlaces.empty() && !leans) AlignCurveSteps(steps, rail.places);
        // The placement may leave part of the budget unused (see PlaceVertices).
        const int used = static_cast<int>(rail.places.size()) - 1;
        budgetLeft = budgetLeft || used < segments;
        // A fit made before at the same places, the same way and from the
        // same up directions is the same fit: it is taken as it was made.
        // So is one made the same way from an up chosen alike (see UpChoice):
        // the shorter smoothing tries shares that may round to one radius.
        if (const MadeFit* made = madeFits.Find(rail, current.tuning, chosenUp, &current)) {
            rail = made->fit;
            return made->solved;
        }
        ++run.RailFits;
        const bool solvedNow = solveRail(tuning, rail);
        madeFits.Keep({current, rail, solvedNow, chosenUp});
        return solvedNow;
    }

    // Keeps `tried` where it holds the hearts better than the best so
    // far; how far it lets them stray. A stray that is not a number, and a
    // rail that jolts the riders beyond kLargestJolt (kLargestEndJolt at the
    // track's ends), count as the farthest.
    // (`strays`, where given, are the candidate's SegmentStrays, already at hand.)
    auto consider(RailFit& tried, const std::vector<Stray>* strays = nullptr) {
        Stray stray = strays != nullptr ? HeldStray(walk, heartline, tried, *strays)
                                        : HeldStray(walk, heartline, tried);
        considered = stray;
        RailJolts jolt = JoltsOf(samples, spacing, heartline, tried);
        const bool jolting =
            !(jolt.hardest.distance <= kLargestJolt) || !(jolt.end <= kLargestEndJolt);
        const double held =
            std::isnan(stray.distance) ? std::numeric_limits<double>::infinity() : stray.distance;
        if (stray.distance < closest.distance) {
            closest = stray;
            closestFit = tried;
            closestRecipe = current;
        }
        if (current.tuning.curvatureError == kRefinedWay.curvatureError &&
            stray.distance < closestAlike.distance) {
            closestAlike = stray;
            closestAlikeFit = tried;
        }
        if (stray.distance <= kLargestStray && jolt.hardest.distance < gentlest.distance) {
            gentlest = jolt.hardest;
        }
        if (!jolting && stray.distance < closestCalm.distance) closestCalm = stray;
        if (std::isnan(stray.distance) || jolting) {
            stray.distance = std::numeric_limits<double>::infinity();
        }
        const bool keptJolts = solved && !(bestJolt.distance <= kLargestJolt);
        if (!solved || stray.distance < best.distance ||
            (stray.distance == best.distance && keptJolts && !jolting)) {
            fit = std::move(tried);
            best = stray;
            bestJolt = jolt.hardest;
            bestJolts = std::move(jolt.segments);
            solved = true;
            recipe = current;
        }
        return held;
    }

    // The smooth way, and the cautious way too where that lets the hearts
    // stray beyond kCautiousStray.
    auto fitEitherWay() {
        const bool held = fitRail(kSmoothWay, candidate) && consider(candidate) <= kCautiousStray;
        if (!held && fitRail(kCautiousWay, candidate)) consider(candidate);
    }

    // Shorter segments where the hearts stray and the rail fitted again (see
    // kRefinedWay), from `from` where given, else from the closest fit so
    // far, with the lean where the track has one; through the lean too if
    // `throughLean`.
    auto refine(bool throughLean, bool scarce, const RailFit* from = nullptr) {
        limitLean = throughLean;
        samples = chooseUp(std::max(kLeastSmoothing * length / segments,
                                    kLeastSmoothSeconds * 0.5 * (run.MinSpeed + run.MaxSpeed)),
                           leans, leaned);
        RailFit last = from != nullptr ? *from : std::isfinite(closest.distance) ? closestFit : fit;
        std::vector<Stray> strays = SegmentStrays(walk, heartline, last);
        // The places of this refining's fits. A round that places the
        // vertices as an earlier one did fits its rail again, and without
        // `scarce` it ends the refining: a limit only falls, to what the
        // strays of a fit ask for, so that fit's strays ask nothing the
        // earlier round's did not, and every later round would place and fit
        // the same again (random case_140 at 240 segments: the last four of
        // its eight rounds). Its fit was considered when it was first made.
        // With `scarce` the limits shrink every round, and a repeat may still
        // lead on. Nor, without it, does a round whose stray matches the
        // round before's, in size and place, within kSameStray: the shorter
        // segments left the hearts where they were, and the later rounds
        // only wandered off (random case_046, its heartline 1.4 m below the
        // rail, at its own count: 4.0 cm at 59.0 m four rounds running,
        // then 6 to 15 cm elsewhere; its refusals at one, two and four
        // times its segments took a fifth less time this way, and no
        // rebuild or refusal of 200 random layouts changed).
        std::vector<std::vector<double>> placed;
        Stray before{std::numeric_limits<double>::quiet_NaN(), 0.0};
        for (int round = 0; round < kRefineRounds && best.distance > kHeldStray &&
                            RefineLimits(last, strays, spacing, bendLimits, limit, scarce);
             ++round) {
            if (!fitRail(kRefinedWay, last)) break;
            if (!scarce) {
                if (std::find(placed.begin(), placed.end(), last.places) != placed.end()) break;
                placed.push_back(last.places);
            }
            strays = SegmentStrays(walk, heartline, last);
            RailFit refined = last;
            consider(refined, &strays);
            if (!scarce && std::abs(considered.at - before.at) < kSameStray &&
                std::abs(considered.distance - before.distance) < kSameStray) {
                break;
            }
            before = considered;
        }
        limitLean = false;
    }

    // The rail fitted at `givenPlaces` the way the kept fit was made, into
    // `refit`; false where that fails. Clears `givenPlaces`.
    auto refitKeptWay(RailFit& refit) {
        chooseUpLike(recipe);
        const bool made = fitRail(recipe.tuning, refit);
        givenPlaces.clear();
        return made;
    }

    // The up chosen like `way` (see chooseUpLike), its cap and lean bounds
    // taken for that choice alone.
    auto chooseUpAs(const FitRecipe& way) {
        const double keptCapBelow = capBelow, keptLeanOnset = leanOnset;
        capBelow = way.capBelow;
        leanOnset = way.leanOnset;
        chooseUpLike(way);
        capBelow = keptCapBelow;
        leanOnset = keptLeanOnset;
    }

    // The rail fitted at the kept fit's places with the up chosen again the
    // way `way` asks, its cap and lean bounds taken for that choice alone
    // (the later choices keep theirs); whether it could be made. A kept fit
    // whose finish held the heart's place harder on some segments (see
    // `hold`) is solved again with those weights, on the same segments:
    // without them the rail solved again is the fit before that finish,
    // which let the hearts stray further (random case_151 at its own count:
    // 2.33 cm against 1.73). The fits made before were solved without the
    // weights, so such a fit is solved anew.
    auto refitAtKeptPlaces(const FitRecipe& way, RailFit& refit) {
        chooseUpAs(way);
        if (!fit.hold.empty()) {
            refit = RailFit{};
            refit.perSegment = fit.perSegment;
            refit.places = fit.places;
            refit.hold = fit.hold;
            ++run.RailFits;
            return solveRail(way.tuning, refit);
        }
        givenPlaces = fit.places;
        const bool made = fitRail(way.tuning, refit);
        givenPlaces.clear();
        return made;
    }

    const ForcesAlong& keptForcesAlong() {
        if (!keptForces) keptForces = ForcesAlongOf(loaded, spacing, heartline, fit);
        return *keptForces;
    }

    const FeltLateral& keptFeltLateral() {
        if (!keptFelt) keptFelt = FeltLateralOver(keptForcesAlong().along);
        return *keptFelt;
    }

    const VerticalReading& keptVerticalReading() {
        if (!keptReading) keptReading = VerticalOver(keptForcesAlong());
        return *keptReading;
    }

    const FeltLateral& drawnFeltLateral() {
        if (!drawnFelt) drawnFelt = DrawnFeltLateral(loaded, spacing);
        return *drawnFelt;
    }

    // The bounds a refit's felt lateral is weighed against, from the drawn
    // track's: its onset bound (see kOnsetBoundFactor and kOnsetBoundMargin);
    // that bound as a refit is tried within it, the drawn onset read either
    // way (on the loaded samples or on the ride profile's grid, see
    // DrawnFeltLateral) and the try's own margin (see kOnsetTryMargin); and
    // the drawn gap between raw and felt lateral with the margin a refit may
    // open beyond it (see kShortSmoothGapMargin).
    auto drawnOnsetBound() {
        return kOnsetBoundFactor * drawnFeltLateral().onset + kOnsetBoundMargin;
    }

    auto triedOnsetBound() {
        return kOnsetBoundFactor * std::max(drawnOnset, drawnFeltLateral().onset) + kOnsetTryMargin;
    }

    auto triedGapBound() { return drawnFeltLateral().Gap() + kShortSmoothGapMargin; }

    // Whether a refit's raw lateral stands no further above its felt one
    // than the kept rail's does, or the drawn track's with a margin (see
    // kShortSmoothGapMargin), or its largest raw lateral stands no higher
    // than the kept rail's (see kPacedRawMargin): a gap that grows only
    // because the felt lateral falls rides no worse. (Random case_023 at its
    // own count: the cap's refit lowered the largest felt lateral from 2.87
    // to 2.77 g and the lateral onset by 0.12 g/s, its raw largest 0.1 g
    // lower too, and was dropped for a gap 0.004 g wider.)
    auto opensNoGap(const FeltLateral& before, const FeltLateral& after) {
        return after.Gap() <= std::max(before.Gap(), triedGapBound()) ||
               after.rawLargest <= before.rawLargest + kPacedRawMargin;
    }

    // Whether a refit's felt lateral RMS stays clearly within the drawn
    // track's (see kDrawnRmsShare).
    auto withinDrawnRms(const FeltLateral& after) {
        const FeltLateral& drawn = drawnFeltLateral();
        return after.squares * drawn.counted <=
               kDrawnRmsShare * kDrawnRmsShare * drawn.squares * after.counted;
    }

    // `moved` kept in place of the kept fit where it holds the hearts without
    // jolting the riders and `ridesNoWorse(kept, moved)` holds for their felt
    // lateral. With `forces`, the moved rail's forces (read here into it
    // where it is empty, once the rail holds the hearts without jolting), and
    // with `reading`, its vertical read from them already: its felt lateral is
    // read from those forces, and both are kept with it, so that neither is
    // read again.
    auto keepReadIf(RailFit& moved, std::optional<ForcesAlong>* forces,
                    const VerticalReading* reading, const auto& ridesNoWorse) {
        const Stray stray = HeldStray(walk, heartline, moved);
        if (!(stray.distance <= kHeldStray)) return;
        const RailJolts jolt = JoltsOf(samples, spacing, heartline, moved);
        if (!(jolt.hardest.distance <= kLargestJolt) || !(jolt.end <= kLargestEndJolt)) return;
        if (forces != nullptr && !*forces)
            *forces = ForcesAlongOf(loaded, spacing, heartline, moved);
        const FeltLateral after = forces != nullptr
                                      ? FeltLateralOver((*forces)->along)
                                      : FeltLateralOf(loaded, spacing, heartline, moved);
        if (!ridesNoWorse(keptFeltLateral(), after)) return;
        fit = std::move(moved);
        best = stray;
        keptFelt = after;
        if (forces != nullptr) {
            keptForces = std::move(**forces);
        } else {
            keptForces.reset();
        }
        if (reading != nullptr) {
            keptReading = *reading;
        } else {
            keptReading.reset();
        }
    }

    auto keepIf(RailFit& moved, const auto& ridesNoWorse) {
        keepReadIf(moved, nullptr, nullptr, ridesNoWorse);
    }

    // A kept fit that holds the hearts, with curvature steps left inside its
    // segments: the vertices nearest them moved onto them and the rail fitted
    // again the way the kept one was, kept where it still holds the hearts
    // without jolting the riders and they feel no more lateral for it: its
    // largest no more than `largest` (g) higher, its squares no more than
    // `squares` times as many (see kMissedStepSquares). Not on a track with a
    // loop's lean, which sets its segments.
    auto refitOnto(double largest, double squares) {
        if (givenPlaces.empty()) return;
        RailFit moved;
        if (!refitKeptWay(moved)) return;
        keepIf(moved, [&](const FeltLateral& before, const FeltLateral& after) {
            return after.largest <= before.largest + largest &&
                   after.squares <= squares * before.squares &&
                   after.onset <= before.onset + kMissedStepOnset;
        });
    }

    // The kept fit's count of vertices placed again with the roll's segments
    // within kOnsetRefitSeconds of `at` (where that refit is not kept, within
    // kOnsetWideSeconds) as long as the measured error asks, up to one felt
    // window (see PlaceVertices), and the rail fitted the kept way, kept where
    // `ridesNoWorse(kept, refit)` holds (see keepIf).
    auto refitAbout(double at, const auto& ridesNoWorse) {
        chooseUpLike(recipe);
        const double speed = SpeedAt(samples, spacing, at);
        for (const double seconds : {kOnsetRefitSeconds, kOnsetWideSeconds}) {
            const double reach = seconds * speed;
            givenPlaces = PlaceVertices(samples, length, fit.segments, spacing, heartline,
                                        recipe.tuning.curvatureError, limit, limitLean, at - reach,
                                        at + reach);
            AlignCurveSteps(steps, givenPlaces);
            RailFit placed;
            const bool made = fitRail(recipe.tuning, placed);
            givenPlaces.clear();
            if (!made) continue;
            bool kept = false;
            keepIf(placed, [&](const FeltLateral& before, const FeltLateral& after) {
                kept = ridesNoWorse(before, after);
                return kept;
            });
            if (kept) return;
        }
    }

    // The kept fit's roll turns as they stand (none: zero at every vertex),
    // and a copy of the kept fit's places and segments with those turns and
    // vertices `which` turned further by `share` of `towards`, for the turns
    // below to fit the rail with.
    auto keptRollTurn() {
        return fit.rollTurn.empty() ? std::vector<double>(fit.places.size(), 0.0) : fit.rollTurn;
    }

    auto turnedCopy(const std::vector<double>& base, const std::vector<size_t>& which,
                    const std::vector<double>& towards, double share) {
        RailFit turned;
        turned.perSegment = fit.perSegment;
        turned.places = fit.places;
        turned.rollTurn = base;
        turned.hold = fit.hold;
        for (size_t n = 0; n < which.size(); ++n) turned.rollTurn[which[n]] += share * towards[n];
        return turned;
    }

    auto keptState() { return KeptState{fit, best, keptForces, keptFelt, keptReading}; }

    auto putBack(const KeptState& state) {
        fit = state.fit;
        best = state.best;
        keptForces = state.forces;
        keptFelt = state.felt;
        keptReading = state.reading;
    }

    // Whether `at` lies where the riders lean through a loop's vertical.
    auto withinLean(double at) {
        for (size_t k = 0; k + 1 < leanSpans.size(); k += 2) {
            if (at >= leanSpans[k] && at <= leanSpans[k + 1]) return true;
        }
        return false;
    }

    // Whether the stretch from `from` to `to` reaches into such a lean.
    auto reachesLean(double from, double to) {
        for (size_t k = 0; k + 1 < leanSpans.size(); k += 2) {
            if (to >= leanSpans[k] && from <= leanSpans[k + 1]) return true;
        }
        return false;
    }

    // Where the kept rail's felt onset still breaks, or nearly (see
    // kPacedNearMargin), the drawn track's bound (read on the ride profile's
    // grid, see DrawnFeltLateral): the eased roll wobbles the heart once per
    // segment, about the up it follows, and the felt window averages that
    // wobble out only where a segment is as long as the window. So the kept
    // vertices within kOnsetRefitSeconds of the onset are replaced by vertices
    // one felt window of path apart (then a share of one, see
    // kPacedWindowShares), paced both ways from the kept vertex nearest the
    // onset, the rest of the track giving up or taking back vertices so the
    // count stays (see KeepVertexCount; where pacing freed vertices, the fewer
    // tried next), and the rail fitted the kept way; where none of those
    // holds the hearts without jolting, the vertices within kPacedRollSeconds
    // paced so instead. The first refit is kept that holds the hearts without
    // jolting, its onset lower, its raw lateral no further above the felt one
    // than the kept rail's or the drawn track's (see kShortSmoothGapMargin)
    // or no higher than the kept rail's (see kPacedRawMargin) or clearly
    // within the drawn track's gap and its tolerance (see kStepRollGapMargin),
    // and its felt lateral no larger and its squares no more; failing that,
    // the first that, where the kept rail breaks the bound, keeps within it
    // (or, where the kept rail reads within kPacedNearMargin of the bound,
    // keeps that margin within it, its largest felt lateral no higher) and
    // rides clearly within the drawn track's felt lateral: its RMS (see
    // kDrawnRmsShare) and its largest, clearly below the drawn track's (see
    // kDrawnLargestMargin) or no higher than the kept rail's nor the drawn
    // track's. (Random case_173 at its own count:
    // 2.6 to 3.4 m segments at 18.6 m/s, the raw lateral wobbling up to 0.35 g
    // about the chosen up's on each, a lateral onset of 11.0 g/s against a
    // bound of 10.0, which the refits above lowered to 10.6 at most; paced,
    // 9.2. Tried wherever the onset refit is, it dropped the vertices of a straight
    // without lateral and raised its vertical onset beyond its own bound.
    // Paced only where the stretch had vertices to spare, random case_032 at
    // its own count, segments longer than the felt window at the onset, kept a
    // lateral onset 0.47 g/s beyond the bound. Tried only where the onset
    // refit is as well, random case_073 at four times its segments was never
    // paced: its drawn onset read on the loaded samples stood 9 g/s above the
    // grid's and its lateral onset 0.55 g/s beyond the bound. Random case_034
    // at four times its segments read 10.364 g/s against a bound of 10.364
    // and rode just beyond it; its paced refit at the fewer vertices,
    // dropped for 0.17 % more squares, read 9.8 with its largest felt
    // lateral no higher. Random case_023 at its own count, capped (see
    // below), rode a lateral onset 0.34 g/s beyond the bound; paced after the
    // cap, 15.1 g/s against a bound of 17.5, its largest 0.007 g lower and
    // 0.09 g below the drawn track's, dropped for 0.16 % more squares.)
    // With `pastLean`, on a track whose riders lean through a loop's
    // vertical, paced only where the onset lies outside the lean, and no
    // vertex in the lean paced (see below).
    auto paceOnset(bool pastLean = false) {
        if ((leans && (!pastLean || withinLean(keptFeltLateral().onsetAt))) || !solved ||
            !(best.distance <= kHeldStray) ||
            !(keptFeltLateral().onset > drawnOnsetBound() - kPacedNearMargin)) {
            return;
        }
        const std::vector<double> kept = fit.places;
        const double onsetAt = keptFeltLateral().onsetAt;
        const size_t nearest = NearestPlace(kept, onsetAt);
        if (nearest >= 2 && nearest + 2 < kept.size()) {
            chooseUpLike(recipe);
            // The refits paced at `share` of a felt window over the kept
            // vertices within `seconds` of the onset, at the fewer vertices
            // too where `fewerToo`.
            const auto pacedAt = [&](double seconds, double share, bool fewerToo) {
                const double reach = seconds * SpeedAt(samples, spacing, onsetAt);
                // The kept vertices before `first` and after `last` stay.
                size_t first = nearest, last = nearest;
                while (first > 1 && kept[first - 1] > onsetAt - reach &&
                       !withinLean(kept[first - 1])) {
                    --first;
                }
                while (last + 2 < kept.size() && kept[last + 1] < onsetAt + reach &&
                       !withinLean(kept[last + 1])) {
                    ++last;
                }
                const auto window = [&](double s) {
                    return share * kFeltWindow * SpeedAt(samples, spacing, s);
                };
                // (Paced to more vertices than the kept fit has, it is not tried.)
                std::vector<double> behind, ahead;
                const auto more = [&](double at) {
                    return window(at) > 0.0 && behind.size() + ahead.size() < kept.size();
                };
                for (double at = kept[nearest] - window(kept[nearest]);
                     more(at) && at >= kept[first - 1] + 0.5 * window(at); at -= window(at)) {
                    behind.push_back(at);
                }
                for (double at = kept[nearest] + window(kept[nearest]);
                     more(at) && at <= kept[last + 1] - 0.5 * window(at); at += window(at)) {
                    ahead.push_back(at);
                }
                std::vector<double> paced(kept.begin(),
                                          kept.begin() + static_cast<std::ptrdiff_t>(first));
                paced.insert(paced.end(), behind.rbegin(), behind.rend());
                paced.push_back(kept[nearest]);
                paced.insert(paced.end(), ahead.begin(), ahead.end());
                // The paced vertices and the kept ones either side of them
                // (indices `held` to `held + heldCount` of `paced`) stay; the
                // count is kept by taking vertices from, or giving them back
                // to, the rest of the track (see KeepVertexCount).
                const size_t held = first - 1;
                const size_t heldCount = behind.size() + ahead.size() + 3;
                paced.insert(paced.end(), kept.begin() + static_cast<std::ptrdiff_t>(last + 1),
                             kept.end());
                // Tried at the kept count first, then, where pacing freed
                // vertices and `fewerToo`, at the fewer.
                std::vector<std::vector<double>> tries;
                std::vector<double> counted = paced;
                if (KeepVertexCount(samples, limit, steps, held, heldCount, kept.size(), counted)) {
                    tries.push_back(std::move(counted));
                }
                if (fewerToo && paced.size() < kept.size()) {
                    // At the fewer, the dense kept vertices beside the paced
                    // stretch would meet segments many times their length:
                    // the steps towards either kept vertex that stays are
                    // graded (see kPacedGrading), all of that side's steps
                    // then scaled alike so the last lands on it.
                    const auto graded = [&](size_t edge, size_t beyond, std::vector<double>& out) {
                        const double span = std::abs(kept[edge] - kept[nearest]);
                        const double toward = kept[edge] > kept[nearest] ? 1.0 : -1.0;
                        const double neighbour = std::abs(kept[beyond] - kept[edge]);
                        std::vector<double> offsets{0.0};
                        while (offsets.back() < span && offsets.size() <= kept.size()) {
                            const double off = offsets.back();
                            const double ramp =
                                (neighbour + kPacedGrading * (span - off)) / (1.0 + kPacedGrading);
                            const double step =
                                std::min(window(kept[nearest] + toward * off), ramp);
                            if (!(step > 0.0)) return false;
                            offsets.push_back(off + step);
                        }
                        size_t n = offsets.size() - 1;
                        if (!(offsets[n] >= span)) return false;
                        if (n >= 2 && (span - offsets[n - 1]) * offsets[n] <
                                          (offsets[n] - span) * offsets[n - 1]) {
                            --n;
                        }
                        const double scale = span / offsets[n];
                        for (size_t i = 1; i < n; ++i) {
                            out.push_back(kept[nearest] + toward * (scale * offsets[i]));
                        }
                        return true;
                    };
                    // (At the track's ends, where no kept segment lies
                    // beyond, the steps stay as paced.)
                    std::vector<double> gradedBehind, gradedAhead;
                    if (first < 2) gradedBehind = behind;
                    if (last + 2 >= kept.size()) gradedAhead = ahead;
                    if ((first < 2 || graded(first - 1, first - 2, gradedBehind)) &&
                        (last + 2 >= kept.size() || graded(last + 1, last + 2, gradedAhead))) {
                        std::vector<double> fewer(
                            kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(first));
                        fewer.insert(fewer.end(), gradedBehind.begin(), gradedBehind.end());
                        fewer.push_back(kept[nearest]);
                        fewer.insert(fewer.end(), gradedAhead.begin(), gradedAhead.end());
                        fewer.insert(fewer.end(),
                                     kept.begin() + static_cast<std::ptrdiff_t>(last + 1),
                                     kept.end());
                        std::sort(fewer.begin() + static_cast<std::ptrdiff_t>(first),
                                  fewer.begin() +
                                      static_cast<std::ptrdiff_t>(first + gradedBehind.size()));
                        if (fewer.size() < kept.size()) tries.push_back(std::move(fewer));
                    }
                }
                std::vector<RailFit> made;
                for (std::vector<double>& places : tries) {
                    RailFit refit;
                    givenPlaces = std::move(places);
                    if (givenPlaces != kept && fitRail(recipe.tuning, refit)) {
                        made.push_back(std::move(refit));
                    }
                }
                givenPlaces.clear();
                return made;
            };
            // The first of `refits` kept where it rides no more lateral or,
            // `clearlyWithin`, where the kept rail breaks the bound and the
            // refit keeps within it and clearly within the drawn track's.
            const FeltLateral& drawn = drawnFeltLateral();
            const double bound = drawnOnsetBound();
            // Whether any refit held the hearts without jolting.
            bool anyHeld = false;
            const auto keepFirst = [&](std::vector<RailFit>& refits, bool clearlyWithin) {
                bool better = false;
                for (RailFit& refit : refits) {
                    keepIf(refit, [&](const FeltLateral& before, const FeltLateral& after) {
                        anyHeld = true;
                        if (!(after.onset < before.onset) ||
                            !(opensNoGap(before, after) ||
                              after.Gap() <= drawn.Gap() + kGapTolerance - kStepRollGapMargin)) {
                            return false;
                        }
                        const double near = bound - kPacedNearMargin;
                        const bool into = (before.onset > bound && after.onset <= bound) ||
                                          (before.onset > near && after.onset <= near &&
                                           after.largest <= before.largest);
                        const bool lower =
                            after.largest <= drawn.largest - kDrawnLargestMargin ||
                            (after.largest <= before.largest && after.largest <= drawn.largest);
                        better = clearlyWithin ? into && lower && withinDrawnRms(after)
                                               : after.largest <= before.largest &&
                                                     after.squares <= before.squares;
                        return better;
                    });
                    if (better) return true;
                }
                return false;
            };
            std::vector<RailFit> refits;
            bool better = false;
            for (const bool rollAlone : {false, true}) {
                if (better || (rollAlone && anyHeld)) break;
                const double seconds = rollAlone ? kPacedRollSeconds : kOnsetRefitSeconds;
                for (size_t k = 0; k < kPacedWindowShares.size(); ++k) {
                    std::vector<RailFit> made = pacedAt(seconds, kPacedWindowShares[k], k == 0);
                    better = keepFirst(made, false);
                    if (better) break;
                    for (RailFit& refit : made) refits.push_back(std::move(refit));
                }
            }
            if (!better) keepFirst(refits, true);
        }
    }

    // The loaded sample nearest arc length s.
    auto sampleAt(double s) {
        return static_cast<size_t>(
            std::nearbyint(std::clamp(s / spacing, 0.0, static_cast<double>(loaded.size() - 1))));
    }

    // How far vertex q's roll is to turn to put its up along `force` across
    // the rail's tangent there (none at the ends).
    auto turnToward(size_t q, const D3& force, double& toward) {
        if (q == 0 || q + 1 >= fit.places.size()) return false;
        const D3 tangent =
            SteepBlend(fit.direction[q], RailTangentAt(samples, spacing, fit.places[q]));
        LevelFrame frame;
        const D3 up = Across(force, Unit(tangent));
        if (!LevelFrameOf(tangent, frame) || !(Norm(up) > 0.0)) return false;
        toward = std::remainder(RollOf(frame, Unit(up)) - fit.rolls[q], 2.0 * M_PI);
        return true;
    }

    // A kept fit whose finish held the heart's place harder on some segments
    // (see `hold`), fitted again with those weights (see refitAtKeptPlaces),
    // may ride a vertical onset within the drawn track's bound: with them the
    // whole rail moves a little (random case_151 at its own count: its
    // vertical onset up by 0.002 g/s, far from the end).
    auto verticalOnsetRides(double kept, double ride) {
        return ride <= kept + kStepRollOnsetNoise ||
               (!fit.hold.empty() &&
                ride <=
                    kOnsetBoundFactor * DrawnFeltVerticalOnset(loaded, spacing) + kOnsetTryMargin);
    }

    // The vertex at the track's end (or start) where the drawn track ends
    // (or starts) level and unbanked and the kept rail's lowest felt vertical
    // lies in that end's segment, below the drawn track's by nearly its
    // tolerance (see kEndCurveTryMargin); none where neither end does.
    std::optional<size_t> dippingLevelEnd() {
        const FeltVertical keptVertical = keptVerticalReading().felt;
        const size_t last = fit.places.size() - 1;
        const bool atEnd = keptVertical.lowestAt >= fit.places[last - 1] &&
                           loaded.back().drawnUp.y > kLevelUnbanked;
        const bool atStart = !atEnd && keptVertical.lowestAt <= fit.places[1] &&
                             loaded.front().drawnUp.y > kLevelUnbanked;
        if (!(atStart || atEnd) ||
            !(keptVertical.lowest < DrawnFeltLowest(loaded, spacing) - kEndCurveTryMargin)) {
            return std::nullopt;
        }
        return atEnd ? last : 0;
    }

    // Where the kept rail's raw lateral still stands further above its felt
    // lateral than the drawn track's does, or nearly (see kStepRollGapMargin),
    // and the raw peak sits at a drawn curvature step: the roll of the vertex
    // nearest that step turned part of the way towards the summed force across
    // the step, and the rail fitted the kept way with it. Where the turns move
    // the raw peak on, the same again about its new place, up to
    // kStepRollRounds times, each place once.
    // Makes those turns, round by round (the places turned about gathered in
    // `turnedPlaces`); with `first`, the first round only about one of those
    // steps, and none where the raw peak lies by none of them.
    auto turnAboutSteps(std::vector<double>& turnedPlaces, const std::vector<CurveStep>* first) {
        for (int round = 0; round < kStepRollRounds; ++round) {
            if (leans || !solved || !(best.distance <= kHeldStray) ||
                !(keptFeltLateral().Gap() > kGapTolerance - kStepRollGapMargin)) {
                break;
            }
            const FeltLateral before = keptFeltLateral();
            const double drawnGap = drawnFeltLateral().Gap();
            const double gap = before.Gap();
            if (!(gap > drawnGap + kGapTolerance - kStepRollGapMargin)) break;
            const CurveStep* step =
                round == 0 && first != nullptr
                    ? NearestStep(*first, {}, before.rawAt, kStepRollReach)
                    : NearestStep(steps, missedSteps, before.rawAt, kStepRollReach);
            if (step == nullptr && round == 0 && first != nullptr) break;
            // After the first round, a raw peak with no drawn step near it is
            // turned about itself, at the speed there.
            CurveStep peak;
            if (step == nullptr && round > 0) {
                peak = {before.rawAt, 0.0, SpeedAt(loaded, spacing, before.rawAt)};
                step = &peak;
            }
            if (step == nullptr) continue;
            if (std::find(turnedPlaces.begin(), turnedPlaces.end(), step->at) !=
                turnedPlaces.end()) {
                break;
            }
            turnedPlaces.push_back(step->at);
            const size_t k = NearestPlace(fit.places, step->at);
            chooseUpLike(recipe);
            const double half = 0.5 * kFeltWindow * step->speed;
            const D3 fore = loaded[sampleAt(step->at - half)].feltAcross;
            const D3 aft = loaded[sampleAt(step->at + half)].feltAcross;
            const double bound = kOnsetBoundFactor * drawnOnset + kOnsetTryMargin;
            // Turns the rolls of vertices `which` the shares of `towards`
            // part by part, each turn kept only where it lowers the gap; where
            // a part is refused after one or more were kept, half a part more
            // is tried once (random case_160 at four times its segments, at
            // its 6.3 g step at 200.7 m: the fourth part moved the raw peak
            // before the step and cut the gap by 0.004 g, half of it by
            // 0.031 g, which cleared it, its largest felt lateral from 2.47 to
            // 2.44 g; over 600 random runs eleven more rode less felt
            // lateral so, by up to 0.11 g, and none more). The
            // turned roll must not raise the rail's gap as a whole: the
            // vertical's may not rise above the lateral's as it was. With
            // `holdVertical` the felt vertical may not reach further either
            // (see kStepRollFelt). A part may not raise both the largest felt
            // lateral and its squares, nor the squares above the rail's before
            // the first part: a part that cuts the gap and the largest may
            // give back a hair of the squares the earlier parts saved (random
            // case_069 at four times its segments, at its 3.5 g step at 228 m:
            // the seventh part cut the gap from 0.64 to 0.51 g and the largest
            // by 0.001 g, its squares up by 0.03 % on the sixth's and 1.7 %
            // below the first's; held to the sixth's, the turn stopped there,
            // 0.03 g beyond the drawn track's gap and its tolerance). A part
            // that cuts no gap is kept too where the lateral's and vertical's
            // gaps stay within the drawn track's, its tolerance and
            // kStepRollGapMargin, and it lowers the largest felt lateral by more
            // than kStepRollGain without raising its squares: random case_189
            // at its own count, 0.41 g of gap against a bound of 0.46, dropped
            // a part that lowered its largest felt lateral from 2.45 to 2.39 g
            // for a gap 0.001 g wider. One that lowers the squares alone is not
            // kept: on the builder's high hill at 200 segments such a part cut
            // the squares by 11 % and raised the vertical gap from 0.09 to
            // 0.39 g, the heart's kinks from 0.06 to 0.09 degrees.
            const auto turnRolls = [&](const std::vector<size_t>& which,
                                       const std::vector<double>& towards, bool holdVertical) {
                const VerticalReach keptVertical = keptVerticalReading().reach;
                double keptGap = std::max(keptFeltLateral().Gap(), keptVertical.Gap());
                const std::vector<double> base = keptRollTurn();
                const FeltLateral start = keptFeltLateral();
                bool halved = false;
                for (double part = 1.0; part <= kStepRollParts; part += 1.0) {
                    RailFit turned = turnedCopy(base, which, towards, part * kStepRollShare);
                    ++run.RailFits;
                    if (!solveRail(recipe.tuning, turned)) break;
                    bool taken = false;
                    double turnedGap = 0.0;
                    keepIf(turned, [&](const FeltLateral& kept, const FeltLateral& after) {
                        const double target = drawnGap + kGapTolerance - kStepRollGapMargin;
                        const bool within = after.Gap() <= target &&
                                            after.largest < kept.largest - kStepRollGain &&
                                            after.squares <= kept.squares;
                        if (!((after.Gap() < kept.Gap() || within) &&
                              after.largest <= kept.largest + kStepRollFelt &&
                              after.squares <= start.squares &&
                              (after.largest <= kept.largest || after.squares <= kept.squares) &&
                              (after.onset <= kept.onset + kStepRollOnsetNoise ||
                               after.onset <= bound))) {
                            return false;
                        }
                        const VerticalReach vertical =
                            VerticalReachOf(loaded, spacing, heartline, turned);
                        if (holdVertical &&
                            (vertical.feltTop > keptVertical.feltTop + kStepRollFelt ||
                             vertical.feltBottom < keptVertical.feltBottom - kStepRollFelt)) {
                            return false;
                        }
                        turnedGap = std::max(after.Gap(), vertical.Gap());
                        taken = turnedGap < keptGap - kStepRollGain ||
                                (within && vertical.Gap() <= target);
                        return taken;
                    });
                    if (!taken) {
                        if (halved || part < 2.0) break;
                        halved = true;
                        part -= 1.5;
                        continue;
                    }
                    keptGap = turnedGap;
                    if (halved) break;
                }
            };
            // First the vertex nearest the step, towards the force summed
            // across it.
            double toward = 0.0;
            if (turnToward(k, fore + aft, toward)) turnRolls({k}, {toward}, false);
            // Where the gap still stands, the rail's roll turns too slowly
            // across the step (its riders lean the way they leant before the
            // step after it, or already the next way before it): the vertices
            // either side of it (of the one on it) each turned towards the
            // force on its own side. That banks whole segments more or less
            // steeply, which moves felt lateral into the felt vertical: hence
            // the felt vertical held.
            const FeltLateral& still = keptFeltLateral();
            if (still.Gap() > drawnGap + kGapTolerance - kStepRollGapMargin) {
                size_t prev = k, next = k;
                if (std::abs(fit.places[k] - step->at) < 0.5 * spacing) {
                    prev = k - 1;
                    next = k + 1;
                } else if (fit.places[k] < step->at) {
                    next = k + 1;
                } else {
                    prev = k - 1;
                }
                double towardPrev = 0.0, towardNext = 0.0;
                if (k > 0 && next < fit.places.size() && turnToward(prev, fore, towardPrev) &&
                    turnToward(next, aft, towardNext)) {
                    turnRolls({prev, next}, {towardPrev, towardNext}, true);
                }
            }
        }
    }

    // Where the kept rail's felt lateral onset still breaks the drawn track's
    // bound (read on the ride profile's grid, see DrawnFeltLateral) within
    // kStepRollReach of a drawn curvature step: the chosen up banks the
    // riders into the turn before the step, and where the drawn force
    // changes there in the up direction too (a valley ending where a flat
    // turn begins), that bank turns the vertical change sideways, and the
    // rail's vertex on the step, banked further still to hold the hearts,
    // steps the lateral force by more than the drawn track does. So the roll
    // of the vertex nearest the step is turned towards the drawn up there,
    // part by part (see kStepOnsetShare), and the rail fitted the kept way
    // with it, each part kept where it holds the hearts without jolting, the
    // onset falls, the raw lateral stands no further above the felt one than
    // the kept rail's or the drawn track's (see kShortSmoothGapMargin), and
    // the felt lateral's largest and squares do not grow; or, where the part
    // brings the onset within the bound, its largest does not grow and its
    // RMS stays clearly within the drawn track's (see kDrawnRmsShare). A part
    // that lowers the onset but is not kept leads on to the next. (Random
    // case_086, heartline 1.02 m: a 2.9 g valley into a 2.0 g flat turn,
    // banked 23 degrees at the step, a lateral onset of 13.5 g/s at 14
    // segments and 13.2 at 56 against a bound of 12.6; turned, 12.1 and
    // 12.6 as the rebuild reads them, the largest felt lateral no higher.)
    // With `pastLean`, on a track whose riders lean through a loop's
    // vertical, turned only where the step and the vertex's two segments lie
    // outside the lean, in finer parts (see kLeanStepOnsetShare), and the
    // largest felt lateral allowed the noise of refitting the whole rail (see
    // kStepPairLargest).
    auto turnAtStep(bool pastLean) {
        if (!solved || !(best.distance <= kHeldStray)) return;
        const double bound = drawnOnsetBound();
        const FeltLateral& kept = keptFeltLateral();
        const CurveStep* step = kept.onset > bound
                                    ? NearestStep(steps, missedSteps, kept.onsetAt, kStepRollReach)
                                    : nullptr;
        const size_t k = step == nullptr ? fit.places.size() : NearestPlace(fit.places, step->at);
        if (step == nullptr || k == 0 || k + 1 >= fit.places.size() ||
            (pastLean &&
             (withinLean(step->at) || reachesLean(fit.places[k - 1], fit.places[k + 1])))) {
            return;
        }
        chooseUpLike(recipe);
        const auto j = static_cast<size_t>(std::nearbyint(
            std::clamp(step->at / spacing, 0.0, static_cast<double>(loaded.size() - 1))));
        const D3 tangent =
            SteepBlend(fit.direction[k], RailTangentAt(samples, spacing, fit.places[k]));
        const D3 up = Across(loaded[j].drawnUp, Unit(tangent));
        LevelFrame frame;
        if (!LevelFrameOf(tangent, frame) || !(Norm(up) > 0.0)) return;
        const double toward = std::remainder(RollOf(frame, Unit(up)) - fit.rolls[k], 2.0 * M_PI);
        const std::vector<double> base = keptRollTurn();
        const int parts = pastLean ? kLeanStepOnsetParts : kStepOnsetParts;
        const double share = pastLean ? kLeanStepOnsetShare : kStepOnsetShare;
        const double noise = pastLean ? kStepPairLargest : 0.0;
        for (int part = 1; part <= parts; ++part) {
            RailFit turned = turnedCopy(base, {k}, {toward}, part * share);
            ++run.RailFits;
            if (!solveRail(recipe.tuning, turned)) break;
            bool falls = false, reached = false;
            keepIf(turned, [&](const FeltLateral& before, const FeltLateral& after) {
                falls = after.onset < before.onset && opensNoGap(before, after);
                reached = after.onset <= bound;
                if (!falls || after.largest > before.largest + noise) return false;
                return after.squares <= before.squares || (reached && withinDrawnRms(after));
            });
            if (!falls || reached) break;
        }
    }

    // The gap and onset bounds a kept fit that still misses is weighed
    // against below, and how far a rail misses them: its raw lateral or
    // vertical beyond the felt one, and its onset, past their bounds, from
    // its felt lateral and its vertical reach.
    auto heldBounds() {
        return std::pair{drawnFeltLateral().Gap() + kGapTolerance, drawnOnsetBound()};
    }

    auto missOf(const FeltLateral& ride, const VerticalReach& reach) {
        const auto [gapBound, onsetBound] = heldBounds();
        const double gap = std::max(ride.Gap(), reach.Gap());
        return std::max(0.0, gap - gapBound) + std::max(0.0, ride.onset - onsetBound);
    }

    // Where the riders lean through a loop's vertical and the kept rail
    // still misses its gap or onset bound (see missOf): inside the lean the
    // file's eased roll, its roll-rate flags set (see KeepsRollRate), turns
    // the riders with an acceleration that jumps at every vertex by about six
    // times the segment's roll change over its length squared, and the
    // hearts swing sideways by h v^2 times that, more than the rail takes up.
    // Vertex rolls chosen to even those jumps out do not help: their sum is
    // set by the roll the lean turns through (the rail's level frame turns
    // over there), and spreading it evenly over the lean's segments took roll
    // turns of up to 0.9 rad and let the hearts stray 9 cm and more (the
    // builder's loop at 25 to 200 segments). A small turn of one lean vertex's roll
    // moves the swings of both its segments, and which of them the felt
    // window takes together, by up to a g with the rail fitted again and the
    // hearts held. So each lean vertex's roll is turned by kLeanRollTurn
    // either way in turn and the rail fitted the kept way at the kept places,
    // each turn kept where it holds the hearts without jolting, misses by
    // less, rides no more felt lateral (its largest and its squares alike)
    // and moves the felt vertical by no more than the fit's noise (as for the
    // step-off refit above), over up to kLeanRollRounds passes along the
    // lean. The turns together are kept only where they leave the onset no
    // higher and the gaps, lateral and vertical, no wider than before or
    // within the bound; else the kept fit is put back. Run on the placement
    // the lean's grading keeps (see below): a placement found there drops
    // the turns. (The builder's loop at 100 segments: a lateral onset of
    // 27.4 g/s, raw lateral 4.19 g above the felt 1.18 g; turned at four of
    // its lean's vertices, 26.1 g/s and 3.95 g above 1.13 g. Random case_068
    // at its own count, heartline -0.67 m: 54.3 g/s and 5.97 g above 2.32 g;
    // turned, 53.5 g/s and 5.82 g, its largest no higher.)
    auto turnLeanRolls() {
        if (!recipe.lean || !solved) return;
        const double gapBound = heldBounds().first;
        const FeltLateral start = keptFeltLateral();
        const double startReach = keptVerticalReading().reach.Gap();
        if (!(missOf(start, keptVerticalReading().reach) > 0.0)) return;
        const KeptState unturned = keptState();
        chooseUpAs(recipe);
        bool turned = false;
        // How many turns were kept so far, and for each vertex that count
        // when its turns were last both dropped: tried again on the same kept
        // fit, they would fit the same rails and be dropped alike (random
        // case_036, at one, two and four times its segments: a fifth of its
        // turned rails, the later passes' vertices after the last turn kept).
        size_t keptTurns = 0;
        std::vector<size_t> droppedAt(fit.places.size(), std::numeric_limits<size_t>::max());
        for (int round = 0; round < kLeanRollRounds; ++round) {
            bool any = false;
            for (size_t k = 1; k + 1 < fit.places.size(); ++k) {
                if (!reachesLean(fit.places[k - 1], fit.places[k + 1]) || !KeepsRollRate(fit, k)) {
                    continue;
                }
                if (droppedAt[k] == keptTurns) continue;
                droppedAt[k] = keptTurns;
                for (const double way : {1.0, -1.0}) {
                    RailFit moved = turnedCopy(keptRollTurn(), {k}, {way * kLeanRollTurn}, 1.0);
                    ++run.RailFits;
                    if (!solveRail(recipe.tuning, moved)) continue;
                    std::optional<ForcesAlong> forces;
                    VerticalReading reading;
                    bool kept = false;
                    keepReadIf(
                        moved, &forces, &reading,
                        [&](const FeltLateral& before, const FeltLateral& after) {
                            const VerticalReading& keptRead = keptVerticalReading();
                            reading = VerticalOver(*forces);
                            kept =
                                missOf(after, reading.reach) < missOf(before, keptRead.reach) &&
                                after.largest <= before.largest &&
                                after.squares <= before.squares &&
                                reading.felt.onset <= keptRead.felt.onset + kStepRollOnsetNoise &&
                                reading.felt.lowest >= keptRead.felt.lowest - kStepRollFelt &&
                                reading.reach.feltTop <= keptRead.reach.feltTop + kStepRollFelt;
                            return kept;
                        });
                    if (kept) {
                        any = turned = true;
                        ++keptTurns;
                        break;
                    }
                }
            }
            if (!any) break;
        }
        if (!turned) return;
        const FeltLateral& now = keptFeltLateral();
        if (!(now.onset <= start.onset && now.Gap() <= std::max(start.Gap(), gapBound) &&
              keptVerticalReading().reach.Gap() <= std::max(startReach, gapBound))) {
            putBack(unturned);
        }
    }

    // A fit that leans there strays and jolts most on the segments at the
    // lean's ends, which reach beyond it: half the lean's span either side
    // counts too.
    auto inLean(double at) {
        for (size_t k = 0; k + 1 < leanSpans.size(); k += 2) {
            const double reach = 0.5 * (leanSpans[k + 1] - leanSpans[k]);
            if (at >= leanSpans[k] - reach && at <= leanSpans[k + 1] + reach) return true;
        }
        return false;
    }

    // The stages Run takes, in order.
    // The loaded path's segment limits and curvature steps, and the drawn
    // track's lateral onset.
    void ReadPath();
    // The up first chosen, and where the riders lean through a loop's vertical.
    void ChooseFirstUp();
    // The first fits: the smooth way, the cautious way where that strays, and
    // without the lean where the hearts stray with it.
    void FitFirst();
    // Shorter segments where the hearts stray, then the cautious way with the
    // lean.
    void RefineWhereAstray();
    // The places of the coarser count's fit, split, where none holds the hearts.
    void SplitCoarserWhereAstray();
    // The refining again through the lean where none holds the hearts.
    void RefineThroughLean();
    // The coarser count's fit, split, where it rides a loop's lean better.
    void WeighCoarserThroughLean();
    // The last tries where none holds the hearts: the refining with the limits
    // of long segments and the closest fit's finish.
    void LastTriesWhereAstray();
    // A vertex on every curvature break of the loaded path where none holds
    // the hearts on a small budget.
    void OnBreaksWhereAstray();
    // The kept fit's short segments that jolt merged.
    void MergeJoltingSegments();
    // Vertices moved onto the curvature steps the placement left inside
    // segments.
    void OntoLeftSteps();
    // The vertices placed again about the felt onset and the raw lateral's
    // peak.
    void PlaceAgainAboutPeaks();
    // Vertices moved onto the ends of step ramps inside segments, their rolls
    // turned across the step.
    void TurnAcrossStepRamps();
    // The felt lateral eased: its onset paced, its RMS lowered, its largest
    // capped.
    void EaseFeltLateral();
    // Vertices near the track's ends moved onto the curvature steps there.
    void OntoStepsAtEnds();
    // Vertices moved onto curvature steps on steep slopes.
    void OntoSteepSteps();
    // A vertex moved onto the ramp end of a level step inside a segment.
    void OntoLevelStepRamp();
    // The segment that holds that step twisted across it.
    void TwistRampedSegment();
    // The heart's curvature held about steps on gentle slopes.
    void HoldCurveAtGentleSteps();
    // Vertices beside the track's ends moved onto the curvature steps there.
    void OntoStepsBesideEnds();
    // The heart's curvature held at the track's ends too.
    void HoldEndCurvature();
    // The end vertices' rolls turned where a level end dips.
    void TurnLevelEndRolls();
    // The rolls turned at steps, vertices moved off steps, and the rolls
    // turned again.
    void TurnAndMoveOffSteps();
    // Vertices moved toward the steps beside them.
    void MoveTowardNearSteps();
    // The lean held to the drawn track's onset bound.
    void HoldLeanOnset();
    // The coarser count's fit where the kept one still misses.
    void WeighCoarserWhereMissing();
    // The finish fitted again with the steps away from the lean ramped.
    void RefinishAwayFromLean();
    // The vertices placed again with the lean's segments graded.
    void GradeLeanSegments();
    // The kept rail finished again with the raw lateral held densely beside
    // the lean's vertices.
    void FinishDenseBesideLean();
    // What the fits came to.
    SmoothOutcome Outcome();

    HeartlineRun& run;
    const PathWalk& walk;
    const int segments;
    const std::function<void(double)>& progress;
    const bool weighCoarser;
    const int finishCounts;
    const int coarserFinishCounts = std::max(finishCounts - 1, 0);
    const double heartline = run.Settings.heartline;
    const double length = walk.s.back();
    const double spacing = std::min(kSampleSpacing, length / (segments * kSamplesPerSegment));
    const std::vector<PathSample> loaded = SampleLoadedPath(walk, run.Settings, length, spacing);
    std::vector<double> bendLimits;
    std::vector<double> rollRoom;
    std::vector<CurveStep> steps;
    std::vector<double> stepPlaces;
    std::vector<CurveStep> missedSteps;
    FitRecipe current;  // how the fit in the making is made
    FitRecipe recipe;   // how the kept one was
    double drawnOnset{};
    // How far (g) below the drawn track's largest the felt lateral's cap
    // holds the up, as the kept fit's was (see CapFeltLateral): the kept
    // fit's way, taken by every later choice of the up at this count.
    double capBelow = 0.0;
    // The felt lateral onset (g/s) the lean through a loop's vertical is held
    // to (see LeanThroughVertical): none but where the kept fit's onset asks.
    double leanOnset = std::numeric_limits<double>::infinity();
    // What the latest choice of the up was made from (see UpChoice).
    UpChoice chosenUp;
    bool leaned = false;
    std::vector<PathSample> samples;
    bool leans{};
    // Where the riders lean through a loop's vertical, for a refusal's cause:
    // later choices of the up directions may leave the lean out.
    std::vector<double> leanSpans;  // first and last arc length of each lean
    std::vector<double> limit;
    std::vector<double> givenPlaces;  // where not empty, the vertices' places
    bool limitLean = false;           // see PlaceVertices
    bool budgetLeft = false;          // a placement left part of the budget unused
    // The fits made at this count: where the refining's new limits leave the
    // places as they were, or a later try asks for a fit already made, the
    // rail is the same (case_140 at 240 segments asked for 34 of its 184
    // fits again), and solving it anew would only repeat the work.
    MadeFits madeFits;
    int pointsPerSegment{};
    RailFit fit;
    bool solved = false;
    Stray best;
    Stray bestJolt;                 // the kept fit's hardest jolt (see HardestJolt)
    std::vector<double> bestJolts;  // and its hardest of each segment
    // Among fits that all fail, one that only strays is kept before one that
    // jolts. A refusal names the gentlest jolt of a fit that held the hearts
    // (the fault then is the jolt alone), else the closest a fit that does
    // not jolt came, else the closest any fit came: a stray named from a fit
    // that jolts tells the user of a fit the riders could not ride (random
    // case_140 at twice its segments: named 2.0 cm, from a fit that jolted
    // them by 123 g, where the closest that did not strayed 4.5 cm).
    Stray gentlest{std::numeric_limits<double>::infinity(), 0.0};
    Stray closest{std::numeric_limits<double>::infinity(), 0.0};
    Stray closestCalm{std::numeric_limits<double>::infinity(), 0.0};
    RailFit closestFit;  // refining starts from the closest fit, jolting or not
    FitRecipe closestRecipe;
    // The closest fit placed at the refining's curvature error (see refine).
    Stray closestAlike{std::numeric_limits<double>::infinity(), 0.0};
    RailFit closestAlikeFit;
    // The stray of the fit considered last, and where, jolting or not.
    Stray considered;
    RailFit candidate;
    std::optional<SmoothOutcome> coarser;  // the coarser count's outcome, once made
    std::vector<double> jolts;
    int placedSegments{};
    // The kept fit's felt lateral, worked out once and handed on with it;
    // where it is worked out here, from the kept fit's forces read with the
    // raw vertical too, so that the felt vertical and raw reach, read where
    // first asked for, need no second pass over them. A refit that replaces
    // the kept fit drops the forces and the vertical.
    std::optional<ForcesAlong> keptForces;
    std::optional<FeltLateral> keptFelt;
    std::optional<VerticalReading> keptReading;
    // The drawn track's, read as a rail's is (see DrawnFeltLateral), worked
    // out where first asked for.
    std::optional<FeltLateral> drawnFelt;
    std::vector<double> rampedAt;
    bool capKept = false;
    std::vector<CurveStep> drawnSteps;
    const CurveStep* rampedStep = nullptr;  // the step whose vertex was moved so
    size_t rampedVertex = 0;                // and that vertex
    std::vector<double> turnedAbout;        // the places turned about, round by round
    std::vector<double> movedOff;           // the steps whose vertex was moved off them
    std::vector<CurveStep> movedSteps;      // those whose vertex the kept rail moved
    int keptPlaced{};
};

SmoothOutcome FitSmooth(HeartlineRun& run, const PathWalk& walk, int segments,
                        const std::function<void(double)>& progress, bool weighCoarser,
                        int finishCounts) {
    return SmoothFitter(run, walk, segments, progress, weighCoarser, finishCounts).Run();
}

SmoothOutcome SmoothFitter::Run() {
    ReadPath();
    ChooseFirstUp();
    FitFirst();
    RefineWhereAstray();
    SplitCoarserWhereAstray();
    RefineThroughLean();
    WeighCoarserThroughLean();
    LastTriesWhereAstray();
    OnBreaksWhereAstray();
    MergeJoltingSegments();
    OntoLeftSteps();
    PlaceAgainAboutPeaks();
    TurnAcrossStepRamps();
    EaseFeltLateral();
    OntoStepsAtEnds();
    OntoSteepSteps();
    OntoLevelStepRamp();
    TwistRampedSegment();
    HoldCurveAtGentleSteps();
    OntoStepsBesideEnds();
    HoldEndCurvature();
    TurnLevelEndRolls();
    TurnAndMoveOffSteps();
    MoveTowardNearSteps();
    if (!leans) turnAtStep(false);
    // Where the riders lean through a loop's vertical and the kept rail's
    // felt onset still breaks, or nearly, the drawn track's bound outside the
    // lean: the refits above leave every leaning track alone, yet a turn
    // past the loop wobbles per segment as on any other track. So paced as
    // above (see paceOnset), no vertex in the lean among those paced.
    // (Random case_150 at its own count, 8 m past a loop's lean: a lateral
    // onset of 35.2 g/s against a bound of 28.8 and the raw lateral 1.07 g
    // above the felt; paced, 33.6 g/s and 0.44 g, its largest felt lateral
    // no higher.)
    if (leans) paceOnset(true);
    // Where the riders lean through a loop's vertical and the kept rail's
    // felt lateral onset still breaks the drawn track's bound outside the
    // lean at a drawn curvature step: the vertex nearest the step turned as
    // above (see turnAtStep), after the pacing. (Random case_150, 8 m past a loop's lean, a 5.5 g
    // valley into an unbanked 5.2 g flat turn: paced at its own count, a
    // lateral onset of 33.6 g/s against a bound of 28.8; turned by 35 % in
    // seven parts, 27.9, its largest felt lateral 3e-5 g higher and its
    // squares 0.6 % fewer. At twice its count, 31.2 g/s: turned by a quarter,
    // the first part on a track without a lean, the raw lateral stood 0.24 g
    // further above the felt; turned by 15 %, 28.1, its squares 0.09 % more
    // and its RMS clearly within the drawn track's.)
    if (leans) turnAtStep(true);
    HoldLeanOnset();
    WeighCoarserWhereMissing();
    RefinishAwayFromLean();
    GradeLeanSegments();
    // The lean's vertex rolls turned where the kept rail still misses (see
    // turnLeanRolls), on the placement kept above.
    if (leans && finishCounts > 0) turnLeanRolls();
    FinishDenseBesideLean();
    return Outcome();
}

void SmoothFitter::ReadPath() {
    progress(0.1);

    // The longest segment at each sample (see RefineLimits), and the longest
    // a roll may count on there (see LimitRollRate).
    bendLimits = BendLimits(loaded, length, spacing);
    rollRoom = bendLimits;
    for (double& l : rollRoom) l = std::min(l, kMaxSegmentShare * length);

    steps = CurveSteps(walk, loaded, spacing);
    stepPlaces = StepsToLeadInto(loaded, steps, spacing);
    // The steps that `steps` leaves out, on slopes or drawn as vertices
    // closer together than the samples (see OntoMissedSteps).
    for (const CurveStep& step : CurveSteps(walk, loaded, spacing, kMissedStepSteepness, spacing)) {
        if (std::none_of(steps.begin(), steps.end(), [&](const CurveStep& known) {
                return std::abs(known.at - step.at) <= spacing;
            })) {
            missedSteps.push_back(step);
        }
    }
    drawnOnset = DrawnLateralOnset(loaded, spacing, kFeltWindow);
}

void SmoothFitter::ChooseFirstUp() {
    samples = chooseUp(0.0, true, leaned);
    leans = leaned;
    for (size_t i = 0; leans && i < samples.size(); ++i) {
        if (!(samples[i].leanWidth > 0.0)) continue;
        if (i == 0 || !(samples[i - 1].leanWidth > 0.0)) leanSpans.push_back(samples[i].s);
        if (i + 1 == samples.size() || !(samples[i + 1].leanWidth > 0.0)) {
            leanSpans.push_back(samples[i].s);
        }
    }
    progress(0.3);
}

void SmoothFitter::FitFirst() {
    limit = std::vector<double>(samples.size(), length);
    pointsPerSegment = std::max(2 * run.Settings.precision, kSamplesPerSegment) + 1;
    fitEitherWay();
    // Where the riders lean through a loop and the hearts stray beyond
    // kHeldStray, the rail is fitted again without the lean: the lean never
    // costs the hearts a place the rail can hold.
    if (leaned && !(solved && best.distance <= kHeldStray)) {
        samples = chooseUp(0.0, false, leaned);
        fitEitherWay();
    }
}

void SmoothFitter::RefineWhereAstray() {
    // Where they still stray, shorter segments there, the lean's left as it
    // sets them. The refining places its vertices at kRefinedWay's curvature
    // error, and where the roll turns that makes longer segments than the
    // cautious way does; limits drawn from a cautious fit cut them below what
    // the roll and the heart's kink on a slope ask for (random case_097,
    // heartline -0.98 m, at its own count: the cautious fit strayed 1.4 cm on
    // a 0.96 m segment falling at 9 degrees as the roll turned, where the
    // refined way asked for 2.8 m; its limit left 0.77 m beside 2.1 m, and the
    // heart kinked by 3.0 degrees at their join, the raw lateral 0.16 g
    // beyond the drawn track's gap and its tolerance; from the closest fit
    // placed the refined way, 1.7 degrees and within it). So where the
    // closest fit is a cautious one that jolts the riders, the refining
    // starts from the closest fit placed the refined way, and where that
    // holds none, from the closest as before. (Where the closest fit holds
    // without jolting, starting from it rode better: random case_019 at four
    // times its segments missed the lateral onset bound by 1.4 g/s from the
    // other start, against 0.06.)
    if (solved && best.distance > kHeldStray) {
        const bool alikeFirst = std::isfinite(closestAlike.distance) &&
                                closest.distance < closestAlike.distance &&
                                !(best.distance <= closest.distance);
        if (alikeFirst) {
            const RailFit from = closestFit;
            refine(false, false, &closestAlikeFit);
            if (best.distance > kHeldStray) {
                std::fill(limit.begin(), limit.end(), length);
                refine(false, false, &from);
            }
        } else {
            refine(false, false);
        }
    }
    // Still astray: the cautious way, if it holds them better, with the
    // riders' lean where the track has one (without it a cautious fit through
    // a loop held the hearts but kicked them by up to 300 g raw).
    if (!solved || !(best.distance <= kLargestStray)) {
        std::fill(limit.begin(), limit.end(), length);
        samples = chooseUp(0.0, leans, leaned);
        if (fitRail(kCautiousWay, candidate)) consider(candidate);
    }
}

void SmoothFitter::SplitCoarserWhereAstray() {
    // None holds the hearts but some came near (see kCoarseReach): the places
    // of a coarser fit that does, with the extra vertices where the roll
    // stands still.
    if (segments / 2 >= kLeastCoarseSegments && !(solved && best.distance <= kLargestStray) &&
        !(std::isfinite(closest.distance) && closest.distance > kCoarseReach)) {
        // The coarser fit as lengthened: split as it was placed, the short
        // segments its lengthening merged came back at the finer count
        // (random case_097 at twice its segments: a 0.53 m segment beside
        // one of 1.9 m through a roll of 6 degrees per metre, which the
        // coarser fit had merged, rode a lateral onset 1.2 g/s beyond the
        // drawn track's bound, against none at its own count).
        coarser = FitSmooth(run, walk, segments / 2, progress, weighCoarser, coarserFinishCounts);
        const SmoothOutcome& coarse = *coarser;
        if (coarse.solved && coarse.best.distance <= kLargestStray) {
            samples = chooseUp(coarse.recipe.leastSigma, coarse.recipe.lean, leaned,
                               coarse.recipe.smoothShare);
            // Of the two ways to split (harmless splits first, or every
            // segment cut alike) that hold the hearts, the one that jolts
            // the riders least. (Splitting the steep or end segments alike
            // with the rest spared no further track.)
            RailFit gentlestSplit;
            double softest = std::numeric_limits<double>::infinity();
            // A coarser fit that left part of its budget unused has segments
            // as short as the file's rounding allows: they are not split. Nor
            // are they where this count's own placement left part of it
            // unused: the split segments would be shorter than the file's
            // rounding can shape, and jolt the riders by thousands of g.
            const int split =
                coarse.placed < segments / 2 || budgetLeft ? coarse.fit.segments : segments;
            for (const bool evenly : {false, true}) {
                givenPlaces = SplitPlaces(coarse.fit.places, split, samples, spacing, heartline,
                                          coarse.recipe.tuning.curvatureError, evenly);
                if (!fitRail(coarse.recipe.tuning, candidate)) continue;
                const Stray stray = HeldStray(walk, heartline, candidate);
                const Stray jolt = HardestJolt(samples, spacing, heartline, candidate);
                if (stray.distance <= kLargestStray && jolt.distance < softest) {
                    softest = jolt.distance;
                    gentlestSplit = candidate;
                } else if (!std::isfinite(softest)) {
                    consider(candidate);
                }
            }
            givenPlaces.clear();
            if (std::isfinite(softest)) consider(gentlestSplit);
        }
    }
}

void SmoothFitter::RefineThroughLean() {
    // Still none holds them on a track with a lean: the refining again, with
    // the segments through the lean shortened too where the hearts stray
    // there. The lean sets one length through a loop because shorter
    // segments there mostly ride it worse; but where the hearts stray inside
    // the lean, the refining that leaves it alone fits the same rail again
    // each round (a loop with its heartline 0.67 m below the rail: 2.3 cm,
    // eight times over).
    if (leans && solved && !(best.distance <= kLargestStray)) {
        std::fill(limit.begin(), limit.end(), length);
        refine(true, false);
    }
}

void SmoothFitter::WeighCoarserThroughLean() {
    // A fit that holds the hearts through a loop's lean: the coarser count's
    // kept fit split to this one instead, where it rides better (see
    // kCoarserLeanFelt). Of the two ways to split, the one whose onset is
    // lower. The coarser count weighs its own coarser one in turn, so that a
    // ride found at any count below reaches this one (the builder's loop and
    // helix at 400 segments, weighed against 200's own fit only: a largest
    // felt lateral of 1.44 g, against 1.17 at 100 and 200 segments; so,
    // 1.21 g).
    if (weighCoarser && leans && solved && best.distance <= kLargestStray &&
        segments / 2 >= kLeastCoarseSegments) {
        if (!coarser) {
            coarser = FitSmooth(run, walk, segments / 2, progress, true, coarserFinishCounts);
        }
        const SmoothOutcome& coarse = *coarser;
        if (coarse.solved && coarse.best.distance <= kLargestStray) {
            const FeltLateral kept = FeltLateralOf(loaded, spacing, heartline, fit);
            samples = chooseUp(coarse.recipe.leastSigma, coarse.recipe.lean, leaned,
                               coarse.recipe.smoothShare);
            const int split =
                coarse.placed < segments / 2 || budgetLeft ? coarse.fit.segments : segments;
            RailFit calmest;
            RailJolts calmestJolts;
            Stray calmestStray;
            double lowest = kept.onset;
            FitRecipe calmestRecipe;
            for (const bool evenly : {false, true}) {
                givenPlaces = SplitPlaces(coarse.fit.places, split, samples, spacing, heartline,
                                          coarse.recipe.tuning.curvatureError, evenly);
                if (!fitRail(coarse.recipe.tuning, candidate)) continue;
                const Stray held = HeldStray(walk, heartline, candidate);
                if (!(held.distance <= kLargestStray)) continue;
                RailJolts jolt = JoltsOf(samples, spacing, heartline, candidate);
                if (!(jolt.hardest.distance <= kLargestJolt) || !(jolt.end <= kLargestEndJolt)) {
                    continue;
                }
                const FeltLateral ride = FeltLateralOf(loaded, spacing, heartline, candidate);
                if (ride.onset < lowest && ride.squares <= kept.squares &&
                    ride.largest <= kept.largest + kCoarserLeanFelt) {
                    lowest = ride.onset;
                    calmest = candidate;
                    calmestJolts = std::move(jolt);
                    calmestStray = held;
                    calmestRecipe = current;
                }
            }
            givenPlaces.clear();
            if (!calmest.places.empty()) {
                best = calmestStray;
                bestJolt = calmestJolts.hardest;
                bestJolts = std::move(calmestJolts.segments);
                fit = std::move(calmest);
                recipe = calmestRecipe;
            }
        }
    }
}

void SmoothFitter::LastTriesWhereAstray() {
    // Still none holds them: the refining once more, with the limits of the
    // segments that stray shrinking round by round whatever length the
    // budget gave them. A small budget cannot give every segment that strays
    // the length asked for: the placement spreads it over them in proportion
    // to their limits, which stop at BendLimits' after the first round, so
    // the segment that strays most never gains a vertex from those that hold
    // (random case_086 at 14 segments of 17 m on average: 3.2 cm in every
    // round; this way 1.9 cm). Only here, where every other fit failed: as
    // the first refining it held more tracks in 100 random layouts but rode
    // 14 of the accepted runs worse. And only where the segments average
    // more than kLongSegmentHint, where the budget is the likelier cause:
    // through the loops of random layouts with shorter segments it held no
    // track and made their refusals take twice as long.
    if (solved && !(best.distance <= kLargestStray) && length / segments > kLongSegmentHint) {
        std::fill(limit.begin(), limit.end(), length);
        refine(false, true);
    }
    // Still none holds them, but the closest fit came near: its finish once
    // more, with the heart's place held harder on the segments that stray
    // beyond kRefineStray, by the square of their stray's ratio to it. The
    // finish weighs the heart's place on every segment alike against the
    // joins' curvature, so a segment that strays most gives way where the
    // rest hold with room to spare (random case_041 at 15 segments of 16 m on
    // average: 2.0 cm on one 11.5 m segment; this way 1.5 cm; case_151 at 15:
    // 2.3 cm, this way 1.7 cm; with the ratio itself as the weight the same
    // two held, at 1.7 and 1.9 cm). Further rounds, each raising the weights
    // again, held none of the other near misses of 200 random layouts (2.6
    // to 6 cm) and let some fits wander off by decimetres. Only the near
    // misses of a small budget (segments averaging more than
    // kLongSegmentHint), as the refining just above.
    if (solved && !(best.distance <= kLargestStray) && closest.distance <= kPolishStray &&
        length / segments > kLongSegmentHint) {
        chooseUpLike(closestRecipe);
        RailFit polished = closestFit;
        const std::vector<Stray> strays = SegmentStrays(walk, heartline, polished, kStrayCheckStep);
        polished.hold.assign(AsIndex(polished.segments), 1.0);
        for (size_t i = 0; i < strays.size(); ++i) {
            const double ratio = strays[i].distance / kRefineStray;
            if (ratio > 1.0) polished.hold[i] = ratio * ratio;
        }
        FinishFit(walk, samples, spacing, heartline, polished);
        consider(polished);
    }
}

void SmoothFitter::OnBreaksWhereAstray() {
    // Still none holds them on a small budget: a vertex on every curvature
    // break of the loaded path, where the budget has one for each, and the
    // rest placed as a coarser fit's extra vertices are (see SplitPlaces);
    // from the closer of the two ways to split, vertices moved round by round
    // to where the hearts stray most (see RebalancedPlaces). The placement
    // spreads the budget by the roll and by the curvature's variation, which
    // on long segments leaves most breaks inside them, and the fits there
    // strayed by a few centimetres all along the track (random case_148 at
    // 16 segments of 16.7 m on average: 3.9 cm; on its breaks 1.0 cm). Not on
    // a track with a loop's lean, which sets its segments: the loop and
    // helix sample at 22 segments, refused for its hanging heartline, took a
    // third longer to refuse this way.
    if (!leans && solved && !(best.distance <= kLargestStray) &&
        length / segments > kLongSegmentHint) {
        chooseUpLike(closestRecipe);
        const std::vector<double> breaks = CurvatureBreaks(walk, samples, spacing);
        std::vector<double> places;
        std::vector<Stray> strays;  // per segment of the fit at `places`
        double nearest = std::numeric_limits<double>::infinity();
        if (!breaks.empty() && static_cast<int>(breaks.size()) < segments) {
            std::vector<double> pieces{0.0};
            pieces.insert(pieces.end(), breaks.begin(), breaks.end());
            pieces.push_back(length);
            for (const bool evenly : {false, true}) {
                givenPlaces = SplitPlaces(pieces, segments, samples, spacing, heartline,
                                          closestRecipe.tuning.curvatureError, evenly);
                if (!fitRail(closestRecipe.tuning, candidate)) continue;
                std::vector<Stray> split =
                    SegmentStrays(walk, heartline, candidate, kStrayCheckStep);
                const double stray = consider(candidate);
                if (stray < nearest) {
                    nearest = stray;
                    places = givenPlaces;
                    strays = std::move(split);
                }
            }
        }
        // The worst segment halved round by round first, and where no round
        // holds them, the rounds again from the same start with its run
        // between breaks re-spread instead (see RebalancedPlaces): where the
        // halving holds them, it is kept as it was (random case_101 at 24
        // segments: 1.7 cm this way, 1.8 cm and more felt lateral the other).
        // Only a refusal pays for the second rounds.
        const std::vector<double> splitPlaces = places;
        const std::vector<Stray> splitStrays = strays;
        for (const bool spread : {false, true}) {
            places = splitPlaces;
            strays = splitStrays;
            for (int round = 0;
                 round < kRebalanceRounds && !places.empty() && !(best.distance <= kLargestStray);
                 ++round) {
                places = RebalancedPlaces(std::move(places), strays, breaks, spread);
                if (places.empty()) break;
                givenPlaces = places;
                if (!fitRail(closestRecipe.tuning, candidate)) break;
                strays = SegmentStrays(walk, heartline, candidate, kStrayCheckStep);
                consider(candidate);
            }
        }
        givenPlaces.clear();
    }
}

void SmoothFitter::MergeJoltingSegments() {
    // A kept fit that holds the hearts, with short segments that jolt: those
    // merged and the rail fitted again the way the kept one was, kept where
    // it still holds them and the hardest jolt about the merged segments
    // eases (random case_177 at four times its segments: 7.7 g to 1.2 g over
    // two rounds, the raw forces then as close to the felt ones as at twice
    // its segments). The count only falls: the vertices saved are not spent
    // elsewhere. Not on a track with a loop's lean, which sets its segments.
    // The kept fit's jolts per segment, as its acceptance read them (a jolt
    // reads only the loaded path's curvature and speed, which every choice of
    // up leaves as they are); a round that is kept hands on its own.
    // Then the same for the segments the eased roll wobbles (see
    // kWobbleJolt), kept only where the riders feel no more lateral for it.
    placedSegments = fit.segments;
    for (const bool wobble : {false, true}) {
        for (int round = 0;
             !leans && round < kLengthenRounds && solved && best.distance <= kHeldStray; ++round) {
            if (jolts.empty()) jolts = bestJolts;
            std::vector<std::pair<double, double>> spans;
            givenPlaces =
                LengthenedPlaces(walk, loaded, spacing, heartline, fit, jolts, wobble, spans);
            if (givenPlaces.empty()) break;
            RailFit lengthened;
            if (!refitKeptWay(lengthened)) break;
            const Stray stray = HeldStray(walk, heartline, lengthened);
            if (!(stray.distance <= kHeldStray)) break;
            RailJolts eased = JoltsOf(samples, spacing, heartline, lengthened);
            if (!(eased.hardest.distance <= kLargestJolt) || !(eased.end <= kLargestEndJolt)) {
                break;
            }
            if (!(HardestJoltWithin(lengthened, eased.segments, spans) <
                  HardestJoltWithin(fit, jolts, spans) + (wobble ? kWobbleFeltMargin : 0.0))) {
                break;
            }
            if (wobble) {
                const FeltLateral before = FeltLateralOf(loaded, spacing, heartline, fit);
                const FeltLateral after = FeltLateralOf(loaded, spacing, heartline, lengthened);
                const double squares = after.onset < before.onset
                                           ? kWobbleSquaresMargin * before.squares
                                           : before.squares;
                if (!(after.largest <= before.largest + kWobbleFeltMargin) ||
                    !(after.squares <= squares) ||
                    !(after.onset <= before.onset + kWobbleOnsetMargin)) {
                    break;
                }
            }
            fit = std::move(lengthened);
            best = stray;
            jolts = std::move(eased.segments);
        }
    }
}

void SmoothFitter::OntoLeftSteps() {
    if (!leans && solved && best.distance <= kHeldStray && !missedSteps.empty()) {
        givenPlaces = OntoMissedSteps(missedSteps, fit.places);
        refitOnto(0.0, kMissedStepSquares);
    }
    // Then both ends of a short turn or valley (see OntoStepPairs), kept only
    // where the squares of the felt lateral do not grow at all.
    if (!leans && solved && best.distance <= kHeldStray && !steps.empty()) {
        givenPlaces = OntoStepPairs(steps, fit.places, static_cast<size_t>(segments));
        refitOnto(kStepPairLargest, 1.0);
    }
}

void SmoothFitter::PlaceAgainAboutPeaks() {
    // Where the kept rail's felt onset still breaks, or nearly, the bound the
    // drawn track's sets (see kOnsetBoundFactor), mostly the eased roll wobbling per
    // segment where it turns faster than the placement allowed for: the kept
    // fit's count of vertices placed again with the roll's segments within
    // kOnsetRefitSeconds of that onset (where that refit is not kept, within
    // kOnsetWideSeconds) as long as the measured error asks, up to one felt
    // window (see PlaceVertices), and the rail fitted the kept way, kept only
    // where it holds the hearts without jolting, its onset is lower and its
    // felt lateral no larger and its squares no more. (Placed
    // so over the whole track, the longer segments left part of the budget
    // unused and the squares grew on most tracks.) Where the kept rail breaks
    // the bound itself (read on the ride profile's grid, see
    // DrawnFeltLateral) and the refit keeps within it, the refit may ride
    // more lateral than the kept one as long as it stays clearly within the
    // drawn track's (see kDrawnLargestMargin): random case_073 at twice its
    // segments kept a lateral onset 0.47 g/s beyond the bound because its
    // refit rode 0.05 g more at most, 1.26 g where the drawn track rides 2.2.
    if (!leans && solved && best.distance <= kHeldStray &&
        keptFeltLateral().onset > kOnsetBoundFactor * drawnOnset + kOnsetTryMargin) {
        refitAbout(keptFeltLateral().onsetAt, [&](const FeltLateral& before,
                                                  const FeltLateral& after) {
            if (!(after.onset < before.onset)) return false;
            if (after.largest <= before.largest && after.squares <= before.squares) return true;
            const FeltLateral& drawn = drawnFeltLateral();
            const double bound = drawnOnsetBound();
            return before.onset > bound && after.onset <= bound &&
                   after.largest <= drawn.largest - kDrawnLargestMargin && withinDrawnRms(after);
        });
    }
    // Where the kept rail's raw lateral stands further above its felt lateral
    // than the drawn track's does, or nearly (see kStepRollGapMargin): the
    // raw peak is mostly the eased roll's ripple on a segment too short for
    // the roll it turns through. So the kept fit's count of vertices placed
    // again, as for the onset above, with the roll's segments within
    // kOnsetRefitSeconds of the raw peak (where that refit is not kept,
    // within kOnsetWideSeconds) as long as the measured error asks, and the
    // rail fitted the kept way, kept only where it holds the hearts without
    // jolting, its gap narrower by kGapRefitGain, its felt lateral no larger,
    // its onset no higher (or within the drawn track's bound) and its squares
    // no more or, where the kept gap breaks the drawn track's and its
    // tolerance, its RMS clearly within the drawn track's (see
    // kDrawnRmsShare). (Random case_182 at four times its segments, 1.3 m
    // past a drawn step at 487 m: 0.69 g of gap against the drawn track's
    // 0.02 g, 0.43 g once placed so, its largest felt lateral 0.04 g lower,
    // its squares 0.15 % more.)
    if (!leans && solved && best.distance <= kHeldStray &&
        keptFeltLateral().Gap() > drawnFeltLateral().Gap() + kGapTolerance - kStepRollGapMargin) {
        const FeltLateral& drawn = drawnFeltLateral();
        const double onsetBound = triedOnsetBound();
        refitAbout(keptFeltLateral().rawAt, [&](const FeltLateral& before,
                                                const FeltLateral& after) {
            const bool breaks = before.Gap() > drawn.Gap() + kGapTolerance;
            return after.Gap() < before.Gap() - kGapRefitGain && after.largest <= before.largest &&
                   (after.onset <= before.onset || after.onset <= onsetBound) &&
                   (after.squares <= before.squares || (breaks && withinDrawnRms(after)));
        });
    }
}

void SmoothFitter::TurnAcrossStepRamps() {
    // Where the kept rail's raw lateral still stands further above its felt
    // lateral than the drawn track's does, or nearly (see kStepRollGapMargin),
    // at a drawn curvature step the heart's curvature is asked to ramp across
    // (see StepRamps) inside a segment no vertex splits: the heart's lateral
    // lags the ramp and overshoots past it. So the vertices either side of the
    // step moved onto the ramp's ends (see StepRampReach), the rail fitted the
    // kept way with the kept roll turns, and the roll of either end turned part
    // by part towards the force summed across the step while each part lowers
    // the largest felt lateral and its squares, opens no gap (see opensNoGap)
    // and keeps the vertical's gap within the kept rail's or the target. The
    // end riding less felt lateral is kept only where it brings the raw lateral
    // within the drawn track's gap and its tolerance, its raw largest lower by
    // kGapRefitGain, and rides no more felt lateral (its largest and squares)
    // nor a wider gap than the kept rail with the vertex nearest the step
    // turned the same way, nor a higher onset (or within the drawn track's
    // bound); the same again about the raw peak it leaves, up to
    // kStepRollRounds times, each step once. (Random case_061 at twice its
    // segments, a 3.6 g step at 53.5 m from a flat turn into a crest inside a
    // 1.9 m segment: 0.77 g of gap against the drawn track's 0.05 g; moved
    // and turned so, 0.51 g, its largest felt lateral 0.03 g lower.)
    for (int round = 0; round < kStepRollRounds; ++round) {
        if (leans || !solved || !(best.distance <= kHeldStray) ||
            !(keptFeltLateral().Gap() >
              drawnFeltLateral().Gap() + kGapTolerance - kStepRollGapMargin)) {
            break;
        }
        const FeltLateral before = keptFeltLateral();
        const CurveStep* step = NearestStep(steps, missedSteps, before.rawAt, kStepRollReach);
        if (step == nullptr ||
            std::find(rampedAt.begin(), rampedAt.end(), step->at) != rampedAt.end()) {
            break;
        }
        rampedAt.push_back(step->at);
        const auto after = std::upper_bound(fit.places.begin(), fit.places.end(), step->at);
        if (after == fit.places.begin() || after == fit.places.end() ||
            StepRamps({*step}, fit).empty()) {
            break;
        }
        const auto q1 = static_cast<size_t>(after - fit.places.begin());
        const size_t q0 = q1 - 1;
        const double reach = StepRampReach(*step);
        std::vector<double> places = fit.places;
        places[q0] = step->at - reach;
        places[q1] = step->at + reach;
        bool ordered = q0 >= 1 && q1 + 1 < places.size();
        for (size_t q = 1; ordered && q < places.size(); ++q) ordered = places[q] > places[q - 1];
        if (!ordered) break;
        const KeptState start = keptState();
        const VerticalReach beforeVertical = keptVerticalReading().reach;
        const double target = drawnFeltLateral().Gap() + kGapTolerance - kStepRollGapMargin;
        const double onsetBound = triedOnsetBound();
        const double half = 0.5 * kFeltWindow * step->speed;
        const D3 across = loaded[sampleAt(step->at - half)].feltAcross +
                          loaded[sampleAt(step->at + half)].feltAcross;
        // The turned fits solved in this round: the ramp's ends are turned
        // from the same kept fit in either order, and a turn tried again from
        // the same fit, at the same places from an up chosen alike (see
        // UpChoice), is the same fit, taken as it was made (random case_061:
        // a sixth of its fits at its own count and at four times it). They
        // are kept for the round alone, apart from madeFits, whose fits they
        // would otherwise push out.
        MadeFits turnedFits;
        const auto solveTurned = [&](RailFit& turned) {
            if (const MadeFit* made = turnedFits.Find(turned, recipe.tuning, chosenUp)) {
                turned = made->fit;
                return made->solved;
            }
            ++run.RailFits;
            const bool solvedNow = solveRail(recipe.tuning, turned);
            turnedFits.Keep({recipe, turned, solvedNow, chosenUp});
            return solvedNow;
        };
        // The kept fit's vertex q turned part by part towards `across` (with
        // `way` -1, away from it); whether a part was kept.
        const auto turnVertex = [&](size_t q, double way = 1.0) {
            const D3 tangent =
                SteepBlend(fit.direction[q], RailTangentAt(samples, spacing, fit.places[q]));
            LevelFrame frame;
            const D3 up = Across(across, Unit(tangent));
            if (!LevelFrameOf(tangent, frame) || !(Norm(up) > 0.0)) return false;
            const double toward =
                way * std::remainder(RollOf(frame, Unit(up)) - fit.rolls[q], 2.0 * M_PI);
            const std::vector<double> base = keptRollTurn();
            bool anyKept = false;
            for (int part = 1; part <= kStepRollParts; ++part) {
                RailFit turned = turnedCopy(base, {q}, {toward}, part * kStepRollShare);
                if (!solveTurned(turned)) break;
                bool taken = false;
                keepIf(turned, [&](const FeltLateral& kept, const FeltLateral& turn) {
                    if (!(turn.largest < kept.largest && turn.squares <= kept.squares &&
                          opensNoGap(kept, turn) &&
                          (turn.onset <= kept.onset || turn.onset <= onsetBound))) {
                        return false;
                    }
                    const VerticalReach vertical =
                        VerticalReachOf(loaded, spacing, heartline, turned);
                    taken = vertical.Gap() <= std::max(beforeVertical.Gap(), target);
                    return taken;
                });
                if (!taken) break;
                anyKept = true;
            }
            return anyKept;
        };
        // Whether the kept fit now rides better than at the round's start.
        const auto rides = [&] {
            const FeltLateral& ride = keptFeltLateral();
            return ride.rawLargest < before.rawLargest - kGapRefitGain &&
                   ride.largest <= before.largest && ride.squares <= before.squares &&
                   (ride.onset <= before.onset || ride.onset <= onsetBound) &&
                   keptVerticalReading().reach.Gap() <= std::max(beforeVertical.Gap(), target);
        };
        std::optional<KeptState> chosen;
        std::optional<KeptState> riding;  // the end riding best where none is chosen
        std::optional<FeltLateral> plain;
        const auto weigh = [&] {
            const bool ok = rides() && keptFeltLateral().largest <= plain->largest &&
                            keptFeltLateral().squares <= plain->squares &&
                            keptFeltLateral().Gap() < plain->Gap() &&
                            keptFeltLateral().Gap() <= drawnFeltLateral().Gap() + kGapTolerance;
            if (ok && (!chosen || keptFeltLateral().largest < chosen->felt->largest)) {
                chosen = keptState();
            }
            if (!ok && rides() && (!riding || keptFeltLateral().largest < riding->felt->largest)) {
                riding = keptState();
            }
        };
        // The rail refitted the kept way at places `at`, the roll turns of
        // `turnsFrom` carried over but for the vertices in `moved`, whose
        // places changed; whether it was made.
        const auto refitCarryingTurns = [&](const std::vector<double>& at, const RailFit& turnsFrom,
                                            const std::vector<size_t>& moved, RailFit& refit) {
            if (turnsFrom.rollTurn.empty()) {
                givenPlaces = at;
                return refitKeptWay(refit);
            }
            // With turns to carry, a rail fitted at `at` without them would
            // only be dropped: the one with them is fitted alone, the up
            // chosen and the budget read as that fit would have. Its system
            // reads the places, not the rolls, so it fails exactly where
            // that fit's would have.
            chooseUpLike(recipe);
            budgetLeft = budgetLeft || static_cast<int>(at.size()) - 1 < segments;
            refit = RailFit{};
            refit.perSegment = pointsPerSegment;
            refit.places = at;
            refit.rollTurn = turnsFrom.rollTurn;
            for (const size_t w : moved) refit.rollTurn[w] = 0.0;
            ++run.RailFits;
            return solveRail(recipe.tuning, refit);
        };
        // The kept fit with the vertex nearest the step turned.
        turnVertex(std::abs(fit.places[q0] - step->at) <= std::abs(fit.places[q1] - step->at) ? q0
                                                                                              : q1);
        plain = keptFeltLateral();
        putBack(start);
        // The vertices either side moved onto the ramp's ends, the kept
        // roll turns carried over, then either end turned.
        RailFit moved;
        const bool made = refitCarryingTurns(places, start.fit, {q0, q1}, moved);
        bool movedIn = false;
        if (made) {
            keepIf(moved, [&](const FeltLateral&, const FeltLateral&) {
                movedIn = true;
                return true;
            });
        }
        if (movedIn) {
            const KeptState ramped = keptState();
            for (const size_t q : {q0, q1}) {
                putBack(ramped);
                turnVertex(q);
                weigh();
            }
        }
        // Where no end brings the gap within the drawn track's and its
        // tolerance, the kept gap stands beyond them, and the end riding
        // best leaves its raw peak at another drawn step not yet ramped: the
        // two steps' places sought together. First either vertex beside that
        // step moved to each of kNextStepShares of its ramp's reach either
        // side of it, then both, the one before moved back and the one after
        // on, the end's roll turns carried over, and the move that
        // leaves the lowest raw lateral within half a felt window of that
        // step, riding no more felt lateral than the round's start (its
        // largest and its squares), taken; then with it, the first step's
        // ramp ends placed again at each pair of kRampEndShares of its
        // reach, the kept roll turns carried over, and either end turned as
        // above, then the other end turned towards the summed force or,
        // where no part of that is kept, away from it; each weighed as the
        // ends above. (The ends placed at the ramp's reach and turned alone
        // rode the raw lateral 0.88 g at the first step's ramp start on
        // random case_061 at its own count with the second step's vertex
        // moved, 0.03 g beyond the gap and tolerance.)
        const double gapBound = drawnFeltLateral().Gap() + kGapTolerance;
        const CurveStep* next =
            !chosen && riding && before.Gap() > gapBound
                ? NearestStep(steps, missedSteps, riding->felt->rawAt, kStepRollReach)
                : nullptr;
        // The vertices either side of that step, each tried.
        std::vector<size_t> beside;
        if (next != nullptr &&
            std::find(rampedAt.begin(), rampedAt.end(), next->at) == rampedAt.end()) {
            const std::vector<double>& at = riding->fit.places;
            const auto upper =
                static_cast<size_t>(std::upper_bound(at.begin(), at.end(), next->at) - at.begin());
            for (const size_t w : {upper - 1, upper}) {
                if (upper >= 1 && w >= 1 && w + 1 < at.size() && w != q0 && w != q1) {
                    beside.push_back(w);
                }
            }
        }
        // The vertices moved about that step, and where to.
        std::vector<std::pair<size_t, double>> nextMoves;
        if (!beside.empty()) {
            const double nextReach = StepRampReach(*next);
            const double nextHalf = 0.5 * kFeltWindow * next->speed;
            const auto rawAbout = [&](const ForcesAlong& forces) {
                double most = 0.0;
                for (const FeltSample& sample : forces.along) {
                    if (sample.counted && std::abs(sample.along - next->at) <= nextHalf) {
                        most = std::max(most, std::abs(sample.raw));
                    }
                }
                return most;
            };
            double lowest = rawAbout(ForcesAlongOf(loaded, spacing, heartline, riding->fit));
            // Either vertex alone, then both, the one before the step moved
            // back and the one after it on.
            std::vector<std::vector<std::pair<size_t, double>>> tries;
            for (const size_t w : beside) {
                for (const double share : kNextStepShares) {
                    tries.push_back({{w, next->at + share * nextReach}});
                }
            }
            if (beside.size() == 2) {
                for (const double back : kNextStepShares) {
                    for (const double on : kNextStepShares) {
                        if (back < 0.0 && on > 0.0) {
                            tries.push_back({{beside[0], next->at + back * nextReach},
                                             {beside[1], next->at + on * nextReach}});
                        }
                    }
                }
            }
            for (const std::vector<std::pair<size_t, double>>& moves : tries) {
                std::vector<double> shifted = riding->fit.places;
                for (const auto& [w, place] : moves) shifted[w] = place;
                bool inOrder = true;
                for (const auto& [w, place] : moves) {
                    inOrder = inOrder && shifted[w] > shifted[w - 1] && shifted[w] < shifted[w + 1];
                }
                if (!inOrder) continue;
                std::vector<size_t> movedVertices;
                for (const auto& [w, place] : moves) movedVertices.push_back(w);
                RailFit moved2;
                if (!refitCarryingTurns(shifted, riding->fit, movedVertices, moved2)) continue;
                std::optional<ForcesAlong> forces;
                putBack(*riding);
                bool in = false;
                keepReadIf(moved2, &forces, nullptr,
                           [&](const FeltLateral&, const FeltLateral& ride) {
                               in = ride.largest <= before.largest &&
                                    ride.squares <= before.squares && rawAbout(*forces) < lowest;
                               return in;
                           });
                if (!in) continue;
                lowest = rawAbout(keptForcesAlong());
                nextMoves = moves;
            }
        }
        if (!nextMoves.empty()) {
            for (const double from : kRampEndShares) {
                for (const double to : kRampEndShares) {
                    std::vector<double> jointly = start.fit.places;
                    jointly[q0] = step->at - from * reach;
                    jointly[q1] = step->at + to * reach;
                    for (const auto& [w, place] : nextMoves) jointly[w] = place;
                    bool inOrder = true;
                    for (size_t q = 1; inOrder && q < jointly.size(); ++q) {
                        inOrder = jointly[q] > jointly[q - 1];
                    }
                    if (!inOrder) continue;
                    std::vector<size_t> movedVertices = {q0, q1};
                    for (const auto& [w, place] : nextMoves) movedVertices.push_back(w);
                    RailFit both;
                    if (!refitCarryingTurns(jointly, start.fit, movedVertices, both)) continue;
                    putBack(start);
                    bool bothIn = false;
                    keepIf(both, [&](const FeltLateral&, const FeltLateral&) {
                        bothIn = true;
                        return true;
                    });
                    if (!bothIn) continue;
                    const KeptState placed = keptState();
                    for (const size_t q : {q0, q1}) {
                        putBack(placed);
                        turnVertex(q);
                        weigh();
                        const size_t other = q == q0 ? q1 : q0;
                        if (!turnVertex(other)) turnVertex(other, -1.0);
                        weigh();
                    }
                }
            }
        }
        putBack(chosen ? *chosen : start);
        if (!chosen) break;
    }
}

void SmoothFitter::EaseFeltLateral() {
    paceOnset();
    // Where the kept rail's felt lateral RMS stands above the drawn track's:
    // the smoothing's reach is set by the largest pass count of any segment
    // and spread over the whole track, and a short hand-banked turn about as
    // long as that reach loses its bank inside and leaks it onto the
    // straights either side. The up chosen again with a shorter smoothing
    // (the filter's own pass count where a segment's larger one set it,
    // three quarters and half the reach, shorter still while the kept RMS
    // stays above, see kShorterSmoothShares) and the rail fitted the kept
    // way, at the kept places and placed anew, kept only where it holds the
    // hearts without jolting, its RMS lower by kShortSmoothGain, its felt
    // lateral no larger, its onset no higher (or within the drawn track's
    // bound, the drawn onset read either way: on the loaded samples or on the
    // ride profile's grid as the rail's own is, see DrawnFeltLateral) and its
    // raw lateral no further above the felt one than the kept rail's or the
    // drawn track's (see kShortSmoothGapMargin). (Shorter over every track,
    // the gap between raw and felt lateral and the onsets grew on many; tried
    // also where the kept RMS stood up to 0.01 g below the drawn one, it
    // changed no ride of 200 random layouts. Held to the bound of the loaded
    // samples' onset alone, which reads 1 g/s below the grid's there, random
    // case_181 at twice its segments kept 0.017 g of RMS above the drawn
    // track's: the shorter smoothings that kept within the gap rode onsets
    // 0.14 and 0.37 g/s above the kept rail's, itself past that bound.)
    // Where none rides so and the kept RMS still stands above the drawn
    // track's, a shorter smoothing that brings it within may ride a little
    // more lateral at its largest (see kRmsTradeLargest): random case_063 at
    // its own count kept 0.0016 g of RMS above the drawn track's, and the
    // smoothings that came within it rode 0.015 g more at their largest, still
    // within 0.01 g of the drawn track's, and 0.09 g more raw above felt.
    if (!leans && solved && best.distance <= kHeldStray) {
        const FeltLateral& drawn = drawnFeltLateral();
        if (RmsOf(keptFeltLateral()) > RmsOf(drawn)) {
            std::vector<double> shares;
            if (run.Settings.filter < run.Filter) {
                shares.push_back(static_cast<double>(run.Settings.filter) / run.Filter);
            }
            for (const double share : kShortSmoothShares) shares.push_back(share);
            const size_t firstShorter = shares.size();
            for (const double share : kShorterSmoothShares) shares.push_back(share);
            const double onsetBound = triedOnsetBound();
            const FitRecipe keptRecipe = recipe;
            // A shorter smoothing that brings the RMS within the drawn
            // track's, its largest felt lateral at most kRmsTradeLargest
            // above the kept rail's or the drawn track's, whichever larger,
            // its onset no higher (or within the drawn track's bound) and its
            // raw lateral no more than kShortSmoothGapMargin further above
            // its felt one than opensNoGap allows: the one of least largest
            // is kept where none rode no worse and the kept RMS stands above
            // the drawn track's by more than kShortSmoothGain.
            const auto tradesForRms = [&](const FeltLateral& before, const FeltLateral& after) {
                return RmsOf(after) < RmsOf(drawn) &&
                       after.largest <=
                           std::max(before.largest, drawn.largest) + kRmsTradeLargest &&
                       (after.onset <= before.onset || after.onset <= onsetBound) &&
                       after.Gap() <=
                           std::max(before.Gap(), triedGapBound()) + kShortSmoothGapMargin;
            };
            struct Traded {
                RailFit fit;
                FitRecipe way;
                double largest;
            };
            std::optional<Traded> traded;
            for (size_t k = 0; k < shares.size(); ++k) {
                if (k >= firstShorter && !(RmsOf(keptFeltLateral()) > RmsOf(drawn))) break;
                const double share = shares[k];
                for (const bool placeAnew : {false, true}) {
                    bool unused = false;
                    samples = chooseUp(keptRecipe.leastSigma, keptRecipe.lean, unused, share);
                    current = keptRecipe;
                    current.smoothShare = share;
                    if (!placeAnew) givenPlaces = fit.places;
                    RailFit shorter;
                    const bool made = fitRail(keptRecipe.tuning, shorter);
                    givenPlaces.clear();
                    if (!made) continue;
                    const FitRecipe madeWay = current;
                    keepIf(shorter, [&](const FeltLateral& before, const FeltLateral& after) {
                        const bool rides =
                            RmsOf(after) < RmsOf(before) - kShortSmoothGain &&
                            after.largest <= before.largest &&
                            (after.onset <= before.onset || after.onset <= onsetBound) &&
                            opensNoGap(before, after);
                        if (rides) {
                            recipe = madeWay;
                        } else if (tradesForRms(before, after) &&
                                   (!traded || after.largest < traded->largest)) {
                            traded = Traded{shorter, madeWay, after.largest};
                        }
                        return rides;
                    });
                }
            }
            if (traded && RmsOf(keptFeltLateral()) > RmsOf(drawn) + kShortSmoothGain) {
                bool unused = false;
                samples = chooseUp(keptRecipe.leastSigma, keptRecipe.lean, unused,
                                   traded->way.smoothShare);
                keepIf(traded->fit, [&](const FeltLateral& before, const FeltLateral& after) {
                    const bool rides = tradesForRms(before, after);
                    if (rides) recipe = traded->way;
                    return rides;
                });
            }
        }
    }
    // Where the kept rail's largest felt lateral stands above the drawn
    // track's by more than the cap's margin (see CapFeltLateral): the cap
    // holds the up's felt lateral on the loaded path within the drawn
    // largest, yet at a hard turn's peak the rail fitted under it can ride
    // more (random case_143, 6.1 g at 23 m/s, heartline -1.3 m: 0.11 g more
    // at every count, the capped up within 0.02 g of the drawn largest
    // there). The up chosen again with the cap held that excess below the
    // drawn largest and the rail fitted the kept way at the kept places, kept
    // only where it holds the hearts without jolting, its largest lower, its
    // squares no more, its onset no higher (or within the drawn track's
    // bound) and its raw lateral no further above the felt one than the kept
    // rail's or the drawn track's (see kShortSmoothGapMargin). Where that
    // refit is kept, the pacing above is tried again about the lowered
    // lateral: a paced refit held to ride no more lateral than the kept rail
    // may ride less than the capped one.
    if (!leans && solved && best.distance <= kHeldStray) {
        const FeltLateral& drawn = drawnFeltLateral();
        const double excess = keptFeltLateral().largest - drawn.largest;
        if (excess > kCapFeltMargin) {
            const double onsetBound = triedOnsetBound();
            FitRecipe cappedWay = recipe;
            cappedWay.capBelow = recipe.capBelow + excess;
            RailFit capped;
            if (refitAtKeptPlaces(cappedWay, capped)) {
                keepIf(capped, [&](const FeltLateral& before, const FeltLateral& after) {
                    const bool rides = after.largest < before.largest &&
                                       after.squares <= before.squares &&
                                       (after.onset <= before.onset || after.onset <= onsetBound) &&
                                       opensNoGap(before, after);
                    if (rides) {
                        recipe = cappedWay;
                        capBelow = cappedWay.capBelow;
                        capKept = true;
                    }
                    return rides;
                });
            }
        }
    }
    if (capKept) paceOnset();
}

void SmoothFitter::OntoStepsAtEnds() {
    // Where the kept rail's felt vertical changes fastest within the two
    // segments at either end of the track and a drawn curvature step lies
    // between the end and the vertex after the next: AlignCurveSteps and
    // OntoMissedSteps leave the first and last two vertices where they are,
    // so the cubic at the end smears that step over its segment and overshoots
    // at the track's end, where the felt window is cut short and reads the
    // overshoot alone (random case_051, a 3.4 g turn drawn 4.75 m from its
    // start at 27.5 m/s: a vertex 0.84 m past it, the felt vertical rose at
    // 21.1 g/s against the drawn track's bound of 19.8; on the step, 15.1).
    // So the vertex next to the end moved onto that step, where both
    // segments beside it keep at least half their lengths, and the rail
    // fitted again the kept way, kept only where it holds the hearts without
    // jolting, its felt vertical onset falls, its felt vertical reaches no
    // further either way and its raw vertical stands no further beyond the
    // felt one, and its felt lateral is no worse: its largest, its raw
    // lateral above the felt one (within kStepRollFelt: the fit's noise far
    // from the end moves them) and its squares no more, its onset no higher
    // (or within the drawn track's bound). Not where either segment reaches
    // into a loop's lean.
    if (solved && best.distance <= kHeldStray && fit.places.size() >= 5) {
        const auto inLeanSpan = [&](double from, double to) {
            for (size_t k = 0; k + 1 < leanSpans.size(); k += 2) {
                if (to >= leanSpans[k] && from <= leanSpans[k + 1]) return true;
            }
            return false;
        };
        for (const bool atEnd : {false, true}) {
            const size_t q = atEnd ? fit.places.size() - 2 : 1;
            const double from = fit.places[q - 1], to = fit.places[q + 1];
            if (inLeanSpan(from, to)) continue;
            const CurveStep* step = nullptr;
            for (const std::vector<CurveStep>* list :
                 std::array<const std::vector<CurveStep>*, 2>{&steps, &missedSteps}) {
                for (const CurveStep& drawnStep : *list) {
                    if (!(drawnStep.at > from && drawnStep.at < to) ||
                        drawnStep.at == fit.places[q]) {
                        continue;
                    }
                    if (step == nullptr || std::abs(drawnStep.at - fit.places[q]) <
                                               std::abs(step->at - fit.places[q])) {
                        step = &drawnStep;
                    }
                }
            }
            if (step == nullptr) continue;
            const double before = fit.places[q] - from, after = to - fit.places[q];
            if (!(step->at - from >= 0.5 * before && to - step->at >= 0.5 * after)) continue;
            const FeltVertical keptVertical = keptVerticalReading().felt;
            if (!(keptVertical.onsetAt >= from && keptVertical.onsetAt <= to)) continue;
            givenPlaces = fit.places;
            givenPlaces[q] = step->at;
            RailFit moved;
            if (!refitKeptWay(moved)) continue;
            std::optional<ForcesAlong> movedForces =
                ForcesAlongOf(loaded, spacing, heartline, moved);
            const VerticalReading movedReading = VerticalOver(*movedForces);
            const FeltVertical& movedVertical = movedReading.felt;
            if (!(movedVertical.onset < keptVertical.onset) ||
                movedVertical.lowest < keptVertical.lowest - kStepRollFelt) {
                continue;
            }
            const VerticalReach keptReach = keptVerticalReading().reach;
            const VerticalReach& movedReach = movedReading.reach;
            const double drawnGap = triedGapBound();
            if (movedReach.feltTop > keptReach.feltTop + kStepRollFelt ||
                movedReach.Gap() > std::max(keptReach.Gap(), drawnGap)) {
                continue;
            }
            const double onsetBound = triedOnsetBound();
            keepReadIf(moved, &movedForces, &movedReading,
                       [&](const FeltLateral& kept, const FeltLateral& ride) {
                           return ride.largest <= kept.largest + kStepRollFelt &&
                                  ride.squares <= kept.squares &&
                                  (ride.onset <= kept.onset || ride.onset <= onsetBound) &&
                                  ride.Gap() <= std::max(kept.Gap() + kStepRollFelt, drawnGap);
                       });
        }
    }
}

void SmoothFitter::OntoSteepSteps() {
    // Where the kept rail's felt vertical changes fastest, or its raw
    // vertical stands furthest beyond its felt one (that gap near its
    // tolerance, see kStepRollGapMargin), within half a felt window of a
    // drawn curvature step on a steep slope (the path running into or out of
    // the vertical) with no vertex on it: AlignCurveSteps and OntoMissedSteps
    // leave such steps where they lie, and the cubic holding one smears it
    // over its segment and overshoots beside it, which the felt window reads.
    // (The top hat's pull-up into the vertical, a 3.6 g step at 20.6 m/s
    // 0.11 m past a vertex at 100, 200 and 400 segments: vertical onsets of
    // 32.6, 31.9 and 32.1 g/s against the drawn track's bound of 31.9; its
    // run out of the vertical at 100 segments: the raw vertical 0.84 g
    // beyond the felt one, 0.04 g beyond the drawn track's gap and its
    // tolerance.) So the vertex nearest the step moved onto it alone, and
    // with its neighbours following over kStepSideTaper segments either side
    // (every segment keeping at least kStepMoveShare of its length: moved
    // alone, a vertex can leave a short segment beside the step that jolts,
    // the top hat at 400 segments), and the rail fitted again the kept way
    // at each, the better kept where it holds the hearts without jolting,
    // lowers what was read (the onset, or the gap without a higher onset),
    // keeps the felt vertical's reach and the other within the kept rail's
    // (or the drawn track's gap), and its felt lateral is no worse, as at the
    // track's ends above (its squares may grow where it rides no felt lateral
    // beyond kStepRollFelt anywhere: on a track drawn in one plane they are
    // the fit's noise). Only on steep slopes, where the finish holds the
    // heart's place alone (see FinishFit): on a vertex on a level step the
    // heart's curvature jumps with the drawn one's, a kick at the join (the
    // airtime hill's step into its crest at 100 and 200 segments: 0.10 /m,
    // where the smooth rebuild keeps such jumps to a tenth of that).
    drawnSteps = leans ? std::vector<CurveStep>{} : CurveSteps(walk, loaded, spacing, 1.0, spacing);
    for (const bool forGap : {false, true}) {
        if (drawnSteps.empty() || !solved || !(best.distance <= kHeldStray) ||
            fit.places.size() < 5) {
            break;
        }
        const FeltVertical keptVertical = keptVerticalReading().felt;
        const VerticalReach keptReach = keptVerticalReading().reach;
        if (forGap && !(keptReach.Gap() > kGapTolerance - kStepRollGapMargin)) break;
        // The drawn step on a steep slope nearest the onset or the gap within
        // half a felt window, with no vertex on it.
        const double at = forGap ? keptReach.GapAt() : keptVertical.onsetAt;
        const CurveStep* step = nullptr;
        for (const CurveStep& drawnStep : drawnSteps) {
            const double apart = std::abs(drawnStep.at - at);
            if (!(apart <= 0.5 * kFeltWindow * drawnStep.speed)) continue;
            const auto j = static_cast<size_t>(std::nearbyint(
                std::clamp(drawnStep.at / spacing, 0.0, static_cast<double>(loaded.size() - 1))));
            if (!(Steepness(loaded[j].tangent) > kMissedStepSteepness)) continue;
            if (std::find(fit.places.begin(), fit.places.end(), drawnStep.at) != fit.places.end()) {
                continue;
            }
            if (step == nullptr || apart < std::abs(step->at - at)) step = &drawnStep;
        }
        if (step == nullptr) continue;
        const std::vector<double> keptPlaces = fit.places;
        const auto it = std::upper_bound(keptPlaces.begin(), keptPlaces.end(), step->at);
        if (it == keptPlaces.begin() || it == keptPlaces.end()) continue;
        auto q = static_cast<size_t>(it - keptPlaces.begin()) - 1;
        if (keptPlaces[q + 1] - step->at < step->at - keptPlaces[q]) ++q;
        if (q < 2 || q + 2 >= keptPlaces.size()) continue;
        const double shift = step->at - keptPlaces[q];
        const double drawnGap = triedGapBound();
        const double onsetBound = triedOnsetBound();
        double least = forGap ? keptReach.Gap() : keptVertical.onset;
        for (const int taper : {1, kStepSideTaper}) {
            givenPlaces = keptPlaces;
            for (int k = 1 - taper; k < taper; ++k) {
                const std::ptrdiff_t p = static_cast<std::ptrdiff_t>(q) + k;
                if (p < 2 || p + 2 >= static_cast<std::ptrdiff_t>(keptPlaces.size())) continue;
                givenPlaces[static_cast<size_t>(p)] +=
                    shift * (1.0 - std::abs(k) / static_cast<double>(taper));
            }
            givenPlaces[q] = step->at;
            bool kept = true;  // every segment keeps its share of its length
            for (size_t p = 1; p < givenPlaces.size(); ++p) {
                kept = kept && givenPlaces[p] - givenPlaces[p - 1] >=
                                   kStepMoveShare * (keptPlaces[p] - keptPlaces[p - 1]);
            }
            RailFit moved;
            if (!kept) {
                givenPlaces.clear();
                continue;
            }
            if (!refitKeptWay(moved)) continue;
            std::optional<ForcesAlong> movedForces =
                ForcesAlongOf(loaded, spacing, heartline, moved);
            const VerticalReading movedReading = VerticalOver(*movedForces);
            const FeltVertical& movedVertical = movedReading.felt;
            const VerticalReach& movedReach = movedReading.reach;
            const bool lower =
                forGap ? movedReach.Gap() < least && !(movedVertical.onset > keptVertical.onset)
                       : movedVertical.onset < least &&
                             !(movedReach.Gap() > std::max(keptReach.Gap(), drawnGap));
            if (!lower || movedVertical.lowest < keptVertical.lowest - kStepRollFelt ||
                movedReach.feltTop > keptReach.feltTop + kStepRollFelt) {
                continue;
            }
            keepReadIf(moved, &movedForces, &movedReading,
                       [&](const FeltLateral& before, const FeltLateral& ride) {
                           const bool rides =
                               ride.largest <= before.largest + kStepRollFelt &&
                               (ride.squares <= before.squares || ride.largest <= kStepRollFelt) &&
                               (ride.onset <= before.onset || ride.onset <= onsetBound) &&
                               ride.Gap() <= std::max(before.Gap() + kStepRollFelt, drawnGap);
                           if (rides) least = forGap ? movedReach.Gap() : movedVertical.onset;
                           return rides;
                       });
        }
    }
}

void SmoothFitter::OntoLevelStepRamp() {
    // Where the kept rail's raw vertical still stands beyond its felt one by
    // nearly its tolerance (see kStepRollGapMargin) inside a segment holding
    // a drawn curvature step on the level with no vertex on it, the cubic
    // smears the step over the segment and dips beside it (random case_160 at
    // four times its segments: a 5.5 g step at 172.8 m inside a 6.0 m
    // segment, 0.67 g of gap, 0.06 g beyond the drawn track's gap and its
    // tolerance). A vertex on the step makes the heart's curvature jump at
    // the join (see the steep-step refit above: the same run's raw lateral
    // rose 0.07 g there). So the vertex nearest the step moved onto the end
    // of the step's ramp on its side (see StepRampReach), where every segment
    // keeps kStepMoveShare of its length, and the rail fitted again the kept
    // way, kept where it holds the hearts without jolting, its gap falls
    // within its tolerance, its vertical onset is no higher, its felt
    // vertical reaches no higher (within kStepRollFelt) and its lowest no
    // lower than the kept rail's or the drawn track's less kEndCurveTryMargin,
    // and its felt lateral is no worse: its largest within kStepRollFelt, its
    // squares within kStepOffSquares where its RMS stays clearly within the
    // drawn track's, its onset no higher (or within the drawn track's bound)
    // and its gap no wider (see opensNoGap). (case_160 at four times its
    // segments: its gap 0.10 g, its lowest felt vertical 0.08 g lower, 0.05 g
    // below the drawn track's.)
    if (!drawnSteps.empty() && solved && best.distance <= kHeldStray && fit.places.size() >= 5 &&
        keptVerticalReading().reach.Gap() >
            drawnFeltLateral().Gap() + kGapTolerance - kStepRollGapMargin) {
        const double drawnGap = drawnFeltLateral().Gap();
        const FeltVertical keptVertical = keptVerticalReading().felt;
        const VerticalReach keptReach = keptVerticalReading().reach;
        const std::vector<double> keptPlaces = fit.places;
        const double at = keptReach.GapAt();
        const auto holding = std::upper_bound(keptPlaces.begin(), keptPlaces.end(), at);
        const CurveStep* step = nullptr;
        if (holding != keptPlaces.begin() && holding != keptPlaces.end()) {
            for (const CurveStep& drawnStep : drawnSteps) {
                const auto j = static_cast<size_t>(std::nearbyint(std::clamp(
                    drawnStep.at / spacing, 0.0, static_cast<double>(loaded.size() - 1))));
                if (!(drawnStep.at > *(holding - 1) && drawnStep.at < *holding) ||
                    Steepness(loaded[j].tangent) > 0.0) {
                    continue;
                }
                if (step == nullptr || std::abs(drawnStep.at - at) < std::abs(step->at - at)) {
                    step = &drawnStep;
                }
            }
        }
        if (step != nullptr) {
            auto q = static_cast<size_t>(holding - keptPlaces.begin()) - 1;
            const bool after = keptPlaces[q + 1] - step->at < step->at - keptPlaces[q];
            if (after) ++q;
            const double reach = StepRampReach(*step);
            const double to = after ? step->at + reach : step->at - reach;
            givenPlaces = keptPlaces;
            givenPlaces[q] = to;
            bool kept =
                q >= 2 && q + 2 < keptPlaces.size() && std::abs(keptPlaces[q] - step->at) > reach;
            for (size_t p = 1; kept && p < givenPlaces.size(); ++p) {
                kept = givenPlaces[p] - givenPlaces[p - 1] >=
                       kStepMoveShare * (keptPlaces[p] - keptPlaces[p - 1]);
            }
            RailFit moved;
            if (!kept) {
                givenPlaces.clear();
            } else if (refitKeptWay(moved)) {
                std::optional<ForcesAlong> movedForces =
                    ForcesAlongOf(loaded, spacing, heartline, moved);
                const VerticalReading movedReading = VerticalOver(*movedForces);
                const FeltVertical& movedVertical = movedReading.felt;
                const VerticalReach& movedReach = movedReading.reach;
                const double lowest =
                    std::min(keptVertical.lowest - kStepRollFelt,
                             DrawnFeltLowest(loaded, spacing) - kEndCurveTryMargin);
                if (movedReach.Gap() <= drawnGap + kGapTolerance &&
                    movedReach.Gap() < keptReach.Gap() &&
                    !(movedVertical.onset > keptVertical.onset) && movedVertical.lowest >= lowest &&
                    movedReach.feltTop <= keptReach.feltTop + kStepRollFelt) {
                    const double onsetBound = triedOnsetBound();
                    const bool breaks = keptReach.Gap() > drawnGap + kGapTolerance;
                    keepReadIf(
                        moved, &movedForces, &movedReading,
                        [&](const FeltLateral& before, const FeltLateral& ride) {
                            const bool rides =
                                ride.largest <= before.largest + kStepRollFelt &&
                                (ride.squares <= before.squares ||
                                 (breaks && ride.squares <= kStepOffSquares * before.squares &&
                                  withinDrawnRms(ride))) &&
                                (ride.onset <= before.onset || ride.onset <= onsetBound) &&
                                opensNoGap(before, ride);
                            if (rides) {
                                rampedStep = step;
                                rampedVertex = q;
                            }
                            return rides;
                        });
                }
            }
        }
    }
}

void SmoothFitter::TwistRampedSegment() {
    // Where a vertex was moved onto the step's ramp end above, the segment
    // now holding the step eases its roll across the whole step, and the raw
    // lateral about the step can rise well above what it was (random case_160
    // at four times its segments: 3.07 g at 170.7 m, 2 m before its 5.5 g
    // step, from below 2.8 g; the step roll turns at its 6.3 g step at 200.7 m
    // then stopped where that peak stood highest, 0.05 g beyond the drawn
    // track's gap and its tolerance). So that segment twisted part by part:
    // its end nearer the raw peak turned kStepTwistShare of the way towards
    // the force summed across the step and its other end turned back by as
    // much. (Turned alone, that end pushed the felt vertical onset at the
    // step from 32.2 to 32.8 g/s at a quarter of the way, beyond the drawn
    // track's bound; its other end turned back lowers it.) Each part kept
    // where it holds the hearts without jolting, the largest raw lateral
    // within kStepRollReach of the step falls by more than kStepRollGain, the
    // felt lateral rides no more (its squares no more, its largest within
    // kStepRollFelt), its onset is no higher (or within the tried bound), its
    // gap no wider (see opensNoGap), its raw vertical stands as for the
    // step-off below, its felt vertical onset is no higher (or within the
    // drawn track's bound) and its lowest no lower than the kept rail's or
    // the drawn track's less kEndCurveTryMargin (as for the move above).
    // (case_160: three parts, its raw lateral there from 3.07 to 2.91 g, its
    // felt lateral RMS from 0.528 to 0.519 g and its vertical onset from
    // 32.16 to 31.90 g/s; the step roll turns then cleared its gap.)
    if (rampedStep != nullptr && !leans && solved && best.distance <= kHeldStray) {
        chooseUpLike(recipe);
        const double half = 0.5 * kFeltWindow * rampedStep->speed;
        const D3 across = loaded[sampleAt(rampedStep->at - half)].feltAcross +
                          loaded[sampleAt(rampedStep->at + half)].feltAcross;
        // The largest raw lateral within kStepRollReach of the step, and
        // where it is.
        const auto rawNear = [&](const ForcesAlong& forces, double* where) {
            double most = 0.0;
            for (const FeltSample& x : forces.along) {
                if (x.counted && std::abs(x.along - rampedStep->at) <= kStepRollReach &&
                    std::abs(x.raw) > most) {
                    most = std::abs(x.raw);
                    if (where != nullptr) *where = x.along;
                }
            }
            return most;
        };
        double peakAt = rampedStep->at;
        rawNear(keptForcesAlong(), &peakAt);
        // The end of the segment holding the step nearer that peak.
        const auto holding = std::upper_bound(fit.places.begin(), fit.places.end(), rampedStep->at);
        size_t q = static_cast<size_t>(holding - fit.places.begin());
        if (holding != fit.places.begin() && holding != fit.places.end() &&
            std::abs(peakAt - *(holding - 1)) < std::abs(*holding - peakAt)) {
            --q;
        }
        double toward = 0.0;
        const bool turns = holding != fit.places.begin() && holding != fit.places.end() &&
                           turnToward(q, across, toward);
        const std::vector<double> base = keptRollTurn();
        const double target = drawnFeltLateral().Gap() + kGapTolerance - kStepRollGapMargin;
        const double onsetBound = triedOnsetBound();
        const double verticalBound =
            kOnsetBoundFactor * DrawnFeltVerticalOnset(loaded, spacing) + kOnsetTryMargin;
        const double lowestBound = DrawnFeltLowest(loaded, spacing) - kEndCurveTryMargin;
        const size_t other = peakAt < rampedStep->at ? q + 1 : q - 1;
        for (int part = 1; turns && part <= kStepTwistParts; ++part) {
            RailFit turned =
                turnedCopy(base, {q, other}, {toward, -toward}, part * kStepTwistShare);
            ++run.RailFits;
            if (!solveRail(recipe.tuning, turned)) break;
            const double keptRaw = rawNear(keptForcesAlong(), nullptr);
            std::optional<ForcesAlong> forces = ForcesAlongOf(loaded, spacing, heartline, turned);
            const VerticalReading reading = VerticalOver(*forces);
            const double turnedRaw = rawNear(*forces, nullptr);
            bool taken = false;
            keepReadIf(
                turned, &forces, &reading, [&](const FeltLateral& kept, const FeltLateral& after) {
                    const VerticalReading& keptRead = keptVerticalReading();
                    taken = turnedRaw < keptRaw - kStepRollGain &&
                            after.largest <= kept.largest + kStepRollFelt &&
                            after.squares <= kept.squares &&
                            (after.onset <= kept.onset + kStepRollOnsetNoise ||
                             after.onset <= onsetBound) &&
                            opensNoGap(kept, after) &&
                            reading.reach.Gap() <= std::max(keptRead.reach.Gap(), target) &&
                            (reading.felt.onset <= keptRead.felt.onset + kStepRollOnsetNoise ||
                             reading.felt.onset <= verticalBound) &&
                            reading.felt.lowest >=
                                std::min(keptRead.felt.lowest - kStepRollFelt, lowestBound) &&
                            reading.reach.feltTop <= keptRead.reach.feltTop + kStepRollFelt;
                    return taken;
                });
            if (!taken) break;
        }
    }
}

void SmoothFitter::HoldCurveAtGentleSteps() {
    // Where the kept rail's raw vertical still stands furthest beyond its
    // felt one, or nearly (see kStepRollGapMargin), within half a felt window
    // of a drawn curvature step on a gentle slope (steep, but no steeper than
    // kMissedStepSteepness), the finish neither holds the heart's curvature
    // there nor ramps across the step, and a cubic smears a step inside its
    // segment and overshoots it on both sides (the airtime hill's step into
    // its crest at 200 segments, half a metre long: 0.69 g raw beyond the
    // felt vertical, 0.06 g beyond the drawn track's gap and its tolerance).
    // A vertex on it makes the heart's curvature jump with the drawn one's
    // (see the steep-step refit above). So the rail fitted again the kept way
    // at the kept places with those steps ramped and the heart's curvature
    // held across their ramps (see FinishFit), kept only where its raw
    // vertical stands less far beyond the felt one, its vertical onset is no
    // higher, its felt vertical reaches no further, and its felt lateral is
    // no worse, as above.
    if (!leans && solved && best.distance <= kHeldStray && recipe.tuning.curveWeight > 0.0 &&
        !recipe.tuning.rampsOnSlopes) {
        const VerticalReach keptReach = keptVerticalReading().reach;
        bool near = false;
        if (keptReach.Gap() > kGapTolerance - kStepRollGapMargin) {
            for (const CurveStep& step : CurveSteps(walk, loaded, spacing, kMissedStepSteepness)) {
                const auto j = static_cast<size_t>(std::nearbyint(
                    std::clamp(step.at / spacing, 0.0, static_cast<double>(loaded.size() - 1))));
                near = near ||
                       (Steepness(loaded[j].tangent) > 0.0 &&
                        std::abs(step.at - keptReach.GapAt()) <= 0.5 * kFeltWindow * step.speed);
            }
        }
        FitRecipe rampWay = recipe;
        rampWay.tuning.rampsOnSlopes = true;
        RailFit ramped;
        if (near && refitAtKeptPlaces(rampWay, ramped)) {
            const FeltVertical keptVertical = keptVerticalReading().felt;
            std::optional<ForcesAlong> rampedForces =
                ForcesAlongOf(loaded, spacing, heartline, ramped);
            const VerticalReading rampedReading = VerticalOver(*rampedForces);
            const FeltVertical& rampedVertical = rampedReading.felt;
            const VerticalReach& rampedReach = rampedReading.reach;
            const double onsetBound = triedOnsetBound();
            if (rampedReach.Gap() < keptReach.Gap() &&
                rampedVertical.onset <= keptVertical.onset + kStepRollOnsetNoise &&
                rampedVertical.lowest >= keptVertical.lowest - kStepRollFelt &&
                rampedReach.feltTop <= keptReach.feltTop + kStepRollFelt) {
                keepReadIf(
                    ramped, &rampedForces, &rampedReading,
                    [&](const FeltLateral& kept, const FeltLateral& ride) {
                        const bool rides =
                            ride.largest <= kept.largest + kStepRollFelt &&
                            (ride.squares <= kept.squares || ride.largest <= kStepRollFelt) &&
                            (ride.onset <= kept.onset || ride.onset <= onsetBound) &&
                            opensNoGap(kept, ride);
                        if (rides) {
                            recipe = rampWay;
                        }
                        return rides;
                    });
            }
        }
    }
}

void SmoothFitter::OntoStepsBesideEnds() {
    // Where the kept rail's raw force, lateral or vertical, stands further
    // beyond its felt one than the drawn track's lateral does, by nearly its
    // tolerance (see kStepRollGapMargin), within half a felt window of a
    // drawn curvature step inside a segment beside the second or third vertex
    // from either end: AlignCurveSteps leaves those vertices where they are,
    // and the cubic holding the step smears it over its segment and
    // overshoots beside it. (Random case_050, a flat 3.6 g turn drawn 4.04 m
    // from its start at 17 m/s, a vertex 0.10 m before it: its raw lateral
    // 0.04 g beyond the drawn track's gap and its tolerance at all three
    // counts.) So that vertex moved onto the step, where both segments beside
    // it keep at least half their lengths, and the rail fitted again the kept
    // way, kept where it holds the hearts without jolting, its gap falls and
    // comes within its tolerance, its felt vertical reaches no further either
    // way, its vertical onset is no higher (or within the drawn track's
    // bound), and its felt lateral is no worse: its squares no more, its
    // onset no higher (or within the drawn track's bound) and its largest
    // within kStepRollFelt, or, where the kept gap stood beyond its
    // tolerance, within kStepGapTrade as long as it stays clearly within the
    // drawn track's (see kDrawnLargestMargin): the gap cleared, case_050 at
    // twice its segments rode 0.02 g more. The step is sought about the wider
    // gap's place, then about the other's where it stands as near (case_050
    // at its own count read its vertical gap 0.004 g wider than its lateral
    // one, at 11.8 m, with no such vertex near). Where the moved rail's gap
    // still stands beyond its tolerance within half a felt window of another
    // drawn step, the vertices either side of that step moved onto its ramp's
    // ends as well (see StepRampReach) and the rail weighed again alike: with
    // the vertex on its first step, case_050 at its own count and four times
    // its segments dipped its raw vertical past the turn's end at 11.14 m,
    // inside a 1.6 to 1.8 m segment, 0.05 and 0.02 g beyond its gap's
    // tolerance; with that step's ramp ends too, 0.03 g within it, its
    // largest felt lateral 0.03 g higher.
    if (!leans && solved && best.distance <= kHeldStray && fit.places.size() >= 7) {
        const double drawnGap = drawnFeltLateral().Gap();
        const FeltLateral& keptLateral = keptFeltLateral();
        const VerticalReach keptReach = keptVerticalReading().reach;
        const double keptGap = std::max(keptLateral.Gap(), keptReach.Gap());
        const size_t last = fit.places.size() - 1;
        const CurveStep* step = nullptr;
        size_t q = 0;
        // The places of the raw lateral's and vertical's gaps, the wider
        // first, each where it stands that near its tolerance.
        std::vector<double> gapsAt;
        const double near = drawnGap + kGapTolerance - kStepRollGapMargin;
        const bool lateralFirst = keptLateral.Gap() >= keptReach.Gap();
        for (const bool lateral : {lateralFirst, !lateralFirst}) {
            if ((lateral ? keptLateral.Gap() : keptReach.Gap()) > near) {
                gapsAt.push_back(lateral ? keptLateral.rawAt : keptReach.GapAt());
            }
        }
        for (const double at : gapsAt) {
            if (step != nullptr) break;
            for (const std::vector<CurveStep>* list :
                 std::array<const std::vector<CurveStep>*, 2>{&steps, &missedSteps}) {
                for (const CurveStep& drawnStep : *list) {
                    if (!(std::abs(drawnStep.at - at) <= 0.5 * kFeltWindow * drawnStep.speed)) {
                        continue;
                    }
                    // The step inside a segment beside one of the vertices
                    // AlignCurveSteps leaves, nearest its vertex.
                    for (const size_t p : {size_t{1}, size_t{2}, last - 2, last - 1}) {
                        const double from = fit.places[p - 1], to = fit.places[p + 1];
                        if (!(drawnStep.at > from && drawnStep.at < to) ||
                            drawnStep.at == fit.places[p] ||
                            !(drawnStep.at - from >= 0.5 * (fit.places[p] - from) &&
                              to - drawnStep.at >= 0.5 * (to - fit.places[p]))) {
                            continue;
                        }
                        if (step == nullptr || std::abs(drawnStep.at - fit.places[p]) <
                                                   std::abs(step->at - fit.places[q])) {
                            step = &drawnStep;
                            q = p;
                        }
                    }
                }
            }
        }
        // The places tried: that vertex moved onto the step, then, where the
        // moved rail's gap still stands beyond its tolerance, the next step's
        // ramp ends too (see below); the steps moved onto, in `movedTo`.
        std::vector<double> places, movedTo;
        if (step != nullptr) {
            places = fit.places;
            places[q] = step->at;
            movedTo.push_back(step->at);
        }
        for (int move = 0; move < 2 && !places.empty(); ++move) {
            RailFit moved;
            givenPlaces = places;
            if (!refitKeptWay(moved)) break;
            std::optional<ForcesAlong> movedForces =
                ForcesAlongOf(loaded, spacing, heartline, moved);
            const VerticalReading movedReading = VerticalOver(*movedForces);
            const FeltLateral movedLateral = FeltLateralOver(movedForces->along);
            const double movedGap = std::max(movedLateral.Gap(), movedReading.reach.Gap());
            const FeltVertical keptVertical = keptVerticalReading().felt;
            const FeltVertical& movedVertical = movedReading.felt;
            const double verticalBound =
                kOnsetBoundFactor * DrawnFeltVerticalOnset(loaded, spacing) + kOnsetTryMargin;
            const double onsetBound = triedOnsetBound();
            bool taken = false;
            if (movedGap < keptGap && movedGap <= drawnGap + kGapTolerance &&
                movedVertical.lowest >= keptVertical.lowest - kStepRollFelt &&
                movedReading.reach.feltTop <= keptReach.feltTop + kStepRollFelt &&
                (movedVertical.onset <= keptVertical.onset + kStepRollOnsetNoise ||
                 movedVertical.onset <= verticalBound)) {
                keepReadIf(moved, &movedForces, &movedReading,
                           [&](const FeltLateral& kept, const FeltLateral& ride) {
                               const double largest =
                                   keptGap > drawnGap + kGapTolerance &&
                                           ride.largest <=
                                               drawnFeltLateral().largest - kDrawnLargestMargin
                                       ? kStepGapTrade
                                       : kStepRollFelt;
                               taken = ride.largest <= kept.largest + largest &&
                                       ride.squares <= kept.squares &&
                                       (ride.onset <= kept.onset || ride.onset <= onsetBound);
                               return taken;
                           });
            }
            if (taken || !(movedGap > drawnGap + kGapTolerance)) break;
            // The next step: the one nearest the moved rail's gap, within
            // half a felt window of it, not yet moved onto.
            const double next = movedLateral.Gap() >= movedReading.reach.Gap()
                                    ? movedLateral.rawAt
                                    : movedReading.reach.GapAt();
            const CurveStep* nextStep = nullptr;
            for (const std::vector<CurveStep>* list :
                 std::array<const std::vector<CurveStep>*, 2>{&steps, &missedSteps}) {
                for (const CurveStep& drawnStep : *list) {
                    const double apart = std::abs(drawnStep.at - next);
                    if (apart <= 0.5 * kFeltWindow * drawnStep.speed &&
                        std::find(movedTo.begin(), movedTo.end(), drawnStep.at) == movedTo.end() &&
                        (nextStep == nullptr || apart < std::abs(nextStep->at - next))) {
                        nextStep = &drawnStep;
                    }
                }
            }
            if (nextStep == nullptr) break;
            // The vertices either side of it moved onto its ramp's ends (see
            // StepRampReach), where they keep their order and neither is the
            // one moved above nor sits on the step.
            const auto after = std::upper_bound(places.begin(), places.end(), nextStep->at);
            const auto u = static_cast<size_t>(after - places.begin());
            const double reach = StepRampReach(*nextStep);
            if (u < 2 || u + 1 >= places.size() || places[u - 1] == nextStep->at ||
                !(nextStep->at - reach > places[u - 2]) ||
                !(nextStep->at + reach < places[u + 1]) || u - 1 == q || u == q) {
                break;
            }
            places[u - 1] = nextStep->at - reach;
            places[u] = nextStep->at + reach;
            movedTo.push_back(nextStep->at);
        }
        givenPlaces.clear();
    }
}

void SmoothFitter::HoldEndCurvature() {
    // Where the kept rail's lowest felt vertical lies in the first or last
    // segment and falls below the drawn track's by nearly its tolerance (see
    // kEndCurveTryMargin): the finish holds the heart's curvature at the
    // joins only, so at the track's ends the last cubic bends the heart
    // freely, and under a turning roll with a long heartline it dips there
    // (random case_151 at four times its segments, heartline -1.29 m: about
    // a centimetre of bend in its last segment, the felt vertical 0.14 g
    // below the drawn track's and its tolerance). So the rail fitted again
    // the kept way at the kept places with the heart's curvature held at that
    // end too, kept only where it holds the hearts without jolting, its
    // lowest felt vertical rises, its vertical onset is no higher and its
    // felt vertical reaches no higher (within the fit's noise, see
    // kStepRollOnsetNoise and kStepRollFelt), its raw vertical stands no
    // further beyond the felt one, and its felt lateral is no worse: its
    // largest no more than kStepRollFelt higher, its squares within
    // kEndCurveSquares, its onset no higher (or within the drawn track's
    // bound) and its gap no wider (see opensNoGap). (Held at every run's
    // ends, as many of 600 random runs rode worse as better: case_192 at its
    // own count, 2.3 g further beyond the drawn track's gap.)
    if (solved && best.distance <= kHeldStray && fit.places.size() >= 3 &&
        recipe.tuning.curveWeight > 0.0) {
        const FeltVertical keptVertical = keptVerticalReading().felt;
        const size_t last = fit.places.size() - 1;
        const bool atStart = keptVertical.lowestAt <= fit.places[1];
        const bool atEnd = keptVertical.lowestAt >= fit.places[last - 1];
        if ((atStart || atEnd) &&
            keptVertical.lowest < DrawnFeltLowest(loaded, spacing) - kEndCurveTryMargin) {
            FitRecipe endWay = recipe;
            endWay.tuning.curveAtStart = endWay.tuning.curveAtStart || atStart;
            endWay.tuning.curveAtEnd = endWay.tuning.curveAtEnd || atEnd;
            RailFit held;
            if (endWay.tuning != recipe.tuning && refitAtKeptPlaces(endWay, held)) {
                std::optional<ForcesAlong> heldForces =
                    ForcesAlongOf(loaded, spacing, heartline, held);
                const VerticalReading heldReading = VerticalOver(*heldForces);
                const FeltVertical& heldVertical = heldReading.felt;
                const VerticalReach keptReach = keptVerticalReading().reach;
                const VerticalReach& heldReach = heldReading.reach;
                const double drawnGap = triedGapBound();
                const double onsetBound = triedOnsetBound();
                if (heldVertical.lowest > keptVertical.lowest &&
                    verticalOnsetRides(keptVertical.onset, heldVertical.onset) &&
                    heldReach.feltTop <= keptReach.feltTop + kStepRollFelt &&
                    heldReach.Gap() <= std::max(keptReach.Gap(), drawnGap)) {
                    keepReadIf(held, &heldForces, &heldReading,
                               [&](const FeltLateral& kept, const FeltLateral& ride) {
                                   const bool rides =
                                       ride.largest <= kept.largest + kStepRollFelt &&
                                       ride.squares <= kEndCurveSquares * kept.squares &&
                                       (ride.onset <= kept.onset || ride.onset <= onsetBound) &&
                                       opensNoGap(kept, ride);
                                   if (rides) recipe = endWay;
                                   return rides;
                               });
                }
            }
        }
    }
}

void SmoothFitter::TurnLevelEndRolls() {
    // Where the drawn track starts or ends level and unbanked and the kept
    // rail's lowest felt vertical still lies in that end's segment, below the
    // drawn track's by nearly its tolerance (see kEndCurveTryMargin): the end
    // vertex's roll is what bends the heart there, a long heartline swinging
    // the heart about the rail as the roll turns across the segment, and
    // turning it back to the drawn roll only swings it faster (random
    // case_151 at four times its segments, heartline -1.29 m, an unbanked
    // 4.25 g turn ending 7 m before the track's end: its felt vertical fell
    // from 0.55 to -0.51 g with the end roll turned from 0.38 rad to none).
    // So the end vertex's roll turned by each of kEndRollShares of its roll
    // in turn (either way), the rail solved the kept way (its finish's
    // weights too), each kept where its lowest felt vertical rises above the
    // kept rail's, it holds the hearts without jolting, and its vertical
    // onset and top, its raw vertical's gap and its felt lateral ride no
    // worse than the rail's before the turns (as for the end's curvature
    // above, its squares within kEndRollSquares). (Turned towards the drawn
    // roll, case_151 at four times its segments rode 0.33 g at a quarter of
    // the way; turned a quarter the other way, 0.71 g, the drawn track's
    // 0.80 g.) Then, where it still dips so, the end vertex and the one next
    // to it turned together towards the drawn roll by each of kEndPairShares
    // of their rolls, kept the same way but for the felt lateral's squares:
    // its RMS rises by no more than kEndPairRms and stays clearly within the
    // drawn track's (see withinDrawnRms).
    for (const bool pair : {false, true}) {
        if (!solved || !(best.distance <= kHeldStray) ||
            fit.places.size() < (pair ? size_t{4} : size_t{3})) {
            continue;
        }
        const FeltVertical keptVertical = keptVerticalReading().felt;
        const std::optional<size_t> end = dippingLevelEnd();
        if (!end) continue;
        chooseUpLike(recipe);
        const std::vector<double> base = keptRollTurn();
        std::vector<size_t> which = {*end};
        if (pair) which.push_back(*end == 0 ? 1 : *end - 1);
        const VerticalReach keptReach = keptVerticalReading().reach;
        const double drawnGap = triedGapBound();
        std::vector<double> toward;
        for (const size_t k : which) toward.push_back(-fit.rolls[k]);
        const FeltLateral start = keptFeltLateral();
        const double onsetBound = triedOnsetBound();
        const std::span<const double> shares = pair ? std::span<const double>(kEndPairShares)
                                                    : std::span<const double>(kEndRollShares);
        for (const double share : shares) {
            RailFit turned = turnedCopy(base, which, toward, share);
            ++run.RailFits;
            if (!solveRail(recipe.tuning, turned)) continue;
            std::optional<ForcesAlong> forces = ForcesAlongOf(loaded, spacing, heartline, turned);
            const VerticalReading reading = VerticalOver(*forces);
            if (reading.felt.lowest > keptVerticalReading().felt.lowest &&
                verticalOnsetRides(keptVertical.onset, reading.felt.onset) &&
                reading.reach.feltTop <= keptReach.feltTop + kStepRollFelt &&
                reading.reach.Gap() <= std::max(keptReach.Gap(), drawnGap)) {
                keepReadIf(turned, &forces, &reading,
                           [&](const FeltLateral&, const FeltLateral& ride) {
                               return ride.largest <= start.largest + kStepRollFelt &&
                                      (pair ? RmsOf(ride) <= RmsOf(start) + kEndPairRms &&
                                                  withinDrawnRms(ride)
                                            : ride.squares <= kEndRollSquares * start.squares) &&
                                      (ride.onset <= start.onset || ride.onset <= onsetBound) &&
                                      opensNoGap(start, ride);
                           });
            }
        }
    }
}

void SmoothFitter::TurnAndMoveOffSteps() {
    turnAboutSteps(turnedAbout, nullptr);
    // Where the kept rail's raw lateral still stands further above its felt
    // lateral than the drawn track's does, or nearly (as above), and the raw
    // peak sits at a drawn curvature step with a vertex on it: that vertex
    // moved off the step by each of kStepOffShares in turn, its roll turn
    // dropped and the others' kept, and the rail fitted the kept way with
    // it. Each kept where it holds the hearts without jolting, its gap
    // narrows by more than kStepRollGain (or stays no wider while the raw
    // peak leaves the step for another place), its felt lateral's largest
    // grows by no more than kStepRollFelt and its squares not at all, its
    // onset is no higher (or within the tried bound), its raw vertical stands
    // no further beyond the felt one than the kept rail's or the gap target,
    // and its felt vertical's onset, lowest and top move by no more than the
    // fit's noise (see kStepRollOnsetNoise and kStepRollFelt). Where the raw
    // peak moves on to another step, the same again there, up to
    // kStepRollRounds steps, each once. (Random case_130 at four times its
    // segments, heartline -0.05 m, an S-bend stepping by 5.5 g at 392.8 m
    // between 4.9 m segments: 0.12 g beyond the drawn track's gap and its
    // tolerance after its step's roll was turned; moved off, within it, its
    // largest felt lateral down from 2.10 to 2.04 g. Random case_016 at four
    // times its segments cleared both its steps, at 36.5 and 183 m, so.)
    for (int round = 0; round < kStepRollRounds; ++round) {
        const double target = drawnFeltLateral().Gap() + kGapTolerance - kStepRollGapMargin;
        if (leans || !solved || !(best.distance <= kHeldStray) ||
            !(keptFeltLateral().Gap() > target)) {
            break;
        }
        const CurveStep* step =
            NearestStep(steps, missedSteps, keptFeltLateral().rawAt, kStepRollReach);
        if (step == nullptr ||
            std::find(movedOff.begin(), movedOff.end(), step->at) != movedOff.end()) {
            break;
        }
        movedOff.push_back(step->at);
        const size_t k = NearestPlace(fit.places, step->at);
        if (k < 2 || k + 2 >= fit.places.size() ||
            !(std::abs(fit.places[k] - step->at) < 0.5 * spacing)) {
            break;
        }
        chooseUpLike(recipe);
        const std::vector<double> keptPlaces = fit.places;
        std::vector<double> keptTurn = keptRollTurn();
        keptTurn[k] = 0.0;
        const int perSegment = fit.perSegment;
        const double onsetBound = triedOnsetBound();
        for (const double share : kStepOffShares) {
            RailFit moved;
            moved.perSegment = perSegment;
            moved.places = keptPlaces;
            moved.rollTurn = keptTurn;
            const size_t side = share < 0.0 ? k - 1 : k + 1;
            moved.places[k] = step->at + std::abs(share) * (keptPlaces[side] - step->at);
            ++run.RailFits;
            if (!solveRail(recipe.tuning, moved)) continue;
            std::optional<ForcesAlong> forces;
            VerticalReading reading;
            keepReadIf(moved, &forces, &reading,
                       [&](const FeltLateral& kept, const FeltLateral& after) {
                           const VerticalReading& keptRead = keptVerticalReading();
                           reading = VerticalOver(*forces);
                           const bool narrows = after.Gap() < kept.Gap() - kStepRollGain ||
                                                (after.Gap() <= kept.Gap() &&
                                                 std::abs(after.rawAt - step->at) > kStepRollReach);
                           const double gapBound = drawnFeltLateral().Gap() + kGapTolerance;
                           const bool clears = kept.Gap() > gapBound && after.Gap() <= gapBound &&
                                               after.largest <= kept.largest &&
                                               withinDrawnRms(after);
                           return narrows && after.largest <= kept.largest + kStepRollFelt &&
                                  (after.squares <= kept.squares ||
                                   (clears && after.squares <= kStepOffSquares * kept.squares)) &&
                                  (after.onset <= kept.onset + kStepRollOnsetNoise ||
                                   after.onset <= onsetBound) &&
                                  reading.reach.Gap() <= std::max(keptRead.reach.Gap(), target) &&
                                  reading.felt.onset <= keptRead.felt.onset + kStepRollOnsetNoise &&
                                  reading.felt.lowest >= keptRead.felt.lowest - kStepRollFelt &&
                                  reading.reach.feltTop <= keptRead.reach.feltTop + kStepRollFelt;
                       });
        }
        if (fit.places[k] != step->at) movedSteps.push_back(*step);
    }
    // Where the gap still stands, or nearly, and the raw peak lies by a step
    // whose vertex was moved off it: the step roll turns again, first about
    // that step. The roll turns above were made with the vertex on the step,
    // where the rail took the step up as its join's jump; moved off, the step
    // lies inside a segment whose eased roll turns the riders' bank across
    // it, and the vertices at that segment's ends stand where the turns
    // above did not look. (Random case_108 at twice and four times its
    // segments, from a 3.1 g valley into an unbanked 3.1 g flat turn at
    // 230.9 m, the vertex moved off by half its segment either way: 0.04 and
    // 0.03 g beyond the drawn track's gap and its tolerance, the raw lateral
    // peaking at the ends of the segment holding the step; turned, within
    // it, their largest felt lateral no higher and their squares 9 and 5 %
    // less.)
    if (!movedSteps.empty()) {
        std::vector<double> turnedAgain;
        turnAboutSteps(turnedAgain, &movedSteps);
    }
}

void SmoothFitter::MoveTowardNearSteps() {
    // Where the kept rail's raw lateral still stands further above its felt
    // lateral than the drawn track's does, or nearly (as above), and the raw
    // peak sits by a drawn curvature step with no vertex on it: the vertex
    // nearest the step moved to each of kNearStepShares of its distance from
    // the step in turn, the roll turns kept, and the rail fitted the kept way
    // with it. Each kept where it holds the hearts without jolting, its gap
    // narrows by more than kStepRollGain, its onset is no higher (or within
    // the tried bound), its felt vertical moves and its raw vertical stands as
    // for the step-off above, and its felt lateral rides no more (its largest
    // and its squares) or, where that brings the gap within the drawn track's
    // and its tolerance from beyond it (see kNearStepTradeGap), its largest
    // within kStepGapTrade and clearly below the drawn track's (see
    // kDrawnLargestMargin) and its RMS clearly within the drawn track's (see
    // kDrawnRmsShare) and no more than kNearStepRms above the kept rail's.
    // (Random case_027 at twice its segments, heartline -1.37 m, out of a
    // 2.9 g valley into a 2.5 g flat turn: a vertex at 209.5 m between steps
    // at 206.2 and 211.3 m inside 6.2 and 4.6 m segments, its raw lateral
    // 0.02 g beyond that gap and tolerance after the step's roll turns;
    // moved a quarter of its distance further from the step, within it, its
    // largest felt lateral 0.03 g higher.)
    if (!leans && solved && best.distance <= kHeldStray &&
        keptFeltLateral().Gap() > drawnFeltLateral().Gap() + kGapTolerance - kStepRollGapMargin) {
        const CurveStep* step =
            NearestStep(steps, missedSteps, keptFeltLateral().rawAt, kStepRollReach);
        const size_t k = step == nullptr ? 0 : NearestPlace(fit.places, step->at);
        if (step != nullptr && k >= 2 && k + 2 < fit.places.size() &&
            !(std::abs(fit.places[k] - step->at) < 0.5 * spacing)) {
            chooseUpLike(recipe);
            const std::vector<double> keptPlaces = fit.places;
            const std::vector<double> keptTurn = keptRollTurn();
            const int perSegment = fit.perSegment;
            const double target = drawnFeltLateral().Gap() + kGapTolerance - kStepRollGapMargin;
            const double onsetBound = triedOnsetBound();
            for (const double share : kNearStepShares) {
                RailFit moved;
                moved.perSegment = perSegment;
                moved.places = keptPlaces;
                moved.rollTurn = keptTurn;
                moved.places[k] = step->at + share * (keptPlaces[k] - step->at);
                if (!(moved.places[k] > keptPlaces[k - 1] && moved.places[k] < keptPlaces[k + 1])) {
                    continue;
                }
                ++run.RailFits;
                if (!solveRail(recipe.tuning, moved)) continue;
                std::optional<ForcesAlong> forces;
                VerticalReading reading;
                keepReadIf(
                    moved, &forces, &reading,
                    [&](const FeltLateral& kept, const FeltLateral& after) {
                        const VerticalReading& keptRead = keptVerticalReading();
                        reading = VerticalOver(*forces);
                        const FeltLateral& drawn = drawnFeltLateral();
                        const double gapBound = drawn.Gap() + kGapTolerance;
                        const bool rides =
                            after.largest <= kept.largest && after.squares <= kept.squares;
                        const double rms = std::sqrt(kept.squares / kept.counted) + kNearStepRms;
                        const bool clears =
                            kept.Gap() > gapBound + kNearStepTradeGap && after.Gap() <= gapBound &&
                            after.largest <= kept.largest + kStepGapTrade &&
                            after.largest <= drawn.largest - kDrawnLargestMargin &&
                            withinDrawnRms(after) && after.squares <= rms * rms * after.counted;
                        return after.Gap() < kept.Gap() - kStepRollGain && (rides || clears) &&
                               (after.onset <= kept.onset + kStepRollOnsetNoise ||
                                after.onset <= onsetBound) &&
                               reading.reach.Gap() <= std::max(keptRead.reach.Gap(), target) &&
                               reading.felt.onset <= keptRead.felt.onset + kStepRollOnsetNoise &&
                               reading.felt.lowest >= keptRead.felt.lowest - kStepRollFelt &&
                               reading.reach.feltTop <= keptRead.reach.feltTop + kStepRollFelt;
                    });
            }
        }
    }
}

void SmoothFitter::HoldLeanOnset() {
    // Where the riders lean through a loop's vertical and the kept rail's
    // felt lateral onset breaks the drawn track's bound (read on the ride
    // profile's grid, see DrawnFeltLateral): with the heart close to the rail
    // the lean must roll the riders far to move the rail sideways, and the
    // felt force, several g through the loop, turns sideways with it faster
    // than the drawn track's lateral ever changes. So the up is chosen again
    // with the lean held to that bound (see LeanThroughVertical) and the rail
    // fitted the kept way at the kept places, kept only where it holds the
    // hearts without jolting, its onset is lower, its raw lateral stands no
    // further above the felt one than the kept rail's or the drawn track's
    // (see kShortSmoothGapMargin), its felt lateral no larger and its squares
    // no more, or, where it keeps within the bound, clearly within the drawn
    // track's RMS (see kDrawnRmsShare). (Random case_076, heartline 0.13 m,
    // the lean at its largest: the chosen up alone rode a lateral onset of
    // 27 g/s through the loop's top against 19 on the drawn track, and the
    // rail 0.30 and 0.36 g/s beyond the bound at two and four times its
    // segments; held, within it. Held on every choice of the up, case_068,
    // the heartline 0.67 m below the rail, was refused: its lean, scaled
    // back by half, left the frame turning too fast for the hearts.)
    if (leans && recipe.lean && solved && best.distance <= kHeldStray) {
        const FeltLateral& drawn = drawnFeltLateral();
        const double bound = drawnOnsetBound();
        if (keptFeltLateral().onset > bound) {
            FitRecipe heldWay = recipe;
            heldWay.leanOnset = kOnsetBoundFactor * std::max(drawnOnset, drawn.onset);
            RailFit held;
            if (refitAtKeptPlaces(heldWay, held)) {
                keepIf(held, [&](const FeltLateral& before, const FeltLateral& after) {
                    if (!(after.onset < before.onset) || !opensNoGap(before, after) ||
                        after.largest > before.largest) {
                        return false;
                    }
                    const bool rides = after.squares <= before.squares ||
                                       (after.onset <= bound && withinDrawnRms(after));
                    if (rides) recipe = heldWay;
                    return rides;
                });
            }
        }
    }
}

void SmoothFitter::WeighCoarserWhereMissing() {
    // Where the kept fit still misses what the rebuild is held to, by its own
    // reading (its raw lateral further above the felt than the drawn track's
    // with kGapTolerance, or its onset beyond the drawn track's bound), the
    // coarser count's kept fit, split to this count and as it stands with
    // fewer segments: each kept where it holds the hearts without jolting,
    // misses by less, and rides no more felt lateral, its largest and its
    // squares alike. More segments ride some tracks worse than fewer: the
    // vertices fall elsewhere, and the file's eased roll rides some places
    // worse. The coarser count weighs none itself, so this costs one coarser
    // fit, made only where the kept one misses.
    keptPlaced = placedSegments;
    if (weighCoarser && solved && best.distance <= kHeldStray &&
        segments / 2 >= kLeastCoarseSegments) {
        const auto [gapBound, onsetBound] = heldBounds();
        const FeltLateral& kept = keptFeltLateral();
        if (kept.Gap() > gapBound || kept.onset > onsetBound) {
            if (!coarser) {
                coarser = FitSmooth(run, walk, segments / 2, progress, false, coarserFinishCounts);
            }
            const SmoothOutcome& coarse = *coarser;
            if (coarse.solved && coarse.best.distance <= kHeldStray) {
                double least = missOf(kept, keptVerticalReading().reach);
                samples = chooseUp(coarse.recipe.leastSigma, coarse.recipe.lean, leaned,
                                   coarse.recipe.smoothShare);
                const int split =
                    coarse.placed < segments / 2 || budgetLeft ? coarse.fit.segments : segments;
                std::optional<RailFit> better;
                FitRecipe keptWay;
                Stray keptStray;
                FeltLateral keptRide;
                ForcesAlong keptRideForces;
                bool asItStands = false;
                const auto weigh = [&](const RailFit& rail, const FitRecipe& way, bool stands) {
                    const Stray held = HeldStray(walk, heartline, rail);
                    if (!(held.distance <= kHeldStray)) return;
                    const RailJolts jolt = JoltsOf(samples, spacing, heartline, rail);
                    if (!(jolt.hardest.distance <= kLargestJolt) ||
                        !(jolt.end <= kLargestEndJolt)) {
                        return;
                    }
                    ForcesAlong forces = ForcesAlongOf(loaded, spacing, heartline, rail);
                    const FeltLateral ride = FeltLateralOver(forces.along);
                    if (ride.largest > keptFeltLateral().largest ||
                        ride.squares > keptFeltLateral().squares) {
                        return;
                    }
                    const double miss = missOf(ride, VerticalOver(forces).reach);
                    if (!(miss < least)) return;
                    least = miss;
                    better = rail;
                    keptWay = way;
                    keptStray = held;
                    keptRide = ride;
                    keptRideForces = std::move(forces);
                    asItStands = stands;
                };
                for (const bool evenly : {false, true}) {
                    givenPlaces = SplitPlaces(coarse.fit.places, split, samples, spacing,
                                              heartline, coarse.recipe.tuning.curvatureError,
                                              evenly);
                    if (fitRail(coarse.recipe.tuning, candidate)) weigh(candidate, current, false);
                }
                givenPlaces.clear();
                if (coarse.fit.segments < segments) weigh(coarse.fit, coarse.recipe, true);
                if (better) {
                    fit = std::move(*better);
                    best = keptStray;
                    keptFelt = keptRide;
                    keptForces = std::move(keptRideForces);
                    keptReading.reset();
                    recipe = keptWay;
                    if (asItStands) keptPlaced = coarse.placed;
                }
            }
        }
    }
}

void SmoothFitter::RefinishAwayFromLean() {
    // Where the riders lean through a loop's vertical and the kept rail
    // misses its gap or onset bound (as above) at a place outside the lean:
    // the finish, which leaves every drawn step of such a track unramped,
    // fitted again at the kept places with the steps away from the lean
    // ramped and spread (see FitTuning), kept only where it holds the hearts
    // without jolting, misses by less and rides no more felt lateral, its
    // largest and its squares alike. (Ramped so on every such track, random
    // case_076 at twice its segments, clean before, rode a lateral onset
    // 0.28 g/s beyond the bound.)
    if (leans && recipe.lean && !recipe.tuning.rampsAwayFromLean && solved &&
        best.distance <= kHeldStray) {
        const auto [gapBound, onsetBound] = heldBounds();
        const auto outsideLean = [&](double at) {
            for (size_t k = 0; k + 1 < leanSpans.size(); k += 2) {
                if (at >= leanSpans[k] && at <= leanSpans[k + 1]) return false;
            }
            return true;
        };
        const FeltLateral& kept = keptFeltLateral();
        // (The vertical's gap is read without its place, and counts
        // wherever it stands.)
        if ((kept.Gap() > gapBound && outsideLean(kept.rawAt)) ||
            keptVerticalReading().reach.Gap() > gapBound ||
            (kept.onset > onsetBound && outsideLean(kept.onsetAt))) {
            FitRecipe rampedWay = recipe;
            rampedWay.tuning.rampsAwayFromLean = true;
            RailFit ramped;
            if (refitAtKeptPlaces(rampedWay, ramped)) {
                const double keptMiss = missOf(kept, keptVerticalReading().reach);
                std::optional<ForcesAlong> rampedForces;
                keepReadIf(ramped, &rampedForces, nullptr,
                           [&](const FeltLateral& before, const FeltLateral& after) {
                               const VerticalReach reach = VerticalOver(*rampedForces).reach;
                               const bool rides = missOf(after, reach) < keptMiss &&
                                                  after.largest <= before.largest &&
                                                  after.squares <= before.squares;
                               if (rides) recipe = rampedWay;
                               return rides;
                           });
            }
        }
    }
}

void SmoothFitter::GradeLeanSegments() {
    // Where the riders lean through a loop's vertical and the kept rail
    // still misses its gap or onset bound: the vertices placed again with
    // the lean's segments graded (see kLeanGrades) and the rail fitted the
    // kept way, the best kept only where it holds the hearts without
    // jolting, misses by less, its onset no larger, its gap no larger or
    // within its bound, and it rides no more felt lateral, its squares and
    // its largest alike (to within kStepPairLargest, the noise of refitting
    // the whole rail: random case_076's largest, far from its loop, rose by
    // 1e-6 g on every grade). Through a
    // lean the roll-rate flags are set (see KeepsRollRate), and at each
    // vertex the eased roll's acceleration swings by about 2.6 times the
    // segment's roll change within a fifth of a segment either side, too
    // fast for the rail to take up: the hearts swing sideways by h v^2 times
    // that over the segment's length squared, v^2 times the roll's rate over
    // the segment's length. Segments of one length leave the largest swings
    // where the roll turns fastest; lengths that follow v^2 times that rate
    // even the swings out, but leave the eased roll further from the lean
    // between the vertices and the riders feel that: so only roots of it are
    // tried, the lean's segments as many as before and the vertices beside
    // it where they were. (The builder's loop and helix at 100 segments, its
    // leans in segments of one length: raw lateral 5.7 g above the felt
    // 1.7 g, a lateral onset of 38.9 g/s against a bound of 20.1; graded,
    // 5.2 g above 1.4 g and 37.5 g/s. Random case_076 at its own count: a
    // lateral onset 0.48 g/s beyond the bound; graded, within it.) At every
    // count, the coarser ones too: the coarser count's kept fit is weighed
    // at the finer ones (see kCoarserLeanFelt), and a placement found there
    // can carry up.
    if (leans && recipe.lean && solved && best.distance <= kHeldStray) {
        // Plain copies: the placement tries below are lambdas, and a lambda may
        // not capture a structured binding in every compiler we build with.
        const double gapBound = heldBounds().first, onsetBound = heldBounds().second;
        const FeltLateral& kept = keptFeltLateral();
        if (kept.Gap() > gapBound || kept.onset > onsetBound) {
            double least = missOf(kept, keptVerticalReading().reach);
            std::optional<RailFit> better;
            std::optional<ForcesAlong> betterForces;
            chooseUpAs(recipe);
            // The rail fitted the kept way at `places`, kept as the better
            // one where it rides as said above and misses by less.
            const auto tryPlaces = [&](const std::vector<double>& places) {
                givenPlaces = places;
                RailFit graded;
                const bool made = fitRail(recipe.tuning, graded);
                givenPlaces.clear();
                if (!made || !(HeldStray(walk, heartline, graded).distance <= kHeldStray)) return;
                const RailJolts jolt = JoltsOf(samples, spacing, heartline, graded);
                if (!(jolt.hardest.distance <= kLargestJolt) || !(jolt.end <= kLargestEndJolt)) {
                    return;
                }
                ForcesAlong forces = ForcesAlongOf(loaded, spacing, heartline, graded);
                const FeltLateral ride = FeltLateralOver(forces.along);
                if (ride.largest > kept.largest + kStepPairLargest || ride.squares > kept.squares ||
                    ride.onset > kept.onset || ride.Gap() > std::max(kept.Gap(), gapBound)) {
                    return;
                }
                const double miss = missOf(ride, VerticalOver(forces).reach);
                if (!(miss < least)) return;
                least = miss;
                better = std::move(graded);
                betterForces = std::move(forces);
            };
            for (const int grade : kLeanGrades) {
                tryPlaces(PlaceVertices(samples, length, segments, spacing, heartline,
                                        recipe.tuning.curvatureError, limit, limitLean, 0.0, -1.0,
                                        grade));
            }
            // Where the vertices fall along the lean sets which of the eased
            // roll's jumps at its vertices (see the graded try above) enter
            // and leave the felt window together, and no one spacing suits
            // every lean: the lean's vertices (as graded, where a grade did
            // better) moved together by a share of the lean segment at its
            // middle, and the lean's segments made longer or shorter, each
            // length moved so in turn, are tried too. (The builder's loop
            // and helix at 100 segments: its places moved back an eighth of
            // a segment, a lateral onset of 31.5 g/s against 38.4; random
            // case_152 at twice its count, moved on an eighth, 38.4 against
            // 41.4 g/s. The builder's loop at 100 segments: its lean's
            // segments a tenth shorter, 31.3 g/s, and so moved back an
            // eighth, 27.3 g/s; carried up to 400 segments, whose own
            // places rode 33.9 g/s and a largest felt lateral of 1.33 g
            // against 1.16.)
            // The places `from` with each lean's segment over its middle
            // handed to `move` (with the lean's ends, that segment's index
            // and length, and kFlipTaper of it) where the taper beside the
            // lean stays within the track, tried where they stay in order.
            const auto tryMoved = [&](const std::vector<double>& from, const auto& move) {
                std::vector<double> places = from;
                bool moved = false;
                for (size_t k = 0; k + 1 < leanSpans.size(); k += 2) {
                    const double start = leanSpans[k], end = leanSpans[k + 1];
                    const double middle = 0.5 * (start + end);
                    const auto at = std::upper_bound(from.begin(), from.end(), middle);
                    if (at == from.begin() || at == from.end()) continue;
                    const size_t q = static_cast<size_t>(at - from.begin()) - 1;
                    const double span = from[q + 1] - from[q];
                    const double taper = kFlipTaper * span;
                    if (!(start - taper > 0.0 && end + taper < length)) continue;
                    if (move(places, start, end, q, span, taper)) moved = true;
                }
                if (moved && std::is_sorted(places.begin(), places.end()) &&
                    std::adjacent_find(places.begin(), places.end()) == places.end()) {
                    tryPlaces(places);
                }
            };
            const auto tryShifted = [&](const std::vector<double>& from, double shift) {
                tryMoved(from, [&](std::vector<double>& places, double start, double end, size_t,
                                   double span, double taper) {
                    for (size_t r = 1; r + 1 < places.size(); ++r) {
                        const double away = std::max({start - from[r], from[r] - end, 0.0});
                        places[r] += shift * span * std::clamp(1.0 - away / taper, 0.0, 1.0);
                    }
                    return true;
                });
            };
            // Where the onset misses, each lean's segment over its crossing
            // centred on it, its vertices on either side drawn along
            // evenly from kFlipTaper segments beyond the lean: the shifts
            // above move every lean by one share of its segment, and leans
            // whose crossing segments lie off their middles by different
            // shares keep one of them off. (Random case_152 at twice its
            // count, its two crossing segments off by a sixth and a quarter
            // of their lengths: a lateral onset of 41.4 g/s, 38.4 shifted on
            // an eighth, 32.8 centred. Segments over the crossing a quarter
            // to twice as long again rode the lean's own felt lateral
            // higher, the loop's up to 1.8 g against 1.3, or let the hearts
            // stray beyond 2 cm.)
            const auto tryCentred = [&](const std::vector<double>& from) {
                tryMoved(from, [&](std::vector<double>& places, double start, double end, size_t q,
                                   double span, double taper) {
                    const double middle = 0.5 * (start + end);
                    const double lo = start - taper, hi = end + taper;
                    const double before = middle - 0.5 * span, after = middle + 0.5 * span;
                    if (!(before > lo && after < hi && from[q] > lo && from[q + 1] < hi)) {
                        return false;
                    }
                    for (size_t r = 1; r + 1 < places.size(); ++r) {
                        if (from[r] > lo && r <= q) {
                            places[r] = lo + (from[r] - lo) * (before - lo) / (from[q] - lo);
                        } else if (from[r] < hi && r > q) {
                            places[r] = hi - (hi - from[r]) * (hi - after) / (hi - from[q + 1]);
                        }
                    }
                    return true;
                });
            };
            if (kept.onset > onsetBound) tryCentred(fit.places);
            const std::vector<double> shiftedFrom = better ? better->places : fit.places;
            for (const double shift : kLeanShifts) tryShifted(shiftedFrom, shift);
            for (const double scale : kLeanScales) {
                const std::vector<double> scaled = PlaceVertices(
                    samples, length, segments, spacing, heartline, recipe.tuning.curvatureError,
                    limit, limitLean, 0.0, -1.0, 0, scale);
                tryPlaces(scaled);
                for (const double shift : kLeanShifts) tryShifted(scaled, shift);
            }
            if (better) {
                keepReadIf(*better, &betterForces, nullptr,
                           [](const FeltLateral&, const FeltLateral&) { return true; });
                keptPlaced = placedSegments;
            }
        }
    }
}

void SmoothFitter::FinishDenseBesideLean() {
    // Where the riders lean through a loop's vertical and the kept rail still
    // misses its gap or onset bound: the kept rail finished again with the
    // riders' raw lateral held at points kDenseStep apart along the segments
    // beside the lean's vertices, within kDenseBand of the kept rail's felt
    // lateral there and elsewhere where it stands, with each of
    // kDenseWeights; the best kept only where it holds the hearts without
    // jolting, misses by less, its onset and gaps no larger or within their
    // bounds, and it rides no more felt lateral, its largest (to within
    // kStepPairLargest) and its squares alike. At each lean vertex the eased
    // roll's acceleration jumps, and the raw lateral with it, by up to 10 g
    // within half a metre, between the finish's fit points a third of a
    // metre apart: the finish never sees those swings. Held to the felt value
    // itself, or to the mean of the swing, the rail tilts the whole segment's
    // lateral to meet the points by the vertex, and the riders feel that (the
    // builder's loop at 100 segments: its raw lateral 0.6 g closer to the
    // felt, but the largest felt 1.18 -> 1.22 g and its squares 8 % more);
    // held only where the swing leaves the band, and where it stands
    // elsewhere, the rail takes up the tips alone. (The builder's loop and
    // helix at 400 segments: lateral onset 34.0 -> 31.0 g/s, raw lateral
    // 4.23 -> 4.04 g above the felt, largest 1.21 -> 1.19 g. Random case_120:
    // a lateral onset 2.5 g/s beyond its bound at every count, now within
    // it.) Wider bands took more off the loops by the rebuild's reading, but
    // the ride profile read a planar loop's onset higher for it.
    if (leans && finishCounts > 0 && recipe.lean && solved && best.distance <= kHeldStray) {
        const double gapBound = heldBounds().first, onsetBound = heldBounds().second;
        const FeltLateral kept = keptFeltLateral();
        const VerticalReach keptReach = keptVerticalReading().reach;
        if (kept.Gap() > gapBound || kept.onset > onsetBound) {
            chooseUpAs(recipe);
            std::vector<double> denseAt;
            for (size_t i = 0; i + 1 < fit.places.size(); ++i) {
                const bool beside =
                    (i > 0 && InLean(samples, spacing, fit.places[i])) ||
                    (i + 2 < fit.places.size() && InLean(samples, spacing, fit.places[i + 1]));
                if (!beside) continue;
                const auto parts = static_cast<int>(std::ceil(fit.lengths[i] / kDenseStep));
                for (int j = 0; j < parts; ++j) {
                    denseAt.push_back(fit.places[i] + fit.lengths[i] * j / parts);
                }
            }
            // The kept rail's raw lateral at those points, and its felt
            // lateral there, between the samples it was read at.
            const std::vector<double> raw =
                RawLateralsAt(samples, spacing, heartline, fit, denseAt);
            const std::vector<FeltSample>& along = keptForcesAlong().along;
            std::vector<double> felt;
            size_t next = 0;
            for (const double at : denseAt) {
                while (next + 1 < along.size() && along[next + 1].along < at) ++next;
                const FeltSample& a = along[next];
                const FeltSample& b = along[std::min(next + 1, along.size() - 1)];
                const double f = b.along > a.along
                                     ? std::clamp((at - a.along) / (b.along - a.along), 0.0, 1.0)
                                     : 0.0;
                felt.push_back(a.felt + f * (b.felt - a.felt));
            }
            double least = missOf(kept, keptReach);
            std::optional<RailFit> better;
            std::optional<ForcesAlong> betterForces;
            std::vector<double> held(denseAt.size());
            for (size_t k = 0; k < denseAt.size(); ++k) {
                held[k] = std::clamp(raw[k], felt[k] - kDenseBand, felt[k] + kDenseBand);
            }
            for (const double weight : kDenseWeights) {
                if (denseAt.empty()) break;
                RailFit dense = fit;
                dense.denseAt = denseAt;
                dense.denseLateral = held;
                dense.denseWeight = weight;
                FinishFit(walk, samples, spacing, heartline, dense);
                if (!(HeldStray(walk, heartline, dense).distance <= kHeldStray)) continue;
                const RailJolts jolt = JoltsOf(samples, spacing, heartline, dense);
                if (!(jolt.hardest.distance <= kLargestJolt) || !(jolt.end <= kLargestEndJolt)) {
                    continue;
                }
                ForcesAlong forces = ForcesAlongOf(loaded, spacing, heartline, dense);
                const FeltLateral ride = FeltLateralOver(forces.along);
                const VerticalReach reach = VerticalOver(forces).reach;
                const double miss = missOf(ride, reach);
                if (!(miss < least) || ride.onset > std::max(kept.onset, onsetBound) ||
                    std::max(ride.Gap(), reach.Gap()) >
                        std::max({kept.Gap(), keptReach.Gap(), gapBound}) ||
                    ride.largest > kept.largest + kStepPairLargest || ride.squares > kept.squares) {
                    continue;
                }
                least = miss;
                better = std::move(dense);
                betterForces = std::move(forces);
            }
            if (better) {
                keepReadIf(*better, &betterForces, nullptr,
                           [](const FeltLateral&, const FeltLateral&) { return true; });
            }
        }
    }
}

SmoothOutcome SmoothFitter::Outcome() {
    SmoothOutcome outcome;
    outcome.solved = solved;
    outcome.fit = std::move(fit);
    outcome.best = best;
    outcome.placed = keptPlaced;
    outcome.gentlest = gentlest;
    outcome.closest = std::isfinite(closestCalm.distance) ? closestCalm : closest;
    outcome.gentlestInLean = std::isfinite(gentlest.distance) && inLean(gentlest.at);
    outcome.closestInLean = inLean(outcome.closest.at);
    outcome.recipe = recipe;
    return outcome;
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
    const RailFit& fit = outcome.fit;
    const Stray& best = outcome.best;
    const Stray& gentlest = outcome.gentlest;
    const Stray& closest = outcome.closest;
    if (!outcome.solved) {
        return Failure(Status::NumericalBlowUp,
                            "The rail fit of the smooth rebuild could not be solved.");
    }
    progress(0.95);
    if (!(best.distance <= kLargestStray)) {
        // A loop taken with the hearts below the rail is named apart: through
        // its vertical the rail's level frame turns over, and the riders' tilt
        // in the lean adds to that turn instead of taking from it, so their
        // roll there has to turn faster than the eased roll between vertices
        // can follow, whatever the budget. Neither fewer segments nor more
        // mend that.
        const bool hanging = run.Settings.heartline < 0.0;
        const std::string hangingLoop =
            "it runs through the vertical of a loop with the hearts below the rail, where their "
            "roll would have to turn faster than the new vertices can ease it";
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
        const double mean = walk.s.back() / segments;
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

    // The fit may use fewer segments than the budget (see PlaceVertices).
    const int used = fit.segments;
    auto& out = run.NewVertices;
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
                                    " would hold a coordinate or roll that is not a finite "
                                    "number.");
        }
    }
    run.FitsRun = used;
    while (run.ProgressDone < run.ProgressTotal) StepProgress(run);
    return {};
}

}  // namespace cvqrn
