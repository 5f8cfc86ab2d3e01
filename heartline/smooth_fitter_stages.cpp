// The fitter's stages, in the order Run takes them (see smooth_fitter.h).
#include "heartline/smooth_fitter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <span>
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
#include "heartline/track_check.h"

namespace cvqrn::smooth {

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
        std::optional<StepRampRound> ramp = nextStepRamp();
        if (!ramp) break;
        turnRampEnds(*ramp);
        const std::vector<std::pair<size_t, double>> nextMoves = movesAboutNextStep(*ramp);
        if (!nextMoves.empty()) placeRampEndsWith(*ramp, nextMoves);
        putBack(ramp->chosen ? *ramp->chosen : ramp->start);
        if (!ramp->chosen) break;
    }
}

std::optional<SmoothFitter::StepRampRound> SmoothFitter::nextStepRamp() {
    if (leans || !solved || !(best.distance <= kHeldStray) ||
        !(keptFeltLateral().Gap() >
          drawnFeltLateral().Gap() + kGapTolerance - kStepRollGapMargin)) {
        return std::nullopt;
    }
    const FeltLateral before = keptFeltLateral();
    const CurveStep* step = NearestStep(steps, missedSteps, before.rawAt, kStepRollReach);
    if (step == nullptr ||
        std::find(rampedAt.begin(), rampedAt.end(), step->at) != rampedAt.end()) {
        return std::nullopt;
    }
    rampedAt.push_back(step->at);
    const auto after = std::upper_bound(fit.places.begin(), fit.places.end(), step->at);
    if (after == fit.places.begin() || after == fit.places.end() ||
        StepRamps({*step}, fit).empty()) {
        return std::nullopt;
    }
    const auto q1 = static_cast<size_t>(after - fit.places.begin());
    const size_t q0 = q1 - 1;
    const double reach = StepRampReach(*step);
    std::vector<double> places = fit.places;
    places[q0] = step->at - reach;
    places[q1] = step->at + reach;
    bool ordered = q0 >= 1 && q1 + 1 < places.size();
    for (size_t q = 1; ordered && q < places.size(); ++q) ordered = places[q] > places[q - 1];
    if (!ordered) return std::nullopt;
    const double half = 0.5 * kFeltWindow * step->speed;
    const D3 across =
        loaded[sampleAt(step->at - half)].feltAcross + loaded[sampleAt(step->at + half)].feltAcross;
    return StepRampRound{.step = step,
                         .q0 = q0,
                         .q1 = q1,
                         .reach = reach,
                         .rampPlaces = std::move(places),
                         .before = before,
                         .start = keptState(),
                         .beforeVertical = keptVerticalReading().reach,
                         .target = drawnFeltLateral().Gap() + kGapTolerance - kStepRollGapMargin,
                         .onsetBound = triedOnsetBound(),
                         .across = across};
}

bool SmoothFitter::solveTurned(StepRampRound& ramp, RailFit& turned) {
    if (const MadeFit* made = ramp.turnedFits.Find(turned, recipe.tuning, chosenUp)) {
        turned = made->fit;
        return made->solved;
    }
    ++run.RailFits;
    const bool solvedNow = solveRail(recipe.tuning, turned);
    ramp.turnedFits.Keep({recipe, turned, solvedNow, chosenUp});
    return solvedNow;
}

bool SmoothFitter::turnRampVertex(StepRampRound& ramp, size_t q, double way) {
    const D3 tangent = SteepBlend(fit.direction[q], RailTangentAt(samples, spacing, fit.places[q]));
    LevelFrame frame;
    const D3 up = Across(ramp.across, Unit(tangent));
    if (!LevelFrameOf(tangent, frame) || !(Norm(up) > 0.0)) return false;
    const double toward = way * std::remainder(RollOf(frame, Unit(up)) - fit.rolls[q], 2.0 * M_PI);
    const std::vector<double> base = keptRollTurn();
    bool anyKept = false;
    for (int part = 1; part <= kStepRollParts; ++part) {
        RailFit turned = turnedCopy(base, {q}, {toward}, part * kStepRollShare);
        if (!solveTurned(ramp, turned)) break;
        bool taken = false;
        keepIf(turned, [&](const FeltLateral& kept, const FeltLateral& turn) {
            if (!(turn.largest < kept.largest && turn.squares <= kept.squares &&
                  opensNoGap(kept, turn) &&
                  (turn.onset <= kept.onset || turn.onset <= ramp.onsetBound))) {
                return false;
            }
            const VerticalReach vertical = VerticalReachOf(loaded, spacing, heartline, turned);
            taken = vertical.Gap() <= std::max(ramp.beforeVertical.Gap(), ramp.target);
            return taken;
        });
        if (!taken) break;
        anyKept = true;
    }
    return anyKept;
}

