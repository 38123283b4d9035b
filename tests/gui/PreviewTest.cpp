// The flight preview: true proportions, the written figures, both colourings, and the track
// page opening it after a download and for a downloaded row.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "controls/CMyListCtrl.h"
#include "link/DataFormats.h"
#include "link/DeviceLink.h"
#include "sim/DeviceSimulator.h"
#include "support/FakeUserInterface.h"
#include "support/GuiTestApp.h"
#include "tracks/CFlightPreviewDlg.h"
#include "tracks/CTrackDlg.h"
#include "tracks/TrackTable.h"

namespace {

TrackPoint Point(double latitude, double longitude, uint16_t altitude, double climb) {
    TrackPoint point;
    const PackedPosition position = PackPosition(latitude, longitude);
    std::copy(position.begin(), position.end(), point.bytes.begin());
    point.bytes[13] = uint8_t(altitude >> 8);
    point.bytes[14] = uint8_t(altitude);
    point.bytes[15] = climb >= 0 ? 0x77 : 0x00;
    const double magnitude = std::abs(climb);
    point.bytes[16] = uint8_t(magnitude);
    point.bytes[17] = uint8_t(std::lround((magnitude - std::floor(magnitude)) * 10));
    return point;
}

// A straight climb to the north-east: from 100 m to 100 + n m, then level.
TrackEntry Flight(int n, double latitude = 60.0) {
    TrackEntry track;
    track.record = {14, 6, 24, 9, 30, 0, 0, 0, 0, 2, uint8_t(n >> 8), uint8_t(n)};
    for (int i = 0; i < n; ++i) {
        track.points.push_back(Point(latitude + i * 1e-5, 30.0 + i * 2e-5, uint16_t(100 + i),
                                     i % 7 == 0 ? -1.5 : 3.2));
    }
    track.checksumOk = true;
    return track;
}

class PreviewTest : public ::testing::Test {
protected:
    QApplication& m_app = GuiTestApp();
};

TEST_F(PreviewTest, GroundKeepsDistancesTrueAtTheTracksLatitude) {
    // At 60° a degree of longitude is half a degree of latitude long.
    const FlightShape shape = FlightShape::Of(Flight(1000, 60.0));
    ASSERT_EQ(shape.ground.size(), 1000u);
    EXPECT_NEAR(shape.bounds.width() / shape.bounds.height(), 2.0 * std::cos(60.005 * M_PI / 180),
                0.01);
    EXPECT_EQ(shape.lowest, 100.0f);
    EXPECT_EQ(shape.highest, 1099.0f);
    EXPECT_FLOAT_EQ(shape.topClimb, 3.2f);
    EXPECT_FLOAT_EQ(shape.sink, -1.5f);
    EXPECT_TRUE(FlightShape::Of(TrackEntry{}).ground.empty());
}

TEST_F(PreviewTest, FiguresBesideThePictures) {
    CFlightPreviewDlg preview;
    const TrackEntry flight = Flight(1000);
    preview.SetTracks({flight, Flight(10)});
    const QString summary = preview.SummaryText();
    EXPECT_TRUE(summary.contains("Начало: 14.06.24 09:30:00")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("Продолжительность: " +
                                 QString::fromStdString(TrackDurationText(flight))));
    EXPECT_TRUE(summary.contains("Наибольшая высота: 1099 м")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("Наибольший набор высоты: 3,2 м/с")) << summary.toStdString();
    EXPECT_EQ(preview.TrackBox()->count(), 2);
    preview.TrackBox()->setCurrentIndex(1);
    EXPECT_TRUE(preview.SummaryText().contains("Наибольшая высота: 109 м"));
}

TEST_F(PreviewTest, PathTakesTheColoursOfItsAltitudeOrItsVerticalSpeed) {
    CFlightPreviewDlg preview;
    preview.SetTracks({Flight(65535 / 64)});
    const auto count = [](const QImage& image, auto test) {
        int n = 0;
        for (int y = 0; y < image.height() * 2 / 3; ++y) {
            for (int x = 0; x < image.width() - 80; ++x) {  // left of the legend
                n += test(image.pixelColor(x, y)) ? 1 : 0;
            }
        }
        return n;
    };
    const auto blue = [](const QColor& c) { return c.blue() > 180 && c.red() < 80; };
    const auto red = [](const QColor& c) {
        return c.red() > 180 && c.blue() < 80 && c.green() < 90;
    };
    const QImage altitude = preview.Render(QSize(600, 500));
    EXPECT_GT(count(altitude, blue), 20);  // the low start
    EXPECT_GT(count(altitude, red), 20);   // the high end
    preview.ColourBox()->setCurrentIndex(1);
    EXPECT_EQ(preview.GetColouring(), CFlightPreviewDlg::Colouring::VerticalSpeed);
    const QImage climb = preview.Render(QSize(600, 500));
    EXPECT_NE(altitude, climb);
    EXPECT_GT(count(climb, red), 20);  // climbing nearly all the way
}

TEST_F(PreviewTest, TrackPageOpensItAfterADownloadAndForDownloadedRows) {
    BuildDeviceCharTable();
    sim::DeviceSimulator device;
    device.SetTracks(
        {sim::DeviceSimulator::MakeBigTrack(300), sim::DeviceSimulator::MakeBigTrack(20)});
    DeviceLink link;
    link.m_port.Open(device.Start(), 115200, 0, 8, 0);
    link.m_port.SetTimeouts(1000, 1000);
    FakeUserInterface ui;
    CTrackDlg page(link, ui);
    page.OnGetTable();
    ASSERT_EQ(page.List()->GetItemCount(), 2);

    page.List()->SetRowSelected(1, true);
    page.OnPreview();  // not downloaded yet: nothing to show
    EXPECT_EQ(page.findChild<CFlightPreviewDlg*>(), nullptr);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    page.List()->SetRowSelected(1, false);
    page.List()->SetRowSelected(0, true);
    ui.QueueFile(dir.filePath("track.kml"));
    page.OnGetTrack();
    auto* preview = page.findChild<CFlightPreviewDlg*>();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->Shape().ground.size(), 300u);
    preview->close();

    // The downloaded row again, by its button, in the same window.
    page.List()->SetRowSelected(1, true);
    QPushButton* button = nullptr;
    for (QPushButton* b : page.findChildren<QPushButton*>()) {
        if (b->text() == "Просмотр") {
            button = b;
        }
    }
    ASSERT_NE(button, nullptr);
    button->click();
    EXPECT_EQ(page.findChildren<CFlightPreviewDlg*>().size(), 1);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->TrackBox()->count(), 1);  // row 1 has no points
    EXPECT_EQ(ui.FileRequests().at(0).suggestedName, "2024-07-01.kml");
}

}  // namespace
