#pragma once
// One offscreen application per test program, with its own settings folder.

#include <QApplication>
#include <cstdlib>
#include <string>

inline QApplication& GuiApp() {
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static char folder[] = "/tmp/pelnora-gui-tracks-XXXXXX";
        if (mkdtemp(folder) != nullptr) {
            setenv("XDG_CONFIG_HOME", folder, 1);
        }
        static int argc = 1;
        static char name[] = "gui_tracks";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}
