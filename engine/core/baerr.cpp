#include "baerr.h"

#include "badevice.h"

namespace kv {

namespace {
int32 errorModuleOffset = -1;
bool errorSlotLive = false;  // the module block exists and was constructed
ErrorReportHook reportHook = nullptr;
void* reportHookData = nullptr;

ErrorRecord* ErrorSlot() {
    if (!errorSlotLive || EngineInstanceGet() == nullptr) return nullptr;
    return PtrAdd<ErrorRecord>(EngineInstanceGet(), errorModuleOffset);
}

void Report(const ErrorRecord* error, int64_t detail) {
    if (reportHook != nullptr) reportHook(error, detail, reportHookData);
}
}  // namespace

static void Keep(const ErrorRecord* error) {
    ErrorRecord* slot = ErrorSlot();
    if (slot == nullptr) return;
    if (slot->pluginID == 0 && slot->errorCode == kErrNoError) {
        slot->errorCode = error->errorCode;
        slot->pluginID = error->errorCode < 0 ? 0 : error->pluginID;
    }
}

const ErrorRecord* ErrorSet(const ErrorRecord* error) {
    Keep(error);
    Report(error, 0);
    return error;
}

void ErrorRaise(int32 module, int32 code) {
    const ErrorRecord e{module, code};
    ErrorSet(&e);
}

void ErrorRaiseDetail(int32 module, int32 code, int64_t detail) {
    const ErrorRecord e{module, code};
    Keep(&e);
    Report(&e, detail);
}

bool ErrorGet(ErrorRecord* out) {
    ErrorRecord* slot = ErrorSlot();
    if (slot == nullptr || (slot->pluginID == 0 && slot->errorCode == kErrNoError)) return false;
    *out = *slot;
    return true;
}

void ErrorClear() {
    if (ErrorRecord* slot = ErrorSlot()) *slot = ErrorRecord{0, kErrNoError};
}

void ErrorSetReportHook(ErrorReportHook hook, void* data) {
    reportHook = hook;
    reportHookData = data;
}

void* ErrorModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    errorModuleOffset = offset;
    *PtrAdd<ErrorRecord>(instance, offset) = ErrorRecord{0, kErrNoError};
    errorSlotLive = true;
    return instance;
}

void* ErrorModuleClose(void* instance, int32 /*offset*/, int32 /*size*/) {
    errorSlotLive = false;
    return instance;
}

}  // namespace kv
