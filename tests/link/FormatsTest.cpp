// Packed angles and positions, the device character table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "link/DataFormats.h"

namespace {

TEST(DataFormats, DecodeAngleExamples) {
    struct Case {
        PackedAngle bytes;
        double degrees;
    };
    const Case cases[] = {
        {{0x37, 0x2D, 0x0D, 0xAC}, (55.0 + 45.0 / 60.0) + 3500.0 / 600000.0},
        {{0x25, 0x25, 0x01, 0x7C}, (37.0 + 37.0 / 60.0) + 380.0 / 600000.0},
        {{0x00, 0x00, 0x00, 0x00}, 0.0},
        {{0x0A, 0x3C, 0x00, 0x00}, 11.0},                // minutes 60 taken as they are
        {{0x00, 0x00, 0x00, 0x01}, 1.0 / 600000.0},      // one unit of the fraction
        {{0x00, 0x00, 0xFF, 0xFF}, 65535.0 / 600000.0},  // fraction above 9999
        {{0xFF, 0xFF, 0xFF, 0xFF}, (255.0 + 255.0 / 60.0) + 65535.0 / 600000.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeAngle(c.bytes), c.degrees) << int(c.bytes[0]) << " " << int(c.bytes[1]);
        EXPECT_EQ(DecodeAngle(c.bytes.data()), c.degrees);
    }
    EXPECT_NEAR(DecodeAngle(PackedAngle{0x37, 0x2D, 0x0D, 0xAC}), 55.7558333, 1e-7);
    EXPECT_NEAR(DecodeAngle(PackedAngle{0x25, 0x25, 0x01, 0x7C}), 37.6173, 1e-12);
}

TEST(DataFormats, EncodeAngleTruncatesAndWraps) {
    struct Case {
        double degrees;
        PackedAngle bytes;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {55.7558, {0x37, 0x2D, 0x0D, 0x98}},
        {37.6173, {0x25, 0x25, 0x01, 0x7C}},
        {0.5, {0x00, 0x1E, 0x00, 0x00}},
        {60.0, {0x3C, 0x00, 0x00, 0x00}},
        {0.99999, {0x00, 0x3B, 0x27, 0x0A}},  // truncated, not rounded up to 1°
        {0.0, {0x00, 0x00, 0x00, 0x00}},
        {256.25, {0x00, 0x0F, 0x00, 0x00}},  // low 8 bits of the degrees
        {-1.5, {0xFE, 0x1E, 0x00, 0x00}},    // floor -2, then +30 minutes
        {nan, {0x00, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeAngle(c.degrees), c.bytes) << c.degrees;
    }
}

// Decoding and encoding again gives the angle back or one unit of the fraction less (the
// fraction is truncated), never anything further off.
TEST(DataFormats, EncodeOfDecodeIsExactOrOneUnitBelow) {
    int farOff = 0;
    for (int degrees : {0, 1, 2, 37, 55, 89, 179, 255}) {
        for (int minutes : {0, 1, 3, 29, 39, 45, 59}) {
            for (int fraction = 0; fraction <= 9999; ++fraction) {
                const PackedAngle a = {static_cast<uint8_t>(degrees), static_cast<uint8_t>(minutes),
                                       static_cast<uint8_t>(fraction >> 8),
                                       static_cast<uint8_t>(fraction & 0xFF)};
                const PackedAngle b = EncodeAngle(DecodeAngle(a));
                const auto units = [](const PackedAngle& p) {
                    return p[0] * 600000L + p[1] * 10000L + ((p[2] << 8) | p[3]);
                };
                const long diff = units(b) - units(a);
                if ((diff < -1 || diff > 0) && ++farOff < 5) {
                    ADD_FAILURE() << degrees << "° " << minutes << "' " << fraction << " off by "
                                  << diff;
                }
            }
        }
    }
    EXPECT_EQ(farOff, 0);
}

// Whole minutes that the double format holds a hair below the minute: the remainder is none,
// not a fraction of FF FF (6.5535 minutes too far).
TEST(DataFormats, EncodeWholeMinutesHeldAHairBelow) {
    struct Case {
        double degrees;
        PackedAngle bytes;
    };
    const Case cases[] = {
        {37.65, {0x25, 0x27, 0x00, 0x00}},  // 37° 39.0000'
        {2.05, {0x02, 0x03, 0x00, 0x00}},
        {4.35, {0x04, 0x15, 0x00, 0x00}},
        {37.99999999995, {0x26, 0x00, 0x00, 0x00}},  // a hair below 38°
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeAngle(c.degrees), c.bytes) << c.degrees;
    }
}

TEST(DataFormats, PositionIsLatitudeThenLongitude) {
    const PackedPosition p = PackPosition(55.7558, 37.6173);
    const PackedPosition expected = {0x37, 0x2D, 0x0D, 0x98, 0x25, 0x25, 0x01, 0x7C};
    EXPECT_EQ(p, expected);
    EXPECT_NEAR(PositionLatitude(p.data()), 55.7558, 1e-9);
    EXPECT_NEAR(PositionLongitude(p.data()), 37.6173, 1e-9);
    const PackedPosition zero{};
    EXPECT_EQ(PositionLatitude(zero.data()), 0.0);
    EXPECT_EQ(PositionLongitude(zero.data()), 0.0);
}

TEST(DataFormats, DeviceCharTableReadyBeforeAndAfterBuild) {
    uint8_t before[256];
    std::copy(DeviceCharTable.begin(), DeviceCharTable.end(), before);
    BuildDeviceCharTable();
    EXPECT_TRUE(std::equal(before, before + 256, DeviceCharTable.begin()));

    struct Case {
        int code;
        int device;
    };
    const Case cases[] = {
        {0x00, 0x00}, {0x41, 0x41}, {0x7F, 0x7F}, {0x80, 0x00}, {0xC0, 0x41},
        {0xC1, 0xA0}, {0xB9, 0x00}, {0xA8, 0xA2}, {0xB8, 0xB5}, {0xB2, 0xD7},
        {0xEE, 0x6F}, {0xFF, 0xC7}, {0xDF, 0xB1}, {0xE0, 0x61},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DeviceCharTable[c.code], c.device) << std::hex << c.code;
    }
    for (int code = 0xC0; code <= 0xFF; ++code) {
        EXPECT_NE(DeviceCharTable[code], 0) << "letter " << std::hex << code;
    }
    int coded = 0;
    for (int code = 0x80; code < 0xC0; ++code) {
        coded += DeviceCharTable[code] != 0;
    }
    EXPECT_EQ(coded, 3);  // Ё, ё and І only
}

}  // namespace
