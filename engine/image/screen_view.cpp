#include "screen_view.h"

namespace kv {

namespace {
ScreenViewQuery currentQuery = nullptr;
}  // namespace

void ScreenViewSetQuery(ScreenViewQuery query) { currentQuery = query; }

bool ScreenViewGet(ScreenView* view) { return currentQuery != nullptr && currentQuery(view); }

}  // namespace kv
