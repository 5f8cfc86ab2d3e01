// The track in 3D, built from ride profiles as plain arrays that the window
// and the page upload as they are.
//
// The track drawn as a track (the loaded one before a run, the rebuilt rail
// after it) becomes two rails and a cross-tie every metre of rail, turned by
// the track's roll as the file's interpolation gives it: the frame at each
// sample is the ride profile's own (level-down is world down with its
// along-track part removed, rolled by the sample's interpolated roll), so a
// bank or an inversion reads exactly as the profile rides it. Every vertex
// carries the colour of the felt force chosen, or the exceedance colour where
// a comfort limit is passed. The heart paths are line strips; a valley stop
// is a marker. The per-sample path (distances, speeds, felt forces, rail
// points, the rider's eye and directions) serves the pick, the cursor marker
// and the rider's view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "profile/jet.h"
#include "profile/ride_profile.h"
#include "scene/colour_scale.h"

namespace cvqrn::scene {

using Vecd = profile::Vecd;

// Sizes of the drawn track, metres.
inline constexpr double kTieSpacing = 1.0;     // rail length between ties
inline constexpr double kHalfGauge = 0.55;     // rail centre to track centre
inline constexpr double kRailRadius = 0.08;
inline constexpr int kRailSides = 6;           // vertices around one rail
inline constexpr double kTieLength = 1.45;     // across the track
inline constexpr double kTieWidth = 0.22;      // along the track
inline constexpr double kTieDepth = 0.12;      // along the rider's up
inline constexpr double kTieDrop = 0.13;       // tie centre below the rail centres
inline constexpr int kTieVertices = 24;        // a box, four vertices a face
inline constexpr int kRailVerticesPerSample = 2 * kRailSides;
// Levels of detail. The track is cut into chunks of about kChunkLength
// metres of rail, each drawable at three levels: full (the rails above, a tie
// every metre), coarse (three-sided rails with a ring every kCoarseSpacing
// metres or so, every kCoarseTieEvery-th tie as its top face only) and the
// rails as lines through the coarse rings' centres. Neighbouring chunks share
// their boundary sample at every level, so they meet without a gap whatever
// level each is drawn at.
inline constexpr double kChunkLength = 50.0;
inline constexpr double kCoarseSpacing = 2.0;
inline constexpr int kCoarseRailSides = 3;
inline constexpr int kCoarseTieEvery = 4;
inline constexpr int kCoarseTieVertices = 4;
// Where the heart lies on the rail (a track drawn along the hearts), the
// rider's eye is put this far along the rider's up: the default heartline.
inline constexpr double kEyeAboveRail = 1.04;

// Triangles with a normal and a colour per vertex.
struct TriangleMesh {
    std::vector<float> positions;  // x, y, z per vertex
    std::vector<float> normals;    // unit, x, y, z per vertex
    std::vector<float> colours;    // r, g, b per vertex, 0..1
    std::vector<uint32_t> indices; // three per triangle, counter-clockwise from outside
    size_t VertexCount() const { return positions.size() / 3; }
};

// A run of an index array: `count` indices from `first`.
struct IndexRange {
    uint32_t first = 0;
    uint32_t count = 0;
    bool operator==(const IndexRange&) const = default;
};

enum class Detail : uint8_t { Full, Coarse, Lines };

// One chunk of the track: its samples, a sphere around all it draws and its
// indices at each level.
struct TrackChunk {
    size_t firstSample = 0;  // the last sample of the chunk before
    size_t lastSample = 0;   // the first sample of the chunk after
    Vecd centre;
    double radius = 0.0;
    IndexRange full;    // in the track's triangles
    IndexRange coarse;  // in the track's triangles
    IndexRange lines;   // in the rail lines
};

struct LineStrip {
    std::vector<float> positions;  // x, y, z per point, in travel order
    Rgb colour;
};

// One tie: where it sits and how it is turned.
struct TieFrame {
    double railDistance = 0.0;  // along the rail from its start, metres
    size_t sample = 0;          // the nearest sample, whose colour it takes
    Vecd centre, tangent, up, left;  // up: the rider's up; left = up x tangent
};

// The felt forces of the samples (the profile's 0.2 s averages), in g; NaN
// where a sample has none.
struct FeltForces {
    std::vector<double> vertical;
    std::vector<double> lateral;
    std::vector<double> longitudinal;
};

// The track drawn as a track, one entry per sample of its profile.
struct ScenePath {
    std::vector<double> distance;  // along the heart path, as the profile's plots
    std::vector<double> speed;     // m/s, NaN where the train does not get
    FeltForces felt;
    std::vector<float> rail;     // x, y, z per sample
    std::vector<float> eye;      // the rider's eye: the heart (see kEyeAboveRail)
    std::vector<float> forward;  // unit tangent
    std::vector<float> up;       // the rider's unit up
    size_t size() const { return distance.size(); }
};

struct Bounds {
    Vecd min{0.0, 0.0, 0.0};
    Vecd max{0.0, 0.0, 0.0};
    Vecd Centre() const { return 0.5 * (min + max); }
    double Radius() const;  // half the diagonal
};

struct TrackScene {
    // Vertices: the full rails (a ring of each rail per sample), the full
    // ties, then the coarse rings and tie faces, then the line points.
    // Triangles: every chunk at full detail in travel order, then every
    // chunk coarse: drawing all of them at once draws the track twice.
    TriangleMesh track;
    size_t railVertices = 0;     // the first railVertices vertices are the rails'
    size_t ties = 0;             // full ties, kTieVertices each after the rails
    size_t fullVertices = 0;     // the full rails and ties
    std::vector<uint32_t> railLines;  // pairs into the track's vertices, unlit
    std::vector<TrackChunk> chunks;
    // The indices of every chunk at full detail: the first this many.
    uint32_t FullIndexCount() const {
        return chunks.empty() ? 0 : chunks.back().full.first + chunks.back().full.count;
    }
    LineStrip drawnHeart;        // the loaded track's heart path
    LineStrip rebuiltHeart;      // the rebuilt track's heart path; empty before a run
    TriangleMesh valleyMarker;   // empty unless the last run valleyed
    ScenePath path;
    Bounds bounds;               // of everything drawn
    ForceChannel channel = ForceChannel::Vertical;
};

struct SceneInput {
    const RideProfile* track = nullptr;         // drawn as a track; null: nothing to draw
    const RideProfile* drawnHeart = nullptr;    // the loaded track (heart on the rail)
    const RideProfile* rebuiltHeart = nullptr;  // the rebuilt track, after a run
    std::optional<ProfilePoint> valley;         // where the valleyed train stops
    ForceChannel channel = ForceChannel::Vertical;
};

inline const Rgb kDrawnHeartColour{31 / 255.0f, 119 / 255.0f, 180 / 255.0f};   // blue
inline const Rgb kRebuiltHeartColour{217 / 255.0f, 95 / 255.0f, 2 / 255.0f};    // orange
inline const Rgb kValleyColour{200 / 255.0f, 20 / 255.0f, 30 / 255.0f};         // red
inline const Rgb kCursorColour{0.95f, 0.95f, 0.95f};

// Everything the 3D view draws. Profiles without samples draw nothing.
TrackScene BuildTrackScene(const SceneInput& input);

// The ties of `track` (a profile with samples), one every kTieSpacing metres
// of rail from its start.
std::vector<TieFrame> TieFrames(const RideProfile& track);

// An octahedron of `size` metres across at `at`: the cursor and valley markers.
TriangleMesh MarkerMesh(const Vecd& at, double size, Rgb colour);

// A ray from the camera through a pixel; `direction` need not be unit.
struct Ray {
    Vecd origin, direction;
};
// The sample whose rail point lies closest to the ray in angle seen from the
// origin, when that angle's tangent is at most `maxAngle` (the pick's
// tolerance over the focal length, in pixels); none in front of the camera
// within it.
std::optional<size_t> PickSample(const ScenePath& path, const Ray& ray, double maxAngle);

// A place on the track and its directions, between samples interpolated.
struct Pose {
    Vecd rail, eye, forward, up;
};
// At `distance` along the heart path, clamped to the path; the path must
// have a sample.
Pose PoseAt(const ScenePath& path, double distance);
// The nearest sample to `distance`.
size_t SampleAt(const ScenePath& path, double distance);

// Where the train is `seconds` later when at `distance` now, at the profile's
// speed; it stays where the train does not get and stops at the end.
double RideOn(const ScenePath& path, double distance, double seconds);

// The hover read-out of one sample: "120.5 m   14.2 m/s   vertical 2.31 g
// lateral -0.12 g   longitudinal 0.01 g" (felt forces; "-" where none).
std::string HoverText(const ScenePath& path, size_t sample);

}  // namespace cvqrn::scene
