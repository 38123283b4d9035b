// Marks: the exchange against the simulator and the KML writer.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "marks_route/Marks.h"
#include "marks_route/MarksExchange.h"
#include "tracks/KmlConsumers.h"
#include "tracks/SimLink.h"

namespace fs = std::filesystem;
using sim_test::Bytes;
using sim_test::Got;
using sim_test::Logged;
using sim_test::Sent;

namespace {

const PackedPosition kMoscow = {0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C};
const PackedPosition kTiny = {0x00, 0x00, 0x00, 0x01, 0x7B, 0x1B, 0x10, 0x68};

class MarksFile : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::path(PELNORA_BIN_DIR) / "test-output" / "marks" / info->name();
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string PathOf(const std::string& name) const { return (m_dir / name).string(); }

    fs::path m_dir;
};

TEST(MarksKml, WorkedExampleAndNames) {
    const std::string doc = BuildMarksKml({kMoscow, PackedPosition{}}, "Points");
    EXPECT_NE(doc.find("<name>Points</name>\n<Placemark>\n<name>Points1</name>\n<Point>\n"
                       "<coordinates>37.6173,55.7558</coordinates>\n</Point>\n</Placemark>\n"),
              std::string::npos);
    EXPECT_NE(doc.find("<name>Points2</name>\n<Point>\n<coordinates>0,0</coordinates>"),
              std::string::npos);
    EXPECT_EQ(doc.rfind("</Document>\n</kml>\n"), doc.size() - 19);
}

TEST_F(MarksFile, MatchesTheGoldenFile) {
    const std::string path = PathOf("Точки.kml");
    std::string error;
    ASSERT_EQ(WriteMarksKml(path, {kMoscow, PackedPosition{}, kTiny}, &error),
              KmlWriteResult::Written)
        << error;
    const std::string golden = kml_test::ReadFile(PELNORA_TEST_DATA "/marks.kml");
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(kml_test::ReadFile(path), golden);
    EXPECT_TRUE(kml_test::XmlWellFormed(path));
    int status = 0;
    EXPECT_EQ(kml_test::CountOf(kml_test::GpsbabelGpx(path, status), "<wpt "), 3u);
    EXPECT_EQ(status, 0);
}

TEST_F(MarksFile, TitleDropsTheLastFourCharacters) {
    struct Case {
        const char* fileName;
        const char* title;
    };
    const Case cases[] = {
        {"Points.kml", "Points"},
        {"abcd", "abcd"},
        {"abcde", "a"},
        {"Полёт.kml", "Полёт"},
        {"a&b <c>.kml", "a&amp;b &lt;c&gt;"},
        {"x.y.KML", "x.y"},
    };
    for (const Case& c : cases) {
        const std::string path = PathOf(c.fileName);
        ASSERT_EQ(WriteMarksKml(path, {kMoscow, kMoscow}), KmlWriteResult::Written) << c.fileName;
        const std::string text = kml_test::ReadFile(path);
        const std::string title = c.title;
        EXPECT_NE(text.find("<Document>\r\n<name>" + title + "</name>\r\n"), std::string::npos)
            << c.fileName;
        EXPECT_NE(text.find("<name>" + title + "2</name>"), std::string::npos) << c.fileName;
        EXPECT_TRUE(kml_test::XmlWellFormed(path)) << c.fileName;
    }
}

TEST_F(MarksFile, NothingToWriteAndFailure) {
    const std::string path = PathOf("old.kml");
    { std::ofstream(path) << "old"; }
    EXPECT_EQ(WriteMarksKml(path, {}), KmlWriteResult::NothingToWrite);
    EXPECT_EQ(kml_test::ReadFile(path), "old");

    std::string error;
    EXPECT_EQ(WriteMarksKml(PathOf("missing/m.kml"), {kMoscow}, &error), KmlWriteResult::Failed);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(PathOf("missing")));
}

class MarksExchange : public sim_test::SimLink {};

TEST_F(MarksExchange, ReadsEveryAnnouncedRecord) {
    m_sim.SetMarks({kMoscow, kTiny, PackedPosition{}});
    bool answered = false;
    EXPECT_EQ(m_link.ReadMarks(&answered),
              (std::vector<PackedPosition>{kMoscow, kTiny, PackedPosition{}}));
    EXPECT_TRUE(answered);
    EXPECT_EQ(Chunks(), (std::vector<Logged>{
                            Sent({0x55}), Got({0x03}), Got(Bytes(kMoscow.begin(), kMoscow.end())),
                            Got(Bytes(kTiny.begin(), kTiny.end())), Got(Bytes(8, 0))}));
    EXPECT_EQ(m_recorder.RefreshCount(), 1);
}

