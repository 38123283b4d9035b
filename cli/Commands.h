#pragma once
// The commands of pelnora-cli: one per device function, run over a serial port or the
// built-in simulator.

#include <cstdint>
#include <string>
#include <vector>

#include "link/LineSpeeds.h"

namespace cli {

inline constexpr char kProgram[] = "pelnora-cli";

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// download finished, but at least one chosen track is not in the file.
inline constexpr int kExitIncomplete = 3;
// After SIGHUP, SIGINT, SIGTERM: 128 + the signal's number.

// The command line as parsed.
struct Invocation {
    std::string command;
    std::string port;
    uint32_t baud = kDefaultLineSpeed;
    bool simulate = false;
    bool trace = false;
    bool json = false;
    std::vector<std::string> words;  // the command's arguments
    std::string output;              // --output; "-" is standard output
    std::string format;              // --format; empty: the track KML
    std::string utcOffset;           // --utc-offset H:MM; empty: the computer's zone
    bool yes = false;
    bool all = false;
    bool keepBad = false;
    bool dropBad = false;
    bool force = false;
};

// "pelnora-cli: text" on standard error; returns kExitFailed.
int Fail(const std::string& text);
// A usage error and where to read more; returns kExitUsage.
int Usage(const std::string& text);

// Checks what the command was given, runs it and returns the exit status.
int RunCommand(const Invocation& invocation);

}  // namespace cli
