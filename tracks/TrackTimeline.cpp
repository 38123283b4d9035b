// Points of a track with UTC times; the offset rule; number and time texts of the new formats.

#include "tracks/TrackTimeline.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>

#include "link/LocalTime.h"
#include "link/Version.h"
#include "tracks/TrackTable.h"

std::optional<ClockOffset> ClockOffset::Device(int hours, int minutes) {
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) {
        return std::nullopt;
    }
    ClockOffset offset;
    offset.fromComputer = false;
    offset.seconds = hours * 3600 + minutes * 60;
    return offset;
}

std::optional<ClockOffset> ParseUtcOffset(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() != colon + 3) {
        return std::nullopt;
    }
    int parts[2] = {0, 0};
    const std::string_view fields[2] = {text.substr(0, colon), text.substr(colon + 1)};
    for (int k = 0; k < 2; ++k) {
        for (char c : fields[k]) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            parts[k] = parts[k] * 10 + (c - '0');
        }
    }
    return ClockOffset::Device(parts[0], parts[1]);
}

std::string FormatUtcOffset(int seconds) {
    std::string out(1, seconds < 0 ? '-' : '+');
    const unsigned magnitude = static_cast<unsigned>(seconds < 0 ? -seconds : seconds);
    AppendUnsigned(out, magnitude / 3600);
    out += ':';
    AppendUnsigned(out, magnitude / 60 % 60, 2);
    return out;
}

TrackTimeline::TrackTimeline(const TrackEntry& track, const ClockOffset& offset) : m_track(track) {
    const bool faulty = track.points.empty() || track.PointCount() == 0 || track.Interval() == 0;
    if (offset.fromComputer) {
        // The start read as the computer's local time, as the track table orders it.
        const int64_t start = TrackStartTime(track);
        const std::time_t t = static_cast<std::time_t>(start);
        std::tm local{};
        int offsetSeconds = 0;
        if (start == -1 || !LocalTimeOf(t, local, offsetSeconds)) {
            return;
        }
        m_startUtc = start;
        m_offsetSeconds = offsetSeconds;
    } else {
        std::tm fields{};
        fields.tm_sec = track.Second();
        fields.tm_min = track.Minute();
        fields.tm_hour = track.Hour();
        fields.tm_mday = track.Day();
        fields.tm_mon = track.Month() - 1;
        fields.tm_year = track.Year() + 100;
        const std::time_t deviceClock = UtcTimeOf(fields);
        if (deviceClock == static_cast<std::time_t>(-1)) {
            return;
        }
        m_startUtc = static_cast<int64_t>(deviceClock) - offset.seconds;
        m_offsetSeconds = offset.seconds;
    }
    m_timed = !faulty;
}

TimedPoint TrackTimeline::At(std::size_t i) const {
    const TrackPoint& p = m_track.points[i];
    TimedPoint out;
    out.latitude = p.Latitude();
    out.longitude = p.Longitude();
    out.altitude = p.Altitude();
    out.groundSpeed = p.GroundSpeed();
    out.airSpeed = p.AirSpeed();
    out.verticalSpeed = p.VerticalSpeed();
    out.utc = m_startUtc + static_cast<int64_t>(i) * m_track.Interval();
    out.placeable = out.latitude <= 90.0 && out.longitude <= 180.0;
    return out;
}

std::string TrackTimeline::Label() const {
    const auto texts = TrackRowTexts(m_track, 0);
    return texts[1] + " " + texts[2];
}

void AppendFixed(std::string& out, double value, int decimals) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    out.append(text, result.ptr);
}

void AppendUnsigned(std::string& out, unsigned value, int width) {
    char text[16];
    const auto result = std::to_chars(text, text + sizeof text, value);
    for (int n = static_cast<int>(result.ptr - text); n < width; ++n) {
        out += '0';
    }
    out.append(text, result.ptr);
}

UtcFields SplitUtc(int64_t utc) {
    // Days since 1970 to the civil date (proleptic Gregorian calendar).
    int64_t days = utc / 86400;
    int64_t rest = utc % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return {static_cast<int>(year),
            static_cast<int>(month),
            static_cast<int>(day),
            static_cast<int>(rest / 3600),
            static_cast<int>(rest / 60 % 60),
            static_cast<int>(rest % 60)};
}

void AppendIsoDate(std::string& out, int64_t utc) {
    const UtcFields f = SplitUtc(utc);
    AppendUnsigned(out, static_cast<unsigned>(f.year), 4);
    out += '-';
    AppendUnsigned(out, static_cast<unsigned>(f.month), 2);
    out += '-';
    AppendUnsigned(out, static_cast<unsigned>(f.day), 2);
}

void AppendIsoUtc(std::string& out, int64_t utc) {
    const UtcFields f = SplitUtc(utc);
    AppendIsoDate(out, utc);
    out += 'T';
    AppendUnsigned(out, static_cast<unsigned>(f.hour), 2);
    out += ':';
    AppendUnsigned(out, static_cast<unsigned>(f.minute), 2);
    out += ':';
    AppendUnsigned(out, static_cast<unsigned>(f.second), 2);
    out += 'Z';
}

const char* PelnoraVersion() {
    return kPelnoraVersion;
}

std::vector<const TrackEntry*> TracksInStartOrder(const std::vector<TrackEntry>& tracks) {
    std::vector<const TrackEntry*> order;
    order.reserve(tracks.size());
    for (const TrackEntry& track : tracks) {
        order.push_back(&track);
    }
    std::stable_sort(order.begin(), order.end(), [](const TrackEntry* a, const TrackEntry* b) {
        return TrackStartsBefore(*a, *b);
    });
    return order;
}

bool SpillIfLarge(std::string& out, const KmlPieceWriter& write) {
    constexpr std::size_t kPieceBytes = 1 << 20;
    if (out.size() < kPieceBytes) {
        return true;
    }
    const bool written = write(out);
    out.clear();
    return written;
}

std::string CollectPieces(const std::function<bool(const KmlPieceWriter& write)>& emit) {
    std::string whole;
    emit([&whole](const std::string& piece) {
        whole += piece;
        return true;
    });
    return whole;
}

std::string FaultyTrackNote(const TrackTimeline& track, bool leftOut) {
    return "Трек " + track.Label() + " неисправен (нет точек или нулевой интервал): " +
           (leftOut ? "в IGC не записан" : "записан без времени");
}

std::string UnplaceablePointsNote(const TrackTimeline& track, std::size_t count) {
    std::string out = "Трек " + track.Label() + ": не записано точек с невозможными координатами: ";
    AppendUnsigned(out, static_cast<unsigned>(count));
    return out;
}
