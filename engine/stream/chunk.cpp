#include "chunk.h"

#include <cstring>

#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/frame/frame.h"

namespace kv {

namespace {

// The stored frame record: local matrix rows, parent index, matrix flags.
constexpr uint32 kFrameRecordSize = 56;

constexpr uint32 kNarrowPiece = 64;
constexpr uint32 kWidePiece = 128;
// Buffers this module allocates for strings start at most this big and grow
// as the body arrives, so a corrupt length cannot demand memory the stream
// does not back.
constexpr uint32 kFirstStringBlock = 4096;

uint32 LoadLE32(const uint8* p) {
    return static_cast<uint32>(p[0]) | static_cast<uint32>(p[1]) << 8 | static_cast<uint32>(p[2]) << 16 |
           static_cast<uint32>(p[3]) << 24;
}

void StoreLE32(uint8* p, uint32 v) {
    p[0] = static_cast<uint8>(v);
    p[1] = static_cast<uint8>(v >> 8);
    p[2] = static_cast<uint8>(v >> 16);
    p[3] = static_cast<uint8>(v >> 24);
}

bool CheckVersion(uint32 version) {
    if (ChunkVersionSupported(version)) return true;
    ErrorRaise(kModuleNone, kErrBadVersion);
    return false;
}

// The output of a string read: the caller's buffer, or one of ours that
// grows towards `needed` bytes as the body is read.
struct StringOut {
    char* data;
    uint32 capacity;  // ~0u for a caller's buffer
    bool owned;

    bool Reserve(uint32 bytes, uint32 needed) {
        if (!owned || bytes <= capacity) return true;
        uint64 grown = static_cast<uint64>(capacity) * 2;
        if (grown < bytes) grown = bytes;
        if (grown > needed) grown = needed;
        auto* p = static_cast<char*>(KvRealloc(data, grown));
        if (p == nullptr) {
            ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(grown));
            return false;
        }
        data = p;
        capacity = static_cast<uint32>(grown);
        return true;
    }
    char* Fail() {
        if (owned) KvFree(data);
        return nullptr;
    }
};

bool StringOutStart(StringOut* out, char* buffer, uint32 needed) {
    if (buffer != nullptr) {
        *out = {buffer, ~0u, false};
        return true;
    }
    const uint32 first = needed < kFirstStringBlock ? needed : kFirstStringBlock;
    auto* p = static_cast<char*>(KvMalloc(first));
    if (p == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, first);
        return false;
    }
    *out = {p, first, true};
    return true;
}

char* ReadNarrow(char* buffer, Stream* stream, uint32 length) {
    // One byte more than the body when the body is empty: the result is
    // always terminated.
    const uint32 needed = length == 0 ? 1 : length;
    StringOut out;
    if (!StringOutStart(&out, buffer, needed)) return nullptr;
    for (uint32 done = 0; done < length;) {
        const uint32 n = length - done < kNarrowPiece ? length - done : kNarrowPiece;
        if (!out.Reserve(done + n, needed)) return out.Fail();
        if (StreamRead(stream, out.data + done, n) != n) return out.Fail();
        done += n;
    }
    // A well-formed body ends in NUL padding already; a corrupt one must not
    // run its reader off the end.
    out.data[needed - 1] = '\0';
    return out.data;
}

char* ReadWide(char* buffer, Stream* stream, uint32 length) {
    const uint32 chars = length / 2;
    const uint32 needed = chars + 1;
    StringOut out;
    if (!StringOutStart(&out, buffer, needed)) return nullptr;
    uint8 piece[kWidePiece];
    for (uint32 done = 0; done < length;) {
        const uint32 n = length - done < kWidePiece ? length - done : kWidePiece;
        if (StreamRead(stream, piece, n) != n) return out.Fail();
        // Pieces are even-sized except perhaps the last, so the low byte of
        // each unit sits at an even offset of the body.
        const uint32 firstChar = done / 2;
        const uint32 pieceChars = (n + 1) / 2;
        const uint32 keep = firstChar + pieceChars > chars ? chars - firstChar : pieceChars;
        if (!out.Reserve(firstChar + keep + 1, needed)) return out.Fail();
        for (uint32 i = 0; i < keep; ++i) out.data[firstChar + i] = static_cast<char>(piece[2 * i]);
        done += n;
    }
    out.data[chars] = '\0';
    return out.data;
}

}  // namespace

