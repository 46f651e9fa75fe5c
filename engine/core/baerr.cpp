#include "baerr.h"

#include "bamodslot.h"

namespace kv {

namespace {
ModuleSlot<ErrorRecord> slot;  // live from the module's constructor to its destructor
ErrorReportHook reportHook = nullptr;
void* reportHookData = nullptr;

ErrorRecord* ErrorSlot() { return slot.Get(); }

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
    *ModuleSlot<ErrorRecord>::At(instance, offset) = ErrorRecord{kModuleNone, kErrNoError};
    slot.Opened(offset);
    return instance;
}

void* ErrorModuleClose(void* instance, int32 /*offset*/, int32 /*size*/) {
    slot.Closed();
    return instance;
}

}  // namespace kv
