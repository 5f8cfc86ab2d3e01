// The pinned library results as a program of its own, for the WebAssembly
// build (run with Node.js): prints each missed pin and exits with 1 when
// there is any.
#include <cstdio>

#include "tests/libm/libm_pins.h"

int main() {
    using namespace cvqrn::libm_pins;
    int missed = 0;
    for (const std::string& line : MissedPins()) {
        std::printf("libm: %s\n", line.c_str());
        ++missed;
    }
    for (const WalkPin& pin : kWalkPins) {
        const uint64_t digest = WalkDigest(pin.function);
        if (digest == Pinned(pin)) continue;
        std::printf("libm: the walk's %s digest is %016llx, pinned %016llx\n", pin.function,
                    static_cast<unsigned long long>(digest),
                    static_cast<unsigned long long>(Pinned(pin)));
        ++missed;
    }
    std::printf("libm: %d of %zu pins missed\n", missed, std::size(kPins) + std::size(kWalkPins));
    return missed == 0 ? 0 : 1;
}
