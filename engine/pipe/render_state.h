// The render-state record that travels in "RenderState.csl" clusters: the
// states a node needs to draw a mesh, captured from the device or copied
// from the pipeline module's default.
#pragma once

#include "engine/core/types.h"

namespace kv {

enum RenderStateRecordFlags : uint32 {
    RenderStateFlagTexturePerspective = 1,  // state 5
    RenderStateFlagZTest = 2,               // state 6
    RenderStateFlagZWrite = 4,              // state 8
    RenderStateFlagVertexAlpha = 8,         // state 12
    RenderStateFlagState19 = 32,            // state 19
};

struct RenderStateRecord {
    uint32 flags;
    int32 shadeMode;      // state 7
    int32 srcBlend;       // state 10
    int32 destBlend;      // state 11
    void* textureRaster;  // state 1; none = null
    int32 addressU;       // state 3
    int32 addressV;       // state 4
    int32 filter;         // state 9
    uint32 borderColour;  // state 13
    int32 fogType;        // state 16
    uint32 fogColour;     // state 15
    int32 state18;
};

// The module default's values.
void RenderStateSetDefault(RenderStateRecord* record);
// Reads the device's current states into *record. A state the device cannot
// report keeps the value already in the record.
void RenderStateCapture(RenderStateRecord* record);

// Sets the device's texture states from the record (its raster, filter and
// addressing when textured, no raster otherwise) and its vertex alpha.
void RenderStateApplyTexture(const RenderStateRecord& record, bool textured);

// Needs the engine started. With capture the record comes from the device,
// else from the pipeline module's default.
RenderStateRecord* RenderStateCreate(bool capture);
bool RenderStateDestroy(RenderStateRecord* record);

}  // namespace kv
