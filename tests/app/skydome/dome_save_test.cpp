// Saving the dome: the file's exact layout, checked with the chunk walker, at
// every resolution; the mesh extension read back; and failed saves, which must
// leave the file that was there before as it was.
#include "app/skydome/dome_save.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dome_fixture.h"
#include "engine/frame/frame.h"
#include "engine/image/texture.h"
#include "engine/stream/chunk.h"
#include "engine/stream/safe_write.h"
#include "engine/world/clump_stream.h"
#include "engine/world/geometry_stream.h"
#include "engine/world/material.h"
#include "engine/world/material_list.h"
#include "engine/world/mesh.h"
#include "tools/kvdump/chunk_walk.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using dump::ChunkTree;

std::vector<uint8> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> Entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Payload sizes of the saved dome, from the chunk layout of each object.
struct DomeSizes {
    uint32 geometryStruct, meshExtension, geometryExtension, clump, file;
};
DomeSizes SizesFor(int32 rings) {
    const uint32 n = 4 * rings * rings + 1, t = 4 * rings * (2 * rings - 1);
    DomeSizes s{};
    s.geometryStruct = 28 + 4 * n + 8 * t + 24 + 2 * 12 * n;  // prelit, triangles, one target with both arrays
    s.meshExtension = 12 + 8 + 4 * 3 * t;
    s.geometryExtension = 12 + s.meshExtension;
    const uint32 materialList = (12 + 4 + 4) + 12 + (12 + 28) + 12;
    const uint32 geometry = (12 + s.geometryStruct) + (12 + materialList) + (12 + s.geometryExtension);
    const uint32 geometryList = (12 + 4) + (12 + geometry);
    const uint32 frameList = (12 + 4 + 2 * 56) + 2 * 12;
    const uint32 atomic = (12 + 16) + 12;
    s.clump = (12 + 4) + (12 + frameList) + (12 + geometryList) + (12 + atomic) + 12;
    s.file = 12 + s.clump;
    return s;
}

std::vector<uint32> ChildTypes(const ChunkTree& tree, int node) {
    std::vector<uint32> types;
    for (int c : tree.Children(node)) types.push_back(tree.nodes[c].type);
    return types;
}

class DomeSaveTest : public DomeTest {
  protected:
    void SetUp() override {
        DomeTest::SetUp();
        char pattern[] = "/tmp/kvdomesave.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        target = dir / kDomeFileName;
    }
    void TearDown() override {
        chmod(dir.c_str(), 0700);
        fs::remove_all(dir);
        DomeTest::TearDown();
    }
    bool Save(std::string* message, const DomeSaveOptions* options = nullptr) {
        return DomeSave(clump, target.c_str(), message, options);
    }

    fs::path dir, target;
};

