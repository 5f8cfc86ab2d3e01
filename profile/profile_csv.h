// A ride profile as CSV, one row per sample: the file `cv-qrn-cli profile
// --csv` writes and the profile window and the page export.
#pragma once

#include <iosfwd>

#include "profile/ride_profile.h"

namespace cvqrn {

// A header line naming every column with its unit, then one row per sample,
// numbers with "." and six decimals whatever the locale; an empty field where
// a value does not exist (NaN). The columns: distance, segment, heart x, y, z,
// speed, roll, the raw vertical, lateral and longitudinal forces, the vertical
// track flag, the felt forces and the time from the start.
void WriteProfileCsv(const RideProfile& profile, std::ostream& out);

}  // namespace cvqrn
