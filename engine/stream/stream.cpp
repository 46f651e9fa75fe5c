#include "stream.h"

#include <bit>
#include <cstring>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "file_system.h"

namespace kv {

namespace {

ModuleSlot<StreamModuleData> slot;

constexpr uint32 kMemoryGrowth = 512;
constexpr uint32 kStagingBytes = 256;

StreamModuleData* Module() { return slot.Get(); }

const FileFunctions& Files() { return EngineInstanceGet()->fileFuncs; }

void StreamError(int32 code) { ErrorRaise(kModuleCore, code); }
void GeneralError(int32 code) { ErrorRaise(kModuleNone, code); }

void FreeRecord(Stream* stream) {
    if (StreamModuleData* m = Module()) KvFreeListFree(m->streamFreeList, stream);
}

bool IsFileType(int32 type) { return type == StreamTypeFile || type == StreamTypeFileName; }

// Stored words are little-endian; on a big-endian host each word is swapped.
void SwapWords(void* data, uint32 byteCount) {
    if constexpr (std::endian::native == std::endian::big) {
        auto* bytes = static_cast<uint8*>(data);
        for (uint32 i = 0; i + 4 <= byteCount; i += 4) {
            std::swap(bytes[i], bytes[i + 3]);
            std::swap(bytes[i + 1], bytes[i + 2]);
        }
    } else {
        (void)data;
        (void)byteCount;
    }
}

uint32 MemoryRead(Stream* stream, void* buffer, uint32 length) {
    StreamMemoryBody& m = stream->Type.memory;
    // A stream opened for writing holds unwritten capacity past its position:
    // there is nothing to read in it.
    const uint32 available = stream->accessType == StreamAccessRead ? m.length - m.position : 0;
    if (length > available) {
        StreamError(kErrStreamEnd);
        length = available;
    }
    if (length != 0) std::memcpy(buffer, m.memBlock + m.position, length);
    m.position += length;
    return length;
}

Stream* MemoryWrite(Stream* stream, const void* buffer, uint32 length) {
    StreamMemoryBody& m = stream->Type.memory;
    // A read stream's block is the caller's and may not be heap memory.
    if (stream->accessType == StreamAccessRead) {
        GeneralError(kErrWriteFailed);
        return nullptr;
    }
    if (m.memBlock == nullptr) {
        auto* block = static_cast<uint8*>(KvMalloc(kMemoryGrowth));
        if (block == nullptr) {
            ErrorRaiseDetail(kModuleNone, kErrNoMemory, kMemoryGrowth);
            return nullptr;
        }
        m.memBlock = block;
        m.length = kMemoryGrowth;
    }
    if (m.length - m.position < length) {
        const uint64 grown = static_cast<uint64>(m.length) + (length > kMemoryGrowth ? length : kMemoryGrowth);
        // Lengths are 32-bit on disk and in the record.
        auto* block = grown > 0xFFFFFFFFu ? nullptr : static_cast<uint8*>(KvRealloc(m.memBlock, grown));
        if (block == nullptr) {
            ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(grown));
            return nullptr;
        }
        m.memBlock = block;
        m.length = static_cast<uint32>(grown);
    }
    if (length != 0) std::memcpy(m.memBlock + m.position, buffer, length);
    m.position += length;
    return stream;
}

Stream* MemorySkip(Stream* stream, uint32 length) {
    StreamMemoryBody& m = stream->Type.memory;
    // Skipping in a write stream would hand out bytes nobody wrote.
    const uint32 available = stream->accessType == StreamAccessRead ? m.length - m.position : 0;
    if (length > available) {
        m.position += available;
        StreamError(kErrStreamEnd);
        return nullptr;
    }
    m.position += length;
    return stream;
}

}  // namespace

const char* StreamTypeName(int32 type) {
    switch (type) {
        case StreamTypeNA:
            return "kvNASTREAM";
        case StreamTypeFile:
            return "kvSTREAMFILE";
        case StreamTypeFileName:
            return "kvSTREAMFILENAME";
        case StreamTypeMemory:
            return "kvSTREAMMEMORY";
        default:
            return "Unknown";
    }
}

