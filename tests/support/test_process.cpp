// What every test program sets up before its tests run.
//
// Its engines start with the modules of the layers it links, in the engine's
// order: the whole table where the assembly is linked, else the part its
// layers provide. The layers a test links are exactly the headers it can
// include.
//
// Tests that draw (KV_TEST_HEADLESS) run on the offscreen video driver and the
// dummy audio driver unless the environment chose others: no display is
// needed, and the programs they start inherit the choice.
#include <cstdlib>
#include <vector>

#include "engine/core/engine.h"

#if __has_include("engine/assembly/standard_modules.h")
#include "engine/assembly/standard_modules.h"
#else
#if __has_include("engine/math/vector.h")
#include "engine/math/matrix.h"
#include "engine/math/vector.h"
#define KV_TEST_MATH 1
#endif
#if __has_include("engine/frame/frame.h")
#include "engine/frame/frame.h"
#define KV_TEST_FRAME 1
#endif
#if __has_include("engine/stream/stream.h")
#include "engine/stream/stream.h"
#define KV_TEST_STREAM 1
#endif
#if __has_include("engine/image/image.h")
#include "engine/image/image.h"
#include "engine/image/raster.h"
#include "engine/image/resource_arena.h"
#include "engine/image/texture.h"
#define KV_TEST_IMAGE 1
#endif
#if __has_include("engine/camera/camera.h")
#include "engine/camera/camera.h"
#define KV_TEST_CAMERA 1
#endif
#if __has_include("engine/pipe/pipeline_module.h")
#include "engine/pipe/pipeline_module.h"
#define KV_TEST_PIPE 1
#endif
#endif

namespace kv::test {
namespace {

bool UseLinkedModules() {
#if __has_include("engine/assembly/standard_modules.h")
    EngineUseStandardModules();
#else
    static std::vector<CoreModule> table;
    table.push_back(ErrorModuleEntry());
#ifdef KV_TEST_MATH
    table.push_back(VectorModuleEntry());
#endif
    table.push_back(StringModuleEntry());
#ifdef KV_TEST_MATH
    table.push_back(MatrixModuleEntry());
#endif
#ifdef KV_TEST_FRAME
    table.push_back(FrameModuleEntry());
#endif
#ifdef KV_TEST_STREAM
    table.push_back(StreamModuleEntry());
#endif
#ifdef KV_TEST_CAMERA
    table.push_back(CameraModuleEntry());
#endif
#ifdef KV_TEST_IMAGE
    table.push_back(ImageModuleEntry());
    table.push_back(RasterModuleEntry());
    table.push_back(TextureModuleEntry());
#endif
#ifdef KV_TEST_PIPE
    table.push_back(PipelineModuleEntry());
#endif
#ifdef KV_TEST_IMAGE
    table.push_back(ResourcesModuleEntry());
#endif
    EngineSetModules(table.data(), static_cast<int32>(table.size()));
#endif
    return true;
}

const bool modulesInstalled = UseLinkedModules();

#ifdef KV_TEST_HEADLESS
const bool headless = [] {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    return true;
}();
#endif

}  // namespace
}  // namespace kv::test

#ifdef KV_TEST_HEADLESS
// In sanitizer builds: the sanitizer's record of the dynamic thread-local
// storage of dlopen'ed libraries misreads this C library's thread vectors once
// the OpenGL driver has run, and the leak checker then scans a made-up range
// and dies (LeakSanitizer's tracer faults at a near-null address). Without
// that record the leak check runs as before. The environment's ASAN_OPTIONS
// still apply on top.
extern "C" const char* __asan_default_options() { return "intercept_tls_get_addr=0"; }
#endif
