#include "app/CPelnoraDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cerrno>

#include "app/AppIcon.h"
#include "app/CAboutDlg.h"
#include "app/CTerminalDlg.h"
#include "app/Settings.h"
#include "controls/BusyCursor.h"
#include "controls/CMyTabCtrl.h"
#include "link/DeviceException.h"
#include "link/UserTexts.h"
#include "marks_route/CAnemometerDlg.h"

namespace {

const QString kPortSection = QStringLiteral("Comport");


uint32_t LeadingNumber(const QString& text) {
    uint32_t value = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9') || value > 100000000) {
            break;
        }
        value = value * 10 + uint32_t(c.unicode() - '0');
    }
    return value;
}

}  // namespace

CPortComboBox::CPortComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(14);
}

QStringList CPortComboBox::ListSerialPorts() {
    QStringList ports;
    const QDir dev(QStringLiteral("/dev"));
    for (const QString& pattern :
         {QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*"), QStringLiteral("ttyS*")}) {
        QStringList names = dev.entryList({pattern}, QDir::System | QDir::Files, QDir::Name);
        // ttyS2 before ttyS10.
        std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        for (const QString& name : names) {
            ports << dev.filePath(name);
        }
    }
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString& name : byId.entryList(QDir::System | QDir::Files, QDir::Name)) {
        ports << byId.filePath(name);
    }
    return ports;
}

void CPortComboBox::RefreshPorts() {
    const QString typed = currentText();
    clear();
    addItems(ListSerialPorts());
    setCurrentIndex(findText(typed));
    setEditText(typed);
}

void CPortComboBox::showPopup() {
    RefreshPorts();
    QComboBox::showPopup();
}

const QStringList& CPelnoraDlg::Speeds() {
    static const QStringList speeds = {"110",   "300",   "600",    "1200",   "2400",
                                       "4800",  "9600",  "14400",  "19200",  "38400",
                                       "56000", "57600", "115200", "128000", "256000"};
    return speeds;
}

