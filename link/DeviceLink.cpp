#include "link/DeviceLink.h"

#include <algorithm>
#include <array>

#include "link/CommandByte.h"
#include "link/DeviceException.h"

void DeviceLink::DrainInput() {
    if (DrainStale() > 0) {
        RefreshLog();
    }
}

int32_t DeviceLink::DrainStale() {
    if (!m_transport->IsOpen()) {
        return 0;  // the command's write reports the closed port
    }
    std::array<uint8_t, 4096> buffer;
    int32_t total = 0;
    while (total < kMaxDrainBytes) {
        int32_t n = 0;
        try {
            const int32_t room =
                std::min(static_cast<int32_t>(buffer.size()), kMaxDrainBytes - total);
            n = m_transport->ReadPending(buffer.data(), room);
        } catch (const MCommunication::ComException& e) {
            LogChunk(e.Transferred(), buffer.data(), true);
            throw;
        }
        LogChunk(n, buffer.data(), true);
        total += n;
        if (n <= 0) {
            break;
        }
    }
    return total;
}

void DeviceLink::SendCommand(const uint8_t* data, int32_t count) {
    DrainStale();
    Send(data, count);
}

void DeviceLink::Send(const uint8_t* data, int32_t count) {
    m_transport->Write(data, count);
    LogChunk(count, data, false);
}

int32_t DeviceLink::Receive(uint8_t* data, int32_t count) {
    int32_t n = 0;
    try {
        n = m_transport->Read(data, count);
    } catch (const MCommunication::ComException& e) {
        // The bytes that came before the line failed are part of the record of the traffic.
        LogChunk(e.Transferred(), data, true);
        throw;
    }
    LogChunk(n, data, true);
    return n;
}

void DeviceLink::LogChunk(int32_t count, const uint8_t* data, bool received) {
    if (m_terminal != nullptr) {
        m_terminal->LogChunk(count, data, received);
    }
}

void DeviceLink::RefreshLog() {
    if (m_terminal != nullptr) {
        m_terminal->RefreshLog();
    }
}

uint8_t DeviceLink::QueryDevice() {
    if (!m_transport->IsOpen()) {
        return 0xFF;
    }
    SendCommand(CommandByte[kCmdQueryDevice]);
    uint8_t answer = 0;
    const int32_t n = Receive(&answer, 1);
    RefreshLog();
    return n == 0 ? 1 : answer;
}

void DeviceLink::SetUtcOffset(uint8_t hours, uint8_t minutes) {
    SendCommand(CommandByte[kCmdSetUtcOffset]);
    Send(hours);
    Send(minutes);
    RefreshLog();
}

void DeviceLink::SendAnemometerCalibration(uint8_t reference, uint8_t onboard) {
    SendCommand(CommandByte[kCmdAnemometer]);
    Send(reference);
    Send(onboard);
    RefreshLog();
}

bool DeviceLink::ClearTrackMemory() {
    SendCommand(CommandByte[kCmdClearTrackMemory]);
    int32_t savedRead = 0;
    int32_t savedWrite = 0;
    m_transport->GetTimeouts(savedRead, savedWrite);
    m_transport->SetTimeouts(m_clearTimeout, m_clearTimeout);
    std::array<uint8_t, 4> answer{};
    int32_t n = 0;
    try {
        n = m_transport->Read(answer.data(), static_cast<int32_t>(answer.size()));
    } catch (...) {
        m_transport->SetTimeouts(savedRead, savedWrite);
        throw MCommunication::LLDevException();
    }
    m_transport->SetTimeouts(savedRead, savedWrite);
    LogChunk(n, answer.data(), true);
    RefreshLog();
    return n == 4 && answer == kClearTrackMemoryDone;
}

void DeviceLink::SetTrackInterval(uint8_t value) {
    const uint8_t bytes[2] = {kTrackIntervalCommand, value};
    SendCommand(bytes, 2);
    RefreshLog();
}
