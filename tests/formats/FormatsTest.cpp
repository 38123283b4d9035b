// GPX, IGC and KML with time: golden files of a small fixture, the real consumers reading
// them back, the formats table and the one entry point.
// PELNORA_UPDATE_GOLDEN=1 rewrites the golden files from what the writers make.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "marks_route/MarksGpx.h"
#include "tracks/KmlConsumers.h"
#include "tracks/TrackFixtures.h"
#include "tracks/TrackFormats.h"
#include "tracks/TrackGpx.h"
#include "tracks/TrackIgc.h"
#include "tracks/TrackKml.h"
#include "tracks/TrackKmlTime.h"

namespace fs = std::filesystem;
using kml_test::CountOf;
using kml_test::Quote;
using kml_test::ReadFile;
using track_test::Entry;
using track_test::Point;
using track_test::ScopedTimeZone;

namespace {

// In table order: a night flight passing midnight UTC (15.06 device time), a faulty track
// (zero interval) and a morning flight of 14.06 with 1/10000-minute positions, a longitude
// past 100°, a falling and a "-0" vertical speed and the largest altitude and air speed.
std::vector<TrackEntry> Fixture() {
    TrackEntry night = Entry(15, 6, 24, 2, 59, 55, 10, 10, 3);
    night.points = {Point({59, 56, 0, 0}, {30, 18, 0, 0}, 90, 300, 0x77, 0, 5, 95),
                    Point({59, 56, 0x13, 0x88}, {30, 18, 0x13, 0x88}, 91, 310, 0x77, 1, 0, 96),
                    Point({59, 57, 0, 0}, {30, 19, 0, 0}, 92, 320, 0x00, 3, 4, 97)};
    TrackEntry faulty = Entry(15, 6, 24, 10, 0, 0, 20, 0, 2);
    faulty.points = {Point({60, 0, 0, 0}, {31, 0, 0, 0}, 0, 100, 0x77, 0, 0, 0),
                     Point({60, 0, 0, 1}, {31, 0, 0, 1}, 0, 101, 0x77, 0, 0, 0)};
    TrackEntry morning = Entry(14, 6, 24, 9, 0, 0, 0, 5, 3);
    morning.points = {
        Point({0x37, 0x2D, 0x0D, 0xAC}, {0x25, 0x25, 0x01, 0x7C}, 120, 150, 0x77, 2, 5, 130),
        Point({55, 46, 0, 0}, {37, 38, 0x13, 0x88}, 125, 210, 0x00, 0, 0, 135),
        Point({55, 47, 0x04, 0xD2}, {123, 27, 0x10, 0x68}, 0, 65535, 0x00, 1, 2, 65535)};
    return {night, faulty, morning};
}

const ClockOffset kOffset = *ClockOffset::Device(3, 0);

// What the fixture's points are, worked out by hand ("" time: written without one).
struct Fix {
    const char* time;
    double latitude, longitude;
    int altitude;
};
const Fix kMorning[] = {{"2024-06-14T06:00:00Z", 55.7558333, 37.6173, 150},
                        {"2024-06-14T06:00:05Z", 55.7666667, 37.6416667, 210},
                        {"2024-06-14T06:00:10Z", 55.78539, 123.457, 65535}};
const Fix kNight[] = {{"2024-06-14T23:59:55Z", 59.9333333, 30.3, 300},
                      {"2024-06-15T00:00:05Z", 59.9416667, 30.3083333, 310},
                      {"2024-06-15T00:00:15Z", 59.95, 30.3166667, 320}};
const Fix kFaulty[] = {{"", 60.0, 31.0, 100}, {"", 60.0000017, 31.0000017, 101}};

std::vector<Fix> Expected(bool withFaulty) {
    std::vector<Fix> all(std::begin(kMorning), std::end(kMorning));
    all.insert(all.end(), std::begin(kNight), std::end(kNight));
    if (withFaulty) {
        all.insert(all.end(), std::begin(kFaulty), std::end(kFaulty));
    }
    return all;
}

struct ReadPoint {
    std::string time;
    double latitude = 0, longitude = 0, altitude = -1;
};

// The track points of a GPX text as gpsbabel writes it.
std::vector<ReadPoint> TrackPoints(const std::string& gpx) {
    std::vector<ReadPoint> points;
    const std::regex trkpt(R"re(<trkpt lat="([-0-9.]+)" lon="([-0-9.]+)">([\s\S]*?)</trkpt>)re");
    const std::regex ele(R"(<ele>([-0-9.]+)</ele>)");
    const std::regex time(R"(<time>([^<]+)</time>)");
    for (auto it = std::sregex_iterator(gpx.begin(), gpx.end(), trkpt);
         it != std::sregex_iterator(); ++it) {
        ReadPoint p;
        p.latitude = std::stod((*it)[1]);
        p.longitude = std::stod((*it)[2]);
        const std::string body = (*it)[3];
        std::smatch m;
        if (std::regex_search(body, m, ele)) {
            p.altitude = std::stod(m[1]);
        }
        if (std::regex_search(body, m, time)) {
            p.time = m[1];
        }
        points.push_back(p);
    }
    return points;
}

// gpsbabel's times may carry fractions (".000"); the second is what counts.
std::string Seconds(const std::string& time) {
    const std::size_t dot = time.find('.');
    return dot == std::string::npos ? time : time.substr(0, dot) + "Z";
}

void ExpectPoints(const std::vector<ReadPoint>& got, const std::vector<Fix>& want, double tolerance,
                  const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(Seconds(got[i].time), want[i].time) << what << " point " << i;
        EXPECT_NEAR(got[i].latitude, want[i].latitude, tolerance) << what << " point " << i;
        EXPECT_NEAR(got[i].longitude, want[i].longitude, tolerance) << what << " point " << i;
        EXPECT_NEAR(got[i].altitude, want[i].altitude, 0.5) << what << " point " << i;
    }
}