CPelnoraDlg::CPelnoraDlg(UserInterface* ui, QWidget* parent)
    : QDialog(parent),
      m_qtUi(ui == nullptr ? std::make_unique<QtUserInterface>(this) : nullptr),
      m_ui(ui == nullptr ? m_qtUi.get() : ui),
      m_tabs(new CMyTabCtrl(m_link, *m_ui, this)),
      m_port(new CPortComboBox(this)),
      m_speed(new QComboBox(this)),
      m_connect(new QPushButton(QStringLiteral("Подключиться"), this)),
      m_about(new QPushButton(QStringLiteral("О программе..."), this)) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(PelnoraIcon());
    setSizeGripEnabled(true);

    // The About item of the window's menu: here, the window's context menu.
    auto* aboutAction = new QAction(QStringLiteral("&About Pelnora..."), this);
    connect(aboutAction, &QAction::triggered, this, &CPelnoraDlg::OpenAbout);
    addAction(aboutAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    m_speed->addItems(Speeds());
    m_connect->setCheckable(true);
    m_connect->setAutoDefault(false);
    m_about->setIcon(PelnoraIcon());
    m_about->setIconSize(QSize(24, 24));
    m_about->setAutoDefault(false);
    m_about->setMinimumHeight(36);

    auto* portGroup = new QGroupBox(QStringLiteral("COM порт"), this);
    auto* grid = new QGridLayout(portGroup);
    grid->addWidget(new QLabel(QStringLiteral("Порт:"), portGroup), 0, 0, Qt::AlignRight);
    grid->addWidget(m_port, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Скорость:"), portGroup), 1, 0, Qt::AlignRight);
    grid->addWidget(m_speed, 1, 1);
    grid->addWidget(m_connect, 2, 0, 1, 2);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(portGroup);
    bottom->addStretch(1);
    bottom->addWidget(m_about, 0, Qt::AlignBottom);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(bottom);

    // Initialisation: tabs, the stored tab, the pages, the echo-log sink, the port values.
    const QStringList captions = {"Время UTC", "Метки", "Маршрут", "Трек", "Анемометр", "Терминал"};
    for (int i = 0; i < captions.size(); ++i) {
        m_tabs->InsertItem(i, captions[i]);
    }
    m_tabs->SetCurFocus(ReadSettingInt(QString(), QStringLiteral("Tab select"), 0));
    m_tabs->CreatePages();
    m_link.m_terminal = TerminalPage();
    RestoreComboText(m_port, ReadSettingString(kPortSection, QStringLiteral("Name"),
                                               QStringLiteral("/dev/ttyUSB0")));
    RestoreComboText(m_speed, ReadSettingString(kPortSection, QStringLiteral("Baud rate"),
                                                QStringLiteral("110")));

    connect(m_connect, &QPushButton::toggled, this, &CPelnoraDlg::OnConnectToggled);
    connect(m_about, &QPushButton::clicked, this, &CPelnoraDlg::OpenAbout);
    resize(sizeHint().expandedTo(QSize(470, 600)));
}

CPelnoraDlg::~CPelnoraDlg() {
    // Pages write their values and go before the link they refer to.
    m_link.m_terminal = nullptr;
    delete m_tabs;
    m_tabs = nullptr;
}

CAnemometerDlg* CPelnoraDlg::AnemometerPage() const {
    return static_cast<CAnemometerDlg*>(m_tabs->Page(CMyTabCtrl::kAnemometerPage));
}

CTerminalDlg* CPelnoraDlg::TerminalPage() const {
    return static_cast<CTerminalDlg*>(m_tabs->Page(CMyTabCtrl::kTerminalPage));
}

void CPelnoraDlg::SetSimulatedPort(const QString& path) {
    m_simulatedPort = path;
    m_port->setCurrentIndex(-1);
    m_port->setEditText(path);
}

void CPelnoraDlg::OnConnectToggled(bool checked) {
    if (checked) {
        Connect();
    } else {
        Disconnect();
    }
}

void CPelnoraDlg::Connect() {
    QString failure;
    {
        // A silent device costs one read time-out here.
        BusyCursor busy;
        try {
            m_link.m_port.Open(QFile::encodeName(m_port->currentText()).toStdString(),
                               LeadingNumber(m_speed->currentText()), 0, 8, 0);
            m_link.m_port.SetTimeouts(1000, 1000);
            m_link.DrainInput();
            const uint8_t capability = m_link.QueryDevice();
            AnemometerPage()->SetDeviceSupport(capability == 2);
            m_connect->setText(QStringLiteral("Отключиться"));
            return;
        } catch (const MCommunication::LLDevException& error) {
            failure = ConnectFailureText(error);
        }
    }
    // The toggle springs back; its text stays.
    {
        const QSignalBlocker block(m_connect);
        m_connect->setChecked(false);
    }
    m_ui->ShowMessage(failure, UserInterface::Icon::Error);
}

QString CPelnoraDlg::ConnectFailureText(const MCommunication::DeviceException& error) {
    return QString::fromStdString(UserText::PortOpenFailure(error));
}

void CPelnoraDlg::Disconnect() {
    m_link.m_port.Close();
    AnemometerPage()->DisableSend();
    TerminalPage()->ClearEchoLog();
    m_connect->setText(QStringLiteral("Подключиться"));
}

void CPelnoraDlg::OpenAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CPelnoraDlg::StoreWindowSettings() {
    if (m_simulatedPort.isEmpty() || m_port->currentText() != m_simulatedPort) {
        WriteSettingString(kPortSection, QStringLiteral("Name"), m_port->currentText());
    }
    WriteSettingString(kPortSection, QStringLiteral("Baud rate"), m_speed->currentText());
    WriteSettingInt(QString(), QStringLiteral("Tab select"), m_tabs->GetCurFocus());
}

void CPelnoraDlg::closeEvent(QCloseEvent* event) {
    // Only the close command stores the window's values; OK and Cancel do not.
    StoreWindowSettings();
    QDialog::closeEvent(event);
}

void CPelnoraDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier) {
        // A focused push button takes Enter; otherwise Enter is the dialog's OK.
        const auto* button = qobject_cast<QPushButton*>(focusWidget());
        if (button == nullptr || !button->isVisible() || !button->isEnabled()) {
            accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}
