// The 3D immediate-mode front end: vertex arrays the caller fills each frame,
// transformed once (Im3DTransform) and then drawn as any number of
// primitives (Im3DRenderPrimitive, Im3DRenderIndexedPrimitive), each through
// the render pipeline of its primitive type. Everything happens between
// CameraBeginUpdate and CameraEndUpdate, and the caller's vertex and index
// arrays must stay as they are until Im3DEnd.
//
// The transformed batch lives in the pipeline heap: anything that resets the
// heap (the next transform, a world or object render) ends it, and a render
// after that fails as if nothing had been transformed.
#pragma once

#include "engine/core/engine.h"
#include "engine/core/plugin_registry.h"
#include "engine/nodes/cluster_layouts.h"
#include "engine/pipe/render_state.h"

namespace kv {

struct CamSpace3DVertex;

// Position, normal (unused by the built-in pipelines), colour, u, v.
using Im3DVertex = ObjSpace3DVertex;

constexpr int32 kIm3DNumPrimTypes = 6;  // types 1 .. 6

// Transform flags.
enum Im3DTransformFlag : uint32 {
    Im3DTransformUV = 0x01,       // the vertices' texture coordinates are used
    Im3DTransformNoAlpha = 0x02,  // no alpha blending wanted
    Im3DTransformFixed = 0x18,    // always added by the front end
};

constexpr int32 kIm3DMaxVertices = 65535;

// What the render pipelines run on: the transform request's flags and
// matrix (which the stash clears), what the transform pipeline stashed, and
// what each render call sets.
struct Im3DBatch {
    uint32 transformFlags;
    const Matrix* matrix;  // object to world, or none
    uint32 numVertices;
    ObjSpace3DVertex* objVertices;
    CamSpace3DVertex* camVertices;  // or none
    Im2DVertex* scrVertices;        // or none
    MeshState* meshState;
    RenderStateRecord* renderState;
    Pipeline* renderPipeline;
    int32 primType;
    const uint32* indices;  // or none: unindexed
    uint32 numIndices;      // unindexed: the vertex count
};

// What the transform pipeline runs on: the caller's vertices, then the batch.
struct Im3DRequest {
    uint32 numVertices;  // up to kIm3DMaxVertices
    Im3DVertex* vertices;
    uint32 stride;
    Im3DBatch batch;
};

// The immediate-mode module's block in the engine instance.
struct Im3DModule {
    Pipeline* defaultTransformPipeline;
    Pipeline* defaultRenderPipelines[kIm3DNumPrimTypes];  // by primitive type - 1
    Pipeline* transformPipeline;
    Pipeline* renderPipelines[kIm3DNumPrimTypes];
    Pipeline* platformTransformPipeline;
    Pipeline* platformRenderPipelines[kIm3DNumPrimTypes];
    Im3DRequest request;
    uint32 heapResets;  // the heap's reset count when the batch was made
};

Im3DVertex* Im3DTransform(Im3DVertex* vertices, int32 numVertices, const Matrix* matrix, uint32 flags);
bool Im3DRenderPrimitive(int32 primType);
// Every index must name one of the transformed vertices.
bool Im3DRenderIndexedPrimitive(int32 primType, const uint32* indices, int32 numIndices);
bool Im3DEnd();

// Null restores the platform pipeline, else the default one.
Pipeline* Im3DSetTransformPipeline(Pipeline* pipeline);
Pipeline* Im3DGetTransformPipeline();
// For types 1 .. 6; the pipeline now current for the type, or null.
Pipeline* Im3DSetRenderPipeline(Pipeline* pipeline, int32 primType);
Pipeline* Im3DGetRenderPipeline(int32 primType);
// The generic (software) pipelines the module built.
Pipeline* Im3DGetDefaultTransformPipeline();
Pipeline* Im3DGetDefaultRenderPipeline(int32 primType);

// A device's own pipelines, built at module open after the generic ones;
// render[type - 1] may repeat one pipeline for several types.
struct Im3DPipelineSet {
    Pipeline* transform;
    Pipeline* render[kIm3DNumPrimTypes];
};
// Fills the set; false on failure with whatever it built destroyed.
using Im3DPipelinesBuildFn = bool (*)(Im3DPipelineSet* set);
// Installed by the device before the engine starts; null for none.
void Im3DSetPlatformPipelinesBuilder(Im3DPipelinesBuildFn build);

// The generic pipelines (the module builds them; exposed for tests and for
// other front ends).
Pipeline* Im3DGenericTransformPipelineCreate();
Pipeline* Im3DGenericTrianglePipelineCreate();
Pipeline* Im3DGenericLinePipelineCreate();

// Registered with the engine (the assembly's module table).
void* Im3DModuleOpen(void* instance, int32 offset, int32 size);
void* Im3DModuleClose(void* instance, int32 offset, int32 size);
CoreModule Im3DModuleEntry();
Im3DModule* Im3DModuleGet();

}  // namespace kv
