// The About box: its texts, and links that open without closing it.

#include <gtest/gtest.h>

#include <QLabel>

#include "app/CAboutDlg.h"
#include "support/GuiTestApp.h"

namespace {

TEST(AboutTest, TextsAndLinks) {
    GuiTestApp();
    CAboutDlg about;
    std::vector<QUrl> opened;
    about.SetUrlOpener([&](const QUrl& url) { opened.push_back(url); });
    about.show();
    EXPECT_EQ(about.windowTitle(), "О программе");
    EXPECT_EQ(about.VersionLabel()->text(), "Ombrelt, версия 1.3.0.1550");
    EXPECT_TRUE(about.DeviceLink()->text().contains(">Веб-страница с описанием устройства</a>"));
    EXPECT_TRUE(about.RightsLink()->text().contains(CAboutDlg::kMakerUrl));

    emit about.DeviceLink()->linkActivated(CAboutDlg::kDeviceUrl);
    emit about.RightsLink()->linkActivated(CAboutDlg::kMakerUrl);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl(CAboutDlg::kDeviceUrl));
    EXPECT_EQ(opened[1], QUrl(CAboutDlg::kMakerUrl));
    EXPECT_TRUE(about.isVisible());
}

}  // namespace
