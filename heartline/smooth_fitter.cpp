// The fitter's shared operations: choosing the up, fitting and keeping
// rails, the readings and bounds refits are weighed against, and the refits
// its stages try (see smooth_fitter.h); and FitSmooth, which runs it.
#include "heartline/smooth_fitter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
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
#include "heartline/track_check.h"

namespace cvqrn::smooth {

SmoothOutcome FitSmooth(HeartlineRun& run, const PathWalk& walk, int segments,
                        const std::function<void(double)>& progress, bool weighCoarser,
                        int finishCounts) {
    return SmoothFitter(run, walk, segments, progress, weighCoarser, finishCounts).Run();
}

std::vector<PathSample> SmoothFitter::chooseUp(double leastSigma, bool lean, bool& didLean,
                                               double share) {
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
    const int smoothRadius =
        static_cast<int>(std::nearbyint(0.5 * (std::sqrt(1.0 + 4.0 * ratio * ratio) - 1.0)));
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

void SmoothFitter::chooseUpLike(const FitRecipe& way) {
    bool unused = false;
    samples = chooseUp(way.leastSigma, way.lean, unused, way.smoothShare);
    current = way;
}

bool SmoothFitter::solveRail(const FitTuning& tuning, RailFit& rail) {
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
            const double s = rail.places[AsIndex(i)] + rail.lengths[AsIndex(i)] * q /
                                                           static_cast<double>(rail.perSegment - 1);
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

bool SmoothFitter::fitRail(const FitTuning& tuning, RailFit& rail) {
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

double SmoothFitter::consider(RailFit& tried, const std::vector<Stray>* strays) {
    Stray stray = strays != nullptr ? HeldStray(walk, heartline, tried, *strays)
                                    : HeldStray(walk, heartline, tried);
    considered = stray;
    RailJolts jolt = JoltsOf(samples, spacing, heartline, tried);
    const bool jolting = !(jolt.hardest.distance <= kLargestJolt) || !(jolt.end <= kLargestEndJolt);
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

void SmoothFitter::fitEitherWay() {
    const bool held = fitRail(kSmoothWay, candidate) && consider(candidate) <= kCautiousStray;
    if (!held && fitRail(kCautiousWay, candidate)) consider(candidate);
}

void SmoothFitter::refine(bool throughLean, bool scarce, const RailFit* from) {
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

bool SmoothFitter::refitKeptWay(RailFit& refit) {
    chooseUpLike(recipe);
    const bool made = fitRail(recipe.tuning, refit);
    givenPlaces.clear();
    return made;
}

void SmoothFitter::chooseUpAs(const FitRecipe& way) {
    const double keptCapBelow = capBelow, keptLeanOnset = leanOnset;
    capBelow = way.capBelow;
    leanOnset = way.leanOnset;
    chooseUpLike(way);
    capBelow = keptCapBelow;
    leanOnset = keptLeanOnset;
}

bool SmoothFitter::refitAtKeptPlaces(const FitRecipe& way, RailFit& refit) {
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

bool SmoothFitter::opensNoGap(const FeltLateral& before, const FeltLateral& after) {
    return after.Gap() <= std::max(before.Gap(), triedGapBound()) ||
           after.rawLargest <= before.rawLargest + kPacedRawMargin;
}

bool SmoothFitter::withinDrawnRms(const FeltLateral& after) {
    const FeltLateral& drawn = drawnFeltLateral();
    return after.squares * drawn.counted <=
           kDrawnRmsShare * kDrawnRmsShare * drawn.squares * after.counted;
}

void SmoothFitter::refitOnto(double largest, double squares) {
    if (givenPlaces.empty()) return;
    RailFit moved;
    if (!refitKeptWay(moved)) return;
    keepIf(moved, [&](const FeltLateral& before, const FeltLateral& after) {
        return after.largest <= before.largest + largest &&
               after.squares <= squares * before.squares &&
               after.onset <= before.onset + kMissedStepOnset;
    });
}

RailFit SmoothFitter::turnedCopy(const std::vector<double>& base, const std::vector<size_t>& which,
                                 const std::vector<double>& towards, double share) {
    RailFit turned;
    turned.perSegment = fit.perSegment;
    turned.places = fit.places;
    turned.rollTurn = base;
    turned.hold = fit.hold;
    for (size_t n = 0; n < which.size(); ++n) turned.rollTurn[which[n]] += share * towards[n];
    return turned;
}

void SmoothFitter::putBack(const KeptState& state) {
    fit = state.fit;
    best = state.best;
    keptForces = state.forces;
    keptFelt = state.felt;
    keptReading = state.reading;
}

bool SmoothFitter::withinLean(double at) {
    for (size_t k = 0; k + 1 < leanSpans.size(); k += 2) {
        if (at >= leanSpans[k] && at <= leanSpans[k + 1]) return true;
    }
    return false;
}

bool SmoothFitter::reachesLean(double from, double to) {
    for (size_t k = 0; k + 1 < leanSpans.size(); k += 2) {
        if (to >= leanSpans[k] && from <= leanSpans[k + 1]) return true;
    }
    return false;
}

namespace {

// The steps of a paced stretch from kept vertex `nearest` towards kept vertex
// `edge`, which stays (`beyond` is the kept vertex past it), graded (see
// kPacedGrading) so that they meet the kept segment beyond at its length, no
// step longer than `window` gives at its start, then all scaled alike so the
// last lands on `edge`; the places between appended to `out`. False where no
// such steps reach it.
template <typename Window>
bool GradedToward(const std::vector<double>& kept, size_t nearest, size_t edge, size_t beyond,
                  const Window& window, std::vector<double>& out) {
    const double span = std::abs(kept[edge] - kept[nearest]);
    const double toward = kept[edge] > kept[nearest] ? 1.0 : -1.0;
    const double neighbour = std::abs(kept[beyond] - kept[edge]);
    std::vector<double> offsets{0.0};
    while (offsets.back() < span && offsets.size() <= kept.size()) {
        const double off = offsets.back();
        const double ramp = (neighbour + kPacedGrading * (span - off)) / (1.0 + kPacedGrading);
        const double step = std::min(window(kept[nearest] + toward * off), ramp);
        if (!(step > 0.0)) return false;
        offsets.push_back(off + step);
    }
    size_t n = offsets.size() - 1;
    if (!(offsets[n] >= span)) return false;
    if (n >= 2 && (span - offsets[n - 1]) * offsets[n] < (offsets[n] - span) * offsets[n - 1]) {
        --n;
    }
    const double scale = span / offsets[n];
    for (size_t i = 1; i < n; ++i) out.push_back(kept[nearest] + toward * (scale * offsets[i]));
    return true;
}

}  // namespace

std::vector<RailFit> SmoothFitter::pacedRefits(const std::vector<double>& kept, size_t nearest,
                                               double onsetAt, double seconds, double share,
                                               bool fewerToo) {
    const double reach = seconds * SpeedAt(samples, spacing, onsetAt);
    // The kept vertices before `first` and after `last` stay.
    size_t first = nearest, last = nearest;
    while (first > 1 && kept[first - 1] > onsetAt - reach && !withinLean(kept[first - 1])) {
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
    std::vector<double> paced(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(first));
    paced.insert(paced.end(), behind.rbegin(), behind.rend());
    paced.push_back(kept[nearest]);
    paced.insert(paced.end(), ahead.begin(), ahead.end());
    // The paced vertices and the kept ones either side of them (indices
    // `held` to `held + heldCount` of `paced`) stay; the count is kept by
    // taking vertices from, or giving them back to, the rest of the track
    // (see KeepVertexCount).
    const size_t held = first - 1;
    const size_t heldCount = behind.size() + ahead.size() + 3;
    paced.insert(paced.end(), kept.begin() + static_cast<std::ptrdiff_t>(last + 1), kept.end());
    // Tried at the kept count first, then, where pacing freed vertices and
    // `fewerToo`, at the fewer.
    std::vector<std::vector<double>> tries;
    std::vector<double> counted = paced;
    if (KeepVertexCount(samples, limit, steps, held, heldCount, kept.size(), counted)) {
        tries.push_back(std::move(counted));
    }
    if (fewerToo && paced.size() < kept.size()) {
        // At the fewer, the dense kept vertices beside the paced stretch
        // would meet segments many times their length: the steps towards
        // either kept vertex that stays are graded (see GradedToward). (At
        // the track's ends, where no kept segment lies beyond, the steps
        // stay as paced.)
        std::vector<double> gradedBehind, gradedAhead;
        if (first < 2) gradedBehind = behind;
        if (last + 2 >= kept.size()) gradedAhead = ahead;
        if ((first < 2 ||
             GradedToward(kept, nearest, first - 1, first - 2, window, gradedBehind)) &&
            (last + 2 >= kept.size() ||
             GradedToward(kept, nearest, last + 1, last + 2, window, gradedAhead))) {
            std::vector<double> fewer(kept.begin(),
                                      kept.begin() + static_cast<std::ptrdiff_t>(first));
            fewer.insert(fewer.end(), gradedBehind.begin(), gradedBehind.end());
            fewer.push_back(kept[nearest]);
            fewer.insert(fewer.end(), gradedAhead.begin(), gradedAhead.end());
            fewer.insert(fewer.end(), kept.begin() + static_cast<std::ptrdiff_t>(last + 1),
                         kept.end());
            std::sort(fewer.begin() + static_cast<std::ptrdiff_t>(first),
                      fewer.begin() + static_cast<std::ptrdiff_t>(first + gradedBehind.size()));
            if (fewer.size() < kept.size()) tries.push_back(std::move(fewer));
        }
    }
    std::vector<RailFit> made;
    for (std::vector<double>& places : tries) {
        RailFit refit;
        givenPlaces = std::move(places);
        if (givenPlaces != kept && fitRail(recipe.tuning, refit)) made.push_back(std::move(refit));
    }
    givenPlaces.clear();
    return made;
}

bool SmoothFitter::keepFirstPaced(std::vector<RailFit>& refits, bool clearlyWithin,
                                  const FeltLateral& drawn, double bound, bool& anyHeld) {
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
            const bool into =
                (before.onset > bound && after.onset <= bound) ||
                (before.onset > near && after.onset <= near && after.largest <= before.largest);
            const bool lower = after.largest <= drawn.largest - kDrawnLargestMargin ||
                               (after.largest <= before.largest && after.largest <= drawn.largest);
            better = clearlyWithin
                         ? into && lower && withinDrawnRms(after)
                         : after.largest <= before.largest && after.squares <= before.squares;
            return better;
        });
        if (better) return true;
    }
    return false;
}

void SmoothFitter::paceOnset(bool pastLean) {
    if ((leans && (!pastLean || withinLean(keptFeltLateral().onsetAt))) || !solved ||
        !(best.distance <= kHeldStray) ||
        !(keptFeltLateral().onset > drawnOnsetBound() - kPacedNearMargin)) {
        return;
    }
    const std::vector<double> kept = fit.places;
    const double onsetAt = keptFeltLateral().onsetAt;
    const size_t nearest = NearestPlace(kept, onsetAt);
    if (nearest < 2 || nearest + 2 >= kept.size()) return;
    chooseUpLike(recipe);
    const FeltLateral& drawn = drawnFeltLateral();
    const double bound = drawnOnsetBound();
    // Whether any refit held the hearts without jolting.
    bool anyHeld = false;
    std::vector<RailFit> refits;
    bool better = false;
    for (const bool rollAlone : {false, true}) {
        if (better || (rollAlone && anyHeld)) break;
        const double seconds = rollAlone ? kPacedRollSeconds : kOnsetRefitSeconds;
        for (size_t k = 0; k < kPacedWindowShares.size(); ++k) {
            std::vector<RailFit> made =
                pacedRefits(kept, nearest, onsetAt, seconds, kPacedWindowShares[k], k == 0);
            better = keepFirstPaced(made, false, drawn, bound, anyHeld);
            if (better) break;
            for (RailFit& refit : made) refits.push_back(std::move(refit));
        }
    }
    if (!better) keepFirstPaced(refits, true, drawn, bound, anyHeld);
}

bool SmoothFitter::turnToward(size_t q, const D3& force, double& toward) {
    if (q == 0 || q + 1 >= fit.places.size()) return false;
    const D3 tangent = SteepBlend(fit.direction[q], RailTangentAt(samples, spacing, fit.places[q]));
    LevelFrame frame;
    const D3 up = Across(force, Unit(tangent));
    if (!LevelFrameOf(tangent, frame) || !(Norm(up) > 0.0)) return false;
    toward = std::remainder(RollOf(frame, Unit(up)) - fit.rolls[q], 2.0 * M_PI);
    return true;
}

bool SmoothFitter::verticalOnsetRides(double kept, double ride) {
    return ride <= kept + kStepRollOnsetNoise ||
           (!fit.hold.empty() &&
            ride <= kOnsetBoundFactor * DrawnFeltVerticalOnset(loaded, spacing) + kOnsetTryMargin);
}

std::optional<size_t> SmoothFitter::dippingLevelEnd() {
    const FeltVertical keptVertical = keptVerticalReading().felt;
    const size_t last = fit.places.size() - 1;
    const bool atEnd =
        keptVertical.lowestAt >= fit.places[last - 1] && loaded.back().drawnUp.y > kLevelUnbanked;
    const bool atStart = !atEnd && keptVertical.lowestAt <= fit.places[1] &&
                         loaded.front().drawnUp.y > kLevelUnbanked;
    if (!(atStart || atEnd) ||
        !(keptVertical.lowest < DrawnFeltLowest(loaded, spacing) - kEndCurveTryMargin)) {
        return std::nullopt;
    }
    return atEnd ? last : 0;
}

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
void SmoothFitter::turnStepRolls(const std::vector<size_t>& which,
                                 const std::vector<double>& towards, bool holdVertical,
                                 double drawnGap, double bound) {
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
                  after.largest <= kept.largest + kStepRollFelt && after.squares <= start.squares &&
                  (after.largest <= kept.largest || after.squares <= kept.squares) &&
                  (after.onset <= kept.onset + kStepRollOnsetNoise || after.onset <= bound))) {
                return false;
            }
            const VerticalReach vertical = VerticalReachOf(loaded, spacing, heartline, turned);
            if (holdVertical && (vertical.feltTop > keptVertical.feltTop + kStepRollFelt ||
                                 vertical.feltBottom < keptVertical.feltBottom - kStepRollFelt)) {
                return false;
            }
            turnedGap = std::max(after.Gap(), vertical.Gap());
            taken = turnedGap < keptGap - kStepRollGain || (within && vertical.Gap() <= target);
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
}

void SmoothFitter::turnAboutSteps(std::vector<double>& turnedPlaces,
                                  const std::vector<CurveStep>* first) {
    for (int round = 0; round < kStepRollRounds; ++round) {
        if (leans || !solved || !(best.distance <= kHeldStray) ||
            !(keptFeltLateral().Gap() > kGapTolerance - kStepRollGapMargin)) {
            break;
        }
        const FeltLateral before = keptFeltLateral();
        const double drawnGap = drawnFeltLateral().Gap();
        const double gap = before.Gap();
        if (!(gap > drawnGap + kGapTolerance - kStepRollGapMargin)) break;
        const CurveStep* step = round == 0 && first != nullptr
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
        if (std::find(turnedPlaces.begin(), turnedPlaces.end(), step->at) != turnedPlaces.end()) {
            break;
        }
        turnedPlaces.push_back(step->at);
        const size_t k = NearestPlace(fit.places, step->at);
        chooseUpLike(recipe);
        const double half = 0.5 * kFeltWindow * step->speed;
        const D3 fore = loaded[sampleAt(step->at - half)].feltAcross;
        const D3 aft = loaded[sampleAt(step->at + half)].feltAcross;
        const double bound = kOnsetBoundFactor * drawnOnset + kOnsetTryMargin;
        // First the vertex nearest the step, towards the force summed
        // across it.
        double toward = 0.0;
        if (turnToward(k, fore + aft, toward)) turnStepRolls({k}, {toward}, false, drawnGap, bound);
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
                turnStepRolls({prev, next}, {towardPrev, towardNext}, true, drawnGap, bound);
            }
        }
    }
}

void SmoothFitter::turnAtStep(bool pastLean) {
    if (!solved || !(best.distance <= kHeldStray)) return;
    const double bound = drawnOnsetBound();
    const FeltLateral& kept = keptFeltLateral();
    const CurveStep* step = kept.onset > bound
                                ? NearestStep(steps, missedSteps, kept.onsetAt, kStepRollReach)
                                : nullptr;
    const size_t k = step == nullptr ? fit.places.size() : NearestPlace(fit.places, step->at);
    if (step == nullptr || k == 0 || k + 1 >= fit.places.size() ||
        (pastLean && (withinLean(step->at) || reachesLean(fit.places[k - 1], fit.places[k + 1])))) {
        return;
    }
    chooseUpLike(recipe);
    const auto j = static_cast<size_t>(std::nearbyint(
        std::clamp(step->at / spacing, 0.0, static_cast<double>(loaded.size() - 1))));
    const D3 tangent = SteepBlend(fit.direction[k], RailTangentAt(samples, spacing, fit.places[k]));
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

double SmoothFitter::missOf(const FeltLateral& ride, const VerticalReach& reach) {
    const auto [gapBound, onsetBound] = heldBounds();
    const double gap = std::max(ride.Gap(), reach.Gap());
    return std::max(0.0, gap - gapBound) + std::max(0.0, ride.onset - onsetBound);
}

void SmoothFitter::turnLeanRolls() {
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
                        kept = missOf(after, reading.reach) < missOf(before, keptRead.reach) &&
                               after.largest <= before.largest && after.squares <= before.squares &&
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

bool SmoothFitter::inLean(double at) {
    for (size_t k = 0; k + 1 < leanSpans.size(); k += 2) {
        const double reach = 0.5 * (leanSpans[k + 1] - leanSpans[k]);
        if (at >= leanSpans[k] - reach && at <= leanSpans[k + 1] + reach) return true;
    }
    return false;
}

}  // namespace cvqrn::smooth
