// The track page against the simulator: table, download, clear, interval.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "controls/CLabel.h"
#include "controls/CMyListCtrl.h"
#include "controls/CTextProgressCtrl.h"
#include "controls/Settings.h"
#include "link/DeviceLink.h"
#include "sim/DeviceSimulator.h"
#include "tests/support/FakeUserInterface.h"
#include "tests/support/GuiTestApp.h"
#include "tests/tracks/KmlConsumers.h"
#include "tracks/CTrackDlg.h"
#include "tracks/CTrackProgressDlg.h"

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Icon = UserInterface::Icon;

sim::SimTrack MakeTrack(int day, int hour, int points, uint8_t interval = 2) {
    sim::SimTrack track;
    track.record = sim::DeviceSimulator::MakeRecord(day, 3, 13, hour, 0, 0, interval,
                                                    static_cast<uint16_t>(points));
    for (int i = 0; i < points; ++i) {
        track.points.push_back(
            sim::DeviceSimulator::MakePoint(55.75 + i * 0.001, 37.6, 150, 80, 1.5, 85));
    }
    return track;
}

// Watches the download dialog while it runs: captions, bar values, gaps in the event loop.
class DialogWatcher : public QObject {
public:
    explicit DialogWatcher(std::function<void(CTrackProgressDlg&)> onPoll = {})
        : m_onPoll(std::move(onPoll)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(5);
        m_clock.start();
        qApp->installEventFilter(this);
    }
    ~DialogWatcher() override { qApp->removeEventFilter(this); }

    std::vector<QString> captions;
    std::vector<int> barValues;
    qint64 longestGapMs = 0;
    qint64 polls = 0;

protected:
    // Every caption the dialog is given, however quickly the next one follows.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowTitleChange) {
            auto* dialog = qobject_cast<CTrackProgressDlg*>(watched);
            if (dialog != nullptr && dialog->windowTitle() != QStringLiteral("Dialog")) {
                captions.push_back(dialog->windowTitle());
            }
        }
        return false;
    }

private:
    void Poll() {
        longestGapMs = std::max(longestGapMs, m_clock.restart());
        ++polls;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<CTrackProgressDlg*>(widget);
            if (dialog == nullptr || !dialog->isVisible()) {
                continue;
            }
            barValues.push_back(dialog->Bar()->value());
            if (m_onPoll) {
                m_onPoll(*dialog);
            }
        }
    }

    std::function<void(CTrackProgressDlg&)> m_onPoll;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

class TrackPage : public ::testing::Test {
protected:
    void SetUp() override {
        ClearTestSettings();
        setenv("TZ", "UTC", 1);
        tzset();
        ASSERT_TRUE(m_folder.isValid());
    }
    void TearDown() override {
        m_link.m_port.Close();
        m_sim.Stop();
    }

    // Starts the device with these tracks and reads the table on the page.
    void Connect(std::vector<sim::SimTrack> tracks, bool layout = true) {
        m_sim.SetTracks(std::move(tracks), layout);
        const std::string path = m_sim.Start();
        m_link.m_port.Open(path, 115200, 0, 8, 0);
        m_link.m_port.SetTimeouts(200, 200);
        m_link.m_terminal = &m_log;
    }
    void ReadTable() {
        m_page.OnGetTable();
        m_sim.ClearReceived();
        m_ui.Reset();
    }
    void Select(std::initializer_list<int> rows) {
        for (const int row : rows) {
            m_page.List()->SetRowSelected(row, true);
        }
    }
    QString KmlPath(const char* name = "tracks.kml") const { return m_folder.filePath(name); }
    QString ReadKml(const char* name = "tracks.kml") const {
        QFile file(KmlPath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll());
    }
    // The one box after a download: how many tracks went into which file.
    static void ExpectSavedBox(const FakeUserInterface& ui, const QString& text) {
        ASSERT_NE(ui.LastMessage(), nullptr);
        EXPECT_EQ(ui.LastMessage()->text, text);
        EXPECT_EQ(ui.LastMessage()->icon, Icon::Information);
    }
    // A lost line during a download: one box says so, then what was saved where.
    static void ExpectLostLineBox(const FakeUserInterface& ui, const QString& saved) {
        ASSERT_EQ(ui.Messages().size(), 1u);
        EXPECT_TRUE(ui.Messages()[0].text.startsWith(QStringLiteral("Связь с прибором потеряна: ")))
            << ui.Messages()[0].text.toStdString();
        EXPECT_TRUE(ui.Messages()[0].text.endsWith(QStringLiteral("\n\n") + saved))
            << ui.Messages()[0].text.toStdString();
        EXPECT_EQ(ui.Messages()[0].icon, Icon::Error);
    }
    static std::vector<uint32_t> Colours(const CMyListCtrl* list) {
        std::vector<uint32_t> colours;
        for (int row = 0; row < list->GetItemCount(); ++row) {
            colours.push_back(list->GetItemData(row));
        }
        return colours;
    }
    static constexpr uint32_t kGrey = CMyListCtrl::kDoneRowColour;
    static constexpr uint32_t kBlack = CMyListCtrl::kDefaultRowColour;
    int DownloadCommands() const {
        const auto commands = m_sim.Received().commands;
        return static_cast<int>(std::count(commands.begin(), commands.end(), 0x11));
    }

