// The ride profile's plots and texts without a display: the per-pixel
// decimation, the value ranges and ticks, the shared zoom, the labels, the
// caption and the export names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "frontend/profile_model.h"
#include "frontend/profile_plots.h"
#include "samples/sample_tracks.h"
#include "text/format.h"

namespace cvqrn::ui {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Noise with single-sample spikes, a few gaps, and a decimation of it onto
// far fewer columns than samples: every column keeps its own highest and
// lowest value exactly, so every local extreme of the series lies within
// what its column draws, and every spike is drawn at its full height.
TEST(Decimation, KeepsEveryColumnsExtremesSoEveryLocalExtremeShows) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const size_t n = 20000;
    std::vector<double> x(n), y(n);
    for (size_t i = 0; i < n; ++i) {
        x[i] = 0.5 * static_cast<double>(i);
        y[i] = std::sin(x[i] / 300.0) + 0.1 * noise(random);
    }
    for (size_t spike : {1234u, 5000u, 5001u, 17777u}) y[spike] = spike % 2 ? 41.0 : -30.0;
    for (size_t gap = 9000; gap < 9010; ++gap) y[gap] = kNaN;

    const int columns = 300;
    for (const Range shown : {Range{0.0, 9999.5}, Range{2000.0, 3000.0}, Range{4400.0, 4600.0}}) {
        SCOPED_TRACE(shown.lo);
        const Points p = DecimatePerColumn(x, y, shown, columns);
        const auto inside = [&](size_t i) { return x[i] >= shown.lo && x[i] <= shown.hi; };
        size_t visible = 0;
        for (size_t i = 0; i < n; ++i) visible += inside(i) ? 1u : 0u;
        EXPECT_LE(p.x.size(), std::min(visible + 2, size_t{2 * columns + 2 + 2}));

        // Each pixel column: the drawn minimum and maximum are the samples'.
        const auto columnOf = [&](double v) {
            return static_cast<size_t>(
                std::min(columns - 1, static_cast<int>((v - shown.lo) * (columns / shown.Span()))));
        };
        const auto count = static_cast<size_t>(columns);
        std::vector<double> lo(count, INFINITY), hi(count, -INFINITY);
        std::vector<double> drawnLo(count, INFINITY), drawnHi(count, -INFINITY);
        for (size_t i = 0; i < n; ++i) {
            if (!inside(i) || std::isnan(y[i])) continue;
            const size_t c = columnOf(x[i]);
            lo[c] = std::min(lo[c], y[i]);
            hi[c] = std::max(hi[c], y[i]);
        }
        for (size_t k = 0; k < p.x.size(); ++k) {
            if (k > 0) {
                EXPECT_GE(p.x[k], p.x[k - 1]) << "points keep their order";
            }
            if (std::isnan(p.y[k]) || p.x[k] < shown.lo || p.x[k] > shown.hi) continue;
            const size_t c = columnOf(p.x[k]);
            drawnLo[c] = std::min(drawnLo[c], p.y[k]);
            drawnHi[c] = std::max(drawnHi[c], p.y[k]);
        }
        for (size_t c = 0; c < count; ++c) {
            EXPECT_EQ(drawnLo[c], lo[c]) << c;
            EXPECT_EQ(drawnHi[c], hi[c]) << c;
        }
        // Every local extreme of the series: inside the span its column draws.
        for (size_t i = 1; i + 1 < n; ++i) {
            if (!inside(i) || std::isnan(y[i])) continue;
            const bool peak = y[i] > y[i - 1] && y[i] > y[i + 1];
            const bool trough = y[i] < y[i - 1] && y[i] < y[i + 1];
            if (!peak && !trough) continue;
            const size_t c = columnOf(x[i]);
            EXPECT_TRUE(y[i] >= drawnLo[c] && y[i] <= drawnHi[c]) << i;
        }
    }
    // The gap breaks the line: a NaN between the samples either side of it.
    const Points whole = DecimatePerColumn(x, y, {0.0, 9999.5}, columns);
    const auto gap = std::find_if(whole.y.begin(), whole.y.end(), [](double v) { return std::isnan(v); });
    ASSERT_NE(gap, whole.y.end());
    const size_t at = static_cast<size_t>(gap - whole.y.begin());
    EXPECT_TRUE(whole.x[at - 1] < 4500.0 && whole.x[at + 1] > 4504.0);
}

