// Render states: a shadow of every state so that OpenGL hears only of
// changes, the tables from engine values to OpenGL enumerants, per-texture
// sampling state, and the choice of the 2D drawing variants.
#include "gl_internal.h"

namespace kv {

namespace {

struct Shadow {
    Raster* texture;
    int32 addressU, addressV;
    int32 filter;
    int32 shade;
    int32 zTest, zWrite;
    int32 srcBlend, destBlend;
    int32 vertexAlpha;
    bool textureHasAlpha;
    int32 fogEnable;
    uint32 fogColour;
    int32 fogType;
    float fogDensity;
    int32 stencilEnable;
    int32 stencilFail, stencilZFail, stencilZPass;
    int32 stencilFunction, stencilRef, stencilMask;
    int32 cullMode;
};
Shadow shadow = {};

// What GL holds of what the device changes; set in full by the defaults.
struct Held {
    uint32 caps;
    bool depthMask;
    GLenum blendSource, blendDestination;
    GLuint texture;
    uint32 clearColour;  // as stored bytes
    bool clearColourKnown;
};
Held held = {};

GLenum CapEnum(uint32 cap) {
    switch (cap) {
        case GlCapBlend:
            return GL_BLEND;
        case GlCapAlphaTest:
            return GL_ALPHA_TEST;
        case GlCapTexture2D:
            return GL_TEXTURE_2D;
        case GlCapFog:
            return GL_FOG;
        case GlCapStencil:
            return GL_STENCIL_TEST;
        case GlCapScissor:
            return GL_SCISSOR_TEST;
        case GlCapCull:
            return GL_CULL_FACE;
        default:
            return GL_DEPTH_TEST;
    }
}

// Sets a cap whatever the shadow believes (the defaults, a new context).
void ForceCap(uint32 cap, bool on) {
    if (on) {
        gl.Enable(CapEnum(cap));
        held.caps |= cap;
    } else {
        gl.Disable(CapEnum(cap));
        held.caps &= ~cap;
    }
}

constexpr GLenum kNone = 0xFFFFFFFF;
// Blend factors by engine value (index 0 unused); kNone marks a refused value.
const GLenum kSrcBlend[12] = {kNone,
                              GL_ZERO,
                              GL_ONE,
                              kNone,
                              kNone,
                              GL_SRC_ALPHA,
                              GL_ONE_MINUS_SRC_ALPHA,
                              GL_DST_ALPHA,
                              GL_ONE_MINUS_DST_ALPHA,
                              GL_DST_COLOR,
                              GL_ONE_MINUS_DST_COLOR,
                              GL_SRC_ALPHA_SATURATE};
const GLenum kDestBlend[12] = {kNone,
                               GL_ZERO,
                               GL_ONE,
                               GL_SRC_COLOR,
                               GL_ONE_MINUS_SRC_COLOR,
                               GL_SRC_ALPHA,
                               GL_ONE_MINUS_SRC_ALPHA,
                               GL_DST_ALPHA,
                               GL_ONE_MINUS_DST_ALPHA,
                               kNone,
                               kNone,
                               kNone};
// The last entry is the device's own (kGlFilterNearestMin), for its blits.
const GLenum kMinFilter[8] = {kNone,
                              GL_NEAREST,
                              GL_LINEAR,
                              GL_NEAREST_MIPMAP_NEAREST,
                              GL_LINEAR_MIPMAP_NEAREST,
                              GL_NEAREST_MIPMAP_LINEAR,
                              GL_LINEAR_MIPMAP_LINEAR,
                              GL_NEAREST};
const GLenum kMagFilter[8] = {kNone, GL_NEAREST, GL_LINEAR, GL_NEAREST, GL_LINEAR, GL_NEAREST, GL_LINEAR, GL_LINEAR};
const GLenum kStencilOp[7] = {kNone, GL_KEEP, GL_ZERO, GL_REPLACE, GL_INCR, GL_DECR, GL_INVERT};
const GLenum kStencilFunction[9] = {kNone,    GL_NEVER,    GL_ALWAYS, GL_LESS,   GL_LEQUAL,
                                    GL_EQUAL, GL_NOTEQUAL, GL_GEQUAL, GL_GREATER};
const GLenum kFogMode[4] = {kNone, GL_LINEAR, GL_EXP, GL_EXP2};

bool InRange(std::intptr_t v, std::intptr_t low, std::intptr_t high) { return v >= low && v <= high; }

// The raster whose device block holds the texture (sub-rasters share their
// parent's).
GlRasterData* TextureBlock(Raster* raster) {
    return GlRasterExt(raster->parentRaster != nullptr ? raster->parentRaster : raster);
}

int32 PixelFormat(const Raster* raster) {
    return (static_cast<int32>(raster->rasterFormat) << 8) & kRasterFormatPixelMask;
}

void ChooseVariants() { Gl2DSelectVariants(shadow.shade == 1, shadow.texture != nullptr); }

// Sampling of the bound texture, kept in its raster's block.
void ApplyAddressTo(Raster* raster, int32 which, int32 value) {
    GlRasterData* t = TextureBlock(raster);
    uint8& own = which == 0 ? t->addressU : t->addressV;
    if (own == value) return;
    gl.TexParameteri(GL_TEXTURE_2D, which == 0 ? GL_TEXTURE_WRAP_S : GL_TEXTURE_WRAP_T,
                     value == 1 ? GL_REPEAT : GL_CLAMP);
    own = static_cast<uint8>(value);
}

// Without mip levels a mipmapped filter would sample nothing: 3 and 4 become
// nearest (1), 5 and 6 linear (2).
const int32 kWithoutLevels[8] = {0, 1, 2, 1, 1, 2, 2, kGlFilterNearestMin};

int32 EffectiveFilter(const Raster* raster, int32 value) {
    const Raster* top = raster->parentRaster != nullptr ? raster->parentRaster : raster;
    const bool levels = ((static_cast<int32>(top->rasterFormat) << 8) & RasterFormatMipmap) != 0;
    return levels ? value : kWithoutLevels[value];
}

void ApplyFilterTo(Raster* raster, int32 value) {
    GlRasterData* t = TextureBlock(raster);
    if (t->filter == value) return;
    const int32 filter = EffectiveFilter(raster, value);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(kMinFilter[filter]));
    if (t->filter == 0 || kMagFilter[EffectiveFilter(raster, t->filter)] != kMagFilter[filter]) {
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLint>(kMagFilter[filter]));
    }
    t->filter = static_cast<uint8>(value);
}

