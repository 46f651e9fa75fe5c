#include "flares.h"

#include <cstdio>

#include "engine/core/engine.h"
#include "engine/image/texture.h"
#include "engine/math/rgba.h"
#include "engine/nodes/immediate_3d.h"

namespace kv {

namespace {

constexpr FlareEntry kTable[kFlareCount] = {
    {2, 1.3f, 0.06f, 0.6f},  {3, 1.0f, 0.15f, 0.4f},   {1, 0.5f, 0.3f, 0.3f},   {3, 0.2f, 0.07f, 0.3f},
    {0, 0.05f, 0.06f, 0.3f}, {4, -0.25f, 0.11f, 0.5f}, {4, -0.4f, 0.03f, 0.6f}, {4, -0.6f, 0.06f, 0.4f},
    {4, -1.0f, 0.04f, 0.2f}, {5, 1.0f, 0.45f, 0.4f},   {6, 1.0f, 0.3f, 0.4f},   {7, 1.0f, 0.45f, 0.4f},
};

struct FlareState {
    Texture* textures[kFlareTextureCount];
    V3d positions[kFlareCount];
    V3d u, w;
    Im3DVertex quad[6];  // one flare's two triangles, made again for each
};
FlareState flares{};

}  // namespace

const FlareEntry* FlaresGetTable() { return kTable; }

bool FlaresLoad(int32* failed) {
    for (int32 i = 0; i < kFlareTextureCount; ++i) {
        char name[16], mask[16];
        std::snprintf(name, sizeof name, "flare%d", static_cast<int>(i));
        std::snprintf(mask, sizeof mask, "flare%dm", static_cast<int>(i));
        flares.textures[i] = TextureRead(name, mask);
        if (flares.textures[i] == nullptr) {
            if (failed != nullptr) *failed = i;
            return false;
        }
    }
    return true;
}

void FlaresDestroy() {
    for (Texture*& t : flares.textures) {
        if (t != nullptr) TextureDestroy(t);
        t = nullptr;
    }
}

bool FlaresPlace(const Matrix* camera, const V3d* sun) {
    const V3d& at = camera->at;
    const real d = V3dDotProduct(at, *sun);
    // Behind the camera, or on its plane, where the sun's image would lie at
    // infinity (and the division below would make it so).
    if (!(d > 0.0f)) return false;
    const V3d image = V3dIncrementScaled(camera->pos, *sun, kFlarePlaneDistance / d);
    const V3d centre = V3dIncrementScaled(camera->pos, at, kFlarePlaneDistance);
    const V3d line = V3dSub(image, centre);
    for (int32 i = 0; i < kFlareCount; ++i) flares.positions[i] = V3dIncrementScaled(centre, line, kTable[i].t);
    // Looking straight at the sun the flares collapse onto the centre: the
    // axes are zero, as a zero-length normalisation gives, without raising its
    // error every frame.
    if (V3dDotProduct(line, line) > 0.0f) {
        V3dNormalize(&flares.u, &line);
    } else {
        flares.u = V3d{0.0f, 0.0f, 0.0f};
    }
    flares.w = V3dCrossProduct(flares.u, at);
    return true;
}

void FlaresDraw() {
    const V3d none{0.0f, 0.0f, 0.0f};
    for (int32 i = 0; i < kFlareCount; ++i) {
        const FlareEntry& e = kTable[i];
        const RGBA colour = FlareColour(e.brightness);
        const V3d& p = flares.positions[i];
        const V3d u = V3dScale(flares.u, e.halfSize), w = V3dScale(flares.w, e.halfSize);
        const V3d a = V3dAdd(V3dAdd(p, u), w);  // + u + w
        const V3d b = V3dAdd(V3dSub(p, u), w);  // - u + w
        const V3d c = V3dSub(V3dSub(p, u), w);  // - u - w
        const V3d d = V3dSub(V3dAdd(p, u), w);  // + u - w
        Im3DVertex* q = flares.quad;
        q[0] = Im3DVertex{a, none, colour, 0.0f, 0.0f};
        q[1] = Im3DVertex{b, none, colour, 1.0f, 0.0f};
        q[2] = Im3DVertex{c, none, colour, 1.0f, 1.0f};
        q[3] = q[0];
        q[4] = q[2];
        q[5] = Im3DVertex{d, none, colour, 0.0f, 1.0f};
        Texture* texture = flares.textures[e.texture];
        RenderStateSet(StateTextureRaster,
                       reinterpret_cast<std::intptr_t>(texture != nullptr ? TextureGetRaster(texture) : nullptr));
        // Already in world space: no matrix.
        if (Im3DTransform(q, 6, nullptr, Im3DTransformUV) == nullptr) continue;
        Im3DRenderPrimitive(PrimTypeTriList);
        Im3DEnd();
    }
}

const V3d* FlaresGetPositions() { return flares.positions; }

void FlaresGetAxes(V3d* u, V3d* w) {
    if (u != nullptr) *u = flares.u;
    if (w != nullptr) *w = flares.w;
}

RGBA FlareColour(real brightness) {
    return RGBA{static_cast<uint8>(static_cast<int32>(128.0f * brightness)),
                static_cast<uint8>(static_cast<int32>(64.0f * brightness)),
                static_cast<uint8>(static_cast<int32>(64.0f * brightness)), 255};
}

}  // namespace kv
