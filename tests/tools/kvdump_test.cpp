#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/memory.h"
#include "engine/stream/chunk.h"
#include "engine_fixture.h"
#include "run_command.h"
#include "tools/kvdump/chunk_walk.h"

namespace kv {
namespace {

using dump::ChunkTree;
using dump::ChunkWalk;
using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutF(Bytes& b, float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    Put32(b, u);
}
Bytes Chunk(uint32_t type, const Bytes& body, uint32_t version = 0x310) {
    Bytes b;
    Put32(b, type);
    Put32(b, static_cast<uint32_t>(body.size()));
    Put32(b, version);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}
Bytes Words(std::initializer_list<uint32_t> words) {
    Bytes b;
    for (uint32_t w : words) Put32(b, w);
    return b;
}

std::string Print(const ChunkTree& tree) {
    std::ostringstream out;
    dump::ChunkTreePrint(out, tree);
    return out.str();
}
std::string Problems(const ChunkTree& tree) {
    std::ostringstream out;
    dump::ChunkProblemsPrint(out, tree, "f");
    return out.str();
}

// A clump written with the engine's own stream code: headers, strings and a
// plugin's extension data.
struct Note {
    int32 id;
};
PluginRegistry noteRegistry = PluginRegistryMake(sizeof(Note));

class WrittenByTheEngine : public test::StartedEngine {
  protected:
    test::EngineSetup HowToStart() override {
        return {.plugins = [] {
            if (RegistryRegister(&noteRegistry, 4, 0x0123, nullptr, nullptr, nullptr) < 0) return false;
            RegistrySetStream(
                &noteRegistry, 0x0123, nullptr,
                [](Stream* s, int32 length, const void*, int32, int32) -> Stream* {
                    static const uint8 data[6] = {'p', 'l', 'u', 'g', 'i', 'n'};
                    return StreamWrite(s, data, static_cast<uint32>(length));
                },
                [](const void*, int32, int32) { return 6; });
            return true;
        }};
    }

