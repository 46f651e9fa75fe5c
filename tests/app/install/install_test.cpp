// The installation: what cmake --install puts under a prefix, and the
// installed program started from another folder, which finds its data there
// and does a batch run (a saved dome and a screenshot the installed tools
// read back).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
    EXPECT_EQ(Slurp(data / "readme.txt"), Slurp(fs::path(KV_BUILD_DIR) / "readme.txt"));
    // The pictures the program reads at start: without them it does not start.
    for (const char* picture : {"ground.png", "flare0.png", "flare0m.bmp", "flare7.png", "flare7m.bmp"}) {
        EXPECT_EQ(Slurp(data / "textures" / picture), Slurp(fs::path(KV_ASSETS_DIR) / ".." / "textures" / picture))
            << picture;
        EXPECT_FALSE(Slurp(data / "textures" / picture).empty()) << picture;
    }

    const std::string entry = Slurp(prefix / "share" / "applications" / "skydome.desktop");
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
    // The window's class ties the running window to the entry.
    for (const char* line : {"\nType=Application\n", "\nExec=skydome\n", "\nIcon=skydome\n", "\nTerminal=false\n",
                             "\nStartupWMClass=KvAppClass\n"}) {
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    }
    // The icon where the entry's name finds it, and a picture the tools read.
    const fs::path icon = prefix / "share" / "icons" / "hicolor" / "128x128" / "apps" / "skydome.png";
    EXPECT_EQ(Slurp(icon), Slurp(fs::path(KV_ASSETS_DIR) / "skydome.png"));
    const RunResult check = RunThere("kvimage", "'" + icon.string() + "'");
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_NE(check.output.find("128 x 128"), std::string::npos) << check.output;
    // The same picture among the program's data, for the window itself.
    EXPECT_EQ(Slurp(data / "skydome.png"), Slurp(icon));
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
    EXPECT_NE(run.output.find(": ./readme.txt is a named pipe, not a file: skipped"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(": ./textures/ground.png is a character device, not a file: skipped"), std::string::npos)
        << run.output;
}