TEST_F(DomeSaveTest, DefaultDomeIsTheKnownFileOf21840Bytes) {
    ASSERT_NE(MakeDome(9), nullptr);
    std::string message = "stale";
    ASSERT_TRUE(Save(&message)) << message;
    EXPECT_EQ(message, "");
    EXPECT_EQ(Entries(dir), std::vector<std::string>{kDomeFileName});
    const std::vector<uint8> bytes = ReadFile(target);
    ASSERT_EQ(bytes.size(), 21840u);
    const ChunkTree tree = dump::ChunkWalk(bytes);
    ASSERT_TRUE(tree.Ok()) << tree.problems[0].message;
    for (const auto& n : tree.nodes) EXPECT_EQ(n.version, 0x310u) << n.offset;

    ASSERT_EQ(tree.Children(-1).size(), 1u);
    const int clumpNode = tree.Children(-1)[0];
    const auto& c = tree.nodes[clumpNode];
    EXPECT_EQ(c.type, ChunkClump);
    EXPECT_EQ(c.length, 21828u);
    ASSERT_EQ(ChildTypes(tree, clumpNode),
              (std::vector<uint32>{ChunkStruct, ChunkFrameList, ChunkGeometryList, ChunkAtomic, ChunkExtension}));
    const std::vector<int> parts = tree.Children(clumpNode);
    EXPECT_EQ(tree.nodes[parts[0]].summary, "atomics 1");
    EXPECT_EQ(tree.nodes[parts[4]].length, 0u);

    const int frames = parts[1];
    ASSERT_EQ(ChildTypes(tree, frames), (std::vector<uint32>{ChunkStruct, ChunkExtension, ChunkExtension}));
    const auto& frameStruct = tree.nodes[tree.Children(frames)[0]];
    EXPECT_EQ(frameStruct.summary, "frames 2");
    ASSERT_EQ(frameStruct.details.size(), 2u);
    EXPECT_NE(frameStruct.details[0].find("parent -1"), std::string::npos);
    EXPECT_NE(frameStruct.details[1].find("parent 0"), std::string::npos);
    EXPECT_EQ(tree.nodes[tree.Children(frames)[1]].length, 0u);
    EXPECT_EQ(tree.nodes[tree.Children(frames)[2]].length, 0u);

    const int geometries = parts[2];
    ASSERT_EQ(ChildTypes(tree, geometries), (std::vector<uint32>{ChunkStruct, ChunkGeometry}));
    EXPECT_EQ(tree.nodes[tree.Children(geometries)[0]].summary, "geometries 1");
    const int geometry = tree.Children(geometries)[1];
    ASSERT_EQ(ChildTypes(tree, geometry), (std::vector<uint32>{ChunkStruct, ChunkMaterialList, ChunkExtension}));
    const auto& geometryStruct = tree.nodes[tree.Children(geometry)[0]];
    EXPECT_EQ(geometryStruct.length, 14048u);
    EXPECT_EQ(geometryStruct.summary, "flags 0x18, triangles 612, vertices 325, morph targets 1");
    ASSERT_EQ(geometryStruct.details.size(), 3u);
    EXPECT_EQ(geometryStruct.details[0], "format: prelit, normals");
    EXPECT_NE(geometryStruct.details[2].find(", positions, normals"), std::string::npos);

    const int materials = tree.Children(geometry)[1];
    ASSERT_EQ(ChildTypes(tree, materials), (std::vector<uint32>{ChunkStruct, ChunkMaterial}));
    EXPECT_EQ(tree.nodes[tree.Children(materials)[0]].summary, "slots 1");
    EXPECT_EQ(tree.nodes[tree.Children(materials)[0]].details, std::vector<std::string>{"slot 0: new material"});
    const int material = tree.Children(materials)[1];
    ASSERT_EQ(ChildTypes(tree, material), (std::vector<uint32>{ChunkStruct, ChunkExtension}));
    EXPECT_EQ(tree.nodes[tree.Children(material)[0]].summary.rfind("colour (255, 255, 255, 255), untextured", 0), 0u);

    const int extension = tree.Children(geometry)[2];
    EXPECT_EQ(tree.nodes[extension].length, 7376u);
    ASSERT_EQ(ChildTypes(tree, extension), std::vector<uint32>{kIdMeshExtension});
    EXPECT_EQ(tree.nodes[tree.Children(extension)[0]].summary, "triangle lists, meshes 1, indices 1836");

    ASSERT_EQ(ChildTypes(tree, parts[3]), (std::vector<uint32>{ChunkStruct, ChunkExtension}));
    EXPECT_EQ(tree.nodes[tree.Children(parts[3])[0]].summary, "frame 1, geometry 0, flags 0x5");
    EXPECT_EQ(tree.nodes[tree.Children(parts[3])[1]].length, 0u);
}

