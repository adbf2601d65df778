// The integer rules written out plainly, apart from the parser they check:
// the fuzz targets compare ParseInteger, TextToInteger and ReadInteger with it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace reference {

inline bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

inline bool IsHexDigit(char c) {
    return IsDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

inline std::string_view WithoutLeadingZeros(std::string_view digits) {
    const std::size_t first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view{} : digits.substr(first);
}

// Blanks (code 32 only), an optional sign, then decimal digits in the signed
// 32-bit range, or a hexadecimal prefix and digits that fit in 32 bits, taken
// as 32 bits and negated by a minus; nothing may follow.
inline std::optional<std::int32_t> Integer(std::string_view text, bool signBeforeHexAllowed) {
    std::string_view rest = text.substr(std::min(text.find_first_not_of(' '), text.size()));
    char sign = 0;
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        sign = rest[0];
        rest.remove_prefix(1);
    }
    bool hex = false;
    std::string_view digits = rest;
    for (const std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (rest.starts_with(prefix)) {
            hex = true;
            digits = rest.substr(prefix.size());
            break;
        }
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    const std::string_view significant = WithoutLeadingZeros(digits);
    if (hex) {
        if (sign != 0 && !signBeforeHexAllowed) {
            return std::nullopt;
        }
        for (const char c : digits) {
            if (!IsHexDigit(c)) {
                return std::nullopt;
            }
        }
        if (significant.size() > 8) {
            return std::nullopt;
        }
        const auto bits = static_cast<std::uint32_t>(
            significant.empty() ? 0 : std::stoul(std::string(significant), nullptr, 16));
        return static_cast<std::int32_t>(sign == '-' ? 0u - bits : bits);
    }
    for (const char c : digits) {
        if (!IsDecimalDigit(c)) {
            return std::nullopt;
        }
    }
    if (significant.size() > 10) {
        return std::nullopt;
    }
    const std::int64_t magnitude = significant.empty() ? 0 : std::stoll(std::string(significant));
    const std::int64_t value = sign == '-' ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace reference
