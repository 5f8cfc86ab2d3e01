#include "tests/support/failing_new.h"

#include <cstdlib>
#include <new>

namespace cvqrn::testsupport {
AllocationFaults g_allocationFaults;
}  // namespace cvqrn::testsupport

using cvqrn::testsupport::g_allocationFaults;

void* operator new(std::size_t n) {
    if (n >= g_allocationFaults.failFromBytes) throw std::bad_alloc();
    if (g_allocationFaults.failAt >= 0 && g_allocationFaults.count++ == g_allocationFaults.failAt) {
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(n > 0 ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