// The lines run to the plot's edges: the nearest sample beyond each end is kept.
TEST(Decimation, KeepsOneSampleBeyondEachEndAndStopsWhereTheTimeAxisEnds) {
    const std::vector<double> x{0, 1, 2, 3, 4, 5, kNaN, kNaN};
    const std::vector<double> y{0, 1, 0, 1, 0, 1, 7, 7};
    const Points p = DecimatePerColumn(x, y, {1.5, 3.5}, 100);
    EXPECT_EQ(p.x, (std::vector<double>{1, 2, 3, 4}));
    const Points all = DecimatePerColumn(x, y, {0.0, 10.0}, 100);
    EXPECT_EQ(all.x.size(), 6u) << "nothing after the first NaN x";
}

// A 41 g spike among 0-4 g: the raw scale leaves it off; the whole range keeps it.
TEST(ValueRange, ClippingKeepsTheRideReadableAndNeverWidensPastTheValues) {
    std::vector<double> raw(2000);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = 2.0 + 2.0 * std::sin(0.01 * static_cast<double>(i));
    raw[700] = 41.0;
    const Range clipped = ValueRange({&raw}, true, 0.25);
    EXPECT_TRUE(clipped.hi > 4.0 && clipped.hi < 6.0) << clipped.hi;
    EXPECT_TRUE(clipped.lo < 0.0 && clipped.lo > -1.5) << clipped.lo;
    const Range whole = ValueRange({&raw}, false, 0.25);
    EXPECT_GT(whole.hi, 41.0);
    const std::vector<double> flat(100, 1.0);
    const Range narrow = ValueRange({&flat}, true, 0.25);
    EXPECT_TRUE(narrow.lo == 0.75 && narrow.hi == 1.25) << narrow.lo << " " << narrow.hi;
    const std::vector<double> none(10, kNaN);
    EXPECT_EQ(ValueRange({&none}, false, 1.0).hi, 1.0);
}

// "1.1, 1.1, 1.0": labels that repeat. Every step labels each tick distinctly.
TEST(Ticks, NeighbouringLabelsNeverReadTheSame) {
    struct Row {
        Range range;
        int count;
        double step;
        int decimals;
    };
    for (const Row& row : std::vector<Row>{{{0, 283}, 8, 50, 0},
                                           {{0.95, 1.12}, 5, 0.05, 2},
                                           {{-1.5, 6.2}, 6, 2, 0},
                                           {{0, 9.3}, 12, 1, 0},
                                           {{-0.02, 0.03}, 5, 0.01, 2}}) {
        const Ticks t = NiceTicks(row.range, row.count);
        EXPECT_DOUBLE_EQ(t.step, row.step) << row.range.lo << ".." << row.range.hi;
        EXPECT_EQ(t.decimals, row.decimals) << row.range.lo << ".." << row.range.hi;
    }
    // Roll on 45 and 90 degrees rather than 100.
    EXPECT_EQ(AngleTicks({-190.0, 190.0}, 5).step, 90.0);
    EXPECT_EQ(AngleTicks({-50.0, 50.0}, 5).step, 45.0);
    std::mt19937 random(3);
    std::uniform_real_distribution<double> at(-50.0, 50.0), span(-4.0, 4.0);
    for (int trial = 0; trial < 500; ++trial) {
        const double lo = at(random);
        const Range range{lo, lo + std::pow(10.0, span(random))};
        const Ticks t = NiceTicks(range, 6);
        std::set<std::string> labels;
        int count = 0;
        for (double v = std::ceil(range.lo / t.step) * t.step; v <= range.hi; v += t.step, ++count) {
            labels.insert(FormatFixed(v, t.decimals));
        }
        EXPECT_EQ(static_cast<int>(labels.size()), count) << range.lo << ".." << range.hi;
        EXPECT_TRUE(count >= 2 && count <= 7) << count;
    }
}

