// Loading a texture: a 100 x 60 picture of 256 colours read from a BMP file,
// resampled to the raster's size, given a palette again and put into an
// OpenGL texture, in a hidden window on the offscreen driver.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/image/image.h"
#include "engine/image/image_readers.h"
#include "engine/image/raster.h"
#include "engine/image/texture.h"
#include "engine/opengl/gl_device.h"

namespace {

using namespace kv;

// An 8-bit BMP with a palette of 256 colours and smooth shading across it.
bool WritePictureBmp(const std::string& path, int32 w, int32 h) {
    const int32 stride = (w + 3) & ~3;
    const uint32 offset = 14 + 40 + 256 * 4;
    const uint32 size = offset + static_cast<uint32>(stride * h);
    std::vector<uint8> b;
    auto u16 = [&](uint32 v) {
        b.push_back(static_cast<uint8>(v));
        b.push_back(static_cast<uint8>(v >> 8));
    };
    auto u32 = [&](uint32 v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    b.push_back('B');
    b.push_back('M');
    u32(size);
    u32(0);
    u32(offset);
    u32(40);
    u32(static_cast<uint32>(w));
    u32(static_cast<uint32>(h));
    u16(1);
    u16(8);
    u32(0);
    u32(static_cast<uint32>(stride * h));
    u32(2835);
    u32(2835);
    u32(256);
    u32(0);
    for (uint32 i = 0; i < 256; ++i) {
        b.push_back(static_cast<uint8>((i * 7) & 0xFF));  // blue
        b.push_back(static_cast<uint8>(255 - i));         // green
        b.push_back(static_cast<uint8>(i));               // red
        b.push_back(0);
    }
    for (int32 y = 0; y < h; ++y) {
        for (int32 x = 0; x < stride; ++x) b.push_back(static_cast<uint8>(x < w ? (x * 2 + y * 3) & 0xFF : 0));
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

struct GlEngine {
    bool ok = false;
    SDL_Window* window = nullptr;
    std::string dir;

    GlEngine() {
        char pattern[] = "/tmp/kvbenchtex.XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        dir = pattern;
        if (!WritePictureBmp(dir + "/picture.bmp", 100, 60)) return;
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0 || SDL_GL_LoadLibrary(nullptr) != 0) return;
        window = GlWindowCreate("bench", 0, 0, 640, 480, SDL_WINDOW_HIDDEN);
        if (window == nullptr) return;
        EngineSetDevice(GlDeviceGetInterface);
        EngineOpenParams p{window};
        EngineUseStandardModules();
        if (!EngineInit(nullptr, 0) || !EngineOpen(&p) || !EngineSetVideoMode(0) || !EngineStart()) return;
        started = true;
        ok = ImageRegisterFileReaders() && ImageSetPath((dir + "/").c_str()) != nullptr;
    }
    ~GlEngine() {
        if (started) {
            EngineStop();
            EngineClose();
            EngineTerm();
        }
        EngineSetDevice(nullptr);
        if (window != nullptr) SDL_DestroyWindow(window);
        if (!dir.empty()) {
            std::remove((dir + "/picture.bmp").c_str());
            std::remove(dir.c_str());
        }
    }

  private:
    bool started = false;
};

// The picture fitted to 128 x 64 (read, resample, palette again), into an
// 888 texture raster of that size: the loader's work for a device that asks
// for 128 x 64.
void BM_TextureLoad100x60To128x64(benchmark::State& state) {
    GlEngine engine;
    if (!engine.ok) return state.SkipWithError("no OpenGL engine (run with SDL_VIDEODRIVER=offscreen)");
    for (auto _ : state) {
        int32 w = 128, h = 64, depth = 24, flags = RasterTypeTexture | RasterFormat888;
        Image* image = TextureImageRead("picture", nullptr, RasterTypeTexture, &w, &h, &depth, &flags);
        Raster* raster = image != nullptr ? RasterCreate(w, h, depth, flags) : nullptr;
        const bool ok = raster != nullptr && image->depth == 8 && image->width == 128 &&
                        ImageGammaCorrect(image) != nullptr && RasterSetFromImage(raster, image) != nullptr;
        ImageDestroy(image);
        RasterDestroy(raster);
        if (!ok) {
            state.SkipWithError("the picture did not load palettised at 128 x 64");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_TextureLoad100x60To128x64)->Unit(benchmark::kMicrosecond);

// The same through TextureRead on this device, which asks for 64 x 32.
void BM_TextureRead100x60(benchmark::State& state) {
    GlEngine engine;
    if (!engine.ok) return state.SkipWithError("no OpenGL engine (run with SDL_VIDEODRIVER=offscreen)");
    for (auto _ : state) {
        Texture* t = TextureRead("picture", nullptr);
        if (t == nullptr) {
            state.SkipWithError("texture read failed");
            break;
        }
        TextureDestroy(t);  // the last reference: the next read loads again
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_TextureRead100x60)->Unit(benchmark::kMicrosecond);

}  // namespace
