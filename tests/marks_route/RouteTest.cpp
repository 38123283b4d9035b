// Route: reading KML and GPX, device names, refusals, questions and the upload against
// the simulator.

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

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

std::string Gpx(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<gpx version=\"1.1\" creator=\"test\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n" +
           body + "</gpx>\n";
}

std::string GpxPoint(const std::string& tag, const std::string& name, const std::string& lat,
                     const std::string& lon) {
    return "<" + tag + " lat=\"" + lat + "\" lon=\"" + lon + "\"><name>" + name + "</name></" +
           tag + ">\n";
}

RouteReading Read(const std::string& text) {
    RouteReading reading = ReadRouteText(text);
    EXPECT_FALSE(reading.Refused()) << reading.refusal;
    return reading;
}

std::vector<RoutePoint> Parse(const std::string& text) {
    return Read(text).points;
}

std::vector<std::string> Names(const std::vector<RoutePoint>& points) {
    std::vector<std::string> names;
    for (const RoutePoint& p : points) {
        names.push_back(p.name);
    }
    return names;
}

std::vector<std::size_t> Numbers(const std::vector<RouteEntry>& entries) {
    std::vector<std::size_t> numbers;
    for (const RouteEntry& e : entries) {
        numbers.push_back(e.number);
    }
    return numbers;
}

