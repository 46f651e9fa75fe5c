// Shell events: the application's handler sees every event first; what it
// leaves unhandled gets the skeleton's default.
#include "skeleton.h"

#include <cstring>

#include "engine/assembly/bamodules.h"
#include "engine/core/badevice.h"

namespace kv {

namespace {

struct InputDevice {
    int32 kind;
    int32 registered;
    EventHandler handler;
};

ShellSettings settings = {"Kelvane Application", 0, 0, 0, 0};
InputDevice inputDevices[3] = {{InputKeyboard, 0, nullptr}, {InputMouse, 0, nullptr}, {InputOther, 0, nullptr}};
int32 deviceDialogFlag = 1;

// Default of EventInitialise: bring the engine up, unwinding exactly what was
// done when a step fails.
int32 EngineStartup(void* window) {
    EngineUseStandardModules();
    if (!EngineInit(nullptr, 0)) return EventFailed;
    ShellEvent(EventEngineInitialised, nullptr);
    // The two early failures leave the engine initialised.
    if (ShellEvent(EventPluginAttach, nullptr) == EventFailed) return EventFailed;
    if (ShellEvent(EventInputDeviceAttach, nullptr) == EventFailed) return EventFailed;

    EngineOpenParams params{window};
    if (!EngineOpen(&params)) {
        EngineTerm();
        return EventFailed;
    }
    if (ShellEvent(EventSelectDevice, window) == EventFailed) {
        EngineClose();
        EngineTerm();
        return EventFailed;
    }
    if (!EngineStart()) {
        EngineClose();
        EngineTerm();
        return EventFailed;
    }
    ShellEvent(EventRegisterImageLoaders, nullptr);
    if (!CharsetOpen()) {
        EngineStop();
        EngineClose();
        EngineTerm();
        return EventFailed;
    }
    return EventHandled;
}

void EngineShutdown() {
    CharsetClose();
    EngineStop();
    EngineClose();
    EngineTerm();
}

int32 Default(int32 event, void* data) {
    switch (event) {
        case EventCommandLineArgument:
            ShellEvent(EventFileLoad, data);
            return EventHandled;
        case EventEngineInitialised:
        case EventPostTerminate:
            return EventHandled;
        case EventRegisterImageLoaders:
            return PlatformRegisterImageLoaders() ? EventHandled : EventFailed;
        case EventInitialise:
            return EngineStartup(data);
        case EventTerminate:
            EngineShutdown();
            return EventHandled;
        case EventSelectDevice:
            return PlatformSelectDevice(deviceDialogFlag) ? EventHandled : EventFailed;
        case EventPreInitialise:
            settings = ShellSettings{"Kelvane Application", 0, 0, 0, 0};
            for (InputDevice& d : inputDevices) {
                d.registered = 0;
                d.handler = nullptr;
            }
            PlatformResetRecord();
            return EventHandled;
        case EventPreOption:
            // The whole argument must match: one that merely begins with the
            // option, or spells it in capitals, is not it.
            if (data != nullptr && std::strcmp(static_cast<const char*>(data), "-vms") == 0) {
                deviceDialogFlag = 0;
                return EventHandled;
            }
            return EventFailed;
        default:
            return EventNotHandled;
    }
}

int32 SendToInput(int32 kind, int32 event, void* data) {
    const InputDevice& d = inputDevices[kind];
    if (d.registered == 0 || d.handler == nullptr) return EventNotHandled;
    return d.handler(event, data);
}

}  // namespace

ShellSettings* ShellGetSettings() { return &settings; }
int32 ShellDeviceDialogFlag() { return deviceDialogFlag; }

int32 ShellEvent(int32 event, void* data) {
    const int32 result = AppEventHandler(event, data);
    if (event == EventQuit) settings.quit = 1;
    if (result != EventNotHandled) return result;
    return Default(event, data);
}

int32 ShellDefaultEvent(int32 event, void* data) { return Default(event, data); }

bool InputDeviceRegister(int32 kind, EventHandler handler) {
    if (kind < InputKeyboard || kind > InputOther) return false;
    inputDevices[kind].handler = handler;
    inputDevices[kind].registered = 1;
    return true;
}

int32 KeyboardEvent(int32 event, void* data) { return SendToInput(InputKeyboard, event, data); }
int32 MouseEvent(int32 event, void* data) { return SendToInput(InputMouse, event, data); }

// The character-set module arrives with the on-screen text; until then its
// place in start-up and shut-down is held by a pair that succeeds.
bool CharsetOpen() { return true; }
void CharsetClose() {}

}  // namespace kv
