// Windows-1251 text from UTF-8 source literals, converted at compile time.
//
// The sources are UTF-8 and stay readable; at run time every text of the
// system is held in Windows-1251, so that lengths and limits count characters:
//
//     constexpr std::string_view greeting = "%s - Начало работы"_cp1251;
//
// A character that Windows-1251 lacks, or malformed UTF-8, is a compile error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace cp1251 {

// Unicode code points of the bytes 0x80..0xFF; 0 marks the one unused byte.
inline constexpr std::uint16_t kHighHalf[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0: А..
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  //
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  //
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // ..Я
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0: а..
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  //
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  //
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // ..я
};

// The Windows-1251 byte of a Unicode code point, or -1 when it has none.
constexpr int ByteOf(std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        return static_cast<int>(codePoint);
    }
    if (codePoint >= 0x0410 && codePoint <= 0x044F) {  // the Russian alphabet, ё aside
        return static_cast<int>(codePoint - 0x0410 + 0xC0);
    }
    for (int i = 0; i < 0x40; ++i) {  // the rest lies in 0x80..0xBF
        if (kHighHalf[i] == codePoint) {
            return 0x80 + i;
        }
    }
    return -1;
}

// The Unicode code point of a Windows-1251 byte, or 0 for the unused 0x98.
constexpr std::uint32_t CodePointOf(unsigned char byte) {
    return byte < 0x80 ? byte : kHighHalf[byte - 0x80];
}

template <std::size_t Capacity>
struct Converted {
    char bytes[Capacity + 1]{};  // zero-terminated, for the platform's "A" calls
    std::size_t length = 0;
    bool ok = true;  // false: malformed UTF-8 or a character without a byte

    constexpr std::string_view view() const { return {bytes, length}; }
};

// Converts UTF-8 to Windows-1251. The result never needs more bytes than the
// UTF-8 text has.
template <std::size_t Capacity>
constexpr Converted<Capacity> FromUtf8(std::string_view utf8) {
    Converted<Capacity> out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::uint32_t codePoint = 0;
        std::size_t extra = 0;
        if (lead < 0x80) {
            codePoint = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            codePoint = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            codePoint = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            codePoint = lead & 0x07;
            extra = 3;
        } else {
            out.ok = false;
            return out;
        }
        if (extra > utf8.size() - i - 1) {  // the text ends inside a character
            out.ok = false;
            return out;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) {
                out.ok = false;
                return out;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        i += extra + 1;
        const int byte = ByteOf(codePoint);
        if (byte < 0 || out.length >= Capacity) {
            out.ok = false;
            return out;
        }
        out.bytes[out.length++] = static_cast<char>(byte);
    }
    return out;
}

// A string literal as a template argument, for the literal operator below.
template <std::size_t N>
struct Utf8Literal {
    char chars[N]{};
    consteval Utf8Literal(const char (&text)[N]) {
        for (std::size_t i = 0; i < N; ++i) {
            chars[i] = text[i];
        }
    }
    constexpr std::string_view view() const { return {chars, N - 1}; }
};

// One converted literal, stored once for the whole program.
template <Utf8Literal Text>
struct Literal {
    static constexpr Converted<sizeof(Text.chars)> value = [] {
        constexpr auto converted = FromUtf8<sizeof(Text.chars)>(Text.view());
        static_assert(converted.ok, "text has a character that Windows-1251 lacks");
        return converted;
    }();
};

}  // namespace cp1251

// "Текст"_cp1251: the literal's Windows-1251 bytes, zero-terminated in storage.
template <cp1251::Utf8Literal Text>
constexpr std::string_view operator""_cp1251() {
    return cp1251::Literal<Text>::value.view();
}
