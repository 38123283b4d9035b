#pragma once
// Qt's own texts (file dialogs, Yes/No buttons, "replace?") in Russian, like the rest.

class QCoreApplication;

// Loads Qt's Russian translation from Qt's translations folder into app; false when the
// system has none (Qt's texts then stay English).
bool InstallQtTranslation(QCoreApplication& app);
