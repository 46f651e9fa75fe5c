#include "engine.h"

#include <cstring>

#include "error.h"

namespace kv {

namespace {

EngineInstance staticInstance{};
EngineInstance* current = nullptr;
int32 openCount = 0;
// Whether the modules' constructors have run and their destructors not yet:
// their blocks live in the open instance until then.
bool modulesLive = false;
PluginRegistry engineRegistry = PluginRegistryMake(sizeof(EngineInstance));
DeviceGetInterfaceFn compiledDevice = NullDeviceGetInterface;
DeviceRecord* openDevice = nullptr;  // the device taken at open

// The string module has no data and nothing to do; it keeps its place (and id)
// in the order of modules.
constexpr CoreModule kCoreOwnModules[] = {
    {"error", static_cast<int32>(sizeof(ErrorRecord)), kIdErrorModule, ErrorModuleOpen, ErrorModuleClose},
    {"string", 0, kIdStringModule, nullptr, nullptr},
};
const CoreModule* modules = kCoreOwnModules;
int32 moduleCount = 2;

void UnsupportedRequest() { ErrorRaise(kModuleCore, kErrCoreUnsupportedRequest); }

// Issues a request to the open device. The engine's own defaults answer
// requests 13 to 18 when the device does not; any other request the device
// fails is reported as unsupported.
bool DeviceCall(int32 request, void* out, void* inOut, int32 in) {
    if (current != nullptr && current->dOpenDevice.system != nullptr &&
        current->dOpenDevice.system(request, out, inOut, in)) {
        return true;
    }
    if (request < DeviceGetNumSubSystems || request > DeviceInitiateStop) UnsupportedRequest();
    return false;
}

}  // namespace

EngineInstance* EngineInstanceGet() { return current; }
int32 EngineInstanceSize() { return engineRegistry.sizeOfStruct; }
int32 EngineOpenCount() { return openCount; }
int32 EngineGetState() { return current != nullptr ? current->engineStatus : EngineStateNotInitialised; }

CoreModule ErrorModuleEntry() { return kCoreOwnModules[0]; }
CoreModule StringModuleEntry() { return kCoreOwnModules[1]; }

void EngineSetModules(const CoreModule* table, int32 count) {
    if (table == nullptr || count <= 0) {
        modules = kCoreOwnModules;
        moduleCount = 2;
    } else {
        modules = table;
        moduleCount = count;
    }
}

const CoreModule* EngineGetModules(int32* count) {
    *count = moduleCount;
    return modules;
}

void EngineSetDevice(DeviceGetInterfaceFn device) {
    compiledDevice = device != nullptr ? device : NullDeviceGetInterface;
}
DeviceGetInterfaceFn EngineGetDevice() { return compiledDevice; }

bool EngineInit(const MemoryFunctions* memFuncs, uint32 flags) {
    current = &staticInstance;
    if ((flags & kEngineInitPlainFreeLists) != 0) {
        current->freeListAlloc = FreeListAllocPlain;
        current->freeListFree = FreeListFreePlain;
    } else {
        current->freeListAlloc = FreeListAlloc;
        current->freeListFree = FreeListFree;
    }
    current->stringFuncs = *StringFunctionsDefault();
    current->memoryFuncs = memFuncs != nullptr ? *memFuncs : *MemoryFunctionsDefault();
    FreeListResetAll();
    current->fileFuncs = *FileFunctionsDefault();
    if (!RegistryOpen()) return false;

    bool ok = true;
    for (int32 i = 0; i < moduleCount; ++i) {
        if (EngineRegisterPlugin(modules[i].size, modules[i].id, modules[i].open, modules[i].close) < 0) ok = false;
    }
    if (!ok) {
        RegistryReset();
        return false;
    }
    current->engineStatus = EngineStateInitialised;
    return true;
}

bool EngineOpen(const EngineOpenParams* params) {
    if (current == nullptr) current = &staticInstance;
    if (current->engineStatus != EngineStateInitialised) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return false;
    }
    if (params == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    openDevice = compiledDevice();

    const auto size = static_cast<std::size_t>(engineRegistry.sizeOfStruct);
    auto* instance = static_cast<EngineInstance*>(current->memoryFuncs.kvmalloc(size));
    if (instance == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(size));
        return false;
    }
    std::memset(static_cast<void*>(instance), 0, size);
    *instance = staticInstance;
    // The dirty list's sentinel lives inside the instance: re-point it.
    LinkListInitialize(&instance->dirtyFrameList);
    current = instance;

