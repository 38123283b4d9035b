#include "link/UserTexts.h"

#include <cerrno>

#include "link/DeviceException.h"

namespace UserText {

std::string PortOpenFailure(const MCommunication::DeviceException& error,
                            std::string_view hintSeparator) {
    std::string text = MCommunication::ErrorText(error);
    const auto* com = dynamic_cast<const MCommunication::ComException*>(&error);
    if (com == nullptr) {
        return text;
    }
    switch (com->Code()) {
        case ENOTTY:
        case EISDIR:
            return std::string(kNotSerialPort) + " " + text;
        case EACCES:
            return text.append(hintSeparator).append(kPortAccessHint);
        case EBUSY:
            return text.append(hintSeparator).append(kPortBusyHint);
        default:
            return text;
    }
}

}  // namespace UserText
