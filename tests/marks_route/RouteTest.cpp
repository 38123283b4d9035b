// Route: reading KML, device names, refusals and the upload against the simulator.

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <filesystem>
#include <fstream>

#include "link/DataFormats.h"
#include "marks_route/Route.h"
#include "tracks/SimLink.h"

namespace fs = std::filesystem;
using sim_test::Bytes;
using sim_test::Logged;
using sim_test::Sent;

namespace {

using Name = std::array<uint8_t, 4>;

const PackedPosition kMoscow = {0x37, 0x2D, 0x0D, 0x98, 0x25, 0x25, 0x01, 0x7C};

std::string Kml(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n" +
           body + "</Document></kml>\n";
}

std::string Placemark(const std::string& name, const std::string& coordinates) {
    return "<Placemark><name>" + name + "</name><Point><coordinates>" + coordinates +
           "</coordinates></Point></Placemark>\n";
}

std::string Placemarks(int count) {
    std::string body;
    for (int i = 0; i < count; ++i) {
        body += Placemark("P" + std::to_string(i), "37.6173,55.7558");
    }
    return Kml(body);
}

std::vector<RoutePoint> Parse(const std::string& text) {
    std::vector<RoutePoint> route;
    std::string error;
    EXPECT_TRUE(ParseRouteKml(text, route, &error)) << error;
    return route;
}

class RouteText : public ::testing::Test {
protected:
    void SetUp() override { BuildDeviceCharTable(); }
};

TEST_F(RouteText, DeviceNames) {
    struct Case {
        const char* name;
        Name bytes;
    };
    const Case cases[] = {
        {"Москва", {0x4D, 0x6F, 0x63, 0xBA}}, {"Тверь", {0x54, 0xB3, 0x65, 0x70}},
        {"A1", {0x41, 0x31, 0x00, 0x00}},     {"Ёлка", {0xA2, 0xBB, 0xBA, 0x61}},
        {"№12", {0x00, 0x00, 0x00, 0x00}},    {"Ab№c", {0x41, 0x62, 0x00, 0x00}},
        {"", {0x00, 0x00, 0x00, 0x00}},       {"Z", {0x5A, 0x00, 0x00, 0x00}},
        {"Самара", {0x43, 0x61, 0xBC, 0x61}}, {"ёж", {0xB5, 0xB6, 0x00, 0x00}},
        {"漢A", {0x3F, 0x41, 0x00, 0x00}},  // no Windows-1251 form: a question mark
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToDeviceName(c.name), c.bytes) << c.name;
    }
}

