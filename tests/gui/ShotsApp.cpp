// Renders every page of the main window, the About box, the flight preview, the port list, a
// question in Russian and a lost line to PNG files, against the built-in simulator:
// pelnora-shots-app FOLDER

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include <QAbstractItemView>
#include <QComboBox>
#include <QMessageBox>

#include "app/CAboutDlg.h"
#include "app/CPelnoraDlg.h"
#include "app/CTerminalDlg.h"
#include "app/Translation.h"
#include "controls/CMyListCtrl.h"
#include "controls/CMyTabCtrl.h"
#include "link/DataFormats.h"
#include "marks_route/CAnemometerDlg.h"
#include "marks_route/CUtcTimeDlg.h"
#include "sim/DeviceSimulator.h"
#include "support/FakeUserInterface.h"
#include "tracks/CFlightPreviewDlg.h"
#include "tracks/CTrackDlg.h"

namespace {

bool Save(QWidget* widget, const QDir& folder, const QString& name) {
    QApplication::processEvents();
    const QString path = folder.filePath(name + ".png");
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The message box the user would have seen, shown without waiting for an answer.
bool SaveBox(QWidget* parent, const QString& text, QMessageBox::Icon icon,
             QMessageBox::StandardButtons buttons, const QDir& folder, const QString& name) {
    QMessageBox box(icon, QStringLiteral("Pelnora"), text, buttons, parent);
    box.show();
    if (!QTest::qWaitForWindowExposed(&box)) {
        return false;
    }
    const bool ok = Save(&box, folder, name);
    box.close();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir settings;
    if (settings.isValid()) {
        setenv("XDG_CONFIG_HOME", qPrintable(settings.path()), 1);
    }
    QApplication app(argc, argv);
    InstallQtTranslation(app);
    if (argc < 2) {
        std::fprintf(stderr, "usage: pelnora-shots-app FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(folder.path());
    BuildDeviceCharTable();

    sim::DeviceSimulator device;
    device.LoadDemoScenario();
    const QString path = QString::fromStdString(device.Start());

    FakeUserInterface ui;
    CPelnoraDlg window(&ui);
    window.SetSimulatedPort(path);
    window.SpeedBox()->setCurrentText("115200");
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        return 1;
    }
    window.ConnectButton()->click();
    auto* utc = static_cast<CUtcTimeDlg*>(window.Tabs()->Page(CMyTabCtrl::kUtcPage));
    utc->HoursField()->setText("3");
    utc->MinutesField()->setText("30");
    utc->SendButton()->click();
    for (const auto& message : ui.Messages()) {
        std::printf("message: %s\n", qPrintable(message.text));
    }

    bool ok = true;
    const char* names[] = {"utc", "marks", "route", "track", "anemometer", "terminal"};
    for (int i = 0; i < CMyTabCtrl::kPageCount; ++i) {
        window.Tabs()->SetCurFocus(i);
        ok = Save(&window, folder, QString("main-%1-%2").arg(i).arg(names[i])) && ok;
    }
    window.AnemometerPage()->SetDeviceSupport(false);
    window.Tabs()->SetCurFocus(CMyTabCtrl::kAnemometerPage);
    ok = Save(&window, folder, "main-4-anemometer-unsupported") && ok;

    CAboutDlg about(&window);
    about.show();
    if (QTest::qWaitForWindowExposed(&about)) {
        ok = Save(&about, folder, "about") && ok;
    }
    about.close();

    // The terminal at 12 bytes a line, after the track table.
    window.TerminalPage()->BytesPerLineBox()->setCurrentText("12");
    auto* track = static_cast<CTrackDlg*>(window.Tabs()->Page(CMyTabCtrl::kTrackPage));
    track->OnGetTable();
    window.Tabs()->SetCurFocus(CMyTabCtrl::kTerminalPage);
    ok = Save(&window, folder, "main-5-terminal-12") && ok;

    // A downloaded track previewed, in both colourings.
    QTemporaryDir files;
    track->List()->SetRowSelected(0, true);
    ui.QueueFile(files.filePath("track.kml"));
    track->OnGetTrack();
    if (auto* preview = track->findChild<CFlightPreviewDlg*>()) {
        if (QTest::qWaitForWindowExposed(preview)) {
            ok = Save(preview, folder, "preview-altitude") && ok;
            preview->SetColouring(CFlightPreviewDlg::Colouring::VerticalSpeed);
            ok = Save(preview, folder, "preview-climb") && ok;
        }
        preview->close();
    } else {
        std::fprintf(stderr, "no preview after the download\n");
        ok = false;
    }

    // Qt's own question, in Russian.
    ok = SaveBox(&window,
                 QStringLiteral("Все треки, записанные в приборе, будут удалены без "
                                "возможности восстановления.\nОчистить память треков?"),
                 QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No, folder, "question-ru") &&
         ok;

    // The port box with a long by-id name, and its list open.
    window.ConnectButton()->click();  // disconnect
    window.Tabs()->SetCurFocus(CMyTabCtrl::kUtcPage);
    window.PortBox()->setEditText(
        QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    ok = Save(&window, folder, "main-port-long") && ok;
    window.PortBox()->showPopup();
    QApplication::processEvents();
    ok = Save(window.PortBox()->view()->window(), folder, "port-list") && ok;
    window.PortBox()->hidePopup();

    // The line lost under a command.
    window.SetSimulatedPort(path);
    window.ConnectButton()->click();
    ui.Reset();
    device.Stop();
    utc->SendButton()->click();
    ok = Save(&window, folder, "main-lost-line") && ok;
    if (!ui.Messages().empty()) {
        ok = SaveBox(&window, ui.Messages()[0].text, QMessageBox::Critical, QMessageBox::Ok, folder,
                     "lost-line-message") &&
             ok;
    }
    return ok ? 0 : 1;
}
