// The energy line and the arc-length walk along the heart path.
//
// The train's energy, as a height, changes linearly with arc length from the
// start speed at the first vertex to the end speed at the last. The walk
// takes the points of TrackLength (geometry/bezier.h) on every input segment,
// measures the arc length chord by chord and takes N + 1 samples at equal
// spacing; at each sample it works out the speed and the direction in which
// the riders are pressed (gravity plus the centrifugal effect of the curve at
// that speed).
#include <cmath>
#include <string>

#include "heartline/sampling.h"

#include "geometry/bezier.h"
#include "geometry/frame.h"
#include "heartline/banking.h"
#include "heartline/heartline_run.h"
#include "text/format.h"

namespace cvqrn {

namespace {

constexpr int kSpeedIterations = 5;

// The energy line from the first vertex to the last along the measured length.
void SetUpEnergyLine(HeartlineRun& run, const TrackData& track) {
    run.Energy = MakeEnergyLine(
        run.Settings.startspeed, static_cast<double>(track.Bezr.Vertices[0].Pos.y),
        run.Settings.endspeed, static_cast<double>(LastVertex(track).Pos.y), run.TrackLen);
}

// Speed and felt direction at one point of the walk.
struct SampleValues {
    double speed = 0.0;
    Vec3 feltDown;
    Vec3 tangent;  // BezierTangent, not normalised
};

// Works out the speed and the felt direction at walk point `cur` (arc length
// `arcPos`, parameter t) in five rounds: the speed depends on the height of
// the rail, which depends on the felt direction, which depends on the speed.
// Returns false when the energy line lies below the train.
bool SolveSpeed(const HeartlineRun& run, const BezierCurve& record, const CurvePoints& curve,
                float tSingle, double t, const Vec3& cur, double arcPos, SampleValues& out,
                double& heightEst) {
    const double kappa = BezierCurvature(curve, t);
    const Vec3 d1 = BezierDerivative(curve, t);
    const Vec3 d2 = BezierSecondDerivative(curve, t);
    const Vec3 tangent = BezierTangent(record, tSingle);
    const Vec3 normal = PrincipalNormal(d1, d2, tangent);

    const EnergyLine& line = run.Energy;
    heightEst = static_cast<double>(cur.y);
    double speed = 0.0;
    Vec3 feltDown;
    for (int round = 0; round < kSpeedIterations; ++round) {
        const double head = SpeedSquared(line, arcPos, heightEst);
        if (head < 0.0) return false;
        speed = std::sqrt(head);
        const double accel = std::pow(speed, 2.0) * kappa / kGravity;  // in g
        Vec3 felt = lsf_Vscale(normal, -accel);
        felt.y = felt.y - 1.0f;
        feltDown = RemoveTangentPart(felt, tangent);
        const double heartline = run.Settings.heartline;
        heightEst = static_cast<double>(feltDown.y) * heartline + static_cast<double>(cur.y) +
                    heartline;
    }
    out.speed = speed;
    out.feltDown = feltDown;
    out.tangent = tangent;
    return true;
}

// Stores the values of one sample, except the banking.
void StoreSample(HeartlineRun& run, int j, const Vec3& cur, const SampleValues& values) {
    const size_t s = AsIndex(j);
    run.SampleSpeed[s] = values.speed;
    if (values.speed < run.MinSpeed) run.MinSpeed = values.speed;
    if (values.speed > run.MaxSpeed) run.MaxSpeed = values.speed;
    run.SamplePos[s] = cur;
    const Vec3& tangent = values.tangent;
    run.LevelDown[s] = LevelDownAcross(tangent);
    run.SampleTangent[s] = lsf_Vnormalize(tangent);
}

// A second sample due at the same walk point gets the same values.
void CopySample(HeartlineRun& run, int from, int to) {
    const size_t a = AsIndex(from);
    const size_t b = AsIndex(to);
    run.SamplePos[b] = run.SamplePos[a];
    run.SampleSpeed[b] = run.SampleSpeed[a];
    run.SampleTangent[b] = run.SampleTangent[a];
    run.LevelDown[b] = run.LevelDown[a];
    run.RollDown[b] = run.RollDown[a];
    run.SampleDown[b] = run.SampleDown[a];
    run.PassCount[b] = run.PassCount[a];
}

std::string ValleyDetail(const HeartlineRun& run, int j, double arcPos, double heightEst) {
    const double energy = EnergyHeight(run.Energy, arcPos);
    return "The train valleyed at sample " + std::to_string(j) + " of " + std::to_string(run.N) +
           ", " + FormatFixed(arcPos) + " m along the track: the train there is " +
           FormatFixed(heightEst) + " m high but the energy line is at " + FormatFixed(energy) +
           " m.";
}

}  // namespace

double WrapAngle(double x) {
    if (x > kPi) return x - kTwoPi;
    if (x < -kPi) return x + kTwoPi;
    return x;
}

RollState StartRolls(const TrackData& track) {
    RollState state;
    state.RollCur = static_cast<double>(track.Bezr.Vertices[0].Roll);
    return state;
}

void BeginRollSegment(RollState& state, const TrackData& track, int i) {
    const auto& vertices = track.Bezr.Vertices;
    const int count = track.Bezr.VertexCount;
    int next = i + 1;
    if (next == count) next = 0;
    int next2 = next + 1;
    if (next2 == count) next2 = 0;
    const TrackVertex& vNext = vertices[AsIndex(next)];
    const TrackVertex& vNext2 = vertices[AsIndex(next2)];

    state.RollNext = static_cast<double>(vNext.Roll);
    if (vNext.RelativeRoll) state.RollNext += state.RollCur;
    double rollNext2 = static_cast<double>(vNext2.Roll);
    if (vNext2.RelativeRoll) rollNext2 += state.RollNext;

    state.Delta = WrapAngle(state.RollNext - state.RollCur);
    const double deltaNext = WrapAngle(rollNext2 - state.RollNext);
    state.SumPrev = state.Delta + state.DeltaPrev;
    state.SumNext = state.Delta + deltaNext;
    state.DeltaPrev = state.Delta;
    state.ContStart = IsRollRateContinuous(vertices[AsIndex(i)]) ? 1.0 : 0.0;
    state.ContEnd = IsRollRateContinuous(vNext) ? -1.0 : 0.0;
}

void AdvanceRoll(RollState& state, const TrackData& track, int i) {
    int next = i + 1;
    if (next == track.Bezr.VertexCount) next = 0;
    const TrackVertex& vNext = track.Bezr.Vertices[AsIndex(next)];
    if (vNext.RelativeRoll) {
        state.RollCur = WrapAngle(state.RollNext);
    } else {
        state.RollCur = static_cast<double>(vNext.Roll);
    }
}

EnergyLine MakeEnergyLine(double startspeed, double startHeight, double endspeed, double endHeight,
                          double length) {
    EnergyLine line;
    line.end = std::pow(endspeed, 2.0) / (2.0 * kGravity) + endHeight;
    line.start = std::pow(startspeed, 2.0) / (2.0 * kGravity) + startHeight;
    line.slope = (line.end - line.start) / length;
    return line;
}

double EnergyHeight(const EnergyLine& line, double s) {
    return line.slope * s + line.start;
}

double SpeedSquared(const EnergyLine& line, double s, double height) {
    return 2.0 * kGravity * (EnergyHeight(line, s) - height);
}

Result SampleTrack(HeartlineRun& run, const TrackData& track) {
    SetUpEnergyLine(run, track);

    const int lastSegment = track.Bezr.VertexCount - 2;
    RollState rolls = StartRolls(track);
    Vec3 prev = BezierPoint(SegmentRecord(track, 0), 0.0f);
    double arcPos = 0.0;
    int j = 0;

    for (int i = 0; i <= lastSegment; ++i) {
        const BezierCurve record = SegmentRecord(track, i);
        const CurvePoints curve = SegmentCurve(track, i);
        BeginRollSegment(rolls, track, i);
        const SegmentBanking banking = BankingOfSegment(track, i);
        for (int k = 0; k <= kWalkStepsPerSegment; ++k) {
            const double t = static_cast<double>(k) / kWalkStepsPerSegment;
            const float tSingle = static_cast<float>(t);
            const Vec3 cur = BezierPoint(record, tSingle);
            arcPos += Distance3D(prev, cur);
            prev = cur;

            // Every sample whose place the walk has reached is taken here; the
            // last step always ends with a sample on the last vertex.
            const bool lastStep = i == lastSegment && k == kWalkStepsPerSegment;
            const int firstHere = j;
            while (j <= run.N && (static_cast<double>(j) / run.N) * run.TrackLen <= arcPos) {
                ++j;
            }
            if (lastStep && j == firstHere) ++j;  // the forced last sample, into the spare
            if (j == firstHere) continue;

            SampleValues values;
            double heightEst = 0.0;
            if (!SolveSpeed(run, record, curve, tSingle, t, cur, arcPos, values, heightEst)) {
                run.StopArc = arcPos;
                return Failure(Status::Valleyed, ValleyDetail(run, firstHere, arcPos, heightEst));
            }
            StoreSample(run, firstHere, cur, values);
            BlendBanking(run, banking, firstHere, t, EasedRoll(rolls, t), values.feltDown,
                         values.tangent);
            StepProgress(run);
            for (int extra = firstHere + 1; extra < j; ++extra) {
                CopySample(run, firstHere, extra);
                StepProgress(run);
            }
            run.SamplesTaken = j;
        }
        AdvanceRoll(rolls, track, i);
    }
    return {};
}

}  // namespace cvqrn
