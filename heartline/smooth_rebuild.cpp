// The smooth rebuild (see smooth_rebuild.h for its stages).
//
// Every number here is a double; the only roundings to single are the new
// vertices' coordinates and rolls, as the file stores them. Eigen runs without
// its vectorised kernels so that every build sums in the same order.
#define EIGEN_DONT_VECTORIZE
#define EIGEN_DONT_PARALLELIZE
#define EIGEN_MPL2_ONLY

#include "heartline/smooth_rebuild.h"

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <queue>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "geometry/bezier.h"
#include "heartline/banking.h"
#include "heartline/track_check.h"
#include "heartline/sampling.h"
#include "portable_math/portable_math.h"
#include "text/format.h"

namespace cvqrn {

namespace {

// Metres between the samples of the loaded path (at most; a short track with
// many segments is sampled more finely).
constexpr double kSampleSpacing = 0.25;
// Samples per new segment at the least (the dense walk's resolution).
constexpr int kSamplesPerSegment = 8;
// The longest loaded path (metres) the smooth rebuild takes: it keeps a
// sample every kSampleSpacing, about 200 000 of them here (some 100 MB with
// the fit's own), while a file's coordinates may put its ends 10^11 m apart,
// which asked for terabytes.
constexpr double kLongestSmoothTrack = 50000.0;
// Walk points per metre of control polygon when measuring the loaded path.
constexpr double kWalkPointsPerMetre = 20.0;
constexpr int kMinWalkPoints = 16;
constexpr int kMaxWalkPoints = 4000;
// The width (metres of arc length) of the buckets that narrow the search for
// a place on the walk (see PathWalk::bucket).
constexpr double kLocateBucket = 1.0;
// Felt force along the riders' up direction (g) below which the loaded
// banking is kept, and above which the felt direction is taken; in between
// the two are blended. Airtime never rolls the riders over.
constexpr double kAirtimeLow = 0.2;
constexpr double kAirtimeHigh = 0.6;
// The up direction is smoothed over this much travel time per filter pass
// (a standard deviation of filter x this x the mean speed, in metres), with
// running means at most this many samples to either side.
constexpr double kSmoothSecondsPerPass = 0.02;
constexpr int kMaxSmoothRadius = 100000;
// See kRefinedWay.
constexpr double kLeastSmoothing = 1.0;
constexpr double kLeastSmoothSeconds = 0.2;
// Vertex placement (see PlaceVertices): the factor of the heart's curvature
// error estimate and the longest segment as a share of the track (the error
// the segments are made long enough for is FitTuning::curvatureError).
constexpr double kRollLengthFactor = 0.2;
// Measured on the rebuilt rails, the eased roll's error between vertices is
// about 1.07 x (roll change per segment) / (segment length)^2 x h x v^2 / g of
// raw lateral (0.46 g predicted where 0.48 g was measured); the placement's
// kRollLengthFactor leaves most of it to the felt window to average out.
constexpr double kMeasuredRollFactor = 1.07;
constexpr double kMaxSegmentShare = 0.05;
// Where the segments must stay short, the roll in the level frame is held
// below the rate at which the eased roll's curvature error on the heart stays
// below this (g) over the longest segment there (see LimitRollRate), and the
// ramps that holds it to ease in and out over running means of this much
// travel time to either side at the mean speed (three of them: a standard
// deviation of about the same time).
constexpr double kRollRateError = 0.09;
constexpr double kRollEaseSeconds = 0.2 / 1.73;
// Where the chosen up leaves more felt lateral than the drawn track's
// largest, its turn back towards the felt direction eases in and out over
// running means of this much travel time to either side at the mean speed
// (see CapFeltLateral; shorter eases gave faster lateral onsets).
constexpr double kCapEaseSeconds = 4.0 * kRollEaseSeconds;
// The cap acts only within felt windows where the chosen up's lateral,
// averaged as the riders feel it, passes that largest by more than this (g):
// a lateral that passes it only for a moment (at a step in the drawn
// curvature, shorter than the window) is not felt, yet turning the up for it
// would roll the track over the whole ease, onto slopes and crests where a
// roll kinks the heart.
constexpr double kCapFeltMargin = 0.02;
// The cap also keeps the felt vertical, averaged as the riders feel it, at
// most this much (g) below the drawn track's lowest: a short turn the other
// way that the smoothing rolls over leaves the riders banked against it,
// their seats tipped away from the force.
constexpr double kCapVerticalMargin = 0.15;
// Where the heart runs this close to the rail (metres), the roll hardly moves
// the heart, so where a drawn curvature steps in the up direction may lead
// into the turn (see LeadIntoLateralSteps), and where the raw lateral under
// the smoothed up stands more than this (g) further above the felt maximum
// than on the drawn track, it does.
constexpr double kFreeRollHeartline = 0.1;
constexpr double kStepGapMargin = 0.2;
// Further from the rail the up leads into a turn only where the loaded path's
// curvature steps (see CurveSteps) from a lateral below kFlipLateral (g) on
// one side, with the riders pressed into their seats on both (a drawn turn
// stepping in from a straight, or out onto one), and only where the lead
// moves the rail by less than kStepRailMove (metres, the heartline times the
// turn of the up at the step): a rail swung further within the felt window
// bent the hearts at the step's vertex (random case_143, heartline -1.3 m:
// the raw vertical fell to -2.2 g there). Where the full lead would move the
// rail further, the up leads that share of the way, so that the rail moves
// by kStepRailMove, unless the turn there holds the track's largest felt
// lateral (within kLeadFeltMargin g of it): leading into it lowers the felt
// maximum with the raw one, and the raw lateral stands further above it
// (random case_012, a short 6.5 g turn 8 m from its start: 0.2 g beyond the
// drawn track's gap and its tolerance, from none).
constexpr double kFlipLateral = 0.5;
constexpr double kStepRailMove = 0.3;
constexpr double kLeadFeltMargin = 0.1;
constexpr double kLeadOnsetFactor = 1.1;
constexpr double kLeadOnsetMargin = 2.0;
constexpr int kLeadScaleRounds = 6;
// Where the kept rail's felt lateral onset still breaks the drawn track's
// bound at a drawn curvature step, the roll of the vertex on that step is
// turned towards the drawn up in parts of this share of the whole turn, at
// most kStepOnsetParts of them (see FitSmooth).
constexpr double kStepOnsetShare = 0.25;
constexpr int kStepOnsetParts = 4;
// Past a loop's lean, in finer parts: this share, at most
// kLeanStepOnsetParts of them (the same whole turn).
constexpr double kLeanStepOnsetShare = 0.05;
constexpr int kLeanStepOnsetParts = 20;
// The eased roll's acceleration jumps by pi^2 times the roll change per
// segment at every vertex (with the roll-rate flags set); on a slope that
// kinks the heart's direction (see PlaceVertices), and the kink is judged as
// the velocity it turns over the felt window (seconds).
constexpr double kKinkFactor = 9.8696044010893586;  // pi^2
constexpr double kFeltWindow = 0.2;
// Metres by which a segment's length may change per metre of track (see
// PlaceVertices): neighbouring segments differ by at most about a third.
constexpr double kSegmentGrading = 0.3;
// A vertex keeps the roll-rate flag (see KeepsRollRate) only where it needs
// it: beside a segment that runs steep. Where the rail beside it barely runs
// steep (Steepness below kFlagSteepness on both its segments), the two
// segments differ in length by more than kFlagLengthRatio and the shorter
// one is shorter than the felt window at the train's speed, the flag is
// dropped. The flag keeps the roll's rate per unit of parameter through the
// vertex, so per metre it jumps by the ratio of the lengths; the rail, whose
// joins are tangent-continuous, cannot take up the heartline times that
// jump, and the heart kinks (random case_040 at twice its segments: a 5.4 m
// segment met a 2.7 m one at the foot of a steep pull-out, the roll rate
// jumped from 2.4 to 3.6 degrees per metre and the heart kinked by about a
// degree; 4.3 g raw lateral against 1.9 g felt). Without the flag the roll
// eases into the vertex, as on every level stretch. Barely steep reaches up
// to about 40 degrees of slope: there the level frame hardly spins, and the
// roll needs no rate through the vertex to follow it (random case_040 at its
// own count: a 7.0 m segment rising to 34 degrees met a 3.5 m one at the foot
// of the pull-out, the roll rate jumped from 1.8 to 3.5 degrees per metre
// and the heart kinked by 1.6 degrees, 0.1 g raw lateral beyond the drawn
// track's gap and its tolerance; without the flag 0.02 g).
constexpr double kFlagSteepness = 0.1;
constexpr double kFlagLengthRatio = 1.5;
// Rounds of false position that close in on the even segment length before
// the bisection that settles it (see PlaceVertices).
constexpr int kFalsePositionRounds = 16;
// Segments, over all the fits kept at one count to be taken again where the
// same fit is asked for (see FitSmooth): about 50 MB.
constexpr size_t kKeptFitSegments = 200000;
// The file keeps the new vertices' points and handles in single precision,
// each rounded by up to this share of its largest coordinate. Over a
// segment of length l that bends the rail by up to kRoundingBend x rounding
// / l^2, and where the rail climbs or falls it turns the rail's level frame
// about the tangent with the handles' direction, which moves the heart and
// bends its path by up to kRoundingTwist x h x slope x rounding / l^3 (see
// ShortestShapedSegment). Segments are kept long enough for that bend to
// stay under kRoundingError (g) at the train's speed: the raw forces may
// stand half a g above the felt ones beyond the drawn track's.
constexpr double kSingleRounding = 5.9604644775390625e-08;  // 2^-24
constexpr double kRoundingBend = 24.0;
constexpr double kRoundingTwist = 48.0;
constexpr double kRoundingError = 0.5;
// Newton steps that find that length.
constexpr int kShapedLengthSteps = 40;
// Near the vertical the rail's level frame spins about the tangent and the
// vertex rolls must follow it: radians of spin one segment may span at most.
constexpr double kMaxSpinPerSegment = 2.0;
// Through a loop (see LeanThroughVertical): the rail's sideways share of its
// tangent asked for where it passes the vertical; the half width of the lean
// in metres per unit of that share over the rate (per metre) at which the
// tangent's share in the loop's plane passes zero; the largest lean
// (radians); the metres either side of the crossing over which that rate is
// measured. The segments through a lean are this share of its half width
// long whatever the budget, and the segments beside it run towards that
// length by at most this many metres per metre.
constexpr double kCrossingSlope = 0.3;
constexpr double kLeanWidth = 3.0;
constexpr double kLargestLean = 0.5;
constexpr double kCrossingBaseline = 1.0;
constexpr double kLeanSegmentShare = 0.4;
constexpr double kLeanGrading = 0.3;
// Where a fit with a lean still misses its gap or onset bound (see
// FitSmooth), the lean's segments are graded instead by the eased roll's
// swing at each vertex (see PlaceVertices): their lengths follow v^2 times
// the roll's rate, raised to the power 2^-g for each g of kLeanGrades (the
// square root and the fourth root), and no shorter than the lengths at
// kLeanFloor of its largest.
constexpr std::array<int, 2> kLeanGrades = {1, 2};
constexpr double kLeanFloor = 0.1;
// Where no grade helps, the lean's vertices are moved together along it by
// these shares of a lean segment (the vertices beside it follow over
// kFlipTaper of a segment, as for a crossing), and its segments made these
// many times their length (see FitSmooth).
constexpr std::array<double, 4> kLeanShifts = {-0.25, -0.125, 0.125, 0.25};
constexpr std::array<double, 2> kLeanScales = {0.9, 1.1};
// Where that still leaves a miss, the finish holds the riders' raw lateral
// on the segments beside the lean's vertices at points kDenseStep (m) apart
// within kDenseBand (g) of the kept rail's felt lateral, with each of
// kDenseWeights (metres per g) in turn (see FitSmooth).
constexpr double kDenseStep = 0.1;
constexpr double kDenseBand = 1.0;
constexpr std::array<double, 3> kDenseWeights = {0.005, 0.01, 0.02};
// Where the lean leaves the rail so little sideways share at the crossing
// that its level frame turns over (from a quarter to three quarters of its
// half turn) within this share of a lean segment, the segment there is
// centred on the crossing, and the vertices beside the lean follow it over
// kFlipTaper segments.
constexpr double kFlipShare = 0.5;
constexpr double kFlipTaper = 2.0;
// Where a fit with a lean still misses its gap or onset bound once its
// placement is kept, each lean vertex's roll is turned by this much (radians)
// either way, over up to this many passes along the lean (see FitSmooth).
constexpr double kLeanRollTurn = 0.05;
constexpr int kLeanRollRounds = 2;
// The lean's vertex-roll turns and the dense raw-lateral finish (see
// FitSmooth) change only the kept rail's rolls and finish, never its places
// or its way: a finer count takes them up only where it keeps the coarser
// count's fit as it stands. So they run at the asked count and at the
// kLeanFinishCounts - 1 coarser ones below it. (The builder's loop at 400
// segments keeps the fit made at 100 as it stands, through 200.)
constexpr int kLeanFinishCounts = 3;
// Where the loaded path's curvature steps at one of its vertices by more
// than kLeastCurveStep (g at the train's speed), a new vertex is moved onto it if
// the segment holding it is at least kCurveStepSegment felt windows long
// (see AlignCurveSteps); its neighbours behind it follow over kFlipTaper
// segments, those it moves towards over kStepTaperAhead.
// Where the step is at least kStepSideForce, the two segments beside such a
// vertex are then at least kStepSideSegment felt windows long, taking the
// length from the kStepSideTaper segments beyond each.
constexpr double kLeastCurveStep = 2.0;
constexpr double kCurveStepSegment = 0.6;
constexpr double kStepTaperAhead = 8.0;
constexpr double kStepSideForce = 4.5;
constexpr double kStepSideSegment = 1.0;
constexpr int kStepSideTaper = 4;
// Curvature steps the placement leaves without a vertex (see
// OntoMissedSteps): those on slopes up to this steepness (see Steepness),
// short of where the level frame spins fast, and those drawn as vertices
// closer together than the samples. A fit with vertices moved onto them is
// kept where the riders feel no more lateral for it: its largest no higher,
// its squares no more than kMissedStepSquares times as many and its onset no
// more than kMissedStepOnset (g/s) higher.
constexpr double kMissedStepSteepness = 0.5;
constexpr double kMissedStepSquares = 1.005;
constexpr double kMissedStepOnset = 0.35;
// A vertex moved onto a drawn step the placement left inside a segment (see
// FitSmooth, after the end steps' refit) moves its neighbours with it where
// that keeps every segment at least this share of its length.
constexpr double kStepMoveShare = 0.5;
// Steps closer together than a segment (see OntoStepPairs): a fit with a
// vertex on each is kept where its largest felt lateral rises by no more
// than this (g), the noise of refitting the whole rail, and its squares not
// at all. The two ends of a short valley (random case_159, two 3.7 g steps
// 3.9 m apart at 23 m/s, 6 m segments) with one vertex between them rode as
// a triangle peaking at 5.7 g raw and strayed 1.5 cm; with a vertex on each,
// 4.7 g and 0.6 cm, its largest felt lateral 2e-9 g higher elsewhere.
constexpr double kStepPairLargest = 1e-4;
// Rail fit: rounds of fitting (each moves the frame the next one uses).
constexpr int kFitRounds = 2;
// Weight of the rows that ask the rail's second derivative at both ends of a
// segment to be the one the heart needs there, against a fit point's one: the
// heart's curvature then runs on across the joins.
constexpr double kCurveWeight = 0.5;
// Parameter step of the differences that give those second derivatives.
constexpr double kCurveStep = 1e-3;
// Weight of the pull of every vertex direction towards the loaded path's
// direction there, against a fit point's weight of one.
constexpr double kDirectionPull = 1e-3;
// Near the vertical (where the horizontal share of the rail's tangent falls
// from kSteepHigh to kSteepLow) the rail targets take their level frame more
// and more from the tangent the rail should have rather than from the rail of
// the last round, and the vertex directions are pulled towards that tangent
// with up to this weight: there the frame turns fast with the slightest change
// of the rail, and a frame taken from the rail just fitted would feed every
// error of the fit back into the next, while short segments leave their
// directions barely held by their points.
constexpr double kSteepLow = 0.2;
constexpr double kSteepHigh = 0.9;
constexpr double kSteepPull = 1.0;
// There the rail's tangent is also asked, with up to this weight, to turn the
// level frame so that the roll the file gives between the vertices puts the
// riders' up where it was chosen (see NeededTangent).
constexpr double kTangentWeight = 100.0;
// The least horizontal share of the rail's tangent where the loaded path runs
// straight up or down.
constexpr double kLeastLean = 3e-3;
// NeededTangent: the turn (radians) of the difference that gives the roll's
// rate of change with the turn, the least such rate at which a turn is taken
// (a level tangent's frame does not turn its roll), and the largest turn.
constexpr double kTurnStep = 1e-3;
constexpr double kLeastTurnRate = 0.3;
constexpr double kLargestTurn = 0.5;
// The finish (see FinishFit): Levenberg-Marquardt steps at most, the weight
// of a fit point's offset along the loaded path against its offset across
// (the parameter may slide along the path), the metres of heart offset one g
// of curvature jump at a join weighs as, the first damping, the tries per
// step, a floor that keeps the damped system definite, and the relative
// step of the differences that give the Jacobian.
constexpr int kFinishSteps = 3;
constexpr double kAlongWeight = 0.1;
// The weight of the fit points at the track's two ends, across and along
// (see kRefinedWay).
constexpr double kEndWeight = 3.0;
// Near the vertical also the heart's direction, in metres per radian.
constexpr double kHeartDirectionWeight = 0.3;
constexpr double kJoinWeight = 0.02;
// Through a loop's lean the joins hold the heart's direction instead, in
// metres per radian of kink (see PushJump).
constexpr double kLeanKinkWeight = 0.15;
// At every kInnerStride-th fit point and at both ends of every join, the
// heart's curvature is held to the loaded path's (FitTuning::curveWeight;
// through a lean this share of it).
constexpr int kInnerStride = 2;
constexpr double kLeanCurveShare = 0.5;
// Radians of vertex roll change over a segment above which the roll counts as
// turning there (see SlopeCurveShare).
constexpr double kTurningRoll = 1e-3;
constexpr double kInitialDamping = 1e-3;
constexpr int kDampingAttempts = 6;
constexpr double kDampingFloor = 1e-12;
constexpr double kJacobianStep = 1e-7;
// Metres the heart may stray from the loaded path before the smooth rebuild
// gives up on a track rather than write a rail that does not hold it: the
// 2 cm a heartline tool promises, less half a millimetre. The fit measures
// the stray at its points against the loaded path itself; the ride profile
// measures it at samples 0.25 m apart against the polyline of the loaded
// path's samples, whose chords cut inside a curve, and read 2.05 to 2.1 cm
// on rails the fit had held within 2 cm.
constexpr double kLargestStray = 0.0195;
// How many steps either way ToSingleOnLine slides a point along its line,
// and how far at most, as a share of the shorter handle beside it: a handle
// a thousandth longer or shorter changes the rail's curvature by no more
// than the file's rounding already does on short segments.
constexpr int kSlideSteps = 64;
constexpr double kSlideReach = 1e-3;
// A stretch of the loaded path counts as drawn in one upright plane where
// every point and handle of its segments lies within kPlaneRoundings times
// the file's rounding (kSingleRounding of the largest coordinate) of one,
// and its points span at least kLeastPlaneSpan metres across the level.
constexpr double kPlaneRoundings = 4.0;
constexpr double kLeastPlaneSpan = 1.0;
// Metres over which a rail put in such a plane eases back to the fitted one
// where a vertex is left as fitted (see KeepInDrawnPlanes).
constexpr double kPlaneEase = 2.0;
// Radians of vertex roll under which a rail in such a plane is taken to run
// without roll: a heart a metre above or below the rail moves across the
// plane by no more than a millimetre.
constexpr double kPlaneRoll = 1e-3;
// In such a plane only the rounding across it moves the riders sideways, and
// a handle slides up to kPlaneSlideShare times as far, in up to
// kPlaneSlideSteps steps (about 70 units in the last place), to find where
// rounding leaves it in the plane: a handle a hundredth longer or shorter
// changes the rail's curvature in the plane at its vertex by up to two
// hundredths of itself. On random case_129 and case_196 at four times their
// segments (handles of 3 to 4 cm), with the rail already in its plane, the
// felt lateral RMS fell from 0.0017 and 0.0016 g to 0.0004 and 0.0008 g.
// More steps slid the long handles of case_025 (2 m) by up to 2 mm, which
// raised its vertical onset by 0.07 g/s.
constexpr int kPlaneSlideSteps = 192;
constexpr double kPlaneSlideShare = 10.0;
// Metres apart the points lie at which a rail's stray is checked before it
// is kept, half the ride profile's sample spacing. The fit points of a long
// segment lie up to a metre apart: on a 7.6 m straight at 37 degrees down
// (case_040, 175 segments) the hearts strayed 1.91 cm at them and 2.00 cm
// between them.
constexpr double kStrayCheckStep = 0.125;
// Metres a segment runs on average beyond which a refusal for straying hearts
// names the segment budget as the likelier cause: tracks refused at 14 to 28
// segments of 13 to 20 m on average held at twice the count.
constexpr double kLongSegmentHint = 8.0;
// Metres the heart may stray, the promise of the rebuild: a fit through a
// loop's lean that breaks it gives way to one without the lean that keeps
// it, and a fit that breaks it is fitted again (see kRefinedWay); one that
// keeps it is written as it is.
constexpr double kHeldStray = 0.0195;
// The felt onset (g/s) a rebuild is held to: this share of the drawn track's
// plus this margin. The rebuild's own estimate of both reads a few percent
// low, so a refit for the onset (see FitSmooth) is tried from this margin
// instead (case_073 at its own count: 0.16 g/s beyond the bound, its estimate
// below it).
constexpr double kOnsetBoundFactor = 1.1;
constexpr double kOnsetTryMargin = 0.5;
// The shares of the filter's smoothing reach the shorter smoothings keep,
// and how much (g) lower the felt lateral RMS must come for one to be kept.
// The further shares are tried only while the kept rail's RMS still stands
// above the drawn track's: random case_043 at four times its segments kept
// 0.007 g above it at half the reach and came within 0.001 g at a quarter.
// Random case_139 at twice its segments (an S-turn banked by hand over about
// the smoothing's reach) still kept 0.0011 g above it at a quarter and came
// below it at a tenth; case_043 at four times its segments kept 0.0005 g
// above it at a quarter and came below it at 0.15, its largest and RMS both
// lower.
constexpr std::array<double, 2> kShortSmoothShares{0.75, 0.5};
constexpr std::array<double, 4> kShorterSmoothShares{0.35, 0.25, 0.15, 0.1};
constexpr double kShortSmoothGain = 0.001;
// How far (g) a shorter smoothing that brings the felt lateral RMS within the
// drawn track's may ride its largest felt lateral above the kept rail's or
// the drawn track's, where none rides no worse (see FitSmooth).
constexpr double kRmsTradeLargest = 0.02;
// How far (g) a shorter smoothing's raw lateral may stand above its felt one
// beyond the drawn track's, where that is more than the kept rail's: a
// tenth of what a rebuild may add. The rebuild reads a rail's largest raw
// and felt lateral within about 0.05 g of the ride profile's figures, and
// held to the drawn track's gap alone random case_181 at four times its
// segments kept 0.09 g of lateral RMS above the drawn track's.
constexpr double kShortSmoothGapMargin = 0.1;
// How far (g) a refit's largest raw lateral may stand above the kept rail's
// where its gap grows only because its felt lateral falls: the raw largest
// far from the refitted vertices moves by the fit's noise alone.
constexpr double kPacedRawMargin = 0.01;
// How far (g/s) within the drawn track's bound the kept rail's felt onset
// may read and still be paced: the rail's onset read on the loaded samples
// and the ride profile's differ by about this much (random case_032 at twice
// its segments read 11.86 g/s against a bound of 11.87 and rode 0.01 g/s
// beyond it).
constexpr double kPacedNearMargin = 0.1;
// The shares of a felt window's path the vertices about a lateral onset are
// paced at, in turn (see FitSmooth): paced a whole window apart random
// case_073 at four times its segments came within its bound only by riding
// 0.05 g more lateral at most; at three quarters, within it by 0.5 g/s and
// 0.01 g less. The shorter shares are tried at the kept count alone: at the
// fewer vertices pacing frees, random case_034 at four times its segments
// kept the dense vertices of a rolling slope beside paced segments 19 times
// their length.
constexpr std::array<double, 2> kPacedWindowShares{1.0, 0.75};
// Where pacing frees vertices, the paced steps towards the kept vertices
// either side of the stretch grow from the kept segment beyond by at most
// this much (metres per metre): each step at most 1.3 times the next one
// closer to them. (Paced a window apart up to them, random case_034 at four
// times its segments met its 1.5 m segments with paced ones 21 times their
// length.)
constexpr double kPacedGrading = 0.3;
// How far (s) either side of a lateral onset the vertices are paced where
// pacing them over kOnsetRefitSeconds made no rail that holds the hearts
// without jolting: about two felt windows, the roll's turn at the onset
// alone. (Random case_086 at twice its segments: paced over a second, the
// vertices given up elsewhere merged a spiral of 13.6 m radius into one
// 101.7 m segment and the rail strayed, its lateral onset left 0.63 g/s
// beyond the bound; paced over 0.4 s, within it and 0.01 g less lateral.)
constexpr double kPacedRollSeconds = 0.4;
// The bound's own margin (g/s), which the evaluation of a rebuild holds it to.
constexpr double kOnsetBoundMargin = 1.0;
// How clearly within the drawn track's felt lateral a refit for the onset
// keeps where it rides more than the fit it replaces: its largest this much
// (g) below the drawn track's, its RMS no more than this share of the drawn
// one's. The rebuild's estimates of both read the drawn track's no more than
// 0.1 g and 5 % above the ride profile's figures (measured over 200 random
// layouts), and a rail's within 0.05 g and 5 % of them, so such a refit
// keeps within the drawn track's largest and RMS.
constexpr double kDrawnLargestMargin = 0.1;
constexpr double kDrawnRmsShare = 0.9;
// The raw-to-felt gap a rebuilt rail may add to the drawn track's (g): where
// the kept rail comes within kStepRollGapMargin of it at a drawn curvature
// step (within kStepRollReach metres), the roll of the vertex there is turned
// kStepRollShare of the way towards the summed force across the step, then
// as much again, up to kStepRollParts times, as long as each turn lowers the
// gap by more than kStepRollGain and lets the largest felt lateral rise by
// no more than kStepRollFelt (see FitSmooth); where the gap still stands, the
// vertices either side of the step are turned the same way, each towards the
// force on its own side, their felt vertical reaching no further than
// kStepRollFelt beyond the kept rail's either. (Random case_189, whose largest
// felt lateral lies far from the step, moved there by under 0.001 g at the
// first turn; the later turns on random case_111 at twice its segments cut
// 0.004 g of gap and raised the felt vertical onset by 7.5 g/s. Turning the
// vertices either side cleared random case_055 at all three segment counts,
// where the riders still leant into the turn before the step after it, and
// without the vertical held raised the largest felt vertical of case_147 at
// twice its segments by 0.18 g. Within 3 m, random case_112 at four times its
// segments, at 27 m/s, was left with its raw peak 3.2 m past a 6.7 g step;
// turned there, its largest felt lateral fell from 3.28 to 2.97 g.) A turn
// keeps the felt onset no higher than the kept rail's, or within the drawn
// track's bound, give or take kStepRollOnsetNoise (g/s): each turn solves
// the whole rail again, which moves an onset far from the step by
// millionths (random case_048 at four times its segments, whose kept onset
// already stood beyond the bound, rose so by 3e-6 g/s at its first turn,
// which cut the gap by 0.017 g and was dropped for it).
constexpr double kGapTolerance = 0.5;
constexpr double kStepRollGapMargin = 0.1;
constexpr double kStepRollReach = 4.0;
constexpr double kStepRollOnsetNoise = 0.001;
// Turned so at one step, the rail's raw lateral often peaks next at another
// step, or away from any; up to this many places are turned about in turn,
// the first at a step, the later ones at the raw peak wherever it lies.
// (Random case_111 at twice its segments, whose raw peak moved on from its
// 5.9 g step at 136 m to a step at 122 m, stood 0.03 g beyond the drawn
// track's gap and its tolerance until turned there too; a raw peak away from
// any step, turned about, lowered the largest felt lateral of random
// case_024 at its own count from 0.76 to 0.65 g.)
constexpr int kStepRollRounds = 3;
constexpr double kStepRollShare = 0.25;
constexpr int kStepRollParts = 8;
// Where no end of a drawn step's ramp brings the raw lateral within the
// drawn track's gap and its tolerance because its raw peak moves on to
// another drawn step with no vertex on it (see FitSmooth): the shares of that
// step's ramp reach (see StepRampReach) by which either vertex beside it, or
// both, are moved either side of it, and the shares of the first step's ramp
// reach at which its ends are placed again, each end at each share. (Random
// case_061 at its own count, a 3.6 g step at 53.5 m and a 2.8 g one at
// 83.3 m: its ramp ends at 53.5 m, the first turned, rode 0.30 g felt
// lateral against 0.35 g and left its raw peak, 1.05 g, at 84.0 m, 0.20 g
// beyond that gap and tolerance; placed together, within it, its largest
// felt lateral 0.28 g and its squares a quarter fewer. At four times its
// segments no single vertex moved brought the raw lateral about the second
// step below 0.90 g, which left it 0.05 g beyond that gap and tolerance; both
// moved, within them, its largest felt lateral 0.01 g lower than before.)
constexpr double kNextStepShares[] = {-1.5, -1.25, -1.0, -0.75, -0.5, -0.25,
                                      0.25, 0.5,   0.75, 1.0,   1.25, 1.5};
constexpr double kRampEndShares[] = {0.6, 1.0, 1.4};
constexpr double kStepRollGain = 0.01;
// The share of the turn towards the force summed across a step that each part
// of the twist of the segment holding a level step takes where a vertex was
// moved onto the step's ramp end, and the most parts taken (see FitSmooth).
constexpr double kStepTwistShare = 0.04;
constexpr int kStepTwistParts = 8;
constexpr double kStepRollFelt = 0.01;
// How much (g) more felt lateral at most a rail whose vertex is moved onto a
// drawn step at the track's end may ride where that brings its raw force
// within its tolerance of the felt one (see FitSmooth): a gap that stands
// beyond its target is worth more than a few hundredths of felt lateral, and
// the rebuild reads the change in a rail's largest felt lateral within about
// 0.01 g of the ride profile's.
constexpr double kStepGapTrade = 0.04;
// The shares of the segment beside a drawn curvature step by which the
// vertex on it is moved off it, towards the vertex before (negative) or
// after, where the raw lateral still stands too far above the felt one
// there (see FitSmooth). The file's eased roll stands still at every vertex,
// so a vertex on a step holds the riders' bank at one angle across a force
// that turns at once: random case_016 at twice and four times its segments,
// out of a flat 3.3 g turn onto a straight at 36.5 m between 4.8 and 5.0 m
// segments, rode 2.28 g raw lateral just before the step against 1.50 g
// felt, 0.15 g beyond the drawn track's gap and its tolerance, however its
// roll there was turned. Off the step the roll turns fastest across it.
constexpr double kStepOffShares[] = {-0.5, -0.3, -0.15, 0.3, 0.5};
// How much (as a share) the squares of the felt lateral may grow where a
// vertex moved off a drawn step brings the raw lateral within the drawn
// track's gap and its tolerance from beyond it, its largest no higher and
// its RMS clearly within the drawn track's (see FitSmooth): random case_108
// at its own count, a vertex on its 3.8 g step at 230.9 m moved back by
// 0.15 of its segment, cleared its gap from 0.05 g beyond it with the sum
// 0.5 % higher (its RMS 0.001 g) and its largest 0.02 g lower.
constexpr double kStepOffSquares = 1.01;
// The shares of its distance from a drawn curvature step to which the vertex
// nearest the step, off it, is moved towards it (below one) or away (above),
// where the raw lateral still stands too far above the felt one there (see
// FitSmooth). Between the vertex and the step the eased roll turns the bank
// across a force that turns at once, and how much of the step's turn the
// segment takes in sets the ripple either side of the vertex: random case_182
// at its own count, a 4.5 g S-bend step at 487.2 m, 0.54 m past a vertex
// between 2.8 and 2.4 m segments, rode 2.70 g raw lateral just before the
// vertex against a largest felt lateral of 2.13 g, 0.02 g beyond the drawn
// track's gap and its tolerance; moved halfway to the step, within it by
// 0.05 g, its largest felt lateral 0.02 g higher. Moved onto the step, the
// segment after it left 1.8 m long, the gap stood twice as wide.
constexpr double kNearStepShares[] = {0.5, 1.25, 1.5};
// How much (g) more felt lateral RMS such a move may ride where it brings the
// gap within its bound from beyond it, and how far (g) beyond it the kept
// rail's gap must stand for that: the rebuild reads a gap up to a few
// hundredths of a g above the ride profile (random case_020 at four times
// its segments, 0.004 g beyond as the rebuild reads it and within it as the
// ride profile does, would have ridden 0.02 g more felt lateral for it).
constexpr double kNearStepRms = 0.01;
constexpr double kNearStepTradeGap = 0.02;
// How far (g) the kept rail's lowest felt vertical falls below the drawn
// track's, read on the ride profile's grid, before the heart's curvature is
// held at the track's end where it lies (see FitSmooth): the rides are judged
// against the drawn track's less 0.2 g, and the rail's reading differs from
// the profile's by a few hundredths.
constexpr double kEndCurveTryMargin = 0.15;
// The least vertical component of the drawn up at a track's end that counts
// as a level, unbanked end (within about 0.003 degrees).
constexpr double kLevelUnbanked = 1.0 - 1e-9;
// The sum of squares of the felt lateral a refit with the heart's curvature
// held at an end may ride, as a share of the kept rail's: the whole rail is
// solved again, which moves the felt lateral far from the end by a few
// hundred-thousandths (random case_151 at four times its segments: 0.003 %).
constexpr double kEndCurveSquares = 1.0001;
// The shares of the end vertex's roll (from the drawn level, unbanked roll)
// its roll is turned by, either way, where the kept rail's lowest felt
// vertical lies in the last segment (see FitSmooth), and the sum of squares
// of the felt lateral such a turn may ride, as a share of the kept rail's:
// the turned roll bends the heart along the whole last segment (random
// case_151 at four times its segments, heartline -1.29 m: 0.07 % more).
constexpr double kEndRollShares[] = {0.25, -0.25, 0.5, -0.5};
constexpr double kEndRollSquares = 1.001;
// The shares of their rolls (towards the drawn level, unbanked roll) the end
// vertex and the one before it are turned by together, where the lowest felt
// vertical still dips in the last segment once the end vertex alone was
// turned, and how far (g) the felt lateral RMS may rise for it: turned
// alone, the end vertex's roll still turns across the last segment, and the
// heart swings about the rail with it (random case_151 at its own count,
// heartline -1.29 m, 7.8 m last segment: 0.03 g below the drawn track's
// tolerance; turned with the vertex before, 0.01 g within it, its RMS
// 0.005 g higher).
constexpr double kEndPairShares[] = {0.1, 0.2};
constexpr double kEndPairRms = 0.01;
// Seconds of travel either side of the largest onset over which the roll's
// segments are lengthened where a rebuild breaks that bound (see FitSmooth),
// and the wider reach tried where the refit over the first is not kept:
// random case_173 at four times its segments kept a lateral onset 1.59 g/s
// beyond the bound, its refit over a second either side eased the onset too
// little; over two seconds it keeps within the bound and rides less lateral.
// (The wider reach tried first raised the felt lateral of rides that kept
// within the bound either way.)
constexpr double kOnsetRefitSeconds = 1.0;
constexpr double kOnsetWideSeconds = 2.0;
// How much (g) a refit about the raw lateral's peak must narrow the gap
// between the largest raw and felt lateral to be kept (see FitSmooth): a
// smaller gain only moved the peak a little, and the turns of the roll at a
// drawn step that follow then narrowed it less (random case_189 at four times
// its segments: kept for 0.01 g, it left 0.17 g beyond the drawn track's gap
// and its tolerance where the turns alone kept within it).
constexpr double kGapRefitGain = 0.1;
// Metres of stray beyond which the smooth way is followed by the cautious
// way straight away (see FitTuning).
constexpr double kCautiousStray = 0.1;
// Metres of stray within which the closest fit, where none holds the hearts,
// is finished once more with their place held harder where they stray (see
// FitSmooth's last try).
constexpr double kPolishStray = 0.05;
// BendLimits: the fit's stray per curvature change times squared segment
// length, the stray segments are made short enough for (metres), and the
// shortest segment it asks for.
constexpr double kBendFactor = 1.0 / 170.0;
constexpr double kBendStray = 0.012;
constexpr double kShortestBendSegment = 0.5;
// A segment whose hearts stray more than this (metres) is shortened and the
// rail fitted again, at most kRefineRounds times; each time to a share of its
// length between these two.
constexpr double kRefineStray = 0.01;
constexpr int kRefineRounds = 8;
// Metres within which a refining round's stray, at the same place, counts as
// the round before's (see FitSmooth's refine).
constexpr double kSameStray = 0.001;
constexpr double kLeastRefineShare = 0.5;
constexpr double kMostRefineShare = 0.8;
// Where no fit holds the hearts on a small budget, the vertices are put on
// the loaded path's curvature breaks (see CurvatureBreaks), each break that
// steps by more than kLeastBreak (g at the train's speed), and then moved
// from where the hearts stray least to where they stray most, at most
// kRebalanceRounds times (see RebalancedPlaces). A vertex on a break counts
// kBreakHold times its neighbours' stray against moving it.
constexpr double kLeastBreak = 0.02;
constexpr int kRebalanceRounds = 6;
constexpr double kBreakHold = 4.0;
// Where no fit holds the hearts, the fit with half the segments (at least
// this many) is tried, and its vertices kept with the extra ones placed
// where they do no harm: a roll transition the coarser fit follows with long
// segments is left to those, and the budget's short segments go where the
// roll stands still. Where that fit holds none either, the one with half of
// its segments is tried in turn (case_097 at four times its segments: none
// at twice held, while its own count did).
constexpr int kLeastCoarseSegments = 2;
// The coarser fit is tried only where this count's fits came within this
// many metres of the loaded path (or none could be solved). Half as many
// segments, each twice as long, held the hearts in 200 random layouts only
// where this count's fits came within 3.4 cm (case_097 at four times its
// segments); where they stray by decimetres, so do the coarser ones, and
// each of them makes its own dozens of fits and tries the next coarser in
// turn: random case_140 at 240 segments came within 8.4 cm and went on
// through six coarser counts, down to three segments 18 m astray, for 134
// of its 150 fits.
constexpr double kCoarseReach = 0.05;
// On a track with a loop's lean, a fit that holds the hearts is set beside
// the coarser count's kept fit split to this count (see SplitPlaces), which
// replaces it where that rides a lower lateral onset, with no higher sum of
// squared felt lateral and its largest no more than kCoarserLeanFelt (g)
// above. The lean sets one length through a loop whatever the count, but
// the vertices fall elsewhere at each count, and the file's eased roll
// rides some of those places much worse: random case_068 (heartline
// -0.67 m) rode 28.6 g/s beyond the drawn track's lateral onset at one
// times its segments and 50.7 and 47.1 at two and four; this way 28.8 and
// 29.2.
constexpr double kCoarserLeanFelt = 0.025;
// The hardest jolt (g) the new rail may give the riders beyond the loaded
// path's own (see HardestJolt). Rails through loops measure 8 to 10 g; the
// fits beyond this wiggle the hearts at a fraction of a metre and ride with
// raw forces tens of g above the felt ones.
constexpr double kLargestJolt = 20.0;
// The hardest jolt (g) the new rail may give the riders at the track's two
// ends. There the fit's jolt grows as the end segment shortens: random
// case_191 at twice its segments, refined to a last segment of 0.21 m, rode
// 17.5 g at its end (0.65 m at its own count: 1.1 g), and case_166 at four
// times 12.2 g at its start. Every other fit kept on 429 random runs and the
// builder layouts ends within 3 g.
constexpr double kLargestEndJolt = 5.0;
// Where the hearts stray over a short segment, the stray itself bends their
// path: by about stray x v^2 / (g x length^2). A segment that jolts the riders
// by more than kLengthenJolt (g, see HardestJolt) where its stray bends the
// heart by more than kLengthenBend (g) is merged with a neighbour and the rail
// fitted again, at most kLengthenRounds times (see LengthenedPlaces).
constexpr double kLengthenJolt = 1.5;
constexpr double kLengthenBend = 0.2;
constexpr int kLengthenRounds = 2;
// Where the roll turns steadily over short segments, the eased roll's error
// on the heart, about (roll change per segment) x h x v^2 / (g x length^2),
// is left on the heart's path as a wobble from join to join that the fit
// cannot take out: measured as the jolt at the fit points, it matched that
// estimate within a third over the segments of random case_097 and case_002.
// Twice the segments halve the roll change per segment and double the
// wobble, and the felt window, which spans a few of them, turns it into
// lateral onsets (random case_176, heartline -0.97 m at 11.8 m/s: 2.8, 4.8
// and 5.4 g/s at one, two and four times its 77 segments, against 2.3 g/s on
// the drawn track). Each pair of neighbouring segments whose jolt and
// estimate both pass kWobbleJolt (g), together no longer than the felt
// window, is merged (see LengthenedPlaces), kept only where the riders feel
// no more lateral for it, read as the ride profile reads it (see
// FeltLateralAlong): an onset no more than kWobbleOnsetMargin (g/s) faster,
// a sum of squares no larger (where the onset falls, no more than
// kWobbleSquaresMargin times larger) and a largest felt lateral no more than
// kWobbleFeltMargin (g) higher; and where the hardest jolt about the merged
// segments rises by no more than kWobbleFeltMargin. Read at the fit points
// instead (one per sample of the loaded path), the wobble of segments of
// about twice the profile's spacing aliased differently on the two grids,
// and the merges were misjudged both ways; with the onset held to 0.01 g/s
// and the squares to none, the merges that ease the ride where it matters
// were refused for a rise elsewhere that the riders do not feel. A merge
// never leaves a segment beside it more than kWobbleLengthRatio times
// shorter where the two were within that (see TaperBesideMerges). Those
// merges ease the wobble over the whole track at once, and the largest jolt
// and onset lie where one of them barely moves:
// random case_002 at four times its segments merged 157 pairs and its felt
// lateral onset fell from 8.0 to 6.5 g/s, but its hardest jolt about them
// rose from 0.739 to 0.740 g (a lateral onset 1.8 g/s beyond the drawn
// track's bound kept, against none at twice its segments); case_097 at four
// times merged 125, its sum of squares fell by 38 % and its onset rose by
// 0.0003 g/s.
constexpr double kWobbleJolt = 0.2;
constexpr double kWobbleFeltMargin = 0.025;
constexpr double kWobbleOnsetMargin = 0.35;
constexpr double kWobbleSquaresMargin = 1.005;
constexpr double kWobbleLengthRatio = 2.0;
constexpr double kWobbleLengthSlack = 1e-6;
// Steps towards the nearest point of the loaded path when measuring that.
constexpr int kNearestSteps = 3;
// A tangent whose horizontal part is below this has no level frame.
constexpr double kVerticalLimit = 1e-6;

// How the rail is fitted. The smooth way first: vertices placed so that the
// eased roll's curvature error on the heart stays below 0.11 g; the heart's
// curvature held to the loaded path's with 0.02 m per g (as at the joins: a
// heart held only in place may still wiggle between its fit points by a
// centimetre, 3 g raw at 14 m/s); the roll-rate flag only near the vertical
// (see KeepsRollRate). On a few tracks that run close to the vertical that
// lets the hearts stray; they are fitted again the cautious way: 0.2 g, the
// heart held in place only, the flag at every vertex.
struct FitTuning {
    double curvatureError;  // g
    double curveWeight;     // metres per g; 0: the heart's curvature is not held
    bool rateFlagsEverywhere;
    bool holdEnds;          // the hearts at the track's ends held along the path too
    // The heart's curvature held at the track's first and last vertex too,
    // as at the joins (see FitSmooth's end curvature refit).
    bool curveAtStart = false, curveAtEnd = false;
    // On a track that leans through a loop, the drawn steps far from the lean
    // ramped and spread by the finish (see FinishFit).
    bool rampsAwayFromLean = false;
    // The drawn steps on gentle slopes ramped by the finish too (see
    // FinishFit and FitSmooth's gentle-slope ramp refit).
    bool rampsOnSlopes = false;
    bool operator==(const FitTuning&) const = default;
};
constexpr FitTuning kSmoothWay{0.11, 0.02, false, false, false, false, false};
constexpr FitTuning kCautiousWay{0.2, 0.0, true, false, false, false, false};
// Where the smooth way lets the hearts stray more than kHeldStray, it is
// fitted again with shorter segments there (see RefineLimits), with the up
// direction smoothed over at least kLeastSmoothing mean segment lengths and
// kLeastSmoothSeconds of travel at the mean speed whatever the filter, and
// with the hearts at the track's two ends held harder, along the path too.
// The roll the file eases between the vertices cannot follow a roll that
// turns within a fraction of a segment, nor can a rail a heartline away
// swing round a roll that turns within a metre or two: the hearts stray by
// the heartline times the difference (with filters of 0 to 9 the first fit
// let them stray 2 to 10 cm on 34 of 72 random-layout runs). And the finish
// lets the hearts slide along the path, which past an end leaves it (9 cm at
// the start of a 300 m random layout at 100 to 400 segments).
constexpr FitTuning kRefinedWay{0.11, 0.02, false, true, false, false, false};

struct D3 {
    double x = 0.0, y = 0.0, z = 0.0;
};
[[gnu::always_inline]] inline D3 operator+(D3 a, D3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
[[gnu::always_inline]] inline D3 operator-(D3 a, D3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
[[gnu::always_inline]] inline D3 operator*(double s, D3 a) {
    return {s * a.x, s * a.y, s * a.z};
}
[[gnu::always_inline]] inline double Dot(D3 a, D3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
[[gnu::always_inline]] inline D3 Cross(D3 a, D3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
[[gnu::always_inline]] inline double Norm(D3 a) {
    return std::sqrt(Dot(a, a));
}
// The unit vector along `a`; zero for a zero or NaN vector.
[[gnu::always_inline]] inline D3 Unit(D3 a) {
    const double n = Norm(a);
    if (!(n > 0.0)) return {};
    return (1.0 / n) * a;
}
D3 ToD(const Vec3& v) {
    return {static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z)};
}
Vec3 ToSingle(const D3& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}
// `p` in single precision, slid along the unit vector `d` by up to `reach`
// metres to where rounding leaves it closest to the line through `p` along
// `d`. Rounding each coordinate on its own moves a point across the rail by
// up to half a unit in the last place (4 um at 100 m); on segments a few
// decimetres long that bends the rail sideways from join to join, which
// riders feel on a track drawn without a sideways bend. The steps are a
// fraction of a unit that no rounding pattern repeats within a few steps.
// With a `normal` (not zero) the point lies in an upright plane with that
// normal, where only the rounding across the plane moves the riders
// sideways: that alone is weighed.
Vec3 ToSingleOnLine(const D3& p, const D3& d, double reach, int steps, const D3& normal) {
    const double largest = std::max({std::abs(p.x), std::abs(p.y), std::abs(p.z)});
    const auto f = static_cast<float>(largest);
    const double unit =
        static_cast<double>(std::nextafter(f, std::numeric_limits<float>::infinity()) - f);
    const double step = 0.37 * unit;
    const bool planar = Dot(normal, normal) > 0.0;
    const auto across = [&](const Vec3& q) {
        const D3 e = ToD(q) - p;
        if (planar) return std::abs(Dot(normal, e));
        return Norm(e - Dot(e, d) * d);
    };
    Vec3 best = ToSingle(p);
    double off = across(best);
    for (int j = 1; j <= steps && j * step <= reach && off > 0.0; ++j) {
        for (const int sign : {-1, 1}) {
            const Vec3 q = ToSingle(p + (sign * j * step) * d);
            const double o = across(q);
            if (o < off) {
                best = q;
                off = o;
            }
        }
    }
    return best;
}
// `v` without its part along the unit vector `t`, as a unit vector.
D3 Across(const D3& v, const D3& t) {
    return Unit(v - Dot(v, t) * t);
}

// One segment in curve order, in double.
struct Cubic {
    D3 p0, p1, p2, p3;
};
Cubic CubicOf(const TrackData& track, int i) {
    const CurvePoints c = SegmentCurve(track, i);
    return {ToD(c.P0), ToD(c.P1), ToD(c.P2), ToD(c.P3)};
}
D3 PointAt(const Cubic& c, double t) {
    const double u = 1.0 - t;
    return (u * u * u) * c.p0 + (3.0 * t * u * u) * c.p1 + (3.0 * t * t * u) * c.p2 +
           (t * t * t) * c.p3;
}
D3 FirstAt(const Cubic& c, double t) {
    const double u = 1.0 - t;
    return (3.0 * u * u) * (c.p1 - c.p0) + (6.0 * t * u) * (c.p2 - c.p1) +
           (3.0 * t * t) * (c.p3 - c.p2);
}
D3 SecondAt(const Cubic& c, double t) {
    return (6.0 * (1.0 - t)) * (c.p2 - 2.0 * c.p1 + c.p0) + (6.0 * t) * (c.p3 - 2.0 * c.p2 + c.p1);
}

// The rider's frame as the ride profile and every reader build it: level-down
// is world down without its part along the tangent, side = tangent x
// level-down, down = cos R level-down - sin R side, up = -down. False where
// the tangent is vertical (no level frame).
struct LevelFrame {
    D3 levelDown, side;
};
// Whether a tangent with this length has a level frame.
[[gnu::always_inline]] inline bool HasLevelFrame(D3 tangent, double speed) {
    if (!(speed > 0.0)) return false;
    const double least = kVerticalLimit * speed;
    // hypot(x, z) is at least the larger of |x| and |z| (for components that
    // are numbers, as they are where their length `speed` is one): where that
    // one reaches the limit the answer is known without the slower hypot.
    if (std::abs(tangent.x) >= least || std::abs(tangent.z) >= least) return true;
    return portable::hypot(tangent.x, tangent.z) >= least;
}
// (`speed` is the tangent's Norm.)
[[gnu::always_inline]] inline bool LevelFrameOf(D3 tangent, double speed, LevelFrame& frame) {
    if (!HasLevelFrame(tangent, speed)) return false;
    const D3 t = (1.0 / speed) * tangent;
    const D3 worldDown{0.0, -1.0, 0.0};
    frame.levelDown = Unit(worldDown - Dot(worldDown, t) * t);
    frame.side = Cross(t, frame.levelDown);
    return true;
}
bool LevelFrameOf(const D3& tangent, LevelFrame& frame) {
    return LevelFrameOf(tangent, Norm(tangent), frame);
}
D3 UpOf(const LevelFrame& f, double roll) {
    return -1.0 * (portable::cos(roll) * f.levelDown - portable::sin(roll) * f.side);
}
// The roll that turns the level frame's up into `up` (across the tangent).
double RollOf(const LevelFrame& f, const D3& up) {
    const D3 down = -1.0 * up;
    return portable::atan2(-Dot(down, f.side), Dot(down, f.levelDown));
}

double SmoothStep(double x) {
    const double c = std::clamp(x, 0.0, 1.0);
    return c * c * (3.0 - 2.0 * c);
}

// How steep a tangent is, 0 (horizontal share kSteepHigh or more) to 1
// (kSteepLow or less).
double Steepness(const D3& tangent) {
    const double n = Norm(tangent);
    if (!(n > 0.0)) return 1.0;
    const double horizontal = portable::hypot(tangent.x, tangent.z) / n;
    return 1.0 - SmoothStep((horizontal - kSteepLow) / (kSteepHigh - kSteepLow));
}

// ---- Stage 1: the loaded path -------------------------------------------

// The loaded path measured chord by chord at small parameter steps.
struct PathWalk {
    std::vector<int> segment;
    std::vector<double> t;
    std::vector<double> s;
    std::vector<Cubic> cubics;      // per input segment
    std::vector<RollState> rolls;   // per input segment, ready for UnwrappedRoll
    std::vector<double> feltShare;  // per input segment: its banking mode, see FeltShare
    std::vector<int32_t> modes;
    // Per bucket b of kLocateBucket metres: the count of walk points before
    // arc length b x kLocateBucket, so that a search for arc length s need
    // only look between the buckets either side of the one s falls in.
    std::vector<size_t> bucket;
};

PathWalk WalkLoadedPath(const TrackData& track) {
    PathWalk walk;
    const int segments = track.Bezr.VertexCount - 1;
    RollState rolls = StartRolls(track);
    double arc = 0.0;
    D3 prev{};
    for (int i = 0; i < segments; ++i) {
        BeginRollSegment(rolls, track, i);
        walk.rolls.push_back(rolls);
        AdvanceRoll(rolls, track, i);
        walk.modes.push_back(BankingOfSegment(track, i).mode);
        const Cubic c = CubicOf(track, i);
        walk.cubics.push_back(c);
        const double polygon = Norm(c.p1 - c.p0) + Norm(c.p2 - c.p1) + Norm(c.p3 - c.p2);
        const int n = static_cast<int>(std::clamp(std::ceil(polygon * kWalkPointsPerMetre),
                                                  double{kMinWalkPoints}, double{kMaxWalkPoints}));
        for (int k = (i == 0 ? 0 : 1); k <= n; ++k) {
            const double t = static_cast<double>(k) / n;
            const D3 p = PointAt(c, t);
            if (i > 0 || k > 0) arc += Norm(p - prev);
            prev = p;
            walk.segment.push_back(i);
            walk.t.push_back(t);
            walk.s.push_back(arc);
        }
    }
    // (A path too long for the smooth rebuild, refused once walked, gets none.)
    if (!(walk.s.back() <= kLongestSmoothTrack)) return walk;
    const auto buckets = static_cast<size_t>(walk.s.back() / kLocateBucket) + 3;
    walk.bucket.resize(buckets);
    size_t before = 0;  // the walk's arc lengths only grow
    for (size_t b = 0; b < buckets; ++b) {
        const double from = static_cast<double>(b) * kLocateBucket;
        while (before < walk.s.size() && walk.s[before] < from) ++before;
        walk.bucket[b] = before;
    }
    return walk;
}

// The index of the first walk point beyond arc length s (as std::upper_bound
// finds it). The bucket s falls in may be off by one where s / kLocateBucket
// rounds across a whole number, so the search spans the buckets either side:
// every point before the first bucket's count lies below s, and none from
// the last one's on does.
size_t WalkPointAfter(const PathWalk& walk, double s) {
    if (walk.bucket.empty() || !(s >= 0.0 && s <= walk.s.back())) {
        return static_cast<size_t>(std::upper_bound(walk.s.begin(), walk.s.end(), s) -
                                   walk.s.begin());
    }
    const auto b = static_cast<size_t>(s / kLocateBucket);
    const auto lo = static_cast<std::ptrdiff_t>(walk.bucket[b > 0 ? b - 1 : 0]);
    const auto hi =
        static_cast<std::ptrdiff_t>(walk.bucket[std::min(b + 2, walk.bucket.size() - 1)]);
    return static_cast<size_t>(
        std::upper_bound(walk.s.begin() + lo, walk.s.begin() + hi, s) - walk.s.begin());
}

// The input segment and parameter at arc length s of the walk.
struct PathPlace {
    int segment = 0;
    double t = 0.0;
};
PathPlace Locate(const PathWalk& walk, double s) {
    const size_t k = WalkPointAfter(walk, s);
    if (k == 0) return {walk.segment.front(), walk.t.front()};
    if (k >= walk.s.size()) return {walk.segment.back(), walk.t.back()};
    const size_t a = k - 1;
    const double s0 = walk.s[a], s1 = walk.s[k];
    const double f = s1 > s0 ? (s - s0) / (s1 - s0) : 1.0;
    if (walk.segment[a] != walk.segment[k]) return {walk.segment[k], f * walk.t[k]};
    return {walk.segment[k], walk.t[a] + f * (walk.t[k] - walk.t[a])};
}

D3 HeartAt(const PathWalk& walk, double s) {
    const PathPlace at = Locate(walk, s);
    return PointAt(walk.cubics[AsIndex(at.segment)], at.t);
}

// How much of the felt direction a segment's banking mode takes at t.
double FeltShare(int32_t mode, double t) {
    if (mode == kBankingKeepInput) return 0.0;
    if (mode == kBankingFeltToInput) return 1.0 - t;
    if (mode == kBankingInputToFelt) return t;
    return 1.0;
}

// One sample of the loaded path.
struct PathSample {
    double s = 0.0;
    double speed = 0.0;  // m/s
    D3 tangent;          // unit
    D3 feltAcross;       // felt force across the path, g
    double feltShare = 1.0;
    D3 drawnUp;          // up of the loaded roll (zero where the path is vertical)
    D3 up;               // the chosen up direction
    D3 heart;            // the point on the loaded path
    D3 curvature;        // the loaded path's curvature vector there, 1/m
    D3 railTangent;      // the tangent of the rail that puts the heart there under `up`
    double leanWidth = 0.0;  // the half width of the lean through the vertical here (0: none)
    double flipAt = -1.0;    // that lean's crossing, where a segment is centred on it (see kFlipShare)
};

std::vector<PathSample> SampleLoadedPath(const PathWalk& walk, const HeartlineSettings& settings,
                                         double length, double spacing) {
    const D3 first = HeartAt(walk, 0.0);
    const D3 last = HeartAt(walk, length);
    const EnergyLine line =
        MakeEnergyLine(settings.startspeed, first.y, settings.endspeed, last.y, length);
    const auto count = static_cast<size_t>(std::ceil(length / spacing)) + 1;
    std::vector<PathSample> samples(count);
    // Through the vertical the level frame turns about the tangent by half a
    // turn, and the loaded roll with it: a loop drawn without roll has its
    // riders' heads inwards on the way up and outwards over the top. The
    // drawn up is taken with the frame's turn near the vertical undone, as
    // whole half turns once the path is no longer steep.
    D3 previousDown;
    bool haveDown = false;
    double region = 0.0;  // the frame's turn since the path turned steep
    double turned = 0.0;  // whole half turns of the steep stretches before
    for (size_t j = 0; j < count; ++j) {
        PathSample& sample = samples[j];
        sample.s = std::min(static_cast<double>(j) * spacing, length);
        const PathPlace at = Locate(walk, sample.s);
        const Cubic& c = walk.cubics[AsIndex(at.segment)];
        const D3 p = PointAt(c, at.t);
        sample.heart = p;
        const D3 d1 = FirstAt(c, at.t);
        const D3 d2 = SecondAt(c, at.t);
        const double rate = Norm(d1);
        sample.tangent = Unit(d1);
        const D3 curvature =
            rate > 0.0 ? (1.0 / (rate * rate)) * (d2 - Dot(d2, sample.tangent) * sample.tangent)
                       : D3{};
        sample.curvature = curvature;
        const double v2 = std::max(SpeedSquared(line, sample.s, p.y), 0.0);
        sample.speed = std::sqrt(v2);
        // Felt force per mass is acceleration minus gravity; across the path
        // only the centripetal part and gravity's cross part remain.
        const D3 lift{0.0, kGravity, 0.0};
        sample.feltAcross =
            (1.0 / kGravity) * (v2 * curvature + lift - Dot(lift, sample.tangent) * sample.tangent);
        sample.feltShare = FeltShare(walk.modes[AsIndex(at.segment)], at.t);
        LevelFrame frame;
        if (LevelFrameOf(sample.tangent, frame)) {
            const double steep = Steepness(sample.tangent);
            if (haveDown && steep > 0.0) {
                const D3 before = Across(previousDown, sample.tangent);
                region += portable::atan2(Dot(Cross(before, frame.levelDown), sample.tangent),
                                     Dot(before, frame.levelDown));
            }
            const double snapped = kPi * std::nearbyint(region / kPi);
            // (Taken before a stretch that is no longer steep adds its half
            // turns to `turned`: after, they would count twice at its first
            // level sample, and the drawn up there would be upside down.)
            const double keep = turned + steep * region + (1.0 - steep) * snapped;
            if (steep == 0.0) {
                turned += snapped;
                region = 0.0;
            }
            sample.drawnUp =
                UpOf(frame, UnwrappedRoll<portable::Math>(walk.rolls[AsIndex(at.segment)], at.t) + keep);
            previousDown = frame.levelDown;
            haveDown = true;
        }
    }
    return samples;
}

// ---- Stage 2: the riders' up direction -----------------------------------

// `from` turned about the unit tangent by `angle` (both across the tangent).
D3 Turn(const D3& from, const D3& tangent, double angle) {
    return portable::cos(angle) * from + portable::sin(angle) * Cross(tangent, from);
}

// Along the path, the up direction turns from the loaded banking towards the
// felt direction by a share that grows with the felt force along the up
// direction so far: full where the riders are pressed into their seats, none
// in airtime, so that a crest never turns them over.
void ChooseUpDirections(std::vector<PathSample>& samples) {
    D3 current;
    for (PathSample& sample : samples) {
        const D3& t = sample.tangent;
        D3 drawn = sample.drawnUp;
        if (Norm(drawn) == 0.0) drawn = Across(current, t);  // vertical: keep the way it was
        if (Norm(current) == 0.0) current = drawn;
        const double pressed = Dot(sample.feltAcross, current);
        const double share = sample.feltShare *
                             SmoothStep((pressed - kAirtimeLow) / (kAirtimeHigh - kAirtimeLow));
        const D3 felt = Unit(sample.feltAcross);
        double angle = 0.0;
        if (Norm(felt) > 0.0) angle = portable::atan2(Dot(Cross(drawn, felt), t), Dot(drawn, felt));
        sample.up = Across(Turn(drawn, t, share * angle), t);
        if (Norm(sample.up) == 0.0) sample.up = drawn;
        current = sample.up;
    }
}

// ---- Stage 3: smoothing --------------------------------------------------

// Three running means of 2 r + 1 samples over the up directions (a close
// Gaussian of standard deviation spacing x sqrt(r (r + 1))), each direction
// then put back across its tangent. Near the ends the windows shrink.
// With `byForce` each up weighs as the felt force that presses the riders
// along it (at least 1 g), so that the mean leans towards where the force is
// strong (see LeadIntoLateralSteps).
void SmoothUpDirections(std::vector<PathSample>& samples, int radius, bool byForce = false) {
    const size_t n = samples.size();
    if (radius < 1 || n < 3) return;
    const auto r = static_cast<size_t>(radius);
    std::vector<D3> up(n), prefix(n + 1);
    for (size_t j = 0; j < n; ++j) {
        const double weight =
            byForce ? std::max(Dot(samples[j].feltAcross, samples[j].up), 1.0) : 1.0;
        up[j] = weight * samples[j].up;
    }
    for (int pass = 0; pass < 3; ++pass) {
        for (size_t j = 0; j < n; ++j) prefix[j + 1] = prefix[j] + up[j];
        for (size_t j = 0; j < n; ++j) {
            const size_t lo = j > r ? j - r : 0;
            const size_t hi = std::min(n - 1, j + r);
            up[j] = (1.0 / static_cast<double>(hi - lo + 1)) * (prefix[hi + 1] - prefix[lo]);
        }
    }
    for (size_t j = 0; j < n; ++j) {
        const D3 across = Across(up[j], samples[j].tangent);
        if (Norm(across) > 0.0) samples[j].up = across;
    }
}

// `values` eased by three running means over `r` samples to either side
// (fewer at the ends); nothing changes where r is 0.
void EaseByRunningMeans(std::vector<double>& values, size_t r) {
    const size_t n = values.size();
    if (r == 0 || n == 0) return;
    std::vector<double> prefix(n + 1, 0.0);
    for (int pass = 0; pass < 3; ++pass) {
        for (size_t j = 0; j < n; ++j) prefix[j + 1] = prefix[j] + values[j];
        for (size_t j = 0; j < n; ++j) {
            const size_t lo = j > r ? j - r : 0;
            const size_t hi = std::min(n - 1, j + r);
            values[j] = (prefix[hi + 1] - prefix[lo]) / static_cast<double>(hi - lo + 1);
        }
    }
}

// The felt lateral force (g) on the riders under `up` at a sample.
double LateralUnder(const PathSample& sample, const D3& up) {
    return Norm(up) > 0.0 ? Dot(sample.feltAcross, Cross(sample.tangent, up)) : 0.0;
}

// The felt values of the lateral force `at(j)` over the samples lo..hi: each
// averaged over `window` seconds of travel centred on it, reaching no
// further than a window at the speed of sample hi beyond either end.
template <typename Lateral>
std::vector<double> FeltMeans(const std::vector<PathSample>& samples, double spacing,
                              double window, size_t lo, size_t hi, const Lateral& at) {
    const size_t n = samples.size();
    const auto far = static_cast<size_t>(std::ceil(window * samples[hi].speed / spacing));
    const size_t from = lo > far ? lo - far : 0, to = std::min(n - 1, hi + far);
    std::vector<double> sum(to - from + 2, 0.0);
    for (size_t j = from; j <= to; ++j) sum[j - from + 1] = sum[j - from] + at(j);
    std::vector<double> means(hi - lo + 1);
    for (size_t j = lo; j <= hi; ++j) {
        const auto half =
            static_cast<size_t>(std::nearbyint(0.5 * window * samples[j].speed / spacing));
        const size_t a = std::max(from, j > half ? j - half : 0);
        const size_t b = std::min(to, j + half);
        means[j - lo] = (sum[b - from + 1] - sum[a - from]) / static_cast<double>(b - a + 1);
    }
    return means;
}

// The largest felt lateral onset (g/s) over the samples lo..hi of the
// lateral force `at(j)`, its felt value averaged over `window` seconds.
template <typename Lateral>
double FeltLateralOnset(const std::vector<PathSample>& samples, double spacing, double window,
                        size_t lo, size_t hi, const Lateral& at) {
    const std::vector<double> means = FeltMeans(samples, spacing, window, lo, hi, at);
    double most = 0.0;
    for (size_t j = lo + 1; j <= hi; ++j) {
        most = std::max(most,
                        std::abs(means[j - lo] - means[j - lo - 1]) * samples[j].speed / spacing);
    }
    return most;
}

// The drawn track's largest felt lateral onset (g/s), its felt values
// averaged over `window` seconds: what the lead into lateral steps and the
// bank eased at them are held to. It depends on the loaded path alone, so a
// rebuild works it out once for every choice of the up.
double DrawnLateralOnset(const std::vector<PathSample>& samples, double spacing, double window) {
    if (samples.size() < 3 || !(spacing > 0.0)) return 0.0;
    return FeltLateralOnset(samples, spacing, window, 0, samples.size() - 1, [&](size_t j) {
        return LateralUnder(samples[j], samples[j].drawnUp);
    });
}

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
void LeadIntoLateralSteps(std::vector<PathSample>& samples,
                          const std::vector<PathSample>& weighted, double spacing,
                          double window, int radius, const std::vector<double>& steps,
                          bool anywhere, double heartline, double drawnOnset) {
    const size_t n = samples.size();
    if (n < 3 || !(spacing > 0.0) || weighted.size() != n || radius < 1) return;
    std::vector<double> lateral(n), sums(n + 1, 0.0), drawnSums(n + 1, 0.0);
    double drawnRaw = 0.0;
    for (size_t j = 0; j < n; ++j) {
        lateral[j] = LateralUnder(samples[j], samples[j].up);
        const double drawn = LateralUnder(samples[j], samples[j].drawnUp);
        drawnRaw = std::max(drawnRaw, std::abs(drawn));
        sums[j + 1] = sums[j] + lateral[j];
        drawnSums[j + 1] = drawnSums[j] + drawn;
    }
    double felt = 0.0, drawnFelt = 0.0;
    for (size_t j = 0; j < n; ++j) {
        const auto half =
            static_cast<size_t>(std::nearbyint(0.5 * window * samples[j].speed / spacing));
        const size_t lo = j > half ? j - half : 0, hi = std::min(n - 1, j + half);
        const auto count = static_cast<double>(hi - lo + 1);
        felt = std::max(felt, std::abs(sums[hi + 1] - sums[lo]) / count);
        drawnFelt = std::max(drawnFelt, std::abs(drawnSums[hi + 1] - drawnSums[lo]) / count);
    }
    // The largest felt lateral under the smoothed up over the samples lo..hi.
    const auto feltOver = [&](size_t lo, size_t hi) {
        double most = 0.0;
        for (size_t j = lo; j <= hi; ++j) {
            const auto half =
                static_cast<size_t>(std::nearbyint(0.5 * window * samples[j].speed / spacing));
            const size_t from = j > half ? j - half : 0, to = std::min(n - 1, j + half);
            most = std::max(most, std::abs(sums[to + 1] - sums[from]) /
                                      static_cast<double>(to - from + 1));
        }
        return most;
    };
    // The steps where the weighted up lowers the largest raw lateral within
    // a felt window of the step, with the share of the lead that keeps the
    // rail's swing within kStepRailMove.
    std::vector<std::pair<double, double>> leading;  // (arc length, share)
    if (!anywhere) {
        for (const double c : steps) {
            const auto k = static_cast<size_t>(std::clamp(std::nearbyint(c / spacing), 0.0,
                                                          static_cast<double>(n - 1)));
            const auto win = static_cast<size_t>(std::ceil(window * samples[k].speed / spacing));
            double mine = 0.0, theirs = 0.0;
            for (size_t j = k > win ? k - win : 0; j <= std::min(n - 1, k + win); ++j) {
                mine = std::max(mine, std::abs(lateral[j]));
                theirs = std::max(theirs, std::abs(LateralUnder(weighted[j], weighted[j].up)));
            }
            const D3& a = samples[k].up;
            const D3& b = weighted[k].up;
            const double turn = std::abs(
                portable::atan2(Dot(Cross(a, b), samples[k].tangent), Dot(a, b)));
            if (!(theirs < mine - kStepGapMargin)) continue;
            const double move = std::abs(heartline) * turn;
            if (move < kStepRailMove) {
                leading.emplace_back(c, 1.0);
            } else if (feltOver(k > 2 * win ? k - 2 * win : 0, std::min(n - 1, k + 2 * win)) <
                       felt - kLeadFeltMargin) {
                leading.emplace_back(c, kStepRailMove / move);
            }
        }
    }
    // The largest share of the lead of the steps within a felt window of
    // sample j (0 where there is none).
    const auto nearStep = [&](size_t j) {
        const double within = window * samples[j].speed;
        double most = 0.0;
        for (const auto& [c, share] : leading) {
            if (std::abs(samples[j].s - c) <= within) most = std::max(most, share);
        }
        return most;
    };
    // The samples within the means' reach of one that stands out (counted
    // through a difference array).
    auto r = static_cast<size_t>(radius);
    std::vector<int> near(n + 1, 0);
    // Away from the rail, the share of the lead at each sample.
    std::vector<double> lead(anywhere ? 0 : n, 0.0);
    bool any = false;
    size_t widest = 1;
    for (size_t j = 0; j < n; ++j) {
        if (!(std::abs(lateral[j]) - felt > drawnRaw - drawnFelt + kStepGapMargin)) continue;
        size_t reach = 3 * r;
        if (!anywhere) {
            const double share = nearStep(j);
            if (!(share > 0.0)) continue;
            const auto win = static_cast<size_t>(std::ceil(window * samples[j].speed / spacing));
            reach = std::min(reach, win);
            widest = std::max(widest, win);
            for (size_t k = j > reach ? j - reach : 0; k <= std::min(n - 1, j + reach); ++k) {
                lead[k] = std::max(lead[k], share);
            }
        }
        ++near[j > reach ? j - reach : 0];
        --near[std::min(n - 1, j + reach) + 1];
        any = true;
    }
    if (!any) return;
    if (!anywhere) r = std::max<size_t>(1, std::min(r, widest / 3));
    std::vector<double> share(n, 0.0);
    int inside = 0;
    for (size_t j = 0; j < n; ++j) {
        inside += near[j];
        share[j] = inside > 0 ? (anywhere ? 1.0 : lead[j]) : 0.0;
    }
    EaseByRunningMeans(share, r);
    // The up of sample j led by `by` times its share.
    const auto ledUp = [&](size_t j, double by) {
        const double w = by * share[j];
        const D3 up = Across((1.0 - w) * samples[j].up + w * weighted[j].up, samples[j].tangent);
        return Norm(up) > 0.0 ? up : samples[j].up;
    };
    const auto onsetOver = [&](size_t lo, size_t hi, const auto& at) {
        return FeltLateralOnset(samples, spacing, window, lo, hi, at);
    };
    // A lead banks the riders before the step, where the force may change on
    // its own (a valley ending where the turn begins): turned sideways by the
    // bank, that change can make the felt lateral force change faster than
    // the drawn track's step ever does. So each stretch of lead is scaled
    // back (by bisection) until its felt lateral onset stays within
    // kLeadOnsetFactor x the drawn track's largest + kLeadOnsetMargin, or no
    // higher than it is without the lead (the stretches before it as scaled).
    // `drawnOnset` is that largest (see DrawnLateralOnset).
    std::vector<double> scale(n, 1.0);
    for (size_t lo = 0; lo < n;) {
        if (share[lo] == 0.0) {
            ++lo;
            continue;
        }
        size_t hi = lo;
        while (hi + 1 < n && share[hi + 1] > 0.0) ++hi;
        const auto onsetLed = [&](double by) {
            return onsetOver(lo, hi, [&](size_t j) {
                return LateralUnder(samples[j], ledUp(j, j >= lo && j <= hi ? by : scale[j]));
            });
        };
        const double bound =
            std::max(kLeadOnsetFactor * drawnOnset + kLeadOnsetMargin, onsetLed(0.0));
        double by = 1.0;
        if (onsetLed(by) > bound) {
            double low = 0.0;
            for (int round = 0; round < kLeadScaleRounds; ++round) {
                const double mid = 0.5 * (low + by);
                (onsetLed(mid) <= bound ? low : by) = mid;
            }
            by = low;
        }
        for (size_t j = lo; j <= hi; ++j) scale[j] = by;
        lo = hi + 1;
    }
    for (size_t j = 0; j < n; ++j) {
        if (share[j] > 0.0) samples[j].up = ledUp(j, scale[j]);
    }
}

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
                     const std::vector<double>& steps, double drawnOnset, bool holdFelt) {
    const size_t n = samples.size();
    if (n < 3 || !(spacing > 0.0) || steps.empty()) return;
    const double bound = kLeadOnsetFactor * drawnOnset;
    // The largest felt lateral (g) over the samples lo..hi under the up
    // `upAt(j)` (see FeltMeans).
    const auto largestFelt = [&](size_t lo, size_t hi, const auto& upAt) {
        double most = 0.0;
        for (const double felt : FeltMeans(samples, spacing, window, lo, hi, [&](size_t j) {
                 return LateralUnder(samples[j], upAt(j));
             })) {
            most = std::max(most, std::abs(felt));
        }
        return most;
    };
    const double felt =
        holdFelt ? largestFelt(0, n - 1, [&](size_t j) -> const D3& { return samples[j].up; }) +
                       kCapFeltMargin
                 : 0.0;
    for (const double c : steps) {
        const auto k = static_cast<size_t>(
            std::clamp(std::nearbyint(c / spacing), 0.0, static_cast<double>(n - 1)));
        const auto win = static_cast<size_t>(std::ceil(window * samples[k].speed / spacing));
        const size_t lo = k > 3 * win ? k - 3 * win : 0, hi = std::min(n - 1, k + 3 * win);
        std::vector<double> share(hi - lo + 1, 0.0);
        for (size_t j = lo; j <= hi; ++j) {
            if ((j > k ? j - k : k - j) <= win / 2) share[j - lo] = 1.0;
        }
        EaseByRunningMeans(share, std::max<size_t>(1, win / 2));
        // The up of sample j turned `by` times its share towards the drawn one.
        const auto turnedUp = [&](size_t j, double by) {
            if (j < lo || j > hi) return samples[j].up;
            const double w = by * share[j - lo];
            const D3 up =
                Across((1.0 - w) * samples[j].up + w * samples[j].drawnUp, samples[j].tangent);
            return Norm(up) > 0.0 ? up : samples[j].up;
        };
        const auto onsetTurned = [&](double by) {
            return FeltLateralOnset(samples, spacing, window, lo, hi, [&](size_t j) {
                return LateralUnder(samples[j], turnedUp(j, by));
            });
        };
        const double before = onsetTurned(0.0);
        const double whole = onsetTurned(1.0);
        if (!(before > bound) || !(whole < before)) continue;
        double by = 1.0;
        if (whole < bound) {
            double low = 0.0;
            for (int round = 0; round < kLeadScaleRounds; ++round) {
                const double mid = 0.5 * (low + by);
                (onsetTurned(mid) <= bound ? by : low) = mid;
            }
        }
        const auto feltTurned = [&](double part) {
            return largestFelt(lo, hi, [&](size_t j) { return turnedUp(j, part); });
        };
        if (holdFelt && feltTurned(by) > felt) {
            double low = 0.0;
            for (int round = 0; round < kLeadScaleRounds; ++round) {
                const double mid = 0.5 * (low + by);
                (feltTurned(mid) <= felt ? low : by) = mid;
            }
            by = low;
            if (!(onsetTurned(by) < before)) continue;
        }
        std::vector<D3> turned(hi - lo + 1);
        for (size_t j = lo; j <= hi; ++j) turned[j - lo] = turnedUp(j, by);
        for (size_t j = lo; j <= hi; ++j) samples[j].up = turned[j - lo];
    }
}

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
void LimitRollRate(std::vector<PathSample>& samples, double heartline,
                   double curvatureError, const std::vector<double>& longest, int easeRadius) {
    const size_t n = samples.size();
    if (n < 3 || !(std::abs(heartline) > 0.0)) return;
    std::vector<LevelFrame> frames(n);
    std::vector<char> framed(n, 0);
    std::vector<double> roll(n, 0.0), bound(n, std::numeric_limits<double>::infinity());
    bool limited = false;
    double previous = 0.0;
    for (size_t j = 0; j < n; ++j) {
        framed[j] = LevelFrameOf(samples[j].tangent, frames[j]) ? 1 : 0;
        const double raw = framed[j] ? RollOf(frames[j], samples[j].up) : previous;
        roll[j] = j > 0 ? roll[j - 1] + WrapAngle(raw - previous) : raw;
        previous = raw;
        const double v2 = samples[j].speed * samples[j].speed;
        if (framed[j] && Steepness(samples[j].tangent) == 0.0 && v2 > 0.0) {
            bound[j] = longest[j] * curvatureError * kGravity /
                       (kRollLengthFactor * std::abs(heartline) * v2);
        }
    }
    std::vector<double> forward = roll, backward = roll;
    for (size_t j = 1; j < n; ++j) {
        const double step = bound[j] * (samples[j].s - samples[j - 1].s);
        forward[j] = std::clamp(roll[j], forward[j - 1] - step, forward[j - 1] + step);
    }
    for (size_t j = n - 1; j-- > 0;) {
        const double step = bound[j] * (samples[j + 1].s - samples[j].s);
        backward[j] = std::clamp(roll[j], backward[j + 1] - step, backward[j + 1] + step);
    }
    std::vector<double> correction(n);
    for (size_t j = 0; j < n; ++j) {
        correction[j] = 0.5 * (forward[j] + backward[j]) - roll[j];
        if (correction[j] != 0.0) limited = true;
    }
    if (!limited) return;
    EaseByRunningMeans(correction, static_cast<size_t>(std::max(easeRadius, 0)));
    for (size_t j = 0; j < n; ++j) {
        if (framed[j] && correction[j] != 0.0) {
            samples[j].up = UpOf(frames[j], roll[j] + correction[j]);
        }
    }
}

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
void CapFeltLateral(std::vector<PathSample>& samples, double spacing, double window,
                    int easeRadius, double below = 0.0) {
    const size_t n = samples.size();
    if (n < 3 || !(spacing > 0.0)) return;
    // The felt lateral under the drawn up and under the chosen one, summed
    // so that their averages over the felt window are differences.
    std::vector<double> sums(n + 1, 0.0), chosenSums(n + 1, 0.0);
    const auto lateral = [](const PathSample& sample, const D3& up) {
        return Norm(up) > 0.0 ? Dot(sample.feltAcross, Cross(sample.tangent, up)) : 0.0;
    };
    for (size_t j = 0; j < n; ++j) {
        sums[j + 1] = sums[j] + lateral(samples[j], samples[j].drawnUp);
        chosenSums[j + 1] = chosenSums[j] + lateral(samples[j], samples[j].up);
    }
    // The first and last sample of the felt window around sample j.
    const auto windowOf = [&](size_t j) {
        const auto half =
            static_cast<size_t>(std::nearbyint(0.5 * window * samples[j].speed / spacing));
        return std::pair<size_t, size_t>{j > half ? j - half : 0, std::min(n - 1, j + half)};
    };
    const auto averaged = [](const std::vector<double>& summed, std::pair<size_t, size_t> w) {
        return std::abs(summed[w.second + 1] - summed[w.first]) /
               static_cast<double>(w.second - w.first + 1);
    };
    double largest = 0.0;
    for (size_t j = 0; j < n; ++j) largest = std::max(largest, averaged(sums, windowOf(j)));
    largest -= below;
    // The same for the felt vertical, signed: the drawn track's lowest, less
    // kCapVerticalMargin, is the floor.
    std::vector<double> verticalSums(n + 1, 0.0), chosenVerticalSums(n + 1, 0.0);
    const auto vertical = [](const PathSample& sample, const D3& up) {
        return Norm(up) > 0.0 ? Dot(sample.feltAcross, up) : 0.0;
    };
    for (size_t j = 0; j < n; ++j) {
        verticalSums[j + 1] = verticalSums[j] + vertical(samples[j], samples[j].drawnUp);
        chosenVerticalSums[j + 1] =
            chosenVerticalSums[j] + vertical(samples[j], samples[j].up);
    }
    const auto meanOf = [](const std::vector<double>& summed, std::pair<size_t, size_t> w) {
        return (summed[w.second + 1] - summed[w.first]) /
               static_cast<double>(w.second - w.first + 1);
    };
    double lowest = std::numeric_limits<double>::infinity();
    for (size_t j = 0; j < n; ++j) lowest = std::min(lowest, meanOf(verticalSums, windowOf(j)));
    lowest -= kCapVerticalMargin;
    // The samples of the windows whose chosen lateral the riders feel past
    // the bound (counted through a difference array).
    std::vector<int> over(n + 1, 0);
    bool passed = false;
    for (size_t j = 0; j < n; ++j) {
        const auto w = windowOf(j);
        if (!(averaged(chosenSums, w) > largest + kCapFeltMargin) &&
            !(meanOf(chosenVerticalSums, w) < lowest)) {
            continue;
        }
        ++over[w.first];
        --over[w.second + 1];
        passed = true;
    }
    if (!passed) return;
    for (size_t j = 1; j <= n; ++j) over[j] += over[j - 1];
    // The least turn that brings an up's lateral within the bound: the felt
    // force's share across the up is |felt| x sin(angle between them).
    const auto needed = [&](size_t j, const D3& up) {
        const PathSample& sample = samples[j];
        const double felt = Norm(sample.feltAcross);
        // Riders the chosen up tips away from a force that presses them
        // into their seats on the drawn track are not in airtime.
        if (over[j] == 0 || (!(Dot(up, sample.feltAcross) > 0.0) &&
                             !(Dot(sample.drawnUp, sample.feltAcross) > 0.0))) {
            return 0.0;
        }
        const D3& t = sample.tangent;
        const double angle = portable::atan2(Dot(Cross(up, sample.feltAcross), t),
                                             Dot(up, sample.feltAcross));
        // The felt force's share along the up is |felt| x cos(angle).
        const double cosine = std::clamp(lowest / felt, -1.0, 1.0);
        double room = portable::atan2(std::sqrt(1.0 - cosine * cosine), cosine);
        if (felt > largest) {
            const double sine = largest / felt;
            room = std::min(room, portable::atan2(sine, std::sqrt(1.0 - sine * sine)));
        }
        const double excess = std::max(std::abs(angle) - room, 0.0);
        return angle < 0.0 ? -excess : excess;
    };
    std::vector<double> turn(n, 0.0);
    bool capped = false;
    for (size_t j = 0; j < n; ++j) {
        turn[j] = needed(j, samples[j].up);
        if (turn[j] != 0.0) capped = true;
    }
    if (!capped) return;
    const auto r = static_cast<size_t>(std::max(easeRadius, 0));
    if (r > 0) {
        // Each sample takes the largest turn within the means' reach.
        std::vector<double> wide(n, 0.0);
        std::deque<size_t> window3;  // indices of falling |turn| within reach
        const size_t reach = 3 * r;
        for (size_t j = 0; j < n + reach; ++j) {
            if (j < n) {
                while (!window3.empty() && std::abs(turn[window3.back()]) <= std::abs(turn[j])) {
                    window3.pop_back();
                }
                window3.push_back(j);
            }
            if (j < reach) continue;
            const size_t centre = j - reach;
            while (window3.front() + reach < centre) window3.pop_front();
            wide[centre] = turn[window3.front()];
        }
        EaseByRunningMeans(wide, r);
        turn = std::move(wide);
    }
    for (size_t j = 0; j < n; ++j) {
        PathSample& sample = samples[j];
        if (turn[j] == 0.0 || Norm(sample.up) == 0.0) continue;
        D3 up = Across(Turn(sample.up, sample.tangent, turn[j]), sample.tangent);
        if (Norm(up) == 0.0) continue;
        // Held within the bound where the eased turn fell short or turned
        // past the felt direction.
        const double rest = needed(j, up);
        if (rest != 0.0) up = Across(Turn(up, sample.tangent, rest), sample.tangent);
        if (Norm(up) > 0.0) sample.up = up;
    }
}

// ---- Stage 4: vertex places ----------------------------------------------

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
                                  int leanGrade = 0, double leanScale = 1.0) {
    const size_t n = samples.size();
    std::vector<double> shaped(n, 0.0);
    const bool leans = std::any_of(samples.begin(), samples.end(),
                                   [](const PathSample& p) { return p.leanWidth > 0.0; });
    for (size_t j = 0; j < n && !leans; ++j) {
        const D3& q = samples[j].heart;
        const double reach =
            std::max({std::abs(q.x), std::abs(q.y), std::abs(q.z)}) + std::abs(heartline);
        shaped[j] = std::min(ShortestShapedSegment(reach, heartline, std::abs(samples[j].tangent.y),
                                                   samples[j].speed),
                             kMaxSegmentShare * length);
    }
    // The shortest segment each sample's roll allows, and the longest its
    // level frame's spin allows.
    std::vector<double> least(n, 0.0);
    std::vector<double> most(n, length);
    // Whether the rail runs steep anywhere, where the roll-rate flag is set.
    bool steepAnywhere = false;
    // v^2 times the roll's rate at each sample (see leanGrade below).
    std::vector<double> spike(n, 0.0);
    double previousRoll = 0.0;
    D3 previousDown;
    bool havePrevious = false;
    for (size_t j = 0; j < n; ++j) {
        steepAnywhere = steepAnywhere || Steepness(samples[j].railTangent) > 0.0;
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
            const double spin =
                portable::atan2(Dot(Cross(before, frame.levelDown), t), Dot(before, frame.levelDown));
            const double rate = std::abs(WrapAngle(roll - previousRoll) - spin) / spacing;
            const double v2 = samples[j].speed * samples[j].speed;
            spike[j] = v2 * rate;
            // Where the rail climbs or falls, the rail's curvature jump that
            // keeps the heart's curvature running on across a join also
            // turns the level frame about the tangent, by the slope times
            // that jump: the heart's direction kinks there, by about
            // pi^2 x (roll rate) x h^2 x slope / (segment length), which the
            // riders feel as a knock of v x kink over the felt window.
            const double slope = KinkSlope(samples[j]);
            const double kinkLength = kKinkFactor * rate * heartline * heartline * slope *
                                      samples[j].speed /
                                      (kFeltWindow * curvatureError * kGravity);
            double rollLength =
                kRollLengthFactor * rate * std::abs(heartline) * v2 / (curvatureError * kGravity);
            if (samples[j].s >= windowFrom && samples[j].s <= windowTo) {
                const double measured = kMeasuredRollFactor * rate * std::abs(heartline) * v2 /
                                        (curvatureError * kGravity);
                rollLength =
                    std::max(rollLength, std::min(measured, kFeltWindow * samples[j].speed));
            }
            least[j] = std::min(std::max(rollLength, kinkLength), kMaxSegmentShare * length);
            const double spinRate = std::abs(spin) / spacing;
            if (spinRate * length > kMaxSpinPerSegment) most[j] = kMaxSpinPerSegment / spinRate;
        }
        previousRoll = roll;
        previousDown = frame.levelDown;
        havePrevious = true;
    }
    // Spread each sample's need over the length it asks for, so that a short
    // burst of roll rate lengthens the segments around it.
    std::vector<double> need(n, 0.0);
    for (size_t j = 0; j < n; ++j) {
        const auto reach = static_cast<size_t>(least[j] / spacing / 2.0);
        const size_t lo = j > reach ? j - reach : 0;
        const size_t hi = std::min(n - 1, j + reach);
        for (size_t k = lo; k <= hi; ++k) need[k] = std::max(need[k], least[j]);
    }
    // A spin caps the segments on both sides of it too.
    std::vector<double> cap(n, length);
    for (size_t j = 0; j < n; ++j) {
        if (!(most[j] < length)) continue;
        const auto reach = static_cast<size_t>(most[j] / spacing);
        const size_t lo = j > reach ? j - reach : 0;
        const size_t hi = std::min(n - 1, j + reach);
        for (size_t k = lo; k <= hi; ++k) cap[k] = std::min(cap[k], most[j]);
    }
    for (size_t j = 0; j < n; ++j) cap[j] = std::min(cap[j], limit[j]);
    // Through a lean the segments have one length whatever the budget (see
    // LeanThroughVertical), and the lengths beside it run towards that one
    // by at most kLeanGrading per metre.
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
    // The lengths are graded for every round of the search below: the steps
    // between the samples are taken once (step[j] from sample j - 1 to j).
    std::vector<double> step(n, 0.0);
    for (size_t j = 1; j < n; ++j) step[j] = samples[j].s - samples[j - 1].s;
    std::vector<double> graded(n);
    // Where the rail runs steep somewhere (and the track has no lean) a short
    // segment never meets a long one: the segments beside a long one are
    // lengthened, by kSegmentGrading. Where the roll-rate flag is set (see
    // KeepsRollRate) the eased roll keeps its rate per unit of parameter
    // through the vertex, so its rate per metre jumps by the ratio of the two
    // lengths, and the roll swings back and forth within the shorter segment
    // to meet it; the rail cannot follow that, and the heart wiggles (random
    // case_001 at 400 segments: a 1.5 m segment between 0.36 m and 7.5 m
    // ones rolled the riders 0.8 degrees to and fro, 4 g raw lateral at
    // 15 m/s). On a track that never runs steep no vertex has the flag, and
    // the lengths are left as their needs set them: graded there too, a
    // drawn S-bend's segments grew to 7 m across the end of its turn, where
    // the drawn curvature steps, and the raw forces stood 0.6 g above the
    // felt ones.
    const auto gradeLengths = [&] {
        for (size_t j = 1; j < n; ++j) {
            if (fixed[j] > 0.0) continue;
            graded[j] =
                std::min(cap[j], std::max(graded[j], graded[j - 1] - kSegmentGrading * step[j]));
        }
        for (size_t j = n - 1; j-- > 0;) {
            if (fixed[j] > 0.0) continue;
            graded[j] =
                std::min(cap[j], std::max(graded[j], graded[j + 1] - kSegmentGrading * step[j + 1]));
        }
    };
    const auto grade = [&](double base) {
        for (size_t j = 0; j < n; ++j) {
            graded[j] = std::min(std::max({base, need[j], shaped[j]}), cap[j]);
        }
        if (steepAnywhere) gradeLengths();
        for (size_t j = 0; j < n; ++j) {
            if (fixed[j] > 0.0) {
                graded[j] = std::clamp(graded[j], std::max(fixed[j] - kLeanGrading * reach[j], 0.0),
                                       fixed[j] + kLeanGrading * reach[j]);
                if (limitLean) graded[j] = std::min(graded[j], limit[j]);
            }
        }
    };
    const auto segmentAt = [&](size_t j, double) { return graded[j]; };
    // The even length elsewhere: found by bisection so that the segments
    // number the budget.
    const auto count = [&](double base) {
        grade(base);
        double total = 0.0;
        for (size_t j = 1; j < n; ++j) total += step[j] / segmentAt(j, base);
        return total;
    };
    // Where every segment at its shortest still leaves part of the budget,
    // that many are placed, with no even length beyond.
    double base = 0.0;
    const double fewest = count(0.0);
    if (fewest < segments) {
        segments = std::max(1, static_cast<int>(std::ceil(fewest)));
    } else {
        // Where every step and every bound is a finite positive number, the
        // count never grows with the base: each grading keeps the lengths'
        // order as the base grows, and so do the divisions and the sum,
        // rounded as they are. A base below one counted beyond the budget
        // then counts beyond it too, and one above a base counted within it
        // stays within: the bisection takes those rounds as known and finds
        // the same base without counting them. A few rounds of false
        // position (Illinois) first close in on the base from both sides, so
        // that few of the bisection's midpoints are left to count (the loop
        // and helix sample at 22 segments: about 2 counts a placement, not 56).
        double over = -1.0;                  // a base known to count beyond the budget
        double within = 2.0 * length + 1.0;  // one known to count within it
        const auto positive = [&](const std::vector<double>& v) {
            return std::all_of(v.begin(), v.end(),
                               [](double x) { return std::isfinite(x) && x > 0.0; });
        };
        const auto finite = [](const std::vector<double>& v) {
            return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
        };
        const bool ordered = std::all_of(step.begin() + 1, step.end(),
                                         [](double x) { return std::isfinite(x) && x > 0.0; }) &&
                             positive(cap) && positive(limit) && finite(need) && finite(shaped) &&
                             finite(fixed) && finite(reach);
        if (ordered) {
            const double atLength = count(length) - segments;
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
                    const double counted = count(guess) - segments;
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
            // Once the midpoint is an end that a round has counted, every
            // round left would count it again and keep both ends: done.
            if ((mid == lo && lo > 0.0) || (mid == hi && hi < length)) break;
            bool beyond = false;
            if (mid <= over) {
                beyond = true;
            } else if (!(mid >= within)) {
                beyond = count(mid) > segments;
                if (ordered && beyond) over = mid;
                if (ordered && !beyond) within = mid;
            }
            if (beyond) {
                lo = mid;
            } else {
                hi = mid;
            }
        }
        base = hi;
    }
    grade(base);
    std::vector<double> total(n, 0.0);
    for (size_t j = 1; j < n; ++j) {
        total[j] = total[j - 1] + step[j] / segmentAt(j, base);
    }
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
    CentreFlips(samples, length, places);
    return places;
}

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

// The train's speed at the sample nearest to arc length s.
double SpeedAt(const std::vector<PathSample>& samples, double spacing, double s) {
    const double x = std::clamp(s / spacing, 0.0, static_cast<double>(samples.size() - 1));
    return samples[static_cast<size_t>(std::nearbyint(x))].speed;
}

// Whether arc length s lies where the riders lean through the vertical.
bool InLean(const std::vector<PathSample>& samples, double spacing, double s) {
    const double x = std::clamp(s / spacing, 0.0, static_cast<double>(samples.size() - 1));
    return samples[static_cast<size_t>(std::nearbyint(x))].leanWidth > 0.0;
}

// The chosen up direction at arc length s, across `tangent`.
D3 UpAt(const std::vector<PathSample>& samples, double spacing, double s, const D3& tangent) {
    const double x = std::clamp(s / spacing, 0.0, static_cast<double>(samples.size() - 1));
    const auto a = static_cast<size_t>(std::floor(x));
    const size_t b = std::min(a + 1, samples.size() - 1);
    const double f = x - static_cast<double>(a);
    const D3 up = Across((1.0 - f) * samples[a].up + f * samples[b].up, tangent);
    return Norm(up) > 0.0 ? up : samples[a].up;
}

// The tangent of the rail that puts every heart on the loaded path under the
// chosen up directions (rail = heart - h up), per metre of the loaded path,
// by central differences. The
// rail targets take their level frame from it rather than from the rail of
// the last round: near the vertical the frame turns fast with the slightest
// change of the rail's tangent, and a frame taken from the rail just fitted
// would feed every error of the fit back into the next.
void SetRailTangents(std::vector<PathSample>& samples, double heartline) {
    const size_t n = samples.size();
    if (n < 2) return;
    const auto rail = [&](size_t j) { return samples[j].heart - heartline * samples[j].up; };
    for (size_t j = 0; j < n; ++j) {
        const size_t a = j > 0 ? j - 1 : 0;
        const size_t b = std::min(j + 1, n - 1);
        const double run = samples[b].s - samples[a].s;
        samples[j].railTangent = run > 0.0 ? (1.0 / run) * (rail(b) - rail(a)) : D3{};
    }
    // Where that rail would run straight up or down it has no level frame,
    // and every reader puts the heart on the rail there: it leans by at least
    // kLeastLean the way it last went level.
    D3 heading;
    for (PathSample& sample : samples) {
        D3& t = sample.railTangent;
        const double rate = Norm(t);
        const double horizontal = portable::hypot(t.x, t.z);
        if (horizontal >= kLeastLean * rate) {
            heading = {t.x / horizontal, 0.0, t.z / horizontal};
            continue;
        }
        const double along = Dot(t, heading);
        if (Norm(heading) > 0.0 && along < kLeastLean * rate) {
            t = t + (kLeastLean * rate - along) * heading;
        }
    }
}

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
                         double window, double onsetBound) {
    const size_t n = samples.size();
    bool leaned = false;
    if (n < 3 || !(std::abs(heartline) > 0.0)) return leaned;
    const D3 vertical{0.0, 1.0, 0.0};
    size_t j = 0;
    while (j < n) {
        const auto share = [&](size_t k) {
            const D3& t = samples[k].railTangent;
            return portable::hypot(t.x, t.z) / std::max(Norm(t), 1e-300);
        };
        if (!(share(j) < kSteepLow) || j == 0) {
            ++j;
            continue;
        }
        // The stretch below kSteepLow, entered at j: a crossing where the
        // tangent's share in the plane it entered with passes zero.
        const D3 entry = samples[j - 1].railTangent;
        const D3 forward = Unit(D3{entry.x, 0.0, entry.z});
        size_t end = j;
        while (end < n && share(end) < kSteepLow) ++end;
        const auto inPlane = [&](size_t k) {
            return Dot(samples[k].railTangent, forward) / Norm(samples[k].railTangent);
        };
        size_t cross = j;
        while (cross < end && inPlane(cross) > 0.0) ++cross;
        if (cross == end || Norm(forward) == 0.0) {
            j = end;
            continue;
        }
        const double a0 = inPlane(cross - 1), a1 = inPlane(cross);
        const double s0 = samples[cross - 1].s + spacing * a0 / (a0 - a1);
        // A rail tangent of zero length (two samples on one point of a
        // degenerate track) has no share in any plane: no crossing there.
        if (!std::isfinite(s0)) {
            j = end;
            continue;
        }
        // The rate at which the in-plane share passes zero, over a baseline
        // of kCrossingBaseline to either side: right at the vertical the
        // rail's tangent is taken from few and close points.
        const auto near = [&](double s) {
            return static_cast<size_t>(
                std::clamp(std::nearbyint(s / spacing), 0.0, static_cast<double>(n - 1)));
        };
        const size_t before = near(s0 - kCrossingBaseline), after = near(s0 + kCrossingBaseline);
        if (!(after > before)) {
            j = end;
            continue;
        }
        const double rate =
            (inPlane(before) - inPlane(after)) / (samples[after].s - samples[before].s);
        const D3 side = Unit(Cross(forward, vertical));
        const double c0 = Dot(samples[cross].railTangent, side) / Norm(samples[cross].railTangent);
        if (rate > 0.0 && std::abs(c0) < kCrossingSlope) {
            const double width = kLeanWidth * kCrossingSlope / rate;
            double amount = (c0 < 0.0 ? -1.0 : 1.0) * (kCrossingSlope - std::abs(c0)) * width;
            // The largest lean, at |u| = 1 / sqrt 7, is 0.238 A / h.
            const double lean = 0.238 * std::abs(amount) / std::abs(heartline);
            if (lean > kLargestLean) amount *= kLargestLean / lean;
            // Held, the lean is scaled back (by bisection) until the felt
            // lateral onset over the samples whose felt lateral it changes
            // (a felt window beyond its ends) stays within the bound, or no
            // higher than without the lean.
            if (std::isfinite(onsetBound)) {
                const size_t first = near(s0 - width), last = near(s0 + width);
                const auto far =
                    static_cast<size_t>(std::ceil(window * samples[last].speed / spacing));
                const size_t lo = first > far ? first - far : 0, hi = std::min(n - 1, last + far);
                const auto leanedUp = [&](size_t k, double part) {
                    const PathSample& sample = samples[k];
                    const double u = (sample.s - s0) / width;
                    if (!(std::abs(u) < 1.0)) return sample.up;
                    const double w = 1.0 - u * u;
                    const double y = part * amount * u * w * w * w;
                    const D3 moved = Across(sample.up - (y / heartline) * side, sample.tangent);
                    return Norm(moved) > 0.0 ? moved : sample.up;
                };
                const auto onsetLeaned = [&](double part) {
                    return FeltLateralOnset(samples, spacing, window, lo, hi, [&](size_t k) {
                        return LateralUnder(samples[k], leanedUp(k, part));
                    });
                };
                const double bound = std::max(onsetBound, onsetLeaned(0.0));
                if (onsetLeaned(1.0) > bound) {
                    double low = 0.0, high = 1.0;
                    for (int round = 0; round < kLeadScaleRounds; ++round) {
                        const double mid = 0.5 * (low + high);
                        (onsetLeaned(mid) <= bound ? low : high) = mid;
                    }
                    amount *= low;
                }
            }
            // The rail's sideways share at the crossing; the in-plane share
            // runs from it to minus it, and the frame through the middle half
            // of its turn, over 2 x that share / rate metres.
            const double reached = std::abs(c0 + amount / width);
            const bool flips = 2.0 * reached / rate < kFlipShare * kLeanSegmentShare * width;
            for (PathSample& sample : samples) {
                const double u = (sample.s - s0) / width;
                if (!(std::abs(u) < 1.0)) continue;
                const double w = 1.0 - u * u;
                const double y = amount * u * w * w * w;
                const D3 moved = Across(sample.up - (y / heartline) * side, sample.tangent);
                if (Norm(moved) > 0.0) sample.up = moved;
                sample.leanWidth = width;
                sample.flipAt = flips ? s0 : -1.0;
            }
            leaned = true;
        }
        j = end;
    }
    return leaned;
}

// That tangent at arc length s.
D3 RailTangentAt(const std::vector<PathSample>& samples, double spacing, double s) {
    const double x = std::clamp(s / spacing, 0.0, static_cast<double>(samples.size() - 1));
    const auto a = static_cast<size_t>(std::floor(x));
    const size_t b = std::min(a + 1, samples.size() - 1);
    const double f = x - static_cast<double>(a);
    return (1.0 - f) * samples[a].railTangent + f * samples[b].railTangent;
}

// The tangent whose level frame a rail target uses: the rail's own, turned
// towards the one it should have as the rail nears the vertical.
D3 SteepBlend(const D3& rail, const D3& ideal) {
    const double steep = Steepness(ideal);
    if (steep == 0.0) return rail;
    return (1.0 - steep) * Unit(rail) + steep * Unit(ideal);
}

// The tangent `ideal` turned about the vertical so that its level frame, under
// `roll`, gives the riders' up `up`. Near the vertical a small turn of the
// tangent turns its level frame a lot: so the rail takes up what the file's
// eased roll between the vertices misses of the roll the riders need, while
// its points move by a fraction of a millimetre.
D3 NeededTangent(const D3& ideal, const D3& up, double roll) {
    LevelFrame frame;
    if (!LevelFrameOf(ideal, frame)) return ideal;
    const double start = RollOf(frame, up);
    const auto turned = [&](double angle) {
        const double c = portable::cos(angle), s = portable::sin(angle);
        return D3{c * ideal.x + s * ideal.z, ideal.y, c * ideal.z - s * ideal.x};
    };
    LevelFrame moved;
    if (!LevelFrameOf(turned(kTurnStep), moved)) return ideal;
    const double rate = std::remainder(RollOf(moved, up) - start, kTwoPi) / kTurnStep;
    if (!(std::abs(rate) >= kLeastTurnRate)) return ideal;
    return turned(std::clamp(std::remainder(roll - start, kTwoPi) / rate, -kLargestTurn,
                             kLargestTurn));
}

// ---- Stage 5: the rail ---------------------------------------------------

// The rail as a tangent-continuous chain of cubics: vertex k at P_k with unit
// direction D_k; segment i leaves P_i along D_i with a handle of length_i / 3
// and arrives at P_i+1 along D_i+1 with the same handle, length_i being the
// heart path's arc length over the segment. Linear in P and D, so one
// least-squares system fits every control point at once.
struct RailFit {
    int segments = 0;
    int perSegment = 0;                // fit points per segment, ends included
    std::vector<double> places;        // arc lengths of the vertices
    std::vector<double> lengths;       // per segment
    std::vector<D3> point, direction;  // per vertex
    std::vector<double> rolls;         // per vertex, as stored (single)
    std::vector<D3> pathDirection;     // per vertex: the direction it is pulled towards
    std::vector<double> pull;          // per vertex: the weight of that pull
    std::vector<std::vector<double>> steep;  // per segment, per fit point: Steepness there
    std::vector<char> keepRate;              // per vertex: see KeepsRollRate
    double curveWeight = 0.0;                // see FitTuning
    bool holdEnds = false;                   // see FitTuning
    bool curveAtStart = false, curveAtEnd = false;  // see FitTuning
    bool rampsAwayFromLean = false;                 // see FitTuning
    bool rampsOnSlopes = false;                     // see FitTuning
    // Per segment: the weight of the heart's place in the finish (empty: 1
    // everywhere; see FitSmooth's last try).
    std::vector<double> hold;
    // Per vertex: turned by this much (radians) from the chosen roll (empty:
    // none; see FitSmooth's step rolls).
    std::vector<double> rollTurn;
    // Where the finish holds the riders' raw lateral densely (see FinishFit):
    // the arc lengths, in order, and the lateral (g) held at each, with the
    // weight of those rows (metres per g). Empty: nowhere.
    std::vector<double> denseAt, denseLateral;
    double denseWeight = 0.0;
};

// Bernstein weights of the four unknowns (P_i, D_i, P_i+1, D_i+1) at t.
struct RowWeights {
    double w[4];
};
RowWeights WeightsAt(double t, double length) {
    const double u = 1.0 - t;
    const double b0 = u * u * u, b1 = 3.0 * t * u * u, b2 = 3.0 * t * t * u, b3 = t * t * t;
    const double a = length / 3.0;
    return {{b0 + b1, b1 * a, b2 + b3, -b2 * a}};
}

// Weights of the same unknowns in the rail's second derivative at t = 0 or 1.
RowWeights CurveWeightsAt(bool end, double length) {
    const double a = length / 3.0;
    if (end) return {{6.0, 6.0 * a, -6.0, 12.0 * a}};
    return {{-6.0, -12.0 * a, 6.0, -6.0 * a}};
}

// Weights of the same unknowns in the rail's tangent per metre of the loaded
// path at t.
RowWeights TangentWeightsAt(double t, double length) {
    const double u = 1.0 - t;
    const double b1 = 3.0 * u * u - 6.0 * t * u, b2 = 6.0 * t * u - 3.0 * t * t;
    const double a = length / 3.0;
    return {{-6.0 * t * u / length, b1 * a / length, 6.0 * t * u / length, -b2 * a / length}};
}

Cubic RailCubic(const RailFit& fit, int i) {
    const size_t k = AsIndex(i);
    const double a = fit.lengths[k] / 3.0;
    return {fit.point[k], fit.point[k] + a * fit.direction[k],
            fit.point[k + 1] - a * fit.direction[k + 1], fit.point[k + 1]};
}

using SparseMatrix = Eigen::SparseMatrix<double>;
using Solver = Eigen::SimplicialLDLT<SparseMatrix, Eigen::Lower, Eigen::NaturalOrdering<int>>;
// The same for a matrix given as its upper triangle, factorised as it stands
// (the lower one is first copied into that layout on every factorisation).
using UpperSolver = Eigen::SimplicialLDLT<SparseMatrix, Eigen::Upper, Eigen::NaturalOrdering<int>>;

// The lower triangle of a banded symmetric matrix, summed entry by entry in
// the order the parts arrive (as a list of triplets would sum them), then
// written into a sparse matrix that holds exactly the entries ever touched.
class LowerBand {
public:
    LowerBand(int size, int width)
        : size_(size), width_(width), value_(AsIndex(size) * AsIndex(width), 0.0),
          touched_(value_.size(), 0) {}
    void Clear() { std::fill(value_.begin(), value_.end(), 0.0); }
    // Adds v at (row, column), column <= row < column + width.
    void Add(int row, int column, double v) {
        const size_t at = Slot(row, column);
        value_[at] += v;
        touched_[at] = 1;
    }
    // `matrix` gets the band's values: on the first call its pattern too;
    // after that only the values of the pattern it holds.
    void WriteInto(SparseMatrix& matrix) const { Write<false>(matrix); }
    // The same, as the upper triangle (the band's transpose), which a
    // solver of the upper triangle factorises without copying it first.
    void WriteUpperInto(SparseMatrix& matrix) const { Write<true>(matrix); }

