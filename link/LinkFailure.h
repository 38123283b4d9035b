#pragma once
// What the user is told of a link error, and whether the line to the device has gone.

#include <string>

namespace MCommunication {
class DeviceException;
}

// A link error as it is reported; outlives the exception (a worker hands it to the window).
struct LinkFailure {
    std::string text;       // the error's text (ErrorText), UTF-8
    bool lineLost = false;  // the device or its adapter has gone: the port is of no more use
};

// The hang-up errors of a port whose other end has gone: EIO (a hung-up line, a pulled
// adapter), ENXIO and ENODEV (the device node is there but its device is not).
bool IsLineLost(const MCommunication::DeviceException& error);
LinkFailure DescribeLinkFailure(const MCommunication::DeviceException& error);
// The message of a lost line: "Связь с прибором потеряна: " and the system text.
std::string LineLostText(const std::string& systemText);
