#pragma once
// The one converter between UTF-8 and Windows-1251.

#include <string>

// UTF-8 → Windows-1251; a character the code page lacks becomes its best fit where one
// exists, else '?'. Invalid UTF-8 bytes become '?'.
std::string Utf8ToCp1251(const std::string& utf8);
// Windows-1251 → UTF-8 (bytes without a character, 0x98, become U+FFFD).
std::string Cp1251ToUtf8(const std::string& cp1251);
// Wide text (UTF-32, or UTF-16 where wchar_t has 16 bits) ↔ UTF-8.
std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& utf8);
