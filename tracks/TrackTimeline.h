#pragma once
// A downloaded track as points with UTC time, position, altitude and speeds; the pieces the
// GPX, IGC and timed KML writers share.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/KmlOutput.h"

#include "link/TrackEntry.h"

// The program version as the files name their creator ("1.3.0").
const char* PelnoraVersion();

// How the device's clock stands to UTC: device time = UTC + offset.
struct ClockOffset {
    // The offset given on the UTC page or on the command line: hours 0..23, minutes 0..59.
    static std::optional<ClockOffset> Device(int hours, int minutes);
    // The computer's own time-zone offset at each track's start (the local-time rule of the
    // track table's start times).
    static ClockOffset Computer() { return {}; }

    bool fromComputer = true;
    int seconds = 0;  // used when !fromComputer
};

// "H:MM" or "HH:MM" with hours 0..23 and minutes 0..59; nullopt otherwise.
std::optional<ClockOffset> ParseUtcOffset(std::string_view text);
// Seconds east of UTC as "+3:00", "+5:45", "-4:00".
std::string FormatUtcOffset(int seconds);

// One point ready for a file: position in degrees, altitude in metres, the speeds as recorded.
struct TimedPoint {
    double latitude = 0;
    double longitude = 0;
    uint16_t altitude = 0;
    uint16_t groundSpeed = 0;
    uint16_t airSpeed = 0;
    double verticalSpeed = 0;
    int64_t utc = 0;  // seconds since 1970 UTC; meaningful only when the track is timed
    // False when the packed position cannot be a place (latitude above 90°, longitude above
    // 180°): such a point is left out of the files.
    bool placeable = true;
};

// The points of one track with their times. Point i was recorded at the start (the table
// record's date and time, read by the device's clock) + i × interval seconds.
class TrackTimeline {
public:
    TrackTimeline(const TrackEntry& track, const ClockOffset& offset);
    TrackTimeline(TrackEntry&&, const ClockOffset&) = delete;  // a view: the track must outlive it

    // False for a faulty track (no points, no point count or a zero interval): no times.
    bool Timed() const { return m_timed; }
    std::size_t Size() const { return m_track.points.size(); }
    TimedPoint At(std::size_t i) const;
    int64_t StartUtc() const { return m_startUtc; }
    int OffsetSeconds() const { return m_offsetSeconds; }
    // "DD.MM.YY HH:MM:SS" as the track table shows the record (device clock).
    std::string Label() const;

private:
    const TrackEntry& m_track;
    bool m_timed = false;
    int64_t m_startUtc = 0;
    int m_offsetSeconds = 0;
};

// Number texts of the new formats, the same whatever the locale.
void AppendFixed(std::string& out, double value, int decimals);
void AppendUnsigned(std::string& out, unsigned value, int width = 0);  // zero-padded to width
// "YYYY-MM-DDTHH:MM:SSZ".
void AppendIsoUtc(std::string& out, int64_t utc);
void AppendIsoDate(std::string& out, int64_t utc);  // YYYY-MM-DD of the UTC day
// The UTC calendar fields of a time.
struct UtcFields {
    int year, month, day, hour, minute, second;
};
UtcFields SplitUtc(int64_t utc);

// The tracks in start-time order (the order of the track KML), ties kept in table order.
std::vector<const TrackEntry*> TracksInStartOrder(const std::vector<TrackEntry>& tracks);

// Hands out on to write once it has grown past about 1 MiB; false when writing has failed.
bool SpillIfLarge(std::string& out, const KmlPieceWriter& write);
// Makes a whole document through emit (which hands pieces to its writer) in one string.
std::string CollectPieces(const std::function<bool(const KmlPieceWriter& write)>& emit);

// Notes on what a writer did not write as it was (one text each).
std::string FaultyTrackNote(const TrackTimeline& track, bool leftOut);
std::string UnplaceablePointsNote(const TrackTimeline& track, std::size_t count);
