// A large log goes into the terminal display in slices, last lines first; whatever happens
// meanwhile, the display ends up holding the log in order.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <cstdint>
#include <string>
#include <vector>

#include "app/CTerminalDlg.h"
#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "support/FakeUserInterface.h"
#include "support/GuiTestApp.h"

namespace {

class TerminalSlices : public ::testing::Test {
protected:
    void SetUp() override { m_page.resize(400, 300); }

    // count chunks of 32 bytes each, as a track download logs them; returns their text.
    QString LogRecords(int count, uint8_t seed) {
        EchoLog expected;
        for (int i = 0; i < count; ++i) {
            std::vector<uint8_t> record(32);
            for (std::size_t k = 0; k < record.size(); ++k) {
                record[k] = static_cast<uint8_t>(seed + i + k);
            }
            m_page.LogChunk(32, record.data(), true);
            expected.Append(32, record.data(), true);
        }
        return Shown(expected.Render());
    }
    static QString Shown(const std::string& rendered) {
        QString text = QString::fromLatin1(rendered.data(), qsizetype(rendered.size()));
        text.remove(QLatin1Char('\r'));
        return text;
    }
    void WaitFilled() {
        QElapsedTimer clock;
        clock.start();
        while (m_page.Filling() && clock.elapsed() < 10000) {
            QApplication::processEvents();
        }
        ASSERT_FALSE(m_page.Filling());
    }
    QString Plain() const { return m_page.Display()->toPlainText(); }

    QApplication& m_app = GuiTestApp();
    DeviceLink m_link;
    FakeUserInterface m_ui;
    CTerminalDlg m_page{m_link, m_ui};
};

TEST_F(TerminalSlices, LargeLogEndsWholeAndInOrderWithTheEndShownFirst) {
    const QString first = LogRecords(9000, 0);  // about 950 000 characters
    m_page.RefreshLog();
    ASSERT_TRUE(m_page.Filling());
    EXPECT_EQ(m_page.DisplayText(), first);  // the page's text is whole at once
    const QString now = Plain();
    EXPECT_TRUE(first.endsWith(now)) << "the last lines go in first";
    EXPECT_LT(now.size(), first.size());

    // Another command meanwhile: its lines come after the whole large text.
    const QString more = LogRecords(3, 200);
    m_page.RefreshLog();
    EXPECT_EQ(m_page.DisplayText(), first + more);
    WaitFilled();
    EXPECT_EQ(Plain(), first + more);
    QScrollBar* bar = m_page.Display()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());

    // A second large text appended behind the first.
    const QString second = LogRecords(5000, 7);
    m_page.RefreshLog();
    EXPECT_EQ(m_page.DisplayText(), first + more + second);
    WaitFilled();
    EXPECT_EQ(Plain(), first + more + second);
}

TEST_F(TerminalSlices, ClearAndReplaceDropWhatIsStillWaiting) {
    LogRecords(9000, 0);
    m_page.RefreshLog();
    ASSERT_TRUE(m_page.Filling());
    m_page.OnClear();
    EXPECT_FALSE(m_page.Filling());
    WaitFilled();
    EXPECT_EQ(Plain(), QString());

    // After a disconnect the next refresh replaces the display with the new log only.
    LogRecords(9000, 1);
    m_page.RefreshLog();
    ASSERT_TRUE(m_page.Filling());
    m_page.ClearEchoLog();
    const QString fresh = LogRecords(2, 9);
    m_page.RefreshLog();
    WaitFilled();
    EXPECT_EQ(Plain(), fresh);
    EXPECT_EQ(m_page.DisplayText(), fresh);
}

}  // namespace
