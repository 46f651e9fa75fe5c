// The table of OpenGL entry points and its call log.
#include "gl_functions.h"

#include <SDL.h>

#include <cstring>

namespace kv {

GlFunctions gl = {};

namespace {

constexpr int32 kLogLength = 4096;

struct CallLog {
    bool on;
    GlFunctions real;  // the entries the logging ones forward to
    int32 counts[GlNumFunctions];
    GlFunctionIndex order[kLogLength];
    int32 size;  // calls logged since the last clear
};
CallLog callLog = {};

#define KV_GL_NAME(ret, name, params, args) #name,
const char* const functionNames[GlNumFunctions] = {KV_GL_CORE_FUNCTIONS(KV_GL_NAME) KV_GL_EXT_FUNCTIONS(KV_GL_NAME)};
#undef KV_GL_NAME

void Record(GlFunctionIndex f) {
    ++callLog.counts[f];
    callLog.order[callLog.size % kLogLength] = f;
    ++callLog.size;
}

#define KV_GL_LOGGER(ret, name, params, args) \
    ret GLAPIENTRY Log##name params {         \
        Record(GlIndex##name);                \
        return callLog.real.name args;        \
    }
KV_GL_CORE_FUNCTIONS(KV_GL_LOGGER)
KV_GL_EXT_FUNCTIONS(KV_GL_LOGGER)
#undef KV_GL_LOGGER

}  // namespace

void* GlFunctionLookup(const char* name) { return SDL_GL_GetProcAddress(name); }

bool GlFunctionsLoad(const char** missing) {
    GlLogStop();
    GlFunctions loaded = {};
    const char* first = nullptr;
#define KV_GL_LOAD(ret, name, params, args)                                                \
    loaded.name = reinterpret_cast<ret(GLAPIENTRY*) params>(GlFunctionLookup("gl" #name)); \
    if (loaded.name == nullptr && first == nullptr) first = "gl" #name;
    KV_GL_CORE_FUNCTIONS(KV_GL_LOAD)
#undef KV_GL_LOAD
    if (missing != nullptr) *missing = first;
    if (first != nullptr) {
        gl = GlFunctions{};
        return false;
    }
    gl = loaded;
    return true;
}

void GlFunctionsClear() {
    GlLogStop();
    gl = GlFunctions{};
}

void GlLogStart() {
    if (callLog.on) return;
    callLog.real = gl;
    // Only entries that exist are wrapped: a missing extension stays null.
#define KV_GL_WRAP(ret, name, params, args) \
    if (gl.name != nullptr) gl.name = Log##name;
    KV_GL_CORE_FUNCTIONS(KV_GL_WRAP)
    KV_GL_EXT_FUNCTIONS(KV_GL_WRAP)
#undef KV_GL_WRAP
    callLog.on = true;
    GlLogClear();
}

void GlLogStop() {
    if (!callLog.on) return;
    gl = callLog.real;
    callLog.on = false;
}

void GlLogClear() {
    std::memset(callLog.counts, 0, sizeof(callLog.counts));
    callLog.size = 0;
}

int32 GlLogCount(GlFunctionIndex function) {
    return function >= 0 && function < GlNumFunctions ? callLog.counts[function] : 0;
}

int32 GlLogSize() { return callLog.size; }

GlFunctionIndex GlLogAt(int32 position) {
    const int32 first = callLog.size > kLogLength ? callLog.size - kLogLength : 0;
    if (position < first || position >= callLog.size) return GlNumFunctions;
    return callLog.order[position % kLogLength];
}

const char* GlFunctionName(GlFunctionIndex function) {
    return function >= 0 && function < GlNumFunctions ? functionNames[function] : "";
}

}  // namespace kv
