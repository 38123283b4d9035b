// Interface timings, offscreen: start to first paint, the terminal after a 2 MiB download,
// the longest stall of the interface thread while the download dialog runs, and the flight
// preview of a full track.
// Usage: gui_bench startup|terminal|stall|preview [runs]; prints "RESULT key value" lines
// (ms; bytes where the key says so).
// startup counts from PELNORA_BENCH_T0 (CLOCK_REALTIME, ns) when the caller sets it.

#include <malloc.h>
#include <QApplication>

#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "app/CEchoView.h"
#include "app/CPelnoraDlg.h"
#include "app/CTerminalDlg.h"
#include "bench/BenchUtil.h"
#include "controls/UserInterface.h"
#include "link/DataFormats.h"
#include "link/DeviceLink.h"
#include "link/EchoLines.h"
#include "sim/DeviceSimulator.h"
#include "tracks/CFlightPreviewDlg.h"
#include "tracks/CTrackProgressDlg.h"

namespace {

using namespace bench;

// Answers every question with yes and shows nothing.
class SilentUser : public UserInterface {
public:
    void ShowMessage(const QString&, Icon) override {}
    bool AskYesNo(const QString&, Icon) override { return true; }
    QString GetSaveFileName(const QString&, const QString&, const QString&) override { return {}; }
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

// Heap bytes in use now.
double HeapBytes() {
    return static_cast<double>(mallinfo2().uordblks);
}

// The terminal page showing the log of a whole 2 MiB download: the last lines painted, the
// jump to the first line, the page's memory, then one more command.
int Terminal(int argc, char** argv, int runs) {
    QApplication app(argc, argv);
    BuildDeviceCharTable();
    SilentUser user;
    Device device(65535);
    std::vector<double> shown, toFirst, toLast, next, held, heap, ratio, storage;
    double logBytes = 0;
    for (int r = 0; r < runs; ++r) {
        CTerminalDlg page(device.link, user);
        page.resize(640, 480);
        page.show();
        QApplication::processEvents();
        device.link.m_terminal = nullptr;
        device.link.ReadTrackTable();
        device.link.m_tracks[0].checksumOk = false;
        // Log the download without its refresh, then time the refresh.
        struct Hold : LogSink {
            CTerminalDlg* page;
            void LogChunk(int32_t c, const uint8_t* d, bool r) override { page->LogChunk(c, d, r); }
            void RefreshLog() override {}
        } hold;
        hold.page = &page;
        device.link.m_terminal = &hold;
        const double heapBefore = HeapBytes();  // includes the track's points the link keeps
        device.link.DownloadTrack(0);
        auto start = Clock::now();
        page.RefreshLog();
        page.Display()->viewport()->repaint();  // the last lines are on screen
        shown.push_back(MsSince(start));
        logBytes = static_cast<double>(page.Log().ByteCount());
        heap.push_back(HeapBytes() - heapBefore);
        held.push_back(static_cast<double>(page.HeldBytes()));
        ratio.push_back(held.back() / logBytes);
        storage.push_back(static_cast<double>(EchoLogBytes(page.Log())));

        QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::ControlModifier);
        start = Clock::now();
        QApplication::sendEvent(page.Display(), &home);
        page.Display()->viewport()->repaint();
        toFirst.push_back(MsSince(start));
        if (page.Display()->FirstVisibleLine() != 0) {
            std::fprintf(stderr, "Ctrl+Home did not reach the first line\n");
            return 1;
        }
        QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
        start = Clock::now();
        QApplication::sendEvent(page.Display(), &end);
        page.Display()->viewport()->repaint();
        toLast.push_back(MsSince(start));

        device.link.m_terminal = &page;
        start = Clock::now();
        device.link.QueryDevice();
        page.Display()->viewport()->repaint();
        QApplication::processEvents();
        next.push_back(MsSince(start));
        device.link.m_terminal = nullptr;
        device.link.m_tracks[0].checksumOk = false;
    }
    Result("terminal_log_bytes", logBytes);
    Result("terminal_show_ms", Median(shown));
    Result("terminal_first_line_ms", Median(toFirst));
    Result("terminal_last_line_ms", Median(toLast));
    Result("terminal_next_command_ms", Median(next));
    Result("terminal_page_heap_bytes", Median(heap));
    Result("terminal_page_held_bytes", Median(held));
    Result("terminal_page_held_per_log_byte", Median(ratio));
    // Of what the page holds: the echo log's own chunk storage, and the rest (lines, view).
    Result("terminal_log_storage_bytes", Median(storage));
    Result("terminal_view_bytes", Median(held) - Median(storage));
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

// The flight preview of a downloaded 65535-point track: both pictures drawn, in each colouring.
int Preview(int argc, char** argv, int runs) {
    QApplication app(argc, argv);
    BuildDeviceCharTable();
    Device device(65535);
    device.link.ReadTrackTable();
    const TrackEntry track = device.link.DownloadTrack(0);
    if (track.points.size() != 65535) {
        std::fprintf(stderr, "download failed\n");
        return 1;
    }
    CFlightPreviewDlg preview;
    preview.resize(760, 560);
    auto start = Clock::now();
    preview.SetTracks({track});
    const double prepare = MsSince(start);
    preview.show();
    QApplication::processEvents();
    std::vector<double> altitude, climb, window;
    for (int r = 0; r < runs; ++r) {
        preview.SetColouring(CFlightPreviewDlg::Colouring::Altitude);
        start = Clock::now();
        preview.Render(QSize(640, 480));
        altitude.push_back(MsSince(start));
        preview.SetColouring(CFlightPreviewDlg::Colouring::VerticalSpeed);
        start = Clock::now();
        preview.Render(QSize(640, 480));
        climb.push_back(MsSince(start));
        start = Clock::now();
        preview.repaint();
        window.push_back(MsSince(start));
    }
    Result("preview_prepare_ms", prepare);
    Result("preview_draw_altitude_ms", Median(altitude));
    Result("preview_draw_climb_ms", Median(climb));
    Result("preview_window_paint_ms", Median(window));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui_bench startup|terminal|stall|preview [runs]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int qtArgc = 1;
    if (mode == "startup")
        return Startup(qtArgc, argv);
    if (mode == "terminal")
        return Terminal(qtArgc, argv, runs);
    if (mode == "stall")
        return Stall(qtArgc, argv, runs);
    if (mode == "preview")
        return Preview(qtArgc, argv, runs);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
