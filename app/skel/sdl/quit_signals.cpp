// The quit signals: interrupt, terminate and hang-up end the run the way
// closing the window does, in every phase of the program, so that it still
// shuts down in order (and saves what it was asked to save).
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>

#include "app/skel/skeleton.h"
#include "engine/stream/safe_write.h"

namespace kv {

namespace {

constexpr int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kQuitSignalCount = sizeof kQuitSignals / sizeof kQuitSignals[0];

// While the program quits, waits are broken off this often: a wait that
// began after the signal came (a save to a pipe nobody reads) would not be
// broken off by the signal itself.
constexpr suseconds_t kWakeMicroseconds = 100000;

volatile std::sig_atomic_t quitSignal = 0;
int catchers = 0;  // nested PlatformCatchQuitSignals calls
struct sigaction previousActions[kQuitSignalCount];
struct sigaction previousAlarm;

// The second signal is not waited for: it ends the program at once, should
// the shut-down itself hang. The new files of saves under way go first; the
// files they were to replace are untouched. The signal's own default action
// then ends the program, so that whoever started it sees what ended it.
void EndNow(int signal) {
    FileWriteRemoveTemporaries();
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t own;
    sigemptyset(&own);
    sigaddset(&own, signal);
    raise(signal);
    pthread_sigmask(SIG_UNBLOCK, &own, nullptr);
    _exit(128 + signal);
}

extern "C" void OnQuitSignal(int signal) {
    if (quitSignal != 0) EndNow(signal);
    quitSignal = signal;
    const itimerval wake{{0, kWakeMicroseconds}, {0, kWakeMicroseconds}};
    setitimer(ITIMER_REAL, &wake, nullptr);
}

// Its coming is all that matters: the wait it lands in fails with EINTR.
extern "C" void OnWake(int) {}

}  // namespace

void PlatformCatchQuitSignals() {
    if (catchers++ > 0) return;
    quitSignal = 0;
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    // No SA_RESTART: a wait the program cannot end by itself (a pipe with no
    // reader, a device) fails with EINTR and the run ends. Files on disk are
    // not interrupted by signals, so a save to one goes on.
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kQuitSignalCount; ++i) sigaction(kQuitSignals[i], &action, &previousActions[i]);
    action.sa_handler = OnWake;
    sigaction(SIGALRM, &action, &previousAlarm);
}

void PlatformReleaseQuitSignals() {
    if (catchers == 0 || --catchers > 0) return;
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previousAlarm, nullptr);
    for (std::size_t i = 0; i < kQuitSignalCount; ++i) sigaction(kQuitSignals[i], &previousActions[i], nullptr);
}

int32 PlatformQuitSignal() { return static_cast<int32>(quitSignal); }

}  // namespace kv
