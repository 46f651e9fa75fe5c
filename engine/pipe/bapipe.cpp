#include "bapipe.h"

#include "engine/core/badevice.h"

namespace kv {

namespace {
int32 moduleOffset = -1;
bool moduleOpen = false;
}  // namespace

void* PipelineModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    if (moduleOpen) return nullptr;
    auto* m = PtrAdd<PipelineModule>(instance, offset);
    m->heap = HeapCreate(kPipelineHeapSize);
    if (m->heap == nullptr) return nullptr;
    RenderStateSetDefault(&m->defaultRenderState);
    m->reserved[0] = 0;
    m->reserved[1] = 0;
    moduleOffset = offset;
    moduleOpen = true;
    return instance;
}

void* PipelineModuleClose(void* instance, int32 offset, int32 /*size*/) {
    auto* m = PtrAdd<PipelineModule>(instance, offset);
    HeapDestroy(m->heap);
    m->heap = nullptr;
    moduleOpen = false;
    return instance;
}

PipelineModule* PipelineModuleGet() {
    if (!moduleOpen || EngineInstanceGet() == nullptr) return nullptr;
    return static_cast<PipelineModule*>(EngineModuleData(moduleOffset));
}

RenderHeap* PipelineModuleHeap() {
    PipelineModule* m = PipelineModuleGet();
    return m != nullptr ? m->heap : nullptr;
}

const RenderStateRecord* PipelineModuleDefaultRenderState() {
    PipelineModule* m = PipelineModuleGet();
    return m != nullptr ? &m->defaultRenderState : nullptr;
}

}  // namespace kv
