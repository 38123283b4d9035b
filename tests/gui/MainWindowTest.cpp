// Main window: stored values, the close and OK/Cancel paths, connecting to the simulator.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <chrono>

#include "app/CPelnoraDlg.h"
#include "app/CTerminalDlg.h"
#include "controls/CLabel.h"
#include "controls/CMyTabCtrl.h"
#include "controls/Settings.h"
#include "link/DeviceException.h"
#include "marks_route/CAnemometerDlg.h"
#include "marks_route/CUtcTimeDlg.h"
#include "sim/DeviceSimulator.h"
#include "support/FakeUserInterface.h"
#include "support/GuiTestApp.h"

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ClearTestSettings(); }

    CUtcTimeDlg* Utc(CPelnoraDlg& w) {
        return static_cast<CUtcTimeDlg*>(w.Tabs()->Page(CMyTabCtrl::kUtcPage));
    }
    int VisiblePages(CPelnoraDlg& w) {
        int visible = 0;
        for (int i = 0; i < CMyTabCtrl::kPageCount; ++i) {
            visible += w.Tabs()->Page(i)->isVisibleTo(w.Tabs()) ? 1 : 0;
        }
        return visible;
    }

    FakeUserInterface m_ui;
};

TEST_F(MainWindowTest, FirstStartShowsTheDefaults) {
    CPelnoraDlg w(&m_ui);
    EXPECT_EQ(w.PortBox()->currentText(), "/dev/ttyUSB0");
    EXPECT_EQ(w.SpeedBox()->currentText(), "110");
    EXPECT_EQ(w.SpeedBox()->count(), 15);
    EXPECT_FALSE(w.ConnectButton()->isChecked());
    EXPECT_EQ(w.ConnectButton()->text(), "Подключиться");
    EXPECT_EQ(w.Tabs()->GetCurFocus(), 0);
    EXPECT_TRUE(w.Tabs()->Page(0)->isVisibleTo(w.Tabs()));
    EXPECT_EQ(VisiblePages(w), 1);
    EXPECT_EQ(w.TerminalPage()->BytesPerLineBox()->currentText(), "16");
    EXPECT_EQ(Utc(w)->HoursField()->text(), "0");
    EXPECT_EQ(Utc(w)->MinutesField()->text(), "0");
    EXPECT_EQ(w.AnemometerPage()->ReferenceField()->text(), "0");
    EXPECT_EQ(w.AnemometerPage()->OnboardField()->text(), "0");
    EXPECT_FALSE(w.AnemometerPage()->SendButton()->isEnabled());
    EXPECT_TRUE(w.AnemometerPage()->Warning()->isHidden());
    EXPECT_EQ(w.Link().m_terminal, static_cast<LogSink*>(w.TerminalPage()));
}

TEST_F(MainWindowTest, ValuesSurviveCloseAndNewStart) {
    {
        CPelnoraDlg w(&m_ui);
        w.show();
        w.PortBox()->setEditText("/dev/ttyACM7");
        w.SpeedBox()->setCurrentText("9600");
        w.Tabs()->SetCurFocus(CMyTabCtrl::kAnemometerPage);
        w.TerminalPage()->BytesPerLineBox()->setCurrentText("12");
        Utc(w)->HoursField()->setText("5");
        Utc(w)->MinutesField()->setText("30");  // typed, never sent
        w.AnemometerPage()->ReferenceField()->setText("120");
        w.AnemometerPage()->OnboardField()->setText("100");
        w.close();
    }
    CPelnoraDlg w(&m_ui);
    EXPECT_EQ(w.PortBox()->currentText(), "/dev/ttyACM7");
    EXPECT_EQ(w.SpeedBox()->currentText(), "9600");
    EXPECT_EQ(w.Tabs()->GetCurFocus(), CMyTabCtrl::kAnemometerPage);
    EXPECT_TRUE(w.AnemometerPage()->isVisibleTo(w.Tabs()));
    EXPECT_EQ(VisiblePages(w), 1);
    EXPECT_EQ(w.TerminalPage()->BytesPerLineBox()->currentText(), "12");
    EXPECT_EQ(Utc(w)->HoursField()->text(), "5");
    EXPECT_EQ(Utc(w)->MinutesField()->text(), "30");
    EXPECT_EQ(w.AnemometerPage()->ReferenceField()->text(), "120");
    EXPECT_EQ(w.AnemometerPage()->OnboardField()->text(), "100");
    EXPECT_TRUE(m_ui.Messages().empty());
}

