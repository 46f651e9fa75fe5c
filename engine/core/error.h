// The engine's error record: the first error raised after start is kept until
// it is cleared; every error is also passed to an optional report hook.
#pragma once

#include "types.h"

namespace kv {

// General codes have the top bit set and are stored with module 0.
enum ErrorCode : int32 {
    kErrNoError = static_cast<int32>(0x80000000u),
    kErrEngineState = static_cast<int32>(0x80000001u),
    kErrFileOpen = static_cast<int32>(0x80000002u),
    kErrBadCombine = static_cast<int32>(0x80000003u),
    kErrBadVersion = static_cast<int32>(0x80000004u),
    kErrFileDepth = static_cast<int32>(0x80000008u),
    kErrConvertDepth = static_cast<int32>(0x80000009u),
    kErrRasterFormat = static_cast<int32>(0x8000000Du),
    kErrMipLevel = static_cast<int32>(0x8000000Fu),
    kErrNoMemory = static_cast<int32>(0x80000013u),
    kErrNullArgument = static_cast<int32>(0x80000016u),
    kErrPluginWhileOpen = static_cast<int32>(0x80000017u),
    kErrNotReady = static_cast<int32>(0x80000018u),
    kErrEndOfStream = static_cast<int32>(0x8000001Au),
    kErrWriteFailed = static_cast<int32>(0x8000001Cu),
    kErrMaterialGrouping = static_cast<int32>(0x8000001Du),
    kErrNameTooLong = static_cast<int32>(0x8000001Eu),
    // An argument outside the range the operation accepts (a null argument
    // keeps kErrNullArgument).
    kErrOutOfRange = static_cast<int32>(0x80000020u),
};

// The module under which general codes are stored.
constexpr int32 kModuleNone = 0;

// Module-specific codes of the engine core (module 1).
constexpr int32 kModuleCore = 1;
constexpr int32 kErrCoreNoCamera = 16;
constexpr int32 kErrCoreUnsupportedRequest = 24;

// Module ids of the core modules.
constexpr int32 kIdErrorModule = 1039;
constexpr int32 kIdVectorModule = 1025;
constexpr int32 kIdStringModule = 1037;
constexpr int32 kIdMatrixModule = 1026;
constexpr int32 kIdFrameModule = 1027;
constexpr int32 kIdStreamModule = 1028;
constexpr int32 kIdCameraModule = 1029;
constexpr int32 kIdImageModule = 1030;
constexpr int32 kIdRasterModule = 1031;
constexpr int32 kIdTextureModule = 1032;
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

// Every error raised, kept or not, is passed here (null for none).
using ErrorReportHook = void (*)(const ErrorRecord* error, int64_t detail, void* data);
void ErrorSetReportHook(ErrorReportHook hook, void* data);

// The error module's constructor and destructor.
void* ErrorModuleOpen(void* instance, int32 offset, int32 size);
void* ErrorModuleClose(void* instance, int32 offset, int32 size);

}  // namespace kv
