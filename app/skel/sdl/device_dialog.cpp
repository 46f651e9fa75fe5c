// The device-selection dialog: the sub-system and video-mode lists, the
// choice they make, the keyboard and mouse rules of its controls, and its
// drawing into a pixel buffer with the engine's 8 x 14 bitmap font.
#include "device_dialog.h"

#include <algorithm>
#include <cstdio>

#include "engine/image/charset.h"

namespace kv {

namespace {

// The dialog is laid out in dialog units of the original design: two pixels
// across and 7/4 of a pixel down per unit, which fits the 8 x 14 font.
int32 Px(int32 du) { return du * 2; }
int32 Py(int32 du) { return du * 7 / 4; }

constexpr int32 kFontWidth = kCharsetGlyphWidth;
constexpr int32 kFontHeight = kCharsetGlyphHeight;

constexpr int32 kComboHeight = 20;
constexpr int32 kRowHeight = 16;
constexpr int32 kArrowWidth = 16;
constexpr const char* kLabel = "Please select the device to use:";

constexpr uint32 kFace = 0xFFD4D0C8;
constexpr uint32 kLight = 0xFFFFFFFF;
constexpr uint32 kShadow = 0xFF808080;
constexpr uint32 kDark = 0xFF404040;
constexpr uint32 kInk = 0xFF000000;
constexpr uint32 kField = 0xFFFFFFFF;
constexpr uint32 kSelection = 0xFF0A246A;
constexpr uint32 kSelectedInk = 0xFFFFFFFF;

bool IsList(int32 control) { return control == DialogSubSystemList || control == DialogModeList; }

const std::vector<DialogItem>& Items(const DeviceDialog* d, int32 list) {
    return list == DialogSubSystemList ? d->subSystems : d->modes;
}
int32 Selection(const DeviceDialog* d, int32 list) {
    return list == DialogSubSystemList ? d->subSystemItem : d->modeItem;
}
int32 Count(const DeviceDialog* d, int32 list) { return static_cast<int32>(Items(d, list).size()); }

void FillModes(DeviceDialog* d) {
    d->modes.clear();
    const int32 n = EngineGetNumVideoModes();
    for (int32 i = 0; i < n; ++i) {
        VideoModeInfo info{};
        if (EngineGetVideoModeInfo(&info, i) == nullptr) continue;
        char text[80];
        std::snprintf(text, sizeof text, "%lu x %lu x %lu %s", static_cast<unsigned long>(info.width),
                      static_cast<unsigned long>(info.height), static_cast<unsigned long>(info.depth),
                      (info.flags & kVideoModeFullScreen) != 0 ? "(Fullscreen)" : "");
        d->modes.push_back({text, i});
    }
}

int32 FindItem(const std::vector<DialogItem>& items, int32 data) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].data == data) return static_cast<int32>(i);
    }
    return -1;
}

void SelectCurrentMode(DeviceDialog* d) {
    d->chosenMode = EngineGetCurrentVideoMode();
    d->modeItem = FindItem(d->modes, d->chosenMode);
}

int32 MaxRows() { return (kDialogHeight - 4) / kRowHeight; }

void ScrollToHighlight(DeviceDialog* d) {
    int32 rows = 0;
    DeviceDialogOpenListRect(d, &rows);
    if (d->highlight < d->scrollTop) d->scrollTop = d->highlight;
    if (d->highlight >= d->scrollTop + rows) d->scrollTop = d->highlight - rows + 1;
    d->scrollTop = std::clamp(d->scrollTop, 0, std::max(0, Count(d, d->openList) - rows));
}

void OpenList(DeviceDialog* d, int32 list) {
    d->openList = list;
    d->highlight = std::max(0, Selection(d, list));
    d->scrollTop = 0;
    ScrollToHighlight(d);
}

void CloseList(DeviceDialog* d, bool take) {
    const int32 list = d->openList;
    d->openList = DialogNoControl;
    if (take && d->highlight >= 0) DeviceDialogSelect(d, list, d->highlight);
}

