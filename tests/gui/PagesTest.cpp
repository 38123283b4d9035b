// The UTC, anemometer, marks and route pages through a scripted user, against the simulator.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <functional>

#include "app/CPelnoraDlg.h"
#include "controls/CMyListCtrl.h"
#include "controls/CMyTabCtrl.h"
#include "controls/Settings.h"
#include "link/DataFormats.h"
#include "marks_route/CAnemometerDlg.h"
#include "marks_route/CPocketlogDlg.h"
#include "marks_route/CRouteDlg.h"
#include "marks_route/CUtcTimeDlg.h"
#include "sim/DeviceSimulator.h"
#include "support/FakeUserInterface.h"
#include "support/GuiTestApp.h"
#include "tracks/CTrackDlg.h"

namespace {

using Icon = UserInterface::Icon;
const QString kByteRefusal = "Enter an integer between 0 and 255.";

class PagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearTestSettings();
        BuildDeviceCharTable();
        ASSERT_TRUE(m_dir.isValid());
    }
    // Connects a window to the simulator (with the given faults) and forgets the query.
    void Connect(const sim::SimFaults& faults = {}) {
        m_sim.SetFaults(faults);
        const QString path = QString::fromStdString(m_sim.Start());
        m_window.PortBox()->setEditText(path);
        m_window.SpeedBox()->setCurrentText("115200");
        m_window.ConnectButton()->click();
        ASSERT_EQ(m_window.ConnectButton()->text(), "Отключиться");
        m_ui.Reset();
    }
    // Commands the device received after the connection's query.
    std::vector<uint8_t> Commands() {
        std::vector<uint8_t> commands = m_sim.Received().commands;
        if (!commands.empty() && commands.front() == 0x33) {
            commands.erase(commands.begin());
        }
        return commands;
    }
    template <typename Page>
    Page* PageAt(int index) {
        return static_cast<Page*>(m_window.Tabs()->Page(index));
    }
    void ExpectOnlyMessage(const QString& text, Icon icon) {
        ASSERT_EQ(m_ui.Messages().size(), 1u);
        EXPECT_EQ(m_ui.Messages()[0].text, text);
        EXPECT_EQ(m_ui.Messages()[0].icon, icon);
    }
    QString WriteFile(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QApplication& m_app = GuiTestApp();  // before any widget
    QTemporaryDir m_dir;
    FakeUserInterface m_ui;
    sim::DeviceSimulator m_sim;
    CPelnoraDlg m_window{&m_ui};
};

// ---- UTC page ----

TEST_F(PagesTest, UtcOffsetIsSentWhenInRange) {
    Connect();
    auto* page = PageAt<CUtcTimeDlg>(CMyTabCtrl::kUtcPage);
    struct Case {
        const char* hours;
        const char* minutes;
        uint8_t h, m;
    };
    for (const Case& c :
         {Case{"23", "59", 23, 59}, Case{"0", "0", 0, 0}, Case{" +3.5", "12abc", 3, 12}}) {
        m_ui.Reset();
        page->HoursField()->setText(c.hours);
        page->MinutesField()->setText(c.minutes);
        page->SendButton()->click();
        ExpectOnlyMessage("Сдвиг времени передан успешно", Icon::Information);
        const std::array<uint8_t, 2> expected = {c.h, c.m};
        EXPECT_TRUE(QTest::qWaitFor([&] { return m_sim.Received().utcOffset == expected; }, 3000))
            << c.hours;
        // Stored at once: the track page's times use the offset the device now has.
        EXPECT_EQ(ReadSettingInt(kUtcSettingsSection, kUtcHourSetting, -1), c.h);
        EXPECT_EQ(ReadSettingInt(kUtcSettingsSection, kUtcMinuteSetting, -1), c.m);
    }
}

