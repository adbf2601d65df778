// Windows code pages 1251, 866, 20866 (KOI8-R) and 28595 (ISO-8859-5) and
// UTF-8, converted to and from UTF-16 code units held in WCHAR.
// The byte tables are in codepage_tables.h.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "codepage_tables.h"
#include "text_conversion.h"

namespace winapi_internal {
namespace {

using code_page_tables::TableOf;

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
