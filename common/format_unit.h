// The text formatter behind every printed line and every child command line.
//
// Directives: %s (text), %d (signed 32-bit), %2d %7d %25d (right-aligned,
// blank-filled, never cut), %f (fixed, two decimals, rounded to nearest) and
// %g (general, at most 15 significant digits, no exponent for the system's
// values); both use the locale's decimal separator. Every other character is
// copied. Texts are Windows-1251 bytes and pass through unchanged.
//
// Never fails: a directive whose value is missing or of the wrong type (%d
// takes std::int32_t, %f and %g double, %s text) is written literally, and
// a wrong-typed value is still used up. A width works on every directive and
// is capped at 255. %f rounds the exact binary value to the nearest (an exact
// tie goes to the even digit) and writes a negative value that rounds to zero
// without its sign: -0.001 gives 0.00.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

using FormatValue = std::variant<std::int32_t, double, std::string_view>;

std::string FormatText(std::string_view format, std::initializer_list<FormatValue> values = {});
