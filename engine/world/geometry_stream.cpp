#include "geometry_stream.h"

#include <cstring>

#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/image/texture_stream.h"
#include "engine/stream/chunk.h"
#include "engine/stream/stream.h"
#include "geometry.h"
#include "material.h"
#include "material_list.h"
#include "mesh.h"

namespace kv {

namespace {

constexpr uint32 kGeometryHeaderSize = 28;
constexpr uint32 kMorphTargetHeaderSize = 24;
constexpr uint32 kMaterialStructSize = 28;
constexpr uint32 kMeshHeaderStreamSize = 12;
constexpr uint32 kMeshRecordStreamSize = 8;
// Indices are read this many at a time.
constexpr uint32 kIndexBlock = 256;
// Index memory starts at most this many words (64 KiB, the dome at the
// highest resolution needs twice that) and doubles as indices arrive.
constexpr uint32 kFirstIndexWords = 16384;

uint32 GeometryStructSize(const Geometry* g) {
    const auto n = static_cast<uint32>(g->numVertices);
    const uint32 flags = g->object.flags;
    uint32 size = kGeometryHeaderSize;
    if (n > 0) {
        if ((flags & GeometryPrelit) != 0) size += 4 * n;
        if ((flags & GeometryTextured) != 0) {
            size += 8 * n;
        } else if ((flags & GeometryTextured2) != 0) {
            size += 16 * n;
        }
        size += 8 * static_cast<uint32>(g->numTriangles);
    }
    for (int32 i = 0; i < g->numMorphTargets; ++i) {
        const MorphTarget& t = g->morphTarget[i];
        size += kMorphTargetHeaderSize;
        if (t.verts != nullptr) size += 12 * n;
        if (t.normals != nullptr) size += 12 * n;
    }
    return size;
}

// The slot of an earlier slot holding the same material, nearest first; -1
// for the first occurrence.
int32 SlotReference(const MaterialList* list, int32 slot) {
    for (int32 j = slot - 1; j >= 0; --j) {
        if (list->materials[j] == list->materials[slot]) return j;
    }
    return -1;
}

// With several materials, each material's triangles must use a run of
// vertices of its own: the sum of the runs cannot exceed the vertex count.
bool VerticesGroupedByMaterial(const Geometry* g) {
    const int32 k = g->matList.numMaterials;
    if (k <= 1) return true;
    auto* range = static_cast<int32*>(KvMalloc(sizeof(int32) * 2 * static_cast<std::size_t>(k)));
    if (range == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory,
                         static_cast<int64_t>(sizeof(int32) * 2 * static_cast<std::size_t>(k)));
        return false;
    }
    for (int32 i = 0; i < k; ++i) {
        range[2 * i] = 0x7FFFFFFF;
        range[2 * i + 1] = -1;
    }
    for (int32 i = 0; i < g->numTriangles; ++i) {
        const Triangle& t = g->triangles[i];
        if (t.matIndex < 0 || t.matIndex >= k) continue;
        for (uint16 v : t.vertIndex) {
            if (v < range[2 * t.matIndex]) range[2 * t.matIndex] = v;
            if (v > range[2 * t.matIndex + 1]) range[2 * t.matIndex + 1] = v;
        }
    }
    int64_t sum = 0;
    for (int32 i = 0; i < k; ++i) {
        if (range[2 * i + 1] >= 0) sum += range[2 * i + 1] - range[2 * i] + 1;
    }
    KvFree(range);
    return sum <= g->numVertices;
}

bool WriteInt32(Stream* stream, int32 value) { return StreamWriteInt32(stream, &value, 4) != nullptr; }

bool WriteGeometryStruct(const Geometry* g, Stream* stream) {
    const int32 n = g->numVertices;
    const uint32 flags = g->object.flags;
    const int32 head[4] = {static_cast<int32>(flags), g->numTriangles, n, g->numMorphTargets};
    const real surface[3] = {g->surfaceProps.ambient, g->surfaceProps.specular, g->surfaceProps.diffuse};
    if (!ChunkHeaderWrite(stream, ChunkStruct, GeometryStructSize(g), kLibraryVersionStamp) ||
        StreamWriteInt32(stream, head, sizeof head) == nullptr ||
        StreamWriteReal(stream, surface, sizeof surface) == nullptr) {
        return false;
    }
    const auto un = static_cast<uint32>(n);
    if (n > 0) {
        if ((flags & GeometryPrelit) != 0 && StreamWrite(stream, g->preLitLum, 4 * un) == nullptr) return false;
        const int32 sets = (flags & GeometryTextured) != 0 ? 1 : (flags & GeometryTextured2) != 0 ? 2 : 0;
        for (int32 s = 0; s < sets; ++s) {
            if (StreamWriteReal(stream, &g->texCoords[s]->u, 8 * un) == nullptr) return false;
        }
        for (int32 i = 0; i < g->numTriangles; ++i) {
            const Triangle& t = g->triangles[i];
            const uint32 words[2] = {static_cast<uint32>(t.vertIndex[0]) << 16 | t.vertIndex[1],
                                     static_cast<uint32>(t.vertIndex[2]) << 16 | static_cast<uint16>(t.matIndex)};
            if (StreamWriteInt32(stream, words, sizeof words) == nullptr) return false;
        }
    }
    for (int32 i = 0; i < g->numMorphTargets; ++i) {
        const MorphTarget& t = g->morphTarget[i];
        const real sphere[4] = {t.boundingSphere.center.x, t.boundingSphere.center.y, t.boundingSphere.center.z,
                                t.boundingSphere.radius};
        const int32 has[2] = {t.verts != nullptr ? 1 : 0, t.normals != nullptr ? 1 : 0};
        if (StreamWriteReal(stream, sphere, sizeof sphere) == nullptr ||
            StreamWriteInt32(stream, has, sizeof has) == nullptr) {
            return false;
        }
        if (t.verts != nullptr && StreamWriteReal(stream, &t.verts->x, 12 * un) == nullptr) return false;
        if (t.normals != nullptr && StreamWriteReal(stream, &t.normals->x, 12 * un) == nullptr) return false;
    }
    return true;
}

bool ReadInt32s(Stream* stream, void* out, uint32 bytes) { return StreamReadInt32(stream, out, bytes) != nullptr; }

void RaiseMalformedMeshes() { ErrorRaise(static_cast<int32>(kIdMeshModule), kErrMeshStreamMalformed); }

}  // namespace

