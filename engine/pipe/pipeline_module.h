// The pipeline module: owns the render heap and the default render-state
// record that nodes use when a packet carries none.
#pragma once

#include "render_heap.h"
#include "render_state.h"

namespace kv {

struct CoreModule;

struct PipelineModule {
    RenderHeap* heap;
    RenderStateRecord defaultRenderState;
    int32 reserved[2];
};

constexpr uint32 kPipelineHeapSize = 0x200000;

// Registered with the engine (core module table).
void* PipelineModuleOpen(void* instance, int32 offset, int32 size);
void* PipelineModuleClose(void* instance, int32 offset, int32 size);
CoreModule PipelineModuleEntry();

// Null while the module is not started.
PipelineModule* PipelineModuleGet();
RenderHeap* PipelineModuleHeap();
const RenderStateRecord* PipelineModuleDefaultRenderState();

}  // namespace kv
