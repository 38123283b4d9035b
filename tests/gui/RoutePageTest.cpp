// The route page through its button and a scripted user, against the simulator.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/CPelnoraDlg.h"
#include "controls/CMyTabCtrl.h"
#include "link/DataFormats.h"
#include "marks_route/CRouteDlg.h"
#include "marks_route/Route.h"
#include "sim/DeviceSimulator.h"
#include "support/FakeUserInterface.h"
#include "support/GuiTestApp.h"

namespace {

using Icon = UserInterface::Icon;
using Bytes = std::vector<uint8_t>;

const QString kSent = QStringLiteral("Маршрут передан успешно");

class RoutePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearTestSettings();
        BuildDeviceCharTable();
        ASSERT_TRUE(m_dir.isValid());
        const QString path = QString::fromStdString(m_sim.Start());
        m_window.PortBox()->setEditText(path);
        m_window.SpeedBox()->setCurrentText("115200");
        m_window.ConnectButton()->click();
        ASSERT_EQ(m_window.ConnectButton()->text(), "Отключиться");
        m_ui.Reset();
    }
    QString WriteFile(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    // Chooses path in the file dialog and presses "Передать".
    void Send(const QString& path) {
        m_ui.QueueFile(path);
        static_cast<CRouteDlg*>(m_window.Tabs()->Page(CMyTabCtrl::kRoutePage))
            ->SendButton()
            ->click();
    }
    // The route bytes the device received (length byte and points), once the upload ended.
    Bytes Received() {
        EXPECT_TRUE(m_sim.WaitForRoute(1, 3000));
        return m_sim.Route();
    }
    // Nothing reached the device but the connection's query.
    void ExpectNothingSent() {
        QTest::qWait(50);
        for (const uint8_t command : m_sim.Received().commands) {
            EXPECT_EQ(command, 0x33);
        }
        EXPECT_FALSE(m_sim.WaitForRoute(1, 300));
    }
    std::vector<QString> MessageTexts() const {
        std::vector<QString> texts;
        for (const auto& m : m_ui.Messages()) {
            texts.push_back(m.text);
        }
        return texts;
    }

    QApplication& m_app = GuiTestApp();  // before any widget
    QTemporaryDir m_dir;
    FakeUserInterface m_ui;
    sim::DeviceSimulator m_sim;
    CPelnoraDlg m_window{&m_ui};
};

QByteArray Kml(const QString& body) {
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n" +
            body + "</Document></kml>\n")
        .toUtf8();
}

QString Placemark(const QString& name, const QString& coordinates) {
    return "<Placemark><name>" + name + "</name><Point><coordinates>" + coordinates +
           "</coordinates></Point></Placemark>\n";
}

Bytes PointBytes(double latitude, double longitude, const std::string& name) {
    const PackedPosition position = PackPosition(latitude, longitude);
    Bytes bytes(position.begin(), position.end());
    const auto device = ToDeviceName(name);
    bytes.insert(bytes.end(), device.begin(), device.end());
    return bytes;
}

TEST_F(RoutePageTest, GpxRouteIsUploadedAndTheDialogOffersBothKinds) {
    // A GPX file is told by its root element, whatever its name.
    const QString path =
        WriteFile("route.xml",
                  "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"t\">\n"
                  "<wpt lat=\"1\" lon=\"1\"><name>W</name></wpt>\n"
                  "<rte><rtept lat=\"55.7558\" lon=\"37.6173\"><name>Москва</name></rtept>"
                  "<rtept lat=\"56.8587\" lon=\"35.9176\"><name>Тверь</name></rtept></rte>\n"
                  "</gpx>\n");
    Send(path);
    ASSERT_EQ(m_ui.FileRequests().size(), 1u);
    EXPECT_FALSE(m_ui.FileRequests()[0].save);
    EXPECT_EQ(m_ui.FileRequests()[0].filter, kRouteFilter);
    EXPECT_TRUE(kRouteFilter.startsWith("KML и GPX (*.kml *.gpx)"));
    EXPECT_TRUE(m_ui.Questions().empty());
    EXPECT_EQ(MessageTexts(), std::vector<QString>{kSent});
    Bytes expected = {24};
    for (const Bytes& point :
         {PointBytes(55.7558, 37.6173, "Москва"), PointBytes(56.8587, 35.9176, "Тверь")}) {
        expected.insert(expected.end(), point.begin(), point.end());
    }
    EXPECT_EQ(Received(), expected);
}

