#include "gl_node_instance.h"

#include <cstring>

#include "engine/frame/frame.h"
#include "engine/nodes/instance.h"
#include "engine/pipe/standard_clusters.h"
#include "engine/world/clump.h"
#include "engine/world/world.h"
#include "gl_internal.h"

namespace kv {

namespace {

// Positions in the node types' cluster lists.
enum InstanceCluster : int32 {
    kVertices = 0,
    kIndices = 1,
    kMeshState = 2,
    kRenderState = 3,
    kExtensionData = 4,
    kUVs = 5,
};
enum InstanceOutput : int32 { kOutIndexed = 0, kOutUnindexed = 1 };

// Everything a cache build needs to know about the object.
struct Layout {
    int32 numVertices;
    int32 numMeshes;
    uint32 numIndices;  // stored: 0 for unindexed headers
    bool uv2;
    std::size_t meshesAt, verticesAt, uv2At, indicesAt, size;
};

Layout PlanLayout(const MeshHeader* header, int32 numVertices, bool uv2) {
    Layout l{};
    l.numVertices = numVertices;
    l.numMeshes = header->numMeshes;
    l.numIndices = (header->flags & kMeshHeaderUnindexed) != 0 ? 0 : header->totalIndicesInMesh;
    l.uv2 = uv2;
    std::size_t at = InstanceAlignUp(sizeof(GlInstance));
    l.meshesAt = at;
    at = InstanceAlignUp(at + sizeof(GlInstanceMesh) * static_cast<std::size_t>(l.numMeshes));
    l.verticesAt = at;
    at += sizeof(ObjSpace3DVertex) * static_cast<std::size_t>(numVertices);
    l.uv2At = at;
    if (uv2) at += sizeof(TexCoords) * static_cast<std::size_t>(numVertices);
    l.indicesAt = at;
    at += sizeof(uint32) * l.numIndices;
    l.size = at;
    return l;
}

void DestroyNotify(ResEntry* entry) {
    GlInstance* instance = GlInstanceFromEntry(entry);
    if (instance->rangeCopy != nullptr) VertexArenaFree(instance->rangeCopy);
    instance->rangeCopy = nullptr;
}

GlInstance* AllocateInstance(void* owner, ResEntry** ownerRef, const Layout& layout, const MeshHeader* header) {
    void* base = InstanceCacheAllocate(owner, ownerRef, layout.size, DestroyNotify);
    if (base == nullptr) return nullptr;
    auto* instance =
        InstanceCacheStart<GlInstance>(base, header, layout.numMeshes, layout.numVertices, layout.verticesAt);
    auto* bytes = static_cast<uint8*>(base);
    instance->uv2 = layout.uv2 ? reinterpret_cast<TexCoords*>(bytes + layout.uv2At) : nullptr;
    instance->rangeCopy = nullptr;
    instance->meshes = reinterpret_cast<GlInstanceMesh*>(bytes + layout.meshesAt);
    return instance;
}

// Per mesh: which vertices it uses and its indices rebased to the lowest.
void LayOutMeshes(GlInstance* instance, MeshHeader* header, uint32* indexArea, uint32 indexSlots) {
    const bool unindexed = (header->flags & kMeshHeaderUnindexed) != 0;
    const auto numVertices = static_cast<uint32>(instance->numVertices);
    Mesh* meshes = MeshHeaderGetMeshes(header);
    uint32 runStart = 0;
    for (int32 i = 0; i < instance->numMeshes; ++i) {
        Mesh& mesh = meshes[i];
        GlInstanceMesh& m = instance->meshes[i];
        m = GlInstanceMesh{nullptr, mesh.numIndices, 0, 0, mesh.material, &mesh};
        if (unindexed) {
            m.firstVertex = runStart;
            m.numVertices = mesh.numIndices;
            runStart += mesh.numIndices;
            // A run past the vertices would have OpenGL read beyond them.
            if (m.firstVertex > numVertices || m.numVertices > numVertices - m.firstVertex) m.numVertices = 0;
            continue;
        }
        // Meshes claiming more indices than the header holds are not drawn.
        if (mesh.numIndices > indexSlots) {
            m.numIndices = 0;
            continue;
        }
        m.indices = indexArea;
        indexArea += mesh.numIndices;
        indexSlots -= mesh.numIndices;
        uint32 lowest = 0xFFFFFFFFu, highest = 0;
        for (uint32 k = 0; k < mesh.numIndices; ++k) {
            const uint32 index = mesh.indices[k];
            if (index < lowest) lowest = index;
            if (index > highest) highest = index;
        }
        if (mesh.numIndices == 0 || highest >= numVertices) {
            m.numIndices = 0;
            continue;
        }
        m.firstVertex = lowest;
        m.numVertices = highest - lowest + 1;
        for (uint32 k = 0; k < mesh.numIndices; ++k) m.indices[k] = mesh.indices[k] - lowest;
    }
}

void FillRangeCopy(GlInstance* instance) {
    if (instance->rangeCopy == nullptr) return;
    const std::size_t n = static_cast<std::size_t>(instance->numVertices);
    std::memcpy(instance->rangeCopy, instance->vertices, n * sizeof(ObjSpace3DVertex));
    if (instance->uv2 != nullptr) {
        std::memcpy(instance->rangeCopy + n * sizeof(ObjSpace3DVertex), instance->uv2, n * sizeof(TexCoords));
    }
}

// Without room in the range memory the meshes draw from system memory.
void MakeRangeCopy(GlInstance* instance) {
    if (!GlDevice()->hasArena) return;
    const std::size_t n = static_cast<std::size_t>(instance->numVertices);
    const std::size_t bytes = n * (sizeof(ObjSpace3DVertex) + (instance->uv2 != nullptr ? sizeof(TexCoords) : 0));
    instance->rangeCopy = static_cast<uint8*>(VertexArenaAlloc(bytes));
    FillRangeCopy(instance);
}

uint32 PrimitiveCount(int32 primType, uint32 count) {
    switch (primType) {
        case PrimTypeTriList:
            return count / 3;
        case PrimTypeTriStrip:
        case PrimTypeTriFan:
            return count > 2 ? count - 2 : 0;
        case PrimTypeLineList:
            return count / 2;
        case PrimTypePolyLine:
            return count > 1 ? count - 1 : 0;
        default:
            return count;
    }
}

// One packet per mesh, down the first output when indexed, else the second.
bool SendMeshes(PipelineNode* node, const ExecuteParams* params, GlInstance* instance, const MeshHeader* header,
                uint32 flags, const Matrix* objToWorld, void* object) {
    ExecutionState* state = PipelineExecutionState();
    Pipeline* pipeline = state->pipeline;
    const bool secondSet = (flags & MeshStateTextured2) != 0 && instance->uv2 != nullptr;
    for (int32 i = 0; i < instance->numMeshes && state->ok != 0; ++i) {
        const GlInstanceMesh& m = instance->meshes[i];
        if (m.numVertices == 0) continue;
        Packet* packet = PacketCreate(node);
        if (packet == nullptr) return false;
        MeshState* meshState;
        RenderStateRecord* renderState;
        OpenGLExtensionData* extension;
        if (!PacketAllocateOne(packet, kMeshState, node, &meshState) ||
            !PacketAllocateOne(packet, kRenderState, node, &renderState) ||
            !PacketAllocateOne(packet, kExtensionData, node, &extension)) {
            PacketRelease(pipeline);
            return false;
        }
        ClusterAttach(ClusterOpen(packet, kVertices, node), instance->vertices + m.firstVertex,
                      sizeof(ObjSpace3DVertex), m.numVertices);
        MeshState mesh;
        MeshStateInitialise(&mesh, flags, m.mesh, header, objToWorld, object);
        mesh.numVertices = m.numVertices;
        mesh.numPrimitives = PrimitiveCount(mesh.primType, m.indices != nullptr ? m.numIndices : m.numVertices);
        if (meshState != nullptr) *meshState = mesh;
        if (renderState != nullptr) MeshRenderStateInitialise(renderState, &mesh);
        if (extension != nullptr) {
            extension->rangeVertices = instance->rangeCopy != nullptr
                                           ? instance->rangeCopy + m.firstVertex * sizeof(ObjSpace3DVertex)
                                           : nullptr;
            extension->firstVertex = m.firstVertex;
            extension->numVertices = m.numVertices;
        }
        if (secondSet) {
            ClusterAttach(ClusterOpen(packet, kUVs, node), instance->uv2 + m.firstVertex, sizeof(TexCoords),
                          m.numVertices);
        }
        int32 output = kOutUnindexed;
        if (m.indices != nullptr) {
            ClusterAttach(ClusterOpen(packet, kIndices, node), m.indices, sizeof(uint32), m.numIndices);
            output = kOutIndexed;
        }
        if (PipelineNode* next = PacketDispatch(pipeline, node, output)) NodeRun(next, params);
        PacketRelease(pipeline);
    }
    return true;
}

// --- World sectors ----------------------------------------------------------

void FillSectorVertices(GlInstance* instance, const WorldSector* sector, uint32 flags) {
    InstanceSectorVertices(instance->vertices, sector, flags);
    if (instance->uv2 != nullptr) {
        for (int32 i = 0; i < instance->numVertices; ++i) {
            instance->uv2[i] = TexCoords{sector->texCoords[1][i].x, sector->texCoords[1][i].y};
        }
    }
}

bool OpenGLWorldSectorInstanceRun(PipelineNode* node, const ExecuteParams* params) {
    auto* sector = static_cast<WorldSector*>(params->data);
    MeshHeader* header = sector->meshes;
    if (sector->numVertices <= 0 || sector->vertices == nullptr || header == nullptr || header->numMeshes == 0) {
        return true;
    }
    const uint32 flags = sector->world != nullptr ? WorldGetFlags(sector->world) : 0;
    ResEntry* entry = sector->instanceEntry;
    if (entry != nullptr && GlInstanceOwnsEntry(entry) && GlInstanceFromEntry(entry)->serialNum == header->serialNum) {
        ResourcesUseEntry(entry);
    } else {
        if (entry != nullptr) ResourcesFreeEntry(entry);
        const bool uv2 = (flags & MeshStateTextured2) != 0 && sector->texCoords[1] != nullptr;
        const Layout layout = PlanLayout(header, sector->numVertices, uv2);
        GlInstance* built = AllocateInstance(sector, &sector->instanceEntry, layout, header);
        if (built == nullptr) return false;
        FillSectorVertices(built, sector, flags);
        LayOutMeshes(built, header, reinterpret_cast<uint32*>(reinterpret_cast<uint8*>(built) + layout.indicesAt),
                     layout.numIndices);
        MakeRangeCopy(built);
        entry = sector->instanceEntry;
    }
    return SendMeshes(node, params, GlInstanceFromEntry(entry), header, flags, nullptr, sector);
}

// --- Atomics ----------------------------------------------------------------

// fields: everything, or positions and normals alone.
void FillAtomicVertices(GlInstance* instance, const Atomic* atomic, const Geometry* geometry, uint32 flags,
                        bool everything) {
    InstanceAtomicVertices(instance->vertices, atomic, geometry, flags, everything);
    if (everything && instance->uv2 != nullptr) {
        std::memcpy(instance->uv2, geometry->texCoords[1],
                    sizeof(TexCoords) * static_cast<std::size_t>(instance->numVertices));
    }
}

bool OpenGLAtomicInstanceRun(PipelineNode* node, const ExecuteParams* params) {
    auto* atomic = static_cast<Atomic*>(params->data);
    Geometry* geometry = AtomicGetGeometry(atomic);
    if (geometry == nullptr || geometry->numVertices <= 0 || geometry->numMorphTargets <= 0) return true;
    MeshHeader* header = geometry->mesh;
    if (header == nullptr || header->numMeshes == 0) return true;
    const uint32 flags = GeometryGetFlags(geometry);
    void* owner;
    ResEntry** ref = InstanceAtomicCacheRef(atomic, geometry, &owner);
    ResEntry* entry = *ref;
    if (entry != nullptr && GlInstanceOwnsEntry(entry) && GlInstanceFromEntry(entry)->serialNum == header->serialNum) {
        ResourcesUseEntry(entry);
        GlInstance* instance = GlInstanceFromEntry(entry);
        const InstanceRefill refill = InstanceAtomicRefill(atomic, geometry, instance->changeSerial);
        if (refill != InstanceRefillNone) {
            FillAtomicVertices(instance, atomic, geometry, flags, refill == InstanceRefillAll);
            FillRangeCopy(instance);
            instance->changeSerial = InstanceAtomicCaughtUp(atomic, geometry);
        }
    } else {
        if (entry != nullptr) ResourcesFreeEntry(entry);
        const bool uv2 = (flags & MeshStateTextured2) != 0 && geometry->texCoords[1] != nullptr;
        const Layout layout = PlanLayout(header, geometry->numVertices, uv2);
        GlInstance* built = AllocateInstance(owner, ref, layout, header);
        if (built == nullptr) return false;
        FillAtomicVertices(built, atomic, geometry, flags, true);
        LayOutMeshes(built, header, reinterpret_cast<uint32*>(reinterpret_cast<uint8*>(built) + layout.indicesAt),
                     layout.numIndices);
        MakeRangeCopy(built);
        built->changeSerial = InstanceAtomicCaughtUp(atomic, geometry);
        entry = *ref;
    }
    Frame* frame = AtomicGetFrame(atomic);
    const Matrix* objToWorld = frame != nullptr ? FrameGetWorldMatrix(frame) : nullptr;
    return SendMeshes(node, params, GlInstanceFromEntry(entry), header, flags, objToWorld, atomic);
}

// --- Node types -------------------------------------------------------------

const ClusterUse kClusters[] = {{&clusterObjSpace3DVertices, 0, 0},  {&clusterIndices, 0, 0},
                                {&clusterMeshState, 0, 0},           {&clusterRenderState, 0, 0},
                                {&clusterOpenGLExtensionData, 0, 0}, {&clusterUVs, 0, 0}};
const ClusterNeed kNeeds[] = {ClusterIgnored, ClusterIgnored, ClusterIgnored,
                              ClusterIgnored, ClusterIgnored, ClusterIgnored};
const ClusterEffect kAllMade[] = {ClusterMade, ClusterMade, ClusterMade, ClusterMade, ClusterMade, ClusterMade};
const ClusterEffect kNoIndices[] = {ClusterMade, ClusterDropped, ClusterMade, ClusterMade, ClusterMade, ClusterMade};

const OutputSpec kSectorOutputs[] = {{"Output", kAllMade, ClusterDropped},
                                     {"OutputUnindexed", kNoIndices, ClusterDropped}};
const OutputSpec kAtomicOutputs[] = {{"AtomicInstanceOut", kAllMade, ClusterUntouched},
                                     {"AtomicInstanceOutUnindexed", kNoIndices, ClusterUntouched}};

NodeType sectorType = {.name = "WorldSectorInstance.csl",
                       .body = OpenGLWorldSectorInstanceRun,
                       .numClusters = CountOf(kClusters),
                       .clusters = kClusters,
                       .needs = kNeeds,
                       .numOutputs = CountOf(kSectorOutputs),
                       .outputs = kSectorOutputs};
NodeType atomicType = {.name = "AtomicInstance.csl",
                       .body = OpenGLAtomicInstanceRun,
                       .numClusters = CountOf(kClusters),
                       .clusters = kClusters,
                       .needs = kNeeds,
                       .numOutputs = CountOf(kAtomicOutputs),
                       .outputs = kAtomicOutputs};

}  // namespace

NodeType* NodeDefinitionGetOpenGLWorldSectorInstance() { return &sectorType; }
bool GlInstanceOwnsEntry(const ResEntry* entry) { return entry->destroyNotify == DestroyNotify; }
NodeType* NodeDefinitionGetOpenGLAtomicInstance() { return &atomicType; }

}  // namespace kv