    QApplication& m_app = GuiTestApp();
    QTemporaryDir m_folder;
    sim::DeviceSimulator m_sim;
    DeviceLink m_link;
    EchoLogRecorder m_log;
    FakeUserInterface m_ui;
    CTrackDlg m_page{m_link, m_ui};
};

TEST_F(TrackPage, TableFillsRowsAndMemoryBar) {
    auto faulty = MakeTrack(6, 11, 0);
    auto last = MakeTrack(7, 12, 100, 5);
    last.record[6] = 0;  // start page 1000
    last.record[7] = 0x03;
    last.record[8] = 0xE8;
    Connect({MakeTrack(5, 9, 3), faulty, last}, false);
    EXPECT_EQ(m_page.MemoryBar()->DisplayText(), QStringLiteral("0,000000 %"));
    EXPECT_EQ(m_page.MemoryBar()->GetTextColour(), m_page.MemoryBar()->GetBkColour());

    m_page.OnGetTable();

    EXPECT_TRUE(m_ui.Messages().empty());
    CMyListCtrl* list = m_page.List();
    ASSERT_EQ(list->GetItemCount(), 3);
    const QStringList first = {"0", "05.03.13", "09:00:00", "00:00:06", "2"};
    const QStringList second = {"1", "06.03.13", "11:00:00", "неисправный трек", "2"};
    const QStringList third = {"2", "07.03.13", "12:00:00", "00:08:20", "5"};
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(list->GetItemText(0, column), first[column]);
        EXPECT_EQ(list->GetItemText(1, column), second[column]);
        EXPECT_EQ(list->GetItemText(2, column), third[column]);
    }
    EXPECT_EQ(list->GetItemData(2), CMyListCtrl::kDefaultRowColour);
    CTextProgressCtrl* bar = m_page.MemoryBar();
    EXPECT_EQ(bar->GetPos(), 191);
    EXPECT_EQ(bar->GetRange(false), 100000);
    EXPECT_EQ(bar->GetBarColour(), QColor(0, 200, 60));
    EXPECT_EQ(bar->DisplayText(), QStringLiteral("0,191000 %"));
    EXPECT_EQ(bar->GetTextColour(), m_page.palette().color(QPalette::WindowText));
    EXPECT_TRUE(m_page.Hint()->isHidden());
}

TEST_F(TrackPage, EmptyTableKeepsRowsAndSays) {
    Connect({MakeTrack(5, 9, 3), MakeTrack(5, 10, 3)});
    ReadTable();
    m_sim.SetTracks({});

    m_page.OnGetTable();

    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].text, QStringLiteral("Не удалось получить информацию о треках"));
    EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Information);
    EXPECT_EQ(m_page.List()->GetItemCount(), 2);
}

TEST_F(TrackPage, LinkErrorOnTableShowsBothMessages) {
    m_page.OnGetTable();  // the port is not open
    ASSERT_EQ(m_ui.Messages().size(), 2u);
    EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
    EXPECT_FALSE(m_ui.Messages()[0].text.isEmpty());
    EXPECT_EQ(m_ui.Messages()[1].text, QStringLiteral("Не удалось получить информацию о треках"));
    EXPECT_FALSE(m_page.Hint()->isHidden());
}

