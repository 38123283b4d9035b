#include "link/LocalTime.h"

bool LocalTimeOf(std::time_t t, std::tm& local) {
    return localtime_s(&local, &t) == 0;
}

bool LocalTimeOf(std::time_t t, std::tm& local, int& utcOffsetSeconds) {
    if (localtime_s(&local, &t) != 0) {
        return false;
    }
    std::tm copy = local;
    const std::time_t asUtc = _mkgmtime(&copy);
    if (asUtc == static_cast<std::time_t>(-1)) {
        return false;
    }
    utcOffsetSeconds = static_cast<int>(asUtc - t);
    return true;
}

std::time_t UtcTimeOf(std::tm& fields) {
    return _mkgmtime(&fields);
}
