// Starts the engine on the null device so that the maths and frame modules
// have their blocks.
#pragma once

#include <gtest/gtest.h>

#include "engine/core/engine.h"
#include "engine/core/error.h"

namespace kv::test {

class StartedEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        EngineSetDevice(nullptr);
        ASSERT_TRUE(EngineInit(nullptr, 0));
        EngineOpenParams p{this};
        ASSERT_TRUE(EngineOpen(&p));
        ASSERT_TRUE(EngineStart());
        ErrorClear();
    }
    void TearDown() override {
        if (EngineGetState() == EngineStateStarted) EngineStop();
        if (EngineOpenCount() != 0) EngineClose();
        EngineTerm();
    }
};

}  // namespace kv::test
