// The label control: gradient bands, painting, blinking, links.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "controls/CLabel.h"
#include "support/GuiTestApp.h"

namespace {

class LabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiTestApp();
        m_parent.resize(200, 60);
        m_parent.setAutoFillBackground(true);
        QPalette palette = m_parent.palette();
        palette.setColor(QPalette::Window, QColor(0, 0, 255));
        m_parent.setPalette(palette);
        m_label = new CLabel("WWWWWW", &m_parent);
        m_label->setGeometry(10, 10, 120, 30);
        m_label->SetUrlOpener([this](const QUrl& url) { m_opened.push_back(url); });
    }
    QImage Picture() { return m_parent.grab().toImage(); }
    int CountColour(const QImage& image, const QRect& rect, const QColor& colour) {
        int count = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            for (int x = rect.left(); x <= rect.right(); ++x) {
                count += image.pixelColor(x, y) == colour ? 1 : 0;
            }
        }
        return count;
    }

    QApplication& m_app = GuiTestApp();  // before any widget
    QWidget m_parent;
    CLabel* m_label = nullptr;
    std::vector<QUrl> m_opened;
};

TEST(LabelBands, GradientBandsFollowTheWidth) {
    const auto narrow = CLabel::GradientBands(0, 50, QColor(0, 0, 0), QColor(255, 255, 255));
    ASSERT_EQ(narrow.size(), 50u);
    for (const auto& band : narrow) {
        EXPECT_EQ(band.width, 1);
    }
    const auto wide = CLabel::GradientBands(10, 240, QColor(255, 0, 0), QColor(0, 0, 255));
    ASSERT_EQ(wide.size(), 100u);
    for (std::size_t i = 0; i + 1 < wide.size(); ++i) {
        EXPECT_EQ(wide[i].width, 2);
        EXPECT_EQ(wide[i + 1].x, wide[i].x + wide[i].width);
    }
    EXPECT_EQ(wide.back().width, 32);
    EXPECT_EQ(wide.back().x + wide.back().width, 240);
    EXPECT_EQ(wide.front().colour, QColor(255, 0, 0));
    EXPECT_TRUE(CLabel::GradientBands(5, 5, Qt::black, Qt::white).empty());
}

TEST_F(LabelTest, PaintsFaceColourTextColourAndTransparency) {
    const QRect inside(12, 12, 116, 26);
    const QColor face = m_label->palette().color(QPalette::Button);
    EXPECT_GT(CountColour(Picture(), inside, face), 100);

    m_label->SetTextColor(QColor(255, 0, 0));
    QImage image = Picture();
    EXPECT_GT(CountColour(image, inside, QColor(255, 0, 0)), 10);
    EXPECT_GT(CountColour(image, inside, face), 100);  // background unchanged

    m_label->SetBackground(QColor(0, 255, 0));
    EXPECT_GT(CountColour(Picture(), inside, QColor(0, 255, 0)), 100);

    m_label->SetTransparentBackground(true);  // the parent's blue shows through
    image = Picture();
    EXPECT_EQ(CountColour(image, inside, QColor(0, 255, 0)), 0);
    EXPECT_GT(CountColour(image, inside, QColor(0, 0, 255)), 100);
}

TEST_F(LabelTest, BlinkingTextTakesTheBackgroundColourInPhaseZero) {
    m_label->SetBackground(QColor(0, 255, 0)).SetTextColor(QColor(255, 0, 0));
    m_label->BlinkText(true);
    EXPECT_TRUE(m_label->BlinkTimerActive());
    const QRect inside(12, 12, 116, 26);
    EXPECT_EQ(CountColour(Picture(), inside, QColor(255, 0, 0)), 0);  // hidden
    QTest::qWait(600);
    EXPECT_TRUE(m_label->BlinkPhase());
    EXPECT_GT(CountColour(Picture(), inside, QColor(255, 0, 0)), 10);  // shown
    m_label->BlinkText(false);
    EXPECT_FALSE(m_label->BlinkTimerActive());
    EXPECT_EQ(m_label->Blinking(), CLabel::BlinkKind::None);
}

TEST_F(LabelTest, LinksOpenTheTextTheTargetOrNotifyTheParent) {
    QSignalSpy notified(m_label, &CLabel::LinkNotify);
    m_label->SetLabelText("example.org/help");
    m_label->SetWebLink(true);
    QTest::mouseClick(m_label, Qt::LeftButton);
    m_label->SetLinkTarget("https://pelnora.example.org/");
    QTest::mouseClick(m_label, Qt::LeftButton);
    m_label->SetLabelText("pilot@example.org").SetMailtoLink(true);
    QTest::mouseClick(m_label, Qt::LeftButton);
    ASSERT_EQ(m_opened.size(), 3u);
    EXPECT_EQ(m_opened[0].host(), "example.org");
    EXPECT_EQ(m_opened[0].path(), "/help");
    EXPECT_EQ(m_opened[1], QUrl("https://pelnora.example.org/"));
    EXPECT_EQ(m_opened[2], QUrl("mailto:pilot@example.org"));
    EXPECT_EQ(notified.count(), 0);

    m_label->SetWebLink(true, true);
    QTest::mouseClick(m_label, Qt::LeftButton);
    EXPECT_EQ(notified.count(), 1);
    EXPECT_EQ(m_opened.size(), 3u);

    m_label->SetWebLink(false);
    QTest::mouseClick(m_label, Qt::LeftButton);
    EXPECT_EQ(m_opened.size(), 3u);
}

TEST_F(LabelTest, FontSettersChangeTheLabelFont) {
    m_label->SetBold(true).SetItalic(true).SetUnderline(true).SetPointSize(14);
    m_label->SetFaceName(QString(40, 'x'));
    const QFont& font = m_label->LabelFont();
    EXPECT_EQ(font.weight(), QFont::Bold);
    EXPECT_TRUE(font.italic());
    EXPECT_TRUE(font.underline());
    EXPECT_EQ(font.pointSize(), 14);
    EXPECT_EQ(font.family().size(), 31);
}

}  // namespace
