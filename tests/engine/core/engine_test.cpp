#include "engine/core/engine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/error.h"
#include "error_log.h"
#include "test_device.h"

namespace kv {
namespace {

using test::ErrorLog;
using test::TestDevice;

class Engine : public ::testing::Test {
  protected:
    void SetUp() override {
        TestDevice::Reset();
        EngineSetDevice(TestDevice::Interface);
    }
    void TearDown() override {
        if (EngineGetState() == EngineStateStarted) EngineStop();
        if (EngineOpenCount() != 0) EngineClose();
        EngineTerm();
        EngineSetDevice(nullptr);
        EngineSetModules(nullptr, 0);
    }
    void Up() {
        ASSERT_TRUE(EngineInit(nullptr, 0));
        EngineOpenParams p{this};
        ASSERT_TRUE(EngineOpen(&p));
        ASSERT_TRUE(EngineStart());
    }
};

TEST_F(Engine, LifecycleMovesThroughTheStatesAndIssuesRequestsInOrder) {
    ASSERT_TRUE(EngineInit(nullptr, 0));
    EXPECT_EQ(EngineGetState(), EngineStateInitialised);
    EngineOpenParams p{this};
    ASSERT_TRUE(EngineOpen(&p));
    EXPECT_EQ(EngineGetState(), EngineStateOpened);
    EXPECT_EQ(EngineOpenCount(), 1);
    ASSERT_TRUE(EngineStart());
    EXPECT_EQ(EngineGetState(), EngineStateStarted);
    ASSERT_TRUE(EngineStop());
    EXPECT_EQ(EngineGetState(), EngineStateOpened);
    ASSERT_TRUE(EngineClose());
    EXPECT_EQ(EngineGetState(), EngineStateInitialised);
    EXPECT_EQ(EngineOpenCount(), 0);
    ASSERT_TRUE(EngineTerm());
    EXPECT_EQ(EngineGetState(), EngineStateNotInitialised);
    EXPECT_EQ(TestDevice::Requests(),
              (std::vector<int32>{DeviceGetDeviceRecord, DeviceOpen, DeviceStandards, DeviceStart, DeviceFinalizeStart,
                                  DeviceInitiateStop, DeviceStop, DeviceClose}));
}

TEST_F(Engine, InitRegistersTheModulesItWasHandedAndStartRunsThemInOrder) {
    static std::vector<int32> opened;
    opened.clear();
    const auto open = [](void* instance, int32 offset, int32) -> void* {
        opened.push_back(offset);
        return instance;
    };
    const CoreModule table[] = {ErrorModuleEntry(), {"a", 12, 0x7001, open, nullptr}, {"b", 4, 0x7002, open, nullptr}};
    EngineSetModules(table, 3);
    Up();
    const int32 a = EngineGetPluginOffset(0x7001);
    const int32 b = EngineGetPluginOffset(0x7002);
    EXPECT_EQ(b - a, 16) << "blocks are placed 8-aligned in table order";
    EXPECT_EQ(opened, (std::vector<int32>{a, b}));
    EngineStop();
    EngineClose();
    EngineTerm();
    // Without a table the core registers only its own modules.
    EngineSetModules(nullptr, 0);
    ASSERT_TRUE(EngineInit(nullptr, 0));
    EXPECT_GE(EngineGetPluginOffset(kIdErrorModule), 0);
    EXPECT_LT(EngineGetPluginOffset(0x7001), 0);
}

TEST_F(Engine, OpenTwiceFailsWithWrongState) {
    ErrorLog log;
    Up();
    EngineOpenParams p{this};
    EXPECT_FALSE(EngineOpen(&p));
    EXPECT_TRUE(log.Has(0, kErrEngineState));
    EXPECT_EQ(EngineOpenCount(), 1);
}

TEST_F(Engine, OpenWithoutParameterFails) {
    ErrorLog log;
    ASSERT_TRUE(EngineInit(nullptr, 0));
    EXPECT_FALSE(EngineOpen(nullptr));
    EXPECT_TRUE(log.Has(0, kErrNullArgument));
}

TEST_F(Engine, RegisteringWhileOpenIsRefused) {
    ErrorLog log;
    ASSERT_TRUE(EngineInit(nullptr, 0));
    EngineOpenParams p{this};
    ASSERT_TRUE(EngineOpen(&p));
    EXPECT_EQ(EngineRegisterPlugin(4, 0x1234, nullptr, nullptr), -1);
    EXPECT_TRUE(log.Has(0, kErrPluginWhileOpen));
}

TEST_F(Engine, CloseOfAStartedEngineIsRefusedAndStopRunsOnce) {
    static int32 closes = 0;
    closes = 0;
    const CoreModule table[] = {ErrorModuleEntry(),
                                {"m", 8, 0x7003, [](void* i, int32, int32) { return i; },
                                 [](void* i, int32, int32) {
                                     ++closes;
                                     return i;
                                 }}};
    EngineSetModules(table, 2);
    Up();
    ErrorLog log;
    EXPECT_FALSE(EngineClose());
    EXPECT_TRUE(log.Has(kModuleNone, kErrEngineState));
    EXPECT_EQ(EngineGetState(), EngineStateStarted);
    EXPECT_EQ(EngineOpenCount(), 1);
    EXPECT_TRUE(EngineStop());
    EXPECT_FALSE(EngineStop()) << "a second stop must not run the destructors again";
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(EngineClose());
}

TEST_F(Engine, TermWhileOpenFailsAndChangesNothing) {
    Up();
    const int32 size = EngineInstanceSize();
    EXPECT_FALSE(EngineTerm());
    EXPECT_EQ(EngineGetState(), EngineStateStarted);
    EXPECT_EQ(EngineInstanceSize(), size);
}

TEST_F(Engine, FailingAllocateAtOpenLeavesStateInitialised) {
    static int32 refuseSize = 0;
    static const MemoryFunctions mem = {
        [](std::size_t s) -> void* { return static_cast<int32>(s) == refuseSize ? nullptr : std::malloc(s); },
        std::free, std::realloc, std::calloc};
    ErrorLog log;
    ASSERT_TRUE(EngineInit(&mem, 0));
    refuseSize = EngineInstanceSize();
    EngineOpenParams p{this};
    EXPECT_FALSE(EngineOpen(&p));
    EXPECT_TRUE(log.Has(0, kErrNoMemory));
    EXPECT_EQ(EngineGetState(), EngineStateInitialised);
    EXPECT_EQ(EngineOpenCount(), 0);
    refuseSize = 0;
    EXPECT_TRUE(EngineOpen(&p)) << "the static instance is still usable";
}

TEST_F(Engine, FailedDeviceOpenRestoresTheStaticInstance) {
    ASSERT_TRUE(EngineInit(nullptr, 0));
    EngineInstance* before = EngineInstanceGet();
    TestDevice::failing.insert(DeviceOpen);
    EngineOpenParams p{this};
    EXPECT_FALSE(EngineOpen(&p));
    EXPECT_EQ(EngineInstanceGet(), before);
    EXPECT_EQ(EngineGetState(), EngineStateInitialised);
}

TEST_F(Engine, ADeviceThatWithholdsItsRecordFailsTheOpenWithError24) {
    ASSERT_TRUE(EngineInit(nullptr, 0));
    EngineInstance* before = EngineInstanceGet();
    TestDevice::failing.insert(DeviceGetDeviceRecord);
    ErrorLog log;
    EngineOpenParams p{this};
    EXPECT_FALSE(EngineOpen(&p));
    EXPECT_TRUE(log.Has(kModuleCore, kErrCoreUnsupportedRequest));
    EXPECT_EQ(EngineInstanceGet(), before);
    EXPECT_EQ(EngineGetState(), EngineStateInitialised);
    for (const TestDevice::Request& r : TestDevice::log) EXPECT_NE(r.request, DeviceOpen) << "never opened";
}

TEST_F(Engine, FailedStartLeavesTheEngineOpened) {
    ASSERT_TRUE(EngineInit(nullptr, 0));
    EngineOpenParams p{this};
    ASSERT_TRUE(EngineOpen(&p));
    TestDevice::failing.insert(DeviceStart);
    EXPECT_FALSE(EngineStart());
    EXPECT_EQ(EngineGetState(), EngineStateOpened);
}

TEST_F(Engine, SubSystemDefaultsWhenTheDeviceDoesNotAnswer) {
    Up();
    EXPECT_EQ(EngineGetNumSubSystems(), 1);
    SubSystemInfo info{};
    ASSERT_EQ(EngineGetSubSystemInfo(&info, 0), &info);
    EXPECT_STREQ(info.name, "Only rendering sub system");
    EXPECT_EQ(EngineGetSubSystemInfo(&info, 1), nullptr);
    EXPECT_EQ(EngineGetCurrentSubSystem(), 0);
    EXPECT_TRUE(EngineSetSubSystem(0));
    EXPECT_FALSE(EngineSetSubSystem(1));

    TestDevice::UseDisplays(std::vector<std::vector<VideoModeInfo>>(3, {{640, 480, 32, 0}}), {0, 0, 0});
    EXPECT_EQ(EngineGetNumSubSystems(), 3) << "the device's answer wins";
}

TEST_F(Engine, UnsupportedRequestIsRecorded) {
    // A device that counts two modes but cannot tell which one is in use.
    TestDevice::UseModes({{640, 480, 32, 0}, {800, 600, 16, kVideoModeFullScreen}});
    TestDevice::failing.insert(DeviceGetMode);
    Up();
    ErrorClear();
    EXPECT_EQ(EngineGetCurrentVideoMode(), -1);
    ErrorRecord e{};
    ASSERT_TRUE(ErrorGet(&e));
    EXPECT_EQ(e.pluginID, kModuleCore);
    EXPECT_EQ(e.errorCode, kErrCoreUnsupportedRequest);
    EXPECT_EQ(EngineGetNumVideoModes(), 2);
}

TEST_F(Engine, FirstErrorWinsWhileStarted) {
    Up();
    ErrorRecord e{};
    EXPECT_FALSE(ErrorGet(&e)) << "start leaves the slot empty";
    ErrorRaise(5, 7);
    ErrorRaise(0, kErrNoMemory);
    ASSERT_TRUE(ErrorGet(&e));
    EXPECT_EQ(e.pluginID, 5);
    EXPECT_EQ(e.errorCode, 7);
    ErrorClear();
    ErrorRaise(9, kErrNullArgument);
    ASSERT_TRUE(ErrorGet(&e));
    EXPECT_EQ(e.pluginID, 0) << "general codes are stored with module 0";
}

TEST_F(Engine, ErrorsBeforeStartAreReportedButNotKept) {
    ErrorLog log;
    ASSERT_TRUE(EngineInit(nullptr, 0));
    ErrorRaise(3, 4);
    EXPECT_TRUE(log.Has(3, 4));
    ErrorRecord e{};
    EXPECT_FALSE(ErrorGet(&e));
}

TEST_F(Engine, RenderStateSetNeedsACurrentCamera) {
    Up();
    ErrorClear();
    EXPECT_FALSE(RenderStateSet(StateShadeMode, 2));
    ErrorRecord e{};
    ASSERT_TRUE(ErrorGet(&e));
    EXPECT_EQ(e.pluginID, kModuleCore);
    EXPECT_EQ(e.errorCode, kErrCoreNoCamera);
}

TEST_F(Engine, PlainModeAllocatesEachEntrySeparately) {
    static int32 allocations = 0;
    static const MemoryFunctions mem = {[](std::size_t s) {
                                            ++allocations;
                                            return std::malloc(s);
                                        },
                                        std::free, std::realloc, std::calloc};
    ASSERT_TRUE(EngineInit(&mem, kEngineInitPlainFreeLists));
    FreeList* list = FreeListCreate(24, 50, 4);
    const int32 before = allocations;
    void* a = KvFreeListAlloc(list);
    void* b = KvFreeListAlloc(list);
    EXPECT_EQ(allocations, before + 2) << "one allocation per entry, no block";
    EXPECT_EQ(list->blocks, nullptr);
    KvFreeListFree(list, a);
    KvFreeListFree(list, b);
    FreeListDestroy(list);
}

TEST_F(Engine, StandardFunctionsComeFromTheDevice) {
    Up();
    for (int32 slot = 0; slot < StdNumStandardFunctions; ++slot) {
        EXPECT_NE(EngineInstanceGet()->stdFunc.fn[slot], nullptr);
        EXPECT_FALSE(StandardCall(slot, nullptr, nullptr, 0));
    }
    EXPECT_FALSE(StandardCall(StdNumStandardFunctions, nullptr, nullptr, 0));
}

}  // namespace
}  // namespace kv

