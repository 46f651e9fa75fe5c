// 2D drawing: screen-space primitives in pixels with a device z, and rasters
// put on the screen as sprites.
#include <cstring>

#include "gl_internal.h"

namespace kv {

namespace {

const GLenum kPrimitive[6] = {0, GL_LINES, GL_LINE_STRIP, GL_TRIANGLES, GL_TRIANGLE_STRIP, GL_TRIANGLE_FAN};

// Per call: colours with or without alpha, positions with or without z. Kept
// as table members so a swapped table (the call log) is honoured.
using ColourFn = void (GLAPIENTRY* GlFunctions::*)(const GLubyte*);
using PositionFn = void (GLAPIENTRY* GlFunctions::*)(const GLfloat*);

struct CallForm {
    ColourFn colour;
    PositionFn position;
};

CallForm Form() {
    return CallForm{GlRenderStateVertexAlpha() ? &GlFunctions::Color4ubv : &GlFunctions::Color3ubv,
                    GlRenderStateZTestOrWrite() ? &GlFunctions::Vertex3fv : &GlFunctions::Vertex2fv};
}

// Pixel (0, 0) is the top-left corner of the camera's raster; z 0 maps to the
// near end of the depth range and -65535 to the far end.
void BeginScreenSpace() {
    gl.MatrixMode(GL_PROJECTION);
    gl.PushMatrix();
    gl.LoadIdentity();
    const Raster* raster = GlCurrentCameraRaster();
    if (raster != nullptr && raster->width > 0 && raster->height > 0) {
        const auto w = static_cast<float>(raster->width), h = static_cast<float>(raster->height);
        if (raster->rasterType == RasterTypeCameraTexture) gl.Scalef(1.0f, -1.0f, 1.0f);
        gl.Scalef(2.0f / w, -2.0f / h, -1.0f / 32767.5f);
        gl.Translatef(-w / 2.0f, -h / 2.0f, 32767.5f);
    }
    gl.MatrixMode(GL_MODELVIEW);
    gl.PushMatrix();
    gl.LoadIdentity();
}

void EndScreenSpace() {
    gl.MatrixMode(GL_MODELVIEW);
    gl.PopMatrix();
    gl.MatrixMode(GL_PROJECTION);
    gl.PopMatrix();
    gl.MatrixMode(GL_MODELVIEW);
}

template <bool Textured>
void SendVertex(const CallForm& form, const Im2DVertex& v) {
    if constexpr (Textured) gl.TexCoord4fv(&v.u);
    (gl.*form.position)(&v.x);
}

// Draws count vertices, vertex i being vertices[indices ? indices[i] : i].
template <bool Flat, bool Textured>
bool Draw(int32 type, const Im2DVertex* vertices, int32 numVertices, const uint32* indices, int32 count) {
    if (type < PrimTypeLineList || type > PrimTypeTriFan || vertices == nullptr || count < 0) return false;
    if (indices != nullptr) {
        // An index past the array would read outside the caller's vertices.
        for (int32 i = 0; i < count; ++i) {
            if (indices[i] >= static_cast<uint32>(numVertices)) return false;
        }
    }
    auto at = [&](int32 i) -> const Im2DVertex& { return vertices[indices != nullptr ? indices[i] : i]; };
    GlMakeCurrent();
    const CallForm form = Form();
    BeginScreenSpace();
    gl.Begin(kPrimitive[type]);
    if constexpr (!Flat) {
        for (int32 i = 0; i < count; ++i) {
            (gl.*form.colour)(&at(i).r);
            SendVertex<Textured>(form, at(i));
        }
    } else if (type == PrimTypeLineList || type == PrimTypeTriList) {
        // OpenGL shades a flat primitive with its last vertex's colour: one
        // colour per group, a trailing short group sent whole all the same.
        const int32 group = type == PrimTypeLineList ? 2 : 3;
        for (int32 first = 0; first < count; first += group) {
            const int32 end = first + group < count ? first + group : count;
            (gl.*form.colour)(&at(end - 1).r);
            for (int32 i = first; i < end; ++i) SendVertex<Textured>(form, at(i));
        }
    } else {
        for (int32 i = 0; i < count; ++i) {
            if (i > 0) (gl.*form.colour)(&at(i).r);
            SendVertex<Textured>(form, at(i));
        }
    }
    gl.End();
    EndScreenSpace();
    return true;
}

template <bool Flat, bool Textured>
bool Primitive(int32 type, Im2DVertex* vertices, int32 numVertices) {
    return Draw<Flat, Textured>(type, vertices, numVertices, nullptr, numVertices);
}

template <bool Flat, bool Textured>
bool IndexedPrimitive(int32 type, Im2DVertex* vertices, int32 numVertices, const uint32* indices, int32 numIndices) {
    if (indices == nullptr) return false;
    return Draw<Flat, Textured>(type, vertices, numVertices, indices, numIndices);
}

const Im2DRenderPrimitiveFn kPrimitiveVariants[2][2] = {{Primitive<false, false>, Primitive<false, true>},
                                                        {Primitive<true, false>, Primitive<true, true>}};
const Im2DRenderIndexedPrimitiveFn kIndexedVariants[2][2] = {
    {IndexedPrimitive<false, false>, IndexedPrimitive<false, true>},
    {IndexedPrimitive<true, false>, IndexedPrimitive<true, true>}};

DeviceRecord* EngineRecord() {
    EngineInstance* instance = EngineInstanceGet();
    return instance != nullptr ? &instance->dOpenDevice : nullptr;
}

uint32 NextPowerOfTwo(int32 v) {
    uint32 p = 1;
    while (p < static_cast<uint32>(v)) p <<= 1;
    return p;
}

int32 PixelFormat(const Raster* raster) {
    return (static_cast<int32>(raster->rasterFormat) << 8) & kRasterFormatPixelMask;
}

// A raster drawn into a raster that is not on the screen: the pixels are
// copied (scaled to the rectangle, nearest texel), clipped to the target.
bool RenderIntoRaster(Raster* target, Raster* source, const Rect& rect) {
    const int32 tf = PixelFormat(target), sf = PixelFormat(source);
    if ((target->rasterFormat & 0x60) != 0 || (source->rasterFormat & 0x60) != 0) return false;  // paletted
    if ((tf != RasterFormat8888 && tf != RasterFormat888) || (sf != RasterFormat8888 && sf != RasterFormat888)) {
        ErrorRaise(kModuleNone, kErrRasterFormat);
        return false;
    }
    uint8* dst = nullptr;
    if (!GlRasterLock(&dst, target, RasterLockWriteBit)) return false;
    uint8* src = nullptr;
    if (!GlRasterLock(&src, source, RasterLockRead)) {
        GlRasterUnlock(nullptr, target, 0);
        return false;
    }
    const int32 tb = tf == RasterFormat8888 ? 4 : 3, sb = sf == RasterFormat8888 ? 4 : 3;
    for (int32 y = 0; y < rect.h; ++y) {
        const int32 ty = rect.y + y;
        if (ty < 0 || ty >= target->height) continue;
        const int32 sy = static_cast<int32>(static_cast<int64_t>(y) * source->height / rect.h);
        for (int32 x = 0; x < rect.w; ++x) {
            const int32 tx = rect.x + x;
            if (tx < 0 || tx >= target->width) continue;
            const int32 sx = static_cast<int32>(static_cast<int64_t>(x) * source->width / rect.w);
            const uint8* s = src + sy * source->stride + sx * sb;
            uint8* t = dst + ty * target->stride + tx * tb;
            t[0] = s[0];
            t[1] = s[1];
            t[2] = s[2];
            if (tb == 4) t[3] = sb == 4 ? s[3] : 255;
        }
    }
    GlRasterUnlock(nullptr, source, 0);
    GlRasterUnlock(nullptr, target, 0);
    return true;
}

enum class RenderKind { Plain, Scaled, Fast };

bool RenderRaster(void* rasterArg, void* rectArg, RenderKind kind) {
    auto* source = static_cast<Raster*>(rasterArg);
    const auto* given = static_cast<const Rect*>(rectArg);
    GlDeviceState* d = GlDevice();
    Raster* target = d->rasterContext;
    if (source == nullptr || given == nullptr || target == nullptr || d->context == nullptr) return false;
    Rect rect = *given;
    if (kind != RenderKind::Scaled) {
        rect.w = source->width;
        rect.h = source->height;
    }
    const int32 sourceType = source->rasterType & kRasterTypeMask;
    if (sourceType != RasterTypeNormal && sourceType != RasterTypeTexture && sourceType != RasterTypeCameraTexture) {
        ErrorRaise(kModuleNone, kErrRasterFormat);
        return false;
    }
    const int32 targetType = target->rasterType & kRasterTypeMask;
    if (targetType != RasterTypeCamera) {
        if (targetType != RasterTypeNormal && targetType != RasterTypeTexture &&
            targetType != RasterTypeCameraTexture) {
            ErrorRaise(kModuleNone, kErrRasterFormat);
            return false;
        }
        if (rect.w <= 0 || rect.h <= 0) return true;
        return RenderIntoRaster(target, source, rect);
    }
    if (rect.w <= 0 || rect.h <= 0 || target->width <= 0 || target->height <= 0) return true;

    GlMakeCurrent();
    Raster* top = source->parentRaster != nullptr ? source->parentRaster : source;
    // Cached state goes through the render-state module and comes back from
    // it; the viewport and current colour come back from GL's own stack.
    const GlStateHeld saved = GlStateSave();
    gl.PushAttrib(GL_CURRENT_BIT | GL_VIEWPORT_BIT);
    gl.Viewport(target->offsetX, GlClientHeight() - target->offsetY - target->height, target->width, target->height);
    gl.MatrixMode(GL_PROJECTION);
    gl.PushMatrix();
    gl.LoadIdentity();
    gl.MatrixMode(GL_MODELVIEW);
    gl.PushMatrix();
    gl.LoadIdentity();

    GlStateBindTexture(GlRasterExt(top)->textureName);
    GlStateEnable(GlCapTexture2D, true);
    // An unscaled axis samples texel centres exactly: nearest there keeps the
    // picture sharp.
    const bool nearestMin = kind == RenderKind::Scaled && (rect.w == source->width || rect.h == source->height);
    GlStateTextureSampling(top, 3, nearestMin ? kGlFilterNearestMin : 2);
    GlStateDepthMask(false);
    GlStateEnable(GlCapDepthTest, false);
    GlStateEnable(GlCapAlphaTest, false);
    GlStateEnable(GlCapCull, false);
    if (kind == RenderKind::Fast || PixelFormat(top) == RasterFormat888) {
        GlStateEnable(GlCapBlend, false);
    } else {
        GlStateEnable(GlCapBlend, true);
        GlStateBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    gl.Color4f(1.0f, 1.0f, 1.0f, 1.0f);

    // The texture holds the parent padded to powers of two.
    const auto pw = static_cast<float>(NextPowerOfTwo(top->width));
    const auto ph = static_cast<float>(NextPowerOfTwo(top->height));
    const float u0 = static_cast<float>(source->offsetX) / pw;
    const float v0 = static_cast<float>(source->offsetY) / ph;
    const float u1 = static_cast<float>(source->offsetX + source->width) / pw;
    const float v1 = static_cast<float>(source->offsetY + source->height) / ph;
    const auto w = static_cast<float>(target->width), h = static_cast<float>(target->height);
    auto nx = [w](float x) { return x / w * 2.0f - 1.0f; };
    auto ny = [h](float y) { return -(y / h * 2.0f - 1.0f); };
    const float x0 = nx(static_cast<float>(rect.x)), x1 = nx(static_cast<float>(rect.x + rect.w));
    const float y0 = ny(static_cast<float>(rect.y)), y1 = ny(static_cast<float>(rect.y + rect.h));
    gl.Begin(GL_QUADS);
    gl.TexCoord2f(u0, v0);
    gl.Vertex2f(x0, y0);
    gl.TexCoord2f(u0, v1);
    gl.Vertex2f(x0, y1);
    gl.TexCoord2f(u1, v1);
    gl.Vertex2f(x1, y1);
    gl.TexCoord2f(u1, v0);
    gl.Vertex2f(x1, y0);
    gl.End();

    gl.MatrixMode(GL_MODELVIEW);
    gl.PopMatrix();
    gl.MatrixMode(GL_PROJECTION);
    gl.PopMatrix();
    gl.MatrixMode(GL_MODELVIEW);
    gl.PopAttrib();
    GlStateRestore(saved);
    return true;
}

}  // namespace

bool Gl2DRenderLine(Im2DVertex* vertices, int32 numVertices, int32 vert1, int32 vert2) {
    const DeviceRecord* record = EngineRecord();
    if (record == nullptr || record->im2DRenderIndexedPrimitive == nullptr || vert1 < 0 || vert2 < 0) return false;
    const uint32 indices[2] = {static_cast<uint32>(vert1), static_cast<uint32>(vert2)};
    return record->im2DRenderIndexedPrimitive(PrimTypeLineList, vertices, numVertices, indices, 2);
}

bool Gl2DRenderTriangle(Im2DVertex* vertices, int32 numVertices, int32 vert1, int32 vert2, int32 vert3) {
    const DeviceRecord* record = EngineRecord();
    if (record == nullptr || record->im2DRenderIndexedPrimitive == nullptr || vert1 < 0 || vert2 < 0 || vert3 < 0) {
        return false;
    }
    const uint32 indices[3] = {static_cast<uint32>(vert1), static_cast<uint32>(vert2), static_cast<uint32>(vert3)};
    return record->im2DRenderIndexedPrimitive(PrimTypeTriList, vertices, numVertices, indices, 3);
}

void Gl2DSelectVariants(bool flat, bool textured) {
    DeviceRecord* record = EngineRecord();
    if (record == nullptr) return;
    record->im2DRenderPrimitive = kPrimitiveVariants[flat ? 1 : 0][textured ? 1 : 0];
    record->im2DRenderIndexedPrimitive = kIndexedVariants[flat ? 1 : 0][textured ? 1 : 0];
}

void Gl2DDefaultVariants(DeviceRecord* record) {
    record->im2DRenderLine = Gl2DRenderLine;
    record->im2DRenderTriangle = Gl2DRenderTriangle;
    record->im2DRenderPrimitive = kPrimitiveVariants[0][0];
    record->im2DRenderIndexedPrimitive = kIndexedVariants[0][0];
}

bool GlRasterRender(void* raster, void* rect, int32) { return RenderRaster(raster, rect, RenderKind::Plain); }
bool GlRasterRenderScaled(void* raster, void* rect, int32) { return RenderRaster(raster, rect, RenderKind::Scaled); }
bool GlRasterRenderFast(void* raster, void* rect, int32) { return RenderRaster(raster, rect, RenderKind::Fast); }

}  // namespace kv
