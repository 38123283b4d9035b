#pragma once
// The main window: port and speed, the connect toggle, the six pages, the About box.

#include <QComboBox>
#include <QDialog>
#include <QStringList>
#include <memory>

#include "app/UserInterface.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"

class CMyTabCtrl;
class CAnemometerDlg;
class CTerminalDlg;
class QPushButton;

// Editable port box that lists the serial devices present each time it opens.
class CPortComboBox : public QComboBox {
public:
    explicit CPortComboBox(QWidget* parent = nullptr);
    void showPopup() override;
    void RefreshPorts();

    // /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*, /dev/serial/by-id/* as they exist now.
    static QStringList ListSerialPorts();
};

// The program's only top-level window; owns the device link and the pages.
class CPelnoraDlg : public QDialog {
    Q_OBJECT
public:
    // ui: where the pages' messages go; null means real Qt dialogs.
    explicit CPelnoraDlg(UserInterface* ui = nullptr, QWidget* parent = nullptr);
    ~CPelnoraDlg() override;

    // Puts the built-in simulator's device into the port box; that path is not stored.
    void SetSimulatedPort(const QString& path);

    // The toggle's handler: connect when checked, else disconnect.
    void OnConnectToggled(bool checked);
    void OpenAbout();

    DeviceLink& Link() { return m_link; }
    CMyTabCtrl* Tabs() const { return m_tabs; }
    QComboBox* PortBox() const { return m_port; }
    QComboBox* SpeedBox() const { return m_speed; }
    QPushButton* ConnectButton() const { return m_connect; }
    QPushButton* AboutButton() const { return m_about; }
    CAnemometerDlg* AnemometerPage() const;
    CTerminalDlg* TerminalPage() const;

    static const QStringList& Speeds();
    // The error box text of a failed connection; a refused open says how to get access.
    static QString ConnectFailureText(const MCommunication::DeviceException& error);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Connect();
    void Disconnect();
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
