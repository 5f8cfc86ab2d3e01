// Load and save with each of their allocations failing in turn. Its own
// executable, because it replaces the global operator new.
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

using namespace testsupport;

const std::vector<uint8_t> kOld = {'o', 'l', 'd'};

// Runs `call` with allocation n failing, for n = 0, 1, ... until a run makes
// no more than n allocations. Each run that met its failing allocation must be
// refused for `reason` and leave the folder as it was: in.cvtrack and the old
// out.cvtrack, no temporary file.
template <class Call>
void WithEachAllocationFailing(const TempDir& dir, Call call, const std::string& reason) {
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
        EXPECT_EQ(ReadFileBytes(dir.File("out.cvtrack")), kOld);
        const auto files = std::filesystem::directory_iterator(dir.Path());
        EXPECT_EQ(std::distance(begin(files), end(files)), 2);
    }
}

TEST(OutOfMemory, EveryFailingAllocationOfALoadOrASaveIsARefusalThatKeepsTheOldFile) {
    TempDir dir;
    const std::string in = dir.File("in.cvtrack"), out = dir.File("out.cvtrack");
    WriteFileBytes(in, FrameByHand(MakeFullTrack()).bytes);
    WriteFileBytes(out, kOld);
    TrackData t;
    WithEachAllocationFailing(
        dir, [&] { return LoadTrack(in, t); }, "not enough memory to load the file");
    WithEachAllocationFailing(
        dir, [&] { return SaveTrack(out, t); }, "not enough memory to save the track");
}

}  // namespace
}  // namespace cvqrn