uint32 GeometryStreamGetSize(const Geometry* geometry) {
    return kChunkHeaderSize + GeometryStructSize(geometry) + kChunkHeaderSize +
           MaterialListStreamGetSize(&geometry->matList) + kChunkHeaderSize +
           static_cast<uint32>(RegistryStreamSize(GeometryGetRegistry(), geometry));
}

const Geometry* GeometryStreamWrite(const Geometry* geometry, Stream* stream) {
    if (!VerticesGroupedByMaterial(geometry)) {
        // The detail names the stream's type (StreamTypeName gives its name).
        ErrorRaiseDetail(kModuleNone, kErrMaterialGrouping, stream->type);
        return nullptr;
    }
    if (!ChunkHeaderWrite(stream, ChunkGeometry, GeometryStreamGetSize(geometry), kLibraryVersionStamp) ||
        !WriteGeometryStruct(geometry, stream) || MaterialListStreamWrite(&geometry->matList, stream) == nullptr ||
        !RegistryStreamWrite(GeometryGetRegistry(), stream, geometry)) {
        return nullptr;
    }
    return geometry;
}

uint32 MaterialListStreamGetSize(const MaterialList* list) {
    uint32 size = kChunkHeaderSize + 4 + 4 * static_cast<uint32>(list->numMaterials);
    for (int32 i = 0; i < list->numMaterials; ++i) {
        if (SlotReference(list, i) < 0) size += kChunkHeaderSize + MaterialStreamGetSize(list->materials[i]);
    }
    return size;
}

const MaterialList* MaterialListStreamWrite(const MaterialList* list, Stream* stream) {
    const int32 k = list->numMaterials;
    if (!ChunkHeaderWrite(stream, ChunkMaterialList, MaterialListStreamGetSize(list), kLibraryVersionStamp) ||
        !ChunkHeaderWrite(stream, ChunkStruct, 4 + 4 * static_cast<uint32>(k), kLibraryVersionStamp) ||
        !WriteInt32(stream, k)) {
        return nullptr;
    }
    for (int32 i = 0; i < k; ++i) {
        if (!WriteInt32(stream, SlotReference(list, i))) return nullptr;
    }
    for (int32 i = 0; i < k; ++i) {
        if (SlotReference(list, i) < 0 && MaterialStreamWrite(list->materials[i], stream) == nullptr) return nullptr;
    }
    return list;
}

uint32 MaterialStreamGetSize(const Material* material) {
    const uint32 texture =
        material->texture != nullptr ? kChunkHeaderSize + TextureStreamGetSize(material->texture) : 0;
    return kChunkHeaderSize + kMaterialStructSize + texture + kChunkHeaderSize +
           static_cast<uint32>(RegistryStreamSize(MaterialGetRegistry(), material));
}

