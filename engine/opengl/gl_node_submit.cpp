#include "gl_node_submit.h"

#include "engine/frame/frame.h"
#include "engine/nodes/light_list.h"
#include "engine/pipe/pipeline_module.h"
#include "engine/pipe/standard_clusters.h"
#include "engine/world/hardware_light.h"
#include "engine/world/light.h"
#include "gl_internal.h"

#ifndef GL_VERTEX_ARRAY_RANGE_NV
#define GL_VERTEX_ARRAY_RANGE_NV 0x851D
#endif

namespace kv {

namespace {

enum SubmitCluster : int32 {
    kVertices = 0,
    kIndices = 1,
    kMeshState = 2,
    kRenderState = 3,
    kLights = 4,
    kExtensionData = 5,
    kUVs = 6,
};

constexpr GLsizei kStride = sizeof(ObjSpace3DVertex);

// OpenGL primitive modes by primitive type.
GLenum primitiveModes[7] = {};
// Hardware lights the previous mesh left enabled; -1 while unknown.
int32 lightsEnabled = -1;

struct Draw {
    GLenum mode;
    const Cluster* indices;
    GLsizei numVertices;
};
using DrawFn = void (*)(const Draw& draw);

void DefaultDraw(const Draw& draw) {
    if (draw.indices != nullptr && draw.indices->numUsed > 0) {
        gl.DrawElements(draw.mode, static_cast<GLsizei>(draw.indices->numUsed), GL_UNSIGNED_INT, draw.indices->data);
    } else {
        gl.DrawArrays(draw.mode, 0, draw.numVertices);
    }
}

bool TypeOpen(NodeType* /*type*/) {
    const GLenum modes[7] = {GL_POINTS,         GL_LINES,        GL_LINE_STRIP, GL_TRIANGLES,
                             GL_TRIANGLE_STRIP, GL_TRIANGLE_FAN, GL_POINTS};
    for (int32 i = 0; i < 7; ++i) primitiveModes[i] = modes[i];
    // Whatever an earlier user of the context left on is turned off by the
    // first mesh drawn.
    lightsEnabled = -1;
    return true;
}

bool NodeOpen(PipelineNode* node) {
    *static_cast<DrawFn*>(node->privateData) = DefaultDraw;
    return true;
}

void LightColour(const Light* light, GLfloat out[4]) {
    const RGBAReal& c = light->color;
    const bool grey = (light->object.object.privateFlags & kLightPrivateGrey) != 0;
    out[0] = c.red;
    out[1] = grey ? c.red : c.green;
    out[2] = grey ? c.red : c.blue;
    out[3] = 1.0f;
}

const Matrix* LightMatrix(const Light* light) {
    Frame* frame = LightGetFrame(light);
    return frame != nullptr ? FrameGetWorldMatrix(frame) : nullptr;
}

// Lights are given while the model-view matrix holds the camera's view, so
// their positions are taken in world space.
void SetHardwareLight(GLenum id, const Light* light) {
    static const GLfloat kBlack[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    static const GLfloat kNoCutoff = 180.0f;
    GLfloat colour[4];
    LightColour(light, colour);
    const Matrix* m = LightMatrix(light);
    const V3d at = m != nullptr ? m->at : V3d{0.0f, 0.0f, 1.0f};
    const V3d pos = m != nullptr ? m->pos : V3d{0.0f, 0.0f, 0.0f};
    gl.Lightfv(id, GL_AMBIENT, kBlack);
    gl.Lightfv(id, GL_DIFFUSE, colour);
    const uint8 type = LightGetType(light);
    if (type == LightDirectional) {
        const GLfloat position[4] = {-at.x, -at.y, -at.z, 0.0f};
        gl.Lightfv(id, GL_POSITION, position);
        gl.Lightfv(id, GL_SPOT_CUTOFF, &kNoCutoff);
        return;
    }
    const GLfloat position[4] = {pos.x, pos.y, pos.z, 1.0f};
    gl.Lightfv(id, GL_POSITION, position);
    const GLfloat constant = LightGetConstantAttenuation(light);
    const GLfloat linear = LightGetLinearAttenuation(light);
    const GLfloat quadratic = LightGetQuadraticAttenuation(light);
    if (type == LightPointHW) {
        gl.Lightfv(id, GL_SPOT_CUTOFF, &kNoCutoff);
    } else {
        const GLfloat direction[3] = {at.x, at.y, at.z};
        gl.Lightfv(id, GL_SPOT_DIRECTION, direction);
        GLfloat cutoff = LightGetConeAngle(light) * 57.29579f;
        if (cutoff > 90.0f) cutoff = 90.0f;
        if (cutoff < 0.0f) cutoff = 0.0f;
        gl.Lightfv(id, GL_SPOT_CUTOFF, &cutoff);
        const GLfloat exponent = type == LightSpotExponentHW ? LightGetSpotExponent(light) : 0.0f;
        gl.Lightfv(id, GL_SPOT_EXPONENT, &exponent);
    }
    gl.Lightfv(id, GL_CONSTANT_ATTENUATION, &constant);
    gl.Lightfv(id, GL_LINEAR_ATTENUATION, &linear);
    gl.Lightfv(id, GL_QUADRATIC_ATTENUATION, &quadratic);
}

struct Lighting {
    int32 numHardware = 0;
    bool ambient = false;
    GLfloat ambientSum[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    ObjSpace3DVertex* litVertices = nullptr;  // our own copy once software lights touched it
};

// False only when the vertices could not be copied for software lighting.
bool ApplyLights(PipelineNode* node, Packet* packet, const Cluster* lights, const MeshState& state, uint32 numVertices,
                 Lighting* out) {
    const int32 maxLights = GlMaxLights();
    for (uint32 i = 0; i < lights->numUsed; ++i) {
        const Light* light = LightsAt(lights, i);
        if (light == nullptr) continue;
        const uint8 type = LightGetType(light);
        switch (type) {
            case LightDirectional:
            case LightPointHW:
            case LightSpotHW:
            case LightSpotExponentHW:
                // OpenGL has only so many; the rest are left out.
                if (out->numHardware < maxLights) {
                    SetHardwareLight(static_cast<GLenum>(GL_LIGHT0 + out->numHardware), light);
                    ++out->numHardware;
                }
                break;
            case LightAmbient: {
                GLfloat c[4];
                LightColour(light, c);
                for (int32 k = 0; k < 3; ++k) out->ambientSum[k] += c[k];
                out->ambient = true;
                break;
            }
            case LightPoint:
            case LightSpot:
            case LightSpotSoft: {
                LocalLight local;
                if (!LocalLightPrepare(&local, light, &state)) break;
                if (out->litVertices == nullptr) {
                    // Opening for writing gives the packet its own copy: the
                    // cache keeps the unlit colours.
                    Cluster* writable = ClusterOpen(packet, kVertices, node);
                    if (writable == nullptr) return false;
                    out->litVertices = static_cast<ObjSpace3DVertex*>(writable->data);
                }
                LocalLightApply(local, out->litVertices, numVertices);
                break;
            }
            default:
                break;
        }
    }
    return true;
}

void EnableHardwareLights(int32 used) {
    for (int32 n = 0; n < used; ++n) gl.Enable(static_cast<GLenum>(GL_LIGHT0 + n));
    const int32 enabled = lightsEnabled >= 0 ? lightsEnabled : GlMaxLights();
    for (int32 n = used; n < enabled; ++n) gl.Disable(static_cast<GLenum>(GL_LIGHT0 + n));
    lightsEnabled = used;
}

// What one mesh's submission turned on, so that exactly that is turned off.
struct Submission {
    const MeshState* state = nullptr;
    const RenderStateRecord* record = nullptr;
    const uint8* base = nullptr;  // the vertices the arrays point into
    uint32 numVertices = 0;
    bool textured = false;
    bool colourArray = false;
    bool normalArray = false;
    bool colourMaterial = false;
    bool lit = false;
    bool rangeOff = false;
};

// Lighting: the material terms of the hardware lights and the ambient light,
// and colour tracking when the vertices carry colours.
void SubmitLighting(const Lighting& lighting, Submission* sub) {
    const MeshState& state = *sub->state;
    const bool modulate = (state.flags & MeshStateModulate) != 0;
    const RGBA& mat = state.matColour;
    const SurfaceProperties& surface = state.surfaceProps;
    sub->lit = lighting.numHardware > 0 || lighting.ambient;
    if (!sub->lit) {
        if (!sub->colourArray) gl.Color4f(0.0f, 0.0f, 0.0f, modulate ? mat.alpha * kByteToUnit : 1.0f);
        return;
    }
    gl.Enable(GL_LIGHTING);
    gl.LightModelfv(GL_LIGHT_MODEL_AMBIENT, lighting.ambientSum);
    if (lighting.ambient) {
        const real k = surface.ambient;
        const GLfloat ambient[4] = {modulate ? k * mat.red * kByteToUnit : k,
                                    modulate ? k * mat.green * kByteToUnit : k,
                                    modulate ? k * mat.blue * kByteToUnit : k, 1.0f};
        gl.Materialfv(GL_FRONT, GL_AMBIENT, ambient);
        if (modulate && lighting.numHardware == 0) {
            const GLfloat diffuse[4] = {0.0f, 0.0f, 0.0f, mat.alpha * kByteToUnit};
            gl.Materialfv(GL_FRONT, GL_DIFFUSE, diffuse);
        }
    }
    if (lighting.numHardware > 0) {
        const Matrix& m = state.objToWorld;
        if ((m.flags & kMatrixFlagIdentity) != 0) {
            gl.Disable(GL_NORMALIZE);
        } else {
            const real scale = V3dDotProduct(m.right, m.right) - 1.0f;
            if (scale > 0.01f || scale < -0.01f) gl.Enable(GL_NORMALIZE);
        }
        gl.EnableClientState(GL_NORMAL_ARRAY);
        gl.NormalPointer(GL_FLOAT, kStride, sub->base + offsetof(ObjSpace3DVertex, normal));
        sub->normalArray = true;
        const real k = surface.diffuse;
        const GLfloat diffuse[4] = {
            modulate ? k * mat.red * kByteToUnit : k, modulate ? k * mat.green * kByteToUnit : k,
            modulate ? k * mat.blue * kByteToUnit : k, modulate ? mat.alpha * kByteToUnit : 1.0f};
        gl.Materialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    }
    if (sub->colourArray) {
        // The mode is chosen before tracking starts: enabling first would
        // copy the current colour over the diffuse term just set.
        gl.ColorMaterial(GL_FRONT, GL_EMISSION);
        gl.Enable(GL_COLOR_MATERIAL);
        sub->colourMaterial = true;
    } else {
        static const GLfloat kBlack[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        gl.Materialfv(GL_FRONT, GL_EMISSION, kBlack);
    }
}

// Arrays: colours, texture coordinates and positions out of the vertices.
void SubmitArrays(Submission* sub) {
    if (sub->colourArray) {
        // An alpha texture drawn unblended is cut out by its own alpha alone:
        // the vertices' alpha is left out.
        const bool noAlpha =
            (sub->record->flags & RenderStateFlagVertexAlpha) == 0 && sub->textured &&
            GlRasterPixelFormat(static_cast<const Raster*>(sub->record->textureRaster)) == RasterFormat8888;
        gl.EnableClientState(GL_COLOR_ARRAY);
        gl.ColorPointer(noAlpha ? 3 : 4, GL_UNSIGNED_BYTE, kStride, sub->base + offsetof(ObjSpace3DVertex, colour));
    }
    if (sub->textured) {
        gl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
        gl.TexCoordPointer(2, GL_FLOAT, kStride, sub->base + offsetof(ObjSpace3DVertex, u));
    }
    gl.EnableClientState(GL_VERTEX_ARRAY);
    gl.VertexPointer(3, GL_FLOAT, kStride, sub->base);
}

// Draw: the primitives, in object space where the mesh has a transform.
void SubmitDraw(const PipelineNode* node, const Cluster* indices, const Submission& sub) {
    const MeshState& state = *sub.state;
    if (state.primType < 0 || state.primType >= 7) return;
    const Draw draw{primitiveModes[state.primType], indices, static_cast<GLsizei>(sub.numVertices)};
    const DrawFn drawFn = *static_cast<const DrawFn*>(node->privateData);
    if ((state.objToWorld.flags & kMatrixFlagIdentity) == 0) {
        GLfloat m[16];
        GlMatrixFromMatrix(state.objToWorld, m);
        gl.PushMatrix();
        gl.MultMatrixf(m);
        drawFn(draw);
        gl.PopMatrix();
    } else {
        drawFn(draw);
    }
}

// Restore: what the submission turned on goes off again.
void SubmitRestore(const Submission& sub) {
    gl.DisableClientState(GL_VERTEX_ARRAY);
    if (sub.textured) gl.DisableClientState(GL_TEXTURE_COORD_ARRAY);
    if (sub.colourArray) gl.DisableClientState(GL_COLOR_ARRAY);
    if (sub.normalArray) gl.DisableClientState(GL_NORMAL_ARRAY);
    if (sub.colourMaterial) gl.Disable(GL_COLOR_MATERIAL);
    if (sub.lit) gl.Disable(GL_LIGHTING);
    if (sub.rangeOff) gl.EnableClientState(GL_VERTEX_ARRAY_RANGE_NV);
}

// The vertices the arrays read: the vertex-array-range copy holds the cache's
// vertices, valid only while nobody has written to the packet's own.
const uint8* SubmitVertices(const Cluster* vertexCluster, const Cluster* extensionCluster, const Lighting& lighting,
                            bool* rangeOff) {
    const bool softwareLit = lighting.litVertices != nullptr;
    const auto* base = static_cast<const uint8*>(softwareLit ? lighting.litVertices : vertexCluster->data);
    *rangeOff = false;
    if (!GlDevice()->hasArena) return base;
    const auto* extension =
        extensionCluster != nullptr ? static_cast<const OpenGLExtensionData*>(extensionCluster->data) : nullptr;
    if (extension != nullptr && extension->rangeVertices != nullptr && !softwareLit &&
        (vertexCluster->flags & ClusterExternal) != 0) {
        return static_cast<const uint8*>(extension->rangeVertices);
    }
    gl.DisableClientState(GL_VERTEX_ARRAY_RANGE_NV);
    *rangeOff = true;
    return base;
}

bool OpenGLSubmitWithLightRun(PipelineNode* node, const ExecuteParams* params) {
    ExecutionState* execution = PipelineExecutionState();
    Pipeline* pipeline = execution->pipeline;
    Packet* packet = PacketPickUp(pipeline);
    if (packet == nullptr) return true;
    const Cluster* meshCluster = ClusterPeek(packet, kMeshState);
    const Cluster* vertexCluster = ClusterPeek(packet, kVertices);
    if (meshCluster == nullptr || vertexCluster == nullptr) {
        PacketRelease(pipeline);
        return true;
    }
    Submission sub;
    sub.state = static_cast<const MeshState*>(meshCluster->data);
    const MeshState& state = *sub.state;
    const Cluster* renderCluster = ClusterPeek(packet, kRenderState);
    const Cluster* lights = ClusterPeek(packet, kLights);
    RenderStateRecord fallback;
    sub.record = renderCluster != nullptr ? static_cast<const RenderStateRecord*>(renderCluster->data)
                                          : PipelineModuleDefaultRenderState();
    if (sub.record == nullptr) {
        RenderStateSetDefault(&fallback);
        sub.record = &fallback;
    }
    sub.numVertices = state.numVertices < vertexCluster->numUsed ? state.numVertices : vertexCluster->numUsed;

    Lighting lighting;
    if ((state.flags & MeshStateLight) != 0 && lights != nullptr &&
        !ApplyLights(node, packet, lights, state, sub.numVertices, &lighting)) {
        PacketRelease(pipeline);
        return false;
    }
    EnableHardwareLights(lighting.numHardware);
    sub.base = SubmitVertices(vertexCluster, ClusterPeek(packet, kExtensionData), lighting, &sub.rangeOff);
    sub.textured =
        (state.flags & (MeshStateTextured | MeshStateTextured2)) != 0 && sub.record->textureRaster != nullptr;
    RenderStateApplyTexture(*sub.record, sub.textured);
    sub.colourArray = (state.flags & MeshStatePrelit) != 0 || lighting.litVertices != nullptr;

    SubmitLighting(lighting, &sub);
    SubmitArrays(&sub);
    SubmitDraw(node, ClusterPeek(packet, kIndices), sub);
    SubmitRestore(sub);

    if (execution->ok != 0) {
        if (PipelineNode* next = PacketDispatch(pipeline, node, 0)) NodeRun(next, params);
    }
    PacketRelease(pipeline);
    return true;
}

const ClusterUse kClusters[] = {{&clusterObjSpace3DVertices, 0, 0},
                                {&clusterIndices, 0, 0},
                                {&clusterMeshState, 0, 0},
                                {&clusterRenderState, 0, 0},
                                {&clusterLights, 0, 0},
                                {&clusterOpenGLExtensionData, 0, 0},
                                {&clusterUVs, 0, 0}};
const ClusterNeed kNeeds[] = {ClusterRequired, ClusterOptional, ClusterRequired, ClusterOptional,
                              ClusterOptional, ClusterOptional, ClusterOptional};
const ClusterEffect kSubmitOut[] = {ClusterMade,      ClusterUntouched, ClusterUntouched, ClusterUntouched,
                                    ClusterUntouched, ClusterUntouched, ClusterUntouched};
const OutputSpec kOutputs[] = {{"SubmitOut", kSubmitOut, ClusterUntouched}};

NodeType nodeType = {.name = "OpenGLSubmitWithLight.csl",
                     .body = OpenGLSubmitWithLightRun,
                     .typeOpen = TypeOpen,
                     .nodeOpen = NodeOpen,
                     .numClusters = CountOf(kClusters),
                     .clusters = kClusters,
                     .needs = kNeeds,
                     .numOutputs = CountOf(kOutputs),
                     .outputs = kOutputs,
                     .privateSize = static_cast<int32>(sizeof(DrawFn))};

}  // namespace

NodeType* NodeDefinitionGetOpenGLSubmitWithLight() { return &nodeType; }

// Rows of the engine's matrix become GL's columns: the same sixteen floats in
// the order GL reads them, with the homogeneous column filled in.
void GlMatrixFromMatrix(const Matrix& m, GLfloat out[16]) {
    const V3d* rows[4] = {&m.right, &m.up, &m.at, &m.pos};
    for (int32 r = 0; r < 4; ++r) {
        out[r * 4 + 0] = rows[r]->x;
        out[r * 4 + 1] = rows[r]->y;
        out[r * 4 + 2] = rows[r]->z;
        out[r * 4 + 3] = r == 3 ? 1.0f : 0.0f;
    }
}

}  // namespace kv
