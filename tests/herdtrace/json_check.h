// A strict reader of JSON (RFC 8259) for the tests of herdtrace's trace
// file: what it accepts, a trace viewer's parser accepts too. Raw control
// characters and bytes that are not UTF-8 are refused, as browsers'
// JSON.parse on a decoded file would meet them.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace json_check {

struct Value {
    enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Value> items;       // an array's, or an object's values
    std::vector<std::string> keys;  // an object's keys, one per value

    const Value* Find(const std::string& key) const {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == key) {
                return &items[i];
            }
        }
        return nullptr;
    }
    std::string Text(const std::string& key) const {
        const Value* value = Find(key);
        return value != nullptr && value->kind == Kind::kString ? value->text : "";
    }
    double Number(const std::string& key) const {
        const Value* value = Find(key);
        return value != nullptr && value->kind == Kind::kNumber ? value->number : -1;
    }
};

struct Reader {
    const std::string& in;
    std::size_t at = 0;

    void Blanks() {
        while (at < in.size() &&
               (in[at] == ' ' || in[at] == '\n' || in[at] == '\r' || in[at] == '\t')) {
            ++at;
        }
    }
    bool Take(char c) {
        Blanks();
        if (at < in.size() && in[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    static void AppendUtf8(std::string& out, unsigned long code) {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }
    bool Hex4(unsigned long& code) {
        if (at + 4 > in.size()) {
            return false;
        }
        const std::string digits = in.substr(at, 4);
        char* end = nullptr;
        code = std::strtoul(digits.c_str(), &end, 16);
        at += 4;
        return end == digits.c_str() + 4;
    }
    // One raw UTF-8 character, checked.
    bool RawCharacter(std::string& out) {
        const auto lead = static_cast<unsigned char>(in[at]);
        const std::size_t length = lead < 0x80                    ? 1
                                   : lead >= 0xC2 && lead <= 0xDF ? 2
                                   : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                  : 0;
        if (length == 0 || at + length > in.size() || lead < 0x20) {
            return false;
        }
        unsigned long code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(in[at + i]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        const unsigned long least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            return false;
        }
        out.append(in, at, length);
        at += length;
        return true;
    }
    bool Escape(std::string& out) {
        const char c = in[at++];
        const std::string simple = "\"\\/bfnrt";
        const std::string meant = "\"\\/\b\f\n\r\t";
        if (simple.find(c) != std::string::npos) {
            out += meant[simple.find(c)];
            return true;
        }
        unsigned long code = 0;
        if (c != 'u' || !Hex4(code)) {
            return false;
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned long low = 0;
            if (!Take('\\') || !Take('u') || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        AppendUtf8(out, code);
        return true;
    }
    bool String(std::string& out) {
        if (!Take('"')) {
            return false;
        }
        while (at < in.size() && in[at] != '"') {
            if (in[at] == '\\') {
                ++at;
                if (at >= in.size() || !Escape(out)) {
                    return false;
                }
            } else if (!RawCharacter(out)) {
                return false;
            }
        }
        return at++ < in.size();
    }
    bool Number(double& out) {
        const std::size_t from = at;
        const std::string allowed = "+-0123456789.eE";
        while (at < in.size() && allowed.find(in[at]) != std::string::npos) {
            ++at;
        }
        const std::string digits = in.substr(from, at - from);
        char* end = nullptr;
        out = std::strtod(digits.c_str(), &end);
        return !digits.empty() && end == digits.c_str() + digits.size() && digits[0] != '+';
    }
    bool Word(const char* word) {
        const std::string w = word;
        if (in.compare(at, w.size(), w) != 0) {
            return false;
        }
        at += w.size();
        return true;
    }
    bool Items(Value& out) {
        if (Take(']')) {
            return true;
        }
        do {
            out.items.emplace_back();
            if (!Parse(out.items.back())) {
                return false;
            }
        } while (Take(','));
        return Take(']');
    }
    bool Members(Value& out) {
        if (Take('}')) {
            return true;
        }
        do {
            std::string key;
            Blanks();
            if (!String(key) || !Take(':')) {
                return false;
            }
            out.keys.push_back(key);
            out.items.emplace_back();
            if (!Parse(out.items.back())) {
                return false;
            }
        } while (Take(','));
        return Take('}');
    }
    bool Parse(Value& out) {
        Blanks();
        if (at >= in.size()) {
            return false;
        }
        using Kind = Value::Kind;
        switch (in[at]) {
            case '{':
                ++at;
                out.kind = Kind::kObject;
                return Members(out);
            case '[':
                ++at;
                out.kind = Kind::kArray;
                return Items(out);
            case '"':
                out.kind = Kind::kString;
                return String(out.text);
            case 't':
            case 'f':
                out.kind = Kind::kBool;
                out.boolean = in[at] == 't';
                return Word(out.boolean ? "true" : "false");
            case 'n':
                return Word("null");
            default:
                out.kind = Kind::kNumber;
                return Number(out.number);
        }
    }
};

// True when `text` is one JSON value and nothing else; `at` tells where
// reading stopped otherwise.
inline bool Parse(const std::string& text, Value& value, std::size_t& at) {
    Reader reader{text};
    const bool read = reader.Parse(value);
    reader.Blanks();
    at = reader.at;
    return read && reader.at == text.size();
}

}  // namespace json_check
