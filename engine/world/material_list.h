// Material lists: the materials of a geometry (or world) by slot. Every slot
// holds one reference to its material; triangles name slots.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct Material;

struct MaterialList {
    Material** materials;
    int32 numMaterials;
    int32 space;  // slots allocated
};

// Slots are added this many at a time.
constexpr int32 kMaterialListGrowth = 20;

MaterialList* MaterialListInit(MaterialList* list);
// Stores the material in a new slot with a reference of its own; returns the
// slot, or -1 when memory runs out.
int32 MaterialListAppend(MaterialList* list, Material* material);
// Null for a slot outside the list.
Material* MaterialListGet(const MaterialList* list, int32 slot);
inline int32 MaterialListGetNum(const MaterialList* list) { return list->numMaterials; }
// The first slot holding the material, or -1.
int32 MaterialListFind(const MaterialList* list, const Material* material);
// The last slot holding the material, or -1.
int32 MaterialListFindLast(const MaterialList* list, const Material* material);
// Releases every slot's reference and frees the slots.
void MaterialListRelease(MaterialList* list);

}  // namespace kv
