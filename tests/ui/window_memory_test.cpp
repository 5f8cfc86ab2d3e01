// Memory running out in the core or in the window's own copies of a track: a box,
// nothing lost. Its own executable, because it replaces the global operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/ui/logic_doubles.h"

namespace {

constexpr std::size_t kLarge = 8u << 20;
std::atomic<bool> g_refuseLarge{false};  // allocations of kLarge bytes or more fail

}  // namespace

void* operator new(std::size_t n) {
    if (g_refuseLarge && n >= kLarge) throw std::bad_alloc();
    if (void* p = std::malloc(n > 0 ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace cvqrn::ui::test {
namespace {

TEST(WindowMemory, ALoadOrRunOutOfMemoryShowsABoxAndKeepsEverything) {
    // a load (else a run), memory failing in the core (else in the window's own copy)
    for (const auto& [load, inCore] :
         {std::pair(true, true), {true, false}, {false, true}, {false, false}}) {
        LogicRig rig;
        // Tracks of 16 MB; with `refuseAfterLoad` a load leaves no room for the window's copy.
        bool refuseAfterLoad = false;
        rig.operations.afterLoad = [&](TrackData& track) {
            track.Tera.Grid.assign(2 * kLarge / sizeof(float), 1.0f);
            g_refuseLarge = refuseAfterLoad;
        };
        rig.Load();
        rig.logic.HeartlineClicked();
        rig.view.fields[Field::Segments] = "50";  // a run that went through would make 7051
        rig.operations.outOfMemory = inCore;
        refuseAfterLoad = !inCore;
        g_refuseLarge = !inCore && !load;
        if (load) {
            rig.Load("/t/other.cvtrack");
        } else {
            rig.logic.HeartlineClicked();
        }
        g_refuseLarge = false;
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
