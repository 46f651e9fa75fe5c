// A device for tests: it logs every request and fails the ones it is told to.
#pragma once

#include <cstring>
#include <set>
#include <vector>

#include "engine/core/badevice.h"
#include "engine/core/baerr.h"

namespace kv::test {

struct FakeDevice {
    static inline std::vector<int32> requests;
    static inline std::set<int32> failing;
    static inline bool answerSubSystems = false;

    static bool System(int32 request, void* out, void* inOut, int32 in) {
        (void)inOut;
        requests.push_back(request);
        if (failing.count(request) != 0) return false;
        switch (request) {
            case DeviceGetDeviceRecord:
                std::memcpy(out, Interface(), sizeof(DeviceRecord));
                return true;
            case DeviceStandards: {
                auto* t = static_cast<StandardFunctions*>(out);
                for (int32 i = 0; i < in; ++i) t->fn[i] = [](void*, void*, int32) { return false; };
                return true;
            }
            case DeviceGetNumModes:
                *static_cast<int32*>(out) = 2;
                return true;
            case DeviceGetNumSubSystems:
                if (!answerSubSystems) return false;
                *static_cast<int32*>(out) = 3;
                return true;
            case DeviceOpen:
            case DeviceClose:
            case DeviceStart:
            case DeviceStop:
                return true;
            default:
                return false;
        }
    }
    static DeviceRecord* Interface() {
        static DeviceRecord record = {1.0f, System, 0.0f, -65535.0f};
        return &record;
    }
    static void Reset() {
        requests.clear();
        failing.clear();
        answerSubSystems = false;
    }
};

// Collects every error reported, kept or not.
struct ErrorLog {
    std::vector<ErrorRecord> errors;
    ErrorLog() {
        ErrorSetReportHook(
            [](const ErrorRecord* e, int64_t, void* d) { static_cast<ErrorLog*>(d)->errors.push_back(*e); }, this);
    }
    ~ErrorLog() { ErrorSetReportHook(nullptr, nullptr); }
    bool Has(int32 module, int32 code) const {
        for (const ErrorRecord& e : errors) {
            if (e.pluginID == module && e.errorCode == code) return true;
        }
        return false;
    }
};

}  // namespace kv::test
