// The on-screen menu and help page. Entries are bound to the application's
// variables (toggles, integers with optional value names, floats) or to
// actions, may carry a one-key shortcut, and report changes through a
// callback. The application passes its keyboard and mouse events through the
// menu first and renders it once per frame, between the camera's begin and
// end update. Space cycles off -> menu -> help -> off.
#pragma once

#include "app/skel/menu_colours.h"
#include "app/skel/skeleton.h"
#include "engine/math/rgba.h"

namespace kv {

struct Camera;
struct Raster;

enum MenuEntryKind : int32 {
    MenuKindToggle = 0,
    MenuKindInt = 2,
    MenuKindFloat = 3,
    MenuKindAction = 4,
};

enum MenuMode : int32 {
    MenuModeOff = 0,
    MenuModeMenu = 1,
    MenuModeHelp = 2,
};

// The callback is asked kMenuQueryAvailable (answer 0: the entry is dimmed,
// skipped by navigation and shortcuts) and told kMenuQueryChanged after the
// value changed or the action fired (answer 0: refused; the value stays
// changed, the event reports failure).
constexpr int32 kMenuQueryChanged = 0;
constexpr int32 kMenuQueryAvailable = 1;
using MenuCallback = int32 (*)(int32 query);

// A label ending in "_X" gets the shortcut key X (letters match either case);
// one ending in "F1" ... "F9" gets that function key. The suffix is not shown.
bool MenuOpen(int32 createMainSet, const RGBA* foreground, const RGBA* background);
bool MenuClose();
bool MenuAddToggle(const char* label, int32* variable, MenuCallback callback);
// valueNames, when given, names each value from min to max.
bool MenuAddInt(const char* label, int32* variable, MenuCallback callback, int32 min, int32 max, int32 step,
                const char* const* valueNames);
bool MenuAddFloat(const char* label, float* variable, MenuCallback callback, float min, float max, float step);
bool MenuAddAction(const char* label, MenuCallback callback);
bool MenuAddSeparator();

// Draws the menu or the help page on the camera in the given character set,
// or the menu's own main set when null; also runs the key repeat.
bool MenuRender(Camera* camera, Raster* set);
// Shell event handlers: 1 when the menu took the event, 2 when it did not.
// The mouse on the menu: a press on an entry selects it; a left click on its
// value changes it as Right does (with Shift as Left); the wheel over a value
// changes it, elsewhere (in the scene too) it moves the selection; a left
// drag that starts on a float entry changes it, and so does a left drag
// anywhere outside the menu's panel while a float entry is selected. A press
// the menu took is its own until its button comes up; every other press, move
// and release is left to the application.
int32 MenuKeyboard(int32 event, void* data);
int32 MenuMouse(int32 event, void* data);

bool MenuSetMode(int32 mode);
int32 MenuGetMode();
// The selected entry's display index (0 for the first entry added).
int32 MenuGetSelectedIndex();
bool MenuCycleMode();

const MenuPalette* MenuGetPalette();

// The key repeat's clock; PlatformGetTimer unless a test sets another (null
// puts it back).
using MenuClock = uint32 (*)();
void MenuSetClock(MenuClock clock);

// The help text: "readme.txt", else "win.txt", in the first of the program's
// data folders (ShellDataFolder: the user's --data folder, then where the
// program's data lives) that has one as a regular file. Read when the menu
// opens, at most kMenuHelpMaxBytes of it.
constexpr int32 kMenuHelpMaxLines = 1500;
// Bytes read at most: past them the page says that the file is too large.
constexpr std::size_t kMenuHelpMaxBytes = 1 << 20;
constexpr int32 kMenuHelpColumns = 78;
int32 MenuHelpLineCount();
const char* MenuHelpLine(int32 index);

}  // namespace kv
