#include <windows.h>

#include <csignal>
#include <cstdio>
#include <mutex>

#include "cli/Interrupt.h"
#include "link/OutputFile.h"
#include "tracks/TrackDownload.h"

namespace cli {

namespace {

// The POSIX numbers, so that the exit status is the same on both platforms.
constexpr int kHangUp = 1;
constexpr int kInterrupt = 2;
constexpr int kTerminate = 15;

std::atomic<int> g_signal{0};
std::atomic<TrackDownload*> g_session{nullptr};
std::atomic<std::atomic<bool>*> g_cancel{nullptr};
// Held while the kept tracks are written; the control handler runs in a thread of its own and
// waits here before it ends the process.
std::mutex g_writing;

constexpr char kFinishingTrack[] =
    "pelnora-cli: трек дополучается, повторный сигнал — выход сразу\n";

void Take(int number) {
    int none = 0;
    if (!g_signal.compare_exchange_strong(none, number)) {
        // The second one: at once, with the first one's status, once the writer is done.
        std::lock_guard lock(g_writing);
        RemoveOutputTemporary();
        ExitProcess(static_cast<UINT>(128 + none));
    }
    if (TrackDownload* session = g_session.load()) {
        // The track under way arrives whole, so the device does not go on sending into the
        // next command.
        session->RequestStopAfterTrack();
        std::fputs(kFinishingTrack, stderr);
        return;
    }
    if (std::atomic<bool>* cancel = g_cancel.load()) {
        cancel->store(true);
    }
}

BOOL WINAPI OnControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            Take(kInterrupt);
            return TRUE;
        case CTRL_CLOSE_EVENT:
            Take(kHangUp);
            return TRUE;
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            Take(kTerminate);
            return TRUE;
        default:
            return FALSE;
    }
}

// raise(SIGTERM) and the C library's own signals.
void OnSignal(int number) {
    std::signal(number, OnSignal);
    Take(number == SIGTERM ? kTerminate : kInterrupt);
}

using Handler = void (*)(int);
Handler g_previousTerm = SIG_DFL;

}  // namespace

// The console's events come in a thread of their own: nothing to block.
void BlockSignals() {}
void UnblockSignals() {}

DownloadInterrupt::DownloadInterrupt(std::atomic<bool>* cancel) {
    g_signal.store(0);
    g_session.store(nullptr);
    g_cancel.store(cancel);
    SetConsoleCtrlHandler(OnControl, TRUE);
    g_previousTerm = std::signal(SIGTERM, OnSignal);
}

DownloadInterrupt::~DownloadInterrupt() {
    SetConsoleCtrlHandler(OnControl, FALSE);
    std::signal(SIGTERM, g_previousTerm == SIG_ERR ? SIG_DFL : g_previousTerm);
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
    g_writing.lock();
}

DownloadInterrupt::Hold::~Hold() {
    g_writing.unlock();
}

}  // namespace cli