// Where a movement key takes a selection of n items, one page being `page`.
int32 Step(int32 key, int32 from, int32 n, int32 page) {
    switch (key) {
        case DialogKeyUp:
            return from < 0 ? 0 : from - 1;
        case DialogKeyDown:
            return from + 1;
        case DialogKeyHome:
            return 0;
        case DialogKeyEnd:
            return n - 1;
        case DialogKeyPageUp:
            return from - page;
        case DialogKeyPageDown:
            return from < 0 ? page - 1 : from + page;
        default:
            return from;
    }
}

bool IsMovement(int32 key) {
    return key == DialogKeyUp || key == DialogKeyDown || key == DialogKeyHome || key == DialogKeyEnd ||
           key == DialogKeyPageUp || key == DialogKeyPageDown;
}

// Drawing into the dialog's buffer.
struct Canvas {
    uint32* px;

    void Fill(int32 x, int32 y, int32 w, int32 h, uint32 c) const {
        const int32 x0 = std::max(0, x), y0 = std::max(0, y);
        const int32 x1 = std::min(kDialogWidth, x + w), y1 = std::min(kDialogHeight, y + h);
        for (int32 j = y0; j < y1; ++j) {
            for (int32 i = x0; i < x1; ++i) px[j * kDialogWidth + i] = c;
        }
    }
    // A frame lit from the top left: raised with light first, sunken with
    // shadow first.
    void Bevel(const DialogRect& r, uint32 topLeft, uint32 bottomRight) const {
        Fill(r.x, r.y, r.w, 1, topLeft);
        Fill(r.x, r.y, 1, r.h, topLeft);
        Fill(r.x, r.y + r.h - 1, r.w, 1, bottomRight);
        Fill(r.x + r.w - 1, r.y, 1, r.h, bottomRight);
    }
    void Dotted(const DialogRect& r, uint32 c) const {
        for (int32 i = 0; i < r.w; i += 2) {
            Fill(r.x + i, r.y, 1, 1, c);
            Fill(r.x + i, r.y + r.h - 1, 1, 1, c);
        }
        for (int32 j = 0; j < r.h; j += 2) {
            Fill(r.x, r.y + j, 1, 1, c);
            Fill(r.x + r.w - 1, r.y + j, 1, 1, c);
        }
    }
    // Text from (x, y), cut off at the right edge `right` (exclusive). A
    // character the font has no glyph for shows as a hollow box, so that a
    // device name never loses letters silently.
    void Text(int32 x, int32 y, const std::string& s, uint32 c, int32 right) const {
        for (char ch : s) {
            if (x + kFontWidth > right) break;
            if (const uint8* g = CharsetGlyph(static_cast<unsigned char>(ch))) {
                for (int32 j = 0; j < kFontHeight; ++j) {
                    for (int32 i = 0; i < kFontWidth; ++i) {
                        if ((g[j] & (1 << i)) != 0) Fill(x + i, y + j, 1, 1, c);
                    }
                }
            } else {
                Bevel({x + 1, y + 2, kFontWidth - 3, kFontHeight - 5}, c, c);
            }
            x += kFontWidth;
        }
    }
};

