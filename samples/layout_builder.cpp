#include "samples/layout_builder.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace cvqrn {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr double kMaxPieceAngle = 15.0 * kDegree;
constexpr double kMaxPieceLength = 10.0;
constexpr double kFullTurn = 2.0 * std::numbers::pi;
constexpr LayoutVec kUp{0.0, 1.0, 0.0};

LayoutVec operator+(const LayoutVec& a, const LayoutVec& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
LayoutVec operator-(const LayoutVec& a, const LayoutVec& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
LayoutVec operator*(const LayoutVec& a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
LayoutVec Cross(const LayoutVec& a, const LayoutVec& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
LayoutVec Unit(const LayoutVec& v) {
    const double len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (!(len > 0.0)) return {};
    return v * (1.0 / len);
}

Vec3 Single(const LayoutVec& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

// A point of an element's path and its derivative with respect to u.
struct PathPoint {
    LayoutVec p;
    LayoutVec d;
};

int PiecesFor(double angle, double length) {
    const double byAngle = std::ceil(std::abs(angle) / kMaxPieceAngle);
    const double byLength = std::ceil(length / kMaxPieceLength);
    return std::max(1, static_cast<int>(std::max(byAngle, byLength)));
}

}  // namespace

LayoutBuilder::LayoutBuilder(LayoutVec start, double headingDeg, double pitchDeg) : pos_(start) {
    const double heading = headingDeg * kDegree;
    const double pitch = pitchDeg * kDegree;
    const LayoutVec level{std::cos(heading), 0.0, -std::sin(heading)};
    dir_ = level * std::cos(pitch) + kUp * std::sin(pitch);
    right_ = Unit(Cross(level, kUp));
}

LayoutBuilder& LayoutBuilder::Mode(int32_t bankingMode) {
    mode_ = bankingMode;
    return *this;
}

LayoutBuilder& LayoutBuilder::Passes(int32_t passCount) {
    passes_ = passCount;
    return *this;
}

LayoutBuilder& LayoutBuilder::Bank(double rollDeg) {
    roll_ = rollDeg * kDegree;
    return *this;
}

template <typename Path>
void LayoutBuilder::Append(const Path& path, int pieces) {
    const double step = 1.0 / pieces;
    if (nodes_.empty()) {
        const PathPoint start = path(0.0);
        nodes_.push_back(Node{start.p, start.p, start.p, roll_});
    }
    for (int n = 1; n <= pieces; ++n) {
        const PathPoint a = path((n - 1) * step);
        const PathPoint b = path(n * step);
        nodes_.back().ctrlOut = a.p + a.d * (step / 3.0);
        nodes_.push_back(Node{b.p, b.p - b.d * (step / 3.0), b.p, roll_});
        segments_.push_back(Attributes{mode_, passes_});
    }
    const PathPoint end = path(1.0);
    pos_ = end.p;
    dir_ = Unit(end.d);
}

LayoutBuilder& LayoutBuilder::Straight(double length) {
    const LayoutVec start = pos_;
    const LayoutVec dir = dir_;
    Append(
        [&](double u) {
            return PathPoint{start + dir * (length * u), dir * length};
        },
        PiecesFor(0.0, length));
    return *this;
}

LayoutBuilder& LayoutBuilder::StraightToHeight(double y) {
    const double length = (y - pos_.y) / dir_.y;
    if (!(length > 0.0))
        throw std::invalid_argument("StraightToHeight: the track does not go there");
    return Straight(length);
}

LayoutBuilder& LayoutBuilder::Pitch(double angleDeg, double radius) {
    const double angle = std::abs(angleDeg) * kDegree;
    const LayoutVec start = pos_;
    const LayoutVec dir = dir_;
    const LayoutVec towards = Cross(right_, dir_) * (angleDeg >= 0.0 ? 1.0 : -1.0);
    Append(
        [&](double u) {
            const double phi = angle * u;
            return PathPoint{
                start + dir * (radius * std::sin(phi)) + towards * (radius * (1 - std::cos(phi))),
                (dir * std::cos(phi) + towards * std::sin(phi)) * (radius * angle)};
        },
        PiecesFor(angle, radius * angle));
    return *this;
}

LayoutBuilder& LayoutBuilder::Turn(double angleDeg, double radius) {
    return Helix(angleDeg, radius, 0.0);
}

LayoutBuilder& LayoutBuilder::Helix(double angleDeg, double radius, double rise) {
    const double angle = std::abs(angleDeg) * kDegree;
    const LayoutVec start = pos_;
    const LayoutVec heading = Unit(LayoutVec{dir_.x, 0.0, dir_.z});
    const LayoutVec side = Unit(Cross(kUp, heading)) * (angleDeg >= 0.0 ? 1.0 : -1.0);
    // The height follows u - sin(2 pi u) / (2 pi): level at both ends.
    Append(
        [&](double u) {
            const double phi = angle * u;
            const LayoutVec around =
                heading * (radius * std::sin(phi)) + side * (radius * (1 - std::cos(phi)));
            const LayoutVec up = kUp * (rise * (u - std::sin(kFullTurn * u) / kFullTurn));
            const LayoutVec dAround =
                (heading * std::cos(phi) + side * std::sin(phi)) * (radius * angle);
            const LayoutVec dUp = kUp * (rise * (1 - std::cos(kFullTurn * u)));
            return PathPoint{start + around + up, dAround + dUp};
        },
        PiecesFor(angle, std::hypot(radius * angle, rise)));
    right_ = Unit(Cross(dir_, kUp));
    return *this;
}

LayoutBuilder& LayoutBuilder::Loop(double radius, double shift) {
    const LayoutVec start = pos_;
    const LayoutVec dir = dir_;
    const LayoutVec up = Cross(right_, dir_);
    const LayoutVec right = right_;
    // The sideways shift follows (1 - cos(phi / 2)) / 2: none at entry and exit.
    Append(
        [&](double u) {
            const double phi = kFullTurn * u;
            const LayoutVec p = start + dir * (radius * std::sin(phi)) +
                                up * (radius * (1 - std::cos(phi))) +
                                right * (shift * (1 - std::cos(phi / 2)) / 2);
            const LayoutVec d = (dir * (radius * std::cos(phi)) + up * (radius * std::sin(phi)) +
                                 right * (shift * std::sin(phi / 2) / 4)) *
                                kFullTurn;
            return PathPoint{p, d};
        },
        PiecesFor(kFullTurn, radius * kFullTurn));
    dir_ = dir;
    return *this;
}

TrackData LayoutBuilder::Build(const std::string& info) const {
    TrackData track;
    track.Header.Version = {1, 3, 0, 0};
    track.Info.Text = info;
    if (nodes_.empty()) return track;

    const size_t count = nodes_.size();
    track.Bezr.VertexCount = static_cast<int32_t>(count);
    track.Bezr.Vertices.assign(count + 1, TrackVertex{});
    for (size_t i = 0; i < count; ++i) {
        const Node& node = nodes_[i];
        TrackVertex& vertex = track.Bezr.Vertices[i];
        LayoutVec ctrlIn = node.ctrlIn;
        LayoutVec ctrlOut = node.ctrlOut;
        // The outer handles of the two ends mirror the inner ones.
        if (i == 0) ctrlIn = node.pos * 2.0 - ctrlOut;
        if (i + 1 == count) ctrlOut = node.pos * 2.0 - ctrlIn;
        vertex.Pos = Single(node.pos);
        vertex.CtrlIn = Single(ctrlIn);
        vertex.CtrlOut = Single(ctrlOut);
        vertex.Roll = static_cast<float>(node.roll);
        vertex.FlagA = true;
    }

    track.Segm.SegmentCount = static_cast<int32_t>(segments_.size());
    track.Segm.Segments.assign(segments_.size() + 1, TrackSegment{});
    for (size_t i = 0; i < segments_.size(); ++i) {
        track.Segm.Segments[i].Val24 = {segments_[i].mode, segments_[i].passes, 0};
    }
    return track;
}

}  // namespace cvqrn