TEST_F(TrackPage, OneIntactTrackIsWritten) {
    Connect({MakeTrack(5, 9, 3)});
    ReadTable();
    Select({0});
    m_ui.QueueFile(KmlPath());
    DialogWatcher watcher;
    QElapsedTimer clock;
    clock.start();

    m_page.OnGetTrack();

    EXPECT_LT(clock.elapsed(), 2500);  // ends about a second after the last track
    EXPECT_EQ(watcher.captions, std::vector<QString>{QStringLiteral("Получение 1 трека из 1")});
    ASSERT_EQ(m_ui.FileRequests().size(), 1u);
    EXPECT_EQ(m_ui.FileRequests()[0].filter,
              QStringLiteral(" (Google Earth *.kml) (*.kml);;KML со временем (*.kml);;GPX "
                             "(*.gpx);;IGC (папка) (*.igc)"));
    EXPECT_EQ(m_ui.FileRequests()[0].selectedFilter, kKmlFilter);  // the track KML first
    EXPECT_EQ(m_ui.FileRequests()[0].suggestedName, QStringLiteral("2013-03-05.kml"));
    EXPECT_TRUE(m_ui.Questions().empty());
    EXPECT_EQ(m_ui.Messages().size(), 1u);
    ExpectSavedBox(m_ui, QStringLiteral("Сохранён 1 трек из 1 в файл ") + KmlPath());
    EXPECT_EQ(m_page.List()->GetItemData(0), CMyListCtrl::kDoneRowColour);
    const QString kml = ReadKml();
    EXPECT_EQ(kml.count(QStringLiteral("<LineString>")), 1);
    EXPECT_TRUE(kml.contains(QStringLiteral("<name>09:00:00</name>")));
}

// GPX chosen in the save dialog: the times follow the UTC page's stored offset, the box says
// which offset was used, and the next dialog offers GPX first with a .gpx name.
TEST_F(TrackPage, GpxDownloadUsesTheUtcPageOffsetAndIsRemembered) {
    WriteSettingInt(kUtcSettingsSection, kUtcHourSetting, 3);
    WriteSettingInt(kUtcSettingsSection, kUtcMinuteSetting, 30);
    Connect({MakeTrack(5, 9, 3), MakeTrack(6, 2, 4)});
    ReadTable();
    Select({0, 1});
    const QString gpx = QStringLiteral("GPX (*.gpx)");
    m_ui.QueueFilter(gpx);
    m_ui.QueueFile(KmlPath("flights.gpx"));

    m_page.OnGetTrack();

    ExpectSavedBox(m_ui, QStringLiteral("Сохранено 2 трека из 2 в файл ") + KmlPath("flights.gpx") +
                             QStringLiteral("\nСмещение часов прибора от UTC: +3:30"));
    const QString text = ReadKml("flights.gpx");
    EXPECT_EQ(text.count(QStringLiteral("<trk>")), 2);
    EXPECT_EQ(text.count(QStringLiteral("<trkpt ")), 7);
    // 05.03.13 09:00:00 on the device is 05:30Z; 06.03.13 02:00 is the day before in UTC.
    EXPECT_TRUE(text.contains(QStringLiteral("<time>2013-03-05T05:30:00Z</time>")));
    EXPECT_TRUE(text.contains(QStringLiteral("<time>2013-03-05T22:30:06Z</time>")));
    int status = 0;
    kml_test::Run("xmllint --noout " + kml_test::Quote(KmlPath("flights.gpx").toStdString()),
                  status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadSettingString(kTrackSettingsSection, kFormatSetting, QString()), "gpx");

    m_ui.Reset();
    m_ui.QueueFile(QString());  // cancelled: nothing asked of the device
    m_sim.ClearReceived();
    m_page.OnGetTrack();
    ASSERT_EQ(m_ui.FileRequests().size(), 1u);
    EXPECT_EQ(m_ui.FileRequests()[0].selectedFilter, gpx);
    EXPECT_EQ(m_ui.FileRequests()[0].suggestedName, QStringLiteral("2013-03-05_2013-03-06.gpx"));
    EXPECT_EQ(DownloadCommands(), 0);
}

