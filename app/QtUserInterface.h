#pragma once
// The real dialogs behind the pages' user interface.

#include "controls/UserInterface.h"

class QWidget;

// Qt's message boxes and file dialogs, parented to a window. File dialogs open in the folder
// used last (kept in the settings) and remember the folder chosen.
class QtUserInterface : public UserInterface {
public:
    explicit QtUserInterface(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }
    void ShowMessage(const QString& text, Icon icon) override;
    bool AskYesNo(const QString& text, Icon icon) override;
    QString GetSaveFileName(const QString& filter, const QString& defaultSuffix,
                            const QString& suggestedName = QString()) override;
    QString GetOpenFileName(const QString& filter, const QString& defaultSuffix) override;
    QString ChooseSaveFile(const QString& filters, const QString& suggestedName,
                           QString& selectedFilter) override;
    QString GetExistingDirectory(const QString& start) override;

private:
    QWidget* m_parent;
};
