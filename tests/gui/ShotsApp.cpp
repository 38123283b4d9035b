// Renders every page of the main window and the About box to PNG files, connected to the
// built-in simulator: pelnora-shots-app FOLDER

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "app/CAboutDlg.h"
#include "app/CPelnoraDlg.h"
#include "controls/CMyTabCtrl.h"
#include "link/DataFormats.h"
#include "marks_route/CAnemometerDlg.h"
#include "marks_route/CUtcTimeDlg.h"
#include "sim/DeviceSimulator.h"
#include "support/FakeUserInterface.h"

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

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir settings;
    if (settings.isValid()) {
        setenv("XDG_CONFIG_HOME", qPrintable(settings.path()), 1);
    }
    QApplication app(argc, argv);
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
    window.ConnectButton()->click();
    return ok ? 0 : 1;
}
