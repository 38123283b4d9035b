// The text progress bar and the owner-painted list.

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QHeaderView>
#include <QImage>
#include <QStandardItemModel>
#include <functional>

#include "controls/CMyListCtrl.h"
#include "controls/CTextProgressCtrl.h"
#include "tests/support/GuiTestApp.h"

namespace {

// One operation on a fresh bar: what it returns and where the position ends.
struct BarCase {
    const char* name;
    std::function<int64_t(CTextProgressCtrl&)> operation;
    int64_t result;
    int32_t position;
};

TEST(TextProgressCtrl, OperationsKeepTheirResults) {
    GuiTestApp();
    const std::vector<BarCase> cases = {
        {"SetPos returns the old position",
         [](auto& b) {
             b.SetPos(40);
             return b.SetPos(60);
         },
         40, 60},
        {"SetPos clamps above the maximum", [](auto& b) { return b.SetPos(150); }, 0, 100},
        {"SetPos clamps below the minimum",
         [](auto& b) {
             b.SetPos(20);
             return b.SetPos(-1);
         },
         20, 0},
        {"DeltaPos adds",
         [](auto& b) {
             b.SetPos(30);
             return b.DeltaPos(25);
         },
         30, 55},
        {"DeltaPos clamps",
         [](auto& b) {
             b.SetPos(90);
             return b.DeltaPos(20);
         },
         90, 100},
        {"DeltaPos does not overflow",
         [](auto& b) {
             b.SetPos(90);
             return b.DeltaPos(INT32_MAX);
         },
         90, 100},
        {"SetStep returns the old step", [](auto& b) { return b.SetStep(7); }, 10, 0},
        {"StepIt wraps past the maximum",
         [](auto& b) {
             b.SetPos(95);
             return b.StepIt();
         },
         95, 5},
        {"StepIt wraps below the minimum",
         [](auto& b) {
             b.SetPos(5);
             b.SetStep(-10);
             return b.StepIt();
         },
         5, 95},
        {"StepIt to the maximum exactly",
         [](auto& b) {
             b.SetPos(90);
             return b.StepIt();
         },
         90, 100},
        {"SetRange returns the old range packed",
         [](auto& b) { return int64_t{b.SetRange(5, 200)}; }, 0 | (100 << 16), 0},
        {"SetRange32 returns 16 bits of each",
         [](auto& b) {
             b.SetRange32(-1, 70000);
             return int64_t{b.SetRange32(0, 10)};
         },
         0xFFFF | (int64_t{70000 & 0xFFFF} << 16), 0},
        {"a new range leaves the position where it was",
         [](auto& b) {
             b.SetPos(80);
             b.SetRange32(0, 50);
             return b.GetPos();
         },
         80, 80},
        {"GetRange gives the minimum",
         [](auto& b) {
             b.SetRange32(3, 9);
             return b.GetRange(true);
         },
         3, 0},
        {"GetRange gives the maximum and fills the pair",
         [](auto& b) {
             b.SetRange32(3, 9);
             int32_t low = 0, high = 0;
             const int32_t max = b.GetRange(false, &low, &high);
             return int64_t{max} * 100 + low * 10 + (high == 9 ? 1 : 0);
         },
         931, 0},
        {"the marquee widens the limit to 120",
         [](auto& b) {
             b.SetMarquee(true, 1000);
             b.SetPos(500);
             return b.UpperLimit();
         },
         120, 120},
        {"a longer marquee block widens it further",
         [](auto& b) {
             b.SetMarquee(true, 1000);
             const int32_t block = b.SetMarqueeBlock(50);
             b.SetPos(500);
             return block;
         },
         50, 150},
        {"the marquee limit goes away with the marquee",
         [](auto& b) {
             b.SetMarquee(true, 1000);
             b.SetMarquee(false, 0);
             return b.SetPos(500);
         },
         0, 100},
        {"the marquee turns the percentage off for good",
         [](auto& b) {
             b.SetMarquee(true, 1000);
             b.SetMarquee(false, 0);
             return int64_t{b.ShowPercent(true)};
         },
         0, 0},
        {"ShowPercent returns the old flag", [](auto& b) { return int64_t{b.ShowPercent(false)}; },
         1, 0},
        {"AlignText returns the old alignment", [](auto& b) { return b.AlignText(2); }, 1, 0},
        {"SetMarquee returns its flag", [](auto& b) { return int64_t{b.SetMarquee(true, 50)}; }, 1,
         0},
    };
    for (const BarCase& c : cases) {
        CTextProgressCtrl bar;
        EXPECT_EQ(c.operation(bar), c.result) << c.name;
        EXPECT_EQ(bar.GetPos(), c.position) << c.name;
    }
}

TEST(TextProgressCtrl, MarqueeRunsToTheLimitAndBack) {
    GuiTestApp();
    CTextProgressCtrl bar;
    bar.SetMarquee(true, 1000);
    bar.SetPos(119);
    bar.MarqueeStep();
    EXPECT_EQ(bar.GetPos(), 120);
    bar.MarqueeStep();
    EXPECT_EQ(bar.GetPos(), 119);
    bar.SetPos(0);
    bar.MarqueeStep();
    EXPECT_EQ(bar.GetPos(), 1);
    bar.MarqueeStep();
    EXPECT_EQ(bar.GetPos(), 2);
}

TEST(TextProgressCtrl, ColoursNotChosenFollowThePalette) {
    GuiTestApp();
    CTextProgressCtrl bar;
    const QPalette palette = bar.palette();
    EXPECT_EQ(bar.GetBarColour(), palette.color(QPalette::Highlight));
    EXPECT_EQ(bar.GetBkColour(), palette.color(QPalette::Button));
    EXPECT_EQ(bar.GetTextColour(), palette.color(QPalette::WindowText));
    EXPECT_EQ(bar.GetBarTextColour(), palette.color(QPalette::Base));

    EXPECT_FALSE(bar.SetBarColour(QColor(0, 200, 60)).has_value());
    EXPECT_EQ(bar.GetBarColour(), QColor(0, 200, 60));
    EXPECT_EQ(bar.SetBarColour(std::nullopt), QColor(0, 200, 60));
    EXPECT_EQ(bar.GetBarColour(), palette.color(QPalette::Highlight));
    EXPECT_FALSE(bar.SetBkColour(Qt::red).has_value());
    EXPECT_FALSE(bar.SetTextColour(Qt::red).has_value());
    EXPECT_FALSE(bar.SetBarTextColour(Qt::red).has_value());
    EXPECT_EQ(bar.GetBkColour(), QColor(Qt::red));
}

TEST(TextProgressCtrl, PercentageUsesTheDecimalComma) {
    GuiTestApp();
    CTextProgressCtrl bar;
    bar.SetPos(50);
    EXPECT_EQ(bar.DisplayText(), QStringLiteral("50,000000 %"));
    bar.SetRange32(0, 100000);
    bar.SetPos(191);
    EXPECT_EQ(bar.DisplayText(), QStringLiteral("0,191000 %"));
    bar.ShowPercent(false);
    EXPECT_EQ(bar.DisplayText(), QString());
    bar.SetText(QStringLiteral("текст"));
    EXPECT_EQ(bar.DisplayText(), QStringLiteral("текст"));
}

// Pixels of a rendered bar of 200 × 24 (interior 2..197 × 2..21).
class BarPicture : public ::testing::Test {
protected:
    void SetUp() override {
        GuiTestApp();
        m_bar.resize(200, 24);
        m_bar.SetBarColour(QColor(0, 200, 60));
        m_bar.SetBkColour(QColor(240, 240, 240));
    }
    QImage Picture() const { return m_bar.Render().toImage(); }

