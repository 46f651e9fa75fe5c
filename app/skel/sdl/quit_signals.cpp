// The quit signals: interrupt, terminate and hang-up end the run the way
// closing the window does, in every phase of the program, so that it still
// shuts down in order (and saves what it was asked to save). Every other
// signal whose default action ends the program ends it as before, but the
// new files of saves under way go first.
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
// The other signals whose default action ends the program (signal(7)), the
// real-time ones besides. SIGPIPE among them matters only where it is not
// ignored; SIGALRM breaks off waits while the program quits.
constexpr int kFatalSignals[] = {SIGPIPE, SIGUSR1, SIGUSR2, SIGXCPU,   SIGVTALRM, SIGPROF, SIGQUIT, SIGABRT, SIGTRAP,
                                 SIGSYS,  SIGIO,   SIGPWR,  SIGSTKFLT, SIGXFSZ,   SIGSEGV, SIGBUS,  SIGFPE,  SIGILL};

// While the program quits, waits are broken off this often: a wait that
// began after the signal came (a save to a pipe nobody reads) would not be
// broken off by the signal itself.
constexpr suseconds_t kWakeMicroseconds = 100000;

volatile std::sig_atomic_t quitSignal = 0;
int catchers = 0;  // nested PlatformCatchQuitSignals calls
struct sigaction previousActions[kQuitSignalCount];
struct sigaction previousAlarm;
// What each fatal signal did before; caught only where that was the default.
struct sigaction previousFatal[NSIG];
bool fatalCaught[NSIG];

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

// The program ends at once, as it would have without the handler.
extern "C" void OnFatalSignal(int signal) { EndNow(signal); }

// A signal ignored (by whoever started the program) or handled by someone
// else (a sanitizer's report of a fault) is left as it was.
void CatchFatal(int signal) {
    if (signal <= 0 || signal >= NSIG) return;
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) != 0 || before.sa_handler != SIG_DFL ||
        (before.sa_flags & SA_SIGINFO) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    // Nothing else comes between: the removal runs whole.
    sigfillset(&action.sa_mask);
    if (sigaction(signal, &action, &previousFatal[signal]) == 0) fatalCaught[signal] = true;
}

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
    for (int signal : kFatalSignals) CatchFatal(signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) CatchFatal(signal);
}

void PlatformReleaseQuitSignals() {
    if (catchers == 0 || --catchers > 0) return;
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previousAlarm, nullptr);
    for (std::size_t i = 0; i < kQuitSignalCount; ++i) sigaction(kQuitSignals[i], &previousActions[i], nullptr);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (fatalCaught[signal]) sigaction(signal, &previousFatal[signal], nullptr);
        fatalCaught[signal] = false;
    }
}

int32 PlatformQuitSignal() { return static_cast<int32>(quitSignal); }

}  // namespace kv
