#include "engine/core/plugin_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/engine.h"

namespace kv {
namespace {

std::vector<std::string> calls;

void* CtorA(void* o, int32, int32) {
    calls.push_back("+A");
    return o;
}
void* DtorA(void* o, int32, int32) {
    calls.push_back("-A");
    return o;
}
void* CtorB(void* o, int32, int32) {
    calls.push_back("+B");
    return o;
}
void* DtorB(void* o, int32, int32) {
    calls.push_back("-B");
    return o;
}
void* CtorFail(void*, int32, int32) {
    calls.push_back("+F");
    return nullptr;
}

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        calls.clear();
        ASSERT_TRUE(EngineInit(nullptr, 0));
    }
    void TearDown() override { EXPECT_TRUE(EngineTerm()); }
};

TEST_F(Registry, OffsetsFollowEachOtherAlignedAndSizeZeroTakesNoRoom) {
    // Registries outlive the test body: EngineTerm resets them.
    static PluginRegistry reg;
    reg = PluginRegistryMake(20);
    EXPECT_EQ(reg.sizeOfStruct, 24);
    EXPECT_EQ(RegistryRegister(&reg, 5, 100, nullptr, nullptr, nullptr), 24);
    EXPECT_EQ(RegistryRegister(&reg, 0, 101, nullptr, nullptr, nullptr), 32);
    EXPECT_EQ(RegistryRegister(&reg, 8, 102, nullptr, nullptr, nullptr), 32);
    EXPECT_EQ(reg.sizeOfStruct, 40);
    // A second registration of an id is harmless.
    EXPECT_EQ(RegistryRegister(&reg, 64, 100, nullptr, nullptr, nullptr), 24);
    EXPECT_EQ(reg.sizeOfStruct, 40);
    EXPECT_EQ(RegistrySetStream(&reg, 102, nullptr, nullptr, nullptr), 32);
    EXPECT_EQ(RegistrySetStream(&reg, 999, nullptr, nullptr, nullptr), -1);
}

// Each block is filled with its own byte by its constructor: blocks that
// overlapped would show another block's byte.
void* FillWithId(void* o, int32 offset, int32 size) {
    std::memset(static_cast<char*>(o) + offset, offset & 0x7F, static_cast<std::size_t>(size));
    return o;
}

TEST_F(Registry, EveryBlockStartsOnAnEightByteBoundaryRightAfterTheOneBefore) {
    static PluginRegistry reg;
    reg = PluginRegistryMake(20);
    const int32 sizes[] = {1, 12, 9, 7, 16, 3};
    const int32 expected[] = {24, 32, 48, 64, 72, 88};
    std::vector<int32> offsets;
    for (int32 i = 0; i < 6; ++i) {
        offsets.push_back(RegistryRegister(&reg, sizes[i], 200 + static_cast<uint32>(i), FillWithId, nullptr, nullptr));
        EXPECT_EQ(offsets.back(), expected[i]) << "block of " << sizes[i];
    }
    EXPECT_EQ(reg.sizeOfStruct, 96);
    // An 8-byte value fits at every offset of an 8-aligned object, and no
    // constructor writes over another block.
    alignas(8) char object[96] = {};
    ASSERT_EQ(RegistryConstruct(&reg, object), object);
    for (int32 i = 0; i < 6; ++i) {
        EXPECT_EQ(offsets[i] % 8, 0);
        for (int32 b = 0; b < sizes[i]; ++b) EXPECT_EQ(object[offsets[i] + b], offsets[i] & 0x7F) << i << " " << b;
    }
}

TEST_F(Registry, MaximumSizeRefusesGrowth) {
    static PluginRegistry reg;
    reg = PluginRegistryMake(16, 24);
    EXPECT_EQ(RegistryRegister(&reg, 8, 1, nullptr, nullptr, nullptr), 16);
    EXPECT_EQ(RegistryRegister(&reg, 1, 2, nullptr, nullptr, nullptr), -1);
}

TEST_F(Registry, ConstructInOrderDestructInReverseAndUnwindOnFailure) {
    static PluginRegistry reg;
    reg = PluginRegistryMake(8);
    RegistryRegister(&reg, 4, 1, CtorA, DtorA, nullptr);
    RegistryRegister(&reg, 4, 2, CtorB, DtorB, nullptr);
    char object[64] = {};
    EXPECT_EQ(RegistryConstruct(&reg, object), object);
    RegistryDestruct(&reg, object);
    EXPECT_EQ(calls, (std::vector<std::string>{"+A", "+B", "-B", "-A"}));

    calls.clear();
    RegistryRegister(&reg, 4, 3, CtorFail, nullptr, nullptr);
    EXPECT_EQ(RegistryConstruct(&reg, object), nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"+A", "+B", "+F", "-B", "-A"}));
}

TEST_F(Registry, TermResetsEveryRegistryToItsBaseSize) {
    static PluginRegistry reg;
    reg = PluginRegistryMake(16);
    RegistryRegister(&reg, 12, 7, nullptr, nullptr, nullptr);
    EXPECT_EQ(reg.sizeOfStruct, 32);
    const int32 engineSize = EngineInstanceSize();
    EXPECT_GE(EngineRegisterPlugin(40, 0x777, nullptr, nullptr), 0);
    EXPECT_EQ(EngineInstanceSize(), engineSize + 40);

    ASSERT_TRUE(EngineTerm());
    EXPECT_EQ(reg.sizeOfStruct, 16);
    EXPECT_EQ(reg.firstRegEntry, nullptr);
    ASSERT_TRUE(EngineInit(nullptr, 0));
    EXPECT_EQ(EngineInstanceSize(), engineSize) << "the core modules register again, nothing more";
}

TEST(RegistryBeforeInit, RegisterFailsWithoutTheEntryPool) {
    PluginRegistry reg = PluginRegistryMake(8);
    EXPECT_EQ(RegistryRegister(&reg, 4, 1, nullptr, nullptr, nullptr), -1);
}

}  // namespace
}  // namespace kv
