#pragma once
// The download's progress on standard error, drawn from its own thread: redrawn in place on a
// terminal, plain lines otherwise (at most one a second and one per finished track).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

class TrackDownload;

namespace cli {

class ProgressReporter {
public:
    // trackFraction: the share of the current track received (the link's download fraction).
    ProgressReporter(const TrackDownload& session, const std::atomic<double>& trackFraction);
    ~ProgressReporter();
    ProgressReporter(const ProgressReporter&) = delete;
    ProgressReporter& operator=(const ProgressReporter&) = delete;

    // Track k of n begins, or has ended (its line is shown complete).
    void TrackStarted();
    void TrackEnded();
    // Ends the line in place, so that a question or a message starts on a line of its own;
    // nothing more is drawn until the next track begins.
    void Interrupt();
    // Stops the drawing thread and ends the line.
    void Finish();

private:
    void Run();
    void PrintLocked(bool trackDone);

    const TrackDownload& m_session;
    const std::atomic<double>& m_trackFraction;
    const bool m_terminal;
    const std::chrono::steady_clock::time_point m_start;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    bool m_done = false;
    bool m_drawn = false;
    bool m_paused = true;
    double m_fractionAtStart = 0.0;
    std::string m_lastLine;
};

// "1:05" or "1:02:03"; "--:--" when not known.
std::string DurationText(double seconds);

}  // namespace cli