std::string Gpsbabel(const std::string& type, const std::string& path, int& status) {
    return kml_test::Run("gpsbabel -i " + type + " -f " + Quote(path) + " -o gpx -F - 2>&1",
                         status);
}

class FormatFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::path(PELNORA_BIN_DIR) / "test-output" / "formats" / info->name();
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string PathOf(const std::string& name) const { return (m_dir / name).string(); }

    // Compares a written file with its golden file (or rewrites that on request).
    static void ExpectGolden(const std::string& path, const std::string& golden) {
        const std::string goldenPath = std::string(PELNORA_TEST_DATA) + "/" + golden;
        if (std::getenv("PELNORA_UPDATE_GOLDEN") != nullptr) {
            fs::create_directories(fs::path(goldenPath).parent_path());
            fs::copy_file(path, goldenPath, fs::copy_options::overwrite_existing);
        }
        const std::string expected = ReadFile(goldenPath);
        ASSERT_FALSE(expected.empty()) << goldenPath;
        EXPECT_EQ(ReadFile(path), expected) << golden;
    }

    // Moscow's zone names the day folders; the offset of the times is given.
    ScopedTimeZone m_zone{"Europe/Moscow"};
    fs::path m_dir;
};

TEST_F(FormatFiles, GpxMatchesItsGoldenFileAndItsReaders) {
    const std::string path = PathOf("полёты.gpx");
    std::string error;
    std::vector<std::string> notes;
    ASSERT_EQ(WriteTracks(TrackFormat::Gpx, path, Fixture(), kOffset, &error, &notes),
              KmlWriteResult::Written)
        << error;
    ExpectGolden(path, "formats/tracks.gpx");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0],
              "Трек 15.06.24 10:00:00 неисправен (нет точек или нулевой интервал): записан без "
              "времени");
    EXPECT_TRUE(kml_test::XmlWellFormed(path));

    int status = 0;
    const std::string back = Gpsbabel("gpx", path, status);
    ASSERT_EQ(status, 0) << back;
    EXPECT_EQ(CountOf(back, "<trk>"), 3u);
    // Start order: morning, night, then the faulty track without times.
    ExpectPoints(TrackPoints(back), Expected(true), 1e-6, "gpsbabel -i gpx");

    // GDAL lists every track point with its time.
    const std::string listed =
        kml_test::Run("ogrinfo -ro -al -fields=YES " + Quote(path) + " track_points 2>&1", status);
    ASSERT_EQ(status, 0) << listed;
    EXPECT_EQ(CountOf(listed, "OGRFeature(track_points)"), 8u) << listed;
    EXPECT_NE(listed.find("time (DateTime) = 2024/06/14 23:59:55+00"), std::string::npos) << listed;
    EXPECT_NE(listed.find("ele (Real) = 65535"), std::string::npos) << listed;
}

