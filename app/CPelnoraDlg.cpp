#include "app/CPelnoraDlg.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>

#include "app/AppIcon.h"
#include "app/CAboutDlg.h"
#include "app/CTerminalDlg.h"
#include "controls/BusyCursor.h"
#include "controls/CMyTabCtrl.h"
#include "controls/Settings.h"
#include "link/DeviceException.h"
#include "link/LineSpeeds.h"
#include "link/UserTexts.h"
#include "marks_route/CAnemometerDlg.h"
#include "marks_route/CPocketlogDlg.h"
#include "marks_route/CRouteDlg.h"
#include "marks_route/CUtcTimeDlg.h"
#include "tracks/CTrackDlg.h"

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

namespace {

// Shows each port's description after its path in the open list.
class PortItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString description = index.data(CPortComboBox::kDescriptionRole).toString();
        if (!description.isEmpty()) {
            option->text += QStringLiteral("  —  ") + description;
        }
    }
};

const QString kByIdFolder = QStringLiteral("/dev/serial/by-id");

}  // namespace

CPortComboBox::CPortComboBox(QWidget* parent)
    : QComboBox(parent), m_watcher(new QFileSystemWatcher(this)), m_settle(new QTimer(this)) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // Room for the names under /dev/serial/by-id; the whole path is the tooltip.
    setMinimumContentsLength(40);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setItemDelegate(new PortItemDelegate(this));
    connect(this, &QComboBox::editTextChanged, this,
            [this](const QString& text) { setToolTip(text); });
    m_settle->setSingleShot(true);
    m_settle->setInterval(300);
    connect(m_settle, &QTimer::timeout, this, [this] {
        WatchDevices();
        if (view()->isVisible() || (lineEdit() != nullptr && lineEdit()->hasFocus())) {
            m_settle->start();  // not under the user's hands: once the list or the typing is done
            return;
        }
        RefreshPorts();
    });
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_settle,
            qOverload<>(&QTimer::start));
    WatchDevices();
}

void CPortComboBox::WatchDevices() {
    // The by-id folder exists only while a USB serial device is plugged in.
    for (const QString& folder :
         {QStringLiteral("/dev"), QStringLiteral("/dev/serial"), kByIdFolder}) {
        if (!m_watcher->directories().contains(folder) && QFileInfo(folder).isDir()) {
            m_watcher->addPath(folder);
        }
    }
}

std::vector<CPortComboBox::Port> CPortComboBox::ListSerialPorts() {
    // What the system knows of each device node: its USB product and maker.
    QHash<QString, QString> descriptions;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QString text = info.description().trimmed();
        const QString maker = info.manufacturer().trimmed();
        if (!maker.isEmpty() && !text.contains(maker, Qt::CaseInsensitive)) {
            text = text.isEmpty() ? maker : text + QStringLiteral(" (") + maker + QLatin1Char(')');
        }
        if (!text.isEmpty()) {
            descriptions.insert(info.systemLocation(), text);
        }
    }
    std::vector<Port> ports;
    const auto add = [&](const QString& path) {
        ports.push_back({path, descriptions.value(QFileInfo(path).canonicalFilePath())});
    };
    const QDir dev(QStringLiteral("/dev"));
    for (const QString& pattern :
         {QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*"), QStringLiteral("ttyS*")}) {
        QStringList names = dev.entryList({pattern}, QDir::System | QDir::Files, QDir::Name);
        // ttyS2 before ttyS10.
        std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        for (const QString& name : names) {
            add(dev.filePath(name));
        }
    }
    const QDir byId(kByIdFolder);
    for (const QString& name : byId.entryList(QDir::System | QDir::Files, QDir::Name)) {
        add(byId.filePath(name));
    }
    return ports;
}