TEST_F(MarksExchange, CountIsUnsignedUpTo255AndAllAreWritten) {
    std::vector<std::array<uint8_t, 8>> marks;
    for (int i = 0; i < 255; ++i) {
        marks.push_back(
            {55, static_cast<uint8_t>(i % 60), 0, 0, 37, static_cast<uint8_t>(i / 60), 0, 0});
    }
    m_sim.SetMarks(marks);
    const std::vector<PackedPosition> got = m_link.ReadMarks();
    ASSERT_EQ(got.size(), 255u);
    EXPECT_EQ(got.back(), marks.back());

    const fs::path dir = fs::path(PELNORA_BIN_DIR) / "test-output" / "marks_exchange";
    fs::create_directories(dir);
    const std::string path = (dir / "Points.kml").string();
    ASSERT_EQ(WriteMarksKml(path, got), KmlWriteResult::Written);
    const std::string text = kml_test::ReadFile(path);
    EXPECT_EQ(kml_test::CountOf(text, "<Placemark>"), 255u);
    EXPECT_NE(text.find("<name>Points255</name>"), std::string::npos);
    int status = 0;
    EXPECT_EQ(kml_test::CountOf(kml_test::GpsbabelGpx(path, status), "<wpt "), 255u);
    EXPECT_TRUE(kml_test::XmlWellFormed(path));
    fs::remove_all(dir);
}

TEST_F(MarksExchange, NoMarksIsAnAnswer) {
    m_sim.SetMarks({});
    bool answered = false;
    EXPECT_TRUE(m_link.ReadMarks(&answered).empty());
    EXPECT_TRUE(answered);
    EXPECT_EQ(Chunks(), (std::vector<Logged>{Sent({0x55}), Got({0x00})}));
}

TEST_F(MarksExchange, SilentDeviceIsNotAnswering) {
    m_sim.SetMarks({kMoscow});
    sim::SimFaults faults;
    faults.silentCommands = {0x55};
    m_sim.SetFaults(faults);
    bool answered = true;
    unsigned announced = 7;
    EXPECT_TRUE(m_link.ReadMarks(&answered, &announced).empty());
    EXPECT_FALSE(answered);
    EXPECT_EQ(announced, 0u);
    // Only what crossed the line is logged; the log is still rendered.
    EXPECT_EQ(Chunks(), (std::vector<Logged>{Sent({0x55})}));
    EXPECT_EQ(m_recorder.RefreshCount(), 1);
}

// A device that announces more than it sends: only whole marks come back, none at 0°N 0°E.
TEST_F(MarksExchange, OnlyTheMarksThatCameAreKept) {
    m_sim.SetMarks({kMoscow, kTiny, kMoscow});
    sim::SimFaults faults;
    faults.marksSent = 1;
    m_sim.SetFaults(faults);
    bool answered = false;
    unsigned announced = 0;
    const std::vector<PackedPosition> got = m_link.ReadMarks(&answered, &announced);
    EXPECT_EQ(got, (std::vector<PackedPosition>{kMoscow}));
    EXPECT_TRUE(answered);
    EXPECT_EQ(announced, 3u);
    EXPECT_EQ(MarksIncompleteText(got.size(), announced), "Получена 1 метка из 3.");
    EXPECT_EQ(Chunks(), (std::vector<Logged>{Sent({0x55}), Got({0x03}),
                                             Got(Bytes(kMoscow.begin(), kMoscow.end()))}));
}

TEST(MarksText, CountsAgreeWithTheirNumber) {
    struct Case {
        std::size_t received;
        unsigned announced;
        const char* text;
    };
    const Case cases[] = {
        {0, 12, "Получено 0 меток из 12."},       {1, 12, "Получена 1 метка из 12."},
        {4, 12, "Получено 4 метки из 12."},       {5, 12, "Получено 5 меток из 12."},
        {11, 12, "Получено 11 меток из 12."},     {12, 200, "Получено 12 меток из 200."},
        {21, 40, "Получена 21 метка из 40."},     {22, 40, "Получено 22 метки из 40."},
        {111, 255, "Получено 111 меток из 255."}, {254, 255, "Получено 254 метки из 255."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MarksIncompleteText(c.received, c.announced), c.text) << c.received;
    }
}

}  // namespace
