// An engine on the null device with the material, mesh and geometry modules
// and the geometry stream extensions registered, over counted memory.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/world/geometry.h"
#include "engine/world/geometry_stream.h"
#include "engine/world/material.h"
#include "engine/world/mesh.h"
#include "stream_fixture.h"

namespace kv::test {

// The geometry's own modules without the rest of the world.
inline bool GeometryModulesRegister() {
    return EngineRegisterPlugin(sizeof(MaterialModule), kIdMaterialModule, MaterialModuleOpen, MaterialModuleClose) >=
               0 &&
           EngineRegisterPlugin(sizeof(MeshModule), kIdMeshModule, MeshModuleOpen, MeshModuleClose) >= 0 &&
           EngineRegisterPlugin(sizeof(GeometryModule), kIdGeometryModule, GeometryModuleOpen, GeometryModuleClose) >=
               0 &&
           GeometryStreamPluginsAttach();
}

class GeometryTest : public StartedEngine {
  protected:
    EngineSetup HowToStart() override { return {.memory = CountedMemory::Table(), .plugins = GeometryModulesRegister}; }
    void SetUp() override {
        CountedMemory::failMalloc = false;
        CountedMemory::failRealloc = false;
        StartedEngine::SetUp();
    }
    void TearDown() override {
        CountedMemory::failMalloc = false;
        CountedMemory::failRealloc = false;
        StartedEngine::TearDown();
    }

    static Material* Colored(uint8 r, uint8 g, uint8 b, uint8 a = 255) {
        Material* m = MaterialCreate();
        EXPECT_NE(m, nullptr);
        const RGBA c{r, g, b, a};
        MaterialSetColor(m, &c);
        return m;
    }
};

// The triangles of a mesh, three indices each.
inline std::vector<std::vector<uint32>> MeshTriangles(const Mesh& mesh) {
    std::vector<std::vector<uint32>> out;
    for (uint32 i = 0; i + 2 < mesh.numIndices; i += 3) {
        out.push_back({mesh.indices[i], mesh.indices[i + 1], mesh.indices[i + 2]});
    }
    return out;
}

}  // namespace kv::test
