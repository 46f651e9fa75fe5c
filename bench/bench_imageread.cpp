// The image readers and the palette quantiser. The PNG reader runs next to a
// bare libpng read of the same file with the same transformations (the goal:
// at most 15% over it); the BMP reader reports bytes of pixel data per
// second; the quantiser reports its time and the mean squared error of the
// mapped picture per channel.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/image/bmp_read.h"
#include "engine/image/image.h"
#include "engine/image/png_read.h"
#include "engine/image/png_write.h"
#include "engine/image/quantiser.h"

namespace {

using namespace kv;

// Something like a photograph: a graded sky, soft shapes, fine noise.
RGBA PhotoPixel(int32 x, int32 y, int32 size) {
    const float u = static_cast<float>(x) / static_cast<float>(size);
    const float v = static_cast<float>(y) / static_cast<float>(size);
    uint32 h = static_cast<uint32>(x) * 374761393u + static_cast<uint32>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    const float noise = static_cast<float>((h >> 16) & 0xFF) / 255.0f - 0.5f;
    const float hill = 0.5f + 0.5f * std::sin(u * 9.0f + std::cos(v * 5.0f) * 2.0f);
    const float blob = std::exp(-((u - 0.6f) * (u - 0.6f) + (v - 0.4f) * (v - 0.4f)) * 18.0f);
    auto byte = [](float f) { return static_cast<uint8>(f < 0.0f ? 0 : (f > 1.0f ? 255 : f * 255.0f)); };
    return RGBA{byte(0.25f + 0.5f * v * hill + 0.6f * blob + 0.04f * noise),
                byte(0.45f + 0.3f * hill * (1.0f - v) + 0.3f * blob + 0.04f * noise),
                byte(0.85f - 0.6f * v + 0.1f * hill + 0.04f * noise), 255};
}

Image* PhotoImage(int32 size) {
    Image* image = ImageCreate(size, size, 32);
    if (image == nullptr || ImageAllocatePixels(image) == nullptr) std::abort();
    for (int32 y = 0; y < size; ++y) {
        auto* row = reinterpret_cast<RGBA*>(image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride);
        for (int32 x = 0; x < size; ++x) row[x] = PhotoPixel(x, y, size);
    }
    return image;
}

// An 8-bit palette PNG: 256 colours along the photograph's tones.
void WritePalettePng(const std::string& file, int32 size) {
    FILE* f = std::fopen(file.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (f == nullptr || png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) std::abort();
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(size), static_cast<png_uint_32>(size), 8, PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color palette[256];
    for (int32 i = 0; i < 256; ++i) {
        const RGBA c = PhotoPixel(i * 7 % size, i * 4 % size, size);
        palette[i] = png_color{c.red, c.green, c.blue};
    }
    png_set_PLTE(png, info, palette, 256);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<std::size_t>(size));
    for (int32 y = 0; y < size; ++y) {
        for (int32 x = 0; x < size; ++x) {
            const RGBA c = PhotoPixel(x, y, size);
            row[static_cast<std::size_t>(x)] = static_cast<png_byte>((c.red + c.green * 3 + c.blue) / 5);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

void WriteBmp24(const std::string& file, int32 size) {
    const int32 rowBytes = (size * 3 + 3) & ~3;
    std::vector<uint8> out;
    auto put32 = [&out](uint32 v) {
        for (int32 i = 0; i < 4; ++i) out.push_back(static_cast<uint8>(v >> (8 * i)));
    };
    out.push_back('B');
    out.push_back('M');
    put32(54 + static_cast<uint32>(rowBytes * size));
    put32(0);
    put32(54);
    put32(40);
    put32(static_cast<uint32>(size));
    put32(static_cast<uint32>(size));
    put32(1 | 24 << 16);
    for (int32 i = 0; i < 6; ++i) put32(0);
    for (int32 y = size - 1; y >= 0; --y) {
        for (int32 x = 0; x < size; ++x) {
            const RGBA c = PhotoPixel(x, y, size);
            out.insert(out.end(), {c.blue, c.green, c.red});
        }
        out.resize(out.size() + static_cast<std::size_t>(rowBytes - size * 3), 0);
    }
    FILE* f = std::fopen(file.c_str(), "wb");
    if (f == nullptr || std::fwrite(out.data(), 1, out.size(), f) != out.size()) std::abort();
    std::fclose(f);
}

// An engine on the null device and the files, made once for the whole run.
struct Files {
    std::string dir;
    std::string rgba2048, palette1024, bmp2048;
    Files() {
        static int display = 0;
        EngineSetDevice(nullptr);
        EngineUseStandardModules();
        EngineOpenParams params{&display};
        if (!EngineInit(nullptr, 0) || !EngineOpen(&params) || !EngineStart()) std::abort();
        char pattern[] = "/tmp/kvbench-imageXXXXXX";
        if (mkdtemp(pattern) == nullptr) std::abort();
        dir = pattern;
        rgba2048 = dir + "/rgba2048.png";
        palette1024 = dir + "/palette1024.png";
        bmp2048 = dir + "/rgb2048.bmp";
        Image* photo = PhotoImage(2048);
        if (!ImageWritePNG(photo, rgba2048.c_str(), true)) std::abort();
        ImageDestroy(photo);
        WritePalettePng(palette1024, 1024);
        WriteBmp24(bmp2048, 2048);
    }
    ~Files() {
        std::remove(rgba2048.c_str());
        std::remove(palette1024.c_str());
        std::remove(bmp2048.c_str());
        rmdir(dir.c_str());
    }
};

Files& TheFiles() {
    static Files files;
    return files;
}

void ReadWithEngine(benchmark::State& state, const std::string& file) {
    for (auto _ : state) {
        Image* image = PngImageRead(file.c_str());
        if (image == nullptr) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(image->pixels);
        ImageDestroy(image);
    }
}

// libpng alone: the same transformations into one malloc'd buffer.
void ReadWithLibpng(benchmark::State& state, const std::string& file) {
    for (auto _ : state) {
        FILE* f = std::fopen(file.c_str(), "rb");
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) std::abort();
        png_init_io(png, f);
        png_read_info(png, info);
        png_set_strip_16(png);
        if (png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const png_uint_32 height = png_get_image_height(png, info);
        const std::size_t rowBytes = png_get_rowbytes(png, info);
        auto* pixels = static_cast<png_bytep>(std::malloc(rowBytes * height));
        auto* rows = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * height));
        for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels + y * rowBytes;
        png_read_image(png, rows);
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        benchmark::DoNotOptimize(pixels);
        std::free(rows);
        std::free(pixels);
    }
}

void BM_PngRgba2048_Reader(benchmark::State& state) { ReadWithEngine(state, TheFiles().rgba2048); }
void BM_PngRgba2048_BareLibpng(benchmark::State& state) { ReadWithLibpng(state, TheFiles().rgba2048); }
void BM_PngPalette1024_Reader(benchmark::State& state) { ReadWithEngine(state, TheFiles().palette1024); }
void BM_PngPalette1024_BareLibpng(benchmark::State& state) { ReadWithLibpng(state, TheFiles().palette1024); }
// Alternated, so that both of a pair see the same state of the machine.
BENCHMARK(BM_PngRgba2048_Reader)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_PngRgba2048_BareLibpng)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_PngPalette1024_Reader)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_PngPalette1024_BareLibpng)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

