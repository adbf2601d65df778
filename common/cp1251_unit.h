// Windows-1251 text from UTF-8 source literals, converted at compile time.
//
// The sources are UTF-8 and stay readable; at run time every text of the
// system is held in Windows-1251, so that lengths and limits count characters:
//
//     constexpr std::string_view greeting = "%s - Начало работы"_cp1251;
//
// A character that Windows-1251 lacks, or malformed UTF-8, is a compile error.
// The table itself is the project's one Windows-1251 table (cp1251_table.h),
// shared with the Linux layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cp1251_table.h"

namespace cp1251 {

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
