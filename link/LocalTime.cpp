#include "link/LocalTime.h"

bool LocalTimeOf(std::time_t t, std::tm& local) {
    return localtime_r(&t, &local) != nullptr;
}
