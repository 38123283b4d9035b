#pragma once
// What the marks exchange (DeviceLink::ReadMarks) tells its callers beside the marks.

#include <cstddef>
#include <string>

// "Получено 4 метки из 12." (UTF-8): the marks that came of those the device announced,
// shown by the marks page and the CLI when the two differ.
std::string MarksIncompleteText(std::size_t received, unsigned announced);
