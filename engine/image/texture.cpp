#include "texture.h"

#include <cstring>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "raster.h"

namespace kv {

// The default mipmap builder lives with the loader.
Raster* TextureDefaultGenerateMipmaps(Raster* raster, Image* image);

namespace {

constexpr int32 kTexturesPerBlock = 20;
constexpr int32 kDictionariesPerBlock = 5;

PluginRegistry textureRegistry = PluginRegistryMake(sizeof(Texture));
PluginRegistry dictionaryRegistry = PluginRegistryMake(sizeof(TexDictionary));
ModuleSlot<TextureModule> slot;

Texture* FromDictionaryLink(LLLink* link) { return LLLinkGetData<Texture>(link, offsetof(Texture, dictionaryLink)); }
TexDictionary* FromDictionaryListLink(LLLink* link) {
    return LLLinkGetData<TexDictionary>(link, offsetof(TexDictionary, dictionaryListLink));
}

char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Letters compare without case; the whole name counts.
bool SameName(const char* stored, const char* wanted) {
    for (std::size_t i = 0;; ++i) {
        const char a = Fold(stored[i]);
        if (a != Fold(wanted[i])) return false;
        if (a == '\0') return true;
    }
}

// A name longer than the field is refused rather than cut: a cut name would
// stand for every name that shares its first 31 characters.
bool NameFits(const char* name) {
    if (name != nullptr && std::strlen(name) >= static_cast<std::size_t>(kTextureNameLength)) {
        ErrorRaise(kModuleNone, kErrNameTooLong);
        return false;
    }
    return true;
}

// A name set on a texture is kept as far as the field holds it, with the
// error that says it was cut; lookups still compare whole names, so a longer
// name never finds the cut one.
void CopyName(char* field, const char* name) {
    if (name == nullptr) name = "";
    std::size_t length = std::strlen(name);
    if (!NameFits(name)) length = static_cast<std::size_t>(kTextureNameLength) - 1;
    std::memcpy(field, name, length);
    field[length] = '\0';
}

void Unlink(Texture* texture) {
    LLLinkRemove(&texture->dictionaryLink);
    texture->dictionary = nullptr;
}

void Link(TextureModule* m, TexDictionary* dictionary, Texture* texture) {
    texture->dictionary = dictionary;
    LinkListAddLLLink(dictionary != nullptr ? &dictionary->textureList : &m->looseTextures, &texture->dictionaryLink);
}

// Destroys the texture whatever its count; the module block is given because
// the module may be closing.
void TextureFree(TextureModule* m, Texture* texture) {
    RegistryDestruct(&textureRegistry, texture);
    Unlink(texture);
    if (texture->raster != nullptr) RasterDestroy(texture->raster);
    texture->raster = nullptr;
    texture->refCount = 0;
    KvFreeListFree(m->textureFreeList, texture);
}

Texture* FindIn(TexDictionary* dictionary, const char* name) {
    LLLink* end = LinkListGetTerminator(&dictionary->textureList);
    for (LLLink* l = LinkListGetFirst(&dictionary->textureList); l != end; l = l->next) {
        Texture* t = FromDictionaryLink(l);
        if (SameName(t->name, name)) return t;
    }
    return nullptr;
}

void DictionaryFree(TextureModule* m, TexDictionary* dictionary) {
    if (m->currentDictionary == dictionary) m->currentDictionary = nullptr;
    RegistryDestruct(&dictionaryRegistry, dictionary);
    LLLinkRemove(&dictionary->dictionaryListLink);
    KvFreeListFree(m->dictionaryFreeList, dictionary);
}

}  // namespace

Texture* TextureCreate(Raster* raster) {
    TextureModule* m = slot.GetOrError();
    if (m == nullptr) return nullptr;
    auto* texture = static_cast<Texture*>(KvFreeListAlloc(m->textureFreeList));
    if (texture == nullptr) return nullptr;
    *texture = Texture{};
    texture->raster = raster;
    texture->refCount = 1;
    texture->filterMode = 1;
    texture->addressU = 1;
    texture->addressV = 1;
    Link(m, nullptr, texture);
    if (RegistryConstruct(&textureRegistry, texture) == nullptr) {
        Unlink(texture);
        KvFreeListFree(m->textureFreeList, texture);
        return nullptr;
    }
    return texture;
}

Texture* TextureAddRef(Texture* texture) {
    ++texture->refCount;
    return texture;
}

bool TextureDestroy(Texture* texture) {
    if (texture == nullptr) return true;
    if (texture->refCount >= 2) {
        --texture->refCount;
        return true;
    }
    // Already destroyed: never free twice.
    if (texture->refCount <= 0) return true;
    TextureModule* m = slot.GetOrError();
    if (m == nullptr) return false;
    TextureFree(m, texture);
    return true;
}

Texture* TextureSetName(Texture* texture, const char* name) {
    CopyName(texture->name, name);
    return texture;
}

Texture* TextureSetMaskName(Texture* texture, const char* name) {
    CopyName(texture->maskName, name);
    return texture;
}

Texture* TextureRead(const char* name, const char* maskName) {
    TextureModule* m = slot.GetOrError();
    if (m == nullptr) return nullptr;
    if (name == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    // A texture read under a name it cannot keep could never be found again.
    if (!NameFits(name) || !NameFits(maskName)) return nullptr;
    Texture* found = nullptr;
    if (m->currentDictionary != nullptr) {
        found = FindIn(m->currentDictionary, name);
    } else {
        LLLink* end = LinkListGetTerminator(&m->dictionaries);
        for (LLLink* l = LinkListGetFirst(&m->dictionaries); l != end && found == nullptr; l = l->next) {
            found = FindIn(FromDictionaryListLink(l), name);
        }
    }
    if (found != nullptr) return TextureAddRef(found);

    Texture* texture = m->readTexture(name, maskName);
    if (texture == nullptr) {
        ErrorRaise(kIdTextureModule, kErrTextureRead);
        return nullptr;
    }
    if (m->currentDictionary != nullptr) TexDictionaryAddTexture(m->currentDictionary, texture);
    return texture;
}

bool TextureSetReadCallBack(TextureReadFn reader) {
    TextureModule* m = slot.GetOrError();
    if (m == nullptr) return false;
    m->readTexture = reader != nullptr ? reader : TextureDefaultRead;
    return true;
}

TextureReadFn TextureGetReadCallBack() {
    TextureModule* m = slot.Get();
    return m != nullptr ? m->readTexture : nullptr;
}

bool TextureSetMipmapNameCallBack(TextureMipmapNameFn fn) {
    TextureModule* m = slot.GetOrError();
    if (m == nullptr) return false;
    m->mipmapName = fn != nullptr ? fn : TextureMipmapName;
    return true;
}

TextureMipmapNameFn TextureGetMipmapNameCallBack() {
    TextureModule* m = slot.Get();
    return m != nullptr ? m->mipmapName : TextureMipmapName;
}

bool TextureRasterGenerateMipmaps(Raster* raster, Image* image) {
    TextureModule* m = slot.GetOrError();
    if (m == nullptr) return false;
    if (raster == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    return m->generateMipmaps(raster, image) != nullptr;
}

TexDictionary* TexDictionaryCreate() {
    TextureModule* m = slot.GetOrError();
    if (m == nullptr) return nullptr;
    auto* dictionary = static_cast<TexDictionary*>(KvFreeListAlloc(m->dictionaryFreeList));
    if (dictionary == nullptr) return nullptr;
    ObjectInitialize(&dictionary->object, kTexDictionaryType, 0);
    LinkListInitialize(&dictionary->textureList);
    LinkListAddLLLink(&m->dictionaries, &dictionary->dictionaryListLink);
    if (RegistryConstruct(&dictionaryRegistry, dictionary) == nullptr) {
        LLLinkRemove(&dictionary->dictionaryListLink);
        KvFreeListFree(m->dictionaryFreeList, dictionary);
        return nullptr;
    }
    return dictionary;
}

bool TexDictionaryDestroy(TexDictionary* dictionary) {
    if (dictionary == nullptr) return true;
    TextureModule* m = slot.GetOrError();
    if (m == nullptr) return false;
    while (!LinkListEmpty(&dictionary->textureList)) {
        Texture* t = FromDictionaryLink(LinkListGetFirst(&dictionary->textureList));
        Unlink(t);
        Link(m, nullptr, t);
        TextureDestroy(t);
    }
    DictionaryFree(m, dictionary);
    return true;
}

Texture* TexDictionaryAddTexture(TexDictionary* dictionary, Texture* texture) {
    TextureModule* m = slot.GetOrError();
    if (m == nullptr) return nullptr;
    if (dictionary == nullptr || texture == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    Unlink(texture);
    Link(m, dictionary, texture);
    return texture;
}

Texture* TexDictionaryRemoveTexture(Texture* texture) {
    TextureModule* m = slot.GetOrError();
    if (m == nullptr) return nullptr;
    Unlink(texture);
    Link(m, nullptr, texture);
    return texture;
}

Texture* TexDictionaryFindNamedTexture(TexDictionary* dictionary, const char* name) {
    if (dictionary == nullptr || name == nullptr) return nullptr;
    return FindIn(dictionary, name);
}

TexDictionary* TexDictionarySetCurrent(TexDictionary* dictionary) {
    TextureModule* m = slot.GetOrError();
    if (m == nullptr) return nullptr;
    m->currentDictionary = dictionary;
    return dictionary;
}

TexDictionary* TexDictionaryGetCurrent() {
    TextureModule* m = slot.Get();
    return m != nullptr ? m->currentDictionary : nullptr;
}

int32 TextureRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                            PluginCopy copy) {
    return RegistryRegister(&textureRegistry, size, pluginID, construct, destruct, copy);
}

int32 TextureRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                  PluginStreamSize getSize) {
    return RegistrySetStream(&textureRegistry, pluginID, read, write, getSize);
}

int32 TextureGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&textureRegistry, pluginID); }

