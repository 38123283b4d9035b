// Whatever the device answers: track table, track records with their checksum, marks, the
// short answers, and the files and echo-log text made from them.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzTransport.h"
#include "link/DataFormats.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "link/WireRecords.h"
#include "marks_route/Marks.h"
#include "tracks/TrackKml.h"
#include "tracks/TrackTable.h"

// First byte: bit 0 = the line fails when the input runs out (else it falls silent),
// bits 1..3 = which exchange, bit 4 = bytes already wait on the line before each command.
// The rest is what the device sends.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        BuildDeviceCharTable();
        return true;
    }();
    (void)ready;
    if (size < 1) {
        return 0;
    }
    const bool hangUp = (data[0] & 1) != 0;
    const int exchange = (data[0] >> 1) & 7;
    const bool waiting = (data[0] & 0x10) != 0;
    FuzzTransport transport(data + 1, size - 1, hangUp, waiting);
    EchoLogRecorder recorder;
    DeviceLink link;
    link.m_transport = &transport;
    link.m_terminal = &recorder;
    try {
        switch (exchange) {
            case 0:
            case 1: {
                // The table, then every track in it, then the file text of the kept ones.
                std::vector<TrackEntry>& table = link.ReadTrackTable();
                for (uint32_t j = 0; j < table.size(); ++j) {
                    TrackRowTexts(table[j], j);
                    MemoryFillPercent(table[j]);
                }
                std::vector<TrackEntry> kept;
                for (uint32_t i = 0; i < table.size() && i < 16; ++i) {
                    const TrackEntry& got = link.DownloadTrack(i);
                    if (got.points.size() > got.PointCount() + 1u) {
                        std::abort();  // never more records than asked for plus one
                    }
                    kept.push_back(got);
                }
                BuildTrackKml(kept, "fuzz.kml");
                break;
            }
            case 2:
            case 3: {
                bool answered = false;
                unsigned announced = 0;
                const std::vector<PackedPosition> marks = link.ReadMarks(&answered, &announced);
                if (marks.size() > announced || (!answered && announced != 0)) {
                    std::abort();  // only marks the device announced and sent whole
                }
                BuildMarksKml(marks, "fuzz.kml");
                break;
            }
            case 4:
                link.QueryDevice();
                break;
            case 5:
                link.ClearTrackMemory();
                break;
            default: {
                // A table record taken as given, then one track download.
                TrackEntry entry;
                std::copy_n(data + 1, std::min(TrackTableRecord::kSize, size - 1),
                            entry.record.begin());
                link.m_tracks.push_back(entry);
                link.DownloadTrack(0);
                break;
            }
        }
    } catch (const MCommunication::LLDevException&) {
    }
    // The log holds exactly the bytes that were read, in order.
    std::vector<uint8_t> received;
    for (const EchoChunk& chunk : recorder.Log().Chunks()) {
        if (chunk.received) {
            received.insert(received.end(), chunk.bytes.begin(), chunk.bytes.end());
        }
    }
    // Clear logs nothing of a failed wait; the rest log what came.
    const bool exact = exchange != 5;
    if (exact && (received.size() != transport.Consumed() ||
                  !std::equal(received.begin(), received.end(), data + 1))) {
        std::abort();
    }
    recorder.Log().Render();
    return 0;
}
