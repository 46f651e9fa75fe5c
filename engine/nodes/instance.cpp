#include "instance.h"

#include "engine/core/error.h"
#include "engine/pipe/pipeline_module.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "engine/world/mesh.h"
#include "engine/world/world_sector.h"

namespace kv {

namespace {

MeshTextureReadFn textureReader = nullptr;

constexpr RGBA kUnlitColour{0, 0, 0, 255};
constexpr real kSectorNormalScale = 0.0078125f;

Matrix Identity() {
    Matrix m;
    MatrixSetIdentity(&m);
    return m;
}

}  // namespace

void MeshStateInitialise(MeshState* state, uint32 flags, Mesh* mesh, const MeshHeader* header, const Matrix* objToWorld,
                         void* object) {
    *state = MeshState{};
    state->flags = flags;
    Material* material = mesh != nullptr ? mesh->material : nullptr;
    state->material = material;
    state->objToWorld = objToWorld != nullptr ? *objToWorld : Identity();
    state->objToCamera = Identity();
    if (material != nullptr) {
        state->surfaceProps = material->surfaceProps;
        state->texture = material->texture;
        state->matColour = material->color;
        state->matPipeline = material->pipeline;
    } else {
        state->surfaceProps = *SurfacePropertiesDefault();
        state->matColour = RGBA{255, 255, 255, 255};
    }
    state->primType = header != nullptr ? MeshGetPrimitiveType(header) : PrimTypeTriList;
    state->mesh = mesh;
    state->object = object;
}

void MeshRenderStateInitialise(RenderStateRecord* record, const MeshState* state) {
    const RenderStateRecord* base = PipelineModuleDefaultRenderState();
    if (base != nullptr) {
        *record = *base;
    } else {
        RenderStateSetDefault(record);
    }
    record->textureRaster = nullptr;
    if ((state->flags & (MeshStateTextured | MeshStateTextured2)) != 0 && state->texture != nullptr &&
        textureReader != nullptr) {
        textureReader(state->texture, record);
    }
    if (state->matColour.alpha == 255) {
        record->flags &= ~RenderStateFlagVertexAlpha;
    } else {
        record->flags |= RenderStateFlagVertexAlpha;
    }
}

void MeshStateSetTextureReader(MeshTextureReadFn reader) { textureReader = reader; }

MorphBlend AtomicMorphBlend(const Atomic* atomic, const Geometry* geometry) {
    const int32 n = geometry->numMorphTargets;
    const MorphInterpolator& in = atomic->interpolator;
    int32 s = in.startMorphTarget;
    int32 e = in.endMorphTarget;
    if (s < 0 || s >= n || e < 0 || e >= n) {
        s = 0;
        if (e < 0 || e >= n) e = 0;
    }
    MorphBlend blend{geometry->morphTarget + s, geometry->morphTarget + e, 0.0f};
    if (s != e) blend.t = in.position * in.recipDuration;
    return blend;
}

void MorphBlendVertex(const MorphBlend& blend, int32 i, bool normals, V3d* position, V3d* normal) {
    const V3d& p0 = blend.start->verts[i];
    if (blend.start == blend.end) {
        *position = p0;
    } else {
        *position = V3dIncrementScaled(p0, V3dSub(blend.end->verts[i], p0), blend.t);
    }
    if (!normals || blend.start->normals == nullptr) {
        *normal = V3d{0.0f, 0.0f, 0.0f};
        return;
    }
    const V3d& n0 = blend.start->normals[i];
    if (blend.start == blend.end || blend.end->normals == nullptr) {
        *normal = n0;
    } else {
        *normal = V3dIncrementScaled(n0, V3dSub(blend.end->normals[i], n0), blend.t);
    }
}

void InstanceSectorVertices(ObjSpace3DVertex* out, const WorldSector* sector, uint32 flags) {
    const bool normals = (flags & MeshStateNormals) != 0 && sector->normals != nullptr;
    const bool prelit = (flags & MeshStatePrelit) != 0 && sector->preLitColors != nullptr;
    const bool textured = (flags & (MeshStateTextured | MeshStateTextured2)) != 0 && sector->texCoords[0] != nullptr;
    for (int32 i = 0; i < sector->numVertices; ++i) {
        ObjSpace3DVertex& v = out[i];
        v.position = sector->vertices[i];
        if (normals) {
            const SectorNormal& n = sector->normals[i];
            v.normal = V3d{n.x * kSectorNormalScale, n.y * kSectorNormalScale, n.z * kSectorNormalScale};
        } else {
            v.normal = V3d{0.0f, 0.0f, 0.0f};
        }
        v.colour = prelit ? sector->preLitColors[i] : kUnlitColour;
        v.u = textured ? sector->texCoords[0][i].x : 0.0f;
        v.v = textured ? sector->texCoords[0][i].y : 0.0f;
    }
}

void InstanceAtomicVertices(ObjSpace3DVertex* out, const Atomic* atomic, const Geometry* geometry, uint32 flags,
                            bool everything) {
    const MorphBlend blend = AtomicMorphBlend(atomic, geometry);
    const bool normals = (flags & MeshStateNormals) != 0;
    const bool prelit = (flags & MeshStatePrelit) != 0 && geometry->preLitLum != nullptr;
    const bool textured = (flags & (MeshStateTextured | MeshStateTextured2)) != 0 && geometry->texCoords[0] != nullptr;
    for (int32 i = 0; i < geometry->numVertices; ++i) {
        ObjSpace3DVertex& v = out[i];
        MorphBlendVertex(blend, i, normals, &v.position, &v.normal);
        if (!everything) continue;
        v.colour = prelit ? geometry->preLitLum[i] : kUnlitColour;
        v.u = textured ? geometry->texCoords[0][i].u : 0.0f;
        v.v = textured ? geometry->texCoords[0][i].v : 0.0f;
    }
}

void* InstanceCacheAllocate(void* owner, ResEntry** ownerRef, std::size_t size, ResEntryDestroyNotify notify) {
    if (size > 0x7FFFFFFF) {
        *ownerRef = nullptr;
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    // A cache too large for the arena would evict everything and still not
    // fit: it lives outside the arena until its owner goes.
    const ResourcesModule* arena = ResourcesModuleGet();
    const std::size_t whole = size + sizeof(ResEntry) + sizeof(ArenaBlock);
    const bool inArena = arena != nullptr && whole < static_cast<std::size_t>(arena->arenaSize);
    ResEntry* entry = ResourcesAllocateEntry(owner, ownerRef, static_cast<int32>(size), inArena, notify);
    return entry != nullptr ? ResEntryData(entry) : nullptr;
}

ResEntry** InstanceAtomicCacheRef(Atomic* atomic, Geometry* geometry, void** owner) {
    const bool onGeometry = geometry->numMorphTargets == 1;
    *owner = onGeometry ? static_cast<void*>(geometry) : static_cast<void*>(atomic);
    return onGeometry ? &geometry->instanceEntry : &atomic->instanceEntry;
}

InstanceRefill InstanceAtomicRefill(const Atomic* atomic, Geometry* geometry, uint32 changeSerial) {
    // Every cache of the geometry catches up on its own; the lock bits only
    // say that some cache has not yet.
    uint32 changes = GeometryChangesSince(geometry, changeSerial);
    if ((atomic->interpolator.flags & kMorphInstanceDirty) != 0) changes |= GeometryLockVertices | GeometryLockNormals;
    if (changes == 0) return InstanceRefillNone;
    const bool shapeOnly = (changes & ~uint32{GeometryLockVertices | GeometryLockNormals}) == 0;
    return shapeOnly ? InstanceRefillShape : InstanceRefillAll;
}

uint32 InstanceAtomicCaughtUp(Atomic* atomic, Geometry* geometry) {
    GeometryClearLockFlags(geometry);
    atomic->interpolator.flags &= ~kMorphInstanceDirty;
    return GeometryGetChangeSerial(geometry);
}

}  // namespace kv