TEST_F(PagesTest, UtcRangeAndFieldRefusalsSendNothing) {
    Connect();
    auto* page = PageAt<CUtcTimeDlg>(CMyTabCtrl::kUtcPage);
    m_window.show();
    struct Case {
        const char* hours;
        const char* minutes;
        QString message;
        Icon icon;
    };
    const Case cases[] = {
        {"24", "60", "Значение поля Часы должно быть от 0 до 23", Icon::Error},  // hours first
        {"5", "60", "Значение поля Минуты должно быть от 0 до 59", Icon::Error},
        {"-1", "0", kByteRefusal, Icon::None},
        {"256", "0", kByteRefusal, Icon::None},
        {"abc", "0", kByteRefusal, Icon::None},
        {"", "0", kByteRefusal, Icon::None},
        {"1", "x", kByteRefusal, Icon::None},
    };
    for (const Case& c : cases) {
        m_ui.Reset();
        page->HoursField()->setText(c.hours);
        page->MinutesField()->setText(c.minutes);
        page->SendButton()->click();
        ExpectOnlyMessage(c.message, c.icon);
    }
    QTest::qWait(50);
    EXPECT_TRUE(Commands().empty());
}

TEST_F(PagesTest, RefusedFieldKeepsItsValueAndTakesTheFocusSelected) {
    auto* page = PageAt<CUtcTimeDlg>(CMyTabCtrl::kUtcPage);
    m_window.show();
    QApplication::setActiveWindow(&m_window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
    page->HoursField()->setText("7");
    page->MinutesField()->setText("8");
    page->SendButton()->click();  // no port: a link error, but the members are read
    m_ui.Reset();
    page->HoursField()->setText("abc");
    page->MinutesField()->setText("9");
    page->SendButton()->click();
    ExpectOnlyMessage(kByteRefusal, Icon::None);
    EXPECT_EQ(page->Hours(), 7);
    EXPECT_EQ(page->Minutes(), 8);  // after the refused field nothing is read
    EXPECT_TRUE(page->HoursField()->hasFocus());
    EXPECT_EQ(page->HoursField()->selectedText(), "abc");
}

// ---- Anemometer page ----

TEST_F(PagesTest, CalibrationQuotientRules) {
    Connect();
    auto* page = PageAt<CAnemometerDlg>(CMyTabCtrl::kAnemometerPage);
    const QString tooBig =
        "Вы ввели неправильные данные!\nРезультат деления калибровочного анемометра на "
        "бортовой анемометр не может быть больше 1.5";
    const QString tooSmall =
        "Вы ввели неправильные данные!\nРезультат деления калибровочного анемометра на "
        "бортовой анемометр не может быть меньше 0.5";
    const QString sent = "Калибровка передана успешно";
    struct Case {
        const char* reference;
        const char* onboard;
        QString message;
    };
    const Case cases[] =
        {
            {"150", "100", sent},    {"151", "100", tooBig}, {"50", "100", sent},
            {"49", "100", tooSmall}, {"10", "0", tooBig},    {"0", "10", tooSmall},
            {"0", "0", sent},  // not a number passes both tests
        };
    for (const Case& c : cases) {
        m_ui.Reset();
        const auto before = m_sim.Received().commands.size();
        page->ReferenceField()->setText(c.reference);
        page->OnboardField()->setText(c.onboard);
        page->OnSendCalibration();
        ExpectOnlyMessage(c.message, c.message == sent ? Icon::Information : Icon::Error);
        if (c.message == sent) {
            const std::array<uint8_t, 2> expected = {uint8_t(QString(c.reference).toInt()),
                                                     uint8_t(QString(c.onboard).toInt())};
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return m_sim.Received().calibration == expected; }, 3000))
                << c.reference;
            EXPECT_EQ(m_sim.Received().commands.size(), before + 1);
        } else {
            QTest::qWait(20);
            EXPECT_EQ(m_sim.Received().commands.size(), before) << c.reference;
        }
    }
}

// ---- Marks page ----

