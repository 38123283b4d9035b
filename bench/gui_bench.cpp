// Interface timings, offscreen: start to first paint, the terminal after a 2 MiB download,
// and the longest stall of the interface thread while the download dialog runs.
// Usage: gui_bench startup|terminal|stall [runs]; prints "RESULT key value" lines (ms).
// startup counts from PELNORA_BENCH_T0 (CLOCK_REALTIME, ns) when the caller sets it.

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "app/CPelnoraDlg.h"
#include "app/CTerminalDlg.h"
#include "app/UserInterface.h"
#include "link/DataFormats.h"
#include "link/DeviceLink.h"
#include "sim/DeviceSimulator.h"
#include "tracks/CTrackProgressDlg.h"

namespace {

using namespace bench;

// Answers every question with yes and shows nothing.
class SilentUser : public UserInterface {
public:
    void ShowMessage(const QString&, Icon) override {}
    bool AskYesNo(const QString&, Icon) override { return true; }
    QString GetSaveFileName(const QString&, const QString&) override { return {}; }
    QString GetOpenFileName(const QString&, const QString&) override { return {}; }
};

// Quits the application at the first paint of the watched window.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            m_at = now.tv_sec * 1e9 + now.tv_nsec;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }
    bool m_seen = false;
    double m_at = 0;
};

int Startup(int argc, char** argv) {
    const auto inMain = Clock::now();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Velmarin"));
    QCoreApplication::setApplicationName(QStringLiteral("Pelnora"));
    std::setlocale(LC_NUMERIC, "C");
    BuildDeviceCharTable();
    CPelnoraDlg window;
    FirstPaint watch;
    window.installEventFilter(&watch);
    window.show();
    app.exec();
    const double mainToPaint = MsSince(inMain);
    Result("startup_main_to_paint_ms", mainToPaint);
    if (const char* t0 = std::getenv("PELNORA_BENCH_T0")) {
        Result("startup_exec_to_paint_ms", (watch.m_at - std::atof(t0)) / 1e6);
    }
    return watch.m_seen ? 0 : 1;
}

struct Device {
    sim::DeviceSimulator sim;
    DeviceLink link;
    explicit Device(uint16_t points) {
        sim.SetTracks({sim::DeviceSimulator::MakeBigTrack(points)});
        link.m_port.Open(sim.Start(), 115200, 0, 8, 0);
        link.m_port.SetTimeouts(1000, 1000);
    }
};

// The terminal page showing the log of a whole 2 MiB download, then one more command.
int Terminal(int argc, char** argv, int runs) {
    QApplication app(argc, argv);
    BuildDeviceCharTable();
    SilentUser user;
    Device device(65535);
    std::vector<double> first, complete, firstCpu, next;
    for (int r = 0; r < runs; ++r) {
        CTerminalDlg page(device.link, user);
        page.resize(640, 480);
        page.show();
        QApplication::processEvents();
        device.link.m_terminal = nullptr;
        device.link.ReadTrackTable();
        // The chunks arrive during the download; the page shows them at its end.
        device.link.m_terminal = &page;
        device.link.DownloadTrack(0);  // ends with RefreshLog; measured below on its own
        page.ClearEchoLog();
        device.link.m_terminal = nullptr;
        device.link.m_tracks[0].checksumOk = false;
        // Log the same transfer again without its refresh, then time the refresh.
        struct Hold : LogSink {
            CTerminalDlg* page;
            void LogChunk(int32_t c, const uint8_t* d, bool r) override { page->LogChunk(c, d, r); }
            void RefreshLog() override {}
        } hold;
        hold.page = &page;
        device.link.m_terminal = &hold;
        device.link.DownloadTrack(0);
        auto start = Clock::now();
        const double cpu = ThreadCpuMs();
        page.RefreshLog();
        page.Display()->viewport()->repaint();  // the last lines are on screen
        first.push_back(MsSince(start));
        while (page.Filling()) {
            QApplication::processEvents();
        }
        page.Display()->viewport()->repaint();
        complete.push_back(MsSince(start));
        firstCpu.push_back(ThreadCpuMs() - cpu);
        device.link.m_terminal = &page;
        start = Clock::now();
        device.link.QueryDevice();
        page.Display()->viewport()->repaint();
        QApplication::processEvents();
        next.push_back(MsSince(start));
        device.link.m_terminal = nullptr;
        device.link.m_tracks[0].checksumOk = false;
    }
    Result("terminal_show_ms", Median(first));
    Result("terminal_complete_ms", Median(complete));
    Result("terminal_complete_cpu_ms", Median(firstCpu));
    Result("terminal_next_command_ms", Median(next));
    return 0;
}

// Longest gap between 10 ms timer ticks on the interface thread during a 2 MiB download
// through the progress dialog, with the terminal page taking the echo log.
int Stall(int argc, char** argv, int runs) {
    QApplication app(argc, argv);
    BuildDeviceCharTable();
    SilentUser user;
    Device device(65535);
    std::vector<double> gaps, walls;
    for (int r = 0; r < runs; ++r) {
        CTerminalDlg page(device.link, user);
        page.show();
        device.link.m_terminal = &page;
        device.link.ReadTrackTable();
        QElapsedTimer clock;
        double longest = 0;
        double last = 0;
        QTimer tick;
        tick.setInterval(10);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const double now = clock.nsecsElapsed() / 1e6;
            longest = std::max(longest, now - last);
            last = now;
        });
        CTrackProgressDlg dialog(device.link, {0}, user);
        clock.start();
        tick.start();
        const auto start = Clock::now();
        dialog.exec();
        walls.push_back(MsSince(start));
        tick.stop();
        gaps.push_back(longest);
        if (dialog.Result().saved.size() != 1 || !device.link.m_tracks[0].checksumOk) {
            std::fprintf(stderr, "download through the dialog failed\n");
            return 1;
        }
        device.link.m_terminal = nullptr;
    }
    Result("stall_longest_gap_ms", Median(gaps));
    Result("stall_dialog_ms", Median(walls));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui_bench startup|terminal|stall [runs]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int qtArgc = 1;
    if (mode == "startup") return Startup(qtArgc, argv);
    if (mode == "terminal") return Terminal(qtArgc, argv, runs);
    if (mode == "stall") return Stall(qtArgc, argv, runs);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
