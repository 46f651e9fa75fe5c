#include "immediate_3d.h"

#include "engine/core/error.h"
#include "engine/core/module_slot.h"
#include "engine/pipe/pipeline_module.h"
#include "engine/pipe/render_heap.h"
#include "node_clip_line.h"
#include "node_clip_triangle.h"
#include "node_cull_triangle.h"
#include "node_immediate.h"
#include "node_submit.h"
#include "node_transform.h"

namespace kv {

namespace {

ModuleSlot<Im3DModule> slot;
Im3DPipelinesBuildFn platformBuilder = nullptr;

// Setup -> mangle -> rest..., with the setup's unindexed output also to the
// mangler and the mangler's second output to the node after it.
Pipeline* RenderPipelineCreate(NodeType* mangle, NodeType* next, NodeType* clip, NodeType* submit) {
    NodeType* setup = NodeDefinitionGetImmRenderSetup();
    Pipeline* created = PipelineCreate();
    Pipeline* p = clip != nullptr ? PipelineAddNodes(PipelineLock(created), nullptr, setup, mangle, next, clip, submit)
                                  : PipelineAddNodes(PipelineLock(created), nullptr, setup, mangle, next, submit);
    p = PipelineLinkOutput(p, NodeFindOutput(PipelineFindNode(p, setup->name, nullptr), "ImmRenderSetupOutUnindexed"),
                           PipelineFindNode(p, mangle->name, nullptr));
    p = PipelineLinkOutput(p, NodeFindOutput(PipelineFindNode(p, mangle->name, nullptr), "ImmRenderSetupInvalidOut"),
                           PipelineFindNode(p, next->name, nullptr));
    return PipelineFinish(created, p);
}

// Each pipeline of the list once, however many roles it has.
void DestroyEach(Pipeline* const* list, int32 count) {
    for (int32 i = 0; i < count; ++i) {
        bool seen = false;
        for (int32 j = 0; j < i && !seen; ++j) seen = list[j] == list[i];
        if (!seen) PipelineDestroy(list[i]);
    }
}

void DestroyBuilt(Im3DModule* m) {
    Pipeline* list[2 + 2 * kIm3DNumPrimTypes];
    int32 n = 0;
    list[n++] = m->defaultTransformPipeline;
    list[n++] = m->platformTransformPipeline;
    for (int32 t = 0; t < kIm3DNumPrimTypes; ++t) {
        list[n++] = m->defaultRenderPipelines[t];
        list[n++] = m->platformRenderPipelines[t];
    }
    DestroyEach(list, n);
    *m = Im3DModule{};
}

bool ValidType(int32 type) { return type >= PrimTypeLineList && type <= PrimTypePointList; }

RenderHeap* Heap() { return PipelineModuleHeap(); }

// The transformed batch, or null (error 35) when there is none or the heap
// it lives in was emptied since.
Im3DModule* Batch() {
    Im3DModule* m = slot.GetOrError();
    if (m == nullptr) return nullptr;
    const RenderHeap* heap = Heap();
    if (m->request.vertices == nullptr || heap == nullptr || heap->resets != m->heapResets) {
        ErrorRaise(kModuleCore, kErrIm3DNoBatch);
        return nullptr;
    }
    return m;
}

bool Render(Im3DModule* m, int32 type, const uint32* indices, uint32 numIndices) {
    Pipeline* pipeline = m->renderPipelines[type - 1];
    if (pipeline == nullptr) return false;
    Im3DBatch& batch = m->request.batch;
    batch.renderPipeline = pipeline;
    batch.primType = type;
    batch.indices = indices;
    batch.numIndices = numIndices;
    return PipelineExecute(pipeline, &batch, false) != nullptr;
}

}  // namespace

Pipeline* Im3DGenericTransformPipelineCreate() {
    Pipeline* created = PipelineCreate();
    return PipelineFinish(created, PipelineAddNodes(PipelineLock(created), nullptr, NodeDefinitionGetImmInstance(),
                                                    NodeDefinitionGetTransform(), NodeDefinitionGetImmStash()));
}

Pipeline* Im3DGenericTrianglePipelineCreate() {
    return RenderPipelineCreate(NodeDefinitionGetImmMangleTriangleIndices(), NodeDefinitionGetCullTriangle(),
                                NodeDefinitionGetClipTriangle(), NodeDefinitionGetSubmitTriangle());
}

Pipeline* Im3DGenericLinePipelineCreate() {
    return RenderPipelineCreate(NodeDefinitionGetImmMangleLineIndices(), NodeDefinitionGetClipLine(), nullptr,
                                NodeDefinitionGetSubmitLine());
}

void Im3DSetPlatformPipelinesBuilder(Im3DPipelinesBuildFn build) { platformBuilder = build; }

void* Im3DModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    Im3DModule* m = ModuleSlot<Im3DModule>::At(instance, offset);
    *m = Im3DModule{};
    m->defaultTransformPipeline = Im3DGenericTransformPipelineCreate();
    Pipeline* triangles = Im3DGenericTrianglePipelineCreate();
    Pipeline* lines = Im3DGenericLinePipelineCreate();
    m->defaultRenderPipelines[PrimTypeLineList - 1] = lines;
    m->defaultRenderPipelines[PrimTypePolyLine - 1] = lines;
    m->defaultRenderPipelines[PrimTypeTriList - 1] = triangles;
    m->defaultRenderPipelines[PrimTypeTriStrip - 1] = triangles;
    m->defaultRenderPipelines[PrimTypeTriFan - 1] = triangles;
    if (m->defaultTransformPipeline == nullptr || triangles == nullptr || lines == nullptr) {
        DestroyBuilt(m);
        return nullptr;
    }
    if (platformBuilder != nullptr) {
        Im3DPipelineSet set{};
        if (!platformBuilder(&set)) {
            DestroyBuilt(m);
            return nullptr;
        }
        m->platformTransformPipeline = set.transform;
        for (int32 t = 0; t < kIm3DNumPrimTypes; ++t) m->platformRenderPipelines[t] = set.render[t];
    }
    m->transformPipeline =
        m->platformTransformPipeline != nullptr ? m->platformTransformPipeline : m->defaultTransformPipeline;
    for (int32 t = 0; t < kIm3DNumPrimTypes; ++t) {
        m->renderPipelines[t] =
            m->platformRenderPipelines[t] != nullptr ? m->platformRenderPipelines[t] : m->defaultRenderPipelines[t];
    }
    slot.Opened(offset);
    return instance;
}

