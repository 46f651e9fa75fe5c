#include "app_handler.h"

namespace kv {

namespace test {
std::function<int32(int32, void*)> appHandler;
}

int32 AppEventHandler(int32 event, void* data) {
    return test::appHandler ? test::appHandler(event, data) : EventNotHandled;
}

}  // namespace kv