TEST_F(PagesTest, MarksAreWrittenToTheChosenFile) {
    m_sim.SetMarks({{0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C},
                    {0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C}});
    Connect();
    const QString path = m_dir.filePath("Points.kml");
    m_ui.QueueFile(path);
    PageAt<CPocketlogDlg>(CMyTabCtrl::kMarksPage)->GetButton()->click();
    ASSERT_EQ(m_ui.FileRequests().size(), 1u);
    EXPECT_TRUE(m_ui.FileRequests()[0].save);
    EXPECT_EQ(m_ui.FileRequests()[0].filter, kKmlFilter + ";;GPX (*.gpx)");
    EXPECT_EQ(m_ui.FileRequests()[0].selectedFilter, kKmlFilter);
    ExpectOnlyMessage("Метки получены успешно", Icon::Information);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("<name>Points2</name>"));
    EXPECT_TRUE(text.contains("<coordinates>37.6173,55.7558</coordinates>"));
}

// GPX chosen: waypoints with their names, read back by xmllint; the choice is offered first
// the next time.
TEST_F(PagesTest, MarksAsGpxAreRemembered) {
    m_sim.SetMarks({{0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C},
                    {0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C}});
    Connect();
    const QString path = m_dir.filePath("Points.gpx");
    m_ui.QueueFilter("GPX (*.gpx)");
    m_ui.QueueFile(path);
    auto* page = PageAt<CPocketlogDlg>(CMyTabCtrl::kMarksPage);
    page->GetButton()->click();
    ExpectOnlyMessage("Метки получены успешно", Icon::Information);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_EQ(text.count("<wpt "), 2);
    EXPECT_TRUE(text.contains("<name>Points2</name>"));
    EXPECT_TRUE(text.contains("lat=\"55.7558"));
    EXPECT_EQ(std::system(("xmllint --noout '" + path.toStdString() + "'").c_str()), 0);
    m_ui.Reset();
    m_ui.QueueFile("");
    page->GetButton()->click();
    ASSERT_EQ(m_ui.FileRequests().size(), 1u);
    EXPECT_EQ(m_ui.FileRequests()[0].selectedFilter, "GPX (*.gpx)");
}

// Marks that came only in part never replace an older file: they go beside it, named.
TEST_F(PagesTest, MarksThatCameInPartGoBesideAnOlderFile) {
    m_sim.SetMarks({{0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C},
                    {0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C}});
    Connect();
    sim::SimFaults faults;
    faults.marksSent = 1;
    m_sim.SetFaults(faults);
    const QString path = WriteFile("Points.kml", "good");
    m_ui.QueueFile(path);
    PageAt<CPocketlogDlg>(CMyTabCtrl::kMarksPage)->GetButton()->click();
    const QString beside = m_dir.filePath("Points-неполный.kml");
    ExpectOnlyMessage("Получена 1 метка из 2. Записаны в файл " + beside, Icon::Error);
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "good");
    QFile file(beside);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().count("<Placemark>"), 1);
}

// Fewer marks than announced: the ones that came are written, and the message says so.
TEST_F(PagesTest, MarksThatDidNotComeAreNotWrittenAndAreCounted) {
    m_sim.SetMarks({{0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C},
                    {0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C},
                    {0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C}});
    Connect();
    sim::SimFaults faults;
    faults.marksSent = 2;
    m_sim.SetFaults(faults);
    const QString path = m_dir.filePath("Points.kml");
    m_ui.QueueFile(path);
    PageAt<CPocketlogDlg>(CMyTabCtrl::kMarksPage)->GetButton()->click();
    ExpectOnlyMessage("Получено 2 метки из 3.", Icon::Error);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_EQ(text.count("<Placemark>"), 2);
    EXPECT_FALSE(text.contains("<coordinates>0,0</coordinates>"));
}

TEST_F(PagesTest, MarksCancelSendsNothingAndNoMarksWriteNoFile) {
    Connect();
    m_ui.QueueFile("");
    auto* page = PageAt<CPocketlogDlg>(CMyTabCtrl::kMarksPage);
    page->OnGetMarks();
    EXPECT_TRUE(m_ui.Messages().empty());
    QTest::qWait(50);
    EXPECT_TRUE(Commands().empty());

    m_sim.SetMarks({});
    const QString path = WriteFile("old.kml", "keep me");
    m_ui.QueueFile(path);
    page->OnGetMarks();
    ExpectOnlyMessage("Метки получены успешно", Icon::Information);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "keep me");
}