Stream* StreamOpen(int32 type, int32 accessType, const void* data) {
    StreamModuleData* m = Module();
    if (m == nullptr) {
        GeneralError(kErrEngineState);
        return nullptr;
    }
    auto* stream = static_cast<Stream*>(KvFreeListAlloc(m->streamFreeList));
    if (stream == nullptr) return nullptr;
    std::memset(static_cast<void*>(stream), 0, sizeof(Stream));
    stream->type = type;
    stream->accessType = accessType;
    stream->freeOnClose = 1;

    bool ok = true;
    // A memory stream opened for writing starts empty and needs no block.
    const bool needsData = type == StreamTypeMemory ? accessType == StreamAccessRead || accessType == StreamAccessAppend
                                                    : type >= StreamTypeFile && type <= StreamTypeCustom;
    if (data == nullptr && needsData) {
        GeneralError(kErrNullArgument);
        ok = false;
    } else if (type == StreamTypeFile) {
        stream->Type.file.fpFile = const_cast<void*>(data);
    } else if (type == StreamTypeFileName) {
        const char* mode = accessType == StreamAccessRead     ? "rb"
                           : accessType == StreamAccessWrite  ? "wb"
                           : accessType == StreamAccessAppend ? "ab"
                                                              : nullptr;
        if (mode == nullptr) {
            StreamError(kErrStreamBadAccess);
            ok = false;
        } else {
            stream->Type.file.fpFile = Files().kvfopen(static_cast<const char*>(data), mode);
            if (stream->Type.file.fpFile == nullptr) {
                GeneralError(kErrFileOpen);
                ok = false;
            }
        }
    } else if (type == StreamTypeMemory) {
        const auto* mem = static_cast<const StreamMemory*>(data);
        StreamMemoryBody& body = stream->Type.memory;
        if (accessType == StreamAccessWrite) {
            body = {0, 0, nullptr};
        } else if (accessType == StreamAccessRead) {
            body = {0, mem->length, mem->buffer};
        } else if (accessType == StreamAccessAppend) {
            body = {mem->length, mem->length, mem->buffer};
        } else {
            StreamError(kErrStreamBadAccess);
            ok = false;
        }
        // A block that claims bytes must have them.
        if (ok && body.memBlock == nullptr && body.length != 0) {
            GeneralError(kErrNullArgument);
            ok = false;
        }
    } else if (type == StreamTypeCustom) {
        stream->Type.custom = *static_cast<const StreamCustom*>(data);
    } else {
        StreamError(kErrStreamBadType);
        ok = false;
    }
    if (!ok) {
        FreeRecord(stream);
        return nullptr;
    }
    return stream;
}

bool StreamClose(Stream* stream, StreamMemory* memoryOut) {
    if (stream == nullptr) {
        GeneralError(kErrNullArgument);
        return false;
    }
    bool result = true;
    switch (stream->type) {
        case StreamTypeFileName:
            result = Files().kvfclose(stream->Type.file.fpFile) == 0;
            break;
        case StreamTypeMemory:
            if (stream->accessType != StreamAccessRead) {
                StreamMemoryBody& m = stream->Type.memory;
                if (memoryOut != nullptr) {
                    memoryOut->buffer = m.memBlock;
                    memoryOut->length = m.position;
                } else {
                    // Nobody else can reach this buffer any more: an appended
                    // block became the stream's at open (it may have moved
                    // since, so the caller's old pointer is not to be used).
                    KvFree(m.memBlock);
                }
            }
            break;
        case StreamTypeFile:
            break;  // the caller owns the handle
        case StreamTypeCustom:
            if (stream->Type.custom.closeFn != nullptr) stream->Type.custom.closeFn(stream->Type.custom.data);
            break;
        default:
            StreamError(kErrStreamBadType);
            return false;
    }
    if (stream->freeOnClose != 0) FreeRecord(stream);
    return result;
}

uint32 StreamRead(Stream* stream, void* buffer, uint32 length) {
    if (stream == nullptr) {
        GeneralError(kErrNullArgument);
        return 0;
    }
    if (stream->type == StreamTypeMemory) return MemoryRead(stream, buffer, length);
    if (stream->type == StreamTypeCustom) {
        return stream->Type.custom.readFn != nullptr
                   ? stream->Type.custom.readFn(stream->Type.custom.data, buffer, length)
                   : 0;
    }
    if (IsFileType(stream->type)) {
        if (length == 0) return 0;
        const auto got = static_cast<uint32>(Files().kvfread(buffer, 1, length, stream->Type.file.fpFile));
        if (got < length) {
            if (Files().kvfeof(stream->Type.file.fpFile) != 0) {
                StreamError(kErrStreamEnd);
            } else {
                GeneralError(kErrReadFailed);
            }
        }
        return got;
    }
    StreamError(kErrStreamBadType);
    return 0;
}

