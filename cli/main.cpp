// pelnora-cli: one command per device function, over a serial port or the built-in simulator.

#ifdef _WIN32
#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include "link/Cp1251.h"
#include "link/OutputFile.h"
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/DataFormats.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "link/KmlOutput.h"
#include "marks_route/Marks.h"
#include "marks_route/Route.h"
#include "sim/DeviceSimulator.h"
#include "tracks/TrackKml.h"
#include "tracks/TrackTable.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kHelp[] =
    "Usage: pelnora-cli --port DEVICE [--baud RATE] [--trace] COMMAND [ARGS]\n"
    "       pelnora-cli --simulate [--trace] COMMAND [ARGS]\n"
    "\n"
    "Services the navigation device on a serial line (8N1, time-outs 1000 ms).\n"
    "  --port DEVICE   serial device, e.g. /dev/ttyUSB0 (passed to the system unchanged)\n"
    "  --baud RATE     line speed, default 115200\n"
    "  --simulate      talk to the built-in device simulator (demonstration contents)\n"
    "  --trace         after the command, print every byte exchanged to stderr\n"
    "\n"
    "Commands:\n"
    "  query                 ask the device's capability byte; prints it as two hex digits\n"
    "                        and whether the airspeed sensor is supported (answer 02)\n"
    "  utc HOURS MINUTES     set the offset from UTC: hours 0-23, minutes 0-59\n"
    "  anemometer REFERENCE ONBOARD\n"
    "                        send the airspeed calibration: the reference and the onboard\n"
    "                        readings (0-255); refused when REFERENCE/ONBOARD is above 1.5\n"
    "                        or below 0.5 (0 and 0 is sent)\n"
    "  interval VALUE        set the track recording interval: 2, 3, 4, 5, 10 seconds, or\n"
    "                        off (no track is recorded)\n"
    "  clear [--yes]         clear the track memory; asks first on a terminal, refuses\n"
    "                        without --yes when standard input is not a terminal\n"
    "  table                 print the track table: a header, one line per track with the\n"
    "                        number, date, time, duration and interval separated by tabs,\n"
    "                        then the memory fill\n"
    "  download --output FILE [--keep-bad|--drop-bad] (--all | INDEX...)\n"
    "                        download the chosen tracks (0-based numbers as the table shows)\n"
    "                        into one KML file; a track whose checksum does not match is\n"
    "                        kept with --keep-bad, dropped with --drop-bad, otherwise asked\n"
    "                        about on a terminal (dropped when stdin is not a terminal)\n"
    "  marks --output FILE   download the marks into a KML file (none stored: no file)\n"
    "  route FILE            upload the placemarks of a KML file as the route (at most 255)\n"
    "\n"
    "Exit status: 0 success; 1 the device or the link failed, the device did not confirm,\n"
    "the input was refused, or nothing could be written; 2 usage error.\n";

const char kIntegerMessage[] = "Enter an integer between 0 and 255.";
const char kNoAnswer[] = "Прибор не отвечает.";

int Usage(const std::string& message) {
    std::cerr << "pelnora-cli: " << message << "\nПодробнее: pelnora-cli --help\n";
    return kExitUsage;
}

int Fail(const std::string& message) {
    std::cerr << message << "\n";
    return kExitFailed;
}

// A byte-sized value: a whole number 0..255 written with digits only.
std::optional<uint8_t> ParseByte(const std::string& text) {
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const int value = std::stoi(text);
    if (value > 255) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(value);
}

std::optional<uint32_t> ParseUnsigned(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(std::stoul(text));
}

bool IsYes(std::string answer) {
    while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r')) {
        answer.pop_back();
    }
    for (const char* yes : {"y", "Y", "yes", "Yes", "YES", "д", "Д", "да", "Да", "ДА"}) {
        if (answer == yes) {
            return true;
        }
    }
    return false;
}

// Asks on the terminal; false when the answer is not yes or input ended.
bool AskYes(const std::string& question) {
    std::cerr << question << " [y/n] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::cerr << "\n";
        return false;
    }
    return IsYes(answer);
}