void BM_Bmp24_2048(benchmark::State& state) {
    const std::string& file = TheFiles().bmp2048;
    for (auto _ : state) {
        Image* image = BmpImageRead(file.c_str());
        if (image == nullptr) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(image->pixels);
        ImageDestroy(image);
    }
    state.SetBytesProcessed(state.iterations() * 2048 * 2048 * 3);
}
BENCHMARK(BM_Bmp24_2048)->Unit(benchmark::kMillisecond);

// The BMP reader's floor: the same file's bytes read into memory.
void BM_Bmp24_2048_FileBytes(benchmark::State& state) {
    const std::string& file = TheFiles().bmp2048;
    std::vector<char> buffer(2048 * 2048 * 3 + 4096);
    for (auto _ : state) {
        FILE* f = std::fopen(file.c_str(), "rb");
        if (f == nullptr) {
            state.SkipWithError("open failed");
            break;
        }
        benchmark::DoNotOptimize(std::fread(buffer.data(), 1, buffer.size(), f));
        std::fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * 2048 * 2048 * 3);
}
BENCHMARK(BM_Bmp24_2048_FileBytes)->Unit(benchmark::kMillisecond);

// 512 x 512 to 256 colours: build the tree, make the palette, map the image.
void BM_Quantise512To256(benchmark::State& state) {
    TheFiles();
    Image* photo = PhotoImage(512);
    std::vector<uint8> indices(512 * 512);
    RGBA palette[256];
    for (auto _ : state) {
        Quantiser q{};
        if (!QuantiserCreate(&q) || !QuantiserAddImage(&q, photo, 1.0f) ||
            QuantiserMakePalette(palette, 256, &q) == 0 || !QuantiserMapImage(indices.data(), 512, 8, 0, &q, photo)) {
            state.SkipWithError("quantiser failed");
            break;
        }
        QuantiserDestroy(&q);
    }
    double error = 0.0;
    for (int32 y = 0; y < 512; ++y) {
        const auto* row = reinterpret_cast<const RGBA*>(photo->pixels + static_cast<std::ptrdiff_t>(y) * photo->stride);
        for (int32 x = 0; x < 512; ++x) {
            const RGBA& a = row[x];
            const RGBA& b = palette[indices[static_cast<std::size_t>(y) * 512 + x]];
            const int32 d[3] = {a.red - b.red, a.green - b.green, a.blue - b.blue};
            for (int32 v : d) error += v * v;
        }
    }
    // Red, green and blue; alpha is 255 throughout and maps exactly.
    state.counters["mse_per_channel"] = error / (512.0 * 512.0 * 3.0);
    ImageDestroy(photo);
}
BENCHMARK(BM_Quantise512To256)->Unit(benchmark::kMillisecond);

// The quantiser's floor: one pass over the same pixels counting them in a
// histogram of 5 bits a channel, the least look at the picture any palette
// needs.
void BM_Histogram512(benchmark::State& state) {
    TheFiles();
    Image* photo = PhotoImage(512);
    std::vector<uint32> bins(1 << 15);
    for (auto _ : state) {
        std::fill(bins.begin(), bins.end(), 0u);
        for (int32 y = 0; y < 512; ++y) {
            const auto* row =
                reinterpret_cast<const RGBA*>(photo->pixels + static_cast<std::ptrdiff_t>(y) * photo->stride);
            for (int32 x = 0; x < 512; ++x)
                ++bins[(row[x].red >> 3) << 10 | (row[x].green >> 3) << 5 | row[x].blue >> 3];
        }
        benchmark::DoNotOptimize(bins.data());
    }
    ImageDestroy(photo);
}
BENCHMARK(BM_Histogram512)->Unit(benchmark::kMillisecond);

}  // namespace
