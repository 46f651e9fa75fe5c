#include "clump_stream.h"

#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "engine/world/geometry_stream.h"

namespace kv {

namespace {

constexpr uint32 kCountStructSize = 4;

uint32 Chunk(uint32 payload) { return kChunkHeaderSize + payload; }

uint32 ExtensionSize(const PluginRegistry* registry, const void* object) {
    return static_cast<uint32>(RegistryStreamSize(registry, object));
}

struct Lists {
    FrameList frames{nullptr, 0};
    GeometryList geometries{nullptr, 0};
    bool haveFrames = false;
    bool haveGeometries = false;

    ~Lists() {
        if (haveGeometries) GeometryListDestroy(&geometries);
        if (haveFrames) FrameListDestroy(&frames);
    }
    bool Build(Clump* clump) {
        haveFrames = FrameListCreate(&frames, ClumpGetFrame(clump)) != nullptr;
        if (!haveFrames) return false;
        haveGeometries = GeometryListCreate(&geometries, clump) != nullptr;
        return haveGeometries;
    }
};

// The atomic's indices in the lists; false (error raised) when it cannot be
// written with them.
bool AtomicIndices(const Atomic* atomic, const AtomicStreamContext* context, int32* frameIndex, int32* geometryIndex) {
    const Frame* frame = AtomicGetFrame(atomic);
    const Geometry* geometry = AtomicGetGeometry(atomic);
    if (context == nullptr || context->frameList == nullptr || frame == nullptr || geometry == nullptr ||
        !FrameListFind(context->frameList, frame, frameIndex)) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    *geometryIndex = 0;
    if (context->geometryList != nullptr && !GeometryListFind(context->geometryList, geometry, geometryIndex)) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    return true;
}

Atomic* CheckAtomic(Atomic* atomic, void* data) {
    int32 f = 0, g = 0;
    return AtomicIndices(atomic, static_cast<const AtomicStreamContext*>(data), &f, &g) ? atomic : nullptr;
}

uint32 ClumpPayload(Clump* clump, const Lists& lists, const AtomicStreamContext* context) {
    struct Sum {
        const AtomicStreamContext* context;
        uint32 total;
    } sum{context, 0};
    ClumpForAllAtomics(
        clump,
        [](Atomic* a, void* data) -> Atomic* {
            auto* s = static_cast<Sum*>(data);
            s->total += Chunk(AtomicStreamGetSize(a, s->context));
            return a;
        },
        &sum);
    return Chunk(kCountStructSize) + Chunk(FrameListStreamGetSize(&lists.frames)) +
           Chunk(GeometryListStreamGetSize(&lists.geometries)) + sum.total +
           Chunk(ExtensionSize(ClumpGetRegistry(), clump));
}

}  // namespace

GeometryList* GeometryListCreate(GeometryList* list, Clump* clump) {
    if (list == nullptr || clump == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    list->geometries = nullptr;
    list->numGeometries = 0;
    const int32 n = ClumpGetNumAtomics(clump);
    if (n == 0) return list;
    const std::size_t bytes = sizeof(Geometry*) * static_cast<std::size_t>(n);
    list->geometries = static_cast<Geometry**>(KvMalloc(bytes));
    if (list->geometries == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(bytes));
        return nullptr;
    }
    ClumpForAllAtomics(
        clump,
        [](Atomic* a, void* data) -> Atomic* {
            auto* l = static_cast<GeometryList*>(data);
            Geometry* g = AtomicGetGeometry(a);
            if (g != nullptr && !GeometryListFind(l, g, nullptr)) l->geometries[l->numGeometries++] = GeometryAddRef(g);
            return a;
        },
        list);
    return list;
}

bool GeometryListFind(const GeometryList* list, const Geometry* geometry, int32* index) {
    for (int32 i = 0; i < list->numGeometries; ++i) {
        if (list->geometries[i] == geometry) {
            if (index != nullptr) *index = i;
            return true;
        }
    }
    return false;
}

void GeometryListDestroy(GeometryList* list) {
    for (int32 i = 0; i < list->numGeometries; ++i) GeometryDestroy(list->geometries[i]);
    KvFree(list->geometries);
    list->geometries = nullptr;
    list->numGeometries = 0;
}

uint32 GeometryListStreamGetSize(const GeometryList* list) {
    uint32 size = Chunk(kCountStructSize);
    for (int32 i = 0; i < list->numGeometries; ++i) size += Chunk(GeometryStreamGetSize(list->geometries[i]));
    return size;
}

const GeometryList* GeometryListStreamWrite(const GeometryList* list, Stream* stream) {
    const int32 n = list->numGeometries;
    if (!ChunkHeaderWrite(stream, ChunkGeometryList, GeometryListStreamGetSize(list), kLibraryVersionStamp) ||
        !ChunkHeaderWrite(stream, ChunkStruct, kCountStructSize, kLibraryVersionStamp) ||
        StreamWriteInt32(stream, &n, sizeof n) == nullptr) {
        return nullptr;
    }
    for (int32 i = 0; i < n; ++i) {
        if (GeometryStreamWrite(list->geometries[i], stream) == nullptr) return nullptr;
    }
    return list;
}

uint32 AtomicStreamGetSize(const Atomic* atomic, const AtomicStreamContext* context) {
    uint32 size = Chunk(kAtomicStructSize) + Chunk(ExtensionSize(AtomicGetRegistry(), atomic));
    const Geometry* g = AtomicGetGeometry(atomic);
    if ((context == nullptr || context->geometryList == nullptr) && g != nullptr) {
        size += Chunk(GeometryStreamGetSize(g));
    }
    return size;
}

Atomic* AtomicStreamWrite(Atomic* atomic, const AtomicStreamContext* context, Stream* stream) {
    int32 record[4] = {0, 0, AtomicGetFlags(atomic), 0};
    if (!AtomicIndices(atomic, context, &record[0], &record[1])) return nullptr;
    if (!ChunkHeaderWrite(stream, ChunkAtomic, AtomicStreamGetSize(atomic, context), kLibraryVersionStamp) ||
        !ChunkHeaderWrite(stream, ChunkStruct, kAtomicStructSize, kLibraryVersionStamp) ||
        StreamWriteInt32(stream, record, sizeof record) == nullptr) {
        return nullptr;
    }
    if (context->geometryList == nullptr && GeometryStreamWrite(AtomicGetGeometry(atomic), stream) == nullptr) {
        return nullptr;
    }
    if (!RegistryStreamWrite(AtomicGetRegistry(), stream, atomic)) return nullptr;
    return atomic;
}

uint32 ClumpStreamGetSize(Clump* clump) {
    if (clump == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return 0;
    }
    Lists lists;
    if (!lists.Build(clump)) return 0;
    const AtomicStreamContext context{&lists.frames, &lists.geometries};
    return ClumpPayload(clump, lists, &context);
}

Clump* ClumpStreamWrite(Clump* clump, Stream* stream) {
    if (clump == nullptr || stream == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    Lists lists;
    if (!lists.Build(clump)) return nullptr;
    const AtomicStreamContext context{&lists.frames, &lists.geometries};
    // Every atomic must be writable before the first byte goes out.
    struct Check {
        const AtomicStreamContext* context;
        bool ok;
    } check{&context, true};
    ClumpForAllAtomics(
        clump,
        [](Atomic* a, void* data) -> Atomic* {
            auto* c = static_cast<Check*>(data);
            c->ok = CheckAtomic(a, const_cast<AtomicStreamContext*>(c->context)) != nullptr;
            return c->ok ? a : nullptr;
        },
        &check);
    if (!check.ok) return nullptr;

    const int32 numAtomics = ClumpGetNumAtomics(clump);
    if (!ChunkHeaderWrite(stream, ChunkClump, ClumpPayload(clump, lists, &context), kLibraryVersionStamp) ||
        !ChunkHeaderWrite(stream, ChunkStruct, kCountStructSize, kLibraryVersionStamp) ||
        StreamWriteInt32(stream, &numAtomics, sizeof numAtomics) == nullptr ||
        FrameListStreamWrite(&lists.frames, stream) == nullptr ||
        GeometryListStreamWrite(&lists.geometries, stream) == nullptr) {
        return nullptr;
    }
    struct Write {
        const AtomicStreamContext* context;
        Stream* stream;
        bool ok;
    } write{&context, stream, true};
    ClumpForAllAtomics(
        clump,
        [](Atomic* a, void* data) -> Atomic* {
            auto* w = static_cast<Write*>(data);
            w->ok = AtomicStreamWrite(a, w->context, w->stream) != nullptr;
            return w->ok ? a : nullptr;
        },
        &write);
    if (!write.ok || !RegistryStreamWrite(ClumpGetRegistry(), stream, clump)) return nullptr;
    return clump;
}

}  // namespace kv
