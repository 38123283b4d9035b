#include "link/DeviceLink.h"

#include "link/CommandByte.h"
#include "link/DeviceException.h"

DeviceLink::~DeviceLink() {
    // The track table goes first; the port member then closes the line.
    std::vector<TrackEntry>().swap(m_tracks);
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
    Send(CommandByte[kCmdQueryDevice]);
    uint8_t answer = 0;
    const int32_t n = Receive(&answer, 1);
    RefreshLog();
    return n == 0 ? 1 : answer;
}

void DeviceLink::SetUtcOffset(uint8_t hours, uint8_t minutes) {
    Send(CommandByte[kCmdSetUtcOffset]);
    Send(hours);
    Send(minutes);
    RefreshLog();
}

void DeviceLink::SendAnemometerCalibration(uint8_t reference, uint8_t onboard) {
    Send(CommandByte[kCmdAnemometer]);
    Send(reference);
    Send(onboard);
    RefreshLog();
}

bool DeviceLink::ClearTrackMemory() {
    Send(CommandByte[kCmdClearTrackMemory]);
    int32_t savedRead = 0;
    int32_t savedWrite = 0;
    m_transport->GetTimeouts(savedRead, savedWrite);
    m_transport->SetTimeouts(m_clearTimeout, m_clearTimeout);
    uint8_t answer[4] = {};
    int32_t n = 0;
    try {
        n = m_transport->Read(answer, 4);
    } catch (...) {
        m_transport->SetTimeouts(savedRead, savedWrite);
        throw MCommunication::LLDevException();
    }
    m_transport->SetTimeouts(savedRead, savedWrite);
    LogChunk(n, answer, true);
    RefreshLog();
    return n == 4 && answer[0] == 0xEE && answer[1] == 0xEE && answer[2] == 0xEE &&
           answer[3] == 0xEE;
}

void DeviceLink::SetTrackInterval(uint8_t value) {
    const uint8_t bytes[2] = {kTrackIntervalCommand, value};
    Send(bytes, 2);
    RefreshLog();
}