bool SmoothFitter::ridesBetterThanAtStart(const StepRampRound& ramp) {
    const FeltLateral& ride = keptFeltLateral();
    return ride.rawLargest < ramp.before.rawLargest - kGapRefitGain &&
           ride.largest <= ramp.before.largest && ride.squares <= ramp.before.squares &&
           (ride.onset <= ramp.before.onset || ride.onset <= ramp.onsetBound) &&
           keptVerticalReading().reach.Gap() <= std::max(ramp.beforeVertical.Gap(), ramp.target);
}

void SmoothFitter::weighRampEnd(StepRampRound& ramp) {
    const bool rides = ridesBetterThanAtStart(ramp);
    const bool ok = rides && keptFeltLateral().largest <= ramp.plain->largest &&
                    keptFeltLateral().squares <= ramp.plain->squares &&
                    keptFeltLateral().Gap() < ramp.plain->Gap() &&
                    keptFeltLateral().Gap() <= drawnFeltLateral().Gap() + kGapTolerance;
    if (ok && (!ramp.chosen || keptFeltLateral().largest < ramp.chosen->felt->largest)) {
        ramp.chosen = keptState();
    }
    if (!ok && rides && (!ramp.riding || keptFeltLateral().largest < ramp.riding->felt->largest)) {
        ramp.riding = keptState();
    }
}

bool SmoothFitter::refitCarryingTurns(const std::vector<double>& at, const RailFit& turnsFrom,
                                      const std::vector<size_t>& moved, RailFit& refit) {
    if (turnsFrom.rollTurn.empty()) {
        givenPlaces = at;
        return refitKeptWay(refit);
    }
    // With turns to carry, a rail fitted at `at` without them would only be
    // dropped: the one with them is fitted alone, the up chosen and the
    // budget read as that fit would have. Its system reads the places, not
    // the rolls, so it fails exactly where that fit's would have.
    chooseUpLike(recipe);
    budgetLeft = budgetLeft || static_cast<int>(at.size()) - 1 < segments;
    refit = RailFit{};
    refit.perSegment = pointsPerSegment;
    refit.places = at;
    refit.rollTurn = turnsFrom.rollTurn;
    for (const size_t w : moved) refit.rollTurn[w] = 0.0;
    ++run.RailFits;
    return solveRail(recipe.tuning, refit);
}

void SmoothFitter::turnRampEnds(StepRampRound& ramp) {
    const size_t q0 = ramp.q0, q1 = ramp.q1;
    // The kept fit with the vertex nearest the step turned.
    turnRampVertex(
        ramp, std::abs(fit.places[q0] - ramp.step->at) <= std::abs(fit.places[q1] - ramp.step->at)
                  ? q0
                  : q1);
    ramp.plain = keptFeltLateral();
    putBack(ramp.start);
    // The vertices either side moved onto the ramp's ends, the kept roll
    // turns carried over, then either end turned.
    RailFit moved;
    if (!refitCarryingTurns(ramp.rampPlaces, ramp.start.fit, {q0, q1}, moved) || !keepHeld(moved)) {
        return;
    }
    const KeptState ramped = keptState();
    for (const size_t q : {q0, q1}) {
        putBack(ramped);
        turnRampVertex(ramp, q);
        weighRampEnd(ramp);
    }
}