    static Bytes Write() {
        Note note{7};
        const uint32 ext = 12 + static_cast<uint32>(RegistryStreamSize(&noteRegistry, &note));
        const uint32 tex = 12 + 4 + 12 + StringStreamGetSize("sky") + 12 + StringStreamGetSize(nullptr) + ext;
        const uint32 mat = 12 + 28 + 12 + tex + ext;
        Stream* s = StreamOpen(StreamTypeMemory, StreamAccessWrite, nullptr);
        const int32 slots[3] = {1, -1, 0};
        const real coefficients[3] = {1.0f, 0.5f, 0.25f};
        const int32 materialHead[4] = {0, static_cast<int32>(0xFF8040C0u), 0, 1};
        const uint32 textureWord = 0x0102;
        bool ok = ChunkHeaderWrite(s, ChunkMaterialList, 12 + 8 + 12 + mat, kLibraryVersionStamp) &&
                  ChunkHeaderWrite(s, ChunkStruct, 8, kLibraryVersionStamp) && StreamWriteInt32(s, slots, 8) &&
                  ChunkHeaderWrite(s, ChunkMaterial, mat, kLibraryVersionStamp) &&
                  ChunkHeaderWrite(s, ChunkStruct, 28, kLibraryVersionStamp) && StreamWriteInt32(s, materialHead, 16) &&
                  StreamWriteReal(s, coefficients, 12) &&
                  ChunkHeaderWrite(s, ChunkTexture, tex, kLibraryVersionStamp) &&
                  ChunkHeaderWrite(s, ChunkStruct, 4, kLibraryVersionStamp) && StreamWriteInt32(s, &textureWord, 4) &&
                  StringStreamWrite("sky", s) && StringStreamWrite(nullptr, s) &&
                  RegistryStreamWrite(&noteRegistry, s, &note) && RegistryStreamWrite(&noteRegistry, s, &note);
        EXPECT_TRUE(ok);
        StreamMemory out{};
        EXPECT_TRUE(StreamClose(s, &out));
        Bytes bytes(out.buffer, out.buffer + out.length);
        KvFree(out.buffer);
        return bytes;
    }
};

TEST_F(WrittenByTheEngine, WalkerFindsTheNestingTheWriterMeant) {
    const Bytes file = Write();
    const ChunkTree tree = ChunkWalk(file);
    ASSERT_TRUE(tree.Ok()) << Problems(tree);
    ASSERT_EQ(tree.nodes.size(), 12u);
    const int list = tree.FindChild(-1, ChunkMaterialList);
    ASSERT_EQ(list, 0);
    const int material = tree.FindChild(list, ChunkMaterial);
    const int texture = tree.FindChild(material, ChunkTexture);
    ASSERT_GE(texture, 0);
    const int name = tree.FindChild(texture, ChunkString);
    const int mask = tree.FindChild(texture, ChunkString, 1);
    EXPECT_EQ(tree.nodes[name].text, "sky");
    EXPECT_EQ(tree.nodes[mask].text, "");
    EXPECT_EQ(tree.nodes[name].depth, 3);
    const int ext = tree.FindChild(material, ChunkExtension);
    ASSERT_GE(ext, 0);
    const std::vector<int> plugins = tree.Children(ext);
    ASSERT_EQ(plugins.size(), 1u);
    EXPECT_TRUE(tree.nodes[plugins[0]].plugin);
    EXPECT_EQ(tree.nodes[plugins[0]].type, 0x0123u);
    EXPECT_EQ(tree.nodes[plugins[0]].length, 6u);
    EXPECT_EQ(tree.nodes.back().End(), file.size());
}

TEST_F(WrittenByTheEngine, PrinterShowsTypesNamesStringsAndSummaries) {
    const std::string text = Print(ChunkWalk(Write()));
    EXPECT_NE(text.find("00000000  MaterialList (8)  length "), std::string::npos) << text;
    EXPECT_NE(text.find("Struct (1)  length 8  version 0x310: slots 1"), std::string::npos) << text;
    EXPECT_NE(text.find("slot 0: new material"), std::string::npos) << text;
    EXPECT_NE(text.find("colour (192, 64, 128, 255), textured, ambient 1, specular 0.5, diffuse 0.25"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("filter 2, address u 1"), std::string::npos) << text;
    EXPECT_NE(text.find("String (2)  length 4  version 0x310: \"sky\""), std::string::npos) << text;
    EXPECT_NE(text.find("plugin 0x123  length 6"), std::string::npos) << text;
}

// A clump of two frames and one geometry (a triangle over three prelit
// vertices with normals, one material slot), with the atomics and the mesh
// asked for.
struct ClumpSpec {
    std::vector<std::pair<uint32_t, uint32_t>> atomics = {};  // frame, geometry
    uint32_t meshSlot = 0;
    std::vector<uint32_t> indices = {0, 1, 2};
};

Bytes SmallClump(const ClumpSpec& spec = {}) {
    Bytes frames = Words({2});
    for (int f = 0; f < 2; ++f) {
        for (int i = 0; i < 9; ++i) PutF(frames, i % 4 == 0 ? 1.0f : 0.0f);
        PutF(frames, 0.0f);
        PutF(frames, f == 0 ? 0.0f : 2.5f);
        PutF(frames, 0.0f);
        Put32(frames, f == 0 ? 0xFFFFFFFFu : 0u);
        Put32(frames, f == 0 ? 0x20003u : 3u);
    }
    const Bytes frameList = Chunk(14, Cat({Chunk(1, frames), Chunk(3, {}), Chunk(3, {})}));
    Bytes geo = Words({0x18, 1, 3, 1});
    for (int i = 0; i < 3; ++i) PutF(geo, 1.0f);
    for (int i = 0; i < 3; ++i) Put32(geo, 0xFF0000FFu);
    Put32(geo, 1);
    Put32(geo, 2u << 16);
    for (float f : {0.0f, 0.0f, 0.0f, 1.0f}) PutF(geo, f);
    Put32(geo, 1);
    Put32(geo, 1);
    for (int i = 0; i < 18; ++i) PutF(geo, 0.0f);
    Bytes meshBody = Words(
        {0, 1, static_cast<uint32_t>(spec.indices.size()), static_cast<uint32_t>(spec.indices.size()), spec.meshSlot});
    for (uint32_t i : spec.indices) Put32(meshBody, i);
    const Bytes mesh = Chunk(0x50E, meshBody);
    const Bytes material = Chunk(7, Cat({Chunk(1, Cat({Words({0, 0xFFFFFFFFu, 0, 0}), Bytes(12, 0)})), Chunk(3, {})}));
    const Bytes materials = Chunk(8, Cat({Chunk(1, Words({1, 0xFFFFFFFFu})), material}));
    const Bytes geometry = Chunk(15, Cat({Chunk(1, geo), materials, Chunk(3, mesh)}));
    Bytes atomics;
    for (const auto& [frame, geometryIndex] : spec.atomics) {
        atomics = Cat({atomics, Chunk(20, Cat({Chunk(1, Words({frame, geometryIndex, 5, 0})), Chunk(3, {})}))});
    }
    return Chunk(16, Cat({Chunk(1, Words({static_cast<uint32_t>(spec.atomics.size())})), frameList,
                          Chunk(26, Cat({Chunk(1, Words({1})), geometry})), atomics, Chunk(3, {})}));
}

TEST(ChunkWalker, SummarisesFrameListsGeometriesAndMeshes) {
    const Bytes file = SmallClump();
    const ChunkTree tree = ChunkWalk(file);
    ASSERT_TRUE(tree.Ok()) << Problems(tree);
    const std::string text = Print(tree);
    EXPECT_NE(text.find("frames 2"), std::string::npos) << text;
    EXPECT_NE(text.find("frame 0: parent -1, flags 0x00020003, pos (0, 0, 0)"), std::string::npos) << text;
    EXPECT_NE(text.find("frame 1: parent 0, flags 0x00000003, pos (0, 2.5, 0)"), std::string::npos) << text;
    EXPECT_NE(text.find("flags 0x18, triangles 1, vertices 3, morph targets 1"), std::string::npos) << text;
    EXPECT_NE(text.find("format: prelit, normals"), std::string::npos) << text;
    EXPECT_NE(text.find("morph target 0: sphere (0, 0, 0) radius 1, positions, normals"), std::string::npos) << text;
    EXPECT_NE(text.find("plugin 0x50e MeshExtension  length 32  version 0x310: triangle lists, meshes 1, indices 3"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("mesh 0: indices 3, material 0"), std::string::npos) << text;
    // Atomics that name what the clump holds, and a mesh without a material.
    const ChunkTree withAtomics = ChunkWalk(SmallClump({.atomics = {{0, 0}, {1, 0}}, .meshSlot = 0xFFFFFFFFu}));
    EXPECT_TRUE(withAtomics.Ok()) << Problems(withAtomics);
}

struct Malformed {
    const char* what;
    Bytes file;
    std::size_t offset;
    const char* message;
};

// Where the walker finds parts of SmallClump.
std::size_t AtomicStruct(int nth) {
    const ChunkTree tree = ChunkWalk(SmallClump({.atomics = {{1, 0}, {1, 0}}}));
    return tree.nodes[tree.FindChild(tree.FindChild(0, 20, nth), 1)].offset;
}
std::size_t MeshOffset() {
    const ChunkTree tree = ChunkWalk(SmallClump());
    const int geometry = tree.FindChild(tree.FindChild(0, 26), 15);
    return tree.nodes[tree.FindChild(tree.FindChild(geometry, 3), 0x50E)].offset;
}

std::vector<Malformed> MalformedFiles() {
    const Bytes ok = Chunk(2, Bytes{'a', 0, 0, 0});
    Bytes deep = Chunk(3, {});
    for (int i = 0; i < 40; ++i) deep = Chunk(16, deep);
    Bytes bareFrameCount = Chunk(14, Cat({Chunk(1, Words({1})), Chunk(3, {})}));
    return {
        {"truncated header", Cat({ok, Bytes{1, 0, 0, 0, 4}}), 16, "truncated chunk header: 5 bytes left"},
        {"truncated body", Cat({ok, Bytes{2, 0, 0, 0, 8, 0, 0, 0, 0x10, 3, 0, 0, 'x'}}), 16,
         "runs past the end of the file"},
        {"child longer than parent",
         Cat({ok, Chunk(16, Cat({Chunk(1, Words({0})), Bytes{2, 0, 0, 0, 9, 0, 0, 0, 0x10, 3, 0, 0}}))}), 16 + 12 + 16,
         "longer than its parent allows"},
        {"version too old", Cat({ok, Chunk(2, Bytes{0, 0, 0, 0}, 0x300)}), 16, "version 0x300 is outside"},
        {"version too new", Chunk(16, Chunk(1, Words({0}), 0x311)), 12, "version 0x311 is outside"},
        {"absurd nesting", deep, 32 * 12, "nested deeper than 32 levels"},
        {"empty", {}, 0, "empty"},
        {"frame struct too short", bareFrameCount, 12, "struct of FrameList is 4 bytes where its fields need 60"},
        {"unterminated string", Chunk(2, Bytes{'a', 'b', 'c', 'd'}), 0, "no terminating zero"},
        {"frame count against extensions",
         Chunk(14, Cat({Chunk(1, Cat({Words({1}), Bytes(48, 0), Words({0xFFFFFFFFu, 3})}))})), 0,
         "announces 1 frame extensions but holds 0"},
        {"mesh indices against header", Chunk(3, Chunk(0x50E, Words({0, 1, 4, 3, 0, 0, 1, 2}))), 12,
         "meshes hold 3 indices where the header says 4"},
        // Well laid out, but what the engine refuses to read.
        {"atomic with a frame the clump lacks", SmallClump({.atomics = {{1, 0}, {2, 0}}}), AtomicStruct(1),
         "Atomic names frame 2, but the clump's frame list holds 2 frames"},
        {"atomic with a geometry the clump lacks", SmallClump({.atomics = {{1, 1}}}), AtomicStruct(0),
         "Atomic names geometry 1, but the clump's geometry list holds 1 geometry"},
        {"mesh index beyond the vertices", SmallClump({.indices = {0, 7, 2, 3}}), MeshOffset(),
         "mesh 0 uses vertex 7 (index 1) and 1 more beyond, but the geometry has 3 vertices"},
        {"material slot beyond the list", SmallClump({.meshSlot = 1}), MeshOffset(),
         "mesh 0 names material slot 1, but the geometry's material list has 1 slot"},
        {"empty clump, its parts loose after it", Cat({Chunk(16, {}), Chunk(1, Words({0})), Chunk(3, {})}), 0,
         "Clump lacks its Struct, FrameList, GeometryList"},
        {"loose struct at the top", Cat({ok, Chunk(1, Words({0}))}), 16, "loose Struct chunk at the top of the file"},
        {"unknown type at the top", Cat({SmallClump(), Chunk(0x1234, Words({0}))}), SmallClump().size(),
         "unknown chunk type 0x1234 at the top of the file"},
    };
}

TEST(ChunkWalker, MalformedInputIsReportedAtItsOffset) {
    for (const Malformed& m : MalformedFiles()) {
        SCOPED_TRACE(m.what);
        const ChunkTree tree = ChunkWalk(m.file);
        ASSERT_FALSE(tree.Ok());
        EXPECT_EQ(tree.problems[0].offset, m.offset);
        EXPECT_NE(tree.problems[0].message.find(m.message), std::string::npos) << tree.problems[0].message;
        for (const dump::ChunkNode& n : tree.nodes) EXPECT_LE(n.End(), m.file.size());
        const std::string problems = Problems(tree);
        char at[32];
        std::snprintf(at, sizeof at, "f: offset 0x%zx (%zu): ", m.offset, m.offset);
        EXPECT_EQ(problems.rfind(at, 0), 0u) << problems;
    }
}

TEST(ChunkWalker, AProblemInsideAContainerLeavesItsSiblingsReadable) {
    const Bytes bad = Chunk(16, Bytes{2, 0, 0, 0, 99, 0, 0, 0, 0x10, 3, 0, 0});
    const Bytes file = Cat({bad, Chunk(2, Bytes{'o', 'k', 0, 0})});
    const ChunkTree tree = ChunkWalk(file);
    ASSERT_EQ(tree.problems.size(), 1u);
    ASSERT_EQ(tree.nodes.size(), 2u);
    EXPECT_EQ(tree.nodes[1].text, "ok");
    EXPECT_EQ(tree.nodes[1].depth, 0);
}

// The command-line tool: output, messages and exit codes.
using test::ToolRun;

// ctest runs tests side by side: every file a test makes carries its
// process id.
std::filesystem::path TempFile(const std::string& name) {
    return std::filesystem::temp_directory_path() / (std::to_string(getpid()) + "_" + name);
}

ToolRun Dump(const std::string& args) {
    return test::RunTool(std::string(KVDUMP_PATH) + " " + args, TempFile("kvdump_test_stderr"));
}

std::string Save(const char* name, const Bytes& bytes) {
    const std::filesystem::path p = TempFile(name);
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return p.string();
}

TEST_F(WrittenByTheEngine, ToolPrintsTheTreeAndExitsZero) {
    const std::string path = Save("kvdump_good.dff", Write());
    const ToolRun r = Dump(path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("MaterialList (8)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"sky\""), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
    std::filesystem::remove(path);
}

TEST(KvdumpTool, MalformedFilesExitOneWithTheOffset) {
    for (const Malformed& m : MalformedFiles()) {
        SCOPED_TRACE(m.what);
        const std::string path = Save("kvdump_bad.dff", m.file);
        const ToolRun r = Dump(path);
        EXPECT_EQ(r.status, 1);
        char at[32];
        std::snprintf(at, sizeof at, "offset 0x%zx", m.offset);
        EXPECT_NE(r.err.find(at), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(m.message), std::string::npos) << r.err;
        std::filesystem::remove(path);
    }
}

// Files that cannot be read are reported by name and passed over; the exit
// status says so. Nothing is read past the size limit.
TEST(KvdumpTool, ReadErrorsAndLargeFilesAreReportedAndTheNextFileDumped) {
    const std::filesystem::path dir = TempFile("kvdump_dir");
    std::filesystem::create_directory(dir);
    const std::string good = Save("kvdump_next.dff", SmallClump());
    const std::string big = Save("kvdump_big.dff", Bytes((1u << 20) + 1, 0));
    ToolRun r = Dump(dir.string() + " " + big + " --max-size 1 " + good);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("cannot read " + dir.string() + ": Is a directory"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot read " + big + ": larger than 1 MiB"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(good + ": " + std::to_string(SmallClump().size()) + " bytes"), std::string::npos) << r.out;
    // Exactly at the limit is still read.
    const std::string edge = Save("kvdump_edge.dff", Bytes(1u << 20, 0));
    r = Dump("--max-size 1 " + edge);
    EXPECT_EQ(r.status, 1) << r.err;  // read, and malformed
    EXPECT_NE(r.out.find(std::to_string(1u << 20) + " bytes"), std::string::npos);
    // A device that never ends (made here: never the system's own).
    if (geteuid() == 0) {
        const std::filesystem::path zero = dir / "zero";
        ASSERT_EQ(mknod(zero.c_str(), S_IFCHR | 0600, makedev(1, 5)), 0);
        r = Dump("--max-size 2 " + zero.string());
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("larger than 2 MiB"), std::string::npos) << r.err;
    }
    std::filesystem::remove_all(dir);
    for (const std::string& f : {good, big, edge}) std::filesystem::remove(f);
}

TEST(KvdumpTool, OutputThatCannotBeWrittenFailsTheRun) {
    const std::string good = Save("kvdump_out.dff", SmallClump());
    // Standard output open for reading only: every write fails.
    ToolRun r = Dump(good + " 1<" + good);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot write the output: Bad file descriptor"), std::string::npos) << r.err;
    if (geteuid() == 0) {
        const std::filesystem::path full = TempFile("kvdump_full");
        ASSERT_EQ(mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)), 0);
        r = Dump(good + " >" + full.string());
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("cannot write the output: No space left on device"), std::string::npos) << r.err;
        std::filesystem::remove(full);
    }
    std::filesystem::remove(good);
}

TEST(KvdumpTool, UsageAndUnreadableFiles) {
    const ToolRun help = Dump("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: kvdump [OPTION]... FILE...\n", 0), 0u) << help.out;
    EXPECT_EQ(Dump("").status, 2);
    EXPECT_EQ(Dump("--bogus x").status, 2);
    EXPECT_EQ(Dump("--max-depth zero x").status, 2);
    const ToolRun missing = Dump("/nonexistent/kvdump.dff");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot read /nonexistent/kvdump.dff"), std::string::npos) << missing.err;
}

// The tool run in a child of its own, for what the shell cannot tell: the
// most memory it held (KiB), and its exit status under a limit on its
// address space (0: none).
struct MemoryRun {
    int status = -1;
    long peakKiB = 0;
    std::string err;
};
MemoryRun DumpWithin(const std::vector<std::string>& args, rlim_t addressSpace) {
    const std::filesystem::path errors = TempFile("kvdump_memory_stderr");
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open("/dev/null", O_WRONLY);
        const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
        if (addressSpace > 0) {
            const rlimit limit{addressSpace, addressSpace};
            setrlimit(RLIMIT_AS, &limit);
        }
        std::vector<char*> argv{const_cast<char*>(KVDUMP_PATH)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KVDUMP_PATH, argv.data());
        _exit(127);
    }
    MemoryRun run;
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.peakKiB = usage.ru_maxrss;
    std::ifstream in(errors);
    run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::filesystem::remove(errors);
    return run;
}