void* Im3DModuleClose(void* instance, int32 offset, int32 /*size*/) {
    Im3DModule* m = ModuleSlot<Im3DModule>::At(instance, offset);
    if (!slot.IsOpen()) return instance;
    DestroyBuilt(m);
    slot.Closed();
    return instance;
}

CoreModule Im3DModuleEntry() {
    return {"im3d", static_cast<int32>(sizeof(Im3DModule)), kIdIm3DModule, Im3DModuleOpen, Im3DModuleClose};
}

Im3DModule* Im3DModuleGet() { return slot.Get(); }

Im3DVertex* Im3DTransform(Im3DVertex* vertices, int32 numVertices, const Matrix* matrix, uint32 flags) {
    Im3DModule* m = slot.GetOrError();
    if (m == nullptr) return nullptr;
    // A refused or failed transform leaves no batch behind to draw.
    Im3DRequest& r = m->request;
    r = Im3DRequest{};
    if (vertices == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    if (numVertices < 0) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return nullptr;
    }
    if (numVertices > kIm3DMaxVertices) {
        ErrorRaise(kModuleCore, kErrIm3DTooManyVertices);
        return nullptr;
    }
    r.numVertices = static_cast<uint32>(numVertices);
    r.vertices = vertices;
    r.stride = sizeof(Im3DVertex);
    r.batch.transformFlags = flags | Im3DTransformFixed;
    r.batch.matrix = matrix;
    if (PipelineExecute(m->transformPipeline, &r, true) == nullptr) {
        r = Im3DRequest{};
        return nullptr;
    }
    const RenderHeap* heap = Heap();
    m->heapResets = heap != nullptr ? heap->resets : 0;
    return vertices;
}

bool Im3DRenderIndexedPrimitive(int32 primType, const uint32* indices, int32 numIndices) {
    Im3DModule* m = Batch();
    if (m == nullptr) return false;
    if (!ValidType(primType)) {
        ErrorRaise(kModuleCore, kErrIm3DPrimType);
        return false;
    }
    if (indices == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    if (numIndices < 0) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    auto n = static_cast<uint32>(numIndices);
    if (primType == PrimTypeLineList) n -= n % 2;
    if (primType == PrimTypeTriList) n -= n % 3;
    // Nothing reads past the transformed vertices, whatever pipeline draws.
    const uint32 numVertices = m->request.numVertices;
    for (uint32 i = 0; i < n; ++i) {
        if (indices[i] >= numVertices) {
            ErrorRaise(kModuleNone, kErrOutOfRange);
            return false;
        }
    }
    return Render(m, primType, indices, n);
}

bool Im3DRenderPrimitive(int32 primType) {
    Im3DModule* m = Batch();
    if (m == nullptr) return false;
    if (!ValidType(primType)) {
        ErrorRaise(kModuleCore, kErrIm3DPrimType);
        return false;
    }
    return Render(m, primType, nullptr, m->request.numVertices);
}

bool Im3DEnd() {
    Im3DModule* m = slot.GetOrError();
    if (m == nullptr || m->request.vertices == nullptr) return false;
    m->request = Im3DRequest{};
    return true;
}

Pipeline* Im3DSetTransformPipeline(Pipeline* pipeline) {
    Im3DModule* m = slot.GetOrError();
    if (m == nullptr) return nullptr;
    if (pipeline == nullptr) {
        pipeline = m->platformTransformPipeline != nullptr ? m->platformTransformPipeline : m->defaultTransformPipeline;
    }
    m->transformPipeline = pipeline;
    return pipeline;
}

Pipeline* Im3DGetTransformPipeline() {
    Im3DModule* m = slot.Get();
    return m != nullptr ? m->transformPipeline : nullptr;
}

Pipeline* Im3DSetRenderPipeline(Pipeline* pipeline, int32 primType) {
    Im3DModule* m = slot.GetOrError();
    if (m == nullptr) return nullptr;
    if (!ValidType(primType)) {
        ErrorRaise(kModuleCore, kErrIm3DPrimType);
        return nullptr;
    }
    const int32 t = primType - 1;
    if (pipeline == nullptr) {
        pipeline =
            m->platformRenderPipelines[t] != nullptr ? m->platformRenderPipelines[t] : m->defaultRenderPipelines[t];
    }
    m->renderPipelines[t] = pipeline;
    return pipeline;
}

Pipeline* Im3DGetRenderPipeline(int32 primType) {
    Im3DModule* m = slot.Get();
    return m != nullptr && ValidType(primType) ? m->renderPipelines[primType - 1] : nullptr;
}

Pipeline* Im3DGetDefaultTransformPipeline() {
    Im3DModule* m = slot.Get();
    return m != nullptr ? m->defaultTransformPipeline : nullptr;
}

Pipeline* Im3DGetDefaultRenderPipeline(int32 primType) {
    Im3DModule* m = slot.Get();
    return m != nullptr && ValidType(primType) ? m->defaultRenderPipelines[primType - 1] : nullptr;
}

}  // namespace kv
