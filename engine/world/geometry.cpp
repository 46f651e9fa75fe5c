#include "geometry.h"

#include <cmath>
#include <cstring>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "engine/image/resource_arena.h"

namespace kv {

namespace {

constexpr int32 kGeometriesPerBlock = 20;
// Triangles name material slots with 16 bits.
constexpr int32 kMaxMaterialSlots = 0x7FFF;

PluginRegistry geometryRegistry = PluginRegistryMake(sizeof(Geometry));
ModuleSlot<GeometryModule> slot;

GeometryModule* Module() { return slot.Get(); }

void* AllocZeroed(std::size_t count, std::size_t size) {
    void* p = KvCalloc(count, size);
    if (p == nullptr) ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(count * size));
    return p;
}

// Frees the vertex arrays and morph targets (what GeometryCreate allocates
// before the plugins run).
void FreeVertexData(Geometry* g) {
    KvFree(g->preLitLum);
    KvFree(g->texCoords[0]);
    KvFree(g->texCoords[1]);
    g->preLitLum = nullptr;
    g->texCoords[0] = g->texCoords[1] = nullptr;
    for (int32 i = 0; i < g->numMorphTargets; ++i) KvFree(g->morphTarget[i].verts);
    KvFree(g->morphTarget);
    g->morphTarget = nullptr;
    g->numMorphTargets = 0;
}

void FreeGeometry(GeometryModule* m, Geometry* g) {
    if (g->instanceEntry != nullptr) ResourcesFreeEntry(g->instanceEntry);
    g->instanceEntry = nullptr;
    g->lockedSinceLastInst = GeometryLockAll;
    MeshesDestroy(g->mesh);
    g->mesh = nullptr;
    RegistryDestruct(&geometryRegistry, g);
    FreeVertexData(g);
    for (int32 i = 0; i < g->numTriangles && g->triangles != nullptr; ++i) {
        Triangle* t = g->triangles + i;
        if (t->matIndex != -1) {
            MaterialDestroy(MaterialListGet(&g->matList, t->matIndex));
            t->matIndex = -1;
        }
    }
    KvFree(g->triangles);
    g->triangles = nullptr;
    MaterialListRelease(&g->matList);
    g->refCount = 0;
    KvFreeListFree(m->geometryFreeList, g);
}

}  // namespace

Geometry* GeometryCreate(int32 numVertices, int32 numTriangles, uint32 format) {
    GeometryModule* m = Module();
    if (m == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    if (numVertices < 0 || numTriangles < 0) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    auto* g = static_cast<Geometry*>(KvFreeListAlloc(m->geometryFreeList));
    if (g == nullptr) return nullptr;
    std::memset(static_cast<void*>(g), 0, sizeof(Geometry));
    ObjectInitialize(&g->object, kObjectTypeGeometry, 0);
    g->object.flags = static_cast<uint8>(format);
    g->refCount = 1;
    MaterialListInit(&g->matList);
    g->numTriangles = numTriangles;
    g->numVertices = numVertices;
    const auto n = static_cast<std::size_t>(numVertices);
    bool ok = true;
    if (n > 0 && (format & GeometryPrelit) != 0) {
        ok = (g->preLitLum = static_cast<RGBA*>(AllocZeroed(n, sizeof(RGBA)))) != nullptr;
    }
    if (ok && n > 0 && (format & GeometryTextured) != 0) {
        ok = (g->texCoords[0] = static_cast<TexCoords*>(AllocZeroed(n, sizeof(TexCoords)))) != nullptr;
    } else if (ok && n > 0 && (format & GeometryTextured2) != 0) {
        ok = (g->texCoords[0] = static_cast<TexCoords*>(AllocZeroed(n, sizeof(TexCoords)))) != nullptr &&
             (g->texCoords[1] = static_cast<TexCoords*>(AllocZeroed(n, sizeof(TexCoords)))) != nullptr;
    }
    if (ok && numTriangles > 0) {
        g->triangles = static_cast<Triangle*>(AllocZeroed(static_cast<std::size_t>(numTriangles), sizeof(Triangle)));
        ok = g->triangles != nullptr;
        for (int32 i = 0; ok && i < numTriangles; ++i) g->triangles[i].matIndex = -1;
    }
    if (ok) ok = GeometryAddMorphTarget(g) >= 0;
    g->surfaceProps = SurfaceProperties{1.0f, 1.0f, 1.0f};
    if (ok) ok = RegistryConstruct(&geometryRegistry, g) != nullptr;
    if (!ok) {
        FreeVertexData(g);
        KvFree(g->triangles);
        KvFreeListFree(m->geometryFreeList, g);
        return nullptr;
    }
    return g;
}

Geometry* GeometryAddRef(Geometry* geometry) {
    ++geometry->refCount;
    return geometry;
}

bool GeometryDestroy(Geometry* geometry) {
    if (geometry == nullptr) return true;
    if (geometry->refCount <= 0) return true;  // already freed: never free twice
    if (--geometry->refCount >= 1) return true;
    GeometryModule* m = Module();
    if (m == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return false;
    }
    FreeGeometry(m, geometry);
    return true;
}

int32 GeometryAddMorphTarget(Geometry* geometry) {
    const int32 index = geometry->numMorphTargets;
    const std::size_t bytes = sizeof(MorphTarget) * static_cast<std::size_t>(index + 1);
    auto* targets = static_cast<MorphTarget*>(geometry->morphTarget != nullptr ? KvRealloc(geometry->morphTarget, bytes)
                                                                               : KvMalloc(bytes));
    if (targets == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(bytes));
        return -1;
    }
    geometry->morphTarget = targets;
    MorphTarget* t = targets + index;
    t->parentGeom = geometry;
    t->boundingSphere = Sphere{{0.0f, 0.0f, 0.0f}, 0.0f};
    t->verts = nullptr;
    t->normals = nullptr;
    const auto n = static_cast<std::size_t>(geometry->numVertices);
    if (n > 0) {
        // Positions and normals share one block.
        const bool normals = (geometry->object.flags & GeometryNormals) != 0;
        t->verts = static_cast<V3d*>(AllocZeroed(normals ? 2 * n : n, sizeof(V3d)));
        if (t->verts == nullptr) return -1;
        if (normals) t->normals = t->verts + n;
    }
    geometry->numMorphTargets = index + 1;
    return index;
}

