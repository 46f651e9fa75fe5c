// Image readers under test: an engine on the null device whose allocations and
// file handles are counted, so that every failure path can be checked to give
// back what it took; a scratch folder per test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/image/image.h"
#include "engine_fixture.h"

namespace kv::test {

struct Counted {
    static inline int64_t liveBlocks = 0;
    static inline std::size_t largest = 0;    // the largest single request
    static inline std::size_t requested = 0;  // every request added up
    static inline int64_t openFiles = 0;
    static inline void* (*realOpen)(const char*, const char*) = nullptr;
    static inline int (*realClose)(void*) = nullptr;

    static void* Malloc(std::size_t n) {
        largest = n > largest ? n : largest;
        requested += n;
        void* p = std::malloc(n > 0 ? n : 1);
        if (p != nullptr) ++liveBlocks;
        return p;
    }
    static void Free(void* p) {
        if (p != nullptr) --liveBlocks;
        std::free(p);
    }
    static void* Realloc(void* p, std::size_t n) {
        largest = n > largest ? n : largest;
        requested += n;
        void* q = std::realloc(p, n > 0 ? n : 1);
        if (p == nullptr && q != nullptr) ++liveBlocks;
        return q;
    }
    static void* Calloc(std::size_t count, std::size_t n) {
        largest = count * n > largest ? count * n : largest;
        requested += count * n;
        void* p = std::calloc(count > 0 ? count : 1, n > 0 ? n : 1);
        if (p != nullptr) ++liveBlocks;
        return p;
    }
    static void* Open(const char* name, const char* mode) {
        void* f = realOpen(name, mode);
        if (f != nullptr) ++openFiles;
        return f;
    }
    static int Close(void* f) {
        --openFiles;
        return realClose(f);
    }
};

class ReaderTest : public StartedEngine {
  protected:
    EngineSetup HowToStart() override {
        static const MemoryFunctions counting{Counted::Malloc, Counted::Free, Counted::Realloc, Counted::Calloc};
        // One allocation per free-list entry: every record taken shows in the count.
        return {.memory = &counting, .initFlags = kEngineInitPlainFreeLists};
    }
    void SetUp() override {
        StartedEngine::SetUp();
        if (HasFatalFailure()) return;
        FileFunctions& files = EngineInstanceGet()->fileFuncs;
        Counted::realOpen = files.kvfopen;
        Counted::realClose = files.kvfclose;
        files.kvfopen = Counted::Open;
        files.kvfclose = Counted::Close;
        Counted::openFiles = 0;
        ErrorClear();
        dir =
            std::filesystem::temp_directory_path() / ("kvread-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
        StartedEngine::TearDown();
    }

    std::string Write(const std::string& name, const std::vector<uint8>& bytes) {
        const std::filesystem::path p = dir / name;
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }

    // The error kept by the engine, as (module, code).
    static std::pair<int32, int32> LastError() {
        ErrorRecord e{};
        if (!ErrorGet(&e)) return {0, 0};
        return {e.pluginID, e.errorCode};
    }

    // Reads with the given reader and checks that a refusal gave back every
    // block and file it took; returns the image (or null) and leaves the
    // error in the record.
    template <typename Reader>
    Image* ReadChecked(Reader reader, const std::string& file) {
        ErrorClear();
        const int64_t before = Counted::liveBlocks;
        Image* image = reader(file.c_str());
        EXPECT_EQ(Counted::openFiles, 0) << file << ": the file was left open";
        if (image == nullptr) {
            EXPECT_EQ(Counted::liveBlocks, before) << file << ": memory kept after a refusal";
        }
        return image;
    }

    static RGBA Pixel(const Image* image, int32 x, int32 y) {
        const uint8* row = image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride;
        if (image->depth == 32) return reinterpret_cast<const RGBA*>(row)[x];
        return image->palette[row[x]];
    }
    static uint8 Index(const Image* image, int32 x, int32 y) {
        return image->pixels[static_cast<std::ptrdiff_t>(y) * image->stride + x];
    }

    std::filesystem::path dir;
};

}  // namespace kv::test

namespace kv {
inline std::ostream& operator<<(std::ostream& os, const RGBA& c) {
    return os << "(" << int(c.red) << ", " << int(c.green) << ", " << int(c.blue) << ", " << int(c.alpha) << ")";
}
}  // namespace kv