// IGC: after the save dialog a folder dialog; one log per track in it, the faulty track named
// in the box as left out; the folder is remembered for the next time.
TEST_F(TrackPage, IgcDownloadGoesIntoTheChosenFolder) {
    Connect({MakeTrack(5, 9, 3), MakeTrack(6, 11, 0), MakeTrack(6, 12, 2)});
    ReadTable();
    Select({0, 1, 2});
    const QString folder = m_folder.filePath(QStringLiteral("igc"));
    m_ui.QueueFilter(QStringLiteral("IGC (папка) (*.igc)"));
    m_ui.QueueFile(KmlPath("ignored"));
    m_ui.QueueFile(folder);

    m_page.OnGetTrack();

    ASSERT_EQ(m_ui.FileRequests().size(), 2u);
    EXPECT_TRUE(m_ui.FileRequests()[1].folder);
    EXPECT_EQ(m_ui.FileRequests()[1].selectedFilter, m_folder.path());  // where the dialog was
    ASSERT_NE(m_ui.LastMessage(), nullptr);
    const QString box = m_ui.LastMessage()->text;
    EXPECT_TRUE(box.startsWith(QStringLiteral("Сохранено 2 трека из 3 в папку ") + folder))
        << box.toStdString();
    EXPECT_TRUE(box.contains(QStringLiteral("Трек 06.03.13 11:00:00 неисправен")))
        << box.toStdString();
    EXPECT_TRUE(box.contains(QStringLiteral("Смещение часов прибора от UTC: +0:00")));
    EXPECT_FALSE(QFile::exists(KmlPath("ignored")));
    QFile log(folder + QStringLiteral("/2013-03-05-XXX-000000-01.igc"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray bytes = log.readAll();
    EXPECT_TRUE(bytes.startsWith("AXXX"));
    EXPECT_TRUE(bytes.contains("\r\nB0900005545000N03736000EA0000000150"));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/2013-03-06-XXX-000000-01.igc")));
    EXPECT_EQ(ReadSettingString(kTrackSettingsSection, kIgcFolderSetting, QString()), folder);
}

// A stored UTC offset out of range: the box names the field, nothing is asked of the device.
TEST_F(TrackPage, BadStoredUtcOffsetAsksNothing) {
    WriteSettingInt(kUtcSettingsSection, kUtcHourSetting, 24);
    Connect({MakeTrack(5, 9, 3)});
    ReadTable();
    Select({0});
    m_ui.QueueFilter(QStringLiteral("KML со временем (*.kml)"));
    m_ui.QueueFile(KmlPath());
    m_page.OnGetTrack();
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_TRUE(m_ui.Messages()[0].text.contains(QStringLiteral("от 0 до 23")));
    EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
    EXPECT_EQ(DownloadCommands(), 0);
    EXPECT_FALSE(QFile::exists(KmlPath()));
}

TEST_F(TrackPage, NothingSelectedOrCancelledDoesNothing) {
    Connect({MakeTrack(5, 9, 3)});
    ReadTable();
    m_page.OnGetTrack();
    EXPECT_TRUE(m_ui.FileRequests().empty());

    Select({0});
    m_ui.QueueFile(QString());
    m_page.OnGetTrack();
    EXPECT_EQ(m_ui.FileRequests().size(), 1u);
    EXPECT_EQ(m_page.List()->GetItemData(0), CMyListCtrl::kDefaultRowColour);
    EXPECT_EQ(DownloadCommands(), 0);
}

TEST_F(TrackPage, MiddleTrackWithBadChecksumIsAskedAbout) {
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "kept" : "dropped");
        sim::DeviceSimulator device;
        device.SetTracks({MakeTrack(5, 9, 3), MakeTrack(5, 10, 4), MakeTrack(6, 8, 2)});
        sim::SimFaults faults;
        faults.badChecksumTrack = 1;
        device.SetFaults(faults);
        DeviceLink link;
        link.m_port.Open(device.Start(), 115200, 0, 8, 0);
        link.m_port.SetTimeouts(200, 200);
        FakeUserInterface ui;
        CTrackDlg page(link, ui);
        page.OnGetTable();
        for (const int row : {0, 1, 2}) {
            page.List()->SetRowSelected(row, true);
        }
        ui.QueueFile(KmlPath());
        ui.QueueAnswer(keep);
        DialogWatcher watcher;

        page.OnGetTrack();

        EXPECT_EQ(watcher.captions,
                  (std::vector<QString>{QStringLiteral("Получение 1 трека из 3"),
                                        QStringLiteral("Получение 2 трека из 3"),
                                        QStringLiteral("Получение 3 трека из 3")}));
        ASSERT_EQ(ui.Questions().size(), 1u);
        EXPECT_EQ(ui.Questions()[0].text,
                  QStringLiteral("Ошибка при получении трека (контрольная сумма не совпадает).\n"
                                 "Сохранить трек?"));
        EXPECT_EQ(ui.Questions()[0].icon, Icon::Question);
        EXPECT_EQ(ui.Messages().size(), 1u);
        ExpectSavedBox(ui, (keep ? QStringLiteral("Сохранено 3 трека из 3 в файл ")
                                 : QStringLiteral("Сохранено 2 трека из 3 в файл ")) +
                               KmlPath());
        // A dropped track's row gets its colour back.
        EXPECT_EQ(Colours(page.List()),
                  (std::vector<uint32_t>{kGrey, keep ? kGrey : kBlack, kGrey}));
        const QString kml = ReadKml();
        EXPECT_EQ(kml.count(QStringLiteral("<LineString>")), keep ? 3 : 2);
        EXPECT_EQ(kml.contains(QStringLiteral("<name>10:00:00</name>")), keep);
        EXPECT_TRUE(kml.contains(QStringLiteral("<name>06.03.13</name>")));
        link.m_port.Close();
    }
}