TEST_F(PagesTest, MarksFailuresAreErrorBoxes) {
    sim::SimFaults faults;
    faults.silentCommands = {0x55};
    Connect(faults);
    m_window.Link().m_port.SetTimeouts(150, 150);
    auto* page = PageAt<CPocketlogDlg>(CMyTabCtrl::kMarksPage);
    const QString path = m_dir.filePath("silent.kml");
    m_ui.QueueFile(path);
    page->OnGetMarks();  // the device does not answer
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
    EXPECT_FALSE(QFile::exists(path));

    m_ui.Reset();
    faults.silentCommands.clear();
    m_sim.SetFaults(faults);
    m_sim.SetMarks({{0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C}});
    m_ui.QueueFile(m_dir.filePath("no-such-folder/marks.kml"));
    page->OnGetMarks();  // the file cannot be written
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
    EXPECT_TRUE(m_ui.Messages()[0].text.contains("no-such-folder"));

    m_ui.Reset();
    m_window.ConnectButton()->click();  // disconnected: the link error is shown
    m_ui.QueueFile(m_dir.filePath("closed.kml"));
    page->OnGetMarks();
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
    EXPECT_FALSE(QFile::exists(m_dir.filePath("closed.kml")));
}

// ---- Route page ----

QByteArray RouteKml(const QString& placemarks) {
    return (R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2"><Document><Folder>)" +
            placemarks + "</Folder></Document></kml>\n")
        .toUtf8();
}

TEST_F(PagesTest, RouteIsUploadedFromTheChosenFile) {
    Connect();
    const QString path =
        WriteFile("route.kml",
                  RouteKml("<Placemark><name>Москва</name><Point><coordinates>37.6173,55.7558"
                           "</coordinates></Point></Placemark>"
                           "<Placemark><name>A1</name><Point><coordinates>0,0</coordinates></Point>"
                           "</Placemark>"));
    m_ui.QueueFile(path);
    PageAt<CRouteDlg>(CMyTabCtrl::kRoutePage)->SendButton()->click();
    ASSERT_EQ(m_ui.FileRequests().size(), 1u);
    EXPECT_FALSE(m_ui.FileRequests()[0].save);
    EXPECT_EQ(m_ui.FileRequests()[0].filter, kRouteFilter);
    ExpectOnlyMessage("Маршрут передан успешно", Icon::Information);
    ASSERT_TRUE(m_sim.WaitForRoute(1, 3000));
    const std::vector<uint8_t> expected = {0x18, 0x37, 0x2D, 0x0D, 0x98, 0x25, 0x25, 0x01, 0x7C,
                                           0x4D, 0x6F, 0x63, 0xBA, 0,    0,    0,    0,    0,
                                           0,    0,    0,    0x41, 0x31, 0,    0};
    EXPECT_EQ(m_sim.Route(), expected);
}

TEST_F(PagesTest, RouteRefusalsSendNothing) {
    Connect();
    QString many;
    for (int i = 0; i < 256; ++i) {
        many += "<Placemark><name>P</name></Placemark>";
    }
    const QString cases[] = {
        m_dir.filePath("missing.kml"),
        WriteFile("broken.kml", "<kml><Document><Placemark></Document>"),
        WriteFile("many.kml", RouteKml(many)),
    };
    auto* page = PageAt<CRouteDlg>(CMyTabCtrl::kRoutePage);
    for (const QString& path : cases) {
        m_ui.Reset();
        m_ui.QueueFile(path);
        page->OnSendRoute();
        ASSERT_EQ(m_ui.Messages().size(), 1u) << path.toStdString();
        EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
        EXPECT_FALSE(m_ui.Messages()[0].text.isEmpty());
    }
    m_ui.Reset();
    m_ui.QueueFile("");  // cancelled
    page->OnSendRoute();
    EXPECT_TRUE(m_ui.Messages().empty());
    QTest::qWait(50);
    EXPECT_TRUE(Commands().empty());
}

// ---- A lost line ----

