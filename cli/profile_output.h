// The ride profile in the command-line tool's forms: a summary as text or as
// a JSON object (the CSV rows come from profile/profile_csv.h).
#pragma once

#include <iosfwd>
#include <string>

#include "profile/ride_profile.h"

namespace cvqrn::cli {

// The summary, a few lines of text.
void WriteProfileText(const RideProfile& profile, std::ostream& out);

// The summary as a JSON object whose members are indented by `indent`
// spaces (the closing brace by indent - 2); no newline after the brace.
void WriteProfileJson(const RideProfile& profile, int indent, std::ostream& out);

}  // namespace cvqrn::cli