// Fault: a short plot (a 1366 x 768 screen gives each about 40 to 70 px)
// with a single label. The step, rounded up to 1, 2 or 5, left one tick
// inside the speed's 11.8-27.1 m/s (20) and the longitudinal's -0.45-0.30 g
// (0.0); where the height allows no closer labels the range is widened to
// whole ticks instead, by at most a third or so.
TEST(Ticks, AShortPlotStillLabelsTwoTicks) {
    constexpr int kLabel = 16;
    constexpr int kPerTick = 20;
    const auto labelled = [](const LabelledRange& r) {
        int count = 0;
        for (double v = std::ceil(r.range.lo / r.ticks.step - 1e-9) * r.ticks.step;
             v <= r.range.hi + 1e-9 * r.ticks.step; v += r.ticks.step) {
            ++count;
        }
        return count;
    };
    struct Row {
        Range range;
        int pixels;
        bool degrees;
    };
    for (const Row& row : std::vector<Row>{{{11.8367, 27.0759}, 68, false},
                                           {{-0.445899, 0.299603}, 69, false},
                                           {{-0.445899, 0.299603}, 40, false},
                                           {{-3.44775, 7.459}, 56, false},
                                           {{-197.839, 197.51}, 56, true}}) {
        SCOPED_TRACE(testing::Message() << row.range.lo << ".." << row.range.hi << " in "
                                        << row.pixels << " px");
        const LabelledRange r = LabelRange(row.range, row.pixels, kPerTick, kLabel, row.degrees);
        EXPECT_GE(labelled(r), 2);
        EXPECT_GE(row.pixels * r.ticks.step, kLabel * r.range.Span() * (1.0 - 1e-12));
        EXPECT_TRUE(r.range.lo <= row.range.lo && r.range.hi >= row.range.hi);
        EXPECT_LE(r.range.Span(), 1.35 * row.range.Span() * (1.0 + 1e-12));
    }
    // A tall plot keeps its range and the ticks it always had.
    const Range tall{-3.44775, 7.459};
    const LabelledRange r = LabelRange(tall, 200, kPerTick, kLabel, false);
    EXPECT_EQ(r.range.lo, tall.lo);
    EXPECT_EQ(r.range.hi, tall.hi);
    EXPECT_EQ(r.ticks.step, NiceTicks(tall, 10).step);
    // Whatever the range and height, the shown range holds the values and a
    // widened one ends on ticks.
    std::mt19937 random(5);
    std::uniform_real_distribution<double> at(-50.0, 50.0), span(-3.0, 3.0);
    std::uniform_int_distribution<int> height(20, 300);
    for (int trial = 0; trial < 500; ++trial) {
        const double lo = at(random);
        const Range range{lo, lo + std::pow(10.0, span(random))};
        const LabelledRange shown = LabelRange(range, height(random), kPerTick, kLabel, false);
        ASSERT_TRUE(shown.range.lo <= range.lo && shown.range.hi >= range.hi);
        if (shown.range.lo != range.lo) {
            const double ends = shown.range.lo / shown.ticks.step;
            EXPECT_NEAR(ends, std::nearbyint(ends), 1e-6);
        }
    }
}

