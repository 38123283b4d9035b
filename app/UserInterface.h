#pragma once
// Everything a page asks of the user goes through here; tests put a scripted one in its place.

#include <QString>

class QWidget;

class UserInterface {
public:
    enum class Icon { Information, Error, Question, Warning, None };
    virtual ~UserInterface() = default;

    // Modal message box with the program's name as caption and an OK button.
    virtual void ShowMessage(const QString& text, Icon icon) = 0;
    // Modal Yes/No question; true for Yes.
    virtual bool AskYesNo(const QString& text, Icon icon) = 0;
    // File dialogs; an empty result means the user cancelled.
    virtual QString GetSaveFileName(const QString& filter, const QString& defaultSuffix) = 0;
    virtual QString GetOpenFileName(const QString& filter, const QString& defaultSuffix) = 0;
};

// The real dialogs, parented to a window.
class QtUserInterface : public UserInterface {
public:
    explicit QtUserInterface(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }
    void ShowMessage(const QString& text, Icon icon) override;
    bool AskYesNo(const QString& text, Icon icon) override;
    QString GetSaveFileName(const QString& filter, const QString& defaultSuffix) override;
    QString GetOpenFileName(const QString& filter, const QString& defaultSuffix) override;

private:
    QWidget* m_parent;
};

// The file filter of the KML dialogs.
inline const QString kKmlFilter = QStringLiteral(" (Google Earth *.kml) (*.kml)");
inline const QString kProgramName = QStringLiteral("Pelnora");