TEST_F(MainWindowTest, TitleIsTheProgramAndSaysWhenSimulated) {
    CPelnoraDlg w(&m_ui);
    EXPECT_EQ(w.windowTitle(), "Pelnora");
    w.SetSimulatedPort("/dev/pts/77");
    EXPECT_EQ(w.windowTitle(), "Pelnora — симулятор");
}

TEST_F(MainWindowTest, StoredTextsAndIndicesAreRestoredOrFallBack) {
    struct Case {
        int tab;
        const char* port;
        const char* speed;
        int expectedTab;
        const char* expectedPort;
        const char* expectedSpeed;
    };
    const Case cases[] = {
        {3, "/dev/ttyUSB1", "9600", 3, "/dev/ttyUSB1", "9600"},
        {9, "my-port", "2560", 0, "my-port", "256000"},  // a prefix selects the first match
        {-1, "", "abc", 0, "", ""},                      // no entry: no selection
    };
    for (const Case& c : cases) {
        WriteSettingInt("", "Tab select", c.tab);
        WriteSettingString("Comport", "Name", c.port);
        WriteSettingString("Comport", "Baud rate", c.speed);
        CPelnoraDlg w(&m_ui);
        EXPECT_EQ(w.Tabs()->GetCurFocus(), c.expectedTab) << c.tab;
        EXPECT_TRUE(w.Tabs()->Page(c.expectedTab)->isVisibleTo(w.Tabs()));
        EXPECT_EQ(VisiblePages(w), 1);
        EXPECT_EQ(w.PortBox()->currentText(), c.expectedPort);
        EXPECT_EQ(w.SpeedBox()->currentText(), c.expectedSpeed);
    }
}

TEST_F(MainWindowTest, StoredBytesAreTakenByTheirLowBits) {
    WriteSettingInt("UTC Time", "Hour", 300);
    WriteSettingInt("UTC Time", "Minute", 59);
    WriteSettingInt("Anemometer", "Calibration Anemometer", 511);
    WriteSettingString("Terminal", "Bytes in line", "99");
    CPelnoraDlg w(&m_ui);
    EXPECT_EQ(Utc(w)->HoursField()->text(), "44");
    EXPECT_EQ(Utc(w)->MinutesField()->text(), "59");
    EXPECT_EQ(w.AnemometerPage()->ReferenceField()->text(), "255");
    EXPECT_EQ(w.TerminalPage()->BytesPerLine(), 16);
}

TEST_F(MainWindowTest, SimulatedPortIsShownButNotStored) {
    WriteSettingString("Comport", "Name", "/dev/ttyUSB3");
    {
        CPelnoraDlg w(&m_ui);
        w.show();
        w.SetSimulatedPort("/dev/pts/77");
        EXPECT_EQ(w.PortBox()->currentText(), "/dev/pts/77");
        w.close();
    }
    EXPECT_EQ(ReadSettingString("Comport", "Name", ""), "/dev/ttyUSB3");
}

// Connecting against the simulator.
class ConnectTest : public MainWindowTest {
protected:
    void StartDevice(const sim::SimFaults& faults = {}) {
        m_sim.SetFaults(faults);
        m_path = QString::fromStdString(m_sim.Start());
    }
    sim::DeviceSimulator m_sim;
    QString m_path;
};

