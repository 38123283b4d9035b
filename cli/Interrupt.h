#pragma once
// Ctrl-C, SIGTERM and SIGHUP while pelnora-cli downloads: the first lets the track under way
// arrive whole and starts no other (what arrived whole is written), or ends the table read after
// its current record; a second ends the program at once, removing the temporary file. The exit
// status after a signal is 128 + the first one's number (130, 143, 129). One implementation per
// platform (Interrupt.cpp: POSIX signals; InterruptWin.cpp: the console's control events,
// Ctrl-C and Ctrl-Break as SIGINT, closing the console as SIGHUP, log-off and shut-down as
// SIGTERM).

#include <atomic>

class TrackDownload;

namespace cli {

// The three signals wait in the calling thread (and in the threads it starts meanwhile), or
// are taken again: helper threads start with them blocked, so only the main thread handles them.
void BlockSignals();
void UnblockSignals();

class DownloadInterrupt {
public:
    // Takes the three signals until destroyed; cancel (when given) is set by a first one that
    // comes while no session is attached, so that the table read ends after its current record.
    explicit DownloadInterrupt(std::atomic<bool>* cancel);
    ~DownloadInterrupt();
    DownloadInterrupt(const DownloadInterrupt&) = delete;
    DownloadInterrupt& operator=(const DownloadInterrupt&) = delete;

    // The session a first signal stops after its current track (nullptr: none).
    void Attach(TrackDownload* session);
    // The number of the first signal taken, 0 when none came.
    int Signal() const;

    // While the kept tracks are written the signals wait, so that the writer always finishes
    // or removes its temporary file; they are taken when the hold ends.
    class Hold {
    public:
        Hold();
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
    };
};

}  // namespace cli