const Material* MaterialStreamWrite(const Material* material, Stream* stream) {
    const int32 words[2] = {0, 0};  // flags, then the colour's place
    const uint8 colour[4] = {material->color.red, material->color.green, material->color.blue, material->color.alpha};
    const int32 tail[2] = {0, material->texture != nullptr ? 1 : 0};  // reserved, textured
    const real surface[3] = {material->surfaceProps.ambient, material->surfaceProps.specular,
                             material->surfaceProps.diffuse};
    if (!ChunkHeaderWrite(stream, ChunkMaterial, MaterialStreamGetSize(material), kLibraryVersionStamp) ||
        !ChunkHeaderWrite(stream, ChunkStruct, kMaterialStructSize, kLibraryVersionStamp) ||
        StreamWriteInt32(stream, words, 4) == nullptr || StreamWrite(stream, colour, 4) == nullptr ||
        StreamWriteInt32(stream, tail, sizeof tail) == nullptr ||
        StreamWriteReal(stream, surface, sizeof surface) == nullptr ||
        (material->texture != nullptr && TextureStreamWrite(material->texture, stream) == nullptr) ||
        !RegistryStreamWrite(MaterialGetRegistry(), stream, material)) {
        return nullptr;
    }
    return material;
}

uint32 MeshHeaderStreamGetSize(const MeshHeader* header) {
    return kMeshHeaderStreamSize + kMeshRecordStreamSize * header->numMeshes + 4 * header->totalIndicesInMesh;
}

bool MeshHeaderStreamWrite(const MeshHeader* header, const MaterialList* list, Stream* stream) {
    const int32 head[3] = {static_cast<int32>(header->flags), header->numMeshes,
                           static_cast<int32>(header->totalIndicesInMesh)};
    if (StreamWriteInt32(stream, head, sizeof head) == nullptr) return false;
    const Mesh* meshes = MeshHeaderGetMeshes(header);
    for (uint32 m = 0; m < header->numMeshes; ++m) {
        const Mesh& mesh = meshes[m];
        // A mesh without a material is written as -1: slot 0 would give it
        // the first material on reading.
        int32 slot = -1;
        if (mesh.material != nullptr) {
            slot = MaterialListFindLast(list, mesh.material);
            if (slot < 0) slot = 0;
        }
        const int32 record[2] = {static_cast<int32>(mesh.numIndices), slot};
        if (StreamWriteInt32(stream, record, sizeof record) == nullptr) return false;
        if (mesh.numIndices > 0 &&
            (mesh.indices == nullptr || StreamWriteInt32(stream, mesh.indices, 4 * mesh.numIndices) == nullptr)) {
            return false;
        }
    }
    return true;
}

namespace {

// A buffer of 32-bit words that grows as the stream delivers them, so that a
// corrupt count costs no more memory than the bytes that really arrive.
struct GrowingWords {
    uint32* data = nullptr;
    uint32 used = 0;
    uint32 capacity = 0;

    // Room for n more words, never more than limit in all.
    uint32* Reserve(uint32 n, uint32 limit) {
        if (used + n <= capacity) return data + used;
        uint64 grown = capacity < kFirstIndexWords ? kFirstIndexWords : static_cast<uint64>(capacity) * 2;
        if (grown < static_cast<uint64>(used) + n) grown = static_cast<uint64>(used) + n;
        if (grown > limit) grown = limit;
        auto* p = static_cast<uint32*>(KvRealloc(data, sizeof(uint32) * static_cast<std::size_t>(grown)));
        if (p == nullptr) {
            ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(sizeof(uint32) * grown));
            return nullptr;
        }
        data = p;
        capacity = static_cast<uint32>(grown);
        return data + used;
    }
    ~GrowingWords() { KvFree(data); }
};

}  // namespace

