// Load and save of a large track file (a 2048 x 2048 terrain grid, 100,000
// scenery entries, 20,000 vertices: about 24 MB), each timed against plain
// standard-library file I/O of the same number of bytes in the same run.
// The counters load_ratio and save_ratio are the quotients; the goal is at
// most 3 for each. A save also flushes its file to disk (fsync), which the
// plain write does not: on a real disk that flush dominates the save. Run with
// TMPDIR on a tmpfs (e.g. TMPDIR=/dev/shm) to see the cost of the code alone;
// save_vs_synced_write compares the save with a plain write plus fsync.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

namespace {

using namespace cvqrn;
using Clock = std::chrono::steady_clock;

struct LargeFile {
    testsupport::TempDir dir;
    TrackData track = testsupport::MakeLargeTrack(2048, 2048, 100000, 20000);
    std::string path = dir.File("large.cvtrack");
    std::string plainPath = dir.File("plain.bin");
    std::vector<char> bytes;

    LargeFile() {
        if (!SaveTrack(path, track)) throw std::runtime_error("cannot write the large track");
        const std::vector<uint8_t> image = testsupport::ReadFileBytes(path);
        bytes.assign(image.begin(), image.end());
    }
};

LargeFile& Large() {
    static LargeFile file;
    return file;
}

// A whole-file read into a fresh buffer, as a load needs one.
void PlainRead(const std::string& path, size_t size) {
    std::vector<char> into(size);
    std::ifstream in(path, std::ios::binary);
    in.read(into.data(), static_cast<std::streamsize>(into.size()));
    benchmark::DoNotOptimize(into.data());
}

void PlainWrite(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The plain write followed by a flush to disk, the reference for a save that
// must survive a crash.
void PlainWriteSynced(const std::string& path, const std::vector<char>& bytes) {
    PlainWrite(path, bytes);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

void BM_LoadTrack(benchmark::State& state) {
    LargeFile& f = Large();
    for (auto _ : state) {
        TrackData t;
        if (!LoadTrack(f.path, t)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(t.Tera.Grid.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.bytes.size()));
}

void BM_SaveTrack(benchmark::State& state) {
    LargeFile& f = Large();
    for (auto _ : state) {
        if (!SaveTrack(f.dir.File("saved.cvtrack"), f.track)) state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.bytes.size()));
}

void BM_EncodeTrack(benchmark::State& state) {
    LargeFile& f = Large();
    for (auto _ : state) benchmark::DoNotOptimize(EncodeTrack(f.track).image.data());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.bytes.size()));
}

// Each iteration times a load, a plain read, a save and a plain write of the
// same bytes, so that both sides see the same disk and cache state.
void BM_LoadSaveVsPlainIo(benchmark::State& state) {
    LargeFile& f = Large();
    double load = 0, read = 0, save = 0, write = 0, synced = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        TrackData t;
        if (!LoadTrack(f.path, t)) state.SkipWithError("load failed");
        const auto t1 = Clock::now();
        PlainRead(f.path, f.bytes.size());
        const auto t2 = Clock::now();
        if (!SaveTrack(f.dir.File("saved.cvtrack"), t)) state.SkipWithError("save failed");
        const auto t3 = Clock::now();
        PlainWrite(f.plainPath, f.bytes);
        const auto t4 = Clock::now();
        PlainWriteSynced(f.plainPath, f.bytes);
        const auto t5 = Clock::now();
        load += Seconds(t0, t1);
        read += Seconds(t1, t2);
        save += Seconds(t2, t3);
        write += Seconds(t3, t4);
        synced += Seconds(t4, t5);
    }
    state.counters["load_ratio"] = load / read;
    state.counters["save_ratio"] = save / write;
    state.counters["save_vs_synced_write"] = save / synced;
    state.counters["total_ratio"] = (load + save) / (read + write);
    const double n = static_cast<double>(state.iterations());
    state.counters["load_ms"] = 1e3 * load / n;
    state.counters["read_ms"] = 1e3 * read / n;
    state.counters["save_ms"] = 1e3 * save / n;
    state.counters["write_ms"] = 1e3 * write / n;
    state.counters["file_MB"] = static_cast<double>(f.bytes.size()) / 1e6;
}

BENCHMARK(BM_LoadTrack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveTrack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeTrack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSaveVsPlainIo)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
