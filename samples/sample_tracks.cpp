#include "samples/sample_tracks.h"

#include <array>
#include <cmath>

#include "heartline/generator.h"
#include "samples/layout_builder.h"

namespace cvqrn {

TrackData FamilyCoaster() {
    LayoutBuilder b({0.0, 10.0, 0.0}, 0.0, 25.0);
    b.Straight(4.0)          // the last metres of the lift
        .Pitch(-25.0, 30.0)  // over the crest
        .Straight(3.0)
        .Pitch(-40.0, 25.0)  // into the first drop
        .StraightToHeight(7.5)
        .Pitch(40.0, 22.0)  // pull-out
        .Straight(8.0)
        .Turn(180.0, 14.0)  // turnaround
        .Straight(6.0)
        .Pitch(30.0, 20.0)  // camelback
        .StraightToHeight(6.0)
        .Pitch(-60.0, 30.0)
        .StraightToHeight(5.0)
        .Pitch(30.0, 20.0)
        .Straight(5.0)
        .Turn(-90.0, 12.0)
        .Straight(5.0)
        .Pitch(20.0, 20.0)  // small hill
        .Pitch(-40.0, 25.0)
        .Pitch(20.0, 20.0)
        .Straight(4.0)
        .Turn(-180.0, 11.0)  // final turn
        .Straight(15.0);     // brake run
    return b.Build("Family coaster: lift crest, drop, turns and hills");
}

TrackData LoopAndHelix() {
    LayoutBuilder b({0.0, 32.0, 0.0}, 0.0, 0.0);
    b.Straight(3.0)
        .Pitch(-15.0, 40.0)  // first drop, its bends widening as the train gathers speed
        .Pitch(-25.0, 70.0)
        .StraightToHeight(8.0)
        .Pitch(40.0, 24.0)
        .Straight(12.0)
        .Loop(11.0, 4.0)  // vertical loop
        .Straight(10.0)
        .Pitch(20.0, 30.0)
        .StraightToHeight(14.0)
        .Pitch(-20.0, 30.0)
        .Straight(6.0)
        .Mode(kBankingFeltToInput)  // into the designer's banking
        .Straight(8.0)
        .Mode(kBankingKeepInput)
        .Bank(45.0)
        .Helix(450.0, 16.0, -10.0)  // banked helix, turning left
        .Bank(0.0)
        .Mode(kBankingInputToFelt)  // and back to the felt banking
        .Straight(8.0)
        .Mode(kBankingFelt)
        .Straight(20.0);
    return b.Build("Vertical loop and banked helix");
}

TrackData HighHill() {
    LayoutBuilder b({0.0, 2.0, 0.0}, 0.0, 0.0);
    b.Straight(10.0)
        .Pitch(35.0, 20.0)
        .StraightToHeight(11.0)
        .Pitch(-70.0, 25.0)  // crest far above the default energy line
        .StraightToHeight(6.0)
        .Pitch(35.0, 25.0)
        .Straight(10.0)
        .Turn(90.0, 15.0)
        .Straight(20.0);
    return b.Build("High hill: needs a higher start speed");
}

std::vector<SampleLayout> SampleLayouts() {
    const HeartlineSettings defaults;
    return {
        {"family_coaster.cvtrack", defaults.startspeed, defaults.endspeed, FamilyCoaster()},
        {"loop_and_helix.cvtrack", defaults.startspeed, defaults.endspeed, LoopAndHelix()},
        {"high_hill.cvtrack", 20.0, defaults.endspeed, HighHill()},
    };
}

TrackData AirtimeHill() {
    return LayoutBuilder({0.0, 0.0, 0.0})
        .Straight(10.0)
        .Pitch(30.0, 20.0)
        .Pitch(-60.0, 20.0)
        .Pitch(30.0, 20.0)
        .Straight(10.0)
        .Build("airtime hill");
}

TrackData VerticalLoop() {
    return LayoutBuilder({0.0, 0.0, 0.0})
        .Straight(20.0)
        .Loop(11.0, 3.0)
        .Straight(20.0)
        .Build("loop");
}

TrackData RoundedClimb() {
    return LayoutBuilder({30.3, 30.7, -40.1}, 37.0)
        .Straight(5.0)
        .Pitch(30.0, 15.0)
        .Straight(15.0)
        .Pitch(-30.0, 15.0)
        .Straight(5.0)
        .Build("rounded climb");
}

TrackData TopHat() {
    return LayoutBuilder({0.0, 0.0, 0.0})
        .Straight(15.0)
        .Pitch(90.0, 12.0)
        .Straight(8.0)
        .Pitch(-180.0, 8.0)
        .Straight(8.0)
        .Pitch(90.0, 12.0)
        .Straight(15.0)
        .Build("top hat");
}

TrackData BankedHelix() {
    return LayoutBuilder({0.0, 20.0, 0.0})
        .Straight(15.0)
        .Bank(50.0)
        .Helix(540.0, 15.0, -8.0)
        .Bank(0.0)
        .Straight(15.0)
        .Build("banked helix");
}

TrackData WindingTrack(int segments) {
    const auto path = [](double i) {
        return std::array<double, 3>{8.0 * i, 5.0 + 1.5 * std::sin(0.11 * i),
                                     20.0 * std::sin(0.05 * i)};
    };
    const auto slope = [](double i) {
        return std::array<double, 3>{8.0, 1.5 * 0.11 * std::cos(0.11 * i),
                                     20.0 * 0.05 * std::cos(0.05 * i)};
    };
    const auto single = [](const std::array<double, 3>& p, const std::array<double, 3>& d,
                           double s) {
        return Vec3{static_cast<float>(p[0] + d[0] * s), static_cast<float>(p[1] + d[1] * s),
                    static_cast<float>(p[2] + d[2] * s)};
    };
    TrackData track;
    track.Bezr.VertexCount = segments + 1;
    track.Bezr.Vertices.assign(static_cast<size_t>(segments) + 2, TrackVertex{});
    for (int i = 0; i <= segments; ++i) {
        TrackVertex& v = track.Bezr.Vertices[static_cast<size_t>(i)];
        const auto p = path(i);
        const auto d = slope(i);
        v.Pos = single(p, d, 0.0);
        v.CtrlIn = single(p, d, -1.0 / 3.0);
        v.CtrlOut = single(p, d, 1.0 / 3.0);
        v.FlagA = true;
    }
    track.Segm.SegmentCount = segments;
    track.Segm.Segments.assign(static_cast<size_t>(segments) + 1, TrackSegment{});
    for (int i = 0; i < segments; ++i) {
        track.Segm.Segments[static_cast<size_t>(i)].Val24 = {kBankingFelt, kPassesFromSpeed, 0};
    }
    return track;
}

}  // namespace cvqrn
