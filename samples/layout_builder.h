// Builds coaster tracks from layout elements (straights, bends, turns,
// helices, loops), as a designer lays them out, in metres and degrees.
//
// The builder follows the end of the track built so far: its position, its
// direction of travel and a lateral "right" axis that stays horizontal except
// inside a loop. Each element appends cubic Bezier segments whose control
// points come from the element's exact path (Hermite end points and
// derivatives, so consecutive segments meet with one tangent line). Elements
// are cut into pieces of at most 15 degrees of bend and 10 m of length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "heartline/banking.h"
#include "model/track_record.h"

namespace cvqrn {

// A point or direction in double precision while the layout is built.
struct LayoutVec {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

class LayoutBuilder {
  public:
    // Starts at `start` travelling along the heading `headingDeg` (degrees
    // about the vertical, 0 = +x, 90 = -z, i.e. positive turns left) and
    // climbing at `pitchDeg`.
    explicit LayoutBuilder(LayoutVec start, double headingDeg = 0.0, double pitchDeg = 0.0);

    // Attributes of the segments made from here on (heartline/banking.h:
    // kBankingFelt and kPassesFromSpeed until told otherwise).
    LayoutBuilder& Mode(int32_t bankingMode);
    LayoutBuilder& Passes(int32_t passCount);
    // Roll (degrees) of the vertices made from here on; positive banks for a
    // left turn (the down direction leans to the right).
    LayoutBuilder& Bank(double rollDeg);

    // Straight ahead for `length` metres.
    LayoutBuilder& Straight(double length);
    // Straight ahead until the height `y` (the track must climb or fall).
    LayoutBuilder& StraightToHeight(double y);
    // Bend in the vertical plane by `angleDeg` (positive pulls up) on `radius`.
    LayoutBuilder& Pitch(double angleDeg, double radius);
    // Level turn by `angleDeg` (positive turns left) on `radius`.
    LayoutBuilder& Turn(double angleDeg, double radius);
    // Helix: a level-in, level-out turn by `angleDeg` on `radius` that changes
    // height by `rise` metres on the way (negative descends).
    LayoutBuilder& Helix(double angleDeg, double radius, double rise);
    // Vertical loop of `radius`, leaving `shift` metres to the right of where
    // it entered, in the same direction.
    LayoutBuilder& Loop(double radius, double shift);

    LayoutVec Position() const { return pos_; }
    LayoutVec Direction() const { return dir_; }
    int SegmentCount() const { return static_cast<int>(segments_.size()); }

    // The whole track file: header version 1.3, `info` as its INFO text, the
    // vertices and one segment entry per segment, every other chunk empty.
    TrackData Build(const std::string& info) const;

  private:
    struct Node {
        LayoutVec pos;
        LayoutVec ctrlIn;
        LayoutVec ctrlOut;
        double roll = 0.0;  // radians
    };
    struct Attributes {
        int32_t mode;
        int32_t passes;
    };

    // Appends `pieces` Hermite segments of the path p(u), u in 0..1, given
    // with its derivative; ends with the state at u = 1.
    template <typename Path>
    void Append(const Path& path, int pieces);

    LayoutVec pos_;
    LayoutVec dir_;
    LayoutVec right_;
    double roll_ = 0.0;
    int32_t mode_ = kBankingFelt;
    int32_t passes_ = kPassesFromSpeed;
    std::vector<Node> nodes_;
    std::vector<Attributes> segments_;
};

}  // namespace cvqrn
