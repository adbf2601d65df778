// Code pages, UTF-8 and the class words. The conversions go through the
// platform's MultiByteToWideChar and WideCharToMultiByte (on Linux the
// layer's), so the tools use the same Windows-1251 table as the programs.
#include <climits>
#include <vector>

#include "herdlab_toolkit.h"
#include "priority_unit.h"
#include "win32.h"

namespace herdlab_toolkit {

namespace {

// The calls count in int; longer texts go in pieces of this many bytes.
constexpr std::size_t kPiece = 1 << 20;

// UTF-16 units of UTF-8 or an 8-bit code page's text.
std::vector<WCHAR> WideOf(std::string_view bytes, unsigned codePage) {
    std::vector<WCHAR> wide(bytes.size());
    const int units = MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), wide.data(),
                                          int(wide.size()));
    wide.resize(units > 0 ? std::size_t(units) : 0);
    return wide;
}

void AppendNarrow(std::string& out, const std::vector<WCHAR>& wide, unsigned codePage) {
    if (wide.empty()) {
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + wide.size() * 3);
    // UTF-8 takes no default character; Windows-1251 gets '?' for what it lacks.
    const int bytes =
        WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), out.data() + at,
                            int(wide.size() * 3), codePage == CP_UTF8 ? nullptr : "?", nullptr);
    out.resize(at + (bytes > 0 ? std::size_t(bytes) : 0));
}

// A piece of UTF-8 that ends at a character's start, so no sequence is cut.
std::size_t Utf8PieceEnd(std::string_view utf8, std::size_t start) {
    std::size_t end = std::min(utf8.size(), start + kPiece);
    while (end < utf8.size() && end > start + 1 &&
           (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) {
        --end;
    }
    return end;
}

// The length of a sequence that starts with `lead`, 0 for a byte none starts with.
std::size_t LengthOfLead(unsigned char lead) {
    return lead < 0x80                    ? 1
           : lead >= 0xC2 && lead <= 0xDF ? 2
           : lead >= 0xE0 && lead <= 0xEF ? 3
           : lead >= 0xF0 && lead <= 0xF4 ? 4
                                          : 0;
}

// How many bytes of `sequence` (lead byte first) may stand where they are.
// The second byte's range rules out overlong forms, surrogates and code
// points beyond U+10FFFF.
std::size_t FittingBytes(std::string_view sequence) {
    const auto lead = static_cast<unsigned char>(sequence[0]);
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    std::size_t fitting = 1;
    for (; fitting < sequence.size(); ++fitting) {
        const auto byte = static_cast<unsigned char>(sequence[fitting]);
        if (fitting == 1 ? byte < low || byte > high : (byte & 0xC0) != 0x80) {
            break;
        }
    }
    return fitting;
}

}  // namespace

std::string Utf8FromCodePage(std::string_view bytes, unsigned codePage) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        AppendNarrow(out, WideOf(bytes.substr(at, kPiece), codePage), CP_UTF8);
    }
    return out;
}

std::string Utf8FromCp1251(std::string_view cp1251Text) {
    return Utf8FromCodePage(cp1251Text, kCodePage1251);
}

std::string Cp1251FromUtf8(std::string_view utf8) {
    std::string out;
    for (std::size_t at = 0; at < utf8.size();) {
        const std::size_t end = Utf8PieceEnd(utf8, at);
        AppendNarrow(out, WideOf(utf8.substr(at, end - at), CP_UTF8), kCodePage1251);
        at = end;
    }
    return out;
}

std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t at) {
    const std::size_t length = LengthOfLead(static_cast<unsigned char>(bytes[at]));
    return length != 0 && length <= bytes.size() - at &&
                   FittingBytes(bytes.substr(at, length)) == length
               ? length
               : 0;
}

bool IsUtf8(std::string_view bytes, bool cutEndAllowed) {
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(bytes, at);
        if (length == 0) {
            // Cut by the end: a lead byte and only fitting bytes after it.
            const std::string_view rest = bytes.substr(at);
            return cutEndAllowed &&
                   rest.size() < LengthOfLead(static_cast<unsigned char>(rest[0])) &&
                   FittingBytes(rest) == rest.size();
        }
        at += length;
    }
    return true;
}

TextEncoding GuessEncoding(std::string_view bytes) {
    if (IsUtf8(bytes, true)) {
        return TextEncoding::kUtf8;
    }
    // Russian text is mostly small letters: Windows-1251 keeps them at
    // 0xE0..0xFF, code page 866 at 0xA0..0xAF and 0xE0..0xEF. Capitals lie
    // at 0xC0..0xDF and 0x80..0x9F respectively.
    long cp866 = 0;
    long cp1251 = 0;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 && byte <= 0xAF) {
            ++cp866;
        } else if ((byte >= 0xC0 && byte <= 0xDF) || byte >= 0xF0) {
            ++cp1251;
        }
    }
    return cp866 > cp1251 ? TextEncoding::kCp866 : TextEncoding::kWindows1251;
}

std::string ToUtf8(std::string_view bytes, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::kUtf8:
            return std::string(bytes);
        case TextEncoding::kCp866:
            return Utf8FromCodePage(bytes, kCodePage866);
        case TextEncoding::kWindows1251:
            break;
    }
    return Utf8FromCp1251(bytes);
}

std::string_view ClassWord(int index) {
    static const auto words = [] {
        std::vector<std::string> converted;
        for (const std::string_view name : kPriorityNames) {
            converted.push_back(Utf8FromCp1251(name));
        }
        return converted;
    }();
    return index >= 0 && index < kClassCount ? std::string_view(words[std::size_t(index)])
                                             : std::string_view();
}

int ClassIndexOfWord(std::string_view utf8) {
    for (int i = 0; i < kClassCount; ++i) {
        if (utf8 == ClassWord(i)) {
            return i;
        }
    }
    return -1;
}

}  // namespace herdlab_toolkit
