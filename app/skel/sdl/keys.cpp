// Key translation: the window system's scancode -> the PC keyboard's scan
// index -> the key code the application sees.
#include <SDL.h>

#include <array>

#include "platform.h"

namespace kv {

namespace {

constexpr int32 kExtended = 128;

struct ScanPair {
    SDL_Scancode scancode;
    int32 scanIndex;
};

// Set-1 make codes; E0-prefixed keys carry the extended bit. Keys with no
// set-1 code (Pause, media keys, ...) are left out and become scan index 0.
constexpr ScanPair kScanPairs[] = {
    {SDL_SCANCODE_ESCAPE, 0x01},
    {SDL_SCANCODE_1, 0x02},
    {SDL_SCANCODE_2, 0x03},
    {SDL_SCANCODE_3, 0x04},
    {SDL_SCANCODE_4, 0x05},
    {SDL_SCANCODE_5, 0x06},
    {SDL_SCANCODE_6, 0x07},
    {SDL_SCANCODE_7, 0x08},
    {SDL_SCANCODE_8, 0x09},
    {SDL_SCANCODE_9, 0x0A},
    {SDL_SCANCODE_0, 0x0B},
    {SDL_SCANCODE_MINUS, 0x0C},
    {SDL_SCANCODE_EQUALS, 0x0D},
    {SDL_SCANCODE_BACKSPACE, 0x0E},
    {SDL_SCANCODE_TAB, 0x0F},
    {SDL_SCANCODE_Q, 0x10},
    {SDL_SCANCODE_W, 0x11},
    {SDL_SCANCODE_E, 0x12},
    {SDL_SCANCODE_R, 0x13},
    {SDL_SCANCODE_T, 0x14},
    {SDL_SCANCODE_Y, 0x15},
    {SDL_SCANCODE_U, 0x16},
    {SDL_SCANCODE_I, 0x17},
    {SDL_SCANCODE_O, 0x18},
    {SDL_SCANCODE_P, 0x19},
    {SDL_SCANCODE_LEFTBRACKET, 0x1A},
    {SDL_SCANCODE_RIGHTBRACKET, 0x1B},
    {SDL_SCANCODE_RETURN, 0x1C},
    {SDL_SCANCODE_LCTRL, 0x1D},
    {SDL_SCANCODE_A, 0x1E},
    {SDL_SCANCODE_S, 0x1F},
    {SDL_SCANCODE_D, 0x20},
    {SDL_SCANCODE_F, 0x21},
    {SDL_SCANCODE_G, 0x22},
    {SDL_SCANCODE_H, 0x23},
    {SDL_SCANCODE_J, 0x24},
    {SDL_SCANCODE_K, 0x25},
    {SDL_SCANCODE_L, 0x26},
    {SDL_SCANCODE_SEMICOLON, 0x27},
    {SDL_SCANCODE_APOSTROPHE, 0x28},
    {SDL_SCANCODE_GRAVE, 0x29},
    {SDL_SCANCODE_LSHIFT, 0x2A},
    // The key beside Enter: ANSI keyboards report it as backslash, ISO ones as
    // the non-US hash; both are scan 0x2B.
    {SDL_SCANCODE_BACKSLASH, 0x2B},
    {SDL_SCANCODE_NONUSHASH, 0x2B},
    {SDL_SCANCODE_Z, 0x2C},
    {SDL_SCANCODE_X, 0x2D},
    {SDL_SCANCODE_C, 0x2E},
    {SDL_SCANCODE_V, 0x2F},
    {SDL_SCANCODE_B, 0x30},
    {SDL_SCANCODE_N, 0x31},
    {SDL_SCANCODE_M, 0x32},
    {SDL_SCANCODE_COMMA, 0x33},
    {SDL_SCANCODE_PERIOD, 0x34},
    {SDL_SCANCODE_SLASH, 0x35},
    {SDL_SCANCODE_RSHIFT, 0x36},
    {SDL_SCANCODE_KP_MULTIPLY, 0x37},
    {SDL_SCANCODE_LALT, 0x38},
    {SDL_SCANCODE_SPACE, 0x39},
    {SDL_SCANCODE_CAPSLOCK, 0x3A},
    {SDL_SCANCODE_F1, 0x3B},
    {SDL_SCANCODE_F2, 0x3C},
    {SDL_SCANCODE_F3, 0x3D},
    {SDL_SCANCODE_F4, 0x3E},
    {SDL_SCANCODE_F5, 0x3F},
    {SDL_SCANCODE_F6, 0x40},
    {SDL_SCANCODE_F7, 0x41},
    {SDL_SCANCODE_F8, 0x42},
    {SDL_SCANCODE_F9, 0x43},
    {SDL_SCANCODE_F10, 0x44},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x45},
    {SDL_SCANCODE_SCROLLLOCK, 0x46},
    {SDL_SCANCODE_KP_7, 0x47},
    {SDL_SCANCODE_KP_8, 0x48},
    {SDL_SCANCODE_KP_9, 0x49},
    {SDL_SCANCODE_KP_MINUS, 0x4A},
    {SDL_SCANCODE_KP_4, 0x4B},
    {SDL_SCANCODE_KP_5, 0x4C},
    {SDL_SCANCODE_KP_6, 0x4D},
    {SDL_SCANCODE_KP_PLUS, 0x4E},
    {SDL_SCANCODE_KP_1, 0x4F},
    {SDL_SCANCODE_KP_2, 0x50},
    {SDL_SCANCODE_KP_3, 0x51},
    {SDL_SCANCODE_KP_0, 0x52},
    {SDL_SCANCODE_KP_PERIOD, 0x53},
    {SDL_SCANCODE_NONUSBACKSLASH, 0x56},
    {SDL_SCANCODE_F11, 0x57},
    {SDL_SCANCODE_F12, 0x58},
    {SDL_SCANCODE_KP_EQUALS, 0x59},
    {SDL_SCANCODE_F13, 0x64},
    {SDL_SCANCODE_F14, 0x65},
    {SDL_SCANCODE_F15, 0x66},
    {SDL_SCANCODE_F16, 0x67},
    {SDL_SCANCODE_F17, 0x68},
    {SDL_SCANCODE_F18, 0x69},
    {SDL_SCANCODE_F19, 0x6A},
    {SDL_SCANCODE_F20, 0x6B},
    {SDL_SCANCODE_F21, 0x6C},
    {SDL_SCANCODE_F22, 0x6D},
    {SDL_SCANCODE_F23, 0x6E},
    {SDL_SCANCODE_F24, 0x76},
    {SDL_SCANCODE_INTERNATIONAL2, 0x70},
    {SDL_SCANCODE_INTERNATIONAL1, 0x73},
    {SDL_SCANCODE_INTERNATIONAL4, 0x79},
    {SDL_SCANCODE_INTERNATIONAL5, 0x7B},
    {SDL_SCANCODE_INTERNATIONAL3, 0x7D},
    {SDL_SCANCODE_KP_ENTER, kExtended + 0x1C},
    {SDL_SCANCODE_RCTRL, kExtended + 0x1D},
    {SDL_SCANCODE_KP_DIVIDE, kExtended + 0x35},
    {SDL_SCANCODE_PRINTSCREEN, kExtended + 0x37},
    {SDL_SCANCODE_RALT, kExtended + 0x38},
    {SDL_SCANCODE_HOME, kExtended + 0x47},
    {SDL_SCANCODE_UP, kExtended + 0x48},
    {SDL_SCANCODE_PAGEUP, kExtended + 0x49},
    {SDL_SCANCODE_LEFT, kExtended + 0x4B},
    {SDL_SCANCODE_RIGHT, kExtended + 0x4D},
    {SDL_SCANCODE_END, kExtended + 0x4F},
    {SDL_SCANCODE_DOWN, kExtended + 0x50},
    {SDL_SCANCODE_PAGEDOWN, kExtended + 0x51},
    {SDL_SCANCODE_INSERT, kExtended + 0x52},
    {SDL_SCANCODE_DELETE, kExtended + 0x53},
    {SDL_SCANCODE_LGUI, kExtended + 0x5B},
    {SDL_SCANCODE_RGUI, kExtended + 0x5C},
    {SDL_SCANCODE_APPLICATION, kExtended + 0x5D},
    {SDL_SCANCODE_POWER, kExtended + 0x5E},
    {SDL_SCANCODE_SLEEP, kExtended + 0x5F},
};

constexpr std::array<int32, SDL_NUM_SCANCODES> MakeScanTable() {
    std::array<int32, SDL_NUM_SCANCODES> t{};
    for (const ScanPair& p : kScanPairs) t[p.scancode] = p.scanIndex;
    return t;
}

constexpr std::array<int32, 256> MakeKeyTable() {
    std::array<int32, 256> t{};
    for (int32& code : t) code = KeyNull;

    const char row1[] = "1234567890-=";  // 0x02..0x0D
    for (int i = 0; i < 12; ++i) t[0x02 + i] = row1[i];
    const char row2[] = "qwertyuiop[]";  // 0x10..0x1B
    for (int i = 0; i < 12; ++i) t[0x10 + i] = row2[i];
    const char row3[] = "asdfghjkl;'`";  // 0x1E..0x29
    for (int i = 0; i < 12; ++i) t[0x1E + i] = row3[i];
    const char row4[] = "zxcvbnm,./";  // 0x2C..0x35
    for (int i = 0; i < 10; ++i) t[0x2C + i] = row4[i];
    t[0x2B] = '#';
    t[0x39] = ' ';
    t[0x56] = '\\';

    t[0x01] = KeyEsc;
    t[0x0E] = KeyBackspace;
    t[0x0F] = KeyTab;
    t[0x1C] = KeyEnter;
    t[0x1D] = KeyLCtrl;
    t[0x2A] = KeyLShift;
    t[0x36] = KeyRShift;
    t[0x37] = KeyPadTimes;
    t[0x38] = KeyLAlt;
    t[0x3A] = KeyCapsLock;
    for (int i = 0; i < 10; ++i) t[0x3B + i] = KeyF1 + i;
    t[0x45] = KeyNumLock;
    // 0x46 (Scroll Lock) has no code. Keypad 7 shares Home's code.
    t[0x47] = KeyHome;
    t[0x48] = KeyPad8;
    t[0x49] = KeyPad9;
    t[0x4A] = KeyPadMinus;
    t[0x4B] = KeyPad4;
    t[0x4C] = KeyPad5;
    t[0x4D] = KeyPad6;
    t[0x4E] = KeyPadPlus;
    t[0x4F] = KeyPad1;
    t[0x50] = KeyPad2;
    t[0x51] = KeyPad3;
    t[0x52] = KeyPad0;
    t[0x53] = KeyPadStop;
    t[0x57] = KeyF11;
    t[0x58] = KeyF12;

    t[kExtended + 0x1C] = KeyPadEnter;
    t[kExtended + 0x1D] = KeyRCtrl;
    t[kExtended + 0x35] = KeyPadDivide;
    t[kExtended + 0x38] = KeyRAlt;
    t[kExtended + 0x45] = KeyNumLock;
    t[kExtended + 0x47] = KeyHome;
    t[kExtended + 0x48] = KeyUp;
    t[kExtended + 0x49] = KeyPageUp;
    t[kExtended + 0x4B] = KeyLeft;
    t[kExtended + 0x4D] = KeyRight;
    t[kExtended + 0x4F] = KeyEnd;
    t[kExtended + 0x50] = KeyDown;
    t[kExtended + 0x51] = KeyPageDown;
    t[kExtended + 0x52] = KeyInsert;
    t[kExtended + 0x53] = KeyDelete;
    return t;
}

constexpr std::array<int32, SDL_NUM_SCANCODES> kScanTable = MakeScanTable();
constexpr std::array<int32, 256> kKeyTable = MakeKeyTable();

}  // namespace

int32 ScanIndexFromScancode(int32 sdlScancode) {
    if (sdlScancode < 0 || sdlScancode >= SDL_NUM_SCANCODES) return 0;
    return kScanTable[sdlScancode];
}

int32 KeyCodeFromScanIndex(int32 scanIndex) {
    if (scanIndex < 0 || scanIndex > 255) return KeyNull;
    return kKeyTable[scanIndex];
}

}  // namespace kv
