// Safe file writes: what the target is decides how it is written (replaced,
// written in place, refused), links lead to their files, and nothing is left
// beside the target whatever happens.
#include "engine/stream/safe_write.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/string_file_functions.h"
#include "stream_fixture.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
void WriteText(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

class FileWriteTest : public StreamTest {
  protected:
    void SetUp() override {
        StreamTest::SetUp();
        char pattern[] = "/tmp/kvfilewrite.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        fs::remove_all(dir);
        StreamTest::TearDown();
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // The whole write as a writer does it: begin, write text through the
    // engine's file functions, commit.
    static bool Write(const fs::path& path, const std::string& text, FileWriteStatus* status = nullptr) {
        FileWrite w;
        bool ok = FileWriteBegin(&w, path.c_str());
        if (ok) {
            const FileFunctions* files = FileFunctionsDefault();
            errno = 0;
            void* f = files->kvfopen(FileWritePath(&w), "wb");
            if (f == nullptr) {
                FileWriteFail(&w, FileWriteCreate, errno);
            } else {
                errno = 0;
                const bool written = files->kvfwrite(text.data(), 1, text.size(), f) == text.size();
                int error = errno;
                if (files->kvfclose(f) != 0 && error == 0) error = errno;
                if (!written || error != 0) FileWriteFail(&w, FileWriteData, error);
            }
            ok = FileWriteCommit(&w, FileWriteInPlace(&w) ? -1 : static_cast<int64_t>(text.size()));
        }
        if (status != nullptr) *status = w.status;
        return ok;
    }
    fs::path dir;
};

TEST_F(FileWriteTest, AFileIsReplacedWholeKeepingItsModeAndANewOneFollowsTheUmask) {
    const fs::path target = dir / "sky.dff";
    ASSERT_TRUE(Write(target, "new"));
    const mode_t mask = umask(0);
    umask(mask);
    struct stat info;
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask);
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_TRUE(Write(target, "newer"));
    EXPECT_EQ(ReadText(target), "newer");
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(Entries(), std::vector<std::string>{"sky.dff"});
}

TEST_F(FileWriteTest, TheNewFileHasAShortNameOfItsOwnBesideTheTarget) {
    // A name at the file system's limit: a suffix on it would be too long.
    const std::string longName(255, 'n');
    const fs::path target = dir / longName;
    FileWrite w;
    ASSERT_TRUE(FileWriteBegin(&w, target.c_str()));
    const fs::path temp = FileWritePath(&w);
    EXPECT_EQ(temp.parent_path(), dir);
    EXPECT_LE(temp.filename().string().size(), 16u);
    // Made exclusively, empty, under a name no one else holds.
    struct stat info;
    ASSERT_EQ(lstat(temp.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_size, 0);
    FileWrite second;
    ASSERT_TRUE(FileWriteBegin(&second, target.c_str()));
    EXPECT_NE(fs::path(FileWritePath(&second)), temp);
    FileWriteAbort(&second);
    FileWriteAbort(&w);
    EXPECT_TRUE(Entries().empty());
    ASSERT_TRUE(Write(target, "long"));
    EXPECT_EQ(ReadText(target), "long");
}

TEST_F(FileWriteTest, LinksLeadToTheFileTheyName) {
    fs::create_directory(dir / "real");
    WriteText(dir / "real" / "kept.dff", "old");
    // Relative links, through two of them, each relative to its own folder.
    fs::create_symlink("real/kept.dff", dir / "first");
    fs::create_directory(dir / "links");
    fs::create_symlink("../first", dir / "links" / "second");
    ASSERT_TRUE(Write(dir / "links" / "second", "through"));
    EXPECT_TRUE(fs::is_symlink(dir / "first"));
    EXPECT_TRUE(fs::is_symlink(dir / "links" / "second"));
    EXPECT_EQ(ReadText(dir / "real" / "kept.dff"), "through");

    // A dangling link makes the file it names.
    fs::create_symlink("real/made.dff", dir / "dangling");
    ASSERT_TRUE(Write(dir / "dangling", "made"));
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
    EXPECT_EQ(ReadText(dir / "real" / "made.dff"), "made");
    EXPECT_EQ(fs::read_symlink(dir / "dangling"), "real/made.dff");
}

TEST_F(FileWriteTest, LoopsFoldersAndSocketsAreRefusedAndLeaveThemAsTheyWere) {
    fs::create_symlink("b", dir / "a");
    fs::create_symlink("a", dir / "b");
    fs::create_symlink("self", dir / "self");
    for (const char* name : {"a", "self"}) {
        FileWriteStatus status{};
        EXPECT_FALSE(Write(dir / name, "x", &status));
        EXPECT_EQ(status.step, FileWriteFollow);
        EXPECT_EQ(status.osError, ELOOP);
    }
    fs::create_directory(dir / "folder");
    FileWriteStatus status{};
    EXPECT_FALSE(Write(dir / "folder", "x", &status));
    EXPECT_EQ(status.step, FileWriteFolder);
    EXPECT_STREQ(FileWriteStepText(status.step), "it is a folder");
    // A missing folder on the way: no file can be made.
    EXPECT_FALSE(Write(dir / "missing" / "x", "x", &status));
    EXPECT_EQ(status.step, FileWriteCreate);
    EXPECT_EQ(status.osError, ENOENT);
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"a", "b", "folder", "self"}));
}

