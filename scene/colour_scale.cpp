#include "scene/colour_scale.h"

#include <cmath>

namespace cvqrn::scene {

namespace {

constexpr Rgb kBlue{0.16f, 0.32f, 0.95f};
constexpr Rgb kCyan{0.15f, 0.75f, 0.90f};
constexpr Rgb kGreen{0.25f, 0.80f, 0.30f};
constexpr Rgb kYellow{0.98f, 0.84f, 0.15f};
constexpr Rgb kRed{0.90f, 0.15f, 0.10f};

// Vertical: green at the 1 g of sitting still, blue towards lifting out of
// the seat, red towards the upper limit. Lateral and longitudinal: green at
// none, one side blue, the other red.
constexpr std::array<ColourScale, 3> kScales{{
    {"Vertical", {{{kMinVerticalG, kBlue}, {0.0, kCyan}, {1.0, kGreen}, {3.5, kYellow},
                   {kMaxVerticalG, kRed}}}},
    {"Lateral", {{{-kMaxLateralG, kBlue}, {-0.9, kCyan}, {0.0, kGreen}, {0.9, kYellow},
                  {kMaxLateralG, kRed}}}},
    {"Longitudinal", {{{-1.5, kBlue}, {-0.5, kCyan}, {0.0, kGreen}, {0.5, kYellow},
                       {1.5, kRed}}}},
}};

}  // namespace

bool ExceedsComfort(double vertical, double lateral) {
    return vertical > kMaxVerticalG || vertical < kMinVerticalG || std::abs(lateral) > kMaxLateralG;
}

const ColourScale& ScaleOf(ForceChannel channel) {
    return kScales[static_cast<size_t>(channel)];
}

Rgb ColourAt(const ColourScale& scale, double g) {
    if (std::isnan(g)) return kNoForceColour;
    const auto& s = scale.stops;
    if (g <= s.front().g) return s.front().colour;
    for (size_t i = 1; i < s.size(); ++i) {
        if (g > s[i].g) continue;
        const auto f = static_cast<float>((g - s[i - 1].g) / (s[i].g - s[i - 1].g));
        const Rgb& a = s[i - 1].colour;
        const Rgb& b = s[i].colour;
        return {a.r + f * (b.r - a.r), a.g + f * (b.g - a.g), a.b + f * (b.b - a.b)};
    }
    return s.back().colour;
}

const char* ChannelName(ForceChannel channel) {
    return ScaleOf(channel).name;
}

bool ChannelFromName(const std::string& name, ForceChannel& channel) {
    for (ForceChannel c : kForceChannels) {
        if (name == ChannelName(c)) {
            channel = c;
            return true;
        }
    }
    return false;
}

}  // namespace cvqrn::scene
