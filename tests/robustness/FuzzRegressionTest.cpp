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
        std::vector<RoutePoint> route;
        std::string error;
        if (!ParseRouteKml(text, route, &error)) {
            EXPECT_FALSE(error.empty());
            EXPECT_TRUE(route.empty());
        }
        // The same text cut short at every length near its end.
        for (std::size_t cut = 1; cut <= 8 && cut < text.size(); ++cut) {
            ParseRouteKml(text.substr(0, text.size() - cut), route, &error);
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
        std::vector<RoutePoint> route;
        std::string error;
        EXPECT_FALSE(ParseRouteKml(text, route, &error)) << text;
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
