// Which chunks of the track a frame draws, and at which level of detail:
// chunks wholly outside the view are left out, the others drawn the finer
// the more pixels a metre of them covers. A track small enough to draw in
// full within a frame's time is always drawn in full. The window and the
// page both draw the ranges this gives.
#pragma once

#include <array>
#include <vector>

#include "scene/track_scene.h"

namespace cvqrn::scene {

// Full detail down to this many pixels per metre (a tie every metre then
// lies this many pixels from the next), coarse down to kCoarsePixelsPerMetre,
// lines beyond.
inline constexpr double kFullPixelsPerMetre = 2.5;
inline constexpr double kCoarsePixelsPerMetre = 0.6;
// A track whose full rails and ties have at most this many vertices is
// drawn in full wherever it is seen.
inline constexpr size_t kAlwaysFullVertices = 60000;

struct ViewVolume {
    // Clip coordinates of a point p: viewProjection * (p, 1), column-major as
    // OpenGL's, with -w <= x, y, z <= w inside the view.
    std::array<double, 16> viewProjection{};
    Vecd eye;
    // Pixels per unit of the tangent of the angle off the view's axis: half
    // the viewport's height over the tangent of half the vertical field of view.
    double focalPixels = 1.0;
};

// A view `viewHeight` pixels high seeing `fieldOfViewDeg` degrees from top
// to bottom: its focal length in pixels.
double FocalPixels(double viewHeight, double fieldOfViewDeg);

// The level for a chunk whose nearest point lies `distance` from the eye.
Detail DetailAt(double distance, double focalPixels);

// The index ranges to draw: triangles in the track's indices, line pairs in
// its rail lines; neighbouring ranges are joined into one.
struct DrawList {
    std::vector<IndexRange> triangles;
    std::vector<IndexRange> lines;
};
DrawList ChooseDetail(const TrackScene& scene, const ViewVolume& view);
// The same for the chunks of a scene whose full rails and ties have
// `fullVertices` vertices.
DrawList ChooseDetail(const std::vector<TrackChunk>& chunks, size_t fullVertices,
                      const ViewVolume& view);

// The chunks as plain numbers for a page (kChunkNumbers each: centre x, y,
// z, radius, then first and count of the full, coarse and line ranges), and
// back; numbers of another length give no chunks.
inline constexpr size_t kChunkNumbers = 10;
std::vector<double> ChunkNumbers(const std::vector<TrackChunk>& chunks);
std::vector<TrackChunk> ChunksFromNumbers(const std::vector<double>& numbers);

// Whether a sphere lies at least partly inside the view.
bool SphereInView(const ViewVolume& view, const Vecd& centre, double radius);

}  // namespace cvqrn::scene
