// The link error family and the texts a handler shows.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>

#include "link/DeviceException.h"

namespace {

using MCommunication::ComException;
using MCommunication::DeviceException;
using MCommunication::ErrorText;
using MCommunication::LLDevException;

const std::wstring kDeviceError = L"Ошибка устройства";
const std::string kDeviceErrorCp1251 =
    "\xCE\xF8\xE8\xE1\xEA\xE0 \xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xE0";

TEST(DeviceException, BothFormsGiveTheDeviceError) {
    const DeviceException plain;
    const LLDevException low;
    for (const DeviceException* e : {&plain, static_cast<const DeviceException*>(&low)}) {
        EXPECT_EQ(std::string(e->What()), kDeviceErrorCp1251);
        EXPECT_EQ(std::wstring(e->WhatW()), kDeviceError);
        wchar_t wide[255];
        char narrow[255];
        EXPECT_EQ(std::wstring(e->GetErrorMessage(wide, 255)), kDeviceError);
        EXPECT_EQ(std::string(e->GetErrorMessage(narrow, 255)), kDeviceErrorCp1251);
        EXPECT_EQ(ErrorText(*e), "Ошибка устройства");
    }
}

TEST(DeviceException, GetErrorMessageSizeRules) {
    const LLDevException e;
    struct Case {
        uint32_t size;
        std::wstring wide;
        std::string narrow;
    };
    const Case cases[] = {
        {1, L"", ""},
        {2, L"О", "\xCE"},
        {5, L"Ошиб", "\xCE\xF8\xE8\xE1"},
        {18, kDeviceError, kDeviceErrorCp1251},  // 17 characters fit exactly
        {255, kDeviceError, kDeviceErrorCp1251},
    };
    for (const Case& c : cases) {
        wchar_t wide[300];
        char narrow[300];
        std::wmemset(wide, L'#', 300);
        std::memset(narrow, '#', 300);
        EXPECT_EQ(e.GetErrorMessage(wide, c.size), wide);
        EXPECT_EQ(std::wstring(wide), c.wide) << c.size;
        EXPECT_EQ(std::string(e.GetErrorMessage(narrow, c.size)), c.narrow) << c.size;
        EXPECT_EQ(wide[c.size], L'#') << "wrote beyond the size " << c.size;
        EXPECT_EQ(narrow[c.size], '#') << "wrote beyond the size " << c.size;
    }
    wchar_t untouched = L'#';
    char untouchedNarrow = '#';
    e.GetErrorMessage(&untouched, 0);
    e.GetErrorMessage(&untouchedNarrow, 0);
    EXPECT_EQ(untouched, L'#');
    EXPECT_EQ(untouchedNarrow, '#');
}

TEST(ComException, SystemTextOnlyThroughTheWideForm) {
    struct Case {
        uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {ENOENT, "No such file or directory"},
        {EBADF, "Bad file descriptor"},
        {EIO, "Input/output error"},
        {EBUSY, "Device or resource busy"},
        {99999, "Unknown error 99999"},
        {0xFFFFFFFFu, "Unknown error -1"},  // signed decimal
        {0x80000000u, "Unknown error -2147483648"},
    };
    for (const Case& c : cases) {
        const ComException e(c.code);
        EXPECT_EQ(e.Code(), c.code);
        const DeviceException& base = e;  // handlers reach it through the base
        EXPECT_EQ(ErrorText(base), c.text) << c.code;
        char narrow[255];
        EXPECT_EQ(std::string(base.GetErrorMessage(narrow, 255)), kDeviceErrorCp1251);
        EXPECT_EQ(std::string(e.What()), kDeviceErrorCp1251);
        EXPECT_EQ(std::wstring(e.WhatW()), kDeviceError);
    }
    EXPECT_EQ(std::wstring(ComException(EIO).SummaryW()),
              L"Ошибка ком порта. Используйте GetErrorMessage() для выяснения подробностей");
}

TEST(ComException, SystemAndFallbackTextsAreCut) {
    const ComException missing(ENOENT);
    wchar_t buffer[16];
    std::wmemset(buffer, L'#', 16);
    EXPECT_EQ(std::wstring(missing.GetErrorMessage(buffer, 10)), L"No such f");
    EXPECT_EQ(buffer[10], L'#');
    EXPECT_EQ(std::wstring(missing.GetErrorMessage(buffer, 1)), L"");
    EXPECT_EQ(std::wstring(ComException(4242).GetErrorMessage(buffer, 12)), L"Unknown err");
    wchar_t untouched = L'#';
    missing.GetErrorMessage(&untouched, 0);
    EXPECT_EQ(untouched, L'#');
}

TEST(ComException, CaughtAsTheFamily) {
    try {
        throw ComException(ENOENT);
    } catch (const LLDevException& e) {
        EXPECT_EQ(ErrorText(e), "No such file or directory");
    }
}

}  // namespace
