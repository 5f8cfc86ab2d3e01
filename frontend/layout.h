// Where everything sits on the window's 440 x 340 panel, in twips (15 per
// logical pixel), as the panel was designed: the plates of the skin, the
// captions it prints, and the controls the window lays over it. The skin
// paints from this table, the widgets are placed from it and the tests read it,
// so a control and the artwork under it cannot drift apart.
#pragma once

#include <array>
#include <cstddef>

namespace cvqrn::ui {

inline constexpr double kTwipsPerPixel = 15.0;

// A rectangle in twips.
struct TwipRect {
    int left, top, width, height;
    constexpr int right() const { return left + width; }
    constexpr int bottom() const { return top + height; }
};

// ---- Text fields ------------------------------------------------------------

// The twelve text fields, in tab order.
enum class Field {
    Segments,
    Heartline,
    StartSpeed,
    EndSpeed,
    Precision,
    Filter,
    SlopeIn,
    RadiusIn,
    TiltIn,
    SlopeOut,
    RadiusOut,
    TiltOut,
};
inline constexpr int kFieldCount = 12;
inline constexpr int kParameterFieldCount = 6;  // the first six of Field

struct FieldPlace {
    TwipRect box;
    const char* caption;  // printed by the skin at the field's left; the
                          // display fields' captions are the grid's heads
};

inline constexpr std::array<FieldPlace, kFieldCount> kFieldPlaces{{
    {{2100, 1500, 615, 315}, "Segments (#)"},
    {{2100, 1950, 615, 315}, "Heartline (m)"},
    {{2100, 2400, 615, 315}, "V in (m/s)"},
    {{2100, 2850, 615, 315}, "V out (m/s)"},
    {{2100, 3300, 615, 315}, "Precision (#)"},
    {{2100, 3750, 615, 315}, "Filter (#)"},
    {{3600, 3300, 765, 315}, "Slope in"},
    {{4500, 3300, 765, 315}, "Radius in"},
    {{5400, 3300, 765, 315}, "Tilt in"},
    {{3600, 3750, 765, 315}, "Slope out"},
    {{4500, 3750, 765, 315}, "Radius out"},
    {{5400, 3750, 765, 315}, "Tilt out"},
}};

constexpr const FieldPlace& PlaceOf(Field field) {
    return kFieldPlaces[static_cast<std::size_t>(field)];
}

// The end-analysis grid: column heads over the display fields, row heads at their left.
inline constexpr std::array<const char*, 3> kDataColumnHeads{"Slope (\u00B0)", "Radius (m)",
                                                             "Tilt (\u00B0)"};
inline constexpr std::array<const char*, 2> kDataRowHeads{"IN", "OUT"};

// ---- Hot-spots --------------------------------------------------------------

// A transparent click area over a button face or a knob of the skin.
struct HotSpotPlace {
    const char* name;  // object name
    TwipRect box;
    const char* face;         // text printed on the button face; empty for a knob
    const char* key;          // the keyboard shortcut printed under the face
    const char* toolTip;      // hover help
    const char* description;  // what it does, for assistive tools
};

enum class Button { Load, Heartline, Save };
inline constexpr std::array<HotSpotPlace, 3> kButtonPlaces{{
    {"btnLoad", {540, 4620, 1335, 255}, "Load Track", "Ctrl+O", "Load a track file (Ctrl+O)",
     "Opens a track file and shows the slope, radius and tilt at its two ends."},
    {"btnMod", {2340, 4620, 1335, 255}, "Heartline it!", "Ctrl+Enter",
     "Rebuild the loaded track along the heartline (Ctrl+Enter)",
     "Rebuilds the loaded track along the heartline with the six settings."},
    {"btnSave", {4140, 4620, 1335, 255}, "Save Track", "Ctrl+S",
     "Save the rebuilt track (Ctrl+S)", "Saves the rebuilt track as a new track file."},
}};

enum class Knob { Minimise, Close };
inline constexpr std::array<HotSpotPlace, 2> kKnobPlaces{{
    {"minimizeme", {5280, 180, 495, 315}, "", "", "Minimise", "Minimises the window."},
    {"closeme", {5820, 180, 435, 315}, "", "", "Close", "Closes the window and ends CV-QRN."},
}};

// The ride profile's small control on the data plate, right of the status
// dots: a dark box with a force trace.
inline constexpr HotSpotPlace kProfilePlace{
    "btnProfile", {6060, 2535, 420, 240}, "", "Ctrl+G",
    "Ride profile (Ctrl+G): speed and felt forces along the track, loaded and rebuilt",
    "Opens the ride profile window: speed and felt forces along the loaded and the rebuilt "
    "track."};

// The "Smooth ride" switch: a row above the six settings, in the field
// column, its caption printed at its left as theirs are. Off at start.
inline constexpr HotSpotPlace kSmoothPlace{
    "chkSmooth", {2100, 1080, 615, 270}, "", "",
    "Smooth ride: rebuild the track so that the riders' hearts follow the loaded path "
    "smoothly, without jolts where the new segments join (the smooth rebuild). Off: the "
    "default rebuild.",
    "Switches between the default rebuild and the smooth rebuild for the next heartline run."};
inline constexpr const char* kSmoothCaption = "Smooth ride";

constexpr const HotSpotPlace& PlaceOf(Button button) {
    return kButtonPlaces[static_cast<std::size_t>(button)];
}
constexpr const HotSpotPlace& PlaceOf(Knob knob) {
    return kKnobPlaces[static_cast<std::size_t>(knob)];
}

// ---- Status displays ----------------------------------------------------------

inline constexpr TwipRect kMessageBox{780, 4200, 1635, 315};

// The three status lights, left to right: circles 94 twips across, laid
// exactly over the skin's three red dots.
inline constexpr std::array<TwipRect, 3> kLightBoxes{{
    {3272, 2664, 94, 94},
    {3420, 2664, 94, 94},
    {3570, 2664, 94, 94},
}};

// The progress tube; the bar is as wide as the tube and grows up from its bottom.
inline constexpr TwipRect kProgressTube{2920, 2400, 145, 1680};

// ---- The recommended heartlines ------------------------------------------------

// What the table plate lists (the window's skin and the page both print it):
// ten sit-down styles (positive) and four hanging styles (negative), by
// value, in metres as printed, in columns of kRecommendedRowsPerColumn.
struct RecommendedHeartline {
    const char* style;
    const char* metres;
};
inline constexpr std::array<RecommendedHeartline, 14> kRecommendedHeartlines{{
    {"Junior", "0.80"},
    {"Family", "0.90"},
    {"Wooden", "1.00"},
    {"Looping", "1.04"},
    {"Launched", "1.10"},
    {"Hyper", "1.15"},
    {"Giga", "1.20"},
    {"Dive", "1.30"},
    {"Wing", "1.45"},
    {"Flying", "1.60"},
    {"Suspended", "-0.90"},
    {"Inv. family", "-1.00"},
    {"Inverted", "-1.05"},
    {"Inv. looping", "-1.15"},
}};
inline constexpr int kRecommendedRowsPerColumn = 7;

// ---- Plates of the skin -------------------------------------------------------

// The gaps between the plates are the window's holes.
inline constexpr TwipRect kBannerPlate{30, 30, 6540, 630};      // title and knobs
inline constexpr TwipRect kSettingsPlate{30, 750, 3105, 4320};  // runs down into the deck
inline constexpr TwipRect kDeckPlate{30, 4560, 6540, 510};      // the button deck
inline constexpr TwipRect kTablePlate{3210, 750, 3360, 1530};   // recommended heartlines
inline constexpr TwipRect kDataPlate{3210, 2370, 3360, 2100};   // status dots, end analysis

// Clamps that bridge the gaps and keep the window's outline in one piece.
inline constexpr std::array<TwipRect, 10> kClamps{{
    {360, 630, 240, 150},
    {2670, 630, 240, 150},
    {6120, 630, 240, 150},  // banner to the plates below
    {3105, 1380, 135, 210},
    {3105, 3540, 135, 210},  // Settings to the right-hand plates
    {3870, 2250, 240, 150},
    {6120, 2250, 240, 150},  // table to data
    {3105, 4440, 135, 150},
    {3660, 4440, 240, 150},
    {6120, 4440, 240, 150},  // plates to the deck
}};

}  // namespace cvqrn::ui
