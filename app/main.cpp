// Pelnora: services the navigation computer over a serial line.
// pelnora --simulate runs a built-in device on a pseudo-terminal.

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <clocale>
#include <memory>
#include <stdexcept>

#include "app/CPelnoraDlg.h"
#include "app/Translation.h"
#include "link/DataFormats.h"
#include "link/Version.h"
#include "sim/DeviceSimulator.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Velmarin"));
    QCoreApplication::setApplicationName(QStringLiteral("Pelnora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELNORA_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("ru.velmarin.Pelnora"));
    // QApplication may have set the locale from the environment; numbers stay with a full stop.
    std::setlocale(LC_NUMERIC, "C");
    // No display name: Qt would append it to every caption.
    InstallQtTranslation(app);

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("Run a built-in demonstration device."));
    parser.addOption(simulate);
    parser.process(app);

    BuildDeviceCharTable();

    std::unique_ptr<sim::DeviceSimulator> simulator;
    QString simulatedPath;
    if (parser.isSet(simulate)) {
        try {
            simulator = std::make_unique<sim::DeviceSimulator>();
            simulator->LoadDemoScenario();
            simulatedPath = QString::fromStdString(simulator->Start());
        } catch (const std::exception& error) {
            QMessageBox::critical(nullptr, QStringLiteral("Pelnora"),
                                  QStringLiteral("Не удалось запустить имитатор прибора: %1")
                                      .arg(QString::fromLocal8Bit(error.what())));
            return 1;
        }
    }

    int result = 0;
    {
        CPelnoraDlg window;
        if (!simulatedPath.isEmpty()) {
            window.SetSimulatedPort(simulatedPath);
        }
        result = window.exec();
    }
    // The window (and its port) is gone before the simulator stops.
    simulator.reset();
    return result == QDialog::Accepted || result == QDialog::Rejected ? 0 : result;
}
