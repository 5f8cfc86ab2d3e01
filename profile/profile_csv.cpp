#include "profile/profile_csv.h"

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "profile/ride_motion.h"
#include "text/format.h"

namespace cvqrn {

namespace {

std::string CsvNumber(double v) {
    if (!std::isfinite(v)) return "";
    // A negative zero keeps its minus in the CSV ("-0.000000"), as it always has.
    if (v == 0.0 && std::signbit(v)) {
        std::string text = "-";
        text += FormatFixed(0.0, 6);
        return text;
    }
    return FormatFixed(v, 6);
}

}  // namespace

void WriteProfileCsv(const RideProfile& p, std::ostream& out) {
    const std::vector<double> times = RideTimes(p);
    out << "distance (m),segment,heart x (m),heart y (m),heart z (m),speed (m/s),roll (deg),"
           "vertical (g),lateral (g),longitudinal (g),vertical track,"
           "felt vertical (g),felt lateral (g),felt longitudinal (g),time (s)\n";
    for (size_t k = 0; k < p.samples.size(); ++k) {
        const ProfileSample& s = p.samples[k];
        out << CsvNumber(s.distance) << ',' << s.segment << ',' << CsvNumber(s.heart.x) << ','
            << CsvNumber(s.heart.y) << ',' << CsvNumber(s.heart.z) << ',' << CsvNumber(s.speed)
            << ',' << CsvNumber(s.roll * 180.0 / kPi) << ',' << CsvNumber(s.vertical) << ','
            << CsvNumber(s.lateral) << ',' << CsvNumber(s.longitudinal) << ','
            << (s.verticalTrack ? 1 : 0) << ',' << CsvNumber(s.feltVertical) << ','
            << CsvNumber(s.feltLateral) << ',' << CsvNumber(s.feltLongitudinal) << ','
            << CsvNumber(times[k]) << '\n';
    }
}

}  // namespace cvqrn
