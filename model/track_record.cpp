#include "model/track_record.h"

#include <span>
#include <string_view>
#include <utility>

namespace cvqrn {

namespace {

// "" when `count` entries of `items` exist, else the reason.
template <class T>
std::string CountProblem(std::string_view what, int64_t count, const std::vector<T>& items) {
    if (count >= 0 && static_cast<uint64_t>(count) <= items.size()) return {};
    return std::string(what) + " says " + std::to_string(count) + " but " +
           std::to_string(items.size()) + " are held";
}

// Entries 0 .. count - 1, once the count is known to fit the array.
template <class T>
std::span<const T> Listed(int32_t count, const std::vector<T>& items) {
    return std::span<const T>(items).first(static_cast<size_t>(count));
}

// What breaks the shape first, or "" when nothing does.
std::string FindShapeProblem(const TrackData& t) {
    std::string problem;
    const auto check = [&problem](std::string found) {
        if (problem.empty()) problem = std::move(found);
    };
    check(CountProblem("the TRCK entry count", t.Trck.EntryCount, t.Trck.Entries));
    check(CountProblem("the vertex count", t.Bezr.VertexCount, t.Bezr.Vertices));
    check(CountProblem("the segment count", t.Segm.SegmentCount, t.Segm.Segments));
    check(CountProblem("the FUND count", t.Fund.Count, t.Fund.Items));
    check(CountProblem("the RASC count", t.Rasc.Count, t.Rasc.Items));
    check(CountProblem("the FREN count", t.Fren.Count, t.Fren.Items));
    check(CountProblem("the TUBE count", t.Tube.Count, t.Tube.Items));
    check(CountProblem("the CATW count", t.Catw.Count, t.Catw.Items));
    check(CountProblem("the SCEN count", t.Scen.Count, t.Scen.Items));
    check(CountProblem("the SCOB count", t.Scob.Count, t.Scob.Items));
    if (!problem.empty()) return problem;

    for (const RascEntry& e : Listed(t.Rasc.Count, t.Rasc.Items)) {
        if (e.Count > 0) check(CountProblem("a RASC entry's item count", e.Count, e.Items));
    }
    for (const CatwEntry& e : Listed(t.Catw.Count, t.Catw.Items)) {
        if (e.ExtraLength < 0 || static_cast<size_t>(e.ExtraLength) != e.Extra.size()) {
            check("a CATW entry's extra length says " + std::to_string(e.ExtraLength) + " but " +
                  std::to_string(e.Extra.size()) + " bytes are held");
        }
    }
    if (!t.Tera.Present) return problem;
    if (t.Tera.Columns < 0 || t.Tera.Rows < 0) {
        check("the terrain grid size " + std::to_string(t.Tera.Columns) + " x " +
              std::to_string(t.Tera.Rows) + " is negative");
    } else {
        check(CountProblem("the terrain grid size", static_cast<int64_t>(t.Tera.CellCount()),
                           t.Tera.Grid));
    }
    return problem;
}

}  // namespace

void ClearTrack(TrackData& track) {
    track = TrackData{};
}

Result CheckTrackShape(const TrackData& track) {
    std::string problem = FindShapeProblem(track);
    if (problem.empty()) return {};
    return Failure(Status::InvalidTrack, std::move(problem));
}

}  // namespace cvqrn
