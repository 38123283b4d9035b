#pragma once
// Link errors: thrown by value, caught by reference as LLDevException.

#include <cstdint>
#include <string>

namespace MCommunication {

// Base of the link error family: "Ошибка устройства".
class DeviceException {
public:
    virtual const char* What() const;      // Windows-1251 text
    virtual const wchar_t* WhatW() const;  // wide text
    // Copies at most size-1 characters and always terminates; returns buffer.
    virtual wchar_t* GetErrorMessage(wchar_t* buffer, uint32_t size) const;
    virtual char* GetErrorMessage(char* buffer, uint32_t size) const;
};

// The type every handler catches.
class LLDevException : public DeviceException {};

// Failure of a system call on the port; carries the errno value.
class ComException : public LLDevException {
public:
    explicit ComException(uint32_t code) : m_code(code) {}
    // transferred: bytes a failing Read had already placed in its buffer.
    ComException(uint32_t code, int32_t transferred) : m_code(code), m_transferred(transferred) {}
    using DeviceException::GetErrorMessage;
    // The C library's text for the number, "Unknown error %d" when it has none.
    wchar_t* GetErrorMessage(wchar_t* buffer, uint32_t size) const override;
    virtual const wchar_t* SummaryW() const;
    uint32_t Code() const { return m_code; }
    int32_t Transferred() const { return m_transferred; }

private:
    uint32_t m_code;
    int32_t m_transferred = 0;
};

// An answer the link stopped reading because it broke the protocol's bounds (a table that
// never ends); carries the text for the user (UTF-8 in, both forms out).
class AnswerException : public LLDevException {
public:
    explicit AnswerException(const std::string& utf8);
    const char* What() const override;
    const wchar_t* WhatW() const override;

private:
    std::string m_narrow;  // Windows-1251
    std::wstring m_wide;
};

// What a handler shows: the wide GetErrorMessage asked with 255 characters, as UTF-8.
std::string ErrorText(const DeviceException& e);

}  // namespace MCommunication
