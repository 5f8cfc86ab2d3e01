// info IN [--json]: what a track file holds, read with the same load as the
// window's: header version, chunk counts, terrain, file size, the track's
// length and the slope, radius and tilt at both of its ends.
#include <sys/stat.h>

#include <array>
#include <ostream>
#include <utility>

#include "cli/commands.h"
#include "cli/format.h"
#include "geometry/bezier.h"
#include "geometry/end_analysis.h"
#include "text/format.h"
#include "trackfile/track_file.h"

namespace cvqrn::cli {

namespace {

// Entry counts of the chunks that hold lists, in file order.
std::array<std::pair<const char*, int32_t>, 8> EntryCounts(const TrackData& t) {
    return {{{"TRCK", t.Trck.EntryCount},
             {"FUND", t.Fund.Count},
             {"RASC", t.Rasc.Count},
             {"FREN", t.Fren.Count},
             {"TUBE", t.Tube.Count},
             {"CATW", t.Catw.Count},
             {"SCEN", t.Scen.Count},
             {"SCOB", t.Scob.Count}}};
}

std::string Version(const FileHeader& h) {
    return std::to_string(h.Version[0]) + "." + std::to_string(h.Version[1]) + "." +
           std::to_string(h.Version[2]) + "." + std::to_string(h.Version[3]);
}

void PrintPlain(const std::string& path, int64_t fileSize, const TrackData& t, double length,
                const EndAnalysis& e, std::ostream& out) {
    out << "file: " << path << "\n"
        << "file size: " << fileSize << " bytes\n"
        << "version: " << Version(t.Header) << "\n"
        << "vertices: " << t.Bezr.VertexCount << "\n"
        << "segments: " << t.Segm.SegmentCount << "\n";
    for (const auto& [tag, count] : EntryCounts(t)) out << tag << " entries: " << count << "\n";
    out << "terrain: ";
    if (t.Tera.Present) {
        out << t.Tera.Columns << " x " << t.Tera.Rows << "\n";
    } else {
        out << "none\n";
    }
    const EndAnalysisTexts ends = FormatEndAnalysis(e);
    out << "length: " << FormatFixed(length) << "\n"
        << "radius in: " << ends.radiusIn << "\n"
        << "slope in: " << ends.slopeIn << "\n"
        << "tilt in: " << ends.tiltIn << "\n"
        << "radius out: " << ends.radiusOut << "\n"
        << "slope out: " << ends.slopeOut << "\n"
        << "tilt out: " << ends.tiltOut << "\n";
}

void PrintJson(const std::string& path, int64_t fileSize, const TrackData& t, double length,
               const EndAnalysis& e, std::ostream& out) {
    out << "{\n"
        << "  \"file\": " << JsonString(path) << ",\n"
        << "  \"file_size\": " << fileSize << ",\n"
        << "  \"version\": [" << int{t.Header.Version[0]} << ", " << int{t.Header.Version[1]}
        << ", " << int{t.Header.Version[2]} << ", " << int{t.Header.Version[3]} << "],\n"
        << "  \"vertices\": " << t.Bezr.VertexCount << ",\n"
        << "  \"segments\": " << t.Segm.SegmentCount << ",\n"
        << "  \"entries\": {";
    const char* separator = "";
    for (const auto& [tag, count] : EntryCounts(t)) {
        out << separator << "\"" << tag << "\": " << count;
        separator = ", ";
    }
    out << "},\n"
        << "  \"tera\": " << (t.Tera.Present ? "true" : "false") << ",\n";
    if (t.Tera.Present) {
        out << "  \"tera_columns\": " << t.Tera.Columns << ",\n"
            << "  \"tera_rows\": " << t.Tera.Rows << ",\n";
    }
    out << "  \"length\": " << JsonNumber(length) << ",\n";
    WriteEndAnalysisJson(e, out);
    out << "}\n";
}

constexpr OptionHelp kInfoOptionTable[] = {
    {"--json", "", "print what the file holds as JSON"},
};

}  // namespace

const std::span<const OptionHelp> kInfoOptions = kInfoOptionTable;

int RunInfo(Args args, std::ostream& out, std::ostream& err) {
    bool json = false;
    std::vector<std::string> files;
    for (const std::string& a : args) {
        if (a == "--json") {
            json = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown option '" + a + "'", "info", kInfoArguments, err);
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 1) {
        return UsageError("give one input file", "info", kInfoArguments, err);
    }

    const std::string& path = files[0];
    TrackData track;
    const Result loaded = LoadTrack(path, track);
    if (!loaded) return ReportFailure("load", path, loaded, err);
    struct stat st {};
    const int64_t fileSize = ::stat(path.c_str(), &st) == 0 ? int64_t{st.st_size} : -1;
    const double length = TrackLength(track);
    const EndAnalysis ends = TrackEndAnalysis(track);
    if (json) {
        PrintJson(path, fileSize, track, length, ends, out);
    } else {
        PrintPlain(path, fileSize, track, length, ends, out);
    }
    return kExitOk;
}

}  // namespace cvqrn::cli