TEST_F(Installed, VersionIsTheBuildsOwn) {
    const RunResult run = RunThere("skydome", "--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, std::string("skydome ") + KV_VERSION + "\n");
    const RunResult help = RunThere("skydome", "--help");
    EXPECT_NE(help.output.find("  --version"), std::string::npos) << help.output;
}

// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// The options a --help lists: the words that begin its option lines.
std::vector<std::string> OptionsListed(const std::string& help) {
    std::vector<std::string> options;
    for (const std::string& line : Lines(help)) {
        if (line.rfind("  -", 0) != 0) continue;
        std::size_t at = 2;
        while (at < line.size() && line[at] == '-') {
            std::size_t end = line.find_first_of(" ,", at);
            if (end == std::string::npos) end = line.size();
            options.push_back(line.substr(at, end - at));
            at = line.find('-', end);
            if (at == std::string::npos || line.compare(end, 2, ", ") != 0) break;
        }
    }
    return options;
}

// The manual page as roff writes an option: every "-" escaped.
std::string Roff(const std::string& option) {
    std::string out;
    for (char c : option) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
}

// --help, the help page and the manual pages have one source, so they cannot
// drift apart: the help page holds the program's --help as it prints it
// (indented as the page's other sections), within the page's 78 columns and
// 1500 lines, and each manual page names every option its --help lists.
TEST_F(Installed, TheHelpPageAndTheManualPagesAreMadeFromHelp) {
    const RunResult help = RunThere("skydome", "--help");
    ASSERT_EQ(help.status, 0);
    std::string indented;
    for (const std::string& line : Lines(help.output)) indented += line.empty() ? "\n" : "  " + line + "\n";
    const std::string page = Slurp(prefix / "share" / "kv3skydome" / "readme.txt");
    EXPECT_NE(page.find("\nSTARTING IT\n\n" + indented + "\nFILES\n"), std::string::npos) << page;
    EXPECT_EQ(page.find('@'), std::string::npos);
    const std::vector<std::string> lines = Lines(page);
    EXPECT_LE(lines.size(), 1500u);
    for (const std::string& line : lines) EXPECT_LE(line.size(), 78u) << line;

    const std::vector<std::string> options = OptionsListed(help.output);
    EXPECT_GE(options.size(), 23u);
    for (const char* option : {"--turbidity", "--location", "--time", "--export-gltf", "--export-panorama",
                               "--panorama-size", "--export-only", "-vms", "-h", "--help", "--version"}) {
        EXPECT_NE(std::find(options.begin(), options.end(), option), options.end()) << option;
    }
    for (const char* program : {"skydome", "kvdump", "kvimage"}) {
        SCOPED_TRACE(program);
        const RunResult own = RunThere(program, "--help");
        ASSERT_EQ(own.status, 0);
        const RunResult man =
            Shell("gzip -dc '" + (prefix / "share" / "man" / "man1" / (std::string(program) + ".1.gz")).string() + "'");
        ASSERT_EQ(man.status, 0) << man.output;
        EXPECT_NE(man.output.find(".SH SYNOPSIS\n.B " + std::string(program) + "\n"), std::string::npos) << man.output;
        EXPECT_NE(man.output.find(std::string(" \"") + program + " " + KV_VERSION + "\" "), std::string::npos);
        // skydome's keys and mouse, examples and files, from its help page.
        if (std::string(program) == "skydome") {
            for (const char* section : {".SH \"KEYS AND MOUSE\"\n.nf\n  Space ", ".SH EXAMPLES\n.nf\n  skydome\n",
                                        ".SH FILES\n.nf\n  skydome.dff "}) {
                EXPECT_NE(man.output.find(section), std::string::npos) << section;
            }
        }
        const std::vector<std::string> listed = OptionsListed(own.output);
        EXPECT_GE(listed.size(), 3u);
        for (const std::string& option : listed) {
            EXPECT_NE(man.output.find("\\fB" + Roff(option) + "\\fR"), std::string::npos) << option;
        }
    }
}

// The licence, and what Debian asks of every package: the copyright file
// (made from LICENSE) and the changelog, compressed, under the package's name.
TEST_F(Installed, TheCopyrightFileAndTheChangelogComeWithThePrograms) {
    const fs::path doc = prefix / "share" / "doc" / "skydome";
    const std::string copyright = Slurp(doc / "copyright");
    EXPECT_EQ(copyright.rfind("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n", 0), 0u);
    const std::string licence = Slurp(fs::path(KV_ASSETS_DIR) / ".." / "LICENSE");
    ASSERT_EQ(licence.rfind("MIT License\n", 0), 0u);
    const std::size_t holders = licence.find("Copyright (c) ") + 14;
    EXPECT_NE(copyright.find("\nCopyright: " + licence.substr(holders, licence.find('\n', holders) - holders) + "\n"),
              std::string::npos)
        << copyright;
    EXPECT_NE(copyright.find("\nLicense: Expat\n Permission is hereby granted, free of charge,"), std::string::npos);
    EXPECT_NE(copyright.find("\n .\n THE SOFTWARE IS PROVIDED \"AS IS\""), std::string::npos) << copyright;
    const RunResult changelog = Shell("gzip -dc '" + (doc / "changelog.gz").string() + "'");
    ASSERT_EQ(changelog.status, 0);
    EXPECT_EQ(changelog.output.rfind(std::string("skydome (") + KV_VERSION + ") unstable; urgency=medium\n", 0), 0u)
        << changelog.output;
    EXPECT_NE(changelog.output.find("\n -- "), std::string::npos);
    EXPECT_EQ(changelog.output.find('@' + std::string("KV_")), std::string::npos);
}

}  // namespace
}  // namespace kv
