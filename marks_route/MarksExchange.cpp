// Marks exchange (0x55).

#include "marks_route/MarksExchange.h"

#include "link/CommandByte.h"
#include "link/DeviceLink.h"

std::vector<PackedPosition> DeviceLink::ReadMarks(bool* answered, unsigned* announced) {
    SendCommand(CommandByte[kCmdReadMarks]);

    uint8_t count = 0;
    const int32_t got = Receive(&count, 1);
    if (answered != nullptr) {
        *answered = got > 0;
    }
    if (announced != nullptr) {
        *announced = count;
    }

    std::vector<PackedPosition> marks;
    marks.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        PackedPosition mark{};
        // A mark cut short means the device stopped: what did not come is not made up.
        if (Receive(mark.data(), static_cast<int32_t>(mark.size())) <
            static_cast<int32_t>(mark.size())) {
            break;
        }
        marks.push_back(mark);
    }
    RefreshLog();
    return marks;
}

std::string MarksIncompleteText(std::size_t received, unsigned announced) {
    const std::size_t tens = received % 100;
    const std::size_t ones = received % 10;
    const bool one = ones == 1 && tens != 11;
    const bool few = ones >= 2 && ones <= 4 && (tens < 12 || tens > 14);
    return std::string(one ? "Получена " : "Получено ") + std::to_string(received) +
           (one   ? " метка из "
            : few ? " метки из "
                  : " меток из ") +
           std::to_string(announced) + ".";
}