TEST(XRange, ZoomPanAndCentreStayInsideTheRide) {
    XRange r;
    r.SetExtent({0.0, 1000.0});
    EXPECT_FALSE(r.Zoomed());
    r.ZoomAround(250.0, 0.5);  // the point under the wheel stays put
    EXPECT_DOUBLE_EQ(r.Shown().lo, 125.0);
    EXPECT_DOUBLE_EQ(r.Shown().hi, 625.0);
    r.PanBy(-400.0);  // stops at the start, keeping its width
    EXPECT_DOUBLE_EQ(r.Shown().lo, 0.0);
    EXPECT_DOUBLE_EQ(r.Shown().hi, 500.0);
    r.ZoomTo(900.0, 700.0);
    EXPECT_DOUBLE_EQ(r.Shown().lo, 700.0);
    r.ZoomTo(10.0, 10.0);  // a click is not a zero-wide range
    EXPECT_GT(r.Shown().Span(), 0.0);
    r.ZoomAround(500.0, 1e9);
    EXPECT_FALSE(r.Zoomed());
    r.CentreOn(990.0);  // the whole ride narrows to a tenth, pushed back inside
    EXPECT_DOUBLE_EQ(r.Shown().lo, 900.0);
    EXPECT_DOUBLE_EQ(r.Shown().hi, 1000.0);
    r.Reset();
    EXPECT_FALSE(r.Zoomed());
}

TEST(ProfileTexts, NoMinusZeroAndNoDoubledBrackets) {
    for (const auto& [value, text] : std::vector<std::pair<double, std::string>>{
             {-0.001, "0.00"}, {-0.0, "0.00"}, {-0.005, "-0.01"}, {0.004, "0.00"}, {1.5, "1.50"}}) {
        EXPECT_EQ(Fixed(value, 2), text) << value;
    }
    EXPECT_EQ(Fixed(kNaN, 2), "-");
    for (Quantity q : kQuantities) {
        const std::string title = PlotTitle(q);
        EXPECT_EQ(std::count(title.begin(), title.end(), '('), 1) << title;
    }
}

// Every plot's range, felt and raw, is the range of both tracks' values by
// its own rule, whether the ranges are worked out on one thread or split in
// two (here run second half first): a range left to no side keeps {0, 1}, a
// raw force given its felt range loses its spikes' marks.
TEST(ValueRange, EveryPlotsRangeIsWorkedOutWhetherSplitOrNot) {
    ProfileRequest request;
    request.loaded = ProfileCopy(LoopAndHelix());
    request.rebuilt = ProfileCopy(WindingTrack(40));
    const auto profile = [&](Which which) {
        return ProfileTrack(which == Which::Loaded ? *request.loaded : *request.rebuilt,
                            ProfileSettingsFor(request, which));
    };
    int splits = 0;
    const ProfileModel models[2] = {
        AssembleProfileModel(request, profile(Which::Loaded), profile(Which::Rebuilt)),
        AssembleProfileModel(
            request, profile(Which::Loaded), profile(Which::Rebuilt),
            [&splits](const std::function<void()>& first, const std::function<void()>& second) {
                ++splits;
                second();
                first();
            })};
    EXPECT_EQ(splits, 1);
    for (const ProfileModel& model : models) {
        for (ForceView view : {ForceView::Felt, ForceView::Raw}) {
            for (Quantity q : kQuantities) {
                const Range expected = ValueRange({&Values(model.loadedPlots.data, q, view),
                                                   &Values(model.rebuiltPlots.data, q, view)},
                                                  ClipsSpikes(q, view), RangePad(q));
                const Range got = PlotRange(model, q, view);
                EXPECT_EQ(got.lo, expected.lo)
                    << static_cast<int>(q) << " " << static_cast<int>(view);
                EXPECT_EQ(got.hi, expected.hi)
                    << static_cast<int>(q) << " " << static_cast<int>(view);
            }
        }
    }
    // The raw forces keep their spikes out of the scale the felt ones never reach.
    EXPECT_NE(PlotRange(models[0], Quantity::Vertical, ForceView::Raw).hi,
              PlotRange(models[0], Quantity::Vertical, ForceView::Felt).hi);
}