    QApplication& m_app = GuiTestApp();
    CTextProgressCtrl m_bar;
};

TEST_F(BarPicture, FillsUpToThePosition) {
    m_bar.ShowPercent(false);
    m_bar.SetPos(50);
    const QImage image = Picture();
    EXPECT_EQ(image.pixelColor(3, 12), QColor(0, 200, 60));
    EXPECT_EQ(image.pixelColor(99, 12), QColor(0, 200, 60));  // 2 + trunc(196 × 0.5) = 100
    EXPECT_EQ(image.pixelColor(100, 12), QColor(240, 240, 240));
    EXPECT_EQ(image.pixelColor(196, 12), QColor(240, 240, 240));
}

TEST_F(BarPicture, EmptyRangeDrawsNothing) {
    m_bar.SetRange32(10, 10);
    m_bar.SetPos(10);
    const QImage image = Picture();
    const QColor window = m_bar.palette().color(QPalette::Window);
    for (const QPoint p : {QPoint(0, 0), QPoint(50, 12), QPoint(199, 23)}) {
        EXPECT_EQ(image.pixel(p), window.rgb());
    }
}

TEST_F(BarPicture, PositionOutsideTheRangeStaysInside) {
    m_bar.ShowPercent(false);
    m_bar.SetPos(100);
    m_bar.SetRange32(0, 50);  // the position stays at 100: twice the range
    const QImage image = Picture();
    const QPalette palette = m_bar.palette();
    EXPECT_EQ(image.pixelColor(197, 12), QColor(0, 200, 60));
    EXPECT_EQ(image.pixel(198, 12), palette.color(QPalette::Button).rgb());
    EXPECT_EQ(image.pixel(199, 12), palette.color(QPalette::Mid).rgb());
    m_bar.SetRange32(200, 300);  // now below the range
    const QImage below = Picture();
    EXPECT_EQ(below.pixelColor(2, 12), QColor(240, 240, 240));
    EXPECT_EQ(below.pixel(1, 12), palette.color(QPalette::Button).rgb());
}

TEST_F(BarPicture, TextChangesColourAtTheEdge) {
    m_bar.SetBarColour(Qt::white);
    m_bar.SetBkColour(Qt::white);
    m_bar.SetBarTextColour(QColor(255, 0, 0));
    m_bar.SetTextColour(QColor(0, 0, 255));
    m_bar.ShowPercent(false);
    m_bar.SetText(QStringLiteral("ММММММММММММММММММММ"));
    m_bar.SetPos(50);
    const QImage image = Picture();
    int redLeft = 0, blueLeft = 0, redRight = 0, blueRight = 0;
    for (int y = 2; y < 22; ++y) {
        for (int x = 2; x < 198; ++x) {
            const QColor c = image.pixelColor(x, y);
            const bool red = c.red() > c.blue() + 60;
            const bool blue = c.blue() > c.red() + 60;
            (x < 100 ? redLeft : redRight) += red;
            (x < 100 ? blueLeft : blueRight) += blue;
        }
    }
    EXPECT_GT(redLeft, 20);
    EXPECT_GT(blueRight, 20);
    EXPECT_EQ(blueLeft, 0);
    EXPECT_EQ(redRight, 0);
}

TEST_F(BarPicture, TextInTheBackgroundColourIsInvisibleOverTheEmptyBar) {
    m_bar.SetRange32(0, 100000);
    m_bar.SetTextColour(m_bar.GetBkColour());
    const QImage image = Picture();
    for (int y = 2; y < 22; ++y) {
        for (int x = 2; x < 198; ++x) {
            ASSERT_EQ(image.pixelColor(x, y), QColor(240, 240, 240)) << x << "," << y;
        }
    }
}

TEST_F(BarPicture, VerticalBarFillsFromTheBottom) {
    m_bar.resize(24, 200);
    m_bar.SetVertical(true);
    m_bar.SetPos(50);
    const QImage image = Picture();
    EXPECT_EQ(image.pixelColor(3, 196), QColor(0, 200, 60));
    EXPECT_EQ(image.pixelColor(3, 100), QColor(0, 200, 60));
    EXPECT_EQ(image.pixelColor(3, 99), QColor(240, 240, 240));
    EXPECT_EQ(image.pixelColor(3, 3), QColor(240, 240, 240));
}

TEST_F(BarPicture, MarqueeDrawsABlockBehindTheEdge) {
    m_bar.SetMarquee(true, 100000);
    m_bar.SetPos(50);  // edge at 2 + 98 = 100, block of (196 × 20 + 50) / 100 = 39
    const QImage image = Picture();
    EXPECT_EQ(image.pixelColor(99, 12), QColor(0, 200, 60));
    EXPECT_EQ(image.pixelColor(61, 12), QColor(0, 200, 60));
    EXPECT_EQ(image.pixelColor(60, 12), QColor(240, 240, 240));
    EXPECT_EQ(image.pixelColor(100, 12), QColor(240, 240, 240));
    m_bar.SetPos(120);  // the block has left the bar at the far end
    const QImage end = Picture();
    EXPECT_EQ(end.pixelColor(196, 12), QColor(240, 240, 240));
    EXPECT_EQ(end.pixel(199, 12), m_bar.palette().color(QPalette::Mid).rgb());
}

// A list of five columns as the track page has them.
class ListFixture : public ::testing::Test {
protected:
    void SetUp() override {
        GuiTestApp();
        const int widths[] = {40, 75, 75, 120, 65};
        for (int i = 0; i < 5; ++i) {
            m_list.InsertColumn(i, QStringLiteral("c%1").arg(i), widths[i]);
        }
        m_list.resize(420, 200);
    }
    // The darkest grey level inside row r of the viewport, within columns [x0, x1).
    int Darkest(const QImage& image, int row, int x0, int x1) const {
        const int h = m_list.RowHeight();
        int darkest = 255;
        for (int y = row * h; y < (row + 1) * h; ++y) {
            for (int x = x0; x < x1; ++x) {
                darkest = std::min(darkest, qGray(image.pixel(x, y)));
            }
        }
        return darkest;
    }