MorphTarget* GeometryGetMorphTarget(const Geometry* geometry, int32 index) {
    if (index < 0 || index >= geometry->numMorphTargets) return nullptr;
    return geometry->morphTarget + index;
}

Material* GeometryGetMaterial(const Geometry* geometry, int32 slot) {
    return MaterialListGet(&geometry->matList, slot);
}

Geometry* GeometrySetSurfaceProperties(Geometry* geometry, const SurfaceProperties* props) {
    geometry->surfaceProps = *props;
    return geometry;
}

const MorphTarget* MorphTargetCalcBoundingSphere(const MorphTarget* target, Sphere* sphere) {
    const int32 n = target->parentGeom->numVertices;
    const V3d* v = target->verts;
    if (n <= 0 || v == nullptr) {
        *sphere = Sphere{{0.0f, 0.0f, 0.0f}, 0.0f};
        return target;
    }
    V3d lo = v[0], hi = v[0];
    for (int32 i = 1; i < n; ++i) {
        lo.x = std::fmin(lo.x, v[i].x);
        lo.y = std::fmin(lo.y, v[i].y);
        lo.z = std::fmin(lo.z, v[i].z);
        hi.x = std::fmax(hi.x, v[i].x);
        hi.y = std::fmax(hi.y, v[i].y);
        hi.z = std::fmax(hi.z, v[i].z);
    }
    const V3d centre{(lo.x + hi.x) * 0.5f, (lo.y + hi.y) * 0.5f, (lo.z + hi.z) * 0.5f};
    real r2 = 0.0f;
    for (int32 i = 0; i < n; ++i) {
        const V3d d = V3dSub(v[i], centre);
        const real s = V3dDotProduct(d, d);
        if (s > r2) r2 = s;
    }
    const real radius = r2 > 0.0f ? std::sqrt(r2) : 0.0f;
    sphere->center = centre;
    sphere->radius = radius * 1.001f;
    return target;
}

MorphTarget* MorphTargetSetBoundingSphere(MorphTarget* target, const Sphere* sphere) {
    target->boundingSphere = *sphere;
    return target;
}

Geometry* TriangleSetVertexIndices(Geometry* geometry, Triangle* triangle, uint16 vert1, uint16 vert2, uint16 vert3) {
    triangle->vertIndex[0] = vert1;
    triangle->vertIndex[1] = vert2;
    triangle->vertIndex[2] = vert3;
    return geometry;
}

const Geometry* TriangleGetVertexIndices(const Geometry* geometry, const Triangle* triangle, uint16* vert1,
                                         uint16* vert2, uint16* vert3) {
    if (vert1 != nullptr) *vert1 = triangle->vertIndex[0];
    if (vert2 != nullptr) *vert2 = triangle->vertIndex[1];
    if (vert3 != nullptr) *vert3 = triangle->vertIndex[2];
    return geometry;
}

