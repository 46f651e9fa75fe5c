// The sky-dome creator's answers to the skeleton's events.
#include "app/skel/skeleton.h"
#include "app/skydome/options.h"

namespace kv {

namespace {
long framesDrawn = 0;

int32 Initialise(void* window) {
    if (ShellDefaultEvent(EventInitialise, window) != EventHandled) {
        PlatformErrorMessage("Error initializing Kelvane.");
        return EventFailed;
    }
    return EventHandled;
}

void Idle() {
    ++framesDrawn;
    const long limit = SkydomeGetOptions()->frames;
    if (limit >= 0 && framesDrawn >= limit) ShellEvent(EventQuit, nullptr);
}
}  // namespace

int32 AppEventHandler(int32 event, void* data) {
    switch (event) {
        case EventPreInitialise: {
            ShellDefaultEvent(EventPreInitialise, nullptr);
            ShellSettings* s = ShellGetSettings();
            if (s->width == 0) s->width = 640;
            if (s->height == 0) s->height = 480;
            s->title = "KV3 Skydome Creator";
            s->maxFrameRate = 100;
            return EventHandled;
        }
        case EventInitialise:
            return Initialise(data);
        case EventIdle:
            Idle();
            return EventHandled;
        default:
            return EventNotHandled;
    }
}

}  // namespace kv
