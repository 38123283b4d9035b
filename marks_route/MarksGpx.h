#pragma once
// Marks as GPX waypoints, and the formats the marks can be written in.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/DataFormats.h"
#include "link/KmlOutput.h"

enum class MarksFormat { Kml, Gpx };

struct MarksFormatInfo {
    MarksFormat format;
    const char* cliName;    // --format value
    const char* label;      // file dialog filter name
    const char* pattern;    // file dialog pattern
    const char* extension;  // default extension
};

// The marks KML first, in the order the save dialog offers them.
extern const std::array<MarksFormatInfo, 2> kMarksFormats;
const MarksFormatInfo& MarksFormatOf(MarksFormat format);
std::optional<MarksFormat> MarksFormatByCliName(std::string_view name);
// "GPX (*.gpx)", as a file dialog takes it.
std::string MarksFormatFilter(const MarksFormatInfo& info);

// One wpt per mark named title + its 1-based number, as in the marks KML; LF line ends.
std::string BuildMarksGpx(const std::vector<PackedPosition>& marks, const std::string& title);
// Written atomically (CR LF), titled like the marks KML. Empty input touches nothing.
KmlWriteResult WriteMarksGpx(const std::string& path, const std::vector<PackedPosition>& marks,
                             std::string* error = nullptr);
KmlWriteResult WriteMarks(MarksFormat format, const std::string& path,
                          const std::vector<PackedPosition>& marks, std::string* error = nullptr);
