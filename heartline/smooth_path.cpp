// Walking and sampling the loaded path.
#include "heartline/smooth_path.h"

#include <algorithm>
#include <cmath>

#include "heartline/banking.h"
#include "heartline/heartline_run.h"
#include "heartline/smooth_tuning.h"
#include "portable_math/portable_math.h"

namespace cvqrn::smooth {

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

namespace {

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
    return static_cast<size_t>(std::upper_bound(walk.s.begin() + lo, walk.s.begin() + hi, s) -
                               walk.s.begin());
}

}  // namespace

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

namespace {

// How much of the felt direction a segment's banking mode takes at t.
double FeltShare(int32_t mode, double t) {
    if (mode == kBankingKeepInput) return 0.0;
    if (mode == kBankingFeltToInput) return 1.0 - t;
    if (mode == kBankingInputToFelt) return t;
    return 1.0;
}

}  // namespace

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
            sample.drawnUp = UpOf(
                frame, UnwrappedRoll<portable::Math>(walk.rolls[AsIndex(at.segment)], at.t) + keep);
            previousDown = frame.levelDown;
            haveDown = true;
        }
    }
    return samples;
}

// ---- Stage 2: the riders' up direction -----------------------------------

}  // namespace cvqrn::smooth