  private:
    template <bool upper>
    void Write(SparseMatrix& matrix) const {
        if (matrix.nonZeros() == 0) {
            std::vector<Eigen::Triplet<double>> entries;
            entries.reserve(
                static_cast<size_t>(std::count(touched_.begin(), touched_.end(), char{1})));
            for (int column = 0; column < size_; ++column) {
                for (int row = column; row < std::min(size_, column + width_); ++row) {
                    const size_t at = Slot(row, column);
                    if (touched_[at] == 0) continue;
                    if constexpr (upper) {
                        entries.emplace_back(column, row, value_[at]);
                    } else {
                        entries.emplace_back(row, column, value_[at]);
                    }
                }
            }
            matrix.resize(size_, size_);
            matrix.setFromTriplets(entries.begin(), entries.end());
            return;
        }
        for (int column = 0; column < size_; ++column) {
            for (SparseMatrix::InnerIterator it(matrix, column); it; ++it) {
                const auto row = static_cast<int>(it.row());
                if constexpr (upper) {
                    it.valueRef() = value_[Slot(column, row)];
                } else {
                    it.valueRef() = value_[Slot(row, column)];
                }
            }
        }
    }

    size_t Slot(int row, int column) const {
        return AsIndex(column) * AsIndex(width_) + AsIndex(row - column);
    }
    int size_, width_;
    std::vector<double> value_;
    std::vector<char> touched_;
};

// The weight of the curvature rows at one end of segment i: none where the
// rail is steep, whose tangent there matters more than the join's curvature
// (a rail that overshoots its lean there turns its level frame over).
double CurveWeight(const RailFit& fit, int i, bool end) {
    const std::vector<double>& steep = fit.steep[AsIndex(i)];
    return kCurveWeight * (1.0 - (end ? steep.back() : steep.front()));
}

// The normal equations of the fit depend only on the fit points' parameters
// and the segment lengths: factorised once for all rounds and coordinates.
void FactoriseFit(const RailFit& fit, Solver& solver) {
    const int unknowns = 2 * (fit.segments + 1);
    // A segment's rows reach the four unknowns of its two vertices.
    LowerBand normal(unknowns, 4);
    for (int i = 0; i < fit.segments; ++i) {
        for (int q = 0; q < fit.perSegment; ++q) {
            const double t = static_cast<double>(q) / (fit.perSegment - 1);
            const RowWeights row = WeightsAt(t, fit.lengths[AsIndex(i)]);
            for (int a = 0; a < 4; ++a) {
                for (int b = 0; b <= a; ++b) normal.Add(2 * i + a, 2 * i + b, row.w[a] * row.w[b]);
            }
        }
        for (bool end : {false, true}) {
            const RowWeights row = CurveWeightsAt(end, fit.lengths[AsIndex(i)]);
            const double weight = CurveWeight(fit, i, end);
            for (int a = 0; a < 4; ++a) {
                for (int b = 0; b <= a; ++b) {
                    normal.Add(2 * i + a, 2 * i + b, weight * row.w[a] * row.w[b]);
                }
            }
        }
        for (int q = 0; q < fit.perSegment; ++q) {
            const double weight = kTangentWeight * fit.steep[AsIndex(i)][AsIndex(q)];
            if (weight == 0.0) continue;
            const double t = static_cast<double>(q) / (fit.perSegment - 1);
            const RowWeights row = TangentWeightsAt(t, fit.lengths[AsIndex(i)]);
            for (int a = 0; a < 4; ++a) {
                for (int b = 0; b <= a; ++b) {
                    normal.Add(2 * i + a, 2 * i + b, weight * row.w[a] * row.w[b]);
                }
            }
        }
    }
    // A weak pull of each vertex direction towards the loaded path's keeps the
    // system definite whatever the geometry (see FitRound's right side).
    for (int k = 0; k < unknowns; ++k) {
        normal.Add(k, k, k % 2 == 1 ? fit.pull[AsIndex(k / 2)] : 1e-12);
    }
    SparseMatrix matrix;
    normal.WriteInto(matrix);
    solver.compute(matrix);
}

// Whether vertex k asks the file's roll interpolation to keep the roll rate
// through it. With the flag, a steady roll change of D per segment is eased
// with a roll acceleration (per t^2) that swings from +3.1 D through -0.8 D,
// 0 and +0.8 D to -3.1 D within the segment; the rail, a cubic whose second
// derivative runs straight from end to end, cannot take that up, and the
// heart wiggles by raw g at every segment. Without it the acceleration is a
// half cosine from +4.9 D to -4.9 D, close to a straight line, which the rail
// takes up. So the flag is kept only beside segments that run steep (there
// the roll must follow the level frame's spin without a pause at each
// vertex), and never at the last vertex: there the interpolation would take
// the rate from the roll change towards the first vertex (it reads the
// vertices as a circuit), a kick of up to 51 g raw at the end of a 38 m
// random layout at 100 segments. Nor where the rail beside it barely runs
// steep and its segments differ much in length (see kFlagLengthRatio). The
// cautious way (see FitTuning) sets it at every vertex.
bool KeepsRollRate(const RailFit& fit, size_t k) {
    return fit.keepRate[k] != 0;
}

// A copy of the new track's vertices as far as the roll interpolation reads
// them, so that the fit sees the roll every reader of the file will see.
TrackData RollTrack(const RailFit& fit) {
    TrackData track;
    track.Bezr.VertexCount = fit.segments + 1;
    track.Bezr.Vertices.assign(AsIndex(fit.segments) + 1, TrackVertex{});
    for (size_t k = 0; k < track.Bezr.Vertices.size(); ++k) {
        TrackVertex& v = track.Bezr.Vertices[k];
        v.Roll = static_cast<float>(fit.rolls[k]);
        v.FlagA = KeepsRollRate(fit, k);
    }
    return track;
}

// The vertex rolls: the chosen up direction at each vertex in the level frame
// of the rail's own direction there.
void ChooseVertexRolls(const std::vector<PathSample>& samples, double spacing, RailFit& fit) {
    for (size_t k = 0; k < fit.point.size(); ++k) {
        LevelFrame frame;
        const D3 tangent =
            SteepBlend(fit.direction[k], RailTangentAt(samples, spacing, fit.places[k]));
        if (!LevelFrameOf(tangent, frame)) {
            fit.rolls[k] = k > 0 ? fit.rolls[k - 1] : 0.0;
            continue;
        }
        const D3 up = UpAt(samples, spacing, fit.places[k], Unit(tangent));
        const double turn = fit.rollTurn.empty() ? 0.0 : fit.rollTurn[k];
        fit.rolls[k] = static_cast<double>(static_cast<float>(RollOf(frame, up) + turn));
    }
}

// One round: the rail point under every fit point that puts the heart on the
// loaded path (heart = rail + h up, with the roll the file will give and the
// current rail's tangent), then the least-squares rail through them.
void FitRound(const PathWalk& walk, const std::vector<PathSample>& samples, double spacing,
              double heartline, const Solver& solver, RailFit& fit) {
    ChooseVertexRolls(samples, spacing, fit);
    const TrackData rollTrack = RollTrack(fit);
    const int unknowns = 2 * (fit.segments + 1);
    Eigen::MatrixXd rhs = Eigen::MatrixXd::Zero(unknowns, 3);
    RollState rolls = StartRolls(rollTrack);
    for (int i = 0; i < fit.segments; ++i) {
        BeginRollSegment(rolls, rollTrack, i);
        const Cubic rail = RailCubic(fit, i);
        const double length = fit.lengths[AsIndex(i)];
        // The rail point at t that puts the heart on the loaded path.
        const auto targetAt = [&](double t) {
            const double s = fit.places[AsIndex(i)] + t * length;
            const D3 tangent = FirstAt(rail, t);
            const double steep = Steepness(RailTangentAt(samples, spacing, s));
            LevelFrame frame;
            D3 up;
            if (steep < 1.0 && LevelFrameOf(tangent, frame)) {
                up = UpOf(frame, UnwrappedRoll<portable::Math>(rolls, t));
                if (steep > 0.0) {
                    up = Unit((1.0 - steep) * up +
                              steep * UpAt(samples, spacing, s, Unit(tangent)));
                }
            } else {
                up = UpAt(samples, spacing, s, Unit(tangent));
            }
            return HeartAt(walk, s) - heartline * up;
        };
        const auto add = [&](const RowWeights& row, double weight, const D3& target) {
            for (int a = 0; a < 4; ++a) {
                rhs(2 * i + a, 0) += weight * row.w[a] * target.x;
                rhs(2 * i + a, 1) += weight * row.w[a] * target.y;
                rhs(2 * i + a, 2) += weight * row.w[a] * target.z;
            }
        };
        // The targets at the segment's ends (t = 0 and 1) serve the second
        // differences below too.
        D3 first, last;
        for (int q = 0; q < fit.perSegment; ++q) {
            const double t = static_cast<double>(q) / (fit.perSegment - 1);
            const D3 target = targetAt(t);
            if (q == 0) first = target;
            if (q + 1 == fit.perSegment) last = target;
            add(WeightsAt(t, length), 1.0, target);
        }
        // One-sided second differences inside the segment, of second order.
        const double h = kCurveStep;
        const D3 start = (1.0 / (h * h)) * (2.0 * first - 5.0 * targetAt(h) +
                                            4.0 * targetAt(2.0 * h) - targetAt(3.0 * h));
        const D3 end = (1.0 / (h * h)) * (2.0 * last - 5.0 * targetAt(1.0 - h) +
                                          4.0 * targetAt(1.0 - 2.0 * h) - targetAt(1.0 - 3.0 * h));
        add(CurveWeightsAt(false, length), CurveWeight(fit, i, false), start);
        add(CurveWeightsAt(true, length), CurveWeight(fit, i, true), end);
        for (int q = 0; q < fit.perSegment; ++q) {
            const double weight = kTangentWeight * fit.steep[AsIndex(i)][AsIndex(q)];
            if (weight == 0.0) continue;
            const double t = static_cast<double>(q) / (fit.perSegment - 1);
            const double s = fit.places[AsIndex(i)] + t * length;
            const D3 ideal = RailTangentAt(samples, spacing, s);
            add(TangentWeightsAt(t, length), weight,
                NeededTangent(ideal, UpAt(samples, spacing, s, Unit(ideal)),
                              UnwrappedRoll<portable::Math>(rolls, t)));
        }
        AdvanceRoll(rolls, rollTrack, i);
    }
    for (size_t k = 0; k < fit.pathDirection.size(); ++k) {
        const auto d = static_cast<Eigen::Index>(2 * k + 1);
        rhs(d, 0) += fit.pull[k] * fit.pathDirection[k].x;
        rhs(d, 1) += fit.pull[k] * fit.pathDirection[k].y;
        rhs(d, 2) += fit.pull[k] * fit.pathDirection[k].z;
    }
    const Eigen::MatrixXd solution = solver.solve(rhs);
    for (size_t k = 0; k < fit.point.size(); ++k) {
        const auto p = static_cast<Eigen::Index>(2 * k);
        fit.point[k] = {solution(p, 0), solution(p, 1), solution(p, 2)};
        fit.direction[k] = {solution(p + 1, 0), solution(p + 1, 1), solution(p + 1, 2)};
    }
}

// ---- Stage 6: the finish on the full model ------------------------------

// A number with its first and second derivatives along the segment
// parameter, so that the heart's curvature comes out exactly.
struct Jet {
    double v = 0.0, d = 0.0, dd = 0.0;
};
[[gnu::always_inline]] inline Jet operator+(Jet a, Jet b) {
    return {a.v + b.v, a.d + b.d, a.dd + b.dd};
}
[[gnu::always_inline]] inline Jet operator-(Jet a, Jet b) {
    return {a.v - b.v, a.d - b.d, a.dd - b.dd};
}
[[gnu::always_inline]] inline Jet operator*(Jet a, Jet b) {
    return {a.v * b.v, a.d * b.v + a.v * b.d, a.dd * b.v + 2.0 * a.d * b.d + a.v * b.dd};
}
[[gnu::always_inline]] inline Jet operator*(double s, Jet a) {
    return {s * a.v, s * a.d, s * a.dd};
}
[[gnu::always_inline]] inline Jet operator*(Jet a, double s) {
    return s * a;
}
[[gnu::always_inline]] inline Jet operator/(Jet a, double s) {
    return (1.0 / s) * a;
}
[[gnu::always_inline]] inline Jet operator+(double s, Jet a) {
    return {s + a.v, a.d, a.dd};
}
[[gnu::always_inline]] inline Jet operator-(double s, Jet a) {
    return {s - a.v, -a.d, -a.dd};
}
inline Jet cos(const Jet& a) {
    const double c = portable::cos(a.v), s = portable::sin(a.v);
    return {c, -s * a.d, -c * a.d * a.d - s * a.dd};
}
inline Jet sin(const Jet& a) {
    const double c = portable::cos(a.v), s = portable::sin(a.v);
    return {s, c * a.d, -s * a.d * a.d + c * a.dd};
}
// 1 / sqrt(a), where `root` is std::sqrt(a.v).
[[gnu::always_inline]] inline Jet InvSqrt(Jet a, double root) {
    const double r = 1.0 / root;
    const double r3 = r * r * r;
    return {r, -0.5 * r3 * a.d, 0.75 * r3 * r * r * a.d * a.d - 0.5 * r3 * a.dd};
}
[[gnu::always_inline]] inline Jet InvSqrt(Jet a) {
    return InvSqrt(a, std::sqrt(a.v));
}

struct JetVec {
    Jet x, y, z;
};
[[gnu::always_inline]] inline JetVec operator-(JetVec a, JetVec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
[[gnu::always_inline]] inline JetVec operator*(Jet s, JetVec a) {
    return {s * a.x, s * a.y, s * a.z};
}
[[gnu::always_inline]] inline JetVec operator*(double s, JetVec a) {
    return {s * a.x, s * a.y, s * a.z};
}
[[gnu::always_inline]] inline Jet Dot(JetVec a, JetVec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
[[gnu::always_inline]] inline JetVec Cross(JetVec a, JetVec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
[[gnu::always_inline]] inline JetVec UnitOf(JetVec a) {
    return InvSqrt(Dot(a, a)) * a;
}
// UnitOf where `length` is the Norm of a's value.
[[gnu::always_inline]] inline JetVec UnitOf(JetVec a, double length) {
    return InvSqrt(Dot(a, a), length) * a;
}
[[gnu::always_inline]] inline JetVec JetOf(D3 v, D3 d, D3 dd) {
    return {{v.x, d.x, dd.x}, {v.y, d.y, dd.y}, {v.z, d.z, dd.z}};
}

// The first and second derivatives at t of the heart path of a rail segment,
// as the ride profile rides it: the rail point plus h times the riders' up
// under the file's eased roll in the level frame of the rail's tangent (the
// rail point itself where the rail is vertical). The heart point itself is
// HeartPointAt's.
struct HeartJet {
    D3 d1, d2;
};
struct RollJet {
    Jet cosRoll, sinRoll;
};
RollJet RollJetAt(const RollState& rolls, double t) {
    const Jet roll = UnwrappedRoll<portable::Math>(rolls, Jet{t, 1.0, 0.0});
    // cos(roll) and sin(roll), the roll's cosine and sine taken once for both.
    const double c = portable::cos(roll.v), s = portable::sin(roll.v);
    return {{c, -s * roll.d, -c * roll.d * roll.d - s * roll.dd},
            {s, c * roll.d, -s * roll.d * roll.d + c * roll.dd}};
}
// The same from the rail's first derivative at t (FirstAt's) and its Norm,
// where the caller has them: the second and third derivatives share the
// rail's second differences.
HeartJet HeartJetAt(const Cubic& rail, const RollJet& roll, double t, const D3& d1, double speed,
                    double heartline) {
    const D3 before = rail.p2 - 2.0 * rail.p1 + rail.p0;
    const D3 after = rail.p3 - 2.0 * rail.p2 + rail.p1;
    const D3 d2 = (6.0 * (1.0 - t)) * before + (6.0 * t) * after;
    const D3 d3 = 6.0 * (after - before);
    HeartJet heart{d1, d2};
    if (!HasLevelFrame(d1, speed)) return heart;
    const JetVec tangent = UnitOf(JetOf(d1, d2, d3), speed);
    const JetVec worldDown{{0.0, 0.0, 0.0}, {-1.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
    const JetVec levelDown = UnitOf(worldDown - Dot(worldDown, tangent) * tangent);
    const JetVec side = Cross(tangent, levelDown);
    const JetVec up = (-1.0) * (roll.cosRoll * levelDown - roll.sinRoll * side);
    heart.d1 = heart.d1 + heartline * D3{up.x.d, up.y.d, up.z.d};
    heart.d2 = heart.d2 + heartline * D3{up.x.dd, up.y.dd, up.z.dd};
    return heart;
}
HeartJet HeartJetAt(const Cubic& rail, const RollJet& roll, double t, double heartline) {
    const D3 d1 = FirstAt(rail, t);
    return HeartJetAt(rail, roll, t, d1, Norm(d1), heartline);
}

// The weights PointAt and FirstAt give at t to a cubic's control points and
// to its chords, taken once for a parameter the finish visits many times.
struct CubicWeights {
    double point[4], first[3];
};
CubicWeights CubicWeightsAt(double t) {
    const double u = 1.0 - t;
    return {{u * u * u, 3.0 * t * u * u, 3.0 * t * t * u, t * t * t},
            {3.0 * u * u, 6.0 * t * u, 3.0 * t * t}};
}

// The heart point as the ride profile rides it (see HeartJet), for a roll
// whose cosine and sine are given (the rolls do not move in the finish, so
// they are taken once), at the parameter of the weights `w`. `first` and
// `speed` get the rail's first derivative there (FirstAt's) and its Norm.
D3 HeartPointAt(const Cubic& rail, const CubicWeights& w, double cosRoll, double sinRoll,
                double heartline, D3& first, double& speed) {
    const D3 point = w.point[0] * rail.p0 + w.point[1] * rail.p1 + w.point[2] * rail.p2 +
                     w.point[3] * rail.p3;
    first = w.first[0] * (rail.p1 - rail.p0) + w.first[1] * (rail.p2 - rail.p1) +
            w.first[2] * (rail.p3 - rail.p2);
    speed = Norm(first);
    LevelFrame frame;
    if (!LevelFrameOf(first, speed, frame)) return point;
    return point + heartline * (-1.0 * (cosRoll * frame.levelDown - sinRoll * frame.side));
}

// The curvature vector of a path with these derivatives (zero where it stops).
[[gnu::always_inline]] inline D3 CurvatureOf(D3 d1, D3 d2) {
    const double rate2 = Dot(d1, d1);
    if (!(rate2 > 0.0)) return {};
    return (1.0 / rate2) * (d2 - (Dot(d2, d1) / rate2) * d1);
}

// ---- Vertices on the loaded path's curvature steps ------------------------

// The walk index of the loaded path's vertex at exactly arc length s (the
// last walk point of the segment before it), or 0 where none is there.
size_t LoadedVertexAt(const PathWalk& walk, double s) {
    const auto it = std::lower_bound(walk.s.begin(), walk.s.end(), s);
    if (it == walk.s.end() || *it != s) return 0;
    const auto k = static_cast<size_t>(it - walk.s.begin());
    if (k == 0 || k + 1 >= walk.s.size() || walk.segment[k] == walk.segment[k + 1]) return 0;
    return k;
}

// The loaded path's curvature before minus after its vertex at walk index k.
D3 CurvatureJumpAt(const PathWalk& walk, size_t k) {
    const Cubic& before = walk.cubics[AsIndex(walk.segment[k])];
    const Cubic& after = walk.cubics[AsIndex(walk.segment[k + 1])];
    return CurvatureOf(FirstAt(before, 1.0), SecondAt(before, 1.0)) -
           CurvatureOf(FirstAt(after, 0.0), SecondAt(after, 0.0));
}

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
                                  double spacing, double steepest = 0.0, double within = 0.0) {
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

// The index of the vertex of `places` nearest arc length s (the first of two
// as near).
size_t NearestPlace(const std::vector<double>& places, double s) {
    const auto nearest = std::min_element(places.begin(), places.end(), [&](double a, double b) {
        return std::abs(a - s) < std::abs(b - s);
    });
    return static_cast<size_t>(nearest - places.begin());
}

// The curvature step of `steps` or `missed` nearest arc length s, within
// `reach` metres of it; null where none is.
const CurveStep* NearestStep(const std::vector<CurveStep>& steps,
                             const std::vector<CurveStep>& missed, double s, double reach) {
    const CurveStep* nearest = nullptr;
    for (const std::vector<CurveStep>* list : {&steps, &missed}) {
        for (const CurveStep& step : *list) {
            const double apart = std::abs(step.at - s);
            if (apart <= reach && (nearest == nullptr || apart < std::abs(nearest->at - s))) {
                nearest = &step;
            }
        }
    }
    return nearest;
}

// The places of the curvature steps the up may lead into (see
// LeadIntoLateralSteps and kFlipLateral): the drawn lateral half a metre
// before or after the step below kFlipLateral, the riders pressed into their
// seats (kAirtimeHigh) on both sides.
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
            return other.at != step.at && (other.at - c) * side > 0.0 && (far - other.at) * side >= 0.0;
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
        size_t lo = 0;  // the held vertex behind (0: none)
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

// `places` with a vertex on both steps of each pair of `steps` closer together
// than the segment holding one of them, where one of the two has none: the
// vertices from two before the pair to two after it spread again, the pair's
// steps and any vertex already on a step held, the others placed so that the
// segments between the held ones are as even as they can be, one vertex more
// where the window has too few and the budget of `segments` has one left.
// Empty where none moves.
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

// The unknowns of the finish: per vertex its point and its direction.
constexpr int kPerVertex = 6;

Cubic CubicFrom(const double* v, double length) {
    const double a = length / 3.0;
    const D3 p0{v[0], v[1], v[2]}, d0{v[3], v[4], v[5]};
    const D3 p1{v[6], v[7], v[8]}, d1{v[9], v[10], v[11]};
    return {p0, p0 + a * d0, p1 - a * d1, p1};
}

// The riders' raw lateral (g) at parameter t of `rail` under the eased roll
// whose jet there is `roll`, at the train's speed squared `speed2`, as the
// ride is read (see FeltLateralAlong); 0 where the rail has no level frame.
double RawLateralAt(const Cubic& rail, const RollJet& roll, double t, double speed2,
                    double heartline) {
    const D3 d1 = FirstAt(rail, t);
    const double speed = Norm(d1);
    LevelFrame frame;
    if (!LevelFrameOf(d1, speed, frame)) return 0.0;
    const D3 up = -1.0 * (roll.cosRoll.v * frame.levelDown - roll.sinRoll.v * frame.side);
    const HeartJet heart = HeartJetAt(rail, roll, t, d1, speed, heartline);
    const D3 force = speed2 * CurvatureOf(heart.d1, heart.d2) + D3{0.0, kGravity, 0.0};
    return Dot(force, Cross((1.0 / speed) * d1, up)) / kGravity;
}

// The riders' raw lateral (g) on `fit` at each of the loaded path's arc
// lengths `at` (in order), see RawLateralAt.
std::vector<double> RawLateralsAt(const std::vector<PathSample>& samples, double spacing,
                                  double heartline, const RailFit& fit,
                                  const std::vector<double>& at) {
    std::vector<double> lateral;
    const TrackData rollTrack = RollTrack(fit);
    RollState rolls = StartRolls(rollTrack);
    size_t k = 0;
    for (int i = 0; i < fit.segments && k < at.size(); ++i) {
        BeginRollSegment(rolls, rollTrack, i);
        const Cubic rail = RailCubic(fit, i);
        const double from = fit.places[AsIndex(i)], to = fit.places[AsIndex(i) + 1];
        for (; k < at.size() && (at[k] < to || i + 1 == fit.segments); ++k) {
            const double t = std::clamp((at[k] - from) / fit.lengths[AsIndex(i)], 0.0, 1.0);
            const double v = SpeedAt(samples, spacing, at[k]);
            lateral.push_back(RawLateralAt(rail, RollJetAt(rolls, t), t, v * v, heartline));
        }
        AdvanceRoll(rolls, rollTrack, i);
    }
    return lateral;
}

// What the finish holds fixed: the heart targets and the path's tangents at
// the fit points, the rolls, and the force scale at the joins.
struct FinishModel {
    const RailFit* fit = nullptr;
    double heartline = 0.0;
    // Per segment: the cosine and sine of the file's roll at every fit point,
    // and the roll's jets at the segment's start and end (the rolls stay put).
    std::vector<std::vector<double>> cosRoll, sinRoll;
    std::vector<RollJet> rollStart, rollEnd;
    std::vector<std::vector<D3>> target;   // per segment, per fit point
    std::vector<std::vector<D3>> along;    // the loaded path's unit tangent there
    std::vector<double> jointScale;        // per vertex: weight x v^2 / g
    std::vector<double> kinkScale;         // per vertex: metres per radian of heart kink
    std::vector<D3> pathJump;              // per vertex: the loaded path's curvature step there
    // Per steep segment, per fit point: the roll's jet (empty elsewhere).
    std::vector<std::vector<RollJet>> rollJets;
    // Per segment, per fit point: the loaded path's curvature, the weight of
    // the heart's curvature there (zero: not asked) and the roll's jet.
    std::vector<std::vector<D3>> pathCurvature;
    std::vector<std::vector<double>> curveScale;
    std::vector<std::vector<RollJet>> curveJets;
    // Per segment, the points where the riders' raw lateral is held (see
    // RailFit::denseAt): the parameter, the roll's jet there, the train's
    // speed squared and the lateral held (empty where none is asked).
    struct DensePoint {
        double t = 0.0;
        RollJet roll;
        double speed2 = 0.0, lateral = 0.0;
    };
    std::vector<std::vector<DensePoint>> dense;
    // Per fit point: the cubic's weights at its parameter (the same on every
    // segment).
    std::vector<CubicWeights> weights;
    // Per fit point of the segment whose residuals are being taken: the
    // rail's first derivative and its Norm, worked out with the heart point
    // and read again by its curvature (scratch, not part of the model).
    mutable std::vector<D3> first;
    mutable std::vector<double> speed;
    // Per segment: the count of its residuals (see SegmentRows).
    std::vector<size_t> rows;
};

int FirstPoint(int segment) {
    return segment == 0 ? 0 : 1;  // a join's point is counted once
}

// The count of segment i's residuals (see SegmentResiduals): 4 per fit
// point, 3 per curvature row asked, 1 per dense point and 3 per direction
// row asked.
size_t SegmentRows(const FinishModel& m, int i) {
    const RailFit& fit = *m.fit;
    size_t rows = 4 * AsIndex(fit.perSegment - FirstPoint(i));
    for (const double weight : m.curveScale[AsIndex(i)]) {
        if (weight != 0.0) rows += 3;
    }
    if (!m.dense.empty()) rows += m.dense[AsIndex(i)].size();
    if (m.rollJets[AsIndex(i)].empty()) return rows;
    for (int q = FirstPoint(i); q < fit.perSegment; ++q) {
        if (kHeartDirectionWeight * fit.steep[AsIndex(i)][AsIndex(q)] != 0.0) rows += 3;
    }
    return rows;
}

// Writes a segment's residuals in place into a buffer of the count
// SegmentRows gives: a row beyond that count, or one short of it, is a fault
// in the count, reported as such rather than written past the buffer or left
// as a stale value.
struct RowWriter {
    double* at;
    double* end;
    void Put(double value) {
        if (at == end) throw std::logic_error("the finish wrote more residuals than it counted");
        *at++ = value;
    }
    void Finish() const {
        if (at != end) throw std::logic_error("the finish wrote fewer residuals than it counted");
    }
};

// Residuals of segment i: per fit point the heart's distance from its target
// across the loaded path (3 rows) and, weakly, along it (1 row).
void SegmentResiduals(const FinishModel& m, int i, const double* v, std::vector<double>& r) {
    // Written in place: the count is known (see FinishModel::rows). A new
    // buffer gets the room pushing the rows would have grown it to: the
    // finish keeps one per segment at x and one at the trial, and with buffers of
    // the exact count the heap of a long track was laid out so that the
    // allocator handed pages back and took them again (a quarter more time
    // on a 2400-segment track, in page faults).
    if (r.capacity() < m.rows[AsIndex(i)]) r.reserve(std::bit_ceil(m.rows[AsIndex(i)]));
    r.resize(m.rows[AsIndex(i)]);
    RowWriter out{r.data(), r.data() + r.size()};
    const RailFit& fit = *m.fit;
    const Cubic rail = CubicFrom(v, fit.lengths[AsIndex(i)]);
    const auto& targets = m.target[AsIndex(i)];
    const auto& cosRoll = m.cosRoll[AsIndex(i)];
    const auto& sinRoll = m.sinRoll[AsIndex(i)];
    m.first.resize(AsIndex(fit.perSegment));
    m.speed.resize(AsIndex(fit.perSegment));
    if (FirstPoint(i) > 0) {
        m.first[0] = FirstAt(rail, 0.0);
        m.speed[0] = Norm(m.first[0]);
    }
    for (int q = FirstPoint(i); q < fit.perSegment; ++q) {
        const D3 off = HeartPointAt(rail, m.weights[AsIndex(q)], cosRoll[AsIndex(q)],
                                    sinRoll[AsIndex(q)], m.heartline, m.first[AsIndex(q)],
                                    m.speed[AsIndex(q)]) -
                       targets[AsIndex(q)];
        const D3& along = m.along[AsIndex(i)][AsIndex(q)];
        const double a = Dot(off, along);
        const bool trackEnd = fit.holdEnds && ((i == 0 && q == 0) ||
                                               (i + 1 == fit.segments && q + 1 == fit.perSegment));
        const double hold = fit.hold.empty() ? 1.0 : fit.hold[AsIndex(i)];
        const D3 across = (trackEnd ? kEndWeight : hold) * (off - a * along);
        out.Put(across.x);
        out.Put(across.y);
        out.Put(across.z);
        out.Put((trackEnd ? kEndWeight : kAlongWeight) * a);
    }
    const auto& scale = m.curveScale[AsIndex(i)];
    for (int q = 0; q < fit.perSegment; ++q) {
        const double weight = scale[AsIndex(q)];
        if (weight == 0.0) continue;
        const double t = static_cast<double>(q) / (fit.perSegment - 1);
        const HeartJet heart = HeartJetAt(rail, m.curveJets[AsIndex(i)][AsIndex(q)], t,
                                          m.first[AsIndex(q)], m.speed[AsIndex(q)], m.heartline);
        const D3 miss = weight * (CurvatureOf(heart.d1, heart.d2) - m.pathCurvature[AsIndex(i)][AsIndex(q)]);
        out.Put(miss.x);
        out.Put(miss.y);
        out.Put(miss.z);
    }
    // Where asked, the riders' raw lateral at the heart, as the ride is read
    // (see FeltLateralAlong), held to its given value.
    if (!m.dense.empty()) {
        for (const FinishModel::DensePoint& p : m.dense[AsIndex(i)]) {
            out.Put(fit.denseWeight *
                    (RawLateralAt(rail, p.roll, p.t, p.speed2, m.heartline) - p.lateral));
        }
    }
    // Near the vertical the heart's direction too: there the level frame
    // turns with every small change of the rail, and a heart held in place
    // may still wiggle across the path between the fit points.
    const auto& jets = m.rollJets[AsIndex(i)];
    if (jets.empty()) return out.Finish();
    for (int q = FirstPoint(i); q < fit.perSegment; ++q) {
        const double weight = kHeartDirectionWeight * fit.steep[AsIndex(i)][AsIndex(q)];
        if (weight == 0.0) continue;
        const double t = static_cast<double>(q) / (fit.perSegment - 1);
        const D3 d1 = Unit(
            HeartJetAt(rail, jets[AsIndex(q)], t, m.first[AsIndex(q)], m.speed[AsIndex(q)], m.heartline)
                .d1);
        const D3& along = m.along[AsIndex(i)][AsIndex(q)];
        const D3 across = weight * (d1 - Dot(d1, along) * along);
        out.Put(across.x);
        out.Put(across.y);
        out.Put(across.z);
    }
    out.Finish();
}

// The heart path's curvature and unit direction at the end of segment k - 1
// and at the start of segment k, from the unknowns of vertices k - 1, k and
// k + 1.
struct JoinSide {
    D3 curvature, direction;
};
JoinSide SideOf(const HeartJet& heart) {
    return {CurvatureOf(heart.d1, heart.d2), Unit(heart.d1)};
}
JoinSide CurvatureBefore(const FinishModel& m, int k, const double* v) {
    return SideOf(HeartJetAt(CubicFrom(v, m.fit->lengths[AsIndex(k - 1)]),
                             m.rollEnd[AsIndex(k - 1)], 1.0, m.heartline));
}
JoinSide CurvatureAfter(const FinishModel& m, int k, const double* v) {
    return SideOf(HeartJetAt(CubicFrom(v + kPerVertex, m.fit->lengths[AsIndex(k)]),
                             m.rollStart[AsIndex(k)], 0.0, m.heartline));
}

// The jump of the heart's curvature across the join; through a lean also the
// turn of its direction there (the kink), which nothing else holds: the
// join's curvature is left free there, and the fit, trading the heart's place
// against its curvature inside the segments, left the heart kinked at the
// joins (a loop drawn in one plane rode with lateral onsets of 51 and 55 g/s
// at 100 and 200 segments; 30 and 23 g/s with the kink held).
void PushJump(const FinishModel& m, int k, const JoinSide& before, const JoinSide& after,
              std::vector<double>& r) {
    const D3 jump = m.jointScale[AsIndex(k)] *
                    (before.curvature - after.curvature - m.pathJump[AsIndex(k)]);
    r.clear();
    r.push_back(jump.x);
    r.push_back(jump.y);
    r.push_back(jump.z);
    const double kink = m.kinkScale[AsIndex(k)];
    if (kink > 0.0) {
        const D3 turn = kink * (before.direction - after.direction);
        r.push_back(turn.x);
        r.push_back(turn.y);
        r.push_back(turn.z);
    }
}

// Residuals of the join at vertex k (0 < k < segments): the jump of the
// heart path's curvature there beyond the loaded path's own, scaled to g at
// the train's speed. `changed` is the one unknown moved while the Jacobian
// is taken, or -1: the side of the join a moved unknown cannot reach keeps
// the curvature of the unmoved call (kept in `cache`), which is the same
// number computed again.
struct JoinCache {
    JoinSide before, after;
};
void JoinResidualsMoved(const FinishModel& m, int k, const double* v, int changed,
                        JoinCache& cache, std::vector<double>& r) {
    if (changed < 0) {
        cache = {CurvatureBefore(m, k, v), CurvatureAfter(m, k, v)};
        PushJump(m, k, cache.before, cache.after, r);
        return;
    }
    const JoinSide before = changed < 2 * kPerVertex ? CurvatureBefore(m, k, v) : cache.before;
    const JoinSide after = changed >= kPerVertex ? CurvatureAfter(m, k, v) : cache.after;
    PushJump(m, k, before, after, r);
}

// The residuals of every segment and join at one set of unknowns, and each
// join's two sides (see JoinResidualsMoved), indexed by the join's vertex.
struct FinishResiduals {
    std::vector<std::vector<double>> segments, joins;
    std::vector<JoinCache> sides;
};

// Sum of squares of every residual at the unknowns x; the residuals are kept
// in `at`, where the next step's Jacobian starts from them.
double FinishCost(const FinishModel& m, const std::vector<double>& x, FinishResiduals& at) {
    const int segments = m.fit->segments;
    at.segments.resize(AsIndex(segments));
    at.joins.resize(AsIndex(segments));
    at.sides.resize(AsIndex(segments));
    double cost = 0.0;
    for (int i = 0; i < segments; ++i) {
        std::vector<double>& r = at.segments[AsIndex(i)];
        SegmentResiduals(m, i, &x[AsIndex(kPerVertex * i)], r);
        for (const double e : r) cost += e * e;
    }
    for (int k = 1; k < segments; ++k) {
        std::vector<double>& r = at.joins[AsIndex(k)];
        JoinResidualsMoved(m, k, &x[AsIndex(kPerVertex * (k - 1))], -1, at.sides[AsIndex(k)], r);
        for (const double e : r) cost += e * e;
    }
    return cost;
}

// Buffers the blocks of the finish reuse.
struct BlockScratch {
    std::vector<double> r1, jac;
};

// Adds one block of residuals (which read `width` unknowns from `first` on)
// to the normal equations, with its Jacobian by forward differences from
// `r0`, the residuals at x. The residuals are told which unknown moved.
template <typename Residuals>
void AddBlock(const Residuals& residuals, const std::vector<double>& r0, std::vector<double>& x,
              int first, int width, BlockScratch& scratch, LowerBand& normal,
              Eigen::VectorXd& gradient) {
    std::vector<double>& r1 = scratch.r1;
    std::vector<double>& jac = scratch.jac;
    double* v = &x[AsIndex(first)];
    const size_t rows = r0.size();
    jac.resize(rows * AsIndex(width));
    const double* base = r0.data();
    for (int c = 0; c < width; ++c) {
        const double keep = v[c];
        const double step = kJacobianStep * std::max(1.0, std::abs(keep));
        v[c] = keep + step;
        residuals(v, c, r1);
        v[c] = keep;
        const double span = (keep + step) - keep;
        const double* moved = r1.data();
        double* column = jac.data() + AsIndex(c) * rows;
        for (size_t row = 0; row < rows; ++row) column[row] = (moved[row] - base[row]) / span;
    }
    // The Jacobian is kept column by column; each sum below runs over the
    // rows in order. Columns a are taken two at a time and columns b four
    // at a time, so that one pass over the rows serves eight sums that do
    // not wait on one another (the sum of column a with column a + 1 lies
    // above the diagonal and is dropped).
    int a = 0;
    for (; a + 1 < width; a += 2) {
        const double* ja = jac.data() + AsIndex(a) * rows;
        const double* ka = ja + rows;  // column a + 1
        double g0 = 0.0, g1 = 0.0;
        for (size_t row = 0; row < rows; ++row) {
            g0 += ja[row] * base[row];
            g1 += ka[row] * base[row];
        }
        gradient(first + a) += g0;
        gradient(first + a + 1) += g1;
        int b = 0;
        for (; b + 3 <= a + 1; b += 4) {
            const double* j0 = jac.data() + AsIndex(b) * rows;
            const double* j1 = j0 + rows;
            const double* j2 = j1 + rows;
            const double* j3 = j2 + rows;
            double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
            double t0 = 0.0, t1 = 0.0, t2 = 0.0, t3 = 0.0;
            for (size_t row = 0; row < rows; ++row) {
                s0 += ja[row] * j0[row];
                s1 += ja[row] * j1[row];
                s2 += ja[row] * j2[row];
                s3 += ja[row] * j3[row];
                t0 += ka[row] * j0[row];
                t1 += ka[row] * j1[row];
                t2 += ka[row] * j2[row];
                t3 += ka[row] * j3[row];
            }
            normal.Add(first + a, first + b, s0);
            normal.Add(first + a, first + b + 1, s1);
            normal.Add(first + a, first + b + 2, s2);
            if (b + 3 <= a) normal.Add(first + a, first + b + 3, s3);
            normal.Add(first + a + 1, first + b, t0);
            normal.Add(first + a + 1, first + b + 1, t1);
            normal.Add(first + a + 1, first + b + 2, t2);
            normal.Add(first + a + 1, first + b + 3, t3);
        }
        if (b <= a) {  // b == a: columns a and a + 1 with themselves and each other
            double s0 = 0.0, t0 = 0.0, t1 = 0.0;
            for (size_t row = 0; row < rows; ++row) {
                s0 += ja[row] * ja[row];
                t0 += ka[row] * ja[row];
                t1 += ka[row] * ka[row];
            }
            normal.Add(first + a, first + a, s0);
            normal.Add(first + a + 1, first + a, t0);
            normal.Add(first + a + 1, first + a + 1, t1);
        }
    }
    for (; a < width; ++a) {
        const double* ja = jac.data() + AsIndex(a) * rows;
        double g = 0.0;
        for (size_t row = 0; row < rows; ++row) g += ja[row] * base[row];
        gradient(first + a) += g;
        for (int b = 0; b <= a; ++b) {
            const double* jb = jac.data() + AsIndex(b) * rows;
            double sum = 0.0;
            for (size_t row = 0; row < rows; ++row) sum += ja[row] * jb[row];
            normal.Add(first + a, first + b, sum);
        }
    }
}

// Whether a fit point of segment i lies where the riders lean through the
// vertical (false beyond the track's ends).
bool SegmentLeans(const std::vector<PathSample>& samples, double spacing, const RailFit& fit,
                  int i) {
    if (i < 0 || i >= fit.segments) return false;
    for (int q = 0; q < fit.perSegment; ++q) {
        if (InLean(samples, spacing,
                   fit.places[AsIndex(i)] +
                       fit.lengths[AsIndex(i)] * q / static_cast<double>(fit.perSegment - 1))) {
            return true;
        }
    }
    return false;
}

// Whether the finish holds the heart's curvature on segment i although the
// rail runs steep there (Steepness above 0, a slope of 26 degrees or more):
// where the roll turns over the segment and the rail nowhere reaches the
// vertical. The eased roll's acceleration jumps at every vertex, and a heart
// whose curvature is left free there jumps with it by about
// 6 x (roll change) x h / length^2 (case_065 and case_072 at four times their
// segments: lateral onsets of 17.7 and 21.7 g/s on 30 degree drops, against
// 5.3 and 10.1 g/s on the drawn tracks). Held there with the level share of
// the rail's tangent (1 - Steepness), the rail takes up the jump where its
// frame allows it (there: 5.2 and 8.6 g/s). Not beside a lean: its joins
// hold the heart's direction only (see PushJump), and a curvature held on one
// side of such a join only moves the jump the eased roll leaves there.
bool SlopeCurveShare(const std::vector<PathSample>& samples, double spacing, const RailFit& fit,
                     int i) {
    const std::vector<double>& steep = fit.steep[AsIndex(i)];
    return std::abs(fit.rolls[AsIndex(i) + 1] - fit.rolls[AsIndex(i)]) > kTurningRoll &&
           std::all_of(steep.begin(), steep.end(), [](double x) { return x < 1.0; }) &&
           !SegmentLeans(samples, spacing, fit, i - 1) && !SegmentLeans(samples, spacing, fit, i + 1);
}

// The weight of the heart's curvature within a felt window of a drawn
// curvature step where the segments there are shorter than the window (see
// RippledSteps), against elsewhere. The file's eased roll bends the heart
// along each segment in a shape the rail's straight-running curvature cannot
// follow (1 - cos, with about 0.2 of its swing left over), and the finish,
// trading that against the heart's place, leaves a ripple with the segments'
// period, peaking just past each join. The felt window averages it away
// except across a drawn step, where a peak at its front and a trough at its
// back add to the step's own swing (random case_023, 24 m/s on 1.5-2 m
// segments, at one, two and four times its count: lateral onsets 0.57, 0.40
// and 0.94 g/s beyond 1.1 times the drawn track's + 1; case_105 2.14, 1.41
// and 1.48; with the weight doubled there, 0.19, 0.88 and 0.22, and 1.25,
// 0.48 and 0.82). Not on a track whose riders lean through a loop, where the
// placement does not follow the steps either.
constexpr double kStepCurveWeight = 2.0;

// The curvature steps `steps` around which every segment of `fit` reaching
// within a felt window of the step is shorter than the window: there the
// window takes in the ripple of several segments (see kStepCurveWeight).
// Where a longer segment reaches in, the step's swing is mostly that
// segment's own, and the weight on its short neighbours only stirs the fit:
// random case_160 (54 segments) refines its first fit's segments to 3.2-4.2 m
// at two steps, against windows of 4.5-4.7 m and beside segments of 4.7-8.3 m;
// weighted, their hearts moved a little (the largest stray not at all), the
// next round's limits moved its vertices by a centimetre, a broken fit in the
// rounds after (hearts metres astray on 74 m segments) turned that into
// another placement of every later vertex, and the kept track rode 0.14 g
// beyond its gap target at a step the weight never touched.
std::vector<CurveStep> RippledSteps(std::vector<CurveStep> steps, const RailFit& fit) {
    const auto longerReachesIn = [&](const CurveStep& step) {
        const double window = step.speed * kFeltWindow;
        for (int i = 0; i < fit.segments; ++i) {
            const double from = fit.places[AsIndex(i)];
            const double to = fit.places[AsIndex(i) + 1];
            if (to < step.at - window || from > step.at + window) continue;
            if (!(to - from < window)) return true;
        }
        return false;
    };
    steps.erase(std::remove_if(steps.begin(), steps.end(), longerReachesIn), steps.end());
    return steps;
}

// Whether the heart's curvature at arc length s takes kStepCurveWeight: within
// a felt window of one of `steps` (see RippledSteps).
bool NearCurveStep(const std::vector<CurveStep>& steps, double s) {
    return std::any_of(steps.begin(), steps.end(), [&](const CurveStep& step) {
        return std::abs(s - step.at) <= step.speed * kFeltWindow;
    });
}

// Metres the heart may leave the loaded path so that its curvature ramps
// across a drawn curvature step instead of stepping with it, and the
// segments' length, as a share of the ramp's width, up to which a rail can
// follow the ramp (see StepRamps). A force whose direction steps, ridden in
// a frame that rolls continuously, stands up to half the step sideways just
// before and after it whatever the roll does: the up rolls about the step's
// middle, and the riders feel the step's force turned by half its angle
// until the roll has caught up (random case_061 at 28 m/s, heartline
// -0.04 m: a step from 2.8 g vertical to 2.1 g lateral rode as 1.16 g raw
// lateral against 0.34 g felt, 0.28 g beyond the drawn track's gap and its
// tolerance; case_094 at twice its segments, a flat 4.7 g turn stepping in
// 8 m from its start, 2.68 g raw against 1.96 g felt). A heart whose
// curvature ramps over a stretch of the felt window carries that turn with
// the roll (case_094: 2.28 g raw against 1.92 g felt). The fit brings the
// heart back onto the path just past the ramp with a lobe of the opposite
// curvature, which the felt window takes in: a ramp wide enough to stray
// 3 mm raised case_058's lateral onset at four times its count 0.14 g/s
// beyond 1.1 times the drawn track's + 1.
constexpr double kStepRampStray = 0.002;
constexpr double kStepRampSegment = 2.0;

// Half the width of the ramp across `step`: half the felt window, or less
// where the heart would stray further than kStepRampStray. A curvature step
// of k ramped evenly over 2r bends the heart away from the loaded path by
// k r^2 / 6 past the ramp, k r^2 / 12 either way where the fit splits it.
double StepRampReach(const CurveStep& step) {
    const double jump = step.force * kGravity / (step.speed * step.speed);
    return std::min(0.5 * step.speed * kFeltWindow, std::sqrt(12.0 * kStepRampStray / jump));
}

// The curvature steps `steps` across which the heart's curvature is asked to
// ramp: where every segment of `fit` reaching into the ramp is shorter than
// kStepRampSegment times its width. A cubic's curvature runs straight along
// a longer segment, which cannot bend into the ramp and back: there the fit
// only gives up the heart's place for it (asked to ramp across such
// segments, random case_048 and case_151 at their own counts, 28 and 15
// segments of 14 and 19 m, were refused with hearts 2.0 and 2.7 cm astray),
// and a vertex on the step keeps the jump (see AlignCurveSteps).
std::vector<CurveStep> StepRamps(std::vector<CurveStep> steps, const RailFit& fit) {
    const auto longerReachesIn = [&](const CurveStep& step) {
        const double reach = StepRampReach(step);
        for (int i = 0; i < fit.segments; ++i) {
            const double from = fit.places[AsIndex(i)];
            const double to = fit.places[AsIndex(i) + 1];
            if (to < step.at - reach || from > step.at + reach) continue;
            if (!(to - from < kStepRampSegment * 2.0 * reach)) return true;
        }
        return false;
    };
    steps.erase(std::remove_if(steps.begin(), steps.end(), longerReachesIn), steps.end());
    return steps;
}

// Points of the loaded path over which RampedCurvature averages.
constexpr int kRampPoints = 16;

// Where arc length s lies within the ramp of one of `ramps` (see StepRamps),
// sets `curvature` to the loaded path's curvature averaged over the ramp's
// width about s (across the step, a ramp from the curvature before it to the
// one after) and returns true.
bool RampedCurvature(const PathWalk& walk, const std::vector<CurveStep>& ramps, double s,
                     D3& curvature) {
    for (const CurveStep& step : ramps) {
        const double reach = StepRampReach(step);
        if (!(std::abs(s - step.at) < reach)) continue;
        D3 sum{};
        for (int k = 0; k < kRampPoints; ++k) {
            const double at = std::clamp(s - reach + 2.0 * reach * (k + 0.5) / kRampPoints, 0.0,
                                         walk.s.back());
            const PathPlace place = Locate(walk, at);
            const Cubic& c = walk.cubics[AsIndex(place.segment)];
            sum = sum + CurvatureOf(FirstAt(c, place.t), SecondAt(c, place.t));
        }
        curvature = (1.0 / kRampPoints) * sum;
        return true;
    }
    return false;
}

// A large drawn curvature step that falls inside one of the fit's segments,
// with neither a vertex on it nor a ramp across it (see StepRamps): the
// segment, the arc length of the step and the loaded path's curvature jump
// there (before minus after).
struct SpreadStep {
    int segment = 0;
    double at = 0.0;
    D3 jump;
};

// The steps among `steps` of at least kStepSideForce that the heart's
// curvature is asked to spread over the whole segment holding them. A
// cubic's curvature runs straight along a segment; asked for the step at its
// fit points, the fit smears the step and overshoots it on both sides, raw
// force the felt window averages away (random case_143 at twice its count,
// before a vertex was put on its step: a 7.5 g step 70 % into a 2.5 m
// segment, 1.06 g beyond the drawn track's gap and its tolerance; at four
// times, 0.42 g). Asked for the straight run from the curvature at the
// segment's start to the one at its end, the fit follows it (0.53 g and
// within). Only on segments shorter than the felt window. Smaller steps are left alone: spread, a 4.5 g step on a 2.4 m
// segment (case_182) rode with lateral onsets up to 0.7 g/s beyond 1.1 times
// the drawn track's + 1.
std::vector<SpreadStep> SpreadSteps(const PathWalk& walk, const std::vector<CurveStep>& steps,
                                    const std::vector<CurveStep>& ramps, const RailFit& fit) {
    std::vector<SpreadStep> spread;
    for (const CurveStep& step : steps) {
        if (step.force < kStepSideForce) continue;
        const auto ramped = [&](const CurveStep& ramp) { return ramp.at == step.at; };
        if (std::any_of(ramps.begin(), ramps.end(), ramped)) continue;
        const auto after = std::upper_bound(fit.places.begin(), fit.places.end(), step.at);
        if (after == fit.places.begin() || after == fit.places.end()) continue;
        const auto i = static_cast<int>(after - fit.places.begin()) - 1;
        if (!(fit.places[AsIndex(i)] < step.at)) continue;
        if (!(fit.lengths[AsIndex(i)] < step.speed * kFeltWindow)) continue;
        // Not on a segment too short for AlignCurveSteps to move a vertex
        // onto its step: the felt window averages that segment's overshoot
        // away, and spread there the step rode more felt lateral (random
        // case_013 at four times its count: a 4.8 g step on a 2.1 m segment,
        // half a window: 2.72 g against 2.57).
        if (fit.lengths[AsIndex(i)] < kCurveStepSegment * step.speed * kFeltWindow) continue;
        // Nor where a vertex of the segment already sits on a step, which the
        // rail takes up as a jump there: spread beside such a vertex, the
        // step rode a larger gap (random case_081, a crest running into a
        // valley, at four times its count: 0.26 g beyond the drawn track's
        // gap and its tolerance against 0.02).
        const auto onEnd = [&](const CurveStep& other) {
            return other.at == fit.places[AsIndex(i)] || other.at == fit.places[AsIndex(i) + 1];
        };
        if (std::any_of(steps.begin(), steps.end(), onEnd)) continue;
        const size_t w = LoadedVertexAt(walk, step.at);
        if (w == 0) continue;
        spread.push_back({i, step.at, CurvatureJumpAt(walk, w)});
    }
    return spread;
}

// A few Levenberg-Marquardt steps over every control point, with the heart
// computed exactly as the ride profile computes it: the heart held on the
// loaded path and its curvature continuous across the joins.
void FinishFit(const PathWalk& walk, const std::vector<PathSample>& samples, double spacing,
               double heartline, RailFit& fit) {
    FinishModel m;
    m.fit = &fit;
    const bool leansAnywhere = std::any_of(samples.begin(), samples.end(),
                                           [](const PathSample& p) { return p.leanWidth > 0.0; });
    const std::vector<CurveStep> drawnSteps =
        leansAnywhere ? std::vector<CurveStep>{} : CurveSteps(walk, samples, spacing);
    // Through a loop's lean the frame turns with the lean, and the drawn
    // steps are neither ramped nor spread; where the fit asks (see
    // FitTuning), those further than a lean's half width from it are, as on
    // a track without one.
    std::vector<CurveStep> rampedSteps = drawnSteps;
    if (leansAnywhere && fit.rampsAwayFromLean) {
        for (const CurveStep& step : CurveSteps(walk, samples, spacing)) {
            if (std::none_of(samples.begin(), samples.end(), [&](const PathSample& p) {
                    return p.leanWidth > 0.0 && std::abs(p.s - step.at) < p.leanWidth;
                })) {
                rampedSteps.push_back(step);
            }
        }
    }
    const std::vector<CurveStep> steps = RippledSteps(drawnSteps, fit);
    std::vector<CurveStep> ramps = StepRamps(rampedSteps, fit);
    const std::vector<SpreadStep> spread = SpreadSteps(walk, rampedSteps, ramps, fit);
    // Where the fit asks (see FitTuning), the drawn steps on slopes up to
    // kMissedStepSteepness are ramped too, and the heart's curvature is held
    // on the segments reaching into their ramps, with the rail's level share
    // as on a sloped segment (see SlopeCurveShare).
    std::vector<CurveStep> slopeRamps;
    if (fit.rampsOnSlopes && !leansAnywhere) {
        std::vector<CurveStep> slopeSteps;
        for (const CurveStep& step : CurveSteps(walk, samples, spacing, kMissedStepSteepness)) {
            const auto same = [&](const CurveStep& drawn) { return drawn.at == step.at; };
            if (std::none_of(drawnSteps.begin(), drawnSteps.end(), same))
                slopeSteps.push_back(step);
        }
        slopeRamps = StepRamps(std::move(slopeSteps), fit);
        ramps.insert(ramps.end(), slopeRamps.begin(), slopeRamps.end());
    }
    m.heartline = heartline;
    for (int q = 0; q < fit.perSegment; ++q) {
        m.weights.push_back(CubicWeightsAt(static_cast<double>(q) / (fit.perSegment - 1)));
    }
    const TrackData rollTrack = RollTrack(fit);
    RollState rolls = StartRolls(rollTrack);
    for (int i = 0; i < fit.segments; ++i) {
        BeginRollSegment(rolls, rollTrack, i);
        m.rollStart.push_back(RollJetAt(rolls, 0.0));
        m.rollEnd.push_back(RollJetAt(rolls, 1.0));
        std::vector<double> cosRoll, sinRoll;
        for (int q = 0; q < fit.perSegment; ++q) {
            const double roll = UnwrappedRoll<portable::Math>(rolls, static_cast<double>(q) / (fit.perSegment - 1));
            cosRoll.push_back(portable::cos(roll));
            sinRoll.push_back(portable::sin(roll));
        }
        m.cosRoll.push_back(std::move(cosRoll));
        m.sinRoll.push_back(std::move(sinRoll));
        std::vector<RollJet> jets;
        if (std::any_of(fit.steep[AsIndex(i)].begin(), fit.steep[AsIndex(i)].end(),
                        [](double x) { return x > 0.0; })) {
            for (int q = 0; q < fit.perSegment; ++q) {
                jets.push_back(RollJetAt(rolls, static_cast<double>(q) / (fit.perSegment - 1)));
            }
        }
        m.rollJets.push_back(std::move(jets));
        std::vector<D3> pathCurvature(AsIndex(fit.perSegment));
        std::vector<double> curveScale(AsIndex(fit.perSegment), 0.0);
        std::vector<RollJet> curveJets(AsIndex(fit.perSegment));
        // Not where the rail turns steep: there the file's eased roll, turning
        // with the level frame, bends the heart whatever the rail does, and
        // the finish holds the heart's place and direction only. Through a
        // lean the frame turns slowly enough to hold the curvature inside
        // the segments too (their joins are left free, see below). On a
        // slope short of the vertical where the roll turns, it is held with
        // the level share of the rail's tangent (see SlopeCurveShare).
        const std::vector<double>& steep = fit.steep[AsIndex(i)];
        const bool leaning = SegmentLeans(samples, spacing, fit, i);
        const bool sloped = SlopeCurveShare(samples, spacing, fit, i);
        const bool rampedSlope =
            std::all_of(steep.begin(), steep.end(),
                        [](double x) { return x <= kMissedStepSteepness; }) &&
            std::any_of(slopeRamps.begin(), slopeRamps.end(), [&](const CurveStep& step) {
                const double reach = StepRampReach(step);
                return fit.places[AsIndex(i)] < step.at + reach &&
                       fit.places[AsIndex(i) + 1] > step.at - reach;
            });
        const bool level =
            fit.curveWeight > 0.0 &&
            (leaning || sloped || rampedSlope ||
             std::all_of(steep.begin(), steep.end(), [](double x) { return x == 0.0; }));
        for (int q = 0; level && q < fit.perSegment; ++q) {
            const bool inner = q > 0 && q + 1 < fit.perSegment && q % kInnerStride == 0;
            const bool join = (q == 0 && (i > 0 || fit.curveAtStart)) ||
                              (q + 1 == fit.perSegment && (i + 1 < fit.segments || fit.curveAtEnd));
            if (!inner && !join) continue;
            const double t = static_cast<double>(q) / (fit.perSegment - 1);
            const double s = fit.places[AsIndex(i)] + fit.lengths[AsIndex(i)] * t;
            const double v = SpeedAt(samples, spacing, s);
            // A segment ending on a curvature step of the loaded path
            // takes the curvature before the step.
            PathPlace at = Locate(walk, s);
            if (q + 1 == fit.perSegment) {
                const size_t w = LoadedVertexAt(walk, fit.places[AsIndex(i) + 1]);
                if (w > 0) at = {walk.segment[w], 1.0};
            }
            const Cubic& c = walk.cubics[AsIndex(at.segment)];
            pathCurvature[AsIndex(q)] = CurvatureOf(FirstAt(c, at.t), SecondAt(c, at.t));
            // Across a spread step, the straight run from the curvature
            // before it at the segment's start to the one after it at the end.
            if (!RampedCurvature(walk, ramps, s, pathCurvature[AsIndex(q)])) {
                for (const SpreadStep& step : spread) {
                    if (step.segment != i) continue;
                    const double past = s > step.at ? 1.0 : 0.0;
                    pathCurvature[AsIndex(q)] = pathCurvature[AsIndex(q)] + (past - t) * step.jump;
                }
            }
            // Only where the roll turns over the segment: the ripple is the
            // eased roll's, and where the roll stands still the weight only
            // trades the joins' continuity away (an airtime hill's run-outs,
            // vertical steps, at 100 and 400 segments: the heart's curvature
            // jumps at its joins rose from under a tenth of the drawn jump to
            // 13 and 24 %). Not on the first or last two segments, where the
            // hearts have little to hold them.
            const bool stepped =
                !leaning && steep[AsIndex(q)] == 0.0 && i >= 2 && i + 2 < fit.segments &&
                std::abs(fit.rolls[AsIndex(i) + 1] - fit.rolls[AsIndex(i)]) > kTurningRoll &&
                NearCurveStep(steps, s);
            curveScale[AsIndex(q)] = (stepped ? kStepCurveWeight : 1.0) *
                                     (leaning ? kLeanCurveShare : 1.0 - steep[AsIndex(q)]) *
                                     fit.curveWeight * v * v / kGravity;
            curveJets[AsIndex(q)] = RollJetAt(rolls, t);
        }
        m.pathCurvature.push_back(std::move(pathCurvature));
        m.curveScale.push_back(std::move(curveScale));
        m.curveJets.push_back(std::move(curveJets));
        if (!fit.denseAt.empty()) {
            m.dense.emplace_back();
            const double from = fit.places[AsIndex(i)], to = fit.places[AsIndex(i) + 1];
            for (size_t k = 0; k < fit.denseAt.size(); ++k) {
                const double s = fit.denseAt[k];
                if (s < from || s > to || (s == to && i + 1 < fit.segments)) continue;
                const double t = (s - from) / fit.lengths[AsIndex(i)];
                const double v = SpeedAt(samples, spacing, s);
                m.dense.back().push_back({t, RollJetAt(rolls, t), v * v, fit.denseLateral[k]});
            }
        }
        AdvanceRoll(rolls, rollTrack, i);
        std::vector<D3> targets, along;
        for (int q = 0; q < fit.perSegment; ++q) {
            const double s = fit.places[AsIndex(i)] +
                             fit.lengths[AsIndex(i)] * q / static_cast<double>(fit.perSegment - 1);
            const PathPlace at = Locate(walk, s);
            const Cubic& c = walk.cubics[AsIndex(at.segment)];
            targets.push_back(PointAt(c, at.t));
            along.push_back(Unit(FirstAt(c, at.t)));
        }
        m.target.push_back(std::move(targets));
        m.along.push_back(std::move(along));
    }
    for (size_t k = 0; k < fit.places.size(); ++k) {
        const double v = SpeedAt(samples, spacing, fit.places[k]);
        // Near the vertical the file's eased roll, following the level
        // frame's turn, bends the heart at every join whatever the rail does:
        // there the finish holds the heart's place only. Through a lean the
        // same: the curvature held inside its segments is what holds the
        // joins there, with the heart's direction across them.
        const double steep = Steepness(RailTangentAt(samples, spacing, fit.places[k]));
        const bool leaning = InLean(samples, spacing, fit.places[k]);
        const double share = leaning ? 0.0 : 1.0 - steep;
        m.jointScale.push_back(share * kJoinWeight * v * v / kGravity);
        m.kinkScale.push_back(leaning ? kLeanKinkWeight : 0.0);
        // On a curvature step of the loaded path (see AlignCurveSteps) the
        // heart's curvature jumps with the path's, unless it ramps across it.
        const size_t w = LoadedVertexAt(walk, fit.places[k]);
        D3 ramped;
        const bool jumps = w > 0 && !RampedCurvature(walk, ramps, fit.places[k], ramped);
        m.pathJump.push_back(jumps ? CurvatureJumpAt(walk, w) : D3{});
    }
    for (int i = 0; i < fit.segments; ++i) m.rows.push_back(SegmentRows(m, i));

    const int n = kPerVertex * (fit.segments + 1);
    std::vector<double> x(AsIndex(n));
    for (size_t k = 0; k < fit.point.size(); ++k) {
        const D3& p = fit.point[k];
        const D3& d = fit.direction[k];
        const double values[kPerVertex] = {p.x, p.y, p.z, d.x, d.y, d.z};
        std::copy(values, values + kPerVertex, x.begin() + static_cast<std::ptrdiff_t>(kPerVertex * k));
    }
    // The residuals at x, and at the trial of each damping.
    FinishResiduals at, trialAt;
    double cost = FinishCost(m, x, at);
    double damping = kInitialDamping;
    // Every step's normal equations have the same pattern: it is analysed
    // once, and each damping only factorises anew.
    UpperSolver solver;
    bool analysed = false;
    BlockScratch scratch;
    JoinCache joinCache;
    // A join's rows reach the unknowns of three vertices.
    LowerBand band(n, 3 * kPerVertex);
    // The normal matrix, as its upper triangle.
    SparseMatrix normal;
    for (int step = 0; step < kFinishSteps; ++step) {
        band.Clear();
        Eigen::VectorXd gradient = Eigen::VectorXd::Zero(n);
        for (int i = 0; i < fit.segments; ++i) {
            AddBlock([&](const double* v, int, std::vector<double>& r) { SegmentResiduals(m, i, v, r); },
                     at.segments[AsIndex(i)], x, kPerVertex * i, 2 * kPerVertex, scratch, band,
                     gradient);
        }
        for (int k = 1; k < fit.segments; ++k) {
            joinCache = at.sides[AsIndex(k)];
            AddBlock(
                [&](const double* v, int changed, std::vector<double>& r) {
                    JoinResidualsMoved(m, k, v, changed, joinCache, r);
                },
                at.joins[AsIndex(k)], x, kPerVertex * (k - 1), 3 * kPerVertex, scratch, band,
                gradient);
        }
        band.WriteUpperInto(normal);
        const Eigen::VectorXd diagonal = normal.diagonal();
        if (!analysed) {
            solver.analyzePattern(normal);
            analysed = true;
        }
        bool improved = false;
        for (int attempt = 0; attempt < kDampingAttempts && !improved; ++attempt) {
            SparseMatrix damped = normal;
            for (int k = 0; k < n; ++k) {
                damped.coeffRef(k, k) += damping * diagonal(k) + kDampingFloor;
            }
            solver.factorize(damped);
            if (solver.info() != Eigen::Success) {
                damping *= 10.0;
                continue;
            }
            const Eigen::VectorXd delta = solver.solve(-gradient);
            std::vector<double> trial(x);
            for (int k = 0; k < n; ++k) trial[AsIndex(k)] += delta(k);
            const double trialCost = FinishCost(m, trial, trialAt);
            if (trialCost < cost) {
                x = std::move(trial);
                std::swap(at, trialAt);
                cost = trialCost;
                damping = std::max(damping / 3.0, kInitialDamping * 1e-3);
                improved = true;
            } else {
                damping *= 10.0;
            }
        }
        if (!improved) break;
    }
    for (size_t k = 0; k < fit.point.size(); ++k) {
        const double* v = &x[kPerVertex * k];
        fit.point[k] = {v[0], v[1], v[2]};
        fit.direction[k] = {v[3], v[4], v[5]};
    }
}

// How far `point` lies from the loaded path, whose point at arc length s is
// about the nearest: a few steps along the path to the foot of the
// perpendicular (a long segment's hearts may run a little ahead of or behind
// the arc length they were fitted at without leaving the path).
double DistanceFromPath(const PathWalk& walk, const D3& point, double s) {
    const double length = walk.s.back();
    double at = s;
    // Each place is located once, for the heart there and the step from it.
    PathPlace place = Locate(walk, at);
    D3 off = point - PointAt(walk.cubics[AsIndex(place.segment)], place.t);
    for (int step = 0; step < kNearestSteps; ++step) {
        const D3 along = Unit(FirstAt(walk.cubics[AsIndex(place.segment)], place.t));
        at = std::clamp(at + Dot(off, along), 0.0, length);
        place = Locate(walk, at);
        off = point - PointAt(walk.cubics[AsIndex(place.segment)], place.t);
    }
    return Norm(off);
}

// Where the fitted rail, ridden as every reader of the file rides it (with
// the heart on the rail where the rail is vertical), lets the heart stray
// furthest from the loaded path: the distance and its arc length.
struct Stray {
    double distance = 0.0;
    double at = 0.0;
};
// Calls visit(i, t, s, rail, rolls) at every fit point of the rail: segment
// i, parameter t, arc length s, the segment's cubic and the file's roll
// interpolation ready for the segment. Given a `step` (metres), a segment
// whose fit points lie further apart is visited at more points of even
// parameter, about `step` apart.
template <typename Visit>
void ForEachFitPoint(const RailFit& fit, Visit&& visit,
                     double step = std::numeric_limits<double>::infinity()) {
    const TrackData rollTrack = RollTrack(fit);
    RollState rolls = StartRolls(rollTrack);
    for (int i = 0; i < fit.segments; ++i) {
        BeginRollSegment(rolls, rollTrack, i);
        const Cubic rail = RailCubic(fit, i);
        const int points = std::max(
            fit.perSegment, static_cast<int>(std::ceil(fit.lengths[AsIndex(i)] / step)) + 1);
        for (int q = 0; q < points; ++q) {
            const double t = static_cast<double>(q) / (points - 1);
            visit(i, t, fit.places[AsIndex(i)] + t * fit.lengths[AsIndex(i)], rail, rolls);
        }
        AdvanceRoll(rolls, rollTrack, i);
    }
}

// How far the heart at parameter t of `rail` lies from the loaded path.
double HeartStray(const PathWalk& walk, double heartline, double t, double s, const Cubic& rail,
                  const RollState& rolls) {
    D3 heart = PointAt(rail, t);
    LevelFrame frame;
    if (LevelFrameOf(FirstAt(rail, t), frame)) {
        heart = heart + heartline * UpOf(frame, UnwrappedRoll<portable::Math>(rolls, t));
    }
    return DistanceFromPath(walk, heart, s);
}
// The farthest stray of each segment, at its fit points (given a `step`,
// also at points about `step` apart, see ForEachFitPoint).
std::vector<Stray> SegmentStrays(const PathWalk& walk, double heartline, const RailFit& fit,
                                 double step = std::numeric_limits<double>::infinity()) {
    std::vector<Stray> strays(AsIndex(fit.segments));
    ForEachFitPoint(
        fit,
        [&](int i, double t, double s, const Cubic& rail, const RollState& rolls) {
            const double distance = HeartStray(walk, heartline, t, s, rail, rolls);
            Stray& largest = strays[AsIndex(i)];
            if (!(distance <= largest.distance)) largest = {distance, s};
        },
        step);
    return strays;
}
// The jolt (see HardestJolt) at parameter t of a rail segment, at arc length s.
double JoltAt(const std::vector<PathSample>& samples, double spacing, double heartline, double t,
              double s, const Cubic& rail, const RollState& rolls) {
    const HeartJet heart = HeartJetAt(rail, RollJetAt(rolls, t), t, heartline);
    const double x = std::clamp(s / spacing, 0.0, static_cast<double>(samples.size() - 1));
    const PathSample& there = samples[static_cast<size_t>(std::nearbyint(x))];
    return Norm(CurvatureOf(heart.d1, heart.d2) - there.curvature) * there.speed * there.speed /
           kGravity;
}
// The hardest jolt the new rail gives the riders beyond the loaded path's:
// the largest difference, in g, between the force of the heart path's
// curvature and that of the loaded path's at the same place, at every fit
// point (both ends of every join included) at the train's speed there. A
// heart held within a centimetre may still wiggle at a fraction of a metre,
// which rides as a kick of tens of g.
Stray HardestJolt(const std::vector<PathSample>& samples, double spacing, double heartline,
                  const RailFit& fit) {
    Stray hardest;
    ForEachFitPoint(fit, [&](int, double t, double s, const Cubic& rail, const RollState& rolls) {
        const double jolt = JoltAt(samples, spacing, heartline, t, s, rail, rolls);
        if (!(jolt <= hardest.distance)) hardest = {jolt, s};
    });
    return hardest;
}
// The jolts (see HardestJolt) of a rail read in one pass over its fit
// points: the hardest, the harder of those at the rail's first and last
// points (see kLargestEndJolt) and the hardest of each segment.
struct RailJolts {
    Stray hardest;
    double end = 0.0;
    std::vector<double> segments;
};
RailJolts JoltsOf(const std::vector<PathSample>& samples, double spacing, double heartline,
                  const RailFit& fit) {
    RailJolts jolts;
    jolts.segments.assign(AsIndex(fit.segments), 0.0);
    ForEachFitPoint(fit, [&](int i, double t, double s, const Cubic& rail, const RollState& rolls) {
        const double jolt = JoltAt(samples, spacing, heartline, t, s, rail, rolls);
        if (!(jolt <= jolts.hardest.distance)) jolts.hardest = {jolt, s};
        double& segment = jolts.segments[AsIndex(i)];
        if (!(jolt <= segment)) segment = jolt;
        if ((i == 0 && t == 0.0) || (i + 1 == fit.segments && t == 1.0)) {
            jolts.end = std::max(jolts.end, jolt);
        }
    });
    return jolts;
}
// The ride profile's sample spacing (metres of heart path): the felt lateral
// that judges the wobble merges is read on the same grid (see
// FeltLateralAlong), since the wobble from join to join of segments twice
// that long aliases on it.
constexpr double kFeltSpacing = 0.25;
// One sample of the felt lateral along a fit's heart path: its arc length
// along the heart, the train's speed there, the felt lateral (g) and whether
// the rail has a level frame there (counted).
struct FeltSample {
    double distance = 0.0;
    double along = 0.0;  // the loaded path's arc length there
    double speed = 0.0;
    double felt = 0.0;
    double raw = 0.0;  // the lateral (g) before the felt window's mean
    bool counted = false;
};
// The felt value of each counted sample of `along`: the mean of the lateral
// force `raw` over the counted samples within half the felt window either
// side, each window from the first counted sample at or past its start to
// the last at or before its end, as the ride profile takes it.
void AverageOverFeltWindow(std::vector<FeltSample>& along, const std::vector<double>& raw) {
    std::vector<double> distance, sums(1, 0.0);
    for (size_t j = 0; j < along.size(); ++j) {
        if (!along[j].counted) continue;
        distance.push_back(along[j].distance);
        sums.push_back(sums.back() + raw[j]);
    }
    // Each window's ends lie where std::lower_bound and std::upper_bound find
    // them in the ordered distances, stepped to from the window before's (a
    // window moves by about a sample from one sample to the next).
    size_t lo = 0, hi = 0;
    for (FeltSample& sample : along) {
        if (!sample.counted) continue;
        const double half = 0.5 * kFeltWindow * sample.speed;
        const double from = sample.distance - half, to = sample.distance + half;
        while (lo < distance.size() && distance[lo] < from) ++lo;
        while (lo > 0 && !(distance[lo - 1] < from)) --lo;
        while (hi < distance.size() && !(to < distance[hi])) ++hi;
        while (hi > 0 && to < distance[hi - 1]) --hi;
        sample.felt = (sums[hi] - sums[lo]) / static_cast<double>(hi - lo);
    }
}
// The lateral force (g) the riders feel on `fit`'s heart path, sampled as the
// ride profile samples it: every kFeltSpacing of the heart's own arc length
// (the end once), the heart's centripetal acceleration at the train's speed
// there plus gravity's reaction, across the riders' up under the eased roll,
// averaged over the samples within half the felt window either side. Where
// the rail has no level frame a sample is not counted.
// With `vertical`, that gets the raw vertical force (g) of each sample too.
std::vector<FeltSample> FeltLateralAlong(const std::vector<PathSample>& samples, double spacing,
                                         double heartline, const RailFit& fit,
                                         std::vector<double>* vertical = nullptr) {
    // The heart walked at about half the grid's step, its arc length chord by
    // chord, with each segment's rail and roll kept for the samples.
    std::vector<Cubic> rails(AsIndex(fit.segments));
    std::vector<RollState> rollsOf(AsIndex(fit.segments));
    std::vector<int> segment;
    std::vector<double> param, arc;
    D3 previous;
    ForEachFitPoint(
        fit,
        [&](int i, double t, double, const Cubic& rail, const RollState& rolls) {
            if (t == 0.0) {
                rails[AsIndex(i)] = rail;
                rollsOf[AsIndex(i)] = rolls;
            }
            D3 heart = PointAt(rail, t);
            LevelFrame frame;
            if (LevelFrameOf(FirstAt(rail, t), frame)) {
                heart = heart + heartline * UpOf(frame, UnwrappedRoll<portable::Math>(rolls, t));
            }
            arc.push_back(arc.empty() ? 0.0 : arc.back() + Norm(heart - previous));
            previous = heart;
            segment.push_back(i);
            param.push_back(t);
        },
        0.5 * kFeltSpacing);
    if (arc.size() < 2) return {};
    const double length = arc[arc.size() - 1];
    const auto regular = static_cast<size_t>(std::floor(length / kFeltSpacing));
    std::vector<FeltSample> along;
    along.reserve(regular + 2);
    std::vector<double> raw;
    raw.reserve(regular + 2);
    if (vertical != nullptr) vertical->reserve(vertical->size() + regular + 2);
    size_t k = 0;  // walk interval [k, k + 1] holding the distance
    for (size_t n = 0; n <= regular + 1; ++n) {
        double distance = static_cast<double>(n) * kFeltSpacing;
        if (n == regular + 1 || distance > length) {
            if (!along.empty() && along.back().distance >= length - 1e-9) break;
            distance = length;
        }
        while (k + 2 < arc.size() && arc[k + 1] < distance) ++k;
        const double s0 = arc[k], s1 = arc[k + 1];
        const double f = s1 > s0 ? std::clamp((distance - s0) / (s1 - s0), 0.0, 1.0) : 1.0;
        const int i = segment[k + 1];
        double t = param[k + 1];
        if (segment[k] == i) t = param[k] + f * (t - param[k]);
        const Cubic& rail = rails[AsIndex(i)];
        FeltSample sample;
        sample.distance = distance;
        sample.along = fit.places[AsIndex(i)] + t * fit.lengths[AsIndex(i)];
        sample.speed = SpeedAt(samples, spacing, sample.along);
        double lateral = 0.0, upward = 0.0;
        const D3 tangent = FirstAt(rail, t);
        const double speed = Norm(tangent);
        LevelFrame frame;
        if (LevelFrameOf(tangent, speed, frame)) {
            const RollState& rolls = rollsOf[AsIndex(i)];
            const D3 up = UpOf(frame, UnwrappedRoll<portable::Math>(rolls, t));
            const HeartJet heart =
                HeartJetAt(rail, RollJetAt(rolls, t), t, tangent, speed, heartline);
            const double v = sample.speed;
            const D3 force = (v * v) * CurvatureOf(heart.d1, heart.d2) + D3{0.0, kGravity, 0.0};
            lateral = Dot(force, Cross(Unit(tangent), up)) / kGravity;
            if (vertical != nullptr) upward = Dot(force, up) / kGravity;
            sample.counted = true;
        }
        sample.raw = lateral;
        along.push_back(sample);
        raw.push_back(lateral);
        if (vertical != nullptr) vertical->push_back(upward);
    }
    AverageOverFeltWindow(along, raw);
    return along;
}

// What the riders feel sideways on a rail: the largest felt lateral (see
// FeltLateralAlong), the sum of its squares and its fastest change (g/s)
// between neighbouring counted samples, over the time between them at their
// mean speed (a sample closer than half the grid's step, the end, is taken
// from the one before).
struct FeltLateral {
    double largest = 0.0, squares = 0.0, onset = 0.0;
    double counted = 0.0;  // the counted samples, for the RMS
    double onsetAt = 0.0;  // the loaded path's arc length where the onset is
    // The largest raw lateral (g, unsigned) of the counted samples and the
    // loaded path's arc length where it is.
    double rawLargest = 0.0, rawAt = 0.0;
    // How far the largest raw lateral stands above the largest felt one.
    double Gap() const { return rawLargest - largest; }
};
FeltLateral FeltLateralOver(const std::vector<FeltSample>& along) {
    FeltLateral ride;
    const FeltSample* previous = nullptr;
    const FeltSample* earlier = nullptr;  // the counted sample before `previous`
    for (const FeltSample& s : along) {
        if (!s.counted) {
            previous = earlier = nullptr;
            continue;
        }
        ride.largest = std::max(ride.largest, std::abs(s.felt));
        ride.squares += s.felt * s.felt;
        ride.counted += 1.0;
        if (std::abs(s.raw) > ride.rawLargest) {
            ride.rawLargest = std::abs(s.raw);
            ride.rawAt = s.along;
        }
        const FeltSample* from = previous;
        if (from != nullptr && s.distance - from->distance < 0.5 * kFeltSpacing) from = earlier;
        if (from != nullptr) {
            const double seconds = (s.distance - from->distance) / (0.5 * (s.speed + from->speed));
            if (seconds > 0.0) {
                const double onset = std::abs(s.felt - from->felt) / seconds;
                if (onset > ride.onset) {
                    ride.onset = onset;
                    ride.onsetAt = s.along;
                }
            }
        }
        earlier = previous;
        previous = &s;
    }
    return ride;
}
FeltLateral FeltLateralOf(const std::vector<PathSample>& samples, double spacing, double heartline,
                          const RailFit& fit) {
    return FeltLateralOver(FeltLateralAlong(samples, spacing, heartline, fit));
}
// The RMS (g) of a felt lateral's counted samples.
double RmsOf(const FeltLateral& ride) {
    return ride.counted > 0.0 ? std::sqrt(ride.squares / ride.counted) : 0.0;
}

// The drawn track's felt force `reading(sample, up)` (g) as FeltLateralOf
// reads a rail's lateral: the loaded path sampled every kFeltSpacing of its
// arc length (the end once), each sample's force under the drawn up taken from
// the loaded sample nearest it and counted where the path has a level frame,
// averaged over the felt window. Read on the same grid, the drawn onset steps
// as the rail's does where a felt window's edge passes a step in the force,
// which the finer loaded samples smooth away.
template <typename Reading>
std::vector<FeltSample> DrawnFeltAlong(const std::vector<PathSample>& samples, double spacing,
                                       const Reading& reading) {
    if (samples.size() < 2 || !(spacing > 0.0)) return {};
    const double length = samples.back().s;
    const auto regular = static_cast<size_t>(std::floor(length / kFeltSpacing));
    std::vector<FeltSample> along;
    along.reserve(regular + 2);
    std::vector<double> raw;
    raw.reserve(regular + 2);
    for (size_t n = 0; n <= regular + 1; ++n) {
        double distance = static_cast<double>(n) * kFeltSpacing;
        if (n == regular + 1 || distance > length) {
            if (!along.empty() && along.back().distance >= length - 1e-9) break;
            distance = length;
        }
        const auto j =
            std::min(samples.size() - 1, static_cast<size_t>(std::nearbyint(distance / spacing)));
        FeltSample sample;
        sample.distance = distance;
        sample.along = distance;
        sample.speed = samples[j].speed;
        sample.counted = Norm(samples[j].drawnUp) > 0.0;
        sample.raw = sample.counted ? reading(samples[j], samples[j].drawnUp) : 0.0;
        along.push_back(sample);
        raw.push_back(sample.raw);
    }
    AverageOverFeltWindow(along, raw);
    return along;
}
// The drawn track's felt lateral read so.
FeltLateral DrawnFeltLateral(const std::vector<PathSample>& samples, double spacing) {
    return FeltLateralOver(DrawnFeltAlong(samples, spacing, LateralUnder));
}
// The drawn track's lowest felt vertical (g) read so.
double DrawnFeltLowest(const std::vector<PathSample>& samples, double spacing) {
    const std::vector<FeltSample> along = DrawnFeltAlong(
        samples, spacing,
        [](const PathSample& sample, const D3& up) { return Dot(sample.feltAcross, up); });
    double lowest = std::numeric_limits<double>::infinity();
    for (const FeltSample& sample : along) {
        if (sample.counted) lowest = std::min(lowest, sample.felt);
    }
    return lowest;
}

// The drawn track's fastest felt vertical change (g/s) read so, or its felt
// force across the track's (lateral and vertical together) where faster: the
// rides are held to a share of the faster of the two.
double DrawnFeltVerticalOnset(const std::vector<PathSample>& samples, double spacing) {
    std::vector<FeltSample> vertical = DrawnFeltAlong(
        samples, spacing,
        [](const PathSample& sample, const D3& up) { return Dot(sample.feltAcross, up); });
    const std::vector<FeltSample> lateral = DrawnFeltAlong(samples, spacing, LateralUnder);
    const double onset = FeltLateralOver(vertical).onset;
    for (size_t n = 0; n < vertical.size(); ++n) {
        const double v = vertical[n].felt, l = lateral[n].felt;
        vertical[n].felt = std::sqrt(v * v + l * l);
    }
    return std::max(onset, FeltLateralOver(vertical).onset);
}

// The raw and felt vertical force (g) on `fit`'s heart path at their
// largest and lowest, sampled and averaged as FeltLateralAlong does.
struct VerticalReach {
    double rawTop = 0.0, rawBottom = 0.0, feltTop = 0.0, feltBottom = 0.0;
    // The loaded path's arc length at the raw force's largest and lowest.
    double rawTopAt = 0.0, rawBottomAt = 0.0;
    // How far the raw force stands beyond the felt one: above its largest or
    // below its lowest, whichever further.
    double Gap() const { return std::max(rawTop - feltTop, feltBottom - rawBottom); }
    // Where the raw force stands so far.
    double GapAt() const {
        return rawTop - feltTop >= feltBottom - rawBottom ? rawTopAt : rawBottomAt;
    }
};
// The vertical force on `fit`'s heart path along the loaded path: raw in
// `raw`, felt in `along`.
std::vector<FeltSample> VerticalAlong(const std::vector<PathSample>& samples, double spacing,
                                      double heartline, const RailFit& fit,
                                      std::vector<double>& raw) {
    std::vector<FeltSample> along = FeltLateralAlong(samples, spacing, heartline, fit, &raw);
    AverageOverFeltWindow(along, raw);  // the felt values now the vertical's
    return along;
}
VerticalReach VerticalReachOver(const std::vector<FeltSample>& along,
                                const std::vector<double>& raw) {
    const double lowest = std::numeric_limits<double>::infinity();
    VerticalReach reach{-lowest, lowest, -lowest, lowest};
    bool any = false;
    for (size_t j = 0; j < along.size(); ++j) {
        if (!along[j].counted) continue;
        any = true;
        if (raw[j] > reach.rawTop) {
            reach.rawTop = raw[j];
            reach.rawTopAt = along[j].along;
        }
        if (raw[j] < reach.rawBottom) {
            reach.rawBottom = raw[j];
            reach.rawBottomAt = along[j].along;
        }
        reach.feltTop = std::max(reach.feltTop, along[j].felt);
        reach.feltBottom = std::min(reach.feltBottom, along[j].felt);
    }
    return any ? reach : VerticalReach{};
}
VerticalReach VerticalReachOf(const std::vector<PathSample>& samples, double spacing,
                              double heartline, const RailFit& fit) {
    std::vector<double> raw;
    const std::vector<FeltSample> along = VerticalAlong(samples, spacing, heartline, fit, raw);
    return VerticalReachOver(along, raw);
}

// The felt vertical force on `fit`'s heart path, sampled and averaged as
// FeltLateralAlong does: its fastest change (g/s, read as FeltLateralOver
// reads the lateral's) and its lowest (g).
struct FeltVertical {
    double onset = 0.0, onsetAt = 0.0;
    double lowest = 0.0, lowestAt = 0.0;
};
FeltVertical FeltVerticalOver(const std::vector<FeltSample>& along) {
    FeltVertical ride;
    ride.lowest = std::numeric_limits<double>::infinity();
    for (const FeltSample& sample : along) {
        if (sample.counted && sample.felt < ride.lowest) {
            ride.lowest = sample.felt;
            ride.lowestAt = sample.along;
        }
    }
    const FeltLateral over = FeltLateralOver(along);
    ride.onset = over.onset;
    ride.onsetAt = over.onsetAt;
    return ride;
}
// A rail's felt vertical and vertical reach, read from one pass over it.
struct VerticalReading {
    FeltVertical felt;
    VerticalReach reach;
};
// A rail's forces from one pass over its heart path: the felt lateral's
// samples (see FeltLateralAlong) and each sample's raw vertical force (g),
// for its felt lateral to be read at once and its felt vertical only where
// asked for.
struct ForcesAlong {
    std::vector<FeltSample> along;
    std::vector<double> vertical;
};
ForcesAlong ForcesAlongOf(const std::vector<PathSample>& samples, double spacing, double heartline,
                          const RailFit& fit) {
    ForcesAlong forces;
    forces.along = FeltLateralAlong(samples, spacing, heartline, fit, &forces.vertical);
    return forces;
}
// The felt vertical and raw reach read from them.
VerticalReading VerticalOver(const ForcesAlong& forces) {
    std::vector<FeltSample> along = forces.along;
    AverageOverFeltWindow(along, forces.vertical);
    return {FeltVerticalOver(along), VerticalReachOver(along, forces.vertical)};
}

Stray LargestStray(const std::vector<Stray>& strays) {
    Stray largest;
    for (const Stray& stray : strays) {
        if (!(stray.distance <= largest.distance)) largest = stray;
    }
    return largest;
}
// How far the rail lets the hearts stray, as its acceptance reads it: at the
// fit points; where they hold the hearts within kLargestStray, also at
// points kStrayCheckStep apart on the segments where they stray beyond
// kRefineStray, since between the fit points of a long segment the hearts
// may bulge further. That stray counts only where it breaks kLargestStray,
// so the fits compare as before wherever it holds.
// `strays` are the fit's SegmentStrays at its fit points.
Stray HeldStray(const PathWalk& walk, double heartline, const RailFit& fit,
                std::vector<Stray> strays) {
    const Stray atFitPoints = LargestStray(strays);
    if (!(atFitPoints.distance <= kLargestStray) || !(atFitPoints.distance > kRefineStray)) {
        return atFitPoints;
    }
    ForEachFitPoint(
        fit,
        [&](int i, double t, double s, const Cubic& rail, const RollState& rolls) {
            Stray& largest = strays[AsIndex(i)];
            if (!(largest.distance > kRefineStray)) return;
            const double distance = HeartStray(walk, heartline, t, s, rail, rolls);
            if (!(distance <= largest.distance)) largest = {distance, s};
        },
        kStrayCheckStep);
    const Stray between = LargestStray(strays);
    return between.distance <= kLargestStray ? atFitPoints : between;
}
Stray HeldStray(const PathWalk& walk, double heartline, const RailFit& fit) {
    return HeldStray(walk, heartline, fit, SegmentStrays(walk, heartline, fit));
}

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
                  const std::vector<double>& bendLimits, std::vector<double>& limit,
                  bool scarce) {
    bool refined = false;
    for (int i = 0; i < fit.segments; ++i) {
        const double stray = strays[AsIndex(i)].distance;
        if (!(stray > kRefineStray)) continue;
        const double share =
            std::clamp(std::sqrt(kRefineStray / stray), kLeastRefineShare, kMostRefineShare);
        const double length = fit.lengths[AsIndex(i)];
        const auto lo = static_cast<size_t>(std::max(0.0, std::floor(fit.places[AsIndex(i)] / spacing)));
        const auto hi = std::min(limit.size() - 1,
                                 static_cast<size_t>(std::ceil(fit.places[AsIndex(i) + 1] / spacing)));
        for (size_t j = lo; j <= hi; ++j) {
            const double from = scarce ? std::min(length, limit[j]) : length;
            limit[j] = std::min({limit[j], share * from, bendLimits[j]});
        }
        refined = true;
    }
    return refined;
}

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

// The hardest of `jolts` (per segment of `fit`) on the segments that overlap
// any of `spans`.
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
