// The track KML: date/time texts, the document byte for byte, the file and its readers.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/support/FileSizeLimit.h"
#include "tracks/KmlConsumers.h"
#include "tracks/TrackFixtures.h"
#include "tracks/TrackKml.h"

namespace fs = std::filesystem;
using track_test::Entry;
using track_test::Point;
using track_test::ScopedTimeZone;

namespace {

// A fresh folder under the build tree, removed afterwards.
class TrackKmlFile : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::path(PELNORA_BIN_DIR) / "test-output" / "track_kml" / info->name();
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string PathOf(const std::string& name) const { return (m_dir / name).string(); }
    std::size_t EntriesInFolder() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()));
    }

    ScopedTimeZone m_zone{"Europe/Moscow"};
    fs::path m_dir;
};

// Three tracks over two days, in table order: 01.02 10:00 (two points), 31.01 23:00 (one
// point), 01.02 08:00 (none).
std::vector<TrackEntry> TwoDays() {
    TrackEntry late = Entry(1, 2, 13, 10, 0, 0, 3, 5, 2);
    late.points = {
        Point({0x37, 0x2D, 0x0D, 0xAC}, {0x25, 0x25, 0x01, 0x7C}, 120, 150, 0x77, 2, 5, 130),
        Point({0x37, 0x2E, 0x00, 0x00}, {0x7B, 0x1B, 0x10, 0x68}, 0, 65535, 0x00, 0, 0, 65535)};
    TrackEntry evening = Entry(31, 1, 13, 23, 0, 0, 0, 5, 1);
    evening.points = {Point({0, 0, 0, 1}, {0, 0, 0, 0}, 5, 0, 0x77, 10, 3, 7)};
    TrackEntry empty = Entry(1, 2, 13, 8, 0, 0, 2, 5, 0);
    return {late, evening, empty};
}

TEST(TrackKmlText, DateAndTimeGoThroughLocalTime) {
    ScopedTimeZone zone("Europe/Moscow");
    struct Case {
        TrackEntry entry;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        {Entry(5, 3, 13, 9, 7, 0), "05.03.13", "09:07:00"},
        {Entry(1, 13, 13, 12, 0, 0), "01.01.14", "12:00:00"},   // month 13
        {Entry(0, 3, 13, 12, 0, 0), "28.02.13", "12:00:00"},    // day 0
        {Entry(31, 1, 13, 24, 0, 60), "01.02.13", "00:01:00"},  // hour 24, second 60
        {Entry(0, 0, 0, 0, 0, 0), "30.11.99", "00:00:00"},      // all zeros
        {Entry(31, 12, 255, 23, 59, 59), "31.12.55", "23:59:59"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatTrackDate(c.entry), c.date);
        EXPECT_EQ(FormatTrackTime(c.entry), c.time);
    }
}

TEST(TrackKmlText, TitleOutsideTheCodePageAndReservedCharacters) {
    ScopedTimeZone zone("Europe/Moscow");
    const std::vector<TrackEntry> one = {Entry(5, 3, 13, 9, 7, 0)};
    auto nameLine = [](const std::string& doc) {
        const std::size_t from = doc.find("<name>");
        return doc.substr(from, doc.find('\n', from) - from);
    };
    EXPECT_EQ(nameLine(BuildTrackKml(one, "Полёт №1.kml")), "<name>Полёт №1.kml</name>");
    EXPECT_EQ(nameLine(BuildTrackKml(one, "a&b <c>.kml")), "<name>a&amp;b &lt;c&gt;.kml</name>");
    // A character Windows-1251 lacks does not reach the document.
    EXPECT_EQ(nameLine(BuildTrackKml(one, "漢.kml")), "<name>?.kml</name>");
}

TEST(TrackKmlText, EmptyTrackListStillClosesTheDocument) {
    const std::string doc = BuildTrackKml({}, "x.kml");
    EXPECT_NE(doc.find("<Folder>\n\t<name></name>\n</Folder>\n</Document>\n</kml>\n"),
              std::string::npos);
}

