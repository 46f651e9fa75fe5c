// The whole program, run through every view and overlay for a few frames
// each, saving the dome and a screenshot: it must exit cleanly and print no
// sanitizer report. In the sanitizer build (CI's second test run) this is the
// program built with AddressSanitizer, UndefinedBehaviorSanitizer and the
// leak checker, so any report at run time or at exit fails the case.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_command.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

struct Case {
    const char* name;
    const char* arguments;
};

// Both views with what they start with, with nothing, with each overlay
// alone and with all of them; the preview looking at the sun (default
// 50,20), where the lens flares are drawn; and the engine's own software
// pipelines in both views; the physical sky by day with its sun's disc and
// flares, and in twilight with its exports.
const Case kCases[] = {
    {"Orbit", ""},
    {"OrbitNothing", "--show none"},
    {"OrbitGround", "--show none,ground"},
    {"OrbitWire", "--show none,wire"},
    {"OrbitNormals", "--show none,normals"},
    {"OrbitData", "--show none,data"},
    {"OrbitFps", "--show none,fps"},
    {"OrbitMenu", "--show none,menu"},
    {"OrbitEverything", "--show wire,normals,fps"},
    {"Preview", "--view preview"},
    {"PreviewNothing", "--view preview --show none"},
    {"PreviewFlaresAtTheSun", "--view preview --look 40,20 --show none,flares"},
    {"PreviewEverything", "--view preview --look 40,20 --fov 60 --show wire,normals,fps"},
    {"OrbitSoftwarePipelines", "--software-pipelines --show wire,normals,fps"},
    {"PreviewSoftwarePipelines", "--view preview --look 40,20 --software-pipelines --show wire,normals,fps"},
    {"PhysicalOrbit", "--sky physical --show wire,normals,fps"},
    {"PhysicalPreviewAtTheSun", "--sky physical --view preview --look 40,20 --show none,flares"},
    {"PhysicalTwilightExports",
     "--sky physical --sun 95,20 --view preview --look 5,20 --export-panorama sky.hdr --panorama-size 64 "
     "--export-gltf sky.glb"},
};

class CleanRun : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kv_clean_run_" + std::to_string(::getpid()) + "_" + GetParam().name);
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

// What the sanitizers print when they find something.
bool HasReport(const std::string& output) {
    for (const char* mark : {"Sanitizer", "runtime error:", "SUMMARY:", "LeakSanitizer", "ERROR:"}) {
        if (output.find(mark) != std::string::npos) return true;
    }
    return false;
}

TEST_P(CleanRun, ExitsCleanlyWithTheDomeAndTheScreenshotSaved) {
    const fs::path dome = dir / "dome.dff", shot = dir / "shot.png";
    const std::string command = std::string("cd '") + dir.string() + "' && '" + KV_SKYDOME_PROGRAM +
                                "' -vms --frames 3 " + GetParam().arguments + " --save-dome '" + dome.string() +
                                "' --screenshot '" + shot.string() + "' 2>&1";
    const test::CommandRun run = test::RunCommand(command);
    const std::string& output = run.output;
    ASSERT_NE(run.status, -1) << "not run, or killed by a signal\n" << output;
    EXPECT_EQ(run.status, 0) << output;
    EXPECT_FALSE(HasReport(output)) << output;
    // The saved dome begins with its clump chunk; the picture is a PNG.
    std::ifstream d(dome, std::ios::binary), s(shot, std::ios::binary);
    uint32_t id = 0;
    d.read(reinterpret_cast<char*>(&id), 4);
    EXPECT_EQ(id, 0x10u);
    char signature[8] = {};
    s.read(signature, 8);
    EXPECT_EQ(std::string(signature + 1, 3), "PNG");
}

INSTANTIATE_TEST_SUITE_P(EveryViewAndOverlay, CleanRun, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace kv
