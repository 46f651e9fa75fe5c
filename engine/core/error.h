// The engine's error record: the first error raised after start is kept until
// it is cleared; every error is also passed to an optional report hook.
#pragma once

#include "error_codes.h"
#include "types.h"

namespace kv {

// The codes, their modules and their words are listed in error_codes.h.
#define KV_ERROR_GENERAL_ENUM(name, value, words) name = static_cast<int32>(value),
enum ErrorCode : int32 { KV_GENERAL_ERRORS(KV_ERROR_GENERAL_ENUM) };
#undef KV_ERROR_GENERAL_ENUM

// The module under which general codes are stored.
constexpr int32 kModuleNone = 0;

#define KV_ERROR_MODULE_ID(name, value) constexpr int32 name = value;
KV_ERROR_MODULES(KV_ERROR_MODULE_ID)
#undef KV_ERROR_MODULE_ID

#define KV_ERROR_MODULE_CODE(name, module, value, words) constexpr int32 name = value;
KV_MODULE_ERRORS(KV_ERROR_MODULE_CODE)
#undef KV_ERROR_MODULE_CODE

// The streams' name for a read that found too little.
constexpr int32 kErrReadFailed = kErrEndOfStream;

// Module ids of the core modules.
constexpr int32 kIdErrorModule = 1039;
constexpr int32 kIdVectorModule = 1025;
constexpr int32 kIdStringModule = 1037;
constexpr int32 kIdMatrixModule = 1026;
constexpr int32 kIdStreamModule = 1028;
constexpr int32 kIdCameraModule = 1029;
constexpr int32 kIdRasterModule = 1031;
constexpr int32 kIdPipelineModule = 1033;
constexpr int32 kIdIm3DModule = 1034;
constexpr int32 kIdResourcesModule = 1035;

struct ErrorRecord {
    int32 pluginID;
    int32 errorCode;
};

// Records an error. The slot keeps the first error raised while the engine is
// started; later ones are reported to the hook only. Returns the record given.
const ErrorRecord* ErrorSet(const ErrorRecord* error);
// Convenience: ErrorSet({module, code}).
void ErrorRaise(int32 module, int32 code);
// Like ErrorRaise for a general code; the detail (a byte count, a size) goes to
// the report hook only.
void ErrorRaiseDetail(int32 module, int32 code, int64_t detail);

// Copies the kept error into *out; returns false when the slot is empty or the
// engine is not started.
bool ErrorGet(ErrorRecord* out);
// Empties the slot.
void ErrorClear();

// What a general code means, in words for people ("out of memory"); null for
// a code that is not one of the general codes.
const char* ErrorMeaning(int32 code);
// What a code raised under a module means: the general codes' words whatever
// the module, else that module's own; null for a code the table lacks.
const char* ErrorMeaningIn(int32 module, int32 code);

// Every error raised, kept or not, is passed here (null for none).
using ErrorReportHook = void (*)(const ErrorRecord* error, int64_t detail, void* data);
void ErrorSetReportHook(ErrorReportHook hook, void* data);

// The error module's constructor and destructor.
void* ErrorModuleOpen(void* instance, int32 offset, int32 size);
void* ErrorModuleClose(void* instance, int32 offset, int32 size);

}  // namespace kv
