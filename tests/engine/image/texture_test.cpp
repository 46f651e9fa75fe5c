// Textures on the raster test device: reading by name through dictionaries,
// reference counts, names, the loader's fitting of pictures to what the
// device asks for, level names, shared palettes, the module's close and the
// texture chunk.
#include "engine/image/texture.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/image/texture_stream.h"
#include "engine/stream/chunk.h"
#include "engine/stream/stream.h"
#include "raster_memory.h"
#include "tools/kvdump/chunk_walk.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

// Pictures the tests draw, read through an image format of their own. The
// engine calls a reader only for files that exist, so each picture also has
// an (empty) file on the search path.
struct Pictures {
    static inline std::map<std::string, std::function<Image*()>> byName;
    static inline std::vector<std::string> reads;
    static Image* Read(const char* fileName) {
        const std::string base = fs::path(fileName).filename().string();
        reads.push_back(base);
        auto it = byName.find(base);
        return it != byName.end() ? it->second() : nullptr;
    }
};

Image* NewImage(int32 w, int32 h, int32 depth) {
    Image* image = ImageCreate(w, h, depth);
    EXPECT_NE(image, nullptr);
    EXPECT_NE(ImageAllocatePixels(image), nullptr);
    return image;
}

Image* Solid(int32 w, int32 h, RGBA c) {
    Image* image = NewImage(w, h, 32);
    for (int32 y = 0; y < h; ++y) {
        for (int32 x = 0; x < w; ++x) std::memcpy(image->pixels + y * image->stride + 4 * x, &c, 4);
    }
    return image;
}

// Vertical bands of the palette's first `colours` entries, 8-bit.
Image* Bands(int32 w, int32 h, const std::vector<RGBA>& colours) {
    Image* image = NewImage(w, h, 8);
    std::memset(image->palette, 0, 256 * sizeof(RGBA));
    for (std::size_t i = 0; i < colours.size(); ++i) image->palette[i] = colours[i];
    const auto n = static_cast<int32>(colours.size());
    for (int32 y = 0; y < h; ++y) {
        for (int32 x = 0; x < w; ++x) image->pixels[y * image->stride + x] = static_cast<uint8>(x * n / w);
    }
    return image;
}

bool SameColour(RGBA a, RGBA b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }

bool HasError(int32 module, int32 code) {
    ErrorRecord e{};
    return ErrorGet(&e) && e.pluginID == module && e.errorCode == code;
}

