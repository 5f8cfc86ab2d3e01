// A replacement for the global operator new, for the test programs that link
// cvqrn_failing_new: a test makes chosen allocations throw std::bad_alloc to
// check that running out of memory is reported and loses nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace cvqrn::testsupport {

struct AllocationFaults {
    std::atomic<long> failAt{-1};  // the allocation (counted from 0) that fails; -1: none
    std::atomic<long> count{0};    // allocations made while failAt is set
    std::atomic<std::size_t> failFromBytes{SIZE_MAX};  // every allocation this large fails
};

extern AllocationFaults g_allocationFaults;

}  // namespace cvqrn::testsupport