TEST_F(FormatFiles, KmlWithTimeMatchesItsGoldenFileAndItsReaders) {
    const std::string path = PathOf("полёты.kml");
    std::string error;
    std::vector<std::string> notes;
    ASSERT_EQ(WriteTracks(TrackFormat::KmlTime, path, Fixture(), kOffset, &error, &notes),
              KmlWriteResult::Written)
        << error;
    ExpectGolden(path, "formats/tracks_time.kml");
    EXPECT_EQ(notes.size(), 1u);
    EXPECT_TRUE(kml_test::XmlWellFormed(path));
    const std::string doc = ReadFile(path);
    // The day folders of the track KML, one placemark per track named by its start time.
    EXPECT_EQ(CountOf(doc, "<Folder>"), 2u);
    EXPECT_LT(doc.find("<name>14.06.24</name>"), doc.find("<name>15.06.24</name>"));
    EXPECT_EQ(CountOf(doc, "<Placemark>"), 3u);

    int status = 0;
    const std::string back = Gpsbabel("kml", path, status);
    ASSERT_EQ(status, 0) << back;
    std::vector<ReadPoint> timed;
    for (const ReadPoint& p : TrackPoints(back)) {
        if (!p.time.empty()) {
            timed.push_back(p);
        }
    }
    ExpectPoints(timed, Expected(false), 1e-6, "gpsbabel -i kml");
}

TEST_F(FormatFiles, IgcFilesMatchTheirGoldenFilesAndTheirReader) {
    const std::string folder = PathOf("igc");
    std::string error;
    std::vector<std::string> notes;
    ASSERT_EQ(WriteTracks(TrackFormat::Igc, folder, Fixture(), kOffset, &error, &notes),
              KmlWriteResult::Written)
        << error;
    // Both flights start on 14.06 UTC: flights 01 and 02 of that day; the faulty one is named.
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0],
              "Трек 15.06.24 10:00:00 неисправен (нет точек или нулевой интервал): в IGC не "
              "записан");
    std::vector<std::string> names;
    for (const auto& file : fs::directory_iterator(folder)) {
        names.push_back(file.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names, (std::vector<std::string>{"2024-06-14-XXX-000000-01.igc",
                                               "2024-06-14-XXX-000000-02.igc"}));
    const std::vector<Fix>* flights[] = {nullptr, nullptr};
    std::vector<Fix> morning(std::begin(kMorning), std::end(kMorning));
    std::vector<Fix> night(std::begin(kNight), std::end(kNight));
    flights[0] = &morning;
    flights[1] = &night;
    for (std::size_t k = 0; k < names.size(); ++k) {
        const std::string path = folder + "/" + names[k];
        ExpectGolden(path, "formats/" + names[k]);
        const std::string text = ReadFile(path);
        EXPECT_EQ(CountOf(text, "\r\n"), CountOf(text, "\n")) << "CR LF only";
        int status = 0;
        const std::string back = Gpsbabel("igc", path, status);
        ASSERT_EQ(status, 0) << back;
        // Thousandths of a minute: within 1/120000 of a degree.
        ExpectPoints(TrackPoints(back), *flights[k], 1e-5, "gpsbabel -i igc " + names[k]);
    }
}

TEST_F(FormatFiles, MarksGpxMatchesItsGoldenFileAndItsReaders) {
    const std::string path = PathOf("Точки.gpx");
    const std::vector<PackedPosition> marks = {
        {0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C},
        PackedPosition{},
        {0x00, 0x00, 0x00, 0x01, 0x7B, 0x1B, 0x10, 0x68},
        {200, 0, 0, 0, 10, 0, 0, 0}};  // no place on earth: left out, the numbers kept
    std::string error;
    ASSERT_EQ(WriteMarks(MarksFormat::Gpx, path, marks, &error), KmlWriteResult::Written) << error;
    ExpectGolden(path, "formats/marks.gpx");
    EXPECT_TRUE(kml_test::XmlWellFormed(path));
    int status = 0;
    const std::string back = Gpsbabel("gpx", path, status);
    ASSERT_EQ(status, 0) << back;
    EXPECT_EQ(CountOf(back, "<wpt "), 3u);
    EXPECT_NE(back.find("<name>Точки3</name>"), std::string::npos) << back;
    EXPECT_NE(back.find("lat=\"55.755833"), std::string::npos) << back;
}

