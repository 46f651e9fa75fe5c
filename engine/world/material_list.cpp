#include "material_list.h"

#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "material.h"

namespace kv {

MaterialList* MaterialListInit(MaterialList* list) {
    list->materials = nullptr;
    list->numMaterials = 0;
    list->space = 0;
    return list;
}

int32 MaterialListAppend(MaterialList* list, Material* material) {
    if (list->numMaterials >= list->space) {
        const int32 space = list->space + kMaterialListGrowth;
        const std::size_t bytes = sizeof(Material*) * static_cast<std::size_t>(space);
        auto** slots =
            static_cast<Material**>(list->materials != nullptr ? KvRealloc(list->materials, bytes) : KvMalloc(bytes));
        if (slots == nullptr) {
            ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(bytes));
            return -1;
        }
        list->materials = slots;
        list->space = space;
    }
    list->materials[list->numMaterials] = MaterialAddRef(material);
    return list->numMaterials++;
}

Material* MaterialListGet(const MaterialList* list, int32 slot) {
    if (slot < 0 || slot >= list->numMaterials) return nullptr;
    return list->materials[slot];
}

int32 MaterialListFind(const MaterialList* list, const Material* material) {
    for (int32 i = 0; i < list->numMaterials; ++i) {
        if (list->materials[i] == material) return i;
    }
    return -1;
}

int32 MaterialListFindLast(const MaterialList* list, const Material* material) {
    for (int32 i = list->numMaterials - 1; i >= 0; --i) {
        if (list->materials[i] == material) return i;
    }
    return -1;
}

void MaterialListRelease(MaterialList* list) {
    for (int32 i = 0; i < list->numMaterials; ++i) MaterialDestroy(list->materials[i]);
    KvFree(list->materials);
    MaterialListInit(list);
}

}  // namespace kv
