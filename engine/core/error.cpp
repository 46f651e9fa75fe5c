#include "error.h"

#include <cstdio>
#include <cstdlib>

#include "module_slot.h"

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

const char* ErrorMeaning(int32 code) {
#define KV_ERROR_GENERAL_WORDS(name, value, words) \
    if (code == name) return words;
    KV_GENERAL_ERRORS(KV_ERROR_GENERAL_WORDS)
#undef KV_ERROR_GENERAL_WORDS
    return nullptr;
}

const char* ErrorMeaningIn(int32 module, int32 code) {
    if (code < 0) return ErrorMeaning(code);
#define KV_ERROR_MODULE_WORDS(name, mod, value, words) \
    if (module == mod && code == name) return words;
    KV_MODULE_ERRORS(KV_ERROR_MODULE_WORDS)
#undef KV_ERROR_MODULE_WORDS
    return nullptr;
}

void AssertFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: internal invariant broken: %s\n", file, line, condition);
    std::abort();
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
