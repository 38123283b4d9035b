#pragma once
// Common base of the six pages held by the tab control.

#include <QWidget>
#include <cstdint>

class DeviceLink;
class UserInterface;
class QLineEdit;
struct LinkFailure;
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

signals:
    // The line to the device has gone; the main window closes the port and shows itself
    // disconnected. Raised before the page tells the user.
    void LineLost();

protected:
    // Reads a byte field into member; on refusal says so (unless quiet), selects the
    // field's text and gives it the focus, leaving member unchanged.
    bool ExchangeByteField(QLineEdit* field, uint8_t& member, bool quiet = false);
    // The one handler of every link error a page's command catches: shows its text with the
    // error icon; when the line has gone, raises LineLost() first and the text reads
    // "Связь с прибором потеряна: " and the system text. Returns true for a lost line: the
    // page then shows nothing more for that command (one box, not two).
    bool ShowLinkError(const MCommunication::DeviceException& error);
    bool ShowLinkError(const LinkFailure& failure);

    DeviceLink& m_link;
    UserInterface& m_ui;
};