TEST_F(FileWriteTest, PipesAndDevicesAreWrittenInPlaceNeverReplaced) {
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // The reader holds the pipe open, so the write neither blocks nor loses data.
    std::FILE* reader = std::fopen(fifo.c_str(), "r+b");
    ASSERT_NE(reader, nullptr);
    FileWrite w;
    ASSERT_TRUE(FileWriteBegin(&w, fifo.c_str()));
    EXPECT_TRUE(FileWriteInPlace(&w));
    EXPECT_EQ(fs::path(FileWritePath(&w)), fifo);
    FileWriteAbort(&w);
    ASSERT_TRUE(Write(fifo, "piped"));
    char got[6] = {};
    ASSERT_EQ(std::fread(got, 1, 5, reader), 5u);
    EXPECT_STREQ(got, "piped");
    std::fclose(reader);
    EXPECT_TRUE(fs::is_fifo(fifo));

    if (geteuid() != 0) GTEST_SKIP() << "devices can be made only by an administrator";
    // Our own null and full devices, never the system's.
    const fs::path null = dir / "null", full = dir / "full";
    ASSERT_EQ(mknod(null.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
    ASSERT_EQ(mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)), 0);
    EXPECT_TRUE(Write(null, "gone"));
    FileWriteStatus status{};
    EXPECT_FALSE(Write(full, "no room", &status));
    EXPECT_EQ(status.step, FileWriteData);
    EXPECT_EQ(status.osError, ENOSPC);
    EXPECT_TRUE(fs::is_character_file(null));
    EXPECT_TRUE(fs::is_character_file(full));
    // Through a link too.
    fs::create_symlink("full", dir / "to-full");
    EXPECT_FALSE(Write(dir / "to-full", "no room", &status));
    EXPECT_EQ(status.osError, ENOSPC);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"fifo", "full", "null", "to-full"}));
}

TEST_F(FileWriteTest, AFailedOrShortWriteKeepsTheOldFile) {
    const fs::path target = dir / "kept";
    WriteText(target, "yesterday");
    FileWrite w;
    ASSERT_TRUE(FileWriteBegin(&w, target.c_str()));
    WriteText(FileWritePath(&w), "half");
    EXPECT_FALSE(FileWriteCommit(&w, 8));
    EXPECT_EQ(w.status.step, FileWriteShort);
    EXPECT_EQ(ReadText(target), "yesterday");
    ASSERT_TRUE(FileWriteBegin(&w, target.c_str()));
    FileWriteFail(&w, FileWriteData, ENOSPC);
    FileWriteFail(&w, FileWriteReplace, EIO);  // the first failure is the one told
    EXPECT_FALSE(FileWriteCommit(&w, -1));
    EXPECT_EQ(w.status.step, FileWriteData);
    EXPECT_EQ(w.status.osError, ENOSPC);
    EXPECT_EQ(ReadText(target), "yesterday");
    EXPECT_EQ(Entries(), std::vector<std::string>{"kept"});
}