void DrawCombo(const Canvas& c, const DeviceDialog* d, int32 list) {
    const DialogRect r = DeviceDialogControlRect(list);
    c.Bevel(r, kShadow, kLight);
    c.Bevel({r.x + 1, r.y + 1, r.w - 2, r.h - 2}, kDark, kFace);
    c.Fill(r.x + 2, r.y + 2, r.w - 4, r.h - 4, kField);

    const DialogRect arrow{r.x + r.w - 2 - kArrowWidth, r.y + 2, kArrowWidth, r.h - 4};
    c.Fill(arrow.x, arrow.y, arrow.w, arrow.h, kFace);
    c.Bevel(arrow, kLight, kDark);
    const int32 ax = arrow.x + arrow.w / 2, ay = arrow.y + arrow.h / 2 - 2;
    for (int32 k = 0; k < 4; ++k) c.Fill(ax - 3 + k, ay + k, 7 - 2 * k, 1, kInk);

    const DialogRect text{r.x + 3, r.y + 3, arrow.x - r.x - 4, r.h - 6};
    const bool focused = d->focus == list && d->openList != list;
    if (focused) c.Fill(text.x, text.y, text.w, text.h, kSelection);
    const int32 sel = Selection(d, list);
    if (sel >= 0 && sel < Count(d, list)) {
        c.Text(text.x + 2, r.y + (r.h - kFontHeight) / 2, Items(d, list)[sel].text, focused ? kSelectedInk : kInk,
               text.x + text.w);
    }
    if (focused) c.Dotted(text, kLight);
}

void DrawButton(const Canvas& c, const DeviceDialog* d, int32 button, const char* label) {
    DialogRect r = DeviceDialogControlRect(button);
    const bool focused = d->focus == button;
    if (focused) {
        // The focused button is the one Enter presses; it wears a dark rim.
        c.Bevel(r, kInk, kInk);
        r = {r.x + 1, r.y + 1, r.w - 2, r.h - 2};
    }
    const bool down = d->pressed == button;
    c.Fill(r.x, r.y, r.w, r.h, kFace);
    if (down) {
        c.Bevel(r, kDark, kLight);
    } else {
        c.Bevel(r, kLight, kDark);
        c.Bevel({r.x + 1, r.y + 1, r.w - 2, r.h - 2}, kFace, kShadow);
    }
    const std::string s = label;
    const int32 shift = down ? 1 : 0;
    const int32 tx = r.x + (r.w - static_cast<int32>(s.size()) * kFontWidth) / 2 + shift;
    const int32 ty = r.y + (r.h - kFontHeight) / 2 + shift;
    c.Text(tx, ty, s, kInk, r.x + r.w);
    if (focused) c.Dotted({r.x + 3, r.y + 3, r.w - 6, r.h - 6}, kInk);
}

void DrawOpenList(const Canvas& c, const DeviceDialog* d) {
    int32 rows = 0;
    const DialogRect r = DeviceDialogOpenListRect(d, &rows);
    c.Fill(r.x, r.y, r.w, r.h, kField);
    c.Bevel(r, kInk, kInk);
    const std::vector<DialogItem>& items = Items(d, d->openList);
    const bool scrolls = static_cast<int32>(items.size()) > rows;
    const int32 right = r.x + r.w - 1 - (scrolls ? 6 : 0);
    for (int32 k = 0; k < rows; ++k) {
        const int32 item = d->scrollTop + k;
        if (item >= static_cast<int32>(items.size())) break;
        const int32 y = r.y + 1 + k * kRowHeight;
        const bool marked = item == d->highlight;
        if (marked) c.Fill(r.x + 1, y, right - r.x - 1, kRowHeight, kSelection);
        c.Text(r.x + 4, y + 1, items[item].text, marked ? kSelectedInk : kInk, right);
    }
    if (scrolls) {
        // A thin bar shows which part of the list is in view.
        const int32 n = static_cast<int32>(items.size());
        const int32 trackH = r.h - 2;
        const int32 thumbY = r.y + 1 + trackH * d->scrollTop / n;
        const int32 thumbH = std::max(4, trackH * rows / n);
        c.Fill(right, r.y + 1, 5, trackH, kFace);
        c.Fill(right + 1, thumbY, 3, thumbH, kShadow);
    }
}

}  // namespace

