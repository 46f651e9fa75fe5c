// Where a module's block lives in the engine instance, and whether the module
// is open. Every engine module keeps one slot: its constructor marks the slot
// open at the offset the registry gave, its destructor marks it closed, and
// the module's functions reach their block through Get().
//
//     ModuleSlot<RasterModule> slot;
//     void* RasterModuleOpen(void* instance, int32 offset, int32) {
//         RasterModule* m = slot.At(instance, offset);
//         ... set up m; on failure return nullptr ...
//         slot.Opened(offset);
//         return instance;
//     }
#pragma once

#include "engine.h"
#include "error.h"
#include "types.h"

namespace kv {

template <typename T>
class ModuleSlot {
  public:
    // The block at an offset of an instance the registry is constructing or
    // destructing (the current instance may not be that one yet).
    static T* At(void* instance, int32 offset) { return PtrAdd<T>(instance, offset); }

    void Opened(int32 offset) {
        KV_ASSERT(offset >= static_cast<int32>(sizeof(EngineInstance)));
        offset_ = offset;
        open_ = true;
    }
    void Closed() { open_ = false; }

    bool IsOpen() const { return open_ && EngineInstanceGet() != nullptr; }
    int32 Offset() const { return offset_; }

    // The block in the current instance, or null while the module is closed.
    T* Get() const { return IsOpen() ? PtrAdd<T>(EngineInstanceGet(), offset_) : nullptr; }

    // As Get(), recording the wrong-state error when the module is closed.
    T* GetOrError() const {
        T* block = Get();
        if (block == nullptr) ErrorRaise(kModuleNone, kErrEngineState);
        return block;
    }

  private:
    int32 offset_ = -1;
    bool open_ = false;
};

}  // namespace kv
