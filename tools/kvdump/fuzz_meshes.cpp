// libFuzzer target: the engine's mesh-extension reader on arbitrary bytes.
// The first byte picks one of a few geometries (vertex counts, material
// slots), the next four are the body length a chunk header would declare, the
// rest is the body. Whatever the counts say, the reader may only take memory
// for bytes that are really there (run with -malloc_limit_mb).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/stream/stream.h"
#include "engine/world/geometry.h"
#include "engine/world/geometry_stream.h"
#include "engine/world/material.h"
#include "engine/world/material_list.h"
#include "engine/world/mesh.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

struct Shape {
    int32_t vertices, materials;
};
constexpr Shape kShapes[] = {{0, 0}, {3, 1}, {4, 3}, {300, 2}, {65535, 1}};
constexpr std::size_t kNumShapes = sizeof(kShapes) / sizeof(kShapes[0]);
kv::Geometry* geometries[kNumShapes];

kv::Geometry* MakeGeometry(const Shape& shape) {
    kv::Geometry* g = kv::GeometryCreate(shape.vertices, 0, 0);
    if (g == nullptr) return nullptr;
    for (int32_t i = 0; i < shape.materials; ++i) {
        kv::Material* m = kv::MaterialCreate();
        if (m == nullptr || kv::MaterialListAppend(&g->matList, m) < 0) return nullptr;
        kv::MaterialDestroy(m);  // the list holds its own reference
    }
    return g;
}

// What a successful read promises: counts that add up to what arrived,
// indices inside the geometry, materials from its list.
void CheckMeshes(const kv::Geometry* g, std::size_t bodyBytes) {
    const kv::MeshHeader* h = kv::GeometryGetMeshHeader(g);
    Check(h != nullptr);
    Check(12 + 8 * static_cast<uint64_t>(h->numMeshes) + 4 * static_cast<uint64_t>(h->totalIndicesInMesh) <= bodyBytes);
    const kv::MaterialList* list = kv::GeometryGetMaterialList(g);
    const uint32_t* area = kv::MeshHeaderGetIndexArea(const_cast<kv::MeshHeader*>(h));
    uint64_t sum = 0;
    for (uint32_t m = 0; m < h->numMeshes; ++m) {
        const kv::Mesh& mesh = kv::MeshHeaderGetMeshes(const_cast<kv::MeshHeader*>(h))[m];
        Check(mesh.indices == area + sum);
        sum += mesh.numIndices;
        Check(mesh.material == nullptr || kv::MaterialListFind(list, mesh.material) >= 0);
    }
    Check(sum == h->totalIndicesInMesh);
    for (uint64_t i = 0; i < sum; ++i) Check(area[i] < static_cast<uint32_t>(kv::GeometryGetNumVertices(g)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static int display = 0;
    kv::EngineSetDevice(nullptr);
    kv::EngineUseStandardModules();
    if (!kv::EngineInit(nullptr, 0) ||
        kv::EngineRegisterPlugin(sizeof(kv::MaterialModule), kv::kIdMaterialModule, kv::MaterialModuleOpen,
                                 kv::MaterialModuleClose) < 0 ||
        kv::EngineRegisterPlugin(sizeof(kv::MeshModule), kv::kIdMeshModule, kv::MeshModuleOpen, kv::MeshModuleClose) <
            0 ||
        kv::EngineRegisterPlugin(sizeof(kv::GeometryModule), kv::kIdGeometryModule, kv::GeometryModuleOpen,
                                 kv::GeometryModuleClose) < 0 ||
        !kv::GeometryStreamPluginsAttach()) {
        std::abort();
    }
    kv::EngineOpenParams params{&display};
    if (!kv::EngineOpen(&params) || !kv::EngineStart()) std::abort();
    for (std::size_t i = 0; i < kNumShapes; ++i) {
        geometries[i] = MakeGeometry(kShapes[i]);
        if (geometries[i] == nullptr) std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 5 || size > 0xFFFFFFFFu) return 0;
    kv::Geometry* g = geometries[data[0] % kNumShapes];
    int32_t length;
    std::memcpy(&length, data + 1, 4);
    const std::size_t bodyBytes = size - 5;
    kv::StreamMemory mem{const_cast<uint8_t*>(data + 5), static_cast<kv::uint32>(bodyBytes)};
    kv::Stream* s = kv::StreamOpen(kv::StreamTypeMemory, kv::StreamAccessRead, &mem);
    Check(s != nullptr);
    const kv::MeshHeader* before = kv::GeometryGetMeshHeader(g);
    if (kv::MeshStreamRead(s, length, g, 0, 0) != nullptr) {
        CheckMeshes(g, bodyBytes);
    } else {
        // A refused body leaves the meshes the geometry had.
        Check(kv::GeometryGetMeshHeader(g) == before);
    }
    Check(kv::StreamClose(s, nullptr));
    return 0;
}
