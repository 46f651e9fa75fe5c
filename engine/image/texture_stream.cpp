#include "texture_stream.h"

#include "engine/stream/chunk.h"
#include "raster.h"
#include "texture.h"

namespace kv {

uint32 TextureStructWord(const Texture* texture) {
    uint32 word = static_cast<uint32>(texture->filterMode) & kTextureStructFilterMask;
    word |= (static_cast<uint32>(texture->addressU) & 0xF) << kTextureStructAddressUShift;
    // Both address modes are written, so that a clamped V survives the file.
    word |= (static_cast<uint32>(texture->addressV) & 0xF) << kTextureStructAddressVShift;
    if (texture->raster != nullptr && (RasterGetFormat(texture->raster) & RasterFormatAutoMipmap) == 0) {
        word |= kTextureStructOwnLevels;
    }
    return word;
}

uint32 TextureStreamGetSize(const Texture* texture) {
    return (kChunkHeaderSize + 4) + (kChunkHeaderSize + StringStreamGetSize(texture->name)) +
           (kChunkHeaderSize + StringStreamGetSize(texture->maskName)) + kChunkHeaderSize +
           static_cast<uint32>(RegistryStreamSize(TextureGetRegistry(), texture));
}

const Texture* TextureStreamWrite(const Texture* texture, Stream* stream) {
    const uint32 word = TextureStructWord(texture);
    if (!ChunkHeaderWrite(stream, ChunkTexture, TextureStreamGetSize(texture), kLibraryVersionStamp) ||
        !ChunkHeaderWrite(stream, ChunkStruct, 4, kLibraryVersionStamp) ||
        StreamWriteInt32(stream, &word, 4) == nullptr || StringStreamWrite(texture->name, stream) == nullptr ||
        StringStreamWrite(texture->maskName, stream) == nullptr ||
        !RegistryStreamWrite(TextureGetRegistry(), stream, texture)) {
        return nullptr;
    }
    return texture;
}

}  // namespace kv