    QApplication& m_app = GuiTestApp();
    CMyListCtrl m_list;
};

TEST_F(ListFixture, InsertedRowsStartBlackWhateverTheirData) {
    m_list.InsertItem(0, QStringLiteral("0"));
    auto* item = new QStandardItem(QStringLiteral("1"));
    item->setData(0x12345678u, CMyListCtrl::kColourRole);
    m_list.Model()->insertRow(1, QList<QStandardItem*>{item});
    EXPECT_EQ(m_list.GetItemData(0), 0xFF000000u);
    EXPECT_EQ(m_list.GetItemData(1), 0xFF000000u);
    EXPECT_TRUE(m_list.SetItemData(1, CMyListCtrl::kDoneRowColour));
    EXPECT_EQ(m_list.GetItemData(1), 0xFF808080u);
    EXPECT_FALSE(m_list.SetItemData(5, 0));
    EXPECT_FALSE(m_list.SetItemText(5, 0, QStringLiteral("x")));
    m_list.DeleteAllItems();
    EXPECT_EQ(m_list.GetItemCount(), 0);
}

TEST_F(ListFixture, ColumnsAndSelection) {
    EXPECT_EQ(m_list.GetColumnCount(), 5);
    EXPECT_EQ(m_list.GetColumnWidth(3), 120);
    for (int row = 0; row < 5; ++row) {
        m_list.InsertItem(row, QString::number(row));
    }
    for (const int row : {3, 0, 2}) {
        m_list.SetRowSelected(row, true);
    }
    EXPECT_EQ(m_list.GetSelectedRows(), (std::vector<uint32_t>{0, 2, 3}));
    EXPECT_EQ(m_list.selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(ListFixture, RowHeightFollowsTheFont) {
    QFont font = m_list.font();
    font.setPixelSize(11);
    m_list.setFont(font);
    EXPECT_EQ(m_list.RowHeight(), 15);
}

TEST_F(ListFixture, PaintsRowColoursAndSelection) {
    for (int row = 0; row < 3; ++row) {
        m_list.InsertItem(row, QStringLiteral("888"));
        m_list.SetItemText(row, 1, QStringLiteral("88.88.88"));
    }
    m_list.SetItemData(1, CMyListCtrl::kDoneRowColour);
    m_list.SetRowSelected(2, true);
    // A text wider than its column runs on into the next one.
    m_list.SetItemText(0, 0, QStringLiteral("ШШШШШШШШШШ"));
    m_list.show();
    const QImage image = m_list.viewport()->grab().toImage();
    const QPalette palette = m_list.palette();

    EXPECT_LT(Darkest(image, 0, 0, 40), 60);         // black text
    EXPECT_LT(Darkest(image, 0, 41, 114), 60);       // running on over column 1's space
    EXPECT_GE(Darkest(image, 1, 0, 200), 0x80 - 8);  // grey row: no darker than grey
    EXPECT_LT(Darkest(image, 1, 0, 200), 0xE0);      // but text is there
    const int h = m_list.RowHeight();
    EXPECT_EQ(image.pixelColor(1, 2 * h + 1), palette.color(QPalette::Highlight));
    EXPECT_EQ(image.pixelColor(1, 1 * h + 1), palette.color(QPalette::Base));
    // Deselected, the row shows its own background again.
    m_list.SetRowSelected(2, false);
    const QImage after = m_list.viewport()->grab().toImage();
    EXPECT_EQ(after.pixelColor(1, 2 * h + 1), palette.color(QPalette::Base));
}

}  // namespace
