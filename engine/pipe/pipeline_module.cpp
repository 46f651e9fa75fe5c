#include "pipeline_module.h"

#include "engine/core/engine.h"
#include "engine/core/module_slot.h"

namespace kv {

namespace {
ModuleSlot<PipelineModule> slot;
}  // namespace

void* PipelineModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    if (slot.IsOpen()) return nullptr;
    PipelineModule* m = slot.At(instance, offset);
    m->heap = HeapCreate(kPipelineHeapSize);
    if (m->heap == nullptr) return nullptr;
    RenderStateSetDefault(&m->defaultRenderState);
    m->reserved[0] = 0;
    m->reserved[1] = 0;
    slot.Opened(offset);
    return instance;
}

void* PipelineModuleClose(void* instance, int32 offset, int32 /*size*/) {
    PipelineModule* m = slot.At(instance, offset);
    HeapDestroy(m->heap);
    m->heap = nullptr;
    slot.Closed();
    return instance;
}

CoreModule PipelineModuleEntry() {
    return {"pipeline", static_cast<int32>(sizeof(PipelineModule)), kIdPipelineModule, PipelineModuleOpen,
            PipelineModuleClose};
}

PipelineModule* PipelineModuleGet() { return slot.Get(); }

RenderHeap* PipelineModuleHeap() {
    PipelineModule* m = PipelineModuleGet();
    return m != nullptr ? m->heap : nullptr;
}

const RenderStateRecord* PipelineModuleDefaultRenderState() {
    PipelineModule* m = PipelineModuleGet();
    return m != nullptr ? &m->defaultRenderState : nullptr;
}

}  // namespace kv