TEST_F(FormatFiles, NothingToWriteAndFailuresTouchNothing) {
    const std::string path = PathOf("old.gpx");
    { std::ofstream(path) << "old"; }
    for (TrackFormat format : {TrackFormat::KmlTime, TrackFormat::Gpx, TrackFormat::Igc}) {
        EXPECT_EQ(WriteTracks(format, path, {}, kOffset), KmlWriteResult::NothingToWrite);
    }
    EXPECT_EQ(WriteMarks(MarksFormat::Gpx, path, {}), KmlWriteResult::NothingToWrite);
    // Only faulty tracks: no IGC file, a note for each.
    std::vector<std::string> notes;
    const std::vector<TrackEntry> faulty = {Entry(1, 2, 24, 8, 0, 0, 0, 5, 0),
                                            Entry(1, 2, 24, 9, 0, 0, 0, 0, 0)};
    EXPECT_EQ(WriteTracks(TrackFormat::Igc, PathOf("flights"), faulty, kOffset, nullptr, &notes),
              KmlWriteResult::NothingToWrite);
    EXPECT_EQ(notes.size(), 2u);
    EXPECT_FALSE(fs::exists(PathOf("flights")));
    // An IGC "folder" that is a file, and a GPX in a folder that does not exist.
    std::string error;
    EXPECT_EQ(WriteTracks(TrackFormat::Igc, path, Fixture(), kOffset, &error),
              KmlWriteResult::Failed);
    EXPECT_NE(error.find(path), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(WriteTracks(TrackFormat::Gpx, PathOf("none/x.gpx"), Fixture(), kOffset, &error),
              KmlWriteResult::Failed);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFile(path), "old");
}

// A track of a few megabytes goes out in pieces; the file is the whole document all the same.
TEST_F(FormatFiles, LargeTrackWrittenInPiecesIsTheWholeDocument) {
    TrackEntry big = Entry(14, 6, 24, 9, 0, 0, 0, 1, 20000);
    for (unsigned i = 0; i < 20000; ++i) {
        big.points.push_back(Point({55, static_cast<uint8_t>(i % 60), static_cast<uint8_t>(i >> 8),
                                    static_cast<uint8_t>(i)},
                                   {37, 0, 0, 0}, static_cast<uint16_t>(i), 100, 0x77, 1, 1, 2));
    }
    const std::vector<TrackEntry> tracks = {big};
    const auto crlf = [](const std::string& text) {
        std::string out;
        for (char c : text) {
            out += c == '\n' ? std::string("\r\n") : std::string(1, c);
        }
        return out;
    };
    const std::string gpx = PathOf("big.gpx");
    const std::string kml = PathOf("big.kml");
    ASSERT_EQ(WriteTracks(TrackFormat::Gpx, gpx, tracks, kOffset), KmlWriteResult::Written);
    ASSERT_EQ(WriteTracks(TrackFormat::KmlTime, kml, tracks, kOffset), KmlWriteResult::Written);
    const std::string gpxText = ReadFile(gpx);
    EXPECT_GT(gpxText.size(), 3u << 20);
    EXPECT_EQ(gpxText, crlf(BuildTracksGpx(tracks, kOffset)));
    EXPECT_EQ(ReadFile(kml), crlf(BuildTracksKmlTime(tracks, "big.kml", kOffset)));
    EXPECT_EQ(CountOf(gpxText, "<trkpt "), 20000u);
}

TEST_F(FormatFiles, TrackKmlThroughTheEntryPointIsTheDescribedFile) {
    const std::vector<TrackEntry> tracks = Fixture();
    const std::string viaEntry = PathOf("a.kml");
    const std::string direct = PathOf("b.kml");
    ASSERT_EQ(WriteTracks(TrackFormat::Kml, viaEntry, tracks, kOffset), KmlWriteResult::Written);
    ASSERT_EQ(WriteTrackKml(tracks, direct), KmlWriteResult::Written);
    std::string a = ReadFile(viaEntry);
    const std::string b = ReadFile(direct);
    a.replace(a.find("<name>a.kml</name>"), 18, "<name>b.kml</name>");
    EXPECT_EQ(a, b);
}

