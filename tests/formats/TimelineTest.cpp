// Point times of a track: the UTC offset rule, the interval, faulty tracks; offset texts.

#include <gtest/gtest.h>

#include <string>

#include "tracks/TrackFixtures.h"
#include "tracks/TrackTimeline.h"

using track_test::Entry;
using track_test::Point;
using track_test::ScopedTimeZone;

namespace {

std::string Iso(int64_t utc) {
    std::string out;
    AppendIsoUtc(out, utc);
    return out;
}

TrackEntry WithPoints(TrackEntry entry, std::size_t count) {
    entry.points.assign(count, Point({55, 45, 0x0D, 0xAC}, {37, 37, 0, 0}, 1, 2, 0x77, 0, 0, 3));
    return entry;
}

TEST(TrackTimeline, GivenOffsetIsTakenFromTheDeviceClock) {
    struct Case {
        TrackEntry entry;
        int hours, minutes;
        const char* start;
    };
    const Case cases[] = {
        {Entry(14, 6, 24, 9, 0, 0, 0, 5, 3), 3, 0, "2024-06-14T06:00:00Z"},
        {Entry(14, 6, 24, 9, 0, 0, 0, 5, 3), 5, 45, "2024-06-14T03:15:00Z"},
        {Entry(14, 6, 24, 9, 0, 0, 0, 5, 3), 0, 0, "2024-06-14T09:00:00Z"},
        // 01:00 device time with offset 3 is the previous UTC day, also across a year.
        {Entry(15, 6, 24, 1, 0, 0, 0, 5, 3), 3, 0, "2024-06-14T22:00:00Z"},
        {Entry(1, 1, 25, 1, 0, 0, 0, 5, 3), 3, 0, "2024-12-31T22:00:00Z"},
        {Entry(1, 3, 24, 0, 30, 0, 0, 5, 3), 5, 45, "2024-02-29T18:45:00Z"},  // leap day
        {Entry(1, 13, 24, 12, 0, 0, 0, 5, 3), 0, 0, "2025-01-01T12:00:00Z"},  // month 13
    };
    ScopedTimeZone zone("America/New_York");  // the computer's zone plays no part
    for (const Case& c : cases) {
        const TrackEntry entry = WithPoints(c.entry, 3);
        const TrackTimeline timeline(entry, *ClockOffset::Device(c.hours, c.minutes));
        ASSERT_TRUE(timeline.Timed());
        EXPECT_EQ(Iso(timeline.StartUtc()), c.start) << c.hours << ":" << c.minutes;
        EXPECT_EQ(timeline.OffsetSeconds(), c.hours * 3600 + c.minutes * 60);
        EXPECT_EQ(timeline.At(2).utc - timeline.At(0).utc, 10);  // 2 × interval 5
    }
}

TEST(TrackTimeline, WithoutOffsetTheComputerZoneAtTheStartHolds) {
    struct Case {
        const char* zone;
        TrackEntry entry;
        const char* start;
        int offset;
    };
    const Case cases[] = {
        {"Europe/Moscow", Entry(14, 6, 24, 9, 0, 0, 0, 5, 3), "2024-06-14T06:00:00Z", 10800},
        {"Asia/Kathmandu", Entry(14, 6, 24, 9, 0, 0, 0, 5, 3), "2024-06-14T03:15:00Z", 20700},
        {"UTC", Entry(14, 6, 24, 9, 0, 0, 0, 5, 3), "2024-06-14T09:00:00Z", 0},
        // Daylight saving as it was on the day of the flight.
        {"Europe/Berlin", Entry(14, 6, 24, 9, 0, 0, 0, 5, 3), "2024-06-14T07:00:00Z", 7200},
        {"Europe/Berlin", Entry(14, 1, 24, 9, 0, 0, 0, 5, 3), "2024-01-14T08:00:00Z", 3600},
        {"America/New_York", Entry(14, 1, 24, 21, 0, 0, 0, 5, 3), "2024-01-15T02:00:00Z", -18000},
    };
    for (const Case& c : cases) {
        ScopedTimeZone zone(c.zone);
        const TrackEntry entry = WithPoints(c.entry, 3);
        const TrackTimeline timeline(entry, ClockOffset::Computer());
        EXPECT_EQ(Iso(timeline.StartUtc()), c.start) << c.zone;
        EXPECT_EQ(timeline.OffsetSeconds(), c.offset) << c.zone;
    }
}

TEST(TrackTimeline, FaultyTracksHaveNoTimes) {
    const auto offset = *ClockOffset::Device(3, 0);
    const TrackEntry zeroInterval = WithPoints(Entry(14, 6, 24, 9, 0, 0, 0, 0, 2), 2);
    const TrackEntry noPoints = Entry(14, 6, 24, 9, 0, 0, 0, 5, 0);
    const TrackEntry countButNoneArrived = Entry(14, 6, 24, 9, 0, 0, 0, 5, 4);
    const TrackEntry ok = WithPoints(Entry(14, 6, 24, 9, 0, 0, 0, 5, 2), 2);
    EXPECT_FALSE(TrackTimeline(zeroInterval, offset).Timed());
    EXPECT_FALSE(TrackTimeline(noPoints, offset).Timed());
    EXPECT_FALSE(TrackTimeline(countButNoneArrived, offset).Timed());
    EXPECT_TRUE(TrackTimeline(ok, offset).Timed());
    EXPECT_EQ(TrackTimeline(zeroInterval, offset).Label(), "14.06.24 09:00:00");
}

TEST(TrackTimeline, PointValuesAndImpossiblePlaces) {
    TrackEntry entry = Entry(14, 6, 24, 9, 0, 0, 0, 255, 3);
    entry.points = {Point({55, 45, 0x0D, 0xAC}, {37, 37, 0x01, 0x7C}, 120, 150, 0x77, 2, 5, 130),
                    Point({91, 0, 0, 0}, {37, 0, 0, 0}, 0, 0, 0, 0, 0, 0),
                    Point({10, 0, 0, 0}, {180, 0, 0, 1}, 0, 0, 0x00, 1, 2, 0)};
    const TrackTimeline timeline(entry, *ClockOffset::Device(0, 0));
    const TimedPoint p = timeline.At(0);
    EXPECT_NEAR(p.latitude, 55.7558333, 1e-7);
    EXPECT_NEAR(p.longitude, 37.6173, 1e-7);
    EXPECT_EQ(p.altitude, 150);
    EXPECT_EQ(p.groundSpeed, 120);
    EXPECT_EQ(p.airSpeed, 130);
    EXPECT_DOUBLE_EQ(p.verticalSpeed, 2.5);
    EXPECT_TRUE(p.placeable);
    EXPECT_FALSE(timeline.At(1).placeable);  // latitude 91°
    EXPECT_FALSE(timeline.At(2).placeable);  // longitude just past 180°
    EXPECT_DOUBLE_EQ(timeline.At(2).verticalSpeed, -1.2);
    EXPECT_EQ(timeline.At(2).utc - timeline.StartUtc(), 510);
}

TEST(UtcOffsetText, ParsedAndWritten) {
    struct Case {
        const char* text;
        int seconds;  // -1: refused
    };
    const Case cases[] = {{"3:00", 10800}, {"05:45", 20700}, {"0:00", 0},    {"23:59", 86340},
                          {"24:00", -1},   {"3:60", -1},     {"3", -1},      {"-1:00", -1},
                          {"3:5", -1},     {":30", -1},      {"123:00", -1}, {"3:00x", -1},
                          {"", -1},        {"+3:00", -1},    {"3:0 ", -1}};
    for (const Case& c : cases) {
        const auto offset = ParseUtcOffset(c.text);
        if (c.seconds < 0) {
            EXPECT_FALSE(offset) << c.text;
        } else {
            ASSERT_TRUE(offset) << c.text;
            EXPECT_FALSE(offset->fromComputer);
            EXPECT_EQ(offset->seconds, c.seconds) << c.text;
        }
    }
    EXPECT_FALSE(ClockOffset::Device(24, 0));
    EXPECT_FALSE(ClockOffset::Device(0, 60));
    EXPECT_EQ(FormatUtcOffset(10800), "+3:00");
    EXPECT_EQ(FormatUtcOffset(20700), "+5:45");
    EXPECT_EQ(FormatUtcOffset(0), "+0:00");
    EXPECT_EQ(FormatUtcOffset(-16200), "-4:30");
}

TEST(UtcTimeText, CalendarAcrossCenturiesAndLeapYears) {
    EXPECT_EQ(Iso(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(Iso(951782400), "2000-02-29T00:00:00Z");
    EXPECT_EQ(Iso(4107542399), "2100-02-28T23:59:59Z");
    EXPECT_EQ(Iso(4107542400), "2100-03-01T00:00:00Z");  // 2100 is no leap year
    EXPECT_EQ(Iso(-1), "1969-12-31T23:59:59Z");
}

}  // namespace