std::vector<std::pair<size_t, double>> SmoothFitter::movesAboutNextStep(StepRampRound& ramp) {
    const double gapBound = drawnFeltLateral().Gap() + kGapTolerance;
    const CurveStep* next =
        !ramp.chosen && ramp.riding && ramp.before.Gap() > gapBound
            ? NearestStep(steps, missedSteps, ramp.riding->felt->rawAt, kStepRollReach)
            : nullptr;
    // The vertices either side of that step, each tried.
    std::vector<size_t> beside;
    if (next != nullptr &&
        std::find(rampedAt.begin(), rampedAt.end(), next->at) == rampedAt.end()) {
        const std::vector<double>& at = ramp.riding->fit.places;
        const auto upper =
            static_cast<size_t>(std::upper_bound(at.begin(), at.end(), next->at) - at.begin());
        for (const size_t w : {upper - 1, upper}) {
            if (upper >= 1 && w >= 1 && w + 1 < at.size() && w != ramp.q0 && w != ramp.q1) {
                beside.push_back(w);
            }
        }
    }
    std::vector<std::pair<size_t, double>> nextMoves;
    if (beside.empty()) return nextMoves;
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
    double lowest = rawAbout(ForcesAlongOf(loaded, spacing, heartline, ramp.riding->fit));
    // Either vertex alone, then both, the one before the step moved back and
    // the one after it on.
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
        std::vector<double> shifted = ramp.riding->fit.places;
        for (const auto& [w, place] : moves) shifted[w] = place;
        bool inOrder = true;
        for (const auto& [w, place] : moves) {
            inOrder = inOrder && shifted[w] > shifted[w - 1] && shifted[w] < shifted[w + 1];
        }
        if (!inOrder) continue;
        std::vector<size_t> movedVertices;
        for (const auto& [w, place] : moves) movedVertices.push_back(w);
        RailFit moved;
        if (!refitCarryingTurns(shifted, ramp.riding->fit, movedVertices, moved)) continue;
        std::optional<ForcesAlong> forces;
        putBack(*ramp.riding);
        bool in = false;
        keepReadIf(moved, &forces, nullptr, [&](const FeltLateral&, const FeltLateral& ride) {
            in = ride.largest <= ramp.before.largest && ride.squares <= ramp.before.squares &&
                 rawAbout(*forces) < lowest;
            return in;
        });
        if (!in) continue;
        lowest = rawAbout(keptForcesAlong());
        nextMoves = moves;
    }
    return nextMoves;
}

void SmoothFitter::placeRampEndsWith(StepRampRound& ramp,
                                     const std::vector<std::pair<size_t, double>>& nextMoves) {
    const size_t q0 = ramp.q0, q1 = ramp.q1;
    for (const double from : kRampEndShares) {
        for (const double to : kRampEndShares) {
            std::vector<double> jointly = ramp.start.fit.places;
            jointly[q0] = ramp.step->at - from * ramp.reach;
            jointly[q1] = ramp.step->at + to * ramp.reach;
            for (const auto& [w, place] : nextMoves) jointly[w] = place;
            bool inOrder = true;
            for (size_t q = 1; inOrder && q < jointly.size(); ++q) {
                inOrder = jointly[q] > jointly[q - 1];
            }
            if (!inOrder) continue;
            std::vector<size_t> movedVertices = {q0, q1};
            for (const auto& [w, place] : nextMoves) movedVertices.push_back(w);
            RailFit both;
            if (!refitCarryingTurns(jointly, ramp.start.fit, movedVertices, both)) continue;
            putBack(ramp.start);
            if (!keepHeld(both)) continue;
            const KeptState placed = keptState();
            for (const size_t q : {q0, q1}) {
                putBack(placed);
                turnRampVertex(ramp, q);
                weighRampEnd(ramp);
                const size_t other = q == q0 ? q1 : q0;
                if (!turnRampVertex(ramp, other)) turnRampVertex(ramp, other, -1.0);
                weighRampEnd(ramp);
            }
        }
    }
}

void SmoothFitter::EaseFeltLateral() {
    paceOnset();
    lowerFeltRms();
    capFeltExcess();
    // Where the cap's refit is kept, the pacing is tried again about the
    // lowered lateral: a paced refit held to ride no more lateral than the
    // kept rail may ride less than the capped one.
    if (capKept) paceOnset();
}

void SmoothFitter::lowerFeltRms() {
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
}