// A file is held once, not copied as it grows; when memory runs out, for the
// file or for a tree of many small chunks, the file is reported (status 2, as
// the help says), never an abort.
TEST(KvdumpTool, AFileIsHeldOnceAndMemoryRunningOutIsReported) {
    constexpr std::size_t kSize = 96u << 20;
    const std::string zeros = TempFile("kvdump_zeros.dff").string();
    std::ofstream(zeros, std::ios::binary).write(std::vector<char>(kSize, 0).data(), kSize);
    MemoryRun run = DumpWithin({zeros}, 0);
    EXPECT_EQ(run.status, 1) << run.err;  // read whole, and no chunk file
    EXPECT_LT(run.peakKiB * 1024, static_cast<long>(kSize + kSize / 2)) << "held more than once";
#if defined(KV_SANITIZED) || defined(__SANITIZE_ADDRESS__)
    std::filesystem::remove(zeros);
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address-space limit";
#else
    run = DumpWithin({zeros}, 48u << 20);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(run.err, "kvdump: cannot read " + zeros + ": out of memory (Cannot allocate memory)\n");
    // A million empty chunks, 12 MB: the tree of them is ten times that.
    Bytes tiny;
    for (int i = 0; i < 1000000; ++i) Put32(tiny, 2), Put32(tiny, 0), Put32(tiny, 0x310);
    const std::string many = Save("kvdump_many.dff", tiny);
    run = DumpWithin({"--brief", many, zeros}, 100000000);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("kvdump: cannot dump " + many + ": out of memory for its chunk tree\n"), std::string::npos)
        << run.err;
    std::filesystem::remove(many);
