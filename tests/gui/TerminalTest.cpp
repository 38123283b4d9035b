// Terminal page: rendering of the echo log, clearing, bytes per line, worker refreshes.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <numeric>
#include <thread>

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
    const std::string& full = m_page.Log().Render();
    QString expected = QString::fromLatin1(full.data(), qsizetype(full.size()));
    expected.remove('\r');
    EXPECT_EQ(m_page.DisplayText(), expected);
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
    const std::string& full = m_page.Log().Render();
    QString expected = QString::fromLatin1(full.data(), qsizetype(full.size()));
    expected.remove('\r');
    EXPECT_EQ(m_page.DisplayText(), expected);
    EXPECT_EQ(m_page.DisplayText().count('\n'), 1 + 50 * 2);
}

}  // namespace