void SmoothFitter::capFeltExcess() {
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
    // rail's or the drawn track's (see kShortSmoothGapMargin).
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

namespace {

// The drawn step of `drawnSteps` on a steep slope (see kMissedStepSteepness)
// nearest `at`, within half a felt window of it, with none of `places` on
// it; null where none is.
const CurveStep* SteepStepNear(const std::vector<CurveStep>& drawnSteps,
                               const std::vector<PathSample>& loaded, double spacing,
                               const std::vector<double>& places, double at) {
    return NearestStepWhere(drawnSteps, {}, at, [&](const CurveStep& drawnStep, double apart) {
        if (!(apart <= 0.5 * kFeltWindow * drawnStep.speed)) return false;
        const auto j = static_cast<size_t>(std::nearbyint(
            std::clamp(drawnStep.at / spacing, 0.0, static_cast<double>(loaded.size() - 1))));
        return Steepness(loaded[j].tangent) > kMissedStepSteepness &&
               std::find(places.begin(), places.end(), drawnStep.at) == places.end();
    });
}

// `kept`'s vertex q moved onto `stepAt`, its neighbours within `taper`
// segments following it by the share of the move that tapers off to none
// there (the two vertices at either end of the track stay); empty where a
// segment would keep less than kStepMoveShare of its length.
std::vector<double> TaperedOnto(const std::vector<double>& kept, size_t q, double stepAt,
                                int taper) {
    const double shift = stepAt - kept[q];
    std::vector<double> places = kept;
    for (int k = 1 - taper; k < taper; ++k) {
        const std::ptrdiff_t p = static_cast<std::ptrdiff_t>(q) + k;
        if (p < 2 || p + 2 >= static_cast<std::ptrdiff_t>(kept.size())) continue;
        places[static_cast<size_t>(p)] += shift * (1.0 - std::abs(k) / static_cast<double>(taper));
    }
    places[q] = stepAt;
    for (size_t p = 1; p < places.size(); ++p) {
        if (!(places[p] - places[p - 1] >= kStepMoveShare * (kept[p] - kept[p - 1]))) return {};
    }
    return places;
}

}  // namespace

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
        const CurveStep* step = SteepStepNear(drawnSteps, loaded, spacing, fit.places, at);
        if (step == nullptr) continue;
        const std::vector<double> keptPlaces = fit.places;
        const auto it = std::upper_bound(keptPlaces.begin(), keptPlaces.end(), step->at);
        if (it == keptPlaces.begin() || it == keptPlaces.end()) continue;
        auto q = static_cast<size_t>(it - keptPlaces.begin()) - 1;
        if (keptPlaces[q + 1] - step->at < step->at - keptPlaces[q]) ++q;
        if (q < 2 || q + 2 >= keptPlaces.size()) continue;
        const double drawnGap = triedGapBound();
        const double onsetBound = triedOnsetBound();
        double least = forGap ? keptReach.Gap() : keptVertical.onset;
        for (const int taper : {1, kStepSideTaper}) {
            givenPlaces = TaperedOnto(keptPlaces, q, step->at, taper);
            if (givenPlaces.empty()) continue;
            RailFit moved;
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

namespace {

// The drawn step (of `steps` or `missedSteps`) within half a felt window of
// one of `gapsAt`, the first of them that has one, inside a segment beside
// the second or third vertex from either end of `places`, off that vertex
// and where both segments beside it would keep at least half their lengths
// with the vertex on the step; nearest its vertex, whose index goes to `q`.
// Null where none is.
const CurveStep* StepBesideEnds(const std::vector<CurveStep>& steps,
                                const std::vector<CurveStep>& missedSteps,
                                const std::vector<double>& places,
                                const std::vector<double>& gapsAt, size_t& q) {
    const size_t last = places.size() - 1;
    const CurveStep* step = nullptr;
    for (const double at : gapsAt) {
        if (step != nullptr) break;
        for (const std::vector<CurveStep>* list :
             std::array<const std::vector<CurveStep>*, 2>{&steps, &missedSteps}) {
            for (const CurveStep& drawnStep : *list) {
                if (!(std::abs(drawnStep.at - at) <= 0.5 * kFeltWindow * drawnStep.speed)) {
                    continue;
                }
                for (const size_t p : {size_t{1}, size_t{2}, last - 2, last - 1}) {
                    const double from = places[p - 1], to = places[p + 1];
                    if (!(drawnStep.at > from && drawnStep.at < to) || drawnStep.at == places[p] ||
                        !(drawnStep.at - from >= 0.5 * (places[p] - from) &&
                          to - drawnStep.at >= 0.5 * (to - places[p]))) {
                        continue;
                    }
                    if (step == nullptr ||
                        std::abs(drawnStep.at - places[p]) < std::abs(step->at - places[q])) {
                        step = &drawnStep;
                        q = p;
                    }
                }
            }
        }
    }
    return step;
}

// The vertices either side of the drawn step nearest `gapAt` (within half a
// felt window of it, not yet in `movedTo`) moved onto its ramp's ends (see
// StepRampReach), where they keep their order and neither is vertex q nor
// sits on the step; whether they moved (the step then joins `movedTo`).
bool OntoNextStepRamp(const std::vector<CurveStep>& steps,
                      const std::vector<CurveStep>& missedSteps, double gapAt, size_t q,
                      std::vector<double>& places, std::vector<double>& movedTo) {
    const CurveStep* nextStep = NearestStepWhere(
        steps, missedSteps, gapAt, [&](const CurveStep& drawnStep, double apart) {
            return apart <= 0.5 * kFeltWindow * drawnStep.speed &&
                   std::find(movedTo.begin(), movedTo.end(), drawnStep.at) == movedTo.end();
        });
    if (nextStep == nullptr) return false;
    const auto after = std::upper_bound(places.begin(), places.end(), nextStep->at);
    const auto u = static_cast<size_t>(after - places.begin());
    const double reach = StepRampReach(*nextStep);
    if (u < 2 || u + 1 >= places.size() || places[u - 1] == nextStep->at ||
        !(nextStep->at - reach > places[u - 2]) || !(nextStep->at + reach < places[u + 1]) ||
        u - 1 == q || u == q) {
        return false;
    }
    places[u - 1] = nextStep->at - reach;
    places[u] = nextStep->at + reach;
    movedTo.push_back(nextStep->at);
    return true;
}

}  // namespace

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
        size_t q = 0;
        const CurveStep* step = StepBesideEnds(steps, missedSteps, fit.places, gapsAt, q);
        // The places tried: that vertex moved onto the step, then, where the
        // moved rail's gap still stands beyond its tolerance, the next step's
        // ramp ends too (see OntoNextStepRamp); the steps moved onto, in
        // `movedTo`.
        std::vector<double> places, movedTo;
        if (step != nullptr) {
            places = fit.places;
            places[q] = step->at;
            movedTo.push_back(step->at);
        }
        for (int move = 0; move < 2 && !places.empty(); ++move) {
            const std::optional<MovedBesideEnds> moved =
                tryBesideEnds(places, keptGap, drawnGap, keptReach);
            if (!moved || moved->taken || !(moved->gap > drawnGap + kGapTolerance)) break;
            if (!OntoNextStepRamp(steps, missedSteps, moved->gapAt, q, places, movedTo)) break;
        }
        givenPlaces.clear();
    }
}

