#include <SDL.h>
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <set>
#include <vector>

#include "app/skel/sdl/platform.h"

namespace kv {
namespace {

// What each key of a keyboard gives, by the key's name.
struct NamedKey {
    SDL_Scancode key;
    int32 code;
};

std::vector<NamedKey> EveryKey() {
    std::vector<NamedKey> keys;
    for (int32 i = 0; i < 26; ++i) keys.push_back({static_cast<SDL_Scancode>(SDL_SCANCODE_A + i), 'a' + i});
    for (int32 i = 0; i < 9; ++i) keys.push_back({static_cast<SDL_Scancode>(SDL_SCANCODE_1 + i), '1' + i});
    for (int32 i = 0; i < 10; ++i) keys.push_back({static_cast<SDL_Scancode>(SDL_SCANCODE_F1 + i), KeyF1 + i});
    const NamedKey named[] = {
        {SDL_SCANCODE_0, '0'},
        {SDL_SCANCODE_MINUS, '-'},
        {SDL_SCANCODE_EQUALS, '='},
        {SDL_SCANCODE_LEFTBRACKET, '['},
        {SDL_SCANCODE_RIGHTBRACKET, ']'},
        {SDL_SCANCODE_SEMICOLON, ';'},
        {SDL_SCANCODE_APOSTROPHE, '\''},
        {SDL_SCANCODE_GRAVE, '`'},
        {SDL_SCANCODE_COMMA, ','},
        {SDL_SCANCODE_PERIOD, '.'},
        {SDL_SCANCODE_SLASH, '/'},
        {SDL_SCANCODE_NONUSHASH, '#'},
        {SDL_SCANCODE_NONUSBACKSLASH, '\\'},
        {SDL_SCANCODE_SPACE, ' '},
        {SDL_SCANCODE_ESCAPE, KeyEsc},
        {SDL_SCANCODE_F11, KeyF11},
        {SDL_SCANCODE_F12, KeyF12},
        {SDL_SCANCODE_INSERT, KeyInsert},
        {SDL_SCANCODE_DELETE, KeyDelete},
        {SDL_SCANCODE_HOME, KeyHome},
        {SDL_SCANCODE_END, KeyEnd},
        {SDL_SCANCODE_PAGEUP, KeyPageUp},
        {SDL_SCANCODE_PAGEDOWN, KeyPageDown},
        {SDL_SCANCODE_UP, KeyUp},
        {SDL_SCANCODE_DOWN, KeyDown},
        {SDL_SCANCODE_LEFT, KeyLeft},
        {SDL_SCANCODE_RIGHT, KeyRight},
        {SDL_SCANCODE_BACKSPACE, KeyBackspace},
        {SDL_SCANCODE_TAB, KeyTab},
        {SDL_SCANCODE_CAPSLOCK, KeyCapsLock},
        {SDL_SCANCODE_RETURN, KeyEnter},
        {SDL_SCANCODE_LSHIFT, KeyLShift},
        {SDL_SCANCODE_RSHIFT, KeyRShift},
        {SDL_SCANCODE_LCTRL, KeyLCtrl},
        {SDL_SCANCODE_RCTRL, KeyRCtrl},
        {SDL_SCANCODE_LALT, KeyLAlt},
        {SDL_SCANCODE_RALT, KeyRAlt},
        {SDL_SCANCODE_NUMLOCKCLEAR, KeyNumLock},
        {SDL_SCANCODE_KP_DIVIDE, KeyPadDivide},
        {SDL_SCANCODE_KP_MULTIPLY, KeyPadTimes},
        {SDL_SCANCODE_KP_MINUS, KeyPadMinus},
        {SDL_SCANCODE_KP_PLUS, KeyPadPlus},
        {SDL_SCANCODE_KP_ENTER, KeyPadEnter},
        {SDL_SCANCODE_KP_PERIOD, KeyPadStop},
        {SDL_SCANCODE_KP_0, KeyPad0},
        {SDL_SCANCODE_KP_1, KeyPad1},
        {SDL_SCANCODE_KP_2, KeyPad2},
        {SDL_SCANCODE_KP_3, KeyPad3},
        {SDL_SCANCODE_KP_4, KeyPad4},
        {SDL_SCANCODE_KP_5, KeyPad5},
        {SDL_SCANCODE_KP_6, KeyPad6},
        {SDL_SCANCODE_KP_7, KeyHome},  // the pad's 7 has no code of its own
        {SDL_SCANCODE_KP_8, KeyPad8},
        {SDL_SCANCODE_KP_9, KeyPad9},
        // Keys the program has no code for.
        {SDL_SCANCODE_SCROLLLOCK, KeyNull},
        {SDL_SCANCODE_PRINTSCREEN, KeyNull},
        {SDL_SCANCODE_LGUI, KeyNull},
        {SDL_SCANCODE_RGUI, KeyNull},
        {SDL_SCANCODE_APPLICATION, KeyNull},
    };
    keys.insert(keys.end(), std::begin(named), std::end(named));
    return keys;
}

TEST(KeyTable, EveryKeyGivesTheCodeOfItsName) {
    std::set<int32> reached;
    for (const NamedKey& k : EveryKey()) {
        const int32 scan = ScanIndexFromScancode(k.key);
        reached.insert(scan);
        EXPECT_EQ(KeyCodeFromScanIndex(scan), k.code) << SDL_GetScancodeName(k.key);
    }
    // The backslash key of US keyboards is the key beside Enter: the same code.
    EXPECT_EQ(KeyCodeFromScanIndex(ScanIndexFromScancode(SDL_SCANCODE_BACKSLASH)), '#');
    // The extended Num Lock index keeps its code though no key here sends it;
    // no other scan index produces a key.
    EXPECT_EQ(KeyCodeFromScanIndex(0xC5), KeyNumLock);
    for (int32 scan = 0; scan < 256; ++scan) {
        if (reached.count(scan) == 0 && scan != 0xC5) {
            EXPECT_EQ(KeyCodeFromScanIndex(scan), KeyNull) << "scan 0x" << std::hex << scan;
        }
    }
    EXPECT_EQ(KeyCodeFromScanIndex(-1), KeyNull);
    EXPECT_EQ(KeyCodeFromScanIndex(256), KeyNull);
}

TEST(KeyTable, EverySpecialCodeButOneIsProduced) {
    std::set<int32> produced;
    for (int32 scan = 0; scan < 256; ++scan) produced.insert(KeyCodeFromScanIndex(scan));
    for (int32 code = 128; code <= 177; ++code) {
        if (code == 153) {
            EXPECT_EQ(produced.count(code), 0u);
        } else {
            EXPECT_EQ(produced.count(code), 1u) << code;
        }
    }
}

TEST(KeyTranslation, WindowSystemKeysReachTheirCodes) {
    struct Case {
        SDL_Scancode key;
        int32 scan;
        int32 code;
    };
    const Case cases[] = {
        {SDL_SCANCODE_ESCAPE, 0x01, KeyEsc},
        {SDL_SCANCODE_A, 0x1E, 'a'},
        {SDL_SCANCODE_Z, 0x2C, 'z'},
        {SDL_SCANCODE_0, 0x0B, '0'},
        {SDL_SCANCODE_SPACE, 0x39, ' '},
        {SDL_SCANCODE_RETURN, 0x1C, KeyEnter},
        {SDL_SCANCODE_KP_ENTER, 0x9C, KeyPadEnter},
        {SDL_SCANCODE_LCTRL, 0x1D, KeyLCtrl},
        {SDL_SCANCODE_RCTRL, 0x9D, KeyRCtrl},
        {SDL_SCANCODE_LALT, 0x38, KeyLAlt},
        {SDL_SCANCODE_RALT, 0xB8, KeyRAlt},
        {SDL_SCANCODE_KP_DIVIDE, 0xB5, KeyPadDivide},
        {SDL_SCANCODE_KP_7, 0x47, KeyHome},
        {SDL_SCANCODE_HOME, 0xC7, KeyHome},
        {SDL_SCANCODE_UP, 0xC8, KeyUp},
        {SDL_SCANCODE_LEFT, 0xCB, KeyLeft},
        {SDL_SCANCODE_DELETE, 0xD3, KeyDelete},
        {SDL_SCANCODE_F1, 0x3B, KeyF1},
        {SDL_SCANCODE_F10, 0x44, KeyF1 + 9},
        {SDL_SCANCODE_F12, 0x58, KeyF12},
        {SDL_SCANCODE_NUMLOCKCLEAR, 0x45, KeyNumLock},
        {SDL_SCANCODE_SCROLLLOCK, 0x46, KeyNull},
        {SDL_SCANCODE_BACKSLASH, 0x2B, '#'},
        {SDL_SCANCODE_NONUSHASH, 0x2B, '#'},
        {SDL_SCANCODE_NONUSBACKSLASH, 0x56, '\\'},
        {SDL_SCANCODE_LGUI, 0xDB, KeyNull},
        {SDL_SCANCODE_PRINTSCREEN, 0xB7, KeyNull},
        {SDL_SCANCODE_PAUSE, 0, KeyNull},
        {SDL_SCANCODE_MUTE, 0, KeyNull},
    };
    for (const Case& c : cases) {
        const int32 scan = ScanIndexFromScancode(c.key);
        EXPECT_EQ(scan, c.scan) << SDL_GetScancodeName(c.key);
        EXPECT_EQ(KeyCodeFromScanIndex(scan), c.code) << SDL_GetScancodeName(c.key);
    }
    EXPECT_EQ(ScanIndexFromScancode(-5), 0);
    EXPECT_EQ(ScanIndexFromScancode(SDL_NUM_SCANCODES), 0);
}

TEST(KeyTranslation, NoTwoKeysShareAScanIndex) {
    // Only the key beside Enter has two names (ANSI backslash, ISO hash).
    std::map<int32, int32> owner;
    for (int32 sc = 0; sc < SDL_NUM_SCANCODES; ++sc) {
        const int32 scan = ScanIndexFromScancode(sc);
        ASSERT_GE(scan, 0);
        ASSERT_LT(scan, 256);
        if (scan == 0 || sc == SDL_SCANCODE_NONUSHASH) continue;
        const auto [it, fresh] = owner.emplace(scan, sc);
        EXPECT_TRUE(fresh) << SDL_GetScancodeName(static_cast<SDL_Scancode>(sc)) << " and "
                           << SDL_GetScancodeName(static_cast<SDL_Scancode>(it->second));
    }
}

}  // namespace
}  // namespace kv
