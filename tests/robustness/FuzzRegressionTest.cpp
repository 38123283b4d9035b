// Inputs the fuzzers once broke the route reader with; each must now give an answer.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/DataFormats.h"
#include "marks_route/Route.h"

namespace {

TEST(FuzzRegression, RouteReaderSurvivesEverySavedInput) {
    BuildDeviceCharTable();
    const std::filesystem::path dir = PELNORA_FUZZ_REGRESSIONS;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        SCOPED_TRACE(entry.path().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        const RouteReading reading = ReadRouteText(text);
        if (reading.Refused()) {
            EXPECT_TRUE(reading.points.empty());
        }
        // The same text cut short at every length near its end.
        for (std::size_t cut = 1; cut <= 8 && cut < text.size(); ++cut) {
            ReadRouteText(text.substr(0, text.size() - cut));
        }
        ++files;
    }
    EXPECT_GT(files, 0u);
}

// A multi-byte sequence cut off by the end of the text, in every place the parser reads.
TEST(FuzzRegression, CutUtf8SequenceAtTheEnd) {
    BuildDeviceCharTable();
    const std::vector<std::string> texts = {
        "<kml><Placemark><name>\xD0",
        "<kml><Data name=\"<D\xD0\x92\xD1",
        "<kml \xF0",
        "<kml><\xE2\x82",
        "<kml a='\xF0\x9F'",
        "<!-- \xD1",
    };
    for (const std::string& text : texts) {
        EXPECT_TRUE(ReadRouteText(text).Refused()) << text;
    }
}

// The early count of Placemark tags agrees with the parser: markup that is not an element
// does not count, self-closed and attributed ones do.
TEST(FuzzRegression, PointLimitCountsOnlyPlacemarkElements) {
    BuildDeviceCharTable();
    const auto document = [](int points, const std::string& extra) {
        std::string text = "<kml><Document><!-- <Placemark> <Placemark/> -->" + extra;
        text += "<![CDATA[<Placemark></Placemark>]]><PlacemarkX/><Placemarks/>";
        for (int i = 0; i < points; ++i) {
            text +=
                i % 3 == 0 ? "<Placemark/>" : (i % 3 == 1 ? "<Placemark id='p'>" : "<Placemark>");
            if (i % 3 != 0) {
                text += "<name>P</name></Placemark>";
            }
        }
        return text + "</Document></kml>";
    };
    const RouteReading all = ReadRouteText(document(255, ""));
    EXPECT_FALSE(all.Refused()) << all.refusal;
    EXPECT_EQ(all.withoutPosition.size(), 255u);
    const RouteReading over = ReadRouteText(document(256, ""));
    EXPECT_NE(over.refusal.find(" 256 "), std::string::npos) << over.refusal;
    // Too many points in a broken document: the count is what is reported.
    const RouteReading broken = ReadRouteText(document(300, "<broken>"));
    EXPECT_NE(broken.refusal.find(" 300 "), std::string::npos) << broken.refusal;
    EXPECT_TRUE(broken.points.empty());
}

}  // namespace
