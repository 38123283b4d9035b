#include "cli/Interrupt.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>

#include "link/OutputFile.h"
#include "tracks/TrackDownload.h"

namespace cli {

namespace {

constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};

// Only lock-free atomics are touched from the handler.
std::atomic<int> g_signal{0};
std::atomic<TrackDownload*> g_session{nullptr};
std::atomic<std::atomic<bool>*> g_cancel{nullptr};
struct sigaction g_previous[3];  // while a DownloadInterrupt lives
sigset_t g_heldMask;             // while a Hold lives
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<TrackDownload*>::is_always_lock_free);

constexpr char kFinishingTrack[] =
    "pelnora-cli: трек дополучается, повторный сигнал — выход сразу\n";

void OnSignal(int number) {
    int none = 0;
    if (!g_signal.compare_exchange_strong(none, number)) {
        // The second signal: at once, with the first one's status.
        RemoveOutputTemporary();
        _exit(128 + none);
    }
    if (TrackDownload* session = g_session.load()) {
        // The track under way arrives whole, so the device does not go on sending into the
        // next command.
        session->RequestStopAfterTrack();
        const ssize_t written = write(STDERR_FILENO, kFinishingTrack, sizeof kFinishingTrack - 1);
        (void)written;
        return;
    }
    if (std::atomic<bool>* cancel = g_cancel.load()) {
        cancel->store(true);
    }
}

sigset_t SignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : kSignals) {
        sigaddset(&set, number);
    }
    return set;
}

}  // namespace

void BlockSignals() {
    const sigset_t set = SignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void UnblockSignals() {
    const sigset_t set = SignalSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

DownloadInterrupt::DownloadInterrupt(std::atomic<bool>* cancel) {
    g_signal.store(0);
    g_session.store(nullptr);
    g_cancel.store(cancel);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_mask = SignalSet();
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        sigaction(kSignals[i], &action, &g_previous[i]);
    }
}

DownloadInterrupt::~DownloadInterrupt() {
    for (int i = 0; i < 3; ++i) {
        sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    g_session.store(nullptr);
    g_cancel.store(nullptr);
}

void DownloadInterrupt::Attach(TrackDownload* session) {
    g_session.store(session);
    if (session != nullptr && g_signal.load() != 0) {
        session->RequestStopAfterTrack();
    }
}

int DownloadInterrupt::Signal() const {
    return g_signal.load();
}

DownloadInterrupt::Hold::Hold() {
    const sigset_t set = SignalSet();
    pthread_sigmask(SIG_BLOCK, &set, &g_heldMask);
}

DownloadInterrupt::Hold::~Hold() {
    pthread_sigmask(SIG_SETMASK, &g_heldMask, nullptr);
}

}  // namespace cli
