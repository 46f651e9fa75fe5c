// Streams: sequential binary input and output over a file handle, a file the
// stream opens by name, a block of memory, or functions given by the caller.
// Files are reached only through the engine instance's file functions.
#pragma once

#include "engine/core/error.h"
#include "engine/core/types.h"

namespace kv {

struct CoreModule;

enum StreamType : int32 {
    StreamTypeNA = 0,        // "kvNASTREAM"
    StreamTypeFile = 1,      // a handle the caller opened and closes
    StreamTypeFileName = 2,  // a file the stream opens and closes
    StreamTypeMemory = 3,
    StreamTypeCustom = 4,
};

enum StreamAccess : int32 {
    StreamAccessNone = 0,
    StreamAccessRead = 1,
    StreamAccessWrite = 2,
    StreamAccessAppend = 3,
};

// The caller's description of a memory block. A block given for appending
// must come from KvMalloc and becomes the stream's at open: the stream may
// reallocate it, and hands it back only through StreamClose's memoryOut
// (closed without one, the stream frees it).
struct StreamMemory {
    uint8* buffer;
    uint32 length;
};

using StreamCloseFn = void (*)(void* data);
using StreamReadFn = uint32 (*)(void* data, void* buffer, uint32 length);  // bytes read
using StreamWriteFn = bool (*)(void* data, const void* buffer, uint32 length);
using StreamSkipFn = bool (*)(void* data, uint32 length);

// The data of a custom stream, in the order StreamOpen takes it.
struct StreamCustom {
    StreamCloseFn closeFn;
    StreamReadFn readFn;
    StreamWriteFn writeFn;
    StreamSkipFn skipFn;
    void* data;
};

struct StreamFile {
    void* fpFile;  // a handle of the instance's file functions
};

struct StreamMemoryBody {
    uint32 position;  // bytes consumed or written
    uint32 length;    // bytes available for reading; capacity when writing
    uint8* memBlock;
};

union StreamUnion {
    StreamMemoryBody memory;
    StreamFile file;
    StreamCustom custom;
};

struct Stream {
    int32 type;        // StreamType
    int32 accessType;  // StreamAccess
    int32 reserved;
    StreamUnion Type;
    int32 freeOnClose;  // the record returns to the stream free list at close
};

// data: the file handle (type 1), the file name (type 2), a StreamMemory
// (type 3) or a StreamCustom (type 4).
Stream* StreamOpen(int32 type, int32 accessType, const void* data);
// memoryOut (may be null) receives the buffer and the written length of a
// memory stream opened for writing or appending; the buffer is then the
// caller's (free it with KvFree). A stream opened for writing or appending
// and closed without memoryOut frees its buffer.
bool StreamClose(Stream* stream, StreamMemory* memoryOut);
uint32 StreamRead(Stream* stream, void* buffer, uint32 length);
Stream* StreamWrite(Stream* stream, const void* buffer, uint32 length);
Stream* StreamSkip(Stream* stream, uint32 length);

// Bytes between the position of a read stream and its end, or -1 when the
// stream cannot tell (custom streams, write streams). Readers of untrusted
// files check sizes against it before allocating.
int64_t StreamBytesLeft(Stream* stream);

// Little-endian 32-bit integers and IEEE single-precision reals.
Stream* StreamReadInt32(Stream* stream, void* buffer, uint32 byteCount);
Stream* StreamReadReal(Stream* stream, real* buffer, uint32 byteCount);
Stream* StreamWriteInt32(Stream* stream, const void* buffer, uint32 byteCount);
Stream* StreamWriteReal(Stream* stream, const real* buffer, uint32 byteCount);

// The name printed for a stream type in error reports.
const char* StreamTypeName(int32 type);

struct FreeList;
// The stream module's block in the engine instance.
struct StreamModuleData {
    FreeList* streamFreeList;  // Stream records, 10 per block
};

// The stream module's constructor and destructor, registered by EngineInit.
void* StreamModuleOpen(void* instance, int32 offset, int32 size);
void* StreamModuleClose(void* instance, int32 offset, int32 size);
CoreModule StreamModuleEntry();

}  // namespace kv
