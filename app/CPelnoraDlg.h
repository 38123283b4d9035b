#pragma once
// The main window: port and speed, the connect toggle, the six pages, the About box.

#include <QComboBox>
#include <QDialog>
#include <QStringList>
#include <memory>
#include <vector>

#include "app/QtUserInterface.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"

class CMyTabCtrl;
class CAnemometerDlg;
class CTerminalDlg;
class QFileSystemWatcher;
class QPushButton;
class QTimer;

// Editable port box listing the serial devices present, each with its USB description where
// the system has one; the list follows adapters plugged in or out and is read anew on opening.
class CPortComboBox : public QComboBox {
    Q_OBJECT
public:
    // Where an entry's USB description is kept (the entry's text is the path alone).
    static constexpr int kDescriptionRole = Qt::UserRole + 1;

    explicit CPortComboBox(QWidget* parent = nullptr);
    void showPopup() override;
    // Lists the ports present now; the text in the box stays as it is.
    void RefreshPorts();

    struct Port {
        QString path;
        QString description;  // "FT232R USB UART (FTDI)", empty when the system has none
    };
    // /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*, /dev/serial/by-id/* as they exist now.
    static std::vector<Port> ListSerialPorts();

private:
    void WatchDevices();

    QFileSystemWatcher* m_watcher;
    QTimer* m_settle;  // device links appear a moment after the device node
};

// The program's only top-level window; owns the device link and the pages. It ends only by
// its close command (close box, Alt+F4, the window menu), which stores its values; Enter and
// Escape do nothing here.
class CPelnoraDlg : public QDialog {
    Q_OBJECT
public:
    // ui: where the pages' messages go; null means real Qt dialogs.
    explicit CPelnoraDlg(UserInterface* ui = nullptr, QWidget* parent = nullptr);
    ~CPelnoraDlg() override;

    // Puts the built-in simulator's device into the port box (that path is not stored) and
    // says so in the title.
    void SetSimulatedPort(const QString& path);

    // The toggle's handler: connect when checked, else disconnect.
    void OnConnectToggled(bool checked);
    void OpenAbout();
    // A page's command found the line gone: the port is closed and the window shows itself
    // disconnected (the page tells the user).
    void OnLineLost();

    // The dialog's default OK and Cancel commands (Enter, Escape) do not end this window.
    void accept() override {}
    void reject() override {}

    DeviceLink& Link() { return m_link; }
    CMyTabCtrl* Tabs() const { return m_tabs; }
    QComboBox* PortBox() const { return m_port; }
    QComboBox* SpeedBox() const { return m_speed; }
    QPushButton* ConnectButton() const { return m_connect; }
    QPushButton* AboutButton() const { return m_about; }
    CAnemometerDlg* AnemometerPage() const;
    CTerminalDlg* TerminalPage() const;

    static const QStringList& Speeds();
    // The error box text of a failed connection; a refused open says how to get access, a
    // path that is no terminal says so.
    static QString ConnectFailureText(const MCommunication::DeviceException& error);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Connect();
    void Disconnect();
    // Toggle, its text and the port and speed boxes (locked while connected).
    void ShowConnected(bool connected);
    void StoreWindowSettings();

    std::unique_ptr<QtUserInterface> m_qtUi;
    UserInterface* m_ui;
    DeviceLink m_link;
    CMyTabCtrl* m_tabs;
    CPortComboBox* m_port;
    QComboBox* m_speed;
    QPushButton* m_connect;
    QPushButton* m_about;
    QString m_simulatedPort;
};