Geometry* TriangleSetMaterial(Geometry* geometry, Triangle* triangle, Material* material) {
    Material* previous = triangle->matIndex != -1 ? MaterialListGet(&geometry->matList, triangle->matIndex) : nullptr;
    if (material != nullptr) {
        int32 slot = MaterialListFind(&geometry->matList, material);
        if (slot < 0) {
            if (geometry->matList.numMaterials >= kMaxMaterialSlots) {
                ErrorRaise(kModuleNone, kErrNoMemory);  // no slot a triangle could name
                return nullptr;
            }
            slot = MaterialListAppend(&geometry->matList, material);
            if (slot < 0) return nullptr;
        }
        triangle->matIndex = static_cast<int16>(slot);
        MaterialAddRef(material);
    } else {
        triangle->matIndex = -1;
    }
    // Released last: the previous material may be the one just set.
    if (previous != nullptr) MaterialDestroy(previous);
    return geometry;
}

Material* TriangleGetMaterial(const Geometry* geometry, const Triangle* triangle) {
    return MaterialListGet(&geometry->matList, triangle->matIndex);
}

Geometry* GeometryLock(Geometry* geometry, uint32 lockFlags) {
    geometry->lockedSinceLastInst = static_cast<uint16>(geometry->lockedSinceLastInst | (lockFlags & 0xFFFF));
    if ((lockFlags & GeometryLockAll) != 0) {
        ++geometry->changeSerial;
        if ((lockFlags & GeometryLockAll & ~uint32{GeometryLockVertices | GeometryLockNormals}) != 0) {
            geometry->fullChangeSerial = geometry->changeSerial;
        }
    }
    if ((lockFlags & GeometryLockPolygons) != 0 && geometry->mesh != nullptr) {
        MeshesDestroy(geometry->mesh);
        geometry->mesh = nullptr;
    }
    return geometry;
}

Geometry* GeometryUnlock(Geometry* geometry) {
    if (geometry->mesh != nullptr) return geometry;
    const int32 n = geometry->numTriangles;
    if (n <= 0 || geometry->triangles == nullptr) {
        geometry->mesh = MeshesEmptyHeader();
        return geometry;
    }
    const std::size_t bytes = sizeof(BuildMeshTriangle) * static_cast<std::size_t>(n);
    auto* build = static_cast<BuildMeshTriangle*>(KvMalloc(bytes));
    if (build == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(bytes));
        return nullptr;
    }
    for (int32 i = 0; i < n; ++i) {
        const Triangle& t = geometry->triangles[i];
        build[i].material = MaterialListGet(&geometry->matList, t.matIndex);
        build[i].vertIndex[0] = t.vertIndex[0];
        build[i].vertIndex[1] = t.vertIndex[1];
        build[i].vertIndex[2] = t.vertIndex[2];
    }
    geometry->mesh = MeshesBuild(build, n, (geometry->object.flags & GeometryTriStrip) != 0);
    KvFree(build);
    return geometry->mesh != nullptr ? geometry : nullptr;
}

int32 GeometryRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                             PluginCopy copy) {
    return RegistryRegister(&geometryRegistry, size, pluginID, construct, destruct, copy);
}

int32 GeometryRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                   PluginStreamSize getSize) {
    return RegistrySetStream(&geometryRegistry, pluginID, read, write, getSize);
}

int32 GeometryGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&geometryRegistry, pluginID); }

PluginRegistry* GeometryGetRegistry() { return &geometryRegistry; }

void* GeometryModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    GeometryModule* m = slot.At(instance, offset);
    m->geometryFreeList = FreeListCreate(geometryRegistry.sizeOfStruct, kGeometriesPerBlock, alignof(Geometry));
    if (m->geometryFreeList == nullptr) return nullptr;
    slot.Opened(offset);
    return instance;
}

void* GeometryModuleClose(void* instance, int32 offset, int32 /*size*/) {
    GeometryModule* m = slot.At(instance, offset);
    if (m->geometryFreeList == nullptr) return instance;
    // Freeing an entry only pushes it on the pool's free stack, which does not
    // disturb the walk over the others.
    FreeListForAllUsed(
        m->geometryFreeList,
        [](void* e, void* d) { FreeGeometry(static_cast<GeometryModule*>(d), static_cast<Geometry*>(e)); }, m);
    FreeListDestroy(m->geometryFreeList);
    m->geometryFreeList = nullptr;
    slot.Closed();
    return instance;
}

}  // namespace kv
