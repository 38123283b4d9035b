#pragma once
// The operating system's message text for an error code, one implementation per platform
// (SystemText.cpp: errno through the C library; SystemTextWin.cpp: GetLastError codes through
// the system message table).

#include <cstdint>
#include <string>

namespace MCommunication {

// The text as the system gives it, UTF-8 (a trailing line break kept); empty when the system
// has no text of its own for code.
std::string SystemErrorText(uint32_t code);

}  // namespace MCommunication