TEST_F(DomeSaveTest, EveryResolutionSavesWithItsSizesAndItsMeshesReadBack) {
    for (int32 rings = kDomeMinResolution; rings <= kDomeMaxResolution; ++rings) {
        SCOPED_TRACE(rings);
        if (clump != nullptr) DomeClumpDestroy(clump);
        ASSERT_NE(MakeDome(rings), nullptr);
        std::string message;
        ASSERT_TRUE(Save(&message)) << message;
        const std::vector<uint8> bytes = ReadFile(target);
        const DomeSizes want = SizesFor(rings);
        ASSERT_EQ(bytes.size(), want.file);
        const ChunkTree tree = dump::ChunkWalk(bytes);
        ASSERT_TRUE(tree.Ok()) << tree.problems[0].message;
        EXPECT_EQ(tree.nodes[0].length, want.clump);
        const int geometry = tree.FindChild(tree.FindChild(0, ChunkGeometryList), ChunkGeometry);
        const auto& geometryStruct = tree.nodes[tree.FindChild(geometry, ChunkStruct)];
        EXPECT_EQ(geometryStruct.length, want.geometryStruct);
        const int extension = tree.FindChild(geometry, ChunkExtension);
        EXPECT_EQ(tree.nodes[extension].length, want.geometryExtension);
        const auto& meshNode = tree.nodes[tree.FindChild(extension, kIdMeshExtension)];
        ASSERT_EQ(meshNode.length, want.meshExtension);

        // The prelit colours saved are the dome's sky colours.
        const Geometry* g = DomeGeometry();
        const int32 n = GeometryGetNumVertices(g);
        EXPECT_EQ(std::memcmp(bytes.data() + geometryStruct.BodyOffset() + 28, GeometryGetPrelitColors(g), 4 * n), 0);

        // What the reader makes of the extension is what the geometry has.
        StreamMemory memory{const_cast<uint8*>(bytes.data() + meshNode.BodyOffset()), meshNode.length};
        Stream* stream = StreamOpen(StreamTypeMemory, StreamAccessRead, &memory);
        ASSERT_NE(stream, nullptr);
        MeshHeader* read =
            MeshHeaderStreamRead(stream, static_cast<int32>(meshNode.length), GeometryGetMaterialList(g));
        StreamClose(stream, nullptr);
        ASSERT_NE(read, nullptr);
        const MeshHeader* own = GeometryGetMeshHeader(g);
        EXPECT_EQ(read->flags, own->flags);
        ASSERT_EQ(read->numMeshes, own->numMeshes);
        EXPECT_EQ(read->totalIndicesInMesh, own->totalIndicesInMesh);
        for (int m = 0; m < own->numMeshes; ++m) {
            const Mesh& a = MeshHeaderGetMeshes(read)[m];
            const Mesh& b = MeshHeaderGetMeshes(own)[m];
            EXPECT_EQ(a.material, b.material);
            ASSERT_EQ(a.numIndices, b.numIndices);
            EXPECT_EQ(std::memcmp(a.indices, b.indices, 4 * a.numIndices), 0);
        }
        MeshesDestroy(read);
    }
}

// The first frame's twelve numbers (right, up, at, pos) in a saved file.
std::vector<float> RootFrame(const std::vector<uint8>& bytes) {
    const ChunkTree tree = dump::ChunkWalk(bytes);
    const int frames = tree.FindChild(0, ChunkFrameList);
    const auto& body = tree.nodes[tree.FindChild(frames, ChunkStruct)];
    std::vector<float> m(12);
    std::memcpy(m.data(), bytes.data() + body.BodyOffset() + 4, sizeof(float) * 12);
    return m;
}

