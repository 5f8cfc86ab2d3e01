#include "cli/profile_output.h"

#include <ostream>

#include "cli/format.h"
#include "text/format.h"

namespace cvqrn::cli {

namespace {

std::string Where(const ProfileExtreme& e, const char* unit) {
    if (e.segment < 0) return "none";
    return FormatFixed(e.value) + " " + unit + " at " + FormatFixed(e.distance) +
           " m (segment " + std::to_string(e.segment) + ")";
}

std::string ExtremeJson(const ProfileExtreme& e) {
    if (e.segment < 0) return "null";
    return "{\"value\": " + JsonNumber(e.value) + ", \"distance\": " + JsonNumber(e.distance) +
           ", \"segment\": " + std::to_string(e.segment) + "}";
}

}  // namespace

void WriteProfileText(const RideProfile& p, std::ostream& out) {
    const ProfileSummary& s = p.summary;
    out << "heart path " << FormatFixed(s.length) << " m, " << p.samples.size() << " samples every "
        << FormatFixed(p.spacing) << " m, heart " << FormatFixed(p.settings.heartline)
        << " m from the rail\n"
        << "speed         min " << Where(s.minSpeed, "m/s") << "\n"
        << "              max " << Where(s.maxSpeed, "m/s") << "\n"
        << "vertical      min " << Where(s.minVertical, "g") << "\n"
        << "              max " << Where(s.maxVertical, "g") << "\n"
        << "lateral       max |lateral| " << Where(s.maxLateral, "g") << "\n"
        << "              RMS " << FormatFixed(s.lateralRms) << " g, averaged over 5 m "
        << FormatFixed(s.lateralRms5m) << " g\n"
        << "felt vertical min " << Where(s.feltMinVertical, "g") << "\n"
        << "              max " << Where(s.feltMaxVertical, "g") << "\n"
        << "felt lateral  max |lateral| " << Where(s.feltMaxLateral, "g") << "\n"
        << "              RMS " << FormatFixed(s.feltLateralRms) << " g\n"
        << "onset rates   vertical " << FormatFixed(s.onsetVertical) << " g/s, lateral "
        << FormatFixed(s.onsetLateral) << " g/s, longitudinal " << FormatFixed(s.onsetLongitudinal)
        << " g/s\n"
        << "largest kink  " << Where(s.largestKink, "degrees") << "\n";
    if (s.verticalSamples > 0) {
        out << s.verticalSamples << " samples where the track is vertical are left out\n";
    }
    if (s.stops) {
        out << "the train stops: the energy line lies below the heart from "
            << FormatFixed(s.stopDistance) << " m (segment " << s.stopSegment << ")\n";
    }
}

void WriteProfileJson(const RideProfile& p, int indent, std::ostream& out) {
    const std::string pad(static_cast<size_t>(indent), ' ');
    const ProfileSummary& s = p.summary;
    out << "{\n"
        << pad << "\"heartline\": " << JsonNumber(p.settings.heartline) << ",\n"
        << pad << "\"start_speed\": " << JsonNumber(p.settings.startspeed) << ",\n"
        << pad << "\"end_speed\": " << JsonNumber(p.settings.endspeed) << ",\n"
        << pad << "\"spacing\": " << JsonNumber(p.spacing) << ",\n"
        << pad << "\"samples\": " << p.samples.size() << ",\n"
        << pad << "\"length\": " << JsonNumber(s.length) << ",\n"
        << pad << "\"min_speed\": " << ExtremeJson(s.minSpeed) << ",\n"
        << pad << "\"max_speed\": " << ExtremeJson(s.maxSpeed) << ",\n"
        << pad << "\"min_vertical\": " << ExtremeJson(s.minVertical) << ",\n"
        << pad << "\"max_vertical\": " << ExtremeJson(s.maxVertical) << ",\n"
        << pad << "\"max_lateral\": " << ExtremeJson(s.maxLateral) << ",\n"
        << pad << "\"lateral_rms\": " << JsonNumber(s.lateralRms) << ",\n"
        << pad << "\"lateral_rms_5m\": " << JsonNumber(s.lateralRms5m) << ",\n"
        << pad << "\"felt_min_vertical\": " << ExtremeJson(s.feltMinVertical) << ",\n"
        << pad << "\"felt_max_vertical\": " << ExtremeJson(s.feltMaxVertical) << ",\n"
        << pad << "\"felt_max_lateral\": " << ExtremeJson(s.feltMaxLateral) << ",\n"
        << pad << "\"felt_lateral_rms\": " << JsonNumber(s.feltLateralRms) << ",\n"
        << pad << "\"onset_vertical\": " << JsonNumber(s.onsetVertical) << ",\n"
        << pad << "\"onset_lateral\": " << JsonNumber(s.onsetLateral) << ",\n"
        << pad << "\"onset_longitudinal\": " << JsonNumber(s.onsetLongitudinal) << ",\n"
        << pad << "\"largest_kink\": " << ExtremeJson(s.largestKink) << ",\n"
        << pad << "\"vertical_track_samples\": " << s.verticalSamples << ",\n"
        << pad << "\"stop\": "
        << (s.stops ? "{\"distance\": " + JsonNumber(s.stopDistance) +
                          ", \"segment\": " + std::to_string(s.stopSegment) + "}"
                    : std::string("null"))
        << "\n"
        << std::string(static_cast<size_t>(indent > 2 ? indent - 2 : 0), ' ') << "}";
}

}  // namespace cvqrn::cli