// The order in which the data reaches the disk, seen through the writer's
// system-call table: the new file's data is synced before the rename makes it
// the target (else a crash just after the rename can leave an empty file under
// the old name), and the folder after it. A failed sync renames nothing.
namespace watched {
std::vector<std::string> calls;
int syncResult = 0;
int makeTempError = 0;  // errno for the making of the new file to fail with
// Whether every call that makes, renames or removes the new file ran with the
// quit signals held back.
bool signalsHeld = true;
void CheckHeld() {
    sigset_t now;
    pthread_sigmask(SIG_SETMASK, nullptr, &now);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) signalsHeld = signalsHeld && sigismember(&now, s) == 1;
}
std::vector<std::pair<int, std::string>> open;  // fd -> what it is
std::string NameOf(int fd) {
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (it->first == fd) return it->second;  // descriptors are reused: the latest open
    return "?";
}
int MakeTemp(char* pattern) {
    CheckHeld();
    if (makeTempError != 0) {
        errno = makeTempError;
        return -1;
    }
    const int fd = mkstemp(pattern);
    calls.push_back("make temp");
    open.push_back({fd, "temp"});
    return fd;
}
int Open(const char* path, int flags) {
    const int fd = ::open(path, flags);
    struct stat info;
    const bool folder = stat(path, &info) == 0 && S_ISDIR(info.st_mode);
    open.push_back({fd, folder ? "folder" : "temp"});
    return fd;
}
int Sync(int fd) {
    calls.push_back("sync " + NameOf(fd));
    if (syncResult != 0) {
        errno = syncResult;
        return -1;
    }
    return fsync(fd);
}
int Close(int fd) { return ::close(fd); }
int Rename(const char* from, const char* to) {
    CheckHeld();
    calls.push_back("rename");
    return std::rename(from, to);
}
int Unlink(const char* path) {
    CheckHeld();
    calls.push_back("remove temp");
    return ::unlink(path);
}
constexpr FileWriteSystem kSystem = {
    .makeTemp = MakeTemp, .open = Open, .sync = Sync, .close = Close, .rename = Rename, .unlink = Unlink};
}  // namespace watched

TEST_F(FileWriteTest, TheDataIsOnDiskBeforeTheRenameAndAFailedSyncKeepsTheOldFile) {
    const fs::path target = dir / "sky.dff";
    WriteText(target, "old");
    watched::calls.clear();
    watched::syncResult = 0;
    FileWriteSetSystem(&watched::kSystem);
    EXPECT_TRUE(Write(target, "new sky"));
    EXPECT_EQ(watched::calls, (std::vector<std::string>{"make temp", "sync temp", "rename", "sync folder"}));
    EXPECT_EQ(ReadText(target), "new sky");

    watched::calls.clear();
    watched::syncResult = EIO;
    FileWriteStatus status;
    EXPECT_FALSE(Write(target, "lost sky", &status));
    FileWriteSetSystem(nullptr);
    EXPECT_EQ(watched::calls, (std::vector<std::string>{"make temp", "sync temp", "remove temp"}));
    EXPECT_EQ(status.step, FileWriteData);
    EXPECT_EQ(status.osError, EIO);
    EXPECT_EQ(ReadText(target), "new sky");
    EXPECT_EQ(Entries(), std::vector<std::string>{"sky.dff"});
}