// A dome turned in the orbit view, or shown from inside in the preview, is
// saved in its own frame, y up and +z north: the frame's matrix is the only
// part of the file the view changes, and the faces point as asked.
TEST_F(DomeSaveTest, TheDomeIsSavedInItsOwnFrameWhateverTheViewAndFacesAsAsked) {
    ASSERT_NE(MakeDome(5), nullptr);
    DomeClumpPlaceOrbit(clump);
    Frame* frame = ClumpGetFrame(clump);
    const V3d up{0.0f, 1.0f, 0.0f};
    FrameRotate(frame, &up, 33.0f, CombinePostConcat);  // the user turned it
    const Matrix placed = *FrameGetMatrix(frame);
    const auto indices = [&] {
        const Triangle* t = GeometryGetTriangles(DomeGeometry());
        return std::vector<Triangle>(t, t + GeometryGetNumTriangles(DomeGeometry()));
    };
    const std::vector<Triangle> outward = indices();

    // What the clump holds as it is placed, written directly.
    const fs::path asPlaced = dir / "placed.dff";
    Stream* stream = StreamOpen(StreamTypeFileName, StreamAccessWrite, asPlaced.c_str());
    ASSERT_NE(stream, nullptr);
    ASSERT_NE(ClumpStreamWrite(clump, stream), nullptr);
    StreamClose(stream, nullptr);
    const std::vector<uint8> placedBytes = ReadFile(asPlaced);

    std::string message;
    ASSERT_TRUE(Save(&message)) << message;
    const std::vector<uint8> orbit = ReadFile(target);
    ASSERT_EQ(orbit.size(), placedBytes.size());
    const std::vector<float> identity = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(RootFrame(orbit), identity);
    EXPECT_NE(RootFrame(placedBytes), identity);
    // Only the first frame's record differs: its 12 numbers and its flags.
    const ChunkTree tree = dump::ChunkWalk(orbit);
    const std::size_t record =
        tree.nodes[tree.FindChild(tree.FindChild(0, ChunkFrameList), ChunkStruct)].BodyOffset() + 4;
    for (std::size_t i = 0; i < orbit.size(); ++i) {
        if (i >= record && i < record + 56) continue;
        ASSERT_EQ(orbit[i], placedBytes[i]) << i;
    }
    // The view is as it was.
    EXPECT_EQ(std::memcmp(FrameGetMatrix(frame), &placed, sizeof placed), 0);

    // The preview: the dome turned inside out at the identity.
    DomeGetSettings()->preview = 1;
    DomeInvert();
    FrameSetIdentity(frame);
    ASSERT_TRUE(Save(&message)) << message;
    const std::vector<uint8> preview = ReadFile(target);
    EXPECT_EQ(RootFrame(preview), identity);
    EXPECT_NE(preview, orbit);  // the faces' order
    // Asked to face outwards it is the orbit view's file, and stays inverted.
    const std::vector<Triangle> inward = indices();
    DomeSaveOptions facing;
    facing.facing = DomeFacingOutward;
    ASSERT_TRUE(Save(&message, &facing)) << message;
    EXPECT_EQ(ReadFile(target), orbit);
    EXPECT_EQ(std::memcmp(indices().data(), inward.data(), sizeof(Triangle) * inward.size()), 0);
    facing.facing = DomeFacingInward;
    ASSERT_TRUE(Save(&message, &facing)) << message;
    EXPECT_EQ(ReadFile(target), preview);

    // Back outside, asked to face inwards it is the preview's file.
    DomeGetSettings()->preview = 0;
    DomeInvert();
    FrameTransform(frame, &placed, CombineReplace);
    ASSERT_TRUE(Save(&message, &facing)) << message;
    EXPECT_EQ(ReadFile(target), preview);
    EXPECT_EQ(std::memcmp(indices().data(), outward.data(), sizeof(Triangle) * outward.size()), 0);
    EXPECT_EQ(std::memcmp(FrameGetMatrix(frame), &placed, sizeof placed), 0);
}

