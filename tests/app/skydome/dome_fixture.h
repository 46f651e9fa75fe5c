// An engine on the null device with the world plug-in attached, over counted
// memory, and the sky model ready: what the dome and its saving need.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/skydome/dome.h"
#include "app/skydome/program_sky.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "engine/world/world.h"
#include "engine_fixture.h"
#include "sky/analytic_sky.h"
#include "sky/sky_model.h"
#include "stream_fixture.h"

namespace kv::test {

class DomeTest : public StartedEngine {
  protected:
    EngineSetup HowToStart() override { return {.memory = CountedMemory::Table(), .plugins = WorldPluginAttach}; }
    void SetUp() override {
        CountedMemory::failMalloc = false;
        CountedMemory::failRealloc = false;
        StartedEngine::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(SkyColorInit());
        *SkyGetState() = SkyState{};
        messages.clear();
        DomeReset();
        DomeSetMessageFunction([](const char* text) { messages.push_back(text); });
        DomeAttachToSky();
    }
    void TearDown() override {
        CountedMemory::failMalloc = false;
        CountedMemory::failRealloc = false;
        SkySetSunMovedHook(nullptr, nullptr);
        if (clump != nullptr) DomeClumpDestroy(clump);
        DomeReset();
        SkyModelRelease();
        DomeSetMessageFunction(nullptr);
        StartedEngine::TearDown();
    }

    // The application's dome at that resolution, coloured for the sun.
    Clump* MakeDome(int32 rings, float zenith = 50.0f, float azimuth = 20.0f) {
        DomeGetSettings()->resolution = rings;
        clump = DomeClumpCreate(nullptr, rings);
        if (clump == nullptr) return nullptr;
        SkyMoveSun(zenith - SkyGetState()->sunTheta, azimuth - SkyGetState()->sunPhi);
        return clump;
    }
    static Geometry* DomeGeometry() { return AtomicGetGeometry(DomeGetAtomic()); }

    // What every vertex's prelit colour must be: the plain model, tone-mapped.
    static std::vector<RGBA> ExpectedColours(const Geometry* g, float zenith, float azimuth, float exposure) {
        const V3d* p = MorphTargetGetVertices(GeometryGetMorphTarget(g, 0));
        std::vector<RGBA> out;
        for (int32 i = 0; i < GeometryGetNumVertices(g); ++i) {
            double theta = 0.0, phi = 0.0;
            SkyDirectionAngles(&p[i], &theta, &phi);
            const RGBAReal c = SkyColor(zenith * kSkyDegToRad, azimuth * kSkyDegToRad, theta, phi);
            out.push_back(SkyToneMap(&c, exposure));
        }
        return out;
    }

    Clump* clump = nullptr;
    static inline std::vector<std::string> messages;
};

}  // namespace kv::test
