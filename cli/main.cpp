// pelnora-cli: one command per device function, over a serial port or the built-in simulator.

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Platform.h"
#include "link/DataFormats.h"
#include "link/LineSpeeds.h"
#include "link/Version.h"

namespace {

using cli::Invocation;

const char kDescription[] =
    "Обслуживает навигационный прибор на последовательной линии (8N1, тайм-ауты 1000 мс).\n"
    "Параметры можно указывать до и после команды; у каждой команды своя справка:\n"
    "pelnora-cli КОМАНДА --help.";

const char kExitCodes[] =
    "Коды завершения:\n"
    "  0    успешно\n"
    "  1    отказ прибора или линии, прибор не подтвердил, ввод отклонён или ничего не\n"
    "       удалось записать\n"
    "  2    ошибка в командной строке\n"
    "  3    download завершилась, но хотя бы один выбранный трек не попал в файл\n"
    "       (контрольная сумма, остановка, отказ линии после сохранённых треков)\n"
    "  129, 130, 143\n"
    "       после сигнала SIGHUP, SIGINT (Ctrl-C), SIGTERM: полученные целиком треки записаны";

const char kJsonHelp[] =
    "--json: один документ JSON на стандартный вывод вместо текста (сообщения остаются в\n"
    "стандартном потоке ошибок).";

// What CLI11 refuses, said in Russian; the option names are its own. commandGiven: a command
// word was recognised before the refusal.
std::string ParseErrorText(const CLI::ParseError& e, bool commandGiven) {
    const std::string what = e.what();
    const auto colon = what.find(':');
    const std::string head = colon == std::string::npos ? what : what.substr(0, colon);
    const std::string tail = colon == std::string::npos ? std::string() : what.substr(colon + 2);
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
        if (!commandGiven && !tail.empty() && tail[0] != '-') {
            return "неизвестная команда \"" + tail.substr(0, tail.find(' ')) + "\"";
        }
        return "неизвестный параметр или лишний аргумент: " + tail;
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
        return "параметру " + head + " нужно значение";
    }
    return "неверная командная строка";
}

void RussianHelp(CLI::App& app) {
    auto formatter = std::make_shared<CLI::Formatter>();
    formatter->label("Usage", "Использование");
    formatter->label("OPTIONS", "ПАРАМЕТРЫ");
    formatter->label("SUBCOMMAND", "КОМАНДА");
    formatter->label("SUBCOMMANDS", "КОМАНДЫ");
    formatter->label("Positionals", "Аргументы");
    formatter->label("REQUIRED", "обязательно");
    formatter->label("Needs", "требует");
    formatter->label("Excludes", "исключает");
    formatter->column_width(34);
    app.formatter(formatter);
    app.option_defaults()->group("Параметры");
    app.set_help_flag("-h,--help", "показать справку и выйти");
}

const char kCommonOptions[] =
    "Общие параметры (--port, --baud, --simulate, --trace) можно указывать до и после "
    "команды,\nсм. pelnora-cli --help.";

// A command with its one-line summary; details (when given) stand below its own help.
CLI::App* Command(CLI::App& app, const char* name, const char* summary, const char* details) {
    CLI::App* command = app.add_subcommand(name, summary);
    command->group("Команды");
    command->set_help_flag("-h,--help", "показать справку по команде и выйти");
    command->footer(details == nullptr ? std::string(kCommonOptions)
                                       : std::string(details) + "\n\n" + kCommonOptions);
    return command;
}

}  // namespace