void ApplyAddress(int32 which, int32 value) {
    if (shadow.texture != nullptr) ApplyAddressTo(shadow.texture, which, value);
}
void ApplyFilter(int32 value) {
    if (shadow.texture != nullptr) ApplyFilterTo(shadow.texture, value);
}

bool SetTexture(Raster* raster) {
    if (raster != nullptr) {
        GlStateEnable(GlCapTexture2D, true);
        if (raster != shadow.texture) {
            if (PixelFormat(raster) == RasterFormat8888) {
                if (shadow.vertexAlpha == 0) GlStateEnable(GlCapBlend, true);
                GlStateEnable(GlCapAlphaTest, true);
                shadow.textureHasAlpha = true;
            } else {
                if (shadow.vertexAlpha == 0) GlStateEnable(GlCapBlend, false);
                GlStateEnable(GlCapAlphaTest, false);
                shadow.textureHasAlpha = false;
            }
            const GLuint name = TextureBlock(raster)->textureName;
            if (name != 0) GlStateBindTexture(name);
            shadow.texture = raster;
        }
        ApplyAddress(0, shadow.addressU);
        ApplyAddress(1, shadow.addressV);
        ApplyFilter(shadow.filter);
        ChooseVariants();
        return true;
    }
    if (shadow.texture != nullptr) {
        GlStateEnable(GlCapTexture2D, false);
        if (shadow.textureHasAlpha) {
            GlStateEnable(GlCapAlphaTest, false);
            if (shadow.vertexAlpha == 0) GlStateEnable(GlCapBlend, false);
        }
        shadow.textureHasAlpha = false;
        shadow.texture = nullptr;
        ChooseVariants();
    }
    return true;
}

bool SetAddress(int32 which, std::intptr_t value) {
    if (value != 1 && value != 3) return false;
    ApplyAddress(which, static_cast<int32>(value));
    (which == 0 ? shadow.addressU : shadow.addressV) = static_cast<int32>(value);
    return true;
}

void ApplyStencilFunction() {
    gl.StencilFunc(kStencilFunction[shadow.stencilFunction], shadow.stencilRef,
                   static_cast<GLuint>(shadow.stencilMask));
}

}  // namespace

