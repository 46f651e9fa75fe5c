// The engine instance, its lifecycle and the interface to the rendering device.
#pragma once

#include <initializer_list>

#include "memory.h"
#include "plugin_registry.h"
#include "string_file_functions.h"
#include "types.h"

namespace kv {

// Requests of the device's system function.
enum DeviceRequest : int32 {
    DeviceOpen = 0,
    DeviceClose = 1,
    DeviceStart = 2,
    DeviceStop = 3,
    DeviceGetDeviceRecord = 4,
    DeviceGetNumModes = 5,
    DeviceGetModeInfo = 6,
    DeviceUseMode = 7,
    DeviceFocus = 8,
    DeviceStandards9 = 9,
    DeviceGetMode = 10,
    DeviceStandards = 11,
    DeviceGetNumSubSystems = 13,
    DeviceGetSubSystemInfo = 14,
    DeviceGetCurrentSubSystem = 15,
    DeviceSetSubSystem = 16,
    DeviceFinalizeStart = 17,
    DeviceInitiateStop = 18,
    DeviceGetMaxTextureSize = 19,
};

using DeviceSystemFn = bool (*)(int32 request, void* out, void* inOut, int32 in);

// Render-state numbers shared by every drawing path.
enum RenderStateId : int32 {
    StateTextureRaster = 1,
    StateTextureAddress = 2,
    StateTextureAddressU = 3,
    StateTextureAddressV = 4,
    StateTexturePerspective = 5,
    StateZTestEnable = 6,
    StateShadeMode = 7,
    StateZWriteEnable = 8,
    StateTextureFilter = 9,
    StateSrcBlend = 10,
    StateDestBlend = 11,
    StateVertexAlphaEnable = 12,
    StateBorderColour = 13,
    StateFogEnable = 14,
    StateFogColour = 15,
    StateFogType = 16,
    StateFogDensity = 17,
    StateStencilEnable = 20,
    StateStencilFail = 21,
    StateStencilZFail = 22,
    StateStencilZPass = 23,
    StateStencilFunction = 24,
    StateStencilRef = 25,
    StateStencilMask = 26,
    StateCullMode = 27,
};

// The device's screen-space vertex: what the 2D entry points draw.
struct Im2DVertex {
    float x, y, z;
    uint8 r, g, b, a;
    float u, v, tr, tq;  // texture coordinate (s, t, r, q) as sent to OpenGL
    float recipZ;        // reciprocal depth; not used by the device
};
static_assert(sizeof(Im2DVertex) == 36);

enum PrimitiveType : int32 {
    PrimTypeNone = 0,
    PrimTypeLineList = 1,
    PrimTypePolyLine = 2,
    PrimTypeTriList = 3,
    PrimTypeTriStrip = 4,
    PrimTypeTriFan = 5,
    PrimTypePointList = 6,  // no built-in pipeline draws points
};

using RenderStateSetFn = bool (*)(int32 state, std::intptr_t value);
using RenderStateGetFn = bool (*)(int32 state, std::intptr_t* value);
using Im2DRenderLineFn = bool (*)(Im2DVertex* vertices, int32 numVertices, int32 vert1, int32 vert2);
using Im2DRenderTriangleFn = bool (*)(Im2DVertex* vertices, int32 numVertices, int32 vert1, int32 vert2, int32 vert3);
using Im2DRenderPrimitiveFn = bool (*)(int32 primType, Im2DVertex* vertices, int32 numVertices);
using Im2DRenderIndexedPrimitiveFn = bool (*)(int32 primType, Im2DVertex* vertices, int32 numVertices,
                                              const uint32* indices, int32 numIndices);

// The device's record, copied into the engine instance at open.
// Makes the window a device can draw in, hidden, for the platform to show;
// null when it cannot. The platform's own window handle is returned.
using DeviceWindowCreateFn = void* (*)(const char* title, int32 width, int32 height);

// What a device leaves out is absent (null) or zero.
struct DeviceRecord {
    float gammaCorrection = 0.0f;
    DeviceSystemFn system = nullptr;
    float zBufferNear = 0.0f;
    float zBufferFar = 0.0f;
    RenderStateSetFn setRenderState = nullptr;
    RenderStateGetFn getRenderState = nullptr;
    Im2DRenderLineFn im2DRenderLine = nullptr;
    Im2DRenderTriangleFn im2DRenderTriangle = nullptr;
    Im2DRenderPrimitiveFn im2DRenderPrimitive = nullptr;
    Im2DRenderIndexedPrimitiveFn im2DRenderIndexedPrimitive = nullptr;
    // The window the device needs (an OpenGL device fixes its pixel format
    // with the window); null: any plain window of the platform will do.
    DeviceWindowCreateFn windowCreate = nullptr;
    void* unused[3] = {};
};

// A standard function of the device: (argument 1, argument 2, integer).
using StandardFunc = bool (*)(void* out, void* inOut, int32 in);

enum StandardSlot : int32 {
    StdNone = 0,
    StdCameraBeginUpdate = 1,
    StdRGBToPixel = 2,
    StdPixelToRGB = 3,
    StdRasterCreate = 4,
    StdRasterDestroy = 5,
    StdImageGetRaster = 6,
    StdRasterSetImage = 7,
    StdSetRasterContext8 = 8,
    StdImageFindRasterFormat = 9,
    StdCameraEndUpdate = 10,
    StdSetRasterContext = 11,
    StdRasterSubRaster = 12,
    StdRasterClearRect = 13,
    StdRasterClear = 14,
    StdRasterLock = 15,
    StdRasterUnlock = 16,
    StdRasterRender = 17,
    StdRasterRenderScaled = 18,
    StdRasterRenderFast = 19,
    StdRasterShowRaster = 20,
    StdCameraClear = 21,
    StdHintRenderF2B = 22,
    StdRasterLockPalette = 23,
    StdRasterUnlockPalette = 24,
    StdNativeTextureGetSize = 25,
    StdNativeTextureRead = 26,
    StdNativeTextureWrite = 27,
    StdRasterGetMipLevels = 28,
    StdNumStandardFunctions = 29,
};

struct StandardFunctions {
    StandardFunc fn[StdNumStandardFunctions];
};

struct VideoModeInfo {
    int32 width;
    int32 height;
    int32 depth;
    int32 flags;  // bit 0: full-screen mode
};
constexpr int32 kVideoModeFullScreen = 1;

struct SubSystemInfo {
    char name[80];
};

// The parameter of EngineOpen: a record whose first member is the window.
struct EngineOpenParams {
    void* displayID;
};

enum EngineState : int32 {
    EngineStateNotInitialised = 0,
    EngineStateInitialised = 1,
    EngineStateOpened = 2,
    EngineStateStarted = 3,
};

// The core's own modules, for tables of modules.
CoreModule ErrorModuleEntry();
CoreModule StringModuleEntry();

// The modules that EngineInit registers, in their order. The table belongs to
// whoever assembles the engine (the modules live in layers above the core);
// it must outlive the engine. Until one is set the core registers only its
// own modules. A null table restores that.
void EngineSetModules(const CoreModule* modules, int32 count);
const CoreModule* EngineGetModules(int32* count);

// The fixed part of the engine instance; module data follows it.
struct EngineInstance {
    void* curCamera;
    void* curWorld;
    uint32 renderFrame;  // low 16 bits used
    uint32 lightFrame;   // low 16 bits used
    DeviceRecord dOpenDevice;
    StandardFunctions stdFunc;
    LinkList dirtyFrameList;
    FileFunctions fileFuncs;
    StringFunctions stringFuncs;
    MemoryFunctions memoryFuncs;
    void* (*freeListAlloc)(FreeList* list);
    void (*freeListFree)(FreeList* list, void* entry);
    int32 unused82;
    int32 engineStatus;
};

// The current instance (the static one, or the heap copy while open).
EngineInstance* EngineInstanceGet();
// The size of the engine instance with every registered module block.
int32 EngineInstanceSize();
int32 EngineOpenCount();
int32 EngineGetState();

// The device that EngineOpen takes: a function that hands out its record.
// The compiled-in device is installed by the program; tests install fakes.
using DeviceGetInterfaceFn = DeviceRecord* (*)();
void EngineSetDevice(DeviceGetInterfaceFn device);
DeviceGetInterfaceFn EngineGetDevice();
// A minimal device answering the lifecycle requests, with one windowed mode.
DeviceRecord* NullDeviceGetInterface();

bool EngineInit(const MemoryFunctions* memFuncs, uint32 flags);
constexpr uint32 kEngineInitPlainFreeLists = 1;
bool EngineOpen(const EngineOpenParams* params);
bool EngineStart();
bool EngineStop();
bool EngineClose();
bool EngineTerm();

int32 EngineGetNumSubSystems();
SubSystemInfo* EngineGetSubSystemInfo(SubSystemInfo* info, int32 index);
int32 EngineGetCurrentSubSystem();
bool EngineSetSubSystem(int32 index);
int32 EngineGetNumVideoModes();
VideoModeInfo* EngineGetVideoModeInfo(VideoModeInfo* info, int32 index);
int32 EngineGetCurrentVideoMode();
bool EngineSetVideoMode(int32 index);

int32 EngineRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct);
int32 EngineGetPluginOffset(uint32 pluginID);
// Reaches a module's block in the current instance.
inline void* EngineModuleData(int32 offset) { return PtrAdd(EngineInstanceGet(), offset); }