// What a user reads about a failed write: why, in words, with the system's
// reason; what to do; and that the file there is unchanged only when there
// was one.
TEST_F(FileWriteTest, AFailureIsToldInWordsAndTheKeptFileOnlyWhenThereWasOne) {
    char text[512];
    FileWriteStatus status{};
    EXPECT_FALSE(Write(dir / "missing" / "sky.dff", "x", &status));
    EXPECT_EQ(status.kept, 0);
    EXPECT_STREQ(FileWriteProblem(&status, text, sizeof text),
                 "the folder it would go in does not exist (No such file or directory). Make the folder first, or "
                 "give a name in a folder that exists");
    // A folder that is there but makes no files (/proc answers "no such
    // file") is not said to be missing.
    EXPECT_FALSE(Write(std::filesystem::path("/proc") / "sky.dff", "x", &status));
    EXPECT_EQ(status.step, FileWriteNoNewFiles);
    EXPECT_STREQ(FileWriteProblem(&status, text, sizeof text),
                 "its folder is there, but it is a system folder that makes no new files (No such file or "
                 "directory). Give a name in a folder of your own, such as your home folder");

    // No room for the new file beside one saved before.
    WriteText(dir / "sky.dff", "old");
    static const FileWriteSystem full = {.makeTemp =
                                             [](char*) {
                                                 errno = ENOSPC;
                                                 return -1;
                                             },
                                         .open = [](const char* path, int flags) { return ::open(path, flags); },
                                         .sync = fsync,
                                         .close = close,
                                         .rename = [](const char* a, const char* b) { return std::rename(a, b); },
                                         .unlink = unlink};
    FileWriteSetSystem(&full);
    EXPECT_FALSE(Write(dir / "sky.dff", "new", &status));
    FileWriteSetSystem(nullptr);
    EXPECT_EQ(status.kept, 1);
    EXPECT_STREQ(FileWriteProblem(&status, text, sizeof text),
                 "the disk is full (No space left on device). Free some space, or write to another disk. The file "
                 "there is unchanged");
    EXPECT_EQ(ReadText(dir / "sky.dff"), "old");

    const FileWriteStatus tooLarge{FileWriteData, EFBIG, 1};
    EXPECT_STREQ(FileWriteReason(&tooLarge), "it would grow past the largest file allowed (the file-size limit)");
    EXPECT_STREQ(FileWriteAdvice(&tooLarge), "Raise the limit (ulimit -f), or write to another disk");
    const FileWriteStatus denied{FileWriteCreate, EACCES, 0};
    EXPECT_STREQ(FileWriteReason(&denied), "there is no permission to write in its folder");
    const FileWriteStatus shortWrite{FileWriteShort, 0, 1};
    EXPECT_STREQ(FileWriteReason(&shortWrite), "not every byte reached the disk");
    const FileWriteStatus folder{FileWriteFolder, EISDIR, 0};
    EXPECT_STREQ(FileWriteAdvice(&folder), "Give the name of a file, not of a folder");
    // Cut short, never past the room given.
    char small[12];
    EXPECT_STREQ(FileWriteProblem(&tooLarge, small, sizeof small), "it would gr");
}

// What a signal handler ending the program removes: the new files of the
// writes under way, never a target, never a committed file. The writer makes,
// renames and removes them with the signals held back, so the handler never
// sees a table behind the disk.
TEST_F(FileWriteTest, NewFilesUnderWayAreKnownToASignalHandler) {
    const fs::path kept = dir / "kept", fresh = dir / "fresh", done = dir / "done";
    WriteText(kept, "old");
    watched::signalsHeld = true;
    watched::syncResult = 0;
    FileWriteSetSystem(&watched::kSystem);
    FileWrite a, b, c;
    ASSERT_TRUE(FileWriteBegin(&a, kept.c_str()));
    ASSERT_TRUE(FileWriteBegin(&b, fresh.c_str()));
    WriteText(FileWritePath(&a), "half of it");
    ASSERT_TRUE(Write(done, "whole"));
    ASSERT_TRUE(FileWriteBegin(&c, done.c_str()));
    FileWriteAbort(&c);
    EXPECT_EQ(Entries().size(), 4u) << "kept, done and two new files under way";

    FileWriteRemoveTemporaries();
    EXPECT_EQ(Entries(), (std::vector<std::string>{"done", "kept"}));
    EXPECT_EQ(ReadText(kept), "old");
    EXPECT_EQ(ReadText(done), "whole");
    // What the handler removed is gone for the writer too: nothing replaces
    // the target, nothing is left.
    EXPECT_FALSE(FileWriteCommit(&a, -1));
    FileWriteAbort(&b);
    FileWriteSetSystem(nullptr);
    EXPECT_TRUE(watched::signalsHeld);
    FileWriteRemoveTemporaries();
    EXPECT_EQ(Entries(), (std::vector<std::string>{"done", "kept"}));
    EXPECT_EQ(ReadText(kept), "old");
}

