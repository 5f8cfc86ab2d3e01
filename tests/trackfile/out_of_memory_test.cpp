// Load and save with one allocation failing, for every allocation they make
// in turn: each run ends in a refused result with the memory reason, never in
// an exception, and a failed save leaves the old file and no temporary file.
// Its own executable, because it replaces the global operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
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

using namespace testsupport;

// Runs `call` with allocation n failing, for n = 0, 1, ... until a run makes
// no more than n allocations. Each run that met its failing allocation must be
// refused for `reason`, after which `kept` checks what must survive it.
template <class Call>
void WithEachAllocationFailing(Call call, const std::string& reason,
                               const std::function<void()>& kept) {
    for (long n = 0;; ++n) {
        g_allocations = 0;
        g_failAt = n;
        const auto result = call();
        const bool failed = g_allocations > n;
        g_failAt = -1;
        SCOPED_TRACE(n);
        EXPECT_EQ(result.ok, !failed);
        EXPECT_EQ(result.reason, failed ? reason : "");
        if (!failed) return;
        kept();
    }
}

TEST(OutOfMemory, EveryFailingAllocationOfALoadOrASaveIsARefusalThatKeepsTheOldFile) {
    TempDir dir;
    const std::string in = dir.File("in.cvtrack"), out = dir.File("out.cvtrack");
    WriteFileBytes(in, FrameByHand(MakeFullTrack()).bytes);
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    WriteFileBytes(out, old);
    TrackData t;
    WithEachAllocationFailing([&] { return LoadTrack(in, t); },
                              "not enough memory to load the file", [] {});
    WithEachAllocationFailing(
        [&] { return SaveTrack(out, t); }, "not enough memory to save the track",
        [&] {
            EXPECT_EQ(ReadFileBytes(out), old);
            // in and out only: no temporary file is left
            const auto files = std::filesystem::directory_iterator(dir.Path());
            EXPECT_EQ(std::distance(begin(files), end(files)), 2);
        });
}

}  // namespace
}  // namespace cvqrn
