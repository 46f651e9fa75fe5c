// A device for on-screen text, menu and logo tests: the raster device (pixels
// in memory), plus render states kept in a map and every 2D draw recorded with
// the states it was drawn with. The recorded glyph quads can be read back as
// text. A camera of any size draws into an in-memory raster.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/camera/bacamera.h"
#include "fake_device.h"
#include "engine/frame/baframe.h"
#include "engine/image/ktcharse.h"
#include "raster_device.h"

namespace kv::test {

struct TextDevice {
    struct Draw {
        int32 type;
        std::vector<Im2DVertex> vertices;
        std::vector<uint32> indices;
        std::map<int32, std::intptr_t> states;  // as they were at the draw
    };
    static inline std::vector<Draw> draws;
    static inline std::map<int32, std::intptr_t> states;
    static inline std::vector<std::pair<int32, std::intptr_t>> stateSets;

    static void Reset() {
        draws.clear();
        stateSets.clear();
        states = {{StateTextureRaster, 0},     {StateZTestEnable, 1}, {StateZWriteEnable, 1},
                  {StateTextureFilter, 2},     {StateSrcBlend, 5},    {StateDestBlend, 6},
                  {StateVertexAlphaEnable, 0}, {StateCullMode, 2},    {StateShadeMode, 2}};
        DeviceRecord& r = RasterDevice::record;
        r.setRenderState = [](int32 state, std::intptr_t value) {
            states[state] = value;
            stateSets.emplace_back(state, value);
            return true;
        };
        r.getRenderState = [](int32 state, std::intptr_t* value) {
            auto it = states.find(state);
            if (it == states.end()) return false;
            *value = it->second;
            return true;
        };
        r.im2DRenderPrimitive = [](int32 type, Im2DVertex* v, int32 n) {
            draws.push_back(Draw{type, std::vector<Im2DVertex>(v, v + n), {}, states});
            return true;
        };
        r.im2DRenderIndexedPrimitive = [](int32 type, Im2DVertex* v, int32 n, const uint32* i, int32 m) {
            draws.push_back(Draw{type, std::vector<Im2DVertex>(v, v + n), std::vector<uint32>(i, i + m), states});
            return true;
        };
    }

