// Load and save with one allocation failing, for every allocation they make
// in turn: each run ends in a refused result with the memory reason, never in
// an exception, and a failed save leaves the old file and no temporary file.
// Its own executable, because it replaces the global operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

namespace {

std::atomic<long> g_allocations{0};
std::atomic<long> g_failAt{-1};  // the allocation that fails; -1: none

}  // namespace

void* operator new(std::size_t n) {
    if (g_failAt >= 0 && g_allocations++ == g_failAt) throw std::bad_alloc();
    if (void* p = std::malloc(n > 0 ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace cvqrn {
namespace {

using testsupport::FrameByHand;
using testsupport::MakeFullTrack;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

// Runs `call` with allocation n failing, for n = 0, 1, ... until a run makes
// no more than n allocations; `check(result, failed)` judges each run.
template <class Call, class Check>
void WithEachAllocationFailing(Call call, Check check) {
    for (long n = 0;; ++n) {
        g_allocations = 0;
        g_failAt = n;
        const auto result = call();
        const bool failed = g_allocations > n;
        g_failAt = -1;
        check(result, failed, n);
        if (!failed) return;
    }
}

TEST(OutOfMemory, EveryFailingAllocationOfALoadIsARefusal) {
    TempDir dir;
    const std::string path = dir.File("in.cvtrack");
    WriteFileBytes(path, FrameByHand(MakeFullTrack()).bytes);
    TrackData t;
    WithEachAllocationFailing([&] { return LoadTrack(path, t); },
                              [](const LoadResult& r, bool failed, long n) {
                                  EXPECT_EQ(r.ok, !failed) << n;
                                  if (failed) {
                                      EXPECT_EQ(r.reason, "not enough memory to load the file");
                                  }
                              });
}

TEST(OutOfMemory, EveryFailingAllocationOfASaveIsARefusalThatKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.File("out.cvtrack");
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    WriteFileBytes(path, old);
    const TrackData track = MakeFullTrack();
    WithEachAllocationFailing(
        [&] { return SaveTrack(path, track); },
        [&](const SaveResult& r, bool failed, long n) {
            EXPECT_EQ(r.ok, !failed) << n;
            if (!failed) return;
            EXPECT_EQ(r.reason, "not enough memory to save the track") << n;
            EXPECT_EQ(ReadFileBytes(path), old) << n;
            size_t files = 0;
            for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path()))
                ++files;
            EXPECT_EQ(files, 1u) << n;
        });
}

}  // namespace
}  // namespace cvqrn