// A model of the family coaster, before and after a run, read through its texts.
TEST(ProfileTexts, SummaryCaptionExceedancesAndReadOut) {
    ProfileRequest request;
    request.loaded = ProfileCopy(FamilyCoaster());
    request.rebuilt = ProfileCopy(FamilyCoaster());
    request.trackPath = "/tracks/family_coaster.cvtrack";
    request.when = "2026-12-07 14:03";
    request.settings.smooth = true;
    request.settings.segments = 65;  // as many as the rebuilt copy has
    const ProfileModel model = BuildProfileModel(request);
    EXPECT_EQ(model.caption,
              "family_coaster.cvtrack \u00b7 smooth rebuild \u00b7 Segments 65, Heartline 1.04 m, "
              "V in 14.3 m/s, V out 12.9 m/s, Precision 6, Filter 15 \u00b7 2026-12-07 14:03");
    // A smooth rebuild that left part of its budget unused names both counts.
    ProfileRequest budget = request;
    budget.settings.segments = 100;
    EXPECT_NE(BuildProfileModel(budget).caption.find(" \u00b7 Segments 65 of 100, "),
              std::string::npos);

    // Which rebuild ran: none yet after a load, none after a failed run.
    ProfileRequest loadedOnly = request;
    loadedOnly.rebuilt.reset();
    EXPECT_NE(BuildProfileModel(loadedOnly).caption.find(" \u00b7 not rebuilt yet \u00b7 "),
              std::string::npos);
    loadedOnly.afterRun = true;
    EXPECT_NE(BuildProfileModel(loadedOnly).caption.find(" \u00b7 the run failed \u00b7 "),
              std::string::npos);

    for (ForceView view : {ForceView::Felt, ForceView::Raw}) {
        const std::vector<SummaryRow> rows = SummaryRows(model, view);
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [](const SummaryRow& r) { return r.label == "Largest lateral"; });
        ASSERT_NE(row, rows.end());
        const ProfileSummary& s = model.loaded->summary;
        const ProfileExtreme& e = view == ForceView::Felt ? s.feltMaxLateral : s.maxLateral;
        EXPECT_EQ(row->loaded.rfind(Fixed(e.value, 2) + " g at ", 0), 0u) << row->loaded;
        EXPECT_EQ(row->loadedAt, e.distance);
        EXPECT_FALSE(row->toolTip.empty());
        for (const SummaryRow& r : rows) {
            if (r.label.find("5 m") != std::string::npos) {
                EXPECT_FALSE(r.toolTip.empty()) << r.label;
            }
        }
    }
    // Without a heartline offset both tracks ride alike: the read-out names both.
    const std::string out = ReadOut(model, XAxis::Time, ForceView::Felt, 3.0);
    EXPECT_EQ(out.rfind("3.00 s   loaded at ", 0), 0u) << out;
    EXPECT_NE(out.find("   rebuilt at "), std::string::npos) << out;
    EXPECT_EQ(out.find("-0.00"), std::string::npos) << out;

    Exceedance e;
    e.axis = ForceAxis::Vertical;
    e.limit = kVerticalLimitDown;
    e.startDistance = 10.04;
    e.endDistance = 12.0;
    e.duration = 0.1234;
    e.peak = -1.9;
    e.peakDistance = 11.0;
    EXPECT_EQ(ExceedanceText(e), "Vertical below -1.5 g at 10.0\u201312.0 m for 0.12 s, peak -1.90 g");
    e.limit = kVerticalLimitUp;
    EXPECT_EQ(ExceedanceText(e).rfind("Vertical above +6 g at ", 0), 0u);
}

