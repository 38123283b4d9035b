// The file name offered for downloaded tracks, from their flight dates.

#include <gtest/gtest.h>

#include "tracks/TrackFileName.h"
#include "tracks/TrackFixtures.h"

namespace {

using track_test::Entry;

TEST(TrackFileName, FirstAndLastDayOfTheChosenRows) {
    const std::vector<TrackEntry> table = {
        Entry(17, 6, 24, 9, 0, 0), Entry(14, 6, 24, 12, 0, 0), Entry(14, 6, 24, 8, 0, 0),
        Entry(1, 1, 25, 0, 0, 0),  Entry(0, 6, 24, 0, 0, 0),   Entry(31, 4, 24, 0, 0, 0),
        Entry(29, 2, 23, 0, 0, 0), Entry(29, 2, 24, 0, 0, 0),  Entry(5, 13, 24, 0, 0, 0),
    };
    struct Case {
        std::vector<uint32_t> rows;
        const char* name;
    };
    const Case cases[] = {
        {{1}, "2024-06-14.kml"},
        {{1, 2}, "2024-06-14.kml"},                // one day, two flights
        {{0, 1, 2}, "2024-06-14_2024-06-17.kml"},  // earliest to latest, not row order
        {{3, 0}, "2024-06-17_2025-01-01.kml"},
        {{7}, "2024-02-29.kml"},         // a leap day
        {{4, 5, 6, 8}, ""},              // no calendar date among them
        {{4, 1, 99}, "2024-06-14.kml"},  // bad dates and rows are left out
        {{}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TrackFileName(table, c.rows), c.name) << ::testing::PrintToString(c.rows);
    }
}

}  // namespace