// A disk that takes a given number of bytes and refuses the rest.
struct FullDisk {
    std::FILE* file = nullptr;
    long room = 0;
    static Stream* Open(const char* path, void* data) {
        auto* disk = static_cast<FullDisk*>(data);
        disk->file = std::fopen(path, "wb");
        if (disk->file == nullptr) return nullptr;
        StreamCustom custom{[](void* d) { std::fclose(static_cast<FullDisk*>(d)->file); }, nullptr,
                            [](void* d, const void* buffer, uint32 length) {
                                auto* self = static_cast<FullDisk*>(d);
                                const long n = std::min<long>(self->room, length);
                                std::fwrite(buffer, 1, static_cast<std::size_t>(n), self->file);
                                self->room -= n;
                                return n == static_cast<long>(length);
                            },
                            nullptr, data};
        return StreamOpen(StreamTypeCustom, StreamAccessWrite, &custom);
    }
};

TEST_F(DomeSaveTest, ATexturedDomeCarriesItsTextureChunkAndWalksCleanly) {
    ASSERT_NE(MakeDome(9), nullptr);
    Material* domeMaterial = MaterialListGet(GeometryGetMaterialList(DomeGeometry()), 0);
    ASSERT_NE(domeMaterial, nullptr);
    Texture* texture = TextureCreate(nullptr);
    ASSERT_NE(texture, nullptr);
    TextureSetName(texture, "ground");
    TextureSetMaskName(texture, "groundmask");
    TextureSetFilterMode(texture, 2);
    MaterialSetTexture(domeMaterial, texture);
    TextureDestroy(texture);
    std::string message;
    ASSERT_TRUE(Save(&message)) << message;

    // 56 + "ground" (6, rounded down to 4) + "groundmask" (10 + 4, rounded
    // down to 12): 72 bytes, and a 12-byte header, on the known file.
    const std::vector<uint8> bytes = ReadFile(target);
    ASSERT_EQ(bytes.size(), 21840u + 12 + 72);
    const ChunkTree tree = dump::ChunkWalk(bytes);
    ASSERT_TRUE(tree.Ok()) << tree.problems[0].message;
    EXPECT_EQ(tree.nodes[0].length, 21828u + 12 + 72);
    const int geometry = tree.FindChild(tree.FindChild(0, ChunkGeometryList), ChunkGeometry);
    const int material = tree.FindChild(tree.FindChild(geometry, ChunkMaterialList), ChunkMaterial);
    ASSERT_GE(material, 0);
    ASSERT_EQ(ChildTypes(tree, material), (std::vector<uint32>{ChunkStruct, ChunkTexture, ChunkExtension}));
    EXPECT_NE(tree.nodes[tree.Children(material)[0]].summary.find("textured"), std::string::npos);
    const int textureNode = tree.Children(material)[1];
    EXPECT_EQ(tree.nodes[textureNode].length, 72u);
    ASSERT_EQ(ChildTypes(tree, textureNode),
              (std::vector<uint32>{ChunkStruct, ChunkString, ChunkString, ChunkExtension}));
    const std::vector<int> parts = tree.Children(textureNode);
    EXPECT_EQ(tree.nodes[parts[0]].summary.rfind("filter 2, address u 1", 0), 0u);
    EXPECT_EQ(tree.nodes[parts[1]].text, "ground");
    EXPECT_EQ(tree.nodes[parts[2]].text, "groundmask");
    EXPECT_EQ(tree.nodes[parts[3]].length, 0u);
}

TEST_F(DomeSaveTest, AFullDiskKeepsThePreviousFileAndLeavesNothingBehind) {
    ASSERT_NE(MakeDome(9), nullptr);
    WriteFile(target, "the dome saved yesterday");
    for (long room : {0L, 11L, 12L, 5000L, 21839L}) {
        SCOPED_TRACE(room);
        FullDisk disk;
        disk.room = room;
        const DomeSaveOptions options{FullDisk::Open, &disk};
        std::string message;
        EXPECT_FALSE(Save(&message, &options));
        EXPECT_EQ(message, "Cannot save the dome to " + target.string() +
                               ": the file could not be written. Check that the disk has room, and try again. The "
                               "file there is unchanged.");
        const std::vector<uint8> kept = ReadFile(target);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "the dome saved yesterday");
        EXPECT_EQ(Entries(dir), std::vector<std::string>{kDomeFileName});
    }
    // Room enough: the same stream saves the whole dome.
    FullDisk disk;
    disk.room = 21840;
    const DomeSaveOptions options{FullDisk::Open, &disk};
    std::string message;
    EXPECT_TRUE(Save(&message, &options)) << message;
    EXPECT_EQ(ReadFile(target).size(), 21840u);
    EXPECT_EQ(Entries(dir), std::vector<std::string>{kDomeFileName});
}