bool DeviceDialogPrepare(DeviceDialog* d) {
    int32 n = EngineGetNumSubSystems();
    if (n <= 0) return false;
    n = std::min(n, kDialogMaxSubSystems);
    d->subSystems.clear();
    for (int32 i = 0; i < n; ++i) {
        SubSystemInfo info{};
        if (EngineGetSubSystemInfo(&info, i) == nullptr) info.name[0] = '\0';
        info.name[sizeof info.name - 1] = '\0';
        d->subSystems.push_back({info.name, i});
    }
    d->subSystem = EngineGetCurrentSubSystem();
    return true;
}

void DeviceDialogInit(DeviceDialog* d) {
    d->subSystemItem = FindItem(d->subSystems, d->subSystem);
    FillModes(d);
    SelectCurrentMode(d);
    d->focus = DialogSubSystemList;
    d->openList = DialogNoControl;
    d->pressed = DialogNoControl;
}

void DeviceDialogSelect(DeviceDialog* d, int32 list, int32 item) {
    if (!IsList(list) || item < 0 || item >= Count(d, list)) return;
    if (list == DialogModeList) {
        d->modeItem = item;
        d->chosenMode = d->modes[item].data;
        return;
    }
    d->subSystemItem = item;
    const int32 s = d->subSystems[item].data;
    if (s == d->subSystem) return;
    // A new sub-system has its own modes: it is selected in the engine at once
    // so that they can be listed.
    d->subSystem = s;
    EngineSetSubSystem(s);
    FillModes(d);
    SelectCurrentMode(d);
}

bool DeviceDialogApply(DeviceDialog* d, ShellSettings* settings, int32* fullScreen) {
    if (!EngineSetSubSystem(d->subSystem)) return false;
    if (!EngineSetVideoMode(d->chosenMode)) return false;
    VideoModeInfo info{};
    if (EngineGetVideoModeInfo(&info, EngineGetCurrentVideoMode()) == nullptr) return true;
    const bool full = (info.flags & kVideoModeFullScreen) != 0;
    if ((full || d->shown) && info.width > 0 && info.height > 0) {
        settings->width = info.width;
        settings->height = info.height;
    }
    if (full) *fullScreen = 1;
    return true;
}

int32 DeviceDialogKey(DeviceDialog* d, int32 key) {
    if (d->openList != DialogNoControl) {
        int32 rows = 0;
        DeviceDialogOpenListRect(d, &rows);
        const int32 n = Count(d, d->openList);
        if (IsMovement(key)) {
            if (n > 0) d->highlight = std::clamp(Step(key, d->highlight, n, rows), 0, n - 1);
            ScrollToHighlight(d);
        } else if (key == DialogKeyEnter || key == DialogKeyDropDown) {
            CloseList(d, true);
        } else if (key == DialogKeyEscape) {
            CloseList(d, false);
        } else if (key == DialogKeyTab || key == DialogKeyBackTab) {
            CloseList(d, true);
            return DeviceDialogKey(d, key);
        }
        return DialogStaysOpen;
    }
    switch (key) {
        case DialogKeyTab:
            d->focus = (d->focus + 1) % DialogNumControls;
            break;
        case DialogKeyBackTab:
            d->focus = (d->focus + DialogNumControls - 1) % DialogNumControls;
            break;
        case DialogKeyDropDown:
            if (IsList(d->focus)) OpenList(d, d->focus);
            break;
        case DialogKeySpace:
            if (d->focus == DialogOk) return DialogClosedOk;
            if (d->focus == DialogExit) return DialogClosedExit;
            break;
        case DialogKeyEnter:
            return d->focus == DialogExit ? DialogClosedExit : DialogClosedOk;
        case DialogKeyEscape:
            return DialogClosedExit;
        default:
            if (IsMovement(key) && IsList(d->focus)) {
                const int32 n = Count(d, d->focus);
                if (n > 0) {
                    const int32 to = std::clamp(Step(key, Selection(d, d->focus), n, MaxRows()), 0, n - 1);
                    DeviceDialogSelect(d, d->focus, to);
                }
            }
            break;
    }
    return DialogStaysOpen;
}