// Whatever page's command meets the hung-up line, the window closes the port, shows itself
// disconnected, and the user gets one box saying the line is lost.
TEST_F(PagesTest, LostLineDisconnectsAndSaysSoOnce) {
    const QString route =
        WriteFile("route.kml", RouteKml("<Placemark><name>A1</name><Point><coordinates>37.6,55.7"
                                        "</coordinates></Point></Placemark>"));
    const QString marks = m_dir.filePath("marks.kml");
    struct Case {
        const char* what;
        std::function<void()> act;
    };
    const Case cases[] = {
        {"utc", [&] { PageAt<CUtcTimeDlg>(CMyTabCtrl::kUtcPage)->SendButton()->click(); }},
        {"anemometer",
         [&] {
             auto* page = PageAt<CAnemometerDlg>(CMyTabCtrl::kAnemometerPage);
             page->ReferenceField()->setText("100");
             page->OnboardField()->setText("100");
             page->SendButton()->click();
         }},
        {"marks",
         [&] {
             m_ui.QueueFile(marks);
             PageAt<CPocketlogDlg>(CMyTabCtrl::kMarksPage)->GetButton()->click();
         }},
        {"route",
         [&] {
             m_ui.QueueFile(route);
             PageAt<CRouteDlg>(CMyTabCtrl::kRoutePage)->SendButton()->click();
         }},
        {"track table", [&] { PageAt<CTrackDlg>(CMyTabCtrl::kTrackPage)->OnGetTable(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_sim.Stop();
        Connect();
        ASSERT_TRUE(m_window.AnemometerPage()->SendButton()->isEnabled());
        m_sim.Stop();  // the adapter is pulled
        c.act();
        ASSERT_EQ(m_ui.Messages().size(), 1u);
        EXPECT_TRUE(m_ui.Messages()[0].text.startsWith("Связь с прибором потеряна: "))
            << m_ui.Messages()[0].text.toStdString();
        EXPECT_TRUE(m_ui.Messages()[0].text.endsWith("Input/output error"))
            << m_ui.Messages()[0].text.toStdString();
        EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
        EXPECT_FALSE(m_window.Link().m_port.IsOpen());
        EXPECT_FALSE(m_window.ConnectButton()->isChecked());
        EXPECT_EQ(m_window.ConnectButton()->text(), "Подключиться");
        EXPECT_FALSE(m_window.AnemometerPage()->SendButton()->isEnabled());
        EXPECT_TRUE(m_window.PortBox()->isEnabled());
        EXPECT_FALSE(QFile::exists(marks));
    }
}

TEST_F(PagesTest, LostLineDuringADownloadKeepsTheTracksThatArrived) {
    m_sim.SetTracks(
        {sim::DeviceSimulator::MakeBigTrack(50), sim::DeviceSimulator::MakeBigTrack(400)});
    Connect();
    auto* page = PageAt<CTrackDlg>(CMyTabCtrl::kTrackPage);
    page->OnGetTable();
    ASSERT_EQ(page->List()->GetItemCount(), 2);
    m_ui.Reset();
    sim::SimFaults faults;
    faults.hangupAfterBytes = 50 * 32 + 34 + 100 * 32;  // the first track, part of the second
    m_sim.SetFaults(faults);
    page->List()->SetRowSelected(0, true);
    page->List()->SetRowSelected(1, true);
    const QString path = m_dir.filePath("tracks.kml");
    m_ui.QueueFile(path);
    m_ui.SetDefaultAnswer(false);
    page->OnGetTrack();
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_TRUE(m_ui.Messages()[0].text.startsWith("Связь с прибором потеряна: "))
        << m_ui.Messages()[0].text.toStdString();
    EXPECT_FALSE(m_window.Link().m_port.IsOpen());
    EXPECT_EQ(m_window.ConnectButton()->text(), "Подключиться");
    QFile kml(path);
    ASSERT_TRUE(kml.open(QIODevice::ReadOnly));
    EXPECT_EQ(kml.readAll().count("<LineString>"), 1);
}

}  // namespace
