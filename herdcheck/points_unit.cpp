// Reading the teacher's points file and adding up points.
#include "points_unit.h"

#include <cstdint>

#include "cp1251_unit.h"
#include "format_unit.h"

namespace {

constexpr int kMostHundredthsOfACheck = 1000 * 100;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "2", "0.5", "1,25": hundredths, or -1 when the text is no such number.
int HundredthsOf(std::string_view text) {
    int whole = 0;
    std::size_t at = 0;
    for (; at < text.size() && IsDigit(text[at]) && at < 5; ++at) {
        whole = whole * 10 + (text[at] - '0');
    }
    if (at == 0) {
        return -1;
    }
    int fraction = 0;
    int digits = 0;
    if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
        for (++at; at < text.size() && IsDigit(text[at]) && digits < 2; ++at, ++digits) {
            fraction = fraction * 10 + (text[at] - '0');
        }
        if (digits == 0) {
            return -1;
        }
    }
    const int hundredths = whole * 100 + (digits == 1 ? fraction * 10 : fraction);
    return at == text.size() && hundredths <= kMostHundredthsOfACheck ? hundredths : -1;
}

// The key as an error names it: at most 32 bytes, control bytes (a
// terminal's escapes among them) shown as '?', since the file may hold
// anything.
std::string ShownKey(std::string_view key) {
    constexpr std::size_t kMostShown = 32;
    std::string shown;
    for (const char c : key.substr(0, kMostShown)) {
        const auto byte = static_cast<unsigned char>(c);
        shown += byte < 0x20 || byte == 0x7F ? '?' : c;
    }
    return key.size() > kMostShown ? shown + "..." : shown;
}

int CheckOfKey(std::string_view key) {
    for (int check = 0; check < kCheckCount; ++check) {
        if (CheckKey(static_cast<Check>(check)) == key) {
            return check;
        }
    }
    return -1;
}

// One line that is neither blank nor a comment; empty text when it is right.
std::string ReadPointsLine(std::string_view line, bool (&named)[kCheckCount], CheckPoints& points) {
    std::size_t keyEnd = 0;
    while (keyEnd < line.size() && !IsBlank(line[keyEnd])) {
        ++keyEnd;
    }
    const std::string_view key = line.substr(0, keyEnd);
    const std::string_view number = Trimmed(line.substr(keyEnd));
    const int check = CheckOfKey(key);
    if (check < 0) {
        return FormatText("неизвестная проверка «%s»"_cp1251, {std::string_view(ShownKey(key))});
    }
    if (named[check]) {
        return FormatText("проверка «%s» названа второй раз"_cp1251, {key});
    }
    const int hundredths = HundredthsOf(number);
    if (hundredths < 0) {
        return FormatText("после «%s» нужно число баллов от 0 до 1000, например 2 или 0.5"_cp1251,
                          {key});
    }
    named[check] = true;
    points.hundredths[check] = hundredths;
    return {};
}

}  // namespace

std::string ReadCheckPoints(std::string_view text, CheckPoints& points) {
    if (text.starts_with(kUtf8Mark)) {
        text.remove_prefix(kUtf8Mark.size());
    }
    bool named[kCheckCount] = {};
    std::int32_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::string error = ReadPointsLine(line, named, points);
        if (!error.empty()) {
            return FormatText("строка %d: %s"_cp1251, {lineNumber, std::string_view(error)});
        }
    }
    return {};
}

std::string PointsNumber(int hundredths) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
    // "literal" + std::string temporaries in optimised builds.
    std::string number = std::to_string(hundredths / 100);
    const int fraction = hundredths % 100;
    if (fraction != 0) {
        number += fraction < 10 ? ".0" : ".";
        number += std::to_string(fraction % 10 == 0 ? fraction / 10 : fraction);
    }
    return number;
}

int EarnedHundredths(const CheckResult (&results)[kCheckCount], const CheckPoints& points) {
    int earned = 0;
    for (int check = 0; check < kCheckCount; ++check) {
        earned += results[check].verdict == Verdict::kPassed ? points.hundredths[check] : 0;
    }
    return earned;
}

int MostHundredths(const CheckPoints& points) {
    int most = 0;
    for (int hundredths : points.hundredths) {
        most += hundredths;
    }
    return most;
}
