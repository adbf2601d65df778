// The compile-time UTF-8 to Windows-1251 conversion behind every text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cp1251_unit.h"

namespace {

TEST(Cp1251, RussianAlphabetMapsToItsBytes) {
    constexpr std::string_view upper = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"_cp1251;
    constexpr std::string_view lower = "абвгдежзийклмнопрстуфхцчшщъыьэюя"_cp1251;
    ASSERT_EQ(upper.size(), 32u);
    ASSERT_EQ(lower.size(), 32u);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(static_cast<unsigned char>(upper[i]), 0xC0 + i) << i;
        EXPECT_EQ(static_cast<unsigned char>(lower[i]), 0xE0 + i) << i;
    }
    EXPECT_EQ("Ёё№"_cp1251, "\xA8\xB8\xB9");
    EXPECT_EQ("Слон 7 - ok"_cp1251, "\xD1\xEB\xEE\xED 7 - ok");
}

TEST(Cp1251, RejectsCharactersWithoutAByteAndMalformedUtf8) {
    EXPECT_FALSE(cp1251::FromUtf8<16>("☃").ok);
    EXPECT_FALSE(cp1251::FromUtf8<16>("Ǆ").ok);
    EXPECT_FALSE(cp1251::FromUtf8<16>("\xD0").ok);      // cut inside a character
    EXPECT_FALSE(cp1251::FromUtf8<16>("\xD0\x41").ok);  // bad continuation byte
    EXPECT_FALSE(cp1251::FromUtf8<16>("\x98").ok);      // a lone continuation byte
    EXPECT_TRUE(cp1251::FromUtf8<16>("€").ok);
}

// Every byte has one character and comes back from it; every character the
// code page has comes back to its byte, the unused byte 0x98 included.
TEST(Cp1251, AllBytesAndTheirCharactersRoundTrip) {
    for (int byte = 0; byte < 256; ++byte) {
        const std::uint32_t codePoint = cp1251::CodePointOf(static_cast<unsigned char>(byte));
        EXPECT_EQ(cp1251::ByteOf(codePoint), byte) << byte;
    }
    int mapped = 0;
    for (std::uint32_t codePoint = 0; codePoint <= 0xFFFF; ++codePoint) {
        const int byte = cp1251::ByteOf(codePoint);
        if (byte >= 0) {
            EXPECT_EQ(cp1251::CodePointOf(static_cast<unsigned char>(byte)), codePoint)
                << codePoint;
            ++mapped;
        }
    }
    EXPECT_EQ(mapped, 256);
    EXPECT_EQ("\u0098"_cp1251, "\x98");
}

}  // namespace
