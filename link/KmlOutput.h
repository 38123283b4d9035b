#pragma once
// Shared pieces of the KML writers: numbers, escaping, titles, atomic file writes.

#include <string>

// %g with precision 6 and a full stop, whatever the locale ("-0" keeps its sign).
std::string FormatKmlNumber(double value);
// Escapes &, <, > (and quotes) for XML text.
std::string EscapeXml(const std::string& text);
// The file name without its directory, extension kept.
std::string FileTitle(const std::string& path);

// Writes text to path with every LF turned into CR LF, through a temporary file in the
// same folder renamed over the target; on failure the old file stays and error says why.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error);

// How a KML writer ended.
enum class KmlWriteResult { Written, NothingToWrite, Failed };