void CPortComboBox::RefreshPorts() {
    const std::vector<Port> ports = ListSerialPorts();
    bool same = int(ports.size()) == count();
    for (int i = 0; same && i < count(); ++i) {
        same = itemText(i) == ports[std::size_t(i)].path &&
               itemData(i, kDescriptionRole).toString() == ports[std::size_t(i)].description;
    }
    if (same) {
        return;  // /dev changes for many reasons; the list only when a port came or went
    }
    const QString typed = currentText();
    const QSignalBlocker block(this);
    clear();
    int widest = 0;
    const QFontMetrics metrics(view()->font());
    for (const Port& port : ports) {
        addItem(port.path);
        const int row = count() - 1;
        setItemData(row, port.description, kDescriptionRole);
        setItemData(row,
                    port.description.isEmpty() ? port.path
                                               : port.path + QLatin1Char('\n') + port.description,
                    Qt::ToolTipRole);
        const QString shown = port.description.isEmpty()
                                  ? port.path
                                  : port.path + QStringLiteral("  —  ") + port.description;
        widest = std::max(widest, metrics.horizontalAdvance(shown));
    }
    // The open list is as wide as its longest entry, even where the box is narrower.
    view()->setMinimumWidth(widest + 4 * metrics.averageCharWidth() +
                            style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    setCurrentIndex(findText(typed));
    setEditText(typed);
    setToolTip(typed);
}

void CPortComboBox::showPopup() {
    RefreshPorts();
    QComboBox::showPopup();
}

const QStringList& CPelnoraDlg::Speeds() {
    static const QStringList speeds = [] {
        QStringList list;
        for (const uint32_t speed : kLineSpeeds) {
            list << QString::number(speed);
        }
        return list;
    }();
    return speeds;
}

CPelnoraDlg::CPelnoraDlg(UserInterface* ui, QWidget* parent)
    : QDialog(parent),
      m_qtUi(ui == nullptr ? std::make_unique<QtUserInterface>(this) : nullptr),
      m_ui(ui == nullptr ? m_qtUi.get() : ui),
      m_tabs(new CMyTabCtrl(this)),
      m_port(new CPortComboBox(this)),
      m_speed(new QComboBox(this)),
      m_connect(new QPushButton(QStringLiteral("Подключиться"), this)),
      m_about(new QPushButton(QStringLiteral("О программе..."), this)) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(kProgramName);
    setWindowIcon(PelnoraIcon());
    setSizeGripEnabled(true);
    m_tabs->SetPages({new CUtcTimeDlg(m_link, *m_ui), new CPocketlogDlg(m_link, *m_ui),
                      new CRouteDlg(m_link, *m_ui), new CTrackDlg(m_link, *m_ui),
                      new CAnemometerDlg(m_link, *m_ui), new CTerminalDlg(m_link, *m_ui)});
    for (int i = 0; i < CMyTabCtrl::kPageCount; ++i) {
        connect(m_tabs->Page(i), &CTabDialog::LineLost, this, &CPelnoraDlg::OnLineLost);
    }

    // The About item of the window's menu: here, the window's context menu.
    auto* aboutAction = new QAction(QStringLiteral("&About Pelnora..."), this);
    connect(aboutAction, &QAction::triggered, this, &CPelnoraDlg::OpenAbout);
    addAction(aboutAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    m_speed->addItems(Speeds());
    m_speed->setMinimumContentsLength(8);
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
    grid->addWidget(m_speed, 1, 1, Qt::AlignLeft);
    grid->addWidget(m_connect, 2, 0, 1, 2);

    grid->setColumnStretch(1, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(portGroup, 1);
    bottom->addSpacing(24);
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
    m_port->RefreshPorts();  // after the stored text, which it keeps as typed

    connect(m_connect, &QPushButton::toggled, this, &CPelnoraDlg::OnConnectToggled);
    connect(m_about, &QPushButton::clicked, this, &CPelnoraDlg::OpenAbout);
    resize(sizeHint().expandedTo(QSize(760, 640)));
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
    setWindowTitle(kProgramName + QStringLiteral(" — симулятор"));
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
            ShowConnected(true);
            return;
        } catch (const MCommunication::LLDevException& error) {
            failure = ConnectFailureText(error);
            const auto* com = dynamic_cast<const MCommunication::ComException*>(&error);
            if (com != nullptr && com->Code() == ENOTTY) {
                m_link.m_port.Close();  // a plain file is no port to keep open
            }
        }
    }
    // The toggle springs back; its text stays.
    {
        const QSignalBlocker block(m_connect);
        m_connect->setChecked(false);
    }
    m_ui->ShowMessage(failure, UserInterface::Icon::Error);
}

void CPelnoraDlg::ShowConnected(bool connected) {
    {
        const QSignalBlocker block(m_connect);
        m_connect->setChecked(connected);
    }
    m_connect->setText(connected ? QStringLiteral("Отключиться") : QStringLiteral("Подключиться"));
    // Port and speed mean nothing to an open connection.
    m_port->setEnabled(!connected);
    m_speed->setEnabled(!connected);
}

void CPelnoraDlg::OnLineLost() {
    m_link.m_port.Close();
    AnemometerPage()->DisableSend();
    ShowConnected(false);
}

QString CPelnoraDlg::ConnectFailureText(const MCommunication::DeviceException& error) {
    return QString::fromStdString(UserText::PortOpenFailure(error));
}

void CPelnoraDlg::Disconnect() {
    m_link.m_port.Close();
    AnemometerPage()->DisableSend();
    TerminalPage()->ClearEchoLog();
    ShowConnected(false);
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
    // The close command is the only way out, and it stores the window's values.
    StoreWindowSettings();
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void CPelnoraDlg::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape that no control took: nothing (no default button is pressed either).
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}
