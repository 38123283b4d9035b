// KML with time: gx:Track per track in the day folders of the track KML.

#include "tracks/TrackKmlTime.h"

#include "tracks/TrackKml.h"

namespace {

void AppendCoord(std::string& out, const TimedPoint& p, char separator) {
    AppendFixed(out, p.longitude, 7);
    out += separator;
    AppendFixed(out, p.latitude, 7);
    out += separator;
    AppendUnsigned(out, p.altitude);
}

// One pass over the placeable points of a track; false when writing has failed.
template <typename Each>
bool ForPlaceable(const TrackTimeline& track, std::string& out, const KmlPieceWriter& write,
                  Each each) {
    for (std::size_t i = 0; i < track.Size(); ++i) {
        const TimedPoint p = track.At(i);
        if (p.placeable) {
            each(p);
            if (!SpillIfLarge(out, write)) {
                return false;
            }
        }
    }
    return true;
}

bool EmitTimedTrack(std::string& out, const TrackTimeline& track, const KmlPieceWriter& write) {
    out += "<gx:Track>\n<altitudeMode>absolute</altitudeMode>\n";
    const bool written = ForPlaceable(track, out, write,
                                      [&out](const TimedPoint& p) {
                                          out += "<when>";
                                          AppendIsoUtc(out, p.utc);
                                          out += "</when>\n";
                                      }) &&
                         ForPlaceable(track, out, write, [&out](const TimedPoint& p) {
                             out += "<gx:coord>";
                             AppendCoord(out, p, ' ');
                             out += "</gx:coord>\n";
                         });
    if (!written) {
        return false;
    }
    out += "<ExtendedData>\n<SchemaData schemaUrl=\"#speeds\">\n";
    struct Array {
        const char* name;
        void (*append)(std::string&, const TimedPoint&);
    };
    const Array arrays[] = {
        {"groundSpeed",
         [](std::string& o, const TimedPoint& p) { AppendUnsigned(o, p.groundSpeed); }},
        {"airSpeed", [](std::string& o, const TimedPoint& p) { AppendUnsigned(o, p.airSpeed); }},
        {"verticalSpeed",
         [](std::string& o, const TimedPoint& p) { o += FormatKmlNumber(p.verticalSpeed); }},
    };
    for (const Array& array : arrays) {
        out += "<gx:SimpleArrayData name=\"";
        out += array.name;
        out += "\">\n";
        const bool ok = ForPlaceable(track, out, write, [&out, &array](const TimedPoint& p) {
            out += "<gx:value>";
            array.append(out, p);
            out += "</gx:value>\n";
        });
        if (!ok) {
            return false;
        }
        out += "</gx:SimpleArrayData>\n";
    }
    out += "</SchemaData>\n</ExtendedData>\n</gx:Track>\n";
    return true;
}

// A faulty track: its points as a line without times, or no geometry when it has none.
bool EmitUntimedTrack(std::string& out, const TrackTimeline& track, const KmlPieceWriter& write) {
    if (track.Size() == 0) {
        return true;
    }
    out += "<LineString>\n<altitudeMode>absolute</altitudeMode>\n<coordinates>\n";
    if (!ForPlaceable(track, out, write, [&out](const TimedPoint& p) {
            AppendCoord(out, p, ',');
            out += '\n';
        })) {
        return false;
    }
    out += "</coordinates>\n</LineString>\n";
    return true;
}

std::size_t UnplaceableCount(const TrackTimeline& track) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < track.Size(); ++i) {
        count += track.At(i).placeable ? 0 : 1;
    }
    return count;
}

bool EmitKmlTime(const std::vector<TrackEntry>& tracks, const std::string& title,
                 const ClockOffset& offset, const KmlPieceWriter& write,
                 std::vector<std::string>* notes) {
    std::string out;
    out.reserve(1 << 20);
    out +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<kml xmlns=\"http://www.opengis.net/kml/2.2\" "
        "xmlns:gx=\"http://www.google.com/kml/ext/2.2\">\n<Document>\n<name>";
    out += EscapeXml(title);
    out +=
        "</name>\n<Schema id=\"speeds\">\n"
        "<gx:SimpleArrayField name=\"groundSpeed\" type=\"int\">"
        "<displayName>Путевая скорость</displayName></gx:SimpleArrayField>\n"
        "<gx:SimpleArrayField name=\"airSpeed\" type=\"int\">"
        "<displayName>Воздушная скорость</displayName></gx:SimpleArrayField>\n"
        "<gx:SimpleArrayField name=\"verticalSpeed\" type=\"float\">"
        "<displayName>Вертикальная скорость</displayName></gx:SimpleArrayField>\n"
        "</Schema>\n";
    bool folderOpen = false;
    std::string day;
    for (const TrackEntry* entry : TracksInStartOrder(tracks)) {
        const TrackTimeline track(*entry, offset);
        // The day folders of the track KML: the start date read as local time.
        const std::string date = FormatTrackDate(*entry);
        if (!folderOpen || date != day) {
            out += folderOpen ? "</Folder>\n<Folder>\n<name>" : "<Folder>\n<name>";
            out += date;
            out += "</name>\n";
            day = date;
            folderOpen = true;
        }
        out += "<Placemark>\n<name>";
        out += FormatTrackTime(*entry);
        out += "</name>\n";
        if (!track.Timed() && notes != nullptr) {
            notes->push_back(FaultyTrackNote(track, false));
        }
        if (!(track.Timed() ? EmitTimedTrack(out, track, write)
                            : EmitUntimedTrack(out, track, write))) {
            return false;
        }
        out += "</Placemark>\n";
        const std::size_t unplaceable = UnplaceableCount(track);
        if (unplaceable != 0 && notes != nullptr) {
            notes->push_back(UnplaceablePointsNote(track, unplaceable));
        }
    }
    if (folderOpen) {
        out += "</Folder>\n";
    }
    out += "</Document>\n</kml>\n";
    return write(out);
}

}  // namespace

std::string BuildTracksKmlTime(const std::vector<TrackEntry>& tracks, const std::string& title,
                               const ClockOffset& offset, std::vector<std::string>* notes) {
    return CollectPieces([&](const KmlPieceWriter& write) {
        return EmitKmlTime(tracks, title, offset, write, notes);
    });
}

KmlWriteResult WriteTracksKmlTime(const std::vector<TrackEntry>& tracks, const std::string& path,
                                  const ClockOffset& offset, std::string* error,
                                  std::vector<std::string>* notes) {
    if (tracks.empty()) {
        return KmlWriteResult::NothingToWrite;
    }
    std::string title = FileTitle(path);
    if (title.empty()) {
        title = path;
    }
    std::vector<std::string> found;
    const auto fill = [&](const KmlPieceWriter& write) {
        found.clear();
        return EmitKmlTime(tracks, title, offset, write, &found);
    };
    if (!WriteFileAtomically(path, fill, error)) {
        return KmlWriteResult::Failed;
    }
    if (notes != nullptr) {
        notes->insert(notes->end(), found.begin(), found.end());
    }
    return KmlWriteResult::Written;
}
