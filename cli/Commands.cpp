#include "cli/Commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/Interrupt.h"
#include "cli/Platform.h"
#include "cli/Progress.h"
#include "link/DataFormats.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "link/KmlOutput.h"
#include "link/OutputFile.h"
#include "link/UserTexts.h"
#include "marks_route/Marks.h"
#include "marks_route/MarksExchange.h"
#include "marks_route/MarksGpx.h"
#include "marks_route/Route.h"
#include "marks_route/SettingsRules.h"
#include "sim/DeviceSimulator.h"
#include "tracks/TrackDownload.h"
#include "tracks/TrackFormats.h"
#include "tracks/TrackInterval.h"
#include "tracks/TrackTable.h"

namespace cli {

using nlohmann::json;

int Fail(const std::string& text) {
    std::cerr << kProgram << ": " << text << "\n" << std::flush;
    return kExitFailed;
}

int Usage(const std::string& text) {
    std::cerr << kProgram << ": " << text << "\nПодробнее: " << kProgram << " --help\n"
              << std::flush;
    return kExitUsage;
}

namespace {

// A byte-sized value on the command line: a whole number 0..255 written with digits only.
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

std::optional<uint32_t> ParseIndex(const std::string& text) {
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

bool AnyReceived(EchoLog& log) {
    return std::any_of(log.Chunks().begin(), log.Chunks().end(),
                       [](const EchoChunk& c) { return c.received; });
}

// Thousandths of a percent as the memory bar shows them: six decimals, decimal comma.
std::string MemoryFillText(double percent) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", std::trunc(percent * 1000) / 1000);
    std::string s = text;
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

void PrintJson(const json& document) {
    std::cout << document.dump(2) << "\n" << std::flush;
}

class Cli;

struct CommandEntry {
    const char* name;
    int (*run)(Cli&);
    size_t minWords;
    size_t maxWords;
    bool output;  // takes --output
    bool json;    // takes --json
};

class Cli {
public:
    explicit Cli(const Invocation& invocation) : m_args(invocation) {}
    int Run(const CommandEntry& entry);

    int Query();
    int Utc();
    int Anemometer();
    int Interval();
    int Clear();
    int Table();
    int Download();
    int Marks();
    int RouteUpload();

private:
    // Opens the port (or starts the simulator): 0, or the status after saying why not.
    int Connect();
    // A link error during the command, named by the port.
    int LinkFailure(const MCommunication::DeviceException& error);

    const Invocation& m_args;
    std::string m_path;  // what the link talks to
    sim::DeviceSimulator m_simulator;
    EchoLogRecorder m_recorder;
    DeviceLink m_link;  // goes first: closes the port before the simulator stops
};

int Cli::Connect() {
    m_path = m_args.port;
    if (m_args.simulate) {
        // The simulator's thread never takes the signals: the main thread handles them.
        BlockSignals();
        try {
            m_simulator.LoadDemoScenario();
            m_path = m_simulator.Start();
        } catch (const std::exception& e) {
            UnblockSignals();
            return Fail(std::string("не удалось запустить имитатор прибора: ") + e.what());
        }
        UnblockSignals();
    }
    m_link.m_terminal = &m_recorder;
    try {
        m_link.m_port.Open(m_path, m_args.baud, 0, 8, 0);
    } catch (const MCommunication::LLDevException& e) {
        return Fail(m_path + ": " + UserText::PortOpenFailure(e, "\n"));
    }
    m_link.m_port.SetTimeouts(1000, 1000);
    // Whatever an earlier program left on the line is read off (and logged) first.
    m_link.DrainInput();
    return kExitOk;
}

int Cli::LinkFailure(const MCommunication::DeviceException& error) {
    return Fail((m_path.empty() ? std::string() : m_path + ": ") +
                MCommunication::ErrorText(error));
}

int Cli::Run(const CommandEntry& entry) {
    int status = kExitOk;
    try {
        status = entry.run(*this);
    } catch (const MCommunication::LLDevException& e) {
        status = LinkFailure(e);
    } catch (const std::exception& e) {
        status = Fail(std::string("ошибка: ") + e.what());
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
        return Fail(m_path + ": " + UserText::kNoAnswer);
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X", answer);
    const bool anemometer = answer == 2;
    if (m_args.json) {
        PrintJson({{"answer", hex}, {"capability", answer}, {"anemometer", anemometer}});
    } else {
        std::cout << hex << "\n"
                  << (anemometer ? "Прибор поддерживает анемометр." : UserText::kNoAnemometer)
                  << "\n";
    }
    return kExitOk;
}

int Cli::Utc() {
    // Hours are read first; a refused field stops there, as on the UTC page.
    const auto hours = ParseByte(m_args.words[0]);
    if (!hours) {
        return Fail(UserText::kEnterByte);
    }
    const auto minutes = ParseByte(m_args.words[1]);
    if (!minutes) {
        return Fail(UserText::kEnterByte);
    }
    if (const char* refusal = UtcOffsetRefusal(*hours, *minutes)) {
        return Fail(refusal);
    }
    if (int status = Connect()) {
        return status;
    }
    m_link.SetUtcOffset(*hours, *minutes);
    std::cerr << kUtcOffsetSent << "\n";
    return kExitOk;
}

int Cli::Anemometer() {
    const auto reference = ParseByte(m_args.words[0]);
    if (!reference) {
        return Fail(UserText::kEnterByte);
    }
    const auto onboard = ParseByte(m_args.words[1]);
    if (!onboard) {
        return Fail(UserText::kEnterByte);
    }
    if (const char* refusal = CalibrationRefusal(*reference, *onboard)) {
        return Fail(refusal);
    }
    if (int status = Connect()) {
        return status;
    }
    m_link.SendAnemometerCalibration(*reference, *onboard);
    std::cerr << kCalibrationSent << "\n";
    return kExitOk;
}

int Cli::Interval() {
    const std::string& text = m_args.words[0];
    const auto value = TrackIntervalForName(text);
    if (!value) {
        return Usage("интервал может быть 2, 3, 4, 5, 10 или off, а не \"" + text + "\"");
    }
    if (int status = Connect()) {
        return status;
    }
    m_link.SetTrackInterval(*value);
    std::cerr << kTrackIntervalSent << "\n";
    return kExitOk;
}

int Cli::Clear() {
    if (!m_args.yes) {
        if (!StdinIsTerminal()) {
            return Fail(
                "очистка памяти треков не подтверждена: стандартный ввод не терминал, "
                "добавьте --yes.");
        }
        if (!AskYes("Очистить память треков прибора?")) {
            return Fail("очистка памяти треков отменена.");
        }
    }
    if (int status = Connect()) {
        return status;
    }
    if (!m_link.ClearTrackMemory()) {
        return Fail(m_path + ": " + UserText::kClearFailed);
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
        return Fail(m_path + ": " + UserText::kNoAnswer);
    }
    const double fill = tracks.empty() ? 0.0 : MemoryFillPercent(tracks.back());
    if (m_args.json) {
        json rows = json::array();
        for (uint32_t j = 0; j < tracks.size(); ++j) {
            const auto texts = TrackRowTexts(tracks[j], j);
            rows.push_back({{"index", j},
                            {"date", texts[1]},
                            {"time", texts[2]},
                            {"duration", texts[3]},
                            {"interval", texts[4]},
                            {"intervalSeconds", tracks[j].Interval()},
                            {"pointCount", tracks[j].PointCount()},
                            {"startPage", tracks[j].StartPage()}});
        }
        PrintJson({{"tracks", rows}, {"memoryFillPercent", std::trunc(fill * 1000) / 1000}});
    } else {
        std::cout << "№\tДата\tВремя\tПродолжительность\tИнтервал\n";
        for (uint32_t j = 0; j < tracks.size(); ++j) {
            const auto texts = TrackRowTexts(tracks[j], j);
            std::cout << texts[0] << '\t' << texts[1] << '\t' << texts[2] << '\t' << texts[3]
                      << '\t' << texts[4] << '\n';
        }
        std::cout << "Заполнение памяти: " << MemoryFillText(fill) << " %\n";
    }
    if (tracks.empty()) {
        std::cerr << UserText::kNoTrackTable << "\n";
    }
    return kExitOk;
}

// The download's questions and progress on the terminal.
class DownloadObserver : public TrackDownloadObserver {
public:
    DownloadObserver(ProgressReporter& progress, bool ask, bool keepBad)
        : m_progress(progress), m_ask(ask), m_keepBad(keepBad) {}

    void OnTrackStarted(std::size_t, std::size_t) override { m_progress.TrackStarted(); }
    void OnTrackEnded(std::size_t, std::size_t) override { m_progress.TrackEnded(); }
    bool KeepDamagedTrack(uint32_t index) override {
        m_progress.Interrupt();
        const std::string what =
            "Трек " + std::to_string(index) + ": " + UserText::kChecksumMismatch;
        if (m_ask) {
            std::cerr << what << "\n";
            return AskYes("Сохранить трек?");
        }
        std::cerr << what << (m_keepBad ? " Трек сохранён." : " Трек не сохранён.") << "\n";
        return m_keepBad;
    }

private:
    ProgressReporter& m_progress;
    const bool m_ask;
    const bool m_keepBad;
};

// The saved tracks of result, for the text that names the offsets their times were made with.
std::vector<TrackEntry> SavedTracks(const std::vector<TrackEntry>& table,
                                    const TrackDownloadResult& result) {
    std::vector<TrackEntry> saved;
    for (const TrackEntry* track : SelectTracks(table, result.saved)) {
        TrackEntry head = *track;
        head.points.clear();  // the start and interval name the offset
        saved.push_back(std::move(head));
    }
    return saved;
}

json IndexList(const std::vector<uint32_t>& indices) {
    json list = json::array();
    for (const uint32_t index : indices) {
        list.push_back(index);
    }
    return list;
}

int Cli::Download() {
    if (m_args.all == !m_args.words.empty()) {
        return Usage("download: укажите --all или номера треков (но не то и другое)");
    }
    if (m_args.keepBad && m_args.dropBad) {
        return Usage("download: --keep-bad и --drop-bad исключают друг друга");
    }
    if (m_args.json && m_args.output == "-") {
        return Usage("download: --json и --output - оба пишут в стандартный вывод");
    }
    const std::optional<TrackFormat> format =
        m_args.format.empty() ? TrackFormat::Kml : TrackFormatByCliName(m_args.format);
    if (!format) {
        return Usage("download: --format: \"" + m_args.format +
                     "\" — не из списка: kml, kml-time, gpx, igc");
    }
    const bool folder = TrackFormatOf(*format).folder;
    if (folder && m_args.output == "-") {
        return Usage("download: igc пишется в папку, --output - не подходит");
    }
    std::optional<ClockOffset> offset = ClockOffset::Computer();
    if (!m_args.utcOffset.empty()) {
        offset = ParseUtcOffset(m_args.utcOffset);
        if (!offset) {
            return Usage("download: --utc-offset: \"" + m_args.utcOffset +
                         "\" — нужно H:MM, часы 0-23, минуты 0-59");
        }
    }
    std::vector<uint32_t> chosen;
    for (const auto& word : m_args.words) {
        const auto index = ParseIndex(word);
        if (!index) {
            return Usage("download: номер трека должен быть целым числом от 0, а не \"" + word +
                         "\"");
        }
        chosen.push_back(*index);
    }
    std::string error;
    if (!CheckTrackOutput(m_args.output, {}, {}, &error, *format)) {
        return Fail(error);
    }
    if (int status = Connect()) {
        return status;
    }
    DownloadInterrupt interrupt(&m_link.m_cancel);
    const uint32_t count = static_cast<uint32_t>(m_link.ReadTrackTable().size());
    if (interrupt.Signal() != 0) {
        return 128 + interrupt.Signal();
    }
    if (count == 0) {
        return Fail(
            m_path + ": " +
            (AnyReceived(m_recorder.Log()) ? UserText::kNoTrackTable : UserText::kNoAnswer));
    }
    if (m_args.all) {
        for (uint32_t i = 0; i < count; ++i) {
            chosen.push_back(i);
        }
    }
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    if (chosen.back() >= count) {
        return Fail("трека с номером " + std::to_string(chosen.back()) +
                    " нет: в таблице треки от 0 до " + std::to_string(count - 1) + ".");
    }
    // The file must take what the chosen tracks make before the first of them is asked for.
    if (!CheckTrackOutput(m_args.output, m_link.m_tracks, chosen, &error, *format)) {
        return Fail(error);
    }

    TrackDownload session(m_link, chosen);
    TrackDownloadResult result;
    {
        ProgressReporter progress(session, m_link.m_progress);
        DownloadObserver observer(progress, !m_args.keepBad && !m_args.dropBad && StdinIsTerminal(),
                                  m_args.keepBad);
        interrupt.Attach(&session);
        result = session.Run(observer);
        interrupt.Attach(nullptr);
    }
    if (!result.error.empty()) {
        Fail(m_path + ": " + result.error);
    }
    TrackSaveOutcome outcome;
    {
        DownloadInterrupt::Hold hold;
        outcome = SaveDownloadedTracks(m_link.m_tracks, result, m_args.output, *format, *offset);
    }
    if (*format != TrackFormat::Kml && outcome.tracks != 0) {
        std::cerr << UtcOffsetUsedText(SavedTracks(m_link.m_tracks, result), *offset) << "\n";
    }
    const std::string text = SaveOutcomeText(outcome, m_args.output);
    const bool written = outcome.result == KmlWriteResult::Written;
    if (written) {
        std::cerr << text << "\n";
    } else if (outcome.result == KmlWriteResult::Failed) {
        Fail(outcome.error.empty() ? text : outcome.error);
    } else {
        Fail(text);
    }
    if (m_args.json) {
        PrintJson({{"file", written ? json(outcome.path) : json(nullptr)},
                   {"incomplete", outcome.incomplete},
                   {"complete", result.Complete()},
                   {"chosen", IndexList(chosen)},
                   {"saved", IndexList(result.saved)},
                   {"dropped", IndexList(result.dropped)},
                   {"notReceived", IndexList(result.notReceived)},
                   {"stopped", result.stopped},
                   {"signal", interrupt.Signal() != 0 ? json(interrupt.Signal()) : json(nullptr)},
                   {"error", result.error.empty() ? json(nullptr) : json(result.error)}});
    }
    if (interrupt.Signal() != 0) {
        return 128 + interrupt.Signal();
    }
    if (!written) {
        return kExitFailed;
    }
    return result.Complete() ? kExitOk : kExitIncomplete;
}

int Cli::Marks() {
    const std::optional<MarksFormat> format =
        m_args.format.empty() ? MarksFormat::Kml : MarksFormatByCliName(m_args.format);
    if (!format) {
        return Usage("marks: --format: \"" + m_args.format + "\" — не из списка: kml, gpx");
    }
    std::string error;
    if (!CheckOutputPath(m_args.output, 0, &error)) {
        return Fail(error);
    }
    if (int status = Connect()) {
        return status;
    }
    bool answered = false;
    unsigned announced = 0;
    const auto marks = m_link.ReadMarks(&answered, &announced);
    if (!answered) {
        return Fail(m_path + ": " + UserText::kNoAnswer);
    }
    const bool complete = marks.size() >= announced;
    if (marks.empty()) {
        if (!complete) {
            return Fail(m_path + ": " + MarksIncompleteText(0, announced) + " Файл не записан.");
        }
        std::cerr << UserText::kMarksReceived << "\nВ приборе нет меток, файл не записан.\n";
        return kExitOk;
    }
    // Marks that came only in part never replace an older file: they go beside it.
    const std::string path = TrackOutputPath(m_args.output, complete);
    if (WriteMarks(*format, path, marks, &error) != KmlWriteResult::Written) {
        return Fail(error.empty() ? "не удалось записать файл \"" + path + "\"." : error);
    }
    if (!complete) {
        return Fail(m_path + ": " + MarksIncompleteText(marks.size(), announced) +
                    " Записаны в файл " + path);
    }
    std::cerr << UserText::kMarksReceived << "\nМеток записано: " << marks.size() << ", файл "
              << path << "\n";
    return kExitOk;
}

int Cli::RouteUpload() {
    const RouteReading reading = ReadRouteFile(m_args.words[0]);
    if (reading.Refused()) {
        return Fail(reading.refusal);
    }
    const std::string warning = reading.Warning();
    if (!warning.empty()) {
        std::cerr << kProgram << ": предупреждение: " << warning << "\n";
    }
    if (reading.NeedsConfirmation()) {
        if (!m_args.force) {
            return Fail(reading.Concern() + " Маршрут не передан; чтобы передать его всё же, " +
                        "добавьте --force.");
        }
        std::cerr << kProgram << ": предупреждение: " << reading.Concern() << "\n";
    }
    if (int status = Connect()) {
        return status;
    }
    if (!m_link.UploadRoute(reading.points)) {
        return Fail("маршрут не передан: в нём больше " + std::to_string(kMaxRoutePoints) +
                    " точек.");
    }
    std::cerr << UserText::kRouteSent << "\nТочек маршрута: " << reading.points.size() << "\n";
    return kExitOk;
}

const CommandEntry kCommands[] = {
    {"query", [](Cli& c) { return c.Query(); }, 0, 0, false, true},
    {"utc", [](Cli& c) { return c.Utc(); }, 2, 2, false, false},
    {"anemometer", [](Cli& c) { return c.Anemometer(); }, 2, 2, false, false},
    {"interval", [](Cli& c) { return c.Interval(); }, 1, 1, false, false},
    {"clear", [](Cli& c) { return c.Clear(); }, 0, 0, false, false},
    {"table", [](Cli& c) { return c.Table(); }, 0, 0, false, true},
    {"download", [](Cli& c) { return c.Download(); }, 0, 65535, true, true},
    {"marks", [](Cli& c) { return c.Marks(); }, 0, 0, true, false},
    {"route", [](Cli& c) { return c.RouteUpload(); }, 1, 1, false, false},
};

}  // namespace

int RunCommand(const Invocation& args) {
    const CommandEntry* entry = nullptr;
    for (const auto& c : kCommands) {
        if (args.command == c.name) {
            entry = &c;
        }
    }
    if (entry == nullptr) {
        return Usage("неизвестная команда \"" + args.command + "\"");
    }
    const auto n = args.words.size();
    if (n < entry->minWords || n > entry->maxWords) {
        return Usage("неверное число аргументов команды " + args.command);
    }
    if (entry->output && args.output.empty()) {
        return Usage("команде " + args.command + " нужен --output FILE");
    }
    if (args.simulate == !args.port.empty()) {
        return Usage("укажите либо --port DEVICE, либо --simulate");
    }
    Cli cli(args);
    return cli.Run(*entry);
}

}  // namespace cli