namespace kv {
// The table of codes: every code has words, and no two codes of one module
// share a value (a copied line that kept its number would make two errors
// indistinguishable in every report).
TEST(ErrorTable, EveryCodeHasWordsAndAValueOfItsOwnInItsModule) {
    struct Code {
        int32 module, value;
        const char* name;
    };
    std::vector<Code> codes;
#define KV_TEST_GENERAL(name, value, words) codes.push_back({kModuleNone, static_cast<int32>(value), #name});
    KV_GENERAL_ERRORS(KV_TEST_GENERAL)
#undef KV_TEST_GENERAL
#define KV_TEST_MODULE(name, module, value, words) codes.push_back({module, value, #name});
    KV_MODULE_ERRORS(KV_TEST_MODULE)
#undef KV_TEST_MODULE
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const char* words = ErrorMeaningIn(codes[i].module, codes[i].value);
        ASSERT_NE(words, nullptr) << codes[i].name;
        EXPECT_GT(std::string(words).size(), 4u) << codes[i].name;
        for (std::size_t j = 0; j < i; ++j) {
            EXPECT_FALSE(codes[i].module == codes[j].module && codes[i].value == codes[j].value)
                << codes[i].name << " and " << codes[j].name;
        }
    }
    // General codes mean the same under any module; module codes only under theirs.
    EXPECT_STREQ(ErrorMeaningIn(kIdImageModule, kErrNoMemory), "out of memory");
    EXPECT_STREQ(ErrorMeaning(kErrNullArgument), "invalid (null) argument");
    EXPECT_NE(ErrorMeaningIn(kIdImageModule, kErrPngWrite), ErrorMeaningIn(kIdFrameModule, kErrFrameCycle));
    EXPECT_EQ(ErrorMeaningIn(kIdTextureModule, kErrPngWrite), nullptr);
    EXPECT_EQ(ErrorMeaning(kErrCoreNoCamera), nullptr);
}

}  // namespace kv
