// The rules the window's pages and pelnora-cli share: interval items, the UTC and calibration
// checks, the port failure texts, the speed list.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "link/DeviceException.h"
#include "link/LineSpeeds.h"
#include "link/UserTexts.h"
#include "marks_route/SettingsRules.h"
#include "tracks/TrackInterval.h"

namespace {

TEST(TrackIntervalRule, PageTextsGiveTheirBytes) {
    const struct {
        const char* text;
        uint8_t value;
    } cases[] = {
        {"2 с", 2},
        {"3 с", 3},
        {"4 с", 4},
        {"5 с", 5},
        {"10 с", 10},
        {"Не писать трек", 128},
        {"", 0},   // nothing selected
        {"7", 7},  // a stored value that begins no item
        {"  +12x", 12},
        {"-1", 255},
        {"300", 44},
        {"abc", 0},
        {"99999999999", 0xFF},  // saturates at the largest 32-bit long
        {"-99999999999", 0x00},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TrackIntervalValue(c.text), c.value) << c.text;
    }
    for (const TrackIntervalItem& item : kTrackIntervalItems) {
        EXPECT_EQ(TrackIntervalValue(item.text), item.value) << item.text;
        EXPECT_EQ(TrackIntervalForName(item.cliName), item.value) << item.cliName;
    }
    for (const char* word : {"7", "", "OFF", "2 с", "02", " 2"}) {
        EXPECT_FALSE(TrackIntervalForName(word).has_value()) << word;
    }
}

TEST(SettingsRules, RangesAndQuotient) {
    EXPECT_EQ(UtcOffsetRefusal(23, 59), nullptr);
    EXPECT_EQ(UtcOffsetRefusal(0, 0), nullptr);
    EXPECT_STREQ(UtcOffsetRefusal(24, 60), kUtcHoursRange);  // hours first, one message
    EXPECT_STREQ(UtcOffsetRefusal(3, 60), kUtcMinutesRange);
    const struct {
        uint8_t reference;
        uint8_t onboard;
        const char* refusal;
    } cases[] = {
        {150, 100, nullptr},
        {50, 100, nullptr},
        {0, 0, nullptr},  // 0/0 is NaN: sent
        {151, 100, kCalibrationTooHigh},
        {10, 0, kCalibrationTooHigh},
        {49, 100, kCalibrationTooLow},
        {0, 10, kCalibrationTooLow},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CalibrationRefusal(c.reference, c.onboard), c.refusal)
            << int(c.reference) << "/" << int(c.onboard);
    }
}

TEST(PortOpenFailure, HintsFollowTheSystemText) {
    using MCommunication::ComException;
    const std::string missing = MCommunication::ErrorText(ComException(ENOENT));
    EXPECT_EQ(UserText::PortOpenFailure(ComException(ENOENT)), missing);
    const std::string denied = MCommunication::ErrorText(ComException(EACCES));
    EXPECT_EQ(UserText::PortOpenFailure(ComException(EACCES), "\n"),
              denied + "\n" + UserText::kPortAccessHint);
    const std::string busy = MCommunication::ErrorText(ComException(EBUSY));
    EXPECT_EQ(UserText::PortOpenFailure(ComException(EBUSY)),
              busy + "\n\n" + UserText::kPortBusyHint);
    EXPECT_EQ(UserText::PortOpenFailure(ComException(ENOTTY)),
              std::string(UserText::kNotSerialPort) + " " +
                  MCommunication::ErrorText(ComException(ENOTTY)));
    // Not a system error: the device error's own text.
    EXPECT_EQ(UserText::PortOpenFailure(MCommunication::LLDevException()), "Ошибка устройства");
}

TEST(LineSpeeds, OnlyTheListedSpeeds) {
    EXPECT_EQ(kLineSpeeds.size(), 15u);
    for (const uint32_t speed : kLineSpeeds) {
        EXPECT_TRUE(IsLineSpeed(speed));
    }
    for (const uint32_t speed : {0u, 1u, 109u, 111u, 230400u, 921600u}) {
        EXPECT_FALSE(IsLineSpeed(speed)) << speed;
    }
    EXPECT_TRUE(IsLineSpeed(kDefaultLineSpeed));
}

}  // namespace