bool ChunkHeaderWrite(Stream* stream, uint32 type, uint32 length, uint32 version) {
    uint8 bytes[kChunkHeaderSize];
    StoreLE32(bytes, type);
    StoreLE32(bytes + 4, length);
    StoreLE32(bytes + 8, version);
    return StreamWrite(stream, bytes, kChunkHeaderSize) != nullptr;
}

bool ChunkHeaderRead(Stream* stream, uint32* type, uint32* length, uint32* version) {
    uint8 bytes[kChunkHeaderSize];
    if (StreamRead(stream, bytes, kChunkHeaderSize) != kChunkHeaderSize) {
        ErrorRaise(kModuleNone, kErrReadFailed);
        return false;
    }
    if (type != nullptr) *type = LoadLE32(bytes);
    if (length != nullptr) *length = LoadLE32(bytes + 4);
    if (version != nullptr) *version = LoadLE32(bytes + 8);
    return true;
}

bool StreamFindChunk(Stream* stream, uint32 type, uint32* length, uint32* version) {
    for (;;) {
        uint32 t = 0, l = 0, v = 0;
        if (!ChunkHeaderRead(stream, &t, &l, &v)) return false;
        if (t == type) {
            if (!CheckVersion(v)) return false;
            if (length != nullptr) *length = l;
            if (version != nullptr) *version = v;
            return true;
        }
        if (StreamSkip(stream, l) == nullptr) return false;
    }
}

uint32 StringStreamGetSize(const char* string) {
    const std::size_t n = string != nullptr ? std::strlen(string) : 0;
    return static_cast<uint32>((n + 4) & ~static_cast<std::size_t>(3));
}

const char* StringStreamWrite(const char* string, Stream* stream) {
    if (string == nullptr) string = "";
    const uint32 size = StringStreamGetSize(string);
    const auto n = static_cast<uint32>(std::strlen(string));
    static constexpr uint8 kZeros[4] = {0, 0, 0, 0};
    if (!ChunkHeaderWrite(stream, ChunkString, size, kLibraryVersionStamp)) return nullptr;
    if (StreamWrite(stream, string, n) == nullptr) return nullptr;
    if (StreamWrite(stream, kZeros, size - n) == nullptr) return nullptr;
    return string;
}

char* StringStreamRead(char* buffer, Stream* stream) {
    for (;;) {
        uint32 type = 0, length = 0, version = 0;
        if (!ChunkHeaderRead(stream, &type, &length, &version)) return nullptr;
        if (type == ChunkString || type == ChunkUnicodeString) {
            if (!CheckVersion(version)) return nullptr;
            return type == ChunkString ? ReadNarrow(buffer, stream, length) : ReadWide(buffer, stream, length);
        }
        if (StreamSkip(stream, length) == nullptr) return nullptr;
    }
}

int32 RegistryStreamSize(const PluginRegistry* registry, const void* object) {
    int32 total = 0;
    for (const PluginEntry* e = registry->firstRegEntry; e != nullptr; e = e->nextRegEntry) {
        // Only plugins that can also write are counted: the chunk's length
        // must match what RegistryStreamWrite puts behind it.
        if (e->getSizeCB == nullptr || e->writeCB == nullptr) continue;
        const int32 size = e->getSizeCB(object, e->offset, e->size);
        if (size > 0) total += size + static_cast<int32>(kChunkHeaderSize);
    }
    return total;
}

bool RegistryStreamWrite(const PluginRegistry* registry, Stream* stream, const void* object) {
    const int32 total = RegistryStreamSize(registry, object);
    if (!ChunkHeaderWrite(stream, ChunkExtension, static_cast<uint32>(total), kLibraryVersionStamp)) return false;
    for (const PluginEntry* e = registry->firstRegEntry; e != nullptr; e = e->nextRegEntry) {
        if (e->getSizeCB == nullptr || e->writeCB == nullptr) continue;
        const int32 size = e->getSizeCB(object, e->offset, e->size);
        if (size <= 0) continue;
        if (!ChunkHeaderWrite(stream, e->pluginID, static_cast<uint32>(size), kLibraryVersionStamp)) return false;
        if (e->writeCB(stream, size, object, e->offset, e->size) == nullptr) return false;
    }
    return true;
}

