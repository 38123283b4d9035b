// Terminal page: rendering of the echo log, clearing, bytes per line, worker refreshes.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <numeric>
#include <thread>

#include "app/CEchoView.h"
#include "app/CTerminalDlg.h"
#include "controls/Settings.h"
#include "link/DeviceLink.h"
#include "support/FakeUserInterface.h"
#include "support/GuiTestApp.h"

namespace {

class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearTestSettings();
        m_page.LoadSettings();
        m_page.resize(400, 300);
    }
    void Log(std::vector<uint8_t> bytes, bool received) {
        m_page.LogChunk(int32_t(bytes.size()), bytes.data(), received);
    }
    // The log's own rendering, as the display shows it (LF line ends).
    QString Rendered() {
        EchoLog copy = m_page.Log();
        const std::string& full = copy.Render();
        QString text = QString::fromLatin1(full.data(), qsizetype(full.size()));
        text.remove('\r');
        return text;
    }
    static std::vector<uint8_t> Counting(int from, int count) {
        std::vector<uint8_t> bytes(static_cast<std::size_t>(count));
        std::iota(bytes.begin(), bytes.end(), uint8_t(from));
        return bytes;
    }

    QApplication& m_app = GuiTestApp();  // before any widget
    DeviceLink m_link;
    FakeUserInterface m_ui;
    CTerminalDlg m_page{m_link, m_ui};
};

TEST_F(TerminalTest, RendersChunksAsHexLines) {
    m_page.RefreshLog();
    EXPECT_EQ(m_page.DisplayText(), "");
    Log({0x33}, false);
    Log({0x02}, true);
    Log(Counting(1, 20), false);
    Log(Counting(0xA0, 16), true);
    Log({}, true);  // nothing
    m_page.RefreshLog();
    EXPECT_EQ(m_page.DisplayText(),
              "> 33 \n"
              "< 02 \n"
              "> 01 02 03 04 05 06 07 08  09 0A 0B 0C 0D 0E 0F 10 \n"
              "> 11 12 13 14 \n"
              "< A0 A1 A2 A3 A4 A5 A6 A7  A8 A9 AA AB AC AD AE AF \n");
}

