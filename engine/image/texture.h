// Textures: named, reference-counted wrappers around texture rasters with
// their sampling settings, found by name in texture dictionaries and, when
// not there, loaded from image files on the image search path and fitted to
// a raster the device accepts. Also the shared palette of a raster's levels
// and the mipmap builder that the device calls for automatic mip levels.
#pragma once

#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"
#include "engine/math/rgba.h"

namespace kv {

struct FreeList;
struct Image;
struct Raster;
struct TexDictionary;

// Names are NUL-terminated in 32 characters; longer ones are refused.
constexpr int32 kTextureNameLength = kNameLength;
// Names handed to the loader are copied into buffers of this size (cut to
// 255 characters).
constexpr int32 kTextureNameBufferSize = 256;

// The object type of a texture dictionary.
constexpr uint8 kTexDictionaryType = 6;

// Registered extension data follows the record.
struct Texture {
    Raster* raster;  // destroyed with the texture
    TexDictionary* dictionary;
    LLLink dictionaryLink;  // in the dictionary's texture list
    char name[kTextureNameLength];
    char maskName[kTextureNameLength];  // empty for none
    int32 refCount;
    int32 filterMode;  // render-state values (1 at creation)
    int32 addressU;
    int32 addressV;
};

struct TexDictionary {
    Object object;         // type kTexDictionaryType
    LinkList textureList;  // newest first
    LLLink dictionaryListLink;
};

// The loader behind TextureRead: (name, mask name) -> texture or null.
using TextureReadFn = Texture* (*)(const char* name, const char* maskName);
// Builds levels 1 and up of a mipmapped raster from level 0 (image, or the
// raster's own level 0 when image is null).
using TextureGenerateMipmapsFn = Raster* (*)(Raster* raster, Image* image);
// Gives the file names of one mip level; the buffers hold
// kTextureNameBufferSize bytes. False when a name would not fit.
using TextureMipmapNameFn = bool (*)(char* name, char* maskName, uint8 level, int32 rasterFlags);

// The texture module's block in the engine instance.
struct TextureModule {
    LinkList dictionaries;
    FreeList* textureFreeList;
    FreeList* dictionaryFreeList;
    TexDictionary* currentDictionary;
    TextureReadFn readTexture;
    int32 mipmapping;      // load one image per level (never turned on here)
    int32 autoMipmapping;  // ... or let the device build them
    void* scratch;
    uint16 scratchSize;
    TextureGenerateMipmapsFn generateMipmaps;
    TextureMipmapNameFn mipmapName;
    // Textures outside every dictionary, on the same link, so that closing
    // the module finds them whatever kind of free list made them.
    LinkList looseTextures;
};

// From the free list: the raster (may be null), no dictionary, empty names,
// one reference, filter and address values 1.
Texture* TextureCreate(Raster* raster);
Texture* TextureAddRef(Texture* texture);
// Drops one reference; the last destroys the raster with the texture.
bool TextureDestroy(Texture* texture);

// Names of up to 31 characters are kept whole; of a longer one the first 31
// are kept and error 0x8000001e is raised.
Texture* TextureSetName(Texture* texture, const char* name);
Texture* TextureSetMaskName(Texture* texture, const char* name);
inline const char* TextureGetName(const Texture* texture) { return texture->name; }
inline const char* TextureGetMaskName(const Texture* texture) { return texture->maskName; }
inline Raster* TextureGetRaster(const Texture* texture) { return texture->raster; }
// The texture takes the raster (and destroys it with itself).
inline Texture* TextureSetRaster(Texture* texture, Raster* raster) {
    texture->raster = raster;
    return texture;
}
inline TexDictionary* TextureGetDictionary(const Texture* texture) { return texture->dictionary; }
inline int32 TextureGetRefCount(const Texture* texture) { return texture->refCount; }
inline Texture* TextureSetFilterMode(Texture* texture, int32 mode) {
    texture->filterMode = mode;
    return texture;
}
inline Texture* TextureSetAddressU(Texture* texture, int32 mode) {
    texture->addressU = mode;
    return texture;
}
inline Texture* TextureSetAddressV(Texture* texture, int32 mode) {
    texture->addressV = mode;
    return texture;
}
inline int32 TextureGetFilterMode(const Texture* texture) { return texture->filterMode; }
inline int32 TextureGetAddressU(const Texture* texture) { return texture->addressU; }
inline int32 TextureGetAddressV(const Texture* texture) { return texture->addressV; }

// Looks the name up (letters compared without case) in the current
// dictionary, or in every dictionary when none is current; a hit gains a
// reference. Otherwise the loader makes it and the current dictionary takes
// it. Null with error 22 (texture module) when it cannot be read, and with
// 0x8000001e, before anything is looked up, when a name does not fit.
Texture* TextureRead(const char* name, const char* maskName);

// The loader; null restores the default one.
bool TextureSetReadCallBack(TextureReadFn reader);
TextureReadFn TextureGetReadCallBack();
bool TextureSetMipmapNameCallBack(TextureMipmapNameFn fn);
TextureMipmapNameFn TextureGetMipmapNameCallBack();

// The default loader and its parts.
Texture* TextureDefaultRead(const char* name, const char* maskName);
// Reads name (with maskName's alpha) fitted to a raster of rasterType:
// width, height, depth and createFlags are asked of the device when width or
// height is 0 on entry, and the image is resampled to that size; a 4- or
// 8-bit picture comes back palettised again at its own depth.
Image* TextureImageRead(const char* name, const char* maskName, int32 rasterType, int32* width, int32* height,
                        int32* depth, int32* createFlags);
// One palette of 1 << depth entries for count images (the levels of one
// raster). When the first image has a palette that every other image shares
// entry for entry, that palette is copied out; otherwise the palette is
// quantised (image i weighing 4^i) and each image is replaced by one of its
// size and the given depth mapped onto it (the old one destroyed unless it is
// keepImage). Either way every image's palette pointer is then palette, so
// correcting one corrects all. Palette must hold 1 << depth entries and
// outlive the images.
bool ImageListMakePalette(RGBA* palette, const Image* keepImage, Image** images, int32 count, int32 depth);
// Calls the module's mipmap builder (the device calls it when a raster with
// automatic mip levels has had level 0 written).
bool TextureRasterGenerateMipmaps(Raster* raster, Image* image);
// The default level-name hook: levels 1 to 15 append "m" and the level as one
// hex digit to both names (the mask name only when not empty).
bool TextureMipmapName(char* name, char* maskName, uint8 level, int32 rasterFlags);

// Dictionaries.
TexDictionary* TexDictionaryCreate();
// Every texture in it is released once and taken out of it; textures that
// are still referenced elsewhere live on outside any dictionary.
bool TexDictionaryDestroy(TexDictionary* dictionary);
// Unlinks the texture from any dictionary and puts it at the head of this one
// (the dictionary holds no reference).
Texture* TexDictionaryAddTexture(TexDictionary* dictionary, Texture* texture);
Texture* TexDictionaryRemoveTexture(Texture* texture);
// Without adding a reference; letters compared without case.
Texture* TexDictionaryFindNamedTexture(TexDictionary* dictionary, const char* name);
// May be null: lookups then search every dictionary.
TexDictionary* TexDictionarySetCurrent(TexDictionary* dictionary);
TexDictionary* TexDictionaryGetCurrent();

// The registries: plugins register before the engine opens.
int32 TextureRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                            PluginCopy copy);
int32 TextureRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                  PluginStreamSize getSize);
int32 TextureGetPluginOffset(uint32 pluginID);
PluginRegistry* TextureGetRegistry();
int32 TexDictionaryRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                                  PluginCopy copy);
int32 TexDictionaryGetPluginOffset(uint32 pluginID);

// Registered as engine module kIdTextureModule. Closing destroys every
// texture still alive, referenced or not, and every dictionary.
void* TextureModuleOpen(void* instance, int32 offset, int32 size);
void* TextureModuleClose(void* instance, int32 offset, int32 size);
CoreModule TextureModuleEntry();

}  // namespace kv
