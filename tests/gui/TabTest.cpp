// Tab control: one shared rectangle, one visible page, switching by press and keyboard.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTabBar>
#include <QTest>

#include "app/CPelnoraDlg.h"
#include "controls/CMyTabCtrl.h"
#include "marks_route/CUtcTimeDlg.h"
#include "support/FakeUserInterface.h"
#include "support/GuiTestApp.h"

namespace {

class TabTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearTestSettings();
        m_window = std::make_unique<CPelnoraDlg>(&m_ui);
        m_window->show();
        QApplication::setActiveWindow(m_window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        m_tabs = m_window->Tabs();
    }
    void Press(int index) {
        QTabBar* bar = m_tabs->TabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }
    std::vector<int> Visible() const {
        std::vector<int> shown;
        for (int i = 0; i < CMyTabCtrl::kPageCount; ++i) {
            if (m_tabs->Page(i)->isVisible()) {
                shown.push_back(i);
            }
        }
        return shown;
    }

    FakeUserInterface m_ui;
    std::unique_ptr<CPelnoraDlg> m_window;
    CMyTabCtrl* m_tabs = nullptr;
};

TEST_F(TabTest, SixCaptionsAndOneSharedRectangle) {
    const QStringList captions = {"Время UTC", "Метки", "Маршрут", "Трек", "Анемометр", "Терминал"};
    ASSERT_EQ(m_tabs->TabBar()->count(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(m_tabs->TabBar()->tabText(i), captions[i]);
        EXPECT_EQ(m_tabs->Page(i)->geometry(), m_tabs->Page(0)->geometry());
    }
    EXPECT_GT(m_tabs->Page(0)->geometry().top(), m_tabs->TabBar()->geometry().bottom());
    EXPECT_EQ(Visible(), std::vector<int>{0});
}

TEST_F(TabTest, PressSwitchesAndFocusesTheNewPage) {
    Press(2);
    EXPECT_EQ(Visible(), std::vector<int>{2});
    EXPECT_EQ(m_tabs->CurrentTab(), 2);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_TRUE(m_tabs->Page(2)->isAncestorOf(QApplication::focusWidget()));

    // A press on the shown tab changes nothing and takes no focus.
    m_window->PortBox()->setFocus();
    Press(2);
    EXPECT_EQ(Visible(), std::vector<int>{2});
    EXPECT_TRUE(m_window->PortBox()->hasFocus());
}

TEST_F(TabTest, KeyboardSwitchesTooAndLeavesTheFocusOnTheStrip) {
    m_tabs->TabBar()->setFocus();
    QTest::keyClick(m_tabs->TabBar(), Qt::Key_Right);
    EXPECT_EQ(Visible(), std::vector<int>{1});
    EXPECT_EQ(QApplication::focusWidget(), m_tabs->TabBar());
    QTest::keyClick(m_tabs->TabBar(), Qt::Key_Right);
    QTest::keyClick(m_tabs->TabBar(), Qt::Key_Left);
    EXPECT_EQ(Visible(), std::vector<int>{1});
    EXPECT_EQ(m_tabs->CurrentTab(), 1);
}

TEST_F(TabTest, PagesKeepTheirContentsWhileHidden) {
    auto* utc = static_cast<CUtcTimeDlg*>(m_tabs->Page(0));
    utc->HoursField()->setText("17");
    for (int i : {1, 3, 5, 0}) {
        Press(i);
        EXPECT_EQ(Visible(), std::vector<int>{i});
    }
    EXPECT_EQ(utc->HoursField()->text(), "17");
}

}  // namespace
