#include "node_lighting.h"

#include "clip.h"
#include "engine/frame/frame.h"
#include "engine/nodes/light_list.h"
#include "engine/pipe/standard_clusters.h"
#include "engine/world/light.h"

namespace kv {

namespace {

// The vertices to work on: every one, or those a "KxVSteps.csl" cluster
// lists (a first vertex, then the step to each next one).
class VertexWalk {
  public:
    VertexWalk(const Cluster* steps, uint32 numVertices) : numVertices_(numVertices) {
        if (steps != nullptr) {
            steps_ = static_cast<const uint8*>(steps->data);
            count_ = steps->numUsed;
        } else {
            count_ = numVertices;
        }
    }
    template <typename Fn>
    void ForEach(Fn fn) const {
        uint32 v = 0;
        for (uint32 k = 0; k < count_; ++k) {
            v = steps_ == nullptr ? k : (k == 0 ? steps_[0] : v + steps_[k]);
            if (v >= numVertices_) return;
            fn(v);
        }
    }

  private:
    const uint8* steps_ = nullptr;
    uint32 count_ = 0;
    uint32 numVertices_;
};

// Protocol steps around a lighting body: pick up, work unless the packet is
// wholly outside, pass on.
template <typename Work>
bool Run(PipelineNode* node, const ExecuteParams* params, int32 meshIndex, Work work) {
    ExecutionState* execution = PipelineExecutionState();
    Pipeline* pipeline = execution->pipeline;
    Packet* packet = PacketPickUp(pipeline);
    if (packet == nullptr) return true;
    const Cluster* meshCluster = ClusterPeek(packet, meshIndex);
    if (meshCluster != nullptr) {
        const auto* state = static_cast<const MeshState*>(meshCluster->data);
        if (state->clipFlagsAnd == 0 && !work(packet, *state)) {
            PacketRelease(pipeline);
            return false;
        }
    }
    if (execution->ok != 0) {
        if (PipelineNode* next = PacketDispatch(pipeline, node, 0)) NodeRun(next, params);
    }
    PacketRelease(pipeline);
    return true;
}

uint32 Smaller(uint32 a, uint32 b) { return a < b ? a : b; }

const uint8* ObjectBytes(const Cluster* objects) { return static_cast<const uint8*>(objects->data); }

// --- PreLight ---------------------------------------------------------------

enum PreLightCluster : int32 { kPreMesh = 0, kPreObjects = 1, kPreCam = 2, kPreSteps = 3 };

bool PreLightRun(PipelineNode* node, const ExecuteParams* params) {
    return Run(node, params, kPreMesh, [node](Packet* packet, const MeshState&) {
        const Cluster* objects = ClusterPeek(packet, kPreObjects);
        Cluster* cam = ClusterOpen(packet, kPreCam, node);
        if (objects == nullptr || cam == nullptr || cam->data == nullptr) return true;
        auto* c = static_cast<CamSpace3DVertex*>(cam->data);
        const uint8* base = ObjectBytes(objects) + offsetof(ObjSpace3DVertex, colour);
        const uint32 stride = objects->stride;
        VertexWalk(ClusterPeek(packet, kPreSteps), Smaller(objects->numUsed, cam->numUsed)).ForEach([&](uint32 v) {
            const RGBA& k = *reinterpret_cast<const RGBA*>(base + static_cast<std::size_t>(v) * stride);
            c[v].red = k.red;
            c[v].green = k.green;
            c[v].blue = k.blue;
            c[v].alpha = k.alpha;
        });
        return true;
    });
}

// --- Light ------------------------------------------------------------------

enum LightCluster : int32 { kLitMesh = 0, kLitObjects = 1, kLitCam = 2, kLitLights = 3, kLitSteps = 4 };

struct Colour {
    real red, green, blue;
};

Colour LightColour(const Light* light, real scale) {
    const RGBAReal& c = light->color;
    const bool grey = (light->object.object.privateFlags & kLightPrivateGrey) != 0;
    return Colour{c.red * scale, (grey ? c.red : c.green) * scale, (grey ? c.red : c.blue) * scale};
}

void Add(CamSpace3DVertex& v, const Colour& c, real amount) {
    v.red += c.red * amount;
    v.green += c.green * amount;
    v.blue += c.blue * amount;
}

bool LightRun(PipelineNode* node, const ExecuteParams* params) {
    return Run(node, params, kLitMesh, [node](Packet* packet, const MeshState& state) {
        const Cluster* lights = ClusterPeek(packet, kLitLights);
        const Cluster* objects = ClusterPeek(packet, kLitObjects);
        if (lights == nullptr || lights->numUsed == 0 || objects == nullptr) return true;
        Cluster* cam = ClusterOpen(packet, kLitCam, node);
        if (cam == nullptr || cam->data == nullptr) return true;
        auto* c = static_cast<CamSpace3DVertex*>(cam->data);
        const VertexWalk walk(ClusterPeek(packet, kLitSteps), Smaller(objects->numUsed, cam->numUsed));
        const uint8* base = ObjectBytes(objects);
        const uint32 stride = objects->stride;
        auto vertex = [&](uint32 v) {
            return reinterpret_cast<const ObjSpace3DVertex*>(base + static_cast<std::size_t>(v) * stride);
        };
        const bool identity = (state.objToWorld.flags & kMatrixFlagIdentity) != 0;
        Matrix inverse;
        if (!identity) MatrixInvert(&inverse, &state.objToWorld);
        // The material colour is applied once, by PostLight, to everything.
        MeshState unmodulated = state;
        unmodulated.flags &= ~static_cast<uint32>(MeshStateModulate);
        for (uint32 i = 0; i < lights->numUsed; ++i) {
            const Light* light = LightsAt(lights, i);
            if (light == nullptr) continue;
            switch (LightGetType(light)) {
                case LightDirectional: {
                    Frame* frame = LightGetFrame(light);
                    V3d l = frame != nullptr ? V3dNegate(FrameGetWorldMatrix(frame)->at) : V3d{0.0f, 0.0f, -1.0f};
                    if (!identity) V3dTransformVector(&l, &l, &inverse);
                    if (V3dLength(&l) == 0.0f) break;
                    V3dNormalize(&l, &l);
                    const Colour k = LightColour(light, state.surfaceProps.diffuse * 255.0f);
                    walk.ForEach([&](uint32 v) {
                        const real d = V3dDotProduct(vertex(v)->normal, l);
                        if (d > 0.0f) Add(c[v], k, d);
                    });
                    break;
                }
                case LightAmbient: {
                    const Colour k = LightColour(light, state.surfaceProps.ambient * 255.0f);
                    walk.ForEach([&](uint32 v) { Add(c[v], k, 1.0f); });
                    break;
                }
                case LightPoint:
                case LightSpot:
                case LightSpotSoft: {
                    LocalLight local;
                    if (!LocalLightPrepare(&local, light, &unmodulated)) break;
                    const Colour k{local.red, local.green, local.blue};
                    walk.ForEach([&](uint32 v) {
                        const ObjSpace3DVertex* o = vertex(v);
                        const real amount = LocalLightAmount(local, o->position, o->normal);
                        if (amount > 0.0f) Add(c[v], k, amount);
                    });
                    break;
                }
                default:
                    break;
            }
        }
        return true;
    });
}

// --- PostLight --------------------------------------------------------------

enum PostLightCluster : int32 { kPostMesh = 0, kPostCam = 1, kPostScr = 2, kPostSteps = 3 };

uint8 Clamp(real v) { return v >= 255.0f ? uint8{255} : v <= 0.0f ? uint8{0} : static_cast<uint8>(v); }

bool PostLightRun(PipelineNode* node, const ExecuteParams* params) {
    return Run(node, params, kPostMesh, [node](Packet* packet, const MeshState& state) {
        const Cluster* cam = ClusterPeek(packet, kPostCam);
        Cluster* scr = ClusterOpen(packet, kPostScr, node);
        if (cam == nullptr || scr == nullptr || scr->data == nullptr) return true;
        const auto* c = static_cast<const CamSpace3DVertex*>(cam->data);
        auto* s = static_cast<ScrSpace2DVertex*>(scr->data);
        constexpr real kByte = 1.0f / 255.0f;
        const RGBA& mat = state.matColour;
        const bool modulate = (state.flags & MeshStateModulate) != 0 &&
                              !(mat.red == 255 && mat.green == 255 && mat.blue == 255 && mat.alpha == 255);
        const real mr = modulate ? mat.red * kByte : 1.0f;
        const real mg = modulate ? mat.green * kByte : 1.0f;
        const real mb = modulate ? mat.blue * kByte : 1.0f;
        // Alpha is the vertex's own: the material's alpha decides blending
        // (through the render state), it does not fade the vertices.
        VertexWalk(ClusterPeek(packet, kPostSteps), Smaller(cam->numUsed, scr->numUsed)).ForEach([&](uint32 v) {
            s[v].r = Clamp(c[v].red * mr);
            s[v].g = Clamp(c[v].green * mg);
            s[v].b = Clamp(c[v].blue * mb);
            s[v].a = Clamp(c[v].alpha);
        });
        return true;
    });
}

// --- Node types -------------------------------------------------------------

const ClusterUse kPreClusters[] = {{.clusterType = &clusterMeshState},
                                   {.clusterType = &clusterObjSpace3DVertices},
                                   {.clusterType = &clusterCamSpace3DVertices},
                                   {.clusterType = &clusterVSteps}};
const ClusterNeed kPreNeeds[] = {ClusterRequired, ClusterRequired, ClusterRequired, ClusterOptional};
const ClusterEffect kPreEffects[] = {ClusterMade, ClusterMade, ClusterMade, ClusterUntouched};
const OutputSpec kPreOutputs[] = {{.name = "Output", .effects = kPreEffects, .otherEffect = ClusterUntouched}};

const ClusterUse kLitClusters[] = {{.clusterType = &clusterMeshState},
                                   {.clusterType = &clusterObjSpace3DVertices},
                                   {.clusterType = &clusterCamSpace3DVertices},
                                   {.clusterType = &clusterLights},
                                   {.clusterType = &clusterVSteps}};
const ClusterNeed kLitNeeds[] = {ClusterRequired, ClusterRequired, ClusterRequired, ClusterOptional, ClusterOptional};
const ClusterEffect kLitEffects[] = {ClusterUntouched, ClusterUntouched, ClusterMade, ClusterUntouched,
                                     ClusterUntouched};
const OutputSpec kLitOutputs[] = {{.name = "Output", .effects = kLitEffects, .otherEffect = ClusterUntouched}};

const ClusterUse kPostClusters[] = {{.clusterType = &clusterMeshState},
                                    {.clusterType = &clusterCamSpace3DVertices},
                                    {.clusterType = &clusterScrSpace2DVertices},
                                    {.clusterType = &clusterVSteps}};
const ClusterNeed kPostNeeds[] = {ClusterRequired, ClusterRequired, ClusterRequired, ClusterOptional};
const ClusterEffect kPostEffects[] = {ClusterUntouched, ClusterMade, ClusterMade, ClusterUntouched};
const OutputSpec kPostOutputs[] = {{.name = "Output", .effects = kPostEffects, .otherEffect = ClusterUntouched}};

NodeType preLightType = {
    .name = "PreLight.csl",
    .body = PreLightRun,
    .numClusters = 4,
    .clusters = kPreClusters,
    .needs = kPreNeeds,
    .numOutputs = 1,
    .outputs = kPreOutputs,
};
NodeType lightType = {
    .name = "Light.csl",
    .body = LightRun,
    .numClusters = 5,
    .clusters = kLitClusters,
    .needs = kLitNeeds,
    .numOutputs = 1,
    .outputs = kLitOutputs,
};
NodeType postLightType = {
    .name = "PostLight.csl",
    .body = PostLightRun,
    .numClusters = 4,
    .clusters = kPostClusters,
    .needs = kPostNeeds,
    .numOutputs = 1,
    .outputs = kPostOutputs,
};

}  // namespace

NodeType* NodeDefinitionGetPreLight() { return &preLightType; }
NodeType* NodeDefinitionGetLight() { return &lightType; }
NodeType* NodeDefinitionGetPostLight() { return &postLightType; }

}  // namespace kv
