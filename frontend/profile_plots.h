// The ride profile's plots worked out without a toolkit, for the window and
// the page alike: the arrays each track's plots draw, felt or raw, against
// distance or time; each series cut down to what its pixel columns can show;
// the value ranges, tick steps and titles; and the one x range every plot
// follows while the user zooms and pans.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "profile/ride_profile.h"

namespace cvqrn::ui {

enum class ForceView { Felt, Raw };
enum class XAxis { Distance, Time };

// What the plots show, top to bottom: speed, the three forces, and the
// motion plot's roll angle and roll rate (one plot, two scales).
enum class Quantity { Speed, Vertical, Lateral, Longitudinal, Roll, RollRate };
inline constexpr int kQuantityCount = 6;
inline constexpr std::array<Quantity, kQuantityCount> kQuantities = {
    Quantity::Speed,        Quantity::Vertical, Quantity::Lateral,
    Quantity::Longitudinal, Quantity::Roll,     Quantity::RollRate};

// True for the three forces, whose felt and raw values differ.
bool IsForce(Quantity quantity);

// One track's profile as the plots take it: one array per quantity, a value
// per sample, NaN where there is none (the train does not get there, the
// track is vertical). Roll in degrees, -180..180, with no value at the
// sample where it jumps across +-180 so that the line breaks there; roll
// rate in degrees per second; time in seconds from the start.
struct PlotData {
    std::vector<double> distance, time;
    std::vector<double> speed, vertical, lateral, longitudinal;
    std::vector<double> feltVertical, feltLateral, feltLongitudinal;
    std::vector<double> roll, rollRate;
};

PlotData MakePlotData(const RideProfile& profile);

const std::vector<double>& XValues(const PlotData& data, XAxis axis);
const std::vector<double>& Values(const PlotData& data, Quantity quantity, ForceView view);

struct Range {
    double lo = 0.0;
    double hi = 1.0;
    double Span() const { return hi - lo; }
    bool Contains(double v) const { return v >= lo && v <= hi; }
};

// The points of the series (x, y) worth drawing over `shown` on `columns`
// pixel columns: in every column its lowest and its highest sample, in their
// order along x, so that every spike keeps its full height; and the nearest
// sample beyond each end, so that the line runs to the plot's edges. Where a
// sample has no value the line breaks: the result holds a NaN y there. `x`
// rises, possibly ending in NaN (a time axis where the train stops); nothing
// after its first NaN is drawn. At most 2 columns + 2 points plus one per break.
struct Points {
    std::vector<double> x, y;
};
Points DecimatePerColumn(const std::vector<double>& x, const std::vector<double>& y, Range shown,
                         int columns);

// The value range a plot shows for these series. Where the values may hold
// spikes (`clip`: raw forces, roll rate), the range the middle 99 % of the
// samples span, widened by a quarter of its span each way (at least `pad`)
// and never beyond the values themselves; otherwise every value, widened by
// 5 % (at least `pad`). {0, 1} when there is no value at all.
Range ValueRange(const std::vector<const std::vector<double>*>& series, bool clip, double pad);

// How a plot of `quantity` picks its value range.
bool ClipsSpikes(Quantity quantity, ForceView view);
double RangePad(Quantity quantity);

// Axis ticks every `step` (1, 2 or 5 times a power of ten) from a multiple
// of it, labelled with `decimals` digits: enough that neighbouring labels
// never read the same.
struct Ticks {
    double step = 1.0;
    int decimals = 0;
};
Ticks NiceTicks(Range range, int count);
// The same for an angle in degrees: 5, 15, 45, 90 or 180 apart.
Ticks AngleTicks(Range range, int count);

// The value range a plot `pixels` high shows, and its ticks: `range` with
// ticks about `pixelsPerTick` apart, as long as a label (`labelPixels` high)
// fits between them. A short plot gets fewer ticks and, where that leaves
// too few inside the range, the range widened to whole ticks at both ends
// (by at most a third or so), so that both ends are labelled: a chart drops
// labels that would overlap, which left a short plot with a single label.
struct LabelledRange {
    Range range;
    Ticks ticks;
};
LabelledRange LabelRange(Range range, int pixels, int pixelsPerTick, int labelPixels,
                         bool degrees);

// The titles of the plots' axes; no unit sits in two pairs of brackets.
std::string PlotTitle(Quantity quantity);
std::string XAxisTitle(XAxis axis);

// The x range every plot shows: the whole ride, or the part the user zoomed
// into. A range never leaves the ride and never narrows below a millionth
// of it.
class XRange {
  public:
    // The whole ride, shown whole.
    void SetExtent(Range extent);
    Range Extent() const { return extent_; }
    Range Shown() const { return shown_; }
    bool Zoomed() const;

    // Zooms by `factor` (below 1 zooms in) keeping the value `at` where it is.
    void ZoomAround(double at, double factor);
    // Shows from a to b (in either order), as a drag selects it.
    void ZoomTo(double a, double b);
    // Moves the shown range by `delta`, stopping at the ride's ends.
    void PanBy(double delta);
    // Centres the shown range on `at`; the whole ride narrows to a tenth first.
    void CentreOn(double at);
    void Reset() { shown_ = extent_; }

  private:
    void Show(double lo, double hi);
    Range extent_;
    Range shown_;
};

}  // namespace cvqrn::ui