TEST_F(ConnectTest, CapabilityTwoEnablesTheAnemometerAndDisconnectEmptiesTheLog) {
    StartDevice();
    CPelnoraDlg w(&m_ui);
    w.PortBox()->setEditText(m_path);
    w.SpeedBox()->setCurrentText("115200");
    w.ConnectButton()->click();
    ASSERT_TRUE(m_ui.Messages().empty()) << m_ui.Messages()[0].text.toStdString();
    EXPECT_TRUE(w.ConnectButton()->isChecked());
    EXPECT_EQ(w.ConnectButton()->text(), "Отключиться");
    EXPECT_TRUE(w.AnemometerPage()->SendButton()->isEnabled());
    EXPECT_TRUE(w.AnemometerPage()->Warning()->isHidden());
    EXPECT_TRUE(w.Link().m_port.IsOpen());
    EXPECT_EQ(w.TerminalPage()->DisplayText(), "> 33 \n< 02 \n");
    Utc(w)->SendButton()->click();
    const QString before = "> 33 \n< 02 \n> BB \n> 00 \n> 00 \n";
    EXPECT_EQ(w.TerminalPage()->DisplayText(), before);

    w.ConnectButton()->click();  // disconnect
    EXPECT_FALSE(w.ConnectButton()->isChecked());
    EXPECT_EQ(w.ConnectButton()->text(), "Подключиться");
    EXPECT_FALSE(w.AnemometerPage()->SendButton()->isEnabled());
    EXPECT_FALSE(w.Link().m_port.IsOpen());
    EXPECT_TRUE(w.TerminalPage()->Log().Chunks().empty());
    EXPECT_EQ(w.TerminalPage()->DisplayText(), before);  // until the next command

    w.ConnectButton()->click();  // again: only the new exchange is shown
    EXPECT_EQ(w.TerminalPage()->DisplayText(), "> 33 \n< 02 \n");
}

TEST_F(ConnectTest, EnterAndEscapeNeitherEndTheWindowNorSendAByte) {
    StartDevice();
    CPelnoraDlg w(&m_ui);
    w.show();
    w.PortBox()->setEditText(m_path);
    w.SpeedBox()->setCurrentText("57600");
    w.ConnectButton()->click();
    ASSERT_EQ(w.ConnectButton()->text(), "Отключиться");
    w.Tabs()->SetCurFocus(CMyTabCtrl::kUtcPage);
    Utc(w)->HoursField()->setText("5");
    const std::size_t chunks = w.TerminalPage()->Log().Chunks().size();
    const std::size_t commands = m_sim.Received().commands.size();
    QWidget* targets[] = {Utc(w)->HoursField(), Utc(w)->MinutesField(), w.Tabs()->TabBar(),
                          w.SpeedBox(), &w};
    for (QWidget* target : targets) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            target->setFocus();
            QTest::keyClick(target, key,
                            key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            EXPECT_TRUE(w.isVisible()) << target->metaObject()->className() << " " << key;
            EXPECT_EQ(w.result(), 0);
        }
    }
    w.accept();  // the dialog's own OK and Cancel commands
    w.reject();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.TerminalPage()->Log().Chunks().size(), chunks);
    EXPECT_EQ(m_sim.Received().commands.size(), commands);
    EXPECT_TRUE(m_ui.Messages().empty());

    // Only the close command ends it, and it stores the window's values.
    w.close();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(ReadSettingString("Comport", "Name", ""), m_path);
    EXPECT_EQ(ReadSettingString("Comport", "Baud rate", ""), "57600");
    EXPECT_EQ(ReadSettingInt("", "Tab select", -1), int(CMyTabCtrl::kUtcPage));
}

TEST_F(ConnectTest, PortAndSpeedAreLockedWhileConnected) {
    StartDevice();
    CPelnoraDlg w(&m_ui);
    w.PortBox()->setEditText(m_path);
    EXPECT_TRUE(w.PortBox()->isEnabled());
    w.ConnectButton()->click();
    EXPECT_FALSE(w.PortBox()->isEnabled());
    EXPECT_FALSE(w.SpeedBox()->isEnabled());
    EXPECT_EQ(w.PortBox()->toolTip(), m_path);
    w.ConnectButton()->click();
    EXPECT_TRUE(w.PortBox()->isEnabled());
    EXPECT_TRUE(w.SpeedBox()->isEnabled());
}