#ifdef _WIN32
bool IsTerminal(FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}
#else
bool IsTerminal(FILE* stream) {
    return isatty(fileno(stream)) == 1;
}
#endif

bool StdinIsTerminal() {
    return IsTerminal(stdin);
}

// The folder of path must take a new file (the writers put a temporary file beside it).
bool CheckWritable(const std::string& path, std::string& error) {
    const auto slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    if (path.empty() || path.back() == '/') {
        error = "Не задано имя файла: \"" + path + "\".";
        return false;
    }
#ifdef _WIN32
    (void)folder;
    if (std::string reason; !CheckOutputPath(path, 0, &reason)) {
        error = "Нельзя записать файл \"" + path + "\": " + reason + ".";
        return false;
    }
#else
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        error = "Нельзя записать файл \"" + path + "\": " + std::generic_category().message(errno) +
                ".";
        return false;
    }
#endif
    return true;
}

bool AnyReceived(EchoLog& log) {
    return std::any_of(log.Chunks().begin(), log.Chunks().end(),
                       [](const EchoChunk& c) { return c.received; });
}

std::string RussianPercent(double value, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    std::string s = text;
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

std::string Duration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) {
        return "--:--";
    }
    const long s = std::lround(seconds);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

// Shows the download's progress from its own thread: redrawn in place on a terminal,
// plain lines (at most one a second and one per finished track) otherwise.
class ProgressReporter {
public:
    ProgressReporter(std::atomic<double>& fraction, uint64_t totalPoints, uint32_t tracks)
        : m_fraction(fraction),
          m_totalPoints(totalPoints),
          m_tracks(tracks),
          m_terminal(IsTerminal(stderr)),
          m_start(std::chrono::steady_clock::now()) {
        m_thread = std::thread([this] { Run(); });
    }
    ~ProgressReporter() { Finish(); }

    void BeginTrack(uint32_t k, uint32_t pointCount) {
        std::lock_guard lock(m_mutex);
        m_current = k;
        m_currentPoints = pointCount;
        m_paused = false;
        m_fraction.store(0.0);
        m_lastLine = {};
        PrintLocked(false);
    }
    void EndTrack() {
        std::lock_guard lock(m_mutex);
        m_fraction.store(1.0);
        PrintLocked(true);
        m_pointsDone += m_currentPoints;
        m_currentPoints = 0;
    }
    // Ends the line in place, so that a question or a message starts on a line of its own;
    // nothing more is drawn until the next track begins.
    void Interrupt() {
        std::lock_guard lock(m_mutex);
        m_paused = true;
        if (m_terminal && m_drawn) {
            std::cerr << "\n";
            m_drawn = false;
        }
    }
    void Finish() {
        {
            std::lock_guard lock(m_mutex);
            if (m_done) {
                return;
            }
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
        Interrupt();
    }

private:
    void Run() {
        std::unique_lock lock(m_mutex);
        const auto period = std::chrono::milliseconds(m_terminal ? 200 : 1000);
        while (!m_wake.wait_for(lock, period, [this] { return m_done; })) {
            if (m_current != 0 && !m_paused) {
                PrintLocked(false);
            }
        }
    }

    void PrintLocked(bool trackDone) {
        double track = m_fraction.load();
        if (!std::isfinite(track)) {
            track = 0;
        }
        track = std::clamp(track, 0.0, 1.0);
        double overall = 0;
        if (m_totalPoints > 0) {
            overall = (m_pointsDone + track * m_currentPoints) / static_cast<double>(m_totalPoints);
        } else if (m_tracks > 0) {
            overall = (m_current - 1 + track) / m_tracks;
        }
        overall = std::clamp(overall, 0.0, 1.0);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        const double remaining = overall > 0.001 ? elapsed * (1 - overall) / overall : -1;
        char text[256];
        std::snprintf(text, sizeof text, "Получение %u трека из %u: трек %3.0f%%, всего %3.0f%%",
                      m_current, m_tracks, track * 100, overall * 100);
        std::string line = text;
        line += ", осталось " + Duration(remaining);
        if (m_terminal) {
            std::cerr << "\r" << line << "\033[K" << std::flush;
            m_drawn = true;
        } else if (trackDone || line != m_lastLine) {
            std::cerr << line << "\n" << std::flush;
            m_lastLine = line;
        }
    }

    std::atomic<double>& m_fraction;
    const uint64_t m_totalPoints;
    const uint32_t m_tracks;
    const bool m_terminal;
    const std::chrono::steady_clock::time_point m_start;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    uint32_t m_current = 0;
    uint32_t m_currentPoints = 0;
    uint64_t m_pointsDone = 0;
    bool m_done = false;
    bool m_drawn = false;
    bool m_paused = false;
    std::string m_lastLine;
};

// The command line after the global options.
struct Invocation {
    std::string port;
    uint32_t baud = 115200;
    bool simulate = false;
    bool trace = false;
    std::string command;
    std::vector<std::string> words;  // the command's arguments without its options
    std::string output;
    bool yes = false;
    bool all = false;
    bool keepBad = false;
    bool dropBad = false;
};

class Cli {
public:
    explicit Cli(Invocation invocation) : m_args(std::move(invocation)) {}
    int Run();

private:
    int Connect();
    int Query();
    int Utc();
    int Anemometer();
    int Interval();
    int Clear();
    int Table();
    int Download();
    int Marks();
    int RouteUpload();