MeshHeader* MeshHeaderStreamRead(Stream* stream, int32 length, const MaterialList* list) {
    int32 head[3];
    if (length < static_cast<int32>(kMeshHeaderStreamSize)) {
        RaiseMalformedMeshes();
        return nullptr;
    }
    if (!ReadInt32s(stream, head, sizeof head)) return nullptr;
    const int32 numMeshes = head[1], total = head[2];
    // The body's size follows from its counts.
    if (numMeshes < 0 || numMeshes > 0xFFFF || total < 0 ||
        static_cast<int64_t>(kMeshHeaderStreamSize) + kMeshRecordStreamSize * static_cast<int64_t>(numMeshes) +
                4 * static_cast<int64_t>(total) !=
            length) {
        RaiseMalformedMeshes();
        return nullptr;
    }
    // The records (count, slot) and the indices are gathered first; the
    // header is made once they are all here.
    GrowingWords records, indices;
    const auto limit = static_cast<uint32>(total);
    for (int32 m = 0; m < numMeshes; ++m) {
        uint32* record = records.Reserve(2, 2 * static_cast<uint32>(numMeshes));
        if (record == nullptr || !ReadInt32s(stream, record, 2 * sizeof(uint32))) return nullptr;
        records.used += 2;
        const uint32 count = record[0];
        const auto slot = static_cast<int32>(record[1]);
        if (count > limit - indices.used || slot < -1 || slot >= list->numMaterials) {
            RaiseMalformedMeshes();
            return nullptr;
        }
        for (uint32 done = 0; done < count;) {
            const uint32 n = count - done < kIndexBlock ? count - done : kIndexBlock;
            uint32* next = indices.Reserve(n, limit);
            if (next == nullptr || !ReadInt32s(stream, next, 4 * n)) return nullptr;
            indices.used += n;
            done += n;
        }
    }
    if (indices.used != limit) {
        RaiseMalformedMeshes();
        return nullptr;
    }
    MeshHeader* header = MeshHeaderCreate(numMeshes, limit, static_cast<uint32>(head[0]));
    if (header == nullptr) return nullptr;
    Mesh* meshes = MeshHeaderGetMeshes(header);
    uint32* next = MeshHeaderGetIndexArea(header);
    if (limit > 0) std::memcpy(next, indices.data, sizeof(uint32) * limit);
    for (int32 m = 0; m < numMeshes; ++m) {
        const uint32 count = records.data[2 * m];
        const auto slot = static_cast<int32>(records.data[2 * m + 1]);
        meshes[m].indices = next;
        meshes[m].numIndices = count;
        meshes[m].material = slot >= 0 ? list->materials[slot] : nullptr;
        next += count;
    }
    return header;
}

int32 MeshStreamGetSize(const void* object, int32 /*offset*/, int32 /*size*/) {
    const auto* g = static_cast<const Geometry*>(object);
    return g->mesh != nullptr ? static_cast<int32>(MeshHeaderStreamGetSize(g->mesh)) : 0;
}

Stream* MeshStreamWrite(Stream* stream, int32 /*length*/, const void* object, int32 /*offset*/, int32 /*size*/) {
    const auto* g = static_cast<const Geometry*>(object);
    if (g->mesh == nullptr) return stream;
    return MeshHeaderStreamWrite(g->mesh, &g->matList, stream) ? stream : nullptr;
}

Stream* MeshStreamRead(Stream* stream, int32 length, void* object, int32 /*offset*/, int32 /*size*/) {
    auto* g = static_cast<Geometry*>(object);
    MeshHeader* header = MeshHeaderStreamRead(stream, length, &g->matList);
    if (header == nullptr) return nullptr;
    // The pipelines index the vertex arrays with these.
    const uint32* indices = MeshHeaderGetIndexArea(header);
    for (uint32 i = 0; i < header->totalIndicesInMesh; ++i) {
        if (indices[i] >= static_cast<uint32>(g->numVertices)) {
            RaiseMalformedMeshes();
            MeshesDestroy(header);
            return nullptr;
        }
    }
    MeshesDestroy(g->mesh);
    g->mesh = header;
    return stream;
}

int32 GeometryNativeStreamGetSize(const void* /*object*/, int32 /*offset*/, int32 /*size*/) { return 0; }

Stream* GeometryNativeStreamRead(Stream* stream, int32 length, void* object, int32 /*offset*/, int32 /*size*/) {
    if (length > 0 && StreamSkip(stream, static_cast<uint32>(length)) == nullptr) return nullptr;
    static_cast<Geometry*>(object)->reserved = 1;
    return stream;
}

bool GeometryStreamPluginsAttach() {
    return GeometryRegisterPlugin(0, kIdMeshExtension, nullptr, nullptr, nullptr) >= 0 &&
           GeometryRegisterPluginStream(kIdMeshExtension, MeshStreamRead, MeshStreamWrite, MeshStreamGetSize) >= 0 &&
           GeometryRegisterPlugin(0, kIdGeometryNativeExtension, nullptr, nullptr, nullptr) >= 0 &&
           GeometryRegisterPluginStream(kIdGeometryNativeExtension, GeometryNativeStreamRead, nullptr,
                                        GeometryNativeStreamGetSize) >= 0;
}

}  // namespace kv
