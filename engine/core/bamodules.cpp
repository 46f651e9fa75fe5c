#include "bamodules.h"

#include "baerr.h"
#include "engine/camera/bacamera.h"
#include "engine/frame/baframe.h"
#include "engine/image/baimage.h"
#include "engine/image/baraster.h"
#include "engine/image/resmem.h"
#include "engine/math/bamatrix.h"
#include "engine/math/bavector.h"
#include "engine/pipe/bapipe.h"
#include "engine/pipe/nodes/baim3d.h"
#include "engine/stream/bastream.h"

namespace kv {

namespace {
// Modules whose code has not been written yet register their blocks with the
// real ids and sizes and no constructor.
const CoreModule kCoreModules[] = {
    {"error", 8, kIdErrorModule, ErrorModuleOpen, ErrorModuleClose},
    {"vector", static_cast<int32>(sizeof(VectorModuleGlobals)), kIdVectorModule, VectorModuleOpen, VectorModuleClose},
    {"string", 0, kIdStringModule, nullptr, nullptr},
    {"matrix", static_cast<int32>(sizeof(MatrixModuleGlobals)), kIdMatrixModule, MatrixModuleOpen, MatrixModuleClose},
    {"frame", static_cast<int32>(sizeof(FrameModuleGlobals)), kIdFrameModule, FrameModuleOpen, FrameModuleClose},
    {"stream", static_cast<int32>(sizeof(StreamModuleData)), kIdStreamModule, StreamModuleOpen, StreamModuleClose},
    {"camera", static_cast<int32>(sizeof(CameraModule)), kIdCameraModule, CameraModuleOpen, CameraModuleClose},
    {"image", static_cast<int32>(sizeof(ImageModule)), kIdImageModule, ImageModuleOpen, ImageModuleClose},
    {"raster", static_cast<int32>(sizeof(RasterModule)), kIdRasterModule, RasterModuleOpen, RasterModuleClose},
    {"texture", 48, kIdTextureModule, nullptr, nullptr},
    {"pipeline", static_cast<int32>(sizeof(PipelineModule)), kIdPipelineModule, PipelineModuleOpen,
     PipelineModuleClose},
    {"im3d", static_cast<int32>(sizeof(Im3DModule)), kIdIm3DModule, Im3DModuleOpen, Im3DModuleClose},
    {"resources", static_cast<int32>(sizeof(ResourcesModule)), kIdResourcesModule, ResourcesModuleOpen,
     ResourcesModuleClose},
};
}  // namespace

const CoreModule* CoreModules(int32* count) {
    *count = static_cast<int32>(sizeof(kCoreModules) / sizeof(kCoreModules[0]));
    return kCoreModules;
}

void CoreModulesSetGamma(float gamma) { ImageSetGamma(gamma); }

}  // namespace kv
