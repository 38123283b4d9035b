// pelnora-sim: the device simulator on a pseudo-terminal.

#include <signal.h>

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "link/DataFormats.h"
#include "link/Version.h"
#include "sim/DeviceSimulator.h"

namespace {

const char kHelp[] =
    "Usage: pelnora-sim [OPTIONS]\n"
    "Simulates the navigation device on a pseudo-terminal. Prints the device path on its\n"
    "first line, then serves until interrupted (SIGINT or SIGTERM).\n"
    "\n"
    "Contents:\n"
    "  --demo                 the demonstration scenario: 7 flights over 4 days near\n"
    "                         Moscow, 12 marks (the default)\n"
    "  --empty                no tracks and no marks\n"
    "  --big-track N          add one track of N points (65535 points: 2 MiB)\n"
    "\n"
    "Line:\n"
    "  --baud RATE            send at RATE/10 bytes per second, as the line would\n"
    "\n"
    "Faults:\n"
    "  --bad-checksum K       send a wrong checksum for track K (0-based)\n"
    "  --silence-after K      a track download stops after K records\n"
    "  --short-record K       record K of a track download has only 20 bytes\n"
    "  --short-pause MS       quiet time after the short record (default 1200)\n"
    "  --extra-record         one record beyond the track's point count\n"
    "  --marks-sent N         announce every mark but send only N of them\n"
    "  --clear-answer HEX     answer HEX (8 hex digits) to a memory clear\n"
    "  --clear-delay MS       answer a memory clear after MS milliseconds\n"
    "  --hangup-after N       hang up after N bytes of answers\n"
    "  --capability B         answer B (0-255) to the device query instead of 2\n"
    "  --silent CMD           give no answer to command CMD (hex, e.g. 33); repeatable\n"
    "  --drop-pending         a new command discards the unread rest of the last answer\n"
    "  --endless-table        the track table never ends: records without the terminator\n"
    "  --junk-after HEX       send the bytes HEX (e.g. 0102FF) after every answer\n"
    "  --byte-interval MS     send each answer byte alone, MS milliseconds apart\n"
    "  --garbage-records      table and point records arrive as random bytes\n"
    "  --help                 this text\n"
    "  --version              the version\n";

int Usage(const std::string& message) {
    std::cerr << "pelnora-sim: " << message << "\nTry 'pelnora-sim --help'.\n";
    return 2;
}

bool ParseNumber(const char* text, unsigned long long max, unsigned long long& value, int base) {
    if (text == nullptr || *text == '\0' || *text == '-' || *text == '+') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, base);
    return errno == 0 && *end == '\0' && value <= max;
}

// An even number of hex digits, one byte per pair.
bool ParseHexBytes(const char* text, std::vector<uint8_t>& bytes) {
    const size_t length = text ? std::strlen(text) : 0;
    if (length == 0 || length % 2 != 0 || std::strspn(text, "0123456789abcdefABCDEF") != length) {
        return false;
    }
    bytes.clear();
    for (size_t i = 0; i < length; i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(std::string(text + i, 2), nullptr, 16)));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    sim::SimFaults faults;
    bool demo = true;
    std::optional<uint16_t> bigTrack;

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* argument = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long long v = 0;
        const auto number = [&](unsigned long long max, int base = 10) {
            if (!ParseNumber(argument, max, v, base)) {
                return false;
            }
            ++i;
            return true;
        };
        if (option == "--help" || option == "-h") {
            std::cout << kHelp;
            return 0;
        } else if (option == "--version") {
            std::cout << "pelnora-sim " << kPelnoraVersion << "\n";
            return 0;
        } else if (option == "--demo") {
            demo = true;
        } else if (option == "--empty") {
            demo = false;
        } else if (option == "--extra-record") {
            faults.extraRecord = true;
        } else if (option == "--drop-pending") {
            faults.dropPendingAnswer = true;
        } else if (option == "--endless-table") {
            faults.endlessTable = true;
        } else if (option == "--garbage-records") {
            faults.garbageRecords = true;
        } else if (option == "--byte-interval" && number(600000)) {
            faults.byteIntervalMs = static_cast<uint32_t>(v);
        } else if (option == "--junk-after" && ParseHexBytes(argument, faults.junkAfterAnswer)) {
            ++i;
        } else if (option == "--big-track" && number(65535)) {
            bigTrack = static_cast<uint16_t>(v);
        } else if (option == "--baud" && number(4000000)) {
            faults.pacingBaud = static_cast<uint32_t>(v);
        } else if (option == "--bad-checksum" && number(0xFFFFFFFF)) {
            faults.badChecksumTrack = static_cast<uint32_t>(v);
        } else if (option == "--silence-after" && number(0xFFFFFFFF)) {
            faults.silenceAfterRecords = static_cast<uint32_t>(v);
        } else if (option == "--short-record" && number(0xFFFFFFFF)) {
            faults.shortRecordAt = static_cast<uint32_t>(v);
        } else if (option == "--short-pause" && number(600000)) {
            faults.shortRecordPauseMs = static_cast<uint32_t>(v);
        } else if (option == "--marks-sent" && number(255)) {
            faults.marksSent = static_cast<uint32_t>(v);
        } else if (option == "--clear-answer" && argument && std::strlen(argument) == 8 &&
                   number(0xFFFFFFFF, 16)) {
            faults.clearAnswer =
                std::array<uint8_t, 4>{static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                                       static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        } else if (option == "--clear-delay" && number(600000)) {
            faults.clearDelayMs = static_cast<uint32_t>(v);
        } else if (option == "--hangup-after" && number(~0ULL)) {
            faults.hangupAfterBytes = v;
        } else if (option == "--capability" && number(255)) {
            faults.capability = static_cast<uint8_t>(v);
        } else if (option == "--silent" && number(255, 16)) {
            faults.silentCommands.push_back(static_cast<uint8_t>(v));
        } else if (option.rfind("--", 0) == 0 && argument == nullptr &&
                   std::string(kHelp).find(option + " ") != std::string::npos) {
            return Usage("option " + option + " needs a value");
        } else if (std::string(kHelp).find(option + " ") != std::string::npos) {
            return Usage("bad value for " + option + ": " + (argument ? argument : ""));
        } else {
            return Usage("unknown option " + option);
        }
    }

    // The serving thread inherits the mask; this thread takes the signals with sigtimedwait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    BuildDeviceCharTable();
    sim::DeviceSimulator simulator;
    if (demo) {
        simulator.LoadDemoScenario();
    }
    if (bigTrack) {
        auto tracks = simulator.Tracks();
        tracks.push_back(sim::DeviceSimulator::MakeBigTrack(*bigTrack));
        simulator.SetTracks(std::move(tracks));
    }
    simulator.SetFaults(faults);
    try {
        std::cout << simulator.Start() << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "pelnora-sim: " << e.what() << "\n";
        return 1;
    }

    const timespec tick = {0, 200 * 1000 * 1000};
    while (!simulator.HungUp()) {
        const int sig = sigtimedwait(&signals, nullptr, &tick);
        if (sig > 0) {
            break;
        }
    }
    const bool hungUp = simulator.HungUp();
    simulator.Stop();
    if (hungUp) {
        std::cerr << "pelnora-sim: hung up as told\n";
    }
    return 0;
}