TEST_F(TerminalTest, IncrementalRefreshesEqualAFullRendering) {
    for (int round = 0; round < 5; ++round) {
        Log(Counting(round, 17 + round), round % 2 == 0);
        m_page.RefreshLog();
    }
    EXPECT_EQ(m_page.DisplayText(), Rendered());
    // The view ends at the last bytes.
    QScrollBar* bar = m_page.Display()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(TerminalTest, ClearEmptiesTheDisplayButKeepsTheLog) {
    Log({0xBB}, false);
    m_page.RefreshLog();
    m_page.ClearButton()->click();
    EXPECT_EQ(m_page.DisplayText(), "");
    EXPECT_EQ(m_page.Log().Chunks().size(), 1u);
    Log({0x03}, false);
    m_page.RefreshLog();  // all chunks again, the cleared ones too
    EXPECT_EQ(m_page.DisplayText(), "> BB \n> 03 \n");
}

TEST_F(TerminalTest, BytesPerLineChangeClearsTheDisplayAndIsStored) {
    Log({0x55}, false);
    m_page.RefreshLog();
    m_page.BytesPerLineBox()->setCurrentText("12");
    EXPECT_EQ(m_page.DisplayText(), "");
    EXPECT_EQ(m_page.Log().Chunks().size(), 1u);
    EXPECT_EQ(m_page.BytesPerLine(), 12);
    m_page.SaveSettings();
    EXPECT_EQ(ReadSettingString("Terminal", "Bytes in line", ""), "12");
}

TEST_F(TerminalTest, EmptiedLogShowsOnlyNewBytesAtTheNextRefresh) {
    Log(Counting(0, 40), true);
    m_page.RefreshLog();
    m_page.ClearEchoLog();
    EXPECT_FALSE(m_page.DisplayText().isEmpty());
    Log({0xAA}, false);
    m_page.RefreshLog();
    EXPECT_EQ(m_page.DisplayText(), "> AA \n");
}

TEST_F(TerminalTest, WorkerRefreshReachesTheDisplayThroughTheEventLoop) {
    Log({0x11}, false);
    m_page.RefreshLog();
    std::thread worker([this] {
        for (int i = 0; i < 50; ++i) {
            Log(Counting(i, 32), true);
            m_page.RefreshLog();
        }
    });
    worker.join();
    QTest::qWait(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_page.DisplayText(), Rendered());
    EXPECT_EQ(m_page.DisplayText().count('\n'), 1 + 50 * 2);
}

TEST_F(TerminalTest, TwelveBytesALineFromTheNextRefresh) {
    Log(Counting(1, 20), false);
    m_page.RefreshLog();
    m_page.BytesPerLineBox()->setCurrentText("12");
    EXPECT_EQ(m_page.DisplayText(), "");
    Log({0x33}, false);
    m_page.RefreshLog();
    EXPECT_EQ(m_page.DisplayText(),
              "> 01 02 03 04 05 06  07 08 09 0A 0B 0C \n"
              "> 0D 0E 0F 10 11 12  13 14 \n"
              "> 33 \n");
    m_page.BytesPerLineBox()->setCurrentText("16");
    m_page.RefreshLog();
    EXPECT_EQ(m_page.DisplayText(), Rendered());
}

TEST_F(TerminalTest, StoredTwelveIsTheLineLengthFromTheStart) {
    WriteSettingString("Terminal", "Bytes in line", "12");
    CTerminalDlg page(m_link, m_ui);
    page.LoadSettings();
    const std::vector<uint8_t> bytes = Counting(0, 13);
    page.LogChunk(13, bytes.data(), true);
    page.RefreshLog();
    EXPECT_EQ(page.DisplayText(), "< 00 01 02 03 04 05  06 07 08 09 0A 0B \n< 0C \n");
}

TEST_F(TerminalTest, CopyAndSaveTakeTheWholeLogEvenWhenTheDisplayWasCleared) {
    Log(Counting(1, 20), false);
    Log({0x02}, true);
    m_page.RefreshLog();
    m_page.ClearButton()->click();
    const QString text =
        "> 01 02 03 04 05 06 07 08  09 0A 0B 0C 0D 0E 0F 10 \n"
        "> 11 12 13 14 \n"
        "< 02 \n";
    m_page.CopyButton()->click();
    EXPECT_EQ(QApplication::clipboard()->text(), text);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    m_ui.QueueFile(dir.filePath("log.txt"));
    m_page.SaveButton()->click();
    ASSERT_EQ(m_ui.FileRequests().size(), 1u);
    EXPECT_TRUE(m_ui.FileRequests()[0].save);
    EXPECT_FALSE(m_ui.FileRequests()[0].suggestedName.isEmpty());
    QFile file(dir.filePath("log.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLatin1(file.readAll()), QString(text).replace("\n", "\r\n"));
    EXPECT_TRUE(m_ui.Messages().empty());

    // A folder that cannot take the file: said, and nothing else happens.
    m_ui.QueueFile(dir.filePath("missing/log.txt"));
    m_page.SaveButton()->click();
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].icon, UserInterface::Icon::Error);
    EXPECT_TRUE(m_ui.Messages()[0].text.contains("missing/log.txt"));
}

// A whole 2 MiB download in the log: shown at once, its end in view, its start one key away.
TEST_F(TerminalTest, LargeLogShowsItsEndAtOnceAndItsStartOneKeyAway) {
    constexpr int kRecords = 65536;
    for (int i = 0; i < kRecords; ++i) {
        std::vector<uint8_t> record(32);
        for (std::size_t k = 0; k < record.size(); ++k) {
            record[k] = static_cast<uint8_t>(i + k);
        }
        Log(record, true);
    }
    m_page.show();
    m_page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_page));
    m_page.RefreshLog();  // no event-loop turns needed after this
    CEchoView* view = m_page.Display();
    ASSERT_EQ(view->LineCount(), 2u * kRecords);
    EXPECT_EQ(view->FirstVisibleLine() + std::size_t(view->LinesPerPage()), view->LineCount());
    EXPECT_EQ(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
    const QString whole = Rendered();
    EXPECT_EQ(m_page.DisplayText(), whole);

    QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(view->FirstVisibleLine(), 0u);
    // Ctrl+End from elsewhere on the page; the box keeps its value.
    m_page.BytesPerLineBox()->setFocus();
    QTest::keyClick(m_page.BytesPerLineBox(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(view->FirstVisibleLine() + std::size_t(view->LinesPerPage()), view->LineCount());
    EXPECT_EQ(m_page.BytesPerLine(), 16);

    // More bytes come after the whole large log, in order.
    Log({0xAA}, false);
    m_page.RefreshLog();
    EXPECT_EQ(m_page.DisplayText(), whole + "> AA \n");
}

TEST_F(TerminalTest, DisconnectKeepsTheShownLinesUntilTheNextRefresh) {
    Log(Counting(0, 40), true);
    m_page.RefreshLog();
    const QString shown = m_page.DisplayText();
    m_page.ClearEchoLog();
    EXPECT_TRUE(m_page.Log().Chunks().empty());
    EXPECT_EQ(m_page.DisplayText(), shown);
    EXPECT_EQ(m_page.Display()->LineCount(), 3u);
    m_page.Display()->repaint();  // paints the kept lines
    m_page.OnClear();
    EXPECT_EQ(m_page.DisplayText(), "");
}

}  // namespace
