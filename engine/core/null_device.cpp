// A device with no output: it answers the lifecycle requests and offers one
// windowed video mode. Programs that render install the OpenGL device instead.
#include <cstring>

#include "engine.h"

namespace kv {

namespace {

bool Fail(void*, void*, int32) { return false; }

bool NullSystem(int32 request, void* out, void* /*inOut*/, int32 in) {
    switch (request) {
        case DeviceOpen:
        case DeviceClose:
        case DeviceStart:
        case DeviceStop:
        case DeviceFocus:
        case DeviceStandards9:
            return true;
        case DeviceGetDeviceRecord:
            std::memcpy(out, NullDeviceGetInterface(), sizeof(DeviceRecord));
            return true;
        case DeviceGetNumModes:
        case DeviceGetMode:
            *static_cast<int32*>(out) = request == DeviceGetNumModes ? 1 : 0;
            return true;
        case DeviceGetModeInfo:
            if (in != 0) return false;
            *static_cast<VideoModeInfo*>(out) = VideoModeInfo{640, 480, 32, 0};
            return true;
        case DeviceUseMode:
            return in == 0;
        case DeviceStandards: {
            auto* table = static_cast<StandardFunctions*>(out);
            for (int32 i = 0; i < in && i < StdNumStandardFunctions; ++i) table->fn[i] = Fail;
            return true;
        }
        default:
            return false;
    }
}

DeviceRecord nullDevice = {.gammaCorrection = 1.0f, .system = NullSystem, .zBufferNear = 0.0f, .zBufferFar = -65535.0f};

}  // namespace

DeviceRecord* NullDeviceGetInterface() { return &nullDevice; }

}  // namespace kv
