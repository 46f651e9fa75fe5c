#include "standard_modules.h"

#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/frame/frame.h"
#include "engine/image/image.h"
#include "engine/image/raster.h"
#include "engine/image/resource_arena.h"
#include "engine/image/texture.h"
#include "engine/math/matrix.h"
#include "engine/math/vector.h"
#include "engine/nodes/immediate_3d.h"
#include "engine/pipe/pipeline_module.h"
#include "engine/stream/stream.h"

namespace kv {

namespace {
constexpr int32 kStandardModuleCount = 13;

// Built on first use: the entries come from the modules' own files.
const CoreModule* Table() {
    // The order fixes where each module's block lies in the engine instance
    // and the order in which the modules open and close.
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
