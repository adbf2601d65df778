// CommandLineWords over arbitrary command lines: the words of a line, written
// back into a command line the way the Linux layer rebuilds one from argv,
// split into the same words again; CommandLineWord agrees with them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "command_line_unit.h"
#include "fuzz_check.h"

namespace {

bool NeedsQuotes(const std::string& word) {
    for (const char c : word) {
        if (static_cast<unsigned char>(c) <= 32) {
            return true;
        }
    }
    return false;
}

// The words joined by `separator`, each quoted when it holds a character of
// code 32 or less, or always when `quoteAll`. An empty word can only be the
// last one (a lone quote at the end of the line) and is written that way:
// an empty pair of quotes would be passed over as no word at all.
std::string Rebuild(const std::vector<std::string>& words, std::string_view separator,
                    bool quoteAll) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) {
            line += separator;
        }
        if (word.empty()) {
            line += '"';
        } else if (quoteAll || NeedsQuotes(word)) {
            line += '"' + word + '"';
        } else {
            line += word;
        }
    }
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> words = CommandLineWords(line);

    for (std::size_t i = 0; i < words.size(); ++i) {
        Require(words[i].find('"') == std::string::npos, "a word holds no double quote");
        Require(words[i].find('\0') == std::string::npos, "a word holds no zero byte");
        Require(!words[i].empty() || i + 1 == words.size(), "only the last word can be empty");
    }
    // CommandLineWord splits the whole line each time: a few indexes suffice.
    for (std::size_t i = 0; i < words.size() && i < 4; ++i) {
        Require(CommandLineWord(line, static_cast<int>(i)) == words[i],
                "CommandLineWord gives word i");
    }
    if (!words.empty()) {
        Require(CommandLineWord(line, static_cast<int>(words.size() - 1)) == words.back(),
                "CommandLineWord gives the last word");
    }
    Require(CommandLineWord(line, static_cast<int>(words.size())).empty(),
            "a missing word is empty text");
    Require(CommandLineWord(line, -1).empty(), "a negative index gives empty text");

    Require(CommandLineWords(Rebuild(words, " ", false)) == words,
            "a rebuilt command line splits into the same words");
    Require(CommandLineWords(Rebuild(words, "\t\x01 ", true)) == words,
            "fully quoted words split back the same");
    return 0;
}
