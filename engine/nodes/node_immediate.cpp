#include "node_immediate.h"

#include "clip.h"
#include "engine/camera/camera.h"
#include "engine/core/error.h"
#include "engine/pipe/pipeline_module.h"
#include "engine/pipe/render_heap.h"
#include "engine/pipe/standard_clusters.h"
#include "immediate_3d.h"

namespace kv {

namespace {

// The cluster in a node's list position, as it is: neither copied nor made.
Cluster* Slot(Packet* packet, int32 index) {
    const int32 slot = packet->inputToClusterSlot != nullptr ? packet->inputToClusterSlot[index] : -1;
    if (slot < 0) return nullptr;
    Cluster* c = &packet->clusters[slot];
    return c->clusterRef != nullptr && (c->flags & ClusterValid) != 0 && c->data != nullptr ? c : nullptr;
}

template <typename T>
T* AllocateOne(Packet* packet, int32 index, PipelineNode* node) {
    Cluster* c = ClusterOpen(packet, index, node);
    if (c == nullptr || ClusterAllocate(c, 1, sizeof(T)) == nullptr) return nullptr;
    c->numUsed = 1;
    return static_cast<T*>(c->data);
}

template <typename T>
void Attach(Packet* packet, int32 index, PipelineNode* node, T* data, uint32 count) {
    if (data == nullptr) return;
    ClusterAttach(ClusterOpen(packet, index, node), const_cast<void*>(static_cast<const void*>(data)), sizeof(T),
                  count);
}

bool Dispatch(PipelineNode* node, const ExecuteParams* params, int32 output) {
    ExecutionState* execution = PipelineExecutionState();
    if (execution->ok != 0) {
        if (PipelineNode* next = PacketDispatch(execution->pipeline, node, output)) NodeRun(next, params);
    }
    PacketRelease(execution->pipeline);
    return true;
}

bool Fail() {
    PacketRelease(PipelineExecutionState()->pipeline);
    return false;
}

// --- ImmInstance --------------------------------------------------------------

enum ImmInstanceCluster : int32 { kInstVertices = 0, kInstMesh = 1, kInstRender = 2 };

bool ImmInstanceRun(PipelineNode* node, const ExecuteParams* params) {
    auto* request = static_cast<Im3DRequest*>(params->data);
    const auto* camera = static_cast<const Camera*>(EngineInstanceGet()->curCamera);
    if (camera == nullptr) {
        ErrorRaise(kModuleCore, kErrCoreNoCamera);
        return false;
    }
    Packet* packet = PacketCreate(node);
    if (packet == nullptr) return false;
    ClusterAttach(ClusterOpen(packet, kInstVertices, node), request->vertices, static_cast<uint16>(request->stride),
                  request->numVertices);
    auto* mesh = AllocateOne<MeshState>(packet, kInstMesh, node);
    auto* render = AllocateOne<RenderStateRecord>(packet, kInstRender, node);
    if (mesh == nullptr || render == nullptr) return Fail();

    const uint32 flags = request->batch.transformFlags;
    *mesh = MeshState{};
    // Immediate vertices carry their own colours.
    mesh->flags = (flags & Im3DTransformUV) != 0 ? 0x02 | MeshStateTextured : 0x02;
    const Matrix* view = CameraGetViewMatrix(camera);
    if (request->batch.matrix != nullptr) {
        mesh->objToWorld = *request->batch.matrix;
        MatrixMultiply(&mesh->objToCamera, request->batch.matrix, view);
    } else {
        MatrixSetIdentity(&mesh->objToWorld);
        mesh->objToCamera = *view;
    }
    mesh->surfaceProps = SurfaceProperties{1.0f, 1.0f, 1.0f};
    mesh->matColour = RGBA{255, 255, 255, 255};
    mesh->numVertices = request->numVertices;
    mesh->object = request;

    const RenderStateRecord* base = PipelineModuleDefaultRenderState();
    if (base != nullptr) {
        *render = *base;
    } else {
        RenderStateSetDefault(render);
    }
    if ((flags & Im3DTransformNoAlpha) == 0) render->flags |= RenderStateFlagVertexAlpha;
    return Dispatch(node, params, 0);
}

// --- ImmStash -----------------------------------------------------------------

enum ImmStashCluster : int32 { kStashObj = 0, kStashCam = 1, kStashScr = 2, kStashMesh = 3, kStashRender = 4 };

bool ImmStashRun(PipelineNode* /*node*/, const ExecuteParams* params) {
    Pipeline* pipeline = PipelineExecutionState()->pipeline;
    auto* request = static_cast<Im3DRequest*>(params->data);
    Im3DBatch& batch = request->batch;
    batch = Im3DBatch{};
    Packet* packet = PacketPickUp(pipeline);
    if (packet == nullptr) return true;
    // The arrays stay in the heap, the packet no longer frees them.
    auto keep = [&](int32 index) -> void* {
        Cluster* c = Slot(packet, index);
        if (c == nullptr) return nullptr;
        c->flags |= ClusterExternal;
        return c->data;
    };
    batch.objVertices = static_cast<ObjSpace3DVertex*>(keep(kStashObj));
    batch.camVertices = static_cast<CamSpace3DVertex*>(keep(kStashCam));
    batch.scrVertices = static_cast<Im2DVertex*>(keep(kStashScr));
    batch.meshState = static_cast<MeshState*>(keep(kStashMesh));
    batch.renderState = static_cast<RenderStateRecord*>(keep(kStashRender));
    if (batch.meshState != nullptr) batch.numVertices = batch.meshState->numVertices;
    PacketRelease(pipeline);
    return true;
}

// --- ImmRenderSetup -----------------------------------------------------------

enum ImmSetupCluster : int32 {
    kSetupObj = 0,
    kSetupCam = 1,
    kSetupScr = 2,
    kSetupMesh = 3,
    kSetupRender = 4,
    kSetupIndices = 5,
};
enum ImmSetupOutput : int32 { kSetupOut = 0, kSetupOutUnindexed = 1 };

bool ImmRenderSetupRun(PipelineNode* node, const ExecuteParams* params) {
    auto* batch = static_cast<Im3DBatch*>(params->data);
    if (batch->objVertices == nullptr) return true;
    if (batch->meshState == nullptr) return false;
    RenderStateRecord captured;
    const RenderStateRecord* base = PipelineModuleDefaultRenderState();
    if (base != nullptr) {
        captured = *base;
    } else {
        RenderStateSetDefault(&captured);
    }
    RenderStateCapture(&captured);

    Packet* packet = PacketCreate(node);
    if (packet == nullptr) return false;
    const uint32 n = batch->numVertices;
    Attach(packet, kSetupObj, node, batch->objVertices, n);
    Attach(packet, kSetupCam, node, batch->camVertices, n);
    Attach(packet, kSetupScr, node, batch->scrVertices, n);
    Attach(packet, kSetupMesh, node, batch->meshState, 1);
    const int32 type = batch->primType;
    if (type < PrimTypeLineList || type > PrimTypePointList) return Fail();
    MeshState* mesh = batch->meshState;
    mesh->primType = type;
    mesh->numPrimitives = ImmPrimitiveCount(type, batch->numIndices);

    if (RenderStateRecord* stashed = batch->renderState) {
        const bool blend = (stashed->flags & captured.flags & RenderStateFlagVertexAlpha) != 0;
        *stashed = captured;
        stashed->flags =
            blend ? stashed->flags | RenderStateFlagVertexAlpha : stashed->flags & ~RenderStateFlagVertexAlpha;
        Attach(packet, kSetupRender, node, stashed, 1);
    } else if (auto* record = AllocateOne<RenderStateRecord>(packet, kSetupRender, node)) {
        *record = captured;
    }
    if (batch->indices != nullptr) {
        Attach(packet, kSetupIndices, node, batch->indices, batch->numIndices);
        return Dispatch(node, params, kSetupOut);
    }
    return Dispatch(node, params, kSetupOutUnindexed);
}

// --- The index manglers -------------------------------------------------------

enum MangleCluster : int32 { kMangleMesh = 0, kMangleIndices = 1 };

// Runs make(out, p) into a new list of `per` x p indices that the Indices
// cluster takes over.
template <typename Make>
bool Remake(Packet* packet, PipelineNode* node, const ExecuteParams* params, uint32 p, uint32 per, Make make) {
    Cluster* c = Slot(packet, kMangleIndices);
    if (c == nullptr) c = ClusterOpen(packet, kMangleIndices, node);
    if (c == nullptr || p == 0) {
        if (c != nullptr && c->data != nullptr) c->numUsed = 0;
        return true;
    }
    auto* block = static_cast<uint32*>(HeapAlloc(params->heap, per * p * static_cast<uint32>(sizeof(uint32))));
    if (block == nullptr) return false;
    make(block, p);
    ClusterAdopt(c, block, sizeof(uint32), per * p);
    return true;
}

bool MangleTriangles(PipelineNode* node, const ExecuteParams* params, Packet* packet, MeshState* mesh) {
    const Cluster* indices = ClusterPeek(packet, kMangleIndices);
    const int32 type = mesh->primType;
    if (indices != nullptr) {
        const auto* i = static_cast<const uint32*>(indices->data);
        const uint32 n = indices->numUsed;
        const uint32 p = ImmPrimitiveCount(type, n);
        mesh->numPrimitives = p;
        if (type == PrimTypeTriStrip) {
            return Remake(packet, node, params, p, 3, [i](uint32* out, uint32 count) {
                for (uint32 k = 0; k < count; ++k, out += 3) {
                    const bool odd = (k & 1) != 0;
                    out[0] = odd ? i[k + 1] : i[k];
                    out[1] = odd ? i[k] : i[k + 1];
                    out[2] = i[k + 2];
                }
            });
        }
        if (type == PrimTypeTriFan) {
            return Remake(packet, node, params, p, 3, [i](uint32* out, uint32 count) {
                for (uint32 k = 0; k < count; ++k, out += 3) {
                    out[0] = i[0];
                    out[1] = i[k + 1];
                    out[2] = i[k + 2];
                }
            });
        }
        return true;  // a list already
    }
    const uint32 p = mesh->numPrimitives;
    return Remake(packet, node, params, p, 3, [type](uint32* out, uint32 count) {
        for (uint32 k = 0; k < count; ++k, out += 3) {
            if (type == PrimTypeTriList) {
                out[0] = 3 * k;
                out[1] = 3 * k + 1;
                out[2] = 3 * k + 2;
            } else if (type == PrimTypeTriStrip) {
                const bool odd = (k & 1) != 0;
                out[0] = odd ? k + 1 : k;
                out[1] = odd ? k : k + 1;
                out[2] = k + 2;
            } else {
                out[0] = 0;
                out[1] = k + 1;
                out[2] = k + 2;
            }
        }
    });
}

bool MangleLines(PipelineNode* node, const ExecuteParams* params, Packet* packet, MeshState* mesh) {
    const Cluster* indices = ClusterPeek(packet, kMangleIndices);
    const int32 type = mesh->primType;
    if (indices != nullptr) {
        const auto* i = static_cast<const uint32*>(indices->data);
        const uint32 p = ImmPrimitiveCount(type, indices->numUsed);
        mesh->numPrimitives = p;
        if (type != PrimTypePolyLine) return true;
        return Remake(packet, node, params, p, 2, [i](uint32* out, uint32 count) {
            for (uint32 k = 0; k < count; ++k, out += 2) {
                out[0] = i[k];
                out[1] = i[k + 1];
            }
        });
    }
    return Remake(packet, node, params, mesh->numPrimitives, 2, [type](uint32* out, uint32 count) {
        for (uint32 k = 0; k < count; ++k, out += 2) {
            out[0] = type == PrimTypeLineList ? 2 * k : k;
            out[1] = type == PrimTypeLineList ? 2 * k + 1 : k + 1;
        }
    });
}

bool Mangle(PipelineNode* node, const ExecuteParams* params, bool lines) {
    Pipeline* pipeline = PipelineExecutionState()->pipeline;
    Packet* packet = PacketPickUp(pipeline);
    if (packet == nullptr) return true;
    Cluster* meshCluster = ClusterOpen(packet, kMangleMesh, node);
    if (meshCluster == nullptr || meshCluster->data == nullptr) return Fail();
    auto* mesh = static_cast<MeshState*>(meshCluster->data);
    const int32 type = mesh->primType;
    const bool known = lines ? (type == PrimTypeLineList || type == PrimTypePolyLine)
                             : (type >= PrimTypeTriList && type <= PrimTypeTriFan);
    bool ok = false;
    if (known) {
        ok = lines ? MangleLines(node, params, packet, mesh) : MangleTriangles(node, params, packet, mesh);
        mesh->primType = lines ? PrimTypeLineList : PrimTypeTriList;
    }
    Dispatch(node, params, 0);
    return ok;
}

bool ImmMangleTrianglesRun(PipelineNode* node, const ExecuteParams* params) { return Mangle(node, params, false); }
bool ImmMangleLinesRun(PipelineNode* node, const ExecuteParams* params) { return Mangle(node, params, true); }

// --- Node types ---------------------------------------------------------------

const ClusterUse kInstClusters[] = {{.clusterType = &clusterObjSpace3DVertices},
                                    {.clusterType = &clusterMeshState},
                                    {.clusterType = &clusterRenderState}};
const ClusterNeed kInstNeeds[] = {ClusterIgnored, ClusterIgnored, ClusterIgnored};
const ClusterEffect kInstEffects[] = {ClusterMade, ClusterMade, ClusterMade};
const OutputSpec kInstOutputs[] = {
    {.name = "ImmInstanceOut", .effects = kInstEffects, .otherEffect = ClusterUntouched}};

const ClusterUse kStashClusters[] = {{.clusterType = &clusterObjSpace3DVertices},
                                     {.clusterType = &clusterCamSpace3DVertices},
                                     {.clusterType = &clusterScrSpace2DVertices},
                                     {.clusterType = &clusterMeshState},
                                     {.clusterType = &clusterRenderState}};
const ClusterNeed kStashNeeds[] = {ClusterOptional, ClusterOptional, ClusterOptional, ClusterOptional, ClusterOptional};

const ClusterUse kSetupClusters[] = {
    {.clusterType = &clusterObjSpace3DVertices}, {.clusterType = &clusterCamSpace3DVertices},
    {.clusterType = &clusterScrSpace2DVertices}, {.clusterType = &clusterMeshState},
    {.clusterType = &clusterRenderState},        {.clusterType = &clusterIndices}};
const ClusterNeed kSetupNeeds[] = {ClusterIgnored, ClusterIgnored, ClusterIgnored,
                                   ClusterIgnored, ClusterIgnored, ClusterIgnored};
const ClusterEffect kSetupEffects[] = {ClusterMade, ClusterMade, ClusterMade, ClusterMade, ClusterMade, ClusterMade};
const ClusterEffect kSetupUnindexedEffects[] = {ClusterMade, ClusterMade, ClusterMade,
                                                ClusterMade, ClusterMade, ClusterDropped};
const OutputSpec kSetupOutputs[] = {
    {.name = "ImmRenderSetupOut", .effects = kSetupEffects, .otherEffect = ClusterDropped},
    {.name = "ImmRenderSetupOutUnindexed", .effects = kSetupUnindexedEffects, .otherEffect = ClusterDropped}};

const ClusterUse kMangleClusters[] = {{.clusterType = &clusterMeshState}, {.clusterType = &clusterIndices}};
const ClusterNeed kMangleNeeds[] = {ClusterRequired, ClusterOptional};
const ClusterEffect kMangleEffects[] = {ClusterMade, ClusterMade};
const OutputSpec kMangleOutputs[] = {
    {.name = "ImmRenderSetupOut", .effects = kMangleEffects, .otherEffect = ClusterUntouched},
    {.name = "ImmRenderSetupInvalidOut", .effects = kMangleEffects, .otherEffect = ClusterUntouched}};

NodeType instanceType = {
    .name = "ImmInstance.csl",
    .body = ImmInstanceRun,
    .numClusters = 3,
    .clusters = kInstClusters,
    .needs = kInstNeeds,
    .numOutputs = 1,
    .outputs = kInstOutputs,
};
NodeType stashType = {
    .name = "ImmStash.csl",
    .body = ImmStashRun,
    .numClusters = 5,
    .clusters = kStashClusters,
    .needs = kStashNeeds,
};
NodeType setupType = {
    .name = "ImmRenderSetup.csl",
    .body = ImmRenderSetupRun,
    .numClusters = 6,
    .clusters = kSetupClusters,
    .needs = kSetupNeeds,
    .numOutputs = 2,
    .outputs = kSetupOutputs,
};
NodeType mangleTrianglesType = {
    .name = "ImmMangleTriangleIndices.csl",
    .body = ImmMangleTrianglesRun,
    .numClusters = 2,
    .clusters = kMangleClusters,
    .needs = kMangleNeeds,
    .numOutputs = 2,
    .outputs = kMangleOutputs,
};
NodeType mangleLinesType = {
    .name = "ImmMangleLineIndices.csl",
    .body = ImmMangleLinesRun,
    .numClusters = 2,
    .clusters = kMangleClusters,
    .needs = kMangleNeeds,
    .numOutputs = 2,
    .outputs = kMangleOutputs,
};

}  // namespace

uint32 ImmPrimitiveCount(int32 primType, uint32 n) {
    switch (primType) {
        case PrimTypeLineList:
            return n / 2;
        case PrimTypePolyLine:
            return n > 1 ? n - 1 : 0;
        case PrimTypeTriList:
            return n / 3;
        case PrimTypeTriStrip:
        case PrimTypeTriFan:
            return n > 2 ? n - 2 : 0;
        default:
            return n;
    }
}

NodeType* NodeDefinitionGetImmInstance() { return &instanceType; }
NodeType* NodeDefinitionGetImmStash() { return &stashType; }
NodeType* NodeDefinitionGetImmRenderSetup() { return &setupType; }
NodeType* NodeDefinitionGetImmMangleTriangleIndices() { return &mangleTrianglesType; }
NodeType* NodeDefinitionGetImmMangleLineIndices() { return &mangleLinesType; }

}  // namespace kv
