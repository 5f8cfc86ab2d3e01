// Memory running out in the core or in the window's own copies of a track: a box,
// nothing lost. Its own executable, because it takes the failing operator new.
#include <gtest/gtest.h>

#include "tests/support/failing_new.h"
#include "tests/ui/logic_doubles.h"

namespace cvqrn::ui::test {
namespace {

constexpr std::size_t kLarge = 8u << 20;

// Makes every allocation of kLarge bytes or more fail, or none.
void RefuseLarge(bool refuse) {
    testsupport::g_allocationFaults.failFromBytes = refuse ? kLarge : SIZE_MAX;
}

TEST(WindowMemory, ALoadOrRunOutOfMemoryShowsABoxAndKeepsEverything) {
    // a load (else a run), memory failing in the core (else in the window's own copy)
    for (const auto& [load, inCore] :
         {std::pair(true, true), {true, false}, {false, true}, {false, false}}) {
        LogicRig rig;
        // Tracks of 16 MB; with `refuseAfterLoad` a load leaves no room for the window's copy.
        bool refuseAfterLoad = false;
        rig.operations.afterLoad = [&](TrackData& track) {
            track.Tera.Grid.assign(2 * kLarge / sizeof(float), 1.0f);
            RefuseLarge(refuseAfterLoad);
        };
        rig.Load();
        rig.logic.HeartlineClicked();
        rig.view.fields[Field::Segments] = "50";  // a run that went through would make 7051
        rig.operations.outOfMemory = inCore;
        refuseAfterLoad = !inCore;
        RefuseLarge(!inCore && !load);
        if (load) {
            rig.Load("/t/other.cvtrack");
        } else {
            rig.logic.HeartlineClicked();
        }
        RefuseLarge(false);
        ASSERT_EQ(rig.view.boxes.size(), 1u) << load << inCore;
        EXPECT_EQ(rig.view.boxes[0].title, "Not Enough Memory");
        EXPECT_FALSE(rig.view.barVisible);
        EXPECT_EQ(rig.logic.WorkTrack().Bezr.VertexCount, 7101);
        EXPECT_EQ(rig.logic.LoadedTrack().Tera.Grid.size(), 2 * kLarge / sizeof(float));
        EXPECT_TRUE(rig.logic.TrackLoaded() && rig.logic.TrackModified());
        EXPECT_TRUE(rig.logic.LightOn(Light::Loaded) && rig.logic.LightOn(Light::Heartlined));
    }
}

}  // namespace
}  // namespace cvqrn::ui::test
