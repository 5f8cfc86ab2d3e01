// The fitter the smooth rebuild runs at each segment count it tries
// (FitSmooth): the fits it makes and the one it keeps, the state they share,
// and the refits its stages try on the kept one. Its shared operations are in
// smooth_fitter.cpp, its stages (Run) in smooth_fitter_stages.cpp.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "heartline/heartline_run.h"
#include "heartline/smooth_finish.h"
#include "heartline/smooth_math.h"
#include "heartline/smooth_path.h"
#include "heartline/smooth_places.h"
#include "heartline/smooth_rail_fit.h"
#include "heartline/smooth_readings.h"
#include "heartline/smooth_tuning.h"
#include "heartline/smooth_up.h"

namespace cvqrn::smooth {

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

    // Choosing the up directions.

    // The up directions along the loaded path, smoothed over at least
    // `leastSigma` metres whatever the filter, with the riders leaning
    // through the vertical of a loop if `lean` (see LeanThroughVertical; true
    // in `didLean` where they did), their roll no faster than the segments
    // there can carry (see LimitRollRate).
    std::vector<PathSample> chooseUp(double leastSigma, bool lean, bool& didLean,
                                     double share = 1.0);

    // The up chosen with the smoothing and lean `way` was made with, under
    // the cap and lean bounds that stand, and `way` made the recipe of the
    // fit in the making.
    void chooseUpLike(const FitRecipe& way);

    // Fitting rails and keeping the best.

    // Solves the rail's fit at the places set in `rail`, the given way; false
    // where its system cannot be solved.
    bool solveRail(const FitTuning& tuning, RailFit& rail);

    // Fits the rail the given way; false where its system cannot be solved.
    bool fitRail(const FitTuning& tuning, RailFit& rail);

    // Keeps `tried` where it holds the hearts better than the best so
    // far; how far it lets them stray. A stray that is not a number, and a
    // rail that jolts the riders beyond kLargestJolt (kLargestEndJolt at the
    // track's ends), count as the farthest.
    // (`strays`, where given, are the candidate's SegmentStrays, already at hand.)
    double consider(RailFit& tried, const std::vector<Stray>* strays = nullptr);

    // The smooth way, and the cautious way too where that lets the hearts
    // stray beyond kCautiousStray.
    void fitEitherWay();

    // Shorter segments where the hearts stray and the rail fitted again (see
    // kRefinedWay), from `from` where given, else from the closest fit so
    // far, with the lean where the track has one; through the lean too if
    // `throughLean`.
    void refine(bool throughLean, bool scarce, const RailFit* from = nullptr);

    // The rail fitted at `givenPlaces` the way the kept fit was made, into
    // `refit`; false where that fails. Clears `givenPlaces`.
    bool refitKeptWay(RailFit& refit);

    // The up chosen like `way` (see chooseUpLike), its cap and lean bounds
    // taken for that choice alone.
    void chooseUpAs(const FitRecipe& way);

    // The rail fitted at the kept fit's places with the up chosen again the
    // way `way` asks, its cap and lean bounds taken for that choice alone
    // (the later choices keep theirs); whether it could be made. A kept fit
    // whose finish held the heart's place harder on some segments (see
    // `hold`) is solved again with those weights, on the same segments:
    // without them the rail solved again is the fit before that finish,
    // which let the hearts stray further (random case_151 at its own count:
    // 2.33 cm against 1.73). The fits made before were solved without the
    // weights, so such a fit is solved anew.
    bool refitAtKeptPlaces(const FitRecipe& way, RailFit& refit);

    // Readings and the bounds they are weighed against.

    // The kept fit's forces along the loaded path, read once.
    const ForcesAlong& keptForcesAlong() {
        if (!keptForces) keptForces = ForcesAlongOf(loaded, spacing, heartline, fit);
        return *keptForces;
    }

    // The kept fit's felt lateral, read once from those forces.
    const FeltLateral& keptFeltLateral() {
        if (!keptFelt) keptFelt = FeltLateralOver(keptForcesAlong().along);
        return *keptFelt;
    }

    // The kept fit's felt vertical and raw reach, read once from them.
    const VerticalReading& keptVerticalReading() {
        if (!keptReading) keptReading = VerticalOver(keptForcesAlong());
        return *keptReading;
    }

    // The drawn track's felt lateral, read once.
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
    double drawnOnsetBound() {
        return kOnsetBoundFactor * drawnFeltLateral().onset + kOnsetBoundMargin;
    }

