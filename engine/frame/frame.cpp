#include "frame.h"

#include <cstddef>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"

namespace kv {

namespace {

constexpr int32 kFramesPerBlock = 50;
// Module-specific code: the new child is the parent or one of its ancestors.

PluginRegistry frameRegistry = PluginRegistryMake(sizeof(Frame));
ModuleSlot<FrameModuleGlobals> slot;

FrameModuleGlobals* Globals() { return slot.Get(); }

LinkList* DirtyList() { return &EngineInstanceGet()->dirtyFrameList; }

Frame* FrameFromDirtyLink(LLLink* link) { return LLLinkGetData<Frame>(link, offsetof(Frame, dirtyLink)); }

ObjectWithFrame* ObjectFromLink(LLLink* link) {
    return LLLinkGetData<ObjectWithFrame>(link, offsetof(ObjectWithFrame, frameLink));
}

// Unlinks and leaves the link pointing at itself, so that a second removal
// cannot disturb the list it has already left.
void LinkDetach(LLLink* link) {
    LLLinkRemove(link);
    link->next = link;
    link->prev = link;
}

// Sets the bits on the frame and makes sure its root is on the dirty list.
void Mark(Frame* frame, uint8 bits) {
    frame->object.privateFlags |= bits;
    Frame* root = frame->root;
    if ((root->object.privateFlags & kFrameSyncPending) == 0) {
        LinkListAddLLLink(DirtyList(), &root->dirtyLink);
    }
    root->object.privateFlags |= kFrameSyncPending;
}

void SetRoot(Frame* frame, Frame* root) {
    frame->root = root;
    for (Frame* c = frame->child; c != nullptr; c = c->next) SetRoot(c, root);
}

bool OnDirtyList(const Frame* frame) { return (frame->object.privateFlags & kFrameSyncPending) != 0; }

// The frame leaves its parent and becomes the root of its own subtree; both
// hierarchies are marked so that their world matrices and objects follow.
void DetachFromParent(Frame* frame) {
    Frame* parent = FrameGetParent(frame);
    Frame* oldRoot = frame->root;
    SetRoot(frame, frame);
    Mark(frame, kFrameDirty);
    if (parent->child == frame) {
        parent->child = frame->next;
    } else {
        Frame* c = parent->child;
        while (c->next != frame) c = c->next;
        c->next = frame->next;
    }
    frame->object.parent = nullptr;
    frame->next = nullptr;
    Mark(oldRoot, kFrameDirty);
}

void NotifyObjects(Frame* frame) {
    LinkList* list = &frame->objectList;
    for (LLLink* l = LinkListGetFirst(list); l != LinkListGetTerminator(list);) {
        LLLink* next = l->next;
        ObjectWithFrame* o = ObjectFromLink(l);
        if (o->syncCallback != nullptr) o->syncCallback(o);
        l = next;
    }
}

void SyncWorldChain(Frame* n, uint8 inherited) {
    for (; n != nullptr; n = n->next) {
        const uint8 b = inherited | (n->object.privateFlags & kFrameWorldDirty);
        if (b != 0) {
            MatrixMultiply(&n->worldMatrix, &n->localMatrix, &FrameGetParent(n)->worldMatrix);
            n->object.privateFlags &= static_cast<uint8>(~kFrameWorldDirty);
        }
        SyncWorldChain(n->child, b);
    }
}

void SyncChain(Frame* n, uint8 inherited) {
    for (; n != nullptr; n = n->next) {
        const uint8 b = inherited | (n->object.privateFlags & kFrameDirty);
        if (b != 0) {
            if ((b & kFrameWorldDirty) != 0) {
                MatrixMultiply(&n->worldMatrix, &n->localMatrix, &FrameGetParent(n)->worldMatrix);
            }
            n->object.privateFlags = 0;
            NotifyObjects(n);
        }
        SyncChain(n->child, b);
    }
}

bool IsAncestorOrSelf(const Frame* candidate, const Frame* frame) {
    for (const Frame* f = frame; f != nullptr; f = FrameGetParent(f)) {
        if (f == candidate) return true;
    }
    return false;
}

}  // namespace

Frame* FrameCreate() {
    FrameModuleGlobals* g = Globals();
    if (g == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    auto* frame = static_cast<Frame*>(KvFreeListAlloc(g->frameFreeList));
    if (frame == nullptr) return nullptr;
    ObjectInitialize(&frame->object, kObjectTypeFrame, 0);
    MatrixSetIdentity(&frame->localMatrix);
    MatrixSetIdentity(&frame->worldMatrix);
    frame->worldMatrix.flags = kMatrixTypeOrthonormal;
    frame->dirtyLink.next = &frame->dirtyLink;
    frame->dirtyLink.prev = &frame->dirtyLink;
    LinkListInitialize(&frame->objectList);
    frame->child = nullptr;
    frame->next = nullptr;
    frame->root = frame;
    if (RegistryConstruct(&frameRegistry, frame) == nullptr) {
        KvFreeListFree(g->frameFreeList, frame);
        return nullptr;
    }
    return frame;
}

bool FrameDestroy(Frame* frame) {
    if (frame == nullptr) return true;
    RegistryDestruct(&frameRegistry, frame);
    if (FrameGetParent(frame) != nullptr) DetachFromParent(frame);
    if (OnDirtyList(frame)) LinkDetach(&frame->dirtyLink);
    // Each child becomes a root of its own. Its links to its siblings go with
    // the old parent, and it is marked so that its world matrix becomes its
    // local one and changes pending under the old root are not lost.
    for (Frame* c = frame->child; c != nullptr;) {
        Frame* next = c->next;
        c->object.parent = nullptr;
        c->next = nullptr;
        SetRoot(c, c);
        Mark(c, kFrameDirty);
        c = next;
    }
    frame->child = nullptr;
    // Objects still hanging here would keep links into freed memory.
    LinkList* objects = &frame->objectList;
    while (!LinkListEmpty(objects)) {
        LLLink* l = LinkListGetFirst(objects);
        LinkDetach(l);
        ObjectFromLink(l)->object.parent = nullptr;
    }
    FrameModuleGlobals* g = Globals();
    if (g != nullptr) KvFreeListFree(g->frameFreeList, frame);
    return true;
}

bool FrameDestroyHierarchy(Frame* frame) {
    if (frame == nullptr) return true;
    for (Frame* c = frame->child; c != nullptr;) {
        Frame* next = c->next;
        FrameDestroyHierarchy(c);
        c = next;
    }
    return FrameDestroy(frame);
}

Frame* FrameAddChild(Frame* parent, Frame* child) {
    if (parent == nullptr || child == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    if (IsAncestorOrSelf(child, parent)) {
        ErrorRaise(kIdFrameModule, kErrFrameCycle);
        return nullptr;
    }
    if (FrameGetParent(child) != nullptr) DetachFromParent(child);
    child->next = parent->child;
    parent->child = child;
    child->object.parent = parent;
    if (OnDirtyList(child)) {
        LinkDetach(&child->dirtyLink);
        child->object.privateFlags = 0;
    }
    SetRoot(child, parent->root);
    Mark(child, kFrameDirty);
    return parent;
}

Frame* FrameRemoveChild(Frame* child) {
    if (child == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    if (FrameGetParent(child) != nullptr) DetachFromParent(child);
    return child;
}

Matrix* FrameGetWorldMatrix(Frame* frame) {
    Frame* root = frame->root;
    const uint8 f = root->object.privateFlags;
    if ((f & kFrameSyncWorldPending) != 0) {
        // Matrices only: objects are left for the full pass.
        root->object.privateFlags = f & static_cast<uint8>(~(kFrameSyncWorldPending | kFrameWorldDirty));
        if ((f & kFrameWorldDirty) != 0) root->worldMatrix = root->localMatrix;
        SyncWorldChain(root->child, f & kFrameWorldDirty);
    }
    return &frame->worldMatrix;
}

Frame* FrameUpdateObjects(Frame* frame) {
    Mark(frame, kFrameDirty);
    return frame;
}

Frame* FrameTranslate(Frame* frame, const V3d* v, CombineOp combine) {
    MatrixTranslate(&frame->localMatrix, v, combine);
    return FrameUpdateObjects(frame);
}

Frame* FrameRotate(Frame* frame, const V3d* axis, real angleDegrees, CombineOp combine) {
    MatrixRotate(&frame->localMatrix, axis, angleDegrees, combine);
    return FrameUpdateObjects(frame);
}

Frame* FrameTransform(Frame* frame, const Matrix* m, CombineOp combine) {
    MatrixTransform(&frame->localMatrix, m, combine);
    return FrameUpdateObjects(frame);
}

Frame* FrameSetIdentity(Frame* frame) {
    const uint32 flags = frame->localMatrix.flags;
    MatrixSetIdentity(&frame->localMatrix);
    frame->localMatrix.flags = flags | kMatrixIdentityFlags;
    return FrameUpdateObjects(frame);
}

Frame* FrameForAllChildren(Frame* frame, FrameCallBack callback, void* data) {
    for (Frame* c = frame->child; c != nullptr;) {
        Frame* next = c->next;
        if (callback(c, data) == nullptr) break;
        c = next;
    }
    return frame;
}

Frame* FrameForAllObjects(Frame* frame, ObjectWithFrameCallBack callback, void* data) {
    LinkList* list = &frame->objectList;
    for (LLLink* l = LinkListGetFirst(list); l != LinkListGetTerminator(list);) {
        LLLink* next = l->next;
        if (callback(ObjectFromLink(l), data) == nullptr) break;
        l = next;
    }
    return frame;
}

int32 FrameCount(const Frame* frame) {
    int32 n = 1;
    for (const Frame* c = frame->child; c != nullptr; c = c->next) n += FrameCount(c);
    return n;
}

uint32 FrameIsSyncPending(const Frame* frame) { return frame->root->object.privateFlags & kFrameSyncPending; }

bool FramesSyncDirty() {
    // Take the roots off the engine's list first: a root that a callback
    // marks after its own turn goes onto the fresh list for the next pass
    // instead of being dropped with this one.
    LinkList pending;
    LinkList* dirty = DirtyList();
    if (LinkListEmpty(dirty)) return true;
    pending.link.next = dirty->link.next;
    pending.link.prev = dirty->link.prev;
    pending.link.next->prev = &pending.link;
    pending.link.prev->next = &pending.link;
    LinkListInitialize(dirty);

    while (!LinkListEmpty(&pending)) {
        LLLink* l = LinkListGetFirst(&pending);
        LinkDetach(l);
        Frame* root = FrameFromDirtyLink(l);
        const uint8 a = root->object.privateFlags & kFrameDirty;
        root->object.privateFlags = 0;
        if (a != 0) {
            if ((a & kFrameWorldDirty) != 0) root->worldMatrix = root->localMatrix;
            NotifyObjects(root);
        }
        SyncChain(root->child, a);
    }
    return true;
}

void ObjectWithFrameSetFrame(ObjectWithFrame* object, Frame* frame) {
    if (object->object.parent != nullptr) LinkDetach(&object->frameLink);
    object->object.parent = frame;
    if (frame != nullptr) {
        LinkListAddLLLink(&frame->objectList, &object->frameLink);
        FrameUpdateObjects(frame);
    }
}

void ObjectWithFrameRemove(ObjectWithFrame* object) {
    if (object->object.parent != nullptr) LinkDetach(&object->frameLink);
}

int32 FrameRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                          PluginCopy copy) {
    return RegistryRegister(&frameRegistry, size, pluginID, construct, destruct, copy);
}

int32 FrameRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                PluginStreamSize getSize) {
    return RegistrySetStream(&frameRegistry, pluginID, read, write, getSize);
}

int32 FrameGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&frameRegistry, pluginID); }

PluginRegistry* FrameGetRegistry() { return &frameRegistry; }

void* FrameModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    FrameModuleGlobals* g = slot.At(instance, offset);
    g->frameFreeList = FreeListCreate(frameRegistry.sizeOfStruct, kFramesPerBlock, alignof(Frame));
    if (g->frameFreeList == nullptr) return nullptr;
    LinkListInitialize(&static_cast<EngineInstance*>(instance)->dirtyFrameList);
    slot.Opened(offset);
    return instance;
}

void* FrameModuleClose(void* instance, int32 offset, int32 /*size*/) {
    FrameModuleGlobals* g = slot.At(instance, offset);
    if (g->frameFreeList != nullptr) FreeListDestroy(g->frameFreeList);
    g->frameFreeList = nullptr;
    slot.Closed();
    return instance;
}

CoreModule FrameModuleEntry() {
    return {"frame", static_cast<int32>(sizeof(FrameModuleGlobals)), kIdFrameModule, FrameModuleOpen, FrameModuleClose};
}

}  // namespace kv