float EngineGetZNear();
float EngineGetZFar();

// Calls a standard function of the device by slot.
bool StandardCall(int32 slot, void* out, void* inOut, int32 in);

bool RenderStateSet(int32 state, std::intptr_t value);
bool RenderStateGet(int32 state, std::intptr_t* value);

// Drawing that sets render states for itself keeps the ones it changes here:
// they are read when it is made and put back, last first, when it goes (list
// a state whose value belongs to another after it, as a texture's filter
// after the texture). A state the device cannot report is left alone.
class RenderStatesKept {
  public:
    RenderStatesKept(std::initializer_list<int32> states);
    ~RenderStatesKept();
    RenderStatesKept(const RenderStatesKept&) = delete;
    RenderStatesKept& operator=(const RenderStatesKept&) = delete;

  private:
    struct Kept {
        int32 state;
        std::intptr_t value;
    };
    static constexpr int32 kMax = 12;
    Kept kept_[kMax] = {};
    int32 count_ = 0;
};

bool Im2DRenderLine(Im2DVertex* vertices, int32 numVertices, int32 vert1, int32 vert2);
bool Im2DRenderTriangle(Im2DVertex* vertices, int32 numVertices, int32 vert1, int32 vert2, int32 vert3);
bool Im2DRenderPrimitive(int32 primType, Im2DVertex* vertices, int32 numVertices);
bool Im2DRenderIndexedPrimitive(int32 primType, Im2DVertex* vertices, int32 numVertices, const uint32* indices,
                                int32 numIndices);

}  // namespace kv
