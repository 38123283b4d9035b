#pragma once
// Local time in the process's time zone, one implementation per platform (LocalTime.cpp with
// localtime_r and timegm, LocalTimeWin.cpp with localtime_s and _mkgmtime). Turning local
// fields into a time is the standard mktime on every platform.

#include <ctime>

// The local broken-down time of t; false when the system cannot give it.
bool LocalTimeOf(std::time_t t, std::tm& local);

// The same, with how far the local time then is ahead of UTC, in seconds.
bool LocalTimeOf(std::time_t t, std::tm& local, int& utcOffsetSeconds);

// The time of broken-down UTC fields (normalised in place); -1 when out of range.
std::time_t UtcTimeOf(std::tm& fields);
