// The device-selection dialog's window: a plain SDL window showing the
// dialog's pixels, modal in that nothing else runs until it is closed.
#include <SDL.h>

#include <cstdio>
#include <vector>

#include "app/skel/skeleton.h"
#include "device_dialog.h"

namespace kv {

namespace {

int32 DialogKeyOf(const SDL_Keysym& k, bool* known) {
    *known = true;
    const bool alt = (k.mod & KMOD_ALT) != 0;
    switch (k.sym) {
        case SDLK_TAB:
            return (k.mod & KMOD_SHIFT) != 0 ? DialogKeyBackTab : DialogKeyTab;
        case SDLK_UP:
        case SDLK_LEFT:
            return alt ? DialogKeyDropDown : DialogKeyUp;
        case SDLK_DOWN:
        case SDLK_RIGHT:
            return alt ? DialogKeyDropDown : DialogKeyDown;
        case SDLK_HOME:
            return DialogKeyHome;
        case SDLK_END:
            return DialogKeyEnd;
        case SDLK_PAGEUP:
            return DialogKeyPageUp;
        case SDLK_PAGEDOWN:
            return DialogKeyPageDown;
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            return DialogKeyEnter;
        case SDLK_ESCAPE:
            return DialogKeyEscape;
        case SDLK_SPACE:
            return DialogKeySpace;
        case SDLK_F4:
            return DialogKeyDropDown;
        default:
            *known = false;
            return 0;
    }
}

}  // namespace

int32 DeviceDialogRun(DeviceDialog* d) {
    SDL_Window* window = SDL_CreateWindow("Device Selection", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                          kDialogWidth, kDialogHeight, SDL_WINDOW_SHOWN);
    if (window == nullptr) {
        std::fprintf(stderr, "device selection: no dialog (%s); taking the current choices\n", SDL_GetError());
        return DialogClosedOk;
    }
    SDL_RaiseWindow(window);
    d->shown = true;
    const Uint32 id = SDL_GetWindowID(window);
    std::vector<uint32> pixels(static_cast<std::size_t>(kDialogWidth) * kDialogHeight);
    SDL_Surface* image = SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), kDialogWidth, kDialogHeight, 32,
                                                            kDialogWidth * 4, SDL_PIXELFORMAT_ARGB8888);

    int32 outcome = DialogStaysOpen;
    bool dirty = true;
    while (outcome == DialogStaysOpen) {
        if (dirty && image != nullptr) {
            DeviceDialogDraw(d, pixels.data());
            SDL_Surface* screen = SDL_GetWindowSurface(window);
            if (screen != nullptr) {
                SDL_BlitSurface(image, nullptr, screen, nullptr);
                SDL_UpdateWindowSurface(window);
            }
            dirty = false;
        }
        // A quit signal (Ctrl-C) closes the dialog as EXIT does; it is looked
        // for between events.
        if (PlatformQuitSignal() != 0) {
            outcome = DialogClosedExit;
            break;
        }
        SDL_Event e;
        if (SDL_WaitEventTimeout(&e, 100) == 0) {
            if (SDL_WasInit(SDL_INIT_EVENTS) == 0) outcome = DialogClosedExit;
            continue;
        }
        switch (e.type) {
            case SDL_QUIT:
                outcome = DialogClosedExit;
                break;
            case SDL_WINDOWEVENT:
                if (e.window.windowID != id) break;
                // Closing the dialog's window is the same as EXIT.
                if (e.window.event == SDL_WINDOWEVENT_CLOSE) outcome = DialogClosedExit;
                dirty = true;
                break;
            case SDL_KEYDOWN: {
                bool known = false;
                const int32 key = DialogKeyOf(e.key.keysym, &known);
                if (e.key.windowID == id && known) {
                    outcome = DeviceDialogKey(d, key);
                    dirty = true;
                }
                break;
            }
            case SDL_MOUSEBUTTONDOWN:
                if (e.button.windowID == id && e.button.button == SDL_BUTTON_LEFT) {
                    outcome = DeviceDialogMouseDown(d, e.button.x, e.button.y);
                    dirty = true;
                }
                break;
            case SDL_MOUSEBUTTONUP:
                if (e.button.windowID == id && e.button.button == SDL_BUTTON_LEFT) {
                    outcome = DeviceDialogMouseUp(d, e.button.x, e.button.y);
                    dirty = true;
                }
                break;
            case SDL_MOUSEMOTION:
                if (e.motion.windowID == id && d->openList != DialogNoControl) {
                    DeviceDialogMouseMove(d, e.motion.x, e.motion.y);
                    dirty = true;
                }
                break;
            case SDL_MOUSEWHEEL:
                if (e.wheel.windowID == id) {
                    DeviceDialogWheel(d, e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y);
                    dirty = true;
                }
                break;
            default:
                break;
        }
    }
    if (image != nullptr) SDL_FreeSurface(image);
    SDL_DestroyWindow(window);
    return outcome;
}

}  // namespace kv
