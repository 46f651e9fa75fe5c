// The chunked binary format: every object the engine writes is a tree of
// chunks, a 12-byte header followed by a body of the stated length, so that a
// reader can find what it wants by type and skip the rest.
#pragma once

#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"
#include "stream.h"

namespace kv {

enum ChunkType : uint32 {
    ChunkStruct = 1,
    ChunkString = 2,
    ChunkExtension = 3,
    ChunkTexture = 6,
    ChunkMaterial = 7,
    ChunkMaterialList = 8,
    ChunkFrameList = 14,
    ChunkGeometry = 15,
    ChunkClump = 16,
    ChunkUnicodeString = 19,
    ChunkAtomic = 20,
    ChunkGeometryList = 26,
};

// Every header written carries the current stamp; older stamps down to the
// first of this format are still read.
constexpr uint32 kLibraryVersionStamp = 0x310;
constexpr uint32 kLibraryVersionMin = 0x301;
constexpr uint32 kLibraryVersionMax = 0x310;
constexpr bool ChunkVersionSupported(uint32 version) {
    return version >= kLibraryVersionMin && version <= kLibraryVersionMax;
}

struct ChunkHeaderInfo {
    uint32 type;
    uint32 length;  // body bytes after the header, nested headers included
    uint32 version;
};
static_assert(sizeof(ChunkHeaderInfo) == 12, "chunk headers are 12 bytes on disk");
constexpr uint32 kChunkHeaderSize = sizeof(ChunkHeaderInfo);

bool ChunkHeaderWrite(Stream* stream, uint32 type, uint32 length, uint32 version);
// Any output may be null. The version is not checked here.
bool ChunkHeaderRead(Stream* stream, uint32* type, uint32* length, uint32* version);
// Skips chunks until one of the type; the stream is left at its body.
bool StreamFindChunk(Stream* stream, uint32 type, uint32* length, uint32* version);

// The body length of a string chunk: the characters, a NUL and padding to 4.
uint32 StringStreamGetSize(const char* string);
// Writes header and body; a null string is written as the empty string.
// Returns the string written (the empty string for null), or null on failure.
const char* StringStreamWrite(const char* string, Stream* stream);
// Reads the next string chunk (narrow, or 16-bit units keeping the low byte),
// skipping chunks of other types. A null buffer is allocated with KvMalloc
// (free it with KvFree); a caller's buffer must hold the chunk's length. The
// result is always NUL-terminated.
char* StringStreamRead(char* buffer, Stream* stream);

// Extension data: the bytes that the plugins of a registry with stream
// callbacks write for an object, sub-chunk headers included.
int32 RegistryStreamSize(const PluginRegistry* registry, const void* object);
// Writes the extension chunk (its header and one chunk per plugin with data).
bool RegistryStreamWrite(const PluginRegistry* registry, Stream* stream, const void* object);

struct Frame;

// The frames of one hierarchy in stream order: the root first, and every
// parent before its children.
struct FrameList {
    Frame** frames;
    int32 frameCount;
};

// Fills list from root's hierarchy: root, then a walk appending each frame,
// then its following siblings, then its children.
FrameList* FrameListCreate(FrameList* list, Frame* root);
bool FrameListFind(const FrameList* list, const Frame* frame, int32* index);
void FrameListDestroy(FrameList* list);
// Body length of the frame-list chunk, extension chunks included.
uint32 FrameListStreamGetSize(const FrameList* list);
// Writes the frame-list chunk: 56-byte records of local matrix, parent index
// and matrix flags, then one extension chunk per frame. Fails, before writing
// anything, when a frame's parent is not in the list.
const FrameList* FrameListStreamWrite(const FrameList* list, Stream* stream);

}  // namespace kv
