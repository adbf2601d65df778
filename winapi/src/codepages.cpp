// Windows code pages 1251, 866, 20866 (KOI8-R) and 28595 (ISO-8859-5) and
// UTF-8, converted to and from UTF-16 code units held in WCHAR.
//
// The tables give the Unicode character of each byte 0x80..0xFF; bytes below
// 0x80 are ASCII in all four. Windows-1251's table is the project's one
// (cp1251_table.h), which the programs' compile-time texts use too.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "cp1251_table.h"
#include "text_conversion.h"

namespace winapi_internal {
namespace {

constexpr UINT kCpKoi8r = 20866;
constexpr UINT kCpIso88595 = 28595;

using HighHalf = std::uint16_t[128];

constexpr HighHalf kCp866 = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // 80
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // 88
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // 90
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // 98
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // A0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // E0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // E8
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,  // F8
};

constexpr HighHalf kKoi8r = {
    0x2500, 0x2502, 0x250C, 0x2510, 0x2514, 0x2518, 0x251C, 0x2524,  // 80
    0x252C, 0x2534, 0x253C, 0x2580, 0x2584, 0x2588, 0x258C, 0x2590,  // 88
    0x2591, 0x2592, 0x2593, 0x2320, 0x25A0, 0x2219, 0x221A, 0x2248,  // 90
    0x2264, 0x2265, 0x00A0, 0x2321, 0x00B0, 0x00B2, 0x00B7, 0x00F7,  // 98
    0x2550, 0x2551, 0x2552, 0x0451, 0x2553, 0x2554, 0x2555, 0x2556,  // A0
    0x2557, 0x2558, 0x2559, 0x255A, 0x255B, 0x255C, 0x255D, 0x255E,  // A8
    0x255F, 0x2560, 0x2561, 0x0401, 0x2562, 0x2563, 0x2564, 0x2565,  // B0
    0x2566, 0x2567, 0x2568, 0x2569, 0x256A, 0x256B, 0x256C, 0x00A9,  // B8
    0x044E, 0x0430, 0x0431, 0x0446, 0x0434, 0x0435, 0x0444, 0x0433,  // C0
    0x0445, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E,  // C8
    0x043F, 0x044F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0436, 0x0432,  // D0
    0x044C, 0x044B, 0x0437, 0x0448, 0x044D, 0x0449, 0x0447, 0x044A,  // D8
    0x042E, 0x0410, 0x0411, 0x0426, 0x0414, 0x0415, 0x0424, 0x0413,  // E0
    0x0425, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E,  // E8
    0x041F, 0x042F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0416, 0x0412,  // F0
    0x042C, 0x042B, 0x0417, 0x0428, 0x042D, 0x0429, 0x0427, 0x042A,  // F8
};

constexpr HighHalf kIso88595 = {
    0x0080, 0x0081, 0x0082, 0x0083, 0x0084, 0x0085, 0x0086, 0x0087,  // 80
    0x0088, 0x0089, 0x008A, 0x008B, 0x008C, 0x008D, 0x008E, 0x008F,  // 88
    0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x0095, 0x0096, 0x0097,  // 90
    0x0098, 0x0099, 0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F,  // 98
    0x00A0, 0x0401, 0x0402, 0x0403, 0x0404, 0x0405, 0x0406, 0x0407,  // A0
    0x0408, 0x0409, 0x040A, 0x040B, 0x040C, 0x00AD, 0x040E, 0x040F,  // A8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // B0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // B8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // C0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // C8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // D0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // D8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // E0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // E8
    0x2116, 0x0451, 0x0452, 0x0453, 0x0454, 0x0455, 0x0456, 0x0457,  // F0
    0x0458, 0x0459, 0x045A, 0x045B, 0x045C, 0x00A7, 0x045E, 0x045F,  // F8
};

const std::uint16_t* TableOf(UINT codePage) {
    switch (codePage) {
        case CP_ACP:  // the process's ANSI code page is Windows-1251
        case 1251:
            return cp1251::kHighHalf;
        case 866:
            return kCp866;
        case kCpKoi8r:
            return kKoi8r;
        case kCpIso88595:
            return kIso88595;
        default:
            return nullptr;
    }
}

bool IsKnownCodePage(UINT codePage) {
    return codePage == CP_UTF8 || TableOf(codePage) != nullptr;
}

constexpr char32_t kReplacement = 0xFFFD;

// ---- Bytes <-> code points -------------------------------------------------------

// The length of a UTF-8 sequence from its lead byte, 0 for a byte that
// cannot start one.
std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

// Decodes UTF-8; each malformed part (bad lead, missing continuation,
// overlong form, surrogate, beyond U+10FFFF) becomes one U+FFFD.
std::u32string DecodeUtf8(std::string_view bytes) {
    std::u32string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = Utf8SequenceLength(lead);
        if (length == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        if (length == 1) {
            out += lead;
            ++i;
            continue;
        }
        char32_t codePoint = lead & (0x7F >> length);
        std::size_t k = 1;
        for (; k < length && i + k < bytes.size(); ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                break;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        const bool complete = k == length;
        const bool overlong =
            (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
        const bool invalid = (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF;
        out += complete && !overlong && !invalid ? codePoint : kReplacement;
        i += k;
    }
    return out;
}

std::u32string DecodeBytes(UINT codePage, std::string_view bytes) {
    if (codePage == CP_UTF8) {
        return DecodeUtf8(bytes);
    }
    const std::uint16_t* table = TableOf(codePage);
    std::u32string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += byte < 0x80 ? char32_t{byte} : char32_t{table[byte - 0x80]};
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// The byte of `codePoint` in a table code page, or -1 when it has none.
int ByteOf(const std::uint16_t* table, char32_t codePoint) {
    if (codePoint < 0x80) {
        return static_cast<int>(codePoint);
    }
    for (int i = 0; i < 128; ++i) {
        if (table[i] == codePoint) {
            return 0x80 + i;
        }
    }
    return -1;
}

// Encodes code points; a character the code page lacks becomes
// `defaultChar` and sets `usedDefault`.
std::string EncodeBytes(UINT codePage, std::u32string_view codePoints, char defaultChar,
                        bool& usedDefault) {
    std::string out;
    out.reserve(codePoints.size());
    if (codePage == CP_UTF8) {
        for (char32_t codePoint : codePoints) {
            const bool invalid =
                (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF;
            AppendUtf8(out, invalid ? kReplacement : codePoint);
        }
        return out;
    }
    const std::uint16_t* table = TableOf(codePage);
    for (char32_t codePoint : codePoints) {
        const int byte = ByteOf(table, codePoint);
        if (byte < 0) {
            out += defaultChar;
            usedDefault = true;
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

// ---- UTF-16 units <-> code points --------------------------------------------------

// A lone surrogate becomes U+FFFD. A value above 0xFFFF (UTF-32 in a WCHAR)
// is taken as the character it names.
std::u32string CodePointsOfUnits(const WCHAR* units, std::size_t count) {
    std::u32string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto unit = static_cast<char32_t>(units[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
            const auto low = static_cast<char32_t>(units[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out += 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                ++i;
                continue;
            }
        }
        out += unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit;
    }
    return out;
}

std::wstring UnitsOfCodePoints(std::u32string_view codePoints) {
    std::wstring out;
    out.reserve(codePoints.size());
    for (char32_t codePoint : codePoints) {
        if (codePoint >= 0x10000) {
            out += static_cast<WCHAR>(0xD800 + ((codePoint - 0x10000) >> 10));
            out += static_cast<WCHAR>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        } else {
            out += static_cast<WCHAR>(codePoint);
        }
    }
    return out;
}

// Win32's output convention: a zero size asks for the size needed; a buffer
// too small gets nothing and ERROR_INSUFFICIENT_BUFFER.
template <typename Char>
int CopyOut(const std::basic_string<Char>& result, Char* buffer, int capacity) {
    const int size = static_cast<int>(result.size());
    if (capacity == 0) {
        return size;
    }
    if (size > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, result.data(), result.size() * sizeof(Char));
    return size;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view text) {
    bool usedDefault = false;
    return EncodeBytes(CP_UTF8, DecodeBytes(1251, text), '?', usedDefault);
}

std::string Utf8ToCp1251(std::string_view text) {
    bool usedDefault = false;
    return EncodeBytes(1251, DecodeUtf8(text), '?', usedDefault);
}

std::string ConvertText(std::string_view text, UINT fromCodePage, UINT toCodePage) {
    bool usedDefault = false;
    return EncodeBytes(toCodePage, DecodeBytes(fromCodePage, text), '?', usedDefault);
}

}  // namespace winapi_internal

using namespace winapi_internal;

int MultiByteToWideChar(UINT CodePage, DWORD, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (!IsKnownCodePage(CodePage) || lpMultiByteStr == nullptr || cbMultiByte == 0 ||
        cbMultiByte < -1 || cchWideChar < 0 || (cchWideChar > 0 && lpWideCharStr == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the text is zero-terminated and the terminator is converted too.
    const std::size_t length =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    const std::wstring units = UnitsOfCodePoints(DecodeBytes(CodePage, {lpMultiByteStr, length}));
    return CopyOut(units, lpWideCharStr, cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
    const bool utf8 = CodePage == CP_UTF8;
    if (!IsKnownCodePage(CodePage) || lpWideCharStr == nullptr || cchWideChar == 0 ||
        cchWideChar < -1 || cbMultiByte < 0 || (cbMultiByte > 0 && lpMultiByteStr == nullptr) ||
        (utf8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t length = static_cast<std::size_t>(cchWideChar);
    if (cchWideChar == -1) {
        length = 0;
        while (lpWideCharStr[length] != 0) {
            ++length;
        }
        ++length;
    }
    bool usedDefault = false;
    const char defaultChar = lpDefaultChar != nullptr ? lpDefaultChar[0] : '?';
    const std::string bytes =
        EncodeBytes(CodePage, CodePointsOfUnits(lpWideCharStr, length), defaultChar, usedDefault);
    if (lpUsedDefaultChar != nullptr) {
        *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    }
    return CopyOut(bytes, lpMultiByteStr, cbMultiByte);
}
