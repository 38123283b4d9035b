#pragma once
// Shared pieces of the KML writers: numbers, escaping, titles, file writes with CR LF.

#include <functional>
#include <string>

// %g with precision 6 and a full stop, whatever the locale ("-0" keeps its sign).
std::string FormatKmlNumber(double value);
// Escapes &, <, > (and quotes) for XML text.
std::string EscapeXml(const std::string& text);
// The file name without its directory, extension kept.
std::string FileTitle(const std::string& path);

// Writes text to path with every LF turned into CR LF, through WriteOutputFile (a regular file
// replaced atomically, anything else written into); on failure the old file stays and error
// says why.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error);
// The same for a text made in pieces: fill hands each piece to write, which returns false once
// writing has failed (fill then stops and returns false). No whole copy of the text is needed.
using KmlPieceWriter = std::function<bool(const std::string& piece)>;
bool WriteFileAtomically(const std::string& path,
                         const std::function<bool(const KmlPieceWriter& write)>& fill,
                         std::string* error);

// How a KML writer ended.
enum class KmlWriteResult { Written, NothingToWrite, Failed };