int main(int argc, char** argv) {
    cli::PrepareProcess(argc, argv);

    Invocation args;
    std::string baud = std::to_string(kDefaultLineSpeed);

    CLI::App app(kDescription, cli::kProgram);
    RussianHelp(app);
    app.set_version_flag("--version", std::string(cli::kProgram) + " " + kPelnoraVersion,
                         "показать версию и выйти");
    app.fallthrough();  // the global options also after the command
    app.footer(std::string(kExitCodes) + "\n\n" + kJsonHelp);
    app.add_option("--port", args.port, "последовательный порт, например /dev/ttyUSB0")
        ->type_name("DEVICE");
    app.add_option("--baud", baud,
                   "скорость линии, по умолчанию 115200; одна из:\n" + LineSpeedList())
        ->type_name("RATE");
    app.add_flag("--simulate", args.simulate, "работать со встроенным имитатором прибора");
    app.add_flag("--trace", args.trace,
                 "после команды вывести в стандартный поток ошибок все байты обмена");

    std::vector<std::pair<CLI::App*, std::vector<CLI::Option*>>> positionals;
    const auto add = [&](CLI::App* command, std::vector<CLI::Option*> words) {
        positionals.emplace_back(command, std::move(words));
        return command;
    };
    std::string w[2];
    std::vector<std::string> indices;

    CLI::App* query = add(Command(app, "query", "спросить байт возможностей прибора",
                                  "Выводит ответ двумя шестнадцатеричными цифрами и поддерживает "
                                  "ли прибор анемометр (ответ 02).\n--json: {\"answer\": "
                                  "\"02\", \"capability\": 2, \"anemometer\": true}."),
                          {});
    query->add_flag("--json", args.json, "вывести ответ как JSON");

    CLI::App* utc = Command(app, "utc", "передать сдвиг времени относительно UTC", nullptr);
    add(utc, {utc->add_option("HOURS", w[0], "часы, 0-23")->type_name(""),
              utc->add_option("MINUTES", w[1], "минуты, 0-59")->type_name("")});

    CLI::App* anemometer =
        Command(app, "anemometer", "передать калибровку анемометра",
                "Показания калибровочного и бортового анемометра, 0-255. Отклоняется, если их\n"
                "частное больше 1.5 или меньше 0.5 (0 и 0 передаётся).");
    add(anemometer,
        {anemometer->add_option("REFERENCE", w[0], "показание калибровочного анемометра")
             ->type_name(""),
         anemometer->add_option("ONBOARD", w[1], "показание бортового анемометра")->type_name("")});

    CLI::App* interval = Command(app, "interval", "передать интервал записи треков", nullptr);
    add(interval,
        {interval->add_option("VALUE", w[0], "2, 3, 4, 5, 10 секунд или off (трек не пишется)")
             ->type_name("")});

    CLI::App* clear = add(Command(app, "clear", "очистить память треков",
                                  "На терминале спрашивает подтверждение; когда стандартный ввод "
                                  "не терминал,\nбез --yes отказывается."),
                          {});
    clear->add_flag("--yes", args.yes, "не спрашивать подтверждения");

    CLI::App* table =
        add(Command(app, "table", "вывести таблицу треков и заполнение памяти",
                    "Заголовок, по строке на трек (номер, дата, время, продолжительность, "
                    "интервал\nчерез табуляцию), затем заполнение памяти.\n--json: {\"tracks\": "
                    "[{\"index\", \"date\", \"time\", \"duration\", \"interval\",\n"
                    "\"intervalSeconds\", \"pointCount\", \"startPage\"}...], "
                    "\"memoryFillPercent\"}."),
            {});
    table->add_flag("--json", args.json, "вывести таблицу как JSON");

    CLI::App* download = Command(
        app, "download", "получить треки в файл (KML, KML со временем, GPX) или папку IGC",
        "Номера треков от 0, как их показывает table. Трек с несовпавшей контрольной суммой\n"
        "сохраняется с --keep-bad, отбрасывается с --drop-bad, иначе на терминале задаётся\n"
        "вопрос (без терминала трек отбрасывается). Файл проверяется до первого запроса к\n"
        "прибору. Если в файл попали не все треки, а он уже есть, он не заменяется: треки\n"
        "пишутся рядом, в файл с \"-неполный\" перед расширением (для igc — в папку рядом).\n"
        "--format: kml — треки по дням, без времени точек; kml-time, gpx, igc — со временем UTC:\n"
        "время прибора минус --utc-offset (без него — пояс компьютера в начале трека;\n"
        "какое смещение взято, пишется в stderr). igc: по файлу на трек в папке --output.\n"
        "Ctrl-C, SIGTERM, SIGHUP: текущий трек дополучается целиком, следующие не\n"
        "запрашиваются, полученные треки записываются. Второй сигнал завершает сразу.\n"
        "--json: один документ JSON: file (записанный файл или null), incomplete, complete,\n"
        "chosen, saved, dropped, notReceived (номера треков), stopped, signal, error.\n"
        "Коды завершения: 0 все выбранные треки в файле; 3 не все; 1 ни одного или файл не\n"
        "записан; 2 ошибка в командной строке; 129, 130, 143 после SIGHUP, SIGINT, SIGTERM.");
    add(download, {download->add_option("INDEX", indices, "номера треков")->type_name("")});
    download
        ->add_option("-o,--output", args.output,
                     "файл (папка для igc); - пишет в стандартный вывод")
        ->type_name("FILE");
    download
        ->add_option("--format", args.format,
                     "kml (по умолчанию), kml-time, gpx или igc (файл на трек в папке)")
        ->type_name("FORMAT");
    download
        ->add_option("--utc-offset", args.utcOffset,
                     "часы прибора от UTC, H:MM (иначе часовой пояс компьютера)")
        ->type_name("H:MM");
    download->add_flag("--all", args.all, "все треки таблицы");
    download->add_flag("--keep-bad", args.keepBad, "сохранять треки с несовпавшей суммой");
    download->add_flag("--drop-bad", args.dropBad, "отбрасывать треки с несовпавшей суммой");
    download->add_flag("--json", args.json, "вывести итог как JSON");

    CLI::App* marks = add(Command(app, "marks", "получить метки в файл KML или GPX",
                                  "Если меток в приборе нет, файл не записывается."),
                          {});
    marks->add_option("-o,--output", args.output, "файл; - пишет в стандартный вывод")
        ->type_name("FILE");
    marks->add_option("--format", args.format, "kml (по умолчанию) или gpx")->type_name("FORMAT");

    CLI::App* route = Command(app, "route", "передать маршрут из файла KML или GPX",
                              "Передаёт метки файла как маршрут, не больше 255 точек. Файл без "
                              "точек маршрута\nотклоняется, если не указан --force.");
    add(route, {route->add_option("FILE", w[0], "файл маршрута")->type_name("")});
    route->add_flag("--force", args.force,
                    "передать и файл без точек (маршрут в приборе стирается)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);  // --help, --version
        }
        return cli::Usage(ParseErrorText(e, !app.get_subcommands().empty()));
    }

    for (const auto& [command, words] : positionals) {
        if (!command->parsed()) {
            continue;
        }
        args.command = command->get_name();
        for (CLI::Option* word : words) {
            if (word->count() > 0) {
                const auto& given = word->results();
                args.words.insert(args.words.end(), given.begin(), given.end());
            }
        }
    }
    if (args.command.empty()) {
        return cli::Usage("не задана команда");
    }
    const bool digits = !baud.empty() && baud.size() <= 9 &&
                        baud.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || !IsLineSpeed(static_cast<uint32_t>(std::stoul(baud)))) {
        return cli::Usage("--baud: скорость \"" + baud + "\" не из списка: " + LineSpeedList());
    }
    args.baud = static_cast<uint32_t>(std::stoul(baud));
    if (app.count("--port") > 0 && args.port.empty()) {
        return cli::Usage("--port: не задано имя устройства");
    }
    if (args.output.empty() && download->count("--output") + marks->count("--output") > 0) {
        return cli::Usage("--output: не задано имя файла");
    }
    BuildDeviceCharTable();
    return cli::RunCommand(args);
}