// The rebuilt figure judged against the loaded one, row by row. Each case
// names the fault it catches.
TEST(ProfileTexts, VerdictsJudgeLikeWithLikeBeyondTheMargins) {
    const auto extreme = [](double value) { return ProfileExtreme{value, 10.0, 1}; };
    ProfileModel model;
    model.loaded.emplace();
    model.loaded->summary.feltMaxLateral = extreme(2.0);
    model.loaded->summary.feltMinVertical = extreme(-1.0);
    model.loaded->summary.feltMaxVertical = extreme(3.0);
    model.loaded->summary.onsetLateral = 20.0;
    model.loaded->summary.feltLateralRms = 0.5;
    model.rebuilt = model.loaded;
    const auto verdict = [&](const char* label) {
        for (const SummaryRow& row : SummaryRows(model, ForceView::Felt)) {
            if (row.label == label) return row.verdict;
        }
        ADD_FAILURE() << "no row " << label;
        return Verdict::None;
    };
    struct Case {
        const char* fault;
        double lateral, lowest, onset, rms;
        const char* label;
        Verdict expected;
    };
    const Case cases[] = {
        {"the lateral's sign taken for its size", -2.2, -1.0, 20.0, 0.5, "Largest lateral",
         Verdict::Worse},
        {"a lateral within 0.1 g called worse", -2.08, -1.0, 20.0, 0.5, "Largest lateral",
         Verdict::Same},
        {"a gentler lateral not shown", 1.5, -1.0, 20.0, 0.5, "Largest lateral", Verdict::Better},
        {"more airtime taken as better", 2.0, -1.3, 20.0, 0.5, "Lowest vertical", Verdict::Worse},
        {"less airtime not shown", 2.0, -0.5, 20.0, 0.5, "Lowest vertical", Verdict::Better},
        {"the onset's 10 % share left out", 2.0, -1.0, 22.9, 0.5, "Lateral onset", Verdict::Same},
        {"a harsher onset not shown", 2.0, -1.0, 23.5, 0.5, "Lateral onset", Verdict::Worse},
        {"the RMS judged without its margin", 2.0, -1.0, 20.0, 0.505, "Lateral RMS", Verdict::Same},
        {"a higher RMS not shown", 2.0, -1.0, 20.0, 0.52, "Lateral RMS", Verdict::Worse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        model.rebuilt->summary.feltMaxLateral = extreme(c.lateral);
        model.rebuilt->summary.feltMinVertical = extreme(c.lowest);
        model.rebuilt->summary.onsetLateral = c.onset;
        model.rebuilt->summary.feltLateralRms = c.rms;
        EXPECT_EQ(verdict(c.label), c.expected);
    }

    // The highest vertical is not judged: banking turns lateral into vertical.
    model.rebuilt->summary.feltMaxVertical = extreme(4.0);
    EXPECT_EQ(verdict("Highest vertical"), Verdict::None);
    // The tool tip names the margin it judged by.
    for (const SummaryRow& row : SummaryRows(model, ForceView::Felt)) {
        if (row.label == "Lateral onset") {
            EXPECT_EQ(row.verdictText, "Within 10 % and 1 g/s of the loaded track.");
        }
    }
    // Nothing to judge: no extreme counted on the rebuilt track, or no rebuild.
    model.rebuilt->summary.feltMaxLateral.segment = -1;
    EXPECT_EQ(verdict("Largest lateral"), Verdict::None);
    model.rebuilt.reset();
    for (const SummaryRow& row : SummaryRows(model, ForceView::Raw)) {
        EXPECT_EQ(row.verdict, Verdict::None) << row.label;
        EXPECT_TRUE(row.verdictText.empty()) << row.label;
    }
}

TEST(ProfileTexts, ExportNamesFollowTheTrack) {
    struct Row {
        const char* track;
        const char* suffix;
        const char* extension;
        const char* path;
    };
    for (const Row& row : std::vector<Row>{
             {"/home/d/tracks/family_coaster.cvtrack", "-profile", "png",
              "/home/d/tracks/family_coaster-profile.png"},
             {"/t/Loop.CVTRACK", "-hl-profile", "csv", "/t/Loop-hl-profile.csv"},
             {"relative.cvtrack", "-profile", "svg", "relative-profile.svg"},
             {"/t/.cvtrack", "-profile", "png", "/t/.cvtrack-profile.png"},
             {"", "-profile", "png", "ride-profile.png"}}) {
        EXPECT_EQ(ExportPath(row.track, row.suffix, row.extension), row.path) << row.track;
    }
}

}  // namespace
}  // namespace cvqrn::ui
