#pragma once
// The track recording interval: the items the track page offers, the byte each sends with
// SetTrackInterval (0xCC), the names pelnora-cli takes, and the confirmation text.

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

struct TrackIntervalItem {
    const char* text;     // the page's item (UTF-8)
    const char* cliName;  // the word pelnora-cli interval takes
    uint8_t value;        // the byte sent
};

inline constexpr std::array<TrackIntervalItem, 6> kTrackIntervalItems = {{
    {"2 с", "2", 2},
    {"3 с", "3", 3},
    {"4 с", "4", 4},
    {"5 с", "5", 5},
    {"10 с", "10", 10},
    {"Не писать трек", "off", 128},
}};

inline constexpr char kNoTrackIntervalItem[] = "Не писать трек";
inline constexpr char kTrackIntervalSent[] = "Временной интервал передан успешно";

// The byte the page sends for its item text (UTF-8; empty when nothing is selected):
// "Не писать трек" is 128; any other text gives the number it begins with as wcstol reads it
// (blanks, a sign, digits; 0 when there are none), taken modulo 256.
inline uint8_t TrackIntervalValue(std::string_view text) {
    if (text == kNoTrackIntervalItem) {
        return 128;
    }
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // wcstol saturates at the limits of a 32-bit long.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), kLimit);
    }
    if (negative) {
        value = -value;
    } else if (value == kLimit) {
        value = kLimit - 1;
    }
    return static_cast<uint8_t>(static_cast<uint64_t>(value) & 0xFF);
}

// The byte for a pelnora-cli word (2, 3, 4, 5, 10, off); nullopt for any other word.
inline std::optional<uint8_t> TrackIntervalForName(std::string_view name) {
    for (const TrackIntervalItem& item : kTrackIntervalItems) {
        if (name == item.cliName) {
            return item.value;
        }
    }
    return std::nullopt;
}
