#pragma once
// Output files on the platform: checked before a transfer, then replaced atomically when they
// are regular files, or written straight into when they are anything else (FIFO, device, "-").
// One implementation per platform (OutputFile.cpp for POSIX, OutputFileWin.cpp for Windows).

#include <cstdint>
#include <functional>
#include <string>

// Hands one piece of the file's bytes on; false once writing has failed.
using OutputPieceWriter = std::function<bool(const std::string& piece)>;

// Before the first byte goes to the device: the folder exists and can be written, the path is
// not a folder, not a dangling link or a link loop, and the free space is not obviously below
// bytesNeeded. On refusal error (when given) names the path and the reason.
bool CheckOutputPath(const std::string& path, uint64_t bytesNeeded, std::string* error);

// Writes what fill produces to path (bytes as given; no line-end conversion here). A regular
// file, or a link to one, is replaced atomically in the target's folder keeping its mode (and
// owner and group where the process may set them); anything else is written into in one
// stream; "-" is standard output. On failure the old file stays and error says why.
// A file with further hard links is replaced like any other: the other names keep the earlier
// contents (a failed or partial write can never reach them).
bool WriteOutputFile(const std::string& path,
                     const std::function<bool(const OutputPieceWriter& write)>& fill,
                     std::string* error);

// Async-signal-safe: removes the temporary file of a replacement under way, for a process that
// is about to end on a signal. Nothing happens when no write is under way.
void RemoveOutputTemporary();

// The name an incomplete result is written under, beside path: "-неполный" before the
// extension ("tracks.kml" → "tracks-неполный.kml").
std::string IncompleteFileName(const std::string& path);

// Whether path names a regular file (following a link), so that a result may replace it.
bool IsRegularOutputFile(const std::string& path);
// Whether something is there under path (a link counts as what it names), and whether it is a
// folder.
bool OutputPathExists(const std::string& path);
bool IsOutputFolder(const std::string& path);

// A folder for output files: true when folder is one or was made; otherwise error (when given)
// is "<folder>: <the system's reason>".
bool EnsureOutputFolder(const std::string& folder, std::string* error);