TEST_F(ConnectTest, PathThatIsNoTerminalIsSaidSoAndLeftClosed) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("plain");
    {
        QFile plain(file);
        ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
        plain.write("data");
    }
    for (const QString& path : {file, dir.path()}) {
        m_ui.Reset();
        CPelnoraDlg w(&m_ui);
        w.PortBox()->setEditText(path);
        w.ConnectButton()->click();
        ASSERT_EQ(m_ui.Messages().size(), 1u) << path.toStdString();
        EXPECT_TRUE(m_ui.Messages()[0].text.startsWith("Это не последовательный порт: "))
            << m_ui.Messages()[0].text.toStdString();
        EXPECT_GT(m_ui.Messages()[0].text.size(), QString("Это не последовательный порт: ").size());
        EXPECT_EQ(m_ui.Messages()[0].icon, UserInterface::Icon::Error);
        EXPECT_FALSE(w.ConnectButton()->isChecked());
        EXPECT_FALSE(w.Link().m_port.IsOpen());
        EXPECT_TRUE(w.PortBox()->isEnabled());
    }
}

TEST_F(ConnectTest, OtherCapabilityShowsTheNoticeAndDisablesTheButton) {
    sim::SimFaults faults;
    faults.capability = 1;
    StartDevice(faults);
    CPelnoraDlg w(&m_ui);
    w.PortBox()->setEditText(m_path);
    w.ConnectButton()->click();
    EXPECT_EQ(w.ConnectButton()->text(), "Отключиться");
    EXPECT_FALSE(w.AnemometerPage()->SendButton()->isEnabled());
    EXPECT_FALSE(w.AnemometerPage()->Warning()->isHidden());
    EXPECT_EQ(w.AnemometerPage()->Warning()->TextColour(), QColor(255, 0, 0));
    w.ConnectButton()->click();  // the notice keeps its state on disconnect
    EXPECT_FALSE(w.AnemometerPage()->Warning()->isHidden());
}

TEST_F(ConnectTest, SilentDeviceConnectsAfterOneTimeOut) {
    sim::SimFaults faults;
    faults.silentCommands = {0x33};
    StartDevice(faults);
    CPelnoraDlg w(&m_ui);
    w.PortBox()->setEditText(m_path);
    const auto start = std::chrono::steady_clock::now();
    w.ConnectButton()->click();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_TRUE(m_ui.Messages().empty());
    EXPECT_EQ(w.ConnectButton()->text(), "Отключиться");
    EXPECT_FALSE(w.AnemometerPage()->SendButton()->isEnabled());
    EXPECT_FALSE(w.AnemometerPage()->Warning()->isHidden());
}

TEST_F(ConnectTest, MissingDeviceSpringsBackWithTheSystemText) {
    CPelnoraDlg w(&m_ui);
    w.PortBox()->setEditText("/dev/pelnora-no-such-port");
    w.ConnectButton()->click();
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].icon, UserInterface::Icon::Error);
    EXPECT_TRUE(m_ui.Messages()[0].text.contains("No such file or directory"))
        << m_ui.Messages()[0].text.toStdString();
    EXPECT_FALSE(w.ConnectButton()->isChecked());
    EXPECT_EQ(w.ConnectButton()->text(), "Подключиться");
    EXPECT_FALSE(w.AnemometerPage()->SendButton()->isEnabled());
}

TEST_F(ConnectTest, PermissionDeniedExplainsHowToGetAccess) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root opens any device";
    }
    char path[] = "/tmp/pelnora-locked-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    chmod(path, 0);
    CPelnoraDlg w(&m_ui);
    w.PortBox()->setEditText(path);
    w.ConnectButton()->click();
    unlink(path);
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_TRUE(m_ui.Messages()[0].text.contains("dialout"));
    EXPECT_FALSE(w.ConnectButton()->isChecked());
}

TEST(ConnectFailureText, PermissionDeniedAddsTheDialoutHint) {
    const QString denied = CPelnoraDlg::ConnectFailureText(MCommunication::ComException(EACCES));
    EXPECT_TRUE(denied.startsWith("Permission denied")) << denied.toStdString();
    EXPECT_TRUE(denied.contains("dialout"));
    const QString busy = CPelnoraDlg::ConnectFailureText(MCommunication::ComException(EBUSY));
    EXPECT_FALSE(busy.contains("dialout"));
}

TEST_F(ConnectTest, CommandOnAClosedPortIsAnErrorBox) {
    CPelnoraDlg w(&m_ui);
    Utc(w)->HoursField()->setText("3");
    Utc(w)->SendButton()->click();
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].icon, UserInterface::Icon::Error);
    EXPECT_NE(m_ui.Messages()[0].text, "Сдвиг времени передан успешно");
}

}  // namespace
