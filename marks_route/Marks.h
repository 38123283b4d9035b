#pragma once
// KML export of marks.

#include <string>
#include <vector>

#include "link/DataFormats.h"
#include "link/KmlOutput.h"

// The whole document as UTF-8 with LF line ends; title without ".kml".
std::string BuildMarksKml(const std::vector<PackedPosition>& marks, const std::string& title);
// The document title of a marks file: its file name less the last four characters (".kml").
std::string MarksTitle(const std::string& path);
KmlWriteResult WriteMarksKml(const std::string& path, const std::vector<PackedPosition>& marks,
                             std::string* error = nullptr);
