#include "bamodules.h"

#include "engine/camera/bacamera.h"
#include "engine/core/badevice.h"
#include "engine/core/baerr.h"
#include "engine/frame/baframe.h"
#include "engine/image/baimage.h"
#include "engine/image/baraster.h"
#include "engine/image/batextur.h"
#include "engine/image/resmem.h"
#include "engine/math/bamatrix.h"
#include "engine/math/bavector.h"
#include "engine/pipe/bapipe.h"
#include "engine/nodes/immediate_3d.h"
#include "engine/stream/bastream.h"

namespace kv {

namespace {
constexpr int32 kStandardModuleCount = 13;

// Built on first use: the entries come from the modules' own files.
const CoreModule* Table() {
    // Modules whose code has not been written yet register their blocks with
    // the real ids and sizes and no constructor.
    // clang-format off
    static const CoreModule table[kStandardModuleCount] = {
        ErrorModuleEntry(),
        VectorModuleEntry(),
        StringModuleEntry(),
        MatrixModuleEntry(),
        FrameModuleEntry(),
        StreamModuleEntry(),
        CameraModuleEntry(),
        ImageModuleEntry(),
        RasterModuleEntry(),
        TextureModuleEntry(),
        PipelineModuleEntry(),
        Im3DModuleEntry(),
        ResourcesModuleEntry(),
    };
    // clang-format on
    return table;
}
}  // namespace

const CoreModule* EngineStandardModules(int32* count) {
    *count = kStandardModuleCount;
    return Table();
}

void EngineUseStandardModules() { EngineSetModules(Table(), kStandardModuleCount); }

}  // namespace kv