TEST_F(TrackPage, IntactTrackIsNotTransferredTwice) {
    Connect({MakeTrack(5, 9, 3)});
    ReadTable();
    for (const char* name : {"first.kml", "second.kml"}) {
        Select({0});
        m_ui.QueueFile(KmlPath(name));
        m_page.OnGetTrack();
        EXPECT_TRUE(ReadKml(name).contains(QStringLiteral("<name>09:00:00</name>"))) << name;
    }
    EXPECT_EQ(DownloadCommands(), 1);
    EXPECT_TRUE(m_ui.Questions().empty());
}

TEST_F(TrackPage, SilentDeviceLeadsToTheQuestion) {
    Connect({MakeTrack(5, 9, 3)});
    ReadTable();
    sim::SimFaults faults;
    faults.silentCommands = {0x11};
    m_sim.SetFaults(faults);
    Select({0});
    m_ui.QueueFile(KmlPath());
    m_ui.QueueAnswer(false);

    m_page.OnGetTrack();

    EXPECT_EQ(m_ui.Questions().size(), 1u);
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].text, QStringLiteral("Ошибка при получении треков"));
    EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
    EXPECT_FALSE(QFile::exists(KmlPath()));
}

TEST_F(TrackPage, HangUpKeepsWhatArrivedAndReportsTheError) {
    Connect({MakeTrack(5, 9, 10), MakeTrack(5, 10, 10), MakeTrack(5, 11, 10)});
    ReadTable();
    sim::SimFaults faults;
    faults.hangupAfterBytes = 10 * 32 + 34 + 100;  // the whole first track, part of the second
    m_sim.SetFaults(faults);
    Select({0, 1, 2});
    m_ui.QueueFile(KmlPath());
    m_ui.SetDefaultAnswer(false);

    m_page.OnGetTrack();

    ExpectLostLineBox(m_ui, QStringLiteral("Сохранён 1 трек из 3 в файл ") + KmlPath());
    EXPECT_EQ(Colours(m_page.List()), (std::vector<uint32_t>{kGrey, kBlack, kBlack}));
    const QString kml = ReadKml();
    EXPECT_EQ(kml.count(QStringLiteral("<LineString>")), 1);
    EXPECT_TRUE(kml.contains(QStringLiteral("<name>09:00:00</name>")));
}