    // The record is what DeviceCall reaches the device through, so this one
    // request goes to the device itself; its failure is reported all the same.
    const bool haveRecord = openDevice != nullptr &&
                            openDevice->system(DeviceGetDeviceRecord, &current->dOpenDevice, &current->memoryFuncs, 0);
    if (!haveRecord) UnsupportedRequest();
    if (!haveRecord || !DeviceCall(DeviceOpen, nullptr, const_cast<EngineOpenParams*>(params), 0)) {
        staticInstance = *instance;
        LinkListInitialize(&staticInstance.dirtyFrameList);
        current = &staticInstance;
        staticInstance.memoryFuncs.kvfree(instance);
        return false;
    }
    DeviceCall(DeviceStandards, &current->stdFunc, nullptr, StdNumStandardFunctions);
    ++openCount;
    current->engineStatus = EngineStateOpened;
    return true;
}

bool EngineStart() {
    if (!DeviceCall(DeviceStart, nullptr, nullptr, 0)) return false;
    if (RegistryConstruct(&engineRegistry, current) == nullptr) {
        DeviceCall(DeviceStop, nullptr, nullptr, 0);
        return false;
    }
    modulesLive = true;
    DeviceCall(DeviceFinalizeStart, nullptr, nullptr, 0);
    current->engineStatus = EngineStateStarted;
    return true;
}

bool EngineStop() {
    // Destructing modules that were never constructed (or twice) would free
    // what they do not hold.
    if (!modulesLive) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return false;
    }
    DeviceCall(DeviceInitiateStop, nullptr, nullptr, 0);
    RegistryDestruct(&engineRegistry, current);
    modulesLive = false;
    const bool ok = DeviceCall(DeviceStop, nullptr, nullptr, 0);
    if (ok) current->engineStatus = EngineStateOpened;
    return ok;
}

bool EngineClose() {
    if (current == nullptr || current == &staticInstance) return false;
    // The modules' blocks live in the instance that closing frees: a started
    // engine is stopped first, by the caller.
    if (modulesLive) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return false;
    }
    if (!DeviceCall(DeviceClose, nullptr, nullptr, 0)) return false;
    EngineInstance* instance = current;
    staticInstance = *instance;
    LinkListInitialize(&staticInstance.dirtyFrameList);
    current = &staticInstance;
    staticInstance.memoryFuncs.kvfree(instance);
    --openCount;
    current->engineStatus = EngineStateInitialised;
    openDevice = nullptr;
    return true;
}

bool EngineTerm() {
    if (openCount != 0) return false;
    RegistryReset();
    if (current != nullptr) current->engineStatus = EngineStateNotInitialised;
    return true;
}

int32 EngineGetNumSubSystems() {
    int32 n = 0;
    if (DeviceCall(DeviceGetNumSubSystems, &n, nullptr, 0)) return n;
    return 1;
}

SubSystemInfo* EngineGetSubSystemInfo(SubSystemInfo* info, int32 index) {
    if (DeviceCall(DeviceGetSubSystemInfo, info, nullptr, index)) return info;
    if (index != 0) return nullptr;
    std::strcpy(info->name, "Only rendering sub system");
    return info;
}

int32 EngineGetCurrentSubSystem() {
    int32 n = 0;
    if (DeviceCall(DeviceGetCurrentSubSystem, &n, nullptr, 0)) return n;
    return 0;
}

