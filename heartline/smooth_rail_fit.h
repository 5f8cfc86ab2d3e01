// The rail fit: the new rail's control points fitted at once to put the
// hearts on the loaded path under the roll the file's interpolation gives
// (FitRound), with the penalised least-squares system and its factorisation.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "heartline/smooth_eigen.h"

#include "heartline/heartline_run.h"
#include "heartline/smooth_math.h"
#include "heartline/smooth_path.h"
#include "model/track_record.h"

namespace cvqrn::smooth {

// The rail as a tangent-continuous chain of cubics: vertex k at P_k with unit
// direction D_k; segment i leaves P_i along D_i with a handle of length_i / 3
// and arrives at P_i+1 along D_i+1 with the same handle, length_i being the
// heart path's arc length over the segment. Linear in P and D, so one
// least-squares system fits every control point at once.
struct RailFit {
    int segments = 0;
    int perSegment = 0;                      // fit points per segment, ends included
    std::vector<double> places;              // arc lengths of the vertices
    std::vector<double> lengths;             // per segment
    std::vector<D3> point, direction;        // per vertex
    std::vector<double> rolls;               // per vertex, as stored (single)
    std::vector<D3> pathDirection;           // per vertex: the direction it is pulled towards
    std::vector<double> pull;                // per vertex: the weight of that pull
    std::vector<std::vector<double>> steep;  // per segment, per fit point: Steepness there
    std::vector<char> keepRate;              // per vertex: see KeepsRollRate
    double curveWeight = 0.0;                // see FitTuning
    bool holdEnds = false;                   // see FitTuning
    bool curveAtStart = false, curveAtEnd = false;  // see FitTuning
    bool rampsAwayFromLean = false;                 // see FitTuning
    bool rampsOnSlopes = false;                     // see FitTuning
    // Per segment: the weight of the heart's place in the finish (empty: 1
    // everywhere; see FitSmooth's last try).
    std::vector<double> hold;
    // Per vertex: turned by this much (radians) from the chosen roll (empty:
    // none; see FitSmooth's step rolls).
    std::vector<double> rollTurn;
    // Where the finish holds the riders' raw lateral densely (see FinishFit):
    // the arc lengths, in order, and the lateral (g) held at each, with the
    // weight of those rows (metres per g). Empty: nowhere.
    std::vector<double> denseAt, denseLateral;
    double denseWeight = 0.0;
};

Cubic RailCubic(const RailFit& fit, int i);

using SparseMatrix = Eigen::SparseMatrix<double>;
using Solver = Eigen::SimplicialLDLT<SparseMatrix, Eigen::Lower, Eigen::NaturalOrdering<int>>;
// The same for a matrix given as its upper triangle, factorised as it stands
// (the lower one is first copied into that layout on every factorisation).
using UpperSolver = Eigen::SimplicialLDLT<SparseMatrix, Eigen::Upper, Eigen::NaturalOrdering<int>>;

// The lower triangle of a banded symmetric matrix, summed entry by entry in
// the order the parts arrive (as a list of triplets would sum them), then
// written into a sparse matrix that holds exactly the entries ever touched.
class LowerBand {
  public:
    LowerBand(int size, int width)
        : size_(size),
          width_(width),
          value_(AsIndex(size) * AsIndex(width), 0.0),
          touched_(value_.size(), 0) {}
    void Clear() { std::fill(value_.begin(), value_.end(), 0.0); }
    // Adds v at (row, column), column <= row < column + width.
    void Add(int row, int column, double v) {
        const size_t at = Slot(row, column);
        value_[at] += v;
        touched_[at] = 1;
    }
    // `matrix` gets the band's values: on the first call its pattern too;
    // after that only the values of the pattern it holds.
    void WriteInto(SparseMatrix& matrix) const { Write<false>(matrix); }
    // The same, as the upper triangle (the band's transpose), which a
    // solver of the upper triangle factorises without copying it first.
    void WriteUpperInto(SparseMatrix& matrix) const { Write<true>(matrix); }

  private:
    template <bool upper>
    void Write(SparseMatrix& matrix) const {
        if (matrix.nonZeros() == 0) {
            std::vector<Eigen::Triplet<double>> entries;
            entries.reserve(
                static_cast<size_t>(std::count(touched_.begin(), touched_.end(), char{1})));
            for (int column = 0; column < size_; ++column) {
                for (int row = column; row < std::min(size_, column + width_); ++row) {
                    const size_t at = Slot(row, column);
                    if (touched_[at] == 0) continue;
                    if constexpr (upper) {
                        entries.emplace_back(column, row, value_[at]);
                    } else {
                        entries.emplace_back(row, column, value_[at]);
                    }
                }
            }
            matrix.resize(size_, size_);
            matrix.setFromTriplets(entries.begin(), entries.end());
            return;
        }
        for (int column = 0; column < size_; ++column) {
            for (SparseMatrix::InnerIterator it(matrix, column); it; ++it) {
                const auto row = static_cast<int>(it.row());
                if constexpr (upper) {
                    it.valueRef() = value_[Slot(column, row)];
                } else {
                    it.valueRef() = value_[Slot(row, column)];
                }
            }
        }
    }

    size_t Slot(int row, int column) const {
        return AsIndex(column) * AsIndex(width_) + AsIndex(row - column);
    }
    int size_, width_;
    std::vector<double> value_;
    std::vector<char> touched_;
};

// The normal equations of the fit depend only on the fit points' parameters
// and the segment lengths: factorised once for all rounds and coordinates.
void FactoriseFit(const RailFit& fit, Solver& solver);

// Whether vertex k asks the file's roll interpolation to keep the roll rate
// through it. With the flag, a steady roll change of D per segment is eased
// with a roll acceleration (per t^2) that swings from +3.1 D through -0.8 D,
// 0 and +0.8 D to -3.1 D within the segment; the rail, a cubic whose second
// derivative runs straight from end to end, cannot take that up, and the
// heart wiggles by raw g at every segment. Without it the acceleration is a
// half cosine from +4.9 D to -4.9 D, close to a straight line, which the rail
// takes up. So the flag is kept only beside segments that run steep (there
// the roll must follow the level frame's spin without a pause at each
// vertex), and never at the last vertex: there the interpolation would take
// the rate from the roll change towards the first vertex (it reads the
// vertices as a circuit), a kick of up to 51 g raw at the end of a 38 m
// random layout at 100 segments. Nor where the rail beside it barely runs
// steep and its segments differ much in length (see kFlagLengthRatio). The
// cautious way (see FitTuning) sets it at every vertex.
bool KeepsRollRate(const RailFit& fit, size_t k);

// A copy of the new track's vertices as far as the roll interpolation reads
// them, so that the fit sees the roll every reader of the file will see.
TrackData RollTrack(const RailFit& fit);

// One round: the rail point under every fit point that puts the heart on the
// loaded path (heart = rail + h up, with the roll the file will give and the
// current rail's tangent), then the least-squares rail through them.
void FitRound(const PathWalk& walk, const std::vector<PathSample>& samples, double spacing,
              double heartline, const Solver& solver, RailFit& fit);

}  // namespace cvqrn::smooth