// Stop during the second of three tracks: once, that track still arrives whole; twice, it is
// cut short. Either way the tracks before it are kept and the third is never asked for.
TEST_F(TrackPage, StopKeepsWhatArrivedWhole) {
    struct Case {
        const char* name;
        std::vector<int> keys;  // Qt::Key_Escape, or 0 for the Stop button
        std::size_t saved;
    };
    const std::vector<Case> cases = {
        {"button", {0}, 2},
        {"Escape", {Qt::Key_Escape}, 2},
        {"button twice", {0, 0}, 1},
        {"Escape twice", {Qt::Key_Escape, Qt::Key_Escape}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DeviceSimulator device;
        device.SetTracks({MakeTrack(5, 9, 20), MakeTrack(5, 10, 240), MakeTrack(5, 11, 120)});
        DeviceLink link;
        link.m_port.Open(device.Start(), 115200, 0, 8, 0);
        link.m_port.SetTimeouts(200, 200);
        FakeUserInterface ui;
        CTrackDlg page(link, ui);
        page.OnGetTable();
        sim::SimFaults faults;
        faults.pacingBaud = 57600;  // about 1.3 s for the second track
        device.SetFaults(faults);
        for (const int row : {0, 1, 2}) {
            page.List()->SetRowSelected(row, true);
        }
        const QString name = QString::fromUtf8(c.name) + QStringLiteral(".kml");
        ui.QueueFile(m_folder.filePath(name));
        bool pressed = false;
        DialogWatcher watcher([&](CTrackProgressDlg& dialog) {
            if (pressed || dialog.windowTitle() != QStringLiteral("Получение 2 трека из 3")) {
                return;
            }
            pressed = true;
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(&dialog, &enter);
            EXPECT_TRUE(dialog.isVisible());
            for (const int key : c.keys) {
                if (key != 0) {
                    QKeyEvent escape(QEvent::KeyPress, key, Qt::NoModifier);
                    QApplication::sendEvent(&dialog, &escape);
                } else {
                    dialog.findChild<QPushButton*>()->click();
                }
            }
            EXPECT_TRUE(dialog.isVisible());  // it ends only once the worker has
        });

        page.OnGetTrack();

        EXPECT_TRUE(pressed);
        EXPECT_EQ(watcher.captions.size(), 2u);
        const auto commands = device.Received().commands;
        EXPECT_EQ(std::count(commands.begin(), commands.end(), 0x11), 2);
        EXPECT_EQ(link.m_tracks[1].points.size() == 240u, c.saved == 2);
        EXPECT_EQ(ui.Messages().size(), 1u);
        ExpectSavedBox(ui, (c.saved == 2 ? QStringLiteral("Сохранено 2 трека из 3 в файл ")
                                         : QStringLiteral("Сохранён 1 трек из 3 в файл ")) +
                               m_folder.filePath(name));
        EXPECT_EQ(Colours(page.List()),
                  (std::vector<uint32_t>{kGrey, c.saved == 2 ? kGrey : kBlack, kBlack}));
        QFile file(m_folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(file.readAll()).count(QStringLiteral("<LineString>")),
                  static_cast<int>(c.saved));
        link.m_port.Close();
    }
}

// A download cut off by a link error never replaces the file that is there.
TEST_F(TrackPage, IncompleteDownloadGoesBesideTheGoodFile) {
    Connect({MakeTrack(5, 9, 10), MakeTrack(5, 10, 10), MakeTrack(5, 11, 10)});
    ReadTable();
    {
        QFile good(KmlPath());
        ASSERT_TRUE(good.open(QIODevice::WriteOnly));
        good.write("good old file\n");
    }
    sim::SimFaults faults;
    faults.hangupAfterBytes = 10 * 32 + 34 + 100;
    m_sim.SetFaults(faults);
    Select({0, 1, 2});
    m_ui.QueueFile(KmlPath());

    m_page.OnGetTrack();

    EXPECT_EQ(ReadKml(), QStringLiteral("good old file\n"));
    EXPECT_EQ(ReadKml("tracks-неполный.kml").count(QStringLiteral("<LineString>")), 1);
    ExpectLostLineBox(m_ui, QStringLiteral("Сохранён 1 трек из 3 в файл ") +
                                KmlPath("tracks-неполный.kml") +
                                QStringLiteral("\nЗагрузка неполная, файл ") + KmlPath() +
                                QStringLiteral(" не изменён."));
}

// Tracks already received whole: the text shows 100 % before the first tick.
TEST_F(TrackPage, ProgressShowsTrueFiguresAtOnce) {
    Connect({MakeTrack(5, 9, 3)});
    ReadTable();
    Select({0});
    m_ui.QueueFile(KmlPath("first.kml"));
    m_page.OnGetTrack();
    Select({0});
    m_ui.QueueFile(KmlPath("second.kml"));
    QElapsedTimer shown;
    qint64 fullAfterMs = -1;
    std::vector<QString> texts;
    DialogWatcher watcher([&](CTrackProgressDlg& dialog) {
        if (!shown.isValid()) {
            shown.start();
        }
        texts.push_back(dialog.Summary()->text());
        if (fullAfterMs < 0 && dialog.Summary()->text() == QStringLiteral("Всего: 100 %")) {
            fullAfterMs = shown.elapsed();
        }
    });

    m_page.OnGetTrack();

    ASSERT_GE(fullAfterMs, 0) << (texts.empty() ? std::string() : texts.back().toStdString());
    EXPECT_LT(fullAfterMs, CTrackProgressDlg::kTickMs - 200);
    EXPECT_EQ(DownloadCommands(), 1);
}

// The table is read on a worker behind a wait box; its cancel button cuts the read short and
// the rows that came are shown.
TEST_F(TrackPage, TableReadStaysLiveAndCanBeCancelled) {
    std::vector<sim::SimTrack> many;
    for (int i = 0; i < 400; ++i) {
        many.push_back(MakeTrack(1 + i % 28, i % 24, 3));
    }
    Connect(many);
    sim::SimFaults faults;
    faults.pacingBaud = 9600;  // about 5 s for the whole table
    m_sim.SetFaults(faults);
    QElapsedTimer clock;
    bool pressed = false;
    QTimer poll;
    qint64 longestGap = 0;
    QElapsedTimer gap;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, gap.isValid() ? gap.restart() : (gap.start(), 0));
        QDialog* box = m_page.WaitBox();
        if (!pressed && box != nullptr && box->isVisible() && clock.elapsed() > 400) {
            pressed = true;
            for (QPushButton* button : box->findChildren<QPushButton*>()) {
                button->click();
            }
        }
    });
    poll.start(5);
    clock.start();

    m_page.OnGetTable();

    EXPECT_TRUE(pressed);
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_LT(longestGap, 300);
    const int rows = m_page.List()->GetItemCount();
    EXPECT_GT(rows, 0);
    EXPECT_LT(rows, 400);
    EXPECT_EQ(static_cast<std::size_t>(rows), m_link.m_tracks.size());
    EXPECT_FALSE(m_link.m_cancel.load());  // the next command is not cut short
}

