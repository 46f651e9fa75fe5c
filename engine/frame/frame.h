// The frame hierarchy: local and world matrices, objects hanging on frames,
// and deferred synchronisation through the engine's dirty-frame list.
//
// A change marks the frame and puts the root of its hierarchy on the dirty
// list; FramesSyncDirty (at camera begin-update) brings every world matrix up
// to date top-down and tells the attached objects. FrameGetWorldMatrix does a
// partial pass of the matrices alone.
#pragma once

#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"
#include "engine/math/matrix.h"

namespace kv {

// privateFlags of a frame.
constexpr uint8 kFrameSyncWorldPending = 0x01;    // root: some world matrix below is stale
constexpr uint8 kFrameSyncObjectsPending = 0x02;  // root: some objects below await notification
constexpr uint8 kFrameWorldDirty = 0x04;          // local matrix changed: recompute this subtree
constexpr uint8 kFrameObjectsDirty = 0x08;        // notify this subtree's objects
constexpr uint8 kFrameSyncPending = kFrameSyncWorldPending | kFrameSyncObjectsPending;
constexpr uint8 kFrameDirty = kFrameWorldDirty | kFrameObjectsDirty;

constexpr uint8 kObjectTypeFrame = 0;

// Extension data of registered plugins follows the record.
struct Frame {
    Object object;  // parent: the parent frame
    Matrix localMatrix;
    Matrix worldMatrix;
    LLLink dirtyLink;  // in the engine's dirty-frame list (roots only)
    LinkList objectList;
    Frame* child;  // first child
    Frame* next;   // next sibling
    Frame* root;   // root of the hierarchy; itself for a root
};

// The leading part of every object that hangs on a frame (camera, light,
// atomic). Its header's parent is the frame.
struct ObjectWithFrame;
using ObjectWithFrameSyncCallBack = ObjectWithFrame* (*)(ObjectWithFrame* object);
struct ObjectWithFrame {
    Object object;
    LLLink frameLink;  // in the frame's object list
    ObjectWithFrameSyncCallBack syncCallback;
};

using FrameCallBack = Frame* (*)(Frame* frame, void* data);
using ObjectWithFrameCallBack = ObjectWithFrame* (*)(ObjectWithFrame* object, void* data);

// A record from the frame free list, identity local matrix, registry
// constructors run. Null when the engine is not started or memory runs out.
Frame* FrameCreate();
// Runs the plugin destructors, detaches the frame (its children become roots
// of their own subtrees) and frees it. Attached objects must be removed first.
bool FrameDestroy(Frame* frame);
// Children first, depth first; null is accepted.
bool FrameDestroyHierarchy(Frame* frame);

// Links child (detached from any previous parent) as parent's first child.
Frame* FrameAddChild(Frame* parent, Frame* child);
// Detaches child from its parent; it becomes the root of its own subtree.
Frame* FrameRemoveChild(Frame* child);

inline Frame* FrameGetParent(const Frame* frame) { return static_cast<Frame*>(frame->object.parent); }
inline Frame* FrameGetRoot(const Frame* frame) { return frame->root; }
// The local matrix, for direct writes (then MatrixUpdate and FrameUpdateObjects).
inline Matrix* FrameGetMatrix(Frame* frame) { return &frame->localMatrix; }
// The world matrix, brought up to date first (matrices only, no notification).
Matrix* FrameGetWorldMatrix(Frame* frame);
inline Matrix* FrameGetLTM(Frame* frame) { return FrameGetWorldMatrix(frame); }

// Marks the frame's matrix and objects changed and its root dirty.
Frame* FrameUpdateObjects(Frame* frame);
Frame* FrameTranslate(Frame* frame, const V3d* v, CombineOp combine);
Frame* FrameRotate(Frame* frame, const V3d* axis, real angleDegrees, CombineOp combine);
Frame* FrameTransform(Frame* frame, const Matrix* m, CombineOp combine);
Frame* FrameSetIdentity(Frame* frame);

// Each immediate child, most recently added first; stops when the callback
// returns null. The sibling is read before the call.
Frame* FrameForAllChildren(Frame* frame, FrameCallBack callback, void* data);
// Each attached object, most recently attached first; stops when the callback
// returns null. A callback may detach its own object.
Frame* FrameForAllObjects(Frame* frame, ObjectWithFrameCallBack callback, void* data);
// The frame plus all its descendants.
int32 FrameCount(const Frame* frame);
// Non-zero while the frame's hierarchy awaits a pass.
uint32 FrameIsSyncPending(const Frame* frame);

// Processes the whole dirty list: world matrices, then object callbacks.
bool FramesSyncDirty();

inline Frame* ObjectWithFrameGetFrame(const ObjectWithFrame* object) {
    return static_cast<Frame*>(object->object.parent);
}
// Moves the object to frame (null: none) and marks the frame so that the
// object is synchronised at the next pass.
void ObjectWithFrameSetFrame(ObjectWithFrame* object, Frame* frame);
// Unlinks the object from its frame's list; the frame pointer is kept.
void ObjectWithFrameRemove(ObjectWithFrame* object);

// The frame registry: plugins register before the engine opens.
int32 FrameRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                          PluginCopy copy);
int32 FrameRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                PluginStreamSize getSize);
int32 FrameGetPluginOffset(uint32 pluginID);
PluginRegistry* FrameGetRegistry();

// The frame module's block in the engine instance.
struct FreeList;
struct FrameModuleGlobals {
    FreeList* frameFreeList;
};

void* FrameModuleOpen(void* instance, int32 offset, int32 size);
void* FrameModuleClose(void* instance, int32 offset, int32 size);
CoreModule FrameModuleEntry();

}  // namespace kv
