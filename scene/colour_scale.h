// The colours of the 3D view: one scale in g for each felt force, the one
// colour of a comfort-limit exceedance, and the grey of a sample without a
// force. The legends of the window and the page are drawn from these stops.
#pragma once

#include <array>
#include <string>

namespace cvqrn::scene {

// Which felt force colours the track.
enum class ForceChannel { Vertical, Lateral, Longitudinal };
inline constexpr std::array<ForceChannel, 3> kForceChannels{
    ForceChannel::Vertical, ForceChannel::Lateral, ForceChannel::Longitudinal};

struct Rgb {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The comfort limits: vertical g above +6 or below -1.5, lateral g beyond
// +-1.8. A sample beyond any of them is painted kExceedColour whichever force
// colours the track.
inline constexpr double kMaxVerticalG = 6.0;
inline constexpr double kMinVerticalG = -1.5;
inline constexpr double kMaxLateralG = 1.8;
bool ExceedsComfort(double vertical, double lateral);

inline constexpr Rgb kExceedColour{1.0f, 0.0f, 0.9f};   // magenta, in no scale
inline constexpr Rgb kNoForceColour{0.5f, 0.5f, 0.5f};  // grey: unreached or vertical

struct ScaleStop {
    double g;
    Rgb colour;
};
inline constexpr int kScaleStops = 5;
struct ColourScale {
    const char* name;  // "Vertical", as the switch shows it
    std::array<ScaleStop, kScaleStops> stops;  // rising g; clamped outside
};

const ColourScale& ScaleOf(ForceChannel channel);
// The colour of `g` on `scale`: linear between stops, the end colours beyond
// them, kNoForceColour for NaN.
Rgb ColourAt(const ColourScale& scale, double g);

// "Vertical", "Lateral", "Longitudinal"; and back (false for another name).
const char* ChannelName(ForceChannel channel);
bool ChannelFromName(const std::string& name, ForceChannel& channel);

}  // namespace cvqrn::scene