FrameList* FrameListCreate(FrameList* list, Frame* root) {
    if (list == nullptr || root == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    const int32 n = FrameCount(root);
    const std::size_t bytes = sizeof(Frame*) * static_cast<std::size_t>(n);
    auto** frames = static_cast<Frame**>(KvMalloc(bytes));
    // Frames whose children are still to be visited, newest on top.
    auto** pending = static_cast<Frame**>(KvMalloc(bytes));
    if (frames == nullptr || pending == nullptr) {
        KvFree(frames);
        KvFree(pending);
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(bytes));
        return nullptr;
    }
    int32 count = 0, top = 0;
    // The root's own siblings are not part of its hierarchy.
    frames[count++] = root;
    if (root->child != nullptr) pending[top++] = root->child;
    while (top > 0) {
        for (Frame* f = pending[--top]; f != nullptr && count < n; f = f->next) {
            frames[count++] = f;
            if (f->child != nullptr) pending[top++] = f->child;
        }
    }
    KvFree(pending);
    list->frames = frames;
    list->frameCount = count;
    return list;
}

bool FrameListFind(const FrameList* list, const Frame* frame, int32* index) {
    for (int32 i = 0; i < list->frameCount; ++i) {
        if (list->frames[i] == frame) {
            if (index != nullptr) *index = i;
            return true;
        }
    }
    return false;
}

void FrameListDestroy(FrameList* list) {
    if (list == nullptr) return;
    KvFree(list->frames);
    list->frames = nullptr;
    list->frameCount = 0;
}

uint32 FrameListStreamGetSize(const FrameList* list) {
    const PluginRegistry* registry = FrameGetRegistry();
    uint32 size = static_cast<uint32>(list->frameCount) * kFrameRecordSize + 4 + kChunkHeaderSize;
    for (int32 i = 0; i < list->frameCount; ++i) {
        size += kChunkHeaderSize + static_cast<uint32>(RegistryStreamSize(registry, list->frames[i]));
    }
    return size;
}

const FrameList* FrameListStreamWrite(const FrameList* list, Stream* stream) {
    const int32 n = list->frameCount;
    for (int32 i = 0; i < n; ++i) {
        const Frame* parent = FrameGetParent(list->frames[i]);
        if (parent != nullptr && !FrameListFind(list, parent, nullptr)) return nullptr;
    }
    const uint32 structSize = static_cast<uint32>(n) * kFrameRecordSize + 4;
    if (!ChunkHeaderWrite(stream, ChunkFrameList, FrameListStreamGetSize(list), kLibraryVersionStamp) ||
        !ChunkHeaderWrite(stream, ChunkStruct, structSize, kLibraryVersionStamp) ||
        StreamWriteInt32(stream, &n, 4) == nullptr) {
        return nullptr;
    }
    for (int32 i = 0; i < n; ++i) {
        const Matrix& m = list->frames[i]->localMatrix;
        const real rows[12] = {m.right.x, m.right.y, m.right.z, m.up.x,  m.up.y,  m.up.z,
                               m.at.x,    m.at.y,    m.at.z,    m.pos.x, m.pos.y, m.pos.z};
        int32 tail[2] = {-1, static_cast<int32>(m.flags)};
        if (const Frame* parent = FrameGetParent(list->frames[i])) FrameListFind(list, parent, &tail[0]);
        if (StreamWriteReal(stream, rows, sizeof rows) == nullptr ||
            StreamWriteInt32(stream, tail, sizeof tail) == nullptr) {
            return nullptr;
        }
    }
    const PluginRegistry* registry = FrameGetRegistry();
    for (int32 i = 0; i < n; ++i) {
        if (!RegistryStreamWrite(registry, stream, list->frames[i])) return nullptr;
    }
    return list;
}

}  // namespace kv