TEST_F(TrackPage, WindowStaysLiveWhileATrackDownloads) {
    Connect({MakeTrack(5, 9, 3000)});
    ReadTable();
    sim::SimFaults faults;
    faults.pacingBaud = 460800;  // about 2 s for 96 KiB
    m_sim.SetFaults(faults);
    Select({0});
    m_ui.QueueFile(KmlPath());
    DialogWatcher watcher;

    m_page.OnGetTrack();

    // A blocked window would miss its timers for the whole transfer (about 2 s).
    EXPECT_LT(watcher.longestGapMs, 1500);
    EXPECT_GT(watcher.polls, 50);
    EXPECT_TRUE(std::any_of(watcher.barValues.begin(), watcher.barValues.end(),
                            [](int v) { return v > 0 && v < 100; }));
    EXPECT_EQ(ReadKml().count(QStringLiteral("<LineString>")), 1);
}

TEST_F(TrackPage, UnwritableFileIsReported) {
    Connect({MakeTrack(5, 9, 3)});
    ReadTable();
    Select({0});
    m_ui.QueueFile(m_folder.filePath(QStringLiteral("missing/tracks.kml")));
    m_page.OnGetTrack();
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
    EXPECT_TRUE(m_ui.Messages()[0].text.contains(QStringLiteral("missing/tracks.kml")));
    // Refused before the first byte: nothing asked of the device, the row not greyed.
    EXPECT_EQ(DownloadCommands(), 0);
    EXPECT_EQ(m_page.List()->GetItemData(0), kBlack);
}

