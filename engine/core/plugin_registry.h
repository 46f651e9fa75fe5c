// Plugin registries: one per extensible object kind. A module registers a
// block of bytes and gets back its offset inside every object of that kind;
// the registry runs the blocks' constructors and destructors on each object.
#pragma once

#include "types.h"

namespace kv {

struct Stream;
struct PluginRegistry;

using PluginConstructor = void* (*)(void* object, int32 offset, int32 size);
using PluginDestructor = void* (*)(void* object, int32 offset, int32 size);

// An engine module: the block it keeps in the engine instance, and the
// constructor and destructor that EngineStart and EngineStop run on it.
struct CoreModule {
    const char* name;
    int32 size;
    uint32 id;
    PluginConstructor open;
    PluginDestructor close;
};

using PluginCopy = void* (*)(void* dst, const void* src, int32 offset, int32 size);
// Extension-data stream callbacks (the chunked format writes and reads them).
using PluginStreamRead = Stream* (*)(Stream* stream, int32 length, void* object, int32 offset, int32 size);
using PluginStreamWrite = Stream* (*)(Stream* stream, int32 length, const void* object, int32 offset, int32 size);
using PluginStreamSize = int32 (*)(const void* object, int32 offset, int32 size);

struct PluginEntry {
    int32 offset;
    int32 size;
    uint32 pluginID;
    PluginStreamRead readCB;
    PluginStreamWrite writeCB;
    PluginStreamSize getSizeCB;
    PluginConstructor constructCB;
    PluginDestructor destructCB;
    PluginCopy copyCB;
    PluginEntry* nextRegEntry;
    PluginEntry* prevRegEntry;
    PluginRegistry* parentRegistry;
};

struct PluginRegistry {
    int32 sizeOfStruct;  // base plus every registered block
    int32 origSizeOfStruct;
    int32 maxSizeOfStruct;  // 0: unlimited
    PluginEntry* firstRegEntry;
    PluginEntry* lastRegEntry;
};

// Blocks are placed at offsets aligned for the largest member they may hold.
constexpr int32 kPluginAlign = 8;
constexpr int32 PluginAlignUp(int32 size) { return (size + kPluginAlign - 1) & ~(kPluginAlign - 1); }

// A registry for a kind whose own record is baseSize bytes (rounded up to the
// plugin alignment so the first block is aligned).
constexpr PluginRegistry PluginRegistryMake(int32 baseSize, int32 maxSize = 0) {
    return PluginRegistry{PluginAlignUp(baseSize), PluginAlignUp(baseSize), maxSize, nullptr, nullptr};
}

int32 RegistryRegister(PluginRegistry* reg, int32 size, uint32 pluginID, PluginConstructor construct,
                       PluginDestructor destruct, PluginCopy copy);
void* RegistryConstruct(const PluginRegistry* reg, void* object);
void RegistryDestruct(const PluginRegistry* reg, void* object);
void* RegistryCopy(const PluginRegistry* reg, void* dst, const void* src);
int32 RegistrySetStream(PluginRegistry* reg, uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                        PluginStreamSize size);
// The offset of a registered id, or -1.
int32 RegistryGetOffset(const PluginRegistry* reg, uint32 pluginID);

// The registry-entry free list; created by EngineInit, destroyed (with every
// registry reset to its base size) by EngineTerm.
bool RegistryOpen();
void RegistryReset();

// Where a plug-in's block lies behind every object of one kind. The offset
// is the one RegistryRegister gave; EngineTerm resets the registries, so an
// offset from an earlier attach counts only while the registry still reaches
// past it.
template <typename T>
class PluginSlot {
  public:
    // Keeps the offset; false when the registration failed (negative offset).
    bool Registered(int32 offset) {
        offset_ = offset;
        return offset >= 0;
    }
    bool ValidIn(const PluginRegistry* registry) const { return offset_ >= 0 && offset_ < registry->sizeOfStruct; }
    int32 Offset() const { return offset_; }

    // The block of an object, and the object a block belongs to.
    T* Of(const void* object) const {
        KV_ASSERT(offset_ >= 0);
        return PtrAdd<T>(const_cast<void*>(object), offset_);
    }
    template <typename Owner>
    Owner* OwnerOf(const T* block) const {
        return PtrAdd<Owner>(const_cast<T*>(block), -offset_);
    }

  private:
    int32 offset_ = -1;
};

}  // namespace kv
