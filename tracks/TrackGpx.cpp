// GPX 1.1 of downloaded tracks.

#include "tracks/TrackGpx.h"

#include "link/KmlOutput.h"

namespace {

bool EmitTrack(std::string& out, const TrackEntry& entry, const ClockOffset& offset,
               const KmlPieceWriter& write, std::vector<std::string>* notes) {
    const TrackTimeline track(entry, offset);
    if (!track.Timed() && notes != nullptr) {
        notes->push_back(FaultyTrackNote(track, false));
    }
    out += "<trk>\n<name>";
    out += track.Label();
    out += "</name>\n<trkseg>\n";
    std::size_t unplaceable = 0;
    for (std::size_t i = 0; i < track.Size(); ++i) {
        const TimedPoint p = track.At(i);
        if (!p.placeable) {
            ++unplaceable;
            continue;
        }
        out += "<trkpt ";
        AppendGpxPosition(out, p.latitude, p.longitude);
        out += "><ele>";
        AppendUnsigned(out, p.altitude);
        out += "</ele>";
        if (track.Timed()) {
            out += "<time>";
            AppendIsoUtc(out, p.utc);
            out += "</time>";
        }
        out += "<extensions><pelnora:groundSpeed>";
        AppendUnsigned(out, p.groundSpeed);
        out += "</pelnora:groundSpeed><pelnora:airSpeed>";
        AppendUnsigned(out, p.airSpeed);
        out += "</pelnora:airSpeed><pelnora:verticalSpeed>";
        out += FormatKmlNumber(p.verticalSpeed);
        out += "</pelnora:verticalSpeed></extensions></trkpt>\n";
        if (!SpillIfLarge(out, write)) {
            return false;
        }
    }
    out += "</trkseg>\n</trk>\n";
    if (unplaceable != 0 && notes != nullptr) {
        notes->push_back(UnplaceablePointsNote(track, unplaceable));
    }
    return true;
}

bool EmitGpx(const std::vector<TrackEntry>& tracks, const ClockOffset& offset,
             const KmlPieceWriter& write, std::vector<std::string>* notes) {
    std::string out = GpxHeader();
    out.reserve(1 << 20);
    for (const TrackEntry* track : TracksInStartOrder(tracks)) {
        if (!EmitTrack(out, *track, offset, write, notes)) {
            return false;
        }
    }
    out += "</gpx>\n";
    return write(out);
}

}  // namespace

std::string GpxHeader() {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\" creator=\"Pelnora ";
    out += PelnoraVersion();
    out +=
        "\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:pelnora=\"";
    out += kPelnoraGpxNamespace;
    out +=
        "\" xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
        "http://www.topografix.com/GPX/1/1/gpx.xsd\">\n";
    return out;
}

void AppendGpxPosition(std::string& out, double latitude, double longitude) {
    out += "lat=\"";
    AppendFixed(out, latitude, 7);
    out += "\" lon=\"";
    AppendFixed(out, longitude, 7);
    out += '"';
}

std::string BuildTracksGpx(const std::vector<TrackEntry>& tracks, const ClockOffset& offset,
                           std::vector<std::string>* notes) {
    return CollectPieces(
        [&](const KmlPieceWriter& write) { return EmitGpx(tracks, offset, write, notes); });
}

KmlWriteResult WriteTracksGpx(const std::vector<TrackEntry>& tracks, const std::string& path,
                              const ClockOffset& offset, std::string* error,
                              std::vector<std::string>* notes) {
    if (tracks.empty()) {
        return KmlWriteResult::NothingToWrite;
    }
    std::vector<std::string> found;
    const auto fill = [&](const KmlPieceWriter& write) {
        found.clear();  // notes of a completed document only
        return EmitGpx(tracks, offset, write, &found);
    };
    if (!WriteFileAtomically(path, fill, error)) {
        return KmlWriteResult::Failed;
    }
    if (notes != nullptr) {
        notes->insert(notes->end(), found.begin(), found.end());
    }
    return KmlWriteResult::Written;
}
