#include "link/LinkFailure.h"

#include <cerrno>

#include "link/DeviceException.h"

bool IsLineLost(const MCommunication::DeviceException& error) {
    const auto* com = dynamic_cast<const MCommunication::ComException*>(&error);
    if (com == nullptr) {
        return false;
    }
    const uint32_t code = com->Code();
    return code == EIO || code == ENXIO || code == ENODEV;
}

LinkFailure DescribeLinkFailure(const MCommunication::DeviceException& error) {
    return LinkFailure{MCommunication::ErrorText(error), IsLineLost(error)};
}

std::string LineLostText(const std::string& systemText) {
    return "Связь с прибором потеряна: " + systemText;
}
