// The pinned library results as a program of its own, for the WebAssembly
// build (run with Node.js), and portable_math's, which must be the ones pinned
// for Emscripten's library: prints each missed pin and exits with 1 when
// there is any.
#include <cstdio>

#include "tests/libm/libm_pins.h"

int main() {
    using namespace cvqrn::libm_pins;
    int missed = 0;
    for (const bool portable : {false, true}) {
        for (const std::string& line : MissedPins(portable)) {
            std::printf("libm: %s\n", line.c_str());
            ++missed;
        }
    }
    for (const WalkPin& pin : kWalkPins) {
        const uint64_t digest = WalkDigest(pin.function);
        if (digest == Pinned(pin)) continue;
        std::printf("libm: the walk's %s digest is %016llx, pinned %016llx\n", pin.function,
                    static_cast<unsigned long long>(digest),
                    static_cast<unsigned long long>(Pinned(pin)));
        ++missed;
    }
    // portable_math answers as Emscripten's library on every platform.
    for (const WalkPin& pin : kWalkPins) {
        if (!IsPortable(pin.function)) continue;
        const uint64_t digest = WalkDigest(pin.function, PortableCall);
        if (digest == pin.emscripten) continue;
        std::printf("libm: the walk's portable %s digest is %016llx, pinned %016llx\n",
                    pin.function, static_cast<unsigned long long>(digest),
                    static_cast<unsigned long long>(pin.emscripten));
        ++missed;
    }
    std::printf("libm: %d of %zu pins missed\n", missed, std::size(kPins) + std::size(kWalkPins));
    return missed == 0 ? 0 : 1;
}
