// The smooth rebuild's tuning: the spacings, bounds, margins and weights its
// stages work with, each with the measurements that chose it, and the ways
// (FitTuning) the rail is fitted.
#pragma once

#include <array>
#include <cstddef>

namespace cvqrn::smooth {

// Metres between the samples of the loaded path (at most; a short track with
// many segments is sampled more finely).
inline constexpr double kSampleSpacing = 0.25;
// Samples per new segment at the least (the dense walk's resolution).
inline constexpr int kSamplesPerSegment = 8;
// The longest loaded path (metres) the smooth rebuild takes: it keeps a
// sample every kSampleSpacing, about 200 000 of them here (some 100 MB with
// the fit's own), while a file's coordinates may put its ends 10^11 m apart,
// which asked for terabytes.
inline constexpr double kLongestSmoothTrack = 50000.0;
// Walk points per metre of control polygon when measuring the loaded path.
inline constexpr double kWalkPointsPerMetre = 20.0;
inline constexpr int kMinWalkPoints = 16;
inline constexpr int kMaxWalkPoints = 4000;
// The width (metres of arc length) of the buckets that narrow the search for
// a place on the walk (see PathWalk::bucket).
inline constexpr double kLocateBucket = 1.0;
// Felt force along the riders' up direction (g) below which the loaded
// banking is kept, and above which the felt direction is taken; in between
// the two are blended. Airtime never rolls the riders over.
inline constexpr double kAirtimeLow = 0.2;
inline constexpr double kAirtimeHigh = 0.6;
// The up direction is smoothed over this much travel time per filter pass
// (a standard deviation of filter x this x the mean speed, in metres), with
// running means at most this many samples to either side.
inline constexpr double kSmoothSecondsPerPass = 0.02;
inline constexpr int kMaxSmoothRadius = 100000;
// See kRefinedWay.
inline constexpr double kLeastSmoothing = 1.0;
inline constexpr double kLeastSmoothSeconds = 0.2;
// Vertex placement (see PlaceVertices): the factor of the heart's curvature
// error estimate and the longest segment as a share of the track (the error
// the segments are made long enough for is FitTuning::curvatureError).
inline constexpr double kRollLengthFactor = 0.2;
// Measured on the rebuilt rails, the eased roll's error between vertices is
// about 1.07 x (roll change per segment) / (segment length)^2 x h x v^2 / g of
// raw lateral (0.46 g predicted where 0.48 g was measured); the placement's
// kRollLengthFactor leaves most of it to the felt window to average out.
inline constexpr double kMeasuredRollFactor = 1.07;
inline constexpr double kMaxSegmentShare = 0.05;
// Where the segments must stay short, the roll in the level frame is held
// below the rate at which the eased roll's curvature error on the heart stays
// below this (g) over the longest segment there (see LimitRollRate), and the
// ramps that holds it to ease in and out over running means of this much
// travel time to either side at the mean speed (three of them: a standard
// deviation of about the same time).
inline constexpr double kRollRateError = 0.09;
inline constexpr double kRollEaseSeconds = 0.2 / 1.73;
// Where the chosen up leaves more felt lateral than the drawn track's
// largest, its turn back towards the felt direction eases in and out over
// running means of this much travel time to either side at the mean speed
// (see CapFeltLateral; shorter eases gave faster lateral onsets).
inline constexpr double kCapEaseSeconds = 4.0 * kRollEaseSeconds;
// The cap acts only within felt windows where the chosen up's lateral,
// averaged as the riders feel it, passes that largest by more than this (g):
// a lateral that passes it only for a moment (at a step in the drawn
// curvature, shorter than the window) is not felt, yet turning the up for it
// would roll the track over the whole ease, onto slopes and crests where a
// roll kinks the heart.
inline constexpr double kCapFeltMargin = 0.02;
// The cap also keeps the felt vertical, averaged as the riders feel it, at
// most this much (g) below the drawn track's lowest: a short turn the other
// way that the smoothing rolls over leaves the riders banked against it,
// their seats tipped away from the force.
inline constexpr double kCapVerticalMargin = 0.15;
// Where the heart runs this close to the rail (metres), the roll hardly moves
// the heart, so where a drawn curvature steps in the up direction may lead
// into the turn (see LeadIntoLateralSteps), and where the raw lateral under
// the smoothed up stands more than this (g) further above the felt maximum
// than on the drawn track, it does.
inline constexpr double kFreeRollHeartline = 0.1;
inline constexpr double kStepGapMargin = 0.2;
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
inline constexpr double kFlipLateral = 0.5;
inline constexpr double kStepRailMove = 0.3;
inline constexpr double kLeadFeltMargin = 0.1;
inline constexpr double kLeadOnsetFactor = 1.1;
inline constexpr double kLeadOnsetMargin = 2.0;
inline constexpr int kLeadScaleRounds = 6;
// Where the kept rail's felt lateral onset still breaks the drawn track's
// bound at a drawn curvature step, the roll of the vertex on that step is
// turned towards the drawn up in parts of this share of the whole turn, at
// most kStepOnsetParts of them (see FitSmooth).
inline constexpr double kStepOnsetShare = 0.25;
inline constexpr int kStepOnsetParts = 4;
// Past a loop's lean, in finer parts: this share, at most
// kLeanStepOnsetParts of them (the same whole turn).
inline constexpr double kLeanStepOnsetShare = 0.05;
inline constexpr int kLeanStepOnsetParts = 20;
// The eased roll's acceleration jumps by pi^2 times the roll change per
// segment at every vertex (with the roll-rate flags set); on a slope that
// kinks the heart's direction (see PlaceVertices), and the kink is judged as
// the velocity it turns over the felt window (seconds).
inline constexpr double kKinkFactor = 9.8696044010893586;  // pi^2
inline constexpr double kFeltWindow = 0.2;
// Metres by which a segment's length may change per metre of track (see
// PlaceVertices): neighbouring segments differ by at most about a third.
inline constexpr double kSegmentGrading = 0.3;
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
inline constexpr double kFlagSteepness = 0.1;
inline constexpr double kFlagLengthRatio = 1.5;
// Rounds of false position that close in on the even segment length before
// the bisection that settles it (see PlaceVertices).
inline constexpr int kFalsePositionRounds = 16;
// Segments, over all the fits kept at one count to be taken again where the
// same fit is asked for (see FitSmooth): about 50 MB.
inline constexpr size_t kKeptFitSegments = 200000;
// The file keeps the new vertices' points and handles in single precision,
// each rounded by up to this share of its largest coordinate. Over a
// segment of length l that bends the rail by up to kRoundingBend x rounding
// / l^2, and where the rail climbs or falls it turns the rail's level frame
// about the tangent with the handles' direction, which moves the heart and
// bends its path by up to kRoundingTwist x h x slope x rounding / l^3 (see
// ShortestShapedSegment). Segments are kept long enough for that bend to
// stay under kRoundingError (g) at the train's speed: the raw forces may
// stand half a g above the felt ones beyond the drawn track's.
inline constexpr double kSingleRounding = 5.9604644775390625e-08;  // 2^-24
inline constexpr double kRoundingBend = 24.0;
inline constexpr double kRoundingTwist = 48.0;
inline constexpr double kRoundingError = 0.5;
// Newton steps that find that length.
inline constexpr int kShapedLengthSteps = 40;
// Near the vertical the rail's level frame spins about the tangent and the
// vertex rolls must follow it: radians of spin one segment may span at most.
inline constexpr double kMaxSpinPerSegment = 2.0;
// Through a loop (see LeanThroughVertical): the rail's sideways share of its
// tangent asked for where it passes the vertical; the half width of the lean
// in metres per unit of that share over the rate (per metre) at which the
// tangent's share in the loop's plane passes zero; the largest lean
// (radians); the metres either side of the crossing over which that rate is
// measured. The segments through a lean are this share of its half width
// long whatever the budget, and the segments beside it run towards that
// length by at most this many metres per metre.
inline constexpr double kCrossingSlope = 0.3;
inline constexpr double kLeanWidth = 3.0;
inline constexpr double kLargestLean = 0.5;
inline constexpr double kCrossingBaseline = 1.0;
inline constexpr double kLeanSegmentShare = 0.4;
inline constexpr double kLeanGrading = 0.3;
// Where a fit with a lean still misses its gap or onset bound (see
// FitSmooth), the lean's segments are graded instead by the eased roll's
// swing at each vertex (see PlaceVertices): their lengths follow v^2 times
// the roll's rate, raised to the power 2^-g for each g of kLeanGrades (the
// square root and the fourth root), and no shorter than the lengths at
// kLeanFloor of its largest.
inline constexpr std::array<int, 2> kLeanGrades = {1, 2};
inline constexpr double kLeanFloor = 0.1;
// Where no grade helps, the lean's vertices are moved together along it by
// these shares of a lean segment (the vertices beside it follow over
// kFlipTaper of a segment, as for a crossing), and its segments made these
// many times their length (see FitSmooth).
inline constexpr std::array<double, 4> kLeanShifts = {-0.25, -0.125, 0.125, 0.25};
inline constexpr std::array<double, 2> kLeanScales = {0.9, 1.1};
// Where that still leaves a miss, the finish holds the riders' raw lateral
// on the segments beside the lean's vertices at points kDenseStep (m) apart
// within kDenseBand (g) of the kept rail's felt lateral, with each of
// kDenseWeights (metres per g) in turn (see FitSmooth).
inline constexpr double kDenseStep = 0.1;
inline constexpr double kDenseBand = 1.0;
inline constexpr std::array<double, 3> kDenseWeights = {0.005, 0.01, 0.02};
// Where the lean leaves the rail so little sideways share at the crossing
// that its level frame turns over (from a quarter to three quarters of its
// half turn) within this share of a lean segment, the segment there is
// centred on the crossing, and the vertices beside the lean follow it over
// kFlipTaper segments.
inline constexpr double kFlipShare = 0.5;
inline constexpr double kFlipTaper = 2.0;
// Where a fit with a lean still misses its gap or onset bound once its
// placement is kept, each lean vertex's roll is turned by this much (radians)
// either way, over up to this many passes along the lean (see FitSmooth).
inline constexpr double kLeanRollTurn = 0.05;
inline constexpr int kLeanRollRounds = 2;
// The lean's vertex-roll turns and the dense raw-lateral finish (see
// FitSmooth) change only the kept rail's rolls and finish, never its places
// or its way: a finer count takes them up only where it keeps the coarser
// count's fit as it stands. So they run at the asked count and at the
// kLeanFinishCounts - 1 coarser ones below it. (The builder's loop at 400
// segments keeps the fit made at 100 as it stands, through 200.)
inline constexpr int kLeanFinishCounts = 3;
// Where the loaded path's curvature steps at one of its vertices by more
// than kLeastCurveStep (g at the train's speed), a new vertex is moved onto it if
// the segment holding it is at least kCurveStepSegment felt windows long
// (see AlignCurveSteps); its neighbours behind it follow over kFlipTaper
// segments, those it moves towards over kStepTaperAhead.
// Where the step is at least kStepSideForce, the two segments beside such a
// vertex are then at least kStepSideSegment felt windows long, taking the
// length from the kStepSideTaper segments beyond each.
inline constexpr double kLeastCurveStep = 2.0;
inline constexpr double kCurveStepSegment = 0.6;
inline constexpr double kStepTaperAhead = 8.0;
inline constexpr double kStepSideForce = 4.5;
inline constexpr double kStepSideSegment = 1.0;
inline constexpr int kStepSideTaper = 4;
// Curvature steps the placement leaves without a vertex (see
// OntoMissedSteps): those on slopes up to this steepness (see Steepness),
// short of where the level frame spins fast, and those drawn as vertices
// closer together than the samples. A fit with vertices moved onto them is
// kept where the riders feel no more lateral for it: its largest no higher,
// its squares no more than kMissedStepSquares times as many and its onset no
// more than kMissedStepOnset (g/s) higher.
inline constexpr double kMissedStepSteepness = 0.5;
inline constexpr double kMissedStepSquares = 1.005;
inline constexpr double kMissedStepOnset = 0.35;
// A vertex moved onto a drawn step the placement left inside a segment (see
// FitSmooth, after the end steps' refit) moves its neighbours with it where
// that keeps every segment at least this share of its length.
inline constexpr double kStepMoveShare = 0.5;
// Steps closer together than a segment (see OntoStepPairs): a fit with a
// vertex on each is kept where its largest felt lateral rises by no more
// than this (g), the noise of refitting the whole rail, and its squares not
// at all. The two ends of a short valley (random case_159, two 3.7 g steps
// 3.9 m apart at 23 m/s, 6 m segments) with one vertex between them rode as
// a triangle peaking at 5.7 g raw and strayed 1.5 cm; with a vertex on each,
// 4.7 g and 0.6 cm, its largest felt lateral 2e-9 g higher elsewhere.
inline constexpr double kStepPairLargest = 1e-4;
// Rail fit: rounds of fitting (each moves the frame the next one uses).
inline constexpr int kFitRounds = 2;
// Weight of the rows that ask the rail's second derivative at both ends of a
// segment to be the one the heart needs there, against a fit point's one: the
// heart's curvature then runs on across the joins.
inline constexpr double kCurveWeight = 0.5;
// Parameter step of the differences that give those second derivatives.
inline constexpr double kCurveStep = 1e-3;
// Weight of the pull of every vertex direction towards the loaded path's
// direction there, against a fit point's weight of one.
inline constexpr double kDirectionPull = 1e-3;
// Near the vertical (where the horizontal share of the rail's tangent falls
// from kSteepHigh to kSteepLow) the rail targets take their level frame more
// and more from the tangent the rail should have rather than from the rail of
// the last round, and the vertex directions are pulled towards that tangent
// with up to this weight: there the frame turns fast with the slightest change
// of the rail, and a frame taken from the rail just fitted would feed every
// error of the fit back into the next, while short segments leave their
// directions barely held by their points.
inline constexpr double kSteepLow = 0.2;
inline constexpr double kSteepHigh = 0.9;
inline constexpr double kSteepPull = 1.0;
// There the rail's tangent is also asked, with up to this weight, to turn the
// level frame so that the roll the file gives between the vertices puts the
// riders' up where it was chosen (see NeededTangent).
inline constexpr double kTangentWeight = 100.0;
// The least horizontal share of the rail's tangent where the loaded path runs
// straight up or down.
inline constexpr double kLeastLean = 3e-3;
// NeededTangent: the turn (radians) of the difference that gives the roll's
// rate of change with the turn, the least such rate at which a turn is taken
// (a level tangent's frame does not turn its roll), and the largest turn.
inline constexpr double kTurnStep = 1e-3;
inline constexpr double kLeastTurnRate = 0.3;
inline constexpr double kLargestTurn = 0.5;
// The finish (see FinishFit): Levenberg-Marquardt steps at most, the weight
// of a fit point's offset along the loaded path against its offset across
// (the parameter may slide along the path), the metres of heart offset one g
// of curvature jump at a join weighs as, the first damping, the tries per
// step, a floor that keeps the damped system definite, and the relative
// step of the differences that give the Jacobian.
inline constexpr int kFinishSteps = 3;
inline constexpr double kAlongWeight = 0.1;
// The weight of the fit points at the track's two ends, across and along
// (see kRefinedWay).
inline constexpr double kEndWeight = 3.0;
// Near the vertical also the heart's direction, in metres per radian.
inline constexpr double kHeartDirectionWeight = 0.3;
inline constexpr double kJoinWeight = 0.02;
// Through a loop's lean the joins hold the heart's direction instead, in
// metres per radian of kink (see PushJump).
inline constexpr double kLeanKinkWeight = 0.15;
// At every kInnerStride-th fit point and at both ends of every join, the
// heart's curvature is held to the loaded path's (FitTuning::curveWeight;
// through a lean this share of it).
inline constexpr int kInnerStride = 2;
inline constexpr double kLeanCurveShare = 0.5;
// Radians of vertex roll change over a segment above which the roll counts as
// turning there (see SlopeCurveShare).
inline constexpr double kTurningRoll = 1e-3;
inline constexpr double kInitialDamping = 1e-3;
inline constexpr int kDampingAttempts = 6;
inline constexpr double kDampingFloor = 1e-12;
inline constexpr double kJacobianStep = 1e-7;
// Metres the heart may stray from the loaded path before the smooth rebuild
// gives up on a track rather than write a rail that does not hold it: the
// 2 cm a heartline tool promises, less half a millimetre. The fit measures
// the stray at its points against the loaded path itself; the ride profile
// measures it at samples 0.25 m apart against the polyline of the loaded
// path's samples, whose chords cut inside a curve, and read 2.05 to 2.1 cm
// on rails the fit had held within 2 cm.
inline constexpr double kLargestStray = 0.0195;
// How many steps either way ToSingleOnLine slides a point along its line,
// and how far at most, as a share of the shorter handle beside it: a handle
// a thousandth longer or shorter changes the rail's curvature by no more
// than the file's rounding already does on short segments.
inline constexpr int kSlideSteps = 64;
inline constexpr double kSlideReach = 1e-3;
// A stretch of the loaded path counts as drawn in one upright plane where
// every point and handle of its segments lies within kPlaneRoundings times
// the file's rounding (kSingleRounding of the largest coordinate) of one,
// and its points span at least kLeastPlaneSpan metres across the level.
inline constexpr double kPlaneRoundings = 4.0;
inline constexpr double kLeastPlaneSpan = 1.0;
// Metres over which a rail put in such a plane eases back to the fitted one
// where a vertex is left as fitted (see KeepInDrawnPlanes).
inline constexpr double kPlaneEase = 2.0;
// Radians of vertex roll under which a rail in such a plane is taken to run
// without roll: a heart a metre above or below the rail moves across the
// plane by no more than a millimetre.
inline constexpr double kPlaneRoll = 1e-3;
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
inline constexpr int kPlaneSlideSteps = 192;
inline constexpr double kPlaneSlideShare = 10.0;
// Metres apart the points lie at which a rail's stray is checked before it
// is kept, half the ride profile's sample spacing. The fit points of a long
// segment lie up to a metre apart: on a 7.6 m straight at 37 degrees down
// (case_040, 175 segments) the hearts strayed 1.91 cm at them and 2.00 cm
// between them.
inline constexpr double kStrayCheckStep = 0.125;
// Metres a segment runs on average beyond which a refusal for straying hearts
// names the segment budget as the likelier cause: tracks refused at 14 to 28
// segments of 13 to 20 m on average held at twice the count.
inline constexpr double kLongSegmentHint = 8.0;
// Metres the heart may stray, the promise of the rebuild: a fit through a
// loop's lean that breaks it gives way to one without the lean that keeps
// it, and a fit that breaks it is fitted again (see kRefinedWay); one that
// keeps it is written as it is.
inline constexpr double kHeldStray = 0.0195;
// The felt onset (g/s) a rebuild is held to: this share of the drawn track's
// plus this margin. The rebuild's own estimate of both reads a few percent
// low, so a refit for the onset (see FitSmooth) is tried from this margin
// instead (case_073 at its own count: 0.16 g/s beyond the bound, its estimate
// below it).
inline constexpr double kOnsetBoundFactor = 1.1;
inline constexpr double kOnsetTryMargin = 0.5;
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
inline constexpr std::array<double, 2> kShortSmoothShares{0.75, 0.5};
inline constexpr std::array<double, 4> kShorterSmoothShares{0.35, 0.25, 0.15, 0.1};
inline constexpr double kShortSmoothGain = 0.001;
// How far (g) a shorter smoothing that brings the felt lateral RMS within the
// drawn track's may ride its largest felt lateral above the kept rail's or
// the drawn track's, where none rides no worse (see FitSmooth).
inline constexpr double kRmsTradeLargest = 0.02;
// How far (g) a shorter smoothing's raw lateral may stand above its felt one
// beyond the drawn track's, where that is more than the kept rail's: a
// tenth of what a rebuild may add. The rebuild reads a rail's largest raw
// and felt lateral within about 0.05 g of the ride profile's figures, and
// held to the drawn track's gap alone random case_181 at four times its
// segments kept 0.09 g of lateral RMS above the drawn track's.
inline constexpr double kShortSmoothGapMargin = 0.1;
// How far (g) a refit's largest raw lateral may stand above the kept rail's
// where its gap grows only because its felt lateral falls: the raw largest
// far from the refitted vertices moves by the fit's noise alone.
inline constexpr double kPacedRawMargin = 0.01;
// How far (g/s) within the drawn track's bound the kept rail's felt onset
// may read and still be paced: the rail's onset read on the loaded samples
// and the ride profile's differ by about this much (random case_032 at twice
// its segments read 11.86 g/s against a bound of 11.87 and rode 0.01 g/s
// beyond it).
inline constexpr double kPacedNearMargin = 0.1;
// The shares of a felt window's path the vertices about a lateral onset are
// paced at, in turn (see FitSmooth): paced a whole window apart random
// case_073 at four times its segments came within its bound only by riding
// 0.05 g more lateral at most; at three quarters, within it by 0.5 g/s and
// 0.01 g less. The shorter shares are tried at the kept count alone: at the
// fewer vertices pacing frees, random case_034 at four times its segments
// kept the dense vertices of a rolling slope beside paced segments 19 times
// their length.
inline constexpr std::array<double, 2> kPacedWindowShares{1.0, 0.75};
// Where pacing frees vertices, the paced steps towards the kept vertices
// either side of the stretch grow from the kept segment beyond by at most
// this much (metres per metre): each step at most 1.3 times the next one
// closer to them. (Paced a window apart up to them, random case_034 at four
// times its segments met its 1.5 m segments with paced ones 21 times their
// length.)
inline constexpr double kPacedGrading = 0.3;
// How far (s) either side of a lateral onset the vertices are paced where
// pacing them over kOnsetRefitSeconds made no rail that holds the hearts
// without jolting: about two felt windows, the roll's turn at the onset
// alone. (Random case_086 at twice its segments: paced over a second, the
// vertices given up elsewhere merged a spiral of 13.6 m radius into one
// 101.7 m segment and the rail strayed, its lateral onset left 0.63 g/s
// beyond the bound; paced over 0.4 s, within it and 0.01 g less lateral.)
inline constexpr double kPacedRollSeconds = 0.4;
// The bound's own margin (g/s), which the evaluation of a rebuild holds it to.
inline constexpr double kOnsetBoundMargin = 1.0;
// How clearly within the drawn track's felt lateral a refit for the onset
// keeps where it rides more than the fit it replaces: its largest this much
// (g) below the drawn track's, its RMS no more than this share of the drawn
// one's. The rebuild's estimates of both read the drawn track's no more than
// 0.1 g and 5 % above the ride profile's figures (measured over 200 random
// layouts), and a rail's within 0.05 g and 5 % of them, so such a refit
// keeps within the drawn track's largest and RMS.
inline constexpr double kDrawnLargestMargin = 0.1;
inline constexpr double kDrawnRmsShare = 0.9;
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
inline constexpr double kGapTolerance = 0.5;
inline constexpr double kStepRollGapMargin = 0.1;
inline constexpr double kStepRollReach = 4.0;
inline constexpr double kStepRollOnsetNoise = 0.001;
// Turned so at one step, the rail's raw lateral often peaks next at another
// step, or away from any; up to this many places are turned about in turn,
// the first at a step, the later ones at the raw peak wherever it lies.
// (Random case_111 at twice its segments, whose raw peak moved on from its
// 5.9 g step at 136 m to a step at 122 m, stood 0.03 g beyond the drawn
// track's gap and its tolerance until turned there too; a raw peak away from
// any step, turned about, lowered the largest felt lateral of random
// case_024 at its own count from 0.76 to 0.65 g.)
inline constexpr int kStepRollRounds = 3;
inline constexpr double kStepRollShare = 0.25;
inline constexpr int kStepRollParts = 8;
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
inline constexpr double kNextStepShares[] = {-1.5, -1.25, -1.0, -0.75, -0.5, -0.25,
                                             0.25, 0.5,   0.75, 1.0,   1.25, 1.5};
inline constexpr double kRampEndShares[] = {0.6, 1.0, 1.4};
inline constexpr double kStepRollGain = 0.01;
// The share of the turn towards the force summed across a step that each part
// of the twist of the segment holding a level step takes where a vertex was
// moved onto the step's ramp end, and the most parts taken (see FitSmooth).
inline constexpr double kStepTwistShare = 0.04;
inline constexpr int kStepTwistParts = 8;
inline constexpr double kStepRollFelt = 0.01;
// How much (g) more felt lateral at most a rail whose vertex is moved onto a
// drawn step at the track's end may ride where that brings its raw force
// within its tolerance of the felt one (see FitSmooth): a gap that stands
// beyond its target is worth more than a few hundredths of felt lateral, and
// the rebuild reads the change in a rail's largest felt lateral within about
// 0.01 g of the ride profile's.
inline constexpr double kStepGapTrade = 0.04;
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
inline constexpr double kStepOffShares[] = {-0.5, -0.3, -0.15, 0.3, 0.5};
// How much (as a share) the squares of the felt lateral may grow where a
// vertex moved off a drawn step brings the raw lateral within the drawn
// track's gap and its tolerance from beyond it, its largest no higher and
// its RMS clearly within the drawn track's (see FitSmooth): random case_108
// at its own count, a vertex on its 3.8 g step at 230.9 m moved back by
// 0.15 of its segment, cleared its gap from 0.05 g beyond it with the sum
// 0.5 % higher (its RMS 0.001 g) and its largest 0.02 g lower.
inline constexpr double kStepOffSquares = 1.01;
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
inline constexpr double kNearStepShares[] = {0.5, 1.25, 1.5};
// How much (g) more felt lateral RMS such a move may ride where it brings the
// gap within its bound from beyond it, and how far (g) beyond it the kept
// rail's gap must stand for that: the rebuild reads a gap up to a few
// hundredths of a g above the ride profile (random case_020 at four times
// its segments, 0.004 g beyond as the rebuild reads it and within it as the
// ride profile does, would have ridden 0.02 g more felt lateral for it).
inline constexpr double kNearStepRms = 0.01;
inline constexpr double kNearStepTradeGap = 0.02;
// How far (g) the kept rail's lowest felt vertical falls below the drawn
// track's, read on the ride profile's grid, before the heart's curvature is
// held at the track's end where it lies (see FitSmooth): the rides are judged
// against the drawn track's less 0.2 g, and the rail's reading differs from
// the profile's by a few hundredths.
inline constexpr double kEndCurveTryMargin = 0.15;
// The least vertical component of the drawn up at a track's end that counts
// as a level, unbanked end (within about 0.003 degrees).
inline constexpr double kLevelUnbanked = 1.0 - 1e-9;
// The sum of squares of the felt lateral a refit with the heart's curvature
// held at an end may ride, as a share of the kept rail's: the whole rail is
// solved again, which moves the felt lateral far from the end by a few
// hundred-thousandths (random case_151 at four times its segments: 0.003 %).
inline constexpr double kEndCurveSquares = 1.0001;
// The shares of the end vertex's roll (from the drawn level, unbanked roll)
// its roll is turned by, either way, where the kept rail's lowest felt
// vertical lies in the last segment (see FitSmooth), and the sum of squares
// of the felt lateral such a turn may ride, as a share of the kept rail's:
// the turned roll bends the heart along the whole last segment (random
// case_151 at four times its segments, heartline -1.29 m: 0.07 % more).
inline constexpr double kEndRollShares[] = {0.25, -0.25, 0.5, -0.5};
inline constexpr double kEndRollSquares = 1.001;
// The shares of their rolls (towards the drawn level, unbanked roll) the end
// vertex and the one before it are turned by together, where the lowest felt
// vertical still dips in the last segment once the end vertex alone was
// turned, and how far (g) the felt lateral RMS may rise for it: turned
// alone, the end vertex's roll still turns across the last segment, and the
// heart swings about the rail with it (random case_151 at its own count,
// heartline -1.29 m, 7.8 m last segment: 0.03 g below the drawn track's
// tolerance; turned with the vertex before, 0.01 g within it, its RMS
// 0.005 g higher).
inline constexpr double kEndPairShares[] = {0.1, 0.2};
inline constexpr double kEndPairRms = 0.01;
// Seconds of travel either side of the largest onset over which the roll's
// segments are lengthened where a rebuild breaks that bound (see FitSmooth),
// and the wider reach tried where the refit over the first is not kept:
// random case_173 at four times its segments kept a lateral onset 1.59 g/s
// beyond the bound, its refit over a second either side eased the onset too
// little; over two seconds it keeps within the bound and rides less lateral.
// (The wider reach tried first raised the felt lateral of rides that kept
// within the bound either way.)
inline constexpr double kOnsetRefitSeconds = 1.0;
inline constexpr double kOnsetWideSeconds = 2.0;
// How much (g) a refit about the raw lateral's peak must narrow the gap
// between the largest raw and felt lateral to be kept (see FitSmooth): a
// smaller gain only moved the peak a little, and the turns of the roll at a
// drawn step that follow then narrowed it less (random case_189 at four times
// its segments: kept for 0.01 g, it left 0.17 g beyond the drawn track's gap
// and its tolerance where the turns alone kept within it).
inline constexpr double kGapRefitGain = 0.1;
// Metres of stray beyond which the smooth way is followed by the cautious
// way straight away (see FitTuning).
inline constexpr double kCautiousStray = 0.1;
// Metres of stray within which the closest fit, where none holds the hearts,
// is finished once more with their place held harder where they stray (see
// FitSmooth's last try).
inline constexpr double kPolishStray = 0.05;
// BendLimits: the fit's stray per curvature change times squared segment
// length, the stray segments are made short enough for (metres), and the
// shortest segment it asks for.
inline constexpr double kBendFactor = 1.0 / 170.0;
inline constexpr double kBendStray = 0.012;
inline constexpr double kShortestBendSegment = 0.5;
// A segment whose hearts stray more than this (metres) is shortened and the
// rail fitted again, at most kRefineRounds times; each time to a share of its
// length between these two.
inline constexpr double kRefineStray = 0.01;
inline constexpr int kRefineRounds = 8;
// Metres within which a refining round's stray, at the same place, counts as
// the round before's (see FitSmooth's refine).
inline constexpr double kSameStray = 0.001;
inline constexpr double kLeastRefineShare = 0.5;
inline constexpr double kMostRefineShare = 0.8;
// Where no fit holds the hearts on a small budget, the vertices are put on
// the loaded path's curvature breaks (see CurvatureBreaks), each break that
// steps by more than kLeastBreak (g at the train's speed), and then moved
// from where the hearts stray least to where they stray most, at most
// kRebalanceRounds times (see RebalancedPlaces). A vertex on a break counts
// kBreakHold times its neighbours' stray against moving it.
inline constexpr double kLeastBreak = 0.02;
inline constexpr int kRebalanceRounds = 6;
inline constexpr double kBreakHold = 4.0;
// Where no fit holds the hearts, the fit with half the segments (at least
// this many) is tried, and its vertices kept with the extra ones placed
// where they do no harm: a roll transition the coarser fit follows with long
// segments is left to those, and the budget's short segments go where the
// roll stands still. Where that fit holds none either, the one with half of
// its segments is tried in turn (case_097 at four times its segments: none
// at twice held, while its own count did).
inline constexpr int kLeastCoarseSegments = 2;
// The coarser fit is tried only where this count's fits came within this
// many metres of the loaded path (or none could be solved). Half as many
// segments, each twice as long, held the hearts in 200 random layouts only
// where this count's fits came within 3.4 cm (case_097 at four times its
// segments); where they stray by decimetres, so do the coarser ones, and
// each of them makes its own dozens of fits and tries the next coarser in
// turn: random case_140 at 240 segments came within 8.4 cm and went on
// through six coarser counts, down to three segments 18 m astray, for 134
// of its 150 fits.
inline constexpr double kCoarseReach = 0.05;
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
inline constexpr double kCoarserLeanFelt = 0.025;
// The hardest jolt (g) the new rail may give the riders beyond the loaded
// path's own (see HardestJolt). Rails through loops measure 8 to 10 g; the
// fits beyond this wiggle the hearts at a fraction of a metre and ride with
// raw forces tens of g above the felt ones.
inline constexpr double kLargestJolt = 20.0;
// The hardest jolt (g) the new rail may give the riders at the track's two
// ends. There the fit's jolt grows as the end segment shortens: random
// case_191 at twice its segments, refined to a last segment of 0.21 m, rode
// 17.5 g at its end (0.65 m at its own count: 1.1 g), and case_166 at four
// times 12.2 g at its start. Every other fit kept on 429 random runs and the
// builder layouts ends within 3 g.
inline constexpr double kLargestEndJolt = 5.0;
// Where the hearts stray over a short segment, the stray itself bends their
// path: by about stray x v^2 / (g x length^2). A segment that jolts the riders
// by more than kLengthenJolt (g, see HardestJolt) where its stray bends the
// heart by more than kLengthenBend (g) is merged with a neighbour and the rail
// fitted again, at most kLengthenRounds times (see LengthenedPlaces).
inline constexpr double kLengthenJolt = 1.5;
inline constexpr double kLengthenBend = 0.2;
inline constexpr int kLengthenRounds = 2;
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
inline constexpr double kWobbleJolt = 0.2;
inline constexpr double kWobbleFeltMargin = 0.025;
inline constexpr double kWobbleOnsetMargin = 0.35;
inline constexpr double kWobbleSquaresMargin = 1.005;
inline constexpr double kWobbleLengthRatio = 2.0;
inline constexpr double kWobbleLengthSlack = 1e-6;
// Steps towards the nearest point of the loaded path when measuring that.
inline constexpr int kNearestSteps = 3;
// A tangent whose horizontal part is below this has no level frame.
inline constexpr double kVerticalLimit = 1e-6;

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
    bool holdEnds;  // the hearts at the track's ends held along the path too
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
inline constexpr FitTuning kSmoothWay{0.11, 0.02, false, false, false, false, false};
inline constexpr FitTuning kCautiousWay{0.2, 0.0, true, false, false, false, false};
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
inline constexpr FitTuning kRefinedWay{0.11, 0.02, false, true, false, false, false};

}  // namespace cvqrn::smooth
