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

#include "engine/core/badevice.h"

#if __has_include("engine/assembly/bamodules.h")
#include "engine/assembly/bamodules.h"
#else
#if __has_include("engine/math/bavector.h")
#include "engine/math/bamatrix.h"
#include "engine/math/bavector.h"
#define KV_TEST_MATH 1
#endif
#if __has_include("engine/frame/baframe.h")
#include "engine/frame/baframe.h"
#define KV_TEST_FRAME 1
#endif
#if __has_include("engine/stream/bastream.h")
#include "engine/stream/bastream.h"
#define KV_TEST_STREAM 1
#endif
#if __has_include("engine/image/baimage.h")
#include "engine/image/baimage.h"
#include "engine/image/baraster.h"
#include "engine/image/batextur.h"
#include "engine/image/resmem.h"
#define KV_TEST_IMAGE 1
#endif
#if __has_include("engine/camera/bacamera.h")
#include "engine/camera/bacamera.h"
#define KV_TEST_CAMERA 1
#endif
#if __has_include("engine/pipe/bapipe.h")
#include "engine/pipe/bapipe.h"
#define KV_TEST_PIPE 1
#endif
#endif

namespace kv::test {
namespace {

bool UseLinkedModules() {
#if __has_include("engine/assembly/bamodules.h")
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
