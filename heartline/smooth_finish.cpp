// The finish's model, residuals, normal equations and iterations.
#include "heartline/smooth_finish.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <utility>

#include "heartline/heartline_run.h"
#include "heartline/sampling.h"
#include "heartline/smooth_jets.h"
#include "heartline/smooth_math.h"
#include "heartline/smooth_tuning.h"
#include "heartline/smooth_up.h"
#include "model/track_record.h"
#include "portable_math/portable_math.h"

namespace cvqrn::smooth {

namespace {

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

}  // namespace

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

namespace {

// What the finish holds fixed: the heart targets and the path's tangents at
// the fit points, the rolls, and the force scale at the joins.
struct FinishModel {
    const RailFit* fit = nullptr;
    double heartline = 0.0;
    // Per segment: the cosine and sine of the file's roll at every fit point,
    // and the roll's jets at the segment's start and end (the rolls stay put).
    std::vector<std::vector<double>> cosRoll, sinRoll;
    std::vector<RollJet> rollStart, rollEnd;
    std::vector<std::vector<D3>> target;  // per segment, per fit point
    std::vector<std::vector<D3>> along;   // the loaded path's unit tangent there
    std::vector<double> jointScale;       // per vertex: weight x v^2 / g
    std::vector<double> kinkScale;        // per vertex: metres per radian of heart kink
    std::vector<D3> pathJump;             // per vertex: the loaded path's curvature step there
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
        const D3 off =
            HeartPointAt(rail, m.weights[AsIndex(q)], cosRoll[AsIndex(q)], sinRoll[AsIndex(q)],
                         m.heartline, m.first[AsIndex(q)], m.speed[AsIndex(q)]) -
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
        const D3 miss =
            weight * (CurvatureOf(heart.d1, heart.d2) - m.pathCurvature[AsIndex(i)][AsIndex(q)]);
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
        const D3 d1 = Unit(HeartJetAt(rail, jets[AsIndex(q)], t, m.first[AsIndex(q)],
                                      m.speed[AsIndex(q)], m.heartline)
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
    const D3 jump =
        m.jointScale[AsIndex(k)] * (before.curvature - after.curvature - m.pathJump[AsIndex(k)]);
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
void JoinResidualsMoved(const FinishModel& m, int k, const double* v, int changed, JoinCache& cache,
                        std::vector<double>& r) {
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
           !SegmentLeans(samples, spacing, fit, i - 1) &&
           !SegmentLeans(samples, spacing, fit, i + 1);
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

}  // namespace

double StepRampReach(const CurveStep& step) {
    const double jump = step.force * kGravity / (step.speed * step.speed);
    return std::min(0.5 * step.speed * kFeltWindow, std::sqrt(12.0 * kStepRampStray / jump));
}

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

namespace {

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
            const double at =
                std::clamp(s - reach + 2.0 * reach * (k + 0.5) / kRampPoints, 0.0, walk.s.back());
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
// within). Only on segments shorter than the felt window. Smaller steps are left alone: spread,
// a 4.5 g step on a 2.4 m segment (case_182) rode with lateral onsets up to 0.7 g/s beyond 1.1
// times the drawn track's + 1.
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

// The drawn curvature steps the finish rides over, ramps across or spreads
// over their segment (see RippledSteps, StepRamps and SpreadSteps), and the
// ramps on slopes among them.
struct FinishSteps {
    std::vector<CurveStep> steps, ramps, slopeRamps;
    std::vector<SpreadStep> spread;
};
FinishSteps FinishStepsOf(const PathWalk& walk, const std::vector<PathSample>& samples,
                          double spacing, const RailFit& fit) {
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
    FinishSteps found;
    found.steps = RippledSteps(drawnSteps, fit);
    found.ramps = StepRamps(rampedSteps, fit);
    found.spread = SpreadSteps(walk, rampedSteps, found.ramps, fit);
    // Where the fit asks (see FitTuning), the drawn steps on slopes up to
    // kMissedStepSteepness are ramped too, and the heart's curvature is held
    // on the segments reaching into their ramps, with the rail's level share
    // as on a sloped segment (see SlopeCurveShare).
    if (fit.rampsOnSlopes && !leansAnywhere) {
        std::vector<CurveStep> slopeSteps;
        for (const CurveStep& step : CurveSteps(walk, samples, spacing, kMissedStepSteepness)) {
            const auto same = [&](const CurveStep& drawn) { return drawn.at == step.at; };
            if (std::none_of(drawnSteps.begin(), drawnSteps.end(), same))
                slopeSteps.push_back(step);
        }
        found.slopeRamps = StepRamps(std::move(slopeSteps), fit);
        found.ramps.insert(found.ramps.end(), found.slopeRamps.begin(), found.slopeRamps.end());
    }
    return found;
}

// Segment i's curvature rows (see SegmentResiduals): per fit point the
// loaded path's curvature the heart's is held to, the weight it is held with
// (zero: not held) and the roll's jet there, under `rolls`, the roll state on
// that segment.
void AddCurvatureRows(FinishModel& m, int i, const RollState& rolls, const PathWalk& walk,
                      const std::vector<PathSample>& samples, double spacing,
                      const FinishSteps& found) {
    const RailFit& fit = *m.fit;
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
        std::any_of(found.slopeRamps.begin(), found.slopeRamps.end(), [&](const CurveStep& step) {
            const double reach = StepRampReach(step);
            return fit.places[AsIndex(i)] < step.at + reach &&
                   fit.places[AsIndex(i) + 1] > step.at - reach;
        });
    const bool level = fit.curveWeight > 0.0 &&
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
        if (!RampedCurvature(walk, found.ramps, s, pathCurvature[AsIndex(q)])) {
            for (const SpreadStep& step : found.spread) {
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
            NearCurveStep(found.steps, s);
        curveScale[AsIndex(q)] = (stepped ? kStepCurveWeight : 1.0) *
                                 (leaning ? kLeanCurveShare : 1.0 - steep[AsIndex(q)]) *
                                 fit.curveWeight * v * v / kGravity;
        curveJets[AsIndex(q)] = RollJetAt(rolls, t);
    }
    m.pathCurvature.push_back(std::move(pathCurvature));
    m.curveScale.push_back(std::move(curveScale));
    m.curveJets.push_back(std::move(curveJets));
}

// The finish's model of `fit`: what its residuals hold fixed.
FinishModel FinishModelOf(const PathWalk& walk, const std::vector<PathSample>& samples,
                          double spacing, double heartline, const RailFit& fit) {
    FinishModel m;
    m.fit = &fit;
    const FinishSteps found = FinishStepsOf(walk, samples, spacing, fit);
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
            const double roll =
                UnwrappedRoll<portable::Math>(rolls, static_cast<double>(q) / (fit.perSegment - 1));
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
        AddCurvatureRows(m, i, rolls, walk, samples, spacing, found);
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
        const bool jumps = w > 0 && !RampedCurvature(walk, found.ramps, fit.places[k], ramped);
        m.pathJump.push_back(jumps ? CurvatureJumpAt(walk, w) : D3{});
    }
    for (int i = 0; i < fit.segments; ++i) m.rows.push_back(SegmentRows(m, i));
    return m;
}

// The Levenberg-Marquardt steps over the unknowns of `m`'s fit, from its
// points and directions, which get the result.
void SolveFinish(const FinishModel& m, RailFit& fit) {
    const int n = kPerVertex * (fit.segments + 1);
    std::vector<double> x(AsIndex(n));
    for (size_t k = 0; k < fit.point.size(); ++k) {
        const D3& p = fit.point[k];
        const D3& d = fit.direction[k];
        const double values[kPerVertex] = {p.x, p.y, p.z, d.x, d.y, d.z};
        std::copy(values, values + kPerVertex,
                  x.begin() + static_cast<std::ptrdiff_t>(kPerVertex * k));
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
            AddBlock(
                [&](const double* v, int, std::vector<double>& r) { SegmentResiduals(m, i, v, r); },
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

}  // namespace

void FinishFit(const PathWalk& walk, const std::vector<PathSample>& samples, double spacing,
               double heartline, RailFit& fit) {
    SolveFinish(FinishModelOf(walk, samples, spacing, heartline, fit), fit);
}

}  // namespace cvqrn::smooth
