#include "light_list.h"

#include <cmath>

#include "engine/frame/frame.h"
#include "engine/pipe/standard_clusters.h"
#include "engine/world/light.h"

namespace kv {

namespace {
const ClusterUse kLightsClusters[] = {{.clusterType = &clusterLights}};
const ClusterNeed kLightsNeeds[] = {ClusterIgnored};
const ClusterEffect kLightsMade[] = {ClusterMade};
const OutputSpec kLightsOutputs[] = {
    {.name = "DefaultOutput", .effects = kLightsMade, .otherEffect = ClusterUntouched}};
}  // namespace

NodeType EnumerateLightsNodeType(const char* name, NodeBodyFn body) {
    return NodeType{.name = name,
                    .body = body,
                    .numClusters = 1,
                    .clusters = kLightsClusters,
                    .needs = kLightsNeeds,
                    .numOutputs = 1,
                    .outputs = kLightsOutputs};
}

bool EnumerateLightsRun(PipelineNode* node, const ExecuteParams* params, LightsListFn list) {
    ExecutionState* state = PipelineExecutionState();
    Pipeline* pipeline = state->pipeline;
    if (Packet* packet = PacketPickUp(pipeline)) {
        Cluster* lights = ClusterOpen(packet, 0, node);
        if (lights != nullptr && !list(lights, params->data)) {
            PacketRelease(pipeline);
            return false;
        }
        if (state->ok != 0) {
            if (PipelineNode* next = PacketDispatch(pipeline, node, 0)) NodeRun(next, params);
        }
    }
    PacketRelease(pipeline);
    return true;
}

bool LightsStart(Cluster* lights) {
    if (ClusterAllocate(lights, kLightsGrowth, sizeof(LightRef)) == nullptr) return false;
    lights->numUsed = 0;
    return true;
}

bool LightsAppend(Cluster* lights, Light* light) {
    if (lights->numUsed >= lights->numAlloced && ClusterResize(lights, lights->numAlloced + kLightsGrowth) == nullptr) {
        return false;
    }
    static_cast<LightRef*>(lights->data)[lights->numUsed++] = light;
    return true;
}

bool LightsContain(const Cluster* lights, const Light* light) {
    for (uint32 i = 0; i < lights->numUsed; ++i) {
        if (LightsAt(lights, i) == light) return true;
    }
    return false;
}

bool LocalLightPrepare(LocalLight* out, const Light* light, const MeshState* state) {
    const uint8 type = LightGetType(light);
    if (type != LightPoint && type != LightSpot && type != LightSpotSoft) return false;
    out->type = type;
    V3d position{0.0f, 0.0f, 0.0f};
    V3d direction{0.0f, 0.0f, 1.0f};
    if (Frame* frame = LightGetFrame(light)) {
        const Matrix* m = FrameGetWorldMatrix(frame);
        position = m->pos;
        direction = m->at;
    }
    real radius = light->radius;
    if ((state->objToWorld.flags & kMatrixFlagIdentity) == 0) {
        Matrix inverse;
        MatrixInvert(&inverse, &state->objToWorld);
        V3dTransformPoint(&position, &position, &inverse);
        V3dTransformVector(&direction, &direction, &inverse);
        radius *= V3dLength(&inverse.at);
    }
    // The cone test compares against a cosine: the axis must stay unit
    // length under a scaling object matrix.
    if (V3dLength(&direction) > 0.0f) V3dNormalize(&direction, &direction);
    out->position = position;
    out->direction = direction;
    out->radius = radius;
    out->cone = light->minusCosAngle;

    const RGBAReal& c = light->color;
    const bool grey = (light->object.object.privateFlags & kLightPrivateGrey) != 0;
    real r = c.red, g = grey ? c.red : c.green, b = grey ? c.red : c.blue;
    const real k = state->surfaceProps.diffuse * 255.0f;
    r *= k;
    g *= k;
    b *= k;
    if ((state->flags & MeshStateModulate) != 0) {
        r *= state->matColour.red * kByteToUnit;
        g *= state->matColour.green * kByteToUnit;
        b *= state->matColour.blue * kByteToUnit;
    }
    out->red = r;
    out->green = g;
    out->blue = b;
    return true;
}

real LocalLightAmount(const LocalLight& light, const V3d& position, const V3d& normal) {
    if (light.radius <= 0.0f) return 0.0f;
    const V3d d = V3dSub(light.position, position);
    const real dn = V3dDotProduct(d, normal);
    const real dist2 = V3dDotProduct(d, d);
    if (dn <= 0.0f || dist2 >= light.radius * light.radius) return 0.0f;
    const real dist = std::sqrt(dist2);
    real amount = ((dist > 0.0f ? 1.0f / dist : 0.0f) - 1.0f / light.radius) * dn;
    if (light.type == LightSpot || light.type == LightSpotSoft) {
        const real h = V3dDotProduct(light.direction, d);
        if (!(h < dist * light.cone)) return 0.0f;
        const real edge = dist * light.cone + dist;
        if (light.type == LightSpotSoft && edge > 0.0f) {
            const real f = (dist + h) / edge;
            amount *= 1.0f - f * f;
        }
    }
    return amount;
}

void LocalLightApply(const LocalLight& light, ObjSpace3DVertex* vertices, uint32 count) {
    const auto add = [](uint8& byte, real amount) {
        const real v = static_cast<real>(byte) + amount;
        byte = v >= 255.0f ? uint8{255} : static_cast<uint8>(v);
    };
    for (uint32 i = 0; i < count; ++i) {
        ObjSpace3DVertex& v = vertices[i];
        const real amount = LocalLightAmount(light, v.position, v.normal);
        if (amount <= 0.0f) continue;
        add(v.colour.red, amount * light.red);
        add(v.colour.green, amount * light.green);
        add(v.colour.blue, amount * light.blue);
    }
}

}  // namespace kv
