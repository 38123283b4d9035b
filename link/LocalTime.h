#pragma once
// Local time in the process's time zone, one implementation per platform (LocalTime.cpp with
// localtime_r, LocalTimeWin.cpp with localtime_s). Turning local fields into a time is the
// standard mktime on every platform.

#include <ctime>

// The local broken-down time of t; false when the system cannot give it.
bool LocalTimeOf(std::time_t t, std::tm& local);
