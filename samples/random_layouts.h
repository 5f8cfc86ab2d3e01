// Seeded random coaster layouts with random heartline settings: the corpus
// on which different builds of the program (optimisation levels, compilers,
// the browser) must write the same bytes.
//
// The layouts are made of balanced hills and drops, turns, helices, banked
// stretches and the odd loop, so that the runs cover every stage and banking
// mode; most of them run cleanly, a few valley or are refused, which the
// comparison covers too. Everything derives from the seed through
// std::mt19937's raw output, so a seed gives the same case on every standard
// library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/track_record.h"

namespace cvqrn {

struct LayoutCase {
    std::string name;               // "case_007"
    TrackData track;                // the layout as a track file
    std::vector<std::string> args;  // heartline options, as cv-qrn-cli takes them
};

LayoutCase RandomLayoutCase(uint32_t seed);

}  // namespace cvqrn