#endif
    std::filesystem::remove(zeros);
}

// Both forms of a value, as the other programs take them; the version the
// package and the manual page name.
TEST(KvdumpTool, ValuesFollowTheirOptionEitherWayAndTheVersionIsTheBuilds) {
    const std::string big = Save("kvdump_big2.dff", Bytes((1u << 20) + 1, 0));
    for (const char* limit : {"--max-size 1 ", "--max-size=1 "}) {
        const ToolRun r = Dump(limit + big);
        EXPECT_EQ(r.status, 2) << limit;
        EXPECT_NE(r.err.find("larger than 1 MiB"), std::string::npos) << r.err;
    }
    EXPECT_EQ(Dump("--max-size=2 " + big).status, 1) << "read whole, and no chunk file";
    EXPECT_EQ(Dump("--max-depth=0 " + big).err, "kvdump: --max-depth needs a number from 1 to 1000\n");
    EXPECT_EQ(Dump("--max-size= " + big).status, 2);
    EXPECT_EQ(Dump("--brief=yes " + big).err, "kvdump: --brief takes no value\n");
    EXPECT_EQ(Dump("--colour=red " + big).err, "kvdump: unknown option --colour (see --help)\n");
    std::filesystem::remove(big);
    const ToolRun version = Dump("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("kvdump ") + KV_VERSION + "\n");
}

}  // namespace
}  // namespace kv
