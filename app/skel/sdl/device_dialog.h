// The device-selection dialog without its window: what it lists and chooses,
// how keys and clicks move it, and how it looks, drawn into a pixel buffer.
// The SDL window around it only feeds it events and shows the buffer.
#pragma once

#include <string>
#include <vector>

#include "app/skel/skeleton.h"
#include "engine/core/engine.h"

namespace kv {

constexpr int32 kDialogMaxSubSystems = 16;
constexpr int32 kDialogWidth = 372;
constexpr int32 kDialogHeight = 158;

enum DialogControl : int32 {
    DialogSubSystemList = 0,
    DialogModeList = 1,
    DialogOk = 2,
    DialogExit = 3,
    DialogNumControls = 4,
    DialogNoControl = -1,
};

// What a key or click did to the dialog.
enum DialogOutcome : int32 {
    DialogStaysOpen = -1,
    DialogClosedExit = 0,
    DialogClosedOk = 1,
};

enum DialogKey : int32 {
    DialogKeyTab,
    DialogKeyBackTab,
    DialogKeyUp,
    DialogKeyDown,
    DialogKeyHome,
    DialogKeyEnd,
    DialogKeyPageUp,
    DialogKeyPageDown,
    DialogKeyEnter,
    DialogKeyEscape,
    DialogKeySpace,
    DialogKeyDropDown,  // F4 or Alt+Down: open or close a list
};

struct DialogItem {
    std::string text;
    int32 data;  // the sub-system or video-mode index
};

struct DialogRect {
    int32 x, y, w, h;
    bool Contains(int32 px, int32 py) const { return px >= x && py >= y && px < x + w && py < y + h; }
};

struct DeviceDialog {
    std::vector<DialogItem> subSystems;
    std::vector<DialogItem> modes;
    int32 subSystemItem = -1;  // selection of each list, -1 for none
    int32 modeItem = -1;
    int32 subSystem = 0;    // remembered sub-system
    int32 chosenMode = -1;  // chosen video mode

    int32 focus = DialogSubSystemList;
    int32 openList = DialogNoControl;  // the list that is dropped down
    int32 highlight = -1;              // item marked in the open list
    int32 scrollTop = 0;               // first item shown in the open list
    int32 pressed = DialogNoControl;   // button held down by the mouse
    bool shown = false;                // a person chose in its window
};

// Before the dialog: the sub-systems (at most 16) and the current one. False
// when the engine has none.
bool DeviceDialogPrepare(DeviceDialog* d);
// The dialog's initialisation: the lists filled, the current choices selected.
void DeviceDialogInit(DeviceDialog* d);
// A new selection in a list, as the list would report it.
void DeviceDialogSelect(DeviceDialog* d, int32 list, int32 item);
// After the dialog was closed with OK (or without showing it): the remembered
// sub-system and the chosen mode are selected in the engine; a full-screen
// mode becomes the client size and sets *fullScreen. A windowed mode a
// person chose in the dialog becomes the window's size; without the dialog
// the size stays as the application set it.
bool DeviceDialogApply(DeviceDialog* d, ShellSettings* settings, int32* fullScreen);

int32 DeviceDialogKey(DeviceDialog* d, int32 key);
int32 DeviceDialogMouseDown(DeviceDialog* d, int32 x, int32 y);
int32 DeviceDialogMouseUp(DeviceDialog* d, int32 x, int32 y);
void DeviceDialogMouseMove(DeviceDialog* d, int32 x, int32 y);
void DeviceDialogWheel(DeviceDialog* d, int32 steps);

DialogRect DeviceDialogControlRect(int32 control);
// Where the open list lies and how many rows it shows.
DialogRect DeviceDialogOpenListRect(const DeviceDialog* d, int32* rows);

// Shows the dialog in a small modal window of its own until OK or EXIT.
// When no window can be made, the current choices stand (DialogClosedOk).
int32 DeviceDialogRun(DeviceDialog* d);

// Draws the dialog into a kDialogWidth x kDialogHeight buffer of 0xAARRGGBB
// pixels.
void DeviceDialogDraw(const DeviceDialog* d, uint32* pixels);

}  // namespace kv
