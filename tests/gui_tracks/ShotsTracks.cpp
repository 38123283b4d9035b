// pelnora-shots-tracks FOLDER: pictures of the track page and the download dialog.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "controls/CMyListCtrl.h"
#include "controls/CTextProgressCtrl.h"
#include "link/DeviceLink.h"
#include "sim/DeviceSimulator.h"
#include "tests/support/FakeUserInterface.h"
#include "tracks/CTrackDlg.h"
#include "tracks/CTrackProgressDlg.h"

namespace {

void Settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

bool Save(QWidget& widget, const QString& folder, const char* name) {
    const QString path = QDir(folder).filePath(QString::fromUtf8(name));
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
        return false;
    }
    std::printf("%s\n", path.toLocal8Bit().constData());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: pelnora-shots-tracks FOLDER\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static char settings[] = "/tmp/pelnora-shots-tracks-XXXXXX";  // keep the user's settings
    if (mkdtemp(settings) != nullptr) {
        setenv("XDG_CONFIG_HOME", settings, 1);
    }
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    sim::DeviceSimulator device;
    device.LoadDemoScenario();
    DeviceLink link;
    try {
        link.m_port.Open(device.Start(), 115200, 0, 8, 0);
    } catch (...) {
        std::fprintf(stderr, "cannot open the simulator\n");
        return 1;
    }
    link.m_port.SetTimeouts(1000, 1000);
    FakeUserInterface ui;

    bool ok = true;
    CTrackDlg page(link, ui);
    page.LoadSettings();
    page.resize(page.sizeHint().expandedTo(QSize(437, 500)));
    page.show();
    Settle(200);
    ok &= Save(page, folder, "tracks_page_before.png");

    page.OnGetTable();
    if (page.List()->GetItemCount() > 2) {
        page.List()->SetItemData(1, CMyListCtrl::kDoneRowColour);
        page.List()->SetRowSelected(2, true);
    }
    Settle(200);
    ok &= Save(page, folder, "tracks_page_table.png");

    // The bar's own states: half-way in default colours, the page's colours, text at the
    // ends, a marquee block and a vertical bar.
    {
        QWidget sheet;
        sheet.resize(460, 230);
        const auto place = [&sheet](int x, int y, int w, int h) {
            auto* bar = new CTextProgressCtrl(&sheet);
            bar->setGeometry(x, y, w, h);
            return bar;
        };
        place(10, 10, 380, 24)->SetPos(50);
        CTextProgressCtrl* memory = place(10, 44, 380, 24);
        memory->SetBarColour(QColor(0, 200, 60));
        memory->SetRange32(0, 100000);
        memory->SetPos(37500);
        CTextProgressCtrl* start = place(10, 78, 380, 24);
        start->AlignText(CTextProgressCtrl::AlignStart);
        start->SetPos(30);
        CTextProgressCtrl* end = place(10, 112, 380, 24);
        end->AlignText(CTextProgressCtrl::AlignEnd);
        end->SetPos(80);
        CTextProgressCtrl* marquee = place(10, 146, 380, 24);
        marquee->SetMarquee(true, 100000);
        marquee->SetPos(60);
        CTextProgressCtrl* label = place(10, 180, 380, 24);
        label->ShowPercent(false);
        label->SetText(QStringLiteral("Текст окна поверх полосы"));
        label->SetPos(64);
        CTextProgressCtrl* vertical = place(400, 10, 40, 200);
        vertical->SetVertical(true);
        vertical->SetPos(40);
        sheet.show();
        Settle(100);
        ok &= Save(sheet, folder, "tracks_progress_states.png");
    }

    // The download dialog part-way through a slowly sent track.
    sim::SimFaults faults;
    faults.pacingBaud = 19200;
    device.SetFaults(faults);
    {
        CTrackProgressDlg progress(link, {0, 1}, ui, &page);
        progress.show();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 8000 &&
               (progress.Bar()->value() <= 0 || progress.Bar()->value() >= 100)) {
            Settle(50);
        }
        Settle(1100);
        ok &= Save(progress, folder, "tracks_download.png");
        progress.RequestStop();
        while (progress.isVisible() && clock.elapsed() < 30000) {
            Settle(50);
        }
    }

    // The list after a download stopped during its fourth track: only the kept rows stay grey.
    {
        faults.pacingBaud = 57600;
        device.SetFaults(faults);
        page.OnGetTable();
        for (int row = 0; row < 5 && row < page.List()->GetItemCount(); ++row) {
            page.List()->SetRowSelected(row, true);
        }
        QTemporaryDir out;
        ui.QueueFile(out.filePath(QStringLiteral("tracks.kml")));
        QTimer stopper;
        QObject::connect(&stopper, &QTimer::timeout, [] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<CTrackProgressDlg*>(widget);
                if (dialog != nullptr &&
                    dialog->windowTitle() == QStringLiteral("Получение 4 трека из 5")) {
                    dialog->RequestStop();
                }
            }
        });
        stopper.start(20);
        page.OnGetTrack();
        stopper.stop();
        page.List()->clearSelection();
        Settle(200);
        ok &= Save(page, folder, "tracks_page_after_stop.png");
        if (ui.LastMessage() != nullptr) {
            std::printf("%s\n", ui.LastMessage()->text.toLocal8Bit().constData());
        }
    }
    link.m_port.Close();
    return ok ? 0 : 1;
}
