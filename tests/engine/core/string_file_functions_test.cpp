// The default file functions: a read opens only a regular file and never
// waits (a named pipe with no writer, a device that never ends); writes are
// the C library's.
#include "engine/core/string_file_functions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace kv {
namespace {

namespace fs = std::filesystem;

std::vector<std::pair<std::string, std::string>> refused;
void Record(const char* name, const char* kind) { refused.emplace_back(name, kind); }

class DefaultFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kvfiles.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        refused.clear();
        FileSetRefusedHook(Record);
    }
    void TearDown() override {
        FileSetRefusedHook(nullptr);
        fs::remove_all(dir);
    }
    std::string Path(const char* name) const { return (dir / name).string(); }
    fs::path dir;
    const FileFunctions& f = *FileFunctionsDefault();
};

TEST_F(DefaultFiles, ReadingTakesOnlyRegularFilesAndNeverWaits) {
    std::ofstream(dir / "text") << "abc";
    fs::create_symlink("text", dir / "link");
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    fs::create_symlink("/dev/zero", dir / "zero");

    for (const char* name : {"text", "link"}) {
        for (const char* access : {"r", "rb", "rt"}) {
            void* file = f.kvfopen(Path(name).c_str(), access);
            ASSERT_NE(file, nullptr) << name << " " << access;
            char got[8] = {};
            EXPECT_EQ(f.kvfread(got, 1, sizeof got, file), 3u);
            EXPECT_STREQ(got, "abc");
            EXPECT_EQ(f.kvfclose(file), 0);
        }
    }
    // A pipe with no writer would hold open() up for ever; /dev/zero would
    // never end; a folder opens but gives no line.
    const struct {
        const char* name;
        const char* kind;
        int error;
    } others[] = {
        {"pipe", "a named pipe", ENODEV},
        {"zero", "a character device", ENODEV},
        {"folder", "a folder", EISDIR},
    };
    for (const auto& o : others) {
        errno = 0;
        EXPECT_EQ(f.kvfopen(Path(o.name).c_str(), "r"), nullptr) << o.name;
        EXPECT_EQ(errno, o.error) << o.name;
        EXPECT_FALSE(f.kvfexist(Path(o.name).c_str())) << o.name;
    }
    ASSERT_EQ(refused.size(), 6u) << "each open and each path test is told";
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(refused[2 * i].first, Path(others[i].name));
        EXPECT_EQ(refused[2 * i].second, others[i].kind);
    }
    // Missing is missing, not refused.
    errno = 0;
    EXPECT_EQ(f.kvfopen(Path("missing").c_str(), "rb"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(refused.size(), 6u);
}

TEST_F(DefaultFiles, WritingAndUpdatingAreTheLibrarysOwn) {
    void* file = f.kvfopen(Path("new").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(f.kvfwrite("xyz", 1, 3, file), 3u);
    EXPECT_EQ(f.kvfclose(file), 0);
    file = f.kvfopen(Path("new").c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(f.kvfwrite("Q", 1, 1, file), 1u);
    EXPECT_EQ(f.kvfclose(file), 0);
    std::ifstream in(dir / "new");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "Qyz");
    // A pipe is written as it always was, here to a reader that holds it.
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    std::FILE* reader = std::fopen(Path("pipe").c_str(), "r+");
    ASSERT_NE(reader, nullptr);
    file = f.kvfopen(Path("pipe").c_str(), "w");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(f.kvfwrite("p", 1, 1, file), 1u);
    EXPECT_EQ(f.kvfclose(file), 0);
    EXPECT_EQ(std::fgetc(reader), 'p');
    std::fclose(reader);
    EXPECT_TRUE(refused.empty());
}

}  // namespace
}  // namespace kv