PluginRegistry* TextureGetRegistry() { return &textureRegistry; }

int32 TexDictionaryRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                                  PluginCopy copy) {
    return RegistryRegister(&dictionaryRegistry, size, pluginID, construct, destruct, copy);
}

int32 TexDictionaryGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&dictionaryRegistry, pluginID); }

void* TextureModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    TextureModule* m = ModuleSlot<TextureModule>::At(instance, offset);
    *m = TextureModule{};
    LinkListInitialize(&m->dictionaries);
    m->textureFreeList = FreeListCreate(textureRegistry.sizeOfStruct, kTexturesPerBlock, alignof(Texture));
    m->dictionaryFreeList =
        FreeListCreate(dictionaryRegistry.sizeOfStruct, kDictionariesPerBlock, alignof(TexDictionary));
    LinkListInitialize(&m->looseTextures);
    if (m->textureFreeList == nullptr || m->dictionaryFreeList == nullptr) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        TextureModuleClose(instance, offset, 0);
        return nullptr;
    }
    m->readTexture = TextureDefaultRead;
    m->generateMipmaps = TextureDefaultGenerateMipmaps;
    m->mipmapName = TextureMipmapName;
    // The current instance may not be this one yet: the dictionary is made
    // by hand rather than through TexDictionaryCreate.
    auto* dictionary = static_cast<TexDictionary*>(KvFreeListAlloc(m->dictionaryFreeList));
    if (dictionary == nullptr) {
        TextureModuleClose(instance, offset, 0);
        return nullptr;
    }
    ObjectInitialize(&dictionary->object, kTexDictionaryType, 0);
    LinkListInitialize(&dictionary->textureList);
    LinkListAddLLLink(&m->dictionaries, &dictionary->dictionaryListLink);
    if (RegistryConstruct(&dictionaryRegistry, dictionary) == nullptr) {
        LLLinkRemove(&dictionary->dictionaryListLink);
        KvFreeListFree(m->dictionaryFreeList, dictionary);
        TextureModuleClose(instance, offset, 0);
        return nullptr;
    }
    m->currentDictionary = dictionary;
    slot.Opened(offset);
    return instance;
}