    // Raster from image for 8-bit images too (the character sets are made
    // from one): the palette is expanded into the raster's 32-bit pixels.
    static bool RasterFromImage(void* out, void* inOut, int32 in) {
        if (!RasterDevice::Enter(StdRasterSetImage, out, inOut, in)) return false;
        auto* r = static_cast<Raster*>(out);
        auto* image = static_cast<Image*>(inOut);
        std::vector<uint8>* px = RasterDevice::PixelsOf(r);
        if (px == nullptr) return false;
        for (int32 y = 0; y < r->height && y < image->height; ++y) {
            for (int32 x = 0; x < r->width && x < image->width; ++x) {
                const uint8* src = image->depth == 32 ? image->pixels + y * image->stride + x * 4
                                                      : &image->palette[image->pixels[y * image->stride + x]].red;
                std::copy(src, src + 4, px->data() + y * r->stride + x * 4);
            }
        }
        return true;
    }
};

// One glyph read back from a recorded quad: where its cell's top-left is and
// which character its texture rectangle shows (for an uncut cell).
struct ScreenGlyph {
    Raster* set;
    int32 x, y;
    char c;
};

inline std::vector<ScreenGlyph> Glyphs(const TextDevice::Draw& d) {
    std::vector<ScreenGlyph> out;
    for (std::size_t q = 0; q + 3 < d.vertices.size(); q += 4) {
        const Im2DVertex& v = d.vertices[q];
        const int32 u = static_cast<int32>(std::lround(v.u * 128.0f));
        const int32 t = static_cast<int32>(std::lround(v.v * 128.0f));
        const int32 k = (t / 14) * 16 + u / 8;
        out.push_back(ScreenGlyph{reinterpret_cast<Raster*>(d.states.at(StateTextureRaster)),
                                  static_cast<int32>(std::lround(v.x)), static_cast<int32>(std::lround(v.y)),
                                  static_cast<char>(32 + k)});
    }
    return out;
}

inline std::vector<ScreenGlyph> AllGlyphs() {
    std::vector<ScreenGlyph> out;
    for (const TextDevice::Draw& d : TextDevice::draws) {
        if (d.indices.empty()) continue;  // glyphs are drawn indexed
        for (const ScreenGlyph& g : Glyphs(d)) out.push_back(g);
    }
    return out;
}

// The text drawn on the row at y, from x on (spaces where no glyph was drawn),
// optionally only the glyphs of one set.
inline std::string TextAt(int32 y, int32 x = 0, Raster* set = nullptr) {
    std::vector<ScreenGlyph> row;
    for (const ScreenGlyph& g : AllGlyphs()) {
        if (g.y == y && g.x >= x && (set == nullptr || g.set == set)) row.push_back(g);
    }
    std::sort(row.begin(), row.end(), [](const ScreenGlyph& a, const ScreenGlyph& b) { return a.x < b.x; });
    std::string s;
    for (const ScreenGlyph& g : row) {
        const auto column = static_cast<std::size_t>((g.x - x) / 8);
        if (s.size() < column) s.append(column - s.size(), ' ');
        s += g.c;
    }
    return s;
}

// Memory functions that can be made to fail after a number of allocations.
struct FailingMemory {
    static inline int32 allowed = -1;  // -1: never fail
    static inline int32 taken = 0;     // allocations made
    static bool Take() {
        if (allowed == 0) return false;
        if (allowed > 0) --allowed;
        ++taken;
        return true;
    }
    static void* Malloc(std::size_t n) { return Take() ? std::malloc(n) : nullptr; }
    static void* Realloc(void* p, std::size_t n) { return Take() ? std::realloc(p, n) : nullptr; }
    static void* Calloc(std::size_t a, std::size_t b) { return Take() ? std::calloc(a, b) : nullptr; }
    static const MemoryFunctions* Table() {
        static const MemoryFunctions table = {Malloc, std::free, Realloc, Calloc};
        return &table;
    }
};

// The engine started on the text device with the text module open, and a
// camera of the asked size made current by Begin().
class TextDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RasterDevice::Reset();
        TextDevice::Reset();
        FailingMemory::allowed = -1;
        EngineSetDevice(RasterDevice::Interface);
        ASSERT_TRUE(EngineInit(FailingMemory::Table(), 0));
        BeforeOpen();
        EngineOpenParams p{this};
        ASSERT_TRUE(EngineOpen(&p));
        BeforeStart();
        ASSERT_TRUE(EngineStart());
        EngineInstanceGet()->stdFunc.fn[StdRasterSetImage] = TextDevice::RasterFromImage;
        ASSERT_TRUE(CharsetOpen());
    }
    void TearDown() override {
        FailingMemory::allowed = -1;
        End();
        if (camera != nullptr) CameraDestroy(camera);
        if (frame != nullptr) FrameDestroy(frame);
        if (raster != nullptr) RasterDestroy(raster);
        CharsetClose();
        if (EngineGetState() == EngineStateStarted) EngineStop();
        if (EngineOpenCount() != 0) EngineClose();
        EngineTerm();
        EngineSetDevice(nullptr);
    }
    // Plugins attach here, between init and open.
    virtual void BeforeOpen() {}
    // The device's standard functions can be replaced here.
    virtual void BeforeStart() {}

    // A camera drawing into a width x height raster, current until End().
    Camera* Begin(int32 width, int32 height) {
        raster = RasterCreate(width, height, 0, RasterTypeCamera);
        camera = CameraCreate();
        frame = FrameCreate();
        if (raster == nullptr || camera == nullptr || frame == nullptr) return nullptr;
        CameraSetFrame(camera, frame);
        CameraSetRaster(camera, raster);
        CameraSetNearClipPlane(camera, 0.5f);
        return CameraBeginUpdate(camera);
    }
    void End() {
        if (camera != nullptr && EngineInstanceGet()->curCamera == camera) CameraEndUpdate(camera);
    }

    Camera* camera = nullptr;
    Frame* frame = nullptr;
    Raster* raster = nullptr;
};

}  // namespace kv::test
