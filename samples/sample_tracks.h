// The sample tracks shipped with the project, built from layout elements.
#pragma once

#include <string>
#include <vector>

#include "model/track_record.h"

namespace cvqrn {

struct SampleLayout {
    std::string fileName;  // e.g. "family_coaster.cvtrack"
    double startSpeed;     // m/s at which the sample heartlines cleanly
    double endSpeed;       // m/s
    TrackData track;
};

// Lift crest, first drop, turnaround, camelback, turns and a small hill;
// heartlines cleanly at the window's defaults.
TrackData FamilyCoaster();
// First drop, vertical loop and a banked helix whose segments keep their own
// banking, entered and left through fading segments.
TrackData LoopAndHelix();
// A hill too high for the window's default start speed: valleys at 14.3 m/s,
// runs at 20 m/s.
TrackData HighHill();

// A long, gently winding and rolling track of `segments` segments of about
// 8 m, 5 m up, with Hermite handles from its exact path; felt banking and
// speed-derived passes. The benchmarks' long track.
TrackData WindingTrack(int segments);

// Layouts for judging rebuilds (not written as sample files). An airtime
// hill drawn flat, ridden at 20 m/s in and 19 m/s out (-0.7 g over its
// crest), and a banked 540 degree helix of radius 15 m, ridden at 14 m/s in
// and 15 m/s out.
TrackData AirtimeHill();
TrackData BankedHelix();
// A vertical loop of radius 11 m that leaves 3 m to the right of where it
// entered, between 20 m straights, ridden at 24 m/s in and 23 m/s out; and a
// top hat (straight up, over a bend of 8 m, straight down) ridden at 26 m/s
// in and 25 m/s out.
TrackData VerticalLoop();
TrackData TopHat();
// A 40 m climb and drop of 30 degrees on a skewed heading, away from the
// origin, ridden at 22 m/s in and 20 m/s out: at hundreds of segments its
// segments grow shorter than the file's single-precision points can shape.
TrackData RoundedClimb();

// All samples with the speeds that suit them, in the order they are listed.
std::vector<SampleLayout> SampleLayouts();

}  // namespace cvqrn
