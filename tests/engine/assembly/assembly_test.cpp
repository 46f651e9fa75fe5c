#include <gtest/gtest.h>

#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"

namespace kv {
namespace {

// The order fixes where every module's block lies in the engine instance.
TEST(Assembly, StandardModulesRegisterInTheirFixedOrderAtAlignedOffsets) {
    EngineUseStandardModules();
    EngineSetDevice(nullptr);
    ASSERT_TRUE(EngineInit(nullptr, 0));
    int32 count = 0;
    const CoreModule* m = EngineStandardModules(&count);
    const uint32 ids[] = {1039, 1025, 1037, 1026, 1027, 1028, 1029, 1030, 1031, 1032, 1033, 1034, 1035};
    ASSERT_EQ(count, 13);
    int32 previous = -1;
    for (int32 i = 0; i < count; ++i) {
        EXPECT_EQ(m[i].id, ids[i]);
        const int32 offset = EngineGetPluginOffset(ids[i]);
        EXPECT_GE(offset, static_cast<int32>(sizeof(EngineInstance)));
        EXPECT_GE(offset, previous) << "module " << m[i].name;
        EXPECT_EQ(offset % 8, 0);
        previous = offset;
    }
    // Every module with a constructor opens and closes on the null device.
    EngineOpenParams p{nullptr};
    p.displayID = &p;
    ASSERT_TRUE(EngineOpen(&p));
    ASSERT_TRUE(EngineStart());
    EXPECT_TRUE(EngineStop());
    EXPECT_TRUE(EngineClose());
    EXPECT_TRUE(EngineTerm());
}

}  // namespace
}  // namespace kv