bool EngineSetSubSystem(int32 index) {
    if (DeviceCall(DeviceSetSubSystem, nullptr, nullptr, index)) return true;
    return index == 0;
}

int32 EngineGetNumVideoModes() {
    int32 n = 0;
    return DeviceCall(DeviceGetNumModes, &n, nullptr, 0) ? n : -1;
}

VideoModeInfo* EngineGetVideoModeInfo(VideoModeInfo* info, int32 index) {
    return DeviceCall(DeviceGetModeInfo, info, nullptr, index) ? info : nullptr;
}

int32 EngineGetCurrentVideoMode() {
    int32 n = 0;
    return DeviceCall(DeviceGetMode, &n, nullptr, 0) ? n : -1;
}

bool EngineSetVideoMode(int32 index) { return DeviceCall(DeviceUseMode, nullptr, nullptr, index); }

int32 EngineRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct) {
    return RegistryRegister(&engineRegistry, size, pluginID, construct, destruct, nullptr);
}

int32 EngineGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&engineRegistry, pluginID); }

float EngineGetZNear() { return current->dOpenDevice.zBufferNear; }
float EngineGetZFar() { return current->dOpenDevice.zBufferFar; }

bool StandardCall(int32 slot, void* out, void* inOut, int32 in) {
    if (current == nullptr || slot < 0 || slot >= StdNumStandardFunctions || current->stdFunc.fn[slot] == nullptr) {
        return false;
    }
    return current->stdFunc.fn[slot](out, inOut, in);
}

bool RenderStateSet(int32 state, std::intptr_t value) {
    if (current == nullptr || current->curCamera == nullptr) {
        ErrorRaise(kModuleCore, kErrCoreNoCamera);
        return false;
    }
    return current->dOpenDevice.setRenderState != nullptr && current->dOpenDevice.setRenderState(state, value);
}

bool RenderStateGet(int32 state, std::intptr_t* value) {
    return current != nullptr && current->dOpenDevice.getRenderState != nullptr &&
           current->dOpenDevice.getRenderState(state, value);
}

RenderStatesKept::RenderStatesKept(std::initializer_list<int32> states) {
    for (const int32 state : states) {
        KV_ASSERT(count_ < kMax);
        if (count_ < kMax && RenderStateGet(state, &kept_[count_].value)) kept_[count_++].state = state;
    }
}

RenderStatesKept::~RenderStatesKept() {
    while (count_ > 0) {
        --count_;
        RenderStateSet(kept_[count_].state, kept_[count_].value);
    }
}

bool Im2DRenderLine(Im2DVertex* vertices, int32 numVertices, int32 vert1, int32 vert2) {
    return current->dOpenDevice.im2DRenderLine != nullptr &&
           current->dOpenDevice.im2DRenderLine(vertices, numVertices, vert1, vert2);
}

bool Im2DRenderTriangle(Im2DVertex* vertices, int32 numVertices, int32 vert1, int32 vert2, int32 vert3) {
    return current->dOpenDevice.im2DRenderTriangle != nullptr &&
           current->dOpenDevice.im2DRenderTriangle(vertices, numVertices, vert1, vert2, vert3);
}

bool Im2DRenderPrimitive(int32 primType, Im2DVertex* vertices, int32 numVertices) {
    return current->dOpenDevice.im2DRenderPrimitive != nullptr &&
           current->dOpenDevice.im2DRenderPrimitive(primType, vertices, numVertices);
}

bool Im2DRenderIndexedPrimitive(int32 primType, Im2DVertex* vertices, int32 numVertices, const uint32* indices,
                                int32 numIndices) {
    return current->dOpenDevice.im2DRenderIndexedPrimitive != nullptr &&
           current->dOpenDevice.im2DRenderIndexedPrimitive(primType, vertices, numVertices, indices, numIndices);
}

}  // namespace kv
