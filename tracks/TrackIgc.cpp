// IGC flight logs of downloaded tracks.

#include "tracks/TrackIgc.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>

#include "link/OutputFile.h"

namespace {

// Degrees as whole degrees (width digits), minutes and thousandths of a minute.
void AppendAngle(std::string& out, double degrees, int width) {
    const long long thousandths = std::llround(degrees * 60000.0);
    AppendUnsigned(out, static_cast<unsigned>(thousandths / 60000), width);
    AppendUnsigned(out, static_cast<unsigned>(thousandths % 60000), 5);
}

// The UTC time of the first point that goes into the log.
std::optional<int64_t> FirstFix(const TrackTimeline& track) {
    for (std::size_t i = 0; i < track.Size(); ++i) {
        const TimedPoint p = track.At(i);
        if (p.placeable) {
            return p.utc;
        }
    }
    return std::nullopt;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

}  // namespace

std::string IgcFileName(int64_t firstFixUtc, unsigned flightOfDay) {
    std::string out;
    AppendIsoDate(out, firstFixUtc);
    out += "-XXX-000000-";
    AppendUnsigned(out, flightOfDay, 2);
    out += ".igc";
    return out;
}

std::string BuildTrackIgc(const TrackTimeline& track, unsigned flightOfDay) {
    const std::optional<int64_t> first = track.Timed() ? FirstFix(track) : std::nullopt;
    if (!first) {
        return {};
    }
    const UtcFields date = SplitUtc(*first);
    std::string out;
    out.reserve(256 + track.Size() * 52);
    // Manufacturer XXX: a recorder without IGC approval.
    out += "AXXX000000\nHFDTEDATE:";
    AppendUnsigned(out, static_cast<unsigned>(date.day), 2);
    AppendUnsigned(out, static_cast<unsigned>(date.month), 2);
    AppendUnsigned(out, static_cast<unsigned>(date.year % 100), 2);
    out += ',';
    AppendUnsigned(out, flightOfDay, 2);
    out +=
        "\nHFPLTPILOTINCHARGE:\nHFGTYGLIDERTYPE:\nHFGIDGLIDERID:\nHFDTMGPSDATUM:WGS-1984\n"
        "HFFTYFRTYPE:Pelnora,";
    out += PelnoraVersion();
    // Bytes 36-40 ground speed, 41-45 air speed, 46-50 vertical speed in tenths.
    out += "\nI033640GSP4145TAS4650VAT\n";
    for (std::size_t i = 0; i < track.Size(); ++i) {
        const TimedPoint p = track.At(i);
        if (!p.placeable) {
            continue;
        }
        // Times of day only: a flight past midnight goes on from 000000 in the same order.
        const UtcFields t = SplitUtc(p.utc);
        out += 'B';
        AppendUnsigned(out, static_cast<unsigned>(t.hour), 2);
        AppendUnsigned(out, static_cast<unsigned>(t.minute), 2);
        AppendUnsigned(out, static_cast<unsigned>(t.second), 2);
        AppendAngle(out, p.latitude, 2);
        out += 'N';
        AppendAngle(out, p.longitude, 3);
        out += "EA00000";
        AppendUnsigned(out, p.altitude, 5);
        AppendUnsigned(out, p.groundSpeed, 5);
        AppendUnsigned(out, p.airSpeed, 5);
        const long long tenths = std::llround(std::fabs(p.verticalSpeed) * 10.0);
        if (p.verticalSpeed < 0 && tenths != 0) {
            out += '-';
            AppendUnsigned(out, static_cast<unsigned>(tenths), 4);
        } else {
            AppendUnsigned(out, static_cast<unsigned>(tenths), 5);
        }
        out += '\n';
    }
    return out;
}

KmlWriteResult WriteTracksIgc(const std::vector<TrackEntry>& tracks, const std::string& folder,
                              const ClockOffset& offset, std::string* error,
                              std::vector<std::string>* notes, std::vector<std::string>* written) {
    struct Flight {
        const TrackEntry* entry;
        std::string name;
        unsigned number;
    };
    std::vector<Flight> flights;
    std::map<std::string, unsigned> flightsOfDay;  // by "YYYY-MM-DD"
    for (const TrackEntry* entry : TracksInStartOrder(tracks)) {
        const TrackTimeline track(*entry, offset);
        const std::optional<int64_t> first = track.Timed() ? FirstFix(track) : std::nullopt;
        if (!first) {
            if (notes != nullptr) {
                notes->push_back(track.Timed() ? UnplaceablePointsNote(track, track.Size())
                                               : FaultyTrackNote(track, true));
            }
            continue;
        }
        const std::string day = IgcFileName(*first, 0).substr(0, 10);
        const unsigned number = ++flightsOfDay[day];
        std::size_t unplaceable = 0;
        for (std::size_t i = 0; i < track.Size(); ++i) {
            unplaceable += track.At(i).placeable ? 0 : 1;
        }
        if (unplaceable != 0 && notes != nullptr) {
            notes->push_back(UnplaceablePointsNote(track, unplaceable));
        }
        flights.push_back({entry, IgcFileName(*first, number), number});
    }
    if (flights.empty()) {
        return KmlWriteResult::NothingToWrite;
    }
    if (!EnsureOutputFolder(folder, error)) {
        return KmlWriteResult::Failed;
    }
    for (const Flight& flight : flights) {
        const std::string path = JoinPath(folder, flight.name);
        // One log in memory at a time.
        const std::string text = BuildTrackIgc(TrackTimeline(*flight.entry, offset), flight.number);
        if (!WriteFileAtomically(path, text, error)) {
            return KmlWriteResult::Failed;
        }
        if (written != nullptr) {
            written->push_back(path);
        }
    }
    return KmlWriteResult::Written;
}
