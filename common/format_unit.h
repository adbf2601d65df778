// The text formatter behind every printed line and every child command line.
//
// Directives: %s (text), %d (signed 32-bit), %2d %7d %25d (right-aligned,
// blank-filled, never cut), %f (fixed, two decimals, rounded to nearest) and
// %g (general, at most 15 significant digits, no exponent for the system's
// values); both use the locale's decimal separator. Every other character is
// copied. Texts are Windows-1251 bytes and pass through unchanged.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

using FormatValue = std::variant<std::int32_t, double, std::string_view>;

std::string FormatText(std::string_view format, std::initializer_list<FormatValue> values = {});