class TextureTest : public RasterMemoryTest {
  protected:
    void SetUp() override {
        RasterMemoryTest::SetUp();
        Pictures::byName.clear();
        Pictures::reads.clear();
        char pattern[] = "/tmp/kvtexture.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_TRUE(ImageRegisterImageFormat("kvt", Pictures::Read, nullptr));
        ASSERT_NE(ImageSetPath((dir.string() + "/").c_str()), nullptr);
        ErrorClear();
    }
    void TearDown() override {
        RasterMemoryTest::TearDown();
        fs::remove_all(dir);
    }
    // A picture the loader finds under name (the file is name.kvt).
    void Picture(const std::string& name, std::function<Image*()> make) {
        Pictures::byName[name + ".kvt"] = std::move(make);
        std::FILE* f = std::fopen((dir / (name + ".kvt")).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    static RGBA StoredPixel(const Raster* r, int32 x, int32 y) {
        const std::vector<uint8>& px = *RasterMemory::PixelsOf(r);
        RGBA c;
        std::memcpy(&c, px.data() + y * r->stride + 4 * x, 4);
        return c;
    }

    fs::path dir;
};

TEST_F(TextureTest, ReadingANameTwiceSharesOneTextureWhateverTheCase) {
    Picture("ground", [] { return Solid(8, 4, RGBA{10, 200, 30, 255}); });
    Texture* t = TextureRead("ground", nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(TextureGetName(t), "ground");
    EXPECT_STREQ(TextureGetMaskName(t), "");
    EXPECT_EQ(TextureGetRefCount(t), 1);
    EXPECT_EQ(TextureGetFilterMode(t), 1);
    EXPECT_EQ(TextureGetAddressU(t), 1);
    EXPECT_EQ(TextureGetAddressV(t), 1);
    EXPECT_EQ(TextureGetDictionary(t), TexDictionaryGetCurrent());
    ASSERT_NE(TextureGetRaster(t), nullptr);
    EXPECT_EQ(RasterGetWidth(TextureGetRaster(t)), 8);
    EXPECT_TRUE(SameColour(StoredPixel(TextureGetRaster(t), 7, 3), RGBA{10, 200, 30, 255}));

    EXPECT_EQ(TextureRead("ground", nullptr), t);
    EXPECT_EQ(TextureGetRefCount(t), 2);
    EXPECT_EQ(TextureRead("Ground", nullptr), t);
    EXPECT_EQ(TextureRead("GROUND", nullptr), t);
    EXPECT_EQ(TextureGetRefCount(t), 4);
    EXPECT_EQ(Pictures::reads.size(), 1u);

    // Releases short of the last leave it alive, raster and all.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(TextureDestroy(t));
    EXPECT_EQ(TextureGetRefCount(t), 1);
    EXPECT_EQ(TestDevice::Count(StdRasterDestroy), 0);
    EXPECT_TRUE(TextureDestroy(t));
    EXPECT_EQ(TestDevice::Count(StdRasterDestroy), 1);
    // Gone from the dictionary: the next read loads it again (file names
    // keep their case on this system).
    EXPECT_EQ(TextureRead("GROUND", nullptr), nullptr);
    Texture* again = TextureRead("ground", nullptr);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Pictures::reads.size(), 2u);
    TextureDestroy(again);
}

TEST_F(TextureTest, NamesSharingTheirFirst31CharactersAreTwoTextures) {
    const std::string stem(31, 's');
    Picture(stem, [] { return Solid(4, 4, RGBA{1, 2, 3, 255}); });
    Picture(stem + "x", [] { return Solid(4, 4, RGBA{9, 9, 9, 255}); });
    Texture* t = TextureRead(stem.c_str(), nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(std::string(TextureGetName(t)), stem);
    // One character more is another name; it does not fit, so it is refused
    // before any file is read rather than taken for the first.
    EXPECT_EQ(TextureRead((stem + "x").c_str(), nullptr), nullptr);
    EXPECT_TRUE(HasError(kModuleNone, kErrNameTooLong));
    EXPECT_EQ(TextureGetRefCount(t), 1);
    EXPECT_EQ(TexDictionaryFindNamedTexture(TexDictionaryGetCurrent(), (stem + "X").c_str()), nullptr);
    ErrorClear();
    EXPECT_EQ(TextureRead(stem.c_str(), std::string(40, 'm').c_str()), nullptr);
    EXPECT_TRUE(HasError(kModuleNone, kErrNameTooLong));
    EXPECT_EQ(Pictures::reads.size(), 1u);

    // A shorter name that starts the same is another name too.
    Picture("ground", [] { return Solid(4, 4, RGBA{5, 5, 5, 255}); });
    Picture("groundmask", [] { return Solid(4, 4, RGBA{6, 6, 6, 255}); });
    Texture* g = TextureRead("groundmask", nullptr);
    Texture* h = TextureRead("ground", nullptr);
    ASSERT_TRUE(g && h);
    EXPECT_NE(g, h);
    EXPECT_EQ(Pictures::reads.size(), 3u);
    TextureDestroy(g);
    TextureDestroy(h);

    // 31 characters fit; a longer name set on a texture keeps its first 31,
    // with the error that says so, and a lookup by the whole name misses it.
    ErrorClear();
    EXPECT_EQ(TextureSetName(t, std::string(31, 'x').c_str()), t);
    EXPECT_EQ(std::string(TextureGetName(t)), std::string(31, 'x'));
    EXPECT_FALSE(HasError(kModuleNone, kErrNameTooLong));
    EXPECT_EQ(TextureSetMaskName(t, std::string(40, 'y').c_str()), t);
    EXPECT_EQ(std::string(TextureGetMaskName(t)), std::string(31, 'y'));
    EXPECT_TRUE(HasError(kModuleNone, kErrNameTooLong));
    ErrorClear();
    EXPECT_EQ(TextureSetName(t, (std::string(31, 'z') + "zz").c_str()), t);
    EXPECT_EQ(std::string(TextureGetName(t)), std::string(31, 'z'));
    EXPECT_TRUE(HasError(kModuleNone, kErrNameTooLong));
    EXPECT_EQ(TexDictionaryFindNamedTexture(TexDictionaryGetCurrent(), (std::string(31, 'z') + "zz").c_str()), nullptr);
    EXPECT_EQ(TexDictionaryFindNamedTexture(TexDictionaryGetCurrent(), std::string(31, 'z').c_str()), t);
    TextureDestroy(t);
}

TEST_F(TextureTest, ATextureThatCannotBeReadIsError22OfTheTextureModule) {
    EXPECT_EQ(TextureRead("nowhere", nullptr), nullptr);
    EXPECT_TRUE(HasError(kIdTextureModule, kErrTextureRead));
    // A file the reader cannot make sense of, and a device that refuses.
    Picture("broken", [] { return nullptr; });
    ErrorClear();
    EXPECT_EQ(TextureRead("broken", nullptr), nullptr);
    EXPECT_TRUE(HasError(kIdTextureModule, kErrTextureRead));
    Picture("refused", [] { return Solid(2, 2, RGBA{}); });
    TestDevice::failingSlots.insert(StdRasterSetImage);
    EXPECT_EQ(TextureRead("refused", nullptr), nullptr);
    // The raster made for it went again.
    EXPECT_EQ(TestDevice::Count(StdRasterCreate), TestDevice::Count(StdRasterDestroy));
    EXPECT_TRUE(LinkListEmpty(&TexDictionaryGetCurrent()->textureList));
}

TEST_F(TextureTest, TheMaskPicturesBrightnessBecomesTheAlpha) {
    Picture("flare", [] { return Solid(4, 2, RGBA{200, 100, 50, 255}); });
    Picture("flarem", [] {
        Image* m = Solid(4, 2, RGBA{0, 0, 0, 255});
        m->pixels[4 * 1] = 90;                   // (1, 0): red 90
        m->pixels[m->stride + 4 * 2 + 2] = 255;  // (2, 1): blue 255
        return m;
    });
    RasterMemory::chooseFormat = [](Raster* r, const Image*, int32 flags) {
        r->rasterFormat = static_cast<uint8>((RasterFormat8888 | (flags & kRasterFormatMask)) >> 8);
        r->depth = 32;
    };
    Texture* t = TextureRead("flare", "flarem");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(TextureGetMaskName(t), "flarem");
    const Raster* r = TextureGetRaster(t);
    EXPECT_EQ(StoredPixel(r, 0, 0).alpha, 0);
    EXPECT_EQ(StoredPixel(r, 1, 0).alpha, 90);
    EXPECT_EQ(StoredPixel(r, 2, 1).alpha, 255);
    EXPECT_EQ(StoredPixel(r, 2, 1).red, 200);
    // A missing mask fails the read.
    EXPECT_EQ(TextureRead("flare2", "flarem"), nullptr);
    Picture("flare3", [] { return Solid(4, 2, RGBA{1, 1, 1, 255}); });
    EXPECT_EQ(TextureRead("flare3", "nomask"), nullptr);
    TextureDestroy(t);
}

TEST_F(TextureTest, An8BitPictureIsResampledToTheDeviceSizeAndGetsAPaletteAgain) {
    const std::vector<RGBA> colours{{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
    Picture("bands", [&] { return Bands(100, 60, colours); });
    RasterMemory::chooseFormat = [](Raster* r, const Image*, int32) {
        r->width = 128;
        r->height = 64;
    };
    Texture* t = TextureRead("bands", nullptr);
    ASSERT_NE(t, nullptr);
    const Raster* r = TextureGetRaster(t);
    EXPECT_EQ(RasterGetWidth(r), 128);
    EXPECT_EQ(RasterGetHeight(r), 64);
    ASSERT_EQ(RasterMemory::givenImages.size(), 1u);
    const RasterMemory::GivenImage& given = RasterMemory::givenImages[0];
    EXPECT_EQ(given.width, 128);
    EXPECT_EQ(given.height, 64);
    EXPECT_EQ(given.depth, 8);
    ASSERT_EQ(given.palette.size(), 256u);
    EXPECT_NE(given.flags & kImageGammaCorrected, 0);
    // The middle of each band keeps its colour; the box filter blends the
    // borders, and the palette has room for what it made.
    for (int32 band = 0; band < 3; ++band) {
        const int32 x = band * 128 / 3 + 21;
        EXPECT_TRUE(SameColour(StoredPixel(r, x, 30), colours[band])) << band;
    }
    const RGBA border = StoredPixel(r, 43, 10);  // source 33.6 to 34.4: red and green meet
    EXPECT_GT(border.red, 0);
    EXPECT_GT(border.green, 0);
    TextureDestroy(t);
}

TEST_F(TextureTest, APictureOfTheDeviceSizeGoesInAsItIs) {
    Picture("exact", [] { return Bands(16, 8, {{9, 8, 7, 255}, {6, 5, 4, 255}}); });
    RasterMemory::chooseFormat = [](Raster* r, const Image*, int32) {
        r->width = 16;
        r->height = 8;
    };
    Texture* t = TextureRead("exact", nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(RasterMemory::givenImages.size(), 1u);
    // Same size: no resampling, the file's own palette.
    EXPECT_EQ(RasterMemory::givenImages[0].depth, 8);
    EXPECT_TRUE(SameColour(RasterMemory::givenImages[0].palette[1], RGBA{6, 5, 4, 255}));
    EXPECT_TRUE(SameColour(StoredPixel(TextureGetRaster(t), 15, 7), RGBA{6, 5, 4, 255}));
    TextureDestroy(t);
}

TEST_F(TextureTest, MipLevelNamesEndInMAndTheLevelsHexDigit) {
    char name[kTextureNameBufferSize] = "flare";
    char mask[kTextureNameBufferSize] = "flarem";
    EXPECT_TRUE(TextureMipmapName(name, mask, 10, RasterTypeTexture));
    EXPECT_STREQ(name, "flarema");
    EXPECT_STREQ(mask, "flaremma");
    for (uint8 level : {0, 16, 255}) {
        EXPECT_TRUE(TextureMipmapName(name, mask, level, RasterTypeTexture));
        EXPECT_STREQ(name, "flarema");
    }
    char noMask[kTextureNameBufferSize] = "";
    char plain[kTextureNameBufferSize] = "ground";
    EXPECT_TRUE(TextureMipmapName(plain, noMask, 1, RasterTypeTexture));
    EXPECT_STREQ(plain, "groundm1");
    EXPECT_STREQ(noMask, "");
    // A name that fills its buffer is left alone rather than overrun.
    std::string full(kTextureNameBufferSize - 2, 'n');
    char longName[kTextureNameBufferSize];
    std::memcpy(longName, full.c_str(), full.size() + 1);
    EXPECT_FALSE(TextureMipmapName(longName, noMask, 15, RasterTypeTexture));
    EXPECT_EQ(std::string(longName), full);
    EXPECT_EQ(TextureGetMipmapNameCallBack(), TextureMipmapName);
}

TEST_F(TextureTest, LookupsStayInTheCurrentDictionaryOrSearchThemAll) {
    Picture("sky", [] { return Solid(2, 2, RGBA{0, 0, 255, 255}); });
    TexDictionary* first = TexDictionaryGetCurrent();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->object.type, kTexDictionaryType);
    Texture* inFirst = TextureRead("sky", nullptr);
    ASSERT_NE(inFirst, nullptr);

    TexDictionary* second = TexDictionaryCreate();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(TexDictionarySetCurrent(second), second);
    // Not in the current dictionary: loaded again, into it.
    Texture* inSecond = TextureRead("sky", nullptr);
    ASSERT_NE(inSecond, nullptr);
    EXPECT_NE(inSecond, inFirst);
    EXPECT_EQ(TextureGetDictionary(inSecond), second);
    EXPECT_EQ(TexDictionaryFindNamedTexture(second, "sky"), inSecond);

    // No current dictionary: every dictionary is searched, newest first, and
    // nothing new is added anywhere.
    TexDictionarySetCurrent(nullptr);
    EXPECT_EQ(TextureRead("sky", nullptr), inSecond);
    Picture("cloud", [] { return Solid(2, 2, RGBA{255, 255, 255, 255}); });
    Texture* loose = TextureRead("cloud", nullptr);
    ASSERT_NE(loose, nullptr);
    EXPECT_EQ(TextureGetDictionary(loose), nullptr);

    // Moving a texture between dictionaries, and out.
    EXPECT_EQ(TexDictionaryAddTexture(first, loose), loose);
    EXPECT_EQ(TexDictionaryFindNamedTexture(first, "CLOUD"), loose);
    EXPECT_EQ(TexDictionaryRemoveTexture(loose), loose);
    EXPECT_EQ(TexDictionaryFindNamedTexture(first, "cloud"), nullptr);
    TextureDestroy(loose);

    // Destroying a dictionary releases its textures once; the one still held
    // lives on outside any dictionary.
    EXPECT_EQ(TextureGetRefCount(inSecond), 2);
    const int32 destroyed = TestDevice::Count(StdRasterDestroy);
    EXPECT_TRUE(TexDictionaryDestroy(second));
    EXPECT_EQ(TextureGetRefCount(inSecond), 1);
    EXPECT_EQ(TextureGetDictionary(inSecond), nullptr);
    EXPECT_EQ(TestDevice::Count(StdRasterDestroy), destroyed);
    TextureDestroy(inSecond);
    TextureDestroy(inFirst);
    EXPECT_EQ(TestDevice::Count(StdRasterDestroy), destroyed + 2);
    EXPECT_EQ(TexDictionaryGetCurrent(), nullptr);
}

TEST_F(TextureTest, ClosingTheModuleDestroysEveryTextureHowEverHeld) {
    Picture("a", [] { return Solid(2, 2, RGBA{}); });
    Picture("b", [] { return Solid(2, 2, RGBA{}); });
    Texture* a = TextureRead("a", nullptr);
    TextureAddRef(a);
    TextureAddRef(a);
    TexDictionarySetCurrent(nullptr);
    Texture* b = TextureRead("b", nullptr);  // in no dictionary
    Texture* made = TextureCreate(RasterCreate(4, 4, 0, RasterTypeTexture));
    ASSERT_TRUE(a && b && made);
    TextureAddRef(made);
    EngineStop();
    // Every raster went with its texture; the leak checkers see the rest.
    EXPECT_EQ(TestDevice::Count(StdRasterDestroy), 3);
}

TEST_F(TextureTest, SharedPalettesAreKeptAndOthersAreQuantisedWithWeights) {
    RGBA palette[256];
    Image* level0 = Bands(8, 8, {{200, 0, 0, 255}, {0, 0, 200, 255}});
    Image* level1 = Bands(4, 4, {{200, 0, 0, 255}, {0, 0, 200, 255}});
    Image* images[2] = {level0, level1};
    ASSERT_TRUE(ImageListMakePalette(palette, nullptr, images, 2, 8));
    // One palette for both, the images untouched but for where it lives.
    EXPECT_EQ(images[0], level0);
    EXPECT_EQ(images[1]->palette, palette);
    EXPECT_EQ(images[0]->palette, palette);
    EXPECT_TRUE(SameColour(palette[1], RGBA{0, 0, 200, 255}));

    // Different palettes: one palette is made for the colours of both.
    Image* green = Solid(4, 4, RGBA{0, 180, 0, 255});
    Image* list[2] = {Bands(8, 8, {{200, 0, 0, 255}, {0, 0, 200, 255}}), green};
    Image* keep = list[0];
    ASSERT_TRUE(ImageListMakePalette(palette, green, list, 2, 4));
    EXPECT_NE(list[0], keep);   // destroyed and replaced
    EXPECT_NE(list[1], green);  // replaced, but kept for the caller
    for (Image* i : list) {
        EXPECT_EQ(i->depth, 4);
        EXPECT_EQ(i->palette, palette);
    }
    EXPECT_TRUE(SameColour(palette[list[0]->pixels[0]], RGBA{200, 0, 0, 255}));
    EXPECT_TRUE(SameColour(palette[list[0]->pixels[7]], RGBA{0, 0, 200, 255}));
    EXPECT_TRUE(SameColour(palette[list[1]->pixels[0]], RGBA{0, 180, 0, 255}));
    for (Image* i : {level0, level1, list[0], list[1], green}) ImageDestroy(i);

    // Each level weighs four times the one before it: two levels of one
    // bucket, 64 pixels of red 200 and 16 of red 207, meet half way.
    Image* levels[2] = {Solid(8, 8, RGBA{200, 0, 0, 255}), Solid(4, 4, RGBA{207, 0, 0, 255})};
    ASSERT_TRUE(ImageListMakePalette(palette, nullptr, levels, 2, 8));
    // (64 · 200 + 4 · 16 · 207) / 128 = 203.5, as an entry 203.5 / 255 · 256, cut.
    EXPECT_EQ(palette[levels[0]->pixels[0]], (RGBA{204, 0, 0, 255}));
    for (Image* i : levels) ImageDestroy(i);

    EXPECT_FALSE(ImageListMakePalette(palette, nullptr, images, 0, 8));
    Image* one[1] = {Solid(2, 2, RGBA{})};
    EXPECT_FALSE(ImageListMakePalette(palette, nullptr, one, 1, 32));
    ImageDestroy(one[0]);
}

// --- The texture chunk ------------------------------------------------------

std::vector<uint8> Written(const Texture* t) {
    Stream* s = StreamOpen(StreamTypeMemory, StreamAccessWrite, nullptr);
    EXPECT_NE(s, nullptr);
    EXPECT_EQ(TextureStreamWrite(t, s), t);
    StreamMemory out{};
    EXPECT_TRUE(StreamClose(s, &out));
    std::vector<uint8> bytes(out.buffer, out.buffer + out.length);
    KvFree(out.buffer);
    return bytes;
}

int32 extensionBytes = 0;

class TextureChunkTest : public TextureTest {
  protected:
    void BeforeOpen() override {
        const int32 offset = TextureRegisterPlugin(4, 0x1234, nullptr, nullptr, nullptr);
        ASSERT_GE(offset, 0);
        TextureRegisterPluginStream(
            0x1234, nullptr,
            [](Stream* s, int32 length, const void*, int32, int32) {
                const std::vector<uint8> zeros(static_cast<std::size_t>(length), 0xAB);
                return StreamWrite(s, zeros.data(), static_cast<uint32>(length));
            },
            [](const void*, int32, int32) { return extensionBytes; });
    }
};

TEST_F(TextureChunkTest, ItsLengthFollowsTheNamesAndTheExtension) {
    Texture* t = TextureCreate(nullptr);
    ASSERT_NE(t, nullptr);
    for (int32 nameLength = 0; nameLength <= 9; ++nameLength) {
        for (int32 maskLength : {0, 3, 4, 31}) {
            for (int32 extension : {0, 5}) {
                extensionBytes = extension;
                TextureSetName(t, std::string(static_cast<std::size_t>(nameLength), 'n').c_str());
                TextureSetMaskName(t, std::string(static_cast<std::size_t>(maskLength), 'm').c_str());
                const uint32 want =
                    56 + (nameLength & ~3) + ((maskLength + 4) & ~3) + (extension > 0 ? 12 + extension : 0);
                EXPECT_EQ(TextureStreamGetSize(t), want) << nameLength << " " << maskLength;
                const std::vector<uint8> bytes = Written(t);
                ASSERT_EQ(bytes.size(), 12 + want);
                const dump::ChunkTree tree = dump::ChunkWalk(bytes);
                ASSERT_TRUE(tree.Ok()) << tree.problems[0].message;
                EXPECT_EQ(tree.nodes[0].type, ChunkTexture);
            }
        }
    }
    TextureDestroy(t);
}

TEST_F(TextureChunkTest, ItsStructWordHoldsFilterAddressesAndWhoBuildsTheLevels) {
    extensionBytes = 0;
    Raster* own = RasterCreate(4, 4, 0, RasterTypeTexture | RasterFormatMipmap);
    Raster* automatic = RasterCreate(4, 4, 0, RasterTypeTexture | RasterFormatMipmap | RasterFormatAutoMipmap);
    Texture* t = TextureCreate(own);
    Texture* u = TextureCreate(automatic);
    Texture* none = TextureCreate(nullptr);
    ASSERT_TRUE(t && u && none);
    TextureSetName(t, "ground");
    TextureSetFilterMode(t, 6);
    TextureSetAddressU(t, 3);
    TextureSetAddressV(t, 3);
    EXPECT_EQ(TextureStructWord(t), 0x10000u | 0x3000u | 0x300u | 6u);
    EXPECT_EQ(TextureStructWord(u), 0x1000u | 0x100u | 1u);
    EXPECT_EQ(TextureStructWord(none), 0x1000u | 0x100u | 1u);

    const std::vector<uint8> bytes = Written(t);
    const dump::ChunkTree tree = dump::ChunkWalk(bytes);
    ASSERT_TRUE(tree.Ok());
    const std::vector<int> parts = tree.Children(0);
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(tree.nodes[parts[0]].type, ChunkStruct);
    uint32 word = 0;
    std::memcpy(&word, bytes.data() + tree.nodes[parts[0]].BodyOffset(), 4);
    EXPECT_EQ(word, TextureStructWord(t));
    EXPECT_EQ(tree.nodes[parts[1]].text, "ground");
    EXPECT_EQ(tree.nodes[parts[2]].text, "");
    EXPECT_EQ(tree.nodes[parts[3]].type, ChunkExtension);
    EXPECT_EQ(tree.nodes[parts[3]].length, 0u);
    for (Texture* x : {t, u, none}) TextureDestroy(x);
}

}  // namespace
}  // namespace kv::test