TEST_F(TrackKmlFile, TwoDaysMatchTheGoldenFile) {
    const std::vector<TrackEntry> tracks = TwoDays();
    const std::string path = PathOf("Полёты.kml");
    std::string error;
    ASSERT_EQ(WriteTrackKml(tracks, path, &error), KmlWriteResult::Written) << error;

    const std::string golden = kml_test::ReadFile(PELNORA_TEST_DATA "/tracks_two_days.kml");
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(kml_test::ReadFile(path), golden);
    // The caller's order is left as it was.
    EXPECT_EQ(tracks[0].Hour(), 10);
    EXPECT_EQ(tracks[1].Hour(), 23);
    EXPECT_EQ(tracks[2].Hour(), 8);

    EXPECT_TRUE(kml_test::XmlWellFormed(path));
    int status = 0;
    const std::string gpx = kml_test::GpsbabelGpx(path, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(kml_test::CountOf(gpx, "<wpt "), 3u);  // one per point placemark
    EXPECT_EQ(kml_test::CountOf(gpx, "<trk>"), 3u);  // one per line placemark
}

TEST_F(TrackKmlFile, ReservedCharactersInTheFileNameStayWellFormed) {
    const std::string path = PathOf("a&b <c>.kml");
    ASSERT_EQ(WriteTrackKml(TwoDays(), path), KmlWriteResult::Written);
    EXPECT_TRUE(kml_test::XmlWellFormed(path));
    EXPECT_NE(kml_test::ReadFile(path).find("<name>a&amp;b &lt;c&gt;.kml</name>\r\n"),
              std::string::npos);
}

TEST_F(TrackKmlFile, NothingToWriteTouchesNothing) {
    const std::string path = PathOf("old.kml");
    { std::ofstream(path) << "old"; }
    EXPECT_EQ(WriteTrackKml({}, path), KmlWriteResult::NothingToWrite);
    EXPECT_EQ(kml_test::ReadFile(path), "old");
    EXPECT_EQ(WriteTrackKml({}, PathOf("new.kml")), KmlWriteResult::NothingToWrite);
    EXPECT_FALSE(fs::exists(PathOf("new.kml")));
}

TEST_F(TrackKmlFile, FailureIsReportedAndKeepsTheOldFile) {
    std::string error;
    EXPECT_EQ(WriteTrackKml(TwoDays(), PathOf("missing/t.kml"), &error), KmlWriteResult::Failed);
    EXPECT_FALSE(error.empty());

    // A write that runs out of room (file size limit) leaves the old file and no debris.
    const std::string path = PathOf("keep.kml");
    { std::ofstream(path) << "old"; }
    error.clear();
    KmlWriteResult result = KmlWriteResult::Written;
    {
        FileSizeLimit limit(512);
        ASSERT_TRUE(limit.Ok());
        result = WriteTrackKml(TwoDays(), path, &error);
    }
    EXPECT_EQ(result, KmlWriteResult::Failed);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(kml_test::ReadFile(path), "old");
    EXPECT_EQ(EntriesInFolder(), 1u);
}

TEST_F(TrackKmlFile, ManyPointsAreAllRead) {
    TrackEntry big = Entry(5, 3, 13, 9, 7, 0, 0, 1, 1000);
    for (int i = 0; i < 1000; ++i) {
        big.points.push_back(Point({55, static_cast<uint8_t>(i % 60), 0, 0},
                                   {37, static_cast<uint8_t>(i / 60), 0, 0}, 1, 100, 0x77, 1, 0,
                                   1));
    }
    const std::string path = PathOf("big.kml");
    ASSERT_EQ(WriteTrackKml({big}, path), KmlWriteResult::Written);
    EXPECT_TRUE(kml_test::XmlWellFormed(path));
    int status = 0;
    const std::string gpx = kml_test::GpsbabelGpx(path, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(kml_test::CountOf(gpx, "<trkpt "), 1000u);
    EXPECT_EQ(kml_test::CountOf(gpx, "<wpt "), 1000u);
}

}  // namespace