Stream* StreamWrite(Stream* stream, const void* buffer, uint32 length) {
    if (stream == nullptr) {
        GeneralError(kErrNullArgument);
        return nullptr;
    }
    if (stream->type == StreamTypeMemory) return MemoryWrite(stream, buffer, length);
    if (stream->type == StreamTypeCustom) {
        const StreamCustom& c = stream->Type.custom;
        return c.writeFn != nullptr && c.writeFn(c.data, buffer, length) ? stream : nullptr;
    }
    if (IsFileType(stream->type)) {
        if (length == 0) return stream;
        if (Files().kvfwrite(buffer, 1, length, stream->Type.file.fpFile) != length) {
            GeneralError(kErrWriteFailed);
            return nullptr;
        }
        return stream;
    }
    StreamError(kErrStreamBadType);
    return nullptr;
}

Stream* StreamSkip(Stream* stream, uint32 length) {
    if (length == 0) return stream;
    if (stream == nullptr) {
        GeneralError(kErrNullArgument);
        return nullptr;
    }
    if (stream->type == StreamTypeMemory) return MemorySkip(stream, length);
    if (stream->type == StreamTypeCustom) {
        const StreamCustom& c = stream->Type.custom;
        return c.skipFn != nullptr && c.skipFn(c.data, length) ? stream : nullptr;
    }
    if (IsFileType(stream->type)) {
        if (Files().kvfseek(stream->Type.file.fpFile, static_cast<long>(length), SEEK_CUR) != 0) {
            if (Files().kvfeof(stream->Type.file.fpFile) != 0) StreamError(kErrStreamEnd);
            return nullptr;
        }
        return stream;
    }
    StreamError(kErrStreamBadType);
    return nullptr;
}

int64_t StreamBytesLeft(Stream* stream) {
    if (stream == nullptr || stream->accessType != StreamAccessRead) return -1;
    if (stream->type == StreamTypeMemory) {
        const StreamMemoryBody& m = stream->Type.memory;
        return static_cast<int64_t>(m.length) - m.position;
    }
    if (!IsFileType(stream->type)) return -1;
    void* fp = stream->Type.file.fpFile;
    const long here = Files().kvftell(fp);
    if (here < 0 || Files().kvfseek(fp, 0, SEEK_END) != 0) return -1;
    const long end = Files().kvftell(fp);
    // Back where the reader was, or the stream is of no further use.
    if (Files().kvfseek(fp, here, SEEK_SET) != 0) return -1;
    return end >= here ? static_cast<int64_t>(end - here) : -1;
}

Stream* StreamReadInt32(Stream* stream, void* buffer, uint32 byteCount) {
    const uint32 got = StreamRead(stream, buffer, byteCount);
    if (got == 0 && byteCount != 0) {
        GeneralError(kErrReadFailed);
        return nullptr;
    }
    // A short read leaves the tail of the caller's words unset: it is a
    // failure too (StreamRead has reported why).
    if (got < byteCount) return nullptr;
    SwapWords(buffer, byteCount);
    return stream;
}

Stream* StreamReadReal(Stream* stream, real* buffer, uint32 byteCount) {
    return StreamReadInt32(stream, buffer, byteCount);
}

Stream* StreamWriteInt32(Stream* stream, const void* buffer, uint32 byteCount) {
    if constexpr (std::endian::native == std::endian::little) {
        return StreamWrite(stream, buffer, byteCount);
    } else {
        return StreamWriteReal(stream, static_cast<const real*>(buffer), byteCount);
    }
}

Stream* StreamWriteReal(Stream* stream, const real* buffer, uint32 byteCount) {
    // Staged so the stored byte order can be applied without touching the
    // caller's data.
    uint8 staging[kStagingBytes];
    const auto* src = reinterpret_cast<const uint8*>(buffer);
    while (byteCount > 0) {
        const uint32 n = byteCount < kStagingBytes ? byteCount : kStagingBytes;
        std::memcpy(staging, src, n);
        SwapWords(staging, n);
        if (StreamWrite(stream, staging, n) == nullptr) return nullptr;
        src += n;
        byteCount -= n;
    }
    return stream;
}

void* StreamModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    StreamModuleData* m = slot.At(instance, offset);
    m->streamFreeList = FreeListCreate(sizeof(Stream), 10, alignof(Stream));
    if (m->streamFreeList == nullptr) return nullptr;
    slot.Opened(offset);
    FileSystemInstallPathTest(static_cast<EngineInstance*>(instance));
    return instance;
}

void* StreamModuleClose(void* instance, int32 offset, int32 /*size*/) {
    StreamModuleData* m = slot.At(instance, offset);
    if (m->streamFreeList != nullptr) FreeListDestroy(m->streamFreeList);
    m->streamFreeList = nullptr;
    slot.Closed();
    return instance;
}

CoreModule StreamModuleEntry() {
    return {"stream", static_cast<int32>(sizeof(StreamModuleData)), kIdStreamModule, StreamModuleOpen,
            StreamModuleClose};
}

}  // namespace kv
