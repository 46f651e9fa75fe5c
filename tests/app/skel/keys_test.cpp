#include <SDL.h>
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/skel/sdl/platform.h"

namespace kv {
namespace {

// Every scan index that has a code, written out from the keyboard's layout;
// everything else must be 255.
std::map<int32, int32> ExpectedCodes() {
    std::map<int32, int32> e;
    const char* rows[] = {
        "\x02"
        "1234567890-=",
        "\x10"
        "qwertyuiop[]",
        "\x1e"
        "asdfghjkl;'`",
        "\x2c"
        "zxcvbnm,./"};
    for (const char* row : rows) {
        for (int32 i = 1; row[i] != '\0'; ++i) e[row[0] + i - 1] = row[i];
    }
    e[0x2B] = '#';
    e[0x39] = ' ';
    e[0x56] = '\\';
    e[0x01] = 128;
    for (int32 f = 0; f < 10; ++f) e[0x3B + f] = 129 + f;
    e[0x57] = 139;
    e[0x58] = 140;
    const std::pair<int32, int32> specials[] = {
        {0x0E, 168}, {0x0F, 169}, {0x1C, 171}, {0x1D, 174}, {0x2A, 172}, {0x36, 173}, {0x37, 163}, {0x38, 176},
        {0x3A, 170}, {0x45, 161}, {0x47, 143}, {0x48, 157}, {0x49, 155}, {0x4A, 164}, {0x4B, 159}, {0x4C, 167},
        {0x4D, 160}, {0x4E, 165}, {0x4F, 154}, {0x50, 158}, {0x51, 156}, {0x52, 151}, {0x53, 152}, {0x9C, 166},
        {0x9D, 175}, {0xB5, 162}, {0xB8, 177}, {0xC5, 161}, {0xC7, 143}, {0xC8, 147}, {0xC9, 145}, {0xCB, 149},
        {0xCD, 150}, {0xCF, 144}, {0xD0, 148}, {0xD1, 146}, {0xD2, 141}, {0xD3, 142},
    };
    for (const auto& [scan, code] : specials) e[scan] = code;
    return e;
}

TEST(KeyTable, EveryScanIndexHasItsCode) {
    const std::map<int32, int32> expected = ExpectedCodes();
    for (int32 scan = 0; scan < 256; ++scan) {
        const auto it = expected.find(scan);
        EXPECT_EQ(KeyCodeFromScanIndex(scan), it != expected.end() ? it->second : 255) << "scan 0x" << std::hex << scan;
    }
    EXPECT_EQ(KeyCodeFromScanIndex(-1), 255);
    EXPECT_EQ(KeyCodeFromScanIndex(256), 255);
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
