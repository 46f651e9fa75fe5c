// The installation: what cmake --install puts under a prefix, and the
// installed program started from another folder, which finds its data there
// and does a batch run (a saved dome and a screenshot the installed tools
// read back).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "run_command.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

using RunResult = test::CommandRun;

// stdout and stderr together.
RunResult Shell(const std::string& command) { return test::RunCommand(command + " 2>&1"); }

std::string Slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Executable(const fs::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) != 0;
}

class Installed : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("kv_install_test_" + std::to_string(::getpid()));
        fs::remove_all(root);
        prefix = root / "prefix";
        elsewhere = root / "elsewhere";
        fs::create_directories(elsewhere);
        const RunResult install = Shell(std::string("'") + KV_CMAKE_COMMAND + "' --install '" + KV_BUILD_DIR +
                                        "' --prefix '" + prefix.string() + "'");
        ASSERT_EQ(install.status, 0) << install.output;
    }
    void TearDown() override { fs::remove_all(root); }

    // A command run in the other folder, by the installed program's full path.
    RunResult RunThere(const std::string& program, const std::string& arguments) const {
        return Shell("cd '" + elsewhere.string() + "' && '" + (prefix / "bin" / program).string() + "' " + arguments);
    }

    fs::path root, prefix, elsewhere;
};

TEST_F(Installed, ThePrefixHoldsTheProgramsTheirDataTheDesktopEntryAndTheIcon) {
    for (const char* program : {"skydome", "kvdump", "kvimage"}) {
        EXPECT_TRUE(Executable(prefix / "bin" / program)) << program;
    }
    const fs::path data = prefix / "share" / "kv3skydome";
    EXPECT_EQ(Slurp(data / "readme.txt"), Slurp(fs::path(KV_ASSETS_DIR) / "readme.txt"));
    // The pictures the program reads at start: without them it does not start.
    for (const char* picture : {"ground.png", "flare0.png", "flare0m.bmp", "flare7.png", "flare7m.bmp"}) {
        EXPECT_EQ(Slurp(data / "textures" / picture), Slurp(fs::path(KV_ASSETS_DIR) / ".." / "textures" / picture))
            << picture;
        EXPECT_FALSE(Slurp(data / "textures" / picture).empty()) << picture;
    }

    const std::string entry = Slurp(prefix / "share" / "applications" / "skydome.desktop");
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
    for (const char* line : {"\nType=Application\n", "\nExec=skydome\n", "\nIcon=skydome\n", "\nTerminal=false\n"}) {
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    }
    // The icon where the entry's name finds it, and a picture the tools read.
    const fs::path icon = prefix / "share" / "icons" / "hicolor" / "128x128" / "apps" / "skydome.png";
    EXPECT_EQ(Slurp(icon), Slurp(fs::path(KV_ASSETS_DIR) / "skydome.png"));
    const RunResult check = RunThere("kvimage", "'" + icon.string() + "'");
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_NE(check.output.find("128 x 128"), std::string::npos) << check.output;
}

TEST_F(Installed, TheProgramRunFromAnotherFolderSavesTheDomeAndTheScreenshot) {
    const RunResult run = RunThere("skydome", "-vms --frames 2 --save-dome x.dff --screenshot y.png");
    ASSERT_EQ(run.status, 0) << run.output;
    // The installed tools read what it wrote.
    const RunResult dump = RunThere("kvdump", "x.dff");
    EXPECT_EQ(dump.status, 0) << dump.output;
    EXPECT_NE(dump.output.find("Clump"), std::string::npos) << dump.output;
    const RunResult picture = RunThere("kvimage", "y.png");
    EXPECT_EQ(picture.status, 0) << picture.output;
    EXPECT_NE(picture.output.find("640 x 480"), std::string::npos) << picture.output;
}

// Started in a project that has a readme.txt and a textures/ of its own, the
// installed program takes neither: here a pipe, which would hold it up in
// open() for ever, and a link to /dev/zero. Given that folder with --data it
// looks there first, passes over what is no file, and says so.
TEST_F(Installed, AProjectsOwnHelpAndPicturesAreReadOnlyWhenAskedFor) {
    ASSERT_EQ(mkfifo((elsewhere / "readme.txt").c_str(), 0600), 0);
    fs::create_directories(elsewhere / "textures");
    fs::create_symlink("/dev/zero", elsewhere / "textures" / "ground.png");
    RunResult run = RunThere("skydome", "-vms --frames 2 --save-dome x.dff");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("skipped"), std::string::npos) << run.output;
    run = RunThere("skydome", "-vms --frames 2 --data .");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find(": ./readme.txt is a named pipe, not a file: skipped"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(": ./textures/ground.png is a character device, not a file: skipped"),
              std::string::npos)
        << run.output;
}

TEST_F(Installed, VersionIsTheBuildsOwn) {
    const RunResult run = RunThere("skydome", "--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, std::string("skydome ") + KV_VERSION + "\n");
    const RunResult help = RunThere("skydome", "--help");
    EXPECT_NE(help.output.find("  --version"), std::string::npos) << help.output;
}

}  // namespace
}  // namespace kv