    Invocation m_args;
    sim::DeviceSimulator m_simulator;
    EchoLogRecorder m_recorder;
    DeviceLink m_link;  // goes first: closes the port before the simulator stops
};

int Cli::Connect() {
    std::string path = m_args.port;
    if (m_args.simulate) {
        try {
            m_simulator.LoadDemoScenario();
            path = m_simulator.Start();
        } catch (const std::exception& e) {
            return Fail(std::string("Не удалось запустить имитатор прибора: ") + e.what());
        }
    }
    m_link.m_terminal = &m_recorder;
    m_link.m_port.Open(path, m_args.baud, 0, 8, 0);
    m_link.m_port.SetTimeouts(1000, 1000);
    return kExitOk;
}

int Cli::Run() {
    using Handler = int (Cli::*)();
    struct Entry {
        const char* name;
        Handler handler;
        size_t minWords;
        size_t maxWords;
    };
    static const Entry kCommands[] = {
        {"query", &Cli::Query, 0, 0},           {"utc", &Cli::Utc, 2, 2},
        {"anemometer", &Cli::Anemometer, 2, 2}, {"interval", &Cli::Interval, 1, 1},
        {"clear", &Cli::Clear, 0, 0},           {"table", &Cli::Table, 0, 0},
        {"download", &Cli::Download, 0, 65535}, {"marks", &Cli::Marks, 0, 0},
        {"route", &Cli::RouteUpload, 1, 1},
    };
    const Entry* entry = nullptr;
    for (const auto& e : kCommands) {
        if (m_args.command == e.name) {
            entry = &e;
        }
    }
    if (entry == nullptr) {
        return Usage("неизвестная команда \"" + m_args.command + "\"");
    }
    const auto n = m_args.words.size();
    if (n < entry->minWords || n > entry->maxWords) {
        return Usage("неверное число аргументов команды " + m_args.command);
    }
    const bool wantsOutput = m_args.command == "download" || m_args.command == "marks";
    if (!wantsOutput && !m_args.output.empty()) {
        return Usage("--output относится только к командам download и marks");
    }
    if (wantsOutput && m_args.output.empty()) {
        return Usage("команде " + m_args.command + " нужен --output FILE");
    }
    if (m_args.yes && m_args.command != "clear") {
        return Usage("--yes относится только к команде clear");
    }
    if ((m_args.all || m_args.keepBad || m_args.dropBad) && m_args.command != "download") {
        return Usage("--all, --keep-bad и --drop-bad относятся только к команде download");
    }
    int status = kExitOk;
    try {
        status = (this->*entry->handler)();
    } catch (const MCommunication::LLDevException& e) {
        status = Fail(MCommunication::ErrorText(e));
    } catch (const std::exception& e) {
        status = Fail(std::string("Ошибка: ") + e.what());
    }
    if (m_args.trace) {
        std::cerr << m_recorder.Log().Render() << std::flush;
    }
    m_link.m_port.Close();
    m_simulator.Stop();
    return status;
}

int Cli::Query() {
    if (int status = Connect()) {
        return status;
    }
    const uint8_t answer = m_link.QueryDevice();
    if (!AnyReceived(m_recorder.Log())) {
        return Fail(kNoAnswer);
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X", answer);
    std::cout << hex << "\n"
              << (answer == 2 ? "Прибор поддерживает анемометр."
                              : "Данная версия прибора не поддерживает анемометр!")
              << "\n";
    return kExitOk;
}

int Cli::Utc() {
    // Hours are read first; a refused field stops there, as on the UTC page.
    const auto hours = ParseByte(m_args.words[0]);
    if (!hours) {
        return Fail(kIntegerMessage);
    }
    const auto minutes = ParseByte(m_args.words[1]);
    if (!minutes) {
        return Fail(kIntegerMessage);
    }
    if (*hours > 23) {
        return Fail("Значение поля Часы должно быть от 0 до 23");
    }
    if (*minutes > 59) {
        return Fail("Значение поля Минуты должно быть от 0 до 59");
    }
    if (int status = Connect()) {
        return status;
    }
    m_link.SetUtcOffset(*hours, *minutes);
    std::cerr << "Сдвиг времени передан успешно\n";
    return kExitOk;
}

int Cli::Anemometer() {
    const auto reference = ParseByte(m_args.words[0]);
    if (!reference) {
        return Fail(kIntegerMessage);
    }
    const auto onboard = ParseByte(m_args.words[1]);
    if (!onboard) {
        return Fail(kIntegerMessage);
    }
    // 0 over 0 is not a number and passes both tests: it is sent.
    const double quotient = static_cast<double>(*reference) / static_cast<double>(*onboard);
    if (quotient > 1.5) {
        return Fail(
            "Вы ввели неправильные данные!\nРезультат деления калибровочного анемометра на "
            "бортовой анемометр не может быть больше 1.5");
    }
    if (quotient < 0.5) {
        return Fail(
            "Вы ввели неправильные данные!\nРезультат деления калибровочного анемометра на "
            "бортовой анемометр не может быть меньше 0.5");
    }
    if (int status = Connect()) {
        return status;
    }
    m_link.SendAnemometerCalibration(*reference, *onboard);
    std::cerr << "Калибровка передана успешно\n";
    return kExitOk;
}

int Cli::Interval() {
    const std::string& text = m_args.words[0];
    uint8_t value = 0;
    if (text == "off") {
        value = 128;
    } else if (text == "2" || text == "3" || text == "4" || text == "5" || text == "10") {
        value = static_cast<uint8_t>(std::stoi(text));
    } else {
        return Usage("интервал может быть 2, 3, 4, 5, 10 или off, а не \"" + text + "\"");
    }
    if (int status = Connect()) {
        return status;
    }
    m_link.SetTrackInterval(value);
    std::cerr << "Временной интервал передан успешно\n";
    return kExitOk;
}

int Cli::Clear() {
    if (!m_args.yes) {
        if (!StdinIsTerminal()) {
            return Fail(
                "Очистка памяти треков не подтверждена: стандартный ввод не терминал, "
                "добавьте --yes.");
        }
        if (!AskYes("Очистить память треков прибора?")) {
            return Fail("Очистка памяти треков отменена.");
        }
    }
    if (int status = Connect()) {
        return status;
    }
    if (!m_link.ClearTrackMemory()) {
        return Fail("Не удалось очистить память");
    }
    std::cerr << "Память треков очищена\n";
    return kExitOk;
}

int Cli::Table() {
    if (int status = Connect()) {
        return status;
    }
    const auto& tracks = m_link.ReadTrackTable();
    if (tracks.empty() && !AnyReceived(m_recorder.Log())) {
        return Fail(kNoAnswer);
    }
    std::cout << "№\tДата\tВремя\tПродолжительность\tИнтервал\n";
    for (uint32_t j = 0; j < tracks.size(); ++j) {
        const auto texts = TrackRowTexts(tracks[j], j);
        std::cout << texts[0] << '\t' << texts[1] << '\t' << texts[2] << '\t' << texts[3] << '\t'
                  << texts[4] << '\n';
    }
    // As the memory bar shows it: thousandths of a percent, six decimals, decimal comma.
    const double fill = tracks.empty() ? 0.0 : MemoryFillPercent(tracks.back());
    const double shown = std::trunc(fill * 1000) / 1000;
    std::cout << "Заполнение памяти: " << RussianPercent(shown, "%f") << " %\n";
    if (tracks.empty()) {
        std::cerr << "Не удалось получить информацию о треках\n";
    }
    return kExitOk;
}

int Cli::Download() {
    std::vector<uint32_t> chosen;
    if (m_args.all == !m_args.words.empty()) {
        return Usage("download: укажите --all или номера треков (но не то и другое)");
    }
    if (m_args.keepBad && m_args.dropBad) {
        return Usage("download: --keep-bad и --drop-bad исключают друг друга");
    }
    for (const auto& word : m_args.words) {
        const auto index = ParseUnsigned(word);
        if (!index) {
            return Usage("download: номер трека должен быть целым числом от 0, а не \"" + word +
                         "\"");
        }
        chosen.push_back(*index);
    }
    std::string error;
    if (!CheckWritable(m_args.output, error)) {
        return Fail(error);
    }
    if (int status = Connect()) {
        return status;
    }
    const uint32_t count = static_cast<uint32_t>(m_link.ReadTrackTable().size());
    if (count == 0) {
        return Fail(AnyReceived(m_recorder.Log()) ? "Не удалось получить информацию о треках"
                                                  : kNoAnswer);
    }
    if (m_args.all) {
        for (uint32_t i = 0; i < count; ++i) {
            chosen.push_back(i);
        }
    }
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    if (chosen.back() >= count) {
        return Fail("Трека с номером " + std::to_string(chosen.back()) +
                    " нет: в таблице треки от 0 до " + std::to_string(count - 1) + ".");
    }
    const bool ask = !m_args.keepBad && !m_args.dropBad && StdinIsTerminal();
    const bool keepBad = m_args.keepBad;

    uint64_t totalPoints = 0;
    for (uint32_t index : chosen) {
        totalPoints += m_link.m_tracks[index].PointCount();
    }
    std::vector<TrackEntry> kept;
    std::optional<std::string> linkError;
    {
        ProgressReporter progress(m_link.m_progress, totalPoints,
                                  static_cast<uint32_t>(chosen.size()));
        for (uint32_t k = 0; k < chosen.size(); ++k) {
            const uint32_t index = chosen[k];
            progress.BeginTrack(k + 1, m_link.m_tracks[index].PointCount());
            TrackEntry entry;
            try {
                entry = m_link.DownloadTrack(index);
            } catch (const MCommunication::LLDevException& e) {
                progress.Interrupt();
                linkError = MCommunication::ErrorText(e);
                break;
            }
            progress.EndTrack();
            if (entry.checksumOk) {
                kept.push_back(std::move(entry));
                continue;
            }
            progress.Interrupt();
            const std::string what = "Трек " + std::to_string(index) +
                                     ": Ошибка при получении трека (контрольная сумма не "
                                     "совпадает).";
            bool keep = keepBad;
            if (ask) {
                std::cerr << what << "\n";
                keep = AskYes("Сохранить трек?");
            } else {
                std::cerr << what << (keep ? " Трек сохранён." : " Трек не сохранён.") << "\n";
            }
            if (keep) {
                kept.push_back(std::move(entry));
            }
        }
    }
    if (linkError) {
        std::cerr << *linkError << "\n";
    }
    if (kept.empty()) {
        return Fail("Ошибка при получении треков");
    }
    if (WriteTrackKml(kept, m_args.output, &error) != KmlWriteResult::Written) {
        return Fail(error.empty() ? "Не удалось записать файл \"" + m_args.output + "\"." : error);
    }
    std::cerr << "Треков записано: " << kept.size() << " из " << chosen.size() << ", файл "
              << m_args.output << "\n";
    return linkError ? kExitFailed : kExitOk;
}

int Cli::Marks() {
    std::string error;
    if (!CheckWritable(m_args.output, error)) {
        return Fail(error);
    }
    if (int status = Connect()) {
        return status;
    }
    bool answered = false;
    const auto marks = m_link.ReadMarks(&answered);
    if (!answered) {
        return Fail(kNoAnswer);
    }
    if (marks.empty()) {
        std::cerr << "Метки получены успешно\nВ приборе нет меток, файл не записан.\n";
        return kExitOk;
    }
    if (WriteMarksKml(m_args.output, marks, &error) != KmlWriteResult::Written) {
        return Fail(error.empty() ? "Не удалось записать файл \"" + m_args.output + "\"." : error);
    }
    std::cerr << "Метки получены успешно\nМеток записано: " << marks.size() << ", файл "
              << m_args.output << "\n";
    return kExitOk;
}

int Cli::RouteUpload() {
    std::vector<RoutePoint> route;
    std::string error;
    if (!LoadRouteFile(m_args.words[0], route, &error)) {
        return Fail(error);
    }
    if (int status = Connect()) {
        return status;
    }
    if (!m_link.UploadRoute(route)) {
        return Fail("Маршрут не передан: в нём больше " + std::to_string(kMaxRoutePoints) +
                    " точек.");
    }
    std::cerr << "Маршрут передан успешно\nТочек маршрута: " << route.size() << "\n";
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The console speaks UTF-8 both ways; the arguments come as UTF-8 from the wide command line.
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
    std::vector<std::string> utf8Arguments;
    std::vector<char*> utf8Argv;
    int wideCount = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount)) {
        for (int k = 0; k < wideCount; ++k) {
            utf8Arguments.push_back(WideToUtf8(wide[k]));
        }
        LocalFree(wide);
        for (std::string& a : utf8Arguments) {
            utf8Argv.push_back(a.data());
        }
        utf8Argv.push_back(nullptr);
        argc = wideCount;
        argv = utf8Argv.data();
    }
#endif
    Invocation args;
    int i = 1;
    const auto value = [&]() -> std::optional<std::string> {
        if (i + 1 >= argc) {
            return std::nullopt;
        }
        return std::string(argv[++i]);
    };
    // Global options, up to the command word.
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kHelp;
            return kExitOk;
        } else if (a == "--port") {
            const auto v = value();
            if (!v || v->empty()) {
                return Usage("--port требует имя устройства");
            }
            args.port = *v;
        } else if (a == "--baud") {
            const auto v = value();
            const auto baud = v ? ParseUnsigned(*v) : std::nullopt;
            if (!baud || *baud == 0) {
                return Usage("--baud требует скорость, целое число больше 0");
            }
            args.baud = *baud;
        } else if (a == "--simulate") {
            args.simulate = true;
        } else if (a == "--trace") {
            args.trace = true;
        } else if (a.rfind("-", 0) == 0) {
            return Usage("неизвестный параметр " + a);
        } else {
            break;
        }
    }
    if (i >= argc) {
        return Usage("не задана команда");
    }
    args.command = argv[i++];
    // The command's own options and words, in any order.
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--output") {
            const auto v = value();
            if (!v || v->empty()) {
                return Usage("--output требует имя файла");
            }
            args.output = *v;
        } else if (a == "--yes") {
            args.yes = true;
        } else if (a == "--all") {
            args.all = true;
        } else if (a == "--keep-bad") {
            args.keepBad = true;
        } else if (a == "--drop-bad") {
            args.dropBad = true;
        } else if (a == "--trace") {
            args.trace = true;
        } else if (a == "--help" || a == "-h") {
            std::cout << kHelp;
            return kExitOk;
        } else if (a.size() > 1 && a[0] == '-' && !std::isdigit(static_cast<unsigned char>(a[1]))) {
            return Usage("неизвестный параметр " + a);
        } else {
            args.words.push_back(a);
        }
    }
    if (args.simulate == !args.port.empty()) {
        return Usage("укажите либо --port DEVICE, либо --simulate");
    }
    BuildDeviceCharTable();
    Cli cli(std::move(args));
    return cli.Run();
}
