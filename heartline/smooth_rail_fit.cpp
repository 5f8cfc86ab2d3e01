// Fitting the rail's control points round by round.
#include "heartline/smooth_rail_fit.h"

#include "heartline/sampling.h"
#include "heartline/smooth_tuning.h"
#include "heartline/smooth_up.h"
#include "portable_math/portable_math.h"

namespace cvqrn::smooth {

namespace {

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

}  // namespace

Cubic RailCubic(const RailFit& fit, int i) {
    const size_t k = AsIndex(i);
    const double a = fit.lengths[k] / 3.0;
    return {fit.point[k], fit.point[k] + a * fit.direction[k],
            fit.point[k + 1] - a * fit.direction[k + 1], fit.point[k + 1]};
}

namespace {

// The weight of the curvature rows at one end of segment i: none where the
// rail is steep, whose tangent there matters more than the join's curvature
// (a rail that overshoots its lean there turns its level frame over).
double CurveWeight(const RailFit& fit, int i, bool end) {
    const std::vector<double>& steep = fit.steep[AsIndex(i)];
    return kCurveWeight * (1.0 - (end ? steep.back() : steep.front()));
}

}  // namespace

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

bool KeepsRollRate(const RailFit& fit, size_t k) {
    return fit.keepRate[k] != 0;
}

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

namespace {

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

}  // namespace

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
                    up =
                        Unit((1.0 - steep) * up + steep * UpAt(samples, spacing, s, Unit(tangent)));
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

}  // namespace cvqrn::smooth
