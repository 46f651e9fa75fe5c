// A device for the device-selection tests: sub-systems with their own video
// modes, a current choice of each, and requests that can be made to fail.
#pragma once

#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "engine/core/badevice.h"

namespace kv::test {

struct ModeDevice {
    static inline std::vector<std::vector<VideoModeInfo>> modes;  // per sub-system
    static inline int32 subSystem = 0;
    static inline std::vector<int32> currentMode;  // per sub-system
    static inline std::set<int32> failing;
    static inline std::vector<int32> setSubSystemCalls;

    static bool System(int32 request, void* out, void* /*inOut*/, int32 in) {
        if (failing.count(request) != 0) return false;
        switch (request) {
            case DeviceGetDeviceRecord:
                std::memcpy(out, Interface(), sizeof(DeviceRecord));
                return true;
            case DeviceOpen:
            case DeviceClose:
            case DeviceStart:
            case DeviceStop:
                return true;
            case DeviceStandards: {
                auto* t = static_cast<StandardFunctions*>(out);
                for (int32 i = 0; i < in; ++i) t->fn[i] = [](void*, void*, int32) { return false; };
                return true;
            }
            case DeviceGetNumSubSystems:
                *static_cast<int32*>(out) = static_cast<int32>(modes.size());
                return true;
            case DeviceGetSubSystemInfo:
                if (in < 0 || in >= static_cast<int32>(modes.size())) return false;
                std::snprintf(static_cast<SubSystemInfo*>(out)->name, 80, "Display %d", in + 1);
                return true;
            case DeviceGetCurrentSubSystem:
                *static_cast<int32*>(out) = subSystem;
                return true;
            case DeviceSetSubSystem:
                setSubSystemCalls.push_back(in);
                if (in < 0 || in >= static_cast<int32>(modes.size())) return false;
                subSystem = in;
                return true;
            case DeviceGetNumModes:
                *static_cast<int32*>(out) = static_cast<int32>(modes[subSystem].size());
                return true;
            case DeviceGetModeInfo:
                if (in < 0 || in >= static_cast<int32>(modes[subSystem].size())) return false;
                *static_cast<VideoModeInfo*>(out) = modes[subSystem][in];
                return true;
            case DeviceGetMode:
                *static_cast<int32*>(out) = currentMode[subSystem];
                return true;
            case DeviceUseMode:
                if (in < 0 || in >= static_cast<int32>(modes[subSystem].size())) return false;
                currentMode[subSystem] = in;
                return true;
            default:
                return false;
        }
    }
    static DeviceRecord* Interface() {
        static DeviceRecord record = {1.0f, System, 0.0f, -65535.0f};
        return &record;
    }
    // Two displays: the first with a window and a full-screen mode, the
    // second with three modes, the current one full-screen.
    static void Reset() {
        modes = {{{640, 480, 32, 0}, {800, 600, 16, kVideoModeFullScreen}},
                 {{1024, 768, 32, kVideoModeFullScreen}, {640, 480, 16, kVideoModeFullScreen}, {320, 200, 8, 0}}};
        subSystem = 0;
        currentMode = {0, 1};
        failing.clear();
        setSubSystemCalls.clear();
    }
};

}  // namespace kv::test
