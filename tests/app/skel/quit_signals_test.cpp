// The quit signals, each case in a child process of its own: the first asks
// the program to quit and breaks off waits on pipes, even one begun after it;
// the second ends the program by that signal, removing the new files of saves
// under way and leaving the files they were to replace untouched.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/skel/skeleton.h"
#include "engine/stream/safe_write.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

// Runs body in a child; the wait status of its end.
template <typename Body>
int InChild(Body body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = -1;
    waitpid(pid, &status, 0);
    return status;
}

class QuitSignals : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kvquit.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(QuitSignals, TheSecondSignalEndsTheProgramAndRemovesItsNewFiles) {
    const fs::path kept = dir / "sky.dff";
    std::ofstream(kept) << "old";
    const int status = InChild([&] {
        PlatformCatchQuitSignals();
        if (PlatformQuitSignal() != 0) return 10;
        FileWrite a, b;
        if (!FileWriteBegin(&a, kept.c_str()) || !FileWriteBegin(&b, (dir / "new.png").c_str())) return 11;
        std::ofstream(FileWritePath(&a)) << "half a dome";
        raise(SIGHUP);
        // The first only asks: the program goes on, in order.
        if (PlatformQuitSignal() != SIGHUP) return 12;
        raise(SIGTERM);
        return 13;
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGTERM) << "ended by the second signal itself";
    std::ifstream in(kept);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "nothing beside it";
}

TEST_F(QuitSignals, AfterTheFirstSignalWaitsOnPipesAreBrokenOff) {
    const int status = InChild([] {
        PlatformCatchQuitSignals();
        int fds[2];
        if (pipe(fds) != 0) return 10;
        // A pipe whose writer holds it open and never writes: read() would
        // wait for ever. The wait begins after the signal came.
        raise(SIGINT);
        char c;
        const auto start = std::chrono::steady_clock::now();
        const ssize_t n = read(fds[0], &c, 1);
        const int error = errno;
        const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (n != -1 || error != EINTR) return 11;
        // Within a tenth of a second, give or take a loaded machine's delay.
        return waited < 5.0 ? 0 : 12;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(QuitSignals, CatchesNestAndTheLastReleaseRestoresTheActionsBefore) {
    const int status = InChild([] {
        PlatformCatchQuitSignals();
        PlatformCatchQuitSignals();
        PlatformReleaseQuitSignals();
        raise(SIGTERM);  // still caught
        if (PlatformQuitSignal() != SIGTERM) return 10;
        PlatformReleaseQuitSignals();
        raise(SIGHUP);  // the default again: the child ends by it
        return 11;
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGHUP);
}

}  // namespace
}  // namespace kv
