#include "node_generic_instance.h"

#include <cmath>

#include "engine/camera/camera.h"
#include "engine/core/error.h"
#include "engine/frame/frame.h"
#include "engine/nodes/instance.h"
#include "engine/pipe/standard_clusters.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "engine/world/world.h"

namespace kv {

namespace {

enum InstanceCluster : int32 { kVertices = 0, kIndices = 1, kMeshState = 2, kRenderState = 3, kTriPlanes = 4 };

// Marks the entries this node made (and frees nothing of its own).
void DestroyNotify(ResEntry*) {}

struct Layout {
    int32 numVertices;
    int32 numMeshes;
    uint32 numIndices;
    bool planes;
    std::size_t meshesAt, verticesAt, indicesAt, planesAt, size;
};

Layout PlanLayout(const MeshHeader* header, int32 numVertices, bool planes) {
    Layout l{};
    l.numVertices = numVertices;
    l.numMeshes = header->numMeshes;
    l.planes = planes;
    const bool strip = MeshGetPrimitiveType(header) == PrimTypeTriStrip;
    const Mesh* meshes = MeshHeaderGetMeshes(header);
    for (int32 i = 0; i < l.numMeshes; ++i) l.numIndices += InstanceTriangleSlots(strip, meshes[i].numIndices);
    std::size_t at = InstanceAlignUp(sizeof(GenInstance));
    l.meshesAt = at;
    at = InstanceAlignUp(at + sizeof(GenInstanceMesh) * static_cast<std::size_t>(l.numMeshes));
    l.verticesAt = at;
    at += sizeof(ObjSpace3DVertex) * static_cast<std::size_t>(numVertices);
    l.indicesAt = at;
    at += sizeof(uint32) * l.numIndices;
    l.planesAt = at;
    if (planes) at += sizeof(TriPlane) * (l.numIndices / 3);
    l.size = at;
    return l;
}

GenInstance* Allocate(void* owner, ResEntry** ownerRef, const Layout& layout, const MeshHeader* header) {
    void* base = InstanceCacheAllocate(owner, ownerRef, layout.size, DestroyNotify);
    if (base == nullptr) return nullptr;
    auto* instance =
        InstanceCacheStart<GenInstance>(base, header, layout.numMeshes, layout.numVertices, layout.verticesAt);
    instance->meshes = reinterpret_cast<GenInstanceMesh*>(static_cast<uint8*>(base) + layout.meshesAt);
    return instance;
}

TriPlane PlaneOf(const V3d& a, const V3d& b, const V3d& c) {
    V3d n = V3dCrossProduct(V3dSub(b, a), V3dSub(c, a));
    if (V3dLength(&n) > 0.0f) V3dNormalize(&n, &n);
    auto pack = [](real v) { return static_cast<int8>(std::lround(v * 127.0f)); };
    return TriPlane{pack(n.x), pack(n.y), pack(n.z), 0, V3dDotProduct(n, a)};
}

// Every mesh as a triangle list over the vertices it uses. Meshes whose
// indices reach past the vertices are not drawn.
void LayOutMeshes(GenInstance* instance, MeshHeader* header, uint8* base, const Layout& layout) {
    const bool unindexed = (header->flags & kMeshHeaderUnindexed) != 0;
    const bool strip = MeshGetPrimitiveType(header) == PrimTypeTriStrip;
    const auto numVertices = static_cast<uint32>(instance->numVertices);
    auto* indexArea = reinterpret_cast<uint32*>(base + layout.indicesAt);
    auto* planeArea = layout.planes ? reinterpret_cast<TriPlane*>(base + layout.planesAt) : nullptr;
    Mesh* meshes = MeshHeaderGetMeshes(header);
    uint32 runStart = 0;
    for (int32 i = 0; i < instance->numMeshes; ++i) {
        Mesh& mesh = meshes[i];
        GenInstanceMesh& m = instance->meshes[i];
        m = GenInstanceMesh{indexArea, 0, 0, 0, &mesh, planeArea};
        const uint32 n = mesh.numIndices;
        auto source = [&](uint32 k) { return unindexed ? runStart + k : mesh.indices[k]; };
        uint32 lowest = 0xFFFFFFFFu, highest = 0;
        for (uint32 k = 0; k < n; ++k) {
            const uint32 v = source(k);
            if (v < lowest) lowest = v;
            if (v > highest) highest = v;
        }
        const uint32 slots = InstanceTriangleSlots(strip, n);
        if (unindexed) runStart += n;
        if (n == 0 || highest >= numVertices) {
            indexArea += slots;
            if (planeArea != nullptr) planeArea += slots / 3;
            continue;
        }
        uint32 count = 0;
        auto emit = [&](uint32 a, uint32 b, uint32 c) {
            m.indices[count++] = a - lowest;
            m.indices[count++] = b - lowest;
            m.indices[count++] = c - lowest;
        };
        if (strip) {
            for (uint32 k = 0; k + 2 < n; ++k) {
                const uint32 a = source(k), b = source(k + 1), c = source(k + 2);
                // Strips join their runs with zero-area triangles: nothing to draw.
                if (a == b || b == c || a == c) continue;
                if ((k & 1) == 0) {
                    emit(a, b, c);
                } else {
                    emit(b, a, c);
                }
            }
        } else {
            for (uint32 k = 0; k + 2 < n; k += 3) emit(source(k), source(k + 1), source(k + 2));
        }
        m.numIndices = count;
        m.firstVertex = lowest;
        m.numVertices = highest - lowest + 1;
        if (planeArea != nullptr) {
            const ObjSpace3DVertex* v = instance->vertices + lowest;
            for (uint32 t = 0; t < count / 3; ++t) {
                const uint32* tri = m.indices + 3 * t;
                planeArea[t] = PlaneOf(v[tri[0]].position, v[tri[1]].position, v[tri[2]].position);
            }
            planeArea += slots / 3;
        }
        indexArea += slots;
    }
}

// One packet per mesh on the node's one output.
bool SendMeshes(PipelineNode* node, const ExecuteParams* params, const GenInstance* instance, const MeshHeader* header,
                uint32 flags, const Matrix* objToWorld, const Matrix& objToCamera, void* object) {
    ExecutionState* state = PipelineExecutionState();
    Pipeline* pipeline = state->pipeline;
    for (int32 i = 0; i < instance->numMeshes && state->ok != 0; ++i) {
        const GenInstanceMesh& m = instance->meshes[i];
        if (m.numVertices == 0 || m.numIndices == 0) continue;
        Packet* packet = PacketCreate(node);
        if (packet == nullptr) return false;
        MeshState* meshState;
        RenderStateRecord* renderState;
        if (!PacketAllocateOne(packet, kMeshState, node, &meshState) ||
            !PacketAllocateOne(packet, kRenderState, node, &renderState)) {
            PacketRelease(pipeline);
            return false;
        }
        MeshState mesh;
        MeshStateInitialise(&mesh, flags, m.mesh, header, objToWorld, object);
        mesh.objToCamera = objToCamera;
        mesh.primType = PrimTypeTriList;
        mesh.numPrimitives = m.numIndices / 3;
        mesh.numVertices = m.numVertices;
        if (meshState != nullptr) *meshState = mesh;
        if (renderState != nullptr) MeshRenderStateInitialise(renderState, &mesh);
        ClusterAttach(ClusterOpen(packet, kVertices, node), instance->vertices + m.firstVertex,
                      sizeof(ObjSpace3DVertex), m.numVertices);
        ClusterAttach(ClusterOpen(packet, kIndices, node), m.indices, sizeof(uint32), m.numIndices);
        if (m.planes != nullptr) {
            ClusterAttach(ClusterOpen(packet, kTriPlanes, node), m.planes, sizeof(TriPlane), m.numIndices / 3);
        }
        if (PipelineNode* next = PacketDispatch(pipeline, node, 0)) NodeRun(next, params);
        PacketRelease(pipeline);
    }
    return true;
}

const Camera* CurrentCamera() {
    const auto* camera = static_cast<const Camera*>(EngineInstanceGet()->curCamera);
    if (camera == nullptr) ErrorRaise(kModuleCore, kErrCoreNoCamera);
    return camera;
}

bool WorldSectorInstanceRun(PipelineNode* node, const ExecuteParams* params) {
    auto* sector = static_cast<WorldSector*>(params->data);
    MeshHeader* header = sector->meshes;
    if (sector->numVertices <= 0 || sector->vertices == nullptr || header == nullptr || header->numMeshes == 0) {
        return true;
    }
    const Camera* camera = CurrentCamera();
    if (camera == nullptr) return false;
    const uint32 flags = sector->world != nullptr ? WorldGetFlags(sector->world) : 0;
    GenInstance* instance = sector->instanceEntry != nullptr ? GenInstanceFromEntry(sector->instanceEntry) : nullptr;
    if (instance != nullptr && instance->serialNum == header->serialNum) {
        ResourcesUseEntry(sector->instanceEntry);
    } else {
        if (sector->instanceEntry != nullptr) ResourcesFreeEntry(sector->instanceEntry);
        const Layout layout = PlanLayout(header, sector->numVertices, true);
        instance = Allocate(sector, &sector->instanceEntry, layout, header);
        if (instance == nullptr) return false;
        InstanceSectorVertices(instance->vertices, sector, flags);
        LayOutMeshes(instance, header, reinterpret_cast<uint8*>(instance), layout);
    }
    // Sector vertices are in world space.
    return SendMeshes(node, params, instance, header, flags, nullptr, *CameraGetViewMatrix(camera), sector);
}

bool AtomicInstanceRun(PipelineNode* node, const ExecuteParams* params) {
    auto* atomic = static_cast<Atomic*>(params->data);
    Geometry* geometry = AtomicGetGeometry(atomic);
    if (geometry == nullptr || geometry->numVertices <= 0 || geometry->numMorphTargets <= 0) return true;
    MeshHeader* header = geometry->mesh;
    if (header == nullptr || header->numMeshes == 0) return true;
    const Camera* camera = CurrentCamera();
    if (camera == nullptr) return false;
    const uint32 flags = GeometryGetFlags(geometry);
    void* owner;
    ResEntry** ref = InstanceAtomicCacheRef(atomic, geometry, &owner);
    GenInstance* instance = *ref != nullptr ? GenInstanceFromEntry(*ref) : nullptr;
    if (instance != nullptr && instance->serialNum == header->serialNum) {
        ResourcesUseEntry(*ref);
        const InstanceRefill refill = InstanceAtomicRefill(atomic, geometry, instance->changeSerial);
        if (refill != InstanceRefillNone) {
            InstanceAtomicVertices(instance->vertices, atomic, geometry, flags, refill == InstanceRefillAll);
            instance->changeSerial = InstanceAtomicCaughtUp(atomic, geometry);
        }
    } else {
        if (*ref != nullptr) ResourcesFreeEntry(*ref);
        const Layout layout = PlanLayout(header, geometry->numVertices, false);
        instance = Allocate(owner, ref, layout, header);
        if (instance == nullptr) return false;
        InstanceAtomicVertices(instance->vertices, atomic, geometry, flags, true);
        LayOutMeshes(instance, header, reinterpret_cast<uint8*>(instance), layout);
        instance->changeSerial = InstanceAtomicCaughtUp(atomic, geometry);
    }
    Frame* frame = AtomicGetFrame(atomic);
    const Matrix* objToWorld = frame != nullptr ? FrameGetWorldMatrix(frame) : nullptr;
    Matrix objToCamera = *CameraGetViewMatrix(camera);
    if (objToWorld != nullptr) MatrixMultiply(&objToCamera, objToWorld, CameraGetViewMatrix(camera));
    return SendMeshes(node, params, instance, header, flags, objToWorld, objToCamera, atomic);
}

const ClusterUse kClusters[] = {{.clusterType = &clusterObjSpace3DVertices},
                                {.clusterType = &clusterIndices},
                                {.clusterType = &clusterMeshState},
                                {.clusterType = &clusterRenderState},
                                {.clusterType = &clusterTriPlanes}};
const ClusterNeed kNeeds[] = {ClusterIgnored, ClusterIgnored, ClusterIgnored, ClusterIgnored, ClusterIgnored};
const ClusterEffect kAllMade[] = {ClusterMade, ClusterMade, ClusterMade, ClusterMade, ClusterMade};
const OutputSpec kSectorOutputs[] = {{.name = "Output", .effects = kAllMade, .otherEffect = ClusterDropped}};
const OutputSpec kAtomicOutputs[] = {
    {.name = "AtomicInstanceOut", .effects = kAllMade, .otherEffect = ClusterUntouched}};

NodeType sectorType = {
    .name = "WorldSectorInstance.csl",
    .body = WorldSectorInstanceRun,
    .numClusters = 5,
    .clusters = kClusters,
    .needs = kNeeds,
    .numOutputs = 1,
    .outputs = kSectorOutputs,
};
NodeType atomicType = {
    .name = "AtomicInstance.csl",
    .body = AtomicInstanceRun,
    .numClusters = 4,
    .clusters = kClusters,
    .needs = kNeeds,
    .numOutputs = 1,
    .outputs = kAtomicOutputs,
};

}  // namespace

NodeType* NodeDefinitionGetWorldSectorInstance() { return &sectorType; }
NodeType* NodeDefinitionGetAtomicInstance() { return &atomicType; }

GenInstance* GenInstanceFromEntry(ResEntry* entry) {
    return entry->destroyNotify == DestroyNotify ? static_cast<GenInstance*>(ResEntryData(entry)) : nullptr;
}

}  // namespace kv
