// The C library's results the core's bytes rest on, pinned (libm_pins.h): a
// library that rounds one of them otherwise fails here, by name and argument.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/libm/libm_pins.h"

namespace cvqrn::libm_pins {
namespace {

TEST(Libm, HardArgumentsGiveThePinnedBits) {
    for (const std::string& missed : MissedPins()) ADD_FAILURE() << missed;
}

TEST(Libm, EveryArgumentOfTheWalksGivesThePinnedBits) {
    for (const WalkPin& pin : kWalkPins) {
        EXPECT_EQ(WalkDigest(pin.function), Pinned(pin)) << pin.function;
    }
}

// portable_math is musl's code built into the project: natively it must give
// the page's bits, or the smooth rebuild's tracks differ between the two
// (a constant or an operation order copied wrong shows here).
TEST(Libm, PortableFunctionsGiveThePagesBits) {
    for (const std::string& missed : MissedPins(true)) ADD_FAILURE() << missed;
    for (const WalkPin& pin : kWalkPins) {
        if (!IsPortable(pin.function)) continue;
        EXPECT_EQ(WalkDigest(pin.function, PortableCall), pin.emscripten) << pin.function;
    }
}

// GCC turns a sine and a cosine of one argument into one sincos call (the
// banking blend does both): it must answer as the two functions do.
TEST(Libm, SincosAnswersAsSinAndCos) {
    void (*volatile both)(double, double*, double*) = ::sincos;
    for (const Pin& pin : kPins) {
        const std::string_view function = pin.function;
        if (function != "sin" && function != "cos") continue;
        const double x = FromBits(pin.x);
        double sine = 0.0, cosine = 0.0;
        both(x, &sine, &cosine);
        EXPECT_EQ(ToBits(sine), ToBits(Call("sin", x, 0.0))) << pin.x;
        EXPECT_EQ(ToBits(cosine), ToBits(Call("cos", x, 0.0))) << pin.x;
    }
}

}  // namespace
}  // namespace cvqrn::libm_pins