TEST_F(TrackPage, ClearMemoryAsksFirst) {
    struct Case {
        const char* name;
        bool confirm;
        std::optional<std::array<uint8_t, 4>> answer;
        uint32_t clears;
        const char* message;  // nullptr: none
        int rowsLeft;
    };
    const std::vector<Case> cases = {
        {"declined", false, std::nullopt, 0, nullptr, 2},
        {"cleared", true, std::nullopt, 1, nullptr, 0},
        {"refused", true, std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0x00}, 1,
         "Не удалось очистить память", 2},
    };
    Connect({MakeTrack(5, 9, 3), MakeTrack(5, 10, 3)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_sim.SetTracks({MakeTrack(5, 9, 3), MakeTrack(5, 10, 3)});
        ReadTable();
        sim::SimFaults faults;
        faults.clearAnswer = c.answer;
        m_sim.SetFaults(faults);
        m_ui.QueueAnswer(c.confirm);

        m_page.OnClearMemory();
        // The device empties its memory just after its answer; let it finish first.
        for (int i = 0; i < 200 && c.clears == 1 && !c.answer && !m_sim.Tracks().empty(); ++i) {
            QThread::msleep(5);
        }

        ASSERT_EQ(m_ui.Questions().size(), 1u);
        EXPECT_TRUE(m_ui.Questions()[0].text.contains(QStringLiteral("треки")));
        EXPECT_EQ(m_sim.Received().clearCount, c.clears);
        if (!c.confirm) {
            EXPECT_TRUE(m_sim.Received().commands.empty());
        }
        if (c.message != nullptr) {
            ASSERT_EQ(m_ui.Messages().size(), 1u);
            EXPECT_EQ(m_ui.Messages()[0].text, QString::fromUtf8(c.message));
            EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
        } else {
            EXPECT_TRUE(m_ui.Messages().empty());
        }
        EXPECT_EQ(m_page.List()->GetItemCount(), c.rowsLeft);
        if (c.rowsLeft == 0) {
            EXPECT_EQ(m_page.MemoryBar()->GetPos(), 0);
        }
    }
}

TEST_F(TrackPage, IntervalSettingAndBytes) {
    struct Case {
        QString stored;
        int selected;  // -1: none
        uint8_t sent;
        QString saved;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("2"), 0, 2, QStringLiteral("2 с")},
        {QStringLiteral("10 с"), 4, 10, QStringLiteral("10 с")},
        {QStringLiteral("не писать"), 5, 0x80, QStringLiteral("Не писать трек")},
        {QStringLiteral("7"), -1, 0, QString()},
    };
    Connect({});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        WriteSettingString(QStringLiteral("Track"), QStringLiteral("Interval"), c.stored);
        CTrackDlg page(m_link, m_ui);
        page.LoadSettings();
        EXPECT_EQ(page.IntervalBox()->currentIndex(), c.selected);
        m_ui.Reset();

        page.OnSendInterval();

        // The device has the byte once the message shows; give the line a moment.
        for (int i = 0; i < 100 && m_sim.Received().interval != c.sent; ++i) {
            QThread::msleep(5);
        }
        EXPECT_EQ(m_sim.Received().interval, c.sent);
        ASSERT_EQ(m_ui.Messages().size(), 1u);
        EXPECT_EQ(m_ui.Messages()[0].text, QStringLiteral("Временной интервал передан успешно"));
        EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Information);
        page.SaveSettings();
        EXPECT_EQ(ReadSettingString(QStringLiteral("Track"), QStringLiteral("Interval"), "?"),
                  c.saved);
    }
    m_link.m_port.Close();
    CTrackDlg page(m_link, m_ui);
    m_ui.Reset();
    page.OnSendInterval();
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].icon, Icon::Error);
}

}  // namespace

namespace {

// The bar shows the fraction of the current track: not finite → 0, past the end → full.
TEST(DownloadDialog, BarFollowsTheFraction) {
    GuiTestApp();
    const struct {
        double fraction;
        int position;
    } cases[] = {{std::nan(""), 0}, {0.505, 50}, {1.5, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fraction);
        DeviceLink link;
        link.m_progress = c.fraction;
        FakeUserInterface ui;
        CTrackProgressDlg dialog(link, {}, ui);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);  // nothing to fetch: the first tick ends it
        EXPECT_LT(clock.elapsed(), 2500);
        EXPECT_EQ(dialog.Bar()->value(), c.position);
        EXPECT_TRUE(dialog.Result().saved.empty());
        EXPECT_FALSE(dialog.LinkError().has_value());
    }
}

}  // namespace
