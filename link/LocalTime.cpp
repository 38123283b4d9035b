#include "link/LocalTime.h"

bool LocalTimeOf(std::time_t t, std::tm& local) {
    return localtime_r(&t, &local) != nullptr;
}

bool LocalTimeOf(std::time_t t, std::tm& local, int& utcOffsetSeconds) {
    if (localtime_r(&t, &local) == nullptr) {
        return false;
    }
    utcOffsetSeconds = static_cast<int>(local.tm_gmtoff);
    return true;
}

std::time_t UtcTimeOf(std::tm& fields) {
    return timegm(&fields);
}
