#include "tracks/TrackDownload.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/LinkFailure.h"
#include "link/OutputFile.h"
#include "tracks/TrackIgc.h"
#include "tracks/TrackKml.h"

namespace {

// The Russian noun form for a count: 1 трек, 2 трека, 5 треков (11..14 треков).
const char* TrackWord(std::size_t count) {
    const std::size_t lastTwo = count % 100;
    const std::size_t last = count % 10;
    if (lastTwo >= 11 && lastTwo <= 14) {
        return "треков";
    }
    if (last == 1) {
        return "трек";
    }
    if (last >= 2 && last <= 4) {
        return "трека";
    }
    return "треков";
}

}  // namespace

void SetLinkCancel(DeviceLink& link, bool cancel) {
    link.m_cancel.store(cancel);
}

TrackDownload::TrackDownload(DeviceLink& link, std::vector<uint32_t> indices)
    : m_link(link), m_indices(std::move(indices)) {
    // Point counts as the table gives them; the session never changes the records.
    for (const uint32_t index : m_indices) {
        const uint64_t points =
            index < m_link.m_tracks.size() ? m_link.m_tracks[index].PointCount() : 0;
        m_weights.push_back(points + 1);
        m_totalWeight += points + 1;
    }
}

TrackDownloadResult TrackDownload::Run(TrackDownloadObserver& observer) {
    TrackDownloadResult result;
    if (m_finished.load() || m_running.exchange(true)) {
        result.error = "download session already run";
        return result;
    }
    SetLinkCancel(m_link, m_cut.load());
    const std::size_t n = m_indices.size();
    std::size_t k = 0;
    bool handled = false;  // track k is in one of the lists already
    try {
        for (; k < n && !m_stop.load(); ++k, handled = false) {
            const uint32_t index = m_indices[k];
            m_current.store(k + 1);
            observer.OnTrackStarted(k + 1, n);
            m_progressAtStart.store(m_link.m_progress.load());
            m_transferring.store(true);
            // Only the verdict is taken here; the points stay in the link's table.
            const bool whole = m_link.DownloadTrack(index).checksumOk;
            m_transferring.store(false);
            if (whole) {
                result.saved.push_back(index);
            } else if (m_cut.load()) {
                // Cut off by the stop: what came is not a track.
                result.notReceived.push_back(index);
            } else if (observer.KeepDamagedTrack(index)) {
                result.saved.push_back(index);
            } else {
                result.dropped.push_back(index);
            }
            handled = true;
            m_doneWeight.fetch_add(m_weights[k]);
            observer.OnTrackEnded(k + 1, n);
        }
    } catch (const MCommunication::LLDevException& e) {
        const LinkFailure failure = DescribeLinkFailure(e);
        result.error = failure.text;
        result.lineLost = failure.lineLost;
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    m_transferring.store(false);
    // The track under way when the session ended, and every one after it.
    for (k += handled && k < n ? 1 : 0; k < n; ++k) {
        result.notReceived.push_back(m_indices[k]);
    }
    result.stopped = m_stop.load();
    SetLinkCancel(m_link, false);
    m_running.store(false);
    m_finished.store(true, std::memory_order_release);
    return result;
}

void TrackDownload::RequestStop() {
    m_cut.store(true);
    m_stop.store(true);
    if (m_running.load()) {
        SetLinkCancel(m_link, true);
    }
}

void TrackDownload::RequestStopAfterTrack() {
    m_stop.store(true);
}

double TrackDownload::OverallFraction() const {
    if (m_totalWeight == 0 || Finished()) {
        return 1.0;
    }
    double current = m_link.m_progress.load();
    if (!std::isfinite(current)) {
        current = 0.0;
    }
    current = std::clamp(current, 0.0, 1.0);
    const std::size_t k = m_current.load();
    const uint64_t done = m_doneWeight.load();
    // The link's fraction is not reset between tracks: it counts only once the current track
    // has moved it.
    double partial = 0.0;
    if (m_transferring.load() && k >= 1 && k <= m_weights.size() &&
        current != m_progressAtStart.load()) {
        partial = current * static_cast<double>(m_weights[k - 1] - 1);
    }
    return std::clamp((static_cast<double>(done) + partial) / static_cast<double>(m_totalWeight),
                      0.0, 1.0);
}

std::vector<const TrackEntry*> SelectTracks(const std::vector<TrackEntry>& table,
                                            const std::vector<uint32_t>& indices) {
    std::vector<const TrackEntry*> tracks;
    tracks.reserve(indices.size());
    for (const uint32_t index : indices) {
        if (index < table.size()) {
            tracks.push_back(&table[index]);
        }
    }
    return tracks;
}

namespace {

// Bytes per point of the formats with times, at the low side of what their writers make: the
// free-space check refuses only what surely cannot fit.
uint64_t EstimateBytes(TrackFormat format, const std::vector<uint32_t>& counts) {
    uint64_t perPoint = 0;
    switch (format) {
        case TrackFormat::Kml:
            return EstimateTrackKmlBytes(counts);
        case TrackFormat::KmlTime:
            perPoint = 90;
            break;
        case TrackFormat::Gpx:
            perPoint = 200;
            break;
        case TrackFormat::Igc:
            perPoint = 50;
            break;
    }
    uint64_t bytes = 1024;
    for (const uint32_t points : counts) {
        bytes += 512 + perPoint * points;
    }
    return bytes;
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

bool CheckTrackOutput(const std::string& path, const std::vector<TrackEntry>& table,
                      const std::vector<uint32_t>& indices, std::string* error,
                      TrackFormat format) {
    std::vector<uint32_t> counts;
    counts.reserve(indices.size());
    for (const uint32_t index : indices) {
        counts.push_back(index < table.size() ? table[index].PointCount() : 0);
    }
    const uint64_t bytes = EstimateBytes(format, counts);
    if (!TrackFormatOf(format).folder) {
        return CheckOutputPath(path, bytes, error);
    }
    if (path.empty() || path == "-") {
        if (error != nullptr) {
            *error = path.empty() ? "Не указана папка" : "IGC пишется в папку, не в поток \"-\"";
        }
        return false;
    }
    const std::string folder = WithoutTrailingSlashes(path);
    if (OutputPathExists(folder)) {
        if (!IsOutputFolder(folder)) {
            if (error != nullptr) {
                *error = folder + ": это не папка";
            }
            return false;
        }
        // A file made in the folder: the folder can be written and has the room.
        return CheckOutputPath(folder + "/pelnora.igc", bytes, error);
    }
    // The folder is made at the end: its parent must take it.
    return CheckOutputPath(folder, bytes, error);
}

std::string TrackOutputPath(const std::string& path, bool complete, bool folder) {
    if (complete || path == "-") {
        return path;
    }
    if (folder) {
        // The logs of an earlier download stay as they were; the folder beside takes these.
        const std::string name = WithoutTrailingSlashes(path);
        return IsOutputFolder(name) ? name + "-неполный" : path;
    }
    // A link to a regular file counts as that file.
    if (IsRegularOutputFile(path)) {
        return IncompleteFileName(path);
    }
    return path;
}

TrackSaveOutcome SaveDownloadedTracks(const std::vector<TrackEntry>& table,
                                      const TrackDownloadResult& result, const std::string& path,
                                      TrackFormat format, const ClockOffset& offset) {
    TrackSaveOutcome outcome;
    outcome.chosen = result.saved.size() + result.dropped.size() + result.notReceived.size();
    const std::vector<const TrackEntry*> tracks = SelectTracks(table, result.saved);
    outcome.tracks = tracks.size();
    if (tracks.empty()) {
        outcome.path = path;
        return outcome;
    }
    const TrackFormatInfo& info = TrackFormatOf(format);
    outcome.path = TrackOutputPath(path, result.Complete(), info.folder);
    outcome.incomplete = outcome.path != path && outcome.path != WithoutTrailingSlashes(path);
    if (format == TrackFormat::Kml) {
        outcome.result = WriteTrackKmlFrom(tracks, outcome.path, &outcome.error);
    } else {
        // The writers of the formats with times take the tracks themselves.
        std::vector<TrackEntry> kept;
        kept.reserve(tracks.size());
        for (const TrackEntry* track : tracks) {
            kept.push_back(*track);
        }
        if (format == TrackFormat::Igc) {
            // Tracks without a fix are left out of the folder, each with its note.
            std::vector<std::string> written;
            outcome.result = WriteTracksIgc(kept, outcome.path, offset, &outcome.error,
                                            &outcome.notes, &written);
            outcome.tracks = written.size();
        } else {
            outcome.result =
                WriteTracks(format, outcome.path, kept, offset, &outcome.error, &outcome.notes);
        }
    }
    if (outcome.result != KmlWriteResult::Written) {
        outcome.tracks = 0;
    }
    return outcome;
}

std::string OutputRefusedText(const std::string& why) {
    return "Файл не может быть записан, треки не запрошены:\n" + why;
}

std::string SaveOutcomeText(const TrackSaveOutcome& outcome, const std::string& askedPath) {
    if (outcome.result == KmlWriteResult::NothingToWrite) {
        std::string text = "Ошибка при получении треков";
        for (const std::string& note : outcome.notes) {
            text += "\n" + note;
        }
        return text;
    }
    if (outcome.result == KmlWriteResult::Failed) {
        return "Не удалось записать файл " + outcome.path + ":\n" + outcome.error;
    }
    const char* verb =
        outcome.tracks % 10 == 1 && outcome.tracks % 100 != 11 ? "Сохранён" : "Сохранено";
    const bool folder = outcome.path != "-" && IsOutputFolder(outcome.path);
    std::string text = std::string(verb) + " " + std::to_string(outcome.tracks) + " " +
                       TrackWord(outcome.tracks) + " из " + std::to_string(outcome.chosen) +
                       (folder ? " в папку " : " в файл ") + outcome.path;
    if (outcome.incomplete) {
        text += folder ? "\nЗагрузка неполная, папка " + askedPath + " не изменена."
                       : "\nЗагрузка неполная, файл " + askedPath + " не изменён.";
    }
    for (const std::string& note : outcome.notes) {
        text += "\n" + note;
    }
    return text;
}
