// Reading printed text back against what printed it: a line against the
// FormatText format it came from, a time stamp against TimeText's form. The
// constant parts of a format must match exactly; the texts and numbers of
// its directives are read out. One pass over the line, whatever its length,
// and nothing of it is copied.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The most directive values MatchFormat keeps; later ones are matched only.
inline constexpr std::size_t kMostFormatFields = 4;

// What the directives of a format read from a line, in order, as they stand
// in it (a %2d with its blanks).
struct FormatFields {
    std::array<std::string_view, kMostFormatFields> values;
    std::size_t count = 0;
};

// True when `text` is a line of `format`; with `restAllowed`, a line that
// begins with one. %s takes the text up to the first place the constant
// part after it appears, or, at the end of the format, up to the place that
// part ends the line. %d (any width) takes blanks, a sign and digits; %f and
// %g also a fraction with either decimal separator, %g an exponent.
bool MatchFormat(std::string_view format, std::string_view text, FormatFields& fields,
                 bool restAllowed = false);

// True when `text` begins with a time stamp "h:mm:ss.zzz" (or "hh:..."; the
// separator is any one character but a blank, used twice, as the locale
// gave it). Its time of day in ms goes to `millisOfDay`, its length to
// `length`.
bool MatchTimeStamp(std::string_view text, std::int64_t& millisOfDay, std::size_t& length);