    double triedOnsetBound() {
        return kOnsetBoundFactor * std::max(drawnOnset, drawnFeltLateral().onset) + kOnsetTryMargin;
    }

    double triedGapBound() { return drawnFeltLateral().Gap() + kShortSmoothGapMargin; }

    // Whether a refit's raw lateral stands no further above its felt one
    // than the kept rail's does, or the drawn track's with a margin (see
    // kShortSmoothGapMargin), or its largest raw lateral stands no higher
    // than the kept rail's (see kPacedRawMargin): a gap that grows only
    // because the felt lateral falls rides no worse. (Random case_023 at its
    // own count: the cap's refit lowered the largest felt lateral from 2.87
    // to 2.77 g and the lateral onset by 0.12 g/s, its raw largest 0.1 g
    // lower too, and was dropped for a gap 0.004 g wider.)
    bool opensNoGap(const FeltLateral& before, const FeltLateral& after);

    // Whether a refit's felt lateral RMS stays clearly within the drawn
    // track's (see kDrawnRmsShare).
    bool withinDrawnRms(const FeltLateral& after);

    // Refits kept where they ride no worse.

    // `moved` kept in place of the kept fit where it holds the hearts without
    // jolting the riders and `ridesNoWorse(kept, moved)` holds for their felt
    // lateral. With `forces`, the moved rail's forces (read here into it
    // where it is empty, once the rail holds the hearts without jolting), and
    // with `reading`, its vertical read from them already: its felt lateral is
    // read from those forces, and both are kept with it, so that neither is
    // read again.
    void keepReadIf(RailFit& moved, std::optional<ForcesAlong>* forces,
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

    // keepReadIf with neither forces nor a reading at hand.
    void keepIf(RailFit& moved, const auto& ridesNoWorse) {
        keepReadIf(moved, nullptr, nullptr, ridesNoWorse);
    }

    // `moved` kept in place of the kept fit wherever it holds the hearts
    // without jolting the riders, however it rides; whether it was.
    bool keepHeld(RailFit& moved) {
        bool kept = false;
        keepIf(moved, [&](const FeltLateral&, const FeltLateral&) {
            kept = true;
            return true;
        });
        return kept;
    }

    // A kept fit that holds the hearts, with curvature steps left inside its
    // segments: the vertices nearest them moved onto them and the rail fitted
    // again the way the kept one was, kept where it still holds the hearts
    // without jolting the riders and they feel no more lateral for it: its
    // largest no more than `largest` (g) higher, its squares no more than
    // `squares` times as many (see kMissedStepSquares). Not on a track with a
    // loop's lean, which sets its segments.
    void refitOnto(double largest, double squares);

    // The kept fit's count of vertices placed again with the roll's segments
    // within kOnsetRefitSeconds of `at` (where that refit is not kept, within
    // kOnsetWideSeconds) as long as the measured error asks, up to one felt
    // window (see PlaceVertices), and the rail fitted the kept way, kept where
    // `ridesNoWorse(kept, refit)` holds (see keepIf).
    void refitAbout(double at, const auto& ridesNoWorse) {
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

    // Roll turns, and the kept fit put back.

    // The kept fit's roll turns as they stand (none: zero at every vertex),
    // and a copy of the kept fit's places and segments with those turns and
    // vertices `which` turned further by `share` of `towards`, for the turns
    // below to fit the rail with.
    std::vector<double> keptRollTurn() {
        return fit.rollTurn.empty() ? std::vector<double>(fit.places.size(), 0.0) : fit.rollTurn;
    }

    RailFit turnedCopy(const std::vector<double>& base, const std::vector<size_t>& which,
                       const std::vector<double>& towards, double share);

    // The kept fit with its forces and readings, and that state put back.
    KeptState keptState() { return KeptState{fit, best, keptForces, keptFelt, keptReading}; }

    void putBack(const KeptState& state);

    // Where the riders lean through a loop's vertical.

    // Whether `at` lies where the riders lean through a loop's vertical.
    bool withinLean(double at);

    // Whether the stretch from `from` to `to` reaches into such a lean.
    bool reachesLean(double from, double to);

    // The refits the stages try.

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
    void paceOnset(bool pastLean = false);

    // The refits paceOnset tries: the vertices of `kept` within `seconds` of
    // the onset at `onsetAt` (but none in a lean) replaced by vertices
    // `share` of a felt window apart, paced both ways from kept vertex
    // `nearest`, the count kept (see KeepVertexCount) and, with `fewerToo`
    // where pacing freed vertices, the fewer too; each fitted the kept way
    // where its places differ from the kept ones.
    std::vector<RailFit> pacedRefits(const std::vector<double>& kept, size_t nearest,
                                     double onsetAt, double seconds, double share, bool fewerToo);

    // The first of `refits` kept where it lowers the onset, opens no gap
    // (or keeps within the drawn track's, see kStepRollGapMargin) and rides
    // no more lateral or, with `clearlyWithin`, where it brings the onset
    // within `bound` (the drawn track's, or kPacedNearMargin within it) and
    // rides clearly within `drawn`'s felt lateral; whether one was.
    // `anyHeld` is set where any refit held the hearts without jolting.
    bool keepFirstPaced(std::vector<RailFit>& refits, bool clearlyWithin, const FeltLateral& drawn,
                        double bound, bool& anyHeld);

    // The loaded sample nearest arc length s.
    size_t sampleAt(double s) {
        return static_cast<size_t>(
            std::nearbyint(std::clamp(s / spacing, 0.0, static_cast<double>(loaded.size() - 1))));
    }

    // How far vertex q's roll is to turn to put its up along `force` across
    // the rail's tangent there (none at the ends).
    bool turnToward(size_t q, const D3& force, double& toward);

    // A kept fit whose finish held the heart's place harder on some segments
    // (see `hold`), fitted again with those weights (see refitAtKeptPlaces),
    // may ride a vertical onset within the drawn track's bound: with them the
    // whole rail moves a little (random case_151 at its own count: its
    // vertical onset up by 0.002 g/s, far from the end).
    bool verticalOnsetRides(double kept, double ride);

    // The vertex at the track's end (or start) where the drawn track ends
    // (or starts) level and unbanked and the kept rail's lowest felt vertical
    // lies in that end's segment, below the drawn track's by nearly its
    // tolerance (see kEndCurveTryMargin); none where neither end does.
    std::optional<size_t> dippingLevelEnd();

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
    void turnAboutSteps(std::vector<double>& turnedPlaces, const std::vector<CurveStep>* first);

    // The rolls of vertices `which` turned part by part by shares of
    // `towards` for turnAboutSteps, the rail fitted the kept way with each
    // part, kept only where it lowers the gap (`drawnGap` is the drawn
    // track's, `bound` the onset bound); with `holdVertical` the felt
    // vertical held too. The weighing is told where it is defined.
    void turnStepRolls(const std::vector<size_t>& which, const std::vector<double>& towards,
                       bool holdVertical, double drawnGap, double bound);

    // One round of TurnAcrossStepRamps: the step the raw peak sits at, the
    // vertices q0 and q1 either side of it and the places that put them on
    // its ramp's ends, the kept state and readings the round starts from and
    // the bounds its turns are weighed against, the force summed across the
    // step, the fits turned in the round, and the ends weighed so far.
    struct StepRampRound {
        const CurveStep* step = nullptr;
        size_t q0 = 0, q1 = 0;
        double reach = 0.0;  // see StepRampReach
        std::vector<double> rampPlaces;
        FeltLateral before;
        KeptState start;
        VerticalReach beforeVertical;
        double target = 0.0;      // the gap the vertical's may widen to
        double onsetBound = 0.0;  // see triedOnsetBound
        D3 across;
        // The turned fits solved in this round: the ramp's ends are turned
        // from the same kept fit in either order, and a turn tried again from
        // the same fit, at the same places from an up chosen alike (see
        // UpChoice), is the same fit, taken as it was made (random case_061:
        // a sixth of its fits at its own count and at four times it). They
        // are kept for the round alone, apart from madeFits, whose fits they
        // would otherwise push out.
        MadeFits turnedFits{};
        std::optional<FeltLateral> plain{};  // the kept fit, its nearest vertex turned
        std::optional<KeptState> chosen{};
        std::optional<KeptState> riding{};  // the end riding best where none is chosen
    };

    // The next round's step, where the kept rail still asks for one and its
    // ramp's ends can be placed (each step once, see rampedAt).
    std::optional<StepRampRound> nextStepRamp();

    // A turned fit solved, or taken as the round made it before.
    bool solveTurned(StepRampRound& ramp, RailFit& turned);

    // The kept fit's vertex q turned part by part towards the round's summed
    // force (with `way` -1, away from it); whether a part was kept.
    bool turnRampVertex(StepRampRound& ramp, size_t q, double way = 1.0);

    // Whether the kept fit now rides better than at the round's start.
    bool ridesBetterThanAtStart(const StepRampRound& ramp);

    // The kept fit weighed as the round's chosen end, or as the end riding
    // best where it is not chosen.
    void weighRampEnd(StepRampRound& ramp);

    // The rail refitted the kept way at places `at`, the roll turns of
    // `turnsFrom` carried over but for the vertices in `moved`, whose places
    // changed; whether it was made.
    bool refitCarryingTurns(const std::vector<double>& at, const RailFit& turnsFrom,
                            const std::vector<size_t>& moved, RailFit& refit);

    // The kept fit with the vertex nearest the step turned (the plain turn
    // the ends are weighed against), then the vertices either side moved
    // onto the ramp's ends, the kept roll turns carried over, and either end
    // turned and weighed.
    void turnRampEnds(StepRampRound& ramp);

    // Where no end brings the gap within the drawn track's and its
    // tolerance, the kept gap stands beyond them, and the end riding best
    // leaves its raw peak at another drawn step not yet ramped: the two
    // steps' places are sought together. First either vertex beside that
    // step moved to each of kNextStepShares of its ramp's reach either side
    // of it, then both, the one before moved back and the one after on, the
    // end's roll turns carried over; the move that leaves the lowest raw
    // lateral within half a felt window of that step, riding no more felt
    // lateral than the round's start (its largest and its squares), is
    // returned (none: no move does).
    std::vector<std::pair<size_t, double>> movesAboutNextStep(StepRampRound& ramp);

    // With those moves, the round's ramp ends placed again at each pair of
    // kRampEndShares of its reach, the kept roll turns carried over, and
    // either end turned as in turnRampEnds, then the other end turned
    // towards the summed force or, where no part of that is kept, away from
    // it; each weighed. (The ends placed at the ramp's reach and turned alone
    // rode the raw lateral 0.88 g at the first step's ramp start on random
    // case_061 at its own count with the second step's vertex moved, 0.03 g
    // beyond the gap and tolerance.)
    void placeRampEndsWith(StepRampRound& ramp,
                           const std::vector<std::pair<size_t, double>>& nextMoves);

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
    void turnAtStep(bool pastLean);

    // The gap and onset bounds a kept fit that still misses is weighed
    // against below, and how far a rail misses them: its raw lateral or
    // vertical beyond the felt one, and its onset, past their bounds, from
    // its felt lateral and its vertical reach.
    std::pair<double, double> heldBounds() {
        return std::pair{drawnFeltLateral().Gap() + kGapTolerance, drawnOnsetBound()};
    }

    double missOf(const FeltLateral& ride, const VerticalReach& reach);

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
    void turnLeanRolls();

    // A fit that leans there strays and jolts most on the segments at the
    // lean's ends, which reach beyond it: half the lean's span either side
    // counts too.
    bool inLean(double at);

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
    // Its RMS lowered with a shorter smoothing of the up.
    void lowerFeltRms();
    // Its largest held to the drawn track's with the cap held lower.
    void capFeltExcess();
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
    // The rail refitted the kept way at `places` (see OntoStepsBesideEnds),
    // kept where it rides better than the kept one, whose gap is `keptGap`
    // (the drawn track's lateral one `drawnGap`) and vertical reach
    // `keptReach`: whether it was kept, its gap and the place of its wider
    // raw gap. None where the refit was not made.
    struct MovedBesideEnds {
        bool taken = false;
        double gap = 0.0, gapAt = 0.0;
    };
    std::optional<MovedBesideEnds> tryBesideEnds(const std::vector<double>& places,
                                                 double keptGap, double drawnGap,
                                                 const VerticalReach& keptReach);
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
    // The placement GradeLeanSegments weighs tries against: the kept rail's
    // felt lateral and gap bound, and the best try so far, by how little it
    // misses (see missOf), with its forces.
    struct LeanGrading {
        const FeltLateral& kept;
        double gapBound = 0.0;
        double least = 0.0;
        std::optional<RailFit> better{};
        std::optional<ForcesAlong> betterForces{};
    };
    // The rail fitted the kept way at `places`, taken as the better one where
    // it holds the hearts without jolting, rides as GradeLeanSegments asks
    // and misses by less.
    void tryLeanPlaces(LeanGrading& grading, const std::vector<double>& places);
    // The kept rail finished again with the raw lateral held densely beside
    // the lean's vertices.
    void FinishDenseBesideLean();
    // What the fits came to.
    SmoothOutcome Outcome();

    // The run and the count the fits are made for, the loaded path, and the
    // state the fits share (members are initialised in this order).
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

}  // namespace cvqrn::smooth
