#include "plugin_registry.h"

#include "engine.h"
#include "error.h"
#include "memory.h"

namespace kv {

namespace {
FreeList* entryList = nullptr;

void* NoConstruct(void* object, int32, int32) { return object; }
void* NoDestruct(void* object, int32, int32) { return object; }
void* NoCopy(void* dst, const void*, int32, int32) { return dst; }
}  // namespace

bool RegistryOpen() {
    if (entryList != nullptr) return true;
    entryList = FreeListCreate(sizeof(PluginEntry), 20, 0);
    return entryList != nullptr;
}

void RegistryReset() {
    if (entryList == nullptr) return;
    // Every registry that owns an entry goes back to its base size. Walk the
    // used entries first: the pool is about to disappear with them.
    FreeListForAllUsed(
        entryList,
        [](void* e, void*) {
            PluginRegistry* reg = static_cast<PluginEntry*>(e)->parentRegistry;
            reg->sizeOfStruct = reg->origSizeOfStruct;
            reg->firstRegEntry = nullptr;
            reg->lastRegEntry = nullptr;
        },
        nullptr);
    FreeListDestroy(entryList);
    entryList = nullptr;
}

int32 RegistryRegister(PluginRegistry* reg, int32 size, uint32 pluginID, PluginConstructor construct,
                       PluginDestructor destruct, PluginCopy copy) {
    if (entryList == nullptr) return -1;
    if (EngineOpenCount() != 0) {
        ErrorRaise(kModuleNone, kErrPluginWhileOpen);
        return -1;
    }
    for (PluginEntry* e = reg->firstRegEntry; e != nullptr; e = e->nextRegEntry) {
        if (e->pluginID == pluginID) return e->offset;
    }
    const int32 newSize = reg->sizeOfStruct + PluginAlignUp(size);
    if (reg->maxSizeOfStruct != 0 && reg->maxSizeOfStruct < newSize) return -1;

    // Registry entries always come from the pool itself, never plain memory:
    // they must all be found again by RegistryReset.
    auto* e = static_cast<PluginEntry*>(FreeListAlloc(entryList));
    if (e == nullptr) return -1;
    e->offset = reg->sizeOfStruct;
    reg->sizeOfStruct = newSize;
    e->size = size;
    e->pluginID = pluginID;
    e->readCB = nullptr;
    e->writeCB = nullptr;
    e->getSizeCB = nullptr;
    e->constructCB = construct != nullptr ? construct : NoConstruct;
    e->destructCB = destruct != nullptr ? destruct : NoDestruct;
    e->copyCB = copy != nullptr ? copy : NoCopy;
    e->parentRegistry = reg;
    e->nextRegEntry = nullptr;
    e->prevRegEntry = reg->lastRegEntry;
    if (reg->lastRegEntry != nullptr) {
        reg->lastRegEntry->nextRegEntry = e;
    } else {
        reg->firstRegEntry = e;
    }
    reg->lastRegEntry = e;
    return e->offset;
}

void* RegistryConstruct(const PluginRegistry* reg, void* object) {
    for (PluginEntry* e = reg->firstRegEntry; e != nullptr; e = e->nextRegEntry) {
        if (e->constructCB(object, e->offset, e->size) == nullptr) {
            for (PluginEntry* d = e->prevRegEntry; d != nullptr; d = d->prevRegEntry) {
                d->destructCB(object, d->offset, d->size);
            }
            return nullptr;
        }
    }
    return object;
}

void RegistryDestruct(const PluginRegistry* reg, void* object) {
    for (PluginEntry* e = reg->lastRegEntry; e != nullptr; e = e->prevRegEntry) {
        e->destructCB(object, e->offset, e->size);
    }
}

void* RegistryCopy(const PluginRegistry* reg, void* dst, const void* src) {
    for (PluginEntry* e = reg->firstRegEntry; e != nullptr; e = e->nextRegEntry) {
        e->copyCB(dst, src, e->offset, e->size);
    }
    return dst;
}

int32 RegistrySetStream(PluginRegistry* reg, uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                        PluginStreamSize size) {
    for (PluginEntry* e = reg->firstRegEntry; e != nullptr; e = e->nextRegEntry) {
        if (e->pluginID == pluginID) {
            e->readCB = read;
            e->writeCB = write;
            e->getSizeCB = size;
            return e->offset;
        }
    }
    return -1;
}

int32 RegistryGetOffset(const PluginRegistry* reg, uint32 pluginID) {
    for (PluginEntry* e = reg->firstRegEntry; e != nullptr; e = e->nextRegEntry) {
        if (e->pluginID == pluginID) return e->offset;
    }
    return -1;
}

}  // namespace kv
