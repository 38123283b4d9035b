#pragma once
// One offscreen QApplication per test program, with a private settings folder.

#include <QApplication>
#include <QSettings>
#include <cstdlib>

// The application; created on first use, offscreen, with settings under a fresh folder.
inline QApplication& GuiTestApp() {
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static char folder[] = "/tmp/pelnora-gui-test-XXXXXX";
        if (mkdtemp(folder) != nullptr) {
            setenv("XDG_CONFIG_HOME", folder, 1);
        }
        static int argc = 1;
        static char name[] = "pelnora-gui-test";
        static char* argv[] = {name, nullptr};
        auto* created = new QApplication(argc, argv);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
        return created;
    }();
    return *app;
}

// Empties the settings store, as on a first start.
inline void ClearTestSettings() {
    GuiTestApp();
    QSettings store(QStringLiteral("Velmarin"), QStringLiteral("Pelnora"));
    store.clear();
    store.sync();
}
