#include "link/Cp1251.h"

#include <cstdint>

namespace {

// Characters of codes 0x80..0xFF; 0x98 has none (U+FFFD).
constexpr char32_t kHighCodes[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

// Latin letters U+00C0..U+024F without a code of their own: the base letter, '?' for none.
constexpr char kLatinFit[] =
    "AAAAAA?CEEEEIIIIDNOOOOO?OUUUUY??aaaaaa?ceeeeiiiidnooooo?ouuuuy?y"  // U+00C0
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi??JjKk?LlLlLlL"  // U+0100
    "lLlNnNnNn???OoOoOo??RrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs"  // U+0140
    "b????????D?????????????I??l?????Oo?????????????Uu????Zz?????????"  // U+0180
    "?????????????AaIiOoUuUuUuUuUu?AaAa????GgKkOoOo??j???Gg??NnAa????"  // U+01C0
    "AaAaEeEeIiIiOoOoRrRrUuUuSsTt??Hh??????AaEeOoOoOoOoYy???????Cc??s"  // U+0200
    "z??B??EeJjQqRrYy";                                                 // U+0240
constexpr char32_t kLatinFitFirst = 0x00C0;
constexpr char32_t kLatinFitEnd = kLatinFitFirst + sizeof(kLatinFit) - 1;

// A few common symbols outside the code page.
struct SymbolFit {
    char32_t code;
    char fit;
};
constexpr SymbolFit kSymbolFits[] = {
    {0x00A1, '!'},  {0x00A2, 'c'}, {0x00AA, 'a'},  {0x00AF, '-'},  {0x00B2, '2'}, {0x00B3, '3'},
    {0x00B4, '\''}, {0x00B8, ','}, {0x00B9, '1'},  {0x00BA, 'o'},  {0x00BF, '?'}, {0x00D7, 'x'},
    {0x02B9, '\''}, {0x02BA, '"'}, {0x02BC, '\''}, {0x02C6, '^'},  {0x02DC, '~'}, {0x2002, ' '},
    {0x2003, ' '},  {0x2004, ' '}, {0x2005, ' '},  {0x2006, ' '},  {0x2007, ' '}, {0x2008, ' '},
    {0x2009, ' '},  {0x200A, ' '}, {0x2010, '-'},  {0x2011, '-'},  {0x2012, '-'}, {0x2015, '-'},
    {0x201B, '\''}, {0x201F, '"'}, {0x2032, '\''}, {0x2033, '"'},  {0x2044, '/'}, {0x202F, ' '},
    {0x205F, ' '},  {0x2212, '-'}, {0x2215, '/'},  {0x2216, '\\'}, {0x2217, '*'}, {0x2223, '|'},
    {0x223C, '~'},  {0x3000, ' '},
};

char EncodeChar(char32_t c) {
    if (c < 0x80) {
        return static_cast<char>(c);
    }
    for (int i = 0; i < 128; ++i) {
        if (kHighCodes[i] == c && c != 0xFFFD) {
            return static_cast<char>(0x80 + i);
        }
    }
    if (c >= kLatinFitFirst && c < kLatinFitEnd && kLatinFit[c - kLatinFitFirst] != '?') {
        return kLatinFit[c - kLatinFitFirst];
    }
    for (const SymbolFit& s : kSymbolFits) {
        if (s.code == c) {
            return s.fit;
        }
    }
    return '?';
}

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at text[pos]; advances pos. Returns kInvalid for a byte that
// does not start a well-formed sequence (overlong, surrogate, beyond U+10FFFF, cut short);
// then pos has moved past that one byte only.
char32_t DecodeUtf8(const std::string& text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    int length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        ++pos;
        return kInvalid;
    }
    if (pos + length > text.size()) {
        ++pos;
        return kInvalid;
    }
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return kInvalid;
        }
        code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        ++pos;
        return kInvalid;
    }
    pos += length;
    return code;
}

void AppendUtf8(char32_t c, std::string& out) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = 0xFFFD;
    }
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string Utf8ToCp1251(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t c = DecodeUtf8(utf8, pos);
        out += c == kInvalid ? '?' : EncodeChar(c);
    }
    return out;
}

std::string Cp1251ToUtf8(const std::string& cp1251) {
    std::string out;
    out.reserve(cp1251.size() * 2);
    for (char ch : cp1251) {
        const auto b = static_cast<unsigned char>(ch);
        AppendUtf8(b < 0x80 ? char32_t{b} : kHighCodes[b - 0x80], out);
    }
    return out;
}

std::string WideToUtf8(const std::wstring& wide) {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char32_t>(static_cast<uint32_t>(wide[i]));
        if constexpr (sizeof(wchar_t) == 2) {
            // UTF-16: a surrogate pair is one character; a lone surrogate is none.
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() &&
                static_cast<uint32_t>(wide[i + 1]) >= 0xDC00 &&
                static_cast<uint32_t>(wide[i + 1]) <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(wide[i + 1]) - 0xDC00);
                ++i;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                c = 0xFFFD;
            }
        }
        AppendUtf8(c, out);
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t c = DecodeUtf8(utf8, pos);
        const char32_t code = c == kInvalid ? 0xFFFD : c;
        if (sizeof(wchar_t) == 2 && code > 0xFFFF) {
            out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(code);
        }
    }
    return out;
}
