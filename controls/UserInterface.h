#pragma once
// Everything a page asks of the user goes through here; tests put a scripted one in its place.

#include <QString>

class UserInterface {
public:
    enum class Icon { Information, Error, Question, Warning, None };
    virtual ~UserInterface() = default;

    // Modal message box with the program's name as caption and an OK button.
    virtual void ShowMessage(const QString& text, Icon icon) = 0;
    // Modal Yes/No question; true for Yes.
    virtual bool AskYesNo(const QString& text, Icon icon) = 0;
    // File dialogs; an empty result means the user cancelled. suggestedName: the file name
    // offered in the dialog (no folder), empty for none.
    virtual QString GetSaveFileName(const QString& filter, const QString& defaultSuffix,
                                    const QString& suggestedName = QString()) = 0;
    virtual QString GetOpenFileName(const QString& filter, const QString& defaultSuffix) = 0;
    // A save dialog offering several filters ("A (*.a);;B (*.b)"). selectedFilter: the one
    // shown first, then the one the user chose; the default suffix follows the chosen filter.
    // Without its own form: the filter shown first only.
    virtual QString ChooseSaveFile(const QString& filters, const QString& suggestedName,
                                   QString& selectedFilter) {
        (void)filters;
        return GetSaveFileName(selectedFilter, QString(), suggestedName);
    }
    // A folder dialog opening at start (or the folder used last when empty); empty when the
    // user cancelled.
    virtual QString GetExistingDirectory(const QString& start) {
        (void)start;
        return {};
    }
};

// The file filter of the KML dialogs.
inline const QString kKmlFilter = QStringLiteral(" (Google Earth *.kml) (*.kml)");
inline const QString kProgramName = QStringLiteral("Pelnora");
