// Numbers written as text: the integer rules shared by console input and
// command-line arguments, and the conversions of the children's arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The integer rules: leading blanks (code 32), an optional sign, then decimal
// digits (a leading 0 stays decimal) or a hexadecimal number after "$", "x",
// "X", "0x" or "0X" taken as 32 bits; nothing may follow. Decimal values must
// fit in signed 32 bits.
enum class IntegerRules {
    kSignBeforeHexAllowed,   // -$10 gives -16
    kSignBeforeHexRejected,  // the herd launcher's variant: -$10 fails
};

// The value, or nothing when the text breaks the rules.
std::optional<std::int32_t> ParseInteger(std::string_view text,
                                         IntegerRules rules = IntegerRules::kSignBeforeHexAllowed);

// The whole text by the integer rules; raises EConvertError
// "'<text>' is not a valid integer value".
std::int32_t TextToInteger(std::string_view text);

// A setting of the environment (HERDLAB_UNIT_MS, HERDLAB_CPUS): decimal
// digits only, no sign or blanks, value 1..highest. Anything else, null and
// empty text included, gives 0: the setting is taken as not set.
std::int32_t ParseSettingNumber(const char* text, std::int32_t highest);

// Blanks (code 32), an optional sign, digits, optionally the locale's decimal
// separator and digits, optionally an exponent ("e" or "E", an optional sign,
// at least one digit), blanks; at least one digit or the separator (a lone
// separator reads as 0). Only the locale's separator is accepted. A value
// beyond the range of double, too large or too small to be held, fails too.
// Raises EConvertError "'<text>' is not a valid floating point value".
double TextToFloat(std::string_view text);