TEST_F(RouteText, PlacemarksInDocumentOrderParentsFirst) {
    const std::string text =
        Kml("<Folder><name>outer</name>\n"
            "  <Folder>" +
            Placemark("A", "1,2") +
            "</Folder>\n"
            "  <Placemark><name>B</name><Point><coordinates>3,4</coordinates></Point>\n"
            "    <Placemark><name>C</name></Placemark>\n"
            "  </Placemark>\n"
            "</Folder>\n"
            "<placemark><name>lower</name></placemark>\n"
            "<kml:Placemark><name>prefixed</name></kml:Placemark>\n"
            "<Placemark><name>D</name><LineString><coordinates>5,6 7,8</coordinates></LineString>"
            "</Placemark>\n" +
            Placemark("E", "9,10"));
    const std::vector<RoutePoint> route = Parse(text);
    std::vector<std::string> names;
    for (const RoutePoint& p : route) {
        names.push_back(p.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "C", "D", "E"}));
    ASSERT_EQ(route.size(), 5u);
    EXPECT_EQ(route[0].position, (PackedPosition{2, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(route[1].position, (PackedPosition{4, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(route[2].position, PackedPosition{});  // no Point
    EXPECT_EQ(route[3].position, PackedPosition{});  // a line is not a position
    EXPECT_EQ(route[4].position, (PackedPosition{10, 0, 0, 0, 9, 0, 0, 0}));
}

TEST_F(RouteText, CoordinatesText) {
    struct Case {
        const char* coordinates;
        PackedPosition position;
    };
    const Case cases[] = {
        {"37.6173,55.7558", kMoscow},
        {"37.6173,55.7558,120", kMoscow},
        {"37.6173 , 55.7558", kMoscow},
        {"\n\t 37.6173,55.7558 38,56,0 39,57,0\n", kMoscow},  // further tuples ignored
        {"37.6173;55.7558", kMoscow},                         // any one separator
        {"+37.6173,+55.7558", kMoscow},
        {"0.5,60", {0x3C, 0, 0, 0, 0x00, 0x1E, 0x00, 0x00}},
        {"", {}},
        {"abc", {}},
        {"37.6173", {0, 0, 0, 0, 0x25, 0x25, 0x01, 0x7C}},
        {"37.6173,x", {0, 0, 0, 0, 0x25, 0x25, 0x01, 0x7C}},
    };
    for (const Case& c : cases) {
        const std::vector<RoutePoint> route = Parse(Kml(Placemark("P", c.coordinates)));
        ASSERT_EQ(route.size(), 1u) << c.coordinates;
        EXPECT_EQ(route[0].position, c.position) << "\"" << c.coordinates << "\"";
    }
}

TEST_F(RouteText, PositionOnlyFromDirectChildren) {
    const std::vector<RoutePoint> route =
        Parse(Kml("<Placemark><name>deep</name><MultiGeometry><Point><coordinates>1,2</coordinates>"
                  "</Point></MultiGeometry></Placemark>\n"
                  "<Placemark><name>second</name><Point><foo><coordinates>1,2</coordinates></foo>"
                  "</Point></Placemark>\n"
                  "<Placemark><name>first</name><Point><coordinates>1,2</coordinates></Point>"
                  "<Point><coordinates>3,4</coordinates></Point></Placemark>\n"));
    ASSERT_EQ(route.size(), 3u);
    EXPECT_EQ(route[0].position, PackedPosition{});
    EXPECT_EQ(route[1].position, PackedPosition{});
    EXPECT_EQ(route[2].position, (PackedPosition{2, 0, 0, 0, 1, 0, 0, 0}));
}

TEST_F(RouteText, NamesAreDecodedAndCondensed) {
    const std::vector<RoutePoint> route =
        Parse(Kml(Placemark("  Мос \n\t ква  ", "1,2") + Placemark("A&amp;B &#x41;", "1,2") +
                  "<Placemark><Point><coordinates>1,2</coordinates></Point></Placemark>\n"
                  "<Placemark><name><b>bold</b></name></Placemark>\n"
                  "<Placemark><name><![CDATA[<x>]]></name></Placemark>\n"));
    ASSERT_EQ(route.size(), 5u);
    EXPECT_EQ(route[0].name, "Мос ква");
    EXPECT_EQ(route[1].name, "A&B A");
    EXPECT_EQ(route[2].name, "");
    EXPECT_EQ(route[3].name, "");  // the first child is not text
    EXPECT_EQ(route[4].name, "<x>");
}

TEST_F(RouteText, CountsUpToTheLimit) {
    EXPECT_TRUE(Parse(Kml("")).empty());
    EXPECT_EQ(Parse(Placemarks(255)).size(), 255u);
    std::vector<RoutePoint> route = {RoutePoint{}};
    std::string error;
    EXPECT_FALSE(ParseRouteKml(Placemarks(256), route, &error));
    EXPECT_TRUE(route.empty());
    EXPECT_NE(error.find("256"), std::string::npos) << error;
    EXPECT_NE(error.find("255"), std::string::npos) << error;
}

TEST_F(RouteText, RefusedTexts) {
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += "<Folder>";
    for (int i = 0; i < 20000; ++i)
        deep += "</Folder>";
    const std::string refused[] = {
        "",
        "   \n",
        "<?xml version=\"1.0\"?>\n",                  // no element at all
        Kml("<Placemark><name>A</name>"),             // unclosed
        Kml("<Placemark><name>A</nam></Placemark>"),  // mismatched end tag
        "not xml at all",
        std::string("<kml>\0<Placemark/></kml>", 25),  // binary
        Kml(deep),
        Kml(Placemark("West", "-37.6,55.7")),  // no sign in the device's format
        Kml(Placemark("South", "37.6,-55.7")),
        Kml(Placemark("Far", "256,10")),
    };
    for (const std::string& text : refused) {
        std::vector<RoutePoint> route = {RoutePoint{}};
        std::string error;
        EXPECT_FALSE(ParseRouteKml(text, route, &error)) << text.substr(0, 80);
        EXPECT_TRUE(route.empty());
        EXPECT_FALSE(error.empty()) << text.substr(0, 80);
    }
}

TEST_F(RouteText, ReasonableNestingIsRead) {
    std::string body;
    for (int i = 0; i < 200; ++i)
        body += "<Folder a=\"x>y\"><!-- <Folder> --><![CDATA[<Folder>]]>";
    body += Placemark("In", "1,2");
    for (int i = 0; i < 200; ++i)
        body += "</Folder>";
    EXPECT_EQ(Parse(Kml(body)).size(), 1u);
}

TEST_F(RouteText, FindPlacemarksFromAnyNode) {
    TiXmlDocument doc;
    doc.Parse(Kml("<Folder>" + Placemark("A", "1,2") + "</Folder>" + Placemark("B", "3,4")).c_str(),
              nullptr, TIXML_ENCODING_UTF8);
    ASSERT_FALSE(doc.Error());
    std::vector<const TiXmlElement*> all;
    FindPlacemarks(&doc, all);
    ASSERT_EQ(all.size(), 2u);
    // Started on the Folder, only what lies inside it; the node itself is not looked at.
    std::vector<const TiXmlElement*> inFolder;
    FindPlacemarks(doc.RootElement()->FirstChildElement("Document")->FirstChildElement("Folder"),
                   inFolder);
    ASSERT_EQ(inFolder.size(), 1u);
    EXPECT_EQ(ReadRoutePoint(inFolder[0]).name, "A");
    std::vector<const TiXmlElement*> fromPlacemark;
    FindPlacemarks(all[1], fromPlacemark);
    EXPECT_TRUE(fromPlacemark.empty());
}

class RouteFile : public RouteText {
protected:
    void SetUp() override {
        RouteText::SetUp();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::path(PELNORA_BIN_DIR) / "test-output" / "route" / info->name();
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    fs::path m_dir;
};

TEST_F(RouteFile, LoadsWithByteOrderMarkAndCarriageReturns) {
    std::string text = "\xEF\xBB\xBF" + Kml(Placemark("Москва", "37.6173,\r\n55.7558") +
                                            "<Placemark><name>A\r\nB</name></Placemark>");
    std::vector<RoutePoint> route;
    std::string error;
    ASSERT_TRUE(LoadRouteFile(Write("маршрут.kml", text), route, &error)) << error;
    ASSERT_EQ(route.size(), 2u);
    EXPECT_EQ(route[0].name, "Москва");
    EXPECT_EQ(route[0].position, kMoscow);
    EXPECT_EQ(route[1].name, "A B");
}

TEST_F(RouteFile, UnreadableFilesAreRefused) {
    std::vector<RoutePoint> route = {RoutePoint{}};
    std::string error;
    const std::string missing = (m_dir / "нет.kml").string();
    EXPECT_FALSE(LoadRouteFile(missing, route, &error));
    EXPECT_TRUE(route.empty());
    EXPECT_NE(error.find(missing), std::string::npos) << error;

    error.clear();
    EXPECT_FALSE(LoadRouteFile(m_dir.string(), route, &error));
    EXPECT_FALSE(error.empty());

    error.clear();
    EXPECT_FALSE(LoadRouteFile(Write("bad.kml", "<kml><Document>"), route, &error));
    EXPECT_FALSE(error.empty());
}

class RouteUpload : public sim_test::SimLink {
protected:
    std::vector<Logged> SentChunks() { return Chunks(); }
    Bytes UploadAndReceive(const std::vector<RoutePoint>& route) {
        EXPECT_TRUE(m_link.UploadRoute(route));
        EXPECT_TRUE(m_sim.WaitForRoute(1, 3000));
        return m_sim.Received().routeBytes;
    }
};

TEST_F(RouteUpload, WorkedExample) {
    const std::vector<RoutePoint> route =
        Parse(Kml(Placemark("Москва", "37.6173,55.7558") + Placemark("A1", "0,0")));
    const Bytes received = UploadAndReceive(route);
    EXPECT_EQ(Chunks(), (std::vector<Logged>{Sent({0xAA}), Sent({0x18}),
                                             Sent({0x37, 0x2D, 0x0D, 0x98, 0x25, 0x25, 0x01, 0x7C}),
                                             Sent({0x4D, 0x6F, 0x63, 0xBA}), Sent(Bytes(8, 0)),
                                             Sent({0x41, 0x31, 0x00, 0x00})}));
    EXPECT_EQ(m_recorder.RefreshCount(), 1);
    EXPECT_EQ(received,
              (Bytes{0x18, 0x37, 0x2D, 0x0D, 0x98, 0x25, 0x25, 0x01, 0x7C, 0x4D, 0x6F, 0x63, 0xBA,
                     0,    0,    0,    0,    0,    0,    0,    0,    0x41, 0x31, 0x00, 0x00}));
}

TEST_F(RouteUpload, LengthByteWraps) {
    struct Case {
        int points;
        uint8_t length;
    };
    for (const Case c : {Case{0, 0x00}, Case{21, 0xFC}, Case{22, 0x08}, Case{255, 0xF4}}) {
        m_recorder.Log().Clear();
        m_sim.ClearReceived();
        const std::vector<RoutePoint> route = Parse(Placemarks(c.points));
        const Bytes received = UploadAndReceive(route);
        const std::vector<Logged> chunks = Chunks();
        ASSERT_EQ(chunks.size(), 2u + 2u * c.points) << c.points;
        EXPECT_EQ(chunks[1], Sent({c.length}));
        ASSERT_EQ(received.size(), 1u + 12u * c.points);
        EXPECT_EQ(received[0], c.length);
        if (c.points > 0) {
            const Name last = ToDeviceName("P" + std::to_string(c.points - 1));
            EXPECT_EQ(chunks.back(), Sent(Bytes(last.begin(), last.end()))) << c.points;
        }
    }
}

TEST_F(RouteUpload, MoreThan255PointsSendNothing) {
    const std::vector<RoutePoint> route(256);
    EXPECT_FALSE(m_link.UploadRoute(route));
    EXPECT_TRUE(Chunks().empty());
    EXPECT_EQ(m_recorder.RefreshCount(), 0);
    EXPECT_FALSE(m_sim.WaitForRoute(1, 300));
    EXPECT_TRUE(m_sim.Received().commands.empty());
}

}  // namespace
