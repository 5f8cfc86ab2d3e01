// The riders' up direction along the loaded path: chosen from the felt force
// and the loaded banking, smoothed, eased into and out of lateral steps, its
// roll rate limited and its felt lateral capped; the lean through a loop's
// vertical, and the speed, rail tangent and up read at any arc length.
#pragma once

#include <vector>

#include "heartline/smooth_math.h"
#include "heartline/smooth_path.h"

namespace cvqrn::smooth {

// Along the path, the up direction turns from the loaded banking towards the
// felt direction by a share that grows with the felt force along the up
// direction so far: full where the riders are pressed into their seats, none
// in airtime, so that a crest never turns them over.
void ChooseUpDirections(std::vector<PathSample>& samples);

// Three running means of 2 r + 1 samples over the up directions (a close
// Gaussian of standard deviation spacing x sqrt(r (r + 1))), each direction
// then put back across its tangent. Near the ends the windows shrink.
// With `byForce` each up weighs as the felt force that presses the riders
// along it (at least 1 g), so that the mean leans towards where the force is
// strong (see LeadIntoLateralSteps).
void SmoothUpDirections(std::vector<PathSample>& samples, int radius, bool byForce = false);

// The felt lateral force (g) on the riders under `up` at a sample.
double LateralUnder(const PathSample& sample, const D3& up);

// The drawn track's largest felt lateral onset (g/s), its felt values
// averaged over `window` seconds: what the lead into lateral steps and the
// bank eased at them are held to. It depends on the loaded path alone, so a
// rebuild works it out once for every choice of the up.
double DrawnLateralOnset(const std::vector<PathSample>& samples, double spacing, double window);

// Where a drawn curvature steps in, the lateral force steps with it while the
// smoothed up turns evenly around the step: halfway there the riders take
// most of the new turn's force sideways (4.7 g turned in 78 degrees of bank:
// 3.0 g raw just past the step, 0.6 g the other way before it), for less than
// the felt window, so the raw lateral stands far above the felt one. Smoothed
// with each up weighted by the force (`weighted`), the up at the step is the
// direction of the mean force, which splits the step evenly about zero
// lateral (0.9 g either way there). So wherever the raw lateral under the
// smoothed up stands more than kStepGapMargin further above the largest felt
// lateral (averaged over `window` seconds) than on the drawn track, the up is
// blended into the weighted one over the means' reach to either side, eased
// in by three running means of `radius` samples.
// Where the heart rides further from the rail (`anywhere` false), only at the
// loaded path's curvature steps `steps` (arc lengths, see StepsToLeadInto):
// the samples that stand out within a felt window of such a step, where the
// weighted up lowers the largest raw lateral there by more than
// kStepGapMargin, blended over a felt window to either side, eased in over a
// third of it. A flat turn stepping in from a straight (random case_083,
// heartline 0.51 m, 4.6 g at 26 m/s) was otherwise rolled only 38 degrees of
// the 66 that split the step evenly: 3.25 g raw lateral just past it against
// 2.2 g felt at most, 0.4 g beyond the drawn track's gap and its tolerance.
void LeadIntoLateralSteps(std::vector<PathSample>& samples, const std::vector<PathSample>& weighted,
                          double spacing, double window, int radius,
                          const std::vector<double>& steps, bool anywhere, double heartline,
                          double drawnOnset);

// At a step the up may lead into (`steps`, see StepsToLeadInto) the smoothed
// up banks the riders halfway between the two sides' felt directions. Where
// the drawn vertical force changes there with the lateral (a valley ending
// where a flat turn begins), that bank turns the vertical change sideways,
// and the lateral force steps by more than on the drawn track (random
// case_027, heartline -1.37 m: a 2.9 g valley into a 2.5 g flat turn, banked
// 14 degrees at the step, stepped by 3.0 g against the drawn 2.5 g, a lateral
// onset of 16.2 g/s against 12.7). So where the felt lateral onset under the
// chosen up within a felt window of such a step passes kLeadOnsetFactor x
// the drawn track's largest (`drawnOnset`), the up is turned towards the
// drawn one: fully within half a felt window of the step, eased out by three
// running means of half a window, by the least share (bisected) that brings
// the onset within that bound, or the whole way where that lowers it but
// not so far. The roll-rate limit after it keeps the turn within what the
// segments can carry.
// With `holdFelt` (close to the rail, where the up leads into the
// force-weighted one wherever the raw lateral stands out) the turn is held,
// by bisection, to the share that leaves no felt lateral within the stretch
// more than kCapFeltMargin above the track's largest under the chosen up:
// there the drawn up lies far from the led one, and the whole turn gave the
// riders up to 1 g more felt lateral (random case_147, heartline 0 m).
void EaseBankAtSteps(std::vector<PathSample>& samples, double spacing, double window,
                     const std::vector<double>& steps, double drawnOnset, bool holdFelt);

// Where the segments must stay short (a drawn curvature flip, see
// BendLimits), the eased roll cannot carry a fast roll: its curvature error
// on the heart is about kRollLengthFactor x (roll rate) x h / (segment
// length), in g that times v^2 / g. So the roll in the level frame is held
// below the rate at which a segment of the longest length there keeps that
// error below `curvatureError`: a forward and a backward limiter at that
// rate, averaged (a step becomes a ramp centred on it), and the correction
// smoothed over `easeRadius` samples by three running means so that the
// ramp's ends ease in. Not where the path runs steep: there the level frame
// spins and the segments follow it (see PlaceVertices).
void LimitRollRate(std::vector<PathSample>& samples, double heartline, double curvatureError,
                   const std::vector<double>& longest, int easeRadius);

// The smoothing and the roll-rate limit above can take a short, hard turn's
// banking away: the riders then feel the turn's force sideways, more than
// the drawn track ever gives them. So wherever the chosen up leaves more
// felt lateral than the drawn track's largest (its lateral averaged over
// `window` seconds of travel, as the riders feel it), the up is turned
// towards the felt direction until the lateral is that largest: the turn
// eased in and out by three running means of `easeRadius` samples (over a
// correction first widened by their reach, so that it still reaches the
// peak), then held within the bound sample by sample. Only within windows
// where the chosen up's averaged lateral passes the bound by kCapFeltMargin:
// elsewhere the riders feel no more than the drawn track gives them. Where
// the felt force points away from the riders' up (airtime) nothing turns:
// the drawn banking stays, and turning would press them into their straps.
// The same turn also keeps the felt vertical within kCapVerticalMargin of the
// drawn track's lowest, where the chosen up tips the riders away from a force
// that presses them into their seats on the drawn track.
// The bound may be held `below` (g) under that largest: a rail fitted under
// the capped up can ride more felt lateral at a hard turn's peak than the
// loaded path does under the same up (see FitSmooth).
void CapFeltLateral(std::vector<PathSample>& samples, double spacing, double window, int easeRadius,
                    double below = 0.0);

// The train's speed at the sample nearest to arc length s.
double SpeedAt(const std::vector<PathSample>& samples, double spacing, double s);

// Whether arc length s lies where the riders lean through the vertical.
bool InLean(const std::vector<PathSample>& samples, double spacing, double s);

// The chosen up direction at arc length s, across `tangent`.
D3 UpAt(const std::vector<PathSample>& samples, double spacing, double s, const D3& tangent);

// The tangent of the rail that puts every heart on the loaded path under the
// chosen up directions (rail = heart - h up), per metre of the loaded path,
// by central differences. The
// rail targets take their level frame from it rather than from the rail of
// the last round: near the vertical the frame turns fast with the slightest
// change of the rail's tangent, and a frame taken from the rail just fitted
// would feed every error of the fit back into the next.
void SetRailTangents(std::vector<PathSample>& samples, double heartline);

// Where the rail passes through the vertical in the plane of a loop, its level
// frame turns over by half a turn about the tangent, as fast as the rail's
// sideways slope is small: on a loop drawn in one plane the turn is all but a
// jump, which the file's eased roll cannot follow. So around each such
// crossing the riders lean a little out of the loop's plane, the way that
// moves the rail sideways along a smooth bump, y(u) = A u (1 - u^2)^3 (C2 at
// its ends): its slope at the crossing gives the rail the sideways share
// kCrossingSlope, and the frame's turn is spread over a few metres, at a
// roll per segment the eased roll follows (the segments there are placed
// for it, see PlaceVertices). The lean costs lateral force: on the builder's
// loop under a g felt against a drawn 1.8 g, where the frame's turn within a
// metre had left the heart wiggling by up to 26 g raw. Where `onsetBound`
// (g/s) is finite, each lean is held so that the felt lateral onset it gives
// the riders, their lateral averaged over `window` seconds, stays within it.
// True where it leaned the riders anywhere.
bool LeanThroughVertical(std::vector<PathSample>& samples, double heartline, double spacing,
                         double window, double onsetBound);

// That tangent at arc length s.
D3 RailTangentAt(const std::vector<PathSample>& samples, double spacing, double s);

// The tangent whose level frame a rail target uses: the rail's own, turned
// towards the one it should have as the rail nears the vertical.
D3 SteepBlend(const D3& rail, const D3& ideal);

// The tangent `ideal` turned about the vertical so that its level frame, under
// `roll`, gives the riders' up `up`. Near the vertical a small turn of the
// tangent turns its level frame a lot: so the rail takes up what the file's
// eased roll between the vertices misses of the roll the riders need, while
// its points move by a fraction of a millimetre.
D3 NeededTangent(const D3& ideal, const D3& up, double roll);

}  // namespace cvqrn::smooth