// What a user reads: the file, why in words, what to do, and that the file
// there is unchanged only when there was one.
TEST_F(DomeSaveTest, AStreamThatCannotOpenOrAMissingFolderIsToldInWords) {
    ASSERT_NE(MakeDome(2), nullptr);
    WriteFile(target, "old");
    const DomeSaveOptions refuse{[](const char*, void*) -> Stream* { return nullptr; }, nullptr};
    std::string message;
    FileWriteStatus status{};
    EXPECT_FALSE(DomeSave(clump, target.c_str(), &message, &refuse, &status));
    EXPECT_TRUE(DomeSaveCouldNotOpen(status));
    EXPECT_EQ(message.rfind("Cannot save the dome to " + target.string() + ": ", 0), 0u) << message;
    EXPECT_EQ(message.substr(message.size() - 30), ". The file there is unchanged.") << message;
    EXPECT_EQ(Entries(dir), std::vector<std::string>{kDomeFileName});
    const fs::path missing = dir / "no" / kDomeFileName;
    EXPECT_FALSE(DomeSave(clump, missing.c_str(), &message, nullptr, &status));
    EXPECT_TRUE(DomeSaveCouldNotOpen(status));
    EXPECT_EQ(message, "Cannot save the dome to " + missing.string() +
                           ": the folder it would go in does not exist (No such file or directory). Make the folder "
                           "first, or give a name in a folder that exists.");
    // A folder is no file: nothing there was or is unchanged.
    EXPECT_FALSE(DomeSave(clump, dir.c_str(), &message, nullptr, &status));
    EXPECT_EQ(message, "Cannot save the dome to " + dir.string() +
                           ": it is a folder (Is a directory). Give the name of a file, not of a folder.");
}

TEST_F(DomeSaveTest, AnUnwritableFolderKeepsThePreviousFile) {
    ASSERT_NE(MakeDome(9), nullptr);
    WriteFile(target, "kept");
    ASSERT_EQ(chmod(target.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
    // The folder's mode binds only an ordinary user: an administrator's run
    // saves as "nobody" in a child.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(77);
        std::string message;
        const bool saved = DomeSave(clump, target.c_str(), &message);
        // The file itself could be written: the folder is named, and what to do.
        const bool told = message.find(
                              ": its folder cannot be written to (Permission denied). A save writes the new "
                              "file beside the old one") != std::string::npos &&
                          message.find("save into a folder you can write to") != std::string::npos &&
                          message.find("The file there is unchanged.") != std::string::npos;
        _exit(saved ? 1 : told ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot run as an ordinary user here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    chmod(dir.c_str(), 0700);
    const std::vector<uint8> kept = ReadFile(target);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "kept");
    EXPECT_EQ(Entries(dir), std::vector<std::string>{kDomeFileName});
}

TEST_F(DomeSaveTest, ASaveReplacesTheFileKeepingItsModeAndAnyLinkToIt) {
    ASSERT_NE(MakeDome(1), nullptr);
    const fs::path real = dir / "kept.dff";
    WriteFile(real, "old");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    fs::create_symlink("kept.dff", target);
    std::string message;
    ASSERT_TRUE(Save(&message)) << message;
    EXPECT_TRUE(fs::is_symlink(target));
    EXPECT_EQ(ReadFile(real).size(), SizesFor(1).file);
    struct stat info;
    ASSERT_EQ(stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"kept.dff", kDomeFileName}));
}

}  // namespace
}  // namespace kv::test