// The new file is made beside the target: a writable file in a folder that is
// not (or on a read-only mount) cannot be saved, and the message must say it
// is the folder, and what to do, not that the file cannot be made.
TEST_F(FileWriteTest, AFolderThatTakesNoNewFileIsNamedAsTheProblem) {
    const fs::path target = dir / "sky.dff";
    WriteText(target, "old");
    watched::syncResult = 0;
    FileWriteSetSystem(&watched::kSystem);
    for (int error : {EACCES, EROFS}) {
        watched::makeTempError = error;
        FileWriteStatus status{};
        EXPECT_FALSE(Write(target, "new", &status));
        EXPECT_EQ(status.step, FileWriteFolderLocked) << error;
        EXPECT_EQ(status.osError, error);
    }
    watched::makeTempError = ENOSPC;
    FileWriteStatus status{};
    EXPECT_FALSE(Write(target, "new", &status));
    EXPECT_EQ(status.step, FileWriteCreate) << "no room is no folder's fault";
    watched::makeTempError = 0;
    FileWriteSetSystem(nullptr);
    EXPECT_STREQ(FileWriteStepText(FileWriteFolderLocked), "its folder cannot be written to");
    char text[512];
    const FileWriteStatus locked{FileWriteFolderLocked, EACCES, 1};
    const std::string problem = FileWriteProblem(&locked, text, sizeof text);
    EXPECT_EQ(problem.find("its folder cannot be written to (Permission denied)"), 0u) << problem;
    EXPECT_NE(problem.find("beside the old one"), std::string::npos) << problem;
    EXPECT_NE(problem.find("save into a folder you can write to"), std::string::npos) << problem;
    // With no file there before, there is no old one to keep beside.
    const FileWriteStatus fresh{FileWriteFolderLocked, EACCES, 0};
    EXPECT_STREQ(FileWriteAdvice(&fresh), "Give a name in a folder you can write in");
    const FileWriteStatus readOnly{FileWriteFolderLocked, EROFS, 1};
    EXPECT_STREQ(FileWriteReason(&readOnly), "its folder is on a read-only file system");
    EXPECT_EQ(ReadText(target), "old");
    EXPECT_EQ(Entries(), std::vector<std::string>{"sky.dff"});
}

// /dev/stdout is a link to /proc/self/fd/1, itself a link the kernel alone
// can follow when it names a pipe ("pipe:[N]"): what the name reaches is
// asked of the kernel, and a pipe is written in place under the name given.
TEST_F(FileWriteTest, APipeReachedThroughTheKernelsOwnLinksIsWrittenInPlace) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const fs::path out = dir / "stdout";
    fs::create_symlink("/proc/self/fd/" + std::to_string(fds[1]), out);
    FileWrite w;
    ASSERT_TRUE(FileWriteBegin(&w, out.c_str()));
    EXPECT_TRUE(FileWriteInPlace(&w));
    EXPECT_STREQ(FileWritePath(&w), out.c_str());
    FileWriteAbort(&w);
    ASSERT_TRUE(Write(out, "down the pipe"));
    close(fds[1]);
    char got[32] = {};
    EXPECT_EQ(read(fds[0], got, sizeof got), 13);
    EXPECT_STREQ(got, "down the pipe");
    close(fds[0]);
    EXPECT_EQ(Entries(), std::vector<std::string>{"stdout"});
}

}  // namespace
}  // namespace kv::test