// A refusal hands back nothing but its text.
void ExpectRefused(const RouteReading& reading, const std::string& why, const std::string& what) {
    EXPECT_EQ(reading.refusal, why) << what;
    EXPECT_TRUE(reading.points.empty()) << what;
    EXPECT_TRUE(reading.withoutPosition.empty()) << what;
    EXPECT_TRUE(reading.Question().empty()) << what;
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
    const RouteReading reading = Read(text);
    EXPECT_EQ(Names(reading.points), (std::vector<std::string>{"A", "B", "E"}));
    ASSERT_EQ(reading.points.size(), 3u);
    EXPECT_EQ(reading.points[0].position, (PackedPosition{2, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(reading.points[1].position, (PackedPosition{4, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(reading.points[2].position, (PackedPosition{10, 0, 0, 0, 9, 0, 0, 0}));
    // No Point, or a line instead: named, never sent as 0°N 0°E.
    EXPECT_EQ(Numbers(reading.withoutPosition), (std::vector<std::size_t>{3, 4}));
    EXPECT_EQ(reading.withoutPosition[1].name, "D");
    EXPECT_EQ(reading.Question(),
              "В файле нет координат у точек 3 «C», 4 «D»; они не будут переданы. "
              "Передать маршрут из 3 точек?");
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
        {"3.76173e1,5.57558E+1", kMoscow},
        {"0.5,60", {0x3C, 0, 0, 0, 0x00, 0x1E, 0x00, 0x00}},
        {"-0,0", {}},
        {"180,90", PackPosition(90, 180)},
    };
    for (const Case& c : cases) {
        const std::vector<RoutePoint> route = Parse(Kml(Placemark("P", c.coordinates)));
        ASSERT_EQ(route.size(), 1u) << c.coordinates;
        EXPECT_EQ(route[0].position, c.position) << "\"" << c.coordinates << "\"";
    }
}

// A position that is no finite decimal number or lies off the device's range refuses the
// whole file, naming the point; nothing is read as 0.
TEST_F(RouteText, BadCoordinatesRefuseTheFile) {
    struct Case {
        const char* coordinates;
        const char* problem;
    };
    const Case cases[] = {
        {"nan,55", "долгота «nan» не является десятичным числом"},
        {"37,inf", "широта «inf» не является десятичным числом"},
        {"1e400,55", "долгота «1e400» не является десятичным числом"},
        {"37,-1e400", "широта «-1e400» не является десятичным числом"},
        {"0x25,55", "долгота «0x25» не является десятичным числом"},
        {"37,0x25", "широта «0x25» не является десятичным числом"},
        {"", "не указана долгота"},
        {"  \n ", "не указана долгота"},
        {",55", "не указана долгота"},
        {"37.6173", "не указана широта"},
        {"37.6173,", "не указана широта"},
        {"abc,55", "долгота «abc» не является десятичным числом"},
        {"37.6173,x", "широта «x» не является десятичным числом"},
        {"37.6,55.7abc", "широта «55.7abc» не является десятичным числом"},
        {"1.2.3,4", "долгота «1.2.3» не является десятичным числом"},
        {"37.6 55.7", "долгота и широта не разделены запятой"},
        {"37,95", "широта 95 больше 90 градусов"},
        {"37,90.0001", "широта 90.0001 больше 90 градусов"},
        {"200,55", "долгота 200 больше 180 градусов"},
        {"256,10", "долгота 256 больше 180 градусов"},
    };
    for (const Case& c : cases) {
        const RouteReading reading =
            ReadRouteText(Kml(Placemark("Good", "37,55") + Placemark("Bad", c.coordinates)));
        ExpectRefused(reading, std::string("Точка 2 «Bad»: ") + c.problem + ".", c.coordinates);
    }
    const RouteReading west = ReadRouteText(Kml(Placemark("West", "-37.6,55.7")));
    ExpectRefused(west,
                  "Точка 1 «West» (долгота -37.6, широта 55.7) не может быть передана: прибор "
                  "хранит только северную широту и восточную долготу.",
                  "west");
    // An empty coordinates element is a bad position, not a missing one; a nameless point
    // is named by its number.
    EXPECT_EQ(ReadRouteText(Kml("<Placemark><Point><coordinates/></Point></Placemark>")).refusal,
              "Точка 1: не указана долгота.");
    EXPECT_EQ(ReadRouteText(Kml(Placemark(std::string(60, 'x'), "nan,1"))).refusal,
              "Точка 1 «" + std::string(40, 'x') +
                  "…»: долгота «nan» не является десятичным "
                  "числом.");
}

TEST_F(RouteText, PositionOnlyFromDirectChildren) {
    const RouteReading reading =
        Read(Kml("<Placemark><name>deep</name><MultiGeometry><Point><coordinates>1,2</coordinates>"
                 "</Point></MultiGeometry></Placemark>\n"
                 "<Placemark><name>second</name><Point><foo><coordinates>1,2</coordinates></foo>"
                 "</Point></Placemark>\n"
                 "<Placemark><name>first</name><Point><coordinates>1,2</coordinates></Point>"
                 "<Point><coordinates>3,4</coordinates></Point></Placemark>\n"));
    ASSERT_EQ(reading.points.size(), 1u);
    EXPECT_EQ(reading.points[0].position, (PackedPosition{2, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(Numbers(reading.withoutPosition), (std::vector<std::size_t>{1, 2}));
}

TEST_F(RouteText, NamesAreDecodedAndCondensed) {
    const std::string point = "<Point><coordinates>1,2</coordinates></Point>";
    const std::vector<RoutePoint> route = Parse(
        Kml(Placemark("  Мос \n\t ква  ", "1,2") + Placemark("A&amp;B &#x41;", "1,2") +
            "<Placemark>" + point + "</Placemark>\n<Placemark><name><b>bold</b></name>" + point +
            "</Placemark>\n<Placemark><name><![CDATA[<x>]]></name>" + point + "</Placemark>\n"));
    EXPECT_EQ(Names(route), (std::vector<std::string>{"Мос ква", "A&B A", "", "", "<x>"}));
}

// Nothing to send, or entries left out: the reading says so and asks; the texts are fixed.
TEST_F(RouteText, EmptyRoutesAndLeftOutEntriesAsk) {
    struct Case {
        std::string text;
        std::size_t points;
        const char* question;
    };
    std::string lines;
    for (int i = 0; i < 12; ++i) {
        lines += "<Placemark><name>L" + std::to_string(i) +
                 "</name><LineString><coordinates>1,2 3,4</coordinates></LineString></Placemark>";
    }
    const Case cases[] = {
        {Kml(""), 0, "В файле нет точек маршрута. Стереть маршрут в приборе?"},
        {"<kml/>", 0, "В файле нет точек маршрута. Стереть маршрут в приборе?"},
        {Gpx(""), 0, "В файле нет точек маршрута. Стереть маршрут в приборе?"},
        {Kml("<Placemark><name>Путь</name><LineString><coordinates>1,2 3,4</coordinates>"
             "</LineString></Placemark><Placemark/>"),
         0,
         "В файле нет точек маршрута: нет координат у точек 1 «Путь», 2. Стереть маршрут в "
         "приборе?"},
        {Kml(Placemark("A", "1,2") + lines), 1,
         "В файле нет координат у точек 2 «L0», 3 «L1», 4 «L2», 5 «L3», 6 «L4», 7 «L5», 8 «L6», "
         "9 «L7», 10 «L8», 11 «L9» и ещё 2; они не будут переданы. Передать маршрут из 1 "
         "точки?"},
        {Gpx(GpxPoint("wpt", "A", "55", "37") + "<wpt><name>Без места</name></wpt>" +
             GpxPoint("wpt", "B", "55", "37")),
         2,
         "В файле нет координат у точек 2 «Без места»; они не будут переданы. Передать маршрут "
         "из 2 точек?"},
    };
    for (const Case& c : cases) {
        const RouteReading reading = Read(c.text);
        EXPECT_TRUE(reading.NeedsConfirmation()) << c.text;
        EXPECT_EQ(reading.points.size(), c.points) << c.text;
        EXPECT_EQ(reading.Question(), c.question) << c.text;
        EXPECT_EQ(reading.Question().rfind(reading.Concern(), 0), 0u);
    }
    const RouteReading plain = Read(Kml(Placemark("A", "1,2")));
    EXPECT_FALSE(plain.NeedsConfirmation());
    EXPECT_TRUE(plain.Concern().empty());
    EXPECT_TRUE(plain.Question().empty());
}

TEST_F(RouteText, SameDeviceNamesAreNamed) {
    const RouteReading reading =
        Read(Kml(Placemark("Москва", "1,2") + Placemark("Тверь", "1,2") +
                 "<Placemark><name>Трасса</name><LineString/></Placemark>" +
                 Placemark("Москворецкая", "1,2") + Placemark("Ab№c", "1,2") +
                 Placemark("Ab", "1,2") + Placemark("Москвич", "1,2")));
    ASSERT_EQ(reading.sameDeviceName.size(), 3u);
    EXPECT_EQ(reading.sameDeviceName[0].first.number, 1u);
    EXPECT_EQ(reading.sameDeviceName[0].second.number, 4u);  // numbered in the file
    EXPECT_EQ(reading.Warning(),
              "В приборе будут одинаковые имена у точек 1 «Москва» и 4 «Москворецкая»; 5 «Ab№c» "
              "и 6 «Ab»; 1 «Москва» и 7 «Москвич».");
    EXPECT_TRUE(
        Read(Kml(Placemark("Москва", "1,2") + Placemark("Тверь", "1,2"))).Warning().empty());
}

TEST_F(RouteText, GpxRoutesAndWaypoints) {
    // The first rte's rtept, in order; waypoints and later routes are not the route.
    RouteReading reading = Read(Gpx(GpxPoint("wpt", "W", "1", "1") + "<rte><name>r</name>" +
                                    GpxPoint("rtept", "Москва", "55.7558", "37.6173") +
                                    GpxPoint("rtept", "B", " 2 ", "1") + "</rte><rte>" +
                                    GpxPoint("rtept", "C", "3", "3") + "</rte>"));
    EXPECT_EQ(Names(reading.points), (std::vector<std::string>{"Москва", "B"}));
    ASSERT_EQ(reading.points.size(), 2u);
    EXPECT_EQ(reading.points[0].position, kMoscow);
    EXPECT_EQ(reading.points[1].position, (PackedPosition{2, 0, 0, 0, 1, 0, 0, 0}));
    // No route (or an empty one): every waypoint, wherever Placemarks are.
    reading = Read(Gpx("<rte/>" + GpxPoint("wpt", "A", "1", "2") +
                       "<extensions><Placemark><Point><coordinates>5,5</coordinates></Point>"
                       "</Placemark></extensions>" +
                       GpxPoint("wpt", "B", "3", "4")));
    EXPECT_EQ(Names(reading.points), (std::vector<std::string>{"A", "B"}));
    // A KML document holds no GPX points, whatever the words in it.
    reading = Read(Kml("<gpx>" + GpxPoint("wpt", "A", "1", "2") + "</gpx>"));
    EXPECT_TRUE(reading.points.empty());

    struct Refusal {
        std::string lat;
        std::string lon;
        const char* problem;
    };
    const Refusal refusals[] = {
        {"nan", "37", "широта «nan» не является десятичным числом"},
        {"55", "", "не указана долгота"},
        {"55", "0x25", "долгота «0x25» не является десятичным числом"},
        {"95", "37", "широта 95 больше 90 градусов"},
        {"55", "200", "долгота 200 больше 180 градусов"},
        {"55 56", "37", "широта «55 56» не является десятичным числом"},
    };
    for (const Refusal& r : refusals) {
        ExpectRefused(ReadRouteText(Gpx("<rte>" + GpxPoint("rtept", "Ok", "1", "1") +
                                        GpxPoint("rtept", "X", r.lat, r.lon) + "</rte>")),
                      std::string("Точка 2 «X»: ") + r.problem + ".", r.lat + "/" + r.lon);
    }
    ExpectRefused(ReadRouteText(Gpx(GpxPoint("wpt", "S", "-55", "37"))),
                  "Точка 1 «S» (долгота 37, широта -55) не может быть передана: прибор хранит "
                  "только северную широту и восточную долготу.",
                  "south");
    std::string many;
    for (int i = 0; i < 256; ++i) {
        many += GpxPoint("wpt", "P", "1", "1");
    }
    EXPECT_EQ(ReadRouteText(Gpx(many)).refusal,
              "Маршрут содержит 256 точек, а прибор принимает не более 255 точек.");
}

TEST_F(RouteText, CountsUpToTheLimit) {
    EXPECT_EQ(Parse(Placemarks(255)).size(), 255u);
    ExpectRefused(ReadRouteText(Placemarks(256)),
                  "Маршрут содержит 256 точек, а прибор принимает не более 255 точек.", "256");
}

// Parser errors in Russian, at the line where they are; a cut-off file where it ends.
TEST_F(RouteText, ParserErrorsNameTheLine) {
    struct Case {
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"<kml>\n<Document>\n<Placemark>\n<name>A</name>\n\n\n",
         "Файл маршрута обрывается на строке 4: не закрыт элемент <Placemark> из строки 3."},
        {"<kml>\r\n<Document>\r\n<Placemark>\r\n<name>A</na",
         "Файл маршрута обрывается на строке 4: не закончен закрывающий тег из строки 4."},
        {"<kml>\n<Document>\n<Placemark a=\"1\n\n",
         "Файл маршрута обрывается на строке 3: не закончен тег <Placemark из строки 3."},
        {"<kml>\n<!-- a\nb\n",
         "Файл маршрута обрывается на строке 3: не закончен комментарий из строки 2."},
        {"<kml>\n<name><![CDATA[x\n",
         "Файл маршрута обрывается на строке 2: не закончен раздел CDATA из строки 2."},
        {"<kml>\n<Document>\n<Placemark>\n<name>A</nam>\n</Placemark></Document></kml>\n",
         "Файл маршрута не является правильным XML-документом (строка 4, столбец 8: "
         "закрывающий тег не совпадает с открытым элементом)."},
        {"<kml>\n\t<a b=1 b=2/></kml>",
         "Файл маршрута не является правильным XML-документом (строка 2, столбец 9: "
         "неправильный элемент)."},
        {"<kml>\n<a b=x\"y\"/></kml>",
         "Файл маршрута не является правильным XML-документом (строка 2, столбец 7: "
         "неправильные атрибуты элемента)."},
    };
    for (const Case& c : cases) {
        ExpectRefused(ReadRouteText(c.text), c.message, c.text);
    }
}

TEST_F(RouteText, RefusedTexts) {
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += "<Folder>";
    for (int i = 0; i < 20000; ++i)
        deep += "</Folder>";
    std::string deepOdd;  // bytes from 0x7F up start an element for the parser
    for (int i = 0; i < 20000; ++i)
        deepOdd += "<\x7F>";
    const std::string refused[] = {
        "",
        "   \n",
        "<?xml version=\"1.0\"?>\n",                  // no element at all
        Kml("<Placemark><name>A</name>"),             // unclosed
        Kml("<Placemark><name>A</nam></Placemark>"),  // mismatched end tag
        "not xml at all",
        std::string("<kml>\0<Placemark/></kml>", 25),  // binary
        Kml(deep),
        "<kml>" + deepOdd,
    };
    for (const std::string& text : refused) {
        const RouteReading reading = ReadRouteText(text);
        EXPECT_TRUE(reading.Refused()) << text.substr(0, 80);
        EXPECT_TRUE(reading.points.empty());
    }
}

// Markup that would cost the parser seconds or hundreds of megabytes is refused before it
// is built.
TEST_F(RouteText, MarkupIsBounded) {
    std::string attributes = "<kml><Document a0=\"\"";
    for (int i = 1; i < 100000; ++i) {
        attributes += " a" + std::to_string(i) + "=\"\"";
    }
    attributes += "/></kml>";
    EXPECT_EQ(ReadRouteText(attributes).refusal,
              "Файл маршрута содержит слишком много атрибутов XML (строка 1, элемент "
              "<Document>).");
    std::string elements = "<kml>";
    for (int i = 0; i < 100000; ++i) {
        elements += i % 2 == 0 ? "<a/>" : "<!---->";
    }
    EXPECT_EQ(ReadRouteText(elements + "</kml>").refusal,
              "Файл маршрута содержит слишком много разметки XML (больше 100000 элементов).");
    EXPECT_EQ(ReadRouteText(std::string((8u << 20) + 1, ' ')).refusal,
              "Файл маршрута слишком велик (больше 8 МБ).");
    // What a generous file of 255 points holds is read.
    std::string rich = "<kml xmlns=\"k\" xmlns:gx=\"g\"><Document>";
    for (int i = 0; i < 255; ++i) {
        rich += "<Placemark id=\"p" + std::to_string(i) +
                "\"><name>P</name><description><![CDATA[<b>x</b>]]></description>"
                "<styleUrl>#s</styleUrl><ExtendedData>";
        for (int k = 0; k < 100; ++k) {
            rich += "<Data name=\"d\" a=\"1\" b=\"2\"><value>v</value></Data>";
        }
        rich += "</ExtendedData><Point><coordinates>37,55,0</coordinates></Point></Placemark>";
    }
    EXPECT_EQ(Parse(rich + "</Document></kml>").size(), 255u);
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
    EXPECT_EQ(ReadPlacemarkPosition(all[1]), (PackedPosition{4, 0, 0, 0, 3, 0, 0, 0}));
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
    std::string text = "\xEF\xBB\xBF" +
                       Kml(Placemark("Москва", "37.6173,\r\n55.7558") + Placemark("A\r\nB", "1,2"));
    const RouteReading reading = ReadRouteFile(Write("маршрут.kml", text));
    ASSERT_FALSE(reading.Refused()) << reading.refusal;
    ASSERT_EQ(reading.points.size(), 2u);
    EXPECT_EQ(reading.points[0].name, "Москва");
    EXPECT_EQ(reading.points[0].position, kMoscow);
    EXPECT_EQ(reading.points[1].name, "A B");
}

// The kind is told by the root element: GPX in a .kml file, KML in a .gpx file.
TEST_F(RouteFile, KindFromTheRootNotTheName) {
    const RouteReading gpx =
        ReadRouteFile(Write("route.kml", Gpx(GpxPoint("wpt", "G", "55.7558", "37.6173"))));
    ASSERT_EQ(gpx.points.size(), 1u) << gpx.refusal;
    EXPECT_EQ(gpx.points[0].position, kMoscow);
    const RouteReading kml = ReadRouteFile(Write("route.gpx", Kml(Placemark("K", "1,2"))));
    EXPECT_EQ(Names(kml.points), (std::vector<std::string>{"K"}));
}

// The example files are one route in both kinds, sent without a question or a warning.
TEST_F(RouteFile, ExamplesGiveTheSameRoute) {
    const std::string examples = std::string(PELNORA_TEST_DATA) + "/../../examples/";
    const RouteReading kml = ReadRouteFile(examples + "moscow-route.kml");
    const RouteReading gpx = ReadRouteFile(examples + "moscow-route.gpx");
    ASSERT_EQ(kml.points.size(), 12u) << kml.refusal;
    ASSERT_EQ(gpx.points.size(), 12u) << gpx.refusal;
    for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(kml.points[i].name, gpx.points[i].name);
        EXPECT_EQ(kml.points[i].position, gpx.points[i].position) << i;
    }
    for (const RouteReading* r : {&kml, &gpx}) {
        EXPECT_FALSE(r->NeedsConfirmation());
        EXPECT_EQ(r->Warning(), "");
    }
}

TEST_F(RouteFile, UnreadableFilesAreRefused) {
    const std::string missing = (m_dir / "нет.kml").string();
    ExpectRefused(
        ReadRouteFile(missing),
        "Не удалось прочитать файл маршрута \"" + missing + "\": No such file or directory.",
        "missing");
    // Not regular files: refused at once, never opened (a FIFO would wait for a writer).
    const std::string fifo = (m_dir / "fifo.kml").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* kind;
    } special[] = {
        {m_dir.string(), "это папка"}, {fifo, "это канал"}, {"/dev/null", "это устройство"}};
    for (const auto& s : special) {
        ExpectRefused(ReadRouteFile(s.path),
                      "Не удалось прочитать файл маршрута \"" + s.path + "\": " + s.kind + ".",
                      s.path);
    }
    EXPECT_TRUE(ReadRouteFile(Write("bad.kml", "<kml><Document>")).Refused());
    // Callers that cannot ask refuse what would need a question.
    std::vector<RoutePoint> route = {RoutePoint{}};
    std::string error;
    EXPECT_FALSE(LoadRouteFile(Write("empty.kml", Kml("")), route, &error));
    EXPECT_TRUE(route.empty());
    EXPECT_EQ(error, "В файле нет точек маршрута.");
    EXPECT_TRUE(LoadRouteFile(Write("one.kml", Kml(Placemark("A", "1,2"))), route, &error));
    EXPECT_EQ(route.size(), 1u);
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
