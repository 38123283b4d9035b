#include "cli/Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "cli/Interrupt.h"
#include "cli/Platform.h"
#include "tracks/TrackDownload.h"

namespace cli {

std::string DurationText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) {
        return "--:--";
    }
    const long s = std::lround(seconds);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

ProgressReporter::ProgressReporter(const TrackDownload& session,
                                   const std::atomic<double>& trackFraction)
    : m_session(session),
      m_trackFraction(trackFraction),
      m_terminal(StderrIsTerminal()),
      m_start(std::chrono::steady_clock::now()) {
    m_thread = std::thread([this] { Run(); });
}

ProgressReporter::~ProgressReporter() {
    Finish();
}

void ProgressReporter::TrackStarted() {
    std::lock_guard lock(m_mutex);
    m_paused = false;
    m_lastLine.clear();
    // The link's fraction still holds the previous track's end until this one moves it.
    m_fractionAtStart = m_trackFraction.load();
    PrintLocked(false);
}

void ProgressReporter::TrackEnded() {
    std::lock_guard lock(m_mutex);
    if (!m_paused) {
        PrintLocked(true);
    }
}

void ProgressReporter::Interrupt() {
    std::lock_guard lock(m_mutex);
    m_paused = true;
    if (m_terminal && m_drawn) {
        std::cerr << "\n" << std::flush;
        m_drawn = false;
    }
}

void ProgressReporter::Finish() {
    {
        std::lock_guard lock(m_mutex);
        if (m_done) {
            return;
        }
        m_done = true;
    }
    m_wake.notify_all();
    m_thread.join();
    Interrupt();
}

void ProgressReporter::Run() {
    BlockSignals();  // the main thread takes them
    std::unique_lock lock(m_mutex);
    const auto period = std::chrono::milliseconds(m_terminal ? 200 : 1000);
    while (!m_wake.wait_for(lock, period, [this] { return m_done; })) {
        if (!m_paused) {
            PrintLocked(false);
        }
    }
}

void ProgressReporter::PrintLocked(bool trackDone) {
    double track = m_trackFraction.load();
    if (trackDone) {
        track = 1.0;
    } else if (track == m_fractionAtStart) {
        track = 0.0;
    }
    track = std::isfinite(track) ? std::clamp(track, 0.0, 1.0) : 0.0;
    double overall = m_session.OverallFraction();
    overall = std::isfinite(overall) ? std::clamp(overall, 0.0, 1.0) : 0.0;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    const double remaining = overall > 0.001 ? elapsed * (1 - overall) / overall : -1;
    char text[256];
    std::snprintf(text, sizeof text, "Получение %zu трека из %zu: трек %3.0f%%, всего %3.0f%%",
                  m_session.CurrentTrack(), m_session.TrackCount(), track * 100, overall * 100);
    const std::string line = std::string(text) + ", осталось " + DurationText(remaining);
    if (m_terminal) {
        std::cerr << "\r" << line << "\033[K" << std::flush;
        m_drawn = true;
    } else if (trackDone || line != m_lastLine) {
        std::cerr << line << "\n" << std::flush;
        m_lastLine = line;
    }
}

}  // namespace cli
