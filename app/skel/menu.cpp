// The on-screen menu: entries, shortcuts, drawing with a scroll window, the
// keyboard and mouse, the key repeat, and the help page with its text.
#include "menu.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/image/charset.h"
#include "engine/image/raster.h"
#include "engine/world/logo.h"
#include "menu_colours.h"
#include "menu_help.h"
#include "text_panel.h"

namespace kv {

namespace {

constexpr RGBA kDefaultForeground = {0, 255, 255, 255};
constexpr RGBA kDefaultBackground = {0, 0, 50, 0};
constexpr int32 kDashMax = 256;
constexpr int32 kLineMax = 512;  // bytes of one formatted menu line

// Key repeat: the first repeat after 700 ms, then every 50 ms; a key whose
// last repeat is more than a second old (frames stopped) is not repeated.
constexpr uint32 kRepeatDelay = 700;
constexpr uint32 kRepeatInterval = 50;
constexpr uint32 kRepeatGiveUp = 1000;

// The value names of a separator: one, empty.
const char* const kSeparatorNames[] = {""};

struct MenuEntry {
    int32 kind;
    char* label;   // owned; the shortcut suffix cut off
    void* target;  // int32 or float; null for actions and separators
    int32 minI, maxI, stepI;
    float minF, maxF, stepF;
    const char* const* valueNames;
    int32 shortcut;  // key code, 0 for none
    MenuCallback callback;
    int32 valueWidth;  // characters of the widest value text
    MenuEntry* older;  // towards display index 0
    MenuEntry* newer;
};

struct KeyRepeat {
    KeyboardRecord key;  // key code 0: none held
    uint32 pressed;
    uint32 lastRepeat;
};

// A rectangle of pixels, [x, x + w) x [y, y + h).
struct PixelRect {
    int32 x, y, w, h;
    bool Contains(float px, float py) const {
        return px >= static_cast<float>(x) && py >= static_cast<float>(y) && px < static_cast<float>(x + w) &&
               py < static_cast<float>(y + h);
    }
};

// The press of a mouse button the menu took: it owns that button until the
// button comes up, and nothing else sees its moves or its release.
struct MenuPress {
    int32 button;      // EventLeftButtonDown or EventRightButtonDown; 0: none
    MenuEntry* entry;  // the entry pressed on, or null
    bool onValue;      // on the entry's value
    bool shift;        // a Shift-click goes the other way
    bool dragged;      // a float drag changed the value: no click
};

struct MenuState {
    bool open;
    int32 mode;
    MenuEntry* newest;  // the list's head
    MenuEntry* oldest;  // display index 0
    int32 count;
    MenuEntry* selected;
    int32 selectedIndex;
    int32 first, last;  // visible display indices, both shown
    int32 labelWidth;
    int32 lineWidth;
    int32 rows;
    RGBA foreground, background;
    Raster* mainSet;
    Raster* disabledSet;
    Raster* selectedSet;
    Raster* separatorSet;
    MenuHelp help;
    KeyRepeat repeat;
    bool drag;  // the left button drags the pressed float entry
    MenuPress press;
    // Where the menu was drawn last: its panel, and its lines from lineX.
    PixelRect panel;
    int32 lineX, glyphW, glyphH;
    // The pointer, as the last move or press placed it (the wheel has none).
    float pointerX, pointerY;
    bool pointerKnown;
    MenuPalette palette;
};
MenuState menu{};

struct VisibleLine {
    MenuEntry* entry;
    int32 index;  // display index
    int32 y;
    uint8 set;
};
// The lines of the menu as last drawn, for the mouse to find.
std::vector<VisibleLine> shownLines;

MenuClock menuClock = nullptr;

uint32 Now() { return menuClock != nullptr ? menuClock() : PlatformGetTimer(); }

bool IsSeparator(const MenuEntry* e) { return e->kind == MenuKindInt && e->target == nullptr; }
bool Available(const MenuEntry* e) { return e->callback == nullptr || e->callback(kMenuQueryAvailable) != 0; }
bool Selectable(const MenuEntry* e) { return !IsSeparator(e) && Available(e); }

int32 TextLength(const char* s) { return static_cast<int32>(std::strlen(s)); }

// --- Entries ----------------------------------------------------------------

int32 ValueWidth(const MenuEntry* e) {
    char buffer[64];
    switch (e->kind) {
        case MenuKindInt: {
            if (e->valueNames != nullptr) {
                int32 widest = 0;
                for (int32 v = 0; v <= e->maxI - e->minI; ++v) {
                    const int32 n = TextLength(e->valueNames[v]);
                    if (n > widest) widest = n;
                }
                return widest;
            }
            const int32 a = std::snprintf(buffer, sizeof buffer, "%d", e->maxI);
            const int32 b = std::snprintf(buffer, sizeof buffer, "%d", e->minI);
            return a > b ? a : b;
        }
        case MenuKindFloat: {
            const int32 a = std::snprintf(buffer, sizeof buffer, "%0.2f", static_cast<double>(e->maxF));
            const int32 b = std::snprintf(buffer, sizeof buffer, "%0.2f", static_cast<double>(e->minF));
            return a > b ? a : b;
        }
        default:
            return 3;
    }
}

void Measure() {
    int32 labels = 0, values = 0;
    for (const MenuEntry* e = menu.newest; e != nullptr; e = e->older) {
        const int32 n = TextLength(e->label);
        if (n > labels) labels = n;
        if (e->valueWidth > values) values = e->valueWidth;
    }
    menu.labelWidth = labels;
    menu.lineWidth = labels + values + 8;
}

// Cuts a shortcut suffix off the label: "Sky_S" is "Sky" with 'S', "Help F1"
// is "Help " with F1 (an underscore before the function key goes too).
int32 TakeShortcut(char* label) {
    const int32 n = TextLength(label);
    if (n < 2) return 0;
    const auto last = static_cast<unsigned char>(label[n - 1]);
    if (label[n - 2] == '_' && last > 31) {
        label[n - 2] = '\0';
        // Letters match in either case; they are kept and shown in capitals.
        return last >= 'a' && last <= 'z' ? last - 32 : last;
    }
    if (label[n - 2] == 'F' && last >= '1' && last <= '9') {
        label[n - 2] = '\0';
        if (n >= 3 && label[n - 3] == '_') label[n - 3] = '\0';
        return KeyF1 + (last - '1');
    }
    return 0;
}

MenuEntry* AddEntry(const char* label, int32 kind) {
    const std::size_t length = std::strlen(label);
    auto* e = static_cast<MenuEntry*>(KvMalloc(sizeof(MenuEntry)));
    auto* copy = static_cast<char*>(KvMalloc(length + 1));
    if (e == nullptr || copy == nullptr) {
        if (e != nullptr) KvFree(e);
        if (copy != nullptr) KvFree(copy);
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(sizeof(MenuEntry) + length + 1));
        return nullptr;
    }
    std::memcpy(copy, label, length + 1);
    *e = MenuEntry{};
    e->kind = kind;
    e->label = copy;
    e->older = menu.newest;
    if (menu.newest != nullptr) menu.newest->newer = e;
    menu.newest = e;
    if (menu.oldest == nullptr) menu.oldest = e;
    if (menu.count++ == 0) {
        menu.selected = e;
        menu.selectedIndex = 0;
    }
    return e;
}

// Fills in the shortcut and the widths once the entry's fields are set.
bool Finish(MenuEntry* e) {
    e->shortcut = TakeShortcut(e->label);
    e->valueWidth = ValueWidth(e);
    Measure();
    return true;
}

void FreeEntries() {
    while (menu.newest != nullptr) {
        MenuEntry* e = menu.newest;
        menu.newest = e->older;
        KvFree(e->label);
        KvFree(e);
    }
    shownLines.clear();
    menu.press = MenuPress{};
    menu.drag = false;
    menu.oldest = nullptr;
    menu.count = 0;
    menu.selected = nullptr;
    menu.selectedIndex = 0;
    menu.first = menu.last = 0;
    menu.labelWidth = 0;
    menu.lineWidth = 0;
}

bool CheckOpen() {
    if (!menu.open) ErrorRaise(kModuleNone, kErrEngineState);
    return menu.open;
}

// --- Navigation and changes -------------------------------------------------

// Moves the selection one selectable entry up (-1) or down (+1); it stays at
// the ends and when only the start is selectable.
bool Navigate(int32 direction) {
    MenuEntry* e = menu.selected;
    int32 index = menu.selectedIndex;
    if (e == nullptr) return false;
    for (;;) {
        e = direction < 0 ? e->older : e->newer;
        index += direction;
        if (e == nullptr || e == menu.selected) return false;
        if (Selectable(e)) {
            menu.selected = e;
            menu.selectedIndex = index;
            return true;
        }
    }
}

int32 Report(MenuEntry* e) {
    if (e->callback != nullptr && e->callback(kMenuQueryChanged) == 0) return EventFailed;
    return EventHandled;
}

// Left (-1) and Right (+1): floats stop at their ends, toggles and integers
// wrap round, actions fire.
int32 Change(MenuEntry* e, int32 direction) {
    if (e == nullptr || !Selectable(e)) return EventHandled;
    switch (e->kind) {
        case MenuKindToggle:
        case MenuKindInt: {
            auto* v = static_cast<int32*>(e->target);
            const int64_t next = static_cast<int64_t>(*v) + static_cast<int64_t>(e->stepI) * direction;
            *v = next > e->maxI ? e->minI : next < e->minI ? e->maxI : static_cast<int32>(next);
            break;
        }
        case MenuKindFloat: {
            auto* v = static_cast<float*>(e->target);
            float next = *v + e->stepF * static_cast<float>(direction);
            if (next > e->maxF) next = e->maxF;
            if (next < e->minF) next = e->minF;
            *v = next;
            break;
        }
        default:
            break;
    }
    return Report(e);
}

// --- Key repeat -------------------------------------------------------------

void UpdateRepeat(int32 event, const KeyboardRecord* key) {
    if (event == EventKeyUp) {
        menu.repeat.key = KeyboardRecord{0, 0};
        return;
    }
    // Shift and Control are held with other keys, not repeated.
    if (key->keyCode >= KeyLShift && key->keyCode <= KeyRCtrl) return;
    const uint32 now = Now();
    if (menu.repeat.key.keyCode == 0) {
        menu.repeat.key = *key;
        menu.repeat.pressed = now;
    }
    menu.repeat.lastRepeat = now;
}

void RunRepeat() {
    if (menu.repeat.key.keyCode == 0) return;
    const uint32 now = Now();
    const uint32 held = now - menu.repeat.pressed, since = now - menu.repeat.lastRepeat;
    if (held >= kRepeatDelay && since >= kRepeatInterval && since <= kRepeatGiveUp) {
        KeyboardRecord key = menu.repeat.key;
        MenuKeyboard(EventKeyDown, &key);
    }
}

// --- Drawing ----------------------------------------------------------------

// Appends to a line without running past its end.
struct Line {
    char text[kLineMax];
    int32 length = 0;
    void Add(const char* s) {
        while (*s != '\0' && length < kLineMax - 1) text[length++] = *s++;
        text[length] = '\0';
    }
    void PadTo(int32 width) {
        if (width > kLineMax - 1) width = kLineMax - 1;
        while (length < width) text[length++] = ' ';
        text[length] = '\0';
    }
};

void ValueText(const MenuEntry* e, char* out, std::size_t size) {
    switch (e->kind) {
        case MenuKindToggle:
            std::snprintf(out, size, "%s", *static_cast<const int32*>(e->target) != 0 ? " On " : "Off ");
            break;
        case MenuKindInt: {
            const int32 v = *static_cast<const int32*>(e->target);
            // A value the application set outside the range has no name.
            if (e->valueNames != nullptr && v >= e->minI && v <= e->maxI) {
                const char* name = e->valueNames[v - e->minI];
                std::snprintf(out, size, name[0] != '\0' ? "%s " : "%s", name);
            } else {
                std::snprintf(out, size, "%d ", v);
            }
            break;
        }
        case MenuKindFloat:
            std::snprintf(out, size, "%0.2f ", static_cast<double>(*static_cast<const float*>(e->target)));
            break;
        default:
            std::snprintf(out, size, "  < ");
            break;
    }
}

// " label", the shortcut in brackets at the label width + 2, the value at the
// right end of the line.
void FormatEntry(const MenuEntry* e, Line* line) {
    line->Add(" ");
    line->Add(e->label);
    if (e->shortcut != 0) {
        line->PadTo(menu.labelWidth + 2);
        char key[8];
        if (e->shortcut >= KeyF1 && e->shortcut <= KeyF1 + 8) {
            std::snprintf(key, sizeof key, "[F%c]", '1' + (e->shortcut - KeyF1));
        } else {
            std::snprintf(key, sizeof key, "[%c]", static_cast<char>(e->shortcut));
        }
        line->Add(key);
    }
    char value[64];
    ValueText(e, value, sizeof value);
    line->PadTo(menu.lineWidth - TextLength(value));
    line->Add(value);
}

enum LineSet : uint8 { SetMain, SetDisabled, SetSeparator, SetSelected, SetCount };

// Moves the selection off a separator or an entry that became unavailable:
// up when it can, else down.
void KeepSelectionUsable() {
    if (menu.selected == nullptr || Selectable(menu.selected)) return;
    if (!Navigate(-1)) Navigate(+1);
}

void ScrollWindow() {
    const int32 capacity = menu.rows - 2 > 1 ? menu.rows - 2 : 1;
    if (menu.count == 0) {
        menu.first = menu.last = 0;
        return;
    }
    if (menu.first > menu.count - 1) menu.first = menu.count - 1;
    if (menu.first < 0) menu.first = 0;
    menu.last = menu.first + capacity - 1;
    if (menu.last > menu.count - 1) menu.last = menu.count - 1;
    if (menu.selectedIndex > menu.last) {
        menu.last = menu.selectedIndex;
        menu.first = menu.last - capacity + 1;
    } else if (menu.selectedIndex < menu.first) {
        menu.first = menu.selectedIndex;
        menu.last = menu.first + capacity - 1;
        if (menu.last > menu.count - 1) menu.last = menu.count - 1;
    }
    // Scrolled down with room to spare: show more of what is above.
    while (menu.first > 0 && menu.last - menu.first + 1 < capacity) --menu.first;
}

void DrawMenu(Raster* set, int32 w, int32 h) {
    std::vector<VisibleLine>& lines = shownLines;
    lines.clear();
    const int32 x = 3 * w;
    int32 y = menu.first > 0 ? 2 * h : h;
    MenuEntry* e = menu.oldest;
    for (int32 i = 0; e != nullptr && i <= menu.last; ++i, e = e->newer) {
        if (i < menu.first) continue;
        uint8 which = SetMain;
        // A selection that found nowhere to go is still shown disabled.
        if (IsSeparator(e)) {
            which = SetSeparator;
        } else if (!Available(e)) {
            which = SetDisabled;
        } else if (e == menu.selected) {
            which = SetSelected;
        }
        lines.push_back(VisibleLine{e, i, y, which});
        y += h;
    }

    // One panel under all of it, "(more)" included.
    const bool moreAbove = menu.first > 0, moreBelow = menu.last < menu.count - 1;
    const int32 top = moreAbove || lines.empty() ? h : lines.front().y;
    const int32 bottom = moreBelow ? menu.rows * h + h : (lines.empty() ? h : lines.back().y + h);
    menu.panel = PixelRect{x - kTextPanelMarginX, top - kTextPanelMarginY, menu.lineWidth * w + 2 * kTextPanelMarginX,
                           bottom - top + 2 * kTextPanelMarginY};
    menu.lineX = x;
    menu.glyphW = w;
    menu.glyphH = h;
    TextPanelDraw(menu.panel.x, menu.panel.y, menu.panel.w, menu.panel.h);

    char dash[kDashMax + 1];
    int32 dashLength = menu.lineWidth - 2;
    if (dashLength > kDashMax) dashLength = kDashMax;
    if (dashLength < 0) dashLength = 0;
    std::memset(dash, '-', static_cast<std::size_t>(dashLength));
    dash[dashLength] = '\0';

    Raster* const sets[SetCount] = {set, menu.disabledSet, menu.separatorSet, menu.selectedSet};
    // One batch per set.
    for (uint8 s = 0; s < SetCount; ++s) {
        for (const VisibleLine& l : lines) {
            if (l.set != s) continue;
            if (s == SetSeparator) {
                if (dashLength > 0) CharsetPrintBuffered(sets[s], dash, x + w, l.y, false);
                continue;
            }
            Line line;
            FormatEntry(l.entry, &line);
            // The selected line shows as a bar: its spaces are drawn too.
            CharsetPrintBuffered(sets[s], line.text, x, l.y, s == SetSelected);
        }
        if (s == SetSeparator) {
            const int32 mx = x + (menu.lineWidth - 6) * w / 2;
            if (moreAbove) CharsetPrintBuffered(menu.separatorSet, "(more)", mx, h, false);
            if (moreBelow) CharsetPrintBuffered(menu.separatorSet, "(more)", mx, menu.rows * h, false);
        }
    }
    CharsetFlush();
}

int32 HelpPageStep() { return menu.rows - 2 > 1 ? menu.rows - 2 : 1; }

// Where help lines start: three cells in when a whole line fits after them,
// else far enough left that it does (centred), else at the left edge.
int32 HelpLeft(int32 width, int32 w) {
    const int32 line = kMenuHelpColumns * w;
    if (3 * w + line <= width) return 3 * w;
    return width > line ? (width - line) / 2 : 0;
}

void DrawHelp(Camera* camera, Raster* set, int32 w, int32 h) {
    CameraClear(camera, &menu.background, ClearImage | ClearZ);
    const int32 rows = menu.rows > 0 ? menu.rows : 0;
    // The last page is a full one.
    int32 top = menu.help.count - rows;
    if (menu.help.scroll > top) menu.help.scroll = top;
    if (menu.help.scroll < 0) menu.help.scroll = 0;
    const Raster* raster = CameraGetRaster(camera);
    const int32 width = raster != nullptr ? raster->width : 0;
    const int32 x = HelpLeft(width, w);
    int32 shown = menu.help.count - menu.help.scroll;
    if (shown > rows) shown = rows;
    if (shown > 0) {
        int32 columns = kMenuHelpColumns;
        if (x + columns * w > width) columns = (width - x) / w;
        TextPanelAround(x, h, columns, shown, w, h);
    }
    for (int32 i = 0; i < shown; ++i)
        CharsetPrintBuffered(set, menu.help.lines[menu.help.scroll + i], x, (i + 1) * h, false);
    CharsetFlush();
    LogoSetCamera(camera, 0);
}

// --- The mouse ----------------------------------------------------------------

struct MenuHit {
    bool inPanel = false;
    const VisibleLine* line = nullptr;  // an entry's line (not a separator)
    bool onValue = false;
};

// What of the menu, as last drawn, lies at the pixel.
MenuHit HitTest(float x, float y) {
    MenuHit hit;
    if (menu.glyphW <= 0 || !menu.panel.Contains(x, y)) return hit;
    hit.inPanel = true;
    const auto lineEnd = static_cast<float>(menu.lineX + menu.lineWidth * menu.glyphW);
    if (x < static_cast<float>(menu.lineX) || x >= lineEnd) return hit;  // the panel's margin
    for (const VisibleLine& l : shownLines) {
        if (IsSeparator(l.entry) || y < static_cast<float>(l.y) || y >= static_cast<float>(l.y + menu.glyphH)) continue;
        hit.line = &l;
        // The value, with the blank before it: the last cells of the line.
        const int32 valueX = menu.lineX + (menu.lineWidth - l.entry->valueWidth - 2) * menu.glyphW;
        hit.onValue =
            x >= static_cast<float>(valueX) && x < static_cast<float>(menu.lineX + menu.lineWidth * menu.glyphW);
        break;
    }
    return hit;
}

void Select(const VisibleLine& line) {
    menu.selected = line.entry;
    menu.selectedIndex = line.index;
}

void DragFloat(MenuEntry* e, const MouseRecord* m) {
    if (e == nullptr || e->kind != MenuKindFloat || !Selectable(e)) return;
    const float ax = m->dx < 0.0f ? -m->dx : m->dx, ay = m->dy < 0.0f ? -m->dy : m->dy;
    // Up and right both raise the value.
    const float amount = ay > ax ? -m->dy : m->dx;
    if (amount == 0.0f) return;
    auto* v = static_cast<float*>(e->target);
    float next = *v + (e->maxF - e->minF) * 0.002f * amount;
    if (next > e->maxF) next = e->maxF;
    if (next < e->minF) next = e->minF;
    *v = next;
    menu.press.dragged = true;
    Report(e);
}

// The end of the menu's own press: a left click that stayed on the value it
// went down on (and did not drag it) changes it.
int32 Release() {
    const MenuPress p = menu.press;
    menu.press = MenuPress{};
    menu.drag = false;
    if (p.button != EventLeftButtonDown || p.entry == nullptr || !p.onValue || p.dragged) return EventHandled;
    const MenuHit hit = HitTest(menu.pointerX, menu.pointerY);
    if (menu.mode != MenuModeMenu || hit.line == nullptr || hit.line->entry != p.entry || !hit.onValue) {
        return EventHandled;
    }
    return Change(p.entry, p.shift ? -1 : +1);
}

// Toggles and integers: the variable, the range and the optional names.
bool AddIntKind(int32 kind, const char* label, int32* variable, MenuCallback callback, int32 min, int32 max, int32 step,
                const char* const* valueNames) {
    if (!CheckOpen()) return false;
    if (label == nullptr || variable == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    if (min > max) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    if (valueNames != nullptr) {
        for (int64_t v = 0; v <= static_cast<int64_t>(max) - min; ++v) {
            if (valueNames[v] == nullptr) {
                ErrorRaise(kModuleNone, kErrNullArgument);
                return false;
            }
        }
    }
    MenuEntry* e = AddEntry(label, kind);
    if (e == nullptr) return false;
    e->target = variable;
    e->minI = min;
    e->maxI = max;
    e->stepI = step;
    e->valueNames = valueNames;
    e->callback = callback;
    return Finish(e);
}

}  // namespace

void MenuSetClock(MenuClock clock) { menuClock = clock; }

const MenuPalette* MenuGetPalette() { return &menu.palette; }

bool MenuOpen(int32 createMainSet, const RGBA* foreground, const RGBA* background) {
    if (menu.open) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return false;
    }
    const RGBA fg = foreground != nullptr ? *foreground : kDefaultForeground;
    const RGBA bg = background != nullptr ? *background : kDefaultBackground;
    Raster* mainSet = nullptr;
    if (createMainSet != 0) {
        mainSet = CharsetCreate(&fg, &bg);
        if (mainSet == nullptr) return false;
    }
    const MenuPalette palette = MenuMakePalette(fg, bg);
    Raster* disabledSet = CharsetCreate(&palette.disabled, &bg);
    Raster* selectedSet = CharsetCreate(&fg, &palette.selectedBar);
    Raster* separatorSet = CharsetCreate(&palette.separator, &bg);
    if (disabledSet == nullptr || selectedSet == nullptr || separatorSet == nullptr) {
        for (Raster* s : {mainSet, disabledSet, selectedSet, separatorSet}) {
            if (s != nullptr) CharsetDestroy(s);
        }
        return false;
    }
    menu = MenuState{};
    menu.foreground = fg;
    menu.background = bg;
    menu.palette = palette;
    menu.mainSet = mainSet;
    menu.disabledSet = disabledSet;
    menu.selectedSet = selectedSet;
    menu.separatorSet = separatorSet;
    menu.mode = MenuModeMenu;
    menu.open = true;
    MenuHelpLoad(&menu.help);
    return true;
}

