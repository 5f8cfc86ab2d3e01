// evaluate_rebuilds [--quick] [--only NAME]: rebuilds the sample tracks, builder layouts
// (helix, loop, a loop drawn in one plane, airtime hill, top hat) and seeded
// random layouts with the default and the smooth rebuild at 1x, 2x and 4x the
// recommended segment count, and prints for each the ride figures of the
// drawn track and of both rebuilds: felt lateral max and RMS, felt vertical
// min and max, onset rates, the heart path's distance from the drawn one and
// the raw-to-felt gap. A last column names the targets the smooth rebuild misses.
//
// The drawn track is ridden with the hearts on its rail; a rebuilt one with
// the hearts at the heartline distance. Samples every 0.25 m.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "heartline/generator.h"
#include "profile/ride_profile.h"
#include "samples/layout_builder.h"
#include "samples/random_layouts.h"
#include "samples/sample_tracks.h"
#include "text/format.h"

namespace {

using namespace cvqrn;

constexpr double kSpacing = 0.25;

struct Layout {
    std::string name;
    TrackData track;
    double startSpeed, endSpeed;
};

std::vector<Layout> Layouts(bool quick) {
    std::vector<Layout> layouts;
    for (const SampleLayout& s : SampleLayouts()) {
        layouts.push_back({s.fileName.substr(0, s.fileName.find('.')), s.track, s.startSpeed,
                           s.endSpeed});
    }
    layouts.push_back({"helix", BankedHelix(), 14.0, 15.0});
    layouts.push_back({"loop", VerticalLoop(), 24.0, 23.0});
    // A loop drawn in one plane without roll: its tangent passes straight up.
    layouts.push_back({"planar loop",
                       LayoutBuilder({0.0, 0.0, 0.0})
                           .Straight(20.0)
                           .Loop(11.0, 0.0)
                           .Straight(20.0)
                           .Build("planar loop"),
                       24.0, 23.0});
    layouts.push_back({"airtime hill", AirtimeHill(), 20.0, 19.0});
    layouts.push_back({"top hat", TopHat(), 26.0, 25.0});
    // Random layouts whose default run succeeds at their own speeds.
    int taken = 0;
    for (uint32_t seed = 1; taken < (quick ? 2 : 4) && seed < 200; ++seed) {
        const LayoutCase c = RandomLayoutCase(seed);
        double v0 = 14.3, v1 = 12.9;
        for (size_t k = 0; k + 1 < c.args.size(); ++k) {
            if (c.args[k] == "--start-speed") v0 = std::stod(c.args[k + 1]);
            if (c.args[k] == "--end-speed") v1 = std::stod(c.args[k + 1]);
        }
        TrackData probe = c.track;
        if (!GenerateHeartline(probe, {100, 6, 1.04, v0, v1, 15}, nullptr)) continue;
        layouts.push_back({"random " + c.name, c.track, v0, v1});
        ++taken;
    }
    return layouts;
}

struct Figures {
    bool ok = false;
    double latMax = 0, latRms = 0, vertMin = 0, vertMax = 0, onsetVert = 0, onsetLat = 0;
    double heart = 0, gap = 0;
    double totalMax = 0, onsetTotal = 0;  // of the felt force across the track
};

Figures Measure(const RideProfile& p, const RideProfile& drawn) {
    Figures f;
    const ProfileSummary& s = p.summary;
    f.ok = static_cast<bool>(p);
    f.latMax = std::abs(s.feltMaxLateral.value);
    f.latRms = s.feltLateralRms;
    f.vertMin = s.feltMinVertical.value;
    f.vertMax = s.feltMaxVertical.value;
    f.onsetVert = s.onsetVertical;
    f.onsetLat = s.onsetLateral;
    f.heart = &p == &drawn ? 0.0 : MaxHeartDistance(drawn, p);
    f.gap = std::max({s.maxVertical.value - s.feltMaxVertical.value,
                      s.feltMinVertical.value - s.minVertical.value,
                      std::abs(s.maxLateral.value) - std::abs(s.feltMaxLateral.value)});
    const ProfileSample* prev = nullptr;
    for (const ProfileSample& x : p.samples) {
        if (!std::isfinite(x.feltVertical)) {
            prev = nullptr;
            continue;
        }
        const double total = std::hypot(x.feltVertical, x.feltLateral);
        f.totalMax = std::max(f.totalMax, total);
        if (prev != nullptr) {
            const double time = (x.distance - prev->distance) / (0.5 * (x.speed + prev->speed));
            const double before = std::hypot(prev->feltVertical, prev->feltLateral);
            if (time > 0) f.onsetTotal = std::max(f.onsetTotal, std::abs(total - before) / time);
        }
        prev = &x;
    }
    return f;
}

// The targets a rebuild misses against the drawn track, by how much.
std::string Misses(const Figures& r, const Figures& d) {
    std::string out;
    const auto miss = [&](bool failed, const char* what, double by) {
        if (!failed) return;
        out += std::string(out.empty() ? "" : " ") + what + "+" + FormatFixed(by, 2);
    };
    miss(r.heart > 0.02, "heart", r.heart - 0.02);
    miss(r.latMax > d.latMax + 0.1, "latMax", r.latMax - d.latMax - 0.1);
    miss(r.latRms > d.latRms + 1e-3, "latRms", r.latRms - d.latRms);
    miss(r.vertMin < d.vertMin - 0.2, "vertMin", d.vertMin - 0.2 - r.vertMin);
    miss(r.vertMax > d.totalMax + 0.2, "vertMax", r.vertMax - d.totalMax - 0.2);
    const double vertOnset = 1.1 * std::max(d.onsetVert, d.onsetTotal) + 1.0;
    miss(r.onsetVert > vertOnset, "onsetV", r.onsetVert - vertOnset);
    miss(r.onsetLat > 1.1 * d.onsetLat + 1.0, "onsetL", r.onsetLat - 1.1 * d.onsetLat - 1.0);
    miss(r.gap > d.gap + 0.5, "gap", r.gap - d.gap - 0.5);
    return out.empty() ? "-" : out;
}

void Row(const char* layout, const char* count, const char* which, const Figures& f,
         const std::string& misses) {
    if (!f.ok) {
        // The refusal's reason goes in the last column.
        std::printf("| %s | %s | %s | failed |||||||| %s |\n", layout, count, which,
                    misses.c_str());
        return;
    }
    std::printf("| %s | %s | %s | %.2f | %.2f | %.2f | %.2f | %.1f | %.1f | %.3f | %.2f | %s |\n",
                layout, count, which, f.latMax, f.latRms, f.vertMin, f.vertMax, f.onsetVert,
                f.onsetLat, f.heart, f.gap, misses.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::string only;  // --only NAME: that layout alone
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--quick") == 0) quick = true;
        if (std::strcmp(argv[k], "--only") == 0 && k + 1 < argc) only = argv[++k];
    }
    std::printf(
        "| layout | segments | track | felt lat max (g) | felt lat RMS (g) | felt vert min (g) | "
        "felt vert max (g) | onset vert (g/s) | onset lat (g/s) | heart distance (m) | "
        "raw-felt gap (g) | targets missed |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Layout& layout : Layouts(quick)) {
        if (!only.empty() && layout.name != only) continue;
        const ProfileSettings drawnSettings{0.0, layout.startSpeed, layout.endSpeed, kSpacing};
        const RideProfile drawn = ComputeRideProfile(layout.track, drawnSettings);
        const Figures d = Measure(drawn, drawn);
        Row(layout.name.c_str(), "", "drawn", d, "");
        for (int times : {1, 2, 4}) {
            if (quick && times == 2) continue;
            const auto segments = static_cast<int16_t>(100 * times);
            for (bool smooth : {false, true}) {
                HeartlineSettings settings{segments, 6, 1.04, layout.startSpeed, layout.endSpeed,
                                           15};
                settings.smooth = smooth;
                TrackData track = layout.track;
                Figures f;
                const HeartlineResult result = GenerateHeartline(track, settings, nullptr);
                if (result) {
                    const RideProfile p = ComputeRideProfile(
                        track, {1.04, layout.startSpeed, layout.endSpeed, kSpacing});
                    f = Measure(p, drawn);
                }
                Row(layout.name.c_str(), std::to_string(segments).c_str(),
                    smooth ? "smooth" : "default", f, f.ok ? Misses(f, d) : result.message);
            }
        }
    }
    return 0;
}
