#include "render_state.h"

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "pipeline_module.h"

namespace kv {

namespace {

template <typename T>
void Query(int32 state, T* field) {
    std::intptr_t value = 0;
    if (RenderStateGet(state, &value)) *field = static_cast<T>(value);
}

void QueryFlag(int32 state, uint32 bit, uint32* flags) {
    std::intptr_t value = 0;
    if (!RenderStateGet(state, &value)) return;
    if (value != 0) {
        *flags |= bit;
    } else {
        *flags &= ~bit;
    }
}

}  // namespace

void RenderStateSetDefault(RenderStateRecord* r) {
    *r = RenderStateRecord{};
    r->flags = RenderStateFlagTexturePerspective | RenderStateFlagZTest | RenderStateFlagZWrite;
    r->shadeMode = 2;
    r->srcBlend = 5;
    r->destBlend = 6;
    r->textureRaster = nullptr;
    r->addressU = 1;
    r->addressV = 1;
    r->filter = 2;
    r->borderColour = 0xFFFFFFFFu;
    r->fogType = 0;
    r->fogColour = 0xFFFFFFFFu;
    r->state18 = 0;
}

void RenderStateCapture(RenderStateRecord* r) {
    QueryFlag(StateTexturePerspective, RenderStateFlagTexturePerspective, &r->flags);
    QueryFlag(StateZTestEnable, RenderStateFlagZTest, &r->flags);
    QueryFlag(StateZWriteEnable, RenderStateFlagZWrite, &r->flags);
    QueryFlag(StateVertexAlphaEnable, RenderStateFlagVertexAlpha, &r->flags);
    QueryFlag(19, RenderStateFlagState19, &r->flags);
    Query(StateShadeMode, &r->shadeMode);
    Query(StateSrcBlend, &r->srcBlend);
    Query(StateDestBlend, &r->destBlend);
    std::intptr_t raster = 0;
    if (RenderStateGet(StateTextureRaster, &raster)) r->textureRaster = reinterpret_cast<void*>(raster);
    std::intptr_t both = 0;
    if (RenderStateGet(StateTextureAddress, &both)) {
        r->addressU = static_cast<int32>(both);
        r->addressV = static_cast<int32>(both);
    } else {
        Query(StateTextureAddressU, &r->addressU);
        Query(StateTextureAddressV, &r->addressV);
    }
    Query(StateTextureFilter, &r->filter);
    Query(StateBorderColour, &r->borderColour);
    Query(StateFogType, &r->fogType);
    Query(StateFogColour, &r->fogColour);
    Query(18, &r->state18);
}

RenderStateRecord* RenderStateCreate(bool capture) {
    const RenderStateRecord* defaults = PipelineModuleDefaultRenderState();
    if (EngineGetState() != EngineStateStarted || defaults == nullptr) {
        ErrorRaise(kModuleNone, kErrNotReady);
        return nullptr;
    }
    auto* r = static_cast<RenderStateRecord*>(KvMalloc(sizeof(RenderStateRecord)));
    if (r == nullptr) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    *r = *defaults;
    if (capture) RenderStateCapture(r);
    return r;
}

bool RenderStateDestroy(RenderStateRecord* record) {
    if (record == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    KvFree(record);
    return true;
}

void RenderStateApplyTexture(const RenderStateRecord& record, bool textured) {
    if (textured) {
        RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(record.textureRaster));
        RenderStateSet(StateTextureFilter, record.filter);
        if (record.addressU == record.addressV) {
            RenderStateSet(StateTextureAddress, record.addressU);
        } else {
            RenderStateSet(StateTextureAddressU, record.addressU);
            RenderStateSet(StateTextureAddressV, record.addressV);
        }
    } else {
        RenderStateSet(StateTextureRaster, 0);
    }
    RenderStateSet(StateVertexAlphaEnable, (record.flags & RenderStateFlagVertexAlpha) != 0 ? 1 : 0);
}

}  // namespace kv
