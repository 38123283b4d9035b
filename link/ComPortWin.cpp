// Serial port over the Windows communications functions: the time-out record bounds every
// ReadFile; GetLastError codes go into ComException.

#include <windows.h>

#include <cstdint>
#include <string>

#include "link/ComPort.h"
#include "link/Cp1251.h"
#include "link/DeviceException.h"
#include "link/SerialSpeed.h"

namespace MCommunication {

namespace {

// The handle lives in the port's int member: Windows handles carry 32 significant bits (so
// that 32- and 64-bit processes can share them), and INVALID_HANDLE_VALUE is -1 there too.
HANDLE ToHandle(int value) {
    return LongToHandle(value);
}
int FromHandle(HANDLE handle) {
    return HandleToLong(handle);
}

[[noreturn]] void ThrowLastError(int32_t transferred = 0) {
    throw ComException(static_cast<uint32_t>(GetLastError()), transferred);
}

// "COM5" and "\\.\COM5" both name the port; COM10 and above are reached only through the
// device namespace, so a plain name gets that prefix.
std::wstring DeviceName(const std::string& name) {
    if (name.rfind("\\\\", 0) == 0) {
        return Utf8ToWide(name);
    }
    return L"\\\\.\\" + Utf8ToWide(name);
}

// The time-out record for one transfer: the gap between two bytes and the whole read bounded
// by the read time-out (the whole read also by the line time of the bytes asked for), no
// per-byte multipliers. A read time-out of 0 or less takes only what has arrived.
COMMTIMEOUTS TimeoutRecord(int32_t readMs, int32_t writeMs, DWORD lineMs) {
    COMMTIMEOUTS t{};
    if (readMs > 0) {
        t.ReadIntervalTimeout = static_cast<DWORD>(readMs);
        t.ReadTotalTimeoutConstant = static_cast<DWORD>(readMs) + lineMs;
    } else {
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutConstant = 0;
    }
    t.ReadTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = writeMs > 0 ? static_cast<DWORD>(writeMs) : 0;
    return t;
}

// One ReadFile under the given record. A short count is a time-out or a line whose other end
// has gone: the driver says which (ClearCommError fails for a line that has gone).
int32_t ReadUnder(HANDLE handle, COMMTIMEOUTS timeouts, uint8_t* buffer, int32_t count) {
    SetCommTimeouts(handle, &timeouts);
    DWORD got = 0;
    if (!ReadFile(handle, buffer, static_cast<DWORD>(count), &got, nullptr)) {
        ThrowLastError(static_cast<int32_t>(got));
    }
    if (got < static_cast<DWORD>(count)) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle, &errors, &status)) {
            ThrowLastError(static_cast<int32_t>(got));
        }
    }
    return static_cast<int32_t>(got);
}

}  // namespace

ComPort::~ComPort() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd != -1) {
        CloseHandle(ToHandle(m_fd));
        m_fd = -1;
    }
}

void ComPort::SetParameters(const void* parameters) {
    m_parameters = *static_cast<const PortParameters*>(parameters);
}

bool ComPort::Open() {
    Open(m_parameters.name, m_parameters.baudRate, m_parameters.parity, m_parameters.byteSize,
         m_parameters.stopBits);
    return true;
}

// The port stays closed when the device cannot be opened (taken by another program, missing)
// and when it refuses the speed or framing (a line at another speed must not look connected);
// it stays open when only its configuration cannot be read: the next Open, Close or the
// destruction releases it.
void ComPort::Open(const std::string& name, uint32_t baudRate, uint8_t parity, uint8_t byteSize,
                   uint8_t stopBits) {
    Close();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const HANDLE handle = CreateFileW(DeviceName(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            ThrowLastError();
        }
        m_fd = FromHandle(handle);

        COMMCONFIG config{};
        DWORD size = sizeof config;
        config.dwSize = sizeof config;
        if (!GetCommConfig(handle, &config, &size)) {
            ThrowLastError();
        }
        DCB& dcb = config.dcb;
        dcb.fBinary = TRUE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        // Handshake modes of DTR and RTS are flow control too; the lines stay raised.
        if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) {
            dcb.fDtrControl = DTR_CONTROL_ENABLE;
        }
        if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
        }
        dcb.BaudRate = baudRate;
        dcb.Parity = parity;
        dcb.ByteSize = byteSize;
        dcb.StopBits = stopBits;
        if (baudRate == 0 || !SetCommConfig(handle, &config, size)) {
            const DWORD error = baudRate == 0 ? ERROR_INVALID_PARAMETER : GetLastError();
            CloseHandle(handle);
            m_fd = -1;
            throw ComException(static_cast<uint32_t>(error));
        }
        m_baudRate = baudRate;  // each read's line time follows the open line
    }
    SetTimeouts(30, 30);
}

bool ComPort::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd == -1) {
        return true;
    }
    const BOOL closed = CloseHandle(ToHandle(m_fd));
    m_fd = -1;
    return closed != FALSE;
}

// Returns when count bytes have come, when no further byte came within the read time-out after
// one did (the record's interval), or when the read time-out plus the line time of count bytes
// has passed since the call (the record's total; it also bounds the wait for the first byte,
// which the record cannot bound on its own); a short count is a time-out. A failing read, or a
// line whose other end has gone, throws with the bytes it got.
int32_t ComPort::Read(uint8_t* buffer, int32_t count) {
    if (!IsOpen()) {
        throw ComException(ERROR_INVALID_HANDLE);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd == -1) {
        throw ComException(ERROR_INVALID_HANDLE);
    }
    if (count <= 0) {
        return 0;
    }
    return ReadUnder(
        ToHandle(m_fd),
        TimeoutRecord(m_readTimeout, m_writeTimeout,
                      m_readTimeout > 0 ? static_cast<DWORD>(LineTimeMs(m_baudRate, count)) : 0),
        buffer, count);
}

// What the driver holds, without waiting: the record that returns at once.
int32_t ComPort::ReadPending(uint8_t* buffer, int32_t count) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd == -1) {
        throw ComException(ERROR_INVALID_HANDLE);
    }
    if (count <= 0) {
        return 0;
    }
    return ReadUnder(ToHandle(m_fd), TimeoutRecord(0, m_writeTimeout, 0), buffer, count);
}

// Returns when all bytes are handed to the driver, or with fewer once the write time-out has
// passed.
int32_t ComPort::Write(const uint8_t* buffer, int32_t count) {
    if (!IsOpen()) {
        throw ComException(ERROR_INVALID_HANDLE);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd == -1) {
        throw ComException(ERROR_INVALID_HANDLE);
    }
    if (count <= 0) {
        return 0;
    }
    DWORD done = 0;
    if (!WriteFile(ToHandle(m_fd), buffer, static_cast<DWORD>(count), &done, nullptr)) {
        ThrowLastError();
    }
    return static_cast<int32_t>(done);
}

void ComPort::Purge() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_fd == -1) {
            throw ComException(ERROR_INVALID_HANDLE);
        }
        PurgeComm(ToHandle(m_fd), PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    uint8_t scratch[32];
    Read(scratch, sizeof scratch);
}

bool ComPort::IsOpen() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_fd != -1;
}

void ComPort::SetTimeouts(int32_t readMs, int32_t writeMs) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd == -1) {
        throw ComException(ERROR_INVALID_HANDLE);
    }
    Transport::SetTimeouts(readMs, writeMs);
    COMMTIMEOUTS timeouts = TimeoutRecord(readMs, writeMs, 0);
    SetCommTimeouts(ToHandle(m_fd), &timeouts);
}

}  // namespace MCommunication
