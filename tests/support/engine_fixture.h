// The engine brought up for a test and taken down after it, in one place:
// which device draws, which memory functions it allocates with, what is
// registered before it opens, and whether it is started. The modules are
// those of the layers the test links (test_process.cpp).
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "engine/core/engine.h"
#include "engine/core/error.h"

namespace kv::test {

struct EngineSetup {
    DeviceGetInterfaceFn device = nullptr;    // null: the null device
    const MemoryFunctions* memory = nullptr;  // null: the C library's
    uint32 initFlags = 0;
    std::function<bool()> plugins = {};  // registrations between init and open
    void* window = nullptr;              // what the device is opened on; null: no window
    std::function<bool()> opened = {};   // between open and start (a video mode, pipelines)
    bool start = true;                   // false: left opened
};

// Init, the registrations, open and start, as the setup says; the step that
// failed is named.
inline ::testing::AssertionResult EngineUp(const EngineSetup& setup = {}) {
    EngineSetDevice(setup.device);
    if (!EngineInit(setup.memory, setup.initFlags)) return ::testing::AssertionFailure() << "EngineInit failed";
    if (setup.plugins && !setup.plugins()) return ::testing::AssertionFailure() << "a plug-in was not registered";
    // The null and test devices want a non-null parameter but no window.
    static int placeholder;
    EngineOpenParams params{setup.window != nullptr ? setup.window : &placeholder};
    if (!EngineOpen(&params)) return ::testing::AssertionFailure() << "EngineOpen failed";
    if (setup.opened && !setup.opened()) return ::testing::AssertionFailure() << "the opened engine's set-up failed";
    if (setup.start && !EngineStart()) return ::testing::AssertionFailure() << "EngineStart failed";
    return ::testing::AssertionSuccess();
}

// Stop, close and term as far as the engine got; the null device again.
inline void EngineDown() {
    if (EngineGetState() == EngineStateStarted) EngineStop();
    if (EngineOpenCount() != 0) EngineClose();
    if (EngineGetState() != EngineStateNotInitialised) EngineTerm();
    EngineSetDevice(nullptr);
}

// A fixture whose engine is up for each test; a fixture says how by HowToStart().
class StartedEngine : public ::testing::Test {
  protected:
    virtual EngineSetup HowToStart() { return {}; }
    void SetUp() override {
        ASSERT_TRUE(EngineUp(HowToStart()));
        ErrorClear();
    }
    void TearDown() override { EngineDown(); }
};

}  // namespace kv::test
