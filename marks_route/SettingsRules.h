#pragma once
// The checks of the UTC offset and the anemometer calibration before they are sent, and the
// texts that refuse or confirm them (UTF-8). The UTC and anemometer pages and pelnora-cli use
// these and nothing else.

#include <cstdint>

inline constexpr char kUtcHoursRange[] = "Значение поля Часы должно быть от 0 до 23";
inline constexpr char kUtcMinutesRange[] = "Значение поля Минуты должно быть от 0 до 59";
inline constexpr char kUtcOffsetSent[] = "Сдвиг времени передан успешно";
inline constexpr char kCalibrationTooHigh[] =
    "Вы ввели неправильные данные!\nРезультат деления калибровочного анемометра на бортовой "
    "анемометр не может быть больше 1.5";
inline constexpr char kCalibrationTooLow[] =
    "Вы ввели неправильные данные!\nРезультат деления калибровочного анемометра на бортовой "
    "анемометр не может быть меньше 0.5";
inline constexpr char kCalibrationSent[] = "Калибровка передана успешно";

// nullptr when the offset may be sent; else the refusal. Hours are tested first, so at most
// one message is given.
inline const char* UtcOffsetRefusal(uint8_t hours, uint8_t minutes) {
    if (hours > 23) {
        return kUtcHoursRange;
    }
    if (minutes > 59) {
        return kUtcMinutesRange;
    }
    return nullptr;
}

// nullptr when reference / onboard lies within 0.5 .. 1.5 (both ends accepted); else the
// refusal. IEEE rules: x/0 is +inf (too high), 0/0 is NaN, which fails both tests and is sent.
inline const char* CalibrationRefusal(uint8_t reference, uint8_t onboard) {
    const double quotient = static_cast<double>(reference) / static_cast<double>(onboard);
    if (quotient > 1.5) {
        return kCalibrationTooHigh;
    }
    if (quotient < 0.5) {
        return kCalibrationTooLow;
    }
    return nullptr;
}
