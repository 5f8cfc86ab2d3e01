// The results of the C library's mathematical functions that the core's bytes
// rest on, pinned bit for bit for the two libraries the project ships with:
// glibc (every native build) and the one Emscripten builds into the page.
//
// The pins are arguments that are hard to round (their exact result lies
// within about 10^-4 units in the last place of a rounding midpoint, found by
// a search in 300-bit arithmetic; the pow rows include exact ties of the
// walk's own cubes, and squares, which the smooth rebuild's derivative
// numbers take at run time), the special values the core meets, and digests
// of every result for the arguments each walk along a segment takes. atan2 is
// the smooth rebuild's. The two libraries
// give different last bits on some of them: those rows are where the page's
// identity with the native tools rests on rounding to single, not on the
// library (docs/exact-bytes.md). A platform whose library differs from its
// pins fails loudly here, naming the function and the argument. The smooth
// rebuild's portable_math must give the Emscripten column on every platform.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/bezier.h"
#include "portable_math/portable_math.h"
#include "vec3/vec3.h"

namespace cvqrn::libm_pins {

// One result, for glibc and for Emscripten's library.
struct Pin {
    const char* function;  // "sin", "cos", "atan", "atan2", "pow", "hypot" or "sqrt"
    uint64_t x, y;         // the arguments' bits (y only for atan2, pow and hypot)
    uint64_t glibc, emscripten;
};

inline constexpr Pin kPins[] = {
    {"sin", 0xc0026e050edc629b, 0x0000000000000000, 0xbfe7c877a889af78, 0xbfe7c877a889af78},
    {"sin", 0x3ff5519b331674c9, 0x0000000000000000, 0x3fef185bc6129b46, 0x3fef185bc6129b46},
    {"sin", 0x3fb94ff7efe6a007, 0x0000000000000000, 0x3fb9456a3fb29e64, 0x3fb9456a3fb29e65},
    {"sin", 0x3fe6411a1d8f305e, 0x0000000000000000, 0x3fe480d980a8ec40, 0x3fe480d980a8ec40},
    {"sin", 0x4006e5778db7ff0f, 0x0000000000000000, 0x3fd1a8b25d7f67b2, 0x3fd1a8b25d7f67b2},
    {"sin", 0x3fc005582f454365, 0x0000000000000000, 0x3fbff549ec53954c, 0x3fbff549ec53954d},
    {"sin", 0x3ff3cb08c5a4900e, 0x0000000000000000, 0x3fee3c07c967c294, 0x3fee3c07c967c294},
    {"sin", 0x3fcf13909bbc40b0, 0x0000000000000000, 0x3fcec5a393275b38, 0x3fcec5a393275b38},
    {"sin", 0x3fb953c2f7d86170, 0x0000000000000000, 0x3fb9493088c62224, 0x3fb9493088c62225},
    {"sin", 0xbff53976116a520d, 0x0000000000000000, 0xbfef0cd162443cca, 0xbfef0cd162443cca},
    {"sin", 0x3fa705075783da4d, 0x0000000000000000, 0x3fa7030b2286c192, 0x3fa7030b2286c192},
    {"sin", 0xbfdb291ebd0016a0, 0x0000000000000000, 0xbfda5a4779f73d70, 0xbfda5a4779f73d70},
    {"cos", 0x3f7c3838d04b219c, 0x0000000000000000, 0x3fefffce3a807f72, 0x3fefffce3a807f72},
    {"cos", 0xbffa925385016907, 0x0000000000000000, 0xbfb6fd9255b08a2c, 0xbfb6fd9255b08a2c},
    {"cos", 0x3ff3569eeca9a46f, 0x0000000000000000, 0x3fd6ac98472ae736, 0x3fd6ac98472ae736},
    {"cos", 0x4005c5a5bc264c29, 0x0000000000000000, 0xbfed37bd7d7b0954, 0xbfed37bd7d7b0954},
    {"cos", 0x400506015437b001, 0x0000000000000000, 0xbfebded627325764, 0xbfebded627325764},
    {"cos", 0xc007741bd513086e, 0x0000000000000000, 0xbfef4c33a8693fdf, 0xbfef4c33a8693fe0},
    {"cos", 0x3ff13d5bcd3ed261, 0x0000000000000000, 0x3fde4ea1ab2d6a4c, 0x3fde4ea1ab2d6a4d},
    {"cos", 0x3ff4ead87085944a, 0x0000000000000000, 0x3fd0aac81e790082, 0x3fd0aac81e790082},
    {"cos", 0xbff0d3bb2dae9b34, 0x0000000000000000, 0x3fdfc024b3ff7568, 0x3fdfc024b3ff7569},
    {"cos", 0x3fd59a3b198b8618, 0x0000000000000000, 0x3fee31bf5842456e, 0x3fee31bf5842456e},
    {"cos", 0xc002ac8ecd393faa, 0x0000000000000000, 0xbfe620287b2e5c6a, 0xbfe620287b2e5c69},
    {"cos", 0xc0049951cd7a1e9e, 0x0000000000000000, 0xbfeaff45f3328fbc, 0xbfeaff45f3328fbc},
    {"atan", 0x403abcf5ac68bc90, 0x0000000000000000, 0x3ff888dd15a2a77f, 0x3ff888dd15a2a77e},
    {"atan", 0xc0324de7aea13516, 0x0000000000000000, 0xbff8426e7f3788ff, 0xbff8426e7f378900},
    {"atan", 0xc048c8323a8bf75c, 0x0000000000000000, 0xbff8cf5a367a83c8, 0xbff8cf5a367a83c8},
    {"atan", 0x40366ef84b8f6b94, 0x0000000000000000, 0x3ff86b84ad47bb01, 0x3ff86b84ad47bb00},
    {"atan", 0x401d21e8f13e9110, 0x0000000000000000, 0x3ff6f3146ba630c7, 0x3ff6f3146ba630c8},
    {"atan", 0x4047b757e0aaab32, 0x0000000000000000, 0x3ff8cba3d7fd8d5d, 0x3ff8cba3d7fd8d5e},
    {"atan", 0xc0419309142b87de, 0x0000000000000000, 0xbff8ad7ad17b37a8, 0xbff8ad7ad17b37a8},
    {"atan", 0x403fedb33dfa8ef0, 0x0000000000000000, 0x3ff8a1bcb2b65420, 0x3ff8a1bcb2b65420},
    {"atan", 0x4048a6cf9bfe56c4, 0x0000000000000000, 0x3ff8ceea570588dd, 0x3ff8ceea570588de},
    {"atan", 0xc04690215d7bacc8, 0x0000000000000000, 0xbff8c73a83c4930b, 0xbff8c73a83c4930c},
    {"pow", 0x3f8cac0800000000, 0x4008000000000000, 0x3ec704b17daac040, 0x3ec704b17daac040},
    {"pow", 0x3f99999800000000, 0x4008000000000000, 0x3ef0624ac0834396, 0x3ef0624ac0834396},
    {"pow", 0x3f9cac0800000000, 0x4008000000000000, 0x3ef704b17daac040, 0x3ef704b17daac040},
    {"pow", 0x3f9fbe7800000000, 0x4008000000000000, 0x3eff3cf985748e38, 0x3eff3cf985748e38},
    {"pow", 0x3facac0800000000, 0x4008000000000000, 0x3f2704b17daac040, 0x3f2704b17daac040},
    {"pow", 0x3fbae14800000000, 0x4008000000000000, 0x3f52f76f0e6f309d, 0x3f52f76f0e6f309c},
    {"pow", 0x3fbcac0800000000, 0x4008000000000000, 0x3f5704b17daac040, 0x3f5704b17daac040},
    {"pow", 0x3fcbc6a800000000, 0x4008000000000000, 0x3f84ed56e6464e36, 0x3f84ed56e6464e36},
    {"pow", 0x3fccac0800000000, 0x4008000000000000, 0x3f8704b17daac040, 0x3f8704b17daac040},
    {"pow", 0x3fdbc6a800000000, 0x4008000000000000, 0x3fb4ed56e6464e36, 0x3fb4ed56e6464e36},
    {"pow", 0x3fdc395800000000, 0x4008000000000000, 0x3fb5f4c4969031ca, 0x3fb5f4c4969031ca},
    {"pow", 0x3fd8d2a4761094d4, 0x4008000000000000, 0x3faddf91ed375dcc, 0x3faddf91ed375dcc},
    {"pow", 0x3feb538fc00b06d4, 0x4008000000000000, 0x3fe3ed61d165fb26, 0x3fe3ed61d165fb26},
    {"pow", 0x3fe7fe768b839a8f, 0x4008000000000000, 0x3fdafad06be40fb9, 0x3fdafad06be40fb8},
    {"hypot", 0x403b0d64886f1c3e, 0xc03dfdf28eb82b3f, 0x404431e95b726d99, 0x404431e95b726d99},
    {"hypot", 0xc0008a5a0ad04c20, 0xc0348e7829b78899, 0x4034a90534f06cd3, 0x4034a90534f06cd3},
    {"hypot", 0x403bee2140265340, 0x402bf576daa2cfec, 0x403f3bba9afcc95a, 0x403f3bba9afcc95a},
    {"hypot", 0xc0184b2398890608, 0xc0133c009acb8788, 0x401efc6eca5fa88b, 0x401efc6eca5fa88c},
    {"hypot", 0x4027e057e43987d0, 0x403d1905d3ae705a, 0x403f73976b1da255, 0x403f73976b1da255},
    {"hypot", 0x3ff5aef7a292c700, 0xc03570a36fc32315, 0x40357b97a3edeef0, 0x40357b97a3edeef1},
    {"hypot", 0x40116f9a2f8540d0, 0xbffe2b2defe22290, 0x4012ff4d84a3dd5d, 0x4012ff4d84a3dd5d},
    {"hypot", 0xc03d9a7f1b443510, 0x403d6a638e13f052, 0x4044ddd3220aa09b, 0x4044ddd3220aa09b},
    {"atan", 0x40819e9bb127b19b, 0x0000000000000000, 0x3ff91ab794834909, 0x3ff91ab79483490a},
    {"atan", 0x40b7123301af147d, 0x0000000000000000, 0x3ff92149ca7c9ec4, 0x3ff92149ca7c9ec4},
    {"atan", 0x416092584b9b545c, 0x0000000000000000, 0x3ff921fb355ec4ee, 0x3ff921fb355ec4ee},
    {"atan", 0x4179c779a8c4e9d4, 0x0000000000000000, 0x3ff921fb4a55f8bb, 0x3ff921fb4a55f8bb},
    {"atan", 0x4050f0ea44795f47, 0x0000000000000000, 0x3ff8e58a94dba51a, 0x3ff8e58a94dba51a},
    {"atan", 0xc14cf48d8ae47647, 0x0000000000000000, 0xbff921fb0d895c51, 0xbff921fb0d895c51},
    {"atan2", 0x3fe8c14cd72dff64, 0xbfefea845bedef98, 0x4003dae8987b02e4, 0x4003dae8987b02e4},
    {"atan2", 0xbfba08e3ef59bcf0, 0xbfd797cff199dda0, 0xc006fab499695dd6, 0xc006fab499695dd6},
    {"atan2", 0xbfea29a34c64250a, 0xbfa71e0009004e40, 0xbffa03f3dbbff5df, 0xbffa03f3dbbff5df},
    {"atan2", 0xbfe6ddd2887555cc, 0xbfd903bbd29d12e4, 0xc000920b3a3f0000, 0xc000920b3a3f0000},
    {"atan2", 0xbfeba26734998984, 0xbfe4148c77acec52, 0xc00197eb30983d1e, 0xc00197eb30983d1e},
    {"atan2", 0x3fdd399f8c3a04ec, 0x3fe513797c48b6be, 0x3fe3663f35ed246c, 0x3fe3663f35ed246c},
    {"atan2", 0x3fe15b5d40a485d2, 0xbfe6e6702e4d7d92, 0x4003f1ba06a03dba, 0x4003f1ba06a03dba},
    {"atan2", 0x3fed30bd32c95cd4, 0xbfedf260f941eed4, 0x4002f3ae22cbc1b8, 0x4002f3ae22cbc1b8},
    {"atan2", 0xbfa3d5c86cef7c60, 0xbfd4df4cb32849a0, 0xc0082fd664adb6f9, 0xc0082fd664adb6f8},
    {"atan2", 0x3fe609a7e60bdd54, 0x3fc51d1965b90878, 0x3ff55f0f0a190682, 0x3ff55f0f0a190682},
    {"pow", 0x4030397eca33d2a8, 0x4000000000000000, 0x407073cc2fb51138, 0x407073cc2fb51138},
    {"pow", 0x404310caa4eec718, 0x4000000000000000, 0x4096b7f2e7078198, 0x4096b7f2e7078198},
    {"pow", 0x403e218b2d63d1e8, 0x4000000000000000, 0x408c5f081e861a08, 0x408c5f081e861a08},
    {"pow", 0x402f13d21ea77bd2, 0x4000000000000000, 0x406e2e73624c993e, 0x406e2e73624c993e},
    {"pow", 0x403619fc5400938b, 0x4000000000000000, 0x407e87a01b136f56, 0x407e87a01b136f56},
    {"pow", 0x40414695abd672d8, 0x4000000000000000, 0x4092a735703f6028, 0x4092a735703f6028},
    {"pow", 0x3ff7ae0f0d585da4, 0x4000000000000000, 0x400185e866e73c1e, 0x400185e866e73c1e},
    {"pow", 0x3ffdf796ef2cf0d8, 0x4000000000000000, 0x400c103d3655a38f, 0x400c103d3655a38e},
    {"sin", 0x0000000000000000, 0x0000000000000000, 0x0000000000000000, 0x0000000000000000},
    {"sin", 0x8000000000000000, 0x0000000000000000, 0x8000000000000000, 0x8000000000000000},
    {"cos", 0x0000000000000000, 0x0000000000000000, 0x3ff0000000000000, 0x3ff0000000000000},
    {"cos", 0x400921fb54442d11, 0x0000000000000000, 0xbff0000000000000, 0xbff0000000000000},
    {"sin", 0x400921fb54442d11, 0x0000000000000000, 0x3ced1a62633145c0, 0x3ced1a62633145c0},
    {"atan", 0x3ff0000000000000, 0x0000000000000000, 0x3fe921fb54442d18, 0x3fe921fb54442d18},
    {"atan", 0x8000000000000000, 0x0000000000000000, 0x8000000000000000, 0x8000000000000000},
    {"atan", 0x7ff0000000000000, 0x0000000000000000, 0x3ff921fb54442d18, 0x3ff921fb54442d18},
    {"atan", 0xfff0000000000000, 0x0000000000000000, 0xbff921fb54442d18, 0xbff921fb54442d18},
    {"pow", 0x0000000000000000, 0x4008000000000000, 0x0000000000000000, 0x0000000000000000},
    {"pow", 0x3ff0000000000000, 0x4008000000000000, 0x3ff0000000000000, 0x3ff0000000000000},
    {"pow", 0x3fe0000000000000, 0x4008000000000000, 0x3fc0000000000000, 0x3fc0000000000000},
    {"pow", 0x2b2bff2ee48e0530, 0x4008000000000000, 0x01a56e1fc2f8f359, 0x01a56e1fc2f8f359},
    {"pow", 0x5551dbf316b346e8, 0x4008000000000000, 0x7ff0000000000000, 0x7ff0000000000000},
    {"sqrt", 0x4000000000000000, 0x0000000000000000, 0x3ff6a09e667f3bcd, 0x3ff6a09e667f3bcd},
    {"sqrt", 0x000012688b70e62b, 0x0000000000000000, 0x1fc1297872d9cbae, 0x1fc1297872d9cbae},
    {"hypot", 0x4008000000000000, 0x4010000000000000, 0x4014000000000000, 0x4014000000000000},
    {"hypot", 0x8000000000000000, 0x0000000000000000, 0x0000000000000000, 0x0000000000000000},
};

inline double FromBits(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}
inline uint64_t ToBits(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits;
}

// The library's function by name, called through a volatile pointer so that
// no compiler evaluates it itself (GCC would with its own exact arithmetic).
inline double Call(std::string_view function, double x, double y) {
    double (*volatile one)(double) = nullptr;
    double (*volatile two)(double, double) = nullptr;
    if (function == "sin") one = std::sin;
    if (function == "cos") one = std::cos;
    if (function == "atan") one = std::atan;
    if (function == "sqrt") one = std::sqrt;
    if (function == "atan2") two = std::atan2;
    if (function == "pow") two = std::pow;
    if (function == "hypot") two = std::hypot;
    return one != nullptr ? one(x) : two(x, y);
}

// The same functions from portable_math (the smooth rebuild's), which are
// musl's: on every platform they must give the results pinned for
// Emscripten's library. Its functions only; 0 for any other name.
inline bool IsPortable(std::string_view function) {
    return function == "sin" || function == "cos" || function == "atan" || function == "atan2" ||
           function == "hypot";
}
inline double PortableCall(std::string_view function, double x, double y) {
    double (*volatile one)(double) = nullptr;
    double (*volatile two)(double, double) = nullptr;
    if (function == "sin") one = portable::sin;
    if (function == "cos") one = portable::cos;
    if (function == "atan") one = portable::atan;
    if (function == "atan2") two = portable::atan2;
    if (function == "hypot") two = portable::hypot;
    if (one != nullptr) return one(x);
    return two != nullptr ? two(x, y) : 0.0;
}

// This platform's pinned result of `pin` (a Pin or a WalkPin).
template <typename PinOf>
uint64_t Pinned(const PinOf& pin) {
#if defined(__EMSCRIPTEN__)
    return pin.emscripten;
#else
    return pin.glibc;
#endif
}

using Caller = double (*)(std::string_view function, double x, double y);

// The rows whose result on this platform is not the pinned one, one line
// each; with `portable`, the rows of portable_math's functions whose result
// is not the one pinned for Emscripten's library.
inline std::vector<std::string> MissedPins(bool portable = false) {
    std::vector<std::string> missed;
    const auto hex = [](uint64_t bits) {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string text = "0x";
        for (int shift = 60; shift >= 0; shift -= 4) text += kDigits[(bits >> shift) & 0xF];
        return text;
    };
    for (const Pin& pin : kPins) {
        if (portable && !IsPortable(pin.function)) continue;
        const Caller call = portable ? PortableCall : Call;
        const uint64_t pinned = portable ? pin.emscripten : Pinned(pin);
        const uint64_t got = ToBits(call(pin.function, FromBits(pin.x), FromBits(pin.y)));
        if (got == pinned) continue;
        missed.push_back(std::string(portable ? "portable " : "") + pin.function + "(" +
                         hex(pin.x) + ", " + hex(pin.y) + ") = " + hex(got) + ", pinned " +
                         hex(pinned));
    }
    return missed;
}

// An FNV-1a digest of `function`'s results on the arguments every walk along
// a segment takes, as the core computes them: t = k / kWalkStepsPerSegment,
// as a single for the cubes of the Bezier weights (t^3 and (1 - t)^3), as a
// double for the roll's easing (cos(pi t), sin(pi (1 - t)^2), sin(pi t^2)).
// `call` is the C library's functions or portable_math's.
inline uint64_t WalkDigest(std::string_view function, Caller call = Call) {
    uint64_t digest = 14695981039346656037ull;
    const auto take = [&digest](double result) {
        const uint64_t bits = ToBits(result);
        for (int shift = 0; shift < 64; shift += 8) {
            digest = (digest ^ ((bits >> shift) & 0xFF)) * 1099511628211ull;
        }
    };
    for (int k = 0; k <= kWalkStepsPerSegment; ++k) {
        const double t = static_cast<double>(k) / kWalkStepsPerSegment;
        const auto single = static_cast<double>(static_cast<float>(t));
        if (function == "pow") {
            take(Call("pow", single, 3.0));
            take(Call("pow", 1.0 - single, 3.0));
        } else if (function == "cos") {
            take(call("cos", kPi * t, 0.0));
        } else if (function == "sin") {
            take(call("sin", kPi * std::pow(1.0 - t, 2.0), 0.0));
            take(call("sin", kPi * std::pow(t, 2.0), 0.0));
        }
    }
    return digest;
}

struct WalkPin {
    const char* function;
    uint64_t glibc, emscripten;
};

inline constexpr WalkPin kWalkPins[] = {
    {"pow", 0x966d93f88afe2d15, 0xf6b36110df97d1ed},
    {"cos", 0xfe1269000a4633b5, 0x5afb9b7b4e8d7044},
    {"sin", 0x1238a06d11cf1d64, 0x74e6b73f8623c9c1},
};

}  // namespace cvqrn::libm_pins
