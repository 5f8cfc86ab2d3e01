// Where the new vertices go: placed along the loaded path by how fast the
// roll moves, moved onto the drawn curvature steps, and placed again where a
// fit lets the hearts stray, jolts or wobbles.
#pragma once

#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "heartline/smooth_math.h"
#include "heartline/smooth_path.h"
#include "heartline/smooth_rail_fit.h"
#include "heartline/smooth_readings.h"

namespace cvqrn::smooth {

// Arc lengths of the new vertices along the loaded path. Between vertices
// the file eases the roll so that its rate wavers and its acceleration jumps
// at every vertex; on the heart that is a curvature error of about
// (roll rate) x h / (segment length), so where the roll turns, segments are
// made long enough to keep it below `curvatureError` at the train's speed.
// The rest of the budget goes where the roll stands still, evenly, and the
// lengths run from the one to the other by at most kSegmentGrading per metre.
// No segment is longer than `limit` at any of its samples (see RefineLimits).
// No segment is shorter than the file's rounding can shape (see
// ShortestShapedSegment), except on a track with a loop's lean, whose
// segments the lean sets: where the budget has more segments than that
// allows, fewer are placed. (The budget's extra segments went where the
// rounding allowed them, through the loop, and rode it worse.) With
// `limitLean` the segments through a lean are no longer than `limit` either
// (see FitSmooth: the last try where no other fit holds the hearts). Between
// arc lengths `windowFrom` and `windowTo` the segments where the roll turns
// are made long enough for the eased roll's error as measured
// (kMeasuredRollFactor), up to one felt window of path, inside which the
// wobble per segment averages out (see FitSmooth: a refit where the kept
// rail's felt onset is high). With `leanGrade` the segments through a lean
// are graded (see kLeanGrades); with `leanScale` they are that many times
// their length (see kLeanScales).
std::vector<double> PlaceVertices(const std::vector<PathSample>& samples, double length,
                                  int segments, double spacing, double heartline,
                                  double curvatureError, const std::vector<double>& limit,
                                  bool limitLean, double windowFrom = 0.0, double windowTo = -1.0,
                                  int leanGrade = 0, double leanScale = 1.0);

// The longest segment at each sample that a cubic rail can follow within
// kBendStray of the loaded path: over a segment of length l whose path's
// curvature changes by dk (a turn that starts or ends inside it, as drawn
// turns do), the fit leaves about kBendFactor dk l^2. The change is taken as
// the curvature's variation over l centred on the sample, counting only its
// change across the path (along the path the curvature vector turns with the
// tangent even on a circle, which a cubic follows), for lengths halving from
// the track's. Not where the path runs steep: there the segments follow the
// level frame's spin (see PlaceVertices).
std::vector<double> BendLimits(const std::vector<PathSample>& samples, double length,
                               double spacing);

// The walk index of the loaded path's vertex at exactly arc length s (the
// last walk point of the segment before it), or 0 where none is there.
size_t LoadedVertexAt(const PathWalk& walk, double s);

// The loaded path's curvature before minus after its vertex at walk index k.
D3 CurvatureJumpAt(const PathWalk& walk, size_t k);

// A vertex of the loaded path where its curvature steps: a drawn straight
// running into a circle, or an S-bend drawn as two arcs.
struct CurveStep {
    double at = 0.0;     // arc length
    double force = 0.0;  // the step, g at the train's speed
    double speed = 0.0;  // m/s
};

// The loaded path's vertices whose curvature steps by more than kLeastCurveStep,
// the largest first; not where the path runs steep or leans through a loop
// (there the spin and the lean set the segments). With `steepest`, where the
// path runs up to that steep too. With `within`, the vertices that follow a
// vertex within that many metres step with it, at its place, where together
// they step further than any of them alone: a drawn segment that short is no
// more than a step to the samples and to the felt window.
std::vector<CurveStep> CurveSteps(const PathWalk& walk, const std::vector<PathSample>& samples,
                                  double spacing, double steepest = 0.0, double within = 0.0);

// The index of the vertex of `places` nearest arc length s (the first of two
// as near).
size_t NearestPlace(const std::vector<double>& places, double s);

// The curvature step of `steps` or `missed` nearest arc length s among those
// `accepts(step, apart)` takes, `apart` being its distance from s (the first
// of two as near); null where none is.
template <typename Accepts>
const CurveStep* NearestStepWhere(const std::vector<CurveStep>& steps,
                                  const std::vector<CurveStep>& missed, double s,
                                  const Accepts& accepts) {
    const CurveStep* nearest = nullptr;
    for (const std::vector<CurveStep>* list : {&steps, &missed}) {
        for (const CurveStep& step : *list) {
            const double apart = std::abs(step.at - s);
            if (accepts(step, apart) && (nearest == nullptr || apart < std::abs(nearest->at - s))) {
                nearest = &step;
            }
        }
    }
    return nearest;
}

// The curvature step of `steps` or `missed` nearest arc length s, within
// `reach` metres of it; null where none is.
const CurveStep* NearestStep(const std::vector<CurveStep>& steps,
                             const std::vector<CurveStep>& missed, double s, double reach);

// The places of the curvature steps the up may lead into (see
// LeadIntoLateralSteps and kFlipLateral): the drawn lateral half a metre
// before or after the step below kFlipLateral, the riders pressed into their
// seats (kAirtimeHigh) on both sides.
std::vector<double> StepsToLeadInto(const std::vector<PathSample>& loaded,
                                    const std::vector<CurveStep>& steps, double spacing);

// Moves the new vertex nearest each curvature step onto it, the largest
// steps first. A cubic rail's curvature runs straight along a segment: a step
// inside one is smeared over it and overshot at both its ends, which rides
// as lateral onsets beyond the drawn track's wherever the segment is long
// against the felt window (random case_031, an S-bend at 22 m/s with 4.75 m
// segments at two and four times its count: 27 and 26 g/s against 21 drawn;
// with a vertex on the step, 21). On a vertex the rail takes the step up as
// a jump in its own curvature, or ramps across it (see FinishFit and
// StepRamps). The vertices behind it follow over kFlipTaper segments, those
// it moves towards over kStepTaperAhead: a
// segment shortened through a roll transition rides the eased roll's ripple
// (about 0.2 x roll rate x heartline / length, times v^2 / g), and its first
// lobe lands on the lateral step's peak just past the vertex (the family
// coaster at 400 segments: the segment past its 2.3 g step cut from 4.35 to
// 3.61 m over two segments, 1.79 g raw lateral against 1.09 g felt; over
// eight, 4.16 m and 0.58 g apart). Not the first or last two vertices (a short
// end segment leaves the hearts little to hold them), not a vertex already
// moved onto a step, nor where the vertices would change order.
// The segments on both sides of the step are then made at least
// kStepSideSegment felt windows long (see WidenBesideStep).
void AlignCurveSteps(const std::vector<CurveStep>& steps, std::vector<double>& places);

// Brings `places` to `count` vertices without touching the first two and
// last two, those at indices `held` to `held + heldCount - 1`, or a vertex
// moved onto a curvature step of `steps` (see AlignCurveSteps): while there
// are too many, the vertex whose neighbours are nearest each other is
// dropped where the merged segment stays within `limit` at every sample
// (merging where the segments are shortest keeps the longest no longer);
// while too few, the longest segment with no such vertex at either end is
// split in half. False where no vertex can go.
bool KeepVertexCount(const std::vector<PathSample>& samples, const std::vector<double>& limit,
                     const std::vector<CurveStep>& steps, size_t held, size_t heldCount,
                     size_t count, std::vector<double>& places);

// `places` with the vertex nearest each of `missed` moved onto it, the
// largest steps first; empty where none moves. A step inside a segment is
// smeared over it by the cubic rail and overshot at both its ends (random
// case_104, a drawn vertical step of 2.4 g on a 44-degree slope, drawn as
// two vertices 4 cm apart: at twice its segments, a vertex 0.9 m before it
// and the vertical onset 17.7 g/s against the target 16.1; on a vertex,
// 14.2). As AlignCurveSteps, only where the segment holding the step is at
// least kCurveStepSegment felt windows long, and not the first or last two
// vertices nor one already moved; without a taper, and only where the two
// segments beside the vertex keep at least half their lengths.
std::vector<double> OntoMissedSteps(const std::vector<CurveStep>& missed,
                                    std::vector<double> places);

// `places` with a vertex on both steps of each pair of `steps` closer together
// than the segment holding one of them, where one of the two has none: the
// vertices from two before the pair to two after it spread again, the pair's
// steps and any vertex already on a step held, the others placed so that the
// segments between the held ones are as even as they can be, one vertex more
// where the window has too few and the budget of `segments` has one left.
// Empty where none moves.
std::vector<double> OntoStepPairs(const std::vector<CurveStep>& steps, std::vector<double> places,
                                  size_t segments);

// Shortens the segments whose hearts stray more than kRefineStray: a cubic
// rail cannot follow a heart path that turns and rolls hard over a long
// segment (an S-bend taken at speed, banked at a metre of heartline), and
// the vertex placement makes the segments of such roll transitions long.
// The samples of every such segment are limited to the length BendLimits
// gives them and to a share of the segment's length that shrinks with the
// stray (as the fit's error does with the square of the length, see
// BendLimits). True if any was.
// With `scarce` (the budget cannot give every such segment the length asked
// for, so a segment may be placed longer than its limit, and the limits only
// weigh against each other) the limit also shrinks from the one it had, so
// that the segments that stray keep drawing vertices from those that hold.
bool RefineLimits(const RailFit& fit, const std::vector<Stray>& strays, double spacing,
                  const std::vector<double>& bendLimits, std::vector<double>& limit, bool scarce);

// The places of a fit's vertices with fewer of them where its segments jolt
// the riders: the lengthening counterpart of RefineLimits. At a high count the
// placement makes the segments through a roll reversal as short as the file's
// rounding allows (the roll rate that sets their shortest length passes zero
// there), and the finish, which holds every segment's fit points and the
// heart's curvature at its joins alike, leaves the hearts a few millimetres
// astray on them, which bends their path by several g: random case_177 at
// four times its segments strayed 2.5 to 5.8 mm on segments of 0.17 to
// 0.20 m at 16.6 m/s and jolted the riders by up to 7.7 g, with raw forces
// 1.9 g further above the felt ones than on the drawn track, where twice its
// segments rode clean. Each segment that jolts by more than kLengthenJolt
// where its stray bends the heart by more than kLengthenBend is merged with
// the next where that one does too, else with its shorter neighbour. Only on
// level stretches (through a climb the roll-rate flags and the level frame's
// spin set the lengths), and never dropping a vertex that lies on one of the
// loaded path (see AlignCurveSteps) or ends the track. The merged segments'
// extents go to `spans`; empty places where none is merged.
// With `wobble`, the segments merged are those the eased roll wobbles (see
// kWobbleJolt), each only with a neighbour that wobbles too, and none where
// it would leave a short segment beside a long one (see TaperBesideMerges).
std::vector<double> LengthenedPlaces(const PathWalk& walk, const std::vector<PathSample>& samples,
                                     double spacing, double heartline, const RailFit& fit,
                                     const std::vector<double>& jolts, bool wobble,
                                     std::vector<std::pair<double, double>>& spans);

// The hardest of `jolts` (per segment of `fit`) on the segments that overlap
// any of `spans`.
double HardestJoltWithin(const RailFit& fit, const std::vector<double>& jolts,
                         const std::vector<std::pair<double, double>>& spans);

// The places of `segments` + 1 vertices: those of a coarser fit, `coarse`,
// with the rest added where they do no harm. A segment is split into pieces
// of even length; the eased roll's curvature error on the heart grows as the
// pieces shorten where the roll turns, and so does the heart's kink at their
// joins where the rail also climbs or falls (see PlaceVertices), so the extra
// vertices go first where the roll stands still, each to the segment whose
// pieces are then the longest; only where the roll turns everywhere, to the
// segment whose pieces then err least. Where the rail runs steep or leans
// through a loop, the spin and the lean have set the segments' lengths:
// those are split only when no other segment is left, and so are the first
// and last segments (a short segment at an end leaves the hearts there
// little to hold them: case_015 at twice its segments strayed 10 cm at its
// end that way).
std::vector<double> SplitPlaces(const std::vector<double>& coarse, int segments,
                                const std::vector<PathSample>& samples, double spacing,
                                double heartline, double curvatureError, bool evenly);

// The arc lengths of the loaded path's vertices where its curvature steps by
// more than kLeastBreak g at the train's speed: a drawn track is made of
// pieces (straights, arcs, transitions) whose curvature runs smoothly, and a
// cubic rail follows one such piece far better than a stretch with a step
// inside, which its curvature, continuous across the joins, can only smear.
// A vertex exactly on a break lets the heart's curvature step with the path's
// there (see FinishFit). Where the path runs steep, breaks count too: random
// case_148's at 144 and 149 m lie on a 33-degree slope, and without them the
// track was refused at its own count.
std::vector<double> CurvatureBreaks(const PathWalk& walk, const std::vector<PathSample>& samples,
                                    double spacing);

// `places` with one vertex moved from where the hearts stray least to where
// they stray most (`strays` per segment): the segment that strays most is
// cut in two on a break within its middle half (the one nearest its middle),
// else its run of segments between vertices on breaks (or the track's ends)
// takes one more, all of even length, and the vertex whose two segments
// stray least (a vertex on a break counted kBreakHold times) is dropped,
// where those stray less than half as far as the one cut. Empty where no
// vertex is dropped. The error of a cubic fit shrinks with the square of the
// segment's length or faster, so shortening the worst segment buys more than
// merging two that hold with room to spare costs. Between breaks the path's
// curvature runs smoothly, and even segments there stray alike: halving the
// worst one alone left its neighbours, as long as it was, straying as far
// (random case_116 at 21 segments: a helix of 81 m between two breaks in
// segments of 27, 27, 13.5 and 13.5 m strayed 3.8 cm at the join of the two
// long ones; in four of 20.3 m, 1.4 cm).
std::vector<double> RebalancedPlaces(std::vector<double> places, const std::vector<Stray>& strays,
                                     const std::vector<double>& breaks, bool spread);

}  // namespace cvqrn::smooth
