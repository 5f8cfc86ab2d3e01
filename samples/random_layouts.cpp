#include "samples/random_layouts.h"

#include <random>
#include <string>

#include "samples/layout_builder.h"
#include "text/format.h"

namespace cvqrn {

namespace {

// Uniform draws built on the generator's raw 32-bit output, which the
// standard fixes bit for bit (the distributions it leaves to each library).
class Draw {
  public:
    explicit Draw(uint32_t seed) : gen_(seed) {}
    double Real(double lo, double hi) {
        return lo + (hi - lo) * (static_cast<double>(static_cast<uint32_t>(gen_())) / 4294967296.0);
    }
    int Int(int lo, int hi) {
        return lo + static_cast<int>(static_cast<uint32_t>(gen_()) % static_cast<uint32_t>(hi - lo + 1));
    }
    bool Chance(double p) { return Real(0.0, 1.0) < p; }

  private:
    std::mt19937 gen_;
};


void AddElement(LayoutBuilder& b, Draw& d) {
    switch (d.Int(0, 9)) {
        case 0:
        case 1:
            b.Straight(d.Real(2.0, 20.0));
            break;
        case 2: {  // hill: up, over, down to level again
            const double a = d.Real(10.0, 35.0);
            const double r = d.Real(15.0, 40.0);
            b.Pitch(a, r).Straight(d.Real(0.0, 6.0)).Pitch(-2.0 * a, r).Straight(d.Real(0.0, 6.0)).Pitch(a, r);
            break;
        }
        case 3: {  // drop and pull-out
            const double a = d.Real(10.0, 45.0);
            const double r = d.Real(15.0, 40.0);
            b.Pitch(-a, r).Straight(d.Real(0.0, 8.0)).Pitch(a, r);
            break;
        }
        case 4:
        case 5:
            b.Turn(d.Chance(0.5) ? d.Real(20.0, 200.0) : -d.Real(20.0, 200.0), d.Real(8.0, 35.0));
            break;
        case 6:
            b.Helix(d.Chance(0.5) ? d.Real(180.0, 540.0) : -d.Real(180.0, 540.0), d.Real(10.0, 25.0),
                    -d.Real(0.0, 8.0));
            break;
        case 7: {  // a stretch the designer banked by hand, faded in and out
            const double bank = d.Real(-60.0, 60.0);
            b.Mode(kBankingFeltToInput)
                .Straight(d.Real(4.0, 10.0))
                .Mode(kBankingKeepInput)
                .Bank(bank);
            b.Turn(bank > 0 ? d.Real(30.0, 120.0) : -d.Real(30.0, 120.0), d.Real(12.0, 30.0));
            b.Bank(0.0).Mode(kBankingInputToFelt).Straight(d.Real(4.0, 10.0)).Mode(kBankingFelt);
            break;
        }
        case 8:
            if (d.Chance(0.3)) {
                b.Loop(d.Real(8.0, 14.0), d.Real(-4.0, 4.0));
            } else {
                b.Straight(d.Real(2.0, 10.0));
            }
            break;
        default:
            b.Passes(d.Chance(0.5) ? kPassesFromSpeed : d.Int(0, 40)).Straight(d.Real(2.0, 8.0));
            break;
    }
}

}  // namespace

LayoutCase RandomLayoutCase(uint32_t seed) {
    Draw d(seed);
    LayoutBuilder b({d.Real(-50.0, 50.0), d.Real(5.0, 40.0), d.Real(-50.0, 50.0)}, d.Real(0.0, 360.0),
                    0.0);
    b.Straight(d.Real(2.0, 10.0));
    const int elements = d.Int(3, 12);
    for (int i = 0; i < elements; ++i) AddElement(b, d);
    b.Straight(d.Real(5.0, 15.0));

    LayoutCase result;
    std::string number = std::to_string(seed);
    if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
    result.name = "case_" + number;
    result.track = b.Build("Random layout " + result.name);
    result.args = {
        "--segments=" + std::to_string(d.Int(10, 250)),
        "--precision=" + std::to_string(d.Int(4, 16)),
        "--heartline=" + (d.Chance(0.1) ? std::string("0") : FormatFixed(d.Real(-1.6, 1.6), 2)),
        "--start-speed=" + FormatFixed(d.Real(12.0, 30.0), 1),
        "--end-speed=" + FormatFixed(d.Real(5.0, 25.0), 1),
        "--filter=" + std::to_string(d.Int(0, 30)),
    };
    return result;
}

}  // namespace cvqrn