std::optional<SmoothFitter::MovedBesideEnds> SmoothFitter::tryBesideEnds(
    const std::vector<double>& places, double keptGap, double drawnGap,
    const VerticalReach& keptReach) {
    RailFit moved;
    givenPlaces = places;
    if (!refitKeptWay(moved)) return std::nullopt;
    std::optional<ForcesAlong> movedForces = ForcesAlongOf(loaded, spacing, heartline, moved);
    const VerticalReading movedReading = VerticalOver(*movedForces);
    const FeltLateral movedLateral = FeltLateralOver(movedForces->along);
    MovedBesideEnds result;
    result.gap = std::max(movedLateral.Gap(), movedReading.reach.Gap());
    result.gapAt = movedLateral.Gap() >= movedReading.reach.Gap() ? movedLateral.rawAt
                                                                  : movedReading.reach.GapAt();
    const FeltVertical keptVertical = keptVerticalReading().felt;
    const FeltVertical& movedVertical = movedReading.felt;
    const double verticalBound =
        kOnsetBoundFactor * DrawnFeltVerticalOnset(loaded, spacing) + kOnsetTryMargin;
    const double onsetBound = triedOnsetBound();
    if (result.gap < keptGap && result.gap <= drawnGap + kGapTolerance &&
        movedVertical.lowest >= keptVertical.lowest - kStepRollFelt &&
        movedReading.reach.feltTop <= keptReach.feltTop + kStepRollFelt &&
        (movedVertical.onset <= keptVertical.onset + kStepRollOnsetNoise ||
         movedVertical.onset <= verticalBound)) {
        keepReadIf(moved, &movedForces, &movedReading,
                   [&](const FeltLateral& kept, const FeltLateral& ride) {
                       const double largest =
                           keptGap > drawnGap + kGapTolerance &&
                                   ride.largest <= drawnFeltLateral().largest - kDrawnLargestMargin
                               ? kStepGapTrade
                               : kStepRollFelt;
                       result.taken = ride.largest <= kept.largest + largest &&
                                      ride.squares <= kept.squares &&
                                      (ride.onset <= kept.onset || ride.onset <= onsetBound);
                       return result.taken;
                   });
    }
    return result;
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
            keepReadIf(
                moved, &forces, &reading, [&](const FeltLateral& kept, const FeltLateral& after) {
                    const VerticalReading& keptRead = keptVerticalReading();
                    reading = VerticalOver(*forces);
                    const bool narrows = after.Gap() < kept.Gap() - kStepRollGain ||
                                         (after.Gap() <= kept.Gap() &&
                                          std::abs(after.rawAt - step->at) > kStepRollReach);
                    const double gapBound = drawnFeltLateral().Gap() + kGapTolerance;
                    const bool clears = kept.Gap() > gapBound && after.Gap() <= gapBound &&
                                        after.largest <= kept.largest && withinDrawnRms(after);
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
                    givenPlaces = SplitPlaces(coarse.fit.places, split, samples, spacing, heartline,
                                              coarse.recipe.tuning.curvatureError, evenly);
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

namespace {

// The places `from` with each lean's segment over its middle handed to `move`
// (with the lean's ends, that segment's index and length, and kFlipTaper of
// it) where the taper beside the lean stays within the track of `length`;
// none where no lean's was moved or the places fall out of order.
template <typename Move>
std::optional<std::vector<double>> MovedAboutLeans(const std::vector<double>& from,
                                                   const std::vector<double>& leanSpans,
                                                   double length, const Move& move) {
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
    if (!moved || !std::is_sorted(places.begin(), places.end()) ||
        std::adjacent_find(places.begin(), places.end()) != places.end()) {
        return std::nullopt;
    }
    return places;
}

// The places `from` with every lean's vertices, and those within kFlipTaper
// segments beside it tapering off, moved on by `shift` of the lean's segment
// over its middle.
std::optional<std::vector<double>> ShiftedAboutLeans(const std::vector<double>& from,
                                                     const std::vector<double>& leanSpans,
                                                     double length, double shift) {
    return MovedAboutLeans(
        from, leanSpans, length,
        [&](std::vector<double>& places, double start, double end, size_t, double span,
            double taper) {
            for (size_t r = 1; r + 1 < places.size(); ++r) {
                const double away = std::max({start - from[r], from[r] - end, 0.0});
                places[r] += shift * span * std::clamp(1.0 - away / taper, 0.0, 1.0);
            }
            return true;
        });
}

// The places `from` with each lean's segment over its crossing centred on
// it, its vertices on either side drawn along evenly from kFlipTaper
// segments beyond the lean.
std::optional<std::vector<double>> CentredOnLeans(const std::vector<double>& from,
                                                  const std::vector<double>& leanSpans,
                                                  double length) {
    return MovedAboutLeans(
        from, leanSpans, length,
        [&](std::vector<double>& places, double start, double end, size_t q, double span,
            double taper) {
            const double middle = 0.5 * (start + end);
            const double lo = start - taper, hi = end + taper;
            const double before = middle - 0.5 * span, after = middle + 0.5 * span;
            if (!(before > lo && after < hi && from[q] > lo && from[q + 1] < hi)) return false;
            for (size_t r = 1; r + 1 < places.size(); ++r) {
                if (from[r] > lo && r <= q) {
                    places[r] = lo + (from[r] - lo) * (before - lo) / (from[q] - lo);
                } else if (from[r] < hi && r > q) {
                    places[r] = hi - (hi - from[r]) * (hi - after) / (hi - from[q + 1]);
                }
            }
            return true;
        });
}

}  // namespace

void SmoothFitter::tryLeanPlaces(LeanGrading& grading, const std::vector<double>& places) {
    givenPlaces = places;
    RailFit graded;
    const bool made = fitRail(recipe.tuning, graded);
    givenPlaces.clear();
    if (!made || !(HeldStray(walk, heartline, graded).distance <= kHeldStray)) return;
    const RailJolts jolt = JoltsOf(samples, spacing, heartline, graded);
    if (!(jolt.hardest.distance <= kLargestJolt) || !(jolt.end <= kLargestEndJolt)) return;
    ForcesAlong forces = ForcesAlongOf(loaded, spacing, heartline, graded);
    const FeltLateral ride = FeltLateralOver(forces.along);
    const FeltLateral& kept = grading.kept;
    if (ride.largest > kept.largest + kStepPairLargest || ride.squares > kept.squares ||
        ride.onset > kept.onset || ride.Gap() > std::max(kept.Gap(), grading.gapBound)) {
        return;
    }
    const double miss = missOf(ride, VerticalOver(forces).reach);
    if (!(miss < grading.least)) return;
    grading.least = miss;
    grading.better = std::move(graded);
    grading.betterForces = std::move(forces);
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
    if (!leans || !recipe.lean || !solved || !(best.distance <= kHeldStray)) return;
    const double gapBound = heldBounds().first, onsetBound = heldBounds().second;
    const FeltLateral& kept = keptFeltLateral();
    if (!(kept.Gap() > gapBound || kept.onset > onsetBound)) return;
    LeanGrading grading{
        .kept = kept, .gapBound = gapBound, .least = missOf(kept, keptVerticalReading().reach)};
    chooseUpAs(recipe);
    for (const int grade : kLeanGrades) {
        tryLeanPlaces(grading, PlaceVertices(samples, length, segments, spacing, heartline,
                                             recipe.tuning.curvatureError, limit, limitLean, 0.0,
                                             -1.0, grade));
    }
    // Where the vertices fall along the lean sets which of the eased roll's
    // jumps at its vertices (see the graded try above) enter and leave the
    // felt window together, and no one spacing suits every lean: the lean's
    // vertices (as graded, where a grade did better) moved together by a
    // share of the lean segment at its middle (ShiftedAboutLeans), and the
    // lean's segments made longer or shorter, each length moved so in turn,
    // are tried too. (The builder's loop and helix at 100 segments: its
    // places moved back an eighth of a segment, a lateral onset of 31.5 g/s
    // against 38.4; random case_152 at twice its count, moved on an eighth,
    // 38.4 against 41.4 g/s. The builder's loop at 100 segments: its lean's
    // segments a tenth shorter, 31.3 g/s, and so moved back an eighth,
    // 27.3 g/s; carried up to 400 segments, whose own places rode 33.9 g/s
    // and a largest felt lateral of 1.33 g against 1.16.)
    const auto tryShifted = [&](const std::vector<double>& from, double shift) {
        if (auto places = ShiftedAboutLeans(from, leanSpans, length, shift)) {
            tryLeanPlaces(grading, *places);
        }
    };
    // Where the onset misses, each lean's segment over its crossing centred
    // on it (CentredOnLeans): the shifts above move every lean by one share
    // of its segment, and leans whose crossing segments lie off their
    // middles by different shares keep one of them off. (Random case_152 at
    // twice its count, its two crossing segments off by a sixth and a
    // quarter of their lengths: a lateral onset of 41.4 g/s, 38.4 shifted on
    // an eighth, 32.8 centred. Segments over the crossing a quarter to twice
    // as long again rode the lean's own felt lateral higher, the loop's up
    // to 1.8 g against 1.3, or let the hearts stray beyond 2 cm.)
    if (kept.onset > onsetBound) {
        if (auto places = CentredOnLeans(fit.places, leanSpans, length)) {
            tryLeanPlaces(grading, *places);
        }
    }
    const std::vector<double> shiftedFrom = grading.better ? grading.better->places : fit.places;
    for (const double shift : kLeanShifts) tryShifted(shiftedFrom, shift);
    for (const double scale : kLeanScales) {
        const std::vector<double> scaled =
            PlaceVertices(samples, length, segments, spacing, heartline,
                          recipe.tuning.curvatureError, limit, limitLean, 0.0, -1.0, 0, scale);
        tryLeanPlaces(grading, scaled);
        for (const double shift : kLeanShifts) tryShifted(scaled, shift);
    }
    if (grading.better) {
        keepReadIf(*grading.better, &grading.betterForces, nullptr,
                   [](const FeltLateral&, const FeltLateral&) { return true; });
        keptPlaced = placedSegments;
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

}  // namespace cvqrn::smooth