TEST(TrackFormatTable, NamesFiltersAndFileNames) {
    ASSERT_EQ(kTrackFormats.size(), 4u);
    EXPECT_EQ(kTrackFormats[0].format, TrackFormat::Kml);
    EXPECT_EQ(TrackFormatFilter(kTrackFormats[0]), " (Google Earth *.kml) (*.kml)");
    EXPECT_EQ(TrackFormatFilter(kTrackFormats[1]), "KML со временем (*.kml)");
    EXPECT_EQ(TrackFormatFilter(kTrackFormats[2]), "GPX (*.gpx)");
    EXPECT_STREQ(kTrackFormats[3].label, "IGC (папка)");
    EXPECT_TRUE(kTrackFormats[3].folder);
    for (const char* name : {"kml", "kml-time", "gpx", "igc"}) {
        const auto format = TrackFormatByCliName(name);
        ASSERT_TRUE(format) << name;
        EXPECT_STREQ(TrackFormatOf(*format).cliName, name);
    }
    EXPECT_FALSE(TrackFormatByCliName("KML"));
    EXPECT_FALSE(TrackFormatByCliName(""));
    EXPECT_EQ(MarksFormatByCliName("gpx"), MarksFormat::Gpx);
    EXPECT_EQ(MarksFormatByCliName("kml"), MarksFormat::Kml);
    EXPECT_FALSE(MarksFormatByCliName("igc"));
    EXPECT_EQ(MarksFormatFilter(kMarksFormats[1]), "GPX (*.gpx)");

    ScopedTimeZone zone("Europe/Moscow");
    const std::vector<TrackEntry> one = {Entry(14, 6, 24, 9, 0, 0)};
    EXPECT_EQ(SuggestedTrackFileName(one, TrackFormat::Kml), "2024-06-14.kml");
    EXPECT_EQ(SuggestedTrackFileName(Fixture(), TrackFormat::Gpx), "2024-06-14_2024-06-15.gpx");
    EXPECT_EQ(SuggestedTrackFileName(Fixture(), TrackFormat::Igc), "2024-06-14_2024-06-15");
    EXPECT_EQ(SuggestedTrackFileName({}, TrackFormat::Kml), "");
}

TEST(TrackFormatTable, OffsetUsedIsNamed) {
    ScopedTimeZone zone("Europe/Berlin");
    const std::vector<TrackEntry> summerAndWinter = {Entry(14, 6, 24, 9, 0, 0),
                                                     Entry(14, 1, 24, 9, 0, 0)};
    EXPECT_EQ(UtcOffsetUsedText(summerAndWinter, kOffset), "Смещение часов прибора от UTC: +3:00");
    EXPECT_EQ(UtcOffsetUsedText(summerAndWinter, ClockOffset::Computer()),
              "Смещение часов прибора от UTC: +1:00, +2:00 (часовой пояс компьютера)");
}

TEST(IgcText, RecordsOfOneFlight) {
    const std::vector<TrackEntry> tracks = Fixture();
    const TrackTimeline night(tracks[0], kOffset);
    const std::string text = BuildTrackIgc(night, 2);
    // A, H and I records, then B records in recorded order across midnight.
    EXPECT_EQ(text.substr(0, 31), "AXXX000000\nHFDTEDATE:140624,02\n");
    EXPECT_NE(text.find("\nHFDTMGPSDATUM:WGS-1984\n"), std::string::npos);
    EXPECT_NE(text.find(std::string("\nHFFTYFRTYPE:Pelnora,") + PelnoraVersion() + "\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nI033640GSP4145TAS4650VAT\n"), std::string::npos);
    const std::size_t b1 = text.find("\nB235955");
    const std::size_t b2 = text.find("\nB000005");
    const std::size_t b3 = text.find("\nB000015");
    ASSERT_NE(b1, std::string::npos);
    EXPECT_LT(b1, b2);
    EXPECT_LT(b2, b3);
    // Time, 59°56.000'N, 030°18.000'E, fix A, no pressure altitude, GNSS 300 m, speeds.
    EXPECT_EQ(text.substr(b1 + 1, 50), std::string("B235955") + "5956000N" + "03018000E" + "A" +
                                           "00000" + "00300" + "00090" + "00095" + "00005");
    // Bytes 36-50 of a falling point: GSP, TAS and VAT in tenths with its sign.
    EXPECT_EQ(text.substr(b3 + 36, 15), "0009200097-0034");
    for (std::size_t at = text.find("\nB"); at != std::string::npos;
         at = text.find("\nB", at + 1)) {
        EXPECT_EQ(text.find('\n', at + 1) - at - 1, 50u) << "B record of 50 bytes";
    }
    EXPECT_EQ(IgcFileName(0, 1), "1970-01-01-XXX-000000-01.igc");
}

}  // namespace
