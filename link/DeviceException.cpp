#include "link/DeviceException.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "link/Cp1251.h"
#include "link/SystemText.h"

namespace MCommunication {

namespace {

constexpr const char* kDeviceErrorUtf8 = "Ошибка устройства";
constexpr const wchar_t* kDeviceErrorWide = L"Ошибка устройства";

// Copies at most size-1 characters and terminates; size 0 writes nothing.
template <typename Char>
Char* CopyCut(Char* buffer, uint32_t size, const Char* text, std::size_t length) {
    if (buffer == nullptr || size == 0) {
        return buffer;
    }
    const std::size_t n = length < size - 1 ? length : size - 1;
    std::memcpy(buffer, text, n * sizeof(Char));
    buffer[n] = Char{};
    return buffer;
}

}  // namespace

const char* DeviceException::What() const {
    static const std::string text = Utf8ToCp1251(kDeviceErrorUtf8);
    return text.c_str();
}

const wchar_t* DeviceException::WhatW() const {
    return kDeviceErrorWide;
}

wchar_t* DeviceException::GetErrorMessage(wchar_t* buffer, uint32_t size) const {
    const wchar_t* text = WhatW();
    return CopyCut(buffer, size, text, std::wcslen(text));
}

char* DeviceException::GetErrorMessage(char* buffer, uint32_t size) const {
    const char* text = What();
    return CopyCut(buffer, size, text, std::strlen(text));
}

wchar_t* ComException::GetErrorMessage(wchar_t* buffer, uint32_t size) const {
    if (buffer == nullptr || size == 0) {
        return buffer;
    }
    std::string text = SystemErrorText(m_code);
    if (text.empty()) {
        char unknown[32];
        std::snprintf(unknown, sizeof unknown, "Unknown error %d", static_cast<int32_t>(m_code));
        text = unknown;
    }
    const std::wstring wide = Utf8ToWide(text);
    return CopyCut(buffer, size, wide.c_str(), wide.size());
}

const wchar_t* ComException::SummaryW() const {
    return L"Ошибка ком порта. Используйте GetErrorMessage() для выяснения подробностей";
}

AnswerException::AnswerException(const std::string& utf8)
    : m_narrow(Utf8ToCp1251(utf8)), m_wide(Utf8ToWide(utf8)) {}

const char* AnswerException::What() const {
    return m_narrow.c_str();
}

const wchar_t* AnswerException::WhatW() const {
    return m_wide.c_str();
}

std::string ErrorText(const DeviceException& e) {
    wchar_t buffer[255];
    e.GetErrorMessage(buffer, 255);
    return WideToUtf8(buffer);
}

}  // namespace MCommunication
