// Row texts, memory fill, point values and the start-time order.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "link/DataFormats.h"
#include "tracks/TrackFixtures.h"
#include "tracks/TrackTable.h"

using track_test::Entry;
using track_test::Point;
using track_test::ScopedTimeZone;

namespace {

struct RowCase {
    TrackEntry entry;
    uint32_t row;
    std::array<std::string, 5> texts;
};

TEST(TrackTable, RowTexts) {
    const std::vector<RowCase> cases = {
        {Entry(5, 3, 13, 9, 7, 0, 0, 5, 100), 0, {"0", "05.03.13", "09:07:00", "00:08:20", "5"}},
        {Entry(31, 12, 99, 23, 59, 59, 0, 1, 3661),
         7,
         {"7", "31.12.99", "23:59:59", "01:01:01", "1"}},
        {Entry(1, 1, 14, 0, 0, 0, 0, 6, 60000),
         12,
         {"12", "01.01.14", "00:00:00", "100:00:00", "6"}},
        {Entry(1, 1, 14, 0, 0, 0, 0, 255, 65535),
         4294967295u,
         {"4294967295", "01.01.14", "00:00:00", "4642:03:45", "255"}},
        // Faulty tracks: no points or no interval; the other columns are still filled.
        {Entry(2, 4, 13, 8, 30, 5, 0, 0, 100),
         1,
         {"1", "02.04.13", "08:30:05", "неисправный трек", "0"}},
        {Entry(2, 4, 13, 8, 30, 5, 0, 10, 0),
         2,
         {"2", "02.04.13", "08:30:05", "неисправный трек", "10"}},
        // All zeros is an ordinary record, not the terminator.
        {Entry(0, 0, 0, 0, 0, 0, 0, 0, 0),
         3,
         {"3", "00.00.00", "00:00:00", "неисправный трек", "0"}},
        // Out-of-range bytes are shown as they are.
        {Entry(255, 255, 255, 255, 255, 255, 0, 1, 59),
         0,
         {"0", "255.255.255", "255:255:255", "00:00:59", "1"}},
    };
    for (const RowCase& c : cases) {
        EXPECT_EQ(TrackRowTexts(c.entry, c.row), c.texts) << "row " << c.row;
        EXPECT_EQ(TrackDurationText(c.entry), c.texts[3]);
    }
}

TEST(TrackTable, RecordFieldsAreBigEndian) {
    const TrackEntry e = Entry(1, 2, 3, 4, 5, 6, 0x0A0B0C, 7, 0x1234);
    EXPECT_EQ(e.StartPage(), 0x0A0B0Cu);
    EXPECT_EQ(e.PointCount(), 0x1234);
    EXPECT_EQ(e.Interval(), 7);
}

TEST(TrackTable, MemoryFill) {
    struct Case {
        uint32_t startPage;
        uint16_t points;
        uint32_t usedPages;
    };
    const Case cases[] = {
        {1000, 100, 1002}, {0, 0, 0},
        {0, 1, 1},         {0, 64, 1},
        {0, 65, 2},        {524159, 64, 524160},
        {10, 65535, 1034}, {0xFFFFFF, 0, 0xFFFFFF},
    };
    for (const Case& c : cases) {
        const double fill = MemoryFillPercent(Entry(1, 1, 13, 0, 0, 0, c.startPage, 1, c.points));
        EXPECT_DOUBLE_EQ(fill, c.usedPages / 524160.0 * 100.0) << c.startPage << "+" << c.points;
    }
    EXPECT_NEAR(MemoryFillPercent(Entry(1, 1, 13, 0, 0, 0, 1000, 1, 100)), 0.19116, 1e-5);
    EXPECT_EQ(MemoryFillPercent(Entry(1, 1, 13, 0, 0, 0, 524159, 1, 64)), 100.0);
}

TEST(TrackTable, PointValues) {
    const TrackPoint up =
        Point({0x37, 0x2D, 0x0D, 0xAC}, {0x25, 0x25, 0x01, 0x7C}, 300, 150, 0x77, 2, 5, 65535);
    EXPECT_NEAR(up.Latitude(), 55.755833333, 1e-9);
    EXPECT_NEAR(up.Longitude(), 37.6173, 1e-9);
    EXPECT_EQ(up.GroundSpeed(), 300);
    EXPECT_EQ(up.Altitude(), 150);
    EXPECT_DOUBLE_EQ(up.VerticalSpeed(), 2.5);
    EXPECT_EQ(up.AirSpeed(), 65535);

    // Any sign byte other than 'w' is downwards, also for a zero speed.
    const TrackPoint zeroDown = Point({0, 0, 0, 0}, {0, 0, 0, 0}, 0, 0, 0x76, 0, 0, 0);
    EXPECT_EQ(zeroDown.VerticalSpeed(), 0.0);
    EXPECT_TRUE(std::signbit(zeroDown.VerticalSpeed()));
    const TrackPoint down = Point({0, 0, 0, 0}, {0, 0, 0, 0}, 0, 0, 0x57, 255, 9, 0);
    EXPECT_DOUBLE_EQ(down.VerticalSpeed(), -255.9);
}

TEST(TrackTable, RecordsMatchTheirBytesOnTheLine) {
    // A table record and a point record written out by hand, every byte distinct where the
    // layout gives it a meaning, so a field at a wrong offset or in the wrong order shows.
    const TrackTableRecord::Bytes tableBytes = {0x1F, 0x0C, 0x18, 0x17, 0x3B, 0x3A,
                                                0x07, 0xFF, 0x80, 0x05, 0xFE, 0x01};
    const TrackTableRecord table = TrackTableRecord::FromBytes(tableBytes);
    EXPECT_EQ(table.day, 31);
    EXPECT_EQ(table.month, 12);
    EXPECT_EQ(table.year, 24);
    EXPECT_EQ(table.hour, 23);
    EXPECT_EQ(table.minute, 59);
    EXPECT_EQ(table.second, 58);
    EXPECT_EQ(table.startPage.Get(), 0x07FF80u);
    EXPECT_EQ(table.interval, 5);
    EXPECT_EQ(table.pointCount.Get(), 0xFE01);
    EXPECT_EQ(table.ToBytes(), tableBytes);
    EXPECT_EQ(Entry(31, 12, 24, 23, 59, 58, 0x07FF80, 5, 0xFE01).record, tableBytes);

    TrackPointRecord::Bytes pointBytes{};
    const uint8_t head[] = {0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C, 0xA1, 0xA2,
                            0xA3, 0x01, 0x2C, 0x04, 0xD2, 0x77, 0x03, 0x07, 0x00, 0xC8};
    std::copy(std::begin(head), std::end(head), pointBytes.begin());
    for (std::size_t i = 20; i < pointBytes.size(); ++i) {
        pointBytes[i] = static_cast<uint8_t>(0xB0 + i);  // kept as received
    }
    const TrackPointRecord point = TrackPointRecord::FromBytes(pointBytes);
    EXPECT_NEAR(point.Latitude(), 55.755833333, 1e-9);
    EXPECT_NEAR(point.Longitude(), 37.6173, 1e-9);
    EXPECT_EQ(point.groundSpeed.Get(), 300);
    EXPECT_EQ(point.altitude.Get(), 1234);
    EXPECT_EQ(point.verticalSign, 0x77);
    EXPECT_DOUBLE_EQ(point.VerticalSpeed(), 3.7);
    EXPECT_EQ(point.airSpeed.Get(), 200);
    EXPECT_EQ(point.ToBytes(), pointBytes);
    TrackPoint stored;
    stored.bytes = pointBytes;
    EXPECT_EQ(stored.Altitude(), 1234);
    EXPECT_EQ(stored.AirSpeed(), 200);

    // Setting a field writes its bytes only.
    TrackPointRecord changed = point;
    changed.altitude.Set(0xBEEF);
    TrackPointRecord::Bytes expected = pointBytes;
    expected[13] = 0xBE;
    expected[14] = 0xEF;
    EXPECT_EQ(changed.ToBytes(), expected);
}

TEST(TrackTable, StartTimeIsLocalWithDaylightSavingUnknown) {
    {
        ScopedTimeZone zone("Europe/Berlin");
        // Summer time: 12:00 local is 10:00 UTC; winter: 11:00 UTC.
        EXPECT_EQ(TrackStartTime(Entry(1, 7, 13, 12, 0, 0)), 1372672800);
        EXPECT_EQ(TrackStartTime(Entry(1, 1, 13, 12, 0, 0)), 1357038000);
    }
    ScopedTimeZone zone("Europe/Moscow");
    EXPECT_EQ(TrackStartTime(Entry(5, 3, 13, 9, 7, 0)), 1362460020);  // UTC+4 in 2013
    // Years beyond 2038 need the 64-bit time.
    EXPECT_GT(TrackStartTime(Entry(1, 1, 255, 0, 0, 0)),
              int64_t{std::numeric_limits<int32_t>::max()});
    // Out-of-range fields are normalised: month 0 is December before, day 0 the last day before.
    EXPECT_EQ(TrackStartTime(Entry(1, 0, 13, 0, 0, 0)), TrackStartTime(Entry(1, 12, 12, 0, 0, 0)));
    EXPECT_EQ(TrackStartTime(Entry(0, 3, 13, 0, 0, 0)), TrackStartTime(Entry(28, 2, 13, 0, 0, 0)));
}

TEST(TrackTable, SortByStartTime) {
    ScopedTimeZone zone("Europe/Moscow");
    std::vector<TrackEntry> tracks = {Entry(1, 2, 13, 10, 0, 0), Entry(31, 1, 13, 23, 0, 0),
                                      Entry(1, 2, 13, 8, 0, 0), Entry(1, 2, 14, 0, 0, 0),
                                      Entry(0, 2, 13, 23, 30, 0)};
    std::sort(tracks.begin(), tracks.end(), TrackStartsBefore);
    std::vector<std::array<uint8_t, 6>> order;
    for (const TrackEntry& t : tracks) {
        order.push_back({t.Day(), t.Month(), t.Year(), t.Hour(), t.Minute(), t.Second()});
    }
    const std::vector<std::array<uint8_t, 6>> expected = {{31, 1, 13, 23, 0, 0},
                                                          {0, 2, 13, 23, 30, 0},
                                                          {1, 2, 13, 8, 0, 0},
                                                          {1, 2, 13, 10, 0, 0},
                                                          {1, 2, 14, 0, 0, 0}};
    EXPECT_EQ(order, expected);
    // Equal times: neither comes first.
    EXPECT_FALSE(TrackStartsBefore(Entry(0, 3, 13, 0, 0, 0), Entry(28, 2, 13, 0, 0, 0)));
    EXPECT_FALSE(TrackStartsBefore(Entry(28, 2, 13, 0, 0, 0), Entry(0, 3, 13, 0, 0, 0)));
}

}  // namespace