bool GlRenderStateSet(int32 state, std::intptr_t value) {
    GlMakeCurrent();
    switch (state) {
        case StateTextureRaster:
            return SetTexture(reinterpret_cast<Raster*>(value));
        case StateTextureAddress:
            // Both or neither: a refused value changes nothing.
            if (value != 1 && value != 3) return false;
            return SetAddress(0, value) && SetAddress(1, value);
        case StateTextureAddressU:
            return SetAddress(0, value);
        case StateTextureAddressV:
            return SetAddress(1, value);
        case StateTexturePerspective:
            return value != 0;
        case StateZTestEnable:
        case StateZWriteEnable: {
            if (!InRange(value, 0, 1)) return false;
            int32& own = state == StateZTestEnable ? shadow.zTest : shadow.zWrite;
            if (own != value) {
                own = static_cast<int32>(value);
                if (state == StateZTestEnable) {
                    gl.DepthFunc(value != 0 ? GL_LEQUAL : GL_ALWAYS);
                } else {
                    GlStateDepthMask(value != 0);
                }
            }
            return true;
        }
        case StateShadeMode:
            if (!InRange(value, 1, 2)) return false;
            if (shadow.shade != value) {
                shadow.shade = static_cast<int32>(value);
                gl.ShadeModel(value == 1 ? GL_FLAT : GL_SMOOTH);
                ChooseVariants();
            }
            return true;
        case StateTextureFilter:
            if (!InRange(value, 1, 6)) return false;
            ApplyFilter(static_cast<int32>(value));
            shadow.filter = static_cast<int32>(value);
            return true;
        case StateSrcBlend:
        case StateDestBlend: {
            const GLenum* table = state == StateSrcBlend ? kSrcBlend : kDestBlend;
            if (!InRange(value, 1, 11) || table[value] == kNone) return false;
            int32& own = state == StateSrcBlend ? shadow.srcBlend : shadow.destBlend;
            if (own != value) {
                own = static_cast<int32>(value);
                GlStateBlendFunc(kSrcBlend[shadow.srcBlend], kDestBlend[shadow.destBlend]);
            }
            return true;
        }
        case StateVertexAlphaEnable:
            if (!InRange(value, 0, 1)) return false;
            if (shadow.vertexAlpha != value) {
                shadow.vertexAlpha = static_cast<int32>(value);
                if (value != 0) {
                    if (!shadow.textureHasAlpha) GlStateEnable(GlCapBlend, true);
                } else {
                    gl.Color4f(0.0f, 0.0f, 0.0f, 1.0f);
                    if (!shadow.textureHasAlpha) GlStateEnable(GlCapBlend, false);
                }
            }
            return true;
        case StateFogEnable:
            if (!InRange(value, 0, 1)) return false;
            if (shadow.fogEnable != value) {
                shadow.fogEnable = static_cast<int32>(value);
                GlStateEnable(GlCapFog, value != 0);
            }
            return true;
        case StateFogColour: {
            const auto packed = static_cast<uint32>(value);
            constexpr float k = kByteToUnit;
            const GLfloat c[4] = {static_cast<float>((packed >> 16) & 0xFF) * k,
                                  static_cast<float>((packed >> 8) & 0xFF) * k, static_cast<float>(packed & 0xFF) * k,
                                  static_cast<float>((packed >> 24) & 0xFF) * k};
            gl.Fogfv(GL_FOG_COLOR, c);
            shadow.fogColour = packed;
            return true;
        }
        case StateFogType:
            if (!InRange(value, 1, 3)) return false;
            gl.Fogi(GL_FOG_MODE, static_cast<GLint>(kFogMode[value]));
            shadow.fogType = static_cast<int32>(value);
            return true;
        case StateFogDensity: {
            if (value == 0) return false;
            const float density = *reinterpret_cast<const float*>(value);
            if (density != shadow.fogDensity) {
                gl.Fogf(GL_FOG_DENSITY, density);
                shadow.fogDensity = density;
            }
            return true;
        }
        case StateStencilEnable: {
            if (!InRange(value, 0, 1)) return false;
            if (value != 0) {
                uint8 bits = 0;
                // The pixel format asks for no stencil buffer.
                if (!GlStencilBits(&bits) || bits == 0) return false;
            }
            GlStateEnable(GlCapStencil, value != 0);
            shadow.stencilEnable = static_cast<int32>(value);
            return true;
        }
        case StateStencilFail:
        case StateStencilZFail:
        case StateStencilZPass:
            if (!InRange(value, 1, 6)) return false;
            (state == StateStencilFail    ? shadow.stencilFail
             : state == StateStencilZFail ? shadow.stencilZFail
                                          : shadow.stencilZPass) = static_cast<int32>(value);
            gl.StencilOp(kStencilOp[shadow.stencilFail], kStencilOp[shadow.stencilZFail],
                         kStencilOp[shadow.stencilZPass]);
            return true;
        case StateStencilFunction:
            if (!InRange(value, 1, 8)) return false;
            shadow.stencilFunction = static_cast<int32>(value);
            ApplyStencilFunction();
            return true;
        case StateStencilRef:
            shadow.stencilRef = static_cast<int32>(value);
            ApplyStencilFunction();
            return true;
        case StateStencilMask:
            shadow.stencilMask = static_cast<int32>(value);
            ApplyStencilFunction();
            return true;
        case StateCullMode:
            if (!InRange(value, 1, 3)) return false;
            if (shadow.cullMode != value) {
                shadow.cullMode = static_cast<int32>(value);
                GlStateEnable(GlCapCull, value != 1);
                if (value != 1) gl.CullFace(value == 2 ? GL_BACK : GL_FRONT);
            }
            return true;
        default:
            return false;
    }
}