int32 DeviceDialogMouseDown(DeviceDialog* d, int32 x, int32 y) {
    if (d->openList != DialogNoControl) {
        int32 rows = 0;
        const DialogRect r = DeviceDialogOpenListRect(d, &rows);
        if (r.Contains(x, y)) {
            const int32 item = d->scrollTop + (y - r.y - 1) / kRowHeight;
            if (y > r.y && item < Count(d, d->openList)) {
                d->highlight = item;
                CloseList(d, true);
            }
            return DialogStaysOpen;
        }
        // A click elsewhere only closes the list.
        CloseList(d, false);
        return DialogStaysOpen;
    }
    for (int32 c = 0; c < DialogNumControls; ++c) {
        if (!DeviceDialogControlRect(c).Contains(x, y)) continue;
        d->focus = c;
        if (IsList(c)) {
            OpenList(d, c);
        } else {
            d->pressed = c;
        }
        break;
    }
    return DialogStaysOpen;
}

int32 DeviceDialogMouseUp(DeviceDialog* d, int32 x, int32 y) {
    const int32 button = d->pressed;
    d->pressed = DialogNoControl;
    // A button acts when released over itself, as buttons do.
    if (button == DialogNoControl || !DeviceDialogControlRect(button).Contains(x, y)) return DialogStaysOpen;
    return button == DialogOk ? DialogClosedOk : DialogClosedExit;
}

void DeviceDialogMouseMove(DeviceDialog* d, int32 x, int32 y) {
    if (d->openList == DialogNoControl) return;
    int32 rows = 0;
    const DialogRect r = DeviceDialogOpenListRect(d, &rows);
    if (!r.Contains(x, y) || y <= r.y) return;
    const int32 item = d->scrollTop + (y - r.y - 1) / kRowHeight;
    if (item < Count(d, d->openList)) d->highlight = item;
}

void DeviceDialogWheel(DeviceDialog* d, int32 steps) {
    if (d->openList == DialogNoControl) return;
    int32 rows = 0;
    DeviceDialogOpenListRect(d, &rows);
    d->scrollTop = std::clamp(d->scrollTop - steps, 0, std::max(0, Count(d, d->openList) - rows));
}

DialogRect DeviceDialogControlRect(int32 control) {
    switch (control) {
        case DialogSubSystemList:
            return {Px(7), Py(25), Px(172), kComboHeight};
        case DialogModeList:
            return {Px(7), Py(46), Px(172), kComboHeight};
        case DialogOk:
            return {Px(28), Py(69), Px(50), Py(14)};
        case DialogExit:
            return {Px(103), Py(69), Px(52), Py(14)};
        default:
            return {0, 0, 0, 0};
    }
}

DialogRect DeviceDialogOpenListRect(const DeviceDialog* d, int32* rows) {
    if (!IsList(d->openList)) {
        *rows = 0;
        return {0, 0, 0, 0};
    }
    // The list drops below its box; when it would leave the dialog it moves up
    // over the box instead.
    *rows = std::clamp(Count(d, d->openList), 1, MaxRows());
    const DialogRect box = DeviceDialogControlRect(d->openList);
    const int32 h = *rows * kRowHeight + 2;
    const int32 top = std::min(box.y + box.h, kDialogHeight - h);
    return {box.x, top, box.w, h};
}

void DeviceDialogDraw(const DeviceDialog* d, uint32* pixels) {
    const Canvas c{pixels};
    c.Fill(0, 0, kDialogWidth, kDialogHeight, kFace);
    c.Text(Px(7), Py(7), kLabel, kInk, kDialogWidth);
    DrawCombo(c, d, DialogSubSystemList);
    DrawCombo(c, d, DialogModeList);
    DrawButton(c, d, DialogOk, "OK");
    DrawButton(c, d, DialogExit, "EXIT");
    if (d->openList != DialogNoControl) DrawOpenList(c, d);
}

}  // namespace kv
