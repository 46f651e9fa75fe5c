// The application skeleton: shell events and their defaults, the input
// handlers, the shell settings, and the platform services the shell offers.
#pragma once

#include "engine/core/error.h"
#include "engine/core/types.h"

namespace kv {

enum ShellEventId : int32 {
    EventCameraResize = 0,
    EventCommandLineArgument = 1,
    EventFileLoad = 2,
    EventEngineInitialised = 3,
    EventInputDeviceAttach = 4,
    EventLeftButtonDown = 5,
    EventLeftButtonUp = 6,
    EventMouseMove = 7,
    EventMouseWheel = 8,
    EventPluginAttach = 9,
    EventRegisterImageLoaders = 10,
    EventRightButtonDown = 11,
    EventRightButtonUp = 12,
    EventInitialise = 13,
    EventTerminate = 14,
    EventSelectDevice = 15,
    EventPreInitialise = 16,
    EventPostTerminate = 17,
    EventIdle = 18,
    EventKeyDown = 19,
    EventKeyUp = 20,
    EventQuit = 21,
    EventPreOption = 28,
    EventActivate = 29,
};

enum ShellEventResult : int32 {
    EventFailed = 0,
    EventHandled = 1,
    EventNotHandled = 2,
};

using EventHandler = int32 (*)(int32 event, void* data);

struct ResizeRecord {
    int32 x, y, width, height;
};

struct KeyboardRecord {
    int32 scanIndex;  // scan code, plus 128 for extended keys
    int32 keyCode;    // KeyCode
};

struct MouseRecord {
    float x, y;
    float dx, dy;  // movement since the last move; EventMouseMove only
    int32 shift;
    int32 control;
};

enum KeyCode : int32 {
    KeyEsc = 128,
    KeyF1 = 129,  // F1..F10 are 129..138
    KeyF11 = 139,
    KeyF12 = 140,
    KeyInsert = 141,
    KeyDelete = 142,
    KeyHome = 143,
    KeyEnd = 144,
    KeyPageUp = 145,
    KeyPageDown = 146,
    KeyUp = 147,
    KeyDown = 148,
    KeyLeft = 149,
    KeyRight = 150,
    KeyPad0 = 151,
    KeyPadStop = 152,
    KeyPad1 = 154,
    KeyPad9 = 155,
    KeyPad3 = 156,
    KeyPad8 = 157,
    KeyPad2 = 158,
    KeyPad4 = 159,
    KeyPad6 = 160,
    KeyNumLock = 161,
    KeyPadDivide = 162,
    KeyPadTimes = 163,
    KeyPadMinus = 164,
    KeyPadPlus = 165,
    KeyPadEnter = 166,
    KeyPad5 = 167,
    KeyBackspace = 168,
    KeyTab = 169,
    KeyCapsLock = 170,
    KeyEnter = 171,
    KeyLShift = 172,
    KeyRShift = 173,
    KeyLCtrl = 174,
    KeyRCtrl = 175,
    KeyLAlt = 176,
    KeyRAlt = 177,
    KeyNull = 255,
};

struct ShellSettings {
    const char* title;
    int32 width;
    int32 height;
    int32 maxFrameRate;
    int32 quit;
};
ShellSettings* ShellGetSettings();

// The application's fixed handler; every program (and test) defines it.
int32 AppEventHandler(int32 event, void* data);

// Offers the event to the application, then applies the skeleton's default.
int32 ShellEvent(int32 event, void* data);
// The skeleton's default alone, for handlers that do their own work around it
// (the application's start-up runs the default engine start-up first).
int32 ShellDefaultEvent(int32 event, void* data);

enum InputDeviceKind : int32 {
    InputKeyboard = 0,
    InputMouse = 1,
    InputOther = 2,
};
bool InputDeviceRegister(int32 kind, EventHandler handler);
int32 KeyboardEvent(int32 event, void* data);
int32 MouseEvent(int32 event, void* data);

// The flag that "-vms" clears; handed to the device-selection step.
int32 ShellDeviceDialogFlag();

// Platform services, implemented by the platform shell.
uint32 PlatformGetTimer();
void PlatformMouseWarp(float x, float y);
void PlatformErrorMessage(const char* text);
char* PlatformPathCreate(const char* path);
void PlatformPathDestroy(char* path);
bool PlatformCameraShowRaster(void* camera);
bool PlatformRegisterImageLoaders();
bool PlatformSelectDevice(int32 useDialog);
// Resets the platform record (full screen 0, last mouse position and last
// frame time 0); part of EventPreInitialise's default.
void PlatformResetRecord();
// The window handle, null before the window exists.
void* PlatformGetWindow();
// Gives the window the picture (a PNG file) found first under that name in
// the program's data folders, for the desktop to show it by. False when
// there is none or it cannot be read; the window then keeps the desktop's
// default.
bool PlatformSetWindowIcon(const char* fileName);
// Whether the platform can show the window to a person (a headless run on an
// offscreen or dummy video driver cannot).
bool PlatformDisplayVisible();
// Catches the quit signals (SIGINT, SIGTERM, SIGHUP) until the matching
// release; calls nest. The first signal asks the program to quit, as closing
// the window does (PlatformQuitSignal says which); from then on a wait on a
// pipe or a device is broken off (EINTR) within a tenth of a second, by the
// signal or by SIGALRM, which the catch takes too. A second quit signal ends
// the program at once, by that signal, after removing the new files of saves
// under way (the files they were to replace are untouched). Every other
// signal whose default action ends the program (SIGUSR1, SIGQUIT, SIGPIPE
// where it is not ignored, the real-time ones...) is caught too, where it
// has its default action: it removes those new files and ends the program by
// that signal. ShellMain catches them for its run; a program catches them itself to cover what it
// does before and besides.
void PlatformCatchQuitSignals();
void PlatformReleaseQuitSignals();
// The signal that asked the program to quit; 0 when none did.
int32 PlatformQuitSignal();

// Failures people can see. The skeleton's report hook (installed by the
// default of EventPreInitialise) keeps the engine errors raised since the
// trail was last cleared. ShellReportFailure shows the message as
// PlatformErrorMessage does; a message of one line is followed by the reason
// in words (ShellFailureReason) on a line of its own. The engine's codes
// behind it (module, code) are for the program's developers: they go to
// stderr only while ShellSetVerbose is on. Then the trail is cleared.
void ShellReportFailure(const char* message);
// Why the failure about to be reported happened, in words: the note, else
// what the first engine error kept means ("out of memory"); null when
// neither is known.
const char* ShellFailureReason();
// A run that only a person can end needs a display to be seen on. With a
// message set, the shell stops before it makes the window when no display
// can show it: it prints the message and ends with status 1. Null (the
// default): such a run goes on unseen. A literal or a string that outlives
// the run: it is kept, not copied.
void ShellSetNoDisplayMessage(const char* message);
const char* ShellNoDisplayMessage();
// The engine's codes in failure reports, and the platform's own diagnostics
// (--verbose).
void ShellSetVerbose(bool on);
bool ShellVerbose();
// A reason for the next reported failure that is no engine error (the person
// closed the device dialog with EXIT, ...): shown in place of the engine's
// errors when none was raised. A literal: the text is kept, not copied.
void ShellNoteFailure(const char* reason);
void ShellErrorTrailClear();
// The errors kept: how many, and the first and last (either may be null).
int32 ShellErrorTrail(ErrorRecord* first, ErrorRecord* last);
// The folders where the program's own data lives, in the order they are
// searched: the executable's folder (the build tree), then the installed data
// folders. Each ends in '/'; null past the last.
const char* PlatformDataFolder(int32 index);
// The one lookup of the program's data (the help text, textures/): the
// user's folder given with --data first, when there is one, then the
// platform's data folders, or the folders a test set in their place. The
// current folder is not searched: a program started in someone's project
// must not take that project's readme.txt or textures/ for its own. Each ends
// in '/'; null past the last. Only regular files are read there; anything
// else is passed over with a warning naming it.
const char* ShellDataFolder(int32 index);
// Puts these folders (a list ending with null) in place of the platform's
// data folders; null puts the platform's back.
void ShellSetDataFolders(const char* const* folders);
// The user's own data folder (--data DIR), searched before the program's;
// null or "" for none. A '/' is added when it lacks one.
void ShellSetUserDataFolder(const char* folder);

// The whole program: start-up, main loop and shut-down. Returns the exit code.
int ShellMain(int argc, char** argv);

}  // namespace kv