bool GlRenderStateGet(int32 state, std::intptr_t* value) {
    if (value == nullptr) return false;
    switch (state) {
        case StateTextureRaster:
            *value = reinterpret_cast<std::intptr_t>(shadow.texture);
            return true;
        case StateTextureAddress:
            *value = shadow.addressU == shadow.addressV ? shadow.addressU : 0;
            return true;
        case StateTextureAddressU:
            *value = shadow.addressU;
            return true;
        case StateTextureAddressV:
            *value = shadow.addressV;
            return true;
        case StateTexturePerspective:
            *value = 1;
            return true;
        case StateZTestEnable:
            *value = shadow.zTest;
            return true;
        case StateShadeMode:
            *value = shadow.shade;
            return true;
        case StateZWriteEnable:
            *value = shadow.zWrite;
            return true;
        case StateTextureFilter:
            *value = shadow.filter;
            return true;
        case StateSrcBlend:
            *value = shadow.srcBlend;
            return true;
        case StateDestBlend:
            *value = shadow.destBlend;
            return true;
        case StateVertexAlphaEnable:
            *value = shadow.vertexAlpha;
            return true;
        case StateFogEnable:
            *value = shadow.fogEnable;
            return true;
        case StateFogColour:
            *value = static_cast<std::intptr_t>(shadow.fogColour);
            return true;
        case StateFogType:
            *value = shadow.fogType;
            return true;
        case 19:
            *value = 0;
            return true;
        case StateStencilEnable:
            *value = shadow.stencilEnable;
            return true;
        case StateCullMode:
            *value = shadow.cullMode;
            return true;
        default:
            return false;
    }
}

void GlRenderStateDefaults() {
    GlMakeCurrent();
    shadow = Shadow{};
    shadow.addressU = 1;
    shadow.addressV = 1;
    shadow.filter = 2;
    shadow.zTest = 1;
    shadow.zWrite = 1;
    shadow.shade = 2;
    shadow.srcBlend = 5;
    shadow.destBlend = 6;
    shadow.stencilFunction = 2;
    shadow.stencilRef = 0;
    shadow.stencilMask = 1;
    shadow.stencilFail = 1;
    shadow.stencilZFail = 1;
    shadow.stencilZPass = 1;
    // OpenGL's own starting values for fog.
    shadow.fogType = 2;
    shadow.fogDensity = 1.0f;

    gl.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    gl.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // A new context holds GL's own starting values: everything is set, and
    // what GL holds is known from here on.
    held = Held{};
    gl.BindTexture(GL_TEXTURE_2D, 0);
    ForceCap(GlCapDepthTest, true);
    ForceCap(GlCapTexture2D, false);
    ForceCap(GlCapFog, false);
    ForceCap(GlCapStencil, false);
    ForceCap(GlCapScissor, false);
    gl.DepthMask(GL_TRUE);
    held.depthMask = true;
    gl.DepthFunc(GL_LEQUAL);
    gl.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    held.blendSource = GL_SRC_ALPHA;
    held.blendDestination = GL_ONE_MINUS_SRC_ALPHA;
    ForceCap(GlCapBlend, false);
    gl.AlphaFunc(GL_GREATER, 0.0f);
    ForceCap(GlCapAlphaTest, false);
    const GLfloat black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    gl.LightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    for (GLenum light = GL_LIGHT0; light < GL_LIGHT0 + 8; ++light) {
        gl.Lightfv(light, GL_AMBIENT, black);
        gl.Lightfv(light, GL_DIFFUSE, black);
        gl.Lightfv(light, GL_SPECULAR, black);
        gl.Disable(light);
    }
    gl.Materialfv(GL_FRONT, GL_AMBIENT, black);
    gl.Materialfv(GL_FRONT, GL_DIFFUSE, black);
    gl.Materialfv(GL_FRONT, GL_SPECULAR, black);
    gl.Disable(GL_LIGHTING);
    shadow.cullMode = 2;
    ForceCap(GlCapCull, true);
    gl.FrontFace(GL_CCW);
    gl.CullFace(GL_BACK);
    gl.Hint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    gl.MatrixMode(GL_PROJECTION);
    gl.LoadIdentity();
    gl.MatrixMode(GL_MODELVIEW);
    gl.LoadIdentity();
    ChooseVariants();
}

