// Shell events: the application's handler sees every event first; what it
// leaves unhandled gets the skeleton's default.
#include "skeleton.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/core/quoted_name.h"
#include "engine/image/charset.h"

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
const char* const* dataFolders = nullptr;  // null: the platform's
std::string userDataFolder;                // --data, with its '/'; empty for none
std::set<std::string> refusedFiles;        // warned about once each

// The engine errors behind the next failure report.
struct ErrorTrail {
    int32 count;
    ErrorRecord first, last;
    int64_t firstDetail, lastDetail;
    const char* note;  // a reason that is no engine error, or null
};
ErrorTrail trail = {};
bool verbose = false;
const char* noDisplayMessage = nullptr;

void KeepError(const ErrorRecord* error, int64_t detail, void*) {
    if (trail.count++ == 0) {
        trail.first = *error;
        trail.firstDetail = detail;
    }
    trail.last = *error;
    trail.lastDetail = detail;
}

// The program's data is read only from regular files; one that is something
// else is passed over like a missing one, but the person who put it there is
// told which it was.
void WarnRefused(const char* name, const char* kind) {
    if (!refusedFiles.insert(name).second) return;
    const char* title = settings.title != nullptr ? settings.title : "";
    std::fprintf(stderr, "%s: %s is %s, not a file: skipped\n", title, QuotedName(name).c_str(), kind);
}

// A debug line, for the program's developers.
void PrintError(const char* what, const ErrorRecord& e, int64_t detail) {
    const char* meaning = ErrorMeaningIn(e.pluginID, e.errorCode);
    std::fprintf(stderr, "  debug: %s engine error: module %d, code 0x%08X: %s", what, e.pluginID,
                 static_cast<unsigned>(e.errorCode), meaning != nullptr ? meaning : "a code of that module");
    if (detail != 0) std::fprintf(stderr, " (%lld)", static_cast<long long>(detail));
    std::fputc('\n', stderr);
}

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
            ErrorSetReportHook(KeepError, nullptr);
            ShellErrorTrailClear();
            refusedFiles.clear();
            FileSetRefusedHook(WarnRefused);
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

const char* ShellDataFolder(int32 index) {
    if (index < 0) return nullptr;
    if (!userDataFolder.empty()) {
        if (index == 0) return userDataFolder.c_str();
        --index;
    }
    if (dataFolders == nullptr) return PlatformDataFolder(index);
    // The list ends at its first null: nothing is read past it.
    for (int32 i = 0; dataFolders[i] != nullptr; ++i) {
        if (i == index) return dataFolders[i];
    }
    return nullptr;
}

void ShellSetDataFolders(const char* const* folders) { dataFolders = folders; }

void ShellSetUserDataFolder(const char* folder) {
    userDataFolder = folder != nullptr ? folder : "";
    if (!userDataFolder.empty() && userDataFolder.back() != '/') userDataFolder += '/';
}

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

void ShellErrorTrailClear() { trail = ErrorTrail{}; }

void ShellNoteFailure(const char* reason) { trail.note = reason; }

int32 ShellErrorTrail(ErrorRecord* first, ErrorRecord* last) {
    if (first != nullptr) *first = trail.first;
    if (last != nullptr) *last = trail.last;
    return trail.count;
}

const char* ShellFailureReason() {
    if (trail.note != nullptr) return trail.note;
    return trail.count > 0 ? ErrorMeaningIn(trail.first.pluginID, trail.first.errorCode) : nullptr;
}

void ShellSetNoDisplayMessage(const char* message) { noDisplayMessage = message; }
const char* ShellNoDisplayMessage() { return noDisplayMessage; }

void ShellSetVerbose(bool on) { verbose = on; }
bool ShellVerbose() { return verbose; }

void ShellReportFailure(const char* message) {
    const ErrorTrail seen = trail;
    std::string text = message != nullptr ? message : "";
    const char* reason = ShellFailureReason();
    // A message of its own words keeps them; a bare one gets the reason as a
    // sentence of its own.
    if (text.find('\n') == std::string::npos && reason != nullptr && reason[0] != '\0') {
        text += '\n';
        text += static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
        text += std::string(reason + 1) + ".";
    }
    PlatformErrorMessage(text.c_str());
    if (verbose) {
        if (seen.count > 0) {
            PrintError(seen.count > 1 ? "first" : "the", seen.first, seen.firstDetail);
            if (seen.count > 1) PrintError("last", seen.last, seen.lastDetail);
        } else {
            std::fprintf(stderr, "  debug: the engine reported no error\n");
        }
    }
    ShellErrorTrailClear();
}

}  // namespace kv