void* TextureModuleClose(void* instance, int32 offset, int32 /*size*/) {
    TextureModule* m = ModuleSlot<TextureModule>::At(instance, offset);
    if (m->textureFreeList != nullptr && m->dictionaryFreeList != nullptr) {
        // Outstanding references do not keep a texture: the module is going.
        while (!LinkListEmpty(&m->dictionaries)) {
            TexDictionary* d = FromDictionaryListLink(LinkListGetFirst(&m->dictionaries));
            while (!LinkListEmpty(&d->textureList)) {
                TextureFree(m, FromDictionaryLink(LinkListGetFirst(&d->textureList)));
            }
            DictionaryFree(m, d);
        }
        while (!LinkListEmpty(&m->looseTextures)) {
            TextureFree(m, FromDictionaryLink(LinkListGetFirst(&m->looseTextures)));
        }
    }
    KvFree(m->scratch);
    if (m->textureFreeList != nullptr) FreeListDestroy(m->textureFreeList);
    if (m->dictionaryFreeList != nullptr) FreeListDestroy(m->dictionaryFreeList);
    *m = TextureModule{};
    slot.Closed();
    return instance;
}

CoreModule TextureModuleEntry() {
    return {"texture", static_cast<int32>(sizeof(TextureModule)), kIdTextureModule, TextureModuleOpen,
            TextureModuleClose};
}

}  // namespace kv
