#pragma once
// One download session: the chosen tracks through DownloadTrack, with progress, the keep-or-drop
// question and stop; then where and how the kept tracks are written. The window's download
// dialog and the command-line tool both drive it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/KmlOutput.h"
#include "link/TrackEntry.h"
#include "tracks/TrackFormats.h"
#include "tracks/TrackTimeline.h"

class DeviceLink;

// What a session asks of its driver; called on the thread that runs the session.
class TrackDownloadObserver {
public:
    virtual ~TrackDownloadObserver() = default;
    // Before track k (1-based) of n is transferred.
    virtual void OnTrackStarted(std::size_t k, std::size_t n) = 0;
    // After track k of n has been handled, whatever became of it.
    virtual void OnTrackEnded(std::size_t /*k*/, std::size_t /*n*/) {}
    // A track that arrived with a checksum mismatch: true keeps it with the points it has.
    virtual bool KeepDamagedTrack(uint32_t index) = 0;
};

// How a session ended. Indices are positions in the link's table, in the order chosen.
struct TrackDownloadResult {
    std::vector<uint32_t> saved;        // kept: arrived whole, or damaged and kept on request
    std::vector<uint32_t> dropped;      // damaged and dropped on request
    std::vector<uint32_t> notReceived;  // not transferred or cut off (stop, link error)
    bool stopped = false;               // a stop was asked for before the end
    std::string error;                  // the link error that ended the session, or empty
    bool lineLost = false;              // that error says the device or its adapter has gone

    // Every chosen track is among the saved ones.
    bool Complete() const { return dropped.empty() && notReceived.empty() && error.empty(); }
};

// Runs the tracks at indices of link.m_tracks one after the other.
class TrackDownload {
public:
    TrackDownload(DeviceLink& link, std::vector<uint32_t> indices);
    TrackDownload(const TrackDownload&) = delete;
    TrackDownload& operator=(const TrackDownload&) = delete;

    // Runs the whole session (once); never throws a link error, it ends the session instead.
    TrackDownloadResult Run(TrackDownloadObserver& observer);

    // From any thread, also from a signal handler (lock-free atomics only): no further track is
    // started, and the one being transferred is cut off after its current record. The device
    // goes on sending the rest of that track; the link drains it before its next command.
    void RequestStop();
    // No further track is started; the one being transferred arrives whole (the line stays in
    // step with the device).
    void RequestStopAfterTrack();
    bool StopRequested() const { return m_stop.load(); }
    bool CutRequested() const { return m_cut.load(); }
    bool Finished() const { return m_finished.load(std::memory_order_acquire); }

    // Overall share of the chosen points handled, 0..1; from any thread.
    double OverallFraction() const;
    // The track being handled, 1-based (0 before the first), and the number chosen.
    std::size_t CurrentTrack() const { return m_current.load(); }
    std::size_t TrackCount() const { return m_indices.size(); }
    const std::vector<uint32_t>& Indices() const { return m_indices; }

private:
    DeviceLink& m_link;
    std::vector<uint32_t> m_indices;
    std::vector<uint64_t> m_weights;  // points of each chosen track + 1
    uint64_t m_totalWeight = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_cut{false};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_transferring{false};
    std::atomic<std::size_t> m_current{0};
    std::atomic<uint64_t> m_doneWeight{0};
    std::atomic<double> m_progressAtStart{0.0};
};

// Sets the link's flag that cuts a transfer under way short (after its current record); the
// window's table read and the session use it.
void SetLinkCancel(DeviceLink& link, bool cancel);

// The entries of table at indices (out-of-range indices left out), for the writer.
std::vector<const TrackEntry*> SelectTracks(const std::vector<TrackEntry>& table,
                                            const std::vector<uint32_t>& indices);

// Before the first byte goes to the device: CheckOutputPath with the size of the file the chosen
// tracks make in format. For IGC path is a folder: an existing one must be a folder that can be
// written; a missing one is made in its parent, which is checked instead.
bool CheckTrackOutput(const std::string& path, const std::vector<TrackEntry>& table,
                      const std::vector<uint32_t>& indices, std::string* error,
                      TrackFormat format = TrackFormat::Kml);

// Where the kept tracks of a download go: path, unless the download was incomplete and path
// names an existing regular file (or a link to one), or for a folder format an existing folder:
// then IncompleteFileName(path) beside it. The files of an earlier download are never replaced
// by fewer tracks.
std::string TrackOutputPath(const std::string& path, bool complete, bool folder = false);

// The kept tracks written, and where.
struct TrackSaveOutcome {
    KmlWriteResult result = KmlWriteResult::NothingToWrite;
    std::string path;         // the file written (or tried)
    bool incomplete = false;  // path is the file beside the one asked for
    std::size_t tracks = 0;   // tracks in the file
    std::size_t chosen = 0;   // tracks chosen for the download
    std::string error;        // why writing failed
    // Tracks left out or written without times by the writer, one text each (for the user).
    std::vector<std::string> notes;
};

// Writes the saved tracks of result (entries of table) in format to TrackOutputPath(path, ...).
// offset gives the UTC times of the formats that carry them (not the track KML).
TrackSaveOutcome SaveDownloadedTracks(const std::vector<TrackEntry>& table,
                                      const TrackDownloadResult& result, const std::string& path,
                                      TrackFormat format = TrackFormat::Kml,
                                      const ClockOffset& offset = ClockOffset::Computer());

// The refusal of CheckTrackOutput as the user sees it: nothing was asked of the device.
std::string OutputRefusedText(const std::string& why);

// "Сохранено 4 трека из 7 в файл …" ("в папку …" for IGC; with the Russian plural forms), a
// line when the file stands beside the one asked for, then the notes; "Ошибка при получении
// треков" when none was kept.
std::string SaveOutcomeText(const TrackSaveOutcome& outcome, const std::string& askedPath);
