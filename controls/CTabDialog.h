#pragma once
// Common base of the six pages held by the tab control.

#include <QWidget>
#include <cstdint>

class DeviceLink;
class UserInterface;
class QLineEdit;
namespace MCommunication {
class DeviceException;
}

// A page: reaches the link and the user through the main window's context.
class CTabDialog : public QWidget {
    Q_OBJECT
public:
    CTabDialog(DeviceLink& link, UserInterface& ui, QWidget* parent = nullptr)
        : QWidget(parent), m_link(link), m_ui(ui) {}

    // Reads the page's persisted values (when the page opens).
    virtual void LoadSettings() {}
    // Writes them (when the page is destroyed).
    virtual void SaveSettings() {}

    // Reads an unsigned number the way strtoul does (blanks, '+', digits, rest ignored);
    // false for no digits, a minus sign or a value above 255.
    static bool ParseByteText(const QString& text, uint8_t& value);

protected:
    // Reads a byte field into member; on refusal says so (unless quiet), selects the
    // field's text and gives it the focus, leaving member unchanged.
    bool ExchangeByteField(QLineEdit* field, uint8_t& member, bool quiet = false);
    // Shows a link error's text with the error icon.
    void ShowLinkError(const MCommunication::DeviceException& error);

    DeviceLink& m_link;
    UserInterface& m_ui;
};