TEST_F(RoutePageTest, EmptyFileAsksBeforeErasingTheRoute) {
    const QString path = WriteFile("empty.kml", Kml("<name>Пусто</name>"));
    m_ui.QueueAnswer(false);
    Send(path);
    ASSERT_EQ(m_ui.Questions().size(), 1u);
    EXPECT_EQ(m_ui.Questions()[0].text, "В файле нет точек маршрута. Стереть маршрут в приборе?");
    EXPECT_EQ(m_ui.Questions()[0].icon, Icon::Question);
    EXPECT_TRUE(m_ui.Messages().empty());
    ExpectNothingSent();

    m_ui.Reset();
    m_ui.QueueAnswer(true);
    Send(path);
    EXPECT_EQ(m_ui.Questions().size(), 1u);
    EXPECT_EQ(MessageTexts(), std::vector<QString>{kSent});
    EXPECT_EQ(Received(), Bytes{0x00});  // AA 00: the device's route erased
}

TEST_F(RoutePageTest, PlacemarksWithoutPositionAreNamedAndLeftOut) {
    const QString path =
        WriteFile("path.kml", Kml(Placemark("Старт", "37.6173,55.7558") +
                                  "<Placemark><name>Путь</name><LineString><coordinates>"
                                  "37,55 38,56</coordinates></LineString></Placemark>\n"));
    m_ui.QueueAnswer(true);
    Send(path);
    ASSERT_EQ(m_ui.Questions().size(), 1u);
    EXPECT_EQ(m_ui.Questions()[0].text,
              "В файле нет координат у точек 2 «Путь»; они не будут переданы. Передать маршрут "
              "из 1 точки?");
    EXPECT_EQ(MessageTexts(), std::vector<QString>{kSent});
    Bytes expected = {12};
    const Bytes start = PointBytes(55.7558, 37.6173, "Старт");
    expected.insert(expected.end(), start.begin(), start.end());
    EXPECT_EQ(Received(), expected);  // no 0°N 0°E point for the path
}

TEST_F(RoutePageTest, SameDeviceNamesWarnThenSend) {
    Send(WriteFile("same.kml",
                   Kml(Placemark("Москва", "37.6,55.7") + Placemark("Москворечье", "37.7,55.6"))));
    EXPECT_TRUE(m_ui.Questions().empty());
    ASSERT_EQ(m_ui.Messages().size(), 2u);
    EXPECT_EQ(m_ui.Messages()[0].text,
              "В приборе будут одинаковые имена у точек 1 «Москва» и 2 «Москворечье».");
    EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Warning);
    EXPECT_EQ(m_ui.Messages()[1].text, kSent);
    EXPECT_EQ(Received().size(), 1u + 2 * 12);
}

// Refused files: one error naming the problem, no question, nothing sent.
TEST_F(RoutePageTest, RefusalsSendNothing) {
    const QString fifo = m_dir.filePath("fifo.kml");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const struct {
        QString path;
        QString message;
    } cases[] = {
        {WriteFile("nan.kml", Kml(Placemark("A", "37,55") + Placemark("Б", "nan,55"))),
         "Точка 2 «Б»: долгота «nan» не является десятичным числом."},
        {WriteFile("north.gpx", "<gpx><wpt lat=\"95\" lon=\"37\"><name>Полюс</name></wpt></gpx>"),
         "Точка 1 «Полюс»: широта 95 больше 90 градусов."},
        {WriteFile("cut.kml", "<kml>\n<Document>\n<Placemark>\n<name>A</name>\n"),
         "Файл маршрута обрывается на строке 4: не закрыт элемент <Placemark> из строки 3."},
        {fifo, "Не удалось прочитать файл маршрута \"" + fifo + "\": это канал."},
        {m_dir.path(), "Не удалось прочитать файл маршрута \"" + m_dir.path() + "\": это папка."},
    };
    for (const auto& c : cases) {
        m_ui.Reset();
        Send(c.path);
        EXPECT_TRUE(m_ui.Questions().empty()) << c.path.toStdString();
        ASSERT_EQ(m_ui.Messages().size(), 1u) << c.path.toStdString();
        EXPECT_EQ(m_ui.Messages()[0].text, c.message);
        EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
    }
    ExpectNothingSent();
}

}  // namespace