bool MenuClose() {
    if (!CheckOpen()) return false;
    MenuHelpFree(&menu.help);
    FreeEntries();
    for (Raster* s : {menu.mainSet, menu.disabledSet, menu.selectedSet, menu.separatorSet}) {
        if (s != nullptr) CharsetDestroy(s);
    }
    menu = MenuState{};
    return true;
}

bool MenuAddToggle(const char* label, int32* variable, MenuCallback callback) {
    return AddIntKind(MenuKindToggle, label, variable, callback, 0, 1, 1, nullptr);
}

bool MenuAddInt(const char* label, int32* variable, MenuCallback callback, int32 min, int32 max, int32 step,
                const char* const* valueNames) {
    return AddIntKind(MenuKindInt, label, variable, callback, min, max, step, valueNames);
}

bool MenuAddFloat(const char* label, float* variable, MenuCallback callback, float min, float max, float step) {
    if (!CheckOpen()) return false;
    if (label == nullptr || variable == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    if (!(min <= max)) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    MenuEntry* e = AddEntry(label, MenuKindFloat);
    if (e == nullptr) return false;
    e->target = variable;
    e->minF = min;
    e->maxF = max;
    e->stepF = step;
    e->callback = callback;
    return Finish(e);
}

bool MenuAddAction(const char* label, MenuCallback callback) {
    if (!CheckOpen()) return false;
    if (label == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    MenuEntry* e = AddEntry(label, MenuKindAction);
    if (e == nullptr) return false;
    e->callback = callback;
    return Finish(e);
}

bool MenuAddSeparator() {
    if (!CheckOpen()) return false;
    MenuEntry* e = AddEntry("", MenuKindInt);
    if (e == nullptr) return false;
    e->valueNames = kSeparatorNames;
    return Finish(e);
}

bool MenuRender(Camera* camera, Raster* set) {
    if (!CheckOpen()) return false;
    if (camera == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    LogoRect logo;
    const bool haveLogo = LogoGetRect(&logo);
    if (haveLogo) LogoSetCamera(camera, 1);
    if (menu.mode == MenuModeOff) return false;
    // The mouse finds the menu where it was drawn last, or nowhere.
    menu.panel = PixelRect{};
    shownLines.clear();
    if (set == nullptr) set = menu.mainSet;
    const Raster* raster = CameraGetRaster(camera);
    CharsetDesc desc;
    if (set == nullptr || raster == nullptr || CharsetGetDesc(set, &desc) == nullptr) return false;
    const int32 w = desc.width, h = desc.height;
    if (3 * h >= raster->height) return false;
    menu.rows = raster->height / h - 2;
    // Text stays clear of the logo.
    if (haveLogo && logo.height >= 0) menu.rows -= logo.height / h;

    if (menu.mode == MenuModeMenu) {
        KeepSelectionUsable();
        ScrollWindow();
        DrawMenu(set, w, h);
    } else {
        DrawHelp(camera, set, w, h);
    }
    RunRepeat();
    return true;
}

int32 MenuKeyboard(int32 event, void* data) {
    if (!menu.open || data == nullptr || (event != EventKeyDown && event != EventKeyUp)) return EventNotHandled;
    const auto* record = static_cast<const KeyboardRecord*>(data);
    int32 key = record->keyCode;
    if (key >= 'a' && key <= 'z') key -= 'a' - 'A';

    // Shortcuts work in every mode; the newest entry wins.
    for (MenuEntry* e = menu.newest; e != nullptr && key != 0; e = e->older) {
        if (e->shortcut == key && Selectable(e)) return event == EventKeyDown ? Change(e, +1) : EventHandled;
    }
    if (event == EventKeyDown && key == ' ') {
        MenuCycleMode();
        return EventHandled;
    }
    switch (menu.mode) {
        case MenuModeMenu:
            UpdateRepeat(event, record);
            if (event != EventKeyDown) return EventNotHandled;
            switch (key) {
                case KeyUp:
                    Navigate(-1);
                    return EventHandled;
                case KeyDown:
                    Navigate(+1);
                    return EventHandled;
                case KeyLeft:
                    return Change(menu.selected, -1);
                case KeyRight:
                    return Change(menu.selected, +1);
                default:
                    return EventNotHandled;
            }
        case MenuModeHelp:
            UpdateRepeat(event, record);
            if (event == EventKeyDown) {
                switch (key) {
                    case KeyEsc:
                        ShellEvent(EventQuit, nullptr);
                        break;
                    case KeyPageUp:
                        menu.help.scroll -= HelpPageStep();
                        break;
                    case KeyPageDown:
                        menu.help.scroll += HelpPageStep();
                        break;
                    case KeyUp:
                        --menu.help.scroll;
                        break;
                    case KeyDown:
                        ++menu.help.scroll;
                        break;
                    default:
                        break;
                }
                if (menu.help.scroll < 0) menu.help.scroll = 0;
                // Far past the end is pulled back at render.
                if (menu.help.scroll > menu.help.count) menu.help.scroll = menu.help.count;
            }
            return EventHandled;
        default:
            return EventNotHandled;
    }
}

int32 MenuMouse(int32 event, void* data) {
    if (!menu.open) return EventNotHandled;
    const bool press = event == EventLeftButtonDown || event == EventRightButtonDown;
    if ((press || event == EventMouseMove) && data != nullptr) {
        const auto* m = static_cast<const MouseRecord*>(data);
        menu.pointerX = m->x;
        menu.pointerY = m->y;
        menu.pointerKnown = true;
    }
    // A release is the menu's only when it took the press, whatever it shows
    // now: the application must see the end of every drag it started.
    if (event == EventLeftButtonUp || event == EventRightButtonUp) {
        const int32 button = event == EventLeftButtonUp ? EventLeftButtonDown : EventRightButtonDown;
        if (menu.press.button != button) return EventNotHandled;
        return Release();
    }
    if (menu.mode == MenuModeHelp) {
        if (event != EventMouseWheel) return EventNotHandled;
        const bool forward = data != nullptr && *static_cast<const int32*>(data) != 0;
        menu.help.scroll += forward ? -2 : 2;
        if (menu.help.scroll < 0) menu.help.scroll = 0;
        if (menu.help.scroll > menu.help.count) menu.help.scroll = menu.help.count;
        return EventHandled;
    }
    if (menu.mode != MenuModeMenu)
        return menu.press.button != 0 && event == EventMouseMove ? EventHandled : EventNotHandled;
    switch (event) {
        case EventMouseWheel: {
            const int32 direction = data != nullptr && *static_cast<const int32*>(data) != 0 ? +1 : -1;
            const MenuHit hit = menu.pointerKnown ? HitTest(menu.pointerX, menu.pointerY) : MenuHit{};
            if (hit.line != nullptr && hit.onValue && Selectable(hit.line->entry)) {
                Select(*hit.line);
                return Change(hit.line->entry, direction);
            }
            // Forward (up) moves the selection up.
            Navigate(-direction);
            return EventHandled;
        }
        case EventLeftButtonDown:
        case EventRightButtonDown: {
            if (data == nullptr) return EventNotHandled;
            const MenuHit hit = HitTest(menu.pointerX, menu.pointerY);
            if (!hit.inPanel) {
                // Outside the panel a left press drags the selected float,
                // wherever it goes; other presses are the scene's.
                if (event != EventLeftButtonDown || menu.selected == nullptr || menu.selected->kind != MenuKindFloat ||
                    !Selectable(menu.selected)) {
                    return EventNotHandled;
                }
                menu.press = MenuPress{event, menu.selected, false, false, false};
                menu.drag = true;
                return EventHandled;
            }
            menu.press = MenuPress{event, nullptr, false, static_cast<const MouseRecord*>(data)->shift != 0, false};
            menu.drag = false;
            if (hit.line != nullptr && Selectable(hit.line->entry)) {
                Select(*hit.line);
                menu.press.entry = hit.line->entry;
                menu.press.onValue = hit.onValue;
                menu.drag = event == EventLeftButtonDown && hit.line->entry->kind == MenuKindFloat;
            }
            return EventHandled;
        }
        case EventMouseMove: {
            if (menu.press.button == 0) return EventNotHandled;
            if (menu.drag && data != nullptr) DragFloat(menu.press.entry, static_cast<const MouseRecord*>(data));
            return EventHandled;
        }
        default:
            return EventNotHandled;
    }
}

bool MenuSetMode(int32 mode) {
    if (mode < MenuModeOff || mode > MenuModeHelp) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    if (mode == menu.mode) return true;
    // A menu without entries has nothing to show but its help.
    if (mode == MenuModeMenu && menu.count == 0) mode = MenuModeHelp;
    menu.mode = mode;
    menu.drag = false;
    return true;
}

int32 MenuGetMode() { return menu.mode; }

int32 MenuGetSelectedIndex() { return menu.selectedIndex; }

bool MenuCycleMode() { return MenuSetMode((menu.mode + 1) % 3); }

int32 MenuHelpLineCount() { return menu.help.count; }

const char* MenuHelpLine(int32 index) {
    return index >= 0 && index < menu.help.count ? menu.help.lines[index] : nullptr;
}

}  // namespace kv