bool GlRenderStateZTestOrWrite() { return shadow.zTest != 0 || shadow.zWrite != 0; }
bool GlRenderStateVertexAlpha() { return shadow.vertexAlpha != 0; }
bool GlRenderStateZWrite() { return shadow.zWrite != 0; }
bool GlRenderStateStencilEnabled() { return shadow.stencilEnable != 0; }
Raster* GlRenderStateTexture() { return shadow.texture; }

void GlRenderStateRasterDestroyed(Raster* raster) {
    if (raster == nullptr || shadow.texture == nullptr) return;
    if (shadow.texture == raster || shadow.texture->parentRaster == raster) SetTexture(nullptr);
}

void GlStateEnable(uint32 cap, bool on) {
    if (((held.caps & cap) != 0) != on) ForceCap(cap, on);
}

void GlStateDepthMask(bool on) {
    if (held.depthMask == on) return;
    gl.DepthMask(on ? GL_TRUE : GL_FALSE);
    held.depthMask = on;
}

void GlStateBlendFunc(GLenum source, GLenum destination) {
    if (held.blendSource == source && held.blendDestination == destination) return;
    gl.BlendFunc(source, destination);
    held.blendSource = source;
    held.blendDestination = destination;
}

void GlStateBindTexture(GLuint name) {
    if (held.texture == name) return;
    gl.BindTexture(GL_TEXTURE_2D, name);
    held.texture = name;
}

// Deleting the bound object binds 0; a new object may reuse the name.
void GlStateTextureDeleted(GLuint name) {
    if (held.texture == name) held.texture = 0;
}

void GlStateTextureSampling(Raster* raster, int32 address, int32 filter) {
    ApplyAddressTo(raster, 0, address);
    ApplyAddressTo(raster, 1, address);
    ApplyFilterTo(raster, filter);
}

GlStateHeld GlStateSave() {
    return GlStateHeld{held.caps, held.depthMask, held.blendSource, held.blendDestination, held.texture};
}

void GlStateRestore(const GlStateHeld& saved) {
    for (uint32 cap = GlCapBlend; cap <= GlCapDepthTest; cap <<= 1) GlStateEnable(cap, (saved.caps & cap) != 0);
    GlStateDepthMask(saved.depthMask);
    GlStateBlendFunc(saved.blendSource, saved.blendDestination);
    GlStateBindTexture(saved.texture);
    // The device's work may have sampled the render state's own texture its
    // way: that texture samples as the render states say again.
    if (shadow.texture != nullptr && TextureBlock(shadow.texture)->textureName == held.texture) {
        ApplyAddress(0, shadow.addressU);
        ApplyAddress(1, shadow.addressV);
        ApplyFilter(shadow.filter);
    }
}

void GlStateClear(GLbitfield mask, const uint8* colour, const GlClearArea& area) {
    if ((mask & GL_COLOR_BUFFER_BIT) != 0 && colour != nullptr) {
        const uint32 packed =
            uint32{colour[0]} | (uint32{colour[1]} << 8) | (uint32{colour[2]} << 16) | (uint32{colour[3]} << 24);
        if (!held.clearColourKnown || packed != held.clearColour) {
            constexpr float k = kByteToUnit;
            gl.ClearColor(colour[0] * k, colour[1] * k, colour[2] * k, colour[3] * k);
            held.clearColour = packed;
            held.clearColourKnown = true;
        }
    }
    const GlStateHeld saved = GlStateSave();
    if (area.scissor) {
        GlStateEnable(GlCapScissor, true);
        gl.Scissor(area.x, area.y, area.width, area.height);
    }
    // Stencil testing would keep the stencil buffer from clearing, depth
    // writes off the depth buffer.
    if ((mask & GL_STENCIL_BUFFER_BIT) != 0) GlStateEnable(GlCapStencil, false);
    if ((mask & GL_DEPTH_BUFFER_BIT) != 0) GlStateDepthMask(true);
    gl.Clear(mask);
    GlStateRestore(saved);
}

}  // namespace kv
